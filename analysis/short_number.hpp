// A quick path for the common case of a short number followed by whitespace: a sign, digits
// and a point ([sign]digits[.digits] and the like), then perhaps an exponent of one to three
// digits, at most 15 characters in all. The form is checked sixteen characters at a time and
// the digits are combined without a loop. Anything else is left to scan_number.
#pragma once

#include <bit>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <system_error>

#include "byte_masks.hpp"
#include "digits.hpp"
#include "number_scan.hpp"

#if defined(__x86_64__)
#include <smmintrin.h>
#endif

namespace morvel {

// A number as read for conversion later: its value is mantissa / 10^fraction_digits, negated
// if `negative`, with the mantissa at most 2^53 and fraction_digits at most 22; or, with
// fraction_digits == CONVERTED, the mantissa holds the bits of the value itself.
struct ShortNumber {
    std::uint64_t mantissa;
    std::uint32_t fraction_digits;
    bool negative;
};
inline constexpr std::uint32_t CONVERTED = 0xFFFF'FFFF;

// Characters that read_short_number and skip_short_number read, all of which must be
// readable whatever the text holds.
inline constexpr std::ptrdiff_t SHORT_NUMBER_READ = 24;

// Readers of the digits of a number whose form is already checked: a sign character if
// `sign` is 1, digits, a point at `point_at` (or none if point_at == length), `length`
// characters before any exponent. Each gives the digits as one integer, or returns false if
// it cannot.

// Any processor: at most eight digits on either side of the point, combined a word at a time.
struct WordDigits {
    [[gnu::always_inline]] static bool read(const char* first, int sign, int point_at, int length,
                                            std::uint64_t& mantissa) noexcept {
        using namespace detail;
        const int integer_digits = point_at - sign;
        const int fraction_digits = point_at < length ? length - point_at - 1 : 0;
        if (integer_digits + fraction_digits <= 8) {
            // Both parts in one word: the fraction's digits at the top, the integer part's
            // just below them (with eight fraction digits there is no integer digit).
            mantissa = eight_digit_value(top_digits(first + point_at + 1, fraction_digits) |
                                         top_digits(first + sign, integer_digits) >>
                                             (8 * fraction_digits & 63));
            return true;
        }
        if (integer_digits <= 8 && fraction_digits <= 8) {
            mantissa = eight_digit_value(top_digits(first + sign, integer_digits)) *
                           POWERS_OF_TEN[fraction_digits] +
                       eight_digit_value(top_digits(first + point_at + 1, fraction_digits));
            return true;
        }
        return false;
    }
};

#if defined(__x86_64__)

namespace detail {

// For each sign length, point position and number length: the byte shuffle that gathers the
// number's digits, in order, into the last bytes of sixteen and zeros the bytes before them.
struct DigitOrders {
    alignas(16) std::uint8_t order[2][16][16][16];
};

constexpr DigitOrders make_digit_orders() {
    DigitOrders orders{};
    for (int sign = 0; sign < 2; ++sign) {
        for (int point_at = 0; point_at < 16; ++point_at) {
            for (int length = 0; length < 16; ++length) {
                std::uint8_t* order = orders.order[sign][point_at][length];
                int at = 16;
                for (int i = length - 1; i >= sign; --i) {
                    if (i != point_at) {
                        order[--at] = static_cast<std::uint8_t>(i);
                    }
                }
                while (at > 0) {
                    order[--at] = 0x80;  // a shuffle index with the top bit set gives zero
                }
            }
        }
    }
    return orders;
}

inline constexpr DigitOrders DIGIT_ORDERS = make_digit_orders();

}  // namespace detail

// Processors with SSSE3 and SSE4.1: one byte shuffle gathers the digits, three multiply-adds
// combine them. Any short number (at most 15 digits).
struct ShuffleDigits {
    [[gnu::target("ssse3,sse4.1")]] static bool read(const char* first, int sign, int point_at,
                                                     int length, std::uint64_t& mantissa) noexcept {
        const __m128i digits = _mm_sub_epi8(
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(first)), _mm_set1_epi8('0'));
        const __m128i order = _mm_load_si128(
            reinterpret_cast<const __m128i*>(detail::DIGIT_ORDERS.order[sign][point_at][length]));
        const __m128i gathered = _mm_shuffle_epi8(digits, order);
        const __m128i pairs = _mm_maddubs_epi16(gathered, _mm_set1_epi16(0x010A));  // 10, 1
        const __m128i fours = _mm_madd_epi16(pairs, _mm_set1_epi32(0x00010064));    // 100, 1
        const __m128i eights =
            _mm_madd_epi16(_mm_packus_epi32(fours, fours), _mm_set1_epi32(0x00012710));  // 10^4, 1
        const auto both = static_cast<std::uint64_t>(_mm_cvtsi128_si64(eights));
        mantissa = (both & 0xFFFFFFFF) * 100000000 + (both >> 32);
        return true;
    }
};

