#include "textfile.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QStringDecoder>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <array>

#ifdef Q_OS_WIN
#include <QSaveFile>
#else
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace oxbrin {

namespace {

// Characters the text document treats as structure rather than text: a file
// holding them could not be shown and written back unchanged as Unicode.
bool HoldsDocumentControlChars(const QString& text) {
    for (QChar c : text) {
        const char16_t u = c.unicode();
        if (u == 0x2028 || u == 0x2029 || u == 0xfdd0 || u == 0xfdd1 || u == 0xfffc) return true;
    }
    return false;
}

QString BytesToText(const QByteArray& bytes) {
    // Every byte becomes the character with the same number, so any file can
    // be shown and written back byte for byte.
    return QString::fromLatin1(bytes);
}

constexpr std::array<const char*, 3> kEndBytes{"\n", "\r\n", "\r"};

} // namespace

DecodedText DecodeTextFile(const QByteArray& bytes) {
    DecodedText result;
    QString text;
    const bool bom = bytes.startsWith("\xEF\xBB\xBF");
    {
        QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        QByteArrayView body = bom ? QByteArrayView(bytes).sliced(3) : QByteArrayView(bytes);
        text = decoder.decode(body);
        if (decoder.hasError() || HoldsDocumentControlChars(text)) {
            text = BytesToText(bytes);
            result.format.encoding = TextFileFormat::Encoding::Bytes;
        } else {
            result.format.encoding = bom ? TextFileFormat::Encoding::Utf8Bom : TextFileFormat::Encoding::Utf8;
        }
    }

    // Split into lines, noting each line's end. CR LF counts as one end.
    std::vector<LineEnd> ends;
    QString joined;
    joined.reserve(text.size());
    const QChar* p = text.constData();
    const qsizetype n = text.size();
    qsizetype lineStart = 0;
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = p[i].unicode();
        if (c != u'\n' && c != u'\r') continue;
        joined.append(QStringView(p + lineStart, i - lineStart));
        joined.append(QLatin1Char('\n'));
        result.longestLine = qMax(result.longestLine, i - lineStart);
        if (c == u'\r' && i + 1 < n && p[i + 1] == u'\n') {
            ends.push_back(LineEnd::CRLF);
            ++i;
        } else {
            ends.push_back(c == u'\r' ? LineEnd::CR : LineEnd::LF);
        }
        lineStart = i + 1;
    }
    joined.append(QStringView(p + lineStart, n - lineStart));
    result.longestLine = qMax(result.longestLine, n - lineStart);

    if (!ends.empty()) {
        result.format.lineEnd = ends.front();
        for (LineEnd e : ends) {
            if (e != ends.front()) {
                result.format.mixedLineEnds = true;
                break;
            }
        }
    }
#ifdef Q_OS_WIN
    else {
        result.format.lineEnd = LineEnd::CRLF;
    }
#endif
    if (result.format.mixedLineEnds) result.lineEnds = std::move(ends);
    result.text = std::move(joined);
    return result;
}

namespace {

void AttachLineEnds(QTextDocument& doc, const DecodedText& decoded) {
    if (!decoded.format.mixedLineEnds) return;
    QTextBlock block = doc.begin();
    for (LineEnd e : decoded.lineEnds) {
        if (!block.isValid()) break;
        block.setUserData(new LineEndData(e));
        block = block.next();
    }
}

} // namespace

void LoadIntoDocument(QTextDocument& doc, const DecodedText& decoded) {
    doc.setPlainText(decoded.text);
    AttachLineEnds(doc, decoded);
}

void ReplaceDocumentText(QTextDocument& doc, const DecodedText& decoded) {
    QTextCursor cursor(&doc);
    cursor.beginEditBlock();
    cursor.select(QTextCursor::Document);
    cursor.insertText(decoded.text);
    cursor.endEditBlock();
    // The first block outlives the replacement with the line end it had in
    // the old text; the new file's ends are the only ones that count.
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next()) {
        if (block.userData()) block.setUserData(nullptr);
    }
    AttachLineEnds(doc, decoded);
}

bool EncodeDocument(const QTextDocument& doc, const TextFileFormat& format, QByteArray& out, QString& error) {
    out.clear();
    const bool bytesMode = format.encoding == TextFileFormat::Encoding::Bytes;
    if (format.encoding == TextFileFormat::Encoding::Utf8Bom) out.append("\xEF\xBB\xBF");
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next()) {
        const QString line = block.text();
        if (bytesMode) {
            for (QChar c : line) {
                if (c.unicode() > 0xff) {
                    error =
                        QStringLiteral(
                            "The document holds characters (such as \"%1\") that cannot be stored in this "
                            "file's 8-bit encoding. Remove them, or copy the text into a new document.")
                            .arg(QString(c));
                    out.clear();
                    return false;
                }
            }
            out.append(line.toLatin1());
        } else {
            out.append(line.toUtf8());
        }
        if (block.next().isValid()) {
            LineEnd e = format.lineEnd;
            if (auto* data = dynamic_cast<const LineEndData*>(block.userData())) e = data->end;
            out.append(kEndBytes[static_cast<size_t>(e)]);
        }
    }
    return true;
}

