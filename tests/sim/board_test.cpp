// The boards' devices against the register descriptions of the 68HC11 and
// 68HC12 reference manuals: SCI flags, clearing sequences and frame timing,
// the timer's prescaler, output compares and overflow, the real-time
// interrupt's period, INIT and the time-protected registers, and the
// board's answer to unmapped accesses and writes to ROM. Times are E-clock
// cycles of the simulation (no wall clock).

#include <gtest/gtest.h>

#include <deque>
#include <sstream>
#include <string>

#include "board/board.h"
#include "board/firmware.h"
#include "core/machine.h"

using namespace qorb::sim;

namespace {

class FakePort : public SerialPort {
public:
    std::deque<std::uint8_t> in;
    std::string out;
    bool full = false;
    bool Available() override { return !in.empty(); }
    std::uint8_t Take() override {
        const std::uint8_t b = in.front();
        in.pop_front();
        return b;
    }
    bool Put(std::uint8_t b) override {
        if (full) return false;
        out.push_back(static_cast<char>(b));
        return true;
    }
};

// A board whose CPU spins on a branch to itself (3 E cycles on the 68HC11,
// 3 on the CPU12) in RAM, while the test plays the program's part by
// reading and writing registers between runs.
struct Rig {
    explicit Rig(const std::string& name, std::uint16_t loop)
        : profile(*BuiltinBoard(name)), m(*profile.cpu), board(profile, m, diag) {
        board.SetSerial(&port);
        m.GetBus().Poke(loop, 0x20);
        m.GetBus().Poke(static_cast<std::uint16_t>(loop + 1), 0xFE);
        m.GetCpu().regs.pc = loop;
    }
    std::uint64_t Now() { return m.GetCpu().cycles; }
    void RunTo(std::uint64_t cycle) { m.Run({cycle, false, false}); }
    std::uint8_t R(std::uint16_t a) { return m.GetBus().Read(a); }
    void W(std::uint16_t a, std::uint8_t v) { m.GetBus().Write(a, v); }

    BoardProfile profile;
    Machine m;
    std::ostringstream diag;
    Board board;
    FakePort port;
};

// 68HC11 registers at $1000.
constexpr std::uint16_t BAUD = 0x102B, SCCR1 = 0x102C, SCCR2 = 0x102D, SCSR = 0x102E, SCDR = 0x102F;
constexpr std::uint16_t TCNT = 0x100E, TOC2 = 0x1018, TMSK1 = 0x1022, TFLG1 = 0x1023, TMSK2 = 0x1024,
                        TFLG2 = 0x1025, PACTL = 0x1026, INIT = 0x103D;

} // namespace

TEST(Hc11Sci, TransmitFlagsFollowTheShiftRegisterAtTheBaudRate) {
    Rig r("hc11e9", 0x0100);
    r.W(BAUD, 0x30); // SCP = 13, SCR = 1: 16 * 13 = 208 E cycles a bit (9600 baud at E = 2 MHz)
    r.W(SCCR2, 0x08);
    EXPECT_EQ(r.R(SCSR) & 0xC0, 0xC0); // TDRE and TC out of reset
    r.RunTo(100);
    const std::uint64_t t0 = r.Now();
    r.W(SCDR, 'A');
    // The shift register was idle: it takes 'A' at once, TDR is free again
    // but the line is busy.
    EXPECT_EQ(r.R(SCSR) & 0xC0, 0x80);
    r.W(SCDR, 'B');
    EXPECT_EQ(r.R(SCSR) & 0xC0, 0x00);
    r.RunTo(t0 + 2080 - 3);
    EXPECT_EQ(r.port.out, "");
    EXPECT_EQ(r.R(SCSR) & 0x80, 0x00);
    r.RunTo(t0 + 2080); // ten bits: start, eight data, stop
    EXPECT_EQ(r.port.out, "A");
    EXPECT_EQ(r.R(SCSR) & 0xC0, 0x80); // 'B' moved to the shifter
    r.RunTo(t0 + 4160);
    EXPECT_EQ(r.port.out, "AB");
    EXPECT_EQ(r.R(SCSR) & 0xC0, 0xC0);

    // M = 1: eleven bits a frame.
    r.W(SCCR1, 0x10);
    const std::uint64_t t1 = r.Now();
    r.W(SCDR, 'C');
    r.RunTo(t1 + 2288 - 3);
    EXPECT_EQ(r.port.out, "AB");
    r.RunTo(t1 + 2288);
    EXPECT_EQ(r.port.out, "ABC");
}

