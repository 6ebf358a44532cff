#pragma once

// The debugger's model: one program (object + line map) on one simulated
// board, run and stopped from a user interface without the interface ever
// waiting on the simulator.
//
// How the IDE sits on it
// ----------------------
// * Start Debugging: assemble with -g, then Session::Open with the object,
//   its .dbg and the board chosen on the Target page (a profile name or a
//   board file; "flat" by default). Open fails with a message the IDE shows
//   as it stands (a bad map, a board that does not fit the map's CPU, data
//   where the board has no memory).
// * Breakpoints live in the editor as FileBreakpoints (breakpoints.h): the
//   document feeds every edit to Apply, the settings keep Serialize() per
//   file. On Start, and on every toggle while debugging, the IDE hands them
//   to SetLineBreakpoints; the answer says which line each one really stops
//   at (a line without code moves to the next line with code), and the
//   gutter draws it there.
// * Continue, Step Into/Over/Out and Run to Cursor return at once; the run
//   happens on the session's worker thread. Pause sets a flag the run loop
//   reads every few thousand cycles. While running, only Snapshot(),
//   Pause() and breakpoint changes are allowed; the rest answer "running".
// * The IDE learns about a stop either from the stop callback (called on
//   the worker thread: post it to the GUI thread, do not touch widgets
//   there) or by polling Snapshot() from a timer; the worker publishes a
//   fresh snapshot at most every 50 ms while running, so a 100 ms timer
//   sees live registers and cycle counts without slowing the simulation.
// * When stopped: Snapshot().stop names the reason, the message for the
//   status bar, the PC and the source place; `level` says which element of
//   the macro call chain the editor shows (0: the file's own line, higher:
//   inside macro bodies). Step Into on a macro call line goes one level
//   in without running anything; Step Over runs the shown statement whole
//   (a macro call line: its expansion; jsr/bsr/call/swi: the routine, until
//   it returns with the stack back at the caller's level, so recursion is
//   safe); Step Out leaves a macro body, else the current routine.
//   Interrupts taken while stepping run through to their return. Step Into
//   from or into code without lines (a call into the board's monitor, the
//   monitor itself) runs until a line with source (or a stop) comes.
// * The register bar reads GetRegisters() and writes SetRegister(); the
//   Memory pane uses ReadMemory/WriteMemory (no side effects on devices;
//   SetSnapshotWindow keeps a window of it live while running); the
//   register pane shows Disassemble() and the two cycle counts; the Watch
//   pane calls Watch() per row: the expression's value is taken as an
//   address and the byte and word there are shown (hex, decimal, binary).
// * The Terminal pane: AttachSerial with a port whose queues it shares with
//   the worker, and SessionOptions::realTime so that the line runs at its
//   baud rate.
// * Call everything from one thread (the GUI's); only the worker calls the
//   stop callback. Stop Debugging destroys the session (it pauses the run
//   and joins the worker; the callback is not called after that).

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "core/cpu.h"
#include "linemap_reader.h"

namespace qorb::sim {
class Machine;
class Board;
class Disassembler;
class SerialPort;
} // namespace qorb::sim

