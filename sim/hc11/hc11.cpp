#include "hc11/hc11.h"

#include "core/alu.h"
#include "core/bus.h"
#include "core/events.h"
#include "core/inline.h"

namespace qorb::sim {

using namespace alu;

namespace {

// E cycles of the page 1 opcodes; 0 marks an illegal opcode. An opcode
// behind a prebyte ($18, $1A, $CD) takes one cycle more than its page 1
// counterpart.
constexpr std::uint8_t kCycles[256] = {
    // 0   1   2   3   4   5   6   7   8   9   A   B   C   D   E   F
    0, 2, 41, 41, 3, 3, 2, 2, 3, 3, 2, 2,  2, 2,  2,  2,  // 0x
    2, 2, 6,  6,  6, 6, 2, 2, 0, 2, 0, 2,  7, 7,  7,  7,  // 1x
    3, 3, 3,  3,  3, 3, 3, 3, 3, 3, 3, 3,  3, 3,  3,  3,  // 2x
    3, 3, 4,  4,  3, 3, 3, 3, 5, 5, 3, 12, 4, 10, 14, 14, // 3x
    2, 0, 0,  2,  2, 0, 2, 2, 2, 2, 2, 0,  2, 2,  0,  2,  // 4x
    2, 0, 0,  2,  2, 0, 2, 2, 2, 2, 2, 0,  2, 2,  0,  2,  // 5x
    6, 0, 0,  6,  6, 0, 6, 6, 6, 6, 6, 0,  6, 6,  3,  6,  // 6x
    6, 0, 0,  6,  6, 0, 6, 6, 6, 6, 6, 0,  6, 6,  3,  6,  // 7x
    2, 2, 2,  4,  2, 2, 2, 0, 2, 2, 2, 2,  4, 6,  3,  3,  // 8x
    3, 3, 3,  5,  3, 3, 3, 3, 3, 3, 3, 3,  5, 5,  4,  4,  // 9x
    4, 4, 4,  6,  4, 4, 4, 4, 4, 4, 4, 4,  6, 6,  5,  5,  // Ax
    4, 4, 4,  6,  4, 4, 4, 4, 4, 4, 4, 4,  6, 6,  5,  5,  // Bx
    2, 2, 2,  4,  2, 2, 2, 0, 2, 2, 2, 2,  3, 0,  3,  2,  // Cx
    3, 3, 3,  5,  3, 3, 3, 3, 3, 3, 3, 3,  4, 4,  4,  4,  // Dx
    4, 4, 4,  6,  4, 4, 4, 4, 4, 4, 4, 4,  5, 5,  5,  5,  // Ex
    4, 4, 4,  6,  4, 4, 4, 4, 4, 4, 4, 4,  5, 5,  5,  5,  // Fx
};

// The opcodes each prebyte page defines.
constexpr bool LegalOnPage2(std::uint8_t op) {
    switch (op) {
    case 0x08:
    case 0x09:
    case 0x1C:
    case 0x1D:
    case 0x1E:
    case 0x1F:
    case 0x30:
    case 0x35:
    case 0x38:
    case 0x3A:
    case 0x3C:
    case 0x8C:
    case 0x8F:
    case 0x9C:
    case 0xBC:
    case 0xCE:
    case 0xDE:
    case 0xDF:
    case 0xFE:
    case 0xFF: return true;
    default: break;
    }
    if ((op & 0xF0) == 0x60) return kCycles[op] != 0;
    return (op & 0xF0) == 0xA0 || (op & 0xF0) == 0xE0;
}
constexpr bool LegalOnPage3(std::uint8_t op) {
    return op == 0x83 || op == 0x93 || op == 0xA3 || op == 0xB3 || op == 0xAC || op == 0xEE || op == 0xEF;
}
constexpr bool LegalOnPage4(std::uint8_t op) { return op == 0xA3 || op == 0xAC || op == 0xEE || op == 0xEF; }

// Legality by page (index 0: page 1), looked up once per instruction.
struct LegalTable {
    bool page[4][256] = {};
    constexpr LegalTable() {
        for (int op = 0; op < 256; ++op) {
            const auto o = static_cast<std::uint8_t>(op);
            page[0][op] = kCycles[op] != 0;
            page[1][op] = LegalOnPage2(o);
            page[2][op] = LegalOnPage3(o);
            page[3][op] = LegalOnPage4(o);
        }
    }
};
constexpr LegalTable kLegal;

} // namespace

bool Hc11OpcodeLegal(int page, std::uint8_t op) {
    return page >= 1 && page <= 4 && kLegal.page[page - 1][op];
}

Hc11::Hc11(Bus& bus, const std::uint8_t* stopFlags) : Cpu(bus, stopFlags) {}

void Hc11::Reset() {
    regs = Registers{};
    regs.ccr = ccr::S | ccr::X | ccr::I;
    regs.pc = static_cast<std::uint16_t>(bus_.Peek(kResetVector) << 8 | bus_.Peek(kResetVector + 1));
    state = RunState::Running;
}

Halt Hc11::Run(std::uint64_t deadline, bool passFirstStop) {
    runDeadline = deadline;
    return bus_.Flat() ? Loop<true>(deadline, passFirstStop) : Loop<false>(deadline, passFirstStop);
}

template <bool Flat> Halt Hc11::Loop(std::uint64_t deadline, bool passFirstStop) {
    std::uint8_t* const mem = bus_.Ram();
    Bus& bus = bus_;
    const std::uint8_t* const stops = stops_;

    std::uint16_t pc = regs.pc, sp = regs.sp, x = regs.x, y = regs.y;
    std::uint8_t a = regs.a, b = regs.b, cc = regs.ccr;
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
    // The 68HC11's stack pointer points at the next free byte.
    auto push8 = [&](std::uint8_t v) QORB_SIM_INLINE { wr8(sp--, v); };
    auto push16 = [&](std::uint16_t v) QORB_SIM_INLINE {
        push8(static_cast<std::uint8_t>(v));
        push8(static_cast<std::uint8_t>(v >> 8));
    };
    auto pull8 = [&]() QORB_SIM_INLINE -> std::uint8_t { return rd8(++sp); };
    auto pull16 = [&]() QORB_SIM_INLINE -> std::uint16_t {
        const std::uint8_t hi = pull8();
        return static_cast<std::uint16_t>(hi << 8 | pull8());
    };
    auto getD = [&]() QORB_SIM_INLINE -> std::uint16_t { return static_cast<std::uint16_t>(a << 8 | b); };
    auto setD = [&](std::uint16_t v) QORB_SIM_INLINE {
        a = static_cast<std::uint8_t>(v >> 8);
        b = static_cast<std::uint8_t>(v);
    };
    auto stackAll = [&](std::uint16_t ret) {
        push16(ret);
        push16(y);
        push16(x);
        push8(a);
        push8(b);
        push8(cc);
    };
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
                // WAI stacked the registers already; STOP did not.
                if (state == RunState::Stopped) stackAll(pc);
                state = RunState::Running;
                vectorTo(v);
                cyc += 4;
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
            if (limit() > cyc) cyc = limit();
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
                cyc += 12;
                executed = false;
                continue;
            }
        }

        const std::uint16_t start = pc;
        std::uint8_t op = f8();
        // The prebyte picks the index register of the indexed mode and the
        // register of the X-register instructions (page 3: Y with an X
        // index, page 4: X with a Y index); pages 3 and 4 also turn SUBD's
        // column into CPD.
        int page = 1;
        if (op == 0x18 || op == 0x1A || op == 0xCD) {
            page = op == 0x18 ? 2 : op == 0x1A ? 3 : 4;
            op = f8();
        }
        if (!kLegal.page[page - 1][op]) {
            // The illegal opcode trap. The stacked address is the illegal
            // opcode's, the byte after a prebyte.
            const std::uint16_t v = rd16(kIllegalVector);
            if (v == 0x0000 || v == 0xFFFF) {
                pc = start;
                halt = Halt::IllegalOpcode;
                executed = false;
                break;
            }
            stackAll(static_cast<std::uint16_t>(pc - 1));
            cc |= ccr::I;
            pc = v;
            cyc += 14;
            executed = true;
            ++count;
            continue;
        }
        executed = true;
        ++count;
        cyc += kCycles[op] + (page != 1 ? 1 : 0);
        const bool idxY = page == 2 || page == 4;
        const bool regY = page == 2 || page == 3;
        std::uint16_t& xr = regY ? y : x;
        auto idx = [&]() QORB_SIM_INLINE -> std::uint16_t {
            return static_cast<std::uint16_t>((idxY ? y : x) + f8());
        };
        // Operand address by the column's mode: $x0-$x3 rows of the $8x-$Fx
        // blocks are immediate, direct, indexed, extended.
        auto ea = [&]() QORB_SIM_INLINE -> std::uint16_t {
            switch ((op >> 4) & 3) {
            case 1: return f8();
            case 2: return idx();
            default: return f16();
            }
        };
        auto operand8 = [&]() QORB_SIM_INLINE -> std::uint8_t {
            return ((op >> 4) & 3) == 0 ? f8() : rd8(ea());
        };
        auto operand16 = [&]() QORB_SIM_INLINE -> std::uint16_t {
            return ((op >> 4) & 3) == 0 ? f16() : rd16(ea());
        };

        switch (op) {
        case 0x01: break;
        case 0x02: { // IDIV
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
            break;
        }
        case 0x03: { // FDIV
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
            break;
        }
        case 0x04: {
            const std::uint16_t d = getD();
            setD(ShiftFlags16(cc, static_cast<std::uint16_t>(d >> 1), d & 1));
            break;
        }
        case 0x05: {
            const std::uint16_t d = getD();
            setD(ShiftFlags16(cc, static_cast<std::uint16_t>(d << 1), (d & 0x8000) != 0));
            break;
        }
        case 0x06: cc = ProgramCcr(cc, a); break;
        case 0x07: a = cc; break;
        case 0x08:
            ++xr;
            Set(cc, ccr::Z, xr ? 0 : ccr::Z);
            break;
        case 0x09:
            --xr;
            Set(cc, ccr::Z, xr ? 0 : ccr::Z);
            break;
        case 0x0A: cc &= ~ccr::V; break;
        case 0x0B: cc |= ccr::V; break;
        case 0x0C: cc &= ~ccr::C; break;
        case 0x0D: cc |= ccr::C; break;
        case 0x0E: cc &= ~ccr::I; break;
        case 0x0F: cc |= ccr::I; break;
        case 0x10: a = Sub8(cc, a, b, 0); break;
        case 0x11: Sub8(cc, a, b, 0); break;
        case 0x12:
        case 0x13:
        case 0x1E:
        case 0x1F: { // BRSET, BRCLR
            const std::uint16_t ad = (op & 0x0C) ? idx() : f8();
            const std::uint8_t mask = f8();
            const auto rel = static_cast<std::int8_t>(f8());
            const std::uint8_t v = rd8(ad);
            if ((((op & 1) ? v : static_cast<std::uint8_t>(~v)) & mask) == 0)
                pc = static_cast<std::uint16_t>(pc + rel);
            break;
        }
        case 0x14:
        case 0x15:
        case 0x1C:
        case 0x1D: { // BSET, BCLR
            const std::uint16_t ad = (op & 0x08) ? idx() : f8();
            const std::uint8_t mask = f8();
            const std::uint8_t v = (op & 1) ? rd8(ad) & ~mask : rd8(ad) | mask;
            wr8(ad, v);
            Logic8(cc, v);
            break;
        }
        case 0x16:
            b = a;
            Logic8(cc, b);
            break;
        case 0x17:
            a = b;
            Logic8(cc, a);
            break;
        case 0x19: a = Daa(cc, a); break;
        case 0x1B: a = Add8(cc, a, b, 0); break;
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
            if (Condition(op, cc)) pc = static_cast<std::uint16_t>(pc + rel);
            break;
        }
        case 0x30: xr = static_cast<std::uint16_t>(sp + 1); break;
        case 0x31: ++sp; break;
        case 0x32: a = pull8(); break;
        case 0x33: b = pull8(); break;
        case 0x34: --sp; break;
        case 0x35: sp = static_cast<std::uint16_t>(xr - 1); break;
        case 0x36: push8(a); break;
        case 0x37: push8(b); break;
        case 0x38: xr = pull16(); break;
        case 0x39: pc = pull16(); break;
        case 0x3A: xr = static_cast<std::uint16_t>(xr + b); break;
        case 0x3B: // RTI
            cc = ProgramCcr(cc, pull8());
            b = pull8();
            a = pull8();
            x = pull16();
            y = pull16();
            pc = pull16();
            break;
        case 0x3C: push16(xr); break;
        case 0x3D:
            setD(static_cast<std::uint16_t>(a * b));
            Set(cc, ccr::C, (b & 0x80) ? ccr::C : 0);
            break;
        case 0x3E: // WAI
            stackAll(pc);
            state = RunState::Waiting;
            if ((cc & (ccr::I | ccr::X)) == (ccr::I | ccr::X)) {
                halt = Halt::Stopped;
                goto done;
            }
            if (!pendingVector()) goto done;
            break;
        case 0x3F: {
            const std::uint16_t v = rd16(kSwiVector);
            stackAll(pc);
            cc |= ccr::I;
            pc = v;
            break;
        }
        case 0x40: a = Neg8(cc, a); break;
        case 0x43: a = Com8(cc, a); break;
        case 0x44: a = Lsr8(cc, a); break;
        case 0x46: a = Ror8(cc, a); break;
        case 0x47: a = Asr8(cc, a); break;
        case 0x48: a = Asl8(cc, a); break;
        case 0x49: a = Rol8(cc, a); break;
        case 0x4A: a = Dec8(cc, a); break;
        case 0x4C: a = Inc8(cc, a); break;
        case 0x4D: Tst8(cc, a); break;
        case 0x4F: a = Clr8(cc); break;
        case 0x50: b = Neg8(cc, b); break;
        case 0x53: b = Com8(cc, b); break;
        case 0x54: b = Lsr8(cc, b); break;
        case 0x56: b = Ror8(cc, b); break;
        case 0x57: b = Asr8(cc, b); break;
        case 0x58: b = Asl8(cc, b); break;
        case 0x59: b = Rol8(cc, b); break;
        case 0x5A: b = Dec8(cc, b); break;
        case 0x5C: b = Inc8(cc, b); break;
        case 0x5D: Tst8(cc, b); break;
        case 0x5F: b = Clr8(cc); break;
        case 0x60:
        case 0x63:
        case 0x64:
        case 0x66:
        case 0x67:
        case 0x68:
        case 0x69:
        case 0x6A:
        case 0x6C:
        case 0x6D:
        case 0x6F:
        case 0x70:
        case 0x73:
        case 0x74:
        case 0x76:
        case 0x77:
        case 0x78:
        case 0x79:
        case 0x7A:
        case 0x7C:
        case 0x7D:
        case 0x7F: {
            const std::uint16_t ad = (op & 0x10) ? f16() : idx();
            const std::uint8_t m = rd8(ad);
            std::uint8_t r = 0;
            switch (op & 0x0F) {
            case 0x0: r = Neg8(cc, m); break;
            case 0x3: r = Com8(cc, m); break;
            case 0x4: r = Lsr8(cc, m); break;
            case 0x6: r = Ror8(cc, m); break;
            case 0x7: r = Asr8(cc, m); break;
            case 0x8: r = Asl8(cc, m); break;
            case 0x9: r = Rol8(cc, m); break;
            case 0xA: r = Dec8(cc, m); break;
            case 0xC: r = Inc8(cc, m); break;
            case 0xD: Tst8(cc, m); goto no_write;
            default: r = Clr8(cc); break;
            }
            wr8(ad, r);
        no_write:
            break;
        }
        case 0x6E: pc = idx(); break;
        case 0x7E: pc = f16(); break;
        case 0x8D: {
            const auto rel = static_cast<std::int8_t>(f8());
            push16(pc);
            pc = static_cast<std::uint16_t>(pc + rel);
            break;
        }
        case 0x8F: { // XGDX, XGDY
            const std::uint16_t t = xr;
            xr = getD();
            setD(t);
            break;
        }
        case 0x9D:
        case 0xAD:
        case 0xBD: { // JSR
            const std::uint16_t ad = ea();
            push16(pc);
            pc = ad;
            break;
        }
        case 0x80:
        case 0x90:
        case 0xA0:
        case 0xB0: a = Sub8(cc, a, operand8(), 0); break;
        case 0x81:
        case 0x91:
        case 0xA1:
        case 0xB1: Sub8(cc, a, operand8(), 0); break;
        case 0x82:
        case 0x92:
        case 0xA2:
        case 0xB2: a = Sub8(cc, a, operand8(), cc & ccr::C); break;
        case 0x84:
        case 0x94:
        case 0xA4:
        case 0xB4:
            a &= operand8();
            Logic8(cc, a);
            break;
        case 0x85:
        case 0x95:
        case 0xA5:
        case 0xB5: Logic8(cc, a & operand8()); break;
        case 0x86:
        case 0x96:
        case 0xA6:
        case 0xB6:
            a = operand8();
            Logic8(cc, a);
            break;
        case 0x88:
        case 0x98:
        case 0xA8:
        case 0xB8:
            a ^= operand8();
            Logic8(cc, a);
            break;
        case 0x89:
        case 0x99:
        case 0xA9:
        case 0xB9: a = Add8(cc, a, operand8(), cc & ccr::C); break;
        case 0x8A:
        case 0x9A:
        case 0xAA:
        case 0xBA:
            a |= operand8();
            Logic8(cc, a);
            break;
        case 0x8B:
        case 0x9B:
        case 0xAB:
        case 0xBB: a = Add8(cc, a, operand8(), 0); break;
        case 0xC0:
        case 0xD0:
        case 0xE0:
        case 0xF0: b = Sub8(cc, b, operand8(), 0); break;
        case 0xC1:
        case 0xD1:
        case 0xE1:
        case 0xF1: Sub8(cc, b, operand8(), 0); break;
        case 0xC2:
        case 0xD2:
        case 0xE2:
        case 0xF2: b = Sub8(cc, b, operand8(), cc & ccr::C); break;
        case 0xC4:
        case 0xD4:
        case 0xE4:
        case 0xF4:
            b &= operand8();
            Logic8(cc, b);
            break;
        case 0xC5:
        case 0xD5:
        case 0xE5:
        case 0xF5: Logic8(cc, b & operand8()); break;
        case 0xC6:
        case 0xD6:
        case 0xE6:
        case 0xF6:
            b = operand8();
            Logic8(cc, b);
            break;
        case 0xC8:
        case 0xD8:
        case 0xE8:
        case 0xF8:
            b ^= operand8();
            Logic8(cc, b);
            break;
        case 0xC9:
        case 0xD9:
        case 0xE9:
        case 0xF9: b = Add8(cc, b, operand8(), cc & ccr::C); break;
        case 0xCA:
        case 0xDA:
        case 0xEA:
        case 0xFA:
            b |= operand8();
            Logic8(cc, b);
            break;
        case 0xCB:
        case 0xDB:
        case 0xEB:
        case 0xFB: b = Add8(cc, b, operand8(), 0); break;
        case 0x83:
        case 0x93:
        case 0xA3:
        case 0xB3: // SUBD; CPD behind $1A and $CD
            if (page >= 3)
                Sub16(cc, getD(), operand16());
            else
                setD(Sub16(cc, getD(), operand16()));
            break;
        case 0xC3:
        case 0xD3:
        case 0xE3:
        case 0xF3: setD(Add16(cc, getD(), operand16())); break;
        case 0x8C:
        case 0x9C:
        case 0xAC:
        case 0xBC: // CPX, CPY (page 3: CPY, page 4: CPX)
            Sub16(cc, xr, operand16());
            break;
        case 0x8E:
        case 0x9E:
        case 0xAE:
        case 0xBE:
            sp = operand16();
            Logic16(cc, sp);
            break;
        case 0xCC:
        case 0xDC:
        case 0xEC:
        case 0xFC:
            setD(operand16());
            Logic16(cc, getD());
            break;
        case 0xCE:
        case 0xDE:
        case 0xEE:
        case 0xFE:
            xr = operand16();
            Logic16(cc, xr);
            break;
        case 0x97:
        case 0xA7:
        case 0xB7:
            wr8(ea(), a);
            Logic8(cc, a);
            break;
        case 0xD7:
        case 0xE7:
        case 0xF7:
            wr8(ea(), b);
            Logic8(cc, b);
            break;
        case 0x9F:
        case 0xAF:
        case 0xBF:
            wr16(ea(), sp);
            Logic16(cc, sp);
            break;
        case 0xDD:
        case 0xED:
        case 0xFD:
            wr16(ea(), getD());
            Logic16(cc, getD());
            break;
        case 0xDF:
        case 0xEF:
        case 0xFF:
            wr16(ea(), xr);
            Logic16(cc, xr);
            break;
        case 0xCF: // STOP; with S set it is disabled and does nothing
            if (cc & ccr::S) break;
            state = RunState::Stopped;
            halt = Halt::Stopped;
            goto done;
        default: break;
        }
    }
done:
    regs.pc = pc;
    regs.sp = sp;
    regs.x = x;
    regs.y = y;
    regs.a = a;
    regs.b = b;
    regs.ccr = cc;
    cycles = cyc;
    instructions = count;
    lastWasInstruction = executed;
    return halt;
}

template Halt Hc11::Loop<true>(std::uint64_t, bool);
template Halt Hc11::Loop<false>(std::uint64_t, bool);

} // namespace qorb::sim
