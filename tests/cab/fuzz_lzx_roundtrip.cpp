// libFuzzer target: compress with our LZX encoder inside a cabinet, extract
// with libmspack, compare. Saved inputs in corpus/ are replayed by cab_tests.
#include "mspack_roundtrip.h"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string problem = cabtest::FuzzRoundTrip(std::span(data, size));
    if (!problem.empty()) {
        std::fprintf(stderr, "round trip failed: %s\n", problem.c_str());
        std::abort();
    }
    return 0;
}
