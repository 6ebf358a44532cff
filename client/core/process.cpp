#include "process.h"

#include "minidump_format.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>

#include <dirent.h>
#include <elf.h>
#include <fcntl.h>
#include <sys/ptrace.h>
#include <sys/uio.h>
#include <sys/user.h>
#include <sys/wait.h>
#include <ucontext.h>
#include <unistd.h>

#include <cstddef>

namespace ulmarro {
namespace {

namespace md = minidump;

template <typename T> T Get(const std::uint8_t* p, std::size_t offset) {
    T value;
    std::memcpy(&value, p + offset, sizeof value);
    return value;
}

// The registers in the minidump's own context record.
template <typename Context>
ThreadContext ToThreadContext(const Context& record, std::uint64_t pc, std::uint64_t sp) {
    ThreadContext c;
    c.raw.resize(sizeof record);
    std::memcpy(c.raw.data(), &record, sizeof record);
    c.pc = pc;
    c.sp = sp;
    return c;
}

#if defined(__x86_64__)
constexpr std::size_t kUcontextKernelPart = 304; // up to and including the signal mask
constexpr std::size_t kUcGregs = 40, kUcFpregs = 224;
// The kernel's layout, which glibc's ucontext_t mirrors up to the signal mask.
static_assert(offsetof(ucontext_t, uc_mcontext.gregs) == kUcGregs);
static_assert(offsetof(ucontext_t, uc_mcontext.fpregs) == kUcFpregs);
static_assert(offsetof(ucontext_t, uc_sigmask) + 8 == kUcontextKernelPart);

// Completes a context whose registers are filled in: the flags and the
// FXSAVE area (with MXCSR, which the record also keeps on its own).
ThreadContext BuildContext(md::ContextAmd64& c, const std::uint8_t* fxsave, bool segments) {
    c.contextFlags = md::kContextAmd64 | md::kContextControl | md::kContextInteger |
                     (segments ? md::kContextSegments : 0) | (fxsave ? md::kContextFloatingPoint : 0);
    if (fxsave) {
        c.mxCsr = Get<std::uint32_t>(fxsave, 24);
        std::memcpy(c.fxsave, fxsave, sizeof c.fxsave);
    }
    return ToThreadContext(c, c.rip, c.rsp);
}

// The general registers: where each lies in the context record, in the
// ucontext's gregs and in ptrace's user_regs_struct.
struct GeneralRegister {
    std::size_t context;
    int greg;
    std::size_t user;
};
using C = md::ContextAmd64;
using U = user_regs_struct;
constexpr GeneralRegister kGeneralRegisters[] = {
    {offsetof(C, rax), REG_RAX, offsetof(U, rax)}, {offsetof(C, rcx), REG_RCX, offsetof(U, rcx)},
    {offsetof(C, rdx), REG_RDX, offsetof(U, rdx)}, {offsetof(C, rbx), REG_RBX, offsetof(U, rbx)},
    {offsetof(C, rsp), REG_RSP, offsetof(U, rsp)}, {offsetof(C, rbp), REG_RBP, offsetof(U, rbp)},
    {offsetof(C, rsi), REG_RSI, offsetof(U, rsi)}, {offsetof(C, rdi), REG_RDI, offsetof(U, rdi)},
    {offsetof(C, r8), REG_R8, offsetof(U, r8)},    {offsetof(C, r9), REG_R9, offsetof(U, r9)},
    {offsetof(C, r10), REG_R10, offsetof(U, r10)}, {offsetof(C, r11), REG_R11, offsetof(U, r11)},
    {offsetof(C, r12), REG_R12, offsetof(U, r12)}, {offsetof(C, r13), REG_R13, offsetof(U, r13)},
    {offsetof(C, r14), REG_R14, offsetof(U, r14)}, {offsetof(C, r15), REG_R15, offsetof(U, r15)},
    {offsetof(C, rip), REG_RIP, offsetof(U, rip)},
};

// Fills the general registers from 64-bit words, given by their place in
// the source.
template <typename Word> void FillGeneralRegisters(md::ContextAmd64& c, Word word) {
    for (const GeneralRegister& r : kGeneralRegisters) {
        const std::uint64_t value = word(r);
        std::memcpy(reinterpret_cast<std::uint8_t*>(&c) + r.context, &value, sizeof value);
    }
}

ThreadContext ContextFromUcontext(const std::uint8_t* uc, const std::uint8_t* fxsave) {
    auto g = [&](int i) { return Get<std::uint64_t>(uc, kUcGregs + 8 * static_cast<std::size_t>(i)); };
    md::ContextAmd64 c{};
    FillGeneralRegisters(c, [&](const GeneralRegister& r) { return g(r.greg); });
    c.eflags = static_cast<std::uint32_t>(g(REG_EFL));
    std::uint64_t csgsfs = g(REG_CSGSFS);
    c.cs = static_cast<std::uint16_t>(csgsfs & 0xFFFF);
    c.gs = static_cast<std::uint16_t>((csgsfs >> 16) & 0xFFFF);
    c.fs = static_cast<std::uint16_t>((csgsfs >> 32) & 0xFFFF);
    return BuildContext(c, fxsave, false);
}

// ptrace's register sets; the floating-point ones are taken when the kernel
// gives at least kFpMinimum bytes of them.
using FpRegisters = user_fpregs_struct;
constexpr std::size_t kFpMinimum = 512;

ThreadContext ContextFromRegisters(const user_regs_struct& regs, const FpRegisters* fp) {
    md::ContextAmd64 c{};
    FillGeneralRegisters(c, [&](const GeneralRegister& r) {
        return Get<std::uint64_t>(reinterpret_cast<const std::uint8_t*>(&regs), r.user);
    });
    c.eflags = static_cast<std::uint32_t>(regs.eflags);
    c.cs = static_cast<std::uint16_t>(regs.cs);
    c.ds = static_cast<std::uint16_t>(regs.ds);
    c.es = static_cast<std::uint16_t>(regs.es);
    c.fs = static_cast<std::uint16_t>(regs.fs);
    c.gs = static_cast<std::uint16_t>(regs.gs);
    c.ss = static_cast<std::uint16_t>(regs.ss);
    return BuildContext(c, reinterpret_cast<const std::uint8_t*>(fp), true);
}

bool ReadUcontext(const CrashedProcess& p, std::uint64_t address, ThreadContext* out) {
    std::uint8_t uc[kUcontextKernelPart];
    if (!p.ReadMemory(address, uc, sizeof uc)) return false;
    std::uint8_t fx[512];
    std::uint64_t fpregs = Get<std::uint64_t>(uc, kUcFpregs);
    bool haveFp = fpregs != 0 && p.ReadMemory(fpregs, fx, sizeof fx);
    *out = ContextFromUcontext(uc, haveFp ? fx : nullptr);
    return true;
}

#elif defined(__aarch64__)
constexpr std::size_t kUcRegs = 184, kUcSp = 432, kUcPc = 440, kUcPstate = 448, kUcReserved = 464;
constexpr std::uint32_t kFpsimdMagic = 0x46508001;
// The kernel's layout, which glibc's ucontext_t mirrors for this part.
static_assert(offsetof(ucontext_t, uc_mcontext.regs) == kUcRegs);
static_assert(offsetof(ucontext_t, uc_mcontext.sp) == kUcSp);
static_assert(offsetof(ucontext_t, uc_mcontext.pc) == kUcPc);
static_assert(offsetof(ucontext_t, uc_mcontext.pstate) == kUcPstate);
static_assert(offsetof(ucontext_t, uc_mcontext.__reserved) == kUcReserved);

ThreadContext BuildContext(const std::uint64_t* x31, std::uint64_t sp, std::uint64_t pc, std::uint32_t pstate,
                           const std::uint8_t* vregs, std::uint32_t fpsr, std::uint32_t fpcr) {
    md::ContextArm64 c{};
    c.contextFlags = md::kContextArm64 | md::kContextControl | md::kContextInteger |
                     (vregs ? md::kContextArm64FloatingPoint : 0);
    c.cpsr = pstate;
    std::memcpy(c.x, x31, 31 * sizeof c.x[0]);
    c.x[md::kArm64Sp] = sp;
    c.x[md::kArm64Pc] = pc;
    if (vregs) {
        std::memcpy(c.v, vregs, sizeof c.v);
        c.fpcr = fpcr;
        c.fpsr = fpsr;
    }
    return ToThreadContext(c, pc, sp);
}

using FpRegisters = user_fpsimd_struct;
constexpr std::size_t kFpMinimum = 0;

ThreadContext ContextFromRegisters(const user_regs_struct& regs, const FpRegisters* fp) {
    std::uint64_t x[31];
    for (std::size_t i = 0; i < 31; ++i) x[i] = regs.regs[i];
    return BuildContext(x, regs.sp, regs.pc, static_cast<std::uint32_t>(regs.pstate),
                        fp ? reinterpret_cast<const std::uint8_t*>(&fp->vregs) : nullptr, fp ? fp->fpsr : 0,
                        fp ? fp->fpcr : 0);
}

bool ReadUcontext(const CrashedProcess& p, std::uint64_t address, ThreadContext* out) {
    std::uint8_t uc[kUcReserved + 528];
    if (!p.ReadMemory(address, uc, kUcReserved)) return false;
    bool haveFp = p.ReadMemory(address + kUcReserved, uc + kUcReserved, 528) &&
                  Get<std::uint32_t>(uc, kUcReserved) == kFpsimdMagic;
    std::uint64_t x[31];
    std::memcpy(x, uc + kUcRegs, sizeof x);
    *out = BuildContext(x, Get<std::uint64_t>(uc, kUcSp), Get<std::uint64_t>(uc, kUcPc),
                        static_cast<std::uint32_t>(Get<std::uint64_t>(uc, kUcPstate)),
                        haveFp ? uc + kUcReserved + 16 : nullptr,
                        haveFp ? Get<std::uint32_t>(uc, kUcReserved + 8) : 0,
                        haveFp ? Get<std::uint32_t>(uc, kUcReserved + 12) : 0);
    return true;
}
#endif

#if defined(__x86_64__) || defined(__aarch64__)
bool ReadThreadContext(pid_t tid, ThreadContext* out) {
    user_regs_struct regs{};
    iovec io{&regs, sizeof regs};
    if (ptrace(PTRACE_GETREGSET, tid, reinterpret_cast<void*>(NT_PRSTATUS), &io) != 0) return false;
    FpRegisters fp{};
    iovec fio{&fp, sizeof fp};
    bool haveFp = ptrace(PTRACE_GETREGSET, tid, reinterpret_cast<void*>(NT_PRFPREG), &fio) == 0 &&
                  fio.iov_len >= kFpMinimum;
    *out = ContextFromRegisters(regs, haveFp ? &fp : nullptr);
    return true;
}
#else
bool ReadThreadContext(pid_t, ThreadContext*) { return false; }
bool ReadUcontext(const CrashedProcess&, std::uint64_t, ThreadContext*) { return false; }
#endif

bool ReadSmallFile(const std::string& path, std::string* text, std::size_t limit = 4 << 20) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    text->clear();
    char buffer[16384];
    for (;;) {
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        text->append(buffer, static_cast<std::size_t>(n));
        if (text->size() >= limit) break;
    }
    close(fd);
    return true;
}

std::vector<pid_t> ListTasks(pid_t pid) {
    std::vector<pid_t> tids;
    std::string dir = "/proc/" + std::to_string(pid) + "/task";
    DIR* d = opendir(dir.c_str());
    if (!d) return tids;
    while (dirent* e = readdir(d)) {
        char* end = nullptr;
        long v = std::strtol(e->d_name, &end, 10);
        if (end != e->d_name && *end == '\0' && v > 0) tids.push_back(static_cast<pid_t>(v));
    }
    closedir(d);
    std::sort(tids.begin(), tids.end());
    return tids;
}

void SleepBriefly() {
    timespec ts{0, 1000000};
    nanosleep(&ts, nullptr);
}

constexpr std::uint64_t kContextPage = 4096;

Failure NoSuchThread() { return FailureWithText(0x80070006, std::strerror(ESRCH)); }

} // namespace

