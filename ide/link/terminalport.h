#pragma once

// The application's one serial port: connects and disconnects with the
// user's messages, shows what the board sends in the Terminal pane, sends
// what the user types, and hands the line's events to a running download.

#include "serialport.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <atomic>
#include <cstdint>

class QWidget;

namespace oxbrin {

struct SettingsBlock;

namespace strings {
inline constexpr const char* kPortOpenFailed = "Could not open the communication port %s:"; // 210
// Windows names itself; elsewhere the words come from the operating system
// all the same, and naming Windows there misleads.
#ifdef _WIN32
inline constexpr const char* kSystemReports = "Windows reports:"; // 211
#else
inline constexpr const char* kSystemReports = "The system reports:";
#endif
inline constexpr const char* kPortMissing = "The specified communication port does not exist.\nGo to the "
                                            "menu Terminal/Options and select an other port."; // 212
inline constexpr const char* kPortInUse = "The communication port is already in use by another "
                                          "program.\nClose the program that access this port and try "
                                          "again.";                                                    // 213
inline constexpr const char* kPortCloseFailed = "Could not close the communication port %s properly!"; // 214
inline constexpr const char* kPortNotSerial =
    "The communication port does not apear to be a serial device."; // 215
// A device that goes away while connected (a USB adapter pulled out).
inline constexpr const char* kPortLost = "The communication port %s stopped working and has been "
                                         "disconnected.\nConnect again when the device is back.";
} // namespace strings

// Where the bytes the board sends are shown. Called on the port's reader
// thread; the receiver moves them to its own thread.
class CReceiveSink {
public:
    virtual ~CReceiveSink() = default;
    virtual void ReceiveBytes(const uint8_t* bytes, size_t count) = 0;
};

// What a download needs from the line. TransferActive may be asked on any
// thread; the two events come on the port's reader thread, after the
// received bytes have gone to the Terminal pane.
class CTransferHook {
public:
    virtual ~CTransferHook() = default;
    virtual bool TransferActive() const = 0;
    virtual void OnTransferReceive(const uint8_t* bytes, size_t count) = 0;
    virtual void OnTransferTxEmpty() = 0;
};

// The message texts for a failed open, a failed close and a lost device.
QString OpenErrorText(const QString& port, const platform::SerialError& error);
QString CloseErrorText(const QString& port, const platform::SerialError& error);
QString LostText(const QString& port, const platform::SerialError& error);
// The status line for settings an open device did not take (a
// pseudo-terminal keeps 8 data bits without parity); empty when none.
QString IgnoredSettingsText(const QString& port, unsigned ignored);

class CTerminalPort : public QObject, public CSerialPort {
    Q_OBJECT
public:
    explicit CTerminalPort(QObject* parent = nullptr);
    ~CTerminalPort() override;

    // The window that owns the error messages (the main frame).
    void SetMessageOwner(QWidget* owner) { owner_ = owner; }
    // Either may be null. The reader thread takes them as they are when
    // each event comes.
    void SetReceiveSink(CReceiveSink* sink) { sink_ = sink; }
    void SetTransferHook(CTransferHook* hook) { hook_ = hook; }
    bool TransferActive() const;

    // Open() / Close() with the wait cursor, and the error message on failure.
    bool OpenWithMessage();
    bool CloseWithMessage();
    // One keystroke (or a few bytes) from the Terminal pane: connects first
    // when closed; dropped while a download runs. Never waits for the line:
    // while the board holds it (XOFF) keys queue up behind what waits.
    bool SendKey(const uint8_t* bytes, size_t count);
    // Tells (SettingsNotTaken) which settings the open device did not take.
    void ReportIgnoredSettings();

    // The port name and line record from and into the settings block.
    void LoadFrom(const SettingsBlock& settings);
    void StoreTo(SettingsBlock& settings) const;

signals:
    // The port was opened or closed (by a command, or because the device went).
    void ConnectionChanged(bool open);
    // The device hung up or failed; sent before the message about it.
    void PortLost();
    // The open line runs with some of the device's own values instead.
    void SettingsNotTaken(const QString& text);

protected:
    void OnReceive(const uint8_t* bytes, size_t count) override;
    unsigned OnCommEvent(unsigned mask) override;
    void OnLost(const platform::SerialError& error) override;

private:
    void HandleLost(quint64 generation, const platform::SerialError& error);

    QPointer<QWidget> owner_;
    std::atomic<CReceiveSink*> sink_{nullptr};
    std::atomic<CTransferHook*> hook_{nullptr};
    // Counts opens, so that news of a lost device is not applied to a port
    // opened again since.
    std::atomic<quint64> generation_{0};
};

} // namespace oxbrin
