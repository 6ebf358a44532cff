#pragma once

// A deliberately small reader of minidumps for the tests: the records of
// the format (core/minidump_format.h) copied out of the file, and nothing of
// the writer.

#include "core/minidump_format.h"

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace dumptest {

namespace md = ulmarro::minidump;

// A field of a packed record as a plain value: the test assertions take
// their arguments by reference, and a packed field may lie where no
// reference to its type can point.
template <typename T> T Value(T field) { return field; }

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
        streams.clear();
        const auto header = Record<md::Header>(0);
        if (bytes.size() < sizeof header || header.signature != md::kSignature) return false;
        const std::uint64_t dir = header.streamDirectoryRva;
        if (dir + std::uint64_t{header.streamCount} * sizeof(md::Directory) > bytes.size()) return false;
        for (std::uint32_t i = 0; i < header.streamCount; ++i) {
            const auto e = Record<md::Directory>(dir + i * sizeof(md::Directory));
            if (e.location.rva + std::uint64_t{e.location.dataSize} > bytes.size()) return false;
            streams[e.streamType] = {e.location.dataSize, e.location.rva};
        }
        return true;
    }
    bool Has(std::uint32_t type) const { return streams.count(type) != 0; }
    std::uint32_t Rva(std::uint32_t type) const { return streams.at(type).second; }
    std::uint32_t Size(std::uint32_t type) const { return streams.at(type).first; }

    // The record of type T at `at`; zero where it is not in the file.
    template <typename T> T Record(std::uint64_t at) const {
        T v{};
        if (at <= bytes.size() && sizeof v <= bytes.size() - at) std::memcpy(&v, &bytes[at], sizeof v);
        return v;
    }
    // Entry `i` of a list stream whose entries follow a header of type H.
    template <typename T, typename H = md::ListHeader> T Entry(std::uint32_t type, std::uint64_t i) const {
        return Record<T>(Rva(type) + sizeof(H) + i * sizeof(T));
    }
    md::ExceptionStream Exception() const { return Record<md::ExceptionStream>(Rva(md::kExceptionStream)); }

    std::uint16_t U16(std::size_t at) const { return Record<std::uint16_t>(at); }
    std::uint32_t U32(std::size_t at) const { return Record<std::uint32_t>(at); }
    std::uint64_t U64(std::size_t at) const { return Record<std::uint64_t>(at); }

    std::string String(std::uint32_t rva) const {
        std::uint32_t len = Record<md::StringHeader>(rva).length;
        std::string out;
        for (std::uint32_t i = 0; i < len / 2; ++i) {
            std::uint16_t c = U16(rva + sizeof(md::StringHeader) + 2 * i);
            out += c < 0x80 ? static_cast<char>(c) : '?';
        }
        return out;
    }
    std::string Text(std::uint64_t rva, std::uint64_t size) const {
        if (rva > bytes.size() || size > bytes.size() - rva) return {};
        return std::string(bytes.begin() + static_cast<long>(rva),
                           bytes.begin() + static_cast<long>(rva + size));
    }

    std::vector<Thread> Threads() const {
        std::vector<Thread> out;
        for (std::uint32_t i = 0; i < Record<md::ListHeader>(Rva(md::kThreadListStream)).count; ++i) {
            const auto t = Entry<md::Thread>(md::kThreadListStream, i);
            out.push_back({t.threadId, t.stack.startOfMemoryRange, t.stack.memory.dataSize,
                           t.stack.memory.rva, t.threadContext.dataSize, t.threadContext.rva});
        }
        return out;
    }

    std::vector<Module> Modules() const {
        std::vector<Module> out;
        for (std::uint32_t i = 0; i < Record<md::ListHeader>(Rva(md::kModuleListStream)).count; ++i) {
            const auto e = Entry<md::Module>(md::kModuleListStream, i);
            Module m{e.baseOfImage,
                     e.sizeOfImage,
                     String(e.moduleNameRva),
                     {},
                     e.versionInfo.fileVersionHi,
                     e.versionInfo.fileVersionLo};
            const md::LocationDescriptor cv = e.cvRecord;
            if (cv.dataSize > sizeof(md::CodeViewElfHeader) &&
                Record<md::CodeViewElfHeader>(cv.rva).signature == md::kCodeViewElfSignature) {
                const std::string id =
                    Text(cv.rva + sizeof(md::CodeViewElfHeader), cv.dataSize - sizeof(md::CodeViewElfHeader));
                m.buildId.assign(id.begin(), id.end());
            }
            out.push_back(m);
        }
        return out;
    }

    // Bytes of the dump's memory (the memory list, and the 64-bit one when
    // present) at an address.
    std::optional<std::vector<std::uint8_t>> Memory(std::uint64_t address, std::size_t size) const {
        auto bytesAt = [&](std::uint64_t rva) {
            return std::vector<std::uint8_t>(bytes.begin() + static_cast<long>(rva),
                                             bytes.begin() + static_cast<long>(rva + size));
        };
        if (Has(md::kMemoryListStream)) {
            for (std::uint32_t i = 0; i < Record<md::ListHeader>(Rva(md::kMemoryListStream)).count; ++i) {
                const auto e = Entry<md::MemoryDescriptor>(md::kMemoryListStream, i);
                const std::uint64_t start = e.startOfMemoryRange;
                if (address >= start && address + size <= start + e.memory.dataSize)
                    return bytesAt(e.memory.rva + (address - start));
            }
        }
        if (Has(md::kMemory64ListStream)) {
            const auto list = Record<md::Memory64ListHeader>(Rva(md::kMemory64ListStream));
            std::uint64_t at = list.baseRva;
            for (std::uint64_t i = 0; i < list.rangeCount; ++i) {
                const auto e =
                    Entry<md::MemoryDescriptor64, md::Memory64ListHeader>(md::kMemory64ListStream, i);
                const std::uint64_t start = e.startOfMemoryRange, n = e.dataSize;
                if (address >= start && address + size <= start + n && at + n <= bytes.size())
                    return bytesAt(at + (address - start));
                at += n;
            }
        }
        return std::nullopt;
    }

    std::vector<std::uint8_t> bytes;
    std::map<std::uint32_t, std::pair<std::uint32_t, std::uint32_t>> streams; // type -> size, rva
};

// Program counter and stack pointer of an AMD64 or ARM64 context.
inline std::pair<std::uint64_t, std::uint64_t> PcSp(const Dump& d, std::uint32_t rva, std::uint32_t size) {
    if (size == sizeof(md::ContextAmd64)) {
        const auto c = d.Record<md::ContextAmd64>(rva);
        return {c.rip, c.rsp};
    }
    if (size == sizeof(md::ContextArm64)) {
        const auto c = d.Record<md::ContextArm64>(rva);
        return {c.x[md::kArm64Pc], c.x[md::kArm64Sp]};
    }
    return {0, 0};
}

} // namespace dumptest
