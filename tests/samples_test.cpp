#include "samples.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

using morvel::SampleReader;
using morvel::SampleStore;
using morvel::SignalStats;

struct Read {
    std::unique_ptr<SampleStore> store = std::make_unique<SampleStore>();
    SignalStats stats;
    bool left_out = false;

    std::vector<double> values() const {
        const auto v = store->view();
        return {v.begin(), v.end()};
    }
};

// Feeds `text` to a reader in blocks of at most `block` bytes, then ends the input.
Read read_in_blocks(const std::string& text, std::size_t block,
                    SampleReader::ReadPath path = SampleReader::ReadPath::best) {
    Read r;
    SampleReader reader(*r.store, r.stats, path);
    for (std::size_t at = 0; at < text.size() && reader.wants_more(); at += block) {
        reader.feed({text.data() + at, std::min(block, text.size() - at)});
    }
    reader.finish();
    r.left_out = reader.records_left_out();
    return r;
}

Read read_whole(const std::string& text) {
    return read_in_blocks(text, text.size() + 1);
}

std::vector<std::uint64_t> bits(const std::vector<double>& values) {
    std::vector<std::uint64_t> out;
    for (const double v : values) {
        out.push_back(std::bit_cast<std::uint64_t>(v));
    }
    return out;
}

struct RecordCase {
    std::string text;
    std::vector<double> accelerations;
};

class Records : public testing::TestWithParam<RecordCase> {};

TEST_P(Records, AreReadAsTimeAccelerationPairs) {
    const RecordCase& c = GetParam();
    const Read r = read_whole(c.text);
    EXPECT_EQ(bits(r.values()), bits(c.accelerations));
    double sum = 0.0;
    double squares = 0.0;
    for (const double a : c.accelerations) {
        sum += a;
        squares += a * a;
    }
    EXPECT_EQ(std::bit_cast<std::uint64_t>(r.stats.sum), std::bit_cast<std::uint64_t>(sum));
    EXPECT_EQ(std::bit_cast<std::uint64_t>(r.stats.sum_of_squares),
              std::bit_cast<std::uint64_t>(squares));
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, Records,
    testing::Values(RecordCase{"0 1\n0.1 -2\n0.2 3\n", {1, -2, 3}}, RecordCase{"", {}},
                    RecordCase{" \n\t\r\n", {}},
                    RecordCase{"time accel\n0 1\n", {}},  // a header line ends the reading
                    RecordCase{"\xEF\xBB\xBF"
                               "0 1\n",
                               {}},                             // so does a byte order mark
                    RecordCase{"0 1\n1 2e\n3 4\n", {1, 0, 4}},  // a failed acceleration counts as 0
                    RecordCase{"0 1\n2", {1, 0}},               // a lone last time counts too
                    RecordCase{"0.0,1.0\n0.1,2.0\n", {0}},      // the comma stops the first record
                    RecordCase{"0\n1\n\n2\n3\n", {1, 3}},       // one number per line
                    RecordCase{"1 2 3\n4 5 6\n", {2, 4, 6}},    // a third column shifts the pairs
                    RecordCase{"1 -x 3 4", {0}},                // "-" is consumed, then "x" stops
                    RecordCase{"1 2 inf 3", {2}},               // words are not numbers
                    RecordCase{std::string("1 2\0 3 4", 8), {2}},  // a NUL byte is not whitespace
                    RecordCase{"0 1e400 1 -1e400", {INFINITY, -INFINITY}},
                    RecordCase{"1\v2\f3\r"
                               "4",
                               {2, 4}}));

