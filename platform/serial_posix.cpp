// The serial layer on POSIX systems with Linux's termios2 interface (every
// baud rate, not only those with a B constant).
//
// Each open port is a Session: the device, three pipes (stop, a wake-up for
// the reader, and one that cancels a write in progress) and three threads.
// The reader thread blocks in poll() on the device and the pipes and makes
// every listener call (and runs the tasks posted to it). The writer thread
// owns every write to the device: callers queue bytes and, for Write, wait
// for them, so no caller ever sits in a system call that flow control can
// hold for ever; Close and CancelOutput end such a wait at once. The drain
// thread blocks in tcdrain() after writes and reports through the wake-up
// pipe when the output has left the device, so the listener hears of it on
// the reader thread like everything else. Nothing polls on a timer.

#include "serial.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <grp.h>
#include <mutex>
#include <poll.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace platform {

namespace fs = std::filesystem;

// ---------------------------------------------------------------------------
// The settings record

std::array<uint8_t, Dcb::kSize> Dcb::ToBytes() const {
    std::array<uint8_t, kSize> b{};
    size_t i = 0;
    auto put = [&](uint64_t v, int n) {
        for (int k = 0; k < n; ++k) b[i++] = static_cast<uint8_t>(v >> (8 * k));
    };
    put(DCBlength, 4);
    put(BaudRate, 4);
    put(Flags, 4);
    put(wReserved, 2);
    put(XonLim, 2);
    put(XoffLim, 2);
    for (uint8_t v : {ByteSize, Parity, StopBits, XonChar, XoffChar, ErrorChar, EofChar, EvtChar}) put(v, 1);
    put(wReserved1, 2);
    return b;
}

bool Dcb::FromBytes(const uint8_t* data, size_t size, Dcb* out) {
    if (!data || size != kSize) return false;
    size_t i = 0;
    auto get = [&](int n) {
        uint32_t v = 0;
        for (int k = 0; k < n; ++k) v |= static_cast<uint32_t>(data[i++]) << (8 * k);
        return v;
    };
    Dcb d;
    d.DCBlength = get(4);
    d.BaudRate = get(4);
    d.Flags = get(4);
    d.wReserved = static_cast<uint16_t>(get(2));
    d.XonLim = static_cast<uint16_t>(get(2));
    d.XoffLim = static_cast<uint16_t>(get(2));
    for (uint8_t* f :
         {&d.ByteSize, &d.Parity, &d.StopBits, &d.XonChar, &d.XoffChar, &d.ErrorChar, &d.EofChar, &d.EvtChar})
        *f = static_cast<uint8_t>(get(1));
    d.wReserved1 = static_cast<uint16_t>(get(2));
    *out = d;
    return true;
}

// ---------------------------------------------------------------------------
// Errors

