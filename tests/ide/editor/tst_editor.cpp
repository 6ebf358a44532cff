#include "editor/findreplace.h"
#include "editor/gotodialog.h"
#include "editor/highlighter.h"
#include "shell/commands.h"
#include "shell/printing.h"
#include "shell/settings.h"
#include "shell/zkbars.h"
#include "testsupport.h"

#include <QCheckBox>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPrinter>
#include <QRadioButton>
#include <QTextBlock>
#include <QUrl>

using namespace oxbrin;
using namespace oxbrin::test;

namespace {

// The colour the editor shows at `column` of `line` (both from 0).
QColor ColourAt(COxbrinView* view, int line, int column) {
    QTextBlock block = view->document()->findBlockByNumber(line);
    for (const QTextLayout::FormatRange& r : block.layout()->formats()) {
        if (column >= r.start && column < r.start + r.length &&
            r.format.hasProperty(QTextFormat::ForegroundBrush))
            return r.format.foreground().color();
    }
    return QColor(Qt::black);
}

const QColor kBlue(0, 0, 255);
const QColor kGreen(0, 128, 0);
const QColor kBlack(Qt::black);

} // namespace

class TestEditor : public QObject, AppFixture {
    Q_OBJECT

    COxbrinView* Open(const QByteArray& text, const QString& name = QStringLiteral("t.asm")) {
        const QString path = dir_->filePath(name);
        if (!WriteAll(path, text)) return nullptr;
        if (!app_->OpenDocumentFile(path)) return nullptr;
        Settle();
        return Frame()->ActiveView();
    }

private slots:
    void init() {
        Prepare();
        QVERIFY(Start());
        QVERIFY(QTest::qWaitForWindowExposed(Frame()));
        Frame()->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(Frame()));
    }

    void cleanup() { Finish(); }

    void Colouring() {
        COxbrinView* v = Open("\tLDAA #1 ; load\n"
                              "* star comment\n"
                              " ldaa * 2\n"
                              "#include \"a.inc\"\n"
                              "# include x\n"
                              "s dc.b \"a;b\" ; tail\n"
                              "label_1 nop\n");
        QVERIFY(v);
        QVERIFY(v->HighlightingOn());
        QCOMPARE(ColourAt(v, 0, 1), kBlue);
        QCOMPARE(ColourAt(v, 0, 4), kBlue);
        QCOMPARE(ColourAt(v, 0, 6), kBlack);
        QCOMPARE(ColourAt(v, 0, 9), kGreen);
        QCOMPARE(ColourAt(v, 0, 14), kGreen);
        QCOMPARE(ColourAt(v, 1, 0), kGreen);
        QCOMPARE(ColourAt(v, 1, 13), kGreen);
        QCOMPARE(ColourAt(v, 2, 6), kBlack);
        QCOMPARE(ColourAt(v, 3, 0), kBlue);
        QCOMPARE(ColourAt(v, 3, 7), kBlue);
        QCOMPARE(ColourAt(v, 3, 9), kBlack);
        QCOMPARE(ColourAt(v, 4, 0), kBlue);
        QCOMPARE(ColourAt(v, 4, 8), kBlue);
        QCOMPARE(ColourAt(v, 5, 2), kBlue);
        QCOMPARE(ColourAt(v, 5, 9), kBlack);
        QCOMPARE(ColourAt(v, 5, 13), kGreen);
        QCOMPARE(ColourAt(v, 6, 0), kBlack);
        QCOMPARE(ColourAt(v, 6, 8), kBlue);

        // Switching the colouring off and applying the format again removes it.
        app_->Settings().syntaxHighlighting = 0;
        app_->ApplyEditorFormatToAll();
        Settle();
        QVERIFY(!v->HighlightingOn());
        QCOMPARE(ColourAt(v, 0, 1), kBlack);
    }

    // A large text shows at once and is coloured a slice at a time: the
    // lines on screen first, an edited line at once, all of it in the end.
    void DeferredColouring() {
        QByteArray text;
        const int lines = CAsmHighlighter::kDeferredLines * 3;
        for (int i = 0; i < lines; ++i) text += "\tldaa #1 ; note\n";
        COxbrinView* v = Open(text);
        QVERIFY(v);
        CAsmHighlighter* h = v->Highlighter();
        QVERIFY(h);
        QCOMPARE(ColourAt(v, 0, 1), kBlue);
        if (!h->IsComplete()) {
            // An edit far below the coloured part is coloured with its line
            // when the slices get there; one above it at once.
            QTextCursor c(v->document()->findBlockByNumber(1));
            c.insertText(QStringLiteral("\tstaa x\n"));
            QCOMPARE(ColourAt(v, 1, 2), kBlue);
        }
        v->GoToLine(lines - 5, 1);
        QTRY_VERIFY(h->IsComplete());
        QCOMPARE(ColourAt(v, lines - 1, 1), kBlue);
        QCOMPARE(ColourAt(v, lines - 1, 10), kGreen);
        QCOMPARE(ColourAt(v, lines / 2, 10), kGreen);
    }

    // One Undo after typing a word takes the word and its colour away.
    void UndoTypedWord() {
        COxbrinView* v = Open("\n");
        QVERIFY(v);
        QTest::keyClicks(v, QStringLiteral("\tldaa"));
        Settle();
        QCOMPARE(v->document()->firstBlock().text(), QStringLiteral("\tldaa"));
        QCOMPARE(ColourAt(v, 0, 2), kBlue);
        QVERIFY(v->GetDocument()->IsModified());
        Frame()->UpdateCommandUI();
        QVERIFY(Frame()->IsEnabled(ID_EDIT_UNDO));
        // Through the accelerator, as a user would.
        QTest::keyClick(v, Qt::Key_Z, Qt::ControlModifier);
        Settle();
        QCOMPARE(v->document()->firstBlock().text(), QString());
        QVERIFY(v->document()->firstBlock().layout()->formats().isEmpty());
        QVERIFY(!v->GetDocument()->IsModified());
        Frame()->UpdateCommandUI();
        QVERIFY(Frame()->IsEnabled(ID_EDIT_REDO));
        QTest::keyClick(v, Qt::Key_Y, Qt::ControlModifier);
        Settle();
        QCOMPARE(v->document()->firstBlock().text(), QStringLiteral("\tldaa"));
        QCOMPARE(ColourAt(v, 0, 2), kBlue);
    }

    void GoTo() {
        COxbrinView* v = Open("line1\nline2\n\tthird\nfour\n");
        QVERIFY(v);
        v->GoToLine(3, 3);
        QCOMPARE(v->CaretLine(), 3);
        QCOMPARE(v->CaretColumn(), 3);
        QCOMPARE(Frame()->PositionPane()->text(), QStringLiteral("Ln 3, Col 3"));
        // The line reached is tinted across the whole width, the text untouched.
        QCOMPARE(v->extraSelections().size(), 1);
        QCOMPARE(v->extraSelections()[0].cursor.blockNumber(), 2);
        QVERIFY(v->extraSelections()[0].format.property(QTextFormat::FullWidthSelection).toBool());
        QVERIFY(!v->document()->isModified());
        v->GoToLine(0, 1); // nothing
        v->GoToLine(1, 0); // nothing
        QCOMPARE(v->CaretLine(), 3);
        QCOMPARE(v->CaretColumn(), 3);
        v->GoToLine(2, 99); // beyond the line: its start
        QCOMPARE(v->CaretLine(), 2);
        QCOMPARE(v->CaretColumn(), 1);
        v->GoToLine(2, 6); // just after the last character
        QCOMPARE(v->CaretColumn(), 6);
        v->GoToLine(999, 1); // beyond the text: the last line
        QCOMPARE(v->CaretLine(), 5);
        QCOMPARE(v->extraSelections()[0].cursor.blockNumber(), 4);

        // The dialog starts at the caret's line and moves to the line typed.
        v->GoToLine(2, 1);
        v->setFocus();
        QTest::keyClick(v, Qt::Key_G, Qt::ControlModifier);
        auto* dlg = Frame()->findChild<CGoToDialog*>();
        QVERIFY(dlg);
        QCOMPARE(dlg->Edit()->text(), QStringLiteral("2"));
        dlg->Edit()->setText(QStringLiteral("4"));
        dlg->accept();
        Settle();
        QCOMPARE(v->CaretLine(), 4);
        QCOMPARE(v->CaretColumn(), 1);
    }

    void FindAndReplace() {
        COxbrinView* v = Open("ldaa x\nLDAA y\nldaab z\n");
        QVERIFY(v);
        Frame()->Execute(ID_EDIT_FIND);
        CFindReplaceDialog* find = Frame()->FindDialog();
        QVERIFY(find);
        find->FindEdit()->setText(QStringLiteral("ldaa"));
        find->MatchCase()->setChecked(true);
        find->WholeWord()->setChecked(true);
        emit find->FindNext();
        QCOMPARE(v->textCursor().selectionStart(), 0);
        // The only whole-word, same-case match: a second search wraps to it.
        emit find->FindNext();
        QCOMPARE(v->textCursor().selectionStart(), 0);
        QCOMPARE(prompts_->messages.size(), 0);
        find->MatchCase()->setChecked(false);
        emit find->FindNext();
        QCOMPARE(v->textCursor().selectionStart(), 7);
        find->UpButton()->setChecked(true);
        emit find->FindNext();
        QCOMPARE(v->textCursor().selectionStart(), 0);
        // Nothing to find: message 164 with an information icon.
        find->FindEdit()->setText(QStringLiteral("staa"));
        emit find->FindNext();
        QCOMPARE(prompts_->messages.size(), 1);
        QCOMPARE(prompts_->messages[0].text, QStringLiteral("Oxbrin has finished searching the document."));
        QCOMPARE(prompts_->messages[0].icon, QMessageBox::Information);
        // F3 repeats the last search.
        find->FindEdit()->setText(QStringLiteral("ldaab"));
        emit find->FindNext();
        v->GoToLine(1, 1);
        Frame()->UpdateCommandUI();
        QVERIFY(Frame()->IsEnabled(ID_EDIT_REPEAT));
        QVERIFY(Frame()->Execute(ID_EDIT_REPEAT));
        QCOMPARE(v->textCursor().selectedText(), QStringLiteral("ldaab"));

        Frame()->Execute(ID_EDIT_REPLACE);
        CFindReplaceDialog* rep = Frame()->ReplaceDialog();
        QVERIFY(rep);
        rep->FindEdit()->setText(QStringLiteral("ldaa"));
        rep->ReplaceEdit()->setText(QStringLiteral("staa"));
        rep->WholeWord()->setChecked(true);
        rep->MatchCase()->setChecked(false);
        emit rep->ReplaceAll();
        QCOMPARE(v->toPlainText(), QStringLiteral("staa x\nstaa y\nldaab z\n"));
        // One undo takes back the whole Replace All.
        Frame()->UpdateCommandUI();
        QVERIFY(Frame()->Execute(ID_EDIT_UNDO));
        QCOMPARE(v->toPlainText(), QStringLiteral("ldaa x\nLDAA y\nldaab z\n"));
        // Replace: the selected match is replaced and the next one selected.
        v->GoToLine(1, 1);
        emit rep->Replace(); // selects the first match
        QCOMPARE(v->textCursor().selectionStart(), 0);
        emit rep->Replace();
        QCOMPARE(v->toPlainText(), QStringLiteral("staa x\nLDAA y\nldaab z\n"));
        QCOMPARE(v->textCursor().selectionStart(), 7);
        // Replacing a text by one that contains it ends.
        rep->FindEdit()->setText(QStringLiteral("x"));
        rep->ReplaceEdit()->setText(QStringLiteral("xx"));
        emit rep->ReplaceAll();
        QCOMPARE(v->toPlainText(), QStringLiteral("staa xx\nLDAA y\nldaab z\n"));
    }

    // Paste and drop take plain text only; Paste is offered only while the
    // clipboard holds some.
    void PlainTextPaste() {
        COxbrinView* v = Open("\n");
        QVERIFY(v);
        v->setFocus();
        auto* rich = new QMimeData;
        rich->setHtml(QStringLiteral("<b>bold</b>"));
        QGuiApplication::clipboard()->setMimeData(rich);
        Frame()->UpdateCommandUI();
        QVERIFY(!Frame()->IsEnabled(ID_EDIT_PASTE));
        auto* both = new QMimeData;
        both->setHtml(QStringLiteral("<b>bold</b>"));
        both->setText(QStringLiteral("nop"));
        QGuiApplication::clipboard()->setMimeData(both);
        Frame()->UpdateCommandUI();
        QVERIFY(Frame()->IsEnabled(ID_EDIT_PASTE));
        QVERIFY(Frame()->Execute(ID_EDIT_PASTE));
        QCOMPARE(v->document()->firstBlock().text(), QStringLiteral("nop"));
        // Line ends of other systems are one line break each.
        QGuiApplication::clipboard()->setText(QStringLiteral("x\r\ny\rz\n"));
        QVERIFY(Frame()->Execute(ID_EDIT_PASTE));
        QCOMPARE(v->document()->blockCount(), 5);
        QVERIFY(Frame()->Execute(ID_EDIT_UNDO));
        QCOMPARE(v->document()->blockCount(), 2);
        QVERIFY(v->document()->firstBlock().begin().fragment().charFormat().fontWeight() <= QFont::Normal);
        // What the editor copies is plain text too, lines ending in line
        // feeds, no-break spaces kept.
        QTextCursor(v->document()).insertText(QStringLiteral("a\u00a0b\n"));
        v->selectAll();
        QVERIFY(Frame()->Execute(ID_EDIT_COPY));
        const QMimeData* copied = QGuiApplication::clipboard()->mimeData();
        QVERIFY(copied->hasText());
        QVERIFY(!copied->hasHtml());
        QCOMPARE(copied->text(), QStringLiteral("a\u00a0b\nnop\n"));

        // Files dropped on the editor are opened, not pasted as text.
        const QString other = dir_->filePath(QStringLiteral("dropped.asm"));
        QVERIFY(WriteAll(other, "\tnop\n"));
        QMimeData files;
        files.setUrls({QUrl::fromLocalFile(other)});
        files.setText(other);
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &files, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(v->viewport(), &enter);
        QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &files, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(v->viewport(), &drop);
        Settle();
        QCOMPARE(app_->Documents().size(), 2);
        QCOMPARE(v->document()->blockCount(), 3);
        QCOMPARE(v->document()->firstBlock().text(), QStringLiteral("a\u00a0b"));
    }

    void EscapeHidesOutput() {
        COxbrinView* v = Open("nop\n");
        QVERIFY(v);
        Frame()->Execute(ID_VIEW_OUTPUT);
        QVERIFY(!Frame()->OutputPane()->isHidden());
        v->setFocus();
        QTest::keyClick(v, Qt::Key_Escape);
        QVERIFY(Frame()->OutputPane()->isHidden());
        QCOMPARE(v->toPlainText(), QStringLiteral("nop\n"));
    }

    void EditorFormat() {
        COxbrinView* v = Open("\tnop\n");
        QVERIFY(v);
        QCOMPARE(v->font().family(),
                 QFontInfo(v->font()).family().isEmpty() ? QString() : v->font().family());
        QCOMPARE(v->font().pointSize(), 10);
        const qreal space = QFontMetricsF(v->font()).horizontalAdvance(QLatin1Char(' '));
        QCOMPARE(v->tabStopDistance(), space * 8);
        app_->Settings().editorFontSize = 14;
        app_->Settings().editorTabStops = 4;
        app_->Settings().editorFont = QStringLiteral("DejaVu Sans Mono");
        app_->ApplyEditorFormatToAll();
        QCOMPARE(v->font().pointSize(), 14);
        QCOMPARE(v->font().family(), QStringLiteral("DejaVu Sans Mono"));
        QCOMPARE(v->tabStopDistance(), QFontMetricsF(v->font()).horizontalAdvance(QLatin1Char(' ')) * 4);
        QVERIFY(v->viewport()->x() >= v->GutterWidth()); // the line-number gutter
    }

    void PrintToPdf() {
        QByteArray text;
        for (int i = 0; i < 150; ++i) text += "\tldaa #" + QByteArray::number(i) + " ; line\n";
        COxbrinView* v = Open(text);
        QVERIFY(v);
        QPrinter printer(QPrinter::HighResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        const QString pdf = dir_->filePath(QStringLiteral("out.pdf"));
        printer.setOutputFileName(pdf);
        PrintView(v, &printer);
        const QMarginsF m = printer.pageLayout().margins(QPageLayout::Millimeter);
        QCOMPARE(qRound(m.left() * 10), 127);
        QCOMPARE(qRound(m.top() * 10), 127);
        const QByteArray bytes = ReadAll(pdf);
        QVERIFY(bytes.startsWith("%PDF"));
        // 150 lines at 10 points need more than one page.
        const qsizetype pages =
            bytes.count("/Type /Page\n") + bytes.count("/Type /Page ") + bytes.count("/Type /Page/");
        QVERIFY2(pages >= 2, QByteArray::number(pages).constData());
    }
};

QTEST_MAIN(TestEditor)
#include "tst_editor.moc"
