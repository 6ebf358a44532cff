#include "editor/highlighter.h"

#include <QSet>
#include <QTest>

using namespace oxbrin;

namespace {

struct Expect {
    int start;
    int length;
    TokenKind kind;
};

QString Describe(const std::vector<ColourSpan>& spans) {
    QStringList parts;
    for (const ColourSpan& s : spans)
        parts << QStringLiteral("[%1,%2,%3]").arg(s.start).arg(s.length).arg(static_cast<int>(s.kind));
    return parts.join(QLatin1Char(' '));
}

QString Describe(const QList<Expect>& spans) {
    std::vector<ColourSpan> v;
    for (const Expect& e : spans) v.push_back({e.start, e.length, e.kind});
    return Describe(v);
}

} // namespace

Q_DECLARE_METATYPE(Expect)

class TestHighlighter : public QObject {
    Q_OBJECT
private slots:
    void KeywordLists() {
        // The lists are one string each, a blank before and after every word.
        for (const QString* list : {&MnemonicList(), &DirectiveList(), &PreprocessorList()}) {
            QVERIFY(list->startsWith(QLatin1Char(' ')));
            QVERIFY(list->endsWith(QLatin1Char(' ')));
            QVERIFY(!list->contains(QStringLiteral("  ")));
            QCOMPARE(list->toLower(), *list);
        }
        QCOMPARE(MnemonicList().split(QLatin1Char(' '), Qt::SkipEmptyParts).size(), 221);
        QCOMPARE(DirectiveList().split(QLatin1Char(' '), Qt::SkipEmptyParts).size(), 64);
        QCOMPARE(PreprocessorList().split(QLatin1Char(' '), Qt::SkipEmptyParts).size(), 22);
        // Every word of every list is found, in any case.
        for (const QString& w : MnemonicList().split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            QVERIFY2(IsMnemonic(w), qPrintable(w));
            QVERIFY2(IsMnemonic(w.toUpper()), qPrintable(w));
        }
        for (const QString& w : DirectiveList().split(QLatin1Char(' '), Qt::SkipEmptyParts))
            QVERIFY2(IsDirective(w), qPrintable(w));
        for (const QString& w : PreprocessorList().split(QLatin1Char(' '), Qt::SkipEmptyParts))
            QVERIFY2(IsPreprocessorKeyword(w), qPrintable(w));
        QVERIFY(!IsMnemonic(u"ldaax"));
        QVERIFY(!IsMnemonic(u"lda."));
        QVERIFY(!IsDirective(u"label_1"));
        QVERIFY(!IsMnemonic(u""));
        QVERIFY(!IsMnemonic(u"l\u00e4aa"));
    }

