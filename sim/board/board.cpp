// The board's memory map and its register blocks: the 68HC11's 64 bytes
// (moved by INIT), the MC68HC912B32's and the MC9S12DP256's.

#include "board/board.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "board/devices.h"
#include "core/bus.h"
#include "core/hex.h"
#include "core/machine.h"

namespace qorb::sim {

namespace {

struct PortName {
    std::uint16_t offset;
    const char* name;
};

constexpr PortName kPorts11[] = {{0x00, "PORTA"}, {0x02, "PIOC"},   {0x03, "PORTC"},
                                 {0x04, "PORTB"}, {0x05, "PORTCL"}, {0x07, "DDRC"},
                                 {0x08, "PORTD"}, {0x09, "DDRD"},   {0x0A, "PORTE"}};
constexpr PortName kPorts912[] = {{0x00, "PORTA"},   {0x01, "PORTB"}, {0x02, "DDRA"},  {0x03, "DDRB"},
                                  {0x08, "PORTE"},   {0x09, "DDRE"},  {0x56, "PORTP"}, {0x57, "DDRP"},
                                  {0xAE, "PORTT"},   {0xAF, "DDRT"},  {0xD6, "PORTS"}, {0xD7, "DDRS"},
                                  {0xFE, "PORTDLC"}, {0xFF, "DDRDLC"}};
constexpr PortName kPortsS12[] = {{0x000, "PORTA"}, {0x001, "PORTB"}, {0x002, "DDRA"},  {0x003, "DDRB"},
                                  {0x008, "PORTE"}, {0x009, "DDRE"},  {0x032, "PORTK"}, {0x033, "DDRK"},
                                  {0x240, "PTT"},   {0x242, "DDRT"},  {0x248, "PTS"},   {0x24A, "DDRS"},
                                  {0x250, "PTM"},   {0x252, "DDRM"},  {0x258, "PTP"},   {0x25A, "DDRP"},
                                  {0x260, "PTH"},   {0x262, "DDRH"},  {0x268, "PTJ"},   {0x26A, "DDRJ"}};

} // namespace

struct Board::Impl {
    enum Kind : std::uint8_t { kRam, kRom, kEeprom, kUnmapped };

    Impl(Board& board, const BoardProfile& profile, Machine& machine, std::ostream& diag)
        : board(board), profile(profile), machine(machine), bus(machine.GetBus()), diag(diag),
          ints(machine.GetCpu()), warned(0x10000, false), rom(*this), unmapped(*this) {}

    // Reads and writes where nothing answers, or writes to ROM: the
    // board's policy says what happens.
    void Report(std::uint16_t a, bool romWrite, bool write) {
        const AccessPolicy p = romWrite ? profile.romWrite : profile.unmapped;
        if (p == AccessPolicy::Ignore) return;
        const std::string text =
            romWrite ? "write to ROM at " + Hex4(a)
                     : std::string("unmapped ") + (write ? "write" : "read") + " at " + Hex4(a);
        if (p == AccessPolicy::Warn) {
            if (warned[a]) return;
            warned[a] = true;
            diag << "qorbsim: " << text << " (" << (romWrite || write ? "ignored" : "reads $FF") << ")\n";
            diag.flush();
            return;
        }
        if (!board.fault_) {
            board.fault_ = Fault{a, romWrite ? text : "unmapped access at " + Hex4(a)};
            machine.RequestHalt();
        }
    }

    class Rom final : public Device {
    public:
        explicit Rom(Impl& b) : b_(b) {}
        std::uint8_t Read(std::uint16_t a) override { return b_.bus.Ram()[a]; }
        std::uint8_t Peek(std::uint16_t a) const override { return b_.bus.Ram()[a]; }
        void Write(std::uint16_t a, std::uint8_t v) override {
            if (b_.kinds[a] == kEeprom && b_.eeprom.latched) {
                b_.eeprom.Latch(a, v);
                return;
            }
            b_.Report(a, true, true);
        }
        bool Poke(std::uint16_t a, std::uint8_t v) override {
            b_.bus.Ram()[a] = v;
            return true;
        }

    private:
        Impl& b_;
    };

