#include "consolepane.h"

#include "options/fontfaces.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QMutexLocker>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTimer>

namespace oxbrin {

namespace {

// Length of the UTF-8 sequence that starts at data[i] and its code point;
// 0 when the bytes are not one (they are then shown one by one as Latin-1),
// -1 when they may still become one but the data ends first.
int Utf8Sequence(const char* data, qsizetype i, qsizetype n, char32_t* cp) {
    const auto lead = static_cast<unsigned char>(data[i]);
    int len;
    char32_t value;
    if (lead >= 0xC2 && lead <= 0xDF) {
        len = 2;
        value = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        len = 3;
        value = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        len = 4;
        value = lead & 0x07;
    } else {
        return 0;
    }
    for (int k = 1; k < len; ++k) {
        if (i + k >= n) return -1;
        const auto b = static_cast<unsigned char>(data[i + k]);
        if ((b & 0xC0) != 0x80) return 0;
        value = (value << 6) | (b & 0x3F);
        // Overlong forms, surrogates and values past U+10FFFF are rejected as
        // soon as the second byte tells.
        if (k == 1) {
            if ((lead == 0xE0 && b < 0xA0) || (lead == 0xED && b > 0x9F) || (lead == 0xF0 && b < 0x90) ||
                (lead == 0xF4 && b > 0x8F))
                return 0;
        }
    }
    *cp = value;
    return len;
}

void RemoveLastChar(QString& s) {
    if (s.isEmpty()) return;
    s.chop(1);
    if (!s.isEmpty() && s.back().isHighSurrogate()) s.chop(1);
}

} // namespace

CConsoleText::CConsoleText(CConsolePane* pane, QWidget* parent) : QPlainTextEdit(parent), pane_(pane) {
    setReadOnly(true);
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setFrameShape(QFrame::StyledPanel);
    setFrameShadow(QFrame::Sunken);
    setObjectName(QStringLiteral("ConsoleText"));
    document()->setUndoRedoEnabled(false);
}

bool CConsoleText::event(QEvent* e) {
    // Typed characters, Enter, Backspace and Escape belong to the pane, even
    // when some single-key shortcut would like them.
    if (e->type() == QEvent::ShortcutOverride) {
        auto* k = static_cast<QKeyEvent*>(e);
        const bool command = k->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
        if (!command && (k->key() == Qt::Key_Escape || k->key() == Qt::Key_Backspace ||
                         k->key() == Qt::Key_Return || k->key() == Qt::Key_Enter || !k->text().isEmpty())) {
            e->accept();
            return true;
        }
    }
    return QPlainTextEdit::event(e);
}

void CConsoleText::keyPressEvent(QKeyEvent* e) {
    if (pane_->OnKey(e)) return;
    QString text = e->text();
    if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter)
        text = QStringLiteral("\r");
    else if (e->key() == Qt::Key_Backspace)
        text = QStringLiteral("\b");
    else if (e->key() == Qt::Key_Escape)
        text = QStringLiteral("\x1b");
    if (!text.isEmpty() && !(e->modifiers() & (Qt::AltModifier | Qt::MetaModifier))) {
        // Characters beyond Latin-1 go as UTF-8.
        bool latin1 = true;
        for (QChar c : text) latin1 = latin1 && c.unicode() < 0x100;
        const QByteArray bytes = latin1 ? text.toLatin1() : text.toUtf8();
        for (char c : bytes) pane_->OnCharTyped(QByteArray(1, c));
        e->accept();
        return;
    }
    QPlainTextEdit::keyPressEvent(e);
}

void CConsoleText::mousePressEvent(QMouseEvent* e) {
    if (e->button() == Qt::RightButton) {
        // Moves the caret as a left click would, but a click inside the
        // selection keeps it, so Copy Selection still has something to copy.
        const QTextCursor at = cursorForPosition(e->position().toPoint());
        const QTextCursor cur = textCursor();
        const int pos = at.position();
        if (!(cur.hasSelection() && pos >= cur.selectionStart() && pos <= cur.selectionEnd()))
            setTextCursor(at);
        setFocus(Qt::MouseFocusReason);
        e->accept();
        return;
    }
    QPlainTextEdit::mousePressEvent(e);
}

