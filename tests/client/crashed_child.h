#pragma once

// A child that crashes for real and waits in its signal handler, as a
// program with the crash hook does while the client reads it. The tests of
// the client's core, of its dump writer and of the contents view dump it.

#include "core/minidump_writer.h"
#include "core/process.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include <sys/prctl.h>
#include <sys/ptrace.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace crashtest {

// The hook's crash record: where the siginfo and the ucontext lie, and the thread.
struct Record {
    std::uint64_t siginfo, ucontext;
    std::int32_t tid;
} __attribute__((packed));

inline Record g_record;
inline int g_pipe = -1;
// Zero-initialised and large: its end lies beyond the program file's last
// page, in the anonymous mapping the loader puts behind the module.
inline char g_bss[1 << 20];
inline const char kBssMarker[] = "KORVELL-BSS-MARKER-91C4";
inline const char kHeapMarker[] = "KORVELL-HEAP-MARKER-5F3A";

inline void ChildHandler(int, siginfo_t* info, void* uc) {
    g_record = {reinterpret_cast<std::uintptr_t>(info), reinterpret_cast<std::uintptr_t>(uc),
                static_cast<std::int32_t>(syscall(SYS_gettid))};
    std::uint64_t address = reinterpret_cast<std::uintptr_t>(&g_record);
    ssize_t ignored = write(g_pipe, &address, sizeof address);
    (void)ignored;
    for (;;) pause();
}

// The child writes to address 0x10 (SIGSEGV, SEGV_MAPERR) after putting a
// marker on its heap (far from the stack and module data) and at the end of
// its .bss, and waits in the handler until the test ends.
class CrashedChild : public ::testing::Test {
protected:
    void SetUp() override {
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        const pid_t parent = getpid();
        child_ = fork();
        if (child_ == 0) {
            // Ends with the test, however the test ends.
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (getppid() != parent) _exit(1);
            close(fds[0]);
            g_pipe = fds[1];
            char* heap = static_cast<char*>(std::malloc(1 << 20));
            std::memcpy(heap + 4096, kHeapMarker, sizeof kHeapMarker);
            std::memcpy(g_bss + sizeof g_bss - 64, kBssMarker, sizeof kBssMarker);
            struct sigaction sa {};
            sa.sa_sigaction = ChildHandler;
            sa.sa_flags = SA_SIGINFO;
            sigaction(SIGSEGV, &sa, nullptr);
            volatile std::uintptr_t bad = 0x10;
            *reinterpret_cast<volatile int*>(bad) = static_cast<int>(reinterpret_cast<std::uintptr_t>(heap));
            _exit(1);
        }
        close(fds[1]);
        ASSERT_EQ(read(fds[0], &record_, sizeof record_), static_cast<ssize_t>(sizeof record_));
        close(fds[0]);
        // Is ptrace allowed here at all?
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
    }

    // Everything the client reads before it writes the dump: the process,
    // its stopped threads, the crash record and the modules.
    void Read(ulmarro::CrashedProcess* p) {
        ASSERT_FALSE(p->Find(static_cast<std::uint64_t>(child_)).failed());
        ASSERT_FALSE(p->Suspend().failed());
        ASSERT_FALSE(p->ReadException(record_).failed());
        ASSERT_FALSE(p->ReadModules().failed());
    }

    // Writes the dump of a read process to a new file; returns its path
    // (empty when writing failed).
    std::string WriteDump(const ulmarro::CrashedProcess& p, std::uint32_t dumpType) {
        char path[] = "/tmp/ulmarro-dump-XXXXXX";
        int fd = mkstemp(path);
        EXPECT_GE(fd, 0);
        if (fd < 0) return {};
        ulmarro::Failure f = ulmarro::WriteMinidump(p, dumpType, fd);
        close(fd);
        EXPECT_FALSE(f.failed()) << f.Describe();
        if (f.failed()) {
            unlink(path);
            return {};
        }
        return path;
    }

    pid_t child_ = -1;
    std::uint64_t record_ = 0;
    bool skip_ = false;
};

} // namespace crashtest
