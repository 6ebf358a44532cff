#include "minidump_writer.h"

#include "minidump_format.h"

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

namespace md = minidump;

constexpr std::size_t kStackToCapture = 32 * 1024;
constexpr std::size_t kPcMemory = 256;
constexpr std::uint64_t kPageSize = 4096;
constexpr std::size_t kMaxStreams = 12;

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
    // A record (or a value) at an offset already reserved.
    template <typename T> void Put(std::uint32_t offset, const T& record) {
        std::memcpy(&bytes_[offset], &record, sizeof record);
    }
    // MINIDUMP_STRING: byte length, UTF-16LE, a terminating zero.
    std::uint32_t AppendString(const std::string& utf8) {
        const std::vector<std::uint16_t> units = Utf16(utf8);
        std::uint32_t at = Reserve(sizeof(md::StringHeader) + units.size() * 2 + 2);
        Put(at, md::StringHeader{static_cast<std::uint32_t>(units.size() * 2)});
        if (!units.empty())
            std::memcpy(&bytes_[at + sizeof(md::StringHeader)], units.data(), units.size() * 2);
        return at;
    }
    const std::vector<std::uint8_t>& bytes() const { return bytes_; }

private:
    static std::vector<std::uint16_t> Utf16(const std::string& utf8) {
        std::vector<std::uint16_t> units;
        for (std::size_t i = 0; i < utf8.size();) {
            unsigned char c = static_cast<unsigned char>(utf8[i]);
            std::uint32_t code = c;
            std::size_t len = 1;
            if (c >= 0xF0 && i + 3 < utf8.size()) {
                code = ((c & 0x07u) << 18) | ((utf8[i + 1] & 0x3Fu) << 12) | ((utf8[i + 2] & 0x3Fu) << 6) |
                       (utf8[i + 3] & 0x3Fu);
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
        return units;
    }

    std::vector<std::uint8_t> bytes_;
};

// What the streams share while the file is built: the bytes, the directory,
// the ranges of memory the memory list will name, and where the crashed
// thread's registers went.
struct Dump {
    const CrashedProcess& process;
    Buffer out;
    std::vector<md::Directory> directory;
    std::vector<md::MemoryDescriptor> memory;
    md::LocationDescriptor crashedContext{};

    void AddStream(std::uint32_t type, std::uint32_t rva, std::uint32_t size) {
        directory.push_back({type, {size, rva}});
    }
    // The stream's records, list header first, where they were reserved.
    template <typename Header, typename Record>
    void PutList(std::uint32_t at, const Header& header, const std::vector<Record>& records) {
        out.Put(at, header);
        for (std::size_t i = 0; i < records.size(); ++i)
            out.Put(at + static_cast<std::uint32_t>(sizeof header + i * sizeof(Record)), records[i]);
    }
    // A list after a 32-bit count, one record per item, made by `make`.
    // The list comes before the data its records point at, which `make`
    // appends.
    template <typename Record, typename Item, typename Make>
    void WriteList(std::uint32_t type, const std::vector<Item>& items, Make make) {
        const auto count = static_cast<std::uint32_t>(items.size());
        const auto size = static_cast<std::uint32_t>(sizeof(md::ListHeader) + count * sizeof(Record));
        const std::uint32_t at = out.Reserve(size);
        std::vector<Record> records;
        for (const Item& item : items) records.push_back(make(item));
        PutList(at, md::ListHeader{count}, records);
        AddStream(type, at, size);
    }
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

// ---------------------------------------------------------------------------
// Memory

// Copies [start, start+size) of the process into the dump, shrinking the
// range to its readable head when the tail cannot be read.
bool CaptureMemory(Dump& d, std::uint64_t start, std::uint64_t size, md::MemoryDescriptor* range) {
    while (size > 0) {
        std::vector<std::uint8_t> data(size);
        if (d.process.ReadMemory(start, data.data(), data.size())) {
            d.process.BlankPrivateData(start, data.data(), data.size());
            range->startOfMemoryRange = start;
            range->memory.dataSize = static_cast<std::uint32_t>(size);
            range->memory.rva = d.out.Append(data.data(), data.size());
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
bool CaptureStack(Dump& d, std::uint64_t sp, md::MemoryDescriptor* range) {
    const MapEntry* m = d.process.MappingAt(sp);
    std::uint64_t start = sp & ~(kPageSize - 1);
    if (m == nullptr) {
        for (const MapEntry& e : d.process.maps())
            if (e.start > sp && e.start - sp <= 64 * 1024 && e.perms.size() > 1 && e.perms[1] == 'w') {
                m = &e;
                start = e.start;
                break;
            }
        if (m == nullptr) return false;
    }
    if (start < m->start) start = m->start;
    std::uint64_t end = std::min<std::uint64_t>(start + kStackToCapture, m->end);
    return end > start && CaptureMemory(d, start, end - start, range);
}

// Code around the crashing instruction.
void CaptureCodeAroundPc(Dump& d) {
    const ExceptionInfo& ex = d.process.exception();
    if (!ex.present || ex.context.pc == 0) return;
    std::uint64_t start = ex.context.pc >= kPcMemory / 2 ? ex.context.pc - kPcMemory / 2 : 0;
    const MapEntry* m = d.process.MappingAt(ex.context.pc);
    if (m == nullptr) return;
    start = std::max(start, m->start);
    std::uint64_t end = std::min(start + kPcMemory, m->end);
    md::MemoryDescriptor code{};
    if (CaptureMemory(d, start, end - start, &code)) d.memory.push_back(code);
}

// The writable data of every module.
void CaptureDataSegments(Dump& d) {
    const auto& maps = d.process.maps();
    for (std::size_t i = 0; i < maps.size(); ++i) {
        const MapEntry& m = maps[i];
        if (m.perms.size() < 2 || m.perms[1] != 'w') continue;
        // A module's own writable mapping, or the anonymous one right
        // behind it: the part of .bss beyond the file's last page.
        const bool file = !m.path.empty() && m.path[0] == '/';
        const bool bss = m.path.empty() && i > 0 && maps[i - 1].end == m.start && !maps[i - 1].path.empty() &&
                         maps[i - 1].path[0] == '/' && maps[i - 1].perms.size() > 1 &&
                         maps[i - 1].perms[1] == 'w';
        if (!file && !bss) continue;
        if (m.end - m.start > (64u << 20)) continue;
        md::MemoryDescriptor data{};
        if (CaptureMemory(d, m.start, m.end - m.start, &data)) d.memory.push_back(data);
    }
}

void WriteMemoryList(Dump& d) {
    d.WriteList<md::MemoryDescriptor>(md::kMemoryListStream, d.memory,
                                      [](const md::MemoryDescriptor& r) { return r; });
}

// ---------------------------------------------------------------------------
// Threads and the exception

// The crashed thread's registers come from the ucontext: ptrace would show
// it inside the signal handler.
md::Thread ThreadRecord(Dump& d, const ThreadInfo& t) {
    const ExceptionInfo& ex = d.process.exception();
    md::Thread record{};
    record.threadId = static_cast<std::uint32_t>(t.tid);
    const bool crashed = ex.present && t.tid == ex.threadId;
    const ThreadContext* ctx = crashed ? &ex.context : t.hasContext ? &t.context : nullptr;
    if (ctx == nullptr) return record;
    record.threadContext.dataSize = static_cast<std::uint32_t>(ctx->raw.size());
    record.threadContext.rva = d.out.Append(ctx->raw.data(), ctx->raw.size(), 16);
    if (crashed) d.crashedContext = record.threadContext;
    md::MemoryDescriptor stack{};
    if (CaptureStack(d, ctx->sp, &stack)) {
        record.stack = stack;
        d.memory.push_back(stack);
    }
    return record;
}

void WriteThreadList(Dump& d) {
    const ExceptionInfo& ex = d.process.exception();
    d.WriteList<md::Thread>(md::kThreadListStream, d.process.threads(),
                            [&d](const ThreadInfo& t) { return ThreadRecord(d, t); });
    // The crashed thread's context when it was not among the stopped threads.
    if (ex.present && d.crashedContext.rva == 0) {
        d.crashedContext.rva = d.out.Append(ex.context.raw.data(), ex.context.raw.size(), 16);
        d.crashedContext.dataSize = static_cast<std::uint32_t>(ex.context.raw.size());
    }
}

// Exception: code = signal number, flags = si_code, address = the fault
// address the kernel reported (the instruction for signals without one).
void WriteException(Dump& d) {
    const ExceptionInfo& ex = d.process.exception();
    if (!ex.present) return;
    md::ExceptionStream e{};
    e.threadId = static_cast<std::uint32_t>(ex.threadId);
    e.exceptionRecord.exceptionCode = static_cast<std::uint32_t>(ex.signalNumber);
    e.exceptionRecord.exceptionFlags = static_cast<std::uint32_t>(ex.signalCode);
    const bool hasFaultAddress = ex.signalNumber == 4 || ex.signalNumber == 5 || ex.signalNumber == 7 ||
                                 ex.signalNumber == 8 || ex.signalNumber == 11;
    e.exceptionRecord.exceptionAddress = hasFaultAddress ? ex.faultAddress : ex.context.pc;
    e.threadContext = d.crashedContext;
    std::uint32_t at = d.out.Reserve(sizeof e);
    d.out.Put(at, e);
    d.AddStream(md::kExceptionStream, at, sizeof e);
}

// ---------------------------------------------------------------------------
// Modules, with build ids in 'BpEL' CodeView records

md::FixedFileInfo VersionInfo(const FileIdentity& identity) {
    md::FixedFileInfo v{};
    if (!identity.hasVersion) return v;
    const std::uint32_t hi = (std::uint32_t{identity.version[0]} << 16) | identity.version[1];
    const std::uint32_t lo = (std::uint32_t{identity.version[2]} << 16) | identity.version[3];
    v.signature = md::kFixedFileInfoSignature;
    v.structVersion = md::kFixedFileInfoVersion;
    v.fileVersionHi = v.productVersionHi = hi;
    v.fileVersionLo = v.productVersionLo = lo;
    return v;
}

md::LocationDescriptor AppendCodeView(Buffer& out, const std::vector<std::uint8_t>& buildId) {
    if (buildId.empty()) return {};
    std::vector<std::uint8_t> cv(sizeof(md::CodeViewElfHeader) + buildId.size());
    const md::CodeViewElfHeader header{md::kCodeViewElfSignature};
    std::memcpy(cv.data(), &header, sizeof header);
    std::memcpy(cv.data() + sizeof header, buildId.data(), buildId.size());
    return {static_cast<std::uint32_t>(cv.size()), out.Append(cv.data(), cv.size())};
}

void WriteModuleList(Dump& d) {
    d.WriteList<md::Module>(md::kModuleListStream, d.process.modules(), [&d](const ModuleInfo& m) {
        md::Module record{};
        record.baseOfImage = m.base;
        record.sizeOfImage = static_cast<std::uint32_t>(std::min<std::uint64_t>(m.size, 0xFFFFFFFFu));
        record.moduleNameRva = d.out.AppendString(ModuleName(m.path, m.identity));
        record.versionInfo = VersionInfo(m.identity);
        record.cvRecord = AppendCodeView(d.out, m.identity.buildId);
        return record;
    });
}

// ---------------------------------------------------------------------------
// System and process

void FillCpuInfo(md::SystemInfo& s) {
#if defined(__x86_64__) || defined(__i386__)
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (__get_cpuid(0, &a, &b, &c, &d)) {
        s.cpu.vendorId[0] = b;
        s.cpu.vendorId[1] = d;
        s.cpu.vendorId[2] = c;
    }
    if (__get_cpuid(1, &a, &b, &c, &d)) {
        s.cpu.versionInformation = a;
        s.cpu.featureInformation = d;
        unsigned family = (a >> 8) & 0xF;
        unsigned model = (a >> 4) & 0xF;
        if (family == 0xF) family += (a >> 20) & 0xFF;
        if (family == 0x6 || family >= 0xF) model |= ((a >> 16) & 0xF) << 4;
        s.processorLevel = static_cast<std::uint16_t>(family);
        s.processorRevision = static_cast<std::uint16_t>((model << 8) | (a & 0xF));
    }
    if (__get_cpuid(0x80000001, &a, &b, &c, &d)) s.cpu.amdExtendedCpuFeatures = d;
#else
    (void)s;
#endif
}

void WriteSystemInfo(Dump& d) {
    md::SystemInfo s{};
    std::uint32_t at = d.out.Reserve(sizeof s);
    s.processorArchitecture = MinidumpProcessorArchitecture();
    long cpus = sysconf(_SC_NPROCESSORS_CONF);
    s.numberOfProcessors = static_cast<std::uint8_t>(std::clamp<long>(cpus, 1, 255));
    utsname u{};
    uname(&u);
    unsigned major = 0, minor = 0, build = 0;
    std::sscanf(u.release, "%u.%u.%u", &major, &minor, &build);
    s.majorVersion = major;
    s.minorVersion = minor;
    s.buildNumber = build;
    s.platformId = md::kPlatformLinux;
    FillCpuInfo(s);
    // Where a Windows dump keeps its service pack: the kernel's own description.
    s.csdVersionRva =
        d.out.AppendString(std::string(u.sysname) + " " + u.release + " " + u.version + " " + u.machine);
    d.out.Put(at, s);
    d.AddStream(md::kSystemInfoStream, at, sizeof s);
}

// Process start time and CPU times from /proc/<pid>/stat, for MiscInfo.
void ProcessTimes(const CrashedProcess& p, std::uint32_t* created, std::uint32_t* user,
                  std::uint32_t* kernel) {
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

// Process id and times; readers otherwise invent a pid.
void WriteMiscInfo(Dump& d) {
    md::MiscInfo m{};
    std::uint32_t at = d.out.Reserve(sizeof m);
    std::uint32_t created, user, kernel;
    ProcessTimes(d.process, &created, &user, &kernel);
    m.sizeOfInfo = sizeof m;
    m.flags1 = md::kMiscProcessId | md::kMiscProcessTimes;
    m.processId = static_cast<std::uint32_t>(d.process.pid());
    m.processCreateTime = created;
    m.processUserTime = user;
    m.processKernelTime = kernel;
    d.out.Put(at, m);
    d.AddStream(md::kMiscInfoStream, at, sizeof m);
}

std::uint32_t ProtectionFromPerms(const std::string& perms) {
    bool r = perms.size() > 0 && perms[0] == 'r';
    bool w = perms.size() > 1 && perms[1] == 'w';
    bool x = perms.size() > 2 && perms[2] == 'x';
    if (x) return w ? md::kPageExecuteReadWrite : (r ? md::kPageExecuteRead : md::kPageExecute);
    if (w) return md::kPageReadWrite;
    if (r) return md::kPageReadOnly;
    return md::kPageNoAccess;
}

// One entry per mapping.
void WriteMemoryInfoList(Dump& d) {
    const auto& maps = d.process.maps();
    const md::MemoryInfoListHeader header{sizeof header, sizeof(md::MemoryInfo), maps.size()};
    const auto size = static_cast<std::uint32_t>(sizeof header + maps.size() * sizeof(md::MemoryInfo));
    std::uint32_t list = d.out.Reserve(size, 8);
    std::vector<md::MemoryInfo> records(maps.size());
    for (std::size_t i = 0; i < maps.size(); ++i) {
        const MapEntry& m = maps[i];
        md::MemoryInfo& info = records[i];
        info.baseAddress = info.allocationBase = m.start;
        info.allocationProtect = info.protect = ProtectionFromPerms(m.perms);
        info.regionSize = m.end - m.start;
        info.state = md::kMemCommit;
        info.type = m.inode != 0 ? md::kMemImage : md::kMemPrivate;
    }
    d.PutList(list, header, records);
    d.AddStream(md::kMemoryInfoListStream, list, size);
}

// Linux texts that readers understand; an empty one is left out.
void WriteText(Dump& d, std::uint32_t type, const std::string& text) {
    if (text.empty()) return;
    std::uint32_t at = d.out.Append(text.data(), text.size());
    d.AddStream(type, at, static_cast<std::uint32_t>(text.size()));
}

std::string CpuInfoText() {
    std::ifstream in("/proc/cpuinfo");
    std::ostringstream s;
    s << in.rdbuf();
    std::string cpuinfo = s.str();
    if (cpuinfo.size() > (1u << 20)) cpuinfo.resize(1u << 20);
    return cpuinfo;
}

// ---------------------------------------------------------------------------
// Full memory: every readable range, in a Memory64List whose data follows
// the rest of the file.

std::vector<md::MemoryDescriptor64> WriteMemory64List(Dump& d) {
    // Reservations of terabytes (sanitizer shadow memory, allocator
    // arenas) are no data worth sending; the total stays bounded.
    constexpr std::uint64_t kLargestRange = 1ull << 30, kMostMemory = 4ull << 30;
    std::vector<md::MemoryDescriptor64> ranges;
    std::uint64_t total = 0;
    for (const MapEntry& m : d.process.maps()) {
        if (m.perms.empty() || m.perms[0] != 'r' || m.path == "[vvar]" || m.path == "[vsyscall]") continue;
        std::uint64_t size = m.end - m.start;
        if (size > kLargestRange || total + size > kMostMemory) continue;
        total += size;
        ranges.push_back({m.start, size});
    }
    const auto size =
        static_cast<std::uint32_t>(sizeof(md::Memory64ListHeader) + ranges.size() * sizeof(ranges[0]));
    std::uint32_t list = d.out.Reserve(size, 8);
    d.AddStream(md::kMemory64ListStream, list, size);
    d.out.Align(16);
    d.PutList(list, md::Memory64ListHeader{ranges.size(), d.out.size()}, ranges);
    return ranges;
}

// Ranges that cannot be read are written as zeros so that the offsets of
// the ranges behind them stay right.
bool WriteFullMemory(const CrashedProcess& p, const std::vector<md::MemoryDescriptor64>& ranges, int fd) {
    std::vector<std::uint8_t> chunk;
    for (const md::MemoryDescriptor64& range : ranges) {
        const std::uint64_t start = range.startOfMemoryRange, size = range.dataSize;
        for (std::uint64_t done = 0; done < size;) {
            std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(size - done, 1u << 20));
            chunk.assign(n, 0);
            if (!p.ReadMemory(start + done, chunk.data(), n)) std::fill(chunk.begin(), chunk.end(), 0);
            p.BlankPrivateData(start + done, chunk.data(), n);
            if (!WriteAll(fd, chunk.data(), n)) return false;
            done += n;
        }
    }
    return true;
}

// ---------------------------------------------------------------------------

void WriteHeaderAndDirectory(Dump& d, std::uint32_t dumpType, std::uint32_t directoryRva) {
    md::Header header{};
    header.signature = md::kSignature;
    header.version = md::kVersion;
    header.streamCount = static_cast<std::uint32_t>(d.directory.size());
    header.streamDirectoryRva = directoryRva;
    header.timeDateStamp = static_cast<std::uint32_t>(std::time(nullptr));
    header.flags = dumpType;
    d.out.Put(0, header);
    for (std::size_t i = 0; i < d.directory.size(); ++i)
        d.out.Put(directoryRva + static_cast<std::uint32_t>(i * sizeof(md::Directory)), d.directory[i]);
}

Failure WriteDump(const CrashedProcess& p, std::uint32_t dumpType, int fd) {
    Dump d{p, {}, {}, {}, {}};
    // Header and directory are filled in at the end.
    d.out.Reserve(sizeof(md::Header));
    const std::uint32_t directoryRva = d.out.Reserve(kMaxStreams * sizeof(md::Directory));

    WriteThreadList(d);
    WriteModuleList(d);
    CaptureCodeAroundPc(d);
    if (dumpType & kDumpWithDataSegments) CaptureDataSegments(d);
    WriteMemoryList(d);
    WriteException(d);
    WriteSystemInfo(d);
    WriteMiscInfo(d);
    WriteMemoryInfoList(d);
    WriteText(d, md::kLinuxMapsStream, p.mapsText());
    WriteText(d, md::kLinuxProcStatusStream, p.ReadProcFile("status"));
    WriteText(d, md::kLinuxCpuInfoStream, CpuInfoText());
    std::vector<md::MemoryDescriptor64> full;
    if (dumpType & kDumpWithFullMemory) full = WriteMemory64List(d);

    if (d.directory.size() > kMaxStreams) return FailureFromErrno(EOVERFLOW);
    WriteHeaderAndDirectory(d, dumpType, directoryRva);
    if (!WriteAll(fd, d.out.bytes().data(), d.out.bytes().size())) return FailureFromErrno(errno);
    if (!WriteFullMemory(p, full, fd)) return FailureFromErrno(errno);
    return {};
}

} // namespace

Failure WriteMinidump(const CrashedProcess& p, std::uint32_t dumpType, int fd) {
    try {
        return WriteDump(p, dumpType, fd);
    } catch (const std::bad_alloc&) {
        return FailureFromErrno(ENOMEM);
    } catch (const std::exception&) {
        return FailureFromErrno(EINVAL);
    }
}

} // namespace ulmarro
