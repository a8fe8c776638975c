// Cities whose dogs are known, surveyed as the model says: for checking the totals against the
// truth (the coverage study) and a plan against what it achieves (the planner's simulation).
//
// Each stratum's blocks hold Poisson numbers of dogs around gamma-distributed means, so that dogs
// per block vary between blocks with the coefficient of variation asked for; each sampled block
// draws its own P and S from beta distributions around the stratum's; the dogs seen on the first
// count fall into the four histories with the model's probabilities; the street count is those
// dogs, or a count of its own with the block's P. With marks, every block of the frame draws its
// coverage from a beta distribution around the stratum's and marks each of its dogs with it; the
// dogs identified are a random draw of the block's dogs, marked or not.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "SamplingFrame.h"
#include "SurveyReader.h"
#include "SurveyTotals.h"

namespace kestrum::survey {

struct SimulatedStratum {
    std::string name;
    std::uint64_t frameBlocks = 0;
    std::uint64_t sampled = 0;
    double dogs = 0.0;   // mean dogs present in a block
    double dogsCv = 0.0; // their coefficient of variation between blocks, at least the Poisson's
    double P = 0.5;
    double S = 0.5;
    double coverage = 0.0; // the mean share of a block's dogs marked, with marks
};

struct CityDesign {
    std::vector<SimulatedStratum> strata;
    double spreadP = 0.0; // standard deviations between blocks
    double spreadS = 0.0;
    bool countIsFirst = true;    // the street count is the dogs seen on the first count
    bool marks = false;          // dogs carry a vaccination mark, and the blocks give marked counts
    double spreadCoverage = 0.0; // standard deviation of the blocks' coverage
};

struct SimulatedSurvey {
    double trueTotal = 0.0;            // the dogs of every block of the frame
    std::vector<double> stratumTotals; // the same by stratum, in the design's order
    double trueMarked = 0.0;           // those of them marked
    std::vector<BlockRow> blocks;
};

SamplingFrame frameOf(const CityDesign& design);
// Without marks the draws are those of a design without them, so that studies stay repeatable.
SimulatedSurvey simulateSurvey(const CityDesign& design, std::mt19937_64& random);

// The rows of the strata and the city as the survey tool's totals give them.
std::vector<TotalsRow> totalsOf(const SamplingFrame& frame, const SimulatedSurvey& survey, PBy by);

} // namespace kestrum::survey
