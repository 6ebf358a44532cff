// Measures the cycles of single instructions for the cycle-count test:
//   cycle_probe -m68hc12|-m68hc11 [-hcs] FILE.s19 ADDR...
// For each address (hex) prints "ADDR MIN MAX TEXT": the fewest and most cycles
// the instruction there took over a set of register states (every N, Z, V,
// C combination, S set and clear, a few accumulator values), so that both
// outcomes of a branch are seen; TEXT is the instruction as the simulator's
// decoder writes it (the test assembles it again).

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <utility>
#include <vector>

#include "core/disasm.h"
#include "core/machine.h"
#include "core/srec.h"

using namespace qorb::sim;

namespace {

// Memory that can undo the writes of a step, so every run of an
// instruction starts from the loaded image (stores and PC-relative writes
// would otherwise change the code being measured).
class UndoRam : public Device {
public:
    std::vector<std::uint8_t> bytes = std::vector<std::uint8_t>(0x10000);
    std::vector<std::pair<std::uint16_t, std::uint8_t>> log;
    std::uint8_t Read(std::uint16_t a) override { return bytes[a]; }
    std::uint8_t Peek(std::uint16_t a) const override { return bytes[a]; }
    void Write(std::uint16_t a, std::uint8_t v) override {
        log.emplace_back(a, bytes[a]);
        bytes[a] = v;
    }
    void Undo() {
        for (auto it = log.rbegin(); it != log.rend(); ++it) bytes[it->first] = it->second;
        log.clear();
    }
};

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::cerr << "usage: cycle_probe -m68hc12|-m68hc11 [-hcs] FILE.s19 ADDR...\n";
        return 2;
    }
    int i = 1;
    CpuModel model = std::string(argv[i++]) == "-m68hc11" ? CpuModel::Hc11 : CpuModel::Cpu12;
    if (std::string(argv[i]) == "-hcs") {
        model = CpuModel::Hcs12;
        ++i;
    }
    Machine m(model);
    LoadedImage image;
    LoadError e;
    if (!LoadSRecordFile(argv[i++], m.GetBus(), image, e)) {
        std::cerr << e.file << "(" << e.line << "): " << e.text << "\n";
        return 2;
    }
    UndoRam ram;
    for (std::uint32_t a = 0; a < 0x10000; ++a) ram.bytes[a] = m.GetBus().Peek(static_cast<std::uint16_t>(a));
    // Vectors somewhere harmless, so that traps and SWI are taken.
    for (unsigned v = 0xFFF0; v < 0xFFFE; v += 2) {
        ram.bytes[v] = 0x80;
        ram.bytes[v + 1] = 0x00;
    }
    m.GetBus().MapDevice(0x0000, 0xFFFF, &ram);
    Cpu& cpu = m.GetCpu();
    const auto dis = MakeDisassembler(model);
    const Disassembler::Reader peek = [&ram](std::uint16_t a) { return ram.bytes[a]; };
    for (; i < argc; ++i) {
        const auto addr = static_cast<std::uint16_t>(std::strtoul(argv[i], nullptr, 16));
        std::uint64_t lo = ~0ull, hi = 0;
        for (unsigned cc = 0; cc < 32; ++cc) {
            for (const std::uint8_t acc : {0x00, 0x01, 0xFF}) {
                cpu.regs = Registers{};
                cpu.regs.pc = addr;
                cpu.regs.sp = 0x3000;
                cpu.regs.x = 0x2000;
                cpu.regs.y = 0x2100;
                cpu.regs.a = cpu.regs.b = acc;
                // NZVC from the low bits; S from bit 4; I and X set.
                cpu.regs.ccr = static_cast<std::uint8_t>((cc & 15) | ((cc & 16) ? 0x80 : 0) | 0x50);
                cpu.state = RunState::Running;
                cpu.cycles = 0;
                m.Step();
                ram.Undo();
                lo = std::min(lo, cpu.cycles);
                hi = std::max(hi, cpu.cycles);
            }
        }
        std::printf("%04X %llu %llu %s\n", addr, static_cast<unsigned long long>(lo),
                    static_cast<unsigned long long>(hi), dis->Decode(addr, peek).text.c_str());
    }
    return 0;
}
