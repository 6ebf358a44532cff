#include "cmdline.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using zkspawn::SplitWindowsCommandLine;
using Args = std::vector<std::string>;

// --- splitting ------------------------------------------------------------

TEST(SplitCommandLine, BlanksQuotesAndEmptyArguments) {
    EXPECT_EQ(SplitWindowsCommandLine("a b  c"), (Args{"a", "b", "c"}));
    EXPECT_EQ(SplitWindowsCommandLine("  prog\ta\t\tb  "), (Args{"prog", "a", "b"}));
    EXPECT_EQ(SplitWindowsCommandLine("prog \"a b\" c"), (Args{"prog", "a b", "c"}));
    EXPECT_EQ(SplitWindowsCommandLine("prog \"a\tb\""), (Args{"prog", "a\tb"}));
    EXPECT_EQ(SplitWindowsCommandLine("prog a\"b c\"d"), (Args{"prog", "ab cd"}));
    EXPECT_EQ(SplitWindowsCommandLine("prog \"\" x \"\""), (Args{"prog", "", "x", ""}));
    EXPECT_EQ(SplitWindowsCommandLine("prog \"open to the end"), (Args{"prog", "open to the end"}));
    EXPECT_EQ(SplitWindowsCommandLine(""), Args{});
    EXPECT_EQ(SplitWindowsCommandLine(" \t "), Args{});
}

