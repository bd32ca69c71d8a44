// Differential fuzz target for the sample reader. The bytes are read by SampleReader twice,
// once as a single block and once cut into blocks at places the input chooses, and by a
// reference reader below that follows C's "%lf %lf \n" record by record, one character at a
// time, converting the accepted text with strtod. All three must find the same records with
// bit-identical accelerations and the same running sums.
//
// Input layout: byte 0 holds the number c of block lengths (its low three bits); the next c
// bytes are block lengths (each byte modulo 32, so 'a' is 1 and '`' is 0, an empty block),
// used in turn until the text ends. Everything after them is the text. An input starting
// with '0' is therefore the text after it, read in one block both times.
#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "analysis_run.hpp"
#include "fuzz_check.hpp"
#include "samples.hpp"

namespace {

using morvel::fuzz::fail;

struct Reference {
    std::vector<double> accelerations;
    double sum = 0.0;
    double sum_of_squares = 0.0;
};

bool is_c_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

// Where a text stands on its way to being a number; every state but Reject can still be
// completed to a number.
enum class Prefix { empty, sign, digits, point, fraction, exp_mark, exp_sign, exp_digits, reject };

Prefix next(Prefix state, char c) {
    const bool sign = c == '+' || c == '-';
    const bool exp = c == 'e' || c == 'E';
    switch (state) {
        case Prefix::empty:
            if (sign) {
                return Prefix::sign;
            }
            [[fallthrough]];
        case Prefix::sign:
            if (is_digit(c)) {
                return Prefix::digits;
            }
            return c == '.' ? Prefix::point : Prefix::reject;
        case Prefix::digits:
            if (is_digit(c)) {
                return Prefix::digits;
            }
            if (c == '.') {
                return Prefix::fraction;
            }
            return exp ? Prefix::exp_mark : Prefix::reject;
        case Prefix::point:
            return is_digit(c) ? Prefix::fraction : Prefix::reject;
        case Prefix::fraction:
            if (is_digit(c)) {
                return Prefix::fraction;
            }
            return exp ? Prefix::exp_mark : Prefix::reject;
        case Prefix::exp_mark:
            if (sign) {
                return Prefix::exp_sign;
            }
            [[fallthrough]];
        case Prefix::exp_sign:
        case Prefix::exp_digits:
            return is_digit(c) ? Prefix::exp_digits : Prefix::reject;
        case Prefix::reject:
            break;
    }
    return Prefix::reject;
}

// One "%lf" conversion without the leading whitespace skip: consumes the longest run that is
// a number or the beginning of one, and converts it if it is a whole number.
bool read_number(const char*& p, const char* end, double& value) {
    Prefix state = Prefix::empty;
    const char* q = p;
    while (q < end && next(state, *q) != Prefix::reject) {
        state = next(state, *q);
        ++q;
    }
    const std::string text(p, q);
    p = q;
    if (state != Prefix::digits && state != Prefix::fraction && state != Prefix::exp_digits) {
        return false;
    }
    value = std::strtod(text.c_str(), nullptr);
    return true;
}

void skip_space(const char*& p, const char* end) {
    while (p < end && is_c_space(*p)) {
        ++p;
    }
}

Reference read_reference(const char* p, const char* end) {
    Reference ref;
    while (ref.accelerations.size() < static_cast<std::size_t>(morvel::MAX_SAMPLES)) {
        double time = 0.0;
        skip_space(p, end);
        if (!read_number(p, end, time)) {
            break;
        }
        double acceleration = 0.0;
        skip_space(p, end);
        if (!read_number(p, end, acceleration)) {
            acceleration = 0.0;  // the record counts with its slot left at 0.0
        }
        skip_space(p, end);
        ref.accelerations.push_back(acceleration);
        ref.sum += acceleration;
        ref.sum_of_squares += acceleration * acceleration;
    }
    return ref;
}

// The stores are large (every slot zero at the start), so one pair serves every input: after
// each input the slots it may have touched are zeroed again.
morvel::SampleStore& reusable_store(int which) {
    static morvel::SampleStore stores[2];
    return stores[which];
}

void clear(morvel::SampleStore& store, std::size_t touched) {
    std::fill_n(store.values.get(), touched, 0.0);
    store.count = 0;
}

std::uint64_t bits(double x) {
    return std::bit_cast<std::uint64_t>(x);
}

// Feeds the blocks as the file reader does: stop once the reader wants no more, and end the
// input if it still does.
void read_blocks(const std::vector<std::span<const char>>& blocks, morvel::SampleStore& store,
                 morvel::SignalStats& stats) {
    morvel::SampleReader reader(store, stats);
    for (const auto block : blocks) {
        if (!reader.wants_more()) {
            break;
        }
        const bool more = reader.feed(block);
        if (more != reader.wants_more()) {
            fail("feed returned %d but wants_more is %d", more, reader.wants_more());
        }
    }
    if (reader.wants_more()) {
        reader.finish();
    }
    if (reader.wants_more()) {
        fail("reader still wants input after finish");
    }
}

// Compares the records and sums with the reference; returns how many slots were checked.
std::size_t compare(const char* how, const Reference& ref, const morvel::SampleStore& store,
                    const morvel::SignalStats& stats, std::size_t text_size) {
    const auto n = static_cast<std::size_t>(store.count);
    if (n != ref.accelerations.size()) {
        fail("%s: %zu records read, reference reads %zu", how, n, ref.accelerations.size());
    }
    for (std::size_t k = 0; k < n; ++k) {
        if (bits(store.values[k]) != bits(ref.accelerations[k])) {
            fail("%s: record %zu acceleration %a, reference %a", how, k, store.values[k],
                 ref.accelerations[k]);
        }
    }
    // Slots past the count stay untouched.
    const std::size_t limit =
        std::min(n + text_size + 2, static_cast<std::size_t>(morvel::MAX_SAMPLES));
    for (std::size_t k = n; k < limit; ++k) {
        if (bits(store.values[k]) != 0) {
            fail("%s: slot %zu past the %zu records holds %a", how, k, n, store.values[k]);
        }
    }
    if (bits(stats.sum) != bits(ref.sum) ||
        bits(stats.sum_of_squares) != bits(ref.sum_of_squares)) {
        fail("%s: sums %a, %a; reference %a, %a", how, stats.sum, stats.sum_of_squares, ref.sum,
             ref.sum_of_squares);
    }
    return limit;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    std::size_t offset = 0;
    std::vector<std::size_t> lengths;
    if (size > 0) {
        const std::size_t wanted = data[0] & 7u;
        offset = 1;
        while (lengths.size() < wanted && offset < size) {
            lengths.push_back(data[offset++] % 32u);
        }
    }
    const char* const text = reinterpret_cast<const char*>(data) + offset;
    const std::size_t text_size = size - offset;

    const Reference ref = read_reference(text, text + text_size);

    {
        morvel::SampleStore& store = reusable_store(0);
        morvel::SignalStats stats;
        read_blocks({std::span<const char>(text, text_size)}, store, stats);
        clear(store, compare("one block", ref, store, stats, text_size));
    }

    std::vector<std::span<const char>> blocks;
    std::size_t at = 0;
    std::size_t total = 0;
    for (const std::size_t length : lengths) {
        total += length;
    }
    if (total == 0) {
        blocks.assign(lengths.size(), std::span<const char>(text, 0));
    }
    for (std::size_t i = 0; at < text_size && total > 0; i = (i + 1) % lengths.size()) {
        const std::size_t length = std::min(lengths[i], text_size - at);
        blocks.emplace_back(text + at, length);
        at += length;
    }
    if (at < text_size) {
        blocks.emplace_back(text + at, text_size - at);
    }
    {
        morvel::SampleStore& store = reusable_store(1);
        morvel::SignalStats stats;
        read_blocks(blocks, store, stats);
        clear(store, compare("split blocks", ref, store, stats, text_size));
    }
    return 0;
}
