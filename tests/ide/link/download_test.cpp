// The download engine and its line reader without the GUI: what goes out on
// the line for each kind of file and setting (through a link that records
// every call), and whole downloads over a pseudo-terminal into the
// simulated board monitor, checked against the board's memory image.

#include "link/download.h"
#include "link/linereader.h"
#include "serial.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using oxbrin::CDownload;
using oxbrin::CDownloadLink;
using oxbrin::CLineReader;

class TempDir {
public:
    TempDir() {
        char name[] = "/tmp/download-test-XXXXXX";
        path_ = mkdtemp(name);
    }
    ~TempDir() { fs::remove_all(path_); }
    std::string File(const std::string& name, const std::string& contents) const {
        std::string p = (path_ / name).string();
        std::ofstream(p, std::ios::binary) << contents;
        return p;
    }
    fs::path operator/(const std::string& name) const { return path_ / name; }

private:
    fs::path path_;
};

std::vector<std::string> ReadAllLines(const std::string& path, size_t max = 512) {
    CLineReader r;
    EXPECT_TRUE(r.Open(path)) << r.ErrorText();
    std::vector<std::string> lines;
    std::string line;
    while (r.ReadLine(line, max)) lines.push_back(line);
    EXPECT_EQ(r.Error(), 0);
    return lines;
}

TEST(LineReader, LineEndsCarriageReturnsAndLongLines) {
    TempDir dir;
    using V = std::vector<std::string>;
    // Windows and Unix line ends, and a last line without one, read alike.
    EXPECT_EQ(ReadAllLines(dir.File("crlf", "S1\r\nS2\r\n")), (V{"S1", "S2"}));
    EXPECT_EQ(ReadAllLines(dir.File("lf", "S1\nS2\n")), (V{"S1", "S2"}));
    EXPECT_EQ(ReadAllLines(dir.File("nolf", "S1\nS2")), (V{"S1", "S2"}));
    // CR and Ctrl-Z vanish wherever they stand; empty lines stay (the
    // download skips them).
    EXPECT_EQ(ReadAllLines(dir.File("mixed", "a\rb\x1A\n\n\r\n\x1A")), (V{"ab", "", ""}));
    EXPECT_TRUE(ReadAllLines(dir.File("empty", "")).empty());
    // The rest of an overlong line is dropped, not carried into the next.
    std::string longLine(600, 'x');
    longLine[511] = 'y';
    longLine[512] = 'z';
    V got = ReadAllLines(dir.File("long", longLine + "\nnext\n"));
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0], std::string(511, 'x') + "y");
    EXPECT_EQ(got[1], "next");
}

TEST(LineReader, LinesAcrossBufferRefills) {
    TempDir dir;
    std::string text;
    std::vector<std::string> expected;
    for (int i = 0; text.size() < 3 * CLineReader::kBufferSize; ++i) {
        expected.push_back("S1" + std::to_string(i) + std::string(static_cast<size_t>(i % 97), 'A'));
        text += expected.back() + (i % 2 ? "\r\n" : "\n");
    }
    EXPECT_EQ(ReadAllLines(dir.File("big", text)), expected);
}

TEST(LineReader, RefusesWhatIsNoFile) {
    TempDir dir;
    CLineReader r;
    EXPECT_FALSE(r.Open((dir / "missing").string()));
    EXPECT_EQ(r.ErrorText(), "No such file or directory");
    EXPECT_FALSE(r.Open((dir / "").string()));
    EXPECT_EQ(r.ErrorText(), "Is a directory");
    // Neither a FIFO without a writer nor an endless device may hang the
    // reading thread.
    std::string fifo = (dir / "fifo").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(r.Open(fifo));
    EXPECT_NE(r.ErrorText().find("no regular file"), std::string::npos) << r.ErrorText();
    EXPECT_FALSE(r.Open("/dev/zero"));
    EXPECT_FALSE(r.IsOpen());
    std::string line;
    EXPECT_FALSE(r.ReadLine(line, 512));
    // A later good open works as usual.
    EXPECT_TRUE(r.Open(dir.File("ok", "S9\n")));
    EXPECT_TRUE(r.ReadLine(line, 512));
    EXPECT_EQ(line, "S9");
}

