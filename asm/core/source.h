#pragma once

#include <string>
#include <string_view>
#include <sys/stat.h>

namespace qorb {

// Opens a regular file for reading (a directory, FIFO or device is refused);
// -1 with *error set on failure. `info`, when given, receives the file's status.
int OpenForReading(const std::string& name, int* error, struct stat* info = nullptr);

// Preprocessor command table lookup: row index or -1.
int FindPreprocessor(std::string_view lowerName);
bool PreprocessorIsConditional(int row);
// The table is sorted by name (it is searched by halving).
bool CheckPreprocessorTable();

} // namespace qorb
