// The serial layer on pseudo-terminal pairs: the port opens the slave side,
// the test drives the master side as the far end of the line.

#include "serial.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <grp.h>
#include <mutex>
#include <poll.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace platform;
namespace fs = std::filesystem;

// Waits that end early when the condition holds; the long limit only turns
// a broken port into a failure instead of a hung suite.
constexpr auto kPatience = std::chrono::seconds(20);

struct Pty {
    int master = -1;
    std::string slave;

    Pty() {
        master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) std::abort();
        slave = ptsname(master);
    }
    ~Pty() { CloseMaster(); }
    void CloseMaster() {
        if (master >= 0) close(master);
        master = -1;
    }

    void Send(const std::string& s) const { ASSERT_EQ(write(master, s.data(), s.size()), (ssize_t)s.size()); }

    // Reads from the far end until `count` bytes have come.
    std::string Receive(size_t count) const {
        std::string got;
        while (got.size() < count) {
            pollfd p{master, POLLIN, 0};
            if (poll(&p, 1, static_cast<int>(std::chrono::milliseconds(kPatience).count())) <= 0) {
                ADD_FAILURE() << "far end got " << got.size() << " of " << count << " bytes";
                break;
            }
            char buf[4096];
            ssize_t n = read(master, buf, std::min(sizeof buf, count - got.size()));
            if (n <= 0) break;
            got.append(buf, static_cast<size_t>(n));
        }
        return got;
    }

    // The line settings as the far end sees them.
    termios2 Settings() const {
        termios2 t{};
        EXPECT_EQ(ioctl(master, TCGETS2, &t), 0);
        return t;
    }
};

class Recorder : public SerialListener {
public:
    void OnReceive(const uint8_t* bytes, size_t count) override {
        if (onReceive) onReceive(bytes, count);
        std::lock_guard lock(mutex_);
        data_.append(reinterpret_cast<const char*>(bytes), count);
        largestChunk_ = std::max(largestChunk_, count);
        threads_.push_back(std::this_thread::get_id());
        changed_.notify_all();
    }
    void OnTransmitEmpty() override {
        std::lock_guard lock(mutex_);
        ++txEmpty_;
        threads_.push_back(std::this_thread::get_id());
        changed_.notify_all();
    }
    void OnLost(const SerialError& e) override {
        std::lock_guard lock(mutex_);
        ++lost_;
        lastLost_ = e;
        changed_.notify_all();
    }

    bool WaitFor(const std::function<bool()>& done) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, kPatience, done);
    }
    bool WaitForData(size_t n) {
        return WaitFor([&] { return data_.size() >= n; });
    }

    std::string data() {
        std::lock_guard lock(mutex_);
        return data_;
    }
    int lost() {
        std::lock_guard lock(mutex_);
        return lost_;
    }
    size_t largestChunk() {
        std::lock_guard lock(mutex_);
        return largestChunk_;
    }
    std::vector<std::thread::id> threads() {
        std::lock_guard lock(mutex_);
        return threads_;
    }
    SerialError lastLost() {
        std::lock_guard lock(mutex_);
        return lastLost_;
    }

    std::function<void(const uint8_t*, size_t)> onReceive;

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::string data_;
    size_t largestChunk_ = 0;
    int txEmpty_ = 0;
    int lost_ = 0;
    SerialError lastLost_;
    std::vector<std::thread::id> threads_;

public:
    // Lets lambdas in tests read under the lock through WaitFor.
    const std::string& dataUnlocked() const { return data_; }
    int txEmptyUnlocked() const { return txEmpty_; }
    int lostUnlocked() const { return lost_; }
};

std::string Pattern(size_t n) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    return s;
}

// --- data -----------------------------------------------------------------

