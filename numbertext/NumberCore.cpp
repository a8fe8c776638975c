#include "NumberCore.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <stdexcept>
#include <system_error>

#include "FloatChars.h"
namespace kestrum::text {
namespace {

// ---------------------------------------------------------------------------------------------
// Reading

// A number as typed, reduced to ±digits × 10^exponent, the digits without leading or trailing
// zeros (none at all for zero). Kept in decimal so that whole-number rounding is exact.
struct Decimal {
    bool negative = false;
    std::string digits;
    std::int64_t exponent = 0;

    // The value lies in [10^(order-1), 10^order).
    std::int64_t order() const { return static_cast<std::int64_t>(digits.size()) + exponent; }
};

// Far beyond any double; keeps the exponent of a 100k-digit "1e999…" from overflowing.
constexpr std::int64_t kExponentCap = 1'000'000'000'000;

// The code point of the UTF-8 sequence at text[at], and its length; 0 bytes for a broken one.
std::pair<char32_t, std::size_t> codePoint(std::string_view text, std::size_t at)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[at + i]); };
    const unsigned char lead = byte(0);
    std::size_t length = lead < 0x80           ? 1
                         : (lead >> 5) == 0x6  ? 2
                         : (lead >> 4) == 0xE  ? 3
                         : (lead >> 3) == 0x1E ? 4
                                               : 0;
    if (length == 0 || at + length > text.size())
        return {0, 0};
    char32_t c = length == 1 ? lead : lead & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80)
            return {0, 0};
        c = (c << 6) | (byte(i) & 0x3F);
    }
    return {c, length};
}

class Scanner {
public:
    Scanner(std::string_view text, const NumberLocale& locale) : text_(text), locale_(locale)
    {
        if (locale.zeroDigit != U'0')
            localZero_ = locale.zeroDigit;
    }

    // Fills `out` when the whole text is one number.
    bool scan(Decimal& out)
    {
        out = Decimal{};
        if (const auto sign = takeSign())
            out.negative = *sign;

        std::string all;
        std::int64_t fractionDigits = 0;
        takeDigits(all);
        if (takeText(locale_.decimalPoint))
            fractionDigits = takeDigits(all);
        if (all.empty())
            return false;

        std::int64_t exponent = 0;
        if (pos_ < text_.size() && (text_[pos_] == 'e' || text_[pos_] == 'E')) {
            ++pos_;
            const bool negativeExponent = takeSign().value_or(false);
            std::string expDigits;
            if (takeDigits(expDigits) == 0)
                return false;
            for (const char c : expDigits) {
                if (exponent < kExponentCap)
                    exponent = exponent * 10 + (c - '0');
            }
            if (negativeExponent)
                exponent = -exponent;
        }
        if (pos_ != text_.size())
            return false;

        const auto first = all.find_first_not_of('0');
        if (first == std::string::npos)
            return true; // zero
        const auto last = all.find_last_not_of('0');
        out.digits = all.substr(first, last - first + 1);
        out.exponent = exponent - fractionDigits + static_cast<std::int64_t>(all.size() - 1 - last);
        return true;
    }

private:
    bool takeText(std::string_view s)
    {
        if (s.empty() || !text_.substr(pos_).starts_with(s))
            return false;
        pos_ += s.size();
        return true;
    }

    // true for a minus sign, false for a plus sign, nothing when there is no sign. The locale's
    // signs come first: they may carry a direction mark before the ASCII character.
    std::optional<bool> takeSign()
    {
        if (takeText(locale_.negativeSign))
            return true;
        if (takeText(locale_.positiveSign))
            return false;
        if (takeText("-") || takeText("\u2212"))
            return true;
        if (takeText("+"))
            return false;
        return std::nullopt;
    }

    // Appends the ASCII form of a run of digits and says how many there were.
    std::int64_t takeDigits(std::string& into)
    {
        std::int64_t count = 0;
        while (pos_ < text_.size()) {
            const auto [c, length] = codePoint(text_, pos_);
            int value = -1;
            if (c >= U'0' && c <= U'9')
                value = static_cast<int>(c - U'0');
            else if (localZero_ != 0 && c >= localZero_ && c <= localZero_ + 9)
                value = static_cast<int>(c - localZero_);
            if (value < 0 || length == 0)
                break;
            into.push_back(static_cast<char>('0' + value));
            pos_ += length;
            ++count;
        }
        return count;
    }

    std::string_view text_;
    const NumberLocale& locale_;
    char32_t localZero_ = 0;
    std::size_t pos_ = 0;
};

std::string_view trimmed(std::string_view text)
{
    const auto first = text.find_first_not_of(" \t\n\r\f\v");
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t\n\r\f\v") - first + 1);
}

// The reason is set when the text is not a number at all.
std::optional<Decimal> read(std::string_view text, const NumberLocale& locale,
                            std::string_view& reason)
{
    const std::string_view number = trimmed(text);
    if (number.empty()) {
        reason = "is empty";
        return std::nullopt;
    }
    Decimal d;
    if (!Scanner(number, locale).scan(d)) {
        reason = "is not a number";
        return std::nullopt;
    }
    return d;
}

