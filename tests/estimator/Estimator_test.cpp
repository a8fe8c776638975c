// The built kestrum-estimate run as a script runs it: exit status, messages, and every number it
// writes against the window's own estimate of the same block.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <QImage>
#include <QLocale>

#include <array>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <tuple>
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

struct Block {
    std::string name;
    Counts counts;
    std::optional<double> sFixed;
    std::optional<double> count;
};

// Interior estimates, names that need quoting, S held (at 0.8 and at 1), S and P not identifiable,
// S on its bound, limits below 0.01 and N's beyond count / 0.01.
const std::vector<Block> kGood{
    {"north", {10, 20, 5, 7}, std::nullopt, 30.0},
    {"east, upper", {30, 40, 10, 12}, std::nullopt, std::nullopt},
    {"say \"hi\"", {12, 8, 6, 9}, 0.8, 25.0},
    {"ridge", {0, 10, 0, 5}, std::nullopt, 40.0},
    {" edge ", {3, 4, 5, 6}, std::nullopt, std::nullopt},
    {"closed", {5, 10, 2, 3}, 1.0, std::nullopt},
    {"few seen", {30, 0, 0, 1}, 0.5, 10.0},
    {"low", {40, 1, 1, 2}, std::nullopt, 10.0},
};

const char* const kGoodCsv = "block,n100,n111,n101,n110,s_fixed,count\n"
                             "north,10,20,5,7,,30\n"
                             "\"east, upper\",30,40,10,12,,\n"
                             "\"say \"\"hi\"\"\",12,8,6,9,0.8,25\n"
                             "ridge,0,10,0,5,,40\n"
                             "\" edge \",3,4,5,6,,\n"
                             "closed,5,10,2,3,1,\n"
                             "few seen,30,0,0,1,0.5,10\n"
                             "low,40,1,1,2,,10\n";

// The window's estimate, from S = P = 0.9 (or the fixed S).
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

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

std::string slurp(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

class Estimator : public testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "kestrum-estimate-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { fs::remove_all(dir_); }

    // The program in a folder holding survey.csv. The arguments follow the redirections, so they
    // may redirect too ("< survey.csv", ">/dev/full").
    Outcome run(const std::string& arguments, const std::string& survey = kGoodCsv) const
    {
        std::ofstream(dir_ / "survey.csv", std::ios::binary) << survey;
        const std::string command = "cd '" + dir_.string() +
                                    "' && '" KESTRUM_ESTIMATE_PATH "' > stdout 2> stderr " +
                                    arguments;
        const int raw = std::system(command.c_str());
        return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, slurp(dir_ / "stdout"),
                slurp(dir_ / "stderr")};
    }

    fs::path dir_;
};

using Cells = std::map<std::string, std::string>;

// The output read back with the survey's CSV reader.
std::vector<Cells> csvRows(const std::string& text)
{
    StringSource source(text);
    RecordReader reader(source);
    Record header;
    Record record;
    std::vector<Cells> rows;
    EXPECT_TRUE(reader.next(header));
    while (reader.next(record)) {
        EXPECT_EQ(record.fields.size(), header.fields.size()) << "a row written half-way";
        Cells& cells = rows.emplace_back();
        for (std::size_t k = 0; k < header.fields.size() && k < record.fields.size(); ++k) {
            cells[header.fields[k]] = record.fields[k];
        }
    }
    return rows;
}

// Shortest text that reads back as the same double, or the window's own rounding.
std::string printed(double value, int digits)
{
    if (digits >= 0) {
        const QString pattern = QStringLiteral("0.") + QString(digits, QLatin1Char('0'));
        return text::format(value, pattern, QLocale::c()).toStdString();
    }
    char text[64];
    return std::string(text, std::to_chars(text, text + sizeof text, value).ptr);
}

std::string printed(const inference::Limit& limit, int digits)
{
    using inference::LimitKind;
    const char* open = limit.kind == LimitKind::BelowRange ? "<" : "";
    open = limit.kind == LimitKind::AboveRange ? ">" : open;
    return limit.kind == LimitKind::NotGiven ? "" : open + printed(limit.value, digits);
}

// Every number of a row against the window's, to the digit printed.
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
    EXPECT_EQ(row.at("count"), block.count ? printed(*block.count, -1) : "") << "as given";
    const auto n = inference::population(block.count.value_or(0.0), a.fit, a.limitsP);
    const bool withN = block.count && n.given();
    EXPECT_EQ(row.at("N"), withN ? printed(n.estimate, digits) : "");
    EXPECT_EQ(row.at("N_lower"), withN ? printed(n.lower, digits) : "");
    EXPECT_EQ(row.at("N_upper"), withN ? printed(n.upper, digits) : "");
    EXPECT_EQ(row.at("LR").empty(), row.at("fit") == "block") << "LR is the pooled row's";
}

