// The board and the stepping interface a debugger uses: memory with and
// without side effects, the event queue, stop addresses, single steps,
// waking a waiting CPU from an event.

#include <gtest/gtest.h>

#include <initializer_list>
#include <vector>

#include "core/machine.h"

using namespace qorb::sim;

namespace {

void Load(Machine& m, std::uint16_t at, std::initializer_list<std::uint8_t> bytes) {
    for (const std::uint8_t b : bytes) m.GetBus().Poke(at++, b);
}

// A status register that a read clears, like a serial port's flags.
class ClearOnRead : public Device {
public:
    std::uint8_t value = 0x80;
    int reads = 0;
    std::vector<std::uint8_t> written;
    std::uint8_t Read(std::uint16_t) override {
        ++reads;
        const std::uint8_t v = value;
        value = 0;
        return v;
    }
    std::uint8_t Peek(std::uint16_t) const override { return value; }
    void Write(std::uint16_t, std::uint8_t v) override { written.push_back(v); }
};

} // namespace

TEST(Bus, DevicesSeeProgramAccessesAndDebuggersDoNot) {
    Machine m(CpuModel::Cpu12);
    ClearOnRead dev;
    m.GetBus().MapDevice(0x0080, 0x0080, &dev);
    EXPECT_FALSE(m.GetBus().Flat());
    EXPECT_EQ(m.GetBus().Peek(0x0080), 0x80);
    EXPECT_EQ(dev.reads, 0);
    // ldaa $80; staa $80; ldab $81; bgnd
    Load(m, 0x1000, {0x96, 0x80, 0x5A, 0x80, 0xD6, 0x81, 0x00});
    m.GetBus().Poke(0x0081, 0x42); // same page, plain memory
    m.GetCpu().regs.pc = 0x1000;
    EXPECT_EQ(m.Run({}), Halt::Background);
    EXPECT_EQ(m.GetCpu().regs.a, 0x80);
    EXPECT_EQ(m.GetCpu().regs.b, 0x42);
    EXPECT_EQ(dev.reads, 1);
    EXPECT_EQ(dev.written, std::vector<std::uint8_t>{0x80});
    EXPECT_EQ(m.GetBus().Peek(0x0080), 0x00);
}

TEST(Bus, ReadOnlyMemoryIgnoresTheProgram) {
    Machine m(CpuModel::Hc11);
    m.GetBus().MapReadOnly(0xE000, 0xFFFF);
    m.GetBus().Poke(0xE000, 0x55); // loaders and debuggers still store
    // ldaa #$AA; staa $E000; ldab $E000; ldaa #0 ; test -> illegal (vector unset)
    Load(m, 0x1000, {0x86, 0xAA, 0xB7, 0xE0, 0x00, 0xF6, 0xE0, 0x00, 0x00});
    m.GetCpu().regs.pc = 0x1000;
    EXPECT_EQ(m.Run({}), Halt::IllegalOpcode);
    EXPECT_EQ(m.GetCpu().regs.b, 0x55);
    EXPECT_EQ(m.GetCpu().regs.pc, 0x1008);
}

TEST(EventQueue, RunsInTimeOrderAndHonoursCancel) {
    EventQueue q;
    std::vector<int> order;
    q.Schedule(30, [&](std::uint64_t) { order.push_back(3); });
    const auto id = q.Schedule(20, [&](std::uint64_t) { order.push_back(99); });
    q.Schedule(10, [&](std::uint64_t now) {
        order.push_back(1);
        q.Schedule(now, [&](std::uint64_t) { order.push_back(2); }); // same cycle, runs in this pass
    });
    q.Cancel(id);
    EXPECT_EQ(q.NextTime(), 10u);
    q.RunDue(25);
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
    EXPECT_EQ(q.NextTime(), 30u);
    q.RunDue(30);
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
    EXPECT_TRUE(q.Empty());
}

TEST(Stepping, StepRunStopAndResume) {
    Machine m(CpuModel::Cpu12);
    // 1000 ldaa #1; 1002 inca; 1003 inca; 1004 bra 1002
    Load(m, 0x1000, {0x86, 0x01, 0x42, 0x42, 0x20, 0xFC});
    Cpu& cpu = m.GetCpu();
    cpu.regs.pc = 0x1000;
    m.AddStop(0x1004);
    EXPECT_EQ(m.Step(), Halt::Deadline);
    EXPECT_EQ(cpu.regs.pc, 0x1002);
    EXPECT_EQ(cpu.instructions, 1u);
    EXPECT_EQ(m.Run({}), Halt::StopAddress);
    EXPECT_EQ(cpu.regs.pc, 0x1004);
    EXPECT_EQ(cpu.regs.a, 3);
    // A stop address at the PC holds a plain run there; resuming passes it.
    EXPECT_EQ(m.Run({}), Halt::StopAddress);
    EXPECT_EQ(cpu.regs.pc, 0x1004);
    RunLimits resume;
    resume.passFirstStop = true;
    EXPECT_EQ(m.Run(resume), Halt::StopAddress);
    EXPECT_EQ(cpu.regs.a, 5);
    EXPECT_EQ(cpu.cycles, 1u + 1 + 1 + 3 + 1 + 1);
    // Registers written between runs take effect; nothing else changes.
    cpu.regs.a = 0x7F;
    cpu.regs.pc = 0x1003;
    m.RemoveStop(0x1004);
    RunLimits limit;
    limit.maxCycles = cpu.cycles + 2;
    EXPECT_EQ(m.Run(limit), Halt::Deadline);
    EXPECT_EQ(cpu.regs.a, 0x80);
    EXPECT_EQ(cpu.regs.ccr & (ccr::N | ccr::V), ccr::N | ccr::V);
}

