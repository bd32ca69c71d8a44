// The state of the one analysis run: the two files, the input name, the stores and the
// statistics. Every phase reads and writes this record; nothing in it is released before
// the run ends.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace morvel {

inline constexpr std::int32_t MAX_SAMPLES = 2'000'000;
inline constexpr std::int32_t MAX_PEAKS = 50'000;

namespace detail {
struct UnmapDeleter {
    std::size_t bytes = 0;
    void operator()(double* p) const noexcept;
};
// A zero-filled array allocated once at full capacity, straight from the system: its pages
// are fresh zeros, so the unused part of a store costs address space, not memory. Large
// pages are asked for, which saves thousands of page faults when a store fills.
using ZeroArray = std::unique_ptr<double[], UnmapDeleter>;
ZeroArray allocate_zeroed(std::int32_t count);
}  // namespace detail

// Owns a POSIX file descriptor; closes it when dropped.
class FileHandle {
  public:
    FileHandle() = default;
    explicit FileHandle(int fd) noexcept : fd_(fd) {}
    FileHandle(FileHandle&& other) noexcept : fd_(other.release()) {}
    FileHandle& operator=(FileHandle&& other) noexcept;
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    ~FileHandle();

    int get() const noexcept { return fd_; }
    bool is_open() const noexcept { return fd_ >= 0; }
    int release() noexcept {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }
    // Closes the descriptor and returns 0, or the errno of a failed close.
    int close() noexcept;

  private:
    int fd_ = -1;
};

// Acceleration values in G, as read and later de-meaned in place.
struct SampleStore {
    detail::ZeroArray values = detail::allocate_zeroed(MAX_SAMPLES);
    std::int32_t count = 0;

    std::span<double> view() noexcept { return {values.get(), static_cast<std::size_t>(count)}; }
    std::span<const double> view() const noexcept {
        return {values.get(), static_cast<std::size_t>(count)};
    }
};

struct SignalStats {
    double sum = 0.0;
    double sum_of_squares = 0.0;
    double mean = 0.0;
    double standard_deviation = 0.0;
    double minimum = 0.0;
    double maximum = 0.0;
    double highest_sigma = 0.0;
};

// Absolute peak heights in the order they occur: in G after extraction, in sigma after
// normalisation.
struct PeakStore {
    detail::ZeroArray values = detail::allocate_zeroed(MAX_PEAKS);
    std::int32_t count = 0;

    std::span<double> view() noexcept { return {values.get(), static_cast<std::size_t>(count)}; }
    std::span<const double> view() const noexcept {
        return {values.get(), static_cast<std::size_t>(count)};
    }
};

// Writes all of `text` to `fd`, resuming after interruptions and partial writes. Returns 0,
// or the errno of the write that failed.
int write_all(int fd, std::string_view text) noexcept;

struct AnalysisRun {
    FileHandle input;
    FileHandle output;
    std::string input_name;
    SampleStore samples;
    SignalStats stats;
    PeakStore peaks;
};

}  // namespace morvel