void CConsoleText::mouseDoubleClickEvent(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton) {
        setTextCursor(cursorForPosition(e->position().toPoint()));
        e->accept();
        pane_->OnDoubleClick();
        return;
    }
    QPlainTextEdit::mouseDoubleClickEvent(e);
}

void CConsoleText::focusInEvent(QFocusEvent* e) {
    QPlainTextEdit::focusInEvent(e);
    // The status bar shows this caret from now on.
    emit pane_->PositionChanged();
}

void CConsoleText::contextMenuEvent(QContextMenuEvent* e) {
    emit pane_->ContextMenuRequested(e->globalPos());
    e->accept();
}

CConsolePane::CConsolePane(int id, const QString& title, QSize initialSize, QWidget* parent)
    : CZKSCW(id, title, initialSize, parent), text_(new CConsoleText(this, this)),
      flushTimer_(new QTimer(this)) {
    SetContent(text_);
    connect(text_, &QPlainTextEdit::cursorPositionChanged, this, &CConsolePane::PositionChanged);
    flushTimer_->setSingleShot(true);
    connect(flushTimer_, &QTimer::timeout, this, [this] {
        QByteArray slice;
        {
            QMutexLocker lock(&postLock_);
            slice = posted_.left(kPostedSlice);
            posted_.remove(0, slice.size());
            if (posted_.isEmpty()) flushScheduled_ = false;
        }
        lastFlush_.start();
        AppendConsoleText(slice);
        QMutexLocker lock(&postLock_);
        // More than a slice waits: the rest follows as soon as the window
        // has had its turn. Bytes that came meanwhile were scheduled by
        // their poster.
        if (posted_.size() >= kPostedSlice)
            flushTimer_->start(0);
        else if (flushScheduled_ && !flushTimer_->isActive())
            ScheduleFlush();
    });
}

void CConsolePane::ScheduleFlush() {
    if (flushTimer_->isActive()) return;
    // The first bytes after a pause show at once; a stream waits for the
    // steady gap since the last flush.
    const qint64 since = lastFlush_.isValid() ? lastFlush_.elapsed() : kSteadyGapMs;
    flushTimer_->start(int(qMax<qint64>(kQuickDelayMs, kSteadyGapMs - since)));
}

void CConsolePane::AppendConsoleText(const QByteArray& bytes) {
    if (!bytes.isEmpty()) AppendConsoleText(bytes.constData(), bytes.size());
}

void CConsolePane::AppendConsoleText(const char* bytes, qsizetype count) {
    if (count == 0 && bytes) count = static_cast<qsizetype>(qstrlen(bytes));
    QTextCursor end(text_->document());
    end.movePosition(QTextCursor::End);
    text_->setTextCursor(end);
    if (!bytes || count <= 0) return;

    QByteArray joined;
    const char* data = bytes;
    qsizetype n = count;
    if (!partial_.isEmpty()) {
        // The unfinished sequence was shown byte by byte; take it back and
        // read it again together with what follows.
        QTextCursor shown(text_->document());
        shown.movePosition(QTextCursor::End);
        shown.movePosition(QTextCursor::Left, QTextCursor::KeepAnchor, static_cast<int>(partial_.size()));
        shown.removeSelectedText();
        joined = partial_ + QByteArray(bytes, count);
        partial_.clear();
        data = joined.constData();
        n = joined.size();
    }

    QString line;    // current line, not yet inserted
    QString pending; // finished lines, not yet inserted
    // Length of the control's last line, which the current line continues
    // while nothing is pending.
    qsizetype shownTail = end.positionInBlock();
    for (qsizetype i = 0; i < n;) {
        const auto b = static_cast<unsigned char>(data[i]);
        switch (b) {
        case 0: ++i; continue;
        case 7:
            if (beep_) QApplication::beep();
            ++i;
            continue;
        case 8:
            crPending_ = false;
            if (!line.isEmpty())
                RemoveLastChar(line);
            else if (!pending.isEmpty())
                RemoveLastChar(pending);
            else {
                DeleteLastControlChar();
                QTextCursor tail(text_->document());
                tail.movePosition(QTextCursor::End);
                shownTail = tail.positionInBlock();
            }
            ++i;
            continue;
        case 10:
            crPending_ = false;
            pending += line;
            pending += QLatin1Char('\n');
            line.clear();
            ++i;
            continue;
        case 13:
            crPending_ = true;
            ++i;
            continue;
        default: break;
        }
        if (crPending_) {
            // A carriage return followed by text: the text overwrites the line.
            crPending_ = false;
            line.clear();
            if (pending.isEmpty()) {
                DeleteLastControlLine();
                shownTail = 0;
            }
        }
        // A line that never ends is broken up: one endless block would be
        // laid out again on every append and freeze the window.
        if (line.size() + (pending.isEmpty() ? shownTail : 0) >= kMaxLineLength) {
            pending += line;
            pending += QLatin1Char('\n');
            line.clear();
        }
        if (b >= 0x80) {
            char32_t cp = 0;
            const int len = Utf8Sequence(data, i, n, &cp);
            if (len < 0) {
                // Shown as Latin-1 for now, so nothing waits unseen.
                partial_ = QByteArray(data + i, n - i);
                for (char c : partial_) line += QChar(static_cast<unsigned char>(c));
                break;
            }
            if (len > 0) {
                line += QString::fromUcs4(&cp, 1);
                i += len;
                continue;
            }
            line += QChar(b);
        } else if (b >= 32 || b == '\t') {
            line += QChar(b);
        } else {
            line += QLatin1Char('^');
            line += QChar(b + 64);
        }
        ++i;
    }
    pending += line;
    if (pending.isEmpty()) return;
    end.movePosition(QTextCursor::End);
    end.insertText(pending);
    text_->setTextCursor(end);
    text_->ensureCursorVisible();
}

