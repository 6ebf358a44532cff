#include "messages.h"

#include <cstdio>

namespace qorb {
namespace {

// The catalogue: each group's rows in the order of their numbers, from the
// group's first number on without a gap (a number past a group's rows gets
// the group's first text).
// clang-format off
constexpr CatalogueRow kFatal[] = {
    {Msg::UnknownFatalError, "unknown fatal error; contact technical support\n\n"},
    {Msg::FatalText, "#fatal: %s\n"},
    {Msg::PreprocessorTableCorrupt, "preprocessor command table corrupt\n"},
    {Msg::PseudoCodeTableCorrupt, "pseudo code table corrupt\n"},
    {Msg::OpcodeTableCorrupt, "opcode table corrupt\n"},
    {Msg::OutOfMemory, "out of memory\n"},
    {Msg::LineTooLong, "assembler limit: line %d too long\n"},
    {Msg::IoErrorCreatingFile, "I/O error creating file '%s': %s\n"},
    {Msg::IoErrorClosingFile, "I/O error closing file '%s': %s\n"},
    {Msg::IoErrorReadingFile, "I/O error reading file '%s': %s\n"},
    {Msg::IoErrorWritingFile, "I/O error writing file '%s': %s\n"},
    {Msg::ErrorCountExceeded, "error count exceeds %d; stopping assembly\n"},
    {Msg::UnableToResolveCode, "unable to resolve code; stopping assembly\n"},
};

constexpr CatalogueRow kError[] = {
    {Msg::UnknownError, "unknown error; contact technical support\n\n"},
    {Msg::ErrorText, "#error: %s\n"},
    {Msg::FilenameExpected, "filename expected\n"},
    {Msg::CannotOpen, "cannot open '%s': %s\n"},
    {Msg::RecursiveInclude, "recursive file include\n"},
    {Msg::AbortedForErrorsInPreviousPass, "assembly aborted due to errors in previous pass\n"},
    {Msg::IllegalCharacter, "illegal character\n"},
    {Msg::Missing, "missing %s\n"},
    {Msg::Expected, "expected %s\n"},
    {Msg::BadArgument, "bad argument\n"},
    {Msg::MissingArgument, "missing argument\n"},
    {Msg::SyntaxError, "syntax error\n"},
    {Msg::BadDelimiter, "bad delimiter\n"},
    {Msg::MissingDelimiter, "missing delimiter '%c'\n"},
    {Msg::MissingExpression, "missing expression\n"},
    {Msg::BadNumber, "bad number\n"},
    {Msg::ExpressionOutOfRange, "expression out of range %s\n"},
    {Msg::SymbolMustBeKnownInPassOne, "'%s': symbol value must be known during pass one\n"},
    {Msg::LocalMustBeKnownInPassOne, "'%u$': symbol value must be known during pass one\n"},
    {Msg::UndefinedExpression, "'%s': undefined expression\n"},
    {Msg::ExpressionCannotBeResolved, "'%s': expression can not be resolved\n"},
    {Msg::ExpressionMustBeAbsolute, "expression must be absolute\n"},
    {Msg::ComplexRelocatableExpression, "complex relocatable expression not supported\n"},
    {Msg::DivisionByZero, "division by zero in expression\n"},
    {Msg::StringExpected, "string expected\n"},
    {Msg::BadString, "bad string\n"},
    {Msg::MnemonicOrPseudoCommandExpected, "mnemonic or pseudo command expected\n"},
    {Msg::UnknownMnemonicOrPseudoCommand, "'%s': unknown mnemonic or pseudo command\n"},
    {Msg::PreprocessorCommandExpected, "preprocessor command expected\n"},
    {Msg::UnknownPreprocessorCommand, "'%s': unknown preprocessor command\n"},
    {Msg::PseudoCommandExpected, "pseudo command expected\n"},
    {Msg::UnknownPseudoCommand, "'%s': unknown pseudo command\n"},
    {Msg::BadLabel, "bad label\n"},
    {Msg::BadLocalLabel, "bad local label\n"},
    {Msg::NoLabelExpected, "no label expected\n"},
    {Msg::DirectiveRequiresLabel, "directive requires label\n"},
    {Msg::BadSymbol, "bad symbol\n"},
    {Msg::ReservedSymbolName, "illegal symbol name (name is reserved)\n"},
    {Msg::UndefinedSymbol, "'%s': undefined symbol\n"},
    {Msg::SymbolRedefinition, "'%s': illegal redefinition of symbol\n"},
    {Msg::SymbolCannotBeReused, "'%s': symbol can not be reused\n"},
    {Msg::SymbolCannotBeResolved, "'%s': symbol can not be resolved\n"},
    {Msg::SymbolInconstant, "'%s': phasing error: symbol is inconstant\n"},
    {Msg::UndefinedLocal, "'%u$': undefined symbol\n"},
    {Msg::LocalRedefinition, "'%u$': illegal redefinition of symbol\n"},
    {Msg::LocalCannotBeReused, "'%u$': symbol can not be reused\n"},
    {Msg::LocalCannotBeResolved, "'%u$': symbol can not be resolved\n"},
    {Msg::LocalInconstant, "'%u$': phasing error: symbol is inconstant\n"},
    {Msg::IllegalExportSymbol, "illegal export symbol\n"},
    {Msg::IfdefExpectsIdentifier, "'if[n]def' expects an identifier\n"},
    {Msg::UnexpectedElif, "unexpected 'elif'\n"},
    {Msg::UnexpectedElse, "unexpected 'else'\n"},
    {Msg::UnexpectedEndif, "unexpected 'endif'\n"},
    {Msg::EndifExpected, "'endif' expected\n"},
    {Msg::UnmatchedIf, "unmatched 'if' block\n"},
    {Msg::ReservedMacroName, "illegal macro name (name is reserved)\n"},
    {Msg::MacroRedefinition, "'%s': illegal refinition of macro\n"},
    {Msg::EndmExpected, "'endm' expected\n"},
    {Msg::EndrExpected, "'endr' expected\n"},
    {Msg::RecursiveMacroCall, "recursive macro call\n"},
    {Msg::DirectiveNotAllowedOutsideMacro, "directive not allowed outside macro\n"},
    {Msg::ReservedSectionName, "illegal section name (name is reserved)\n"},
    {Msg::SectionRedefinition, "'%s': illegal redefinition of section\n"},
    {Msg::SectionNotDefined, "'%s': section not defined\n"},
    {Msg::IllegalOrigin, "illegal orgin\n"},
    {Msg::IllegalFunctionName, "'%s': illegal function name\n"},
    {Msg::IllegalAddressingMode, "illegal adressing mode\n"},
    {Msg::AddressingModesCombinationIllegal, "combination of adressing modes illegal\n"},
    {Msg::InherentAddressingIllegal, "inherent addressing illegal\n"},
    {Msg::ImmediateAddressingIllegal, "immediate addressing illegal\n"},
    {Msg::IndexedAddressingIllegal, "indexed addressing  illegal\n"},
    {Msg::IndexedIndirectAddressingIllegal, "indexed indirect addressing illegal\n"},
    {Msg::DirectExtendedAddressingIllegal, "direct/extended addressing illegal\n"},
    {Msg::InherentAddressingRequired, "inherent addressing required\n"},
    {Msg::ImmediateAddressingRequired, "immediate addressing required\n"},
    {Msg::IndexedAddressingRequired, "indexed addressing required\n"},
    {Msg::ValueOutOfRange, "value out of range %s\n"},
    {Msg::OffsetOutOfRange, "offset out of range %s\n"},
    {Msg::AddressOutOfRange, "address out of range %s\n"},
    {Msg::BranchOutOfRange, "branch out of range %s\n"},
    {Msg::BranchToIllegalTarget, "branch to illegal target\n"},
    {Msg::PcIllegalForAutoIncDec, "PC is illegal for auto inc/dec\n"},
    {Msg::PcrNotAllowed, "PCR not allowed here\n"},
    {Msg::TransferRegisterExpected, "A, B, CCR, D, X, Y or SP expected\n"},
    {Msg::LoopRegisterExpected, "A, B, D, X, Y or SP expected\n"},
    {Msg::IndexRegisterExpected, "X, Y, SP or PC expected\n"},
};

constexpr CatalogueRow kCommandLineError[] = {
    {Msg::UnknownCommandLineError, "unknown command-line error; contact technical support\n"},
    {Msg::CannotOpenFile, "cannot open file '%s'\n"},
    {Msg::CannotCreateFile, "cannot create file '%s'\n"},
    {Msg::MissingSourceFilename, "missing source filename\n"},
    {Msg::IncompatibleOptions, "option '%s' and option '%s' are incompatible\n"},
    {Msg::OptionNotAllowedWithMultipleSources, "option '%s' not allowed with multiple source files\n"},
};

constexpr CatalogueRow kWarning1[] = {
    {Msg::UnknownWarning, "unknown warning; contact technical support\n\n"},
    {Msg::WarningText, "#warning: %s\n"},
    {Msg::IgnoringUnsupportedPseudoCommand, "ignoring unsupported pseudo command\n"},
    {Msg::MultiplyDefinedSymbolReference, "'%s': reference to multiply defined symbol\n"},
    {Msg::UnresolvedSymbolReference, "'%s': reference to unresolved symbol\n"},
    {Msg::InconstantSymbolReference, "'%s': reference to inconstant symbol\n"},
    {Msg::MultiplyDefinedLocalReference, "'%u$': reference to multiply defined local symbol\n"},
    {Msg::InconstantLocalReference, "'%u$': reference to inconstant local symbol\n"},
    {Msg::ForwardReferencesNotResolved, "forward references not fully resolved\n"},
    {Msg::IncludedStartAddressIgnored, "ignoring start address in an included file\n"},
};

constexpr CatalogueRow kWarning2[] = {
    {Msg::EmptyWarningClass2, "\n"},
    {Msg::UnexpectedSyntax, "unexpected syntax (missing semicolon?)\n"},
    {Msg::ValueOutOfRangeTruncated, "value out of range %s, truncated\n"},
    {Msg::OffsetOutOfRangeTruncated, "offset out of range %s, truncated\n"},
    {Msg::AddressOutOfRangeTruncated, "address out of range %s, truncated\n"},
    {Msg::SwitchingToUnnamedSection, "switching to unnamed section\n"},
};

constexpr CatalogueRow kWarning3[] = {
    {Msg::EmptyWarningClass3, "\n"},
    {Msg::MissingClosingQuote, "missing closing quote\n"},
    {Msg::AdjustingTo16BitAddress, "adjusting to 16-bit address\n"},
    {Msg::IgnoringUnknownOption, "'%s': ignoring unknown option\n"},
    {Msg::UnmatchedSave, "unmatched 'save'\n"},
    {Msg::IgnoringUnexpectedRestore, "ignoring unexpected 'restore'\n"},
};

constexpr CatalogueRow kWarning4[] = {
    {Msg::EmptyWarningClass4, "\n"},
    {Msg::CommaExpected, "comma expected\n"},
    {Msg::UnexpectedComment, "unexpected comment\n"},
    {Msg::NonStandardMnemonic, "non-standart mnemonic\n"},
    {Msg::ObsoleteDirective, "obsolete directive\n"},
};

constexpr CatalogueRow kCommandLineWarning[] = {
    {Msg::UnknownCommandLineWarning, "unknown command-line warning; contact technical support\n"},
    {Msg::IgnoringUnknownCommandLineOption, "ignoring unknown option '%s'\n"},
    {Msg::IgnoringOptionRequiresOption, "ignoring option '%s': requires option '%s'\n"},
    {Msg::IgnoringOverriddenOption, "ignoring option '%s': overridden with option '%s'\n"},
    {Msg::IgnoringOptionMissingArgument, "ignoring option '%s': missing argument\n"},
    {Msg::IgnoringOptionInvalidNumber, "ignoring option '%s': invalid numerical argument\n"},
    {Msg::AdjustingOptionValue, "adjusting value for option '%s': new value is %d\n"},
};

constexpr CatalogueRow kNote[] = {
    {Msg::UnknownNote, "unknown information message; contact technical support\n"},
    {Msg::NoteText, "%s\n"},
    {Msg::SeeMacro, "see macro '%s'\n"},
    {Msg::FailedToOpenFile, "failed to open file '%s'\n"},
    {Msg::CompatModeAcceptsLine, "'-mc' accepts this line\n"},
};

constexpr CatalogueVariant kVariants[] = {
    {Msg::HashNotAllowedInData, "hash", "'#' is not allowed in data\n"},
};
// clang-format on

constexpr CatalogueGroup kGroups[] = {
    {1000, 1998, kFatal},
    {2000, 2898, kError},
    {2900, 2998, kCommandLineError},
    {4000, 4099, kWarning1},
    {4100, 4199, kWarning2},
    {4200, 4299, kWarning3},
    {4300, 4398, kWarning4},
    {4900, 4998, kCommandLineWarning},
    {5000, 5998, kNote},
};

} // namespace

std::span<const CatalogueGroup> CatalogueGroups() { return kGroups; }

std::span<const CatalogueVariant> CatalogueVariants() { return kVariants; }

MsgKind KindOf(int n) {
    n &= ~kMsgVariant;
    if (n >= 1000 && n <= 1998) return MsgKind::Fatal;
    if (n >= 2000 && n <= 2898) return MsgKind::Error;
    if (n >= 2900 && n <= 2998) return MsgKind::CommandLineError;
    if (n >= 4000 && n <= 4398) return MsgKind::Warning;
    if (n >= 4900 && n <= 4998) return MsgKind::CommandLineWarning;
    if (n >= 5000 && n <= 5998) return MsgKind::Note;
    return MsgKind::Invalid;
}

int WarningClass(int n) {
    n &= ~kMsgVariant;
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
    if (number & kMsgVariant) {
        for (const CatalogueVariant& v : kVariants)
            if (static_cast<int>(v.id) == number) return v.text;
        return nullptr;
    }
    for (const CatalogueGroup& g : kGroups) {
        if (number < g.first || number > g.last) continue;
        for (std::size_t i = 0; i < overrideCount; ++i) {
            if (static_cast<int>(overrides[i].id) == number)
                return overrides[i].text ? overrides[i].text : g.rows[0].text;
        }
        std::size_t index = static_cast<std::size_t>(number - g.first);
        return index < g.rows.size() ? g.rows[index].text : g.rows[0].text;
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
            if (format[j] == '-')
                left = true;
            else
                zero = true;
            ++j;
        }
        int width = 0;
        while (j < format.size() && format[j] >= '0' && format[j] <= '9')
            width = width * 10 + (format[j++] - '0');
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
            if (arg && arg->kind == MsgArg::Kind::Text)
                piece = std::string(arg->text);
            else if (arg)
                piece = std::to_string(arg->number);
            if (precision >= 0 && piece.size() > static_cast<std::size_t>(precision)) piece.resize(precision);
            break;
        case 'c':
            if (arg && arg->kind != MsgArg::Kind::Text)
                piece = std::string(1, static_cast<char>(arg->number));
            else if (arg && !arg->text.empty())
                piece = std::string(1, arg->text[0]);
            break;
        case 'd':
        case 'u':
        case 'x':
        case 'X': {
            std::int64_t v = (arg && arg->kind != MsgArg::Kind::Text) ? arg->number : 0;
            char buf[32];
            if (conv == 'd')
                std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(static_cast<std::int32_t>(v)));
            else if (conv == 'u')
                std::snprintf(buf, sizeof buf, "%u", static_cast<unsigned>(v));
            else
                std::snprintf(buf, sizeof buf, conv == 'x' ? "%x" : "%X", static_cast<unsigned>(v));
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
            if (left)
                piece.append(pad, ' ');
            else if (zero && conv != 's' && conv != 'c') {
                std::size_t at = (!piece.empty() && piece[0] == '-') ? 1 : 0;
                piece.insert(at, pad, '0');
            } else
                piece.insert(0, pad, ' ');
        }
        out += piece;
    }
    return out;
}

} // namespace qorb
