#include "toolrunner.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace oxbrin {

namespace {

constexpr int kPipeSize = 65536;
// The most output passed on in one pass of the reader loop, so a flood
// never holds up noticing the tool's end or a stop's deadline.
constexpr qsizetype kReadPerPass = 256 * 1024;

QString& ProgramDirOverride() {
    static QString dir;
    return dir;
}

void CloseFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

bool MakePipe(int& readEnd, int& writeEnd) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return false;
    readEnd = fds[0];
    writeEnd = fds[1];
#ifdef F_SETPIPE_SZ
    // A bigger buffer is a wish, not a need.
    (void)::fcntl(fds[0], F_SETPIPE_SZ, kPipeSize);
#endif
    return true;
}

int ExitCodeOf(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return 127;
}

} // namespace

CToolRunner::CToolRunner() = default;

CToolRunner::~CToolRunner() { Shutdown(); }

int CToolRunner::ModeNumber(bool closeWindow, bool useOutputWindow) {
    return 0x55 + (useOutputWindow ? 0x100 : 0) + (closeWindow ? 0x200 : 0);
}

void CToolRunner::SetProgramDirectory(const QString& dir) { ProgramDirOverride() = dir; }

QString CToolRunner::ProgramDirectory() {
    if (!ProgramDirOverride().isEmpty()) return ProgramDirOverride();
    return QCoreApplication::applicationDirPath();
}

QString CToolRunner::FindProgram(const QString& name) {
    if (name.isEmpty()) return {};
    QStringList names{name};
    if (name.endsWith(QLatin1String(".exe"), Qt::CaseInsensitive)) names << name.left(name.size() - 4);
    const QString dir = ProgramDirectory();
    for (const QString& n : names) {
        if (n.contains(QLatin1Char('/'))) {
            const QFileInfo fi(n);
            if (fi.isFile() && fi.isExecutable()) return fi.absoluteFilePath();
            continue;
        }
        const QFileInfo beside(QDir(dir).filePath(n));
        if (!dir.isEmpty() && beside.isFile() && beside.isExecutable()) return beside.absoluteFilePath();
    }
    for (const QString& n : names) {
        if (n.contains(QLatin1Char('/'))) continue;
        const QString found = QStandardPaths::findExecutable(n);
        if (!found.isEmpty()) return found;
    }
    return {};
}

bool CToolRunner::Initialise() {
    if (initialised_) return false;
    if (::pipe2(stop_, O_CLOEXEC | O_NONBLOCK) != 0 || ::pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    try {
        reader_ = std::thread([this] { ReaderLoop(); });
    } catch (const std::system_error&) {
        return false;
    }
    initialised_ = true;
    return true;
}

bool CToolRunner::Start(const QString& commandLine, const QString& workingDir, bool closeWindow,
                        bool useOutputWindow) {
    startError_ = kStartRefused;
    {
        std::lock_guard lock(mutex_);
        if ((useOutputWindow && !initialised_) || running_.load() || build_.pid != -1) return false;
    }
    const QString spawn = FindProgram(QStringLiteral("zkspawn"));
    if (spawn.isEmpty()) {
        startError_ = kSpawnNotFound;
        return false;
    }

    // Fresh pipes for every build: output that a process of an earlier
    // build still writes goes nowhere, and keys typed for an earlier tool
    // that it never read stay with it.
    int out[2] = {-1, -1};
    int in[2] = {-1, -1};
    auto closePipes = [&] {
        for (int* fd : {&out[0], &out[1], &in[0], &in[1]}) CloseFd(*fd);
    };
    if (useOutputWindow) {
        if (!MakePipe(out[0], out[1]) || !MakePipe(in[0], in[1])) {
            startError_ = errno;
            closePipes();
            return false;
        }
        // The IDE side never waits: reads take what is there, and typing
        // into a tool that does not read must not freeze the window.
        ::fcntl(out[0], F_SETFL, ::fcntl(out[0], F_GETFL) | O_NONBLOCK);
        ::fcntl(in[1], F_SETFL, ::fcntl(in[1], F_GETFL) | O_NONBLOCK);
    }

    const QByteArray program = QFile::encodeName(spawn);
    const QByteArray mode = QByteArray::number(ModeNumber(closeWindow, useOutputWindow));
    const QByteArray line = commandLine.toLocal8Bit();
    const QByteArray dir = QFile::encodeName(workingDir);
    std::vector<char*> argv{const_cast<char*>(program.constData()), const_cast<char*>(mode.constData()),
                            const_cast<char*>(line.constData()), nullptr};
    // zkspawn learns who its owner is, so it stops the tool when the IDE
    // goes and keeps the tool in its own process group.
    QByteArray owner = QByteArrayLiteral("ZKSPAWN_OWNER=") + QByteArray::number(qint64(::getpid()));
    std::vector<char*> envp;
    for (char** e = environ; *e; ++e) {
        if (std::strncmp(*e, "ZKSPAWN_OWNER=", 14) != 0) envp.push_back(*e);
    }
    envp.push_back(owner.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (useOutputWindow) {
        posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDERR_FILENO);
    }
    if (!dir.isEmpty()) posix_spawn_file_actions_addchdir_np(&actions, dir.constData());
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    // The child starts with default signal handling and nothing blocked,
    // whatever the IDE's threads have set up, as the leader of a new process
    // group: the build's group, which zkspawn and the tool share.
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    for (int sig : {SIGPIPE, SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGCHLD, SIGALRM}) sigaddset(&defaults, sig);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setpgroup(&attr, 0);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);

    pid_t pid = -1;
    const int err = ::posix_spawn(&pid, program.constData(), &actions, &attr, argv.data(), envp.data());
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    // The tool's ends now belong to the tool alone, so the pipes end with it.
    CloseFd(in[0]);
    CloseFd(out[1]);
    if (err != 0) {
        startError_ = err;
        closePipes();
        return false;
    }
    {
        std::lock_guard lock(mutex_);
        build_ = Build{};
        build_.pid = pid;
        build_.outRead = out[0];
        build_.inWrite = in[1];
    }
    startError_ = 0;
    running_.store(true);
    Wake();
    OnToolStarted();
    return true;
}

