#include "core/bus.h"

namespace qorb::sim {

Bus::Bus() : ram_(new std::uint8_t[0x10000]()) {}

const Bus::Mapping* Bus::Find(std::uint16_t a) const {
    // Newest first, so a later mapping covers an earlier one.
    for (auto it = mappings_.rbegin(); it != mappings_.rend(); ++it)
        if (a >= it->first && a <= it->last) return &*it;
    return nullptr;
}

std::uint8_t Bus::ReadSlow(std::uint16_t a) {
    const Mapping* m = Find(a);
    if (m && m->device) return m->device->Read(a);
    return ram_[a];
}

void Bus::WriteSlow(std::uint16_t a, std::uint8_t v) {
    const Mapping* m = Find(a);
    if (!m) {
        ram_[a] = v;
    } else if (m->device) {
        m->device->Write(a, v);
    }
    // read-only memory ignores the program's writes
}

std::uint8_t Bus::Peek(std::uint16_t a) const {
    if (pageKind_[a >> 8] == kPlain) return ram_[a];
    const Mapping* m = Find(a);
    if (m && m->device) return m->device->Peek(a);
    return ram_[a];
}

void Bus::Poke(std::uint16_t a, std::uint8_t v) {
    if (pageKind_[a >> 8] != kPlain) {
        const Mapping* m = Find(a);
        if (m && m->device) {
            m->device->Poke(a, v);
            return;
        }
    }
    ram_[a] = v;
}

void Bus::MapDevice(std::uint16_t first, std::uint16_t last, Device* device) {
    if (first > last) return;
    mappings_.push_back({first, last, device});
    for (unsigned p = first >> 8; p <= (last >> 8); ++p) pageKind_[p] = kMapped;
}

void Bus::ClearMappings() {
    mappings_.clear();
    for (auto& k : pageKind_) k = kPlain;
}

void Bus::MapReadOnly(std::uint16_t first, std::uint16_t last) { MapDevice(first, last, nullptr); }

} // namespace qorb::sim
