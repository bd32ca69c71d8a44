#include "samples.hpp"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cmath>
#include <memory>

#include <unistd.h>

#include "byte_masks.hpp"
#include "short_number.hpp"

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

namespace {

// Records are read a window of text at a time: first every token start of the window is
// found (16 or 32 characters per step, with no branch per character), then the records are
// taken from those starts. A token's start and its length no longer depend on the token
// before it, so the processor can work on several numbers at once.
constexpr std::ptrdiff_t WINDOW = 4096;
// Characters read past a window's end: the whitespace masks go up to 63 past it, and a
// number starting in the window is checked with SHORT_NUMBER_READ characters.
constexpr std::ptrdiff_t LOOK_AHEAD = 64;
static_assert(LOOK_AHEAD >= SHORT_NUMBER_READ);

// A token start is a character that is not whitespace, at the window's first character or
// after whitespace. Writes the offsets of the starts in [first, last) from `first` to `out`
// (room for one per two characters plus four) and returns their count. Reads up to 63
// characters past `last`.
template <class Processor>
std::size_t token_starts(const char* first, const char* last, std::uint32_t* out) noexcept {
    std::size_t count = 0;
    std::uint64_t space_before = 1;  // the window begins a token if it begins with one
    for (const char* chunk = first; chunk < last; chunk += 64) {
        const std::uint64_t space = Processor::space64(chunk);
        std::uint64_t starts = ~space & (space << 1 | space_before);
        space_before = space >> 63;
        if (last - chunk < 64) {
            starts &= (std::uint64_t{1} << (last - chunk)) - 1;
        }
        // Four offsets are written at a time whether or not the mask holds that many (`out`
        // has room): a branch per start would be mispredicted at every mask's end.
        const auto offset = static_cast<std::uint32_t>(chunk - first);
        while (starts != 0) {
            for (int j = 0; j < 4; ++j) {
                out[count] = offset + static_cast<std::uint32_t>(std::countr_zero(starts));
                count += starts != 0 ? 1 : 0;
                starts &= starts - 1;
            }
        }
    }
    return count;
}

// Reads one record at `p` with the general scanner. Returns the end of the acceleration, or
// nullptr unless both numbers lie whole in the text before `end`.
const char* whole_record(const char* p, const char* end, double& acceleration) noexcept {
    const ScanResult time = skip_number(skip_space(p, end), end, false);
    if (time.status != ScanStatus::ok) {
        return nullptr;
    }
    const ScanResult result = scan_number(skip_space(time.ptr, end), end, false, acceleration);
    return result.status == ScanStatus::ok ? result.ptr : nullptr;
}

// What reading has gathered so far: the store's values and count, and the running sums.
struct Gathered {
    double* values;
    std::int32_t count;
    double sum;
    double sum_of_squares;
};

// Reads the records that lie whole in [p, end), up to the capacity, and returns where reading
// stopped: at the end of the last record read, at the start of a record that is not whole in
// the text or not two numbers, or at the capacity. Processor gives the whitespace masks and
// the reader of short numbers' digits.
template <class Processor>
const char* read_records(Gathered& gathered, const char* p, const char* end) noexcept {
    double* const values = gathered.values;
    std::int32_t count = gathered.count;
    double sum = gathered.sum;
    double sum_of_squares = gathered.sum_of_squares;
    const auto add = [&](double acceleration) {
        values[static_cast<std::size_t>(count++)] = acceleration;
        sum += acceleration;
        sum_of_squares += acceleration * acceleration;  // the correctly rounded square
    };
    // One record by the general scanner; false if it is not whole in the text.
    const auto general_record = [&] {
        double acceleration = 0.0;
        const char* const next = whole_record(p, end, acceleration);
        if (next == nullptr) {
            return false;
        }
        add(acceleration);
        p = next;
        return true;
    };

    std::uint32_t starts[WINDOW / 2 + 4];
    // A window's records are read first and converted afterwards, in record order: two short
    // loops let the processor overlap more records than one long one.
    ShortNumber read[WINDOW / 4 + 1];
    while (count < MAX_SAMPLES) {
        if (end - p > LOOK_AHEAD) {
            const char* const base = p;
            const char* const window_end = p + std::min(WINDOW, end - p - LOOK_AHEAD);
            const std::size_t n = token_starts<Processor>(base, window_end, starts);
            std::size_t k = 0;  // starts[k] begins the next record's time
            // Records of short numbers without an exponent are read by a loop of their own;
            // after the first record that is not, the rest of the window by one that also
            // reads exponents, longer times with the general scanner's check and longer
            // accelerations with from_chars.
            bool exponents = false;
            while (k + 1 < n) {
                const auto room = static_cast<std::size_t>(MAX_SAMPLES - count);
                std::size_t records = 0;
                const char* last_end = p;
                const auto read_short_records = [&]<bool Exponents>() {
                    while (k + 1 < n && records < room) {
                        const char* const time = base + starts[k];
                        const char* const acceleration = base + starts[k + 1];
                        const char* time_end = skip_short_number<Exponents>(time);
                        if (Exponents && time_end == nullptr) {
                            // Checked only, never converted: the general scanner's check.
                            const ScanResult checked = skip_number(time, end, false);
                            time_end = checked.status == ScanStatus::ok && is_space(*checked.ptr)
                                           ? checked.ptr
                                           : nullptr;
                        }
                        const char* acceleration_end =
                            time_end != nullptr
                                ? read_short_number<typename Processor::Digits, Exponents>(
                                      acceleration, read[records])
                                : nullptr;
                        if (Exponents && acceleration_end == nullptr && time_end != nullptr) {
                            acceleration_end = read_long_number(acceleration, end, read[records]);
                        }
                        if (acceleration_end == nullptr) {
                            return false;
                        }
                        ++records;
                        k += 2;
                        last_end = acceleration_end;
                    }
                    return true;
                };
                if (!exponents && !read_short_records.template operator()<false>()) {
                    exponents = true;
                }
                if (exponents) {
                    read_short_records.template operator()<true>();
                }
                for (std::size_t i = 0; i < records; ++i) {
                    add(short_number_value(read[i]));
                }
                p = last_end;
                if (k + 1 >= n || count == MAX_SAMPLES) {
                    break;
                }
                // Not a short number: the general scanner reads on until a record ends at
                // whitespace, where the starts found apply again.
                do {
                    if (count == MAX_SAMPLES || !general_record()) {
                        goto stop;
                    }
                } while (!is_space(*p));
                if (p >= window_end) {
                    break;
                }
                while (k < n && starts[k] < static_cast<std::uint32_t>(p - base)) {
                    ++k;
                }
            }
            if (p != base) {
                continue;
            }
        }
        if (!general_record()) {
            break;
        }
    }
stop:
    gathered.count = count;
    gathered.sum = sum;
    gathered.sum_of_squares = sum_of_squares;
    return p;
}

// The record loop compiled for any processor, and for x86-64 processors with AVX2, BMI1,
// BMI2 and POPCNT (made since 2013-2015), where the digits are gathered by a byte shuffle and
// bit operations take fewer instructions. Both read exactly the same values.
struct AnyProcessor {
    using Digits = WordDigits;
    static std::uint64_t space64(const char* p) noexcept { return masks::space64(p); }
};

[[gnu::flatten]] const char* read_records_portable(Gathered& gathered, const char* p,
                                                   const char* end) noexcept {
    return read_records<AnyProcessor>(gathered, p, end);
}

#if defined(__x86_64__)
struct Avx2Processor {
    using Digits = ShuffleDigits;
    [[gnu::target("avx2")]] static std::uint64_t space64(const char* p) noexcept {
        return masks::space64_avx2(p);
    }
};

[[gnu::flatten, gnu::target("avx2,bmi,bmi2,popcnt")]] const char* read_records_avx2(
    Gathered& gathered, const char* p, const char* end) noexcept {
    return read_records<Avx2Processor>(gathered, p, end);
}
#endif

bool processor_has_avx2() noexcept {
#if defined(__x86_64__)
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") &&
           __builtin_cpu_supports("bmi2") && __builtin_cpu_supports("popcnt");
#else
    return false;
#endif
}

}  // namespace

