// The quick path for plain numbers against the general scanner: the same value bits and the
// same end wherever it answers, and an answer for every plain number it is meant to read.
#include "short_number.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <ostream>
#include <string>

#include "number_scan.hpp"

namespace {

using morvel::ShortNumber;

bool processor_shuffles() {
#if defined(__x86_64__)
    __builtin_cpu_init();
    return __builtin_cpu_supports("ssse3") && __builtin_cpu_supports("sse4.1");
#else
    return false;
#endif
}

// The text followed by blanks, so that the quick path may read its sixteen and more.
std::string padded(const std::string& text) {
    return text + std::string(morvel::SHORT_NUMBER_READ + 8, ' ');
}

// What a digit reader gives for `text`: the characters consumed (-1 for no answer) and the
// value bits.
struct Answer {
    int length = -1;
    std::uint64_t bits = 0;
    bool operator==(const Answer&) const = default;
};

template <class Digits>
Answer quick(const std::string& text) {
    const std::string t = padded(text);
    ShortNumber number{};
    const char* const end = morvel::read_short_number<Digits>(t.data(), number);
    if (end == nullptr) {
        return {};
    }
    return {static_cast<int>(end - t.data()),
            std::bit_cast<std::uint64_t>(morvel::short_number_value(number))};
}

Answer general(const std::string& text) {
    const std::string t = padded(text);
    double value = 0.0;
    const morvel::ScanResult r = morvel::scan_number(t.data(), t.data() + t.size(), true, value);
    if (r.status != morvel::ScanStatus::ok) {
        return {};
    }
    return {static_cast<int>(r.ptr - t.data()), std::bit_cast<std::uint64_t>(value)};
}

// The two digit readers on one text: each answers as the general scanner does or not at all;
// `word_reads` and `shuffle_reads` say whether each must answer.
void expect_reads(const std::string& text, bool word_reads, bool shuffle_reads) {
    const Answer expected = general(text);
    const Answer word = quick<morvel::WordDigits>(text);
    if (word_reads) {
        EXPECT_EQ(word, expected) << '"' << text << '"';
    } else {
        EXPECT_EQ(word.length, -1) << '"' << text << '"';
    }
    EXPECT_EQ(morvel::skip_short_number(padded(text).data()) != nullptr, shuffle_reads)
        << '"' << text << '"';
#if defined(__x86_64__)
    if (processor_shuffles()) {
        const Answer shuffle = quick<morvel::ShuffleDigits>(text);
        if (shuffle_reads) {
            EXPECT_EQ(shuffle, expected) << '"' << text << '"';
        } else {
            EXPECT_EQ(shuffle.length, -1) << '"' << text << '"';
        }
    }
#endif
}

struct Case {
    std::string text;
    bool word_reads;     // within eight digits on either side of the point
    bool shuffle_reads;  // of the plain form, at most 15 characters, then whitespace

    friend void PrintTo(const Case& c, std::ostream* os) { *os << '"' << c.text << '"'; }
};

class ShortNumberForms : public testing::TestWithParam<Case> {};

TEST_P(ShortNumberForms, AnswerAsTheGeneralScannerOrNotAtAll) {
    expect_reads(GetParam().text, GetParam().word_reads, GetParam().shuffle_reads);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ShortNumberForms,
    testing::Values(Case{"0.035360", true, true}, Case{"-0.035360", true, true},
                    Case{"+1", true, true}, Case{"5.", true, true}, Case{".5", true, true},
                    Case{"-.5", true, true}, Case{"-0", true, true}, Case{"-0.000", true, true},
                    Case{"1999.9990", true, true}, Case{"12345678.12345678", false, false},
                    Case{"1234567.1234567", true, true},     // 15 characters
                    Case{"-1234567.123456", true, true},     // 15 with the sign
                    Case{"12345678.1234567", false, false},  // 16 characters
                    Case{"123456789012345", false, true},    // 15 digits, no point
                    Case{"000000000.00001", false, true},    // nine integer digits
                    Case{".123456789", false, true},         // nine fraction digits
                    Case{"9007199254740993", false, false},  // 16 characters
                    Case{"1.5e3", false, false}, Case{"1.2.3", false, false},
                    Case{"-", false, false}, Case{".", false, false}, Case{"-.", false, false},
                    Case{"+-1", false, false}, Case{"1-2", false, false}, Case{"1x", false, false},
                    Case{"1,5", false, false}, Case{std::string("1\0", 2), false, false},
                    Case{"", false, false}));

TEST(ShortNumber, EveryWhitespaceEndsTheNumber) {
    for (const char space : {' ', '\t', '\n', '\v', '\f', '\r'}) {
        const std::string text = "-12.5" + std::string(1, space) + "1";
        ShortNumber number{};
        const char* const end = morvel::read_short_number(text.data(), number);
        ASSERT_NE(end, nullptr) << int{space};
        EXPECT_EQ(end - text.data(), 5);
        EXPECT_EQ(morvel::short_number_value(number), -12.5);
    }
}

// Random texts over the characters of numbers: plain numbers of every length, sign and point
// position, and texts that only look like them.
TEST(ShortNumber, GeneratedTextsMatchTheGeneralScanner) {
    std::uint64_t state = 12345;
    auto below = [&state](int n) {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<int>((state >> 33) % static_cast<std::uint64_t>(n));
    };
    for (int i = 0; i < 300'000; ++i) {
        std::string text;
        bool plain = below(4) != 0;
        if (plain) {
            const int sign = below(3);
            if (sign < 2) {
                text += sign == 0 ? '-' : '+';
            }
            const int digits = 1 + below(16);
            const int point = below(digits + 2);  // at digits + 1: no point
            for (int d = 0; d < digits; ++d) {
                if (d == point) {
                    text += '.';
                }
                text += static_cast<char>('0' + below(10));
            }
            if (point == digits) {
                text += '.';
            }
        } else {
            const char alphabet[] = "0123456789.-+eE x";
            const int length = below(19);
            for (int c = 0; c < length; ++c) {
                text += alphabet[below(static_cast<int>(sizeof alphabet) - 1)];
            }
        }
        text += " \t\n"[below(3)];
        // Of the plain form: what the general scanner reads whole, with no exponent, ending
        // at the whitespace.
        const Answer expected = general(text);
        const bool form = expected.length >= 1 && expected.length <= 15 &&
                          text.find_first_of("eE") >= static_cast<std::size_t>(expected.length) &&
                          text.find_first_of(" \t\n") == static_cast<std::size_t>(expected.length);
        const int sign = text[0] == '-' || text[0] == '+' ? 1 : 0;
        const auto point = static_cast<int>(std::min(text.find('.'), text.size()));
        const int integer_digits = std::min(point, expected.length) - sign;
        const int fraction_digits = point < expected.length ? expected.length - point - 1 : 0;
        const bool word_fits = form && integer_digits <= 8 && fraction_digits <= 8;
        expect_reads(text, word_fits, form);
        if (HasFailure()) {
            break;
        }
    }
}

}  // namespace
