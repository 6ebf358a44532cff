#pragma once

#include <string>
#include <string_view>

namespace qorb {

// Opens a file for reading (not a directory); -1 with *error set on failure.
int OpenForReading(const std::string& name, int* error);

// Preprocessor command table lookup: row index or -1.
int FindPreprocessor(std::string_view lowerName);
bool PreprocessorIsConditional(int row);
// The table is sorted by name (it is searched by halving).
bool CheckPreprocessorTable();

} // namespace qorb
