// The quick paths for short and longer numbers against the general scanner: the same value
// bits and the same end wherever they answer, and an answer for every number they are meant
// to read.
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

// What the quick path must do with one text.
struct Expect {
    bool form;           // a short number followed by whitespace: skip_short_number passes it
    bool shuffle_reads;  // and its power of ten is within 22
    bool word_reads;     // and it has at most eight digits on either side of the point
};

// The two digit readers on one text: each answers as the general scanner does or not at all.
void expect_reads(const std::string& text, Expect expect) {
    const Answer expected = general(text);
    const Answer word = quick<morvel::WordDigits>(text);
    if (expect.word_reads) {
        EXPECT_EQ(word, expected) << '"' << text << '"';
    } else {
        EXPECT_EQ(word.length, -1) << '"' << text << '"';
    }
    const char* const skipped = morvel::skip_short_number(padded(text).data());
    EXPECT_EQ(skipped != nullptr, expect.form) << '"' << text << '"';
#if defined(__x86_64__)
    if (processor_shuffles()) {
        const Answer shuffle = quick<morvel::ShuffleDigits>(text);
        if (expect.shuffle_reads) {
            EXPECT_EQ(shuffle, expected) << '"' << text << '"';
        } else {
            EXPECT_EQ(shuffle.length, -1) << '"' << text << '"';
        }
    }
#endif
}

struct Case {
    std::string text;
    Expect expect;

    friend void PrintTo(const Case& c, std::ostream* os) { *os << '"' << c.text << '"'; }
};

class ShortNumberForms : public testing::TestWithParam<Case> {};

TEST_P(ShortNumberForms, AnswerAsTheGeneralScannerOrNotAtAll) {
    expect_reads(GetParam().text, GetParam().expect);
}

constexpr Expect READ{true, true, true};
constexpr Expect SHUFFLE_ONLY{true, true, false};
constexpr Expect FORM_ONLY{true, false, false};
constexpr Expect NOT_SHORT{false, false, false};

INSTANTIATE_TEST_SUITE_P(
    Table, ShortNumberForms,
    testing::Values(
        Case{"0.035360", READ}, Case{"-0.035360", READ}, Case{"+1", READ}, Case{"5.", READ},
        Case{".5", READ}, Case{"-.5", READ}, Case{"-0", READ}, Case{"-0.000", READ},
        Case{"1999.9990", READ}, Case{"1234567.1234567", READ},  // 15 characters
        Case{"-1234567.123456", READ},                           // 15 with the sign
        Case{"12345678.1234567", NOT_SHORT},                     // 16 characters
        Case{"123456789012345", SHUFFLE_ONLY},                   // 15 digits, no point
        Case{"000000000.00001", SHUFFLE_ONLY},                   // nine integer digits
        Case{".123456789", SHUFFLE_ONLY},                        // nine fraction digits
        Case{"9007199254740993", NOT_SHORT},                     // 16 characters
        Case{"-3.536041e-02", READ}, Case{"1e5", READ}, Case{"1.e5", READ}, Case{"1E+5", READ},
        Case{"+.5E-007", READ}, Case{"-1.5e-21", READ}, Case{"1e-22", READ},
        Case{"1e-23", FORM_ONLY},              // beyond 10^22: the general scanner's,
        Case{"9.007199254e15", SHUFFLE_ONLY},  // so are products
        Case{"9.007199255e15", FORM_ONLY},     // past 2^53
        Case{"1.5e22", FORM_ONLY}, Case{"15e23", FORM_ONLY}, Case{"1e-30", FORM_ONLY},
        Case{"1.2345678901e-3", SHUFFLE_ONLY},  // 15 characters
        Case{"1.23456789012e-3", NOT_SHORT}, Case{"1e1234", NOT_SHORT}, Case{"1e", NOT_SHORT},
        Case{"1e+", NOT_SHORT}, Case{"1e-x", NOT_SHORT}, Case{".e5", NOT_SHORT},
        Case{"1e5.5", NOT_SHORT}, Case{"1e5e5", NOT_SHORT}, Case{"1f5", NOT_SHORT},
        Case{"1.2.3", NOT_SHORT}, Case{"-", NOT_SHORT}, Case{".", NOT_SHORT}, Case{"-.", NOT_SHORT},
        Case{"+-1", NOT_SHORT}, Case{"1-2", NOT_SHORT}, Case{"1x", NOT_SHORT},
        Case{"1,5", NOT_SHORT}, Case{std::string("1\0", 2), NOT_SHORT}, Case{"", NOT_SHORT}));

TEST(ShortNumber, EveryWhitespaceEndsTheNumber) {
    for (const char space : {' ', '\t', '\n', '\v', '\f', '\r'}) {
        for (const std::string number : {"-12.5", "-1.25e1"}) {
            const std::string text = padded(number + std::string(1, space) + "1");
            ShortNumber n{};
            const char* const end = morvel::read_short_number(text.data(), n);
            ASSERT_NE(end, nullptr) << int{space};
            EXPECT_EQ(end - text.data(), static_cast<std::ptrdiff_t>(number.size()));
            EXPECT_EQ(morvel::short_number_value(n), -12.5);
        }
    }
}