template <class T> Converted<T> failure(std::string_view reason)
{
    return Converted<T>{std::nullopt, reason};
}

// ---------------------------------------------------------------------------------------------
// Writing

// A finite magnitude rounded to a number of significant digits: d.ddd… × 10^exponent.
struct Significant {
    std::string digits;
    int exponent = 0;
};

Significant significant(double magnitude, int precision)
{
    // to_chars, unlike printf, ignores the C locale that a Qt application sets from the user's.
    char buffer[64];
    const auto result = text::toChars(buffer, buffer + sizeof buffer, magnitude,
                                      std::chars_format::scientific, precision - 1);
    Significant s;
    const char* p = buffer;
    while (*p != 'e') {
        if (*p != '.')
            s.digits.push_back(*p);
        ++p;
    }
    ++p;
    if (*p == '+')
        ++p;
    std::from_chars(p, result.ptr, s.exponent);
    return s;
}

std::string nonFinite(double value)
{
    if (std::isnan(value))
        return "NaN";
    return value < 0 ? "-Infinity" : "Infinity";
}

// The general number form without its sign: `precision` significant digits, trailing zeros
// dropped, exponent form below 1E-04 and from 10^precision upward.
std::string general(double magnitude, int precision, bool zeroBeforePoint,
                    const NumberLocale& locale)
{
    if (magnitude == 0)
        return "0";
    Significant s = significant(magnitude, precision);
    s.digits.erase(s.digits.find_last_not_of('0') + 1);
    const auto count = s.digits.size();
    const std::string& point = locale.decimalPoint;

    if (s.exponent < -4 || s.exponent >= precision) {
        std::string out = s.digits.substr(0, 1);
        if (count > 1)
            out += point + s.digits.substr(1);
        out += s.exponent < 0 ? "E-" : "E+";
        const int shown = std::abs(s.exponent);
        if (shown < 10)
            out += '0';
        out += std::to_string(shown);
        return out;
    }
    if (s.exponent < 0) {
        return (zeroBeforePoint ? "0" : "") + point +
               std::string(static_cast<std::size_t>(-s.exponent - 1), '0') + s.digits;
    }
    const auto whole = static_cast<std::size_t>(s.exponent + 1);
    if (count <= whole)
        return s.digits + std::string(whole - count, '0');
    return s.digits.substr(0, whole) + point + s.digits.substr(whole);
}

std::string printFormAt(double value, int precision, const NumberLocale& locale)
{
    const std::string body = std::isfinite(value)
                                 ? general(std::fabs(value), precision, false, locale)
                                 : nonFinite(std::fabs(value));
    return (value < 0 ? "-" : " ") + body + ' ';
}

struct Pattern {
    int minWhole = 0;    // integer digits always shown
    int minFraction = 0; // decimals always shown
    int maxFraction = 0; // decimals rounded to
};

Pattern parsePattern(std::string_view text)
{
    const auto point = text.find('.');
    const std::string_view whole = text.substr(0, point);
    const std::string_view fraction =
        point == std::string_view::npos ? std::string_view() : text.substr(point + 1);
    const auto onlyPlaces = [](std::string_view s) {
        return s.find_first_not_of("0#") == std::string_view::npos;
    };
    if (!onlyPlaces(whole) || !onlyPlaces(fraction) || whole.size() + fraction.size() == 0)
        throw std::invalid_argument("unsupported number pattern: " + std::string(text));

    Pattern p;
    const auto firstZero = whole.find('0');
    p.minWhole =
        firstZero == std::string_view::npos ? 0 : static_cast<int>(whole.size() - firstZero);
    const auto lastZero = fraction.rfind('0');
    p.minFraction = lastZero == std::string_view::npos ? 0 : static_cast<int>(lastZero + 1);
    p.maxFraction = static_cast<int>(fraction.size());
    return p;
}

// The magnitude's 15-digit form rounded half away from zero to `decimals` places, as the digits
// of magnitude × 10^decimals (no leading zeros; "" for zero).
std::string scaledDigits(double magnitude, int decimals)
{
    if (magnitude == 0)
        return {};
    constexpr int kPrecision = 15;
    const Significant s = significant(magnitude, kPrecision);
    // The 15 digits, read as a whole number, are the magnitude × 10^(kPrecision - 1 - exponent).
    const int shift = s.exponent - (kPrecision - 1) + decimals;
    if (shift >= 0)
        return s.digits + std::string(static_cast<std::size_t>(shift), '0');
    const int keep = kPrecision + shift;
    if (keep < 0)
        return {};
    std::string out = s.digits.substr(0, static_cast<std::size_t>(keep));
    if (s.digits[static_cast<std::size_t>(keep)] >= '5') {
        auto i = out.size();
        while (i > 0 && out[i - 1] == '9')
            out[--i] = '0';
        if (i == 0)
            out.insert(out.begin(), '1');
        else
            ++out[i - 1];
    }
    out.erase(0, out.find_first_not_of('0')); // npos erases everything: rounded to zero
    return out;
}

} // namespace

