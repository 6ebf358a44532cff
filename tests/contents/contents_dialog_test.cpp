// The contents dialog on the offscreen platform: the virtual list shows the
// section lines, the file list shows below it or is hidden with its label,
// and a dump claiming 2^32 lines opens without the memory that many rows
// would take.

#include "contents_dialog.h"
#include "dump_builder.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/resource.h>
#include <unistd.h>

using ulmarro::contents::ContentsDialog;
using ulmarro::contents::ContentsView;

namespace {

// Resident memory of this process in bytes.
long long Resident() {
    QFile f(QStringLiteral("/proc/self/statm"));
    if (!f.open(QIODevice::ReadOnly)) return 0;
    const QList<QByteArray> fields = f.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toLongLong() * sysconf(_SC_PAGESIZE) : 0;
}

} // namespace

class ContentsDialogTest : public QObject {
    Q_OBJECT
private:
    QString WriteDump(const QTemporaryDir& dir) {
        dumptest::Builder b;
        b.Exception(0xC0000094, 0, 0, 0x401000);
        b.Threads({{7, 0x12FF00, dumptest::Bytes("stack bytes here!")}}, false);
        auto bytes = b.Finish();
        QString path = dir.filePath(QStringLiteral("~zk00000001.dmp"));
        QFile f(path);
        f.open(QIODevice::WriteOnly);
        f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
        return path;
    }

private slots:
    void listShowsTheLinesAndTheFiles() {
        QTemporaryDir dir;
        QString dump = WriteDump(dir);
        ContentsDialog dialog(dump, {dump, QStringLiteral("/tmp/other file.txt")});
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Error Report Contents"));
        auto* list = dialog.findChild<ContentsView*>(QStringLiteral("list"));
        QVERIFY(list);
        QCOMPARE(list->lineCount(), std::uint64_t{6 + 2 + 9});
        const QStringList shown = list->visibleLines();
        QCOMPARE(shown.size(), 6 + 2 + 9); // all fit
        QCOMPARE(shown[0], QStringLiteral("Exception Information"));
        QCOMPARE(shown[1], QStringLiteral("Code: INT_DIVIDE_BY_ZERO"));
        QCOMPARE(shown[6], QStringLiteral("Thread 1"));
        QCOMPARE(shown[14], QStringLiteral("0012FF00: 73746163 6B206279 74657320 68657265 stack bytes here"));
        QCOMPARE(shown[15], QStringLiteral("0012FF10: 21000000 00000000 00000000 00000000 !"));
        QVERIFY(!list->verticalScrollBar()->isVisible());
        QVERIFY(QFontInfo(list->font()).fixedPitch());
        auto* files = dialog.findChild<QPlainTextEdit*>(QStringLiteral("files"));
        auto* label = dialog.findChild<QLabel*>(QStringLiteral("filesLabel"));
        QVERIFY(files->isVisible() && label->isVisible());
        QCOMPARE(files->toPlainText(), dump + QStringLiteral("\n/tmp/other file.txt\n"));
        QVERIFY(files->isReadOnly());
        dialog.findChild<QPushButton*>(QStringLiteral("button2"))->click();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
    }

    void withoutFilesTheListTakesTheRoom() {
        QTemporaryDir dir;
        QString dump = WriteDump(dir);
        ContentsDialog dialog(dump, {});
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        auto* list = dialog.findChild<ContentsView*>(QStringLiteral("list"));
        QVERIFY(!dialog.findChild<QPlainTextEdit*>(QStringLiteral("files"))->isVisible());
        QVERIFY(!dialog.findChild<QLabel*>(QStringLiteral("filesLabel"))->isVisible());
        auto* close = dialog.findChild<QPushButton*>(QStringLiteral("button2"));
        // The list reaches down to the row of the Close button.
        QVERIFY(list->geometry().bottom() + 3 * close->height() > close->geometry().top());
    }

    void unreadableDumpStillOpens() {
        ContentsDialog dialog(QStringLiteral("/nonexistent/x.dmp"), {QStringLiteral("/nonexistent/x.dmp")});
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QCOMPARE(dialog.findChild<ContentsView*>(QStringLiteral("list"))->lineCount(), std::uint64_t{0});
        QVERIFY(dialog.findChild<QPlainTextEdit*>(QStringLiteral("files"))->isVisible());
    }

