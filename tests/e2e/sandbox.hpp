// Runs the real morvel binary in a fresh temporary folder, detached from any terminal, and
// captures everything it leaves behind.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace morvel::e2e {

// How standard output is connected in the child.
enum class StdoutMode {
    file,         // captured into a file
    closed,       // descriptor 1 is closed
    broken_pipe,  // a pipe whose read end no process holds
    full_device,  // /dev/full: every write fails for lack of space
};

struct RunOptions {
    StdoutMode stdout_mode = StdoutMode::file;
    bool stderr_closed = false;  // descriptor 2 is closed instead of captured
    bool stdin_closed = false;   // descriptor 0 is closed instead of reading the given text
    // The working folder is mounted read-only for the run (in a mount namespace of the run's
    // own), which stops root as well; see read_only_folders_available().
    bool read_only_work = false;
    // Run as an unprivileged user (nobody) when the test runs as root, so that file
    // permissions apply.
    bool unprivileged = false;
    int time_limit_seconds = 10;
};

struct RunResult {
    bool timed_out = false;
    bool exited = false;  // ended through exit(), not by a signal
    int exit_status = -1;
    int signal = 0;
    std::string out;
    std::string err;
    // Peak resident memory of the run, from the kernel's accounting (ru_maxrss). It is never
    // below the size of this test process at the fork, so keep that small when it matters.
    long peak_memory_kib = 0;
};

// Whether RunOptions::read_only_work can be had here (it needs the right to mount).
bool read_only_folders_available();

// A fresh folder per instance; `work()` is the current folder of every run, and holds only
// what the test puts there and what the program writes.
class Sandbox {
  public:
    Sandbox();
    ~Sandbox();
    Sandbox(const Sandbox&) = delete;
    Sandbox& operator=(const Sandbox&) = delete;

    const std::filesystem::path& work() const { return work_; }
    std::filesystem::path path(std::string_view name) const { return work_ / name; }

    void write(std::string_view name, std::string_view content) const;
    // The file's bytes, or nothing if it does not exist (or is not a regular file).
    std::optional<std::string> read(std::string_view name) const;

    // Runs morvel with `stdin_text` as its standard input.
    RunResult run(std::string_view stdin_text, const RunOptions& options = {}) const;

  private:
    std::filesystem::path root_;
    std::filesystem::path work_;
};

// Reads a whole file; empty if it cannot be read.
std::string read_file(const std::filesystem::path& path);

// Number of '\n'-ended lines in `text`; -1 if the text does not end with a line feed.
int line_count(std::string_view text);

}  // namespace morvel::e2e
