// The Options sheet: its pages, how each one reads and writes the settings,
// and the three ways of opening it.

#include "build/outputpane.h"
#include "options/dlgoptions.h"
#include "options/fontfaces.h"
#include "shell/commands.h"
#include "shell/settings.h"
#include "testsupport.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QFontInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSet>
#include <QSpinBox>
#include <QTabWidget>
#include <QTimer>

using namespace oxbrin;
using namespace oxbrin::test;

namespace {

QString Unmarked(QString face) {
    if (face.startsWith(QLatin1Char('>'))) face.remove(0, 1);
    return face;
}

} // namespace

class TestOptions : public QObject, AppFixture {
    Q_OBJECT

    SettingsBlock& S() { return app_->Settings(); }

    // Which page the sheet opened by `command` shows; the sheet is cancelled.
    int PageOpenedBy(int command) {
        int page = -1;
        QTimer::singleShot(0, this, [&page] {
            if (auto* dlg = qobject_cast<CDlgOptions*>(QApplication::activeModalWidget())) {
                page = dlg->Tabs()->currentIndex();
                dlg->reject();
            }
        });
        Frame()->Execute(command);
        return page;
    }

private slots:
    void init() {
        Prepare();
        QVERIFY(Start());
    }
    void cleanup() { Finish(); }

    // The Target page: the debugger's board by name or as a board file; a
    // name that is neither is refused where it was typed.
    void targetBoardIsChosenAndChecked() {
        {
            CDlgOptions dlg(Frame(), CDlgOptions::kPageTarget);
            QCOMPARE(dlg.TargetPage()->Board()->currentText(), QStringLiteral("flat"));
            dlg.TargetPage()->Board()->setCurrentText(QStringLiteral("hc11e9"));
            QVERIFY(dlg.Apply());
            QCOMPARE(app_->Settings().targetBoard, QStringLiteral("hc11e9"));
        }
        {
            CDlgOptions dlg(Frame(), CDlgOptions::kPageGeneral);
            dlg.TargetPage()->Board()->setCurrentText(QStringLiteral("no-such-board"));
            QVERIFY(!dlg.Apply());
            QCOMPARE(dlg.Tabs()->currentWidget(), static_cast<QWidget*>(dlg.TargetPage()));
            QCOMPARE(prompts_->messages.size(), 1);
            QVERIFY(prompts_->messages[0].text.contains(QStringLiteral("no-such-board")));
            QCOMPARE(app_->Settings().targetBoard, QStringLiteral("hc11e9"));
            // A board file is taken by its path.
            const QString file = MakeFile(QStringLiteral("my.board"), "# a board\n");
            dlg.TargetPage()->Board()->setCurrentText(file);
            QVERIFY(dlg.Apply());
            QCOMPARE(app_->Settings().targetBoard, file);
        }
    }

    void sheetPagesAndTheWaysToOpenIt() {
        CDlgOptions dlg(Frame(), CDlgOptions::kPageTools);
        QCOMPARE(dlg.windowTitle(), QStringLiteral("Options"));
        QCOMPARE(dlg.Tabs()->count(), 6);
        QCOMPARE(dlg.Tabs()->tabText(0), QStringLiteral("General"));
        QCOMPARE(dlg.Tabs()->tabText(1), QStringLiteral("Terminal"));
        QCOMPARE(dlg.Tabs()->tabText(2), QStringLiteral("Tools"));
        QCOMPARE(dlg.Tabs()->tabText(3), QStringLiteral("Assembler"));
        QCOMPARE(dlg.Tabs()->tabText(4), QStringLiteral("Colours"));
        QCOMPARE(dlg.Tabs()->tabText(5), QStringLiteral("Target"));
        QCOMPARE(dlg.Tabs()->currentIndex(), 2);

        QCOMPARE(PageOpenedBy(ID_VIEW_OPTIONS), 0);
        QCOMPARE(PageOpenedBy(ID_TERMINAL_OPTIONS), 1);
        QCOMPARE(PageOpenedBy(ID_BUILD_OPTIONS), 3);
    }

