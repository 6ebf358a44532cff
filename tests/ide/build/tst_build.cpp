// Building through the real zkspawn and the real assembler, the Output pane's
// error navigation and input, and the pieces the build commands are made of.

#include "build/buildrunner.h"
#include "build/outputpane.h"
#include "cmdline.h"
#include "shell/commands.h"
#include "shell/settings.h"
#include "testsupport.h"

#include <QDir>
#include <QLabel>
#include <QMdiArea>
#include <QMenu>
#include <QSignalSpy>
#include <QTextBlock>
#include <QTimer>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>

using namespace oxbrin;
using namespace oxbrin::test;

namespace {

// A tool that stands in for the assembler: the shell, with options that
// make it behave as a test needs. The source path comes last, as $0.
void UseShellTool(SettingsBlock& s, const QString& script) {
    s.assembler = QStringLiteral("sh");
    s.assemblerOptions = QStringLiteral("-c \"%1\"").arg(script);
}

// zkspawn's test probe as the tool: `command` chooses what it does ("args"
// prints its arguments one a line in brackets; "stubborn" ignores every
// request to end, and so does the child it starts).
void UseProbe(SettingsBlock& s, const QString& command) {
    s.assembler = QStringLiteral(SPAWN_PROBE);
    s.assemblerOptions = command;
}

// Gone, or dead and waiting to be collected by a parent that is no longer
// the test's business.
bool ProcessGone(pid_t pid) {
    if (::kill(pid, 0) != 0 && errno == ESRCH) return true;
    const QByteArray stat = ReadAll(QStringLiteral("/proc/%1/stat").arg(pid));
    const qsizetype close = stat.lastIndexOf(')');
    return close < 0 || stat.mid(close + 2, 1) == "Z";
}

// File names that a command line could take apart or read as something
// else: quotes that close the quoting, backslashes (before a quote, at the
// end), blanks and tabs, option and response-file prefixes, the shell's
// and Windows' variable marks, characters beyond ASCII.
const char* const kAwkwardNames[] = {
    "a.asm\" \"-Fl:notes.txt",
    "a.asm\" \"@build.rsp",
    "back\\slash.asm",
    "ends in backslash\\",
    "quote\\\"mix\\\\\".asm",
    "two  blanks\tand tab.asm",
    "-Fl.asm",
    "@rsp.asm",
    "100% %PATH% $HOME.asm",
    "gr\u00fc\u00dfe \u65e5\u672c.asm",
};

} // namespace

class TestBuild : public QObject, AppFixture {
    Q_OBJECT

    COutputPane* Output() { return qobject_cast<COutputPane*>(Frame()->OutputPane()); }
    QString OutputText() { return Output()->Control()->toPlainText(); }
    CBuildRunner* Runner() { return app_->ToolRunner(); }

    // Runs a build command and waits until the tool has ended and its exit
    // line is in the pane; returns the exit code.
    int BuildAndWait(int command) {
        QSignalSpy exited(Runner(), &CBuildRunner::ToolExited);
        if (!Frame()->Execute(command)) return -1000;
        if (!exited.wait(60000) && exited.isEmpty()) return -1001;
        Output()->FlushPosted();
        return exited.front().front().toInt();
    }

    void PutCaretOnLineContaining(const QString& text) {
        QTextDocument* doc = Output()->Control()->document();
        for (QTextBlock b = doc->begin(); b.isValid(); b = b.next()) {
            if (b.text().contains(text)) {
                QTextCursor c(b);
                c.movePosition(QTextCursor::Right, QTextCursor::MoveAnchor, 2);
                Output()->Control()->setTextCursor(c);
                return;
            }
        }
        QFAIL(qPrintable(QStringLiteral("no output line contains ") + text));
    }

private slots:
    void initTestCase() { CToolRunner::SetProgramDirectory(QStringLiteral(OXBRIN_DIR)); }

    void init() {
        Prepare();
        QVERIFY(Start());
    }

    void cleanup() { Finish(); }

