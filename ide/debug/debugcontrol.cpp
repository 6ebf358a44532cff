#include "debugcontrol.h"

#include "board/board.h"
#include "build/buildrunner.h"
#include "build/consolepane.h"
#include "build/outputpane.h"
#include "editor/oxbrindoc.h"
#include "editor/oxbrinview.h"
#include "link/downloadcontrol.h"
#include "link/registerbar.h"
#include "link/terminalpane.h"
#include "memorypane.h"
#include "shell/childframe.h"
#include "shell/commands.h"
#include "shell/mainframe.h"
#include "shell/oxbrinapp.h"
#include "shell/settings.h"
#include "watchpane.h"

#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPlainTextEdit>
#include <QSettings>
#include <QStatusBar>
#include <QTextBlock>
#include <QTextDocument>
#include <QTimer>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

namespace oxbrin {

namespace {

// The settings value holding every file's breakpoints: one entry a file,
// "lines|path" with the lines in FileBreakpoints' text form.
QString BreakpointsKey() { return SettingsGroup() + QStringLiteral("/Debug/Breakpoints"); }

// While running, the window reads the session's snapshot this often: the
// registers and cycles stay live without the GUI thread doing more than a
// few copies ten times a second.
constexpr int kRefreshMs = 100;

// The lines of disassembly the register pane shows from the PC on.
constexpr unsigned kCodeLines = 8;

bool IsFault(qorb::debug::StopReason reason) {
    using R = qorb::debug::StopReason;
    return reason == R::IllegalOpcode || reason == R::AccessFault || reason == R::Stopped ||
           reason == R::CycleLimit;
}

} // namespace

// The board's serial line while debugging: what the program sends goes to
// the Terminal pane, keys typed there and downloads wait in a queue the
// worker takes from. A download's pacing (the queue ran empty, the board
// answered) is served on the line's own thread, as the serial port's reader
// thread serves a real line: the simulator's worker never waits for a
// download, nor the window.
class CDebugControl::SimulatedLine : public qorb::sim::SerialPort, public CStandInLine {
public:
    SimulatedLine(CTerminalPane* pane, CTransferHook* hook)
        : pane_(pane), hook_(hook), thread_([this] { Serve(); }) {}
    ~SimulatedLine() override { Close(); }

    // Ends the line's thread; what waits to be sent is dropped.
    void Close() {
        {
            std::lock_guard lock(mutex_);
            if (closed_) return;
            closed_ = true;
            in_.clear();
        }
        wake_.notify_all();
        drained_.notify_all();
        if (thread_.joinable()) thread_.join();
    }

    void Type(const QByteArray& bytes) { Write(bytes.constData(), std::size_t(bytes.size())); }

    // qorb::sim::SerialPort, on the worker thread.
    bool Available() override {
        std::lock_guard lock(mutex_);
        return !in_.empty();
    }
    std::uint8_t Take() override {
        std::uint8_t c = 0;
        {
            std::lock_guard lock(mutex_);
            if (in_.empty()) return 0;
            c = in_.front();
            in_.pop_front();
            if (!in_.empty()) return c;
            txEmpty_ = true;
        }
        wake_.notify_all();
        drained_.notify_all();
        return c;
    }
    bool Put(std::uint8_t byte) override {
        // The pane queues what it is given for the GUI thread.
        pane_->ReceiveBytes(&byte, 1);
        if (!hook_ || !hook_->TransferActive()) return true;
        {
            std::lock_guard lock(mutex_);
            received_.push_back(char(byte));
        }
        wake_.notify_all();
        return true;
    }

