#include "NumberText.h"

#include <QStringView>

#include <charconv>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>

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

class Scanner {
public:
    Scanner(QStringView text, const QLocale& locale)
        : text_(text), point_(locale.decimalPoint()), minus_(locale.negativeSign()),
          plus_(locale.positiveSign())
    {
        const QString zero = locale.zeroDigit();
        if (zero.size() == 1 && zero.at(0) != u'0' && zero.at(0).digitValue() == 0)
            localZero_ = zero.at(0).unicode();
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
        if (takeText(point_))
            fractionDigits = takeDigits(all);
        if (all.empty())
            return false;

        std::int64_t exponent = 0;
        if (pos_ < text_.size() && (text_[pos_] == u'e' || text_[pos_] == u'E')) {
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
    bool takeText(QStringView s)
    {
        if (s.isEmpty() || !text_.sliced(pos_).startsWith(s))
            return false;
        pos_ += s.size();
        return true;
    }

    // true for a minus sign, false for a plus sign, nothing when there is no sign. The locale's
    // signs come first: they may carry a direction mark before the ASCII character.
    std::optional<bool> takeSign()
    {
        if (takeText(minus_))
            return true;
        if (takeText(plus_))
            return false;
        if (takeText(u"-") || takeText(u"\u2212"))
            return true;
        if (takeText(u"+"))
            return false;
        return std::nullopt;
    }

    // Appends the ASCII form of a run of digits and says how many there were.
    std::int64_t takeDigits(std::string& into)
    {
        std::int64_t count = 0;
        while (pos_ < text_.size()) {
            const char16_t c = text_[pos_].unicode();
            int value = -1;
            if (c >= u'0' && c <= u'9')
                value = c - u'0';
            else if (localZero_ != 0 && c >= localZero_ && c <= localZero_ + 9)
                value = c - localZero_;
            if (value < 0)
                break;
            into.push_back(static_cast<char>('0' + value));
            ++pos_;
            ++count;
        }
        return count;
    }

    QStringView text_;
    QString point_;
    QString minus_;
    QString plus_;
    char16_t localZero_ = 0;
    qsizetype pos_ = 0;
};

// The reason is set when the text is not a number at all.
std::optional<Decimal> read(const QString& text, const QLocale& locale, QString& reason)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty()) {
        reason = QStringLiteral("is empty");
        return std::nullopt;
    }
    Decimal d;
    if (!Scanner(trimmed, locale).scan(d)) {
        reason = QStringLiteral("is not a number");
        return std::nullopt;
    }
    return d;
}

