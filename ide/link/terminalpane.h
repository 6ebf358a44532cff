#pragma once

// The Terminal pane: the IDE's window onto the board's monitor. What the
// board sends is shown as a console shows it; what the user types goes to
// the board one byte a key, without local echo.

#include "build/consolepane.h"
#include "terminalport.h"

class QMenu;

namespace oxbrin {

class CMainFrame;

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

protected:
    void OnCharTyped(const QByteArray& bytes) override;

private:
    CTerminalPort& port_;
    QMenu* menu_ = nullptr;
    // A connect failed while this key was being sent: the rest of its bytes
    // (a character sent as UTF-8) are dropped instead of trying again.
    bool connectFailed_ = false;
};

// Gives the frame's serial commands their handlers (Connected, Clear
// Window), makes the Terminal pane's toggle connect and disconnect, and
// routes the port's received bytes and messages to the frame's pane.
void InstallTerminal(CMainFrame* frame, CTerminalPort* port);

}  // namespace oxbrin
