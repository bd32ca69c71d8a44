// The scanner against the C library's correctly rounded strtod, on millions of generated
// number texts: every digit count, point position, exponent and sign, with the ranges where
// the fast path hands over (19 digits, 2^53, powers of ten beyond 22), subnormals and
// overflow.
#include "number_scan.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

class Random {
  public:
    explicit Random(std::uint64_t seed) : state_(seed) {}
    std::uint64_t next() {
        state_ += 0x9E3779B97F4A7C15ULL;
        std::uint64_t z = state_;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    int below(int n) { return static_cast<int>(next() % static_cast<std::uint64_t>(n)); }

  private:
    std::uint64_t state_;
};

void append_digits(std::string& text, int count, Random& random) {
    for (int i = 0; i < count; ++i) {
        text += static_cast<char>('0' + random.below(10));
    }
}

std::string random_number(Random& random) {
    std::string text;
    switch (random.below(3)) {
        case 0:
            text += '-';
            break;
        case 1:
            text += '+';
            break;
        default:
            break;
    }
    // Mostly the short numbers of real data, often at the fast path's limits, sometimes long.
    const int shape = random.below(10);
    const int max_digits = shape < 6 ? 8 : shape < 9 ? 22 : 60;
    int integer_digits = random.below(max_digits + 1);
    int fraction_digits = random.below(max_digits + 1);
    if (random.below(4) == 0) {
        integer_digits = random.below(2);
    }
    const bool point = fraction_digits > 0 || random.below(2) == 0;
    if (integer_digits + fraction_digits == 0) {
        integer_digits = 1;
    }
    if (random.below(8) == 0) {
        text.append(static_cast<std::size_t>(random.below(5)), '0');  // leading zeros
    }
    append_digits(text, integer_digits, random);
    if (point) {
        text += '.';
        append_digits(text, fraction_digits, random);
    }
    if (random.below(2) == 0) {
        text += random.below(2) == 0 ? 'e' : 'E';
        const int sign = random.below(3);
        if (sign < 2) {
            text += sign == 0 ? '-' : '+';
        }
        const int range = random.below(4);
        const int magnitude = range == 0   ? random.below(23)
                              : range == 1 ? random.below(40)
                              : range == 2 ? 280 + random.below(60)
                                           : random.below(400);
        text += std::to_string(magnitude);
    }
    return text;
}

void expect_like_strtod(const std::string& number) {
    const std::string text = number + " ";
    double value = 0.0;
    const morvel::ScanResult result =
        morvel::scan_number(text.data(), text.data() + text.size(), false, value);
    ASSERT_EQ(result.status, morvel::ScanStatus::ok) << number;
    ASSERT_EQ(result.ptr - text.data(), static_cast<std::ptrdiff_t>(number.size())) << number;
    const double expected = std::strtod(number.c_str(), nullptr);
    ASSERT_EQ(std::bit_cast<std::uint64_t>(value), std::bit_cast<std::uint64_t>(expected))
        << number << ": " << value << " instead of " << expected;
}

TEST(ScanDifferential, GeneratedNumbersMatchStrtod) {
    Random random(20261211);
    for (int i = 0; i < 2'000'000; ++i) {
        expect_like_strtod(random_number(random));
    }
}

TEST(ScanDifferential, FastPathLimits) {
    // Around 2^53 and the largest mantissa of 19 digits, with every power up to past 22.
    const char* const mantissas[] = {"9007199254740991",
                                     "9007199254740992",
                                     "9007199254740993",
                                     "9999999999999999999",
                                     "1000000000000000000",
                                     "18446744073709551615",
                                     "18446744073709551616",
                                     "1",
                                     "5"};
    for (const char* m : mantissas) {
        for (int power = -30; power <= 30; ++power) {
            std::string number = m;
            number += 'e';
            number += std::to_string(power);
            expect_like_strtod(number);
            expect_like_strtod(number.insert(0, 1, '-'));
        }
    }
    // Fraction digits that move the power past 22 while the exponent brings it back.
    expect_like_strtod("0.00000000000000000000000123e25");
    expect_like_strtod("123456789.0123456789e-3");
}

}  // namespace
