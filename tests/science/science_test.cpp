// The science check: morvel's peak density against laws whose answer is known, on Gaussian
// signals made by make_signal and analysed by the real morvel binary.
//
// Narrowband noise: the envelope of a narrowband Gaussian signal follows the Rayleigh law,
// so its peaks (in sigma) have the density x exp(-x^2/2), the bin (a, b] holds the fraction
// exp(-a^2/2) - exp(-b^2/2), and the fraction above t is exp(-t^2/2).
//
// Broadband (white) noise: independent Gaussian samples. A sample x is a crest when both
// neighbours lie below it and x > 0, which has probability phi(x) Phi(x)^2 dx, and troughs
// mirror crests; over x > 0 this integrates to (1 - 1/8) / 3 = 7/24. The peak height density
// is therefore (24/7) phi(x) Phi(x)^2: the bin (a, b] holds (8/7) (Phi(b)^3 - Phi(a)^3) and
// the fraction above t is (8/7) (1 - Phi(t)^3), 0.00462 at t = 3, well below Rayleigh's
// 0.01111.
//
// Neighbouring peaks of a narrowband signal are strongly correlated (the envelope moves
// slowly), so 50,000 peaks carry far less information than 50,000 independent draws: the
// tolerances below come from the spread measured over 20 seeds with
//     science_test --measure narrowband 1 20
//     science_test --measure broadband 1 20
// which run exactly the signals that the tests run, on other seeds than the tests use; the
// figures are beside the tolerances.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <numbers>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr int BINS = 26;  // the written bins, centres 0.125 to 6.375
constexpr double WIDTH = 0.25;

// ---- The laws ----

double normal_cdf(double x) {
    return 0.5 * std::erfc(-x / std::sqrt(2.0));
}

// Average density over (a, b] of the Rayleigh law x exp(-x^2/2).
double rayleigh_bin(int k) {
    const double a = k * WIDTH;
    const double b = a + WIDTH;
    return (std::exp(-a * a / 2) - std::exp(-b * b / 2)) / WIDTH;
}

double rayleigh_above(double t) {
    return std::exp(-t * t / 2);
}

// Average density over (a, b] of the peak law of white Gaussian noise, (24/7) phi Phi^2.
double white_bin(int k) {
    const double a = k * WIDTH;
    const double b = a + WIDTH;
    return 8.0 / 7.0 * (std::pow(normal_cdf(b), 3) - std::pow(normal_cdf(a), 3)) / WIDTH;
}

double white_above(double t) {
    return 8.0 / 7.0 * (1.0 - std::pow(normal_cdf(t), 3));
}

// ---- The signals ----

// An RMS of 2 about an offset of 3: a peak measured from zero instead of the mean, or a sigma
// taken without removing the mean (sqrt(2^2 + 3^2) instead of 2), is far off the law.
std::vector<std::string> narrowband(unsigned seed) {
    // Two cascaded resonators, Q 12.5 each (pole radius 0.995), 50 samples per cycle: about
    // 2 peaks per 50 samples, so the 50,000 kept peaks come from the first 1,250,000 samples.
    return {"--kind", "narrowband", "--records", "1300000", "--rms",
            "2",      "--offset",   "3",         "--seed",  std::to_string(seed)};
}

std::vector<std::string> broadband(unsigned seed) {
    // 7 of 12 samples are peaks, so the 50,000 kept peaks come from the first 86,000 samples.
    return {"--kind", "broadband", "--records", "100000", "--rms",
            "2",      "--offset",  "3",         "--seed", std::to_string(seed)};
}

// ---- Running the programs ----

class TempDir {
  public:
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "morvel-science-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("mkdtemp failed: " + std::string(std::strerror(errno)));
        }
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const fs::path& path() const { return path_; }

  private:
    fs::path path_;
};

// Runs `program` with `arguments` in `folder`, in a session of its own (no controlling
// terminal, so morvel does not wait for a key), with standard input, output and error
// redirected to the named files there. Returns the exit status, or -1 if it did not exit.
int run(const std::string& program, const std::vector<std::string>& arguments,
        const fs::path& folder, const char* input, const char* output, const char* errors) {
    std::vector<std::string> words{program};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    std::cout.flush();
    const pid_t child = fork();
    if (child == 0) {
        const auto redirect = [](const char* name, int flags, int target) {
            const int fd = open(name, flags, 0644);
            if (fd < 0 || dup2(fd, target) < 0) {
                _exit(126);
            }
            close(fd);
        };
        if (chdir(folder.c_str()) != 0 || setsid() < 0) {
            _exit(126);
        }
        redirect(input, O_RDONLY, STDIN_FILENO);
        redirect(output, O_WRONLY | O_CREAT | O_TRUNC, STDOUT_FILENO);
        redirect(errors, O_WRONLY | O_CREAT | O_TRUNC, STDERR_FILENO);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status)) {
        return -1;
    }
    return WEXITSTATUS(status);
}

