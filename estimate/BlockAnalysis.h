// One block's answer as the window and the command-line estimator both give it: the library's fit
// (what the window's boxes and result line show) beside the exact inference drawn from the same
// data (profile limits, standard errors, fit check, warnings).
#pragma once

#include <cstdint>
#include <span>

#include "Analysis.h"
#include "EstimatePress.h"
#include "Warnings.h"

namespace kestrum {

struct BlockAnalysis {
    bool sFree = true;
    double S = 0.0; // the library's estimates; a fixed S is the value it was held at
    double P = 0.0;
    double logLikelihood = 0.0; // -F of the library's fit
    std::int32_t IFAIL = 0;
    inference::Analysis analysis;
    inference::Warnings warnings;
    // The library's search stopped short of the highest likelihood the exact fit finds (a fixed S
    // can leave two peaks in P).
    bool belowExactMaximum = false;
};

// From a press whose fit has run and been taken back to unscaled values, before anything else
// calls the library (F must still be the fit's).
BlockAnalysis analyseBlock(const EstimatePress& press, const EstimateInputs& inputs, bool sFree,
                           inference::Parameter profiled);

// Adds what the plotted profile shows (a dashed line below the canvas) to the warnings.
void noteProfile(BlockAnalysis& block, std::span<const float> plottedProfile);

// Record, fit and analysis in one, for callers without a window.
BlockAnalysis estimateBlock(const EstimateInputs& inputs, bool sFree, inference::Parameter profiled,
                            KestrumN_E04JYF N_E04JYF);

} // namespace kestrum
