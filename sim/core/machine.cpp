#include "core/machine.h"

#include <algorithm>

namespace qorb::sim {

Machine::Machine(CpuModel model) : stops_(0x10000, 0), cpu_(MakeCore(model, bus_, stops_.data())) {
    events_.Watch(&cpu_->runDeadline);
}

void Machine::ClearStops() { std::fill(stops_.begin(), stops_.end(), 0); }

bool Machine::NothingCanWake() const {
    const Cpu& c = *cpu_;
    if (c.state == RunState::Running) return false;
    const bool irq = c.irqLine && !(c.regs.ccr & ccr::I);
    const bool xirq = c.xirqLine && (!(c.regs.ccr & ccr::X) || c.state == RunState::Stopped);
    if (irq || xirq) return false;
    return !interruptSources_ && events_.Empty();
}

Halt Machine::Run(const RunLimits& limits) {
    bool pass = limits.passFirstStop;
    cpu_->lastWasInstruction = false;
    for (;;) {
        if (haltRequested_) {
            haltRequested_ = false;
            return Halt::Requested;
        }
        events_.RunDue(cpu_->cycles);
        if (haltRequested_) continue;
        if (cpu_->cycles >= limits.maxCycles) return Halt::Deadline;
        if (NothingCanWake()) return Halt::Stopped;
        std::uint64_t deadline = std::min(limits.maxCycles, events_.NextTime());
        if (limits.single) deadline = std::min(deadline, cpu_->cycles + 1);
        const Halt h = cpu_->Run(deadline, pass);
        if (h != Halt::Deadline) return h;
        if (haltRequested_) continue;
        if (limits.single) {
            events_.RunDue(cpu_->cycles);
            return Halt::Deadline;
        }
        pass = false;
    }
}

Halt Machine::Step() {
    RunLimits limits;
    limits.passFirstStop = true;
    limits.single = true;
    return Run(limits);
}

} // namespace qorb::sim
