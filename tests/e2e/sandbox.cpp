#include "sandbox.hpp"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <thread>

#include <fcntl.h>
#include <grp.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace morvel::e2e {
namespace fs = std::filesystem;

namespace {

constexpr uid_t NOBODY = 65534;

[[noreturn]] void fail(const std::string& what) {
    throw std::runtime_error(what + ": " + std::strerror(errno));
}

// In a mount namespace of the calling process's own, mounts `folder` over itself read-only;
// no one, root included, can then create or change anything in it through this process.
// Child side only: the change must not reach the test process.
bool mount_read_only(const char* folder) {
    return unshare(CLONE_NEWNS) == 0 &&
           mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
           mount(folder, folder, nullptr, MS_BIND, nullptr) == 0 &&
           mount(nullptr, folder, nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0;
}

// Child side, between fork and exec: only async-signal-safe calls.
[[noreturn]] void exec_child(const char* work, const char* in, const char* out, const char* err,
                             const RunOptions& options, int pipe_write) {
    const StdoutMode mode = options.stdout_mode;
    if (setsid() < 0 || (options.read_only_work && !mount_read_only(work)) || chdir(work) != 0) {
        _exit(126);
    }
    const int in_fd = open(in, O_RDONLY);
    const int err_fd = open(err, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in_fd < 0 || err_fd < 0 || dup2(in_fd, 0) < 0 || dup2(err_fd, 2) < 0) {
        _exit(126);
    }
    if (mode == StdoutMode::file || mode == StdoutMode::full_device) {
        const int out_fd = mode == StdoutMode::file ? open(out, O_WRONLY | O_CREAT | O_TRUNC, 0644)
                                                    : open("/dev/full", O_WRONLY);
        if (out_fd < 0 || dup2(out_fd, 1) < 0) {
            _exit(126);
        }
        close(out_fd);
    } else if (mode == StdoutMode::broken_pipe) {
        if (dup2(pipe_write, 1) < 0) {
            _exit(126);
        }
    } else {
        close(1);
    }
    close(in_fd);
    close(err_fd);
    // The program must cope with a broken pipe by itself, so it starts with the default action.
    signal(SIGPIPE, SIG_DFL);
    if (options.stderr_closed) {
        close(2);
    }
    if (options.stdin_closed) {
        close(0);
    }
    if (options.unprivileged && geteuid() == 0) {
        if (setgroups(0, nullptr) != 0 || setgid(NOBODY) != 0 || setuid(NOBODY) != 0) {
            _exit(126);
        }
    }
    execl(MORVEL_BINARY, MORVEL_BINARY, static_cast<char*>(nullptr));
    _exit(127);
}

}  // namespace

Sandbox::Sandbox() {
    std::string pattern = (fs::temp_directory_path() / "morvel-e2e-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        fail("mkdtemp");
    }
    root_ = pattern;
    work_ = root_ / "work";
    fs::create_directory(work_);
    // Reachable by the unprivileged user of some runs.
    fs::permissions(root_, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    fs::permissions(work_, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
}

Sandbox::~Sandbox() {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
}

void Sandbox::write(std::string_view name, std::string_view content) const {
    std::ofstream file(path(name), std::ios::binary | std::ios::trunc);
    file.write(content.data(), static_cast<std::streamsize>(content.size()));
    if (!file) {
        throw std::runtime_error("cannot write " + path(name).string());
    }
}

std::optional<std::string> Sandbox::read(std::string_view name) const {
    std::error_code error;
    if (!fs::is_regular_file(fs::symlink_status(path(name), error))) {
        return std::nullopt;
    }
    return read_file(path(name));
}

RunResult Sandbox::run(std::string_view stdin_text, const RunOptions& options) const {
    const std::string in = (root_ / "stdin").string();
    const std::string out = (root_ / "stdout").string();
    const std::string err = (root_ / "stderr").string();
    const std::string work = work_.string();
    {
        std::ofstream file(in, std::ios::binary | std::ios::trunc);
        file.write(stdin_text.data(), static_cast<std::streamsize>(stdin_text.size()));
    }

    int pipe_ends[2] = {-1, -1};
    if (options.stdout_mode == StdoutMode::broken_pipe) {
        if (pipe2(pipe_ends, O_CLOEXEC) != 0) {
            fail("pipe2");
        }
        close(pipe_ends[0]);  // no reader anywhere: every write gets EPIPE
    }

    const pid_t pid = fork();
    if (pid < 0) {
        fail("fork");
    }
    if (pid == 0) {
        exec_child(work.c_str(), in.c_str(), out.c_str(), err.c_str(), options, pipe_ends[1]);
    }
    if (pipe_ends[1] >= 0) {
        close(pipe_ends[1]);
    }

    RunResult result;
    int status = 0;
    rusage usage{};
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::seconds(options.time_limit_seconds);
    for (;;) {
        const pid_t done = wait4(pid, &status, WNOHANG, &usage);
        if (done == pid) {
            break;
        }
        if (done < 0 && errno != EINTR) {
            fail("wait4");
        }
        if (std::chrono::steady_clock::now() > deadline) {
            result.timed_out = true;
            kill(-pid, SIGKILL);
            wait4(pid, &status, 0, &usage);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    result.exited = WIFEXITED(status);
    result.exit_status = result.exited ? WEXITSTATUS(status) : -1;
    result.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    result.peak_memory_kib = usage.ru_maxrss;
    result.out = read_file(out);
    result.err = read_file(err);
    return result;
}

bool read_only_folders_available() {
    std::string pattern = (fs::temp_directory_path() / "morvel-e2e-probe-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        fail("mkdtemp");
    }
    const std::string probe = pattern + "/probe";
    const pid_t pid = fork();
    if (pid < 0) {
        fail("fork");
    }
    if (pid == 0) {
        // The mount must hold: creating a file in the folder has to fail for lack of writing.
        if (!mount_read_only(pattern.c_str())) {
            _exit(1);
        }
        const int fd = open(probe.c_str(), O_WRONLY | O_CREAT, 0644);
        _exit(fd < 0 && errno == EROFS ? 0 : 1);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    std::error_code ignored;
    fs::remove_all(pattern, ignored);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string read_file(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

int line_count(std::string_view text) {
    if (!text.empty() && text.back() != '\n') {
        return -1;
    }
    int lines = 0;
    for (const char c : text) {
        lines += c == '\n' ? 1 : 0;
    }
    return lines;
}

}  // namespace morvel::e2e
