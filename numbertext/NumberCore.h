// The conversions of NumberText.h on UTF-8 text, without Qt: what the window's boxes and plot
// show, for every program that draws or reads numbers the window's way (the plot, the profile
// scan, the page in a browser). The locale comes in as the few strings that matter to a number.
// Reading and writing behave exactly as NumberText.h describes; NumberText's functions are these
// with the locale taken from a QLocale.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kestrum::text {

// What a locale changes in a number.
struct NumberLocale {
    std::string decimalPoint = ".";
    std::string negativeSign = "-";
    std::string positiveSign = "+";
    char32_t zeroDigit = U'0'; // the locale's own digits run from here, when it has others
};

// A converted number, or the reason there is none ("is empty", "is not a number", ...).
template <class T> struct Converted {
    std::optional<T> value;
    std::string_view reason;

    explicit operator bool() const { return value.has_value(); }
};

// Blanks are ASCII spaces and tabs here; the Qt form trims every Unicode blank first.
Converted<double> readDouble(std::string_view text, const NumberLocale& locale = {});
Converted<std::int32_t> readInt32(std::string_view text, const NumberLocale& locale = {});

// Throws std::invalid_argument for a pattern of anything but '0', '#' and one '.'.
std::string formatNumber(double value, std::string_view pattern, const NumberLocale& locale = {});
std::string plainNumber(double value, const NumberLocale& locale = {});
std::string printFormOf(double value, const NumberLocale& locale = {});
std::string printFormOf(float value, const NumberLocale& locale = {});

} // namespace kestrum::text
