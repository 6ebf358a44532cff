#include "session.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <filesystem>

#include "board/board.h"
#include "board/firmware.h"
#include "core/disasm.h"
#include "core/machine.h"
#include "core/srec.h"
#include "expression.h"

namespace qorb::debug {

using sim::Halt;

namespace {

// Cycles run between two looks at the pause flag and the breakpoint list:
// well under a millisecond of host time even on a board's slow memory path.
constexpr std::uint64_t kChunk = 8192;
// Single steps between two looks at the pause flag.
constexpr std::uint64_t kStepsPerCheck = 1024;
// A running session publishes registers at most this often.
constexpr std::uint64_t kPublishNs = 50'000'000;

std::string Hex(unsigned v, int digits) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "$%0*X", digits, v);
    return buf;
}

std::uint64_t NowNs() {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
}

std::string Mnemonic(const std::string& text) { return text.substr(0, text.find(' ')); }

// Instructions that come back to the next one after running other code:
// stepping over them runs that code at full speed.
bool IsCall(const std::string& m) { return m == "jsr" || m == "bsr" || m == "call" || m == "swi"; }
// Instructions after which the CPU waits for an interrupt; its handler
// returns to the next instruction.
bool IsWait(const std::string& m) { return m == "wai" || m == "stop"; }
bool IsReturn(const std::string& m) { return m == "rts" || m == "rtc" || m == "rti"; }

std::optional<sim::CpuModel> ModelOfTarget(const std::string& target) {
    if (target == "68HC12") return sim::CpuModel::Cpu12;
    if (target == "HCS12") return sim::CpuModel::Hcs12;
    if (target == "68HC11") return sim::CpuModel::Hc11;
    return std::nullopt;
}

std::string Lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

} // namespace

Session::Session() : userStop_(0x10000, 0) {}

std::unique_ptr<Session> Session::Open(const SessionOptions& o, std::string& error) {
    std::unique_ptr<Session> s(new Session());
    const std::string mapPath =
        o.map.empty() ? std::filesystem::path(o.object).replace_extension(".dbg").string() : o.map;
    if (!s->map_.Load(mapPath, error)) return nullptr;

    // The CPU: the map's target, unless named; a board that names its own
    // CPU must fit it (an HCS12 board takes a 68HC12 program).
    std::optional<sim::CpuModel> model = o.cpu ? o.cpu : ModelOfTarget(s->map_.Target());
    if (!model) {
        error = mapPath + ": unknown target '" + s->map_.Target() + "' (68HC12, HCS12 or 68HC11)";
        return nullptr;
    }
    auto found = sim::FindBoard(o.board, error);
    if (!found) return nullptr;
    const sim::BoardProfile& board = *found;
    if (board.cpu) {
        const bool fits =
            *model == *board.cpu || (*model == sim::CpuModel::Cpu12 && *board.cpu == sim::CpuModel::Hcs12);
        if (!fits) {
            const auto name = [](sim::CpuModel m) {
                return m == sim::CpuModel::Hc11    ? "a 68HC11"
                       : m == sim::CpuModel::Hcs12 ? "an HCS12"
                                                   : "a 68HC12";
            };
            error = std::string("board ") + board.name + " has " + name(*board.cpu) +
                    ", the program is for " + name(*model);
            return nullptr;
        }
        model = board.cpu;
    }
    s->model_ = *model;
    s->maxCycles_ = o.maxCycles;
    s->realTime_ = o.realTime && !board.flat && board.eclock > 0;
    s->eclock_ = board.eclock;
    s->machine_ = std::make_unique<sim::Machine>(*model);
    sim::Bus& bus = s->machine_->GetBus();
    if (!board.flat) s->board_ = std::make_unique<sim::Board>(board, *s->machine_, s->diag_);
    std::optional<sim::Firmware> firmware;
    if (o.firmware && s->board_ && !board.firmware.empty()) {
        firmware = sim::LoadFirmware(board, *s->board_, bus, error);
        if (!firmware) return nullptr;
    }

    sim::LoadedImage image;
    sim::LoadError e;
    if (!sim::LoadSRecordFile(o.object, bus, image, e)) {
        error = e.file + (e.line ? "(" + std::to_string(e.line) + ")" : std::string()) + ": " + e.text;
        return nullptr;
    }
    if (firmware) {
        if (auto overlap = sim::FirmwareOverlap(*firmware, image, bus, o.object)) {
            error = std::move(*overlap);
            return nullptr;
        }
    }
    std::uint16_t at = 0;
    const char* what = nullptr;
    if (s->board_ && s->board_->Misplaced(image, at, what)) {
        error = "data at " + Hex(at, 4) + " falls on " + what + " of board " + board.name;
        return nullptr;
    }
    // A map from another build would put the editor's arrow on the wrong
    // lines: every byte it describes must be in the object.
    for (const PlacedRange& r : s->map_.Ranges()) {
        for (std::uint32_t i = 0; i < r.length; ++i) {
            const std::uint32_t a = r.address + i;
            if (a > 0xFFFF) break;
            if (!image.Loaded(static_cast<std::uint16_t>(a))) {
                error = mapPath + " does not belong to " + o.object + ": it places " +
                        s->map_.Describe(r.chain) + " at " + Hex(a, 4) +
                        ", where the object has no data (assemble again with -g)";
                return nullptr;
            }
        }
    }

    std::uint16_t start;
    if (o.pc)
        start = *o.pc;
    else if (firmware)
        start = firmware->reset;
    else if (image.Start())
        start = *image.Start();
    else if (image.Loaded(0xFFFE) && image.Loaded(0xFFFF))
        start = static_cast<std::uint16_t>(bus.Peek(0xFFFE) << 8 | bus.Peek(0xFFFF));
    else if (image.Any())
        start = image.Lowest();
    else {
        error = o.object + ": holds no data, nothing to run";
        return nullptr;
    }
    sim::Cpu& cpu = s->machine_->GetCpu();
    cpu.regs = sim::Registers{};
    cpu.regs.pc = start;
    cpu.regs.sp = o.sp.value_or(0);
    cpu.regs.ccr = 0xD0;
    s->disasm_ = sim::MakeDisassembler(*model);

    s->RecordStop(StopReason::Loaded, "");
    s->stop_.message = "Loaded at " + s->Where(start);
    if (firmware && !o.pc && image.Any()) {
        const std::uint16_t entry = image.Start().value_or(image.Lowest());
        s->stop_.message = "Loaded at " + s->Where(entry) + "; the board's monitor starts at " +
                           Hex(start, 4) + ": run the program with its command";
    }
    s->Refresh();
    s->worker_ = std::thread([p = s.get()] { p->WorkerLoop(); });
    return s;
}

