// The user's files are safe: a save that fails leaves the file as it was
// and the document modified; owner, group, mode and hard links survive a
// save; a file changed, deleted or renamed by another program is noticed
// before anything is written over it; a file with very long lines opens
// read-only; the assembler's own output files are never built.

#include "build/buildrunner.h"
#include "shell/commands.h"
#include "testsupport.h"

#include <QClipboard>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QStatusBar>
#include <QTextBlock>
#include <QTextCursor>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

using namespace oxbrin;
using namespace oxbrin::test;

namespace {

// A text of exactly `size` bytes in lines of 40, each line telling its
// number and `tag`, so two texts of one size still differ.
QByteArray Lines(qint64 size, char tag) {
    QByteArray out;
    for (int n = 0; out.size() < size; ++n) {
        QByteArray line = QByteArray("\tdc.b ") + tag + ' ' + QByteArray::number(n);
        line = line.leftJustified(39, ' ') + '\n';
        out += line;
    }
    out.truncate(size);
    if (!out.isEmpty()) out.back() = '\n';
    return out;
}

struct stat StatOf(const QString& path) {
    struct stat st {};
    ::stat(QFile::encodeName(path).constData(), &st);
    return st;
}

// A file system of its own, 64 KB of tmpfs, that a test can fill up.
class SmallDisk {
public:
    SmallDisk() {
        if (::geteuid() != 0) {
            why_ = "mounting a small file system needs root";
            return;
        }
        if (!dir_.isValid()) {
            why_ = "no temporary folder";
            return;
        }
        if (::mount("tmpfs", Native(dir_.path()).constData(), "tmpfs", 0, "size=64k,mode=0755") != 0) {
            why_ = QByteArray("cannot mount a tmpfs here: ") + std::strerror(errno);
            return;
        }
        mounted_ = true;
    }
    ~SmallDisk() {
        if (mounted_) ::umount2(Native(dir_.path()).constData(), MNT_DETACH);
    }
    bool Ok() const { return mounted_; }
    const char* Why() const { return why_.constData(); }
    QString Path(const QString& name) const { return dir_.filePath(name); }

    // Fills the disk with one file, then gives back `leave` bytes of it.
    bool Fill(qint64 leave) {
        const int fd =
            ::open(Native(Path(QStringLiteral("filler"))).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (fd < 0) return false;
        const QByteArray block(4096, 'f');
        qint64 size = 0;
        for (;;) {
            const ssize_t n = ::write(fd, block.constData(), size_t(block.size()));
            if (n <= 0) break;
            size += n;
        }
        const bool ok = ::ftruncate(fd, qMax<qint64>(0, size - leave)) == 0;
        ::close(fd);
        return ok;
    }
    void Unfill() { QFile::remove(Path(QStringLiteral("filler"))); }

    // Names in the folder but the filler: a failed save leaves no copies.
    QStringList Names() const {
        QStringList names = QDir(dir_.path()).entryList(QDir::Files | QDir::Hidden | QDir::System);
        names.removeAll(QStringLiteral("filler"));
        return names;
    }

private:
    static QByteArray Native(const QString& p) { return QFile::encodeName(p); }
    QTemporaryDir dir_;
    bool mounted_ = false;
    QByteArray why_;
};

} // namespace

class TestDocSafety : public QObject, AppFixture {
    Q_OBJECT

    CChildFrame* Child() { return Frame()->ActiveChild(); }
    COxbrinDoc* Doc() { return Child()->Document(); }

    static void SetText(COxbrinDoc* doc, const QByteArray& text) {
        QTextCursor c(doc->TextDocument());
        c.select(QTextCursor::Document);
        c.insertText(QString::fromLatin1(text));
    }

    static QByteArray TextOf(COxbrinDoc* doc) {
        QByteArray bytes;
        QString error;
        EncodeDocument(*doc->TextDocument(), doc->Format(), bytes, error);
        return bytes;
    }

    // The last question asked, and how many were asked.
    const MessageRequest* LastMessage() const {
        return prompts_->messages.isEmpty() ? nullptr : &prompts_->messages.back();
    }

private slots:
    void init() { Prepare(); }
    void cleanup() { Finish(); }

    // ---------------------------------------------------------------------
    // Saves that cannot lose data

