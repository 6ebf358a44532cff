#pragma once

// The 68HC11 opcode table: one row per mnemonic, sorted by name in plain byte
// order so that a lookup can halve the table.
//
// For a disassembler, each row gives the mnemonic, its operand class, the
// opcode of its immediate (or only) form and its base cycles. For the
// classes that take an address mode, OffsetsOf() says what each mode adds to
// the opcode (the encoder uses it too); indexed on Y is the X form's low byte
// behind the page prefix $18, except for the rows that IndexedForms() lists.
// Opcodes from 256 up are two bytes, a page prefix ($18, $1A, $CD) first.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "core/table.h"

namespace qorb::hc11 {

// Operand classes (see the encoder for what each accepts).
enum OperandClass : int {
    kInherent = 1,
    kBranch = 3,
    kGeneral8 = 5,
    kGeneral16 = 6,
    kModify = 7,
    kStore = 8,
    kBitSet = 9,
    kBitBranch = 10,
    kJmp = 11,
    kJsr = 12,
};

// What an address mode adds to a row's opcode (the encoder's rules); kNoForm
// where the class has no form for the mode. Indexed on Y: see above.
inline constexpr int kNoForm = -1000;
struct ModeOffsets {
    int immediate, direct, extended, indexedX;
};
constexpr ModeOffsets OffsetsOf(int cls) {
    switch (cls) {
    case kGeneral8:
    case kGeneral16: return {0, 0x10, 0x30, 0x20};
    case kStore:
    case kJsr: return {kNoForm, 0x10, 0x30, 0x20};
    case kModify:
    case kJmp: return {kNoForm, kNoForm, 0x30, 0x20};
    case kBitSet: return {kNoForm, 0, kNoForm, 0x08};
    case kBitBranch: return {kNoForm, 0, kNoForm, 0x0C};
    default: return {kNoForm, kNoForm, kNoForm, kNoForm};
    }
}

std::span<const OpcodeEntry> OpcodeTable();

// Finds a row by halving; the name is folded to lower case first, so
// mnemonics never depend on the case option.
const OpcodeEntry* LookupOpcode(std::string_view name);

// The classes above.
bool ValidClass(int cls);
// Checks a table for known classes and strictly ascending names. On a fault,
// `where` receives the index of the offending row.
TableFault ValidateTable(std::span<const OpcodeEntry> table, std::size_t* where = nullptr);

// The indexed forms of the 16-bit instructions whose opcode already uses a
// page prefix, or that need one for Y: the page changes and, where the
// prefixed form saves a fetch, one cycle less.
struct IndexedForm {
    std::uint32_t opcode; // immediate form as it stands in the table
    std::uint32_t onX;    // indexed on X, 0 for the ordinary form
    std::uint32_t onY;    // indexed on Y
    int cyclesY;          // correction for indexed on Y
};
std::span<const IndexedForm> IndexedForms();
// The row of IndexedForms() for an immediate opcode, or nullptr.
const IndexedForm* FindIndexedForm(std::uint32_t opcode);

} // namespace qorb::hc11