Session::~Session() {
    {
        std::lock_guard lock(mutex_);
        onStop_ = nullptr;
        pending_ = Command::Quit;
    }
    pause_ = true;
    wake_.notify_all();
    if (worker_.joinable()) worker_.join();
}

// ---------------------------------------------------------------------------
// Commands

bool Session::Post(Command command, std::string* error) {
    {
        std::lock_guard lock(mutex_);
        if (running_) {
            if (error) *error = "the program is running";
            return false;
        }
        running_ = true;
        pause_ = false;
        pending_ = command;
        snapshot_.running = true;
    }
    wake_.notify_all();
    return true;
}

bool Session::Continue(std::string* error) { return Post(Command::Continue, error); }
bool Session::StepInto(std::string* error) { return Post(Command::StepInto, error); }
bool Session::StepOver(std::string* error) { return Post(Command::StepOver, error); }
bool Session::StepOut(std::string* error) { return Post(Command::StepOut, error); }

bool Session::RunToAddress(std::uint16_t address, std::string* error) {
    if (running_) {
        if (error) *error = "the program is running";
        return false;
    }
    runToAddresses_ = {address};
    runToPlace_.reset();
    return Post(Command::RunTo, error);
}

bool Session::RunToLine(const std::string& file, int line, std::string* error) {
    if (running_) {
        if (error) *error = "the program is running";
        return false;
    }
    const unsigned f = map_.FindFile(file);
    const auto resolved = f ? map_.LineWithCode(f, line) : std::nullopt;
    std::vector<std::uint16_t> addresses;
    if (resolved)
        for (const std::uint32_t a : map_.AddressesOf(f, *resolved))
            if (a <= 0xFFFF) addresses.push_back(static_cast<std::uint16_t>(a));
    if (addresses.empty()) {
        if (error)
            *error = f ? "no code at or after line " + std::to_string(line) + " of " + map_.FileName(f)
                       : file + " is not part of this program";
        return false;
    }
    runToAddresses_ = std::move(addresses);
    runToPlace_ = SourcePlace{f, *resolved};
    return Post(Command::RunTo, error);
}

void Session::Pause() { pause_ = true; }

bool Session::WaitUntilStopped(int timeoutMs) {
    std::unique_lock lock(mutex_);
    return stopped_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return !running_.load(); });
}

bool Session::AttachSerial(sim::SerialPort* port, std::string& error) {
    std::lock_guard lock(mutex_);
    if (running_) {
        error = "the program is running";
        return false;
    }
    if (!board_ || !board_->Profile().registers) {
        error = "this board has no serial interface (choose a board with a register block)";
        return false;
    }
    board_->SetSerial(port);
    serial_ = port;
    return true;
}

void Session::SetStopCallback(std::function<void()> callback) {
    std::lock_guard lock(mutex_);
    onStop_ = std::move(callback);
}

Snapshot Session::GetSnapshot() const {
    std::lock_guard lock(mutex_);
    return snapshot_;
}

