#include "cli/qorbsim.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "board/board.h"
#include "board/firmware.h"
#include "cli/serial_link.h"
#include "core/disasm.h"
#include "core/machine.h"
#include "core/srec.h"

namespace qorb::sim {
namespace {

constexpr const char* kUsage =
    "usage: qorbsim -m68hc12|-m68hc11 [-hcs] [options] file.s19 ...\n"
    "       qorbsim -m68hc11 --board mini11 [options] [file.s19 ...]  (a board with firmware)\n"
    "options:\n"
    "  -hcs                HCS12 rules (with -m68hc12)\n"
    "  --board NAME|FILE   flat (default), hc912b32, s12dp256, hc11e9, mini11, or a board file\n"
    "  --sci none|stdio|pty  the serial line: none (default), standard input and output,\n"
    "                      or a new pseudo-terminal (its name goes to standard error)\n"
    "  --trace-ports       each write to a port register on standard error\n"
    "  --no-firmware       leave out the board's firmware (the mini11's monitor)\n"
    "  --pc ADDR           start address (a board with firmware: its reset vector)\n"
    "  --sp ADDR           initial stack pointer (default 0)\n"
    "  --stop-at ADDR      halt before the instruction at ADDR (repeatable)\n"
    "  --max-cycles N      halt after the instruction that reaches N cycles\n"
    "  --trace             one line per instruction on standard error\n"
    "  --regs              print the registers after the run\n"
    "  --dump ADDR:LEN     print LEN bytes from ADDR after the run (repeatable)\n"
    "numbers: 0x1F, $1F or decimal\n"
    "exit status: 0 stop address, 3 cycle limit, 4 illegal opcode or trap without vector,\n"
    "             5 stop or wait that nothing ends, 6 bgnd, 7 access the board stops on,\n"
    "             8 ended by a signal while a serial line was attached, 1 usage or load error\n";

// Set by SIGINT, SIGTERM and SIGHUP while a serial line is served.
volatile std::sig_atomic_t gSignal = 0;
extern "C" void OnSignal(int sig) { gSignal = sig; }

// 0x1F, $1F or decimal, at most `max`.
std::optional<std::uint64_t> ParseNumber(std::string_view s, std::uint64_t max) {
    unsigned base = 10;
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        base = 16;
        s.remove_prefix(2);
    } else if (s.size() > 1 && s[0] == '$') {
        base = 16;
        s.remove_prefix(1);
    }
    if (s.empty()) return std::nullopt;
    std::uint64_t v = 0;
    for (const char c : s) {
        unsigned d;
        if (c >= '0' && c <= '9')
            d = static_cast<unsigned>(c - '0');
        else if (base == 16 && c >= 'a' && c <= 'f')
            d = static_cast<unsigned>(c - 'a' + 10);
        else if (base == 16 && c >= 'A' && c <= 'F')
            d = static_cast<unsigned>(c - 'A' + 10);
        else
            return std::nullopt;
        if (v > (std::numeric_limits<std::uint64_t>::max() - d) / base) return std::nullopt;
        v = v * base + d;
    }
    if (v > max) return std::nullopt;
    return v;
}

std::string Format(const char* fmt, auto... args) {
    char buf[160];
    std::snprintf(buf, sizeof buf, fmt, args...);
    return buf;
}

struct Dump {
    std::uint16_t address;
    std::uint32_t length;
};

struct Options {
    std::optional<CpuModel> model;
    bool hcs = false, trace = false, regs = false, tracePorts = false, noFirmware = false;
    std::string board = "flat";
    std::string sci = "none";
    std::optional<std::uint16_t> pc, sp;
    std::vector<std::uint16_t> stops;
    std::uint64_t maxCycles = EventQueue::kNever;
    std::vector<Dump> dumps;
    std::vector<std::string> files;
};

class Cli {
public:
    Cli(std::ostream& out, std::ostream& err) : out_(out), err_(err) {}

