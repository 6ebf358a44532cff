// End to end: qorb12 crashes on purpose, its hook starts the real client,
// which answers "send" unattended and uploads to the local test server. Good
// servers get the report; bad ones (errors, resets, redirect loops, drips,
// silence, endless answers, untrusted certificates) must neither hang the
// crashed program nor lose the report, and nothing may stay behind in TMPDIR.

#include "../client/dump_reader.h"
#include "server_fixture.h"

#include <QSettings>
#include <QString>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <map>
#include <thread>

#include <fcntl.h>
#include <sys/ptrace.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using uploadtest::Request;

namespace {

const char* kQorb12Guid = "{2D4B4EFA-B16D-4DE8-AA49-CB5CB9AB568D}";
const char* kSaved = "The error report has been saved.  Please send it by e-mail to support@korvell.invalid.";

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

bool Have(const std::string& tool) {
    return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0;
}

// The client's deadlines scaled down so that a misbehaving server costs
// seconds, not minutes; each one still far above what a local answer takes.
// (At a byte a second any cabinet reaches the upload's maximum.)
const std::map<std::string, std::string> kFastDeadlines = {{"StatusSeconds", "3"},
                                                           {"UploadSeconds", "3"},
                                                           {"UploadBytesPerSecond", "1"},
                                                           {"UploadMaxSeconds", "4"},
                                                           {"StallSeconds", "1.5"}};

} // namespace

class SendReport : public uploadtest::ServerTest {
protected:
    struct Crash {
        int code = -1;     // qorb12's exit code; -1 when it had to be killed
        std::string err;   // what the client told (standard error)
        std::string saved; // where send:PATH points
        bool ended() const { return code != -1; }
    };

    void SetUp() override {
        ServerTest::SetUp();
        if (!PtraceAllowed()) GTEST_SKIP() << "ptrace is refused on this machine";
    }

    // Crashes qorb12 with the client registered and configured for
    // `reportUrl` and the given deadlines; answers `answer` (with a PATH
    // inside the test directory for "send:"). Bounded: a crash that has not
    // ended after two minutes is killed with its client.
    Crash RunCrash(const std::string& reportUrl, const std::map<std::string, std::string>& deadlines = {},
                   const std::string& answer = "send:") {
        Crash crash;
        pid_t child = StartCrash(reportUrl, deadlines, answer, &crash);
        WaitForCrash(child, &crash);
        return crash;
    }

    pid_t StartCrash(const std::string& reportUrl, const std::map<std::string, std::string>& deadlines,
                     const std::string& answer, Crash* crash) {
        fs::path root = dir_ + "/e2e";
        fs::create_directories(root / "tmp");
        fs::create_directories(root / "home");
        fs::create_directories(root / "xdg" / "KORVELL");
        fs::remove(root / "saved.cab");
        {
            QSettings system(QString::fromStdString((root / "xdg" / "KORVELL" / "Ulmarro.conf").string()),
                             QSettings::IniFormat);
            system.clear();
            system.setValue(QStringLiteral("Default"), QStringLiteral(ULMARRO));
            system.beginGroup(QStringLiteral("Applications/") + QString::fromLatin1(kQorb12Guid));
            system.setValue(QStringLiteral("ReportUrl"), QString::fromStdString(reportUrl));
            system.setValue(QStringLiteral("ProductName"), QStringLiteral("Qorb 12"));
            system.setValue(QStringLiteral("SupportEmail"), QStringLiteral("support@korvell.invalid"));
            system.endGroup();
            for (const auto& [key, value] : deadlines)
                system.setValue(QStringLiteral("Deadlines/") + QString::fromStdString(key),
                                QString::fromStdString(value));
        }
        crash->saved = (root / "saved.cab").string();
        const std::string unattended = answer == "send:" ? "send:" + crash->saved : answer;
        const std::map<std::string, std::string> env = {{"XDG_CONFIG_DIRS", (root / "xdg").string()},
                                                        {"XDG_CONFIG_HOME", (root / "home").string()},
                                                        {"TMPDIR", (root / "tmp").string()},
                                                        {"QT_QPA_PLATFORM", "offscreen"},
                                                        {"ULMARRO_UNATTENDED", unattended}};
        const fs::path errFile = root / "stderr.txt";
        pid_t child = fork();
        if (child == 0) {
            setpgid(0, 0); // the crashed program and its client, to be ended together
            for (const auto& [k, v] : env) setenv(k.c_str(), v.c_str(), 1);
            unsetenv("http_proxy");
            unsetenv("https_proxy");
            int fd = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            dup2(fd, 2);
            int null = open("/dev/null", O_RDWR);
            dup2(null, 0);
            dup2(null, 1);
            const char* argv[] = {QORB12, "-CrashMe", nullptr};
            execv(argv[0], const_cast<char**>(argv));
            _exit(99);
        }
        setpgid(child, child);
        return child;
    }