    void FullDiskKeepsTheFile_data() {
        QTest::addColumn<int>("links");
        QTest::addColumn<qint64>("oldSize");
        QTest::addColumn<qint64>("newSize");
        QTest::addColumn<qint64>("leave");
        QTest::addColumn<QString>("reason");
        const QString full = QString::fromLocal8Bit(std::strerror(ENOSPC));
        QTest::newRow("full") << 1 << qint64(1153) << qint64(10020) << qint64(0) << full;
        QTest::newRow("nearly full") << 1 << qint64(10020) << qint64(14000) << qint64(8192) << full;
        // Several links: written in place, growth first; the safety copy
        // takes two of the three free pages.
        QTest::newRow("hard-linked, nearly full")
            << 2 << qint64(5000) << qint64(20000) << qint64(12288) << full;
        // No room beside the file: the safety copy goes to the temporary
        // folder, and the growth still finds the disk full.
        QTest::newRow("hard-linked, full") << 2 << qint64(1153) << qint64(20000) << qint64(0) << full;
    }

    // A save that does not fit on the disk fails with the reason; the file
    // keeps every old byte (under each of its names), no copy is left
    // behind, the document stays modified. Once there is room, the same
    // save succeeds.
    void FullDiskKeepsTheFile() {
        QFETCH(int, links);
        QFETCH(qint64, oldSize);
        QFETCH(qint64, newSize);
        QFETCH(qint64, leave);
        QFETCH(QString, reason);
        SmallDisk disk;
        if (!disk.Ok()) QSKIP(disk.Why());
        const QString path = disk.Path(QStringLiteral("a.asm"));
        const QString link = disk.Path(QStringLiteral("b.asm"));
        const QByteArray old = Lines(oldSize, 'o');
        const QByteArray fresh = Lines(newSize, 'n');
        QVERIFY(WriteAll(path, old));
        if (links > 1)
            QVERIFY(::link(QFile::encodeName(path).constData(), QFile::encodeName(link).constData()) == 0);
        QVERIFY(Start({path}));
        SetText(Doc(), fresh);
        QCOMPARE(TextOf(Doc()), fresh);
        QVERIFY(disk.Fill(leave));
        const QStringList names = disk.Names();

        QVERIFY(Frame()->Execute(ID_FILE_SAVE));
        QVERIFY(LastMessage());
        QCOMPARE(LastMessage()->icon, QMessageBox::Warning);
        QVERIFY2(LastMessage()->text.startsWith(QStringLiteral("Cannot save")),
                 qPrintable(LastMessage()->text));
        QVERIFY2(LastMessage()->text.contains(reason), qPrintable(LastMessage()->text));
        QCOMPARE(ReadAll(path), old);
        if (links > 1) {
            QCOMPARE(ReadAll(link), old);
            QCOMPARE(StatOf(path).st_nlink, nlink_t(2));
        }
        QCOMPARE(disk.Names(), names);
        QVERIFY(Doc()->IsModified());
        QVERIFY(Child()->isWindowModified());

        disk.Unfill();
        QVERIFY(Frame()->Execute(ID_FILE_SAVE));
        QCOMPARE(ReadAll(path), fresh);
        QVERIFY(!Doc()->IsModified());
        QVERIFY(!Child()->isWindowModified());
        if (links > 1) {
            QCOMPARE(ReadAll(link), fresh);
            QCOMPARE(StatOf(link).st_ino, StatOf(path).st_ino);
        }
        QCOMPARE(disk.Names(), names);
        app_.reset();
    }

    // A file with a second name keeps it: both names show the new text.
    // Shrinking works in place as well as growing.
    void HardLinksStay() {
        const QString path = MakeFile(QStringLiteral("a.asm"), Lines(3000, 'o'));
        const QString link = dir_->filePath(QStringLiteral("b.asm"));
        QVERIFY(::link(QFile::encodeName(path).constData(), QFile::encodeName(link).constData()) == 0);
        const ino_t inode = StatOf(path).st_ino;
        COxbrinDoc doc;
        QString error;
        QVERIFY(doc.OnOpenDocument(path, error));
        for (qint64 size : {qint64(5000), qint64(100)}) {
            SetText(&doc, Lines(size, 'n'));
            QVERIFY2(doc.OnSaveDocument(path, error), qPrintable(error));
            QCOMPARE(ReadAll(link), Lines(size, 'n'));
            QCOMPARE(StatOf(path).st_ino, inode);
            QCOMPARE(StatOf(path).st_nlink, nlink_t(2));
        }
        // No safety copy stays behind.
        QCOMPARE(QDir(dir_->path()).entryList(QDir::Files | QDir::Hidden).size(), 2);
    }

