#pragma once

// Pieces the report client's dialogs share: the status line and the
// progress bar of the save and upload dialogs, and the row of buttons at
// the foot of a dialog. Tests and accessibility tools find the first two by
// their object names, "status" and "progress".

#include <QBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QString>

#include <initializer_list>

namespace ulmarro {

// What the dialog is doing, as wrapped plain text.
inline QLabel* MakeStatusLine(QWidget* parent, const QString& text) {
    auto* status = new QLabel(text, parent);
    status->setObjectName(QStringLiteral("status"));
    status->setWordWrap(true);
    status->setTextFormat(Qt::PlainText);
    return status;
}

// A bar from 0 to `maximum`, empty, without a percentage.
inline QProgressBar* MakeProgressBar(QWidget* parent, int maximum) {
    auto* progress = new QProgressBar(parent);
    progress->setObjectName(QStringLiteral("progress"));
    progress->setRange(0, maximum);
    progress->setValue(0);
    progress->setTextVisible(false);
    return progress;
}

// The buttons, in this order, at the right end of a row below the rest.
inline void AddButtonRow(QBoxLayout* layout, std::initializer_list<QWidget*> buttons) {
    auto* row = new QHBoxLayout;
    row->addStretch(1);
    for (QWidget* button : buttons) row->addWidget(button);
    layout->addLayout(row);
}

} // namespace ulmarro
