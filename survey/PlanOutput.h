// A survey plan as rows for scripts: one row per stratum and a last row for the city (its stratum
// empty), and the curve of half-width against blocks counted, each as CSV under a header line or
// as JSON Lines, with the same columns. A number that cannot be given is empty (null in JSON).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "OutputWriters.h"
#include "SurveyPlan.h"

namespace kestrum::survey {

// The columns of the plan's rows, in order; the simulated_* columns are empty without a simulation.
const std::vector<std::string_view>& planColumns();
const std::vector<std::string_view>& curveColumns();

// digits < 0: every real in full (the shortest text that reads back as the same double);
// otherwise rounded to that many decimals as the survey's rows are (RowWriter).
std::string planRows(const SurveyPlan& plan, const SimulatedPlan* simulated, Format format,
                     int digits);
std::string curveRows(const SurveyPlan& plan, Format format, int digits);

} // namespace kestrum::survey
