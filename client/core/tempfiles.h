#pragma once

#include "failure.h"

#include <string>

namespace ulmarro {

// The directory for report files: $TMPDIR (or /tmp) when it is a usable
// directory, else the current directory.
std::string TemporaryDirectory();

// Creates "~zk%08x.<extension>" in the temporary directory, the number being a
// millisecond tick count plus the attempt number (up to 1000 attempts). The
// file is created new and private (never an existing file or a symbolic link
// someone else planted in a shared directory). Returns the open descriptor.
int CreateTemporaryFile(const std::string& extension, std::string* path, Failure* failure);

} // namespace ulmarro