namespace {

SerialError MakeError(SerialErrorKind kind, int code) {
    SerialError e;
    e.kind = kind;
    e.code = code;
    if (code != 0) e.text = std::strerror(code);
    return e;
}

std::string GroupName(gid_t gid) {
    std::vector<char> buf(4096);
    group gr{};
    group* found = nullptr;
    if (getgrgid_r(gid, &gr, buf.data(), buf.size(), &found) != 0 || !found) return {};
    return found->gr_name;
}

// Whether the user this process runs for is listed in the group, although
// the process itself does not have it (joined after logging in).
bool ListedButNotActive(gid_t gid) {
    std::vector<char> buf(4096);
    passwd pw{};
    passwd* me = nullptr;
    if (getpwuid_r(getuid(), &pw, buf.data(), buf.size(), &me) != 0 || !me) return false;
    int count = 64;
    std::vector<gid_t> groups(static_cast<size_t>(count));
    if (getgrouplist(me->pw_name, me->pw_gid, groups.data(), &count) < 0) return false;
    groups.resize(static_cast<size_t>(count));
    return std::find(groups.begin(), groups.end(), gid) != groups.end();
}

// The line that tells the user how to get at a device they may not open.
std::string AccessHint(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return {};
    std::string group = GroupName(st.st_gid);
    if (st.st_gid == 0 || group.empty() || !(st.st_mode & S_IRGRP) || !(st.st_mode & S_IWGRP))
        return "Ask the administrator for read and write access to " + path + ".";
    if (ListedButNotActive(st.st_gid))
        return "Access to " + path + " is granted to the group \"" + group +
               "\". You are a member, but this session started before you joined it: log out and in again.";
    return "Access to " + path + " is granted to the group \"" + group +
           "\". Add yourself to it (sudo usermod -a -G " + group + " $USER), then log out and in again.";
}

SerialError OpenError(int code, const std::string& path) {
    switch (code) {
    case ENOENT:
    case ENOTDIR:
    case ENXIO:
    case ENODEV: return MakeError(SerialErrorKind::NoSuchDevice, code);
    case EBUSY: return MakeError(SerialErrorKind::InUse, code);
    case EISDIR: return MakeError(SerialErrorKind::NotSerial, code);
    case EACCES:
    case EPERM: {
        SerialError e = MakeError(SerialErrorKind::System, code);
        e.hint = AccessHint(path);
        return e;
    }
    default: return MakeError(SerialErrorKind::System, code);
    }
}

// ioctls on the modem lines fail on devices without them (pseudo-terminals,
// some adapters); those devices are still used.
bool NoModemLines(int code) { return code == ENOTTY || code == EINVAL || code == ENOTSUP; }

// ---------------------------------------------------------------------------
// termios2 settings

struct BaudConstant {
    uint32_t rate;
    tcflag_t code;
};
constexpr BaudConstant kBaudConstants[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},         {150, B150},
    {200, B200},         {300, B300},         {600, B600},         {1200, B1200},       {1800, B1800},
    {2400, B2400},       {4800, B4800},       {9600, B9600},       {19200, B19200},     {38400, B38400},
    {57600, B57600},     {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000},
    {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
};

uint32_t EffectiveRate(const termios2& t) {
    tcflag_t code = t.c_cflag & CBAUD;
    if (code == BOTHER) return t.c_ospeed;
    for (const BaudConstant& b : kBaudConstants)
        if (b.code == code) return b.rate;
    return 0;
}

bool SettingsValid(const Dcb& d) {
    return d.BaudRate > 0 && d.ByteSize >= 5 && d.ByteSize <= 8 && d.Parity <= Dcb::kSpaceParity &&
           d.StopBits <= Dcb::kTwoStopBits;
}

constexpr tcflag_t kParityBits = PARENB | PARODD | CMSPAR;

tcflag_t ParityFlags(uint8_t parity) {
    switch (parity) {
    case Dcb::kOddParity: return PARENB | PARODD;
    case Dcb::kEvenParity: return PARENB;
    case Dcb::kMarkParity: return PARENB | CMSPAR | PARODD;
    case Dcb::kSpaceParity: return PARENB | CMSPAR;
    default: return 0;
    }
}

const tcflag_t kSizeFlags[] = {CS5, CS6, CS7, CS8};

// Raw 8-bit line as the record describes it. Parity is generated and
// expected, but bytes with a parity error are passed on as received (the
// monitor's text is more use to the user than a gap). 1.5 stop bits is what
// the hardware makes of "two" with 5 data bits; with more data bits the
// device sends two.
void Compose(termios2& t, const Dcb& d) {
    t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON |
                                        IXOFF | IXANY | INPCK | IUCLC | IMAXBEL);
    t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | kParityBits | CSTOPB | CRTSCTS | CBAUD | CIBAUD);
    t.c_cflag |= CREAD | CLOCAL | kSizeFlags[d.ByteSize - 5] | ParityFlags(d.Parity);
    if (d.StopBits != Dcb::kOneStopBit) t.c_cflag |= CSTOPB;
    if (d.Flags & Dcb::fOutxCtsFlow) t.c_cflag |= CRTSCTS;
    if (d.Flags & Dcb::fOutX) t.c_iflag |= IXON;
    if (d.Flags & Dcb::fInX) t.c_iflag |= IXOFF;
    t.c_cc[VSTART] = 0x11;
    t.c_cc[VSTOP] = 0x13;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;

    const BaudConstant* known = nullptr;
    for (const BaudConstant& b : kBaudConstants)
        if (b.rate == d.BaudRate) known = &b;
    if (known) {
        t.c_cflag |= known->code;
        t.c_ispeed = t.c_ospeed = d.BaudRate;
    } else {
        t.c_cflag |= BOTHER;
        t.c_ispeed = t.c_ospeed = d.BaudRate;
    }
}

