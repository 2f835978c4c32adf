// Float text: exact tables, and random comparison with glibc's exact printf.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>

#include "core/number_text.hpp"
#include "test_values.hpp"

namespace vok {
namespace {

using namespace vok::test;  // kNaN, kInf, bits

struct Case {
    double v;
    const char* text;
};

std::string printf_text(const char* format, int decimals, double v) {
    char buf[512];
    std::snprintf(buf, sizeof buf, format, decimals, v);
    return buf;
}

// "%.2e" re-laid: bare exponent, no "+", no leading zeros.
std::string scientific2_reference(double v) {
    const std::string s = printf_text("%.*e", 2, v);
    const auto e = s.find('e');
    return s.substr(0, e) + "e" + std::to_string(std::strtol(s.c_str() + e + 1, nullptr, 10));
}

// Mostly moderate values and exact binary fractions (ties), some raw bit patterns.
double random_double(std::mt19937_64& rng) {
    switch (rng() % 3) {
        case 0:
            return static_cast<double>(static_cast<std::int64_t>(rng() % 2000001) - 1000000) /
                   std::ldexp(1.0, static_cast<int>(rng() % 24));
        case 1: return std::uniform_real_distribution<double>(-1e6, 1e6)(rng);
        default: {
            const double v = std::bit_cast<double>(rng());
            return std::isfinite(v) ? v : 1.0;
        }
    }
}

class FixedSix : public testing::TestWithParam<Case> {};
TEST_P(FixedSix, Text) { EXPECT_EQ(fixed_text(GetParam().v, 6), GetParam().text); }
INSTANTIATE_TEST_SUITE_P(NumberText, FixedSix,
                         testing::Values(Case{1.0, "1.000000"}, Case{-2.5, "-2.500000"},
                                         Case{0.0, "0.000000"}, Case{-0.0, "-0.000000"},
                                         Case{-1e-9, "-0.000000"}, Case{1e-9, "0.000000"},
                                         Case{0.0000005, "0.000000"},  // just below the tie
                                         Case{0.0000015, "0.000002"}, Case{0.0078125, "0.007812"},
                                         Case{0.0234375, "0.023438"},  // ties
                                         Case{1e20, "100000000000000000000.000000"},
                                         Case{kNaN, "NaN"}, Case{-kNaN, "NaN"}, Case{kInf, "inf"},
                                         Case{-kInf, "-inf"}, Case{5e-324, "0.000000"}));

TEST(NumberText, FixedFitsTheLargestDouble) {
    const double max = std::numeric_limits<double>::max();
    EXPECT_EQ(fixed_text(-max, 4), printf_text("%.*f", 4, -max));
    EXPECT_EQ(fixed_text(1e308, 0), printf_text("%.*f", 0, 1e308));
    EXPECT_EQ(fixed_text(1.5, 100), printf_text("%.*f", 100, 1.5));
    EXPECT_EQ(fixed_text(-max, 200), printf_text("%.*f", 200, -max));
}

TEST(NumberText, FixedMatchesPrintf) {
    std::mt19937_64 rng(7);
    for (int i = 0; i < 200000; ++i) {
        const double v = random_double(rng);
        const int decimals = static_cast<int>(rng() % 10);
        ASSERT_EQ(fixed_text(v, decimals), printf_text("%.*f", decimals, v)) << std::hexfloat << v;
    }
}

class Scientific2 : public testing::TestWithParam<Case> {};
TEST_P(Scientific2, Text) { EXPECT_EQ(scientific2_text(GetParam().v), GetParam().text); }
INSTANTIATE_TEST_SUITE_P(
    NumberText, Scientific2,
    testing::Values(Case{0.000123, "1.23e-4"}, Case{12345.0, "1.23e4"}, Case{0.0, "0.00e0"},
                    Case{-0.0, "-0.00e0"}, Case{1.0, "1.00e0"}, Case{2.5e-11, "2.50e-11"},
                    Case{0.5, "5.00e-1"}, Case{1.125, "1.12e0"}, Case{1.375, "1.38e0"},
                    Case{0.1125, "1.13e-1"},  // ties; 0.1125 lies above
                    Case{9.995, "9.99e0"}, Case{9.996, "1.00e1"}, Case{1e300, "1.00e300"},
                    Case{5e-324, "4.94e-324"}, Case{kInf, "inf"}, Case{-kInf, "-inf"},
                    Case{kNaN, "NaN"}));

TEST(NumberText, Scientific2MatchesPrintf) {
    std::mt19937_64 rng(11);
    for (int i = 0; i < 200000; ++i) {
        const double v = random_double(rng);
        ASSERT_EQ(scientific2_text(v), scientific2_reference(v)) << std::hexfloat << v;
    }
}

class Debug : public testing::TestWithParam<Case> {};
TEST_P(Debug, Text) { EXPECT_EQ(debug_text(GetParam().v), GetParam().text); }
INSTANTIATE_TEST_SUITE_P(
    NumberText, Debug,
    testing::Values(Case{1.0, "1.0"}, Case{0.0, "0.0"}, Case{-0.0, "-0.0"}, Case{0.1, "0.1"},
                    Case{0.0001, "0.0001"}, Case{-0.0001, "-0.0001"}, Case{0.00012, "0.00012"},
                    Case{9.999999999999999e-5, "9.999999999999999e-5"}, Case{9.9e-5, "9.9e-5"},
                    Case{1e-5, "1e-5"}, Case{-2.5e-7, "-2.5e-7"}, Case{1e15, "1000000000000000.0"},
                    Case{9999999999999998.0, "9999999999999998.0"}, Case{1e16, "1e16"},
                    Case{-1e16, "-1e16"}, Case{1.5e16, "1.5e16"}, Case{-1e300, "-1e300"},
                    Case{123.456, "123.456"}, Case{1.5707963267948966, "1.5707963267948966"},
                    Case{5e-324, "5e-324"},
                    Case{2.2250738585072014e-308, "2.2250738585072014e-308"},
                    Case{1.7976931348623157e308, "1.7976931348623157e308"}, Case{kNaN, "NaN"},
                    Case{kInf, "inf"}, Case{-kInf, "-inf"}));

// Significant digits of a text, without sign, point, leading zeros or exponent.
std::string significant(const std::string& s) {
    std::string d;
    for (char c : s.substr(0, s.find('e')))
        if (c >= '0' && c <= '9' && !(d.empty() && c == '0')) d += c;
    while (!d.empty() && d.back() == '0') d.pop_back();
    return d;
}

TEST(NumberText, DebugRoundTripsWithFewestDigits) {
    std::mt19937_64 rng(13);
    for (int i = 0; i < 100000; ++i) {
        double v = random_double(rng);
        if (i % 4 == 0) v = std::bit_cast<double>(rng() & 0x000FFFFFFFFFFFFFull);  // subnormal
        if (v == 0.0) continue;
        const std::string s = debug_text(v);
        ASSERT_EQ(std::bit_cast<std::uint64_t>(std::strtod(s.c_str(), nullptr)),
                  std::bit_cast<std::uint64_t>(v))
            << s;
        // Fewest correctly rounded digits that read back.
        std::string ref;
        for (int p = 1; p <= 17; ++p) {
            ref = printf_text("%.*e", p - 1, v);
            if (std::strtod(ref.c_str(), nullptr) == v) break;
        }
        const std::string digits = significant(s), ref_digits = significant(ref);
        ASSERT_LE(digits.size(), ref_digits.size()) << s;
        if (digits.size() == ref_digits.size()) {
            ASSERT_EQ(digits, ref_digits) << s;
        }
        // Layout: scientific exactly outside [1e-4, 1e16), no "+", no leading exponent zero.
        const double m = std::fabs(v);
        const auto e = s.find('e');
        ASSERT_EQ(e != std::string::npos, m < 1e-4 || m >= 1e16) << s;
        if (e == std::string::npos) {
            const auto point = s.find('.');
            ASSERT_NE(point, std::string::npos) << s;
            ASSERT_LT(point + 1, s.size()) << s;
        } else {
            const std::string exponent = s.substr(e + 1);
            ASSERT_EQ(exponent.find('+'), std::string::npos) << s;
            ASSERT_NE(exponent[exponent[0] == '-' ? 1 : 0], '0') << s;
        }
    }
}

}  // namespace
}  // namespace vok
