// The serial link inside the running IDE: the Connected and Show Terminal
// commands, the Terminal pane's display and keyboard, its context menu and
// Clear Window, the Terminal page of the Options, the register windows.

#include "ptypair.h"
#include "testsupport.h"

#include "build/consolepane.h"
#include "link/registerbar.h"
#include "link/terminalpane.h"
#include "link/terminalport.h"
#include "options/dlgoptions.h"
#include "options/pageterminal.h"
#include "shell/commands.h"
#include "shell/settings.h"
#include "shell/zkbars.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QTabWidget>
#include <QTextBlock>
#include <QTextLayout>

using namespace oxbrin;
using namespace oxbrin::test;

namespace {

QStringList Texts(QMenu* menu) {
    QStringList texts;
    for (QAction* a : menu->actions()) {
        if (!a->isSeparator()) texts << a->text();
    }
    return texts;
}

QStringList Items(QComboBox* box) {
    QStringList items;
    for (int i = 0; i < box->count(); ++i) items << box->itemText(i);
    return items;
}

// A key whose character lies beyond Latin-1 (the euro sign).
void TypeEuro(QWidget* target) {
    QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(QChar(0x20AC)));
    QApplication::sendEvent(target, &press);
}

} // namespace

class TestTerminal : public QObject, AppFixture {
    Q_OBJECT

    std::unique_ptr<PtyPair> pty_;

    CTerminalPort& Port() { return app_->TerminalPort(); }
    CTerminalPane* Pane() { return qobject_cast<CTerminalPane*>(Frame()->TerminalPane()); }
    QString PaneText() {
        Pane()->FlushPosted();
        return Pane()->Control()->toPlainText();
    }
    template <typename T> T* Control(QWidget* page, int id) {
        return page->findChild<T*>(QStringLiteral("Control%1").arg(id));
    }

private slots:
    void init() {
        Prepare();
        pty_ = std::make_unique<PtyPair>();
        QVERIFY(Start());
        Port().m_strPort = pty_->slave;
        Settle();
    }
    void cleanup() {
        app_.reset();
        pty_.reset();
        Finish();
    }

    void connectedCommandOpensAndClosesThePort() {
        QVERIFY(Pane());
        QVERIFY(Frame()->IsEnabled(ID_TERMINAL_CONNECT));
        QVERIFY(!Frame()->IsChecked(ID_TERMINAL_CONNECT));
        QVERIFY(Frame()->Execute(ID_TERMINAL_CONNECT));
        QVERIFY(Port().IsOpen());
        QVERIFY(Frame()->IsChecked(ID_TERMINAL_CONNECT));
        QVERIFY(Frame()->Execute(ID_TERMINAL_CONNECT));
        QVERIFY(!Port().IsOpen());
        QVERIFY(!Frame()->IsChecked(ID_TERMINAL_CONNECT));
        QVERIFY(prompts_->messages.isEmpty());

        // The board goes away while connected: one message, the command
        // is unchecked again.
        QVERIFY(Frame()->Execute(ID_TERMINAL_CONNECT));
        pty_->CloseMaster();
        QVERIFY(WaitUntil([&] { return !prompts_->messages.isEmpty(); }));
        Settle();
        QCOMPARE(prompts_->messages.size(), 1);
        QVERIFY(!Frame()->IsChecked(ID_TERMINAL_CONNECT));
        QVERIFY(!Frame()->Action(ID_TERMINAL_CONNECT)->isChecked());
    }

    void showingThePaneConnectsAndHidingDisconnects() {
        QVERIFY(Frame()->TerminalPane()->isHidden());
        QVERIFY(Frame()->Execute(ID_VIEW_TERMINAL));
        QVERIFY(!Frame()->TerminalPane()->isHidden());
        QVERIFY(Port().IsOpen());
        QVERIFY(Frame()->Execute(ID_VIEW_TERMINAL));
        QVERIFY(Frame()->TerminalPane()->isHidden());
        QVERIFY(!Port().IsOpen());

        // Showing and focusing without the toggle does not connect.
        QVERIFY(Frame()->Execute(ID_FOCUS_TERMINAL));
        QVERIFY(!Port().IsOpen());
        QVERIFY(Frame()->Execute(ID_VIEW_TERMINAL)); // hides; nothing to close
        QVERIFY(prompts_->messages.isEmpty());

        // A port that cannot be opened: the pane shows, the message says why.
        Port().m_strPort = QStringLiteral("/dev/no-such-port-here");
        QVERIFY(Frame()->Execute(ID_VIEW_TERMINAL));
        QVERIFY(!Frame()->TerminalPane()->isHidden());
        QVERIFY(!Port().IsOpen());
        QCOMPARE(prompts_->messages.size(), 1);
        QVERIFY(prompts_->messages[0].text.contains(QStringLiteral("does not exist")));
    }

