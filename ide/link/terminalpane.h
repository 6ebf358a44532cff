#pragma once

// The Terminal pane: the IDE's window onto the board's monitor. What the
// board sends is shown as a console shows it; what the user types goes to
// the board one byte a key, without local echo.

#include "build/consolepane.h"
#include "terminalport.h"

#include <QFile>

#include <QMutex>
#include <functional>

class QLabel;
class QMenu;

namespace oxbrin {

class CMainFrame;

namespace strings {
inline constexpr const char* kSaveLogTitle = "Save Terminal Log";
inline constexpr const char* kSaveLogFilter =
    "Log Files (*.log)|*.log|Text Files (*.txt)|*.txt|All Files (*.*)|*.*||";
inline constexpr const char* kSaveLogFailed = "Could not save the terminal log %s:";
inline constexpr const char* kLogOpenFailed = "Could not open the log file %s:";
} // namespace strings

class CTerminalPane : public CConsolePane, public CReceiveSink {
    Q_OBJECT
public:
    CTerminalPane(CTerminalPort& port, QSize initialSize, QWidget* parent);

    // On the port's reader thread: queued for the GUI thread, which shows
    // the bytes in batches.
    void ReceiveBytes(const uint8_t* bytes, size_t count) override;

    // Context menu "TERMINAL"; its commands go to `frame`. Built on first use.
    QMenu* ContextMenu(CMainFrame* frame);

    // The most lines the pane keeps (the Scrollback setting); the oldest go
    // first, so a board that talks for days cannot fill the memory.
    void SetScrollback(quint32 lines);

    // The grey hint an empty pane shows: whether the port is open, which
    // one, and how to connect. Never part of the pane's text.
    void ShowConnectionHint(bool open, const QString& port);

    // What Enter sends (kEnterSendsCR, kEnterSendsLF, kEnterSendsCRLF) and
    // whether typed characters are shown in the pane as they are sent.
    void SetKeyboard(quint32 enter, bool localEcho);
    // Everything the pane is given from now on (what the board sends, the
    // local echo) is also appended, byte for byte, to `path`; empty ends
    // the log. False (and no log) when the file cannot be opened for
    // appending; `error` then says why.
    bool SetLogFile(const QString& path, QString* error = nullptr);
    QString LogFile() const;
    // The pane's text as it is shown, one line a row, into `path`. False
    // with the reason in `error` when it cannot be written whole.
    bool SaveText(const QString& path, QString* error) const;

    // While set, typed keys go to `route` (the debugger's simulated serial
    // line) instead of the port; Enter and the local echo work as always.
    void SetKeyRoute(std::function<void(const QByteArray&)> route) { route_ = std::move(route); }

protected:
    void OnCharTyped(const QByteArray& bytes) override;

private:
    // Shows bytes in the pane (any thread) and writes them to the log.
    void Show(const QByteArray& bytes);

    CTerminalPort& port_;
    QMenu* menu_ = nullptr;
    QByteArray enter_ = QByteArray("\r");
    bool echo_ = false;
    // The log is written on the port's reader thread and changed on the
    // GUI thread.
    mutable QMutex logLock_;
    QFile log_;
    // A connect failed while this key was being sent: the rest of its bytes
    // (a character sent as UTF-8) are dropped instead of trying again.
    bool connectFailed_ = false;
    std::function<void(const QByteArray&)> route_;
};

// The status bar field that names the open port and its line settings
// ("/dev/ttyUSB0  9600,8,1,n"); hidden while the port is closed.
QString PortFieldText(const CTerminalPort& port);

// Gives the frame's serial commands their handlers (Connected, Clear
// Window, Save Terminal Log), makes the Terminal pane's toggle connect and
// disconnect, routes the port's received bytes and messages to the frame's
// pane and puts the port field into the status bar.
void InstallTerminal(CMainFrame* frame, CTerminalPort* port);
// The port field of `frame`'s status bar (null before InstallTerminal).
QLabel* PortField(CMainFrame* frame);

} // namespace oxbrin
