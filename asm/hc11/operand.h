#pragma once

// The operand parser of the 68HC11 instructions.

#include <cstddef>
#include <cstdint>

#include "core/encoder_host.h"

namespace qorb::hc11 {

// Operand modes, as bits, so that a class can test sets of them.
enum Mode : unsigned {
    kModeInherent = 1,
    kModeImmediate8 = 2,
    kModeDirect = 4,
    kModeExtended = 8,
    kModeImmediate16 = 32,
    kModeIndexedX = 64,
    kModeIndexedY = 128,
};

// A parsed operand.
struct Operand {
    unsigned mode = kModeInherent;
    std::int32_t value = 0;
    bool known = false;
    bool forceShort = false;
    bool forceLong = false;
    std::size_t start = 0; // column of the operand, for messages
};

// Parses one operand: nothing, `#expr`, `expr`, `<expr`, `>expr`, `expr,X`,
// `,Y`, or `X`/`Y` alone. A comma that is not followed by an index register
// is left for the caller, so that `bset addr,#mask` can split its fields.
// Returns false after a reported error.
bool ParseOperand(EncoderHost& host, Operand& op);

} // namespace qorb::hc11
