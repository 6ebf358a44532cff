#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "assembler.h"
#include "host.h"
#include "impl.h"

namespace qorb {

// Pieces of the listing's code field, also shown by the language server's
// hover. `digits` hexadecimal digits of `v`, upper case.
void AppendHex(std::string& out, std::uint32_t v, int digits);
// The address: four digits after four blanks, eight beyond 64 KB; a blank.
void AppendListingAddress(std::string& out, std::uint32_t address);
// From item `next` on, as many whole items as fit on one listing line, each
// followed by a blank; returns the index after the last byte written.
std::size_t AppendListingItems(std::string& out, const std::uint8_t* bytes, const std::uint8_t* itemSizes,
                               std::size_t count, std::size_t next);

// The listing file of the final pass. Errors while writing are remembered
// and reported once when the file is closed. The file is opened at the start
// of the final pass but emptied and written only when it is closed (or once
// more text than is held in memory has come): an include that the final pass
// opens first may be this very file, and must keep its text.
class Listing {
public:
    Listing(Assembler& as, std::FILE* file, std::string path, const host::FileId& id)
        : as_(as), file_(file), path_(std::move(path)), id_(id) {}
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
    void Emit(const char* text, std::size_t n);
    void WriteBlock(); // writes the block being filled
    // Empties the file and writes the held text, unless the file turned out
    // to be an input of the run; from then on text is written as it comes.
    void Stream();
    void WriteLine(std::string_view text); // adds CR LF, applies the line length
    void StartPageIfNeeded();
    void NewPage();

    Assembler& as_;
    std::FILE* file_;
    std::string path_;
    host::FileId id_;
    std::string held_;  // text not written yet
    std::string block_; // text being gathered for one write, once streaming
    bool streaming_ = false;
    std::string refused_; // why the file may not be written
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
