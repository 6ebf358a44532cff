#pragma once

// Crash hook shared by the assemblers and the IDE. Install() is the first
// thing each program does; after that any fatal signal starts the report
// client for the crashed process.

#include <cstdint>
#include <string>
#include <vector>

namespace crashhook {

enum class Program { Qorb12, Qorb11, Oxbrin };

// Installs the handlers for SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT and
// SIGTRAP and an alternate signal stack for the calling thread. The client's
// path is looked up here once; the handler itself never reads files.
void Install(Program program);

// Gives the calling thread an alternate signal stack of its own, so that a
// stack overflow on that thread still reaches the hook. Threads without one
// die silently on stack overflow. Safe to call more than once per thread.
void InstallForThread();

// Provokes a real access fault (a write to a small invalid address), so the
// whole report path can be exercised from the command line.
[[noreturn]] void CrashMe();

// The program's application identifier in braced GUID form, for example
// "{A51E686F-6D49-4FCE-ACBD-D1D002C9D0B7}" for the IDE.
const char* ApplicationId(Program program);

// The record whose address the client receives with -e. It lives in the
// crashed process and points at the kernel's siginfo and ucontext of the
// crash, which stay valid while the crashed thread waits for the client.
#pragma pack(push, 1)
struct CrashRecord {
    std::uint64_t siginfoAddress;
    std::uint64_t ucontextAddress;
    std::int32_t threadId;
};
#pragma pack(pop)
static_assert(sizeof(CrashRecord) == 20);

// Where the client registers itself: the system-scope settings file of the
// client, KORVELL/Ulmarro.conf under the first directory of XDG_CONFIG_DIRS
// (default /etc/xdg), the first of SystemSettingsFiles(). The key "Default" of the [General] group holds the
// client's full path.
std::string SystemSettingsFile();

// The registration file of the installation tree the running program
// belongs to: <program dir>/../etc/xdg/KORVELL/Ulmarro.conf. An install
// that cannot write the system scope registers the client there.
std::string InstallTreeSettingsFile();

// Every system-scope settings file in search order: KORVELL/Ulmarro.conf in
// each directory of XDG_CONFIG_DIRS (or /etc/xdg), then the installation
// tree's own file. A value is taken from the first file that holds it.
std::vector<std::string> SystemSettingsFiles();

// Reads the client's path: the first registration found in the system-scope
// files of every directory of XDG_CONFIG_DIRS (or /etc/xdg), then in the
// installation tree's own file; empty when none holds one. Exposed for the
// client and for tests.
std::string ReadClientPath();

// Value of one key of an INI settings file written by the client's settings
// layer; "group" empty means the [General] group. Returns false when absent.
bool ReadIniValue(const std::string& file, const std::string& group, const std::string& key,
                  std::string* value);

} // namespace crashhook