    int Main(int argc, const char* const* argv) {
        Options o;
        if (!Parse(argc, argv, o)) return kExitUsage;
        if (help_) {
            out_ << kUsage;
            return 0;
        }
        return Run(o);
    }

private:
    int Usage(const std::string& text) {
        err_ << "qorbsim: " << text << "\n" << kUsage;
        return false;
    }

    bool Parse(int argc, const char* const* argv, Options& o) {
        bool optionsEnd = false;
        for (int i = 1; i < argc; ++i) {
            const std::string arg = argv[i] ? argv[i] : "";
            if (optionsEnd || arg.empty() || arg[0] != '-') {
                o.files.push_back(arg);
                continue;
            }
            if (arg == "--") {
                optionsEnd = true;
                continue;
            }
            // Options with a value take it from the same argument after '='
            // or from the next argument.
            std::string name = arg, value;
            bool hasValue = false;
            if (const auto eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
                name = arg.substr(0, eq);
                value = arg.substr(eq + 1);
                hasValue = true;
            }
            auto takeValue = [&]() -> bool {
                if (hasValue) return true;
                if (i + 1 >= argc || !argv[i + 1]) return Usage("option " + name + " needs a value");
                value = argv[++i];
                return true;
            };
            auto address = [&](std::optional<std::uint16_t>& into) -> bool {
                if (!takeValue()) return false;
                const auto v = ParseNumber(value, 0xFFFF);
                if (!v) return Usage("bad address for " + name + ": '" + value + "' (0..$FFFF)");
                into = static_cast<std::uint16_t>(*v);
                return true;
            };
            if (name == "-m68hc12" || name == "-m68hc11") {
                const CpuModel m = name == "-m68hc12" ? CpuModel::Cpu12 : CpuModel::Hc11;
                if (o.model && *o.model != m) return Usage("-m68hc12 and -m68hc11 exclude each other");
                o.model = m;
            } else if (name == "-hcs") {
                o.hcs = true;
            } else if (name == "--trace") {
                o.trace = true;
            } else if (name == "--regs") {
                o.regs = true;
            } else if (name == "--trace-ports") {
                o.tracePorts = true;
            } else if (name == "--no-firmware") {
                o.noFirmware = true;
            } else if (name == "--board") {
                if (!takeValue()) return false;
                if (value.empty()) return Usage("--board needs a board name or a board file");
                o.board = value;
            } else if (name == "--sci") {
                if (!takeValue()) return false;
                if (value != "none" && value != "stdio" && value != "pty")
                    return Usage("bad --sci '" + value + "': none, stdio or pty");
                o.sci = value;
            } else if (name == "-h" || name == "--help") {
                help_ = true;
            } else if (name == "--pc") {
                if (!address(o.pc)) return false;
            } else if (name == "--sp") {
                if (!address(o.sp)) return false;
            } else if (name == "--stop-at") {
                std::optional<std::uint16_t> a;
                if (!address(a)) return false;
                o.stops.push_back(*a);
            } else if (name == "--max-cycles") {
                if (!takeValue()) return false;
                const auto v = ParseNumber(value, std::numeric_limits<std::uint64_t>::max() - 1);
                if (!v) return Usage("bad cycle count for --max-cycles: '" + value + "'");
                o.maxCycles = *v;
            } else if (name == "--dump") {
                if (!takeValue()) return false;
                const auto colon = value.find(':');
                const auto a =
                    colon == std::string::npos ? std::nullopt : ParseNumber(value.substr(0, colon), 0xFFFF);
                const auto n =
                    colon == std::string::npos ? std::nullopt : ParseNumber(value.substr(colon + 1), 0x10000);
                if (!a || !n || *n == 0) return Usage("bad --dump '" + value + "': ADDR:LEN, LEN 1..65536");
                if (*a + *n > 0x10000) return Usage("--dump '" + value + "' runs past $FFFF");
                o.dumps.push_back({static_cast<std::uint16_t>(*a), static_cast<std::uint32_t>(*n)});
            } else {
                return Usage("unknown option '" + arg + "'");
            }
            if (hasValue &&
                (name == "-m68hc12" || name == "-m68hc11" || name == "-hcs" || name == "--trace" ||
                 name == "--regs" || name == "--help" || name == "--trace-ports" || name == "--no-firmware"))
                return Usage("option " + name + " takes no value");
        }
        if (help_) return true;
        // The board: a name first, else a file.
        {
            std::string error;
            auto b = FindBoard(o.board, error);
            if (!b) return Usage(error);
            profile_ = *b;
        }
        if (!o.model && !profile_.cpu) return Usage("name the CPU: -m68hc12 or -m68hc11");
        if (o.hcs && o.model && *o.model != CpuModel::Cpu12) return Usage("-hcs goes with -m68hc12");
        if (o.hcs) o.model = CpuModel::Hcs12;
        if (profile_.cpu) {
            // The board names its CPU; -m68hc12 fits an HCS12 board too.
            const bool fits = !o.model || *o.model == *profile_.cpu ||
                              (*o.model == CpuModel::Cpu12 && *profile_.cpu == CpuModel::Hcs12);
            if (!fits) {
                const char* has = *profile_.cpu == CpuModel::Hc11    ? "a 68HC11"
                                  : *profile_.cpu == CpuModel::Hcs12 ? "an HCS12"
                                                                     : "a 68HC12";
                const char* given = *o.model == CpuModel::Hc11 ? "-m68hc11" : o.hcs ? "-hcs" : "-m68hc12";
                return Usage("board " + profile_.name + " has " + has + ": " + given + " does not fit it");
            }
            o.model = profile_.cpu;
        }
        if (!o.model) return Usage("name the CPU: -m68hc12 or -m68hc11");
        if (profile_.flat && o.sci != "none")
            return Usage("--sci needs a board with a serial interface (--board)");
        if (profile_.flat && o.tracePorts) return Usage("--trace-ports needs a board with ports (--board)");
        if (!profile_.flat && !profile_.registers && (o.sci != "none" || o.tracePorts))
            return Usage("board " + profile_.name + " has no register block: no serial line, no ports");
        if (o.noFirmware) profile_.firmware.clear();
        // A board with firmware runs it alone: the board as it powers up.
        if (o.files.empty() && profile_.firmware.empty()) return Usage("no S-record file");
        return true;
    }

