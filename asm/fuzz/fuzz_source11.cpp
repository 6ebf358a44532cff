// libFuzzer entry: every input is a source file for qorb11.
#include <cstddef>
#include <cstdint>

#include "harness.h"
#include "hc11/target_hc11.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 256 * 1024) return -1;
    qorb::fuzz::AssembleInput(data, size, qorb::hc11::GetTarget(), "qorb11");
    return 0;
}
