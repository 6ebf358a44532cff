#pragma once

// The IDE's side of building: the tool runner that feeds the Output pane,
// the build and project commands, the end-of-build sounds.

#include "toolrunner.h"

#include <QObject>
#include <QString>

#include <atomic>

class QSoundEffect;

namespace oxbrin {

class CMainFrame;
class COutputPane;
struct SettingsBlock;

namespace strings {
inline constexpr const char* kSpawnMissing =
    "The required utility zkspawn.exe was not found!\nTry to reinstall Oxbrin.\n"; // 203
inline constexpr const char* kRedirectionFailed =
    "Redirection of standart input/output handles failed!";                // 202
inline constexpr const char* kToolReturned = "\nTool returned code: %d\n"; // 400
// zkspawn was found but could not be started (the build's folder has gone, say).
inline constexpr const char* kStartFailed = "The build could not be started in the folder %1:\n%2\n";
// Stop Build: the tool and what it started are asked to end.
inline constexpr const char* kBuildStopping = "\nStopping the build...\n";
inline constexpr const char* kBuildFile = "B&uild %1\tCtrl+F7";         // 300
inline constexpr const char* kBuildProjectFile = "&Build %1\tF7";       // 301
inline constexpr const char* kBuildCurrent = "B&uild Current\tCtrl+F7"; // 302
inline constexpr const char* kBuildProject = "&Build Project\tF7";      // 303
} // namespace strings

// The wave resources played when a tool ends.
inline constexpr int kSoundToolSucceeded = 170;
inline constexpr int kSoundToolFailed = 171;

// `argument` in double quotes, escaped so that zkspawn's splitting gives it
// back exactly, whatever quotes, backslashes and blanks it holds.
QString QuoteArgument(const QString& argument);
// The tool command line for building `path`: the tool, the options when
// there are any, the quoted path. A tool given by bare name that lies beside
// the IDE's program runs from there.
QString BuildCommandLine(const SettingsBlock& settings, const QString& path);
// The folder a build of `path` runs in: everything before the last path
// separator; the current folder for a bare file name.
QString BuildWorkingDirectory(const QString& path);
// `path` relative to the current folder when it lies inside it, else whole.
QString DisplayName(const QString& path);

// Plays the two end-of-build sounds. Without an audio device nothing is
// heard and nothing waits.
class CBuildSounds : public QObject {
    Q_OBJECT
public:
    explicit CBuildSounds(QObject* parent = nullptr);
    void Play(int id);

signals:
    void Played(int id);

private:
    QSoundEffect* Effect(int id);
    QSoundEffect* ok_ = nullptr;
    QSoundEffect* failed_ = nullptr;
    bool checked_ = false;
    bool haveOutput_ = false;
};

class CBuildRunner : public QObject, public CToolRunner {
    Q_OBJECT
public:
    explicit CBuildRunner(QObject* parent = nullptr);
    ~CBuildRunner() override;

    // The pane that shows the output; set before Initialise (GUI thread).
    void SetOutputPane(COutputPane* pane);
    CBuildSounds* Sounds() const { return sounds_; }

signals:
    // On the GUI thread, after the exit line is in the pane.
    void ToolExited(int exitCode);

protected:
    void OnToolOutput(const char* bytes, qsizetype count) override;
    void OnToolStarted() override {}
    void OnToolExited(int exitCode) override;

private:
    std::atomic<COutputPane*> pane_{nullptr};
    CBuildSounds* sounds_;
};

// Handlers of Build Current, Build Project, Set and Release Project File,
// the Output pane's commands and the three Options commands. The frame's
// Output pane must be a COutputPane.
void InstallBuildCommands(CMainFrame* frame, CBuildRunner* runner);

// Builds `path` as the build commands do once the document is saved: clears
// and shows the Output pane, starts the tool; string 203 when it cannot.
void BuildFile(CMainFrame* frame, CBuildRunner* runner, const QString& path);
// Stop Build: asks the running tool and everything it started to end (what
// has not ended after the grace period is killed) and says so in the Output
// pane. False when no build runs or a stop is already under way.
bool StopBuild(CMainFrame* frame, CBuildRunner* runner);

} // namespace oxbrin
