#pragma once

// Builds minidumps for the contents view's tests out of the records of the
// shared layout (core/minidump_format.h): streams of any shape, including
// the ones our writer never produces (extended thread list, 64-bit memory
// list, x86 contexts, Windows system information).

#include "core/minidump_format.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace dumptest {

namespace md = ulmarro::minidump;

class Builder {
public:
    Builder() { bytes_.resize(sizeof(md::Header)); }

    std::uint32_t size() const { return static_cast<std::uint32_t>(bytes_.size()); }
    std::vector<std::uint8_t>& bytes() { return bytes_; }

    std::uint32_t Reserve(std::size_t n) {
        Align();
        std::uint32_t at = size();
        bytes_.resize(bytes_.size() + n);
        return at;
    }
    std::uint32_t Append(const void* data, std::size_t n) {
        std::uint32_t at = Reserve(n);
        if (n) std::memcpy(bytes_.data() + at, data, n);
        return at;
    }
    // A value or a record at a place already reserved.
    template <class T> void Put(std::uint32_t at, const T& value) {
        std::memcpy(bytes_.data() + at, &value, sizeof value);
    }
    // A record and the list of records after it.
    template <class Header, class T> std::uint32_t List(const Header& header, const std::vector<T>& entries) {
        std::uint32_t at = Reserve(sizeof header + sizeof(T) * entries.size());
        Put(at, header);
        for (std::size_t i = 0; i < entries.size(); ++i)
            Put(at + static_cast<std::uint32_t>(sizeof header + sizeof(T) * i), entries[i]);
        return at;
    }
    // A dump string: byte length, UTF-16LE (ASCII only here), terminator.
    std::uint32_t String(const std::string& s) {
        std::uint32_t at = Reserve(sizeof(md::StringHeader) + 2 * s.size() + 2);
        Put(at, md::StringHeader{static_cast<std::uint32_t>(2 * s.size())});
        for (std::size_t i = 0; i < s.size(); ++i)
            Put<std::uint16_t>(at + 4 + 2 * static_cast<std::uint32_t>(i), static_cast<unsigned char>(s[i]));
        return at;
    }
    void Stream(std::uint32_t type, std::uint32_t rva, std::uint32_t size) {
        streams_.push_back({type, {size, rva}});
    }

    // Writes the header and the directory; returns the finished file.
    std::vector<std::uint8_t> Finish() {
        const std::uint32_t directory = Reserve(sizeof(md::Directory) * streams_.size());
        for (std::size_t i = 0; i < streams_.size(); ++i)
            Put(directory + static_cast<std::uint32_t>(sizeof(md::Directory) * i), streams_[i]);
        md::Header header{};
        header.signature = md::kSignature;
        header.version = md::kVersion;
        header.streamCount = static_cast<std::uint32_t>(streams_.size());
        header.streamDirectoryRva = directory;
        Put(0, header);
        return bytes_;
    }

    // --- Stream helpers ----------------------------------------------------

    void Exception(std::uint32_t code, std::uint32_t flags, std::uint64_t record, std::uint64_t address) {
        md::ExceptionStream e{};
        e.threadId = 1234;
        e.exceptionRecord.exceptionCode = code;
        e.exceptionRecord.exceptionFlags = flags;
        e.exceptionRecord.exceptionRecord = record;
        e.exceptionRecord.exceptionAddress = address;
        std::uint32_t at = Reserve(sizeof e);
        Put(at, e);
        Stream(md::kExceptionStream, at, sizeof e);
    }

    void System(std::uint32_t platform, std::uint32_t major, std::uint32_t minor, std::uint32_t build,
                const std::string& servicePack) {
        md::SystemInfo s{};
        s.majorVersion = major;
        s.minorVersion = minor;
        s.buildNumber = build;
        s.platformId = platform;
        s.csdVersionRva = String(servicePack);
        s.cpu.vendorId[0] = 0x756E6547; // "GenuineIntel"
        s.cpu.vendorId[1] = 0x49656E69;
        s.cpu.vendorId[2] = 0x6C65746E;
        s.cpu.versionInformation = 0x000306A9;
        s.cpu.featureInformation = 0xBFEBFBFF;
        s.cpu.amdExtendedCpuFeatures = 0x28100800;
        std::uint32_t at = Reserve(sizeof s);
        Put(at, s);
        Stream(md::kSystemInfoStream, at, sizeof s);
    }

