#include "toolrunner.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <cerrno>
#include <csignal>
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

QString& ProgramDirOverride() {
    static QString dir;
    return dir;
}

void CloseFd(int& fd) {
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

bool MakePipe(int& readEnd, int& writeEnd) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return false;
    readEnd = fds[0];
    writeEnd = fds[1];
#ifdef F_SETPIPE_SZ
    // A bigger buffer is a wish, not a need.
    (void)::fcntl(fds[0], F_SETPIPE_SZ, kPipeSize);
#endif
    return true;
}

int ExitCodeOf(int status) {
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return 127;
}

}  // namespace

CToolRunner::CToolRunner() = default;

CToolRunner::~CToolRunner() {
    Shutdown();
}

int CToolRunner::ModeNumber(bool closeWindow, bool useOutputWindow) {
    return 0x55 + (useOutputWindow ? 0x100 : 0) + (closeWindow ? 0x200 : 0);
}

void CToolRunner::SetProgramDirectory(const QString& dir) {
    ProgramDirOverride() = dir;
}

QString CToolRunner::ProgramDirectory() {
    if (!ProgramDirOverride().isEmpty())
        return ProgramDirOverride();
    return QCoreApplication::applicationDirPath();
}

QString CToolRunner::FindProgram(const QString& name) {
    if (name.isEmpty())
        return {};
    QStringList names{name};
    if (name.endsWith(QLatin1String(".exe"), Qt::CaseInsensitive))
        names << name.left(name.size() - 4);
    const QString dir = ProgramDirectory();
    for (const QString& n : names) {
        if (n.contains(QLatin1Char('/'))) {
            const QFileInfo fi(n);
            if (fi.isFile() && fi.isExecutable())
                return fi.absoluteFilePath();
            continue;
        }
        const QFileInfo beside(QDir(dir).filePath(n));
        if (!dir.isEmpty() && beside.isFile() && beside.isExecutable())
            return beside.absoluteFilePath();
    }
    for (const QString& n : names) {
        if (n.contains(QLatin1Char('/')))
            continue;
        const QString found = QStandardPaths::findExecutable(n);
        if (!found.isEmpty())
            return found;
    }
    return {};
}

bool CToolRunner::Initialise() {
    if (initialised_)
        return false;
    if (!MakePipe(outRead_, outWrite_))
        return false;
    if (!MakePipe(inRead_, inWrite_))
        return false;
    // The IDE side never waits: reads take what is there, and typing into a
    // tool that does not read must not freeze the window.
    ::fcntl(outRead_, F_SETFL, ::fcntl(outRead_, F_GETFL) | O_NONBLOCK);
    ::fcntl(inWrite_, F_SETFL, ::fcntl(inWrite_, F_GETFL) | O_NONBLOCK);
    if (::pipe2(stop_, O_CLOEXEC) != 0)
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
    if ((useOutputWindow && !initialised_) || running_.load() || process_.load() != -1)
        return false;
    const QString spawn = FindProgram(QStringLiteral("zkspawn"));
    if (spawn.isEmpty())
        return false;
    if (initialised_)
        DiscardStaleInput();

    const QByteArray program = QFile::encodeName(spawn);
    const QByteArray mode = QByteArray::number(ModeNumber(closeWindow, useOutputWindow));
    const QByteArray line = commandLine.toLocal8Bit();
    const QByteArray dir = QFile::encodeName(workingDir);
    std::vector<char*> argv{const_cast<char*>(program.constData()), const_cast<char*>(mode.constData()),
                            const_cast<char*>(line.constData()), nullptr};

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (useOutputWindow) {
        posix_spawn_file_actions_adddup2(&actions, inRead_, STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&actions, outWrite_, STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, outWrite_, STDERR_FILENO);
    }
    if (!dir.isEmpty())
        posix_spawn_file_actions_addchdir_np(&actions, dir.constData());
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    // The child starts with default signal handling and nothing blocked,
    // whatever the IDE's threads have set up.
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    for (int sig : {SIGPIPE, SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGCHLD})
        sigaddset(&defaults, sig);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    pid_t pid = -1;
    const int err = ::posix_spawn(&pid, program.constData(), &actions, &attr, argv.data(), environ);
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    if (err != 0)
        return false;
    process_.store(pid);
    running_.store(true);
    OnToolStarted();
    return true;
}

