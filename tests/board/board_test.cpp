// The simulated board monitor, driven the way the IDE drives a board: the
// real board_monitor program on a pseudo-terminal, reached through the
// serial layer.

#include "serial.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using platform::Dcb;
using platform::SerialPort;

constexpr auto kPatience = std::chrono::seconds(20);

// An S-record with its count and checksum.
std::string SRec(char type, uint32_t addr, const std::vector<uint8_t>& data, int checksumError = 0) {
    size_t addrLen = (type == '2' || type == '8') ? 3 : (type == '3' || type == '7') ? 4 : 2;
    std::vector<uint8_t> bytes;
    bytes.push_back(static_cast<uint8_t>(addrLen + data.size() + 1));
    for (size_t i = addrLen; i-- > 0;) bytes.push_back(static_cast<uint8_t>(addr >> (8 * i)));
    bytes.insert(bytes.end(), data.begin(), data.end());
    unsigned sum = 0;
    for (uint8_t b : bytes) sum += b;
    bytes.push_back(static_cast<uint8_t>(~sum + checksumError));
    std::string s = std::string("S") + type;
    char hex[3];
    for (uint8_t b : bytes) {
        std::snprintf(hex, sizeof hex, "%02X", b);
        s += hex;
    }
    return s;
}

std::vector<uint8_t> Bytes(size_t n, uint8_t first) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(first + i * 3);
    return v;
}

class Terminal : public platform::SerialListener {
public:
    void OnReceive(const uint8_t* bytes, size_t count) override {
        std::lock_guard lock(mutex_);
        text_.append(reinterpret_cast<const char*>(bytes), count);
        changed_.notify_all();
    }
    // Waits until the unread text holds `what` (`times` copies of it), and
    // returns the text up to the end of the last copy; the rest stays unread.
    std::string Expect(const std::string& what, int times = 1) {
        std::unique_lock lock(mutex_);
        size_t end = std::string::npos;
        auto found = [&] {
            int n = 0;
            for (size_t at = text_.find(what); at != std::string::npos;
                 at = text_.find(what, at + what.size()))
                if (++n == times) {
                    end = at + what.size();
                    return true;
                }
            return false;
        };
        if (!changed_.wait_for(lock, kPatience, found)) {
            ADD_FAILURE() << "waited for " << times << " x \"" << what << "\"; got \"" << text_ << "\"";
            end = text_.size();
        }
        std::string got = text_.substr(0, end);
        text_.erase(0, end);
        return got;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::string text_;
};

class Board : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("board-test-" + std::to_string(getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir_);
        image_ = dir_ / "image.bin";
    }
    void TearDown() override {
        port_.Close();
        Stop();
        fs::remove_all(dir_);
    }

