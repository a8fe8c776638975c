// std::to_chars and std::from_chars for doubles, as the standard library gives them; where it does
// not (the libc++ of emscripten's WebAssembly toolchain has them for whole numbers only), the same
// text from the portable versions below. The WebAssembly build's survey output is compared byte
// for byte with the native one's, and the portable versions with the standard ones natively.
#pragma once

#include <charconv>
#include <string>
#include <system_error>

namespace kestrum::text {

// The same text and values as the standard's, from fmt (shortest digits by Dragonbox, exact
// rounding to a precision) and fast_float, without the C library's printf and strtod: those
// compute in long double, which WebAssembly emulates in software some hundred times slower.
namespace portable {

// The shortest text that reads back as value, fixed or scientific whichever is shorter (fixed on
// a tie); a whole number in fixed form has all its digits.
std::to_chars_result to_chars(char* first, char* last, double value);
// The same digits in the form asked for; general is fixed for exponents from -4 to 5, as printf's
// %g with its default precision.
std::to_chars_result to_chars(char* first, char* last, double value, std::chars_format format);
// Rounded to precision digits after the point, fixed or scientific, as printf's %.*f and %.*e.
std::to_chars_result to_chars(char* first, char* last, double value, std::chars_format format,
                              int precision);
// A decimal number as from_chars reads one: an optional '-', digits with an optional point, an
// optional exponent; "inf", "infinity" and "nan". No blanks, no '+', no hexadecimal.
std::from_chars_result from_chars(const char* first, const char* last, double& value);

} // namespace portable

// The standard's where it has them for doubles, else the portable ones.
#if defined(__cpp_lib_to_chars)
namespace chosen = std;
#else
namespace chosen = portable;
#endif

inline std::to_chars_result toChars(char* first, char* last, double value)
{
    return chosen::to_chars(first, last, value);
}
inline std::to_chars_result toChars(char* first, char* last, double value, std::chars_format format)
{
    return chosen::to_chars(first, last, value, format);
}
inline std::to_chars_result toChars(char* first, char* last, double value, std::chars_format format,
                                    int precision)
{
    return chosen::to_chars(first, last, value, format, precision);
}
inline std::from_chars_result fromChars(const char* first, const char* last, double& value)
{
    return chosen::from_chars(first, last, value);
}

// The shortest text that reads back as value, as toChars writes it.
inline std::string shortest(double value)
{
    char text[32];
    return std::string(text, toChars(text, text + sizeof text, value).ptr);
}

} // namespace kestrum::text