std::string read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

long report_value(const std::string& report, const std::string& label) {
    std::smatch match;
    if (!std::regex_search(report, match, std::regex(label + " = ([0-9]+) \n"))) {
        return -1;
    }
    return std::stol(match[1]);
}

struct Analysis {
    std::string problem;  // empty when both programs ran and their output parsed
    int status = -1;
    std::string errors;  // morvel's standard error
    long samples = -1;
    long peaks = -1;
    long above3 = -1;
    long above4 = -1;
    std::array<double, BINS> density{};

    double fraction_above3() const {
        return static_cast<double>(above3) / static_cast<double>(peaks);
    }
    double fraction_above4() const {
        return static_cast<double>(above4) / static_cast<double>(peaks);
    }
};

// Makes the signal with make_signal, runs morvel on it in a fresh folder, and reads the
// report and morvel.out.
Analysis analyse(const std::vector<std::string>& signal) {
    Analysis result;
    const TempDir dir;
    std::vector<std::string> arguments = signal;
    arguments.insert(arguments.end(), {"--output", "signal.txt"});
    { std::ofstream(dir.path() / "name.txt") << "signal.txt\n"; }
    if (run(MAKE_SIGNAL_PATH, arguments, dir.path(), "/dev/null", "made.txt", "made.err") != 0) {
        result.problem = "make_signal failed: " + read_file(dir.path() / "made.err");
        return result;
    }
    result.status = run(MORVEL_PATH, {}, dir.path(), "name.txt", "report.txt", "errors.txt");
    result.errors = read_file(dir.path() / "errors.txt");
    const std::string report = read_file(dir.path() / "report.txt");
    result.samples = report_value(report, "Total samples");
    result.peaks = report_value(report, "Total peaks");
    result.above3 = report_value(report, "number of peaks > 3 sigma");
    result.above4 = report_value(report, "number of peaks > 4 sigma");
    if (result.samples < 0 || result.peaks <= 0 || result.above3 < 0 || result.above4 < 0) {
        result.problem = "unexpected report:\n" + report;
        return result;
    }

    std::istringstream lines(read_file(dir.path() / "morvel.out"));
    std::string line;
    std::getline(lines, line);
    if (line != "           0 0") {
        result.problem = "morvel.out starts with '" + line + "'";
        return result;
    }
    for (int k = 0; k < BINS; ++k) {
        double centre = -1.0;
        if (!std::getline(lines, line) ||
            std::sscanf(line.c_str(), "%lf %lf", &centre, &result.density[k]) != 2 ||
            centre != k * WIDTH + WIDTH / 2) {
            result.problem = "morvel.out line " + std::to_string(k + 2) + " is '" + line + "'";
            return result;
        }
    }
    if (std::getline(lines, line)) {
        result.problem = "morvel.out has more than 27 lines";
    }
    return result;
}

// The largest |density - law| over the written bins, and the bin where it occurs.
struct Deviation {
    double largest = 0.0;
    int bin = 0;
};

Deviation largest_deviation(const Analysis& analysis, double (*law)(int)) {
    Deviation deviation;
    for (int k = 0; k < BINS; ++k) {
        const double d = std::fabs(analysis.density[k] - law(k));
        if (d > deviation.largest) {
            deviation = {d, k};
        }
    }
    return deviation;
}

double written_fraction(const Analysis& analysis) {
    double sum = 0.0;
    for (const double d : analysis.density) {
        sum += d * WIDTH;
    }
    return sum;
}

// ---- The tests ----

