// The profile log likelihood of P or of S around its estimate: the parameter of interest is held at
// values on whole hundredths across the "% plotting range", and at each the likelihood is
// maximised over the other parameter (or, with S held fixed, simply evaluated).
#pragma once

#include <cstdint>
#include <functional>

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

} // namespace kestrum