void Session::SetSnapshotWindow(std::uint16_t address, std::uint16_t length) {
    std::lock_guard lock(mutex_);
    windowAddress_ = address;
    windowLength_ = length;
    if (!running_) Refresh();
}

void Session::WorkerLoop() {
    for (;;) {
        Command command;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [&] { return pending_ != Command::None; });
            command = pending_;
            pending_ = Command::None;
        }
        if (command == Command::Quit) return;
        Execute(command);
    }
}

void Session::Execute(Command command) {
    stopRecorded_ = false;
    runBase_ = machine_->GetCpu().cycles;
    lastPublishNs_ = NowNs();
    switch (command) {
    case Command::Continue: {
        // A breakpoint on the first instruction stops the first run before
        // it; later runs start by leaving the breakpoint they stopped at.
        if (RunFree(stop_.reason != StopReason::Loaded) == Free::AtStop)
            RecordStop(StopReason::Breakpoint, "", std::nullopt, BreakpointLevel(machine_->GetCpu().regs.pc));
        break;
    }
    case Command::StepInto: DoStepInto(); break;
    case Command::StepOver: DoStepOver(level_); break;
    case Command::StepOut:
        if (level_ > 0)
            DoStepOver(level_ - 1); // out of a macro body: the rest of the expansion
        else
            DoStepOut();
        break;
    case Command::RunTo: DoRunTo(); break;
    default: break;
    }
    if (!stopRecorded_) RecordStop(StopReason::Step, "");
}

// ---------------------------------------------------------------------------
// Running

void Session::SyncStops() {
    bool changed = stopsDirty_;
    std::vector<std::uint16_t> user;
    {
        std::lock_guard lock(mutex_);
        if (breakpointsChanged_) {
            changed = true;
            breakpointsChanged_ = false;
        }
        if (!changed) return;
        user = addressBreakpoints_;
        for (const LineBreakpoint& b : lineBreakpoints_)
            user.insert(user.end(), b.addresses.begin(), b.addresses.end());
    }
    stopsDirty_ = false;
    machine_->ClearStops();
    std::fill(userStop_.begin(), userStop_.end(), 0);
    for (const std::uint16_t a : user) {
        machine_->AddStop(a);
        userStop_[a] = 1;
    }
    for (const std::uint16_t a : temporaryStops_) machine_->AddStop(a);
}

// Between chunks: characters that arrived on the serial line go to the
// receiver, and with real time the run waits for the clock to catch up (in
// short sleeps, so that Pause still answers at once).
void Session::ServeHost(bool afterChunk) {
    if (serial_) board_->SerialInput();
    if (!afterChunk || !realTime_) return;
    const std::uint64_t cycles = machine_->GetCpu().cycles;
    for (;;) {
        const std::uint64_t target =
            paceStartNs_ + static_cast<std::uint64_t>((cycles - paceStartCycles_) * 1e9 / eclock_);
        const std::uint64_t now = NowNs();
        if (now >= target) {
            // Far behind (the host was busy): do not race to catch up.
            if (now - target > 100'000'000) {
                paceStartNs_ = now;
                paceStartCycles_ = cycles;
            }
            return;
        }
        if (pause_) return;
        std::this_thread::sleep_for(
            std::chrono::nanoseconds(std::min<std::uint64_t>(target - now, 5'000'000)));
        if (serial_) board_->SerialInput();
    }
}

Session::Free Session::RunFree(bool passFirst) {
    sim::Cpu& cpu = machine_->GetCpu();
    bool pass = passFirst;
    paceStartNs_ = NowNs();
    paceStartCycles_ = cpu.cycles;
    for (;;) {
        ServeHost(false);
        SyncStops();
        if (cpu.cycles >= maxCycles_) {
            RecordHalt(Halt::Deadline);
            return Free::Ended;
        }
        if (pause_) {
            RecordStop(StopReason::Paused, "");
            return Free::Ended;
        }
        const std::uint64_t end = std::min(maxCycles_, cpu.cycles + kChunk);
        const Halt h = machine_->Run({end, pass, false});
        pass = false;
        if (h == Halt::StopAddress) return Free::AtStop;
        if (h != Halt::Deadline) {
            RecordHalt(h);
            return Free::Ended;
        }
        const std::uint64_t now = NowNs();
        if (now - lastPublishNs_ >= kPublishNs) {
            lastPublishNs_ = now;
            Publish(true);
        }
        ServeHost(true);
    }
}

bool Session::PauseOrLimit(std::uint64_t& counter) {
    if (machine_->GetCpu().cycles >= maxCycles_) return RecordHalt(Halt::Deadline);
    if (++counter % kStepsPerCheck == 0) {
        if (pause_) {
            RecordStop(StopReason::Paused, "");
            return true;
        }
        const std::uint64_t now = NowNs();
        if (now - lastPublishNs_ >= kPublishNs) {
            lastPublishNs_ = now;
            Publish(true);
        }
    }
    return false;
}

