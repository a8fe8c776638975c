// std::to_chars and std::from_chars for doubles, as the standard library gives them; where it does
// not (the libc++ of emscripten's WebAssembly toolchain has them for whole numbers only), the same
// text from the C library's correctly rounded printf and strtod, whose locale there is always "C".
// The WebAssembly build's survey output is compared byte for byte with the native one's.
#pragma once

#include <charconv>
#include <system_error>

#if !defined(__cpp_lib_to_chars)
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#endif

namespace kestrum::text {

#if defined(__cpp_lib_to_chars)

inline std::to_chars_result toChars(char* first, char* last, double value)
{
    return std::to_chars(first, last, value);
}
inline std::to_chars_result toChars(char* first, char* last, double value, std::chars_format format)
{
    return std::to_chars(first, last, value, format);
}
inline std::to_chars_result toChars(char* first, char* last, double value, std::chars_format format,
                                    int precision)
{
    return std::to_chars(first, last, value, format, precision);
}
inline std::from_chars_result fromChars(const char* first, const char* last, double& value)
{
    return std::from_chars(first, last, value);
}

#else

namespace detail {

inline std::to_chars_result copyOut(char* first, char* last, const char* text, std::size_t size)
{
    if (static_cast<std::size_t>(last - first) < size) {
        return {last, std::errc::value_too_large};
    }
    std::memcpy(first, text, size);
    return {first + size, std::errc()};
}

// The shortest digits that read back as value (the closest such to it), d.ddd × 10^exponent.
inline void shortest(double magnitude, std::string& digits, int& exponent)
{
    char text[40];
    for (int precision = 1; precision <= 17; ++precision) {
        std::snprintf(text, sizeof text, "%.*e", precision - 1, magnitude);
        if (std::strtod(text, nullptr) == magnitude || precision == 17) {
            break;
        }
    }
    digits.clear();
    const char* p = text;
    for (; *p != 'e'; ++p) {
        if (*p != '.') {
            digits += *p;
        }
    }
    exponent = std::atoi(p + 1);
}

inline std::string fixedForm(const std::string& digits, int exponent)
{
    if (exponent < 0) {
        return "0." + std::string(static_cast<std::size_t>(-exponent - 1), '0') + digits;
    }
    const auto whole = static_cast<std::size_t>(exponent) + 1;
    if (digits.size() <= whole) {
        return digits + std::string(whole - digits.size(), '0');
    }
    return digits.substr(0, whole) + '.' + digits.substr(whole);
}

inline std::string scientificForm(const std::string& digits, int exponent)
{
    std::string text = digits.substr(0, 1);
    if (digits.size() > 1) {
        text += '.' + digits.substr(1);
    }
    char tail[8];
    std::snprintf(tail, sizeof tail, "e%c%02d", exponent < 0 ? '-' : '+', std::abs(exponent));
    return text + tail;
}

} // namespace detail

// The shortest text that reads back as value, fixed or scientific whichever is shorter (fixed on a
// tie), or always fixed.
inline std::to_chars_result toChars(char* first, char* last, double value,
                                    std::chars_format format = std::chars_format::general)
{
    std::string text = std::signbit(value) ? "-" : "";
    const double magnitude = std::fabs(value);
    if (std::isnan(value)) {
        text += "nan";
    } else if (std::isinf(value)) {
        text += "inf";
    } else if (magnitude == 0.0) {
        text += "0";
    } else {
        std::string digits;
        int exponent = 0;
        detail::shortest(magnitude, digits, exponent);
        const std::string fixed = detail::fixedForm(digits, exponent);
        const std::string scientific = detail::scientificForm(digits, exponent);
        text += format == std::chars_format::fixed || fixed.size() <= scientific.size()
                    ? fixed
                    : scientific;
    }
    return detail::copyOut(first, last, text.data(), text.size());
}

inline std::to_chars_result toChars(char* first, char* last, double value, std::chars_format format,
                                    int precision)
{
    char text[400];
    const int size = std::snprintf(
        text, sizeof text, format == std::chars_format::fixed ? "%.*f" : "%.*e", precision, value);
    if (size < 0 || static_cast<std::size_t>(size) >= sizeof text) {
        return {last, std::errc::value_too_large};
    }
    return detail::copyOut(first, last, text, static_cast<std::size_t>(size));
}

// A decimal number as from_chars reads one: an optional '-', digits with an optional point, an
// optional exponent; "inf" and "nan". No blanks, no '+', no hexadecimal, as strtod would take.
inline std::from_chars_result fromChars(const char* first, const char* last, double& value)
{
    const char* p = first;
    if (p != last && *p == '-') {
        ++p;
    }
    const auto digit = [](char c) { return c >= '0' && c <= '9'; };
    const char* start = p;
    int digits = 0;
    while (p != last && digit(*p)) {
        ++p;
        ++digits;
    }
    if (p != last && *p == '.') {
        ++p;
        while (p != last && digit(*p)) {
            ++p;
            ++digits;
        }
    }
    if (digits == 0) {
        // "inf", "infinity" and "nan", as from_chars takes them.
        for (const char* word : {"infinity", "inf", "nan"}) {
            const std::size_t size = std::strlen(word);
            if (static_cast<std::size_t>(last - start) >= size &&
                strncasecmp(start, word, size) == 0) {
                value = std::strtod(std::string(first, start + size).c_str(), nullptr);
                return {start + size, std::errc()};
            }
        }
        return {first, std::errc::invalid_argument};
    }
    if (p != last && (*p == 'e' || *p == 'E')) {
        const char* exponent = p + 1;
        if (exponent != last && (*exponent == '+' || *exponent == '-')) {
            ++exponent;
        }
        if (exponent != last && digit(*exponent)) {
            p = exponent;
            while (p != last && digit(*p)) {
                ++p;
            }
        }
    }
    const std::string text(first, p);
    errno = 0;
    const double read = std::strtod(text.c_str(), nullptr);
    // A result out of range leaves value as it was, as from_chars does; a denormal is a value.
    if (errno == ERANGE && (std::isinf(read) || read == 0.0)) {
        return {p, std::errc::result_out_of_range};
    }
    value = read;
    return {p, std::errc()};
}

#endif

} // namespace kestrum::text
