#include "editor/oxbrindoc.h"
#include "editor/textfile.h"
#include "testsupport.h"

#include <QPlainTextDocumentLayout>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

using namespace oxbrin;
using namespace oxbrin::test;

class TestTextFile : public QObject {
    Q_OBJECT
private slots:
    void RoundTrip_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("LF") << QByteArray("a\nb\nc\n");
        QTest::newRow("CR LF") << QByteArray("\tldaa #1\r\n\tnop\r\n");
        QTest::newRow("CR only") << QByteArray("x\ry\r");
        QTest::newRow("mixed") << QByteArray("a\r\nb\nc\rd\r\n\ne");
        QTest::newRow("no final line end") << QByteArray("first\r\nlast");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("only line ends") << QByteArray("\r\n\r\n\n");
        QTest::newRow("CR before CR LF") << QByteArray("a\r\r\nb");
        QTest::newRow("UTF-8") << QByteArray("; gr\xC3\xBC\xC3\x9F"
                                             "e \xE2\x82\xAC\n");
        QTest::newRow("UTF-8 with BOM") << QByteArray("\xEF\xBB\xBF"
                                                      "nop\r\n");
        QTest::newRow("Latin-1") << QByteArray("; Gr\xFC\xDF"
                                               "e\r\n\tnop ; \xB0\r\n");
        QTest::newRow("truncated UTF-8") << QByteArray("abc\xE2\x82");
        QTest::newRow("NUL and controls") << QByteArray("a\0b\x0c\x0b\x1b[1m\x7f\n", 12);
        QTest::newRow("paragraph separator in UTF-8") << QByteArray("a\xE2\x80\xA9"
                                                                    "b\xE2\x80\xA8"
                                                                    "c\n");
        QByteArray all;
        for (int i = 0; i < 256; ++i) all.append(static_cast<char>(i));
        QTest::newRow("every byte") << all;
        QTest::newRow("no-break space") << QByteArray("a\xC2\xA0"
                                                      "b");
    }

    // Whatever the file holds, opening and saving it unchanged writes the
    // same bytes back.
    void RoundTrip() {
        QFETCH(QByteArray, bytes);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("f.asm"));
        QVERIFY(WriteAll(path, bytes));
        COxbrinDoc doc;
        QString error;
        QVERIFY2(doc.OnOpenDocument(path, error), qPrintable(error));
        QVERIFY(!doc.IsModified());
        const QString copy = dir.filePath(QStringLiteral("g.asm"));
        QVERIFY2(doc.OnSaveDocument(copy, error), qPrintable(error));
        QCOMPARE(ReadAll(copy), bytes);
    }

    void Detection() {
        QCOMPARE(DecodeTextFile("a\r\nb").format.lineEnd, LineEnd::CRLF);
        QCOMPARE(DecodeTextFile("a\rb").format.lineEnd, LineEnd::CR);
        QVERIFY(!DecodeTextFile("a\r\nb\r\n").format.mixedLineEnds);
        QVERIFY(DecodeTextFile("a\r\nb\n").format.mixedLineEnds);
        QCOMPARE(DecodeTextFile("a\r\nb\r\n").text, QStringLiteral("a\nb\n"));
        QCOMPARE(DecodeTextFile("\xFF").format.encoding, TextFileFormat::Encoding::Bytes);
        QCOMPARE(DecodeTextFile("\xFF").text, QString(QChar(0xff)));
        QCOMPARE(DecodeTextFile("\xC3\xBC").format.encoding, TextFileFormat::Encoding::Utf8);
        QCOMPARE(DecodeTextFile("\xC3\xBC").text, QString(QChar(0xfc)));
    }

    // Edited lines keep the line ends they had; new lines take the file's
    // first line end.
    void EditKeepsLineEnds() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("m.asm"));
        QVERIFY(WriteAll(path, "one\r\ntwo\nthree\r\n"));
        COxbrinDoc doc;
        QString error;
        QVERIFY(doc.OnOpenDocument(path, error));
        QTextCursor c(doc.TextDocument()->findBlockByNumber(1));
        c.movePosition(QTextCursor::EndOfBlock);
        c.insertText(QStringLiteral("2\nnew"));
        QVERIFY(doc.IsModified());
        QVERIFY(doc.OnSaveDocument(path, error));
        QCOMPARE(ReadAll(path), QByteArray("one\r\ntwo2\nnew\r\nthree\r\n"));
        QVERIFY(!doc.IsModified());
    }

    // A character that an 8-bit file cannot hold is refused with a reason;
    // nothing is written.
    void UnstorableCharacter() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("l.asm"));
        QVERIFY(WriteAll(path, "caf\xE9\n"));
        COxbrinDoc doc;
        QString error;
        QVERIFY(doc.OnOpenDocument(path, error));
        QCOMPARE(doc.Format().encoding, TextFileFormat::Encoding::Bytes);
        QTextCursor(doc.TextDocument()).insertText(QStringLiteral("\u20ac"));
        QVERIFY(!doc.OnSaveDocument(path, error));
        QVERIFY(error.contains(QStringLiteral("8-bit")));
        QCOMPARE(ReadAll(path), QByteArray("caf\xE9\n"));
        QVERIFY(doc.IsModified());
    }

    // A save that cannot be written says why, leaves the document modified
    // and the file on disk as it was.
    void FailingSave() {
        Prompts prompts;
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("sub")));
        const QString path = dir.filePath(QStringLiteral("sub/a.asm"));
        QVERIFY(WriteAll(path, "nop\n"));
        COxbrinDoc doc;
        QString error;
        QVERIFY(doc.OnOpenDocument(path, error));
        QTextCursor(doc.TextDocument()).insertText(QStringLiteral("x"));
        // The folder turns into a plain file: no save can succeed there,
        // whoever runs the test.
        QVERIFY(QFile::remove(path));
        QVERIFY(QDir(dir.path()).rmdir(QStringLiteral("sub")));
        QVERIFY(WriteAll(dir.filePath(QStringLiteral("sub")), "keep"));
        // The file is gone with its folder: Save asks for a name, and the
        // same name cannot be written.
        prompts.fileAnswer = {path};
        QVERIFY(!doc.DoFileSave(nullptr));
        QCOMPARE(prompts.fileRequests.size(), 1);
        QVERIFY(doc.IsModified());
        QCOMPARE(prompts.messages.size(), 1);
        QVERIFY(prompts.messages[0].text.startsWith(QStringLiteral("Cannot save")));
        QCOMPARE(prompts.messages[0].icon, QMessageBox::Warning);
        QCOMPARE(ReadAll(dir.filePath(QStringLiteral("sub"))), QByteArray("keep"));
    }

    // Saving through a symbolic link writes the file it points to and keeps
    // the link; the file's permissions stay as they were.
    void SaveKeepsLinkAndPermissions() {
        QTemporaryDir dir;
        const QString target = dir.filePath(QStringLiteral("real.asm"));
        const QString link = dir.filePath(QStringLiteral("link.asm"));
        QVERIFY(WriteAll(target, "nop\n"));
        QVERIFY(QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                                  QFile::ReadGroup));
        QVERIFY(QFile::link(target, link));
        COxbrinDoc doc;
        QString error;
        QVERIFY(doc.OnOpenDocument(link, error));
        QTextCursor(doc.TextDocument()).insertText(QStringLiteral("x"));
        QVERIFY2(doc.OnSaveDocument(link, error), qPrintable(error));
        QVERIFY(QFileInfo(link).isSymLink());
        QCOMPARE(ReadAll(target), QByteArray("xnop\n"));
        QCOMPARE(QFile::permissions(target) & (QFile::ExeOwner | QFile::ReadGroup | QFile::WriteGroup),
                 QFile::ExeOwner | QFile::ReadGroup);
    }

    void OpenFailure() {
        COxbrinDoc doc;
        QString error;
        QVERIFY(!doc.OnOpenDocument(QStringLiteral("/nonexistent/x.asm"), error));
        QVERIFY(error.contains(QStringLiteral("x.asm")));
        QVERIFY(doc.PathName().isEmpty());
        // A file too large to hold is refused before it is read (the test
        // file is sparse, so it takes no room on the disk).
        QTemporaryDir dir;
        QFile big(dir.filePath(QStringLiteral("big.bin")));
        QVERIFY(big.open(QIODevice::WriteOnly));
        QVERIFY(big.resize(COxbrinDoc::kMaxFileBytes + 1));
        big.close();
        QVERIFY(!doc.OnOpenDocument(big.fileName(), error));
        QVERIFY2(error.contains(QStringLiteral("too large")), qPrintable(error));
        QVERIFY(doc.TextDocument()->isEmpty());
    }
};

QTEST_MAIN(TestTextFile)
#include "tst_textfile.moc"