namespace qorb::debug {

struct SessionOptions {
    std::string object;         // S-record file
    std::string map;            // line map; empty: the object's name with .dbg
    std::string board = "flat"; // a board's name or a board file
    // The CPU: from the map's target unless given (as qorbsim's -m68hc1x).
    std::optional<sim::CpuModel> cpu;
    // Start address and stack pointer as qorbsim takes them (--pc, --sp):
    // the start is the object's start address, else its reset vector, else
    // its lowest address; the stack pointer is 0. On a board with firmware
    // (the mini11's monitor) the board starts as it powers up, at its reset
    // vector, with the program in memory as if downloaded: the user runs it
    // with the monitor's command.
    std::optional<std::uint16_t> pc, sp;
    // Load the board's firmware, when it has some.
    bool firmware = true;
    std::uint64_t maxCycles = UINT64_MAX; // total; a run that reaches it stops
    // Simulated time follows real time (the board's E-clock), as qorbsim
    // does with a serial line: characters move at the line's baud rate and
    // a program waiting for a key does not spin the host at full speed.
    bool realTime = false;
};

enum class StopReason : std::uint8_t {
    Loaded, // nothing has run yet
    Breakpoint,
    Step, // a Step Into/Over/Out finished
    RunToCursor,
    Paused,
    IllegalOpcode,
    AccessFault, // the board's policy stops on an unmapped access or ROM write
    Stopped,     // STOP or WAI with nothing that could wake the CPU
    Background,  // BGND
    CycleLimit,
};

struct StopInfo {
    StopReason reason = StopReason::Loaded;
    std::uint16_t pc = 0;
    // The address the stop is about: the PC, or for a fault the instruction
    // that made it (when known).
    std::uint16_t at = 0;
    std::vector<SourcePlace> chain; // source of `at`, innermost first; empty when none
    std::size_t level = 0;          // index into chain the editor shows
    std::string message;            // one line for the status bar
};

struct Snapshot {
    bool running = false;
    sim::Registers regs;
    std::uint64_t cycles = 0;          // since the program was loaded
    std::uint64_t cyclesSinceStop = 0; // since the last stop
    std::uint64_t stops = 0;           // counts stops: a changed value means a new one
    StopInfo stop;                     // the last stop (while running: the one before)
    // Messages of the board (warnings) since the session started.
    std::string diagnostics;
    // The memory window asked for with SetSnapshotWindow, read with Peek.
    std::uint16_t windowAddress = 0;
    std::vector<std::uint8_t> window;
};

struct DisassembledLine {
    std::uint16_t address = 0;
    std::vector<std::uint8_t> bytes;
    std::string text;
    std::string source; // "file.asm:12" when the map knows the address
};

struct WatchValue {
    bool ok = false;
    std::string error;
    std::int32_t value = 0; // the expression's value (an address for a symbol)
    // The memory at that address, when it is one.
    bool isAddress = false;
    std::uint8_t byte = 0;
    std::uint16_t word = 0;
    // The forms the Watch pane shows: "$12", "$1234", "4660", "%00010010".
    std::string byteText, wordText, decimalText, binaryText;
};

// A breakpoint asked for on a line, and where it landed.
struct LineBreakpoint {
    std::string file;
    int line = 0;
    std::optional<int> resolvedLine;      // nullopt: no code at or after the line
    std::vector<std::uint16_t> addresses; // one per place it stops
    unsigned mapFile = 0;                 // the map's number of the file; 0: not in the map
};

class Session {
public:
    // Loads the object and map on the board. nullptr with `error` set on a
    // fault.
    static std::unique_ptr<Session> Open(const SessionOptions& options, std::string& error);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    const LineMapReader& Map() const { return map_; }
    sim::CpuModel Model() const { return model_; }

    // Run control. Each returns false (with `error`) when the session is
    // running; otherwise the worker starts and the call returns at once.
    bool Continue(std::string* error = nullptr);
    bool StepInto(std::string* error = nullptr);
    bool StepOver(std::string* error = nullptr);
    bool StepOut(std::string* error = nullptr);
    bool RunToLine(const std::string& file, int line, std::string* error = nullptr);
    bool RunToAddress(std::uint16_t address, std::string* error = nullptr);
    // Asks a run to stop; returns at once. The stop reason is Paused.
    void Pause();
    // Waits until stopped; false when `timeoutMs` passed first.
    bool WaitUntilStopped(int timeoutMs);
    bool Running() const { return running_.load(); }

    // The board's serial line, for the IDE's Terminal pane: the port is
    // called on the worker thread while the program runs (its queue must
    // be thread-safe). While stopped only; nullptr detaches. False on a
    // board without a serial interface.
    bool AttachSerial(sim::SerialPort* port, std::string& error);

    // Called on the worker thread after each stop.
    void SetStopCallback(std::function<void()> callback);
    Snapshot GetSnapshot() const;
    void SetSnapshotWindow(std::uint16_t address, std::uint16_t length);

    // Breakpoints. Allowed while running (they take effect within a few
    // thousand cycles).
    void SetAddressBreakpoint(std::uint16_t address, bool on);
    // Replaces the breakpoints of `file` by those on `lines`.
    std::vector<LineBreakpoint> SetLineBreakpoints(const std::string& file, const std::vector<int>& lines);
    void ClearBreakpoints();

