#include "outputpane.h"

#include "editor/oxbrindoc.h"
#include "editor/oxbrinview.h"
#include "shell/childframe.h"
#include "shell/commands.h"
#include "shell/mainframe.h"
#include "shell/oxbrinapp.h"

#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMdiArea>
#include <QMenu>
#include <QTextBlock>

#include <climits>

namespace oxbrin {

namespace {

// A decimal number after "(": optional blanks and sign, then digits up to
// the first other character; no digits gives 0. Large values saturate
// rather than wrap.
int ReadNumber(const QString& s, qsizetype pos) {
    while (pos < s.size() && (s[pos] == QLatin1Char(' ') || s[pos] == QLatin1Char('\t'))) ++pos;
    bool negative = false;
    if (pos < s.size() && (s[pos] == QLatin1Char('+') || s[pos] == QLatin1Char('-'))) {
        negative = s[pos] == QLatin1Char('-');
        ++pos;
    }
    qint64 value = 0;
    while (pos < s.size() && s[pos] >= QLatin1Char('0') && s[pos] <= QLatin1Char('9')) {
        value = value * 10 + (s[pos].unicode() - '0');
        if (value > INT_MAX) value = INT_MAX;
        ++pos;
    }
    return static_cast<int>(negative ? -value : value);
}

} // namespace

bool ParseErrorTag(const QString& line, ErrorTag* tag) {
    qsizetype start = 0;
    while (start < line.size() && (line[start] == QLatin1Char(' ') || line[start] == QLatin1Char('\t')))
        ++start;
    ErrorTag t;
    t.line = 0;
    int column = 0;
    for (qsizetype p = line.indexOf(QLatin1Char('('), start); p >= 0;
         p = line.indexOf(QLatin1Char('('), p + 1)) {
        if (t.line == 0) {
            t.file = line.mid(start, p - start);
            t.line = ReadNumber(line, p + 1);
        } else {
            column = ReadNumber(line, p + 1);
            break;
        }
    }
    // A negative line number is no place in a file either.
    if (t.line <= 0) return false;
    t.column = column > 0 ? column : 1;
    if (tag) *tag = t;
    return true;
}

COutputPane::COutputPane(CMainFrame* frame, QSize initialSize, QWidget* parent)
    : CConsolePane(ID_VIEW_OUTPUT, QStringLiteral("Output"), initialSize, parent), frame_(frame) {
    Control()->setObjectName(QStringLiteral("Control1000"));
    Control()->setAccessibleName(QStringLiteral("Output"));
    Control()->setAccessibleDescription(
        QStringLiteral("The build's messages; Enter on a message goes to its line"));
    connect(this, &CConsolePane::ContextMenuRequested, this, [this](const QPoint& at) {
        if (!frame_) return;
        QMenu* menu = ContextMenu();
        frame_->UpdateCommandUI();
        menu->popup(at);
    });
}

QMenu* COutputPane::ContextMenu() {
    if (!menu_ && frame_) {
        menu_ = new QMenu(this);
        menu_->addAction(frame_->MenuItem(ID_EDIT_COPY, QStringLiteral("&Copy Selection")));
        menu_->addAction(frame_->MenuItem(kIdOutputClear, QStringLiteral("Clea&r Window")));
        menu_->addAction(frame_->MenuItem(kIdGoToErrorTag, QStringLiteral("&Go To Error Tag")));
        menu_->addSeparator();
        menu_->addAction(frame_->MenuItem(ID_VIEW_OUTPUT, QStringLiteral("&Show Output Window")));
        connect(menu_, &QMenu::aboutToShow, frame_, &CMainFrame::UpdateCommandUI);
    }
    return menu_;
}

QString COutputPane::CaretLineText() const { return Control()->textCursor().block().text(); }

bool COutputPane::CaretLineHasTag() const { return ParseErrorTag(CaretLineText(), nullptr); }

bool COutputPane::GoToErrorTag() {
    ErrorTag tag;
    const QTextBlock block = Control()->textCursor().block();
    if (!ParseErrorTag(block.text(), &tag)) return false;
    if (!frame_) return true;
    const QString path = TagPath(tag.file);
    if (!frame_->App()->OpenDocumentFile(path)) return true;
    // Select the whole tag line here, then go to the place in the editor.
    QTextCursor sel(block);
    sel.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
    Control()->setTextCursor(sel);
    if (COxbrinView* view = frame_->ActiveView()) {
        view->setFocus();
        view->GoToLine(tag.line, tag.column);
    }
    return true;
}

QString COutputPane::TagPath(const QString& file) const {
    // The tool ran in its own folder; a relative name is looked for there
    // before the current folder.
    QString path = file;
    if (QFileInfo(path).isRelative() && !toolDir_.isEmpty()) {
        const QString inToolDir = QDir(toolDir_).filePath(path);
        if (QFileInfo::exists(inToolDir)) path = inToolDir;
    }
    return path;
}

QList<COutputPane::Message> COutputPane::Messages() const {
    QList<Message> list;
    ErrorTag tag;
    for (QTextBlock b = Control()->document()->begin(); b.isValid(); b = b.next()) {
        const QString text = b.text();
        if (ParseErrorTag(text, &tag)) {
            // A message that says neither is taken for an error: it stopped
            // or troubled the build either way.
            const bool warning = text.contains(QLatin1String("warning"), Qt::CaseInsensitive) &&
                                 !text.contains(QLatin1String("error"), Qt::CaseInsensitive);
            list.append({TagPath(tag.file), tag.line, text.trimmed(), !warning});
        }
    }
    return list;
}

bool COutputPane::GoToMessage(bool forward) {
    FlushPosted();
    QTextDocument* doc = Control()->document();
    const QTextCursor caret = Control()->textCursor();
    QTextBlock from = caret.block();
    // A message line the caret is on but that has not been gone to yet
    // (not selected) is the first one F4 goes to.
    const bool startHere = forward && !caret.hasSelection() && ParseErrorTag(from.text(), nullptr);
    QTextBlock b = startHere ? from : (forward ? from.next() : from.previous());
    for (int seen = 0; seen <= doc->blockCount(); ++seen) {
        if (!b.isValid()) b = forward ? doc->begin() : doc->lastBlock();
        if (ParseErrorTag(b.text(), nullptr)) {
            Control()->setTextCursor(QTextCursor(b));
            Control()->ensureCursorVisible();
            GoToErrorTag();
            return true;
        }
        b = forward ? b.next() : b.previous();
    }
    return false;
}

bool COutputPane::ShowFirstErrorTag() {
    FlushPosted();
    for (QTextBlock b = Control()->document()->begin(); b.isValid(); b = b.next()) {
        if (ParseErrorTag(b.text(), nullptr)) {
            Control()->setTextCursor(QTextCursor(b));
            Control()->ensureCursorVisible();
            return true;
        }
    }
    return false;
}

void COutputPane::OnDoubleClick() { GoToErrorTag(); }

void COutputPane::OnCharTyped(const QByteArray& bytes) {
    if (bytes.size() == 1 && bytes[0] == '\r') {
        if (GoToErrorTag()) return;
    } else if (bytes.size() == 1 && bytes[0] == '\x1b') {
        if (frame_) {
            if (COxbrinView* view = frame_->ActiveView())
                view->setFocus();
            else
                hide();
        }
        return;
    }
    if (input_) input_(bytes.constData(), bytes.size());
}

} // namespace oxbrin