TEST_F(Estimator, EveryNumberIsTheWindowsAndThePooledFitThatOfTheSums)
{
    Block sums{"", {}, std::nullopt, std::nullopt};
    double separate = 0.0;
    for (const Block& b : kGood) {
        if (!b.sFixed) {
            sums.counts.n100 += b.counts.n100;
            sums.counts.n111 += b.counts.n111;
            sums.counts.n101 += b.counts.n101;
            sums.counts.n110 += b.counts.n110;
            separate += window(b).analysis.fit.logLikelihood;
        }
    }
    const Outcome full = run("survey.csv");
    for (const auto& [digits, good] : {std::pair{-1, full}, {3, run("--digits 3 survey.csv")}}) {
        EXPECT_EQ(good.status, 0) << good.err;
        EXPECT_EQ(good.err.find("survey.csv:"), std::string::npos) << good.err;
        const std::vector<Cells> rows = csvRows(good.out);
        ASSERT_EQ(rows.size(), kGood.size() + 1);
        for (std::size_t k = 0; k < kGood.size(); ++k) {
            EXPECT_EQ(rows[k].at("line"), std::to_string(k + 2));
            expectWindowsNumbers(rows[k], kGood[k], digits);
        }
        EXPECT_EQ(rows.back().at("fit"), "pooled");
        expectWindowsNumbers(rows.back(), sums, digits);
    }

    const Cells pooled = csvRows(full.out).back();
    EXPECT_EQ(pooled.at("blocks"), "5");
    const double shared = window(sums).analysis.fit.logLikelihood;
    EXPECT_NEAR(std::stod(pooled.at("LR")), 2.0 * (separate - shared), 1e-8);
    EXPECT_EQ(pooled.at("LR_df"), "8");
    EXPECT_NEAR(std::stod(pooled.at("AIC_shared")), -2.0 * shared + 4.0, 1e-8);
    EXPECT_NEAR(std::stod(pooled.at("AIC_separate")), -2.0 * separate + 20.0, 1e-8);
    EXPECT_NE(pooled.at("warnings").find("3 blocks hold S at a value of its own"),
              std::string::npos);

    EXPECT_EQ(run("< survey.csv").out, full.out);
    EXPECT_EQ(run("- < survey.csv").out, full.out);
}

// JSON Lines: the CSV's rows, one whole object a line, open limits flagged beside their value.
TEST_F(Estimator, JsonLinesCarryWhatCsvDoes)
{
    const std::vector<Cells> csv = csvRows(run("survey.csv").out);
    const Outcome json = run("--json survey.csv");
    ASSERT_EQ(json.status, 0) << json.err;
    std::istringstream lines(json.out);
    std::size_t k = 0;
    for (std::string line; std::getline(lines, line); ++k) {
        ASSERT_LT(k, csv.size());
        const nlohmann::json row = nlohmann::json::parse(line);
        for (const auto& [name, cell] : csv[k]) {
            SCOPED_TRACE(name + " of row " + std::to_string(k));
            const nlohmann::json value = row.value(name, nlohmann::json());
            const bool open = !cell.empty() && (cell[0] == '<' || cell[0] == '>');
            if (name == "warnings") {
                std::string joined;
                for (const auto& note : value) {
                    joined += (joined.empty() ? "" : " | ") + note["message"].get<std::string>();
                }
                EXPECT_EQ(joined, cell);
            } else if (value.is_number()) {
                EXPECT_EQ(printed(value.get<double>(), -1), open ? cell.substr(1) : cell);
                EXPECT_EQ(row.value(name + "_open", open), open);
            } else {
                EXPECT_EQ(value.is_null()     ? ""
                          : value.is_string() ? value.get<std::string>()
                                              : value.dump(),
                          cell);
            }
        }
    }
    EXPECT_EQ(k, csv.size());

    // A name that is not UTF-8 must not stop the JSON.
    const Outcome latin1 =
        run("--json survey.csv", "block,n100,n111,n101,n110\ncaf\xE9,10,20,5,7\n");
    ASSERT_EQ(latin1.status, 0) << latin1.err;
    EXPECT_EQ(nlohmann::json::parse(latin1.out.substr(0, latin1.out.find('\n')))["block"],
              "caf\xEF\xBF\xBD");
}

