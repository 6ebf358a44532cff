#pragma once

// The assembler's run context: settings, pass state, message reporter, the
// scanner over the current line, symbols, sections, the input source stack,
// macros and the listing. One object per run; nothing global, so tests can
// run many assemblies in one process.

#include <array>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "messages.h"
#include "target.h"

namespace qorb {

inline constexpr int kVersionMajor = 1;
inline constexpr int kVersionMinor = 21;
inline constexpr unsigned kBuildNumber = 129;
inline constexpr std::size_t kMaxLineLength = 4095;
inline constexpr std::size_t kMaxSymbolLength = 256;

struct Settings {
    bool listing = false;
    bool cycles = false;
    bool symbolListing = false;
    bool usedSymbolsOnly = false;
    bool caseSensitive = false;
    bool compat = false; // -mc
    bool statistics = false;
    bool hcs = false;
    int warningLevel = 3;
    long long maxPasses = 10;   // Amax
    long long minPasses = 5;    // Amin
    long long errorLimit = 100000; // Ae
    std::string objectFile;
    std::string listingFile;
    std::string errorFile;          // as opened
    std::string errorFileAsWritten; // as the user wrote it, for messages
    std::vector<std::string> includeDirs;
};

// Result of an expression: 32-bit value with parsed and known marks.
struct ExprResult {
    std::int32_t value = 0;
    bool parsed = false;
    bool known = false;
};

// The scanner over the line being processed. Positions are offsets into the
// line; the column of a message is position + 1.
class Scanner {
public:
    void Set(const char* text, std::size_t length) {
        line_ = text;
        length_ = length;
        pos_ = 0;
    }
    const char* Line() const { return line_; }
    std::size_t Length() const { return length_; }
    std::size_t Pos() const { return pos_; }
    void SetPos(std::size_t p) { pos_ = p <= length_ ? p : length_; }
    char Cur() const { return pos_ < length_ ? line_[pos_] : '\0'; }
    char At(std::size_t ahead) const { return pos_ + ahead < length_ ? line_[pos_ + ahead] : '\0'; }
    void Advance(std::size_t n = 1) { pos_ = pos_ + n <= length_ ? pos_ + n : length_; }
    bool AtEnd() const { return pos_ >= length_; }
    std::string_view Rest() const { return std::string_view(line_ + pos_, length_ - pos_); }

    // Moves over blanks; false at the end of the line or at ';'.
    inline bool SkipBlanks();
    // True at the end of the line or at a ';' comment.
    bool AtStatementEnd() const { return pos_ >= length_ || line_[pos_] == ';'; }
    bool Accept(char c) {
        if (Cur() == c && !AtEnd()) {
            ++pos_;
            return true;
        }
        return false;
    }

private:
    const char* line_ = "";
    std::size_t length_ = 0;
    std::size_t pos_ = 0;
};

// Character classes over the 7-bit set; bytes from $80 up have no class.
// Inline: the scanner asks for every character of every line in every pass.
namespace chars {
namespace detail {
enum : unsigned char { kBlank = 1, kDigit = 2, kLetter = 4, kHex = 8, kSpecial = 16, kTail = 32 };
constexpr std::array<unsigned char, 128> MakeClasses() {
    std::array<unsigned char, 128> t{};
    t['\t'] = t['\v'] = t['\f'] = t[' '] = kBlank;
    for (int c = '0'; c <= '9'; ++c) t[c] = kDigit | kHex;
    for (int c = 'a'; c <= 'z'; ++c) t[c] = kLetter;
    for (int c = 'A'; c <= 'Z'; ++c) t[c] = kLetter;
    for (int c = 'a'; c <= 'f'; ++c) t[c] |= kHex;
    for (int c = 'A'; c <= 'F'; ++c) t[c] |= kHex;
    t['$'] = t['.'] = t['_'] = kSpecial;
    t['?'] = t['@'] = kTail;
    return t;
}
inline constexpr auto kClasses = MakeClasses();
inline unsigned char ClassOf(char c) {
    auto u = static_cast<unsigned char>(c);
    return u < 128 ? kClasses[u] : 0;
}
} // namespace detail
inline bool IsBlank(char c) { return detail::ClassOf(c) & detail::kBlank; }
inline bool IsDigit(char c) { return detail::ClassOf(c) & detail::kDigit; }
inline bool IsLetter(char c) { return detail::ClassOf(c) & detail::kLetter; }
inline bool IsHexDigit(char c) { return detail::ClassOf(c) & detail::kHex; }
inline char ToLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
// letter or $ . _
inline bool IsSymbolStart(char c) { return detail::ClassOf(c) & (detail::kLetter | detail::kSpecial); }
// start chars, digits, ? @
inline bool IsSymbolChar(char c) {
    return detail::ClassOf(c) & (detail::kLetter | detail::kSpecial | detail::kDigit | detail::kTail);
}
} // namespace chars

inline bool Scanner::SkipBlanks() {
    while (pos_ < length_ && chars::IsBlank(line_[pos_])) ++pos_;
    return pos_ < length_ && line_[pos_] != ';';
}

// Bytes one source line produces, with the listing's grouping (shape word).
struct LineCode {
    static constexpr std::size_t kCapacity = 4095;
    std::uint32_t start = 0;
    std::size_t count = 0;
    std::uint32_t shape = 0;
    int cycles = -1; // -1: no cycle count for this line
    std::uint8_t bytes[kCapacity];
    // Size of the item each byte starts (1, 2 or 4; 0 inside an item). The
    // shape word only remembers the last few items of a long data line; the
    // listing groups every byte with this.
    std::uint8_t itemSize[kCapacity];

