// Numbers to and from the text of the window's boxes, in the user's locale: the conversions every
// command uses, the digit-pattern Format, the plain conversion a text box shows, and the Print form
// written to "user.txt" and under the plot's ticks.
//
// Reading accepts, between optional blanks: a sign ('+', '-', U+2212 or the locale's own signs),
// digits with at most one decimal separator (the locale's; at least one digit in all), and an
// optional exponent ('e' or 'E', optional sign, digits), so that "1E-05" as plain() writes it
// reads back. Digits are ASCII, or the locale's own digits where it has others. Thousands
// separators are refused: in a comma locale "1.5" would otherwise silently read as 15.
//
// Writing always uses ASCII digits, '-' and the locale's decimal separator. A non-finite value is
// written "NaN", "Infinity" or "-Infinity"; such text does not read back as a number.
#pragma once

#include <QLocale>
#include <QString>

#include <cstdint>
#include <optional>

#include "NumberCore.h"

namespace kestrum::text {

// A converted number, or the reason there is none (for a message that names the problem).
template <class T> struct Number {
    std::optional<T> value;
    QString reason;

    explicit operator bool() const { return value.has_value(); }
};

// Text to a 64-bit real. Blanks around the number are ignored; the decimal separator is the
// locale's. Empty text, anything that is not a number, and non-finite or out-of-range values fail.
// A magnitude too small for a double reads as zero, the nearest double; the largest double as
// plain() shows it ("1.79769313486232E+308", rounded up) reads as that double.
Number<double> toDouble(const QString& text, const QLocale& locale = QLocale());

// Text to a signed 32-bit integer, rounded to the nearest whole number with a half going to the
// even neighbour ("2.5" gives 2, "3.5" gives 4). Values beyond the 32-bit range fail.
// The rounding is done on the decimal text itself, so "2.50000000000000000001" gives 3.
Number<std::int32_t> toInt32(const QString& text, const QLocale& locale = QLocale());

// Format with a digit pattern: "0.##", "0.00", "0.000", "0" or "#.###0". '0' is a digit place
// always shown, '#' one shown only when significant. Rounds half away from zero on the value's
// 15-significant-digit decimal form (0.125 -> "0.13", 2.675 -> "2.68"); "0.##" drops a bare
// trailing point (1 -> "1"); "#.###0" shows no integer digit for 0 (0.25 -> ".2500").
// A result that rounds to zero has no minus sign; one with no digit place left shows "0".
// Any pattern made of '0' and '#' with at most one '.' works; anything else throws
// std::invalid_argument, being a mistake in the calling code.
QString format(double value, const QString& pattern, const QLocale& locale = QLocale());

// The plain conversion a text box shows: 15 significant digits, trailing zeros dropped, "0" before
// the point ("0.009999"), negative zero as "0", exponent form below 1E-04 and from 1E+15 upward
// ("1E-05", "1.5E+20").
QString plain(double value, const QLocale& locale = QLocale());

// The Print form of a single number: a space for a value of zero or more (a minus sign otherwise),
// the number without a zero before the point, then one space (" .9 ", " 1 ", "-3 "). Doubles use
// 15 significant digits, 32-bit reals 7. Exponent form is used below 1E-04, and from the power of
// ten that needs more digits than the precision has (1E+15 for doubles, 1E+07 for 32-bit reals),
// so that no digit is shown that the value does not carry.
QString printForm(double value, const QLocale& locale = QLocale());
QString printForm(float value, const QLocale& locale = QLocale());
QString printForm(std::int32_t value);

// The locale's decimal point, signs and digits, for the conversions of NumberCore.h.
NumberLocale numberLocaleOf(const QLocale& locale = QLocale());

} // namespace kestrum::text
