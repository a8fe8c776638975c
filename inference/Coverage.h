// Vaccination coverage: the share of the dogs that carry a campaign's mark (a collar, paint).
//
// In one block the share is that of the dogs identified on the first count: m marked of n, with
// Wilson's score limits. Over a stratum, a survey or a city it is the share of all their dogs:
// each block's share weighted by the dogs it holds, R = sum(x c) / sum(x) with x a block's dogs
// (its N in the total) and c = m / n, each stratum's blocks scaled up to the blocks it holds. The
// variance is by linearisation over the sampled blocks: the spread between them of
// d = x (c - R), with the finite-population correction, and each block's own variation of d (its
// share's, as a draw of n of its x dogs, and its weight's). The limits are Wilson's for the share
// on the number of dogs that variance is worth (its effective sample size), that number reduced for
// the few degrees of freedom of a few blocks, so they stay inside 0..1 and widen where blocks are
// few.
#pragma once

#include <cmath>
#include <cstddef>
#include <limits>
#include <span>

namespace kestrum::inference {

// A share and its 95% limits, all inside 0..1; NaN where not given.
struct Share {
    double estimate = std::numeric_limits<double>::quiet_NaN();
    double lower = std::numeric_limits<double>::quiet_NaN();
    double upper = std::numeric_limits<double>::quiet_NaN();

    bool given() const { return !std::isnan(estimate); }
};

// marked of identified with Wilson's score limits: they stay inside 0..1 and hold the true share
// about as often as they say even for a few dogs or a share of 0 or 1, where the normal
// approximation's do not. Nothing when no dog was identified.
Share wilson(double marked, double identified);

// The blocks of one stratum (or of a survey) that give a coverage, gathered as sums so that memory
// stays flat however many there are.
class CoverageSample {
public:
    // dogs: the block's dogs, its weight, with the variance of its estimate; marked of identified:
    // its share.
    void add(double dogs, double dogsVariance, double marked, double identified);

    std::size_t blocks() const { return blocks_; }
    double dogs() const { return x_; }
    double markedDogs() const { return y_; }
    double identified() const { return identified_; }
    // sum of (y - R x)^2 - (sum of (y - R x))^2 / b, with y = x c: b - 1 times the sample variance
    // of d = y - R x within the stratum. Never below 0.
    double squaresAbout(double R) const;
    // The sum of each block's own variance of d = x (c - R): its share's, x^2 Var(c), and its
    // weight's, (c - R)^2 Var(x).
    double within(double R) const;

private:
    std::size_t blocks_ = 0;
    double x_ = 0.0;
    double y_ = 0.0;
    double xx_ = 0.0;
    double xy_ = 0.0;
    double yy_ = 0.0;
    double within_ = 0.0;
    double weight_ = 0.0;
    double weightC_ = 0.0;
    double weightCC_ = 0.0;
    double identified_ = 0.0;
};

struct CoverageStratum {
    // The blocks the stratum holds; infinity for blocks drawn from too many to count (no
    // finite-population correction, and the blocks' own variation is part of their spread).
    double frameBlocks = std::numeric_limits<double>::infinity();
    const CoverageSample* sample = nullptr;
};

enum class CoverageStatus {
    Given,         // share and limits
    WithoutLimits, // a stratum sampled, not censused, with only one block: its spread is unknown
    NotGiven,      // a stratum with blocks but none that gives a share, or no dogs at all
};

struct Coverage {
    CoverageStatus status = CoverageStatus::NotGiven;
    double share = 0.0;
    double se = 0.0; // the rest only with status Given
    double lower = 0.0;
    double upper = 0.0;
    double effectiveDogs = 0.0; // the number of dogs the limits are worth
    double degreesOfFreedom = 0.0;
    std::size_t blocks = 0;
};

// The share of the dogs of every stratum given. A stratum of no blocks is left out; one with
// blocks but none sampled leaves the share not given. With frameBlocks infinite, one stratum only.
Coverage coverage(std::span<const CoverageStratum> strata);

} // namespace kestrum::inference
