#pragma once

#include "core/encoder_host.h"
#include "opcodes.h"

namespace qorb::hc12 {

// Parses the operand field of one instruction, checks its modes against the
// row's class and places the bytes into the line code buffer; sets the line's
// cycle count. The same operand forms always give the same number of bytes,
// in every pass. Returns false after a reported error.
bool Assemble(EncoderHost& host, const OpcodeEntry& row);

} // namespace qorb::hc12