    void commandLineAndModeNumber() {
        SettingsBlock s;
        s.assembler = QStringLiteral("asm-not-beside-the-ide");
        QCOMPARE(BuildCommandLine(s, QStringLiteral("/work/blink.asm")),
                 QStringLiteral("asm-not-beside-the-ide -l -su \"/work/blink.asm\""));
        s.assemblerOptions.clear();
        QCOMPARE(BuildCommandLine(s, QStringLiteral("/work/blink.asm")),
                 QStringLiteral("asm-not-beside-the-ide \"/work/blink.asm\""));
        // The default tool is the one installed beside the IDE.
        s = SettingsBlock();
        QCOMPARE(BuildCommandLine(s, QStringLiteral("/w/a.asm")),
                 QStringLiteral("\"%1/qorb12\" -l -su -g \"/w/a.asm\"")
                     .arg(QDir(QStringLiteral(OXBRIN_DIR)).absolutePath()));

        // The system's own assemblers write the debugger's line map (-g),
        // once; another tool is not given an option it may not know.
        s.assembler = QStringLiteral("/opt/tools/qorb11.exe");
        s.assemblerOptions = QStringLiteral("-l");
        QCOMPARE(BuildCommandLine(s, QStringLiteral("/w/a.asm")),
                 QStringLiteral("/opt/tools/qorb11.exe -l -g \"/w/a.asm\""));
        s.assemblerOptions = QStringLiteral("-g -l");
        QCOMPARE(BuildCommandLine(s, QStringLiteral("/w/a.asm")),
                 QStringLiteral("/opt/tools/qorb11.exe -g -l \"/w/a.asm\""));

        QCOMPARE(CToolRunner::ModeNumber(false, true), 341);
        QCOMPARE(CToolRunner::ModeNumber(true, false), 0x255);
        QCOMPARE(CToolRunner::ModeNumber(false, false), 0x55);

        QCOMPARE(BuildWorkingDirectory(QStringLiteral("/work/src/blink.asm")), QStringLiteral("/work/src"));
        // A backslash is part of a file name here, not a separator.
        QCOMPARE(BuildWorkingDirectory(QStringLiteral("C:\\work\\blink.asm")), QDir::currentPath());
        QCOMPARE(BuildWorkingDirectory(QStringLiteral("/w/back\\slash.asm")), QStringLiteral("/w"));
        QCOMPARE(BuildWorkingDirectory(QStringLiteral("blink.asm")), QDir::currentPath());
        QCOMPARE(BuildWorkingDirectory(QStringLiteral("/blink.asm")), QStringLiteral("/"));

        QCOMPARE(DisplayName(QDir::current().filePath(QStringLiteral("sub/x.asm"))),
                 QStringLiteral("sub/x.asm"));
        QCOMPARE(DisplayName(QStringLiteral("/elsewhere/x.asm")), QStringLiteral("/elsewhere/x.asm"));
    }

    // What zkspawn's splitting makes of the command line: the tool, the
    // options as the user wrote them, and the file name exactly, whatever it
    // holds; a relative name never starts like an option or a response file.
    void fileNamesSurviveTheCommandLine() {
        SettingsBlock s;
        s.assembler = QStringLiteral("asm-not-beside-the-ide");
        s.assemblerOptions = QStringLiteral("-l \"-Ifoo, bar\"");
        for (const char* raw : kAwkwardNames) {
            for (const QString& path :
                 {QStringLiteral("/work/dir/") + QString::fromUtf8(raw), QString::fromUtf8(raw)}) {
                const std::vector<std::string> args =
                    zkspawn::SplitWindowsCommandLine(BuildCommandLine(s, path).toUtf8().toStdString());
                QCOMPARE(args.size(), size_t(4));
                QCOMPARE(args[0], std::string("asm-not-beside-the-ide"));
                QCOMPARE(args[1], std::string("-l"));
                QCOMPARE(args[2], std::string("-Ifoo, bar"));
                QString expected = path;
                if (path.startsWith(QLatin1Char('-')) || path.startsWith(QLatin1Char('@')))
                    expected.prepend(QStringLiteral("./"));
                QCOMPARE(QString::fromStdString(args[3]), expected);
            }
        }
        QCOMPARE(QuoteArgument(QStringLiteral("a\"b")), QStringLiteral("\"a\\\"b\""));
        QCOMPARE(QuoteArgument(QStringLiteral("dir\\")), QStringLiteral("\"dir\\\\\""));
    }

    // The same through the real zkspawn, with each name a real file that is
    // built from the editor.
    void fileNamesReachTheToolExactly() {
        for (const char* raw : kAwkwardNames) {
            const QString src = MakeFile(QString::fromUtf8(raw), "\tnop\n");
            QVERIFY2(QFileInfo::exists(src), raw);
            QVERIFY(app_->OpenDocumentFile(src));
            UseProbe(app_->Settings(), QStringLiteral("args"));
            QCOMPARE(BuildAndWait(ID_BUILD_CURRENT), 0);
            QCOMPARE(OutputText(), QStringLiteral("argc 1\n[%1]\n\nTool returned code: 0\n").arg(src));
            QVERIFY(Frame()->Execute(ID_FILE_CLOSE));
        }
    }

