#pragma once

#include "failure.h"

#include <string>

namespace ulmarro {

// The directory for report files: $TMPDIR (or /tmp) when it is a usable
// directory, else the current directory.
std::string TemporaryDirectory();

// Creates "~zk%08x.<extension>" in the temporary directory, the number coming
// from the kernel's random source (a new one for each of up to 100 attempts
// when the name is taken). The file is created new and private (never an
// existing file or a symbolic link someone else planted in a shared
// directory). Returns the open descriptor.
int CreateTemporaryFile(const std::string& extension, std::string* path, Failure* failure);

} // namespace ulmarro