TEST(SplitCommandLine, BackslashesCountOnlyBeforeQuotes) {
    EXPECT_EQ(SplitWindowsCommandLine(R"(prog C:\work\blink.asm)"), (Args{"prog", R"(C:\work\blink.asm)"}));
    EXPECT_EQ(SplitWindowsCommandLine(R"(prog a\\b)"), (Args{"prog", R"(a\\b)"}));
    EXPECT_EQ(SplitWindowsCommandLine(R"(prog a\"b)"), (Args{"prog", R"(a"b)"}));
    EXPECT_EQ(SplitWindowsCommandLine(R"(prog a\\\"b)"), (Args{"prog", R"(a\"b)"}));
    EXPECT_EQ(SplitWindowsCommandLine(R"(prog a\\"b c")"), (Args{"prog", R"(a\b c)"}));
    EXPECT_EQ(SplitWindowsCommandLine(R"(prog a\\\\"b c")"), (Args{"prog", R"(a\\b c)"}));
    // A quoted folder name ending in a backslash escapes its closing quote.
    EXPECT_EQ(SplitWindowsCommandLine(R"(prog "C:\dir\" x)"), (Args{"prog", R"(C:\dir" x)"}));
    EXPECT_EQ(SplitWindowsCommandLine(R"(prog "C:\dir\\" x)"), (Args{"prog", R"(C:\dir\)", "x"}));
}

TEST(SplitCommandLine, DoubledQuotesInsideQuotes) {
    EXPECT_EQ(SplitWindowsCommandLine(R"(prog "a""b")"), (Args{"prog", R"(a"b)"}));
    EXPECT_EQ(SplitWindowsCommandLine(R"(prog """")"), (Args{"prog", R"(")"}));
    EXPECT_EQ(SplitWindowsCommandLine(R"(prog "say ""hi"" now")"), (Args{"prog", R"(say "hi" now)"}));
}

TEST(SplitCommandLine, ProgramNameKeepsBackslashes) {
    EXPECT_EQ(SplitWindowsCommandLine(R"("C:\Program Files\qorb12.exe" -l -su "C:\work\a b.asm")"),
              (Args{R"(C:\Program Files\qorb12.exe)", "-l", "-su", R"(C:\work\a b.asm)"}));
    EXPECT_EQ(SplitWindowsCommandLine(R"("C:\tools\" -l)"), (Args{R"(C:\tools\)", "-l"}));
    EXPECT_EQ(SplitWindowsCommandLine(R"(qorb12.exe -l -su "C:\work\blink.asm")"),
              (Args{"qorb12.exe", "-l", "-su", R"(C:\work\blink.asm)"}));
}

// --- running the real program ----------------------------------------------

struct Result {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// zkspawn's environment in the tests: the probe's folder leads PATH, and
// no terminal window is found unless a test names one.
std::vector<std::string> Environment(const std::vector<std::string>& extra) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        std::string v = *e;
        if (v.rfind("PATH=", 0) == 0 || v.rfind("ZKSPAWN_TERMINAL=", 0) == 0 || v.rfind("DISPLAY=", 0) == 0 ||
            v.rfind("WAYLAND_DISPLAY=", 0) == 0)
            continue;
        env.push_back(v);
    }
    const char* path = std::getenv("PATH");
    env.push_back(std::string("PATH=") + PROBE_DIR + ":" + (path ? path : "/usr/bin:/bin"));
    env.insert(env.end(), extra.begin(), extra.end());
    return env;
}

class Child {
public:
    // Starts zkspawn with the given arguments; the probe's folder leads PATH.
    explicit Child(const Args& zkArgs, const std::vector<std::string>& extraEnv = {}) {
        int outPipe[2], errPipe[2];
        if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0) std::abort();
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_adddup2(&fa, outPipe[1], 1);
        posix_spawn_file_actions_adddup2(&fa, errPipe[1], 2);

        std::vector<std::string> env = Environment(extraEnv);

        std::vector<std::string> all = {ZKSPAWN_PATH};
        all.insert(all.end(), zkArgs.begin(), zkArgs.end());
        std::vector<char*> argv, envp;
        for (std::string& a : all) argv.push_back(a.data());
        argv.push_back(nullptr);
        for (std::string& e : env) envp.push_back(e.data());
        envp.push_back(nullptr);
        if (posix_spawn(&pid_, ZKSPAWN_PATH, &fa, nullptr, argv.data(), envp.data()) != 0) std::abort();
        posix_spawn_file_actions_destroy(&fa);
        close(outPipe[1]);
        close(errPipe[1]);
        out_ = outPipe[0];
        err_ = errPipe[0];
    }
    ~Child() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0) close(out_);
        if (err_ >= 0) close(err_);
    }

    pid_t pid() const { return pid_; }
    // Standard output read so far.
    const std::string& out() const { return result_.out; }

    // Reads standard output until it holds `text` (or ends); a generous
    // deadline turns a hang into a failure instead of a stuck suite.
    bool ReadUntil(const std::string& text) {
        while (result_.out.find(text) == std::string::npos)
            if (!Pump()) return false;
        return true;
    }

    // Reads both streams to their end (every holder gone) and reaps zkspawn.
    Result Finish() {
        while (out_ >= 0 || err_ >= 0)
            if (!Pump()) {
                // Failed already; do not wait for a zkspawn that waits for
                // a tool that does not end.
                kill(pid_, SIGKILL);
                break;
            }
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        result_.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
        return result_;
    }

private:
    bool Pump() {
        pollfd fds[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
        int r = poll(fds, 2, 20000);
        if (r <= 0) {
            ADD_FAILURE() << "zkspawn's output did not end";
            return false;
        }
        int* fdsOwned[2] = {&out_, &err_};
        std::string* sinks[2] = {&result_.out, &result_.err};
        for (int i = 0; i < 2; ++i) {
            if (*fdsOwned[i] < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
            char buf[512];
            ssize_t n = read(*fdsOwned[i], buf, sizeof buf);
            if (n > 0) {
                sinks[i]->append(buf, static_cast<size_t>(n));
            } else {
                close(*fdsOwned[i]);
                *fdsOwned[i] = -1;
            }
        }
        return true;
    }

    pid_t pid_ = -1;
    int out_ = -1;
    int err_ = -1;
    Result result_;
};

Result RunZkspawn(const Args& args, const std::vector<std::string>& env = {}) {
    return Child(args, env).Finish();
}

TEST(Zkspawn, PassesArgumentsSplitTheWindowsWay) {
    Result r = RunZkspawn({"341", "spawn_probe args a\\\\\\\"b \"x\"\"y\" \"\"\tt1\t\"C:\\dir\\\\\" last"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "argc 6\n[a\\\"b]\n[x\"y]\n[]\n[t1]\n[C:\\dir\\]\n[last]\n");
}

TEST(Zkspawn, JoinsWordsSplitByAShell) {
    Result r = RunZkspawn({"341", "spawn_probe", "args", "\"a", "b\"", "c"});
    EXPECT_EQ(r.out, "argc 2\n[a b]\n[c]\n");
}

TEST(Zkspawn, ReportsTheToolsExitCodeAndPassesItsStreams) {
    for (int code : {0, 1, 3, 255}) {
        Result r = RunZkspawn({"341", "spawn_probe exit " + std::to_string(code)});
        EXPECT_EQ(r.exitCode, code);
        EXPECT_EQ(r.out, "exiting " + std::to_string(code) + "\n");
        EXPECT_EQ(r.err, "to stderr\n");
    }
}

TEST(Zkspawn, KilledToolGives128PlusSignal) {
    EXPECT_EQ(RunZkspawn({"341", "spawn_probe signal 9"}).exitCode, 128 + SIGKILL);
    EXPECT_EQ(RunZkspawn({"341", "spawn_probe signal 15"}).exitCode, 128 + SIGTERM);
    EXPECT_EQ(RunZkspawn({"341", "spawn_probe signal 11"}).exitCode, 128 + SIGSEGV);
}

TEST(Zkspawn, ToolThatCannotStartGives127AndAClearLine) {
    Result r = RunZkspawn({"341", "no_such_tool_zk -l x.asm"});
    EXPECT_EQ(r.exitCode, 127);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "zkspawn: cannot run \"no_such_tool_zk\": No such file or directory\n");

    r = RunZkspawn({"341", "/etc/passwd"});
    EXPECT_EQ(r.exitCode, 127);
    EXPECT_NE(r.err.find("cannot run \"/etc/passwd\""), std::string::npos) << r.err;
}

TEST(Zkspawn, ModeIsDecimalOrHex) {
    EXPECT_EQ(RunZkspawn({"0341", "spawn_probe exit 9"}).exitCode, 9);
    EXPECT_EQ(RunZkspawn({"0x155", "spawn_probe exit 8"}).exitCode, 8);
    EXPECT_EQ(RunZkspawn({"-1", "spawn_probe exit 8"}).exitCode, 127);
    EXPECT_EQ(RunZkspawn({"99999999999", "spawn_probe exit 8"}).exitCode, 127);
}

TEST(Zkspawn, BadUsageGives127) {
    Result r = RunZkspawn({});
    EXPECT_EQ(r.exitCode, 127);
    EXPECT_NE(r.err.find("usage: zkspawn"), std::string::npos);
    r = RunZkspawn({"12x", "spawn_probe args"});
    EXPECT_EQ(r.exitCode, 127);
    EXPECT_NE(r.err.find("invalid mode \"12x\""), std::string::npos);
    r = RunZkspawn({"341", "  "});
    EXPECT_EQ(r.exitCode, 127);
    EXPECT_EQ(r.err, "zkspawn: no program to run\n");
}

TEST(Zkspawn, WindowsToolNamesFallBackToTheNativeName) {
    Result r = RunZkspawn({"341", "spawn_probe.exe args x"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "argc 1\n[x]\n");
}

TEST(Zkspawn, ToolRunsInAProcessGroupOfItsOwn) {
    Child child({"341", "spawn_probe group"});
    Result r = child.Finish();
    int pid = 0, pgid = 0, parentPgid = 0;
    ASSERT_EQ(std::sscanf(r.out.c_str(), "pid %d pgid %d parent-pgid %d", &pid, &pgid, &parentPgid), 3)
        << r.out;
    EXPECT_EQ(pid, pgid);
    EXPECT_NE(pgid, parentPgid);
}

TEST(Zkspawn, ForwardsTerminationToTheToolsWholeGroup) {
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
        Child child({"341", "spawn_probe hold"});
        ASSERT_TRUE(child.ReadUntil("ready"));
        ASSERT_EQ(kill(child.pid(), sig), 0);
        // Finish() reads standard output to its end, which comes only when
        // the probe and the child it forked have both gone.
        Result r = child.Finish();
        EXPECT_EQ(r.exitCode, 128 + sig);
    }
}

TEST(Zkspawn, WhatIgnoresTerminationIsKilledAfterTheGracePeriod) {
    // The tool and the child it leaves holding standard output both ignore
    // every polite request; a stop ends them all the same. Finish() sees the
    // end of the output only when both have gone.
    Child child({"341", "spawn_probe stubborn"});
    ASSERT_TRUE(child.ReadUntil("ready"));
    ASSERT_EQ(kill(child.pid(), SIGTERM), 0);
    Result r = child.Finish();
    EXPECT_EQ(r.exitCode, 128 + SIGKILL);
}

// zkspawn started the way the IDE starts it: as the leader of a new process
// group, with ZKSPAWN_OWNER naming the starter. The owner here is the probe,
// itself run by an outer zkspawn so the test can read everything below it.
std::string OwnedLine(const std::string& tool) {
    return std::string("spawn_probe own \"") + ZKSPAWN_PATH + "\" 341 \"" + tool + "\"";
}

struct OwnedPids {
    int owner = 0;
    int zkspawn = 0;
};

OwnedPids ParseOwned(const std::string& out) {
    OwnedPids p;
    size_t at = out.find("owner ");
    if (at != std::string::npos) std::sscanf(out.c_str() + at, "owner %d zkspawn %d", &p.owner, &p.zkspawn);
    return p;
}

TEST(ZkspawnOwned, TheToolSharesZkspawnsGroupAndNotTheVariable) {
    Result r = RunZkspawn({"341", OwnedLine("spawn_probe group")});
    OwnedPids p = ParseOwned(r.out);
    ASSERT_GT(p.zkspawn, 0) << r.out << r.err;
    int pid = 0, pgid = 0, parentPgid = 0;
    size_t at = r.out.find("pid ");
    ASSERT_NE(at, std::string::npos) << r.out;
    ASSERT_EQ(std::sscanf(r.out.c_str() + at, "pid %d pgid %d parent-pgid %d", &pid, &pgid, &parentPgid), 3);
    // One signal to the group zkspawn leads reaches the tool.
    EXPECT_EQ(pgid, p.zkspawn);
    EXPECT_EQ(parentPgid, p.zkspawn);
    EXPECT_NE(r.out.find("zkspawn exit 0"), std::string::npos) << r.out;

    r = RunZkspawn({"341", OwnedLine("spawn_probe getenv ZKSPAWN_OWNER")});
    EXPECT_NE(r.out.find("ZKSPAWN_OWNER=(unset)"), std::string::npos) << r.out;
}

TEST(ZkspawnOwned, AStopEndsTheWholeGroupEvenWhatIgnoresIt) {
    Child child({"341", OwnedLine("spawn_probe stubborn")});
    ASSERT_TRUE(child.ReadUntil("ready"));
    OwnedPids p = ParseOwned(child.out());
    ASSERT_GT(p.zkspawn, 0) << child.out();
    // The stop goes to zkspawn alone, as the IDE sends it.
    ASSERT_EQ(kill(p.zkspawn, SIGTERM), 0);
    Result r = child.Finish();
    EXPECT_NE(r.out.find("zkspawn signal 9"), std::string::npos) << r.out;
    EXPECT_EQ(r.exitCode, 0);
}

TEST(ZkspawnOwned, TheOwnersEndStopsTheTool) {
    // The owner is killed outright, with no chance to pass anything on: the
    // tool and its child still end.
    Child child({"341", OwnedLine("spawn_probe stubborn")});
    ASSERT_TRUE(child.ReadUntil("ready"));
    OwnedPids p = ParseOwned(child.out());
    ASSERT_GT(p.owner, 0) << child.out();
    ASSERT_EQ(kill(p.owner, SIGKILL), 0);
    Result r = child.Finish();
    EXPECT_EQ(r.exitCode, 128 + SIGKILL);
}

TEST(ZkspawnOwned, WhatTheToolLeftRunningEndsBeforeTheReport) {
    // The probe ends at once and leaves a child holding standard output:
    // the output ends (every holder gone) and zkspawn reports the tool's own
    // code.
    Result r = RunZkspawn({"341", OwnedLine("spawn_probe leave")});
    EXPECT_NE(r.out.find("left "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("zkspawn exit 0"), std::string::npos) << r.out;
}

TEST(ZkspawnOwned, AnOwnerThatIsNotTheParentIsIgnored) {
    Result r = RunZkspawn({"341", "spawn_probe group"}, {"ZKSPAWN_OWNER=1"});
    int pid = 0, pgid = 0, parentPgid = 0;
    ASSERT_EQ(std::sscanf(r.out.c_str(), "pid %d pgid %d parent-pgid %d", &pid, &pgid, &parentPgid), 3)
        << r.out;
    EXPECT_EQ(pid, pgid);
}

TEST(Zkspawn, InputReachesTheTool) {
    // The inherited standard input is the tool's: /dev/null here, so the
    // probe sees its end at once and finishes.
    Result r = RunZkspawn({"341", "spawn_probe echo-input"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "");
}

// --- on a terminal ----------------------------------------------------------

// zkspawn as the session leader of a fresh pseudo-terminal, as it runs
// inside a terminal window; the test types on the master side.
class OnTerminal {
public:
    explicit OnTerminal(const Args& zkArgs) {
        master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) std::abort();
        std::string slave = ptsname(master_);
        std::vector<std::string> all = {ZKSPAWN_PATH};
        all.insert(all.end(), zkArgs.begin(), zkArgs.end());
        std::vector<std::string> env = Environment({});
        std::vector<char*> argv, envp;
        for (std::string& a : all) argv.push_back(a.data());
        argv.push_back(nullptr);
        for (std::string& e : env) envp.push_back(e.data());
        envp.push_back(nullptr);
        pid_ = fork();
        if (pid_ == 0) {
            setsid();
            int fd = open(slave.c_str(), O_RDWR);
            if (fd < 0 || ioctl(fd, TIOCSCTTY, 0) != 0) _exit(125);
            dup2(fd, 0);
            dup2(fd, 1);
            dup2(fd, 2);
            execve(ZKSPAWN_PATH, argv.data(), envp.data());
            _exit(126);
        }
    }
    ~OnTerminal() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        close(master_);
    }

    void Type(const std::string& s) { ASSERT_EQ(write(master_, s.data(), s.size()), (ssize_t)s.size()); }

    // The screen so far, once it shows `text`.
    std::string ReadUntil(const std::string& text) {
        pollfd p{master_, POLLIN, 0};
        while (screen_.find(text) == std::string::npos) {
            if (poll(&p, 1, 20000) <= 0) {
                ADD_FAILURE() << "the terminal never showed \"" << text << "\": " << screen_;
                break;
            }
            char buf[512];
            ssize_t n = read(master_, buf, sizeof buf);
            if (n <= 0) break;
            screen_.append(buf, static_cast<size_t>(n));
        }
        return screen_;
    }

    // zkspawn's exit code; a stuck zkspawn (a tool stopped for touching a
    // terminal it does not own) fails the test instead of hanging it.
    int Wait() {
        for (int i = 0; i < 2000; ++i) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ADD_FAILURE() << "zkspawn did not end";
        return -1;
    }

private:
    int master_ = -1;
    pid_t pid_ = -1;
    std::string screen_;
};

TEST(ZkspawnOnATerminal, TheToolGetsTheKeyboard) {
    OnTerminal term({"341", "spawn_probe echo-input"});
    term.Type("hello\n");
    // Echoed by the terminal, then written back by the tool: a tool left in
    // the background would have been stopped at its first read instead.
    term.ReadUntil("hello\r\nhello\r\n");
    term.Type("\x04"); // end of input
    EXPECT_EQ(term.Wait(), 0);
}

TEST(ZkspawnOnATerminal, WindowSideReportsAndWaitsForAKey) {
    std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("zkspawn-fifo-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    std::string fifo = (dir / "status").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    int fd = open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    {
        OnTerminal term({"--in-window", fifo, "85", "spawn_probe exit 3"});
        std::string screen = term.ReadUntil("Press any key to close this window.");
        EXPECT_NE(screen.find("exiting 3"), std::string::npos) << screen;
        term.Type("x"); // one key, no Enter needed
        EXPECT_EQ(term.Wait(), 3);
    }
    char buf[256];
    ssize_t n = read(fd, buf, sizeof buf);
    ASSERT_GT(n, 0);
    std::string status(buf, static_cast<size_t>(n));
    int group = 0;
    EXPECT_EQ(std::sscanf(status.c_str(), "group %d\n", &group), 1) << status;
    EXPECT_GT(group, 0);
    EXPECT_NE(status.find("\nexit 3\n"), std::string::npos) << status;
    close(fd);
    std::filesystem::remove_all(dir);
}

// --- terminal window -------------------------------------------------------

class TerminalWindow : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("zkspawn-test-" + std::to_string(getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir_);
        log_ = dir_ / "window.log";
        // Stands in for a terminal program: "-e command..." runs the command
        // detached with its screen going to a log, and returns at once, as
        // several real terminal programs do.
        terminal_ = dir_ / "fake-terminal";
        std::ofstream(terminal_) << "#!/bin/sh\n"
                                    "[ \"$1\" = -e ] || exit 2\n"
                                    "shift\n"
                                    "\"$@\" </dev/null >>'"
                                 << log_.string() << "' 2>&1 &\n"
                                 << "exit 0\n";
        std::filesystem::permissions(terminal_, std::filesystem::perms::owner_all);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    std::string Log() {
        std::ifstream in(log_);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    std::filesystem::path dir_, log_, terminal_;
};

TEST_F(TerminalWindow, RunsTheToolInTheWindowAndReportsItsCode) {
    Result r = RunZkspawn({std::to_string(0x55 | 0x200), "spawn_probe exit 6"},
                          {"ZKSPAWN_TERMINAL=" + terminal_.string()});
    EXPECT_EQ(r.exitCode, 6) << r.err;
    EXPECT_EQ(r.out, "");
    std::string log = Log();
    EXPECT_NE(log.find("exiting 6"), std::string::npos) << log;
    EXPECT_EQ(log.find("Press any key"), std::string::npos) << log;
}

TEST_F(TerminalWindow, WaitsForAKeyUnlessToldToClose) {
    Result r = RunZkspawn({"85", "spawn_probe signal 15"}, {"ZKSPAWN_TERMINAL=" + terminal_.string()});
    EXPECT_EQ(r.exitCode, 128 + SIGTERM) << r.err;
    EXPECT_NE(Log().find("Press any key to close this window."), std::string::npos) << Log();
}

TEST_F(TerminalWindow, MissingToolInTheWindowGives127) {
    Result r = RunZkspawn({"597", "no_such_tool_zk"}, {"ZKSPAWN_TERMINAL=" + terminal_.string()});
    EXPECT_EQ(r.exitCode, 127);
    EXPECT_NE(Log().find("cannot run \"no_such_tool_zk\""), std::string::npos) << Log();
}

TEST_F(TerminalWindow, OutputWindowBitRunsHere) {
    Result r = RunZkspawn({"853", "spawn_probe exit 4"}, {"ZKSPAWN_TERMINAL=" + terminal_.string()});
    EXPECT_EQ(r.exitCode, 4);
    EXPECT_EQ(r.out, "exiting 4\n");
    EXPECT_EQ(Log(), "");
}

TEST_F(TerminalWindow, NoWindowAvailableRunsHere) {
    Result r = RunZkspawn({"85", "spawn_probe exit 2"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.out, "exiting 2\n");

    r = RunZkspawn({"85", "spawn_probe exit 3"}, {"ZKSPAWN_TERMINAL=/bin/false"});
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_EQ(r.out, "exiting 3\n");
    EXPECT_NE(r.err.find("running the tool here"), std::string::npos) << r.err;

    r = RunZkspawn({"85", "spawn_probe exit 5"}, {"ZKSPAWN_TERMINAL=no_such_terminal_zk"});
    EXPECT_EQ(r.exitCode, 5);
    EXPECT_NE(r.err.find("cannot open a terminal window"), std::string::npos) << r.err;
}

} // namespace