TEST(SerialPort, BytesBothWays) {
    Pty pty;
    Recorder rec;
    SerialPort port(&rec);
    ASSERT_TRUE(port.Open(pty.slave, Dcb{}).ok());
    EXPECT_TRUE(port.IsOpen());
    EXPECT_EQ(port.DevicePath(), pty.slave);

    pty.Send("hello\r\n\x11\x13");
    ASSERT_TRUE(rec.WaitForData(9));
    // Raw line: no translation; XON/XOFF are plain data without flow control.
    EXPECT_EQ(rec.data(), "hello\r\n\x11\x13");

    ASSERT_TRUE(port.Write("S1130000\r\n", 10).ok());
    EXPECT_EQ(pty.Receive(10), "S1130000\r\n");

    // More than the device buffers, both ways at once: nothing lost, order
    // kept, and no chunk larger than the reader's 1024 bytes.
    const std::string out = Pattern(300000), in = Pattern(200000);
    std::thread farEnd([&] { EXPECT_EQ(pty.Receive(out.size()), out); });
    std::thread farSend([&] {
        for (size_t i = 0; i < in.size(); i += 4096) pty.Send(in.substr(i, 4096));
    });
    EXPECT_TRUE(port.Write(out.data(), out.size()).ok());
    farEnd.join();
    farSend.join();
    ASSERT_TRUE(rec.WaitForData(9 + in.size()));
    EXPECT_EQ(rec.data().substr(9), in);
    EXPECT_LE(rec.largestChunk(), 1024u);
    for (std::thread::id id : rec.threads()) EXPECT_NE(id, std::this_thread::get_id());
    EXPECT_TRUE(port.Close().ok());
    EXPECT_FALSE(port.IsOpen());
}

TEST(SerialPort, OpensThroughALink) {
    // As /dev/serial/by-id names and socat's link= names are used.
    Pty pty;
    fs::path link = fs::temp_directory_path() / ("serial-link-" + std::to_string(getpid()));
    fs::remove(link);
    fs::create_symlink(pty.slave, link);
    Recorder rec;
    SerialPort port(&rec);
    ASSERT_TRUE(port.Open(link.string(), Dcb{}).ok());
    EXPECT_EQ(port.DevicePath(), link.string());
    ASSERT_TRUE(port.Write("via link", 8).ok());
    EXPECT_EQ(pty.Receive(8), "via link");
    // The link and the device itself are one port.
    Recorder other;
    SerialPort second(&other);
    EXPECT_EQ(second.Open(pty.slave, Dcb{}).kind, SerialErrorKind::InUse);
    EXPECT_TRUE(port.Close().ok());
    fs::remove(link);
}

TEST(SerialPort, TransmitQueueEmptyFollowsWrites) {
    Pty pty;
    Recorder rec;
    SerialPort port(&rec);
    ASSERT_TRUE(port.Open(pty.slave, Dcb{}).ok());
    for (int i = 1; i <= 3; ++i) {
        ASSERT_TRUE(port.Write("line\r\n", 6).ok());
        ASSERT_TRUE(rec.WaitFor([&] { return rec.txEmptyUnlocked() >= i; })) << "event " << i;
        EXPECT_EQ(pty.Receive(6), "line\r\n");
    }
    EXPECT_TRUE(port.Drain().ok());
    // A listener that writes the next line from the event (as the plain
    // download does) keeps the chain going on the reader thread.
    std::atomic<int> left{5};
    struct Pacer : SerialListener {
        SerialPort* port = nullptr;
        std::atomic<int>* left = nullptr;
        std::atomic<int> events{0};
        void OnReceive(const uint8_t*, size_t) override {}
        void OnTransmitEmpty() override {
            ++events;
            if (--*left >= 0) port->Write("next\n", 5);
        }
    } pacer;
    SerialPort paced(&pacer);
    pacer.port = &paced;
    pacer.left = &left;
    ASSERT_TRUE(port.Close().ok());
    ASSERT_TRUE(paced.Open(pty.slave, Dcb{}).ok());
    ASSERT_TRUE(paced.Write("first\n", 6).ok());
    EXPECT_EQ(pty.Receive(6 + 5 * 5), "first\n" + std::string("next\nnext\nnext\nnext\nnext\n"));
    EXPECT_TRUE(paced.Close().ok());
}

