#pragma once

#include <string_view>

namespace qorb {

// Pseudo command table lookup (lower-case name): row index or -1.
int FindDirective(std::string_view lowerName);
// Number of rows and the check of the table's order and handler numbers.
bool CheckDirectiveTable();
// The name of a row (lower case); null past the last row. For editors'
// completion lists.
const char* DirectiveName(int row);
// dc.b, dc.w, dc.l and their other names: lines of data only.
bool DirectiveIsData(int row);
// Those of them without a message of their own (the obsolete names warn).
bool DirectiveIsPlainData(int row);
// equ.
bool DirectiveIsEqu(int row);

} // namespace qorb
