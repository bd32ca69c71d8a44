// scan_floor FILE: the yardstick for reading a time history. Streams FILE in 1 MiB blocks
// with read(2), skips whitespace, converts every token with std::from_chars and prints the
// sum of the values and the number of tokens converted. Deliberately plain: it is the
// reference that morvel's reader is measured against, not a competitor to tune.
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <memory>
#include <system_error>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr std::size_t BLOCK = std::size_t{1} << 20;

bool is_space(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: scan_floor FILE\n");
        return 2;
    }
    const int fd = ::open(argv[1], O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        std::fprintf(stderr, "scan_floor: cannot open %s: %s\n", argv[1], std::strerror(errno));
        return 1;
    }
    // Each block is converted up to its last whitespace, so no token is cut; the tail after
    // it moves to the front and the next block is read in behind it.
    const auto buffer = std::make_unique<char[]>(2 * BLOCK);
    std::size_t kept = 0;
    double sum = 0.0;
    long count = 0;
    for (;;) {
        const ssize_t got = ::read(fd, buffer.get() + kept, BLOCK);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            std::fprintf(stderr, "scan_floor: cannot read %s: %s\n", argv[1], std::strerror(errno));
            return 1;
        }
        const bool last = got == 0;
        const char* p = buffer.get();
        const char* const end = p + kept + static_cast<std::size_t>(got);
        const char* limit = end;
        if (!last) {
            while (limit > p && !is_space(limit[-1])) {
                --limit;
            }
        }
        for (;;) {
            while (p < limit && is_space(*p)) {
                ++p;
            }
            if (p == limit) {
                break;
            }
            double value = 0.0;
            const auto [next, ec] = std::from_chars(p, limit, value);
            if (ec == std::errc{}) {
                sum += value;
                ++count;
            }
            p = next;
            while (p < limit && !is_space(*p)) {
                ++p;  // the rest of a token that is not a number
            }
        }
        if (last) {
            break;
        }
        kept = static_cast<std::size_t>(end - limit);
        if (kept >= BLOCK) {
            std::fprintf(stderr, "scan_floor: a token longer than %zu bytes\n", BLOCK);
            return 1;
        }
        std::memmove(buffer.get(), limit, kept);
    }
    ::close(fd);
    std::printf("%.17g %ld\n", sum, count);
    return 0;
}
