#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>

namespace qorb {

// Every numbered message, named from its text. The number is the message's
// code as printed (A2003, D2901); the texts are in the catalogue
// (messages.cpp), and a target may replace some of them (MessageOverride).
// A second text under a number that has one already (the number users look
// up stays, with words that fit the case): the id is the number with this
// bit; the texts are in the catalogue's variant table.
inline constexpr int kMsgVariant = 0x10000;

// clang-format off
enum class Msg : int {
    // fatal errors
    UnknownFatalError = 1000,
    FatalText = 1001,
    PreprocessorTableCorrupt = 1002,
    PseudoCodeTableCorrupt = 1003,
    OpcodeTableCorrupt = 1004,
    OutOfMemory = 1005,
    LineTooLong = 1006,
    IoErrorCreatingFile = 1007,
    IoErrorClosingFile = 1008,
    IoErrorReadingFile = 1009,
    IoErrorWritingFile = 1010,
    ErrorCountExceeded = 1011,
    UnableToResolveCode = 1012,
    // errors
    UnknownError = 2000,
    ErrorText = 2001,
    FilenameExpected = 2002,
    CannotOpen = 2003,
    RecursiveInclude = 2004,
    AbortedForErrorsInPreviousPass = 2005,
    IllegalCharacter = 2006,
    Missing = 2007,
    Expected = 2008,
    BadArgument = 2009,
    MissingArgument = 2010,
    SyntaxError = 2011,
    BadDelimiter = 2012,
    MissingDelimiter = 2013,
    MissingExpression = 2014,
    BadNumber = 2015,
    ExpressionOutOfRange = 2016,
    SymbolMustBeKnownInPassOne = 2017,
    LocalMustBeKnownInPassOne = 2018,
    UndefinedExpression = 2019,
    ExpressionCannotBeResolved = 2020,
    ExpressionMustBeAbsolute = 2021,
    ComplexRelocatableExpression = 2022,
    DivisionByZero = 2023,
    StringExpected = 2024,
    BadString = 2025,
    MnemonicOrPseudoCommandExpected = 2026,
    UnknownMnemonicOrPseudoCommand = 2027,
    PreprocessorCommandExpected = 2028,
    UnknownPreprocessorCommand = 2029,
    PseudoCommandExpected = 2030,
    UnknownPseudoCommand = 2031,
    BadLabel = 2032,
    BadLocalLabel = 2033,
    NoLabelExpected = 2034,
    DirectiveRequiresLabel = 2035,
    BadSymbol = 2036,
    ReservedSymbolName = 2037,
    UndefinedSymbol = 2038,
    SymbolRedefinition = 2039,
    SymbolCannotBeReused = 2040,
    SymbolCannotBeResolved = 2041,
    SymbolInconstant = 2042,
    UndefinedLocal = 2043,
    LocalRedefinition = 2044,
    LocalCannotBeReused = 2045,
    LocalCannotBeResolved = 2046,
    LocalInconstant = 2047,
    IllegalExportSymbol = 2048,
    IfdefExpectsIdentifier = 2049,
    UnexpectedElif = 2050,
    UnexpectedElse = 2051,
    UnexpectedEndif = 2052,
    EndifExpected = 2053,
    UnmatchedIf = 2054,
    ReservedMacroName = 2055,
    MacroRedefinition = 2056,
    EndmExpected = 2057,
    EndrExpected = 2058,
    RecursiveMacroCall = 2059,
    DirectiveNotAllowedOutsideMacro = 2060,
    ReservedSectionName = 2061,
    SectionRedefinition = 2062,
    SectionNotDefined = 2063,
    IllegalOrigin = 2064,
    IllegalFunctionName = 2065,
    IllegalAddressingMode = 2066,
    AddressingModesCombinationIllegal = 2067,
    InherentAddressingIllegal = 2068,
    ImmediateAddressingIllegal = 2069,
    IndexedAddressingIllegal = 2070,
    IndexedIndirectAddressingIllegal = 2071,
    DirectExtendedAddressingIllegal = 2072,
    InherentAddressingRequired = 2073,
    ImmediateAddressingRequired = 2074,
    IndexedAddressingRequired = 2075,
    ValueOutOfRange = 2076,
    OffsetOutOfRange = 2077,
    AddressOutOfRange = 2078,
    BranchOutOfRange = 2079,
    BranchToIllegalTarget = 2080,
    PcIllegalForAutoIncDec = 2081,
    PcrNotAllowed = 2082,
    TransferRegisterExpected = 2083,
    LoopRegisterExpected = 2084,
    IndexRegisterExpected = 2085,
    // command-line errors
    UnknownCommandLineError = 2900,
    CannotOpenFile = 2901,
    CannotCreateFile = 2902,
    MissingSourceFilename = 2903,
    IncompatibleOptions = 2904,
    OptionNotAllowedWithMultipleSources = 2905,
    // warnings, class 1
    UnknownWarning = 4000,
    WarningText = 4001,
    IgnoringUnsupportedPseudoCommand = 4002,
    MultiplyDefinedSymbolReference = 4003,
    UnresolvedSymbolReference = 4004,
    InconstantSymbolReference = 4005,
    MultiplyDefinedLocalReference = 4006,
    InconstantLocalReference = 4007,
    ForwardReferencesNotResolved = 4008,
    IncludedStartAddressIgnored = 4009,
    // warnings, class 2
    EmptyWarningClass2 = 4100,
    UnexpectedSyntax = 4101,
    ValueOutOfRangeTruncated = 4102,
    OffsetOutOfRangeTruncated = 4103,
    AddressOutOfRangeTruncated = 4104,
    SwitchingToUnnamedSection = 4105,
    // warnings, class 3
    EmptyWarningClass3 = 4200,
    MissingClosingQuote = 4201,
    AdjustingTo16BitAddress = 4202,
    IgnoringUnknownOption = 4203,
    UnmatchedSave = 4204,
    IgnoringUnexpectedRestore = 4205,
    // warnings, class 4
    EmptyWarningClass4 = 4300,
    CommaExpected = 4301,
    UnexpectedComment = 4302,
    NonStandardMnemonic = 4303,
    ObsoleteDirective = 4304,
    // command-line warnings
    UnknownCommandLineWarning = 4900,
    IgnoringUnknownCommandLineOption = 4901,
    IgnoringOptionRequiresOption = 4902,
    IgnoringOverriddenOption = 4903,
    IgnoringOptionMissingArgument = 4904,
    IgnoringOptionInvalidNumber = 4905,
    AdjustingOptionValue = 4906,
    // notes
    UnknownNote = 5000,
    NoteText = 5001,
    SeeMacro = 5002,
    FailedToOpenFile = 5003,
    CompatModeAcceptsLine = 5004,
    // second texts
    HashNotAllowedInData = kMsgVariant | 2015,
};
// clang-format on

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
    MsgArg(Msg id) : kind(Kind::Number), number(static_cast<int>(id)) {} // its number
    MsgArg(unsigned long long v) : kind(Kind::Number), number(static_cast<std::int64_t>(v)) {}
};