    int Run(const Options& o) {
        Machine machine(*o.model);
        Bus& bus = machine.GetBus();
        std::unique_ptr<Board> board;
        if (!profile_.flat) {
            board = std::make_unique<Board>(profile_, machine, err_);
            board->SetTracePorts(o.tracePorts);
        }
        std::optional<Firmware> firmware;
        if (!profile_.firmware.empty()) {
            std::string error;
            firmware = LoadFirmware(profile_, *board, bus, error);
            if (!firmware) {
                err_ << "qorbsim: " << error << "; --no-firmware leaves it out\n";
                return kExitUsage;
            }
        }
        LoadedImage image;
        for (const std::string& file : o.files) {
            LoadError e;
            LoadedImage one;
            if (!LoadSRecordFile(file, bus, one, e)) {
                err_ << "qorbsim: " << e.file;
                if (e.line) err_ << "(" << e.line << ")";
                err_ << ": " << e.text << "\n";
                return kExitUsage;
            }
            if (firmware) {
                if (const auto overlap = FirmwareOverlap(*firmware, one, bus, file)) {
                    err_ << "qorbsim: " << *overlap << "; --no-firmware leaves it out\n";
                    return kExitUsage;
                }
            }
            for (std::uint32_t a = 0; a < 0x10000; ++a)
                if (one.Loaded(static_cast<std::uint16_t>(a))) image.Mark(static_cast<std::uint16_t>(a));
            if (one.Start()) image.SetStart(*one.Start());
        }
        if (board) {
            // Data that would land where no memory is would be lost: say so.
            std::uint16_t at = 0;
            const char* what = nullptr;
            if (board->Misplaced(image, at, what)) {
                err_ << Format("qorbsim: data at $%04X falls on %s of board ", at, what) << profile_.name
                     << "\n";
                return kExitUsage;
            }
        }
        std::uint16_t start;
        if (o.pc) {
            start = *o.pc;
        } else if (firmware) {
            // The board powers up: its firmware starts, and the program
            // waits in memory as if it had been downloaded.
            start = firmware->reset;
        } else if (image.Start()) {
            start = *image.Start();
        } else if (image.Loaded(0xFFFE) && image.Loaded(0xFFFF)) {
            start = static_cast<std::uint16_t>(bus.Peek(0xFFFE) << 8 | bus.Peek(0xFFFF));
        } else if (image.Any()) {
            start = image.Lowest();
        } else {
            err_ << "qorbsim: nothing to run: the files hold no data (give --pc to run from memory of "
                    "zeros)\n";
            return kExitUsage;
        }

        std::unique_ptr<HostLink> link;
        if (o.sci == "pty") {
            std::string name, error;
            link = HostLink::OpenPty(name, error);
            if (!link) {
                err_ << "qorbsim: " << error << "\n";
                return kExitUsage;
            }
            err_ << "qorbsim: serial line on " << name << "\n";
            err_.flush();
        } else if (o.sci == "stdio") {
            link = HostLink::OpenStdio();
        }
        if (link) board->SetSerial(link.get());
        // With --sci stdio standard output is the serial line.
        std::ostream& results = o.sci == "stdio" ? err_ : out_;

        Cpu& cpu = machine.GetCpu();
        cpu.regs = Registers{};
        cpu.regs.pc = start;
        cpu.regs.sp = o.sp.value_or(0);
        cpu.regs.ccr = 0xD0;
        for (const std::uint16_t s : o.stops) machine.AddStop(s);

        Halt h;
        bool interrupted = false;
        if (link) {
            h = RunPaced(machine, *board, *link, o, interrupted);
            link->Drain(o.sci == "stdio" ? 5000 : 200);
        } else {
            h = o.trace ? RunTraced(machine, o, o.maxCycles) : machine.Run({o.maxCycles, false, false});
        }
        int status;
        switch (h) {
        case Halt::StopAddress: status = kExitStopAddress; break;
        case Halt::IllegalOpcode: status = kExitIllegal; break;
        case Halt::Stopped: status = kExitStopped; break;
        case Halt::Background: status = kExitBackground; break;
        case Halt::Requested: status = kExitAccessFault; break;
        default: status = kExitCycleLimit; break;
        }
        if (interrupted) status = kExitInterrupted;
        if (board && board->StopFault()) {
            err_ << "qorbsim: " << board->StopFault()->text << Format(" (PC=%04X)\n", cpu.regs.pc);
            status = kExitAccessFault;
        }

        const Registers& r = cpu.regs;
        if (o.regs)
            results << Format("PC=%04X A=%02X B=%02X X=%04X Y=%04X SP=%04X CCR=%02X CYCLES=%llu\n", r.pc, r.a,
                              r.b, r.x, r.y, r.sp, r.ccr, static_cast<unsigned long long>(cpu.cycles));
        for (const Dump& d : o.dumps) {
            std::string line;
            for (std::uint32_t i = 0; i < d.length; ++i) {
                const auto a = static_cast<std::uint16_t>(d.address + i);
                if (i % 16 == 0) {
                    if (i) results << line << "\n";
                    line = Format("%04X:", a);
                }
                line += Format(" %02X", bus.Peek(a));
            }
            results << line << "\n";
        }
        results.flush();
        return status;
    }

