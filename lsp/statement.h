#pragma once

// The fields of a source line as the assembler's statement processor takes
// them apart (label in the first column or before a colon, the command word
// with its `#`/`$` or `.` mark, the operand field, the comment), and the
// colouring of a line in the IDE highlighter's categories. Words are
// classified by the assembler's own command tables.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "core/target.h"

namespace qorbls {

enum class CommandKind { None, Preprocessor, Directive, Instruction, Other };

struct Statement {
    bool comment = false;                         // the whole line is a comment
    std::size_t labelBegin = 0, labelEnd = 0;     // empty when none
    std::size_t commandBegin = 0, commandEnd = 0; // the word, without its mark
    std::size_t markBegin = 0;                    // where the mark (or the word) starts
    CommandKind kind = CommandKind::None;
    std::string command;      // lower case
    std::size_t operands = 0; // where the operand field starts (after blanks)
};

Statement ParseStatement(std::string_view line, const qorb::Target& target);

// The IDE highlighter's categories, in the order of the server's legend.
enum class TokenType { Mnemonic, Directive, Preprocessor, Label, Symbol, Number, String, Comment, Register };
inline constexpr const char* kTokenTypeNames[] = {
    "mnemonic", "directive", "preprocessor", "label", "symbol", "number", "string", "comment", "register"};

struct ColourToken {
    std::size_t begin, end; // bytes
    TokenType type;
};

// `hc12`: the 68HC12 register names (sp, pc, ccr) count too.
std::vector<ColourToken> ColourLine(std::string_view line, const qorb::Target& target, bool hc12);

} // namespace qorbls