// Runs the code a call (or an interrupt) started until it comes back to
// `returnAddress` with the stack at or above `spBefore`: the same address
// reached deeper in a recursion does not count. A user breakpoint on the
// way stops the whole command.
bool Session::RunUntilReturn(std::uint16_t returnAddress, std::uint16_t spBefore) {
    sim::Cpu& cpu = machine_->GetCpu();
    temporaryStops_ = {returnAddress};
    stopsDirty_ = true;
    bool pass = cpu.regs.pc == returnAddress;
    bool done = false;
    for (;;) {
        if (RunFree(pass) == Free::Ended) break;
        const std::uint16_t pc = cpu.regs.pc;
        if (pc == returnAddress && cpu.regs.sp >= spBefore) {
            done = true;
            break;
        }
        if (StopAtBreakpoint(pc)) break;
        pass = true; // the return address, deeper in a recursion
    }
    temporaryStops_.clear();
    stopsDirty_ = true;
    return !done;
}

// One instruction. Interrupts that come in are run through to their
// return; with `overCalls`, so are subroutine calls; the CPU waiting after
// wai or stop runs until its interrupt handler comes back.
bool Session::StepInstruction(bool overCalls, bool& executedReturn) {
    sim::Cpu& cpu = machine_->GetCpu();
    const sim::Disassembler::Reader peek = [this](std::uint16_t a) { return machine_->GetBus().Peek(a); };
    executedReturn = false;
    for (;;) {
        SyncStops();
        ServeHost(false);
        const std::uint16_t pc0 = cpu.regs.pc, sp0 = cpu.regs.sp;
        const sim::DecodedInstruction d = disasm_->Decode(pc0, peek);
        const std::string m = Mnemonic(d.text);
        const Halt h = machine_->Step();
        if (h != Halt::Deadline) return RecordHalt(h);
        if (cpu.cycles >= maxCycles_) return RecordHalt(Halt::Deadline);
        if (!cpu.lastWasInstruction && cpu.regs.pc != pc0 && cpu.regs.sp < sp0) {
            // An interrupt was taken before the instruction: run the
            // handler, then try the instruction again.
            if (RunUntilReturn(pc0, sp0)) return true;
            continue;
        }
        if (!cpu.lastWasInstruction) {
            if (pause_) {
                RecordStop(StopReason::Paused, "");
                return true;
            }
            continue; // the CPU waits: the clock ran
        }
        executedReturn = IsReturn(m);
        const auto next = static_cast<std::uint16_t>(pc0 + d.length);
        if (((overCalls && IsCall(m)) || IsWait(m)) && (cpu.regs.pc != next || cpu.regs.sp < sp0))
            return RunUntilReturn(next, sp0);
        return false;
    }
}

void Session::DoStepInto() {
    sim::Cpu& cpu = machine_->GetCpu();
    const auto chain = ChainAt(cpu.regs.pc);
    if (level_ + 1 < chain.size()) {
        // On a macro call line: into its body, where the same instruction
        // comes from.
        RecordStop(StopReason::Step, "", std::nullopt, level_ + 1);
        return;
    }
    const std::uint16_t pc0 = cpu.regs.pc;
    const sim::Disassembler::Reader peek = [this](std::uint16_t a) { return machine_->GetBus().Peek(a); };
    const sim::DecodedInstruction d = disasm_->Decode(pc0, peek);
    const std::uint16_t sp0 = cpu.regs.sp;
    bool ret = false;
    if (StepInstruction(false, ret)) return;
    // A call into code the map does not know (a monitor's routine): there
    // is no line to show, so it runs through.
    if (IsCall(Mnemonic(d.text)) && !map_.At(cpu.regs.pc) && map_.At(pc0)) {
        if (RunUntilReturn(static_cast<std::uint16_t>(pc0 + d.length), sp0)) return;
    }
    // Anywhere else without a line (the board's firmware before the user
    // starts the program, or the monitor a program returned to): the
    // editor has nothing to show until a line with source comes, so the
    // code runs, at the board's pace and pausable, until one does.
    if (!map_.At(cpu.regs.pc) && RunToSource()) return;
    if (StopAtBreakpoint(cpu.regs.pc)) return;
    // Shown at the outermost level that changed: stepping onto a macro call
    // line shows the call line first (the next Step Into goes inside), and
    // from one body line to the next stays in the body.
    const auto now = ChainAt(cpu.regs.pc);
    std::size_t level = 0;
    while (level + 1 < now.size() && level < chain.size() &&
           now[now.size() - 1 - level] == chain[chain.size() - 1 - level])
        ++level;
    RecordStop(StopReason::Step, "", std::nullopt, level);
}

