#include "samples.hpp"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include <sched.h>
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

void SampleReader::take_scanned(std::span<const double> scanned) {
    for (const double value : scanned) {
        if (state_ == State::done) {
            return;
        }
        take(state_, !std::isnan(value), value);
    }
}

const char* scan_stretch(const char* first, const char* last, std::vector<double>& out,
                         std::size_t limit) {
    const char* p = first;
    while (out.size() < limit) {
        p = skip_space(p, last);
        if (p == last) {
            return p;
        }
        double value = 0.0;
        const ScanResult result = scan_number(p, last, false, value);
        if (result.status == ScanStatus::incomplete) {
            return p;
        }
        out.push_back(result.status == ScanStatus::ok ? value : NOT_A_NUMBER);
        if (result.ptr == p) {
            return p;  // nothing consumed: a reader stops here
        }
        p = result.ptr;
    }
    return p;
}

namespace {

// Scans stretches of text on a thread of its own, one job at a time.
class ScanAhead {
  public:
    ScanAhead() : thread_([this] { serve(); }) {}
    ~ScanAhead() {
        {
            std::lock_guard lock(mutex_);
            quit_ = true;
        }
        wake_.notify_one();
        thread_.join();
    }
    ScanAhead(const ScanAhead&) = delete;
    ScanAhead& operator=(const ScanAhead&) = delete;

    void start(const char* first, const char* last) {
        {
            std::lock_guard lock(mutex_);
            first_ = first;
            last_ = last;
            results_.clear();
            pending_ = true;
        }
        wake_.notify_one();
    }

    // Waits for the job; returns where it stopped. The values are in results().
    const char* wait() {
        std::unique_lock lock(mutex_);
        done_.wait(lock, [this] { return !pending_; });
        return stop_;
    }
    std::span<const double> results() const { return results_; }

    // At most this many values per job, so memory stays bounded however short the numbers.
    static constexpr std::size_t LIMIT = std::size_t{1} << 16;

  private:
    void serve() {
        results_.reserve(LIMIT);
        std::unique_lock lock(mutex_);
        for (;;) {
            wake_.wait(lock, [this] { return pending_ || quit_; });
            if (quit_) {
                return;
            }
            lock.unlock();
            const char* stop = scan_stretch(first_, last_, results_, LIMIT);
            lock.lock();
            stop_ = stop;
            pending_ = false;
            done_.notify_one();
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable done_;
    const char* first_ = nullptr;
    const char* last_ = nullptr;
    const char* stop_ = nullptr;
    bool pending_ = false;
    bool quit_ = false;
    std::vector<double> results_;
    std::thread thread_;
};

bool has_second_processor() {
    cpu_set_t cpus;
    return sched_getaffinity(0, sizeof cpus, &cpus) == 0 && CPU_COUNT(&cpus) > 1;
}

std::unique_ptr<ScanAhead> start_scan_ahead() {
    if (!has_second_processor()) {
        return nullptr;
    }
    try {
        return std::make_unique<ScanAhead>();
    } catch (const std::system_error&) {
        return nullptr;  // no thread to be had: read on one
    }
}

// The share of a block read on this thread: it also takes the other thread's results, which
// costs about a fifth of scanning them.
constexpr std::size_t OWN_SHARE_PERCENT = 44;
constexpr std::size_t MIN_SHARED_BLOCK = std::size_t{64} << 10;

// Reads one block, sharing the scanning with the other thread where the block is large and a
// whitespace character near its middle gives a safe place to split it.
void read_block(SampleReader& reader, std::span<const char> block, ScanAhead* ahead) {
    const char* const first = block.data();
    const char* const last = first + block.size();
    const char* split = nullptr;
    if (ahead != nullptr && block.size() >= MIN_SHARED_BLOCK) {
        split = std::find_if(first + block.size() * OWN_SHARE_PERCENT / 100, last,
                             [](char c) { return is_space(c); });
    }
    if (split == nullptr || split == last) {
        reader.feed(block);
        return;
    }
    // The whitespace at `split` ends any number before it, and is the last character read here.
    ++split;
    ahead->start(split, last);
    reader.feed({first, split});
    const char* const stop = ahead->wait();
    if (!reader.wants_more()) {
        return;
    }
    reader.take_scanned(ahead->results());
    if (reader.wants_more()) {
        reader.feed({stop, last});
    }
}

}  // namespace

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
    const std::unique_ptr<ScanAhead> ahead = start_scan_ahead();
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
        read_block(reader, {buffer.get(), static_cast<std::size_t>(got)}, ahead.get());
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
