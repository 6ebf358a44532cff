// ulmarro: the error-reporting client that a crashing program starts.
//
// Everything that touches the crashed process (ptrace, memory, the minidump)
// happens first, on the main thread and before Qt starts any thread of its
// own; the process is let go as soon as the dump is written. Only then does
// the client talk to the user.

#include "contents_dialog.h"
#include "core/commandline.h"
#include "core/minidump_writer.h"
#include "core/process.h"
#include "core/tempfiles.h"
#include "dialogs.h"
#include "report.h"
#include "reportfiles.h"
#include "settings.h"
#include "texts.h"
#include "unattended.h"
#include "upload_dialog.h"

#include <QApplication>
#include <QFileInfo>
#include <QMessageBox>
#include <QProcess>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <optional>
#include <string>

#include <fcntl.h>
#include <unistd.h>

namespace ulmarro {
namespace {

enum ExitCode { kDone = 0, kDebug = 1, kFailed = 2 };

// The client's own last resort: a fault in the client must not leave the
// crashed program waiting, nor start another client.
void OwnCrashHandler(int sig, siginfo_t* info, void*) {
    static const char hex[] = "0123456789ABCDEF";
    char line[] = "KORVELL Error Reporting: An internal error has occurred (0x00000000, 0x00000000).\n";
    char* first = std::strchr(line, '(') + 3;
    char* second = first + 12;
    unsigned a = static_cast<unsigned>(sig);
    unsigned b = info ? static_cast<unsigned>(info->si_code) : 0;
    for (int i = 7; i >= 0; --i, a >>= 4, b >>= 4) {
        first[i] = hex[a & 0xF];
        second[i] = hex[b & 0xF];
    }
    ssize_t ignored = write(2, line, sizeof line - 1);
    (void)ignored;
    RemoveTrackedFiles();
    _exit(kFailed);
}

// Ended from outside (logout, kill): the report's files go with the client.
void TerminationHandler(int sig) {
    RemoveTrackedFiles();
    signal(sig, SIG_DFL);
    raise(sig);
}

void InstallOwnCrashHandler() {
    struct sigaction action {};
    action.sa_sigaction = OwnCrashHandler;
    action.sa_flags = SA_SIGINFO | SA_RESETHAND;
    for (int sig : {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGTRAP}) sigaction(sig, &action, nullptr);
    struct sigaction end {};
    end.sa_handler = TerminationHandler;
    end.sa_flags = SA_RESETHAND;
    for (int sig : {SIGTERM, SIGHUP, SIGINT}) sigaction(sig, &end, nullptr);
}

QString Format(const char* pattern, const QString& a) {
    return QString::fromUtf8(pattern).replace(QStringLiteral("%s"), a);
}

QString Format(const char* pattern, const QString& a, const QString& b) {
    QString text = QString::fromUtf8(pattern);
    int at = text.indexOf(QStringLiteral("%s"));
    if (at >= 0) text.replace(at, 2, a);
    at = text.indexOf(QStringLiteral("%s"), at >= 0 ? at + static_cast<int>(a.size()) : 0);
    if (at >= 0) text.replace(at, 2, b);
    return text;
}

// True while the process exists and is not a zombie that nobody has reaped.
bool ProcessRunning(qint64 pid) {
    if (pid <= 0) return false;
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat;
    std::getline(in, stat);
    std::size_t close = stat.rfind(')');
    return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] != 'Z' &&
           stat[close + 2] != 'X';
}

class Client {
public:
    Client(int& argc, char** argv) : argc_(argc), argv_(argv) {}

    int Run();

private:
    int Fail(const QString& message);
    int Register(Registration registration);
    bool Collect(const CommandLine& commandLine, int* exitCode);
    int Answer();
    int Unattended(const UnattendedAnswer& answer);
    int StartDebugger();
    void Say(const QString& line) const;
    bool SaveReport(ReportCabinet& cabinet, const QString& target);
    std::optional<upload::ReportUrl> UploadTarget() const;
    upload::ReportFields UploadFields() const;
    upload::CabinetBuilder CabinetBuilderFor(ReportCabinet& cabinet) const;
    QApplication& Gui() {
        if (!app_) app_ = std::make_unique<QApplication>(argc_, argv_);
        return *app_;
    }