TEST(LineReader, ReadErrorEndsTheFile) {
    // A regular file whose first read fails: the process's own memory at
    // address 0.
    CLineReader r;
    ASSERT_TRUE(r.Open("/proc/self/mem")) << r.ErrorText();
    std::string line;
    EXPECT_FALSE(r.ReadLine(line, 512));
    EXPECT_EQ(r.Error(), EIO);
}

// ---------------------------------------------------------------------------
// The engine against a link that records what it is asked to do.

class RecordingLink : public CDownloadLink {
public:
    bool Connect() override {
        ++connects;
        return connectResult;
    }
    bool Write(const void* bytes, size_t count) override {
        int inside = ++writing_;
        if (inside > 1) overlapped = true;
        {
            std::lock_guard lock(mutex);
            calls.push_back("W" + std::string(static_cast<const char*>(bytes), count));
            text.append(static_cast<const char*>(bytes), count);
        }
        if (onWrite) onWrite(std::string(static_cast<const char*>(bytes), count));
        --writing_;
        return writeResult;
    }
    void Flush() override {
        std::lock_guard lock(mutex);
        calls.push_back("F");
    }
    bool IsOpen() override { return open; }
    std::string Text() {
        std::lock_guard lock(mutex);
        return text;
    }

    std::mutex mutex;
    std::vector<std::string> calls;
    std::string text;
    int connects = 0;
    bool connectResult = true;
    bool writeResult = true;
    std::atomic<bool> open{true};
    bool overlapped = false;
    std::function<void(const std::string&)> onWrite;

private:
    std::atomic<int> writing_{0};
};

// Sends every line of `path` in plain mode, pacing by hand.
std::string SendAll(CDownload& dl, RecordingLink& link, const std::string& path) {
    EXPECT_EQ(dl.StartDownload(path, false), CDownload::Result::Started);
    for (int guard = 0; dl.IsActive() && guard < 10000; ++guard) dl.OnTransmitEmpty();
    EXPECT_FALSE(dl.IsActive());
    return link.Text();
}

TEST(Download, EmptyAndUnreadableFilesEndAtOnce) {
    TempDir dir;
    for (std::string path : {dir.File("a", ""), dir.File("b", "\n\n\r\n"), dir.File("c", "\x1A\r\n"),
                             std::string("/proc/self/mem")}) {
        RecordingLink link;
        CDownload dl(link);
        EXPECT_EQ(dl.StartDownload(path, false), CDownload::Result::Started);
        EXPECT_FALSE(dl.IsActive());
        dl.OnTransmitEmpty();
        EXPECT_TRUE(link.text.empty());
        EXPECT_EQ(dl.Progress().total, 0u);
    }
}

TEST(Download, LinesGoOutWithTheChosenLineEnd) {
    TempDir dir;
    const std::string crlf = dir.File("crlf", "S0030000FC\r\n\r\nS1040000AA51\r\nS9030000FC\r\n");
    const std::string lf = dir.File("lf", "S0030000FC\nS1040000AA51\n\nS9030000FC\n");
    const std::string open = dir.File("open", "S0030000FC\nS1040000AA51\nS9030000FC");
    for (bool sendCR : {false, true}) {
        const std::string end = sendCR ? "\r\n" : "\n";
        const std::string expected = "S0030000FC" + end + "S1040000AA51" + end + "S9030000FC" + end;
        for (const std::string& path : {crlf, lf, open}) {
            RecordingLink link;
            CDownload dl(link);
            dl.SetSendCR(sendCR);
            EXPECT_EQ(SendAll(dl, link, path), expected) << path;
            // One write per line, each followed by a flush.
            EXPECT_EQ(link.calls, (std::vector<std::string>{"WS0030000FC" + end, "F", "WS1040000AA51" + end,
                                                            "F", "WS9030000FC" + end, "F"}));
        }
    }
}

