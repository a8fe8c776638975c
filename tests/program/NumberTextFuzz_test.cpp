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
        const auto esc = [](const QString& s) { return QRegularExpression::escape(s); };
        QString digit = QStringLiteral("0-9");
        const QString zero = locale.zeroDigit();
        if (zero.size() == 1 && zero != QStringLiteral("0"))
            digit += zero + u'-' + QChar(zero.at(0).unicode() + 9);
        const QString d = QStringLiteral("[") + digit + QStringLiteral("]");
        const QString sign = QStringLiteral("(%1|%2|-|\u2212|\\+)")
                                 .arg(esc(locale.negativeSign()), esc(locale.positiveSign()));
        const QString point = esc(locale.decimalPoint());
        grammar_.setPattern(QStringLiteral("^%1?(%2+(?:%3%2*)?|%3%2+)(?:[eE]%1?(%2+))?$")
                                .arg(sign, d, point));
        EXPECT_TRUE(grammar_.isValid()) << show(grammar_.pattern());
    }

    // The value of a text the grammar accepts, or nothing when it does not look like a number.
    std::optional<double> value(const QString& text) const
    {
        const auto m = grammar_.match(text.trimmed());
        if (!m.hasMatch())
            return std::nullopt;
        std::string ascii = negative(m.captured(1)) ? "-" : "";
        bool pointDone = false;
        for (const QChar c : m.captured(2)) {
            if (c.digitValue() >= 0) {
                ascii += static_cast<char>('0' + c.digitValue());
            } else if (!pointDone) {
                ascii += '.';
                pointDone = true;
            }
        }
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
        return !sign.isEmpty()
               && (sign == locale_.negativeSign() || sign == u"-" || sign == u"\u2212");
    }

    QLocale locale_;
    QRegularExpression grammar_;
};

bool isReason(const QString& r, std::initializer_list<const char*> allowed)
{
    for (const char* a : allowed) {
        if (r == QLatin1String(a))
            return true;
    }
    return false;
}

// One text through both readers, against the oracle.
void check(const QString& text, const QLocale& locale, const Oracle& oracle)
{
    SCOPED_TRACE("text \"" + show(text) + "\" (" + std::to_string(text.size()) + " units) in "
                 + show(locale.name()));
    const auto d = toDouble(text, locale);
    const auto i = toInt32(text, locale);
    const auto expected = oracle.value(text);

    if (!expected) {
        EXPECT_FALSE(d) << *d.value;
        EXPECT_FALSE(i) << *i.value;
        const char* reason = text.trimmed().isEmpty() ? "is empty" : "is not a number";
        EXPECT_EQ(show(d.reason), reason);
        EXPECT_EQ(show(i.reason), reason);
        return;
    }

    if (std::isfinite(*expected)) {
        ASSERT_TRUE(d) << show(d.reason);
        EXPECT_EQ(*d.value, *expected);
        // Whatever was read must survive the trip through a text box.
        const auto back = toDouble(plain(*d.value, locale), locale);
        ASSERT_TRUE(back) << show(plain(*d.value, locale));
        EXPECT_LE(std::fabs(*back.value - *d.value), std::fabs(*d.value) * 1e-14);
    } else {
        EXPECT_FALSE(d) << *d.value;
        EXPECT_TRUE(isReason(d.reason, {"is too large", "is too far below zero"})) << show(d.reason);
    }

    // The double only approximates the text, so near a half or at the range's ends either answer
    // can be right; everywhere else the rounding is fixed.
    const double v = std::isfinite(*expected) ? *expected : std::copysign(1e300, *expected);
    const double rounded = std::nearbyint(v);
    const bool nearTie = std::fabs(std::fabs(v - std::trunc(v)) - 0.5) < 1e-6 * std::fmax(1, std::fabs(v));
    const bool inRange = rounded >= -2147483648.0 && rounded <= 2147483647.0;
    const bool nearEdge = std::fabs(std::fabs(v) - 2147483648.0) < 1.0;
    if (i) {
        EXPECT_TRUE(inRange || nearEdge) << *i.value;
        EXPECT_LE(std::fabs(*i.value - v), 0.5 + 1e-6 * std::fmax(1, std::fabs(v)));
        if (!nearTie) {
            EXPECT_EQ(*i.value, rounded);
        }
        EXPECT_EQ(toInt32(QString::number(*i.value), QLocale::c()).value, *i.value);
        EXPECT_EQ(toInt32(printForm(*i.value), QLocale::c()).value, *i.value);
    } else {
        EXPECT_TRUE(!inRange || nearEdge) << show(i.reason);
        EXPECT_TRUE(isReason(i.reason, {"is too large for a whole number",
                                        "is too far below zero for a whole number"}))
            << show(i.reason);
    }
}