    void assemblerPageDefaultsAndRewrite() {
        CDlgOptions dlg(Frame(), CDlgOptions::kPageAssembler);
        CPageAssembler* p = dlg.AssemblerPage();
        QCOMPARE(p->Options()->text(), QStringLiteral("-l -su"));
        QVERIFY(p->Listing()->isChecked());
        QCOMPARE(p->WarningLevel()->currentIndex(), 3);
        QVERIFY(p->NoSymbols()->isChecked());
        QVERIFY(!p->DisableWarnings()->isChecked());
        QVERIFY(p->CycleCounts()->isEnabled());
        QVERIFY(!p->IsModified());

        // Any click rebuilds the text from the controls; -su is dropped.
        dlg.show();
        p->NoSymbols()->click();
        QCOMPARE(p->Options()->text(), QStringLiteral("-W4 -l"));
        QVERIFY(p->IsModified());

        p->CycleCounts()->click();
        p->AllSymbols()->click();
        p->Compatibility()->click();
        QCOMPARE(p->Options()->text(), QStringLiteral("-W4 -mc -l -lc -ls"));
        p->UsedSymbols()->click();
        QCOMPARE(p->Options()->text(), QStringLiteral("-W4 -mc -l -lc -lu"));

        // Unchecking Listing takes every listing word with it and disables
        // the listing controls.
        p->Listing()->click();
        QCOMPARE(p->Options()->text(), QStringLiteral("-W4 -mc"));
        QVERIFY(!p->CycleCounts()->isEnabled());
        QVERIFY(!p->AllSymbols()->isEnabled());

        p->DisableWarnings()->click();
        QCOMPARE(p->Options()->text(), QStringLiteral("-W0 -mc"));
        QVERIFY(!p->WarningLevel()->isEnabled());

        QVERIFY(dlg.Apply());
        QCOMPARE(S().assemblerOptions, QStringLiteral("-W0 -mc"));
    }

    void assemblerPageReadsTypedText() {
        CDlgOptions dlg(Frame(), CDlgOptions::kPageAssembler);
        CPageAssembler* p = dlg.AssemblerPage();
        dlg.show();
        p->Options()->clear();
        QTest::keyClicks(p->Options(), QStringLiteral("-W2 -l -lc -ls -Dx=\"-mc \""));
        QCOMPARE(p->WarningLevel()->currentIndex(), 1);
        QVERIFY(p->Listing()->isChecked());
        QVERIFY(p->CycleCounts()->isChecked());
        QVERIFY(p->AllSymbols()->isChecked());
        QVERIFY(!p->Compatibility()->isChecked()); // only inside quotes
        QVERIFY(p->IsModified());
        // The typed text is what is stored, untouched.
        QVERIFY(dlg.Apply());
        QCOMPARE(S().assemblerOptions, QStringLiteral("-W2 -l -lc -ls -Dx=\"-mc \""));

        QVERIFY(CPageAssembler::HasWord(QStringLiteral("-l"), QStringLiteral("-l")));
        QVERIFY(!CPageAssembler::HasWord(QStringLiteral("-lc"), QStringLiteral("-l")));
        QVERIFY(!CPageAssembler::HasWord(QStringLiteral("x-l"), QStringLiteral("-l")));
        QVERIFY(CPageAssembler::HasWord(QStringLiteral("-lc\t-l"), QStringLiteral("-l")));
        QVERIFY(!CPageAssembler::HasWord(QStringLiteral("\"a -l\" b"), QStringLiteral("-l")));
    }

