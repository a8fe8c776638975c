#include "FloatChars.h"

#include <fast_float/fast_float.h>
#include <fmt/compile.h>

#include <algorithm>
#include <cmath>
#include <optional>
#include <string>
#include <string_view>

namespace kestrum::text::portable {

namespace {

std::to_chars_result copyOut(char* first, char* last, std::string_view text)
{
    if (static_cast<std::size_t>(last - first) < text.size()) {
        return {last, std::errc::value_too_large};
    }
    return {std::copy(text.begin(), text.end(), first), std::errc()};
}

// The shortest digits that read back as magnitude (finite, above 0), d.ddd × 10^exponent, from
// fmt's shortest text in whichever form it chose ("1e+20", "0.001", "392.65").
void shortest(double magnitude, std::string& digits, int& exponent)
{
    char text[32];
    const auto written = fmt::format_to_n(text, sizeof text, FMT_COMPILE("{}"), magnitude);
    const std::string_view shown(text, std::min(written.size, sizeof text));
    const std::size_t e = shown.find('e');
    const std::string_view mantissa = shown.substr(0, e);
    const std::size_t point = mantissa.find('.');
    exponent = static_cast<int>(point == std::string_view::npos ? mantissa.size() : point) - 1;
    if (e != std::string_view::npos) {
        const char* tail = shown.data() + e + 1;
        int power = 0;
        std::from_chars(*tail == '+' ? tail + 1 : tail, shown.data() + shown.size(), power);
        exponent += power;
    }
    digits.clear();
    for (const char c : mantissa) {
        if (c != '.') {
            digits += c;
        }
    }
    const std::size_t lead = digits.find_first_not_of('0');
    digits.erase(0, lead);
    exponent -= static_cast<int>(lead);
    while (digits.size() > 1 && digits.back() == '0') {
        digits.pop_back();
    }
}

std::string fixedForm(double magnitude, const std::string& digits, int exponent)
{
    if (exponent < 0) {
        return "0." + std::string(static_cast<std::size_t>(-exponent - 1), '0') + digits;
    }
    const auto whole = static_cast<std::size_t>(exponent) + 1;
    if (digits.size() <= whole) {
        // A whole number: every digit of its value, as printf's %.0f, not the shortest digits
        // padded with zeros (2^60 is 1152921504606846976, not 1152921504606847000).
        return fmt::format(FMT_COMPILE("{:.0f}"), magnitude);
    }
    return digits.substr(0, whole) + '.' + digits.substr(whole);
}

std::string scientificForm(const std::string& digits, int exponent)
{
    std::string text = digits.substr(0, 1);
    if (digits.size() > 1) {
        text += '.' + digits.substr(1);
    }
    return text +
           fmt::format(FMT_COMPILE("e{}{:02}"), exponent < 0 ? '-' : '+', std::abs(exponent));
}

// The shortest text in the form asked for; no form: whichever of fixed and scientific is
// shorter, fixed on a tie.
std::to_chars_result shortestText(char* first, char* last, double value,
                                  std::optional<std::chars_format> format)
{
    std::string text = std::signbit(value) ? "-" : "";
    const double magnitude = std::fabs(value);
    if (std::isnan(value)) {
        text += "nan";
    } else if (std::isinf(value)) {
        text += "inf";
    } else if (magnitude == 0.0) {
        text += format == std::chars_format::scientific ? "0e+00" : "0";
    } else {
        std::string digits;
        int exponent = 0;
        shortest(magnitude, digits, exponent);
        bool fixed = format == std::chars_format::fixed;
        if (format == std::chars_format::general) {
            fixed = exponent >= -4 && exponent < 6;
        } else if (!format) {
            fixed = fixedForm(magnitude, digits, exponent).size() <=
                    scientificForm(digits, exponent).size();
        }
        text += fixed ? fixedForm(magnitude, digits, exponent) : scientificForm(digits, exponent);
    }
    return copyOut(first, last, text);
}

} // namespace

std::to_chars_result to_chars(char* first, char* last, double value)
{
    return shortestText(first, last, value, std::nullopt);
}

std::to_chars_result to_chars(char* first, char* last, double value, std::chars_format format)
{
    return shortestText(first, last, value, format);
}

std::to_chars_result to_chars(char* first, char* last, double value, std::chars_format format,
                              int precision)
{
    const auto room = static_cast<std::size_t>(last - first);
    const auto written =
        format == std::chars_format::fixed
            ? fmt::format_to_n(first, room, FMT_COMPILE("{:.{}f}"), value, precision)
            : fmt::format_to_n(first, room, FMT_COMPILE("{:.{}e}"), value, precision);
    if (written.size > room) {
        return {last, std::errc::value_too_large};
    }
    return {written.out, std::errc()};
}

std::from_chars_result from_chars(const char* first, const char* last, double& value)
{
    double read = 0.0;
    const auto result = fast_float::from_chars(first, last, read);
    if (result.ec != std::errc()) {
        return {result.ptr, result.ec};
    }
    // fast_float gives infinity or zero for a number beyond the doubles, where from_chars tells
    // it out of range and leaves value as it was; a denormal is a value.
    const char* digits = first != last && *first == '-' ? first + 1 : first;
    const bool number = digits != last && ((*digits >= '0' && *digits <= '9') || *digits == '.');
    if (number) {
        const char* end =
            std::find_if(digits, result.ptr, [](char c) { return c == 'e' || c == 'E'; });
        const bool nonZero = std::any_of(digits, end, [](char c) { return c >= '1' && c <= '9'; });
        if (std::isinf(read) || (read == 0.0 && nonZero)) {
            return {result.ptr, std::errc::result_out_of_range};
        }
    }
    value = read;
    return {result.ptr, std::errc()};
}

} // namespace kestrum::text::portable