    void thePaneShowsWhatTheBoardSends() {
        QVERIFY(Frame()->Execute(ID_TERMINAL_CONNECT));
        QVERIFY(pty_->Send("abc\rxyz\nA\x01"
                           "B\x1b[2J\r\n>"));
        QVERIFY(WaitUntil([&] { return PaneText().endsWith(QLatin1Char('>')); }));
        QCOMPARE(PaneText(), QStringLiteral("xyz\nA^AB^[[2J\n>"));
    }

    void typedKeysGoToTheBoardWithoutEcho() {
        QVERIFY(Frame()->Execute(ID_FOCUS_TERMINAL));
        QWidget* control = Pane()->Control();
        // Disconnected: the first key connects.
        QTest::keyClicks(control, QStringLiteral("md"));
        QVERIFY(Port().IsOpen());
        QTest::keyClick(control, Qt::Key_Return);
        QTest::keyClick(control, Qt::Key_Backspace);
        QTest::keyClick(control, Qt::Key_Escape);
        QCOMPARE(pty_->Receive(5), QByteArray("md\r\x08\x1b"));
        QCOMPARE(PaneText(), QString()); // nothing shown but what the board sends
        QVERIFY(prompts_->messages.isEmpty());
        // A character beyond Latin-1 goes as its UTF-8 bytes.
        TypeEuro(control);
        QCOMPARE(pty_->Receive(3), QByteArray("\xE2\x82\xAC"));

        // Disconnected with a port that cannot be opened: one message for
        // the key, however many bytes it has, and nothing is sent.
        QVERIFY(Frame()->Execute(ID_TERMINAL_CONNECT));
        Port().m_strPort = QStringLiteral("/dev/no-such-port-here");
        TypeEuro(control);
        QCOMPARE(prompts_->messages.size(), 1);
        QVERIFY(!Port().IsOpen());
        Settle();
        QTest::keyClick(control, Qt::Key_X); // the next key tries again
        QCOMPARE(prompts_->messages.size(), 2);
    }

    void talkingToTheSimulatedBoard() {
#ifndef BOARD_MONITOR
        QSKIP("the simulated board is not built");
#else
        QProcess board;
        board.start(QStringLiteral(BOARD_MONITOR), {});
        QVERIFY(board.waitForStarted());
        QVERIFY(WaitUntil([&] { return board.canReadLine(); }));
        const QString line = QString::fromLocal8Bit(board.readLine()).trimmed();
        QVERIFY2(line.startsWith(QStringLiteral("pty /dev/")), qPrintable(line));
        Port().m_strPort = line.mid(4);

        QVERIFY(Frame()->Execute(ID_VIEW_TERMINAL));
        QVERIFY(Port().IsOpen());
        QTest::keyClicks(Pane()->Control(), QStringLiteral("HELP"));
        QTest::keyClick(Pane()->Control(), Qt::Key_Return);
        QVERIFY(WaitUntil([&] { return PaneText().contains(QStringLiteral("HELP          this list")); }));
        // The board echoes the command; its answer starts on a line of its own.
        QVERIFY2(PaneText().contains(QStringLiteral("HELP\nLOAD [T]")), qPrintable(PaneText()));

        // The board is switched off: one message, the port is closed.
        board.terminate();
        QVERIFY(board.waitForFinished());
        QVERIFY(WaitUntil([&] { return !prompts_->messages.isEmpty(); }));
        Settle();
        QCOMPARE(prompts_->messages.size(), 1);
        QVERIFY(!Port().IsOpen());
#endif
    }

