// The P that the blocks of a stratum (or of the whole survey) share for the city's totals, and each
// block's own P drawn towards it as far as the blocks are seen to differ.
//
// A small block's own P is too uncertain to divide its street count by: its estimate often lies on
// a bound, and 1/P is biased upwards. One P fitted to the blocks' summed histories has neither
// fault, but when the blocks differ it is pulled towards the blocks with high P, which identify
// more dogs, and the total comes out low. So each block keeps the part of its own evidence that
// stands out from chance: with a = S P, the likelihood's first factor is a^s (1 - a)^f with
// s = 2 n111 + n110 and f = n100 + n101 + n110, and the spread of the blocks' s / (s + f) beyond
// its binomial variation (a moment estimate, tau^2) says how much of it to keep.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

#include "Analysis.h"
#include "Model.h"

namespace kestrum::inference {

// What one block brings to its group's P.
struct GroupBlock {
    Counts counts;
    double sHeld = 0.0; // 0 when S is estimated; else the S the block holds
};

struct SharedP {
    std::string_view reason; // why the group has no P; empty when it has one
    // The fit of the summed histories of the blocks with S estimated (or, when there are none,
    // of the blocks that all hold S at one value, with S held there).
    Analysis analysis;
    std::size_t blocksFitted = 0; // blocks whose histories went into the fit
    // The first factor's share a as pooled, the shrinkage target (the blocks' mean a weighted by
    // precision), its binomial variance per trial and the spread of a between blocks.
    double aPooled = 0.0;
    double aTarget = 0.0;
    double aVariance = 0.0;
    double spread = 0.0;          // tau^2; 0 when too few blocks or no spread beyond chance
    std::size_t blocksSpread = 0; // blocks with S estimated and dogs identified

    bool given() const { return reason.empty(); }
    double P() const { return analysis.fit.P; }
    // The standard deviation of P between blocks implied by the spread of a.
    double spreadOfP() const;
};

// Blocks with S estimated and a dog identified that the spread needs before it is estimated at all:
// below this the moment estimate is mostly noise, and every block takes the shared P.
inline constexpr std::size_t kSpreadMinimumBlocks = 5;

// groups: the blocks of each stratum that shares the P (one span for a stratum, one per stratum for
// the survey). Nothing is kept from them.
SharedP sharedP(std::span<const std::span<const GroupBlock>> groups);

// A block's P as it goes into the total: its a drawn towards the target by w = tau^2 / (tau^2 +
// v / t), with the reciprocal's convexity taken out (1/a of a noisy a is biased upwards), within
// the bounds 0.01 .. 0.99. relativeVariance: the variance its shrunk a adds to count / P,
// relative to (count / P)^2.
struct BlockP {
    double P = 0.0;
    double relativeVariance = 0.0;
};
BlockP blockP(const SharedP& shared, const GroupBlock& block);

} // namespace kestrum::inference
