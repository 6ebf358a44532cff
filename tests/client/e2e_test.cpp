// End to end: a program with the real crash hook crashes, the real client
// answers unattended, and the dump and the cabinet are checked by our reader
// and by independent tools where they are installed.

#include "crashhook.h"
#include "dump_reader.h"

#include <QSettings>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

const char* kQorb12Guid = "{2D4B4EFA-B16D-4DE8-AA49-CB5CB9AB568D}";
const std::string kSecret = std::string("s3cr3t-") + "t0ken-4711";

std::string ReadFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

struct Result {
    int status = 0;
    std::string err;
    int exitCode() const { return WIFEXITED(status) ? WEXITSTATUS(status) : -1; }
    int signal() const { return WIFSIGNALED(status) ? WTERMSIG(status) : 0; }
};

bool Have(const std::string& tool) {
    return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0;
}

int Shell(const std::string& command) { return std::system(("(" + command + ") >/dev/null 2>&1").c_str()); }

// Breakpad's processor tools, from the npm package "minidump", when someone
// has installed it (MINIDUMP_TOOLS names its bin directory, or it lies in a
// node_modules of the source tree).
std::string BreakpadTools() {
    std::vector<fs::path> candidates;
    if (const char* d = std::getenv("MINIDUMP_TOOLS")) candidates.emplace_back(d);
    candidates.emplace_back(fs::path(SOURCE_DIR) / "node_modules/minidump/bin/linux-x64");
    for (const auto& c : candidates)
        if (fs::exists(c / "minidump_stackwalk")) return c.string();
    return {};
}

class ClientTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/ulmarro-e2e-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        fs::create_directories(dir_ / "tmp");
        fs::create_directories(dir_ / "home");
        fs::create_directories(dir_ / "xdg" / "KORVELL");
        env_["XDG_CONFIG_DIRS"] = (dir_ / "xdg").string();
        env_["XDG_CONFIG_HOME"] = (dir_ / "home").string();
        env_["TMPDIR"] = (dir_ / "tmp").string();
        env_["QT_QPA_PLATFORM"] = "offscreen";
        // A message box on the offscreen platform would wait for ever.
        env_["ULMARRO_UNATTENDED"] = "decline";
        std::ofstream(dir_ / "xdg" / "KORVELL" / "Ulmarro.conf") << "[General]\nDefault=" << ULMARRO << "\n";
    }
    void TearDown() override { fs::remove_all(dir_); }

    bool PtraceAllowed() {
        pid_t child = fork();
        if (child == 0) {
            pause();
            _exit(0);
        }
        bool ok = ptrace(PTRACE_SEIZE, child, nullptr, nullptr) == 0;
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        return ok;
    }

    Result Run(std::vector<std::string> args, const std::map<std::string, std::string>& extra = {},
               const std::vector<std::string>& unset = {}) {
        fs::path errFile = dir_ / "stderr.txt";
        pid_t child = fork();
        if (child == 0) {
            for (const auto& [k, v] : env_) setenv(k.c_str(), v.c_str(), 1);
            for (const auto& [k, v] : extra) setenv(k.c_str(), v.c_str(), 1);
            for (const auto& k : unset) unsetenv(k.c_str());
            int fd = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            dup2(fd, 2);
            int null = open("/dev/null", O_RDWR);
            dup2(null, 0);
            dup2(null, 1);
            std::vector<char*> argv;
            for (auto& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(99);
        }
        Result r;
        waitpid(child, &r.status, 0);
        r.err = ReadFile(errFile);
        return r;
    }

    std::vector<fs::path> Dumps() {
        std::vector<fs::path> out;
        for (const auto& e : fs::directory_iterator(dir_ / "tmp"))
            if (e.path().extension() == ".dmp") out.push_back(e.path());
        return out;
    }
    std::vector<fs::path> Cabinets() {
        std::vector<fs::path> out;
        for (const auto& e : fs::directory_iterator(dir_ / "tmp"))
            if (e.path().extension() == ".cab") out.push_back(e.path());
        return out;
    }

    // Checks one crash's dump with our reader and the independent ones.
    void CheckDump(const fs::path& dump, std::uint32_t signal, const std::string& crashLine) {
        dumptest::Dump d;
        ASSERT_TRUE(d.Load(dump.string())) << dump;
        ASSERT_TRUE(d.Has(dumptest::md::kExceptionStream) && d.Has(dumptest::md::kThreadListStream) &&
                    d.Has(dumptest::md::kModuleListStream));
        EXPECT_EQ(dumptest::Value(d.Exception().exceptionRecord.exceptionCode), signal);
        std::uint32_t crashedTid = d.Exception().threadId;
        bool found = false;
        for (const auto& t : d.Threads()) found |= t.tid == crashedTid;
        EXPECT_TRUE(found) << "crashed thread in the thread list";
        std::string tools = BreakpadTools();
        static bool told = false;
        if (tools.empty() && !told) {
            told = true;
            std::fprintf(stderr,
                         "note: Breakpad's minidump tools not found (set MINIDUMP_TOOLS); not used\n");
        }
        if (!Have("lldb") && told) std::fprintf(stderr, "note: lldb not installed; not used\n");
        if (!tools.empty()) {
            fs::path out = dir_ / "stackwalk.txt";
            EXPECT_EQ(
                Shell(tools + "/minidump_stackwalk -m '" + dump.string() + "' > '" + out.string() + "'"), 0);
            std::string text = ReadFile(out);
            EXPECT_NE(text.find("\nCrash|" + crashLine), std::string::npos) << text.substr(0, 600);
            EXPECT_NE(text.find("Module|crash_target|"), std::string::npos);
            EXPECT_EQ(Shell(tools + "/minidump_dump '" + dump.string() + "'"), 0)
                << "minidump_dump found errors";
        }
        if (Have("lldb")) {
            fs::path out = dir_ / "lldb.txt";
            Shell("timeout 120 lldb --batch -c '" + dump.string() + "' -o 'thread list' -o 'image list' > '" +
                  out.string() + "' 2>&1");
            std::string text = ReadFile(out);
            std::string sigName = signal == SIGSEGV ? "SIGSEGV" : signal == SIGABRT ? "SIGABRT" : "SIGFPE";
            EXPECT_NE(text.find("stop reason = signal " + sigName), std::string::npos)
                << text.substr(0, 1500);
            EXPECT_NE(text.find("crash_target"), std::string::npos);
        }
    }

    // The dump inside a saved cabinet, extracted by the first independent
    // tool at hand; empty when there is none (or the cabinet is broken).
    fs::path ExtractDump(const fs::path& cab) {
        fs::path out = dir_ / "unpacked";
        fs::remove_all(out);
        fs::create_directories(out);
        if (Have("cabextract"))
            Shell("cabextract -q -d '" + out.string() + "' '" + cab.string() + "'");
        else if (Have("gcab"))
            Shell("gcab -x -C '" + out.string() + "' '" + cab.string() + "'");
        else if (Have("7z"))
            Shell("7z x -y -o'" + out.string() + "' '" + cab.string() + "'");
        for (const auto& e : fs::directory_iterator(out))
            if (e.path().extension() == ".dmp") return e.path();
        return {};
    }

    // Nothing of the report stays in TMPDIR once it was sent, saved or declined.
    void ExpectNothingLeft(const std::string& err) {
        EXPECT_TRUE(Dumps().empty()) << "the dump is left behind\n" << err;
        EXPECT_TRUE(Cabinets().empty()) << "a cabinet is left behind\n" << err;
    }

    void CheckCabinet(const fs::path& cab, const fs::path& dump) {
        std::string original = ReadFile(dump);
        std::string name = dump.filename().string();
        fs::path out = dir_ / "extract";
        int checked = 0;
        if (Have("cabextract")) {
            fs::remove_all(out);
            EXPECT_EQ(Shell("cabextract -q -d '" + out.string() + "' '" + cab.string() + "'"), 0);
            EXPECT_EQ(ReadFile(out / name), original) << "cabextract";
            ++checked;
        }
        if (Have("gcab")) {
            fs::remove_all(out);
            fs::create_directories(out);
            EXPECT_EQ(Shell("gcab -x -C '" + out.string() + "' '" + cab.string() + "'"), 0);
            EXPECT_EQ(ReadFile(out / name), original) << "gcab";
            ++checked;
        }
        if (Have("7z")) {
            fs::remove_all(out);
            EXPECT_EQ(Shell("7z x -y -o'" + out.string() + "' '" + cab.string() + "'"), 0);
            EXPECT_EQ(ReadFile(out / name), original) << "7z";
            ++checked;
        }
        if (Have("bsdtar")) {
            fs::path file = dir_ / "bsdtar.out";
            EXPECT_EQ(Shell("bsdtar -xOf '" + cab.string() + "' '" + name + "' > '" + file.string() + "'"),
                      0);
            EXPECT_EQ(ReadFile(file), original) << "bsdtar";
            ++checked;
        }
        if (checked == 0) std::fprintf(stderr, "note: no cabinet extractor installed; cabinet not checked\n");
    }

    fs::path dir_;
    std::map<std::string, std::string> env_;
};

