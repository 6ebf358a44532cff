#pragma once

// Runs one build tool at a time through the spawn helper zkspawn, with the
// tool's standard input and output on two pipes that live as long as the
// runner. A reader thread polls the output pipe and reports the output and
// the tool's end to the derived class.

#include <QString>

#include <atomic>
#include <sys/types.h>
#include <thread>

namespace oxbrin {

class CToolRunner {
public:
    CToolRunner();
    virtual ~CToolRunner();
    CToolRunner(const CToolRunner&) = delete;
    CToolRunner& operator=(const CToolRunner&) = delete;

    // Creates the pipes, the stop event and the reader thread. False when
    // already initialised or when any of them cannot be made.
    bool Initialise();
    // Starts zkspawn with the tool command line in `workingDir`. Refused while
    // a tool runs, or with `useOutputWindow` before Initialise.
    bool Start(const QString& commandLine, const QString& workingDir, bool closeWindow, bool useOutputWindow);
    // Sends bytes to the running tool's standard input; nothing when no tool
    // runs. Never blocks: bytes beyond what the pipe holds are dropped.
    void WriteInput(const char* bytes, qsizetype count);
    // Stops the reader thread (a running tool is asked to end) and closes
    // every handle.
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

protected:
    // Called on the reader thread.
    virtual void OnToolOutput(const char* bytes, qsizetype count) = 0;
    // Called on the GUI thread by Start.
    virtual void OnToolStarted() = 0;
    // Called on the reader thread after all the tool's output.
    virtual void OnToolExited(int exitCode) = 0;

private:
    void ReaderLoop();
    void ReadAvailable();
    void DiscardStaleInput();
    void CloseAll();

    int outRead_ = -1;   // IDE side of the output pipe
    int outWrite_ = -1;  // tool side
    int inRead_ = -1;    // tool side of the input pipe
    int inWrite_ = -1;   // IDE side
    std::thread reader_;
    int stop_[2] = {-1, -1};  // the stop event: readable once signalled
    std::atomic<pid_t> process_{-1};
    bool initialised_ = false;
    std::atomic<bool> running_{false};
};

}  // namespace oxbrin
