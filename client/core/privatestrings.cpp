#include "privatestrings.h"

#include <algorithm>
#include <cstring>

namespace ulmarro {
namespace {

constexpr std::size_t kShortest = 4; // characters: shorter texts stay

std::uint32_t Prefix(const std::uint8_t* p) {
    std::uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

std::uint32_t FilterBit(std::uint32_t prefix) { return (prefix * 2654435761u) >> 16; }

// Code points of UTF-8 text (bytes that are not continuation bytes);
// invalid text counts byte by byte that way too.
std::size_t Characters(std::string_view text) {
    std::size_t n = 0;
    for (unsigned char c : text) n += (c & 0xC0) != 0x80;
    return n;
}

// UTF-16LE of UTF-8 text. Bytes that are no valid UTF-8 are taken as
// Latin-1, as a program converting them would most likely do.
std::string Utf16(std::string_view text) {
    std::string out;
    out.reserve(text.size() * 2);
    auto unit = [&](std::uint32_t u) {
        out += static_cast<char>(u & 0xFF);
        out += static_cast<char>(u >> 8);
    };
    for (std::size_t i = 0; i < text.size();) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        std::size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        bool valid = len != 0 && i + len <= text.size();
        for (std::size_t k = 1; valid && k < len; ++k)
            valid = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
        if (!valid) {
            unit(c);
            ++i;
            continue;
        }
        std::uint32_t code = len == 1 ? c : len == 2 ? c & 0x1F : len == 3 ? c & 0x0F : c & 0x07;
        for (std::size_t k = 1; k < len; ++k)
            code = (code << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        if (code >= 0x10000) {
            code -= 0x10000;
            unit(0xD800 + (code >> 10));
            unit(0xDC00 + (code & 0x3FF));
        } else {
            unit(code);
        }
        i += len;
    }
    return out;
}

} // namespace

void PrivateStrings::AddNeedle(std::string bytes) {
    if (bytes.size() < 4) return;
    const std::uint32_t prefix = Prefix(reinterpret_cast<const std::uint8_t*>(bytes.data()));
    if (auto same = byPrefix_.find(prefix); same != byPrefix_.end())
        for (std::uint32_t index : same->second)
            if (needles_[index] == bytes) return;
    const std::uint32_t bit = FilterBit(prefix);
    filter_[bit >> 6] |= std::uint64_t{1} << (bit & 63);
    byPrefix_[prefix].push_back(static_cast<std::uint32_t>(needles_.size()));
    longest_ = std::max(longest_, bytes.size());
    needles_.push_back(std::move(bytes));
}

void PrivateStrings::Add(std::string_view text) {
    if (Characters(text) < kShortest) return;
    AddNeedle(std::string(text));
    AddNeedle(Utf16(text));
}

void PrivateStrings::AddEnvironmentBlock(std::string_view block) {
    for (std::size_t at = 0; at < block.size();) {
        std::size_t end = std::min(block.find('\0', at), block.size());
        std::string_view entry = block.substr(at, end - at);
        std::size_t eq = entry.find('=');
        if (eq != std::string_view::npos) Add(entry.substr(eq + 1));
        at = end + 1;
    }
}

void PrivateStrings::AddArgumentBlock(std::string_view block) {
    for (std::size_t at = 0; at < block.size();) {
        std::size_t end = std::min(block.find('\0', at), block.size());
        Add(block.substr(at, end - at));
        at = end + 1;
    }
}

void PrivateStrings::Blank(std::uint8_t* buffer, std::size_t size, std::size_t from, std::size_t to) const {
    to = std::min(to, size);
    if (needles_.empty() || from >= to || size < 4) return;
    // Only a string that overlaps [from, to) matters: it starts no earlier
    // than `from - longest + 1`.
    const std::size_t first = from + 1 > longest_ ? from + 1 - longest_ : 0;
    const std::size_t last = std::min(to, size - 3); // starts before `to`, four bytes fit
    // Ranges are collected first and zeroed afterwards, so that one string
    // inside or across another is still found.
    std::vector<std::pair<std::size_t, std::size_t>> hits;
    for (std::size_t i = first; i < last; ++i) {
        const std::uint32_t prefix = Prefix(buffer + i);
        const std::uint32_t bit = FilterBit(prefix);
        if (!(filter_[bit >> 6] >> (bit & 63) & 1)) continue;
        auto it = byPrefix_.find(prefix);
        if (it == byPrefix_.end()) continue;
        for (std::uint32_t index : it->second) {
            const std::string& n = needles_[index];
            if (n.size() > size - i || i + n.size() <= from) continue;
            if (std::memcmp(buffer + i, n.data(), n.size()) == 0) hits.emplace_back(i, i + n.size());
        }
    }
    for (auto [begin, end] : hits) {
        begin = std::max(begin, from);
        end = std::min(end, to);
        if (begin < end) std::memset(buffer + begin, 0, end - begin);
    }
}

} // namespace ulmarro