unsigned Compare(const termios2& want, const termios2& got, const Dcb& d) {
    unsigned ignored = 0;
    uint32_t rate = EffectiveRate(got);
    // A UART's divisor gives the nearest rate it can make; within the 3% a
    // receiver tolerates the line works.
    if (std::fabs(static_cast<double>(rate) - d.BaudRate) > 0.03 * d.BaudRate) ignored |= kIgnoredBaudRate;
    if ((want.c_cflag & CSIZE) != (got.c_cflag & CSIZE)) ignored |= kIgnoredByteSize;
    if ((want.c_cflag & kParityBits) != (got.c_cflag & kParityBits)) ignored |= kIgnoredParity;
    // One and a half stop bits exist only with 5 data bits; otherwise the
    // line sends two.
    if ((want.c_cflag & CSTOPB) != (got.c_cflag & CSTOPB) ||
        (d.StopBits == Dcb::kOne5StopBits && (got.c_cflag & CSIZE) != CS5))
        ignored |= kIgnoredStopBits;
    if ((want.c_cflag & CRTSCTS) != (got.c_cflag & CRTSCTS) ||
        (want.c_iflag & (IXON | IXOFF)) != (got.c_iflag & (IXON | IXOFF)) || (d.Flags & Dcb::fOutxDsrFlow))
        ignored |= kIgnoredFlowControl;
    return ignored;
}

SerialError Apply(int fd, const Dcb& d, unsigned* ignored) {
    if (!SettingsValid(d)) return MakeError(SerialErrorKind::BadSettings, EINVAL);
    termios2 t{};
    if (ioctl(fd, TCGETS2, &t) != 0)
        return MakeError(NoModemLines(errno) ? SerialErrorKind::NotSerial : SerialErrorKind::System, errno);
    Compose(t, d);
    if (ioctl(fd, TCSETS2, &t) != 0) {
        int code = errno;
        return MakeError(code == EINVAL ? SerialErrorKind::BadSettings : SerialErrorKind::System, code);
    }
    termios2 got{};
    if (ioctl(fd, TCGETS2, &got) != 0) return MakeError(SerialErrorKind::System, errno);
    *ignored = Compare(t, got, d);
    return {};
}

void WriteByte(int fd) {
    char c = 1;
    while (write(fd, &c, 1) < 0 && errno == EINTR) {
    }
}

} // namespace

// ---------------------------------------------------------------------------
// Session: one open device and its threads

struct SerialPort::Session {
    int fd = -1;
    int stopPipe[2] = {-1, -1};   // readable once Close has begun; never read
    int wakePipe[2] = {-1, -1};   // the reader's wake-up: output empty, a task
    int cancelPipe[2] = {-1, -1}; // wakes the writer when its bytes are thrown away
    std::string path;
    termios2 saved{};
    std::atomic<unsigned> ignored{0};
    const SerialPort* port = nullptr;
    SerialListener* listener = nullptr;

    std::atomic<bool> stopping{false};
    std::atomic<bool> lost{false};
    std::atomic<bool> txEmpty{false};

    std::mutex mutex;
    std::condition_variable changed;
    uint64_t writes = 0;  // completed writes
    uint64_t drained = 0; // writes known to have left the device
    // The writer's queue: bytes waiting, bytes ever queued, and bytes handed
    // to the device (or thrown away). A waiting Write is done when `handed`
    // reaches the end of its bytes.
    std::string outQueue;
    uint64_t queued = 0;
    uint64_t handed = 0;
    std::atomic<uint64_t> cancels{0}; // CancelOutput calls so far
    uint64_t failures = 0;            // writes the device refused so far
    SerialError lastFailure;
    std::vector<std::function<void()>> tasks; // posted to the reader
    bool readerDone = false;
    bool drainerDone = false;
    bool writerDone = false;