    // Saving as root does not hand another user's file to root; an own
    // file keeps its group and its mode, also an unusual one.
    void OwnerGroupAndModeStay_data() {
        QTest::addColumn<uint>("uid");
        QTest::addColumn<uint>("gid");
        QTest::addColumn<uint>("mode");
        QTest::newRow("another owner") << 65534u << 65534u << 0640u;
        QTest::newRow("own file, another group") << 0u << 65534u << 0664u;
        QTest::newRow("own file, odd mode") << 0u << 0u << 0604u;
    }

    void OwnerGroupAndModeStay() {
        QFETCH(uint, uid);
        QFETCH(uint, gid);
        QFETCH(uint, mode);
        if (::geteuid() != 0) QSKIP("giving a file to another user needs root");
        const QString path = MakeFile(QStringLiteral("a.asm"), "\tnop\n");
        const QByteArray native = QFile::encodeName(path);
        QVERIFY(::chown(native.constData(), uid, gid) == 0);
        QVERIFY(::chmod(native.constData(), mode) == 0);
        COxbrinDoc doc;
        QString error;
        QVERIFY(doc.OnOpenDocument(path, error));
        SetText(&doc, "\tnop\n\tswi\n");
        QVERIFY2(doc.OnSaveDocument(path, error), qPrintable(error));
        QCOMPARE(ReadAll(path), QByteArray("\tnop\n\tswi\n"));
        const struct stat st = StatOf(path);
        QCOMPARE(uint(st.st_uid), uid);
        QCOMPARE(uint(st.st_gid), gid);
        QCOMPARE(uint(st.st_mode & 07777), mode);
    }

    // ---------------------------------------------------------------------
    // Files changed elsewhere

    // An unmodified document follows its file: reloaded with a note on the
    // status bar, and one Undo brings the text before back. A change of the
    // same size under the old time is found too.
    void ChangedFileReloadsUnmodifiedDocument() {
        const QString path = MakeFile(QStringLiteral("a.asm"), "\tldaa #1\n");
        QVERIFY(Start({path}));
        const struct stat before = StatOf(path);
        QVERIFY(WriteAll(path, "\tldaa #2\n"));
        const struct timespec times[2] = {before.st_atim, before.st_mtim};
        QVERIFY(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0) == 0);
        app_->CheckDocumentsOnDisk();
        QCOMPARE(Doc()->TextDocument()->toPlainText(), QStringLiteral("\tldaa #2\n"));
        QVERIFY(!Doc()->IsModified());
        QVERIFY2(Frame()->statusBar()->currentMessage().contains(QStringLiteral("reloaded")),
                 qPrintable(Frame()->statusBar()->currentMessage()));
        QVERIFY(prompts_->messages.isEmpty());
        Doc()->TextDocument()->undo();
        QCOMPARE(Doc()->TextDocument()->toPlainText(), QStringLiteral("\tldaa #1\n"));
        QVERIFY(Doc()->IsModified());
        Doc()->TextDocument()->redo();
        QVERIFY(!Doc()->IsModified());

        // Coming back from another program looks at every file again, at
        // once (the watcher waits for a burst of notices to end).
        QVERIFY(WriteAll(path, "\tldaa #9\n"));
        emit qGuiApp->applicationStateChanged(Qt::ApplicationActive);
        QCoreApplication::sendPostedEvents();
        QCOMPARE(Doc()->TextDocument()->toPlainText(), QStringLiteral("\tldaa #9\n"));

        // The file watcher notices without being asked.
        QVERIFY(WriteAll(path, "\tldaa #3\n"));
        QTRY_COMPARE_WITH_TIMEOUT(Doc()->TextDocument()->toPlainText(), QStringLiteral("\tldaa #3\n"), 10000);
        // A file replaced by a rename (as editors and version control do)
        // is still watched.
        const QString other = MakeFile(QStringLiteral("new.tmp"), "\tldaa #4\n");
        QVERIFY(::rename(QFile::encodeName(other).constData(), QFile::encodeName(path).constData()) == 0);
        QTRY_COMPARE_WITH_TIMEOUT(Doc()->TextDocument()->toPlainText(), QStringLiteral("\tldaa #4\n"), 10000);
        QVERIFY(prompts_->messages.isEmpty());
    }