std::vector<QLocale> locales()
{
    std::vector<QLocale> all;
    for (const char* name : {"C", "en_US", "de_DE", "fr_FR", "sv_SE", "ar_EG", "fa_IR", "hi_IN", "de_CH"})
        all.emplace_back(QString::fromLatin1(name));
    return all;
}

// Pieces of text that numbers and near-numbers are made of, the locale's own among them.
std::vector<QString> alphabet(const QLocale& locale)
{
    std::vector<QString> a;
    for (char c = '0'; c <= '9'; ++c)
        a.push_back(QString(QChar::fromLatin1(c)));
    for (const char16_t* s : {u"+", u"-", u"\u2212", u".", u",", u"e", u"E", u" ", u"\t", u"\u00a0",
                              u"\u202f", u"x", u"i", u"n", u"f", u"\u0660", u"\u0665", u"\u066b",
                              u"\u061c", u"\u200e", u"\uff11", u"\u0967", u"\U0001D7CE", u"'"})
        a.push_back(QString::fromUtf16(s));
    a.push_back(QString(QChar(0)));
    for (const QString& s : {locale.decimalPoint(), locale.groupSeparator(), locale.negativeSign(),
                             locale.positiveSign(), locale.zeroDigit(), locale.exponential()})
        a.push_back(s);
    return a;
}

class Generator {
public:
    Generator(std::uint32_t seed, const QLocale& locale)
        : rng_(seed), locale_(locale), alphabet_(alphabet(locale))
    {
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
        QString s = pick(0, 3) == 0 ? QStringLiteral(" ") : QString();
        const QString signs[] = {QString(), QString(), locale_.negativeSign(), locale_.positiveSign(),
                                 QStringLiteral("-"), QStringLiteral("+")};
        s += signs[pick(0, 5)];
        s += digits(pick(0, 1) ? pick(0, 12) : pick(0, 40));
        if (pick(0, 1))
            s += locale_.decimalPoint() + digits(pick(0, 12));
        if (pick(0, 3) == 0)
            s += QStringLiteral("eE").at(pick(0, 1)) + signs[pick(0, 5)] + digits(pick(0, 4));
        if (pick(0, 3) == 0)
            s += QStringLiteral("\t ");
        for (int n = pick(0, 3) == 0 ? pick(1, 2) : 0; n > 0 && !s.isEmpty(); --n) {
            const auto at = pick(0, static_cast<int>(s.size()) - 1);
            switch (pick(0, 2)) {
            case 0: s.insert(at, any()); break;
            case 1: s.remove(at, 1); break;
            default: s.insert(at, s.at(at)); break;
            }
        }
        return s;
    }

private:
    int pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(rng_); }
    const QString& any()
    {
        return alphabet_[static_cast<std::size_t>(pick(0, static_cast<int>(alphabet_.size()) - 1))];
    }
    QString digits(int n)
    {
        QString s;
        const char16_t zero = locale_.zeroDigit().at(0).unicode();
        while (n-- > 0) {
            const auto v = static_cast<char16_t>(pick(0, 9));
            s += QChar(static_cast<char16_t>((pick(0, 4) == 0 ? zero : u'0') + v));
        }
        return s;
    }

    std::mt19937 rng_;
    QLocale locale_;
    std::vector<QString> alphabet_;
};

