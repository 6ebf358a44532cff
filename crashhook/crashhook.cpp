#include "crashhook.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#ifndef PR_SET_PTRACER
#define PR_SET_PTRACER 0x59616d61
#endif

extern char** environ;

// Version note read by the report client: ELF has no version resource, so the
// three programs carry their version in a note of their own (owner "KORVELL",
// type 1, four 32-bit fields major, minor, patch, build).
#ifndef QORB_VERSION_MAJOR
#define QORB_VERSION_MAJOR 0
#define QORB_VERSION_MINOR 0
#define QORB_VERSION_PATCH 0
#define QORB_VERSION_BUILD 0
#endif
namespace {
struct VersionNote {
    std::uint32_t nameSize, descSize, type;
    char name[8];
    std::uint32_t version[4];
};
} // namespace
__attribute__((used, retain, section(".note.korvell.version"), aligned(4)))
const VersionNote korvellVersionNote = {
    8, 16, 1, "KORVELL", {QORB_VERSION_MAJOR, QORB_VERSION_MINOR, QORB_VERSION_PATCH, QORB_VERSION_BUILD}};

namespace crashhook {
namespace {

constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGTRAP};
constexpr std::size_t kAltStackSize = 64 * 1024;

// Everything the handler touches is prepared by Install(): the handler may run
// on a broken heap, so it neither allocates nor formats with the C library.
Program g_program = Program::Qorb12;
bool g_installed = false;
char g_clientPath[4096];
char g_threadText[24];
char g_recordText[24];
char g_appId[40];
char g_argT[] = "-t";
char g_argE[] = "-e";
char g_argI[] = "-i";
char* g_argv[8];
CrashRecord g_record;
struct sigaction g_previous[sizeof kSignals / sizeof kSignals[0]];
std::atomic<long> g_reportingThread{0};
thread_local bool t_altStackInstalled = false;

long CurrentThreadId() { return syscall(SYS_gettid); }

void FormatDecimal(char* out, unsigned long value) {
    char digits[24];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    for (int i = 0; i < n; ++i) out[i] = digits[n - 1 - i];
    out[n] = '\0';
}

// "0x" and the value in upper-case hex, as many digits as a pointer has.
void FormatAddress(char* out, std::uint64_t value) {
    static const char hex[] = "0123456789ABCDEF";
    constexpr int digits = sizeof(void*) * 2;
    out[0] = '0';
    out[1] = 'x';
    for (int i = 0; i < digits; ++i) out[2 + i] = hex[(value >> (4 * (digits - 1 - i))) & 0xF];
    out[2 + digits] = '\0';
}

void WaitForever() {
    for (;;) pause();
}

// Starts the client and waits for it. Returns false when the client could not
// be started; *launchResult then keeps its initial value.
bool LaunchClient(int* launchResult) {
    *launchResult = 2;
    if (g_clientPath[0] == '\0' || access(g_clientPath, X_OK) != 0) return false;

    FormatDecimal(g_threadText, static_cast<unsigned long>(g_record.threadId));
    FormatAddress(g_recordText, reinterpret_cast<std::uintptr_t>(&g_record));

    // A program that ignores SIGCHLD (or asked for SA_NOCLDWAIT) lets the
    // kernel reap its children: waitpid would then fail with ECHILD and the
    // client's answer would be lost. The process is ending anyway, so the
    // default disposition is not put back.
    struct sigaction childDefault {};
    childDefault.sa_handler = SIG_DFL;
    sigemptyset(&childDefault.sa_mask);
    sigaction(SIGCHLD, &childDefault, nullptr);

    int errorPipe[2];
    if (pipe2(errorPipe, O_CLOEXEC) != 0) return false;

    // A raw clone instead of fork(): fork runs the process's atfork handlers,
    // which may take locks that the crashed thread holds.
    long child = syscall(SYS_clone, SIGCHLD, 0, 0, 0, 0);
    if (child == 0) {
        // The handler blocks every crash signal; the client must not inherit
        // that mask, or a fault in the client would kill it without a report.
        sigset_t empty;
        sigemptyset(&empty);
        sigprocmask(SIG_SETMASK, &empty, nullptr);
        for (int sig : kSignals) signal(sig, SIG_DFL);
        // Only the standard descriptors reach the client.
        int keep = errorPipe[1];
        bool closed = false;
#ifdef SYS_close_range
        closed = (keep == 3 || syscall(SYS_close_range, 3U, static_cast<unsigned>(keep - 1), 0U) == 0) &&
                 syscall(SYS_close_range, static_cast<unsigned>(keep + 1), ~0U, 0U) == 0;
#endif
        if (!closed)
            for (int fd = 3; fd < 1024; ++fd)
                if (fd != keep) close(fd);
        execve(g_clientPath, g_argv, environ);
        int error = errno;
        ssize_t ignored = write(keep, &error, sizeof error);
        (void)ignored;
        _exit(127);
    }
    close(errorPipe[1]);
    if (child < 0) {
        close(errorPipe[0]);
        return false;
    }

    int execError = 0;
    ssize_t got;
    do {
        got = read(errorPipe[0], &execError, sizeof execError);
    } while (got < 0 && errno == EINTR);
    close(errorPipe[0]);

    int status = 0;
    pid_t waited;
    do {
        waited = waitpid(static_cast<pid_t>(child), &status, __WALL);
    } while (waited < 0 && errno == EINTR);

    if (got > 0) return false; // execve failed: the client is not usable
    if (waited == static_cast<pid_t>(child) && WIFEXITED(status)) *launchResult = WEXITSTATUS(status);
    return true;
}

void Handler(int sig, siginfo_t* info, void* context) {
    long self = CurrentThreadId();
    long expected = 0;
    if (!g_reportingThread.compare_exchange_strong(expected, self)) {
        if (expected == self) {
            // A fault inside the hook itself: leave it to the system.
            signal(sig, SIG_DFL);
            return;
        }
        // Another thread is already reporting; its end decides how the
        // process ends, so this one waits.
        WaitForever();
    }

    g_record.siginfoAddress = reinterpret_cast<std::uintptr_t>(info);
    g_record.ucontextAddress = reinterpret_cast<std::uintptr_t>(context);
    g_record.threadId = static_cast<std::int32_t>(self);

    // The client reads this process through ptrace; that needs a dumpable
    // process, and under Yama's restricted mode an explicit permission for
    // our descendants (the client is our child).
    prctl(PR_SET_DUMPABLE, 1, 0, 0, 0);
    prctl(PR_SET_PTRACER, static_cast<unsigned long>(getpid()), 0, 0, 0);

    int launchResult = 2;
    bool launched = LaunchClient(&launchResult);

    bool defaultAction = !launched || (g_program == Program::Oxbrin && launchResult == 1);
    if (!defaultAction) _exit(g_program == Program::Oxbrin ? 255 : 2);

    // Let the system handle the crash as if we had never been here: a fault
    // repeats when the handler returns; a signal that was sent (abort, kill)
    // must be sent again, and so must a breakpoint trap, after which the
    // program would otherwise simply go on.
    signal(sig, SIG_DFL);
    if (info == nullptr || info->si_code <= 0 || sig == SIGABRT || sig == SIGTRAP)
        syscall(SYS_tgkill, getpid(), self, sig);
}

std::string Trim(const std::string& s) {
    std::size_t b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos) return {};
    std::size_t e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
}

