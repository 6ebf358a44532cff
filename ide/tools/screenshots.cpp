// Renders the main window, its panes and its menus into PNG files for the
// documentation: oxbrin_screenshots <output-folder> [source-file [assembler]]
// Run it on the offscreen platform; it uses a settings store of its own.
// With an assembler, its real output for the source fills the Output pane.

#include "debug/debugcontrol.h"
#include "editor/highlighter.h"
#include "editor/oxbrinview.h"
#include "options/dlgoptions.h"
#include "shell/childframe.h"
#include "shell/commands.h"
#include "shell/mainframe.h"
#include "shell/oxbrinapp.h"
#include "shell/zkbars.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>

#include <cstdio>

using namespace oxbrin;

namespace {

void Settle() {
    for (int i = 0; i < 5; ++i) QApplication::processEvents();
}

bool Save(const QPixmap& pm, const QString& path) {
    if (!pm.save(path)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

// The frame with one of its menus dropped down, as one picture.
QPixmap FrameWithMenu(CMainFrame* frame, QMenu* menu, int index) {
    QPixmap shot = frame->grab();
    QMenuBar* bar = frame->menuBar();
    QAction* title = bar->actions().value(index);
    menu->popup(bar->mapToGlobal(bar->actionGeometry(title).bottomLeft()));
    Settle();
    QPixmap popup = menu->grab();
    QPainter p(&shot);
    const QPoint at = frame->mapFromGlobal(bar->mapToGlobal(bar->actionGeometry(title).bottomLeft()));
    p.drawPixmap(at, popup);
    p.setPen(QColor(120, 120, 120));
    p.drawRect(QRect(at, popup.size()).adjusted(0, 0, -1, -1));
    menu->hide();
    return shot;
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication qapp(argc, argv);
    const QStringList args = QApplication::arguments();
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: oxbrin_screenshots <output-folder> [source-file]\n");
        return 2;
    }
    QDir out(args[1]);
    if (!out.mkpath(QStringLiteral("."))) {
        std::fprintf(stderr, "cannot create %s\n", qPrintable(args[1]));
        return 1;
    }
    QTemporaryDir tmp;
    auto store =
        std::make_unique<QSettings>(tmp.filePath(QStringLiteral("oxbrin.conf")), QSettings::IniFormat);
    COxbrinApp app(std::move(store));
    QStringList files;
    if (args.size() > 2) files << args[2];
    if (!app.InitInstance(files)) return 1;
    CMainFrame* frame = app.MainFrame();
    frame->resize(1100, 760);
    bool ok = true;
    Settle();
    ok &= Save(frame->grab(), out.filePath(QStringLiteral("oxbrin-main.png")));

    if (COxbrinView* view = frame->ActiveView()) view->GoToLine(20, 9);
    frame->Execute(ID_VIEW_OUTPUT);
    frame->Execute(ID_VIEW_REGISTER_BAR);
    if (auto* text = qobject_cast<QPlainTextEdit*>(frame->OutputPane()->Content()); text && args.size() > 3) {
        QProcess tool;
        tool.setWorkingDirectory(QFileInfo(args[2]).absolutePath());
        tool.setProcessChannelMode(QProcess::MergedChannels);
        tool.start(QFileInfo(args[3]).absoluteFilePath(),
                   {QStringLiteral("-l"), QStringLiteral("-su"), QFileInfo(args[2]).fileName()});
        if (tool.waitForFinished(30000))
            text->setPlainText(QString::fromLocal8Bit(tool.readAll()) +
                               QStringLiteral("\nTool returned code: %1\n").arg(tool.exitCode()));
    }
    // The messages' marks come into the gutter once the output has settled.
    for (QElapsedTimer waited; !waited.isValid() || waited.elapsed() < 400;) {
        if (!waited.isValid()) waited.start();
        QApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    Settle();
    ok &= Save(frame->grab(), out.filePath(QStringLiteral("oxbrin-panes.png")));

    // The Colours page of the Options.
    {
        CDlgOptions dlg(frame, CDlgOptions::kPageColours);
        dlg.resize(560, 460);
        dlg.show();
        Settle();
        ok &= Save(dlg.grab(), out.filePath(QStringLiteral("oxbrin-options-colours.png")));
    }

    // The dark scheme, with a second source in its own tab.
    app.Settings().editorColours = ColourScheme::Dark().Encode();
    app.ApplyEditorFormatToAll();
    if (args.size() > 2) {
        const QString regs = QDir(QFileInfo(args[2]).absolutePath()).filePath(QStringLiteral("regs.inc"));
        if (QFileInfo::exists(regs)) app.OpenDocumentFile(regs);
        app.OpenDocumentFile(args[2]);
    }
    Settle();
    ok &= Save(frame->grab(), out.filePath(QStringLiteral("oxbrin-dark.png")));
    app.Settings().editorColours.clear();
    app.ApplyEditorFormatToAll();
    Settle();

    // The manual in its window, when the build has put it beside the program.
    frame->Execute(ID_HELP_FINDER);
    if (QWidget* help = frame->HelpWindow()) {
        help->resize(820, 640);
        Settle();
        ok &= Save(help->grab(), out.filePath(QStringLiteral("oxbrin-help.png")));
        help->close();
    }

    // Debugging: the example on its board, stopped at a breakpoint in the
    // loop after its greeting went out on the serial line.
    if (args.size() > 2) {
        app.Settings().targetBoard = QStringLiteral("hc912b32");
        app.OpenDocumentFile(args[2]);
        if (COxbrinView* view = frame->ActiveView()) {
            view->GoToLine(27, 1);
            frame->Execute(ID_DEBUG_TOGGLE_BREAKPOINT);
            frame->TerminalPane()->show();
            frame->VarnelPane()->show();
            frame->Execute(ID_DEBUG_START);
            bool stopped = false;
            QObject::connect(app.Debugger(), &CDebugControl::ProgramStopped, [&stopped] { stopped = true; });
            for (QElapsedTimer waited; !stopped && (!waited.isValid() || waited.elapsed() < 20000);) {
                if (!waited.isValid()) waited.start();
                QApplication::processEvents(QEventLoop::AllEvents, 50);
            }
            Settle();
            if (stopped)
                ok &= Save(frame->grab(), out.filePath(QStringLiteral("oxbrin-debugging.png")));
            else
                std::fprintf(stderr, "the example did not stop at its breakpoint\n");
            frame->Execute(ID_DEBUG_STOP);
            frame->Execute(ID_DEBUG_DELETE_BREAKPOINTS);
            Settle();
        }
    }

    const QList<QAction*> titles = frame->menuBar()->actions();
    for (int i = 0; i < titles.size(); ++i) {
        QMenu* menu = titles[i]->menu();
        if (!menu) continue;
        frame->UpdateCommandUI();
        QString name = menu->title().remove(QLatin1Char('&')).toLower();
        ok &=
            Save(FrameWithMenu(frame, menu, i), out.filePath(QStringLiteral("oxbrin-menu-%1.png").arg(name)));
    }
    return ok ? 0 : 1;
}
