// Time per key in a file with one very long line, opened through the IDE
// (read-only and shown in pieces above the long-line limit), then a file
// with a shorter line (the peer size; editable when under the limit), and
// that shorter line in a bare, editable, unwrapped QPlainTextEdit, the way
// every file used to open (slow, hence the smaller line).
// Usage: oxbrin_bench_longline [kilobytes] [peer-kilobytes]   (offscreen)

#include "editor/highlighter.h"
#include "editor/oxbrindoc.h"
#include "editor/oxbrinview.h"
#include "shell/childframe.h"
#include "shell/mainframe.h"
#include "shell/oxbrinapp.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QSettings>
#include <QTemporaryDir>

#include <cstdio>
#include <utility>
#include <vector>

using namespace oxbrin;

namespace {

// Hex digits without a blank, as in a dump on one line.
QByteArray LongLine(qint64 bytes) {
    QByteArray line;
    line.reserve(bytes + 1);
    for (quint32 i = 0; line.size() < bytes; ++i)
        line += QByteArray::number(i * 2654435761u, 16).rightJustified(8, '0').toUpper();
    line.truncate(bytes);
    return line + '\n';
}

const std::vector<std::pair<const char*, std::pair<int, Qt::KeyboardModifiers>>>& Keys() {
    static const std::vector<std::pair<const char*, std::pair<int, Qt::KeyboardModifiers>>> keys{
        {"type x", {Qt::Key_X, Qt::NoModifier}},
        {"End", {Qt::Key_End, Qt::NoModifier}},
        {"Left", {Qt::Key_Left, Qt::NoModifier}},
        {"Shift+Left", {Qt::Key_Left, Qt::ShiftModifier}},
        {"Home", {Qt::Key_Home, Qt::NoModifier}},
        {"Down", {Qt::Key_Down, Qt::NoModifier}},
        {"Page Down", {Qt::Key_PageDown, Qt::NoModifier}},
        {"Ctrl+End", {Qt::Key_End, Qt::ControlModifier}},
        {"Ctrl+Home", {Qt::Key_Home, Qt::ControlModifier}},
    };
    return keys;
}

double Press(QWidget* w, int key, Qt::KeyboardModifiers mods) {
    QElapsedTimer t;
    t.start();
    const QString text = key == Qt::Key_X ? QStringLiteral("x") : QString();
    QKeyEvent press(QEvent::KeyPress, key, mods, text);
    QKeyEvent release(QEvent::KeyRelease, key, mods, text);
    QApplication::sendEvent(w, &press);
    QApplication::sendEvent(w, &release);
    QApplication::processEvents();
    w->grab(); // painted
    return t.nsecsElapsed() / 1e6;
}

// Opens `path` in the IDE and times each key once the background colouring
// is over; returns the slowest.
double TimeIde(COxbrinApp& app, const QString& path, qint64 kb) {
    QElapsedTimer t;
    t.start();
    if (!app.OpenDocumentFile(path)) return -1;
    COxbrinView* view = app.MainFrame()->ActiveView();
    QApplication::processEvents();
    view->grab();
    std::printf("IDE, one line of %lld KB: read-only %s, in pieces %s\n", kb,
                view->isReadOnly() ? "yes" : "no", view->ShowsPieces() ? "yes" : "no");
    std::printf("  open to painted: %.1f ms\n", t.nsecsElapsed() / 1e6);
    while (view->Highlighter() && !view->Highlighter()->IsComplete()) QApplication::processEvents();
    view->setFocus();
    double worst = 0;
    for (const auto& [name, key] : Keys()) {
        const double ms = Press(view, key.first, key.second);
        worst = qMax(worst, ms);
        std::printf("  %-10s %9.1f ms\n", name, ms);
    }
    std::printf("  slowest key: %.1f ms (goal at most 50 ms: %s)\n", worst, worst <= 50 ? "met" : "NOT met");
    app.CloseAllDocuments();
    QApplication::processEvents();
    return worst;
}

bool WriteFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication qapp(argc, argv);
    const qint64 kb = argc > 1 ? qMax(1, atoi(argv[1])) : 2048;
    const qint64 peerKb = argc > 2 ? qMax(1, atoi(argv[2])) : 256;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("dump.asm"));
    const QString peerPath = dir.filePath(QStringLiteral("peer.asm"));
    if (!WriteFile(path, LongLine(kb * 1024)) || !WriteFile(peerPath, LongLine(peerKb * 1024))) return 1;
    COxbrinApp app(std::make_unique<QSettings>(dir.filePath(QStringLiteral("b.conf")), QSettings::IniFormat));
    if (!app.InitInstance({})) return 1;
    app.MainFrame()->resize(1100, 760);
    QApplication::processEvents();
    TimeIde(app, path, kb);
    TimeIde(app, peerPath, peerKb);

    QPlainTextEdit plain;
    plain.setLineWrapMode(QPlainTextEdit::NoWrap);
    plain.resize(1000, 600);
    QElapsedTimer t;
    t.start();
    plain.setPlainText(QString::fromLatin1(LongLine(peerKb * 1024)));
    plain.show();
    QApplication::processEvents();
    plain.grab();
    std::printf("bare editable, unwrapped text widget, one line of %lld KB:\n", peerKb);
    std::printf("  open to painted: %.1f ms\n", t.nsecsElapsed() / 1e6);
    for (const auto& [name, key] : Keys())
        std::printf("  %-10s %9.1f ms\n", name, Press(&plain, key.first, key.second));
    return 0;
}