TEST(Download, LongLinesAreCut) {
    TempDir dir;
    RecordingLink link;
    CDownload dl(link);
    EXPECT_EQ(SendAll(dl, link, dir.File("long", std::string(600, '7') + "\r\nS9\r\n")),
              std::string(512, '7') + "\nS9\n");
}

TEST(Download, CharacterDelaySendsEachLineWholeAndStopEndsAtTheNextCharacter) {
    TempDir dir;
    const std::string path = dir.File("f", "AB\nCD\nEF\n");
    {
        RecordingLink link;
        CDownload dl(link);
        dl.SetCharDelay(1);
        dl.SetLineDelay(1);
        SendAll(dl, link, path);
        // Byte by byte, each flushed before its pause; the last line too.
        std::vector<std::string> expected;
        for (const char* line : {"AB\n", "CD\n", "EF\n"}) {
            for (const char* c = line; *c; ++c) expected.insert(expected.end(), {std::string("W") + *c, "F"});
            expected.push_back("F");
        }
        EXPECT_EQ(link.calls, expected);
    }
    {
        RecordingLink link;
        CDownload dl(link);
        dl.SetCharDelay(1);
        // The user stops while the second line is going out.
        link.onWrite = [&](const std::string& c) {
            if (c == "C") dl.StopDownload();
        };
        EXPECT_EQ(dl.StartDownload(path, false), CDownload::Result::Started);
        EXPECT_EQ(link.Text(), "AB\n");
        dl.OnTransmitEmpty();
        EXPECT_EQ(link.Text(), "AB\nC");
        EXPECT_FALSE(dl.IsActive());
        dl.OnTransmitEmpty();
        EXPECT_EQ(link.Text(), "AB\nC");
        EXPECT_EQ(dl.Progress().sent, 1u);
    }
}

TEST(Download, StarHandshakeSendsOneLinePerChunkWithAStar) {
    TempDir dir;
    RecordingLink link;
    CDownload dl(link);
    const std::string path = dir.File("f", "L1\nL2\nL3\nL4\n");
    ASSERT_EQ(dl.StartDownload(path, true), CDownload::Result::Started);
    EXPECT_TRUE(dl.IsStarHandshake());
    EXPECT_EQ(link.Text(), "L1\n");
    // An empty transmit queue and text without a star send nothing.
    dl.OnTransmitEmpty();
    const uint8_t noStar[] = {'o', 'k', '\r', '\n'};
    dl.OnReceive(noStar, sizeof noStar);
    EXPECT_EQ(link.Text(), "L1\n");
    const uint8_t twoStars[] = {'*', '*'};
    dl.OnReceive(twoStars, sizeof twoStars);
    EXPECT_EQ(link.Text(), "L1\nL2\n");
    const uint8_t starInText[] = {'\r', '\n', '*', '>'};
    dl.OnReceive(starInText, sizeof starInText);
    EXPECT_EQ(link.Text(), "L1\nL2\nL3\n");
    EXPECT_EQ(dl.Progress().sent, 3u);
    EXPECT_EQ(dl.Progress().total, 4u);
    dl.OnReceive(twoStars, 1);
    EXPECT_EQ(link.Text(), "L1\nL2\nL3\nL4\n");
    EXPECT_FALSE(dl.IsActive());
    dl.OnReceive(twoStars, 1);
    EXPECT_EQ(link.Text(), "L1\nL2\nL3\nL4\n");

    // In plain mode a star is only text.
    RecordingLink plain;
    CDownload dl2(plain);
    ASSERT_EQ(dl2.StartDownload(path, false), CDownload::Result::Started);
    dl2.OnReceive(twoStars, 2);
    EXPECT_EQ(plain.Text(), "L1\n");
    dl2.OnTransmitEmpty();
    EXPECT_EQ(plain.Text(), "L1\nL2\n");
}

