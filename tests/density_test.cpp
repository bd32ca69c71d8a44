#include "density.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace {

const char* const FIRST_LINE = "           0 0\n";

const char* const CENTRES[] = {
    "       0.125", "       0.375", "       0.625", "       0.875", "       1.125", "       1.375",
    "       1.625", "       1.875", "       2.125", "       2.375", "       2.625", "       2.875",
    "       3.125", "       3.375", "       3.625", "       3.875", "       4.125", "       4.375",
    "       4.625", "       4.875", "       5.125", "       5.375", "       5.625", "       5.875",
    "       6.125", "       6.375"};

// The file for the given density text of each of the 26 written bins.
std::string file_with(const std::vector<const char*>& densities) {
    std::string text = FIRST_LINE;
    for (std::size_t k = 0; k < 26; ++k) {
        text += CENTRES[k];
        text += ' ';
        text += densities[k];
        text += '\n';
    }
    return text;
}

const char* const ZERO = "           0";

TEST(Density, PeakOnAnEdgeBelongsToTheBinBelow) {
    std::vector<const char*> expected(26, ZERO);
    expected[0] = "           3";  // 0.1, 0.2, 0.25: 3 / 4 * 4
    expected[1] = "           1";  // 0.3
    EXPECT_EQ(morvel::density_text(std::vector<double>{0.1, 0.2, 0.25, 0.3}), file_with(expected));
}

TEST(Density, PeaksAboveTheWrittenBinsStillCountInTheDivisor) {
    std::vector<const char*> expected(26, ZERO);
    expected[0] = "         0.8";   // 1 of 5 peaks: 0.1; 6.6 and 20 are not written, 0 is in no bin
    expected[25] = "         1.6";  // 6.5 and 6.26 in (6.25, 6.5]
    EXPECT_EQ(morvel::density_text(std::vector<double>{0.1, 6.6, 20.0, 6.5, 6.26}),
              file_with(expected));
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(morvel::density_text(std::vector<double>{0.0, inf, nan, 13.5}),
              file_with(std::vector<const char*>(26, ZERO)));
}

// Every edge of a written bin, and the next double above it.
TEST(Density, EachEdgeAndTheDoubleAboveItFallInNeighbouringBins) {
    for (std::size_t k = 1; k <= 26; ++k) {
        const double edge = static_cast<double>(k) * 0.25;
        std::vector<const char*> expected(26, ZERO);
        expected[k - 1] = "           4";  // one peak of one: 1 / 1 * 4
        EXPECT_EQ(morvel::density_text(std::vector<double>{edge}), file_with(expected)) << edge;

        expected.assign(26, ZERO);
        if (k < 26) {
            expected[k] = "           4";
        }
        const double above = std::nextafter(edge, 100.0);
        EXPECT_EQ(morvel::density_text(std::vector<double>{above}), file_with(expected)) << edge;
    }
    std::vector<const char*> expected(26, ZERO);
    expected[0] = "           4";
    EXPECT_EQ(morvel::density_text(std::vector<double>{4.9406564584124654e-324}),
              file_with(expected));
}

TEST(Density, NoPeaksGiveNotANumberOnEveryBinLine) {
    EXPECT_EQ(morvel::density_text({}), file_with(std::vector<const char*>(26, "         nan")));
}

TEST(Density, DensityIsCountOverPeaksTimesFour) {
    std::vector<double> peaks(3, 1.1);  // 3 peaks in (1.0, 1.25]
    peaks.push_back(0.6);               // 1 in (0.5, 0.75]
    peaks.push_back(0.7);
    peaks.push_back(0.7);  // 6 peaks: 3/6*4 = 2, 3/6*4 = 2
    std::vector<const char*> expected(26, ZERO);
    expected[2] = "           2";
    expected[4] = "           2";
    EXPECT_EQ(morvel::density_text(peaks), file_with(expected));

    const std::vector<double> thirds{0.1, 0.1, 0.3};  // 2/3*4 and 1/3*4, rounded to 4 digits
    expected.assign(26, ZERO);
    expected[0] = "       2.667";
    expected[1] = "       1.333";
    EXPECT_EQ(morvel::density_text(thirds), file_with(expected));
}

}  // namespace
