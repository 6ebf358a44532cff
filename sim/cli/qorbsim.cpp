#include "cli/qorbsim.h"

#include <cstdio>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/disasm.h"
#include "core/machine.h"
#include "core/srec.h"

namespace qorb::sim {
namespace {

constexpr const char* kUsage =
    "usage: qorbsim -m68hc12|-m68hc11 [-hcs] [options] file.s19 ...\n"
    "options:\n"
    "  -hcs                HCS12 rules (with -m68hc12)\n"
    "  --pc ADDR           start address\n"
    "  --sp ADDR           initial stack pointer (default 0)\n"
    "  --stop-at ADDR      halt before the instruction at ADDR (repeatable)\n"
    "  --max-cycles N      halt after the instruction that reaches N cycles\n"
    "  --trace             one line per instruction on standard error\n"
    "  --regs              print the registers after the run\n"
    "  --dump ADDR:LEN     print LEN bytes from ADDR after the run (repeatable)\n"
    "numbers: 0x1F, $1F or decimal\n"
    "exit status: 0 stop address, 3 cycle limit, 4 illegal opcode or trap without vector,\n"
    "             5 stop or wait that nothing ends, 6 bgnd, 1 usage or load error\n";

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
        if (c >= '0' && c <= '9') d = static_cast<unsigned>(c - '0');
        else if (base == 16 && c >= 'a' && c <= 'f') d = static_cast<unsigned>(c - 'a' + 10);
        else if (base == 16 && c >= 'A' && c <= 'F') d = static_cast<unsigned>(c - 'A' + 10);
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
    bool hcs = false, trace = false, regs = false;
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
                const auto a = colon == std::string::npos ? std::nullopt : ParseNumber(value.substr(0, colon), 0xFFFF);
                const auto n = colon == std::string::npos ? std::nullopt : ParseNumber(value.substr(colon + 1), 0x10000);
                if (!a || !n || *n == 0) return Usage("bad --dump '" + value + "': ADDR:LEN, LEN 1..65536");
                if (*a + *n > 0x10000) return Usage("--dump '" + value + "' runs past $FFFF");
                o.dumps.push_back({static_cast<std::uint16_t>(*a), static_cast<std::uint32_t>(*n)});
            } else {
                return Usage("unknown option '" + arg + "'");
            }
            if (hasValue && (name == "-m68hc12" || name == "-m68hc11" || name == "-hcs" || name == "--trace" ||
                             name == "--regs" || name == "--help"))
                return Usage("option " + name + " takes no value");
        }
        if (help_) return true;
        if (!o.model) return Usage("name the CPU: -m68hc12 or -m68hc11");
        if (o.hcs && *o.model != CpuModel::Cpu12) return Usage("-hcs goes with -m68hc12");
        if (o.hcs) o.model = CpuModel::Hcs12;
        if (o.files.empty()) return Usage("no S-record file");
        return true;
    }

    int Run(const Options& o) {
        Machine machine(*o.model);
        Bus& bus = machine.GetBus();
        LoadedImage image;
        for (const std::string& file : o.files) {
            LoadError e;
            if (!LoadSRecordFile(file, bus, image, e)) {
                err_ << "qorbsim: " << e.file;
                if (e.line) err_ << "(" << e.line << ")";
                err_ << ": " << e.text << "\n";
                return kExitUsage;
            }
        }
        std::uint16_t start;
        if (o.pc) {
            start = *o.pc;
        } else if (image.Start()) {
            start = *image.Start();
        } else if (image.Loaded(0xFFFE) && image.Loaded(0xFFFF)) {
            start = static_cast<std::uint16_t>(bus.Peek(0xFFFE) << 8 | bus.Peek(0xFFFF));
        } else if (image.Any()) {
            start = image.Lowest();
        } else {
            err_ << "qorbsim: nothing to run: the files hold no data (give --pc to run from memory of zeros)\n";
            return kExitUsage;
        }

        Cpu& cpu = machine.GetCpu();
        cpu.regs = Registers{};
        cpu.regs.pc = start;
        cpu.regs.sp = o.sp.value_or(0);
        cpu.regs.ccr = 0xD0;
        for (const std::uint16_t s : o.stops) machine.AddStop(s);

        const Halt h = o.trace ? RunTraced(machine, o) : machine.Run({o.maxCycles, false, false});
        int status;
        switch (h) {
        case Halt::StopAddress: status = kExitStopAddress; break;
        case Halt::IllegalOpcode: status = kExitIllegal; break;
        case Halt::Stopped: status = kExitStopped; break;
        case Halt::Background: status = kExitBackground; break;
        default: status = kExitCycleLimit; break;
        }

        const Registers& r = cpu.regs;
        if (o.regs)
            out_ << Format("PC=%04X A=%02X B=%02X X=%04X Y=%04X SP=%04X CCR=%02X CYCLES=%llu\n", r.pc, r.a, r.b, r.x,
                           r.y, r.sp, r.ccr, static_cast<unsigned long long>(cpu.cycles));
        for (const Dump& d : o.dumps) {
            std::string line;
            for (std::uint32_t i = 0; i < d.length; ++i) {
                const auto a = static_cast<std::uint16_t>(d.address + i);
                if (i % 16 == 0) {
                    if (i) out_ << line << "\n";
                    line = Format("%04X:", a);
                }
                line += Format(" %02X", bus.Peek(a));
            }
            out_ << line << "\n";
        }
        out_.flush();
        return status;
    }

    Halt RunTraced(Machine& machine, const Options& o) {
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
            h = machine.Run({o.maxCycles, false, true});
            if (cpu.lastWasInstruction) {
                const Registers& r = cpu.regs;
                buffer += Format("%04X  %-18s  %-24s  A=%02X B=%02X X=%04X Y=%04X SP=%04X CCR=%02X\n", pc,
                                 bytes.c_str(), d.text.c_str(), r.a, r.b, r.x, r.y, r.sp, r.ccr);
                if (buffer.size() > 1 << 16) flush();
            }
            if (h != Halt::Deadline || cpu.cycles >= o.maxCycles) break;
        }
        flush();
        return h;
    }

    std::ostream& out_;
    std::ostream& err_;
    bool help_ = false;
};

} // namespace

int QorbsimMain(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
    Cli cli(out, err);
    return cli.Main(argc, argv);
}

} // namespace qorb::sim
