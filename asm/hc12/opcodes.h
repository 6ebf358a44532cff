#pragma once

// The 68HC12 opcode table: one row per mnemonic, sorted by name in plain byte
// order so that a lookup can halve the table.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace qorb::hc12 {

// Marks a mnemonic that other assemblers do not know (lda, ldb, sta, stb).
inline constexpr std::uint32_t kNonStandard = 0x40;
inline constexpr std::uint32_t kClassMask = 0x3F;

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

struct OpcodeEntry {
    const char* name;     // lower case
    std::uint32_t cls;    // operand class in the low 6 bits, kNonStandard flag
    std::uint32_t opcode; // below 256: one byte; else two bytes, high first
    std::uint32_t cycles; // base cycles; 255: not fixed
};

inline int ClassOf(const OpcodeEntry& e) { return static_cast<int>(e.cls & kClassMask); }
inline bool IsNonStandard(const OpcodeEntry& e) { return (e.cls & kNonStandard) != 0; }
inline int OpcodeLength(std::uint32_t opcode) { return (opcode & 0xFFFF) >= 256 ? 2 : 1; }

std::span<const OpcodeEntry> OpcodeTable();

// Finds a row by halving. The name is folded to lower case first, so
// mnemonics never depend on the case option. Names above 256 characters are
// never mnemonics.
const OpcodeEntry* LookupOpcode(std::string_view name);

enum class TableFault { None, BadClass, OutOfOrder };
// Checks a table for classes 1..25 and strictly ascending names. On a fault,
// `where` receives the index of the offending row.
TableFault ValidateTable(std::span<const OpcodeEntry> table, std::size_t* where = nullptr);

} // namespace qorb::hc12
