// Tests of the signal generator: its numeric building blocks, and the make_signal program run
// as a separate process (output bytes, statistics of the signal, usage errors).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "signal_gen.hpp"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace morvel::signal;

// ---- Building blocks ----

TEST(SplitMix64, MatchesTheReferenceSequenceForSeedZero) {
    SplitMix64 mixer(0);
    EXPECT_EQ(mixer.next(), 0xe220a8397b1dcdafULL);
    EXPECT_EQ(mixer.next(), 0x6e789e6aa1b965f4ULL);
    EXPECT_EQ(mixer.next(), 0x06c45d188009454fULL);
}

TEST(DeterministicMath, LogAgreesWithTheLibraryToAFewUlp) {
    for (const double x :
         {1e-300, 2.2250738585072014e-308, 1e-9, 0.001, 0.3, 0.5, 0.70710678, 0.7071068, 0.99,
          0.999999, 1.0, 1.000001, 1.4142, 2.0, 10.0, 1e5, 1e300}) {
        const double expected = std::log(x);
        EXPECT_NEAR(det_log(x), expected, 4e-16 * std::max(1.0, std::fabs(expected))) << x;
    }
}

TEST(DeterministicMath, ExpAgreesWithTheLibraryToAFewUlp) {
    for (const double x :
         {-700.0, -30.0, -1.0, -0.35, -0.005, -1e-9, 0.0, 1e-9, 0.2, 1.0, 5.0, 100.0, 700.0}) {
        const double expected = std::exp(x);
        EXPECT_NEAR(det_exp(x), expected, 4e-16 * expected) << x;
    }
}

TEST(DeterministicMath, SineAndCosineOfTurnsAgreeWithTheLibrary) {
    for (int i = 0; i <= 4000; ++i) {
        const double turns = -3.0 + i * 0.00173;
        double sine = 0.0;
        double cosine = 0.0;
        det_sincos_turns(turns, sine, cosine);
        // The reference angle is itself rounded, by up to half an ulp of its size.
        const double angle = 2.0 * std::numbers::pi * turns;
        const double tolerance = 1e-15 + 1.2e-16 * std::fabs(angle);
        ASSERT_NEAR(sine, std::sin(angle), tolerance) << turns;
        ASSERT_NEAR(cosine, std::cos(angle), tolerance) << turns;
    }
    // Whole quarter turns come out exact.
    double sine = 0.0;
    double cosine = 0.0;
    det_sincos_turns(0.25, sine, cosine);
    EXPECT_EQ(sine, 1.0);
    det_sincos_turns(0.5, sine, cosine);
    EXPECT_EQ(cosine, -1.0);
}

struct Moments {
    double mean = 0.0;
    double variance = 0.0;
    double kurtosis = 0.0;
};

Moments moments_of(const std::vector<double>& xs) {
    Moments m;
    for (const double x : xs) {
        m.mean += x;
    }
    m.mean /= static_cast<double>(xs.size());
    double m4 = 0.0;
    for (const double x : xs) {
        const double d = (x - m.mean) * (x - m.mean);
        m.variance += d;
        m4 += d * d;
    }
    m.variance /= static_cast<double>(xs.size());
    m.kurtosis = m4 / static_cast<double>(xs.size()) / (m.variance * m.variance);
    return m;
}

