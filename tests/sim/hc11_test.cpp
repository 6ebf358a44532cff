// 68HC11 semantics worked out by hand from the M68HC11 reference manual:
// the illegal-opcode trap (also behind a prebyte), the prebyte pages, the
// interrupt frame, TSX/TXS, the X mask rule, STOP and WAI, divisions and the
// flags the differential test's reference gets wrong.

#include <gtest/gtest.h>

#include <initializer_list>

#include "core/machine.h"

using namespace qorb::sim;
using namespace qorb::sim::ccr;

namespace {

class Hc11Test : public ::testing::Test {
protected:
    Hc11Test() : m(CpuModel::Hc11), cpu(m.GetCpu()) {
        cpu.regs.sp = 0x00FF;
        cpu.regs.ccr = 0xD0;
    }
    void Put(std::uint16_t at, std::initializer_list<std::uint8_t> bytes) {
        for (const std::uint8_t b : bytes) m.GetBus().Poke(at++, b);
    }
    void Put16(std::uint16_t at, std::uint16_t v) {
        Put(at, {static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)});
    }
    std::uint8_t Peek(std::uint16_t at) { return m.GetBus().Peek(at); }
    std::uint16_t Peek16(std::uint16_t at) {
        return static_cast<std::uint16_t>(Peek(at) << 8 | Peek(at + 1));
    }
    // Runs the code at $1000; it ends at an illegal opcode ($41) with the
    // trap vector unset.
    Halt Code(std::initializer_list<std::uint8_t> bytes) {
        Put(0x1000, bytes);
        cpu.regs.pc = 0x1000;
        RunLimits limits;
        limits.maxCycles = cpu.cycles + 100000;
        return m.Run(limits);
    }
    std::uint8_t Flags(std::uint8_t mask) const { return cpu.regs.ccr & mask; }

    Machine m;
    Cpu& cpu;
};

constexpr std::uint8_t END = 0x41;

TEST_F(Hc11Test, IllegalOpcodeTrapStacksTheOpcodesAddress) {
    Put16(0xFFF8, 0x2000);
    Put(0x2000, {END});
    // ldaa #$12; ldab #$34; then $18 $00 (no such page 2 opcode); the
    // handler's first instruction is a stop address.
    m.AddStop(0x2000);
    EXPECT_EQ(Code({0x86, 0x12, 0xC6, 0x34, 0x18, 0x00}), Halt::StopAddress);
    EXPECT_EQ(cpu.regs.sp, 0x00FF - 9);
    // Frame from SP+1: CCR, B, A, X, Y, return address (the byte after the prebyte).
    EXPECT_EQ(Peek(0x00F7), 0xD0);
    EXPECT_EQ(Peek(0x00F8), 0x34);
    EXPECT_EQ(Peek(0x00F9), 0x12);
    EXPECT_EQ(Peek16(0x00FE), 0x1005);
    EXPECT_EQ(Flags(I), I);
    m.RemoveStop(0x2000);
}

TEST_F(Hc11Test, UnsetVectorHaltsAtTheIllegalOpcode) {
    for (const auto& code : {std::initializer_list<std::uint8_t>{0x01, 0x00},
                             {0x01, 0x87, 0x00},
                             {0x01, 0x1A, 0xEC},
                             {0x01, 0xCD, 0x8C},
                             {0x01, 0x18, 0x18, 0x00}}) {
        EXPECT_EQ(Code(code), Halt::IllegalOpcode);
        EXPECT_EQ(cpu.regs.pc, 0x1001);
        EXPECT_EQ(cpu.regs.sp, 0x00FF);
    }
    Put16(0xFFF8, 0xFFFF);
    EXPECT_EQ(Code({0x01, 0x41}), Halt::IllegalOpcode);
}

TEST_F(Hc11Test, PrebytePages) {
    Put(0x2000, {0x12, 0x34, 0x56, 0x78});
    Put(0x2100, {0x9A, 0xBC});
    cpu.regs.x = 0x2000;
    cpu.regs.y = 0x2100;
    Code({0x1A, 0xEE, 0x02, END}); // ldy 2,x
    EXPECT_EQ(cpu.regs.y, 0x5678);
    cpu.regs.y = 0x2100;
    Code({0xCD, 0xEE, 0x00, END}); // ldx 0,y
    EXPECT_EQ(cpu.regs.x, 0x9ABC);
    cpu.regs.x = 0x2000;
    Code({0xCC, 0x12, 0x34, 0x1A, 0xA3, 0x00, END}); // ldd #$1234; cpd 0,x
    EXPECT_EQ(Flags(Z), Z);
    EXPECT_EQ(cpu.regs.D(), 0x1234);
    Code({0xCC, 0x12, 0x33, 0x1A, 0x83, 0x12, 0x34, END}); // cpd #$1234
    EXPECT_EQ(Flags(N | C), N | C);
    cpu.regs.y = 0x2100;
    Code({0xCE, 0x9A, 0xBC, 0xCD, 0xAC, 0x00, END}); // ldx #$9ABC; cpx 0,y
    EXPECT_EQ(Flags(Z), Z);
    Code({0x18, 0xCE, 0x11, 0x22, 0x18, 0x08, 0x18, 0x8F, END}); // ldy #$1122; iny; xgdy
    EXPECT_EQ(cpu.regs.D(), 0x1123);
    // page 2 bit instructions index with Y
    cpu.regs.y = 0x2100;
    Code({0x18, 0x1C, 0x01, 0x01, END}); // bset 1,y,#$01
    EXPECT_EQ(Peek(0x2101), 0xBD);
}