TEST_F(Estimator, BadRowsAreToldByLineAndTheOthersFitted)
{
    const std::vector<std::pair<std::string, std::string>> bad{
        {"A,1,,3,4,,", "n111 is missing"},
        {",1,2,3,4,,", "block is missing"},
        {"A,1,2,three,4,,", "n101 is not a number: \"three\""},
        {"A,inf,2,3,4,,", "n100 is not a number"},
        {"A,0x10,2,3,4,,", "n100 is not a number"},
        {"A,+-1,2,3,4,,", "n100 is not a number"},
        {"A,1,2,3,4.5,,", "n110 is not a whole number"},
        {"A,3000000000,2,3,4,,", "n100 is too large"},
        {"A,0,0,0,0,,", "all four frequencies are zero"},
        {"A,1,2,3,4,0,", "s_fixed must lie above 0 and at most 1"},
        {"A,1,2,3,4,high,", "s_fixed is not a number"},
        {"A,1,2,3,4,,-2", "count is negative"},
        {"A,1,2,3", "the record has 4 fields where the header has 7"},
        {"A,1,2,3,4,,,extra", "the record has 8 fields where the header has 7"},
        {"\"A\"x,1,2,3,4,,", "text after the closing quote of field 1"},
        // Every problem at once, the input's bytes escaped so they cannot steer a terminal.
        {"A,x\x1b[2J,2,-3,4,1.5,", "n100 is not a number: \"x\\x1B[2J\"; n101 is negative: "
                                   "\"-3\"; s_fixed must lie above 0 and at most 1: \"1.5\""},
        {"A," + std::string(RecordReader::kMaxRecordBytes, '7') + ",2,3,4,,",
         "the record is longer than 1 MiB"},
    };
    // A blank line and a quoted name over two lines, then each bad row followed by a good one,
    // then a quote left open to the end.
    std::string survey = "block,n100,n111,n101,n110,s_fixed,count\n"
                         "north,10,20,5,7,,30\n\n\"two\nlines\" ,30,40,10,12,,\n";
    for (const auto& [record, reason] : bad) {
        survey += record + "\nafter,30,40,10,12,,\n";
    }
    survey += "\"open,1,2,3,4,,\nlost,1,2,3,4,,\n";
    const Outcome ran = run("survey.csv", survey);
    EXPECT_EQ(ran.status, 1);

    std::vector<std::pair<std::size_t, Block>> fitted{
        {2, {"north", {10, 20, 5, 7}, std::nullopt, 30.0}},
        {4, {"two\nlines", {30, 40, 10, 12}, std::nullopt, std::nullopt}}};
    for (std::size_t k = 0; k < bad.size(); ++k) {
        const std::string told = "survey.csv:" + std::to_string(6 + 2 * k) + ": " + bad[k].second;
        EXPECT_NE(ran.err.find(told), std::string::npos) << told;
        fitted.push_back({7 + 2 * k, {"after", {30, 40, 10, 12}, std::nullopt, std::nullopt}});
    }
    const std::string last = std::to_string(6 + 2 * bad.size());
    EXPECT_NE(ran.err.find("survey.csv:" + last + ": a quoted field is not closed"),
              std::string::npos);
    const std::string tally = std::to_string(bad.size() + 1) + " of " +
                              std::to_string(bad.size() + 1 + fitted.size()) + " rows failed";
    EXPECT_NE(ran.err.find(tally), std::string::npos) << tally;

    const std::vector<Cells> rows = csvRows(ran.out);
    ASSERT_EQ(rows.size(), fitted.size() + 1);
    for (std::size_t k = 0; k < fitted.size(); ++k) {
        EXPECT_EQ(rows[k].at("line"), std::to_string(fitted[k].first));
        expectWindowsNumbers(rows[k], fitted[k].second, -1);
    }
    EXPECT_EQ(rows.back().at("blocks"), std::to_string(fitted.size()));
}

