#include "host.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <io.h>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace qorb::host {

namespace {

// Handles travel through the interface as ints: the system keeps their
// significant bits within 32 bits on 64-bit Windows too, for exactly this.
HANDLE ToHandle(int handle) { return LongToHandle(handle); }
int FromHandle(HANDLE h) { return HandleToLong(h); }

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

DWORD Attributes(const std::string& path) { return ::GetFileAttributesA(path.c_str()); }

// The volume and the file's index on it: what a device and an inode are on
// POSIX. Hard links share the index.
FileId IdOf(HANDLE h) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!::GetFileInformationByHandle(h, &info)) return FileId{};
    return FileId{info.dwVolumeSerialNumber,
                  (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
}

} // namespace

int OpenRead(const std::string& name, int* error, FileId* id) {
    HANDLE h = ::CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        *error = static_cast<int>(::GetLastError());
        return -1;
    }
    // Only disk files: a pipe could block and a device (CON, COM1) never ends.
    if (::GetFileType(h) != FILE_TYPE_DISK) {
        ::CloseHandle(h);
        *error = ERROR_INVALID_PARAMETER;
        return -1;
    }
    if (id) *id = IdOf(h);
    return FromHandle(h);
}

long Read(int handle, char* buffer, std::size_t n, int* error) {
    DWORD want = n > 0x40000000 ? 0x40000000 : static_cast<DWORD>(n);
    DWORD got = 0;
    if (!::ReadFile(ToHandle(handle), buffer, want, &got, nullptr)) {
        DWORD e = ::GetLastError();
        if (e == ERROR_HANDLE_EOF || e == ERROR_BROKEN_PIPE) return 0;
        *error = static_cast<int>(e);
        return -1;
    }
    return static_cast<long>(got);
}

long long FileSize(int handle) {
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(ToHandle(handle), &size)) return -1;
    return static_cast<long long>(size.QuadPart);
}

void Close(int handle) {
    if (handle != -1) ::CloseHandle(ToHandle(handle));
}

std::string ErrorText(int error) {
    char* text = nullptr;
    DWORD n = ::FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                   FORMAT_MESSAGE_IGNORE_INSERTS,
                               nullptr, static_cast<DWORD>(error), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                               reinterpret_cast<char*>(&text), 0, nullptr);
    std::string result;
    if (n != 0 && text != nullptr) result.assign(text, n);
    if (text != nullptr) ::LocalFree(text);
    // The system's texts end with CR LF; a message line has its own end.
    while (!result.empty() && (result.back() == '\n' || result.back() == '\r')) result.pop_back();
    if (result.empty()) {
        char buf[48];
        std::snprintf(buf, sizeof buf, "system error %d", error);
        result = buf;
    }
    return result;
}

int LastFileError() {
    // The C library keeps the system's code of its last failed call beside
    // errno; it is taken once, so a later failure is not told with an old code.
    int code = static_cast<int>(_doserrno);
    _doserrno = 0;
    if (code != 0) return code;
    switch (errno) {
    case 0: return 0;
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case EACCES: return ERROR_ACCESS_DENIED;
    case ENOSPC: return ERROR_DISK_FULL;
    case EFBIG: return ERROR_FILE_TOO_LARGE;
    case EEXIST: return ERROR_FILE_EXISTS;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    case EMFILE: return ERROR_TOO_MANY_OPEN_FILES;
    default: return ERROR_WRITE_FAULT;
    }
}

int IoErrorCode() { return ERROR_WRITE_FAULT; }
int FileTooLargeCode() { return ERROR_FILE_TOO_LARGE; }

bool IsNotFound(int error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_INVALID_NAME;
}

bool IsSeparator(char c) { return c == '/' || c == '\\'; }
char NativeSeparator() { return '\\'; }

std::string NativeSeparators(std::string name) {
    for (char& c : name)
        if (c == '/') c = '\\';
    return name;
}

bool IsAbsolute(std::string_view name) {
    if (name.empty()) return false;
    // "\dir", "\\server\share" and "C:..." do not depend on the working
    // directory's path (a bare drive relies only on that drive's own).
    if (IsSeparator(name[0])) return true;
    return name.size() >= 2 && name[1] == ':' &&
           ((name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= 'a' && name[0] <= 'z'));
}

// Here `/` always introduces an option, as users of this system expect.
bool SlashWordIsFileName(const std::string&) { return false; }

bool Exists(const std::string& path) { return Attributes(path) != INVALID_FILE_ATTRIBUTES; }

bool IsDirectory(const std::string& path) {
    DWORD a = Attributes(path);
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool IsHidden(const std::string& path) {
    DWORD a = Attributes(path);
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_HIDDEN) != 0;
}

