#pragma once

// A docking pane that shows the byte stream of a console: a tool's output,
// the board's serial line. Control characters are interpreted the way a
// simple terminal does (BEL, BS, CR, LF); other control bytes are shown in
// caret notation. The Output, Terminal and register panes build on it.

#include "shell/zkbars.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QMutex>
#include <QPlainTextEdit>

class QTimer;

namespace oxbrin {

class CConsolePane;

// The pane's text control: read-only text that passes typed characters and
// right clicks to its pane instead of handling them itself.
class CConsoleText : public QPlainTextEdit {
    Q_OBJECT
public:
    CConsoleText(CConsolePane* pane, QWidget* parent);

protected:
    void keyPressEvent(QKeyEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;
    void contextMenuEvent(QContextMenuEvent* e) override;
    void focusInEvent(QFocusEvent* e) override;
    bool event(QEvent* e) override;

private:
    CConsolePane* pane_;
};

class CConsolePane : public CZKSCW {
    Q_OBJECT
public:
    CConsolePane(int id, const QString& title, QSize initialSize, QWidget* parent);

    QPlainTextEdit* Control() const { return text_; }

    // Appends raw console bytes; `count` 0 means up to the terminating zero
    // byte. Runs on the GUI thread.
    void AppendConsoleText(const char* bytes, qsizetype count = 0);
    void AppendConsoleText(const QByteArray& bytes);

    // Thread-safe: queues bytes for the GUI thread, which appends them in
    // batches, so a flood of output keeps the window responsive. Bytes keep
    // their order with every other queued byte.
    void PostConsoleText(const QByteArray& bytes);
    // Appends everything queued so far now (GUI thread).
    void FlushPosted();

    // The character and tab format of the pane: `face` at `points`, tab
    // stops every 960 twips (two thirds of an inch), applied to all text.
    void SetConsoleFont(const QString& face, int points);

    bool BeepEnabled() const { return beep_; }
    void SetBeepEnabled(bool on) { beep_ = on; }
    bool CarriageReturnPending() const { return crPending_; }

    // Pane commands.
    bool HasText() const;
    bool HasSelection() const;
    void ClearText();
    void CopySelection();
    void SelectAllText();
    // "Ln %u, Col %u" of the caret, counted from 1.
    QString PositionText() const;

    // The most bytes appended in one go from the posted queue before the
    // event loop gets its turn again.
    static constexpr qsizetype kPostedSlice = 64 * 1024;
    // Posted bytes wait this long before they are shown, so a burst goes in
    // as one insertion; under a steady stream the pane is appended to (and
    // redrawn) at most once per kSteadyGapMs, not once per piece received.
    static constexpr int kQuickDelayMs = 15;
    static constexpr int kSteadyGapMs = 100;
    // Longer lines continue on a new line of the pane.
    static constexpr qsizetype kMaxLineLength = 4096;

signals:
    // The caret moved or the text changed while the pane has the focus.
    void PositionChanged();
    // A right click on the control at `globalPos` (after the caret moved).
    void ContextMenuRequested(const QPoint& globalPos);

protected:
    friend class CConsoleText;
    // A character typed into the control (Latin-1 or UTF-8 bytes of it).
    virtual void OnCharTyped(const QByteArray& bytes);
    virtual void OnDoubleClick() {}
    // Keys the control does not handle by itself go to the pane first;
    // return true when handled.
    virtual bool OnKey(QKeyEvent* e);

private:
    void DeleteLastControlLine();
    void DeleteLastControlChar();

    CConsoleText* text_;
    bool crPending_ = false;
    bool beep_ = true;
    // An unfinished UTF-8 sequence at the end of the last call (tool output
    // arrives in arbitrary pieces). It is shown as Latin-1 at the end of the
    // text, and replaced when the next call completes it.
    QByteArray partial_;

    QMutex postLock_;
    QByteArray posted_;
    bool flushScheduled_ = false;
    QTimer* flushTimer_;
    // When posted bytes were last shown (GUI thread).
    QElapsedTimer lastFlush_;
    // Starts the flush timer for what was just posted (GUI thread).
    void ScheduleFlush();
};

} // namespace oxbrin
