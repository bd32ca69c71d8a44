#include "peaks.hpp"

#include <cmath>

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
    for (std::size_t i = 1; i <= last_interior; ++i) {
        if (is_peak(a, i)) {
            peaks.values[static_cast<std::size_t>(peaks.count)] = std::fabs(a[i]);
            if (++peaks.count == MAX_PEAKS) {
                // The store is full: look on only to tell whether any peak is left out.
                for (std::size_t j = i + 1; j <= last_interior; ++j) {
                    if (is_peak(a, j)) {
                        return true;
                    }
                }
                return false;
            }
        }
    }
    return false;
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
