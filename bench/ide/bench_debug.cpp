// The window while a program runs flat out under the debugger: a 10-second
// busy loop on the flat board with the register bar, the register pane, the
// Memory pane (on the memory the loop changes) and the Watch pane shown, and
// the event loop's worst delay measured by a 10 ms timer; then how long
// Pause takes until the window shows the stop.
//
// Usage: oxbrin_bench_debug [seconds]   (offscreen platform)

#include "build/toolrunner.h"
#include "debug/debugcontrol.h"
#include "debug/memorypane.h"
#include "debug/watchpane.h"
#include "link/registerbar.h"
#include "shell/commands.h"
#include "shell/mainframe.h"
#include "shell/oxbrinapp.h"
#include "shell/zkbars.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <functional>

using namespace oxbrin;

namespace {

// Serves events until `done` holds or `limitMs` passed; returns the worst
// gap between two turns of a 10 ms timer (how long the window could not
// react), counts the gaps over 50 ms in `over` and says in `worstAt` when
// the worst one ended (ms from the start): a stall at the start is a first
// paint or a cache, one later on is work the refreshes do.
qint64 RunUntil(const std::function<bool()>& done, qint64 limitMs, int* over = nullptr,
                qint64* worstAt = nullptr) {
    QElapsedTimer clock;
    clock.start();
    qint64 last = 0;
    qint64 worst = 0;
    QEventLoop loop;
    QTimer tick;
    tick.setInterval(10);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        if (now - last > worst) {
            worst = now - last;
            if (worstAt) *worstAt = now;
        }
        if (over && now - last > 50) ++*over;
        last = now;
        if (done() || now >= limitMs) loop.quit();
    });
    tick.start();
    loop.exec();
    return worst;
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication qapp(argc, argv);
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    CToolRunner::SetProgramDirectory(QStringLiteral(OXBRIN_DIR));
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("busy.asm"));
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) ||
            f.write("\torg\t$1000\nstart\tlds\t#$3000\nloop\tinc\t$2000\n\tldx\t$2000\n\tinx\n\tstx\t$2002\n"
                    "\tbra\tloop\n") < 0) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            return 1;
        }
    }
    COxbrinApp app(std::make_unique<QSettings>(dir.filePath(QStringLiteral("b.conf")), QSettings::IniFormat));
    if (!app.InitInstance({})) return 1;
    CMainFrame* frame = app.MainFrame();
    frame->resize(1200, 900);
    frame->show();
    if (!app.OpenDocumentFile(path)) return 1;
    frame->RegisterBar()->show();
    frame->VarnelPane()->show();
    frame->MemoryPane()->show();
    frame->WatchPane()->show();
    frame->WatchPane()->AddExpression(QStringLiteral("$2000"));
    QApplication::processEvents();

    CDebugControl* debugger = app.Debugger();
    frame->Execute(ID_DEBUG_START);
    // The build runs first; the program starts when it is done.
    RunUntil([&] { return debugger->IsDebugging() && debugger->Session()->Running(); }, 60000);
    if (!debugger->IsDebugging() || !debugger->Session()->Running()) {
        std::fprintf(stderr, "the program did not start\n");
        return 1;
    }
    frame->MemoryPane()->GoTo(QStringLiteral("$2000"));
    int over = 0;
    qint64 worstAt = 0;
    const qint64 worst = RunUntil([] { return false; }, qint64(seconds) * 1000, &over, &worstAt);

    bool stopped = false;
    QObject::connect(debugger, &CDebugControl::ProgramStopped, [&] { stopped = true; });
    QElapsedTimer pause;
    pause.start();
    frame->Execute(ID_DEBUG_PAUSE);
    RunUntil([&] { return stopped; }, 10000);
    const qint64 pauseMs = pause.elapsed();
    std::printf("busy loop %d s under the debugger: worst event-loop delay %lld ms (goal under 50 ms) "
                "ending %lld ms into the run, %d delays over 50 ms; Pause to the stop shown: %lld ms%s\n",
                seconds, static_cast<long long>(worst), static_cast<long long>(worstAt), over,
                static_cast<long long>(pauseMs), stopped ? "" : " (no stop)");
    frame->Execute(ID_DEBUG_STOP);
    return stopped ? 0 : 1;
}
