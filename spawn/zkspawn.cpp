// zkspawn: runs one tool for the IDE and reports its exit code.
//
//   zkspawn <mode> <command line>
//
// The command line is split like a Windows command line (the IDE composes it
// that way and quotes the source path). The tool is looked up on the program
// search path, runs with the inherited standard handles in a process group of
// its own, and zkspawn exits with the tool's exit code, or 128 + the signal
// that killed it. Termination requests sent to zkspawn go on to the tool's
// whole group, so stopping a build stops everything the tool started; what
// has not ended 2 seconds later is killed. After a stop zkspawn also waits
// for what the tool started in the background.
//
// A program that starts zkspawn as the leader of a process group of its own
// and names itself in ZKSPAWN_OWNER (its process id) gets more: the tool runs
// in that same group, so the owner reaches everything with one signal to the
// group; the tool is stopped as above when the owner ends, crashed or
// killed; and when the tool ends, what it left running in the background is
// ended the same way before zkspawn reports. So no tool process outlives
// its build or the program that started it.
//
// Mode bit 0x100 set: run here, output to the inherited handles (the IDE's
// pipes). Bit clear: run the tool in a terminal window when one is available
// (bit 0x200 closes the window at the end, otherwise it waits for a key);
// with no terminal available the tool runs here as with 0x100.
//
// A tool that cannot be started gives a line on standard error and exit code
// 127, as shells do.

#include "cmdline.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif
#include <termios.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

constexpr unsigned kUseOutputWindow = 0x100;
constexpr unsigned kCloseWindow = 0x200;
constexpr int kCannotStart = 127;
const int kForwardedSignals[] = {SIGTERM, SIGINT, SIGHUP, SIGQUIT};
// How long a terminal program that reported success may take before the
// window's zkspawn reports back. Only reached when the terminal failed to
// run us, so it can be generous.
constexpr int kTerminalStartSeconds = 60;

// How long the tool's group has to end after a termination request before
// it is killed.
constexpr unsigned kStopGraceSeconds = 2;

// The process group that termination requests go on to; the first request
// (kept until the group is known); whether it has gone on to the group.
volatile sig_atomic_t g_targetGroup = 0;
volatile sig_atomic_t g_stopSignal = 0;
volatile sig_atomic_t g_forwarded = 0;
volatile sig_atomic_t g_graceOver = 0;
// The program that started zkspawn when it named itself in ZKSPAWN_OWNER,
// and whether the tool shares zkspawn's process group with everything it
// starts.
pid_t g_owner = 0;
bool g_sharedGroup = false;
// Written by the SIGCHLD handler so a poll loop wakes when a child ends.
int g_childPipe[2] = {-1, -1};

// Passes the stop request on once: later requests (among them the copy a
// shared group sends back to zkspawn itself) change nothing, and the grace
// period counts from the first.
void ForwardStop() {
    pid_t group = g_targetGroup;
    int sig = g_stopSignal;
    if (group <= 0 || sig == 0 || g_forwarded) return;
    g_forwarded = 1;
    kill(-group, sig);
    alarm(kStopGraceSeconds);
}

void Forward(int sig) {
    int saved = errno;
    if (g_stopSignal == 0) g_stopSignal = sig;
    ForwardStop();
    errno = saved;
}

// The grace period is over: whatever is left of the group is killed (in a
// shared group zkspawn with it).
void OnGraceOver(int) {
    int saved = errno;
    g_graceOver = 1;
    pid_t group = g_targetGroup;
    if (group > 0) kill(-group, SIGKILL);
    errno = saved;
}

void OnChild(int) {
    int saved = errno;
    if (g_childPipe[1] >= 0) {
        char c = 0;
        ssize_t ignored = write(g_childPipe[1], &c, 1);
        (void)ignored;
    }
    errno = saved;
}

void InstallForwarding() {
    struct sigaction sa {};
    sa.sa_handler = Forward;
    sigemptyset(&sa.sa_mask);
    for (int sig : kForwardedSignals) sigaction(sig, &sa, nullptr);
    struct sigaction grace {};
    grace.sa_handler = OnGraceOver;
    sigemptyset(&grace.sa_mask);
    sigaction(SIGALRM, &grace, nullptr);
}

sigset_t ForwardedSet() {
    sigset_t set;
    sigemptyset(&set);
    for (int sig : kForwardedSignals) sigaddset(&set, sig);
    return set;
}

