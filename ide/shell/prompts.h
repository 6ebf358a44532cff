#pragma once

// Every modal question and file dialog of the shell goes through these few
// functions. Tests install a responder that answers instead of a user, so
// the code paths behind a dialog run headless and unchanged.

#include <QList>
#include <QMessageBox>
#include <QPair>
#include <QString>
#include <QStringList>

#include <functional>

class QWidget;

namespace oxbrin {

struct MessageRequest {
    QString text;
    QString caption;
    QMessageBox::Icon icon;
    QMessageBox::StandardButtons buttons;
    // Own texts for some of the buttons (a choice that the standard texts
    // would not name truly, such as "Reload (lose your changes)").
    QList<QPair<QMessageBox::StandardButton, QString>> buttonTexts;
    // The button Enter presses; NoButton leaves the choice to the box.
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
};

struct FileRequest {
    bool save; // Save As rather than Open
    QString title;
    QString suggestedName;
    QString filter; // Qt filter string
    // Save As: added to a typed name without an extension while the first
    // filter (the sources) is chosen, so the file shows under that filter.
    QString defaultSuffix = {};
};

using MessageResponder = std::function<QMessageBox::StandardButton(const MessageRequest&)>;
// Returns the chosen names; an empty list means the dialog was cancelled.
using FileResponder = std::function<QStringList(const FileRequest&)>;

void SetMessageResponder(MessageResponder responder);
void SetFileResponder(FileResponder responder);

QMessageBox::StandardButton
ShowMessage(QWidget* parent, const QString& text, QMessageBox::Icon icon,
            QMessageBox::StandardButtons buttons = QMessageBox::Ok, const QString& caption = QString(),
            const QList<QPair<QMessageBox::StandardButton, QString>>& buttonTexts = {},
            QMessageBox::StandardButton defaultButton = QMessageBox::NoButton);
QStringList AskFileNames(QWidget* parent, const FileRequest& request);

// Turns a "Name (*.a;*.b)|*.a;*.b|...||" filter into Qt's form.
QString QtFileFilter(const QString& windowsFilter);

} // namespace oxbrin
