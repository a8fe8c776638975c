// One P and one S shared by every block, beside a P and an S for each: the pooled fit and the test
// of "shared" against "separate".
//
// The blocks' counts are independent multinomials over the same four histories, so with P and S
// shared the likelihood is that of the summed frequencies, and the pooled fit is the ordinary fit
// of the sums. Only blocks with S estimated take part: a block with S held at a value of its own
// does not share S with the others, so it belongs to neither model of the comparison.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "BlockAnalysis.h"
#include "Coverage.h"
#include "Model.h"
#include "SurveyReader.h"

namespace kestrum::survey {

struct PooledComparison {
    std::string reason;                 // why there is no comparison; empty when there is
    double separateLogLikelihood = 0.0; // sum of the blocks' maxima
    double sharedLogLikelihood = 0.0;   // maximum with P and S shared
    double lr = 0.0;                    // 2 (separate - shared), never below 0
    int df = 0;                         // 2 (blocks - 1)
    double p = 1.0;                     // chi-square survival of lr on df
    double aicShared = 0.0;             // -2 shared + 2 * 2
    double aicSeparate = 0.0;           // -2 separate + 2 * 2 * blocks
    // Blocks whose estimate lies on a bound or whose S and P cannot be told apart: the
    // chi-square reference and AIC's parameter count are rough for them.
    std::size_t roughBlocks = 0;

    bool given() const { return reason.empty(); }
};

struct PooledResult {
    std::size_t blocks = 0;       // blocks with S estimated, pooled
    std::size_t fixedSBlocks = 0; // blocks with S held, left out
    std::string reason;           // why there is no pooled fit; empty when there is
    std::int64_t summed[4] = {};
    std::optional<BlockAnalysis> fit;
    PooledComparison comparison;
    // The share of the survey's dogs marked, when it gives marks: every block with dogs
    // identified, each weighted by its street count.
    std::optional<inference::Coverage> coverage;
    std::vector<Note> coverageNotes;
};

class PooledFit {
public:
    // Every fitted block; those with S held are counted and left out.
    // fit: the block's exact fit.
    void add(const inference::Counts& counts, bool sFree, const inference::Fit& fit);

    // The fit of the summed frequencies, from the window's start (S = P = 0.9), and the
    // comparison.
    // With N_E04JYF the window's search runs on the summed frequencies too, and where it ends is
    // told as for a block; without, the exact fit alone.
    PooledResult finish(inference::Parameter profiled, KestrumN_E04JYF N_E04JYF) const;

    // The comparison alone, against the exact maximum of the shared fit, given or found.
    PooledComparison compare(double sharedLogLikelihood) const;
    PooledComparison compare() const;
    std::size_t blocks() const { return blocks_; }

private:
    std::size_t blocks_ = 0;
    std::size_t fixedSBlocks_ = 0;
    std::size_t roughBlocks_ = 0;
    std::int64_t summed_[4] = {};
    // The blocks' maxima summed with compensation: over 100,000 blocks plain summation would
    // lose digits the test statistic, a small difference of large sums, needs.
    double sum_ = 0.0;
    double compensation_ = 0.0;
};

} // namespace kestrum::survey