SampleReader::SampleReader(SampleStore& store, SignalStats& stats, ReadPath path) noexcept
    : store_(store), stats_(stats), avx2_(path == ReadPath::best && processor_has_avx2()) {}

const char* SampleReader::read_whole_records(const char* p, const char* end) {
    // The common case, kept tight: records whose time and acceleration both lie in the block.
    // Anything else (a number at the block's end, text that is not a number, the capacity) is
    // left to the general loop from the record's start; scanning again from there gives the
    // same result.
    Gathered gathered{store_.values.get(), store_.count, stats_.sum, stats_.sum_of_squares};
#if defined(__x86_64__)
    p = avx2_ ? read_records_avx2(gathered, p, end) : read_records_portable(gathered, p, end);
#else
    p = read_records_portable(gathered, p, end);
#endif
    store_.count = gathered.count;
    stats_.sum = gathered.sum;
    stats_.sum_of_squares = gathered.sum_of_squares;
    if (store_.count == MAX_SAMPLES) {
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

    // Four running extremes, over every fourth sample each, then combined: a sample replaces
    // an extreme only if strictly beyond it, so the result is the same value, bit for bit, as
    // one pass would give (equal values other than zeros have equal bits, and no zero of
    // either sign replaces the starting 0.0). Four let the comparisons overlap.
    const double mean = stats.mean;
    double minimum[4] = {0.0, 0.0, 0.0, 0.0};
    double maximum[4] = {0.0, 0.0, 0.0, 0.0};
    const std::span<double> samples = store.view();
    std::size_t i = 0;
    for (; i + 4 <= samples.size(); i += 4) {
        for (std::size_t lane = 0; lane < 4; ++lane) {
            const double sample = samples[i + lane] - mean;
            samples[i + lane] = sample;
            maximum[lane] = sample > maximum[lane] ? sample : maximum[lane];
            minimum[lane] = sample < minimum[lane] ? sample : minimum[lane];
        }
    }
    for (; i < samples.size(); ++i) {
        const double sample = samples[i] - mean;
        samples[i] = sample;
        maximum[0] = sample > maximum[0] ? sample : maximum[0];
        minimum[0] = sample < minimum[0] ? sample : minimum[0];
    }
    for (std::size_t lane = 1; lane < 4; ++lane) {
        maximum[0] = maximum[lane] > maximum[0] ? maximum[lane] : maximum[0];
        minimum[0] = minimum[lane] < minimum[0] ? minimum[lane] : minimum[0];
    }
    stats.minimum = minimum[0];
    stats.maximum = maximum[0];
    const double highest =
        std::fabs(maximum[0]) < std::fabs(minimum[0]) ? std::fabs(minimum[0]) : maximum[0];
    stats.highest_sigma = highest / stats.standard_deviation;
}

}  // namespace morvel
