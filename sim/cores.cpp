// The cores and their decoders, by model.

#include "core/disasm.h"
#include "core/machine.h"
#include "cpu12/cpu12.h"
#include "hc11/hc11.h"

namespace qorb::sim {

std::unique_ptr<Disassembler> MakeDisassembler12();
std::unique_ptr<Disassembler> MakeDisassembler11();

std::unique_ptr<Cpu> MakeCore(CpuModel model, Bus& bus, const std::uint8_t* stopFlags) {
    switch (model) {
    case CpuModel::Cpu12: return std::make_unique<Cpu12>(bus, stopFlags, false);
    case CpuModel::Hcs12: return std::make_unique<Cpu12>(bus, stopFlags, true);
    default: return std::make_unique<Hc11>(bus, stopFlags);
    }
}

std::unique_ptr<Disassembler> MakeDisassembler(CpuModel model) {
    return model == CpuModel::Hc11 ? MakeDisassembler11() : MakeDisassembler12();
}

} // namespace qorb::sim
