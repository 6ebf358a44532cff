#pragma once

#include <string_view>

namespace qorb {
class Assembler;
}

// The 68HC11 instruction set: opcode table, operand parser and encoder.
namespace qorb::hc11 {

bool CheckTables(Assembler& as);
const void* FindInstruction(std::string_view lowerName);
bool AssembleInstruction(Assembler& as, const void* row);

} // namespace qorb::hc11
