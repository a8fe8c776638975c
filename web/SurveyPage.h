// The survey page of kestrum.html: a survey (and its frame) read from the device, run through the
// survey tool's own code, and the output as kestrum-estimate writes it with the same settings,
// byte for byte, beside its rows for the page's tables.
#pragma once

#include <string>

namespace kestrum::web {

// request: {"survey": text, "surveyName", "frame": text (optional), "frameName",
//           "blocks": one stratum's size (optional), "pBy": "stratum" | "survey" | "block",
//           "profileOfP", "digits" (absent: every digit), "locale"}
// answer: {"csv": the output, "header": [...], "rows": [[...], ...] (numbers in the browser's
//          locale), "messages": [...], "summary": {...}} or {"stopped": why nothing was written,
//          ...} with what was written before a row that stopped the run.
std::string survey(const std::string& request);

} // namespace kestrum::web
