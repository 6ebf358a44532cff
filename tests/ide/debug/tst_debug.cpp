// The debugger through the main window: keys on the editor, the register
// bar's fields as a user (or a screen reader) reads them, compared with what
// qorbsim reports for the same program stopped at the same address.

#include "build/toolrunner.h"
#include "debug/debugcontrol.h"
#include "debug/memorypane.h"
#include "debug/watchpane.h"
#include "link/downloadcontrol.h"
#include "link/registerbar.h"
#include "shell/commands.h"
#include "shell/settings.h"
#include "shell/zkbars.h"
#include "testsupport.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTableWidget>
#include <QTextBlock>
#include <QToolButton>

using namespace oxbrin;
using namespace oxbrin::test;

namespace {

// Line 6 (the store) is at $100A: lds 3 bytes, ldaa 2, ldab 2, ldx 3.
const QByteArray kProgram = "\torg\t$1000\n"
                            "start\tlds\t#$3000\n"
                            "\tldaa\t#$12\n"
                            "\tldab\t#$34\n"
                            "\tldx\t#$5678\n"
                            "loop\tstaa\t$2000\n"
                            "\tinca\n"
                            "\tbra\tloop\n";

} // namespace

class DebugTest : public QObject, public AppFixture {
    Q_OBJECT

    CDebugControl* Debugger() { return app_->Debugger(); }

    QString Field(const char* name) {
        return Frame()->RegisterBar()->FieldNamed(QString::fromLatin1(name))->text();
    }

    // The fields as qorbsim prints its registers.
    QString FieldsAsSim() {
        return QStringLiteral("PC=%1 A=%2 B=%3 X=%4 Y=%5 SP=%6 CCR=%7")
            .arg(Field("PC"), Field("A"), Field("B"), Field("X"), Field("Y"), Field("SP"))
            .arg(Field("CCR").toUInt(nullptr, 2), 2, 16, QLatin1Char('0'))
            .toUpper()
            .replace(QStringLiteral("CCR="), QStringLiteral("CCR="));
    }

    // qorbsim's registers for the built program stopped at `address`, the
    // cycle count cut off.
    QString SimAt(const QString& object, int address) {
        QProcess sim;
        sim.start(QStringLiteral(QORBSIM), {QStringLiteral("-m68hc12"), QStringLiteral("--stop-at"),
                                            QString::number(address), QStringLiteral("--regs"), object});
        if (!sim.waitForFinished(20000)) return QStringLiteral("qorbsim did not finish");
        QString out = QString::fromUtf8(sim.readAllStandardOutput()).trimmed();
        out.remove(QRegularExpression(QStringLiteral(" CYCLES=\\d+$")));
        return out;
    }

