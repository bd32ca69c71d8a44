#include "density.hpp"

#include <array>
#include <cmath>
#include <cstdint>

#include "number_text.hpp"

namespace morvel {

std::string density_text(std::span<const double> peaks) {
    std::array<double, BIN_COUNT + 1> edges{};
    for (int k = 0; k <= BIN_COUNT; ++k) {
        edges[static_cast<std::size_t>(k)] = k * BIN_WIDTH;
    }
    // Bin k holds the peaks p with k/4 < p <= (k+1)/4, that is k < 4p <= k+1, so its index is
    // ceil(4p) - 1. Scaling by 4 is exact, so this finds the same bin as comparing p with
    // every edge, in one step per peak.
    std::array<std::int32_t, BIN_COUNT> counts{};
    for (const double p : peaks) {
        if (p > edges.front() && p <= edges.back()) {
            ++counts[static_cast<std::size_t>(std::ceil(p * (1.0 / BIN_WIDTH))) - 1];
        }
    }

    const double m = static_cast<double>(peaks.size());
    std::string text = format_number(0.0) + " 0\n";
    for (std::size_t k = 0; k < counts.size(); ++k) {
        const double centre = (edges[k + 1] + edges[k]) * 0.5;
        if (centre > CENTRE_LIMIT) {
            break;
        }
        const double density = counts[k] / m * 4.0;
        text += format_number(centre);
        text += ' ';
        text += format_number(density);
        text += '\n';
    }
    return text;
}

int write_density_file(AnalysisRun& run) {
    const int error = write_all(run.output.get(), density_text(run.peaks.view()));
    const int close_error = run.output.close();
    return error != 0 ? error : close_error;
}

}  // namespace morvel
