#pragma once

// The Output pane: the build tool's output, with Go To Error Tag to jump
// from a message line of the assembler to the source line it names.
// Characters typed into the pane go to the running tool's input.

#include "consolepane.h"

#include <functional>

class QMenu;

namespace oxbrin {

class CMainFrame;

// The Output pane's own commands.
inline constexpr int kIdGoToErrorTag = 34001;
inline constexpr int kIdOutputClear = 34002;

// A file name with a line and column, as the assembler's message lines start
// ("path(line): ..." and an optional second "(column)").
struct ErrorTag {
    QString file;
    int line = 0;
    int column = 1;
};

// Reads the tag at the start of a line of output; false when there is none
// (no parenthesised line number other than 0).
bool ParseErrorTag(const QString& line, ErrorTag* tag);

class COutputPane : public CConsolePane {
    Q_OBJECT
public:
    COutputPane(CMainFrame* frame, QSize initialSize, QWidget* parent);

    // Where typed bytes go (the tool runner's input).
    void SetInputSink(std::function<void(const char*, qsizetype)> sink) { input_ = std::move(sink); }
    // Relative file names in tags are looked for here first (the folder the
    // tool ran in).
    void SetToolDirectory(const QString& dir) { toolDir_ = dir; }

    // The line that holds the caret.
    QString CaretLineText() const;
    bool CaretLineHasTag() const;
    // Opens the file of the caret line's tag at its line and column and
    // selects the tag line here. False when the line has no tag.
    bool GoToErrorTag();
    // Puts the caret on the first message line that names a source line and
    // scrolls it into view; false when there is none.
    bool ShowFirstErrorTag();
    // F4 and Shift+F4: the next (or previous) message line after the one
    // the caret is on, round the end of the pane, is selected and its source
    // line shown. False when the pane holds no message.
    bool GoToMessage(bool forward);

    // Every message line that names a source line: the file as the jump
    // would open it, the line, and the whole text of the message.
    struct Message {
        QString path;
        int line;
        QString text;
        bool error;
    };
    QList<Message> Messages() const;

    // Context menu 160; its commands go to the frame.
    QMenu* ContextMenu();

protected:
    void OnCharTyped(const QByteArray& bytes) override;
    void OnDoubleClick() override;

private:
    // The file a tag names, as the jump opens it.
    QString TagPath(const QString& file) const;

    CMainFrame* frame_;
    std::function<void(const char*, qsizetype)> input_;
    QString toolDir_;
    QMenu* menu_ = nullptr;
};

} // namespace oxbrin
