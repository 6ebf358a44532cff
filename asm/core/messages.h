#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace qorb {

// One value for a placeholder of a catalogue text ("%s", "%d", "%u", "%c").
struct MsgArg {
    enum class Kind { Text, Number, Char } kind;
    std::string_view text;
    std::int64_t number = 0;

    MsgArg(std::string_view s) : kind(Kind::Text), text(s) {}
    MsgArg(const std::string& s) : kind(Kind::Text), text(s) {}
    MsgArg(const char* s) : kind(Kind::Text), text(s ? s : "") {}
    MsgArg(char c) : kind(Kind::Char), number(static_cast<unsigned char>(c)) {}
    MsgArg(int v) : kind(Kind::Number), number(v) {}
    MsgArg(unsigned v) : kind(Kind::Number), number(v) {}
    MsgArg(long v) : kind(Kind::Number), number(v) {}
    MsgArg(unsigned long v) : kind(Kind::Number), number(static_cast<std::int64_t>(v)) {}
    MsgArg(long long v) : kind(Kind::Number), number(v) {}
    MsgArg(unsigned long long v) : kind(Kind::Number), number(static_cast<std::int64_t>(v)) {}
};

enum class MsgKind { Fatal, Error, CommandLineError, Warning, CommandLineWarning, Note, Invalid };

MsgKind KindOf(int number);
// Warning class 1..4 for 4000..4398, 0 for everything else.
int WarningClass(int number);
const char* KindPrefix(MsgKind kind);

// A target may replace some catalogue texts. `text == nullptr` removes the
// entry so that the number falls back to its group's first text.
struct MessageOverride {
    int number;
    const char* text;
};

// Catalogue text of a numbered message (with its trailing newline), taking the
// group fallback for numbers beyond the table. Returns nullptr for numbers
// outside every range.
const char* CatalogueText(int number, std::initializer_list<MessageOverride> none = {});
const char* CatalogueText(int number, const MessageOverride* overrides, std::size_t overrideCount);

// printf-like formatting restricted to the conversions the catalogue uses:
// %s %d %u %c %x %X with optional '-', '0', width and precision. Arguments are
// typed, so a mismatch can never read garbage; missing ones format as empty / 0.
std::string FormatText(std::string_view format, const MsgArg* args, std::size_t count);
inline std::string FormatText(std::string_view format, std::initializer_list<MsgArg> args) {
    return FormatText(format, args.begin(), args.size());
}

} // namespace qorb
