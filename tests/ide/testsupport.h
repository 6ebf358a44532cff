#pragma once

// Shared set-up of the shell tests: an application object on a settings
// store in a temporary folder, and a responder that answers every question
// the shell asks and records it.

#include "editor/oxbrindoc.h"
#include "editor/oxbrinview.h"
#include "shell/childframe.h"
#include "shell/mainframe.h"
#include "shell/oxbrinapp.h"
#include "shell/prompts.h"

#include <QApplication>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <utility>

namespace oxbrin::test {

struct Prompts {
    QList<MessageRequest> messages;
    QMessageBox::StandardButton answer = QMessageBox::No;
    QStringList fileAnswer;  // empty = cancel; used for one dialog only
    QList<FileRequest> fileRequests;

    Prompts() {
        SetMessageResponder([this](const MessageRequest& r) {
            messages << r;
            if (r.buttons & answer)
                return answer;
            return r.buttons.testFlag(QMessageBox::Ok) ? QMessageBox::Ok : QMessageBox::Cancel;
        });
        SetFileResponder([this](const FileRequest& r) {
            fileRequests << r;
            return std::exchange(fileAnswer, QStringList());
        });
    }
    ~Prompts() {
        SetMessageResponder({});
        SetFileResponder({});
    }
};

inline std::unique_ptr<QSettings> StoreIn(const QTemporaryDir& dir) {
    return std::make_unique<QSettings>(dir.filePath(QStringLiteral("oxbrin.conf")), QSettings::IniFormat);
}

inline QByteArray ReadAll(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

inline bool WriteAll(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

inline void Settle() {
    for (int i = 0; i < 3; ++i)
        QApplication::processEvents();
}

}  // namespace oxbrin::test
