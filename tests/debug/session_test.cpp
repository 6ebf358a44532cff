// The debugger session end to end: programs assembled with -g by the real
// assemblers, run on the simulator's boards through the session's worker
// thread, compared with the real qorbsim where both can say the same.

#include "session.h"

#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>

#include "board/board.h"

#include "debug_testing.h"
#include "session_testing.h"

namespace qorb::debug {
namespace {

using testing::Assemble;
using testing::LineOf;
using testing::LinePort;
using testing::Quote;
using testing::Run;
using testing::TempFolder;

std::unique_ptr<Session> OpenOrFail(const std::string& object, const std::string& board = "flat") {
    SessionOptions o;
    o.object = object;
    o.board = board;
    std::string error;
    auto s = Session::Open(o, error);
    EXPECT_TRUE(s) << error;
    return s;
}

// The address of the first byte a line placed.
std::uint16_t AddressOf(const Session& s, int line, unsigned file = 1) {
    const auto a = s.Map().AddressesOf(file, line);
    EXPECT_FALSE(a.empty()) << "line " << line;
    return a.empty() ? 0 : static_cast<std::uint16_t>(a.front());
}

// What qorbsim --stop-at ADDR --regs prints for the same program and board.
std::string QorbsimRegs(const std::string& object, const std::string& cpu, const std::string& board,
                        std::uint16_t stopAt) {
    char addr[8];
    std::snprintf(addr, sizeof addr, "$%04X", stopAt);
    std::string out;
    const int rc = Run(std::string(QORBSIM_PATH) + " " + cpu + " --board " + board + " --stop-at '" + addr +
                           "' --regs " + Quote(object),
                       out);
    EXPECT_EQ(rc, 0) << out;
    return out;
}

std::string Format(const Snapshot& s) {
    char buf[160];
    const auto& r = s.regs;
    std::snprintf(buf, sizeof buf, "PC=%04X A=%02X B=%02X X=%04X Y=%04X SP=%04X CCR=%02X CYCLES=%llu\n", r.pc,
                  r.a, r.b, r.x, r.y, r.sp, r.ccr, static_cast<unsigned long long>(s.cycles));
    return buf;
}

// ---------------------------------------------------------------------------

constexpr const char* kRecursive = R"(        org     $1000
start   lds     #$3F00
        ldaa    #4
        jsr     fact
        staa    result
done    bra     done
; counts down A, calling itself until A is 0
fact    deca
        beq     leaf
        jsr     fact
        inc     calls
leaf    rts
result  rmb     1
calls   rmb     1
)";

TEST(Session, StepOverARecursiveCallComesBackToTheSameLevel) {
    TempFolder dir;
    auto s = OpenOrFail(Assemble(dir, "rec.asm", kRecursive));
    ASSERT_TRUE(s);
    // Into the recursion: the breakpoint on the inner jsr, hit twice.
    s->SetLineBreakpoints(dir / "rec.asm", {10});
    ASSERT_TRUE(s->Continue());
    WAIT_STOP(*s);
    ASSERT_TRUE(s->Continue());
    WAIT_STOP(*s);
    Snapshot at = s->GetSnapshot();
    EXPECT_EQ(at.stop.reason, StopReason::Breakpoint);
    EXPECT_EQ(LineOf(at), 10);
    EXPECT_EQ(at.regs.sp, 0x3F00 - 4); // two calls deep
    s->SetLineBreakpoints(dir / "rec.asm", {});
    // The deeper calls return through the same address first; the step
    // ends only when this level's call has come back.
    ASSERT_TRUE(s->StepOver());
    WAIT_STOP(*s);
    Snapshot after = s->GetSnapshot();
    EXPECT_EQ(after.stop.reason, StopReason::Step);
    EXPECT_EQ(LineOf(after), 11);
    EXPECT_EQ(after.regs.sp, at.regs.sp);
    std::vector<std::uint8_t> calls;
    ASSERT_TRUE(s->ReadMemory(AddressOf(*s, 14), 1, calls));
    EXPECT_EQ(calls[0], 1); // the deepest caller's inc has run, not this one's
    EXPECT_GT(after.cyclesSinceStop, 0u);
    EXPECT_EQ(after.cycles, at.cycles + after.cyclesSinceStop);

    // Step Out from here: back in the caller one level up, after its jsr.
    ASSERT_TRUE(s->StepOut());
    WAIT_STOP(*s);
    after = s->GetSnapshot();
    EXPECT_EQ(LineOf(after), 11);
    EXPECT_EQ(after.regs.sp, at.regs.sp + 2);
}

TEST(Session, StepOverTheTopLevelCallRunsItWhole) {
    TempFolder dir;
    auto s = OpenOrFail(Assemble(dir, "rec.asm", kRecursive));
    ASSERT_TRUE(s);
    ASSERT_TRUE(s->RunToLine(dir / "rec.asm", 4));
    WAIT_STOP(*s);
    EXPECT_EQ(s->GetSnapshot().stop.reason, StopReason::RunToCursor);
    ASSERT_TRUE(s->StepOver());
    WAIT_STOP(*s);
    const Snapshot snap = s->GetSnapshot();
    EXPECT_EQ(LineOf(snap), 5);
    EXPECT_EQ(snap.regs.sp, 0x3F00);
    std::vector<std::uint8_t> calls;
    ASSERT_TRUE(s->ReadMemory(AddressOf(*s, 14), 1, calls));
    EXPECT_EQ(calls[0], 3);
}

TEST(Session, BreakpointInTheCalledRoutineEndsAStepOver) {
    TempFolder dir;
    auto s = OpenOrFail(Assemble(dir, "rec.asm", kRecursive));
    ASSERT_TRUE(s);
    ASSERT_TRUE(s->RunToLine(dir / "rec.asm", 4));
    WAIT_STOP(*s);
    s->SetLineBreakpoints(dir / "rec.asm", {11});
    ASSERT_TRUE(s->StepOver());
    WAIT_STOP(*s);
    const Snapshot snap = s->GetSnapshot();
    EXPECT_EQ(snap.stop.reason, StopReason::Breakpoint);
    EXPECT_EQ(LineOf(snap), 11);
    EXPECT_EQ(snap.regs.sp, 0x3F00 - 6); // in the deepest call that returned
}

TEST(Session, RunToCursorAndLinesWithoutCode) {
    TempFolder dir;
    auto s = OpenOrFail(Assemble(dir, "rec.asm", kRecursive));
    ASSERT_TRUE(s);
    EXPECT_EQ(s->GetSnapshot().stop.reason, StopReason::Loaded);
    // Line 7 is a comment: the run ends at the next line with code.
    ASSERT_TRUE(s->RunToLine(dir / "rec.asm", 7));
    WAIT_STOP(*s);
    Snapshot snap = s->GetSnapshot();
    EXPECT_EQ(snap.stop.reason, StopReason::RunToCursor);
    EXPECT_EQ(snap.regs.pc, AddressOf(*s, 8));
    EXPECT_EQ(snap.regs.a, 4);
    EXPECT_NE(snap.stop.message.find("rec.asm:8"), std::string::npos) << snap.stop.message;
    // A breakpoint on the way wins over the cursor.
    const auto placed = s->SetLineBreakpoints(dir / "rec.asm", {9});
    ASSERT_EQ(placed.size(), 1u);
    EXPECT_EQ(placed[0].resolvedLine, 9);
    ASSERT_TRUE(s->RunToLine(dir / "rec.asm", 6));
    WAIT_STOP(*s);
    snap = s->GetSnapshot();
    EXPECT_EQ(snap.stop.reason, StopReason::Breakpoint);
    EXPECT_EQ(LineOf(snap), 9);
    std::string error;
    EXPECT_FALSE(s->RunToLine(dir / "rec.asm", 15, &error));
    EXPECT_NE(error.find("no code at or after line 15"), std::string::npos) << error;
    EXPECT_FALSE(s->RunToLine(dir / "other.asm", 3, &error));
    EXPECT_NE(error.find("not part of this program"), std::string::npos) << error;
    // The comment line's breakpoint lands on line 8.
    const auto moved = s->SetLineBreakpoints(dir / "rec.asm", {7, 13 + 5});
    EXPECT_EQ(moved[0].resolvedLine, 8);
    EXPECT_FALSE(moved[1].resolvedLine);
}

constexpr const char* kMacros = R"(bump    macro
        inca
        incb
        endm
        org     $1000
start   clra
        clrb
        bump
        bump
        nop
        bump
        bra     *
)";

