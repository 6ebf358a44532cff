#include "oxbrinview.h"

#include "highlighter.h"
#include "oxbrindoc.h"

#include <QFontDatabase>
#include <functional>
#include <QKeyEvent>
#include <QMimeData>
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

}  // namespace

void COxbrinView::SetReservedKeys(QSet<int> keys) { ReservedKeys() = std::move(keys); }

COxbrinView::COxbrinView(COxbrinDoc* doc, QWidget* parent)
    : QPlainTextEdit(parent), doc_(doc), gutter_(new Gutter(this)) {
    setDocument(doc->TextDocument());
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setWordWrapMode(QTextOption::NoWrap);
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
}

void COxbrinView::MarkCaretLine() {
    QTextEdit::ExtraSelection line;
    line.format.setBackground(QColor(0xE8, 0xF0, 0xFE));
    line.format.setProperty(QTextFormat::FullWidthSelection, true);
    line.cursor = textCursor();
    line.cursor.clearSelection();
    setExtraSelections({line});
}

COxbrinView::~COxbrinView() = default;

void COxbrinView::ApplyEditorFormat(int pointSize, const QString& face, int tabWidth, bool highlighting) {
    QFont font(face.left(31));
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    font.setPointSize(pointSize > 0 ? pointSize : 10);
    font.setBold(false);
    font.setItalic(false);
    font.setUnderline(false);
    font.setStrikeOut(false);
    setFont(font);
    document()->setDefaultFont(font);
    const qreal space = QFontMetricsF(font).horizontalAdvance(QLatin1Char(' '));
    setTabStopDistance(space * (tabWidth > 0 ? tabWidth : 8));
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
    QTextBlock block = document()->findBlockByNumber(line - 1);
    if (!block.isValid())
        block = document()->lastBlock();
    int pos = block.position();
    if (block.length() - 1 >= column - 1)
        pos += column - 1;
    QTextCursor c(document());
    c.setPosition(pos);
    setTextCursor(c);
    centerCursor();
}

int COxbrinView::CaretLine() const { return textCursor().blockNumber() + 1; }

int COxbrinView::CaretColumn() const { return textCursor().positionInBlock() + 1; }

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
    if (SelectionMatches(what, opt))
        textCursor().insertText(with);
    return FindText(what, opt);
}

int COxbrinView::ReplaceAll(const QString& what, const QString& with, const FindOptions& opt) {
    if (what.isEmpty())
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
    // (the document keeps them as paragraph separators).
    QString text = textCursor().selection().toRawText();
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
    for (int n = qMax(1, blockCount()); n >= 10; n /= 10)
        ++digits;
    digits = qMax(digits, 3);
    return 8 + QFontMetrics(gutter_->font()).horizontalAdvance(QLatin1Char('9')) * digits;
}

void COxbrinView::UpdateGutterWidth() {
    int digits = QString::number(qMax(1, blockCount())).size();
    if (digits == gutterDigits_)
        return;
    gutterDigits_ = digits;
    setViewportMargins(GutterWidth(), 0, 0, 0);
    const QRect cr = contentsRect();
    gutter_->setGeometry(QRect(cr.left(), cr.top(), GutterWidth(), cr.height()));
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
    const QRect cr = contentsRect();
    gutter_->setGeometry(QRect(cr.left(), cr.top(), GutterWidth(), cr.height()));
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
        if (block.isVisible() && top + height >= event->rect().top())
            p.drawText(0, top, width, lineHeight, Qt::AlignRight, QString::number(block.blockNumber() + 1));
        top += height;
        block = block.next();
    }
}

}  // namespace oxbrin