void CToolRunner::WriteInput(const char* bytes, qsizetype count) {
    if (!bytes || count <= 0) return;
    std::lock_guard lock(mutex_);
    if (build_.inWrite < 0) return;
    // The build's processes may have closed their input, or all have ended
    // a moment before the reader thread sees it: then the pipe has no reader
    // and a write raises SIGPIPE, which would end the IDE. The signal is
    // held for this thread while it writes, and one this write raised is
    // taken back; the keys go nowhere.
    sigset_t pipeSignal, before, pending;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, &before);
    sigpending(&pending);
    const bool alreadyPending = sigismember(&pending, SIGPIPE) == 1;
    bool broken = false;
    while (count > 0) {
        const ssize_t n = ::write(build_.inWrite, bytes, static_cast<size_t>(count));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            broken = n < 0 && errno == EPIPE;
            break;
        }
        bytes += n;
        count -= n;
    }
    if (broken && !alreadyPending) {
        const timespec now{};
        while (sigtimedwait(&pipeSignal, nullptr, &now) < 0 && errno == EINTR) {
        }
    }
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
}

bool CToolRunner::Stop() {
    std::lock_guard lock(mutex_);
    if (build_.pid == -1 || build_.stopping) return false;
    build_.stopping = true;
    build_.stoppedAt = Clock::now();
    build_.killAt = build_.stoppedAt + std::chrono::milliseconds(kStopBackstopMs);
    // zkspawn passes it on to the whole group and kills what is left when
    // the grace period is over.
    ::kill(build_.pid, SIGTERM);
    return true;
}

bool CToolRunner::IsStopping() const {
    std::lock_guard lock(mutex_);
    return build_.pid != -1 && build_.stopping;
}

void CToolRunner::Wake() {
    if (wake_[1] >= 0) {
        const char signal = 1;
        ssize_t ignored = ::write(wake_[1], &signal, 1);
        (void)ignored;
    }
}

void CToolRunner::ReadAvailable(int fd, qsizetype limit) {
    char buffer[kChunk];
    while (limit > 0) {
        int available = 0;
        if (::ioctl(fd, FIONREAD, &available) != 0 || available <= 0) return;
        const qsizetype want = qMin<qsizetype>(qMin<qsizetype>(available, kChunk), limit);
        const ssize_t n = ::read(fd, buffer, static_cast<size_t>(want));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        limit -= n;
        OnToolOutput(buffer, n);
    }
}

