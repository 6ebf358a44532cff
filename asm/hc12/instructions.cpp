#include "instructions.h"

#include "core/assembler.h"
#include "encoder.h"
#include "host.h"
#include "opcodes.h"

namespace qorb::hc12 {

bool CheckTables(Assembler& as) {
    if (ValidateTable(OpcodeTable()) != TableFault::None) return as.Report(1004); // opcode table corrupt
    return true;
}

const void* FindInstruction(std::string_view name) { return LookupOpcode(name); }

bool AssembleInstruction(Assembler& as, const void* row) {
    if (row == nullptr) return false;
    AssemblerHost host(as);
    return Assemble(host, *static_cast<const OpcodeEntry*>(row));
}

} // namespace qorb::hc12
