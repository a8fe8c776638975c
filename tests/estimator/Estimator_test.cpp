// The built kestrum-estimate run as a script runs it: exit status, messages, and every column it
// writes against the exact inference of the same block.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QImage>
#include <QLocale>

#include <algorithm>
#include <array>
#include <charconv>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <nlohmann/json.hpp>

#include "Analysis.h"
#include "Coverage.h"
#include "NumberText.h"
#include "Population.h"
#include "ProgramRun.h"
#include "SurveyReader.h"

namespace kestrum::survey {
namespace {

namespace fs = std::filesystem;
using inference::Counts;

struct Block {
    std::string name;
    Counts counts;
    std::optional<double> sFixed = std::nullopt;
    std::optional<double> count = std::nullopt;
};

// Interior estimates, names that need quoting or hold a backslash, S held (at 0.8 and at 1), S and
// P not identifiable, S on its bound, P on its bound with a count, limits below 0.01, a count
// written as typed.
const std::vector<Block> kGood{
    {"north", {10, 20, 5, 7}, std::nullopt, 30.0},
    {"east, upper", {30, 40, 10, 12}, std::nullopt, std::nullopt},
    {"say \"hi\"", {12, 8, 6, 9}, 0.8, 25.0},
    {"ridge", {0, 10, 0, 5}, std::nullopt, 40.0},
    {" edge ", {3, 4, 5, 6}, std::nullopt, std::nullopt},
    {"closed\\gate", {5, 10, 2, 3}, 1.0, std::nullopt},
    {"few seen", {200, 0, 1, 0}, 0.9, 300.0},
    {"low", {40, 1, 1, 2}, std::nullopt, 1e20},
};

const char* const kGoodCsv = "block,n100,n111,n101,n110,s_fixed,count\n"
                             "north,10,20,5,7,,30\n"
                             "\"east, upper\",30,40,10,12,,\n"
                             "\"say \"\"hi\"\"\",12,8,6,9,0.8,25\n"
                             "ridge,0,10,0,5,,40\n"
                             "\" edge \",3,4,5,6,,\n"
                             "closed\\gate,5,10,2,3,1,\n"
                             "few seen,200,0,1,0,0.9,300\n"
                             "low,40,1,1,2,,100000000000000000000\n";

using programtest::Cells;
using programtest::csvRows;
using programtest::Outcome;
using programtest::slurp;

class Estimator : public programtest::ProgramTest {
protected:
    Estimator() : ProgramTest(KESTRUM_ESTIMATE_PATH) {}

    // The files of the folder whose names begin so.
    std::vector<std::string> filesNamed(const std::string& start) const
    {
        std::vector<std::string> found;
        for (const fs::directory_entry& entry : fs::directory_iterator(dir_)) {
            if (entry.path().filename().string().starts_with(start)) {
                found.push_back(entry.path().filename().string());
            }
        }
        return found;
    }