    // Named to inject options into the assembler's command line: the name is
    // only ever the source, and the files the injected options name are
    // left alone.
    void aFileNameCannotInjectOptions() {
        const QString notes = MakeFile(QStringLiteral("notes.txt"), "my notes\n");
        const QString victim = dir_->filePath(QStringLiteral("victim.txt"));
        MakeFile(QStringLiteral("build.rsp"), QStringLiteral("-Fl:%1\n").arg(victim).toUtf8());
        for (const char* raw : {"a.asm\" \"-Fl:notes.txt", "a.asm\" \"@build.rsp"}) {
            const QString src = MakeFile(QString::fromUtf8(raw), "\tnop\n");
            QVERIFY(app_->OpenDocumentFile(src));
            BuildAndWait(ID_BUILD_CURRENT);
            QVERIFY2(!OutputText().contains(QStringLiteral("zkspawn")), qPrintable(OutputText()));
            QCOMPARE(ReadAll(notes), QByteArray("my notes\n"));
            QVERIFY(!QFileInfo::exists(victim));
            QVERIFY(Frame()->Execute(ID_FILE_CLOSE));
        }
    }

    void aMissingBuildFolderIsNamed() {
        const QString gone = dir_->filePath(QStringLiteral("gone/x.asm"));
        BuildFile(Frame(), Runner(), gone);
        QVERIFY(!Runner()->IsRunning());
        QVERIFY2(OutputText().startsWith(QStringLiteral("The build could not be started in the folder %1:\n")
                                             .arg(dir_->filePath(QStringLiteral("gone")))),
                 qPrintable(OutputText()));
    }

    void errorTags_data() {
        QTest::addColumn<QString>("line");
        QTest::addColumn<bool>("found");
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("lineNo");
        QTest::addColumn<int>("column");
        QTest::newRow("indented, no column")
            << "  C:\\src\\a.asm(12): error" << true << "C:\\src\\a.asm" << 12 << 1;
        QTest::newRow("second parenthesis is the column") << "x.asm(3) (7)" << true << "x.asm" << 3 << 7;
        QTest::newRow("assembler message")
            << "/tmp/e.asm(3): Error A2027: col(2) 'foo': unknown" << true << "/tmp/e.asm" << 3 << 2;
        QTest::newRow("blanks and sign") << "\ta.asm( +5)" << true << "a.asm" << 5 << 1;
        QTest::newRow("name with parentheses") << "dir(old)/b.asm(9)" << true << "dir(old)/b.asm" << 9 << 1;
        QTest::newRow("line zero") << "a.asm(0): x" << false << "" << 0 << 0;
        QTest::newRow("no digits") << "a.asm(x)" << false << "" << 0 << 0;
        QTest::newRow("summary line") << "/tmp/e.asm: 0 warning(s), 1 error(s)" << false << "" << 0 << 0;
        QTest::newRow("exit line") << "Tool returned code: 2" << false << "" << 0 << 0;
        QTest::newRow("negative line") << "a.asm(-4)" << false << "" << 0 << 0;
        QTest::newRow("huge number saturates") << "a.asm(99999999999999)" << true << "a.asm" << INT_MAX << 1;
    }
    void errorTags() {
        QFETCH(QString, line);
        QFETCH(bool, found);
        ErrorTag tag;
        QCOMPARE(ParseErrorTag(line, &tag), found);
        if (found) {
            QFETCH(QString, file);
            QFETCH(int, lineNo);
            QFETCH(int, column);
            QCOMPARE(tag.file, file);
            QCOMPARE(tag.line, lineNo);
            QCOMPARE(tag.column, column);
        }
    }

    void buildCurrentRunsTheAssemblerAndGoesToTheError() {
        const QString src = MakeFile(QStringLiteral("e.asm"), "\tnop\n\tnop\n  foo\n");
        QVERIFY(app_->OpenDocumentFile(src));
        QVERIFY(Frame()->IsEnabled(ID_BUILD_CURRENT));
        Frame()->UpdateCommandUI();
        QCOMPARE(Frame()->Action(ID_BUILD_CURRENT)->text(),
                 QStringLiteral("B&uild %1\tCtrl+F7").arg(DisplayName(src)));

        const int code = BuildAndWait(ID_BUILD_CURRENT);
        QCOMPARE(code, 2);
        const QString text = OutputText();
        QVERIFY2(text.contains(QStringLiteral("Cross Assembler")), qPrintable(text));
        QVERIFY(text.contains(src + QStringLiteral("(3): Error")));
        // The exit line comes last, on a line of its own after an empty one.
        QVERIFY2(text.endsWith(QStringLiteral("\n\nTool returned code: 2\n")), qPrintable(text));
        QVERIFY(QFileInfo::exists(dir_->filePath(QStringLiteral("e.lst")))); // -l reached the tool
        QVERIFY(!Output()->isHidden());

        // The summary closes the output, but the small pane is left showing the
        // first message with the caret on it: Enter goes straight to the line.
        QPlainTextEdit* pane = Output()->Control();
        QVERIFY2(pane->textCursor().block().text().contains(QStringLiteral("(3): Error A")),
                 qPrintable(pane->textCursor().block().text()));
        QVERIFY(pane->viewport()->rect().contains(pane->cursorRect()));
        QCOMPARE(Frame()->focusWidget(), static_cast<QWidget*>(pane));
        pane->setFocus();
        QTest::keyClick(pane, Qt::Key_Return);
        QCOMPARE(Frame()->ActiveView()->CaretLine(), 3);

        // Double click on the message line: the source at line 3, column 3.
        PutCaretOnLineContaining(QStringLiteral("Error A"));
        QVERIFY(Output()->CaretLineHasTag());
        Frame()->UpdateCommandUI();
        QVERIFY(Frame()->IsEnabled(kIdGoToErrorTag));
        COxbrinView* view = Frame()->ActiveView();
        view->GoToLine(1, 1);
        QTest::mouseDClick(Output()->Control()->viewport(), Qt::LeftButton, {},
                           Output()->Control()->cursorRect().center());
        QCOMPARE(view->CaretLine(), 3);
        QCOMPARE(view->CaretColumn(), 3);
        // The tag line is selected in the pane.
        QVERIFY(Output()->Control()->textCursor().selectedText().contains(QStringLiteral("Error A")));

        // Enter on the line does the same.
        view->GoToLine(1, 1);
        PutCaretOnLineContaining(QStringLiteral("Error A"));
        Output()->Control()->setFocus();
        QTest::keyClick(Output()->Control(), Qt::Key_Return);
        QCOMPARE(view->CaretLine(), 3);
        QCOMPARE(Frame()->ActiveView(), view);

        // The summary line has no tag: the command is disabled there.
        PutCaretOnLineContaining(QStringLiteral("warning(s)"));
        QVERIFY(!Frame()->IsEnabled(kIdGoToErrorTag));
    }

