#pragma once

// Input sources: files, macro expansions and repeat blocks, one stack of them.

#include <cstddef>
#include <string>
#include <string_view>

#include "host.h"
#include "linecache.h"

namespace qorb {

enum class SourceKind { File, Macro, Repeat };

class InputSource {
public:
    explicit InputSource(SourceKind k) : kind(k) {}
    virtual ~InputSource() = default;
    // Delivers the next line (without line end); false at the end. The text
    // stays valid until the source delivers another line or goes.
    virtual bool Next(std::string_view& out) = 0;
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

// Cuts a file into lines, read in blocks: carriage returns and Ctrl-Z are
// dropped and lines are cut at the longest line.
class FileReader {
public:
    explicit FileReader(int fd) : fd_(fd) {}
    // The next line into `out`; false at the end. A failed read sets `error`
    // (the system's error number) and ends the file after the part of a
    // line read before it.
    bool Next(std::string& out, int& error);

private:
    int fd_;
    char buf_[16384];
    std::size_t pos_ = 0, len_ = 0;
    bool eof_ = false;
};

// Reads a whole file of about `size` bytes into its lines for the line cache.
void LoadFileText(int fd, std::size_t size, FileText& text);

// A source file: its lines from the line cache, or, for a file too large to
// keep, read block by block.
class FileSource final : public InputSource {
public:
    FileSource(int fd, Assembler& as, FileText* text)
        : InputSource(SourceKind::File), fd_(fd), as_(as), text_(text), reader_(fd) {}
    ~FileSource() override { host::Close(fd_); }

    bool Next(std::string_view& out) override;
    // What was learnt about the line delivered last; null when not cached.
    LineMemo* Memo() { return text_ ? &text_->memos[next_ - 1] : nullptr; }
    // The cached lines (null for a file read block by block) and the index
    // of the one to deliver next.
    FileText* Text() const { return text_; }
    std::size_t NextIndex() const { return next_; }
    // The next `n` cached lines were taken without being delivered.
    void Skip(std::size_t n) {
        next_ += n;
        line += static_cast<int>(n);
    }

    // The file's identity: the same file reached by another name is still
    // a recursive include.
    host::FileId id; // the same file under another name is the same file

private:
    int fd_;
    Assembler& as_;
    FileText* text_;
    std::size_t next_ = 0; // the cached line to deliver next
    bool errorGiven_ = false;
    FileReader reader_;
    std::string line_; // the streamed line
};

} // namespace qorb