    // While stopped only (false / empty while running).
    bool GetRegisters(sim::Registers& regs) const;
    // A register by name: A B D X Y SP PC CCR (any case).
    bool SetRegister(const std::string& name, std::uint32_t value, std::string& error);
    bool ReadMemory(std::uint16_t address, std::size_t length, std::vector<std::uint8_t>& out) const;
    bool WriteMemory(std::uint16_t address, const std::vector<std::uint8_t>& bytes, std::string& error);
    std::vector<DisassembledLine> Disassemble(std::uint16_t address, unsigned count) const;
    WatchValue Watch(const std::string& expression) const;

private:
    enum class Command : std::uint8_t { None, Continue, StepInto, StepOver, StepOut, RunTo, Quit };

    Session();
    bool Post(Command command, std::string* error);
    void WorkerLoop();
    void Execute(Command command);

    // The worker's building blocks. Those returning bool return true when
    // they recorded a stop (the command is over).
    enum class Free : std::uint8_t { AtStop, Ended };
    void SyncStops();
    void ServeHost(bool afterChunk);
    void Refresh();
    Free RunFree(bool passFirst);
    bool StepInstruction(bool overCalls, bool& executedReturn);
    bool RunUntilReturn(std::uint16_t returnAddress, std::uint16_t spBefore);
    bool RunToSource();
    void LeaveForSource();
    bool StopAtBreakpoint(std::uint16_t pc);
    bool RecordHalt(sim::Halt halt);
    bool PauseOrLimit(std::uint64_t& counter);
    void DoStepInto();
    void DoStepOver(std::size_t level);
    void DoStepOut();
    void DoRunTo();
    std::size_t BreakpointLevel(std::uint16_t pc) const;

    void RecordStop(StopReason reason, std::string message, std::optional<std::uint16_t> at = std::nullopt,
                    std::optional<std::size_t> level = std::nullopt);
    void Publish(bool running);
    std::vector<SourcePlace> ChainAt(std::uint16_t address) const;
    std::string Where(std::uint16_t address) const;
    std::optional<std::uint16_t> InstructionEndingAt(std::uint16_t pc) const;
    std::optional<std::int32_t> SymbolValue(const std::string& name) const;

    LineMapReader map_;
    sim::CpuModel model_ = sim::CpuModel::Cpu12;
    std::uint64_t maxCycles_ = UINT64_MAX;
    bool realTime_ = false;
    std::uint32_t eclock_ = 0;
    sim::SerialPort* serial_ = nullptr;
    std::uint64_t paceStartNs_ = 0, paceStartCycles_ = 0;
    std::unique_ptr<sim::Machine> machine_;
    std::unique_ptr<sim::Board> board_;
    std::unique_ptr<sim::Disassembler> disasm_;
    std::ostringstream diag_; // the board's messages (worker only while running)

    // Guarded by mutex_.
    mutable std::mutex mutex_;
    std::condition_variable wake_, stopped_;
    Command pending_ = Command::None;
    std::vector<std::uint16_t> runToAddresses_;
    std::vector<std::uint16_t> addressBreakpoints_;
    std::vector<LineBreakpoint> lineBreakpoints_;
    bool breakpointsChanged_ = true;
    Snapshot snapshot_;
    std::uint16_t windowAddress_ = 0, windowLength_ = 0;
    std::function<void()> onStop_;

    std::atomic<bool> running_{false};
    std::atomic<bool> pause_{false};
    std::thread worker_;

    // Worker state (or any thread while stopped).
    std::vector<std::uint16_t> temporaryStops_;
    std::vector<std::uint8_t> userStop_; // 65536 flags: a user breakpoint is there
    std::uint64_t cyclesAtStop_ = 0;
    StopInfo stop_;
    std::size_t level_ = 0;
    std::uint64_t lastPublishNs_ = 0;
    std::uint64_t runBase_ = 0; // cycles when the current command started
    bool stopRecorded_ = false;
    bool stopsDirty_ = true;
    std::optional<SourcePlace> runToPlace_;
};

} // namespace qorb::debug
