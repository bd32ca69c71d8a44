// Fuzz target for the whole analysis: the bytes are an input file, read by SampleReader, then
// statistics, peaks, normalisation, the counts above 3 and 4 sigma and the density text, all
// in memory. Every result must equal, bit for bit, what the plain implementation of
// reference.hpp computes from the same bytes, and keep its shape: counts within capacity,
// extremes on either side of zero, 27 lines of density text starting "           0 0".
//
// An input starting with '#' holds no samples; it is checked as it is, and then the text
// after the '#' is repeated to over 420 KiB and analysed from a file through read_samples,
// so that large blocks are read and the peak store can fill up.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "analysis_run.hpp"
#include "density.hpp"
#include "fuzz_check.hpp"
#include "large_input.hpp"
#include "peaks.hpp"
#include "reference.hpp"
#include "samples.hpp"

namespace {

using morvel::fuzz::fail;
namespace ref = morvel::fuzz::reference;

constexpr std::size_t LARGE_TEXT = 420 << 10;

// Equal bits, or both not-a-number (whose sign and payload carry no meaning here).
bool same(double a, double b) {
    return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b) ||
           (std::isnan(a) && std::isnan(b));
}

void compare_values(const char* what, std::span<const double> actual,
                    const std::vector<double>& expected) {
    if (actual.size() != expected.size()) {
        fail("%zu %s, reference has %zu", actual.size(), what, expected.size());
    }
    for (std::size_t k = 0; k < actual.size(); ++k) {
        if (!same(actual[k], expected[k])) {
            fail("%s %zu is %a, reference %a", what, k, actual[k], expected[k]);
        }
    }
}

void check_shape(const morvel::AnalysisRun& run, const std::string& density) {
    const std::int32_t n = run.samples.count;
    const std::int32_t m = run.peaks.count;
    if (n < 0 || n > morvel::MAX_SAMPLES || m < 0 || m > morvel::MAX_PEAKS ||
        m > std::max(n - 2, 0)) {
        fail("%d samples, %d peaks", n, m);
    }
    if (!(run.stats.minimum <= 0.0 && run.stats.maximum >= 0.0)) {
        fail("minimum %a, maximum %a", run.stats.minimum, run.stats.maximum);
    }
    if (std::count(density.begin(), density.end(), '\n') != 27 || density.back() != '\n' ||
        density.compare(0, 15, "           0 0\n") != 0) {
        fail("density text \"%s\"", density.c_str());
    }
}

void analyse(morvel::AnalysisRun& run, const ref::Analysis& read) {
    ref::Analysis expected = read;
    const morvel::SignalStats& stats = run.stats;
    if (!same(stats.sum, expected.stats.sum) ||
        !same(stats.sum_of_squares, expected.stats.sum_of_squares)) {
        fail("sums %a, %a; reference %a, %a", stats.sum, stats.sum_of_squares, expected.stats.sum,
             expected.stats.sum_of_squares);
    }
    compare_values("samples read", run.samples.view(), expected.samples);

    morvel::compute_statistics(run);
    ref::compute_statistics(expected);
    const double actual_stats[] = {stats.mean, stats.standard_deviation, stats.minimum,
                                   stats.maximum, stats.highest_sigma};
    const double expected_stats[] = {expected.stats.mean, expected.stats.standard_deviation,
                                     expected.stats.minimum, expected.stats.maximum,
                                     expected.stats.highest_sigma};
    for (std::size_t k = 0; k < std::size(actual_stats); ++k) {
        if (!same(actual_stats[k], expected_stats[k])) {
            fail(
                "statistic %zu (mean, deviation, minimum, maximum, highest sigma) is %a, "
                "reference %a",
                k, actual_stats[k], expected_stats[k]);
        }
    }
    compare_values("de-meaned samples", run.samples.view(), expected.samples);

    morvel::extract_peaks(run);
    ref::extract_peaks(expected);
    compare_values("peaks", run.peaks.view(), expected.peaks);

    morvel::normalise_peaks(run);
    ref::normalise_peaks(expected);
    compare_values("normalised peaks", run.peaks.view(), expected.peaks);

    for (const double t : {3.0, 4.0}) {
        const std::int32_t above = morvel::count_above(run, t);
        if (above != ref::count_above(expected, t)) {
            fail("%d peaks above %g, reference %d", above, t, ref::count_above(expected, t));
        }
    }

    const std::string density = morvel::density_text(run.peaks.view());
    const std::string expected_density = ref::density_text(expected);
    if (density != expected_density) {
        fail("density text\n%s\nreference\n%s", density.c_str(), expected_density.c_str());
    }
    check_shape(run, density);
}

// The run's stores are large, so one run serves every input; it is put back to its initial
// state (every slot zero) before each one.
morvel::AnalysisRun& fresh_run() {
    static morvel::AnalysisRun run;
    std::fill_n(run.samples.values.get(), run.samples.count, 0.0);
    std::fill_n(run.peaks.values.get(), run.peaks.count, 0.0);
    run.samples.count = 0;
    run.peaks.count = 0;
    run.stats = {};
    return run;
}

void check_large(const char* text, std::size_t text_size) {
    morvel::AnalysisRun& run = fresh_run();
    const morvel::fuzz::RepeatedRead read =
        morvel::fuzz::read_repeated(text, text_size, LARGE_TEXT, run);
    analyse(run, read.expected);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    const char* const text = reinterpret_cast<const char*>(data);
    ref::Analysis expected;
    ref::read_records(expected, text, text + size);

    morvel::AnalysisRun& run = fresh_run();
    {
        morvel::SampleReader reader(run.samples, run.stats);
        reader.feed({text, size});
        if (reader.wants_more()) {
            reader.finish();
        }
    }
    analyse(run, expected);

    if (size > 1 && text[0] == '#') {
        check_large(text + 1, size - 1);
    }
    return 0;
}
