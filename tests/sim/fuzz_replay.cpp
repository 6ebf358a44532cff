// Re-runs every saved fuzzer input through the same harness as qorbsim's
// fuzz target, so what the fuzzer once found stays fixed. Under the
// sanitizer build any memory or undefined-behaviour fault ends the test.

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "harness.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s corpus-dir...\n", argv[0]);
        return 2;
    }
    std::vector<std::filesystem::path> files;
    for (int i = 1; i < argc; ++i)
        for (const auto& e : std::filesystem::directory_iterator(argv[i]))
            if (e.is_regular_file()) files.push_back(e.path());
    std::sort(files.begin(), files.end());
    if (files.empty()) {
        std::fprintf(stderr, "no saved inputs found\n");
        return 2;
    }
    unsigned counts[256] = {};
    for (const auto& f : files) {
        std::ifstream in(f, std::ios::binary);
        std::vector<char> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const int status =
            qorb::sim::fuzz::RunInput(reinterpret_cast<const std::uint8_t*>(data.data()), data.size());
        // Whatever the input, the program ends with one of its documented statuses.
        if (status != 0 && status != 1 && status != 3 && status != 4 && status != 5 && status != 6) {
            std::fprintf(stderr, "%s: exit status %d\n", f.c_str(), status);
            return 1;
        }
        ++counts[status];
    }
    std::fprintf(stderr,
                 "%zu inputs replayed: %u usage or load errors, %u ran to the cycle limit, %u other ends\n",
                 files.size(), counts[1], counts[3], counts[0] + counts[4] + counts[5] + counts[6]);
    return 0;
}
