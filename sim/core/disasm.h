#pragma once

// Turns the bytes at an address into instruction text for traces and the
// debugger. The interface is all the rest of the simulator sees; the
// decoders behind MakeDisassembler are built from the assemblers'
// instruction tables (one table for both directions), and their text
// assembles again to the same bytes.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "core/cpu.h"

namespace qorb::sim {

struct DecodedInstruction {
    std::uint8_t length = 1; // bytes, at least 1
    std::string text;        // lower-case mnemonic, a blank, operands ("ldaa 5,x")
};

class Disassembler {
public:
    using Reader = std::function<std::uint8_t(std::uint16_t)>;
    virtual ~Disassembler() = default;
    // Decodes the instruction at `address`; bytes come from `read` (which
    // must not have side effects). Bytes that form no instruction decode as
    // a one-byte "db" (or the opcode's length when known).
    virtual DecodedInstruction Decode(std::uint16_t address, const Reader& read) const = 0;
};

std::unique_ptr<Disassembler> MakeDisassembler(CpuModel model);

} // namespace qorb::sim
