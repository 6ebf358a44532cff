#include "highlighter.h"

#include <QGuiApplication>
#include <QPalette>
#include <QTextBlock>
#include <QTextCharFormat>
#include <QTextDocument>
#include <QTextLayout>

#include <algorithm>
#include <string>
#include <string_view>

namespace oxbrin {

namespace {

const char* const kMnemonics =
    " aba abx aby adca adcb adda addb addd anda andb andcc asl asla aslb asld asr asra asrb bcc bclr bcs beq "
    "bge bgnd bgt bhi bhs bita bitb ble blo bls blt bmi bne bpl bra brclr brn brset bset bsr bvc bvs call "
    "cba "
    "clc cli clr clra clrb clv cmpa cmpb cmpd cmps cmpx cmpy com coma comb cpd cps cpx cpy daa dbeq dbne dec "
    "deca decb des dex dey ediv edivs emacs emaxd emaxm emind eminm emul emuls eora eorb etbl exg fdiv ibeq "
    "ibne idiv idivs inc inca incb ins inx iny jmp jsr lbcc lbcs lbeq lbge lbgt lbhi lbhs lble lblo lbls "
    "lblt "
    "lbmi lbne lbpl lbra lbrn lbsr lbvc lbvs lda ldaa ldab ldad ldb ldd lds ldx ldy leas leax leay lsl lsla "
    "lslb lsld lsr lsra lsrb lsrd maxa maxm mem mina minm movb movw mul neg nega negb nop ora oraa orab orb "
    "orcc psha pshb pshc pshd pshx pshy pula pulb pulc puld pulx puly rev revw rol rola rolb ror rora rorb "
    "rtc "
    "rti rts sba sbca sbcb sec sei sev sex sta staa stab stad stb std stop sts stx sty suba subb subd swi "
    "tab "
    "tap tba tbeq tbl tbne tfr tpa trap tst tsta tstb tsx tsy txs tys wai wav wavr xgdx xgdy ";

const char* const kDirectives =
    " adr align bsz byt cpu clist db dc.b dc.w dc.l dfs ds ds.b ds.w ds.l dw elif else end endif endm endr "
    "equ "
    "even fail fcb fcc fdb fill if ifc ifdef ifnc ifndef list llen local macro mexit mlist msg nam name "
    "nolist "
    "offset opt org pag page plen rept rmb rmw section set spc subttl switch tabs ttl warn xdef xref zmb ";

const char* const kPreprocessor =
    " define elif else endif err error fatal if ifc ifdef ifeq ifge ifgt ifle iflt ifnc ifndef ifne include "
    "msg warn warning ";

// A keyword list as a sorted table searched by halving: the lookup runs for
// every word of every line, so it must not allocate.
class KeywordTable {
public:
    explicit KeywordTable(const char* list) : text_(list) {
        std::string_view all(text_);
        size_t pos = 0;
        while (pos < all.size()) {
            size_t end = all.find(' ', pos);
            if (end == std::string_view::npos) end = all.size();
            if (end > pos) words_.push_back(all.substr(pos, end - pos));
            pos = end + 1;
        }
        std::sort(words_.begin(), words_.end());
        for (auto w : words_) longest_ = std::max(longest_, w.size());
    }