TEST(SerialPort, XonXoffHoldsAndReleasesOutput) {
    Pty pty;
    Recorder rec;
    SerialPort port(&rec);
    Dcb dcb;
    dcb.Flags = Dcb::fOutX | Dcb::fInX;
    ASSERT_TRUE(port.Open(pty.slave, dcb).ok());
    pty.Send("\x13"); // XOFF from the board
    // Wait until the line driver has seen it: the stop character is taken
    // by the driver, so a marker byte sent after it shows it was handled.
    pty.Send("m");
    ASSERT_TRUE(rec.WaitForData(1));
    EXPECT_EQ(rec.data(), "m");

    const std::string block = Pattern(100000);
    auto writing = std::async(std::launch::async, [&] { return port.Write(block.data(), block.size()); });
    // Held: the far end sees at most what was queued before the stop.
    pollfd p{pty.master, POLLIN, 0};
    EXPECT_EQ(poll(&p, 1, 200), 0);
    pty.Send("\x11"); // XON
    EXPECT_EQ(pty.Receive(block.size()), block);
    EXPECT_TRUE(writing.get().ok());
    EXPECT_TRUE(port.Close().ok());
}

// --- settings -------------------------------------------------------------

TEST(SerialPort, SettingsReachTheDevice) {
    Pty pty;
    Recorder rec;
    SerialPort port(&rec);
    Dcb dcb;
    dcb.BaudRate = 19200;
    dcb.StopBits = Dcb::kTwoStopBits;
    dcb.Flags = Dcb::fOutxCtsFlow | Dcb::fOutX | Dcb::fInX;
    ASSERT_TRUE(port.Open(pty.slave, dcb).ok());
    termios2 t = pty.Settings();
    EXPECT_EQ(t.c_cflag & CBAUD, static_cast<tcflag_t>(B19200));
    EXPECT_TRUE(t.c_cflag & CSTOPB);
    EXPECT_TRUE(t.c_cflag & CRTSCTS);
    EXPECT_TRUE(t.c_cflag & CLOCAL);
    EXPECT_TRUE(t.c_cflag & CREAD);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF | ICRNL | INLCR | IGNCR | ISTRIP),
              static_cast<tcflag_t>(IXON | IXOFF));
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_cc[VSTART], 0x11);
    EXPECT_EQ(t.c_cc[VSTOP], 0x13);
    EXPECT_EQ(port.IgnoredSettings(), 0u);

    // Every rate of the Terminal page, with or without a B constant, and
    // the line changed while open.
    for (uint32_t rate :
         {110u, 300u, 600u, 1200u, 2400u, 4800u, 9600u, 14400u, 19200u, 38400u, 57600u, 115200u, 31250u}) {
        dcb = Dcb{};
        dcb.BaudRate = rate;
        ASSERT_TRUE(port.Configure(dcb).ok()) << rate;
        t = pty.Settings();
        uint32_t seen = (t.c_cflag & CBAUD) == BOTHER ? t.c_ospeed : 0;
        if ((t.c_cflag & CBAUD) != BOTHER)
            EXPECT_EQ(t.c_ospeed, rate);
        else
            EXPECT_EQ(seen, rate);
        EXPECT_EQ(port.IgnoredSettings(), 0u) << rate;
        EXPECT_FALSE(t.c_cflag & (CSTOPB | CRTSCTS));
        EXPECT_FALSE(t.c_iflag & (IXON | IXOFF));
    }
    EXPECT_TRUE(port.Close().ok());
}

