#pragma once

// Reading a crashed process on Linux: the process is found from the crashed
// thread, all its threads are stopped with ptrace, the crash record that the
// hook left is read, and everything the minidump needs is collected. All of
// it happens on one thread (ptrace requests must come from the thread that
// attached) and before any GUI exists.

#include "elfinfo.h"
#include "failure.h"
#include "privatestrings.h"

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace ulmarro {

struct MapEntry {
    std::uint64_t start = 0, end = 0, offset = 0, inode = 0;
    std::string perms; // "r-xp"
    std::string path;  // may be empty or "[stack]" etc.
};

struct ModuleInfo {
    std::uint64_t base = 0, size = 0;
    std::string path;
    FileIdentity identity;
};

// One thread's registers in the minidump's own context layout for this
// processor (AMD64 on x86_64, ARM64 on aarch64), with pc/sp picked out.
struct ThreadContext {
    std::vector<std::uint8_t> raw;
    std::uint64_t pc = 0, sp = 0;
};

struct ThreadInfo {
    pid_t tid = 0;
    bool hasContext = false;
    ThreadContext context;
};

struct ExceptionInfo {
    bool present = false;
    pid_t threadId = 0;
    int signalNumber = 0;
    int signalCode = 0;
    std::uint64_t faultAddress = 0; // si_addr
    ThreadContext context;          // registers at the fault, from the ucontext
};

// Processor ids and context sizes of the minidump format, for this build.
std::uint16_t MinidumpProcessorArchitecture();

class CrashedProcess {
public:
    CrashedProcess() = default;
    CrashedProcess(const CrashedProcess&) = delete;
    CrashedProcess& operator=(const CrashedProcess&) = delete;
    ~CrashedProcess();

    // Start-up step "find the process": the owner of the thread (or our
    // parent for thread id 0), its executable and version.
    Failure Find(std::uint64_t threadId);
    // Stops every thread of the process; threads that vanish are dropped.
    Failure Suspend();
    // Reads the crash record at `address` and the siginfo and ucontext it
    // points at.
    Failure ReadException(std::uint64_t address);
    // Maps and modules; the faulting module from the crashed thread's pc.
    // Also reads the environment and command line whose text the dump must
    // leave out.
    Failure ReadModules();
    // Lets the threads run on. Called as soon as the dump is written; also
    // done by the destructor.
    void Detach();

    bool ReadMemory(std::uint64_t address, void* buffer, std::size_t size) const;
    std::string ReadProcFile(const char* name) const; // /proc/<pid>/<name>, bounded

    pid_t pid() const { return pid_; }
    pid_t requestedThread() const { return thread_; }
    const std::string& executablePath() const { return executable_; }
    const FileIdentity& executableIdentity() const { return executableIdentity_; }
    const std::vector<ThreadInfo>& threads() const { return threads_; }
    const ExceptionInfo& exception() const { return exception_; }
    const std::vector<MapEntry>& maps() const { return maps_; }
    const std::string& mapsText() const { return mapsText_; }
    const std::vector<ModuleInfo>& modules() const { return modules_; }

    // The faulting module (nullptr when the pc is in no module) and the pc.
    const ModuleInfo* faultingModule() const;
    std::uint64_t exceptionPc() const { return exception_.present ? exception_.context.pc : 0; }
    const MapEntry* MappingAt(std::uint64_t address) const;
    // Where the process keeps its environment and argument strings (at the
    // top of the main thread's stack); the dump blanks them out. {0, 0} when
    // unknown.
    std::pair<std::uint64_t, std::uint64_t> environmentRange() const { return environment_; }
    std::pair<std::uint64_t, std::uint64_t> argumentRange() const { return arguments_; }
    // The environment values and arguments whose copies the dump blanks.
    const PrivateStrings& privateStrings() const { return private_; }
    // Zeroes, in data = the process's bytes [address, address+size), the
    // environment and argument blocks and every copy of an environment value
    // or an argument (of more than three characters). A copy that runs
    // across either end of the range is found by reading the bytes beyond.
    void BlankPrivateData(std::uint64_t address, std::uint8_t* data, std::size_t size) const;

private:
    bool StopThread(pid_t tid);

    pid_t pid_ = 0;
    pid_t thread_ = 0;
    std::string executable_;
    FileIdentity executableIdentity_;
    std::vector<pid_t> attached_;
    std::vector<ThreadInfo> threads_;
    ExceptionInfo exception_;
    std::vector<MapEntry> maps_;
    std::string mapsText_;
    std::vector<ModuleInfo> modules_;
    int faultingModule_ = -1;
    std::pair<std::uint64_t, std::uint64_t> environment_{0, 0};
    std::pair<std::uint64_t, std::uint64_t> arguments_{0, 0};
    PrivateStrings private_;
};

// Parses /proc/<pid>/maps text.
std::vector<MapEntry> ParseMaps(const std::string& text);
// Groups file mappings into modules: a module starts at a file mapping with
// offset 0; following mappings of the same file belong to it.
std::vector<ModuleInfo> ModulesFromMaps(const std::vector<MapEntry>& maps);

} // namespace ulmarro