TEST_F(ClientTest, RealCrashesAreReportedAndSaved) {
    if (!PtraceAllowed())
        GTEST_SKIP() << "ptrace is refused on this machine; the client cannot read a process";
    struct Case {
        const char* how;
        std::uint32_t signal;
        const char* crashLine;
    } cases[] = {
        {"segv", SIGSEGV, "SIGSEGV /SEGV_MAPERR|0x10|0"},
        {"abort", SIGABRT, "SIGABRT|"},
#if defined(__x86_64__)
        {"fpe", SIGFPE, "SIGFPE / FPE_INTDIV|"},
#endif
        {"thread", SIGSEGV, "SIGSEGV /SEGV_MAPERR|0x10|1"},
        {"overflow", SIGSEGV, "SIGSEGV /SEGV_MAPERR|"}
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.how);
        fs::path saved = dir_ / (std::string(c.how) + ".cab");
        Result r = Run({CRASH_TARGET, c.how, "qorb12"},
                       {{"ULMARRO_UNATTENDED", "save:" + saved.string()}, {"KORVELL_TOKEN", kSecret}});
        EXPECT_EQ(r.exitCode(), 2) << r.err;
        EXPECT_NE(r.err.find("ulmarro: crash_target has encountered a problem and needs to close."),
                  std::string::npos)
            << r.err;
        // Saved: the report is at the named place, private, and the
        // temporary dump and cabinet are gone.
        ExpectNothingLeft(r.err);
        fs::path dump;
#if QORB_HAVE_CAB
        ASSERT_TRUE(fs::exists(saved)) << r.err;
        EXPECT_EQ(fs::status(saved).permissions() & fs::perms::all,
                  fs::perms::owner_read | fs::perms::owner_write);
        EXPECT_NE(r.err.find("ulmarro: report: " + saved.string()), std::string::npos) << r.err;
        dump = ExtractDump(saved);
#endif
        if (dump.empty()) {
            // No cabinet to read: Debug keeps the dump of a second crash.
            r = Run({CRASH_TARGET, c.how, "qorb12"},
                    {{"ULMARRO_UNATTENDED", "debug"}, {"KORVELL_TOKEN", kSecret}});
            ASSERT_EQ(Dumps().size(), 1u) << r.err;
            dump = Dumps()[0];
        }
        CheckDump(dump, c.signal, c.crashLine);
        EXPECT_EQ(ReadFile(dump).find(kSecret), std::string::npos) << "the environment leaked into the dump";
#if QORB_HAVE_CAB
        CheckCabinet(saved, dump);
#endif
        for (const auto& left : Dumps()) fs::remove(left);
    }
}

