#include "number_scan.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

namespace {

using morvel::ScanStatus;

struct Case {
    std::string text;
    ScanStatus status;
    std::ptrdiff_t consumed;
    double value;  // checked bit for bit when status is ok
};

constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double denorm_min = std::numeric_limits<double>::denorm_min();

class ScanComplete : public testing::TestWithParam<Case> {};

// Scans the text as the whole input, and again through the accumulator one character at a
// time: both must agree on status, characters consumed and the value's bits.
TEST_P(ScanComplete, ReadsValueAndConsumesTheLongestNumberPrefix) {
    const Case& c = GetParam();
    const char* first = c.text.data();
    const char* last = first + c.text.size();

    double value = -123.0;
    const morvel::ScanResult result = morvel::scan_number(first, last, true, value);
    EXPECT_EQ(result.status, c.status);
    EXPECT_EQ(result.ptr - first, c.consumed);
    if (c.status == ScanStatus::ok) {
        EXPECT_EQ(std::bit_cast<std::uint64_t>(value), std::bit_cast<std::uint64_t>(c.value))
            << value << " vs " << c.value;
    } else {
        EXPECT_EQ(value, -123.0) << "value written on failure";
    }

    const morvel::ScanResult skipped = morvel::skip_number(first, last, true);
    EXPECT_EQ(skipped.status, c.status);
    EXPECT_EQ(skipped.ptr, result.ptr);

    morvel::NumberAccumulator accumulator;
    accumulator.reset();
    const char* p = first;
    while (p < last && accumulator.push(*p)) {
        ++p;
    }
    EXPECT_EQ(p - first, c.consumed);
    double accumulated = -123.0;
    EXPECT_EQ(accumulator.finish(accumulated), c.status == ScanStatus::ok);
    if (c.status == ScanStatus::ok) {
        EXPECT_EQ(std::bit_cast<std::uint64_t>(accumulated), std::bit_cast<std::uint64_t>(c.value));
    }
}

const std::string long_one = "1" + std::string(1000, '0') + "e-1000";
const std::string long_fraction = "0." + std::string(400, '0') + "1e401";
// The exact double nearest 0.1, followed by 900 more digits: only the sticky rule can tell
// that it lies above 0.1000000000000000055511151231257827021181583404541015625.
const std::string past_kept_digits =
    "0.1000000000000000055511151231257827021181583404541015625" + std::string(900, '0') + "1";
// Halfway between 1 and the next double (1 + 2^-53), then a non-zero digit far beyond the
// kept digits: rounds up, where the halfway value alone would round to even (down).
const std::string halfway_then_more =
    "1.00000000000000011102230246251565404236316680908203125" + std::string(1000, '0') + "1";
const std::string halfway_exact = "1.00000000000000011102230246251565404236316680908203125";

INSTANTIATE_TEST_SUITE_P(
    Forms, ScanComplete,
    testing::Values(Case{"1.5 ", ScanStatus::ok, 3, 1.5}, Case{"-2", ScanStatus::ok, 2, -2.0},
                    Case{"+3", ScanStatus::ok, 2, 3.0}, Case{".5", ScanStatus::ok, 2, 0.5},
                    Case{"5.", ScanStatus::ok, 2, 5.0}, Case{"-.5e1", ScanStatus::ok, 5, -5.0},
                    Case{"1e5", ScanStatus::ok, 3, 1e5}, Case{"1E+2", ScanStatus::ok, 4, 100.0},
                    Case{"25e-2x", ScanStatus::ok, 5, 0.25}, Case{"-0", ScanStatus::ok, 2, -0.0},
                    Case{"0012.50", ScanStatus::ok, 7, 12.5}, Case{"0.000", ScanStatus::ok, 5, 0.0},
                    Case{"1.5.3", ScanStatus::ok, 3, 1.5}, Case{"1,5", ScanStatus::ok, 1, 1.0},
                    Case{"0x1p3", ScanStatus::ok, 1, 0.0}, Case{"7\t8", ScanStatus::ok, 1, 7.0},
                    Case{"1e5e5", ScanStatus::ok, 3, 1e5}));

INSTANTIATE_TEST_SUITE_P(
    PartialNumbers, ScanComplete,
    testing::Values(Case{"2e", ScanStatus::invalid, 2, 0}, Case{"1e+x", ScanStatus::invalid, 3, 0},
                    Case{"1e+", ScanStatus::invalid, 3, 0}, Case{"1E-", ScanStatus::invalid, 3, 0},
                    Case{"-", ScanStatus::invalid, 1, 0}, Case{".", ScanStatus::invalid, 1, 0},
                    Case{"+.", ScanStatus::invalid, 2, 0}, Case{"-.e1", ScanStatus::invalid, 2, 0},
                    Case{".e1", ScanStatus::invalid, 1, 0}, Case{"--1", ScanStatus::invalid, 1, 0},
                    Case{"x", ScanStatus::invalid, 0, 0}, Case{"", ScanStatus::invalid, 0, 0},
                    Case{",1", ScanStatus::invalid, 0, 0}, Case{" 1", ScanStatus::invalid, 0, 0},
                    Case{"inf", ScanStatus::invalid, 0, 0}, Case{"nan", ScanStatus::invalid, 0, 0},
                    Case{"-inf", ScanStatus::invalid, 1, 0},
                    Case{"e5", ScanStatus::invalid, 0, 0}));

INSTANTIATE_TEST_SUITE_P(
    Range, ScanComplete,
    testing::Values(
        Case{"1e400", ScanStatus::ok, 5, inf}, Case{"-1e400", ScanStatus::ok, 6, -inf},
        Case{"1e-400", ScanStatus::ok, 6, 0.0}, Case{"-1e-400", ScanStatus::ok, 7, -0.0},
        Case{"4.9e-324", ScanStatus::ok, 8, denorm_min},
        // Just above and just below half the smallest subnormal.
        Case{"2.4703282292062328e-324", ScanStatus::ok, 23, denorm_min},
        Case{"2.4703282292062327e-324", ScanStatus::ok, 23, 0.0},
        Case{"1e-310", ScanStatus::ok, 6, 1e-310},
        Case{"1.7976931348623157e308", ScanStatus::ok, 22, 1.7976931348623157e308},
        Case{"1.7976931348623159e308", ScanStatus::ok, 22, inf},
        Case{"1e0000000000000000000000000005", ScanStatus::ok, 30, 1e5},
        Case{"1e99999999999999999999999", ScanStatus::ok, 25, inf},
        Case{"1e-99999999999999999999999", ScanStatus::ok, 26, 0.0},
        Case{"0e99999999999", ScanStatus::ok, 13, 0.0},
        Case{long_one, ScanStatus::ok, static_cast<std::ptrdiff_t>(long_one.size()), 1.0},
        Case{long_fraction, ScanStatus::ok, static_cast<std::ptrdiff_t>(long_fraction.size()), 1.0},
        Case{past_kept_digits, ScanStatus::ok, static_cast<std::ptrdiff_t>(past_kept_digits.size()),
             0.1},
        Case{halfway_exact, ScanStatus::ok, static_cast<std::ptrdiff_t>(halfway_exact.size()), 1.0},
        Case{halfway_then_more, ScanStatus::ok,
             static_cast<std::ptrdiff_t>(halfway_then_more.size()), 1.0000000000000002}));

TEST(ScanIncomplete, NumberReachingTheEndOfAnUnfinishedTextWaitsForMore) {
    for (const std::string text : {"123", "1e", "1e+", "-", ".", "1.", "1.5e-3", "+"}) {
        double value = -1.0;
        const auto result =
            morvel::scan_number(text.data(), text.data() + text.size(), false, value);
        EXPECT_EQ(result.status, ScanStatus::incomplete) << text;
        EXPECT_EQ(value, -1.0) << text;
        EXPECT_EQ(morvel::skip_number(text.data(), text.data() + text.size(), false).status,
                  ScanStatus::incomplete)
            << text;
    }
}

TEST(ScanIncomplete, NumberEndedBeforeTheEndIsComplete) {
    const std::string text = "1.5e-3 7";
    double value = 0.0;
    const auto result = morvel::scan_number(text.data(), text.data() + text.size(), false, value);
    EXPECT_EQ(result.status, ScanStatus::ok);
    EXPECT_EQ(result.ptr - text.data(), 6);
    EXPECT_EQ(value, 1.5e-3);
}

TEST(IsSpace, MatchesTheCLocale) {
    for (int c = 0; c < 256; ++c) {
        const bool expected =
            c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
        EXPECT_EQ(morvel::is_space(static_cast<char>(c)), expected) << c;
    }
}

}  // namespace