void AppendUtf8(std::string& out, unsigned code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// Undoes the escaping of the settings layer's INI writer: quoted parts keep
// their blanks, backslash escapes (\" \\ \n \t \xHHHH ...) are decoded.
std::string UnescapeIniValue(const std::string& raw) {
    std::string out;
    std::string text = Trim(raw);
    bool quoted = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '"') {
            quoted = !quoted;
        } else if (c == '\\' && i + 1 < text.size()) {
            char e = text[++i];
            switch (e) {
            case 'n': out += '\n'; break;
            case 't': out += '\t'; break;
            case 'r': out += '\r'; break;
            case 'a': out += '\a'; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'v': out += '\v'; break;
            case '0': out += '\0'; break;
            case 'x': {
                unsigned code = 0;
                int n = 0;
                while (n < 4 && i + 1 < text.size() &&
                       std::isxdigit(static_cast<unsigned char>(text[i + 1]))) {
                    char h = text[++i];
                    code = code * 16 + static_cast<unsigned>(std::isdigit(static_cast<unsigned char>(h))
                                                                 ? h - '0'
                                                                 : (std::tolower(h) - 'a' + 10));
                    ++n;
                }
                AppendUtf8(out, code);
                break;
            }
            default: out += e; break;
            }
        } else {
            out += c;
        }
    }
    if (out.rfind("@@", 0) == 0) out.erase(0, 1); // the writer's escape of a leading '@'
    return out;
}

} // namespace

