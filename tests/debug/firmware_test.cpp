// A program debugged on a board with firmware: the mini11 boots its monitor
// with the program already in memory, the monitor's J command runs it into
// its breakpoints, its rts goes back to the monitor's prompt, and stepping
// through the monitor (no lines there) runs until the program's source.

#include "session.h"

#include <chrono>
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
using testing::TempFolder;

// Prints through the monitor's output routine (OUTCH, $B652 in its
// listing: the character in A, X at the registers) and returns with rts.
constexpr const char* kGreet = R"(outch   equ     $B652
        org     $2000
start   ldy     #msg
next    ldaa    0,y
        beq     done
        jsr     outch
        iny
        bra     next
done    rts
msg     fcc     "Greetings"
        fcb     $0D,$0A,0
)";

#ifdef QORB_HAVE_MINI11_MONITOR
#define NEED_MONITOR() (void)0
#else
#define NEED_MONITOR() GTEST_SKIP() << "this build has no mini11 monitor"
#endif

std::unique_ptr<Session> OpenMini11(const std::string& object, std::string& error, bool firmware = true) {
    SessionOptions o;
    o.object = object;
    o.board = "mini11";
    o.realTime = true;
    o.firmware = firmware;
    return Session::Open(o, error);
}

TEST(Firmware, TheMonitorStartsAndJRunsTheProgramToItsBreakpoint) {
    NEED_MONITOR();
    TempFolder dir;
    const std::string object = Assemble(dir, "greet.asm", kGreet, true);
    std::string error;
    auto s = OpenMini11(object, error);
    ASSERT_TRUE(s) << error;
    const Snapshot loaded = s->GetSnapshot();
    EXPECT_EQ(loaded.regs.pc, 0xB600);
    EXPECT_TRUE(loaded.stop.chain.empty());
    EXPECT_NE(loaded.stop.message.find("Loaded at $2000"), std::string::npos) << loaded.stop.message;
    EXPECT_NE(loaded.stop.message.find("monitor starts at $B600: run the program with its command"),
              std::string::npos)
        << loaded.stop.message;
    std::vector<std::uint8_t> mem;
    ASSERT_TRUE(s->ReadMemory(0x2000, 2, mem));
    EXPECT_EQ(mem, (std::vector<std::uint8_t>{0x18, 0xCE})); // ldy #: the program is in memory
    ASSERT_TRUE(s->ReadMemory(0xB652, 1, mem));
    EXPECT_EQ(mem[0], 0x1F); // brclr: the monitor's OUTCH

    LinePort port;
    ASSERT_TRUE(s->AttachSerial(&port, error)) << error;
    s->SetLineBreakpoints(dir / "greet.asm", {6});
    ASSERT_TRUE(s->Continue());
    ASSERT_TRUE(port.WaitFor("KBUG->")) << port.Output();
    EXPECT_TRUE(s->Running()); // the monitor waits for a command
    port.Type("J2000");
    WAIT_STOP(*s);
    Snapshot at = s->GetSnapshot();
    EXPECT_EQ(at.stop.reason, StopReason::Breakpoint);
    EXPECT_EQ(LineOf(at), 6);
    EXPECT_EQ(at.regs.x, 0xF000); // the monitor's X, as OUTCH wants it
    // Step Over the call into the monitor: one character out, back on the
    // next line.
    ASSERT_TRUE(s->StepOver());
    WAIT_STOP(*s);
    EXPECT_EQ(LineOf(s->GetSnapshot()), 7);
    s->SetLineBreakpoints(dir / "greet.asm", {});
    const std::size_t before = port.Output().size();
    ASSERT_TRUE(s->Continue());
    // The rest of the line, then rts back into the monitor and its prompt.
    ASSERT_TRUE(port.WaitFor("reetings\r\n\r\nKBUG->", before)) << port.Output();
    s->Pause();
    WAIT_STOP(*s);
    const Snapshot back = s->GetSnapshot();
    EXPECT_EQ(back.stop.reason, StopReason::Paused);
    EXPECT_TRUE(back.stop.chain.empty());
    EXPECT_GE(back.regs.pc, 0xB600);
    EXPECT_LE(back.regs.pc, 0xB7FF);
}