void CConsolePane::DeleteLastControlLine() {
    QTextCursor c(text_->document());
    c.movePosition(QTextCursor::End);
    c.movePosition(QTextCursor::StartOfBlock, QTextCursor::KeepAnchor);
    c.removeSelectedText();
}

void CConsolePane::DeleteLastControlChar() {
    QTextCursor c(text_->document());
    c.movePosition(QTextCursor::End);
    if (c.position() > 0) c.deletePreviousChar();
}

void CConsolePane::PostConsoleText(const QByteArray& bytes) {
    if (bytes.isEmpty()) return;
    QMutexLocker lock(&postLock_);
    posted_ += bytes;
    if (flushScheduled_) return;
    flushScheduled_ = true;
    QMetaObject::invokeMethod(
        this, [this] { ScheduleFlush(); }, Qt::QueuedConnection);
}

void CConsolePane::FlushPosted() {
    QByteArray all;
    {
        QMutexLocker lock(&postLock_);
        all.swap(posted_);
        flushScheduled_ = false;
    }
    flushTimer_->stop();
    AppendConsoleText(all);
}

void CConsolePane::SetConsoleFont(const QString& face, int points) {
    // A face the system lacks: its fixed font, as the Options show.
    QFont font(UsableFixedFace(face));
    font.setStyleHint(QFont::TypeWriter);
    if (points > 0) font.setPointSize(points);
    font.setBold(false);
    font.setItalic(false);
    font.setUnderline(false);
    font.setStrikeOut(false);
    text_->setFont(font);
    text_->document()->setDefaultFont(font);
    // 960 twips: two thirds of an inch.
    text_->setTabStopDistance(text_->logicalDpiX() * 960.0 / 1440.0);
}

bool CConsolePane::HasText() const { return !text_->document()->isEmpty(); }

bool CConsolePane::HasSelection() const { return text_->textCursor().hasSelection(); }

void CConsolePane::ClearText() {
    // Output still queued belongs to what is being cleared.
    {
        QMutexLocker lock(&postLock_);
        posted_.clear();
    }
    text_->clear();
    crPending_ = false;
    partial_.clear();
}

void CConsolePane::CopySelection() { text_->copy(); }

void CConsolePane::SelectAllText() { text_->selectAll(); }

QString CConsolePane::PositionText() const {
    const QTextCursor c = text_->textCursor();
    return QStringLiteral("Ln %1, Col %2").arg(c.blockNumber() + 1).arg(c.positionInBlock() + 1);
}

void CConsolePane::OnCharTyped(const QByteArray&) {}

bool CConsolePane::OnKey(QKeyEvent*) { return false; }

} // namespace oxbrin
