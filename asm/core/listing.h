#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "assembler.h"
#include "impl.h"

namespace qorb {

// The listing file of the final pass. Errors while writing are remembered
// and reported once when the file is closed.
class Listing {
public:
    Listing(Assembler& as, std::FILE* file, std::string path) : as_(as), file_(file), path_(std::move(path)) {}
    ~Listing();

    void Header(const std::string& text) { Write(text); }
    void Message(std::string_view line);
    // Lists one processed source line.
    void Line(std::string_view text, int number, const LineState& ls, const LineCode& code);
    void Symbols(bool usedOnly);
    // Flushes and closes; false (after reporting A1010 / A1008) on failure.
    bool Close();

private:
    void Write(std::string_view text);
    void WriteLine(std::string_view text); // adds CR LF, applies the line length
    void StartPageIfNeeded();
    void NewPage();

    Assembler& as_;
    std::FILE* file_;
    std::string path_;
    bool failed_ = false;
    int writeErrno_ = 0;
    std::uint64_t written_ = 0;
    std::string line_; // the listing line being built
    int linesOnPage_ = 0;
    bool pageBreakPending_ = false;

    friend struct Assembler::Impl;
public:
    void ForcePage() { pageBreakPending_ = true; }
    void Spacing(int n);
};

} // namespace qorb