    // A line longer than the pane is wide continues on the next row; the
    // text itself stays one line (copying it gives it back whole).
    void longLinesWrap() {
        QVERIFY(Frame()->Execute(ID_FOCUS_TERMINAL));
        Frame()->resize(800, 600);
        Settle();
        QVERIFY(Frame()->Execute(ID_TERMINAL_CONNECT));
        const QByteArray line = QByteArray("S113") + QByteArray(400, 'A') + "\r\n>";
        QVERIFY(pty_->Send(line));
        QVERIFY(WaitUntil([&] { return PaneText().endsWith(QLatin1Char('>')); }));
        Settle();
        const QTextBlock first = Pane()->Control()->document()->firstBlock();
        QCOMPARE(first.text().size(), 404);
        QVERIFY(first.layout() && first.layout()->lineCount() > 1);
        QVERIFY(!Pane()->Control()->horizontalScrollBar()->isVisible());
    }

    // The Terminal page chooses what Enter sends and whether typed keys are
    // shown; the pane follows as soon as the sheet is accepted.
    void enterAndLocalEcho() {
        struct Case {
            const char* enter;
            bool echo;
            QByteArray sent;
            QString shown;
        };
        const Case cases[] = {
            {"LF", true, "md\n", QStringLiteral("md\n")},
            {"CR LF", false, "md\r\n", QStringLiteral("md\n")}, // the pane keeps what it showed
            {"CR", true, "md\r", QStringLiteral("md\nmd\n")},
        };
        for (const Case& c : cases) {
            {
                CDlgOptions sheet(Frame(), CDlgOptions::kPageTerminal);
                auto* page = qobject_cast<CPageTerminal*>(sheet.Terminal());
                auto* enter = Control<QComboBox>(page, CPageTerminal::IDC_ENTER);
                QVERIFY(enter);
                QCOMPARE(Items(enter), QStringList({"CR", "LF", "CR LF"}));
                enter->setCurrentIndex(enter->findText(QString::fromLatin1(c.enter)));
                Control<QCheckBox>(page, CPageTerminal::IDC_ECHO)->setChecked(c.echo);
                QVERIFY(sheet.Apply());
            }
            QCOMPARE(app_->Settings().terminalLocalEcho, c.echo ? 1u : 0u);
            QTest::keyClicks(Pane()->Control(), QStringLiteral("md"));
            QTest::keyClick(Pane()->Control(), Qt::Key_Return);
            QCOMPARE(pty_->Receive(c.sent.size()), c.sent);
            QVERIFY(pty_->Quiet(20));
            QCOMPARE(PaneText(), c.shown);
        }
        QCOMPARE(app_->Settings().terminalEnter, kEnterSendsCR);
        // The echo shows Backspace as the board would: the character goes.
        QTest::keyClicks(Pane()->Control(), QStringLiteral("xy"));
        QTest::keyClick(Pane()->Control(), Qt::Key_Backspace);
        QCOMPARE(pty_->Receive(3), QByteArray("xy\b"));
        QCOMPARE(PaneText(), QStringLiteral("md\nmd\nx"));
    }

    // A log file gets every byte the pane is given, as it came; the page
    // refuses a file that cannot be written.
    void logFileKeepsEverythingShown() {
        const QString log = dir_->filePath(QStringLiteral("board.log"));
        auto setLog = [&](const QString& path, bool echo) {
            CDlgOptions sheet(Frame(), CDlgOptions::kPageTerminal);
            auto* page = qobject_cast<CPageTerminal*>(sheet.Terminal());
            auto* edit = Control<QLineEdit>(page, CPageTerminal::IDC_LOGFILE);
            edit->setText(path);
            Control<QCheckBox>(page, CPageTerminal::IDC_ECHO)->setChecked(echo);
            return sheet.Apply();
        };
        QVERIFY(WriteAll(log, "earlier session\n"));
        QVERIFY(setLog(log, true));
        QCOMPARE(Pane()->LogFile(), log);
        QVERIFY(Frame()->Execute(ID_TERMINAL_CONNECT));
        QVERIFY(pty_->Send("KBUG->\x07\r\n"));
        QVERIFY(WaitUntil([&] { return PaneText() == QStringLiteral("KBUG->\n"); }));
        QTest::keyClick(Pane()->Control(), Qt::Key_P);
        QCOMPARE(pty_->Receive(1), QByteArray("p"));
        QVERIFY(pty_->Send("\xE2\x82\xAC ok"));
        QVERIFY(WaitUntil([&] { return PaneText().endsWith(QStringLiteral("ok")); }));
        QCOMPARE(ReadAll(log), QByteArray("earlier session\nKBUG->\x07\r\np\xE2\x82\xAC ok"));

        // No log: nothing more is written.
        QVERIFY(setLog(QString(), false));
        QVERIFY(Pane()->LogFile().isEmpty());
        QVERIFY(pty_->Send("more"));
        QVERIFY(WaitUntil([&] { return PaneText().endsWith(QStringLiteral("more")); }));
        QCOMPARE(ReadAll(log).right(2), QByteArray("ok"));

        // A folder that does not exist: the page says so and keeps the old value.
        QVERIFY(prompts_->messages.isEmpty());
        QVERIFY(!setLog(dir_->filePath(QStringLiteral("no/such/dir/x.log")), false));
        QCOMPARE(prompts_->messages.size(), 1);
        QVERIFY2(prompts_->messages[0].text.startsWith(QStringLiteral("Could not open the log file ")),
                 qPrintable(prompts_->messages[0].text));
        QVERIFY(app_->Settings().terminalLogFile.isEmpty());
    }

