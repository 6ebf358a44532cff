// A small program with the real crash hook that crashes in the way its first
// argument names. The second argument picks the program whose behaviour the
// hook imitates (qorb12, qorb11 or oxbrin). A third argument changes how the
// program treats its children before it crashes: "ignore-sigchld" (SIGCHLD
// set to SIG_IGN) or "nocldwait" (a SIGCHLD handler with SA_NOCLDWAIT); with
// either, the kernel reaps children on its own.
#include "crashhook.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <thread>

#include <sys/resource.h>
#include <unistd.h>

namespace {

[[gnu::noinline]] void WriteToSmallAddress() {
    volatile std::uintptr_t address = 0x10;
    *reinterpret_cast<volatile int*>(address) = 42;
}

[[gnu::noinline]] int Divide(int a, int b) {
    volatile int numerator = a;
    volatile int denominator = b;
    return numerator / denominator;
}

volatile bool g_keepGoing = true;

[[gnu::noinline]] int Recurse(int depth) {
    volatile char buffer[4096];
    buffer[0] = static_cast<char>(depth);
    buffer[sizeof buffer - 1] = static_cast<char>(depth);
    int below = g_keepGoing ? Recurse(depth + 1) : 0;
    return below + buffer[0] + buffer[sizeof buffer - 1];
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: crash_target "
                             "segv|abort|throw|fpe|thread|threads|overflow|threadoverflow|trap|none PROGRAM "
                             "[ignore-sigchld|nocldwait]\n");
        return 64;
    }
    // Crashes on purpose must not litter the test directory with core files.
    rlimit noCore{0, 0};
    setrlimit(RLIMIT_CORE, &noCore);

    crashhook::Program program = crashhook::Program::Qorb12;
    if (std::strcmp(argv[2], "qorb11") == 0) program = crashhook::Program::Qorb11;
    if (std::strcmp(argv[2], "oxbrin") == 0) program = crashhook::Program::Oxbrin;
    crashhook::Install(program);

    if (argc > 3 && std::strcmp(argv[3], "ignore-sigchld") == 0) {
        signal(SIGCHLD, SIG_IGN);
    } else if (argc > 3 && std::strcmp(argv[3], "nocldwait") == 0) {
        struct sigaction action {};
        action.sa_handler = [](int) {};
        action.sa_flags = SA_NOCLDWAIT;
        sigaction(SIGCHLD, &action, nullptr);
    }

    std::string how = argv[1];
    if (how == "segv") {
        WriteToSmallAddress();
    } else if (how == "crashme") {
        crashhook::CrashMe();
    } else if (how == "abort") {
        std::abort();
    } else if (how == "throw") {
        // Through the C++ runtime (std::terminate) into the C library's abort.
        throw std::runtime_error("crash_target: nobody catches this");
    } else if (how == "fpe") {
#if defined(__x86_64__) || defined(__i386__)
        std::printf("%d\n", Divide(1, 0));
#else
        raise(SIGFPE); // integer division does not trap on this processor
#endif
    } else if (how == "trap") {
#if defined(__x86_64__) || defined(__i386__)
        __asm__ volatile("int3");
#else
        raise(SIGTRAP);
#endif
    } else if (how == "thread") {
        std::thread worker([] { WriteToSmallAddress(); });
        worker.join();
    } else if (how == "threads") {
        // Several threads crash at about the same time; the client must be
        // started once.
        std::atomic<bool> go{false};
        std::thread a([&] {
            while (!go) {
            }
            WriteToSmallAddress();
        });
        std::thread b([&] {
            while (!go) {
            }
            Divide(1, 0);
        });
        std::thread c([&] {
            while (!go) {
            }
            WriteToSmallAddress();
        });
        go = true;
        a.join();
        b.join();
        c.join();
    } else if (how == "threadoverflow") {
        // A worker with a signal stack of its own survives its stack overflow
        // long enough to be reported.
        std::thread worker([] {
            crashhook::InstallForThread();
            std::printf("%d\n", Recurse(0));
        });
        worker.join();
    } else if (how == "overflow") {
        std::printf("%d\n", Recurse(0));
    } else if (how == "none") {
        return 0;
    }
    std::fprintf(stderr, "crash_target: survived '%s'\n", how.c_str());
    return 3;
}
