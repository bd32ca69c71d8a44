#include "peaks.hpp"

#include <cmath>

namespace morvel {

bool extract_peaks(std::span<const double> a, PeakStore& peaks) {
    peaks.count = 0;
    if (a.size() < 3) {
        return false;
    }
    const std::size_t last_interior = a.size() - 2;
    for (std::size_t i = 1; i <= last_interior; ++i) {
        const bool crest = a[i] >= a[i - 1] && a[i] >= a[i + 1] && a[i] > 0.0;
        const bool trough = !crest && a[i] <= a[i - 1] && a[i] <= a[i + 1] && a[i] < 0.0;
        if (crest || trough) {
            peaks.values[static_cast<std::size_t>(peaks.count)] = std::fabs(a[i]);
            if (++peaks.count == MAX_PEAKS) {
                return i < last_interior;
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