    void toolsPageFlagsAndBrowse() {
        CDlgOptions dlg(Frame(), CDlgOptions::kPageTools);
        CPageTools* p = dlg.Tools();
        dlg.show();
        QCOMPARE(p->Assembler()->text(), S().assembler);
        QVERIFY(p->UseOutputWindow()->isChecked());
        QVERIFY(!p->CloseWindow()->isChecked());
        QVERIFY(!p->CloseWindow()->isEnabled());
        p->UseOutputWindow()->click();
        QVERIFY(p->CloseWindow()->isEnabled());
        QVERIFY(dlg.Apply());
        QCOMPARE(S().assemblerFlags, 0u);
        p->CloseWindow()->click();
        QVERIFY(dlg.Apply());
        QCOMPARE(S().assemblerFlags, 0x200u);

        prompts_->fileAnswer = {QStringLiteral("/opt/tools/qorb11")};
        p->BrowseButton()->click();
        QCOMPARE(prompts_->fileRequests.size(), 1);
        QCOMPARE(prompts_->fileRequests[0].title, QStringLiteral("Browse for assembler"));
        QVERIFY(!prompts_->fileRequests[0].save);
        QVERIFY(prompts_->fileRequests[0].filter.contains(QStringLiteral("*.exe")));
        QCOMPARE(p->Assembler()->text(), QStringLiteral("/opt/tools/qorb11"));
        // A cancelled dialog keeps the text.
        p->BrowseButton()->click();
        QCOMPARE(p->Assembler()->text(), QStringLiteral("/opt/tools/qorb11"));
        dlg.accept();
        QCOMPARE(S().assembler, QStringLiteral("/opt/tools/qorb11"));

        // Other bits of the flags do not survive the page.
        S().assemblerFlags = 0x1FF;
        CDlgOptions again(Frame(), CDlgOptions::kPageTools);
        QVERIFY(again.Apply());
        QCOMPARE(S().assemblerFlags, 0x100u);
    }

    void generalPageRangesAreChecked_data() {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("value");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("tab 1") << "tab"
                               << "1" << false;
        QTest::newRow("tab 17") << "tab"
                                << "17" << false;
        QTest::newRow("tab 2") << "tab"
                               << "2" << true;
        QTest::newRow("tab 16") << "tab"
                                << "16" << true;
        QTest::newRow("editor size 3") << "editor"
                                       << "3" << false;
        QTest::newRow("editor size 49") << "editor"
                                        << "49" << false;
        QTest::newRow("output size 3") << "output"
                                       << "3" << false;
        QTest::newRow("terminal size 49") << "terminal"
                                          << "49" << false;
        QTest::newRow("terminal size empty") << "terminal"
                                             << "" << false;
        QTest::newRow("output size 48") << "output"
                                        << "48" << true;
        QTest::newRow("editor size 4") << "editor"
                                       << "4" << true;
    }
    void generalPageRangesAreChecked() {
        QFETCH(QString, field);
        QFETCH(QString, value);
        QFETCH(bool, accepted);
        const SettingsBlock before = S();
        CDlgOptions dlg(Frame(), CDlgOptions::kPageAssembler);
        CPageGeneral* p = dlg.General();
        if (field == QLatin1String("tab"))
            p->TabStop()->setValue(value.toInt());
        else if (field == QLatin1String("editor"))
            p->EditorSize()->setText(value);
        else if (field == QLatin1String("output"))
            p->OutputSize()->setText(value);
        else
            p->TerminalSize()->setText(value);
        p->Highlighting()->setChecked(false);
        QCOMPARE(dlg.Apply(), accepted);
        if (accepted) {
            QVERIFY(prompts_->messages.isEmpty());
            QCOMPARE(S().syntaxHighlighting, 0u);
            return;
        }
        QCOMPARE(prompts_->messages.size(), 1);
        QVERIFY(prompts_->messages[0].text.startsWith(QStringLiteral("Please enter an integer between ")));
        QCOMPARE(dlg.Tabs()->currentIndex(), 0); // the sheet shows the page at fault
        // Nothing was stored.
        QCOMPARE(S().syntaxHighlighting, before.syntaxHighlighting);
        QCOMPARE(S().editorTabStops, before.editorTabStops);
        QCOMPARE(S().outputFontSize, before.outputFontSize);
    }