// Narrowband, measured over seeds 1 to 40 (science_test --measure narrowband 1 40):
//   largest |density - Rayleigh bin average|: mean 0.0184, sd 0.0061, range 0.0080 to 0.0284
//   fraction above 3 sigma: mean 0.01108, sd 0.00123, range 0.0094 to 0.0149 (law 0.01111;
//     50,000 independent draws would give an sd of 0.00047: the peaks are correlated)
//   fraction above 4 sigma: mean 0.00035, sd 0.00021, range 0.00002 to 0.00092 (law 0.00034;
//     about 17 peaks, so this check is loose and mostly bounds the tail from above)
// Each tolerance is about 4 sd beyond the measured mean. For scale: a bin shifted by one moves
// some density by 0.22, and a sigma 10 % off moves one by 0.08, and the fraction above 3 sigma
// to 0.0043 or 0.024.
constexpr double NARROWBAND_DENSITY_TOLERANCE = 0.045;
constexpr double NARROWBAND_ABOVE3_TOLERANCE = 0.005;
constexpr double NARROWBAND_ABOVE4_TOLERANCE = 0.0009;

// Broadband, measured over seeds 1 to 40 (science_test --measure broadband 1 40):
//   largest |density - white-noise bin average|: mean 0.0098, sd 0.0029, range 0.0036 to 0.0164
//   fraction above 3 sigma: mean 0.00463, sd 0.00026, range 0.00418 to 0.00540 (law 0.00462;
//     here the binomial sd, 0.00030, fits: neighbouring peaks of white noise are nearly
//     independent)
// Tolerances again about 4 sd beyond the mean. "Fewer than Rayleigh" is taken as below 0.6 of
// Rayleigh's 0.01111: 7 sd above the white-noise mean, 3.6 sd below the narrowband one.
constexpr double BROADBAND_DENSITY_TOLERANCE = 0.022;
constexpr double BROADBAND_ABOVE3_TOLERANCE = 0.0011;
constexpr double FEWER_THAN_RAYLEIGH = 0.6;

class Science : public ::testing::TestWithParam<unsigned> {};

TEST_P(Science, NarrowbandPeaksFollowTheRayleighLaw) {
    const Analysis run = analyse(narrowband(GetParam()));
    ASSERT_EQ(run.problem, "");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.samples, 1'300'000);
    // The signal holds more peaks than the store; the first 50,000 are kept and the limit is
    // reported.
    EXPECT_EQ(run.peaks, 50'000);
    EXPECT_NE(run.errors.find("peak store filled up at 50000 peaks"), std::string::npos)
        << run.errors;
    for (int k = 0; k < BINS; ++k) {
        EXPECT_NEAR(run.density[k], rayleigh_bin(k), NARROWBAND_DENSITY_TOLERANCE)
            << "bin centred at " << k * WIDTH + WIDTH / 2 << " sigma";
    }
    EXPECT_NEAR(run.fraction_above3(), rayleigh_above(3.0), NARROWBAND_ABOVE3_TOLERANCE);
    EXPECT_NEAR(run.fraction_above4(), rayleigh_above(4.0), NARROWBAND_ABOVE4_TOLERANCE);
    // No Gaussian peak reaches 6.5 sigma here: the written bins hold all the peaks.
    EXPECT_NEAR(written_fraction(run), 1.0, 1e-3);
}

