// The probability density of peak heights, written to the output file.
#pragma once

#include <span>
#include <string>

#include "analysis_run.hpp"

namespace morvel {

inline constexpr double BIN_WIDTH = 0.25;
inline constexpr double CENTRE_LIMIT = 6.5;
inline constexpr int BIN_COUNT = 54;  // bins (k*0.25, (k+1)*0.25] for k = 0..53, up to 13.5

// The text of the density file for the given peaks (in sigma): a first line for the real 0
// and the integer 0, then "centre density" for every bin whose centre is at most
// CENTRE_LIMIT. A bin holds the peaks above its lower edge and up to its upper edge; its
// density is count / peaks.size() * 4, so every peak, written or not, counts in the divisor.
std::string density_text(std::span<const double> peaks);

// Writes the density text to the run's output file and closes it. Returns 0, or the errno
// of the write or close that failed.
int write_density_file(AnalysisRun& run);

}  // namespace morvel