    void Lines_data() {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QList<Expect>>("spans");
        const auto M = TokenKind::Mnemonic;
        const auto D = TokenKind::Directive;
        const auto P = TokenKind::Preprocessor;
        const auto C = TokenKind::Comment;
        const auto N = TokenKind::Number;
        QTest::newRow("mnemonic and comment")
            << "LDAA #1 ; load" << QList<Expect>{{0, 4, M}, {6, 1, N}, {8, 6, C}};
        QTest::newRow("lower case") << "\tldaa #1" << QList<Expect>{{1, 4, M}, {7, 1, N}};
        QTest::newRow("directive with dot") << "str dc.b 1" << QList<Expect>{{4, 4, D}, {9, 1, N}};
        QTest::newRow("label not coloured") << "label_1 nop" << QList<Expect>{{8, 3, M}};
        QTest::newRow("star line") << "* all comment ldaa" << QList<Expect>{{0, 18, C}};
        QTest::newRow("star later") << " ldaa *" << QList<Expect>{{1, 4, M}};
        QTest::newRow("semicolon in string") << "\tfcc \"a;b\" ; c" << QList<Expect>{{1, 3, D}, {11, 3, C}};
        QTest::newRow("single quotes") << "\tfcc 'ldaa;' nop" << QList<Expect>{{1, 3, D}, {13, 3, M}};
        QTest::newRow("open string") << "\tfcc \"ldaa ; x" << QList<Expect>{{1, 3, D}};
        QTest::newRow("#include") << "#include \"a.inc\"" << QList<Expect>{{0, 8, P}};
        QTest::newRow("# include") << "# include x" << QList<Expect>{{0, 9, P}};
        QTest::newRow("indented $if") << "  $if x" << QList<Expect>{{2, 3, P}};
        QTest::newRow("# not at start") << "nop #include" << QList<Expect>{{0, 3, M}};
        QTest::newRow("# unknown word") << "#foo" << QList<Expect>{};
        QTest::newRow("word chars") << "ldaa.b $ldaa x$y" << QList<Expect>{{8, 4, M}};
        QTest::newRow("label colon") << "loop: bra loop" << QList<Expect>{{6, 3, M}};
        QTest::newRow("empty") << "" << QList<Expect>{};
        // Numbers in every base the assembler reads; names that only start
        // like one stay plain.
        QTest::newRow("hex") << "\tldx #$1F00" << QList<Expect>{{1, 3, M}, {6, 5, N}};
        QTest::newRow("binary and octal")
            << " fcb %1010,@17" << QList<Expect>{{1, 3, D}, {5, 5, N}, {11, 3, N}};
        QTest::newRow("suffix and prefix")
            << " dw 0x1f,10h" << QList<Expect>{{1, 2, D}, {4, 4, N}, {9, 3, N}};
        QTest::newRow("indexed") << " ldaa 2,x" << QList<Expect>{{1, 4, M}, {6, 1, N}};
        QTest::newRow("not numbers") << " jmp $zz %12 @8" << QList<Expect>{{1, 3, M}};
        QTest::newRow("hex then name") << " jmp $12ab_x" << QList<Expect>{{1, 3, M}};
        QTest::newRow("number in comment") << " nop ; 12" << QList<Expect>{{1, 3, M}, {5, 4, C}};
        QTest::newRow("number in string") << " fcc \"12\"" << QList<Expect>{{1, 3, D}};
        QTest::newRow("digit in a label") << "loop2 nop" << QList<Expect>{{6, 3, M}};
        QTest::newRow("local label") << "1$ dbne y,1$" << QList<Expect>{{3, 4, M}};
        QTest::newRow("macro parameter") << " ldaa #\\1" << QList<Expect>{{1, 4, M}};
    }

    // The stored colours come back as they were; a damaged value spoils only
    // the roles it cannot give.
    void SchemeRoundTrip() {
        const ColourScheme dark = ColourScheme::Dark();
        QCOMPARE(ColourScheme::Decode(dark.Encode(), ColourScheme::Light()), dark);
        const ColourScheme light = ColourScheme::Light();
        const ColourScheme mixed = ColourScheme::Decode(
            QStringLiteral("mnemonic=#123456;bogus;text=notacolour;=#ffffff;number = #00ff00"), light);
        QCOMPARE(mixed.Of(ColourRole::Mnemonic), QColor(0x12, 0x34, 0x56));
        QCOMPARE(mixed.Of(ColourRole::Number), QColor(0, 255, 0));
        QCOMPARE(mixed.Of(ColourRole::Text), light.Of(ColourRole::Text));
        QCOMPARE(mixed.Of(ColourRole::Background), light.Of(ColourRole::Background));
        QCOMPARE(ColourScheme::Decode(QString(), dark), dark);
        // Every role has a key of its own, so none hides another.
        QSet<QString> keys;
        for (int r = 0; r < kColourRoles; ++r) keys.insert(QString::fromLatin1(ColourRoleKey(ColourRole(r))));
        QCOMPARE(keys.size(), kColourRoles);
        // The dark scheme is dark and keeps its text readable.
        QVERIFY(dark.Of(ColourRole::Background).lightness() < 64);
        QVERIFY(dark.Of(ColourRole::Text).lightness() > 160);
    }

    void Lines() {
        QFETCH(QString, line);
        QFETCH(QList<Expect>, spans);
        QCOMPARE(Describe(ScanLine(line)), Describe(spans));
    }
};

QTEST_GUILESS_MAIN(TestHighlighter)
#include "tst_highlighter.moc"
