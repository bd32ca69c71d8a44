// Fuzz target for the number text. Every eight bytes of the input (the last group padded with
// zero bytes) are one double, checked as it is and with its low significand bits cleared.
// Its text must be exactly 12 characters, right-aligned; "nan" for every not-a-number, "inf"
// or "-inf" for infinities; otherwise four significant digits in fixed notation for decimal
// exponents -4 to 3 and in exponent notation with a sign and exactly three exponent digits
// beyond that, without trailing zeros or a trailing point. Read back, the text must give the
// value rounded to four significant digits, which C's "%.3e" provides independently; and the
// whole text must equal C's "%.4g" with its exponent widened to three digits.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz_check.hpp"
#include "number_text.hpp"

namespace {

using morvel::fuzz::fail;

constexpr std::size_t WIDTH = 12;

std::string right_aligned(const std::string& text) {
    return std::string(text.size() < WIDTH ? WIDTH - text.size() : 0, ' ') + text;
}

// C's "%.4g" with a two-digit exponent widened to three digits ("e+06" -> "e+006").
std::string expected_text(double value) {
    if (std::isnan(value)) {
        return right_aligned("nan");
    }
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.4g", value);
    std::string text(buffer);
    const std::size_t mark = text.find('e');
    if (mark != std::string::npos && text.size() - mark == 4) {
        text = text.substr(0, mark + 2) + '0' + text.substr(mark + 2);
    }
    return right_aligned(text);
}

void check(double value) {
    const std::string text = morvel::format_number(value);
    const std::uint64_t value_bits = std::bit_cast<std::uint64_t>(value);
    if (text.size() != WIDTH) {
        fail("%a (bits %016llx): text \"%s\" has %zu characters", value,
             static_cast<unsigned long long>(value_bits), text.c_str(), text.size());
    }
    const std::size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos || text.find(' ', first) != std::string::npos) {
        fail("%a: text \"%s\" is not one right-aligned word", value, text.c_str());
    }
    const std::string word = text.substr(first);

    if (std::isnan(value) || std::isinf(value)) {
        const char* want = std::isnan(value) ? "nan" : value < 0 ? "-inf" : "inf";
        if (word != want) {
            fail("bits %016llx: text \"%s\", expected \"%s\"",
                 static_cast<unsigned long long>(value_bits), text.c_str(), want);
        }
        return;
    }

    // The value rounded to four significant digits, and its decimal exponent.
    char rounded_text[64];
    std::snprintf(rounded_text, sizeof rounded_text, "%.3e", value);
    const double rounded = std::strtod(rounded_text, nullptr);
    const int exponent = std::atoi(std::strchr(rounded_text, 'e') + 1);

    const double read_back = std::strtod(word.c_str(), nullptr);
    if (std::bit_cast<std::uint64_t>(read_back) != std::bit_cast<std::uint64_t>(rounded)) {
        fail("%.17g: text \"%s\" reads back as %.17g, rounded value %s", value, text.c_str(),
             read_back, rounded_text);
    }

    const std::size_t mark = word.find('e');
    const bool exponent_form = exponent < -4 || exponent > 3;
    if ((mark != std::string::npos) != exponent_form) {
        fail("%.17g: text \"%s\" with decimal exponent %d", value, text.c_str(), exponent);
    }
    const std::string mantissa = word.substr(0, mark);
    if (mark != std::string::npos) {
        const std::string tail = word.substr(mark);
        if (tail.size() != 5 || (tail[1] != '+' && tail[1] != '-') ||
            std::strspn(tail.c_str() + 2, "0123456789") != 3) {
            fail("%.17g: text \"%s\" has exponent \"%s\"", value, text.c_str(), tail.c_str());
        }
    }
    if (mantissa.find('.') != std::string::npos &&
        (mantissa.back() == '0' || mantissa.back() == '.')) {
        fail("%.17g: text \"%s\" keeps a trailing zero or point", value, text.c_str());
    }

    const std::string expected = expected_text(value);
    if (text != expected) {
        fail("%.17g: text \"%s\", expected \"%s\"", value, text.c_str(), expected.c_str());
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    for (std::size_t at = 0; at < size; at += 8) {
        unsigned char bytes[8] = {};
        std::memcpy(bytes, data + at, std::min<std::size_t>(8, size - at));
        std::uint64_t value_bits = 0;
        std::memcpy(&value_bits, bytes, sizeof value_bits);
        check(std::bit_cast<double>(value_bits));
        // The same value with a short significand: exact decimal ties such as 12345 or
        // 1.0625, where the rounding must go to even, are rare among random bit patterns.
        check(std::bit_cast<double>(value_bits & ~((std::uint64_t{1} << 40) - 1)));
        check(std::bit_cast<double>(value_bits & ~((std::uint64_t{1} << 30) - 1)));
    }
    return 0;
}