    int& argc_;
    char** argv_;
    std::unique_ptr<QApplication> app_;
    UnattendedAnswer answer_;
    ReportInfo info_;
};

int Client::Fail(const QString& message) {
    QString text = Format(text::kUnableToCreate, message);
    std::fprintf(stderr, "%s: %s\n", text::kCaption, text.toLocal8Bit().constData());
    if (answer_.kind == UnattendedAnswer::None && DisplayAvailable()) {
        Gui();
        QMessageBox::critical(nullptr, QString::fromUtf8(text::kCaption), text);
    }
    return kFailed;
}

int Client::Register(Registration registration) {
    QString error;
    bool ok;
    if (registration == Registration::Register) {
        char self[4096];
        ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
        if (n <= 0) return Fail(Format(text::kInitFailed, QString::fromLocal8Bit(std::strerror(errno))));
        ok = RegisterClient(QString::fromLocal8Bit(self, static_cast<int>(n)), &error);
    } else {
        ok = UnregisterClient(&error);
    }
    if (!ok) return Fail(Format(text::kInitFailed, SystemSettingsPath() + QStringLiteral(": ") + error));
    return kDone;
}

bool Client::Collect(const CommandLine& commandLine, int* exitCode) {
    CrashedProcess process;
    auto fail = [&](const char* pattern, const Failure& failure) {
        process.Detach(); // the crashed program must not wait for our message box
        *exitCode = Fail(Format(pattern, QString::fromStdString(failure.Describe())));
        return false;
    };
    if (Failure f = process.Find(commandLine.threadId); f.failed()) return fail(text::kProcessFailed, f);
    if (Failure f = process.Suspend(); f.failed()) return fail(text::kProcessFailed, f);
    if (Failure f = process.ReadException(commandLine.exceptionAddress); f.failed())
        return fail(text::kExceptionFailed, f);
    if (Failure f = process.ReadModules(); f.failed()) return fail(text::kModuleFailed, f);

    info_.processId = process.pid();
    info_.executablePath = QString::fromStdString(process.executablePath());
    info_.applicationName = QFileInfo(info_.executablePath).fileName().toLower();
    info_.applicationVersion = QString::fromStdString(VersionText(process.executableIdentity()));
    if (const ModuleInfo* module = process.faultingModule()) {
        info_.moduleName = QFileInfo(QString::fromStdString(module->path)).fileName().toLower();
        info_.moduleVersion = QString::fromStdString(VersionText(module->identity));
        info_.offset = process.exceptionPc() - module->base;
    } else {
        info_.moduleName = QStringLiteral("unknown");
        info_.moduleVersion = QStringLiteral("0.0.0.0");
        info_.offset = process.exceptionPc();
    }
    info_.config = LoadConfig(QString::fromStdString(commandLine.applicationId));
    ApplyFallbacks(info_);
    info_.debuggerCommand = ConfiguredDebugger();

    std::string dumpPath;
    Failure failure;
    int fd = CreateTemporaryFile("dmp", &dumpPath, &failure);
    if (fd < 0) {
        std::string pattern = TemporaryDirectory() + "~zk*.dmp";
        process.Detach();
        *exitCode = Fail(Format(text::kDumpFailed, QString::fromStdString(pattern),
                                QString::fromStdString(failure.Describe())));
        return false;
    }
    // From here on the dump is the client's to remove, whatever ends it.
    TrackFile(TrackedFile::Dump, dumpPath);
    failure = WriteMinidump(process, info_.config.dumpType, fd);
    if (close(fd) != 0 && !failure.failed()) failure = FailureFromErrno(errno);
    process.Detach();
    info_.dumpPath = QString::fromStdString(dumpPath);
    if (failure.failed()) {
        UntrackFile(TrackedFile::Dump);
        unlink(dumpPath.c_str());
        *exitCode =
            Fail(Format(text::kDumpFailed, info_.dumpPath, QString::fromStdString(failure.Describe())));
        return false;
    }
    return true;
}

void Client::Say(const QString& line) const {
    std::fprintf(stderr, "ulmarro: %s\n", line.toLocal8Bit().constData());
}

// Copies the report to `target`, building the cabinet first if the upload
// did not get that far; says what became of it.
bool Client::SaveReport(ReportCabinet& cabinet, const QString& target) {
    QString error;
    if (cabinet.path().isEmpty()) {
        Say(QString::fromUtf8(text::kPreparing));
        if (!cabinet.Build(info_.dumpPath, nullptr, nullptr, &error)) {
            Say(Format(text::kPrepareFailed, error));
            return false;
        }
    }
    Say(QString::fromUtf8(text::kSaving));
    if (!cabinet.CopyTo(target)) {
        Say(Format(text::kSaveFailed, target));
        return false;
    }
    Say(SavedStatus(info_));
    Say(QStringLiteral("report: ") + target);
    return true;
}

// Debug: the dump stays for the debugger (everything else removes it), and
// the user is told where it is.
int Client::StartDebugger() {
    UntrackFile(TrackedFile::Dump);
    const QString kept = Format(text::kDumpKept, info_.dumpPath);
    Say(kept);
    if (answer_.kind == UnattendedAnswer::None && app_)
        QMessageBox::information(nullptr, QString::fromUtf8(text::kCaption), kept);
    if (info_.debuggerCommand.isEmpty()) return kDebug;
    QString command = info_.debuggerCommand;
    command.replace(QStringLiteral("%ld"), QString::number(info_.processId));
    qint64 debuggerPid = 0;
    if (!QProcess::startDetached(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), command}, QString(),
                                 &debuggerPid))
        return kDebug;
    // Wait until the debugger has attached (or has given up), so that the
    // crashed program stops under it when it takes its default action.
    const std::string status = "/proc/" + std::to_string(info_.processId) + "/status";
    for (int i = 0; i < 1200; ++i) {
        std::ifstream in(status);
        std::string line;
        while (std::getline(in, line))
            if (line.rfind("TracerPid:", 0) == 0 && std::atol(line.c_str() + 10) != 0) return kDebug;
        if (!ProcessRunning(debuggerPid)) return kDebug;
        usleep(50000);
    }
    return kDebug;
}