enum class MsgKind { Fatal, Error, CommandLineError, Warning, CommandLineWarning, Note, Invalid };

MsgKind KindOf(int number);
inline MsgKind KindOf(Msg id) { return KindOf(static_cast<int>(id)); }
// Warning class 1..4 for 4000..4398, 0 for everything else.
int WarningClass(int number);
const char* KindPrefix(MsgKind kind);

// A target may replace some catalogue texts. `text == nullptr` removes the
// entry so that the number falls back to its group's first text.
struct MessageOverride {
    Msg id;
    const char* text;
};

// One text of the catalogue.
struct CatalogueRow {
    Msg id;
    const char* text; // with its trailing newline
};

// The numbers from `first` to `last` are one kind of message; `rows` hold
// the texts of the numbers from `first` on, one each, in order.
struct CatalogueGroup {
    int first;
    int last;
    std::span<const CatalogueRow> rows;
};
std::span<const CatalogueGroup> CatalogueGroups();

// The second texts: `anchor` names the variant on the manual's page.
struct CatalogueVariant {
    Msg id;
    const char* anchor;
    const char* text;
};
std::span<const CatalogueVariant> CatalogueVariants();
// The number a message prints.
inline int MessageNumber(Msg id) { return static_cast<int>(id) & ~kMsgVariant; }

// Catalogue text of a numbered message (with its trailing newline), taking the
// group fallback for numbers beyond the table. Returns nullptr for numbers
// outside every range.
const char* CatalogueText(int number, std::initializer_list<MessageOverride> none = {});
const char* CatalogueText(int number, const MessageOverride* overrides, std::size_t overrideCount);
inline const char* CatalogueText(Msg id, const MessageOverride* overrides = nullptr,
                                 std::size_t overrideCount = 0) {
    return CatalogueText(static_cast<int>(id), overrides, overrideCount);
}

// printf-like formatting restricted to the conversions the catalogue uses:
// %s %d %u %c %x %X with optional '-', '0', width and precision. Arguments are
// typed, so a mismatch can never read garbage; missing ones format as empty / 0.
std::string FormatText(std::string_view format, const MsgArg* args, std::size_t count);
inline std::string FormatText(std::string_view format, std::initializer_list<MsgArg> args) {
    return FormatText(format, args.begin(), args.size());
}

} // namespace qorb