void CToolRunner::DiscardStaleInput() {
    // Keys typed for the last tool that it never read must not reach the
    // next one. Only what is there is read, so this never waits (the tool's
    // end of the pipe stays blocking, as the tool expects).
    char buffer[kChunk];
    for (;;) {
        int available = 0;
        if (::ioctl(inRead_, FIONREAD, &available) != 0 || available <= 0)
            return;
        if (::read(inRead_, buffer, available < kChunk ? static_cast<size_t>(available) : kChunk) <= 0)
            return;
    }
}

void CToolRunner::WriteInput(const char* bytes, qsizetype count) {
    if (!initialised_ || !running_.load() || !bytes || count <= 0)
        return;
    while (count > 0) {
        const ssize_t n = ::write(inWrite_, bytes, static_cast<size_t>(count));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        bytes += n;
        count -= n;
    }
}

void CToolRunner::ReadAvailable() {
    char buffer[kChunk];
    for (;;) {
        int available = 0;
        if (::ioctl(outRead_, FIONREAD, &available) != 0 || available <= 0)
            return;
        const ssize_t n = ::read(outRead_, buffer, available < kChunk ? static_cast<size_t>(available) : kChunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        OnToolOutput(buffer, n);
    }
}

void CToolRunner::ReaderLoop() {
    for (;;) {
        // Output wakes the loop too, so it reaches the pane without waiting
        // for the next tick.
        pollfd fds[2] = {{stop_[0], POLLIN, 0}, {outRead_, POLLIN, 0}};
        const int r = ::poll(fds, 2, kPollMs);
        const bool stopped = r > 0 && (fds[0].revents & POLLIN);
        bool exited = false;
        int status = 0;
        const pid_t pid = process_.load();
        if (pid != -1) {
            const pid_t w = ::waitpid(pid, &status, WNOHANG);
            if (w < 0 && errno == ECHILD) {
                // Collected elsewhere: the end is known, its code is not.
                exited = true;
                status = -1;
            } else {
                exited = w == pid;
            }
        }
        // Whatever the tool wrote before it ended is in the pipe now and
        // goes out before its exit is reported.
        ReadAvailable();
        if (exited) {
            process_.store(-1);
            running_.store(false);
            OnToolExited(status == -1 ? -1 : ExitCodeOf(status));
        }
        if (stopped)
            return;
    }
}

void CToolRunner::Shutdown() {
    if (!initialised_) {
        CloseAll();
        return;
    }
    // A tool still running is asked to end (zkspawn passes this on to the
    // tool's process group) and collected, so it does not outlive the IDE
    // holding pipes nobody reads.
    const pid_t pid = process_.exchange(-1);
    if (pid != -1) {
        ::kill(pid, SIGTERM);
        int status = 0;
        for (int i = 0; i < 100 && ::waitpid(pid, &status, WNOHANG) == 0; ++i)
            ::usleep(10000);
        if (::waitpid(pid, &status, WNOHANG) == 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
        }
        running_.store(false);
    }
    const char signal = 1;
    ssize_t ignored = ::write(stop_[1], &signal, 1);
    (void)ignored;
    if (reader_.joinable())
        reader_.join();
    CloseAll();
    initialised_ = false;
}

void CToolRunner::CloseAll() {
    CloseFd(outRead_);
    CloseFd(outWrite_);
    CloseFd(inRead_);
    CloseFd(inWrite_);
    CloseFd(stop_[0]);
    CloseFd(stop_[1]);
}

}  // namespace oxbrin
