// The built kestrum-estimate run on survey files as a script runs it: its exit status, what it
// says on standard error, and every number it writes against what the window's own estimate
// (record, library fit, back-transform, inference) gives for the same block.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <QImage>
#include <QLocale>

#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "BlockAnalysis.h"
#include "NumberText.h"
#include "Population.h"
#include "SurveyReader.h"
#include "kestrum.h"

namespace kestrum::survey {
namespace {

namespace fs = std::filesystem;
using inference::Counts;
using inference::Limit;
using inference::LimitKind;

struct Block {
    std::string name;
    Counts counts;
    std::optional<double> sFixed;
    std::optional<double> count;
};

// Interior estimates, a quoted name, S held (at 0.8 and at 1), S and P not identifiable, S on its
// bound, limits below 0.01 and N's beyond count / 0.01.
const std::vector<Block> kGood{
    {"north", {10, 20, 5, 7}, std::nullopt, 30.0},
    {"east, upper", {30, 40, 10, 12}, std::nullopt, std::nullopt},
    {"say \"hi\"", {12, 8, 6, 9}, 0.8, 25.0},
    {"ridge", {0, 10, 0, 5}, std::nullopt, 40.0},
    {"edge", {3, 4, 5, 6}, std::nullopt, std::nullopt},
    {"closed", {5, 10, 2, 3}, 1.0, std::nullopt},
    {"few seen", {30, 0, 0, 1}, 0.5, 10.0},
    {"low", {40, 1, 1, 2}, std::nullopt, 10.0},
};

const char* const kGoodCsv = "block,n100,n111,n101,n110,s_fixed,count\n"
                             "north,10,20,5,7,,30\n"
                             "\"east, upper\",30,40,10,12,,\n"
                             "\"say \"\"hi\"\"\",12,8,6,9,0.8,25\n"
                             "ridge,0,10,0,5,,40\n"
                             "edge,3,4,5,6,,\n"
                             "closed,5,10,2,3,1,\n"
                             "few seen,30,0,0,1,0.5,10\n"
                             "low,40,1,1,2,,10\n";

// What the window gives for a block: its estimate's steps from S = P = 0.9 (or the fixed S).
BlockAnalysis window(const Block& block)
{
    EstimateInputs inputs;
    inputs.S = block.sFixed.value_or(0.9);
    inputs.P = 0.9;
    inputs.frequencies(1) = block.counts.n100;
    inputs.frequencies(2) = block.counts.n111;
    inputs.frequencies(3) = block.counts.n101;
    inputs.frequencies(4) = block.counts.n110;
    return estimateBlock(inputs, !block.sFixed, inference::Parameter::P, N_E04JYF);
}

class Scratch {
public:
    Scratch()
    {
        std::string pattern = (fs::temp_directory_path() / "kestrum-estimate-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("no scratch folder");
        }
        path_ = pattern;
    }
    ~Scratch() { fs::remove_all(path_); }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;