// Tolerances are about five standard errors for n = 200000 standard normal draws: mean
// 1/sqrt(n) = 0.0022, variance sqrt(2/n) = 0.0032, kurtosis sqrt(24/n) = 0.011, the tail
// fraction beyond 3 sigma sqrt(p(1-p)/n) = 0.00012 around p = 0.0027.
TEST(Gaussian, DrawsHaveStandardNormalMomentsAndTails) {
    Gaussian gaussian(42);
    std::vector<double> xs(200'000);
    for (double& x : xs) {
        x = gaussian.next();
    }
    const Moments m = moments_of(xs);
    EXPECT_NEAR(m.mean, 0.0, 0.011);
    EXPECT_NEAR(m.variance, 1.0, 0.016);
    EXPECT_NEAR(m.kurtosis, 3.0, 0.055);
    double beyond_one = 0.0;
    double beyond_three = 0.0;
    for (const double x : xs) {
        beyond_one += std::fabs(x) > 1.0 ? 1.0 : 0.0;
        beyond_three += std::fabs(x) > 3.0 ? 1.0 : 0.0;
    }
    EXPECT_NEAR(beyond_one / 200'000.0, 0.3173, 0.0052);
    EXPECT_NEAR(beyond_three / 200'000.0, 0.0027, 0.0006);
}

// ---- The program ----

struct Outcome {
    int status = -1;  // exit status, or -1 if the process did not exit normally
    std::string out;
    std::string err;
};

std::string read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

class MakeSignal : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "make_signal_test.XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { fs::remove_all(dir_); }

    Outcome run(const std::vector<std::string>& args) const {
        std::vector<std::string> all{MAKE_SIGNAL_PATH};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& a : all) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        const fs::path out = dir_ / "stdout";
        const fs::path err = dir_ / "stderr";
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        pid_t pid = 0;
        Outcome result;
        if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
            int wait_status = 0;
            if (waitpid(pid, &wait_status, 0) == pid && WIFEXITED(wait_status)) {
                result.status = WEXITSTATUS(wait_status);
            }
        }
        posix_spawn_file_actions_destroy(&actions);
        result.out = read_file(out);
        result.err = read_file(err);
        return result;
    }

    // Runs successfully and returns the standard output.
    std::string text(const std::vector<std::string>& args) const {
        const Outcome r = run(args);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");
        return r.out;
    }

    fs::path dir_;
};

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

// The accelerations (second column), read with strtod.
std::vector<double> accelerations(const std::string& text) {
    std::vector<double> values;
    for (const std::string& line : lines_of(text)) {
        const char* p = line.c_str();
        char* end = nullptr;
        std::strtod(p, &end);
        values.push_back(std::strtod(end, nullptr));
    }
    return values;
}

TEST_F(MakeSignal, HelpDescribesEveryOptionAndSucceeds) {
    for (const auto& args : {std::vector<std::string>{"--help"},
                             std::vector<std::string>{"--kind", "bogus", "--help"}}) {
        const Outcome r = run(args);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.out.rfind("Usage: make_signal", 0), 0u);
        for (const char* option :
             {"--kind", "narrowband", "broadband", "sine", "--records", "--rate", "--seed", "--rms",
              "--offset", "--frequency", "--q", "--noise", "--format", "--precision",
              "--time-decimals", "--crlf", "--output", "--help"}) {
            EXPECT_NE(r.out.find(option), std::string::npos) << option;
        }
    }
}

TEST_F(MakeSignal, BadUsageExitsWithStatusTwoAndSaysWhy) {
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const Case cases[] = {
        {{"--bogus"}, "unknown option '--bogus'"},
        {{"signal.txt"}, "unexpected argument 'signal.txt'"},
        {{"--"}, "unexpected argument '--'"},
        {{"--records"}, "--records needs a value"},
        {{"--kind", "pink"}, "--kind must be narrowband, broadband or sine, not 'pink'"},
        {{"--records", "12x"}, "--records needs a whole number, not '12x'"},
        {{"--records", "-1"}, "--records must be from 0 to"},
        {{"--records", "99999999999999999999"}, "--records is out of range"},
        {{"--seed", "-3"}, "--seed needs a whole number"},
        {{"--rate", "0"}, "--rate must be from"},
        {{"--rms", "-1"}, "--rms must be from 0"},
        {{"--rms", "nan"}, "--rms needs a number, not 'nan'"},
        {{"--offset=inf"}, "--offset needs a number, not 'inf'"},
        {{"--offset", "1e200"}, "--offset must be from"},
        {{"--frequency", "0"}, "--frequency must be above 0"},
        {{"--frequency", "500"}, "--frequency must be below half the --rate"},
        {{"--kind", "sine", "--rate", "100", "--frequency", "60"},
         "--frequency must be below half the --rate"},
        {{"--q", "0.1"}, "--q must be from 0.5"},
        {{"--format", "hex"}, "--format must be fixed, sci or general, not 'hex'"},
        {{"--precision", "41"}, "--precision must be from 0 to 40"},
        {{"--format", "sci", "--precision", "0"}, "--precision must be at least 1"},
        {{"--time-decimals", "x"}, "--time-decimals needs a whole number"},
        {{"--crlf=yes"}, "--crlf takes no value"},
        {{"--help=me"}, "--help takes no value"},
        {{"--output="}, "--output needs a file name"},
    };
    for (const Case& c : cases) {
        const Outcome r = run(c.args);
        EXPECT_EQ(r.status, 2) << c.message;
        EXPECT_EQ(r.out, "") << c.message;
        EXPECT_EQ(r.err.rfind("make_signal: " + c.message, 0), 0u) << r.err;
        EXPECT_NE(r.err.find("Try 'make_signal --help'"), std::string::npos) << c.message;
    }
}

