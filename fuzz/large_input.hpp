// Large inputs for the fuzz targets: a text repeated until it spans several read blocks,
// read from a file by read_samples as the program reads it.
#pragma once

#include <string>

#include <sys/mman.h>
#include <unistd.h>

#include "analysis_run.hpp"
#include "fuzz_check.hpp"
#include "reference.hpp"
#include "samples.hpp"

namespace morvel::fuzz {

struct RepeatedRead {
    reference::Analysis expected;  // the reference reading of the whole repeated text
    std::size_t size = 0;          // the repeated text's length
};

// Repeats `text` to over `length` bytes and reads it through read_samples into `run`, whose
// samples and statistics must be cleared. Fails on a read error or a record left out.
inline RepeatedRead read_repeated(const char* text, std::size_t text_size, std::size_t length,
                                  AnalysisRun& run) {
    std::string large;
    while (large.size() <= length) {
        large.append(text, text_size);
    }
    RepeatedRead result;
    result.size = large.size();
    reference::read_records(result.expected, large.data(), large.data() + large.size());

    const int fd = ::memfd_create("morvel-fuzz", 0);
    if (fd < 0 || ::write(fd, large.data(), large.size()) != static_cast<ssize_t>(large.size()) ||
        ::lseek(fd, 0, SEEK_SET) != 0) {
        fail("cannot make the input file");
    }
    run.input = FileHandle(fd);
    const ReadReport report = read_samples(run);
    run.input.close();
    if (report.error != 0 || report.records_left_out) {
        fail("read_samples reports error %d, records left out %d", report.error,
             report.records_left_out);
    }
    return result;
}

}  // namespace morvel::fuzz