TEST_F(ClientTest, AnswersDecideHowTheIdeEnds) {
    if (!PtraceAllowed()) GTEST_SKIP() << "ptrace is refused on this machine";
    Result declined = Run({CRASH_TARGET, "segv", "oxbrin"}, {{"ULMARRO_UNATTENDED", "decline"}});
    EXPECT_EQ(declined.exitCode(), 255);
    ExpectNothingLeft(declined.err);
    // Debug: exit code 1 from the client lets the system's default action
    // follow (no debugger configured, so nothing is started). The dump stays
    // for the debugger, and the client says where.
    Result debug = Run({CRASH_TARGET, "segv", "oxbrin"}, {{"ULMARRO_UNATTENDED", "debug"}});
    EXPECT_EQ(debug.signal(), SIGSEGV);
    ASSERT_EQ(Dumps().size(), 1u);
    EXPECT_NE(debug.err.find("ulmarro: The crash dump is kept for debugging: " + Dumps()[0].string() + "\n"),
              std::string::npos)
        << debug.err;
    EXPECT_EQ(Run({CRASH_TARGET, "abort", "oxbrin"}, {{"ULMARRO_UNATTENDED", "debug"}}).signal(), SIGABRT);
    // With a debugger configured, Debug starts it for the crashed process and
    // waits until it has attached or has ended.
    fs::path seen = dir_ / "debugger.txt";
    fs::path debugger = dir_ / "debugger.sh";
    std::ofstream(debugger) << "#!/bin/sh\necho \"$1\" > '" << seen.string() << "'\n";
    fs::permissions(debugger, fs::perms::owner_all);
    std::ofstream(dir_ / "xdg" / "KORVELL" / "Ulmarro.conf", std::ios::app)
        << "Debugger=" << debugger.string() << " %ld\n";
    for (const auto& old : Dumps()) fs::remove(old);
    Result withDebugger = Run({CRASH_TARGET, "segv", "oxbrin"}, {{"ULMARRO_UNATTENDED", "debug"}});
    EXPECT_EQ(withDebugger.signal(), SIGSEGV) << withDebugger.err;
    std::string pid = ReadFile(seen);
    ASSERT_FALSE(pid.empty());
    dumptest::Dump d;
    ASSERT_EQ(Dumps().size(), 1u);
    ASSERT_TRUE(d.Load(Dumps()[0].string()));
    EXPECT_EQ(std::to_string(d.U32(d.Rva(15) + 8)) + "\n", pid) << "the debugger gets the crashed process id";
    // Send: no upload is possible in this build, so the report goes to the
    // named file, or nowhere without one.
    for (const auto& old : Dumps()) fs::remove(old);
    Result send = Run({CRASH_TARGET, "segv", "oxbrin"}, {{"ULMARRO_UNATTENDED", "send"}});
    EXPECT_EQ(send.exitCode(), 255);
    EXPECT_NE(send.err.find("no upload is possible and no file was named; the report is discarded"),
              std::string::npos)
        << send.err;
    ExpectNothingLeft(send.err);
#if QORB_HAVE_CAB
    Result sendTo =
        Run({CRASH_TARGET, "segv", "oxbrin"}, {{"ULMARRO_UNATTENDED", "send:" + (dir_ / "s.cab").string()}});
    EXPECT_EQ(sendTo.exitCode(), 255);
    EXPECT_TRUE(fs::exists(dir_ / "s.cab")) << sendTo.err;
    ExpectNothingLeft(sendTo.err);
#endif
    // The assemblers end with 2 whatever the answer.
    EXPECT_EQ(Run({CRASH_TARGET, "segv", "qorb11"}, {{"ULMARRO_UNATTENDED", "debug"}}).exitCode(), 2);
    // Nobody to ask and no answer: a message, and the program still ends.
    for (const auto& old : Dumps()) fs::remove(old);
    Result r = Run({CRASH_TARGET, "segv", "oxbrin"}, {},
                   {"ULMARRO_UNATTENDED", "QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"});
    EXPECT_EQ(r.exitCode(), 255);
    EXPECT_NE(r.err.find("Failed to display the dialog window: no display"), std::string::npos) << r.err;
    ExpectNothingLeft(r.err);
}