    fs::path file(const std::string& name, const std::string& text) const
    {
        std::ofstream(path_ / name, std::ios::binary) << text;
        return path_ / name;
    }
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

std::string slurp(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The program with arguments (and standard input from a file, if named), as a shell runs it.
Outcome estimate(const Scratch& scratch, const std::string& arguments,
             const std::optional<fs::path>& input = std::nullopt,
             const std::string& output = "")
{
    const fs::path out = output.empty() ? scratch.path() / "stdout" : fs::path(output);
    const fs::path err = scratch.path() / "stderr";
    std::string command = "cd '" + scratch.path().string() + "' && '" KESTRUM_ESTIMATE_PATH "' " +
                          arguments;
    if (input) {
        command += " < '" + input->string() + "'";
    }
    command += " > '" + out.string() + "' 2> '" + err.string() + "'";
    const int raw = std::system(command.c_str());
    Outcome run;
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    run.out = output.empty() ? slurp(out) : std::string();
    run.err = slurp(err);
    return run;
}

using Cells = std::map<std::string, std::string>;

// The output read back with the survey's CSV reader: every record as long as the header.
std::vector<Cells> csvRows(const std::string& text)
{
    StringSource source(text);
    RecordReader reader(source);
    Record header;
    Record record;
    std::vector<Cells> rows;
    if (!reader.next(header)) {
        ADD_FAILURE() << "no header";
        return rows;
    }
    while (reader.next(record)) {
        EXPECT_EQ(record.fields.size(), header.fields.size()) << "a row written half-way";
        Cells cells;
        for (std::size_t k = 0; k < header.fields.size() && k < record.fields.size(); ++k) {
            cells[header.fields[k]] = record.fields[k];
        }
        rows.push_back(cells);
    }
    return rows;
}

// A real as the program must print it: the shortest text that reads back as the same double,
// or rounded by the window's own Format pattern.
std::string printed(double value, int digits)
{
    if (digits >= 0) {
        const QString pattern = digits == 0 ? QStringLiteral("0")
                                            : QStringLiteral("0.") + QString(digits, QLatin1Char('0'));
        return text::format(value, pattern, QLocale::c()).toStdString();
    }
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

std::string printed(const Limit& limit, int digits)
{
    switch (limit.kind) {
    case LimitKind::Found:
        return printed(limit.value, digits);
    case LimitKind::BelowRange:
        return "<" + printed(limit.value, digits);
    case LimitKind::AboveRange:
        return ">" + printed(limit.value, digits);
    case LimitKind::NotGiven:
        break;
    }
    return "";
}

// Every number of a block's row against the window's, to the digit printed.
void expectWindowsNumbers(const Cells& row, const Block& block, int digits)
{
    SCOPED_TRACE("block " + block.name);
    const BlockAnalysis w = window(block);
    const inference::Analysis& a = w.analysis;
    EXPECT_EQ(row.at("block"), block.name);
    EXPECT_EQ(row.at("S_free"), block.sFixed ? "false" : "true");
    EXPECT_EQ(row.at("S"), printed(w.S, digits));
    EXPECT_EQ(row.at("P"), printed(w.P, digits));
    EXPECT_EQ(row.at("log_likelihood"), printed(w.logLikelihood, digits));
    EXPECT_EQ(row.at("P_lower"), printed(a.limitsP.lower, digits));
    EXPECT_EQ(row.at("P_upper"), printed(a.limitsP.upper, digits));
    EXPECT_EQ(row.at("S_lower"), printed(a.limitsS.lower, digits));
    EXPECT_EQ(row.at("S_upper"), printed(a.limitsS.upper, digits));
    const inference::StandardErrors& se = a.standardErrors;
    EXPECT_EQ(row.at("se_P"), se.given() ? printed(se.seP, digits) : "");
    EXPECT_EQ(row.at("se_S"), se.given() && !block.sFixed ? printed(se.seS, digits) : "");
    const inference::FitCheck& check = a.fitCheck;
    ASSERT_TRUE(check.given());
    EXPECT_EQ(row.at("G2"), printed(check.g2, digits));
    EXPECT_EQ(row.at("X2"), printed(check.x2, digits));
    EXPECT_EQ(row.at("df"), std::to_string(check.df));
    EXPECT_EQ(row.at("p_G2"), printed(check.pG2, digits));
    EXPECT_EQ(row.at("p_X2"), printed(check.pX2, digits));
    EXPECT_EQ(row.at("count"), block.count ? printed(*block.count, -1) : "") << "echoed as given";
    if (block.count) {
        const auto n = inference::population(*block.count, a.fit, a.limitsP);
        EXPECT_EQ(row.at("N"), n.given() ? printed(n.estimate, digits) : "");
        EXPECT_EQ(row.at("N_lower"), n.given() ? printed(n.lower, digits) : "");
        EXPECT_EQ(row.at("N_upper"), n.given() ? printed(n.upper, digits) : "");
    } else {
        EXPECT_EQ(row.at("N"), "");
    }
    EXPECT_EQ(row.at("LR"), "") << "the comparison belongs to the pooled row";
}

Counts summedSFree(const std::vector<Block>& blocks)
{
    Counts sum;
    for (const Block& b : blocks) {
        if (!b.sFixed) {
            sum.n100 += b.counts.n100;
            sum.n111 += b.counts.n111;
            sum.n101 += b.counts.n101;
            sum.n110 += b.counts.n110;
        }
    }
    return sum;
}

TEST(Estimator, EveryNumberIsTheWindowsExactly)
{
    Scratch scratch;
    scratch.file("survey.csv", kGoodCsv);

    const Outcome good = estimate(scratch, "survey.csv");
    EXPECT_EQ(good.status, 0) << good.err;
    EXPECT_EQ(good.err.find("survey.csv:"), std::string::npos) << good.err;
    const std::vector<Cells> rows = csvRows(good.out);
    ASSERT_EQ(rows.size(), kGood.size() + 1);
    for (std::size_t k = 0; k < kGood.size(); ++k) {
        EXPECT_EQ(rows[k].at("fit"), "block");
        EXPECT_EQ(rows[k].at("line"), std::to_string(k + 2));
        expectWindowsNumbers(rows[k], kGood[k], -1);
    }

    // The pooled row: the blocks with S estimated, summed, fitted as the window fits a block.
    const Cells& pooled = rows.back();
    EXPECT_EQ(pooled.at("fit"), "pooled");
    EXPECT_EQ(pooled.at("blocks"), "5");
    const Block sums{"", summedSFree(kGood), std::nullopt, std::nullopt};
    const BlockAnalysis w = window(sums);
    EXPECT_EQ(pooled.at("S"), printed(w.S, -1));
    EXPECT_EQ(pooled.at("P"), printed(w.P, -1));
    EXPECT_EQ(pooled.at("log_likelihood"), printed(w.logLikelihood, -1));
    double separate = 0.0;
    for (const Block& b : kGood) {
        separate += b.sFixed ? 0.0 : window(b).analysis.fit.logLikelihood;
    }
    EXPECT_NEAR(std::stod(pooled.at("LR")), 2.0 * (separate - w.analysis.fit.logLikelihood), 1e-8);
    EXPECT_EQ(pooled.at("LR_df"), "8");
    EXPECT_NE(pooled.at("warnings").find("3 blocks hold S at a value of its own"),
              std::string::npos);
}

TEST(Estimator, RoundedNumbersAreTheWindowsText)
{
    Scratch scratch;
    scratch.file("survey.csv", kGoodCsv);
    const Outcome run = estimate(scratch, "--digits 3 survey.csv");
    ASSERT_EQ(run.status, 0) << run.err;
    const std::vector<Cells> rows = csvRows(run.out);
    ASSERT_EQ(rows.size(), kGood.size() + 1);
    for (std::size_t k = 0; k < kGood.size(); ++k) {
        expectWindowsNumbers(rows[k], kGood[k], 3);
        // The window's result line shows the maximum log likelihood in "0.000".
        EXPECT_EQ(rows[k].at("log_likelihood"),
                  text::format(window(kGood[k]).logLikelihood, QStringLiteral("0.000"),
                               QLocale::c())
                      .toStdString());
    }

    // With two decimals S and P read as the window's boxes show them ("0.##": 0.8 for 0.80).
    const Outcome boxes = estimate(scratch, "--digits 2 survey.csv");
    const std::vector<Cells> two = csvRows(boxes.out);
    ASSERT_EQ(two.size(), kGood.size() + 1);
    for (std::size_t k = 0; k < kGood.size(); ++k) {
        const BlockAnalysis w = window(kGood[k]);
        EXPECT_EQ(std::stod(two[k].at("S")),
                  std::stod(text::format(w.S, QStringLiteral("0.##"), QLocale::c()).toStdString()));
        EXPECT_EQ(std::stod(two[k].at("P")),
                  std::stod(text::format(w.P, QStringLiteral("0.##"), QLocale::c()).toStdString()));
    }
}

TEST(Estimator, JsonLinesCarryTheSameNumbers)
{
    Scratch scratch;
    const fs::path survey = scratch.file("survey.csv", kGoodCsv);
    const Outcome run = estimate(scratch, "--json", survey);
    ASSERT_EQ(run.status, 0) << run.err;
    std::istringstream lines(run.out);
    std::vector<nlohmann::json> rows;
    for (std::string line; std::getline(lines, line);) {
        rows.push_back(nlohmann::json::parse(line));
    }
    ASSERT_EQ(rows.size(), kGood.size() + 1);
    for (std::size_t k = 0; k < kGood.size(); ++k) {
        SCOPED_TRACE(kGood[k].name);
        const nlohmann::json& row = rows[k];
        const BlockAnalysis w = window(kGood[k]);
        EXPECT_EQ(row["block"], kGood[k].name);
        EXPECT_EQ(row["line"], k + 2);
        EXPECT_EQ(row["S"].get<double>(), w.S);
        EXPECT_EQ(row["P"].get<double>(), w.P);
        EXPECT_EQ(row["log_likelihood"].get<double>(), w.logLikelihood);
        for (const auto& [name, limit] :
             {std::pair{"P_lower", w.analysis.limitsP.lower}, {"P_upper", w.analysis.limitsP.upper},
              {"S_lower", w.analysis.limitsS.lower}, {"S_upper", w.analysis.limitsS.upper}}) {
            if (limit.kind == LimitKind::NotGiven) {
                EXPECT_TRUE(row[name].is_null()) << name;
                continue;
            }
            EXPECT_EQ(row[name].get<double>(), limit.value) << name;
            EXPECT_EQ(row[std::string(name) + "_open"], limit.open()) << name;
        }
        EXPECT_EQ(row["df"], w.analysis.fitCheck.df);
        EXPECT_EQ(row["p_G2"].get<double>(), w.analysis.fitCheck.pG2);
    }
    const nlohmann::json& pooled = rows.back();
    EXPECT_EQ(pooled["fit"], "pooled");
    EXPECT_FALSE(pooled.contains("block"));
    EXPECT_GE(pooled["LR"].get<double>(), 0.0);
    EXPECT_EQ(pooled["LR_df"], 8);
    EXPECT_LT(pooled["LR_p"].get<double>(), 1.0);
}

TEST(Estimator, StandardInputReadsAsAFileDoes)
{
    Scratch scratch;
    const fs::path survey = scratch.file("survey.csv", kGoodCsv);
    const Outcome fromFile = estimate(scratch, "survey.csv");
    const Outcome fromPipe = estimate(scratch, "", survey);
    const Outcome fromDash = estimate(scratch, "-", survey);
    EXPECT_EQ(fromPipe.status, 0);
    EXPECT_EQ(fromPipe.out, fromFile.out);
    EXPECT_EQ(fromDash.out, fromFile.out);
}

TEST(Estimator, BadRowsAreToldByLineAndTheOthersFitted)
{
    Scratch scratch;
    scratch.file("survey.csv", "block,n100,n111,n101,n110,s_fixed,count\n" // 1
                               "north,10,20,5,7,,30\n"                     // 2
                               "south,x,1,2,3,,\n"                         // 3
                               "\n"                                        // 4
                               "west,1,2,-3,4,,\n"                         // 5
                               "east,0,0,0,0,,\n"                          // 6
                               "\"two\n"                                   // 7
                               "lines\",30,40,10,12,,\n"                   // 8
                               "held,4,5,6,7,1.5,\n"                       // 9
                               "short,1,2,3\n"                             // 10
                               ",1,2,3,4,,\n"                              // 11
                               "half,1.5,2,3,4,,\n"                        // 12
                               "last,3,4,5,6,,\n");                        // 13
    const Outcome run = estimate(scratch, "survey.csv");
    EXPECT_EQ(run.status, 1) << "some rows failed";
    for (const char* told : {"survey.csv:3: n100 is not a number: \"x\"",
                             "survey.csv:5: n101 is negative",
                             "survey.csv:6: all four frequencies are zero",
                             "survey.csv:9: s_fixed must lie above 0 and at most 1",
                             "survey.csv:10: the record has 4 fields",
                             "survey.csv:11: block is missing",
                             "survey.csv:12: n100 is not a whole number",
                             "7 of 10 rows failed"}) {
        EXPECT_NE(run.err.find(told), std::string::npos) << told << "\n" << run.err;
    }
    const std::vector<Cells> rows = csvRows(run.out);
    ASSERT_EQ(rows.size(), 4u);
    const std::vector<Block> fitted{{"north", {10, 20, 5, 7}, std::nullopt, 30.0},
                                    {"two\nlines", {30, 40, 10, 12}, std::nullopt, std::nullopt},
                                    {"last", {3, 4, 5, 6}, std::nullopt, std::nullopt}};
    const char* lines[] = {"2", "7", "13"};
    for (std::size_t k = 0; k < fitted.size(); ++k) {
        EXPECT_EQ(rows[k].at("line"), lines[k]);
        expectWindowsNumbers(rows[k], fitted[k], -1);
    }
    EXPECT_EQ(rows[3].at("fit"), "pooled");
    EXPECT_EQ(rows[3].at("blocks"), "3");
}

struct Unusable {
    const char* name;
    const char* text;
    const char* told;
};

class EstimatorUnusable : public testing::TestWithParam<Unusable> {};

TEST_P(EstimatorUnusable, StopsWithStatus2AndWritesNothing)
{
    Scratch scratch;
    scratch.file("survey.csv", GetParam().text);
    const Outcome run = estimate(scratch, "survey.csv");
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find(GetParam().told), std::string::npos) << run.err;
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, EstimatorUnusable,
    testing::Values(Unusable{"Empty", "", "survey.csv: the input is empty"},
                    Unusable{"OnlyBlankLines", "\n\n  \n", "the input is empty"},
                    Unusable{"HeaderOnly", "block,n100,n111,n101,n110\n", "no blocks"},
                    Unusable{"NoHeader", "north,10,20,5,7\n", "lacks the columns"},
                    Unusable{"ColumnMissing", "block,n100,n111,n101\nA,1,2,3\n",
                             "lacks the column n110"},
                    Unusable{"ColumnTwice", "block,n100,n111,n101,n110,n111\n",
                             "names the column n111 twice"}),
    [](const testing::TestParamInfo<Unusable>& input) { return std::string(input.param.name); });

TEST(Estimator, WhatCannotBeOpenedOrWrittenIsAFailure)
{
    Scratch scratch;
    scratch.file("survey.csv", kGoodCsv);

    Outcome run = estimate(scratch, "missing.csv");
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("cannot open missing.csv"), std::string::npos) << run.err;

    run = estimate(scratch, ".");
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("is a folder"), std::string::npos) << run.err;