TEST(Hc11Sci, AHostThatTakesNothingHoldsTheLineInsteadOfLosingCharacters) {
    Rig r("hc11e9", 0x0100);
    r.W(SCCR2, 0x08); // BAUD = 0: 16 cycles a bit
    r.port.full = true;
    r.W(SCDR, 'x');
    r.RunTo(2000);
    EXPECT_EQ(r.R(SCSR) & 0x40, 0); // not complete
    r.port.full = false;
    r.RunTo(2400);
    EXPECT_EQ(r.port.out, "x");
    EXPECT_EQ(r.R(SCSR) & 0x40, 0x40);
}

TEST(Hc11Sci, ReceiveSetsRdrfAndOverrunAndTheReadSequenceClearsThem) {
    Rig r("hc11e9", 0x0100);
    r.W(SCCR2, 0x04); // RE; BAUD = 0: 160 cycles a frame
    r.port.in = {'X', 'Y'};
    r.board.SerialInput();
    const std::uint64_t t0 = r.Now();
    r.RunTo(t0 + 160 - 3);
    EXPECT_EQ(r.R(SCSR) & 0x28, 0);
    r.RunTo(t0 + 160);
    EXPECT_EQ(r.m.GetBus().Peek(SCSR) & 0x28, 0x20);
    // A data read without the status read first leaves RDRF set.
    r.RunTo(t0 + 200);
    EXPECT_EQ(r.R(SCDR), 'X');
    r.RunTo(t0 + 320);
    // 'Y' arrived with RDRF still set: overrun, and 'X' stays.
    EXPECT_EQ(r.R(SCSR) & 0x28, 0x28);
    EXPECT_EQ(r.R(SCDR), 'X');
    EXPECT_EQ(r.R(SCSR) & 0x28, 0x00);
    // Peeking (a debugger, --dump) changes nothing.
    r.port.in = {'Z'};
    r.board.SerialInput();
    r.RunTo(r.Now() + 170);
    EXPECT_EQ(r.m.GetBus().Peek(SCSR) & 0x20, 0x20);
    EXPECT_EQ(r.m.GetBus().Peek(SCDR), 'Z');
    EXPECT_EQ(r.m.GetBus().Peek(SCSR) & 0x20, 0x20);
}

TEST(Hc11Sci, InterruptsCarryTheSciVector) {
    Rig r("hc11e9", 0x0100);
    Cpu& cpu = r.m.GetCpu();
    r.W(SCCR2, 0x08 | 0x04);
    EXPECT_FALSE(cpu.irqLine);
    r.W(SCCR2, 0x80 | 0x08 | 0x04); // TIE with TDRE set
    EXPECT_TRUE(cpu.irqLine);
    EXPECT_EQ(cpu.irqVector, 0xFFD6);
    r.W(SCCR2, 0x20 | 0x08 | 0x04); // RIE only
    EXPECT_FALSE(cpu.irqLine);
    r.port.in = {'q'};
    r.board.SerialInput();
    r.RunTo(r.Now() + 170);
    EXPECT_TRUE(cpu.irqLine);
    r.R(SCSR);
    r.R(SCDR);
    EXPECT_FALSE(cpu.irqLine);
}

TEST(Hc11Timer, PrescalerIsTimeProtectedAndTcntCountsEDividedByIt) {
    Rig r("hc11e9", 0x0100);
    r.W(TMSK2, 0x02); // PR = 2: E / 8, within the first 64 cycles
    r.W(TMSK2, 0x03); // a second write: ignored
    r.RunTo(8000);
    const std::uint64_t now = r.Now();
    EXPECT_EQ(r.R(TCNT) << 8 | r.R(TCNT + 1), static_cast<int>(now / 8));
    // Overflow after 65536 counts.
    r.RunTo(65536 * 8 - 3);
    EXPECT_EQ(r.R(TFLG2) & 0x80, 0);
    r.RunTo(65536 * 8);
    EXPECT_EQ(r.R(TFLG2) & 0x80, 0x80);
    r.W(TFLG2, 0x80); // write 1 to clear
    EXPECT_EQ(r.R(TFLG2) & 0x80, 0);

    Rig late("hc11e9", 0x0100);
    late.RunTo(70);
    late.W(TMSK2, 0x03);
    late.RunTo(1000);
    EXPECT_EQ(late.R(TCNT + 1), static_cast<std::uint8_t>(late.Now()));
}

