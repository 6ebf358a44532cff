// The editor's keys as a user types them: block indent and outdent, Enter's
// indentation, comment toggling, bracket and quote pairs, keys that must type
// nothing, the search's notes in the status bar, and the colours.

#include "editor/findreplace.h"
#include "editor/highlighter.h"
#include "options/pagecolours.h"
#include "shell/commands.h"
#include "shell/settings.h"
#include "testsupport.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTabWidget>
#include <QTextBlock>

using namespace oxbrin;
using namespace oxbrin::test;

namespace {

QColor ColourAt(COxbrinView* view, int line, int column) {
    QTextBlock block = view->document()->findBlockByNumber(line);
    for (const QTextLayout::FormatRange& r : block.layout()->formats()) {
        if (column >= r.start && column < r.start + r.length &&
            r.format.hasProperty(QTextFormat::ForegroundBrush))
            return r.format.foreground().color();
    }
    return view->palette().color(QPalette::Text);
}

// Selects from the start of `first` to `column` of `last` (lines from 0).
void SelectLines(COxbrinView* v, int first, int last, int column) {
    QTextCursor c(v->document());
    c.setPosition(v->document()->findBlockByNumber(first).position());
    c.setPosition(v->document()->findBlockByNumber(last).position() + column, QTextCursor::KeepAnchor);
    v->setTextCursor(c);
}

// The positions the editor marks as a pair, beside the caret line's tint.
QList<int> PairMarks(COxbrinView* v) {
    QList<int> marks;
    for (const QTextEdit::ExtraSelection& s : v->extraSelections()) {
        if (!s.format.property(QTextFormat::FullWidthSelection).toBool()) marks << s.cursor.selectionStart();
    }
    return marks;
}

} // namespace

class TestEditing : public QObject, AppFixture {
    Q_OBJECT

