// The survey planner: its expected information against the fit's own, its allocation against
// every other, its forecasts against surveys drawn and run through the survey's totals, and what
// it refuses.
#include <gtest/gtest.h>

#include <cmath>
#include <numeric>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "Analysis.h"
#include "Model.h"
#include "PlanOutput.h"
#include "SurveyPlan.h"

namespace kestrum::survey {
namespace {

const PlanStratum kCentre{"centre", 40, 25.0, 0.4, 0.6, 0.8};
const PlanStratum kTown{"town", 120, 15.0, 0.5, 0.5, 0.85};
const PlanStratum kEdge{"edge", 300, 8.0, 0.5, 0.45, 0.9};

PlanGoal target(double pct)
{
    PlanGoal goal;
    goal.targetPct = pct;
    return goal;
}

PlanGoal budget(std::uint64_t blocks, double perDay = 1.0)
{
    PlanGoal goal;
    goal.blocks = blocks;
    goal.blocksPerDay = perDay;
    return goal;
}

double cityVariance(const std::vector<PlanStratum>& strata, const std::vector<std::uint64_t>& b)
{
    double variance = 0.0;
    for (std::size_t h = 0; h < strata.size(); ++h) {
        variance += forecastStratum(strata[h], b[h]).total.variance;
    }
    return variance;
}

// The observed information of counts in exact proportion to the model's, inverted, is the expected
// information's: an independent check of the closed form.
TEST(SurveyPlan, InformationPerDogIsTheFitsOwn)
{
    for (const auto& [P, S] : {std::pair{0.5, 0.85}, {0.2, 0.6}, {0.9, 0.3}, {0.05, 0.95}}) {
        const double n = 1e8;
        const double p111 = S * P * S * P;
        const double p101 = S * S * P * (1.0 - P);
        const double p110 = S * P * (1.0 - S * P);
        const inference::Counts counts{
            static_cast<std::int32_t>(std::lround(n * (1.0 - p111 - p101 - p110))),
            static_cast<std::int32_t>(std::lround(n * p111)),
            static_cast<std::int32_t>(std::lround(n * p101)),
            static_cast<std::int32_t>(std::lround(n * p110))};
        const inference::LogLikelihoodDerivatives d =
            inference::logLikelihoodDerivatives(counts, P, S);
        const double varianceP = -d.dSS / (d.dPP * d.dSS - d.dPS * d.dPS);
        EXPECT_NEAR(pVariancePerDog(P, S) / (varianceP * counts.total()), 1.0, 1e-5)
            << "P " << P << " S " << S;
    }
}

// A census leaves only the counts' binomial variation in A: with 10 blocks of 20 dogs and P 0.5,
// Var(A) = 10 x 20 x 0.5 x 0.5 = 50, and T = 200 whatever the spread between blocks.
TEST(SurveyPlan, CensusKeepsOnlyTheCountsOwnVariation)
{
    const PlanStratum flat{"all", 10, 20.0, 0.0, 0.5, 0.8};
    PlanStratum spread = flat;
    spread.dogsCv = 0.9;
    const StratumForecast a = forecastStratum(flat, 10);
    EXPECT_DOUBLE_EQ(a.total.total, 200.0);
    EXPECT_DOUBLE_EQ(a.identifiedPerBlock, 10.0);
    EXPECT_DOUBLE_EQ(a.seP * a.seP, pVariancePerDog(0.5, 0.8) / 100.0);
    EXPECT_NEAR(a.total.variance, 50.0 / 0.25 + 200.0 * 200.0 * a.seP * a.seP / 0.25, 1e-9);
    EXPECT_DOUBLE_EQ(forecastStratum(spread, 10).total.variance, a.total.variance);
    EXPECT_GT(forecastStratum(spread, 9).total.variance, forecastStratum(flat, 9).total.variance);
}

// Adding one block at a time where it helps most is the best allocation for every total: checked
// against all allocations of two and three strata.
TEST(SurveyPlan, AllocationIsTheBestOfAll)
{
    const std::vector<PlanStratum> two = {{"a", 9, 30.0, 0.6, 0.6, 0.8},
                                          {"b", 14, 5.0, 0.3, 0.4, 0.9}};
    const std::vector<PlanStratum> three = {
        kCentre, {"town", 12, 15.0, 0.5, 0.5, 0.85}, {"edge", 1, 8.0, 0.5, 0.45, 0.9}};
    for (const auto& strata : {two, three}) {
        const SurveyPlan plan = planSurvey(strata, budget(100000));
        for (std::size_t point = 0; point < plan.curve.size(); ++point) {
            const std::vector<std::uint64_t> chosen = plan.allocation(point);
            const std::uint64_t total = plan.curve[point].blocks;
            ASSERT_EQ(std::accumulate(chosen.begin(), chosen.end(), std::uint64_t{0}), total);
            double best = INFINITY;
            std::vector<std::uint64_t> b(strata.size());
            const auto search = [&](auto& self, std::size_t h, std::uint64_t left) -> void {
                if (h + 1 == strata.size()) {
                    b[h] = left;
                    if (left >= std::min<std::uint64_t>(2, strata[h].frameBlocks) &&
                        left <= strata[h].frameBlocks) {
                        best = std::min(best, cityVariance(strata, b));
                    }
                    return;
                }
                for (b[h] = std::min<std::uint64_t>(2, strata[h].frameBlocks);
                     b[h] <= std::min(left, strata[h].frameBlocks); ++b[h]) {
                    const std::uint64_t here = b[h];
                    self(self, h + 1, left - here);
                    b[h] = here;
                }
            };
            search(search, 0, total);
            EXPECT_NEAR(cityVariance(strata, chosen), best, 1e-9 * best) << total << " blocks";
        }
    }
}

struct PlanCase {
    const char* name;
    std::vector<PlanStratum> strata;
    PlanGoal goal;
    std::uint64_t blocks; // the plan's
};

// One stratum and three, small frames and large, a target and budgets (one beyond the frame).
TEST(SurveyPlan, PlansMeetTheirGoalWithTheFewestBlocks)
{
    const std::vector<PlanCase> cases = {
        {"three strata, target", {kCentre, kTown, kEdge}, target(20.0), 80},
        {"three strata, budget", {kCentre, kTown, kEdge}, budget(30, 2.0), 30},
        {"one stratum, target", {kTown}, target(15.0), 87},
        {"tiny strata, least survey",
         {{"one", 1, 5.0, 0.5, 0.5, 0.5}, {"two", 2, 5, 0.5, 0.5, 0.5}},
         budget(3),
         3},
        {"budget beyond the frame", {{"one", 5, 5.0, 0.5, 0.5, 0.5}}, budget(9), 5},
    };
    for (const PlanCase& c : cases) {
        SCOPED_TRACE(c.name);
        const SurveyPlan plan = planSurvey(c.strata, c.goal);
        EXPECT_EQ(plan.blocks(), c.blocks);
        EXPECT_EQ(plan.notes.size(), c.goal.blocks && *c.goal.blocks > c.blocks ? 1u : 0u);
        double dogs = 0.0;
        std::uint64_t counted = 0;
        for (std::size_t h = 0; h < c.strata.size(); ++h) {
            const std::uint64_t b = plan.forecast[h].blocks;
            EXPECT_GE(b, std::min<std::uint64_t>(2, c.strata[h].frameBlocks));
            EXPECT_LE(b, c.strata[h].frameBlocks);
            dogs += static_cast<double>(c.strata[h].frameBlocks) * c.strata[h].dogs;
            counted += b;
        }
        EXPECT_EQ(counted, plan.blocks());
        EXPECT_NEAR(plan.city.total, dogs, 1e-9 * dogs);
        EXPECT_DOUBLE_EQ(plan.teamDays(plan.blocks()),
                         3.0 * static_cast<double>(counted) / c.goal.blocksPerDay);
        for (std::size_t i = 1; i < plan.curve.size(); ++i) {
            EXPECT_EQ(plan.curve[i].blocks, plan.curve[i - 1].blocks + 1);
        }
        if (c.goal.targetPct) {
            EXPECT_LE(plan.halfWidthPct(), *c.goal.targetPct);
            ASSERT_GT(plan.chosen, 0u);
            EXPECT_GT(plan.curve[plan.chosen - 1].halfWidthPct, *c.goal.targetPct);
        }
    }
}

TEST(SurveyPlan, RefusalsNameTheInput)
{
    struct Refusal {
        std::vector<PlanStratum> strata;
        PlanGoal goal;
        PlanError::Kind kind;
        const char* says;
    };
    const std::vector<Refusal> refusals = {
        {{{"hill", 10, 5.0, 0.5, 1.0, 0.5}},
         target(20),
         PlanError::Kind::Figures,
         "stratum \"hill\": P is 1: it must lie strictly between 0 and 1"},
        {{{"hill", 10, 5.0, 0.5, 0.5, 0.0}}, target(20), PlanError::Kind::Figures, "S is 0"},
        {{{"hill", 0, 5.0, 0.5, 0.5, 0.5}},
         target(20),
         PlanError::Kind::Figures,
         "stratum \"hill\": holds no blocks"},
        {{{"hill", 10, 0.0, 0.5, 0.5, 0.5}},
         target(20),
         PlanError::Kind::Figures,
         "dogs_per_block is 0"},
        {{kTown, kTown}, target(20), PlanError::Kind::Figures, "named twice"},
        {{kTown}, target(0), PlanError::Kind::Figures, "the target is 0%"},
        {{kTown}, budget(10, 0.0), PlanError::Kind::Figures, "blocks a team counts"},
        {{{"hill", 10, 5.0, 0.5, 0.5, 0.5}},
         target(5),
         PlanError::Kind::Goal,
         "±5% cannot be reached: counting every block (10 blocks, 30 team-days) gives ±"},
        {{kCentre, kTown, kEdge},
         budget(5),
         PlanError::Kind::Goal,
         "a budget of 5 blocks is below the 6"},
    };
    for (const Refusal& r : refusals) {
        try {
            planSurvey(r.strata, r.goal);
            ADD_FAILURE() << "planned: " << r.says;
        } catch (const PlanError& error) {
            EXPECT_NE(std::string(error.what()).find(r.says), std::string::npos) << error.what();
            EXPECT_EQ(error.kind(), r.kind) << error.what();
        }
    }
}

TEST(SurveyPlan, PlanFileIsReadAsSpreadsheetsWriteIt)
{
    StringSource semicolons("\xEF\xBB\xBFStratum;P;S;Blocks;dogs_per_block;DOGS_CV\r\n"
                            "\"north; hill\";0,6;0,8;40;25;0,4\r\n");
    const std::vector<PlanStratum> read = readPlan(semicolons, "plan.csv");
    ASSERT_EQ(read.size(), 1u);
    EXPECT_EQ(read[0].name, "north; hill");
    EXPECT_EQ(read[0].frameBlocks, 40u);
    EXPECT_DOUBLE_EQ(read[0].P, 0.6);
    EXPECT_DOUBLE_EQ(read[0].dogsCv, 0.4);

    const std::string header = "stratum,blocks,dogs_per_block,dogs_cv,P,S\n";
    const std::vector<std::pair<std::string, const char*>> bad = {
        {"", "plan.csv:1: the plan is empty"},
        {"stratum,blocks,P,S\n", "plan.csv:1: the header lacks dogs_per_block, dogs_cv"},
        {header, "plan.csv: the plan lists no strata"},
        {header + "a,10,5,0.5,0.5,0.5\na,10,5,0.5,0.5,0.5\n",
         "plan.csv:3: stratum \"a\" is named twice"},
        {header + "a,10,5,0.5,x,0.5\n", "plan.csv:2: stratum \"a\": P is not a number: \"x\""},
        {header + "a,10,5,+-1,0.5,0.5\n", "plan.csv:2: stratum \"a\": dogs_cv is not a number"},
        {header + "a,10,5,,0.5,0.5\n", "plan.csv:2: stratum \"a\": dogs_cv is empty"},
        {header + "a,2.5,5,0.5,0.5,0.5\n", "plan.csv:2: stratum \"a\": blocks is 2.5"},
        {header + "a,10,-1,0.5,0.5,0.5\n", "plan.csv:2: stratum \"a\": dogs_per_block is -1"},
        {header + "a,10,5,0.5,0.5,1.5\n", "plan.csv:2: stratum \"a\": S is 1.5"},
        {header + "a,10,5,0.5\n", "plan.csv:2: the record has 4 fields"},
    };
    for (const auto& [text, says] : bad) {
        StringSource source(text);
        try {
            readPlan(source, "plan.csv");
            ADD_FAILURE() << "read: " << says;
        } catch (const InputError& error) {
            EXPECT_EQ(std::string(error.what()).rfind(says, 0), 0u) << error.what();
        }
    }
}

// P and S are the stratum's shared fit, which for blocks alike is the fit of their summed
// histories; dogs per block the mean count over that P; the spread of the counts less their
// binomial part, never below Poisson.
TEST(SurveyPlan, PilotGivesTheSharedFitAndTheDogsPerBlock)
{
    StringSource survey("block,stratum,n100,n111,n101,n110,count\n"
                        "a1,centre,10,20,5,7,30\n"
                        "a2,centre,30,40,10,12,50\n"
                        "a3,centre,12,8,6,9,\n"
                        "b1,edge,3,4,5,6,20\n"
                        "b2,edge,20,25,8,10,20\n"
                        "b3,edge,x,25,8,10,20\n");
    StringSource frameText("stratum,blocks\ncentre,12\nedge,30\n");
    const SamplingFrame frame = SamplingFrame::read(frameText, "frame.csv");
    const Pilot pilot = readPilot(survey, "pilot.csv", frame);
    ASSERT_EQ(pilot.strata.size(), 2u);
    EXPECT_EQ(pilot.rowsLeftOut,
              std::vector<std::string>{"pilot.csv:7: n100 is not a number: \"x\""});
    const inference::Analysis centre = inference::analyse({{52, 68, 21, 28}});
    EXPECT_NEAR(pilot.strata[0].P, centre.fit.P, 1e-12);
    EXPECT_NEAR(pilot.strata[0].S, centre.fit.S, 1e-12);
    EXPECT_EQ(pilot.strata[0].frameBlocks, 12u);
    const double mu = 40.0 / centre.fit.P;
    EXPECT_NEAR(pilot.strata[0].dogs, mu, 1e-9);
    const double cv2 = 200.0 / 1600.0 - (1.0 - centre.fit.P) / (mu * centre.fit.P);
    EXPECT_NEAR(pilot.strata[0].dogsCv, std::sqrt(cv2), 1e-9);
    // Equal counts: no spread beyond the binomial, so Poisson's.
    EXPECT_NEAR(pilot.strata[1].dogsCv, 1.0 / std::sqrt(pilot.strata[1].dogs), 1e-12);

    StringSource one("block,stratum,n100,n111,n101,n110,count\na1,centre,10,20,5,7,30\n");
    EXPECT_THROW(readPilot(one, "pilot.csv", frame), InputError) << "edge has no block";
}

// Surveys drawn under the plan and run through the survey's own totals achieve what it says,
// whatever the threads.
TEST(SurveyPlan, SimulationAchievesThePrediction)
{
    const SurveyPlan plan = planSurvey({kCentre, {"edge", 100, 8.0, 0.5, 0.45, 0.9}}, target(25));
    const SimulatedPlan one = simulatePlan(plan, 300, 11, 1);
    EXPECT_EQ(one.city.withLimits, 300u);
    EXPECT_NEAR(one.city.medianHalfWidthPct / plan.halfWidthPct(), 1.0, 0.15);
    EXPECT_NEAR(one.city.coverage, 0.95, 0.04);
    for (std::size_t h = 0; h < 2; ++h) {
        EXPECT_NEAR(one.strata[h].medianHalfWidthPct / halfWidthPct(plan.forecast[h].total), 1.0,
                    0.15);
    }
    const SimulatedPlan three = simulatePlan(plan, 300, 11, 3);
    EXPECT_EQ(three.city.medianHalfWidthPct, one.city.medianHalfWidthPct);
    EXPECT_EQ(three.city.coverage, one.city.coverage);
    EXPECT_NE(simulatePlan(plan, 300, 12, 2).city.medianHalfWidthPct, one.city.medianHalfWidthPct);
}

TEST(SurveyPlan, RowsHoldEveryColumnAndTheCityLast)
{
    const SurveyPlan plan = planSurvey({{"a, \"b\"", 40, 25.0, 0.4, 0.6, 0.8}, kTown}, budget(20));
    const std::string csv = planRows(plan, nullptr, Format::Csv, 2);
    StringSource source(csv);
    RecordReader reader(source);
    Record record;
    std::vector<Record> records;
    while (reader.next(record)) {
        records.push_back(record);
    }
    ASSERT_EQ(records.size(), 4u);
    for (const Record& r : records) {
        EXPECT_EQ(r.fields.size(), planColumns().size());
    }
    EXPECT_EQ(records[1].fields[0], "a, \"b\"");
    EXPECT_EQ(records[3].fields[0], "");
    EXPECT_EQ(records[3].fields[2], "20");
    // Rounded as the survey's rows are, on the value's decimal form: S 0.85 is 0.9, where
    // printf's rounding of its binary value gives 0.8.
    const std::string one = planRows(plan, nullptr, Format::Csv, 1);
    EXPECT_NE(one.find("\ntown,120,15,15.0,0.5,0.5,0.9,"), std::string::npos) << one;
    const std::string json = planRows(plan, nullptr, Format::Json, -1);
    const auto city = nlohmann::json::parse(json.substr(json.rfind('{')));
    EXPECT_TRUE(city["stratum"].is_null());
    EXPECT_TRUE(city["simulated_coverage"].is_null());
    EXPECT_EQ(city["blocks_to_count"], 20);
    EXPECT_DOUBLE_EQ(city["half_width_pct"].get<double>(), plan.halfWidthPct());
}

} // namespace
} // namespace kestrum::survey