    // The program in a folder holding survey.csv.
    Outcome run(const std::string& arguments, const std::string& survey = kGoodCsv,
                const std::string& shell = "") const
    {
        std::ofstream(dir_ / "survey.csv", std::ios::binary) << survey;
        return runProgram(arguments, shell);
    }
};

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

void expectLimit(const Cells& row, const std::string& name, const inference::Limit& limit,
                 int digits)
{
    const bool given = limit.kind != inference::LimitKind::NotGiven;
    EXPECT_EQ(row.at(name), given ? printed(limit.value, digits) : "") << name;
    EXPECT_EQ(row.at(name + "_open"), given ? (limit.open() ? "true" : "false") : "") << name;
}

// Every column of a row against the exact inference, to the digit printed.
void expectExact(const Cells& row, const Block& block, int digits)
{
    SCOPED_TRACE("block " + block.name);
    const inference::Analysis a = inference::analyse(
        {block.counts, !block.sFixed, block.sFixed.value_or(0.0), inference::Parameter::P});
    EXPECT_EQ(row.at("status"), "ok");
    EXPECT_EQ(row.at("S_free"), block.sFixed ? "false" : "true");
    EXPECT_EQ(row.at("S"), printed(a.fit.S, digits));
    EXPECT_EQ(row.at("P"), printed(a.fit.P, digits));
    EXPECT_EQ(row.at("log_likelihood"), printed(a.fit.logLikelihood, digits));
    const inference::Limit none;
    expectLimit(row, "P_lower", a.limitsP.lower, digits);
    expectLimit(row, "P_upper", a.limitsP.upper, digits);
    expectLimit(row, "S_lower", a.limitsS.given() ? a.limitsS.lower : none, digits);
    expectLimit(row, "S_upper", a.limitsS.given() ? a.limitsS.upper : none, digits);
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
    char typed[400] = "";
    if (block.count && *block.count < 1e15) {
        *std::to_chars(typed, typed + sizeof typed, *block.count, std::chars_format::fixed).ptr = 0;
    } else if (block.count) {
        *std::to_chars(typed, typed + sizeof typed, *block.count).ptr = 0;
    }
    EXPECT_EQ(row.at("count"), typed) << "as typed; past 15 digits in the shortest form";
    const auto n = inference::population(block.count.value_or(0.0), a.fit, a.limitsP);
    const bool withN = block.count && n.given() && a.fit.pBound == inference::Bound::None;
    EXPECT_EQ(row.at("N"), withN ? printed(n.estimate, digits) : "");
    expectLimit(row, "N_lower", withN ? n.lower : none, digits);
    expectLimit(row, "N_upper", withN ? n.upper : none, digits);
    EXPECT_EQ(!withN && block.count,
              row.at("warnings").find("No number of dogs") != std::string::npos);
    EXPECT_EQ(row.at("LR").empty(), row.at("fit") == "block") << "LR is the pooled row's";
}

TEST_F(Estimator, EveryNumberIsTheExactFitsAndThePooledFitThatOfTheSums)
{
    Block sums{"", {}, std::nullopt, std::nullopt};
    double separate = 0.0;
    for (const Block& b : kGood) {
        if (!b.sFixed) {
            sums.counts.n100 += b.counts.n100;
            sums.counts.n111 += b.counts.n111;
            sums.counts.n101 += b.counts.n101;
            sums.counts.n110 += b.counts.n110;
            separate += inference::analyse({b.counts}).fit.logLikelihood;
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
            EXPECT_EQ(rows[k].at("block"), kGood[k].name);
            expectExact(rows[k], kGood[k], digits);
        }
        EXPECT_EQ(rows.back().at("fit"), "pooled");
        expectExact(rows.back(), sums, digits);
    }

    const Cells pooled = csvRows(full.out).back();
    EXPECT_EQ(pooled.at("blocks"), "5");
    const double shared = inference::analyse({sums.counts}).fit.logLikelihood;
    EXPECT_NEAR(std::stod(pooled.at("LR")), 2.0 * (separate - shared), 1e-8);
    EXPECT_EQ(pooled.at("LR_df"), "8");
    EXPECT_NEAR(std::stod(pooled.at("AIC_shared")), -2.0 * shared + 4.0, 1e-8);
    EXPECT_NEAR(std::stod(pooled.at("AIC_separate")), -2.0 * separate + 20.0, 1e-8);
    EXPECT_NE(pooled.at("warnings").find("3 blocks hold S at values of their own and are"),
              std::string::npos);

    EXPECT_EQ(run("- < survey.csv").out, full.out);
    // Through a file, whole; a failed run leaves the file there was.
    EXPECT_EQ(run("-o fits.csv survey.csv").status, 0);
    EXPECT_EQ(slurp(dir_ / "fits.csv"), full.out);
    EXPECT_EQ(run("-o fits.csv survey.csv", "block,n100,n111,n101,n110\n").status, 2);
    EXPECT_EQ(slurp(dir_ / "fits.csv"), full.out);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 4)
        << "no temporary file left";
}

// JSON Lines: the CSV's rows, one whole object a line, null where CSV is empty.
TEST_F(Estimator, JsonLinesCarryWhatCsvDoes)
{
    const std::string survey = std::string(kGoodCsv) + "bad,x,1,1,1,,\n";
    const std::vector<Cells> csv = csvRows(run("survey.csv", survey).out);
    const Outcome json = run("--json survey.csv", survey);
    ASSERT_EQ(json.status, 1) << json.err;
    std::istringstream lines(json.out);
    std::size_t k = 0;
    for (std::string line; std::getline(lines, line); ++k) {
        ASSERT_LT(k, csv.size());
        const nlohmann::json row = nlohmann::json::parse(line);
        for (const auto& [name, cell] : csv[k]) {
            SCOPED_TRACE(name + " of row " + std::to_string(k));
            const nlohmann::json value = row.value(name, nlohmann::json());
            if (name == "warnings") {
                std::string joined;
                for (const auto& note : value) {
                    joined += (joined.empty() ? "" : " | ") + note["message"].get<std::string>();
                }
                EXPECT_EQ(joined, cell);
            } else if (value.is_number_float()) {
                EXPECT_EQ(value.get<double>(), std::stod(cell));
            } else if (value.is_string()) {
                EXPECT_EQ(value.get<std::string>(), cell);
            } else {
                EXPECT_EQ(value.is_null() ? "" : value.dump(), cell);
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

// Every data row gives one row, in input order: the bad ones with status "error", their line and
// reason (told on standard error too), and every numeric column reads as a number or is empty.
TEST_F(Estimator, EveryRowIsWrittenInOrderAndEveryNumberParses)
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
        {"A,1,2,3,4,0,", "s_fixed must lie above 0 and at most 1"},
        {"A,1,2,3,4,high,", "s_fixed is not a number"},
        {"A,1,2,3,4,1e-200,", "s_fixed 1e-200 gives these frequencies a likelihood of zero"},
        {"A,1,2,3,4,,-2", "count is negative"},
        {"A,1,2,3", "the record has 4 fields where the header has 7"},
        {"A,1,2,3,4,,,extra", "the record has 8 fields where the header has 7"},
        {"\"A\"x,1,2,3,4,,", "text after the closing quote of field 1"},
        // Every problem at once, the input's bytes escaped so they cannot steer a terminal.
        {"\x1b[2J,x\x1b[2J,2,-3,4,1.5,", "n100 is not a number: \"x\\x1B[2J\"; n101 is negative: "
                                         "\"-3\"; s_fixed must lie above 0 and at most 1: \"1.5\""},
        {"A," + std::string(RecordReader::kMaxRecordBytes, '7') + ",2,3,4,,",
         "the record is longer than 1 MiB"},
    };
    // The good blocks, each bad row followed by a good one, then a quote never closed.
    std::string survey = kGoodCsv;
    for (const auto& [record, reason] : bad) {
        survey += record + "\nafter,30,40,10,12,,\n";
    }
    survey += "\"open,1,2,3,4,,\nlost,1,2,3,4,,\n";
    const Outcome ran = run("survey.csv", survey);
    EXPECT_EQ(ran.status, 1);
    const std::vector<Cells> rows = csvRows(ran.out);
    ASSERT_EQ(rows.size(), kGood.size() + 2 * bad.size() + 3);

    const Block after{"after", {30, 40, 10, 12}, std::nullopt, std::nullopt};
    for (std::size_t k = 0; k < bad.size(); ++k) {
        const Cells& row = rows[kGood.size() + 2 * k];
        const std::string line = std::to_string(kGood.size() + 2 + 2 * k);
        SCOPED_TRACE(line);
        EXPECT_EQ(row.at("line"), line);
        EXPECT_EQ(row.at("status"), "error");
        EXPECT_EQ(row.at("block") == "\\u001b[2J", k + 2 == bad.size()) << "no escape goes raw";
        EXPECT_EQ(row.at("error").find(bad[k].second), 0u) << row.at("error");
        EXPECT_NE(ran.err.find("survey.csv:" + line + ": " + bad[k].second), std::string::npos);
        expectExact(rows[kGood.size() + 2 * k + 1], after, -1);
    }
    const std::string opened = std::to_string(kGood.size() + 2 + 2 * bad.size());
    const Cells& open = rows[rows.size() - 3];
    EXPECT_EQ(open.at("error"),
              "a quote opened on line " + opened + " is not closed before the end of the input");
    EXPECT_EQ(rows[rows.size() - 2].at("block"), "lost") << "the rows after it still read";
    EXPECT_EQ(rows[rows.size() - 2].at("line"), std::to_string(std::stoul(opened) + 1));
    const std::string& sameName = rows[kGood.size() + 3].at("warnings");
    EXPECT_NE(sameName.find("also on line " + std::to_string(kGood.size() + 3)), std::string::npos);
    const std::size_t failed = bad.size() + 1;
    const std::string tally =
        std::to_string(failed) + " of " + std::to_string(rows.size() - 1) + " rows failed";
    EXPECT_NE(ran.err.find(tally), std::string::npos) << ran.err;

    // As R's read.csv takes them: every numeric column numbers only.
    for (const Cells& row : rows) {
        for (const auto& [name, cell] : row) {
            if (name.ends_with("_open") || name == "S_free") {
                EXPECT_TRUE(cell.empty() || cell == "true" || cell == "false") << name;
                continue;
            }
            if (cell.empty() || name == "fit" || name == "block" || name == "status" ||
                name == "warnings" || name == "error") {
                continue;
            }
            double value = 0.0;
            const auto [end, error] =
                std::from_chars(cell.data(), cell.data() + cell.size(), value);
            EXPECT_TRUE(error == std::errc() && end == cell.data() + cell.size()) << name << cell;
        }
    }

    const std::vector<Cells> fitted = csvRows(run("--skip-failed survey.csv", survey).out);
    EXPECT_EQ(fitted.size(), rows.size() - failed);
}

// Where the library's search ends away from the exact maximum, the row gives the exact maximum
// and says where the search ended.
TEST_F(Estimator, TheExactMaximumIsReportedWhereTheSearchEndsElsewhere)
{
    const Outcome ran = run("--search survey.csv", "block,n100,n111,n101,n110,s_fixed\n"
                                                   "r,0,15,0,4,\n"
                                                   "t,37,22,0,0,0.8\n"
                                                   "b,1110000,660000,0,0,0.7970889998552644\n");
    ASSERT_EQ(ran.status, 0) << ran.err;
    const std::vector<Cells> rows = csvRows(ran.out);
    ASSERT_EQ(rows.size(), 4u);
    for (const auto& [k, S, P, logL] :
         {std::tuple{0, 0.945905302927, 0.945905302927, -12.786838788174},
          {1, 0.8, 0.655043376293, -69.302157164341},
          {2, 0.7970889998552644, 0.664746242194, 0.0}}) {
        SCOPED_TRACE(rows[k].at("block"));
        EXPECT_NEAR(std::stod(rows[k].at("S")), S, 1e-11);
        EXPECT_NEAR(std::stod(rows[k].at("P")), P, 1e-11);
        if (logL != 0.0) {
            EXPECT_NEAR(std::stod(rows[k].at("log_likelihood")), logL, 1e-9);
        }
        EXPECT_NE(rows[k].at("warnings").find("search ended elsewhere"), std::string::npos);
    }
    EXPECT_NE(rows[0].at("warnings").find("where they are equal"), std::string::npos);
    EXPECT_NE(rows[2].at("warnings").find("lower peak"), std::string::npos);
}

// Output in input order and byte for byte the same for any number of jobs, every column the
// exact reference's, rounded or in full.
TEST_F(Estimator, AnyNumberOfJobsWritesTheSameExactRows)
{
    std::mt19937 random(7);
    std::uniform_int_distribution<std::int32_t> dogs(0, 40);
    std::string survey = "block,n100,n111,n101,n110,s_fixed,count\n";
    std::vector<Block> blocks;
    while (blocks.size() < 2000) {
        const std::size_t k = blocks.size();
        Block b{"b" + std::to_string(k), {dogs(random), dogs(random), dogs(random), dogs(random)}};
        b.count = dogs(random);
        b.sFixed = k % 7 == 0 ? std::optional(0.5 + 0.05 * static_cast<double>(k % 10)) : b.sFixed;
        if (b.counts.total() > 0) {
            const Counts& n = b.counts;
            survey += b.name + "," + std::to_string(n.n100) + "," + std::to_string(n.n111) + "," +
                      std::to_string(n.n101) + "," + std::to_string(n.n110) + "," +
                      (b.sFixed ? printed(*b.sFixed, -1) : "") + "," + printed(*b.count, -1) + "\n";
            blocks.push_back(b);
        }
    }
    // With a frame the block rows wait for the totals and come back in the same order.
    for (const int digits : {-1, 4}) {
        const std::string rounding =
            digits < 0 ? " --blocks 5000" : " --digits " + std::to_string(digits);
        const Outcome one = run("-j 1" + rounding + " survey.csv", survey);
        ASSERT_EQ(one.status, 0) << one.err;
        EXPECT_TRUE(run("-j 4" + rounding + " survey.csv", survey).out == one.out);
        const std::vector<Cells> rows = csvRows(one.out);
        ASSERT_EQ(rows.size(), blocks.size() + (digits < 0 ? 3 : 1));
        for (std::size_t k = 0; k < blocks.size(); ++k) {
            expectExact(rows[k], blocks[k], digits);
        }
    }
}

// Status 2, nothing written, and the reason told.
TEST_F(Estimator, WhatCannotBeReadOrWrittenStopsTheRun)
{
    const std::string longHeader = "block,n100,n111,n101,n110," + std::string(1 << 20, 'x');
    for (const auto& [arguments, survey, told] : std::initializer_list<std::array<std::string, 3>>{
             {"survey.csv", "", "survey.csv: the input is empty"},
             {"survey.csv", "block,n100,n111,n101,n110\n", "no blocks"},
             {"survey.csv", "north,10,20,5,7\n", "lacks the columns block, n100, n111, n101, n110"},
             {"survey.csv", "block,n100,n111\nA,1,2\n", "lacks the columns n101, n110"},
             {"survey.csv", "block,n100,n111,n101,n110,N100\n", "names the column n100 twice"},
             {"survey.csv", "\"block,n100\n", "line 1, the header: a quote opened on line 1"},
             {"survey.csv", longHeader, "the header: the record is longer than 1 MiB"},
             {"--sep , survey.csv", "block;n100;n111;n101;n110\n", "lacks the column"},
             {"missing.csv", kGoodCsv, "cannot open missing.csv"},
             {".", kGoodCsv, ". is a folder"},
             {"--digits 99 survey.csv", kGoodCsv, "--digits"},
             {"--range nan survey.csv", kGoodCsv, "--range"},
             {"--plots '' survey.csv", kGoodCsv, "non-empty"},
             {"--blocks 40.5 survey.csv", kGoodCsv, "--blocks is not a whole number: \"40.5\""},
             {"--blocks -40 survey.csv", kGoodCsv, "--blocks is negative: \"-40\""},
             {"--totals-only survey.csv", kGoodCsv, "--totals-only needs the sampling frame"},
             {"--frame missing.csv survey.csv", kGoodCsv, "cannot open the frame missing.csv"},
             {"--plots survey.csv/plots survey.csv", kGoodCsv, "cannot make the plot folder"},
             {"survey.csv",
              "\xEF\xBB"
              "block,n100,n111,n101,n110\nA,1,2,3,4\n",
              "lacks the column block (the first line must name block, n100, n111, n101 and n110, "
              "and may name s_fixed and count, separated by commas, semicolons or tabs; a sheet of "
              "sightings names block, dog and visit); the input begins with part of a UTF-8 "
              "byte-order mark"},
             {"survey.csv >/dev/full", kGoodCsv, "writing the output failed"},
             {"-o /dev/full survey.csv", kGoodCsv, "writing the output failed: No space left"},
             {"survey.csv", "block,dog\nA,d\n",
              "lacks the column visit (a sheet of sightings names block, dog and visit"},
             {"survey.csv", "block,dog,visit1,visit2\n", "lacks the column visit3"},
             {"survey.csv", "block,dog,visit,Visit1\n", "names both visit and visit1"},
             {"survey.csv", "block,dog,visit,DOG\n", "names the column dog twice"},
             {"survey.csv", "block,dog,visit\n", "no blocks"},
             {"--tally survey.csv", kGoodCsv, "holds frequencies already"},
             {"--tally --json survey.csv", kGoodCsv, "--json excludes --tally"},
             {"--coverage-target 0 survey.csv", kGoodCsv, "--coverage-target"},
             {"-o /dev/full/fits.csv survey.csv", kGoodCsv, "cannot write /dev/full/fits.csv"},
             // Before the run, not after it.
             {"-o . survey.csv", kGoodCsv, "cannot write .: Is a directory"},
             {"-o new/ survey.csv", kGoodCsv, "cannot write new/: Is a directory"},
         }) {
        SCOPED_TRACE(arguments);
        const Outcome ran = run(arguments, survey);
        EXPECT_EQ(ran.status, 2);
        EXPECT_EQ(ran.out, "");
        EXPECT_NE(ran.err.find(told), std::string::npos) << ran.err;
    }
}

// A sheet of sightings is fitted as the frequency survey it tallies to: directly (unsorted, from a
// file and from a pipe), through --tally and read back, and as one row per dog, the same fits.
// What the sheet gets wrong is told with its lines; the share of dogs marked has limits inside
// 0..1, and each stratum counts the dogs still to vaccinate.
TEST_F(Estimator, SightingsAreFittedAsTheirTally)
{
    std::mt19937 random(11);
    std::uniform_real_distribution<double> uniform(0.0, 1.0);
    std::string dogRows[6];
    std::vector<std::string> sightings;
    for (int b = 0; b < 6; ++b) {
        const std::string block = "b" + std::to_string(b);
        const std::string stratum = b < 3 ? "centre" : "edge";
        for (int d = 0; d < 25; ++d) {
            bool seen[3];
            for (bool& s : seen) {
                s = uniform(random) < 0.6;
            }
            seen[0] = seen[0] || d == 0;
            seen[2] = seen[2] || !(seen[0] || seen[1]); // a dog on the sheet was seen
            const bool marked = uniform(random) < 0.3 + 0.1 * b || (b == 1 && d == 0);
            const std::string dog = block + "-" + std::to_string(d);
            const std::string count = d == 0 ? std::to_string(30 + b) : "";
            dogRows[b] += block + "," + stratum + "," + dog + "," + (seen[0] ? "x" : "") + "," +
                          (seen[1] ? "yes" : "no") + "," + (seen[2] ? "1" : "") + "," +
                          (marked ? "yes" : "no") + "," + count + ",T" + std::to_string(b % 2) +
                          "\n";
            bool first = true;
            for (int k = 0; k < 3; ++k) {
                if (seen[k]) {
                    // The mark on the dog's first sighting only, as a team would note it.
                    sightings.push_back(
                        block + "," + stratum + "," + dog + "," + std::to_string(k + 1) + "," +
                        (first ? (marked ? "Y" : "n") : "") + "," + (first ? count : "") + ",T" +
                        std::to_string(b % 2) + "," + (k == 0 ? "\"new, seen\"" : "again") + "\n");
                    first = false;
                }
            }
        }
    }
    std::shuffle(sightings.begin(), sightings.end(), random);
    std::string sheet = "block,stratum,dog,visit,marked,count,team,notes\n";
    // One row per dog with the blocks in the order the sightings first name them, so that every
    // sum over blocks is taken in the same order.
    std::string dogSheet = "block,stratum,dog,visit1,visit2,visit3,marked,count,team\n";
    for (const std::string& row : sightings) {
        sheet += row;
        std::string& rows = dogRows[row[1] - '0'];
        dogSheet += rows;
        rows.clear();
    }
    // A sighting entered twice, and a mark the other way: neither changes the tally.
    const std::size_t twice = sightings.size() + 2;
    sheet += "b4,edge,b4-0,1,,,T0,again\n";
    sheet += "b1,centre,b1-0,1,no,,T1,again\n"; // marked on its first sighting
    std::ofstream(dir_ / "frame.csv") << "stratum,blocks\ncentre,20\nedge,6\n";

    const Outcome direct = run("--frame frame.csv survey.csv", sheet);
    ASSERT_EQ(direct.status, 0) << direct.err;
    for (const std::string& told :
         {"survey.csv:" + std::to_string(twice) +
              ": warning: dog entered twice for one visit, counted once: \"b4-0\" on visit 1 "
              "(lines ",
          "survey.csv:" + std::to_string(twice + 1) +
              ": warning: dog marked on one sighting and not on another, counted as marked: "
              "\"b1-0\""}) {
        EXPECT_NE(direct.err.find(told), std::string::npos) << direct.err;
    }
    const Outcome tally = run("--tally survey.csv", sheet);
    ASSERT_EQ(tally.status, 0) << tally.err;
    EXPECT_EQ(tally.out.substr(0, tally.out.find('\n')),
              "block,stratum,n100,n111,n101,n110,count,marked,seen_visit1,seen_visit2,seen_visit3,"
              "new_dogs,team,notes");
    const std::vector<Cells> rows = csvRows(direct.out);
    ASSERT_EQ(rows.size(), 6u + 1 + 3);
    const std::map<std::string, std::vector<Cells>> others{
        {"--tally, read back", csvRows(run("--frame frame.csv survey.csv", tally.out).out)},
        {"from a pipe", csvRows(run("--frame frame.csv -", sheet, "cat survey.csv | ").out)},
        {"one row per dog", csvRows(run("--frame frame.csv survey.csv", dogSheet).out)},
    };
    for (const auto& [how, other] : others) {
        SCOPED_TRACE(how);
        ASSERT_EQ(other.size(), rows.size());
        for (std::size_t k = 0; k < rows.size(); ++k) {
            const auto same = std::find_if(other.begin(), other.end(), [&](const Cells& row) {
                return row.at("fit") == rows[k].at("fit") &&
                       row.at("block") == rows[k].at("block") &&
                       row.at("stratum") == rows[k].at("stratum");
            });
            ASSERT_NE(same, other.end());
            EXPECT_EQ(same - other.begin(), static_cast<std::ptrdiff_t>(k)) << "in order";
            for (const auto& [name, cell] : rows[k]) {
                // The lines are those of each file, and the notes those of one row per dog.
                if (name != "line" && name != "warnings" &&
                    (name != "notes" || how != "one row per dog")) {
                    EXPECT_EQ(same->at(name), cell) << name << " of row " << k;
                }
            }
            EXPECT_EQ(same->count("notes"), how == "one row per dog" ? 0u : 1u);
        }
    }

    // Blocks in the order of their first lines, each dog once; the share marked of the dogs seen
    // on visit 1 with Wilson's limits; the notes of a block's sightings, each once.
    std::size_t lastLine = 0;
    for (std::size_t k = 0; k < 6; ++k) {
        const Cells& row = rows[k];
        SCOPED_TRACE(row.at("block"));
        EXPECT_GT(std::stoul(row.at("line")), lastLine);
        lastLine = std::stoul(row.at("line"));
        const inference::Share share =
            inference::wilson(std::stod(row.at("marked")), std::stod(row.at("seen_visit1")));
        EXPECT_EQ(row.at("coverage"), printed(share.estimate, -1));
        EXPECT_EQ(row.at("coverage_lower"), printed(share.lower, -1));
        EXPECT_EQ(row.at("coverage_upper"), printed(share.upper, -1));
        EXPECT_EQ(row.at("count"), std::to_string(30 + std::stoi(row.at("block").substr(1))));
        EXPECT_EQ(std::stoi(row.at("seen_visit1")) + std::stoi(row.at("new_dogs")), 25)
            << "every dog seen on some visit";
        EXPECT_TRUE(row.at("notes") == "new, seen | again" ||
                    row.at("notes") == "again | new, seen")
            << row.at("notes");
        EXPECT_EQ(row.at("to_vaccinate"), "");
    }
    EXPECT_NE(rows[0].at("warnings").find("Dogs entered twice") == std::string::npos,
              rows[0].at("block") == "b4");
    // Each stratum's share of its dogs, and the city's between them; the dogs still to mark.
    const auto number = [](const Cells& row, const char* name) { return std::stod(row.at(name)); };
    for (std::size_t k = 7; k < 10; ++k) {
        const Cells& row = rows[k];
        SCOPED_TRACE(row.at("fit") + " " + row.at("stratum"));
        EXPECT_TRUE(0.0 < number(row, "coverage_lower") &&
                    number(row, "coverage_lower") < number(row, "coverage") &&
                    number(row, "coverage") < number(row, "coverage_upper") &&
                    number(row, "coverage_upper") < 1.0);
        EXPECT_NEAR(number(row, "to_vaccinate"),
                    number(row, "total") * std::max(0.0, 0.7 - number(row, "coverage")), 1e-9);
    }
    EXPECT_GT(number(rows[9], "coverage"),
              std::min(number(rows[7], "coverage"), number(rows[8], "coverage")));
    EXPECT_LT(number(rows[9], "coverage"),
              std::max(number(rows[7], "coverage"), number(rows[8], "coverage")));
    EXPECT_NE(rows[6].at("coverage"), "") << "the survey's, weighted by the blocks' counts";
    const std::vector<Cells> high =
        csvRows(run("--coverage-target 0.95 --frame frame.csv survey.csv", sheet).out);
    for (std::size_t k = 6; k < 10; ++k) {
        EXPECT_EQ(number(high[k], "coverage_upper") < 0.95,
                  high[k].at("warnings").find("below the target of 95.0%") != std::string::npos)
            << high[k].at("warnings");
    }
    EXPECT_GT(number(high[9], "to_vaccinate"), number(rows[9], "to_vaccinate"));
}

// Columns the tool does not read travel to each block row, after the tool's, named as R and
// pandas name them and read back as they read the input: a decimal comma as a point, in JSON a
// number where the cell is one, null where it is empty.
TEST_F(Estimator, TheSurveysOwnColumnsTravel)
{
    const std::string survey = "block;n100;n111;n101;n110;team;P;;notes;gps;marked\n"
                               "north;10;20;5;7;A;x;;\"a; b\";1,5;30\n"
                               "south;3;4;5;6;007;;; ;-0,25;\n"
                               "over;10;20;5;7;B;;;;;43\n"
                               "short;1;2\n";
    const Outcome ran = run("survey.csv", survey);
    ASSERT_EQ(ran.status, 1) << ran.err;
    EXPECT_NE(ran.err.find("survey.csv:4: marked is 43, more than the 42 dogs identified on the "
                           "first count"),
              std::string::npos)
        << ran.err;
    const std::string header = ran.out.substr(0, ran.out.find('\n'));
    EXPECT_TRUE(header.ends_with(",to_vaccinate,team,P.1,column_8,notes,gps")) << header;
    const std::vector<Cells> rows = csvRows(ran.out);
    ASSERT_EQ(rows.size(), 5u);
    const std::array<std::array<const char*, 6>, 5> own{{
        {"A", "x", "", "a; b", "1.5", "30"},
        {"007", "", "", "", "-0.25", ""},
        {"B", "", "", "", "", "43"},
        {"", "", "", "", "", ""},
        {"", "", "", "", "", ""},
    }};
    for (std::size_t k = 0; k < rows.size(); ++k) {
        SCOPED_TRACE(k);
        EXPECT_EQ(rows[k].at("team") + "|" + rows[k].at("P.1") + "|" + rows[k].at("column_8") +
                      "|" + rows[k].at("notes") + "|" + rows[k].at("gps") + "|" +
                      rows[k].at("marked"),
                  std::string(own[k][0]) + "|" + own[k][1] + "|" + own[k][2] + "|" + own[k][3] +
                      "|" + own[k][4] + "|" + (k == 2 ? "" : own[k][5]));
    }
    EXPECT_EQ(rows[0].at("coverage"), printed(30.0 / 42, -1));
    EXPECT_EQ(rows[1].at("coverage"), "") << "no marked count";
    EXPECT_EQ(rows[2].at("status") + rows[3].at("status"), "errorerror");

    std::istringstream lines(run("--json survey.csv", survey).out);
    std::vector<nlohmann::json> json;
    for (std::string line; std::getline(lines, line);) {
        json.push_back(nlohmann::json::parse(line));
    }
    ASSERT_EQ(json.size(), 5u);
    EXPECT_EQ(json[0]["gps"], 1.5);
    EXPECT_EQ(json[0]["P.1"], "x");
    EXPECT_TRUE(json[0]["column_8"].is_null());
    EXPECT_EQ(json[1]["team"], "007") << "text, as written";
    EXPECT_EQ(json[1]["gps"], -0.25);
    EXPECT_EQ(json[2]["team"], "B") << "an error row carries its cells";
    EXPECT_FALSE(json[4].contains("team")) << "the pooled row has none";
    EXPECT_TRUE(json[0]["P"].is_number()) << "the tool's own P, beside the survey's P.1";
}

// Each stratum's total is its frame's blocks over the blocks used times the sum of the N that the
// block rows say went into it; every block sampled is counted or named.
TEST_F(Estimator, TotalsByStratumFromTheBlockRows)
{
    const std::string survey = "block,stratum,n100,n111,n101,n110,count\n"
                               "market,centre,10,20,5,7,30\n"
                               "station,centre,30,40,10,12,45\n"
                               "square,centre,12,8,6,9,\n"
                               "lane,centre,0,0,0,0,0\n"
                               "yard,centre,1,x,1,1,3\n"
                               "river,edge,3,4,5,6,20\n"
                               "farm,edge,20,25,8,10,18\n"
                               "mill,edge,15,30,6,9,22\n";
    // edge: the frame holds no more blocks than are sampled.
    std::ofstream(dir_ / "frame.csv") << "stratum,blocks\ncentre,12\nedge,3\n";
    const Outcome full = run("--frame frame.csv survey.csv", survey);
    ASSERT_EQ(full.status, 1) << full.err;
    const std::vector<Cells> rows = csvRows(full.out);
    ASSERT_EQ(rows.size(), 8u + 1 + 3);
    const auto in = [&](std::size_t k) { return std::stod(rows[k].at("N_in_total")); };
    for (const std::size_t k : {0u, 1u, 3u, 5u, 6u, 7u}) {
        const double P = std::stod(rows[k].at("P_in_total"));
        EXPECT_NEAR(in(k)*P, std::stod(rows[k].at("count")), 1e-12 * in(k));
        EXPECT_TRUE(P >= 0.01 && P <= 0.99) << P;
    }
    EXPECT_EQ(rows[3].at("status") + rows[3].at("P") + rows[3].at("N"), "ok") << "lane: no dogs";
    EXPECT_EQ(rows[2].at("N_in_total"), "") << "square has no count";
    const double centre = 12.0 / 3 * (in(0) + in(1) + in(3));
    const double edge = in(5) + in(6) + in(7);
    const std::tuple<const char*, double, std::vector<const char*>> expected[] = {
        {"stratum centre 5 3 12 stratum",
         centre,
         {"with no street count: \"square\" (line 4)", "No dog was identified in \"lane\"",
          "not read, so left out of the total, which the other blocks give: line 6."}},
        {"stratum edge 3 3 3 stratum", edge, {}},
        {"total  8 6 15 stratum", centre + edge, {}},
    };
    for (std::size_t k = 0; k < 3; ++k) {
        const Cells& row = rows[9 + k];
        const auto& [cells, total, told] = expected[k];
        EXPECT_EQ(row.at("fit") + " " + row.at("stratum") + " " + row.at("blocks_sampled") + " " +
                      row.at("blocks_used") + " " + row.at("frame_blocks") + " " + row.at("method"),
                  cells);
        EXPECT_NEAR(std::stod(row.at("total")), total, 1e-12 * total);
        EXPECT_LT(std::stod(row.at("total_lower")), std::stod(row.at("total")));
        EXPECT_LT(std::stod(row.at("total")), std::stod(row.at("total_upper")));
        EXPECT_EQ(row.at("P").empty(), k == 2) << "each stratum's own P";
        for (const char* text : told) {
            EXPECT_NE(row.at("warnings").find(text), std::string::npos) << row.at("warnings");
        }
    }

    // Each block's own P, and blocks without one left out and named; one P for the survey.
    const std::vector<Cells> byBlock =
        csvRows(run("--p-by block --frame frame.csv survey.csv", survey).out);
    const auto N = [&](std::size_t k) { return std::stod(byBlock[k].at("N")); };
    EXPECT_NEAR(std::stod(byBlock[9].at("total")), 12.0 / 2 * (N(0) + N(1)), 1e-9);
    EXPECT_NEAR(std::stod(byBlock[10].at("total")), 3.0 / 2 * (N(6) + N(7)), 1e-9);
    EXPECT_NE(byBlock[10].at("warnings").find("no standard error of P: \"river\" (line 7)"),
              std::string::npos);
    EXPECT_EQ(byBlock[0].at("N_in_total") + byBlock[10].at("P") + byBlock[10].at("method"),
              "block");
    const std::vector<Cells> bySurvey =
        csvRows(run("--p-by survey --frame frame.csv survey.csv", survey).out);
    EXPECT_EQ(bySurvey[9].at("P"), bySurvey[11].at("P"));
    EXPECT_EQ(bySurvey[10].at("P"), bySurvey[11].at("P"));
    EXPECT_NEAR(std::stod(bySurvey[11].at("total")),
                std::stod(bySurvey[9].at("total")) + std::stod(bySurvey[10].at("total")), 1e-9);
    EXPECT_EQ(rows[0].at("stratum"), "centre");

    // A frame as a spreadsheet of another locale writes it, read as the survey would be.
    std::ofstream(dir_ / "frame;.csv")
        << "\xEF\xBB\xBFstratum;blocks\r\ncentre;+12\r\nedge;3,0\r\n";
    EXPECT_EQ(run("--frame 'frame;.csv' survey.csv", survey).out, full.out);

    // Only the totals rows, the same in CSV and JSON.
    const Outcome only = run("--frame frame.csv --totals-only survey.csv", survey);
    EXPECT_EQ(only.out, full.out.substr(0, full.out.find('\n') + 1) +
                            full.out.substr(full.out.find("\nstratum,") + 1));
    std::istringstream json(run("--json --frame frame.csv --totals-only survey.csv", survey).out);
    std::string line;
    for (std::size_t k = 9; k < rows.size(); ++k) {
        ASSERT_TRUE(std::getline(json, line));
        EXPECT_EQ(printed(nlohmann::json::parse(line)["total_upper"].get<double>(), -1),
                  rows[k].at("total_upper"));
    }
    EXPECT_FALSE(std::getline(json, line)) << "only the totals rows";

    // A stratum of the frame that the survey never sampled leaves the city without a total.
    // Those rows fail the run, and say so.
    std::ofstream(dir_ / "frame.csv") << "stratum,blocks\ncentre,12\nedge,3\nhills,40\n";
    const Outcome withoutHills = run("--frame frame.csv --totals-only survey.csv", survey);
    EXPECT_EQ(withoutHills.status, 1);
    EXPECT_NE(withoutHills.err.find("survey.csv: the row of stratum \"hills\": no total"),
              std::string::npos)
        << withoutHills.err;
    EXPECT_NE(withoutHills.err.find("survey.csv: the total row: no total"), std::string::npos);
    EXPECT_NE(withoutHills.err.find("2 summary rows failed"), std::string::npos);
    const std::vector<Cells> unsampled = csvRows(withoutHills.out);
    ASSERT_EQ(unsampled.size(), 4u);
    for (const Cells& row : {unsampled[2], unsampled[3]}) {
        EXPECT_EQ(row.at("total") + row.at("total_lower") + row.at("dogs_per_block"), "");
    }
    EXPECT_NE(unsampled[3].at("warnings").find("strata have none: \"hills\""), std::string::npos);

    // A frame that does not describe the survey is refused, naming what does not fit.
    for (const auto& [frame, options, told] : std::initializer_list<std::array<const char*, 3>>{
             {"stratum,blocks\ncentre,12\n", "--frame frame.csv",
              "line 7: stratum \"edge\" is not in the frame frame.csv"},
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

    // Every row before the block that stops the run is written, whatever the number of jobs.
    std::string large = "block,stratum,n100,n111,n101,n110,count\n";
    for (int k = 0; k < 1000; ++k) {
        large += "b" + std::to_string(k) + ",centre,10,20,5,7,30\n";
    }
    large += "lost,hills,10,20,5,7,30\n";
    std::ofstream(dir_ / "frame.csv") << "stratum,blocks\ncentre,2000\n";
    const Outcome one = run("-j 1 --frame frame.csv survey.csv", large);
    EXPECT_EQ(one.status, 2);
    EXPECT_EQ(csvRows(one.out).size(), 1000u);
    for (const char* jobs : {"-j 2", "-j 7"}) {
        EXPECT_TRUE(run(std::string(jobs) + " --frame frame.csv survey.csv", large).out == one.out)
            << jobs;
    }
}

// The pooled row of a survey too large to pool fails the run, and says so.
TEST_F(Estimator, APooledRowThatFailsIsTold)
{
    const Outcome ran = run("survey.csv", "block,n100,n111,n101,n110\n"
                                          "a,2000000000,10,20,30\n"
                                          "b,2000000000,10,20,30\n");
    EXPECT_EQ(ran.status, 1);
    EXPECT_NE(ran.err.find("survey.csv: the pooled row: no pooled fit: a summed frequency exceeds "
                           "2147483647"),
              std::string::npos)
        << ran.err;
    EXPECT_NE(ran.err.find("1 summary row failed"), std::string::npos);
    EXPECT_EQ(ran.err.find("rows failed"), std::string::npos) << "every block was fitted";
    EXPECT_EQ(csvRows(ran.out).back().at("status"), "error");
}

// A count is written as typed: a whole number in plain digits up to 15 of them (in JSON an
// integer), anything else in its shortest form, and never as -0.
TEST_F(Estimator, CountsAreWrittenAsTyped)
{
    const std::array<std::array<const char*, 3>, 6> counts{{
        {"-0", "0", "0"},
        {"+12", "12", "12"},
        {"999999999999999", "999999999999999", "999999999999999"},
        {"1000000000000000", "1e+15", "1e+15"},
        {"1.7e308", "1.7e+308", "1.7e+308"},
        {"12.50", "12.5", "12.5"},
    }};
    std::string survey = "block,n100,n111,n101,n110,count\n";
    for (const auto& [typed, csv, json] : counts) {
        survey += std::string("b,10,20,5,7,") + typed + "\n";
    }
    const Outcome ran = run("survey.csv", survey);
    ASSERT_EQ(ran.status, 0) << ran.err;
    const std::vector<Cells> rows = csvRows(ran.out);
    std::istringstream lines(run("--json survey.csv", survey).out);
    for (std::size_t k = 0; k < counts.size(); ++k) {
        SCOPED_TRACE(counts[k][0]);
        EXPECT_EQ(rows[k].at("count"), counts[k][1]);
        std::string line;
        ASSERT_TRUE(std::getline(lines, line));
        EXPECT_EQ(nlohmann::json::parse(line)["count"].dump(), counts[k][2]);
    }
    EXPECT_EQ(rows[0].at("N"), "0");
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

// -o writes what a name leads to, as a shell's redirection would: through links to their file,
// straight into a FIFO or a device; a file the user may not write is refused.
TEST_F(Estimator, OutputGoesWhereTheNameLeads)
{
    const std::string expected = run("survey.csv").out;

    // Links, a chain of two and one to a file yet to be made, stay links to what was written.
    fs::create_directory(dir_ / "real");
    std::ofstream(dir_ / "real" / "fits.csv") << "old\n";
    fs::create_symlink("real/fits.csv", dir_ / "link.csv");
    fs::create_symlink("link.csv", dir_ / "chain.csv");
    fs::create_symlink("real/new.csv", dir_ / "dangling.csv");
    for (const auto& [name, target] : {std::pair{"link.csv", "real/fits.csv"},
                                       {"chain.csv", "real/fits.csv"},
                                       {"dangling.csv", "real/new.csv"}}) {
        SCOPED_TRACE(name);
        std::ofstream(dir_ / "real" / "fits.csv") << "old\n";
        EXPECT_EQ(run(std::string("-o ") + name + " survey.csv").status, 0);
        EXPECT_TRUE(fs::is_symlink(dir_ / name));
        EXPECT_EQ(slurp(dir_ / target), expected);
    }

    // A FIFO, read here: held open for reading and writing, it takes the output into its buffer
    // without a reader waiting, and a FIFO replaced by a file would leave it empty.
    ASSERT_EQ(::mkfifo((dir_ / "fifo").c_str(), 0600), 0);
    const int fifo = ::open((dir_ / "fifo").c_str(), O_RDWR | O_NONBLOCK);
    ASSERT_GE(fifo, 0);
    EXPECT_EQ(run("-o fifo survey.csv").status, 0);
    std::string read(expected.size() + 1, '\0');
    const ssize_t got = ::read(fifo, read.data(), read.size());
    ::close(fifo);
    EXPECT_EQ(read.substr(0, static_cast<std::size_t>(std::max<ssize_t>(got, 0))), expected);
    EXPECT_TRUE(fs::is_fifo(dir_ / "fifo"));

    // A device: the system's /dev/null for anyone but root, who could replace it; root writes to
    // a node of its own.
    std::string null = "/dev/null";
    if (::geteuid() == 0 && ::mknod((dir_ / "null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0) {
        null = (dir_ / "null").string();
    }
    if (::geteuid() != 0 || null != "/dev/null") {
        const Outcome ran = run("-o " + null + " survey.csv");
        EXPECT_EQ(ran.status, 0) << ran.err;
        EXPECT_TRUE(fs::is_character_file(null));
    }

    // Root may write any file, as with a shell; anyone else is refused one that is write-protected.
    if (::geteuid() != 0) {
        std::ofstream(dir_ / "kept.csv") << "old\n";
        fs::permissions(dir_ / "kept.csv", fs::perms::owner_read);
        const Outcome ran = run("-o kept.csv survey.csv");
        EXPECT_EQ(ran.status, 2);
        EXPECT_NE(ran.err.find("cannot write kept.csv: Permission denied"), std::string::npos);
        EXPECT_EQ(slurp(dir_ / "kept.csv"), "old\n");
    }
    EXPECT_TRUE(filesNamed(".").empty()) << "no temporary file left";
}

// SIGINT, SIGTERM or SIGHUP part-way through -o: the old file stays, the temporary one goes, and
// the program ends by the signal, as a shell expects.
TEST_F(Estimator, ASignalPartWayLeavesTheOldOutput)
{
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(::strsignal(signal));
        std::ofstream(dir_ / "fits.csv") << "old\n";
        int input[2];
        ASSERT_EQ(::pipe(input), 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, input[0], STDIN_FILENO);
        posix_spawn_file_actions_addclose(&actions, input[1]);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, (dir_ / "stderr").c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
        // Not to inherit a signal the test itself was started to ignore.
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        sigset_t defaults;
        sigemptyset(&defaults);
        sigaddset(&defaults, signal);
        posix_spawnattr_setsigdefault(&attributes, &defaults);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
        std::string program = program_;
        std::string option = "-o";
        std::string output = (dir_ / "fits.csv").string();
        char* const argv[] = {program.data(), option.data(), output.data(), nullptr};
        pid_t pid = 0;
        ASSERT_EQ(::posix_spawn(&pid, program.c_str(), &actions, &attributes, argv, environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
        ::close(input[0]);
        const std::string rows = "block,n100,n111,n101,n110\nnorth,10,20,5,7\n";
        EXPECT_EQ(::write(input[1], rows.data(), rows.size()), static_cast<ssize_t>(rows.size()));
        // Once the temporary file is there, the program waits for more rows.
        int status = 0;
        bool ended = false;
        while (filesNamed(".fits.csv.").empty() && !ended) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            ended = ::waitpid(pid, &status, WNOHANG) == pid;
        }
        ASSERT_FALSE(ended) << "ended before the signal, with status " << status;
        ::kill(pid, signal);
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        ::close(input[1]);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << status;
        EXPECT_EQ(slurp(dir_ / "fits.csv"), "old\n");
        EXPECT_TRUE(filesNamed(".fits.csv.").empty()) << "the temporary file is removed";
    }
}

// A full disk part-way: standard output ends on a whole row, -o leaves the file there was, and
// no plot is left half-written, each told, with the rows fitted. A file size limit stands in for
// the disk: a write past it fails as one past a full disk's space does.
TEST_F(Estimator, AFullDiskLeavesNothingHalfWritten)
{
    const std::string full = "ulimit -f 8 && trap '' XFSZ && ";
    std::string survey = "block,n100,n111,n101,n110\n";
    for (int k = 0; k < 100; ++k) {
        survey += "b" + std::to_string(k) + ",10,20,5,7\n";
    }
    const Outcome ran = run("survey.csv", survey, full);
    EXPECT_EQ(ran.status, 2);
    EXPECT_NE(ran.err.find("writing the output failed: File too large"), std::string::npos)
        << ran.err;
    ASSERT_FALSE(ran.out.empty());
    EXPECT_EQ(ran.out.back(), '\n');
    EXPECT_EQ(ran.out.find('\0'), std::string::npos);
    EXPECT_GT(csvRows(ran.out).size(), 0u);

    std::ofstream(dir_ / "fits.csv") << "old\n";
    EXPECT_EQ(run("-o fits.csv survey.csv", survey, full).status, 2);
    EXPECT_EQ(slurp(dir_ / "fits.csv"), "old\n");
    EXPECT_EQ(filesNamed(".fits.csv.").size(), 0u);

    // Each plot is larger than the limit; the rows are not.
    const Outcome plots =
        run("--plots plots survey.csv",
            "block,n100,n111,n101,n110\nnorth,10,20,5,7\nsouth,30,40,10,12\n", full);
    EXPECT_EQ(plots.status, 1);
    EXPECT_EQ(csvRows(plots.out).size(), 3u);
    for (const char* told : {"survey.csv:2: the plot could not be saved to plots/north.png: File",
                             "survey.csv:3: the plot could not be saved to plots/south.png: File",
                             "kestrum-estimate: 2 of 2 plots were not saved\n"}) {
        EXPECT_NE(plots.err.find(told), std::string::npos) << plots.err;
    }
    EXPECT_EQ(plots.err.find("rows failed"), std::string::npos) << "every row was fitted";
    EXPECT_TRUE(fs::is_empty(dir_ / "plots")) << "no empty or partial plot";
}

// A plot module cut short would be mapped all the same, and kill the program at the first touch
// of the missing part: it is checked, and said to be damaged.
TEST_F(Estimator, ADamagedPlotModuleIsToldNotLoaded)
{
    const fs::path built(KESTRUM_ESTIMATE_PATH);
    fs::create_directory(dir_ / "bin");
    fs::copy_file(built, dir_ / "bin" / "kestrum-estimate");
    program_ = (dir_ / "bin" / "kestrum-estimate").string();
    const std::string module = slurp(built.parent_path() / "kestrum-estimate-plots.so");
    ASSERT_GT(module.size(), 100000u);
    for (const auto& [bytes, told] : std::initializer_list<std::pair<std::string, const char*>>{
             {module.substr(0, 40), "40 bytes, shorter than the header of a library"},
             {module.substr(0, module.size() / 2), "it is cut short"},
             {module.substr(0, module.size() - 1), "it is cut short"},
             {std::string(200, '#'), "it is not a library"},
         }) {
        SCOPED_TRACE(told);
        std::ofstream(dir_ / "bin" / "kestrum-estimate-plots.so", std::ios::binary) << bytes;
        const Outcome ran = run("--plots plots survey.csv");
        EXPECT_EQ(ran.status, 2);
        EXPECT_NE(ran.err.find("kestrum-estimate-plots.so: the file is damaged ("),
                  std::string::npos)
            << ran.err;
        EXPECT_NE(ran.err.find(told), std::string::npos) << ran.err;
        EXPECT_EQ(ran.out, "");
    }
}

} // namespace
} // namespace kestrum::survey
