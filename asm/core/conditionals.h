#pragma once

// Conditional assembly: the commands and the stack of open blocks.

namespace qorb {

// The commands that open a block stand together, from If to Iflt.
enum class PreCommand {
    Define,
    Elif,
    Else,
    Endif,
    Fail,
    If,
    Ifc,
    Ifnc,
    Ifdef,
    Ifndef,
    Ifeq,
    Ifne,
    Ifge,
    Ifgt,
    Ifle,
    Iflt,
    Include,
    Messg,
    Warn
};

// if, ifc, ifdef and their relatives: the commands that open a block.
inline bool OpensConditional(PreCommand c) { return c >= PreCommand::If && c <= PreCommand::Iflt; }

struct CondEntry {
    bool taking = false;
    bool enclosingActive = false;
    bool elseSeen = false;
    bool takenByElif = false;
};

} // namespace qorb