    class Unmapped final : public Device {
    public:
        explicit Unmapped(Impl& b) : b_(b) {}
        std::uint8_t Read(std::uint16_t a) override {
            b_.Report(a, false, false);
            return 0xFF;
        }
        std::uint8_t Peek(std::uint16_t) const override { return 0xFF; }
        void Write(std::uint16_t a, std::uint8_t) override { b_.Report(a, false, true); }

    private:
        Impl& b_;
    };

    void TracePort(const PortName* ports, std::size_t n, std::uint16_t offset, std::uint16_t address,
                   std::uint8_t v) {
        if (!tracePorts) return;
        for (std::size_t i = 0; i < n; ++i)
            if (ports[i].offset == offset) {
                char buf[96];
                std::snprintf(buf, sizeof buf, "qorbsim: %s %s <- $%02X at cycle %llu\n", ports[i].name,
                              Hex4(address).c_str(), v,
                              static_cast<unsigned long long>(machine.GetCpu().cycles));
                diag << buf;
                diag.flush();
                return;
            }
    }

    void MoveInit(std::uint8_t init);

    // The 68HC11's EEPROM programming through PPROG: EELAT latches the
    // next write to the EEPROM (address and data), EPGM starts the
    // programming voltage, and turning EPGM off after at least 10 ms
    // completes it: programming clears bits (old AND new), erasing sets the
    // byte, its 16-byte row or the whole EEPROM to $FF. Turned off sooner,
    // the cells keep what they had.
    struct Eeprom {
        Impl* impl = nullptr;
        bool latched = false, haveData = false, pumping = false;
        std::uint8_t mode = 0, data = 0;
        std::uint16_t address = 0;
        std::uint64_t since = 0;
        void Latch(std::uint16_t a, std::uint8_t v) {
            if (pumping) return;
            address = a;
            data = v;
            haveData = true;
        }
        void WritePprog(std::uint8_t v) {
            const std::uint64_t now = impl->machine.GetCpu().cycles;
            const bool epgm = v & 0x01;
            if (pumping && !epgm) Complete(now);
            if (!pumping && epgm && latched && haveData) {
                pumping = true;
                since = now;
            }
            if (!(v & 0x02)) haveData = false;
            latched = v & 0x02;
            mode = v;
        }
        void Complete(std::uint64_t now) {
            pumping = false;
            if (now - since < impl->profile.eclock / 100) return; // under 10 ms
            std::uint8_t* mem = impl->bus.Ram();
            if (!(mode & 0x04)) {
                mem[address] &= data;
                return;
            }
            std::uint32_t first = address, last = address;
            if (mode & 0x10) {
                // one byte
            } else if (mode & 0x08) {
                first = address & ~0x0Fu;
                last = first + 15;
            } else {
                first = 0, last = 0xFFFF; // bulk: every EEPROM byte
            }
            for (std::uint32_t a = first; a <= last; ++a)
                if (impl->kinds[a] == kEeprom) mem[a] = 0xFF;
        }
    } eeprom{this};

    // Lays the map out again: memory ranges, internal RAM, the register
    // block on top, and the guards on what is not plain RAM.
    void Map() {
        std::vector<std::uint8_t> kind(0x10000, kUnmapped);
        for (const MemoryRange& r : profile.memory)
            for (std::uint32_t a = r.first; a <= r.last; ++a)
                kind[a] = r.kind == MemoryRange::Ram ? kRam : r.kind == MemoryRange::Rom ? kRom : kEeprom;
        for (std::uint32_t i = 0; i < profile.internalRam; ++i) kind[(iramBase + i) & 0xFFFF] = kRam;
        kinds = kind;
        bus.ClearMappings();
        std::uint32_t a = 0;
        while (a < 0x10000) {
            std::uint32_t e = a;
            while (e + 1 < 0x10000 && kind[e + 1] == kind[a]) ++e;
            if (kind[a] == kUnmapped)
                bus.MapDevice(static_cast<std::uint16_t>(a), static_cast<std::uint16_t>(e), &unmapped);
            else if (kind[a] != kRam)
                bus.MapDevice(static_cast<std::uint16_t>(a), static_cast<std::uint16_t>(e), &rom);
            a = e + 1;
        }
        if (block) bus.MapDevice(regBase, static_cast<std::uint16_t>(regBase + regSize - 1), block.get());
    }

