#pragma once

// The 68HC12 opcode table: one row per mnemonic, sorted by name in plain byte
// order so that a lookup can halve the table.
//
// For a disassembler, each row gives the mnemonic, its operand class, the
// opcode of its first form and its base cycles. For the classes that take an
// address mode, OffsetsOf() says what each mode adds to the opcode (the
// encoder uses it too); the moves add the form (0..5) to $1800/$1808. Two-byte opcodes of class kInherent
// from $B700 are transfers whose second byte is the register postbyte. Every indexed operand is a postbyte
// followed by 0, 1 or 2 offset bytes.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "core/table.h"

namespace qorb::hc12 {

// Operand classes (see the encoder for what each accepts).
enum OperandClass : int {
    kInherent = 1,
    kImmediateOnly = 2,
    kBranch8 = 3,
    kBranch16 = 4,
    kGeneral8 = 5,
    kGeneral16 = 6,
    kReadModifyWrite = 7,
    kStore = 8,
    kBitSetClear = 9,
    kBitBranch = 10,
    kLoop = 11,
    kIndexedOnly = 12,
    kCall = 13,
    kTableLookup = 14,
    kLoadAddress = 15,
    kMoveByte = 16,
    kTransfer = 17,
    kExchange = 18,
    kSignExtend = 19,
    kJump = 20,
    kJumpSubroutine = 21,
    kEmacs = 22,
    kTrap = 23,
    kMoveWord = 24,
    kClear = 25,
};

// What an address mode adds to a row's opcode, for the classes whose forms
// differ only in the opcode (the encoder's rules); kNoForm where the class
// has no form of its own for the mode. Indexed stands for every indexed and
// indirect operand. The other classes place their operands after the row's
// opcode as it stands.
inline constexpr int kNoForm = -1000;
struct ModeOffsets {
    int immediate, direct, extended, indexed;
};
constexpr ModeOffsets OffsetsOf(int cls) {
    switch (cls) {
    case kImmediateOnly: return {0, kNoForm, kNoForm, kNoForm};
    case kGeneral8:
    case kGeneral16: return {0, 0x10, 0x30, 0x20};
    case kReadModifyWrite:
    case kClear: return {kNoForm, kNoForm, 0x30, 0x20};
    case kStore: return {kNoForm, 0x10, 0x30, 0x20};
    case kBitSetClear:
    case kBitBranch: return {kNoForm, 0x40, 0x10, 0};
    case kJump: return {kNoForm, kNoForm, 1, 0};
    case kJumpSubroutine: return {kNoForm, 2, 1, 0};
    case kCall: return {kNoForm, kNoForm, -1, 0};
    case kIndexedOnly:
    case kTableLookup:
    case kLoadAddress: return {kNoForm, kNoForm, kNoForm, 0};
    case kEmacs: return {kNoForm, kNoForm, 0, kNoForm};
    default: return {kNoForm, kNoForm, kNoForm, kNoForm};
    }
}

std::span<const OpcodeEntry> OpcodeTable();

// Finds a row by halving. The name is folded to lower case first, so
// mnemonics never depend on the case option. Names above 256 characters are
// never mnemonics.
const OpcodeEntry* LookupOpcode(std::string_view name);

// Classes 1..25.
bool ValidClass(int cls);
// Checks a table for classes 1..25 and strictly ascending names. On a fault,
// `where` receives the index of the offending row.
TableFault ValidateTable(std::span<const OpcodeEntry> table, std::size_t* where = nullptr);

} // namespace qorb::hc12