TEST(Hc11Timer, OutputCompareFlagAtTheMatchAndItsInterrupt) {
    Rig r("hc11e9", 0x0100);
    r.RunTo(100);
    EXPECT_EQ(r.R(TOC2) << 8 | r.R(TOC2 + 1), 0xFFFF); // reset value
    const std::uint64_t t0 = r.Now();
    const unsigned target = static_cast<unsigned>(t0 + 500);
    r.W(TOC2, static_cast<std::uint8_t>(target >> 8));
    r.W(TOC2 + 1, static_cast<std::uint8_t>(target));
    r.RunTo(target - 3);
    EXPECT_EQ(r.R(TFLG1), 0);
    r.RunTo(target);
    EXPECT_EQ(r.R(TFLG1), 0x40); // OC2F
    EXPECT_FALSE(r.m.GetCpu().irqLine);
    r.W(TMSK1, 0x40);
    EXPECT_TRUE(r.m.GetCpu().irqLine);
    EXPECT_EQ(r.m.GetCpu().irqVector, 0xFFE6);
    r.W(TFLG1, 0x80); // another bit: OC2F stays
    EXPECT_EQ(r.R(TFLG1), 0x40);
    r.W(TFLG1, 0x40);
    EXPECT_EQ(r.R(TFLG1), 0);
    EXPECT_FALSE(r.m.GetCpu().irqLine);
    // The next match is a full count later.
    r.RunTo(target + 65536 - 3);
    EXPECT_EQ(r.R(TFLG1), 0xB8); // the others matched at $FFFF meanwhile
    r.RunTo(target + 65536);
    EXPECT_EQ(r.R(TFLG1), 0xF8);
}

TEST(Hc11Timer, RealTimeInterruptPeriodIsEOver2To13TimesRtr) {
    for (unsigned rtr = 0; rtr < 4; ++rtr) {
        SCOPED_TRACE(rtr);
        Rig r("hc11e9", 0x0100);
        r.W(PACTL, static_cast<std::uint8_t>(rtr)); // at cycle 0: periods count from here
        const std::uint64_t period = std::uint64_t{8192} << rtr;
        r.RunTo(period - 3);
        EXPECT_EQ(r.R(TFLG2) & 0x40, 0);
        r.RunTo(period);
        EXPECT_EQ(r.R(TFLG2) & 0x40, 0x40);
        r.W(TFLG2, 0x40);
        r.W(TMSK2, 0x40); // RTII
        r.RunTo(2 * period - 3);
        EXPECT_FALSE(r.m.GetCpu().irqLine);
        r.RunTo(2 * period);
        EXPECT_TRUE(r.m.GetCpu().irqLine);
        EXPECT_EQ(r.m.GetCpu().irqVector, 0xFFF0);
    }
}

TEST(Hc11Init, MovesRegistersAndRamOnceWithinTheFirst64Cycles) {
    Rig r("mini11", 0x2000);
    r.W(0x0050, 0x5A); // internal RAM at $0000 out of reset
    r.W(INIT, 0xFF);
    EXPECT_EQ(r.R(0xF02E) & 0xC0, 0xC0); // SCSR at $F02E
    EXPECT_EQ(r.R(0xF050), 0x5A);        // the RAM moved with its contents
    EXPECT_EQ(r.R(0xF03D), 0xFF);
    r.W(0xF03D, 0x01); // written once already
    EXPECT_EQ(r.R(0xF03D), 0xFF);
    EXPECT_EQ(r.R(0x102E), 0x00); // external RAM now, not the SCI
    EXPECT_EQ(r.diag.str(), "");

    Rig late("hc11e9", 0x0100);
    late.RunTo(64);
    late.W(INIT, 0xFF);
    EXPECT_EQ(late.R(INIT), 0x01);
    EXPECT_EQ(late.R(SCSR) & 0xC0, 0xC0);
}

