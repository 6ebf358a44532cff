#pragma once

// Internal state of the assembler shared by the core's translation units.

#include <array>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "assembler.h"
#include "conditionals.h"
#include "host.h"
#include "linecache.h"
#include "linemap.h"
#include "macros.h"
#include "source.h"

namespace qorb {

class Listing;

// What one processed line leaves for the listing and the line bookkeeping.
struct LineState {
    bool control = false;     // listing controls: not listed
    bool conditional = false; // opening or branch command of a conditional
    bool skipped = false;     // inside a false conditional block
    bool hasValue = false;    // equ, set, org, define: show the value
    std::int32_t value = 0;
    std::size_t reserved = 0; // bytes that only reserve space (ds, dcb, align, even)
    bool reserveOnly = false; // the reservation writes no image bytes (empty section, offset)
    int patternSize = 1;      // fill pattern of the reservation
    std::uint8_t pattern[4] = {0, 0, 0, 0};
    bool alwaysWrite = false; // dcb: bytes even in an empty section
    bool reserveLine = false; // ds, dcb, align, even: listed as a byte count
    bool listed = true;       // false once the line was handed to the listing
    bool hasLabel = false;
    bool macroLine = false;
};

// The rows the command tables give for one command word.
struct CommandRows {
    int preprocessor = -1;
    int directive = -1;
    const OpcodeEntry* instruction = nullptr;
};

struct Assembler::Impl {
    explicit Impl(Assembler& a);
    ~Impl();
    Assembler& as;

    // ---- run-wide --------------------------------------------------------
    // Every file the run reads (response files, sources, includes), by
    // identity, with the name the user wrote for it; and the files this
    // source writes (with the error file). No output may be any of them.
    std::map<std::pair<std::uint64_t, std::uint64_t>, std::string> inputs;
    struct Output {
        host::FileId id;
        std::string name;
        bool emptied = false;   // its old contents are gone
        bool errorFile = false; // kept for the whole run; the others per source
    };
    std::vector<Output> outputs;
    void NoteInput(const host::FileId& id, const std::string& name);
    // "same file as input 'x'" or "same file as output 'x'" when `id` is a
    // file of the run, empty otherwise. `self` is left out.
    std::string Clash(const host::FileId& id, const Output* self = nullptr) const;
    // The same for the outputs whose old contents are gone already.
    std::string EmptiedOutput(const host::FileId& id) const;
    // Opens an output that is none of the run's files, empties it (unless
    // `keep`: the caller empties it later) and notes it; null after
    // reporting A1007.
    std::FILE* CreateOutput(const std::string& path, const std::string& shown, bool keep = false);

    // The error file (Fe) is opened at the start of the run but written only
    // once the run's inputs are known: an include named like it must not
    // lose its text to the messages about it.
    std::string errorFileName;  // cleared after a failed creation
    std::string errorFileShown; // as the user wrote it
    std::FILE* errorFile = nullptr;
    std::string errorText;       // lines held until they can be written
    bool keepErrorText = false;  // hold lines although no error file is named
    bool errorStreaming = false; // emptied: lines are written as they come
    int errorWriteError = 0;     // the first failed write while streaming
    std::string errorRefused;    // why it was found to be an input while held
    bool errorFileFailed = false;
    Output* ErrorOutput();
    void ErrorFileLine(std::string_view line);
    // Empties the error file and writes the held lines; false when it is an
    // input after all (nothing written) or the writes failed.
    bool StartErrorStream();
    std::vector<std::string> failedIncludes; // "%s(%d): " location + name, in order
    std::vector<std::pair<std::string, std::string>> failedIncludeList;

    // ---- per source ------------------------------------------------------
    std::string sourcePath;    // as opened
    std::string sourceDisplay; // as the user wrote it
    std::string listingPath;
    bool previousPassFailed = false;
    std::uint64_t linesSpent = 0; // lines processed by the passes before this one
    bool budgetSpent = false;     // a pass stopped at the line budget
    unsigned lineCounter = 0;
    unsigned expansionCounter = 0;
    unsigned scope = 0;
    // Scopes of the backquote labels (`loop``): `loc` opens the next one.
    unsigned locScope = 0;
    unsigned locScopes = 0; // numbers given in this pass
    std::string scopedName; // scratch for SymbolKey
    // The name a symbol is kept under: a backquote label gets its scope.
    std::string_view SymbolKey(std::string_view name);
    // After a symbol name: a backquote right behind it joins the name.
    void TakeBackquote(std::string& name);
    // The start address of the `end` line, for the S9 record.
    bool startGiven = false; // the main file's `end` had an operand
    std::uint32_t startAddress = 0;
    bool compatNoteGiven = false; // note A5004 once per source
    void CompatModeNote();

    std::vector<std::unique_ptr<InputSource>> sources;
    std::vector<CondEntry> conds;
    std::vector<Section*> saveStack;