    COxbrinView* Open(const QByteArray& text) {
        const QString path = dir_->filePath(QStringLiteral("e.asm"));
        if (!WriteAll(path, text) || !app_->OpenDocumentFile(path)) return nullptr;
        Settle();
        COxbrinView* v = Frame()->ActiveView();
        if (v) v->setFocus();
        return v;
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

    // Tab on lines indents them all (it used to replace them with one tab);
    // Shift+Tab takes one tab or a tab's width of blanks off; one undo each.
    void IndentBlock() {
        COxbrinView* v = Open("a\n\tb\n\n    c\nd\n");
        QVERIFY(v);
        SelectLines(v, 0, 3, 2);
        QTest::keyClick(v, Qt::Key_Tab);
        QCOMPARE(v->toPlainText(), QStringLiteral("\ta\n\t\tb\n\n\t    c\nd\n"));
        // The lines stay selected, whole.
        QCOMPARE(v->textCursor().selectionStart(), 0);
        QCOMPARE(v->textCursor().selectionEnd(), v->document()->findBlockByNumber(3).position() + 6);
        QTest::keyClick(v, Qt::Key_Backtab, Qt::ShiftModifier);
        QTest::keyClick(v, Qt::Key_Backtab, Qt::ShiftModifier);
        QCOMPARE(v->toPlainText(), QStringLiteral("a\nb\n\nc\nd\n"));
        // A selection that ends at the start of a line leaves that line be.
        SelectLines(v, 1, 3, 0);
        QTest::keyClick(v, Qt::Key_Tab);
        QCOMPARE(v->toPlainText(), QStringLiteral("a\n\tb\n\nc\nd\n"));
        QTest::keyClick(v, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(v->toPlainText(), QStringLiteral("a\nb\n\nc\nd\n"));
        // Shift+Tab without a selection outdents the caret's line; a line
        // with nothing to take off stays.
        v->GoToLine(2, 2);
        QTest::keyClick(v, Qt::Key_Backtab, Qt::ShiftModifier);
        QCOMPARE(v->toPlainText(), QStringLiteral("a\nb\n\nc\nd\n"));
        // Tab within one line still types a tab.
        v->GoToLine(5, 1);
        QTest::keyClick(v, Qt::Key_Tab);
        QCOMPARE(v->document()->findBlockByNumber(4).text(), QStringLiteral("\td"));
    }

    // Enter keeps the indentation; after a label alone on its line the caret
    // goes to the instruction column.
    void EnterIndents() {
        COxbrinView* v = Open("\tldaa #1\nloop:\nstart ; here\n* note\n");
        QVERIFY(v);
        v->GoToLine(1, 9);
        QTest::keyClick(v, Qt::Key_Return);
        QTest::keyClicks(v, QStringLiteral("staa 2"));
        QCOMPARE(v->document()->findBlockByNumber(1).text(), QStringLiteral("\tstaa 2"));
        v->GoToLine(3, 6);
        QTest::keyClick(v, Qt::Key_Return);
        QCOMPARE(v->document()->findBlockByNumber(3).text(), QStringLiteral("\t"));
        QCOMPARE(v->CaretColumn(), 2);
        // A label with a comment counts as alone; a comment line does not.
        v->GoToLine(5, 13);
        QTest::keyClick(v, Qt::Key_Enter);
        QCOMPARE(v->document()->findBlockByNumber(5).text(), QStringLiteral("\t"));
        v->GoToLine(7, 7);
        QTest::keyClick(v, Qt::Key_Return);
        QCOMPARE(v->document()->findBlockByNumber(7).text(), QString());
        // Enter in the middle of an indented line splits it, the rest indented.
        v->GoToLine(1, 6);
        QTest::keyClick(v, Qt::Key_Return);
        QCOMPARE(v->document()->findBlockByNumber(0).text(), QStringLiteral("\tldaa"));
        QCOMPARE(v->document()->findBlockByNumber(1).text(), QStringLiteral("\t #1"));
        // One undo takes the line break and its indentation.
        QTest::keyClick(v, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(v->document()->findBlockByNumber(0).text(), QStringLiteral("\tldaa #1"));
    }

    // Ctrl+/ comments the lines out, and in again when all of them are.
    void ToggleComment() {
        COxbrinView* v = Open("\tldaa #1\n\n\tstaa 2\nx\n");
        QVERIFY(v);
        SelectLines(v, 0, 2, 3);
        QTest::keyClick(v, Qt::Key_Slash, Qt::ControlModifier);
        QCOMPARE(v->toPlainText(), QStringLiteral(";\tldaa #1\n\n;\tstaa 2\nx\n"));
        QTest::keyClick(v, Qt::Key_Slash, Qt::ControlModifier);
        QCOMPARE(v->toPlainText(), QStringLiteral("\tldaa #1\n\n\tstaa 2\nx\n"));
        // A mixed selection is commented out as a whole.
        QTextCursor(v->document()->findBlockByNumber(3)).insertText(QStringLiteral(";"));
        SelectLines(v, 2, 3, 1);
        Frame()->UpdateCommandUI();
        QVERIFY(Frame()->Execute(ID_EDIT_TOGGLE_COMMENT));
        QCOMPARE(v->toPlainText(), QStringLiteral("\tldaa #1\n\n;\tstaa 2\n;;x\n"));
        // Without a selection: the caret's line; an indented comment comes in.
        QTextCursor(v->document()->findBlockByNumber(1)).insertText(QStringLiteral("  ; y"));
        v->GoToLine(2, 1);
        QTest::keyClick(v, Qt::Key_Slash, Qt::ControlModifier);
        QCOMPARE(v->document()->findBlockByNumber(1).text(), QStringLiteral("   y"));
    }

    void MatchingPairs() {
        COxbrinView* v = Open(" ldaa (2*(x+1)),y ; (\n fcc \"a(b\" ; x\n ldaa [4,x]\n nop (\n");
        QVERIFY(v);
        const int l1 = v->document()->findBlockByNumber(1).position();
        const int l2 = v->document()->findBlockByNumber(2).position();
        v->GoToLine(1, 7); // before the outer "("
        QCOMPARE(PairMarks(v), (QList<int>{6, 14}));
        v->GoToLine(1, 15); // after the outer ")"
        QCOMPARE(PairMarks(v), (QList<int>{6, 14}));
        v->GoToLine(1, 10); // before the inner "("
        QCOMPARE(PairMarks(v), (QList<int>{9, 13}));
        v->GoToLine(1, 4); // nothing beside the caret
        QVERIFY(PairMarks(v).isEmpty());
        v->GoToLine(1, 22); // a bracket in a comment pairs with nothing
        QVERIFY(PairMarks(v).isEmpty());
        v->GoToLine(2, 6); // quotes pair; a bracket in a string does not count
        QCOMPARE(PairMarks(v), (QList<int>{l1 + 5, l1 + 9}));
        v->GoToLine(2, 8);
        QVERIFY(PairMarks(v).isEmpty());
        v->GoToLine(3, 11);
        QCOMPARE(PairMarks(v), (QList<int>{l2 + 6, l2 + 10}));
        v->GoToLine(4, 6); // unmatched
        QVERIFY(PairMarks(v).isEmpty());
        QVERIFY(!v->document()->isModified());
    }

    // Alt and Ctrl combinations that no command owns type nothing (Alt+5
    // used to type "5"); characters typed with AltGr still arrive.
    void UnboundKeysTypeNothing() {
        COxbrinView* v = Open("\n");
        QVERIFY(v);
        QTest::keyClick(v, Qt::Key_5, Qt::AltModifier);
        QTest::keyClick(v, Qt::Key_Q, Qt::ControlModifier);
        QTest::keyClick(v, Qt::Key_K, Qt::AltModifier | Qt::ShiftModifier);
        QTest::keyClick(v, Qt::Key_9, Qt::ControlModifier | Qt::KeypadModifier);
        QCOMPARE(v->toPlainText(), QStringLiteral("\n"));
        QVERIFY(!v->document()->isModified());
        // AltGr: on X11 without Alt in the modifiers; on Windows as Ctrl+Alt.
        QKeyEvent altGr(QEvent::KeyPress, Qt::Key_At, Qt::GroupSwitchModifier, QStringLiteral("@"));
        QApplication::sendEvent(v, &altGr);
#ifndef Q_OS_MACOS
        QKeyEvent ctrlAlt(QEvent::KeyPress, Qt::Key_BraceLeft, Qt::ControlModifier | Qt::AltModifier,
                          QStringLiteral("{"));
        QApplication::sendEvent(v, &ctrlAlt);
        QCOMPARE(v->document()->firstBlock().text(), QStringLiteral("@{"));
#endif
        // The editor's own Ctrl keys still work without typing.
        QTest::keyClick(v, Qt::Key_Home, Qt::ControlModifier);
        QCOMPARE(v->CaretColumn(), 1);
        QTest::keyClicks(v, QStringLiteral("x"));
        QVERIFY(v->document()->firstBlock().text().startsWith(QLatin1Char('x')));
    }

    // The search tells in the status bar that it went round the end, and
    // Replace All how many it replaced.
    void SearchNotes() {
        COxbrinView* v = Open("ldaa\nnop\nldaa\n");
        QVERIFY(v);
        QVERIFY(Frame()->Execute(ID_EDIT_FIND));
        CFindReplaceDialog* find = Frame()->FindDialog();
        QVERIFY(find);
        find->FindEdit()->setText(QStringLiteral("ldaa"));
        v->GoToLine(2, 1);
        emit find->FindNext();
        QCOMPARE(v->CaretLine(), 3);
        QVERIFY(!Frame()->statusBar()->currentMessage().startsWith(QLatin1String("Passed")));
        emit find->FindNext();
        QCOMPARE(v->CaretLine(), 1);
        QCOMPARE(Frame()->statusBar()->currentMessage(),
                 QStringLiteral("Passed the end of the document, continuing from the top"));
        QVERIFY(prompts_->messages.isEmpty());

        QVERIFY(Frame()->Execute(ID_EDIT_REPLACE));
        CFindReplaceDialog* rep = Frame()->ReplaceDialog();
        QVERIFY(rep);
        rep->FindEdit()->setText(QStringLiteral("ldaa"));
        rep->ReplaceEdit()->setText(QStringLiteral("staa"));
        emit rep->ReplaceAll();
        QCOMPARE(v->toPlainText(), QStringLiteral("staa\nnop\nstaa\n"));
        QCOMPARE(Frame()->statusBar()->currentMessage(), QStringLiteral("Replaced 2 occurrences."));
        rep->FindEdit()->setText(QStringLiteral("nop"));
        emit rep->ReplaceAll();
        QCOMPARE(Frame()->statusBar()->currentMessage(), QStringLiteral("Replaced 1 occurrence."));
        // Nothing to replace: the message box as before, no count.
        emit rep->ReplaceAll();
        QCOMPARE(prompts_->messages.size(), 1);
    }

    // Numbers have a colour of their own; the colours of the settings reach
    // the open editors; a dark desktop gets the dark scheme.
    void Colours() {
        COxbrinView* v = Open("\tldaa #$10 ; c\n");
        QVERIFY(v);
        const ColourScheme light = ColourScheme::Light();
        QCOMPARE(ColourAt(v, 0, 8), light.Of(ColourRole::Number));
        QCOMPARE(ColourAt(v, 0, 1), light.Of(ColourRole::Mnemonic));
        QCOMPARE(v->palette().color(QPalette::Base), light.Of(ColourRole::Background));

        ColourScheme mine = light;
        mine.Set(ColourRole::Number, QColor(0x11, 0x22, 0x33));
        mine.Set(ColourRole::Background, QColor(0xFF, 0xFF, 0xE0));
        mine.Set(ColourRole::CurrentLine, QColor(0xF0, 0xE0, 0xD0));
        app_->Settings().editorColours = mine.Encode();
        app_->ApplyEditorFormatToAll();
        Settle();
        QCOMPARE(ColourAt(v, 0, 8), QColor(0x11, 0x22, 0x33));
        QCOMPARE(v->palette().color(QPalette::Base), QColor(0xFF, 0xFF, 0xE0));
        QCOMPARE(v->extraSelections().front().format.background().color(), QColor(0xF0, 0xE0, 0xD0));

        // Through the Colours page, as a user sets them.
        {
            CDlgOptions dlg(Frame(), CDlgOptions::kPageColours);
            auto* page = qobject_cast<CPageColours*>(dlg.ColoursPage());
            QVERIFY(page);
            QCOMPARE(dlg.Tabs()->currentWidget(), page);
            QVERIFY(!page->FollowDesktop()->isChecked());
            QCOMPARE(page->ColourButton(ColourRole::Number)->text(), QStringLiteral("#112233"));
            QCOMPARE(page->ColourButton(ColourRole::Number)->accessibleName(), QStringLiteral("Numbers"));
            page->SetColour(ColourRole::Comment, QColor(0x80, 0x00, 0x80));
            QVERIFY(dlg.Apply());
            QCOMPARE(ColourAt(v, 0, 12), QColor(0x80, 0x00, 0x80));
            QCOMPARE(ColourAt(v, 0, 8), QColor(0x11, 0x22, 0x33));
            QVERIFY(app_->Settings().editorColours.contains(QLatin1String("comment=#800080")));
            // The dark preset, then back to following the desktop.
            page->DarkButton()->click();
            QVERIFY(dlg.Apply());
            QCOMPARE(v->palette().color(QPalette::Base), ColourScheme::Dark().Of(ColourRole::Background));
            page->FollowDesktop()->setChecked(true);
            QVERIFY(!page->ColourButton(ColourRole::Text)->text().isEmpty());
            QVERIFY(dlg.Apply());
            QVERIFY(app_->Settings().editorColours.isEmpty());
            QCOMPARE(v->palette().color(QPalette::Base), light.Of(ColourRole::Background));
        }

        // Following the desktop: a dark palette brings the dark scheme.
        app_->Settings().editorColours.clear();
        const QPalette before = QApplication::palette();
        QPalette dark;
        dark.setColor(QPalette::Window, QColor(0x20, 0x20, 0x20));
        dark.setColor(QPalette::WindowText, QColor(0xE0, 0xE0, 0xE0));
        dark.setColor(QPalette::Base, QColor(0x18, 0x18, 0x18));
        dark.setColor(QPalette::Text, QColor(0xE0, 0xE0, 0xE0));
        QApplication::setPalette(dark);
        QTRY_COMPARE(v->palette().color(QPalette::Base), ColourScheme::Dark().Of(ColourRole::Background));
        QCOMPARE(ColourAt(v, 0, 1), ColourScheme::Dark().Of(ColourRole::Mnemonic));
        QApplication::setPalette(before);
        QTRY_COMPARE(v->palette().color(QPalette::Base), light.Of(ColourRole::Background));
    }
};

QTEST_MAIN(TestEditing)
#include "tst_editing.moc"
