// CPU12 semantics the differential test cannot check against its reference
// (which differs from the manual there or lacks the instruction), worked
// out by hand from the CPU12 reference manual: half carry, DAA, the
// multiply/divide family, EMACS, table lookups, fuzzy logic, exchanges,
// moves with the PC as base, CALL/RTC, traps and interrupts.

#include <gtest/gtest.h>

#include <initializer_list>

#include "core/machine.h"

using namespace qorb::sim;
using namespace qorb::sim::ccr;

namespace {

class Cpu12Test : public ::testing::Test {
protected:
    explicit Cpu12Test(CpuModel model = CpuModel::Cpu12) : m(model), cpu(m.GetCpu()) {
        cpu.regs = Registers{};
        cpu.regs.sp = 0x3000;
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
    // Runs the code at $1000 (ending with BGND) and returns the halt.
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

class Hcs12Test : public Cpu12Test {
protected:
    Hcs12Test() : Cpu12Test(CpuModel::Hcs12) {}
};

constexpr std::uint8_t BGND = 0x00;

TEST_F(Cpu12Test, AdditionsSetTheHalfCarry) {
    // ldaa #$45; ldab #$3B; aba
    EXPECT_EQ(Code({0x86, 0x45, 0xC6, 0x3B, 0x18, 0x06, BGND}), Halt::Background);
    EXPECT_EQ(cpu.regs.a, 0x80);
    EXPECT_EQ(Flags(H | N | Z | V | C), H | N | V);
    // ldaa #$08; adda #$07: no carry out of bit 3
    Code({0x86, 0x08, 0x8B, 0x07, BGND});
    EXPECT_EQ(cpu.regs.a, 0x0F);
    EXPECT_EQ(Flags(H), 0);
    // sec; ldaa #$0F; adca #$00: the carry in makes the half carry
    Code({0x14, 0x01, 0x86, 0x0F, 0x89, 0x00, BGND});
    EXPECT_EQ(cpu.regs.a, 0x10);
    EXPECT_EQ(Flags(H | C), H);
}

TEST_F(Cpu12Test, DecimalAdjust) {
    struct Case {
        std::uint8_t x, y, sum, c;
    } cases[] = {{0x45, 0x38, 0x83, 0}, {0x99, 0x01, 0x00, C}, {0x19, 0x28, 0x47, 0},
                 {0x50, 0x70, 0x20, C}, {0x99, 0x99, 0x98, C}, {0x09, 0x01, 0x10, 0}};
    for (const Case& k : cases) {
        // ldaa #x; adda #y; daa
        Code({0x86, k.x, 0x8B, k.y, 0x18, 0x07, BGND});
        EXPECT_EQ(cpu.regs.a, k.sum) << std::hex << int(k.x) << "+" << int(k.y);
        EXPECT_EQ(Flags(C), k.c);
        EXPECT_EQ(Flags(Z), k.sum == 0 ? Z : 0);
    }
}

TEST_F(Cpu12Test, ShiftsNegateIncrementAndDecrementFlags) {
    Code({0x86, 0x80, 0x40, BGND}); // nega of $80
    EXPECT_EQ(cpu.regs.a, 0x80);
    EXPECT_EQ(Flags(N | Z | V | C), N | V | C);
    Code({0x86, 0x00, 0x40, BGND});
    EXPECT_EQ(Flags(N | Z | V | C), Z);
    Code({0x86, 0x01, 0x40, BGND});
    EXPECT_EQ(Flags(N | Z | V | C), N | C);
    Code({0x86, 0x7F, 0x42, BGND}); // inca
    EXPECT_EQ(Flags(N | Z | V), N | V);
    Code({0x86, 0x80, 0x43, BGND}); // deca
    EXPECT_EQ(Flags(N | Z | V), V);
    Code({0x86, 0x81, 0x47, BGND}); // asra: $C0, C=1, V = N^C = 0
    EXPECT_EQ(cpu.regs.a, 0xC0);
    EXPECT_EQ(Flags(N | V | C), N | C);
    Code({0xCC, 0x80, 0x01, 0x49, BGND}); // lsrd
    EXPECT_EQ(cpu.regs.D(), 0x4000);
    EXPECT_EQ(Flags(N | Z | V | C), V | C);
}

TEST_F(Cpu12Test, MultipliesSetCarryForRounding) {
    Code({0x86, 0x10, 0xC6, 0x08, 0x12, BGND}); // mul: $0080, C from bit 7
    EXPECT_EQ(cpu.regs.D(), 0x0080);
    EXPECT_EQ(Flags(C), C);
    Code({0x86, 0xFF, 0xC6, 0xFF, 0x12, BGND});
    EXPECT_EQ(cpu.regs.D(), 0xFE01);
    EXPECT_EQ(Flags(C), 0);
    // emul: $FFFF * $FFFF = $FFFE0001
    Code({0xCC, 0xFF, 0xFF, 0xCD, 0xFF, 0xFF, 0x13, BGND});
    EXPECT_EQ(cpu.regs.y, 0xFFFE);
    EXPECT_EQ(cpu.regs.D(), 0x0001);
    EXPECT_EQ(Flags(N | Z | C), N);
    // emuls: -1 * -1 = 1; -2 * 16384 = -32768 ($FFFF8000, C from bit 15)
    Code({0xCC, 0xFF, 0xFF, 0xCD, 0xFF, 0xFF, 0x18, 0x13, BGND});
    EXPECT_EQ(cpu.regs.y, 0x0000);
    EXPECT_EQ(cpu.regs.D(), 0x0001);
    Code({0xCC, 0xFF, 0xFE, 0xCD, 0x40, 0x00, 0x18, 0x13, BGND});
    EXPECT_EQ(cpu.regs.y, 0xFFFF);
    EXPECT_EQ(cpu.regs.D(), 0x8000);
    EXPECT_EQ(Flags(N | Z | C), N | C);
}

TEST_F(Cpu12Test, Divisions) {
    // ediv: $00010000 / 3 = $5555 rest 1
    Code({0xCD, 0x00, 0x01, 0xCC, 0x00, 0x00, 0xCE, 0x00, 0x03, 0x11, BGND});
    EXPECT_EQ(cpu.regs.y, 0x5555);
    EXPECT_EQ(cpu.regs.D(), 0x0001);
    EXPECT_EQ(Flags(N | Z | V | C), 0);
    // ediv overflow: $00010000 / 1; V set, registers kept
    Code({0xCD, 0x00, 0x01, 0xCC, 0x00, 0x00, 0xCE, 0x00, 0x01, 0x11, BGND});
    EXPECT_EQ(Flags(V | C), V);
    EXPECT_EQ(cpu.regs.y, 0x0001);
    // ediv by zero: C
    Code({0xCE, 0x00, 0x00, 0x11, BGND});
    EXPECT_EQ(Flags(C), C);
    // edivs: -100000 / 7 = -14285 rest -5
    Code({0xCD, 0xFF, 0xFE, 0xCC, 0x79, 0x60, 0xCE, 0x00, 0x07, 0x18, 0x14, BGND});
    EXPECT_EQ(cpu.regs.y, 0xC833);
    EXPECT_EQ(cpu.regs.D(), 0xFFFB);
    EXPECT_EQ(Flags(N | Z | V | C), N);
    // idivs: -7 / 2 = -3 rest -1; -32768 / -1 overflows
    Code({0xCC, 0xFF, 0xF9, 0xCE, 0x00, 0x02, 0x18, 0x15, BGND});
    EXPECT_EQ(cpu.regs.x, 0xFFFD);
    EXPECT_EQ(cpu.regs.D(), 0xFFFF);
    Code({0xCC, 0x80, 0x00, 0xCE, 0xFF, 0xFF, 0x18, 0x15, BGND});
    EXPECT_EQ(Flags(V | C), V);
    // idiv: 100 / 7 = 14 rest 2; by zero: X = $FFFF, C
    Code({0xCC, 0x00, 0x64, 0xCE, 0x00, 0x07, 0x18, 0x10, BGND});
    EXPECT_EQ(cpu.regs.x, 14);
    EXPECT_EQ(cpu.regs.D(), 2);
    Code({0xCC, 0x00, 0x64, 0xCE, 0x00, 0x00, 0x18, 0x10, BGND});
    EXPECT_EQ(cpu.regs.x, 0xFFFF);
    EXPECT_EQ(Flags(Z | V | C), C);
    // fdiv: $4000 / $8000 = 0.5 = $8000; by zero: V and C; D >= X: V
    Code({0xCC, 0x40, 0x00, 0xCE, 0x80, 0x00, 0x18, 0x11, BGND});
    EXPECT_EQ(cpu.regs.x, 0x8000);
    EXPECT_EQ(cpu.regs.D(), 0);
    Code({0xCC, 0x40, 0x00, 0xCE, 0x00, 0x00, 0x18, 0x11, BGND});
    EXPECT_EQ(Flags(V | C), V | C);
    Code({0xCC, 0x40, 0x00, 0xCE, 0x40, 0x00, 0x18, 0x11, BGND});
    EXPECT_EQ(Flags(V | C), V);
    EXPECT_EQ(cpu.regs.x, 0xFFFF);
}

TEST_F(Cpu12Test, MultiplyAndAccumulate) {
    Put16(0x2000, 3);
    Put16(0x2002, 4);
    Put16(0x2010, 0x0000);
    Put16(0x2012, 0x0010);
    // ldx #$2000; ldy #$2002; emacs $2010
    Code({0xCE, 0x20, 0x00, 0xCD, 0x20, 0x02, 0x18, 0x12, 0x20, 0x10, BGND});
    EXPECT_EQ(Peek16(0x2010), 0x0000);
    EXPECT_EQ(Peek16(0x2012), 0x001C);
    EXPECT_EQ(Flags(N | Z | V | C), 0);
    // $7FFF * $7FFF + $7FFFFFFF overflows: $BFFF0000, N and V; C from bit 15
    Put16(0x2000, 0x7FFF);
    Put16(0x2002, 0x7FFF);
    Put16(0x2010, 0x7FFF);
    Put16(0x2012, 0xFFFF);
    Code({0xCE, 0x20, 0x00, 0xCD, 0x20, 0x02, 0x18, 0x12, 0x20, 0x10, BGND});
    EXPECT_EQ(Peek16(0x2010), 0xBFFF);
    EXPECT_EQ(Peek16(0x2012), 0x0000);
    EXPECT_EQ(Flags(N | Z | V | C), N | V | C);
}

TEST_F(Cpu12Test, TableLookupAndInterpolate) {
    Put(0x2000, {0x10, 0x40});
    // ldx #$2000; ldab #$80; tbl 0,x
    Code({0xCE, 0x20, 0x00, 0xC6, 0x80, 0x18, 0x3D, 0x00, BGND});
    EXPECT_EQ(cpu.regs.a, 0x28);
    EXPECT_EQ(Flags(C), 0);
    Put(0x2000, {0x40, 0x10});
    Code({0xCE, 0x20, 0x00, 0xC6, 0x81, 0x18, 0x3D, 0x00, BGND}); // 64 - 48*129/256 = 39.8
    EXPECT_EQ(cpu.regs.a, 0x27);
    EXPECT_EQ(Flags(C), C);
    Put(0x2000, {0x10, 0x00, 0x20, 0x00});
    Code({0xCE, 0x20, 0x00, 0xC6, 0x40, 0x18, 0x3F, 0x00, BGND}); // etbl: $1000 + $1000/4
    EXPECT_EQ(cpu.regs.D(), 0x1400);
    // A postbyte with an offset is not a table form: the trap, here unset
    EXPECT_EQ(Code({0xCE, 0x20, 0x00, 0x18, 0x3D, 0xE0, 0x10, BGND}), Halt::IllegalOpcode);
    EXPECT_EQ(cpu.regs.pc, 0x1003);
}

TEST_F(Cpu12Test, FuzzyMembership) {
    Put(0x2000, {0x20, 0x80, 0x04, 0x08});
    const std::uint8_t inputs[] = {0x30, 0x10, 0x7F, 0x20, 0x90};
    const std::uint8_t grades[] = {0x40, 0x00, 0x08, 0x00, 0x00};
    for (int i = 0; i < 5; ++i) {
        // ldx #$2000; ldy #$2100; ldaa #in; mem
        Code({0xCE, 0x20, 0x00, 0xCD, 0x21, 0x00, 0x86, inputs[i], 0x01, BGND});
        EXPECT_EQ(Peek(0x2100), grades[i]) << i;
        EXPECT_EQ(cpu.regs.x, 0x2004);
        EXPECT_EQ(cpu.regs.y, 0x2101);
    }
    // A slope of zero is a vertical side: full grade inside the points.
    Put(0x2000, {0x20, 0x80, 0x00, 0x00});
    Code({0xCE, 0x20, 0x00, 0xCD, 0x21, 0x00, 0x86, 0x20, 0x01, BGND});
    EXPECT_EQ(Peek(0x2100), 0xFF);
}

TEST_F(Cpu12Test, FuzzyRuleEvaluation) {
    // Inputs at Y+0 = $40, Y+1 = $80; output Y+2. Rules: in0 -> out2; in0 and in1 -> out3;
    // in1 -> out2.
    Put(0x2100, {0x40, 0x80, 0x00, 0x00});
    Put(0x2000, {0x00, 0xFE, 0x02, 0xFE, 0x00, 0x01, 0xFE, 0x03, 0xFE, 0x01, 0xFE, 0x02, 0xFF});
    // ldx #$2000; ldy #$2100; ldaa #$FF; clv; rev
    Code({0xCE, 0x20, 0x00, 0xCD, 0x21, 0x00, 0x86, 0xFF, 0x10, 0xFD, 0x18, 0x3A, BGND});
    EXPECT_EQ(Peek(0x2102), 0x80);
    EXPECT_EQ(Peek(0x2103), 0x40);
    EXPECT_EQ(cpu.regs.x, 0x200D);
    // revw with weights: the same rules by address, weights $80 and $FF
    Put(0x2100, {0x40, 0x80, 0x00, 0x00});
    Put(0x2200, {0x80, 0xFF});
    Put(0x2000,
        {0x21, 0x00, 0xFF, 0xFE, 0x21, 0x02, 0xFF, 0xFE, 0x21, 0x01, 0xFF, 0xFE, 0x21, 0x03, 0xFF, 0xFF});
    // ldx #$2000; ldy #$2200; ldaa #$FF; clv; sec; revw
    Code({0xCE, 0x20, 0x00, 0xCD, 0x22, 0x00, 0x86, 0xFF, 0x10, 0xFD, 0x14, 0x01, 0x18, 0x3B, BGND});
    EXPECT_EQ(Peek(0x2102), 0x20); // $40 weighted by $80
    EXPECT_EQ(Peek(0x2103), 0x80); // $80 weighted by $FF
    EXPECT_EQ(cpu.regs.y, 0x2202);
}

TEST_F(Cpu12Test, WeightedAverage) {
    Put(0x2000, {10, 20, 30});
    Put(0x2100, {0xFF, 0x80, 0x00});
    // ldx #$2000; ldy #$2100; ldab #3; wav
    Code({0xCE, 0x20, 0x00, 0xCD, 0x21, 0x00, 0xC6, 0x03, 0x18, 0x3C, BGND});
    EXPECT_EQ(cpu.regs.y, 0x0000);
    EXPECT_EQ(cpu.regs.D(), 10 * 255 + 20 * 128);
    EXPECT_EQ(cpu.regs.x, 255 + 128);
    EXPECT_EQ(cpu.cycles, 2u + 2 + 1 + (3 + 8 * 3) + 5);
}

TEST_F(Cpu12Test, TransfersAndExchanges) {
    Code({0x86, 0x80, 0xB7, 0x05, BGND}); // tfr a,x sign-extends
    EXPECT_EQ(cpu.regs.x, 0xFF80);
    Code({0xCE, 0x12, 0x34, 0xB7, 0x50, BGND}); // tfr x,a: low byte
    EXPECT_EQ(cpu.regs.a, 0x34);
    // exg a,x: X = $00:A, A = XL
    Code({0x86, 0x92, 0xCE, 0x34, 0x56, 0xB7, 0x85, BGND});
    EXPECT_EQ(cpu.regs.x, 0x0092);
    EXPECT_EQ(cpu.regs.a, 0x56);
    // exg x,b: X = $FF:B; exg x,a: X = $00:A
    Code({0xC6, 0x12, 0xCE, 0x34, 0x56, 0xB7, 0xD1, BGND});
    EXPECT_EQ(cpu.regs.x, 0xFF12);
    EXPECT_EQ(cpu.regs.b, 0x56);
    Code({0x86, 0x12, 0xCE, 0x34, 0x56, 0xB7, 0xD0, BGND});
    EXPECT_EQ(cpu.regs.x, 0x0012);
    // exg a,d swaps A and B
    Code({0xCC, 0x12, 0x34, 0xB7, 0x84, BGND});
    EXPECT_EQ(cpu.regs.D(), 0x3412);
}

TEST_F(Cpu12Test, TheXMaskCanBeClearedButNotSet) {
    cpu.regs.ccr = 0x10;
    Code({0x14, 0x40, BGND}); // orcc #$40
    EXPECT_EQ(Flags(X), 0);
    Code({0x86, 0xFF, 0xB7, 0x02, BGND}); // tfr a,ccr
    EXPECT_EQ(cpu.regs.ccr, 0xBF);
    cpu.regs.ccr = 0xD0;
    Code({0x10, 0xBF, BGND}); // andcc #$BF
    EXPECT_EQ(cpu.regs.ccr, 0x90);
}

TEST_F(Cpu12Test, IndexedForms) {
    for (unsigned a = 0x1F00; a < 0x2200; ++a)
        m.GetBus().Poke(static_cast<std::uint16_t>(a), static_cast<std::uint8_t>(a ^ (a >> 8)));
    const auto v = [](unsigned a) { return static_cast<std::uint8_t>(a ^ (a >> 8)); };
    cpu.regs.x = 0x2000;
    Code({0xA6, 0x10, BGND}); // ldaa -16,x
    EXPECT_EQ(cpu.regs.a, v(0x1FF0));
    Code({0xA6, 0xE1, 0x80, BGND}); // ldaa -128,x (9-bit)
    EXPECT_EQ(cpu.regs.a, v(0x1F80));
    Code({0xA6, 0xE2, 0x01, 0x05, BGND}); // ldaa $105,x
    EXPECT_EQ(cpu.regs.a, v(0x2105));
    cpu.regs.b = 0xF0;
    Code({0xA6, 0xE5, BGND}); // ldaa b,x: B is unsigned
    EXPECT_EQ(cpu.regs.a, v(0x20F0));
    Put16(0x2004, 0x2150);
    Code({0xCC, 0x00, 0x04, 0xA6, 0xE7, BGND}); // ldd #4; ldaa [d,x]
    EXPECT_EQ(cpu.regs.a, v(0x2150));
    Put16(0x2010, 0x2160);
    Code({0xA6, 0xE3, 0x00, 0x10, BGND}); // ldaa [$10,x]
    EXPECT_EQ(cpu.regs.a, v(0x2160));
    // PC as base: the next instruction's address
    Put(0x1010, {0x77});
    Code({0xA6, 0xCE, BGND}); // ldaa 14,pc -> $1002 + 14
    EXPECT_EQ(cpu.regs.a, 0x77);
    // auto increment and decrement, pre and post; LEA keeps the address
    cpu.regs.y = 0x2000;
    Code({0x6A, 0x62, 0x6B, 0x7F, BGND}); // staa 3,+y; stab 1,y-
    EXPECT_EQ(cpu.regs.y, 0x2002);
    cpu.regs.x = 0x2040;
    Code({0x1A, 0x31, BGND}); // leax 2,x+: the effective address (the old X) wins
    EXPECT_EQ(cpu.regs.x, 0x2040);
    cpu.regs.x = 0x2040;
    Code({0x19, 0x31, BGND}); // leay 2,x+
    EXPECT_EQ(cpu.regs.x, 0x2042);
    EXPECT_EQ(cpu.regs.y, 0x2040);
    // direct page
    Put(0x0040, {0x5A});
    Code({0x96, 0x40, BGND});
    EXPECT_EQ(cpu.regs.a, 0x5A);
}

TEST_F(Cpu12Test, LoopPrimitivesCountInTheRegistersWidth) {
    // ldaa #$FF; ibeq a,+2 (taken: 8-bit wrap to zero); bgnd; bgnd
    Code({0x86, 0xFF, 0x04, 0x80, 0x01, BGND, BGND});
    EXPECT_EQ(cpu.regs.pc, 0x1007);
    EXPECT_EQ(cpu.regs.a, 0x00);
    // ldx #$FFFF; ibne x,+1 (not taken)
    Code({0xCE, 0xFF, 0xFF, 0x04, 0xA5, 0x01, BGND, BGND});
    EXPECT_EQ(cpu.regs.pc, 0x1007);
    // dbne with a negative 9-bit offset: ldab #2; loop: dbne b,loop
    Code({0xC6, 0x02, 0x04, 0x31, 0xFD, BGND});
    EXPECT_EQ(cpu.regs.b, 0);
    EXPECT_EQ(cpu.regs.pc, 0x1006);
    // An undefined loop postbyte traps
    EXPECT_EQ(Code({0x04, 0xE0, 0x00, BGND}), Halt::IllegalOpcode);
}

TEST_F(Cpu12Test, MovesCountThePcFromTheirOwnPoint) {
    // $1000 movb 4,pc,$2000; $1005 bra +4; $1007 AA BB CC DD; $100B bgnd
    // The original CPU counts the source from the byte after its postbyte.
    Code({0x18, 0x0D, 0xC4, 0x20, 0x00, 0x20, 0x04, 0xAA, 0xBB, 0xCC, 0xDD, BGND});
    EXPECT_EQ(Peek(0x2000), 0xAA);
    // movb #$55,2,pc: the destination from the next instruction plus one
    // (the immediate byte): $1004 + 1 + 2 = $1007
    Code({0x18, 0x08, 0xC2, 0x55, 0x20, 0x04, 0x00, 0x00, 0x00, 0x00, BGND});
    EXPECT_EQ(Peek(0x1007), 0x55);
    // movw #$1234,0,pc: plus two for the immediate word: $1005 + 2 = $1007
    Code({0x18, 0x00, 0xC0, 0x12, 0x34, 0x20, 0x04, 0x00, 0x00, 0x00, 0x00, BGND});
    EXPECT_EQ(Peek16(0x1007), 0x1234);
    // movb 0,y,1,pc (idx to idx): $1004 + 1 + 1 = $1006
    Put(0x2100, {0x66});
    cpu.regs.y = 0x2100;
    Code({0x18, 0x0A, 0x40, 0xC1, 0x20, 0x04, 0x00, 0x00, 0x00, 0x00, BGND});
    EXPECT_EQ(Peek(0x1006), 0x66);
    // A 9-bit offset has no room in a move on this CPU: the trap
    EXPECT_EQ(Code({0x18, 0x08, 0xE0, 0x10, 0x55, BGND}), Halt::IllegalOpcode);
}

TEST_F(Hcs12Test, MovesCountThePcFromTheNextInstruction) {
    Code({0x18, 0x0D, 0xC4, 0x20, 0x00, 0x20, 0x04, 0xAA, 0xBB, 0xCC, 0xDD, BGND});
    EXPECT_EQ(Peek(0x2000), 0xCC);
    Code({0x18, 0x08, 0xC2, 0x55, 0x20, 0x04, 0x00, 0x00, 0x00, 0x00, BGND});
    EXPECT_EQ(Peek(0x1006), 0x55);
    // offsets after the postbyte: movb #$77,$100,x
    cpu.regs.x = 0x2000;
    Code({0x18, 0x08, 0xE2, 0x01, 0x00, 0x77, BGND});
    EXPECT_EQ(Peek(0x2100), 0x77);
    EXPECT_EQ(cpu.regs.pc, 0x1007);
}

TEST_F(Cpu12Test, CallAndReturnWithThePage) {
    cpu.regs.ppage = 0x03;
    // call $2000,$05 ; at $2000: rtc
    Put(0x2000, {0x0A});
    Code({0x4A, 0x20, 0x00, 0x05, BGND});
    EXPECT_EQ(cpu.regs.ppage, 0x03);
    EXPECT_EQ(cpu.regs.pc, 0x1005);
    EXPECT_EQ(cpu.regs.sp, 0x3000);
    EXPECT_EQ(Peek(0x3000 - 3), 0x03);     // the old page
    EXPECT_EQ(Peek16(0x3000 - 2), 0x1004); // the return address
    EXPECT_EQ(cpu.cycles, 8u + 6 + 5);
    // call [d,x]: address and page from memory; stop in the routine
    Put(0x2100, {0x22, 0x00, 0x09});
    Put(0x2200, {BGND});
    cpu.regs.x = 0x2100;
    cpu.regs.sp = 0x3000;
    Code({0xCC, 0x00, 0x00, 0x4B, 0xE7, BGND});
    EXPECT_EQ(cpu.regs.ppage, 0x09);
    EXPECT_EQ(cpu.regs.pc, 0x2201);
}

TEST_F(Hcs12Test, CallAndReturnTakeTheHcs12Counts) {
    Put(0x2000, {0x0A});
    Code({0x4A, 0x20, 0x00, 0x05, BGND});
    EXPECT_EQ(cpu.cycles, 7u + 7 + 5);
}

TEST_F(Cpu12Test, TrapSwiAndReturn) {
    Put16(0xFFF8, 0x2000);
    Put16(0xFFF6, 0x2100);
    Put(0x2000, {0x0B}); // rti
    Put(0x2100, {0x0B});
    // ldd #$1234; ldx #$5678; trap $30; swi; bgnd
    Code({0xCC, 0x12, 0x34, 0xCE, 0x56, 0x78, 0x18, 0x30, 0x3F, BGND});
    EXPECT_EQ(cpu.regs.pc, 0x100A);
    EXPECT_EQ(cpu.regs.sp, 0x3000);
    EXPECT_EQ(cpu.regs.ccr, 0xD0);
    // The last frame (SWI's): CCR, B, A, X, Y, return address.
    EXPECT_EQ(Peek(0x3000 - 9), 0xD0);
    EXPECT_EQ(Peek(0x3000 - 8), 0x34);
    EXPECT_EQ(Peek(0x3000 - 7), 0x12);
    EXPECT_EQ(Peek16(0x3000 - 6), 0x5678);
    EXPECT_EQ(Peek16(0x3000 - 2), 0x1009);
    EXPECT_EQ(cpu.cycles, 2u + 2 + 10 + 8 + 9 + 8 + 5);
}

TEST_F(Cpu12Test, ReturnFromInterruptTakesAPendingOneAtOnce) {
    Put16(0xFFF2, 0x2000);
    Put(0x2000, {0x0B}); // rti
    // cli; nop
    Put(0x1000, {0x10, 0xEF, 0xA7, BGND});
    cpu.regs.pc = 0x1000;
    cpu.irqLine = true;
    EXPECT_EQ(m.Step(), Halt::Deadline); // cli
    EXPECT_EQ(m.Step(), Halt::Deadline); // the interrupt entry
    EXPECT_EQ(cpu.regs.pc, 0x2000);
    const std::uint64_t before = cpu.cycles;
    EXPECT_EQ(m.Step(), Halt::Deadline); // rti, and the interrupt again
    EXPECT_EQ(cpu.regs.pc, 0x2000);
    EXPECT_EQ(cpu.regs.sp, 0x3000 - 9);
    EXPECT_EQ(cpu.cycles - before, 10u);
    cpu.irqLine = false;
    EXPECT_EQ(m.Step(), Halt::Deadline);
    EXPECT_EQ(cpu.regs.pc, 0x1002);
    EXPECT_EQ(cpu.regs.ccr & I, 0);
}

TEST_F(Cpu12Test, StopEndsOnXirqMaskedByX) {
    cpu.regs.ccr = 0x50; // S clear, X and I set
    Put(0x1000, {0x18, 0x3E, 0xA7, BGND});
    cpu.regs.pc = 0x1000;
    EXPECT_EQ(m.Run({}), Halt::Stopped);
    EXPECT_EQ(cpu.state, RunState::Stopped);
    EXPECT_EQ(cpu.cycles, 9u);
    cpu.xirqLine = true; // masked: execution goes on after STOP
    EXPECT_EQ(m.Run({}), Halt::Background);
    EXPECT_EQ(cpu.regs.pc, 0x1004);
}

TEST_F(Cpu12Test, UnsetTrapVectorHaltsBeforeTheInstruction) {
    for (const std::uint8_t second : {0x30, 0x39, 0x40, 0xFF}) {
        cpu.regs.sp = 0x3000;
        EXPECT_EQ(Code({0xA7, 0x18, second}), Halt::IllegalOpcode);
        EXPECT_EQ(cpu.regs.pc, 0x1001);
        EXPECT_EQ(cpu.regs.sp, 0x3000);
        EXPECT_FALSE(cpu.lastWasInstruction);
    }
    // LEA with an indirect postbyte and BSET with one trap too.
    EXPECT_EQ(Code({0x1A, 0xE7}), Halt::IllegalOpcode);
    EXPECT_EQ(Code({0x0C, 0xE3, 0x00, 0x10, 0x01}), Halt::IllegalOpcode);
}

} // namespace