// ---------------------------------------------------------------------------
// The file on disk

namespace {

// Above this size a file whose size, time and inode are unchanged is taken
// as unchanged without reading it again.
constexpr qint64 kHashAlwaysBelow = 16LL * 1024 * 1024;

QByteArray HashOf(const QByteArray& bytes) {
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256);
}

// Size, time and identity of a regular file; false when there is none.
bool StatFile(const QString& path, DiskStamp& stamp) {
#ifdef Q_OS_WIN
    const QFileInfo info(path);
    if (!info.isFile()) return false;
    stamp.size = info.size();
    stamp.mtimeNs = info.lastModified().toMSecsSinceEpoch() * 1000000;
    stamp.device = 0;
    stamp.inode = 0;
    return true;
#else
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    stamp.size = st.st_size;
    stamp.mtimeNs = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    stamp.device = st.st_dev;
    stamp.inode = st.st_ino;
    return true;
#endif
}

} // namespace

DiskStamp StampFile(const QString& path, const QByteArray& bytes) {
    DiskStamp stamp;
    stamp.known = true;
    stamp.hash = HashOf(bytes);
    if (!StatFile(path, stamp)) stamp.size = bytes.size();
    return stamp;
}

DiskState CompareWithDisk(const QString& path, DiskStamp& stamp) {
    DiskStamp now = stamp;
    if (!StatFile(path, now)) return DiskState::Missing;
    const bool statSame = now.size == stamp.size && now.mtimeNs == stamp.mtimeNs &&
                          now.device == stamp.device && now.inode == stamp.inode;
    if (statSame && now.size >= kHashAlwaysBelow) return DiskState::Same;
    // Size and time alone miss a change within the time's resolution and
    // one written by a tool that puts the old time back: the bytes decide.
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!file.open(QIODevice::ReadOnly) || !hash.addData(&file) || file.error() != QFileDevice::NoError)
        return statSame ? DiskState::Same : DiskState::Changed;
    if (hash.result() != stamp.hash) return DiskState::Changed;
    stamp = now;
    return DiskState::Same;
}

#ifdef Q_OS_WIN

bool WriteFileSafely(const QString& path, const QByteArray& bytes, QString& error) {
    const QString shown = QDir::toNativeSeparators(path);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.flush() ||
        file.error() != QFileDevice::NoError || file.size() != bytes.size() || !file.commit()) {
        error = QStringLiteral("Cannot save %1.\n%2\nThe file on disk is unchanged.")
                    .arg(shown, file.errorString());
        file.cancelWriting();
        return false;
    }
    if (QFileInfo(path).size() != bytes.size()) {
        error =
            QStringLiteral("Cannot save %1.\nThe file on disk does not have the size written.").arg(shown);
        return false;
    }
    return true;
}

#else

