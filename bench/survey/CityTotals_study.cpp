// How well the city's totals do on cities whose dogs are known: each scenario draws a city block
// by block (dogs per block varying between blocks, each block with its own P and S), samples
// blocks stratum by stratum, counts them three times as the model says, and puts the survey
// through the survey tool's own totals. Printed per scenario and method: the share of surveys
// with a total and with limits, how often the 95% limits hold the true total, and the bias, each
// with its standard error.
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

#include "Analysis.h"
#include "SamplingFrame.h"
#include "SurveyTotals.h"

namespace {

using namespace kestrum;

struct StratumPlan {
    int frame;     // blocks in the city's stratum
    int sampled;   // blocks counted
    double dogs;   // mean dogs present in a block
    double dogsCv; // their coefficient of variation between blocks
    double P, S;   // means over blocks
};

struct Scenario {
    const char* name;
    std::vector<StratumPlan> strata;
    double spreadP; // standard deviation of P between blocks
    double spreadS;
    bool countIsFirst; // street count: the dogs seen on the first count, else a count of its own
};

// A proportion with this mean and standard deviation between blocks (a beta distribution).
double proportion(std::mt19937_64& random, double mean, double sd)
{
    if (sd <= 0.0) {
        return mean;
    }
    const double size = mean * (1.0 - mean) / (sd * sd) - 1.0;
    std::gamma_distribution<double> a(mean * size, 1.0);
    std::gamma_distribution<double> b((1.0 - mean) * size, 1.0);
    const double x = a(random);
    return std::clamp(x / (x + b(random)), 1e-6, 1.0 - 1e-6);
}

int binomial(std::mt19937_64& random, int n, double p)
{
    return n <= 0 ? 0 : std::binomial_distribution<int>(n, std::clamp(p, 0.0, 1.0))(random);
}

// The dogs identified on the first count, into their histories as the model has them.
inference::Counts histories(std::mt19937_64& random, int identified, double P, double S)
{
    const double p111 = S * P * S * P;
    const double p101 = S * S * (1.0 - P) * P;
    const double p110 = S * P * (1.0 - S * P);
    inference::Counts c;
    int left = identified;
    double rest = 1.0;
    c.n111 = binomial(random, left, p111 / rest);
    left -= c.n111;
    rest -= p111;
    c.n101 = binomial(random, left, p101 / rest);
    left -= c.n101;
    rest -= p101;
    c.n110 = binomial(random, left, p110 / rest);
    c.n100 = left - c.n110;
    return c;
}

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

survey::SamplingFrame frameOf(const Scenario& scenario)
{
    std::string text = "stratum,blocks\n";
    for (std::size_t h = 0; h < scenario.strata.size(); ++h) {
        text += "s" + std::to_string(h) + "," + std::to_string(scenario.strata[h].frame) + "\n";
    }
    survey::StringSource source(text);
    return survey::SamplingFrame::read(source, "frame");
}

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
    const std::vector<Scenario> scenarios = {
        {"Small blocks, dogs stay", {{60, 8, 12, 0.4, 0.5, 0.95}}, 0.05, 0.03, true},
        {"Small blocks, dogs stay, count of its own",
         {{60, 8, 12, 0.4, 0.5, 0.95}},
         0.05,
         0.03,
         false},
        {"Three strata of different sizes",
         {{40, 8, 25, 0.4, 0.6, 0.8}, {120, 10, 15, 0.5, 0.5, 0.85}, {300, 12, 8, 0.5, 0.45, 0.9}},
         0.05,
         0.05,
         true},
        {"Large blocks (about 60 dogs)", {{50, 10, 60, 0.3, 0.55, 0.8}}, 0.05, 0.05, true},
        {"Sparse: about 4 dogs a block", {{100, 20, 4, 0.6, 0.5, 0.85}}, 0.05, 0.05, true},
        {"Blocks that differ strongly", {{100, 15, 20, 0.4, 0.5, 0.85}}, 0.10, 0.08, true},
        {"Blocks that differ strongly, count of its own",
         {{100, 15, 20, 0.4, 0.5, 0.85}},
         0.10,
         0.08,
         false},
        {"Few blocks: 3 of 40", {{40, 3, 20, 0.4, 0.5, 0.85}}, 0.05, 0.05, true},
    };
    const survey::PBy methods[] = {survey::PBy::Stratum, survey::PBy::Block};
    std::printf("%d surveys a scenario, seed %llu\n\n", surveys, seed);
    std::printf("| Scenario | P by | blocks used | total | limits | coverage | bias |\n");
    std::printf("|---|---|---|---|---|---|---|\n");
    std::mt19937_64 random(seed);
    for (const Scenario& scenario : scenarios) {
        const survey::SamplingFrame frame = frameOf(scenario);
        Tally tallies[std::size(methods)];
        for (int k = 0; k < surveys; ++k) {
            std::vector<survey::SurveyTotals> totals;
            for (const survey::PBy method : methods) {
                totals.emplace_back(frame, method);
            }
            double truth = 0.0;
            std::size_t line = 1;
            for (std::size_t h = 0; h < scenario.strata.size(); ++h) {
                const StratumPlan& plan = scenario.strata[h];
                // Dogs per block: Poisson around a gamma-distributed mean.
                const double shape = 1.0 / (plan.dogsCv * plan.dogsCv);
                std::gamma_distribution<double> mean(shape, plan.dogs / shape);
                std::vector<int> dogs(static_cast<std::size_t>(plan.frame));
                for (int& n : dogs) {
                    n = std::poisson_distribution<int>(mean(random))(random);
                    truth += n;
                }
                std::shuffle(dogs.begin(), dogs.end(), random);
                for (int i = 0; i < plan.sampled; ++i) {
                    const double P = proportion(random, plan.P, scenario.spreadP);
                    const double S = proportion(random, plan.S, scenario.spreadS);
                    const int seen = binomial(random, dogs[static_cast<std::size_t>(i)], P);
                    survey::BlockRow row;
                    row.line = ++line;
                    row.block = "b" + std::to_string(line);
                    row.stratum = "s" + std::to_string(h);
                    row.counts = histories(random, seen, P, S);
                    row.count = scenario.countIsFirst
                                    ? seen
                                    : binomial(random, dogs[static_cast<std::size_t>(i)], P);
                    const inference::Analysis analysis =
                        inference::analyse({row.counts, true, 0.0, inference::Parameter::P});
                    for (survey::SurveyTotals& t : totals) {
                        t.add(t.sample(row), row, analysis);
                    }
                }
            }
            for (std::size_t m = 0; m < totals.size(); ++m) {
                totals[m].finish();
                const survey::TotalsRow city = totals[m].rows().back();
                tallies[m].add(city.total, truth, city.used);
            }
        }
        for (std::size_t m = 0; m < std::size(methods); ++m) {
            tallies[m].print(scenario.name, survey::methodName(methods[m]));
        }
    }
    return 0;
}