    std::thread reader;
    std::thread drainer;
    std::thread writer;

    ~Session() {
        for (int* p : {stopPipe, wakePipe, cancelPipe})
            for (int i = 0; i < 2; ++i)
                if (p[i] >= 0) close(p[i]);
        if (fd >= 0) close(fd);
    }

    bool Stopped() const { return stopping.load(); }

    void RequestStop() {
        if (stopping.exchange(true)) return;
        WriteByte(stopPipe[1]);
        { std::lock_guard lock(mutex); }
        changed.notify_all();
        // Throw away what is queued either way; this also releases a drain
        // that waits on output held back by flow control.
        ioctl(fd, TCFLSH, TCIOFLUSH);
    }

    void MarkDone(bool& flag) {
        {
            std::lock_guard lock(mutex);
            flag = true;
        }
        changed.notify_all();
    }

    bool WaitDone(int timeoutMs) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, std::chrono::milliseconds(std::max(timeoutMs, 0)),
                                [this] { return readerDone && drainerDone && writerDone; });
    }

    void JoinThreads() {
        if (reader.joinable()) reader.join();
        if (drainer.joinable()) drainer.join();
        if (writer.joinable()) writer.join();
    }

    void Lose(int code) {
        if (lost.exchange(true)) return;
        { std::lock_guard lock(mutex); }
        changed.notify_all();
        if (!Stopped()) listener->OnLost(MakeError(SerialErrorKind::Lost, code));
    }

    void ReadLoop() {
        uint8_t buf[1024];
        while (!Stopped()) {
            pollfd fds[3] = {{fd, POLLIN, 0}, {stopPipe[0], POLLIN, 0}, {wakePipe[0], POLLIN, 0}};
            int r = poll(fds, 3, -1);
            if (r < 0) {
                if (errno == EINTR) continue;
                Lose(errno);
                break;
            }
            if (Stopped()) break;
            if (fds[2].revents & POLLIN) {
                char sink[64];
                while (read(wakePipe[0], sink, sizeof sink) > 0) {
                }
                if (txEmpty.exchange(false)) listener->OnTransmitEmpty();
                RunTasks();
                if (Stopped()) break;
            }
            if (fds[0].revents == 0) continue;
            // Take what is there; a hang-up is reported only after the
            // bytes that came before it. A board that never stops talking
            // still lets the transmit-empty event through now and then.
            for (int chunks = 0; chunks < 64;) {
                if (Stopped()) return;
                ssize_t n = read(fd, buf, sizeof buf);
                if (n > 0) {
                    listener->OnReceive(buf, static_cast<size_t>(n));
                    ++chunks;
                    continue;
                }
                if (n < 0 && errno == EINTR) continue;
                if (n < 0 && errno == EAGAIN) {
                    if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) Lose(EIO);
                    break;
                }
                Lose(n == 0 ? EIO : errno); // end of file: the device hung up
                break;
            }
            if (lost) break;
        }
    }

    void DrainLoop() {
        std::unique_lock lock(mutex);
        for (;;) {
            changed.wait(lock, [this] { return stopping || lost || writes != drained; });
            if (stopping || lost) return;
            uint64_t target = writes;
            lock.unlock();
            int r = ioctl(fd, TCSBRK, 1); // tcdrain
            int code = errno;
            lock.lock();
            if (stopping || lost) return;
            if (r != 0 && code == EINTR) continue;
            drained = target;
            // Report only an empty queue: writes that came during the wait
            // are drained (and reported) on the next round.
            if (r == 0 && writes == target) {
                txEmpty = true;
                WriteByte(wakePipe[1]);
            }
        }
    }

    void RunTasks() {
        std::vector<std::function<void()>> now;
        {
            std::lock_guard lock(mutex);
            now.swap(tasks);
        }
        for (auto& task : now) {
            if (Stopped() || lost) return;
            task();
        }
    }

    void Post(std::function<void()> task) {
        {
            std::lock_guard lock(mutex);
            tasks.push_back(std::move(task));
        }
        WriteByte(wakePipe[1]);
    }

    // Hands one chunk to the device, waiting for room while flow control
    // holds the line. Ends early when the port stops or the chunk is
    // thrown away (CancelOutput).
    SerialError WriteOut(const std::string& chunk, uint64_t cancel) {
        const char* p = chunk.data();
        size_t left = chunk.size();
        while (left > 0) {
            if (Stopped() || cancels != cancel) return MakeError(SerialErrorKind::Aborted, ECANCELED);
            if (lost) return MakeError(SerialErrorKind::Lost, EIO);
            ssize_t n = write(fd, p, left);
            if (n > 0) {
                p += n;
                left -= static_cast<size_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && errno == EAGAIN) {
                // Queue full, or flow control holds the line: wait for room,
                // for Close or for the bytes to be thrown away.
                pollfd fds[3] = {{fd, POLLOUT, 0}, {stopPipe[0], POLLIN, 0}, {cancelPipe[0], POLLIN, 0}};
                if (poll(fds, 3, -1) < 0 && errno != EINTR) return MakeError(SerialErrorKind::System, errno);
                if (fds[1].revents) return MakeError(SerialErrorKind::Aborted, ECANCELED);
                if (fds[2].revents & POLLIN) {
                    char sink[64];
                    while (read(cancelPipe[0], sink, sizeof sink) > 0) {
                    }
                    continue; // the loop's first test tells whether it was ours
                }
                if ((fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) && !(fds[0].revents & POLLOUT))
                    return MakeError(SerialErrorKind::Lost, EIO);
                continue;
            }
            int code = n < 0 ? errno : EIO;
            return MakeError(code == EIO || code == ENXIO ? SerialErrorKind::Lost : SerialErrorKind::System,
                             code);
        }
        return {};
    }

    void WriteLoop() {
        std::unique_lock lock(mutex);
        for (;;) {
            changed.wait(lock, [this] { return stopping || lost || !outQueue.empty(); });
            if (stopping || lost) return;
            std::string chunk;
            chunk.swap(outQueue);
            const uint64_t cancel = cancels;
            lock.unlock();
            SerialError e = WriteOut(chunk, cancel);
            lock.lock();
            if (cancels != cancel) continue; // thrown away; already counted as handed
            handed += chunk.size();
            if (e.ok()) {
                ++writes; // the drain thread reports when it has left
            } else if (e.kind != SerialErrorKind::Aborted) {
                ++failures;
                lastFailure = e;
            }
            changed.notify_all();
        }
    }

    // Queues bytes for the writer thread. With `wait`, returns when they
    // have been handed to the device, or the port stops, or they are
    // thrown away; without, at once (false when too much already waits).
    SerialError Queue(const uint8_t* p, size_t size, bool wait) {
        std::unique_lock lock(mutex);
        if (lost) return MakeError(SerialErrorKind::Lost, EIO);
        if (stopping) return MakeError(SerialErrorKind::Aborted, ECANCELED);
        if (size == 0) return {};
        if (!wait && queued - handed + size > kMaxQueued) return MakeError(SerialErrorKind::Full, EAGAIN);
        outQueue.append(reinterpret_cast<const char*>(p), size);
        queued += size;
        const uint64_t target = queued;
        const uint64_t cancel = cancels;
        const uint64_t failed = failures;
        changed.notify_all();
        if (!wait) return {};
        changed.wait(lock, [&] {
            return stopping || lost || cancels != cancel || failures != failed || handed >= target;
        });
        if (cancels != cancel || stopping) return MakeError(SerialErrorKind::Aborted, ECANCELED);
        if (failures != failed) return lastFailure;
        if (handed >= target) return {};
        return MakeError(SerialErrorKind::Lost, EIO);
    }

    // Waits until every byte queued so far has been handed to the device.
    SerialError WaitHanded() {
        std::unique_lock lock(mutex);
        const uint64_t target = queued;
        const uint64_t cancel = cancels;
        changed.wait(lock, [&] { return stopping || lost || cancels != cancel || handed >= target; });
        if (cancels != cancel || stopping) return MakeError(SerialErrorKind::Aborted, ECANCELED);
        if (lost) return MakeError(SerialErrorKind::Lost, EIO);
        return {};
    }

    void CancelOutput() {
        {
            std::lock_guard lock(mutex);
            ++cancels;
            outQueue.clear();
            handed = queued;
        }
        changed.notify_all();
        WriteByte(cancelPipe[1]);
        // What the driver holds goes too; this also releases a drain that
        // waits on output held back by flow control.
        ioctl(fd, TCFLSH, TCOFLUSH);
    }

    // Puts the line back as it was found and closes it. Threads are done.
    SerialError Finish() {
        SerialError result;
        if (!lost) {
            int lines = TIOCM_DTR;
            if (ioctl(fd, TIOCMBIC, &lines) != 0 && !NoModemLines(errno))
                result = MakeError(SerialErrorKind::System, errno);
            if (ioctl(fd, TCSETS2, &saved) != 0 && result.ok())
                result = MakeError(SerialErrorKind::System, errno);
            ioctl(fd, TIOCNXCL);
        }
        if (close(fd) != 0 && result.ok() && !lost) result = MakeError(SerialErrorKind::System, errno);
        fd = -1;
        return result;
    }
};

