// Numbers to and from the text of the window's boxes, in the user's locale: the conversions every
// command uses, the digit-pattern Format, the plain conversion a text box shows, and the Print form
// written to "user.txt" and under the plot's ticks.
#pragma once

#include <QLocale>
#include <QString>

#include <cstdint>
#include <optional>

namespace kestrum::text {

// A converted number, or the reason there is none (for a message that names the problem).
template <class T>
struct Number {
    std::optional<T> value;
    QString reason;

    explicit operator bool() const { return value.has_value(); }
};

// Text to a 64-bit real. Blanks around the number are ignored; the decimal separator is the
// locale's. Empty text, anything that is not a number, and non-finite or out-of-range values fail.
Number<double> toDouble(const QString& text, const QLocale& locale = QLocale());

// Text to a signed 32-bit integer, rounded to the nearest whole number with a half going to the
// even neighbour ("2.5" gives 2, "3.5" gives 4). Values beyond the 32-bit range fail.
Number<std::int32_t> toInt32(const QString& text, const QLocale& locale = QLocale());

// Format with a digit pattern: "0.##", "0.00", "0.000", "0" or "#.###0". '0' is a digit place
// always shown, '#' one shown only when significant. Rounds half away from zero on the value's
// 15-significant-digit decimal form (0.125 -> "0.13", 2.675 -> "2.68"); "0.##" drops a bare
// trailing point (1 -> "1"); "#.###0" shows no integer digit for 0 (0.25 -> ".2500").
QString format(double value, const QString& pattern, const QLocale& locale = QLocale());

// The plain conversion a text box shows: 15 significant digits, trailing zeros dropped, "0" before
// the point ("0.009999"), negative zero as "0", exponent form below 1E-04 and from 1E+15 upward
// ("1E-05", "1.5E+20").
QString plain(double value, const QLocale& locale = QLocale());

// The Print form of a single number: a space for a value of zero or more (a minus sign otherwise),
// the number without a zero before the point, then one space (" .9 ", " 1 ", "-3 "). Doubles use
// 15 significant digits, 32-bit reals 7, with the same exponent rule as plain().
QString printForm(double value, const QLocale& locale = QLocale());
QString printForm(float value, const QLocale& locale = QLocale());
QString printForm(std::int32_t value);

} // namespace kestrum::text