    std::vector<std::unique_ptr<Section>> sections;
    Section* current = nullptr;
    Section* offsetReturn = nullptr; // section to go back to when an offset block ends
    bool inOffset = false;

    std::unordered_map<std::string, std::shared_ptr<Macro>> macros;
    LocalLabels locals;

    Collecting collecting;

    // current statement
    std::string stmtLabel; // the line's label as zkdump shows it
    int stmtLocal = -1;
    std::string label; // label name of the line being processed
    int localLabel = -1;
    std::size_t labelPos = 0;
    bool lineActive = false;
    int lineNumber = 0;         // the processed line's number in its source
    std::size_t commandPos = 0; // where the line's command word starts
    LineState ls;
    std::string_view lineText; // the line being processed (scanner points into it)

    // The line cache of this source: the files by identity, the symbol
    // references their lines make, and the memo of the line being processed
    // (null for lines of expansions and of files not kept).
    std::map<std::pair<std::uint64_t, std::uint64_t>, std::unique_ptr<FileText>> fileTexts;
    std::vector<ExprMemo> exprMemos;
    std::vector<ExprOp> exprOps;
    std::uint32_t exprCursor = 0; // the line's compiled expression most likely asked for next
    // The compiled expression at `pos` of the current line, if learnt.
    const ExprMemo* KnownExpression(std::size_t pos);
    // Keeps the expression of the line being learnt whose steps are the
    // last ones of `exprOps` from `first` on; false when it cannot be kept.
    bool LearnExpression(std::size_t pos, std::size_t end, std::size_t first);
    LineMemo* memo = nullptr;
    FileText* memoText = nullptr; // the file `memo` belongs to
    FileText* CachedText(int fd, const host::FileId& id);
    bool learning = false; // the line being processed is learnt
    bool ReplayStatement(const LineMemo& m);
    // Settled instruction lines (LineMemo::settled). The clock counts the
    // changes of symbol values. `unsettled` is set while an instruction is
    // assembled by whatever makes its outcome depend on more than its
    // location and the symbols it names: a message, an unknown value, an
    // expression not compiled.
    std::uint32_t symbolClock = 0;
    bool unsettled = false;
    bool locationRead = false;   // the instruction's size may depend on its location
    bool valuesIgnored = false;  // its size does not depend on its operands' values
    bool startRead = false;      // its bytes may depend on its location
    bool rangeUnchecked = false; // its bytes may not be the final pass's (RangeUnchecked)
    // In an ordinary pass: the line's instruction or data took its settled
    // size again, or false when it must be assembled.
    bool Resettle(const LineMemo& m);
    // The line's settled size holds here and now.
    bool SettledSizeHolds(const LineMemo& m);
    // Whether `holds` is true of every symbol the line's compiled
    // expressions name (a local label only in the scope it settled in).
    template <class Holds> bool NamedSymbolsHold(const LineMemo& m, Holds holds);
    bool resettled = false; // RunDirectiveRow's data line did
    // In a pass after the first: the lines of `file` from the next one on
    // that need no more than their settled sizes (in the final pass: their
    // kept bytes), at most `most`, taken at once; the number taken.
    std::uint64_t TakeSettledLines(FileSource& file, std::uint64_t most);
    void NoteSettled(LineMemo& m);
    // In the final pass: the line's bytes are those it settled with (same
    // place when they depend on it, same symbol values, nothing the final
    // pass alone would say or tell); false when it must be assembled.
    bool TakeSettledCode(const LineMemo& m);
    // The line's kept bytes are those it would have here and now, without
    // a message.
    bool KeptCodeHolds(const LineMemo& m);

    // The line map, collected in the final pass when one is wanted.
    bool mapWanted = false;
    LineMap lineMap;
    bool definingLabel = false; // DefineSymbolValue for a label, not equ or define

    // listing
    std::unique_ptr<Listing> listing;
    bool listOn = true, mlistOn = false, clistOn = false;
    int tabWidth = 8, lineLength = 120, pageLength = 0;
    std::string title, subtitle;

    // The tables are constant, so each command word is searched once per
    // run; bounded, so a source full of distinct words cannot grow it.
    std::unordered_map<std::string, CommandRows, StringHash, std::equal_to<>> commandRows;
    // `key`: a name of at most RecentCommand::kLongest characters as
    // RecentCommand keeps it, else null.
    CommandRows LookupCommand(std::string_view lowerName, const std::uint64_t* key);
    struct RecentCommand {
        static constexpr std::size_t kLongest = 15;
        // The name padded with zeros to two words, its length in the last
        // byte (0: free).
        std::uint64_t key[2] = {};
        CommandRows rows;
    };
    std::array<RecentCommand, 256> recentCommands{};

    // scratch buffers reused for every line (no allocation per line)
    std::string ident;
    std::string ident2;
    unsigned exprDepth = 0;

