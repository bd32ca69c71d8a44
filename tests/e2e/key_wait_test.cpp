// The final key wait, under a pseudo-terminal that the test creates and that the program has
// as its controlling terminal: the file name is typed on it, then one key ends the run.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <iterator>
#include <string>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include "sandbox.hpp"

namespace morvel::e2e {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// A morvel process whose standard input, output and error and controlling terminal are the
// slave side of a fresh pseudo-terminal. The test types on the master side and reads what
// the terminal shows there; it keeps a slave descriptor of its own to look at the
// terminal's settings and its unread input after the program has gone.
class TerminalRun {
  public:
    // `stdin_file`, if not empty, becomes standard input instead of the terminal.
    explicit TerminalRun(const Sandbox& box, const std::string& stdin_file = "") {
        master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
            return;
        }
        const std::string slave_name = ptsname(master_);
        slave_ = open(slave_name.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (slave_ < 0 || tcgetattr(slave_, &before_) != 0) {
            return;
        }
        const std::string work = box.work().string();
        pid_ = fork();
        if (pid_ == 0) {
            // A new session whose controlling terminal is the slave.
            if (setsid() < 0) {
                _exit(126);
            }
            const int tty = open(slave_name.c_str(), O_RDWR);
            if (tty < 0 || ioctl(tty, TIOCSCTTY, 0) != 0 || dup2(tty, 0) < 0 || dup2(tty, 1) < 0 ||
                dup2(tty, 2) < 0 || chdir(work.c_str()) != 0) {
                _exit(126);
            }
            close(tty);
            if (!stdin_file.empty()) {
                const int in = open(stdin_file.c_str(), O_RDONLY);
                if (in < 0 || dup2(in, 0) < 0) {
                    _exit(126);
                }
                close(in);
            }
            signal(SIGPIPE, SIG_DFL);
            execl(MORVEL_BINARY, MORVEL_BINARY, static_cast<char*>(nullptr));
            _exit(127);
        }
    }