TEST(Download, StartRefusals) {
    TempDir dir;
    RecordingLink link;
    CDownload dl(link);
    const std::string path = dir.File("f", "L1\nL2\n");
    link.connectResult = false;
    EXPECT_EQ(dl.StartDownload(path, false), CDownload::Result::NotConnected);
    EXPECT_TRUE(link.text.empty());
    link.connectResult = true;
    EXPECT_EQ(dl.StartDownload((dir / "nothing.s19").string(), false), CDownload::Result::FileError);
    EXPECT_EQ(dl.FileErrorText(), "No such file or directory");
    EXPECT_FALSE(dl.IsActive());
    EXPECT_EQ(dl.StartDownload(path, false), CDownload::Result::Started);
    EXPECT_EQ(dl.StartDownload(path, true), CDownload::Result::Busy);
    EXPECT_FALSE(dl.IsStarHandshake());
    dl.StopDownload();
    EXPECT_FALSE(dl.IsActive());
    EXPECT_EQ(link.Text(), "L1\n");
    // A failed write is not the end of the transfer.
    link.writeResult = false;
    EXPECT_EQ(dl.StartDownload(path, false), CDownload::Result::Started);
    EXPECT_TRUE(dl.IsActive());
    dl.OnTransmitEmpty();
    EXPECT_FALSE(dl.IsActive());
    EXPECT_EQ(link.Text(), "L1\nL1\nL2\n");
}

TEST(Download, LinesNeverOverlapAndStoppedEventsSendNothing) {
    TempDir dir;
    RecordingLink link;
    CDownload dl(link);
    const std::string path = dir.File("f", "L1\nL2\nL3\n");
    // The first line hangs in its write (flow control, say) while the
    // transmit-empty event arrives on the reader thread.
    std::mutex gate;
    std::unique_lock hold(gate);
    std::atomic<bool> firstInWrite{false};
    link.onWrite = [&](const std::string& s) {
        if (s == "L1\n") {
            firstInWrite = true;
            std::lock_guard wait(gate);
        }
    };
    std::thread ui([&] { EXPECT_EQ(dl.StartDownload(path, false), CDownload::Result::Started); });
    while (!firstInWrite) std::this_thread::yield();
    std::thread reader([&] { dl.OnTransmitEmpty(); });
    // Give the event every chance to overtake (it must not).
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(link.Text(), "L1\n");
    hold.unlock();
    ui.join();
    reader.join();
    EXPECT_FALSE(link.overlapped);
    EXPECT_EQ(link.Text(), "L1\nL2\n");

    // Stop while an event waits for the line before it: the waiting event
    // sends nothing.
    CDownload dl2(link);
    link.text.clear();
    std::unique_lock hold2(gate);
    firstInWrite = false;
    std::thread ui2([&] { dl2.StartDownload(path, false); });
    while (!firstInWrite) std::this_thread::yield();
    std::thread reader2([&] { dl2.OnTransmitEmpty(); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    dl2.StopDownload();
    hold2.unlock();
    ui2.join();
    reader2.join();
    EXPECT_EQ(link.Text(), "L1\n");
}

TEST(Download, StopOrAClosingPortCutsALongPauseShort) {
    TempDir dir;
    const std::string path = dir.File("f", "L1\nL2\n");
    for (bool stop : {true, false}) {
        RecordingLink link;
        CDownload dl(link);
        dl.SetLineDelay(600000); // ten minutes: the test would time out
        std::thread ui([&] { dl.StartDownload(path, false); });
        while (link.Text().empty()) std::this_thread::yield();
        if (stop)
            dl.StopDownload();
        else
            link.open = false;
        ui.join();
        EXPECT_EQ(link.Text(), "L1\n");
        // Closing the port does not end the transfer.
        EXPECT_EQ(dl.IsActive(), !stop);
    }
}

} // namespace
