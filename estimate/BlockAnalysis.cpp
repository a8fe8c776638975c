#include "BlockAnalysis.h"

#include <algorithm>
#include <cmath>

#include "Estimate.h"

namespace kestrum {

namespace {

// The library's search stops within about 1e-9 of the maximum it climbs; a shortfall well beyond
// that means it climbed another peak. Absolute, as the log likelihood of a large block is in the
// millions, where a relative tolerance would hide a whole peak.
constexpr double kShortfall = 1e-6;

} // namespace

BlockAnalysis analyseBlock(const EstimatePress& press, const EstimateInputs& inputs, bool sFree,
                           inference::Parameter profiled)
{
    BlockAnalysis block;
    block.sFree = sFree;
    block.S = press.PARMS(1);
    block.P = press.PARMS(2);
    block.logLikelihood = -press.F;
    block.IFAIL = press.IFAIL;

    inference::Problem problem;
    problem.counts = {inputs.frequencies(1), inputs.frequencies(2), inputs.frequencies(3),
                      inputs.frequencies(4)};
    problem.sFree = sFree;
    problem.sFixed = inputs.S;
    problem.profiled = profiled;
    block.analysis = inference::analyse(problem);
    block.warnings = inference::collectWarnings(block.analysis);

    const double exact = block.analysis.fit.logLikelihood;
    block.belowExactMaximum =
        block.analysis.fit.hasEstimates() && std::isfinite(exact) &&
        exact - block.logLikelihood > kShortfall;
    return block;
}

void noteProfile(BlockAnalysis& block, std::span<const float> plottedProfile)
{
    block.warnings = inference::collectWarnings(block.analysis, plottedProfile);
}

BlockAnalysis estimateBlock(const EstimateInputs& inputs, bool sFree, inference::Parameter profiled,
                            KestrumN_E04JYF N_E04JYF)
{
    EstimatePress press;
    ModelRecord record;
    BuildRecord(inputs, sFree, press, record);
    Fit(press, record, N_E04JYF);
    BackTransform(press);
    return analyseBlock(press, inputs, sFree, profiled);
}

} // namespace kestrum
