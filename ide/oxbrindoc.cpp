#include "oxbrindoc.h"

#include "commands.h"
#include "prompts.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPlainTextDocumentLayout>
#include <QSaveFile>
#include <QTextDocument>

namespace oxbrin {

COxbrinDoc::COxbrinDoc(QObject* parent) : QObject(parent), text_(new QTextDocument(this)) {
    text_->setDocumentLayout(new QPlainTextDocumentLayout(text_));
    text_->setUndoRedoEnabled(true);
    connect(text_, &QTextDocument::modificationChanged, this, &COxbrinDoc::TitleChanged);
}

COxbrinDoc::~COxbrinDoc() = default;

QString COxbrinDoc::Title() const {
    if (path_.isEmpty())
        return QStringLiteral("Untitled%1").arg(untitled_);
    return QFileInfo(path_).fileName();
}

bool COxbrinDoc::IsModified() const { return text_->isModified(); }

void COxbrinDoc::SetModified(bool modified) { text_->setModified(modified); }

bool COxbrinDoc::OnOpenDocument(const QString& path, QString& error) {
    DecodedText decoded;
    if (!ReadDocumentFile(path, decoded, error))
        return false;
    SetContents(path, decoded);
    return true;
}

bool COxbrinDoc::ReadDocumentFile(const QString& path, DecodedText& decoded, QString& error) {
    const QFileInfo info(path);
    const QString shown = QDir::toNativeSeparators(path);
    // Devices, pipes and sockets would block or never end; only plain files
    // are documents.
    if (info.exists() && !info.isFile()) {
        error = QStringLiteral("Cannot open %1.\nIt is not a regular file.").arg(shown);
        return false;
    }
    if (info.size() > kMaxFileBytes) {
        error = QStringLiteral("Cannot open %1.\nThe file is too large to edit (%2 MB; at most %3 MB).")
                    .arg(shown)
                    .arg(info.size() / (1024 * 1024))
                    .arg(kMaxFileBytes / (1024 * 1024));
        return false;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("Cannot open %1.\n%2").arg(QDir::toNativeSeparators(path), file.errorString());
        return false;
    }
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        error = QStringLiteral("Cannot read %1.\n%2").arg(QDir::toNativeSeparators(path), file.errorString());
        return false;
    }
    decoded = DecodeTextFile(bytes);
    return true;
}

void COxbrinDoc::SetContents(const QString& path, const DecodedText& decoded) {
    LoadIntoDocument(*text_, decoded);
    format_ = decoded.format;
    path_ = QFileInfo(path).absoluteFilePath();
    text_->setModified(false);
    emit TitleChanged();
}

bool COxbrinDoc::OnSaveDocument(const QString& path, QString& error) {
    QByteArray bytes;
    if (!EncodeDocument(*text_, format_, bytes, error))
        return false;
    QSaveFile file(path);
    const QString shown = QDir::toNativeSeparators(path);
    if (!file.open(QIODevice::WriteOnly)) {
        error = QStringLiteral("Cannot save %1.\n%2").arg(shown, file.errorString());
        return false;
    }
    if (file.write(bytes) != bytes.size() || !file.commit()) {
        error = QStringLiteral("Cannot save %1.\n%2").arg(shown, file.errorString());
        file.cancelWriting();
        return false;
    }
    path_ = QFileInfo(path).absoluteFilePath();
    text_->setModified(false);
    emit TitleChanged();
    emit Saved(path_);
    return true;
}

bool COxbrinDoc::DoFileSave(QWidget* parent) {
    const QFileInfo info(path_);
    if (path_.isEmpty() || (info.exists() && !info.isWritable()))
        return DoSave(parent);
    return DoSave(parent, path_, false);
}

bool COxbrinDoc::DoSave(QWidget* parent, const QString& path, bool askName) {
    QString target = path;
    if (askName || target.isEmpty()) {
        FileRequest req{true, QStringLiteral("Save As"), path_.isEmpty() ? Title() : path_,
                        QtFileFilter(strings::kFileFilter)};
        const QStringList names = AskFileNames(parent, req);
        if (names.isEmpty())
            return false;
        target = names.front();
        QDir::setCurrent(QFileInfo(target).absolutePath());
    }
    QString error;
    if (!OnSaveDocument(target, error)) {
        ShowMessage(parent, error, QMessageBox::Warning);
        return false;
    }
    return true;
}

bool COxbrinDoc::SaveModified(QWidget* parent) {
    if (!IsModified())
        return true;
    const QString name = path_.isEmpty() ? Title() : QDir::toNativeSeparators(path_);
    switch (ShowMessage(parent, QStringLiteral("Save changes to %1?").arg(name), QMessageBox::Warning,
                        QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel)) {
    case QMessageBox::Yes:
        return DoFileSave(parent);
    case QMessageBox::No:
        return true;
    default:
        return false;
    }
}

}  // namespace oxbrin
