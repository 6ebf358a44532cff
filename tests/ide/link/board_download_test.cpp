// Whole downloads over a pseudo-terminal into the simulated board monitor:
// the bundled example assembled by qorb12 and a larger file made by
// srec_cat, in plain and star-handshake mode, compared with the board's
// memory image, which srec_cat also makes from the same file.

#include "link/download.h"
#include "serial.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
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
using oxbrin::CDownload;

constexpr auto kPatience = std::chrono::seconds(30);

// Runs a program to its end; returns its exit status (-1 when it did not run).
int RunProgram(std::vector<std::string> args, const fs::path& dir, pid_t* keep = nullptr,
               int* out = nullptr) {
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    int pipeFds[2] = {-1, -1};
    if (out) {
        if (pipe2(pipeFds, O_CLOEXEC) != 0) return -1;
        posix_spawn_file_actions_adddup2(&fa, pipeFds[1], 1);
    }
    posix_spawn_file_actions_addchdir_np(&fa, dir.c_str());
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    int rc = posix_spawn(&pid, args[0].c_str(), &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    if (out) {
        close(pipeFds[1]);
        *out = pipeFds[0];
    }
    if (rc != 0) return -1;
    if (keep) {
        *keep = pid;
        return 0;
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string ReadFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The port as the IDE's terminal port uses it: received bytes are "shown"
// (kept here) and then given to the download for pacing.
class BoardLink : public oxbrin::CDownloadLink, public platform::SerialListener {
public:
    bool Connect() override { return port.IsOpen() || port.Open(path, platform::Dcb{}).ok(); }
    bool Write(const void* bytes, size_t count) override { return port.Write(bytes, count).ok(); }
    void Flush() override { port.Drain(); }
    bool IsOpen() override { return port.IsOpen(); }

    void OnReceive(const uint8_t* bytes, size_t count) override {
        {
            std::lock_guard lock(mutex_);
            text_.append(reinterpret_cast<const char*>(bytes), count);
        }
        changed_.notify_all();
        if (download) download->OnReceive(bytes, count);
    }
    void OnTransmitEmpty() override {
        if (download) download->OnTransmitEmpty();
    }

    // Waits for `what` in the unread text; returns the text up to its end.
    std::string Expect(const std::string& what) {
        std::unique_lock lock(mutex_);
        size_t at = std::string::npos;
        if (!changed_.wait_for(lock, kPatience,
                               [&] { return (at = text_.find(what)) != std::string::npos; })) {
            ADD_FAILURE() << "waited for \"" << what << "\"; got \"" << text_ << "\"";
            return std::exchange(text_, std::string());
        }
        std::string got = text_.substr(0, at + what.size());
        text_.erase(0, at + what.size());
        return got;
    }

    std::string path;
    CDownload* download = nullptr;
    platform::SerialPort port{this};

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::string text_;
};

class BoardDownload : public ::testing::Test {
protected:
    void SetUp() override {
        char name[] = "/tmp/board-download-XXXXXX";
        dir_ = mkdtemp(name);
        for (const char* f : {"blink.asm", "regs.inc"}) fs::copy_file(fs::path(EXAMPLES_DIR) / f, dir_ / f);
    }
    void TearDown() override {
        link_.port.Close();
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
        fs::remove_all(dir_);
    }

    void StartBoard(std::vector<std::string> options) {
        std::vector<std::string> args = {BOARD_MONITOR, "--image", (dir_ / "image.bin").string()};
        args.insert(args.end(), options.begin(), options.end());
        int out = -1;
        ASSERT_EQ(RunProgram(args, dir_, &pid_, &out), 0);
        std::string first;
        char c;
        pollfd p{out, POLLIN, 0};
        while (poll(&p, 1, 20000) > 0 && read(out, &c, 1) == 1 && c != '\n') first += c;
        close(out);
        ASSERT_EQ(first.rfind("pty ", 0), 0u) << first;
        link_.path = first.substr(4);
        link_.download = &download_;
        ASSERT_TRUE(link_.Connect());
        // Past the greeting, then into the loader.
        ASSERT_TRUE(link_.port.Write("sync\r", 5).ok());
        link_.Expect("What?\r\n> ");
        ASSERT_TRUE(link_.port.Write("LOAD\r", 5).ok());
        link_.Expect("LOAD\r\n");
    }

    // Downloads `file` and waits for the board to finish; returns what the
    // board said meanwhile.
    std::string Download(const fs::path& file, bool star) {
        EXPECT_EQ(download_.StartDownload(file.string(), star), CDownload::Result::Started);
        std::string said = link_.Expect("done\r\n> ");
        EXPECT_FALSE(download_.IsActive());
        auto progress = download_.Progress();
        EXPECT_EQ(progress.sent, progress.total);
        return said;
    }

    // The board's memory must hold exactly the file's data on 0xFF.
    void ExpectImageOf(const fs::path& file) {
        ASSERT_EQ(RunProgram({SREC_CAT, file.string(), "-fill", "0xFF", "0x0000", "0x10000", "-o",
                              (dir_ / "expected.bin").string(), "-binary"},
                             dir_),
                  0)
            << "srec_cat (package srecord) is needed to read " << file;
        std::string expected = ReadFile(dir_ / "expected.bin");
        std::string image = ReadFile(dir_ / "image.bin");
        ASSERT_EQ(image.size(), 0x10000u);
        ASSERT_EQ(expected.size(), 0x10000u);
        EXPECT_TRUE(image == expected) << "the board's memory differs from " << file;
    }

    fs::path Assemble() {
        EXPECT_EQ(RunProgram({QORB12, "blink.asm"}, dir_), 0);
        return dir_ / "blink.s19";
    }

    // A larger file: 8 KB of data in 32-byte records, with Windows line ends.
    fs::path Generate() {
        fs::path file = dir_ / "big.s19";
        EXPECT_EQ(
            RunProgram({SREC_CAT, "-generate", "0x2000", "0x4000", "-repeat-string", "Download by line. ",
                        "-o", (dir_ / "big.lf").string(), "-motorola", "-line-length=74"},
                       dir_),
            0)
            << "srec_cat (package srecord) is needed";
        // srec_cat ends it without a start address; the loader needs one.
        std::string text = ReadFile(dir_ / "big.lf") + "S9032000DC\n", crlf;
        for (char c : text) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
        std::ofstream(file, std::ios::binary) << crlf;
        return file;
    }

    static size_t Records(const fs::path& file) {
        std::string text = ReadFile(file);
        return static_cast<size_t>(std::count(text.begin(), text.end(), 'S'));
    }

    fs::path dir_;
    pid_t pid_ = -1;
    BoardLink link_;
    CDownload download_{link_};
};

TEST_F(BoardDownload, ExampleInPlainMode) {
    StartBoard({});
    fs::path file = Assemble();
    Download(file, false);
    ExpectImageOf(file);
}

TEST_F(BoardDownload, ExampleWithStarHandshakeAndDelays) {
    StartBoard({"--eeprom", "--record-delay", "5"});
    fs::path file = Assemble();
    download_.SetCharDelay(1);
    download_.SetLineDelay(1);
    download_.SetSendCR(true);
    std::string said = Download(file, true);
    EXPECT_EQ(static_cast<size_t>(std::count(said.begin(), said.end(), '*')), Records(file));
    ExpectImageOf(file);
}

TEST_F(BoardDownload, LargeFileWithStarHandshake) {
    StartBoard({"--eeprom"});
    fs::path file = Generate();
    std::string said = Download(file, true);
    EXPECT_EQ(static_cast<size_t>(std::count(said.begin(), said.end(), '*')), Records(file));
    ExpectImageOf(file);
}

TEST_F(BoardDownload, LargeFilePlainToASlowBoardThatKeepsTalking) {
    // The board answers every record, slowly; a plain download does not wait
    // for the answers, and every one of them still reaches the terminal.
    StartBoard({"--eeprom", "--record-delay", "1"});
    fs::path file = Generate();
    std::string said = Download(file, false);
    EXPECT_EQ(static_cast<size_t>(std::count(said.begin(), said.end(), '*')), Records(file));
    ExpectImageOf(file);
}

} // namespace
