#pragma once

// A deliberately small, independent reader of the minidump layout for the
// tests: it knows the published structure sizes and nothing of the writer.

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace dumptest {

struct Thread {
    std::uint32_t tid;
    std::uint64_t stackStart;
    std::uint32_t stackSize, stackRva, contextSize, contextRva;
};

struct Module {
    std::uint64_t base;
    std::uint32_t size;
    std::string name;
    std::vector<std::uint8_t> buildId;
    std::uint32_t versionHi, versionLo;
};

class Dump {
public:
    bool Load(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), {});
        if (bytes.size() < 32 || U32(0) != 0x504D444D) return false;
        std::uint32_t count = U32(8), dir = U32(12);
        if (dir + std::uint64_t{count} * 12 > bytes.size()) return false;
        for (std::uint32_t i = 0; i < count; ++i) {
            std::uint32_t e = dir + i * 12;
            if (U32(e + 8) + std::uint64_t{U32(e + 4)} > bytes.size()) return false;
            streams[U32(e)] = {U32(e + 4), U32(e + 8)};
        }
        return true;
    }
    bool Has(std::uint32_t type) const { return streams.count(type) != 0; }
    std::uint32_t Rva(std::uint32_t type) const { return streams.at(type).second; }
    std::uint32_t Size(std::uint32_t type) const { return streams.at(type).first; }

    std::uint16_t U16(std::size_t at) const { return Get<std::uint16_t>(at); }
    std::uint32_t U32(std::size_t at) const { return Get<std::uint32_t>(at); }
    std::uint64_t U64(std::size_t at) const { return Get<std::uint64_t>(at); }

    std::string String(std::uint32_t rva) const {
        std::uint32_t len = U32(rva);
        std::string out;
        for (std::uint32_t i = 0; i < len / 2; ++i) {
            std::uint16_t c = U16(rva + 4 + 2 * i);
            out += c < 0x80 ? static_cast<char>(c) : '?';
        }
        return out;
    }

    std::vector<Thread> Threads() const {
        std::vector<Thread> out;
        std::uint32_t l = Rva(3);
        for (std::uint32_t i = 0; i < U32(l); ++i) {
            std::uint32_t e = l + 4 + i * 48;
            out.push_back({U32(e), U64(e + 24), U32(e + 32), U32(e + 36), U32(e + 40), U32(e + 44)});
        }
        return out;
    }

    std::vector<Module> Modules() const {
        std::vector<Module> out;
        std::uint32_t l = Rva(4);
        for (std::uint32_t i = 0; i < U32(l); ++i) {
            std::uint32_t e = l + 4 + i * 108;
            Module m{U64(e), U32(e + 8), String(U32(e + 20)), {}, U32(e + 32), U32(e + 36)};
            std::uint32_t cvSize = U32(e + 76), cvRva = U32(e + 80);
            if (cvSize > 4 && U32(cvRva) == 0x4270454C)
                m.buildId.assign(bytes.begin() + cvRva + 4, bytes.begin() + cvRva + cvSize);
            out.push_back(m);
        }
        return out;
    }

    // Bytes of the dump's memory (stream 5, and 9 when present) at an address.
    std::optional<std::vector<std::uint8_t>> Memory(std::uint64_t address, std::size_t size) const {
        if (Has(5)) {
            std::uint32_t l = Rva(5);
            for (std::uint32_t i = 0; i < U32(l); ++i) {
                std::uint32_t e = l + 4 + i * 16;
                std::uint64_t start = U64(e);
                std::uint32_t n = U32(e + 8), rva = U32(e + 12);
                if (address >= start && address + size <= start + n)
                    return std::vector<std::uint8_t>(bytes.begin() + rva + (address - start),
                                                     bytes.begin() + rva + (address - start) + size);
            }
        }
        if (Has(9)) {
            std::uint32_t l = Rva(9);
            std::uint64_t count = U64(l), at = U64(l + 8);
            for (std::uint64_t i = 0; i < count; ++i) {
                std::uint64_t start = U64(l + 16 + i * 16), n = U64(l + 24 + i * 16);
                if (address >= start && address + size <= start + n && at + n <= bytes.size())
                    return std::vector<std::uint8_t>(bytes.begin() + at + (address - start),
                                                     bytes.begin() + at + (address - start) + size);
                at += n;
            }
        }
        return std::nullopt;
    }

    std::vector<std::uint8_t> bytes;
    std::map<std::uint32_t, std::pair<std::uint32_t, std::uint32_t>> streams;  // type -> size, rva

private:
    template <typename T>
    T Get(std::size_t at) const {
        T v{};
        if (at + sizeof v <= bytes.size()) std::memcpy(&v, &bytes[at], sizeof v);
        return v;
    }
};

// Program counter and stack pointer of an AMD64 or ARM64 context.
inline std::pair<std::uint64_t, std::uint64_t> PcSp(const Dump& d, std::uint32_t rva, std::uint32_t size) {
    if (size == 1232) return {d.U64(rva + 248), d.U64(rva + 152)};
    if (size == 912) return {d.U64(rva + 8 + 8 * 32), d.U64(rva + 8 + 8 * 31)};
    return {0, 0};
}

} // namespace dumptest
