// Starts the IDE's application object the way the program does, answers Yes
// to Test Error Reporting and runs it. Returns 3 only if the crash did not
// happen. Usage: ide_crash_helper <settings-folder>

#include "crashhook.h"
#include "shell/commands.h"
#include "shell/mainframe.h"
#include "shell/oxbrinapp.h"
#include "shell/prompts.h"

#include <QApplication>
#include <QSettings>

int main(int argc, char* argv[]) {
    crashhook::Install(crashhook::Program::Oxbrin);
    QApplication qapp(argc, argv);
    if (argc < 2) return 2;
    auto store = std::make_unique<QSettings>(QString::fromLocal8Bit(argv[1]) + QStringLiteral("/oxbrin.conf"),
                                             QSettings::IniFormat);
    oxbrin::COxbrinApp app(std::move(store));
    if (!app.InitInstance({})) return 2;
    oxbrin::SetMessageResponder([](const oxbrin::MessageRequest&) { return QMessageBox::Yes; });
    app.MainFrame()->Execute(oxbrin::ID_HELP_TEST_CRASH);
    return 3;
}
