#pragma once

// The general operand parser of the 68HC12 instructions and the indexed
// postbyte it computes.

#include <cstddef>
#include <cstdint>

#include "core/encoder_host.h"

namespace qorb::hc12 {

// Addressing modes as bits, so that a class can test a set of them at once.
enum Mode : unsigned {
    kModeInherent = 1,
    kModeImm8 = 2,
    kModeDirect = 4,
    kModeExtended = 8,
    kModeImm16 = 32,   // set by the class check, never by the parser
    kModeIndexed = 64, // one postbyte: 5-bit offset, accumulator, inc/dec
    kModeIndexed9 = 128,
    kModeIndexed16 = 256,
    kModeIndirectD = 512,
    kModeIndirect16 = 1024,
};

inline constexpr unsigned kModesIndexed =
    kModeIndexed | kModeIndexed9 | kModeIndexed16 | kModeIndirectD | kModeIndirect16;
inline constexpr unsigned kModesIndirect = kModeIndirectD | kModeIndirect16;

enum IndexRegister : int { kRegX = 0, kRegY = 1, kRegSP = 2, kRegPC = 3 };

struct Operand {
    unsigned mode = kModeInherent;
    std::int32_t value = 0;
    std::uint8_t postbyte = 0;
    bool known = false;
    bool pcRelative = false;
    bool forceShort = false;
    bool forceLong = false;

    // How the operand was written; the encoders of the moves need it.
    int reg = -1;           // index register code
    int accumulator = -1;   // A 0, B 1, D 2
    bool incDec = false;    // pre/post increment or decrement
    std::size_t column = 0; // scan position of the operand's start
    std::size_t offsetColumn = 0;

    bool IsIndexed() const { return (mode & kModesIndexed) != 0; }
    bool IsConstantOffset() const { return IsIndexed() && accumulator < 0 && !incDec; }
};

// Register names (lower case, at most three letters; "" for an unused
// place) with the set of letters that begin them: most operands are symbols
// whose first letter begins no register name, and those need no comparison.
struct WordSet {
    const char* const* names;
    int count;
    std::uint32_t initials; // bit c - 'a' for every name's first letter c
};
template <int N> constexpr WordSet Words(const char* const (&names)[N]) {
    std::uint32_t initials = 0;
    for (const char* n : names)
        if (n[0] >= 'a' && n[0] <= 'z') initials |= std::uint32_t{1} << (n[0] - 'a');
    return WordSet{names, N, initials};
}

// Matches one of `words` as a whole word regardless of case, at the scan
// position. Returns its index and moves past it, or -1.
int MatchWord(Scanner& s, const WordSet& words);

// Parses one operand in the general form. `placed` counts the bytes of the
// instruction that precede its operand for PC-relative distances.
// Returns false after a reported error.
bool ParseOperand(EncoderHost& host, Operand& op, std::uint32_t placed);

// Postbyte of a 5-bit, 9-bit or 16-bit constant offset form.
std::uint8_t ConstantPostbyte(unsigned mode, int reg, std::int32_t value);

} // namespace qorb::hc12
