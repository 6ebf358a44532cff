// The download commands in the running IDE: the dialog and its remembered
// path, the messages, the enable rules, the progress in the status bar,
// keys dropped during a transfer, and whole downloads through the
// application's serial port into the simulated board monitor.

#include "ptypair.h"

#include "link/downloadcontrol.h"
#include "link/terminalpane.h"
#include "link/terminalport.h"
#include "shell/commands.h"
#include "testsupport.h"

#include <QLabel>
#include <QProcess>
#include <QStatusBar>

#include <condition_variable>
#include <csignal>
#include <mutex>
#include <sys/wait.h>
#include <thread>

using namespace oxbrin;
using namespace oxbrin::test;

namespace {

// Plays the board's XON, and takes what the IDE sends, only when the test
// has not finished in time: a window stuck waiting for a held line then
// comes free, and the test fails instead of hanging.
class Watchdog {
public:
    explicit Watchdog(int master) : thread_([this, master] { Run(master); }) {}
    ~Watchdog() { Finish(); }
    // True when the watchdog had to step in.
    bool Finish() {
        {
            std::lock_guard lock(mutex_);
            done_ = true;
        }
        changed_.notify_all();
        if (thread_.joinable()) thread_.join();
        return rescued_;
    }

private:
    void Run(int master) {
        std::unique_lock lock(mutex_);
        if (changed_.wait_for(lock, std::chrono::seconds(15), [this] { return done_; })) return;
        rescued_ = true;
        while (!done_) {
            lock.unlock();
            const char xon = 0x11;
            if (::write(master, &xon, 1) < 0) return;
            char sink[4096];
            pollfd p{master, POLLIN, 0};
            if (::poll(&p, 1, 50) > 0 && ::read(master, sink, sizeof sink) <= 0) return;
            lock.lock();
        }
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    bool done_ = false;
    bool rescued_ = false;
    std::thread thread_;
};

} // namespace

class TestDownloadControl : public QObject, AppFixture {
    Q_OBJECT

    QProcess board_;

    CTerminalPort* Port() { return &app_->TerminalPort(); }
    CDownloadControl* Control() { return app_->Downloads(); }

    QString PaneText() {
        auto* pane = Frame()->findChild<CTerminalPane*>();
        return pane ? pane->Control()->toPlainText() : QString();
    }

