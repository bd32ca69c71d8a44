#include "peaks.hpp"

#include <cmath>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace morvel {

namespace {

// An interior sample that is a crest above zero or a trough below it.
bool is_peak(std::span<const double> a, std::size_t i) {
    const bool crest = a[i] >= a[i - 1] && a[i] >= a[i + 1] && a[i] > 0.0;
    const bool trough = a[i] <= a[i - 1] && a[i] <= a[i + 1] && a[i] < 0.0;
    return crest || trough;
}

}  // namespace

bool extract_peaks(std::span<const double> a, PeakStore& peaks) {
    peaks.count = 0;
    if (a.size() < 3) {
        return false;
    }
    const std::size_t last_interior = a.size() - 2;
    std::size_t i = 1;
#if defined(__SSE2__)
    // Two samples at a time while the store has room for both: peaks are rare, so the
    // comparisons are made for the pair at once and only a pair holding a peak branches.
    // The vector comparisons are the scalar ones (false for not-a-number alike).
    double* const values = peaks.values.get();
    auto count = static_cast<std::size_t>(peaks.count);
    const __m128d zero = _mm_setzero_pd();
    for (; i + 1 <= last_interior && count + 2 <= static_cast<std::size_t>(MAX_PEAKS); i += 2) {
        const __m128d before = _mm_loadu_pd(&a[i - 1]);
        const __m128d here = _mm_loadu_pd(&a[i]);
        const __m128d after = _mm_loadu_pd(&a[i + 1]);
        const __m128d crest =
            _mm_and_pd(_mm_and_pd(_mm_cmpge_pd(here, before), _mm_cmpge_pd(here, after)),
                       _mm_cmpgt_pd(here, zero));
        const __m128d trough =
            _mm_and_pd(_mm_and_pd(_mm_cmple_pd(here, before), _mm_cmple_pd(here, after)),
                       _mm_cmplt_pd(here, zero));
        const int found = _mm_movemask_pd(_mm_or_pd(crest, trough));
        if (found != 0) {
            if ((found & 1) != 0) {
                values[count++] = std::fabs(a[i]);
            }
            if ((found & 2) != 0) {
                values[count++] = std::fabs(a[i + 1]);
            }
        }
    }
    peaks.count = static_cast<std::int32_t>(count);
#endif
    for (; i <= last_interior; ++i) {
        if (peaks.count == MAX_PEAKS) {
            // The store is full: look on only to tell whether any peak is left out.
            for (std::size_t j = i; j <= last_interior; ++j) {
                if (is_peak(a, j)) {
                    return true;
                }
            }
            return false;
        }
        if (is_peak(a, i)) {
            peaks.values[static_cast<std::size_t>(peaks.count++)] = std::fabs(a[i]);
        }
    }
    return false;  // every interior sample examined (the store may have filled at the last)
}

void normalise_peaks(PeakStore& peaks, double standard_deviation) {
    for (double& peak : peaks.view()) {
        peak = peak / standard_deviation;
    }
}

std::int32_t count_above(const PeakStore& peaks, double threshold) {
    std::int32_t count = 0;
    for (const double peak : peaks.view()) {
        if (peak > threshold) {
            ++count;
        }
    }
    return count;
}

}  // namespace morvel
