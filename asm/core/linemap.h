#pragma once

// The line map (-g, -Fd): for tools rather than people, which source line
// placed each byte of the object (with the macro calls and repeat blocks
// that led there) and where each symbol got its value. Collected in the
// final pass; written beside the object by the same rules as the object.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace qorb {

struct Section;
class InputSource;

class LineMap {
public:
    using Sources = std::vector<std::unique_ptr<InputSource>>;

    // Starts over for a pass of a source. `sourceName` is the outermost
    // source's name as its lines report it, `sourcePath` the file opened;
    // other names are taken relative to `directory`.
    void Start(const std::string& sourceName, const std::string& sourcePath, const std::string& directory);
    // `length` bytes placed at `offset` of `section` by the line the input
    // stack stands at.
    void Placed(const Section* section, std::size_t offset, std::size_t length, const Sources& sources);
    // A symbol got a value (kind: label, equ, set, local).
    void Symbol(std::string_view name, std::int32_t value, const char* kind, const Sources& sources);
    // A section was opened by the current line; its value is its start.
    void SectionOpened(const Section* section, const Sources& sources);
    // The start address the source names.
    void Entry(std::uint32_t address) { entry_ = address; }

    // The map's text; the sections in the order the object writes them.
    std::string Text(const std::string& target, const std::string& sourceName,
                     const std::vector<std::unique_ptr<Section>>& sections) const;

private:
    struct Place {
        unsigned file = 0;
        int line = 0;
    };
    using Chain = std::vector<Place>; // the placing line, then the calls, innermost first
    struct Range {
        const Section* section;
        std::size_t offset, length;
        Chain where;
    };
    struct SymbolRecord {
        std::string name;
        std::int32_t value;
        const char* kind;
        Place where;
        const Section* section; // for a section: its value is known at the end
    };

    unsigned FileIndex(const std::string& name);
    Chain Where(const Sources& sources);

    std::string sourceName_, sourcePath_, directory_;
    std::vector<std::string> files_; // absolute paths, F 1 first
    std::unordered_map<std::string, unsigned> fileIndex_;
    std::vector<Range> ranges_;
    std::vector<SymbolRecord> symbols_;
    std::optional<std::uint32_t> entry_;
};

} // namespace qorb