TEST_P(Science, BroadbandPeaksFollowTheWhiteNoiseLawNotRayleigh) {
    const Analysis run = analyse(broadband(GetParam()));
    ASSERT_EQ(run.problem, "");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.samples, 100'000);
    EXPECT_EQ(run.peaks, 50'000);
    // Far fewer peaks above 3 sigma than Rayleigh predicts, and far more low peaks: the
    // density is not forced to Rayleigh.
    EXPECT_LT(run.fraction_above3(), FEWER_THAN_RAYLEIGH * rayleigh_above(3.0));
    EXPECT_GT(run.density[0], 2 * rayleigh_bin(0));
    for (int k = 0; k < BINS; ++k) {
        EXPECT_NEAR(run.density[k], white_bin(k), BROADBAND_DENSITY_TOLERANCE)
            << "bin centred at " << k * WIDTH + WIDTH / 2 << " sigma";
    }
    EXPECT_NEAR(run.fraction_above3(), white_above(3.0), BROADBAND_ABOVE3_TOLERANCE);
    EXPECT_NEAR(written_fraction(run), 1.0, 1e-3);
}

// Seeds that the tolerances were not measured on.
INSTANTIATE_TEST_SUITE_P(Seeds, Science, ::testing::Values(101u, 102u));

// The closed forms of the bin averages against a numerical integral of the two densities,
// and the tail fractions against values computed independently to 30 digits.
TEST(Laws, BinAveragesAgreeWithTheDensitiesAndTheTails) {
    const auto phi = [](double x) {
        return std::exp(-x * x / 2) / std::sqrt(2 * std::numbers::pi);
    };
    const auto rayleigh = [](double x) { return x * std::exp(-x * x / 2); };
    const auto white = [&](double x) { return 24.0 / 7.0 * phi(x) * std::pow(normal_cdf(x), 2); };
    const auto bin_average = [](auto density, int k) {
        constexpr int STEPS = 200;  // Simpson's rule
        const double a = k * WIDTH;
        const double h = WIDTH / STEPS;
        double sum = density(a) + density(a + WIDTH);
        for (int i = 1; i < STEPS; ++i) {
            sum += (i % 2 == 1 ? 4 : 2) * density(a + i * h);
        }
        return sum * h / 3 / WIDTH;
    };
    double rayleigh_sum = 0.0;
    double white_sum = 0.0;
    for (int k = 0; k < BINS; ++k) {
        EXPECT_NEAR(rayleigh_bin(k), bin_average(rayleigh, k), 1e-10) << k;
        EXPECT_NEAR(white_bin(k), bin_average(white, k), 1e-10) << k;
        rayleigh_sum += rayleigh_bin(k) * WIDTH;
        white_sum += white_bin(k) * WIDTH;
    }
    EXPECT_NEAR(rayleigh_sum, 1.0 - rayleigh_above(6.5), 1e-12);
    EXPECT_NEAR(white_sum, 1.0 - white_above(6.5), 1e-12);
    EXPECT_NEAR(rayleigh_above(3.0), 0.0111089965382423, 1e-15);
    EXPECT_NEAR(rayleigh_above(4.0), 0.000335462627902512, 1e-17);
    EXPECT_NEAR(white_above(3.0), 0.00462197700642333, 1e-14);
}

// ---- Measuring the spread ----

struct Spread {
    std::vector<double> values;
    void add(double v) { values.push_back(v); }
    void print(const char* name) const {
        double sum = 0.0;
        double low = values.front();
        double high = values.front();
        for (const double v : values) {
            sum += v;
            low = std::min(low, v);
            high = std::max(high, v);
        }
        const double mean = sum / static_cast<double>(values.size());
        double squares = 0.0;
        for (const double v : values) {
            squares += (v - mean) * (v - mean);
        }
        const double sd = std::sqrt(squares / static_cast<double>(values.size() - 1));
        std::printf("%-28s mean %.6g  sd %.3g  range %.6g to %.6g\n", name, mean, sd, low, high);
    }
};

int measure(const std::string& kind, unsigned first, unsigned last) {
    const bool narrow = kind == "narrowband";
    if ((!narrow && kind != "broadband") || first > last) {
        std::fprintf(stderr, "usage: science_test --measure narrowband|broadband FIRST LAST\n");
        return 2;
    }
    double (*law)(int) = narrow ? rayleigh_bin : white_bin;
    double (*above)(double) = narrow ? rayleigh_above : white_above;
    std::printf("%s, law: %s; fraction above 3 sigma %.6g, above 4 sigma %.6g\n", kind.c_str(),
                narrow ? "Rayleigh" : "white noise", above(3.0), above(4.0));
    std::printf("seed   peaks  largest |d - law| (bin centre)  above 3   above 4\n");
    Spread deviation;
    Spread above3;
    Spread above4;
    for (unsigned seed = first; seed <= last; ++seed) {
        const Analysis run = analyse(narrow ? narrowband(seed) : broadband(seed));
        if (!run.problem.empty()) {
            std::fprintf(stderr, "seed %u: %s\n", seed, run.problem.c_str());
            return 1;
        }
        const Deviation d = largest_deviation(run, law);
        std::printf("%4u  %6ld  %.4f (%.3f)  %8ld %.5f  %3ld %.6f\n", seed, run.peaks, d.largest,
                    d.bin * WIDTH + WIDTH / 2, run.above3, run.fraction_above3(), run.above4,
                    run.fraction_above4());
        deviation.add(d.largest);
        above3.add(run.fraction_above3());
        above4.add(run.fraction_above4());
    }
    deviation.print("largest |density - law|");
    above3.print("fraction above 3 sigma");
    above4.print("fraction above 4 sigma");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 5 && std::string(argv[1]) == "--measure") {
        return measure(argv[2], static_cast<unsigned>(std::strtoul(argv[3], nullptr, 10)),
                       static_cast<unsigned>(std::strtoul(argv[4], nullptr, 10)));
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
