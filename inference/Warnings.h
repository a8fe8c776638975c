// Plain-language warnings about an analysis, for the window and the command-line tool alike.
#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <string>

#include "Analysis.h"

namespace kestrum::inference {

enum class WarningKind {
    InvalidInput,
    NoData,
    NotIdentifiable,
    EstimateOnBound,        // parameter, side
    OpenLimit,              // parameter, side: Lower = the lower limit is below 0.01
    LimitsSpanGap,          // parameter: the profile dips below the line between the limits
    StandardErrorsNotGiven, // the information matrix is not positive definite
    LowExpectedCounts,      // value = the smallest expected count
    FlatProfile,            // parameter: the plotted profile hides the 1.92 line
    FixedSHasNoProfile,     // S is profiled but held fixed
};

struct Warning {
    WarningKind kind = WarningKind::NoData;
    Parameter parameter = Parameter::P;
    Bound side = Bound::None;
    double value = 0.0;
};

// A short list held in place, so that collecting warnings allocates nothing.
class Warnings {
public:
    static constexpr std::size_t kCapacity = 12;

    void add(const Warning& warning)
    {
        if (size_ < kCapacity) {
            items_[size_++] = warning;
        }
    }
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    const Warning* begin() const { return items_.data(); }
    const Warning* end() const { return items_.data() + size_; }
    bool contains(WarningKind kind) const;

private:
    std::array<Warning, kCapacity> items_{};
    std::size_t size_ = 0;
};

// plottedProfile: the profile values the window plots for problem.profiled, if any.
Warnings collectWarnings(const Analysis& analysis, std::span<const float> plottedProfile = {});

std::string describe(const Warning& warning);

// True when the plot of these values would not show the dashed line 1.92 below their maximum: the
// plot maps their spread onto 0.75 of its height, starting 0.125 from the top, so the line falls
// off the bottom when the spread is below 1.44 / 0.875. Fewer than two values, or values all equal,
// draw nothing at all.
bool confidenceLineBelowPlot(std::span<const float> values);
bool confidenceLineBelowPlot(std::span<const double> values);

} // namespace kestrum::inference
