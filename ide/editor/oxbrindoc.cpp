#include "oxbrindoc.h"

#include "shell/commands.h"
#include "shell/prompts.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QHash>
#include <QLocale>
#include <QPlainTextDocumentLayout>
#include <QPointer>
#include <QScopedValueRollback>
#include <QSet>
#include <QTextDocument>
#include <QTimer>

namespace oxbrin {

namespace {

int HexDigit(QChar c) {
    const char16_t u = c.unicode();
    if (u >= '0' && u <= '9') return u - '0';
    if (u >= 'A' && u <= 'F') return u - 'A' + 10;
    if (u >= 'a' && u <= 'f') return u - 'a' + 10;
    return -1;
}

// "S<type><count><address, data><checksum>" with the count and checksum
// right.
bool IsSRecord(QStringView line) {
    if (line.size() < 4 || line[0] != QLatin1Char('S') || !line[1].isDigit() || line.size() % 2 != 0)
        return false;
    int sum = 0;
    const qsizetype bytes = (line.size() - 2) / 2;
    int count = -1;
    for (qsizetype i = 0; i < bytes; ++i) {
        const int hi = HexDigit(line[2 + 2 * i]);
        const int lo = HexDigit(line[3 + 2 * i]);
        if (hi < 0 || lo < 0) return false;
        const int byte = hi * 16 + lo;
        if (i == 0) count = byte;
        sum += byte;
    }
    return count == bytes - 1 && (sum & 0xff) == 0xff;
}

// Text whose every non-empty line is an S-record (at least one).
bool HoldsSRecords(const QString& text) {
    bool any = false;
    for (QStringView line : QStringView(text).split(QLatin1Char('\n'))) {
        line = line.trimmed();
        if (line.isEmpty()) continue;
        if (!IsSRecord(line)) return false;
        any = true;
    }
    return any;
}

} // namespace

// One watcher for every document: each watcher holds a notification
// handle of the system, and a user gets only a few of them.
class CFileWatch : public QObject {
public:
    static CFileWatch& Instance() {
        static QPointer<CFileWatch> instance;
        if (!instance) instance = new CFileWatch(QCoreApplication::instance());
        return *instance;
    }

    // `doc` is told about changes to `paths` (its file and its folder)
    // from now on, and no longer about the ones it had.
    void Watch(COxbrinDoc* doc, const QStringList& paths) {
        if (paths.isEmpty())
            paths_.remove(doc);
        else
            paths_[doc] = paths;
        // The system drops the watch of a file that is removed or replaced:
        // what is wanted is compared with what is watched every time.
        QSet<QString> wanted;
        for (const QStringList& list : std::as_const(paths_)) {
            for (const QString& p : list) wanted.insert(p);
        }
        const QStringList have = watcher_.files() + watcher_.directories();
        for (const QString& p : have) {
            if (!wanted.contains(p)) watcher_.removePath(p);
        }
        for (const QString& p : std::as_const(wanted)) {
            if (!have.contains(p)) watcher_.addPath(p);
        }
    }
    void Forget(COxbrinDoc* doc) { Watch(doc, {}); }

private:
    explicit CFileWatch(QObject* parent) : QObject(parent) {
        connect(&watcher_, &QFileSystemWatcher::fileChanged, this, &CFileWatch::Changed);
        connect(&watcher_, &QFileSystemWatcher::directoryChanged, this, &CFileWatch::Changed);
    }
    void Changed(const QString& path) {
        for (auto it = paths_.cbegin(); it != paths_.cend(); ++it) {
            if (it.value().contains(path)) it.key()->checkTimer_->start();
        }
    }

