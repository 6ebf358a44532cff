#pragma once

// The command tables (each target's opcodes, the pseudo commands, the
// preprocessor commands) are constant arrays with one row per name, sorted by
// name in plain byte order and searched by halving. This is the one place
// that knows how: the opcode row and its flags, the order of names, the
// lookup and the check of the order.

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <span>
#include <string_view>

namespace qorb {

// One row of a target's instruction table. A target's public table header
// lists its rows and what its operand classes mean, so that other tools (a
// disassembler) can be built from the same data.
struct OpcodeEntry {
    const char* name;     // lower case
    std::uint32_t cls;    // operand class in the low 6 bits, flags above
    std::uint32_t opcode; // below 256: one byte; else two bytes, high first
    std::uint32_t cycles; // base cycles; 255: not fixed
};

inline constexpr std::uint32_t kClassMask = 0x3F;
// Marks a mnemonic other assemblers do not know (an alias such as lda); it is
// accepted with a warning.
inline constexpr std::uint32_t kNonStandard = 0x40;

inline int ClassOf(const OpcodeEntry& e) { return static_cast<int>(e.cls & kClassMask); }
inline bool IsNonStandard(const OpcodeEntry& e) { return (e.cls & kNonStandard) != 0; }
inline int OpcodeLength(std::uint32_t opcode) { return (opcode & 0xFFFF) >= 256 ? 2 : 1; }

// Compares a row's name with a word in plain byte order (negative, zero,
// positive as the row sorts before, equal to, after the word), without
// measuring the row's name first: the tables are searched for every line.
inline int CompareTableName(const char* row, std::string_view word) {
    for (std::size_t i = 0;; ++i) {
        unsigned char a = static_cast<unsigned char>(row[i]);
        if (a == 0) return i == word.size() ? 0 : -1;
        if (i == word.size()) return 1;
        unsigned char b = static_cast<unsigned char>(word[i]);
        if (a != b) return a - b;
    }
}

// Whether a lookup folds the word's ASCII capitals first (mnemonics never
// depend on the case option; the command tables get words folded already).
enum class Folding { Exact, Lower };

// Words longer than this are never a row's name; a folded lookup refuses
// them instead of folding them.
inline constexpr std::size_t kMaxTableName = 256;

// The row named `word` in a table sorted by CompareTableName, or nullptr.
template <class Rows>
auto FindRow(const Rows& rows, std::string_view word, Folding folding = Folding::Exact)
    -> decltype(&*std::begin(rows)) {
    char folded[kMaxTableName];
    if (folding == Folding::Lower) {
        if (word.size() > kMaxTableName) return nullptr;
        for (std::size_t i = 0; i < word.size(); ++i) {
            char c = word[i];
            folded[i] = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
        }
        word = std::string_view(folded, word.size());
    }
    std::size_t lo = 0, hi = std::size(rows);
    while (lo < hi) {
        std::size_t mid = (lo + hi) / 2;
        int c = CompareTableName(std::begin(rows)[mid].name, word);
        if (c == 0) return &std::begin(rows)[mid];
        if (c > 0)
            hi = mid;
        else
            lo = mid + 1;
    }
    return nullptr;
}

// The index of the first row whose name does not sort strictly after the
// previous row's (out of order or twice), or the table's size when the
// table can be searched by halving.
template <class Rows> std::size_t FirstUnsortedRow(const Rows& rows) {
    for (std::size_t i = 1; i < std::size(rows); ++i)
        if (CompareTableName(std::begin(rows)[i - 1].name, std::begin(rows)[i].name) >= 0) return i;
    return std::size(rows);
}

enum class TableFault { None, BadClass, OutOfOrder };
// Checks an instruction table row by row: a class the target knows, names in
// strictly ascending order. On a fault `where` receives the row's index.
TableFault ValidateTable(std::span<const OpcodeEntry> table, bool (*validClass)(int),
                         std::size_t* where = nullptr);

} // namespace qorb