// Runs the statement the editor shows at `level` of the macro call chain:
// every instruction whose chain ends with that statement's, stepping over
// calls, until the PC leaves it or comes back to where it started (a line
// that branches to itself).
void Session::DoStepOver(std::size_t level) {
    sim::Cpu& cpu = machine_->GetCpu();
    const std::uint16_t pc0 = cpu.regs.pc;
    const auto chain = ChainAt(pc0);
    std::vector<SourcePlace> statement;
    if (!chain.empty()) {
        level = std::min(level, chain.size() - 1);
        statement.assign(chain.end() - static_cast<std::ptrdiff_t>(level + 1), chain.end());
    }
    std::uint64_t counter = 0;
    for (;;) {
        bool ret = false;
        if (StepInstruction(true, ret)) return;
        const std::uint16_t pc = cpu.regs.pc;
        if (StopAtBreakpoint(pc)) return;
        const PlacedRange* r = map_.At(pc);
        if (!r && !statement.empty()) {
            // Left the source for code without lines (the closing rts back
            // into a monitor): as Step Into does, run on to a line to show.
            LeaveForSource();
            return;
        }
        if (statement.empty() || !r || !map_.EndsWith(*r, statement) || pc == pc0) {
            const std::size_t n = r ? r->chain.size() : 0;
            RecordStop(StopReason::Step, "", std::nullopt, n ? std::min(level, n - 1) : 0);
            return;
        }
        if (PauseOrLimit(counter)) return;
    }
}

// Runs until a return takes the stack above where it was: the current
// subroutine (or interrupt handler) has returned to its caller.
void Session::DoStepOut() {
    sim::Cpu& cpu = machine_->GetCpu();
    const std::uint16_t sp0 = cpu.regs.sp;
    const bool fromSource = map_.At(cpu.regs.pc) != nullptr;
    std::uint64_t counter = 0;
    for (;;) {
        bool ret = false;
        if (StepInstruction(true, ret)) return;
        const std::uint16_t pc = cpu.regs.pc;
        if (StopAtBreakpoint(pc)) return;
        if (ret && cpu.regs.sp > sp0) {
            if (fromSource && !map_.At(pc))
                LeaveForSource();
            else
                RecordStop(StopReason::Step, "");
            return;
        }
        if (PauseOrLimit(counter)) return;
    }
}

// Runs until the PC reaches code the map knows. True when the run stopped
// for another reason (a pause, a fault, the cycle limit), which is recorded.
bool Session::RunToSource() {
    temporaryStops_.clear();
    for (const PlacedRange& r : map_.Ranges())
        for (std::uint32_t i = 0; i < r.length && r.address + i <= 0xFFFF; ++i)
            temporaryStops_.push_back(static_cast<std::uint16_t>(r.address + i));
    stopsDirty_ = true;
    const Free f = RunFree(false);
    temporaryStops_.clear();
    stopsDirty_ = true;
    return f == Free::Ended;
}

// A step that went from source into code without lines ends at the next
// line with source, or where the run stops for another reason.
void Session::LeaveForSource() {
    if (RunToSource()) return;
    const std::uint16_t pc = machine_->GetCpu().regs.pc;
    if (!StopAtBreakpoint(pc)) RecordStop(StopReason::Step, "");
}

void Session::DoRunTo() {
    temporaryStops_ = runToAddresses_;
    stopsDirty_ = true;
    const Free f = RunFree(true);
    temporaryStops_.clear();
    stopsDirty_ = true;
    if (f == Free::Ended) return;
    const std::uint16_t pc = machine_->GetCpu().regs.pc;
    if (std::find(runToAddresses_.begin(), runToAddresses_.end(), pc) != runToAddresses_.end()) {
        std::optional<std::size_t> level;
        const auto chain = ChainAt(pc);
        if (runToPlace_)
            for (std::size_t i = 0; i < chain.size(); ++i)
                if (chain[i] == *runToPlace_) level = chain.size() - 1 - i;
        RecordStop(StopReason::RunToCursor, "", std::nullopt, level);
    } else {
        RecordStop(StopReason::Breakpoint, "", std::nullopt, BreakpointLevel(pc));
    }
}

// Records a breakpoint stop when the user has one at `pc`.
bool Session::StopAtBreakpoint(std::uint16_t pc) {
    if (!userStop_[pc]) return false;
    RecordStop(StopReason::Breakpoint, "", std::nullopt, BreakpointLevel(pc));
    return true;
}

// The macro level a breakpoint at `pc` was set at: the line breakpoint's
// element of the chain, else the innermost line.
std::size_t Session::BreakpointLevel(std::uint16_t pc) const {
    const auto chain = ChainAt(pc);
    if (chain.empty()) return 0;
    std::lock_guard lock(mutex_);
    for (const LineBreakpoint& b : lineBreakpoints_) {
        if (!b.resolvedLine || std::find(b.addresses.begin(), b.addresses.end(), pc) == b.addresses.end())
            continue;
        for (std::size_t i = 0; i < chain.size(); ++i)
            if (chain[i] == SourcePlace{b.mapFile, *b.resolvedLine}) return chain.size() - 1 - i;
    }
    return chain.size() - 1;
}

