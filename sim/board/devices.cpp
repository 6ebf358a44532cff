#include "board/devices.h"

#include <algorithm>
#include <bit>

#include "core/machine.h"

namespace qorb::sim {

void Interrupts::Set(std::uint16_t vector, bool on) {
    const unsigned bit = (0xFFFEu - vector) / 2;
    if (bit >= 64) return;
    if (on)
        pending_ |= std::uint64_t{1} << bit;
    else
        pending_ &= ~(std::uint64_t{1} << bit);
    cpu_.irqLine = pending_ != 0;
    cpu_.irqVector = pending_ ? static_cast<std::uint16_t>(0xFFFE - 2 * std::countr_zero(pending_)) : 0;
}

// ---------------------------------------------------------------- serial

Sci::Sci(Machine& machine, Interrupts& ints, std::uint16_t vector)
    : machine_(machine), ints_(ints), vector_(vector) {}

std::uint64_t Sci::Now() const { return machine_.GetCpu().cycles; }

void Sci::SetBitCycles(std::uint32_t cycles) {
    bitCycles_ = cycles;
    StartTransmit(Now());
    StartReceive(Now());
}

std::uint8_t Sci::ReadStatus() {
    // The first half of the sequences that clear the flags: a status read
    // with the flag set, then a data access.
    readFlags_ = sr_ & (sci::RDRF | sci::IDLE | sci::OR);
    return sr_;
}

std::uint8_t Sci::ReadData() {
    if (readFlags_) {
        sr_ &= static_cast<std::uint8_t>(~readFlags_);
        readFlags_ = 0;
        UpdateIrq();
        StartReceive(Now());
    }
    return rdr_;
}

void Sci::WriteData(std::uint8_t v) {
    // The transmit data register takes the byte; TDRE and TC clear until
    // the shift register takes it over.
    tdr_ = v;
    sr_ &= static_cast<std::uint8_t>(~(sci::TDRE | sci::TC));
    StartTransmit(Now());
    UpdateIrq();
}

void Sci::WriteControl2(std::uint8_t v) {
    cr2_ = v;
    if (!(cr2_ & sci::RE)) receiving_ = false;
    StartTransmit(Now());
    StartReceive(Now());
    UpdateIrq();
}

// Frames follow each other from the end of the last one (`at`), not from
// the instruction boundary at which the machine dispatched its event.
void Sci::StartTransmit(std::uint64_t at) {
    if (shifting_ || (sr_ & sci::TDRE) || !(cr2_ & sci::TE) || bitCycles_ == 0) return;
    shift_ = tdr_;
    shifting_ = true;
    sr_ |= sci::TDRE;
    const std::uint64_t end = at + FrameCycles();
    machine_.Events().Schedule(end, [this, end](std::uint64_t) { TransmitDone(end); });
    UpdateIrq();
}

void Sci::TransmitDone(std::uint64_t at) {
    if (port_ && !port_->Put(shift_)) {
        // The host is not taking characters: hold the line, as a receiver
        // that has dropped clear-to-send would.
        const std::uint64_t end = at + FrameCycles();
        machine_.Events().Schedule(end, [this, end](std::uint64_t) { TransmitDone(end); });
        return;
    }
    shifting_ = false;
    if (!(sr_ & sci::TDRE)) {
        StartTransmit(at);
    } else {
        sr_ |= sci::TC;
        UpdateIrq();
    }
}

void Sci::StartReceive(std::uint64_t at) {
    if (receiving_ || !(cr2_ & sci::RE) || bitCycles_ == 0 || !port_ || !port_->Available()) return;
    receiving_ = true;
    rxByte_ = port_->Take();
    const std::uint64_t end = at + FrameCycles();
    machine_.Events().Schedule(end, [this, end](std::uint64_t) {
        if (!receiving_) return; // the receiver was turned off meanwhile
        receiving_ = false;
        if (sr_ & sci::RDRF) {
            sr_ |= sci::OR; // the program has not read the last one: this one is lost
        } else {
            rdr_ = rxByte_;
            sr_ |= sci::RDRF;
        }
        UpdateIrq();
        StartReceive(end);
    });
}

void Sci::UpdateIrq() {
    const bool on = ((cr2_ & sci::TIE) && (sr_ & sci::TDRE)) || ((cr2_ & sci::TCIE) && (sr_ & sci::TC)) ||
                    ((cr2_ & sci::RIE) && (sr_ & (sci::RDRF | sci::OR))) ||
                    ((cr2_ & sci::ILIE) && (sr_ & sci::IDLE));
    ints_.Set(vector_, on);
}

// ---------------------------------------------------------------- timer

void FreeCounter::SetPrescale(std::uint64_t now, std::uint32_t p) {
    if (p == 0) p = 1;
    if (running_) {
        const std::uint64_t t = Ticks(now);
        prescale_ = p;
        origin_ = now - std::min<std::uint64_t>(now, t * p);
    } else {
        prescale_ = p;
    }
}

void FreeCounter::SetRunning(std::uint64_t now, bool on) {
    if (on == running_) return;
    if (on) {
        origin_ = now - std::min<std::uint64_t>(now, frozen_ * prescale_);
    } else {
        frozen_ = Ticks(now);
    }
    running_ = on;
}

void FreeCounter::Clear(std::uint64_t now) {
    origin_ = now;
    frozen_ = 0;
}

Timer::Timer(Machine& machine, Interrupts& ints, Kind kind) : machine_(machine), ints_(ints), kind_(kind) {
    if (kind_ == Kind::Hc12) {
        // The 68HC12's timer is off until TEN; its channels are inputs
        // until TIOS makes them compares.
        counter_.SetRunning(0, false);
        for (auto& c : ch_) {
            c.compare = 0;
            c.output = false;
        }
    }
    PlanAll();
}

std::uint64_t Timer::Now() const { return machine_.GetCpu().cycles; }

std::uint16_t Timer::Vector(unsigned ch) const {
    return static_cast<std::uint16_t>(kind_ == Kind::Hc11 ? 0xFFE8 - 2 * ch : 0xFFEE - 2 * ch);
}

void Timer::SetPrescale(std::uint32_t p) {
    counter_.SetPrescale(Now(), p);
    PlanAll();
}

void Timer::SetRunning(bool on) {
    counter_.SetRunning(Now(), on);
    PlanAll();
}

void Timer::SetCompare(unsigned ch, std::uint16_t v) {
    ch_[ch].compare = v;
    Plan(ch, Now());
    Reschedule();
}

void Timer::SetOutputs(std::uint8_t tios) {
    for (unsigned c = 0; c < 8; ++c) ch_[c].output = (tios >> c) & 1;
    PlanAll();
}

std::uint8_t Timer::Outputs() const {
    std::uint8_t v = 0;
    for (unsigned c = 0; c < 8; ++c)
        if (ch_[c].output) v |= static_cast<std::uint8_t>(1u << c);
    return v;
}

void Timer::ClearCompareFlags(std::uint8_t bits) {
    cflags_ &= static_cast<std::uint8_t>(~bits);
    Update();
}

void Timer::SetCompareMask(std::uint8_t m) {
    cmask_ = m;
    Update();
}

void Timer::SetRtiPeriod(std::uint64_t cycles) {
    if (cycles == rtiPeriod_) return;
    rtiPeriod_ = cycles;
    nextRti_ = cycles ? Now() + cycles : 0;
    Reschedule();
}

// The cycle at which the counter next shows channel `ch`'s compare value.
void Timer::Plan(unsigned ch, std::uint64_t now) {
    Channel& c = ch_[ch];
    if (!c.output || !counter_.Running() || ch >= Channels()) {
        c.next = 0;
        return;
    }
    const std::uint64_t t = counter_.Ticks(now);
    std::uint64_t target = (t & ~std::uint64_t{0xFFFF}) | c.compare;
    if (target <= t) target += 0x10000;
    c.next = counter_.CycleOfTick(target);
}

void Timer::PlanAll() {
    const std::uint64_t now = Now();
    for (unsigned c = 0; c < 8; ++c) Plan(c, now);
    if (counter_.Running()) {
        const std::uint64_t t = counter_.Ticks(now);
        nextOverflow_ = counter_.CycleOfTick((t | 0xFFFF) + 1);
    } else {
        nextOverflow_ = 0;
    }
    Reschedule();
}

void Timer::Reschedule() {
    std::uint64_t next = EventQueue::kNever;
    for (const Channel& c : ch_)
        if (c.next) next = std::min(next, c.next);
    if (nextOverflow_) next = std::min(next, nextOverflow_);
    if (nextRti_) next = std::min(next, nextRti_);
    if (eventId_) machine_.Events().Cancel(eventId_);
    eventId_ = 0;
    if (next != EventQueue::kNever)
        eventId_ = machine_.Events().Schedule(next, [this](std::uint64_t now) { OnEvent(now); });
}

void Timer::OnEvent(std::uint64_t now) {
    eventId_ = 0;
    bool resetCounter = false;
    const std::uint64_t period = std::uint64_t{0x10000} * counter_.Prescale();
    for (unsigned i = 0; i < Channels(); ++i) {
        Channel& c = ch_[i];
        if (!c.next || c.next > now) continue;
        cflags_ |= Bit(i);
        c.next += period;
        if (i == 7 && tcre_) resetCounter = true;
    }
    if (nextOverflow_ && nextOverflow_ <= now) {
        tof_ = true;
        nextOverflow_ += period;
    }
    if (nextRti_ && nextRti_ <= now) {
        rtif_ = true;
        while (nextRti_ <= now) nextRti_ += rtiPeriod_;
    }
    Update();
    if (resetCounter) {
        counter_.Clear(now);
        PlanAll();
    } else {
        Reschedule();
    }
}

void Timer::Update() {
    for (unsigned i = 0; i < Channels(); ++i) ints_.Set(Vector(i), (cflags_ & cmask_ & Bit(i)) != 0);
    ints_.Set(0xFFDE, tof_ && toi_);
    ints_.Set(0xFFF0, rtif_ && rtie_);
}

} // namespace qorb::sim
