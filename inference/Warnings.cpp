#include "Warnings.h"

#include <algorithm>
#include <cstdio>

namespace kestrum::inference {

namespace {

// The window's dashed line stands this far below the highest plotted value.
constexpr double kPlottedDrop = 1.92;
constexpr double kPlotTop = 0.125;
constexpr double kPlotHeight = 0.75;

template <class Value>
bool lineBelowPlot(std::span<const Value> values)
{
    if (values.size() < 2) {
        return true;
    }
    const auto [lowest, highest] = std::minmax_element(values.begin(), values.end());
    const double spread = static_cast<double>(*highest) - static_cast<double>(*lowest);
    if (!(spread > 0.0)) {
        return true;
    }
    return kPlotTop + kPlotHeight * kPlottedDrop / spread > 1.0;
}

const char* sideText(Bound side)
{
    return side == Bound::Lower ? "lower bound 0.01" : "upper bound 0.99";
}

} // namespace

bool Warnings::contains(WarningKind kind) const
{
    return std::any_of(begin(), end(), [kind](const Warning& w) { return w.kind == kind; });
}

bool confidenceLineBelowPlot(std::span<const float> values)
{
    return lineBelowPlot(values);
}

bool confidenceLineBelowPlot(std::span<const double> values)
{
    return lineBelowPlot(values);
}

Warnings collectWarnings(const Analysis& analysis, std::span<const float> plottedProfile)
{
    Warnings warnings;
    const Fit& fit = analysis.fit;
    switch (fit.status) {
    case FitStatus::InvalidInput:
        warnings.add({WarningKind::InvalidInput});
        return warnings;
    case FitStatus::NoData:
        warnings.add({WarningKind::NoData});
        return warnings;
    case FitStatus::NotIdentifiable:
        warnings.add({WarningKind::NotIdentifiable});
        break;
    case FitStatus::Estimated:
        break;
    }
    if (fit.pBound != Bound::None) {
        warnings.add({WarningKind::EstimateOnBound, Parameter::P, fit.pBound});
    }
    if (fit.sBound != Bound::None) {
        warnings.add({WarningKind::EstimateOnBound, Parameter::S, fit.sBound});
    }
    for (const ProfileInterval* interval : {&analysis.limitsP, &analysis.limitsS}) {
        if (interval->lower.open()) {
            warnings.add({WarningKind::OpenLimit, interval->parameter, Bound::Lower});
        }
        if (interval->upper.open()) {
            warnings.add({WarningKind::OpenLimit, interval->parameter, Bound::Upper});
        }
        if (interval->gap) {
            warnings.add({WarningKind::LimitsSpanGap, interval->parameter});
        }
    }
    if (fit.status == FitStatus::Estimated && !fit.onBound() && !analysis.standardErrors.given()) {
        warnings.add({WarningKind::StandardErrorsNotGiven});
    }
    if (analysis.fitCheck.given() && analysis.fitCheck.lowExpected) {
        warnings.add({WarningKind::LowExpectedCounts, Parameter::P, Bound::None,
                      analysis.fitCheck.smallestExpected});
    }
    const Parameter profiled = analysis.problem.profiled;
    if (profiled == Parameter::S && !fit.sFree) {
        warnings.add({WarningKind::FixedSHasNoProfile, Parameter::S});
    } else if (const auto [lowest, highest] =
                   std::minmax_element(plottedProfile.begin(), plottedProfile.end());
               plottedProfile.size() >= 2 && *highest > *lowest &&
               confidenceLineBelowPlot(plottedProfile)) {
        // Only a drawn curve can hide the line: an empty plot has reasons of its own.
        warnings.add({WarningKind::FlatProfile, profiled});
    }
    return warnings;
}

std::string describe(const Warning& warning)
{
    const char* name = parameterName(warning.parameter);
    char text[320];
    switch (warning.kind) {
    case WarningKind::InvalidInput:
        return "A frequency is negative, or the fixed S is not above 0 and at most 1: nothing was "
               "estimated.";
    case WarningKind::NoData:
        return "All four frequencies are zero: there is nothing to estimate from.";
    case WarningKind::NotIdentifiable:
        return "Every dog was seen again on the second count, so the counts fix only the product "
               "S x P: S and P cannot be told apart, and the values shown are the point where "
               "they are equal.";
    case WarningKind::EstimateOnBound:
        std::snprintf(text, sizeof text,
                      "The estimate of %s lies on its %s: the likelihood is highest at the edge of "
                      "the range searched, so the true value may lie beyond it, and no standard "
                      "errors are given.",
                      name, sideText(warning.side));
        return text;
    case WarningKind::OpenLimit:
        std::snprintf(text, sizeof text,
                      "The %s 95%% limit of %s lies %s, outside the range searched.",
                      warning.side == Bound::Lower ? "lower" : "upper", name,
                      warning.side == Bound::Lower ? "below 0.01" : "above 0.99");
        return text;
    case WarningKind::LimitsSpanGap:
        std::snprintf(text, sizeof text,
                      "The profile of %s falls below the 95%% line and rises above it again: the "
                      "values it does not reject form more than one range, and the limits given "
                      "span them all.",
                      name);
        return text;
    case WarningKind::StandardErrorsNotGiven:
        return "The curvature of the likelihood at the estimates does not give usable standard "
               "errors; rely on the profile limits.";
    case WarningKind::LowExpectedCounts:
        std::snprintf(text, sizeof text,
                      "An expected frequency is below 2 (the smallest is %.2f), so the chi-square "
                      "p-values of the fit check are unreliable.",
                      warning.value);
        return text;
    case WarningKind::FlatProfile:
        std::snprintf(text, sizeof text,
                      "The profile of %s falls by less than 1.65 over the plotted range, so the red "
                      "line 1.92 below its maximum lies below the plot: the 95%% limits are outside "
                      "the plotted range.",
                      name);
        return text;
    case WarningKind::FixedSHasNoProfile:
        return "S is held fixed, so the curve over S is the likelihood at the starting P, not a "
               "profile, and gives no confidence limits for S.";
    }
    return "";
}

} // namespace kestrum::inference
