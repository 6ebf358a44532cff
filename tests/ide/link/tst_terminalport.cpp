// The application's serial port on pseudo-terminal pairs: bytes both ways,
// the user's messages for each way an open, a close or the line can fail,
// typing while disconnected or during a download.

#include "ptypair.h"

#include "link/terminalport.h"
#include "shell/prompts.h"
#include "shell/settings.h"

#include <QApplication>
#include <QMutex>
#include <QSignalSpy>
#include <QTest>
#include <QWaitCondition>

#include <atomic>
#include <cerrno>
#include <cstring>

using namespace oxbrin;
using namespace oxbrin::test;

namespace {

// What the Terminal pane would show; can hold the reader thread on request.
class Sink : public CReceiveSink {
public:
    void ReceiveBytes(const uint8_t* bytes, size_t count) override {
        QMutexLocker lock(&mutex_);
        data_.append(reinterpret_cast<const char*>(bytes), qsizetype(count));
        changed_.wakeAll();
        while (hold_) changed_.wait(&mutex_);
    }
    QByteArray WaitFor(qsizetype count) {
        QDeadlineTimer deadline(kPatienceMs);
        QMutexLocker lock(&mutex_);
        while (data_.size() < count && !deadline.hasExpired()) changed_.wait(&mutex_, deadline);
        return data_;
    }
    void Hold(bool on) {
        QMutexLocker lock(&mutex_);
        hold_ = on;
        changed_.wakeAll();
    }

private:
    QMutex mutex_;
    QWaitCondition changed_;
    QByteArray data_;
    bool hold_ = false;
};

class Transfer : public CTransferHook {
public:
    std::atomic<bool> active{false};
    std::atomic<int> received{0};
    std::atomic<int> txEmpty{0};
    bool TransferActive() const override { return active; }
    void OnTransferReceive(const uint8_t*, size_t count) override { received += int(count); }
    void OnTransferTxEmpty() override { ++txEmpty; }
};

struct Messages {
    QList<MessageRequest> list;
    Messages() {
        SetMessageResponder([this](const MessageRequest& r) {
            list << r;
            return QMessageBox::Ok;
        });
    }
    ~Messages() { SetMessageResponder({}); }
};

} // namespace

class TestTerminalPort : public QObject {
    Q_OBJECT

private slots:
    void bytesBothWays() {
        PtyPair pty;
        Sink sink;
        CTerminalPort port;
        port.SetReceiveSink(&sink);
        port.m_strPort = pty.slave;
        QSignalSpy changed(&port, &CTerminalPort::ConnectionChanged);
        QVERIFY(port.OpenWithMessage());
        QVERIFY(port.IsOpen());
        QCOMPARE(changed.count(), 1);

        // Every byte value comes through unchanged: control bytes are the
        // pane's business, not the line's.
        QByteArray all;
        for (int i = 0; i < 256; ++i) all.append(char(i));
        QVERIFY(pty.Send(all));
        QCOMPARE(sink.WaitFor(256), all);

        for (char c : QByteArray("HELP\r\x08\x1b", 7))
            QVERIFY(port.SendKey(reinterpret_cast<const uint8_t*>(&c), 1));
        QCOMPARE(pty.Receive(7), QByteArray("HELP\r\x08\x1b", 7));

        QVERIFY(port.CloseWithMessage());
        QVERIFY(!port.IsOpen());
        QCOMPARE(changed.count(), 2);
        QVERIFY(!port.CloseWithMessage()); // nothing to close
    }

    void openErrorsTellTheUserWhy() {
        Messages messages;
        CTerminalPort port;

        port.m_strPort = QStringLiteral("/dev/no-such-port-here");
        QVERIFY(!port.OpenWithMessage());
        QVERIFY(!port.IsOpen());
        QCOMPARE(messages.list.size(), 1);
        QCOMPARE(messages.list[0].icon, QMessageBox::Critical);
        QCOMPARE(messages.list[0].text,
                 QStringLiteral("Could not open the communication port /dev/no-such-port-here:\n"
                                "The specified communication port does not exist.\n"
                                "Go to the menu Terminal/Options and select an other port."));

        // A bare Windows name stands for the matching serial device.
        port.m_strPort = QStringLiteral("COM99");
        QVERIFY(!port.OpenWithMessage());
        QVERIFY(messages.list.last().text.startsWith(
            QStringLiteral("Could not open the communication port COM99:\n")));

        PtyPair pty;
        CTerminalPort holder;
        holder.m_strPort = pty.slave;
        QVERIFY(holder.OpenWithMessage());
        port.m_strPort = pty.slave;
        QVERIFY(!port.OpenWithMessage());
        QCOMPARE(messages.list.last().text,
                 QStringLiteral("Could not open the communication port %1:\n"
                                "The communication port is already in use by another program.\n"
                                "Close the program that access this port and try again.")
                     .arg(pty.slave));
        QVERIFY(holder.CloseWithMessage());
        QVERIFY(port.OpenWithMessage()); // free again
        QVERIFY(port.CloseWithMessage());

        port.m_strPort = QStringLiteral("/dev/null");
        QVERIFY(!port.OpenWithMessage());
        QCOMPARE(messages.list.last().text,
                 QStringLiteral("Could not open the communication port /dev/null:\n"
                                "The communication port does not apear to be a serial device."));

        // Any other system error: its own words.
        QTemporaryDir dir;
        port.m_strPort = dir.path();
        QVERIFY(!port.OpenWithMessage());
        const QString text = messages.list.last().text;
        QVERIFY2(
            text.startsWith(QStringLiteral("Could not open the communication port %1:\n").arg(dir.path())),
            qPrintable(text));
        QVERIFY(!port.IsOpen());
    }

