#include "prompts.h"

#include "commands.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>

namespace oxbrin {

namespace {
MessageResponder& Responder() {
    static MessageResponder r;
    return r;
}
FileResponder& FileAnswer() {
    static FileResponder r;
    return r;
}
} // namespace

void SetMessageResponder(MessageResponder responder) { Responder() = std::move(responder); }
void SetFileResponder(FileResponder responder) { FileAnswer() = std::move(responder); }

QMessageBox::StandardButton ShowMessage(QWidget* parent, const QString& text, QMessageBox::Icon icon,
                                        QMessageBox::StandardButtons buttons, const QString& caption,
                                        const QList<QPair<QMessageBox::StandardButton, QString>>& buttonTexts,
                                        QMessageBox::StandardButton defaultButton) {
    MessageRequest req{text,        caption.isEmpty() ? QString(strings::kAppTitle) : caption,
                       icon,        buttons,
                       buttonTexts, defaultButton};
    if (Responder()) return Responder()(req);
    QMessageBox box(icon, req.caption, text, buttons, parent);
    for (const auto& [button, label] : buttonTexts) {
        if (QAbstractButton* b = box.button(button)) b->setText(label);
    }
    if (defaultButton != QMessageBox::NoButton) box.setDefaultButton(defaultButton);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

QStringList AskFileNames(QWidget* parent, const FileRequest& request) {
    const QString firstFilter = request.filter.section(QStringLiteral(";;"), 0, 0);
    if (FileAnswer()) {
        // An answer stands for a name typed with the first filter chosen,
        // as the dialog opens.
        QStringList names = FileAnswer()(request);
        if (request.save && !request.defaultSuffix.isEmpty()) {
            for (QString& name : names) {
                if (!name.isEmpty() && QFileInfo(name).suffix().isEmpty() && !name.endsWith(QLatin1Char('.')))
                    name += QLatin1Char('.') + request.defaultSuffix;
            }
        }
        return names;
    }
    QFileDialog dlg(parent, request.title, QString(), request.filter);
    if (request.save) {
        dlg.setAcceptMode(QFileDialog::AcceptSave);
        dlg.setFileMode(QFileDialog::AnyFile);
        if (!request.defaultSuffix.isEmpty()) {
            // The dialog adds the suffix itself (and asks before replacing
            // the file with it), only while the source filter is chosen.
            dlg.setDefaultSuffix(request.defaultSuffix);
            QObject::connect(&dlg, &QFileDialog::filterSelected, &dlg,
                             [&dlg, &request, firstFilter](const QString& f) {
                                 dlg.setDefaultSuffix(f == firstFilter ? request.defaultSuffix : QString());
                             });
        }
        if (!request.suggestedName.isEmpty()) dlg.selectFile(request.suggestedName);
    } else {
        dlg.setAcceptMode(QFileDialog::AcceptOpen);
        dlg.setFileMode(QFileDialog::ExistingFiles);
        // The download dialog starts on the file sent last.
        if (!request.suggestedName.isEmpty()) dlg.selectFile(request.suggestedName);
    }
    if (dlg.exec() != QDialog::Accepted) return {};
    return dlg.selectedFiles();
}

QString QtFileFilter(const QString& windowsFilter) {
    const QStringList parts = windowsFilter.split(QLatin1Char('|'));
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        if (parts[i].isEmpty()) break;
        QString name = parts[i];
        const qsizetype paren = name.indexOf(QLatin1Char('('));
        if (paren > 0) name = name.left(paren).trimmed();
        QStringList patterns = parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts);
        for (QString& p : patterns) {
            // "*.*" means every file; on POSIX it would skip names without a dot.
            if (p == QLatin1String("*.*")) p = QStringLiteral("*");
        }
        filters << QStringLiteral("%1 (%2)").arg(name, patterns.join(QLatin1Char(' ')));
    }
    return filters.join(QStringLiteral(";;"));
}

} // namespace oxbrin
