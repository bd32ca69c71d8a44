#include "number_scan.hpp"

#include <algorithm>
#include <charconv>
#include <limits>
#include <system_error>

namespace morvel {
namespace {

constexpr bool is_digit(char c) noexcept {
    return c >= '0' && c <= '9';
}

constexpr std::int64_t EXPONENT_CAP = 1'000'000'000'000'000;  // far past any double
constexpr std::int64_t TEXT_EXPONENT_CAP = 100'000;           // still out of range either way

double signed_value(bool negative, double magnitude) noexcept {
    return negative ? -magnitude : magnitude;
}

}  // namespace

ScanResult scan_number(const char* first, const char* last, bool text_ends,
                       double& value) noexcept {
    const char* p = first;
    const bool negative = p < last && *p == '-';
    if (p < last && (*p == '-' || *p == '+')) {
        ++p;
    }
    const char* const unsigned_first = p;
    while (p < last && is_digit(*p)) {
        ++p;
    }
    std::ptrdiff_t mantissa_digits = p - unsigned_first;
    if (p < last && *p == '.') {
        const char* fraction = ++p;
        while (p < last && is_digit(*p)) {
            ++p;
        }
        mantissa_digits += p - fraction;
    }
    if (p == last && !text_ends) {
        return {p, ScanStatus::incomplete};
    }
    if (mantissa_digits == 0) {
        return {p, ScanStatus::invalid};
    }
    if (p < last && (*p == 'e' || *p == 'E')) {
        const char* q = p + 1;
        if (q < last && (*q == '-' || *q == '+')) {
            ++q;
        }
        const char* const exponent_digits = q;
        while (q < last && is_digit(*q)) {
            ++q;
        }
        if (q == last && !text_ends) {
            return {q, ScanStatus::incomplete};
        }
        if (q == exponent_digits) {
            return {q, ScanStatus::invalid};
        }
        p = q;
    }

    double magnitude = 0.0;
    const auto [end, ec] = std::from_chars(unsigned_first, p, magnitude);
    if (ec == std::errc{} && end == p) {
        value = signed_value(negative, magnitude);
        return {p, ScanStatus::ok};
    }
    // Out of range (or a form the library reads differently): rebuild the number in bounded
    // form, which tells overflow from underflow.
    NumberAccumulator accumulator;
    for (const char* c = first; c < p; ++c) {
        accumulator.push(*c);
    }
    accumulator.finish(value);
    return {p, ScanStatus::ok};
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
        value = signed_value(negative_, 0.0);
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
    value = signed_value(negative_, magnitude);
    return true;
}

}  // namespace morvel