    void goToErrorTagOpensAFileNotYetOpen() {
        const QString src = MakeFile(QStringLiteral("other.asm"), "a\nb\nccccc\n");
        Output()->AppendConsoleText(QStringLiteral("  %1(3) (4)\n").arg(src).toUtf8());
        PutCaretOnLineContaining(QStringLiteral("other.asm"));
        QVERIFY(Frame()->Execute(kIdGoToErrorTag));
        QVERIFY(Frame()->ActiveView());
        QCOMPARE(Frame()->ActiveChild()->Document()->PathName(), src);
        QCOMPARE(Frame()->ActiveView()->CaretLine(), 3);
        QCOMPARE(Frame()->ActiveView()->CaretColumn(), 4);

        // A file that cannot be opened is reported once; nothing else moves.
        prompts_->messages.clear();
        Output()->AppendConsoleText("missing.asm(2): x\n");
        PutCaretOnLineContaining(QStringLiteral("missing.asm"));
        QVERIFY(Frame()->Execute(kIdGoToErrorTag));
        QCOMPARE(prompts_->messages.size(), 1);
    }

    void buildSavesTheDocumentFirst() {
        const QString src = MakeFile(QStringLiteral("ok.asm"), "\tnop\n");
        QVERIFY(app_->OpenDocumentFile(src));
        Frame()->ActiveView()->moveCursor(QTextCursor::End);
        Frame()->ActiveView()->insertPlainText(QStringLiteral("\tnop\n"));
        QCOMPARE(BuildAndWait(ID_BUILD_CURRENT), 0);
        QCOMPARE(ReadAll(src), QByteArray("\tnop\n\tnop\n"));
        // Every build leaves the line map the debugger reads beside the object.
        QVERIFY(QFileInfo::exists(dir_->filePath(QStringLiteral("ok.dbg"))));
        QVERIFY(OutputText().endsWith(QStringLiteral("\n\nTool returned code: 0\n")));
        // A build without errors leaves the end, with the exit line, in view,
        // and typing goes on in the source.
        QVERIFY(Output()->Control()->textCursor().atEnd());
        QCOMPARE(Frame()->focusWidget(), static_cast<QWidget*>(Frame()->ActiveView()));
        // The position field follows the focus back: the source's caret, not
        // the pane's.
        const QString sourcePosition = QStringLiteral("Ln %1, Col %2")
                                           .arg(Frame()->ActiveView()->CaretLine())
                                           .arg(Frame()->ActiveView()->CaretColumn());
        QTRY_COMPARE(Frame()->PositionPane()->text(), sourcePosition);
    }

