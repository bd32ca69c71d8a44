// Fuzz target for the whole analysis: the bytes are an input file, read by SampleReader, then
// statistics, peaks, normalisation and the density text, all in memory. Besides the
// sanitizers, the results must keep their shape: store counts within capacity, extremes on
// either side of zero, peak heights positive before normalisation, counts above 3 and 4 sigma
// ordered, and the density text 27 lines long with its fixed first line and bin centres.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>

#include "analysis_run.hpp"
#include "density.hpp"
#include "fuzz_check.hpp"
#include "number_text.hpp"
#include "peaks.hpp"
#include "samples.hpp"

namespace {

using morvel::fuzz::fail;

void check_density_text(const std::string& text, std::int32_t peak_count) {
    std::size_t line_start = 0;
    int line = 0;
    while (line_start < text.size()) {
        const std::size_t line_end = text.find('\n', line_start);
        if (line_end == std::string::npos) {
            fail("density text does not end with a line feed");
        }
        const std::string content = text.substr(line_start, line_end - line_start);
        if (line == 0) {
            if (content != "           0 0") {
                fail("first density line \"%s\"", content.c_str());
            }
        } else {
            // "%12.4g %12.4g": the centre, 0.125 + 0.25 (line - 1), then the density.
            char centre[32];
            std::snprintf(centre, sizeof centre, "%12.4g", 0.125 + 0.25 * (line - 1));
            if (content.size() != 25 || content.compare(0, 12, centre) != 0 || content[12] != ' ') {
                fail("density line %d \"%s\"", line + 1, content.c_str());
            }
            const std::string density = content.substr(13);
            if (peak_count == 0) {
                if (density != "         nan") {
                    fail("density line %d \"%s\" with no peaks", line + 1, content.c_str());
                }
            } else {
                char* end = nullptr;
                const double d = std::strtod(density.c_str(), &end);
                if (*end != '\0' || !(d >= 0.0 && d <= 4.0)) {
                    fail("density line %d \"%s\" with %d peaks", line + 1, content.c_str(),
                         peak_count);
                }
            }
        }
        ++line;
        line_start = line_end + 1;
    }
    if (line != 27) {
        fail("density text has %d lines", line);
    }
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    morvel::AnalysisRun& run = fresh_run();
    {
        morvel::SampleReader reader(run.samples, run.stats);
        reader.feed({reinterpret_cast<const char*>(data), size});
        if (reader.wants_more()) {
            reader.finish();
        }
    }
    const std::int32_t n = run.samples.count;
    if (n < 0 || n > morvel::MAX_SAMPLES) {
        fail("%d samples", n);
    }

    morvel::compute_statistics(run);
    const morvel::SignalStats& stats = run.stats;
    if (!(stats.minimum <= 0.0 && stats.maximum >= 0.0)) {
        fail("minimum %a, maximum %a", stats.minimum, stats.maximum);
    }
    if (n == 0 && !(std::isnan(stats.mean) && std::isnan(stats.standard_deviation) &&
                    std::isnan(stats.highest_sigma))) {
        fail("no samples, yet mean %a, deviation %a, highest sigma %a", stats.mean,
             stats.standard_deviation, stats.highest_sigma);
    }

    morvel::extract_peaks(run);
    const std::int32_t m = run.peaks.count;
    if (m < 0 || m > morvel::MAX_PEAKS || m > std::max(n - 2, 0)) {
        fail("%d peaks from %d samples", m, n);
    }
    for (const double peak : run.peaks.view()) {
        if (!(peak > 0.0)) {
            fail("peak height %a", peak);
        }
    }

    morvel::normalise_peaks(run);
    const std::int32_t above3 = morvel::count_above(run, 3.0);
    const std::int32_t above4 = morvel::count_above(run, 4.0);
    if (above4 < 0 || above4 > above3 || above3 > m) {
        fail("%d peaks, %d above 3 sigma, %d above 4 sigma", m, above3, above4);
    }

    check_density_text(morvel::density_text(run.peaks.view()), m);
    return 0;
}