    void permissionDeniedNamesTheGroup() {
        platform::SerialError e;
        e.kind = platform::SerialErrorKind::System;
        e.code = EACCES;
        e.text = std::strerror(EACCES);
        e.hint = "Access to /dev/ttyUSB0 is granted to the group \"dialout\". Add yourself to it.";
        QCOMPARE(
            OpenErrorText(QStringLiteral("/dev/ttyUSB0"), e),
            QStringLiteral("Could not open the communication port /dev/ttyUSB0:\nThe system reports:\n\n%1\n"
                           "Access to /dev/ttyUSB0 is granted to the group \"dialout\". Add yourself to it.")
                .arg(QString::fromLocal8Bit(std::strerror(EACCES))));
    }

    void unplugGivesOneMessageAndAClosedPort() {
        Messages messages;
        PtyPair pty;
        Sink sink;
        CTerminalPort port;
        port.SetReceiveSink(&sink);
        port.m_strPort = pty.slave;
        QSignalSpy changed(&port, &CTerminalPort::ConnectionChanged);
        QVERIFY(port.OpenWithMessage());
        QVERIFY(pty.Send("bye"));
        QCOMPARE(sink.WaitFor(3), QByteArray("bye"));
        pty.CloseMaster();

        QVERIFY(WaitUntil([&] { return !messages.list.isEmpty(); }));
        QVERIFY(!port.IsOpen());
        // Everything queued has been handled: still the one message.
        for (int i = 0; i < 20; ++i) QCoreApplication::processEvents();
        QCOMPARE(messages.list.size(), 1);
        QVERIFY2(messages.list[0].text.startsWith(
                     QStringLiteral("The communication port %1 stopped working and has been disconnected.")
                         .arg(pty.slave)),
                 qPrintable(messages.list[0].text));
        // Off Windows the system's words are not credited to Windows.
        QVERIFY2(messages.list[0].text.contains(QStringLiteral("\nThe system reports:\n\n")) &&
                     !messages.list[0].text.contains(QStringLiteral("Windows")),
                 qPrintable(messages.list[0].text));
        QCOMPARE(changed.count(), 2);
        QCOMPARE(changed.last().at(0).toBool(), false);
        // Writing to the gone device fails quietly; closing has nothing to do.
        const uint8_t c = 'x';
        QVERIFY(!port.Write(&c, 1));
        QVERIFY(!port.CloseWithMessage());
        QCOMPARE(messages.list.size(), 1);
    }

    void reconnectAfterUnplugIsNotTakenForTheLostOne() {
        Messages messages;
        auto pty = std::make_unique<PtyPair>();
        CTerminalPort port;
        port.m_strPort = pty->slave;
        QVERIFY(port.OpenWithMessage());
        pty->CloseMaster();
        // The user connects again (to another board) before the news of the
        // lost one is handled: no events are served until then.
        QDeadlineTimer deadline(kPatienceMs);
        while (port.IsOpen() && !deadline.hasExpired()) QTest::qSleep(2);
        QVERIFY(!port.IsOpen());
        PtyPair second;
        port.m_strPort = second.slave;
        QVERIFY(port.OpenWithMessage());
        for (int i = 0; i < 20; ++i) QCoreApplication::processEvents();
        QVERIFY(port.IsOpen());
        QVERIFY(messages.list.isEmpty());
        const uint8_t c = 'k';
        QVERIFY(port.SendKey(&c, 1));
        QCOMPARE(second.Receive(1), QByteArray("k"));
        QVERIFY(port.CloseWithMessage());
    }

    void closeWhileTheReaderIsBusyReportsAndCloses() {
        Messages messages;
        PtyPair pty;
        Sink sink;
        CTerminalPort port;
        port.SetReceiveSink(&sink);
        port.m_strPort = pty.slave;
        QVERIFY(port.OpenWithMessage());
        sink.Hold(true);
        QVERIFY(pty.Send("x"));
        QCOMPARE(sink.WaitFor(1), QByteArray("x")); // the reader is now held in the pane

        QVERIFY(!port.CloseWithMessage());
        QVERIFY(!port.IsOpen());
        QCOMPARE(messages.list.size(), 1);
        QCOMPARE(
            messages.list[0].text,
            QStringLiteral("Could not close the communication port %1 properly!\nThe system reports:\n\n%2")
                .arg(pty.slave, QString::fromLocal8Bit(std::strerror(ECANCELED))));
        sink.Hold(false);
        // The device is free for the next connect once the reader has ended.
        QVERIFY(WaitUntil([&] { return port.IsOpen() || port.Open(); }));
        QCOMPARE(messages.list.size(), 1);
        QVERIFY(port.CloseWithMessage());
    }