// Names the group that stop requests go on to, and passes on one that came
// before it was known.
void SetTargetGroup(pid_t group) {
    sigset_t forwarded = ForwardedSet(), original;
    sigprocmask(SIG_BLOCK, &forwarded, &original);
    g_targetGroup = group;
    ForwardStop();
    sigprocmask(SIG_SETMASK, &original, nullptr);
}

int ExitCodeOf(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return kCannotStart;
}

bool EndsWithExe(const std::string& s) {
    if (s.size() < 4) return false;
    std::string tail = s.substr(s.size() - 4);
    for (char& c : tail) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    return tail == ".exe";
}

// Tool names carried over from Windows settings ("qorb12.exe",
// "tools\qorb12.exe") are tried in their native form when the name as
// written is not found.
std::vector<std::string> CandidateNames(const std::string& program) {
    std::vector<std::string> names{program};
    std::string native = program;
    if (native.find('/') == std::string::npos && native.find('\\') != std::string::npos) {
        for (char& c : native)
            if (c == '\\') c = '/';
        names.push_back(native);
    }
    if (EndsWithExe(native)) names.push_back(native.substr(0, native.size() - 4));
    return names;
}

// Starts the tool in a new process group. Forwarded signals must be blocked
// by the caller; the child gets the caller's original mask back.
int SpawnTool(const std::vector<std::string>& args, const sigset_t& originalMask, pid_t* pid) {
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    if (!g_sharedGroup) {
        posix_spawnattr_setpgroup(&attr, 0);
        flags |= POSIX_SPAWN_SETPGROUP;
    }
    posix_spawnattr_setsigmask(&attr, &originalMask);
    sigset_t defaults = ForwardedSet();
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGCHLD);
    sigaddset(&defaults, SIGTTIN);
    sigaddset(&defaults, SIGTTOU);
    sigaddset(&defaults, SIGALRM);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, flags);

    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    int err = ENOENT;
    for (const std::string& name : CandidateNames(args[0])) {
        err = posix_spawnp(pid, name.c_str(), nullptr, &attr, argv.data(), environ);
        if (err != ENOENT) break;
    }
    posix_spawnattr_destroy(&attr);
    return err;
}

// Gives the terminal to the tool's group when zkspawn itself holds it, so a
// tool that reads the keyboard is not stopped; returns whether it did.
bool HandTerminalTo(pid_t group) {
    if (!isatty(STDIN_FILENO) || tcgetpgrp(STDIN_FILENO) != getpgrp()) return false;
    if (tcsetpgrp(STDIN_FILENO, group) != 0) return false;
    // The tool may have touched the terminal before it owned it and been
    // stopped for that; let it go on.
    kill(-group, SIGCONT);
    return true;
}

void TakeTerminalBack() {
    sigset_t ttou, old;
    sigemptyset(&ttou);
    sigaddset(&ttou, SIGTTOU);
    sigprocmask(SIG_BLOCK, &ttou, &old);
    tcsetpgrp(STDIN_FILENO, getpgrp());
    sigprocmask(SIG_SETMASK, &old, nullptr);
}

// Collects the children that have ended: the tool's orphans come to zkspawn
// (it is their subreaper). Returns whether any child is left.
bool ReapEnded() {
    for (;;) {
        pid_t r = waitpid(-1, nullptr, WNOHANG);
        if (r > 0) continue;
        if (r < 0 && errno == EINTR) continue;
        return r == 0;
    }
}

// Kills zkspawn's children: the orphans of the tool, those that left its
// process group among them. Linux lists them; elsewhere the group's kill
// has to do.
void KillChildren() {
#ifdef __linux__
    char path[64];
    std::snprintf(path, sizeof path, "/proc/self/task/%d/children", static_cast<int>(getpid()));
    FILE* f = std::fopen(path, "r");
    if (!f) return;
    long pid;
    while (std::fscanf(f, "%ld", &pid) == 1)
        if (pid > 1) kill(static_cast<pid_t>(pid), SIGKILL);
    std::fclose(f);
#endif
}

// The tool has ended; what it left running (its orphans, now zkspawn's
// children) is asked to end and, after the grace period, killed. Returns
// when nothing is left.
void EndLeftovers(pid_t group) {
    if (!ReapEnded()) return;
    if (!g_forwarded) {
        sigset_t forwarded = ForwardedSet(), original;
        sigprocmask(SIG_BLOCK, &forwarded, &original);
        if (g_stopSignal == 0) g_stopSignal = SIGTERM;
        g_targetGroup = group;
        g_forwarded = 1;
        kill(-group, g_stopSignal);
        // The grace period's alarm kills the group; in zkspawn's own group
        // that would end zkspawn too, before it reports the tool's code, so
        // there the rest is done by hand.
        if (group != getpgrp()) alarm(kStopGraceSeconds);
        sigprocmask(SIG_SETMASK, &original, nullptr);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kStopGraceSeconds);
    for (int rounds = 0; ReapEnded();) {
        if (g_graceOver || std::chrono::steady_clock::now() >= deadline) {
            KillChildren();
            if (++rounds > 100) return; // a child that even SIGKILL does not end
        }
        usleep(10000);
    }
}

