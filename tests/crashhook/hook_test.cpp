// The crash hook with real crashes of a real program (crash_target) and a
// stand-in client: a shell script that records what it was given and ends
// the way the test asks.

#include "crashhook.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::string ReadFile(const fs::path& p) {
    std::ifstream in(p);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class HookTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/crashhook-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        fs::create_directories(dir_ / "xdg" / "KORVELL");
        log_ = dir_ / "calls.log";
    }
    void TearDown() override { fs::remove_all(dir_); }

    // A client that logs its arguments and blocked-signal mask, then exits
    // with `exitCode` or, when `crash` is set, kills itself with SIGSEGV.
    fs::path MakeClient(const std::string& name, int exitCode, bool crash = false) {
        fs::path p = dir_ / name;
        std::ofstream out(p);
        out << "#!/bin/sh\n"
            << "printf '%s\\n' \"$*\" >> '" << log_.string() << "'\n"
            << "grep '^SigBlk:' /proc/self/status >> '" << log_.string() << "'\n"
            << (crash ? "kill -SEGV $$\n" : "") << "exit " << exitCode << "\n";
        out.close();
        fs::permissions(p, fs::perms::owner_all);
        return p;
    }

    void Register(const std::string& value) {
        std::ofstream out(dir_ / "xdg" / "KORVELL" / "Ulmarro.conf");
        out << "[General]\nDefault=" << value << "\n";
    }

    // Runs crash_target and returns its wait status.
    int Crash(const std::string& how, const std::string& program, const std::string& children = "") {
        pid_t child = fork();
        if (child == 0) {
            setenv("XDG_CONFIG_DIRS", (dir_ / "xdg").c_str(), 1);
            int null = open("/dev/null", O_WRONLY);
            dup2(null, 2);
            execl(CRASH_TARGET, CRASH_TARGET, how.c_str(), program.c_str(),
                  children.empty() ? static_cast<char*>(nullptr) : children.c_str(),
                  static_cast<char*>(nullptr));
            _exit(99);
        }
        int status = 0;
        waitpid(child, &status, 0);
        return status;
    }

    std::vector<std::string> LogLines() {
        std::vector<std::string> lines;
        std::istringstream in(ReadFile(log_));
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }

    fs::path dir_;
    fs::path log_;
};

std::string Describe(int status) {
    if (WIFEXITED(status)) return "exit " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status)) return "signal " + std::to_string(WTERMSIG(status));
    return "status " + std::to_string(status);
}

#define EXPECT_EXIT_CODE(run, code) EXPECT_EQ(Describe(run), "exit " + std::to_string(code))
#define EXPECT_KILLED_BY(run, sig) EXPECT_EQ(Describe(run), "signal " + std::to_string(sig))

TEST_F(HookTest, ClientGetsThreadRecordAndIdentifierWithClearMask) {
    Register(MakeClient("client", 0).string());
    struct Case {
        const char* program;
        const char* guid;
    } cases[] = {{"qorb12", "{2D4B4EFA-B16D-4DE8-AA49-CB5CB9AB568D}"},
                 {"qorb11", "{D0D835B0-43AF-47EB-9D26-8260007E4D7A}"},
                 {"oxbrin", "{A51E686F-6D49-4FCE-ACBD-D1D002C9D0B7}"}};
    for (const Case& c : cases) {
        fs::remove(log_);
        Crash("segv", c.program);
        auto lines = LogLines();
        ASSERT_EQ(lines.size(), 2u) << c.program;
        // "-t <decimal> -e 0x<one hex digit per nibble of a pointer> -i <guid>"
        std::istringstream words(lines[0]);
        std::string t, tid, e, address, i, guid, rest;
        words >> t >> tid >> e >> address >> i >> guid >> rest;
        EXPECT_EQ(t + e + i, "-t-e-i") << lines[0];
        EXPECT_TRUE(!tid.empty() && tid[0] != '0' && tid.find_first_not_of("0123456789") == std::string::npos)
            << tid;
        EXPECT_EQ(address.size(), 2 + 2 * sizeof(void*)) << address;
        EXPECT_EQ(address.rfind("0x", 0), 0u) << address;
        EXPECT_EQ(address.find_first_not_of("0123456789ABCDEF", 2), std::string::npos) << address;
        EXPECT_EQ(guid, c.guid);
        EXPECT_TRUE(rest.empty()) << lines[0];
        EXPECT_EQ(lines[1], "SigBlk:\t0000000000000000") << "the client inherited blocked signals";
    }
}

TEST_F(HookTest, AssemblersEndWithTwoWhateverTheClientSays) {
    for (int code : {0, 1, 2, 77}) {
        Register(MakeClient("client" + std::to_string(code), code).string());
        for (const char* how : {"segv", "abort", "fpe", "trap", "overflow", "crashme"}) {
            EXPECT_EXIT_CODE(Crash(how, "qorb12"), 2) << how << " client exit " << code;
        }
        EXPECT_EXIT_CODE(Crash("thread", "qorb11"), 2);
        EXPECT_EXIT_CODE(Crash("threadoverflow", "qorb11"), 2);
    }
}

