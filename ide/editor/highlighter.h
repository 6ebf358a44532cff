#pragma once

// Colouring of assembler sources: mnemonics, directives, preprocessor
// keywords, comments and numbers each in a colour of the active scheme
// (by default keywords blue, comments green, numbers dark red, the rest
// black). Every line is coloured on its own, so an edit only ever recolours
// the lines it touched.

#include <QColor>
#include <QString>
#include <QStringView>
#include <QSyntaxHighlighter>
#include <QTextCursor>
#include <QTimer>

#include <array>
#include <functional>
#include <vector>

namespace oxbrin {

enum class TokenKind { Preprocessor, Directive, Mnemonic, Comment, Number };

// Everything the Colours page sets: a colour for each kind of token, then
// the plain text, the editor's background and the caret line's tint.
enum class ColourRole { Preprocessor, Directive, Mnemonic, Comment, Number, Text, Background, CurrentLine };
inline constexpr int kColourRoles = 8;

struct ColourScheme {
    std::array<QColor, kColourRoles> colours;

    QColor Of(ColourRole role) const { return colours[size_t(role)]; }
    void Set(ColourRole role, const QColor& c) { colours[size_t(role)] = c; }
    bool operator==(const ColourScheme& other) const { return colours == other.colours; }

    // Black text on white, as the editor has always been.
    static ColourScheme Light();
    // Light text on a dark background, for a dark desktop.
    static ColourScheme Dark();
    // The scheme that matches the desktop's palette (dark or light).
    static ColourScheme ForDesktop();
    // "mnemonic=#0000ff;comment=#008000;..." with every role; Decode starts
    // from `base` and takes each role it can read, so an old or damaged value
    // still gives a whole scheme.
    QString Encode() const;
    static ColourScheme Decode(const QString& text, const ColourScheme& base);
};

// The name a role is stored under, and the label the Colours page shows.
const char* ColourRoleKey(ColourRole role);
const char* ColourRoleLabel(ColourRole role);

// The scheme every editor colours with. Setting it changes what the
// highlighters write from then on; views apply it with their format.
const ColourScheme& ActiveScheme();
void SetActiveScheme(const ColourScheme& scheme);
// Counts the changes of the active scheme, so a view can tell whether its
// colours are stale.
int ActiveSchemeGeneration();

struct ColourSpan {
    int start;
    int length;
    TokenKind kind;
};

// The three keyword lists: one string each, a blank before and after every
// lower-case word.
const QString& MnemonicList();
const QString& DirectiveList();
const QString& PreprocessorList();

bool IsMnemonic(QStringView word);
bool IsDirective(QStringView word);
bool IsPreprocessorKeyword(QStringView word);

// The coloured spans of one line (without its line end), in order.
std::vector<ColourSpan> ScanLine(QStringView line);

QColor ColourOf(TokenKind kind);

class CAsmHighlighter : public QSyntaxHighlighter {
    Q_OBJECT
public:
    explicit CAsmHighlighter(QTextDocument* doc);

    // Runs `load`, which puts a large text into the document, and colours
    // that text a slice at a time from the event loop instead of all at
    // once, so a big file shows at once. Lines on screen are coloured on
    // demand (ColourBlocks) ahead of the slices; edited lines as usual.
    void LoadLarge(const std::function<void()>& load);
    bool IsComplete() const { return !deferred_; }
    // Colours `count` lines from `first` now, if the slices have not yet.
    void ColourBlocks(QTextBlock first, int count);

    // Texts with more lines than this are coloured in slices.
    static constexpr int kDeferredLines = 3000;

signals:
    void Completed();

protected:
    void highlightBlock(const QString& text) override;

private:
    void Step();
    // Sets a line's colours straight into its layout, as the highlighter
    // itself would.
    static void Colour(QTextBlock block);

    bool deferred_ = false;
    bool suppress_ = false;
    QTextCursor frontier_; // start of the first line the slices have not coloured
    QTimer timer_;
};

} // namespace oxbrin
