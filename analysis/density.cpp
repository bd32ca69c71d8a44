#include "density.hpp"

#include <array>
#include <cstdint>

#include "number_text.hpp"

namespace morvel {

std::string density_text(std::span<const double> peaks) {
    std::array<double, BIN_COUNT + 1> edges{};
    for (int k = 0; k <= BIN_COUNT; ++k) {
        edges[static_cast<std::size_t>(k)] = k * BIN_WIDTH;
    }
    std::array<std::int32_t, BIN_COUNT> counts{};
    for (const double p : peaks) {
        for (std::size_t k = 0; k < counts.size(); ++k) {
            if (p > edges[k] && p <= edges[k + 1]) {
                ++counts[k];
            }
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
