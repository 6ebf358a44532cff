// Time per typed key in a large source: the key goes to the editor as a
// key press, the events it posts run, and the editor is painted, as a user
// sees each character. A bare QPlainTextEdit with the same text is the peer.
// Usage: oxbrin_bench_typing [lines] [keys]   (run on the offscreen platform)

#include "editor/highlighter.h"
#include "editor/oxbrinview.h"
#include "shell/mainframe.h"
#include "shell/oxbrinapp.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QSettings>
#include <QTemporaryDir>
#include <QTextBlock>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace oxbrin;

namespace {

QByteArray MakeSource(int lines) {
    static const char* const body[] = {
        "loop%d:  ldaa    PORTB           ; read the port\n",
        "        eora    #$01            ; toggle bit 0\n",
        "        staa    PORTB\n",
        "* comment line %d with ldaa and \"quotes\"\n",
        "        ldx     #(DELAY+%d)\n",
        "msg%d    dc.b    \"text; not a comment\",0\n",
        "        bne     loop%d\n",
        "#include \"regs%d.inc\"\n",
    };
    QByteArray out;
    out.reserve(qsizetype(lines) * 40);
    for (int i = 0; i < lines; ++i) out += QString::asprintf(body[i % 8], i).toLatin1();
    return out;
}

struct Figures {
    double median;
    double p95;
    double worst;
};

Figures Summary(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return {v[v.size() / 2], v[std::min(v.size() - 1, v.size() * 95 / 100)], v.back()};
}

// Types `keys` keys into `edit` (letters, with an Enter and a Backspace now
// and then) and returns the time of each, from the press to the painted
// widget.
std::vector<double> Type(QPlainTextEdit* edit, int keys) {
    std::vector<double> times;
    QElapsedTimer t;
    for (int i = 0; i < keys; ++i) {
        int key = Qt::Key_A + i % 26;
        QString text(QChar(u'a' + i % 26));
        if (i % 40 == 39) {
            key = Qt::Key_Return;
            text = QStringLiteral("\r");
        } else if (i % 40 == 20) {
            key = Qt::Key_Backspace;
            text = QStringLiteral("\b");
        }
        t.start();
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
        QApplication::sendEvent(edit, &press);
        QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
        QApplication::sendEvent(edit, &release);
        QCoreApplication::sendPostedEvents();
        edit->viewport()->grab();
        times.push_back(t.nsecsElapsed() / 1e6);
    }
    return times;
}

void Report(const char* what, const Figures& f) {
    std::printf("%s: median %.2f ms, 95%% %.2f ms, worst %.2f ms\n", what, f.median, f.p95, f.worst);
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication qapp(argc, argv);
    const int lines = argc > 1 ? std::max(1, atoi(argv[1])) : 100000;
    const int keys = argc > 2 ? std::max(1, atoi(argv[2])) : 400;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("big.asm"));
    const QByteArray source = MakeSource(lines);
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(source) < 0) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            return 1;
        }
    }
    COxbrinApp app(std::make_unique<QSettings>(dir.filePath(QStringLiteral("b.conf")), QSettings::IniFormat));
    if (!app.InitInstance({})) return 1;
    CMainFrame* frame = app.MainFrame();
    frame->resize(1100, 760);
    frame->show();
    QApplication::processEvents();
    if (!app.OpenDocumentFile(path)) return 1;
    COxbrinView* view = frame->ActiveView();
    view->setFocus();
    QApplication::processEvents();

    // While the colouring still runs in the background, then once it is done.
    view->GoToLine(lines / 2, 1);
    const Figures during = Summary(Type(view, keys));
    if (CAsmHighlighter* h = view->Highlighter()) {
        while (!h->IsComplete()) QApplication::processEvents();
    }
    view->GoToLine(lines / 2 + 100, 1);
    const Figures middle = Summary(Type(view, keys));
    view->GoToLine(3, 1);
    const Figures top = Summary(Type(view, keys));
    view->GoToLine(lines - 3, 1);
    const Figures end = Summary(Type(view, keys));

    QPlainTextEdit plain;
    plain.resize(1000, 600);
    plain.setLineWrapMode(QPlainTextEdit::NoWrap);
    plain.setPlainText(QString::fromLatin1(source));
    plain.show();
    QTextCursor c(plain.document()->findBlockByNumber(lines / 2));
    plain.setTextCursor(c);
    const Figures peer = Summary(Type(&plain, keys));

    std::printf("lines: %d, keys per run: %d\n", lines, keys);
    Report("typing while colouring runs", during);
    Report("typing in the middle", middle);
    Report("typing at the top", top);
    Report("typing at the end", end);
    Report("bare QPlainTextEdit, middle", peer);
    const double worstMedian = std::max({during.median, middle.median, top.median, end.median});
    std::printf("goal < 16 ms per key (median): %s\n", worstMedian < 16 ? "met" : "NOT met");
    return 0;
}
