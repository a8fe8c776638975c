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
constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();

std::string show(const QString& s) { return s.toStdString(); }

struct ReadCase {
    const char16_t* text;
    QLocale locale;
    double value;
};

struct RejectCase {
    const char16_t* text;
    QLocale locale;
    const char* reason;
};

TEST(ToDouble, ReadsNumbersInTheLocalesForm)
{
    const std::vector<ReadCase> cases = {
        {u"0.9", C, 0.9}, {u" 0.9 ", C, 0.9}, {u"\t12\r\n", C, 12}, {u"+5", C, 5},
        {u"-.5", C, -0.5}, {u"5.", C, 5}, {u".01", C, 0.01}, {u"007", C, 7},
        {u"0.1", C, 0.1}, {u"\u00a00.99\u3000", C, 0.99},
        // Exponent form, as plain() writes it.
        {u"1e3", C, 1000}, {u"1E-05", C, 1e-5}, {u"2.5e+2", C, 250}, {u"-1.5E20", C, -1.5e20},
        {u"9.87806400000001", C, 9.87806400000001},
        {u"1.7976931348623157e308", C, std::numeric_limits<double>::max()},
        {u"-1.79769313486232E+308", C, -std::numeric_limits<double>::max()},
        {u"4.94065645841247E-324", C, std::numeric_limits<double>::denorm_min()},
        {u"1e-400", C, 0}, {u"0.0000000001", C, 1e-10},
        {u"0,9", German, 0.9}, {u"-2,5E-07", German, -2.5e-7}, {u" 1,5 ", French, 1.5},
        {u"\u22122,5", Swedish, -2.5}, {u"-2,5", Swedish, -2.5},
        {u"\u0660\u066b\u0665", Egyptian, 0.5}, {u"0\u066b5", Egyptian, 0.5},
        {u"\u061c-1", Egyptian, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(show(QString::fromUtf16(c.text)) + " in " + show(c.locale.name()));
        const auto n = toDouble(QString::fromUtf16(c.text), c.locale);
        ASSERT_TRUE(n) << show(n.reason);
        EXPECT_EQ(*n.value, c.value);
        EXPECT_TRUE(n.reason.isEmpty());
    }
}

TEST(ToDouble, RefusesWhatIsNotAUsableNumber)
{
    const std::vector<RejectCase> cases = {
        {u"", C, "is empty"}, {u" \t ", C, "is empty"},
        {u"abc", C, "is not a number"}, {u"1.2.3", C, "is not a number"},
        {u"1e", C, "is not a number"}, {u"1e+", C, "is not a number"}, {u"e5", C, "is not a number"},
        {u"-", C, "is not a number"}, {u".", C, "is not a number"}, {u"-.", C, "is not a number"},
        {u"+-1", C, "is not a number"}, {u"- 1", C, "is not a number"}, {u"1 2", C, "is not a number"},
        {u"inf", C, "is not a number"}, {u"NaN", C, "is not a number"}, {u"0x10", C, "is not a number"},
        {u"1d", C, "is not a number"}, {u"\uff11", C, "is not a number"},
        {u"\u0661", C, "is not a number"}, {u"1,5", C, "is not a number"},
        // A point in a comma locale, and thousands separators, would silently change the value.
        {u"0.9", German, "is not a number"}, {u"1.000", German, "is not a number"},
        {u"1\u202f000", French, "is not a number"}, {u"1 000", French, "is not a number"},
        {u"1e400", C, "is too large"}, {u"1.8e308", C, "is too large"},
        {u"1.797693134862321e308", C, "is too large"},
        {u"-1e400", C, "is too far below zero"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(show(QString::fromUtf16(c.text)) + " in " + show(c.locale.name()));
        const auto n = toDouble(QString::fromUtf16(c.text), c.locale);
        EXPECT_FALSE(n);
        EXPECT_EQ(show(n.reason), c.reason);
    }
}

TEST(ToInt32, RoundsHalfToEvenOnTheDecimalText)
{
    const std::vector<std::pair<const char16_t*, std::int32_t>> cases = {
        {u"7", 7}, {u" 10 ", 10}, {u"-3", -3}, {u"0", 0}, {u"-0", 0}, {u"-0.4", 0},
        {u"2.5", 2}, {u"3.5", 4}, {u"-2.5", -2}, {u"-3.5", -4}, {u"0.5", 0}, {u"1.5", 2},
        {u"2.51", 3}, {u"2.49", 2}, {u".6", 1}, {u"0.05", 0},
        // Beyond a double's precision the text itself decides.
        {u"2.50000000000000000000001", 3}, {u"2.49999999999999999999999", 2},
        {u"11.71", 12}, {u"65.61", 66}, {u"1E-06", 0}, {u"1e3", 1000}, {u"25e-1", 2},
        {u"1e-99999999999999999999", 0}, {u"1e9", 1000000000},
        {u"2147483647", kMax}, {u"2147483647.4", kMax}, {u"2147483646.5", 2147483646},
        {u"-2147483648", kMin}, {u"-2147483648.5", kMin}, {u"-2147483647.5", kMin},
    };
    for (const auto& [text, value] : cases) {
        SCOPED_TRACE(show(QString::fromUtf16(text)));
        const auto n = toInt32(QString::fromUtf16(text), C);
        ASSERT_TRUE(n) << show(n.reason);
        EXPECT_EQ(*n.value, value);
    }
    EXPECT_EQ(toInt32(QStringLiteral("2,5"), German).value, 2);
    EXPECT_EQ(toInt32(QStringLiteral("\u22123,5"), Swedish).value, -4);
}

TEST(ToInt32, RefusesTextOutsideTheWholeNumberRange)
{
    const char* large = "is too large for a whole number";
    const char* below = "is too far below zero for a whole number";
    const std::vector<RejectCase> cases = {
        {u"", C, "is empty"}, {u"x", C, "is not a number"}, {u"2,5", C, "is not a number"},
        {u"2.5", German, "is not a number"},
        {u"2147483647.5", C, large}, {u"2147483648", C, large}, {u"99999999999", C, large},
        {u"1e10", C, large}, {u"1e99999999999999999", C, large}, {u"1e400", C, large},
        {u"-2147483648.6", C, below}, {u"-2147483649", C, below}, {u"-1e10", C, below},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(show(QString::fromUtf16(c.text)));
        const auto n = toInt32(QString::fromUtf16(c.text), c.locale);
        EXPECT_FALSE(n);
        EXPECT_EQ(show(n.reason), c.reason);
    }
}

struct FormatCase {
    double value;
    const char* pattern;
    const char* text;
};

TEST(Format, RoundsHalfAwayFromZeroOnFifteenDigits)
{
    const std::vector<FormatCase> cases = {
        // Estimates.
        {0.125, "0.##", "0.13"}, {2.675, "0.##", "2.68"}, {1, "0.##", "1"}, {0.5, "0.##", "0.5"},
        {0.837, "0.##", "0.84"}, {0.9123, "0.##", "0.91"}, {0.995, "0.##", "1"},
        {0.004, "0.##", "0"}, {-0.004, "0.##", "0"}, {-0.005, "0.##", "-0.01"}, {0, "0.##", "0"},
        {-0.0, "0.##", "0"}, {123456.789, "0.##", "123456.79"}, {-1.1, "0.##", "-1.1"},
        // Scan range and step, maximum log likelihood, whole percent.
        {0.1, "0.00", "0.10"}, {1.005, "0.00", "1.01"}, {20, "0.00", "20.00"},
        {-63.0012, "0.000", "-63.001"}, {-53.2965, "0.000", "-53.297"}, {-166.36, "0.000", "-166.360"},
        {34.999999, "0", "35"}, {64.5, "0", "65"}, {-64.5, "0", "-65"}, {-0.4, "0", "0"},
        {1e20, "0", "100000000000000000000"},
        // Plot value labels.
        {0.25, "#.###0", ".2500"}, {-23.45678, "#.###0", "-23.4568"}, {-52.741, "#.###0", "-52.7410"},
        {-60, "#.###0", "-60.0000"}, {-56.3705, "#.###0", "-56.3705"}, {0, "#.###0", ".0000"},
        {0.00005, "#.###0", ".0001"}, {-0.00004, "#.###0", ".0000"}, {9.99995, "#.###0", "10.0000"},
        {0.99995, "#.###0", "1.0000"},
        // Other patterns of the same two kinds of place.
        {5.5, "00.0#", "05.5"}, {5.25, "00.0#", "05.25"}, {0.5, "#.##", ".5"}, {0, "#", "0"},
        {3, "#", "3"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.value) + " with " + c.pattern);
        EXPECT_EQ(show(format(c.value, QString::fromLatin1(c.pattern), C)), c.text);
    }
}

TEST(Format, UsesTheLocaleSeparatorAndNamesNonFiniteValues)
{
    EXPECT_EQ(show(format(0.25, QStringLiteral("#.###0"), German)), ",2500");
    EXPECT_EQ(show(format(-23.45678, QStringLiteral("#.###0"), French)), "-23,4568");
    EXPECT_EQ(show(format(0.837, QStringLiteral("0.##"), German)), "0,84");
    EXPECT_EQ(show(format(1, QStringLiteral("0.##"), German)), "1");
    EXPECT_EQ(show(format(1234.5, QStringLiteral("0.00"), German)), "1234,50");
    EXPECT_EQ(show(format(kNaN, QStringLiteral("0.##"), C)), "NaN");
    EXPECT_EQ(show(format(kInf, QStringLiteral("0"), C)), "Infinity");
    EXPECT_EQ(show(format(-kInf, QStringLiteral("#.###0"), C)), "-Infinity");
}

TEST(Format, RefusesPatternsItCannotHonour)
{
    for (const char16_t* pattern : {u"", u".", u"0,00", u"0.0.0", u"abc", u"0.00E+00", u"0%"}) {
        SCOPED_TRACE(show(QString::fromUtf16(pattern)));
        EXPECT_THROW(format(1.5, QString::fromUtf16(pattern), C), std::invalid_argument);
        EXPECT_THROW(format(kNaN, QString::fromUtf16(pattern), C), std::invalid_argument);
    }
}

TEST(Plain, ShowsFifteenSignificantDigits)
{
    const std::vector<std::pair<double, const char*>> cases = {
        // Simulated frequencies.
        {11.709999999999997, "11.71"}, {65.61000000000001, "65.61"}, {7.289999999999999, "7.29"},
        {15.389999999999995, "15.39"}, {9.878064000000007, "9.87806400000001"},
        {0.009999, "0.009999"}, {0.000001, "1E-06"}, {0.000099, "9.9E-05"}, {99.989901, "99.989901"},
        {100, "100"}, {-200, "-200"}, {0, "0"}, {-0.0, "0"},
        {0.1 + 0.2, "0.3"}, {1.0 / 3, "0.333333333333333"}, {-2.0 / 3, "-0.666666666666667"},
        // Where the exponent form starts and stops.
        {0.0001, "0.0001"}, {0.00009999, "9.999E-05"}, {0.00009999999999999999, "0.0001"},
        {999999999999999, "999999999999999"}, {1e15, "1E+15"}, {999999999999999.9, "1E+15"},
        {1.5e20, "1.5E+20"}, {-2.5e-7, "-2.5E-07"}, {123456789012345678.0, "1.23456789012346E+17"},
        {1e100, "1E+100"}, {std::numeric_limits<double>::max(), "1.79769313486232E+308"},
        {std::numeric_limits<double>::denorm_min(), "4.94065645841247E-324"},
        {kNaN, "NaN"}, {kInf, "Infinity"}, {-kInf, "-Infinity"},
    };
    for (const auto& [value, text] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(show(plain(value, C)), text);
        // What a box shows must read back as the value it shows.
        if (std::isfinite(value)) {
            const auto back = toDouble(plain(value, C), C);
            ASSERT_TRUE(back) << show(back.reason);
            EXPECT_EQ(show(plain(*back.value, C)), text);
        }
    }
    EXPECT_EQ(show(plain(0.5, German)), "0,5");
    EXPECT_EQ(show(plain(-1.5e20, German)), "-1,5E+20");
    EXPECT_EQ(toDouble(plain(9.878064000000007, German), German).value, 9.87806400000001);
}

TEST(PrintForm, WritesSignPlaceNumberAndSpace)
{
    const std::vector<std::pair<double, const char*>> doubles = {
        {0.9, " .9 "}, {1, " 1 "}, {0.01, " .01 "}, {0.99, " .99 "}, {0, " 0 "}, {-0.0, " 0 "},
        {-0.5, "-.5 "}, {14, " 14 "}, {85, " 85 "}, {-3, "-3 "}, {123.456, " 123.456 "},
        {0.0001, " .0001 "}, {1e-5, " 1E-05 "}, {-2.5e-7, "-2.5E-07 "}, {1e15, " 1E+15 "},
        {static_cast<double>(0.9f), " .899999976158142 "},
        {kNaN, " NaN "}, {kInf, " Infinity "}, {-kInf, "-Infinity "},
    };
    for (const auto& [value, text] : doubles)
        EXPECT_EQ(show(printForm(value, C)), text);

    const std::vector<std::pair<float, const char*>> floats = {
        {35.0f, " 35 "}, {0.1f, " .1 "}, {0.9f, " .9 "}, {1.0f / 3, " .3333333 "}, {-3.0f, "-3 "},
        {1234567.0f, " 1234567 "}, {12345678.0f, " 1.234568E+07 "}, {1e-5f, " 1E-05 "},
        {-0.0f, " 0 "},
    };
    for (const auto& [value, text] : floats)
        EXPECT_EQ(show(printForm(value, C)), text);

    EXPECT_EQ(show(printForm(std::int32_t{14})), " 14 ");
    EXPECT_EQ(show(printForm(std::int32_t{0})), " 0 ");
    EXPECT_EQ(show(printForm(std::int32_t{-3})), "-3 ");
    EXPECT_EQ(show(printForm(kMin)), "-2147483648 ");
    EXPECT_EQ(show(printForm(kMax)), " 2147483647 ");
    EXPECT_EQ(show(printForm(0.9, German)), " ,9 ");
    EXPECT_EQ(show(printForm(-0.5f, German)), "-,5 ");
}

TEST(DefaultLocale, IsTheOneInForce)
{
    struct Restore {
        QLocale saved;
        ~Restore() { QLocale::setDefault(saved); }
    } restore{QLocale()};
    QLocale::setDefault(German);
    EXPECT_EQ(toDouble(QStringLiteral("0,5")).value, 0.5);
    EXPECT_EQ(toInt32(QStringLiteral("3,5")).value, 4);
    EXPECT_FALSE(toDouble(QStringLiteral("0.5")));
    EXPECT_EQ(show(plain(0.5)), "0,5");
    EXPECT_EQ(show(format(0.5, QStringLiteral("0.00"))), "0,50");
    EXPECT_EQ(show(printForm(0.5)), " ,5 ");
}

} // namespace
