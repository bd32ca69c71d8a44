#include "number_scan.hpp"

#include "digits.hpp"

#include <algorithm>
#include <bit>
#include <charconv>
#include <limits>
#include <system_error>

namespace morvel {
namespace {

using namespace detail;

constexpr bool is_digit(char c) noexcept {
    return c >= '0' && c <= '9';
}

constexpr std::int64_t EXPONENT_CAP = 1'000'000'000'000'000;  // far past any double
constexpr std::int64_t TEXT_EXPONENT_CAP = 100'000;           // still out of range either way

constexpr std::ptrdiff_t MAX_FAST_DIGITS = 19;  // any 19 digits fit in 64 bits
constexpr int FAST_EXPONENT_CAP = 100'000;      // beyond it the fast path does not apply anyway

// Reads a run of digits, appending them to `mantissa` (which wraps past 19 digits; the
// caller counts digits). Returns the first character that is not a digit.
[[gnu::always_inline]] inline const char* read_digits(const char* p, const char* last,
                                                      std::uint64_t& mantissa) noexcept {
    while (last - p >= 8) {
        const std::uint64_t word = load8(p) ^ ZEROS;
        const int count = leading_digits(word);
        if (count == 0) {
            return p;
        }
        // Shift the digits to the top, so the bytes after them drop out and zeros lead.
        const std::uint64_t digits = word << (8 * (8 - count));
        mantissa = mantissa * POWERS_OF_TEN[count] + eight_digit_value(digits);
        p += count;
        if (count < 8) {
            return p;
        }
    }
    while (p < last && is_digit(*p)) {
        mantissa = mantissa * 10 + static_cast<unsigned>(*p - '0');
        ++p;
    }
    return p;
}

// Slow but general: the library's correctly rounded conversion, and a bounded rebuild of the
// number for values out of range (telling overflow from underflow).
double convert_general(const char* first, const char* unsigned_first, const char* last,
                       bool negative) noexcept {
    double magnitude = 0.0;
    const auto [end, ec] = std::from_chars(unsigned_first, last, magnitude);
    if (ec == std::errc{} && end == last) {
        return with_sign(negative, magnitude);
    }
    NumberAccumulator accumulator;
    for (const char* c = first; c < last; ++c) {
        accumulator.push(*c);
    }
    double value = 0.0;
    accumulator.finish(value);
    return value;
}

}  // namespace

namespace {

// Scans one number; with Convert, also computes its value. Without, the compiler drops the
// digit arithmetic and only the form is checked.
template <bool Convert>
[[gnu::always_inline]] inline ScanResult scan(const char* first, const char* last, bool text_ends,
                                              double* value) noexcept {
    const char* p = first;
    const bool negative = p < last && *p == '-';
    p += negative || (p < last && *p == '+');  // without a branch: signs come at random
    const char* const unsigned_first = p;
    // The digits, read as one integer while they fit; the point only moves the exponent.
    // Integer parts are mostly short: read their digits one by one, a fraction's in words.
    std::uint64_t mantissa = 0;
    while (p < last && is_digit(*p)) {
        mantissa = mantissa * 10 + static_cast<unsigned>(*p - '0');
        ++p;
    }
    std::ptrdiff_t mantissa_digits = p - unsigned_first;
    std::ptrdiff_t fraction_digits = 0;
    if (p < last && *p == '.') {
        const char* fraction = ++p;
        p = read_digits(p, last, mantissa);
        fraction_digits = p - fraction;
        mantissa_digits += fraction_digits;
    }
    if (p == last && !text_ends) {
        return {p, ScanStatus::incomplete};
    }
    if (mantissa_digits == 0) {
        return {p, ScanStatus::invalid};
    }
    int exponent = 0;
    if (p < last && (*p == 'e' || *p == 'E')) {
        const char* q = p + 1;
        const bool exponent_negative = q < last && *q == '-';
        if (q < last && (*q == '-' || *q == '+')) {
            ++q;
        }
        const char* const exponent_digits = q;
        while (q < last && is_digit(*q)) {
            exponent = std::min(exponent * 10 + (*q - '0'), FAST_EXPONENT_CAP);
            ++q;
        }
        if (q == last && !text_ends) {
            return {q, ScanStatus::incomplete};
        }
        if (q == exponent_digits) {
            return {q, ScanStatus::invalid};
        }
        exponent = exponent_negative ? -exponent : exponent;
        p = q;
    }

    if constexpr (!Convert) {
        return {p, ScanStatus::ok};
    }
    // Exact mantissa and exact power of ten: one correctly rounded multiplication or
    // division gives the correctly rounded value.
    const std::ptrdiff_t power = exponent - fraction_digits;
    if (mantissa_digits <= MAX_FAST_DIGITS && mantissa <= MAX_EXACT_MANTISSA &&
        power >= -MAX_EXACT_POWER && power <= MAX_EXACT_POWER) {
        const auto m = static_cast<double>(mantissa);
        const double magnitude =
            power < 0 ? m / EXACT_POWERS_OF_TEN[-power] : m * EXACT_POWERS_OF_TEN[power];
        *value = with_sign(negative, magnitude);
    } else {
        *value = convert_general(first, unsigned_first, p, negative);
    }
    return {p, ScanStatus::ok};
}

}  // namespace

ScanResult scan_number(const char* first, const char* last, bool text_ends,
                       double& value) noexcept {
    return scan<true>(first, last, text_ends, &value);
}

ScanResult skip_number(const char* first, const char* last, bool text_ends) noexcept {
    return scan<false>(first, last, text_ends, nullptr);
}

void NumberAccumulator::reset() noexcept {
    phase_ = Phase::start;
    negative_ = false;
    exponent_negative_ = false;
    sticky_ = false;
    digits_.clear();
    point_shift_ = 0;
    exponent_ = 0;
}

void NumberAccumulator::add_digit(char c, bool before_point) {
    if (digits_.empty() && c == '0') {
        // A leading zero: after the point it moves the first significant digit down.
        if (!before_point) {
            --point_shift_;
        }
        return;
    }
    if (before_point) {
        ++point_shift_;
    }
    if (digits_.size() < KEPT_DIGITS) {
        digits_.push_back(c);
    } else if (c != '0') {
        sticky_ = true;
    }
}

bool NumberAccumulator::push(char c) {
    const bool digit = is_digit(c);
    const bool sign = c == '+' || c == '-';
    const bool exponent_letter = c == 'e' || c == 'E';
    switch (phase_) {
        case Phase::start:
            if (sign) {
                negative_ = c == '-';
                phase_ = Phase::sign;
                return true;
            }
            [[fallthrough]];
        case Phase::sign:
            if (digit) {
                add_digit(c, true);
                phase_ = Phase::integer;
                return true;
            }
            if (c == '.') {
                phase_ = Phase::lone_point;
                return true;
            }
            return false;
        case Phase::integer:
            if (digit) {
                add_digit(c, true);
                return true;
            }
            if (c == '.') {
                phase_ = Phase::fraction;
                return true;
            }
            if (exponent_letter) {
                phase_ = Phase::exponent_mark;
                return true;
            }
            return false;
        case Phase::lone_point:
            if (digit) {
                add_digit(c, false);
                phase_ = Phase::fraction;
                return true;
            }
            return false;
        case Phase::fraction:
            if (digit) {
                add_digit(c, false);
                return true;
            }
            if (exponent_letter) {
                phase_ = Phase::exponent_mark;
                return true;
            }
            return false;
        case Phase::exponent_mark:
            if (sign) {
                exponent_negative_ = c == '-';
                phase_ = Phase::exponent_sign;
                return true;
            }
            [[fallthrough]];
        case Phase::exponent_sign:
        case Phase::exponent:
            if (digit) {
                exponent_ = std::min(exponent_ * 10 + (c - '0'), EXPONENT_CAP);
                phase_ = Phase::exponent;
                return true;
            }
            return false;
    }
    return false;
}

bool NumberAccumulator::finish(double& value) const {
    if (phase_ != Phase::integer && phase_ != Phase::fraction && phase_ != Phase::exponent) {
        return false;
    }
    if (digits_.empty()) {
        value = with_sign(negative_, 0.0);
        return true;
    }
    const std::int64_t scale =
        std::clamp(point_shift_ + (exponent_negative_ ? -exponent_ : exponent_), -TEXT_EXPONENT_CAP,
                   TEXT_EXPONENT_CAP);
    // ".<digits>[1]e<scale>": the sticky 1 stands for every dropped non-zero digit.
    char text[KEPT_DIGITS + 32];
    char* out = text;
    *out++ = '.';
    out = std::copy(digits_.begin(), digits_.end(), out);
    if (sticky_) {
        *out++ = '1';
    }
    *out++ = 'e';
    out = std::to_chars(out, text + sizeof text, scale).ptr;

    double magnitude = 0.0;
    const auto result = std::from_chars(text, out, magnitude);
    if (result.ec == std::errc::result_out_of_range) {
        magnitude = scale > 0 ? std::numeric_limits<double>::infinity() : 0.0;
    }
    value = with_sign(negative_, magnitude);
    return true;
}

}  // namespace morvel
