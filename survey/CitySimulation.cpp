#include "CitySimulation.h"

#include <algorithm>

#include "Analysis.h"

namespace kestrum::survey {

namespace {

// A proportion with this mean and standard deviation between blocks.
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

// Of n dogs, marked of them, the marked among k drawn without replacement.
int markedAmong(std::mt19937_64& random, int n, int marked, int k)
{
    int found = 0;
    for (int drawn = 0; drawn < k && marked > 0; ++drawn, --n) {
        if (std::uniform_int_distribution<int>(1, n)(random) <= marked) {
            ++found;
            --marked;
        }
    }
    return found;
}

} // namespace

SamplingFrame frameOf(const CityDesign& design)
{
    std::string text = "stratum,blocks\n";
    for (const SimulatedStratum& stratum : design.strata) {
        // Quoted, so that a name with a comma, a quote or blanks at its ends stays as it is.
        std::string quoted = "\"";
        for (const char c : stratum.name) {
            quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
        }
        text += quoted + "\"," + std::to_string(stratum.frameBlocks) + "\n";
    }
    StringSource source(text);
    return SamplingFrame::read(source, "of the design");
}

SimulatedSurvey simulateSurvey(const CityDesign& design, std::mt19937_64& random)
{
    SimulatedSurvey survey;
    std::size_t line = 1;
    for (const SimulatedStratum& plan : design.strata) {
        std::vector<int> dogs(static_cast<std::size_t>(plan.frameBlocks));
        // Poisson variation alone gives a coefficient of variation of 1 / sqrt(mean); the gamma
        // means add the rest.
        const double meansCv2 = plan.dogsCv * plan.dogsCv - 1.0 / plan.dogs;
        if (meansCv2 > 0.0) {
            const double shape = 1.0 / meansCv2;
            std::gamma_distribution<double> mean(shape, plan.dogs / shape);
            for (int& n : dogs) {
                n = std::poisson_distribution<int>(mean(random))(random);
            }
        } else {
            std::poisson_distribution<int> poisson(plan.dogs);
            for (int& n : dogs) {
                n = poisson(random);
            }
        }
        double dogsHere = 0.0;
        for (const int n : dogs) {
            dogsHere += n;
        }
        survey.stratumTotals.push_back(dogsHere);
        survey.trueTotal += dogsHere;
        std::vector<int> marked(dogs.size());
        if (design.marks) {
            for (std::size_t b = 0; b < dogs.size(); ++b) {
                marked[b] = binomial(random, dogs[b],
                                     proportion(random, plan.coverage, design.spreadCoverage));
                survey.trueMarked += marked[b];
            }
        }
        // Blocks and their marks shuffled alike: the same permutation as the dogs' alone.
        std::vector<std::pair<int, int>> blocks(dogs.size());
        for (std::size_t b = 0; b < dogs.size(); ++b) {
            blocks[b] = {dogs[b], marked[b]};
        }
        std::shuffle(blocks.begin(), blocks.end(), random);
        for (std::size_t i = 0; i < plan.sampled && i < blocks.size(); ++i) {
            const auto [n, m] = blocks[i];
            const double P = proportion(random, plan.P, design.spreadP);
            const double S = proportion(random, plan.S, design.spreadS);
            const int seen = binomial(random, n, P);
            BlockRow& row = survey.blocks.emplace_back();
            row.line = ++line;
            row.block = plan.name + "-" + std::to_string(i + 1);
            row.stratum = plan.name;
            row.counts = histories(random, seen, P, S);
            row.count = design.countIsFirst ? seen : binomial(random, n, P);
            if (design.marks) {
                row.marked = markedAmong(random, n, m, seen);
            }
        }
    }
    return survey;
}

std::vector<TotalsRow> totalsOf(const SamplingFrame& frame, const SimulatedSurvey& survey, PBy by)
{
    SurveyTotals totals(frame, by);
    for (const BlockRow& row : survey.blocks) {
        const inference::Analysis analysis = inference::analyse(
            {row.counts, !row.sFixed, row.sFixed.value_or(0.0), inference::Parameter::P});
        totals.add(totals.sample(row), row, analysis);
    }
    totals.finish();
    return totals.rows();
}

} // namespace kestrum::survey