TEST(SerialPort, SettingsTheDeviceCannotTakeAreReportedNotFatal) {
    Pty pty;
    Recorder rec;
    SerialPort port(&rec);
    Dcb dcb;
    dcb.ByteSize = 7;
    dcb.Parity = Dcb::kEvenParity;
    // A pseudo-terminal is always 8 data bits without parity; it still
    // opens and carries data.
    ASSERT_TRUE(port.Open(pty.slave, dcb).ok());
    EXPECT_EQ(port.IgnoredSettings(), unsigned(kIgnoredByteSize | kIgnoredParity));
    EXPECT_EQ(pty.Settings().c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    for (uint8_t parity : {Dcb::kOddParity, Dcb::kMarkParity, Dcb::kSpaceParity}) {
        dcb = Dcb{};
        dcb.Parity = parity;
        ASSERT_TRUE(port.Configure(dcb).ok());
        EXPECT_EQ(port.IgnoredSettings(), unsigned(kIgnoredParity)) << int(parity);
    }
    dcb = Dcb{};
    dcb.StopBits = Dcb::kOne5StopBits; // with 8 data bits the line sends two
    ASSERT_TRUE(port.Configure(dcb).ok());
    EXPECT_EQ(port.IgnoredSettings(), unsigned(kIgnoredStopBits));
    EXPECT_TRUE(pty.Settings().c_cflag & CSTOPB);
    dcb = Dcb{};
    dcb.Flags = Dcb::fOutxDsrFlow;
    ASSERT_TRUE(port.Configure(dcb).ok());
    EXPECT_EQ(port.IgnoredSettings(), unsigned(kIgnoredFlowControl));

    // Values no line can take are refused and leave the port as it was.
    for (auto bad : std::initializer_list<std::function<void(Dcb&)>>{
             [](Dcb& d) { d.ByteSize = 9; }, [](Dcb& d) { d.ByteSize = 4; }, [](Dcb& d) { d.Parity = 5; },
             [](Dcb& d) { d.StopBits = 3; }, [](Dcb& d) { d.BaudRate = 0; }}) {
        dcb = Dcb{};
        bad(dcb);
        EXPECT_EQ(port.Configure(dcb).kind, SerialErrorKind::BadSettings);
    }
    EXPECT_TRUE(port.IsOpen());
    pty.Send("ok");
    EXPECT_TRUE(rec.WaitForData(2));
    EXPECT_TRUE(port.Close().ok());

    // Refused at open: the device is left free.
    dcb = Dcb{};
    dcb.ByteSize = 3;
    EXPECT_EQ(port.Open(pty.slave, dcb).kind, SerialErrorKind::BadSettings);
    EXPECT_FALSE(port.IsOpen());
    EXPECT_TRUE(port.Open(pty.slave, Dcb{}).ok());
}

TEST(SerialPort, SettingsArePutBackAtClose) {
    Pty pty;
    termios2 before = pty.Settings();
    ASSERT_TRUE(before.c_lflag & ICANON); // a fresh terminal is cooked
    {
        Recorder rec;
        SerialPort port(&rec);
        Dcb dcb;
        dcb.BaudRate = 57600;
        ASSERT_TRUE(port.Open(pty.slave, dcb).ok());
        ASSERT_FALSE(pty.Settings().c_lflag & ICANON);
        ASSERT_TRUE(port.Close().ok());
    }
    termios2 after = pty.Settings();
    EXPECT_EQ(after.c_cflag, before.c_cflag);
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    EXPECT_EQ(after.c_oflag, before.c_oflag);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(after.c_ospeed, before.c_ospeed);
    EXPECT_EQ(0, std::memcmp(after.c_cc, before.c_cc, sizeof after.c_cc));
}

// --- open errors ----------------------------------------------------------

TEST(SerialPort, OpenErrorsAreClassified) {
    Recorder rec;
    SerialPort port(&rec);
    SerialError e = port.Open("/dev/no-such-serial-port", Dcb{});
    EXPECT_EQ(e.kind, SerialErrorKind::NoSuchDevice);
    EXPECT_EQ(e.code, ENOENT);
    EXPECT_EQ(e.text, std::strerror(ENOENT));

    e = port.Open("/dev/null", Dcb{});
    EXPECT_EQ(e.kind, SerialErrorKind::NotSerial);
    EXPECT_FALSE(port.IsOpen());

    fs::path dir = fs::temp_directory_path() / ("serial-test-" + std::to_string(getpid()));
    fs::create_directories(dir);
    std::ofstream(dir / "file") << "x";
    EXPECT_EQ(port.Open((dir / "file").string(), Dcb{}).kind, SerialErrorKind::NotSerial);
    EXPECT_EQ(port.Open(dir.string(), Dcb{}).kind, SerialErrorKind::NotSerial);
    fs::remove_all(dir);

    Pty pty;
    ASSERT_TRUE(port.Open(pty.slave, Dcb{}).ok());
    EXPECT_EQ(port.Open(pty.slave, Dcb{}).kind, SerialErrorKind::AlreadyOpen);
    Recorder other;
    SerialPort second(&other);
    e = second.Open(pty.slave, Dcb{});
    EXPECT_EQ(e.kind, SerialErrorKind::InUse);
    EXPECT_FALSE(second.IsOpen());
    // The failed open disturbed nothing.
    pty.Send("still here");
    EXPECT_TRUE(rec.WaitForData(10));
    ASSERT_TRUE(port.Close().ok());
    EXPECT_TRUE(second.Open(pty.slave, Dcb{}).ok());
}

TEST(SerialPort, PermissionDeniedNamesTheGroup) {
    Pty pty;
    // Let only the terminal group in (some systems mount pseudo-terminals
    // with group root; privileged tests hand this one to the tty group).
    group* tty = getgrnam("tty");
    ASSERT_NE(tty, nullptr);
    gid_t ttyGid = tty->gr_gid;
    if (geteuid() == 0) {
        ASSERT_EQ(chown(pty.slave.c_str(), 0, ttyGid), 0);
    }
    struct stat st {};
    ASSERT_EQ(stat(pty.slave.c_str(), &st), 0);
    ASSERT_EQ(st.st_gid, ttyGid) << "pseudo-terminals here do not belong to the tty group";
    ASSERT_EQ(chmod(pty.slave.c_str(), 0660), 0);
    int report[2];
    ASSERT_EQ(pipe(report), 0);
    pid_t child = fork();
    if (child == 0) {
        // Privileged users pass every permission check; try as nobody.
        if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0))
            _exit(3);
        struct stat st {};
        if (stat(pty.slave.c_str(), &st) == 0 && st.st_uid == geteuid())
            chmod(pty.slave.c_str(), 0060); // owner loses access, group keeps it
        Recorder rec;
        SerialPort port(&rec);
        SerialError e = port.Open(pty.slave, Dcb{});
        std::string line =
            std::to_string(static_cast<int>(e.kind)) + " " + std::to_string(e.code) + "\n" + e.hint;
        ssize_t ignored = write(report[1], line.data(), line.size());
        (void)ignored;
        _exit(0);
    }
    close(report[1]);
    std::string got;
    char buf[512];
    ssize_t n;
    while ((n = read(report[0], buf, sizeof buf)) > 0) got.append(buf, static_cast<size_t>(n));
    close(report[0]);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "could not drop privileges";
    EXPECT_EQ(got.substr(0, got.find('\n')),
              std::to_string(static_cast<int>(SerialErrorKind::System)) + " " + std::to_string(EACCES));
    EXPECT_NE(got.find("is granted to the group \"tty\""), std::string::npos) << got;
}

