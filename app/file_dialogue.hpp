// The file dialogue: instructions, the input file name, and the two files.
#pragma once

#include <cstdio>

#include "analysis_run.hpp"
#include "console.hpp"

namespace morvel {

inline constexpr const char* OUTPUT_NAME = "morvel.out";

enum class OpenOutcome {
    opened,         // both files are open; the output file is empty
    input_failed,   // the input could not be opened; the output file was not touched
    output_failed,  // the output file could not be created
};

// Prints the instructions, reads the input file name from `names`, opens the input file for
// reading and creates (or empties) the output file, leaving both in `run`. The output file
// is touched only once the input has opened, and never when it is the input file itself.
OpenOutcome open_files(AnalysisRun& run, Console& console, std::FILE* names = stdin);

}  // namespace morvel
