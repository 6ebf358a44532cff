#pragma once

// The CPU12 core (68HC12, and the HCS12 with its different cycle counts and
// move rules). Instruction set, condition codes, exceptions and cycle
// counts follow the CPU12 reference manual.

#include <cstdint>

#include "core/cpu.h"

namespace qorb::sim {

class Cpu12 final : public Cpu {
public:
    Cpu12(Bus& bus, const std::uint8_t* stopFlags, bool hcs12);

    Halt Run(std::uint64_t deadline, bool passFirstStop) override;
    void Reset() override;
    CpuModel Model() const override { return hcs12_ ? CpuModel::Hcs12 : CpuModel::Cpu12; }

    static constexpr std::uint16_t kResetVector = 0xFFFE, kTrapVector = 0xFFF8, kSwiVector = 0xFFF6,
                                   kXirqVector = 0xFFF4, kIrqVector = 0xFFF2;

private:
    template <bool Flat> Halt Loop(std::uint64_t deadline, bool passFirstStop);

    bool hcs12_;
    // The transfer instructions reach two internal registers through code 3.
    std::uint16_t tmp2_ = 0, tmp3_ = 0;
};

} // namespace qorb::sim
