#include "oxbrinapp.h"

#include "build/buildrunner.h"
#include "childframe.h"
#include "commands.h"
#include "debug/debugcontrol.h"
#include "editor/highlighter.h"
#include "editor/oxbrindoc.h"
#include "editor/oxbrinview.h"
#include "link/downloadcontrol.h"
#include "link/terminalpane.h"
#include "link/terminalport.h"
#include "mainframe.h"
#include "prompts.h"

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMdiArea>
#include <QPrinter>
#include <QSettings>
#include <QStatusBar>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>

namespace oxbrin {

COxbrinApp::COxbrinApp(std::unique_ptr<QSettings> store)
    : store_(std::move(store)), terminalPort_(std::make_unique<CTerminalPort>()) {
    if (!store_)
        store_ = std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, kOrganisation,
                                             kApplication);
}

COxbrinApp::~COxbrinApp() {
    // The port's reader thread writes into the Terminal pane; it ends first.
    terminalPort_->Close();
    terminalPort_->SetReceiveSink(nullptr);
    // A download is paced from that thread; its state goes after the port is closed.
    downloads_.reset();
    // The debugger's worker reports to the window; it ends before the frame.
    delete debugger_;
    debugger_ = nullptr;
    // The tool runner's thread writes into the Output pane; it ends first.
    if (toolRunner_) toolRunner_->Shutdown();
    // Documents belong to the frame's children; close them without prompts.
    if (frame_) {
        for (CChildFrame* child : Children()) child->CloseWithoutPrompt();
    }
    frame_.reset();
}

QPrinter* COxbrinApp::Printer() {
    if (!printer_) printer_ = std::make_unique<QPrinter>(QPrinter::HighResolution);
    return printer_.get();
}

bool COxbrinApp::InitInstance(const QStringList& args) {
    // A file named on the command line is relative to the folder the program
    // was started in, not to the stored current folder applied below.
    const QString startFolder = QDir::currentPath();
    settings_ = SettingsBlock();
    recent_ = LoadRecentFiles(*store_);
    LoadSettings(*store_, settings_);
    terminalPort_->LoadFrom(settings_);

    frame_ = std::make_unique<CMainFrame>(this);
    if (!frame_->Create()) return false;
    toolRunner_ = std::make_unique<CBuildRunner>();
    InstallBuildCommands(frame_.get(), toolRunner_.get());
    // An S-record file or a listing is the assembler's output: built, it
    // would be replaced by the build's own output.
    frame_->SetGuard(ID_BUILD_CURRENT, [this] {
        CChildFrame* child = frame_->ActiveChild();
        return !child ||
               MayBuild(child->Document()->PathName(), child->Document()->TextDocument()->toPlainText());
    });
    frame_->SetGuard(ID_BUILD_PROJECT, [this] {
        const QString project = settings_.projectFile;
        DecodedText decoded;
        QString ignored;
        // An unreadable project file is left to the assembler to report.
        return project.isEmpty() ||
               MayBuild(project,
                        COxbrinDoc::ReadDocumentFile(project, decoded, ignored) ? decoded.text : QString());
    });
    if (!toolRunner_->Initialise()) {
        ShowMessage(frame_.get(), QString::fromLatin1(strings::kRedirectionFailed), QMessageBox::Warning);
        return false;
    }
    debugger_ = new CDebugControl(frame_.get(), toolRunner_.get(), &settings_, store_.get());
    InstallTerminal(frame_.get(), terminalPort_.get());
    downloads_ = std::make_unique<CDownloadControl>(frame_.get(), terminalPort_.get(), &settings_);
    frame_->setAcceptDrops(true);
    // Back from another program, which may have changed an open file.
    connect(qApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
        if (state == Qt::ApplicationActive) QTimer::singleShot(0, this, &COxbrinApp::CheckDocumentsOnDisk);
    });

    // A plain start opens no document; a file argument opens that file.
    if (!args.isEmpty() && !args.front().isEmpty()) {
        if (!OpenDocumentFile(QDir(startFolder).absoluteFilePath(args.front()))) return false;
    }

    const QByteArray placement = LoadWindowPlacement(*store_);
    if (!placement.isEmpty()) frame_->restoreGeometry(placement);
    frame_->show();
    frame_->UpdateCommandUI();
    return true;
}

void COxbrinApp::ExitInstance() {
    SaveRecentFiles(*store_, recent_);
    terminalPort_->StoreTo(settings_);
    SaveSettings(*store_, settings_);
}

QList<CChildFrame*> COxbrinApp::Children() const {
    QList<CChildFrame*> list;
    if (!frame_) return list;
    for (QMdiSubWindow* w : frame_->MdiArea()->subWindowList(QMdiArea::CreationOrder)) {
        if (auto* child = qobject_cast<CChildFrame*>(w)) list << child;
    }
    return list;
}

QList<COxbrinDoc*> COxbrinApp::Documents() const {
    QList<COxbrinDoc*> docs;
    for (CChildFrame* child : Children()) docs << child->Document();
    return docs;
}

