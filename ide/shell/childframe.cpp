#include "childframe.h"

#include "editor/oxbrindoc.h"
#include "editor/oxbrinview.h"
#include "icons.h"

#include <QCloseEvent>
#include <QMenu>
#include <QTextDocument>

namespace oxbrin {

CChildFrame::CChildFrame(COxbrinDoc* doc, QWidget* parent) : QMdiSubWindow(parent), doc_(doc) {
    setAttribute(Qt::WA_DeleteOnClose);
    doc_->setParent(this);
    view_ = new COxbrinView(doc_, this);
    setWidget(view_);
    setWindowIcon(DocumentIcon());
    // The frame's commands own the keys (Ctrl+W and Ctrl+F4 close, Ctrl+F6
    // goes on): the window's own menu keeps its items but not their keys,
    // which would make every such key ambiguous.
    if (QMenu* menu = systemMenu()) {
        for (QAction* a : menu->actions()) a->setShortcuts({});
    }
    connect(doc_, &COxbrinDoc::TitleChanged, this, &CChildFrame::UpdateTitle);
    UpdateTitle();
}

CChildFrame::~CChildFrame() {
    // The view goes before the document it shows.
    delete view_;
    view_ = nullptr;
}

void CChildFrame::UpdateTitle() {
    setWindowTitle(doc_->Title() + QStringLiteral("[*]"));
    setWindowModified(doc_->IsModified());
    // A screen reader names the window and its editor by the document.
    const QString name = doc_->Title() + (doc_->IsModified() ? QStringLiteral(" (modified)") : QString());
    setAccessibleName(name);
    view_->setAccessibleName(QStringLiteral("Source ") + name);
}

void CChildFrame::CloseWithoutPrompt() {
    skipPrompt_ = true;
    close();
}

void CChildFrame::closeEvent(QCloseEvent* e) {
    if (!skipPrompt_ && !doc_->SaveModified(this)) {
        e->ignore();
        return;
    }
    QMdiSubWindow::closeEvent(e);
}

} // namespace oxbrin