TEST(Stepping, AnEventWakesAWaitingCpu) {
    for (const CpuModel model : {CpuModel::Cpu12, CpuModel::Hc11}) {
        Machine m(model);
        const bool hc11 = model == CpuModel::Hc11;
        // cli; wai; then the handler at $2000 ends the run
        if (hc11)
            Load(m, 0x1000, {0x0E, 0x3E});
        else
            Load(m, 0x1000, {0x10, 0xEF, 0x3E});
        Load(m, 0x2000, {static_cast<std::uint8_t>(hc11 ? 0x41 : 0x00)});
        Load(m, 0xFFF2, {0x20, 0x00});
        Cpu& cpu = m.GetCpu();
        cpu.regs.pc = 0x1000;
        cpu.regs.sp = 0x0800;
        // Without a source of interrupts the wait cannot end.
        EXPECT_EQ(m.Run({}), Halt::Stopped) << static_cast<int>(model);
        EXPECT_EQ(cpu.state, RunState::Waiting);
        // A device raises IRQ at cycle 500: the clock runs to it.
        m.SetInterruptSources(true);
        m.Events().Schedule(500, [&](std::uint64_t) { cpu.irqLine = true; });
        EXPECT_EQ(m.Run({}), hc11 ? Halt::IllegalOpcode : Halt::Background);
        EXPECT_GE(cpu.cycles, 500u);
        EXPECT_EQ(cpu.state, RunState::Running);
        EXPECT_EQ(cpu.regs.ccr & ccr::I, ccr::I);
    }
}

TEST(Stepping, InterruptsTakeTheirVectorsByPriorityAndMasks) {
    Machine m(CpuModel::Cpu12);
    // 1000 nop ... ; IRQ handler at $2000, XIRQ handler at $3000: bgnd
    Load(m, 0x1000, {0xA7, 0xA7, 0xA7, 0xA7});
    Load(m, 0x2000, {0x00});
    Load(m, 0x3000, {0x00});
    Load(m, 0xFFF2, {0x20, 0x00});
    Load(m, 0xFFF4, {0x30, 0x00});
    Cpu& cpu = m.GetCpu();
    cpu.regs.pc = 0x1000;
    cpu.regs.sp = 0x0800;
    cpu.regs.ccr = 0xD0;
    cpu.irqLine = cpu.xirqLine = true;
    // Both masked: the program runs on.
    EXPECT_EQ(m.Step(), Halt::Deadline);
    EXPECT_EQ(cpu.regs.pc, 0x1001);
    // X cleared: XIRQ first, entering with X and I set.
    cpu.regs.ccr = 0x80;
    EXPECT_EQ(m.Step(), Halt::Deadline); // the exception entry is one step
    EXPECT_EQ(cpu.regs.pc, 0x3000);
    EXPECT_EQ(cpu.regs.ccr, 0xD0);
    EXPECT_EQ(cpu.regs.sp, 0x0800 - 9);
    EXPECT_FALSE(cpu.lastWasInstruction);
    EXPECT_EQ(m.GetBus().Peek(0x0800 - 9), 0x80); // stacked CCR
    EXPECT_EQ(m.GetBus().Peek(0x0800 - 2), 0x10); // return address $1001
    EXPECT_EQ(m.GetBus().Peek(0x0800 - 1), 0x01);
}

TEST(Stepping, ResetFetchesTheVectorAndMasksInterrupts) {
    for (const CpuModel model : {CpuModel::Cpu12, CpuModel::Hcs12, CpuModel::Hc11}) {
        Machine m(model);
        Load(m, 0xFFFE, {0x12, 0x34});
        Cpu& cpu = m.GetCpu();
        cpu.regs.a = 0x55;
        cpu.regs.ccr = 0x00;
        cpu.cycles = 7;
        cpu.Reset();
        EXPECT_EQ(cpu.regs.pc, 0x1234);
        EXPECT_EQ(cpu.regs.ccr, 0xD0);
        EXPECT_EQ(cpu.regs.a, 0);
        EXPECT_EQ(cpu.cycles, 7u); // the reset costs no cycles
        EXPECT_EQ(cpu.state, RunState::Running);
    }
}
