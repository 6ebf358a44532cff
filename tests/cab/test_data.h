// Deterministic inputs shaped like what report cabinets carry.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace cabtest {

class Rng {
public:
    explicit Rng(std::uint64_t seed) : s_(seed * 0x9E3779B97F4A7C15ull + 1) {}
    std::uint64_t Next() {
        s_ ^= s_ << 13;
        s_ ^= s_ >> 7;
        s_ ^= s_ << 17;
        return s_;
    }
    std::uint32_t Below(std::uint32_t n) { return static_cast<std::uint32_t>(Next() % n); }

private:
    std::uint64_t s_;
};

inline std::vector<std::uint8_t> RandomBytes(std::size_t n, std::uint64_t seed) {
    Rng r(seed);
    std::vector<std::uint8_t> v(n);
    for (auto& b : v) b = static_cast<std::uint8_t>(r.Next() >> 24);
    return v;
}

inline std::vector<std::uint8_t> TextBytes(std::size_t n, std::uint64_t seed) {
    static const char* words[] = {"thread",
                                  "module",
                                  "exception",
                                  "0x0000",
                                  "stack",
                                  "memory",
                                  "range",
                                  "libc.so.6",
                                  "/usr/lib/x86_64-linux-gnu/",
                                  "qorb12",
                                  "SIGSEGV",
                                  "\n",
                                  "Version 1.21",
                                  "register",
                                  "=",
                                  " ",
                                  "access violation",
                                  "writing"};
    Rng r(seed);
    std::string s;
    while (s.size() < n) s += words[r.Below(sizeof words / sizeof *words)], s += ' ';
    return {s.begin(), s.begin() + static_cast<std::ptrdiff_t>(n)};
}

// A minidump's bulk: thread stacks (return addresses into a few modules,
// saved frame pointers, small integers, zero padding), structure tables with
// 8-byte fields, UTF-16 module paths and some x86 code around the crash.
inline std::vector<std::uint8_t> DumpLikeBytes(std::size_t n, std::uint64_t seed) {
    Rng r(seed);
    std::vector<std::uint8_t> v;
    v.reserve(n + 4096);
    const std::uint64_t modules[] = {0x00005555'55554000ull, 0x00007f3a'1c200000ull, 0x00007f3a'1c600000ull,
                                     0x00007f3a'1d000000ull};
    std::uint64_t sp = 0x00007ffd'4a3b0000ull;
    auto put64 = [&](std::uint64_t x) {
        for (int i = 0; i < 8; ++i) v.push_back(static_cast<std::uint8_t>(x >> (8 * i)));
    };
    while (v.size() < n) {
        switch (r.Below(6)) {
        case 0: // stack frames
            for (int i = 0, k = 64 + static_cast<int>(r.Below(512)); i < k; ++i) {
                switch (r.Below(5)) {
                case 0: put64(modules[r.Below(4)] + r.Below(0x40000)); break;
                case 1: put64(sp + 8 * r.Below(4096)); break;
                case 2: put64(r.Below(256)); break;
                case 3: put64(0); break;
                default: put64(r.Next()); break;
                }
            }
            break;
        case 1: // zero-filled pages
            v.resize(v.size() + 512 * (1 + r.Below(16)), 0);
            break;
        case 2: { // table of 24-byte records
            std::uint32_t id = r.Below(1000);
            for (int i = 0, k = 8 + static_cast<int>(r.Below(64)); i < k; ++i) {
                put64(modules[r.Below(4)] + 0x1000 * r.Below(64));
                put64(0x1000 * (1 + r.Below(300)));
                put64(id++);
            }
            break;
        }
        case 3: { // UTF-16 path
            static const char* paths[] = {"/usr/lib/x86_64-linux-gnu/libstdc++.so.6.0.30", "/usr/bin/qorb12",
                                          "/usr/lib/x86_64-linux-gnu/libc.so.6", "/opt/korvell/bin/oxbrin"};
            const char* p = paths[r.Below(4)];
            put64(std::strlen(p) * 2);
            for (const char* c = p; *c; ++c) {
                v.push_back(static_cast<std::uint8_t>(*c));
                v.push_back(0);
            }
            break;
        }
        case 4: { // code: calls (E8 rel32) between short instruction runs
            for (int i = 0, k = 16 + static_cast<int>(r.Below(128)); i < k; ++i) {
                std::int32_t rel = static_cast<std::int32_t>(r.Below(0x20000)) - 0x10000;
                v.push_back(0xE8);
                for (int b = 0; b < 4; ++b)
                    v.push_back(static_cast<std::uint8_t>(static_cast<std::uint32_t>(rel) >> (8 * b)));
                static const std::uint8_t ops[] = {0x48, 0x89, 0xC7, 0x85, 0xC0,
                                                   0x74, 0x0A, 0x8B, 0x45, 0xF8};
                for (int j = 0, m = static_cast<int>(r.Below(8)); j < m; ++j)
                    v.push_back(ops[r.Below(sizeof ops)]);
            }
            break;
        }
        default: // a little noise
            for (int i = 0, k = static_cast<int>(r.Below(64)); i < k; ++i)
                v.push_back(static_cast<std::uint8_t>(r.Next()));
            break;
        }
    }
    v.resize(n);
    return v;
}

} // namespace cabtest
