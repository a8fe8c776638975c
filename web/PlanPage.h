// The planner page of kestrum.html: the strata as typed, a target or a budget, run through the
// planner's own code (SurveyPlan), with its rows as kestrum-plan writes them with the same
// settings, byte for byte, and its curve drawn by the planner's plot code for the page to replay.
#pragma once

#include <string>

namespace kestrum::web {

// request: {"strata": [[stratum, blocks, dogs_per_block, dogs_cv, P, S], ...] as typed,
//           "target" or "blocks" as typed, "blocksPerDay" as typed (empty: 1), "digits" (absent:
//           every digit), "locale", "canvas": {"width", "height", "lineHeight"}}
// answer: {"csv": the plan, "curveCsv": its curve (kestrum-plan --curve), "header": [...],
//          "rows": [[...], ...] (numbers in the browser's locale), "notes": [...], "plot"}, or
//          {"refused": {"box", "row" (of the strata, from 1), "reason"}} for what cannot be planned
//          with, or {"failed": why} for a goal that cannot be met with these strata.
// Or {"planFile": text, "planName"}: the plan file read as kestrum-plan reads it, its strata as
// the table's cells ({"strata": [[...], ...]}), or {"refused": {"box": "planFile", "reason"}}.
std::string plan(const std::string& request);

} // namespace kestrum::web
