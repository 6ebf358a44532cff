// The console text sink shared by the Output, Terminal and register panes.

#include "build/consolepane.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QMainWindow>
#include <QSignalSpy>
#include <QTest>

#include <thread>

using namespace oxbrin;

class TestConsolePane : public QObject {
    Q_OBJECT

    QMainWindow* frame_ = nullptr;
    CConsolePane* pane_ = nullptr;

    QString Text() const { return pane_->Control()->toPlainText(); }
    void Append(const QByteArray& b) { pane_->AppendConsoleText(b.constData(), b.size()); }

private slots:
    void init() {
        frame_ = new QMainWindow;
        pane_ = new CConsolePane(34000, QStringLiteral("Console"), QSize(200, 100), frame_);
        pane_->SetBeepEnabled(false);
        frame_->addDockWidget(Qt::BottomDockWidgetArea, pane_);
    }
    void cleanup() {
        delete frame_;
        frame_ = nullptr;
    }

    void plainLinesAndControlBytes_data() {
        QTest::addColumn<QList<QByteArray>>("chunks");
        QTest::addColumn<QString>("expected");
        auto L = [](std::initializer_list<const char*> parts) {
            QList<QByteArray> l;
            for (const char* p : parts) l << QByteArray(p);
            return l;
        };
        QTest::newRow("lines") << L({"one\ntwo\n", "three"}) << "one\ntwo\nthree";
        QTest::newRow("empty lines across calls") << L({"abc\n", "\n\nX\n"}) << "abc\n\n\nX\n";
        QTest::newRow("cr overwrites") << L({"abc\rxyz\n"}) << "xyz\n";
        QTest::newRow("cr overwrites across calls") << L({"abc\r", "xyz\n"}) << "xyz\n";
        QTest::newRow("cr overwrites shown line") << L({"head\nabc", "\rxy"}) << "head\nxy";
        QTest::newRow("crlf is one break") << L({"a\r\nb\r\n"}) << "a\nb\n";
        QTest::newRow("cr after finished lines") << L({"a\nb\rc"}) << "a\nc";
        QTest::newRow("caret notation") << L({"a\x01"
                                              "b"})
                                        << "a^Ab";
        QTest::newRow("escape") << L({"\x1b[0m"}) << "^[[0m";
        QTest::newRow("tab kept") << L({"a\tb"}) << "a\tb";
        QTest::newRow("bs in current line") << L({"abc\bd"}) << "abd";
        QTest::newRow("bs eats pending line feed") << L({"ab\n\bc"}) << "abc";
        QTest::newRow("bs eats shown text") << L({"abc", "\b\bx"}) << "ax";
        QTest::newRow("bs joins shown lines") << L({"ab\n", "\bc"}) << "abc";
        QTest::newRow("bs on empty control") << L({"\b\bq"}) << "q";
        QTest::newRow("bs clears cr pending") << L({"abc\r\bd"}) << "abd";
        QTest::newRow("latin1 high bytes") << L({"\xe9t\xe9"}) << QString::fromLatin1("\xe9t\xe9");
        QTest::newRow("utf8 sequence")
            << L({"gr\xc3\xbc\xc3\x9f"}) << QString::fromUtf8("gr\xc3\xbc\xc3\x9f");
        QTest::newRow("utf8 split across calls")
            << L({"x\xe2\x82", "\xac y"}) << QString::fromUtf8("x\xe2\x82\xac y");
        QTest::newRow("utf8 split after lead byte") << L({"\xc3", "\xbc!"}) << QString::fromUtf8("\xc3\xbc!");
        QTest::newRow("unfinished utf8 then bs") << L({"a\xe2\x82", "\b"}) << QString::fromLatin1("a\xe2");
        QTest::newRow("unfinished utf8 then ascii") << L({"\xc3", "A"})
                                                    << QString::fromLatin1("\xc3"
                                                                           "A");
        QTest::newRow("bytes 128..255 alone") << L({"\x80\xff"}) << QString::fromLatin1("\x80\xff");
    }
    void plainLinesAndControlBytes() {
        QFETCH(QList<QByteArray>, chunks);
        QFETCH(QString, expected);
        for (const QByteArray& c : chunks) Append(c);
        QCOMPARE(Text(), expected);
    }

    void nulBytesAreSkippedAndCountZeroStopsAtNul() {
        Append(QByteArray("a\0b", 3));
        pane_->AppendConsoleText("cd\0ef");
        QCOMPARE(Text(), QStringLiteral("abcd"));
    }

    void bellKeepsTextAndCaretGoesToTheEnd() {
        Append("x\ay\n");
        QCOMPARE(Text(), QStringLiteral("xy\n"));
        QTextCursor c = pane_->Control()->textCursor();
        c.setPosition(0);
        pane_->Control()->setTextCursor(c);
        Append("z");
        QCOMPARE(pane_->Control()->textCursor().position(), Text().size());
    }