    struct Module {
        std::string name;
        std::uint64_t base;
        std::uint32_t size, checksum, stamp, fileHi, fileLo, productHi, productLo;
    };
    void Modules(const std::vector<Module>& modules) {
        std::vector<md::Module> records;
        for (const auto& m : modules) {
            md::Module r{};
            r.moduleNameRva = String(m.name);
            r.baseOfImage = m.base;
            r.sizeOfImage = m.size;
            r.checksum = m.checksum;
            r.timeDateStamp = m.stamp;
            r.versionInfo.signature = md::kFixedFileInfoSignature;
            r.versionInfo.fileVersionHi = m.fileHi;
            r.versionInfo.fileVersionLo = m.fileLo;
            r.versionInfo.productVersionHi = m.productHi;
            r.versionInfo.productVersionLo = m.productLo;
            records.push_back(r);
        }
        const auto count = static_cast<std::uint32_t>(records.size());
        Stream(md::kModuleListStream, List(md::ListHeader{count}, records),
               sizeof(md::ListHeader) + sizeof(md::Module) * count);
    }

    // An x86 context whose general registers are 0x11111111 * n in the
    // order eax, ebx, ecx, edx, esi, edi, ebp, eip, esp; segments cs=0x1B,
    // ss=0x23, ds=0x2B, es=0x33, fs=0x3B, gs=0x43.
    std::uint32_t X86Context() {
        md::ContextX86 c{};
        c.contextFlags = 0x0001003F;
        std::uint32_t* registers[] = {&c.eax, &c.ebx, &c.ecx, &c.edx, &c.esi, &c.edi, &c.ebp, &c.eip, &c.esp};
        for (unsigned i = 0; i < 9; ++i) *registers[i] = 0x11111111u * (i + 1);
        c.cs = 0x1B;
        c.ss = 0x23;
        c.ds = 0x2B;
        c.es = 0x33;
        c.fs = 0x3B;
        c.gs = 0x43;
        std::uint32_t at = Reserve(sizeof c);
        Put(at, c);
        return at;
    }

    struct Thread {
        std::uint32_t id;
        std::uint64_t stackStart;
        std::vector<std::uint8_t> stack;
        std::uint32_t suspend = 0, priorityClass = 0, priority = 0;
    };
    // Threads of stream 3 (extended = false) or 8 (true), each with an x86 context.
    void Threads(const std::vector<Thread>& threads, bool extended) {
        std::vector<md::ThreadEx> records;
        for (const auto& t : threads) {
            md::ThreadEx r{};
            r.thread.threadId = t.id;
            r.thread.suspendCount = t.suspend;
            r.thread.priorityClass = t.priorityClass;
            r.thread.priority = t.priority;
            r.thread.stack.startOfMemoryRange = t.stackStart;
            r.thread.stack.memory.dataSize = static_cast<std::uint32_t>(t.stack.size());
            r.thread.stack.memory.rva = Append(t.stack.data(), t.stack.size());
            r.thread.threadContext = {sizeof(md::ContextX86), X86Context()};
            records.push_back(r);
        }
        const auto count = static_cast<std::uint32_t>(records.size());
        if (extended) {
            Stream(md::kThreadExListStream, List(md::ListHeader{count}, records),
                   sizeof(md::ListHeader) + sizeof(md::ThreadEx) * count);
            return;
        }
        std::vector<md::Thread> plain;
        for (const auto& r : records) plain.push_back(r.thread);
        Stream(md::kThreadListStream, List(md::ListHeader{count}, plain),
               sizeof(md::ListHeader) + sizeof(md::Thread) * count);
    }