TEST_F(ClientTest, ConfigurationUserScopeFirstThenSystem) {
    if (!PtraceAllowed()) GTEST_SKIP() << "ptrace is refused on this machine";
    {
        QSettings system(QString::fromStdString((dir_ / "xdg" / "KORVELL" / "Ulmarro.conf").string()),
                         QSettings::IniFormat);
        system.beginGroup(QStringLiteral("Applications/") + QString::fromLatin1(kQorb12Guid));
        system.setValue(QStringLiteral("ProductName"), QStringLiteral("System Product"));
        system.setValue(QStringLiteral("CompanyName"), QStringLiteral("Korvell Ltd"));
        system.setValue(QStringLiteral("Message"), QStringLiteral("system message"));
        QSettings user(QString::fromStdString((dir_ / "home" / "KORVELL" / "Ulmarro.conf").string()),
                       QSettings::IniFormat);
        user.beginGroup(QStringLiteral("Applications/") + QString::fromLatin1(kQorb12Guid));
        user.setValue(QStringLiteral("ProductName"), QStringLiteral("Qorb 12"));
        user.setValue(QStringLiteral("DumpType"), 2);
    }
    fs::path saved = dir_ / "r.cab";
    Result r = Run({CRASH_TARGET, "segv", "qorb12"}, {{"ULMARRO_UNATTENDED", "save:" + saved.string()}});
    EXPECT_EQ(r.exitCode(), 2);
    EXPECT_NE(r.err.find("ulmarro: Qorb 12 has encountered a problem"), std::string::npos) << r.err;
    // details: program - version - module - version - offset, then the message
    EXPECT_NE(r.err.find("details: crash_target - 1.21.0.0 - crash_target - 1.21.0.0 - "), std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find(" | system message"), std::string::npos) << r.err;
    fs::path dump;
#if QORB_HAVE_CAB
    EXPECT_NE(r.err.find("Please send it by e-mail to Korvell Ltd."), std::string::npos) << r.err;
    dump = ExtractDump(saved);
#endif
    ExpectNothingLeft(r.err);
    if (dump.empty()) {
        r = Run({CRASH_TARGET, "segv", "qorb12"}, {{"ULMARRO_UNATTENDED", "debug"}});
        ASSERT_EQ(Dumps().size(), 1u) << r.err;
        dump = Dumps()[0];
    }
    dumptest::Dump d;
    ASSERT_TRUE(d.Load(dump.string()));
    EXPECT_TRUE(d.Has(dumptest::md::kMemory64ListStream)) << "DumpType 2 asks for full memory";
}

TEST_F(ClientTest, HostileCommandLinesGetMessagesNotCrashes) {
    struct Case {
        std::vector<std::string> args;
        const char* message;
    } cases[] = {
        {{ULMARRO}, "Error Reporting cannot be run from the command-line."},
        {{ULMARRO, "-t", "5", "-e", "0x10"}, "Error Reporting cannot be run from the command-line."},
        {{ULMARRO, "-t", "2147483000", "-e", "0x10", "-i", "{X}"}, "Failed to get process information: "},
        {{ULMARRO, "-t", "-1", "-i", "{X}"}, "Failed to get process information: "},
        {{ULMARRO, "-t", std::string(10000, '9'), "-i", std::string(10000, 'A')},
         "Failed to get process information"},
        {{ULMARRO, std::string(10240, '-'), "-i"}, "Error Reporting cannot be run from the command-line."},
    };
    for (const Case& c : cases) {
        Result r = Run(c.args, {{"ULMARRO_UNATTENDED", "decline"}});
        EXPECT_EQ(r.exitCode(), 2) << c.args.size() << " " << r.err;
        EXPECT_NE(
            r.err.find(std::string("The application was unable to create an error report: ") + c.message),
            std::string::npos)
            << r.err;
    }
    // A live process at an address that is not readable, or not a record.
    if (!PtraceAllowed()) GTEST_SKIP() << "ptrace is refused on this machine";
    pid_t victim = fork();
    if (victim == 0) {
        for (;;) pause();
    }
    std::string tid = std::to_string(victim);
    for (const char* address : {"0x10", "0xFFFFFFFFFFFFFFF0", "0"}) {
        Result r = Run({ULMARRO, "-t", tid, "-e", address, "-i", "{X}"}, {{"ULMARRO_UNATTENDED", "decline"}});
        if (std::string(address) == "0") {
            EXPECT_EQ(r.exitCode(), 0) << "no address: a dump without exception information\n" << r.err;
        } else {
            EXPECT_EQ(r.exitCode(), 2);
            EXPECT_NE(r.err.find("Failed to get exception information: "), std::string::npos) << r.err;
        }
    }
    // The process was let go each time.
    std::string status = ReadFile("/proc/" + tid + "/status");
    EXPECT_EQ(status.find("tracing stop"), std::string::npos);
    EXPECT_NE(status.find("TracerPid:\t0"), std::string::npos);
    kill(victim, SIGKILL);
    waitpid(victim, nullptr, 0);
    // Declined: no dump stays behind, not even one without exception information.
    EXPECT_TRUE(Dumps().empty());
    // Thread id 0: the client's parent is the crashed process (here, this test,
    // which allows its children to read it as the crash hook does). Debug
    // keeps the dump to look at.
    {
        prctl(PR_SET_PTRACER, PR_SET_PTRACER_ANY, 0, 0, 0);
        Result parent = Run({ULMARRO, "-t", "0", "-i", "{X}"}, {{"ULMARRO_UNATTENDED", "debug"}});
        EXPECT_EQ(parent.exitCode(), 1) << parent.err;
        auto dumps = Dumps();
        ASSERT_EQ(dumps.size(), 1u);
        dumptest::Dump d;
        ASSERT_TRUE(d.Load(dumps[0].string()));
        EXPECT_EQ(d.U32(d.Rva(15) + 8), static_cast<std::uint32_t>(getpid()));
    }
    // An unknown unattended answer is a failure with a message.
    Result r = Run({ULMARRO, "-t", "0", "-i", "{X}"}, {{"ULMARRO_UNATTENDED", "maybe"}});
    EXPECT_EQ(r.exitCode(), 2);
    EXPECT_NE(r.err.find("ULMARRO_UNATTENDED has no known answer"), std::string::npos) << r.err;
}