// Runs the tool here and waits for it. started() is told the tool's group.
template <typename Started> int RunTool(const std::vector<std::string>& args, Started started) {
    sigset_t forwarded = ForwardedSet(), original;
    sigprocmask(SIG_BLOCK, &forwarded, &original);
    InstallForwarding();
#ifdef __linux__
    // Orphans of the tool come to zkspawn, so it knows when everything the
    // tool started has ended.
    prctl(PR_SET_CHILD_SUBREAPER, 1);
#endif
    pid_t pid = -1;
    int err = SpawnTool(args, original, &pid);
    if (err != 0) {
        sigprocmask(SIG_SETMASK, &original, nullptr);
        std::fprintf(stderr, "zkspawn: cannot run \"%s\": %s\n", args[0].c_str(), std::strerror(err));
        return kCannotStart;
    }
    const pid_t group = g_sharedGroup ? getpgrp() : pid;
    bool ownsTerminal = !g_sharedGroup && HandTerminalTo(pid);
    started(group);
    SetTargetGroup(group);
    sigprocmask(SIG_SETMASK, &original, nullptr);

    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            std::fprintf(stderr, "zkspawn: lost track of \"%s\": %s\n", args[0].c_str(),
                         std::strerror(errno));
            return kCannotStart;
        }
    }
    if (ownsTerminal) TakeTerminalBack();
    // After a stop, and always for an owner (a build ends with everything it
    // started), what the tool left running is ended too.
    if (g_forwarded || g_owner > 0) EndLeftovers(group);
    alarm(0);
    return ExitCodeOf(status);
}

bool IsExecutableOnPath(const std::string& name) {
    if (name.find('/') != std::string::npos) return access(name.c_str(), X_OK) == 0;
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    size_t start = 0;
    for (;;) {
        size_t end = dirs.find(':', start);
        std::string dir = dirs.substr(start, end == std::string::npos ? std::string::npos : end - start);
        std::string full = (dir.empty() ? std::string(".") : dir) + "/" + name;
        if (access(full.c_str(), X_OK) == 0) return true;
        if (end == std::string::npos) return false;
        start = end + 1;
    }
}

// The terminal program to open a window with, or empty when there is none.
// ZKSPAWN_TERMINAL names one explicitly; otherwise the system's default
// terminal emulator when a display is there to show it on.
std::string FindTerminal() {
    const char* chosen = std::getenv("ZKSPAWN_TERMINAL");
    if (chosen && *chosen) return chosen;
    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY")) return {};
    if (IsExecutableOnPath("x-terminal-emulator")) return "x-terminal-emulator";
    return {};
}

std::string SelfPath(const char* argv0) {
    char buf[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n > 0) {
        buf[n] = '\0';
        return buf;
    }
    return argv0;
}

void WaitForKey() {
    std::fputs("\nPress any key to close this window.", stdout);
    std::fflush(stdout);
    termios saved{};
    bool raw = tcgetattr(STDIN_FILENO, &saved) == 0;
    if (raw) {
        termios t = saved;
        t.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
        t.c_cc[VMIN] = 1;
        t.c_cc[VTIME] = 0;
        tcsetattr(STDIN_FILENO, TCSANOW, &t);
    }
    char c;
    while (read(STDIN_FILENO, &c, 1) < 0 && errno == EINTR) {
    }
    if (raw) tcsetattr(STDIN_FILENO, TCSANOW, &saved);
}

void WriteStatus(int fd, const char* what, long value) {
    char line[64];
    int n = std::snprintf(line, sizeof line, "%s %ld\n", what, value);
    if (fd >= 0 && n > 0) {
        ssize_t ignored = write(fd, line, static_cast<size_t>(n));
        (void)ignored;
    }
}

