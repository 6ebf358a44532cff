// Open-to-painted time of a large source in the IDE, against a bare
// QPlainTextEdit given the same text (the peer run).
// Usage: oxbrin_bench_open [lines] [rounds]   (run on the offscreen platform)

#include "editor/highlighter.h"
#include "editor/oxbrinview.h"
#include "shell/childframe.h"
#include "shell/mainframe.h"
#include "shell/oxbrinapp.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QSettings>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace oxbrin;

namespace {

QByteArray MakeSource(int lines) {
    static const char* const body[] = {
        "loop%d:  ldaa    PORTB           ; read the port\r\n",
        "        eora    #$01            ; toggle bit 0\r\n",
        "        staa    PORTB\r\n",
        "* comment line %d with ldaa and \"quotes\"\r\n",
        "        ldx     #DELAY+%d\r\n",
        "msg%d    dc.b    \"text; not a comment\",0\r\n",
        "        bne     loop%d\r\n",
        "#include \"regs%d.inc\"\r\n",
    };
    QByteArray out;
    out.reserve(lines * 40);
    for (int i = 0; i < lines; ++i) out += QString::asprintf(body[i % 8], i).toLatin1();
    return out;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

void Settle() {
    QApplication::processEvents();
    QApplication::processEvents();
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication qapp(argc, argv);
    const int lines = argc > 1 ? std::max(1, atoi(argv[1])) : 100000;
    const int rounds = argc > 2 ? std::max(1, atoi(argv[2])) : 3;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("big.asm"));
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(MakeSource(lines)) < 0) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            return 1;
        }
    }
    COxbrinApp app(std::make_unique<QSettings>(dir.filePath(QStringLiteral("b.conf")), QSettings::IniFormat));
    if (!app.InitInstance({})) return 1;
    if (qEnvironmentVariableIsSet("OXBRIN_BENCH_PLAIN")) app.Settings().syntaxHighlighting = 0;
    CMainFrame* frame = app.MainFrame();
    frame->resize(1100, 760);
    Settle();

    std::vector<double> open, scroll, peer, coloured;
    struct Phases {
        double open, events, paint;
    };
    std::vector<Phases> phases;
    bool firstScreenColoured = true;
    for (int r = 0; r < rounds; ++r) {
        QElapsedTimer t;
        t.start();
        if (!app.OpenDocumentFile(path)) return 1;
        const double opened = t.nsecsElapsed() / 1e6;
        // Posted events (layout, the lines on screen coloured), then the
        // first paint; the colouring of the rest runs later in slices.
        QCoreApplication::sendPostedEvents();
        const double settled = t.nsecsElapsed() / 1e6;
        COxbrinView* view = frame->ActiveView();
        firstScreenColoured &= !view->cursorForPosition(QPoint(2, 2)).block().layout()->formats().isEmpty();
        view->viewport()->grab(); // painted
        open.push_back(t.nsecsElapsed() / 1e6);
        phases.push_back({opened, settled - opened, open.back() - settled});
        CAsmHighlighter* h = view->Highlighter();
        while (h && !h->IsComplete()) QApplication::processEvents();
        coloured.push_back(t.nsecsElapsed() / 1e6);

        // Scroll through the file a page at a time, 50 pages, painting each.
        t.restart();
        QScrollBar* bar = view->verticalScrollBar();
        const int step = std::max(1, bar->maximum() / 50);
        for (int i = 0; i <= 50; ++i) {
            bar->setValue(std::min(bar->maximum(), i * step));
            view->viewport()->grab();
        }
        scroll.push_back(t.nsecsElapsed() / 1e6 / 51);
        app.CloseAllDocuments();
        Settle();

        // Peer: the bare widget with the same text, no colouring.
        t.restart();
        QFile f(path);
        f.open(QIODevice::ReadOnly);
        QPlainTextEdit plain;
        plain.resize(1000, 600);
        plain.setPlainText(QString::fromUtf8(f.readAll()));
        plain.viewport()->grab();
        peer.push_back(t.nsecsElapsed() / 1e6);
    }
    const double o = Median(open);
    const double p = Median(peer);
    std::printf("lines: %d\n", lines);
    std::printf("open to painted (coloured): %.1f ms\n", o);
    for (const Phases& ph : phases)
        std::printf("  phases: open %.1f, events %.1f, paint %.1f ms\n", ph.open, ph.events, ph.paint);
    std::printf("bare QPlainTextEdit, same text: %.1f ms\n", p);
    std::printf("ratio: %.2f\n", o / p);
    std::printf("first screen coloured at the first paint: %s\n", firstScreenColoured ? "yes" : "NO");
    std::printf("whole text coloured (in the background): %.1f ms\n", Median(coloured));
    std::printf("scroll one page and paint: %.2f ms\n", Median(scroll));
    std::printf("goal open < 300 ms: %s\n", o < 300 ? "met" : "NOT met");
    return 0;
}
