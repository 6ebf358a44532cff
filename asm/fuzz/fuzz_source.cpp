// libFuzzer entry: every input is a source file for qorb12.
#include <cstddef>
#include <cstdint>

#include "harness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Inputs beyond a few hundred kilobytes only repeat what smaller ones
    // reach, and slow the search down.
    if (size > 256 * 1024) return -1;
    qorb::fuzz::AssembleInput(data, size);
    return 0;
}