// Status 2, nothing written, and the reason told.
TEST_F(Estimator, WhatCannotBeReadOrWrittenStopsTheRun)
{
    for (const auto& [arguments, survey, told] : std::initializer_list<std::array<const char*, 3>>{
             {"survey.csv", "", "survey.csv: the input is empty"},
             {"survey.csv", "\n\n  \r\n", "the input is empty"},
             {"survey.csv", "block,n100,n111,n101,n110\n", "no blocks"},
             {"survey.csv", "north,10,20,5,7\n", "lacks the columns block, n100, n111, n101, n110"},
             {"survey.csv", "block,n100,n111\nA,1,2\n", "lacks the columns n101, n110"},
             {"survey.csv", "block,n100,n111,n101,n110,N100\n", "names the column n100 twice"},
             {"survey.csv", "\"block,n100\n", "line 1, the header: a quoted field is not closed"},
             {"missing.csv", kGoodCsv, "cannot open missing.csv"},
             {".", kGoodCsv, ". is a folder"},
             {"--digits 99 survey.csv", kGoodCsv, "--digits"},
             {"--blocks 40.5 survey.csv", kGoodCsv, "--blocks is not a whole number: \"40.5\""},
             {"--blocks -40 survey.csv", kGoodCsv, "--blocks is negative: \"-40\""},
             {"--totals-only survey.csv", kGoodCsv, "--totals-only needs the sampling frame"},
             {"--frame missing.csv survey.csv", kGoodCsv, "cannot open the frame missing.csv"},
             {"--plots survey.csv/plots survey.csv", kGoodCsv, "cannot make the plot folder"},
             {"survey.csv >/dev/full", kGoodCsv, "writing the output failed"},
         }) {
        SCOPED_TRACE(arguments);
        if (std::strstr(arguments, "/dev/full") != nullptr && !fs::exists("/dev/full")) {
            continue;
        }
        const Outcome ran = run(arguments, survey);
        EXPECT_EQ(ran.status, 2);
        EXPECT_EQ(ran.out, "");
        EXPECT_NE(ran.err.find(told), std::string::npos) << ran.err;
    }
}

// Each stratum's total is its frame's blocks over the blocks used times the sum of their N, as the
// block rows give N; a block without a count or with P's error not given is named, not counted.
TEST_F(Estimator, TotalsByStratumFromTheBlockRows)
{
    const std::string survey = "block,stratum,n100,n111,n101,n110,count\n"
                               "market,centre,10,20,5,7,30\n"
                               "station,centre,30,40,10,12,45\n"
                               "square,centre,12,8,6,9,\n"
                               "river,edge,3,4,5,6,20\n"
                               "farm,edge,20,25,8,10,18\n"
                               "mill,edge,15,30,6,9,22\n";
    // edge: the frame holds no more blocks than are sampled.
    std::ofstream(dir_ / "frame.csv") << "stratum,blocks\ncentre,12\nedge,3\n";
    const Outcome full = run("--frame frame.csv survey.csv", survey);
    ASSERT_EQ(full.status, 0) << full.err;
    const std::vector<Cells> rows = csvRows(full.out);
    ASSERT_EQ(rows.size(), 6u + 1 + 3);
    const auto N = [&](std::size_t k) { return std::stod(rows[k].at("N")); };
    const double centre = 12.0 / 2 * (N(0) + N(1));
    const double edge = 3.0 / 2 * (N(4) + N(5));
    const std::tuple<const char*, double, const char*> expected[] = {
        {"stratum centre 3 2 12", centre, "with no street count: \"square\" (line 4)"},
        {"stratum edge 3 2 3", edge, "no standard error of P: \"river\" (line 5)"},
        {"total  6 4 15", centre + edge, ""},
    };
    for (std::size_t k = 0; k < 3; ++k) {
        const Cells& row = rows[7 + k];
        const auto& [cells, total, leftOut] = expected[k];
        EXPECT_EQ(row.at("fit") + " " + row.at("stratum") + " " + row.at("blocks_sampled") + " " +
                      row.at("blocks_used") + " " + row.at("frame_blocks"),
                  cells);
        EXPECT_NEAR(std::stod(row.at("total")), total, 1e-12 * total);
        EXPECT_LT(std::stod(row.at("total_lower")), std::stod(row.at("total_upper")));
        EXPECT_NE(row.at("warnings").find(leftOut), std::string::npos) << row.at("warnings");
    }
    EXPECT_EQ(rows[0].at("stratum"), "centre");

    // Only the totals rows, the same in CSV and JSON.
    const Outcome only = run("--frame frame.csv --totals-only survey.csv", survey);
    EXPECT_EQ(only.out, full.out.substr(0, full.out.find('\n') + 1) +
                            full.out.substr(full.out.find("\nstratum,") + 1));
    std::istringstream json(run("--json --frame frame.csv --totals-only survey.csv", survey).out);
    std::string line;
    for (std::size_t k = 7; k < rows.size(); ++k) {
        ASSERT_TRUE(std::getline(json, line));
        EXPECT_EQ(printed(nlohmann::json::parse(line)["total_upper"].get<double>(), -1),
                  rows[k].at("total_upper"));
    }
    EXPECT_FALSE(std::getline(json, line)) << "only the totals rows";

    // A stratum of the frame that the survey never sampled leaves the city without a total.
    std::ofstream(dir_ / "frame.csv") << "stratum,blocks\ncentre,12\nedge,3\nhills,40\n";
    const std::vector<Cells> unsampled =
        csvRows(run("--frame frame.csv --totals-only survey.csv", survey).out);
    ASSERT_EQ(unsampled.size(), 4u);
    for (const Cells& row : {unsampled[2], unsampled[3]}) {
        EXPECT_EQ(row.at("total") + row.at("total_lower") + row.at("dogs_per_block"), "");
    }
    EXPECT_NE(unsampled[3].at("warnings").find("strata have none: \"hills\""), std::string::npos);

    // A frame that does not describe the survey is refused, naming what does not fit.
    for (const auto& [frame, options, told] : std::initializer_list<std::array<const char*, 3>>{
             {"stratum,blocks\ncentre,12\n", "--frame frame.csv",
              "line 5: stratum \"edge\" is not in the frame frame.csv"},
             {"stratum,blocks\ncentre,2\nedge,30\n", "--frame frame.csv",
              "line 4: stratum \"centre\" holds 2 blocks in the frame frame.csv, fewer than are "
              "sampled from it (this block is the 3rd)"},
             {"stratum,blocks\ncentre,12.5\nedge,30\n", "--frame frame.csv",
              "frame.csv:2: the size of stratum \"centre\" is not a whole number"},
             {"stratum,blocks\ncentre,12\nedge,-30\n", "--frame frame.csv",
              "frame.csv:3: the size of stratum \"edge\" is negative"},
             {"stratum,blocks\nedge,3\ncentre,12\nedge,4\n", "--frame frame.csv",
              "frame.csv:4: stratum \"edge\" is named twice"},
             {"", "--blocks 42", "line 2: the block names the stratum \"centre\", but --blocks 42"},
         }) {
        SCOPED_TRACE(told);
        std::ofstream(dir_ / "frame.csv") << frame;
        const Outcome ran = run(std::string(options) + " survey.csv", survey);
        EXPECT_EQ(ran.status, 2);
        EXPECT_NE(ran.err.find(told), std::string::npos) << ran.err;
        EXPECT_EQ(ran.out.find("\nstratum,"), std::string::npos);
        EXPECT_EQ(ran.out.find("\ntotal,"), std::string::npos);
    }
}