std::uint16_t MinidumpProcessorArchitecture() {
#if defined(__x86_64__)
    return md::kArchitectureAmd64;
#elif defined(__aarch64__)
    return md::kArchitectureArm64;
#else
    return md::kArchitectureUnknown;
#endif
}

CrashedProcess::~CrashedProcess() { Detach(); }

Failure CrashedProcess::Find(std::uint64_t threadId) {
    if (threadId == 0) {
        pid_ = getppid();
        thread_ = 0;
    } else {
        if (threadId > static_cast<std::uint64_t>(INT_MAX)) return NoSuchThread();
        std::string status;
        if (!ReadSmallFile("/proc/" + std::to_string(threadId) + "/status", &status, 65536))
            return NoSuchThread();
        std::size_t at = status.find("\nTgid:");
        if (at == std::string::npos) return NoSuchThread();
        pid_ = static_cast<pid_t>(std::strtol(status.c_str() + at + 6, nullptr, 10));
        thread_ = static_cast<pid_t>(threadId);
        if (pid_ <= 0) return NoSuchThread();
    }
    if (pid_ <= 1 || pid_ == getpid()) return FailureFromErrno(EPERM);

    char link[PATH_MAX + 1];
    std::string exe = "/proc/" + std::to_string(pid_) + "/exe";
    ssize_t n = readlink(exe.c_str(), link, PATH_MAX);
    if (n < 0) return FailureFromErrno(errno);
    executable_.assign(link, static_cast<std::size_t>(n));
    const std::string deleted = " (deleted)";
    if (executable_.size() > deleted.size() &&
        executable_.compare(executable_.size() - deleted.size(), deleted.size(), deleted) == 0)
        executable_.resize(executable_.size() - deleted.size());
    executableIdentity_ = ReadFileIdentity(executable_);
    return {};
}

