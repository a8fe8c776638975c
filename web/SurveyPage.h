// The survey page of kestrum.html: a survey or a sheet of sightings (and its frame) read from the
// device, run through the survey tool's own code, and the output as kestrum-estimate writes it
// with the same settings, byte for byte, beside its rows for the page's tables.
#pragma once

#include <string>

#include "Drawing.h"

namespace kestrum::web {

// The output and the rows apart from the rest: a survey of many blocks gives megabytes of them,
// which need no JSON's escaping on the way out and no parsing on the way in.
struct SurveyAnswer {
    // {"header": [...], "messages": [...], "summary": {...}, "sheet": the input was a sheet of
    //  sightings}
    // or {"refused": {"box", "reason"}} for a setting that is not one (nothing was run), or
    // {"stopped": why, ...} with what was written before a row that stopped the run.
    std::string answer;
    std::string csv; // kestrum-estimate's output (with "tally": kestrum-estimate --tally's)
    // Every row after the header, its cells as the page shows them (numbers in the browser's
    // locale), cells ended by '\x1f' and rows by '\x1e'; those two never stand in a cell.
    std::string table;
    ForestDrawing forest; // the survey's forest plot, as the survey window draws it
};

// request: {"survey": text, "surveyName", "frame": text (optional), "frameName",
//           "blocks": one stratum's size (optional), "pBy": "stratum" | "survey" | "block",
//           "profileOfP", "digits" (absent: every digit), "coverageTarget": as typed (empty:
//           0.70), "tally": the sheet's tally instead of its fits, "locale"}
SurveyAnswer survey(const std::string& request);

} // namespace kestrum::web
