#include "peaks.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <vector>

namespace {

using morvel::PeakStore;

std::vector<double> peaks_of(const std::vector<double>& samples, bool* left_out = nullptr) {
    auto store = std::make_unique<PeakStore>();
    const bool dropped = morvel::extract_peaks(samples, *store);
    if (left_out != nullptr) {
        *left_out = dropped;
    }
    const auto v = store->view();
    return {v.begin(), v.end()};
}

struct PeakCase {
    std::vector<double> samples;
    std::vector<double> peaks;
};

class Peaks : public testing::TestWithParam<PeakCase> {};

TEST_P(Peaks, AreInteriorCrestsAboveAndTroughsBelowZero) {
    EXPECT_EQ(peaks_of(GetParam().samples), GetParam().peaks);
}

INSTANTIATE_TEST_SUITE_P(
    Signals, Peaks,
    testing::Values(PeakCase{{}, {}}, PeakCase{{5}, {}}, PeakCase{{1, 5}, {}},
                    PeakCase{{0, 2, 2, 2, 0}, {2, 2, 2}},  // every sample of a flat crest
                    PeakCase{{0, -1, -3, -1, 0}, {3}},     // a trough
                    PeakCase{{0, -1, 0, -1}, {1}},         // the last sample is never a peak
                    PeakCase{{3, 1, 2}, {}},               // nor the first
                    PeakCase{{1, 0, 1}, {}},               // zero is never a peak
                    PeakCase{{-1, 0, -1}, {}}, PeakCase{{0, 0, 0}, {}},
                    PeakCase{{0, 1, -1, 2, -2, 0}, {1, 1, 2, 2}},
                    PeakCase{{0, 0.5, 0.25, 0.5, 0}, {0.5, 0.5}},
                    PeakCase{{-2, -1, -2}, {}},  // a crest below zero is no peak
                    PeakCase{{2, 1, 2}, {}}));   // a trough above zero neither

std::vector<double> alternating(std::size_t n) {
    std::vector<double> a(n);
    for (std::size_t i = 0; i < n; ++i) {
        a[i] = i % 2 == 0 ? 1.0 : -1.0;
    }
    return a;
}

// `lead` + 1 zeros (no peaks), then `peaks` samples of alternating sign (each a peak), then
// `tail` zeros.
std::vector<double> spaced(std::size_t lead, std::size_t peaks, std::size_t tail) {
    std::vector<double> a(lead + 1, 0.0);
    const std::vector<double> middle = alternating(peaks);
    a.insert(a.end(), middle.begin(), middle.end());
    a.insert(a.end(), tail, 0.0);
    return a;
}

// Peaks are looked for two samples at a time: the store fills on the first or the second of
// a pair, as `lead` says.
TEST(Peaks, StoreKeepsTheFirstPeaksAndSaysWhetherAnyWasLeftOut) {
    const auto max = static_cast<std::size_t>(morvel::MAX_PEAKS);
    for (const std::size_t lead : {0, 1}) {
        bool left_out = true;
        // Exactly MAX_PEAKS peaks: the store fills at the last interior sample.
        EXPECT_EQ(peaks_of(spaced(lead, max, 1), &left_out).size(), max) << lead;
        EXPECT_FALSE(left_out) << lead;

        // The store fills before the end, but no later sample is a peak.
        EXPECT_EQ(peaks_of(spaced(lead, max, 3), &left_out).size(), max) << lead;
        EXPECT_FALSE(left_out) << lead;

        // One peak more than the store holds.
        const std::vector<double> kept = peaks_of(spaced(lead, max + 1, 1), &left_out);
        EXPECT_EQ(kept.size(), max) << lead;
        EXPECT_TRUE(left_out) << lead;
        EXPECT_EQ(kept.back(), 1.0) << lead;
    }
    bool left_out = true;
    EXPECT_EQ(peaks_of(alternating(max + 2), &left_out).size(), max);  // no room to spare
    EXPECT_FALSE(left_out);
}

TEST(Peaks, NormaliseDividesByTheStandardDeviation) {
    auto store = std::make_unique<PeakStore>();
    morvel::extract_peaks(std::vector<double>{0, 2, -4, 3, 0}, *store);
    morvel::normalise_peaks(*store, 2.0);
    EXPECT_EQ((std::vector<double>{store->view().begin(), store->view().end()}),
              (std::vector<double>{1.0, 2.0, 1.5}));

    morvel::normalise_peaks(*store, 0.0);
    EXPECT_TRUE(std::isinf(store->view()[0]));
}

TEST(Peaks, CountAboveIsStrict) {
    auto store = std::make_unique<PeakStore>();
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (const double p : {3.0, 3.0001, 4.0, 2.9, inf, nan}) {
        store->values[static_cast<std::size_t>(store->count++)] = p;
    }
    EXPECT_EQ(morvel::count_above(*store, 3.0), 3);  // 3.0001, 4, inf
    EXPECT_EQ(morvel::count_above(*store, 4.0), 1);  // inf; nan is above nothing
}

}  // namespace
