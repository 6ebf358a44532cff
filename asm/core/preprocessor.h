#pragma once

// The preprocessor commands (include, define, conditionals, messages).

#include <string>
#include <string_view>

namespace qorb {

// Preprocessor command table lookup: row index or -1.
int FindPreprocessor(std::string_view lowerName);
bool PreprocessorIsConditional(int row);
// The table is sorted by name (it is searched by halving).
bool CheckPreprocessorTable();
// The name of a row; null past the last row. For editors' completion lists.
const char* PreprocessorName(int row);

} // namespace qorb
