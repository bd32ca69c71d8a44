// Peaks of the de-meaned signal and how many exceed a height.
#pragma once

#include <cstdint>
#include <span>

#include "analysis_run.hpp"

namespace morvel {

// Stores |a[i]| for every interior sample that is a crest (>= both neighbours and > 0) or a
// trough (<= both neighbours and < 0), in signal order. Every sample of a flat crest counts.
// Stops storing as soon as the store holds MAX_PEAKS. Returns true if a further peak was
// left out for that reason.
bool extract_peaks(std::span<const double> samples, PeakStore& peaks);
inline bool extract_peaks(AnalysisRun& run) {
    return extract_peaks(run.samples.view(), run.peaks);
}

// Divides every stored peak by the standard deviation, turning heights in G into sigma.
void normalise_peaks(PeakStore& peaks, double standard_deviation);
inline void normalise_peaks(AnalysisRun& run) {
    normalise_peaks(run.peaks, run.stats.standard_deviation);
}

// The number of stored peaks strictly greater than `threshold`.
std::int32_t count_above(const PeakStore& peaks, double threshold);
inline std::int32_t count_above(const AnalysisRun& run, double threshold) {
    return count_above(run.peaks, threshold);
}

}  // namespace morvel