    struct Range {
        std::uint64_t start;
        std::vector<std::uint8_t> bytes;
    };
    void MemoryList(const std::vector<Range>& ranges) {
        std::vector<md::MemoryDescriptor> records;
        for (const auto& r : ranges)
            records.push_back(
                {r.start,
                 {static_cast<std::uint32_t>(r.bytes.size()), Append(r.bytes.data(), r.bytes.size())}});
        const auto count = static_cast<std::uint32_t>(records.size());
        Stream(md::kMemoryListStream, List(md::ListHeader{count}, records),
               sizeof(md::ListHeader) + sizeof(md::MemoryDescriptor) * count);
    }
    // The ranges' bytes back to back, as the 64-bit list keeps them.
    void Memory64List(const std::vector<Range>& ranges) {
        std::vector<md::MemoryDescriptor64> records;
        for (const auto& r : ranges) records.push_back({r.start, r.bytes.size()});
        std::uint32_t list = List(md::Memory64ListHeader{ranges.size(), 0}, records);
        Align();
        Put(list + offsetof(md::Memory64ListHeader, baseRva), std::uint64_t{size()});
        for (const auto& r : ranges) bytes_.insert(bytes_.end(), r.bytes.begin(), r.bytes.end());
        Stream(md::kMemory64ListStream, list,
               static_cast<std::uint32_t>(sizeof(md::Memory64ListHeader) +
                                          sizeof(md::MemoryDescriptor64) * ranges.size()));
    }

private:
    void Align() {
        while (bytes_.size() % 4) bytes_.push_back(0);
    }
    std::vector<std::uint8_t> bytes_;
    std::vector<md::Directory> streams_;
};

// A small dump that claims `lines` lines (at least 2) in the contents view:
// one block of bytes (data[i] = i % 251) that many memory-list entries point
// at. Entry r starts at address (r + 1) << 32, so every row's text tells
// where it belongs. The file grows with the square root of the lines: about
// 2 MB for 2^32 of them.
struct ClaimingDump {
    std::vector<std::uint8_t> bytes;
    std::uint64_t dataSize = 0;       // bytes of the shared block
    std::vector<std::uint32_t> sizes; // bytes of each entry

    static constexpr std::uint64_t kData = 1u << 20;

    explicit ClaimingDump(std::uint64_t lines) {
        const std::uint64_t perEntry = kData / 16 + 2; // rows, title, closing line
        std::uint64_t full = lines / perEntry, rest = lines % perEntry;
        for (std::uint64_t i = 0; i < full; ++i) sizes.push_back(static_cast<std::uint32_t>(kData));
        if (rest == 1) {
            // One line too few for a range of its own: the last whole range
            // gives up a row to make it two.
            sizes.back() -= 16;
            sizes.push_back(0);
        } else if (rest >= 2) {
            sizes.push_back(static_cast<std::uint32_t>((rest - 2) * 16));
        }
        Builder b;
        std::vector<std::uint8_t> data(kData);
        for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i % 251);
        const std::uint32_t at = b.Append(data.data(), data.size());
        std::vector<md::MemoryDescriptor> ranges;
        for (std::size_t r = 0; r < sizes.size(); ++r) ranges.push_back({Address(r, 0), {sizes[r], at}});
        const auto count = static_cast<std::uint32_t>(ranges.size());
        b.Stream(md::kMemoryListStream, b.List(md::ListHeader{count}, ranges),
                 sizeof(md::ListHeader) + sizeof(md::MemoryDescriptor) * count);
        bytes = b.Finish();
        dataSize = kData;
    }
    static std::uint64_t Address(std::uint64_t range, std::uint64_t row) {
        return ((range + 1) << 32) + 16 * row;
    }
    // Range and row (0 = its title) of a line of the view, when it is a title or hex row.
    bool Where(std::uint64_t line, std::uint64_t* range, std::uint64_t* row) const {
        for (std::uint64_t r = 0, first = 0; r < sizes.size(); ++r) {
            const std::uint64_t n = (sizes[r] + 15) / 16 + 2;
            if (line < first + n) {
                *range = r;
                *row = line - first;
                return *row + 1 < n; // the last line of a range is empty
            }
            first += n;
        }
        return false;
    }
};

inline std::vector<std::uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

} // namespace dumptest