// An upload is offered only for an HTTP or HTTPS address with host and path.
std::optional<upload::ReportUrl> Client::UploadTarget() const {
    return upload::ParseReportUrl(info_.config.reportUrl.toStdString());
}

upload::ReportFields Client::UploadFields() const {
    upload::ReportFields f;
    f.productName = info_.config.productName.toStdString();
    f.applicationName = info_.applicationName.toStdString();
    f.applicationVersion = info_.applicationVersion.toStdString();
    f.moduleName = info_.moduleName.toStdString();
    f.moduleVersion = info_.moduleVersion.toStdString();
    f.offset = info_.offset;
    return f;
}

// Builds the report cabinet for the upload; `cabinet` keeps (and at the end
// deletes) the file.
upload::CabinetBuilder Client::CabinetBuilderFor(ReportCabinet& cabinet) const {
    QString dump = info_.dumpPath;
    return [&cabinet, dump](const std::function<void(std::uint64_t, std::uint64_t)>& progress,
                            const std::atomic<bool>& stop, std::string* path, std::string* error) {
        QString message;
        bool ok = cabinet.Build(
            dump, [&progress](int value) { progress(static_cast<std::uint64_t>(value), kProgressMax); },
            &stop, &message);
        if (ok)
            *path = cabinet.path().toStdString();
        else
            *error = message.toStdString();
        return ok;
    };
}

