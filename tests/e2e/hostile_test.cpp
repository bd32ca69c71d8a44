// Hostile conditions, end to end: odd file names, inputs that are no data file, binary and
// malformed content, huge files, and a working folder or morvel.out that cannot be written.
// Every run must end within a time bound, without a signal, in bounded memory, with the
// expected exit status and messages, and must leave an earlier morvel.out alone unless the
// analysis ran.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <thread>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "expected_text.hpp"
#include "sandbox.hpp"

namespace morvel::e2e {
namespace {

namespace fs = std::filesystem;

constexpr int TIME_LIMIT_SECONDS = 5;
// The sample store (16 MB) is the bulk; nothing else may grow with the input.
constexpr long MEMORY_LIMIT_KIB = 24 * 1024;
#if defined(__SANITIZE_ADDRESS__)
constexpr bool MEMORY_MEASURED = false;  // the sanitizer's own bookkeeping would count
#else
constexpr bool MEMORY_MEASURED = true;
#endif
constexpr const char* EARLIER_OUTPUT = "results of an earlier run\n";

// Accelerations 2 0 2 0: mean 1, sum of squares 8, 8/4 - 1 = 1, deviation 1; de-meaned
// 1 -1 1 -1: minimum -1, maximum 1, highest sigma 1; the trough at index 1 and the crest at
// index 2 are peaks of 1 sigma (the last sample never is one), both in bin 3 (0.75, 1]:
// 2/2*4 = 4.
constexpr const char* TWO_PEAKS_DATA = "0 2\n1 0\n2 2\n3 0\n";
const Report TWO_PEAKS_REPORT{4, "-1", "1", "1", "1", 2, 0, 0};
const std::map<int, std::string> TWO_PEAKS_DENSITIES{{3, "4"}};

// No samples: mean and deviation 0/0, no peaks, every density 0/0.
const Report NO_SAMPLES_REPORT{0, "0", "0", "nan", "nan", 0, 0, 0};

// One record whose acceleration is missing or no number: one sample of 0.0, mean 0,
// variance 0 - 0 = 0, highest sigma 0/0; fewer than three samples hold no peak.
const Report ONE_ZERO_SAMPLE_REPORT{1, "0", "0", "0", "nan", 0, 0, 0};

// Writes `head`, `unit` repeated `count` times, then `tail`, through a small buffer: a large
// file without a large string in this process, whose size would count in the run's peak
// memory (the child starts as a copy of this process).
void write_large(const Sandbox& box, std::string_view name, std::string_view head,
                 std::string_view unit, long count, std::string_view tail) {
    std::ofstream file(box.path(name), std::ios::binary | std::ios::trunc);
    file << head;
    const long per_chunk = std::max(1L, 65536 / static_cast<long>(unit.size()));
    std::string chunk;
    for (long i = 0; i < per_chunk; ++i) {
        chunk += unit;
    }
    for (long done = 0; done < count; done += per_chunk) {
        const long units = std::min(per_chunk, count - done);
        file.write(chunk.data(),
                   static_cast<std::streamsize>(units) * static_cast<std::streamsize>(unit.size()));
    }
    file << tail;
    if (!file) {
        throw std::runtime_error("cannot write " + box.path(name).string());
    }
}

// Bytes from a fixed seed (the engine's output is the same on every platform).
std::string random_bytes(std::size_t count) {
    std::mt19937 engine(20030715);
    std::string bytes(count, '\0');
    for (char& b : bytes) {
        b = static_cast<char>(engine() & 0xFF);
    }
    return bytes;
}

std::string utf16le(std::string_view text) {
    std::string encoded;
    for (const char c : text) {
        encoded += c;
        encoded += '\0';
    }
    return encoded;
}

void make_fifo(const Sandbox& box, std::string_view name) {
    if (mkfifo(box.path(name).c_str(), 0600) != 0) {
        throw std::runtime_error("mkfifo: " + std::string(std::strerror(errno)));
    }
}

std::string name_of(std::size_t length, char letter) {
    return std::string(length, letter);
}

// 300 characters through two folders: longer than the 259 that a fixed name field would hold.
const std::string LONG_EXISTING_NAME =
    name_of(100, 'd') + "/" + name_of(100, 'e') + "/" + name_of(94, 'f') + ".txt";

const std::string NOT_UTF8_NAME = "data-\xff\xfe\xc3\x28\x80.txt";

enum class Outcome {
    not_opened,   // "Failed to open file", exit 1; morvel.out as it was
    not_created,  // the input opened, "Failed to create output file", exit 1; morvel.out
                  // and the input as they were
    analysed,     // the whole report, exit 0; morvel.out holds the densities
    read_failed,  // the whole report of what was read, exit 1; morvel.out holds the densities
};

struct HostileCase {
    const char* label;
    std::string name;  // typed on standard input, and shown in the messages
    std::function<void(const Sandbox&)> prepare;
    Outcome outcome;
    // What the one line on standard error must hold; for an analysis, "" means no line.
    std::string notice;
    Report report = {};
    std::map<int, std::string> densities = {};
    RunOptions options = {};
};

void PrintTo(const HostileCase& c, std::ostream* os) {
    *os << c.label;
}

class HostileTest : public testing::TestWithParam<HostileCase> {};

TEST_P(HostileTest, EndsInTimeWithTheRightMessagesAndOutput) {
    const HostileCase& c = GetParam();
    if (c.options.read_only_work && !read_only_folders_available()) {
        GTEST_SKIP() << "a folder cannot be mounted read-only here (no right to mount, "
                        "CAP_SYS_ADMIN); root would write through any permission bits";
    }
    Sandbox box;
    box.write("morvel.out", EARLIER_OUTPUT);
    if (c.prepare) {
        c.prepare(box);
    }
    const fs::file_type output_type_before = fs::symlink_status(box.path("morvel.out")).type();
    const std::optional<std::string> output_before = box.read("morvel.out");
    std::optional<std::string> input_before;
    if (c.outcome == Outcome::not_created) {
        input_before = box.read(c.name);
        ASSERT_TRUE(input_before.has_value());
    }

    RunOptions options = c.options;
    options.time_limit_seconds = TIME_LIMIT_SECONDS;
    const RunResult result = box.run(c.name + "\n", options);

    ASSERT_FALSE(result.timed_out) << "still running after " << TIME_LIMIT_SECONDS << " s";
    ASSERT_TRUE(result.exited) << "ended by signal " << result.signal;
    if (MEMORY_MEASURED) {
        EXPECT_LT(result.peak_memory_kib, MEMORY_LIMIT_KIB);
    }

    const bool analysed = c.outcome == Outcome::analysed || c.outcome == Outcome::read_failed;
    if (analysed) {
        EXPECT_EQ(result.exit_status, c.outcome == Outcome::read_failed ? 1 : 0);
        EXPECT_EQ(result.out, transcript(c.name, c.report));
        EXPECT_EQ(box.read("morvel.out"), density_file(c.report, c.densities));
    } else {
        EXPECT_EQ(result.exit_status, 1);
        EXPECT_EQ(result.out, c.outcome == Outcome::not_opened ? failed_to_open(c.name)
                                                               : failed_to_create(c.name));
        EXPECT_EQ(fs::symlink_status(box.path("morvel.out")).type(), output_type_before);
        EXPECT_EQ(box.read("morvel.out"), output_before);
        if (input_before) {
            EXPECT_EQ(box.read(c.name), input_before);
        }
    }

    if (analysed && c.notice.empty()) {
        EXPECT_EQ(result.err, "");
    } else {
        EXPECT_EQ(line_count(result.err), 1) << result.err;
        EXPECT_TRUE(result.err.starts_with("morvel: ")) << result.err;
        EXPECT_NE(result.err.find(c.notice), std::string::npos)
            << "\"" << c.notice << "\" not in: " << result.err;
    }
}

std::string why(int error) {
    return std::strerror(error);
}

// The file names: each is refused with the system's reason, or, where it names a file,
// analysed under its full name.
const HostileCase NAME_CASES[] = {
    {"name_of_300_characters", name_of(300, 'n'), nullptr, Outcome::not_opened, why(ENAMETOOLONG)},
    {"name_of_5000_characters", name_of(5000, 'n'), nullptr, Outcome::not_opened,
     why(ENAMETOOLONG)},
    {"existing_file_with_a_name_of_300_characters", LONG_EXISTING_NAME,
     [](const Sandbox& box) {
         fs::create_directories(box.path(LONG_EXISTING_NAME).parent_path());
         box.write(LONG_EXISTING_NAME, TWO_PEAKS_DATA);
     },
     Outcome::analysed, "", TWO_PEAKS_REPORT, TWO_PEAKS_DENSITIES},
    {"name_not_utf8_missing", NOT_UTF8_NAME, nullptr, Outcome::not_opened, why(ENOENT)},
    {"name_not_utf8_existing", NOT_UTF8_NAME,
     [](const Sandbox& box) { box.write(NOT_UTF8_NAME, TWO_PEAKS_DATA); }, Outcome::analysed, "",
     TWO_PEAKS_REPORT, TWO_PEAKS_DENSITIES},
    {"path_through_a_missing_folder", "missing/data.txt", nullptr, Outcome::not_opened,
     why(ENOENT)},
    {"path_through_a_file", "data.txt/more.txt",
     [](const Sandbox& box) { box.write("data.txt", TWO_PEAKS_DATA); }, Outcome::not_opened,
     why(ENOTDIR)},
    {"symbolic_link_loop", "loop",
     [](const Sandbox& box) { fs::create_symlink("loop", box.path("loop")); }, Outcome::not_opened,
     why(ELOOP)},
    {"standard_input_closed",
     "",
     nullptr,
     Outcome::not_opened,
     "",
     {},
     {},
     RunOptions{.stdin_closed = true}},
};

// Inputs that are not regular files.
const HostileCase DEVICE_CASES[] = {
    {"dev_null", "/dev/null", nullptr, Outcome::analysed, "", NO_SAMPLES_REPORT},
    // Endless input: the first NUL stops the reading.
    {"dev_zero", "/dev/zero", nullptr, Outcome::analysed, "", NO_SAMPLES_REPORT},
    // Detached from any terminal there is no controlling terminal to open.
    {"dev_tty_without_terminal", "/dev/tty", nullptr, Outcome::not_opened, why(ENXIO)},
    // Reading this file fails at once (there is nothing mapped at offset 0): the report covers
    // the records before, none, and the failure is reported.
    {"read_error", "/proc/self/mem", nullptr, Outcome::read_failed,
     "could not read /proc/self/mem to its end", NO_SAMPLES_REPORT},
    // Opening a FIFO for reading would wait for a writer; it is opened without waiting, and
    // with no writer there the reading finds the end at once: an empty input.
    {"fifo_without_writer", "pipe", [](const Sandbox& box) { make_fifo(box, "pipe"); },
     Outcome::analysed, "", NO_SAMPLES_REPORT},
};

// What is in the file.
const HostileCase CONTENT_CASES[] = {
    // Records (0,2) (1,0) (2,2), then "3" and a byte that is neither whitespace nor the start of
    // a number: the record counts with 0.0, and the next record stops at that byte. Whatever
    // follows (2 MiB from a fixed seed, beyond the first read block) is never looked at.
    {"random_binary", "data.bin",
     [](const Sandbox& box) {
         box.write("data.bin", "0 2\n1 0\n2 2\n3 \x80" + random_bytes(std::size_t{2} << 20));
     },
     Outcome::analysed, "", TWO_PEAKS_REPORT, TWO_PEAKS_DENSITIES},
    {"nul_bytes", "zeros.bin",
     [](const Sandbox& box) {
         write_large(box, "zeros.bin", "", std::string(1, '\0'), 3 << 20, "");
     },
     Outcome::analysed, "", NO_SAMPLES_REPORT},
    // A byte order mark, which is no number: nothing is read.
    {"utf16_with_byte_order_mark", "utf16.txt",
     [](const Sandbox& box) { box.write("utf16.txt", "\xff\xfe" + utf16le(TWO_PEAKS_DATA)); },
     Outcome::analysed, "", NO_SAMPLES_REPORT},
    // "0" then a NUL: the time is read, the NUL is no number (0.0), and where the next time
    // should be, the NUL stops the reading.
    {"utf16_without_byte_order_mark", "utf16.txt",
     [](const Sandbox& box) { box.write("utf16.txt", utf16le(TWO_PEAKS_DATA)); }, Outcome::analysed,
     "", ONE_ZERO_SAMPLE_REPORT},
    // 20,000,000 digits and nothing else: one number, read as the time of a record with no
    // acceleration.
    {"one_token_of_20_megabytes", "token.txt",
     [](const Sandbox& box) { write_large(box, "token.txt", "", "1234567890", 2'000'000, ""); },
     Outcome::analysed, "", ONE_ZERO_SAMPLE_REPORT},
    // The first acceleration is 2 followed by 4,999,999 zeros, times 10^-4999999: 2, over five
    // read blocks. Any digit miscounted would change it by a power of ten.
    {"number_of_5000000_digits", "digits.txt",
     [](const Sandbox& box) {
         write_large(box, "digits.txt", "0 2", "0", 4'999'999, "e-4999999\n1 0\n2 2\n3 0\n");
     },
     Outcome::analysed, "", TWO_PEAKS_REPORT, TWO_PEAKS_DENSITIES},
    // 1e(1000 nines) overflows to inf: samples 0 inf 0, mean inf, variance inf - inf = nan;
    // de-meaned -inf nan -inf: minimum -inf, maximum stays 0, highest inf/nan = nan, and no
    // comparison with nan holds, so no peak.
    {"exponent_of_1000_digits_overflowing", "exp.txt",
     [](const Sandbox& box) {
         box.write("exp.txt", "0 0\n1 1e" + std::string(1000, '9') + "\n2 0\n");
     },
     Outcome::analysed, "", Report{3, "-inf", "0", "nan", "nan", 0, 0, 0}},
    // 2e-(1000 nines) underflows to 0: samples 2 0 0 0, mean 0.5, variance 4/4 - 0.25 = 0.75,
    // deviation 0.8660; de-meaned 1.5 -0.5 -0.5 -0.5, highest 1.5/0.866 = 1.732; the troughs at
    // indices 1 and 2 (not strict against neighbours) are 0.5/0.866 = 0.5774 sigma, bin 2
    // (0.5, 0.75]: 2/2*4 = 4.
    {"exponent_of_1000_digits_underflowing",
     "exp.txt",
     [](const Sandbox& box) {
         box.write("exp.txt", "0 2\n1 0\n2 2e-" + std::string(1000, '9') + "\n3 0\n");
     },
     Outcome::analysed,
     "",
     Report{4, "-0.5", "1.5", "0.866", "1.732", 2, 0, 0},
     {{2, "4"}}},
    // 0.2e+000...01, an exponent of 1000 digits worth 1: the acceleration 2.
    {"exponent_of_1000_digits_with_leading_zeros", "exp.txt",
     [](const Sandbox& box) {
         box.write("exp.txt", "0 0.2e+" + std::string(999, '0') + "1\n1 0\n2 2\n3 0\n");
     },
     Outcome::analysed, "", TWO_PEAKS_REPORT, TWO_PEAKS_DENSITIES},
    // A copy cut off inside a number, at the end of the file:
    // "1.5e+" is no number, so the last record counts with 0.0: 2 0 2 0.
    {"truncated_in_an_exponent", "cut.txt",
     [](const Sandbox& box) { box.write("cut.txt", "0 2\n1 0\n2 2\n3 1.5e+"); }, Outcome::analysed,
     "", TWO_PEAKS_REPORT, TWO_PEAKS_DENSITIES},
    // "25.5" cut to "2": accelerations 0 2 0 2, mean 1, deviation 1, de-meaned -1 1 -1 1: the
    // crest at index 1 and the trough at index 2, 1 sigma each.
    {"truncated_in_a_mantissa", "cut.txt",
     [](const Sandbox& box) { box.write("cut.txt", "0 0\n1 2\n2 0\n3 2"); }, Outcome::analysed, "",
     TWO_PEAKS_REPORT, TWO_PEAKS_DENSITIES},
    // The time "4." at the very end still makes a record, with 0.0: accelerations 2 0 2 0 0,
    // mean 0.8, variance 8/5 - 0.64 = 0.96, deviation 0.9798; de-meaned 1.2 -0.8 1.2 -0.8 -0.8,
    // highest 1.2/0.9798 = 1.225. Peaks: troughs of 0.8 at indices 1 and 3 (0.8165 sigma, bin
    // 3: 2/3*4 = 2.667), the crest of 1.2 at index 2 (1.225 sigma, bin 4: 1/3*4 = 1.333).
    {"truncated_in_a_time",
     "cut.txt",
     [](const Sandbox& box) { box.write("cut.txt", "0 2\n1 0\n2 2\n3 0\n4."); },
     Outcome::analysed,
     "",
     Report{5, "-0.8", "1.2", "0.9798", "1.225", 3, 0, 0},
     {{3, "2.667"}, {4, "1.333"}}},
    // 10,000,000 records: only the first 2,000,000 are read. Zero but for 2 and -2 at indices 1
    // and 3: mean 0, deviation sqrt(8/2e6) = 0.002, both peaks at 1000 sigma (above 3 and 4,
    // in no written bin). A notice tells that records were left out.
    {"ten_million_records", "long.txt",
     [](const Sandbox& box) {
         write_large(box, "long.txt", "0 0\n1 2\n2 0\n3 -2\n", "0 0\n", 10'000'000 - 4, "");
     },
     Outcome::analysed, "2000000", Report{2'000'000, "-2", "2", "0.002", "1000", 2, 2, 2}},
};

// Where the output goes.
const HostileCase OUTPUT_CASES[] = {
    {"read_only_working_folder",
     "data.txt",
     [](const Sandbox& box) { box.write("data.txt", TWO_PEAKS_DATA); },
     Outcome::not_created,
     "morvel.out",
     {},
     {},
     RunOptions{.read_only_work = true}},
    {"read_only_working_folder_without_earlier_output",
     "data.txt",
     [](const Sandbox& box) {
         fs::remove(box.path("morvel.out"));
         box.write("data.txt", TWO_PEAKS_DATA);
     },
     Outcome::not_created,
     "morvel.out",
     {},
     {},
     RunOptions{.read_only_work = true}},
    // Opening a FIFO for writing would wait for a reader that never comes.
    {"output_is_a_fifo_without_reader", "data.txt",
     [](const Sandbox& box) {
         box.write("data.txt", TWO_PEAKS_DATA);
         fs::remove(box.path("morvel.out"));
         make_fifo(box, "morvel.out");
     },
     Outcome::not_created, "morvel.out"},
};

std::string case_name(const testing::TestParamInfo<HostileCase>& case_info) {
    return case_info.param.label;
}

INSTANTIATE_TEST_SUITE_P(Names, HostileTest, testing::ValuesIn(NAME_CASES), case_name);
INSTANTIATE_TEST_SUITE_P(Devices, HostileTest, testing::ValuesIn(DEVICE_CASES), case_name);
INSTANTIATE_TEST_SUITE_P(Content, HostileTest, testing::ValuesIn(CONTENT_CASES), case_name);
INSTANTIATE_TEST_SUITE_P(Output, HostileTest, testing::ValuesIn(OUTPUT_CASES), case_name);

// A FIFO whose writer pauses inside a number: the input is read blocking once open, so the
// reading waits for the rest instead of failing or ending early.
TEST(HostileFifoTest, SlowWriterIsWaitedFor) {
    Sandbox box;
    box.write("morvel.out", EARLIER_OUTPUT);
    make_fifo(box, "pipe");
    // Opening read-write does not wait; this end is the writer the program will find.
    const int writer = ::open(box.path("pipe").c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(writer, 0) << std::strerror(errno);
    const std::string first = "0 2.";
    const std::string rest = "0\n1 0\n2 2\n3 0\n";
    ASSERT_EQ(::write(writer, first.data(), first.size()), static_cast<ssize_t>(first.size()));
    ssize_t written_late = -1;
    std::thread late([&] {
        // Once the program has taken the first part, it waits inside the number; the last
        // writer must not close before then, or the pipe's contents would be dropped.
        const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(8);
        int waiting = 1;
        while (ioctl(writer, FIONREAD, &waiting) == 0 && waiting > 0 &&
               std::chrono::steady_clock::now() < give_up) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        written_late = ::write(writer, rest.data(), rest.size());
        ::close(writer);  // the last writer: the program then reads the end
    });
    RunOptions options;
    options.time_limit_seconds = TIME_LIMIT_SECONDS;
    const RunResult result = box.run("pipe\n", options);
    late.join();
    ASSERT_EQ(written_late, static_cast<ssize_t>(rest.size()));
    ASSERT_FALSE(result.timed_out);
    ASSERT_TRUE(result.exited) << "ended by signal " << result.signal;
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(result.out, transcript("pipe", TWO_PEAKS_REPORT));
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(box.read("morvel.out"), density_file(TWO_PEAKS_REPORT, TWO_PEAKS_DENSITIES));
}

}  // namespace
}  // namespace morvel::e2e
