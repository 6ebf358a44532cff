// libFuzzer entry: every input is a qorbsim command line and an S-record
// file (see harness.h); a loadable file runs its bytes as a program.
#include <cstddef>
#include <cstdint>

#include "harness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 64 * 1024) return -1;
    qorb::sim::fuzz::RunInput(data, size);
    return 0;
}