    void Clear(std::uint32_t at) {
        start = at;
        count = 0;
        shape = 0;
        cycles = -1;
    }
    void Put8(std::uint8_t b) {
        if (count >= kCapacity) return;
        itemSize[count] = 1;
        bytes[count++] = b;
        shape = (shape << 4) + 1;
    }
    void Put16(std::uint16_t w) {
        if (count + 2 > kCapacity) return;
        itemSize[count] = 2;
        itemSize[count + 1] = 0;
        bytes[count++] = static_cast<std::uint8_t>(w >> 8);
        bytes[count++] = static_cast<std::uint8_t>(w);
        shape = (shape << 8) + 0x20;
    }
    void Put32(std::uint32_t v) {
        if (count + 4 > kCapacity) return;
        itemSize[count] = 4;
        itemSize[count + 1] = itemSize[count + 2] = itemSize[count + 3] = 0;
        for (int s = 24; s >= 0; s -= 8) bytes[count++] = static_cast<std::uint8_t>(v >> s);
        shape = (shape << 8) + 0x40;
    }
};

struct StringHash {
    using is_transparent = void;
    // FNV-1a: symbol names are short, and the general-purpose string hash
    // costs more than the lookup itself.
    std::size_t operator()(std::string_view s) const noexcept {
        std::uint64_t h = 14695981039346656037ull;
        for (char c : s) {
            h ^= static_cast<unsigned char>(c);
            h *= 1099511628211ull;
        }
        return static_cast<std::size_t>(h);
    }
};
} // namespace qorb

#if defined(__GLIBCXX__)
// Keep each entry's hash beside it: a lookup then skips entries by their hash
// instead of hashing their names again on every step of a bucket's chain.
template <>
struct std::__is_fast_hash<qorb::StringHash> : std::false_type {};
#endif

namespace qorb {

struct Symbol {
    std::int32_t value = 0;
    std::int32_t refValue = 0; // value the last reference saw (for phasing reports)
    bool defined = false;
    bool known = false;
    bool constant = true;
    // Pass of the last definition; "defined in this pass" compares it with
    // the current pass, so a new pass needs no walk over every symbol.
    unsigned definedInPass = 0;
    bool DefinedInPass(unsigned pass) const { return definedInPass == pass; }
    bool used = false;
    bool multiplyDefined = false;
    bool unknownInPassOne = false;
    bool isSet = false;   // defined by `set` (may be assigned again)
    bool isOther = false; // defined by a label, equ or define (not reusable by set)
};

// Global symbols by name. Entries stay in creation order at stable
// addresses; an open-addressing index with part of each name's hash finds
// them. Large programs have tens of thousands of labels, and a lookup here
// touches one index slot and the entry instead of a chain of nodes.
class SymbolMap {
public:
    using value_type = std::pair<const std::string, Symbol>;
    using iterator = std::deque<value_type>::iterator;
    using const_iterator = std::deque<value_type>::const_iterator;