TEST(Session, BreakpointInAMacroBodyStopsInEachExpansion) {
    TempFolder dir;
    auto s = OpenOrFail(Assemble(dir, "mac.asm", kMacros));
    ASSERT_TRUE(s);
    const auto placed = s->SetLineBreakpoints(dir / "mac.asm", {3});
    ASSERT_EQ(placed.at(0).addresses.size(), 3u);
    const int calls[] = {8, 9, 11};
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(s->Continue());
        WAIT_STOP(*s);
        const Snapshot snap = s->GetSnapshot();
        EXPECT_EQ(snap.stop.reason, StopReason::Breakpoint);
        ASSERT_EQ(snap.stop.chain.size(), 2u);
        EXPECT_EQ(snap.stop.chain[0], (SourcePlace{1, 3}));
        EXPECT_EQ(snap.stop.chain[1], (SourcePlace{1, calls[i]}));
        EXPECT_EQ(snap.stop.level, 1u); // the body line is what the editor shows
        EXPECT_EQ(snap.regs.b, i);
        EXPECT_EQ(snap.regs.a, i + 1);
    }
}

TEST(Session, SteppingThroughMacroCallLines) {
    TempFolder dir;
    auto s = OpenOrFail(Assemble(dir, "mac.asm", kMacros));
    ASSERT_TRUE(s);
    ASSERT_TRUE(s->RunToLine(dir / "mac.asm", 7));
    WAIT_STOP(*s);
    // Onto the call line first, then into the body without running.
    ASSERT_TRUE(s->StepInto());
    WAIT_STOP(*s);
    EXPECT_EQ(LineOf(s->GetSnapshot()), 8);
    EXPECT_EQ(s->GetSnapshot().stop.level, 0u);
    const std::uint64_t cycles = s->GetSnapshot().cycles;
    ASSERT_TRUE(s->StepInto());
    WAIT_STOP(*s);
    EXPECT_EQ(LineOf(s->GetSnapshot()), 2);
    EXPECT_EQ(s->GetSnapshot().cycles, cycles);
    ASSERT_TRUE(s->StepInto());
    WAIT_STOP(*s);
    EXPECT_EQ(LineOf(s->GetSnapshot()), 3); // the next body line
    ASSERT_TRUE(s->StepInto());
    WAIT_STOP(*s);
    EXPECT_EQ(LineOf(s->GetSnapshot()), 9); // out of the body: the next call line
    // Over a call line: the whole expansion.
    ASSERT_TRUE(s->StepOver());
    WAIT_STOP(*s);
    Snapshot snap = s->GetSnapshot();
    EXPECT_EQ(LineOf(snap), 10);
    EXPECT_EQ(snap.regs.a, 2);
    EXPECT_EQ(snap.regs.b, 2);
    ASSERT_TRUE(s->StepOver());
    WAIT_STOP(*s);
    EXPECT_EQ(LineOf(s->GetSnapshot()), 11);
    // Into it, one step in the body, then out: the rest of the expansion.
    ASSERT_TRUE(s->StepInto());
    WAIT_STOP(*s);
    EXPECT_EQ(LineOf(s->GetSnapshot()), 2);
    ASSERT_TRUE(s->StepOver());
    WAIT_STOP(*s);
    snap = s->GetSnapshot();
    EXPECT_EQ(LineOf(snap), 3);
    EXPECT_EQ(snap.stop.chain.back(), (SourcePlace{1, 11}));
    EXPECT_EQ(snap.regs.a, 3);
    EXPECT_EQ(snap.regs.b, 2);
    ASSERT_TRUE(s->StepOut());
    WAIT_STOP(*s);
    snap = s->GetSnapshot();
    EXPECT_EQ(LineOf(snap), 12);
    EXPECT_EQ(snap.regs.b, 3);
    // A line that branches to itself: one step, same line.
    ASSERT_TRUE(s->StepOver());
    WAIT_STOP(*s);
    EXPECT_EQ(LineOf(s->GetSnapshot()), 12);
    EXPECT_GT(s->GetSnapshot().cyclesSinceStop, 0u);
}