    Board& board;
    const BoardProfile& profile;
    Machine& machine;
    Bus& bus;
    std::ostream& diag;
    Interrupts ints;
    std::vector<bool> warned;
    std::vector<std::uint8_t> kinds;
    Rom rom;
    Unmapped unmapped;
    bool tracePorts = false;
    std::uint16_t regBase = 0, iramBase = 0;
    std::uint32_t regSize = 0;
    std::unique_ptr<Sci> sciDev;
    std::unique_ptr<Timer> timer;
    std::unique_ptr<Device> block;
};

namespace {

// ---------------------------------------------------------------- 68HC11

class Hc11Block final : public Device {
public:
    explicit Hc11Block(Board::Impl& b) : b_(b), sci_(*b.sciDev), timer_(*b.timer) {
        std::memset(reg_, 0, sizeof reg_);
        reg_[0x3D] = 0x01; // INIT: RAM at $0000, registers at $1000
        reg_[0x39] = 0x10; // OPTION: DLY
        UpdateBaud();
        UpdateRti();
    }

    std::uint8_t Read(std::uint16_t a) override {
        const unsigned o = a & 0x3F;
        switch (o) {
        case 0x2E: return sci_.ReadStatus();
        case 0x2F: return sci_.ReadData();
        default: return Peek(a);
        }
    }

    std::uint8_t Peek(std::uint16_t a) const override {
        const unsigned o = a & 0x3F;
        if (o >= 0x16 && o <= 0x1F) {
            const std::uint16_t c = timer_.Compare((o - 0x16) / 2);
            return static_cast<std::uint8_t>(o & 1 ? c : c >> 8);
        }
        switch (o) {
        case 0x0B: return 0; // CFORC reads as zeros
        case 0x0E: return static_cast<std::uint8_t>(timer_.Tcnt() >> 8);
        case 0x0F: return static_cast<std::uint8_t>(timer_.Tcnt());
        case 0x22: return static_cast<std::uint8_t>((reg_[o] & 0x07) | timer_.CompareMask());
        case 0x23: return timer_.CompareFlags();
        case 0x24:
            return static_cast<std::uint8_t>((timer_.OverflowEnable() ? 0x80 : 0) |
                                             (timer_.RtiEnable() ? 0x40 : 0) | (reg_[o] & 0x3F));
        case 0x25:
            return static_cast<std::uint8_t>((timer_.Overflow() ? 0x80 : 0) | (timer_.RtiFlag() ? 0x40 : 0));
        case 0x2C: return sci_.Control1();
        case 0x2D: return sci_.Control2();
        case 0x2E: return sci_.PeekStatus();
        case 0x2F: return sci_.PeekData();
        default: return reg_[o];
        }
    }