TEST(Hc12Timer, CounterRunsWithTenAndComparesSetTheirChannelFlags) {
    Rig r("hc912b32", 0x0800);
    constexpr std::uint16_t TIOS = 0x80, TCNT12 = 0x84, TSCR = 0x86, TMSK1_12 = 0x8C, TMSK2_12 = 0x8D,
                            TFLG1_12 = 0x8E, TC0 = 0x90, TC7 = 0x9E;
    r.RunTo(1000);
    EXPECT_EQ(r.R(TCNT12 + 1), 0); // stopped until TEN
    r.W(TMSK2_12, 0x02);           // PR = 2: bus clock / 4
    r.W(TSCR, 0x80);
    const std::uint64_t t0 = r.Now();
    r.W(TIOS, 0x01);
    r.W(TC0, 0x00);
    r.W(TC0 + 1, 100);
    r.RunTo(t0 + 400 - 3);
    EXPECT_EQ(r.R(TFLG1_12), 0);
    r.RunTo(t0 + 400);
    EXPECT_EQ(r.R(TFLG1_12), 0x01);
    r.W(TMSK1_12, 0x01);
    EXPECT_EQ(r.m.GetCpu().irqVector, 0xFFEE);
    r.W(TFLG1_12, 0x01);
    // TCRE: channel 7's match clears the counter.
    r.W(TIOS, 0x80);
    const std::uint64_t t1 = r.Now();
    const unsigned now = r.R(TCNT12) << 8 | r.R(TCNT12 + 1);
    r.W(TC7, static_cast<std::uint8_t>((now + 50) >> 8));
    r.W(TC7 + 1, static_cast<std::uint8_t>(now + 50));
    r.W(TMSK2_12, 0x0A);
    r.RunTo(t1 + 200 + 40);
    EXPECT_EQ(r.R(TFLG1_12) & 0x80, 0x80);
    EXPECT_LT(r.R(TCNT12) << 8 | r.R(TCNT12 + 1), 20);
}

TEST(Hc12Rti, PeriodsOfTheB32AndTheS12) {
    {
        Rig r("hc912b32", 0x0800);
        r.W(0x14, 0x81); // RTIE, RTR = 1: 2^13 cycles
        const std::uint64_t t0 = r.Now();
        r.RunTo(t0 + 8192 - 3);
        EXPECT_EQ(r.R(0x15), 0);
        r.RunTo(t0 + 8192);
        EXPECT_EQ(r.R(0x15), 0x80);
        EXPECT_EQ(r.m.GetCpu().irqVector, 0xFFF0);
        r.W(0x15, 0x80);
        EXPECT_EQ(r.R(0x15), 0);
    }
    {
        Rig r("s12dp256", 0x1000);
        // RTR6:4 = 2, RTR3:0 = 2: 3 * 2^11 oscillator cycles, half as many
        // bus cycles.
        r.W(0x3B, 0x22);
        r.W(0x38, 0x80);
        const std::uint64_t t0 = r.Now();
        r.RunTo(t0 + 3072 - 3);
        EXPECT_EQ(r.R(0x37) & 0x80, 0);
        r.RunTo(t0 + 3072);
        EXPECT_EQ(r.R(0x37) & 0x80, 0x80);
        EXPECT_TRUE(r.m.GetCpu().irqLine);
    }
}

TEST(Hc12Sci, Sci0TransmitsAtSixteenBusCyclesPerSbr) {
    for (const char* board : {"hc912b32", "s12dp256"}) {
        SCOPED_TRACE(board);
        const bool s12 = std::string(board) == "s12dp256";
        Rig r(board, s12 ? 0x1000 : 0x0800);
        const std::uint16_t base = s12 ? 0xC8 : 0xC0;
        r.W(base + 0, 0);
        r.W(base + 1, 52); // 9600 baud at 8 MHz: 832 cycles a bit
        r.W(base + 3, 0x08);
        const std::uint64_t t0 = r.Now();
        r.R(base + 4);
        r.W(base + 7, 'k');
        r.RunTo(t0 + 8320 - 3);
        EXPECT_EQ(r.port.out, "");
        r.RunTo(t0 + 8320);
        EXPECT_EQ(r.port.out, "k");
        EXPECT_EQ(r.R(base + 4) & 0xC0, 0xC0);
    }
}