    // ---- operations (implemented across the core) -----------------------
    void ResetForSource();
    bool CheckSource(const std::string& path, const std::string& shown);
    bool StartFinalPass(const std::string& listingPath, const std::string& listingName);
    void StartPass();
    bool RunPass();
    void ProcessLine(InputSource* src);
    bool ProcessStatement();
    // The steps of a statement.
    struct CommandField {
        std::size_t pos = 0; // where the word starts
        bool marked = false; // `#` or `$`: a preprocessor command
        bool dot = false;    // `.`: a pseudo command
    };
    bool SkippedStatement();
    std::optional<bool> LocalLabelField(bool& local);
    std::optional<bool> LabelAndCommand(bool blank, bool local, CommandField& cmd);
    bool RunCommand(const CommandField& cmd);
    bool Dispatch(const CommandField& cmd, const CommandRows& rows, bool isLoc);
    void LearnHead(LineMemo::Head head, const CommandField* cmd, const CommandRows& rows);
    void AfterLine();
    void EndSource();
    bool LinesActive() const {
        return conds.empty() || (conds.back().taking && conds.back().enclosingActive);
    }
    InputSource* InnermostFile() const;
    InputSource* Top() const { return sources.empty() ? nullptr : sources.back().get(); }
    bool PushFile(const std::string& name, const std::string& opened);
    // Reads an opened file next; `written` is its name as the user wrote it.
    void PushOpenFile(int fd, const host::FileId& id, const std::string& name, const std::string& written);
    void PushSource(std::unique_ptr<InputSource> src);

    // statements and symbols
    bool DefineLabel();
    bool DefineSymbolValue(std::string_view name, int local, std::int32_t value, bool known, bool isSet);
    // What a definition that passed its checks does to the symbol.
    void SetSymbol(Symbol& s, std::int32_t value, bool known, bool isSet);
    // The symbol of a learnt line's label (text `line`) when defining it in
    // this pass says nothing; null otherwise.
    Symbol* QuietLabel(const LineMemo& m, const char* line);
    // `entry`, when given, is set to the symbol's table entry.
    bool ReferenceSymbol(std::string_view name, bool knownInPassOne, ExprResult& r,
                         std::uint32_t* entry = nullptr);
    std::pair<const std::string, Symbol>& SymbolEntry(std::uint32_t index) { return as.symbols_.At(index); }
    bool ReferenceEntry(std::pair<const std::string, Symbol>& entry, bool knownInPassOne, ExprResult& r);
    bool ReferenceLocal(unsigned number, bool knownInPassOne, ExprResult& r);
    bool Reference(Symbol& s, const MsgArg& name, const ReferenceMessages& m, bool knownInPassOne,
                   ExprResult& r);
    bool CheckTrailing();
    // Reports a message at the line's command word; the scan position stays.
    bool ReportAtCommand(Msg id);

    // preprocessor, macros
    bool RunPreprocessor(int row);
    bool Include();
    std::size_t CondFloor() const;
    bool OpenConditional(PreCommand cmd);
    bool EvaluateCondition(PreCommand cmd, bool& cond);
    bool Elif();
    bool Else();
    bool Endif();
    bool Define();
    bool MacroDefinition();
    void DefinitionPlace(std::string& file, int& line) const;
    bool RepeatBlock();
    bool Mexit();
    void EndFile();
    bool ExpandMacro(std::shared_ptr<Macro> macro);
    void CollectLine(std::string_view line);
    void StartCollecting(bool repeat, std::shared_ptr<Macro> macro, std::uint32_t count);

    // sections
    Section* FindSection(std::string_view name);
    Section& NewSection(std::string_view name, bool named);
    void SwitchTo(Section* s);
    void LeaveSection();
    void EndOffset();

    // directives
    // `settling`: a data line that may take its settled size.
    bool RunDirectiveRow(int row, bool settling = false);
    void SetLocation(std::uint32_t value);
    void SetReserve(std::size_t bytes, const std::uint8_t* pattern, int patternSize, bool always);
    bool Append(const std::uint8_t* data, std::size_t n, const std::uint8_t* pattern, int patternSize);

    // output
    bool WriteObject(const std::string& path, const std::string& shown);
    void DiscardStaleObject(const std::string& path);
    // Creates an output and writes `text` whole, or reports and leaves no
    // partial file behind.
    bool WriteWholeOutput(const std::string& path, const std::string& shown, const std::string& text);
    std::string MapTarget() const;
    bool WriteMap(const std::string& path, const std::string& shown);
    void DiscardStaleMap(const std::string& path);
    // Before any pass: refuses (A1007) an object, listing or map name that
    // is one of the run's files or names another output.
    bool CheckOutputNames(const std::string& objectPath, const std::string& objectName,
                          const std::string& listingPath, const std::string& listingName,
                          const std::string& mapPath);
    void FinishListing(bool symbols);
};

// Lower-cases ASCII letters in place.
void FoldLower(std::string& s);

} // namespace qorb