TEST(Session, PauseStopsARunawayLoop) {
    TempFolder dir;
    const std::string object =
        Assemble(dir, "spin.asm", "        org $1000\nstart   ldx #0\nloop    inx\n        bra loop\n");
    for (const char* board : {"flat", "hc912b32"}) {
        SessionOptions o;
        o.object = object;
        o.board = board;
        std::string error;
        if (std::string(board) == "hc912b32") {
            // On this board RAM is at $0800: the same loop there.
            const std::string moved = Assemble(
                dir, "spin912.asm", "        org $0800\nstart   ldx #0\nloop    inx\n        bra loop\n");
            o.object = moved;
        }
        auto s = Session::Open(o, error);
        ASSERT_TRUE(s) << error;
        std::atomic<int> callbacks{0};
        s->SetStopCallback([&] { ++callbacks; });
        ASSERT_TRUE(s->Continue());
        // Live values while it runs: the snapshot moves on.
        Snapshot snap;
        for (int i = 0; i < 2000; ++i) {
            snap = s->GetSnapshot();
            if (snap.running && snap.cycles > 0) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        EXPECT_TRUE(snap.running);
        EXPECT_GT(snap.cycles, 0u);
        EXPECT_TRUE(s->Running());
        EXPECT_FALSE(s->StepInto(&error));
        EXPECT_EQ(error, "the program is running");
        sim::Registers regs;
        EXPECT_FALSE(s->GetRegisters(regs));
        s->Pause();
        WAIT_STOP(*s);
        EXPECT_FALSE(s->Running());
        snap = s->GetSnapshot();
        EXPECT_FALSE(snap.running);
        EXPECT_EQ(snap.stop.reason, StopReason::Paused);
        // The callback runs on the worker after the stop is visible.
        for (int i = 0; i < 2000 && callbacks.load() < 1; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        EXPECT_EQ(callbacks.load(), 1);
        EXPECT_GE(LineOf(snap), 3) << board;
        ASSERT_TRUE(s->GetRegisters(regs));
        EXPECT_EQ(regs, snap.regs);
        // And it goes on from there.
        ASSERT_TRUE(s->StepInto());
        WAIT_STOP(*s);
        for (int i = 0; i < 2000 && callbacks.load() < 2; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        EXPECT_EQ(callbacks.load(), 2);
    }
}

TEST(Session, BreakpointOnTheFirstInstructionStopsTheFirstRun) {
    TempFolder dir;
    auto s = OpenOrFail(
        Assemble(dir, "spin.asm", "        org $1000\nstart   ldx #0\nloop    inx\n        bra loop\n"));
    ASSERT_TRUE(s);
    EXPECT_NE(s->GetSnapshot().stop.message.find("Loaded at $1000, spin.asm:2"), std::string::npos);
    s->SetLineBreakpoints(dir / "spin.asm", {1, 3});
    ASSERT_TRUE(s->Continue());
    WAIT_STOP(*s);
    Snapshot snap = s->GetSnapshot();
    EXPECT_EQ(snap.stop.reason, StopReason::Breakpoint);
    EXPECT_EQ(LineOf(snap), 2);
    EXPECT_EQ(snap.cycles, 0u);
    ASSERT_TRUE(s->Continue());
    WAIT_STOP(*s);
    EXPECT_EQ(LineOf(s->GetSnapshot()), 3);
    ASSERT_TRUE(s->Continue());
    WAIT_STOP(*s);
    snap = s->GetSnapshot();
    EXPECT_EQ(LineOf(snap), 3);
    EXPECT_EQ(snap.regs.x, 1);
}

TEST(Session, BreakpointSetWhileRunningIsHit) {
    TempFolder dir;
    auto s = OpenOrFail(
        Assemble(dir, "spin.asm", "        org $1000\nstart   ldx #0\nloop    inx\n        bra loop\n"));
    ASSERT_TRUE(s);
    ASSERT_TRUE(s->Continue());
    s->SetLineBreakpoints(dir / "spin.asm", {4});
    WAIT_STOP(*s);
    const Snapshot snap = s->GetSnapshot();
    EXPECT_EQ(snap.stop.reason, StopReason::Breakpoint);
    EXPECT_EQ(LineOf(snap), 4);
}

TEST(Session, RunawayProgramsStopWithTheirLine) {
    TempFolder dir;
    struct Case {
        const char* source;
        StopReason reason;
        const char* message;
    };
    const Case cases[] = {
        {"        org $1000\nstart   ldaa #1\n        fcb $18,$FF\n", StopReason::IllegalOpcode,
         "Illegal opcode $18 $FF at $1002, prog.asm:3"},
        // STOP with the S bit clear and no interrupt source on the flat board.
        {"        org $1000\nstart   andcc #$7F\n        stop\n        nop\n", StopReason::Stopped,
         "prog.asm:3"},
        {"        org $1000\nstart   bgnd\n", StopReason::Background, "bgnd at $1000, prog.asm:2"},
        {"        org $1000\nstart   lds #$3F00\n        wai\n        nop\n", StopReason::Stopped,
         "no interrupt can wake it, at $1003, prog.asm:3"},
    };
    for (const Case& c : cases) {
        auto s = OpenOrFail(Assemble(dir, "prog.asm", c.source));
        ASSERT_TRUE(s);
        ASSERT_TRUE(s->Continue());
        WAIT_STOP(*s);
        const Snapshot snap = s->GetSnapshot();
        EXPECT_EQ(snap.stop.reason, c.reason) << c.source;
        EXPECT_NE(snap.stop.message.find(c.message), std::string::npos) << snap.stop.message;
    }
    // The cycle limit.
    SessionOptions o;
    o.object = Assemble(dir, "prog.asm", "        org $1000\nstart   bra start\n");
    o.maxCycles = 999;
    std::string error;
    auto s = Session::Open(o, error);
    ASSERT_TRUE(s) << error;
    ASSERT_TRUE(s->Continue());
    WAIT_STOP(*s);
    EXPECT_EQ(s->GetSnapshot().stop.reason, StopReason::CycleLimit);
    EXPECT_GE(s->GetSnapshot().cycles, 999u);
    EXPECT_NE(s->GetSnapshot().stop.message.find("Cycle limit of 999"), std::string::npos);
}

TEST(Session, UnmappedAccessStopsAtTheInstructionEachTime) {
    TempFolder dir;
    dir.Write("lab.ini", "[board]\nname = lab\ncpu = 68hc11\nunmapped = stop\n[memory]\nram = $0000-$7FFF\n"
                         "rom = $E000-$FFFF\n");
    const std::string object = Assemble(dir, "fault.asm",
                                        "        org $E000\nstart   lds #$7FFF\n        ldaa $9000\n"
                                        "        nop\n        staa $9001\n        bra *\n",
                                        true);
    auto s = OpenOrFail(object, dir / "lab.ini");
    ASSERT_TRUE(s);
    ASSERT_TRUE(s->Continue());
    WAIT_STOP(*s);
    Snapshot snap = s->GetSnapshot();
    EXPECT_EQ(snap.stop.reason, StopReason::AccessFault);
    EXPECT_NE(snap.stop.message.find("Unmapped access at $9000 by the instruction at $E003, fault.asm:3"),
              std::string::npos)
        << snap.stop.message;
    EXPECT_EQ(LineOf(snap), 3);
    // Going on: the next access stops again.
    ASSERT_TRUE(s->Continue());
    WAIT_STOP(*s);
    snap = s->GetSnapshot();
    EXPECT_EQ(snap.stop.reason, StopReason::AccessFault);
    EXPECT_NE(snap.stop.message.find("$9001"), std::string::npos) << snap.stop.message;
    EXPECT_EQ(LineOf(snap), 5);
}

// The registers and cycle count at a breakpoint and after three steps,
// against qorbsim stopping at the same addresses.
TEST(Session, RegistersMatchQorbsim) {
    TempFolder dir;
    {
        const std::string object = Assemble(dir, "rec.asm", kRecursive);
        auto s = OpenOrFail(object);
        ASSERT_TRUE(s);
        s->SetLineBreakpoints(dir / "rec.asm", {3});
        ASSERT_TRUE(s->Continue());
        WAIT_STOP(*s);
        EXPECT_EQ(Format(s->GetSnapshot()), QorbsimRegs(object, "-m68hc12", "flat", AddressOf(*s, 3)));
        s->ClearBreakpoints();
        for (int i = 0; i < 3; ++i) {
            ASSERT_TRUE(s->StepInto());
            WAIT_STOP(*s);
        }
        const Snapshot snap = s->GetSnapshot();
        EXPECT_EQ(snap.regs.pc, AddressOf(*s, 9));
        EXPECT_EQ(Format(snap), QorbsimRegs(object, "-m68hc12", "flat", snap.regs.pc));
    }
    {
        // A 68HC11 board with a running timer: the loop reads its counter.
        const std::string object = Assemble(dir, "e9.asm", R"(        org     $B600
start   lds     #$01FF
        clra
        clrb
loop    addd    #3
        std     $10
        ldx     $100E
        cpd     #300
        bne     loop
        stx     $12
        jsr     sub
        bra     *
sub     inc     $14
        rts
)",
                                            true);
        auto s = OpenOrFail(object, "hc11e9");
        ASSERT_TRUE(s);
        s->SetAddressBreakpoint(AddressOf(*s, 10), true);
        ASSERT_TRUE(s->Continue());
        WAIT_STOP(*s);
        EXPECT_EQ(Format(s->GetSnapshot()), QorbsimRegs(object, "-m68hc11", "hc11e9", AddressOf(*s, 10)));
        s->SetAddressBreakpoint(AddressOf(*s, 10), false);
        for (int i = 0; i < 3; ++i) {
            ASSERT_TRUE(s->StepInto());
            WAIT_STOP(*s);
        }
        const Snapshot snap = s->GetSnapshot();
        EXPECT_EQ(snap.regs.pc, AddressOf(*s, 14));
        EXPECT_EQ(Format(snap), QorbsimRegs(object, "-m68hc11", "hc11e9", snap.regs.pc));
    }
}

TEST(Session, RegistersMemoryAndWatches) {
    TempFolder dir;
    auto s = OpenOrFail(Assemble(dir, "w.asm", R"(        org     $1000
start   ldaa    #$12
        staa    value
        bra     *
value   fcb     0
word    fdb     $BEEF
)"));
    ASSERT_TRUE(s);
    ASSERT_TRUE(s->RunToLine(dir / "w.asm", 3));
    WAIT_STOP(*s);
    std::string error;
    // A value typed into A reaches memory with the next step.
    ASSERT_TRUE(s->SetRegister("a", 0x85, error)) << error;
    EXPECT_EQ(s->GetSnapshot().regs.a, 0x85);
    ASSERT_TRUE(s->StepOver());
    WAIT_STOP(*s);
    s->SetSnapshotWindow(0x1007, 2);
    EXPECT_EQ(s->GetSnapshot().window, (std::vector<std::uint8_t>{0x85, 0xBE}));
    WatchValue w = s->Watch("value");
    ASSERT_TRUE(w.ok) << w.error;
    EXPECT_EQ(w.value, 0x1007);
    EXPECT_EQ(w.byteText, "$85");
    EXPECT_EQ(w.decimalText, "133 (-123)");
    EXPECT_EQ(w.binaryText, "%10000101");
    w = s->Watch("WORD");
    ASSERT_TRUE(w.ok) << w.error;
    EXPECT_EQ(w.wordText, "$BEEF");
    w = s->Watch("value+2");
    ASSERT_TRUE(w.ok) << w.error;
    EXPECT_EQ(w.byteText, "$EF");
    w = s->Watch("-1");
    ASSERT_TRUE(w.ok);
    EXPECT_FALSE(w.isAddress);
    EXPECT_EQ(w.decimalText, "-1");
    w = s->Watch("nothing*2");
    EXPECT_FALSE(w.ok);
    EXPECT_NE(w.error.find("unknown symbol 'nothing'"), std::string::npos);

    // Memory written back, registers by every name, and what does not fit.
    ASSERT_TRUE(s->WriteMemory(0x1007, {0x42, 0x43}, error)) << error;
    std::vector<std::uint8_t> bytes;
    ASSERT_TRUE(s->ReadMemory(0x1007, 3, bytes));
    EXPECT_EQ(bytes, (std::vector<std::uint8_t>{0x42, 0x43, 0xEF}));
    EXPECT_FALSE(s->WriteMemory(0xFFFF, {1, 2}, error));
    ASSERT_TRUE(s->SetRegister("D", 0x1234, error));
    ASSERT_TRUE(s->SetRegister("X", 0xFFFF, error));
    ASSERT_TRUE(s->SetRegister("ccr", 0x0F, error));
    sim::Registers r;
    ASSERT_TRUE(s->GetRegisters(r));
    EXPECT_EQ(r.a, 0x12);
    EXPECT_EQ(r.b, 0x34);
    EXPECT_EQ(r.x, 0xFFFF);
    EXPECT_EQ(r.ccr, 0x0F);
    EXPECT_FALSE(s->SetRegister("A", 0x100, error));
    EXPECT_NE(error.find("8 bits"), std::string::npos);
    EXPECT_FALSE(s->SetRegister("Q", 1, error));
    EXPECT_NE(error.find("unknown register"), std::string::npos);
    // The PC moved by hand moves the shown line.
    ASSERT_TRUE(s->SetRegister("pc", 0x1000, error));
    EXPECT_EQ(LineOf(s->GetSnapshot()), 2);

    const auto lines = s->Disassemble(0x1000, 3);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].text, "ldaa #$12");
    EXPECT_EQ(lines[0].source, "w.asm:2");
    EXPECT_EQ(lines[1].address, 0x1002);
    EXPECT_EQ(lines[1].text, "staa $1007");
    EXPECT_EQ(lines[2].text.substr(0, 3), "bra");
}

TEST(Session, DeviceRegistersAreNotTouchedByTheDebugger) {
    TempFolder dir;
    const std::string object =
        Assemble(dir, "d.asm", "        org $B600\nstart   nop\n        bra *\n", true);
    auto s = OpenOrFail(object, "hc11e9");
    ASSERT_TRUE(s);
    std::vector<std::uint8_t> before, after;
    // The SCI status register: reading it is the first half of clearing
    // its flags on the chip; the debugger's read must not count.
    ASSERT_TRUE(s->ReadMemory(0x102E, 2, before));
    ASSERT_TRUE(s->ReadMemory(0x102E, 2, after));
    EXPECT_EQ(before, after);
    std::string error;
    EXPECT_FALSE(s->WriteMemory(0x0100, {0x5A}, error) == false) << error; // RAM takes it
}

TEST(Session, SteppingRunsInterruptHandlersThrough) {
    TempFolder dir;
    // The real-time interrupt counts ticks while the main loop waits for 3.
    const std::string object = Assemble(dir, "rti.asm", R"(        org     $B600
start   lds     #$01FF
        clr     $0000
        ldaa    #$40
        staa    $1025
        staa    $1024
        cli
loop    ldab    $0000
        cmpb    #3
        blo     loop
        bra     *
isr     inc     $0000
        ldaa    #$40
        staa    $1025
        rti
        org     $FFF0
        fdb     isr
)",
                                        true);
    auto s = OpenOrFail(object, "hc11e9");
    ASSERT_TRUE(s);
    ASSERT_TRUE(s->RunToLine(dir / "rti.asm", 8));
    WAIT_STOP(*s);
    // Interrupts come every 8192 cycles; hundreds of steps pass one.
    int line = 0;
    for (int i = 0; i < 20000 && line != 11; ++i) {
        ASSERT_TRUE(s->StepOver());
        WAIT_STOP(*s);
        line = LineOf(s->GetSnapshot());
        ASSERT_TRUE(line >= 8 && line <= 11) << "step " << i << " stopped at line " << line;
        ASSERT_EQ(s->GetSnapshot().regs.sp, 0x01FF);
    }
    EXPECT_EQ(line, 11);
    // A breakpoint in the handler stops; Step Out returns to the loop.
    s->SetLineBreakpoints(dir / "rti.asm", {13});
    ASSERT_TRUE(s->Continue());
    WAIT_STOP(*s);
    EXPECT_EQ(LineOf(s->GetSnapshot()), 13);
    s->ClearBreakpoints();
    ASSERT_TRUE(s->StepOut());
    WAIT_STOP(*s);
    EXPECT_EQ(LineOf(s->GetSnapshot()), 11);
    EXPECT_EQ(s->GetSnapshot().regs.sp, 0x01FF);
}

