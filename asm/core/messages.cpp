#include "messages.h"

#include <array>
#include <cstdio>

namespace qorb {
namespace {

struct Group {
    int first;
    int last; // last number of the range (inclusive)
    const char* const* texts;
    std::size_t count;
};

const char* const kFatal[] = {
    "unknown fatal error; contact technical support\n\n",
    "#fatal: %s\n",
    "preprocessor command table corrupt\n",
    "pseudo code table corrupt\n",
    "opcode table corrupt\n",
    "out of memory\n",
    "assembler limit: line %d too long\n",
    "I/O error creating file '%s': %s\n",
    "I/O error closing file '%s': %s\n",
    "I/O error reading file '%s': %s\n",
    "I/O error writing file '%s': %s\n",
    "error count exceeds %d; stopping assembly\n",
    "unable to resolve code; stopping assembly\n",
};

const char* const kError[] = {
    "unknown error; contact technical support\n\n",
    "#error: %s\n",
    "filename expected\n",
    "cannot open '%s': %s\n",
    "recursive file include\n",
    "assembly aborted due to errors in previous pass\n",
    "illegal character\n",
    "missing %s\n",
    "expected %s\n",
    "bad argument\n",
    "missing argument\n",
    "syntax error\n",
    "bad delimiter\n",
    "missing delimiter '%c'\n",
    "missing expression\n",
    "bad number\n",
    "expression out of range %s\n",
    "'%s': symbol value must be known during pass one\n",
    "'%u$': symbol value must be known during pass one\n",
    "'%s': undefined expression\n",
    "'%s': expression can not be resolved\n",
    "expression must be absolute\n",
    "complex relocatable expression not supported\n",
    "division by zero in expression\n",
    "string expected\n",
    "bad string\n",
    "mnemonic or pseudo command expected\n",
    "'%s': unknown mnemonic or pseudo command\n",
    "preprocessor command expected\n",
    "'%s': unknown preprocessor command\n",
    "pseudo command expected\n",
    "'%s': unknown pseudo command\n",
    "bad label\n",
    "bad local label\n",
    "no label expected\n",
    "directive requires label\n",
    "bad symbol\n",
    "illegal symbol name (name is reserved)\n",
    "'%s': undefined symbol\n",
    "'%s': illegal redefinition of symbol\n",
    "'%s': symbol can not be reused\n",
    "'%s': symbol can not be resolved\n",
    "'%s': phasing error: symbol is inconstant\n",
    "'%u$': undefined symbol\n",
    "'%u$': illegal redefinition of symbol\n",
    "'%u$': symbol can not be reused\n",
    "'%u$': symbol can not be resolved\n",
    "'%u$': phasing error: symbol is inconstant\n",
    "illegal export symbol\n",
    "'if[n]def' expects an identifier\n",
    "unexpected 'elif'\n",
    "unexpected 'else'\n",
    "unexpected 'endif'\n",
    "'endif' expected\n",
    "unmatched 'if' block\n",
    "illegal macro name (name is reserved)\n",
    "'%s': illegal refinition of macro\n",
    "'endm' expected\n",
    "'endr' expected\n",
    "recursive macro call\n",
    "directive not allowed outside macro\n",
    "illegal section name (name is reserved)\n",
    "'%s': illegal redefinition of section\n",
    "'%s': section not defined\n",
    "illegal orgin\n",
    "'%s': illegal function name\n",
    "illegal adressing mode\n",
    "combination of adressing modes illegal\n",
    "inherent addressing illegal\n",
    "immediate addressing illegal\n",
    "indexed addressing  illegal\n",
    "indexed indirect addressing illegal\n",
    "direct/extended addressing illegal\n",
    "inherent addressing required\n",
    "immediate addressing required\n",
    "indexed addressing required\n",
    "value out of range %s\n",
    "offset out of range %s\n",
    "address out of range %s\n",
    "branch out of range %s\n",
    "branch to illegal target\n",
    "PC is illegal for auto inc/dec\n",
    "PCR not allowed here\n",
    "A, B, CCR, D, X, Y or SP expected\n",
    "A, B, D, X, Y or SP expected\n",
    "X, Y, SP or PC expected\n",
};

const char* const kCommandLineError[] = {
    "unknown command-line error; contact technical support\n",
    "cannot open file '%s'\n",
    "cannot create file '%s'\n",
    "missing source filename\n",
    "option '%s' and option '%s' are incompatible\n",
    "option '%s' not allowed with multiple source files\n",
};

const char* const kWarning1[] = {
    "unknown warning; contact technical support\n\n",
    "#warning: %s\n",
    "ignoring unsupported pseudo command\n",
    "'%s': reference to multiply defined symbol\n",
    "'%s': reference to unresolved symbol\n",
    "'%s': reference to inconstant symbol\n",
    "'%u$': reference to multiply defined local symbol\n",
    "'%u$': reference to inconstant local symbol\n",
    "forward references not fully resolved\n",
};

const char* const kWarning2[] = {
    "\n",
    "unexpected syntax (missing semicolon?)\n",
    "value out of range %s, truncated\n",
    "offset out of range %s, truncated\n",
    "address out of range %s, truncated\n",
    "switching to unnamed section\n",
};

const char* const kWarning3[] = {
    "\n",
    "missing closing quote\n",
    "adjusting to 16-bit address\n",
    "'%s': ignoring unknown option\n",
    "unmatched 'save'\n",
    "ignoring unexpected 'restore'\n",
};

const char* const kWarning4[] = {
    "\n",
    "comma expected\n",
    "unexpected comment\n",
    "non-standart mnemonic\n",
    "obsolete directive\n",
};

const char* const kCommandLineWarning[] = {
    "unknown command-line warning; contact technical support\n",
    "ignoring unknown option '%s'\n",
    "ignoring option '%s': requires option '%s'\n",
    "ignoring option '%s': overridden with option '%s'\n",
    "ignoring option '%s': missing argument\n",
    "ignoring option '%s': invalid numerical argument\n",
    "adjusting value for option '%s': new value is %d\n",
};

const char* const kNote[] = {
    "unknown information message; contact technical support\n",
    "%s\n",
    "see macro '%s'\n",
    "failed to open file '%s'\n",
};

template <std::size_t N> constexpr Group MakeGroup(int first, int last, const char* const (&texts)[N]) {
    return Group{first, last, texts, N};
}

const std::array<Group, 9> kGroups = {
    MakeGroup(1000, 1998, kFatal),          MakeGroup(2000, 2898, kError),
    MakeGroup(2900, 2998, kCommandLineError), MakeGroup(4000, 4099, kWarning1),
    MakeGroup(4100, 4199, kWarning2),       MakeGroup(4200, 4299, kWarning3),
    MakeGroup(4300, 4398, kWarning4),       MakeGroup(4900, 4998, kCommandLineWarning),
    MakeGroup(5000, 5998, kNote),
};

} // namespace

MsgKind KindOf(int n) {
    if (n >= 1000 && n <= 1998) return MsgKind::Fatal;
    if (n >= 2000 && n <= 2898) return MsgKind::Error;
    if (n >= 2900 && n <= 2998) return MsgKind::CommandLineError;
    if (n >= 4000 && n <= 4398) return MsgKind::Warning;
    if (n >= 4900 && n <= 4998) return MsgKind::CommandLineWarning;
    if (n >= 5000 && n <= 5998) return MsgKind::Note;
    return MsgKind::Invalid;
}

int WarningClass(int n) {
    if (n < 4000 || n > 4398) return 0;
    return (n - 4000) / 100 + 1;
}

const char* KindPrefix(MsgKind kind) {
    switch (kind) {
    case MsgKind::Fatal: return "Fatal error A%04d: ";
    case MsgKind::Error: return "Error A%04d: ";
    case MsgKind::CommandLineError: return "Command-line error D%04d: ";
    case MsgKind::Warning: return "Warning A%04d: ";
    case MsgKind::CommandLineWarning: return "Command-line warning D%04d: ";
    case MsgKind::Note: return "Note A%04d: ";
    case MsgKind::Invalid: break;
    }
    return "";
}

const char* CatalogueText(int number, std::initializer_list<MessageOverride>) {
    return CatalogueText(number, nullptr, 0);
}

const char* CatalogueText(int number, const MessageOverride* overrides, std::size_t overrideCount) {
    for (const Group& g : kGroups) {
        if (number < g.first || number > g.last) continue;
        for (std::size_t i = 0; i < overrideCount; ++i) {
            if (overrides[i].number == number)
                return overrides[i].text ? overrides[i].text : g.texts[0];
        }
        std::size_t index = static_cast<std::size_t>(number - g.first);
        return index < g.count ? g.texts[index] : g.texts[0];
    }
    return nullptr;
}

std::string FormatText(std::string_view format, const MsgArg* args, std::size_t count) {
    std::string out;
    out.reserve(format.size() + 32);
    std::size_t next = 0;
    for (std::size_t i = 0; i < format.size(); ++i) {
        char c = format[i];
        if (c != '%') {
            out += c;
            continue;
        }
        if (i + 1 < format.size() && format[i + 1] == '%') {
            out += '%';
            ++i;
            continue;
        }
        // Parse flags, width, precision and conversion.
        std::size_t j = i + 1;
        bool left = false, zero = false;
        while (j < format.size() && (format[j] == '-' || format[j] == '0')) {
            if (format[j] == '-') left = true; else zero = true;
            ++j;
        }
        int width = 0;
        while (j < format.size() && format[j] >= '0' && format[j] <= '9') width = width * 10 + (format[j++] - '0');
        int precision = -1;
        if (j < format.size() && format[j] == '.') {
            precision = 0;
            ++j;
            while (j < format.size() && format[j] >= '0' && format[j] <= '9')
                precision = precision * 10 + (format[j++] - '0');
        }
        if (j >= format.size()) {
            out.append(format.substr(i));
            break;
        }
        char conv = format[j];
        i = j;
        const MsgArg* arg = next < count ? &args[next] : nullptr;
        ++next;
        std::string piece;
        switch (conv) {
        case 's':
            if (arg && arg->kind == MsgArg::Kind::Text) piece = std::string(arg->text);
            else if (arg) piece = std::to_string(arg->number);
            if (precision >= 0 && piece.size() > static_cast<std::size_t>(precision)) piece.resize(precision);
            break;
        case 'c':
            if (arg && arg->kind != MsgArg::Kind::Text) piece = std::string(1, static_cast<char>(arg->number));
            else if (arg && !arg->text.empty()) piece = std::string(1, arg->text[0]);
            break;
        case 'd':
        case 'u':
        case 'x':
        case 'X': {
            std::int64_t v = (arg && arg->kind != MsgArg::Kind::Text) ? arg->number : 0;
            char buf[32];
            if (conv == 'd') std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(static_cast<std::int32_t>(v)));
            else if (conv == 'u') std::snprintf(buf, sizeof buf, "%u", static_cast<unsigned>(v));
            else std::snprintf(buf, sizeof buf, conv == 'x' ? "%x" : "%X", static_cast<unsigned>(v));
            piece = buf;
            break;
        }
        default:
            piece = std::string(format.substr(i - (j - i), 0));
            piece = std::string("%") + conv;
            break;
        }
        if (static_cast<int>(piece.size()) < width) {
            std::size_t pad = static_cast<std::size_t>(width) - piece.size();
            if (left) piece.append(pad, ' ');
            else if (zero && conv != 's' && conv != 'c') {
                std::size_t at = (!piece.empty() && piece[0] == '-') ? 1 : 0;
                piece.insert(at, pad, '0');
            } else piece.insert(0, pad, ' ');
        }
        out += piece;
    }
    return out;
}

} // namespace qorb
