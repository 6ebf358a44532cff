#pragma once

// Reading and writing source files without changing a byte the user did not
// edit: the encoding (UTF-8 with or without a byte-order mark, or raw 8-bit
// bytes for anything that is not valid UTF-8), the line ends (LF, CR LF, CR,
// also mixed within one file) and a missing final line end all survive an
// open-and-save.

#include <QByteArray>
#include <QString>
#include <QTextBlockUserData>

#include <vector>

class QTextDocument;

namespace oxbrin {

enum class LineEnd : quint8 { LF, CRLF, CR };

struct TextFileFormat {
    enum class Encoding { Utf8, Utf8Bom, Bytes };
    Encoding encoding = Encoding::Utf8;
    LineEnd lineEnd = LineEnd::LF; // for lines without a remembered end of their own
    bool mixedLineEnds = false;
};

// What a file on disk was when the document last read or wrote it: enough
// to tell later whether another program has changed, replaced or removed it.
struct DiskStamp {
    bool known = false; // false: no file read or written yet
    qint64 size = -1;
    qint64 mtimeNs = 0;
    quint64 device = 0;
    quint64 inode = 0;
    QByteArray hash; // of the bytes read or written
};

struct DecodedText {
    QString text; // lines joined with '\n'
    TextFileFormat format;
    std::vector<LineEnd> lineEnds; // the end of each line but the last, only when mixed
    qsizetype longestLine = 0;     // in characters, without its line end
    DiskStamp stamp;               // filled by whoever read the bytes from a file
};

DecodedText DecodeTextFile(const QByteArray& bytes);

// Per-line end of a file with mixed line ends; lines without one (new lines
// the user typed) get the file's main line end.
class LineEndData : public QTextBlockUserData {
public:
    explicit LineEndData(LineEnd e) : end(e) {}
    LineEnd end;
};

// Puts decoded text into `doc` (replacing its contents and clearing its undo
// history) and attaches the per-line ends of a mixed file.
void LoadIntoDocument(QTextDocument& doc, const DecodedText& decoded);

// Replaces the text of `doc` with decoded text as one edit that Undo takes
// back (a file reloaded after another program changed it).
void ReplaceDocumentText(QTextDocument& doc, const DecodedText& decoded);

// Encodes the document's text for writing. Fails (with a reason) when the
// text holds characters that the file's 8-bit encoding cannot store.
bool EncodeDocument(const QTextDocument& doc, const TextFileFormat& format, QByteArray& out, QString& error);

// The stamp of `bytes` just read from or written to `path`.
DiskStamp StampFile(const QString& path, const QByteArray& bytes);

enum class DiskState {
    Same,    // the file still holds what was read or written
    Changed, // another program wrote something else into it
    Missing, // no file by that name any more (deleted, renamed, a folder now)
};
// Compares the file at `path` with `stamp`. When the file holds the same
// bytes under a new time or inode (rewritten unchanged), `stamp` is brought
// up to date and the answer is Same.
DiskState CompareWithDisk(const QString& path, DiskStamp& stamp);

// Writes `bytes` as the new contents of `path` so that no failure can lose
// what the file held: every write, the flush to the disk and the size are
// checked, and on any failure the file keeps its old contents. A file's
// owner, group, mode and hard links stay as they were: a file with several
// links, or owned by another user, is rewritten in place behind a verified
// safety copy; any other file is replaced by a complete, synced temporary
// file in the same folder. A symbolic link stays a link to the file it names.
bool WriteFileSafely(const QString& path, const QByteArray& bytes, QString& error);

} // namespace oxbrin