TEST(Session, SerialLineWhileDebugging) {
    TempFolder dir;
    // Prints OK, then echoes one typed character plus one.
    const std::string object = Assemble(dir, "sci.asm", R"(        org     $B600
start   lds     #$01FF
        ldaa    #$30
        staa    $102B
        ldaa    #$0C
        staa    $102D
        ldx     #text
next    ldaa    0,x
        beq     echo
wait1   ldab    $102E
        bitb    #$80
        beq     wait1
        staa    $102F
        inx
        bra     next
echo    ldab    $102E
        bitb    #$20
        beq     echo
        ldaa    $102F
        inca
wait2   ldab    $102E
        bitb    #$80
        beq     wait2
        staa    $102F
done    bra     done
text    fcc     "OK"
        fcb     0
)",
                                        true);
    SessionOptions o;
    o.object = object;
    o.board = "hc11e9";
    o.realTime = true;
    std::string error;
    auto s = Session::Open(o, error);
    ASSERT_TRUE(s) << error;
    LinePort port;
    ASSERT_TRUE(s->AttachSerial(&port, error)) << error;
    s->SetLineBreakpoints(dir / "sci.asm", {25});
    ASSERT_TRUE(s->Continue());
    for (int i = 0; i < 4000 && port.Output().size() < 2; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(port.Output(), "OK");
    EXPECT_TRUE(s->Running()); // waiting for a key
    port.Type("x");
    WAIT_STOP(*s);
    EXPECT_EQ(s->GetSnapshot().stop.reason, StopReason::Breakpoint);
    s->SetLineBreakpoints(dir / "sci.asm", {});
    // The last character leaves the shift register while the program runs on.
    ASSERT_TRUE(s->Continue());
    for (int i = 0; i < 4000 && port.Output().size() < 3; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    s->Pause();
    WAIT_STOP(*s);
    EXPECT_EQ(port.Output(), "OKy");

    // The flat board has no serial interface.
    auto flat = OpenOrFail(Assemble(dir, "f.asm", "        org $1000\nstart   nop\n"));
    ASSERT_TRUE(flat);
    EXPECT_FALSE(flat->AttachSerial(&port, error));
    EXPECT_NE(error.find("no serial interface"), std::string::npos) << error;
}

TEST(Session, OpenRefusesWhatDoesNotFit) {
    TempFolder dir;
    const std::string a = Assemble(dir, "a.asm", "        org $1000\nstart   nop\n        nop\n");
    const std::string b = Assemble(dir, "b.asm", "        org $2000\nstart   nop\n");
    SessionOptions o;
    std::string error;
    o.object = a;
    o.map = std::filesystem::path(b).replace_extension(".dbg").string();
    EXPECT_FALSE(Session::Open(o, error));
    EXPECT_NE(error.find("does not belong to"), std::string::npos) << error;
    o.map = dir / "none.dbg";
    EXPECT_FALSE(Session::Open(o, error));
    EXPECT_NE(error.find("none.dbg"), std::string::npos) << error;
    o.map.clear();
    o.board = "hc11e9";
    EXPECT_FALSE(Session::Open(o, error));
    EXPECT_NE(error.find("board hc11e9 has a 68HC11"), std::string::npos) << error;
    o.board = "nosuchboard";
    EXPECT_FALSE(Session::Open(o, error));
    EXPECT_NE(error.find("unknown board 'nosuchboard'"), std::string::npos) << error;
    o.board = "flat";
    o.object = dir / "missing.s19";
    o.map = std::filesystem::path(a).replace_extension(".dbg").string();
    EXPECT_FALSE(Session::Open(o, error));
    EXPECT_NE(error.find("missing.s19"), std::string::npos) << error;
}

} // namespace
} // namespace qorb::debug
