#pragma once

// A pseudo-terminal pair for the serial tests: the IDE opens the slave side
// as its port, the test plays the board on the master side.

#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <QByteArray>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QString>
#include <QTest>

#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <poll.h>
#include <unistd.h>

namespace oxbrin::test {

// Long enough only to turn a broken port into a failure instead of a hang.
inline constexpr int kPatienceMs = 20000;

// Runs the event loop until `done` holds or the patience runs out; whether
// it holds.
inline bool WaitUntil(const std::function<bool()>& done) {
    QDeadlineTimer deadline(kPatienceMs);
    while (!done() && !deadline.hasExpired()) {
        QCoreApplication::processEvents();
        QTest::qSleep(2);
    }
    return done();
}

struct PtyPair {
    int master = -1;
    QString slave;

    PtyPair() {
        master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) std::abort();
        slave = QString::fromLocal8Bit(ptsname(master));
    }
    ~PtyPair() { CloseMaster(); }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    // The board goes away (a USB adapter pulled out).
    void CloseMaster() {
        if (master >= 0) ::close(master);
        master = -1;
    }

    bool Send(const QByteArray& bytes) const {
        return ::write(master, bytes.constData(), size_t(bytes.size())) == bytes.size();
    }

    // What the IDE sent, until `count` bytes have come; events keep being
    // served meanwhile (the IDE may be waiting for its own event loop).
    QByteArray Receive(qsizetype count) const {
        QByteArray got;
        QDeadlineTimer deadline(kPatienceMs);
        while (got.size() < count && !deadline.hasExpired()) {
            QCoreApplication::processEvents();
            pollfd p{master, POLLIN, 0};
            if (::poll(&p, 1, 10) <= 0) continue;
            char buf[4096];
            const ssize_t n = ::read(master, buf, size_t(qMin<qsizetype>(sizeof buf, count - got.size())));
            if (n <= 0) break;
            got.append(buf, qsizetype(n));
        }
        return got;
    }

    // Whether anything arrives within `ms` (for "nothing was sent").
    bool Quiet(int ms) const {
        pollfd p{master, POLLIN, 0};
        return ::poll(&p, 1, ms) == 0;
    }

    // The line settings as the board side sees them.
    termios2 Settings() const {
        termios2 t{};
        ioctl(master, TCGETS2, &t);
        return t;
    }
};

} // namespace oxbrin::test
