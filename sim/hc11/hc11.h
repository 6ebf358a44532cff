#pragma once

// The 68HC11 core: instruction set, condition codes, the illegal-opcode
// trap, exceptions and E-clock cycle counts of the M68HC11 reference manual.
// The chip runs in a normal mode: the test-mode opcode (TEST) traps as an
// illegal opcode.

#include <cstdint>

#include "core/cpu.h"

namespace qorb::sim {

// Whether an opcode exists on a page (1, or 2/3/4 behind $18/$1A/$CD).
bool Hc11OpcodeLegal(int page, std::uint8_t op);

class Hc11 final : public Cpu {
public:
    Hc11(Bus& bus, const std::uint8_t* stopFlags);

    Halt Run(std::uint64_t deadline, bool passFirstStop) override;
    void Reset() override;
    CpuModel Model() const override { return CpuModel::Hc11; }

    static constexpr std::uint16_t kResetVector = 0xFFFE, kIllegalVector = 0xFFF8, kSwiVector = 0xFFF6,
                                   kXirqVector = 0xFFF4, kIrqVector = 0xFFF2;

private:
    template <bool Flat> Halt Loop(std::uint64_t deadline, bool passFirstStop);
};

} // namespace qorb::sim