// Every split of the input into two blocks, and one-byte blocks, give the records of the
// whole: numbers cut anywhere (sign, point, exponent) are put together again.
TEST(SampleReader, SplitAnywhereGivesTheSameRecords) {
    const std::string texts[] = {
        "0 1\n0.1 -2.5e-3\n0.2 +.75\n0.3 1E+2 0.4 -0.\n",
        "0 1\n1 2e\n3 4\n5 -\n",
        "1.5 2e+x 7 8",
        "12345678901234567890.123456789e-10 -.000000000000000000000001e+25\n9 1",
        "0.5 1e-400 0.5 2.4703282292062328e-324 1 1.7976931348623159e308",
    };
    for (const std::string& text : texts) {
        const Read whole = read_whole(text);
        for (std::size_t cut = 1; cut < text.size(); ++cut) {
            Read split;
            SampleReader reader(*split.store, split.stats);
            reader.feed({text.data(), cut});
            if (reader.wants_more()) {
                reader.feed({text.data() + cut, text.size() - cut});
            }
            reader.finish();
            EXPECT_EQ(bits(split.values()), bits(whole.values())) << text << " cut at " << cut;
            EXPECT_EQ(split.stats.sum, whole.stats.sum);
        }
        EXPECT_EQ(bits(read_in_blocks(text, 1).values()), bits(whole.values())) << text;
    }
}

// Text that sends the record loop down every branch: plain numbers of every length, forms
// that only the general scanner reads (exponents, long digit runs), numbers
// glued together without whitespace, and whitespace runs longer than the loop looks ahead.
std::string varied_records(std::size_t count, std::uint64_t seed) {
    auto below = [&seed](std::uint64_t n) {
        seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
        return (seed >> 33) % n;
    };
    // A sign is always put before a number glued onto the one before it, where a digit or
    // point would continue that number.
    auto number = [&below](bool glued) {
        std::string text;
        if (glued || below(3) == 0) {
            text += below(4) == 0 ? '+' : '-';
        }
        const std::uint64_t digits = 1 + below(below(8) == 0 ? 24 : 10);
        const std::uint64_t point = below(digits + 2);
        for (std::uint64_t d = 0; d < digits; ++d) {
            if (d == point) {
                text += '.';
            }
            text += static_cast<char>('0' + below(10));
        }
        if (below(10) == 0) {
            text += "e-" + std::to_string(below(30));
        }
        return text;
    };
    const char* const spaces[] = {" ", "\n", "\t", "\r\n", "  ", "\v\f"};
    std::string text;
    for (std::size_t i = 0; i < count; ++i) {
        text += number(false);
        text += below(40) == 0 ? std::string(1 + below(150), ' ') : spaces[below(6)];
        text += number(false);
        if (below(60) == 0) {
            text += number(true);  // "1.5-2" is two numbers
        }
        text += spaces[below(6)];
    }
    return text;
}

