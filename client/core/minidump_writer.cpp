#include "minidump_writer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>

#include <sys/utsname.h>
#include <unistd.h>
#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace ulmarro {
namespace {

constexpr std::size_t kStackToCapture = 32 * 1024;
constexpr std::size_t kPcMemory = 256;
constexpr std::uint64_t kPageSize = 4096;

// The dump is built in memory (a few hundred kilobytes for our programs)
// except for full-memory ranges, which are streamed behind it.
class Buffer {
public:
    std::uint32_t size() const { return static_cast<std::uint32_t>(bytes_.size()); }
    void Align(std::size_t to) {
        while (bytes_.size() % to) bytes_.push_back(0);
    }
    std::uint32_t Reserve(std::size_t n, std::size_t align = 4) {
        Align(align);
        std::uint32_t at = size();
        bytes_.resize(bytes_.size() + n, 0);
        return at;
    }
    std::uint32_t Append(const void* data, std::size_t n, std::size_t align = 4) {
        std::uint32_t at = Reserve(n, align);
        if (n) std::memcpy(&bytes_[at], data, n);
        return at;
    }
    template <typename T>
    void Put(std::uint32_t offset, T value) {
        std::memcpy(&bytes_[offset], &value, sizeof value);
    }
    // MINIDUMP_STRING: byte length, UTF-16LE, a terminating zero.
    std::uint32_t AppendString(const std::string& utf8) {
        std::vector<std::uint16_t> units;
        for (std::size_t i = 0; i < utf8.size();) {
            unsigned char c = static_cast<unsigned char>(utf8[i]);
            std::uint32_t code = c;
            std::size_t len = 1;
            if (c >= 0xF0 && i + 3 < utf8.size()) {
                code = ((c & 0x07u) << 18) | ((utf8[i + 1] & 0x3Fu) << 12) | ((utf8[i + 2] & 0x3Fu) << 6) | (utf8[i + 3] & 0x3Fu);
                len = 4;
            } else if (c >= 0xE0 && i + 2 < utf8.size()) {
                code = ((c & 0x0Fu) << 12) | ((utf8[i + 1] & 0x3Fu) << 6) | (utf8[i + 2] & 0x3Fu);
                len = 3;
            } else if (c >= 0xC0 && i + 1 < utf8.size()) {
                code = ((c & 0x1Fu) << 6) | (utf8[i + 1] & 0x3Fu);
                len = 2;
            }
            i += len;
            if (code >= 0x10000) {
                code -= 0x10000;
                units.push_back(static_cast<std::uint16_t>(0xD800 + (code >> 10)));
                units.push_back(static_cast<std::uint16_t>(0xDC00 + (code & 0x3FF)));
            } else {
                units.push_back(static_cast<std::uint16_t>(code));
            }
        }
        std::uint32_t at = Reserve(4 + units.size() * 2 + 2);
        Put<std::uint32_t>(at, static_cast<std::uint32_t>(units.size() * 2));
        if (!units.empty()) std::memcpy(&bytes_[at + 4], units.data(), units.size() * 2);
        return at;
    }
    const std::vector<std::uint8_t>& bytes() const { return bytes_; }

private:
    std::vector<std::uint8_t> bytes_;
};

struct Location {
    std::uint32_t size = 0, rva = 0;
};

struct MemoryRange {
    std::uint64_t start = 0;
    Location where;
};

struct Directory {
    std::uint32_t type, size, rva;
};

bool WriteAll(int fd, const void* data, std::size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t n = write(fd, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// Copies [start, start+size) of the process into the buffer, shrinking the
// range to its readable head when the tail cannot be read.
bool CaptureMemory(const CrashedProcess& p, Buffer& out, std::uint64_t start, std::uint64_t size, MemoryRange* range) {
    while (size > 0) {
        std::vector<std::uint8_t> data(size);
        if (p.ReadMemory(start, data.data(), data.size())) {
            p.BlankPrivateData(start, data.data(), data.size());
            range->start = start;
            range->where.size = static_cast<std::uint32_t>(size);
            range->where.rva = out.Append(data.data(), data.size());
            return true;
        }
        if (size <= kPageSize) break;
        size = ((size - 1) / kPageSize) * kPageSize;
    }
    return false;
}

// The stack of a thread: from the page of its stack pointer up to 32 KiB,
// within the stack's mapping. After a stack overflow the pointer sits just
// below the mapping; the lowest part of the stack is taken then.
bool CaptureStack(const CrashedProcess& p, Buffer& out, std::uint64_t sp, MemoryRange* range) {
    const MapEntry* m = p.MappingAt(sp);
    std::uint64_t start = sp & ~(kPageSize - 1);
    if (m == nullptr) {
        for (const MapEntry& e : p.maps())
            if (e.start > sp && e.start - sp <= 64 * 1024 && e.perms.size() > 1 && e.perms[1] == 'w') {
                m = &e;
                start = e.start;
                break;
            }
        if (m == nullptr) return false;
    }
    if (start < m->start) start = m->start;
    std::uint64_t end = std::min<std::uint64_t>(start + kStackToCapture, m->end);
    return end > start && CaptureMemory(p, out, start, end - start, range);
}

std::uint32_t ProtectionFromPerms(const std::string& perms) {
    bool r = perms.size() > 0 && perms[0] == 'r';
    bool w = perms.size() > 1 && perms[1] == 'w';
    bool x = perms.size() > 2 && perms[2] == 'x';
    if (x) return w ? 0x40 : (r ? 0x20 : 0x10);
    if (w) return 0x04;
    if (r) return 0x02;
    return 0x01;
}

void FillCpuInfo(Buffer& out, std::uint32_t at) {
#if defined(__x86_64__) || defined(__i386__)
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (__get_cpuid(0, &a, &b, &c, &d)) {
        out.Put<std::uint32_t>(at + 32, b);
        out.Put<std::uint32_t>(at + 36, d);
        out.Put<std::uint32_t>(at + 40, c);
    }
    if (__get_cpuid(1, &a, &b, &c, &d)) {
        out.Put<std::uint32_t>(at + 44, a);
        out.Put<std::uint32_t>(at + 48, d);
        unsigned family = (a >> 8) & 0xF;
        unsigned model = (a >> 4) & 0xF;
        if (family == 0xF) family += (a >> 20) & 0xFF;
        if (family == 0x6 || family >= 0xF) model |= ((a >> 16) & 0xF) << 4;
        out.Put<std::uint16_t>(at + 2, static_cast<std::uint16_t>(family));
        out.Put<std::uint16_t>(at + 4, static_cast<std::uint16_t>((model << 8) | (a & 0xF)));
    }
    if (__get_cpuid(0x80000001, &a, &b, &c, &d)) out.Put<std::uint32_t>(at + 52, d);
#else
    (void)out;
    (void)at;
#endif
}

// Process start time and CPU times from /proc/<pid>/stat, for MiscInfo.
void ProcessTimes(const CrashedProcess& p, std::uint32_t* created, std::uint32_t* user, std::uint32_t* kernel) {
    *created = *user = *kernel = 0;
    std::string stat = p.ReadProcFile("stat");
    std::size_t close = stat.rfind(')');
    if (close == std::string::npos) return;
    std::istringstream fields(stat.substr(close + 2));
    std::vector<std::string> f;
    for (std::string s; fields >> s;) f.push_back(s);
    // After the name: state is field 3; utime 14, stime 15, starttime 22.
    if (f.size() < 20) return;
    long ticks = sysconf(_SC_CLK_TCK);
    if (ticks <= 0) ticks = 100;
    *user = static_cast<std::uint32_t>(std::stoull(f[11]) / static_cast<unsigned long long>(ticks));
    *kernel = static_cast<std::uint32_t>(std::stoull(f[12]) / static_cast<unsigned long long>(ticks));
    std::ifstream procStat("/proc/stat");
    std::string line;
    unsigned long long boot = 0;
    while (std::getline(procStat, line))
        if (line.rfind("btime ", 0) == 0) boot = std::stoull(line.substr(6));
    *created = static_cast<std::uint32_t>(boot + std::stoull(f[19]) / static_cast<unsigned long long>(ticks));
}

} // namespace

Failure WriteMinidump(const CrashedProcess& p, std::uint32_t dumpType, int fd) {
    try {
        Buffer out;
        std::vector<Directory> dir;
        const ExceptionInfo& ex = p.exception();
        bool fullMemory = (dumpType & kDumpWithFullMemory) != 0;

        // Header and directory are filled in at the end.
        out.Reserve(32);
        constexpr std::size_t kMaxStreams = 12;
        std::uint32_t dirRva = out.Reserve(kMaxStreams * 12);

        std::vector<MemoryRange> memory;

        // Threads. The crashed thread's registers come from the ucontext: ptrace
        // would show it inside the signal handler.
        const auto& threads = p.threads();
        std::uint32_t threadList = out.Reserve(4 + threads.size() * 48);
        out.Put<std::uint32_t>(threadList, static_cast<std::uint32_t>(threads.size()));
        std::uint32_t crashedContextRva = 0, crashedContextSize = 0;
        for (std::size_t i = 0; i < threads.size(); ++i) {
            const ThreadInfo& t = threads[i];
            const ThreadContext* ctx = t.hasContext ? &t.context : nullptr;
            if (ex.present && t.tid == ex.threadId) ctx = &ex.context;
            std::uint32_t entry = threadList + 4 + static_cast<std::uint32_t>(i) * 48;
            out.Put<std::uint32_t>(entry, static_cast<std::uint32_t>(t.tid));
            if (ctx == nullptr) continue;
            std::uint32_t ctxRva = out.Append(ctx->raw.data(), ctx->raw.size(), 16);
            out.Put<std::uint32_t>(entry + 40, static_cast<std::uint32_t>(ctx->raw.size()));
            out.Put<std::uint32_t>(entry + 44, ctxRva);
            if (ex.present && t.tid == ex.threadId) {
                crashedContextRva = ctxRva;
                crashedContextSize = static_cast<std::uint32_t>(ctx->raw.size());
            }
            MemoryRange stack;
            if (CaptureStack(p, out, ctx->sp, &stack)) {
                out.Put<std::uint64_t>(entry + 24, stack.start);
                out.Put<std::uint32_t>(entry + 32, stack.where.size);
                out.Put<std::uint32_t>(entry + 36, stack.where.rva);
                memory.push_back(stack);
            }
        }
        dir.push_back({kThreadListStream, 4 + static_cast<std::uint32_t>(threads.size()) * 48, threadList});
        // The crashed thread's context when it was not among the stopped threads.
        if (ex.present && crashedContextRva == 0) {
            crashedContextRva = out.Append(ex.context.raw.data(), ex.context.raw.size(), 16);
            crashedContextSize = static_cast<std::uint32_t>(ex.context.raw.size());
        }

        // Modules, with build ids in 'BpEL' CodeView records.
        const auto& modules = p.modules();
        std::uint32_t moduleList = out.Reserve(4 + modules.size() * 108);
        out.Put<std::uint32_t>(moduleList, static_cast<std::uint32_t>(modules.size()));
        for (std::size_t i = 0; i < modules.size(); ++i) {
            const ModuleInfo& m = modules[i];
            std::uint32_t e = moduleList + 4 + static_cast<std::uint32_t>(i) * 108;
            out.Put<std::uint64_t>(e, m.base);
            out.Put<std::uint32_t>(e + 8, static_cast<std::uint32_t>(std::min<std::uint64_t>(m.size, 0xFFFFFFFFu)));
            std::uint32_t name = out.AppendString(ModuleName(m.path, m.identity));
            out.Put<std::uint32_t>(e + 20, name);
            if (m.identity.hasVersion) {
                std::uint32_t hi = (std::uint32_t{m.identity.version[0]} << 16) | m.identity.version[1];
                std::uint32_t lo = (std::uint32_t{m.identity.version[2]} << 16) | m.identity.version[3];
                out.Put<std::uint32_t>(e + 24, 0xFEEF04BD);
                out.Put<std::uint32_t>(e + 28, 0x00010000);
                out.Put<std::uint32_t>(e + 32, hi);
                out.Put<std::uint32_t>(e + 36, lo);
                out.Put<std::uint32_t>(e + 40, hi);
                out.Put<std::uint32_t>(e + 44, lo);
            }
            if (!m.identity.buildId.empty()) {
                std::vector<std::uint8_t> cv(4 + m.identity.buildId.size());
                std::uint32_t sig = 0x4270454C;
                std::memcpy(cv.data(), &sig, 4);
                std::memcpy(cv.data() + 4, m.identity.buildId.data(), m.identity.buildId.size());
                std::uint32_t cvRva = out.Append(cv.data(), cv.size());
                out.Put<std::uint32_t>(e + 76, static_cast<std::uint32_t>(cv.size()));
                out.Put<std::uint32_t>(e + 80, cvRva);
            }
        }
        dir.push_back({kModuleListStream, 4 + static_cast<std::uint32_t>(modules.size()) * 108, moduleList});

        // Code around the crashing instruction.
        if (ex.present && ex.context.pc != 0) {
            std::uint64_t start = ex.context.pc >= kPcMemory / 2 ? ex.context.pc - kPcMemory / 2 : 0;
            const MapEntry* m = p.MappingAt(ex.context.pc);
            if (m != nullptr) {
                start = std::max(start, m->start);
                std::uint64_t end = std::min(start + kPcMemory, m->end);
                MemoryRange code;
                if (CaptureMemory(p, out, start, end - start, &code)) memory.push_back(code);
            }
        }
        if (dumpType & kDumpWithDataSegments) {
            const auto& maps = p.maps();
            for (std::size_t i = 0; i < maps.size(); ++i) {
                const MapEntry& m = maps[i];
                if (m.perms.size() < 2 || m.perms[1] != 'w') continue;
                // A module's own writable mapping, or the anonymous one right
                // behind it: the part of .bss beyond the file's last page.
                const bool file = !m.path.empty() && m.path[0] == '/';
                const bool bss = m.path.empty() && i > 0 && maps[i - 1].end == m.start &&
                                 !maps[i - 1].path.empty() && maps[i - 1].path[0] == '/' &&
                                 maps[i - 1].perms.size() > 1 && maps[i - 1].perms[1] == 'w';
                if (!file && !bss) continue;
                if (m.end - m.start > (64u << 20)) continue;
                MemoryRange data;
                if (CaptureMemory(p, out, m.start, m.end - m.start, &data)) memory.push_back(data);
            }
        }
        std::uint32_t memoryList = out.Reserve(4 + memory.size() * 16);
        out.Put<std::uint32_t>(memoryList, static_cast<std::uint32_t>(memory.size()));
        for (std::size_t i = 0; i < memory.size(); ++i) {
            std::uint32_t e = memoryList + 4 + static_cast<std::uint32_t>(i) * 16;
            out.Put<std::uint64_t>(e, memory[i].start);
            out.Put<std::uint32_t>(e + 8, memory[i].where.size);
            out.Put<std::uint32_t>(e + 12, memory[i].where.rva);
        }
        dir.push_back({kMemoryListStream, 4 + static_cast<std::uint32_t>(memory.size()) * 16, memoryList});

        // Exception: code = signal number, flags = si_code, address = the fault
        // address the kernel reported (the instruction for signals without one).
        if (ex.present) {
            std::uint32_t e = out.Reserve(168);
            out.Put<std::uint32_t>(e, static_cast<std::uint32_t>(ex.threadId));
            out.Put<std::uint32_t>(e + 8, static_cast<std::uint32_t>(ex.signalNumber));
            out.Put<std::uint32_t>(e + 12, static_cast<std::uint32_t>(ex.signalCode));
            bool hasFaultAddress = ex.signalNumber == 4 || ex.signalNumber == 5 || ex.signalNumber == 7 ||
                                   ex.signalNumber == 8 || ex.signalNumber == 11;
            out.Put<std::uint64_t>(e + 24, hasFaultAddress ? ex.faultAddress : ex.context.pc);
            out.Put<std::uint32_t>(e + 160, crashedContextSize);
            out.Put<std::uint32_t>(e + 164, crashedContextRva);
            dir.push_back({kExceptionStream, 168, e});
        }

        // System information.
        {
            std::uint32_t s = out.Reserve(56);
            out.Put<std::uint16_t>(s, MinidumpProcessorArchitecture());
            long cpus = sysconf(_SC_NPROCESSORS_CONF);
            out.Put<std::uint8_t>(s + 6, static_cast<std::uint8_t>(std::clamp<long>(cpus, 1, 255)));
            utsname u{};
            uname(&u);
            unsigned major = 0, minor = 0, build = 0;
            std::sscanf(u.release, "%u.%u.%u", &major, &minor, &build);
            out.Put<std::uint32_t>(s + 8, major);
            out.Put<std::uint32_t>(s + 12, minor);
            out.Put<std::uint32_t>(s + 16, build);
            out.Put<std::uint32_t>(s + 20, 0x8201);  // Linux
            FillCpuInfo(out, s);
            std::string csd = std::string(u.sysname) + " " + u.release + " " + u.version + " " + u.machine;
            std::uint32_t csdRva = out.AppendString(csd);
            out.Put<std::uint32_t>(s + 24, csdRva);
            dir.push_back({kSystemInfoStream, 56, s});
        }

        // Misc info: process id and times; readers otherwise invent a pid.
        {
            std::uint32_t m = out.Reserve(24);
            std::uint32_t created, user, kernel;
            ProcessTimes(p, &created, &user, &kernel);
            out.Put<std::uint32_t>(m, 24);
            out.Put<std::uint32_t>(m + 4, 0x1 | 0x2);
            out.Put<std::uint32_t>(m + 8, static_cast<std::uint32_t>(p.pid()));
            out.Put<std::uint32_t>(m + 12, created);
            out.Put<std::uint32_t>(m + 16, user);
            out.Put<std::uint32_t>(m + 20, kernel);
            dir.push_back({kMiscInfoStream, 24, m});
        }

        // Memory info: one entry per mapping.
        {
            const auto& maps = p.maps();
            std::uint32_t l = out.Reserve(16 + maps.size() * 48, 8);
            out.Put<std::uint32_t>(l, 16);
            out.Put<std::uint32_t>(l + 4, 48);
            out.Put<std::uint64_t>(l + 8, maps.size());
            for (std::size_t i = 0; i < maps.size(); ++i) {
                const MapEntry& m = maps[i];
                std::uint32_t e = l + 16 + static_cast<std::uint32_t>(i) * 48;
                std::uint32_t protect = ProtectionFromPerms(m.perms);
                out.Put<std::uint64_t>(e, m.start);
                out.Put<std::uint64_t>(e + 8, m.start);
                out.Put<std::uint32_t>(e + 16, protect);
                out.Put<std::uint64_t>(e + 24, m.end - m.start);
                out.Put<std::uint32_t>(e + 32, 0x1000);
                out.Put<std::uint32_t>(e + 36, protect);
                out.Put<std::uint32_t>(e + 40, m.inode != 0 ? 0x1000000 : 0x20000);
            }
            dir.push_back({kMemoryInfoListStream, 16 + static_cast<std::uint32_t>(maps.size()) * 48, l});
        }

        // Linux texts that readers understand.
        auto addText = [&](std::uint32_t type, const std::string& text) {
            if (text.empty()) return;
            std::uint32_t at = out.Append(text.data(), text.size());
            dir.push_back({type, static_cast<std::uint32_t>(text.size()), at});
        };
        addText(kLinuxMapsStream, p.mapsText());
        addText(kLinuxProcStatusStream, p.ReadProcFile("status"));
        {
            std::string cpuinfo;
            std::ifstream in("/proc/cpuinfo");
            std::ostringstream s;
            s << in.rdbuf();
            cpuinfo = s.str();
            if (cpuinfo.size() > (1u << 20)) cpuinfo.resize(1u << 20);
            addText(kLinuxCpuInfoStream, cpuinfo);
        }

        // Full memory: every readable range, in a Memory64List whose data
        // follows the rest of the file.
        std::vector<std::pair<std::uint64_t, std::uint64_t>> full;
        if (fullMemory) {
            // Reservations of terabytes (sanitizer shadow memory, allocator
            // arenas) are no data worth sending; the total stays bounded.
            constexpr std::uint64_t kLargestRange = 1ull << 30, kMostMemory = 4ull << 30;
            std::uint64_t total = 0;
            for (const MapEntry& m : p.maps()) {
                if (m.perms.empty() || m.perms[0] != 'r' || m.path == "[vvar]" || m.path == "[vsyscall]") continue;
                std::uint64_t size = m.end - m.start;
                if (size > kLargestRange || total + size > kMostMemory) continue;
                total += size;
                full.emplace_back(m.start, size);
            }
            std::uint32_t l = out.Reserve(16 + full.size() * 16, 8);
            out.Put<std::uint64_t>(l, full.size());
            for (std::size_t i = 0; i < full.size(); ++i) {
                out.Put<std::uint64_t>(l + 16 + static_cast<std::uint32_t>(i) * 16, full[i].first);
                out.Put<std::uint64_t>(l + 24 + static_cast<std::uint32_t>(i) * 16, full[i].second);
            }
            dir.push_back({kMemory64ListStream, 16 + static_cast<std::uint32_t>(full.size()) * 16, l});
            out.Align(16);
            out.Put<std::uint64_t>(l + 8, out.size());
        }

        if (dir.size() > kMaxStreams) return FailureFromErrno(EOVERFLOW);
        out.Put<std::uint32_t>(0, 0x504D444D);  // "MDMP"
        out.Put<std::uint32_t>(4, 0x0000A793);
        out.Put<std::uint32_t>(8, static_cast<std::uint32_t>(dir.size()));
        out.Put<std::uint32_t>(12, dirRva);
        out.Put<std::uint32_t>(20, static_cast<std::uint32_t>(std::time(nullptr)));
        out.Put<std::uint64_t>(24, dumpType);
        for (std::size_t i = 0; i < dir.size(); ++i) {
            std::uint32_t e = dirRva + static_cast<std::uint32_t>(i) * 12;
            out.Put<std::uint32_t>(e, dir[i].type);
            out.Put<std::uint32_t>(e + 4, dir[i].size);
            out.Put<std::uint32_t>(e + 8, dir[i].rva);
        }
        if (!WriteAll(fd, out.bytes().data(), out.bytes().size())) return FailureFromErrno(errno);

        // Ranges that cannot be read are written as zeros so that the offsets
        // of the ranges behind them stay right.
        std::vector<std::uint8_t> chunk;
        for (const auto& [start, size] : full) {
            for (std::uint64_t done = 0; done < size;) {
                std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(size - done, 1u << 20));
                chunk.assign(n, 0);
                if (!p.ReadMemory(start + done, chunk.data(), n)) std::fill(chunk.begin(), chunk.end(), 0);
                p.BlankPrivateData(start + done, chunk.data(), n);
                if (!WriteAll(fd, chunk.data(), n)) return FailureFromErrno(errno);
                done += n;
            }
        }
        return {};
    } catch (const std::bad_alloc&) {
        return FailureFromErrno(ENOMEM);
    } catch (const std::exception&) {
        return FailureFromErrno(EINVAL);
    }
}

} // namespace ulmarro
