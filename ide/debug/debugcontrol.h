#pragma once

// The Debug menu: runs the active source on a simulated board through the
// debugger model (a Session on its own worker thread), keeps the breakpoints
// of every file, and shows where the program stopped: the editor's arrow and
// tint, the register bar's values, the register pane's cycles and next
// instructions, the stop's message in the status bar.

#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>

#include <map>
#include <memory>

#include "breakpoints.h"
#include "session.h"

class QSettings;
class QTextDocument;
class QTimer;

namespace oxbrin {

class CBuildRunner;
class CMainFrame;
class COxbrinView;
struct SettingsBlock;

class CDebugControl : public QObject {
    Q_OBJECT
public:
    // Installs the Debug menu's handlers on `frame`. The breakpoints are
    // kept in `store` (a list under the settings group), read here and
    // written on every change.
    CDebugControl(CMainFrame* frame, CBuildRunner* runner, SettingsBlock* settings, QSettings* store);
    ~CDebugControl() override;

    qorb::debug::Session* Session() const { return session_.get(); }
    bool IsDebugging() const { return session_ != nullptr; }
    bool IsPaused() const { return session_ && !session_->Running(); }
    // The breakpoint lines of a file (an absolute path), ascending.
    QList<int> Breakpoints(const QString& path) const;

signals:
    // The program stopped and the window shows it (registers, line).
    void ProgramStopped();

private:
    void StartOrContinue();
    void OpenSession(const QString& source);
    void StopDebugging();
    void DetachLine();
    void ShowWatchesOfFile();
    void Run(bool (qorb::debug::Session::*command)(std::string*));
    void RunToCursor();
    void ToggleBreakpoint(COxbrinView* view, int line);
    void DeleteAllBreakpoints();
    void OnStopped();
    void OnTick();
    void OnRegisterEdited(const QString& name, const QString& text);
    void ShowRegisters();
    void ShowRegisterPane(const qorb::debug::Snapshot& snap, bool withCode);
    void ShowExecutionLine(const qorb::debug::Snapshot& snap);
    void ClearExecutionLine();
    void Hook(COxbrinView* view);
    void OnContentsChange(QTextDocument* doc, int position, int removed, int added);
    void PushBreakpoints(const QString& path);
    void Refresh(const QString& path);
    void SaveBreakpoints();
    void LoadBreakpoints();
    void Report(const QString& text, bool toOutput);
    QString MapFileFor(const QString& path) const;
    QString SourcePath(unsigned mapFile) const;

    CMainFrame* frame_;
    CBuildRunner* runner_;
    SettingsBlock* settings_;
    QSettings* store_;
    class SimulatedLine;
    // Declared before the session: the worker uses it until the session ends.
    std::unique_ptr<SimulatedLine> line_;
    std::unique_ptr<qorb::debug::Session> session_;
    QString objectDir_;
    QString debuggedSource_;
    QString buildPending_; // the source a Start Debugging builds before it runs
    QTimer* timer_;
    std::uint64_t shownStops_ = 0;
    std::map<QString, qorb::debug::FileBreakpoints> breakpoints_; // by absolute path
    QSet<COxbrinView*> hooked_;
    QHash<QTextDocument*, int> blockCounts_;
};

} // namespace oxbrin