// The zkspawn inside the terminal window: runs the tool on the window's
// terminal and reports its group and exit code back through the status FIFO.
int RunInsideWindow(const char* fifo, unsigned mode, const std::string& commandLine) {
    int fd = open(fifo, O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        std::fprintf(stderr, "zkspawn: cannot report to the IDE (%s): %s\n", fifo, std::strerror(errno));
    std::vector<std::string> args = zkspawn::SplitWindowsCommandLine(commandLine);
    int code = kCannotStart;
    if (args.empty() || args[0].empty())
        std::fprintf(stderr, "zkspawn: no program to run\n");
    else
        code = RunTool(args, [fd](pid_t group) { WriteStatus(fd, "group", group); });
    WriteStatus(fd, "exit", code);
    if (!(mode & kCloseWindow)) WaitForKey();
    if (fd >= 0) close(fd);
    return code;
}

struct StatusReader {
    std::string text;
    bool sawGroup = false;
    bool sawExit = false;
    int exitCode = 0;

    void Take(const char* data, size_t n) {
        text.append(data, n);
        size_t nl;
        while ((nl = text.find('\n')) != std::string::npos) {
            std::string line = text.substr(0, nl);
            text.erase(0, nl + 1);
            long value = 0;
            if (std::sscanf(line.c_str(), "group %ld", &value) == 1 && value > 0) {
                sawGroup = true;
                SetTargetGroup(static_cast<pid_t>(value));
            } else if (std::sscanf(line.c_str(), "exit %ld", &value) == 1) {
                sawExit = true;
                exitCode = static_cast<int>(value);
            }
        }
    }
};

// Opens a terminal window running zkspawn again on the same command line and
// waits until that one has finished. Returns -1 when the window could not be
// opened at all, so the caller runs the tool here instead.
int RunInWindow(const std::string& terminal, const char* argv0, unsigned mode,
                const std::string& commandLine) {
    const char* tmp = std::getenv("TMPDIR");
    std::string dirTemplate = std::string(tmp && *tmp ? tmp : "/tmp") + "/zkspawn.XXXXXX";
    std::vector<char> dir(dirTemplate.begin(), dirTemplate.end());
    dir.push_back('\0');
    if (!mkdtemp(dir.data())) return -1;
    std::string fifo = std::string(dir.data()) + "/status";
    int fd = -1;
    if (mkfifo(fifo.c_str(), 0600) == 0) fd = open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    auto cleanUp = [&] {
        if (fd >= 0) close(fd);
        unlink(fifo.c_str());
        rmdir(dir.data());
    };
    if (fd < 0 || pipe2(g_childPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        cleanUp();
        return -1;
    }

    struct sigaction sa {};
    sa.sa_handler = OnChild;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_NOCLDSTOP;
    sigaction(SIGCHLD, &sa, nullptr);

    std::string self = SelfPath(argv0);
    std::string modeText = std::to_string(mode);
    std::vector<std::string> args = {terminal, "-e", self, "--in-window", fifo, modeText, commandLine};
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    sigset_t forwarded = ForwardedSet(), original;
    sigprocmask(SIG_BLOCK, &forwarded, &original);
    InstallForwarding();
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setsigmask(&attr, &original);
    // A session of its own: the terminal program may stay to serve other
    // windows, and whoever stops this build's process group must not take
    // it down with the build.
#ifdef POSIX_SPAWN_SETSID
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSID);
#else
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK);
#endif
    pid_t launcher = -1;
    int err = posix_spawnp(&launcher, terminal.c_str(), nullptr, &attr, argv.data(), environ);
    posix_spawnattr_destroy(&attr);
    sigprocmask(SIG_SETMASK, &original, nullptr);
    if (err != 0) {
        std::fprintf(stderr, "zkspawn: cannot open a terminal window with \"%s\": %s\n", terminal.c_str(),
                     std::strerror(err));
        cleanUp();
        return -1;
    }

    StatusReader status;
    bool launcherDone = false;
    int launcherStatus = 0;
    bool anyData = false;
    int waitedForStart = 0;
    for (;;) {
        pollfd fds[2] = {{fd, POLLIN, 0}, {g_childPipe[0], POLLIN, 0}};
        int timeout = (launcherDone && !anyData) ? 1000 : -1;
        int r = poll(fds, 2, timeout);
        if (r < 0 && errno == EINTR) continue;
        if (fds[1].revents & POLLIN) {
            char drain[16];
            while (read(g_childPipe[0], drain, sizeof drain) > 0) {
            }
            if (!launcherDone && waitpid(launcher, &launcherStatus, WNOHANG) == launcher) launcherDone = true;
        }
        if (fds[0].revents & (POLLIN | POLLHUP)) {
            char buf[256];
            ssize_t n = read(fd, buf, sizeof buf);
            if (n > 0) {
                anyData = true;
                status.Take(buf, static_cast<size_t>(n));
                continue;
            }
            if (n == 0) break; // the window's zkspawn has ended (or died before reporting)
        }
        if (launcherDone && !anyData) {
            bool failed = !WIFEXITED(launcherStatus) || WEXITSTATUS(launcherStatus) != 0;
            if (failed) {
                std::fprintf(stderr, "zkspawn: the terminal program \"%s\" failed; running the tool here\n",
                             terminal.c_str());
                cleanUp();
                return -1;
            }
            if (r == 0 && ++waitedForStart >= kTerminalStartSeconds) {
                std::fprintf(stderr, "zkspawn: the terminal window did not start \"%s\"\n", self.c_str());
                cleanUp();
                return kCannotStart;
            }
        }
    }
    if (!launcherDone) {
        // Most terminal programs end with their window; one that keeps other
        // windows open is left alone once ours has reported.
        if (waitpid(launcher, &launcherStatus, WNOHANG) == launcher) launcherDone = true;
    }
    cleanUp();
    if (status.sawExit) return status.exitCode;
    if (!status.sawGroup) {
        std::fprintf(stderr, "zkspawn: the terminal window ended without running the tool\n");
        return kCannotStart;
    }
    std::fprintf(stderr, "zkspawn: the terminal window was closed before the tool ended\n");
    return 128 + SIGHUP;
}