    // Runs a debugger command by its key on the editor and waits for the
    // stop it ends in.
    bool KeyAndWaitForStop(Qt::Key key, Qt::KeyboardModifiers mods = Qt::NoModifier) {
        QSignalSpy stopped(Debugger(), &CDebugControl::ProgramStopped);
        Settle(); // the commands' enabled states follow the last stop
        QTest::keyClick(Frame()->ActiveView(), key, mods);
        return stopped.wait(30000) || !stopped.isEmpty();
    }

private slots:
    void initTestCase() { CToolRunner::SetProgramDirectory(QStringLiteral(OXBRIN_DIR)); }
    void init() {
        Prepare();
        QVERIFY(Start());
        Frame()->show();
        Frame()->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(Frame()));
        Frame()->RegisterBar()->show();
    }
    void cleanup() { Finish(); }

    // F9 on a line, F5: the program is built (with its line map) and stops
    // there with the registers qorbsim has at that address; each step
    // matches qorbsim again; a value typed into A goes into the CPU and from
    // there into memory.
    void breakpointStepAndRegisters() {
        const QString src = MakeFile(QStringLiteral("prog.asm"), kProgram);
        const QString object = dir_->filePath(QStringLiteral("prog.s19"));
        QVERIFY(app_->OpenDocumentFile(src));
        COxbrinView* view = Frame()->ActiveView();
        view->GoToLine(6, 1);
        QTest::keyClick(view, Qt::Key_F9);
        QCOMPARE(view->BreakpointLines(), QList<int>{6});
        QCOMPARE(Debugger()->Breakpoints(src), QList<int>{6});

        QVERIFY(KeyAndWaitForStop(Qt::Key_F5));
        QVERIFY(QFileInfo::exists(dir_->filePath(QStringLiteral("prog.dbg"))));
        QVERIFY(Debugger()->IsPaused());
        QCOMPARE(Field("PC"), QStringLiteral("100A"));
        QCOMPARE(FieldsAsSim(), SimAt(object, 0x100A));
        QCOMPARE(Field("D"), QStringLiteral("1234"));
        QCOMPARE(view->ExecutionLine(), 6);
        Frame()->UpdateCommandUI();
        QCOMPARE(Frame()->Action(ID_DEBUG_START)->isEnabled(), true);
        QCOMPARE(Frame()->Action(ID_DEBUG_START)->text(), QStringLiteral("&Continue\tF5"));
        // The register pane counts cycles and shows the code ahead.
        auto* pane = Frame()->VarnelPane()->findChild<QPlainTextEdit*>();
        QVERIFY(pane);
        QVERIFY2(pane->toPlainText().contains(QStringLiteral("Cycles: ")), qPrintable(pane->toPlainText()));
        QVERIFY2(pane->toPlainText().contains(QStringLiteral("> 100a")), qPrintable(pane->toPlainText()));

        // Step over the store, then the increment: qorbsim agrees at each.
        QVERIFY(KeyAndWaitForStop(Qt::Key_F10));
        QCOMPARE(FieldsAsSim(), SimAt(object, 0x100D));
        QCOMPARE(view->ExecutionLine(), 7);
        QVERIFY(KeyAndWaitForStop(Qt::Key_F10));
        QCOMPARE(FieldsAsSim(), SimAt(object, 0x100E));
        QCOMPARE(Field("A"), QStringLiteral("13"));
        // The changed register is marked, the unchanged ones are not.
        QCOMPARE(Frame()->RegisterBar()->FieldNamed(QStringLiteral("A"))->accessibleDescription(),
                 QStringLiteral("changed"));
        QCOMPARE(Frame()->RegisterBar()->FieldNamed(QStringLiteral("X"))->accessibleDescription(), QString());
        // The branch goes back to the store, where the breakpoint is.
        QVERIFY(KeyAndWaitForStop(Qt::Key_F11));
        QCOMPARE(Field("PC"), QStringLiteral("100A"));
        QCOMPARE(view->ExecutionLine(), 6);
        std::vector<std::uint8_t> mem;
        QVERIFY(Debugger()->Session()->ReadMemory(0x2000, 1, mem));
        QCOMPARE(int(mem[0]), 0x12);

        // Typed into A and confirmed with Enter, the value is the CPU's; the
        // store puts it into memory.
        QLineEdit* a = Frame()->RegisterBar()->FieldNamed(QStringLiteral("A"));
        a->setFocus();
        a->selectAll();
        QTest::keyClicks(a, QStringLiteral("7f"));
        QTest::keyClick(a, Qt::Key_Return);
        QCOMPARE(Field("A"), QStringLiteral("7F"));
        QCOMPARE(Field("D"), QStringLiteral("7F34"));
        view->setFocus();
        QVERIFY(KeyAndWaitForStop(Qt::Key_F11));
        QVERIFY(Debugger()->Session()->ReadMemory(0x2000, 1, mem));
        QCOMPARE(int(mem[0]), 0x7F);
        // A value that does not fit is refused with a message, the CPU keeps its own.
        a->selectAll();
        QTest::keyClicks(a, QStringLiteral("1FF"));
        QTest::keyClick(a, Qt::Key_Return);
        QCOMPARE(Field("A"), QStringLiteral("7F"));
        QVERIFY(Frame()->statusBar()->currentMessage().contains(QStringLiteral("not a value for A")));

        // D is A and B together; the CCR field takes its bits.
        QLineEdit* d = Frame()->RegisterBar()->FieldNamed(QStringLiteral("D"));
        d->selectAll();
        QTest::keyClicks(d, QStringLiteral("$abcd"));
        QTest::keyClick(d, Qt::Key_Return);
        QCOMPARE(Field("A"), QStringLiteral("AB"));
        QCOMPARE(Field("B"), QStringLiteral("CD"));
        QLineEdit* ccr = Frame()->RegisterBar()->FieldNamed(QStringLiteral("CCR"));
        ccr->selectAll();
        QTest::keyClicks(ccr, QStringLiteral("11010001"));
        QTest::keyClick(ccr, Qt::Key_Return);
        QCOMPARE(Field("CCR"), QStringLiteral("11010001"));
        qorb::sim::Registers regs;
        QVERIFY(Debugger()->Session()->GetRegisters(regs));
        QCOMPARE(int(regs.ccr), 0xD1);

        // F5 runs on to the breakpoint again; Shift+F5 ends the session.
        QVERIFY(KeyAndWaitForStop(Qt::Key_F5));
        QCOMPARE(Field("PC"), QStringLiteral("100A"));
        QCOMPARE(Field("A"), QStringLiteral("AC"));
        QTest::keyClick(view, Qt::Key_F5, Qt::ShiftModifier);
        QVERIFY(!Debugger()->IsDebugging());
        QCOMPARE(view->ExecutionLine(), 0);
        QCOMPARE(Field("PC"), QString());
    }

    // The Memory pane: Ctrl+6 shows it; a symbol or an address typed into
    // its field moves it there; a step's store is marked as changed; a hex
    // byte typed into a cell goes into the simulated memory, a bad one is
    // refused with a message; while running it follows the snapshot.
    void memoryPane() {
        const QString src = MakeFile(QStringLiteral("prog.asm"), kProgram);
        QVERIFY(app_->OpenDocumentFile(src));
        COxbrinView* view = Frame()->ActiveView();
        view->GoToLine(6, 1);
        QTest::keyClick(view, Qt::Key_F9);
        QVERIFY(KeyAndWaitForStop(Qt::Key_F5));
        QTest::keyClick(view, Qt::Key_6, Qt::ControlModifier);
        CMemoryPane* memory = Frame()->MemoryPane();
        QVERIFY(!memory->isHidden());
        QCOMPARE(memory->Table()->accessibleName(), QStringLiteral("Memory"));
        QCOMPARE(memory->AddressField()->accessibleName(), QStringLiteral("Memory address"));

        auto goTo = [&](const QString& text) {
            QLineEdit* field = memory->AddressField();
            field->setFocus();
            field->selectAll();
            QTest::keyClicks(field, text);
            QTest::keyClick(field, Qt::Key_Return);
        };
        goTo(QStringLiteral("start"));
        QCOMPARE(int(memory->Address()), 0x1000);
        QCOMPARE(memory->ShownByte(0x1000), std::optional<std::uint8_t>(0xCF)); // lds #
        QCOMPARE(memory->Table()->item(0, 0)->text(), QStringLiteral("CF"));
        // An expression over symbols; the rows start on a multiple of 16.
        goTo(QStringLiteral("loop+$FF6"));
        QCOMPARE(int(memory->Address()), 0x2000);
        QCOMPARE(memory->ShownByte(0x2000), std::optional<std::uint8_t>(0));
        goTo(QStringLiteral("nosuch+1"));
        QVERIFY2(memory->StatusLine()->text().contains(QStringLiteral("nosuch")),
                 qPrintable(memory->StatusLine()->text()));
        QCOMPARE(int(memory->Address()), 0x2000);

        // The store of A ($12) is the one changed byte after the step.
        view->setFocus();
        QVERIFY(KeyAndWaitForStop(Qt::Key_F10));
        QCOMPARE(memory->ShownByte(0x2000), std::optional<std::uint8_t>(0x12));
        QVERIFY(memory->IsHighlighted(0x2000));
        QVERIFY(!memory->IsHighlighted(0x2001));
        QVERIFY(memory->Table()->item(0, CMemoryPane::kColumns)->text().startsWith(QStringLiteral(".")));
        // The next step stores nothing: the mark goes.
        QVERIFY(KeyAndWaitForStop(Qt::Key_F10));
        QVERIFY(!memory->IsHighlighted(0x2000));

        // A byte typed into the cell of $2001 is the board's.
        auto typeInto = [&](int column, const QString& text) {
            QTableWidget* table = memory->Table();
            table->setFocus();
            table->setCurrentCell(0, column);
            QTest::keyClick(table, text.at(0).toLatin1());
            QWidget* editor = QApplication::focusWidget();
            QVERIFY(editor && editor != table);
            QTest::keyClicks(editor, text.mid(1));
            QTest::keyClick(editor, Qt::Key_Return);
            // The view commits a cell's editor from its event loop.
            QTRY_VERIFY_WITH_TIMEOUT(QApplication::focusWidget() == table, 5000);
        };
        typeInto(1, QStringLiteral("5a"));
        std::vector<std::uint8_t> mem;
        QVERIFY(Debugger()->Session()->ReadMemory(0x2001, 1, mem));
        QCOMPARE(int(mem[0]), 0x5A);
        QCOMPARE(memory->Table()->item(0, 1)->text(), QStringLiteral("5A"));
        QVERIFY(memory->Table()->item(0, CMemoryPane::kColumns)->text().startsWith(QStringLiteral(".Z")));
        typeInto(1, QStringLiteral("xy"));
        QVERIFY2(memory->StatusLine()->text().contains(QStringLiteral("not a byte")),
                 qPrintable(memory->StatusLine()->text()));
        QVERIFY(Debugger()->Session()->ReadMemory(0x2001, 1, mem));
        QCOMPARE(int(mem[0]), 0x5A);
        QCOMPARE(memory->Table()->item(0, 1)->text(), QStringLiteral("5A"));

        // Without the breakpoint the loop runs on; the pane shows the
        // stores as they happen, marked against the last stop.
        view->setFocus();
        view->GoToLine(6, 1);
        QTest::keyClick(view, Qt::Key_F9);
        Settle();
        QTest::keyClick(view, Qt::Key_F5);
        QVERIFY(Debugger()->Session()->Running());
        QTRY_VERIFY_WITH_TIMEOUT(memory->ShownByte(0x2000) != std::optional<std::uint8_t>(0x12) &&
                                     memory->IsHighlighted(0x2000),
                                 10000);
        QSignalSpy stopped(Debugger(), &CDebugControl::ProgramStopped);
        QVERIFY(Frame()->Execute(ID_DEBUG_PAUSE));
        QVERIFY(stopped.wait(10000) || !stopped.isEmpty());
        QVERIFY(Debugger()->Session()->ReadMemory(0x2000, 1, mem));
        QCOMPARE(memory->ShownByte(0x2000), std::optional<std::uint8_t>(mem[0]));

        // Without a session the pane is empty and says why.
        QTest::keyClick(view, Qt::Key_F5, Qt::ShiftModifier);
        QVERIFY(!Debugger()->IsDebugging());
        QCOMPARE(memory->ShownByte(0x2000), std::optional<std::uint8_t>());
        QCOMPARE(memory->Table()->item(0, 0)->text(), QString());
    }

    // While the program runs, the Memory pane's refreshes change only the
    // cells and row heads that changed: a refresh that put in new row heads
    // made the table measure every cell again, which kept the window from
    // answering for tens of milliseconds ten times a second. The pane shows the code, which the loop does not
    // change, while the register pane shows each refresh.
    void memoryRefreshChangesOnlyWhatChanged() {
        const QString src = MakeFile(QStringLiteral("prog.asm"), kProgram);
        QVERIFY(app_->OpenDocumentFile(src));
        COxbrinView* view = Frame()->ActiveView();
        QTest::keyClick(view, Qt::Key_6, Qt::ControlModifier);
        CMemoryPane* memory = Frame()->MemoryPane();
        view->setFocus();
        Settle();
        QTest::keyClick(view, Qt::Key_F5);
        QTRY_VERIFY_WITH_TIMEOUT(Debugger()->IsDebugging() && Debugger()->Session()->Running(), 30000);
        QVERIFY(memory->GoTo(QStringLiteral("start")));
        QTRY_COMPARE_WITH_TIMEOUT(memory->ShownByte(0x1000), std::optional<std::uint8_t>(0xCF), 10000);
        auto* registers = Frame()->VarnelPane()->findChild<QPlainTextEdit*>();
        QSignalSpy refreshes(registers, &QPlainTextEdit::textChanged);
        QSignalSpy cells(memory->Table()->model(), &QAbstractItemModel::dataChanged);
        QSignalSpy heads(memory->Table()->model(), &QAbstractItemModel::headerDataChanged);
        QTRY_VERIFY_WITH_TIMEOUT(refreshes.size() >= 3, 10000);
        QCOMPARE(cells.size(), 0);
        QCOMPARE(heads.size(), 0);
        QCOMPARE(memory->ShownByte(0x1000), std::optional<std::uint8_t>(0xCF));
        QTest::keyClick(view, Qt::Key_F5, Qt::ShiftModifier);
        QVERIFY(!Debugger()->IsDebugging());
    }

    // The Watch pane: expressions added by typing them, evaluated at each
    // stop (byte and word at the address, decimal, binary), an unknown
    // symbol's error in its row, Delete removes a row, and the list is
    // there again after a restart.
    void watchPane() {
        const QString src = MakeFile(QStringLiteral("prog.asm"), kProgram);
        QVERIFY(app_->OpenDocumentFile(src));
        COxbrinView* view = Frame()->ActiveView();
        QTest::keyClick(view, Qt::Key_7, Qt::ControlModifier);
        CWatchPane* watch = Frame()->WatchPane();
        QVERIFY(!watch->isHidden());
        QCOMPARE(watch->Table()->accessibleName(), QStringLiteral("Watches"));
        QLineEdit* field = watch->ExpressionField();
        for (const QString& e : {QStringLiteral("$2000"), QStringLiteral("loop"), QStringLiteral("nosuch"),
                                 QStringLiteral("high(loop)+1"), QStringLiteral("  ")}) {
            field->setFocus();
            QTest::keyClicks(field, e);
            QTest::keyClick(field, Qt::Key_Return);
        }
        QCOMPARE(watch->Expressions(),
                 (QStringList{QStringLiteral("$2000"), QStringLiteral("loop"), QStringLiteral("nosuch"),
                              QStringLiteral("high(loop)+1")}));
        QVERIFY(!watch->StatusLine()->text().isEmpty()); // the blank one was refused
        QTableWidget* table = watch->Table();
        auto cell = [&](int row, int column) { return table->item(row, column)->text(); };
        QCOMPARE(cell(0, CWatchPane::Byte), QString()); // nothing to show before debugging

        view->setFocus();
        view->GoToLine(6, 1);
        QTest::keyClick(view, Qt::Key_F9);
        QVERIFY(KeyAndWaitForStop(Qt::Key_F5));
        QCOMPARE(cell(0, CWatchPane::Byte), QStringLiteral("$00"));
        // loop is the store at $100A: staa extended, $7A then the address.
        QCOMPARE(cell(1, CWatchPane::Byte), QStringLiteral("$7A"));
        QCOMPARE(cell(1, CWatchPane::Word), QStringLiteral("$7A20"));
        QVERIFY2(cell(2, CWatchPane::Byte).contains(QStringLiteral("nosuch")),
                 qPrintable(cell(2, CWatchPane::Byte)));
        QCOMPARE(cell(2, CWatchPane::Word), QString());
        // high($100A)+1 is $11: the byte at $0011.
        std::vector<std::uint8_t> mem;
        QVERIFY(Debugger()->Session()->ReadMemory(0x0011, 1, mem));
        QCOMPARE(cell(3, CWatchPane::Decimal), QString::number(mem[0]));

        QVERIFY(KeyAndWaitForStop(Qt::Key_F10));
        QCOMPARE(cell(0, CWatchPane::Byte), QStringLiteral("$12"));
        QCOMPARE(cell(0, CWatchPane::Decimal), QStringLiteral("18"));
        QCOMPARE(cell(0, CWatchPane::Binary), QStringLiteral("%00010010"));

        table->setFocus();
        table->setCurrentCell(2, 0);
        QTest::keyClick(table, Qt::Key_Delete);
        QCOMPARE(watch->Expressions(), (QStringList{QStringLiteral("$2000"), QStringLiteral("loop"),
                                                    QStringLiteral("high(loop)+1")}));
        QCOMPARE(cell(2, CWatchPane::Expression), QStringLiteral("high(loop)+1"));
        QCOMPARE(cell(2, CWatchPane::Decimal), QString::number(mem[0]));

        QTest::keyClick(view, Qt::Key_F5, Qt::ShiftModifier);
        QVERIFY(!Debugger()->IsDebugging());
        QCOMPARE(cell(0, CWatchPane::Byte), QString());
        app_->CloseAllDocuments();
        app_.reset();
        QVERIFY(Start());
        QVERIFY(app_->OpenDocumentFile(src));
        QCOMPARE(
            Frame()->WatchPane()->Expressions(),
            (QStringList{QStringLiteral("$2000"), QStringLiteral("loop"), QStringLiteral("high(loop)+1")}));
    }

    // Each source has its own watches: a file without its own list starts
    // with the one list of before; while debugging, the pane keeps the
    // program's list whatever file is in front; a restart brings back each
    // file's list, an emptied one included.
    void watchesPerFile() {
        app_.reset();
        StoreIn(*dir_)->setValue(SettingsGroup() + QStringLiteral("/Debug/Watches"),
                                 QStringList{QStringLiteral("$1000")});
        QVERIFY(Start());
        const QString a = MakeFile(QStringLiteral("a.asm"), kProgram);
        const QString b = MakeFile(QStringLiteral("b.asm"), kProgram);
        const QString c = MakeFile(QStringLiteral("c.asm"), kProgram);
        CWatchPane* watch = Frame()->WatchPane();
        auto add = [&](const QString& e) {
            watch->ExpressionField()->setFocus();
            QTest::keyClicks(watch->ExpressionField(), e);
            QTest::keyClick(watch->ExpressionField(), Qt::Key_Return);
        };
        const QStringList old{QStringLiteral("$1000")};
        const QStringList listA{QStringLiteral("$1000"), QStringLiteral("$2000")};
        const QStringList listB{QStringLiteral("loop")};

        QVERIFY(app_->OpenDocumentFile(a));
        QCOMPARE(watch->Expressions(), old);
        add(QStringLiteral("$2000"));
        QVERIFY(app_->OpenDocumentFile(b));
        QCOMPARE(watch->Expressions(), old);
        watch->Table()->setFocus();
        watch->Table()->setCurrentCell(0, 0);
        QTest::keyClick(watch->Table(), Qt::Key_Delete);
        QCOMPARE(watch->Expressions(), QStringList());
        add(QStringLiteral("loop"));
        QCOMPARE(watch->Expressions(), listB);
        QVERIFY(app_->OpenDocumentFile(a));
        QCOMPARE(watch->Expressions(), listA);

        // Debugging a, with b in front: a's watches, evaluated.
        COxbrinView* viewA = Frame()->ActiveView();
        viewA->GoToLine(6, 1);
        QTest::keyClick(viewA, Qt::Key_F9);
        QVERIFY(KeyAndWaitForStop(Qt::Key_F5));
        QVERIFY(app_->OpenDocumentFile(b));
        QCOMPARE(Frame()->ActiveView()->GetDocument()->PathName(), b);
        QCOMPARE(watch->Expressions(), listA);
        QCOMPARE(watch->Table()->item(0, CWatchPane::Byte)->text(), QStringLiteral("$CF")); // lds #
        QTest::keyClick(Frame()->ActiveView(), Qt::Key_F5, Qt::ShiftModifier);
        QVERIFY(!Debugger()->IsDebugging());
        QCOMPARE(watch->Expressions(), listB);

        // b emptied stays empty; a file never watched has the old list.
        Frame()->ActiveView()->setFocus();
        watch->Table()->setFocus();
        watch->Table()->setCurrentCell(0, 0);
        QTest::keyClick(watch->Table(), Qt::Key_Delete);
        QCOMPARE(watch->Expressions(), QStringList());
        app_->CloseAllDocuments();
        app_.reset();
        QVERIFY(Start());
        watch = Frame()->WatchPane();
        QVERIFY(app_->OpenDocumentFile(a));
        QCOMPARE(watch->Expressions(), listA);
        QVERIFY(app_->OpenDocumentFile(b));
        QCOMPARE(watch->Expressions(), QStringList());
        QVERIFY(app_->OpenDocumentFile(c));
        QCOMPARE(watch->Expressions(), old);
    }

    // Breakpoints follow their text, are set by a click in the gutter, and
    // are kept in the settings for the next start.
    void breakpointsFollowEditsAndPersist() {
        const QString src = MakeFile(QStringLiteral("prog.asm"), kProgram);
        QVERIFY(app_->OpenDocumentFile(src));
        COxbrinView* view = Frame()->ActiveView();
        view->GoToLine(6, 1);
        QTest::keyClick(view, Qt::Key_F9);
        // A line put in above pushes the breakpoint down with its text.
        view->GoToLine(2, 1);
        QTest::keyClicks(view, QStringLiteral("\tnop"));
        QTest::keyClick(view, Qt::Key_Return);
        QCOMPARE(view->BreakpointLines(), QList<int>{7});
        // A break typed inside a line above does the same.
        view->GoToLine(1, 2);
        view->moveCursor(QTextCursor::EndOfLine);
        QTest::keyClick(view, Qt::Key_Return);
        QCOMPARE(view->BreakpointLines(), QList<int>{8});
        // A line removed above pulls it up.
        view->GoToLine(2, 1);
        view->moveCursor(QTextCursor::Down, QTextCursor::KeepAnchor);
        QTest::keyClick(view, Qt::Key_Delete);
        QCOMPARE(view->BreakpointLines(), QList<int>{7});

        // A click into the gutter beside line 3 sets one; again removes it.
        QWidget* gutter = view->findChild<QWidget*>(QStringLiteral("Gutter"));
        QVERIFY(gutter);
        QTextCursor at(view->document()->findBlockByNumber(2));
        const int y = view->cursorRect(at).center().y();
        QTest::mouseClick(gutter, Qt::LeftButton, {}, QPoint(4, y));
        QCOMPARE(view->BreakpointLines(), (QList<int>{3, 7}));
        QTest::mouseClick(gutter, Qt::LeftButton, {}, QPoint(4, y));
        QCOMPARE(view->BreakpointLines(), QList<int>{7});

        // Kept across a restart of the IDE, for the file by its path.
        app_->CloseAllDocuments();
        app_.reset();
        QVERIFY(Start());
        QCOMPARE(Debugger()->Breakpoints(src), QList<int>{7});
        QVERIFY(app_->OpenDocumentFile(src));
        QCOMPARE(Frame()->ActiveView()->BreakpointLines(), QList<int>{7});
        QVERIFY(Frame()->Execute(ID_DEBUG_DELETE_BREAKPOINTS));
        QCOMPARE(Frame()->ActiveView()->BreakpointLines(), QList<int>());
        app_.reset();
        QVERIFY(Start());
        QCOMPARE(Debugger()->Breakpoints(src), QList<int>());
    }

    // A breakpoint on a comment stops at the next line with code and is
    // drawn there; Step Into a routine in an include file opens that file;
    // Step Out comes back; Run to Cursor stops at the caret's line; Pause
    // stops an endless loop where it is.
    void includeFileRunToCursorAndPause() {
        const QString src = MakeFile(QStringLiteral("main.asm"), "\torg\t$1000\n"
                                                                 "\tlds\t#$3000\n"
                                                                 "; the calls\n"
                                                                 "\tjsr\tsub\n"
                                                                 "\tjsr\tsub\n"
                                                                 "\tldab\t#$77\n"
                                                                 "spin\tbra\tspin\n"
                                                                 "\tinclude\t\"sub.inc\"\n");
        const QString inc = MakeFile(QStringLiteral("sub.inc"), "sub\tldaa\t#$55\n\trts\n");
        QVERIFY(app_->OpenDocumentFile(src));
        COxbrinView* main = Frame()->ActiveView();
        main->GoToLine(3, 1);
        QTest::keyClick(main, Qt::Key_F9);
        QVERIFY(KeyAndWaitForStop(Qt::Key_F5));
        QCOMPARE(main->ExecutionLine(), 4);
        QCOMPARE(main->BreakpointLines(), QList<int>{4});

        QVERIFY(KeyAndWaitForStop(Qt::Key_F11));
        QCOMPARE(app_->Documents().size(), 2);
        COxbrinView* sub = Frame()->ActiveView();
        QCOMPARE(sub->GetDocument()->PathName(), inc);
        QCOMPARE(sub->ExecutionLine(), 1);
        QCOMPARE(main->ExecutionLine(), 0);

        QVERIFY(KeyAndWaitForStop(Qt::Key_F11, Qt::ShiftModifier));
        QCOMPARE(Frame()->ActiveView(), main);
        QCOMPARE(main->ExecutionLine(), 5);
        QCOMPARE(sub->ExecutionLine(), 0);
        QCOMPARE(Field("A"), QStringLiteral("55"));

        main->GoToLine(6, 1);
        QVERIFY(KeyAndWaitForStop(Qt::Key_F10, Qt::ControlModifier));
        QCOMPARE(main->ExecutionLine(), 6);
        QCOMPARE(Debugger()->Session()->GetSnapshot().stop.reason, qorb::debug::StopReason::RunToCursor);

        // Continue into the endless loop; the window is live while it runs,
        // and Pause stops it on the loop's line.
        Settle();
        QTest::keyClick(main, Qt::Key_F5);
        QVERIFY(Debugger()->Session()->Running());
        Frame()->UpdateCommandUI();
        QVERIFY(Frame()->Action(ID_DEBUG_PAUSE)->isEnabled());
        QVERIFY(!Frame()->Action(ID_DEBUG_STEP_INTO)->isEnabled());
        auto* pane = Frame()->VarnelPane()->findChild<QPlainTextEdit*>();
        QTRY_VERIFY_WITH_TIMEOUT(pane->toPlainText().contains(QStringLiteral("Running")), 10000);
        QSignalSpy stopped(Debugger(), &CDebugControl::ProgramStopped);
        QVERIFY(Frame()->Execute(ID_DEBUG_PAUSE));
        QVERIFY(stopped.wait(10000) || !stopped.isEmpty());
        QCOMPARE(Debugger()->Session()->GetSnapshot().stop.reason, qorb::debug::StopReason::Paused);
        QCOMPARE(main->ExecutionLine(), 7);
        QCOMPARE(Field("B"), QStringLiteral("77"));
    }

    // On a board with a serial line, the Terminal pane is that line while
    // debugging: the program's output appears there, typed keys reach it.
    void terminalIsTheSimulatedSerialLine() {
        app_->Settings().targetBoard = QStringLiteral("hc11e9");
        app_->Settings().assembler = QStringLiteral("qorb11");
        const QString src = MakeFile(QStringLiteral("echo.asm"), "\torg\t$D000\n"
                                                                 "start\tlds\t#$01FF\n"
                                                                 "\tldaa\t#$0C\n"
                                                                 "\tstaa\t$102D\n"
                                                                 "\tldaa\t#'H'\n"
                                                                 "w1\tldab\t$102E\n"
                                                                 "\tbitb\t#$80\n"
                                                                 "\tbeq\tw1\n"
                                                                 "\tstaa\t$102F\n"
                                                                 "w2\tldab\t$102E\n"
                                                                 "\tbitb\t#$20\n"
                                                                 "\tbeq\tw2\n"
                                                                 "\tldaa\t$102F\n"
                                                                 "\tstaa\t$0010\n"
                                                                 "done\tbra\tdone\n"
                                                                 "\tend\tstart\n");
        QVERIFY(app_->OpenDocumentFile(src));
        COxbrinView* view = Frame()->ActiveView();
        view->GoToLine(15, 1);
        QTest::keyClick(view, Qt::Key_F9);
        QSignalSpy stopped(Debugger(), &CDebugControl::ProgramStopped);
        Settle();
        QTest::keyClick(view, Qt::Key_F5);
        QTRY_VERIFY_WITH_TIMEOUT(Debugger()->IsDebugging() && Debugger()->Session()->Running(), 30000);
        auto* terminal = Frame()->TerminalPane()->findChild<QPlainTextEdit*>();
        QVERIFY(terminal);
        QVERIFY(!Frame()->TerminalPane()->isHidden());
        QTRY_VERIFY_WITH_TIMEOUT(terminal->toPlainText().contains(QLatin1Char('H')), 10000);
        QVERIFY(stopped.isEmpty()); // it waits for a key
        QTest::keyClicks(terminal, QStringLiteral("k"));
        QVERIFY(stopped.wait(10000) || !stopped.isEmpty());
        QCOMPARE(view->ExecutionLine(), 15);
        std::vector<std::uint8_t> mem;
        QVERIFY(Debugger()->Session()->ReadMemory(0x0010, 1, mem));
        QCOMPARE(int(mem[0]), int('k'));
        QTest::keyClick(view, Qt::Key_F5, Qt::ShiftModifier);
        QVERIFY(!Debugger()->IsDebugging());
    }

    // The virtual board as a real one: the mini11 monitor, debugged on the
    // mini11 board, talks on the Terminal pane; Download File sends a
    // program's S-records through the simulated serial line into the
    // monitor's L command, which stores them (no '?' for a bad record);
    // the monitor's J runs the program, whose line appears in the pane.
    // Stop Debugging gives the download commands back to the serial port.
    void downloadToTheVirtualBoard() {
        app_->Settings().targetBoard = QStringLiteral("mini11");
        app_->Settings().assembler = QStringLiteral("qorb11");
        const QString monitor = dir_->filePath(QStringLiteral("minibug.asm"));
        QVERIFY(QFile::copy(QStringLiteral(MINI11_MONITOR_SOURCE), monitor));
        // The program prints on the monitor's SCI (X holds $F000, where the
        // monitor put the registers) and returns to it.
        const QString hello =
            MakeFile(QStringLiteral("hello.asm"), "\torg\t$2000\n"
                                                  "start\tldy\t#msg\n"
                                                  "next\tldaa\t0,y\n"
                                                  "\tbeq\tdone\n"
                                                  "wait\tbrclr\t$2E,x $80 wait\n"
                                                  "\tstaa\t$2F,x\n"
                                                  "\tiny\n"
                                                  "\tbra\tnext\n"
                                                  "done\trts\n"
                                                  "msg\tfcc\t\"Hello from the virtual board\"\n"
                                                  "\tfcb\t$0D,$0A,0\n");
        QProcess assembler;
        assembler.setWorkingDirectory(dir_->path());
        assembler.start(QStringLiteral(OXBRIN_DIR "/qorb11"), {hello});
        QVERIFY(assembler.waitForFinished(20000));
        const QString records = dir_->filePath(QStringLiteral("hello.s19"));
        QVERIFY2(QFileInfo::exists(records), assembler.readAllStandardOutput().constData());

        QVERIFY(app_->OpenDocumentFile(monitor));
        Settle();
        QTest::keyClick(Frame()->ActiveView(), Qt::Key_F5);
        QTRY_VERIFY_WITH_TIMEOUT(Debugger()->IsDebugging() && Debugger()->Session()->Running(), 30000);
        auto* terminal = Frame()->TerminalPane()->findChild<QPlainTextEdit*>();
        QVERIFY(terminal);
        QTRY_VERIFY_WITH_TIMEOUT(terminal->toPlainText().contains(QStringLiteral("KBUG->")), 10000);
        CDownloadControl* downloads = app_->Downloads();
        QVERIFY(downloads->StandInLine());

        // L, then F8 with the S-records chosen in the dialog.
        terminal->setFocus();
        const qsizetype before = terminal->toPlainText().size();
        QTest::keyClicks(terminal, QStringLiteral("L"));
        prompts_->fileAnswer = {records};
        Settle();
        QTest::keyClick(terminal, Qt::Key_F8);
        QCOMPARE(prompts_->fileRequests.size(), 1);
        QTRY_VERIFY_WITH_TIMEOUT(!downloads->Engine().IsActive(), 20000);
        const DownloadProgress done = downloads->Engine().Progress();
        QVERIFY(done.total >= 3);
        QCOMPARE(done.sent, done.total);
        // The S9 record ends the load; the prompt comes back, with no '?'.
        QTRY_VERIFY_WITH_TIMEOUT(terminal->toPlainText().mid(before).contains(QStringLiteral("KBUG->")),
                                 10000);
        QVERIFY2(!terminal->toPlainText().mid(before).contains(QLatin1Char('?')),
                 qPrintable(terminal->toPlainText().mid(before)));

        QTest::keyClicks(terminal, QStringLiteral("J2000"));
        QTRY_VERIFY_WITH_TIMEOUT(
            terminal->toPlainText().contains(QStringLiteral("Hello from the virtual board")), 10000);

        // The bytes are in the board's memory as the file has them.
        QSignalSpy stopped(Debugger(), &CDebugControl::ProgramStopped);
        QVERIFY(Frame()->Execute(ID_DEBUG_PAUSE));
        QVERIFY(stopped.wait(10000) || !stopped.isEmpty());
        std::vector<std::uint8_t> mem;
        QVERIFY(Debugger()->Session()->ReadMemory(0x2000, 4, mem));
        QByteArray first;
        for (const QByteArray& line : ReadAll(records).split('\n')) {
            if (first.isEmpty() && line.startsWith("S1")) first = line;
        }
        QVERIFY2(first.mid(4, 4) == "2000", first.constData());
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(mem.data()), 4).toHex().toUpper(), first.mid(8, 8));

        QTest::keyClick(Frame()->ActiveView(), Qt::Key_F5, Qt::ShiftModifier);
        QVERIFY(!Debugger()->IsDebugging());
        QCOMPARE(downloads->StandInLine(), nullptr);
    }

    // The board as it powers up: F5 on a program for the mini11 starts the
    // board's monitor (its firmware) with the program already in memory;
    // J2000 typed into the Terminal runs it into its breakpoint, Continue
    // lets it print through the monitor's OUTCH and its rts brings the
    // monitor's prompt back.
    void programUnderTheBoardsMonitor() {
        app_->Settings().targetBoard = QStringLiteral("mini11");
        app_->Settings().assembler = QStringLiteral("qorb11");
        const QString src = MakeFile(QStringLiteral("greet.asm"),
                                     "outch\tequ\t$B652\t; the monitor's output routine: A, X = $F000\n"
                                     "\torg\t$2000\n"
                                     "start\tldy\t#msg\n"
                                     "next\tldaa\t0,y\n"
                                     "\tbeq\tdone\n"
                                     "\tjsr\toutch\n"
                                     "\tiny\n"
                                     "\tbra\tnext\n"
                                     "done\trts\n"
                                     "msg\tfcc\t\"Greetings through the monitor\"\n"
                                     "\tfcb\t$0D,$0A,0\n");
        QVERIFY(app_->OpenDocumentFile(src));
        COxbrinView* view = Frame()->ActiveView();
        view->GoToLine(3, 1);
        QTest::keyClick(view, Qt::Key_F9);
        QCOMPARE(view->BreakpointLines(), QList<int>{3});
        QSignalSpy stopped(Debugger(), &CDebugControl::ProgramStopped);
        QTest::keyClick(view, Qt::Key_F5);
        QTRY_VERIFY_WITH_TIMEOUT(Debugger()->IsDebugging() && Debugger()->Session()->Running(), 30000);
        auto* terminal = Frame()->TerminalPane()->findChild<QPlainTextEdit*>();
        QVERIFY(terminal);
        QTRY_VERIFY_WITH_TIMEOUT(terminal->toPlainText().contains(QStringLiteral("KBUG->")), 10000);
        QVERIFY(stopped.isEmpty()); // the monitor waits for a command
        // The user is told how the program starts.
        auto* output = Frame()->OutputPane()->findChild<QPlainTextEdit*>();
        QVERIFY(output);
        QVERIFY2(output->toPlainText().contains(QStringLiteral(
                     "Debugging greet.asm on the board mini11: Loaded at $2000, greet.asm:3; the "
                     "board's monitor starts at $B600: run the program with its command")),
                 qPrintable(output->toPlainText()));

        terminal->setFocus();
        QTest::keyClicks(terminal, QStringLiteral("J2000"));
        QVERIFY(stopped.wait(10000) || !stopped.isEmpty());
        QCOMPARE(view->ExecutionLine(), 3);
        QCOMPARE(Field("PC"), QStringLiteral("2000"));
        QCOMPARE(Field("X"), QStringLiteral("F000"));

        const qsizetype before = terminal->toPlainText().size();
        Settle(); // the commands' enabled states follow the stop
        QTest::keyClick(view, Qt::Key_F5);
        QTRY_VERIFY_WITH_TIMEOUT(terminal->toPlainText().mid(before).contains(QStringLiteral("KBUG->")),
                                 10000);
        const QString after = terminal->toPlainText().mid(before);
        QVERIFY2(after.indexOf(QStringLiteral("Greetings through the monitor")) >= 0 &&
                     after.indexOf(QStringLiteral("Greetings through the monitor")) <
                         after.indexOf(QStringLiteral("KBUG->")),
                 qPrintable(after));
        QVERIFY(Debugger()->Session()->Running()); // back in the monitor, waiting
        QTest::keyClick(view, Qt::Key_F5, Qt::ShiftModifier);
        QVERIFY(!Debugger()->IsDebugging());
    }

    // Download File to EEPROM waits for the board's '*' after each line:
    // the program's answers on the simulated line pace the transfer.
    void starHandshakeOnTheSimulatedLine() {
        app_->Settings().targetBoard = QStringLiteral("hc11e9");
        app_->Settings().assembler = QStringLiteral("qorb11");
        // Counts the lines it reads at $0010 and answers each with '*'.
        const QString src = MakeFile(QStringLiteral("star.asm"), "\torg\t$D000\n"
                                                                 "start\tlds\t#$01FF\n"
                                                                 "\tldaa\t#$0C\n"
                                                                 "\tstaa\t$102D\n"
                                                                 "\tclr\t$0010\n"
                                                                 "rx\tldab\t$102E\n"
                                                                 "\tbitb\t#$20\n"
                                                                 "\tbeq\trx\n"
                                                                 "\tldaa\t$102F\n"
                                                                 "\tcmpa\t#$0A\n"
                                                                 "\tbne\trx\n"
                                                                 "\tinc\t$0010\n"
                                                                 "tx\tldab\t$102E\n"
                                                                 "\tbitb\t#$80\n"
                                                                 "\tbeq\ttx\n"
                                                                 "\tldaa\t#'*'\n"
                                                                 "\tstaa\t$102F\n"
                                                                 "\tbra\trx\n"
                                                                 "\tend\tstart\n");
        QByteArray lines;
        for (int i = 0; i < 5; ++i) lines += "S1050000AABB95\n";
        const QString records = MakeFile(QStringLiteral("five.s19"), lines);
        QVERIFY(app_->OpenDocumentFile(src));
        Settle();
        QTest::keyClick(Frame()->ActiveView(), Qt::Key_F5);
        QTRY_VERIFY_WITH_TIMEOUT(Debugger()->IsDebugging() && Debugger()->Session()->Running(), 30000);
        CDownloadControl* downloads = app_->Downloads();
        QVERIFY(downloads->StartDownload(records, true));
        QTRY_VERIFY_WITH_TIMEOUT(!downloads->Engine().IsActive(), 20000);
        QCOMPARE(downloads->Engine().Progress().sent, quint64(5));
        auto* terminal = Frame()->TerminalPane()->findChild<QPlainTextEdit*>();
        QTRY_VERIFY_WITH_TIMEOUT(terminal->toPlainText().contains(QStringLiteral("*****")), 10000);
        QSignalSpy stopped(Debugger(), &CDebugControl::ProgramStopped);
        QVERIFY(Frame()->Execute(ID_DEBUG_PAUSE));
        QVERIFY(stopped.wait(10000) || !stopped.isEmpty());
        std::vector<std::uint8_t> mem;
        QVERIFY(Debugger()->Session()->ReadMemory(0x0010, 1, mem));
        QCOMPARE(int(mem[0]), 5);
        QTest::keyClick(Frame()->ActiveView(), Qt::Key_F5, Qt::ShiftModifier);
        QVERIFY(!Debugger()->IsDebugging());
    }

    // A download still running when debugging ends is stopped with the
    // line; nothing waits for the paused program.
    void downloadEndsWithTheSession() {
        app_->Settings().targetBoard = QStringLiteral("hc11e9");
        app_->Settings().assembler = QStringLiteral("qorb11");
        // Never reads its serial line: the first record stays queued.
        const QString src = MakeFile(QStringLiteral("deaf.asm"), "\torg\t$D000\n"
                                                                 "start\tlds\t#$01FF\n"
                                                                 "spin\tbra\tspin\n"
                                                                 "\tend\tstart\n");
        QByteArray lines;
        for (int i = 0; i < 50; ++i) lines += "S1130000000000000000000000000000000000EC\n";
        const QString records = MakeFile(QStringLiteral("big.s19"), lines);
        QVERIFY(app_->OpenDocumentFile(src));
        Settle();
        QTest::keyClick(Frame()->ActiveView(), Qt::Key_F5);
        QTRY_VERIFY_WITH_TIMEOUT(Debugger()->IsDebugging() && Debugger()->Session()->Running(), 30000);
        CDownloadControl* downloads = app_->Downloads();
        QVERIFY(downloads->StartDownload(records, false));
        QVERIFY(downloads->Engine().IsActive());
        Settle();
        QVERIFY(downloads->Engine().Progress().sent < 50);
        QTest::keyClick(Frame()->ActiveView(), Qt::Key_F5, Qt::ShiftModifier);
        QVERIFY(!Debugger()->IsDebugging());
        QVERIFY(!downloads->Engine().IsActive());
        QCOMPARE(downloads->StandInLine(), nullptr);
    }

    // The Debug toolbar: the Debug menu's commands as buttons with images
    // and names for screen readers, enabled as the menu's items are; a
    // click steps; shown and hidden from View > Toolbars and kept so.
    void debugToolbar() {
        CZKToolBar* bar = Frame()->ToolBar(ID_VIEW_TB_DEBUG);
        QVERIFY(bar);
        QCOMPARE(bar->windowTitle(), QStringLiteral("Debug"));
        QCOMPARE(bar->accessibleName(), QStringLiteral("Debug toolbar"));
        QVERIFY(!bar->isHidden());
        const QList<int> ids{
            ID_DEBUG_START,     ID_DEBUG_PAUSE,    ID_DEBUG_STOP,          ID_DEBUG_STEP_INTO,
            ID_DEBUG_STEP_OVER, ID_DEBUG_STEP_OUT, ID_DEBUG_RUN_TO_CURSOR, ID_DEBUG_TOGGLE_BREAKPOINT};
        QStringList names;
        for (int id : ids) {
            auto* button = qobject_cast<QToolButton*>(bar->widgetForAction(Frame()->Action(id)));
            QVERIFY2(button, qPrintable(QString::number(id)));
            QVERIFY(!button->icon().isNull());
            names << button->accessibleName();
        }
        QCOMPARE(names, (QStringList{QStringLiteral("Start Debugging / Continue"), QStringLiteral("Pause"),
                                     QStringLiteral("Stop Debugging"), QStringLiteral("Step Into"),
                                     QStringLiteral("Step Over"), QStringLiteral("Step Out"),
                                     QStringLiteral("Run to Cursor"), QStringLiteral("Toggle Breakpoint")}));
        auto button = [&](int id) { return bar->widgetForAction(Frame()->Action(id)); };
        // Enabled exactly when the menu's item is: no document, then paused.
        auto same = [&] {
            Frame()->UpdateCommandUI();
            for (int id : ids) {
                if (button(id)->isEnabled() != Frame()->Action(id)->isEnabled()) return false;
            }
            return true;
        };
        QVERIFY(same());
        QVERIFY(!button(ID_DEBUG_START)->isEnabled());

        const QString src = MakeFile(QStringLiteral("prog.asm"), kProgram);
        QVERIFY(app_->OpenDocumentFile(src));
        COxbrinView* view = Frame()->ActiveView();
        view->GoToLine(6, 1);
        Frame()->UpdateCommandUI();
        QTest::mouseClick(button(ID_DEBUG_TOGGLE_BREAKPOINT), Qt::LeftButton);
        QCOMPARE(view->BreakpointLines(), QList<int>{6});
        QVERIFY(same());
        QVERIFY(button(ID_DEBUG_START)->isEnabled() && !button(ID_DEBUG_STEP_OVER)->isEnabled());

        QSignalSpy stopped(Debugger(), &CDebugControl::ProgramStopped);
        QTest::mouseClick(button(ID_DEBUG_START), Qt::LeftButton);
        QVERIFY(stopped.wait(30000) || !stopped.isEmpty());
        QCOMPARE(view->ExecutionLine(), 6);
        QVERIFY(same());
        QVERIFY(button(ID_DEBUG_STEP_OVER)->isEnabled() && !button(ID_DEBUG_PAUSE)->isEnabled());
        stopped.clear();
        QTest::mouseClick(button(ID_DEBUG_STEP_OVER), Qt::LeftButton);
        QVERIFY(stopped.wait(30000) || !stopped.isEmpty());
        QCOMPARE(view->ExecutionLine(), 7);
        QTest::mouseClick(button(ID_DEBUG_STOP), Qt::LeftButton);
        QVERIFY(!Debugger()->IsDebugging());
        QVERIFY(same());

        // Hidden from the View menu, and still hidden at the next start.
        QVERIFY(Frame()->Execute(ID_VIEW_TB_DEBUG));
        QVERIFY(bar->isHidden());
        Frame()->UpdateCommandUI();
        QVERIFY(Frame()->Action(ID_VIEW_TB_DEBUG)->isCheckable());
        QVERIFY(!Frame()->Action(ID_VIEW_TB_DEBUG)->isChecked());
        Frame()->close();
        app_->ExitInstance();
        app_.reset();
        QVERIFY(Start());
        QVERIFY(Frame()->ToolBar(ID_VIEW_TB_DEBUG)->isHidden());
        QVERIFY(Frame()->Execute(ID_VIEW_TB_DEBUG));
        QVERIFY(!Frame()->ToolBar(ID_VIEW_TB_DEBUG)->isHidden());
    }

    // A program that stops the CPU with nothing to wake it stops the run
    // with a message naming the place, in the status bar and the Output pane;
    // a board that does not exist is refused with a message.
    void runawayProgramAndBadBoard() {
        const QString src =
            MakeFile(QStringLiteral("halt.asm"), "\torg\t$1000\n\tandcc\t#$7F\n\tstop\n\tnop\n");
        QVERIFY(app_->OpenDocumentFile(src));
        QVERIFY(KeyAndWaitForStop(Qt::Key_F5));
        const QString message = Frame()->statusBar()->currentMessage();
        QVERIFY2(!message.isEmpty(), "no stop message");
        QVERIFY2(message.contains(QStringLiteral("halt.asm")), qPrintable(message));
        auto* output = Frame()->OutputPane()->findChild<QPlainTextEdit*>();
        QVERIFY(output);
        QVERIFY2(output->toPlainText().contains(message), qPrintable(output->toPlainText()));
        QTest::keyClick(Frame()->ActiveView(), Qt::Key_F5, Qt::ShiftModifier);
        QVERIFY(!Debugger()->IsDebugging());

        app_->Settings().targetBoard = QStringLiteral("no-such-board");
        Settle();
        QTest::keyClick(Frame()->ActiveView(), Qt::Key_F5);
        QVERIFY(!Debugger()->IsDebugging());
        QVERIFY2(
            Frame()->statusBar()->currentMessage().startsWith(QStringLiteral("Debugging could not start")),
            qPrintable(Frame()->statusBar()->currentMessage()));
    }
};

QTEST_MAIN(DebugTest)
#include "tst_debug.moc"