    // CStandInLine: a download's side.
    bool Write(const void* bytes, std::size_t count) override {
        std::lock_guard lock(mutex_);
        if (closed_) return false;
        const auto* p = static_cast<const std::uint8_t*>(bytes);
        in_.insert(in_.end(), p, p + count);
        return true;
    }
    void Flush() override {
        // Until the program's receiver has taken the lot; a paused program
        // holds it as a board holds its line (Stop Transfer cancels).
        std::unique_lock lock(mutex_);
        drained_.wait(lock, [this] { return in_.empty() || closed_; });
    }
    void Cancel() override {
        {
            std::lock_guard lock(mutex_);
            in_.clear();
        }
        drained_.notify_all();
    }
    bool IsOpen() override {
        std::lock_guard lock(mutex_);
        return !closed_;
    }
    bool Post(std::function<void()> task) override {
        {
            std::lock_guard lock(mutex_);
            if (closed_) return false;
            tasks_.push_back(std::move(task));
        }
        wake_.notify_all();
        return true;
    }

private:
    void Serve() {
        std::unique_lock lock(mutex_);
        for (;;) {
            wake_.wait(lock, [this] { return closed_ || !tasks_.empty() || txEmpty_ || !received_.empty(); });
            if (closed_) return;
            std::deque<std::function<void()>> tasks;
            tasks.swap(tasks_);
            std::string received;
            received.swap(received_);
            const bool txEmpty = std::exchange(txEmpty_, false);
            lock.unlock();
            for (auto& task : tasks) task();
            if (hook_ && !received.empty())
                hook_->OnTransferReceive(reinterpret_cast<const std::uint8_t*>(received.data()),
                                         received.size());
            if (hook_ && txEmpty) hook_->OnTransferTxEmpty();
            lock.lock();
        }
    }

