// Documents as tabs or windows, the keys that close them, the "*" of a
// modified document, the register window's keys and menu items, the Test
// Error Reporting question's default and the extension Save As adds.

#include "link/registerbar.h"
#include "options/dlgoptions.h"
#include "shell/commands.h"
#include "shell/settings.h"
#include "shell/zkbars.h"
#include "testsupport.h"

#include <QCheckBox>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QTabBar>
#include <QTimer>

using namespace oxbrin;
using namespace oxbrin::test;

class TestDocuments : public QObject, AppFixture {
    Q_OBJECT

    CChildFrame* OpenFile(const QString& name) {
        const QString path = MakeFile(name, "\tnop\n");
        if (!app_->OpenDocumentFile(path)) return nullptr;
        Settle();
        return Frame()->ActiveChild();
    }

    void Type(CChildFrame* child, const QString& text) {
        child->View()->setFocus();
        QTest::keyClicks(child->View(), text);
        Settle();
    }

    // The caption as the window system shows it.
    QString Caption() {
        QString title = Frame()->windowTitle();
        return title.replace(QStringLiteral("[*]"),
                             Frame()->isWindowModified() ? QStringLiteral("*") : QString());
    }

    // The action of the menu bar's menu `title` (or of a submenu of it)
    // whose text is `text`.
    QAction* MenuAction(const QString& title, const QString& text) {
        for (QAction* top : Frame()->menuBar()->actions()) {
            if (top->text() != title || !top->menu()) continue;
            QList<QMenu*> menus{top->menu()};
            while (!menus.isEmpty()) {
                QMenu* m = menus.takeFirst();
                for (QAction* a : m->actions()) {
                    if (a->menu())
                        menus << a->menu();
                    else if (a->text() == text)
                        return a;
                }
            }
        }
        return nullptr;
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

    // By default documents are tabs, closable, with a menu of their own; the
    // tab of a modified document shows "*", and so does the caption.
    void Tabs() {
        QCOMPARE(app_->Settings().tabbedDocuments, 1u);
        QMdiArea* area = Frame()->MdiArea();
        QCOMPARE(area->viewMode(), QMdiArea::TabbedView);
        QVERIFY(area->tabsClosable());
        CChildFrame* a = OpenFile(QStringLiteral("a.asm"));
        CChildFrame* b = OpenFile(QStringLiteral("b.asm"));
        QVERIFY(a && b);
        auto* tabs = area->findChild<QTabBar*>();
        QVERIFY(tabs);
        QCOMPARE(tabs->count(), 2);
        QCOMPARE(tabs->tabText(1), QStringLiteral("b.asm"));
        Type(b, QStringLiteral("x"));
        QCOMPARE(tabs->tabText(1), QStringLiteral("b.asm*"));
        QCOMPARE(Caption(), QStringLiteral("Oxbrin - [b.asm*]"));
        QStringList items;
        for (QAction* act : Frame()->TabContextMenu()->actions()) items << act->text();
        QCOMPARE(items, (QStringList{"&Save", "&Close", "Close &Others", "Close A&ll"}));
        // Close Others keeps the active document (after asking to save
        // none: the other one is unchanged).
        area->setActiveSubWindow(b);
        Frame()->TabContextMenu()->actions()[2]->trigger();
        Settle();
        QCOMPARE(app_->Documents().size(), 1);
        QCOMPARE(Frame()->ActiveChild(), b);
        QVERIFY(prompts_->messages.isEmpty());
        // Cascade switches back to windows.
        QVERIFY(Frame()->Execute(ID_WINDOW_CASCADE));
        QCOMPARE(area->viewMode(), QMdiArea::SubWindowView);
    }

    // In window mode a document opened while the active one is maximised
    // opens maximised too (it used to drop every window to a small size).
    void WindowsStayMaximised() {
        app_->Settings().tabbedDocuments = 0;
        Frame()->ApplyDocumentMode();
        QMdiArea* area = Frame()->MdiArea();
        QCOMPARE(area->viewMode(), QMdiArea::SubWindowView);
        CChildFrame* a = OpenFile(QStringLiteral("a.asm"));
        QVERIFY(a);
        QVERIFY(a->isMaximized());
        CChildFrame* b = OpenFile(QStringLiteral("b.asm"));
        QVERIFY(b && b != a);
        QVERIFY(b->isMaximized());
        QCOMPARE(b->size(), area->viewport()->size());
        CChildFrame* c = OpenFile(QStringLiteral("c.asm"));
        QVERIFY(c->isMaximized());
        QCOMPARE(c->size(), area->viewport()->size());
        // A window that is not maximised: the next one opens as a window,
        // and "*" marks a change in the caption all the same.
        c->showNormal();
        Settle();
        CChildFrame* d = OpenFile(QStringLiteral("d.asm"));
        QVERIFY(!d->isMaximized());
        QVERIFY(d->width() > 260 && d->height() > 206);
        Type(d, QStringLiteral("y"));
        QTRY_COMPARE(Caption(), QStringLiteral("Oxbrin - d.asm*"));
        d->showMaximized();
        QTRY_COMPARE(Caption(), QStringLiteral("Oxbrin - [d.asm*]"));
        // Back to tabs with the setting on the General page.
        CDlgOptions dlg(Frame(), CDlgOptions::kPageGeneral);
        QVERIFY(!dlg.General()->Tabbed()->isChecked());
        dlg.General()->Tabbed()->setChecked(true);
        QVERIFY(dlg.Apply());
        QCOMPARE(app_->Settings().tabbedDocuments, 1u);
        QCOMPARE(area->viewMode(), QMdiArea::TabbedView);
        QCOMPARE(app_->Documents().size(), 4);
    }

    // Ctrl+W and Ctrl+F4 close the active document, asking about changes.
    void CloseKeys() {
        CChildFrame* a = OpenFile(QStringLiteral("a.asm"));
        CChildFrame* b = OpenFile(QStringLiteral("b.asm"));
        QVERIFY(a && b);
        QPointer<CChildFrame> gone(b);
        QTest::keyClick(b->View(), Qt::Key_W, Qt::ControlModifier);
        QTRY_VERIFY(!gone);
        QCOMPARE(app_->Documents().size(), 1);
        Type(a, QStringLiteral("z"));
        prompts_->answer = QMessageBox::Cancel;
        QTest::keyClick(a->View(), Qt::Key_F4, Qt::ControlModifier);
        Settle();
        QCOMPARE(prompts_->messages.size(), 1);
        QCOMPARE(app_->Documents().size(), 1);
        prompts_->answer = QMessageBox::No;
        QPointer<CChildFrame> last(a);
        QTest::keyClick(a->View(), Qt::Key_F4, Qt::ControlModifier);
        QTRY_VERIFY(!last);
        QVERIFY(app_->Documents().isEmpty());
    }

    // The register pane and bar have menu items and keys: Ctrl+4, Ctrl+5,
    // and Alt+4 to show and focus the pane.
    void RegisterWindowKeys() {
        QVERIFY(OpenFile(QStringLiteral("a.asm")));
        QAction* window = MenuAction(QStringLiteral("&View"), QStringLiteral("&Register Window\tCtrl+4"));
        QAction* bar = MenuAction(QStringLiteral("&View"), QStringLiteral("Register &Bar\tCtrl+5"));
        QVERIFY(window && bar);
        QVERIFY(Frame()->VarnelPane()->isHidden());
        QWidget* editor = Frame()->ActiveView();
        QTest::keyClick(editor, Qt::Key_4, Qt::ControlModifier);
        QVERIFY(!Frame()->VarnelPane()->isHidden());
        Frame()->UpdateCommandUI();
        QVERIFY(window->isChecked());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_4, Qt::ControlModifier);
        QVERIFY(Frame()->VarnelPane()->isHidden());
        QVERIFY(Frame()->RegisterBar()->isHidden());
        QTest::keyClick(editor, Qt::Key_5, Qt::ControlModifier);
        QVERIFY(!Frame()->RegisterBar()->isHidden());
        QTest::keyClick(editor, Qt::Key_5, Qt::ControlModifier);
        QVERIFY(Frame()->RegisterBar()->isHidden());
        editor->setFocus();
        QTest::keyClick(editor, Qt::Key_4, Qt::AltModifier);
        QVERIFY(!Frame()->VarnelPane()->isHidden());
        QTRY_VERIFY(Frame()->VarnelPane()->isAncestorOf(QApplication::focusWidget()));
        // Nothing was typed into the source on the way.
        QCOMPARE(Frame()->ActiveView()->toPlainText(), QStringLiteral("\tnop\n"));
    }

