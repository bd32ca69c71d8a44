// Arithmetic on decimal digits shared by the number readers: exact powers of ten, and
// digits read eight at a time from a 64-bit word.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace morvel::detail {

static_assert(std::endian::native == std::endian::little,
              "digits are read eight at a time with the first character in the lowest byte");

// Powers of ten that a double holds exactly.
inline constexpr double EXACT_POWERS_OF_TEN[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                                 1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                                 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
inline constexpr int MAX_EXACT_POWER = 22;
inline constexpr std::uint64_t MAX_EXACT_MANTISSA = std::uint64_t{1} << 53;

inline constexpr std::uint64_t POWERS_OF_TEN[] = {1,
                                                  10,
                                                  100,
                                                  1000,
                                                  10000,
                                                  100000,
                                                  1000000,
                                                  10000000,
                                                  100000000,
                                                  1000000000,
                                                  10000000000,
                                                  100000000000,
                                                  1000000000000,
                                                  10000000000000,
                                                  100000000000000,
                                                  1000000000000000};

// Digits are read eight at a time where the text allows: each byte of a 64-bit word holds
// one character (the first in the lowest byte), and a few multiplications combine them.
inline constexpr std::uint64_t ZEROS = 0x3030303030303030;  // '0' in every byte

[[gnu::always_inline]] inline std::uint64_t load8(const char* p) noexcept {
    std::uint64_t word;
    std::memcpy(&word, p, sizeof word);
    return word;
}

// The number of leading characters of the word that are digits, given the word with '0'
// subtracted from every byte (as xor, so that no byte borrows from the next).
[[gnu::always_inline]] inline int leading_digits(std::uint64_t x) noexcept {
    const std::uint64_t not_digit =
        (((x & 0x7F7F7F7F7F7F7F7F) + 0x7676767676767676) | x) & 0x8080808080808080;
    return not_digit == 0 ? 8 : std::countr_zero(not_digit) >> 3;
}

// The value of eight digit values 0-9, the first (most significant) in the lowest byte.
[[gnu::always_inline]] inline std::uint64_t eight_digit_value(std::uint64_t v) noexcept {
    v = v * 10 + (v >> 8);  // pairs of digits
    return (((v & 0x000000FF000000FF) * (100 + (1000000ULL << 32))) +
            (((v >> 16) & 0x000000FF000000FF) * (1 + (10000ULL << 32)))) >>
           32;
}

// The first `count` (0 to 8) characters at `p` with '0' taken from each, moved to the top
// of a word so that zeros lead and the characters after them drop out; reads eight
// characters.
[[gnu::always_inline]] inline std::uint64_t top_digits(const char* p, int count) noexcept {
    const std::uint64_t keep = count == 0 ? 0 : ~std::uint64_t{0};
    return ((load8(p) ^ ZEROS) << ((64 - 8 * count) & 63)) & keep;
}

// -magnitude or magnitude without a branch: signs in data come at random. `magnitude` must
// not be negative.
[[gnu::always_inline]] inline double with_sign(bool negative, double magnitude) noexcept {
    return std::bit_cast<double>(std::bit_cast<std::uint64_t>(magnitude) | std::uint64_t{negative}
                                                                               << 63);
}

}  // namespace morvel::detail
