// The portable conversions, which the WebAssembly build uses for want of the standard's, against
// the standard's: the page's output must be the native programs' byte for byte.
#include "FloatChars.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

namespace portable = kestrum::text::portable;

std::string text(char* first, std::to_chars_result result)
{
    return result.ec == std::errc() ? std::string(first, result.ptr) : "<too large>";
}

// Doubles of every kind the output meets: any bit pattern, powers of two (where the gap below
// halves) down to the denormals, whole numbers past 2^53, short decimals.
std::vector<double> seededDoubles()
{
    std::mt19937_64 random(20240607);
    std::vector<double> values{0.0,
                               -0.0,
                               0.1,
                               2.675,
                               1e20,
                               1e21,
                               1e22,
                               5e-324,
                               0x1p60,
                               -0x1p-1074,
                               1.7976931348623157e308,
                               2.2250738585072014e-308,
                               123456789012345.67};
    for (int i = 0; i < 200000; ++i) {
        const std::uint64_t bits = random();
        switch (i % 4) {
        case 0:
            values.push_back(std::bit_cast<double>(bits));
            break;
        case 1:
            values.push_back(std::ldexp(1.0, static_cast<int>(bits % 2098) - 1074));
            break;
        case 2:
            values.push_back(static_cast<double>(static_cast<std::int64_t>(bits >> (bits % 64))));
            break;
        default:
            values.push_back(static_cast<double>(bits % 10000000) / 1000.0);
        }
    }
    return values;
}

TEST(FloatChars, WritesWhatTheStandardWrites)
{
    char a[400];
    char b[400];
    int compared = 0;
    for (const double value : seededDoubles()) {
        if (!std::isfinite(value)) {
            continue;
        }
        const std::string shortest = text(a, std::to_chars(a, a + sizeof a, value));
        ASSERT_EQ(text(b, portable::to_chars(b, b + sizeof b, value)), shortest);
        double back = 0.0;
        ASSERT_EQ(portable::from_chars(b, b + shortest.size(), back).ec, std::errc());
        ASSERT_EQ(back, value) << shortest;
        for (const auto format : {std::chars_format::general, std::chars_format::fixed,
                                  std::chars_format::scientific}) {
            const std::string expected = text(a, std::to_chars(a, a + sizeof a, value, format));
            ASSERT_EQ(text(b, portable::to_chars(b, b + sizeof b, value, format)), expected)
                << "shortest of " << shortest;
        }
        const int precision = compared++ % 18;
        for (const auto format : {std::chars_format::scientific, std::chars_format::fixed}) {
            const std::string expected =
                text(a, std::to_chars(a, a + sizeof a, value, format, precision));
            ASSERT_EQ(text(b, portable::to_chars(b, b + sizeof b, value, format, precision)),
                      expected)
                << precision << " digits of " << expected;
        }
    }
    EXPECT_GT(compared, 190000);
    // Too little room is told, not cut short.
    for (const int room : {0, 3}) {
        EXPECT_EQ(portable::to_chars(b, b + room, 1234.5).ec, std::errc::value_too_large);
        EXPECT_EQ(portable::to_chars(b, b + room, 1234.5, std::chars_format::fixed, 2).ec,
                  std::errc::value_too_large);
    }
}

TEST(FloatChars, ReadsWhatTheStandardReads)
{
    for (const std::string typed :
         {"0.125",  "-2.675", "1e",     "1e+",       "1e-5x", ".5",          "5.",       "00012",
          "0x10",   "1,5",    "inf",    "-Infinity", "nan",   "nan(abc)",    "4.9e-324", "1.5e-310",
          "3e-324", "1e400",  "-1e400", "2e-324",    "0e999", "0.0000e-999", "+1",       " 1",
          ".",      "-",      "",       "e5",        "-.e1"}) {
        double expected = 7.0;
        double read = 7.0;
        const char* end = typed.data() + typed.size();
        const auto a = std::from_chars(typed.data(), end, expected);
        const auto b = portable::from_chars(typed.data(), end, read);
        EXPECT_EQ(b.ec, a.ec) << typed;
        EXPECT_EQ(b.ptr - typed.data(), a.ptr - typed.data()) << typed;
        EXPECT_EQ(std::memcmp(&read, &expected, sizeof read), 0)
            << typed << ": " << read << " against " << expected;
    }
}

} // namespace
