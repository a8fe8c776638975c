// The profile log likelihood of P or of S around its estimate: the parameter of interest is held at
// values on whole hundredths across the "% plotting range", and at each the likelihood is
// maximised over the other parameter (or, with S held fixed, simply evaluated).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <utility>

#include "EstimatePress.h"
#include "ModelRecord.h"

namespace kestrum {

// The scan's first value, end and step from the estimate E and press.RANGEPCT.
void ScanRange(EstimatePress& press, double E);

// The scan's positions, from SCANLO by SCANSTEP while below SCANHI, at most 100, each with its
// height from heightAt(value): what the window's search finds there, or the exact profile. Fills
// PROFLL and PROFPCT.
void ScanPoints(EstimatePress& press, std::int16_t& NPTS,
                const std::function<double(double)>& heightAt);

// Points the record at the other parameter and scans, filling PROFLL and PROFPCT; returns how many
// points' searches ended without converging. Never stores more than 100 points.
int ScanProfile(EstimatePress& press, ModelRecord& record, bool profileOfP, std::int16_t& NPTS,
                KestrumN_E04JYF N_E04JYF);

// The first and last positions (PROFPCT) ScanProfile gives for press's SCANLO, SCANHI and
// SCANSTEP, without scanning; none when it takes no point.
std::optional<std::pair<float, float>> ScanEnds(const EstimatePress& press);

// What the % plotting range can show around the estimate E. The scan's values are whole
// hundredths from 0.01 that stay below 0.99, where they start from the estimate and step by the
// range, so a limit near a bound can lie beyond every range; and the step widens with the range,
// so a wider range can end short of a narrower one.
struct ScanReach {
    std::optional<int> rangePct; // the whole range nearest rangePct plotting every value asked for
    float lowest = 100.0f;       // the farthest positions any range plots, in percent
    float highest = 0.0f;
};
// valuesPct in percent, as the plot's positions; "plotted" means between its first and last.
ScanReach ReachOfScans(double E, double rangePct, std::span<const double> valuesPct);

} // namespace kestrum