    void WaitForCrash(pid_t child, Crash* crash) {
        int status = 0;
        const auto bound = std::chrono::steady_clock::now() + std::chrono::minutes(2);
        while (waitpid(child, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > bound) {
                kill(-child, SIGKILL);
                waitpid(child, &status, 0);
                status = -1;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        crash->err = uploadtest::ReadFile(dir_ + "/e2e/stderr.txt");
        if (status != -1 && WIFEXITED(status))
            crash->code = WEXITSTATUS(status);
        else if (status != -1)
            crash->code = 128 + WTERMSIG(status);
    }

    // The client the crashed program started (its child).
    pid_t ClientOf(pid_t crashed) {
        for (const auto& e : fs::directory_iterator("/proc")) {
            const std::string stat = uploadtest::ReadFile((e.path() / "stat").string());
            const std::size_t close = stat.rfind(')');
            if (close == std::string::npos) continue;
            int ppid = 0;
            char state = 0;
            if (std::sscanf(stat.c_str() + close + 1, " %c %d", &state, &ppid) == 2 && ppid == crashed &&
                stat.find("(ulmarro)") != std::string::npos)
                return std::atoi(e.path().filename().c_str());
        }
        return -1;
    }

    // What the crash left in TMPDIR (dumps, cabinets, anything).
    std::vector<std::string> LeftInTmp() {
        std::vector<std::string> out;
        for (const auto& e : fs::directory_iterator(dir_ + "/e2e/tmp"))
            out.push_back(e.path().filename().string());
        return out;
    }

    // The crash ended, the client said why the upload failed and that the
    // report was saved, the report is at PATH (private), nothing is left.
    void ExpectSavedAfterFailure(const Crash& crash, const std::string& failure) {
        ASSERT_TRUE(crash.ended()) << "qorb12 was still waiting for the client\n" << crash.err;
        EXPECT_EQ(crash.code, 2) << crash.err;
        EXPECT_NE(crash.err.find("ulmarro: " + failure), std::string::npos) << crash.err;
        EXPECT_NE(crash.err.find(kSaved), std::string::npos) << crash.err;
        struct stat st {};
        ASSERT_EQ(stat(crash.saved.c_str(), &st), 0) << "the report was lost\n" << crash.err;
        EXPECT_EQ(st.st_mode & 0777, 0600u) << "a saved report is private";
        EXPECT_EQ(uploadtest::ReadFile(crash.saved).compare(0, 4, "MSCF"), 0);
        EXPECT_EQ(LeftInTmp(), std::vector<std::string>{}) << "left behind in TMPDIR";
    }
};

TEST_F(SendReport, AssemblerCrashIsUploadedAndTheCabinetHoldsTheDump) {
    Crash crash = RunCrash(Url("/ok/url"), {}, "send");
    ASSERT_TRUE(crash.ended()) << crash.err;
    EXPECT_EQ(crash.code, 2) << crash.err;
    EXPECT_NE(crash.err.find("Checking status of error report..."), std::string::npos) << crash.err;
    EXPECT_NE(crash.err.find("Please wait while Error Reporting is uploading the report..."),
              std::string::npos)
        << crash.err;
    EXPECT_NE(crash.err.find("Please follow the link below"), std::string::npos) << crash.err;
    EXPECT_NE(crash.err.find("http://reports.example/kb/42"), std::string::npos) << crash.err;

    std::vector<Request> r = Requests();
    ASSERT_EQ(r.size(), 3u) << crash.err;
    EXPECT_NE(r[0].body.find("&ApplicationName=qorb12&"), std::string::npos) << r[0].body;
    EXPECT_EQ(r[0].body.rfind("Action=QueryStatus&ProductName=Qorb+12&", 0), 0u) << r[0].body;
    ASSERT_EQ(r[2].kind, "submit");
    ASSERT_EQ(r[2].received, r[2].expected);

    // Cut the cabinet out of the form.
    const std::string& body = r[2].body;
    const std::string marker = "Content-Type: application/octet-stream\r\n\r\n";
    std::size_t start = body.find(marker);
    ASSERT_NE(start, std::string::npos);
    start += marker.size();
    std::size_t end = body.rfind("\r\n--");
    ASSERT_NE(end, std::string::npos);
    const std::string cabinet = body.substr(start, end - start);
    EXPECT_EQ(cabinet.compare(0, 4, "MSCF"), 0);
    // The file part names the cabinet by its file name only: the server
    // learns nothing of the user's directories.
    const std::size_t name = body.find("; filename=\"");
    ASSERT_NE(name, std::string::npos);
    const std::string filename = body.substr(name + 12, body.find('"', name + 12) - name - 12);
    EXPECT_EQ(filename.rfind("~zk", 0), 0u) << filename;
    EXPECT_EQ(filename.find('/'), std::string::npos) << filename;
    EXPECT_EQ(fs::path(filename).extension(), ".cab") << filename;
    // Sent: neither the dump nor the cabinet stays behind.
    EXPECT_EQ(LeftInTmp(), std::vector<std::string>{});

    if (!Have("cabextract")) GTEST_SKIP() << "cabextract is not installed";
    const std::string cab = dir_ + "/received.cab", out = dir_ + "/extracted";
    uploadtest::WriteFile(cab, cabinet);
    fs::create_directories(out);
    ASSERT_EQ(std::system(("cabextract -q -d '" + out + "' '" + cab + "'").c_str()), 0);
    std::vector<fs::path> extracted;
    for (const auto& e : fs::directory_iterator(out)) extracted.push_back(e.path());
    ASSERT_EQ(extracted.size(), 1u);
    EXPECT_EQ(extracted[0].filename().string().rfind("~zk", 0), 0u);
    EXPECT_EQ(extracted[0].extension(), ".dmp");
    // The dump of this crash: a segmentation fault in qorb12.
    dumptest::Dump d;
    ASSERT_TRUE(d.Load(extracted[0].string()));
    ASSERT_TRUE(d.Has(dumptest::md::kExceptionStream) && d.Has(dumptest::md::kModuleListStream));
    EXPECT_EQ(d.U32(d.Rva(6) + 8), static_cast<std::uint32_t>(SIGSEGV));
    bool qorb12 = false;
    for (const auto& m : d.Modules()) qorb12 = qorb12 || fs::path(m.name).filename() == "qorb12";
    EXPECT_TRUE(qorb12);
}

TEST_F(SendReport, ServerThatDeclinesGetsNoCabinet) {
    Crash crash = RunCrash(Url("/cancel/ok"));
    ASSERT_TRUE(crash.ended());
    EXPECT_EQ(crash.code, 2) << crash.err;
    EXPECT_NE(crash.err.find("We apologize for the inconvenience"), std::string::npos) << crash.err;
    EXPECT_EQ(Requests().size(), 1u);
    // The server has what it wants: nothing is saved, nothing is left.
    EXPECT_FALSE(fs::exists(crash.saved));
    EXPECT_EQ(LeftInTmp(), std::vector<std::string>{});
}

// Every way an upload can fail quickly ends the crash at once, and the
// report goes to send:PATH.
TEST_F(SendReport, FailedUploadsAreSavedToThePathGiven) {
    const std::string status = "Failed to check issue status: ", upload = "Failed to upload error report: ";
    struct Case {
        const char* path;
        std::string failure;
    } cases[] = {
        {"/500/ok", status + "HTTP 500 - Internal Server Error"},
        {"/ok/404", upload + "HTTP 404 - Not Found"},
        {"/redirect/ok", status + "The error reporting server returned an invalid response."},
        {"/ok/reset", upload},
        {"/badlength/ok", status},
        {"/huge/ok", status + "The error reporting server returned an invalid response."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        ClearRequests();
        ExpectSavedAfterFailure(RunCrash(Url(c.path), kFastDeadlines), c.failure);
    }
    // A reset connection is tried three times before the report is saved.
    ClearRequests();
    RunCrash(Url("/ok/reset"), kFastDeadlines);
    std::size_t submits = 0;
    for (const Request& q : Requests()) submits += q.kind == "submit";
    EXPECT_EQ(submits, 3u);

    // Nobody listening at all.
    const std::string refused = Url("/ok/ok");
    Stop();
    ExpectSavedAfterFailure(RunCrash(refused, kFastDeadlines), status);
}

// Servers that keep the connection open: the deadlines end the wait.
TEST_F(SendReport, SlowServersAreCutOffByTheDeadlines) {
    const std::string status = "Failed to check issue status: ", upload = "Failed to upload error report: ";
    struct Case {
        const char* path;
        std::string failure;
    } cases[] = {
        {"/drip/ok", status + "The server did not answer within 3 seconds."},
        {"/silent/ok", status + "Nothing was sent or received for 1.5 seconds."},
        {"/stall/ok", status + "Nothing was sent or received for 1.5 seconds."},
        {"/ok/drip", upload + "The upload did not end within 4 seconds."},
        {"/ok/silent", upload + "Nothing was sent or received for 1.5 seconds."},
    };
    // A drip moves a byte a second: no stall, only the deadline ends it.
    auto dripping = kFastDeadlines;
    dripping["StallSeconds"] = "30";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        const bool drip = std::string(c.path).find("drip") != std::string::npos;
        ExpectSavedAfterFailure(RunCrash(Url(c.path), drip ? dripping : kFastDeadlines), c.failure);
    }
}

// Unattended, the client ends within its own overall limit even when every
// single request keeps within its deadline.
TEST_F(SendReport, UnattendedRunHasAnOverallLimit) {
    Crash crash = RunCrash(Url("/drip/ok"), {{"UnattendedSeconds", "2"}});
    ExpectSavedAfterFailure(crash, "Failed to check issue status: Error Reporting stopped after 2 seconds.");
}

TEST_F(SendReport, UntrustedCertificateIsRefusedAndTheReportSaved) {
    if (!StartTlsServer()) GTEST_SKIP() << "openssl could not make a test certificate";
    Crash crash = RunCrash(Url("/ok/ok"), kFastDeadlines);
    ExpectSavedAfterFailure(crash, "Failed to check issue status: ");
    EXPECT_NE(crash.err.find("certificate"), std::string::npos) << crash.err;
    EXPECT_TRUE(Requests().empty());
}

// Without a PATH a failed report is discarded, and says so.
TEST_F(SendReport, FailedUploadWithoutPathIsDiscarded) {
    Crash crash = RunCrash(Url("/500/ok"), kFastDeadlines, "send");
    ASSERT_TRUE(crash.ended());
    EXPECT_EQ(crash.code, 2);
    EXPECT_NE(crash.err.find("the report is discarded"), std::string::npos) << crash.err;
    EXPECT_EQ(LeftInTmp(), std::vector<std::string>{});
}

// A client ended from outside (logout, kill) while the server keeps it
// waiting takes the report's files with it, and the crashed program ends.
TEST_F(SendReport, ClientEndedFromOutsideLeavesNothing) {
    Crash crash;
    pid_t crashed = StartCrash(Url("/silent/ok"), {}, "send", &crash);
    for (int i = 0; i < 600 && Requests().empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_EQ(Requests().size(), 1u) << "the client never asked the server";
    EXPECT_EQ(LeftInTmp().size(), 1u) << "the dump, while the client works";
    pid_t client = ClientOf(crashed);
    ASSERT_GT(client, 0);
    kill(client, SIGTERM);
    WaitForCrash(crashed, &crash);
    ASSERT_TRUE(crash.ended()) << crash.err;
    EXPECT_EQ(crash.code, 2) << crash.err;
    EXPECT_EQ(LeftInTmp(), std::vector<std::string>{});
}
