// The built kestrum-plan run as a script runs it: exit status, messages, and the columns and files
// it writes.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <QImage>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "ProgramRun.h"
#include "SurveyReader.h"

namespace kestrum::survey {
namespace {

namespace fs = std::filesystem;

const char* const kPlan = "stratum,blocks,dogs_per_block,dogs_cv,P,S\n"
                          "centre,40,25,0.4,0.6,0.8\n"
                          "town,120,15,0.5,0.5,0.85\n"
                          "edge,300,8,0.5,0.45,0.9\n";

using programtest::Cells;
using programtest::csvRows;
using programtest::Outcome;
using programtest::slurp;

class Planner : public programtest::ProgramTest {
protected:
    Planner() : ProgramTest(KESTRUM_PLAN_PATH) {}

    void SetUp() override
    {
        ProgramTest::SetUp();
        std::ofstream(dir_ / "plan.csv") << kPlan;
        std::ofstream(dir_ / "p1.csv") << "stratum,blocks,dogs_per_block,dogs_cv,P,S\n"
                                          "hill,10,5,0.5,1,0.5\n";
        std::ofstream(dir_ / "pilot.csv") << "block,stratum,n100,n111,n101,n110,count\n"
                                             "a1,centre,10,20,5,7,30\n"
                                             "a2,centre,30,40,10,12,45\n"
                                             "a3,centre,x,8,6,9,25\n";
        std::ofstream(dir_ / "frame.csv") << "stratum,blocks\ncentre,12\n";
    }
    Outcome run(const std::string& arguments) const { return runProgram(arguments); }
};

TEST_F(Planner, ExitStatusAndMessageNameTheProblem)
{
    const struct {
        const char* arguments;
        int status;
        bool rows; // the plan written to standard output
        const char* says;
        const char* shell = ""; // run before the program
    } cases[] = {
        {"--target 20 plan.csv", 0, true, ""},
        {"--target 10 --pilot pilot.csv --frame frame.csv", 0, true,
         "pilot.csv:4: n100 is not a number"},
        {"--blocks 500 plan.csv", 0, true, "the plan counts every block"},
        {"--blocks 5 plan.csv", 1, false, "a budget of 5 blocks is below the 6"},
        {"--target 1 plan.csv", 1, false,
         "±1% cannot be reached: counting every block (460 blocks, 1380 team-days) gives ±"},
        {"plan.csv", 2, false, "give --target PCT"},
        {"--target 20", 2, false, "give a plan file"},
        {"--target 20 --blocks 9 plan.csv", 2, false, "excludes"},
        {"--target 20 p1.csv", 2, false,
         "p1.csv:2: stratum \"hill\": P is 1: it must lie strictly"},
        {"--target 20 none.csv", 2, false, "cannot open none.csv"},
        {"--target 20 --pilot pilot.csv", 2, false, "requires --frame"},
        {"--target 20 plan.csv >/dev/full", 2, false, "cannot write the plan"},
        {"--target 20 --curve no/such/folder.csv plan.csv", 2, true,
         "cannot write no/such/folder.csv"},
        // A disk that fills under a file small enough for Qt to buffer (1,777 bytes).
        {"--blocks 6 --curve curve.csv plan.csv >/dev/null", 2, false,
         "cannot write curve.csv: File too large", "ulimit -f 2 && trap '' XFSZ && "},
        {"--target 20 --plot curve.gif plan.csv", 2, false, "must end in .png or .pdf"},
    };
    for (const auto& c : cases) {
        const Outcome outcome = runProgram(c.arguments, c.shell);
        EXPECT_EQ(outcome.status, c.status) << c.arguments << "\n" << outcome.err;
        EXPECT_NE(outcome.err.find(c.says), std::string::npos) << c.arguments << "\n"
                                                               << outcome.err;
        EXPECT_EQ(!outcome.out.empty(), c.rows) << c.arguments;
    }
}

TEST_F(Planner, RowsCurveAndPicturesAreWritten)
{
    const Outcome csv = run("--blocks 30 --blocks-per-day 2 --digits 3 --curve curve.csv "
                            "--plot curve.png plan.csv");
    ASSERT_EQ(csv.status, 0) << csv.err;
    EXPECT_EQ(csv.err, "");
    const std::vector<Cells> rows = csvRows(csv.out);
    ASSERT_EQ(rows.size(), 4u);
    for (const char* column :
         {"stratum", "frame_blocks", "blocks_to_count", "dogs_identified_per_block", "se_P",
          "total", "total_se", "half_width_pct", "team_days"}) {
        EXPECT_EQ(rows[0].count(column), 1u) << column;
    }
    EXPECT_EQ(rows[3].at("stratum"), "");
    EXPECT_EQ(rows[3].at("frame_blocks"), "460");
    EXPECT_EQ(rows[3].at("blocks_to_count"), "30");
    EXPECT_EQ(rows[3].at("team_days"), "45.000");
    EXPECT_EQ(rows[3].at("total"), "5200.000");
    EXPECT_EQ(rows[0].at("dogs_identified_per_block"), "15.000");

    const std::vector<Cells> curve = csvRows(slurp(dir_ / "curve.csv"));
    ASSERT_GT(curve.size(), 30u);
    EXPECT_EQ(curve.front().at("blocks"), "6");
    EXPECT_EQ(curve.front().at("added_to"), "");
    EXPECT_EQ(curve[24].at("blocks"), "30");
    EXPECT_EQ(curve[24].at("half_width_pct"), rows[3].at("half_width_pct"));
    const QImage picture(QString::fromStdString((dir_ / "curve.png").string()));
    EXPECT_EQ(picture.size(), QSize(949, 381));

    ASSERT_EQ(run("--target 20 --plot curve.PDF plan.csv").status, 0);
    EXPECT_EQ(slurp(dir_ / "curve.PDF").substr(0, 5), "%PDF-");

    const Outcome json = run("--target 20 --json --simulate 40 -j 1 plan.csv");
    ASSERT_EQ(json.status, 0) << json.err;
    std::vector<nlohmann::json> objects;
    std::istringstream lines(json.out);
    for (std::string line; std::getline(lines, line);) {
        objects.push_back(nlohmann::json::parse(line));
    }
    ASSERT_EQ(objects.size(), 4u);
    EXPECT_TRUE(objects[3]["stratum"].is_null());
    EXPECT_EQ(objects[3]["simulated_surveys"], 40);
    EXPECT_GT(objects[3]["simulated_coverage"].get<double>(), 0.5);
    EXPECT_NEAR(objects[3]["simulated_half_width_pct"].get<double>() /
                    objects[3]["half_width_pct"].get<double>(),
                1.0, 0.15);
    EXPECT_EQ(run("--target 20 --json --simulate 40 -j 3 plan.csv").out, json.out);
}

} // namespace
} // namespace kestrum::survey