template <class T>
Number<T> failure(const char* reason)
{
    return Number<T>{std::nullopt, QString::fromLatin1(reason)};
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
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, magnitude,
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

QString nonFinite(double value)
{
    if (std::isnan(value))
        return QStringLiteral("NaN");
    return value < 0 ? QStringLiteral("-Infinity") : QStringLiteral("Infinity");
}

// The general number form without its sign: `precision` significant digits, trailing zeros
// dropped, exponent form below 1E-04 and from 10^precision upward.
QString general(double magnitude, int precision, bool zeroBeforePoint, const QLocale& locale)
{
    if (magnitude == 0)
        return QStringLiteral("0");
    Significant s = significant(magnitude, precision);
    s.digits.erase(s.digits.find_last_not_of('0') + 1);
    const int count = static_cast<int>(s.digits.size());
    const QString point = locale.decimalPoint();

    if (s.exponent < -4 || s.exponent >= precision) {
        QString out = QString::fromLatin1(s.digits.data(), 1);
        if (count > 1)
            out += point + QString::fromLatin1(s.digits.data() + 1, count - 1);
        out += s.exponent < 0 ? QStringLiteral("E-") : QStringLiteral("E+");
        out += QStringLiteral("%1").arg(std::abs(s.exponent), 2, 10, QLatin1Char('0'));
        return out;
    }
    if (s.exponent < 0) {
        return (zeroBeforePoint ? QStringLiteral("0") : QString()) + point
               + QString(-s.exponent - 1, u'0') + QString::fromLatin1(s.digits);
    }
    const int whole = s.exponent + 1;
    if (count <= whole)
        return QString::fromLatin1(s.digits) + QString(whole - count, u'0');
    return QString::fromLatin1(s.digits.data(), whole) + point
           + QString::fromLatin1(s.digits.data() + whole, count - whole);
}

QString printFormOf(double value, int precision, const QLocale& locale)
{
    const QString body = std::isfinite(value)
                             ? general(std::fabs(value), precision, false, locale)
                             : nonFinite(std::fabs(value));
    return (value < 0 ? QStringLiteral("-") : QStringLiteral(" ")) + body + u' ';
}

struct Pattern {
    int minWhole = 0;    // integer digits always shown
    int minFraction = 0; // decimals always shown
    int maxFraction = 0; // decimals rounded to
};

Pattern parsePattern(const QString& text)
{
    const qsizetype point = text.indexOf(u'.');
    const QStringView whole = QStringView(text).first(point < 0 ? text.size() : point);
    const QStringView fraction = point < 0 ? QStringView() : QStringView(text).sliced(point + 1);
    const auto onlyPlaces = [](QStringView s) {
        for (const QChar c : s) {
            if (c != u'0' && c != u'#')
                return false;
        }
        return true;
    };
    if (!onlyPlaces(whole) || !onlyPlaces(fraction) || whole.size() + fraction.size() == 0)
        throw std::invalid_argument("unsupported number pattern: " + text.toStdString());

    Pattern p;
    const qsizetype firstZero = whole.indexOf(u'0');
    p.minWhole = firstZero < 0 ? 0 : static_cast<int>(whole.size() - firstZero);
    p.minFraction = static_cast<int>(fraction.lastIndexOf(u'0') + 1);
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

Number<double> toDouble(const QString& text, const QLocale& locale)
{
    QString reason;
    const auto d = read(text, locale, reason);
    if (!d)
        return Number<double>{std::nullopt, reason};
    const double zero = d->negative ? -0.0 : 0.0;
    if (d->digits.empty() || d->order() < -400)
        return Number<double>{zero, {}};
    const char* tooLarge = d->negative ? "is too far below zero" : "is too large";
    if (d->order() > 400)
        return failure<double>(tooLarge);

    const std::string ascii = d->digits + 'e' + std::to_string(d->exponent);
    double magnitude = 0;
    const auto [end, error] = std::from_chars(ascii.data(), ascii.data() + ascii.size(), magnitude);
    if (error == std::errc::result_out_of_range) {
        if (d->order() > 0) {
            // plain() shows the largest double rounded up to 15 digits; read that back as what
            // it shows rather than refuse a number this program wrote itself.
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
    return Number<double>{d->negative ? -magnitude : magnitude, {}};
}

Number<std::int32_t> toInt32(const QString& text, const QLocale& locale)
{
    QString reason;
    const auto d = read(text, locale, reason);
    if (!d)
        return Number<std::int32_t>{std::nullopt, reason};
    const char* outOfRange = d->negative ? "is too far below zero for a whole number"
                                         : "is too large for a whole number";
    if (d->digits.empty() || d->order() < 0)
        return Number<std::int32_t>{0, {}};
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
    if (value < std::numeric_limits<std::int32_t>::min()
        || value > std::numeric_limits<std::int32_t>::max())
        return failure<std::int32_t>(outOfRange);
    return Number<std::int32_t>{static_cast<std::int32_t>(value), {}};
}

QString format(double value, const QString& pattern, const QLocale& locale)
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

    QString out;
    if (value < 0 && !digits.empty())
        out += u'-';
    out += QString::fromLatin1(whole);
    if (!fraction.empty())
        out += locale.decimalPoint() + QString::fromLatin1(fraction);
    return out;
}

QString plain(double value, const QLocale& locale)
{
    if (!std::isfinite(value))
        return nonFinite(value);
    const QString body = general(std::fabs(value), 15, true, locale);
    return value < 0 ? QStringLiteral("-") + body : body;
}

QString printForm(double value, const QLocale& locale)
{
    return printFormOf(value, 15, locale);
}

QString printForm(float value, const QLocale& locale)
{
    return printFormOf(static_cast<double>(value), 7, locale);
}

QString printForm(std::int32_t value)
{
    return (value < 0 ? QString() : QStringLiteral(" ")) + QString::number(value) + u' ';
}

} // namespace kestrum::text