TEST_F(Estimator, PlotsAreTheWindowsPlotOfEachBlock)
{
    const Outcome ran = run("--plots plots survey.csv", "block,n100,n111,n101,n110\n"
                                                        "north,10,20,5,7\n"
                                                        "../up,30,40,10,12\n"
                                                        "north,12,8,6,9\n");
    ASSERT_EQ(ran.status, 0) << ran.err;
    EXPECT_EQ(ran.err, "") << "Qt's own notes stay out of the way";
    const std::vector<Cells> rows = csvRows(ran.out);
    ASSERT_EQ(rows.size(), 4u);
    const Block blocks[] = {{"north", {10, 20, 5, 7}, {}, {}},
                            {"../up", {30, 40, 10, 12}, {}, {}},
                            {"north", {12, 8, 6, 9}, {}, {}}};
    for (std::size_t k = 0; k < 3; ++k) {
        expectWindowsNumbers(rows[k], blocks[k], -1);
    }
    // The second "north" falls by less than 1.92 over the plotted range: as in the window, no
    // red line, and its warnings say why.
    EXPECT_EQ(rows[0].at("warnings").find("falls by less than"), std::string::npos);
    EXPECT_NE(rows[2].at("warnings").find("falls by less than"), std::string::npos);

    for (const auto& [name, hasLine] :
         {std::pair{"north.png", true}, {"_._up.png", true}, {"north-line4.png", false}}) {
        SCOPED_TRACE(name);
        QImage image;
        ASSERT_TRUE(image.load(QString::fromStdString((dir_ / "plots" / name).string())));
        EXPECT_EQ(image.size(), QSize(949, 381));
        bool curve = false;
        bool line = false;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                curve = curve || image.pixel(x, y) == qRgb(0, 0, 192);
                line = line || image.pixel(x, y) == qRgb(255, 0, 0);
            }
        }
        EXPECT_TRUE(curve) << "the profile in the window's blue";
        EXPECT_EQ(line, hasLine) << "the dashed line and the limit marks in red";
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_ / "plots"), fs::directory_iterator()), 3);
    EXPECT_FALSE(fs::exists(dir_ / "up.png"));
}

} // namespace
} // namespace kestrum::survey
