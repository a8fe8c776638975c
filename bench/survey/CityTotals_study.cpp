// How well the city's totals do on cities whose dogs are known: each scenario draws a city block
// by block (dogs per block varying between blocks, each block with its own P and S), samples
// blocks stratum by stratum, counts them three times as the model says, and puts the survey
// through the survey tool's own totals (CitySimulation.h). Printed per scenario and method: the
// share of surveys with a total and with limits, how often the 95% limits hold the true total, and
// the bias, each with its standard error.
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

struct Tally {
    int surveys = 0;
    int totals = 0;
    int limits = 0;
    int covered = 0;
    double bias = 0.0;
    double bias2 = 0.0;
    double used = 0.0;

    void add(const inference::Total& city, double truth, std::uint64_t blocksUsed)
    {
        ++surveys;
        used += static_cast<double>(blocksUsed);
        if (city.status == inference::TotalStatus::NotGiven) {
            return;
        }
        ++totals;
        const double error = city.total / truth - 1.0;
        bias += error;
        bias2 += error * error;
        if (city.status == inference::TotalStatus::Given) {
            ++limits;
            covered += city.lower <= truth && truth <= city.upper ? 1 : 0;
        }
    }

    void print(const char* scenario, const char* method) const
    {
        const double coverage = limits > 0 ? static_cast<double>(covered) / limits : NAN;
        const double coverageSe = std::sqrt(coverage * (1.0 - coverage) / std::max(limits, 1));
        const double meanBias = totals > 0 ? bias / totals : NAN;
        const double biasSe =
            totals > 1 ? std::sqrt((bias2 / totals - meanBias * meanBias) / (totals - 1)) : NAN;
        std::printf("| %s | %s | %.1f | %.1f%% | %.1f%% | %.1f%% ± %.1f | %+.1f%% ± %.1f |\n",
                    scenario, method, used / surveys, 100.0 * totals / surveys,
                    100.0 * limits / surveys, 100.0 * coverage, 100.0 * coverageSe,
                    100.0 * meanBias, 100.0 * biasSe);
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
                        double P, double S) {
        return std::vector<survey::SimulatedStratum>{{"city", frame, sampled, dogs, cv, P, S}};
    };
    const std::vector<Scenario> scenarios = {
        {"Small blocks, dogs stay", {one(60, 8, 12, 0.4, 0.5, 0.95), 0.05, 0.03, true}},
        {"Small blocks, dogs stay, count of its own",
         {one(60, 8, 12, 0.4, 0.5, 0.95), 0.05, 0.03, false}},
        {"Three strata of different sizes",
         {{{"centre", 40, 8, 25, 0.4, 0.6, 0.8},
           {"town", 120, 10, 15, 0.5, 0.5, 0.85},
           {"edge", 300, 12, 8, 0.5, 0.45, 0.9}},
          0.05,
          0.05,
          true}},
        {"Large blocks (about 60 dogs)", {one(50, 10, 60, 0.3, 0.55, 0.8), 0.05, 0.05, true}},
        {"Sparse: about 4 dogs a block", {one(100, 20, 4, 0.6, 0.5, 0.85), 0.05, 0.05, true}},
        {"Blocks that differ strongly", {one(100, 15, 20, 0.4, 0.5, 0.85), 0.10, 0.08, true}},
        {"Blocks that differ strongly, count of its own",
         {one(100, 15, 20, 0.4, 0.5, 0.85), 0.10, 0.08, false}},
        {"Few blocks: 3 of 40", {one(40, 3, 20, 0.4, 0.5, 0.85), 0.05, 0.05, true}},
    };
    const survey::PBy methods[] = {survey::PBy::Stratum, survey::PBy::Block};
    std::printf("%d surveys a scenario, seed %llu\n\n", surveys, seed);
    std::printf("| Scenario | P by | blocks used | total | limits | coverage | bias |\n");
    std::printf("|---|---|---|---|---|---|---|\n");
    std::mt19937_64 random(seed);
    for (const Scenario& scenario : scenarios) {
        const survey::SamplingFrame frame = survey::frameOf(scenario.design);
        Tally tallies[std::size(methods)];
        for (int k = 0; k < surveys; ++k) {
            const survey::SimulatedSurvey drawn = survey::simulateSurvey(scenario.design, random);
            for (std::size_t m = 0; m < std::size(methods); ++m) {
                const survey::TotalsRow city = survey::totalsOf(frame, drawn, methods[m]).back();
                tallies[m].add(city.total, drawn.trueTotal, city.used);
            }
        }
        for (std::size_t m = 0; m < std::size(methods); ++m) {
            tallies[m].print(scenario.name, survey::methodName(methods[m]));
        }
    }
    return 0;
}