    void typingWhileDisconnectedConnectsFirst() {
        Messages messages;
        PtyPair pty;
        CTerminalPort port;
        port.m_strPort = pty.slave;
        QSignalSpy changed(&port, &CTerminalPort::ConnectionChanged);
        const uint8_t a = 'a';
        QVERIFY(port.SendKey(&a, 1));
        QVERIFY(port.IsOpen());
        QCOMPARE(changed.count(), 1);
        QCOMPARE(pty.Receive(1), QByteArray("a"));
        QVERIFY(port.CloseWithMessage());

        // If the connect fails the key is dropped after the message.
        port.m_strPort = QStringLiteral("/dev/no-such-port-here");
        QVERIFY(!port.SendKey(&a, 1));
        QCOMPARE(messages.list.size(), 1);
        QVERIFY(!port.IsOpen());
    }

    void downloadTakesTheLineEventsAndKeysAreDropped() {
        PtyPair pty;
        Sink sink;
        Transfer transfer;
        CTerminalPort port;
        port.SetReceiveSink(&sink);
        port.SetTransferHook(&transfer);
        port.m_strPort = pty.slave;
        QVERIFY(port.OpenWithMessage());

        transfer.active = true;
        QVERIFY(port.TransferActive());
        const uint8_t k = 'k';
        QVERIFY(!port.SendKey(&k, 1));  // dropped
        QVERIFY(port.Write("S9\n", 3)); // the download's own line
        QVERIFY(WaitUntil([&] { return transfer.txEmpty > 0; }));
        QVERIFY(pty.Send("*"));
        QCOMPARE(sink.WaitFor(1), QByteArray("*")); // the pane still shows it
        QVERIFY(WaitUntil([&] { return transfer.received == 1; }));

        transfer.active = false;
        const uint8_t z = 'z';
        QVERIFY(port.SendKey(&z, 1));
        QCOMPARE(pty.Receive(4), QByteArray("S9\nz")); // no 'k' in between
        QVERIFY(port.CloseWithMessage());
    }

    void settingsTheDeviceDoesNotTakeAreTold() {
        PtyPair pty;
        CTerminalPort port;
        port.m_strPort = pty.slave;
        port.m_dcb.ByteSize = 7;
        port.m_dcb.Parity = platform::Dcb::kEvenParity;
        QSignalSpy told(&port, &CTerminalPort::SettingsNotTaken);
        QVERIFY(port.OpenWithMessage()); // the line still works
        QCOMPARE(told.count(), 1);
        QCOMPARE(told[0].at(0).toString(),
                 QStringLiteral("%1 does not support the chosen data bits, parity; it runs with its own.")
                     .arg(pty.slave));
        port.m_dcb = DefaultLineSettings();
        QVERIFY(port.ApplySettings());
        port.ReportIgnoredSettings();
        QCOMPARE(told.count(), 1); // 8N1 is taken: nothing to tell
        QVERIFY(port.CloseWithMessage());
    }

    void settingsComeFromTheStoreAndGoBack() {
        SettingsBlock block;
        block.comPort = QStringLiteral("/dev/ttyUSB3");
        platform::Dcb dcb;
        dcb.BaudRate = 57600;
        dcb.ByteSize = 7;
        dcb.Parity = platform::Dcb::kEvenParity;
        const auto bytes = dcb.ToBytes();
        block.comSettings = QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size()));
        CTerminalPort port;
        port.LoadFrom(block);
        QCOMPARE(port.m_strPort, QStringLiteral("/dev/ttyUSB3"));
        QCOMPARE(port.m_dcb.BaudRate, 57600u);
        QCOMPARE(int(port.m_dcb.ByteSize), 7);
        QCOMPARE(int(port.m_dcb.Parity), int(platform::Dcb::kEvenParity));

        SettingsBlock out;
        port.StoreTo(out);
        QCOMPARE(out.comPort, block.comPort);
        QCOMPARE(out.comSettings, block.comSettings);

        // A damaged record (no line takes 3 data bits) gives the defaults
        // instead of an open that fails every time.
        block.comSettings[18] = 3;
        port.LoadFrom(block);
        QCOMPARE(port.m_dcb.BaudRate, 9600u);
        QCOMPARE(int(port.m_dcb.ByteSize), 8);
        block.comSettings.chop(1);
        port.m_dcb.BaudRate = 300;
        port.LoadFrom(block);
        QCOMPARE(port.m_dcb.BaudRate, 9600u);
    }
};

QTEST_MAIN(TestTerminalPort)
#include "tst_terminalport.moc"
