#include "oxbrinview.h"

#include "highlighter.h"
#include "options/fontfaces.h"
#include "oxbrindoc.h"

#include <QFontDatabase>
#include <QPlainTextDocumentLayout>

#include <QHash>
#include <QKeyEvent>
#include <QLabel>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPolygon>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextDocumentFragment>
#include <QToolTip>
#include <QUrl>
#include <algorithm>
#include <functional>

namespace oxbrin {

namespace {

QSet<int>& ReservedKeys() {
    static QSet<int> keys;
    return keys;
}

class Gutter : public QWidget {
public:
    explicit Gutter(COxbrinView* view) : QWidget(view), view_(view) {
        setObjectName(QStringLiteral("Gutter"));
        setAccessibleName(QStringLiteral("Line numbers"));
    }
    QSize sizeHint() const override { return {view_->GutterWidth(), 0}; }

protected:
    void paintEvent(QPaintEvent* e) override { view_->PaintGutter(e); }
    void mousePressEvent(QMouseEvent* e) override {
        if (e->button() == Qt::LeftButton) {
            if (const int line = view_->LineAtGutterY(qRound(e->position().y())))
                emit view_->GutterClicked(line);
            return;
        }
        QWidget::mousePressEvent(e);
    }
    bool event(QEvent* e) override {
        if (e->type() == QEvent::ToolTip) {
            auto* he = static_cast<QHelpEvent*>(e);
            const QString text = view_->MessagesAt(he->pos().y());
            if (text.isEmpty())
                QToolTip::hideText();
            else
                QToolTip::showText(he->globalPos(), text, this);
            return true;
        }
        return QWidget::event(e);
    }

private:
    COxbrinView* view_;
};

} // namespace

QStringList LocalFiles(const QMimeData* data) {
    QStringList files;
    if (data && data->hasUrls()) {
        for (const QUrl& url : data->urls()) {
            if (url.isLocalFile()) files << url.toLocalFile();
        }
    }
    return files;
}

void COxbrinView::SetReservedKeys(QSet<int> keys) { ReservedKeys() = std::move(keys); }

COxbrinView::COxbrinView(COxbrinDoc* doc, QWidget* parent)
    : QPlainTextEdit(parent), doc_(doc), gutter_(new Gutter(this)), note_(new QLabel(this)) {
    setDocument(doc->TextDocument());
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setWordWrapMode(QTextOption::NoWrap);
    note_->setObjectName(QStringLiteral("DocumentNote"));
    note_->setWordWrap(true);
    note_->setTextFormat(Qt::PlainText);
    note_->setMargin(4);
    note_->setAutoFillBackground(true);
    {
        QPalette notePal = note_->palette();
        notePal.setColor(QPalette::Window, QColor(0xFF, 0xF4, 0xC4));
        notePal.setColor(QPalette::WindowText, Qt::black);
        note_->setPalette(notePal);
    }
    note_->hide();
    connect(doc_, &COxbrinDoc::NoteChanged, this, &COxbrinView::UpdateNote);
    connect(doc_, &COxbrinDoc::ReadOnlyChanged, this, &COxbrinView::ApplyReadOnly);
    // A reload replaces the whole text: the caret and the scrolled-to line
    // stay where they were, as near as the new text allows.
    connect(doc_, &COxbrinDoc::AboutToReload, this, [this] {
        reloadLine_ = CaretLine();
        reloadColumn_ = CaretColumn();
        reloadScroll_ = verticalScrollBar()->value();
    });
    connect(doc_, &COxbrinDoc::Reloaded, this, [this] {
        const int lines = doc_->TextDocument()->blockCount();
        const int line = qMin(reloadLine_, lines);
        const int length = doc_->TextDocument()->findBlockByNumber(line - 1).length() - 1;
        GoToLine(line, reloadColumn_ - 1 <= length ? reloadColumn_ : 1);
        verticalScrollBar()->setValue(reloadScroll_);
    });
    doc_->SetLoader([this](const std::function<void()>& load, qsizetype lines) { LoadText(load, lines); });
    connect(doc_->TextDocument(), &QTextDocument::contentsChanged, this, [this] {
        if (ShowsPieces()) CutIntoPieces();
    });
    // Source text has the scheme's own background, which the colours of
    // the keywords are chosen for, whatever the desktop's palette.
    ApplyColours();
    connect(this, &QPlainTextEdit::blockCountChanged, this, [this] { UpdateGutterWidth(); });
    connect(this, &QPlainTextEdit::updateRequest, this, &COxbrinView::UpdateGutter);
    connect(this, &QPlainTextEdit::cursorPositionChanged, this,
            [this] { emit PositionChanged(CaretLine(), CaretColumn()); });
    // The caret alone is a thin blinking line; after a jump from an error
    // message the line it landed on has to be found at a glance.
    connect(this, &QPlainTextEdit::cursorPositionChanged, this, &COxbrinView::MarkCaretLine);
    UpdateGutterWidth();
    MarkCaretLine();
    ApplyReadOnly(doc_->IsReadOnly());
    UpdateNote();
}

void COxbrinView::ApplyReadOnly(bool readOnly) {
    // A line of hundreds of kilobytes is laid out again after every edit
    // and shaped end to end for the caret, for a paint and for a scroll:
    // such a text is shown cut into pieces, read-only, and never laid out
    // whole.
    if (readOnly) {
        if (!pieces_) {
            pieces_ = new QTextDocument(this);
            pieces_->setDocumentLayout(new QPlainTextDocumentLayout(pieces_));
            pieces_->setUndoRedoEnabled(false);
            pieces_->setDefaultFont(doc_->TextDocument()->defaultFont());
        }
        ShowDocument(pieces_);
        CutIntoPieces();
        setReadOnly(true);
        setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
        setLineWrapMode(QPlainTextEdit::WidgetWidth);
        setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    } else {
        ShowDocument(doc_->TextDocument());
        if (pieces_) {
            pieces_->clear();
            pieceAt_.clear();
        }
        setReadOnly(false);
        setLineWrapMode(QPlainTextEdit::NoWrap);
        setWordWrapMode(QTextOption::NoWrap);
    }
}

void COxbrinView::ShowDocument(QTextDocument* shown) {
    if (document() == shown) return;
    setDocument(shown);
    if (highlighter_) highlighter_->setDocument(shown);
    // Tab stops live in the document shown.
    if (tabStop_ > 0) setTabStopDistance(tabStop_);
    gutterDigits_ = 0;
    UpdateGutterWidth();
    MarkCaretLine();
}

void COxbrinView::CutIntoPieces() {
    pieceAt_.clear();
    QString text;
    int line = 1;
    for (QTextBlock block = doc_->TextDocument()->begin(); block.isValid(); block = block.next(), ++line) {
        const QString whole = block.text();
        qsizetype column = 0;
        do {
            if (!pieceAt_.empty()) text += QLatin1Char('\n');
            text += QStringView(whole).mid(column, kPieceChars);
            pieceAt_.push_back({line, column});
            column += kPieceChars;
        } while (column < whole.size());
    }
    pieces_->setPlainText(text);
    gutterDigits_ = 0;
    UpdateGutterWidth();
    gutter_->update();
}

void COxbrinView::ApplyColours() {
    if (schemeGeneration_ == ActiveSchemeGeneration()) return;
    const bool first = schemeGeneration_ < 0;
    schemeGeneration_ = ActiveSchemeGeneration();
    const ColourScheme& scheme = ActiveScheme();
    QPalette pal = palette();
    pal.setColor(QPalette::Base, scheme.Of(ColourRole::Background));
    pal.setColor(QPalette::Text, scheme.Of(ColourRole::Text));
    setPalette(pal);
    if (!first && highlighter_) highlighter_->rehighlight();
    MarkCaretLine();
    gutter_->update();
}

int COxbrinView::SourcePosition(int shownPosition) const {
    const QTextBlock shown = pieces_->findBlock(shownPosition);
    if (!shown.isValid() || size_t(shown.blockNumber()) >= pieceAt_.size())
        return doc_->TextDocument()->characterCount() - 1;
    const Piece& piece = pieceAt_[size_t(shown.blockNumber())];
    const QTextBlock source = doc_->TextDocument()->findBlockByNumber(piece.line - 1);
    return source.position() + int(piece.column) + (shownPosition - shown.position());
}

QLabel* COxbrinView::NoteBar() const { return note_->isHidden() ? nullptr : note_; }

void COxbrinView::UpdateNote() {
    const QString text = doc_->Note();
    note_->setText(text);
    note_->setVisible(!text.isEmpty());
    UpdateMargins();
}

void COxbrinView::MarkCaretLine() {
    QTextEdit::ExtraSelection line;
    line.format.setBackground(ActiveScheme().Of(ColourRole::CurrentLine));
    line.format.setProperty(QTextFormat::FullWidthSelection, true);
    line.cursor = textCursor();
    line.cursor.clearSelection();
    QList<QTextEdit::ExtraSelection> marks{line};
    if (executionLine_ > 0 && !ShowsPieces()) {
        // Where the program stopped: a tint that stays whatever the caret does.
        const QTextBlock block = document()->findBlockByNumber(executionLine_ - 1);
        if (block.isValid()) {
            QTextEdit::ExtraSelection stop;
            const QColor text = ActiveScheme().Of(ColourRole::Text);
            stop.format.setBackground(text.lightness() > 128 ? QColor(0x5A, 0x55, 0x20)
                                                             : QColor(0xFF, 0xF0, 0x9A));
            stop.format.setProperty(QTextFormat::FullWidthSelection, true);
            stop.cursor = QTextCursor(block);
            marks << stop;
        }
    }
    int first = 0;
    int second = 0;
    if (MatchingPair(&first, &second)) {
        // The pair stands out on the caret line's tint in either scheme.
        QTextCharFormat pairFormat;
        const QColor text = ActiveScheme().Of(ColourRole::Text);
        pairFormat.setBackground(text.lightness() > 128 ? QColor(0x51, 0x5C, 0x6A)
                                                        : QColor(0xB4, 0xD7, 0xFF));
        pairFormat.setFontWeight(QFont::Bold);
        for (int pos : {first, second}) {
            QTextEdit::ExtraSelection mark;
            mark.format = pairFormat;
            mark.cursor = QTextCursor(document());
            mark.cursor.setPosition(pos);
            mark.cursor.setPosition(pos + 1, QTextCursor::KeepAnchor);
            marks << mark;
        }
    }
    setExtraSelections(marks);
}

bool COxbrinView::MatchingPair(int* first, int* second) const {
    // A source line is short and brackets never span lines: the pair is
    // looked for in the caret's line only, so a caret move costs one line.
    const QTextCursor c = textCursor();
    if (c.hasSelection()) return false;
    const QTextBlock block = c.block();
    const QString text = block.text();
    const int at = c.positionInBlock();
    // Where strings and the comment are: quotes pair up from the start of
    // the line, and nothing in a comment or string counts as a bracket.
    struct Quote {
        int open;
        int close; // -1: the line ends first
    };
    QList<Quote> quotes;
    int commentAt = int(text.size());
    for (int i = 0; i < text.size(); ++i) {
        const QChar ch = text[i];
        if (ch == QLatin1Char(';') || (i == 0 && ch == QLatin1Char('*'))) {
            commentAt = i;
            break;
        }
        if (ch == QLatin1Char('"') || ch == QLatin1Char('\'')) {
            const int close = int(text.indexOf(ch, i + 1));
            quotes.append({i, close});
            if (close < 0) break;
            i = close;
        }
    }
    auto inString = [&quotes](int i) {
        for (const Quote& q : quotes) {
            if (i > q.open && (q.close < 0 || i < q.close)) return true;
        }
        return false;
    };
    // The character after the caret first, then the one before it.
    for (int i : {at, at - 1}) {
        if (i < 0 || i >= commentAt) continue;
        for (const Quote& q : quotes) {
            if (q.close >= 0 && (i == q.open || i == q.close)) {
                *first = block.position() + q.open;
                *second = block.position() + q.close;
                return true;
            }
        }
        const QChar ch = text[i];
        if (inString(i) || (ch != QLatin1Char('(') && ch != QLatin1Char(')') && ch != QLatin1Char('[') &&
                            ch != QLatin1Char(']')))
            continue;
        const bool opening = ch == QLatin1Char('(') || ch == QLatin1Char('[');
        const QChar open = ch == QLatin1Char(')')   ? QLatin1Char('(')
                           : ch == QLatin1Char(']') ? QLatin1Char('[')
                                                    : ch;
        const QChar close = open == QLatin1Char('(') ? QLatin1Char(')') : QLatin1Char(']');
        int depth = 0;
        for (int j = i; opening ? j < commentAt : j >= 0; j += opening ? 1 : -1) {
            if (inString(j)) continue;
            if (text[j] == open)
                depth += opening ? 1 : -1;
            else if (text[j] == close)
                depth += opening ? -1 : 1;
            if (depth == 0) {
                *first = block.position() + qMin(i, j);
                *second = block.position() + qMax(i, j);
                return true;
            }
        }
    }
    return false;
}

COxbrinView::~COxbrinView() { doc_->SetLoader({}); }

void COxbrinView::ApplyEditorFormat(int pointSize, const QString& face, int tabWidth, bool highlighting) {
    // A face the system lacks: its fixed font, as the Options show.
    QFont font(UsableFixedFace(face.left(31)));
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    font.setPointSize(pointSize > 0 ? pointSize : 10);
    font.setBold(false);
    font.setItalic(false);
    font.setUnderline(false);
    font.setStrikeOut(false);
    setFont(font);
    doc_->TextDocument()->setDefaultFont(font);
    if (pieces_) pieces_->setDefaultFont(font);
    const qreal space = QFontMetricsF(font).horizontalAdvance(QLatin1Char(' '));
    tabStop_ = space * (tabWidth > 0 ? tabWidth : 8);
    setTabStopDistance(tabStop_);
    if (highlighting && !highlighter_) {
        highlighter_ = new CAsmHighlighter(document());
    } else if (!highlighting && highlighter_) {
        highlighter_->setDocument(nullptr);
        delete highlighter_;
        highlighter_ = nullptr;
    }
    gutter_->setFont(font);
    gutterDigits_ = 0;
    UpdateGutterWidth();
    ApplyColours();
}

void COxbrinView::LoadText(const std::function<void()>& load, qsizetype lines) {
    if (!highlighter_ || lines <= CAsmHighlighter::kDeferredLines) {
        load();
        return;
    }
    highlighter_->LoadLarge(load);
    ColourVisibleLines();
}

void COxbrinView::ColourVisibleLines() {
    if (!highlighter_ || highlighter_->IsComplete()) return;
    const int lineHeight = qMax(1, fontMetrics().height());
    highlighter_->ColourBlocks(firstVisibleBlock(), viewport()->height() / lineHeight + 2);
}

void COxbrinView::GoToLine(int line, int column) {
    if (line <= 0 || column <= 0) return;
    QTextDocument* text = doc_->TextDocument();
    QTextBlock block = text->findBlockByNumber(line - 1);
    if (!block.isValid()) block = text->lastBlock();
    const int offset = block.length() - 1 >= column - 1 ? column - 1 : 0;
    QTextCursor c(document());
    if (ShowsPieces()) {
        // The piece of that line that holds the column.
        const int number = block.blockNumber() + 1;
        auto it = std::lower_bound(pieceAt_.begin(), pieceAt_.end(), number,
                                   [](const Piece& p, int n) { return p.line < n; });
        while (it + 1 != pieceAt_.end() && (it + 1)->line == number && (it + 1)->column <= offset) ++it;
        if (it == pieceAt_.end()) return;
        const QTextBlock shown = pieces_->findBlockByNumber(int(it - pieceAt_.begin()));
        c.setPosition(shown.position() + int(offset - it->column));
    } else {
        c.setPosition(block.position() + offset);
    }
    setTextCursor(c);
    centerCursor();
}

int COxbrinView::CaretLine() const {
    const int block = textCursor().blockNumber();
    if (ShowsPieces() && size_t(block) < pieceAt_.size()) return pieceAt_[size_t(block)].line;
    return block + 1;
}

int COxbrinView::CaretColumn() const {
    const int block = textCursor().blockNumber();
    const int inBlock = textCursor().positionInBlock();
    if (ShowsPieces() && size_t(block) < pieceAt_.size())
        return int(pieceAt_[size_t(block)].column) + inBlock + 1;
    return inBlock + 1;
}

QTextDocument::FindFlags COxbrinView::Flags(const FindOptions& opt) const {
    QTextDocument::FindFlags f;
    if (opt.matchCase) f |= QTextDocument::FindCaseSensitively;
    if (opt.wholeWord) f |= QTextDocument::FindWholeWords;
    if (!opt.down) f |= QTextDocument::FindBackward;
    return f;
}

bool COxbrinView::FindText(const QString& what, const FindOptions& opt, bool* wrapped) {
    if (wrapped) *wrapped = false;
    if (what.isEmpty()) return false;
    const QTextDocument::FindFlags flags = Flags(opt);
    QTextCursor from = textCursor();
    QTextCursor found = document()->find(what, from, flags);
    if (found.isNull()) {
        // Wrap around once: from the start going down, from the end going up.
        QTextCursor edge(document());
        edge.movePosition(opt.down ? QTextCursor::Start : QTextCursor::End);
        found = document()->find(what, edge, flags);
        if (wrapped) *wrapped = !found.isNull();
    }
    if (found.isNull()) return false;
    setTextCursor(found);
    return true;
}

bool COxbrinView::SelectionMatches(const QString& what, const FindOptions& opt) const {
    const QTextCursor c = textCursor();
    if (!c.hasSelection()) return false;
    QTextCursor probe(document());
    probe.setPosition(c.selectionStart());
    QTextDocument::FindFlags f = Flags(opt) & ~QTextDocument::FindFlags(QTextDocument::FindBackward);
    QTextCursor m = document()->find(what, probe, f);
    return !m.isNull() && m.selectionStart() == c.selectionStart() && m.selectionEnd() == c.selectionEnd();
}

bool COxbrinView::ReplaceText(const QString& what, const QString& with, const FindOptions& opt) {
    // A cursor edits a read-only text too: nothing is replaced there.
    if (!isReadOnly() && SelectionMatches(what, opt)) textCursor().insertText(with);
    return FindText(what, opt);
}

int COxbrinView::ReplaceAll(const QString& what, const QString& with, const FindOptions& opt) {
    if (what.isEmpty() || isReadOnly()) return 0;
    QTextDocument::FindFlags f = Flags(opt) & ~QTextDocument::FindFlags(QTextDocument::FindBackward);
    QTextCursor edit(document());
    QTextCursor at(document());
    int count = 0;
    edit.beginEditBlock();
    for (;;) {
        QTextCursor m = document()->find(what, at, f);
        if (m.isNull()) break;
        edit.setPosition(m.selectionStart());
        edit.setPosition(m.selectionEnd(), QTextCursor::KeepAnchor);
        edit.insertText(with);
        at = edit; // continue after the inserted text, never inside it
        ++count;
    }
    edit.endEditBlock();
    return count;
}

bool COxbrinView::event(QEvent* e) {
    if (e->type() == QEvent::ShortcutOverride) {
        auto* ke = static_cast<QKeyEvent*>(e);
        if (ReservedKeys().contains(ke->keyCombination().toCombined())) {
            e->ignore();
            return true;
        }
    }
    return QPlainTextEdit::event(e);
}

void COxbrinView::keyPressEvent(QKeyEvent* e) {
    const Qt::KeyboardModifiers mods = e->modifiers() & ~Qt::KeypadModifier;
    if (e->key() == Qt::Key_Escape && mods == Qt::NoModifier) {
        emit EscapePressed();
        e->accept();
        return;
    }
    if (!isReadOnly()) {
        const QTextCursor c = textCursor();
        const bool severalLines = c.hasSelection() && document()->findBlock(c.selectionStart()) !=
                                                          document()->findBlock(c.selectionEnd());
        if (e->key() == Qt::Key_Tab && mods == Qt::NoModifier && severalLines) {
            IndentLines(false);
            e->accept();
            return;
        }
        if (e->key() == Qt::Key_Backtab || (e->key() == Qt::Key_Tab && mods == Qt::ShiftModifier)) {
            IndentLines(true);
            e->accept();
            return;
        }
        if ((e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) && mods == Qt::NoModifier) {
            NewLineIndented();
            e->accept();
            return;
        }
    }
    // A combination with Ctrl or Alt that no command owns types nothing: the
    // key goes on without its text, so the editor's own keys (Ctrl+Left,
    // Ctrl+Backspace, ...) still work. Ctrl and Alt together is AltGr on
    // Windows, and Option types characters on a Mac: those keep their text.
#ifdef Q_OS_MACOS
    const bool typesText = !(mods & Qt::ControlModifier) && !(mods & Qt::MetaModifier);
#else
    const bool typesText = !(mods & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) ||
                           ((mods & Qt::ControlModifier) && (mods & Qt::AltModifier));
#endif
    if (!typesText && !e->text().isEmpty()) {
        QKeyEvent bare(e->type(), e->key(), e->modifiers(), e->nativeScanCode(), e->nativeVirtualKey(),
                       e->nativeModifiers(), QString(), e->isAutoRepeat(), quint16(e->count()));
        QPlainTextEdit::keyPressEvent(&bare);
        e->setAccepted(bare.isAccepted());
        return;
    }
    QPlainTextEdit::keyPressEvent(e);
}

namespace {

// The blanks a line starts with.
QString LeadingBlanks(const QString& line) {
    qsizetype n = 0;
    while (n < line.size() && (line[n] == QLatin1Char(' ') || line[n] == QLatin1Char('\t'))) ++n;
    return line.left(n);
}

// A line that holds a label and nothing else but perhaps a comment: its
// first character starts a name, and one word is all there is.
bool IsLabelOnly(const QString& line) {
    if (line.isEmpty() || !(line[0].isLetter() || line[0] == QLatin1Char('_') || line[0] == QLatin1Char('.')))
        return false;
    qsizetype i = 0;
    while (i < line.size() && !line[i].isSpace() && line[i] != QLatin1Char(';')) ++i;
    while (i < line.size() && line[i].isSpace()) ++i;
    return i == line.size() || line[i] == QLatin1Char(';');
}

// The selected lines as [first, last] blocks: a selection that ends at the
// very start of a line leaves that line out.
std::pair<QTextBlock, QTextBlock> SelectedBlocks(const QTextCursor& c) {
    QTextDocument* doc = c.document();
    const QTextBlock first = doc->findBlock(c.selectionStart());
    QTextBlock last = doc->findBlock(c.selectionEnd());
    if (c.hasSelection() && last != first && c.selectionEnd() == last.position()) last = last.previous();
    return {first, last};
}

} // namespace

void COxbrinView::NewLineIndented() {
    QTextCursor c = textCursor();
    const QString line = c.block().text();
    QString indent = LeadingBlanks(line.left(c.positionInBlock()));
    if (indent.isEmpty() && c.positionInBlock() == line.size() && IsLabelOnly(line))
        indent = QStringLiteral("\t");
    c.beginEditBlock();
    c.insertText(QStringLiteral("\n") + indent);
    c.endEditBlock();
    setTextCursor(c);
    ensureCursorVisible();
}

void COxbrinView::IndentLines(bool outdent) {
    QTextCursor c = textCursor();
    const bool selected = c.hasSelection();
    const auto [first, last] = SelectedBlocks(c);
    const int tabWidth =
        tabStop_ > 0 ? qMax(1, qRound(tabStop_ / QFontMetricsF(font()).horizontalAdvance(QLatin1Char(' '))))
                     : 8;
    QTextCursor edit(document());
    edit.beginEditBlock();
    for (QTextBlock b = first; b.isValid(); b = b.next()) {
        const QString text = b.text();
        if (!outdent) {
            // An empty line gets no tab of its own.
            if (!text.isEmpty() || first == last) {
                edit.setPosition(b.position());
                edit.insertText(QStringLiteral("\t"));
            }
        } else {
            int remove = 0;
            if (text.startsWith(QLatin1Char('\t'))) {
                remove = 1;
            } else {
                while (remove < tabWidth && remove < text.size() && text[remove] == QLatin1Char(' '))
                    ++remove;
                if (remove < text.size() && remove < tabWidth && text[remove] == QLatin1Char('\t')) ++remove;
            }
            if (remove > 0) {
                edit.setPosition(b.position());
                edit.setPosition(b.position() + remove, QTextCursor::KeepAnchor);
                edit.removeSelectedText();
            }
        }
        if (b == last) break;
    }
    edit.endEditBlock();
    if (selected) {
        // The whole lines stay selected, ready for another Tab.
        QTextCursor sel(document());
        sel.setPosition(first.position());
        sel.setPosition(last.position() + last.length() - 1, QTextCursor::KeepAnchor);
        setTextCursor(sel);
    }
}

void COxbrinView::ToggleComment() {
    if (isReadOnly()) return;
    const QTextCursor c = textCursor();
    const auto [first, last] = SelectedBlocks(c);
    // Blank lines neither count nor change, unless there are only such.
    bool allCommented = true;
    bool anyText = false;
    for (QTextBlock b = first; b.isValid(); b = b.next()) {
        const QString text = b.text();
        const QString trimmed = text.trimmed();
        if (!trimmed.isEmpty()) {
            anyText = true;
            if (!trimmed.startsWith(QLatin1Char(';'))) allCommented = false;
        }
        if (b == last) break;
    }
    const bool uncomment = anyText && allCommented;
    QTextCursor edit(document());
    edit.beginEditBlock();
    for (QTextBlock b = first; b.isValid(); b = b.next()) {
        const QString text = b.text();
        if (uncomment) {
            const qsizetype at = text.indexOf(QLatin1Char(';'));
            if (at >= 0 && text.left(at).trimmed().isEmpty()) {
                edit.setPosition(b.position() + int(at));
                edit.deleteChar();
            }
        } else if (!text.trimmed().isEmpty() || !anyText) {
            edit.setPosition(b.position());
            edit.insertText(QStringLiteral(";"));
        }
        if (b == last) break;
    }
    edit.endEditBlock();
    if (c.hasSelection()) {
        QTextCursor sel(document());
        sel.setPosition(first.position());
        sel.setPosition(last.position() + last.length() - 1, QTextCursor::KeepAnchor);
        setTextCursor(sel);
    }
}

void COxbrinView::SetMessages(QList<Message> messages) {
    messages_ = std::move(messages);
    gutter_->update();
}

QString COxbrinView::MessagesAt(int y) const {
    if (messages_.isEmpty()) return {};
    const QTextBlock block = cursorForPosition(QPoint(0, y)).block();
    if (!block.isValid()) return {};
    int line = block.blockNumber() + 1;
    if (ShowsPieces() && size_t(block.blockNumber()) < pieceAt_.size())
        line = pieceAt_[size_t(block.blockNumber())].line;
    QStringList texts;
    for (const Message& m : messages_) {
        if (m.line == line) texts << m.text;
    }
    return texts.join(QLatin1Char('\n'));
}

void COxbrinView::contextMenuEvent(QContextMenuEvent* e) {
    emit ContextMenuRequested(e->globalPos());
    e->accept();
}

bool COxbrinView::canInsertFromMimeData(const QMimeData* source) const {
    return source && (source->hasText() || !LocalFiles(source).isEmpty());
}

void COxbrinView::insertFromMimeData(const QMimeData* source) {
    if (!source || !source->hasText()) return;
    // Text from other programs may end its lines in CR LF or CR; each of
    // those is one line break here, not two.
    QString text = source->text();
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    textCursor().insertText(text);
}

QMimeData* COxbrinView::createMimeDataFromSelection() const {
    // The text exactly as it is, with plain line feeds between the lines
    // (the document keeps them as paragraph separators); from pieces, the
    // file's own text, without the cuts.
    QTextCursor selected = textCursor();
    if (ShowsPieces()) {
        QTextCursor source(doc_->TextDocument());
        source.setPosition(SourcePosition(selected.selectionStart()));
        source.setPosition(SourcePosition(selected.selectionEnd()), QTextCursor::KeepAnchor);
        selected = source;
    }
    QString text = selected.selection().toRawText();
    text.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    text.replace(QChar::LineSeparator, QLatin1Char('\n'));
    auto* data = new QMimeData;
    data->setText(text);
    return data;
}

void COxbrinView::dragEnterEvent(QDragEnterEvent* e) {
    if (!LocalFiles(e->mimeData()).isEmpty()) {
        e->acceptProposedAction();
        return;
    }
    QPlainTextEdit::dragEnterEvent(e);
}

void COxbrinView::dragMoveEvent(QDragMoveEvent* e) {
    if (!LocalFiles(e->mimeData()).isEmpty()) {
        e->acceptProposedAction();
        return;
    }
    QPlainTextEdit::dragMoveEvent(e);
}

void COxbrinView::dropEvent(QDropEvent* e) {
    const QStringList files = LocalFiles(e->mimeData());
    if (!files.isEmpty()) {
        e->acceptProposedAction();
        emit FilesDropped(files);
        return;
    }
    QPlainTextEdit::dropEvent(e);
}

int COxbrinView::GutterWidth() const {
    int digits = 1;
    for (int n = qMax(1, doc_->TextDocument()->blockCount()); n >= 10; n /= 10) ++digits;
    digits = qMax(digits, 3);
    // Room for a message mark left of the numbers.
    const QFontMetrics fm(gutter_->font());
    return 8 + fm.height() + fm.horizontalAdvance(QLatin1Char('9')) * digits;
}

void COxbrinView::UpdateGutterWidth() {
    int digits = QString::number(qMax(1, doc_->TextDocument()->blockCount())).size();
    if (digits == gutterDigits_) return;
    gutterDigits_ = digits;
    UpdateMargins();
}

void COxbrinView::UpdateMargins() {
    // The note sits above the text across the whole width, the gutter to
    // the left of the text below it.
    const QRect cr = contentsRect();
    noteHeight_ = note_->isHidden() ? 0 : note_->heightForWidth(cr.width());
    if (noteHeight_ < 0) noteHeight_ = note_->sizeHint().height();
    setViewportMargins(GutterWidth(), noteHeight_, 0, 0);
    note_->setGeometry(QRect(cr.left(), cr.top(), cr.width(), noteHeight_));
    gutter_->setGeometry(QRect(cr.left(), cr.top() + noteHeight_, GutterWidth(), cr.height() - noteHeight_));
}

void COxbrinView::UpdateGutter(const QRect& rect, int dy) {
    // Colouring changes the layout, which must not happen while the editor
    // is in the middle of updating it: do it right after.
    if (highlighter_ && !highlighter_->IsComplete() && !colourPending_) {
        colourPending_ = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                colourPending_ = false;
                ColourVisibleLines();
            },
            Qt::QueuedConnection);
    }
    if (dy)
        gutter_->scroll(0, dy);
    else
        gutter_->update(0, rect.y(), gutter_->width(), rect.height());
}

