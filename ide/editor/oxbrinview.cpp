#include "oxbrinview.h"

#include "highlighter.h"
#include "oxbrindoc.h"
#include "options/fontfaces.h"

#include <QFontDatabase>
#include <QPlainTextDocumentLayout>

#include <algorithm>
#include <functional>
#include <QKeyEvent>
#include <QLabel>
#include <QMimeData>
#include <QScrollBar>
#include <QPainter>
#include <QTextBlock>
#include <QTextDocumentFragment>
#include <QUrl>

namespace oxbrin {

namespace {

QSet<int>& ReservedKeys() {
    static QSet<int> keys;
    return keys;
}

class Gutter : public QWidget {
public:
    explicit Gutter(COxbrinView* view) : QWidget(view), view_(view) {}
    QSize sizeHint() const override { return {view_->GutterWidth(), 0}; }

protected:
    void paintEvent(QPaintEvent* e) override { view_->PaintGutter(e); }

private:
    COxbrinView* view_;
};

}  // namespace

QStringList LocalFiles(const QMimeData* data) {
    QStringList files;
    if (data && data->hasUrls()) {
        for (const QUrl& url : data->urls()) {
            if (url.isLocalFile())
                files << url.toLocalFile();
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
        if (ShowsPieces())
            CutIntoPieces();
    });
    // Source text is black on white, as the colours of the keywords assume.
    QPalette pal = palette();
    pal.setColor(QPalette::Base, Qt::white);
    pal.setColor(QPalette::Text, Qt::black);
    setPalette(pal);
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
    if (document() == shown)
        return;
    setDocument(shown);
    if (highlighter_)
        highlighter_->setDocument(shown);
    // Tab stops live in the document shown.
    if (tabStop_ > 0)
        setTabStopDistance(tabStop_);
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
            if (!pieceAt_.empty())
                text += QLatin1Char('\n');
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
    line.format.setBackground(QColor(0xE8, 0xF0, 0xFE));
    line.format.setProperty(QTextFormat::FullWidthSelection, true);
    line.cursor = textCursor();
    line.cursor.clearSelection();
    setExtraSelections({line});
}

COxbrinView::~COxbrinView() {
    doc_->SetLoader({});
}

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
    if (pieces_)
        pieces_->setDefaultFont(font);
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
    if (!highlighter_ || highlighter_->IsComplete())
        return;
    const int lineHeight = qMax(1, fontMetrics().height());
    highlighter_->ColourBlocks(firstVisibleBlock(), viewport()->height() / lineHeight + 2);
}

