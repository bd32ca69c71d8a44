// Differential fuzz target for the sample reader. The bytes are read by SampleReader twice,
// once as a single block and once cut into blocks at places the input chooses, and by the
// plain reader of reference.hpp. All must find the same records with bit-identical
// accelerations and the same running sums.
//
// Input layout: byte 0 holds the number c of block lengths (its low three bits); the next c
// bytes are block lengths (each byte modulo 32, so 'a' is 1 and '`' is 0, an empty block),
// used in turn until the text ends. Everything after them is the text. An input starting
// with '0' is therefore the text after it, read in one block both times. When bits 3 to 5
// of byte 0 are all set, the text is also repeated and read from a file by read_samples,
// which reads large blocks differently: to over 70 KiB ('8' to '?'), or to over 300 KiB when
// bit 6 is set too ('x' to DEL), where many short numbers fill the read-ahead.
#include <algorithm>
#include <bit>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "analysis_run.hpp"
#include "fuzz_check.hpp"
#include "large_input.hpp"
#include "reference.hpp"
#include "samples.hpp"

namespace {

using morvel::fuzz::fail;
namespace ref = morvel::fuzz::reference;

constexpr std::size_t LARGE_TEXT = 70 << 10;
constexpr std::size_t LARGER_TEXT = 300 << 10;

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
std::size_t compare(const char* how, const ref::Analysis& expected,
                    const morvel::SampleStore& store, const morvel::SignalStats& stats,
                    std::size_t text_size) {
    const auto n = static_cast<std::size_t>(store.count);
    if (n != expected.samples.size()) {
        fail("%s: %zu records read, reference reads %zu", how, n, expected.samples.size());
    }
    for (std::size_t k = 0; k < n; ++k) {
        if (bits(store.values[k]) != bits(expected.samples[k])) {
            fail("%s: record %zu acceleration %a, reference %a", how, k, store.values[k],
                 expected.samples[k]);
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
    if (bits(stats.sum) != bits(expected.stats.sum) ||
        bits(stats.sum_of_squares) != bits(expected.stats.sum_of_squares)) {
        fail("%s: sums %a, %a; reference %a, %a", how, stats.sum, stats.sum_of_squares,
             expected.stats.sum, expected.stats.sum_of_squares);
    }
    return limit;
}

// The text repeated to over `length` bytes, read from a file by read_samples.
void check_large(const char* text, std::size_t text_size, std::size_t length) {
    static morvel::AnalysisRun run;
    run.stats = {};
    const morvel::fuzz::RepeatedRead read =
        morvel::fuzz::read_repeated(text, text_size, length, run);
    clear(run.samples, compare("read_samples", read.expected, run.samples, run.stats, read.size));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    std::size_t offset = 0;
    std::vector<std::size_t> lengths;
    std::size_t large = 0;
    if (size > 0) {
        const std::size_t wanted = data[0] & 7u;
        if ((data[0] & 0x38u) == 0x38u) {
            large = (data[0] & 0x40u) != 0 ? LARGER_TEXT : LARGE_TEXT;
        }
        offset = 1;
        while (lengths.size() < wanted && offset < size) {
            lengths.push_back(data[offset++] % 32u);
        }
    }
    const char* const text = reinterpret_cast<const char*>(data) + offset;
    const std::size_t text_size = size - offset;

    ref::Analysis expected;
    ref::read_records(expected, text, text + text_size);

    {
        morvel::SampleStore& store = reusable_store(0);
        morvel::SignalStats stats;
        read_blocks({std::span<const char>(text, text_size)}, store, stats);
        clear(store, compare("one block", expected, store, stats, text_size));
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
        clear(store, compare("split blocks", expected, store, stats, text_size));
    }

    if (large > 0 && text_size > 0) {
        check_large(text, text_size, large);
    }
    return 0;
}
