#include "crashhook.h"
#include "icons.h"
#include "oxbrinapp.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    // Installed before anything else so a fault during start-up is reported too.
    crashhook::Install(crashhook::Program::Oxbrin);

    QApplication qapp(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("KORVELL"));
    QApplication::setApplicationName(QStringLiteral("Oxbrin"));
    QApplication::setApplicationVersion(QStringLiteral("1.16"));
    QApplication::setWindowIcon(oxbrin::AppIcon());

    QStringList args = QApplication::arguments();
    args.removeFirst();
    int status = 0;
    {
        oxbrin::COxbrinApp app;
        if (!app.InitInstance(args)) return 1;
        status = QApplication::exec();
        app.ExitInstance();
    }
    return status;
}