TEST_F(HookTest, IdeEndsWith255OrTakesTheDefaultActionOnDebug) {
    Register(MakeClient("client0", 0).string());
    EXPECT_EXIT_CODE(Crash("segv", "oxbrin"), 255);
    EXPECT_EXIT_CODE(Crash("abort", "oxbrin"), 255);
    Register(MakeClient("client1", 1).string());
    EXPECT_KILLED_BY(Crash("segv", "oxbrin"), SIGSEGV);
    EXPECT_KILLED_BY(Crash("abort", "oxbrin"), SIGABRT);
    EXPECT_KILLED_BY(Crash("fpe", "oxbrin"), SIGFPE);
    EXPECT_KILLED_BY(Crash("trap", "oxbrin"), SIGTRAP);
    EXPECT_KILLED_BY(Crash("thread", "oxbrin"), SIGSEGV);
}

TEST_F(HookTest, ProgramsThatLetTheKernelReapChildrenStillGetTheAnswer) {
    // With SIGCHLD ignored (or SA_NOCLDWAIT) the client's exit status would be
    // thrown away and every answer would look like a failed client.
    for (const char* children : {"ignore-sigchld", "nocldwait"}) {
        Register(MakeClient("client1", 1).string());
        EXPECT_KILLED_BY(Crash("segv", "oxbrin", children), SIGSEGV) << children;
        EXPECT_KILLED_BY(Crash("abort", "oxbrin", children), SIGABRT) << children;
        Register(MakeClient("client0", 0).string());
        EXPECT_EXIT_CODE(Crash("segv", "oxbrin", children), 255) << children;
        EXPECT_EXIT_CODE(Crash("segv", "qorb12", children), 2) << children;
    }
}

TEST_F(HookTest, MissingClientMeansDefaultAction) {
    // Not registered at all, registered but gone, registered but not a program.
    for (int variant = 0; variant < 3; ++variant) {
        if (variant == 0) fs::remove(dir_ / "xdg" / "KORVELL" / "Ulmarro.conf");
        if (variant == 1) Register((dir_ / "no-such-client").string());
        if (variant == 2) {
            std::ofstream(dir_ / "not-a-program") << "\x7f"
                                                     "ELF garbage";
            fs::permissions(dir_ / "not-a-program", fs::perms::owner_all);
            Register((dir_ / "not-a-program").string());
        }
        EXPECT_KILLED_BY(Crash("segv", "qorb12"), SIGSEGV) << variant;
        EXPECT_KILLED_BY(Crash("abort", "oxbrin"), SIGABRT) << variant;
    }
}

TEST_F(HookTest, ClientThatCrashesItselfStillEndsTheProcess) {
    Register(MakeClient("crashing client", 0, true).string()); // a blank in the path, too
    EXPECT_EXIT_CODE(Crash("segv", "qorb12"), 2);
    EXPECT_EXIT_CODE(Crash("segv", "oxbrin"), 255);
    EXPECT_EQ(LogLines().size(), 4u);
}

TEST_F(HookTest, ThreadsCrashingTogetherStartOneClient) {
    Register(MakeClient("client", 0).string());
    for (int round = 0; round < 5; ++round) {
        fs::remove(log_);
        EXPECT_EXIT_CODE(Crash("threads", "qorb12"), 2);
        EXPECT_EQ(LogLines().size(), 2u) << "round " << round << "\n" << ReadFile(log_);
    }
}

TEST_F(HookTest, NoCrashNoClient) {
    Register(MakeClient("client", 0).string());
    EXPECT_EXIT_CODE(Crash("none", "oxbrin"), 0);
    EXPECT_FALSE(fs::exists(log_));
}

// The settings reader must understand what the client's settings layer writes.
TEST_F(HookTest, SettingsReaderUndoesIniEscapes) {
    fs::path file = dir_ / "x.conf";
    std::ofstream(file) << "[Other]\nDefault=/wrong\n"
                           "[General]\n"
                           "Plain = /opt/korvell/bin/ulmarro \n"
                           "Quoted=\"/opt/a;b, c/ulmarro \"\n"
                           "Escaped=\"C:\\\\x\\\\y\" and \\\"q\\\"\n"
                           "Unicode=/opt/\\x4e2d/u\n"
                           "At=@@lead\n"
                           "Twice=first\nTwice=second\n";
    std::string v;
    ASSERT_TRUE(crashhook::ReadIniValue(file.string(), "", "Plain", &v));
    EXPECT_EQ(v, "/opt/korvell/bin/ulmarro");
    ASSERT_TRUE(crashhook::ReadIniValue(file.string(), "", "Quoted", &v));
    EXPECT_EQ(v, "/opt/a;b, c/ulmarro ");
    ASSERT_TRUE(crashhook::ReadIniValue(file.string(), "", "Escaped", &v));
    EXPECT_EQ(v, "C:\\x\\y and \"q\"");
    ASSERT_TRUE(crashhook::ReadIniValue(file.string(), "", "Unicode", &v));
    EXPECT_EQ(v, "/opt/\xe4\xb8\xad/u");
    ASSERT_TRUE(crashhook::ReadIniValue(file.string(), "", "At", &v));
    EXPECT_EQ(v, "@lead");
    ASSERT_TRUE(crashhook::ReadIniValue(file.string(), "", "Twice", &v));
    EXPECT_EQ(v, "second");
    ASSERT_TRUE(crashhook::ReadIniValue(file.string(), "Other", "Default", &v));
    EXPECT_EQ(v, "/wrong");
    EXPECT_FALSE(crashhook::ReadIniValue(file.string(), "", "Default", &v));
    EXPECT_FALSE(crashhook::ReadIniValue((dir_ / "missing.conf").string(), "", "Default", &v));
}

} // namespace
