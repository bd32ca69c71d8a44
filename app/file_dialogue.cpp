#include "file_dialogue.hpp"

#include <cerrno>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace morvel {
namespace {

// Clears O_NONBLOCK, which served only to open the file without waiting.
bool make_blocking(int fd) {
    const int flags = fcntl(fd, F_GETFL);
    return flags >= 0 && fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0;
}

// Opens a file for reading; on failure returns no file and sets `error`. A directory does
// not count as opened. The open does not block on a FIFO without a writer; reading it then
// finds the end at once.
FileHandle open_input(const std::string& name, struct stat& info, int& error) {
    FileHandle file(::open(name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!file.is_open()) {
        error = errno;
        return file;
    }
    if (fstat(file.get(), &info) != 0) {
        error = errno;
        return FileHandle();
    }
    if (S_ISDIR(info.st_mode)) {
        error = EISDIR;
        return FileHandle();
    }
    if (!make_blocking(file.get())) {
        error = errno;
        return FileHandle();
    }
    return file;
}

bool same_file(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace

OpenOutcome open_files(AnalysisRun& run, Console& console, std::FILE* names) {
    console.say("\n The base input file must contain two columns: \n");
    console.say(" time(sec)  accel(G)    \n");
    console.say("\n The program will remove the mean from the input data. \n");
    console.say(" \n An error message will occur if the file does not exist.\n");
    console.say(" Input filename \n");

    run.input_name = read_word(names);
    struct stat input_info {};
    int error = 0;
    run.input = open_input(run.input_name, input_info, error);
    if (!run.input.is_open()) {
        console.say("\n Failed to open file: " + run.input_name + " \n");
        report_problem(run.input_name.empty()
                           ? std::string("no input file name was given")
                           : "cannot open " + run.input_name + ": " + std::strerror(error));
        return OpenOutcome::input_failed;
    }
    console.say("\n File: " + run.input_name + " opened. \n");

    // Creating the output would empty the input before it is read.
    struct stat output_info {};
    if (::stat(OUTPUT_NAME, &output_info) == 0 && same_file(input_info, output_info)) {
        console.say(std::string("\n Failed to create output file: ") + OUTPUT_NAME + " \n");
        report_problem(std::string("the input file is ") + OUTPUT_NAME +
                       " itself, which this run would overwrite; copy it to another name first");
        return OpenOutcome::output_failed;
    }
    // Without O_NONBLOCK, opening a FIFO that has no reader would wait for ever.
    run.output = FileHandle(
        ::open(OUTPUT_NAME, O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_CLOEXEC, 0666));
    if (!run.output.is_open() || !make_blocking(run.output.get())) {
        error = errno;
        run.output = FileHandle();
        console.say(std::string("\n Failed to create output file: ") + OUTPUT_NAME + " \n");
        report_problem(std::string("cannot create ") + OUTPUT_NAME + ": " + std::strerror(error));
        return OpenOutcome::output_failed;
    }
    return OpenOutcome::opened;
}

}  // namespace morvel