int Client::Unattended(const UnattendedAnswer& answer) {
    auto say = [this](const QString& s) { Say(s); };
    say(SubstitutePromptText(QString::fromUtf8(text::kPromptProblem), info_));
    QString details = DetailsText(info_);
    details.replace(QStringLiteral("\r\n"), QStringLiteral(" | "));
    say(QStringLiteral("details: ") + details);
    say(QStringLiteral("dump: ") + info_.dumpPath);
    switch (answer.kind) {
    case UnattendedAnswer::Decline: return kDone;
    case UnattendedAnswer::Debug: return StartDebugger();
    case UnattendedAnswer::Send:
    case UnattendedAnswer::Save: {
        ReportCabinet cabinet;
        if (answer.kind == UnattendedAnswer::Send) {
            if (std::optional<upload::ReportUrl> url = UploadTarget()) {
                upload::UploadOptions options;
                options.deadlines = LoadDeadlines();
                upload::Outcome outcome = upload::UploadUnattended(
                    *url, UploadFields(), CabinetBuilderFor(cabinet),
                    [&](const std::string& s) { say(QString::fromStdString(s)); }, options);
                // Sent, or the server did not want it: done. A failure
                // leaves the report to the named file.
                if (outcome.kind != upload::Outcome::Failed) return kDone;
                if (answer.path.isEmpty()) {
                    say(QStringLiteral("the upload failed and no file was named; ") +
                        QString::fromUtf8(text::kReportDiscarded));
                    return kDone;
                }
                SaveReport(cabinet, answer.path);
                return kDone;
            }
        }
        // Without a server, sending falls back to saving.
        if (answer.path.isEmpty()) {
            say(QStringLiteral("no upload is possible and no file was named; ") +
                QString::fromUtf8(text::kReportDiscarded));
            return kDone;
        }
        SaveReport(cabinet, answer.path);
        return kDone;
    }
    case UnattendedAnswer::None:
    case UnattendedAnswer::Invalid: break;
    }
    return kDone;
}

int Client::Answer() {
    if (answer_.kind == UnattendedAnswer::Invalid)
        return Fail(Format(
            text::kDialogFailed,
            QStringLiteral("ULMARRO_UNATTENDED has no known answer (decline, debug, save:PATH, send)")));
    if (answer_.kind != UnattendedAnswer::None) return Unattended(answer_);
    if (!DisplayAvailable())
        return Fail(
            Format(text::kDialogFailed, QStringLiteral("no display (set ULMARRO_UNATTENDED to answer)")));

    Gui();
    // The report carries the minidump; the contents view shows it.
    ContentsViewer viewer = [](QWidget* parent, const ReportInfo& info) {
        contents::ContentsDialog dialog(info.dumpPath, {info.dumpPath}, parent);
        dialog.exec();
    };
    PromptDialog prompt(info_, viewer);
    int result = prompt.exec();
    if (result == PromptDialog::Debug) return StartDebugger();
    if (result != PromptDialog::Send) return kDone;
    if (std::optional<upload::ReportUrl> url = UploadTarget()) {
        // The cabinet outlives the dialog: a failed upload can still be saved
        // from it until the dialog closes.
        ReportCabinet cabinet;
        upload::UploadOptions options;
        options.deadlines = LoadDeadlines();
        upload::UploadDialog dialog(*url, UploadFields(), CabinetBuilderFor(cabinet), options);
        dialog.setReportSaver([this, &cabinet](QWidget* parent, const QString&) {
            const QString target = SaveDialog::DefaultPathChooser(parent);
            if (target.isEmpty()) return upload::SaveResult{};
            if (cabinet.CopyTo(target))
                return upload::SaveResult{upload::SaveResult::Saved, SavedStatus(info_)};
            return upload::SaveResult{upload::SaveResult::Failed, Format(text::kSaveFailed, target)};
        });
        dialog.exec();
        return kDone;
    }
    SaveDialog save(info_);
    save.exec();
    return kDone;
}

int Client::Run() {
    answer_ = UnattendedAnswerFromEnvironment();
    Registration registration = FindRegistrationSwitch(argc_, argv_);
    if (registration != Registration::None) return Register(registration);

    CommandLine commandLine = ParseCommandLine(JoinArguments(argc_, argv_));
    if (commandLine.applicationId.empty()) return Fail(QString::fromUtf8(text::kCommandLine));
    int exitCode = kFailed;
    if (!Collect(commandLine, &exitCode)) return exitCode;
    exitCode = Answer();
    // Sent, saved, declined or failed: the dump has served its purpose and
    // holds the crashed program's memory. Only Debug keeps it.
    if (exitCode != kDebug) {
        UntrackFile(TrackedFile::Dump);
        unlink(info_.dumpPath.toLocal8Bit().constData());
    }
    return exitCode;
}

} // namespace
} // namespace ulmarro

int main(int argc, char** argv) {
    ulmarro::InstallOwnCrashHandler();
    ulmarro::Client client(argc, argv);
    return client.Run();
}