    void Write(std::uint16_t a, std::uint8_t v) override {
        const unsigned o = a & 0x3F;
        b_.TracePort(kPorts11, std::size(kPorts11), static_cast<std::uint16_t>(o), a, v);
        if (o >= 0x16 && o <= 0x1F) {
            const unsigned ch = (o - 0x16) / 2;
            const std::uint16_t c = timer_.Compare(ch);
            timer_.SetCompare(ch, o & 1 ? static_cast<std::uint16_t>((c & 0xFF00) | v)
                                        : static_cast<std::uint16_t>((c & 0x00FF) | v << 8));
            return;
        }
        switch (o) {
        case 0x0E: // TCNT, TIC1-3: read-only in normal modes
        case 0x0F:
        case 0x10:
        case 0x11:
        case 0x12:
        case 0x13:
        case 0x14:
        case 0x15: return;
        case 0x22:
            reg_[o] = v;
            timer_.SetCompareMask(v & 0xF8);
            return;
        case 0x23: timer_.ClearCompareFlags(v); return;
        case 0x24:
            // PR1:PR0 are time-protected.
            if (Protected(kProtTmsk2)) {
                static const std::uint32_t kPrescale[4] = {1, 4, 8, 16};
                timer_.SetPrescale(kPrescale[v & 3]);
                reg_[o] = static_cast<std::uint8_t>((reg_[o] & ~0x03) | (v & 0x03));
            }
            reg_[o] = static_cast<std::uint8_t>((reg_[o] & 0x03) | (v & 0x30));
            timer_.SetOverflowEnable(v & 0x80);
            timer_.SetRtiEnable(v & 0x40);
            return;
        case 0x25:
            if (v & 0x80) timer_.ClearOverflow();
            if (v & 0x40) timer_.ClearRti();
            return;
        case 0x26:
            reg_[o] = v;
            UpdateRti();
            return;
        case 0x2B:
            reg_[o] = v;
            UpdateBaud();
            return;
        case 0x2C: sci_.WriteControl1(v); return;
        case 0x2D: sci_.WriteControl2(v); return;
        case 0x2E: return;
        case 0x2F: sci_.WriteData(v); return;
        case 0x39: {
            // IRQE, DLY, CR1:CR0 are time-protected; ADPU, CSEL, CME are not.
            std::uint8_t keep = 0x33;
            if (Protected(kProtOption)) keep = 0;
            reg_[o] = static_cast<std::uint8_t>((reg_[o] & keep) | (v & ~keep));
            return;
        }
        case 0x3B:
            reg_[o] = v;
            b_.eeprom.WritePprog(v);
            return;
        case 0x3D:
            if (Protected(kProtInit)) {
                reg_[o] = v;
                b_.MoveInit(v);
            }
            return;
        default: reg_[o] = v; return;
        }
    }

private:
    enum { kProtInit, kProtOption, kProtTmsk2 };
    // The time-protected bits take one write, within the first 64 E cycles
    // after reset (normal modes).
    bool Protected(int which) {
        if (protectedDone_[which] || b_.machine.GetCpu().cycles >= 64) return false;
        protectedDone_[which] = true;
        return true;
    }
    void UpdateBaud() {
        static const std::uint32_t kScp[4] = {1, 3, 4, 13};
        const std::uint8_t baud = reg_[0x2B];
        sci_.SetBitCycles(16 * kScp[(baud >> 4) & 3] * (1u << (baud & 7)));
    }
    void UpdateRti() { timer_.SetRtiPeriod(std::uint64_t{8192} << (reg_[0x26] & 3)); }

    Board::Impl& b_;
    Sci& sci_;
    Timer& timer_;
    std::uint8_t reg_[64];
    bool protectedDone_[3] = {};
};

// ---------------------------------------------------------------- 68HC12

class Hc12Block final : public Device {
public:
    Hc12Block(Board::Impl& b, bool s12)
        : b_(b), sci_(*b.sciDev), timer_(*b.timer), s12_(s12), size_(s12 ? 0x400 : 0x200),
          tim_(s12 ? 0x40 : 0x80), sci0_(s12 ? 0xC8 : 0xC0), reg_(size_, 0) {
        reg_[sci0_ + 1] = 0x04; // SBR = 4
        UpdateBaud();
    }
    std::uint32_t Size() const { return size_; }

    std::uint8_t Read(std::uint16_t a) override {
        const unsigned o = Offset(a);
        if (o == sci0_ + 4u) return sci_.ReadStatus();
        if (o == sci0_ + 7u) return sci_.ReadData();
        return Peek(a);
    }

