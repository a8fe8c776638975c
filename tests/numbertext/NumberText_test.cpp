#include "NumberText.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <vector>

using namespace kestrum::text;

namespace {

const QLocale C = QLocale::c();
const QLocale German("de_DE");
const QLocale French("fr_FR");
const QLocale Swedish("sv_SE");
const QLocale Egyptian("ar_EG");

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kMaxDouble = std::numeric_limits<double>::max();
constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();

std::string show(const QString& s) { return s.left(80).toStdString(); }

// A reason of nullptr means the text reads as the value.
template <class T>
struct ReadCase {
    const char16_t* text;
    T value;
    const char* reason = nullptr;
    QLocale locale = C;
};

template <class T, class Reader>
void expectReads(const std::vector<ReadCase<T>>& cases, Reader read)
{
    for (const auto& c : cases) {
        SCOPED_TRACE(show(QString::fromUtf16(c.text)) + " in " + show(c.locale.name()));
        const auto n = read(QString::fromUtf16(c.text), c.locale);
        if (c.reason)
            EXPECT_TRUE(!n && show(n.reason) == c.reason) << show(n.reason);
        else
            EXPECT_TRUE(n && *n.value == c.value) << show(n.reason);
    }
}

TEST(ToDouble, ReadsTheLocalesFormAndRefusesEverythingElse)
{
    const char* nan = "is not a number";
    expectReads<double>({
        {u" 0.9 ", 0.9}, {u"\u00a00.99\u3000", 0.99}, {u"+5", 5}, {u"-.5", -0.5}, {u"5.", 5},
        {u"1E-05", 1e-5}, {u"-1.5E20", -1.5e20}, {u"1.7976931348623157e308", kMaxDouble},
        // plain()'s rounded-up form of the largest double reads back; one digit more does not.
        {u"-1.79769313486232E+308", -kMaxDouble}, {u"1.797693134862321e308", 0, "is too large"},
        {u"4.94065645841247E-324", std::numeric_limits<double>::denorm_min()}, {u"1e-400", 0},
        {u"1e400", 0, "is too large"}, {u"-1e400", 0, "is too far below zero"},
        {u"0,9", 0.9, nullptr, German}, {u"\u22122,5", -2.5, nullptr, Swedish},
        {u"\u0660\u066b\u0665", 0.5, nullptr, Egyptian}, {u"\u061c-1", -1, nullptr, Egyptian},
        {u" \t ", 0, "is empty"}, {u"1.2.3", 0, nan}, {u"1e", 0, nan}, {u".", 0, nan},
        {u"+-1", 0, nan}, {u"- 1", 0, nan}, {u"NaN", 0, nan}, {u"0x10", 0, nan}, {u"1,5", 0, nan},
        // A point in a comma locale, or a thousands separator, would silently change the value.
        {u"0.9", 0, nan, German}, {u"1.000", 0, nan, German}, {u"1\u202f000", 0, nan, French},
    }, [](const QString& t, const QLocale& l) { return toDouble(t, l); });
    // Huge digit runs and exponents neither overflow nor take long.
    const QString many9(100000, u'9');
    EXPECT_EQ(toDouble("1e" + many9, C).reason, QStringLiteral("is too large"));
    EXPECT_EQ(toDouble(QString(100000, u'1'), C).reason, QStringLiteral("is too large"));
    EXPECT_TRUE(toDouble("1e-" + many9, C).value == 0.0 && toDouble("0." + many9, C).value == 1.0);
}

TEST(ToInt32, RoundsHalfToEvenOnTheDecimalTextWithinThe32BitRange)
{
    const char* large = "is too large for a whole number";
    const char* below = "is too far below zero for a whole number";
    expectReads<std::int32_t>({
        {u" -0.4 ", 0}, {u"2.5", 2}, {u"3.5", 4}, {u"-2.5", -2}, {u"-3.5", -4}, {u"2.51", 3},
        // Beyond a double's precision the text itself decides.
        {u"2.50000000000000000000001", 3}, {u"2.49999999999999999999999", 2},
        {u"2147483647.4", kMax}, {u"2147483646.5", 2147483646},
        {u"-2147483648.5", kMin}, {u"-2147483647.5", kMin}, {u"2,5", 2, nullptr, German},
        {u"2147483647.5", 0, large}, {u"2147483648", 0, large}, {u"1e99999999999999999", 0, large},
        {u"-2147483648.6", 0, below}, {u"-2147483649", 0, below},
        {u"", 0, "is empty"}, {u"2.5", 0, "is not a number", German},
    }, [](const QString& t, const QLocale& l) { return toInt32(t, l); });
}

TEST(Format, RoundsHalfAwayFromZeroOnFifteenDigits)
{
    const struct {
        double value;
        const char* pattern;
        const char* text;
        QLocale locale = C;
    } cases[] = {
        {0.125, "0.##", "0.13"}, {2.675, "0.##", "2.68"}, {1, "0.##", "1"}, {0.995, "0.##", "1"},
        {-0.004, "0.##", "0"}, {-0.005, "0.##", "-0.01"}, {1.005, "0.00", "1.01"},
        {-166.36, "0.000", "-166.360"}, {64.5, "0", "65"}, {-64.5, "0", "-65"},
        {0.25, "#.###0", ".2500"}, {-52.741, "#.###0", "-52.7410"}, {-0.00004, "#.###0", ".0000"},
        {9.99995, "#.###0", "10.0000"}, {5.5, "00.0#", "05.5"}, {0, "#", "0"},
        {0.25, "#.###0", ",2500", German}, {1234.5, "0.00", "1234,50", German},
        {kNaN, "0.##", "NaN"}, {kInf, "0", "Infinity"}, {-kInf, "#.###0", "-Infinity"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(show(format(c.value, QString::fromLatin1(c.pattern), c.locale)), c.text)
            << c.value << " with " << c.pattern;
    for (const char* pattern : {"", ".", "0,00", "0.0.0", "0%"})
        EXPECT_THROW(format(kNaN, QString::fromLatin1(pattern), C), std::invalid_argument);
}

// The plain form of a text box, and the Print form: sign place, no zero before the point.
TEST(Writers, ShowFifteenSignificantDigitsThatReadBack)
{
    const struct {
        double value;
        const char* plain;
        const char* print;
    } cases[] = {
        {11.709999999999997, "11.71", " 11.71 "},
        {9.878064000000007, "9.87806400000001", " 9.87806400000001 "},
        {-2.0 / 3, "-0.666666666666667", "-.666666666666667 "}, {-0.0, "0", " 0 "},
        // Where the exponent form starts and stops.
        {0.0001, "0.0001", " .0001 "}, {0.000099, "9.9E-05", " 9.9E-05 "},
        {0.00009999999999999999, "0.0001", " .0001 "},
        {999999999999999, "999999999999999", " 999999999999999 "},
        {999999999999999.9, "1E+15", " 1E+15 "},
        {kMaxDouble, "1.79769313486232E+308", " 1.79769313486232E+308 "},
        {kNaN, "NaN", " NaN "}, {-kInf, "-Infinity", "-Infinity "},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(show(plain(c.value, C)), c.plain);
        EXPECT_EQ(show(printForm(c.value, C)), c.print);
    }
    // 32-bit reals carry 7 digits.
    EXPECT_EQ(show(printForm(1.0f / 3, C)), " .3333333 ");
    EXPECT_EQ(show(printForm(12345678.0f, C)), " 1.234568E+07 ");
    EXPECT_EQ(show(printForm(kMin)), "-2147483648 ");
    EXPECT_EQ(show(plain(-1.5e20, German)), "-1,5E+20");
    EXPECT_EQ(show(printForm(-0.5f, German)), "-,5 ");
}

TEST(DefaultLocale, IsTheOneInForce)
{
    struct Restore {
        QLocale saved;
        ~Restore() { QLocale::setDefault(saved); }
    } restore{QLocale()};
    QLocale::setDefault(German);
    EXPECT_TRUE(toDouble(QStringLiteral("0,5")).value == 0.5 &&
                toInt32(QStringLiteral("3,5")).value == 4);
    EXPECT_EQ(show(plain(0.5) + format(0.5, QStringLiteral("0.00")) + printForm(0.5)),
              "0,50,50 ,5 ");
}

} // namespace
