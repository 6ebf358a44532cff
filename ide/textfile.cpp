#include "textfile.h"

#include <QStringDecoder>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <array>

namespace oxbrin {

namespace {

// Characters the text document treats as structure rather than text: a file
// holding them could not be shown and written back unchanged as Unicode.
bool HoldsDocumentControlChars(const QString& text) {
    for (QChar c : text) {
        const char16_t u = c.unicode();
        if (u == 0x2028 || u == 0x2029 || u == 0xfdd0 || u == 0xfdd1 || u == 0xfffc)
            return true;
    }
    return false;
}

QString BytesToText(const QByteArray& bytes) {
    // Every byte becomes the character with the same number, so any file can
    // be shown and written back byte for byte.
    return QString::fromLatin1(bytes);
}

constexpr std::array<const char*, 3> kEndBytes{"\n", "\r\n", "\r"};

}  // namespace

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
        if (c != u'\n' && c != u'\r')
            continue;
        joined.append(QStringView(p + lineStart, i - lineStart));
        joined.append(QLatin1Char('\n'));
        if (c == u'\r' && i + 1 < n && p[i + 1] == u'\n') {
            ends.push_back(LineEnd::CRLF);
            ++i;
        } else {
            ends.push_back(c == u'\r' ? LineEnd::CR : LineEnd::LF);
        }
        lineStart = i + 1;
    }
    joined.append(QStringView(p + lineStart, n - lineStart));

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
    if (result.format.mixedLineEnds)
        result.lineEnds = std::move(ends);
    result.text = std::move(joined);
    return result;
}

void LoadIntoDocument(QTextDocument& doc, const DecodedText& decoded) {
    doc.setPlainText(decoded.text);
    if (!decoded.format.mixedLineEnds)
        return;
    QTextBlock block = doc.begin();
    for (LineEnd e : decoded.lineEnds) {
        if (!block.isValid())
            break;
        block.setUserData(new LineEndData(e));
        block = block.next();
    }
}

bool EncodeDocument(const QTextDocument& doc, const TextFileFormat& format, QByteArray& out, QString& error) {
    out.clear();
    const bool bytesMode = format.encoding == TextFileFormat::Encoding::Bytes;
    if (format.encoding == TextFileFormat::Encoding::Utf8Bom)
        out.append("\xEF\xBB\xBF");
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next()) {
        const QString line = block.text();
        if (bytesMode) {
            for (QChar c : line) {
                if (c.unicode() > 0xff) {
                    error = QStringLiteral(
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
            if (auto* data = dynamic_cast<const LineEndData*>(block.userData()))
                e = data->end;
            out.append(kEndBytes[static_cast<size_t>(e)]);
        }
    }
    return true;
}

}  // namespace oxbrin