// ---------------------------------------------------------------------------
// Stops

bool Session::RecordHalt(Halt halt) {
    sim::Cpu& cpu = machine_->GetCpu();
    const std::uint16_t pc = cpu.regs.pc;
    switch (halt) {
    case Halt::IllegalOpcode: {
        std::string bytes = Hex(machine_->GetBus().Peek(pc), 2);
        if (model_ != sim::CpuModel::Hc11 && machine_->GetBus().Peek(pc) == 0x18)
            bytes += " " + Hex(machine_->GetBus().Peek(static_cast<std::uint16_t>(pc + 1)), 2);
        RecordStop(StopReason::IllegalOpcode, "Illegal opcode " + bytes + " at " + Where(pc));
        break;
    }
    case Halt::Stopped: {
        const auto at = InstructionEndingAt(pc).value_or(pc);
        RecordStop(StopReason::Stopped,
                   "The CPU waits (stop or wai) and no interrupt can wake it, at " + Where(at), at);
        break;
    }
    case Halt::Background: {
        const auto at = InstructionEndingAt(pc).value_or(pc);
        RecordStop(StopReason::Background, "bgnd at " + Where(at), at);
        break;
    }
    case Halt::Requested: {
        std::string text = "The board stopped the program";
        std::optional<std::uint16_t> at = InstructionEndingAt(pc);
        if (board_ && board_->StopFault()) {
            const auto& f = *board_->StopFault();
            text = f.text;
            if (!text.empty()) text[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
            // The program ran into memory that is not there: the fetch
            // itself faulted, a few bytes before the PC.
            if (!at && f.address <= pc && pc - f.address < 6) at = f.address;
            board_->ClearStopFault();
        }
        text += at ? " by the instruction at " + Where(*at) : " before " + Where(pc);
        RecordStop(StopReason::AccessFault, text, at.value_or(pc));
        break;
    }
    case Halt::Deadline:
        RecordStop(StopReason::CycleLimit,
                   "Cycle limit of " + std::to_string(maxCycles_) + " reached at " + Where(pc));
        break;
    case Halt::StopAddress: RecordStop(StopReason::Breakpoint, ""); break;
    }
    return true;
}

void Session::RecordStop(StopReason reason, std::string message, std::optional<std::uint16_t> at,
                         std::optional<std::size_t> level) {
    const sim::Cpu& cpu = machine_->GetCpu();
    StopInfo s;
    s.reason = reason;
    s.pc = cpu.regs.pc;
    s.at = at.value_or(s.pc);
    s.chain = ChainAt(s.at);
    s.level = s.chain.empty() ? 0 : std::min(level.value_or(s.chain.size() - 1), s.chain.size() - 1);
    if (message.empty()) {
        switch (reason) {
        case StopReason::Breakpoint: message = "Breakpoint at "; break;
        case StopReason::RunToCursor: message = "Ran to "; break;
        case StopReason::Paused: message = "Paused at "; break;
        default: message = "Stopped at "; break;
        }
        message += Where(s.at);
    }
    s.message = std::move(message);
    stop_ = s;
    level_ = s.level;
    stopRecorded_ = true;
    if (reason == StopReason::Loaded) return; // Open publishes and starts the worker
    Publish(false);
    std::function<void()> callback;
    {
        std::lock_guard lock(mutex_);
        running_ = false;
        callback = onStop_;
    }
    stopped_.notify_all();
    if (callback) callback();
}

void Session::Publish(bool running) {
    const sim::Cpu& cpu = machine_->GetCpu();
    const sim::Bus& bus = machine_->GetBus();
    std::string diag = diag_.str();
    diag_.str("");
    std::lock_guard lock(mutex_);
    snapshot_.running = running;
    snapshot_.regs = cpu.regs;
    snapshot_.cycles = cpu.cycles;
    snapshot_.cyclesSinceStop = cpu.cycles - runBase_;
    snapshot_.diagnostics += diag;
    snapshot_.windowAddress = windowAddress_;
    snapshot_.window.resize(windowLength_);
    for (std::uint16_t i = 0; i < windowLength_; ++i)
        snapshot_.window[i] = bus.Peek(static_cast<std::uint16_t>(windowAddress_ + i));
    if (!running) {
        snapshot_.stop = stop_;
        ++snapshot_.stops;
    }
}

// While stopped: the snapshot again after a change made from outside.
void Session::Refresh() {
    const sim::Cpu& cpu = machine_->GetCpu();
    const sim::Bus& bus = machine_->GetBus();
    snapshot_.running = false;
    snapshot_.regs = cpu.regs;
    snapshot_.cycles = cpu.cycles;
    snapshot_.stop = stop_;
    snapshot_.windowAddress = windowAddress_;
    snapshot_.window.resize(windowLength_);
    for (std::uint16_t i = 0; i < windowLength_; ++i)
        snapshot_.window[i] = bus.Peek(static_cast<std::uint16_t>(windowAddress_ + i));
}

std::vector<SourcePlace> Session::ChainAt(std::uint16_t address) const {
    const PlacedRange* r = map_.At(address);
    return r ? r->chain : std::vector<SourcePlace>{};
}

std::string Session::Where(std::uint16_t address) const {
    const PlacedRange* r = map_.At(address);
    return Hex(address, 4) + (r ? ", " + map_.Describe(r->chain) : std::string(" (no source line)"));
}

// The instruction that ends right before `pc`, when the map shows one
// (the CPU has moved past the instruction that faulted or stopped).
std::optional<std::uint16_t> Session::InstructionEndingAt(std::uint16_t pc) const {
    const PlacedRange* r = map_.At(static_cast<std::uint16_t>(pc - 1));
    if (!r || r->address + r->length != pc || r->address > 0xFFFF) return std::nullopt;
    const sim::Disassembler::Reader peek = [this](std::uint16_t a) { return machine_->GetBus().Peek(a); };
    const auto d = disasm_->Decode(static_cast<std::uint16_t>(r->address), peek);
    if (d.length != r->length) return std::nullopt;
    return static_cast<std::uint16_t>(r->address);
}

// ---------------------------------------------------------------------------
// Breakpoints

void Session::SetAddressBreakpoint(std::uint16_t address, bool on) {
    std::lock_guard lock(mutex_);
    auto it = std::find(addressBreakpoints_.begin(), addressBreakpoints_.end(), address);
    if (on && it == addressBreakpoints_.end()) addressBreakpoints_.push_back(address);
    if (!on && it != addressBreakpoints_.end()) addressBreakpoints_.erase(it);
    breakpointsChanged_ = true;
}

std::vector<LineBreakpoint> Session::SetLineBreakpoints(const std::string& file,
                                                        const std::vector<int>& lines) {
    const unsigned f = map_.FindFile(file);
    std::vector<LineBreakpoint> result;
    for (const int line : lines) {
        LineBreakpoint b;
        b.file = file;
        b.line = line;
        b.mapFile = f;
        if (f) b.resolvedLine = map_.LineWithCode(f, line);
        if (b.resolvedLine)
            for (const std::uint32_t a : map_.AddressesOf(f, *b.resolvedLine))
                if (a <= 0xFFFF) b.addresses.push_back(static_cast<std::uint16_t>(a));
        result.push_back(std::move(b));
    }
    std::lock_guard lock(mutex_);
    std::erase_if(lineBreakpoints_, [&](const LineBreakpoint& b) { return b.file == file; });
    lineBreakpoints_.insert(lineBreakpoints_.end(), result.begin(), result.end());
    breakpointsChanged_ = true;
    return result;
}

void Session::ClearBreakpoints() {
    std::lock_guard lock(mutex_);
    addressBreakpoints_.clear();
    lineBreakpoints_.clear();
    breakpointsChanged_ = true;
}

// ---------------------------------------------------------------------------
// Inspection while stopped

bool Session::GetRegisters(sim::Registers& regs) const {
    std::lock_guard lock(mutex_);
    if (running_) return false;
    regs = machine_->GetCpu().regs;
    return true;
}

bool Session::SetRegister(const std::string& name, std::uint32_t value, std::string& error) {
    std::lock_guard lock(mutex_);
    if (running_) {
        error = "the program is running";
        return false;
    }
    sim::Registers& r = machine_->GetCpu().regs;
    const std::string n = Lower(name);
    const bool byte = n == "a" || n == "b" || n == "ccr";
    if (n != "a" && n != "b" && n != "ccr" && n != "d" && n != "x" && n != "y" && n != "sp" && n != "pc") {
        error = "unknown register '" + name + "' (A, B, D, X, Y, SP, PC, CCR)";
        return false;
    }
    if (value > (byte ? 0xFFu : 0xFFFFu)) {
        error =
            "value " + Hex(value, 1) + " does not fit register " + name + (byte ? " (8 bits)" : " (16 bits)");
        return false;
    }
    if (n == "a")
        r.a = static_cast<std::uint8_t>(value);
    else if (n == "b")
        r.b = static_cast<std::uint8_t>(value);
    else if (n == "ccr")
        r.ccr = static_cast<std::uint8_t>(value);
    else if (n == "d")
        r.SetD(static_cast<std::uint16_t>(value));
    else if (n == "x")
        r.x = static_cast<std::uint16_t>(value);
    else if (n == "y")
        r.y = static_cast<std::uint16_t>(value);
    else if (n == "sp")
        r.sp = static_cast<std::uint16_t>(value);
    else {
        r.pc = static_cast<std::uint16_t>(value);
        stop_.pc = stop_.at = r.pc;
        stop_.chain = ChainAt(r.pc);
        stop_.level = level_ = stop_.chain.empty() ? 0 : stop_.chain.size() - 1;
    }
    Refresh();
    return true;
}

bool Session::ReadMemory(std::uint16_t address, std::size_t length, std::vector<std::uint8_t>& out) const {
    std::lock_guard lock(mutex_);
    if (running_) return false;
    out.resize(std::min<std::size_t>(length, 0x10000));
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] = machine_->GetBus().Peek(static_cast<std::uint16_t>(address + i));
    return true;
}