    // Runs with a serial line attached: simulated time follows real time
    // (the E-clock's rate), so characters move at the line's baud rate, in
    // slices of 10 ms between which the line is served.
    Halt RunPaced(Machine& machine, Board& board, HostLink& link, const Options& o, bool& interrupted) {
        using Clock = std::chrono::steady_clock;
        Cpu& cpu = machine.GetCpu();
        gSignal = 0;
        struct sigaction sa {
        }, oldInt{}, oldTerm{}, oldHup{}, oldPipe{};
        sa.sa_handler = OnSignal;
        sigemptyset(&sa.sa_mask);
        sigaction(SIGINT, &sa, &oldInt);
        sigaction(SIGTERM, &sa, &oldTerm);
        sigaction(SIGHUP, &sa, &oldHup);
        struct sigaction ign {};
        ign.sa_handler = SIG_IGN;
        sigemptyset(&ign.sa_mask);
        sigaction(SIGPIPE, &ign, &oldPipe);

        const double eclock = profile_.eclock;
        const std::uint64_t slice = std::max<std::uint64_t>(1, profile_.eclock / 100);
        auto t0 = Clock::now();
        std::uint64_t c0 = cpu.cycles;
        Halt h = Halt::Deadline;
        for (;;) {
            if (gSignal) {
                interrupted = true;
                break;
            }
            const std::uint64_t end = std::min(o.maxCycles, cpu.cycles + slice);
            h = o.trace ? RunTraced(machine, o, end) : machine.Run({end, false, false});
            link.Pump(0);
            board.SerialInput();
            if (h != Halt::Deadline || cpu.cycles >= o.maxCycles) break;
            // Wait for real time to catch up, serving the line meanwhile. A
            // simulation that has fallen far behind (the machine was busy)
            // does not race to catch up.
            for (;;) {
                const auto simulated =
                    static_cast<std::int64_t>(static_cast<double>(cpu.cycles - c0) * 1e9 / eclock);
                const auto target = t0 + std::chrono::nanoseconds(simulated);
                const auto now = Clock::now();
                if (now >= target) {
                    if (now - target > std::chrono::milliseconds(100)) {
                        t0 = now;
                        c0 = cpu.cycles;
                    }
                    break;
                }
                const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(target - now);
                link.Pump(static_cast<int>(wait.count()) + 1);
                board.SerialInput();
                if (gSignal) break;
            }
        }
        sigaction(SIGINT, &oldInt, nullptr);
        sigaction(SIGTERM, &oldTerm, nullptr);
        sigaction(SIGHUP, &oldHup, nullptr);
        sigaction(SIGPIPE, &oldPipe, nullptr);
        return h;
    }

