// Sections: finding and opening them, switching between them, the offset
// block, and placing a line's bytes into the current section's image.

#include "sections.h"

#include "impl.h"

namespace qorb {

Section* Assembler::Impl::FindSection(std::string_view name) {
    for (auto& s : sections)
        if (s->named && s->name == name) return s.get();
    return nullptr;
}

Section& Assembler::Impl::NewSection(std::string_view name, bool named) {
    auto s = std::make_unique<Section>();
    s->name = std::string(name);
    s->named = named;
    sections.push_back(std::move(s));
    return *sections.back();
}

void Assembler::Impl::LeaveSection() {
    if (current && current->size == 0) current->saved = as.pc_;
}

void Assembler::Impl::SwitchTo(Section* s) {
    LeaveSection();
    current = s;
    as.pc_ = s->size ? s->start + static_cast<std::uint32_t>(s->size) : s->saved;
}

void Assembler::Impl::EndOffset() {
    if (!inOffset) return;
    inOffset = false;
    Section* back = offsetReturn ? offsetReturn : sections.front().get();
    offsetReturn = nullptr;
    SwitchTo(back);
    // The line that ends the block is placed in the section it returns to;
    // its listing address must say so too, not the offset it started at.
    if (as.code_.count == 0) as.code_.start = as.pc_;
}

void Assembler::Impl::SetLocation(std::uint32_t value) { as.pc_ = value; }

void Assembler::Reserve(std::size_t count, std::uint8_t fill) {
    std::uint8_t pattern[1] = {fill};
    impl_->SetReserve(count, pattern, 1, false);
}

void Assembler::ReserveWords(std::size_t count, std::uint32_t fill, int size) {
    std::uint8_t pattern[4];
    for (int i = 0; i < size; ++i) pattern[i] = static_cast<std::uint8_t>(fill >> (8 * (size - 1 - i)));
    impl_->SetReserve(count * static_cast<std::size_t>(size), pattern, size, false);
}

void Assembler::Impl::SetReserve(std::size_t bytes, const std::uint8_t* pattern, int patternSize,
                                 bool always) {
    ls.reserved = bytes;
    ls.reserveLine = true;
    ls.patternSize = patternSize;
    for (int i = 0; i < patternSize && i < 4; ++i) ls.pattern[i] = pattern[i];
    ls.alwaysWrite = always;
}

bool Assembler::Impl::Append(const std::uint8_t* data, std::size_t n, const std::uint8_t* pattern,
                             int patternSize) {
    if (n == 0) return true;
    Section* sec = current;
    if (!sec || (sec->named && sec->name == ".off")) {
        as.pc_ += static_cast<std::uint32_t>(n);
        return true;
    }
    if (sec->size + n > kMaxSectionSize) return as.Report(Msg::OutOfMemory);
    if (sec->size == 0) sec->start = as.pc_;
    if (as.final_ && mapWanted) lineMap.Placed(sec, sec->size, n, sources);
    sec->size += n;
    if (as.final_) {
        if (data) {
            sec->bytes.insert(sec->bytes.end(), data, data + n);
        } else {
            for (std::size_t i = 0; i < n; ++i) sec->bytes.push_back(pattern[i % patternSize]);
        }
    }
    as.pc_ += static_cast<std::uint32_t>(n);
    return true;
}

} // namespace qorb
