#pragma once

// The core's side of the run observer (observer.h): the calls the passes
// make where a definition, a use, an include or a line is complete. Each
// call costs a test of one pointer when no observer is set.

#include <cstdint>
#include <string>
#include <string_view>

#include "host.h"
#include "impl.h"
#include "observer.h"

namespace qorb::observe {

// Opens a source for reading: the observer's text for it when it has one,
// else the file (as host::OpenRead).
int OpenSource(Assembler& as, const std::string& path, int* error, host::FileId* id);

// The calls that tell an observer (called only when one is set).
namespace notify {
void Definition(Assembler::Impl& im, std::string_view name, int local, std::int32_t value, bool known,
                bool isSet);
void MacroDefinition(Assembler::Impl& im, const std::string& name);
void Reference(Assembler::Impl& im, std::string_view name, int local, bool macro, std::size_t column);
void Include(Assembler::Impl& im, std::string_view written, const std::string& opened, std::size_t column);
void Line(Assembler::Impl& im);
} // namespace notify

// Inline: the passes make these calls for every line and every symbol, and
// without an observer (the command line) each is then a single test.
inline void Definition(Assembler::Impl& im, std::string_view name, int local, std::int32_t value, bool known,
                       bool isSet) {
    if (im.as.Observer()) notify::Definition(im, name, local, value, known, isSet);
}
inline void MacroDefinition(Assembler::Impl& im, const std::string& name) {
    if (im.as.Observer()) notify::MacroDefinition(im, name);
}
inline void Reference(Assembler::Impl& im, std::string_view name, int local, bool macro, std::size_t column) {
    if (im.as.Observer()) notify::Reference(im, name, local, macro, column);
}
inline void Include(Assembler::Impl& im, std::string_view written, const std::string& opened,
                    std::size_t column) {
    if (im.as.Observer()) notify::Include(im, written, opened, column);
}
inline void Line(Assembler::Impl& im) {
    if (im.as.Observer()) notify::Line(im);
}

} // namespace qorb::observe