    void buildProjectWithProjectFile() {
        const QString project = MakeFile(QStringLiteral("proj.asm"), "\tnop\n");
        const QString other = MakeFile(QStringLiteral("other.asm"), "\tnop\n");
        QVERIFY(!Frame()->IsEnabled(ID_BUILD_PROJECT));
        QVERIFY(!Frame()->IsEnabled(ID_BUILD_SET_PROJECT));
        QVERIFY(app_->OpenDocumentFile(project));
        QVERIFY(Frame()->Execute(ID_BUILD_SET_PROJECT));
        QCOMPARE(app_->Settings().projectFile, project);
        QVERIFY(!Frame()->IsEnabled(ID_BUILD_SET_PROJECT)); // already the project
        QVERIFY(app_->OpenDocumentFile(other));
        QVERIFY(Frame()->IsEnabled(ID_BUILD_SET_PROJECT));
        Frame()->UpdateCommandUI();
        QCOMPARE(Frame()->Action(ID_BUILD_PROJECT)->text(),
                 QStringLiteral("&Build %1\tF7").arg(DisplayName(project)));

        UseShellTool(app_->Settings(), QStringLiteral("echo built $0 in $(pwd)"));
        QCOMPARE(BuildAndWait(ID_BUILD_PROJECT), 0);
        QVERIFY2(OutputText().startsWith(
                     QStringLiteral("built %1 in %2\n").arg(project, QFileInfo(project).absolutePath())),
                 qPrintable(OutputText()));

        // A project file named relative to the current folder, as a settings
        // file edited by hand may hold.
        QVERIFY(QDir(dir_->path()).mkdir(QStringLiteral("sub")));
        const QString nested = MakeFile(QStringLiteral("sub/nested.asm"), "\tnop\n");
        const QString current = QDir::currentPath();
        QDir::setCurrent(dir_->path());
        app_->Settings().projectFile = QStringLiteral("sub/nested.asm");
        const int code = BuildAndWait(ID_BUILD_PROJECT);
        QDir::setCurrent(current);
        QCOMPARE(code, 0);
        QVERIFY2(OutputText().startsWith(
                     QStringLiteral("built %1 in %2\n").arg(nested, QFileInfo(nested).absolutePath())),
                 qPrintable(OutputText()));

        QVERIFY(Frame()->Execute(ID_BUILD_RELEASE_PROJECT));
        QVERIFY(app_->Settings().projectFile.isEmpty());
        QVERIFY(!Frame()->IsEnabled(ID_BUILD_PROJECT));
        Frame()->UpdateCommandUI();
        QCOMPARE(Frame()->Action(ID_BUILD_PROJECT)->text(), QStringLiteral("&Build Project\tF7"));
    }

    void secondBuildWhileOneRunsAndTypedInput() {
        const QString src = MakeFile(QStringLiteral("in.asm"), "\tnop\n");
        QVERIFY(app_->OpenDocumentFile(src));
        // The tool reads three bytes from its input and echoes them.
        UseShellTool(app_->Settings(),
                     QStringLiteral("echo ready; x=$(head -c 3 | od -An -tx1); echo got:$x"));
        QSignalSpy exited(Runner(), &CBuildRunner::ToolExited);
        QVERIFY(Frame()->Execute(ID_BUILD_CURRENT));
        QVERIFY(Runner()->IsRunning());
        QTRY_VERIFY_WITH_TIMEOUT(OutputText().contains(QStringLiteral("ready")), 30000);
        // Both build commands are off while it runs; a start anyway is refused.
        QVERIFY(!Frame()->IsEnabled(ID_BUILD_CURRENT));
        BuildFile(Frame(), Runner(), src);
        QCOMPARE(OutputText(), QString::fromLatin1(strings::kSpawnMissing));

        Output()->Control()->setFocus();
        QTest::keyClicks(Output()->Control(), QStringLiteral("ab"));
        QTest::keyClick(Output()->Control(), Qt::Key_Return); // no tag on the caret line: goes to the tool
        QVERIFY(exited.wait(30000) || !exited.isEmpty());
        QCOMPARE(exited.front().front().toInt(), 0);
        Output()->FlushPosted();
        QVERIFY2(OutputText().contains(QStringLiteral("got: 61 62 0d")), qPrintable(OutputText()));
        QTRY_VERIFY(Frame()->IsEnabled(ID_BUILD_CURRENT));
    }

    void inputLeftByOneToolDoesNotReachTheNext() {
        const QString src = MakeFile(QStringLiteral("stale.asm"), "\tnop\n");
        QVERIFY(app_->OpenDocumentFile(src));
        UseShellTool(app_->Settings(), QStringLiteral("echo first"));
        QSignalSpy exited(Runner(), &CBuildRunner::ToolExited);
        QVERIFY(Frame()->Execute(ID_BUILD_CURRENT));
        Runner()->WriteInput("xyz", 3); // typed while it runs, never read
        QVERIFY(exited.wait(30000) || !exited.isEmpty());
        UseShellTool(app_->Settings(),
                     QStringLiteral("echo abc | cat - | head -c 3; head -c 1 | od -An -tx1"));
        // The second tool reads one byte: it must be the one typed now.
        QVERIFY(Frame()->Execute(ID_BUILD_CURRENT));
        Runner()->WriteInput("Q", 1);
        QVERIFY(exited.wait(30000) || exited.size() >= 2);
        Output()->FlushPosted();
        QVERIFY2(OutputText().contains(QStringLiteral("abc 51")), qPrintable(OutputText()));
    }