TEST_F(MakeSignal, UnwritableOutputExitsWithStatusOne) {
    const Outcome r = run({"--records", "10", "--output", (dir_ / "missing" / "x.txt").string()});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("make_signal: cannot create"), std::string::npos) << r.err;
}

TEST_F(MakeSignal, SameSeedGivesSameBytesAndOtherSeedsOtherBytes) {
    const std::vector<std::vector<std::string>> kinds = {
        {"--kind", "narrowband"},
        {"--kind", "broadband"},
        {"--kind", "sine", "--noise", "0.2"},
    };
    for (const auto& kind : kinds) {
        auto with_seed = [&](const std::string& seed) {
            std::vector<std::string> args = kind;
            args.insert(args.end(), {"--records", "3000", "--seed", seed});
            return args;
        };
        const std::string first = text(with_seed("7"));
        EXPECT_EQ(lines_of(first).size(), 3000u);
        EXPECT_EQ(text(with_seed("7")), first) << kind[1];
        EXPECT_NE(text(with_seed("8")), first) << kind[1];
        EXPECT_NE(text(with_seed("18446744073709551615")), first) << kind[1];

        // The file gets exactly what standard output gets.
        std::vector<std::string> to_file = with_seed("7");
        to_file.insert(to_file.end(), {"--output", (dir_ / "signal.txt").string()});
        EXPECT_EQ(text(to_file), "");
        EXPECT_EQ(read_file(dir_ / "signal.txt"), first) << kind[1];
    }
}

TEST_F(MakeSignal, WritesTheRequestedRecordCountInTheRequestedFormat) {
    struct Case {
        std::vector<std::string> args;
        int records;
        std::string line;   // pattern of every line, without its line end
        int time_decimals;  // the time is k / rate to within half a unit of this decimal
    };
    const Case cases[] = {
        {{"--records", "0"}, 0, "", 0},
        {{"--records", "1"}, 1, R"(0\.0000 -?\d\.\d{6})", 4},
        {{"--records", "1234"}, 1234, R"(\d\.\d{4} -?\d\.\d{6})", 4},
        {{"--records", "500", "--rate", "256", "--precision", "3", "--time-decimals", "2"},
         500,
         R"(\d+\.\d{2} -?\d\.\d{3})",
         2},
        {{"--records", "300", "--rate", "20000", "--precision", "0"}, 300, R"(0\.\d{6} -?\d)", 6},
        {{"--records", "700", "--format", "sci"},
         700,
         R"(\d\.\d{6}e[+-]\d\d -?\d\.\d{6}e[+-]\d\d)",
         -1},
        {{"--records", "400", "--format", "sci", "--precision", "1", "--kind", "broadband"},
         400,
         R"(\de[+-]\d\d -?\de[+-]\d\d)",
         -1},
        {{"--records", "250", "--kind", "sine", "--crlf"}, 250, R"(\d\.\d{4} -?\d\.\d{6}\r)", 4},
    };
    for (const Case& c : cases) {
        const std::string out = text(c.args);
        const std::vector<std::string> lines = lines_of(out);
        ASSERT_EQ(lines.size(), static_cast<std::size_t>(c.records)) << c.line;
        EXPECT_TRUE(out.empty() || out.back() == '\n');
        const std::regex pattern(c.line);
        const double rate =
            c.args.size() > 2 && c.args[2] == "--rate" ? std::stod(c.args[3]) : 1000.0;
        for (std::size_t k = 0; k < lines.size(); ++k) {
            ASSERT_TRUE(std::regex_match(lines[k], pattern)) << "'" << lines[k] << "'";
            if (c.time_decimals >= 0) {
                const double time = std::strtod(lines[k].c_str(), nullptr);
                ASSERT_NEAR(time, static_cast<double>(k) / rate,
                            0.5 * std::pow(10.0, -c.time_decimals) + 1e-12)
                    << lines[k];
            }
        }
    }
}

