// The contents view over dumps the client's own writer made of a child that
// really crashed (as the crash tests do it: the child waits in its handler).

#include "crashed_child.h"
#include "minidump_view.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include <unistd.h>

using ulmarro::contents::SectionList;

namespace {

class RealDump : public crashtest::CrashedChild {
protected:
    void TearDown() override {
        crashtest::CrashedChild::TearDown();
        if (!path_.empty()) unlink(path_.c_str());
    }

    // Writes the dump and opens it in the view.
    void Dump(std::uint32_t type, SectionList* view) {
        ulmarro::CrashedProcess p;
        ASSERT_NO_FATAL_FAILURE(Read(&p));
        path_ = WriteDump(p, type);
        p.Detach();
        ASSERT_FALSE(path_.empty());
        ASSERT_TRUE(view->Open(path_));
    }

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
    for (std::uint64_t i = 0; i < s.LineCount(); i += 7) (void)s.LineText(i);
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
