#pragma once

// The source editor: a plain-text edit on a document, with the assembler
// colouring, a line-number gutter, Go To line, find and replace, and a paste
// and drop that take plain text only.

#include <QPlainTextEdit>
#include <QSet>
#include <QTextDocument>

#include <functional>
#include <vector>

class QLabel;
class QMimeData;

namespace oxbrin {

class COxbrinDoc;
class CAsmHighlighter;

// The local files a drag or a paste carries, in order; other links are
// left out. A drop of files on an editor or the frame opens them.
QStringList LocalFiles(const QMimeData* data);

struct FindOptions {
    bool matchCase = false;
    bool wholeWord = false;
    bool down = true;
};

class COxbrinView : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit COxbrinView(COxbrinDoc* doc, QWidget* parent = nullptr);
    ~COxbrinView() override;

    COxbrinDoc* GetDocument() const { return doc_; }

    // Font face (at most 31 characters) and size in points, tab width in
    // characters, colouring on or off.
    void ApplyEditorFormat(int pointSize, const QString& face, int tabWidth, bool highlighting);
    bool HighlightingOn() const { return highlighter_ != nullptr; }
    // Runs `load`, which puts a text of `lines` lines into the document.
    void LoadText(const std::function<void()>& load, qsizetype lines);
    CAsmHighlighter* Highlighter() const { return highlighter_; }

    // Caret to `line`, `column` (both from 1). Nothing when either is 0; a
    // column beyond the line's end leaves the caret at the line's start.
    void GoToLine(int line, int column);
    // Tints the caret's line (an extra selection, never part of the text).
    void MarkCaretLine();
    int CaretLine() const;   // from 1
    int CaretColumn() const; // from 1

    // Searches from the selection in the given direction, wrapping once
    // around the document. Selects the match and returns true when found;
    // `wrapped` tells whether the match lies beyond the document's end (or
    // start, going up).
    bool FindText(const QString& what, const FindOptions& opt, bool* wrapped = nullptr);
    // Replaces the selection when it is a match, then finds the next match.
    bool ReplaceText(const QString& what, const QString& with, const FindOptions& opt);
    // Replaces every match as one undo step; returns the number replaced.
    int ReplaceAll(const QString& what, const QString& with, const FindOptions& opt);

    // Tab and Shift+Tab on a selection of lines: one tab more at the start of
    // each line, or one tab (or up to a tab's width of blanks) less. The
    // lines stay selected; one undo step.
    void IndentLines(bool outdent);
    // Ctrl+/: comments the selected lines (or the caret's) out with ";" at
    // their start, or, when every one of them already is, in again.
    void ToggleComment();
    // Build messages shown in the gutter: a mark on each line, its text as
    // the mark's tooltip. Lines count from 1.
    struct Message {
        int line;
        QString text;
        bool error;
    };
    void SetMessages(QList<Message> messages);
    // The debugger's marks: breakpoint lines (a red disc in the gutter) and
    // the line the program stopped at (an arrow and a tint; 0 for none).
    // Lines count from 1.
    void SetBreakpointLines(QList<int> lines);
    const QList<int>& BreakpointLines() const { return breakpoints_; }
    void SetExecutionLine(int line);
    int ExecutionLine() const { return executionLine_; }
    // The line (from 1) of the gutter at `y`; 0 below the text.
    int LineAtGutterY(int y) const;
    const QList<Message>& Messages() const { return messages_; }
    // The messages of the line at `y` of the gutter, one a line; empty for
    // a line without any.
    QString MessagesAt(int y) const;
    // The colours of the active scheme, when they have changed since the
    // view last took them.
    void ApplyColours();

    // Print margins, 720 twips on every side.
    static constexpr double kPrintMarginMm = 12.7;

    // Key combinations the frame's commands own; the editor leaves them to
    // the command table instead of handling them itself.
    static void SetReservedKeys(QSet<int> keys);

    int GutterWidth() const;
    void PaintGutter(QPaintEvent* event);
    // The document's lasting note above the text; null while there is none.
    QLabel* NoteBar() const;

    // A read-only document with very long lines is shown from a copy in
    // which every line is cut into pieces of this many characters (each
    // piece a line of its own on screen): Qt lays out and shapes a line as
    // a whole, which for a line of megabytes takes minutes. Line numbers,
    // the caret position, Go To and Copy still count in the file's lines.
    static constexpr qsizetype kPieceChars = 1024;
    bool ShowsPieces() const { return pieces_ && document() == pieces_; }

signals:
    void EscapePressed();
    void PositionChanged(int line, int column);
    void FilesDropped(const QStringList& paths);
    void ContextMenuRequested(const QPoint& globalPos);
    // A click into the gutter on a line (from 1): the debugger toggles a
    // breakpoint there.
    void GutterClicked(int line);

protected:
    bool event(QEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void contextMenuEvent(QContextMenuEvent* e) override;
    bool canInsertFromMimeData(const QMimeData* source) const override;
    void insertFromMimeData(const QMimeData* source) override;
    QMimeData* createMimeDataFromSelection() const override;
    void dragEnterEvent(QDragEnterEvent* e) override;
    void dragMoveEvent(QDragMoveEvent* e) override;
    void dropEvent(QDropEvent* e) override;

private:
    void UpdateGutterWidth();
    void UpdateMargins();
    void UpdateNote();
    void ApplyReadOnly(bool readOnly);
    void ShowDocument(QTextDocument* shown);
    void CutIntoPieces();
    // Position in the document's text of a position in the pieces.
    int SourcePosition(int shownPosition) const;
    void ColourVisibleLines();
    void UpdateGutter(const QRect& rect, int dy);
    QTextDocument::FindFlags Flags(const FindOptions& opt) const;
    bool SelectionMatches(const QString& what, const FindOptions& opt) const;
    // Enter: the new line starts with the indentation of the one above, and
    // after a line that holds only a label, in the instruction column.
    void NewLineIndented();
    // The bracket or quote that pairs with the one at the caret, as two
    // highlighted positions; false when there is none.
    bool MatchingPair(int* first, int* second) const;

    COxbrinDoc* doc_;
    CAsmHighlighter* highlighter_ = nullptr;
    QWidget* gutter_;
    QLabel* note_;
    int noteHeight_ = 0;
    int gutterDigits_ = 0;
    int reloadLine_ = 1;
    int reloadColumn_ = 1;
    int reloadScroll_ = 0;
    qreal tabStop_ = 0;
    QTextDocument* pieces_ = nullptr;
    struct Piece {
        int line;         // from 1
        qsizetype column; // from 0
    };
    std::vector<Piece> pieceAt_; // per block of pieces_
    bool colourPending_ = false;
    QList<Message> messages_;
    QList<int> breakpoints_;
    int executionLine_ = 0;
    int schemeGeneration_ = -1;
};

} // namespace oxbrin