#endif

namespace detail {

// What the sixteen characters at a number's start say about its sign, digits and point.
struct NumberBody {
    masks::NumberClasses classes;
    bool negative;
    int sign;              // 1 if a sign character leads, else 0
    int length;            // characters of the sign, digits and point (at most 16)
    std::uint32_t points;  // the points among them

    [[gnu::always_inline]] static NumberBody at(const char* first) noexcept {
        const bool negative = first[0] == '-';
        const int sign = negative || first[0] == '+' ? 1 : 0;
        const masks::NumberClasses classes = masks::number_classes(first);
        const int length =
            std::countr_zero(~(classes.digit | classes.point | static_cast<std::uint32_t>(sign)));
        const std::uint32_t within = (std::uint32_t{1} << length) - 1;
        return {classes, negative, sign, length, classes.point & within};
    }
    // At most one point and at least one digit: the form of a number's digits.
    [[gnu::always_inline]] bool is_number() const noexcept {
        return (points & (points - 1)) == 0 &&
               (classes.digit & ((std::uint32_t{1} << length) - 1)) != 0;
    }
    [[gnu::always_inline]] bool followed_by_space(int at) const noexcept {
        return at < 16 && ((classes.space >> at) & 1) != 0;
    }
    [[gnu::always_inline]] int point_at() const noexcept {
        return points != 0 ? std::countr_zero(points) : length;
    }
    [[gnu::always_inline]] int fraction_digits() const noexcept {
        return points != 0 ? length - point_at() - 1 : 0;
    }
};

// Reads a short number at `first`; see read_short_number. Short numbers with an exponent take
// a route of their own, and only if Exponents: a loop that never meets them keeps fewer
// values in registers.
template <bool Read, class Digits>
inline const char* short_number_with_exponent(const char* first, const NumberBody& body,
                                              ShortNumber* number) noexcept;

template <bool Read, class Digits, bool Exponents>
[[gnu::always_inline]] inline const char* short_number(const char* first,
                                                       ShortNumber* number) noexcept {
    const NumberBody body = NumberBody::at(first);
    if (!body.followed_by_space(body.length)) {
        if constexpr (Exponents) {
            return short_number_with_exponent<Read, Digits>(first, body, number);
        }
        return nullptr;
    }
    if (!body.is_number()) {
        return nullptr;
    }
    if constexpr (Read) {
        std::uint64_t mantissa = 0;
        if (!Digits::read(first, body.sign, body.point_at(), body.length, mantissa)) {
            return nullptr;
        }
        // At most 15 digits: the mantissa is below 2^53, so it converts exactly.
        *number = {mantissa, static_cast<std::uint32_t>(body.fraction_digits()), body.negative};
    }
    return first + body.length;
}

template <bool Read, class Digits>
[[gnu::always_inline]] inline const char* short_number_with_exponent(const char* first,
                                                                     const NumberBody& body,
                                                                     ShortNumber* number) noexcept {
    // e or E, perhaps a sign, one to three digits, then whitespace, all within sixteen.
    const int length = body.length;
    if (length > 13 || (first[length] | 0x20) != 'e' || !body.is_number()) {
        return nullptr;
    }
    const bool exponent_negative = first[length + 1] == '-';
    const int digits_at = length + (exponent_negative || first[length + 1] == '+' ? 2 : 1);
    const int exponent_digits = std::countr_zero(~(body.classes.digit >> digits_at));
    const int end = digits_at + exponent_digits;
    if (exponent_digits == 0 || exponent_digits > 3 || !body.followed_by_space(end)) {
        return nullptr;
    }
    if constexpr (Read) {
        int exponent = 0;
        for (int i = digits_at; i < end; ++i) {
            exponent = exponent * 10 + (first[i] - '0');
        }
        const int power = (exponent_negative ? -exponent : exponent) - body.fraction_digits();
        std::uint64_t mantissa = 0;
        if (power < -MAX_EXACT_POWER || power > 15 ||
            !Digits::read(first, body.sign, body.point_at(), length, mantissa)) {
            return nullptr;
        }
        if (power > 0) {
            // Scaled up in integers while the product stays exact in a double: the same value
            // as the correctly rounded product, which is then exact too.
            if (mantissa > MAX_EXACT_MANTISSA / POWERS_OF_TEN[power]) {
                return nullptr;
            }
            mantissa *= POWERS_OF_TEN[power];
        }
        *number = {mantissa, static_cast<std::uint32_t>(power < 0 ? -power : 0), body.negative};
    }
    return first + end;
}

}  // namespace detail