    // Save Terminal Log writes the pane's text as shown.
    void saveTerminalLog() {
        Frame()->UpdateCommandUI();
        QVERIFY(!Frame()->IsEnabled(ID_TERMINAL_SAVE_LOG));
        Pane()->AppendConsoleText("line 1\r\nline 2\rLINE 2\r\n>");
        Frame()->UpdateCommandUI();
        QVERIFY(Frame()->IsEnabled(ID_TERMINAL_SAVE_LOG));
        const QString path = dir_->filePath(QStringLiteral("saved.log"));
        prompts_->fileAnswer = {path};
        QVERIFY(Frame()->Execute(ID_TERMINAL_SAVE_LOG));
        QCOMPARE(prompts_->fileRequests.size(), 1);
        QVERIFY(prompts_->fileRequests[0].save);
        QCOMPARE(prompts_->fileRequests[0].title, QStringLiteral("Save Terminal Log"));
        QCOMPARE(ReadAll(path), QByteArray("line 1\nLINE 2\n>\n"));
        QVERIFY(prompts_->messages.isEmpty());

        // A place that cannot be written: a message, no file.
        prompts_->fileAnswer = {dir_->filePath(QStringLiteral("missing/saved.log"))};
        QVERIFY(Frame()->Execute(ID_TERMINAL_SAVE_LOG));
        QCOMPARE(prompts_->messages.size(), 1);
        QVERIFY(prompts_->messages[0].text.startsWith(QStringLiteral("Could not save the terminal log ")));
        // Cancelled: nothing happens.
        QVERIFY(Frame()->Execute(ID_TERMINAL_SAVE_LOG));
        QCOMPARE(prompts_->messages.size(), 1);
    }

    // While connected the status bar names the port and its line.
    void statusBarShowsThePort() {
        QLabel* field = PortField(Frame());
        QVERIFY(field);
        QVERIFY(field->isHidden());
        QVERIFY(Frame()->Execute(ID_TERMINAL_CONNECT));
        QVERIFY(!field->isHidden());
        QCOMPARE(field->text(), QStringLiteral("%1  9600,8,1,n").arg(pty_->slave));
        {
            CDlgOptions sheet(Frame(), CDlgOptions::kPageTerminal);
            auto* page = qobject_cast<CPageTerminal*>(sheet.Terminal());
            auto* baud = Control<QComboBox>(page, CPageTerminal::IDC_BAUD);
            baud->setCurrentIndex(baud->findText(QStringLiteral("115200")));
            Control<QCheckBox>(page, CPageTerminal::IDC_XONXOFF)->setChecked(true);
            QVERIFY(sheet.Apply());
        }
        QCOMPARE(field->text(), QStringLiteral("%1  115200,8,1,n, XON/XOFF").arg(pty_->slave));
        QVERIFY(Frame()->Execute(ID_TERMINAL_CONNECT));
        QVERIFY(field->isHidden());
    }

