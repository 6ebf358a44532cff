#pragma once

// Lets a program that embeds the assembler (the language server) follow a
// run: the messages as numbers and places, where each symbol, macro and
// include is defined and used, and what each line assembled to. It can also
// hand over the text of a source instead of the copy on disk (an editor's
// unsaved buffer). Only the final pass reports definitions, uses and lines,
// so each is seen once.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "messages.h"

namespace qorb {

struct LineCode;
struct LineState;

// A place in a source file: the file's name as the assembler opened it, the
// line (1-based) and the column (0-based) in the text the scanner read.
// `expansion` is true inside a macro expansion or repeat block: the column
// is then one of the expanded text, the line the calling line's, and
// `bodyFile`/`bodyLine` the place of the body line being expanded.
struct SourcePlace {
    const std::string& file;
    int line;
    std::size_t column;
    bool expansion;
    const std::string* bodyFile = nullptr;
    int bodyLine = 0;
};

enum class DefinitionKind { Label, Equ, Set, Define, Local, Macro };

class RunObserver {
public:
    virtual ~RunObserver() = default;
    // The text of `path` (as the assembler is about to open it) when the
    // observer has one; false to read the file.
    virtual bool SourceText(const std::string& path, std::string& text) {
        (void)path;
        (void)text;
        return false;
    }
    // Every message printed: number, kind, text (without the location), and
    // the place (file null for messages of no source line; column 0 when
    // the message has none, else 1-based as printed).
    virtual void Message(int number, MsgKind kind, std::string_view text, const std::string* file, int line,
                         int column) {
        (void)number, (void)kind, (void)text, (void)file, (void)line, (void)column;
    }
    // A symbol definition. `scope` is the local-label scope (locals only).
    // `parameters` is the highest parameter a macro body uses.
    virtual void Definition(DefinitionKind kind, std::string_view name, unsigned scope, std::int32_t value,
                            bool known, int parameters, const SourcePlace& at) {
        (void)kind, (void)name, (void)scope, (void)value, (void)known, (void)parameters, (void)at;
    }
    // A use of a symbol (`local`: a numbered local label of `scope`) or of a
    // macro.
    virtual void Reference(std::string_view name, bool local, bool macro, unsigned scope,
                           const SourcePlace& at) {
        (void)name, (void)local, (void)macro, (void)scope, (void)at;
    }
    // An include command and the file it opened (empty when none).
    virtual void Include(std::string_view written, const std::string& opened, const SourcePlace& at) {
        (void)written, (void)opened, (void)at;
    }
    // One processed source line with its code (the listing's data).
    virtual void Line(const SourcePlace& at, const LineState& state, const LineCode& code, bool listed) {
        (void)at, (void)state, (void)code, (void)listed;
    }
};

} // namespace qorb