void COxbrinView::resizeEvent(QResizeEvent* e) {
    QPlainTextEdit::resizeEvent(e);
    UpdateMargins();
}

void COxbrinView::SetBreakpointLines(QList<int> lines) {
    breakpoints_ = std::move(lines);
    gutter_->update();
}

void COxbrinView::SetExecutionLine(int line) {
    if (executionLine_ == line) return;
    executionLine_ = line;
    MarkCaretLine();
    gutter_->update();
}

int COxbrinView::LineAtGutterY(int y) const {
    QTextBlock block = firstVisibleBlock();
    int top = qRound(blockBoundingGeometry(block).translated(contentOffset()).top());
    while (block.isValid()) {
        const int height = qRound(blockBoundingRect(block).height());
        if (block.isVisible() && y >= top && y < top + height) {
            if (ShowsPieces() && size_t(block.blockNumber()) < pieceAt_.size())
                return pieceAt_[size_t(block.blockNumber())].line;
            return block.blockNumber() + 1;
        }
        top += height;
        block = block.next();
    }
    return 0;
}

void COxbrinView::PaintGutter(QPaintEvent* event) {
    QPainter p(gutter_);
    const QColor background = ActiveScheme().Of(ColourRole::Background);
    const bool dark = background.lightness() < 128;
    p.fillRect(event->rect(), dark ? background.lighter(130) : QColor(240, 240, 240));
    const QColor numberPen(128, 128, 128);
    p.setPen(numberPen);
    // Lines with build messages, for the marks.
    QHash<int, bool> marked; // line -> has an error
    for (const Message& m : messages_) marked[m.line] = marked.value(m.line) || m.error;
    QTextBlock block = firstVisibleBlock();
    int top = qRound(blockBoundingGeometry(block).translated(contentOffset()).top());
    const int width = gutter_->width() - 4;
    const int lineHeight = fontMetrics().height();
    while (block.isValid() && top <= event->rect().bottom()) {
        const int height = qRound(blockBoundingRect(block).height());
        if (block.isVisible() && top + height >= event->rect().top()) {
            // A piece that goes on with a line has no number of its own.
            int number = block.blockNumber() + 1;
            if (ShowsPieces() && size_t(block.blockNumber()) < pieceAt_.size())
                number = pieceAt_[size_t(block.blockNumber())].column == 0
                             ? pieceAt_[size_t(block.blockNumber())].line
                             : 0;
            if (number > 0) p.drawText(0, top, width, lineHeight, Qt::AlignRight, QString::number(number));
            if (number > 0 && marked.contains(number)) {
                // A round mark at the gutter's left edge: red for an error,
                // amber for a warning.
                const int d = qMax(6, lineHeight - 6);
                p.save();
                p.setRenderHint(QPainter::Antialiasing);
                p.setPen(Qt::NoPen);
                p.setBrush(marked.value(number) ? QColor(0xD0, 0x20, 0x20) : QColor(0xE0, 0xA0, 0x00));
                p.drawEllipse(QRect(2, top + (lineHeight - d) / 2, d, d));
                p.restore();
            }
            if (number > 0 && breakpoints_.contains(number)) {
                // A breakpoint: a larger dark red disc with a light rim, so
                // it is told from a message's mark.
                const int d = qMax(8, lineHeight - 2);
                p.save();
                p.setRenderHint(QPainter::Antialiasing);
                p.setPen(QColor(0xFF, 0xE0, 0xE0));
                p.setBrush(QColor(0xA0, 0x10, 0x10));
                p.drawEllipse(QRect(1, top + (lineHeight - d) / 2, d, d));
                p.restore();
            }
            if (number > 0 && number == executionLine_) {
                // The line the program stopped at: a yellow arrow.
                const int h = qMax(8, lineHeight - 4);
                const int y0 = top + (lineHeight - h) / 2;
                QPolygon arrow;
                arrow << QPoint(2, y0 + h / 4) << QPoint(2 + h / 2, y0 + h / 4) << QPoint(2 + h / 2, y0)
                      << QPoint(2 + h, y0 + h / 2) << QPoint(2 + h / 2, y0 + h)
                      << QPoint(2 + h / 2, y0 + 3 * h / 4) << QPoint(2, y0 + 3 * h / 4);
                p.save();
                p.setRenderHint(QPainter::Antialiasing);
                p.setPen(QColor(0x60, 0x50, 0x00));
                p.setBrush(QColor(0xFF, 0xD8, 0x00));
                p.drawPolygon(arrow);
                p.restore();
            }
        }
        top += height;
        block = block.next();
    }
}

} // namespace oxbrin
