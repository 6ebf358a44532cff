#pragma once

// Condition-code arithmetic shared by the CPU12 and 68HC11 cores: the two
// CPUs define N, Z, V, C and H the same way for the instructions they share.

#include <cstdint>

#include "core/cpu.h"

namespace qorb::sim::alu {

using namespace ccr;

inline std::uint8_t NZ8(std::uint8_t r) {
    return static_cast<std::uint8_t>((r & 0x80 ? N : 0) | (r ? 0 : Z));
}
inline std::uint8_t NZ16(std::uint16_t r) {
    return static_cast<std::uint8_t>((r & 0x8000 ? N : 0) | (r ? 0 : Z));
}

inline void Set(std::uint8_t& cc, std::uint8_t mask, std::uint8_t bits) {
    cc = static_cast<std::uint8_t>((cc & ~mask) | bits);
}

// Loads, stores, logic: N and Z from the result, V cleared.
inline void Logic8(std::uint8_t& cc, std::uint8_t r) { Set(cc, N | Z | V, NZ8(r)); }
inline void Logic16(std::uint8_t& cc, std::uint16_t r) { Set(cc, N | Z | V, NZ16(r)); }

inline std::uint8_t Add8(std::uint8_t& cc, std::uint8_t x, std::uint8_t m, unsigned carry) {
    const auto r = static_cast<std::uint8_t>(x + m + carry);
    const unsigned carries = (x & m) | (m & ~r) | (~r & x);
    std::uint8_t f = NZ8(r);
    if (carries & 0x08) f |= H;
    if (carries & 0x80) f |= C;
    if ((x ^ r) & (m ^ r) & 0x80) f |= V;
    Set(cc, H | N | Z | V | C, f);
    return r;
}

inline std::uint8_t Sub8(std::uint8_t& cc, std::uint8_t x, std::uint8_t m, unsigned borrow) {
    const auto r = static_cast<std::uint8_t>(x - m - borrow);
    const unsigned borrows = (~x & m) | (m & r) | (r & ~x);
    std::uint8_t f = NZ8(r);
    if (borrows & 0x80) f |= C;
    if ((x ^ m) & (x ^ r) & 0x80) f |= V;
    Set(cc, N | Z | V | C, f);
    return r;
}

inline std::uint16_t Add16(std::uint8_t& cc, std::uint16_t x, std::uint16_t m, unsigned carry = 0) {
    const auto r = static_cast<std::uint16_t>(x + m + carry);
    const unsigned carries = (x & m) | (m & ~r) | (~r & x);
    std::uint8_t f = NZ16(r);
    if (carries & 0x8000) f |= C;
    if ((x ^ r) & (m ^ r) & 0x8000) f |= V;
    Set(cc, N | Z | V | C, f);
    return r;
}

inline std::uint16_t Sub16(std::uint8_t& cc, std::uint16_t x, std::uint16_t m, unsigned borrow = 0) {
    const auto r = static_cast<std::uint16_t>(x - m - borrow);
    const unsigned borrows = (~x & m) | (m & r) | (r & ~x);
    std::uint8_t f = NZ16(r);
    if (borrows & 0x8000) f |= C;
    if ((x ^ m) & (x ^ r) & 0x8000) f |= V;
    Set(cc, N | Z | V | C, f);
    return r;
}

// Shifts and rotates: V = N xor C after the operation.
inline std::uint8_t ShiftFlags8(std::uint8_t& cc, std::uint8_t r, bool c) {
    std::uint8_t f = NZ8(r);
    if (c) f |= C;
    if (((f & N) != 0) != c) f |= V;
    Set(cc, N | Z | V | C, f);
    return r;
}
inline std::uint16_t ShiftFlags16(std::uint8_t& cc, std::uint16_t r, bool c) {
    std::uint8_t f = NZ16(r);
    if (c) f |= C;
    if (((f & N) != 0) != c) f |= V;
    Set(cc, N | Z | V | C, f);
    return r;
}

inline std::uint8_t Neg8(std::uint8_t& cc, std::uint8_t m) {
    const auto r = static_cast<std::uint8_t>(0 - m);
    Set(cc, N | Z | V | C, static_cast<std::uint8_t>(NZ8(r) | (r == 0x80 ? V : 0) | (r != 0 ? C : 0)));
    return r;
}
inline std::uint8_t Com8(std::uint8_t& cc, std::uint8_t m) {
    const auto r = static_cast<std::uint8_t>(~m);
    Set(cc, N | Z | V | C, static_cast<std::uint8_t>(NZ8(r) | C));
    return r;
}
inline std::uint8_t Inc8(std::uint8_t& cc, std::uint8_t m) {
    const auto r = static_cast<std::uint8_t>(m + 1);
    Set(cc, N | Z | V, static_cast<std::uint8_t>(NZ8(r) | (r == 0x80 ? V : 0)));
    return r;
}
inline std::uint8_t Dec8(std::uint8_t& cc, std::uint8_t m) {
    const auto r = static_cast<std::uint8_t>(m - 1);
    Set(cc, N | Z | V, static_cast<std::uint8_t>(NZ8(r) | (r == 0x7F ? V : 0)));
    return r;
}
inline std::uint8_t Lsr8(std::uint8_t& cc, std::uint8_t m) {
    return ShiftFlags8(cc, static_cast<std::uint8_t>(m >> 1), m & 1);
}
inline std::uint8_t Asl8(std::uint8_t& cc, std::uint8_t m) {
    return ShiftFlags8(cc, static_cast<std::uint8_t>(m << 1), (m & 0x80) != 0);
}
inline std::uint8_t Asr8(std::uint8_t& cc, std::uint8_t m) {
    return ShiftFlags8(cc, static_cast<std::uint8_t>((m >> 1) | (m & 0x80)), m & 1);
}
inline std::uint8_t Rol8(std::uint8_t& cc, std::uint8_t m) {
    return ShiftFlags8(cc, static_cast<std::uint8_t>((m << 1) | (cc & C)), (m & 0x80) != 0);
}
inline std::uint8_t Ror8(std::uint8_t& cc, std::uint8_t m) {
    return ShiftFlags8(cc, static_cast<std::uint8_t>((m >> 1) | ((cc & C) << 7)), m & 1);
}
inline std::uint8_t Clr8(std::uint8_t& cc) {
    Set(cc, N | Z | V | C, Z);
    return 0;
}
inline void Tst8(std::uint8_t& cc, std::uint8_t m) { Set(cc, N | Z | V | C, NZ8(m)); }

// Decimal adjust after a BCD addition, from C, H and the two digits.
inline std::uint8_t Daa(std::uint8_t& cc, std::uint8_t a) {
    const unsigned lo = a & 0x0F, hi = a >> 4;
    unsigned fix = 0;
    bool c = (cc & C) != 0;
    if ((cc & H) || lo > 9) fix |= 0x06;
    if (c || hi > 9 || (hi >= 9 && lo > 9)) {
        fix |= 0x60;
        c = true;
    }
    const auto r = static_cast<std::uint8_t>(a + fix);
    std::uint8_t f = NZ8(r);
    if (c) f |= C;
    Set(cc, N | Z | C, f);
    return r;
}

// Writes to the CCR from the program: the X bit can be cleared but never set.
inline std::uint8_t ProgramCcr(std::uint8_t old, std::uint8_t value) {
    return (old & X) ? value : static_cast<std::uint8_t>(value & ~X);
}

inline bool Condition(unsigned code, std::uint8_t cc) {
    const bool n = cc & N, z = cc & Z, v = cc & V, c = cc & C;
    switch (code & 15) {
    case 0: return true;
    case 1: return false;
    case 2: return !(c || z);
    case 3: return c || z;
    case 4: return !c;
    case 5: return c;
    case 6: return !z;
    case 7: return z;
    case 8: return !v;
    case 9: return v;
    case 10: return !n;
    case 11: return n;
    case 12: return n == v;
    case 13: return n != v;
    case 14: return !z && n == v;
    default: return z || n != v;
    }
}

} // namespace qorb::sim::alu
