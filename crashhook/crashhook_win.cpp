// The crash hook on Windows: a process-wide unhandled-exception filter that
// starts the report client registered under HKEY_LOCAL_MACHINE and waits for
// it while the crashed thread stays blocked in the filter.

#include "crashhook.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace crashhook {
namespace {

constexpr std::uint32_t kInvalidArgument = 0x80070057;
constexpr char kClientKey[] = "SOFTWARE\\KORVELL\\Ulmarro";
// Room the system keeps on a thread's stack for the filter when the thread
// has run out of stack.
constexpr ULONG kStackGuarantee = 64 * 1024;

Program g_program = Program::Qorb12;
bool g_installed = false;
// The thread that is reporting; a second crashing thread waits for its end.
volatile LONG g_reportingThread = 0;
// Built in static storage: the heap may be what broke.
char g_commandLine[512];

// A Win32 error as a COM-style status; 0 and negative values pass unchanged.
std::int32_t StatusFromError(DWORD code) {
    std::int32_t c = static_cast<std::int32_t>(code);
    if (c <= 0) return c;
    return static_cast<std::int32_t>(0x80070000u | (code & 0xFFFFu));
}

bool Readable(const void* address, std::size_t size) {
    const char* p = static_cast<const char*>(address);
    const char* end = p + size;
    while (p < end) {
        MEMORY_BASIC_INFORMATION mbi;
        if (::VirtualQuery(p, &mbi, sizeof mbi) == 0) return false;
        if (mbi.State != MEM_COMMIT || (mbi.Protect & (PAGE_NOACCESS | PAGE_GUARD)) != 0) return false;
        const DWORD readable = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
                               PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
        if ((mbi.Protect & readable) == 0) return false;
        p = static_cast<const char*>(mbi.BaseAddress) + mbi.RegionSize;
    }
    return true;
}

// Starts the client with the crashed thread, the exception-pointers address
// and the application identifier, and waits for it. Returns 0 or a negative
// status; *launchResult gets the client's exit code when it could be read.
std::int32_t LaunchClient(const char* id, const void* exceptionPointers, DWORD* launchResult) {
    if (launchResult == nullptr) return static_cast<std::int32_t>(kInvalidArgument);
    *launchResult = 2;
    if (id == nullptr || exceptionPointers == nullptr || !Readable(exceptionPointers, 8))
        return static_cast<std::int32_t>(kInvalidArgument);

    HKEY key = nullptr;
    LONG rc = ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kClientKey, 0, KEY_READ, &key);
    if (rc != ERROR_SUCCESS) return StatusFromError(static_cast<DWORD>(rc));
    char path[260];
    DWORD type = 0;
    DWORD size = sizeof path;
    rc = ::RegQueryValueExA(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(path), &size);
    ::RegCloseKey(key);
    if (rc != ERROR_SUCCESS) return StatusFromError(static_cast<DWORD>(rc));
    // Only a text names a program; anything else would be started as garbage.
    if (type != REG_SZ && type != REG_EXPAND_SZ) return StatusFromError(ERROR_INVALID_DATA);
    // The stored length may or may not count the terminating zero.
    std::size_t length = size;
    while (length > 0 && path[length - 1] == '\0') --length;
    if (length == 0) return StatusFromError(ERROR_FILE_NOT_FOUND);

    // On 64-bit Windows the address takes 16 digits; the client reads any length.
    int n = std::snprintf(
        g_commandLine, sizeof g_commandLine, "\"%.*s\" -t %lu -e 0x%0*llX -i %s", static_cast<int>(length),
        path, static_cast<unsigned long>(::GetCurrentThreadId()), static_cast<int>(sizeof(void*) * 2),
        static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(exceptionPointers)), id);
    if (n < 0 || static_cast<std::size_t>(n) >= sizeof g_commandLine)
        return static_cast<std::int32_t>(kInvalidArgument);

    STARTUPINFOA si;
    std::memset(&si, 0, sizeof si);
    si.cb = sizeof si;
    PROCESS_INFORMATION pi;
    std::memset(&pi, 0, sizeof pi);
    if (!::CreateProcessA(nullptr, g_commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return StatusFromError(::GetLastError());
    if (::WaitForSingleObject(pi.hProcess, INFINITE) == WAIT_OBJECT_0) {
        DWORD code = 0;
        if (::GetExitCodeProcess(pi.hProcess, &code)) *launchResult = code;
    }
    ::CloseHandle(pi.hThread);
    ::CloseHandle(pi.hProcess);
    return 0;
}

LONG WINAPI Filter(EXCEPTION_POINTERS* exceptionPointers) {
    LONG self = static_cast<LONG>(::GetCurrentThreadId());
    LONG previous = ::InterlockedCompareExchange(&g_reportingThread, self, 0);
    if (previous == self) return EXCEPTION_CONTINUE_SEARCH; // a fault inside the hook: the system's turn
    if (previous != 0) {
        // Another thread reports already; its end decides how the process ends.
        for (;;) ::Sleep(INFINITE);
    }

    DWORD launchResult = 2;
    std::int32_t status = LaunchClient(ApplicationId(g_program), exceptionPointers, &launchResult);
    if (g_program == Program::Oxbrin) {
        // Exit code 1: the user asked for the system's debugger.
        if (status < 0 || launchResult == 1) return EXCEPTION_CONTINUE_SEARCH;
        ::ExitProcess(0xFFFFFFFFu);
    }
    if (status < 0) return EXCEPTION_CONTINUE_SEARCH;
    ::ExitProcess(2);
}

} // namespace

void InstallForThread() {
    ULONG size = kStackGuarantee;
    ::SetThreadStackGuarantee(&size);
}

void Install(Program program) {
    g_program = program;
    if (!g_installed) {
        g_installed = true;
        ::SetUnhandledExceptionFilter(Filter);
    }
    InstallForThread();
}

void CrashMe() {
    volatile std::uintptr_t address = 0x10;
    *reinterpret_cast<volatile int*>(address) = 0;
    std::abort();
}

std::string SystemSettingsFile() { return std::string("HKEY_LOCAL_MACHINE\\") + kClientKey; }

std::string ReadClientPath() {
    HKEY key = nullptr;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kClientKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return {};
    char path[260];
    DWORD type = 0;
    DWORD size = sizeof path;
    LONG rc = ::RegQueryValueExA(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(path), &size);
    ::RegCloseKey(key);
    if (rc != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return {};
    std::size_t length = size;
    while (length > 0 && path[length - 1] == '\0') --length;
    return std::string(path, length);
}

} // namespace crashhook