    // Enter on the Test Error Reporting question answers No.
    void TestErrorReportingDefaultsNo() {
        QVERIFY(Frame()->Execute(ID_HELP_TEST_CRASH));
        QCOMPARE(prompts_->messages.size(), 1);
        QCOMPARE(prompts_->messages[0].defaultButton, QMessageBox::No);
        // The real box, Enter pressed: the program goes on.
        SetMessageResponder({});
        bool pressed = false;
        QTimer::singleShot(50, this, [&pressed] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box) return;
            pressed = box->defaultButton() == box->button(QMessageBox::No);
            QTest::keyClick(box, Qt::Key_Return);
        });
        QTimer guard; // never leave a box open on the test
        connect(&guard, &QTimer::timeout, this, [] {
            if (QWidget* w = QApplication::activeModalWidget()) w->close();
        });
        guard.start(3000);
        Frame()->Execute(ID_HELP_TEST_CRASH);
        QVERIFY(pressed);
        QVERIFY(Frame()->isVisible());
    }

    // Save As adds ".asm" to a name typed without an extension.
    void SaveAsAddsExtension() {
        QVERIFY(Frame()->Execute(ID_FILE_NEW));
        Settle();
        CChildFrame* child = Frame()->ActiveChild();
        QVERIFY(child);
        Type(child, QStringLiteral("\tnop"));
        prompts_->fileAnswer = {dir_->filePath(QStringLiteral("prog"))};
        QVERIFY(Frame()->Execute(ID_FILE_SAVE_AS));
        QCOMPARE(prompts_->fileRequests.size(), 1);
        QCOMPARE(prompts_->fileRequests[0].defaultSuffix, QStringLiteral("asm"));
        QVERIFY(QFileInfo::exists(dir_->filePath(QStringLiteral("prog.asm"))));
        QVERIFY(!QFileInfo::exists(dir_->filePath(QStringLiteral("prog"))));
        QCOMPARE(child->Document()->PathName(), dir_->filePath(QStringLiteral("prog.asm")));
        // A name with an extension of its own keeps it.
        prompts_->fileAnswer = {dir_->filePath(QStringLiteral("notes.txt"))};
        QVERIFY(Frame()->Execute(ID_FILE_SAVE_AS));
        QVERIFY(QFileInfo::exists(dir_->filePath(QStringLiteral("notes.txt"))));
        QVERIFY(!QFileInfo::exists(dir_->filePath(QStringLiteral("notes.txt.asm"))));
    }
};

QTEST_MAIN(TestDocuments)
#include "tst_documents.moc"
