// What the page's requests to the core have in common: the browser's locale, and the decimals
// asked for as typed.
#pragma once

#include <nlohmann/json.hpp>

#include <string>
#include <string_view>
#include <variant>

#include "NumberCore.h"

namespace kestrum::web {

// request["locale"]: {"decimalPoint", "negativeSign", "positiveSign"}; absent ones as in C.
text::NumberLocale localeOf(const nlohmann::json& request);

// request["digits"] as typed (or a number): blank or absent gives -1, every digit; otherwise a
// whole number from 0 to 15, as the programs' --digits takes, or why it is not one.
std::variant<int, std::string_view> digitsOf(const nlohmann::json& request,
                                             const text::NumberLocale& locale);

// A field of a program's output as the page shows it: a number with the browser's decimal point,
// anything else as it is.
std::string shownInLocale(std::string field, const text::NumberLocale& locale);

} // namespace kestrum::web
