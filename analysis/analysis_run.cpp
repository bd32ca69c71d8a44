#include "analysis_run.hpp"

#include <cerrno>
#include <new>

#include <unistd.h>

namespace morvel {

detail::ZeroArray detail::allocate_zeroed(std::int32_t count) {
    auto* p = static_cast<double*>(std::calloc(static_cast<std::size_t>(count), sizeof(double)));
    if (p == nullptr) {
        throw std::bad_alloc();
    }
    return ZeroArray(p);
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