    std::uint8_t Peek(std::uint16_t a) const override {
        const unsigned o = Offset(a);
        if (o >= tim_ && o < tim_ + 0x20u) {
            const unsigned t = o - tim_;
            if (t >= 0x10) {
                const std::uint16_t c = timer_.Compare((t - 0x10) / 2);
                return static_cast<std::uint8_t>(t & 1 ? c : c >> 8);
            }
            switch (t) {
            case 0x0: return timer_.Outputs();
            case 0x1: return 0;
            case 0x4: return static_cast<std::uint8_t>(timer_.Tcnt() >> 8);
            case 0x5: return static_cast<std::uint8_t>(timer_.Tcnt());
            case 0xC: return timer_.CompareMask();
            case 0xD:
                return static_cast<std::uint8_t>((timer_.OverflowEnable() ? 0x80 : 0) | (reg_[o] & 0x7F));
            case 0xE: return timer_.CompareFlags();
            case 0xF: return timer_.Overflow() ? 0x80 : 0;
            default: return reg_[o];
            }
        }
        if (o >= sci0_ && o < sci0_ + 8u) {
            switch (o - sci0_) {
            case 2: return sci_.Control1();
            case 3: return sci_.Control2();
            case 4: return sci_.PeekStatus();
            case 7: return sci_.PeekData();
            default: return reg_[o];
            }
        }
        if (!s12_ && o == 0x15) return timer_.RtiFlag() ? 0x80 : 0;
        if (!s12_ && o == 0x14)
            return static_cast<std::uint8_t>((timer_.RtiEnable() ? 0x80 : 0) | (reg_[o] & 0x7F));
        if (s12_ && o == 0x37)
            return static_cast<std::uint8_t>((timer_.RtiFlag() ? 0x80 : 0) | (reg_[o] & 0x7F));
        if (s12_ && o == 0x38)
            return static_cast<std::uint8_t>((timer_.RtiEnable() ? 0x80 : 0) | (reg_[o] & 0x7F));
        return reg_[o];
    }

    void Write(std::uint16_t a, std::uint8_t v) override {
        const unsigned o = Offset(a);
        if (s12_)
            b_.TracePort(kPortsS12, std::size(kPortsS12), static_cast<std::uint16_t>(o), a, v);
        else
            b_.TracePort(kPorts912, std::size(kPorts912), static_cast<std::uint16_t>(o), a, v);
        if (o >= tim_ && o < tim_ + 0x20u) {
            const unsigned t = o - tim_;
            if (t >= 0x10) {
                const unsigned ch = (t - 0x10) / 2;
                const std::uint16_t c = timer_.Compare(ch);
                timer_.SetCompare(ch, t & 1 ? static_cast<std::uint16_t>((c & 0xFF00) | v)
                                            : static_cast<std::uint16_t>((c & 0x00FF) | v << 8));
                return;
            }
            switch (t) {
            case 0x0: timer_.SetOutputs(v); return;
            case 0x4:
            case 0x5: return; // TCNT is read-only in normal modes
            case 0x6:
                reg_[o] = v;
                timer_.SetRunning(v & 0x80);
                return;
            case 0xC: timer_.SetCompareMask(v); return;
            case 0xD:
                reg_[o] = v;
                timer_.SetOverflowEnable(v & 0x80);
                timer_.SetResetOnCompare7(v & 0x08);
                timer_.SetPrescale(1u << (v & 7));
                return;
            case 0xE: timer_.ClearCompareFlags(v); return;
            case 0xF:
                if (v & 0x80) timer_.ClearOverflow();
                return;
            default: reg_[o] = v; return;
            }
        }
        if (o >= sci0_ && o < sci0_ + 8u) {
            switch (o - sci0_) {
            case 0:
            case 1:
                reg_[o] = v;
                UpdateBaud();
                return;
            case 2: sci_.WriteControl1(v); return;
            case 3: sci_.WriteControl2(v); return;
            case 4:
            case 5: return;
            case 7: sci_.WriteData(v); return;
            default: reg_[o] = v; return;
            }
        }
        if (!s12_ && o == 0x14) {
            // RTICTL: RTIE, and RTR2:0 giving a period of 2^(12+RTR) cycles.
            reg_[o] = v;
            timer_.SetRtiEnable(v & 0x80);
            timer_.SetRtiPeriod(v & 7 ? std::uint64_t{1} << (12 + (v & 7)) : 0);
            return;
        }
        if (!s12_ && o == 0x15) {
            if (v & 0x80) timer_.ClearRti();
            return;
        }
        if (s12_ && o == 0x37) {
            if (v & 0x80) timer_.ClearRti();
            reg_[o] = static_cast<std::uint8_t>(v & 0x7F);
            return;
        }
        if (s12_ && o == 0x38) {
            reg_[o] = static_cast<std::uint8_t>(v & 0x7F);
            timer_.SetRtiEnable(v & 0x80);
            return;
        }
        if (s12_ && o == 0x3B) {
            // RTICTL: (RTR3:0 + 1) * 2^(RTR6:4 + 9) oscillator cycles; the
            // bus clock is half the oscillator's without the PLL.
            reg_[o] = v;
            const unsigned p = (v >> 4) & 7, m = v & 15;
            timer_.SetRtiPeriod(p ? std::uint64_t{m + 1} << (p + 8) : 0);
            return;
        }
        reg_[o] = v;
    }

private:
    unsigned Offset(std::uint16_t a) const { return static_cast<unsigned>(a - b_.regBase) & (size_ - 1); }
    void UpdateBaud() {
        const unsigned sbr = (reg_[sci0_] & 0x1F) << 8 | reg_[sci0_ + 1];
        sci_.SetBitCycles(16 * sbr);
    }

