#pragma once

// The main frame: MDI area, the two menu sets, three toolbars, status bar,
// the Output, Terminal and register panes and the register dialog bar, and
// the command table with its enable and check rules.

#include "dialogs.h"
#include "editor/findreplace.h"
#include "editor/oxbrinview.h"
#include "mdiframe.h"

#include <QHash>
#include <QPointer>

class QLabel;
class QMdiArea;
class QMenu;

namespace oxbrin {

class COxbrinApp;
class CChildFrame;
class CZKSCW;
class CZKToolBar;
class CRegisterBar;
class CMemoryPane;
class CWatchPane;

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
    CMemoryPane* MemoryPane() const { return memory_; }
    CWatchPane* WatchPane() const { return watch_; }
    QLabel* PositionPane() const { return position_; }
    QLabel* IndicatorPane(int index) const; // 0 CAP, 1 NUM, 2 SCRL

    // The menu set in use: 129 with a document open, 128 without.
    int MenuSet() const { return menuSet_; }
    QMenu* BarContextMenu();
    QMenu* EditorContextMenu();
    // The menu of a document's tab: Save, Close, Close Others, Close All.
    QMenu* TabContextMenu();
    // Documents as tabs or windows, as the settings say.
    void ApplyDocumentMode();
    // Tabs (true) or windows, for this session.
    void SetTabbed(bool tabbed);
    CFindReplaceDialog* FindDialog() const { return find_->FindDialog(); }
    CFindReplaceDialog* ReplaceDialog() const { return find_->ReplaceDialog(); }
    CHelpWindow* HelpWindow() const { return help_; }
    void SetHelpIndex(const QString& path) { helpIndex_ = path; }

    // Show or hide a pane; the focus goes to the pane when it appears and
    // back to the active document when it goes.
    void TogglePane(CZKSCW* pane);
    void ShowAndFocusPane(CZKSCW* pane);

signals:
    // The Terminal pane was shown or hidden by its toggle (the serial port
    // follows it).
    void TerminalPaneToggled(bool visible);
    // A document's view joined the frame (the debugger draws its breakpoints).
    void ViewAdded(COxbrinView* view);

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
    void GoToCommand();
    void HelpTopics();
    void TestErrorReporting();
    QMenu* AddMenu(QMenu* menu, const QString& title, std::initializer_list<int> ids);

    COxbrinApp* app_;
    CMdiClient* mdi_ = nullptr;
    QList<CZKToolBar*> toolbars_;
    CZKSCW* output_ = nullptr;
    CZKSCW* terminal_ = nullptr;
    CZKSCW* varnel_ = nullptr;
    CRegisterBar* registerBar_ = nullptr;
    CMemoryPane* memory_ = nullptr;
    CWatchPane* watch_ = nullptr;
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
    QMenu* tabMenu_ = nullptr;
    QPointer<CHelpWindow> help_;
    QString helpIndex_;
    FindReplace* find_;
    bool clipboardHasText_ = false;
    QString caption_; // the caption the frame wants; see changeEvent
    bool settingCaption_ = false;
};

} // namespace oxbrin