    // Runs one instruction at a time up to `end` cycles, one line each on
    // standard error.
    Halt RunTraced(Machine& machine, const Options& o, std::uint64_t end) {
        Cpu& cpu = machine.GetCpu();
        Bus& bus = machine.GetBus();
        const auto dis = MakeDisassembler(*o.model);
        const Disassembler::Reader peek = [&bus](std::uint16_t a) { return bus.Peek(a); };
        std::string buffer;
        auto flush = [&]() {
            err_ << buffer;
            err_.flush();
            buffer.clear();
        };
        Halt h;
        for (;;) {
            const std::uint16_t pc = cpu.regs.pc;
            const DecodedInstruction d = dis->Decode(pc, peek);
            std::string bytes;
            for (unsigned i = 0; i < d.length; ++i) {
                if (i) bytes += ' ';
                bytes += Format("%02X", bus.Peek(static_cast<std::uint16_t>(pc + i)));
            }
            h = machine.Run({end, false, true});
            if (cpu.lastWasInstruction) {
                const Registers& r = cpu.regs;
                buffer += Format("%04X  %-18s  %-24s  A=%02X B=%02X X=%04X Y=%04X SP=%04X CCR=%02X\n", pc,
                                 bytes.c_str(), d.text.c_str(), r.a, r.b, r.x, r.y, r.sp, r.ccr);
                if (buffer.size() > 1 << 16) flush();
            }
            if (h != Halt::Deadline || cpu.cycles >= end) break;
        }
        flush();
        return h;
    }

    std::ostream& out_;
    std::ostream& err_;
    bool help_ = false;
    BoardProfile profile_;
};

} // namespace

int QorbsimMain(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
    Cli cli(out, err);
    return cli.Main(argc, argv);
}

} // namespace qorb::sim
