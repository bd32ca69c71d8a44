#include "console.hpp"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <iterator>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include "analysis_run.hpp"
#include "number_scan.hpp"

namespace morvel {
namespace {

// How long the rest of a key's byte sequence may take to arrive after its first byte.
constexpr int SEQUENCE_GAP_MS = 50;

// The terminal and its settings while a key is awaited, for the signal handler.
volatile sig_atomic_t g_terminal = -1;
termios g_saved_settings;

extern "C" void restore_and_reraise(int signal_number) {
    if (g_terminal >= 0) {
        tcsetattr(g_terminal, TCSANOW, &g_saved_settings);
    }
    std::signal(signal_number, SIG_DFL);
    std::raise(signal_number);
}

// Signals whose default action ends the process, and that can arrive while keys are awaited
// (Ctrl-C and Ctrl-\ typed at the terminal are plain keys then, but kill can still send them).
constexpr int TERMINATING_SIGNALS[] = {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGALRM, SIGUSR1, SIGUSR2};

void wait_on_terminal(int tty, std::string_view prompt, Console& console) {
    if (tcgetattr(tty, &g_saved_settings) != 0 || tcgetpgrp(tty) != getpgrp()) {
        console.say(prompt);  // not a terminal, or we run in the background: do not wait
        return;
    }
    termios raw = g_saved_settings;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ISIG);
    raw.c_iflag &= ~static_cast<tcflag_t>(IXON);  // Ctrl-S and Ctrl-Q are keys here too
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    g_terminal = tty;
    // Signals that were ignored stay ignored.
    using Handler = void (*)(int);
    Handler previous[std::size(TERMINATING_SIGNALS)];
    for (std::size_t i = 0; i < std::size(TERMINATING_SIGNALS); ++i) {
        previous[i] = std::signal(TERMINATING_SIGNALS[i], restore_and_reraise);
        if (previous[i] == SIG_IGN) {
            std::signal(TERMINATING_SIGNALS[i], SIG_IGN);
        }
    }
    // Keys typed before the prompt do not count: only a fresh key press ends the wait.
    tcsetattr(tty, TCSAFLUSH, &raw);
    console.say(prompt);

    char key[64];
    ssize_t got;
    do {
        got = ::read(tty, key, sizeof key);
    } while (got < 0 && errno == EINTR);
    // Take the rest of an escape sequence (or multi-byte character) that came with the key.
    pollfd waiting{tty, POLLIN, 0};
    while (got > 0 && poll(&waiting, 1, SEQUENCE_GAP_MS) > 0 && (waiting.revents & POLLIN)) {
        got = ::read(tty, key, sizeof key);
    }

    tcsetattr(tty, TCSAFLUSH, &g_saved_settings);
    g_terminal = -1;
    for (std::size_t i = 0; i < std::size(TERMINATING_SIGNALS); ++i) {
        std::signal(TERMINATING_SIGNALS[i], previous[i]);
    }
}

}  // namespace

Console::Console() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
            // The lowest free descriptor is this one.
            ::open("/dev/null", O_RDWR);
            if (fd == STDOUT_FILENO) {
                output_error_ = EBADF;
            }
        }
    }
}

void Console::say(std::string_view text) {
    if (output_error_ != 0) {
        return;
    }
    output_error_ = write_all(STDOUT_FILENO, text);
}

void Console::prompt_for_key(std::string_view prompt) {
    const int tty = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (tty < 0) {
        say(prompt);  // no controlling terminal: nobody to press a key
        return;
    }
    wait_on_terminal(tty, prompt, *this);
    ::close(tty);
}

std::string read_word(std::FILE* in) {
    int c;
    do {
        c = std::getc(in);
    } while (c != EOF && is_space(static_cast<char>(c)));
    std::string word;
    bool ended = false;  // an embedded NUL ends the name; the rest of the word is consumed
    for (; c != EOF && !is_space(static_cast<char>(c)); c = std::getc(in)) {
        ended = ended || c == '\0';
        if (!ended) {
            word.push_back(static_cast<char>(c));
        }
    }
    if (c != EOF) {
        std::ungetc(c, in);
    }
    return word;
}

void report_problem(std::string_view text) {
    std::string line = "morvel: ";
    line += text;
    line += '\n';
    write_all(STDERR_FILENO, line);
}

}  // namespace morvel
