#pragma once

// The line cache: every file a source reads, cut into lines once, and what
// processing a line taught about it. A program that needs several passes
// reads, cuts and parses each line once; later passes (and later includes of
// the same file) take the lines from memory and replay what was learnt.
//
// Only what follows from a line's text alone is kept: where its label and
// command word stand, the table row the command word names, the symbol it
// defines, and its expressions compiled with the symbol table entries they
// name. Everything that may differ
// between passes (conditionals, macros, `set` values, `\@`, backquote label
// scopes, the location) is worked out again every time.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "symbols.h"

namespace qorb {

struct OpcodeEntry;
struct LineCode;

// One step of an expression compiled to postfix order. Each step does
// what the evaluator did at the same place of the text, in the same order,
// so references are made (and reported) just as when it is parsed.
struct ExprOp {
    enum class Kind : std::uint8_t { Number, Location, Symbol, Local, Unary, Binary };
    Kind kind = Kind::Number;
    char unary = 0;        // Unary: '!', '-', '~' or '+'
    std::uint8_t op = 0;   // Binary: the evaluator's operator
    std::uint16_t pos = 0; // Symbol, Local: where the name stands
    std::uint16_t end = 0;
    union {
        std::int32_t value = 0; // Number: the value
        std::uint32_t symbol;   // Symbol: the symbol table entry's index
        struct {
            std::int32_t number; // the label's number
            std::uint32_t scope; // the scope its line last settled in
        } local;                 // Local
    };
};
static_assert(sizeof(ExprOp) <= 16, "kept for every expression of every line");

// An expression of a line that evaluated without fault, compiled: the text
// [pos, end) is the steps [first, first + count). Most expressions are a
// single number or a single symbol: those keep no steps, but the number
// (count 0) or the symbol's entry index (count kSymbolOnly, its name at
// `namePos`) in `first`.
struct ExprMemo {
    static constexpr std::uint16_t kSymbolOnly = 0xFFFF;
    std::uint16_t pos = 0;
    std::uint16_t end = 0;
    std::uint16_t count = 0;
    std::uint16_t namePos = 0;
    std::uint32_t first = 0;
    bool IsNumber() const { return count == 0; }
    bool IsSymbol() const { return count == kSymbolOnly; }
    bool HasSteps() const { return !IsNumber() && !IsSymbol(); }
    std::int32_t Number() const { return static_cast<std::int32_t>(first); }
};
static_assert(sizeof(ExprMemo) <= 12, "kept for every expression of every line");

// What processing a file line as a statement taught about it. Kept for
// every line of every cached file, so kept small.
struct LineMemo {
    enum class Head : std::uint8_t {
        None,        // nothing to replay: processed the long way every time
        LabelOnly,   // a label and nothing else
        Directive,   // [label] pseudo command
        Instruction, // [label] instruction
    };
    // Instruction: its row's index in the target's table; Directive: its row.
    std::uint16_t row = 0;
    std::uint16_t settledSize = 0; // see `settled`
    // The global symbol the line defines (label, equ, set): its entry's
    // index in the symbol table + 1; 0 for none.
    std::uint32_t defined = 0;
    std::uint32_t exprFirst = 0;    // into the source's list of compiled expressions
    std::uint16_t labelPos = 0;     // a global label's text
    std::uint16_t commandPos = 0;   // where the command word starts
    std::uint16_t afterCommand = 0; // the scan position behind it
    std::int16_t local = -1;        // n$ label, or -1
    std::uint8_t labelLength = 0;   // labels longer are worked out every time
    std::uint8_t exprCount = 0;     // expressions further on are parsed every time
    Head head = Head::None;
    bool learnt : 1 = false; // processed as a statement once
    bool dot : 1 = false;    // the command word had a leading '.'
    // An instruction or data line that last assembled without a message,
    // every expression compiled and every symbol known: at `settledPc`
    // (anywhere, when its size did not depend on its location), with the
    // symbols as they stood at `settledClock`, it was `settledSize` bytes.
    // A branch settles blind: its size holds whatever its target's value.
    bool settled : 1 = false;
    bool settledAnywhere : 1 = false;
    bool settledBlind : 1 = false;
    // When it settled, its bytes went to the file's `code` for the line;
    // `keptAnywhere`: they did not depend on the line's location. The final
    // pass may take them instead of assembling it.
    bool kept : 1 = false;
    bool keptAnywhere : 1 = false;
    std::uint32_t settledPc = 0;
    std::uint32_t settledClock = 0;
};
static_assert(sizeof(LineMemo) <= 32, "a memo for every line: keep it small");

// A file's lines as the reader delivers them: carriage returns and Ctrl-Z
// dropped, cut at the longest line; with the read error, if any, before the
// line it came before.
struct FileText {
    struct Line {
        std::uint32_t offset = 0; // cached files are far below 4 GB
        std::uint32_t length = 0;
    };
    std::string text; // the lines one after another, without line ends
    std::vector<Line> lines;
    std::vector<LineMemo> memos; // one per line
    // A settled line's bytes (LineMemo::kept), one word per line: their
    // count in the top 16 bits, below it the bytes themselves when there are
    // six or fewer (every instruction), or else where they stand in
    // `longCode`. Left uninitialised, so only the lines that settle touch it.
    std::unique_ptr<std::uint64_t[]> code;
    std::string longCode;
    std::size_t KeptCount(std::size_t i) const { return static_cast<std::size_t>(code[i] >> 48); }
    const std::uint8_t* KeptBytes(std::size_t i) const {
        return KeptCount(i) <= kInlineCode
                   ? reinterpret_cast<const std::uint8_t*>(&code[i])
                   : reinterpret_cast<const std::uint8_t*>(longCode.data()) + (code[i] & 0xFFFFFFFFFFFFull);
    }
    // Keeps line i's bytes; `again`: the line's bytes kept before are still
    // its. False when they are not kept.
    bool Keep(std::size_t i, const LineCode& code, bool again);
    static constexpr std::size_t kInlineCode = 6;
    std::size_t errorBefore = static_cast<std::size_t>(-1);
    int error = 0;

    std::string_view LineText(std::size_t i) const {
        return std::string_view(text.data() + lines[i].offset, lines[i].length);
    }
};

// Files larger than this are read block by block every pass instead: a
// source may include a huge file whose lines the line budget stops early.
inline constexpr long long kMaxCachedFileSize = 64ll << 20;

} // namespace qorb
