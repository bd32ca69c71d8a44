// Failure reporting shared by the fuzz targets: a failed check prints what was expected and
// what was found, then aborts, which both libFuzzer and the corpus replayer treat as a fault.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace morvel::fuzz {

[[noreturn]] __attribute__((format(printf, 1, 2))) inline void fail(const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    std::fputs("fuzz check failed: ", stderr);
    std::vfprintf(stderr, format, args);
    std::fputc('\n', stderr);
    va_end(args);
    std::abort();
}

}  // namespace morvel::fuzz

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size);
