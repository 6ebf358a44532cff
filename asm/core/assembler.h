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
#include "scanner.h"
#include "sections.h"
#include "symbols.h"
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
    long long maxPasses = 10;      // Amax
    long long minPasses = 5;       // Amin
    long long errorLimit = 100000; // Ae
    std::string objectFile;
    std::string listingFile;
    bool lineMap = false;           // -g, -Fd
    std::string mapFile;            // -Fd
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

class Listing;
class InputSource;
class RunObserver;

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
    // the ones opened. With a map path the line map is written beside the
    // object.
    bool AssembleSource(const std::string& sourcePath, const std::string& displayName,
                        const std::string& objectPath, const std::string& objectName,
                        const std::string& listingPath, const std::string& listingName,
                        const std::string& mapPath = {}, const std::string& mapName = {});

    // A program embedding the assembler follows its runs (observer.h).
    void SetObserver(RunObserver* observer) { observer_ = observer; }
    RunObserver* Observer() const { return observer_; }

    // Unresolved names after a run (for the console report).
    void PrintUnresolved(std::FILE* to);

    // Implementation details shared by the core's translation units.
    struct Impl;
    Impl& I() { return *impl_; }

private:
    friend struct Impl;
    friend class InputSource;

    bool AssembleSourceIn(const std::string& sourcePath, const std::string& displayName,
                          const std::string& objectPath, const std::string& objectName,
                          const std::string& listingPath, const std::string& listingName,
                          const std::string& mapPath, const std::string& mapName);

    const Target& target_;
    Settings settings_;
    std::unique_ptr<Impl> impl_;

    std::FILE* out_ = stdout;
    std::FILE* err_ = stderr;
    RunObserver* observer_ = nullptr;

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
