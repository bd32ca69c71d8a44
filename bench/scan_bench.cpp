// Throughput of number scanning and block reading on in-memory text, in bytes per second.
//
// The text is a narrowband time history from the signal generator in three styles:
//   fixed      "0.0010 -0.035360"        (4 decimals for the time, 6 for the acceleration)
//   sci7       "1.000000e-03 -3.536041e-02"  (7 significant digits)
//   general17  "0.001 -0.035360412345678901" (17 significant digits, every bit of a double)
// Each style is read three ways: std::from_chars on whitespace-separated tokens (the
// reference), morvel::scan_number, and morvel::SampleReader fed in blocks.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <system_error>

#include "analysis_run.hpp"
#include "number_scan.hpp"
#include "samples.hpp"
#include "signal_gen.hpp"

namespace {

using morvel::signal::NumberStyle;

enum class Style { fixed, sci7, general17 };

// Long enough not to sit in the cache, short enough to fit the sample store whole.
constexpr std::int64_t RECORDS = 1'000'000;

const std::string& text_of(Style style) {
    static std::string texts[3];
    std::string& text = texts[static_cast<int>(style)];
    if (text.empty()) {
        morvel::signal::SignalOptions signal;
        signal.records = RECORDS;
        morvel::signal::FormatOptions format;
        switch (style) {
            case Style::fixed:
                format.style = NumberStyle::fixed;
                format.precision = 6;
                break;
            case Style::sci7:
                format.style = NumberStyle::scientific;
                format.precision = 7;
                break;
            case Style::general17:
                format.style = NumberStyle::general;
                format.precision = 17;
                break;
        }
        text = morvel::signal::signal_text(signal, format);
    }
    return text;
}

void report(benchmark::State& state, const std::string& text, std::int64_t numbers) {
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(text.size()));
    state.counters["numbers"] = static_cast<double>(numbers);
}

// Converts every whitespace-separated number of the text with `convert(p, end, value)`, which
// returns the end of the number, or nullptr for text that is not one.
template <typename Convert>
void scan_all(benchmark::State& state, Style style, Convert convert) {
    const std::string& text = text_of(style);
    std::int64_t numbers = 0;
    for (auto _ : state) {
        const char* p = text.data();
        const char* const end = p + text.size();
        double sum = 0.0;
        numbers = 0;
        while ((p = morvel::skip_space(p, end)) < end) {
            double value = 0.0;
            p = convert(p, end, value);
            if (p == nullptr) {
                state.SkipWithError("text that is not a number");
                return;
            }
            sum += value;
            ++numbers;
        }
        benchmark::DoNotOptimize(sum);
    }
    report(state, text, numbers);
}

void BM_from_chars(benchmark::State& state, Style style) {
    scan_all(state, style, [](const char* p, const char* end, double& value) -> const char* {
        const auto [next, ec] = std::from_chars(p, end, value);
        return ec == std::errc{} ? next : nullptr;
    });
}

void BM_scan_number(benchmark::State& state, Style style) {
    scan_all(state, style, [](const char* p, const char* end, double& value) -> const char* {
        const morvel::ScanResult result = morvel::scan_number(p, end, true, value);
        return result.status == morvel::ScanStatus::ok ? result.ptr : nullptr;
    });
}

// Argument: the block size in bytes (the program reads 1 MiB blocks; small blocks weigh the
// numbers cut at block ends).
void BM_sample_reader(benchmark::State& state, Style style) {
    const std::string& text = text_of(style);
    const auto block = static_cast<std::size_t>(state.range(0));
    const auto store = std::make_unique<morvel::SampleStore>();
    morvel::SignalStats stats;
    for (auto _ : state) {
        store->count = 0;
        stats = morvel::SignalStats{};
        morvel::SampleReader reader(*store, stats);
        for (std::size_t at = 0; at < text.size() && reader.wants_more(); at += block) {
            reader.feed(std::span<const char>(text).subspan(at, std::min(block, text.size() - at)));
        }
        reader.finish();
        benchmark::DoNotOptimize(stats.sum);
    }
    if (store->count != RECORDS) {
        state.SkipWithError("the reader did not take every record");
        return;
    }
    report(state, text, 2 * static_cast<std::int64_t>(store->count));
}

}  // namespace

BENCHMARK_CAPTURE(BM_from_chars, fixed, Style::fixed)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_from_chars, sci7, Style::sci7)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_from_chars, general17, Style::general17)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_scan_number, fixed, Style::fixed)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_scan_number, sci7, Style::sci7)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_scan_number, general17, Style::general17)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_sample_reader, fixed, Style::fixed)
    ->Arg(1 << 20)
    ->Arg(4096)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_sample_reader, sci7, Style::sci7)->Arg(1 << 20)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_sample_reader, general17, Style::general17)
    ->Arg(1 << 20)
    ->Unit(benchmark::kMillisecond);
