#pragma once

// A board: the address space, a CPU core, the event queue and the stop
// addresses, with the stepping interface the command-line program and a
// debugger use. Registers and memory are read and written between runs
// without side effects (Cpu::regs, Bus::Peek/Poke).

#include <cstdint>
#include <memory>
#include <vector>

#include "core/bus.h"
#include "core/cpu.h"
#include "core/events.h"

namespace qorb::sim {

struct RunLimits {
    std::uint64_t maxCycles = EventQueue::kNever; // halt after the instruction that reaches it
    bool passFirstStop = false;                   // resume from a stop address
    bool single = false;                          // one instruction (or exception entry) at most
};

class Machine {
public:
    explicit Machine(CpuModel model);
    Machine(const Machine&) = delete;
    Machine& operator=(const Machine&) = delete;

    Bus& GetBus() { return bus_; }
    Cpu& GetCpu() { return *cpu_; }
    EventQueue& Events() { return events_; }
    CpuModel Model() const { return cpu_->Model(); }

    void AddStop(std::uint16_t address) { stops_[address] = 1; }
    void RemoveStop(std::uint16_t address) { stops_[address] = 0; }
    bool IsStop(std::uint16_t address) const { return stops_[address] != 0; }
    void ClearStops();

    // Runs until a halt; Halt::Deadline means the cycle limit was reached.
    Halt Run(const RunLimits& limits);
    // Executes one instruction (or enters one exception). A stop address at
    // the PC is passed over. Returns Deadline when nothing halted.
    Halt Step();

    // A board whose devices can raise IRQ or XIRQ; without one (the flat
    // board) a CPU waiting with an empty event queue can never wake.
    void SetInterruptSources(bool any) { interruptSources_ = any; }

    // Ends the current run after the instruction under way (Halt::Requested):
    // for devices that stop on a fault, and for the host on a signal.
    void RequestHalt() {
        haltRequested_ = true;
        cpu_->runDeadline = 0;
    }

private:
    bool NothingCanWake() const;

    Bus bus_;
    std::vector<std::uint8_t> stops_;
    std::unique_ptr<Cpu> cpu_;
    EventQueue events_;
    bool interruptSources_ = false;
    bool haltRequested_ = false;
};

// Defined with the cores.
std::unique_ptr<Cpu> MakeCore(CpuModel model, Bus& bus, const std::uint8_t* stopFlags);

} // namespace qorb::sim