bool Session::WriteMemory(std::uint16_t address, const std::vector<std::uint8_t>& bytes, std::string& error) {
    std::lock_guard lock(mutex_);
    if (running_) {
        error = "the program is running";
        return false;
    }
    if (bytes.size() > 0x10000u - address) {
        error = "the bytes run past $FFFF";
        return false;
    }
    sim::Bus& bus = machine_->GetBus();
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bus.Poke(static_cast<std::uint16_t>(address + i), bytes[i]);
    // A device's registers do not take a debugger's store: say so rather
    // than show a value that is not there.
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const auto a = static_cast<std::uint16_t>(address + i);
        if (bus.Peek(a) != bytes[i]) {
            error = "the byte at " + Hex(a, 4) + " is not memory (a device's register or nothing): it kept " +
                    Hex(bus.Peek(a), 2);
            Refresh();
            return false;
        }
    }
    Refresh();
    return true;
}

std::vector<DisassembledLine> Session::Disassemble(std::uint16_t address, unsigned count) const {
    std::vector<DisassembledLine> out;
    std::lock_guard lock(mutex_);
    if (running_) return out;
    const sim::Disassembler::Reader peek = [this](std::uint16_t a) { return machine_->GetBus().Peek(a); };
    std::uint16_t a = address;
    for (unsigned i = 0; i < count && i < 4096; ++i) {
        const auto d = disasm_->Decode(a, peek);
        DisassembledLine l;
        l.address = a;
        l.text = d.text;
        for (unsigned k = 0; k < d.length; ++k) l.bytes.push_back(peek(static_cast<std::uint16_t>(a + k)));
        if (const PlacedRange* r = map_.At(a)) l.source = map_.Describe(r->chain.front());
        out.push_back(std::move(l));
        a = static_cast<std::uint16_t>(a + d.length);
    }
    return out;
}