// What the quick path must do with `text`, worked out from its characters and from what the
// general scanner reads of it.
Expect expectation(const std::string& text) {
    const Answer general_answer = general(text);
    const auto length = static_cast<std::size_t>(std::max(general_answer.length, 0));
    const std::size_t e = std::min(text.find_first_of("eE"), length);
    // An exponent, if any: e or E, perhaps a sign, then one to three digits.
    bool exponent_ok = e == length;
    if (!exponent_ok) {
        const std::size_t digits_at = e + (text[e + 1] == '-' || text[e + 1] == '+' ? 2 : 1);
        exponent_ok = length > digits_at && length - digits_at <= 3 &&
                      text.find_first_not_of("0123456789", digits_at) == length;
    }
    const bool form =
        length >= 1 && length <= 15 && exponent_ok && text.find_first_of(" \t\n") == length;
    if (!form) {
        return NOT_SHORT;
    }
    const int sign = text[0] == '-' || text[0] == '+' ? 1 : 0;
    const auto point = static_cast<int>(std::min(text.find('.'), e));
    const int integer_digits = point - sign;
    const int fraction_digits = point < static_cast<int>(e) ? static_cast<int>(e) - point - 1 : 0;
    const int exponent = e == length ? 0 : std::stoi(text.substr(e + 1, length - e - 1));
    const int power = exponent - fraction_digits;
    // The digits' value, times 10^power when that is positive: an exact integer up to 2^53.
    std::uint64_t mantissa = 0;
    for (std::size_t i = 0; i < e; ++i) {
        if (text[i] >= '0' && text[i] <= '9') {
            mantissa = mantissa * 10 + static_cast<std::uint64_t>(text[i] - '0');
        }
    }
    bool exact = power >= -22 && power <= 15;
    for (int p = 0; exact && p < power; ++p) {
        mantissa *= 10;
        exact = mantissa <= (std::uint64_t{1} << 53);
    }
    const bool shuffle = exact;
    return {true, shuffle, shuffle && integer_digits <= 8 && fraction_digits <= 8};
}

// Random texts over the characters of numbers: short numbers of every length, sign, point
// position and exponent, and texts that only look like them.
TEST(ShortNumber, GeneratedTextsMatchTheGeneralScanner) {
    std::uint64_t state = 12345;
    auto below = [&state](int n) {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<int>((state >> 33) % static_cast<std::uint64_t>(n));
    };
    for (int i = 0; i < 300'000; ++i) {
        std::string text;
        if (below(4) != 0) {
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
            if (below(3) == 0) {
                text += below(2) == 0 ? 'e' : 'E';
                const int exponent_sign = below(3);
                if (exponent_sign < 2) {
                    text += exponent_sign == 0 ? '-' : '+';
                }
                const int exponent_digits = below(5);
                for (int d = 0; d < exponent_digits; ++d) {
                    text += static_cast<char>('0' + below(d == 0 ? 4 : 10));
                }
            }
        } else {
            const char alphabet[] = "0123456789.-+eE x";
            const int length = below(19);
            for (int c = 0; c < length; ++c) {
                text += alphabet[below(static_cast<int>(sizeof alphabet) - 1)];
            }
        }
        text += " \t\n"[below(3)];
        expect_reads(text, expectation(text));
        if (HasFailure()) {
            break;
        }
    }
}

// Longer numbers read by from_chars in one pass: the general scanner's value and end, or no
// answer at all.
TEST(LongNumber, AnswersAsTheGeneralScannerOrNotAtAll) {
    const std::string answered[] = {"-0.035360412345678901",
                                    "12345678901234567890123",
                                    "1.7976931348623157e308",
                                    "4.9406564584124654e-324",
                                    "-.5",
                                    "5.",
                                    "0.1e-5",
                                    "1e5"};
    for (const std::string& text : answered) {
        const std::string t = padded(text);
        ShortNumber number{};
        const char* const end = morvel::read_long_number(t.data(), t.data() + t.size(), number);
        ASSERT_NE(end, nullptr) << text;
        EXPECT_EQ((Answer{static_cast<int>(end - t.data()),
                          std::bit_cast<std::uint64_t>(morvel::short_number_value(number))}),
                  general(text))
            << text;
    }
    // A plus sign, words, numbers not followed by whitespace, values out of range: the
    // general scanner decides.
    const std::string left[] = {"+1.5", "inf", "nan",   "-",      ".",      "1e",   "1e+",
                                "1.5x", "1,5", "1e400", "-1e400", "1e-400", "0x10", "e5"};
    for (const std::string& text : left) {
        const std::string t = padded(text);
        ShortNumber number{};
        EXPECT_EQ(morvel::read_long_number(t.data(), t.data() + t.size(), number), nullptr) << text;
    }
    // A number that reaches the end of the text could go on in the next block.
    for (const std::string cut : {"1.25", "-", ""}) {
        ShortNumber number{};
        EXPECT_EQ(morvel::read_long_number(cut.data(), cut.data() + cut.size(), number), nullptr)
            << cut;
    }
}

}  // namespace