bool ListDirectory(const std::string& dir, std::vector<std::string>& names) {
    names.clear();
    std::string pattern = dir;
    if (!pattern.empty() && !IsSeparator(pattern.back()) && !(pattern.size() == 2 && pattern[1] == ':'))
        pattern += '\\';
    pattern += '*';
    WIN32_FIND_DATAA data;
    HANDLE h = ::FindFirstFileA(pattern.c_str(), &data);
    if (h == INVALID_HANDLE_VALUE) return ::GetLastError() == ERROR_FILE_NOT_FOUND;
    do {
        std::string_view n = data.cFileName;
        if (n == "." || n == "..") continue;
        names.emplace_back(n);
    } while (::FindNextFileA(h, &data));
    ::FindClose(h);
    return true;
}

// The system's own pattern matching also matches the generated short names
// ("*.asm" finds "x.asmx" through "X~1.ASM"); the long names are matched here
// instead, without regard to case like every name on this system.
bool MatchWildcard(const std::string& pattern, const std::string& name) {
    std::size_t p = 0, n = 0, starP = std::string::npos, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starN = n;
        } else if (p < pattern.size() && (pattern[p] == '?' || Lower(pattern[p]) == Lower(name[n]))) {
            ++p;
            ++n;
        } else if (starP != std::string::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

bool NameLess(const std::string& a, const std::string& b) {
    std::size_t n = a.size() < b.size() ? a.size() : b.size();
    for (std::size_t i = 0; i < n; ++i) {
        char x = Lower(a[i]), y = Lower(b[i]);
        if (x != y) return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
    }
    if (a.size() != b.size()) return a.size() < b.size();
    return a < b;
}

bool EqualIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (Lower(a[i]) != Lower(b[i])) return false;
    return true;
}

std::string CurrentDirectory() {
    char buf[MAX_PATH * 4];
    DWORD n = ::GetCurrentDirectoryA(sizeof buf, buf);
    return n > 0 && n < sizeof buf ? std::string(buf, n) : std::string(".");
}

bool ChangeDirectory(const std::string& dir) { return ::SetCurrentDirectoryA(dir.c_str()) != 0; }

bool Identify(const std::string& name, FileId* id) {
    // No access asked for: only the file's index is read, even of a file
    // another program holds open. Links are followed, as in every open.
    HANDLE h = ::CreateFileA(name.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    *id = IdOf(h);
    ::CloseHandle(h);
    return true;
}

std::FILE* OpenOutput(const std::string& name, int* error, FileId* id) {
    DWORD a = Attributes(name);
    if (a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        *error = ERROR_ACCESS_DENIED; // what the system says when a directory is opened as a file
        return nullptr;
    }
    // OPEN_ALWAYS keeps the file's contents until it is known to be no input.
    HANDLE h = ::CreateFileA(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        *error = static_cast<int>(::GetLastError());
        return nullptr;
    }
    // Only disk files: a pipe or a device (CON, COM1, NUL) is no place for an output.
    if (::GetFileType(h) != FILE_TYPE_DISK) {
        ::CloseHandle(h);
        *error = ERROR_INVALID_PARAMETER;
        return nullptr;
    }
    *id = IdOf(h);
    int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(h), _O_WRONLY | _O_BINARY);
    if (fd == -1) {
        ::CloseHandle(h);
        *error = ERROR_TOO_MANY_OPEN_FILES;
        return nullptr;
    }
    std::FILE* f = ::_fdopen(fd, "wb");
    if (!f) {
        ::_close(fd); // closes the handle too
        *error = ERROR_TOO_MANY_OPEN_FILES;
    }
    return f;
}

bool TruncateOutput(std::FILE* file, int* error) {
    HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
    LARGE_INTEGER zero{};
    if (h == INVALID_HANDLE_VALUE || !::SetFilePointerEx(h, zero, nullptr, FILE_BEGIN) ||
        !::SetEndOfFile(h)) {
        *error = static_cast<int>(::GetLastError());
        return false;
    }
    return true;
}

bool IsRegularFile(std::FILE* file) {
    intptr_t os = _get_osfhandle(_fileno(file));
    if (os == -1) return false;
    return ::GetFileType(reinterpret_cast<HANDLE>(os)) == FILE_TYPE_DISK;
}

void RemoveFile(const std::string& path) { ::DeleteFileA(path.c_str()); }

int InternalErrorStatus() { return -1; }

void UseLargePages() {}
void ExpectHeapUse(std::size_t) {}

std::string LocalTimeText() {
    static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    SYSTEMTIME t;
    ::GetLocalTime(&t);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%s %s %2u %02u:%02u:%02u %u", kDays[t.wDayOfWeek % 7],
                  kMonths[(t.wMonth + 11) % 12], t.wDay, t.wHour, t.wMinute, t.wSecond, t.wYear);
    return buf;
}

} // namespace qorb::host
