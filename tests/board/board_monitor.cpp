// board_monitor: a simulated target board on the far side of a serial line,
// for the IDE's terminal and download tests and for trying the IDE by hand.
//
//   board_monitor [--pty-file FILE | --attach DEVICE [--baud N]]
//                 [--image FILE] [--eeprom] [--record-delay MS]
//                 [--transcript FILE] [--no-echo] [--prompt TEXT] [--fill HEX]
//
// Without --attach it makes a pseudo-terminal pair, prints "pty <path>" on
// standard output and, with --pty-file, writes the path to FILE: point the
// IDE's port at that path. With --attach it talks on an existing device (a
// real serial port, or one end of a socat pair) and prints "attached <path>".
//
// Type LOAD at the prompt, then send S-records; the memory image (64 KB) is
// written to --image after every completed load and at exit. SIGTERM, SIGINT
// and SIGHUP end it cleanly.

#include "monitor.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <termios.h>
#include <unistd.h>

namespace {

int g_signalPipe[2] = {-1, -1};

void OnSignal(int) {
    int saved = errno;
    char c = 0;
    ssize_t ignored = write(g_signalPipe[1], &c, 1);
    (void)ignored;
    errno = saved;
}

bool WriteAll(int fd, const char* p, size_t n) {
    while (n > 0) {
        ssize_t w = write(fd, p, n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        p += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

// Written beside the target and renamed over it, so a reader never sees a
// half-written file.
bool WriteFileAtomically(const std::string& path, const void* data, size_t size) {
    std::string tmp = path + ".tmp";
    int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    bool ok = WriteAll(fd, static_cast<const char*>(data), size);
    ok = close(fd) == 0 && ok;
    if (ok && rename(tmp.c_str(), path.c_str()) != 0) ok = false;
    if (!ok) std::fprintf(stderr, "board_monitor: cannot write %s: %s\n", path.c_str(), std::strerror(errno));
    return ok;
}

bool MakeRaw(int fd, long baud) {
    termios t{};
    if (tcgetattr(fd, &t) != 0) return false;
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    if (baud > 0 && cfsetspeed(&t, static_cast<speed_t>(baud)) != 0) {
        std::fprintf(stderr, "board_monitor: unsupported baud rate %ld\n", baud);
        return false;
    }
    return tcsetattr(fd, TCSANOW, &t) == 0;
}

class LineHost : public board::MonitorHost {
public:
    LineHost(int fd, std::string image) : fd_(fd), image_(std::move(image)) {}
    void SetMonitor(const board::Monitor* m) { monitor_ = m; }

    void Send(std::string_view text) override {
        if (!WriteAll(fd_, text.data(), text.size())) failed_ = true;
    }
    void Pause(int ms) override {
        timespec ts{ms / 1000, (ms % 1000) * 1000000L};
        while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
        }
    }
    void LoadFinished() override { SaveImage(); }

    void SaveImage() {
        if (!image_.empty() && monitor_)
            WriteFileAtomically(image_, monitor_->memory().data(), monitor_->memory().size());
    }
    bool failed() const { return failed_; }

private:
    int fd_;
    std::string image_;
    const board::Monitor* monitor_ = nullptr;
    bool failed_ = false;
};

void Usage() {
    std::fputs("usage: board_monitor [--pty-file FILE | --attach DEVICE [--baud N]] [--image FILE]\n"
               "                     [--eeprom] [--record-delay MS] [--transcript FILE] [--no-echo]\n"
               "                     [--prompt TEXT] [--fill HEX]\n",
               stderr);
}

} // namespace

int main(int argc, char** argv) {
    board::MonitorOptions options;
    std::string ptyFile, attach, image, transcript;
    long baud = 9600;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&](const char* what) -> const char* {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "board_monitor: %s needs %s\n", a.c_str(), what);
                std::exit(2);
            }
            return argv[++i];
        };
        auto number = [&](const char* what, int base, long lo, long hi) {
            const char* text = value(what);
            char* end = nullptr;
            long v = std::strtol(text, &end, base);
            if (end == text || *end || v < lo || v > hi) {
                std::fprintf(stderr, "board_monitor: bad value for %s: %s\n", a.c_str(), text);
                std::exit(2);
            }
            return v;
        };
        if (a == "--pty-file")
            ptyFile = value("a file name");
        else if (a == "--attach")
            attach = value("a device");
        else if (a == "--baud")
            baud = number("a rate", 10, 50, 4000000);
        else if (a == "--image")
            image = value("a file name");
        else if (a == "--transcript")
            transcript = value("a file name");
        else if (a == "--eeprom")
            options.eeprom = true;
        else if (a == "--record-delay")
            options.recordDelayMs = static_cast<int>(number("milliseconds", 10, 0, 60000));
        else if (a == "--no-echo")
            options.echo = false;
        else if (a == "--prompt")
            options.prompt = value("a text");
        else if (a == "--fill")
            options.fill = static_cast<uint8_t>(number("a hex byte", 16, 0, 255));
        else {
            Usage();
            return 2;
        }
    }

    int line = -1, heldSlave = -1;
    if (!attach.empty()) {
        line = open(attach.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (line < 0 || !MakeRaw(line, baud)) {
            std::fprintf(stderr, "board_monitor: cannot use %s: %s\n", attach.c_str(), std::strerror(errno));
            return 1;
        }
        std::printf("attached %s\n", attach.c_str());
        std::fflush(stdout);
    } else {
        line = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (line < 0 || grantpt(line) != 0 || unlockpt(line) != 0) {
            std::fprintf(stderr, "board_monitor: cannot make a pseudo-terminal: %s\n", std::strerror(errno));
            return 1;
        }
        std::string slave = ptsname(line);
        // Holding the slave side open keeps the line up while the IDE
        // connects and disconnects; raw, so nothing we send echoes back.
        heldSlave = open(slave.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (heldSlave < 0 || !MakeRaw(heldSlave, 0)) {
            std::fprintf(stderr, "board_monitor: cannot set up %s: %s\n", slave.c_str(),
                         std::strerror(errno));
            return 1;
        }
        if (!ptyFile.empty()) {
            std::string text = slave + "\n";
            if (!WriteFileAtomically(ptyFile, text.data(), text.size())) return 1;
        }
        std::printf("pty %s\n", slave.c_str());
        std::fflush(stdout);
    }

    FILE* log = nullptr;
    if (!transcript.empty() && !(log = std::fopen(transcript.c_str(), "ab"))) {
        std::fprintf(stderr, "board_monitor: cannot write %s: %s\n", transcript.c_str(),
                     std::strerror(errno));
        return 1;
    }

    if (pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return 1;
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) sigaction(sig, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);

    LineHost host(line, image);
    board::Monitor monitor(options, host);
    host.SetMonitor(&monitor);
    monitor.Start();

    int status = 0;
    for (;;) {
        pollfd fds[2] = {{line, POLLIN, 0}, {g_signalPipe[0], POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            status = 1;
            break;
        }
        if (fds[1].revents) {
            // Told to end: take in what has already arrived first, so the
            // image holds every record that was sent.
            pollfd pending{line, POLLIN, 0};
            char buf[1024];
            ssize_t n;
            while (poll(&pending, 1, 0) > 0 && (pending.revents & POLLIN) &&
                   (n = read(line, buf, sizeof buf)) > 0) {
                if (log) std::fwrite(buf, 1, static_cast<size_t>(n), log);
                monitor.Receive(std::string_view(buf, static_cast<size_t>(n)));
            }
            break;
        }
        if (!fds[0].revents) continue;
        char buf[1024];
        ssize_t n = read(line, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            // The line went away (a device unplugged, the other end of a
            // pair closed).
            std::fprintf(stderr, "board_monitor: the line closed\n");
            break;
        }
        if (log) {
            std::fwrite(buf, 1, static_cast<size_t>(n), log);
            std::fflush(log);
        }
        monitor.Receive(std::string_view(buf, static_cast<size_t>(n)));
        if (host.failed()) {
            std::fprintf(stderr, "board_monitor: cannot write to the line: %s\n", std::strerror(errno));
            status = 1;
            break;
        }
    }
    host.SaveImage();
    if (log) std::fclose(log);
    if (heldSlave >= 0) close(heldSlave);
    close(line);
    return status;
}
