// Reading of decimal real numbers from text, in exactly the form a data file may hold:
// an optional sign; digits, a decimal point, or both, with at least one digit; then
// optionally e or E, an optional sign and digits. Nothing else (no "inf", "nan",
// hexadecimal or locale-specific forms) is a number.
//
// Like C's "%lf", scanning consumes the longest run of characters that could still begin a
// number; when that run is not a number itself ("-", ".", "2e", "1e+"), the scan fails with
// those characters consumed. Values are correctly rounded; out-of-range values give
// infinity or zero of the right sign, as strtod does.
#pragma once

#include <cstdint>
#include <string>

namespace morvel {

enum class ScanStatus : std::uint8_t {
    ok,          // a number was read into the value
    invalid,     // the characters consumed (possibly none) do not form a number
    incomplete,  // the text ended while the number could still go on
};

struct ScanResult {
    const char* ptr;  // first character not consumed
    ScanStatus status;
};

// The whitespace of the C locale: blank, tab, line feed, vertical tab, form feed, return.
constexpr bool is_space(char c) noexcept {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// The first character at or after `p` that is not whitespace, or `last`.
constexpr const char* skip_space(const char* p, const char* last) noexcept {
    while (p < last && is_space(*p)) {
        ++p;
    }
    return p;
}

// Scans one number starting at `first` (no whitespace is skipped). When `text_ends` is false
// the text may go on after `last`, so a number that reaches `last` is reported incomplete
// and nothing is stored; feed it to a NumberAccumulator instead. `value` is written only on
// ScanStatus::ok.
ScanResult scan_number(const char* first, const char* last, bool text_ends, double& value) noexcept;

// Scans one number exactly as scan_number does, without computing its value: for numbers
// that are read only to be passed over.
ScanResult skip_number(const char* first, const char* last, bool text_ends) noexcept;

// Builds one number from characters that arrive one at a time (a number split across input
// blocks, or one too long to hold). Memory stays bounded however long the number is: only
// the first significant digits are kept, beyond them only whether any later digit was
// non-zero, which is all correct rounding needs.
class NumberAccumulator {
  public:
    // Starts a new number.
    void reset() noexcept;
    // Consumes `c` if it can continue the number; returns false (consuming nothing) if not.
    bool push(char c);
    // Ends the number. Returns true and stores the value if the consumed text is a number.
    bool finish(double& value) const;

    // Significant digits kept; correct rounding of a double needs at most 768 of them.
    static constexpr std::size_t KEPT_DIGITS = 800;

  private:
    enum class Phase : std::uint8_t {
        start,
        sign,
        integer,
        lone_point,
        fraction,
        exponent_mark,
        exponent_sign,
        exponent
    };
    Phase phase_ = Phase::start;
    bool negative_ = false;
    bool exponent_negative_ = false;
    bool sticky_ = false;           // a non-zero digit was dropped after the kept ones
    std::string digits_;            // significant digits, no leading zeros
    std::int64_t point_shift_ = 0;  // value = 0.digits * 10^(point_shift + exponent)
    std::int64_t exponent_ = 0;     // saturates far beyond any finite double

    void add_digit(char c, bool before_point);
};

}  // namespace morvel
