#include "text.h"

#include <filesystem>

namespace qorbls {

Lines::Lines(std::string text) : text_(std::move(text)) {
    starts_.push_back(0);
    for (std::size_t i = 0; i < text_.size(); ++i)
        if (text_[i] == '\n') starts_.push_back(i + 1);
}

std::string_view Lines::Line(std::size_t index) const {
    if (index >= starts_.size()) return {};
    std::size_t b = starts_[index];
    std::size_t e = index + 1 < starts_.size() ? starts_[index + 1] - 1 : text_.size();
    if (e > b && text_[e - 1] == '\r') --e;
    return std::string_view(text_).substr(b, e - b);
}

std::size_t RawOffset(std::string_view line, std::size_t column) {
    std::size_t seen = 0;
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '\r' || line[i] == 0x1A) continue;
        if (seen == column) return i;
        ++seen;
    }
    return line.size();
}

std::size_t Utf8Length(std::string_view s, std::size_t at) {
    unsigned char c = static_cast<unsigned char>(s[at]);
    std::size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 1;
    if (at + n > s.size()) return 1;
    for (std::size_t k = 1; k < n; ++k)
        if ((static_cast<unsigned char>(s[at + k]) & 0xC0) != 0x80) return 1;
    return n;
}

std::size_t Utf16Column(std::string_view line, std::size_t byteOffset) {
    if (byteOffset > line.size()) byteOffset = line.size();
    std::size_t units = 0;
    for (std::size_t i = 0; i < byteOffset;) {
        std::size_t n = Utf8Length(line, i);
        units += n == 4 ? 2 : 1;
        i += n;
    }
    return units;
}

std::size_t ByteOffset(std::string_view line, std::size_t utf16Column) {
    std::size_t units = 0, i = 0;
    while (i < line.size() && units < utf16Column) {
        std::size_t n = Utf8Length(line, i);
        units += n == 4 ? 2 : 1;
        i += n;
    }
    return i;
}

bool IsSymbolStart(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == '.';
}
// As the assembler's scanner: `$` may also start a name, but a `$` at the
// start of a token is taken for a hexadecimal number here.
bool IsSymbolChar(char c) {
    return IsSymbolStart(c) || (c >= '0' && c <= '9') || c == '?' || c == '@' || c == '$';
}

std::pair<std::size_t, std::size_t> TokenAt(std::string_view line, std::size_t at) {
    if (at >= line.size()) return {line.size(), line.size()};
    char c = line[at];
    std::size_t e = at + 1;
    if (c == '"' || c == '\'') {
        while (e < line.size() && line[e] != c) ++e;
        return {at, e < line.size() ? e + 1 : e};
    }
    if (IsSymbolStart(c)) {
        while (e < line.size() && IsSymbolChar(line[e])) ++e;
        if (e < line.size() && line[e] == '`') ++e;
        return {at, e};
    }
    if (c >= '0' && c <= '9') {
        while (e < line.size() && ((line[e] >= '0' && line[e] <= '9') || IsSymbolStart(line[e]))) ++e;
        if (e < line.size() && line[e] == '$') ++e;
        return {at, e};
    }
    if (c == '$' || c == '%' || c == '@') {
        while (e < line.size() && ((line[e] >= '0' && line[e] <= '9') || IsSymbolStart(line[e]))) ++e;
        return {at, e};
    }
    return {at, at + Utf8Length(line, at)};
}

namespace {
int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}
} // namespace

std::string PathFromUri(std::string_view uri) {
    if (uri.rfind("file://", 0) != 0) return {};
    uri.remove_prefix(7);
    // file://host/path: only the local host is understood.
    if (!uri.empty() && uri[0] != '/') {
        std::size_t slash = uri.find('/');
        if (slash == std::string_view::npos) return {};
        uri.remove_prefix(slash);
    }
    std::string out;
    for (std::size_t i = 0; i < uri.size(); ++i) {
        if (uri[i] == '%' && i + 2 < uri.size() + 0 && HexValue(uri[i + 1]) >= 0 &&
            HexValue(uri[i + 2]) >= 0) {
            out += static_cast<char>(HexValue(uri[i + 1]) * 16 + HexValue(uri[i + 2]));
            i += 2;
        } else {
            out += uri[i];
        }
    }
    return out;
}

std::string UriFromPath(std::string_view path) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out = "file://";
    for (char ch : path) {
        unsigned char c = static_cast<unsigned char>(ch);
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '/' ||
            c == '-' || c == '_' || c == '.' || c == '~') {
            out += ch;
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

std::string NormalPath(const std::string& path, const std::string& base) {
    std::filesystem::path p(path);
    if (p.is_relative()) p = std::filesystem::path(base) / p;
    std::string s = p.lexically_normal().string();
    while (s.size() > 1 && s.back() == '/') s.pop_back();
    return s;
}

std::string LowerAscii(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

} // namespace qorbls