// The record loops (for any processor and for this one) against reading one character at a
// time, which never enters them.
TEST(SampleReader, RecordLoopsAgreeWithReadingCharacterByCharacter) {
    const std::string text = varied_records(60'000, 7) + "\nend\n";
    const Read reference = read_in_blocks(text, 1);
    ASSERT_GT(reference.store->count, 30'000);
    for (const auto path : {SampleReader::ReadPath::best, SampleReader::ReadPath::portable}) {
        for (const std::size_t block :
             {text.size() + 1, std::size_t{4096}, std::size_t{1000}, std::size_t{97}}) {
            const Read r = read_in_blocks(text, block, path);
            ASSERT_EQ(r.store->count, reference.store->count) << "block " << block;
            EXPECT_EQ(bits(r.values()), bits(reference.values())) << "block " << block;
            EXPECT_EQ(bits({r.stats.sum, r.stats.sum_of_squares}),
                      bits({reference.stats.sum, reference.stats.sum_of_squares}));
        }
    }
}

TEST(SampleReader, NumberLongerThanABlockIsReadInBoundedForm) {
    const std::string digits(3'000'000, '7');
    const std::string text = "0 0." + digits + "e1 1 " + digits + "e-2999999\n";
    const Read r = read_in_blocks(text, 4096);
    ASSERT_EQ(r.store->count, 2);
    EXPECT_EQ(r.values()[0], 7.7777777777777777);
    EXPECT_EQ(r.values()[1], 7.7777777777777777);
}

TEST(SampleReader, StopsAtCapacityAndTellsWhetherRecordsWereLeftOut) {
    std::string text;
    for (std::int32_t i = 0; i < morvel::MAX_SAMPLES; ++i) {
        text += "0 1\n";
    }
    const Read exact = read_whole(text);
    EXPECT_EQ(exact.store->count, morvel::MAX_SAMPLES);
    EXPECT_FALSE(exact.left_out);
    EXPECT_EQ(exact.stats.sum, static_cast<double>(morvel::MAX_SAMPLES));

    const Read trailing_text = read_whole(text + "end of data\n");
    EXPECT_FALSE(trailing_text.left_out);

    const Read one_more = read_in_blocks(text + "9 1000\n", 1 << 20);
    EXPECT_EQ(one_more.store->count, morvel::MAX_SAMPLES);
    EXPECT_TRUE(one_more.left_out);
    EXPECT_EQ(one_more.stats.sum, exact.stats.sum);  // the extra record changes nothing
    EXPECT_EQ(one_more.stats.sum_of_squares, exact.stats.sum_of_squares);
}

// Statistics of samples given as read (the running sums are formed as the reader does).
SignalStats statistics_of(const std::vector<double>& samples, SampleStore& store) {
    SignalStats stats;
    for (const double a : samples) {
        store.values[static_cast<std::size_t>(store.count++)] = a;
        stats.sum += a;
        stats.sum_of_squares += a * a;
    }
    morvel::compute_statistics(store, stats);
    return stats;
}

TEST(Statistics, MeanAndPopulationDeviationFromTheSums) {
    auto store = std::make_unique<SampleStore>();
    const SignalStats s = statistics_of({0, 4, 4, 4}, *store);
    EXPECT_EQ(s.mean, 3.0);
    EXPECT_EQ(s.standard_deviation, std::sqrt(3.0));  // 48 / 4 - 3^2
    EXPECT_EQ(s.minimum, -3.0);
    EXPECT_EQ(s.maximum, 1.0);
    EXPECT_EQ(s.highest_sigma, 3.0 / std::sqrt(3.0));  // the minimum is the larger excursion
    EXPECT_EQ((std::vector<double>{store->view().begin(), store->view().end()}),
              (std::vector<double>{-3, 1, 1, 1}));
}

TEST(Statistics, EqualExcursionsTakeTheMaximum) {
    auto store = std::make_unique<SampleStore>();
    const SignalStats s = statistics_of({1, 2, 3, 4}, *store);
    EXPECT_EQ(s.standard_deviation, std::sqrt(1.25));
    EXPECT_EQ(s.minimum, -1.5);
    EXPECT_EQ(s.maximum, 1.5);
    EXPECT_EQ(s.highest_sigma, 1.5 / std::sqrt(1.25));
}

TEST(Statistics, ExtremesStartAtZero) {
    auto store = std::make_unique<SampleStore>();
    const SignalStats s = statistics_of({5, 5, 5, 5}, *store);
    EXPECT_EQ(s.standard_deviation, 0.0);
    EXPECT_EQ(s.minimum, 0.0);
    EXPECT_EQ(s.maximum, 0.0);
    EXPECT_TRUE(std::isnan(s.highest_sigma));  // 0 / 0
}

TEST(Statistics, NoSamplesGiveNotANumber) {
    auto store = std::make_unique<SampleStore>();
    const SignalStats s = statistics_of({}, *store);
    EXPECT_TRUE(std::isnan(s.mean));
    EXPECT_TRUE(std::isnan(s.standard_deviation));
    EXPECT_TRUE(std::isnan(s.highest_sigma));
    EXPECT_EQ(s.minimum, 0.0);
    EXPECT_EQ(s.maximum, 0.0);
}

// For a constant signal the variance from the two sums is off by rounding; the figures
// below were worked out separately in IEEE double arithmetic.
TEST(Statistics, ConstantSignalVarianceDependsOnRounding) {
    auto three = std::make_unique<SampleStore>();
    const SignalStats negative = statistics_of({0.1, 0.1, 0.1}, *three);
    EXPECT_EQ(negative.mean, 0.10000000000000002);
    EXPECT_TRUE(std::isnan(negative.standard_deviation));  // variance -1.7347e-18
    EXPECT_EQ(negative.minimum, -1.3877787807814457e-17);
    EXPECT_EQ(negative.maximum, 0.0);
    EXPECT_TRUE(std::isnan(negative.highest_sigma));

    auto seven = std::make_unique<SampleStore>();
    const SignalStats positive = statistics_of(std::vector<double>(7, 0.1), *seven);
    EXPECT_EQ(positive.standard_deviation, 1.3170890159654386e-09);
    EXPECT_EQ(positive.maximum, 1.3877787807814457e-17);
    EXPECT_EQ(positive.highest_sigma, 1.3877787807814457e-17 / 1.3170890159654386e-09);
}

// Text of many records in mixed forms, with failed accelerations, long digit runs and values
// out of range (none that shifts the pairing, so reading goes through to the end).
std::string mixed_records(std::size_t count, unsigned seed) {
    std::uint64_t state = seed;
    auto next = [&state] {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        return state >> 33;
    };
    const char* const odd[] = {
        "1e+",   "2e", "-.", "12345678901234567890123", "0.000000000000000000000001234", "9e-400",
        "7e400", "-0", "+.5"};
    std::string text;
    for (std::size_t i = 0; i < count; ++i) {
        text += std::to_string(i) + (next() % 2 ? "\n" : " ");
        if (next() % 50 == 0) {
            text += odd[next() % std::size(odd)];
        } else {
            if (next() % 2 == 0) {
                text += '-';
            }
            text += std::to_string(next() % 1000);
            text += '.';
            text += std::to_string(next() % 1000000);
        }
        text += next() % 3 ? "\n" : "\t ";
    }
    return text;
}

// Reads `text` from a file through read_samples, as the program does.
struct FileRead {
    std::unique_ptr<morvel::AnalysisRun> run = std::make_unique<morvel::AnalysisRun>();
    morvel::ReadReport report;
};

FileRead read_file(const std::string& text) {
    FileRead r;
    char path[] = "/tmp/morvel_samples_XXXXXX";
    const int fd = mkstemp(path);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(morvel::write_all(fd, text), 0);
    ::lseek(fd, 0, SEEK_SET);
    ::unlink(path);
    r.run->input = morvel::FileHandle(fd);
    r.report = morvel::read_samples(*r.run);
    return r;
}

void expect_same_records(const FileRead& file, const Read& whole) {
    EXPECT_EQ(file.report.error, 0);
    const auto values = file.run->samples.view();
    EXPECT_EQ(bits({values.begin(), values.end()}), bits(whole.values()));
    EXPECT_EQ(std::bit_cast<std::uint64_t>(file.run->stats.sum),
              std::bit_cast<std::uint64_t>(whole.stats.sum));
    EXPECT_EQ(std::bit_cast<std::uint64_t>(file.run->stats.sum_of_squares),
              std::bit_cast<std::uint64_t>(whole.stats.sum_of_squares));
}

TEST(ReadSamples, FileReadInBlocksGivesTheRecordsOfTheWholeText) {
    const std::string text = mixed_records(400'000, 11);  // several read blocks
    const Read whole = read_whole(text);
    ASSERT_GT(whole.store->count, 100'000);
    expect_same_records(read_file(text), whole);
}

TEST(ReadSamples, ShortRecordsUpToTheCapacityAndOneMore) {
    std::string text;
    for (std::int32_t i = 0; i < morvel::MAX_SAMPLES; ++i) {
        text += i % 3 == 0 ? "0 1\n" : "1 2\n";
    }
    text += "9 1000\n";
    const Read whole = read_whole(text);
    const FileRead file = read_file(text);
    expect_same_records(file, whole);
    EXPECT_EQ(file.run->samples.count, morvel::MAX_SAMPLES);
    EXPECT_TRUE(file.report.records_left_out);
}

}  // namespace