TEST_F(ClientTest, RegistrationIsWhatTheHookReads) {
    fs::remove(dir_ / "xdg" / "KORVELL" / "Ulmarro.conf");
    fs::remove(dir_ / "xdg" / "KORVELL");
    EXPECT_EQ(Run({ULMARRO, "-RegServer"}).exitCode(), 0);
    setenv("XDG_CONFIG_DIRS", (dir_ / "xdg").c_str(), 1);
    EXPECT_EQ(crashhook::ReadClientPath(), fs::canonical(ULMARRO).string());
    EXPECT_EQ(Run({ULMARRO, "/UnregServer"}).exitCode(), 0);
    EXPECT_EQ(crashhook::ReadClientPath(), "");
    // Values the settings layer has to escape survive the trip to the hook.
    const QString odd = QStringLiteral("/opt/Korvell Tools; v1,2/\u00fcml \"x\"/ulmarro");
    {
        QSettings s(QString::fromStdString((dir_ / "xdg" / "KORVELL" / "Ulmarro.conf").string()),
                    QSettings::IniFormat);
        s.setValue(QStringLiteral("Default"), odd);
    }
    EXPECT_EQ(crashhook::ReadClientPath(), odd.toStdString());
    unsetenv("XDG_CONFIG_DIRS");
    // Nowhere to write: a message and exit code 2.
    Result r = Run({ULMARRO, "-RegServer"}, {{"XDG_CONFIG_DIRS", "/proc/no-such-dir"}});
    EXPECT_EQ(r.exitCode(), 2);
    EXPECT_NE(r.err.find("Failed to initialize application:"), std::string::npos) << r.err;
}

TEST_F(ClientTest, AssemblerCrashMeReachesTheClient) {
#ifdef QORB12
    if (!PtraceAllowed()) GTEST_SKIP() << "ptrace is refused on this machine";
    // Debug keeps the dump (the assembler ends with 2 all the same).
    Result r = Run({QORB12, "-CrashMe"}, {{"ULMARRO_UNATTENDED", "debug"}});
    if (Dumps().empty() && r.exitCode() != 2)
        GTEST_SKIP() << "qorb12 does not reach the crash hook with -CrashMe yet: " << r.err;
    EXPECT_EQ(r.exitCode(), 2) << r.err;
    ASSERT_EQ(Dumps().size(), 1u);
    dumptest::Dump d;
    ASSERT_TRUE(d.Load(Dumps()[0].string()));
    EXPECT_EQ(d.U32(d.Rva(6) + 8), static_cast<std::uint32_t>(SIGSEGV));
    EXPECT_NE(r.err.find("details: qorb12 - "), std::string::npos) << r.err;
#else
    GTEST_SKIP() << "qorb12 is not part of this build";
#endif
}

} // namespace
