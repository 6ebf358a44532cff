#pragma once

// S-record files as the assembler reads them.

#include <string>

namespace qorb {

enum class RecordFile { Empty, Records, Other };

// Reads an open file as long as each line is an S-record. With
// `blankLines`, lines of blanks are passed over; `first` receives the first
// line (without its line end).
RecordFile ScanRecords(int handle, bool blankLines, std::string* first);

} // namespace qorb