    // A 2 MB dump whose ranges overlap claims 2^32 lines: the dialog opens,
    // shows the right rows anywhere (keyboard, bar, wheel) and takes no
    // memory per line. The address space is limited so that a view keeping
    // rows fails here quickly instead of eating the machine.
    void claimedBillionsOfLinesOpenSmall() {
        QTemporaryDir dir;
        const std::uint64_t claimed = 1ull << 32;
        dumptest::ClaimingDump dump(claimed);
        QString path = dir.filePath(QStringLiteral("~zkclaims.dmp"));
        {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(reinterpret_cast<const char*>(dump.bytes.data()), static_cast<qint64>(dump.bytes.size()));
        }
        auto expected = [&](std::uint64_t line) {
            std::uint64_t range = 0, row = 0;
            if (!dump.Where(line, &range, &row)) return QString();
            if (row == 0) return QStringLiteral("Memory Range %1").arg(range + 1);
            return QString::fromStdString(ulmarro::contents::HexDumpLine(
                dumptest::ClaimingDump::Address(range, row - 1), dump.bytes.data() + 32 + 16 * (row - 1),
                std::min<std::size_t>(16, dump.sizes[range] - 16 * (row - 1))));
        };
        auto check = [&](ContentsView* view) {
            const QStringList shown = view->visibleLines();
            QVERIFY(!shown.isEmpty());
            for (int i = 0; i < shown.size(); ++i)
                QCOMPARE(shown[i], expected(view->firstVisibleLine() + static_cast<std::uint64_t>(i)));
        };

        rlimit old{};
        getrlimit(RLIMIT_AS, &old);
        rlimit limited = old;
        const long long before = Resident();
        limited.rlim_cur = std::min<rlim_t>(old.rlim_cur, static_cast<rlim_t>(8ll << 30));
        setrlimit(RLIMIT_AS, &limited);
        {
            ContentsDialog dialog(path, {path});
            dialog.show();
            QVERIFY(QTest::qWaitForWindowExposed(&dialog));
            ContentsView* view = dialog.view();
            QCOMPARE(view->lineCount(), claimed);
            check(view);
            QCOMPARE(view->visibleLines().first(), QStringLiteral("Memory Range 1"));

            // The end, by keyboard: the last line is the empty one closing the last range.
            view->setFocus();
            QTest::keyClick(view, Qt::Key_End);
            QCOMPARE(view->currentLine(), claimed - 1);
            QCOMPARE(view->firstVisibleLine() + static_cast<std::uint64_t>(view->visibleLineCount()),
                     claimed);
            check(view);
            QCOMPARE(view->verticalScrollBar()->value(), view->verticalScrollBar()->maximum());
            QTest::keyClick(view, Qt::Key_Up);
            QTest::keyClick(view, Qt::Key_PageUp);
            QCOMPARE(view->currentLine(),
                     claimed - 2 - static_cast<std::uint64_t>(view->visibleLineCount() - 1));
            check(view);

            // The middle, by the bar; then single steps move by one line.
            QScrollBar* bar = view->verticalScrollBar();
            bar->setValue(bar->maximum() / 2);
            const std::uint64_t middle = view->firstVisibleLine();
            QVERIFY(middle > claimed / 2 - claimed / 1000 && middle < claimed / 2 + claimed / 1000);
            check(view);
            bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
            QCOMPARE(view->firstVisibleLine(), middle + 1);
            check(view);
            // A taller window shows more lines from the same first line.
            const int rows = view->visibleLineCount();
            dialog.resize(dialog.width(), dialog.height() + 10 * view->lineHeight());
            QTRY_VERIFY(view->visibleLineCount() > rows);
            QCOMPARE(view->firstVisibleLine(), middle + 1);
            check(view);
            // The wheel, a notch up: three lines.
            QWheelEvent wheel(QPointF(10, 10), view->mapToGlobal(QPoint(10, 10)), QPoint(), QPoint(0, 120),
                              Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
            QApplication::sendEvent(view->viewport(), &wheel);
            QCOMPARE(view->firstVisibleLine(),
                     middle + 1 - static_cast<std::uint64_t>(QApplication::wheelScrollLines()));
            check(view);
            // A click makes a line current, and Home goes back to the start.
            QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, QPoint(20, view->lineHeight() * 2 + 1));
            QCOMPARE(view->currentLine(), view->firstVisibleLine() + 2);
            QTest::keyClick(view, Qt::Key_Home);
            QCOMPARE(view->firstVisibleLine(), std::uint64_t{0});
            QCOMPARE(bar->value(), 0);
            const long long grown = Resident() - before;
            QVERIFY2(grown < 100ll << 20, qPrintable(QStringLiteral("grew by %1 bytes").arg(grown)));
        }
        setrlimit(RLIMIT_AS, &old);
    }
};

QTEST_MAIN(ContentsDialogTest)
#include "contents_dialog_test.moc"
