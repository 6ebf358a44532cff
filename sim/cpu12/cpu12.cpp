#include "cpu12/cpu12.h"

#include <algorithm>

#include "core/alu.h"
#include "core/bus.h"
#include "core/events.h"
#include "core/inline.h"

namespace qorb::sim {

using namespace alu;

namespace {

// Cycles of the indexed forms, by the postbyte's class:
// IDX (5-bit offset, auto increment/decrement, accumulator offset), IDX1
// (9-bit offset), IDX2 (16-bit offset), [D,IDX], [IDX2].
enum IndexedForm { kIdx = 0, kIdx1 = 1, kIdx2 = 2, kIndD = 3, kInd16 = 4 };
constexpr std::uint8_t kLoadCycles[5] = {3, 3, 4, 6, 6};  // loads, arithmetic, compares, TST
constexpr std::uint8_t kStoreCycles[5] = {2, 3, 3, 5, 5}; // stores, CLR
constexpr std::uint8_t kRmwCycles[5] = {3, 4, 5, 6, 6};   // read-modify-write
constexpr std::uint8_t kJmpCycles[5] = {3, 3, 4, 6, 6};
constexpr std::uint8_t kJsrCycles[5] = {4, 4, 5, 7, 7};
constexpr std::uint8_t kCallCycles12[5] = {8, 8, 9, 10, 10};
constexpr std::uint8_t kCallCyclesS12[5] = {7, 7, 8, 10, 10};
constexpr std::uint8_t kMinMaxCycles[5] = {4, 5, 6, 7, 7};    // MAXA/MINA/EMAXD/EMIND
constexpr std::uint8_t kMinMaxMemCycles[5] = {4, 5, 6, 7, 7}; // MAXM/MINM/EMAXM/EMINM
constexpr std::uint8_t kBitCycles[3] = {4, 4, 6};             // BSET/BCLR
constexpr std::uint8_t kBitBranchCycles[3] = {4, 6, 8};       // BRSET/BRCLR

// Bytes of an indexed operand (postbyte and offset) from its postbyte.
int IndexedLength(std::uint8_t xb) {
    if ((xb & 0xE0) != 0xE0) return 1;
    switch (xb & 7) {
    case 0:
    case 1: return 2;
    case 2:
    case 3: return 3;
    default: return 1;
    }
}

bool IndirectPostbyte(std::uint8_t xb) { return (xb & 0xE3) == 0xE3; }

} // namespace

Cpu12::Cpu12(Bus& bus, const std::uint8_t* stopFlags, bool hcs12) : Cpu(bus, stopFlags), hcs12_(hcs12) {}

void Cpu12::Reset() {
    regs = Registers{};
    regs.ccr = ccr::S | ccr::X | ccr::I;
    regs.pc = static_cast<std::uint16_t>(bus_.Peek(kResetVector) << 8 | bus_.Peek(kResetVector + 1));
    state = RunState::Running;
}

Halt Cpu12::Run(std::uint64_t deadline, bool passFirstStop) {
    runDeadline = deadline;
    return bus_.Flat() ? Loop<true>(deadline, passFirstStop) : Loop<false>(deadline, passFirstStop);
}

template <bool Flat> Halt Cpu12::Loop(std::uint64_t deadline, bool passFirstStop) {
    std::uint8_t* const mem = bus_.Ram();
    Bus& bus = bus_;
    const std::uint8_t* const stops = stops_;
    const bool hcs = hcs12_;

    // Registers live in locals while the loop runs: stores through the byte
    // pointer could alias members, locals they cannot.
    std::uint16_t pc = regs.pc, sp = regs.sp, x = regs.x, y = regs.y;
    std::uint8_t a = regs.a, b = regs.b, cc = regs.ccr, ppage = regs.ppage;
    std::uint64_t cyc = cycles, count = instructions;
    bool pass = passFirstStop;
    bool executed = false;
    Halt halt = Halt::Deadline;

    auto rd8 = [&](std::uint16_t ad) QORB_SIM_INLINE -> std::uint8_t {
        if constexpr (Flat)
            return mem[ad];
        else
            return bus.Read(ad);
    };
    auto wr8 = [&](std::uint16_t ad, std::uint8_t v) QORB_SIM_INLINE {
        if constexpr (Flat)
            mem[ad] = v;
        else
            bus.Write(ad, v);
    };
    auto rd16 = [&](std::uint16_t ad) QORB_SIM_INLINE -> std::uint16_t {
        return static_cast<std::uint16_t>(rd8(ad) << 8 | rd8(static_cast<std::uint16_t>(ad + 1)));
    };
    auto wr16 = [&](std::uint16_t ad, std::uint16_t v) QORB_SIM_INLINE {
        wr8(ad, static_cast<std::uint8_t>(v >> 8));
        wr8(static_cast<std::uint16_t>(ad + 1), static_cast<std::uint8_t>(v));
    };
    auto f8 = [&]() QORB_SIM_INLINE -> std::uint8_t { return rd8(pc++); };
    auto f16 = [&]() QORB_SIM_INLINE -> std::uint16_t {
        const std::uint16_t v = rd16(pc);
        pc = static_cast<std::uint16_t>(pc + 2);
        return v;
    };
    auto push8 = [&](std::uint8_t v) QORB_SIM_INLINE { wr8(--sp, v); };
    auto push16 = [&](std::uint16_t v) QORB_SIM_INLINE {
        sp = static_cast<std::uint16_t>(sp - 2);
        wr16(sp, v);
    };
    auto pull8 = [&]() QORB_SIM_INLINE -> std::uint8_t { return rd8(sp++); };
    auto pull16 = [&]() QORB_SIM_INLINE -> std::uint16_t {
        const std::uint16_t v = rd16(sp);
        sp = static_cast<std::uint16_t>(sp + 2);
        return v;
    };
    auto getD = [&]() QORB_SIM_INLINE -> std::uint16_t { return static_cast<std::uint16_t>(a << 8 | b); };
    auto setD = [&](std::uint16_t v) QORB_SIM_INLINE {
        a = static_cast<std::uint8_t>(v >> 8);
        b = static_cast<std::uint8_t>(v);
    };
    auto indexReg = [&](unsigned rr) QORB_SIM_INLINE -> std::uint16_t& {
        return rr == 0 ? x : rr == 1 ? y : sp;
    };

    // Effective address of an indexed operand. The PC as base is the
    // address of the next instruction: `trailing` counts the instruction's
    // bytes after the indexed operand, unless `pcBase` gives the base. For
    // the indirect forms `pointer` receives the address the pointer was read
    // from.
    std::uint16_t pointer = 0;
    auto indexed = [&](int trailing, int& form, int pcBase = -1) -> std::uint16_t {
        const std::uint8_t xb = f8();
        auto base = [&](unsigned rr) -> std::uint16_t {
            if (rr < 3) return indexReg(rr);
            return pcBase >= 0 ? static_cast<std::uint16_t>(pcBase)
                               : static_cast<std::uint16_t>(pc + trailing);
        };
        if (!(xb & 0x20)) {
            form = kIdx;
            const int off = (xb & 0x10) ? (xb & 0x0F) - 16 : (xb & 0x0F);
            return static_cast<std::uint16_t>(base(xb >> 6) + off);
        }
        if ((xb & 0xE0) != 0xE0) {
            form = kIdx;
            std::uint16_t& r = indexReg(xb >> 6);
            const int n = xb & 0x0F;
            const int delta = n < 8 ? n + 1 : n - 16;
            if (xb & 0x10) {
                const std::uint16_t ea = r;
                r = static_cast<std::uint16_t>(r + delta);
                return ea;
            }
            r = static_cast<std::uint16_t>(r + delta);
            return r;
        }
        const unsigned rr = (xb >> 3) & 3;
        switch (xb & 7) {
        case 0:
        case 1: {
            form = kIdx1;
            const std::uint8_t o = f8();
            const int off = (xb & 1) ? o - 256 : o;
            return static_cast<std::uint16_t>(base(rr) + off);
        }
        case 2: {
            form = kIdx2;
            const std::uint16_t o = f16();
            return static_cast<std::uint16_t>(base(rr) + o);
        }
        case 3: {
            form = kInd16;
            const std::uint16_t o = f16();
            pointer = static_cast<std::uint16_t>(base(rr) + o);
            return rd16(pointer);
        }
        case 4: form = kIdx; return static_cast<std::uint16_t>(base(rr) + a);
        case 5: form = kIdx; return static_cast<std::uint16_t>(base(rr) + b);
        case 6: form = kIdx; return static_cast<std::uint16_t>(base(rr) + getD());
        default:
            form = kIndD;
            pointer = static_cast<std::uint16_t>(base(rr) + getD());
            return rd16(pointer);
        }
    };

    auto stackAll = [&](std::uint16_t ret) {
        push16(ret);
        push16(y);
        push16(x);
        push8(a);
        push8(b);
        push8(cc);
    };
    auto unstackAll = [&]() {
        cc = ProgramCcr(cc, pull8());
        b = pull8();
        a = pull8();
        x = pull16();
        y = pull16();
        pc = pull16();
    };
    // An unmasked interrupt request, XIRQ first; 0 when none.
    auto pendingVector = [&]() -> std::uint16_t {
        if (xirqLine && !(cc & ccr::X)) return kXirqVector;
        if (irqLine && !(cc & ccr::I)) return irqVector ? irqVector : kIrqVector;
        return 0;
    };
    auto vectorTo = [&](std::uint16_t vector) {
        if (vector == kXirqVector)
            cc |= ccr::X | ccr::I;
        else
            cc |= ccr::I;
        pc = rd16(vector);
    };

    // The instruction's first byte, for an opcode that traps: the PC goes
    // back there when the trap vector is unset.
    std::uint16_t start = pc;
    // Unimplemented opcode or postbyte: the trap through $FFF8, or a halt
    // when the vector is unset. Returns false on the halt.
    auto trap = [&](std::uint16_t ret) -> bool {
        const std::uint16_t v = rd16(kTrapVector);
        if (v == 0x0000 || v == 0xFFFF) {
            pc = start;
            halt = Halt::IllegalOpcode;
            return false;
        }
        stackAll(ret);
        cc |= ccr::I;
        pc = v;
        cyc += 10;
        return true;
    };

    // WAV: the sums of S*F (to Y:D) and of F (to X) over B elements, S at X
    // and F at Y.
    auto wav = [&]() {
        std::uint32_t num = 0;
        std::uint16_t den = 0;
        const unsigned n = b;
        for (unsigned i = 0; i < n; ++i) {
            const std::uint8_t s = rd8(static_cast<std::uint16_t>(x + i));
            const std::uint8_t f = rd8(static_cast<std::uint16_t>(y + i));
            num += static_cast<std::uint32_t>(s) * f;
            den = static_cast<std::uint16_t>(den + f);
        }
        y = static_cast<std::uint16_t>(num >> 16);
        setD(static_cast<std::uint16_t>(num));
        x = den;
        Set(cc, ccr::Z, den ? 0 : ccr::Z);
        cyc += 3 + 8 * static_cast<std::uint64_t>(n);
    };

    // With devices on the bus, an access may schedule an earlier event or
    // ask for the run to end (runDeadline), and a device reading the clock
    // sees the cycle count of the instruction under way.
    auto limit = [&]() QORB_SIM_INLINE -> std::uint64_t {
        if constexpr (Flat)
            return deadline;
        else
            return runDeadline;
    };
    while (cyc < limit()) {
        if constexpr (!Flat) cycles = cyc;
        if (state != RunState::Running) {
            const std::uint16_t v = pendingVector();
            if (v) {
                // Registers were stacked by WAI or STOP: only the vector.
                state = RunState::Running;
                vectorTo(v);
                cyc += 5;
                continue;
            }
            if (state == RunState::Stopped && xirqLine) {
                // XIRQ masked by X ends STOP without an interrupt.
                state = RunState::Running;
                continue;
            }
            if ((cc & (ccr::I | ccr::X)) == (ccr::I | ccr::X) || limit() == EventQueue::kNever) {
                halt = Halt::Stopped;
                break;
            }
            if (limit() > cyc) cyc = limit(); // the clock runs while the CPU waits
            break;
        }
        if (stops[pc] && !pass) {
            halt = Halt::StopAddress;
            break;
        }
        pass = false;
        if (xirqLine | irqLine) {
            if (const std::uint16_t v = pendingVector()) {
                stackAll(pc);
                vectorTo(v);
                cyc += 9;
                executed = false;
                continue;
            }
        }

        start = pc;
        const std::uint8_t op = f8();
        int form = 0;
        executed = true;
        ++count;

// The four modes of the accumulator instructions $80-$FF: immediate,
// direct, indexed, extended. `m` is the operand, `body` uses it.
#define CASES_READ8(base, body)                                                                              \
    case base: {                                                                                             \
        const std::uint8_t m = f8();                                                                         \
        body;                                                                                                \
        cyc += 1;                                                                                            \
        break;                                                                                               \
    }                                                                                                        \
    case base + 0x10: {                                                                                      \
        const std::uint8_t m = rd8(f8());                                                                    \
        body;                                                                                                \
        cyc += 3;                                                                                            \
        break;                                                                                               \
    }                                                                                                        \
    case base + 0x20: {                                                                                      \
        const std::uint8_t m = rd8(indexed(0, form));                                                        \
        body;                                                                                                \
        cyc += kLoadCycles[form];                                                                            \
        break;                                                                                               \
    }                                                                                                        \
    case base + 0x30: {                                                                                      \
        const std::uint8_t m = rd8(f16());                                                                   \
        body;                                                                                                \
        cyc += 3;                                                                                            \
        break;                                                                                               \
    }
#define CASES_READ16(base, body)                                                                             \
    case base: {                                                                                             \
        const std::uint16_t m = f16();                                                                       \
        body;                                                                                                \
        cyc += 2;                                                                                            \
        break;                                                                                               \
    }                                                                                                        \
    case base + 0x10: {                                                                                      \
        const std::uint16_t m = rd16(f8());                                                                  \
        body;                                                                                                \
        cyc += 3;                                                                                            \
        break;                                                                                               \
    }                                                                                                        \
    case base + 0x20: {                                                                                      \
        const std::uint16_t m = rd16(indexed(0, form));                                                      \
        body;                                                                                                \
        cyc += kLoadCycles[form];                                                                            \
        break;                                                                                               \
    }                                                                                                        \
    case base + 0x30: {                                                                                      \
        const std::uint16_t m = rd16(f16());                                                                 \
        body;                                                                                                \
        cyc += 3;                                                                                            \
        break;                                                                                               \
    }
// Stores at $5A-$7F: direct, indexed, extended. The stored value is the
// register before an auto increment or decrement of the same register.
#define CASES_STORE8(base, reg)                                                                              \
    case base: {                                                                                             \
        const std::uint8_t v = reg;                                                                          \
        wr8(f8(), v);                                                                                        \
        Logic8(cc, v);                                                                                       \
        cyc += 2;                                                                                            \
        break;                                                                                               \
    }                                                                                                        \
    case base + 0x10: {                                                                                      \
        const std::uint8_t v = reg;                                                                          \
        wr8(indexed(0, form), v);                                                                            \
        Logic8(cc, v);                                                                                       \
        cyc += kStoreCycles[form];                                                                           \
        break;                                                                                               \
    }                                                                                                        \
    case base + 0x20: {                                                                                      \
        const std::uint8_t v = reg;                                                                          \
        wr8(f16(), v);                                                                                       \
        Logic8(cc, v);                                                                                       \
        cyc += 3;                                                                                            \
        break;                                                                                               \
    }
#define CASES_STORE16(base, reg)                                                                             \
    case base: {                                                                                             \
        const std::uint16_t v = reg;                                                                         \
        wr16(f8(), v);                                                                                       \
        Logic16(cc, v);                                                                                      \
        cyc += 2;                                                                                            \
        break;                                                                                               \
    }                                                                                                        \
    case base + 0x10: {                                                                                      \
        const std::uint16_t v = reg;                                                                         \
        wr16(indexed(0, form), v);                                                                           \
        Logic16(cc, v);                                                                                      \
        cyc += kStoreCycles[form];                                                                           \
        break;                                                                                               \
    }                                                                                                        \
    case base + 0x20: {                                                                                      \
        const std::uint16_t v = reg;                                                                         \
        wr16(f16(), v);                                                                                      \
        Logic16(cc, v);                                                                                      \
        cyc += 3;                                                                                            \
        break;                                                                                               \
    }
// Read-modify-write at $40-$7F: A, B, indexed, extended.
#define CASES_RMW(base, fn)                                                                                  \
    case base:                                                                                               \
        a = fn(cc, a);                                                                                       \
        cyc += 1;                                                                                            \
        break;                                                                                               \
    case base + 0x10:                                                                                        \
        b = fn(cc, b);                                                                                       \
        cyc += 1;                                                                                            \
        break;                                                                                               \
    case base + 0x20: {                                                                                      \
        const std::uint16_t ea = indexed(0, form);                                                           \
        wr8(ea, fn(cc, rd8(ea)));                                                                            \
        cyc += kRmwCycles[form];                                                                             \
        break;                                                                                               \
    }                                                                                                        \
    case base + 0x30: {                                                                                      \
        const std::uint16_t ea = f16();                                                                      \
        wr8(ea, fn(cc, rd8(ea)));                                                                            \
        cyc += 4;                                                                                            \
        break;                                                                                               \
    }

        switch (op) {
        case 0x00: // BGND: the program's end marker here (no background debugger)
            cyc += 5;
            halt = Halt::Background;
            break;
        case 0x01: { // MEM: grade of membership of A in the trapezoid at X, stored at Y
            const std::uint8_t p1 = rd8(x), p2 = rd8(static_cast<std::uint16_t>(x + 1));
            const std::uint8_t s1 = rd8(static_cast<std::uint16_t>(x + 2)),
                               s2 = rd8(static_cast<std::uint16_t>(x + 3));
            unsigned grade = 0;
            if (a >= p1 && a <= p2) {
                // A slope of zero is a vertical side: full membership.
                const unsigned seg1 = s1 == 0 ? 0xFF : static_cast<unsigned>(a - p1) * s1;
                const unsigned seg2 = s2 == 0 ? 0xFF : static_cast<unsigned>(p2 - a) * s2;
                grade = std::min({seg1, seg2, 0xFFu});
            }
            wr8(y, static_cast<std::uint8_t>(grade));
            x = static_cast<std::uint16_t>(x + 4);
            y = static_cast<std::uint16_t>(y + 1);
            cyc += 5;
            break;
        }
        case 0x02:
            ++y;
            Set(cc, ccr::Z, y ? 0 : ccr::Z);
            cyc += 1;
            break;
        case 0x03:
            --y;
            Set(cc, ccr::Z, y ? 0 : ccr::Z);
            cyc += 1;
            break;
        case 0x08:
            ++x;
            Set(cc, ccr::Z, x ? 0 : ccr::Z);
            cyc += 1;
            break;
        case 0x09:
            --x;
            Set(cc, ccr::Z, x ? 0 : ccr::Z);
            cyc += 1;
            break;
        case 0x04: { // DBEQ/DBNE/TBEQ/TBNE/IBEQ/IBNE
            const std::uint8_t lb = f8();
            const std::uint8_t rel = f8();
            const unsigned kind = lb >> 5, reg = lb & 7;
            if (kind > 5 || reg == 2 || reg == 3) {
                if (!trap(pc)) goto done;
                break;
            }
            const int off = (lb & 0x10) ? rel - 256 : rel;
            const int delta = kind < 2 ? -1 : kind < 4 ? 0 : 1;
            bool zero;
            if (reg < 2) {
                std::uint8_t& r = reg == 0 ? a : b;
                r = static_cast<std::uint8_t>(r + delta);
                zero = r == 0;
            } else {
                std::uint16_t v = reg == 4 ? getD() : reg == 5 ? x : reg == 6 ? y : sp;
                v = static_cast<std::uint16_t>(v + delta);
                if (reg == 4)
                    setD(v);
                else
                    (reg == 5 ? x : reg == 6 ? y : sp) = v;
                zero = v == 0;
            }
            if (zero == !(kind & 1)) pc = static_cast<std::uint16_t>(pc + off);
            cyc += 3;
            break;
        }
        case 0x05:
            pc = indexed(0, form);
            cyc += kJmpCycles[form];
            break;
        case 0x06:
            pc = f16();
            cyc += 3;
            break;
        case 0x07: {
            const auto rel = static_cast<std::int8_t>(f8());
            push16(pc);
            pc = static_cast<std::uint16_t>(pc + rel);
            cyc += 4;
            break;
        }
        case 0x0A: // RTC
            ppage = pull8();
            pc = pull16();
            cyc += hcs ? 7 : 6;
            break;
        case 0x0B: { // RTI
            unstackAll();
            if (const std::uint16_t v = pendingVector()) {
                // A pending interrupt is taken at once: the registers just
                // pulled are still on the stack and are kept there.
                sp = static_cast<std::uint16_t>(sp - 9);
                vectorTo(v);
                cyc += hcs ? 11 : 10;
                break;
            }
            cyc += 8;
            break;
        }
        case 0x0C:
        case 0x0D: { // BSET, BCLR indexed
            const std::uint8_t xb = rd8(pc);
            if (IndirectPostbyte(xb)) {
                if (!trap(static_cast<std::uint16_t>(pc + IndexedLength(xb) + 1))) goto done;
                break;
            }
            const std::uint16_t ea = indexed(1, form);
            const std::uint8_t mask = f8();
            const std::uint8_t v = op == 0x0C ? rd8(ea) | mask : rd8(ea) & ~mask;
            wr8(ea, v);
            Logic8(cc, v);
            cyc += kBitCycles[form];
            break;
        }
        case 0x0E:
        case 0x0F: { // BRSET, BRCLR indexed
            const std::uint8_t xb = rd8(pc);
            if (IndirectPostbyte(xb)) {
                if (!trap(static_cast<std::uint16_t>(pc + IndexedLength(xb) + 2))) goto done;
                break;
            }
            const std::uint16_t ea = indexed(2, form);
            const std::uint8_t mask = f8();
            const auto rel = static_cast<std::int8_t>(f8());
            const std::uint8_t v = rd8(ea);
            if (((op == 0x0E ? ~v : v) & mask) == 0) pc = static_cast<std::uint16_t>(pc + rel);
            cyc += kBitBranchCycles[form];
            break;
        }
        case 0x10:
            cc &= f8();
            cyc += 1;
            break;
        case 0x14:
            cc = ProgramCcr(cc, cc | f8());
            cyc += 1;
            break;
        case 0x11: { // EDIV: Y:D / X, unsigned
            const std::uint32_t n = static_cast<std::uint32_t>(y) << 16 | getD();
            if (x == 0) {
                cc |= ccr::C;
            } else {
                const std::uint32_t q = n / x, r = n % x;
                std::uint8_t f = 0;
                if (q > 0xFFFF) {
                    f = ccr::V;
                } else {
                    y = static_cast<std::uint16_t>(q);
                    setD(static_cast<std::uint16_t>(r));
                    f = NZ16(y);
                }
                Set(cc, ccr::N | ccr::Z | ccr::V | ccr::C, f);
            }
            cyc += 11;
            break;
        }
        case 0x12: { // MUL
            setD(static_cast<std::uint16_t>(a * b));
            Set(cc, ccr::C, (b & 0x80) ? ccr::C : 0);
            cyc += 3;
            break;
        }
        case 0x13: { // EMUL: D * Y, unsigned, into Y:D
            const std::uint32_t r = static_cast<std::uint32_t>(getD()) * y;
            y = static_cast<std::uint16_t>(r >> 16);
            setD(static_cast<std::uint16_t>(r));
            Set(cc, ccr::N | ccr::Z | ccr::C,
                static_cast<std::uint8_t>((r & 0x80000000u ? ccr::N : 0) | (r ? 0 : ccr::Z) |
                                          (r & 0x8000 ? ccr::C : 0)));
            cyc += 3;
            break;
        }
        case 0x15: {
            const std::uint16_t ea = indexed(0, form);
            push16(pc);
            pc = ea;
            cyc += kJsrCycles[form];
            break;
        }
        case 0x16: {
            const std::uint16_t ea = f16();
            push16(pc);
            pc = ea;
            cyc += 4;
            break;
        }
        case 0x17: {
            const std::uint16_t ea = f8();
            push16(pc);
            pc = ea;
            cyc += 4;
            break;
        }
        case 0x19:
        case 0x1A:
        case 0x1B: { // LEAY, LEAX, LEAS
            const std::uint8_t xb = rd8(pc);
            if (IndirectPostbyte(xb)) {
                if (!trap(static_cast<std::uint16_t>(pc + IndexedLength(xb)))) goto done;
                break;
            }
            const std::uint16_t ea = indexed(0, form);
            (op == 0x19 ? y : op == 0x1A ? x : sp) = ea;
            cyc += 2;
            break;
        }
        case 0x1C:
        case 0x1D: {
            const std::uint16_t ea = f16();
            const std::uint8_t mask = f8();
            const std::uint8_t v = op == 0x1C ? rd8(ea) | mask : rd8(ea) & ~mask;
            wr8(ea, v);
            Logic8(cc, v);
            cyc += 4;
            break;
        }
        case 0x1E:
        case 0x1F: {
            const std::uint16_t ea = f16();
            const std::uint8_t mask = f8();
            const auto rel = static_cast<std::int8_t>(f8());
            const std::uint8_t v = rd8(ea);
            if (((op == 0x1E ? ~v : v) & mask) == 0) pc = static_cast<std::uint16_t>(pc + rel);
            cyc += 5;
            break;
        }
        case 0x4C:
        case 0x4D: {
            const std::uint16_t ea = f8();
            const std::uint8_t mask = f8();
            const std::uint8_t v = op == 0x4C ? rd8(ea) | mask : rd8(ea) & ~mask;
            wr8(ea, v);
            Logic8(cc, v);
            cyc += 4;
            break;
        }
        case 0x4E:
        case 0x4F: {
            const std::uint16_t ea = f8();
            const std::uint8_t mask = f8();
            const auto rel = static_cast<std::int8_t>(f8());
            const std::uint8_t v = rd8(ea);
            if (((op == 0x4E ? ~v : v) & mask) == 0) pc = static_cast<std::uint16_t>(pc + rel);
            cyc += 4;
            break;
        }
        case 0x20:
        case 0x21:
        case 0x22:
        case 0x23:
        case 0x24:
        case 0x25:
        case 0x26:
        case 0x27:
        case 0x28:
        case 0x29:
        case 0x2A:
        case 0x2B:
        case 0x2C:
        case 0x2D:
        case 0x2E:
        case 0x2F: {
            const auto rel = static_cast<std::int8_t>(f8());
            if (Condition(op, cc)) {
                pc = static_cast<std::uint16_t>(pc + rel);
                cyc += 3;
            } else {
                cyc += 1;
            }
            break;
        }
        case 0x30:
            x = pull16();
            cyc += 3;
            break;
        case 0x31:
            y = pull16();
            cyc += 3;
            break;
        case 0x32:
            a = pull8();
            cyc += 3;
            break;
        case 0x33:
            b = pull8();
            cyc += 3;
            break;
        case 0x34:
            push16(x);
            cyc += 2;
            break;
        case 0x35:
            push16(y);
            cyc += 2;
            break;
        case 0x36:
            push8(a);
            cyc += 2;
            break;
        case 0x37:
            push8(b);
            cyc += 2;
            break;
        case 0x38:
            cc = ProgramCcr(cc, pull8());
            cyc += 3;
            break;
        case 0x39:
            push8(cc);
            cyc += 2;
            break;
        case 0x3A:
            setD(pull16());
            cyc += 3;
            break;
        case 0x3B:
            push16(getD());
            cyc += 2;
            break;
        case 0x3C: // WAVR resumes an interrupted WAV; WAV is never interrupted here, so it runs whole
            wav();
            break;
        case 0x3D:
            pc = pull16();
            cyc += 5;
            break;
        case 0x3E: // WAI
            stackAll(pc);
            cyc += 8;
            state = RunState::Waiting;
            if ((cc & (ccr::I | ccr::X)) == (ccr::I | ccr::X)) {
                halt = Halt::Stopped;
                goto done;
            }
            // The machine decides whether anything can still wake it.
            if (!pendingVector()) goto done;
            break;
        case 0x3F: {
            const std::uint16_t v = rd16(kSwiVector);
            stackAll(pc);
            cc |= ccr::I;
            pc = v;
            cyc += 9;
            break;
        }
            CASES_RMW(0x40, Neg8)
            CASES_RMW(0x41, Com8)
            CASES_RMW(0x42, Inc8)
            CASES_RMW(0x43, Dec8)
            CASES_RMW(0x44, Lsr8)
            CASES_RMW(0x45, Rol8)
            CASES_RMW(0x46, Ror8)
            CASES_RMW(0x47, Asr8)
            CASES_RMW(0x48, Asl8)
        case 0x49: { // LSRD
            const std::uint16_t d = getD();
            setD(ShiftFlags16(cc, static_cast<std::uint16_t>(d >> 1), d & 1));
            cyc += 1;
            break;
        }
        case 0x59: { // ASLD
            const std::uint16_t d = getD();
            setD(ShiftFlags16(cc, static_cast<std::uint16_t>(d << 1), (d & 0x8000) != 0));
            cyc += 1;
            break;
        }
        case 0x4A: { // CALL extended
            const std::uint16_t ea = f16();
            const std::uint8_t page = f8();
            push16(pc);
            push8(ppage);
            ppage = page;
            pc = ea;
            cyc += hcs ? 7 : 8;
            break;
        }
        case 0x4B: { // CALL indexed; the indirect forms read the page after the address
            const bool indirect = IndirectPostbyte(rd8(pc));
            const std::uint16_t ea = indexed(indirect ? 0 : 1, form);
            const std::uint8_t page = indirect ? rd8(static_cast<std::uint16_t>(pointer + 2)) : f8();
            push16(pc);
            push8(ppage);
            ppage = page;
            pc = ea;
            cyc += (hcs ? kCallCyclesS12 : kCallCycles12)[form];
            break;
        }
            CASES_STORE8(0x5A, a)
            CASES_STORE8(0x5B, b)
            CASES_STORE16(0x5C, getD())
            CASES_STORE16(0x5D, y)
            CASES_STORE16(0x5E, x)
            CASES_STORE16(0x5F, sp)
        case 0x69:
            wr8(indexed(0, form), Clr8(cc));
            cyc += kStoreCycles[form];
            break;
        case 0x79:
            wr8(f16(), Clr8(cc));
            cyc += 3;
            break;
        case 0x87:
            a = Clr8(cc);
            cyc += 1;
            break;
        case 0xC7:
            b = Clr8(cc);
            cyc += 1;
            break;
        case 0x97:
            Tst8(cc, a);
            cyc += 1;
            break;
        case 0xD7:
            Tst8(cc, b);
            cyc += 1;
            break;
        case 0xE7:
            Tst8(cc, rd8(indexed(0, form)));
            cyc += kLoadCycles[form];
            break;
        case 0xF7:
            Tst8(cc, rd8(f16()));
            cyc += 3;
            break;
        case 0xA7: cyc += 1; break; // NOP
        case 0xB7: {                // TFR, EXG, SEX
            const std::uint8_t pb = f8();
            const unsigned src = (pb >> 4) & 7, dst = pb & 7;
            auto is8 = [](unsigned r) { return r < 3; };
            auto read = [&](unsigned r) -> std::uint16_t {
                switch (r) {
                case 0: return a;
                case 1: return b;
                case 2: return cc;
                case 3: return tmp3_;
                case 4: return getD();
                case 5: return x;
                case 6: return y;
                default: return sp;
                }
            };
            auto write = [&](unsigned r, std::uint16_t v) {
                switch (r) {
                case 0: a = static_cast<std::uint8_t>(v); break;
                case 1: b = static_cast<std::uint8_t>(v); break;
                case 2: cc = ProgramCcr(cc, static_cast<std::uint8_t>(v)); break;
                case 3: tmp2_ = v; break;
                case 4: setD(v); break;
                case 5: x = v; break;
                case 6: y = v; break;
                default: sp = v; break;
                }
            };
            auto widen = [](std::uint16_t v) {
                return static_cast<std::uint16_t>(static_cast<std::int8_t>(v));
            };
            if (!(pb & 0x80)) {
                // An 8-bit source into a 16-bit register is sign-extended
                // (SEX is this form); a 16-bit source gives its low byte.
                std::uint16_t v = read(src);
                if (is8(src) && !is8(dst)) v = widen(v);
                write(dst, v);
            } else {
                // The second register takes the first (an 8-bit value with
                // $00 above it); then the first takes the second, with $FF
                // above B or CCR and $00 above A when it is 16 bits wide.
                // The order settles the exchanges of D with A or B.
                const std::uint16_t v1 = read(src), v2 = read(dst);
                write(dst, v1);
                write(src, static_cast<std::uint16_t>(((dst == 1 || dst == 2) ? 0xFF00 : 0) | v2));
            }
            cyc += 1;
            break;
        }
            CASES_READ8(0x80, a = Sub8(cc, a, m, 0))
            CASES_READ8(0x81, Sub8(cc, a, m, 0))
            CASES_READ8(0x82, a = Sub8(cc, a, m, cc & ccr::C))
            CASES_READ8(0x84, a &= m; Logic8(cc, a))
            CASES_READ8(0x85, Logic8(cc, a & m))
            CASES_READ8(0x86, a = m; Logic8(cc, a))
            CASES_READ8(0x88, a ^= m; Logic8(cc, a))
            CASES_READ8(0x89, a = Add8(cc, a, m, cc & ccr::C))
            CASES_READ8(0x8A, a |= m; Logic8(cc, a))
            CASES_READ8(0x8B, a = Add8(cc, a, m, 0))
            CASES_READ8(0xC0, b = Sub8(cc, b, m, 0))
            CASES_READ8(0xC1, Sub8(cc, b, m, 0))
            CASES_READ8(0xC2, b = Sub8(cc, b, m, cc & ccr::C))
            CASES_READ8(0xC4, b &= m; Logic8(cc, b))
            CASES_READ8(0xC5, Logic8(cc, b & m))
            CASES_READ8(0xC6, b = m; Logic8(cc, b))
            CASES_READ8(0xC8, b ^= m; Logic8(cc, b))
            CASES_READ8(0xC9, b = Add8(cc, b, m, cc & ccr::C))
            CASES_READ8(0xCA, b |= m; Logic8(cc, b))
            CASES_READ8(0xCB, b = Add8(cc, b, m, 0))
            CASES_READ16(0x83, setD(Sub16(cc, getD(), m)))
            CASES_READ16(0xC3, setD(Add16(cc, getD(), m)))
            CASES_READ16(0x8C, Sub16(cc, getD(), m))
            CASES_READ16(0x8D, Sub16(cc, y, m))
            CASES_READ16(0x8E, Sub16(cc, x, m))
            CASES_READ16(0x8F, Sub16(cc, sp, m))
            CASES_READ16(0xCC, setD(m); Logic16(cc, m))
            CASES_READ16(0xCD, y = m; Logic16(cc, m))
            CASES_READ16(0xCE, x = m; Logic16(cc, m))
            CASES_READ16(0xCF, sp = m; Logic16(cc, m))

        case 0x18: {
            const std::uint8_t op2 = f8();
            switch (op2) {
            case 0x00:
            case 0x01:
            case 0x02:
            case 0x03:
            case 0x04:
            case 0x05:
            case 0x08:
            case 0x09:
            case 0x0A:
            case 0x0B:
            case 0x0C:
            case 0x0D: { // MOVW, MOVB
                const bool word = op2 < 0x08;
                const unsigned kind = op2 & 7; // 0 #>idx 1 ext>idx 2 idx>idx 3 #>ext 4 ext>ext 5 idx>ext
                const int immBytes = word ? 2 : 1;
                // Operand fields after the opcode, in order.
                const std::uint16_t f1 = pc;
                int len1 = 0, len2 = 0;
                switch (kind) {
                case 0:
                    len1 = IndexedLength(rd8(f1));
                    len2 = immBytes;
                    break;
                case 1:
                    len1 = IndexedLength(rd8(f1));
                    len2 = 2;
                    break;
                case 2:
                    len1 = IndexedLength(rd8(f1));
                    len2 = IndexedLength(rd8(static_cast<std::uint16_t>(f1 + len1)));
                    break;
                case 3:
                    len1 = immBytes;
                    len2 = 2;
                    break;
                case 4:
                    len1 = 2;
                    len2 = 2;
                    break;
                default:
                    len1 = IndexedLength(rd8(f1));
                    len2 = 2;
                    break;
                }
                const auto end = static_cast<std::uint16_t>(f1 + len1 + len2);
                // The original CPU has room for the 5-bit, increment and
                // accumulator forms only; the HCS12 rules take every form
                // but the indirect ones.
                auto formOk = [&](std::uint16_t at) {
                    const std::uint8_t xb = rd8(at);
                    if (IndirectPostbyte(xb)) return false;
                    return hcs || IndexedLength(xb) == 1;
                };
                if ((kind <= 2 && !formOk(f1)) || (kind == 5 && !formOk(f1)) ||
                    (kind == 2 && !formOk(static_cast<std::uint16_t>(f1 + len1)))) {
                    if (!trap(end)) goto done;
                    break;
                }
                // The PC as base register: the HCS12 counts from the next
                // instruction. The original CPU counts a source operand from
                // the byte after its postbyte, and a destination operand from
                // the next instruction plus the size of the source operand.
                const int srcBase = hcs ? end : f1 + 1;
                const int srcSize = kind == 0 ? immBytes : kind == 1 ? 2 : 1;
                const int dstBase = hcs ? end : static_cast<std::uint16_t>(end + srcSize);
                std::uint16_t value = 0, dest = 0;
                int form2 = 0;
                switch (kind) {
                case 0:
                    dest = indexed(0, form2, dstBase);
                    value = word ? f16() : f8();
                    break;
                case 1: {
                    dest = indexed(0, form2, dstBase);
                    const std::uint16_t s = f16();
                    value = word ? rd16(s) : rd8(s);
                    break;
                }
                case 2: {
                    const std::uint16_t s = indexed(0, form, srcBase);
                    value = word ? rd16(s) : rd8(s);
                    dest = indexed(0, form2, dstBase);
                    break;
                }
                case 3:
                    value = word ? f16() : f8();
                    dest = f16();
                    break;
                case 4: {
                    const std::uint16_t s = f16();
                    value = word ? rd16(s) : rd8(s);
                    dest = f16();
                    break;
                }
                default: {
                    const std::uint16_t s = indexed(0, form, srcBase);
                    value = word ? rd16(s) : rd8(s);
                    dest = f16();
                    break;
                }
                }
                if (word)
                    wr16(dest, value);
                else
                    wr8(dest, static_cast<std::uint8_t>(value));
                static constexpr std::uint8_t kMoveB[6] = {4, 5, 5, 4, 6, 5};
                static constexpr std::uint8_t kMoveW[6] = {4, 5, 5, 5, 6, 5};
                // The HCS12's forms with offsets count as the short ones.
                cyc += (word ? kMoveW : kMoveB)[kind];
                break;
            }
            case 0x06:
                a = Add8(cc, a, b, 0);
                cyc += 2;
                break;
            case 0x07:
                a = Daa(cc, a);
                cyc += 3;
                break;
            case 0x0E:
                b = a;
                Logic8(cc, b);
                cyc += 2;
                break;
            case 0x0F:
                a = b;
                Logic8(cc, a);
                cyc += 2;
                break;
            case 0x16:
                a = Sub8(cc, a, b, 0);
                cyc += 2;
                break;
            case 0x17:
                Sub8(cc, a, b, 0);
                cyc += 2;
                break;
            case 0x10: { // IDIV: D / X, unsigned; X quotient, D remainder
                const std::uint16_t d = getD();
                if (x == 0) {
                    x = 0xFFFF;
                    Set(cc, ccr::Z | ccr::V | ccr::C, ccr::C);
                } else {
                    const std::uint16_t q = d / x, r = d % x;
                    x = q;
                    setD(r);
                    Set(cc, ccr::Z | ccr::V | ccr::C, q ? 0 : ccr::Z);
                }
                cyc += 12;
                break;
            }
            case 0x11: { // FDIV: (D * 65536) / X, for D < X
                const std::uint16_t d = getD();
                if (x == 0) {
                    x = 0xFFFF;
                    Set(cc, ccr::Z | ccr::V | ccr::C, ccr::V | ccr::C);
                } else if (x <= d) {
                    x = 0xFFFF;
                    Set(cc, ccr::Z | ccr::V | ccr::C, ccr::V);
                } else {
                    const std::uint32_t n = static_cast<std::uint32_t>(d) << 16;
                    const auto q = static_cast<std::uint16_t>(n / x), r = static_cast<std::uint16_t>(n % x);
                    x = q;
                    setD(r);
                    Set(cc, ccr::Z | ccr::V | ccr::C, q ? 0 : ccr::Z);
                }
                cyc += 12;
                break;
            }
            case 0x15: { // IDIVS: D / X, signed
                const auto d = static_cast<std::int16_t>(getD()), dv = static_cast<std::int16_t>(x);
                if (dv == 0) {
                    Set(cc, ccr::C, ccr::C);
                } else if (d == -32768 && dv == -1) {
                    Set(cc, ccr::N | ccr::Z | ccr::V | ccr::C, ccr::V);
                } else {
                    const auto q = static_cast<std::uint16_t>(d / dv), r = static_cast<std::uint16_t>(d % dv);
                    x = q;
                    setD(r);
                    Set(cc, ccr::N | ccr::Z | ccr::V | ccr::C, NZ16(q));
                }
                cyc += 12;
                break;
            }
            case 0x14: { // EDIVS: Y:D / X, signed; Y quotient, D remainder
                const auto n = static_cast<std::int32_t>(static_cast<std::uint32_t>(y) << 16 | getD());
                const auto dv = static_cast<std::int16_t>(x);
                if (dv == 0) {
                    Set(cc, ccr::C, ccr::C);
                } else {
                    const std::int64_t q = static_cast<std::int64_t>(n) / dv,
                                       r = static_cast<std::int64_t>(n) % dv;
                    if (q > 32767 || q < -32768) {
                        Set(cc, ccr::N | ccr::Z | ccr::V | ccr::C, ccr::V);
                    } else {
                        y = static_cast<std::uint16_t>(q);
                        setD(static_cast<std::uint16_t>(r));
                        Set(cc, ccr::N | ccr::Z | ccr::V | ccr::C, NZ16(y));
                    }
                }
                cyc += 12;
                break;
            }
            case 0x13: { // EMULS: D * Y, signed, into Y:D
                const auto r =
                    static_cast<std::uint32_t>(static_cast<std::int32_t>(static_cast<std::int16_t>(getD())) *
                                               static_cast<std::int16_t>(y));
                y = static_cast<std::uint16_t>(r >> 16);
                setD(static_cast<std::uint16_t>(r));
                Set(cc, ccr::N | ccr::Z | ccr::C,
                    static_cast<std::uint8_t>((r & 0x80000000u ? ccr::N : 0) | (r ? 0 : ccr::Z) |
                                              (r & 0x8000 ? ccr::C : 0)));
                cyc += 3;
                break;
            }
            case 0x12: { // EMACS: (X) * (Y) + 32-bit (ea) -> (ea), signed
                const std::uint16_t ea = f16();
                const std::int32_t prod =
                    static_cast<std::int16_t>(rd16(x)) * static_cast<std::int16_t>(rd16(y));
                const std::uint32_t acc =
                    static_cast<std::uint32_t>(rd16(ea)) << 16 | rd16(static_cast<std::uint16_t>(ea + 2));
                const std::uint32_t p = static_cast<std::uint32_t>(prod);
                const std::uint32_t r = acc + p;
                std::uint8_t f = static_cast<std::uint8_t>((r & 0x80000000u ? ccr::N : 0) | (r ? 0 : ccr::Z));
                if ((acc ^ r) & (p ^ r) & 0x80000000u) f |= ccr::V;
                if (((acc & 0xFFFF) + (p & 0xFFFF)) > 0xFFFF) f |= ccr::C;
                Set(cc, ccr::N | ccr::Z | ccr::V | ccr::C, f);
                wr16(ea, static_cast<std::uint16_t>(r >> 16));
                wr16(static_cast<std::uint16_t>(ea + 2), static_cast<std::uint16_t>(r));
                cyc += 13;
                break;
            }
            case 0x18:
            case 0x19: { // MAXA, MINA
                const std::uint8_t m = rd8(indexed(0, form));
                Sub8(cc, a, m, 0);
                if (op2 == 0x18 ? m > a : m < a) a = m;
                cyc += kMinMaxCycles[form];
                break;
            }
            case 0x1A:
            case 0x1B: { // EMAXD, EMIND
                const std::uint16_t m = rd16(indexed(0, form));
                const std::uint16_t d = getD();
                Sub16(cc, d, m);
                if (op2 == 0x1A ? m > d : m < d) setD(m);
                cyc += kMinMaxCycles[form];
                break;
            }
            case 0x1C:
            case 0x1D: { // MAXM, MINM
                const std::uint16_t ea = indexed(0, form);
                const std::uint8_t m = rd8(ea);
                Sub8(cc, a, m, 0);
                wr8(ea, (op2 == 0x1C ? a > m : a < m) ? a : m);
                cyc += kMinMaxMemCycles[form];
                break;
            }
            case 0x1E:
            case 0x1F: { // EMAXM, EMINM
                const std::uint16_t ea = indexed(0, form);
                const std::uint16_t m = rd16(ea), d = getD();
                Sub16(cc, d, m);
                wr16(ea, (op2 == 0x1E ? d > m : d < m) ? d : m);
                cyc += kMinMaxMemCycles[form];
                break;
            }
            case 0x20:
            case 0x21:
            case 0x22:
            case 0x23:
            case 0x24:
            case 0x25:
            case 0x26:
            case 0x27:
            case 0x28:
            case 0x29:
            case 0x2A:
            case 0x2B:
            case 0x2C:
            case 0x2D:
            case 0x2E:
            case 0x2F: {
                const std::uint16_t rel = f16();
                if (Condition(op2, cc)) {
                    pc = static_cast<std::uint16_t>(pc + rel);
                    cyc += 4;
                } else {
                    cyc += 3;
                }
                break;
            }
            case 0x3A: { // REV: fuzzy rule evaluation, 8-bit offsets from Y
                unsigned n = 0;
                for (;;) {
                    const std::uint8_t e = rd8(x);
                    x = static_cast<std::uint16_t>(x + 1);
                    ++n;
                    if (e == 0xFF) break;
                    if (e == 0xFE) {
                        if (cc & ccr::V) a = 0xFF; // consequents done: the next rule starts
                        cc ^= ccr::V;
                        continue;
                    }
                    const auto at = static_cast<std::uint16_t>(y + e);
                    const std::uint8_t m = rd8(at);
                    if (!(cc & ccr::V)) {
                        if (m < a) a = m;
                    } else if (a > m) {
                        wr8(at, a);
                    }
                    if (n > 0x10000) break; // a list that never ends: the chip would run on forever
                }
                cyc += 4 + 3 * static_cast<std::uint64_t>(n);
                break;
            }
            case 0x3B: { // REVW: fuzzy rule evaluation, 16-bit addresses, optional weights at Y
                unsigned n = 0;
                for (;;) {
                    const std::uint16_t e = rd16(x);
                    x = static_cast<std::uint16_t>(x + 2);
                    ++n;
                    if (e == 0xFFFF) break;
                    if (e == 0xFFFE) {
                        if (cc & ccr::V) {
                            a = 0xFF;
                        } else if (cc & ccr::C) {
                            a = static_cast<std::uint8_t>((a * (rd8(y) + 1u)) >> 8);
                            y = static_cast<std::uint16_t>(y + 1);
                        }
                        cc ^= ccr::V;
                        continue;
                    }
                    const std::uint8_t m = rd8(e);
                    if (!(cc & ccr::V)) {
                        if (m < a) a = m;
                    } else if (a > m) {
                        wr8(e, a);
                    }
                    if (n > 0x10000) break;
                }
                cyc += 4 + 3 * static_cast<std::uint64_t>(n);
                break;
            }
            case 0x3C: wav(); break;
            case 0x3D: { // TBL: A = Y1 + B * (Y2 - Y1), B a fraction of 256
                const std::uint8_t xb = rd8(pc);
                if (IndexedLength(xb) != 1 || IndirectPostbyte(xb)) {
                    if (!trap(static_cast<std::uint16_t>(pc + IndexedLength(xb)))) goto done;
                    break;
                }
                const std::uint16_t ea = indexed(0, form);
                const int y1 = rd8(ea), y2 = rd8(static_cast<std::uint16_t>(ea + 1));
                const int t = y1 * 256 + b * (y2 - y1);
                a = static_cast<std::uint8_t>(t >> 8);
                Set(cc, ccr::N | ccr::Z | ccr::C,
                    static_cast<std::uint8_t>(NZ8(a) | ((t & 0x80) ? ccr::C : 0)));
                cyc += 8;
                break;
            }
            case 0x3F: { // ETBL: D = Y1 + B * (Y2 - Y1), 16-bit entries
                const std::uint8_t xb = rd8(pc);
                if (IndexedLength(xb) != 1 || IndirectPostbyte(xb)) {
                    if (!trap(static_cast<std::uint16_t>(pc + IndexedLength(xb)))) goto done;
                    break;
                }
                const std::uint16_t ea = indexed(0, form);
                const std::int64_t y1 = rd16(ea), y2 = rd16(static_cast<std::uint16_t>(ea + 2));
                const std::int64_t t = y1 * 256 + b * (y2 - y1);
                setD(static_cast<std::uint16_t>(t >> 8));
                Set(cc, ccr::N | ccr::Z | ccr::C,
                    static_cast<std::uint8_t>(NZ16(getD()) | ((t & 0x80) ? ccr::C : 0)));
                cyc += 10;
                break;
            }
            case 0x3E: // STOP; with S set it is disabled and does nothing
                if (cc & ccr::S) {
                    cyc += 2;
                    break;
                }
                stackAll(pc);
                cyc += 9;
                state = RunState::Stopped;
                halt = Halt::Stopped;
                goto done;
            default: // TRAP ($30-$39, $40-$FF)
                if (!trap(pc)) goto done;
                break;
            }
            break;
        }
        default: break; // every page 1 opcode is handled above
        }
        if (halt != Halt::Deadline) break;
    }
done:
    if (halt == Halt::IllegalOpcode && executed) {
        // The opcode that would have trapped did not run.
        --count;
        executed = false;
    }
    regs.pc = pc;
    regs.sp = sp;
    regs.x = x;
    regs.y = y;
    regs.a = a;
    regs.b = b;
    regs.ccr = cc;
    regs.ppage = ppage;
    cycles = cyc;
    instructions = count;
    lastWasInstruction = executed;
    return halt;
}

#undef CASES_READ8
#undef CASES_READ16
#undef CASES_STORE8
#undef CASES_STORE16
#undef CASES_RMW

template Halt Cpu12::Loop<true>(std::uint64_t, bool);
template Halt Cpu12::Loop<false>(std::uint64_t, bool);

} // namespace qorb::sim
