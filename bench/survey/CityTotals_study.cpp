// How well the city's totals and its vaccination coverage do on cities whose dogs are known: each
// scenario draws a city block by block (dogs per block varying between blocks, each block with its
// own P and S and its own share of dogs marked), samples blocks stratum by stratum, counts them
// three times as the model says, and puts the survey through the survey tool's own totals
// (CitySimulation.h). Printed per scenario and method: the share of surveys with a total and with
// limits, how often the 95% limits hold the true total, and the bias, each with its standard
// error; then the same for the share of the city's dogs marked.
//
//   kestrum_totals_study [--surveys K] [--seed S]
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "CitySimulation.h"

namespace {

using namespace kestrum;

struct Scenario {
    const char* name;
    survey::CityDesign design;
};

// One estimate over the surveys of a scenario: how often given, with limits, holding the truth,
// and its mean error (relative for totals, in points of share for coverage).
struct Tally {
    int surveys = 0;
    int given = 0;
    int limits = 0;
    int covered = 0;
    double bias = 0.0;
    double bias2 = 0.0;
    double used = 0.0;

    void add(bool estimate, bool withLimits, double error, bool holds, double blocksUsed)
    {
        ++surveys;
        used += blocksUsed;
        if (!estimate) {
            return;
        }
        ++given;
        bias += error;
        bias2 += error * error;
        if (withLimits) {
            ++limits;
            covered += holds ? 1 : 0;
        }
    }

    void add(const inference::Total& city, double truth, std::uint64_t blocksUsed)
    {
        add(city.status != inference::TotalStatus::NotGiven,
            city.status == inference::TotalStatus::Given, city.total / truth - 1.0,
            city.lower <= truth && truth <= city.upper, static_cast<double>(blocksUsed));
    }

    void add(const inference::Coverage& city, double truth)
    {
        add(city.status != inference::CoverageStatus::NotGiven,
            city.status == inference::CoverageStatus::Given, city.share - truth,
            city.lower <= truth && truth <= city.upper, static_cast<double>(city.blocks));
    }

    // points: the bias in points of share rather than in per cent of the truth.
    std::string row(const char* scenario, const char* method, bool points = false) const
    {
        const double coverage = limits > 0 ? static_cast<double>(covered) / limits : NAN;
        const double coverageSe = std::sqrt(coverage * (1.0 - coverage) / std::max(limits, 1));
        const double meanBias = given > 0 ? bias / given : NAN;
        const double biasSe =
            given > 1 ? std::sqrt((bias2 / given - meanBias * meanBias) / (given - 1)) : NAN;
        char text[512];
        std::snprintf(text, sizeof text,
                      "| %s | %s | %.1f | %.1f%% | %.1f%% | %.1f%% ± %.1f | %+.1f%s ± %.1f |\n",
                      scenario, method, used / surveys, 100.0 * given / surveys,
                      100.0 * limits / surveys, 100.0 * coverage, 100.0 * coverageSe,
                      100.0 * meanBias, points ? "" : "%", 100.0 * biasSe);
        return text;
    }
};

} // namespace

int main(int argc, char** argv)
{
    int surveys = 1000;
    unsigned long long seed = 20261207;
    for (int k = 1; k + 1 < argc; k += 2) {
        if (std::strcmp(argv[k], "--surveys") == 0) {
            surveys = std::atoi(argv[k + 1]);
        } else if (std::strcmp(argv[k], "--seed") == 0) {
            seed = std::strtoull(argv[k + 1], nullptr, 10);
        }
    }
    const auto one = [](std::uint64_t frame, std::uint64_t sampled, double dogs, double cv,
                        double P, double S, double coverage) {
        return std::vector<survey::SimulatedStratum>{
            {"city", frame, sampled, dogs, cv, P, S, coverage}};
    };
    // Each with marks: the share marked in each stratum, and its spread between blocks last.
    const std::vector<Scenario> scenarios = {
        {"Small blocks, dogs stay",
         {one(60, 8, 12, 0.4, 0.5, 0.95, 0.5), 0.05, 0.03, true, true, 0.15}},
        {"Small blocks, dogs stay, count of its own",
         {one(60, 8, 12, 0.4, 0.5, 0.95, 0.5), 0.05, 0.03, false, true, 0.15}},
        {"Three strata of different sizes",
         {{{"centre", 40, 8, 25, 0.4, 0.6, 0.8, 0.7},
           {"town", 120, 10, 15, 0.5, 0.5, 0.85, 0.5},
           {"edge", 300, 12, 8, 0.5, 0.45, 0.9, 0.3}},
          0.05,
          0.05,
          true,
          true,
          0.1}},
        {"Large blocks (about 60 dogs)",
         {one(50, 10, 60, 0.3, 0.55, 0.8, 0.8), 0.05, 0.05, true, true, 0.1}},
        {"Sparse: about 4 dogs a block",
         {one(100, 20, 4, 0.6, 0.5, 0.85, 0.4), 0.05, 0.05, true, true, 0.1}},
        {"Blocks that differ strongly",
         {one(100, 15, 20, 0.4, 0.5, 0.85, 0.6), 0.10, 0.08, true, true, 0.2}},
        {"Blocks that differ strongly, count of its own",
         {one(100, 15, 20, 0.4, 0.5, 0.85, 0.6), 0.10, 0.08, false, true, 0.2}},
        {"Few blocks: 3 of 40", {one(40, 3, 20, 0.4, 0.5, 0.85, 0.6), 0.05, 0.05, true, true, 0.1}},
        {"Nearly all marked",
         {one(60, 10, 15, 0.4, 0.5, 0.85, 0.92), 0.05, 0.05, true, true, 0.05}},
        {"Few marked", {one(60, 10, 15, 0.4, 0.5, 0.85, 0.08), 0.05, 0.05, true, true, 0.05}},
        {"Every block counted: 12 of 12",
         {one(12, 12, 15, 0.4, 0.5, 0.85, 0.6), 0.05, 0.05, true, true, 0.15}},
    };
    const survey::PBy methods[] = {survey::PBy::Stratum, survey::PBy::Block};
    std::printf("%d surveys a scenario, seed %llu\n\n", surveys, seed);
    std::string coverageTable =
        "| Scenario | P by | blocks used | share | limits | coverage of the limits | bias "
        "(points) |\n|---|---|---|---|---|---|---|\n";
    std::printf("| Scenario | P by | blocks used | total | limits | coverage | bias |\n");
    std::printf("|---|---|---|---|---|---|---|\n");
    std::mt19937_64 random(seed);
    for (const Scenario& scenario : scenarios) {
        const survey::SamplingFrame frame = survey::frameOf(scenario.design);
        Tally tallies[std::size(methods)];
        Tally shares[std::size(methods)];
        for (int k = 0; k < surveys; ++k) {
            const survey::SimulatedSurvey drawn = survey::simulateSurvey(scenario.design, random);
            for (std::size_t m = 0; m < std::size(methods); ++m) {
                const survey::TotalsRow city = survey::totalsOf(frame, drawn, methods[m]).back();
                tallies[m].add(city.total, drawn.trueTotal, city.used);
                shares[m].add(city.coverage.value_or(inference::Coverage{}),
                              drawn.trueMarked / drawn.trueTotal);
            }
        }
        for (std::size_t m = 0; m < std::size(methods); ++m) {
            std::printf("%s",
                        tallies[m].row(scenario.name, survey::methodName(methods[m])).c_str());
            coverageTable += shares[m].row(scenario.name, survey::methodName(methods[m]), true);
        }
    }
    std::printf("\n%s", coverageTable.c_str());
    return 0;
}