bool CrashedProcess::StopThread(pid_t tid) {
    if (ptrace(PTRACE_INTERRUPT, tid, nullptr, nullptr) != 0) return false;
    // A thread stops within microseconds; one that does not within two
    // seconds is left out of the report rather than hang the client.
    timespec start{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    for (;;) {
        int status = 0;
        pid_t got = waitpid(tid, &status, __WALL | WNOHANG);
        if (got == tid) {
            if (WIFEXITED(status) || WIFSIGNALED(status)) return false;
            if (WIFSTOPPED(status)) {
                if ((status >> 16) == PTRACE_EVENT_STOP) return true;
                // A signal on its way to the thread: let it go and ask again.
                ptrace(PTRACE_CONT, tid, nullptr,
                       reinterpret_cast<void*>(static_cast<long>(WSTOPSIG(status))));
                ptrace(PTRACE_INTERRUPT, tid, nullptr, nullptr);
            }
        } else if (got < 0 && errno != EINTR) {
            return false;
        }
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        if (now.tv_sec - start.tv_sec >= 2) return false;
        SleepBriefly();
    }
}

Failure CrashedProcess::Suspend() {
    Failure firstError;
    // Threads may start while we attach; a few rounds catch them.
    for (int round = 0; round < 8; ++round) {
        bool added = false;
        for (pid_t tid : ListTasks(pid_)) {
            if (std::find(attached_.begin(), attached_.end(), tid) != attached_.end()) continue;
            if (ptrace(PTRACE_SEIZE, tid, nullptr, nullptr) != 0) {
                if (!firstError.failed() && errno != ESRCH) firstError = FailureFromErrno(errno);
                continue;
            }
            attached_.push_back(tid);
            added = true;
            ThreadInfo info;
            info.tid = tid;
            if (StopThread(tid)) info.hasContext = ReadThreadContext(tid, &info.context);
            threads_.push_back(std::move(info));
        }
        if (!added) break;
    }
    if (threads_.empty()) return firstError.failed() ? firstError : NoSuchThread();
    return {};
}

void CrashedProcess::Detach() {
    for (pid_t tid : attached_) ptrace(PTRACE_DETACH, tid, nullptr, nullptr);
    attached_.clear();
}

bool CrashedProcess::ReadMemory(std::uint64_t address, void* buffer, std::size_t size) const {
    if (size == 0) return true;
    if (address + size < address) return false;
    iovec local{buffer, size};
    iovec remote{reinterpret_cast<void*>(static_cast<std::uintptr_t>(address)), size};
    ssize_t n = process_vm_readv(pid_, &local, 1, &remote, 1, 0);
    if (n == static_cast<ssize_t>(size)) return true;
    // Some kernels and sandboxes refuse process_vm_readv; /proc/<pid>/mem
    // works wherever ptrace does.
    std::string mem = "/proc/" + std::to_string(pid_) + "/mem";
    int fd = open(mem.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    std::size_t done = 0;
    while (done < size) {
        ssize_t got =
            pread(fd, static_cast<char*>(buffer) + done, size - done, static_cast<off_t>(address + done));
        if (got <= 0) break;
        done += static_cast<std::size_t>(got);
    }
    close(fd);
    return done == size;
}

std::string CrashedProcess::ReadProcFile(const char* name) const {
    std::string text;
    ReadSmallFile("/proc/" + std::to_string(pid_) + "/" + name, &text);
    return text;
}

Failure CrashedProcess::ReadException(std::uint64_t address) {
    exception_ = {};
    if (address == 0) return {};
    struct {
        std::uint64_t siginfo, ucontext;
        std::int32_t tid;
    } __attribute__((packed)) record{};
    static_assert(sizeof record == 20);
    if (!ReadMemory(address, &record, sizeof record)) return FailureFromErrno(EFAULT);
    std::uint8_t siginfo[128];
    if (!ReadMemory(record.siginfo, siginfo, sizeof siginfo)) return FailureFromErrno(EFAULT);
    int signo = Get<std::int32_t>(siginfo, 0);
    if (signo <= 0 || signo > 64) return FailureFromErrno(EINVAL);
    if (!ReadUcontext(*this, record.ucontext, &exception_.context)) return FailureFromErrno(EFAULT);
    exception_.signalNumber = signo;
    exception_.signalCode = Get<std::int32_t>(siginfo, 8);
    exception_.faultAddress = Get<std::uint64_t>(siginfo, 16);
    exception_.threadId = record.tid > 0 ? record.tid : thread_;
    exception_.present = true;
    return {};
}

std::vector<MapEntry> ParseMaps(const std::string& text) {
    std::vector<MapEntry> maps;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        MapEntry m;
        unsigned long long start = 0, end = 0, offset = 0, inode = 0;
        char perms[8] = {};
        char dev[16] = {};
        int consumed = 0;
        if (std::sscanf(line.c_str(), "%llx-%llx %7s %llx %15s %llu %n", &start, &end, perms, &offset, dev,
                        &inode, &consumed) < 6)
            continue;
        m.start = start;
        m.end = end;
        m.offset = offset;
        m.inode = inode;
        m.perms = perms;
        if (consumed > 0 && static_cast<std::size_t>(consumed) <= line.size())
            m.path = line.substr(static_cast<std::size_t>(consumed));
        if (m.end > m.start) maps.push_back(std::move(m));
    }
    return maps;
}

std::vector<ModuleInfo> ModulesFromMaps(const std::vector<MapEntry>& maps) {
    std::vector<ModuleInfo> modules;
    for (std::size_t i = 0; i < maps.size(); ++i) {
        const MapEntry& m = maps[i];
        if (m.offset != 0 || m.inode == 0 || m.path.empty() || m.path[0] != '/') continue;
        ModuleInfo module;
        module.base = m.start;
        std::uint64_t end = m.end;
        for (std::size_t j = i + 1; j < maps.size(); ++j) {
            if (maps[j].inode != m.inode || maps[j].path != m.path) {
                // An anonymous mapping right after (.bss) still counts when
                // the module goes on behind it.
                if (maps[j].path.empty() && j + 1 < maps.size() && maps[j + 1].inode == m.inode &&
                    maps[j + 1].path == m.path && maps[j + 1].offset != 0)
                    continue;
                break;
            }
            if (maps[j].offset == 0) break; // the same file mapped again
            end = maps[j].end;
        }
        module.size = end - module.base;
        module.path = m.path;
        modules.push_back(std::move(module));
    }
    return modules;
}

void CrashedProcess::BlankPrivateData(std::uint64_t address, std::uint8_t* data, std::size_t size) const {
    if (size == 0) return;
    for (auto [begin, end] : {environment_, arguments_}) {
        if (end <= begin) continue;
        std::uint64_t from = std::max(begin, address);
        std::uint64_t to = std::min<std::uint64_t>(end, address + size);
        if (from < to) std::memset(data + (from - address), 0, static_cast<std::size_t>(to - from));
    }
    if (private_.empty()) return;
    // The range with up to longest-1 bytes of the process on either side, so
    // that a copy cut by the range's ends is found. Bytes that cannot be read
    // stay zero (no string matches across them); the context is read page by
    // page, since its pages may belong to different mappings.
    const std::size_t margin = private_.longest() - 1;
    const std::uint64_t before = std::min<std::uint64_t>(margin, address);
    const std::uint64_t after = std::min<std::uint64_t>(margin, UINT64_MAX - (address + size));
    std::vector<std::uint8_t> buffer(before + size + after, 0);
    auto readContext = [&](std::uint64_t from, std::uint64_t length, std::uint8_t* out) {
        while (length > 0) {
            std::uint64_t pageEnd = (from | (kContextPage - 1)) + 1;
            std::uint64_t n = std::min(length, pageEnd - from);
            ReadMemory(from, out, static_cast<std::size_t>(n));
            from += n;
            out += n;
            length -= n;
        }
    };
    readContext(address - before, before, buffer.data());
    std::memcpy(buffer.data() + before, data, size);
    readContext(address + size, after, buffer.data() + before + size);
    private_.Blank(buffer.data(), buffer.size(), static_cast<std::size_t>(before),
                   static_cast<std::size_t>(before) + size);
    std::memcpy(data, buffer.data() + before, size);
}

Failure CrashedProcess::ReadModules() {
    // Fields 50 and 51 of /proc/<pid>/stat: start and end of the environment.
    std::string stat = ReadProcFile("stat");
    std::size_t close = stat.rfind(')');
    if (close != std::string::npos) {
        std::istringstream fields(stat.substr(close + 1));
        std::vector<std::string> f;
        for (std::string v; fields >> v;) f.push_back(v);
        // Fields 48 and 49: start and end of the arguments.
        if (f.size() >= 49) {
            environment_ = {std::strtoull(f[47].c_str(), nullptr, 10),
                            std::strtoull(f[48].c_str(), nullptr, 10)};
            arguments_ = {std::strtoull(f[45].c_str(), nullptr, 10),
                          std::strtoull(f[46].c_str(), nullptr, 10)};
        }
    }
    // The kernel reads both blocks from the process's memory as they are now.
    private_ = PrivateStrings();
    private_.AddEnvironmentBlock(ReadProcFile("environ"));
    private_.AddArgumentBlock(ReadProcFile("cmdline"));
    mapsText_ = ReadProcFile("maps");
    if (mapsText_.empty()) return FailureFromErrno(errno ? errno : EACCES);
    maps_ = ParseMaps(mapsText_);
    modules_ = ModulesFromMaps(maps_);
    for (ModuleInfo& m : modules_) m.identity = ReadFileIdentity(m.path);
    faultingModule_ = -1;
    std::uint64_t pc = exceptionPc();
    for (std::size_t i = 0; i < modules_.size(); ++i)
        if (pc >= modules_[i].base && pc - modules_[i].base < modules_[i].size)
            faultingModule_ = static_cast<int>(i);
    return {};
}

const ModuleInfo* CrashedProcess::faultingModule() const {
    return faultingModule_ >= 0 ? &modules_[static_cast<std::size_t>(faultingModule_)] : nullptr;
}

const MapEntry* CrashedProcess::MappingAt(std::uint64_t address) const {
    for (const MapEntry& m : maps_)
        if (address >= m.start && address < m.end) return &m;
    return nullptr;
}

} // namespace ulmarro
