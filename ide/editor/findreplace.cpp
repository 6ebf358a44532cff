#include "findreplace.h"

#include "shell/commands.h"
#include "shell/prompts.h"

#include <QApplication>
#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace oxbrin {

CFindReplaceDialog::CFindReplaceDialog(bool replace, QWidget* parent) : QDialog(parent), replace_(replace) {
    setWindowTitle(replace ? QStringLiteral("Replace") : QStringLiteral("Find"));
    setModal(false);
    auto* grid = new QGridLayout(this);
    auto* findLabel = new QLabel(QStringLiteral("Fi&nd what:"), this);
    find_ = new QLineEdit(this);
    findLabel->setBuddy(find_);
    find_->setAccessibleName(QStringLiteral("Find what"));
    grid->addWidget(findLabel, 0, 0);
    grid->addWidget(find_, 0, 1);
    int row = 1;
    if (replace) {
        auto* withLabel = new QLabel(QStringLiteral("Re&place with:"), this);
        with_ = new QLineEdit(this);
        withLabel->setBuddy(with_);
        with_->setAccessibleName(QStringLiteral("Replace with"));
        grid->addWidget(withLabel, row, 0);
        grid->addWidget(with_, row, 1);
        ++row;
    }
    word_ = new QCheckBox(QStringLiteral("Match &whole word only"), this);
    case_ = new QCheckBox(QStringLiteral("Match &case"), this);
    grid->addWidget(word_, row++, 0, 1, 2);
    grid->addWidget(case_, row++, 0, 1, 2);
    if (!replace) {
        auto* dir = new QGroupBox(QStringLiteral("Direction"), this);
        dir->setAccessibleName(QStringLiteral("Direction"));
        auto* box = new QHBoxLayout(dir);
        up_ = new QRadioButton(QStringLiteral("&Up"), dir);
        down_ = new QRadioButton(QStringLiteral("&Down"), dir);
        down_->setChecked(true);
        box->addWidget(up_);
        box->addWidget(down_);
        grid->addWidget(dir, row++, 0, 1, 2);
    }
    auto* buttons = new QVBoxLayout;
    findNext_ = new QPushButton(QStringLiteral("&Find Next"), this);
    findNext_->setDefault(true);
    buttons->addWidget(findNext_);
    connect(findNext_, &QPushButton::clicked, this, &CFindReplaceDialog::FindNext);
    if (replace) {
        replaceOne_ = new QPushButton(QStringLiteral("&Replace"), this);
        replaceAll_ = new QPushButton(QStringLiteral("Replace &All"), this);
        buttons->addWidget(replaceOne_);
        buttons->addWidget(replaceAll_);
        connect(replaceOne_, &QPushButton::clicked, this, &CFindReplaceDialog::Replace);
        connect(replaceAll_, &QPushButton::clicked, this, &CFindReplaceDialog::ReplaceAll);
    }
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    connect(cancel, &QPushButton::clicked, this, &QDialog::close);
    buttons->addWidget(cancel);
    buttons->addStretch(1);
    grid->addLayout(buttons, 0, 2, row, 1);
    connect(find_, &QLineEdit::textChanged, this, &CFindReplaceDialog::UpdateButtons);
    UpdateButtons();
}

void CFindReplaceDialog::UpdateButtons() {
    const bool any = !find_->text().isEmpty();
    findNext_->setEnabled(any);
    if (replaceOne_) replaceOne_->setEnabled(any);
    if (replaceAll_) replaceAll_->setEnabled(any);
}

void CFindReplaceDialog::SetFindText(const QString& text) {
    find_->setText(text);
    find_->selectAll();
}

QString CFindReplaceDialog::FindWhat() const { return find_->text(); }

QString CFindReplaceDialog::ReplaceWith() const { return with_ ? with_->text() : QString(); }

FindOptions CFindReplaceDialog::Options() const {
    FindOptions o;
    o.matchCase = case_->isChecked();
    o.wholeWord = word_->isChecked();
    o.down = !(up_ && up_->isChecked());
    return o;
}

void CFindReplaceDialog::SetOptions(const FindOptions& opt) {
    case_->setChecked(opt.matchCase);
    word_->setChecked(opt.wholeWord);
    if (up_) {
        up_->setChecked(!opt.down);
        down_->setChecked(opt.down);
    }
}

FindReplace::FindReplace(QWidget* frame, std::function<COxbrinView*()> activeView)
    : QObject(frame), frame_(frame), activeView_(std::move(activeView)) {}

void FindReplace::OpenDialog(bool replace) {
    QPointer<CFindReplaceDialog>& dlg = replace ? replaceDlg_ : findDlg_;
    QPointer<CFindReplaceDialog>& other = replace ? findDlg_ : replaceDlg_;
    if (other) other->close();
    if (!dlg) {
        dlg = new CFindReplaceDialog(replace, frame_);
        dlg->setAttribute(Qt::WA_DeleteOnClose);
        CFindReplaceDialog* d = dlg;
        auto take = [this, d] {
            findWhat_ = d->FindWhat();
            findOpt_ = d->Options();
            if (d->IsReplace()) replaceWith_ = d->ReplaceWith();
        };
        connect(d, &CFindReplaceDialog::FindNext, this, [this, take] {
            take();
            FindNext();
        });
        connect(d, &CFindReplaceDialog::Replace, this, [this, take] {
            take();
            Replace();
        });
        connect(d, &CFindReplaceDialog::ReplaceAll, this, [this, take] {
            take();
            ReplaceAll();
        });
    }
    QString initial = findWhat_;
    if (COxbrinView* view = activeView_()) {
        const QString sel = view->textCursor().selectedText();
        if (!sel.isEmpty() && !sel.contains(QChar::ParagraphSeparator)) initial = sel;
    }
    dlg->SetFindText(initial);
    dlg->SetOptions(findOpt_);
    if (replace && dlg->ReplaceEdit()) dlg->ReplaceEdit()->setText(replaceWith_);
    dlg->show();
    dlg->raise();
    dlg->activateWindow();
}

void FindReplace::TextNotFound() {
    QApplication::beep();
    ShowMessage(frame_, QString::fromLatin1(strings::kSearchFinished), QMessageBox::Information);
}

void FindReplace::FindNext() {
    COxbrinView* view = activeView_();
    if (!view) return;
    if (findWhat_.isEmpty()) {
        OpenDialog(false);
        return;
    }
    bool wrapped = false;
    if (!view->FindText(findWhat_, findOpt_, &wrapped))
        TextNotFound();
    else if (wrapped)
        emit StatusMessage(QString::fromLatin1(findOpt_.down ? kPassedEnd : kPassedStart));
}

void FindReplace::Replace() {
    COxbrinView* view = activeView_();
    if (!view || findWhat_.isEmpty()) return;
    FindOptions down = findOpt_;
    down.down = true;
    if (!view->ReplaceText(findWhat_, replaceWith_, down)) TextNotFound();
}

void FindReplace::ReplaceAll() {
    COxbrinView* view = activeView_();
    if (!view || findWhat_.isEmpty()) return;
    const int count = view->ReplaceAll(findWhat_, replaceWith_, findOpt_);
    if (count == 0) {
        TextNotFound();
        return;
    }
    const QString text = count == 1 ? QStringLiteral("Replaced 1 occurrence.")
                                    : QStringLiteral("Replaced %1 occurrences.").arg(count);
    emit StatusMessage(text);
}

} // namespace oxbrin
