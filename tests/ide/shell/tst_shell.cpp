#include "link/registerbar.h"
#include "shell/commands.h"
#include "shell/dialogs.h"
#include "shell/settings.h"
#include "shell/zkbars.h"
#include "testsupport.h"

#include <QClipboard>
#include <QContextMenuEvent>
#include <QDockWidget>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStatusBar>
#include <QTextBrowser>
#include <QUrl>

#include <sys/stat.h>

using namespace oxbrin;
using namespace oxbrin::test;

namespace {

QStringList MenuTitles(CMainFrame* frame) {
    QStringList titles;
    for (QAction* a : frame->menuBar()->actions()) titles << a->text();
    return titles;
}

QStringList ItemTexts(QMenu* menu) {
    QStringList texts;
    for (QAction* a : menu->actions()) {
        if (!a->isSeparator()) texts << a->text();
    }
    return texts;
}

QMenu* MenuNamed(CMainFrame* frame, const QString& title) {
    for (QAction* a : frame->menuBar()->actions()) {
        if (a->text() == title) return a->menu();
    }
    return nullptr;
}

} // namespace

class TestShell : public QObject, AppFixture {
    Q_OBJECT

    // The caption as the window manager shows it: the window-modified mark
    // "[*]" of a document's title is dropped for the frame, which is never
    // marked modified.
    // Whether the document area shows anything but its background (the
    // hint drawn while no document is open).
    bool HintPixels() {
        QWidget* area = Frame()->MdiArea()->viewport();
        const QImage image = area->grab().toImage();
        const QRgb background = image.pixel(2, 2);
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                if (image.pixel(x, y) != background) return true;
            }
        }
        return false;
    }
    QString ShownCaption() {
        QString title = Frame()->windowTitle();
        return title.remove(QStringLiteral("[*]"));
    }

    // Closes the frame and saves the settings, as the program does at exit.
    void Stop() {
        Frame()->close();
        app_->ExitInstance();
        app_.reset();
    }