void Usage() {
    std::fputs("usage: zkspawn <mode> <command line>\n"
               "  mode 0x100: run the tool with the inherited standard handles\n"
               "  mode 0x200: close the terminal window when the tool ends\n",
               stderr);
}

bool ParseMode(const char* text, unsigned* mode) {
    // Decimal as the IDE writes it; 0x... for people typing it by hand. A
    // leading zero is not octal.
    bool hex = text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    char* end = nullptr;
    errno = 0;
    unsigned long value = std::strtoul(text, &end, hex ? 16 : 10);
    if (errno != 0 || end == text || *end != '\0' || value > 0xFFFFFFFFul || text[0] == '-') return false;
    *mode = static_cast<unsigned>(value);
    return true;
}

// Reads (and removes, so the tool does not inherit it) ZKSPAWN_OWNER. It
// counts only when it names zkspawn's parent: a value handed down from
// further up is someone else's.
pid_t TakeOwner() {
    const char* text = std::getenv("ZKSPAWN_OWNER");
    if (!text) return 0;
    char* end = nullptr;
    errno = 0;
    long value = std::strtol(text, &end, 10);
    bool valid = errno == 0 && end != text && *end == '\0' && value > 1;
    unsetenv("ZKSPAWN_OWNER");
    return valid && static_cast<pid_t>(value) == getppid() ? static_cast<pid_t>(value) : 0;
}

} // namespace

int main(int argc, char** argv) {
    g_owner = TakeOwner();
    if (g_owner > 0) {
#ifdef __linux__
        // The owner's end (a crash or a kill included) is a stop request.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
#endif
        if (getppid() != g_owner) return 128 + SIGTERM; // it ended before we got here
        g_sharedGroup = getpgrp() == getpid();
    }
    if (argc == 5 && std::strcmp(argv[1], "--in-window") == 0) {
        unsigned mode = 0;
        if (!ParseMode(argv[3], &mode)) mode = 0;
        return RunInsideWindow(argv[2], mode, argv[4]);
    }
    if (argc < 3) {
        Usage();
        return kCannotStart;
    }
    unsigned mode = 0;
    if (!ParseMode(argv[1], &mode)) {
        std::fprintf(stderr, "zkspawn: invalid mode \"%s\"\n", argv[1]);
        Usage();
        return kCannotStart;
    }
    // The command line is the rest of zkspawn's own, as on Windows: the IDE
    // passes it as one argument; words split by a shell are joined again.
    std::string commandLine = argv[2];
    for (int i = 3; i < argc; ++i) commandLine += std::string(" ") + argv[i];
    std::vector<std::string> args = zkspawn::SplitWindowsCommandLine(commandLine);
    if (args.empty() || args[0].empty()) {
        std::fprintf(stderr, "zkspawn: no program to run\n");
        return kCannotStart;
    }
    if (!(mode & kUseOutputWindow)) {
        std::string terminal = FindTerminal();
        if (!terminal.empty()) {
            int code = RunInWindow(terminal, argv[0], mode, commandLine);
            if (code >= 0) return code;
        }
    }
    return RunTool(args, [](pid_t) {});
}
