// Runs files through a fuzz target without libFuzzer, so a normal build and test run checks
// the committed corpus. Arguments are files or folders; a folder stands for every regular
// file in it, in name order. A fault aborts the process; the last name printed is the input.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "fuzz_check.hpp"

namespace {

std::vector<unsigned char> read_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        morvel::fuzz::fail("cannot open %s", path.c_str());
    }
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::filesystem::path> inputs;
    for (int i = 1; i < argc; ++i) {
        const std::filesystem::path arg(argv[i]);
        if (std::filesystem::is_directory(arg)) {
            std::vector<std::filesystem::path> files;
            for (const auto& entry : std::filesystem::directory_iterator(arg)) {
                if (entry.is_regular_file()) {
                    files.push_back(entry.path());
                }
            }
            std::sort(files.begin(), files.end());
            inputs.insert(inputs.end(), files.begin(), files.end());
        } else {
            inputs.push_back(arg);
        }
    }
    // An empty or missing corpus must not pass as a clean run.
    if (inputs.empty()) {
        std::fputs("no inputs to replay\n", stderr);
        return 1;
    }
    for (const auto& path : inputs) {
        std::fprintf(stderr, "%s\n", path.c_str());
        const std::vector<unsigned char> bytes = read_file(path);
        // Copy into an exactly sized buffer so that reading past the input is caught.
        const auto buffer =
            std::make_unique<unsigned char[]>(std::max<std::size_t>(bytes.size(), 1));
        std::copy(bytes.begin(), bytes.end(), buffer.get());
        LLVMFuzzerTestOneInput(buffer.get(), bytes.size());
    }
    std::printf("%zu inputs replayed\n", inputs.size());
    return 0;
}
