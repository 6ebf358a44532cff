// Addresses and bytes as the simulator's messages and disassembly show them:
// `$` and upper-case hexadecimal digits.
#pragma once

#include <cstdio>
#include <string>

namespace qorb::sim {

inline std::string Hex2(unsigned v) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "$%02X", v & 0xFF);
    return buf;
}

inline std::string Hex4(unsigned v) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "$%04X", v & 0xFFFF);
    return buf;
}

} // namespace qorb::sim