    iterator begin() { return entries_.begin(); }
    iterator end() { return entries_.end(); }
    const_iterator begin() const { return entries_.begin(); }
    const_iterator end() const { return entries_.end(); }
    std::size_t size() const { return entries_.size(); }
    bool empty() const { return entries_.empty(); }
    void clear() {
        entries_.clear();
        slots_.clear();
    }

    iterator find(std::string_view name) {
        if (slots_.empty()) return end();
        const std::size_t h = StringHash{}(name);
        const std::uint32_t tag = Tag(h);
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t i = h & mask;; i = (i + 1) & mask) {
            const Slot& slot = slots_[i];
            if (slot.tag == 0) return end();
            if (slot.tag == tag && entries_[slot.index].first == name)
                return entries_.begin() + static_cast<std::ptrdiff_t>(slot.index);
        }
    }

    std::pair<iterator, bool> emplace(std::string name, Symbol symbol) {
        iterator it = find(name);
        if (it != end()) return {it, false};
        // At most half the slots in use keeps the probe sequences short.
        if ((entries_.size() + 1) * 2 > slots_.size()) Grow();
        entries_.emplace_back(std::move(name), symbol);
        Place(entries_.size() - 1);
        return {std::prev(entries_.end()), true};
    }

private:
    struct Slot {
        std::uint32_t tag = 0; // 0: free
        std::uint32_t index = 0;
    };
    static std::uint32_t Tag(std::size_t h) { return static_cast<std::uint32_t>(static_cast<std::uint64_t>(h) >> 32) | 1u; }
    void Place(std::size_t index) {
        const std::size_t h = StringHash{}(entries_[index].first);
        const std::size_t mask = slots_.size() - 1;
        std::size_t i = h & mask;
        while (slots_[i].tag != 0) i = (i + 1) & mask;
        slots_[i] = Slot{Tag(h), static_cast<std::uint32_t>(index)};
    }
    void Grow() {
        slots_.assign(slots_.empty() ? 256 : slots_.size() * 2, Slot{});
        for (std::size_t i = 0; i < entries_.size(); ++i) Place(i);
    }

    std::deque<value_type> entries_;
    std::vector<Slot> slots_;
};

struct Section {
    std::string name; // "" for unnamed sections
    bool named = false;
    bool redefinition = false;
    bool openedThisPass = false;
    bool orgSection = false;  // unnamed section opened by org
    std::uint32_t saved = 0;  // location counter while the section is empty
    std::uint32_t start = 0;  // address of the first byte
    std::size_t size = 0;     // bytes it holds in this pass
    std::vector<std::uint8_t> bytes; // the image, filled in the final pass
};

struct Macro {
    std::string name;
    std::string file;
    int line = 0;
    std::vector<std::string> body;
};

class Listing;
class InputSource;

enum class SourceKind { File, Macro, Repeat };

class Assembler {
public:
    Assembler(const Target& target, Settings settings);
    ~Assembler();
    Assembler(const Assembler&) = delete;
    Assembler& operator=(const Assembler&) = delete;

    const Target& GetTarget() const { return target_; }
    const Settings& GetSettings() const { return settings_; }

    // ---- messages -------------------------------------------------------
    // Reports a message; always returns false so handlers can
    // `return as.Report(...)`.
    bool Report(Msg id, std::initializer_list<MsgArg> args = {});
    // Writes text to standard output (and nowhere else).
    void Print(std::string_view text);
    unsigned Warnings() const { return warnings_; }
    unsigned Errors() const { return errors_; }
    unsigned Fatals() const { return fatals_; }
    std::FILE* Out() const { return out_; }
    void SetOutput(std::FILE* out, std::FILE* err) {
        out_ = out;
        err_ = err;
    }

