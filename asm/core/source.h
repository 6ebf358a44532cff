#pragma once

// Input sources: files, macro expansions and repeat blocks, one stack of them.

#include <cstddef>
#include <string>

#include "host.h"

namespace qorb {

enum class SourceKind { File, Macro, Repeat };

class InputSource {
public:
    explicit InputSource(SourceKind k) : kind(k) {}
    virtual ~InputSource() = default;
    // Delivers the next line (without line end); false at the end.
    virtual bool Next(std::string& out) = 0;
    // `mexit`: a macro expansion ends after the current line; a repeat block
    // goes on with its next repetition.
    virtual void EndExpansion() { ended = true; }

    SourceKind kind;
    std::string name; // file name; for expansions the macro's name
    int line = 0;     // lines delivered so far
    std::size_t condFloor = 0;
    std::size_t saveFloor = 0;
    std::size_t outerCondFloor = 0; // floors of the enclosing level, restored at the end
    std::size_t outerSaveFloor = 0;
    bool ended = false; // `end`, `mexit`: stop after the current line
    // Macro expansions and repeat blocks: where the body was defined.
    std::string defFile;
    int defLine = 0;
    int bodyLine = 0; // line of the body being delivered (1-based)
    // Macro expansions: the caller's `loc` scope, current again at the end
    // (a `loc` in the body scopes only the body's backquote labels).
    unsigned callerLocScope = 0;
};

class Assembler;

// Hostile sources could nest includes or expansions without end; the stack is
// bounded well below what the process can hold.
inline constexpr std::size_t kMaxSourceDepth = 1100;

// A source file, read in blocks; carriage returns and Ctrl-Z are dropped and
// lines are cut at the longest line.
class FileSource final : public InputSource {
public:
    FileSource(int fd, Assembler& as) : InputSource(SourceKind::File), fd_(fd), as_(as) {}
    ~FileSource() override { host::Close(fd_); }

    bool Next(std::string& out) override;

    // The file's identity: the same file reached by another name is still
    // a recursive include.
    host::FileId id; // the same file under another name is the same file

private:
    int fd_;
    Assembler& as_;
    char buf_[16384];
    std::size_t pos_ = 0, len_ = 0;
    bool eof_ = false;
};

} // namespace qorb
