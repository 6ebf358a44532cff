#include "editor/highlighter.h"

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
    for (const Expect& e : spans)
        v.push_back({e.start, e.length, e.kind});
    return Describe(v);
}

}  // namespace

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
        QTest::newRow("mnemonic and comment") << "LDAA #1 ; load" << QList<Expect>{{0, 4, M}, {8, 6, C}};
        QTest::newRow("lower case") << "\tldaa #1" << QList<Expect>{{1, 4, M}};
        QTest::newRow("directive with dot") << "str dc.b 1" << QList<Expect>{{4, 4, D}};
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
    }

    void Lines() {
        QFETCH(QString, line);
        QFETCH(QList<Expect>, spans);
        QCOMPARE(Describe(ScanLine(line)), Describe(spans));
    }
};

QTEST_GUILESS_MAIN(TestHighlighter)
#include "tst_highlighter.moc"