TEST(Firmware, StepIntoRunsThroughTheMonitorToTheProgramsLines) {
    NEED_MONITOR();
    TempFolder dir;
    const std::string object = Assemble(dir, "greet.asm", kGreet, true);
    std::string error;
    auto s = OpenMini11(object, error);
    ASSERT_TRUE(s) << error;
    LinePort port;
    ASSERT_TRUE(s->AttachSerial(&port, error)) << error;
    // From the reset there is no line: Step Into runs the monitor (it
    // prompts and waits) until J brings the program's first line.
    ASSERT_TRUE(s->StepInto());
    ASSERT_TRUE(port.WaitFor("KBUG->")) << port.Output();
    EXPECT_TRUE(s->Running());
    port.Type("J2000");
    WAIT_STOP(*s);
    Snapshot snap = s->GetSnapshot();
    EXPECT_EQ(snap.stop.reason, StopReason::Step);
    EXPECT_EQ(snap.regs.pc, 0x2000);
    EXPECT_EQ(LineOf(snap), 3);
    // Step Into the jsr to the monitor's OUTCH: no line there, so it runs
    // through and stops on the next line of the program.
    for (const int line : {4, 5, 6, 7}) {
        ASSERT_TRUE(s->StepInto());
        WAIT_STOP(*s);
        EXPECT_EQ(LineOf(s->GetSnapshot()), line);
    }
    // Through the whole string to the rts: Step Into it goes back to the
    // monitor, which prompts and waits; Pause stops it there.
    s->SetLineBreakpoints(dir / "greet.asm", {9});
    ASSERT_TRUE(s->Continue());
    WAIT_STOP(*s);
    EXPECT_EQ(LineOf(s->GetSnapshot()), 9);
    const std::size_t before = port.Output().size();
    ASSERT_TRUE(s->StepInto());
    ASSERT_TRUE(port.WaitFor("KBUG->", before)) << port.Output();
    EXPECT_TRUE(s->Running());
    s->Pause();
    WAIT_STOP(*s);
    snap = s->GetSnapshot();
    EXPECT_EQ(snap.stop.reason, StopReason::Paused);
    EXPECT_TRUE(snap.stop.chain.empty());
    // Step Over in the monitor goes one instruction at a time (here its
    // wait for a key, a brclr onto itself).
    ASSERT_TRUE(s->StepOver());
    WAIT_STOP(*s);
    const Snapshot one = s->GetSnapshot();
    EXPECT_EQ(one.stop.reason, StopReason::Step);
    EXPECT_NE(one.stop.message.find("(no source line)"), std::string::npos) << one.stop.message;
    EXPECT_GT(one.cycles, snap.cycles);
    EXPECT_LT(one.cycles, snap.cycles + 10);
}

// Step Over (and Step Out) of the program's closing rts go back into the
// monitor as Step Into does: they run until the program has a line to show
// again, here when J starts it a second time.
TEST(Firmware, StepOverAndOutOfTheProgramRunOnToItsNextLine) {
    NEED_MONITOR();
    TempFolder dir;
    const std::string object = Assemble(dir, "greet.asm", kGreet, true);
    std::string error;
    auto s = OpenMini11(object, error);
    ASSERT_TRUE(s) << error;
    LinePort port;
    ASSERT_TRUE(s->AttachSerial(&port, error)) << error;
    s->SetLineBreakpoints(dir / "greet.asm", {9});
    ASSERT_TRUE(s->Continue());
    ASSERT_TRUE(port.WaitFor("KBUG->")) << port.Output();
    port.Type("J2000");
    WAIT_STOP(*s);
    EXPECT_EQ(LineOf(s->GetSnapshot()), 9);
    s->SetLineBreakpoints(dir / "greet.asm", {});
    std::size_t before = port.Output().size();
    ASSERT_TRUE(s->StepOver());
    ASSERT_TRUE(port.WaitFor("KBUG->", before)) << port.Output();
    EXPECT_TRUE(s->Running());
    port.Type("J2000");
    WAIT_STOP(*s);
    Snapshot snap = s->GetSnapshot();
    EXPECT_EQ(snap.stop.reason, StopReason::Step);
    EXPECT_EQ(snap.regs.pc, 0x2000);
    EXPECT_EQ(LineOf(snap), 3);
    // Step Out of the program (called by J): the same.
    before = port.Output().size();
    ASSERT_TRUE(s->StepOut());
    ASSERT_TRUE(port.WaitFor("Greetings\r\n\r\nKBUG->", before)) << port.Output();
    EXPECT_TRUE(s->Running());
    port.Type("J2000");
    WAIT_STOP(*s);
    snap = s->GetSnapshot();
    EXPECT_EQ(snap.stop.reason, StopReason::Step);
    EXPECT_EQ(LineOf(snap), 3);
}

TEST(Firmware, OverlapAndLeavingTheFirmwareOut) {
    NEED_MONITOR();
    TempFolder dir;
    // Over the monitor's first byte: refused, naming the address.
    const std::string over = Assemble(dir, "over.asm", "        org $B5FF\nstart   fcb 1,2\n", true);
    std::string error;
    EXPECT_FALSE(OpenMini11(over, error));
    EXPECT_NE(error.find("over.s19: data at $B600 overlaps the board's firmware ("), std::string::npos)
        << error;
    // Without the firmware it is an ordinary program, started at its own
    // address.
    auto s = OpenMini11(over, error, false);
    ASSERT_TRUE(s) << error;
    EXPECT_EQ(s->GetSnapshot().regs.pc, 0xB5FF);
    EXPECT_EQ(s->GetSnapshot().stop.message.find("monitor"), std::string::npos);

    // A board file whose firmware is missing: the place looked in.
    dir.Write("b.board", "[board]\ncpu = 68hc11\nfirmware = fw/none.s19\n[memory]\nram = $0000-$FFFF\n");
    SessionOptions o;
    o.object = Assemble(dir, "p.asm", "        org $1000\nstart   nop\n", true);
    o.board = dir / "b.board";
    EXPECT_FALSE(Session::Open(o, error));
    EXPECT_NE(error.find("its firmware is missing: looked in " + (dir / "fw/none.s19")), std::string::npos)
        << error;
}

} // namespace
} // namespace qorb::debug