    ~TerminalRun() {
        if (pid_ > 0 && !exited_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (slave_ >= 0) {
            close(slave_);
        }
        if (master_ >= 0) {
            close(master_);
        }
    }

    TerminalRun(const TerminalRun&) = delete;
    TerminalRun& operator=(const TerminalRun&) = delete;

    bool started() const { return pid_ > 0; }
    const std::string& shown() const { return shown_; }
    const termios& settings_before() const { return before_; }

    // Reads what the terminal shows until `text` has appeared, or the time is up.
    bool wait_for(std::string_view text, milliseconds limit) {
        const auto deadline = Clock::now() + limit;
        while (shown_.find(text) == std::string::npos) {
            if (Clock::now() > deadline) {
                return false;
            }
            read_shown(milliseconds(20));
        }
        return true;
    }

    // Keeps reading the terminal for a while.
    void watch(milliseconds duration) {
        const auto deadline = Clock::now() + duration;
        while (Clock::now() < deadline) {
            read_shown(milliseconds(10));
        }
    }

    void type(std::string_view keys) {
        ASSERT_EQ(write(master_, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
    }

    bool running() {
        if (exited_) {
            return false;
        }
        const pid_t done = waitpid(pid_, &status_, WNOHANG);
        exited_ = done == pid_;
        return !exited_;
    }

    // Waits for the program to end, reading the terminal meanwhile.
    bool wait_exit(milliseconds limit) {
        const auto deadline = Clock::now() + limit;
        while (running()) {
            if (Clock::now() > deadline) {
                return false;
            }
            read_shown(milliseconds(10));
        }
        read_shown(milliseconds(50));
        return true;
    }

    int status() const { return status_; }
    pid_t pid() const { return pid_; }

    // Whatever input the terminal still holds unread: a line feed is typed to complete any
    // partial line, then one line is read from the slave side. Only the line feed means
    // nothing was left behind.
    std::string unread_input() {
        type("\n");
        std::string line;
        pollfd ready{slave_, POLLIN, 0};
        while (line.find('\n') == std::string::npos && poll(&ready, 1, 2000) > 0) {
            char buffer[256];
            const ssize_t got = read(slave_, buffer, sizeof buffer);
            if (got <= 0) {
                break;
            }
            line.append(buffer, static_cast<std::size_t>(got));
        }
        return line;
    }

    termios settings_now() const {
        termios now{};
        tcgetattr(slave_, &now);
        return now;
    }

  private:
    void read_shown(milliseconds limit) {
        pollfd ready{master_, POLLIN, 0};
        if (poll(&ready, 1, static_cast<int>(limit.count())) > 0) {
            char buffer[4096];
            const ssize_t got = read(master_, buffer, sizeof buffer);
            if (got > 0) {
                shown_.append(buffer, static_cast<std::size_t>(got));
            }
        }
    }

    int master_ = -1;
    int slave_ = -1;
    pid_t pid_ = -1;
    bool exited_ = false;
    int status_ = 0;
    termios before_{};
    std::string shown_;
};

bool same_settings(const termios& a, const termios& b) {
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
           a.c_lflag == b.c_lflag && std::equal(std::begin(a.c_cc), std::end(a.c_cc), b.c_cc) &&
           cfgetispeed(&a) == cfgetispeed(&b) && cfgetospeed(&a) == cfgetospeed(&b);
}

struct KeyCase {
    const char* label;
    std::string keys;  // the bytes the terminal sends for the key
};

void PrintTo(const KeyCase& c, std::ostream* os) {
    *os << c.label;
}

// Types the name line once morvel asks for it, and waits until it asks for a key.
void reach_the_key_prompt(TerminalRun& term, const std::string& name_line) {
    ASSERT_TRUE(term.started());
    ASSERT_TRUE(term.wait_for(" Input filename ", milliseconds(5000))) << term.shown();
    term.type(name_line);
    ASSERT_TRUE(term.wait_for("Press any key to exit.", milliseconds(5000))) << term.shown();
}

class KeyWaitTest : public testing::TestWithParam<KeyCase> {};

TEST_P(KeyWaitTest, OneKeyEndsTheRunAndTheTerminalIsAsBefore) {
    Sandbox box;
    box.write("data.txt", "0 2\n1 0\n2 2\n3 0\n");
    TerminalRun term(box);
    // The rest of the name line stays in standard input; it must not count as the key.
    ASSERT_NO_FATAL_FAILURE(reach_the_key_prompt(term, "data.txt extra\n"));
    term.watch(milliseconds(300));
    ASSERT_TRUE(term.running()) << "the wait ended before any key was pressed";

    term.type(GetParam().keys);
    ASSERT_TRUE(term.wait_exit(milliseconds(5000))) << "the key did not end the wait";
    EXPECT_TRUE(WIFEXITED(term.status())) << "ended by signal " << WTERMSIG(term.status());
    EXPECT_EQ(WEXITSTATUS(term.status()), 0);

    // The report was shown, and the key was not echoed after the prompt.
    EXPECT_NE(term.shown().find("Total samples = 4"), std::string::npos) << term.shown();
    const std::string tail = "Press any key to exit.\r\n";
    ASSERT_GE(term.shown().size(), tail.size());
    EXPECT_EQ(term.shown().substr(term.shown().size() - tail.size()), tail);

    EXPECT_TRUE(same_settings(term.settings_now(), term.settings_before()));
    // No part of the key (the rest of an escape sequence, say) is left for the shell.
    EXPECT_EQ(term.unread_input(), "\n");
}

INSTANTIATE_TEST_SUITE_P(Keys, KeyWaitTest,
                         testing::Values(KeyCase{"letter", "q"}, KeyCase{"cursor_up", "\x1b[A"},
                                         KeyCase{"cursor_up_application_mode", "\x1bOA"},
                                         KeyCase{"function_key_f5", "\x1b[15~"},
                                         KeyCase{"two_byte_character", "\xc3\xa9"},
                                         KeyCase{"enter", "\r"}, KeyCase{"ctrl_c", "\x03"},
                                         KeyCase{"ctrl_backslash", "\x1c"},
                                         KeyCase{"ctrl_z", "\x1a"}, KeyCase{"ctrl_s", "\x13"},
                                         KeyCase{"ctrl_q", "\x11"}),
                         [](const testing::TestParamInfo<KeyCase>& case_info) {
                             return std::string(case_info.param.label);
                         });

// The name comes from a file on standard input that holds more text after it; the key is
// read from the terminal itself, so that text does not end the wait.
TEST(KeyWaitFromTerminalTest, StandardInputDoesNotEndTheWait) {
    Sandbox box;
    box.write("data.txt", "0 2\n1 0\n2 2\n3 0\n");
    box.write("names.txt", "data.txt\nq\nmore keys\n");
    TerminalRun term(box, box.path("names.txt").string());
    ASSERT_TRUE(term.started());
    ASSERT_TRUE(term.wait_for("Press any key to exit.", milliseconds(5000))) << term.shown();
    term.watch(milliseconds(300));
    ASSERT_TRUE(term.running()) << "the wait ended before any key was pressed";
    term.type("x");
    ASSERT_TRUE(term.wait_exit(milliseconds(5000))) << "the key did not end the wait";
    EXPECT_TRUE(WIFEXITED(term.status()));
    EXPECT_EQ(WEXITSTATUS(term.status()), 0);
    EXPECT_TRUE(same_settings(term.settings_now(), term.settings_before()));
}

// A key whose sequence arrives in two parts, the second after the first byte was read: the
// rest is taken as part of the key and not left for the shell.
TEST(KeyWaitFromTerminalTest, SequenceArrivingInPartsIsTakenWhole) {
    Sandbox box;
    box.write("data.txt", "0 2\n1 0\n2 2\n3 0\n");
    TerminalRun term(box);
    ASSERT_NO_FATAL_FAILURE(reach_the_key_prompt(term, "data.txt\n"));
    term.watch(milliseconds(100));
    term.type("\x1b");
    std::this_thread::sleep_for(milliseconds(15));
    term.type("[A");
    ASSERT_TRUE(term.wait_exit(milliseconds(5000))) << "the key did not end the wait";
    EXPECT_EQ(WEXITSTATUS(term.status()), 0);
    EXPECT_TRUE(same_settings(term.settings_now(), term.settings_before()));
    EXPECT_EQ(term.unread_input(), "\n");
}

// A terminating signal during the wait (sent by kill: typed at the terminal, Ctrl-C and
// Ctrl-\ are keys) still leaves the terminal's settings as they were.
TEST(KeyWaitFromTerminalTest, TerminationDuringTheWaitRestoresTheTerminal) {
    for (const int signal_number : {SIGTERM, SIGINT, SIGQUIT, SIGHUP, SIGALRM}) {
        Sandbox box;
        box.write("data.txt", "0 2\n1 0\n2 2\n3 0\n");
        TerminalRun term(box);
        ASSERT_NO_FATAL_FAILURE(reach_the_key_prompt(term, "data.txt\n"));
        term.watch(milliseconds(100));
        ASSERT_TRUE(term.running());
        kill(term.pid(), signal_number);
        ASSERT_TRUE(term.wait_exit(milliseconds(5000))) << signal_number;
        EXPECT_TRUE(WIFSIGNALED(term.status()) && WTERMSIG(term.status()) == signal_number)
            << signal_number;
        EXPECT_TRUE(same_settings(term.settings_now(), term.settings_before())) << signal_number;
    }
}

}  // namespace
}  // namespace morvel::e2e
