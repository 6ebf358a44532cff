#include "table.h"

#include "assembler.h"
#include "encoder_host.h"
#include "target.h"

namespace qorb {

TableFault ValidateTable(std::span<const OpcodeEntry> table, bool (*validClass)(int), std::size_t* where) {
    for (std::size_t i = 0; i < table.size(); ++i) {
        TableFault fault = TableFault::None;
        if (!validClass(ClassOf(table[i])))
            fault = TableFault::BadClass;
        else if (i > 0 && CompareTableName(table[i - 1].name, table[i].name) >= 0)
            fault = TableFault::OutOfOrder;
        if (fault != TableFault::None) {
            if (where) *where = i;
            return fault;
        }
    }
    return TableFault::None;
}

bool TableTarget::CheckTables(Assembler& as) const {
    if (ValidateTable(table_, validClass_) != TableFault::None)
        return as.Report(Msg::OpcodeTableCorrupt); // opcode table corrupt
    return true;
}

bool TableTarget::AssembleInstruction(Assembler& as, const OpcodeEntry& row) const {
    AssemblerHost host(as);
    return encode_(host, row);
}

} // namespace qorb
