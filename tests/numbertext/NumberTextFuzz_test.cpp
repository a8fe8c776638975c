// Random and hostile text against the readers, judged by an independent grammar (a regular
// expression built from the locale) and an independent converter (strtod in the C locale).
#include "NumberText.h"

#include <gtest/gtest.h>

#include <QRegularExpression>

#include <bit>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <vector>

using namespace kestrum::text;

namespace {

std::string show(const QString& s) { return s.left(80).toStdString(); }

class Oracle {
public:
    explicit Oracle(const QLocale& locale) : locale_(locale)
    {
        std::setlocale(LC_NUMERIC, "C"); // for strtod
        const auto esc = [](const QString& s) { return QRegularExpression::escape(s); };
        QString digit = QStringLiteral("[0-9");
        const QString zero = locale.zeroDigit();
        if (zero.size() == 1 && zero != QStringLiteral("0"))
            digit += zero + u'-' + QChar(zero.at(0).unicode() + 9);
        const QString sign = QStringLiteral("(%1|%2|-|\u2212|\\+)")
                                 .arg(esc(locale.negativeSign()), esc(locale.positiveSign()));
        grammar_.setPattern(QStringLiteral("^%1?(%2+(?:%3%2*)?|%3%2+)(?:[eE]%1?(%2+))?$")
                                .arg(sign, digit + u']', esc(locale.decimalPoint())));
        EXPECT_TRUE(grammar_.isValid()) << show(grammar_.pattern());
    }

    // The value of a text the grammar accepts, or nothing when it does not look like a number.
    std::optional<double> value(const QString& text) const
    {
        const auto m = grammar_.match(text.trimmed());
        if (!m.hasMatch())
            return std::nullopt;
        std::string ascii = negative(m.captured(1)) ? "-" : "";
        for (const QChar c : m.captured(2))
            ascii += c.digitValue() >= 0 ? static_cast<char>('0' + c.digitValue()) : '.';
        if (m.capturedLength(4) > 0) {
            ascii += negative(m.captured(3)) ? "e-" : "e";
            for (const QChar c : m.captured(4))
                ascii += static_cast<char>('0' + c.digitValue());
        }
        const double value = std::strtod(ascii.c_str(), nullptr);
        // The largest double as plain() shows it, rounded up to 15 digits, still reads.
        if (std::isinf(value)
            && std::fabs(std::strtold(ascii.c_str(), nullptr)) <= 1.79769313486232e308L)
            return std::copysign(std::numeric_limits<double>::max(), value);
        return value;
    }

private:
    bool negative(const QString& sign) const
    {
        return sign == locale_.negativeSign() || sign == u"-" || sign == u"\u2212";
    }

    QLocale locale_;
    QRegularExpression grammar_;
};

// One text through both readers, against the oracle.
void check(const QString& text, const QLocale& locale, const Oracle& oracle)
{
    SCOPED_TRACE("text \"" + show(text) + "\" (" + std::to_string(text.size()) + " units) in "
                 + show(locale.name()));
    const auto d = toDouble(text, locale);
    const auto i = toInt32(text, locale);
    const auto expected = oracle.value(text);
    if (!expected) {
        const char* reason = text.trimmed().isEmpty() ? "is empty" : "is not a number";
        EXPECT_TRUE(!d && show(d.reason) == reason) << show(d.reason);
        EXPECT_TRUE(!i && show(i.reason) == reason) << show(i.reason);
        return;
    }
    if (std::isfinite(*expected)) {
        EXPECT_EQ(d.value, *expected) << show(d.reason);
    } else {
        EXPECT_TRUE(!d && d.reason.startsWith(u"is too")) << show(d.reason);
    }

    // Rounding to nearest keeps the double on the text's side of a half, or puts it on the half
    // itself, where only the text can decide.
    const double v = std::isfinite(*expected) ? *expected : std::copysign(1e300, *expected);
    if (std::fabs(v - std::trunc(v)) == 0.5)
        return;
    const double rounded = std::nearbyint(v);
    if (rounded >= -2147483648.0 && rounded <= 2147483647.0) {
        EXPECT_EQ(i.value, rounded) << show(i.reason);
    } else {
        EXPECT_TRUE(!i && i.reason.endsWith(u"for a whole number")) << show(i.reason);
    }
}

class Generator {
public:
    Generator(std::uint32_t seed, const QLocale& locale) : rng_(seed), locale_(locale)
    {
        // Pieces of numbers and near-numbers, the locale's own among them.
        for (const char16_t* s : {u"0", u"1", u"5", u"9", u"+", u"-", u"\u2212", u".", u",", u"e",
                                  u"E", u" ", u"\u00a0", u"\u202f", u"x", u"n", u"\u0660",
                                  u"\u066b", u"\u061c", u"\u200e", u"\uff11", u"\U0001D7CE", u"'"})
            alphabet_.push_back(QString::fromUtf16(s));
        alphabet_.push_back(QString(QChar(0)));
        for (const QString& s : {locale.decimalPoint(), locale.groupSeparator(),
                                 locale.negativeSign(), locale.positiveSign(), locale.zeroDigit(),
                                 locale.exponential()})
            alphabet_.push_back(s);
    }

