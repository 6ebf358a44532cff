#pragma once

// Text helpers of the language server: lines as the assembler reads them,
// the protocol's UTF-16 columns, tokens at a column, file URIs.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace qorbls {

// The assembler reads at most this many characters of a line; nothing
// beyond is coloured or searched.
inline constexpr std::size_t kLineLimit = 4095;

// A document split into lines at line feeds (as the assembler splits it).
class Lines {
public:
    Lines() = default;
    explicit Lines(std::string text);
    std::size_t Count() const { return starts_.size(); }
    // The line without its line feed (a carriage return before it removed).
    std::string_view Line(std::size_t index) const;
    const std::string& Text() const { return text_; }

private:
    std::string text_;
    std::vector<std::size_t> starts_;
};

// The assembler drops carriage returns and Ctrl-Z wherever they stand: its
// columns count the remaining bytes. The byte offset in the raw line.
std::size_t RawOffset(std::string_view line, std::size_t assemblerColumn);
// UTF-16 code units of line[0, byteOffset) (bytes that are not UTF-8 count
// one unit each, as an editor shows them as one replacement character).
std::size_t Utf16Column(std::string_view line, std::size_t byteOffset);
// The byte offset of a UTF-16 column (clamped to the line).
std::size_t ByteOffset(std::string_view line, std::size_t utf16Column);
// Length in bytes of the UTF-8 sequence starting with `lead` (1 if invalid).
std::size_t Utf8Length(std::string_view s, std::size_t at);

bool IsSymbolStart(char c);
bool IsSymbolChar(char c);
// The extent [begin, end) in bytes of the token at `offset`: a name (with a
// backquote or a local label's `$`), a number, a quoted string, else one
// character. An offset past the line gives an empty extent at the end.
std::pair<std::size_t, std::size_t> TokenAt(std::string_view line, std::size_t offset);

std::string PathFromUri(std::string_view uri);
std::string UriFromPath(std::string_view path);
// An absolute, lexically normal path (no `.`, `..`, double separators).
std::string NormalPath(const std::string& path, const std::string& base);

std::string LowerAscii(std::string_view s);

} // namespace qorbls