namespace {

QString SystemText(int err) { return QString::fromLocal8Bit(std::strerror(err)); }

// One outcome of a write: what went wrong, and whether the file on disk
// still holds its old contents.
struct WriteFailure {
    QString reason;
    bool untouched = true;
    bool retryInPlace = false; // the folder refuses a new file; the file itself may still be written
};

class FileHandle {
public:
    explicit FileHandle(int fd = -1) : fd_(fd) {}
    ~FileHandle() { Close(); }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    int Get() const { return fd_; }
    // Closes and reports the error close gives (network file systems report
    // failed writes only there).
    bool Close(int* err = nullptr) {
        if (fd_ < 0) return true;
        const int rc = ::close(fd_);
        fd_ = -1;
        if (rc != 0 && err) *err = errno;
        return rc == 0;
    }

private:
    int fd_;
};

// Moves `size` bytes between `data` and the file at `offset` in pieces of at
// most 1 MB, through pread or pwrite, until all are done; a piece of no
// bytes fails with `stalled`.
template <typename Byte, typename Transfer>
bool TransferAt(Transfer transfer, int fd, Byte* data, qint64 size, qint64 offset, int stalled, int& err) {
    while (size > 0) {
        const ssize_t n = transfer(fd, data, size_t(qMin<qint64>(size, 1 << 20)), offset);
        if (n < 0) {
            if (errno == EINTR) continue;
            err = errno;
            return false;
        }
        if (n == 0) {
            err = stalled;
            return false;
        }
        data += n;
        size -= n;
        offset += n;
    }
    return true;
}

bool WriteAt(int fd, const char* data, qint64 size, qint64 offset, int& err) {
    return TransferAt(::pwrite, fd, data, size, offset, ENOSPC, err);
}

bool ReadAt(int fd, char* data, qint64 size, qint64 offset, int& err) {
    // No bytes where the file should have more: it was changed under us.
    return TransferAt(::pread, fd, data, size, offset, EIO, err);
}

bool Sync(int fd, int& err) {
    if (::fsync(fd) == 0) return true;
    err = errno;
    return false;
}

void SyncFolder(const QByteArray& dir) {
    // The rename is only on the disk once the folder is; a file system that
    // cannot sync a folder has nothing to lose here.
    const int fd = ::open(dir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

void SplitPath(const QByteArray& path, QByteArray& dir, QByteArray& base) {
    const qsizetype slash = path.lastIndexOf('/');
    dir = slash < 0 ? QByteArray(".") : slash == 0 ? QByteArray("/") : path.left(slash);
    base = slash < 0 ? path : path.mid(slash + 1);
}

// A new file in `dir` under a name no one uses, hidden and naming the file
// it belongs to, so a copy left behind by a crash is recognised.
int CreateSibling(const QByteArray& dir, const QByteArray& base, const char* tag, mode_t mode,
                  QByteArray& name, int& err) {
    const QByteArray stem = base.left(180);
    for (int attempt = 0; attempt < 64; ++attempt) {
        name = dir + (dir.endsWith('/') ? "." : "/.") + stem + '.' + tag + '-' +
               QByteArray::number(QRandomGenerator::global()->generate(), 36);
        const int fd = ::open(name.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0) return fd;
        if (errno != EEXIST) {
            err = errno;
            return -1;
        }
    }
    err = EEXIST;
    return -1;
}

// A complete copy of the new contents beside the file, synced, then renamed
// over it: the file is either all old or all new.
bool ReplaceThroughTemporary(const QByteArray& target, const QByteArray& bytes, const struct stat* old,
                             WriteFailure& fail) {
    QByteArray dir, base, temp;
    SplitPath(target, dir, base);
    int err = 0;
    // A new file gets the usual permissions less the umask; an existing
    // file's mode is set on the copy below.
    FileHandle fd(CreateSibling(dir, base, "oxbrin-save", old ? 0600 : 0666, temp, err));
    if (fd.Get() < 0) {
        fail.reason = QStringLiteral("No new file can be made in its folder: %1").arg(SystemText(err));
        fail.retryInPlace = old && (err == EACCES || err == EPERM);
        return false;
    }
    auto abandon = [&](const QString& reason) {
        fd.Close();
        ::unlink(temp.constData());
        fail.reason = reason;
        return false;
    };
    if (old) {
        struct stat mine;
        if (::fstat(fd.Get(), &mine) != 0) return abandon(SystemText(errno));
        // The copy must belong to the file's group, or the group would
        // change with the rename: a group this user cannot give a file is
        // kept by writing in place instead.
        if (mine.st_gid != old->st_gid && ::fchown(fd.Get(), uid_t(-1), old->st_gid) != 0) {
            fail.retryInPlace = true;
            return abandon(SystemText(errno));
        }
        if (::fchmod(fd.Get(), old->st_mode & 07777) != 0) return abandon(SystemText(errno));
    }
    struct stat written;
    if (!WriteAt(fd.Get(), bytes.constData(), bytes.size(), 0, err) || !Sync(fd.Get(), err))
        return abandon(SystemText(err));
    if (::fstat(fd.Get(), &written) != 0 || written.st_size != bytes.size())
        return abandon(QStringLiteral("The new copy does not have the size written."));
    if (!fd.Close(&err)) return abandon(SystemText(err));
    if (::rename(temp.constData(), target.constData()) != 0) return abandon(SystemText(errno));
    SyncFolder(dir);
    return true;
}

// Writes the file's own blocks, so its inode, owner, group, mode and every
// hard link stay. A verified copy of the old contents is made first (beside
// the file, else in the temporary folder); growth is written first, past
// the old end, so a full disk is found before any old byte is overwritten.
bool RewriteInPlace(const QByteArray& target, const QByteArray& bytes, WriteFailure& fail) {
    int err = 0;
    FileHandle fd(::open(target.constData(), O_RDWR | O_CLOEXEC));
    struct stat st;
    if (fd.Get() < 0 || ::fstat(fd.Get(), &st) != 0) {
        fail.reason = SystemText(errno);
        return false;
    }
    const qint64 oldSize = st.st_size;
    const qint64 newSize = bytes.size();
    QByteArray original(oldSize, Qt::Uninitialized);
    if (!ReadAt(fd.Get(), original.data(), oldSize, 0, err)) {
        fail.reason =
            QStringLiteral("Its old contents cannot be read for a safety copy: %1").arg(SystemText(err));
        return false;
    }

    QByteArray dir, base, backup;
    SplitPath(target, dir, base);
    FileHandle copy;
    for (const QByteArray& where : {dir, QFile::encodeName(QDir::tempPath())}) {
        backup.clear();
        FileHandle attempt(CreateSibling(where, base, "oxbrin-backup", 0600, backup, err));
        if (attempt.Get() < 0) continue;
        QByteArray check(oldSize, Qt::Uninitialized);
        if (WriteAt(attempt.Get(), original.constData(), oldSize, 0, err) && Sync(attempt.Get(), err) &&
            ReadAt(attempt.Get(), check.data(), oldSize, 0, err) && check == original &&
            attempt.Close(&err)) {
            break;
        }
        if (err == 0) err = EIO;
        attempt.Close();
        ::unlink(backup.constData());
        backup.clear();
    }
    if (backup.isEmpty()) {
        fail.reason =
            QStringLiteral("There is no room for a safety copy of its old contents: %1").arg(SystemText(err));
        return false;
    }
    auto dropBackup = [&] { ::unlink(backup.constData()); };

    auto overwrite = [&]() -> bool {
        if (!WriteAt(fd.Get(), bytes.constData(), qMin(oldSize, newSize), 0, err)) return false;
        if (newSize < oldSize && ::ftruncate(fd.Get(), newSize) != 0) {
            err = errno;
            return false;
        }
        if (!Sync(fd.Get(), err)) return false;
        struct stat now;
        if (::fstat(fd.Get(), &now) != 0) {
            err = errno;
            return false;
        }
        if (now.st_size != newSize) {
            err = EIO;
            return false;
        }
        return true;
    };
    if (newSize > oldSize &&
        !WriteAt(fd.Get(), bytes.constData() + oldSize, newSize - oldSize, oldSize, err)) {
        // Nothing old was overwritten yet: cut the file back to its old end.
        int ignored = 0;
        if (::ftruncate(fd.Get(), oldSize) == 0 && Sync(fd.Get(), ignored)) {
            dropBackup();
            fail.reason = SystemText(err);
            return false;
        }
    } else if (overwrite()) {
        // Synced: what close could still report is already on the disk.
        fd.Close();
        dropBackup();
        return true;
    }
    // Something failed after old bytes were overwritten: put them back.
    const QString reason = SystemText(err);
    int restoreErr = 0;
    if (fd.Get() >= 0 && WriteAt(fd.Get(), original.constData(), oldSize, 0, restoreErr) &&
        ::ftruncate(fd.Get(), oldSize) == 0 && Sync(fd.Get(), restoreErr)) {
        dropBackup();
        fail.reason = reason;
        return false;
    }
    fail.untouched = false;
    fail.reason =
        QStringLiteral("%1\nThe file could not be put back as it was; its old contents are kept in %2.")
            .arg(reason, QDir::toNativeSeparators(QFile::decodeName(backup)));
    return false;
}

} // namespace

bool WriteFileSafely(const QString& path, const QByteArray& bytes, QString& error) {
    const QString shown = QDir::toNativeSeparators(path);
    // Through a symbolic link the file it names is written; the link stays.
    QString target = path;
    const QFileInfo info(path);
    if (info.isSymLink()) target = info.exists() ? info.canonicalFilePath() : info.symLinkTarget();
    const QByteArray native = QFile::encodeName(target);

    struct stat st;
    const bool exists = ::stat(native.constData(), &st) == 0;
    if (exists && !S_ISREG(st.st_mode)) {
        error = QStringLiteral("Cannot save %1.\nIt is not a regular file.").arg(shown);
        return false;
    }
    WriteFailure fail;
    bool ok = false;
    const bool inPlace = exists && (st.st_nlink > 1 || st.st_uid != ::geteuid());
    if (!inPlace) ok = ReplaceThroughTemporary(native, bytes, exists ? &st : nullptr, fail);
    if (inPlace || (!ok && fail.retryInPlace)) {
        fail = WriteFailure();
        ok = RewriteInPlace(native, bytes, fail);
    }
    if (ok) {
        struct stat now;
        if (::stat(native.constData(), &now) != 0 || now.st_size != bytes.size()) {
            error = QStringLiteral("Cannot save %1.\nThe file on disk does not have the size written.")
                        .arg(shown);
            return false;
        }
        return true;
    }
    error = QStringLiteral("Cannot save %1.\n%2\n%3")
                .arg(shown, fail.reason,
                     fail.untouched ? QStringLiteral("The file on disk is unchanged.") : QString())
                .trimmed();
    return false;
}

#endif

} // namespace oxbrin
