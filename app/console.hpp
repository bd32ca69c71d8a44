// The console: messages to standard output, the file name from standard input, and the
// final key press from the terminal itself.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace morvel {

class Console {
  public:
    // Takes over standard output as it stands. Descriptors 0 to 2 that are closed get
    // /dev/null, so that no file opened later takes their place (the report would land in
    // it); a closed standard output then counts as a failed write.
    Console();

    // Writes a message to standard output at once (no buffering), so a prompt is visible
    // before the program waits. A failed write (closed output, broken pipe) is remembered;
    // the run goes on.
    void say(std::string_view text);

    // errno of the first failed write to standard output, 0 if none failed.
    int output_error() const noexcept { return output_error_; }

    // Prints `prompt`, then waits for one key press on the controlling terminal, read without
    // echo and without waiting for Enter; the terminal's settings are restored afterwards.
    // Ctrl-C is a key like any other here. A key that sends a sequence (a cursor or function
    // key) is consumed whole. Without a controlling terminal in the foreground it does not
    // wait, so the program never hangs in a script.
    void prompt_for_key(std::string_view prompt);

  private:
    int output_error_ = 0;
};

// Reads a word as "%s" does: skips leading whitespace, empty lines included, and takes
// characters up to the next whitespace, which is left unread. Empty at end of input. Any
// length is read safely; the name ends at an embedded NUL, as a C string would.
std::string read_word(std::FILE* in);

// Writes one line "morvel: <text>" to standard error.
void report_problem(std::string_view text);

}  // namespace morvel