// ---------------------------------------------------------------------------
// SerialPort
//
// session_ belongs to the owner's thread. A listener call runs on the reader
// thread and reaches its own session through a thread-local pointer, so a
// write from inside a listener call never touches session_ while the owner
// opens or closes.

namespace {
thread_local SerialPort::Session* t_listenerSession = nullptr;
}

SerialPort::SerialPort(SerialListener* listener) : listener_(listener) {}

SerialPort::~SerialPort() {
    if (session_) Close();
    ReapRetired(true);
}

SerialPort::Session* SerialPort::Current() const {
    if (t_listenerSession && t_listenerSession->port == this) return t_listenerSession;
    return session_.get();
}

void SerialPort::ReapRetired(bool wait) {
    for (auto it = retired_.begin(); it != retired_.end();) {
        Session& s = **it;
        if (!wait && !s.WaitDone(0)) {
            ++it;
            continue;
        }
        s.JoinThreads();
        s.Finish();
        it = retired_.erase(it);
    }
}

SerialError SerialPort::Release(std::shared_ptr<Session> s, int timeoutMs) {
    bool wasGone = s->lost || s->Stopped();
    s->RequestStop();
    if (!s->WaitDone(timeoutMs)) {
        retired_.push_back(std::move(s));
        return MakeError(SerialErrorKind::Aborted, ECANCELED);
    }
    s->JoinThreads();
    SerialError e = s->Finish();
    // After a hang-up the port was already closed for the user; releasing
    // the device is no news.
    return wasGone ? SerialError{} : e;
}