    CTerminalPane* pane_;
    CTransferHook* hook_;
    std::mutex mutex_;
    std::condition_variable wake_, drained_;
    std::deque<std::uint8_t> in_;
    std::deque<std::function<void()>> tasks_;
    std::string received_;
    bool txEmpty_ = false;
    bool closed_ = false;
    std::thread thread_; // last: starts when everything it uses is there
};

CDebugControl::CDebugControl(CMainFrame* frame, CBuildRunner* runner, SettingsBlock* settings,
                             QSettings* store)
    : QObject(frame), frame_(frame), runner_(runner), settings_(settings), store_(store),
      timer_(new QTimer(this)) {
    timer_->setInterval(kRefreshMs);
    connect(timer_, &QTimer::timeout, this, &CDebugControl::OnTick);
    LoadBreakpoints();
    frame_->WatchPane()->SetStore(store_, SettingsGroup() + QStringLiteral("/Debug/Watches"));

    auto hasDoc = [frame] { return frame->ActiveChild() != nullptr; };
    auto paused = [this] { return IsPaused(); };
    frame->SetHandler(
        ID_DEBUG_START, [this] { StartOrContinue(); },
        [this, frame] {
            // The one key starts and continues; the item says which it does now.
            QAction* a = frame->Action(ID_DEBUG_START);
            const QString text =
                session_ ? QStringLiteral("&Continue\tF5") : QStringLiteral("&Start Debugging\tF5");
            if (a->text() != text) a->setText(text);
            if (session_) return !session_->Running();
            return frame->ActiveChild() != nullptr && buildPending_.isEmpty() && !runner_->IsRunning();
        });
    frame->SetHandler(
        ID_DEBUG_PAUSE,
        [this] {
            if (session_) session_->Pause();
        },
        [this] { return session_ && session_->Running(); });
    frame->SetHandler(
        ID_DEBUG_STOP, [this] { StopDebugging(); }, [this] { return session_ != nullptr; });
    frame->SetHandler(
        ID_DEBUG_STEP_INTO, [this] { Run(&qorb::debug::Session::StepInto); }, paused);
    frame->SetHandler(
        ID_DEBUG_STEP_OVER, [this] { Run(&qorb::debug::Session::StepOver); }, paused);
    frame->SetHandler(
        ID_DEBUG_STEP_OUT, [this] { Run(&qorb::debug::Session::StepOut); }, paused);
    frame->SetHandler(
        ID_DEBUG_RUN_TO_CURSOR, [this] { RunToCursor(); },
        [this, frame] { return IsPaused() && frame->ActiveView() != nullptr; });
    frame->SetHandler(
        ID_DEBUG_TOGGLE_BREAKPOINT,
        [this, frame] {
            if (COxbrinView* view = frame->ActiveView()) ToggleBreakpoint(view, view->CaretLine());
        },
        hasDoc);
    frame->SetHandler(
        ID_DEBUG_DELETE_BREAKPOINTS, [this] { DeleteAllBreakpoints(); },
        [this] { return !breakpoints_.empty(); });

    // The Watch pane shows the list of the program being debugged, else
    // that of the file in front.
    connect(frame->MdiArea(), &QMdiArea::subWindowActivated, this, &CDebugControl::ShowWatchesOfFile);

    // Every editor shown gets its file's breakpoints and reports gutter
    // clicks and edits.
    connect(frame, &CMainFrame::ViewAdded, this, &CDebugControl::Hook);
    connect(runner, &CBuildRunner::ToolExited, this, [this](int exitCode) {
        if (buildPending_.isEmpty()) return;
        const QString source = buildPending_;
        buildPending_.clear();
        if (exitCode == 0)
            OpenSession(source);
        else
            Report(QStringLiteral("The build failed: debugging did not start."), false);
        frame_->RequestUpdate();
    });
    connect(frame->RegisterBar(), &CRegisterBar::RegisterEdited, this, &CDebugControl::OnRegisterEdited);
}

CDebugControl::~CDebugControl() {
    // The memory pane outlives the session (an open cell editor commits
    // into it when the window goes).
    frame_->MemoryPane()->SetSession(nullptr);
    frame_->WatchPane()->SetSession(nullptr);
    // The worker ends before anything it could report to goes.
    session_.reset();
    DetachLine();
}

void CDebugControl::ShowWatchesOfFile() {
    QString path = debuggedSource_;
    if (path.isEmpty()) {
        if (CChildFrame* child = frame_->ActiveChild()) path = child->Document()->PathName();
    }
    frame_->WatchPane()->SetFile(path);
}

void CDebugControl::DetachLine() {
    if (!line_) return;
    if (auto* pane = qobject_cast<CTerminalPane*>(frame_->TerminalPane())) pane->SetKeyRoute({});
    // A download on the line ends with it; the line's thread ends before
    // downloads go to the port again.
    CDownloadControl* downloads = frame_->App()->Downloads();
    if (downloads && downloads->StandInLine() == line_.get()) downloads->StopDownload();
    line_->Close();
    if (downloads && downloads->StandInLine() == line_.get()) downloads->SetStandInLine(nullptr);
    line_.reset();
}

QList<int> CDebugControl::Breakpoints(const QString& path) const {
    auto it = breakpoints_.find(path);
    if (it == breakpoints_.end()) return {};
    const std::vector<int> lines = it->second.Lines();
    return QList<int>(lines.begin(), lines.end());
}

void CDebugControl::Report(const QString& text, bool toOutput) {
    frame_->statusBar()->showMessage(text);
    if (toOutput) {
        if (auto* pane = qobject_cast<COutputPane*>(frame_->OutputPane())) {
            pane->AppendConsoleText((text + QLatin1Char('\n')).toUtf8());
            pane->show();
        }
    }
}

void CDebugControl::StartOrContinue() {
    if (session_) {
        Run(&qorb::debug::Session::Continue);
        return;
    }
    if (!buildPending_.isEmpty() || runner_->IsRunning()) return;
    CChildFrame* child = frame_->ActiveChild();
    if (!child) return;
    COxbrinDoc* doc = child->Document();
    if (!doc->DoFileSave(frame_)) return;
    const QString source = doc->PathName();
    const QFileInfo src(source);
    const QString base = src.absolutePath() + QLatin1Char('/') + src.completeBaseName();
    const QFileInfo object(base + QStringLiteral(".s19")), map(base + QStringLiteral(".dbg"));
    // Built when the object or its line map is missing or older than the
    // source; an include file changed since is not seen (build by hand).
    if (object.exists() && map.exists() && object.lastModified() >= src.lastModified() &&
        map.lastModified() >= src.lastModified()) {
        OpenSession(source);
        return;
    }
    buildPending_ = source;
    BuildFile(frame_, runner_, source);
    if (!runner_->IsRunning()) {
        // It did not start; the Output pane says why.
        buildPending_.clear();
    }
}

void CDebugControl::OpenSession(const QString& source) {
    const QFileInfo src(source);
    const QString base = src.absolutePath() + QLatin1Char('/') + src.completeBaseName();
    qorb::debug::SessionOptions options;
    options.object = QDir::toNativeSeparators(base + QStringLiteral(".s19")).toStdString();
    options.map = QDir::toNativeSeparators(base + QStringLiteral(".dbg")).toStdString();
    options.board = settings_->targetBoard.trimmed().isEmpty()
                        ? std::string("flat")
                        : settings_->targetBoard.trimmed().toStdString();
    // A board with a serial line runs at its own speed, so characters move
    // at the line's rate and a program waiting for a key does not spin the
    // host; the flat board has no line and runs flat out.
    options.realTime = options.board != "flat";
    std::string error;
    session_ = qorb::debug::Session::Open(options, error);
    if (!session_) {
        Report(QStringLiteral("Debugging could not start: %1").arg(QString::fromStdString(error)), true);
        return;
    }
    objectDir_ = src.absolutePath();
    debuggedSource_ = source;
    ShowWatchesOfFile();
    shownStops_ = 0;
    // The memory as loaded: the first stop marks what the program changed.
    frame_->MemoryPane()->SetSession(session_.get());
    frame_->MemoryPane()->ShowStopped();
    frame_->WatchPane()->SetSession(session_.get());
    if (auto* pane = qobject_cast<CTerminalPane*>(frame_->TerminalPane()); pane && options.board != "flat") {
        CDownloadControl* downloads = frame_->App()->Downloads();
        auto line = std::make_unique<SimulatedLine>(pane, downloads);
        std::string lineError;
        if (downloads && session_->AttachSerial(line.get(), lineError)) {
            line_ = std::move(line);
            // Download File sends to the program on the simulated board.
            downloads->SetStandInLine(line_.get());
            pane->SetKeyRoute([this](const QByteArray& bytes) {
                if (line_) line_->Type(bytes);
            });
            pane->show();
        }
    }
    // Called on the worker thread: only a queued call crosses to the window.
    session_->SetStopCallback(
        [this] { QMetaObject::invokeMethod(this, &CDebugControl::OnStopped, Qt::QueuedConnection); });
    for (const auto& [path, lines] : breakpoints_) PushBreakpoints(path);
    QString started = QStringLiteral("Debugging %1 on the board %2")
                          .arg(src.fileName(), QString::fromStdString(options.board));
    // A board that starts in its firmware (a monitor) leaves the program
    // waiting for the user's command: the session's load message says how,
    // where the user will look.
    const qorb::debug::Snapshot loaded = session_->GetSnapshot();
    const bool waits = loaded.stop.chain.empty();
    if (waits) started += QStringLiteral(": ") + QString::fromStdString(loaded.stop.message);
    Report(started, waits);
    Run(&qorb::debug::Session::Continue);
}

void CDebugControl::StopDebugging() {
    if (!session_) return;
    timer_->stop();
    frame_->MemoryPane()->SetSession(nullptr);
    frame_->WatchPane()->SetSession(nullptr);
    // Pauses the run and joins the worker; a queued stop report finds no
    // session and does nothing.
    session_.reset();
    DetachLine();
    debuggedSource_.clear();
    ShowWatchesOfFile();
    ClearExecutionLine();
    frame_->RegisterBar()->ClearValues();
    Report(QStringLiteral("Debugging ended"), false);
    frame_->RequestUpdate();
}

void CDebugControl::Run(bool (qorb::debug::Session::*command)(std::string*)) {
    if (!session_) return;
    std::string error;
    if (!((*session_).*command)(&error)) {
        Report(QString::fromStdString(error), false);
        return;
    }
    ClearExecutionLine();
    timer_->start();
    frame_->statusBar()->showMessage(QStringLiteral("Running"));
    frame_->RequestUpdate();
}

void CDebugControl::RunToCursor() {
    COxbrinView* view = frame_->ActiveView();
    if (!session_ || !view) return;
    std::string error;
    const QString path = view->GetDocument()->PathName();
    if (!session_->RunToLine(QDir::toNativeSeparators(path).toStdString(), view->CaretLine(), &error)) {
        Report(QString::fromStdString(error), false);
        return;
    }
    ClearExecutionLine();
    timer_->start();
    frame_->RequestUpdate();
}

void CDebugControl::OnTick() {
    if (!session_) return;
    const qorb::debug::Snapshot snap = session_->GetSnapshot();
    if (!snap.running) {
        // The queued report is on its way; this covers one lost with its
        // window (never, in practice) without waiting for it.
        if (snap.stops != shownStops_) OnStopped();
        return;
    }
    CRegisterBar::Values v;
    v.a = snap.regs.a, v.b = snap.regs.b, v.x = snap.regs.x, v.y = snap.regs.y;
    v.sp = snap.regs.sp, v.pc = snap.regs.pc, v.ccr = snap.regs.ccr;
    frame_->RegisterBar()->ShowValues(v);
    ShowRegisterPane(snap, false);
    frame_->MemoryPane()->ShowRunning(snap);
}

void CDebugControl::OnStopped() {
    if (!session_ || session_->Running()) return;
    const qorb::debug::Snapshot snap = session_->GetSnapshot();
    if (snap.stops == shownStops_) return;
    shownStops_ = snap.stops;
    timer_->stop();
    ShowRegisters();
    ShowRegisterPane(snap, true);
    frame_->MemoryPane()->ShowStopped();
    frame_->WatchPane()->Refresh();
    ShowExecutionLine(snap);
    Report(QString::fromStdString(snap.stop.message), IsFault(snap.stop.reason));
    frame_->RequestUpdate();
    emit ProgramStopped();
}

void CDebugControl::ShowRegisters() {
    qorb::sim::Registers r;
    if (!session_ || !session_->GetRegisters(r)) return;
    CRegisterBar::Values v;
    v.a = r.a, v.b = r.b, v.x = r.x, v.y = r.y, v.sp = r.sp, v.pc = r.pc, v.ccr = r.ccr;
    frame_->RegisterBar()->ShowValues(v);
}

void CDebugControl::ShowRegisterPane(const qorb::debug::Snapshot& snap, bool withCode) {
    auto* pane = qobject_cast<CConsolePane*>(frame_->VarnelPane());
    if (!pane) return;
    QString text =
        QStringLiteral("Cycles: %1 (since the last stop: %2)\n").arg(snap.cycles).arg(snap.cyclesSinceStop);
    if (withCode && session_) {
        text += QLatin1Char('\n');
        for (const qorb::debug::DisassembledLine& line : session_->Disassemble(snap.regs.pc, kCodeLines)) {
            QString bytes;
            for (std::uint8_t b : line.bytes)
                bytes += QStringLiteral("%1 ").arg(b, 2, 16, QLatin1Char('0')).toUpper();
            text += QStringLiteral("%1%2  %3%4%5\n")
                        .arg(line.address == snap.regs.pc ? QStringLiteral("> ") : QStringLiteral("  "))
                        .arg(line.address, 4, 16, QLatin1Char('0'))
                        .arg(bytes.leftJustified(15))
                        .arg(QString::fromStdString(line.text).leftJustified(24))
                        .arg(QString::fromStdString(line.source));
        }
    } else if (!withCode) {
        text += QStringLiteral("\nRunning\n");
    }
    pane->Control()->setPlainText(text);
}

QString CDebugControl::SourcePath(unsigned mapFile) const {
    if (!session_ || mapFile == 0) return {};
    const QString name = QString::fromStdString(session_->Map().FileName(mapFile));
    return QDir::cleanPath(QDir(objectDir_).absoluteFilePath(QDir::fromNativeSeparators(name)));
}

void CDebugControl::ShowExecutionLine(const qorb::debug::Snapshot& snap) {
    ClearExecutionLine();
    const auto& chain = snap.stop.chain;
    if (chain.empty() || snap.stop.level >= chain.size()) return;
    const qorb::debug::SourcePlace place = chain[snap.stop.level];
    const QString path = SourcePath(place.file);
    if (path.isEmpty() || !QFileInfo::exists(path)) return;
    // A file that is not open opens; an open one comes to the front.
    COxbrinApp* app = frame_->App();
    if (!app->OpenDocumentFile(path)) return;
    COxbrinView* view = frame_->ActiveView();
    if (!view) return;
    Hook(view);
    view->SetExecutionLine(place.line);
    view->GoToLine(place.line, 1);
}

void CDebugControl::ClearExecutionLine() {
    for (CChildFrame* child : frame_->App()->Children()) {
        if (COxbrinView* view = child->View()) view->SetExecutionLine(0);
    }
}

void CDebugControl::OnRegisterEdited(const QString& name, const QString& text) {
    if (!IsPaused()) {
        Report(QStringLiteral("Registers can be changed while a program is paused in the debugger."), false);
        return;
    }
    QString digits = text.trimmed();
    int base = 16;
    if (digits.startsWith(QLatin1Char('$'))) {
        digits.remove(0, 1);
    } else if (digits.startsWith(QLatin1Char('%'))) {
        digits.remove(0, 1);
        base = 2;
    } else if (name == QLatin1String("CCR") && digits.size() == 8 &&
               digits.count(QLatin1Char('0')) + digits.count(QLatin1Char('1')) == 8) {
        // The CCR field shows its bits under "SXHINZFC"; typed the same way.
        base = 2;
    }
    bool ok = false;
    const uint value = digits.toUInt(&ok, base);
    const uint limit =
        name == QLatin1String("A") || name == QLatin1String("B") || name == QLatin1String("CCR") ? 0xFF
                                                                                                 : 0xFFFF;
    std::string error;
    if (!ok || value > limit) {
        Report(QStringLiteral("'%1' is not a value for %2 (hexadecimal up to %3)")
                   .arg(text, name, QString::number(limit, 16).toUpper()),
               false);
    } else if (!session_->SetRegister(name.toStdString(), value, error)) {
        Report(QString::fromStdString(error), false);
    }
    ShowRegisters();
    if (session_) ShowRegisterPane(session_->GetSnapshot(), true);
}

// ---------------------------------------------------------------------------
// Breakpoints

void CDebugControl::Hook(COxbrinView* view) {
    if (hooked_.contains(view)) return;
    hooked_.insert(view);
    connect(view, &QObject::destroyed, this, [this, view] { hooked_.remove(view); });
    connect(view, &COxbrinView::GutterClicked, this,
            [this, view](int line) { ToggleBreakpoint(view, line); });
    QTextDocument* doc = view->GetDocument()->TextDocument();
    if (!blockCounts_.contains(doc)) {
        blockCounts_.insert(doc, doc->blockCount());
        connect(doc, &QObject::destroyed, this, [this, doc] { blockCounts_.remove(doc); });
        connect(doc, &QTextDocument::contentsChange, this, [this, doc](int position, int removed, int added) {
            OnContentsChange(doc, position, removed, added);
        });
    }
    // The view joins before its file is read, and Save As renames it: the
    // breakpoints shown follow the document's name.
    // (Tied to this object, which goes before the documents at exit.)
    connect(view->GetDocument(), &COxbrinDoc::TitleChanged, this,
            [this, shown = QPointer<COxbrinView>(view)] {
                if (shown) shown->SetBreakpointLines(Breakpoints(shown->GetDocument()->PathName()));
                ShowWatchesOfFile();
            });
    view->SetBreakpointLines(Breakpoints(view->GetDocument()->PathName()));
}

void CDebugControl::OnContentsChange(QTextDocument* doc, int position, int /*removed*/, int added) {
    const int before = blockCounts_.value(doc, doc->blockCount());
    const int after = doc->blockCount();
    blockCounts_[doc] = after;
    if (before == after) return;
    QString path;
    for (CChildFrame* child : frame_->App()->Children()) {
        if (child->Document()->TextDocument() == doc) path = child->Document()->PathName();
    }
    auto it = breakpoints_.find(path);
    if (path.isEmpty() || it == breakpoints_.end()) return;
    const QTextBlock block = doc->findBlock(position);
    const int line = block.blockNumber() + 1;
    qorb::debug::LineEdit edit;
    edit.line = line;
    if (after > before) {
        // Whole lines put in at a line's start push that line down with
        // its breakpoint; a break typed inside a line leaves it in place.
        const QChar last = added > 0 ? doc->characterAt(position + added - 1) : QChar();
        if (position == block.position() && last == QChar::ParagraphSeparator) {
            edit.removed = 0;
            edit.inserted = after - before;
        } else {
            edit.removed = 1;
            edit.inserted = 1 + after - before;
        }
    } else {
        edit.removed = 1 + before - after;
        edit.inserted = 1;
    }
    it->second.Apply(edit);
    if (it->second.Empty()) breakpoints_.erase(it);
    Refresh(path);
    SaveBreakpoints();
}

void CDebugControl::ToggleBreakpoint(COxbrinView* view, int line) {
    const QString path = view->GetDocument()->PathName();
    if (path.isEmpty()) {
        Report(QStringLiteral("Save the file before setting breakpoints in it."), false);
        return;
    }
    Hook(view);
    breakpoints_[path].Toggle(line);
    if (breakpoints_[path].Empty()) breakpoints_.erase(path);
    PushBreakpoints(path);
    Refresh(path);
    SaveBreakpoints();
    frame_->RequestUpdate();
}

void CDebugControl::DeleteAllBreakpoints() {
    const auto old = std::move(breakpoints_);
    breakpoints_.clear();
    if (session_) session_->ClearBreakpoints();
    for (const auto& [path, lines] : old) Refresh(path);
    SaveBreakpoints();
    frame_->RequestUpdate();
}

void CDebugControl::PushBreakpoints(const QString& path) {
    if (!session_) return;
    const QList<int> lines = Breakpoints(path);
    const auto placed = session_->SetLineBreakpoints(QDir::toNativeSeparators(path).toStdString(),
                                                     std::vector<int>(lines.begin(), lines.end()));
    // A breakpoint on a line without code stops at the next line with
    // code: it is drawn where it stops.
    auto it = breakpoints_.find(path);
    if (it == breakpoints_.end()) return;
    bool moved = false;
    for (const qorb::debug::LineBreakpoint& b : placed) {
        if (b.resolvedLine && *b.resolvedLine != b.line && !it->second.Has(*b.resolvedLine)) {
            it->second.Remove(b.line);
            it->second.Add(*b.resolvedLine);
            moved = true;
        }
    }
    if (moved) {
        Refresh(path);
        SaveBreakpoints();
    }
}

void CDebugControl::Refresh(const QString& path) {
    for (CChildFrame* child : frame_->App()->Children()) {
        if (child->Document()->PathName() == path && child->View())
            child->View()->SetBreakpointLines(Breakpoints(path));
    }
}

void CDebugControl::SaveBreakpoints() {
    if (!store_) return;
    QStringList entries;
    for (const auto& [path, lines] : breakpoints_)
        entries << QString::fromStdString(lines.Serialize()) + QLatin1Char('|') + path;
    if (entries.isEmpty())
        store_->remove(BreakpointsKey());
    else
        store_->setValue(BreakpointsKey(), entries);
}

void CDebugControl::LoadBreakpoints() {
    if (!store_) return;
    // A damaged entry is dropped: a lost breakpoint is set again with one
    // key, a wrong one would stop where nobody asked.
    for (const QString& entry : store_->value(BreakpointsKey()).toStringList()) {
        const qsizetype bar = entry.indexOf(QLatin1Char('|'));
        if (bar <= 0 || bar + 1 >= entry.size()) continue;
        std::string error;
        auto lines = qorb::debug::FileBreakpoints::Parse(entry.left(bar).toStdString(), error);
        if (lines && !lines->Empty()) breakpoints_[entry.mid(bar + 1)] = *lines;
    }
}

} // namespace oxbrin