Converted<double> readDouble(std::string_view text, const NumberLocale& locale)
{
    std::string_view reason;
    const auto d = read(text, locale, reason);
    if (!d)
        return failure<double>(reason);
    const double zero = d->negative ? -0.0 : 0.0;
    if (d->digits.empty() || d->order() < -400)
        return Converted<double>{zero, {}};
    const char* tooLarge = d->negative ? "is too far below zero" : "is too large";
    if (d->order() > 400)
        return failure<double>(tooLarge);

    const std::string ascii = d->digits + 'e' + std::to_string(d->exponent);
    double magnitude = 0;
    const auto [end, error] = text::fromChars(ascii.data(), ascii.data() + ascii.size(), magnitude);
    if (error == std::errc::result_out_of_range) {
        if (d->order() > 0) {
            // plainNumber() shows the largest double rounded up to 15 digits; read that back as
            // what it shows rather than refuse a number this program wrote itself.
            if (d->order() == 309 && d->digits <= std::string_view("179769313486232"))
                magnitude = std::numeric_limits<double>::max();
            else
                return failure<double>(tooLarge);
        } else {
            magnitude = 0; // below the smallest subnormal: the nearest double is zero
        }
    } else if (error != std::errc{} || end != ascii.data() + ascii.size()) {
        return failure<double>("is not a number"); // the scanner let through what it should not
    }
    return Converted<double>{d->negative ? -magnitude : magnitude, {}};
}

Converted<std::int32_t> readInt32(std::string_view text, const NumberLocale& locale)
{
    std::string_view reason;
    const auto d = read(text, locale, reason);
    if (!d)
        return failure<std::int32_t>(reason);
    const char* outOfRange = d->negative ? "is too far below zero for a whole number"
                                         : "is too large for a whole number";
    if (d->digits.empty() || d->order() < 0)
        return Converted<std::int32_t>{0, {}};
    if (d->order() > 10)
        return failure<std::int32_t>(outOfRange);

    // At most ten whole digits: the magnitude fits in 64 bits, rounding included.
    const auto wholeDigits = static_cast<std::size_t>(d->order());
    std::int64_t whole = 0;
    for (std::size_t i = 0; i < wholeDigits; ++i)
        whole = whole * 10 + (i < d->digits.size() ? d->digits[i] - '0' : 0);
    if (wholeDigits < d->digits.size()) {
        // Trailing zeros are gone, so any digit after the first dropped one makes it above half.
        const char first = d->digits[wholeDigits];
        const bool more = d->digits.size() > wholeDigits + 1;
        if (first > '5' || (first == '5' && (more || whole % 2 != 0)))
            ++whole;
    }
    const std::int64_t value = d->negative ? -whole : whole;
    if (value < std::numeric_limits<std::int32_t>::min() ||
        value > std::numeric_limits<std::int32_t>::max())
        return failure<std::int32_t>(outOfRange);
    return Converted<std::int32_t>{static_cast<std::int32_t>(value), {}};
}

std::string formatNumber(double value, std::string_view pattern, const NumberLocale& locale)
{
    const Pattern p = parsePattern(pattern);
    if (!std::isfinite(value))
        return nonFinite(value);

    const std::string digits = scaledDigits(std::fabs(value), p.maxFraction);
    const auto fractionSize = static_cast<std::size_t>(p.maxFraction);
    std::string whole, fraction;
    if (digits.size() > fractionSize) {
        whole = digits.substr(0, digits.size() - fractionSize);
        fraction = digits.substr(digits.size() - fractionSize);
    } else {
        fraction = std::string(fractionSize - digits.size(), '0') + digits;
    }
    const auto minFraction = static_cast<std::size_t>(p.minFraction);
    while (fraction.size() > minFraction && fraction.back() == '0')
        fraction.pop_back();
    if (whole.size() < static_cast<std::size_t>(p.minWhole))
        whole.insert(0, static_cast<std::size_t>(p.minWhole) - whole.size(), '0');
    if (whole.empty() && fraction.empty())
        whole = "0";

    std::string out;
    if (value < 0 && !digits.empty())
        out += '-';
    out += whole;
    if (!fraction.empty())
        out += locale.decimalPoint + fraction;
    return out;
}

std::string plainNumber(double value, const NumberLocale& locale)
{
    if (!std::isfinite(value))
        return nonFinite(value);
    const std::string body = general(std::fabs(value), 15, true, locale);
    return value < 0 ? "-" + body : body;
}

std::string printFormOf(double value, const NumberLocale& locale)
{
    return printFormAt(value, 15, locale);
}

std::string printFormOf(float value, const NumberLocale& locale)
{
    return printFormAt(static_cast<double>(value), 7, locale);
}

} // namespace kestrum::text
