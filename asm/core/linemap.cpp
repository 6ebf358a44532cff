// The line map: collecting where bytes and symbols came from, and the file
// written beside the object.

#include "linemap.h"

#include <algorithm>
#include <filesystem>

#include "host.h"
#include "impl.h"
#include "sections.h"
#include "source.h"

namespace qorb {

namespace {

// One record per line, fields split by tabs: a tab, a line end or a
// backslash inside a field is escaped so that every path survives.
void AppendField(std::string& out, std::string_view text) {
    out += '\t';
    for (char c : text) {
        if (c == '\t')
            out += "\\t";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\\')
            out += "\\\\";
        else
            out += c;
    }
}

void AppendHex(std::string& out, std::uint32_t v) {
    static const char kHex[] = "0123456789ABCDEF";
    int digits = 4;
    while (digits < 8 && (v >> (4 * digits)) != 0) ++digits;
    out += '\t';
    for (int i = digits - 1; i >= 0; --i) out += kHex[(v >> (4 * i)) & 0xF];
}

void AppendNumber(std::string& out, long long v) {
    out += '\t';
    out += std::to_string(v);
}

} // namespace

void LineMap::Start(const std::string& sourceName, const std::string& sourcePath,
                    const std::string& directory) {
    sourceName_ = sourceName;
    sourcePath_ = sourcePath;
    directory_ = directory;
    files_.clear();
    fileIndex_.clear();
    ranges_.clear();
    symbols_.clear();
    entry_.reset();
    FileIndex(sourceName);
}

// Files by the name their lines carry; the outermost source by the path it
// was opened as (its name is the one the user wrote, relative to where the
// program started), the others relative to the source's directory, where
// they were opened.
unsigned LineMap::FileIndex(const std::string& name) {
    auto it = fileIndex_.find(name);
    if (it != fileIndex_.end()) return it->second;
    std::string path = name == sourceName_ ? sourcePath_ : name;
    if (!host::IsAbsolute(path)) {
        std::string dir = directory_;
        if (!dir.empty() && dir.back() != host::NativeSeparator()) dir += host::NativeSeparator();
        path = dir + path;
    }
    path = std::filesystem::path(path).lexically_normal().string();
    files_.push_back(path);
    unsigned index = static_cast<unsigned>(files_.size());
    fileIndex_.emplace(name, index);
    return index;
}

// The line being processed and, for a line of a macro expansion or repeat
// block, the line of each level that called it down to the file.
LineMap::Chain LineMap::Where(const Sources& sources) {
    Chain chain;
    for (auto it = sources.rbegin(); it != sources.rend(); ++it) {
        const InputSource& s = **it;
        if (s.kind == SourceKind::File) {
            chain.push_back(Place{FileIndex(s.name), s.line});
            break;
        }
        chain.push_back(Place{FileIndex(s.defFile), s.defLine + s.bodyLine});
    }
    return chain;
}

void LineMap::Placed(const Section* section, std::size_t offset, std::size_t length, const Sources& sources) {
    if (length == 0 || sources.empty()) return;
    ranges_.push_back(Range{section, offset, length, Where(sources)});
}

void LineMap::Symbol(std::string_view name, std::int32_t value, const char* kind, const Sources& sources) {
    if (sources.empty()) return;
    Chain where = Where(sources);
    symbols_.push_back(SymbolRecord{std::string(name), value, kind, where.front(), nullptr});
}

void LineMap::SectionOpened(const Section* section, const Sources& sources) {
    if (sources.empty()) return;
    Chain where = Where(sources);
    symbols_.push_back(SymbolRecord{section->name, 0, "section", where.front(), section});
}

std::string LineMap::Text(const std::string& target, const std::string& sourceName,
                          const std::vector<std::unique_ptr<Section>>& sections) const {
    std::string out = "QORBMAP\t1";
    AppendField(out, target);
    AppendField(out, sourceName);
    out += '\n';
    for (std::size_t i = 0; i < files_.size(); ++i) {
        out += 'F';
        AppendNumber(out, static_cast<long long>(i + 1));
        AppendField(out, files_[i]);
        out += '\n';
    }
    // The ranges in the order the object file holds their bytes: named
    // sections first, then the unnamed ones, each in the order of the list.
    auto rangesOf = [&](const Section& s) {
        for (const Range& r : ranges_) {
            if (r.section != &s) continue;
            out += 'L';
            AppendHex(out, s.start + static_cast<std::uint32_t>(r.offset));
            AppendNumber(out, static_cast<long long>(r.length));
            for (const Place& p : r.where) {
                AppendNumber(out, p.file);
                AppendNumber(out, p.line);
            }
            out += '\n';
        }
    };
    for (const auto& s : sections)
        if (s->named) rangesOf(*s);
    for (const auto& s : sections)
        if (!s->named) rangesOf(*s);
    for (const SymbolRecord& r : symbols_) {
        out += 'S';
        AppendField(out, r.name);
        std::uint32_t value = static_cast<std::uint32_t>(r.value);
        if (r.section) value = r.section->size ? r.section->start : 0;
        AppendHex(out, value);
        AppendField(out, r.kind);
        AppendNumber(out, r.where.file);
        AppendNumber(out, r.where.line);
        out += '\n';
    }
    if (entry_) {
        out += 'E';
        AppendHex(out, *entry_);
        out += '\n';
    }
    return out;
}

// ---------------------------------------------------------------------------
// The file

std::string Assembler::Impl::MapTarget() const {
    const char* program = as.target_.Texts().programName; // "qorb12", "qorb11"
    std::string digits = std::string(program).substr(4);
    if (digits == "12" && as.settings_.hcs) return "HCS12";
    return "68HC" + digits;
}

bool Assembler::Impl::WriteMap(const std::string& path, const std::string& shown) {
    if (startGiven) lineMap.Entry(startAddress);
    return WriteWholeOutput(path, shown, lineMap.Text(MapTarget(), sourceDisplay, sections));
}

// Like a stale object, a map left from an earlier build would describe a
// program that no longer exists. Only a map this assembler wrote is
// removed: a regular file that is none of the run's files and starts with
// the map's first word.
void Assembler::Impl::DiscardStaleMap(const std::string& path) {
    if (path.empty()) return;
    host::FileId id, opened;
    if (!host::Identify(path, &id) || !Clash(id).empty()) return;
    int error = 0;
    int h = host::OpenRead(path, &error, &opened); // regular files only, never blocks
    if (h < 0) return;
    static const char kMagic[] = "QORBMAP\t";
    char head[sizeof kMagic - 1];
    std::size_t got = 0;
    long n = 0;
    while (got < sizeof head && (n = host::Read(h, head + got, sizeof head - got, &error)) > 0)
        got += static_cast<std::size_t>(n);
    host::Close(h);
    if (opened == id && got == sizeof head && std::equal(head, head + sizeof head, kMagic))
        host::RemoveFile(path);
}

} // namespace qorb