    // Starts the monitor; returns what it printed on its first line.
    std::string Start(std::vector<std::string> extra) {
        int out[2];
        EXPECT_EQ(pipe2(out, O_CLOEXEC), 0);
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_adddup2(&fa, out[1], 1);
        std::vector<std::string> args = {BOARD_MONITOR, "--image", image_.string()};
        args.insert(args.end(), extra.begin(), extra.end());
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        EXPECT_EQ(posix_spawn(&pid_, BOARD_MONITOR, &fa, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&fa);
        close(out[1]);
        std::string first;
        char c;
        pollfd p{out[0], POLLIN, 0};
        while (poll(&p, 1, 20000) > 0 && read(out[0], &c, 1) == 1 && c != '\n') first += c;
        close(out[0]);
        return first;
    }

    // Starts the monitor on a pseudo-terminal of its own and connects.
    void Connect(std::vector<std::string> extra = {}) {
        std::string first = Start(extra);
        ASSERT_EQ(first.rfind("pty /dev/", 0), 0u) << first;
        ASSERT_TRUE(port_.Open(first.substr(4), Dcb{}).ok());
        // The banner may come before or after the port opened; an unknown
        // command's answer marks where the test's own exchange begins.
        Send("sync\r");
        term_.Expect("What?\r\n> ");
    }

    int Stop() {
        if (pid_ <= 0) return -1;
        kill(pid_, SIGTERM);
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return status;
    }

    void Send(const std::string& s) { ASSERT_TRUE(port_.Write(s.data(), s.size()).ok()); }

    std::vector<uint8_t> Image() {
        std::ifstream in(image_, std::ios::binary);
        return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
    }

    fs::path dir_, image_;
    pid_t pid_ = -1;
    Terminal term_;
    SerialPort port_{&term_};
};

TEST_F(Board, PromptAndCommands) {
    Connect();
    Send("help\r");
    std::string got = term_.Expect("> ");
    EXPECT_NE(got.find("help\r\n"), std::string::npos) << got; // typed text is echoed
    EXPECT_NE(got.find("LOAD [T]"), std::string::npos) << got;
    Send("JUMP 1000\r");
    EXPECT_NE(term_.Expect("> ").find("What?"), std::string::npos);
    Send("MD 0 4\r");
    EXPECT_NE(term_.Expect("> ").find("0000  FF FF FF FF\r\n"), std::string::npos);
    Send("MD xyz\r");
    EXPECT_NE(term_.Expect("> ").find("Bad Argument"), std::string::npos);
    Send("MDX\b 10 2\r"); // backspace edits the line
    EXPECT_NE(term_.Expect("> ").find("0010  FF FF"), std::string::npos);
    Send(std::string(700, 'A') + "\r");
    EXPECT_NE(term_.Expect("> ").find("Too Long"), std::string::npos);
}

TEST_F(Board, LoadStoresRecordsAndWritesTheImage) {
    Connect();
    Send("LOAD\r");
    // Any of the three line ends the download can send.
    Send(SRec('0', 0, {'h', 'i'}) + "\r\n");
    Send(SRec('1', 0x1000, Bytes(16, 1)) + "\r");
    Send(SRec('1', 0x1010, Bytes(4, 0x80)) + "\n");
    Send(SRec('2', 0x00FFFE, {0xC0, 0x00}) + "\r\n");
    Send(SRec('9', 0x1000, {}) + "\r\n");
    EXPECT_NE(term_.Expect("> ").find("done"), std::string::npos);

    std::vector<uint8_t> image = Image();
    ASSERT_EQ(image.size(), 0x10000u);
    std::vector<uint8_t> expected(0x10000, 0xFF);
    std::vector<uint8_t> a = Bytes(16, 1), b = Bytes(4, 0x80);
    std::copy(a.begin(), a.end(), expected.begin() + 0x1000);
    std::copy(b.begin(), b.end(), expected.begin() + 0x1010);
    expected[0xFFFE] = 0xC0;
    expected[0xFFFF] = 0x00;
    EXPECT_EQ(image, expected);

    // A second load adds to the same memory.
    Send("load t\r" + SRec('1', 0x2000, {0x55}) + "\r" + SRec('9', 0, {}) + "\r");
    term_.Expect("done\r\n> ");
    Send("MD 1000 2\r");
    EXPECT_NE(term_.Expect("> ").find("1000  01 04"), std::string::npos);
    EXPECT_EQ(Image()[0x2000], 0x55);
}

TEST_F(Board, BadRecordsAreReportedAndEndTheLoad) {
    Connect();
    Send("LOAD\r" + SRec('1', 0x0400, {1, 2}) + "\r");
    Send(SRec('1', 0x0402, {3, 4}, 1) + "\r");
    std::string got = term_.Expect("> ");
    EXPECT_NE(got.find("checksum error\r\n"), std::string::npos) << got;
    // The load is over: the next record is taken as a command.
    Send(SRec('9', 0, {}) + "\r");
    EXPECT_NE(term_.Expect("> ").find("What?"), std::string::npos);
    Send("MD 400 4\r");
    EXPECT_NE(term_.Expect("> ").find("0400  01 02 FF FF"), std::string::npos);

    Send("LOAD\r" + SRec('2', 0xFFFFF, {1, 2}) + "\r");
    EXPECT_NE(term_.Expect("> ").find("error addr"), std::string::npos);
    for (const std::string& bad : {std::string("S1ZZ00"), std::string("X1030000FC"), std::string("S10300"),
                                   std::string("S105000000FA"), std::string("S4030000FC")}) {
        Send("LOAD\r" + bad + "\r");
        EXPECT_NE(term_.Expect("> ").find("What?"), std::string::npos) << bad;
    }
}

TEST_F(Board, EepromModeAnswersAStarPerRecord) {
    Connect({"--eeprom"});
    Send("LOAD\r");
    term_.Expect("LOAD\r\n");
    std::vector<std::string> records = {SRec('0', 0, {'x'}), SRec('1', 0x0800, Bytes(32, 7)),
                                        SRec('1', 0x0820, Bytes(32, 9)), SRec('9', 0x0800, {})};
    // The star handshake: each line only after the star for the one before.
    for (size_t i = 0; i + 1 < records.size(); ++i) {
        Send(records[i] + "\r\n");
        EXPECT_EQ(term_.Expect("*"), "*");
    }
    Send(records.back() + "\r\n");
    EXPECT_EQ(term_.Expect("> "), "*\r\ndone\r\n> ");
    std::vector<uint8_t> image = Image();
    ASSERT_EQ(image.size(), 0x10000u);
    EXPECT_EQ(std::vector<uint8_t>(image.begin() + 0x800, image.begin() + 0x820), Bytes(32, 7));
    EXPECT_EQ(std::vector<uint8_t>(image.begin() + 0x820, image.begin() + 0x840), Bytes(32, 9));
}

TEST_F(Board, SlowBoardStillTakesEveryRecord) {
    Connect({"--eeprom", "--record-delay", "2", "--transcript", (dir_ / "transcript").string()});
    std::string all = "LOAD\r";
    const int count = 40;
    for (int i = 0; i < count; ++i)
        all += SRec('1', static_cast<uint32_t>(0x4000 + 32 * i), Bytes(32, static_cast<uint8_t>(i))) + "\r\n";
    all += SRec('9', 0, {}) + "\r\n";
    // Sent without waiting: the line buffers what the board has not taken.
    Send(all);
    std::string got = term_.Expect("done");
    EXPECT_EQ(std::count(got.begin(), got.end(), '*'), count + 1);
    std::vector<uint8_t> image = Image();
    ASSERT_EQ(image.size(), 0x10000u);
    for (int i = 0; i < count; ++i)
        EXPECT_EQ(
            std::vector<uint8_t>(image.begin() + 0x4000 + 32 * i, image.begin() + 0x4000 + 32 * (i + 1)),
            Bytes(32, static_cast<uint8_t>(i)))
            << i;
    term_.Expect("> ");
    std::ifstream in(dir_ / "transcript", std::ios::binary);
    std::string transcript(std::istreambuf_iterator<char>(in), {});
    EXPECT_NE(transcript.find(all), std::string::npos);
}

TEST_F(Board, WritesThePtyPathAndTheImageAtExit) {
    std::string first =
        Start({"--pty-file", (dir_ / "pty").string(), "--fill", "00", "--no-echo", "--eeprom"});
    std::ifstream in(dir_ / "pty");
    std::string path;
    std::getline(in, path);
    EXPECT_EQ("pty " + path, first);
    ASSERT_TRUE(port_.Open(path, Dcb{}).ok());
    Send("LOAD\r" + SRec('1', 0x10, {0xAA}) + "\r");
    Send("\r"); // still loading: empty lines are skipped
    Send(SRec('1', 0x11, {0xBB}) + "\r");
    term_.Expect("*", 2);
    // No terminator: the image is written when the monitor ends.
    port_.Close();
    int status = Stop();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    std::vector<uint8_t> image = Image();
    ASSERT_EQ(image.size(), 0x10000u);
    EXPECT_EQ(image[0x0F], 0x00);
    EXPECT_EQ(image[0x10], 0xAA);
    EXPECT_EQ(image[0x11], 0xBB);
}

TEST_F(Board, AttachesToAGivenDevice) {
    int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    std::string slave = ptsname(master);
    std::string first = Start({"--attach", slave, "--baud", "115200", "--no-echo"});
    EXPECT_EQ(first, "attached " + slave);
    // The monitor greets on its line; here the test holds the other end.
    std::string got;
    char buf[256];
    pollfd p{master, POLLIN, 0};
    while (got.find("> ") == std::string::npos && poll(&p, 1, 20000) > 0) {
        ssize_t n = read(master, buf, sizeof buf);
        if (n <= 0) break;
        got.append(buf, static_cast<size_t>(n));
    }
    EXPECT_NE(got.find("board monitor"), std::string::npos) << got;
    ASSERT_EQ(write(master, "bogus\r", 6), 6);
    got.clear();
    while (got.find("> ") == std::string::npos && poll(&p, 1, 20000) > 0) {
        ssize_t n = read(master, buf, sizeof buf);
        if (n <= 0) break;
        got.append(buf, static_cast<size_t>(n));
    }
    EXPECT_EQ(got, "What?\r\n> ");
    // The far end going away ends the monitor.
    close(master);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST_F(Board, BadOptionsAreRefused) {
    for (std::vector<std::string> args : {std::vector<std::string>{"--bogus"},
                                          {"--record-delay", "x"},
                                          {"--fill", "100"},
                                          {"--attach", "/dev/no-such-line"},
                                          {"--baud"}}) {
        Start(args);
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) != 0) << args[0];
    }
}

} // namespace
