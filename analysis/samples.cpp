#include "samples.hpp"

#include <cerrno>
#include <cmath>
#include <memory>

#include <unistd.h>

namespace morvel {

void SampleReader::add_record(double acceleration) {
    store_.values[static_cast<std::size_t>(store_.count)] = acceleration;
    ++store_.count;
    stats_.sum += acceleration;
    stats_.sum_of_squares += acceleration * acceleration;  // the correctly rounded square
}

void SampleReader::take(State what, bool is_number, double value) {
    switch (what) {
        case State::time:
            state_ = is_number ? State::acceleration : State::done;
            return;
        case State::acceleration:
            add_record(is_number ? value : 0.0);
            state_ = store_.count < MAX_SAMPLES ? State::time : State::probe;
            return;
        case State::probe:
            // Reading is over; this only tells whether a further record was left out.
            records_left_out_ = is_number;
            state_ = State::done;
            return;
        case State::done:
            return;
    }
}

const char* SampleReader::read_whole_records(const char* p, const char* end) {
    // The common case, kept tight: records whose time and acceleration both lie in the block,
    // with the running figures in registers. Anything else (a number at the block's end, text
    // that is not a number, the capacity) is left to the general loop from the record's start;
    // scanning again from there gives the same result.
    double* const values = store_.values.get();
    std::int32_t count = store_.count;
    double sum = stats_.sum;
    double sum_of_squares = stats_.sum_of_squares;
    while (count < MAX_SAMPLES) {
        const ScanResult time = skip_number(skip_space(p, end), end, false);
        if (time.status != ScanStatus::ok) {
            break;
        }
        double acceleration = 0.0;
        const ScanResult result = scan_number(skip_space(time.ptr, end), end, false, acceleration);
        if (result.status != ScanStatus::ok) {
            break;
        }
        values[static_cast<std::size_t>(count++)] = acceleration;
        sum += acceleration;
        sum_of_squares += acceleration * acceleration;
        p = result.ptr;
    }
    store_.count = count;
    stats_.sum = sum;
    stats_.sum_of_squares = sum_of_squares;
    if (count == MAX_SAMPLES) {
        state_ = State::probe;
    }
    return p;
}

bool SampleReader::feed(std::span<const char> block) {
    const char* p = block.data();
    const char* const end = p + block.size();
    if (in_number_) {
        while (p < end && accumulator_.push(*p)) {
            ++p;
        }
        if (p == end) {
            return true;
        }
        in_number_ = false;
        double value = 0.0;
        const bool is_number = accumulator_.finish(value);
        take(state_, is_number, value);
    }
    while (state_ != State::done) {
        if (state_ == State::time) {
            p = read_whole_records(p, end);
        }
        p = skip_space(p, end);
        if (p == end) {
            return true;
        }
        // Times (and the look past the capacity) are only checked: their value is never used.
        double value = 0.0;
        const ScanResult result = state_ == State::acceleration ? scan_number(p, end, false, value)
                                                                : skip_number(p, end, false);
        if (result.status == ScanStatus::incomplete) {
            accumulator_.reset();
            for (; p < end; ++p) {
                accumulator_.push(*p);
            }
            in_number_ = true;
            return true;
        }
        p = result.ptr;
        take(state_, result.status == ScanStatus::ok, value);
    }
    return false;
}

void SampleReader::finish() {
    if (in_number_) {
        in_number_ = false;
        double value = 0.0;
        const bool is_number = accumulator_.finish(value);
        take(state_, is_number, value);
    }
    if (state_ == State::acceleration) {
        add_record(0.0);  // a time with no acceleration after it still counts
    }
    state_ = State::done;
}

ReadReport read_samples(AnalysisRun& run) {
    ReadReport report;
    SampleReader reader(run.samples, run.stats);
    const auto buffer = std::make_unique_for_overwrite<char[]>(READ_BLOCK);
    while (reader.wants_more()) {
        const ssize_t got = ::read(run.input.get(), buffer.get(), READ_BLOCK);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            if (got < 0) {
                report.error = errno;  // a read error ends the input where it happened
            }
            reader.finish();
            break;
        }
        reader.feed({buffer.get(), static_cast<std::size_t>(got)});
    }
    report.records_left_out = reader.records_left_out();
    return report;
}

void compute_statistics(SampleStore& store, SignalStats& stats) {
    const double n = static_cast<double>(store.count);
    stats.mean = stats.sum / n;
    const double variance = stats.sum_of_squares / n - stats.mean * stats.mean;
    stats.standard_deviation = std::sqrt(variance);

    double minimum = 0.0;
    double maximum = 0.0;
    for (double& sample : store.view()) {
        sample -= stats.mean;
        if (sample > maximum) {
            maximum = sample;
        }
        if (sample < minimum) {
            minimum = sample;
        }
    }
    stats.minimum = minimum;
    stats.maximum = maximum;
    const double highest = std::fabs(maximum) < std::fabs(minimum) ? std::fabs(minimum) : maximum;
    stats.highest_sigma = highest / stats.standard_deviation;
}

}  // namespace morvel
