#pragma once

// The main frame: MDI area, the two menu sets, three toolbars, status bar,
// the Output, Terminal and register panes and the register dialog bar, and
// the command table with its enable and check rules.

#include "dialogs.h"
#include "editor/oxbrinview.h"

#include <QHash>
#include <QMainWindow>
#include <QPointer>

#include <functional>

class QLabel;
class QMdiArea;
class QMenu;
class QPrinter;

namespace oxbrin {

class COxbrinApp;
class CChildFrame;
class CZKSCW;
class CZKToolBar;
class CRegisterBar;

// The command routing of an MDI frame: every command id has one action (plus
// extra menu items that share the id), an optional handler and optional
// enable and check rules. A command without a handler is disabled.
class CZKMDIFrameWnd : public QMainWindow {
    Q_OBJECT
public:
    explicit CZKMDIFrameWnd(QWidget* parent = nullptr);

    QAction* Action(int id);
    // A further menu item for `id` with its own text.
    QAction* MenuItem(int id, const QString& text);
    void SetHandler(int id, std::function<void()> handler, std::function<bool()> enabled = {},
                    std::function<bool()> checked = {});
    // A check run before the command's handler each time it runs; false
    // stops the command (the check has told the user why).
    void SetGuard(int id, std::function<bool()> guard);
    bool IsEnabled(int id) const;
    bool IsChecked(int id) const;
    // Runs the command when it is enabled; returns whether it ran.
    bool Execute(int id);
    // Brings every action's enabled and checked state up to date.
    void UpdateCommandUI();
    // Asks for an update once the current event has been handled.
    void RequestUpdate();

private:
    struct Command {
        QList<QAction*> actions;
        std::function<void()> handler;
        std::function<bool()> enabled;
        std::function<bool()> checked;
        std::function<bool()> guard;
    };
    Command& Entry(int id);
    QHash<int, Command> commands_;
    bool updatePending_ = false;
};

class CMainFrame : public CZKMDIFrameWnd {
    Q_OBJECT
public:
    explicit CMainFrame(COxbrinApp* app);
    ~CMainFrame() override;

    // Builds bars, panes, menus and commands and restores the docking state.
    bool Create();

    COxbrinApp* App() const { return app_; }
    QMdiArea* MdiArea() const { return mdi_; }
    void AddChild(CChildFrame* child);
    CChildFrame* ActiveChild() const;
    COxbrinView* ActiveView() const;

    CZKToolBar* ToolBar(int id) const;
    CZKSCW* OutputPane() const { return output_; }
    CZKSCW* TerminalPane() const { return terminal_; }
    CZKSCW* VarnelPane() const { return varnel_; }
    CRegisterBar* RegisterBar() const { return registerBar_; }
    QLabel* PositionPane() const { return position_; }
    QLabel* IndicatorPane(int index) const;  // 0 CAP, 1 NUM, 2 SCRL

    // The menu set in use: 129 with a document open, 128 without.
    int MenuSet() const { return menuSet_; }
    QMenu* BarContextMenu();
    QMenu* EditorContextMenu();
    CFindReplaceDialog* FindDialog() const { return findDlg_; }
    CFindReplaceDialog* ReplaceDialog() const { return replaceDlg_; }
    CHelpWindow* HelpWindow() const { return help_; }
    void SetHelpIndex(const QString& path) { helpIndex_ = path; }

    // Show or hide a pane; the focus goes to the pane when it appears and
    // back to the active document when it goes.
    void TogglePane(CZKSCW* pane);
    void ShowAndFocusPane(CZKSCW* pane);

    // Prints the view's text with its colours on `printer`, 720-twip margins.
    static void PrintView(COxbrinView* view, QPrinter* printer);

    // Find Next / Replace / Replace All with the last search.
    void OnFindNext();
    void OnReplace();
    void OnReplaceAll();

signals:
    // The Terminal pane was shown or hidden by its toggle (the serial port
    // follows it).
    void TerminalPaneToggled(bool visible);

protected:
    void closeEvent(QCloseEvent* e) override;
    void dragEnterEvent(QDragEnterEvent* e) override;
    void dropEvent(QDropEvent* e) override;
    void contextMenuEvent(QContextMenuEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;
    void changeEvent(QEvent* e) override;

private:
    void CreateCommands();
    void CreateBars();
    void CreatePanes();
    void CreateMenus();
    void CreateStatusBar();
    void UpdateMenuSet();
    void UpdateRecentFileItems();
    void UpdateWindowMenu(QMenu* menu);
    void UpdateCaption();
    QString WantedCaption() const;
    void ShareBottomRow(CZKSCW* shown);
    void UpdatePosition();
    void ConnectView(COxbrinView* view);
    QPlainTextEdit* CommandTarget() const;
    void OpenFindDialog(bool replace);
    void TextNotFound();
    void GoToCommand();
    void HelpTopics();
    void TestErrorReporting();
    void TileWindows(bool horizontally);
    void ArrangeIcons();
    QMenu* AddMenu(QMenu* menu, const QString& title, std::initializer_list<int> ids);

    COxbrinApp* app_;
    QMdiArea* mdi_ = nullptr;
    QList<CZKToolBar*> toolbars_;
    CZKSCW* output_ = nullptr;
    CZKSCW* terminal_ = nullptr;
    CZKSCW* varnel_ = nullptr;
    CRegisterBar* registerBar_ = nullptr;
    QLabel* position_ = nullptr;
    QList<QLabel*> indicators_;
    QList<QMenu*> menus128_;
    QList<QMenu*> menus129_;
    QList<QMenu*> fileMenus_;
    QHash<QMenu*, QAction*> recentAnchor_;
    QHash<QMenu*, QList<QAction*>> recentItems_;
    QList<QAction*> windowItems_;
    QMenu* windowMenu_ = nullptr;
    int menuSet_ = 0;
    QMenu* barMenu_ = nullptr;
    QMenu* editorMenu_ = nullptr;
    QPointer<CFindReplaceDialog> findDlg_;
    QPointer<CFindReplaceDialog> replaceDlg_;
    QPointer<CHelpWindow> help_;
    QString helpIndex_;
    QString findWhat_;
    QString replaceWith_;
    FindOptions findOpt_;
    bool clipboardHasText_ = false;
    QString caption_;  // the caption the frame wants; see changeEvent
    bool settingCaption_ = false;
};

}  // namespace oxbrin