    void endlessLinesAreBrokenUp() {
        const qsizetype max = CConsolePane::kMaxLineLength;
        Append(QByteArray(max - 10, 'a'));
        Append(QByteArray(20, 'b') + "\nshort\n" + QByteArray(2 * max + 1, 'c'));
        const QStringList lines = Text().split(QLatin1Char('\n'));
        QCOMPARE(lines.size(), 6);
        QCOMPARE(lines[0], QString(max - 10, QLatin1Char('a')) + QString(10, QLatin1Char('b')));
        QCOMPARE(lines[1], QString(10, QLatin1Char('b')));
        QCOMPARE(lines[2], QStringLiteral("short"));
        QCOMPARE(lines[3].size(), max);
        QCOMPARE(lines[4].size(), max);
        QCOMPARE(lines[5], QStringLiteral("c"));
        // Nothing is lost: every byte is there, only the breaks are new.
        QCOMPARE(Text().count(QLatin1Char('c')), 2 * max + 1);
    }

    void appendIsNotUndoable() {
        Append("abc\n");
        QVERIFY(!pane_->Control()->document()->isUndoAvailable());
    }

    void carriageReturnStatePersistsUntilText() {
        Append("abc\r");
        QVERIFY(pane_->CarriageReturnPending());
        QCOMPARE(Text(), QStringLiteral("abc"));
        Append("\n");
        QVERIFY(!pane_->CarriageReturnPending());
        QCOMPARE(Text(), QStringLiteral("abc\n"));
    }

    void postedTextArrivesInOrderFromAnotherThread() {
        QByteArray expected;
        std::thread writer([this, &expected] {
            for (int i = 0; i < 2000; ++i) {
                QByteArray line = QByteArray::number(i) + " progress\r" + QByteArray::number(i) + " done\n";
                expected += QByteArray::number(i) + " done\n";
                pane_->PostConsoleText(line);
            }
        });
        writer.join();
        QTRY_COMPARE(Text().size(), expected.size());
        QCOMPARE(Text().toLatin1(), expected);
    }

    void bigPostedOutputIsSlicedAcrossEventLoopTurns() {
        const QByteArray line(99, 'x');
        QByteArray all;
        for (int i = 0; i < 5000; ++i) all += line + '\n';
        pane_->PostConsoleText(all);
        int turns = 0;
        while (Text().size() < all.size()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
            ++turns;
            QVERIFY(turns < 100000);
        }
        QVERIFY(turns > 1); // more than one slice, so the event loop ran between them
        QCOMPARE(Text().size(), all.size());
    }

    void clearDropsQueuedTextAndState() {
        Append("abc\r");
        pane_->PostConsoleText("stale");
        pane_->ClearText();
        QVERIFY(!pane_->HasText());
        QTest::qWait(50);
        QVERIFY(!pane_->HasText());
        Append("new");
        QCOMPARE(Text(), QStringLiteral("new"));
    }

    void rightClickMovesTheCaretButKeepsASelectionItFallsIn() {
        frame_->resize(400, 300);
        frame_->show();
        QVERIFY(QTest::qWaitForWindowExposed(frame_));
        Append("first line\nsecond line\n");
        QPlainTextEdit* t = pane_->Control();
        QSignalSpy menu(pane_, &CConsolePane::ContextMenuRequested);
        auto pointAt = [t](int pos) {
            QTextCursor c(t->document());
            c.setPosition(pos);
            return t->cursorRect(c).center();
        };
        QTextCursor sel(t->document());
        sel.setPosition(0);
        sel.setPosition(10, QTextCursor::KeepAnchor);
        t->setTextCursor(sel);
        QTest::mouseClick(t->viewport(), Qt::RightButton, {}, pointAt(4));
        QCOMPARE(t->textCursor().selectedText(), QStringLiteral("first line"));
        QTest::mouseClick(t->viewport(), Qt::RightButton, {}, pointAt(14));
        QVERIFY(!t->textCursor().hasSelection());
        QCOMPARE(t->textCursor().blockNumber(), 1);
        QContextMenuEvent e(QContextMenuEvent::Mouse, pointAt(14), t->viewport()->mapToGlobal(pointAt(14)));
        QApplication::sendEvent(t->viewport(), &e);
        QCOMPARE(menu.size(), 1);
    }

    void positionTextCountsFromOne() {
        Append("ab\ncde");
        QCOMPARE(pane_->PositionText(), QStringLiteral("Ln 2, Col 4"));
        QTextCursor c = pane_->Control()->textCursor();
        c.setPosition(1);
        pane_->Control()->setTextCursor(c);
        QCOMPARE(pane_->PositionText(), QStringLiteral("Ln 1, Col 2"));
    }
};

QTEST_MAIN(TestConsolePane)
#include "tst_consolepane.moc"