    run = estimate(scratch, "--digits 99 survey.csv");
    EXPECT_EQ(run.status, 2) << "a bad option is a usage error";
    EXPECT_EQ(run.out, "");

    if (fs::exists("/dev/full")) {
        run = estimate(scratch, "survey.csv", std::nullopt, "/dev/full");
        EXPECT_EQ(run.status, 2) << "a full disk must not pass for success";
        EXPECT_NE(run.err.find("writing the output failed"), std::string::npos) << run.err;
    }

    scratch.file("plain-file", "");
    run = estimate(scratch, "--plots plain-file/plots survey.csv");
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "") << "the plot folder is checked before anything is written";
}

TEST(Estimator, HelpExplainsEveryOptionWithAnExample)
{
    Scratch scratch;
    const Outcome run = estimate(scratch, "--help");
    EXPECT_EQ(run.status, 0);
    for (const char* option : {"--json", "--digits", "--plots", "--profile", "--range"}) {
        const std::size_t at = run.out.find(option);
        ASSERT_NE(at, std::string::npos) << option;
        const std::size_t end = run.out.find('\n', run.out.find("Example:", at));
        EXPECT_NE(run.out.substr(at, end - at).find("Example: " + std::string(option)),
                  std::string::npos)
            << option;
    }
}

TEST(Estimator, PlotsAreTheWindowsPlotOfEachBlock)
{
    Scratch scratch;
    scratch.file("survey.csv", "block,n100,n111,n101,n110\n"
                               "north,10,20,5,7\n"
                               "../up,30,40,10,12\n"
                               "north,12,8,6,9\n");
    const Outcome run = estimate(scratch, "--plots plots survey.csv");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "") << "Qt's own notes stay out of the way";
    const std::vector<Cells> rows = csvRows(run.out);
    ASSERT_EQ(rows.size(), 4u);
    expectWindowsNumbers(rows[0], {"north", {10, 20, 5, 7}, std::nullopt, std::nullopt}, -1);

