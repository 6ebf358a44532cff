#pragma once

// The 64 KB address space a CPU sees. Plain memory is one array that the
// cores index directly; a page holding anything else (read-only memory, a
// device's registers) is marked, and only accesses to marked pages take the
// slow path through the mapping list. A board without devices (the flat
// board) marks no page, so the cores run a variant with no check at all.

#include <cstdint>
#include <memory>
#include <vector>

namespace qorb::sim {

// A device's register block. Reads may have side effects (a status flag
// cleared by reading); Peek must not, for debuggers and memory dumps.
class Device {
public:
    virtual ~Device() = default;
    virtual std::uint8_t Read(std::uint16_t address) = 0;
    virtual std::uint8_t Peek(std::uint16_t address) const = 0;
    virtual void Write(std::uint16_t address, std::uint8_t value) = 0;
    // A loader's store (Bus::Poke). Memory behind a device (ROM that
    // ignores the program's writes) takes it and returns true; registers
    // drop it.
    virtual bool Poke(std::uint16_t, std::uint8_t) { return false; }
};

class Bus {
public:
    enum PageKind : std::uint8_t { kPlain = 0, kMapped = 1 };

    Bus();

    std::uint8_t Read(std::uint16_t a) { return pageKind_[a >> 8] == kPlain ? ram_[a] : ReadSlow(a); }
    void Write(std::uint16_t a, std::uint8_t v) {
        if (pageKind_[a >> 8] == kPlain)
            ram_[a] = v;
        else
            WriteSlow(a, v);
    }

    // Side-effect free access for debuggers, loaders and dumps: memory and
    // read-only memory are read and written as stored, devices are peeked
    // (a poke into a device's range is dropped).
    std::uint8_t Peek(std::uint16_t a) const;
    void Poke(std::uint16_t a, std::uint8_t v);

    // Maps [first, last] to a device, or marks it read-only (writes from the
    // program are ignored; Poke still stores). Later mappings win.
    void MapDevice(std::uint16_t first, std::uint16_t last, Device* device);
    void MapReadOnly(std::uint16_t first, std::uint16_t last);
    // Drops every mapping: a board whose map changes at run time (the
    // 68HC11's INIT register) maps itself again from scratch.
    void ClearMappings();

    // True while no page needs the slow path: the cores then index the
    // array directly.
    bool Flat() const { return mappings_.empty(); }
    std::uint8_t* Ram() { return ram_.get(); }
    const std::uint8_t* PageKinds() const { return pageKind_; }

    std::uint8_t ReadSlow(std::uint16_t a);
    void WriteSlow(std::uint16_t a, std::uint8_t v);

private:
    struct Mapping {
        std::uint16_t first, last;
        Device* device; // null: read-only memory
    };
    const Mapping* Find(std::uint16_t a) const;

    std::unique_ptr<std::uint8_t[]> ram_;
    std::uint8_t pageKind_[256] = {};
    std::vector<Mapping> mappings_;
};

} // namespace qorb::sim
