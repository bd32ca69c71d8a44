// The texts a run is expected to produce, assembled from the program's fixed messages and
// from figures that each test derives by hand. Numbers are given as the text they must show
// (four significant digits); only the right-alignment in twelve characters is done here.
#pragma once

#include <cstdio>
#include <map>
#include <string>
#include <string_view>

namespace morvel::e2e {

inline std::string field(std::string_view number) {
    std::string text(number.size() < 12 ? 12 - number.size() : 0, ' ');
    text += number;
    return text;
}

inline const std::string BANNER = std::string("\n\n\n\n morvel, ver 1.0  July 15, 2003") +
                                  "\n\n by " MORVEL_AUTHOR " " + "\n Email:  " MORVEL_CONTACT " ";

inline const std::string INSTRUCTIONS =
    "\n The base input file must contain two columns: \n"
    " time(sec)  accel(G)    \n"
    "\n The program will remove the mean from the input data. \n"
    " \n An error message will occur if the file does not exist.\n"
    " Input filename \n";

inline const std::string PRESS_ANY_KEY = "\n Press any key to exit.\n";

inline std::string opened(std::string_view name) {
    return "\n File: " + std::string(name) + " opened. \n";
}

inline std::string failed_to_open(std::string_view name) {
    return BANNER + INSTRUCTIONS + "\n Failed to open file: " + std::string(name) + " \n" +
           PRESS_ANY_KEY;
}

inline std::string failed_to_create(std::string_view name) {
    return BANNER + INSTRUCTIONS + opened(name) + "\n Failed to create output file: morvel.out \n" +
           PRESS_ANY_KEY;
}

// The figures of one report, numbers as their four-digit text.
struct Report {
    long samples;
    std::string minimum;
    std::string maximum;
    std::string deviation;
    std::string highest;
    long peaks;
    long above3;
    long above4;
};

inline std::string report_lines(const Report& r) {
    return "\n Total samples = " + std::to_string(r.samples) + " \n" +
           "\n minimum = " + field(r.minimum) + "   maximum = " + field(r.maximum) + "\n" +
           "\n Standard Deviation = " + field(r.deviation) + " \n" +
           "\n Highest Sigma = " + field(r.highest) + " sigma\n" +
           "\n Total peaks = " + std::to_string(r.peaks) + " \n" +
           "\n number of peaks > 3 sigma = " + std::to_string(r.above3) + " \n" +
           "\n number of peaks > 4 sigma = " + std::to_string(r.above4) + " \n" +
           "\n\n The output file is:  morvel.out \n" +
           "\n The file has two columns:  nsigma  & probability density \n\n" + PRESS_ANY_KEY;
}

// The whole console transcript of a complete run on the file `name`.
inline std::string transcript(std::string_view name, const Report& r) {
    return BANNER + INSTRUCTIONS + opened(name) + report_lines(r);
}

// morvel.out: the line "0 0", then bins 0..25 (centres 0.125 + 0.25 k). `densities` gives the
// text of the bins that hold peaks; every other bin shows `others` ("0", or "nan" when there
// are no peaks at all).
inline std::string density_file(const std::map<int, std::string>& densities,
                                std::string_view others) {
    std::string text = field("0") + " 0\n";
    for (int k = 0; k < 26; ++k) {
        // Every centre has exactly three decimals, the last one a 5: its text is exact.
        char centre[16];
        std::snprintf(centre, sizeof centre, "%.3f", 0.125 + 0.25 * k);
        const auto found = densities.find(k);
        text +=
            field(centre) + " " + field(found != densities.end() ? found->second : others) + "\n";
    }
    return text;
}

inline std::string density_file(const Report& r, const std::map<int, std::string>& densities) {
    return density_file(densities, r.peaks == 0 ? "nan" : "0");
}

}  // namespace morvel::e2e
