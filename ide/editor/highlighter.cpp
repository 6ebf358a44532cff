#include "highlighter.h"

#include <QTextBlock>
#include <QTextCharFormat>
#include <QTextLayout>
#include <QTextDocument>

#include <algorithm>
#include <string>
#include <string_view>

namespace oxbrin {

namespace {

const char* const kMnemonics =
    " aba abx aby adca adcb adda addb addd anda andb andcc asl asla aslb asld asr asra asrb bcc bclr bcs beq "
    "bge bgnd bgt bhi bhs bita bitb ble blo bls blt bmi bne bpl bra brclr brn brset bset bsr bvc bvs call cba "
    "clc cli clr clra clrb clv cmpa cmpb cmpd cmps cmpx cmpy com coma comb cpd cps cpx cpy daa dbeq dbne dec "
    "deca decb des dex dey ediv edivs emacs emaxd emaxm emind eminm emul emuls eora eorb etbl exg fdiv ibeq "
    "ibne idiv idivs inc inca incb ins inx iny jmp jsr lbcc lbcs lbeq lbge lbgt lbhi lbhs lble lblo lbls lblt "
    "lbmi lbne lbpl lbra lbrn lbsr lbvc lbvs lda ldaa ldab ldad ldb ldd lds ldx ldy leas leax leay lsl lsla "
    "lslb lsld lsr lsra lsrb lsrd maxa maxm mem mina minm movb movw mul neg nega negb nop ora oraa orab orb "
    "orcc psha pshb pshc pshd pshx pshy pula pulb pulc puld pulx puly rev revw rol rola rolb ror rora rorb rtc "
    "rti rts sba sbca sbcb sec sei sev sex sta staa stab stad stb std stop sts stx sty suba subb subd swi tab "
    "tap tba tbeq tbl tbne tfr tpa trap tst tsta tstb tsx tsy txs tys wai wav wavr xgdx xgdy ";

const char* const kDirectives =
    " adr align bsz byt cpu clist db dc.b dc.w dc.l dfs ds ds.b ds.w ds.l dw elif else end endif endm endr equ "
    "even fail fcb fcc fdb fill if ifc ifdef ifnc ifndef list llen local macro mexit mlist msg nam name nolist "
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
            if (end == std::string_view::npos)
                end = all.size();
            if (end > pos)
                words_.push_back(all.substr(pos, end - pos));
            pos = end + 1;
        }
        std::sort(words_.begin(), words_.end());
        for (auto w : words_)
            longest_ = std::max(longest_, w.size());
    }

    bool Contains(QStringView word) const {
        if (word.isEmpty() || static_cast<size_t>(word.size()) > longest_)
            return false;
        char buf[32];
        for (qsizetype i = 0; i < word.size(); ++i) {
            const char16_t c = word[i].unicode();
            if (c >= 0x80)
                return false;
            buf[i] = static_cast<char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
        }
        return std::binary_search(words_.begin(), words_.end(), std::string_view(buf, static_cast<size_t>(word.size())));
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
inline bool IsWordChar(char16_t c) { return IsAsciiLetter(c) || IsDigit(c) || c == '_' || c == '.' || c == '$'; }
inline bool IsBlank(char16_t c) { return c == ' ' || c == '\t'; }

}  // namespace

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
            while (j < n && IsBlank(line[j].unicode()))
                ++j;
            qsizetype k = j;
            while (k < n && IsAsciiLetter(line[k].unicode()))
                ++k;
            if (k > j && IsPreprocessorKeyword(line.sliced(j, k - j))) {
                spans.push_back({static_cast<int>(i), static_cast<int>(k - i), TokenKind::Preprocessor});
                i = k;
                continue;
            }
            ++i;
            continue;
        }
        atLineStart = false;
        if (c == u';') {
            spans.push_back({static_cast<int>(i), static_cast<int>(n - i), TokenKind::Comment});
            break;
        }
        if (IsAsciiLetter(c) || c == u'_') {
            qsizetype j = i + 1;
            while (j < n && IsWordChar(line[j].unicode()))
                ++j;
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
            while (j < n && line[j].unicode() != c)
                ++j;
            i = j < n ? j + 1 : n;
            continue;
        }
        ++i;
    }
    return spans;
}

QColor ColourOf(TokenKind kind) {
    return kind == TokenKind::Comment ? QColor(0, 128, 0) : QColor(0, 0, 255);
}

namespace {

QTextCharFormat Coloured(const QColor& colour) {
    QTextCharFormat c;
    c.setForeground(colour);
    return c;
}

const QTextCharFormat& KeywordFormat() {
    static const QTextCharFormat f = Coloured(QColor(0, 0, 255));
    return f;
}

const QTextCharFormat& CommentFormat() {
    static const QTextCharFormat f = Coloured(QColor(0, 128, 0));
    return f;
}

const QTextCharFormat& FormatOf(TokenKind kind) {
    return kind == TokenKind::Comment ? CommentFormat() : KeywordFormat();
}

}  // namespace

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
    const bool detached = disconnect(doc, SIGNAL(contentsChange(int,int,int)), this, SLOT(_q_reformatBlocks(int,int,int)));
    load();
    if (detached)
        connect(doc, SIGNAL(contentsChange(int,int,int)), this, SLOT(_q_reformatBlocks(int,int,int)));
    suppress_ = false;
    deferred_ = true;
    frontier_ = QTextCursor(doc);
    frontier_.setKeepPositionOnInsert(true);
    timer_.start();
}

void CAsmHighlighter::Colour(QTextBlock block) {
    QList<QTextLayout::FormatRange> ranges;
    for (const ColourSpan& s : ScanLine(block.text()))
        ranges.append({s.start, s.length, FormatOf(s.kind)});
    block.layout()->setFormats(ranges);
}

void CAsmHighlighter::Step() {
    QTextDocument* doc = document();
    if (!deferred_ || !doc)
        return;
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
    if (!deferred_ || !doc || !first.isValid())
        return;
    const int from = first.position();
    int to = from;
    for (int i = 0; i < count && first.isValid(); ++i, first = first.next()) {
        if (first.position() >= frontier_.position() && first.layout()->formats().isEmpty()) {
            Colour(first);
            to = first.position() + first.length();
        }
    }
    if (to > from)
        doc->markContentsDirty(from, qMin(to, doc->characterCount()) - from);
}

void CAsmHighlighter::highlightBlock(const QString& text) {
    if (suppress_)
        return;
    for (const ColourSpan& s : ScanLine(text))
        setFormat(s.start, s.length, FormatOf(s.kind));
}

}  // namespace oxbrin