    void generalPageAppliesAtOnce() {
        WriteAll(dir_->filePath(QStringLiteral("a.asm")), "\tnop\n");
        QVERIFY(app_->OpenDocumentFile(dir_->filePath(QStringLiteral("a.asm"))));
        const QStringList families = InstalledFaces();
        QString fixed;
        for (const QString& f : families)
            if (QFontDatabase::isFixedPitch(f) && f.size() <= CPageGeneral::kMaxFaceLength) {
                fixed = f;
                break;
            }
        if (fixed.isEmpty()) QSKIP("no fixed-pitch font installed");
        S().outputFont = fixed;
        CDlgOptions dlg(Frame(), CDlgOptions::kPageGeneral);
        CPageGeneral* p = dlg.General();
        // A marked face is found by its name and stored without the mark.
        QCOMPARE(p->OutputFace()->currentText(), QStringLiteral(">") + fixed);
        p->OutputSize()->setText(QStringLiteral("14"));
        p->EditorSize()->setText(QStringLiteral("13"));
        p->TabStop()->setValue(4);
        QVERIFY(dlg.Apply());
        QCOMPARE(S().outputFont, fixed);
        QCOMPARE(S().outputFontSize, 14u);
        QCOMPARE(S().editorFontSize, 13u);
        QCOMPARE(S().editorTabStops, 4u);
        auto* output = qobject_cast<CConsolePane*>(Frame()->OutputPane());
        QCOMPARE(output->Control()->font().pointSize(), 14);
        QCOMPARE(output->Control()->font().family(), fixed);
        QCOMPARE(Frame()->ActiveView()->font().pointSize(), 13);

        // A face this system does not have: the pane draws with the
        // system's fixed font, the page shows its name, OK stores it.
        const QString system = UsableFixedFace(QStringLiteral("NoSuchFace"));
        QVERIFY2(IsInstalledFace(system), qPrintable(system));
        S().terminalFont = QStringLiteral("NoSuchFace");
        auto* terminal = qobject_cast<CConsolePane*>(Frame()->TerminalPane());
        terminal->SetConsoleFont(S().terminalFont, 9);
        QCOMPARE(QFontInfo(terminal->Control()->font()).family(), system);
        CDlgOptions again(Frame(), CDlgOptions::kPageGeneral);
        QCOMPARE(Unmarked(again.General()->TerminalFace()->currentText()), system);
        QVERIFY(again.Apply());
        QCOMPARE(S().terminalFont, system);
    }

    // Each family once, without its foundry; the defaults (Courier,
    // Fixedsys) are shown as the font the windows really use.
    void fontListsShowWhatIsInstalled() {
        CDlgOptions dlg(Frame(), CDlgOptions::kPageGeneral);
        QSet<QString> seen;
        QComboBox* box = dlg.General()->EditorFace();
        for (int i = 0; i < box->count(); ++i) {
            const QString face = Unmarked(box->itemText(i));
            QVERIFY2(!face.contains(QLatin1String(" [")), qPrintable(face));
            QVERIFY2(!seen.contains(face.toCaseFolded()), qPrintable(face));
            seen.insert(face.toCaseFolded());
        }
        QVERIFY(!seen.isEmpty());
        const struct {
            QComboBox* box;
            const char* configured;
        } defaults[] = {{dlg.General()->EditorFace(), "Courier"},
                        {dlg.General()->OutputFace(), "Courier"},
                        {dlg.General()->TerminalFace(), "Fixedsys"}};
        for (const auto& d : defaults) {
            const QString configured = QString::fromLatin1(d.configured);
            const QString shown = Unmarked(d.box->currentText());
            QVERIFY2(IsInstalledFace(shown), qPrintable(shown));
            if (!IsInstalledFace(configured))
                QCOMPARE(shown, UsableFixedFace(configured));
            else
                QCOMPARE(shown.toCaseFolded(), configured.toCaseFolded());
            QVERIFY(d.box->findText(d.box->currentText()) >= 0); // an entry of the list
        }
    }

    void cancelKeepsTheSettings() {
        const QString options = S().assemblerOptions;
        CDlgOptions dlg(Frame(), CDlgOptions::kPageAssembler);
        dlg.show();
        dlg.AssemblerPage()->Listing()->click();
        dlg.reject();
        QCOMPARE(S().assemblerOptions, options);
    }
};

QTEST_MAIN(TestOptions)
#include "tst_options.moc"
