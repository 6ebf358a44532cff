#include "gotodialog.h"

#include <QGridLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace oxbrin {

CGoToDialog::CGoToDialog(int currentLine, QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Go To"));
    auto* label = new QLabel(QStringLiteral("&Enter line number:"), this);
    edit_ = new QLineEdit(QString::number(currentLine), this);
    edit_->setValidator(new QIntValidator(0, 99999999, edit_));
    edit_->selectAll();
    label->setBuddy(edit_);
    edit_->setAccessibleName(QStringLiteral("Line number"));
    auto* go = new QPushButton(QStringLiteral("&Go To"), this);
    auto* close = new QPushButton(QStringLiteral("&Close"), this);
    go->setDefault(true);
    connect(go, &QPushButton::clicked, this, &QDialog::accept);
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    auto* grid = new QGridLayout(this);
    grid->addWidget(label, 0, 0);
    grid->addWidget(go, 0, 1);
    grid->addWidget(edit_, 1, 0);
    grid->addWidget(close, 1, 1);
}

int CGoToDialog::Line() const { return edit_->text().toInt(); }

} // namespace oxbrin