    QString junk(int maxLength)
    {
        QString s;
        for (int n = pick(0, maxLength); n > 0; --n)
            s += any();
        return s;
    }

    // Mostly well-formed numbers, some of them bent out of shape.
    QString numberLike()
    {
        const QString signs[] = {QString(), locale_.negativeSign(), locale_.positiveSign(),
                                 QStringLiteral("-"), QStringLiteral("+")};
        QString s = pick(0, 3) == 0 ? QStringLiteral(" ") : QString();
        s += signs[pick(0, 4)];
        s += digits(pick(0, 1) ? pick(0, 12) : pick(0, 40));
        if (pick(0, 1))
            s += locale_.decimalPoint() + digits(pick(0, 12));
        if (pick(0, 3) == 0) {
            s += QStringLiteral("eE").at(pick(0, 1));
            s += signs[pick(0, 4)];
            s += digits(pick(0, 4));
        }
        for (int n = pick(0, 3) == 0 ? pick(1, 2) : 0; n > 0 && !s.isEmpty(); --n) {
            const auto at = pick(0, static_cast<int>(s.size()) - 1);
            pick(0, 1) ? s.insert(at, any()) : s.remove(at, 1);
        }
        return s;
    }

private:
    int pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(rng_); }
    const QString& any() { return alphabet_[std::size_t(pick(0, int(alphabet_.size()) - 1))]; }
    // ASCII digits mixed with the locale's own.
    QString digits(int n)
    {
        QString s;
        for (const char16_t zero = locale_.zeroDigit().at(0).unicode(); n > 0; --n) {
            const int value = pick(0, 9);
            s += QChar(static_cast<char16_t>((pick(0, 4) == 0 ? zero : u'0') + value));
        }
        return s;
    }

    std::mt19937 rng_;
    QLocale locale_;
    std::vector<QString> alphabet_;
};

TEST(NumberTextFuzz, RandomTextIsReadOnlyWhenItIsANumber)
{
    std::uint32_t seed = 20240611;
    for (const char* name : {"C", "de_DE", "fr_FR", "sv_SE", "ar_EG", "fa_IR", "de_CH"}) {
        const QLocale locale(QString::fromLatin1(name));
        const Oracle oracle(locale);
        Generator gen(seed++, locale);
        for (int n = 0; n < 1500 && !HasFailure(); ++n) {
            check(gen.junk(12), locale, oracle);
            check(gen.numberLike(), locale, oracle);
        }
    }
}

TEST(NumberTextFuzz, HostileTextIsHandled)
{
    const QString many0(99999, u'0');
    const QString many9(100000, u'9');
    const QLocale c = QLocale::c();
    const Oracle oracle(c);
    Generator gen(7, c);
    // Huge digit runs and exponents, NULs, lone surrogates, junk the size of a pasted file.
    for (const QString& text :
         {QString(100000, u'1'), "0." + many0 + u'1', '1' + many0 + "0e-100000", "0." + many9,
          "1e" + many9, "1e-" + many9, QString(100000, QChar(0)), '1' + QString(QChar(0)) + u'2',
          QString(QChar(0xD800)), '1' + QString(QChar(0xDC00)), QStringLiteral("1e--1"),
          QString::fromUtf16(u"\U0001D7CF"), gen.junk(100000) + u'x', gen.junk(100000) + u'x'})
        check(text, c, oracle);
}

TEST(NumberTextFuzz, EveryDoubleIsWrittenAsTextThatReadsBack)
{
    std::mt19937_64 rng(99);
    const QLocale german("de_DE");
    const Oracle oracle(german);
    for (int n = 0; n < 5000 && !HasFailure(); ++n) {
        // Every bit pattern is a double: NaNs, infinities and subnormals included.
        const double value = std::bit_cast<double>(rng());
        const QString shown = plain(value, german);
        const float single = static_cast<float>(value);
        if (std::isfinite(single)) {
            const double read = toDouble(printForm(single, german), german).value.value_or(NAN);
            EXPECT_LE(std::fabs(read - single), std::fabs(single) * 1e-6) << read;
        }
        if (!std::isfinite(value)) {
            EXPECT_FALSE(toDouble(shown, german)) << show(shown);
            continue;
        }
        check(shown, german, oracle);
        const auto back = toDouble(shown, german);
        ASSERT_TRUE(back) << show(shown);
        EXPECT_LE(std::fabs(*back.value - value), std::fabs(value) * 1e-14) << show(shown);
        EXPECT_EQ(toDouble(printForm(value, german), german).value, back.value);
        const QString rounded = format(value, QStringLiteral("0.00"), german);
        const auto again = toDouble(rounded, german);
        ASSERT_TRUE(again) << show(rounded);
        EXPECT_LE(std::fabs(*again.value - value), 0.005 + std::fabs(value) * 1e-14)
            << show(rounded);
    }
}

} // namespace
