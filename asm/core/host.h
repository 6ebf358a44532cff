#pragma once

// What the assembler needs from the operating system, behind one small
// interface: reading source files, directories, the working directory, the
// local time, file names. host_posix.cpp implements it for POSIX systems,
// host_win.cpp for Windows.

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace qorb::host {

// Identifies a file independently of the name it was opened by.
struct FileId {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    bool operator==(const FileId&) const = default;
    // False when the system could not say (such an identity matches nothing).
    bool Known() const { return device != 0 || inode != 0; }
};

// Opens a regular file for reading. Directories, FIFOs and devices are
// refused (a FIFO could block, a device never ends). Returns a handle, or -1
// with *error set to the system's error number.
int OpenRead(const std::string& name, int* error, FileId* id = nullptr);
// Reads up to n bytes; 0 at the end, -1 with *error set on failure.
long Read(int handle, char* buffer, std::size_t n, int* error);
// The size of an opened file in bytes; -1 when the system cannot say.
long long FileSize(int handle);
void Close(int handle);

// Error numbers are the system's own: errno values on POSIX, Win32 error
// codes on Windows. The system's text for one of them.
std::string ErrorText(int error);
// The error of the C library file call (fopen, fwrite, fflush, fclose) that
// has just failed.
int LastFileError();
// For a failed write that did not say why, and for an output grown too large.
int IoErrorCode();
int FileTooLargeCode();
// True for the errors that mean "no such file" (as opposed to one that exists
// but cannot be read).
bool IsNotFound(int error);

// File names: `\` and `/` both separate directories in every name a user
// writes, so sources written on either system assemble unchanged; names are
// written back with the native separator.
bool IsSeparator(char c);
char NativeSeparator();
std::string NativeSeparators(std::string name);
// A name that does not depend on the working directory (POSIX: leading `/`;
// Windows: a drive letter, a leading separator or a UNC name).
bool IsAbsolute(std::string_view name);
// A command-line word beginning with `/` is an option, unless on this system
// it names a file (POSIX absolute names begin with `/`).
bool SlashWordIsFileName(const std::string& word);

bool Exists(const std::string& path);
bool IsDirectory(const std::string& path);
// Names in a directory ("." and ".." left out), in the order the system gives.
bool ListDirectory(const std::string& dir, std::vector<std::string>& names);
// Shell-style match of a file name against a pattern with * and ?.
// Case matters where the file system's names do.
bool MatchWildcard(const std::string& pattern, const std::string& name);
// Hidden entries are left out of wildcard expansions (POSIX: names beginning
// with a dot; Windows: the hidden attribute). `path` is the full name.
bool IsHidden(const std::string& path);
// The order in which wildcard matches are taken: the order of the system's
// own listings where it has one (Windows lists names without regard to case),
// plain byte order elsewhere, so a run never depends on the directory's layout.
bool NameLess(const std::string& a, const std::string& b);
bool EqualIgnoringCase(std::string_view a, std::string_view b);

std::string CurrentDirectory();
bool ChangeDirectory(const std::string& dir);

// The identity of an existing file, links followed (a hard link has the
// identity of the file it names). False when there is no such file.
bool Identify(const std::string& name, FileId* id);
// Opens an output for writing, creating it when missing, but without
// truncating it: the caller first compares its identity with the run's
// inputs. Only regular files: a FIFO, a device or a directory is refused
// (the system's "invalid argument" and "is a directory" errors), and a FIFO
// is never waited on. Returns null with *error set on failure.
std::FILE* OpenOutput(const std::string& name, int* error, FileId* id);
// Empties an output opened by OpenOutput; false with *error set on failure.
bool TruncateOutput(std::FILE* file, int* error);
// True when an open output file is a regular file (not a device or pipe).
bool IsRegularFile(std::FILE* file);
void RemoveFile(const std::string& path);

// The exit status for an internal error: -1 where the system keeps it
// (Windows), 255 where statuses have eight bits.
int InternalErrorStatus();

// The local time as 24 characters, e.g. "Mon Sep 15 14:03:07 2003".
std::string LocalTimeText();

// Large sources: a program that owns its process (the assemblers' command
// line, not a server running many assemblies) calls UseLargePages once;
// ExpectHeapUse then readies the heap for about `bytes` more of the small
// and large allocations a big source brings, on memory the system may back
// with large pages, so that first touching it costs a fault per 2 MB rather
// than per 4 KB. Does nothing where the system or the allocator cannot.
void UseLargePages();
void ExpectHeapUse(std::size_t bytes);

} // namespace qorb::host
