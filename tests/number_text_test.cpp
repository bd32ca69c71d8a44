#include "number_text.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

struct Case {
    double value;
    const char* text;
};

class NumberText : public testing::TestWithParam<Case> {};

TEST_P(NumberText, FormatsLikePrintfWithThreeExponentDigits) {
    EXPECT_EQ(morvel::format_number(GetParam().value), GetParam().text);
}

constexpr double inf = std::numeric_limits<double>::infinity();

INSTANTIATE_TEST_SUITE_P(
    Values, NumberText,
    testing::Values(
        // Fixed notation, trailing zeros and a trailing point dropped.
        Case{0.0, "           0"}, Case{-0.0, "          -0"}, Case{0.125, "       0.125"},
        Case{2.5, "         2.5"}, Case{6.375, "       6.375"}, Case{-3.0, "          -3"},
        Case{0.0001, "      0.0001"}, Case{0.03125, "     0.03125"},
        Case{123.45, "       123.5"},  // 123.45 is stored slightly above the tie
        // Exact decimal ties round to even.
        Case{1.0625, "       1.062"}, Case{1234.5, "        1234"}, Case{1001.5, "        1002"},
        Case{9999.5, "      1e+004"},
        // Exponent notation outside exponents -4 to 3, always three exponent digits.
        Case{1e6, "      1e+006"}, Case{1234567.0, "  1.235e+006"}, Case{8e-5, "      8e-005"},
        Case{-2.5e-7, "   -2.5e-007"}, Case{99999.5, "      1e+005"}, Case{1e100, "      1e+100"},
        Case{-1.7976931348623157e308, " -1.798e+308"},
        Case{4.9406564584124654e-324, "  4.941e-324"},  // smallest subnormal
        Case{2.2250738585072014e-308, "  2.225e-308"},
        // Not-a-number never shows its sign bit.
        Case{inf, "         inf"}, Case{-inf, "        -inf"},
        Case{std::numeric_limits<double>::quiet_NaN(), "         nan"},
        Case{-std::numeric_limits<double>::quiet_NaN(), "         nan"}));

TEST(NumberText, ZeroDividedByZeroPrintsNanWithoutSign) {
    volatile double zero = 0.0;
    EXPECT_EQ(morvel::format_number(zero / zero), "         nan");
}

}  // namespace