// Reads a short number at `first`, followed by whitespace. Returns the end of the number and
// fills `number`, or returns nullptr when the text is not of that form, Digits cannot read it
// or the value is not an exact integer divided by a power of ten up to 10^22 (scan_number then
// reads it). Without Exponents, numbers with an exponent are not read either.
template <class Digits = WordDigits, bool Exponents = true>
[[gnu::always_inline]] inline const char* read_short_number(const char* first,
                                                            ShortNumber& number) noexcept {
    return detail::short_number<true, Digits, Exponents>(first, &number);
}

// Checks the form as read_short_number does, without reading the digits.
template <bool Exponents = true>
[[gnu::always_inline]] inline const char* skip_short_number(const char* first) noexcept {
    return detail::short_number<false, WordDigits, Exponents>(first, nullptr);
}

// The value scan_number gives for the same text: an exact mantissa divided by an exact power
// of ten, correctly rounded (or the value converted already).
[[gnu::always_inline]] inline double short_number_value(const ShortNumber& number) noexcept {
    if (number.fraction_digits == CONVERTED) {
        return std::bit_cast<double>(number.mantissa);
    }
    return detail::with_sign(number.negative,
                             static_cast<double>(static_cast<std::int64_t>(number.mantissa)) /
                                 detail::EXACT_POWERS_OF_TEN[number.fraction_digits]);
}

// Reads a longer number at `first` in one pass with std::from_chars, when it is followed by
// whitespace before `last` and starts (after a minus sign) with a digit or a point: then
// from_chars takes exactly the characters scan_number takes, with the same correctly rounded
// value. Returns nullptr otherwise, and for values out of range (scan_number then reads it).
inline const char* read_long_number(const char* first, const char* last,
                                    ShortNumber& number) noexcept {
    const char* const digits = first + (first < last && first[0] == '-' ? 1 : 0);
    if (digits == last || !((*digits >= '0' && *digits <= '9') || *digits == '.')) {
        return nullptr;
    }
    double value = 0.0;
    const auto [end, error] = std::from_chars(first, last, value);
    if (error != std::errc{} || end == last || !is_space(*end)) {
        return nullptr;
    }
    number = {std::bit_cast<std::uint64_t>(value), CONVERTED, false};
    return end;
}

}  // namespace morvel
