#include "buildrunner.h"

#include "editor/oxbrindoc.h"
#include "editor/oxbrinview.h"
#include "options/dlgoptions.h"
#include "outputpane.h"
#include "shell/childframe.h"
#include "shell/commands.h"
#include "shell/mainframe.h"
#include "shell/oxbrinapp.h"
#include "shell/settings.h"

#include <QApplication>
#include <QAudioDevice>
#include <QDir>
#include <QFileInfo>
#include <QKeySequence>
#include <QMdiArea>
#include <QMediaDevices>
#include <QSoundEffect>
#include <QStatusBar>
#include <QTextDocument>
#include <QTimer>
#include <QUrl>

#include <cstring>

namespace oxbrin {

QString QuoteArgument(const QString& argument) {
    // zkspawn splits the line as a Windows program does: inside quotes a
    // quote is written \" and the backslashes right before a quote (or
    // before the closing one) are doubled; all other backslashes stand for
    // themselves.
    QString quoted = QStringLiteral("\"");
    qsizetype slashes = 0;
    for (const QChar c : argument) {
        if (c == QLatin1Char('\\')) {
            ++slashes;
            continue;
        }
        if (c == QLatin1Char('"')) {
            quoted += QString(2 * slashes + 1, QLatin1Char('\\'));
        } else {
            quoted += QString(slashes, QLatin1Char('\\'));
        }
        quoted += c;
        slashes = 0;
    }
    quoted += QString(2 * slashes, QLatin1Char('\\'));
    quoted += QLatin1Char('"');
    return quoted;
}

QString BuildCommandLine(const SettingsBlock& settings, const QString& path) {
    QString tool = settings.assembler;
    // A bare program name: the copy installed beside the IDE wins over the
    // search path, so a fresh build runs its own assembler. (The program
    // name keeps its backslashes and has no way to hold a quote.)
    if (!tool.isEmpty() && !tool.contains(QLatin1Char('/')) && !tool.contains(QLatin1Char('\\')) &&
        !tool.contains(QLatin1Char(' ')) && !tool.contains(QLatin1Char('"'))) {
        const QString dir = CToolRunner::ProgramDirectory();
        QString name = tool;
        QFileInfo beside(QDir(dir).filePath(name));
        if (!beside.isFile() && name.endsWith(QLatin1String(".exe"), Qt::CaseInsensitive))
            beside = QFileInfo(QDir(dir).filePath(name.left(name.size() - 4)));
        if (!dir.isEmpty() && beside.isFile() && beside.isExecutable() &&
            !beside.absoluteFilePath().contains(QLatin1Char('"')))
            tool = QLatin1Char('"') + beside.absoluteFilePath() + QLatin1Char('"');
    }
    QString line = tool;
    if (!settings.assemblerOptions.isEmpty()) line += QLatin1Char(' ') + settings.assemblerOptions;
    // The line map beside the object is what the debugger finds source
    // lines by, so every build with one of the system's own assemblers
    // writes it (another tool may not know the option); options that ask
    // for it already are left as they are.
    QString program = settings.assembler.trimmed();
    program.remove(QLatin1Char('"'));
    program =
        program.mid(qMax(program.lastIndexOf(QLatin1Char('/')), program.lastIndexOf(QLatin1Char('\\'))) + 1);
    if (program.endsWith(QLatin1String(".exe"), Qt::CaseInsensitive)) program.chop(4);
    const bool ownAssembler = program == QLatin1String("qorb12") || program == QLatin1String("qorb11");
    if (ownAssembler &&
        !settings.assemblerOptions.split(QLatin1Char(' '), Qt::SkipEmptyParts).contains(QStringLiteral("-g")))
        line += QStringLiteral(" -g");
    // The file name is one argument whatever it holds, and never an option
    // or a response file: a relative name that starts like one is written
    // as ./name.
    QString file = path;
    if (!QDir::isAbsolutePath(file) &&
        (file.startsWith(QLatin1Char('-')) || file.startsWith(QLatin1Char('@'))))
        file = QStringLiteral("./") + file;
    line += QLatin1Char(' ') + QuoteArgument(file);
    return line;
}

QString BuildWorkingDirectory(const QString& path) {
#ifdef Q_OS_WIN
    const qsizetype cut = qMax(path.lastIndexOf(QLatin1Char('/')), path.lastIndexOf(QLatin1Char('\\')));
#else
    // A backslash is an ordinary character of a file name here.
    const qsizetype cut = path.lastIndexOf(QLatin1Char('/'));
#endif
    if (cut < 0) return QDir::currentPath();
    if (cut == 0) return path.left(1); // a file in the root folder
    return path.left(cut);
}

QString DisplayName(const QString& path) {
    QString dir = QDir::currentPath();
    if (!dir.endsWith(QLatin1Char('/'))) dir += QLatin1Char('/');
    if (path.startsWith(dir) && path.size() > dir.size()) return path.mid(dir.size());
    return path;
}

// ---------------------------------------------------------------------------

CBuildSounds::CBuildSounds(QObject* parent) : QObject(parent) {}

QSoundEffect* CBuildSounds::Effect(int id) {
    if (!checked_) {
        checked_ = true;
        haveOutput_ = !QMediaDevices::defaultAudioOutput().isNull();
    }
    if (!haveOutput_) return nullptr;
    QSoundEffect*& effect = id == kSoundToolSucceeded ? ok_ : failed_;
    if (!effect) {
        effect = new QSoundEffect(this);
        effect->setSource(QUrl(id == kSoundToolSucceeded
                                   ? QStringLiteral("qrc:/oxbrin/sounds/build_ok.wav")
                                   : QStringLiteral("qrc:/oxbrin/sounds/build_failed.wav")));
    }
    return effect;
}

void CBuildSounds::Play(int id) {
    // Played asynchronously; a missing or busy device only means silence.
    if (QSoundEffect* effect = Effect(id)) effect->play();
    emit Played(id);
}

// ---------------------------------------------------------------------------

CBuildRunner::CBuildRunner(QObject* parent) : QObject(parent), sounds_(new CBuildSounds(this)) {}

CBuildRunner::~CBuildRunner() {
    // The reader thread calls into this object; it must end first.
    Shutdown();
}

void CBuildRunner::SetOutputPane(COutputPane* pane) { pane_.store(pane); }

void CBuildRunner::OnToolOutput(const char* bytes, qsizetype count) {
    if (COutputPane* pane = pane_.load()) pane->PostConsoleText(QByteArray(bytes, count));
}

void CBuildRunner::OnToolExited(int exitCode) {
    // Through the same queue as the output, so the line comes after it.
    if (COutputPane* pane = pane_.load())
        pane->PostConsoleText(QString::asprintf(strings::kToolReturned, exitCode).toLatin1());
    QMetaObject::invokeMethod(
        this,
        [this, exitCode] {
            sounds_->Play(exitCode == 0 ? kSoundToolSucceeded : kSoundToolFailed);
            emit ToolExited(exitCode);
        },
        Qt::QueuedConnection);
}

// ---------------------------------------------------------------------------

void BuildFile(CMainFrame* frame, CBuildRunner* runner, const QString& name) {
    // The tool runs in the file's folder: a relative name (a project file
    // set by hand) would be looked for once more below it.
    const QString path = QDir::isAbsolutePath(name) ? name : QDir::current().absoluteFilePath(name);
    auto* pane = qobject_cast<COutputPane*>(frame->OutputPane());
    SettingsBlock& s = frame->App()->Settings();
    if (pane) {
        pane->ClearText();
        frame->ShowAndFocusPane(pane);
    }
    const QString dir = BuildWorkingDirectory(path);
    if (pane) pane->SetToolDirectory(dir);
    const bool started =
        runner->Start(BuildCommandLine(s, path), dir, (s.assemblerFlags & kToolCloseWindowOnExit) != 0,
                      (s.assemblerFlags & kToolUseOutputWindow) != 0);
    if (!started && pane) {
        const int error = runner->StartError();
        if (error == CToolRunner::kSpawnNotFound || error == CToolRunner::kStartRefused)
            pane->AppendConsoleText(strings::kSpawnMissing);
        else
            pane->AppendConsoleText(
                QString::fromLatin1(strings::kStartFailed)
                    .arg(QDir::toNativeSeparators(dir), QString::fromLocal8Bit(std::strerror(error)))
                    .toUtf8());
    }
    frame->RequestUpdate();
}

bool StopBuild(CMainFrame* frame, CBuildRunner* runner) {
    if (!runner->Stop()) return false;
    if (auto* pane = qobject_cast<COutputPane*>(frame->OutputPane()))
        pane->PostConsoleText(QByteArray(strings::kBuildStopping));
    frame->RequestUpdate();
    return true;
}

void InstallBuildCommands(CMainFrame* frame, CBuildRunner* runner) {
    COxbrinApp* app = frame->App();
    auto* pane = qobject_cast<COutputPane*>(frame->OutputPane());
    if (pane) {
        runner->SetOutputPane(pane);
        pane->SetInputSink([runner](const char* bytes, qsizetype n) { runner->WriteInput(bytes, n); });
        pane->SetConsoleFont(app->Settings().outputFont, static_cast<int>(app->Settings().outputFontSize));
        QObject::connect(pane, &CConsolePane::PositionChanged, frame, [frame, pane] {
            if (pane->Control()->hasFocus()) frame->PositionPane()->setText(pane->PositionText());
        });
    }
    // A failed build ends with the summary in view, the messages scrolled
    // away above it in the small pane: the first message is brought back and
    // holds the caret, so Enter (or a double click) goes to its line.
    // After a clean build the pane has nothing to do with the keyboard any
    // more (the tool that read it is gone): typing goes back to the source.
    QObject::connect(runner, &CBuildRunner::ToolExited, frame, [frame, pane](int exitCode) {
        if (pane && exitCode != 0) {
            pane->ShowFirstErrorTag();
        } else if (pane && frame->focusWidget() == pane->Control()) {
            if (COxbrinView* view = frame->ActiveView()) view->setFocus();
        }
        frame->RequestUpdate();
    });

    auto activeDoc = [frame]() -> COxbrinDoc* {
        CChildFrame* child = frame->ActiveChild();
        return child ? child->Document() : nullptr;
    };

    frame->SetHandler(
        ID_BUILD_CURRENT,
        [frame, runner, activeDoc] {
            COxbrinDoc* doc = activeDoc();
            if (!doc || runner->IsRunning()) return;
            if (!doc->DoFileSave(frame)) return;
            BuildFile(frame, runner, doc->PathName());
        },
        [frame, runner, activeDoc] {
            COxbrinDoc* doc = activeDoc();
            QAction* a = frame->Action(ID_BUILD_CURRENT);
            QString text = QString::fromLatin1(strings::kBuildCurrent);
            if (doc) {
                // An untitled document is named by its caption until it has a file.
                const QString name = doc->PathName().isEmpty() ? doc->Title() : DisplayName(doc->PathName());
                text = QString::fromLatin1(strings::kBuildFile).arg(name);
            }
            if (a->text() != text) a->setText(text);
            return doc && !runner->IsRunning();
        });

    frame->SetHandler(
        ID_BUILD_PROJECT,
        [frame, runner, app, activeDoc] {
            const QString project = app->Settings().projectFile;
            if (project.isEmpty() || runner->IsRunning()) return;
            if (COxbrinDoc* doc = activeDoc()) {
                if (!doc->DoFileSave(frame)) return;
            }
            BuildFile(frame, runner, project);
        },
        [frame, runner, app] {
            const QString project = app->Settings().projectFile;
            QAction* a = frame->Action(ID_BUILD_PROJECT);
            const QString text =
                project.isEmpty() ? QString::fromLatin1(strings::kBuildProject)
                                  : QString::fromLatin1(strings::kBuildProjectFile).arg(DisplayName(project));
            if (a->text() != text) a->setText(text);
            return !project.isEmpty() && !runner->IsRunning();
        });

    frame->SetHandler(
        ID_BUILD_STOP, [frame, runner] { StopBuild(frame, runner); },
        [runner] { return runner->IsRunning() && !runner->IsStopping(); });
    // Ctrl+Break arrives as Ctrl+Pause on most systems, as Ctrl+Cancel on
    // some.
    if (QAction* stop = frame->Action(ID_BUILD_STOP))
        stop->setShortcuts({QKeySequence(Qt::CTRL | Qt::Key_Pause), QKeySequence(Qt::CTRL | Qt::Key_Cancel)});

    frame->SetHandler(
        ID_BUILD_SET_PROJECT,
        [app, activeDoc] {
            if (COxbrinDoc* doc = activeDoc()) app->Settings().projectFile = doc->PathName();
        },
        [app, activeDoc] {
            COxbrinDoc* doc = activeDoc();
            return doc && !doc->PathName().isEmpty() && doc->PathName() != app->Settings().projectFile;
        });
    frame->SetHandler(
        ID_BUILD_RELEASE_PROJECT, [app] { app->Settings().projectFile.clear(); },
        [app] { return !app->Settings().projectFile.isEmpty(); });

    // F4 and Shift+F4 walk the messages from anywhere; the pane comes into
    // view with the message selected in it.
    for (bool forward : {true, false}) {
        frame->SetHandler(forward ? ID_BUILD_NEXT_MESSAGE : ID_BUILD_PREV_MESSAGE, [frame, pane, forward] {
            if (!pane) return;
            if (!pane->GoToMessage(forward)) {
                frame->statusBar()->showMessage(QStringLiteral("The Output window holds no messages."));
                return;
            }
            if (pane->isHidden()) {
                pane->show();
                if (COxbrinView* view = frame->ActiveView()) view->setFocus();
            }
        });
    }
    // The messages' marks in the gutters of the sources they name, brought
    // up to date once the output has settled and whenever a document comes.
    auto* marks = new QTimer(frame);
    marks->setSingleShot(true);
    marks->setInterval(150);
    QObject::connect(marks, &QTimer::timeout, frame, [frame, pane] {
        if (!pane) return;
        const QList<COutputPane::Message> messages = pane->Messages();
        QHash<QString, QList<COxbrinView::Message>> byFile;
        for (const COutputPane::Message& m : messages) {
            const QFileInfo info(m.path);
            const QString key = info.exists() ? info.canonicalFilePath() : info.absoluteFilePath();
            byFile[key].append({m.line, m.text, m.error});
        }
        for (CChildFrame* child : frame->App()->Children()) {
            const QString path = child->Document()->PathName();
            QList<COxbrinView::Message> mine;
            if (!path.isEmpty()) {
                const QFileInfo info(path);
                mine = byFile.value(info.exists() ? info.canonicalFilePath() : info.absoluteFilePath());
            }
            child->View()->SetMessages(mine);
        }
    });
    if (pane)
        QObject::connect(pane->Control()->document(), &QTextDocument::contentsChanged, marks,
                         qOverload<>(&QTimer::start));
    QObject::connect(frame->MdiArea(), &QMdiArea::subWindowActivated, marks, qOverload<>(&QTimer::start));

    // The Output pane's commands.
    frame->SetHandler(
        kIdGoToErrorTag,
        [pane] {
            if (pane) pane->GoToErrorTag();
        },
        [pane] { return pane && pane->CaretLineHasTag(); });
    frame->SetHandler(
        kIdOutputClear,
        [pane] {
            if (pane) pane->ClearText();
        },
        [pane] { return pane && pane->HasText(); });
    // Erase All empties whichever console pane has the focus.
    auto focusedConsole = []() -> CConsolePane* {
        for (QWidget* w = QApplication::focusWidget(); w; w = w->parentWidget()) {
            if (auto* c = qobject_cast<CConsolePane*>(w)) return c;
        }
        return nullptr;
    };
    frame->SetHandler(
        ID_EDIT_CLEAR_ALL,
        [focusedConsole] {
            if (CConsolePane* c = focusedConsole()) c->ClearText();
        },
        [focusedConsole] {
            CConsolePane* c = focusedConsole();
            return c && c->HasText();
        });

    // The Options sheet, opened on the page each menu is about.
    frame->SetHandler(ID_VIEW_OPTIONS, [frame] { CDlgOptions::Open(frame, CDlgOptions::kPageGeneral); });
    frame->SetHandler(ID_TERMINAL_OPTIONS, [frame] { CDlgOptions::Open(frame, CDlgOptions::kPageTerminal); });
    frame->SetHandler(ID_BUILD_OPTIONS, [frame] { CDlgOptions::Open(frame, CDlgOptions::kPageAssembler); });
}

} // namespace oxbrin