private slots:
    void init() { Prepare(); }
    void cleanup() { Finish(); }

    void StartWithoutFile() {
        QVERIFY(Start());
        QVERIFY(app_->Documents().isEmpty());
        QCOMPARE(Frame()->MenuSet(), 128);
        QCOMPARE(MenuTitles(Frame()), (QStringList{"&File", "&View", "&Build", "&Terminal", "&Help"}));
        QCOMPARE(Frame()->windowTitle(), QStringLiteral("Oxbrin"));
        QVERIFY(Frame()->isVisible());
        // Panes and the dialog bar start hidden; toolbars are shown.
        QVERIFY(Frame()->OutputPane()->isHidden());
        QVERIFY(Frame()->TerminalPane()->isHidden());
        QVERIFY(Frame()->VarnelPane()->isHidden());
        QVERIFY(Frame()->RegisterBar()->isHidden());
        QCOMPARE(Frame()->OutputPane()->windowTitle(), QStringLiteral("Output"));
        QCOMPARE(Frame()->TerminalPane()->windowTitle(), QStringLiteral("Terminal"));
        QCOMPARE(Frame()->VarnelPane()->windowTitle(), QStringLiteral("Varnel"));
        QCOMPARE(Frame()->RegisterBar()->windowTitle(), QStringLiteral("Register"));
        QCOMPARE(Frame()->ToolBar(ID_VIEW_TB_STANDARD)->windowTitle(), QStringLiteral("Standart"));
        QCOMPARE(Frame()->ToolBar(ID_VIEW_TB_TERMINAL)->windowTitle(), QStringLiteral("Terminal"));
        for (int id : {ID_VIEW_TB_STANDARD, ID_VIEW_TB_BUILD, ID_VIEW_TB_TERMINAL}) {
            QVERIFY(!Frame()->ToolBar(id)->isHidden());
            QCOMPARE(Frame()->toolBarArea(Frame()->ToolBar(id)), Qt::TopToolBarArea);
            for (QAction* a : Frame()->ToolBar(id)->actions())
                QVERIFY(a->isSeparator() || !a->icon().isNull());
        }
        QCOMPARE(Frame()->dockWidgetArea(Frame()->OutputPane()), Qt::BottomDockWidgetArea);
        QCOMPARE(Frame()->dockWidgetArea(Frame()->RegisterBar()), Qt::RightDockWidgetArea);
        QCOMPARE(Frame()->RegisterBar()->Field(106)->parentWidget()->findChildren<QLineEdit*>().size(), 8);
        // Each register's field is named for screen readers by its register.
        for (const char* name : {"A", "B", "D", "X", "Y", "SP", "PC", "CCR"})
            QCOMPARE(Frame()->RegisterBar()->FieldNamed(QString::fromLatin1(name))->accessibleName(),
                     QString::fromLatin1(name));
        QCOMPARE(Frame()->statusBar()->currentMessage(), QStringLiteral("Ready"));
        // The empty document area is not a blank field: it tells how to open a file.
        QCOMPARE(HintPixels(), true);
    }

    void StartWithFile() {
        const QString path = MakeFile(QStringLiteral("blink.asm"), "\tnop\n");
        QVERIFY(Start({path}));
        QCOMPARE(app_->Documents().size(), 1);
        QCOMPARE(app_->Documents()[0]->PathName(), path);
        QCOMPARE(Frame()->MenuSet(), 129);
        QCOMPARE(MenuTitles(Frame()), (QStringList{"&File", "&Edit", "&View", "&Build", "&Debug", "&Terminal",
                                                   "&Window", "&Help"}));
        // The document window starts maximised: it is named once, in brackets.
        QCOMPARE(ShownCaption(), QStringLiteral("Oxbrin - [blink.asm]"));
        QCOMPARE(app_->RecentFiles(), QStringList{path});
        QCOMPARE(Frame()->PositionPane()->text(), QStringLiteral("Ln 1, Col 1"));
        // Closing the last document brings the short menus back.
        QVERIFY(Frame()->Execute(ID_FILE_CLOSE));
        Settle();
        QCOMPARE(Frame()->MenuSet(), 128);
        QVERIFY(Frame()->PositionPane()->text().isEmpty());
    }

    // A relative name on the command line means the folder Oxbrin was
    // started in, even when the stored current folder is another one.
    void StartWithRelativeFile() {
        const QString original = QDir::currentPath();
        auto restore = qScopeGuard([&] { QDir::setCurrent(original); });
        QVERIFY(QDir(dir_->path()).mkpath(QStringLiteral("start")));
        QVERIFY(QDir(dir_->path()).mkpath(QStringLiteral("stored")));
        const QString wanted = MakeFile(QStringLiteral("start/rel.asm"), "\tnop\n");
        MakeFile(QStringLiteral("stored/rel.asm"), "wrong\n");
        {
            auto store = StoreIn(*dir_);
            SettingsBlock b;
            b.currentPath = dir_->filePath(QStringLiteral("stored"));
            QDir::setCurrent(b.currentPath);
            QVERIFY(SaveSettings(*store, b));
        }
        QVERIFY(QDir::setCurrent(dir_->filePath(QStringLiteral("start"))));
        QVERIFY(Start({QStringLiteral("rel.asm")}));
        QCOMPARE(app_->Documents().size(), 1);
        QCOMPARE(QFileInfo(app_->Documents()[0]->PathName()).canonicalFilePath(),
                 QFileInfo(wanted).canonicalFilePath());
    }

    // The caption names the active document exactly once, whether its window
    // is maximised (the window's own title joins the caption) or not, also
    // after the windows have been maximised and restored a few times.
    void CaptionNamesTheDocumentOnce() {
        const QString a = MakeFile(QStringLiteral("one.asm"), "\tnop\n");
        const QString b = MakeFile(QStringLiteral("two.asm"), "\tnop\n");
        QVERIFY(Start({a}));
        // Documents as windows (tabs have no restored state).
        app_->Settings().tabbedDocuments = 0;
        Frame()->ApplyDocumentMode();
        Settle();
        QTRY_COMPARE(ShownCaption(), QStringLiteral("Oxbrin - [one.asm]"));
        CChildFrame* child = Frame()->ActiveChild();
        child->showNormal();
        QTRY_COMPARE(ShownCaption(), QStringLiteral("Oxbrin - one.asm"));
        child->showMaximized();
        QTRY_COMPARE(ShownCaption(), QStringLiteral("Oxbrin - [one.asm]"));
        child->showNormal();
        child->showMaximized();
        QTRY_COMPARE(ShownCaption(), QStringLiteral("Oxbrin - [one.asm]"));

        // Another document: only it is named, in the form its window's state asks for.
        QVERIFY(app_->OpenDocumentFile(b));
        Settle();
        const QString expected = Frame()->ActiveChild()->isMaximized() ? QStringLiteral("Oxbrin - [two.asm]")
                                                                       : QStringLiteral("Oxbrin - two.asm");
        QTRY_COMPARE(ShownCaption(), expected);
        // Typing marks the document, not the frame.
        Frame()->ActiveView()->insertPlainText(QStringLiteral("x"));
        Settle();
        QCOMPARE(ShownCaption(), expected);
        prompts_->answer = QMessageBox::No; // close without saving
        QVERIFY(Frame()->Execute(ID_WINDOW_CLOSE_ALL));
        Settle();
        QTRY_COMPARE(ShownCaption(), QStringLiteral("Oxbrin"));
        QVERIFY(HintPixels()); // the empty area's hint is back
    }

    void StartWithMissingFile() {
        QVERIFY(!Start({dir_->filePath(QStringLiteral("missing.asm"))}));
        QCOMPARE(prompts_->messages.size(), 1);
        QVERIFY(prompts_->messages[0].text.contains(QStringLiteral("missing.asm")));
    }

    void MenuTexts() {
        const QString source = MakeFile(QStringLiteral("a.asm"), "nop\n");
        QVERIFY(Start({source}));
        QCOMPARE(
            ItemTexts(MenuNamed(Frame(), "&Edit")),
            (QStringList{"&Undo\tCtrl+Z", "&Redo\tCtrl+Y", "Cu&t\tCtrl+X", "&Copy\tCtrl+C", "&Paste\tCtrl+V",
                         "&Delete", "Select &All\tCtrl+A", "&Find...\tCtrl+F", "Find &Next\tF3",
                         "R&eplace...\tCtrl+H", "&Go To...\tCtrl+G", "Toggle &Comment\tCtrl+/"}));
        QCOMPARE(ItemTexts(MenuNamed(Frame(), "&Build")),
                 (QStringList{QStringLiteral("B&uild %1\tCtrl+F7").arg(source), "&Build Project\tF7",
                              "S&top Build\tCtrl+Break", "Ne&xt Message\tF4", "Pre&vious Message\tShift+F4",
                              "&Set Project File", "&Release Project File", "&Options...\tAlt+F7"}));
        QCOMPARE(
            ItemTexts(MenuNamed(Frame(), "&Debug")),
            (QStringList{"&Start Debugging\tF5", "&Pause", "Stop &Debugging\tShift+F5", "Step &Into\tF11",
                         "Step &Over\tF10", "Step O&ut\tShift+F11", "&Run to Cursor\tCtrl+F10",
                         "Toggle &Breakpoint\tF9", "Delete &All Breakpoints"}));
        QCOMPARE(ItemTexts(MenuNamed(Frame(), "&Terminal")),
                 (QStringList{"&Connected\tCtrl+T", "Show &Terminal Window\tCtrl+3", "&Download File...\tF8",
                              "Download File to &EEPROM...", "&Stop Transfer\tShift+F8",
                              "Clea&r Window Content", "Save Terminal &Log...", "&Options..."}));
        QCOMPARE(ItemTexts(MenuNamed(Frame(), "&Help")),
                 (QStringList{"&Help Topics\tF1", "Test Error Reporting", "&About Oxbrin..."}));
        QMenu* file = MenuNamed(Frame(), "&File");
        QVERIFY(ItemTexts(file).contains(QStringLiteral("Save A&ll")));
        QVERIFY(ItemTexts(file).last() == QStringLiteral("E&xit"));
        QVERIFY(ItemTexts(file).contains(QStringLiteral("&1 ") +
                                         QDir::toNativeSeparators(dir_->filePath("a.asm"))));
        QAction* save = Frame()->Action(ID_FILE_SAVE);
        QCOMPARE(save->statusTip(), QStringLiteral("Saves the active document"));
        QCOMPARE(save->toolTip(), QStringLiteral("Save"));
        QCOMPARE(Frame()->Action(ID_EDIT_REDO)->statusTip(),
                 QStringLiteral("Redos the previously undone action"));
        QCOMPARE(Frame()->Action(ID_HELP_TEST_CRASH)->statusTip(),
                 QStringLiteral("Crashes the application - Use with care!"));

        QMenu* bars = Frame()->BarContextMenu();
        QCOMPARE(ItemTexts(bars), (QStringList{"&Output", "&Terminal", "&Toolbars"}));
        QCOMPARE(ItemTexts(bars->actions().last()->menu()),
                 (QStringList{"&Standart", "&Terminal", "&Build", "&Debug"}));
        QCOMPARE(ItemTexts(Frame()->EditorContextMenu()),
                 (QStringList{"Cu&t", "&Copy", "&Paste", "&Find...", "R&eplace..."}));
    }

    void Accelerators() {
        const QList<QPair<QString, int>> table{
            {"Ctrl+2", 33035},
            {"Alt+2", 34011},
            {"Ctrl+3", 33037},
            {"Alt+3", 34012},
            {"Ctrl+A", 57642},
            {"Ctrl+C", 57634},
            {"Ctrl+F", 57636},
            {"Ctrl+G", 33021},
            {"Ctrl+H", 57641},
            {"Ctrl+N", 57600},
            {"Ctrl+O", 57601},
            {"Ctrl+P", 57607},
            {"Ctrl+S", 57603},
            {"Ctrl+T", 33062},
            {"Ctrl+V", 57637},
            {"F1", 57667},
            {"Shift+F1", 57669},
            {"F3", 57640},
            {"Ctrl+F6", 57680},
            {"Ctrl+Shift+F6", 57681},
            {"F7", 33052},
            {"Ctrl+F7", 33051},
            {"Alt+F7", 33129},
            {"F8", 33064},
            {"Ctrl+F8", 33063},
            {"Shift+F8", 33112},
            {"Ctrl+Pause", 33130},
            {"Ctrl+X", 57635},
            {"Ctrl+Y", 57644},
            {"Ctrl+Z", 57643},
            // Added for today's users: register window and bar, comments,
            // the next and previous message.
            {"Ctrl+4", 33036},
            {"Ctrl+5", 33119},
            {"Alt+4", 34013},
            {"Ctrl+/", 33022},
            {"F4", 33131},
            {"Shift+F4", 33132},
            // The debugger's.
            {"F5", 33140},
            {"Shift+F5", 33142},
            {"F11", 33143},
            {"F10", 33144},
            {"Shift+F11", 33145},
            {"Ctrl+F10", 33146},
            {"F9", 33147},
            {"Ctrl+6", 33149},
            {"Ctrl+7", 33150},
        };
        QVERIFY(Start());
        QSet<QString> seen;
        for (const auto& [keys, id] : table) {
            QCOMPARE(Frame()->Action(id)->shortcut(), QKeySequence(keys));
            seen.insert(keys);
        }
        // No command carries a key the table does not list.
        for (const CommandInfo& c : CommandTable()) {
            if (*c.keys) QVERIFY2(seen.contains(QString::fromLatin1(c.keys)), c.keys);
        }
        // Pressed for real, the keys reach their commands.
        Frame()->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(Frame()));
        QTest::keyClick(Frame(), Qt::Key_2, Qt::ControlModifier);
        QVERIFY(!Frame()->OutputPane()->isHidden());
        QTest::keyClick(Frame(), Qt::Key_2, Qt::ControlModifier);
        QVERIFY(Frame()->OutputPane()->isHidden());
        QTest::keyClick(Frame(), Qt::Key_3, Qt::AltModifier);
        QVERIFY(!Frame()->TerminalPane()->isHidden());
        QTest::keyClick(Frame(), Qt::Key_N, Qt::ControlModifier);
        QCOMPARE(app_->Documents().size(), 1);
        QCOMPARE(app_->Documents()[0]->Title(), QStringLiteral("Untitled1"));
        QTest::keyClick(Frame()->ActiveView(), Qt::Key_N, Qt::ControlModifier);
        QCOMPARE(app_->Documents().size(), 2);
        QCOMPARE(app_->Documents()[1]->Title(), QStringLiteral("Untitled2"));
        QTest::keyClick(Frame()->ActiveView(), Qt::Key_F6, Qt::ControlModifier);
        QCOMPARE(Frame()->ActiveChild()->Document()->Title(), QStringLiteral("Untitled1"));
    }

    // The enable rules in the states that matter.
    void EnableRules() {
        QVERIFY(Start());
        Frame()->UpdateCommandUI();
        for (int id :
             {ID_FILE_NEW, ID_FILE_OPEN, ID_FILE_PRINT_SETUP, ID_FILE_SAVE_ALL, ID_APP_EXIT, ID_VIEW_OUTPUT,
              ID_VIEW_TERMINAL, ID_VIEW_VARNEL, ID_VIEW_REGISTER_BAR, ID_VIEW_STATUS_BAR, ID_VIEW_TB_STANDARD,
              ID_FOCUS_OUTPUT, ID_FOCUS_TERMINAL, ID_FOCUS_VARNEL, ID_WINDOW_CLOSE_ALL, ID_HELP_FINDER,
              ID_APP_ABOUT, ID_HELP_TEST_CRASH, ID_CONTEXT_HELP})
            QVERIFY2(Frame()->IsEnabled(id), qPrintable(QString::number(id)));
        for (int id :
             {ID_FILE_CLOSE,      ID_FILE_SAVE,        ID_FILE_SAVE_AS, ID_FILE_PRINT,      ID_EDIT_UNDO,
              ID_EDIT_REDO,       ID_EDIT_CUT,         ID_EDIT_COPY,    ID_EDIT_PASTE,      ID_EDIT_CLEAR,
              ID_EDIT_SELECT_ALL, ID_EDIT_FIND,        ID_EDIT_REPEAT,  ID_EDIT_REPLACE,    ID_EDIT_GOTO,
              ID_WINDOW_CASCADE,  ID_WINDOW_TILE_HORZ, ID_NEXT_PANE,    ID_TERMINAL_UPLOAD, ID_WINDOW_NEW})
            QVERIFY2(!Frame()->IsEnabled(id), qPrintable(QString::number(id)));
        // Toggles are checked while their bar is shown.
        QVERIFY(Frame()->IsChecked(ID_VIEW_TB_STANDARD));
        QVERIFY(Frame()->IsChecked(ID_VIEW_STATUS_BAR));
        QVERIFY(!Frame()->IsChecked(ID_VIEW_OUTPUT));
        QVERIFY(Frame()->Execute(ID_VIEW_TB_BUILD));
        QVERIFY(Frame()->ToolBar(ID_VIEW_TB_BUILD)->isHidden());
        Frame()->UpdateCommandUI();
        QVERIFY(!Frame()->Action(ID_VIEW_TB_BUILD)->isChecked());
        QVERIFY(Frame()->Execute(ID_VIEW_REGISTER_BAR));
        QVERIFY(Frame()->IsChecked(ID_VIEW_REGISTER_BAR));

        // With a document: editing commands follow the text and the clipboard.
        QGuiApplication::clipboard()->clear();
        app_->FileNew();
        Settle();
        Frame()->UpdateCommandUI();
        for (int id :
             {ID_FILE_CLOSE, ID_FILE_SAVE, ID_FILE_SAVE_AS, ID_FILE_PRINT, ID_EDIT_GOTO, ID_WINDOW_CASCADE})
            QVERIFY2(Frame()->IsEnabled(id), qPrintable(QString::number(id)));
        for (int id : {ID_EDIT_UNDO, ID_EDIT_CUT, ID_EDIT_COPY, ID_EDIT_PASTE, ID_EDIT_SELECT_ALL,
                       ID_EDIT_FIND, ID_EDIT_REPEAT})
            QVERIFY2(!Frame()->IsEnabled(id), qPrintable(QString::number(id)));
        COxbrinView* view = Frame()->ActiveView();
        view->setFocus();
        QTest::keyClicks(view, QStringLiteral("nop"));
        view->selectAll();
        Frame()->UpdateCommandUI();
        for (int id : {ID_EDIT_UNDO, ID_EDIT_CUT, ID_EDIT_COPY, ID_EDIT_CLEAR, ID_EDIT_SELECT_ALL,
                       ID_EDIT_FIND, ID_EDIT_REPLACE})
            QVERIFY2(Frame()->IsEnabled(id), qPrintable(QString::number(id)));
        QVERIFY(!Frame()->IsEnabled(ID_EDIT_REPEAT)); // nothing searched yet
        QVERIFY(Frame()->Execute(ID_EDIT_COPY));
        Frame()->UpdateCommandUI();
        QVERIFY(Frame()->IsEnabled(ID_EDIT_PASTE));
        // In a read-only pane the text can be copied but not changed.
        Frame()->Execute(ID_FOCUS_OUTPUT);
        auto* pane = qobject_cast<QPlainTextEdit*>(Frame()->OutputPane()->Content());
        QVERIFY(pane);
        pane->setFocus();
        pane->setPlainText(QStringLiteral("output"));
        pane->selectAll();
        Frame()->UpdateCommandUI();
        if (QApplication::focusWidget() == pane) {
            QVERIFY(Frame()->IsEnabled(ID_EDIT_COPY));
            QVERIFY(!Frame()->IsEnabled(ID_EDIT_CUT));
            QVERIFY(!Frame()->IsEnabled(ID_EDIT_PASTE));
        }
    }

    void PaneToggles() {
        QVERIFY(Start());
        app_->FileNew();
        Settle();
        Frame()->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(Frame()));
        // Shown, a pane takes the focus; hidden, it hands it to the document.
        QVERIFY(Frame()->Execute(ID_VIEW_OUTPUT));
        QCOMPARE(QApplication::focusWidget(), Frame()->OutputPane()->Content());
        QVERIFY(Frame()->Execute(ID_VIEW_OUTPUT));
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(Frame()->ActiveView()));
        QList<bool> terminalSignals;
        connect(Frame(), &CMainFrame::TerminalPaneToggled, this, [&](bool v) { terminalSignals << v; });
        QVERIFY(Frame()->Execute(ID_VIEW_TERMINAL));
        QVERIFY(!Frame()->TerminalPane()->isHidden());
        QVERIFY(Frame()->IsChecked(ID_VIEW_TERMINAL));
        QVERIFY(Frame()->Execute(ID_VIEW_TERMINAL));
        QVERIFY(Frame()->TerminalPane()->isHidden());
        QCOMPARE(terminalSignals, (QList<bool>{true, false}));
        // The focus commands only show; they never hide and never connect.
        QVERIFY(Frame()->Execute(ID_FOCUS_VARNEL));
        QVERIFY(Frame()->Execute(ID_FOCUS_VARNEL));
        QVERIFY(!Frame()->VarnelPane()->isHidden());
        QVERIFY(Frame()->Execute(ID_FOCUS_TERMINAL));
        QCOMPARE(terminalSignals.size(), 2);
        QVERIFY(Frame()->Execute(ID_VIEW_VARNEL));
        QVERIFY(Frame()->VarnelPane()->isHidden());
    }

    // Sizes and docking positions of the panes and the frame's placement come
    // back after a restart.
    void DockStateRestored() {
        QVERIFY(Start());
        CMainFrame* f = Frame();
        f->resize(900, 700);
        f->move(40, 30);
        QVERIFY(f->Execute(ID_VIEW_OUTPUT));
        QVERIFY(f->Execute(ID_VIEW_REGISTER_BAR));
        f->addDockWidget(Qt::LeftDockWidgetArea, f->OutputPane());
        f->OutputPane()->show();
        Settle();
        f->resizeDocks({f->OutputPane()}, {260}, Qt::Horizontal);
        Settle();
        const int width = f->OutputPane()->width();
        QVERIFY(f->Execute(ID_VIEW_TB_TERMINAL)); // hide a toolbar too
        // A pane resized and then hidden keeps its size for the next run.
        QVERIFY(f->Execute(ID_VIEW_VARNEL));
        Settle();
        f->resizeDocks({f->VarnelPane()}, {180}, Qt::Vertical);
        Settle();
        const QSize varnel = f->VarnelPane()->size();
        QVERIFY(f->Execute(ID_VIEW_VARNEL));
        Stop();

        QVERIFY(Start());
        f = Frame();
        Settle();
        QVERIFY(!f->OutputPane()->isHidden());
        QCOMPARE(f->dockWidgetArea(f->OutputPane()), Qt::LeftDockWidgetArea);
        QVERIFY2(qAbs(f->OutputPane()->width() - width) <= 2,
                 qPrintable(QStringLiteral("%1 vs %2").arg(f->OutputPane()->width()).arg(width)));
        QCOMPARE(app_->Settings().outputWndSize.width(), width);
        QVERIFY(!f->RegisterBar()->isHidden());
        QVERIFY(f->TerminalPane()->isHidden());
        QVERIFY(f->ToolBar(ID_VIEW_TB_TERMINAL)->isHidden());
        QCOMPARE(f->size(), QSize(900, 700));
        QCOMPARE(app_->Settings().varnelWndSize, varnel);
        QVERIFY(f->VarnelPane()->isHidden());
    }

    void TestErrorReportingNo() {
        QVERIFY(Start());
        prompts_->answer = QMessageBox::No;
        QVERIFY(Frame()->Execute(ID_HELP_TEST_CRASH));
        QCOMPARE(prompts_->messages.size(), 1);
        QCOMPARE(
            prompts_->messages[0].text,
            QStringLiteral("This menu entry is indented to test Oxbrin's Error Reporting functionality.\n"
                           "Do you want to continue? (If you answer 'Yes', Oxbrin will crash!)"));
        QCOMPARE(prompts_->messages[0].caption, QStringLiteral("Oxbrin"));
        QCOMPARE(prompts_->messages[0].buttons, QMessageBox::Yes | QMessageBox::No);
        QVERIFY(Frame()->isVisible());
    }

    void HelpAndAbout() {
        QVERIFY(Start());
        QVERIFY(Frame()->Execute(ID_HELP_FINDER));
        QCOMPARE(prompts_->messages.size(), 1);
        QCOMPARE(prompts_->messages[0].icon, QMessageBox::Information);
        QVERIFY(!Frame()->HelpWindow());
        const QString index =
            MakeFile(QStringLiteral("index.html"), "<html><body><h1>Manual</h1></body></html>");
        Frame()->SetHelpIndex(index);
        QVERIFY(Frame()->Execute(ID_HELP_FINDER));
        QVERIFY(Frame()->HelpWindow());
        QVERIFY(Frame()->HelpWindow()->isVisible());
        QCOMPARE(Frame()->HelpWindow()->Browser()->source(), QUrl::fromLocalFile(index));
        QVERIFY(Frame()->HelpWindow()->Browser()->toPlainText().contains(QStringLiteral("Manual")));

        QVERIFY(Frame()->Execute(ID_APP_ABOUT));
        auto* about = Frame()->findChild<CAboutDialog*>();
        QVERIFY(about);
        QCOMPARE(about->VersionLabel()->text(), QStringLiteral("Version 1.16 Build 78"));
        about->close();
    }

    // The manual beside the program opens in the help window, and every page
    // and picture it links to is there.
    void Manual() {
        const QString index = QStringLiteral(OXBRIN_HELP_INDEX);
        QVERIFY2(QFileInfo::exists(index), qPrintable(index));
        QVERIFY(Start());
        Frame()->SetHelpIndex(index);
        QVERIFY(Frame()->Execute(ID_HELP_FINDER));
        QVERIFY(Frame()->HelpWindow());
        QCOMPARE(Frame()->HelpWindow()->Browser()->documentTitle(),
                 QStringLiteral("KORVELL 68HC12/68HC11 Development Tools - User Manual"));
        const QDir dir = QFileInfo(index).dir();
        QStringList pages{QStringLiteral("index.html")};
        QSet<QString> seen;
        static const QRegularExpression link(QStringLiteral("(?:href|src)=\"([^\"#:]+)"));
        while (!pages.isEmpty()) {
            const QString page = pages.takeFirst();
            if (seen.contains(page)) continue;
            seen.insert(page);
            const QByteArray html = ReadAll(dir.filePath(page));
            QVERIFY2(!html.isEmpty(), qPrintable(page));
            auto it = link.globalMatch(QString::fromUtf8(html));
            while (it.hasNext()) {
                const QString target = it.next().captured(1);
                QVERIFY2(QFileInfo::exists(dir.filePath(target)), qPrintable(page + " -> " + target));
                if (target.endsWith(QStringLiteral(".html"))) pages << target;
            }
        }
        QVERIFY(seen.size() >= 6);
    }

    // A right click on a toolbar offers the bar toggles.
    void BarContextMenuOnRightClick() {
        QVERIFY(Start());
        CZKToolBar* bar = Frame()->ToolBar(ID_VIEW_TB_BUILD);
        const QPoint inFrame = bar->mapTo(Frame(), QPoint(bar->width() - 3, bar->height() / 2));
        QContextMenuEvent e(QContextMenuEvent::Mouse, inFrame, Frame()->mapToGlobal(inFrame));
        QApplication::sendEvent(Frame(), &e);
        QTRY_VERIFY(Frame()->BarContextMenu()->isVisible());
        Frame()->BarContextMenu()->hide();
    }

    void SaveAllAndCloseAll() {
        const QString a = MakeFile(QStringLiteral("a.asm"), "a\r\n");
        QVERIFY(Start({a}));
        COxbrinDoc* first = app_->Documents()[0];
        QTextCursor(first->TextDocument()).insertText(QStringLiteral("x"));
        COxbrinDoc* second = app_->FileNew();
        QTextCursor(second->TextDocument()).insertText(QStringLiteral("new"));
        COxbrinDoc* third = app_->FileNew();
        QTextCursor(third->TextDocument()).insertText(QStringLiteral("more"));

        // A cancelled name for the second stops Save All there.
        prompts_->fileAnswer.clear();
        QVERIFY(Frame()->Execute(ID_FILE_SAVE_ALL));
        QCOMPARE(ReadAll(a), QByteArray("xa\r\n"));
        QVERIFY(second->IsModified());
        QVERIFY(third->IsModified());
        QCOMPARE(prompts_->fileRequests.size(), 1);
        QVERIFY(prompts_->fileRequests[0].filter.startsWith(QStringLiteral("Source Files (*.a* *.i*)")));

        prompts_->fileAnswer = {dir_->filePath(QStringLiteral("b.asm"))};
        QVERIFY(Frame()->Execute(ID_FILE_SAVE_ALL));
        QVERIFY(!second->IsModified());
        QCOMPARE(ReadAll(dir_->filePath(QStringLiteral("b.asm"))), QByteArray("new"));
        QCOMPARE(second->Title(), QStringLiteral("b.asm"));
        // The folder picked becomes the current one (kept as CurrentPath).
        QCOMPARE(QDir::currentPath(), QDir(dir_->path()).canonicalPath());
        QCOMPARE(app_->RecentFiles().front(),
                 QDir::toNativeSeparators(dir_->filePath(QStringLiteral("b.asm"))));

        // Close All: Cancel keeps everything open, No closes without saving.
        QVERIFY(third->IsModified());
        prompts_->answer = QMessageBox::Cancel;
        QVERIFY(Frame()->Execute(ID_WINDOW_CLOSE_ALL));
        Settle();
        QCOMPARE(app_->Documents().size(), 3);
        prompts_->answer = QMessageBox::No;
        QVERIFY(Frame()->Execute(ID_WINDOW_CLOSE_ALL));
        Settle();
        QCOMPARE(app_->Documents().size(), 0);
        QCOMPARE(Frame()->MenuSet(), 128);
    }

    void OpenTwiceActivates() {
        const QString a = MakeFile(QStringLiteral("a.asm"), "a\n");
        const QString b = MakeFile(QStringLiteral("b.asm"), "b\n");
        QVERIFY(Start({a}));
        QVERIFY(app_->OpenDocumentFile(b));
        QCOMPARE(app_->OpenDocumentFile(a), app_->Documents()[0]);
        QCOMPARE(app_->Documents().size(), 2);
        QCOMPARE(Frame()->ActiveChild()->Document()->PathName(), a);
        QCOMPARE(app_->RecentFiles(),
                 (QStringList{QDir::toNativeSeparators(b), QDir::toNativeSeparators(a)}));
        // A folder, a pipe or a device is no document: refused with a reason,
        // never read.
        QVERIFY(!app_->OpenDocumentFile(dir_->path()));
        QCOMPARE(prompts_->messages.size(), 1);
        const QString fifo = dir_->filePath(QStringLiteral("pipe"));
        QVERIFY(::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
        QVERIFY(!app_->OpenDocumentFile(fifo));
        QCOMPARE(prompts_->messages.size(), 2);
        QVERIFY(prompts_->messages[1].text.contains(QStringLiteral("not a regular file")));
        QVERIFY(!app_->OpenDocumentFile(QStringLiteral("/dev/zero")));
        QCOMPARE(app_->Documents().size(), 2);
    }

    void DroppedFilesOpen() {
        const QString a = MakeFile(QStringLiteral("a.asm"), "a\n");
        const QString b = MakeFile(QStringLiteral("b.lst"), "b\n");
        QVERIFY(Start());
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(a), QUrl::fromLocalFile(b)});
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(Frame(), &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(Frame(), &drop);
        Settle();
        QCOMPARE(app_->Documents().size(), 2);
        QCOMPARE(app_->Documents()[1]->PathName(), b);
    }

    void WindowCommands() {
        QVERIFY(Start());
        app_->FileNew();
        app_->FileNew();
        Settle();
        QVERIFY(Frame()->Execute(ID_WINDOW_TILE_HORZ));
        QList<QMdiSubWindow*> w = Frame()->MdiArea()->subWindowList(QMdiArea::CreationOrder);
        QCOMPARE(w.size(), 2);
        QCOMPARE(w[0]->geometry().top(), 0);
        QCOMPARE(w[1]->geometry().top(), w[0]->geometry().bottom() + 1);
        QCOMPARE(w[0]->width(), w[1]->width());
        QVERIFY(Frame()->Execute(ID_WINDOW_TILE_VERT));
        QCOMPARE(w[1]->geometry().left(), w[0]->geometry().right() + 1);
        QCOMPARE(w[0]->height(), w[1]->height());
        QVERIFY(Frame()->Execute(ID_WINDOW_CASCADE));
        w[0]->showMinimized();
        QVERIFY(Frame()->Execute(ID_WINDOW_ARRANGE));
        QVERIFY(w[0]->geometry().bottom() <= Frame()->MdiArea()->viewport()->height());
    }

    void RecentFileMissing() {
        const QString a = MakeFile(QStringLiteral("a.asm"), "a\n");
        QVERIFY(Start({a}));
        Stop();
        QFile::remove(a);
        QVERIFY(Start());
        QCOMPARE(app_->RecentFiles(), QStringList{QDir::toNativeSeparators(a)});
        QMenu* file = MenuNamed(Frame(), "&File");
        QAction* recent = nullptr;
        for (QAction* act : file->actions()) {
            if (act->text().startsWith(QStringLiteral("&1 "))) recent = act;
        }
        QVERIFY(recent);
        recent->trigger();
        QCOMPARE(prompts_->messages.size(), 1);
        QVERIFY(app_->RecentFiles().isEmpty());
    }
};

QTEST_MAIN(TestShell)
#include "tst_shell.moc"