// --- hang-up and close ----------------------------------------------------

TEST(SerialPort, FarEndGoneGivesOneHangUpAndAClosedPort) {
    Pty pty;
    Recorder rec;
    SerialPort port(&rec);
    ASSERT_TRUE(port.Open(pty.slave, Dcb{}).ok());
    pty.Send("last words");
    // Input still queued when the far end goes is thrown away by the line
    // driver, as with a cable pulled; wait until it has arrived.
    ASSERT_TRUE(rec.WaitForData(10));
    pty.CloseMaster();
    ASSERT_TRUE(rec.WaitFor([&] { return rec.lostUnlocked() > 0; }));
    EXPECT_EQ(rec.data(), "last words");
    EXPECT_EQ(rec.lastLost().kind, SerialErrorKind::Lost);
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(port.Write("x", 1).kind, SerialErrorKind::Lost);
    EXPECT_EQ(port.DevicePath(), "");
    // Closing afterwards releases the device quietly; the report stays one.
    EXPECT_TRUE(port.Close().ok());
    EXPECT_EQ(port.Close().kind, SerialErrorKind::NotOpen);
    EXPECT_EQ(rec.lost(), 1);
    // The device is gone with its master.
    EXPECT_EQ(port.Open(pty.slave, Dcb{}).kind, SerialErrorKind::NoSuchDevice);

    // Reopen after a hang-up without an explicit close in between.
    Pty next;
    Recorder rec2;
    SerialPort port2(&rec2);
    ASSERT_TRUE(port2.Open(next.slave, Dcb{}).ok());
    next.CloseMaster();
    ASSERT_TRUE(rec2.WaitFor([&] { return rec2.lostUnlocked() > 0; }));
    Pty third;
    EXPECT_TRUE(port2.Open(third.slave, Dcb{}).ok());
    third.Send("again");
    EXPECT_TRUE(rec2.WaitFor([&] { return rec2.dataUnlocked() == "again"; }));
    EXPECT_EQ(rec2.lost(), 1);
}

