#include "cli/serial_link.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

namespace qorb::sim {

namespace {
// Bytes read ahead of the receiver: more stays in the kernel's buffer, so a
// pasted file waits there instead of overrunning the simulated receiver.
constexpr std::size_t kRxRoom = 256;
// Bytes the host has not taken yet before the simulated line holds off.
constexpr std::size_t kTxRoom = 4096;
} // namespace

std::unique_ptr<HostLink> HostLink::OpenPty(std::string& name, std::string& error) {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0) {
        error = std::string("cannot open a pseudo-terminal: ") + std::strerror(errno);
        return nullptr;
    }
    const char* slaveName = nullptr;
    if (::grantpt(master) != 0 || ::unlockpt(master) != 0 || !(slaveName = ::ptsname(master))) {
        error = std::string("cannot set up the pseudo-terminal: ") + std::strerror(errno);
        ::close(master);
        return nullptr;
    }
    name = slaveName;
    std::unique_ptr<HostLink> link(new HostLink);
    link->in_ = link->out_ = master;
    link->ownFds_ = true;
    // Holding the slave open keeps the line up while no terminal has it
    // open (the master would report a hang-up), and lets it start raw: a
    // terminal program that opens it sets its own modes.
    link->slave_ = ::open(slaveName, O_RDWR | O_NOCTTY);
    if (link->slave_ >= 0) {
        struct termios t {};
        if (::tcgetattr(link->slave_, &t) == 0) {
            ::cfmakeraw(&t);
            ::tcsetattr(link->slave_, TCSANOW, &t);
        }
    }
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    ::fcntl(master, F_SETFD, FD_CLOEXEC);
    return link;
}

std::unique_ptr<HostLink> HostLink::OpenStdio() {
    std::unique_ptr<HostLink> link(new HostLink);
    link->in_ = 0;
    link->out_ = 1;
    if (::isatty(0) && ::tcgetattr(0, &link->savedTerm_) == 0) {
        struct termios t = link->savedTerm_;
        ::cfmakeraw(&t);
        t.c_lflag |= ISIG; // Ctrl-C ends the simulation, as everywhere else
        t.c_oflag |= OPOST;
        t.c_oflag &= ~static_cast<tcflag_t>(ONLCR); // the program sends its own CR LF
        if (::tcsetattr(0, TCSANOW, &t) == 0) link->restoreTerm_ = true;
    }
    return link;
}

HostLink::~HostLink() {
    if (restoreTerm_) ::tcsetattr(0, TCSANOW, &savedTerm_);
    if (ownFds_) ::close(in_);
    if (slave_ >= 0) ::close(slave_);
}

std::uint8_t HostLink::Take() {
    const std::uint8_t b = rx_.front();
    rx_.pop_front();
    return b;
}

bool HostLink::Put(std::uint8_t byte) {
    if (outBroken_) return true; // nobody will ever read it: the line runs on
    if (tx_.size() >= kTxRoom) return false;
    tx_.push_back(byte);
    return true;
}

void HostLink::WriteQueued() {
    while (!tx_.empty() && !outBroken_) {
        std::uint8_t buf[512];
        std::size_t n = 0;
        for (auto it = tx_.begin(); it != tx_.end() && n < sizeof buf; ++it) buf[n++] = *it;
        const ssize_t w = ::write(out_, buf, n);
        if (w > 0) {
            tx_.erase(tx_.begin(), tx_.begin() + w);
            continue;
        }
        if (w < 0 && errno == EINTR) continue;
        if (w < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
        // The reader has gone (a closed pipe): what follows is dropped
        // rather than stalling the simulation.
        outBroken_ = true;
        tx_.clear();
    }
}

void HostLink::Pump(int timeoutMs) {
    WriteQueued();
    struct pollfd fds[2];
    nfds_t n = 0;
    const bool wantIn = !inEnded_ && rx_.size() < kRxRoom;
    if (wantIn) fds[n++] = {in_, POLLIN, 0};
    if (!tx_.empty() && !outBroken_) {
        if (in_ == out_ && n == 1)
            fds[0].events |= POLLOUT;
        else
            fds[n++] = {out_, POLLOUT, 0};
    }
    if (n == 0) {
        if (timeoutMs > 0) ::poll(nullptr, 0, timeoutMs);
        return;
    }
    if (::poll(fds, n, timeoutMs) <= 0) return;
    if (wantIn && (fds[0].revents & (POLLIN | POLLHUP | POLLERR))) {
        std::uint8_t buf[kRxRoom];
        const ssize_t r = ::read(in_, buf, kRxRoom - rx_.size());
        if (r > 0) {
            rx_.insert(rx_.end(), buf, buf + r);
        } else if (r == 0 || (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK)) {
            // End of standard input; a pseudo-terminal whose slave we hold
            // never gets here.
            if (in_ != out_) inEnded_ = true;
        }
    }
    WriteQueued();
}

void HostLink::Drain(int timeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!tx_.empty() && !outBroken_) {
        WriteQueued();
        if (tx_.empty()) break;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        struct pollfd p = {out_, POLLOUT, 0};
        ::poll(&p, 1, static_cast<int>(left.count()));
    }
}

} // namespace qorb::sim