    bool Contains(QStringView word) const {
        if (word.isEmpty() || static_cast<size_t>(word.size()) > longest_) return false;
        char buf[32];
        for (qsizetype i = 0; i < word.size(); ++i) {
            const char16_t c = word[i].unicode();
            if (c >= 0x80) return false;
            buf[i] = static_cast<char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
        }
        return std::binary_search(words_.begin(), words_.end(),
                                  std::string_view(buf, static_cast<size_t>(word.size())));
    }

private:
    std::string text_;
    std::vector<std::string_view> words_;
    size_t longest_ = 0;
};

const KeywordTable& Mnemonics() {
    static const KeywordTable t(kMnemonics);
    return t;
}
const KeywordTable& Directives() {
    static const KeywordTable t(kDirectives);
    return t;
}
const KeywordTable& Preprocessor() {
    static const KeywordTable t(kPreprocessor);
    return t;
}

inline bool IsAsciiLetter(char16_t c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
inline bool IsDigit(char16_t c) { return c >= '0' && c <= '9'; }
inline bool IsWordChar(char16_t c) {
    return IsAsciiLetter(c) || IsDigit(c) || c == '_' || c == '.' || c == '$';
}
inline bool IsBlank(char16_t c) { return c == ' ' || c == '\t'; }

} // namespace

const QString& MnemonicList() {
    static const QString s = QString::fromLatin1(kMnemonics);
    return s;
}
const QString& DirectiveList() {
    static const QString s = QString::fromLatin1(kDirectives);
    return s;
}
const QString& PreprocessorList() {
    static const QString s = QString::fromLatin1(kPreprocessor);
    return s;
}

bool IsMnemonic(QStringView word) { return Mnemonics().Contains(word); }
bool IsDirective(QStringView word) { return Directives().Contains(word); }
bool IsPreprocessorKeyword(QStringView word) { return Preprocessor().Contains(word); }

std::vector<ColourSpan> ScanLine(QStringView line) {
    std::vector<ColourSpan> spans;
    const qsizetype n = line.size();
    if (n > 0 && line[0] == u'*') {
        spans.push_back({0, static_cast<int>(n), TokenKind::Comment});
        return spans;
    }
    bool atLineStart = true;
    qsizetype i = 0;
    while (i < n) {
        const char16_t c = line[i].unicode();
        if (IsBlank(c)) {
            ++i;
            continue;
        }
        if (atLineStart && (c == u'#' || c == u'$')) {
            atLineStart = false;
            qsizetype j = i + 1;
            while (j < n && IsBlank(line[j].unicode())) ++j;
            qsizetype k = j;
            while (k < n && IsAsciiLetter(line[k].unicode())) ++k;
            if (k > j && IsPreprocessorKeyword(line.sliced(j, k - j))) {
                spans.push_back({static_cast<int>(i), static_cast<int>(k - i), TokenKind::Preprocessor});
                i = k;
                continue;
            }
            ++i;
            continue;
        }
        atLineStart = false;
        // Numbers: decimal (also with a base suffix or 0x prefix, all one
        // word), $hex, %binary and @octal.
        {
            qsizetype j = i;
            if (IsDigit(c)) {
                j = i + 1;
                while (j < n &&
                       (IsAsciiLetter(line[j].unicode()) || IsDigit(line[j].unicode()) || line[j] == u'_'))
                    ++j;
                // "1$" is a local label and "\1" a macro parameter, no numbers.
                if ((j < n && IsWordChar(line[j].unicode())) || (i > 0 && line[i - 1] == u'\\')) {
                    while (j < n && IsWordChar(line[j].unicode())) ++j;
                    i = j;
                    continue;
                }
            } else if (i + 1 < n) {
                const char16_t d = line[i + 1].unicode();
                auto digitOf = [c](char16_t x) {
                    if (c == u'$') return IsDigit(x) || (x >= 'a' && x <= 'f') || (x >= 'A' && x <= 'F');
                    if (c == u'%') return x == '0' || x == '1';
                    if (c == u'@') return x >= '0' && x <= '7';
                    return false;
                };
                if (digitOf(d)) {
                    j = i + 2;
                    while (j < n && digitOf(line[j].unicode())) ++j;
                    // "$12ab_x" or "%10x" is no number but a name that
                    // starts like one.
                    if (j < n && IsWordChar(line[j].unicode())) j = i;
                }
            }
            if (j > i) {
                spans.push_back({static_cast<int>(i), static_cast<int>(j - i), TokenKind::Number});
                i = j;
                continue;
            }
            // "%12" or "@8": digits that make no number in that base are
            // no decimal number either.
            if ((c == u'$' || c == u'%' || c == u'@') && i + 1 < n && IsDigit(line[i + 1].unicode())) {
                j = i + 1;
                while (j < n && IsWordChar(line[j].unicode())) ++j;
                i = j;
                continue;
            }
        }
        if (c == u';') {
            spans.push_back({static_cast<int>(i), static_cast<int>(n - i), TokenKind::Comment});
            break;
        }
        if (IsAsciiLetter(c) || c == u'_') {
            qsizetype j = i + 1;
            while (j < n && IsWordChar(line[j].unicode())) ++j;
            QStringView word = line.sliced(i, j - i);
            if (IsMnemonic(word))
                spans.push_back({static_cast<int>(i), static_cast<int>(j - i), TokenKind::Mnemonic});
            else if (IsDirective(word))
                spans.push_back({static_cast<int>(i), static_cast<int>(j - i), TokenKind::Directive});
            i = j;
            continue;
        }
        if (c == u'"' || c == u'\'') {
            qsizetype j = i + 1;
            while (j < n && line[j].unicode() != c) ++j;
            i = j < n ? j + 1 : n;
            continue;
        }
        ++i;
    }
    return spans;
}

namespace {

struct RoleName {
    const char* key;
    const char* label;
};

constexpr RoleName kRoleNames[kColourRoles] = {
    {"preprocessor", "Preprocessor keywords"},
    {"directive", "Directives"},
    {"mnemonic", "Instructions"},
    {"comment", "Comments"},
    {"number", "Numbers"},
    {"text", "Other text"},
    {"background", "Background"},
    {"currentline", "Caret line"},
};

ColourScheme& Active() {
    static ColourScheme scheme = ColourScheme::Light();
    return scheme;
}

int& Generation() {
    static int generation = 0;
    return generation;
}

// The formats the highlighters write, one per token kind, rebuilt whenever
// the scheme changes (a format a line, not a format a span).
std::array<QTextCharFormat, 5>& Formats() {
    static std::array<QTextCharFormat, 5> formats;
    return formats;
}

void BuildFormats() {
    for (int k = 0; k < 5; ++k) {
        QTextCharFormat f;
        f.setForeground(Active().colours[size_t(k)]);
        Formats()[size_t(k)] = f;
    }
}

const QTextCharFormat& FormatOf(TokenKind kind) {
    static const bool built = (BuildFormats(), true);
    (void)built;
    return Formats()[size_t(kind)];
}

} // namespace

const char* ColourRoleKey(ColourRole role) { return kRoleNames[size_t(role)].key; }
const char* ColourRoleLabel(ColourRole role) { return kRoleNames[size_t(role)].label; }

ColourScheme ColourScheme::Light() {
    ColourScheme s;
    s.Set(ColourRole::Preprocessor, QColor(0, 0, 255));
    s.Set(ColourRole::Directive, QColor(0, 0, 255));
    s.Set(ColourRole::Mnemonic, QColor(0, 0, 255));
    s.Set(ColourRole::Comment, QColor(0, 128, 0));
    s.Set(ColourRole::Number, QColor(0xA3, 0x15, 0x15));
    s.Set(ColourRole::Text, QColor(Qt::black));
    s.Set(ColourRole::Background, QColor(Qt::white));
    s.Set(ColourRole::CurrentLine, QColor(0xE8, 0xF0, 0xFE));
    return s;
}

ColourScheme ColourScheme::Dark() {
    ColourScheme s;
    s.Set(ColourRole::Preprocessor, QColor(0xC5, 0x86, 0xC0));
    s.Set(ColourRole::Directive, QColor(0x4F, 0xC1, 0xFF));
    s.Set(ColourRole::Mnemonic, QColor(0x56, 0x9C, 0xD6));
    s.Set(ColourRole::Comment, QColor(0x6A, 0x99, 0x55));
    s.Set(ColourRole::Number, QColor(0xB5, 0xCE, 0xA8));
    s.Set(ColourRole::Text, QColor(0xD4, 0xD4, 0xD4));
    s.Set(ColourRole::Background, QColor(0x1E, 0x1E, 0x1E));
    s.Set(ColourRole::CurrentLine, QColor(0x2A, 0x2D, 0x3A));
    return s;
}

ColourScheme ColourScheme::ForDesktop() {
    // A dark desktop has light text on dark windows.
    const QPalette pal = QGuiApplication::palette();
    const bool dark = pal.color(QPalette::Window).lightness() < pal.color(QPalette::WindowText).lightness();
    return dark ? Dark() : Light();
}

QString ColourScheme::Encode() const {
    QStringList parts;
    for (int r = 0; r < kColourRoles; ++r)
        parts << QStringLiteral("%1=%2").arg(QLatin1String(kRoleNames[r].key), colours[size_t(r)].name());
    return parts.join(QLatin1Char(';'));
}

ColourScheme ColourScheme::Decode(const QString& text, const ColourScheme& base) {
    ColourScheme s = base;
    for (const QString& part : text.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const qsizetype eq = part.indexOf(QLatin1Char('='));
        if (eq <= 0) continue;
        const QString key = part.left(eq).trimmed();
        const QColor colour = QColor::fromString(part.mid(eq + 1).trimmed());
        if (!colour.isValid()) continue;
        for (int r = 0; r < kColourRoles; ++r) {
            if (key == QLatin1String(kRoleNames[r].key)) s.colours[size_t(r)] = colour;
        }
    }
    return s;
}

const ColourScheme& ActiveScheme() { return Active(); }

void SetActiveScheme(const ColourScheme& scheme) {
    if (Active() == scheme) return;
    Active() = scheme;
    ++Generation();
    BuildFormats();
}

int ActiveSchemeGeneration() { return Generation(); }

QColor ColourOf(TokenKind kind) { return Active().colours[size_t(kind)]; }

CAsmHighlighter::CAsmHighlighter(QTextDocument* doc) : QSyntaxHighlighter(doc) {
    timer_.setSingleShot(true);
    timer_.setInterval(0);
    connect(&timer_, &QTimer::timeout, this, &CAsmHighlighter::Step);
}

void CAsmHighlighter::LoadLarge(const std::function<void()>& load) {
    QTextDocument* doc = document();
    if (!doc) {
        load();
        return;
    }
    // The text goes in without a pass over every line; the slices colour it
    // afterwards. Should the notification not come apart, each line is still
    // only looked at, not coloured.
    suppress_ = true;
    const bool detached =
        disconnect(doc, SIGNAL(contentsChange(int, int, int)), this, SLOT(_q_reformatBlocks(int, int, int)));
    load();
    if (detached)
        connect(doc, SIGNAL(contentsChange(int, int, int)), this, SLOT(_q_reformatBlocks(int, int, int)));
    suppress_ = false;
    deferred_ = true;
    frontier_ = QTextCursor(doc);
    frontier_.setKeepPositionOnInsert(true);
    timer_.start();
}

void CAsmHighlighter::Colour(QTextBlock block) {
    QList<QTextLayout::FormatRange> ranges;
    for (const ColourSpan& s : ScanLine(block.text())) ranges.append({s.start, s.length, FormatOf(s.kind)});
    block.layout()->setFormats(ranges);
}

void CAsmHighlighter::Step() {
    QTextDocument* doc = document();
    if (!deferred_ || !doc) return;
    // A slice takes a few milliseconds, so typing and scrolling stay smooth
    // while the rest of the text is coloured.
    constexpr int kSlice = 4000;
    QTextBlock block = doc->findBlock(frontier_.position());
    const int from = block.position();
    for (int i = 0; i < kSlice && block.isValid(); ++i) {
        Colour(block);
        block = block.next();
    }
    const int to = block.isValid() ? block.position() : doc->characterCount();
    doc->markContentsDirty(from, to - from);
    if (!block.isValid()) {
        deferred_ = false;
        emit Completed();
        return;
    }
    frontier_.setPosition(block.position());
    timer_.start();
}

void CAsmHighlighter::ColourBlocks(QTextBlock first, int count) {
    QTextDocument* doc = document();
    if (!deferred_ || !doc || !first.isValid()) return;
    const int from = first.position();
    int to = from;
    for (int i = 0; i < count && first.isValid(); ++i, first = first.next()) {
        if (first.position() >= frontier_.position() && first.layout()->formats().isEmpty()) {
            Colour(first);
            to = first.position() + first.length();
        }
    }
    if (to > from) doc->markContentsDirty(from, qMin(to, doc->characterCount()) - from);
}

void CAsmHighlighter::highlightBlock(const QString& text) {
    if (suppress_) return;
    for (const ColourSpan& s : ScanLine(text)) setFormat(s.start, s.length, FormatOf(s.kind));
}

} // namespace oxbrin