TEST(SerialPort, CloseEndsAWriteHeldByFlowControl) {
    Pty pty;
    Recorder rec;
    SerialPort port(&rec);
    Dcb dcb;
    dcb.Flags = Dcb::fOutX;
    std::promise<SerialError> writeResult;
    std::atomic<bool> writing{false};
    const std::string block = Pattern(200000);
    // The reader thread is busy in a listener call that writes while the
    // board holds the line: Close must end that write and the thread.
    rec.onReceive = [&](const uint8_t* b, size_t n) {
        if (n == 1 && b[0] == '!') {
            writing = true;
            writeResult.set_value(port.Write(block.data(), block.size()));
        }
    };
    ASSERT_TRUE(port.Open(pty.slave, dcb).ok());
    pty.Send("\x13");
    pty.Send("!");
    while (!writing) std::this_thread::yield();
    // The write cannot finish: the far end reads nothing and sent XOFF.
    EXPECT_TRUE(port.Close().ok());
    EXPECT_EQ(writeResult.get_future().get().kind, SerialErrorKind::Aborted);
    EXPECT_FALSE(port.IsOpen());
}

// The board sent XOFF and never sends XON. Opens `port` with XON/XOFF and
// returns once the line driver has taken the stop character.
void HoldTheLine(Pty& pty, Recorder& rec, SerialPort& port) {
    Dcb dcb;
    dcb.Flags = Dcb::fOutX | Dcb::fInX;
    ASSERT_TRUE(port.Open(pty.slave, dcb).ok());
    pty.Send("\x13");
    pty.Send("m"); // comes through only after the driver has seen the XOFF
    ASSERT_TRUE(rec.WaitForData(1));
}

TEST(SerialPort, WriteNoWaitNeverWaitsForAHeldLine) {
    Pty pty;
    Recorder rec;
    SerialPort port(&rec);
    HoldTheLine(pty, rec, port);
    // Keys typed meanwhile queue up; past the bound they are refused, and no
    // call waits. (Were the calls to wait, this test would hang, not fail.)
    std::string typed;
    SerialError e;
    for (size_t i = 0; i < SerialPort::kMaxQueued + 1 && e.ok(); ++i) {
        e = port.WriteNoWait("k", 1);
        if (e.ok()) typed += 'k';
    }
    EXPECT_EQ(e.kind, SerialErrorKind::Full);
    EXPECT_GE(typed.size(), SerialPort::kMaxQueued);
    pollfd p{pty.master, POLLIN, 0};
    EXPECT_EQ(poll(&p, 1, 0), 0);
    // XON: everything queued goes out, in order, and the queue takes more.
    pty.Send("\x11");
    EXPECT_EQ(pty.Receive(typed.size()), typed);
    // The far end may read the last byte before the writer thread has
    // counted its chunk as handed over; the room comes back right after.
    SerialError more = port.WriteNoWait("z", 1);
    for (auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kPatience);
         more.kind == SerialErrorKind::Full && std::chrono::steady_clock::now() < until;
         more = port.WriteNoWait("z", 1))
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_TRUE(more.ok());
    EXPECT_EQ(pty.Receive(1), "z");
    EXPECT_TRUE(port.Close().ok());
}