    void clearWindowAndTheContextMenu() {
        QVERIFY(!Frame()->IsEnabled(ID_TERMINAL_CLEAR));
        Pane()->AppendConsoleText("some text\n");
        Frame()->UpdateCommandUI();
        QVERIFY(Frame()->IsEnabled(ID_TERMINAL_CLEAR));
        QVERIFY(Frame()->Execute(ID_TERMINAL_CLEAR));
        QCOMPARE(PaneText(), QString());
        QVERIFY(!Frame()->IsEnabled(ID_TERMINAL_CLEAR));

        QMenu* menu = Pane()->ContextMenu(Frame());
        QCOMPARE(Texts(menu),
                 QStringList({QStringLiteral("&Copy Selection"), QStringLiteral("Clea&r Window"),
                              QStringLiteral("Save Terminal &Log..."), QStringLiteral("&Connected"),
                              QStringLiteral("&Show Terminal Window"), QStringLiteral("&Options...")}));
        // The menu's Connected is the frame's command.
        QAction* connected = menu->actions().at(4);
        connected->trigger();
        QVERIFY(Port().IsOpen());
        Frame()->UpdateCommandUI();
        QVERIFY(connected->isChecked());
        connected->trigger();
        QVERIFY(!Port().IsOpen());
    }

    void terminalPageListsAndFlags() {
        CPageTerminal page(Port(), app_->Settings());
        auto* baud = Control<QComboBox>(&page, CPageTerminal::IDC_BAUD);
        auto* data = Control<QComboBox>(&page, CPageTerminal::IDC_DATABITS);
        auto* stop = Control<QComboBox>(&page, CPageTerminal::IDC_STOPBITS);
        auto* parity = Control<QComboBox>(&page, CPageTerminal::IDC_PARITY);
        QVERIFY(baud && data && stop && parity);
        QCOMPARE(Items(baud),
                 QString("110 300 600 1200 2400 4800 9600 14400 19200 38400 57600 115200").split(' '));
        QCOMPARE(Items(data), QString("5 6 7 8").split(' '));
        QCOMPARE(Items(stop), QString("1 1.5 2").split(' '));
        QCOMPARE(Items(parity), QString("None Even Odd Mark Space").split(' '));
        // The stored defaults: 9600, 8, 1, none.
        QCOMPARE(baud->currentText(), QStringLiteral("9600"));
        QCOMPARE(data->currentText(), QStringLiteral("8"));
        QCOMPARE(stop->currentText(), QStringLiteral("1"));
        QCOMPARE(parity->currentText(), QStringLiteral("None"));
        QCOMPARE(page.PortBox()->currentText(), pty_->slave);
        QVERIFY(!page.IsModified());
        // The note names the default port as this system spells it.
        QStringList notes;
        for (QLabel* l : page.findChildren<QLabel*>()) notes << l->text();
        QVERIFY2(notes.contains(
                     QStringLiteral("Specify the port and baudrate of the target system. Default values "
                                    "are /dev/ttyS1, 9600,8,1,n")),
                 qPrintable(notes.join(QLatin1Char('|'))));

        baud->setCurrentIndex(baud->findText(QStringLiteral("14400")));
        data->setCurrentIndex(data->findText(QStringLiteral("7")));
        stop->setCurrentIndex(stop->findText(QStringLiteral("2")));
        parity->setCurrentIndex(parity->findText(QStringLiteral("Odd")));
        Control<QCheckBox>(&page, CPageTerminal::IDC_RTSCTS)->setChecked(true);
        Control<QCheckBox>(&page, CPageTerminal::IDC_XONXOFF)->setChecked(true);
        Control<QCheckBox>(&page, CPageTerminal::IDC_SENDCR)->setChecked(true);
        Control<QSpinBox>(&page, CPageTerminal::IDC_CHARDELAY)->setValue(20000); // beyond the range
        Control<QSpinBox>(&page, CPageTerminal::IDC_LINEDELAY)->setValue(160);
        page.PortBox()->setEditText(QStringLiteral("/dev/serial/by-id/usb-board-if00"));
        QVERIFY(page.IsModified());
        QVERIFY(page.OnApply());

        const platform::Dcb& dcb = Port().m_dcb;
        QCOMPARE(dcb.BaudRate, 14400u);
        QCOMPARE(int(dcb.ByteSize), 7);
        QCOMPARE(int(dcb.StopBits), int(platform::Dcb::kTwoStopBits));
        QCOMPARE(int(dcb.Parity), int(platform::Dcb::kOddParity));
        // RTS/CTS: CTS output flow and RTS handshake; DTR stays enabled;
        // XON/XOFF both ways; binary and parity check always.
        QCOMPARE(dcb.Flags, 0x1u | 0x2u | 0x4u | (1u << 4) | 0x100u | 0x200u | (2u << 12));
        QCOMPARE(Port().m_strPort, QStringLiteral("/dev/serial/by-id/usb-board-if00"));
        const SettingsBlock& s = app_->Settings();
        QCOMPARE(s.sendCR, 1u);
        QCOMPARE(s.charDelay, 10000u);
        QCOMPARE(s.lineDelay, 160u);
        QCOMPARE(s.comPort, Port().m_strPort);
        QCOMPARE(s.comSettings.size(), 28);
        QCOMPARE(quint8(s.comSettings[18]), quint8(7));

        // DTR/DSR alone: DSR output flow and DTR handshake, RTS enabled.
        Control<QCheckBox>(&page, CPageTerminal::IDC_RTSCTS)->setChecked(false);
        Control<QCheckBox>(&page, CPageTerminal::IDC_XONXOFF)->setChecked(false);
        Control<QCheckBox>(&page, CPageTerminal::IDC_DTRDSR)->setChecked(true);
        QVERIFY(page.OnApply());
        QCOMPARE(Port().m_dcb.Flags, 0x1u | 0x2u | 0x8u | (2u << 4) | (1u << 12));

        // Opening the page again shows what was stored.
        CPageTerminal again(Port(), app_->Settings());
        QCOMPARE(Control<QComboBox>(&again, CPageTerminal::IDC_BAUD)->currentText(), QStringLiteral("14400"));
        QCOMPARE(Control<QComboBox>(&again, CPageTerminal::IDC_PARITY)->currentText(), QStringLiteral("Odd"));
        QVERIFY(Control<QCheckBox>(&again, CPageTerminal::IDC_DTRDSR)->isChecked());
        QVERIFY(!Control<QCheckBox>(&again, CPageTerminal::IDC_RTSCTS)->isChecked());
        QCOMPARE(Control<QSpinBox>(&again, CPageTerminal::IDC_LINEDELAY)->value(), 160);
    }