    // ---- the run's files ------------------------------------------------
    // A file the run reads, which no output may overwrite (response files,
    // every source of the command line), with the name the user wrote.
    void NoteInput(const std::string& path, const std::string& shown);
    // Lines for the error file reported by another run context before this
    // one existed (the command line is read before its options are known).
    void AddErrorText(std::string_view text);
    // Holds the lines meant for an error file although none is named, for
    // TakeErrorText.
    void KeepErrorText();
    std::string TakeErrorText();
    // Opens the error file (Fe) at the start of the run without emptying
    // it; it is written when the run ends. False after A1007 when it is one
    // of the run's inputs: the run stops. A file that cannot be created gives
    // D2902 and the run goes on.
    bool OpenErrorFile();
    // Writes the error file unless an input of the run turned out to be it,
    // and closes it. False after a failure was reported (also when the file
    // could not be created).
    bool FinishErrorFile();

    // ---- pass state -----------------------------------------------------
    unsigned Pass() const { return pass_; }
    bool FinalPass() const { return final_; }
    bool Strict() const { return strict_; }
    bool Relax() const { return relax_; }
    bool Screwed() const { return screwed_; }
    void SetUnresolved() { unresolved_ = true; }

    // ---- scanning and expressions ----------------------------------------
    Scanner& Scan() { return scan_; }
    // Reads an identifier into `out` (folded unless case-sensitive, cut at
    // 256 characters). False when the current character cannot start one.
    bool ReadIdentifier(std::string& out, char extraStart = '\0');
    // Same without case folding (for option words, section attributes).
    bool ReadRawIdentifier(std::string& out, char extraStart = '\0');
    // Reads a text operand: quoted (closing quote required) or, unless
    // quotes are demanded, unquoted up to a blank or comma.
    bool ReadText(std::string& out, bool quotesRequired);
    // Evaluates an expression at the scan position. True when an expression
    // was parsed (known or not); false after a reported error.
    bool Evaluate(ExprResult& result, bool knownInPassOne = false);

    // ---- location and code ----------------------------------------------
    std::uint32_t Location() const { return pc_; }
    LineCode& Code() { return code_; }
    // Bytes that only reserve space or pad (ds, dcb, align, even): written to
    // the section image but listed as a count.
    void Reserve(std::size_t count, std::uint8_t fill);
    void ReserveWords(std::size_t count, std::uint32_t fill, int size);

    // ---- symbols --------------------------------------------------------
    Symbol* FindSymbol(std::string_view name);
    Symbol& GetSymbol(std::string_view name);
    Symbol& GetLocal(unsigned number);
    const SymbolMap& Symbols() const { return symbols_; }

    // ---- running --------------------------------------------------------
    // Assembles one source; writes object/listing; prints the summary.
    // `objectName` and `listingName` are the outputs' names as derived from
    // the command line (the listing's is shown in its header); the paths are
    // the ones opened.
    bool AssembleSource(const std::string& sourcePath, const std::string& displayName,
                        const std::string& objectPath, const std::string& objectName,
                        const std::string& listingPath, const std::string& listingName);

    // Unresolved names after a run (for the console report).
    void PrintUnresolved(std::FILE* to);

    // Implementation details shared by the core's translation units.
    struct Impl;
    Impl& I() { return *impl_; }

private:
    friend struct Impl;
    friend class InputSource;

    const Target& target_;
    Settings settings_;
    std::unique_ptr<Impl> impl_;

    std::FILE* out_ = stdout;
    std::FILE* err_ = stderr;

    unsigned pass_ = 0;
    bool final_ = false;
    bool strict_ = false;
    bool relax_ = false;
    bool screwed_ = false;
    bool unresolved_ = false;
    unsigned warnings_ = 0, errors_ = 0, fatals_ = 0;

    Scanner scan_;
    std::uint32_t pc_ = 0;
    LineCode code_;
    SymbolMap symbols_;
};

} // namespace qorb