    QFileSystemWatcher watcher_;
    QHash<COxbrinDoc*, QStringList> paths_;
};

COxbrinDoc::COxbrinDoc(QObject* parent)
    : QObject(parent), text_(new QTextDocument(this)), checkTimer_(new QTimer(this)) {
    text_->setDocumentLayout(new QPlainTextDocumentLayout(text_));
    text_->setUndoRedoEnabled(true);
    connect(text_, &QTextDocument::modificationChanged, this, &COxbrinDoc::TitleChanged);
    // A change on disk comes as a burst of notices (a write, a rename, the
    // folder); the file is looked at once the burst is over.
    checkTimer_->setSingleShot(true);
    checkTimer_->setInterval(150);
    connect(checkTimer_, &QTimer::timeout, this, &COxbrinDoc::CheckFileOnDisk);
}

COxbrinDoc::~COxbrinDoc() { CFileWatch::Instance().Forget(this); }

QString COxbrinDoc::Title() const {
    if (path_.isEmpty()) return QStringLiteral("Untitled%1").arg(untitled_);
    return QFileInfo(path_).fileName();
}

QString COxbrinDoc::ShownName() const { return path_.isEmpty() ? Title() : QDir::toNativeSeparators(path_); }

bool COxbrinDoc::IsModified() const { return text_->isModified(); }

void COxbrinDoc::SetModified(bool modified) { text_->setModified(modified); }

QString COxbrinDoc::Note() const {
    QStringList parts;
    if (readOnly_)
        parts << QStringLiteral(
                     "This file has a line longer than %1 characters: it is open read-only so that "
                     "the editor stays responsive, and long lines are shown cut into pieces (line "
                     "numbers, Go To and Copy count the file's own lines). Save As still writes a copy.")
                     .arg(QLocale::c().toString(qlonglong(kLongLineChars)));
    if (!diskNote_.isEmpty()) parts << diskNote_;
    return parts.join(QLatin1Char('\n'));
}

void COxbrinDoc::SetDiskNote(const QString& note) {
    if (diskNote_ == note) return;
    diskNote_ = note;
    emit NoteChanged();
}

void COxbrinDoc::SetReadOnly(bool readOnly) {
    if (readOnly_ == readOnly) return;
    readOnly_ = readOnly;
    emit ReadOnlyChanged(readOnly_);
    emit NoteChanged();
}

void COxbrinDoc::ForgetOutsideChanges() {
    fileGone_ = false;
    changeNoted_ = false;
    markedForLoss_ = false;
    SetDiskNote(QString());
}

bool COxbrinDoc::ModifiedOnlyByLoss() const { return markedForLoss_ && text_->revision() == lossRevision_; }

void COxbrinDoc::WatchFile() {
    QStringList paths;
    if (!path_.isEmpty()) {
        // The folder as well: a file replaced by a rename, or put back
        // after it was removed, is seen there.
        const QFileInfo info(path_);
        if (info.isFile()) paths << path_;
        if (QFileInfo(info.absolutePath()).isDir()) paths << info.absolutePath();
    }
    CFileWatch::Instance().Watch(this, paths);
}

bool COxbrinDoc::OnOpenDocument(const QString& path, QString& error) {
    DecodedText decoded;
    if (!ReadDocumentFile(path, decoded, error)) return false;
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
    decoded.stamp = StampFile(path, bytes);
    return true;
}

void COxbrinDoc::SetContents(const QString& path, const DecodedText& decoded) {
    // The views leave a text with very long lines before it arrives: laid
    // out once by a view, such a line alone costs seconds.
    const bool longLines = decoded.longestLine > kLongLineChars;
    if (longLines) SetReadOnly(true);
    LoadIntoDocument(*text_, decoded);
    format_ = decoded.format;
    path_ = QFileInfo(path).absoluteFilePath();
    stamp_ = decoded.stamp;
    ForgetOutsideChanges();
    SetReadOnly(longLines);
    text_->setModified(false);
    WatchFile();
    emit TitleChanged();
}

bool COxbrinDoc::OnSaveDocument(const QString& path, QString& error) {
    QByteArray bytes;
    if (!EncodeDocument(*text_, format_, bytes, error)) return false;
    if (!WriteFileSafely(path, bytes, error)) return false;
    path_ = QFileInfo(path).absoluteFilePath();
    stamp_ = StampFile(path_, bytes);
    ForgetOutsideChanges();
    text_->setModified(false);
    WatchFile();
    emit TitleChanged();
    emit Saved(path_);
    return true;
}

bool COxbrinDoc::DoFileSave(QWidget* parent) {
    if (!path_.isEmpty() && stamp_.known) {
        switch (CompareWithDisk(path_, stamp_)) {
        case DiskState::Missing:
            // Said on the status bar and above the text; the name to save
            // under is the user's to give.
            CheckFileOnDisk();
            return DoSave(parent);
        case DiskState::Changed:
            if (IsModified() && !ModifiedOnlyByLoss()) {
                const QString question =
                    QStringLiteral(
                        "%1\nhas been changed by another program since it was opened or saved here.\n\n"
                        "Reload it (your changes here are lost), overwrite it with the text here, "
                        "or cancel?")
                        .arg(ShownName());
                const auto answer =
                    ShowMessage(parent, question, QMessageBox::Warning,
                                QMessageBox::Discard | QMessageBox::Save | QMessageBox::Cancel, QString(),
                                {{QMessageBox::Discard, QStringLiteral("&Reload (lose your changes)")},
                                 {QMessageBox::Save, QStringLiteral("&Overwrite")}});
                if (answer == QMessageBox::Save) break;
                if (answer != QMessageBox::Discard) return false;
            }
            {
                // The file is newer than the text: the text becomes the
                // file, and nothing is left to write.
                QString error;
                if (!ReloadFromDisk(error)) {
                    ShowMessage(parent, error, QMessageBox::Warning);
                    return false;
                }
                emit StatusNote(
                    QStringLiteral("%1 was changed by another program and has been reloaded; Undo "
                                   "brings back the text before.")
                        .arg(Title()));
            }
            return true;
        case DiskState::Same:
            if (!IsModified()) return true; // the file holds this text already
            break;
        }
    }
    const QFileInfo info(path_);
    if (path_.isEmpty() || (info.exists() && !info.isWritable())) return DoSave(parent);
    return DoSave(parent, path_, false);
}

bool COxbrinDoc::DoSave(QWidget* parent, const QString& path, bool askName) {
    QString target = path;
    if (askName || target.isEmpty()) {
        FileRequest req{true, QStringLiteral("Save As"), path_.isEmpty() ? Title() : path_,
                        QtFileFilter(strings::kFileFilter), QStringLiteral("asm")};
        const QStringList names = AskFileNames(parent, req);
        if (names.isEmpty()) return false;
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
    if (!IsModified()) return true;
    const QString name = path_.isEmpty() ? Title() : QDir::toNativeSeparators(path_);
    switch (ShowMessage(parent, QStringLiteral("Save changes to %1?").arg(name), QMessageBox::Warning,
                        QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel)) {
    case QMessageBox::Yes: return DoFileSave(parent);
    case QMessageBox::No: return true;
    default: return false;
    }
}

void COxbrinDoc::CheckFileOnDisk() {
    // A reload or a question can run the event loop, and the watcher with
    // it: one look at a time.
    if (path_.isEmpty() || !stamp_.known || checking_) return;
    const QScopedValueRollback<bool> busy(checking_, true);
    const DiskState state = CompareWithDisk(path_, stamp_);
    WatchFile();
    switch (state) {
    case DiskState::Same:
        if (fileGone_ || changeNoted_) {
            // Back as it was (put back, or changed back).
            const bool restore = ModifiedOnlyByLoss();
            ForgetOutsideChanges();
            if (restore) text_->setModified(false);
            emit StatusNote(QStringLiteral("%1 is back on disk as it was.").arg(Title()));
        }
        return;
    case DiskState::Missing:
        if (fileGone_) return;
        fileGone_ = true;
        changeNoted_ = false;
        // The text is now the only copy: closing must ask before it goes.
        if (!IsModified()) {
            markedForLoss_ = true;
            lossRevision_ = text_->revision();
            text_->setModified(true);
        }
        SetDiskNote(
            QStringLiteral("%1 was deleted or renamed by another program. The text is kept here; Save asks "
                           "for a name to save it under.")
                .arg(ShownName()));
        emit StatusNote(
            QStringLiteral("%1 was deleted or renamed by another program; the text is kept.").arg(Title()));
        return;
    case DiskState::Changed: break;
    }
    if (!IsModified() || ModifiedOnlyByLoss()) {
        QString error;
        if (ReloadFromDisk(error)) {
            emit StatusNote(
                QStringLiteral("%1 was changed by another program and has been reloaded; Undo brings back "
                               "the text before.")
                    .arg(Title()));
            return;
        }
        // Unreadable now: the text here may be the only good copy.
        text_->setModified(true);
        SetDiskNote(QStringLiteral("%1 was changed by another program and cannot be read again: %2")
                        .arg(ShownName(), error.section(QLatin1Char('\n'), 1)));
        emit StatusNote(diskNote_);
        return;
    }
    if (changeNoted_) return;
    changeNoted_ = true;
    fileGone_ = false;
    SetDiskNote(
        QStringLiteral("%1 was changed by another program. Your changes are kept here; saving asks whether "
                       "to reload the file or overwrite it.")
            .arg(ShownName()));
    emit StatusNote(QStringLiteral("%1 was changed by another program; your changes are kept.").arg(Title()));
}

bool COxbrinDoc::ReloadFromDisk(QString& error) {
    DecodedText decoded;
    if (path_.isEmpty() || !ReadDocumentFile(path_, decoded, error)) return false;
    emit AboutToReload();
    const bool longLines = decoded.longestLine > kLongLineChars;
    if (longLines) SetReadOnly(true);
    const auto load = [&] { ReplaceDocumentText(*text_, decoded); };
    if (loader_)
        loader_(load, decoded.text.count(QLatin1Char('\n')) + 1);
    else
        load();
    format_ = decoded.format;
    stamp_ = decoded.stamp;
    ForgetOutsideChanges();
    SetReadOnly(longLines);
    text_->setModified(false);
    WatchFile();
    emit Reloaded();
    emit TitleChanged();
    return true;
}

QString COxbrinDoc::WhyNotASource(const QString& path, const QString& text) {
    // The assembler names its object file and its listing after the source
    // with the extension replaced: for these two the output is the source.
    const QString suffix = QFileInfo(path).suffix();
    if (suffix.compare(QLatin1String("s19"), Qt::CaseInsensitive) == 0)
        return QStringLiteral(
            "It is an S-record file (assembler output), not a source: building it would replace it "
            "with a new object file.");
    if (suffix.compare(QLatin1String("lst"), Qt::CaseInsensitive) == 0)
        return QStringLiteral(
            "It is a listing (assembler output), not a source: building it would replace it with a "
            "new listing.");
    if (HoldsSRecords(text)) return QStringLiteral("It holds S-records (assembler output), not a source.");
    return {};
}

QString COxbrinDoc::WhyNotASource() const { return WhyNotASource(path_, text_->toPlainText()); }

} // namespace oxbrin