TEST_F(MakeSignal, GeneralStyleWritesSeventeenSignificantDigitsLikePrintf) {
    const std::string out = text({"--records", "2000", "--format", "general"});
    const std::vector<std::string> lines = lines_of(out);
    ASSERT_EQ(lines.size(), 2000u);
    for (const std::string& line : lines) {
        const std::size_t blank = line.find(' ');
        ASSERT_NE(blank, std::string::npos);
        for (const std::string& field : {line.substr(0, blank), line.substr(blank + 1)}) {
            char expected[64];
            std::snprintf(expected, sizeof expected, "%.17g", std::strtod(field.c_str(), nullptr));
            ASSERT_EQ(field, expected);
        }
    }
}

// With the default six decimals every written value is within 5e-7 of the generated one, so
// the RMS of the written values about the offset is within 5e-7 of the requested RMS for the
// noise kinds (scaled exactly) and for a sine over whole cycles (400 here).
TEST_F(MakeSignal, RmsAndOffsetAreAsRequested) {
    struct Case {
        std::vector<std::string> args;
        double rms;
        double offset;
        double rms_tolerance;
        double mean_tolerance;  // of the mean about the offset
    };
    // Means: broadband noise has a standard error of rms / sqrt(20000) = 0.0071 rms, allowed
    // 0.03 rms; narrowband noise has little power near 0 Hz and its block means stay below
    // 0.003 rms, allowed 0.02 rms. With noise, a sine's RMS is sqrt(1 + 0.5^2) = 1.118 within
    // the 1% that 20000 noise samples allow.
    const Case cases[] = {
        {{"--kind", "narrowband", "--rms", "2.5", "--offset", "0.3"}, 2.5, 0.3, 1e-6, 0.05},
        {{"--kind", "narrowband", "--rms", "0.04", "--offset", "-1.5", "--seed", "9"},
         0.04,
         -1.5,
         1e-6,
         0.0008},
        {{"--kind", "broadband", "--rms", "3", "--offset", "-4"}, 3.0, -4.0, 1e-6, 0.09},
        {{"--kind", "broadband", "--rms", "0.25", "--seed", "12"}, 0.25, 0.0, 1e-6, 0.0075},
        {{"--kind", "sine", "--rms", "2", "--offset", "1", "--frequency", "20"},
         2.0,
         1.0,
         1e-6,
         1e-6},
        {{"--kind", "sine", "--rms", "1", "--noise", "0.5", "--offset", "0.05"},
         std::sqrt(1.25),
         0.05,
         0.012,
         0.015},
        {{"--kind", "broadband", "--rms", "0", "--offset", "7"}, 0.0, 7.0, 0.0, 0.0},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"--records", "20000"});
        const std::vector<double> values = accelerations(text(args));
        ASSERT_EQ(values.size(), 20'000u);
        double sum = 0.0;
        double sum_of_squares = 0.0;
        for (const double v : values) {
            sum += v - c.offset;
            sum_of_squares += (v - c.offset) * (v - c.offset);
        }
        EXPECT_NEAR(std::sqrt(sum_of_squares / 20'000.0), c.rms, c.rms_tolerance) << args[1];
        EXPECT_NEAR(sum / 20'000.0, 0.0, c.mean_tolerance) << args[1];
    }
}

TEST_F(MakeSignal, OffsetShiftsTheSameNoise) {
    for (const char* kind : {"narrowband", "broadband"}) {
        const std::vector<double> plain =
            accelerations(text({"--kind", kind, "--records", "5000", "--seed", "3"}));
        const std::vector<double> shifted = accelerations(
            text({"--kind", kind, "--records", "5000", "--seed", "3", "--offset", "10"}));
        ASSERT_EQ(plain.size(), shifted.size());
        for (std::size_t k = 0; k < plain.size(); ++k) {
            ASSERT_NEAR(shifted[k] - plain[k], 10.0, 1.0001e-6) << kind << " " << k;
        }
    }
}

TEST_F(MakeSignal, SineFollowsItsFormula) {
    const std::vector<double> values =
        accelerations(text({"--kind", "sine", "--records", "3000", "--rate", "800", "--frequency",
                            "13.7", "--rms", "0.5", "--offset", "-0.25"}));
    ASSERT_EQ(values.size(), 3000u);
    for (std::size_t k = 0; k < values.size(); ++k) {
        const double expected =
            -0.25 + 0.5 * std::sqrt(2.0) *
                        std::sin(2.0 * std::numbers::pi * 13.7 * static_cast<double>(k) / 800.0);
        ASSERT_NEAR(values[k], expected, 5.0001e-7) << k;
    }
}

struct Shape {
    int up_crossings = 0;  // of the mean
    int maxima = 0;        // interior samples above both neighbours
    Moments moments;
    double beyond_two_sigma = 0.0;  // fraction of samples
};

Shape shape_of(const std::vector<double>& xs) {
    Shape s;
    s.moments = moments_of(xs);
    const double sd = std::sqrt(s.moments.variance);
    for (std::size_t k = 0; k < xs.size(); ++k) {
        if (k > 0 && xs[k - 1] < s.moments.mean && xs[k] >= s.moments.mean) {
            ++s.up_crossings;
        }
        if (k > 0 && k + 1 < xs.size() && xs[k] > xs[k - 1] && xs[k] > xs[k + 1]) {
            ++s.maxima;
        }
        s.beyond_two_sigma += std::fabs(xs[k] - s.moments.mean) > 2.0 * sd ? 1.0 : 0.0;
    }
    s.beyond_two_sigma /= static_cast<double>(xs.size());
    return s;
}

// A narrowband process crosses its mean upwards about once per cycle of the centre frequency
// and has about one maximum per up-crossing (irregularity factor near 1; a single resonator
// gives about 0.63 here, from its many small extra peaks).
TEST_F(MakeSignal, NarrowbandOscillatesAtItsCentreFrequencyWithOneMaximumPerCycle) {
    struct Case {
        std::string frequency;
        std::string rate;
        double cycles;  // centre frequency * duration
    };
    const Case cases[] = {{"20", "1000", 400.0}, {"50", "1000", 1000.0}, {"30", "2000", 300.0}};
    for (const Case& c : cases) {
        const Shape s = shape_of(
            accelerations(text({"--kind", "narrowband", "--records", "20000", "--frequency",
                                c.frequency, "--rate", c.rate, "--seed", "5"})));
        EXPECT_NEAR(s.up_crossings, c.cycles, 0.03 * c.cycles) << c.frequency;
        EXPECT_GT(static_cast<double>(s.up_crossings) / s.maxima, 0.95) << c.frequency;
    }
}

// White Gaussian noise: a sample exceeds both neighbours with probability 1/3 and a pair of
// neighbours straddles the mean upwards with probability 1/4; the tolerances are about five
// standard errors for 20000 samples (0.0033, 0.003, kurtosis 0.035, tail 0.0015).
TEST_F(MakeSignal, BroadbandIsWhiteGaussianNoise) {
    const Shape s = shape_of(
        accelerations(text({"--kind", "broadband", "--records", "20000", "--seed", "11"})));
    EXPECT_NEAR(s.maxima / 20'000.0, 1.0 / 3.0, 0.017);
    EXPECT_NEAR(s.up_crossings / 20'000.0, 0.25, 0.015);
    EXPECT_NEAR(s.moments.kurtosis, 3.0, 0.18);
    EXPECT_NEAR(s.beyond_two_sigma, 0.0455, 0.0075);
}

}  // namespace
