// Reading the time history into the sample store, and the signal statistics.
#pragma once

#include <cstddef>
#include <span>

#include "analysis_run.hpp"
#include "number_scan.hpp"

namespace morvel {

// Reads records of (time, acceleration) from input that arrives in blocks of any size.
// Each record is read as by C's "%lf %lf \n": a record counts as soon as its time was read,
// with acceleration 0.0 when none follows. Reading stops at the end of the input, at text
// that is not a number where a time should be, or after MAX_SAMPLES records. Every counted
// acceleration is stored and added, in record order, to the running sum and sum of squares.
class SampleReader {
  public:
    // Which record loop to use: the fastest this processor runs, or the one for any
    // processor (both read the same values; tests compare them).
    enum class ReadPath : std::uint8_t { best, portable };

    SampleReader(SampleStore& store, SignalStats& stats, ReadPath path = ReadPath::best) noexcept;

    // Reads from the next block of input. Returns false once no further input is wanted.
    bool feed(std::span<const char> block);
    // The input has ended.
    void finish();

    bool wants_more() const noexcept { return state_ != State::done; }
    // True if reading stopped at the capacity with at least one more record in the input.
    bool records_left_out() const noexcept { return records_left_out_; }

  private:
    enum class State : std::uint8_t { time, acceleration, probe, done };

    void take(State what, bool is_number, double value);
    const char* read_whole_records(const char* p, const char* end);
    void add_record(double acceleration);

    SampleStore& store_;
    SignalStats& stats_;
    State state_ = State::time;
    bool in_number_ = false;  // a number reaching past the last block is being accumulated
    bool records_left_out_ = false;
    bool avx2_ = false;  // the record loop for x86-64 processors with AVX2 is used
    NumberAccumulator accumulator_;
};

struct ReadReport {
    int error = 0;                  // errno of a failed read, 0 if the input was read to its end
    bool records_left_out = false;  // the input held more than MAX_SAMPLES records
};

// Reads the run's input file into its sample store, in blocks of READ_BLOCK bytes: small
// enough for a block to stay in the processor's near caches between the copy and the scan
// (measured 1.5-2 ms faster on 2,000,000 records than 1 MiB blocks).
inline constexpr std::size_t READ_BLOCK = std::size_t{64} << 10;
ReadReport read_samples(AnalysisRun& run);

// Mean and population standard deviation from the running sums; removes the mean from the
// samples in place; finds the extremes (starting from 0) and the highest excursion in sigma.
void compute_statistics(SampleStore& store, SignalStats& stats);
inline void compute_statistics(AnalysisRun& run) {
    compute_statistics(run.samples, run.stats);
}

}  // namespace morvel