CChildFrame* COxbrinApp::CreateChild(COxbrinDoc* doc) {
    ApplyColourScheme();
    auto* child = new CChildFrame(doc);
    COxbrinView* view = child->View();
    view->ApplyEditorFormat(static_cast<int>(settings_.editorFontSize), settings_.editorFont,
                            static_cast<int>(settings_.editorTabStops), settings_.syntaxHighlighting != 0);
    connect(doc, &COxbrinDoc::Saved, this, &COxbrinApp::AddToRecentFileList);
    connect(doc, &COxbrinDoc::StatusNote, frame_.get(), [this](const QString& text) {
        if (frame_) frame_->statusBar()->showMessage(text, 15000);
    });
    frame_->AddChild(child);
    return child;
}

COxbrinDoc* COxbrinApp::FileNew() {
    auto* doc = new COxbrinDoc;
    doc->SetUntitledNumber(++untitledCount_);
    CreateChild(doc);
    return doc;
}

void COxbrinApp::FileOpen() {
    FileRequest req{false, QStringLiteral("Open"), QString(), QtFileFilter(strings::kFileFilter)};
    const QStringList names = AskFileNames(frame_.get(), req);
    // The folder chosen becomes the current one, where the next dialog
    // starts and which is remembered at exit.
    if (!names.isEmpty()) QDir::setCurrent(QFileInfo(names.front()).absolutePath());
    for (const QString& name : names) OpenDocumentFile(name);
}

COxbrinDoc* COxbrinApp::OpenDocumentFile(const QString& path) {
    const QFileInfo info(path);
    const QString absolute = info.absoluteFilePath();
    for (CChildFrame* child : Children()) {
        const QString open = child->Document()->PathName();
        if (!open.isEmpty() && (open == absolute || (info.exists() && QFileInfo(open) == info))) {
            frame_->MdiArea()->setActiveSubWindow(child);
            return child->Document();
        }
    }
    QString error;
    DecodedText decoded;
    if (info.isDir()) {
        error = QStringLiteral("Cannot open %1.\nIt is a folder.").arg(QDir::toNativeSeparators(absolute));
    } else if (COxbrinDoc::ReadDocumentFile(absolute, decoded, error)) {
        // The view exists, with its font, before the text arrives: the text
        // is then laid out once, not once more for the font.
        auto* doc = new COxbrinDoc;
        CChildFrame* child = CreateChild(doc);
        child->View()->LoadText([&] { doc->SetContents(absolute, decoded); },
                                decoded.text.count(QLatin1Char('\n')) + 1);
        child->View()->setTextCursor(QTextCursor(child->View()->document()));
        AddToRecentFileList(doc->PathName());
        return doc;
    }
    ShowMessage(frame_.get(), error, QMessageBox::Warning);
    return nullptr;
}

bool COxbrinApp::SaveAll() {
    for (COxbrinDoc* doc : Documents()) {
        if (doc->IsModified() && !doc->DoFileSave(frame_.get())) return false;
    }
    return true;
}

bool COxbrinApp::SaveAllModified() {
    for (CChildFrame* child : Children()) {
        if (!child->Document()->SaveModified(frame_.get())) return false;
    }
    return true;
}

void COxbrinApp::CloseAllDocuments() {
    for (CChildFrame* child : Children()) child->CloseWithoutPrompt();
}

void COxbrinApp::CloseAll() {
    if (SaveAllModified()) CloseAllDocuments();
}

void COxbrinApp::AddToRecentFileList(const QString& path) {
    if (path.isEmpty()) return;
    const QString native = QDir::toNativeSeparators(path);
    recent_.removeAll(native);
    recent_.prepend(native);
    while (recent_.size() > kRecentFileCount) recent_.removeLast();
    emit RecentFilesChanged();
}

void COxbrinApp::RemoveFromRecentFileList(const QString& path) {
    if (recent_.removeAll(path) > 0) emit RecentFilesChanged();
}

void COxbrinApp::CheckDocumentsOnDisk() {
    for (COxbrinDoc* doc : Documents()) doc->CheckFileOnDisk();
}

bool COxbrinApp::MayBuild(const QString& path, const QString& text) {
    const QString why = COxbrinDoc::WhyNotASource(path, text);
    if (why.isEmpty()) return true;
    const QString name = path.isEmpty() ? QStringLiteral("this document") : QDir::toNativeSeparators(path);
    ShowMessage(frame_.get(), QStringLiteral("%1 is not built.\n%2").arg(name, why), QMessageBox::Warning);
    return false;
}

void COxbrinApp::ApplyColourScheme() {
    const ColourScheme desktop = ColourScheme::ForDesktop();
    SetActiveScheme(
        settings_.editorColours.isEmpty() ? desktop : ColourScheme::Decode(settings_.editorColours, desktop));
}

void COxbrinApp::ApplyEditorFormatToAll() {
    ApplyColourScheme();
    if (frame_) frame_->ApplyDocumentMode();
    for (CChildFrame* child : Children()) {
        child->View()->ApplyEditorFormat(static_cast<int>(settings_.editorFontSize), settings_.editorFont,
                                         static_cast<int>(settings_.editorTabStops),
                                         settings_.syntaxHighlighting != 0);
    }
}

} // namespace oxbrin