    // The second "north" falls by less than the line's 1.92 over the plotted range: as in the
    // window, its plot has no red line and its warnings say why.
    EXPECT_EQ(rows[0].at("warnings").find("falls by less than"), std::string::npos);
    EXPECT_NE(rows[2].at("warnings").find("falls by less than"), std::string::npos);

    const fs::path plots = scratch.path() / "plots";
    for (const auto& [name, hasLine] :
         {std::pair{"north.png", true}, {"_._up.png", true}, {"north-line4.png", false}}) {
        SCOPED_TRACE(name);
        QImage image;
        ASSERT_TRUE(image.load(QString::fromStdString((plots / name).string())));
        EXPECT_EQ(image.size(), QSize(949, 381));
        bool curve = false;
        bool line = false;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const QRgb pixel = image.pixel(x, y);
                curve = curve || pixel == qRgb(0, 0, 192);
                line = line || pixel == qRgb(255, 0, 0);
            }
        }
        EXPECT_TRUE(curve) << "the profile in the window's blue";
        EXPECT_EQ(line, hasLine) << "the dashed line and the limit marks in red";
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(plots), fs::directory_iterator()), 3);
    EXPECT_FALSE(fs::exists(scratch.path() / "up.png"));
}

} // namespace
} // namespace kestrum::survey
