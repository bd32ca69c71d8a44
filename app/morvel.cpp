// morvel: peak statistics of an acceleration time history.
//
// One start performs one analysis: banner, file dialogue, reading and statistics, peaks,
// the density file, the report, and a wait for a key. Exit status 0 after a complete run,
// 1 after any failure (input not opened, output not created or written, input not read to
// its end, report not written).
#include <csignal>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "analysis_run.hpp"
#include "console.hpp"
#include "density.hpp"
#include "file_dialogue.hpp"
#include "number_text.hpp"
#include "peaks.hpp"
#include "samples.hpp"

namespace morvel {
namespace {

constexpr std::string_view PRESS_ANY_KEY = "\n Press any key to exit.\n";

std::string count_text(std::int32_t count) {
    return std::to_string(count);
}

}  // namespace

int run_analysis() {
    // A closed or broken standard output must not stop the run before morvel.out is written.
    std::signal(SIGPIPE, SIG_IGN);

    Console console;
    const auto run = std::make_unique<AnalysisRun>();
    int status = 0;

    console.say("\n\n\n\n morvel, ver 1.0  July 15, 2003");
    console.say("\n\n by " MORVEL_AUTHOR " ");
    console.say("\n Email:  " MORVEL_CONTACT " ");

    if (open_files(*run, console) != OpenOutcome::opened) {
        console.prompt_for_key(PRESS_ANY_KEY);
        return 1;
    }

    const ReadReport read = read_samples(*run);
    if (read.error != 0) {
        report_problem("could not read " + run->input_name + " to its end (" +
                       std::strerror(read.error) + "); the figures cover the records before");
        status = 1;
    }
    if (read.records_left_out) {
        report_problem("only the first " + count_text(MAX_SAMPLES) + " records of " +
                       run->input_name + " were read; the rest was left out");
    }
    compute_statistics(*run);
    const SignalStats& stats = run->stats;
    console.say("\n Total samples = " + count_text(run->samples.count) + " \n");
    console.say("\n minimum = " + format_number(stats.minimum) +
                "   maximum = " + format_number(stats.maximum) + "\n");
    console.say("\n Standard Deviation = " + format_number(stats.standard_deviation) + " \n");
    console.say("\n Highest Sigma = " + format_number(stats.highest_sigma) + " sigma\n");

    if (extract_peaks(*run)) {
        report_problem("the peak store filled up at " + count_text(MAX_PEAKS) +
                       " peaks; later peaks were left out");
    }
    console.say("\n Total peaks = " + count_text(run->peaks.count) + " \n");
    normalise_peaks(*run);

    if (const int error = write_density_file(*run); error != 0) {
        report_problem(std::string("could not write ") + OUTPUT_NAME + ": " + std::strerror(error));
        status = 1;
    }

    console.say("\n number of peaks > 3 sigma = " + count_text(count_above(*run, 3.0)) + " \n");
    console.say("\n number of peaks > 4 sigma = " + count_text(count_above(*run, 4.0)) + " \n");
    console.say("\n\n The output file is:  morvel.out \n");
    console.say("\n The file has two columns:  nsigma  & probability density \n\n");
    console.prompt_for_key(PRESS_ANY_KEY);

    if (console.output_error() != 0) {
        report_problem(std::string("could not write the report to standard output: ") +
                       std::strerror(console.output_error()));
        status = 1;
    }
    return status;
}

}  // namespace morvel

int main() {
    try {
        return morvel::run_analysis();
    } catch (const std::bad_alloc&) {
        morvel::report_problem("not enough memory for the sample and peak stores");
        return 1;
    }
}