TEST(SerialPort, CancelOutputEndsAWriteHeldByFlowControl) {
    Pty pty;
    Recorder rec;
    SerialPort port(&rec);
    HoldTheLine(pty, rec, port);
    const std::string held = Pattern(50000);
    auto writing = std::async(std::launch::async, [&] { return port.Write(held.data(), held.size()); });
    auto draining = std::async(std::launch::async, [&] { return port.Drain(); });
    // Neither can finish while the line is held; CancelOutput ends both, and
    // returns without waiting itself.
    EXPECT_EQ(writing.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
    port.CancelOutput();
    EXPECT_EQ(writing.get().kind, SerialErrorKind::Aborted);
    SerialError drained = draining.get();
    EXPECT_TRUE(drained.ok() || drained.kind == SerialErrorKind::Aborted) << static_cast<int>(drained.kind);
    // The thrown-away bytes never go out; what is written next does.
    pty.Send("\x11");
    EXPECT_TRUE(port.Write("after", 5).ok());
    std::string got = pty.Receive(5);
    EXPECT_EQ(got, "after");
    EXPECT_TRUE(port.IsOpen());
    EXPECT_TRUE(port.Close().ok());
}

TEST(SerialPort, PostedTasksRunOnTheReaderThreadAndMayWrite) {
    Pty pty;
    Recorder rec;
    SerialPort port(&rec);
    ASSERT_TRUE(port.Open(pty.slave, Dcb{}).ok());
    pty.Send("r");
    ASSERT_TRUE(rec.WaitForData(1));
    const std::thread::id reader = rec.threads().front();
    std::promise<std::thread::id> ran;
    ASSERT_TRUE(port.Post([&] {
                        ran.set_value(std::this_thread::get_id());
                        port.Write("posted", 6);
                    })
                    .ok());
    EXPECT_EQ(ran.get_future().get(), reader);
    EXPECT_EQ(pty.Receive(6), "posted");
    EXPECT_TRUE(port.Close().ok());
    EXPECT_EQ(port.Post([] {}).kind, SerialErrorKind::NotOpen);
}

TEST(SerialPort, CloseGivesUpOnAListenerThatDoesNotReturn) {
    Pty pty;
    Recorder rec;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<bool> inside{false};
    rec.onReceive = [&](const uint8_t*, size_t) {
        inside = true;
        released.wait();
    };
    {
        SerialPort port(&rec);
        ASSERT_TRUE(port.Open(pty.slave, Dcb{}).ok());
        pty.Send("x");
        while (!inside) std::this_thread::yield();
        SerialError e = port.Close(50);
        EXPECT_EQ(e.kind, SerialErrorKind::Aborted);
        EXPECT_FALSE(port.IsOpen());
        release.set_value();
        // The destructor waits for the reader it left behind.
    }
    EXPECT_EQ(rec.data(), "x");
}

TEST(SerialPort, AListenerMayStopThePort) {
    Pty pty;
    Recorder rec;
    SerialPort port(&rec);
    std::atomic<int> closeKind{-1}, openKind{-1};
    rec.onReceive = [&](const uint8_t* b, size_t n) {
        if (n >= 1 && b[0] == 'q') {
            openKind = static_cast<int>(port.Open(pty.slave, Dcb{}).kind);
            closeKind = static_cast<int>(port.Close().kind);
        }
    };
    ASSERT_TRUE(port.Open(pty.slave, Dcb{}).ok());
    pty.Send("q");
    ASSERT_TRUE(rec.WaitForData(1));
    EXPECT_EQ(openKind, static_cast<int>(SerialErrorKind::AlreadyOpen));
    EXPECT_EQ(closeKind, static_cast<int>(SerialErrorKind::None));
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(port.Write("x", 1).kind, SerialErrorKind::NotOpen);
    // The owner releases the device; it can be opened again at once.
    EXPECT_TRUE(port.Close().ok());
    Recorder other;
    SerialPort second(&other);
    EXPECT_TRUE(second.Open(pty.slave, Dcb{}).ok());
}

// --- names, records, enumeration -------------------------------------------

TEST(SerialNames, PortNamesResolveToDevices) {
    EXPECT_EQ(ResolvePortName("COM1"), "/dev/ttyS0");
    EXPECT_EQ(ResolvePortName("COM2"), "/dev/ttyS1");
    EXPECT_EQ(ResolvePortName("com12"), "/dev/ttyS11");
    EXPECT_EQ(ResolvePortName("\\\\.\\COM10"), "/dev/ttyS9");
    EXPECT_EQ(ResolvePortName("ttyUSB0"), "/dev/ttyUSB0");
    EXPECT_EQ(ResolvePortName("COM0"), "/dev/COM0");
    EXPECT_EQ(ResolvePortName("COMX"), "/dev/COMX");
    EXPECT_EQ(ResolvePortName("/dev/serial/by-id/usb-FTDI-if00-port0"),
              "/dev/serial/by-id/usb-FTDI-if00-port0");
    EXPECT_EQ(ResolvePortName("./link"), "./link");
    EXPECT_EQ(ResolvePortName(""), "");
}

TEST(SerialNames, SettingsRecordKeepsItsWindowsLayout) {
    Dcb d;
    d.BaudRate = 115200;
    d.Flags = Dcb::fBinary | Dcb::fParity | Dcb::fOutX | Dcb::fInX | (1u << 4) | (1u << 12);
    d.ByteSize = 7;
    d.Parity = Dcb::kMarkParity;
    d.StopBits = Dcb::kOne5StopBits;
    d.XonChar = 0x11;
    auto b = d.ToBytes();
    const uint8_t expected[28] = {28, 0, 0, 0, 0x00, 0xC2, 0x01, 0,    0x13, 0x13, 0, 0, 0, 0,
                                  0,  0, 0, 0, 7,    3,    1,    0x11, 0,    0,    0, 0, 0, 0};
    EXPECT_EQ(0, std::memcmp(b.data(), expected, 28));
    Dcb back;
    ASSERT_TRUE(Dcb::FromBytes(b.data(), b.size(), &back));
    EXPECT_EQ(back.ToBytes(), b);
    EXPECT_FALSE(Dcb::FromBytes(b.data(), 27, &back));
    EXPECT_FALSE(Dcb::FromBytes(nullptr, 28, &back));
}

class FakeSystem : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() / ("serial-enum-" + std::to_string(getpid()));
        fs::remove_all(root_);
        sys_ = root_ / "sys";
        dev_ = root_ / "dev";
        fs::create_directories(dev_ / "serial" / "by-id");
    }
    void TearDown() override { fs::remove_all(root_); }

    void Write(const fs::path& p, const std::string& text) {
        fs::create_directories(p.parent_path());
        std::ofstream(p) << text << "\n";
    }
    // A tty class entry whose device link points into the devices tree.
    void Tty(const std::string& name, const std::string& devicePath, bool node = true) {
        fs::path cls = sys_ / "class" / "tty" / name;
        fs::create_directories(cls);
        if (!devicePath.empty()) {
            fs::create_directories(sys_ / devicePath);
            fs::create_directory_symlink(sys_ / devicePath, cls / "device");
        }
        if (node) Write(dev_ / name, "");
    }

    fs::path root_, sys_, dev_;
};