TEST(BoardMap, UnmappedAndRomPoliciesWarnOncePerAddressOrStop) {
    std::string error;
    auto profile = ParseBoardText("[board]\ncpu = 68hc11\nunmapped = warn\nrom-write = warn\n"
                                  "[memory]\nram = $0000-$7FFF\nrom = $E000-$FFFF\n",
                                  "t.ini", error);
    ASSERT_TRUE(profile) << error;
    Machine m(CpuModel::Hc11);
    std::ostringstream diag;
    Board b(*profile, m, diag);
    Bus& bus = m.GetBus();
    bus.Poke(0xE000, 0x12); // a loader fills ROM
    EXPECT_EQ(bus.Read(0xE000), 0x12);
    bus.Write(0xE000, 0x34);
    bus.Write(0xE000, 0x35);
    EXPECT_EQ(bus.Read(0xE000), 0x12);
    EXPECT_EQ(bus.Read(0x9000), 0xFF);
    bus.Write(0x9000, 1);
    bus.Read(0x9001);
    EXPECT_EQ(diag.str(), "qorbsim: write to ROM at $E000 (ignored)\n"
                          "qorbsim: unmapped read at $9000 (reads $FF)\n"
                          "qorbsim: unmapped read at $9001 (reads $FF)\n");
    EXPECT_STREQ(b.LoadTarget(0x9000), "no memory");
    EXPECT_EQ(b.LoadTarget(0xE000), nullptr);
    EXPECT_EQ(b.LoadTarget(0x0000), nullptr);

    auto stop = ParseBoardText("[board]\ncpu = 68hc11\nunmapped = stop\n[memory]\nram = $0000-$7FFF\n",
                               "s.ini", error);
    ASSERT_TRUE(stop) << error;
    Machine m2(CpuModel::Hc11);
    std::ostringstream diag2;
    Board b2(*stop, m2, diag2);
    // ldaa $9000; bra *
    for (std::uint16_t a = 0; const std::uint8_t v : {0xB6, 0x90, 0x00, 0x20, 0xFE})
        m2.GetBus().Poke(0x100 + a++, v);
    m2.GetCpu().regs.pc = 0x100;
    EXPECT_EQ(m2.Run({100000, false, false}), Halt::Requested);
    EXPECT_EQ(m2.GetCpu().regs.pc, 0x103); // after the instruction that made the access
    ASSERT_TRUE(b2.StopFault());
    EXPECT_EQ(b2.StopFault()->text, "unmapped access at $9000");
}

TEST(BoardFile, ParsesEveryKeyAndNamesTheLineOfAFault) {
    std::string error;
    auto s = ParseBoardText("; my board\n[board]\nname = lab\ncpu = 68hc12\neclock = $7A1200\n"
                            "rom-write = stop\n[memory]\nram = $0800-$0BFF  # on chip\nrom = 0x8000-0xFFFF\n"
                            "eeprom = 3328-4095\nregisters = $0000\n",
                            "lab.ini", error);
    ASSERT_TRUE(s) << error;
    EXPECT_EQ(s->name, "lab");
    EXPECT_EQ(*s->cpu, CpuModel::Cpu12);
    EXPECT_EQ(s->eclock, 8000000u);
    EXPECT_EQ(s->romWrite, AccessPolicy::Stop);
    EXPECT_EQ(s->unmapped, AccessPolicy::Ignore);
    ASSERT_EQ(s->memory.size(), 3u);
    EXPECT_EQ(s->memory[2].kind, MemoryRange::Eeprom);
    EXPECT_EQ(s->memory[2].first, 0x0D00);
    EXPECT_EQ(*s->registers, 0x0000);

    const struct {
        const char* text;
        const char* message;
    } bad[] = {
        {"[board]\ncpu = 6809\n", "b.ini(2): cpu '6809': 68hc11, 68hc12 or hcs12"},
        {"[board]\ncpu = 68hc11\n[memory]\nram = $8000-$1000\n", "b.ini(4): ram '$8000-$1000': FIRST-LAST"},
        {"[board]\ncpu = 68hc11\n[memory]\nram = 0-$FF\nrom = $80-$1FF\n",
         "b.ini(5): rom '$80-$1FF' overlaps"},
        {"[board]\nunmapped = maybe\n", "b.ini(2): unmapped 'maybe': ignore, warn or stop"},
        {"[memory]\nram = 0-1\nflash = 2-3\n", "b.ini(3): unknown key 'flash' in [memory]"},
        {"[devices]\n", "b.ini(1): unknown section [devices]"},
        {"cpu = 68hc11\n", "b.ini(1): 'cpu' before any section"},
        {"[board]\ncpu 68hc11\n", "b.ini(2): expected 'key = value'"},
        {"[board]\neclock = 12\n", "b.ini(2): eclock '12'"},
        {"[memory]\nram = 0-1\n", "b.ini: no cpu in [board]"},
        {"[board]\ncpu = 68hc11\n", "b.ini: no memory"},
        {"[board]\ncpu = 68hc11\n[memory]\nram = 0-$FF\nregisters = $1800\n",
         "b.ini: the 68hc11's register block starts on a 4 KB boundary"},
    };
    for (const auto& c : bad) {
        SCOPED_TRACE(c.text);
        EXPECT_FALSE(ParseBoardText(c.text, "b.ini", error));
        EXPECT_EQ(error.rfind(c.message, 0), 0u) << error;
    }
}

