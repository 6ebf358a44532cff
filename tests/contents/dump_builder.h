#pragma once

// Builds minidumps byte by byte for the contents view's tests: streams of
// any shape, including the ones our writer never produces (extended thread
// list, 64-bit memory list, x86 contexts, Windows system information).

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace dumptest {

class Builder {
  public:
    Builder() { bytes_.resize(32); }

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
    template <class T> void Put(std::uint32_t at, T value) {
        for (std::size_t i = 0; i < sizeof(T); ++i)
            bytes_[at + i] = static_cast<std::uint8_t>(static_cast<std::uint64_t>(value) >> (8 * i));
    }
    // A dump string: byte length, UTF-16LE (ASCII only here), terminator.
    std::uint32_t String(const std::string& s) {
        std::uint32_t at = Reserve(4 + 2 * s.size() + 2);
        Put<std::uint32_t>(at, static_cast<std::uint32_t>(2 * s.size()));
        for (std::size_t i = 0; i < s.size(); ++i)
            Put<std::uint16_t>(at + 4 + 2 * static_cast<std::uint32_t>(i), static_cast<unsigned char>(s[i]));
        return at;
    }
    void Stream(std::uint32_t type, std::uint32_t rva, std::uint32_t size) {
        streams_.push_back({type, size, rva});
    }

    // Writes the header and the directory; returns the finished file.
    std::vector<std::uint8_t> Finish() {
        std::uint32_t dir = Reserve(12 * streams_.size());
        for (std::size_t i = 0; i < streams_.size(); ++i) {
            std::uint32_t e = dir + 12 * static_cast<std::uint32_t>(i);
            Put<std::uint32_t>(e, streams_[i].type);
            Put<std::uint32_t>(e + 4, streams_[i].size);
            Put<std::uint32_t>(e + 8, streams_[i].rva);
        }
        Put<std::uint32_t>(0, 0x504D444D);
        Put<std::uint32_t>(4, 0xA793);
        Put<std::uint32_t>(8, static_cast<std::uint32_t>(streams_.size()));
        Put<std::uint32_t>(12, dir);
        return bytes_;
    }

    // --- Stream helpers ----------------------------------------------------

    void Exception(std::uint32_t code, std::uint32_t flags, std::uint64_t record, std::uint64_t address) {
        std::uint32_t e = Reserve(168);
        Put<std::uint32_t>(e, 1234);
        Put<std::uint32_t>(e + 8, code);
        Put<std::uint32_t>(e + 12, flags);
        Put<std::uint64_t>(e + 16, record);
        Put<std::uint64_t>(e + 24, address);
        Stream(6, e, 168);
    }

    void System(std::uint32_t platform, std::uint32_t major, std::uint32_t minor, std::uint32_t build,
                const std::string& servicePack) {
        std::uint32_t csd = String(servicePack);
        std::uint32_t s = Reserve(56);
        Put<std::uint32_t>(s + 8, major);
        Put<std::uint32_t>(s + 12, minor);
        Put<std::uint32_t>(s + 16, build);
        Put<std::uint32_t>(s + 20, platform);
        Put<std::uint32_t>(s + 24, csd);
        Put<std::uint32_t>(s + 32, 0x756E6547); // "GenuineIntel"
        Put<std::uint32_t>(s + 36, 0x49656E69);
        Put<std::uint32_t>(s + 40, 0x6C65746E);
        Put<std::uint32_t>(s + 44, 0x000306A9);
        Put<std::uint32_t>(s + 48, 0xBFEBFBFF);
        Put<std::uint32_t>(s + 52, 0x28100800);
        Stream(7, s, 56);
    }

    struct Module {
        std::string name;
        std::uint64_t base;
        std::uint32_t size, checksum, stamp, fileHi, fileLo, productHi, productLo;
    };
    void Modules(const std::vector<Module>& modules) {
        std::vector<std::uint32_t> names;
        for (const auto& m : modules)
            names.push_back(String(m.name));
        std::uint32_t list = Reserve(4 + 108 * modules.size());
        Put<std::uint32_t>(list, static_cast<std::uint32_t>(modules.size()));
        for (std::size_t i = 0; i < modules.size(); ++i) {
            const Module& m = modules[i];
            std::uint32_t e = list + 4 + 108 * static_cast<std::uint32_t>(i);
            Put<std::uint64_t>(e, m.base);
            Put<std::uint32_t>(e + 8, m.size);
            Put<std::uint32_t>(e + 12, m.checksum);
            Put<std::uint32_t>(e + 16, m.stamp);
            Put<std::uint32_t>(e + 20, names[i]);
            Put<std::uint32_t>(e + 24, 0xFEEF04BD);
            Put<std::uint32_t>(e + 32, m.fileHi);
            Put<std::uint32_t>(e + 36, m.fileLo);
            Put<std::uint32_t>(e + 40, m.productHi);
            Put<std::uint32_t>(e + 44, m.productLo);
        }
        Stream(4, list, 4 + 108 * static_cast<std::uint32_t>(modules.size()));
    }

    // An x86 context whose general registers are 0x11111111 * n in the
    // order eax, ebx, ecx, edx, esi, edi, ebp, eip, esp; segments cs=0x1B,
    // ss=0x23, ds=0x2B, es=0x33, fs=0x3B, gs=0x43.
    std::uint32_t X86Context() {
        std::uint32_t c = Reserve(716);
        Put<std::uint32_t>(c, 0x0001003F);
        const unsigned offsets[] = {176, 164, 172, 168, 160, 156, 180, 184, 196};
        for (unsigned i = 0; i < 9; ++i)
            Put<std::uint32_t>(c + offsets[i], 0x11111111u * (i + 1));
        Put<std::uint32_t>(c + 188, 0x1B);
        Put<std::uint32_t>(c + 200, 0x23);
        Put<std::uint32_t>(c + 152, 0x2B);
        Put<std::uint32_t>(c + 148, 0x33);
        Put<std::uint32_t>(c + 144, 0x3B);
        Put<std::uint32_t>(c + 140, 0x43);
        return c;
    }

    struct Thread {
        std::uint32_t id;
        std::uint64_t stackStart;
        std::vector<std::uint8_t> stack;
        std::uint32_t suspend = 0, priorityClass = 0, priority = 0;
    };
    // Threads of stream 3 (extended = false) or 8 (true), each with an x86 context.
    void Threads(const std::vector<Thread>& threads, bool extended) {
        std::vector<std::uint32_t> stacks, contexts;
        for (const auto& t : threads) {
            stacks.push_back(Append(t.stack.data(), t.stack.size()));
            contexts.push_back(X86Context());
        }
        const std::uint32_t entry = extended ? 64 : 48;
        std::uint32_t list = Reserve(4 + entry * threads.size());
        Put<std::uint32_t>(list, static_cast<std::uint32_t>(threads.size()));
        for (std::size_t i = 0; i < threads.size(); ++i) {
            std::uint32_t e = list + 4 + entry * static_cast<std::uint32_t>(i);
            Put<std::uint32_t>(e, threads[i].id);
            Put<std::uint32_t>(e + 4, threads[i].suspend);
            Put<std::uint32_t>(e + 8, threads[i].priorityClass);
            Put<std::uint32_t>(e + 12, threads[i].priority);
            Put<std::uint64_t>(e + 24, threads[i].stackStart);
            Put<std::uint32_t>(e + 32, static_cast<std::uint32_t>(threads[i].stack.size()));
            Put<std::uint32_t>(e + 36, stacks[i]);
            Put<std::uint32_t>(e + 40, 716);
            Put<std::uint32_t>(e + 44, contexts[i]);
        }
        Stream(extended ? 8 : 3, list, 4 + entry * static_cast<std::uint32_t>(threads.size()));
    }

    struct Range {
        std::uint64_t start;
        std::vector<std::uint8_t> bytes;
    };
    void MemoryList(const std::vector<Range>& ranges) {
        std::vector<std::uint32_t> data;
        for (const auto& r : ranges)
            data.push_back(Append(r.bytes.data(), r.bytes.size()));
        std::uint32_t list = Reserve(4 + 16 * ranges.size());
        Put<std::uint32_t>(list, static_cast<std::uint32_t>(ranges.size()));
        for (std::size_t i = 0; i < ranges.size(); ++i) {
            std::uint32_t e = list + 4 + 16 * static_cast<std::uint32_t>(i);
            Put<std::uint64_t>(e, ranges[i].start);
            Put<std::uint32_t>(e + 8, static_cast<std::uint32_t>(ranges[i].bytes.size()));
            Put<std::uint32_t>(e + 12, data[i]);
        }
        Stream(5, list, 4 + 16 * static_cast<std::uint32_t>(ranges.size()));
    }
    // The ranges' bytes back to back, as the 64-bit list keeps them.
    void Memory64List(const std::vector<Range>& ranges) {
        std::uint32_t list = Reserve(16 + 16 * ranges.size());
        Align();
        std::uint32_t base = size();
        for (const auto& r : ranges)
            bytes_.insert(bytes_.end(), r.bytes.begin(), r.bytes.end());
        Put<std::uint64_t>(list, ranges.size());
        Put<std::uint64_t>(list + 8, base);
        for (std::size_t i = 0; i < ranges.size(); ++i) {
            std::uint32_t e = list + 16 + 16 * static_cast<std::uint32_t>(i);
            Put<std::uint64_t>(e, ranges[i].start);
            Put<std::uint64_t>(e + 8, ranges[i].bytes.size());
        }
        Stream(9, list, 16 + 16 * static_cast<std::uint32_t>(ranges.size()));
    }

  private:
    void Align() {
        while (bytes_.size() % 4)
            bytes_.push_back(0);
    }
    struct Entry {
        std::uint32_t type, size, rva;
    };
    std::vector<std::uint8_t> bytes_;
    std::vector<Entry> streams_;
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
        const std::uint32_t list = b.Reserve(4 + 16 * sizes.size());
        b.Put<std::uint32_t>(list, static_cast<std::uint32_t>(sizes.size()));
        for (std::size_t r = 0; r < sizes.size(); ++r) {
            const std::uint32_t e = list + 4 + 16 * static_cast<std::uint32_t>(r);
            b.Put<std::uint64_t>(e, Address(r, 0));
            b.Put<std::uint32_t>(e + 8, sizes[r]);
            b.Put<std::uint32_t>(e + 12, at);
        }
        b.Stream(5, list, 4 + 16 * static_cast<std::uint32_t>(sizes.size()));
        bytes = b.Finish();
        dataSize = kData;
    }
    static std::uint64_t Address(std::uint64_t range, std::uint64_t row) { return ((range + 1) << 32) + 16 * row; }
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

inline std::vector<std::uint8_t> Bytes(const std::string& s) {
    return {s.begin(), s.end()};
}

} // namespace dumptest
