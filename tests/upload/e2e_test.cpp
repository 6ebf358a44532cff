// End to end: qorb12 crashes on purpose, its hook starts the real client,
// which answers "send" unattended and uploads to the local test server; the
// cabinet the server received extracts to the dump the client wrote.

#include "minidump_view.h"
#include "server_fixture.h"

#include <QSettings>
#include <QString>

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include <fcntl.h>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using uploadtest::Request;

namespace {

const char* kQorb12Guid = "{2D4B4EFA-B16D-4DE8-AA49-CB5CB9AB568D}";

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

} // namespace

class SendReport : public uploadtest::ServerTest {
  protected:
    // Runs `args` with the client registered and configured for `reportUrl`;
    // returns the exit status, standard error in `err`.
    int RunCrash(const std::vector<std::string>& args, const std::string& reportUrl, std::string* err) {
        fs::path root = dir_ + "/e2e";
        fs::create_directories(root / "tmp");
        fs::create_directories(root / "home");
        fs::create_directories(root / "xdg" / "KORVELL");
        {
            QSettings system(QString::fromStdString((root / "xdg" / "KORVELL" / "Ulmarro.conf").string()),
                             QSettings::IniFormat);
            system.setValue(QStringLiteral("Default"), QStringLiteral(ULMARRO));
            system.beginGroup(QStringLiteral("Applications/") + QString::fromLatin1(kQorb12Guid));
            system.setValue(QStringLiteral("ReportUrl"), QString::fromStdString(reportUrl));
            system.setValue(QStringLiteral("ProductName"), QStringLiteral("Qorb 12"));
        }
        const std::map<std::string, std::string> env = {{"XDG_CONFIG_DIRS", (root / "xdg").string()},
                                                        {"XDG_CONFIG_HOME", (root / "home").string()},
                                                        {"TMPDIR", (root / "tmp").string()},
                                                        {"QT_QPA_PLATFORM", "offscreen"},
                                                        {"ULMARRO_UNATTENDED", "send"}};
        const fs::path errFile = root / "stderr.txt";
        pid_t child = fork();
        if (child == 0) {
            for (const auto& [k, v] : env)
                setenv(k.c_str(), v.c_str(), 1);
            unsetenv("http_proxy");
            int fd = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            dup2(fd, 2);
            int null = open("/dev/null", O_RDWR);
            dup2(null, 0);
            dup2(null, 1);
            std::vector<std::string> a = args;
            std::vector<char*> argv;
            for (auto& s : a)
                argv.push_back(s.data());
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(99);
        }
        int status = 0;
        waitpid(child, &status, 0);
        *err = uploadtest::ReadFile(errFile.string());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    std::vector<fs::path> Files(const char* extension) {
        std::vector<fs::path> out;
        for (const auto& e : fs::directory_iterator(dir_ + "/e2e/tmp"))
            if (e.path().extension() == extension) out.push_back(e.path());
        return out;
    }
};

TEST_F(SendReport, AssemblerCrashIsUploadedAndTheCabinetHoldsTheDump) {
    if (!PtraceAllowed()) GTEST_SKIP() << "ptrace is refused on this machine";
    std::string err;
    int code = RunCrash({QORB12, "-CrashMe"}, Url("/ok/url"), &err);
    EXPECT_EQ(code, 2) << err;
    EXPECT_NE(err.find("Checking status of error report..."), std::string::npos) << err;
    EXPECT_NE(err.find("Please wait while Error Reporting is uploading the report..."), std::string::npos)
        << err;
    EXPECT_NE(err.find("Please follow the link below"), std::string::npos) << err;
    EXPECT_NE(err.find("http://reports.example/kb/42"), std::string::npos) << err;

    std::vector<Request> r = Requests();
    ASSERT_EQ(r.size(), 3u) << err;
    EXPECT_NE(r[0].body.find("&ApplicationName=qorb12&"), std::string::npos) << r[0].body;
    EXPECT_EQ(r[0].body.rfind("Action=QueryStatus&ProductName=Qorb+12&", 0), 0u) << r[0].body;
    ASSERT_EQ(r[2].kind, "submit");
    ASSERT_EQ(r[2].received, r[2].expected);

    // Cut the cabinet out of the form and extract it.
    const std::string& body = r[2].body;
    const std::string marker = "Content-Type: application/octet-stream\r\n\r\n";
    std::size_t start = body.find(marker);
    ASSERT_NE(start, std::string::npos);
    start += marker.size();
    std::size_t end = body.rfind("\r\n--");
    ASSERT_NE(end, std::string::npos);
    const std::string cabinet = body.substr(start, end - start);
    EXPECT_EQ(cabinet.compare(0, 4, "MSCF"), 0);
    // The file part is named after the cabinet the client made (deleted by now).
    EXPECT_NE(body.find("filename=\"" + dir_ + "/e2e/tmp/~zk"), std::string::npos);
    EXPECT_TRUE(Files(".cab").empty());

    std::vector<fs::path> dumps = Files(".dmp");
    ASSERT_EQ(dumps.size(), 1u);
    // What the contents view shows of this dump.
    ulmarro::contents::SectionList view;
    ASSERT_TRUE(view.Open(dumps[0].string()));
    ASSERT_GT(view.SectionCount(), 3u);
    EXPECT_EQ(view.Section(0).LineText(1), "Code: ACCESS_VIOLATION");
    bool qorb12 = false;
    for (std::size_t i = 0; i < view.SectionCount(); ++i)
        qorb12 = qorb12 || (view.Section(i).LineText(0).rfind("Module ", 0) == 0 &&
                            view.Section(i).LineText(1) == "qorb12");
    EXPECT_TRUE(qorb12);
    if (std::system("command -v cabextract >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "cabextract is not installed";
    const std::string cab = dir_ + "/received.cab", out = dir_ + "/extracted";
    uploadtest::WriteFile(cab, cabinet);
    fs::create_directories(out);
    ASSERT_EQ(std::system(("cabextract -q -d '" + out + "' '" + cab + "'").c_str()), 0);
    std::vector<fs::path> extracted;
    for (const auto& e : fs::directory_iterator(out))
        extracted.push_back(e.path());
    ASSERT_EQ(extracted.size(), 1u);
    EXPECT_TRUE(uploadtest::ReadFile(extracted[0].string()) == uploadtest::ReadFile(dumps[0].string()))
        << "the cabinet does not hold the dump";
}

TEST_F(SendReport, ServerThatDeclinesGetsNoCabinet) {
    if (!PtraceAllowed()) GTEST_SKIP() << "ptrace is refused on this machine";
    std::string err;
    EXPECT_EQ(RunCrash({QORB12, "-CrashMe"}, Url("/cancel/ok"), &err), 2) << err;
    EXPECT_NE(err.find("We apologize for the inconvenience"), std::string::npos) << err;
    EXPECT_EQ(Requests().size(), 1u);
    ClearRequests();
    EXPECT_EQ(RunCrash({QORB12, "-CrashMe"}, Url("/500/ok"), &err), 2) << err;
    EXPECT_NE(err.find("Failed to check issue status: HTTP 500 - Internal Server Error"), std::string::npos)
        << err;
}