void CToolRunner::ReaderLoop() {
    for (;;) {
        int fd;
        pid_t pid;
        {
            std::lock_guard lock(mutex_);
            fd = build_.outRead;
            pid = build_.pid;
        }
        // Output wakes the loop too, so it reaches the pane without waiting
        // for the next tick.
        pollfd fds[3] = {{stop_[0], POLLIN, 0}, {wake_[0], POLLIN, 0}, {fd, POLLIN, 0}};
        const int r = ::poll(fds, fd >= 0 ? 3 : 2, kPollMs);
        const bool stopped = r > 0 && (fds[0].revents & POLLIN);
        if (r > 0 && (fds[1].revents & POLLIN)) {
            char sink[64];
            while (::read(wake_[0], sink, sizeof sink) > 0) {
            }
        }
        if (fd >= 0) ReadAvailable(fd, kReadPerPass);
        if (pid != -1) {
            int status = 0;
            const pid_t w = ::waitpid(pid, &status, WNOHANG);
            if (w == pid)
                FinishBuild(pid, status);
            else if (w < 0 && errno == ECHILD)
                FinishBuild(pid, -1); // collected elsewhere: the end is known, its code is not
        }
        KillOverdue(Clock::now());
        if (stopped) return;
    }
}

void CToolRunner::FinishBuild(pid_t pid, int status) {
    Build done;
    {
        std::lock_guard lock(mutex_);
        // Shutdown may have taken the build over meanwhile: then nothing is
        // reported any more.
        if (build_.pid != pid) return;
        done = build_;
    }
    // Whatever the tool wrote before it ended is in the pipe now and goes out
    // before its exit is reported. Only that much: a background process
    // that keeps writing must not hold the report back.
    if (done.outRead >= 0) {
        int available = 0;
        if (::ioctl(done.outRead, FIONREAD, &available) == 0 && available > 0)
            ReadAvailable(done.outRead, available);
    }
    {
        std::lock_guard lock(mutex_);
        if (build_.pid != pid) return;
        CloseFd(build_.outRead);
        CloseFd(build_.inWrite);
        build_ = Build{};
    }
    running_.store(false);
    OnToolExited(status == -1 ? -1 : ExitCodeOf(status));
}

void CToolRunner::KillOverdue(Clock::time_point now) {
    std::lock_guard lock(mutex_);
    if (build_.pid != -1 && build_.stopping && !build_.killed && now >= build_.killAt) {
        // zkspawn did not end the group in time: everything goes, zkspawn too.
        ::kill(-build_.pid, SIGKILL);
        build_.killed = true;
    }
}

void CToolRunner::Shutdown() {
    if (!initialised_) {
        CloseAll();
        return;
    }
    // The running build is taken from the reader thread, which then stops:
    // no exit is reported while the program closes.
    Build build;
    {
        std::lock_guard lock(mutex_);
        build = build_;
        build_ = Build{};
    }
    const char signal = 1;
    ssize_t ignored = ::write(stop_[1], &signal, 1);
    (void)ignored;
    if (reader_.joinable()) reader_.join();

    // A tool still running is stopped as by Stop and waited for: zkspawn
    // ends when everything the tool started has (the grace period at most),
    // so nothing outlives the IDE or holds pipes nobody reads.
    if (build.pid != -1) {
        if (!build.stopping) {
            build.stoppedAt = Clock::now();
            ::kill(build.pid, SIGTERM);
        }
        const auto deadline = build.stoppedAt + std::chrono::milliseconds(kStopBackstopMs);
        int status = 0;
        bool reaped = false;
        while (!reaped && Clock::now() < deadline) {
            reaped = ::waitpid(build.pid, &status, WNOHANG) != 0;
            if (!reaped) ::usleep(10000);
        }
        if (!reaped) {
            ::kill(-build.pid, SIGKILL);
            ::waitpid(build.pid, &status, 0);
        }
        CloseFd(build.outRead);
        CloseFd(build.inWrite);
        running_.store(false);
    }
    CloseAll();
    initialised_ = false;
}

void CToolRunner::CloseAll() {
    std::lock_guard lock(mutex_);
    CloseFd(build_.outRead);
    CloseFd(build_.inWrite);
    CloseFd(stop_[0]);
    CloseFd(stop_[1]);
    CloseFd(wake_[0]);
    CloseFd(wake_[1]);
}

} // namespace oxbrin
