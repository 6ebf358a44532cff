#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zkspawn {

// Splits a command line the way a Windows program's start-up code does, so
// that a tool command line composed for Windows (the IDE quotes the source
// path, users write "C:\dir\" style paths) reaches the tool with the same
// arguments here:
//  - spaces and tabs separate arguments; a double-quoted stretch keeps them;
//  - the program name (first argument) honours quotes only, never backslashes;
//  - 2n backslashes before a quote give n backslashes and the quote opens or
//    closes quoting; 2n+1 give n backslashes and a literal quote;
//  - backslashes not followed by a quote are literal;
//  - inside quotes, a doubled quote gives one literal quote;
//  - "" on its own is an empty argument.
std::vector<std::string> SplitWindowsCommandLine(std::string_view line);

} // namespace zkspawn