    void terminalPageWhileConnected() {
        QVERIFY(Frame()->Execute(ID_TERMINAL_CONNECT));
        CPageTerminal page(Port(), app_->Settings());
        QVERIFY(!page.PortBox()->isEnabled());
        auto* baud = Control<QComboBox>(&page, CPageTerminal::IDC_BAUD);
        baud->setCurrentIndex(baud->findText(QStringLiteral("115200")));
        auto* stop = Control<QComboBox>(&page, CPageTerminal::IDC_STOPBITS);
        stop->setCurrentIndex(stop->findText(QStringLiteral("2")));
        Control<QCheckBox>(&page, CPageTerminal::IDC_RTSCTS)->setChecked(true);
        Control<QCheckBox>(&page, CPageTerminal::IDC_XONXOFF)->setChecked(true);
        QVERIFY(page.OnApply());
        // The open line has the new settings at once, without a reconnect.
        QVERIFY(Port().IsOpen());
        termios2 t = pty_->Settings();
        QCOMPARE(t.c_ospeed, 115200u);
        QVERIFY(t.c_cflag & CSTOPB);
        QVERIFY(t.c_cflag & CRTSCTS);
        QCOMPARE(t.c_iflag & (IXON | IXOFF), tcflag_t(IXON | IXOFF));
        Control<QCheckBox>(&page, CPageTerminal::IDC_RTSCTS)->setChecked(false);
        Control<QCheckBox>(&page, CPageTerminal::IDC_XONXOFF)->setChecked(false);
        QVERIFY(page.OnApply());
        t = pty_->Settings();
        QVERIFY(!(t.c_cflag & CRTSCTS));
        QCOMPARE(t.c_iflag & (IXON | IXOFF), tcflag_t(0));
        const uint8_t c = '?';
        QVERIFY(Port().SendKey(&c, 1));
        QCOMPARE(pty_->Receive(1), QByteArray("?"));

        // The port box follows the connection while the page is open.
        QVERIFY(Frame()->Execute(ID_TERMINAL_CONNECT));
        QVERIFY(page.PortBox()->isEnabled());
    }