    // Keys typed for a build whose processes no longer read their input
    // (they closed it, or have all just ended and the runner has not yet
    // seen it) go nowhere: the pipe has no reader left, and the IDE goes on.
    void keysNobodyReadsAnyMoreAreDropped() {
        const QString src = MakeFile(QStringLiteral("closed.asm"), "\tnop\n");
        QVERIFY(app_->OpenDocumentFile(src));
        // A stand-in for zkspawn that closes its input, says so and waits.
        const QString closed = dir_->filePath(QStringLiteral("closed"));
        const QString spawn =
            MakeFile(QStringLiteral("zkspawn"), "#!/bin/sh\nexec 0<&-\n: > closed\nexec sleep 1\n");
        QVERIFY(QFile::setPermissions(spawn, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        CToolRunner::SetProgramDirectory(dir_->path());
        QSignalSpy exited(Runner(), &CBuildRunner::ToolExited);
        const bool started = Frame()->Execute(ID_BUILD_CURRENT);
        CToolRunner::SetProgramDirectory(QStringLiteral(OXBRIN_DIR));
        QVERIFY(started);
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(closed), 20000);
        Runner()->WriteInput("xyz", 3);
        QVERIFY(exited.wait(30000) || !exited.isEmpty());
        QCOMPARE(exited.front().front().toInt(), 0);
    }

    void shutdownEndsARunningTool() {
        const QString src = MakeFile(QStringLiteral("long.asm"), "\tnop\n");
        const QString pidFile = dir_->filePath(QStringLiteral("tool.pid"));
        QVERIFY(app_->OpenDocumentFile(src));
        UseShellTool(app_->Settings(), QStringLiteral("echo $$ > %1; exec sleep 60").arg(pidFile));
        QVERIFY(Frame()->Execute(ID_BUILD_CURRENT));
        QTRY_VERIFY_WITH_TIMEOUT(ReadAll(pidFile).trimmed().toInt() > 0, 30000);
        const pid_t pid = ReadAll(pidFile).trimmed().toInt();
        QCOMPARE(::kill(pid, 0), 0);
        app_.reset(); // the program ends with the tool still running
        QTRY_VERIFY_WITH_TIMEOUT(::kill(pid, 0) != 0, 10000);
    }

    // Stop Build (and its key) ends a tool that ignores the request to end,
    // and the child it started, within the grace period.
    void stopBuildEndsEverythingTheToolStarted() {
        const QString src = MakeFile(QStringLiteral("stop.asm"), "\tnop\n");
        QVERIFY(app_->OpenDocumentFile(src));
        QVERIFY(!Frame()->IsEnabled(ID_BUILD_STOP));
        for (bool byKey : {false, true}) {
            UseProbe(app_->Settings(), QStringLiteral("stubborn"));
            QSignalSpy exited(Runner(), &CBuildRunner::ToolExited);
            QVERIFY(Frame()->Execute(ID_BUILD_CURRENT));
            QTRY_VERIFY_WITH_TIMEOUT(OutputText().contains(QStringLiteral("ready")), 20000);
            int tool = 0, child = 0;
            QCOMPARE(std::sscanf(OutputText().toLatin1().constData(), "ready %d %d", &tool, &child), 2);
            QVERIFY(Frame()->IsEnabled(ID_BUILD_STOP));
            if (byKey) {
                Frame()->activateWindow();
                QVERIFY(QTest::qWaitForWindowActive(Frame()));
                QTest::keyClick(Frame(), Qt::Key_Pause, Qt::ControlModifier);
            } else {
                QVERIFY(Frame()->Execute(ID_BUILD_STOP));
            }
            // The command returns at once; the build ends when the tool has.
            QVERIFY(Runner()->IsStopping());
            QVERIFY(!Frame()->IsEnabled(ID_BUILD_STOP));
            QVERIFY(exited.wait(20000) || !exited.isEmpty());
            QCOMPARE(exited.front().front().toInt(), 128 + SIGKILL);
            Output()->FlushPosted();
            QVERIFY2(
                OutputText().contains(QStringLiteral("Stopping the build...\n\nTool returned code: 137\n")),
                qPrintable(OutputText()));
            QTRY_VERIFY(ProcessGone(tool));
            QTRY_VERIFY(ProcessGone(child));
            QTRY_VERIFY(Frame()->IsEnabled(ID_BUILD_CURRENT));
            QVERIFY(!Frame()->IsEnabled(ID_BUILD_STOP));
        }
        QCOMPARE(Frame()->Action(ID_BUILD_STOP)->text(), QStringLiteral("S&top Build\tCtrl+Break"));
    }

    // Closing the IDE during a build leaves no tool behind, even one that
    // ignores the request to end.
    void closingTheIdeEndsAToolThatIgnoresRequests() {
        const QString src = MakeFile(QStringLiteral("exit.asm"), "\tnop\n");
        QVERIFY(app_->OpenDocumentFile(src));
        UseProbe(app_->Settings(), QStringLiteral("stubborn"));
        QVERIFY(Frame()->Execute(ID_BUILD_CURRENT));
        QTRY_VERIFY_WITH_TIMEOUT(OutputText().contains(QStringLiteral("ready")), 20000);
        int tool = 0, child = 0;
        QCOMPARE(std::sscanf(OutputText().toLatin1().constData(), "ready %d %d", &tool, &child), 2);
        app_.reset();
        QTRY_VERIFY(ProcessGone(tool));
        QTRY_VERIFY(ProcessGone(child));
    }

    // A process that a build left running, even one in a session of its
    // own out of reach of the build's process group, is ended with the
    // build: it never writes into a later build's output.
    void lateOutputOfAnEarlierBuildStaysOut() {
        const QString src = MakeFile(QStringLiteral("late.asm"), "\tnop\n");
        QVERIFY(app_->OpenDocumentFile(src));
        const QString script =
            MakeFile(QStringLiteral("late.sh"),
                     "setsid sh -c \"echo \\$\\$ > escapee.pid; trap '' PIPE; i=0; while [ ! -e go ] && [ "
                     "\\$i -lt 400 ]; "
                     "do sleep 0.05; i=\\$((i+1)); done; echo late; touch written\" </dev/null &\n"
                     "while [ ! -s escapee.pid ]; do sleep 0.01; done\n"
                     "echo first\n");
        UseShellTool(app_->Settings(), QStringLiteral("sh %1").arg(script));
        QCOMPARE(BuildAndWait(ID_BUILD_CURRENT), 0);
        QVERIFY(OutputText().startsWith(QStringLiteral("first\n")));
        const pid_t escapee = ReadAll(dir_->filePath(QStringLiteral("escapee.pid"))).trimmed().toInt();
        QVERIFY(escapee > 0);
        QVERIFY(ProcessGone(escapee));
        // Were it still there, the second build would let it write and wait
        // until it has.
        UseShellTool(app_->Settings(),
                     QStringLiteral("touch go; i=0; while kill -0 %1 2>/dev/null && [ ! -e written ] "
                                    "&& [ $i -lt 400 ]; do sleep 0.05; i=$((i+1)); done; echo second")
                         .arg(escapee));
        QCOMPARE(BuildAndWait(ID_BUILD_CURRENT), 0);
        QCOMPARE(OutputText(), QStringLiteral("second\n\nTool returned code: 0\n"));
    }

    void untitledDocumentIsSavedUnderANameFirst() {
        app_->FileNew();
        Frame()->ActiveView()->insertPlainText(QStringLiteral("\tnop\n"));
        UseShellTool(app_->Settings(), QStringLiteral("echo built $0"));
        // Cancelled Save As: no build.
        QVERIFY(Frame()->Execute(ID_BUILD_CURRENT));
        QVERIFY(!Runner()->IsRunning());
        QVERIFY(!Output()->HasText());
        const QString name = dir_->filePath(QStringLiteral("named.asm"));
        prompts_->fileAnswer = {name};
        QCOMPARE(BuildAndWait(ID_BUILD_CURRENT), 0);
        QVERIFY(OutputText().startsWith(QStringLiteral("built ") + name));
        QCOMPARE(ReadAll(name), QByteArray("\tnop\n"));
    }

    void exitSoundsAndExitCodes() {
        const QString src = MakeFile(QStringLiteral("s.asm"), "\tnop\n");
        QVERIFY(app_->OpenDocumentFile(src));
        QSignalSpy played(Runner()->Sounds(), &CBuildSounds::Played);
        UseShellTool(app_->Settings(), QStringLiteral("exit 0"));
        QCOMPARE(BuildAndWait(ID_BUILD_CURRENT), 0);
        QTRY_COMPARE(played.size(), 1);
        QCOMPARE(played.last().front().toInt(), kSoundToolSucceeded);
        UseShellTool(app_->Settings(), QStringLiteral("exit 7"));
        QCOMPARE(BuildAndWait(ID_BUILD_CURRENT), 7);
        QTRY_COMPARE(played.size(), 2);
        QCOMPARE(played.last().front().toInt(), kSoundToolFailed);
        // A tool killed by a signal reports 128 + the signal.
        UseShellTool(app_->Settings(), QStringLiteral("kill -9 $$"));
        QCOMPARE(BuildAndWait(ID_BUILD_CURRENT), 128 + 9);
        QVERIFY(OutputText().endsWith(QStringLiteral("Tool returned code: 137\n")));
        // A tool that does not exist: zkspawn says so and ends with 127.
        app_->Settings().assembler = QStringLiteral("no-such-tool-here");
        QCOMPARE(BuildAndWait(ID_BUILD_CURRENT), 127);
        QVERIFY(OutputText().contains(QStringLiteral("no-such-tool-here")));
    }

    void missingSpawnHelperShowsString203() {
        const QString src = MakeFile(QStringLiteral("m.asm"), "\tnop\n");
        QVERIFY(app_->OpenDocumentFile(src));
        CToolRunner::SetProgramDirectory(dir_->path());
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", QFile::encodeName(dir_->path()));
        QVERIFY(Frame()->Execute(ID_BUILD_CURRENT));
        qputenv("PATH", path);
        CToolRunner::SetProgramDirectory(QStringLiteral(OXBRIN_DIR));
        QCOMPARE(OutputText(), QString::fromLatin1(strings::kSpawnMissing));
        QVERIFY(!Runner()->IsRunning());
    }

    void tenMegabytesOfOutput() {
        const QString src = MakeFile(QStringLiteral("big.asm"), "\tnop\n");
        QVERIFY(app_->OpenDocumentFile(src));
        UseShellTool(
            app_->Settings(),
            QStringLiteral("yes 012345678901234567890123456789012345678901234567890123456789012345678901234"
                           "567890123456789012345678 | head -c 10000000"));
        // The event loop keeps running while the output pours in.
        int turns = 0;
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, this, [&turns] { ++turns; });
        ticker.start(0);
        QVERIFY(Frame()->Execute(ID_BUILD_CURRENT));
        const QString exitLine = QStringLiteral("\nTool returned code: 0\n");
        QTRY_VERIFY_WITH_TIMEOUT(OutputText().endsWith(exitLine), 60000);
        ticker.stop();
        // Appended in slices, with the event loop turning in between.
        QVERIFY2(turns > 10000000 / CConsolePane::kPostedSlice, qPrintable(QString::number(turns)));
        const QString text = OutputText();
        QCOMPARE(text.size(), 10000000 + exitLine.size());
        QCOMPARE(Output()->Control()->document()->blockCount(), 10000000 / 100 + 3);
    }