    // A modified document is never written over a changed file without a
    // question: Save and Build both ask, and Cancel writes nothing; then
    // Overwrite writes the text, Reload takes the file's.
    void ChangedFileAsksBeforeWriting() {
        const QString path = MakeFile(QStringLiteral("a.asm"), "\tnop\n");
        QVERIFY(Start({path}));
        QTextCursor(Doc()->TextDocument()).insertText(QStringLiteral("; mine\n"));
        QVERIFY(WriteAll(path, "; theirs\n\tnop\n"));
        app_->CheckDocumentsOnDisk();
        QVERIFY(Doc()->IsModified());
        QVERIFY(
            Frame()->statusBar()->currentMessage().contains(QStringLiteral("changed by another program")));
        QVERIFY(Child()->View()->NoteBar());

        prompts_->answer = QMessageBox::Cancel;
        for (int id : {ID_FILE_SAVE, ID_BUILD_CURRENT, ID_FILE_SAVE_ALL}) {
            prompts_->messages.clear();
            QVERIFY(Frame()->Execute(id));
            QCOMPARE(prompts_->messages.size(), 1);
            const MessageRequest& q = prompts_->messages[0];
            QCOMPARE(q.buttons, QMessageBox::Discard | QMessageBox::Save | QMessageBox::Cancel);
            QCOMPARE(q.buttonTexts.size(), 2);
            QCOMPARE(q.buttonTexts[0].second, QStringLiteral("&Reload (lose your changes)"));
            QCOMPARE(q.buttonTexts[1].second, QStringLiteral("&Overwrite"));
            QCOMPARE(ReadAll(path), QByteArray("; theirs\n\tnop\n"));
            QVERIFY(Doc()->IsModified());
            QVERIFY(!app_->ToolRunner()->IsRunning());
        }

        prompts_->answer = QMessageBox::Save;
        QVERIFY(Frame()->Execute(ID_FILE_SAVE));
        QCOMPARE(ReadAll(path), QByteArray("; mine\n\tnop\n"));
        QVERIFY(!Doc()->IsModified());
        QVERIFY(!Child()->View()->NoteBar());

        QTextCursor(Doc()->TextDocument()).insertText(QStringLiteral("; more\n"));
        QVERIFY(WriteAll(path, "; theirs again\n"));
        prompts_->answer = QMessageBox::Discard;
        prompts_->messages.clear();
        QVERIFY(Frame()->Execute(ID_FILE_SAVE));
        QCOMPARE(prompts_->messages.size(), 1);
        QCOMPARE(Doc()->TextDocument()->toPlainText(), QStringLiteral("; theirs again\n"));
        QCOMPARE(ReadAll(path), QByteArray("; theirs again\n"));
        QVERIFY(!Doc()->IsModified());
    }

    // An unmodified document over a changed file: Save and the build's save
    // step take the file's text and write nothing.
    void SaveOfUnmodifiedDocumentTakesTheFile() {
        const QString path = MakeFile(QStringLiteral("a.asm"), "\tnop\n");
        QVERIFY(Start({path}));
        QVERIFY(WriteAll(path, "; theirs\n"));
        QVERIFY(Doc()->DoFileSave(Frame()));
        QCOMPARE(ReadAll(path), QByteArray("; theirs\n"));
        QCOMPARE(Doc()->TextDocument()->toPlainText(), QStringLiteral("; theirs\n"));
        QVERIFY(prompts_->messages.isEmpty());
    }

    void DeletedOrRenamedKeepsTheText_data() {
        QTest::addColumn<bool>("rename");
        QTest::newRow("deleted") << false;
        QTest::newRow("renamed") << true;
    }

