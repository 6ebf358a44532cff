#pragma once

// The download commands of the IDE: the Download File dialog (plain and
// star handshake), Stop Transfer, the messages, the progress shown in the
// status bar, and the link between the download engine and the
// application's serial port.

#include "download.h"
#include "shell/mainframe.h"
#include "terminalport.h"

#include <QLabel>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <atomic>
#include <functional>

namespace oxbrin {

struct SettingsBlock;

namespace strings {
inline constexpr const char* kDownloadFilter =
    "Motorola S-Records (*.s19)|*.s19|Intel Hex Files (*.hex)|*.hex|All Files (*.*)|*.*||"; // 179
inline constexpr const char* kDownloadTitle = "Download S-Record";                          // 180
inline constexpr const char* kDownloadExtension = "s19";                                    // 181
inline constexpr const char* kFileOpenFailed = "Could not open the file %s:";               // 216
// The status bar while a transfer runs.
inline constexpr const char* kDownloadProgress = "Download: %1 of %2 lines";
inline constexpr const char* kDownloadEnded = "Download ended: %1 of %2 lines sent";
} // namespace strings

// A line that stands in for the serial port: the simulated board's while
// debugging, so that a download reaches the program on it as it would a
// real board. Its pacing events (the CTransferHook calls) come on the
// line's own thread, like the port's reader thread.
class CStandInLine : public CDownloadLink {
public:
    bool Connect() override { return IsOpen(); }
    // Runs `task` on the line's thread; false once the line is closed.
    virtual bool Post(std::function<void()> task) = 0;
};

class CDownloadControl : public QObject, public CTransferHook, private CDownloadLink {
    Q_OBJECT
public:
    // Becomes the port's transfer hook (the port must be closed now) and
    // gives the frame's download commands their handlers. The owner keeps it
    // until the port is no longer used. The delays and
    // the line end are taken from `settings` at each start, the last path
    // is kept there as DownloadFile.
    CDownloadControl(CMainFrame* frame, CTerminalPort* port, SettingsBlock* settings);
    // Closes the port first if it is open: no pacing event may reach the
    // engine once it goes.
    ~CDownloadControl() override;

    // The name the download dialog starts with: the file sent last, else
    // the active source's .s19 when it exists.
    QString SuggestedFile() const;

    CDownload& Engine() { return download_; }

    // Download File... (plain) and Download File to EEPROM... (star): the
    // dialog, then StartDownload with the chosen file.
    void DownloadCommand(bool starHandshake);
    // Connects when needed and sends the first line. Tells the user when the
    // port or the file cannot be opened.
    bool StartDownload(const QString& path, bool starHandshake);
    void StopDownload();
    // Downloads go to `line` instead of the port until it is taken back
    // with nullptr; taking it back stops a transfer on it. The line sends
    // its pacing events to this object.
    void SetStandInLine(CStandInLine* line);
    CStandInLine* StandInLine() const { return line_; }

    // "Download: n of m lines" while a transfer runs; hidden otherwise.
    QLabel* ProgressPane() const { return progress_; }
    // Brings the progress pane and the commands up to date now.
    void UpdateProgress();

    bool TransferActive() const override { return download_.IsActive(); }
    void OnTransferReceive(const uint8_t* bytes, size_t count) override { download_.OnReceive(bytes, count); }
    void OnTransferTxEmpty() override { download_.OnTransmitEmpty(); }

private:
    void TakeSettings();
    bool Connect() override;
    // Called on the port's (or the stand-in line's) thread.
    bool Write(const void* bytes, size_t count) override {
        CStandInLine* line = line_;
        return line ? line->Write(bytes, count) : port_->Write(bytes, count);
    }
    void Flush() override {
        if (CStandInLine* line = line_)
            line->Flush();
        else
            port_->Drain();
    }
    void Cancel() override {
        if (CStandInLine* line = line_)
            line->Cancel();
        else
            port_->CancelOutput();
    }
    bool IsOpen() override {
        CStandInLine* line = line_;
        return line ? line->IsOpen() : port_->IsOpen();
    }

    QPointer<CMainFrame> frame_;
    CTerminalPort* port_;
    std::atomic<CStandInLine*> line_{nullptr};
    SettingsBlock* settings_;
    CDownload download_;
    QPointer<QLabel> progress_;
    QTimer poll_;
    bool shownActive_ = false;
};

} // namespace oxbrin
