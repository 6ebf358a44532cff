#pragma once

// The on-chip devices real programs touch: the serial interface, the
// free-running timer with its output compares and the real-time interrupt.
// Each keeps its registers' state and works out times from the E-clock
// cycle count; the register blocks (board.cpp) place them at the offsets of
// the 68HC11 or the 68HC12 variant.

#include <array>
#include <cstdint>

#include "board/board.h"

namespace qorb::sim {

class Machine;
class Cpu;

// Interrupt sources by vector. On both CPUs a source with a higher vector
// address has the higher priority, so the pending source with the highest
// vector is the one the CPU takes.
class Interrupts {
public:
    explicit Interrupts(Cpu& cpu) : cpu_(cpu) {}
    void Set(std::uint16_t vector, bool on);

private:
    Cpu& cpu_;
    std::uint64_t pending_ = 0; // bit i: the vector at $FFFE - 2i
};

// SCSR/SCxSR1 and SCCR2/SCxCR2 bits, the same on both CPUs.
namespace sci {
inline constexpr std::uint8_t TDRE = 0x80, TC = 0x40, RDRF = 0x20, IDLE = 0x10, OR = 0x08;
inline constexpr std::uint8_t TIE = 0x80, TCIE = 0x40, RIE = 0x20, ILIE = 0x10, TE = 0x08, RE = 0x04;
inline constexpr std::uint8_t M = 0x10; // SCCR1: nine data bits
} // namespace sci

class Sci {
public:
    Sci(Machine& machine, Interrupts& ints, std::uint16_t vector);

    void SetPort(SerialPort* port) { port_ = port; }
    // E cycles per bit; 0 stops the baud generator (nothing moves).
    void SetBitCycles(std::uint32_t cycles);
    std::uint32_t BitCycles() const { return bitCycles_; }

    std::uint8_t ReadStatus();
    std::uint8_t PeekStatus() const { return sr_; }
    std::uint8_t ReadData();
    std::uint8_t PeekData() const { return rdr_; }
    void WriteData(std::uint8_t v);
    std::uint8_t Control1() const { return cr1_; }
    std::uint8_t Control2() const { return cr2_; }
    void WriteControl1(std::uint8_t v) { cr1_ = v; }
    void WriteControl2(std::uint8_t v);
    // Characters have arrived from the host: the receiver takes the next
    // one when it is idle.
    void HostInput() { StartReceive(Now()); }

private:
    std::uint64_t FrameCycles() const { return std::uint64_t{bitCycles_} * (cr1_ & sci::M ? 11 : 10); }
    std::uint64_t Now() const;
    void StartTransmit(std::uint64_t at);
    void StartReceive(std::uint64_t at);
    void TransmitDone(std::uint64_t at);
    void UpdateIrq();

    Machine& machine_;
    Interrupts& ints_;
    std::uint16_t vector_;
    SerialPort* port_ = nullptr;
    std::uint32_t bitCycles_ = 0;
    std::uint8_t sr_ = sci::TDRE | sci::TC, cr1_ = 0, cr2_ = 0;
    std::uint8_t tdr_ = 0, rdr_ = 0, shift_ = 0;
    bool shifting_ = false, receiving_ = false;
    std::uint8_t rxByte_ = 0;
    std::uint8_t readFlags_ = 0; // receive flags seen by the last status read
};

// TCNT: counts E-clock cycles divided by the prescaler from an origin, so
// reading it costs nothing while the program runs.
class FreeCounter {
public:
    std::uint64_t Ticks(std::uint64_t now) const { return running_ ? (now - origin_) / prescale_ : frozen_; }
    std::uint16_t Value(std::uint64_t now) const { return static_cast<std::uint16_t>(Ticks(now)); }
    std::uint64_t CycleOfTick(std::uint64_t tick) const { return origin_ + tick * prescale_; }
    std::uint32_t Prescale() const { return prescale_; }
    bool Running() const { return running_; }
    void SetPrescale(std::uint64_t now, std::uint32_t p);
    void SetRunning(std::uint64_t now, bool on);
    void Clear(std::uint64_t now); // the counter to 0 (68HC12 TCRE)

private:
    std::uint64_t origin_ = 0, frozen_ = 0;
    std::uint32_t prescale_ = 1;
    bool running_ = true;
};

// The free-running timer: TCNT, up to eight output compares, overflow, and
// the real-time interrupt, with their flags and interrupt enables. Layout
// and rules differ between the 68HC11 (five output compares, TFLG2 holds
// RTIF) and the 68HC12 (eight channels chosen by TIOS, counter enable,
// TCRE); the register blocks translate their offsets into these calls.
class Timer {
public:
    struct Channel {
        std::uint16_t compare = 0xFFFF;
        bool output = true; // an output compare (68HC12: TIOS)
        std::uint64_t next = 0;
    };
    enum class Kind : std::uint8_t { Hc11, Hc12 };

    Timer(Machine& machine, Interrupts& ints, Kind kind);

    std::uint64_t Now() const;
    std::uint16_t Tcnt() const { return counter_.Value(Now()); }
    void SetPrescale(std::uint32_t p);
    void SetRunning(bool on);
    void SetCompare(unsigned ch, std::uint16_t v);
    std::uint16_t Compare(unsigned ch) const { return ch_[ch].compare; }
    void SetOutputs(std::uint8_t tios);
    std::uint8_t Outputs() const;
    void SetResetOnCompare7(bool on) { tcre_ = on; }

    // Flag registers: compare flags (bit per channel, the layout's order),
    // overflow, RTI. Writes clear the flags whose bits are 1.
    std::uint8_t CompareFlags() const { return cflags_; }
    void ClearCompareFlags(std::uint8_t bits);
    std::uint8_t CompareMask() const { return cmask_; }
    void SetCompareMask(std::uint8_t m);
    bool Overflow() const { return tof_; }
    void ClearOverflow() { tof_ = false, Update(); }
    void SetOverflowEnable(bool on) { toi_ = on, Update(); }
    bool OverflowEnable() const { return toi_; }

    // The real-time interrupt: period in E cycles (0: off).
    void SetRtiPeriod(std::uint64_t cycles);
    bool RtiFlag() const { return rtif_; }
    void ClearRti() { rtif_ = false, Update(); }
    void SetRtiEnable(bool on) { rtie_ = on, Update(); }
    bool RtiEnable() const { return rtie_; }

private:
    // The flag bit of channel `ch`: on the 68HC11 OC1F is bit 7 (channel 0
    // is OC1), on the 68HC12 channel n is bit n.
    std::uint8_t Bit(unsigned ch) const {
        return static_cast<std::uint8_t>(kind_ == Kind::Hc11 ? 0x80 >> ch : 1u << ch);
    }
    std::uint16_t Vector(unsigned ch) const;
    unsigned Channels() const { return kind_ == Kind::Hc11 ? 5 : 8; }
    void Plan(unsigned ch, std::uint64_t now);
    void PlanAll();
    void Reschedule();
    void OnEvent(std::uint64_t now);
    void Update();

    Machine& machine_;
    Interrupts& ints_;
    Kind kind_;
    FreeCounter counter_;
    std::array<Channel, 8> ch_{};
    std::uint8_t cflags_ = 0, cmask_ = 0;
    bool tof_ = false, toi_ = false, tcre_ = false;
    std::uint64_t nextOverflow_ = 0;
    std::uint64_t rtiPeriod_ = 0, nextRti_ = 0;
    bool rtif_ = false, rtie_ = false;
    std::uint64_t eventId_ = 0;
};

} // namespace qorb::sim