    // The text stays, marked modified (closing asks to save it), with a
    // note; Save asks for a name. Put back as it was, the mark goes again.
    void DeletedOrRenamedKeepsTheText() {
        QFETCH(bool, rename);
        const QString path = MakeFile(QStringLiteral("a.asm"), "\tnop\n");
        const QString moved = dir_->filePath(QStringLiteral("moved.asm"));
        QVERIFY(Start({path}));
        if (rename)
            QVERIFY(QFile::rename(path, moved));
        else
            QVERIFY(QFile::remove(path));
        app_->CheckDocumentsOnDisk();
        QCOMPARE(Doc()->TextDocument()->toPlainText(), QStringLiteral("\tnop\n"));
        QVERIFY(Doc()->IsModified());
        QVERIFY(Child()->isWindowModified());
        QVERIFY(Frame()->statusBar()->currentMessage().contains(QStringLiteral("deleted or renamed")));
        QVERIFY(Child()->View()->NoteBar());
        QVERIFY(Child()->View()->NoteBar()->text().contains(QStringLiteral("Save asks for a name")));

        // Back unchanged: nothing is lost, nothing to save.
        if (rename)
            QVERIFY(QFile::rename(moved, path));
        else
            QVERIFY(WriteAll(path, "\tnop\n"));
        app_->CheckDocumentsOnDisk();
        QVERIFY(!Doc()->IsModified());
        QVERIFY(!Child()->View()->NoteBar());

        QVERIFY(QFile::remove(path));
        app_->CheckDocumentsOnDisk();
        const QString chosen = dir_->filePath(QStringLiteral("saved.asm"));
        prompts_->fileAnswer = {chosen};
        QVERIFY(Frame()->Execute(ID_FILE_SAVE));
        QCOMPARE(prompts_->fileRequests.size(), 1);
        QVERIFY(prompts_->fileRequests[0].save);
        QCOMPARE(ReadAll(chosen), QByteArray("\tnop\n"));
        QVERIFY(!Doc()->IsModified());
        QCOMPARE(Doc()->PathName(), chosen);
        QVERIFY(!Child()->View()->NoteBar());
    }

    // A document whose file went away and that the user then cancels the
    // name for keeps its text and its mark.
    void GoneFileCancelledSaveAsKeepsText() {
        const QString path = MakeFile(QStringLiteral("a.asm"), "\tnop\n");
        QVERIFY(Start({path}));
        QVERIFY(QFile::remove(path));
        prompts_->fileAnswer.clear();
        QVERIFY(!Doc()->DoFileSave(Frame()));
        QCOMPARE(prompts_->fileRequests.size(), 1);
        QVERIFY(Doc()->IsModified());
        QVERIFY(!QFileInfo::exists(path));
    }

    // ---------------------------------------------------------------------
    // Long lines

    // A line longer than 32 K characters: the file opens read-only, shown
    // in pieces that are laid out one by one, with a note, and keys do not
    // change it. Line numbers, Go To and Copy still count in the file's
    // lines. A line just below the limit stays editable. A reload that
    // brings a long line in makes the document read-only too.
    void LongLinesOpenReadOnly() {
        const QByteArray longLine = QByteArray(COxbrinDoc::kLongLineChars + 1, 'A');
        const QString path = MakeFile(QStringLiteral("long.asm"), "\tnop\n; " + longLine + "\n\tswi\n");
        const QString shortPath =
            MakeFile(QStringLiteral("short.asm"), QByteArray(COxbrinDoc::kLongLineChars, 'A') + "\n");
        QVERIFY(Start({path}));
        COxbrinView* view = Child()->View();
        QVERIFY(view->isReadOnly());
        QCOMPARE(view->lineWrapMode(), QPlainTextEdit::WidgetWidth);
        QVERIFY(view->NoteBar());
        QVERIFY(view->NoteBar()->text().contains(QStringLiteral("read-only")));
        QVERIFY(view->ShowsPieces());
        for (QTextBlock b = view->document()->begin(); b.isValid(); b = b.next())
            QVERIFY(b.length() - 1 <= COxbrinView::kPieceChars);
        view->GoToLine(2, 3000);
        QCOMPARE(view->CaretLine(), 2);
        QCOMPARE(view->CaretColumn(), 3000);
        QCOMPARE(view->textCursor().block().text().at(3000 % COxbrinView::kPieceChars - 1), QLatin1Char('A'));
        view->GoToLine(3, 1);
        QCOMPARE(view->CaretLine(), 3);
        QCOMPARE(view->textCursor().block().text(), QStringLiteral("\tswi"));
        view->selectAll();
        view->copy();
        QCOMPARE(QApplication::clipboard()->text(), Doc()->TextDocument()->toPlainText());
        view->setFocus();
        QTest::keyClicks(view, QStringLiteral("xyz"));
        QTest::keyClick(view, Qt::Key_Delete);
        QVERIFY(!Doc()->IsModified());
        QCOMPARE(Doc()->TextDocument()->blockCount(), 4);
        QCOMPARE(Doc()->TextDocument()->findBlockByNumber(1).length(), COxbrinDoc::kLongLineChars + 4);

        QVERIFY(app_->OpenDocumentFile(shortPath));
        COxbrinView* shortView = Child()->View();
        QVERIFY(shortView != view);
        QVERIFY(!shortView->isReadOnly());
        QCOMPARE(shortView->lineWrapMode(), QPlainTextEdit::NoWrap);
        QVERIFY(!shortView->NoteBar());
        QVERIFY(!shortView->ShowsPieces());

        QVERIFY(WriteAll(shortPath, longLine + "A\n"));
        app_->CheckDocumentsOnDisk();
        QVERIFY(shortView->isReadOnly());
        QVERIFY(shortView->NoteBar());
        QVERIFY(shortView->ShowsPieces());
        // The pieces of the long line, then the empty last line.
        QCOMPARE(
            shortView->document()->blockCount(),
            int((COxbrinDoc::kLongLineChars + 2 + COxbrinView::kPieceChars - 1) / COxbrinView::kPieceChars) +
                1);

        // Short again: editable, the file's own text shown.
        QVERIFY(WriteAll(shortPath, "\tnop\n"));
        app_->CheckDocumentsOnDisk();
        QVERIFY(!shortView->isReadOnly());
        QVERIFY(!shortView->ShowsPieces());
        QCOMPARE(shortView->document(), Doc()->TextDocument());
    }

