#pragma once

// Shared set-up of the IDE's tests: an application object on a settings
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
    QStringList fileAnswer; // empty = cancel; used for one dialog only
    QList<FileRequest> fileRequests;

    Prompts() {
        SetMessageResponder([this](const MessageRequest& r) {
            messages << r;
            if (r.buttons & answer) return answer;
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
    if (!f.open(QIODevice::ReadOnly)) return {};
    return f.readAll();
}

inline bool WriteAll(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

inline void Settle() {
    for (int i = 0; i < 3; ++i) QApplication::processEvents();
}

// The members of every suite that runs the whole IDE: a folder of each
// test's own (the settings store and the test's files), the responder that
// answers the IDE's questions, and the application object. A suite derives
// from it beside QObject and calls Prepare and Start from its init slot,
// Finish from its cleanup slot.
class AppFixture {
protected:
    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<Prompts> prompts_;
    std::unique_ptr<COxbrinApp> app_;

    CMainFrame* Frame() { return app_->MainFrame(); }

    // A fresh folder and responder; the application does not run yet.
    void Prepare() {
        dir_ = std::make_unique<QTemporaryDir>();
        prompts_ = std::make_unique<Prompts>();
    }

    // Starts the application on the folder's settings store as the program
    // starts with `args` on its command line; false when it would end. Help
    // Topics finds no manual unless the test gives it one.
    bool Start(const QStringList& args = {}) {
        app_ = std::make_unique<COxbrinApp>(StoreIn(*dir_));
        if (!app_->InitInstance(args)) return false;
        Frame()->SetHelpIndex(QString());
        Settle();
        return true;
    }

    // The application, the responder and the folder go, in that order.
    void Finish() {
        app_.reset();
        prompts_.reset();
        dir_.reset();
    }

    // A file of the test's folder holding `text`.
    QString MakeFile(const QString& name, const QByteArray& text) {
        const QString path = dir_->filePath(name);
        WriteAll(path, text);
        return path;
    }
};

} // namespace oxbrin::test