class NumberTextFuzz : public ::testing::Test {
protected:
    void SetUp() override { std::setlocale(LC_NUMERIC, "C"); }
};

TEST_F(NumberTextFuzz, RandomTextIsReadOnlyWhenItIsANumber)
{
    std::uint32_t seed = 20240611;
    for (const QLocale& locale : locales()) {
        const Oracle oracle(locale);
        Generator gen(seed++, locale);
        for (int n = 0; n < 3000; ++n) {
            check(gen.junk(12), locale, oracle);
            check(gen.numberLike(), locale, oracle);
            if (HasFailure())
                return;
        }
    }
}

TEST_F(NumberTextFuzz, HostileTextIsHandled)
{
    const QString many1(100000, u'1');
    const QString many0(99999, u'0');
    const QString many9(100000, u'9');
    std::vector<std::pair<QString, std::optional<double>>> cases = {
        {many1, std::nullopt},
        {QStringLiteral("0.") + many0 + u'1', 0.0},
        {QStringLiteral("1") + many0 + QStringLiteral("0e-100000"), 1.0},
        {QStringLiteral("0.") + many9, 1.0},
        {QStringLiteral("1e") + many9, std::nullopt},
        {QStringLiteral("1e-") + many9, 0.0},
        {QStringLiteral("-") + many1 + u'x', std::nullopt},
        {QString(100000, QChar(0)), std::nullopt},
        {QStringLiteral("1") + QChar(0), std::nullopt},
        {QChar(0) + QStringLiteral("1"), std::nullopt},
        {QStringLiteral("1") + QChar(0) + u'2', std::nullopt},
        {QString(QChar(0xD800)), std::nullopt},
        {QStringLiteral("1") + QChar(0xDC00), std::nullopt},
    };
    for (const char16_t* s : {u"-", u"+", u".", u"-.", u"+.", u"e", u"E", u"\u2212", u",", u"+-",
                              u"--1", u"1e--1", u"\uff11\uff12", u"\u0967", u"1 000", u"\U0001D7CF"})
        cases.emplace_back(QString::fromUtf16(s), std::nullopt);

    const QLocale c = QLocale::c();
    const Oracle oracle(c);
    for (const auto& [text, value] : cases) {
        check(text, c, oracle);
        const auto d = toDouble(text, c);
        EXPECT_EQ(d.value, value) << show(text);
    }

    // Random junk of the size of a pasted file.
    Generator gen(7, c);
    for (int n = 0; n < 5; ++n)
        check(gen.junk(100000) + u'x', c, oracle);
}

TEST_F(NumberTextFuzz, WritersHandleEveryKindOfDouble)
{
    std::mt19937_64 rng(99);
    const QLocale german("de_DE");
    const Oracle oracle(german);
    for (int n = 0; n < 20000; ++n) {
        // Every bit pattern is a double: NaNs, infinities and subnormals included.
        const double value = std::bit_cast<double>(rng());
        const QString shown = plain(value, german);
        EXPECT_FALSE(shown.isEmpty());
        EXPECT_FALSE(format(value, QStringLiteral("#.###0"), german).isEmpty());
        EXPECT_FALSE(printForm(value, german).isEmpty());
        EXPECT_FALSE(printForm(static_cast<float>(value), german).isEmpty());
        if (std::isfinite(value)) {
            check(shown, german, oracle);
            const auto back = toDouble(shown, german);
            ASSERT_TRUE(back) << show(shown);
            EXPECT_LE(std::fabs(*back.value - value), std::fabs(value) * 1e-14) << show(shown);
            // Values rounded through a pattern's text are read back as well.
            const QString rounded = format(value, QStringLiteral("0.00"), german);
            const auto again = toDouble(rounded, german);
            ASSERT_TRUE(again) << show(rounded);
            EXPECT_LE(std::fabs(*again.value - value), 0.005 + std::fabs(value) * 1e-14) << show(rounded);
        } else {
            EXPECT_FALSE(toDouble(shown, german)) << show(shown);
        }
        if (HasFailure())
            return;
    }
}

} // namespace
