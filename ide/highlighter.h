#pragma once

// Colouring of assembler sources: mnemonics, directives and preprocessor
// keywords in blue, comments in green, everything else black. Every line is
// coloured on its own, so an edit only ever recolours the lines it touched.

#include <QColor>
#include <QString>
#include <QStringView>
#include <QSyntaxHighlighter>

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

protected:
    void highlightBlock(const QString& text) override;
};

}  // namespace oxbrin
