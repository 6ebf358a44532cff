#pragma once

// What a debugger, the command-line program and the tests see of a CPU
// core: its registers, and a way to run it up to a cycle deadline. The cores
// keep their registers in locals while they run and copy them back before
// returning, so reading or writing registers between runs has no side
// effects and costs nothing while running.

#include <cstdint>

namespace qorb::sim {

class Bus;

struct Registers {
    std::uint16_t pc = 0, sp = 0, x = 0, y = 0;
    std::uint8_t a = 0, b = 0;
    std::uint8_t ccr = 0xD0; // S, X and I set, as after reset
    std::uint8_t ppage = 0;  // the CPU12's program page register (CALL, RTC)
    std::uint16_t D() const { return static_cast<std::uint16_t>(a << 8 | b); }
    void SetD(std::uint16_t d) {
        a = static_cast<std::uint8_t>(d >> 8);
        b = static_cast<std::uint8_t>(d);
    }
    bool operator==(const Registers&) const = default;
};

namespace ccr {
inline constexpr std::uint8_t S = 0x80, X = 0x40, H = 0x20, I = 0x10, N = 0x08, Z = 0x04, V = 0x02, C = 0x01;
}

// Why a run returned.
enum class Halt : std::uint8_t {
    Deadline,      // the cycle deadline was reached
    StopAddress,   // the next instruction is at a stop address
    IllegalOpcode, // an illegal opcode or trap whose vector holds $0000 or $FFFF;
                   // nothing of it ran, the PC is at it
    Stopped,       // STOP ran, or the CPU waits and nothing can wake it
    Background,    // BGND ran
    Requested,     // a device or the host asked the run to end (Machine::RequestHalt)
};

// Waiting: WAI ran (registers stacked), an interrupt ends it.
// Stopped: STOP ran; an interrupt (or XIRQ) ends it as well.
enum class RunState : std::uint8_t { Running, Waiting, Stopped };

enum class CpuModel : std::uint8_t { Cpu12, Hcs12, Hc11 };

class Cpu {
public:
    virtual ~Cpu() = default;

    // Executes until the cycle count reaches `deadline` (the instruction
    // during which it does completes) or a halt. A stop address at the first
    // instruction is passed over when `passFirstStop` is set (resuming from
    // a breakpoint). A waiting or stopped CPU that no interrupt can wake
    // returns Stopped; one that an interrupt line could wake lets the clock
    // run to the deadline.
    virtual Halt Run(std::uint64_t deadline, bool passFirstStop) = 0;

    // Exception processing for reset: registers to their reset state, the
    // PC from the reset vector (read without side effects). Costs no cycles.
    virtual void Reset() = 0;

    virtual CpuModel Model() const = 0;

    Registers regs;
    std::uint64_t cycles = 0;
    std::uint64_t instructions = 0; // instructions executed (not exception entries)
    RunState state = RunState::Running;
    bool irqLine = false;  // IRQ input, level-sensitive, masked by I
    bool xirqLine = false; // XIRQ input, masked by X
    // The vector the interrupt controller presents with irqLine (the
    // highest-priority pending source); 0: the IRQ pin's own vector.
    std::uint16_t irqVector = 0;
    // The cycle the current run ends at. Run sets it; while devices are on
    // the bus the core reads it before every instruction, so a device can
    // bring it forward (an event scheduled sooner, a request to halt).
    std::uint64_t runDeadline = 0;
    // Set by Run: the last thing it did was execute an instruction (not an
    // exception entry, not a halt before the instruction).
    bool lastWasInstruction = false;

protected:
    explicit Cpu(Bus& bus, const std::uint8_t* stopFlags) : bus_(bus), stops_(stopFlags) {}
    Bus& bus_;
    const std::uint8_t* stops_; // 65536 flags, non-zero: stop before this address
};

} // namespace qorb::sim
