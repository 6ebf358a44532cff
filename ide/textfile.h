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
    LineEnd lineEnd = LineEnd::LF;  // for lines without a remembered end of their own
    bool mixedLineEnds = false;
};

struct DecodedText {
    QString text;                  // lines joined with '\n'
    TextFileFormat format;
    std::vector<LineEnd> lineEnds;  // the end of each line but the last, only when mixed
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

// Encodes the document's text for writing. Fails (with a reason) when the
// text holds characters that the file's 8-bit encoding cannot store.
bool EncodeDocument(const QTextDocument& doc, const TextFileFormat& format, QByteArray& out, QString& error);

}  // namespace oxbrin