    void terminalPageInTheOptionsSheet() {
        CDlgOptions sheet(Frame(), CDlgOptions::kPageTerminal);
        QCOMPARE(sheet.Tabs()->currentIndex(), 1);
        QCOMPARE(sheet.Tabs()->tabText(1), QStringLiteral("Terminal"));
        auto* page = qobject_cast<CPageTerminal*>(sheet.Terminal());
        QVERIFY(page);
        QPushButton* apply = sheet.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Apply);
        QVERIFY(!apply->isEnabled());
        auto* parity = Control<QComboBox>(page, CPageTerminal::IDC_PARITY);
        parity->setCurrentIndex(parity->findText(QStringLiteral("Space")));
        QVERIFY(apply->isEnabled());
        QVERIFY(sheet.Apply());
        QCOMPARE(int(Port().m_dcb.Parity), int(platform::Dcb::kSpaceParity));
    }

    // A board that talks for ever cannot fill the memory: the pane keeps the
    // Scrollback setting's number of lines, the newest; the page sets it.
    void scrollbackKeepsTheNewestLines() {
        QCOMPARE(app_->Settings().terminalScrollback, kDefaultTerminalScrollback);
        QCOMPARE(Pane()->Control()->maximumBlockCount(), int(kDefaultTerminalScrollback));
        {
            CDlgOptions sheet(Frame(), CDlgOptions::kPageTerminal);
            auto* page = qobject_cast<CPageTerminal*>(sheet.Terminal());
            auto* lines = Control<QSpinBox>(page, CPageTerminal::IDC_SCROLLBACK);
            QVERIFY(lines);
            QCOMPARE(lines->value(), int(kDefaultTerminalScrollback));
            lines->setValue(150);
            QVERIFY(sheet.Apply());
        }
        QCOMPARE(app_->Settings().terminalScrollback, 150u);
        QVERIFY(Frame()->Execute(ID_TERMINAL_CONNECT));
        QByteArray text;
        for (int i = 1; i <= 1000; ++i) text += "line " + QByteArray::number(i) + "\r\n";
        text += ">";
        QVERIFY(pty_->Send(text));
        QVERIFY(WaitUntil([&] { return PaneText().endsWith(QStringLiteral("line 1000\n>")); }));
        QCOMPARE(Pane()->Control()->document()->blockCount(), 150);
        QVERIFY(PaneText().startsWith(QStringLiteral("line 852\n")));
    }

    // The sheet opened from Terminal > Options starts in the port box, the
    // field the user came to fill in; with the port open (box disabled) in
    // the first field that can be changed.
    void optionsSheetStartsInThePortBox() {
        for (bool connected : {false, true}) {
            if (connected) QVERIFY(Frame()->Execute(ID_TERMINAL_CONNECT));
            CDlgOptions sheet(Frame(), CDlgOptions::kPageTerminal);
            sheet.show();
            QVERIFY(QTest::qWaitForWindowActive(&sheet));
            auto* page = qobject_cast<CPageTerminal*>(sheet.Terminal());
            QWidget* focus = sheet.focusWidget();
            QVERIFY(focus);
            QWidget* expected = connected
                                    ? static_cast<QWidget*>(Control<QComboBox>(page, CPageTerminal::IDC_BAUD))
                                    : page->PortBox();
            QVERIFY2(focus == expected || expected->isAncestorOf(focus), qPrintable(focus->objectName()));
            // What to type there, when the box is empty.
            QVERIFY(!page->PortBox()->lineEdit()->placeholderText().isEmpty());
            sheet.reject();
        }
    }

    // An empty pane says whether the port is open and how to open it; the
    // hint is never part of the pane's text.
    void emptyPaneTellsTheConnectionState() {
        QPlainTextEdit* text = Pane()->Control();
        QVERIFY(text->placeholderText().startsWith(QStringLiteral("Not connected")));
        QVERIFY(Frame()->Execute(ID_VIEW_TERMINAL));
        QVERIFY(Port().IsOpen());
        QVERIFY(text->placeholderText().contains(pty_->slave));
        QVERIFY(PaneText().isEmpty());
        QVERIFY(!Frame()->IsEnabled(ID_TERMINAL_CLEAR));
        QVERIFY(Frame()->Execute(ID_TERMINAL_CONNECT));
        QVERIFY(text->placeholderText().startsWith(QStringLiteral("Not connected")));
        // A board that goes away leaves the hint right too.
        QVERIFY(Frame()->Execute(ID_TERMINAL_CONNECT));
        pty_->CloseMaster();
        QVERIFY(WaitUntil([&] { return !prompts_->messages.isEmpty(); }));
        Settle();
        QVERIFY(text->placeholderText().startsWith(QStringLiteral("Not connected")));
    }

    // The Terminal pane shown beside the Output pane gets half the row, not
    // the sliver the row's old split would leave it.
    void terminalBesideTheOutputShareTheRow() {
        Frame()->resize(1000, 700);
        QVERIFY(Frame()->Execute(ID_FOCUS_OUTPUT));
        Settle();
        QVERIFY(Frame()->Execute(ID_FOCUS_TERMINAL));
        QTRY_VERIFY(Frame()->TerminalPane()->width() > Frame()->width() / 3);
        QVERIFY(Frame()->OutputPane()->width() > Frame()->width() / 3);
        QCOMPARE(Frame()->TerminalPane()->geometry().top(), Frame()->OutputPane()->geometry().top());
    }

    void terminalPageKeepsAnUnlistedRate() {
        Port().m_dcb.BaudRate = 31250;
        CPageTerminal page(Port(), app_->Settings());
        auto* baud = Control<QComboBox>(&page, CPageTerminal::IDC_BAUD);
        QCOMPARE(baud->currentText(), QStringLiteral("31250"));
        QVERIFY(page.OnApply());
        QCOMPARE(Port().m_dcb.BaudRate, 31250u);
    }

    void registerWindows() {
        CRegisterBar* bar = Frame()->RegisterBar();
        QVERIFY(Frame()->Execute(ID_VIEW_REGISTER_BAR));
        QVERIFY(!bar->isHidden());
        // Seven right-aligned editable fields, labelled from top to bottom.
        const int ids[] = {106, 111, 105, 107, 108, 109, 110};
        const char* labels[] = {"A", "B", "D", "X", "Y", "SP", "PC"};
        int lastY = -1;
        for (int i = 0; i < 7; ++i) {
            QLineEdit* field = bar->Field(ids[i]);
            QVERIFY(field);
            QVERIFY(!field->isReadOnly());
            QCOMPARE(field->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignRight);
            QVERIFY(field->y() > lastY);
            lastY = field->y();
            QLabel* label = nullptr;
            for (QLabel* l : bar->findChildren<QLabel*>()) {
                if (l->buddy() == field) label = l;
            }
            QVERIFY(label);
            QCOMPARE(label->text(), QString::fromLatin1(labels[i]));
        }
        bool ccr = false;
        for (QLabel* l : bar->findChildren<QLabel*>())
            ccr = ccr || (l->text() == QStringLiteral("SXHINZFC") && l->y() > lastY);
        QVERIFY(ccr);
        QVERIFY(Frame()->Execute(ID_VIEW_REGISTER_BAR));
        QVERIFY(bar->isHidden());

        QVERIFY(Frame()->Execute(ID_VIEW_VARNEL));
        QVERIFY(!Frame()->VarnelPane()->isHidden());
        QCOMPARE(Frame()->VarnelPane()->windowTitle(), QStringLiteral("Varnel"));
        auto* varnel = qobject_cast<CConsolePane*>(Frame()->VarnelPane());
        QVERIFY(varnel);
        QVERIFY(varnel != Frame()->OutputPane() && varnel != Frame()->TerminalPane());
        QVERIFY(!varnel->HasText());
        QTest::keyClicks(varnel->Control(), QStringLiteral("rd"));
        QVERIFY(!varnel->HasText());
        QVERIFY(Frame()->Execute(ID_VIEW_VARNEL));
        QVERIFY(Frame()->VarnelPane()->isHidden());
        QVERIFY(!Port().IsOpen()); // the register windows have nothing to do with the line
    }
};

QTEST_MAIN(TestTerminal)
#include "tst_terminal.moc"
