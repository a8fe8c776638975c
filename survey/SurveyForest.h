// A survey's forest plot, as the survey window and the page in a browser draw it (ForestPlot.h).
#pragma once

#include <vector>

#include "ForestPlot.h"
#include "SamplingFrame.h"
#include "SurveyResults.h"

namespace kestrum::survey {

// Each block's N grouped by stratum (in the frame's order, else in the order the strata come), the
// strata's and the city's dogs per block beneath. Rows that were not read are left out. strata:
// those of the frame the survey ran with; empty without one.
ForestPlot surveyForest(const SurveyResults& results, const std::vector<FrameStratum>& strata);

} // namespace kestrum::survey