void COxbrinView::GoToLine(int line, int column) {
    if (line <= 0 || column <= 0)
        return;
    QTextDocument* text = doc_->TextDocument();
    QTextBlock block = text->findBlockByNumber(line - 1);
    if (!block.isValid())
        block = text->lastBlock();
    const int offset = block.length() - 1 >= column - 1 ? column - 1 : 0;
    QTextCursor c(document());
    if (ShowsPieces()) {
        // The piece of that line that holds the column.
        const int number = block.blockNumber() + 1;
        auto it = std::lower_bound(pieceAt_.begin(), pieceAt_.end(), number,
                                   [](const Piece& p, int n) { return p.line < n; });
        while (it + 1 != pieceAt_.end() && (it + 1)->line == number && (it + 1)->column <= offset)
            ++it;
        if (it == pieceAt_.end())
            return;
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
    if (ShowsPieces() && size_t(block) < pieceAt_.size())
        return pieceAt_[size_t(block)].line;
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
    if (opt.matchCase)
        f |= QTextDocument::FindCaseSensitively;
    if (opt.wholeWord)
        f |= QTextDocument::FindWholeWords;
    if (!opt.down)
        f |= QTextDocument::FindBackward;
    return f;
}

bool COxbrinView::FindText(const QString& what, const FindOptions& opt) {
    if (what.isEmpty())
        return false;
    const QTextDocument::FindFlags flags = Flags(opt);
    QTextCursor from = textCursor();
    QTextCursor found = document()->find(what, from, flags);
    if (found.isNull()) {
        // Wrap around once: from the start going down, from the end going up.
        QTextCursor edge(document());
        edge.movePosition(opt.down ? QTextCursor::Start : QTextCursor::End);
        found = document()->find(what, edge, flags);
    }
    if (found.isNull())
        return false;
    setTextCursor(found);
    return true;
}

bool COxbrinView::SelectionMatches(const QString& what, const FindOptions& opt) const {
    const QTextCursor c = textCursor();
    if (!c.hasSelection())
        return false;
    QTextCursor probe(document());
    probe.setPosition(c.selectionStart());
    QTextDocument::FindFlags f = Flags(opt) & ~QTextDocument::FindFlags(QTextDocument::FindBackward);
    QTextCursor m = document()->find(what, probe, f);
    return !m.isNull() && m.selectionStart() == c.selectionStart() && m.selectionEnd() == c.selectionEnd();
}

bool COxbrinView::ReplaceText(const QString& what, const QString& with, const FindOptions& opt) {
    // A cursor edits a read-only text too: nothing is replaced there.
    if (!isReadOnly() && SelectionMatches(what, opt))
        textCursor().insertText(with);
    return FindText(what, opt);
}

int COxbrinView::ReplaceAll(const QString& what, const QString& with, const FindOptions& opt) {
    if (what.isEmpty() || isReadOnly())
        return 0;
    QTextDocument::FindFlags f = Flags(opt) & ~QTextDocument::FindFlags(QTextDocument::FindBackward);
    QTextCursor edit(document());
    QTextCursor at(document());
    int count = 0;
    edit.beginEditBlock();
    for (;;) {
        QTextCursor m = document()->find(what, at, f);
        if (m.isNull())
            break;
        edit.setPosition(m.selectionStart());
        edit.setPosition(m.selectionEnd(), QTextCursor::KeepAnchor);
        edit.insertText(with);
        at = edit;  // continue after the inserted text, never inside it
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
    if (e->key() == Qt::Key_Escape && e->modifiers() == Qt::NoModifier) {
        emit EscapePressed();
        e->accept();
        return;
    }
    QPlainTextEdit::keyPressEvent(e);
}

void COxbrinView::contextMenuEvent(QContextMenuEvent* e) {
    emit ContextMenuRequested(e->globalPos());
    e->accept();
}

bool COxbrinView::canInsertFromMimeData(const QMimeData* source) const {
    return source && (source->hasText() || !LocalFiles(source).isEmpty());
}

void COxbrinView::insertFromMimeData(const QMimeData* source) {
    if (!source || !source->hasText())
        return;
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
    for (int n = qMax(1, doc_->TextDocument()->blockCount()); n >= 10; n /= 10)
        ++digits;
    digits = qMax(digits, 3);
    return 8 + QFontMetrics(gutter_->font()).horizontalAdvance(QLatin1Char('9')) * digits;
}

void COxbrinView::UpdateGutterWidth() {
    int digits = QString::number(qMax(1, doc_->TextDocument()->blockCount())).size();
    if (digits == gutterDigits_)
        return;
    gutterDigits_ = digits;
    UpdateMargins();
}

void COxbrinView::UpdateMargins() {
    // The note sits above the text across the whole width, the gutter to
    // the left of the text below it.
    const QRect cr = contentsRect();
    noteHeight_ = note_->isHidden() ? 0 : note_->heightForWidth(cr.width());
    if (noteHeight_ < 0)
        noteHeight_ = note_->sizeHint().height();
    setViewportMargins(GutterWidth(), noteHeight_, 0, 0);
    note_->setGeometry(QRect(cr.left(), cr.top(), cr.width(), noteHeight_));
    gutter_->setGeometry(QRect(cr.left(), cr.top() + noteHeight_, GutterWidth(), cr.height() - noteHeight_));
}

void COxbrinView::UpdateGutter(const QRect& rect, int dy) {
    // Colouring changes the layout, which must not happen while the editor
    // is in the middle of updating it: do it right after.
    if (highlighter_ && !highlighter_->IsComplete() && !colourPending_) {
        colourPending_ = true;
        QMetaObject::invokeMethod(this, [this] {
            colourPending_ = false;
            ColourVisibleLines();
        }, Qt::QueuedConnection);
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

void COxbrinView::PaintGutter(QPaintEvent* event) {
    QPainter p(gutter_);
    p.fillRect(event->rect(), QColor(240, 240, 240));
    p.setPen(QColor(128, 128, 128));
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
                number = pieceAt_[size_t(block.blockNumber())].column == 0 ? pieceAt_[size_t(block.blockNumber())].line : 0;
            if (number > 0)
                p.drawText(0, top, width, lineHeight, Qt::AlignRight, QString::number(number));
        }
        top += height;
        block = block.next();
    }
}

}  // namespace oxbrin
