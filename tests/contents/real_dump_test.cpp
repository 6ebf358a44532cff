// The contents view over dumps the client's own writer made of a child that
// really crashed (as the crash tests do it: the child waits in its handler).

#include "core/minidump_writer.h"
#include "core/process.h"
#include "minidump_view.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <sys/ptrace.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

using ulmarro::contents::SectionList;

namespace {

struct Record {
    std::uint64_t siginfo, ucontext;
    std::int32_t tid;
} __attribute__((packed));

Record g_record;
int g_pipe = -1;

void ChildHandler(int, siginfo_t* info, void* uc) {
    g_record = {reinterpret_cast<std::uintptr_t>(info), reinterpret_cast<std::uintptr_t>(uc),
                static_cast<std::int32_t>(syscall(SYS_gettid))};
    std::uint64_t address = reinterpret_cast<std::uintptr_t>(&g_record);
    ssize_t ignored = write(g_pipe, &address, sizeof address);
    (void)ignored;
    for (;;)
        pause();
}

class RealDump : public ::testing::Test {
  protected:
    void SetUp() override {
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        child_ = fork();
        if (child_ == 0) {
            close(fds[0]);
            g_pipe = fds[1];
            struct sigaction sa {};
            sa.sa_sigaction = ChildHandler;
            sa.sa_flags = SA_SIGINFO;
            sigaction(SIGSEGV, &sa, nullptr);
            volatile std::uintptr_t bad = 0x10;
            *reinterpret_cast<volatile int*>(bad) = 1;
            _exit(1);
        }
        close(fds[1]);
        ASSERT_EQ(read(fds[0], &record_, sizeof record_), static_cast<ssize_t>(sizeof record_));
        close(fds[0]);
        if (ptrace(PTRACE_SEIZE, child_, nullptr, nullptr) != 0) {
            skip_ = true;
        } else {
            ptrace(PTRACE_INTERRUPT, child_, nullptr, nullptr);
            waitpid(child_, nullptr, __WALL);
            ptrace(PTRACE_DETACH, child_, nullptr, nullptr);
        }
    }
    void TearDown() override {
        if (child_ > 0) {
            kill(child_, SIGKILL);
            waitpid(child_, nullptr, 0);
        }
        if (!path_.empty()) unlink(path_.c_str());
    }

    // Writes the dump and opens it in the view.
    void Dump(std::uint32_t type, SectionList* view) {
        ulmarro::CrashedProcess p;
        ASSERT_FALSE(p.Find(static_cast<std::uint64_t>(child_)).failed());
        ASSERT_FALSE(p.Suspend().failed());
        ASSERT_FALSE(p.ReadException(record_).failed());
        ASSERT_FALSE(p.ReadModules().failed());
        char path[] = "/tmp/contents-real-XXXXXX";
        int fd = mkstemp(path);
        ASSERT_GE(fd, 0);
        path_ = path;
        ulmarro::Failure f = ulmarro::WriteMinidump(p, type, fd);
        close(fd);
        p.Detach();
        ASSERT_FALSE(f.failed()) << f.Describe();
        ASSERT_TRUE(view->Open(path_));
    }

    pid_t child_ = -1;
    std::uint64_t record_ = 0;
    bool skip_ = false;
    std::string path_;
};

std::size_t Find(const SectionList& s, const std::string& title) {
    for (std::size_t i = 0; i < s.SectionCount(); ++i)
        if (s.Section(i).LineText(0) == title) return i;
    return s.SectionCount();
}

} // namespace

TEST_F(RealDump, CrashReadsAsExceptionSystemModulesThreadsAndMemory) {
    if (skip_) GTEST_SKIP() << "ptrace is refused here";
    SectionList s;
    Dump(0, &s);
    ASSERT_GT(s.SectionCount(), 4u);
    const auto& e = s.Section(0);
    EXPECT_EQ(e.LineText(0), "Exception Information");
    EXPECT_EQ(e.LineText(1), "Code: ACCESS_VIOLATION");
    EXPECT_EQ(e.LineText(2), "Flags: 0x00000001"); // SEGV_MAPERR
    EXPECT_EQ(e.LineText(4), "Address: 0x0000000000000010");
    EXPECT_EQ(s.Section(1).LineText(0), "System Information");
    EXPECT_EQ(s.Section(1).LineText(1).rfind("Linux ", 0), 0u) << s.Section(1).LineText(1);

    // This test program is among the modules, by its file name.
    char self[4096] = {};
    ASSERT_GT(readlink("/proc/self/exe", self, sizeof self - 1), 0);
    const std::string name = std::strrchr(self, '/') + 1;
    bool found = false;
    for (std::size_t i = 0; i < s.SectionCount(); ++i)
        if (s.Section(i).LineText(0).rfind("Module ", 0) == 0 && s.Section(i).LineText(1) == name)
            found = true;
    EXPECT_TRUE(found) << name;

    // The crashed thread with its registers and stack rows.
    std::size_t t = Find(s, "Thread 1");
    ASSERT_LT(t, s.SectionCount());
    const auto& thread = s.Section(t);
    EXPECT_EQ(thread.LineText(1), "Thread ID: " + std::to_string(child_));
    EXPECT_EQ(thread.LineText(2), "Context:");
#if defined(__x86_64__)
    EXPECT_EQ(thread.LineText(3).rfind("RAX: ", 0), 0u) << thread.LineText(3);
    EXPECT_EQ(thread.LineText(7).rfind("CS:RIP: 0033:", 0), 0u) << thread.LineText(7);
    EXPECT_EQ(thread.LineText(9), "Stack:");
    EXPECT_GT(thread.LineCount(), 11u);
    EXPECT_EQ(thread.LineText(10).size(), 16u + 2 + 36 + 16) << thread.LineText(10); // a whole 16-byte row
#elif defined(__aarch64__)
    EXPECT_EQ(thread.LineText(3).rfind("X0: ", 0), 0u) << thread.LineText(3);
#endif
    EXPECT_LT(Find(s, "Memory Range 1"), s.SectionCount());
    for (std::uint64_t i = 0; i < s.LineCount(); i += 7)
        (void)s.LineText(i);
}

TEST_F(RealDump, FullMemoryDumpListsEveryRange) {
    if (skip_) GTEST_SKIP() << "ptrace is refused here";
    SectionList small, full;
    Dump(0, &small);
    unlink(path_.c_str());
    // The same crash again, with every readable range.
    Dump(0x2, &full);
    std::size_t smallRanges = 0, fullRanges = 0;
    for (std::size_t i = 0; i < small.SectionCount(); ++i)
        smallRanges += small.Section(i).LineText(0).rfind("Memory Range", 0) == 0;
    for (std::size_t i = 0; i < full.SectionCount(); ++i)
        fullRanges += full.Section(i).LineText(0).rfind("Memory Range", 0) == 0;
    EXPECT_GT(fullRanges, smallRanges);
    EXPECT_GT(full.LineCount(), 10000u);
    // Numbering runs on without a gap up to the last range.
    EXPECT_LT(Find(full, "Memory Range " + std::to_string(fullRanges)), full.SectionCount());
    EXPECT_EQ(full.LineText(full.LineCount() - 1), "");
}