    Board::Impl& b_;
    Sci& sci_;
    Timer& timer_;
    bool s12_;
    std::uint32_t size_;
    unsigned tim_, sci0_;
    std::vector<std::uint8_t> reg_;
};

} // namespace

void Board::Impl::MoveInit(std::uint8_t init) {
    // INIT's high nibble places the internal RAM, its low nibble the
    // register block, each at a 4 KB boundary. The RAM's contents move with
    // it.
    std::vector<std::uint8_t> saved(profile.internalRam);
    for (std::uint32_t i = 0; i < profile.internalRam; ++i) saved[i] = bus.Ram()[(iramBase + i) & 0xFFFF];
    iramBase = static_cast<std::uint16_t>((init >> 4) << 12);
    regBase = static_cast<std::uint16_t>((init & 15) << 12);
    Map();
    for (std::uint32_t i = 0; i < profile.internalRam; ++i) bus.Ram()[(iramBase + i) & 0xFFFF] = saved[i];
}

Board::Board(const BoardProfile& profile, Machine& machine, std::ostream& diag)
    : profile_(profile), impl_(std::make_unique<Impl>(*this, profile_, machine, diag)) {
    Impl& m = *impl_;
    const bool hc11 = profile_.cpu == CpuModel::Hc11;
    if (profile_.registers) {
        m.sciDev = std::make_unique<Sci>(machine, m.ints, 0xFFD6);
        m.timer = std::make_unique<Timer>(machine, m.ints, hc11 ? Timer::Kind::Hc11 : Timer::Kind::Hc12);
        m.regBase = *profile_.registers;
        if (hc11) {
            m.block = std::make_unique<Hc11Block>(m);
            m.regSize = 64;
        } else {
            auto b = std::make_unique<Hc12Block>(m, profile_.s12);
            m.regSize = b->Size();
            m.block = std::move(b);
        }
        machine.SetInterruptSources(true);
    }
    // Erased ROM, EEPROM and flash read $FF until a file brings contents.
    for (const MemoryRange& r : profile_.memory)
        if (r.kind != MemoryRange::Ram)
            for (std::uint32_t a = r.first; a <= r.last; ++a) machine.GetBus().Ram()[a] = 0xFF;
    m.iramBase = 0x0000;
    m.Map();
    if (profile_.resetVector) {
        machine.GetBus().Poke(0xFFFE, static_cast<std::uint8_t>(*profile_.resetVector >> 8));
        machine.GetBus().Poke(0xFFFF, static_cast<std::uint8_t>(*profile_.resetVector));
    }
}

Board::~Board() = default;

void Board::SetSerial(SerialPort* port) {
    if (impl_->sciDev) impl_->sciDev->SetPort(port);
}

void Board::SerialInput() {
    if (impl_->sciDev) impl_->sciDev->HostInput();
}

void Board::SetTracePorts(bool on) { impl_->tracePorts = on; }

const char* Board::LoadTarget(std::uint16_t a) const {
    const Impl& m = *impl_;
    if (m.block && a >= m.regBase && static_cast<std::uint32_t>(a - m.regBase) < m.regSize)
        return "the register block";
    if (m.kinds[a] == Impl::kUnmapped) return "no memory";
    return nullptr;
}

bool Board::Misplaced(const LoadedImage& image, std::uint16_t& at, const char*& what) const {
    for (std::uint32_t a = 0; a < 0x10000; ++a) {
        at = static_cast<std::uint16_t>(a);
        if (image.Loaded(at) && (what = LoadTarget(at))) return true;
    }
    return false;
}

} // namespace qorb::sim