    void escapeInThePane() {
        Output()->show();
        Output()->Control()->setFocus();
        QTest::keyClick(Output()->Control(), Qt::Key_Escape);
        QVERIFY(Output()->isHidden()); // no document: the pane goes
        const QString src = MakeFile(QStringLiteral("esc.asm"), "\tnop\n");
        QVERIFY(app_->OpenDocumentFile(src));
        Frame()->ShowAndFocusPane(Output());
        QTest::keyClick(Output()->Control(), Qt::Key_Escape);
        QVERIFY(!Output()->isHidden());
        QCOMPARE(QApplication::focusWidget(), Frame()->ActiveView());
    }

    void paneCommandsAndContextMenu() {
        Output()->AppendConsoleText("one\ntwo\n");
        Frame()->ShowAndFocusPane(Output());
        QVERIFY(Frame()->IsEnabled(kIdOutputClear));
        QVERIFY(!Frame()->IsEnabled(ID_EDIT_COPY));
        QVERIFY(Frame()->Execute(ID_EDIT_SELECT_ALL));
        QVERIFY(Frame()->IsEnabled(ID_EDIT_COPY));
        QMenu* menu = Output()->ContextMenu();
        QStringList texts;
        for (QAction* a : menu->actions())
            if (!a->isSeparator()) texts << a->text();
        QCOMPARE(texts, (QStringList{"&Copy Selection", "Clea&r Window", "&Go To Error Tag",
                                     "&Show Output Window"}));
        // The status pane shows the pane's caret while it has the focus.
        QTextCursor c = Output()->Control()->textCursor();
        c.setPosition(5);
        Output()->Control()->setTextCursor(c);
        QCOMPARE(Frame()->PositionPane()->text(), QStringLiteral("Ln 2, Col 2"));
        // Coming back to the pane shows its caret again.
        const QString src = MakeFile(QStringLiteral("pos.asm"), "a\nb\nc\n");
        QVERIFY(app_->OpenDocumentFile(src));
        Frame()->ActiveView()->GoToLine(3, 1);
        QCOMPARE(Frame()->PositionPane()->text(), QStringLiteral("Ln 3, Col 1"));
        Frame()->ShowAndFocusPane(Output());
        QCOMPARE(Frame()->PositionPane()->text(), QStringLiteral("Ln 2, Col 2"));
        QVERIFY(Frame()->Execute(kIdOutputClear));
        QVERIFY(!Output()->HasText());
        QVERIFY(!Frame()->IsEnabled(ID_EDIT_CLEAR_ALL));
        Output()->AppendConsoleText("x");
        QVERIFY(Frame()->Execute(ID_EDIT_CLEAR_ALL));
        QVERIFY(!Output()->HasText());
    }
};

QTEST_MAIN(TestBuild)
#include "tst_build.moc"