    // ---------------------------------------------------------------------
    // The assembler's output is not built

    void OutputFilesAreNotBuilt_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("text");
        const QByteArray records = "S0030000FC\nS1060000860197DB\nS9030000FC\n";
        QTest::newRow("S-record file") << QStringLiteral("image.s19") << records;
        QTest::newRow("S-record file, upper case") << QStringLiteral("IMAGE.S19") << records;
        QTest::newRow("listing") << QStringLiteral("prog.lst")
                                 << QByteArray("prog.lst - generated\n\n0000 86 01  ldaa #1\n");
        QTest::newRow("S-records under a source name") << QStringLiteral("data.asm") << records;
    }

    // Build Current on the assembler's output says why it is not built,
    // and neither saves nor starts anything: the file stays as it is. The
    // same file as the project file is refused by Build Project.
    void OutputFilesAreNotBuilt() {
        QFETCH(QString, name);
        QFETCH(QByteArray, text);
        const QString path = MakeFile(name, text);
        QVERIFY(Start({path}));
        QVERIFY(Frame()->Execute(ID_BUILD_CURRENT));
        QCOMPARE(prompts_->messages.size(), 1);
        QVERIFY2(prompts_->messages[0].text.contains(QStringLiteral("is not built")),
                 qPrintable(prompts_->messages[0].text));
        QVERIFY(!app_->ToolRunner()->IsRunning());
        Settle();
        QCOMPARE(ReadAll(path), text);

        QVERIFY(Frame()->Execute(ID_BUILD_SET_PROJECT));
        QVERIFY(Frame()->Execute(ID_BUILD_PROJECT));
        QCOMPARE(prompts_->messages.size(), 2);
        QVERIFY(!app_->ToolRunner()->IsRunning());
        QCOMPARE(ReadAll(path), text);
    }

    void SourcesAreBuildable() {
        QVERIFY(COxbrinDoc::WhyNotASource(QStringLiteral("/x/a.asm"), QStringLiteral("\tnop\n")).isEmpty());
        // One bad record: not an S-record file (the assembler reports it).
        QVERIFY(COxbrinDoc::WhyNotASource(QStringLiteral("a.asm"), QStringLiteral("S1060000860197DC\n"))
                    .isEmpty());
        QVERIFY(COxbrinDoc::WhyNotASource(QStringLiteral("a.asm"), QString()).isEmpty());
        QVERIFY(
            !COxbrinDoc::WhyNotASource(QStringLiteral("a.asm"), QStringLiteral("S9030000FC\r\n")).isEmpty());
    }
};

QTEST_MAIN(TestDocSafety)
#include "tst_docsafety.moc"
