#pragma once

// What the assembler needs from the operating system, behind one small
// interface: reading source files, directories, the working directory, the
// local time. host_posix.cpp implements it for POSIX systems.

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
};

// Opens a regular file for reading. Directories, FIFOs and devices are
// refused (a FIFO could block, a device never ends). Returns a handle, or -1
// with *error set to the system's error number.
int OpenRead(const std::string& name, int* error, FileId* id = nullptr);
// Reads up to n bytes; 0 at the end, -1 with *error set on failure.
long Read(int handle, char* buffer, std::size_t n, int* error);
void Close(int handle);

// The system's text for an error number.
std::string ErrorText(int error);

bool Exists(const std::string& path);
bool IsDirectory(const std::string& path);
// Names in a directory ("." and ".." left out), in the order the system gives.
bool ListDirectory(const std::string& dir, std::vector<std::string>& names);
// Shell-style match of a file name against a pattern with * and ?.
bool MatchWildcard(const std::string& pattern, const std::string& name);
bool EqualIgnoringCase(std::string_view a, std::string_view b);

std::string CurrentDirectory();
bool ChangeDirectory(const std::string& dir);

// True when an open output file is a regular file (not a device or pipe).
bool IsRegularFile(std::FILE* file);
void RemoveFile(const std::string& path);

// The local time as 24 characters, e.g. "Mon Sep 15 14:03:07 2003".
std::string LocalTimeText();

} // namespace qorb::host
