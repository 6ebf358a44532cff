#pragma once

// Colouring of assembler sources: mnemonics, directives and preprocessor
// keywords in blue, comments in green, everything else black. Every line is
// coloured on its own, so an edit only ever recolours the lines it touched.

#include <QColor>
#include <QString>
#include <QStringView>
#include <QSyntaxHighlighter>
#include <QTextCursor>
#include <QTimer>

#include <functional>

#include <vector>

namespace oxbrin {

enum class TokenKind { Preprocessor, Directive, Mnemonic, Comment };

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
    QTextCursor frontier_;  // start of the first line the slices have not coloured
    QTimer timer_;
};

}  // namespace oxbrin