std::string SystemSettingsFile() { return SystemSettingsFiles().front(); }

bool ReadIniValue(const std::string& file, const std::string& group, const std::string& key,
                  std::string* value) {
    std::ifstream in(file);
    if (!in) return false;
    std::string wanted = group.empty() ? "General" : group;
    std::string section;
    std::string line;
    bool found = false;
    // Settings files are small; a runaway file is not read to its end.
    for (int lines = 0; lines < 100000 && std::getline(in, line); ++lines) {
        std::string t = Trim(line);
        if (t.empty() || t[0] == ';' || t[0] == '#') continue;
        if (t.front() == '[' && t.back() == ']') {
            section = t.substr(1, t.size() - 2);
            continue;
        }
        std::size_t eq = t.find('=');
        if (eq == std::string::npos || section != wanted) continue;
        if (Trim(t.substr(0, eq)) != key) continue;
        *value = UnescapeIniValue(t.substr(eq + 1));
        found = true; // the last occurrence wins, as in the writer
    }
    return found;
}

std::string InstallTreeSettingsFile() {
    char self[4096];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return {};
    std::string dir(self, static_cast<std::size_t>(n));
    std::size_t slash = dir.rfind('/');
    if (slash == std::string::npos) return {};
    dir.erase(slash);
    return dir + "/../etc/xdg/KORVELL/Ulmarro.conf";
}

std::vector<std::string> SystemSettingsFiles() {
    // Every directory of the system search path counts, in its order (empty
    // entries are skipped): a desktop session often puts one of its own
    // before /etc/xdg, where the package registers the client.
    std::vector<std::string> files;
    if (const char* dirs = std::getenv("XDG_CONFIG_DIRS"); dirs != nullptr) {
        std::string_view all = dirs;
        for (std::size_t at = 0; at <= all.size();) {
            std::size_t colon = std::min(all.find(':', at), all.size());
            if (colon > at)
                files.push_back(std::string(all.substr(at, colon - at)) + "/KORVELL/Ulmarro.conf");
            at = colon + 1;
        }
    }
    if (files.empty()) files.push_back("/etc/xdg/KORVELL/Ulmarro.conf");
    // A copy installed without write access to the system settings (a prefix
    // in the user's home, say) registers its client inside its own tree.
    if (std::string tree = InstallTreeSettingsFile(); !tree.empty()) files.push_back(tree);
    return files;
}

std::string ReadClientPath() {
    for (const std::string& file : SystemSettingsFiles()) {
        std::string path;
        if (ReadIniValue(file, "", "Default", &path) && !path.empty()) return path;
    }
    return {};
}

void InstallForThread() {
    if (t_altStackInstalled) return;
    std::size_t size = kAltStackSize;
    if (static_cast<long>(size) < SIGSTKSZ) size = static_cast<std::size_t>(SIGSTKSZ);
    void* stack = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (stack == MAP_FAILED) return;
    stack_t ss{};
    ss.ss_sp = stack;
    ss.ss_size = size;
    if (sigaltstack(&ss, nullptr) != 0) {
        munmap(stack, size);
        return;
    }
    // The stack belongs to the thread for its whole life; it is never freed,
    // because a thread may still be on it while it exits.
    t_altStackInstalled = true;
}

void Install(Program program) {
    g_program = program;
    std::string path = ReadClientPath();
    if (path.size() < sizeof g_clientPath) {
        std::memcpy(g_clientPath, path.c_str(), path.size() + 1);
    } else {
        g_clientPath[0] = '\0';
    }
    std::strncpy(g_appId, ApplicationId(program), sizeof g_appId - 1);
    g_argv[0] = g_clientPath;
    g_argv[1] = g_argT;
    g_argv[2] = g_threadText;
    g_argv[3] = g_argE;
    g_argv[4] = g_recordText;
    g_argv[5] = g_argI;
    g_argv[6] = g_appId;
    g_argv[7] = nullptr;

    InstallForThread();
    if (g_installed) return;
    g_installed = true;

    struct sigaction action {};
    action.sa_sigaction = Handler;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (int sig : kSignals) sigaddset(&action.sa_mask, sig);
    for (std::size_t i = 0; i < sizeof kSignals / sizeof kSignals[0]; ++i)
        sigaction(kSignals[i], &action, &g_previous[i]);
}

void CrashMe() {
    volatile std::uintptr_t address = 0x10;
    *reinterpret_cast<volatile int*>(address) = 0;
    std::abort();
}

} // namespace crashhook