TEST_F(Hc11Test, StackPointerTransfersAndPushes) {
    // tsx: X = SP + 1; pshx pushes low byte first
    Code({0x30, 0xCE, 0x12, 0x34, 0x3C, 0x18, 0x38, END}); // tsx; ldx #$1234; pshx; puly
    EXPECT_EQ(cpu.regs.y, 0x1234);
    EXPECT_EQ(Peek(0x00FE), 0x12);
    EXPECT_EQ(Peek(0x00FF), 0x34);
    cpu.regs.sp = 0x00FF;
    Code({0x30, END});
    EXPECT_EQ(cpu.regs.x, 0x0100);
    Code({0xCE, 0x20, 0x00, 0x35, END}); // ldx #$2000; txs
    EXPECT_EQ(cpu.regs.sp, 0x1FFF);
}

TEST_F(Hc11Test, FlagsOfAddsMultipliesNegatesAndCounts) {
    Code({0x86, 0x45, 0xC6, 0x3B, 0x1B, END}); // aba: half carry
    EXPECT_EQ(cpu.regs.a, 0x80);
    EXPECT_EQ(Flags(H | N | V | C), H | N | V);
    Code({0x86, 0x45, 0x8B, 0x38, 0x19, END}); // adda; daa: 45 + 38 = 83
    EXPECT_EQ(cpu.regs.a, 0x83);
    Code({0x86, 0x10, 0xC6, 0x08, 0x3D, END}); // mul
    EXPECT_EQ(cpu.regs.D(), 0x0080);
    EXPECT_EQ(Flags(C), C);
    Code({0x86, 0x80, 0x40, END}); // nega
    EXPECT_EQ(Flags(V | C), V | C);
    Code({0x86, 0x7F, 0x4C, END}); // inca
    EXPECT_EQ(Flags(V), V);
    Code({0xCC, 0x00, 0x64, 0xCE, 0x00, 0x07, 0x02, END}); // idiv: 100 / 7
    EXPECT_EQ(cpu.regs.x, 14);
    EXPECT_EQ(cpu.regs.D(), 2);
    Code({0xCC, 0x40, 0x00, 0xCE, 0x00, 0x00, 0x03, END}); // fdiv by zero
    EXPECT_EQ(Flags(V | C), V | C);
    EXPECT_EQ(cpu.regs.x, 0xFFFF);
}

TEST_F(Hc11Test, TheXMaskCanBeClearedButNotSet) {
    Code({0x86, 0x00, 0x06, 0x86, 0xFF, 0x06, END}); // tap $00, then tap $FF
    EXPECT_EQ(cpu.regs.ccr, 0xBF);
}

TEST_F(Hc11Test, SwiAndRtiRoundTrip) {
    Put16(0xFFF6, 0x2000);
    Put(0x2000, {0x3B}); // rti
    cpu.regs.ccr = 0x00;
    // ldd #$1234; ldx #$5678; ldy #$9ABC; swi
    Code({0xCC, 0x12, 0x34, 0xCE, 0x56, 0x78, 0x18, 0xCE, 0x9A, 0xBC, 0x3F, END});
    EXPECT_EQ(cpu.regs.pc, 0x100B);
    EXPECT_EQ(cpu.regs.D(), 0x1234);
    EXPECT_EQ(cpu.regs.ccr, N); // from ldy, stacked and restored
    EXPECT_EQ(cpu.regs.sp, 0x00FF);
    EXPECT_EQ(Peek(0x00F7), N);
    EXPECT_EQ(Peek(0x00F8), 0x34);
    EXPECT_EQ(Peek(0x00F9), 0x12);
    EXPECT_EQ(Peek16(0x00FA), 0x5678);
    EXPECT_EQ(Peek16(0x00FC), 0x9ABC);
    EXPECT_EQ(Peek16(0x00FE), 0x100B);
    EXPECT_EQ(cpu.cycles, 3u + 3 + 4 + 14 + 12);
}

TEST_F(Hc11Test, StopAndWait) {
    EXPECT_EQ(Code({0xCF, END}), Halt::IllegalOpcode); // S set: stop does nothing
    cpu.regs.ccr = 0x50;
    EXPECT_EQ(Code({0xCF, END}), Halt::Stopped);
    EXPECT_EQ(cpu.regs.pc, 0x1001);
    EXPECT_EQ(cpu.regs.sp, 0x00FF); // the 68HC11's STOP stacks nothing
    // An unmasked IRQ ends STOP: the frame is stacked then.
    Put16(0xFFF2, 0x2000);
    Put(0x2000, {END});
    cpu.regs.ccr = 0x40;
    cpu.irqLine = true;
    EXPECT_EQ(m.Run({}), Halt::IllegalOpcode);
    EXPECT_EQ(cpu.regs.pc, 0x2000);
    EXPECT_EQ(cpu.regs.sp, 0x00FF - 9);
    EXPECT_EQ(Peek16(0x00FE), 0x1001);
    // wai with both masks set can never end
    cpu.irqLine = false;
    cpu.regs.sp = 0x00FF;
    cpu.regs.ccr = 0xD0;
    EXPECT_EQ(Code({0x3E, END}), Halt::Stopped);
    EXPECT_EQ(cpu.state, RunState::Waiting);
}

TEST_F(Hc11Test, XirqBeforeIrqAndTheMasks) {
    Put16(0xFFF2, 0x2000);
    Put16(0xFFF4, 0x3000);
    Put(0x2000, {END});
    Put(0x3000, {END});
    cpu.regs.ccr = 0x00;
    cpu.irqLine = cpu.xirqLine = true;
    EXPECT_EQ(Code({0x01, END}), Halt::IllegalOpcode);
    EXPECT_EQ(cpu.regs.pc, 0x3000);
    EXPECT_EQ(cpu.regs.ccr & (X | I), X | I);
    EXPECT_EQ(cpu.cycles, 12u);
}

} // namespace