// A symbol of the map: the exact name, else the only one that matches when
// case is ignored (the assembler folds case unless told otherwise). A set
// symbol has its last value. Local labels have no single value.
std::optional<std::int32_t> Session::SymbolValue(const std::string& name) const {
    const MapSymbol* exact = nullptr;
    const MapSymbol* folded = nullptr;
    bool ambiguous = false;
    const std::string lower = Lower(name);
    for (const MapSymbol& s : map_.Symbols()) {
        if (s.kind == "local") continue;
        if (s.name == name)
            exact = &s;
        else if (Lower(s.name) == lower) {
            if (folded && folded->name != s.name) ambiguous = true;
            folded = &s;
        }
    }
    if (exact) return static_cast<std::int32_t>(exact->value);
    if (folded && !ambiguous) return static_cast<std::int32_t>(folded->value);
    return std::nullopt;
}

WatchValue Session::Watch(const std::string& expression) const {
    WatchValue w;
    std::lock_guard lock(mutex_);
    if (running_) {
        w.error = "the program is running";
        return w;
    }
    ExpressionContext context;
    context.symbol = [this](const std::string& n) { return SymbolValue(n); };
    context.location = machine_->GetCpu().regs.pc;
    const auto v = EvaluateExpression(expression, context, w.error);
    if (!v) return w;
    w.ok = true;
    w.value = *v;
    const sim::Bus& bus = machine_->GetBus();
    std::uint32_t shown = static_cast<std::uint32_t>(*v);
    if (*v >= 0 && *v <= 0xFFFF) {
        w.isAddress = true;
        const auto a = static_cast<std::uint16_t>(*v);
        w.byte = bus.Peek(a);
        w.word = static_cast<std::uint16_t>(w.byte << 8 | bus.Peek(static_cast<std::uint16_t>(a + 1)));
        shown = w.byte;
    }
    w.byteText = Hex(w.isAddress ? w.byte : (shown & 0xFF), 2);
    w.wordText = Hex(w.isAddress ? w.word : (shown & 0xFFFF), 4);
    w.decimalText = w.isAddress ? std::to_string(w.byte) : std::to_string(*v);
    if (w.isAddress && w.byte >= 0x80)
        w.decimalText += " (" + std::to_string(static_cast<int>(w.byte) - 256) + ")";
    std::string bits = "%";
    for (int i = 7; i >= 0; --i) bits += ((w.isAddress ? w.byte : shown) >> i) & 1 ? '1' : '0';
    w.binaryText = bits;
    return w;
}

} // namespace qorb::debug
