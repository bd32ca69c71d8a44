// End-to-end runs of the morvel binary: a data file and a file name on standard input go in;
// the console transcript, standard error, the exit status and morvel.out come out, and are
// compared byte for byte with texts derived by hand.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "expected_text.hpp"
#include "sandbox.hpp"

namespace morvel::e2e {
namespace {

namespace fs = std::filesystem;

// Sixteen records whose figures are exact in binary. The accelerations are
//   1.5 4.5 1.5 -0.5 1.5 2.5 1.5 0.5 1.5 0.5 1.5 1.5 1.5 1.5 1.5 1.5
// sum 24, mean 1.5; sum of squares 52, 52/16 - 1.5^2 = 1, so the standard deviation is 1.
// De-meaned: 0 3 0 -2 0 1 0 -1 0 -1 0 0 0 0 0 0: minimum -2, maximum 3, highest sigma 3.
// Peaks (interior crests > 0, troughs < 0): 3, 2, 1, 1, 1, so m = 5; none is above 3 (the
// peak of exactly 3 sigma does not count). Bins (upper edge included): 1 falls into
// (0.75, 1] (bin 3) three times, 3/5*4 = 2.4; 2 into (1.75, 2] (bin 7), 1/5*4 = 0.8; 3 into
// (2.75, 3] (bin 11), 0.8.
const std::string NORMAL_DATA =
    "0.00 1.5\n0.01 4.5\n0.02 1.5\n0.03 -0.5\n0.04 1.5\n0.05 2.5\n0.06 1.5\n0.07 0.5\n"
    "0.08 1.5\n0.09 0.5\n0.10 1.5\n0.11 1.5\n0.12 1.5\n0.13 1.5\n0.14 1.5\n0.15 1.5\n";
const Report NORMAL_REPORT{16, "-2", "3", "1", "3", 5, 0, 0};
const std::map<int, std::string> NORMAL_DENSITIES{{3, "2.4"}, {7, "0.8"}, {11, "0.8"}};

// Accelerations 2 0 2 0: mean 1, sum of squares 8, 8/4 - 1 = 1, deviation 1; de-meaned
// 1 -1 1 -1 gives the trough at index 1 and the crest at index 2 (the last sample is never
// a peak), both of 1 sigma: bin 3 with 2/2*4 = 4. Several fixtures reduce to this signal.
const Report TWO_PEAKS_REPORT{4, "-1", "1", "1", "1", 2, 0, 0};
const std::map<int, std::string> TWO_PEAKS_DENSITIES{{3, "4"}};

// Every statistic of no samples at all: mean and deviation 0/0, no peaks, nan densities.
const Report NO_SAMPLES_REPORT{0, "0", "0", "nan", "nan", 0, 0, 0};

std::string spikes_data() {
    // 362 samples, zero but for 14 -4 -4 -6 7 -7 at the odd indices 1..11: sum 0, sum of
    // squares 196+16+16+36+49+49 = 362, so mean 0 and deviation 1, and each peak is its own
    // height in sigma. Above 3: all six; above 4: 14, 6, 7, 7 (4 itself does not count).
    // Bins: the two 4s in (3.75, 4] (bin 15): 2/6*4 = 1.333; 6 in (5.75, 6] (bin 23):
    // 1/6*4 = 0.6667; 7 lies in a bin past 6.5 that is not written, 14 above 13.5 in none.
    const std::map<int, const char*> spikes{{1, "14"}, {3, "-4"}, {5, "-4"},
                                            {7, "-6"}, {9, "7"},  {11, "-7"}};
    std::string data;
    for (int i = 0; i < 362; ++i) {
        const auto found = spikes.find(i);
        data += std::to_string(i) + " " + (found != spikes.end() ? found->second : "0") + "\n";
    }
    return data;
}

struct AnalysisCase {
    const char* label;
    std::string data;
    Report report;
    std::map<int, std::string> densities;
};

void PrintTo(const AnalysisCase& c, std::ostream* os) {
    *os << c.label;
}

class AnalysisTest : public testing::TestWithParam<AnalysisCase> {};

TEST_P(AnalysisTest, TranscriptAndDensityFileMatch) {
    const AnalysisCase& c = GetParam();
    Sandbox box;
    box.write("data.txt", c.data);
    const RunResult result = box.run("data.txt\n");
    ASSERT_FALSE(result.timed_out);
    EXPECT_TRUE(result.exited);
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(result.out, transcript("data.txt", c.report));
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(box.read("morvel.out"), density_file(c.report, c.densities));
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, AnalysisTest,
    testing::Values(
        AnalysisCase{"normal", NORMAL_DATA, NORMAL_REPORT, NORMAL_DENSITIES},
        // The same records in every number form, with CR LF, tabs, vertical tabs, form feeds,
        // two pairs on one line and one number per line: only the order of numbers counts.
        AnalysisCase{"number_forms_and_layout",
                     "0 1.5\r\n1e-2\t45e-1\r\n.02 +1.50 3.E-2 -.5\n+0.04\n1.5E0\n"
                     "0.05\v2.5e+0\f0.06 001.50\n7e-2 .5\n0.08    150E-2\n0.09 0.5000\n"
                     "0.10 1.5\n 0.11 1.5\n0.12 1.5\n0.13 1.5\n0.14 1.5\n0.15 1.5\n\n\n",
                     NORMAL_REPORT, NORMAL_DENSITIES},
        AnalysisCase{"empty_file", "", NO_SAMPLES_REPORT, {}},
        AnalysisCase{"blank_file", " \n\t\r\n\n", NO_SAMPLES_REPORT, {}},
        AnalysisCase{"header_word", "time accel\n0 1\n1 2\n", NO_SAMPLES_REPORT, {}},
        // Accelerations 0 2 2 and the lone time's 0.0: mean 1, squares 8/4 - 1 = 1;
        // de-meaned -1 1 1 -1 holds a flat crest of two samples at 1 sigma, each a peak.
        AnalysisCase{"lone_trailing_time", "0 0\n1 2\n2 2\n3\n", TWO_PEAKS_REPORT,
                     TWO_PEAKS_DENSITIES},
        // The first time is read, the comma stops the acceleration (0.0), and the next
        // record finds no number: one sample of 0, deviation 0, highest sigma 0/0.
        AnalysisCase{"comma_separated", "0,1\n1,2\n2,3\n", {1, "0", "0", "0", "nan", 0, 0, 0}, {}},
        // "2e" is consumed and is no number: that record counts with 0.0, reading goes on.
        AnalysisCase{"partial_number", "0 2\n1 2e\n2 2\n3 0\n", TWO_PEAKS_REPORT,
                     TWO_PEAKS_DENSITIES},
        // Records (0,1) (1, 0.0) (3,4): mean 5/3, variance 17/3 - 25/9 = 26/9, deviation
        // sqrt(26)/3 = 1.6997; de-meaned -2/3 -5/3 7/3; highest 7/sqrt(26) = 1.3728; one
        // trough of 5/3, that is 5/sqrt(26) = 0.9806 sigma, in bin 3: 1/1*4 = 4.
        AnalysisCase{"partial_number_of_three_records",
                     "0 1\n1 2e\n3 4\n",
                     {3, "-1.667", "2.333", "1.7", "1.373", 1, 0, 0},
                     {{3, "4"}}},
        // A third number on a line shifts the pairing: (5,2) (6,0) (7,2) (8,0).
        AnalysisCase{"three_numbers_on_a_line", "5 2 6\n0 7 2\n8 0\n", TWO_PEAKS_REPORT,
                     TWO_PEAKS_DENSITIES},
        // Constant 2: sum of squares 12/3 - 4 = 0 exactly; nothing is left after de-meaning.
        AnalysisCase{"constant_signal", "0 2\n1 2\n2 2\n", {3, "0", "0", "0", "nan", 0, 0, 0}, {}},
        AnalysisCase{"spikes_above_the_written_bins",
                     spikes_data(),
                     Report{362, "-7", "14", "1", "14", 6, 6, 4},
                     {{15, "1.333"}, {23, "0.6667"}}},
        // 1e309 overflows to inf: mean inf, variance inf - inf = nan; de-meaned nan -inf -inf,
        // so minimum -inf, maximum stays 0; no comparison with nan holds: no peaks.
        AnalysisCase{"overflow_to_infinity",
                     "0 1e309\n1 0\n2 0\n",
                     {3, "-inf", "0", "nan", "nan", 0, 0, 0},
                     {}},
        // 3e-324 rounds to the least subnormal s = 4.941e-324; s/3 rounds to 0 and s*s to 0,
        // so mean 0 and deviation 0; the crest s becomes s/0 = inf sigma: above 3 and 4, in
        // no bin (densities 0/1*4 = 0).
        AnalysisCase{"underflow_to_subnormal",
                     "0 0\n1 3e-324\n2 0\n",
                     {3, "0", "4.941e-324", "0", "inf", 1, 1, 1},
                     {}},
        // 2e-324 is below half the least subnormal: it reads as 0, a constant signal.
        AnalysisCase{
            "underflow_to_zero", "0 0\n1 2e-324\n2 0\n", {3, "0", "0", "0", "nan", 0, 0, 0}, {}}),
    [](const testing::TestParamInfo<AnalysisCase>& case_info) {
        return std::string(case_info.param.label);
    });

// --- The file name on standard input ---

struct NameCase {
    const char* label;
    std::string stdin_text;
    std::string name;  // as the program shows it
};

void PrintTo(const NameCase& c, std::ostream* os) {
    *os << c.label;
}

class FileNameTest : public testing::TestWithParam<NameCase> {};

TEST_P(FileNameTest, NamedFileIsAnalysed) {
    const NameCase& c = GetParam();
    Sandbox box;
    fs::create_directory(box.path("sub"));
    box.write(c.name, NORMAL_DATA);
    const RunResult result = box.run(c.stdin_text);
    ASSERT_FALSE(result.timed_out);
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(result.out, transcript(c.name, NORMAL_REPORT));
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(box.read("morvel.out"), density_file(NORMAL_REPORT, NORMAL_DENSITIES));
}

INSTANTIATE_TEST_SUITE_P(
    Names, FileNameTest,
    testing::Values(NameCase{"plain", "data.txt\n", "data.txt"},
                    NameCase{"after_empty_lines", "\n\n\n  data.txt\n", "data.txt"},
                    NameCase{"followed_by_a_second_word", "\t data.txt extra words\n", "data.txt"},
                    NameCase{"without_line_end", "data.txt", "data.txt"},
                    NameCase{"in_a_subfolder", "sub/data.txt\n", "sub/data.txt"}),
    [](const testing::TestParamInfo<NameCase>& case_info) {
        return std::string(case_info.param.label);
    });

// --- An input that cannot be opened: exit 1, and morvel.out is left as it was ---

struct OpenFailureCase {
    const char* label;
    std::string stdin_text;
    std::string shown_name;
    std::function<void(const Sandbox&)> prepare;
    bool previous_output;  // a morvel.out from an earlier run is there
    bool unprivileged;
};

void PrintTo(const OpenFailureCase& c, std::ostream* os) {
    *os << c.label;
}

class OpenFailureTest : public testing::TestWithParam<OpenFailureCase> {};

constexpr const char* PREVIOUS_OUTPUT = "results of an earlier run\n";

TEST_P(OpenFailureTest, ReportsAndLeavesOutputAlone) {
    const OpenFailureCase& c = GetParam();
    Sandbox box;
    if (c.previous_output) {
        box.write("morvel.out", PREVIOUS_OUTPUT);
        // Writable for the unprivileged runs too, so that only the program keeps it intact.
        chmod(box.path("morvel.out").c_str(), 0666);
    }
    if (c.prepare) {
        c.prepare(box);
    }
    RunOptions options;
    options.unprivileged = c.unprivileged;
    const RunResult result = box.run(c.stdin_text, options);
    ASSERT_FALSE(result.timed_out);
    EXPECT_TRUE(result.exited);
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_EQ(result.out, failed_to_open(c.shown_name));
    EXPECT_EQ(line_count(result.err), 1) << result.err;
    if (c.previous_output) {
        EXPECT_EQ(box.read("morvel.out"), PREVIOUS_OUTPUT);
    } else {
        EXPECT_FALSE(fs::exists(fs::symlink_status(box.path("morvel.out"))));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Failures, OpenFailureTest,
    testing::Values(
        OpenFailureCase{"missing_file", "nosuch.txt\n", "nosuch.txt", nullptr, true, false},
        OpenFailureCase{"missing_file_no_earlier_output", "nosuch.txt\n", "nosuch.txt", nullptr,
                        false, false},
        OpenFailureCase{"directory", "adir\n", "adir",
                        [](const Sandbox& box) { fs::create_directory(box.path("adir")); }, true,
                        false},
        OpenFailureCase{"unreadable_file", "secret.txt\n", "secret.txt",
                        [](const Sandbox& box) {
                            box.write("secret.txt", NORMAL_DATA);
                            chmod(box.path("secret.txt").c_str(), 0);
                            chmod(box.work().c_str(), 0777);
                        },
                        true, true},
        OpenFailureCase{"unreadable_file_no_earlier_output", "secret.txt\n", "secret.txt",
                        [](const Sandbox& box) {
                            box.write("secret.txt", NORMAL_DATA);
                            chmod(box.path("secret.txt").c_str(), 0);
                            chmod(box.work().c_str(), 0777);
                        },
                        false, true},
        OpenFailureCase{"standard_input_empty", "", "", nullptr, true, false},
        OpenFailureCase{"standard_input_only_blank_lines", "\n \n\t\n", "", nullptr, false, false}),
    [](const testing::TestParamInfo<OpenFailureCase>& case_info) {
        return std::string(case_info.param.label);
    });

// --- morvel.out cannot be created, or is the input itself: exit 1, the input survives ---

struct CreateFailureCase {
    const char* label;
    std::string name;  // typed on standard input
    std::function<void(const Sandbox&)> prepare;
};

void PrintTo(const CreateFailureCase& c, std::ostream* os) {
    *os << c.label;
}

class CreateFailureTest : public testing::TestWithParam<CreateFailureCase> {};

TEST_P(CreateFailureTest, ReportsAndKeepsTheInput) {
    const CreateFailureCase& c = GetParam();
    Sandbox box;
    c.prepare(box);
    const RunResult result = box.run(c.name + "\n");
    ASSERT_FALSE(result.timed_out);
    EXPECT_TRUE(result.exited);
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_EQ(result.out, failed_to_create(c.name));
    EXPECT_EQ(line_count(result.err), 1) << result.err;
    EXPECT_EQ(read_file(box.path(c.name)), NORMAL_DATA);
}

INSTANTIATE_TEST_SUITE_P(
    Failures, CreateFailureTest,
    testing::Values(CreateFailureCase{"output_is_a_directory", "data.txt",
                                      [](const Sandbox& box) {
                                          box.write("data.txt", NORMAL_DATA);
                                          fs::create_directory(box.path("morvel.out"));
                                      }},
                    CreateFailureCase{
                        "input_is_the_output_file", "morvel.out",
                        [](const Sandbox& box) { box.write("morvel.out", NORMAL_DATA); }},
                    CreateFailureCase{"input_is_a_symbolic_link_to_the_output_file", "link.txt",
                                      [](const Sandbox& box) {
                                          box.write("morvel.out", NORMAL_DATA);
                                          fs::create_symlink("morvel.out", box.path("link.txt"));
                                      }},
                    CreateFailureCase{"output_file_is_a_symbolic_link_to_the_input", "data.txt",
                                      [](const Sandbox& box) {
                                          box.write("data.txt", NORMAL_DATA);
                                          fs::create_symlink("data.txt", box.path("morvel.out"));
                                      }},
                    CreateFailureCase{"input_is_a_hard_link_to_the_output_file", "hard.txt",
                                      [](const Sandbox& box) {
                                          box.write("morvel.out", NORMAL_DATA);
                                          fs::create_hard_link(box.path("morvel.out"),
                                                               box.path("hard.txt"));
                                      }}),
    [](const testing::TestParamInfo<CreateFailureCase>& case_info) {
        return std::string(case_info.param.label);
    });

TEST(OutputFailureTest, WriteErrorOnMorvelOutIsReportedOnStandardError) {
    Sandbox box;
    box.write("data.txt", NORMAL_DATA);
    fs::create_symlink("/dev/full", box.path("morvel.out"));
    const RunResult result = box.run("data.txt\n");
    ASSERT_FALSE(result.timed_out);
    EXPECT_TRUE(result.exited);
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_EQ(result.out, transcript("data.txt", NORMAL_REPORT));
    EXPECT_EQ(line_count(result.err), 1) << result.err;
    EXPECT_NE(result.err.find("morvel.out"), std::string::npos) << result.err;
}

// --- Standard output that cannot be written: morvel.out is still complete ---

class UnwritableStdoutTest : public testing::TestWithParam<StdoutMode> {};

TEST_P(UnwritableStdoutTest, DensityFileIsStillWritten) {
    Sandbox box;
    box.write("data.txt", NORMAL_DATA);
    RunOptions options;
    options.stdout_mode = GetParam();
    const RunResult result = box.run("data.txt\n", options);
    ASSERT_FALSE(result.timed_out);
    EXPECT_TRUE(result.exited) << "killed by signal " << result.signal;
    EXPECT_NE(result.exit_status, 0);
    EXPECT_EQ(box.read("morvel.out"), density_file(NORMAL_REPORT, NORMAL_DENSITIES));
}

INSTANTIATE_TEST_SUITE_P(Failures, UnwritableStdoutTest,
                         testing::Values(StdoutMode::closed, StdoutMode::broken_pipe,
                                         StdoutMode::full_device),
                         [](const testing::TestParamInfo<StdoutMode>& case_info) {
                             switch (case_info.param) {
                                 case StdoutMode::closed:
                                     return "closed";
                                 case StdoutMode::broken_pipe:
                                     return "broken_pipe";
                                 default:
                                     return "full_device";
                             }
                         });

// --- Capacities: the usual report, and one line on standard error when data was left out

struct CapacityCase {
    const char* label;
    std::function<std::string()> data;
    Report report;
    std::map<int, std::string> densities;
    int error_lines;
};

void PrintTo(const CapacityCase& c, std::ostream* os) {
    *os << c.label;
}

// 2,000,000 records, zero but for 2 and -2 at indices 1 and 3: mean 0, sum of squares 8, so
// the deviation is sqrt(8/2e6) = 0.002 and both peaks stand at 1000 sigma (in no bin). `tail`
// follows the last of those records.
std::string full_store(const std::string& tail) {
    std::string data;
    data.reserve(8'000'000 + tail.size());
    data += "0 0\n1 2\n2 0\n3 -2\n";
    for (int i = 4; i < 2'000'000; ++i) {
        data += "0 0\n";
    }
    return data + tail;
}

// `pairs` samples alternating 1, -1 (mean 0, deviation 1): every interior one is a peak of
// 1 sigma, in bin 3. `tail` (accelerations) follows.
std::string alternating(int pairs, const std::vector<int>& tail) {
    std::string data;
    for (int i = 0; i < pairs; ++i) {
        data += "0 1\n0 -1\n";
    }
    for (const int a : tail) {
        data += "0 " + std::to_string(a) + "\n";
    }
    return data;
}

// With both standard output and standard error closed, the run's own files take their
// descriptors; a notice for standard error must not end up in morvel.out.
TEST(UnwritableStdoutTest, NoticeWithBothOutputsClosedStaysOutOfDensityFile) {
    Sandbox box;
    box.write("data.txt", alternating(25'001, {2, 0, 0, 0, -2, 0, 0, 0}));
    RunOptions options;
    options.stdout_mode = StdoutMode::closed;
    options.stderr_closed = true;
    const RunResult result = box.run("data.txt\n", options);
    ASSERT_FALSE(result.timed_out);
    EXPECT_TRUE(result.exited);
    EXPECT_NE(result.exit_status, 0);
    EXPECT_EQ(box.read("morvel.out"), density_file({{3, "4"}}, "0"));
}

class CapacityTest : public testing::TestWithParam<CapacityCase> {};

TEST_P(CapacityTest, FiguresAndNotice) {
    const CapacityCase& c = GetParam();
    Sandbox box;
    box.write("data.txt", c.data());
    const RunResult result = box.run("data.txt\n");
    ASSERT_FALSE(result.timed_out);
    EXPECT_TRUE(result.exited);
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(result.out, transcript("data.txt", c.report));
    EXPECT_EQ(line_count(result.err), c.error_lines) << result.err;
    EXPECT_EQ(box.read("morvel.out"), density_file(c.report, c.densities));
}

const Report FULL_STORE_REPORT{2'000'000, "-2", "2", "0.002", "1000", 2, 2, 2};

INSTANTIATE_TEST_SUITE_P(
    Limits, CapacityTest,
    testing::Values(
        CapacityCase{
            "samples_exactly_at_capacity", [] { return full_store(""); }, FULL_STORE_REPORT, {}, 0},
        // Read, the last record would change the mean and every figure after it.
        CapacityCase{"one_record_past_capacity",
                     [] { return full_store("0 1000\n"); },
                     FULL_STORE_REPORT,
                     {},
                     1},
        // 50,002 alternating samples: the 50,000th peak is the last interior sample.
        CapacityCase{"peaks_fill_at_the_last_interior_sample",
                     [] { return alternating(25'001, {}); },
                     {50'002, "-1", "1", "1", "1", 50'000, 0, 0},
                     {{3, "4"}},
                     0},
        // Then 2 0 0 0 -2 0 0 0 (squares 8 over 8 samples: the deviation stays 1): the store is
        // full before the trough at -1 and the crest at 2 that follow; they are not counted,
        // so bin 3 keeps all 50,000 peaks.
        CapacityCase{"peaks_fill_before_the_last_interior_sample",
                     [] {
                         return alternating(25'001, {2, 0, 0, 0, -2, 0, 0, 0});
                     },
                     {50'010, "-2", "2", "1", "2", 50'000, 0, 0},
                     {{3, "4"}},
                     1}),
    [](const testing::TestParamInfo<CapacityCase>& case_info) {
        return std::string(case_info.param.label);
    });

}  // namespace
}  // namespace morvel::e2e