    // The simulated board on a pseudo-terminal of its own; the IDE's port is
    // pointed at it.
    void StartBoard(const QStringList& options) {
        board_.setProgram(QStringLiteral(BOARD_MONITOR));
        board_.setArguments(
            QStringList{QStringLiteral("--image"), dir_->filePath(QStringLiteral("image.bin"))} + options);
        board_.start();
        QVERIFY(board_.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(board_.canReadLine(), 20000);
        const QString first = QString::fromLocal8Bit(board_.readLine()).trimmed();
        QVERIFY2(first.startsWith(QLatin1String("pty ")), qPrintable(first));
        Port()->m_strPort = first.mid(4);
    }

    void Type(const QByteArray& keys) {
        QVERIFY(Port()->SendKey(reinterpret_cast<const uint8_t*>(keys.constData()), size_t(keys.size())));
    }

    // The board's memory image against srec_cat's reading of the same file.
    void CompareImage(const QString& file) {
        const QString expected = dir_->filePath(QStringLiteral("expected.bin"));
        const int status = QProcess::execute(QStringLiteral(SREC_CAT),
                                             {file, QStringLiteral("-fill"), QStringLiteral("0xFF"),
                                              QStringLiteral("0"), QStringLiteral("0x10000"),
                                              QStringLiteral("-o"), expected, QStringLiteral("-binary")});
        QVERIFY2(status == 0, "srec_cat (package srecord) is needed to read the file");
        const QByteArray want = ReadAll(expected);
        QCOMPARE(want.size(), 0x10000);
        QTRY_COMPARE_WITH_TIMEOUT(ReadAll(dir_->filePath(QStringLiteral("image.bin"))) == want, true, 20000);
    }

    QString Assemble() {
        for (const char* f : {"blink.asm", "regs.inc"})
            QFile::copy(QStringLiteral(EXAMPLES_DIR "/") + QLatin1String(f),
                        dir_->filePath(QLatin1String(f)));
        QProcess qorb;
        qorb.setWorkingDirectory(dir_->path());
        qorb.start(QStringLiteral(QORB12), {QStringLiteral("blink.asm")});
        if (!qorb.waitForFinished(20000) || qorb.exitCode() != 0) return {};
        return dir_->filePath(QStringLiteral("blink.s19"));
    }

private slots:
    void init() {
        Prepare();
        QVERIFY(Start());
        QVERIFY(Port());
        QVERIFY(Control());
    }

    void cleanup() {
        app_.reset();
        if (board_.state() != QProcess::NotRunning) {
            board_.terminate();
            board_.waitForFinished(20000);
        }
        Finish();
    }

    void dialogRemembersThePathAndCancelDoesNothing() {
        const QString file = MakeFile(QStringLiteral("prog.s19"), "S9030000FC\n");
        app_->Settings().downloadFile = file;
        QVERIFY(Frame()->IsEnabled(ID_TERMINAL_DOWNLOAD));
        QVERIFY(Frame()->IsEnabled(ID_TERMINAL_DOWNLOAD_EEPROM));
        QVERIFY(!Frame()->IsEnabled(ID_TERMINAL_STOP));

        QVERIFY(Frame()->Execute(ID_TERMINAL_DOWNLOAD)); // cancelled
        QCOMPARE(prompts_->fileRequests.size(), 1);
        const FileRequest& r = prompts_->fileRequests.front();
        QVERIFY(!r.save);
        QCOMPARE(r.title, QStringLiteral("Download S-Record"));
        QCOMPARE(r.suggestedName, file);
        QCOMPARE(r.filter,
                 QStringLiteral("Motorola S-Records (*.s19);;Intel Hex Files (*.hex);;All Files (*)"));
        QVERIFY(!Port()->IsOpen());
        QVERIFY(prompts_->messages.isEmpty());

        // A name typed without its extension is the S-record file; the
        // choice is remembered even when the port then fails to open.
        Port()->m_strPort = dir_->filePath(QStringLiteral("no-such-port"));
        prompts_->fileAnswer = {dir_->filePath(QStringLiteral("prog"))};
        QVERIFY(Frame()->Execute(ID_TERMINAL_DOWNLOAD_EEPROM));
        QCOMPARE(app_->Settings().downloadFile, file);
        QCOMPARE(prompts_->messages.size(), 1);
        QVERIFY(prompts_->messages.front().text.startsWith(
            QStringLiteral("Could not open the communication port %1:\n").arg(Port()->m_strPort)));
        QVERIFY(!Control()->Engine().IsActive());
    }

    void fileThatCannotBeOpenedIsReported() {
        StartBoard({});
        const QString missing = dir_->filePath(QStringLiteral("gone.s19"));
        prompts_->fileAnswer = {missing};
        QVERIFY(Frame()->Execute(ID_TERMINAL_DOWNLOAD));
        QCOMPARE(app_->Settings().downloadFile, missing);
        QCOMPARE(prompts_->messages.size(), 1);
        const MessageRequest& m = prompts_->messages.front();
        QCOMPARE(m.text,
                 QStringLiteral("Could not open the file %1:\n\nNo such file or directory").arg(missing));
        QCOMPARE(m.icon, QMessageBox::Critical);
        // The download connected first.
        QVERIFY(Port()->IsOpen());
        QVERIFY(!Control()->Engine().IsActive());
    }

    // Before anything was sent the dialog offers the S-records of the active
    // source, once they exist; the file sent last wins over them.
    void dialogOffersTheActiveSourcesRecords() {
        const QString source = MakeFile(QStringLiteral("prog.asm"), "\tnop\n");
        app_->Settings().downloadFile.clear();
        QCOMPARE(Control()->SuggestedFile(), QString()); // no document
        QVERIFY(app_->OpenDocumentFile(source));
        QCOMPARE(Control()->SuggestedFile(), QString()); // not built yet
        const QString records = MakeFile(QStringLiteral("prog.s19"), "S9030000FC\n");
        QVERIFY(Frame()->Execute(ID_TERMINAL_DOWNLOAD)); // cancelled
        QCOMPARE(prompts_->fileRequests.size(), 1);
        QCOMPARE(prompts_->fileRequests.front().suggestedName, records);
        const QString other = MakeFile(QStringLiteral("other.s19"), "S9030000FC\n");
        app_->Settings().downloadFile = other;
        QCOMPARE(Control()->SuggestedFile(), other);
    }

    void runningTransferCommandsProgressAndKeys() {
        // Star handshake with a board that never answers with a star: the
        // transfer stays at its first line.
        StartBoard({QStringLiteral("--no-echo")});
        QByteArray text;
        for (int i = 0; i < 5; ++i) text += "S1040000AA51\r\n";
        prompts_->fileAnswer = {MakeFile(QStringLiteral("five.s19"), text)};
        QVERIFY(Frame()->Execute(ID_TERMINAL_DOWNLOAD_EEPROM));
        QVERIFY(Control()->Engine().IsActive());
        Settle();
        QVERIFY(!Frame()->IsEnabled(ID_TERMINAL_DOWNLOAD));
        QVERIFY(!Frame()->IsEnabled(ID_TERMINAL_DOWNLOAD_EEPROM));
        QVERIFY(Frame()->IsEnabled(ID_TERMINAL_STOP));
        auto* progress = Frame()->statusBar()->findChild<QLabel*>(QStringLiteral("DownloadProgress"));
        QVERIFY(progress);
        QVERIFY(progress->isVisibleTo(Frame()));
        // The first line goes out from the port's thread.
        QTRY_COMPARE(progress->text(), QStringLiteral("Download: 1 of 5 lines"));
        // Keys typed meanwhile are not sent.
        const uint8_t key = 'x';
        QVERIFY(!Port()->SendKey(&key, 1));

        QVERIFY(Frame()->Execute(ID_TERMINAL_STOP));
        QVERIFY(!Control()->Engine().IsActive());
        QTRY_VERIFY(!progress->isVisibleTo(Frame()));
        // The progress field goes; the status line says how far it got.
        QCOMPARE(Frame()->statusBar()->currentMessage(), QStringLiteral("Download ended: 1 of 5 lines sent"));
        QVERIFY(Frame()->IsEnabled(ID_TERMINAL_DOWNLOAD));
        QVERIFY(!Frame()->IsEnabled(ID_TERMINAL_STOP));
        QVERIFY(Port()->IsOpen()); // Stop leaves the line alone
        QVERIFY(prompts_->messages.isEmpty());
    }

    void disconnectingDuringALongLineDelay() {
        // The board takes its time over each record, so the line delay
        // raised after the first line holds the second line's sender.
        StartBoard({QStringLiteral("--eeprom"), QStringLiteral("--no-echo"), QStringLiteral("--record-delay"),
                    QStringLiteral("200")});
        Type("LOAD\r");
        QTRY_VERIFY_WITH_TIMEOUT(Port()->IsOpen(), 20000);
        prompts_->fileAnswer = {
            MakeFile(QStringLiteral("three.s19"), "S1040000AA51\nS1040001AA50\nS9030000FC\n")};
        QVERIFY(Frame()->Execute(ID_TERMINAL_DOWNLOAD_EEPROM));
        app_->Settings().lineDelay = 10000;
        Control()->UpdateProgress();
        QTRY_COMPARE_WITH_TIMEOUT(Control()->Engine().Progress().sent, quint64(2), 20000);
        // Closing waits for the port's thread, which must not sit out the delay.
        QVERIFY(Port()->CloseWithMessage());
        QVERIFY(prompts_->messages.isEmpty());
        // The transfer stays until Stop Transfer.
        QVERIFY(Control()->Engine().IsActive());
        QVERIFY(Frame()->Execute(ID_TERMINAL_STOP));
        QVERIFY(!Control()->Engine().IsActive());
    }

    // The board sent XOFF and never sends XON. Starting a download, Stop
    // Transfer, typing and Disconnect all return without waiting for the
    // line (the watchdog steps in only if the window got stuck).
    void aHeldLineNeverHoldsTheWindow() {
        PtyPair pty;
        Port()->m_strPort = pty.slave;
        Port()->m_dcb.Flags |= platform::Dcb::fOutX | platform::Dcb::fInX;
        QVERIFY(Port()->OpenWithMessage());
        QVERIFY(pty.Send("\x13"));
        QVERIFY(pty.Send("m")); // arrives once the line driver has taken the XOFF
        QTRY_VERIFY_WITH_TIMEOUT(PaneText().contains(QLatin1Char('m')), 20000);
        Watchdog watchdog(pty.master);
        const QString file = MakeFile(QStringLiteral("held.s19"), "S1040000AA51\nS1040001AA50\nS9030000FC\n");

        prompts_->fileAnswer = {file};
        QVERIFY(Frame()->Execute(ID_TERMINAL_DOWNLOAD));
        QVERIFY(Control()->Engine().IsActive());
        QVERIFY(Frame()->Execute(ID_TERMINAL_STOP));
        QVERIFY(!Control()->Engine().IsActive());
        // Keys wait behind the held line instead of holding the window.
        const uint8_t key = 'k';
        QVERIFY(Port()->SendKey(&key, 1));

        // Disconnect in the middle of a held download.
        prompts_->fileAnswer = {file};
        QVERIFY(Frame()->Execute(ID_TERMINAL_DOWNLOAD));
        QVERIFY(Control()->Engine().IsActive());
        QVERIFY(Port()->CloseWithMessage());
        QVERIFY(!Port()->IsOpen());
        QVERIFY(prompts_->messages.isEmpty());
        QVERIFY2(!watchdog.Finish(), "the window waited for the held line");
        QVERIFY(Frame()->Execute(ID_TERMINAL_STOP));
    }

    // The board goes away in the middle of a download: the transfer ends
    // as with Stop Transfer (commands, status line, keys no longer taken by
    // it), and the lost port is reported once.
    void aLostPortEndsTheDownload() {
        PtyPair pty;
        Port()->m_strPort = pty.slave;
        QVERIFY(Port()->OpenWithMessage());
        QByteArray text;
        for (int i = 0; i < 5; ++i) text += "S1040000AA51\n";
        prompts_->fileAnswer = {MakeFile(QStringLiteral("five.s19"), text)};
        // Star handshake: after the first line the transfer waits for the board.
        QVERIFY(Frame()->Execute(ID_TERMINAL_DOWNLOAD_EEPROM));
        QCOMPARE(pty.Receive(13), QByteArray("S1040000AA51\n"));
        QVERIFY(Control()->Engine().IsActive());
        pty.CloseMaster();
        QTRY_VERIFY_WITH_TIMEOUT(!Control()->Engine().IsActive(), 20000);
        QTRY_COMPARE(prompts_->messages.size(), 1);
        QVERIFY(prompts_->messages.front().text.contains(QStringLiteral("stopped working")));
        QVERIFY(!Port()->IsOpen());
        QVERIFY(!Port()->TransferActive());
        QVERIFY(!Frame()->IsEnabled(ID_TERMINAL_STOP));
        QVERIFY(Frame()->IsEnabled(ID_TERMINAL_DOWNLOAD));
        QVERIFY(Frame()->IsEnabled(ID_TERMINAL_DOWNLOAD_EEPROM));
        auto* progress = Frame()->statusBar()->findChild<QLabel*>(QStringLiteral("DownloadProgress"));
        QVERIFY(!progress->isVisibleTo(Frame()));
        QCOMPARE(Frame()->statusBar()->currentMessage(), QStringLiteral("Download ended: 1 of 5 lines sent"));
    }

    void downloadsTheExampleInBothModes_data() {
        QTest::addColumn<bool>("star");
        QTest::addColumn<bool>("sendCR");
        QTest::newRow("plain") << false << false;
        QTest::newRow("star, CR LF") << true << true;
    }

    void downloadsTheExampleInBothModes() {
        QFETCH(bool, star);
        QFETCH(bool, sendCR);
        const QString file = Assemble();
        QVERIFY(!file.isEmpty());
        // The board answers every record with a star in both cases; in plain
        // mode the stars only show in the Terminal pane.
        StartBoard({QStringLiteral("--eeprom"), QStringLiteral("--record-delay"), QStringLiteral("2")});
        app_->Settings().sendCR = sendCR ? 1 : 0;
        app_->Settings().lineDelay = 1;
        Type("LOAD\r"); // connects
        QTRY_VERIFY_WITH_TIMEOUT(PaneText().contains(QLatin1String("LOAD")), 20000);
        prompts_->fileAnswer = {file};
        QVERIFY(Frame()->Execute(star ? ID_TERMINAL_DOWNLOAD_EEPROM : ID_TERMINAL_DOWNLOAD));
        QTRY_VERIFY_WITH_TIMEOUT(PaneText().contains(QLatin1String("done")), 20000);
        QTRY_VERIFY(!Control()->Engine().IsActive());
        QVERIFY(prompts_->messages.isEmpty());
        const int lines = int(ReadAll(file).count('\n'));
        QTRY_COMPARE(Frame()->statusBar()->currentMessage(),
                     QStringLiteral("Download ended: %1 of %1 lines sent").arg(lines));
        CompareImage(file);
        // What the board answered was shown while the lines went out.
        const int records = int(ReadAll(file).count('S'));
        QCOMPARE(int(PaneText().count(QLatin1Char('*'))), records);
        QCOMPARE(app_->Settings().downloadFile, file);
    }
};

QTEST_MAIN(TestDownloadControl)
#include "tst_downloadcontrol.moc"
