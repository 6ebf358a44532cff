#pragma once

// The scanner over a line and the character classes of the source syntax.

#include <array>
#include <cstddef>
#include <string_view>

namespace qorb {

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
// The character after a backslash in a character constant: \a \b \f \n \r
// are control characters, any other stands for itself.
inline char EscapedChar(char e) {
    switch (e) {
    case 'a': return 7;
    case 'b': return 8;
    case 'f': return 12;
    case 'n': return 10;
    case 'r': return 13;
    default: return e;
    }
}

namespace chars {
namespace detail {
enum : unsigned char {
    kBlank = 1,
    kDigit = 2,
    kLetter = 4,
    kHex = 8,
    kSpecial = 16,
    kTail = 32,
    kUpper = 64
};
// The characters of a symbol after its first.
constexpr unsigned char kSymbolChar = kLetter | kSpecial | kDigit | kTail;
// 256 entries, so that a class test is one load whatever the byte.
constexpr std::array<unsigned char, 256> MakeClasses() {
    std::array<unsigned char, 256> t{};
    t['\t'] = t['\v'] = t['\f'] = t[' '] = kBlank;
    for (int c = '0'; c <= '9'; ++c) t[c] = kDigit | kHex;
    for (int c = 'a'; c <= 'z'; ++c) t[c] = kLetter;
    for (int c = 'A'; c <= 'Z'; ++c) t[c] = kLetter | kUpper;
    for (int c = 'a'; c <= 'f'; ++c) t[c] |= kHex;
    for (int c = 'A'; c <= 'F'; ++c) t[c] |= kHex;
    t['$'] = t['.'] = t['_'] = kSpecial;
    t['?'] = t['@'] = kTail;
    return t;
}
inline constexpr auto kClasses = MakeClasses();
inline unsigned char ClassOf(char c) { return kClasses[static_cast<unsigned char>(c)]; }
} // namespace detail
inline bool IsBlank(char c) { return detail::ClassOf(c) & detail::kBlank; }
inline bool IsDigit(char c) { return detail::ClassOf(c) & detail::kDigit; }
inline bool IsLetter(char c) { return detail::ClassOf(c) & detail::kLetter; }
inline bool IsHexDigit(char c) { return detail::ClassOf(c) & detail::kHex; }
inline char ToLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
// letter or $ . _
inline bool IsSymbolStart(char c) { return detail::ClassOf(c) & (detail::kLetter | detail::kSpecial); }
// start chars, digits, ? @
inline bool IsSymbolChar(char c) { return detail::ClassOf(c) & detail::kSymbolChar; }
} // namespace chars

inline bool Scanner::SkipBlanks() {
    while (pos_ < length_ && chars::IsBlank(line_[pos_])) ++pos_;
    return pos_ < length_ && line_[pos_] != ';';
}

} // namespace qorb
