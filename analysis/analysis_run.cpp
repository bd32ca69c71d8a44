#include "analysis_run.hpp"

#include <cerrno>
#include <cstdint>
#include <new>

#include <sys/mman.h>
#include <unistd.h>

namespace morvel {

namespace {
constexpr std::size_t LARGE_PAGE = std::size_t{2} << 20;
}

void detail::UnmapDeleter::operator()(double* p) const noexcept {
    ::munmap(p, bytes);
}

detail::ZeroArray detail::allocate_zeroed(std::int32_t count) {
    // Whole pages, so that both ends of the mapping can be trimmed and unmapped.
    const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    const std::size_t bytes =
        (static_cast<std::size_t>(count) * sizeof(double) + page - 1) / page * page;
    // Map a large page more than needed, then trim both ends so the array starts on a
    // large-page boundary.
    void* mapped = ::mmap(nullptr, bytes + LARGE_PAGE, PROT_READ | PROT_WRITE,
                          MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) {
        throw std::bad_alloc();
    }
    const auto start = reinterpret_cast<std::uintptr_t>(mapped);
    const std::uintptr_t aligned = (start + LARGE_PAGE - 1) & ~(LARGE_PAGE - 1);
    const std::size_t head = aligned - start;
    if (head > 0) {
        ::munmap(mapped, head);
    }
    ::munmap(reinterpret_cast<void*>(aligned + bytes), LARGE_PAGE - head);
    auto* array = reinterpret_cast<double*>(aligned);
    ::madvise(array, bytes, MADV_HUGEPAGE);  // a hint; ordinary pages work as well
    return ZeroArray(array, UnmapDeleter{bytes});
}

FileHandle& FileHandle::operator=(FileHandle&& other) noexcept {
    if (this != &other) {
        close();
        fd_ = other.release();
    }
    return *this;
}

FileHandle::~FileHandle() {
    close();
}

int FileHandle::close() noexcept {
    if (fd_ < 0) {
        return 0;
    }
    int result = ::close(release()) == 0 ? 0 : errno;
    // After EINTR Linux has already released the descriptor; the data is not lost.
    return result == EINTR ? 0 : result;
}

int write_all(int fd, std::string_view text) noexcept {
    while (!text.empty()) {
        const ssize_t written = ::write(fd, text.data(), text.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        text.remove_prefix(static_cast<std::size_t>(written));
    }
    return 0;
}

}  // namespace morvel
