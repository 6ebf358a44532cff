#include "childframe.h"

#include "editor/oxbrindoc.h"
#include "editor/oxbrinview.h"
#include "icons.h"

#include <QCloseEvent>
#include <QTextDocument>

namespace oxbrin {

CChildFrame::CChildFrame(COxbrinDoc* doc, QWidget* parent) : QMdiSubWindow(parent), doc_(doc) {
    setAttribute(Qt::WA_DeleteOnClose);
    doc_->setParent(this);
    view_ = new COxbrinView(doc_, this);
    setWidget(view_);
    setWindowIcon(DocumentIcon());
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

}  // namespace oxbrin
