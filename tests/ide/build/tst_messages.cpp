// F4 and Shift+F4 walk the Output pane's messages from anywhere, and each
// message shows as a mark in the gutter of its source, its text the mark's
// tooltip.

#include "build/outputpane.h"
#include "shell/commands.h"
#include "testsupport.h"

#include <QPlainTextEdit>
#include <QStatusBar>
#include <QTextBlock>
#include <QToolTip>

using namespace oxbrin;
using namespace oxbrin::test;

class TestMessages : public QObject, AppFixture {
    Q_OBJECT

    COutputPane* Output() { return qobject_cast<COutputPane*>(Frame()->OutputPane()); }

    QString PaneSelection() { return Output()->Control()->textCursor().selectedText(); }

    // The y of `line` (from 1) in the gutter of `v`.
    static int GutterY(COxbrinView* v, int line) {
        QTextCursor c(v->document()->findBlockByNumber(line - 1));
        return v->cursorRect(c).center().y();
    }

private slots:
    void init() {
        Prepare();
        QVERIFY(Start());
        QVERIFY(QTest::qWaitForWindowExposed(Frame()));
    }

    void cleanup() { Finish(); }

    void NextAndPrevious() {
        QString text;
        for (int i = 1; i <= 12; ++i) text += QStringLiteral("\tnop ; %1\n").arg(i);
        const QString a = MakeFile(QStringLiteral("a.asm"), text.toUtf8());
        const QString b = MakeFile(QStringLiteral("b.asm"), text.toUtf8());
        // No messages yet: F4 says so and changes nothing.
        QVERIFY(Frame()->Execute(ID_BUILD_NEXT_MESSAGE));
        QCOMPARE(Frame()->statusBar()->currentMessage(),
                 QStringLiteral("The Output window holds no messages."));
        QVERIFY(app_->Documents().isEmpty());

        Output()->AppendConsoleText(
            QStringLiteral("Assembling\n%1(3): error: bad operand\nnot a message\n"
                           "%2(7) (2): warning: unused\n%1(10): error: undefined\n\nTool returned code: 2\n")
                .arg(a, b)
                .toUtf8());
        QVERIFY(Output()->isHidden());
        // F4 from the frame, as the key does wherever the focus is.
        QTest::keyClick(Frame(), Qt::Key_F4);
        Settle();
        QVERIFY(!Output()->isHidden());
        COxbrinView* v = Frame()->ActiveView();
        QVERIFY(v);
        QCOMPARE(v->GetDocument()->PathName(), a);
        QCOMPARE(v->CaretLine(), 3);
        QCOMPARE(PaneSelection(), QStringLiteral("%1(3): error: bad operand").arg(a));
        QTest::keyClick(Frame(), Qt::Key_F4);
        Settle();
        QCOMPARE(Frame()->ActiveView()->GetDocument()->PathName(), b);
        QCOMPARE(Frame()->ActiveView()->CaretLine(), 7);
        QCOMPARE(Frame()->ActiveView()->CaretColumn(), 2);
        QTest::keyClick(Frame(), Qt::Key_F4);
        QTest::keyClick(Frame(), Qt::Key_F4); // round the end to the first
        Settle();
        QCOMPARE(Frame()->ActiveView()->GetDocument()->PathName(), a);
        QCOMPARE(Frame()->ActiveView()->CaretLine(), 3);
        // Shift+F4 goes back, round the start to the last.
        QTest::keyClick(Frame(), Qt::Key_F4, Qt::ShiftModifier);
        Settle();
        QCOMPARE(Frame()->ActiveView()->CaretLine(), 10);
        QCOMPARE(PaneSelection(), QStringLiteral("%1(10): error: undefined").arg(a));
        QTest::keyClick(Frame(), Qt::Key_F4, Qt::ShiftModifier);
        Settle();
        QCOMPARE(Frame()->ActiveView()->GetDocument()->PathName(), b);
        QCOMPARE(app_->Documents().size(), 2);
        // From the Output pane itself too (it keeps typed keys for the tool,
        // not F4).
        Output()->Control()->setFocus();
        QTest::keyClick(Output()->Control(), Qt::Key_F4);
        Settle();
        QCOMPARE(Frame()->ActiveView()->GetDocument()->PathName(), a);
        QCOMPARE(Frame()->ActiveView()->CaretLine(), 10);
        QVERIFY(!Frame()->ActiveView()->document()->isModified());
    }

    void GutterMarks() {
        const QString a = MakeFile(QStringLiteral("m.asm"), "\tnop\n\tnop\n\tnop\n\tnop\n");
        QVERIFY(app_->OpenDocumentFile(a));
        COxbrinView* v = Frame()->ActiveView();
        QVERIFY(v);
        QVERIFY(v->Messages().isEmpty());
        Output()->AppendConsoleText(QStringLiteral("%1(2): error: first\n%1(2) (5): warning: second\n"
                                                   "%1(4): Warning: third\nother.asm(1): error: elsewhere\n")
                                        .arg(a)
                                        .toUtf8());
        QTRY_COMPARE(v->Messages().size(), 3);
        QCOMPARE(v->Messages()[0].line, 2);
        QVERIFY(v->Messages()[0].error);
        QVERIFY(!v->Messages()[2].error);
        // The mark's tooltip: every message of that line.
        QCOMPARE(v->MessagesAt(GutterY(v, 2)),
                 QStringLiteral("%1(2): error: first\n%1(2) (5): warning: second").arg(a));
        QCOMPARE(v->MessagesAt(GutterY(v, 4)), QStringLiteral("%1(4): Warning: third").arg(a));
        QVERIFY(v->MessagesAt(GutterY(v, 1)).isEmpty());
        // Hovering the mark shows that text as the tooltip.
        QWidget* gutter = v->findChild<QWidget*>(QStringLiteral("Gutter"));
        QVERIFY(gutter);
        const QPoint at(4, GutterY(v, 4)); // the gutter and the text share their top
        QHelpEvent hover(QEvent::ToolTip, at, gutter->mapToGlobal(at));
        QApplication::sendEvent(gutter, &hover);
        QTRY_VERIFY(QToolTip::isVisible());
        QCOMPARE(QToolTip::text(), QStringLiteral("%1(4): Warning: third").arg(a));
        QToolTip::hideText();
        // A file opened later gets its marks too; clearing the pane takes
        // them all away.
        const QString other = MakeFile(QStringLiteral("other.asm"), "\tnop\n");
        QVERIFY(QDir::setCurrent(dir_->path()));
        QVERIFY(app_->OpenDocumentFile(other));
        COxbrinView* w = Frame()->ActiveView();
        QVERIFY(w != v);
        QTRY_COMPARE(w->Messages().size(), 1);
        Output()->ClearText();
        QTRY_VERIFY(v->Messages().isEmpty());
        QTRY_VERIFY(w->Messages().isEmpty());
    }
};

QTEST_MAIN(TestMessages)
#include "tst_messages.moc"
