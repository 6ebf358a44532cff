#pragma once

// Runs one build tool at a time through the spawn helper zkspawn. Each build
// gets fresh pipes for the tool's standard input and output, so nothing a
// build leaves behind (keys typed and never read, output of a background
// process the tool started) reaches the next one. A reader thread polls the
// output pipe and reports the output and the tool's end to the derived class.
//
// zkspawn is started as the leader of a process group of its own and runs
// the tool in that group. Stop asks zkspawn to end the group, which kills
// what is left after the grace period (and the runner kills the group
// should zkspawn not answer); when the tool has ended, zkspawn ends what it
// left running before it reports; and zkspawn stops the tool by itself when
// the IDE goes, even by a crash, so no tool process outlives the IDE.

#include <QString>

#include <atomic>
#include <chrono>
#include <mutex>
#include <sys/types.h>
#include <thread>

namespace oxbrin {

class CToolRunner {
public:
    CToolRunner();
    virtual ~CToolRunner();
    CToolRunner(const CToolRunner&) = delete;
    CToolRunner& operator=(const CToolRunner&) = delete;

    // Creates the stop event and the reader thread. False when already
    // initialised or when either cannot be made.
    bool Initialise();
    // Starts zkspawn with the tool command line in `workingDir`. Refused while
    // a tool runs, or with `useOutputWindow` before Initialise; StartError()
    // says why it failed.
    bool Start(const QString& commandLine, const QString& workingDir, bool closeWindow, bool useOutputWindow);
    // Why the last Start failed: kStartRefused, kSpawnNotFound, or the
    // system's error number (a working folder that is gone, say).
    int StartError() const { return startError_; }
    static constexpr int kStartRefused = -1;
    static constexpr int kSpawnNotFound = -2;

    // Sends bytes to the running tool's standard input; nothing when no tool
    // runs. Never blocks: bytes beyond what the pipe holds are dropped.
    void WriteInput(const char* bytes, qsizetype count);
    // Asks the running tool and everything it started to end (a termination
    // request, passed on to the tool's group), and kills what is left after
    // kStopGraceMs. Returns at once; the tool's end is reported as usual.
    // False when no tool runs or a stop is already under way.
    bool Stop();
    bool IsStopping() const;
    // Ends a running tool as Stop does and waits for it (the grace period
    // at most, the backstop if zkspawn does not answer), stops the reader
    // thread and closes every handle.
    void Shutdown();

    bool IsInitialised() const { return initialised_; }
    bool IsRunning() const { return running_.load(); }

    // The mode number zkspawn gets: bits 0x01, 0x04, 0x10, 0x40 always,
    // 0x100 for the output window, 0x200 to close the console window.
    static int ModeNumber(bool closeWindow, bool useOutputWindow);
    // Where programs that come with the IDE are looked for first: the
    // directory of the running program.
    static void SetProgramDirectory(const QString& dir);
    static QString ProgramDirectory();
    // `name` beside the program, else on the search path; empty when found
    // nowhere. A trailing ".exe" (settings written on Windows) is also
    // tried without it.
    static QString FindProgram(const QString& name);

    // Largest piece handed to OnToolOutput at once.
    static constexpr int kChunk = 1024;
    // The reader thread's poll interval in milliseconds.
    static constexpr int kPollMs = 10;
    // How long a stopped tool has to end before its group is killed. zkspawn
    // kills at this time; the runner kills zkspawn's group a second later,
    // should zkspawn itself not respond.
    static constexpr int kStopGraceMs = 2000;
    static constexpr int kStopBackstopMs = kStopGraceMs + 1000;

protected:
    // Called on the reader thread.
    virtual void OnToolOutput(const char* bytes, qsizetype count) = 0;
    // Called on the GUI thread by Start.
    virtual void OnToolStarted() = 0;
    // Called on the reader thread after all the tool's output.
    virtual void OnToolExited(int exitCode) = 0;

private:
    using Clock = std::chrono::steady_clock;

    // The running build's handles (IDE side); the reader thread closes them
    // when the tool has ended.
    struct Build {
        pid_t pid = -1; // zkspawn, leader of the build's process group
        int outRead = -1;
        int inWrite = -1;
        bool stopping = false;
        bool killed = false;
        Clock::time_point stoppedAt;
        Clock::time_point killAt;
    };

    void ReaderLoop();
    // Passes on what the pipe holds; at most `limit` bytes.
    void ReadAvailable(int fd, qsizetype limit);
    void FinishBuild(pid_t pid, int status);
    void KillOverdue(Clock::time_point now);
    void Wake();
    void CloseAll();

    mutable std::mutex mutex_; // guards build_
    Build build_;
    std::thread reader_;
    int stop_[2] = {-1, -1}; // the stop event: readable once signalled
    int wake_[2] = {-1, -1}; // a new build or a stop for the reader
    bool initialised_ = false;
    std::atomic<bool> running_{false};
    int startError_ = 0;
};

} // namespace oxbrin