TEST(BoardFile, FirmwareIsNamedRelativeToTheBoardFile) {
    std::string error;
    const std::string text = "[board]\ncpu = 68hc11\nfirmware = %s\n[memory]\nram = 0-$FF\n";
    auto with = [&](const std::string& value, const std::string& name) {
        std::string t = text;
        t.replace(t.find("%s"), 2, value);
        return ParseBoardText(t, name, error);
    };
    auto s = with("mon/fw.s19", "/boards/lab.ini");
    ASSERT_TRUE(s) << error;
    EXPECT_EQ(s->firmware, std::vector<std::string>{"/boards/mon/fw.s19"});
    s = with("../fw.s19", "/boards/sub/lab.ini");
    ASSERT_TRUE(s) << error;
    EXPECT_EQ(s->firmware, std::vector<std::string>{"/boards/fw.s19"});
    s = with("/opt/fw.s19", "/boards/lab.ini");
    ASSERT_TRUE(s) << error;
    EXPECT_EQ(s->firmware, std::vector<std::string>{"/opt/fw.s19"});
    EXPECT_FALSE(with("", "b.ini"));
    EXPECT_EQ(error, "b.ini(3): firmware needs an S-record file");
    // Without the key a board has none; the mini11 has its monitor.
    ASSERT_TRUE(ParseBoardText("[board]\ncpu = 68hc11\n[memory]\nram = 0-$FF\n", "b.ini", error));
    EXPECT_TRUE(
        ParseBoardText("[board]\ncpu = 68hc11\n[memory]\nram = 0-$FF\n", "b.ini", error)->firmware.empty());
    const auto mini = BuiltinBoard("mini11");
    ASSERT_TRUE(mini);
    EXPECT_FALSE(mini->firmware.empty());
    for (const std::string& place : mini->firmware)
        EXPECT_TRUE(place.ends_with("/mini11/minibug11m8e.s19")) << place;
    EXPECT_TRUE(BuiltinBoard("hc11e9")->firmware.empty());

    // Nowhere to be found: every place looked in is named.
    BoardProfile gone = *mini;
    gone.firmware = {"/nonexistent/share/m.s19", "/nonexistent/build/m.s19"};
    EXPECT_FALSE(FindFirmware(gone, error));
    EXPECT_EQ(error, "board mini11: its firmware (the monitor minibug11m8e.s19) is missing: looked in "
                     "/nonexistent/share/m.s19, /nonexistent/build/m.s19");
}

TEST(Hc11Eeprom, PprogProgramsAndErasesAfterTenMilliseconds) {
    Rig r("hc11e9", 0x0100);
    constexpr std::uint16_t PPROG = 0x103B;
    auto cycle = [&](std::uint8_t latch, std::uint16_t a, std::uint8_t v, std::uint64_t hold) {
        r.W(PPROG, latch);
        r.W(a, v);
        r.W(PPROG, static_cast<std::uint8_t>(latch | 1));
        r.RunTo(r.Now() + hold);
        r.W(PPROG, 0);
    };
    Bus& bus = r.m.GetBus();
    EXPECT_EQ(bus.Peek(0xB600), 0xFF); // erased
    r.W(0xB600, 0x00);                 // without EELAT: a write to ROM, ignored
    EXPECT_EQ(r.R(0xB600), 0xFF);
    cycle(0x02, 0xB600, 0x5A, 20000); // 10 ms at 2 MHz
    EXPECT_EQ(r.R(0xB600), 0x5A);
    cycle(0x02, 0xB600, 0x0F, 20000); // programming only clears bits
    EXPECT_EQ(r.R(0xB600), 0x0A);
    cycle(0x02, 0xB601, 0x00, 1000); // too short: nothing
    EXPECT_EQ(r.R(0xB601), 0xFF);
    cycle(0x02, 0xB611, 0x11, 20000);
    cycle(0x02, 0xB61F, 0x1F, 20000);
    cycle(0x02, 0xB620, 0x20, 20000);
    cycle(0x16, 0xB600, 0, 20000); // byte erase
    EXPECT_EQ(r.R(0xB600), 0xFF);
    cycle(0x0E, 0xB615, 0, 20000); // row erase: $B610-$B61F
    EXPECT_EQ(r.R(0xB611), 0xFF);
    EXPECT_EQ(r.R(0xB61F), 0xFF);
    EXPECT_EQ(r.R(0xB620), 0x20);
    cycle(0x06, 0xB700, 0, 20000); // bulk erase
    EXPECT_EQ(r.R(0xB620), 0xFF);
}
