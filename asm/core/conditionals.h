#pragma once

// Conditional assembly: the commands and the stack of open blocks.

namespace qorb {

enum class PreCommand {
    Define, Elif, Else, Endif, Fail, If, Ifc, Ifnc, Ifdef, Ifndef, Ifeq, Ifne, Ifge, Ifgt, Ifle, Iflt,
    Include, Messg, Warn
};

struct CondEntry {
    bool taking = false;
    bool enclosingActive = false;
    bool elseSeen = false;
    bool takenByElif = false;
};

} // namespace qorb