TEST_F(FakeSystem, ListsSerialDevicesWithTheirUsbDescription) {
    fs::path usb = "devices/pci0000:00/usb1/1-2";
    Write(sys_ / usb / "idVendor", "0403");
    Write(sys_ / usb / "idProduct", "6001");
    Write(sys_ / usb / "manufacturer", "FTDI");
    Write(sys_ / usb / "product", "FT232R USB UART");
    Tty("ttyUSB0", (usb / "1-2:1.0" / "ttyUSB0").string());
    fs::path acm = "devices/pci0000:00/usb1/1-3";
    Write(sys_ / acm / "idVendor", "1a86");
    Write(sys_ / acm / "idProduct", "7523");
    Tty("ttyACM0", (acm / "1-3:1.0").string());
    Tty("ttyS0", "devices/platform/serial8250/ttyS0");
    Write(sys_ / "class/tty/ttyS0/type", "4");
    Tty("ttyS1", "devices/platform/serial8250/ttyS1");
    Write(sys_ / "class/tty/ttyS1/type", "0");                     // no UART behind this slot
    Tty("tty1", "");                                               // a virtual console
    Tty("ttyUSB1", (usb / "1-2:1.1" / "ttyUSB1").string(), false); // no device node
    fs::create_symlink("../../ttyUSB0", dev_ / "serial/by-id/usb-FTDI_FT232R_USB_UART_A1-if00-port0");

    std::vector<SerialDeviceInfo> list = ListSerialDevices(sys_.string(), dev_.string());
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].path, (dev_ / "ttyACM0").string());
    EXPECT_EQ(list[0].description, "USB serial (1a86:7523)");
    EXPECT_EQ(list[1].path, (dev_ / "ttyS0").string());
    EXPECT_EQ(list[1].description, "COM1");
    EXPECT_EQ(list[2].path, (dev_ / "ttyUSB0").string());
    EXPECT_EQ(list[2].description, "FTDI FT232R USB UART (0403:6001)");
    EXPECT_EQ(list[2].byIdPath, (dev_ / "serial/by-id/usb-FTDI_FT232R_USB_UART_A1-if00-port0").string());
    EXPECT_EQ(list[0].byIdPath, "");
}

TEST_F(FakeSystem, NothingThereGivesAnEmptyList) {
    EXPECT_TRUE(ListSerialDevices(sys_.string(), dev_.string()).empty());
    EXPECT_TRUE(ListSerialDevices((root_ / "missing").string(), dev_.string()).empty());
}

} // namespace