SerialError SerialPort::Open(const std::string& name, const Dcb& settings) {
    if (t_listenerSession)
        return MakeError(SerialErrorKind::AlreadyOpen, EDEADLK); // not from a listener call
    if (IsOpen()) return MakeError(SerialErrorKind::AlreadyOpen, 0);
    if (session_) // hung up, or closed from a listener call: release it now
        Release(std::move(session_), 2000);
    ReapRetired(false);

    auto s = std::make_shared<Session>();
    s->port = this;
    s->listener = listener_;
    s->path = ResolvePortName(name);
    s->fd = open(s->path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (s->fd < 0) return OpenError(errno, s->path);
    if (ioctl(s->fd, TCGETS2, &s->saved) != 0) {
        int code = errno;
        return MakeError(NoModemLines(code) ? SerialErrorKind::NotSerial : SerialErrorKind::System, code);
    }
    // The lock keeps out other opens of ours and every program that locks
    // serial devices the same way; exclusive mode refuses later opens by
    // any (unprivileged) program.
    if (flock(s->fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK)
        return MakeError(SerialErrorKind::InUse, EBUSY);
    ioctl(s->fd, TIOCEXCL);

    unsigned ignored = 0;
    SerialError e = Apply(s->fd, settings, &ignored);
    s->ignored = ignored;
    if (!e.ok()) {
        ioctl(s->fd, TCSETS2, &s->saved);
        ioctl(s->fd, TIOCNXCL);
        return e;
    }
    int lines = TIOCM_DTR | TIOCM_RTS;
    ioctl(s->fd, TIOCMBIS, &lines); // devices without modem lines open all the same
    ioctl(s->fd, TCFLSH, TCIOFLUSH);

    if (pipe2(s->stopPipe, O_CLOEXEC | O_NONBLOCK) != 0 || pipe2(s->wakePipe, O_CLOEXEC | O_NONBLOCK) != 0 ||
        pipe2(s->cancelPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        int code = errno;
        s->Finish();
        return MakeError(SerialErrorKind::System, code);
    }
    session_ = s;
    Session* raw = s.get();
    s->reader = std::thread([raw] {
        t_listenerSession = raw;
        raw->ReadLoop();
        t_listenerSession = nullptr;
        raw->MarkDone(raw->readerDone);
    });
    s->drainer = std::thread([raw] {
        raw->DrainLoop();
        raw->MarkDone(raw->drainerDone);
    });
    s->writer = std::thread([raw] {
        raw->WriteLoop();
        raw->MarkDone(raw->writerDone);
    });
    return {};
}

SerialError SerialPort::Configure(const Dcb& settings) {
    Session* s = Current();
    if (!s || s->lost || s->Stopped()) return MakeError(SerialErrorKind::NotOpen, EBADF);
    unsigned ignored = 0;
    SerialError e = Apply(s->fd, settings, &ignored);
    if (e.ok()) s->ignored = ignored;
    return e;
}

unsigned SerialPort::IgnoredSettings() const {
    Session* s = Current();
    return s ? s->ignored.load() : 0u;
}

SerialError SerialPort::Write(const void* data, size_t size) {
    Session* s = Current();
    // A listener call that writes while Close has begun is a write that
    // Close ended, whether it had started waiting or not.
    if (s && s == t_listenerSession && s->Stopped() && !s->lost)
        return MakeError(SerialErrorKind::Aborted, ECANCELED);
    if (!s || (s->Stopped() && !s->lost)) return MakeError(SerialErrorKind::NotOpen, EBADF);
    if (s->lost) return MakeError(SerialErrorKind::Lost, EIO);
    return s->Queue(static_cast<const uint8_t*>(data), size, true);
}

SerialError SerialPort::WriteNoWait(const void* data, size_t size) {
    Session* s = Current();
    if (!s || (s->Stopped() && !s->lost)) return MakeError(SerialErrorKind::NotOpen, EBADF);
    if (s->lost) return MakeError(SerialErrorKind::Lost, EIO);
    return s->Queue(static_cast<const uint8_t*>(data), size, false);
}

void SerialPort::CancelOutput() {
    // Any thread: the session stays alive while a listener call or the
    // owner may use it; a port being closed has nothing left to cancel.
    Session* s = Current();
    if (s && !s->Stopped() && !s->lost) s->CancelOutput();
}

SerialError SerialPort::Post(std::function<void()> task) {
    Session* s = Current();
    if (!s || s->Stopped() || s->lost) return MakeError(SerialErrorKind::NotOpen, EBADF);
    s->Post(std::move(task));
    return {};
}

SerialError SerialPort::Drain() {
    Session* s = Current();
    if (!s || (s->Stopped() && !s->lost)) return MakeError(SerialErrorKind::NotOpen, EBADF);
    const uint64_t cancel = s->cancels;
    SerialError e = s->WaitHanded();
    if (!e.ok()) return e;
    for (;;) {
        if (s->lost) return MakeError(SerialErrorKind::Lost, EIO);
        if (ioctl(s->fd, TCSBRK, 1) == 0) break;
        if (errno != EINTR)
            return MakeError(errno == EIO ? SerialErrorKind::Lost : SerialErrorKind::System, errno);
    }
    if (s->Stopped() || s->cancels != cancel) return MakeError(SerialErrorKind::Aborted, ECANCELED);
    return {};
}

SerialError SerialPort::Close(int timeoutMs) {
    if (t_listenerSession && t_listenerSession->port == this) {
        // From a listener call: the reader cannot wait for itself. No
        // further call follows this one; the owner's next Open or Close (or
        // the destructor) releases the device.
        Session* s = t_listenerSession;
        if (s->lost || s->Stopped()) return MakeError(SerialErrorKind::NotOpen, EBADF);
        s->RequestStop();
        return {};
    }
    if (!session_) return MakeError(SerialErrorKind::NotOpen, EBADF);
    return Release(std::move(session_), timeoutMs);
}

bool SerialPort::IsOpen() const {
    Session* s = Current();
    return s && !s->lost && !s->Stopped();
}

std::string SerialPort::DevicePath() const { return IsOpen() ? Current()->path : std::string(); }

// ---------------------------------------------------------------------------
// Names and enumeration

std::string ResolvePortName(const std::string& name) {
    std::string n = name;
    if (n.rfind("\\\\.\\", 0) == 0) n.erase(0, 4);
    if (n.empty() || n.find('/') != std::string::npos) return n;
    if (n.size() > 3 && (n[0] == 'C' || n[0] == 'c') && (n[1] == 'O' || n[1] == 'o') &&
        (n[2] == 'M' || n[2] == 'm') && n.size() <= 6 &&
        std::all_of(n.begin() + 3, n.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        int number = std::stoi(n.substr(3));
        if (number >= 1) return "/dev/ttyS" + std::to_string(number - 1);
    }
    return "/dev/" + n;
}

namespace {

std::string ReadAttribute(const fs::path& p) {
    std::ifstream in(p);
    std::string s;
    std::getline(in, s);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\r' || s.back() == '\t')) s.pop_back();
    return s;
}

// Manufacturer, product and ids of the USB device a tty belongs to.
std::string UsbDescription(const fs::path& device, const fs::path& sysRoot) {
    std::error_code ec;
    fs::path dir = fs::canonical(device, ec);
    if (ec) return {};
    fs::path root = fs::canonical(sysRoot, ec);
    for (; !dir.empty() && dir != root && dir != dir.root_path(); dir = dir.parent_path()) {
        if (!fs::exists(dir / "idVendor", ec)) continue;
        std::string text = ReadAttribute(dir / "manufacturer");
        std::string product = ReadAttribute(dir / "product");
        if (!product.empty()) text += (text.empty() ? "" : " ") + product;
        std::string ids = ReadAttribute(dir / "idVendor") + ":" + ReadAttribute(dir / "idProduct");
        text += (text.empty() ? "USB serial (" : " (") + ids + ")";
        return text;
    }
    return {};
}

} // namespace

std::vector<SerialDeviceInfo> ListSerialDevices(const std::string& sysRoot, const std::string& devRoot) {
    std::vector<SerialDeviceInfo> list;
    std::error_code ec;
    fs::path ttyClass = fs::path(sysRoot) / "class" / "tty";
    for (const fs::directory_entry& entry : fs::directory_iterator(ttyClass, ec)) {
        std::string name = entry.path().filename().string();
        fs::path device = entry.path() / "device";
        // Virtual consoles and pseudo-terminals have no device behind them.
        if (!fs::exists(device, ec)) continue;
        // Built-in UART slots without a UART report type 0.
        if (name.rfind("ttyS", 0) == 0 && ReadAttribute(entry.path() / "type") == "0") continue;
        fs::path node = fs::path(devRoot) / name;
        if (!fs::exists(node, ec)) continue;
        SerialDeviceInfo info;
        info.path = node.string();
        info.description = UsbDescription(device, sysRoot);
        if (info.description.empty() && name.rfind("ttyS", 0) == 0)
            info.description = "COM" + std::to_string(std::stoi("0" + name.substr(4)) + 1);
        list.push_back(info);
    }
    std::sort(list.begin(), list.end(), [](const auto& a, const auto& b) { return a.path < b.path; });

    fs::path byId = fs::path(devRoot) / "serial" / "by-id";
    for (const fs::directory_entry& link : fs::directory_iterator(byId, ec)) {
        fs::path target = fs::canonical(link.path(), ec);
        if (ec) continue;
        for (SerialDeviceInfo& info : list)
            if (fs::canonical(info.path, ec) == target && info.byIdPath.empty())
                info.byIdPath = link.path().string();
    }
    return list;
}

} // namespace platform
