#pragma once

// One assembly of a main source by the assembler core, and what the run
// told about it: messages, definitions and uses of symbols and macros,
// includes, and the code of every line.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/observer.h"
#include "core/target.h"

namespace qorbls {

struct Message {
    int number = 0;
    qorb::MsgKind kind = qorb::MsgKind::Error;
    std::string text;
    int line = 0;   // 1-based; 0: the file as a whole
    int column = 0; // 1-based; 0: none
};

enum class NameKind { Symbol, Local, Macro };

// A definition or use of a name. `key` identifies the name across the unit:
// the symbol's name as the assembler keeps it, a local label with its
// scope, a macro with a prefix.
struct Occurrence {
    std::string key;
    std::string name; // as the assembler reported it
    NameKind nameKind = NameKind::Symbol;
    int line = 0;           // 1-based
    std::size_t column = 0; // 0-based, in the assembler's line
    bool definition = false;
    qorb::DefinitionKind kind = qorb::DefinitionKind::Label;
    std::int32_t value = 0;
    bool known = false;
    int parameters = 0;
    unsigned scope = 0;
};

struct IncludeUse {
    int line = 0;
    std::size_t column = 0;
    std::string written;
    std::string opened; // normal path, empty when not found
};

// The code of one line, as the listing shows it.
struct LineCode {
    std::uint32_t start = 0;
    std::string bytes;     // the code bytes
    std::string itemSizes; // size of the item each byte starts (0 inside one)
    int cycles = -1;
    bool hasValue = false;
    std::int32_t value = 0;
    bool reserveLine = false;
    std::size_t reserved = 0;
};

struct FileFacts {
    std::vector<Message> messages;
    std::vector<Occurrence> names;
    std::vector<IncludeUse> includes;
    std::unordered_map<int, LineCode> code;
    // The code of the lines a macro call or repeat block expands to, by the
    // calling line (the first few of them).
    std::unordered_map<int, std::vector<LineCode>> expansion;
};

inline constexpr std::size_t kMaxExpansionLines = 16;

struct AssemblyOptions {
    const qorb::Target* target = nullptr;
    bool hcs = false;
    std::vector<std::string> options; // assembler options (-case, -mc, -W2, -i<dir>)
    std::vector<std::string> include; // include directories
    std::string workDir;              // where relative include names start
    std::string objectPath;           // a scratch object file
};

class Analysis {
public:
    std::string main;
    bool caseSensitive = false;
    const qorb::Target* target = nullptr;
    std::map<std::string, FileFacts> files; // by normal path; the main file always present
    std::vector<Message> unplaced;          // messages of no source line
    // Files included, by normal path (the main file not among them).
    std::set<std::string> Included() const;
};

// The text of a file when the editor has it (unsaved changes), by normal path.
using TextSource = std::function<bool(const std::string& path, std::string& text)>;

std::unique_ptr<Analysis> Assemble(const std::string& mainPath, const AssemblyOptions& options,
                                   const TextSource& texts);

// The listing's code field of a line ("    0400 1808 01 02") and its cycle
// field ("[04]", empty when none), continuation lines included.
std::string ListingCodeField(const LineCode& code, std::string* cycles);

} // namespace qorbls
