#include "mainframe.h"

#include "build/outputpane.h"
#include "childframe.h"
#include "commands.h"
#include "crashhook.h"
#include "debug/memorypane.h"
#include "debug/watchpane.h"
#include "dialogs.h"
#include "editor/gotodialog.h"
#include "editor/highlighter.h"
#include "editor/oxbrindoc.h"
#include "icons.h"
#include "link/registerbar.h"
#include "link/terminalpane.h"
#include "oxbrinapp.h"
#include "printing.h"
#include "prompts.h"
#include "settings.h"
#include "zkbars.h"

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QFileInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPageSetupDialog>
#include <QPrintDialog>
#include <QPrinter>
#include <QStatusBar>
#include <QTabBar>
#include <QTimer>
#include <QWhatsThis>

namespace oxbrin {

namespace {

// Version of the stored docking state; bump it when bars are added or renamed
// so an old layout is not forced onto a different set of bars.
constexpr int kBarStateVersion = 1;

} // namespace

CMainFrame::CMainFrame(COxbrinApp* app)
    : app_(app), helpIndex_(FindHelpIndex()), find_(new FindReplace(this, [this] { return ActiveView(); })) {
    setObjectName(QStringLiteral("MainFrame"));
    setWindowTitle(QString::fromLatin1(strings::kAppTitle));
    setWindowIcon(AppIcon());
    resize(1000, 720);
}

CMainFrame::~CMainFrame() {
    qApp->removeEventFilter(this);
    // Nothing may call back into the frame while its parts go: the document
    // windows are closed here, while the frame is still whole.
    disconnect(qApp, nullptr, this, nullptr);
    disconnect(qApp->clipboard(), nullptr, this, nullptr);
    disconnect(app_, nullptr, this, nullptr);
    // Every part of the frame (windows, panes, bars, documents, also those
    // closed but not yet deleted) stops talking to it.
    for (QObject* part : findChildren<QObject*>()) disconnect(part, nullptr, this, nullptr);
    delete mdi_;
    mdi_ = nullptr;
    if (help_) delete help_;
}

bool CMainFrame::Create() {
    mdi_ = new CMdiClient(this);
    mdi_->setObjectName(QStringLiteral("MdiClient"));
    mdi_->setAccessibleName(QStringLiteral("Documents"));
    mdi_->setActivationOrder(QMdiArea::ActivationHistoryOrder);
    mdi_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    mdi_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setCentralWidget(mdi_);
    connect(mdi_, &QMdiArea::subWindowActivated, this, [this] {
        mdi_->viewport()->update(); // the hint of the empty area comes and goes
        UpdateMenuSet();
        UpdateCaption();
        UpdatePosition();
        RequestUpdate();
    });

    ApplyDocumentMode();
    CreateStatusBar();
    setDockOptions(QMainWindow::AnimatedDocks | QMainWindow::AllowNestedDocks |
                   QMainWindow::AllowTabbedDocks);
    CreateCommands();
    CreateBars();
    CreatePanes();
    CreateMenus();

    const QByteArray state = LoadControlBars(app_->Store());
    if (!state.isEmpty()) restoreState(state, kBarStateVersion);

    // Keys the command table owns are left to it by the editor.
    QSet<int> reserved;
    for (const CommandInfo& c : CommandTable()) {
        if (*c.keys) reserved.insert(QKeySequence(QString::fromLatin1(c.keys))[0].toCombined());
    }
    reserved.insert(QKeyCombination(Qt::CTRL | Qt::Key_W).toCombined());
    reserved.insert(QKeyCombination(Qt::CTRL | Qt::Key_F4).toCombined());
    COxbrinView::SetReservedKeys(reserved);

    // What the clipboard holds is asked once per change, not on every
    // update: asking can mean a round trip to another program.
    auto readClipboard = [this] {
        const QMimeData* data = QGuiApplication::clipboard()->mimeData();
        clipboardHasText_ = data && !data->formats().isEmpty() && data->hasText();
        RequestUpdate();
    };
    connect(qApp->clipboard(), &QClipboard::dataChanged, this, readClipboard);
    readClipboard();
    connect(qApp, &QApplication::focusChanged, this, &CMainFrame::RequestUpdate);
    // A pane that had the focus showed its own caret in the position field;
    // back in a source, the field shows the source's caret again.
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) {
        if (qobject_cast<COxbrinView*>(now)) UpdatePosition();
    });
    connect(app_, &COxbrinApp::RecentFilesChanged, this, &CMainFrame::UpdateRecentFileItems);
    qApp->installEventFilter(this);
    UpdateMenuSet();
    UpdateRecentFileItems();
    UpdateCommandUI();
    return true;
}

void CMainFrame::CreateStatusBar() {
    QStatusBar* bar = statusBar();
    bar->setObjectName(QStringLiteral("StatusBar%1").arg(ID_VIEW_STATUS_BAR));
    bar->setAccessibleName(QStringLiteral("Status bar"));
    position_ = new QLabel(bar);
    // The field's text ("Ln 9, Col 8") stays its accessible name, so a
    // screen reader says where the caret is; the description says what the
    // field is.
    position_->setAccessibleDescription(QStringLiteral("Caret position"));
    position_->setObjectName(QStringLiteral("Indicator%1").arg(ID_INDICATOR_POSITION));
    position_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    position_->setMinimumWidth(
        position_->fontMetrics().horizontalAdvance(QString::fromLatin1(strings::kPositionPaneWidest)) + 8);
    bar->addPermanentWidget(position_);
    for (const char* name : {"CAP", "NUM", "SCRL"}) {
        auto* label = new QLabel(bar);
        label->setObjectName(QStringLiteral("Indicator%1").arg(QString::fromLatin1(name)));
        label->setAccessibleName(
            QString::fromLatin1(name) == QLatin1String("CAP")   ? QStringLiteral("Caps Lock")
            : QString::fromLatin1(name) == QLatin1String("NUM") ? QStringLiteral("Num Lock")
                                                                : QStringLiteral("Scroll Lock"));
        label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        label->setMinimumWidth(label->fontMetrics().horizontalAdvance(QString::fromLatin1(name)) + 8);
        label->setAlignment(Qt::AlignCenter);
        bar->addPermanentWidget(label);
        indicators_ << label;
    }
    connect(bar, &QStatusBar::messageChanged, this, [bar](const QString& text) {
        if (text.isEmpty()) bar->showMessage(QString::fromLatin1(strings::kIdleMessage));
    });
    bar->showMessage(QString::fromLatin1(strings::kIdleMessage));
}

QLabel* CMainFrame::IndicatorPane(int index) const { return indicators_.value(index); }

void CMainFrame::CreateBars() {
    struct Bar {
        int id;
        const char* title;
        std::initializer_list<int> buttons;
    };
    const Bar bars[] = {
        {ID_VIEW_TB_STANDARD,
         strings::kToolbarStandard,
         {ID_FILE_NEW, ID_FILE_OPEN, ID_FILE_SAVE, ID_FILE_SAVE_ALL, 0, ID_EDIT_CUT, ID_EDIT_COPY,
          ID_EDIT_PASTE, 0, ID_EDIT_UNDO, ID_EDIT_REDO, 0, ID_EDIT_FIND, 0, ID_FILE_PRINT, 0,
          ID_HELP_FINDER}},
        {ID_VIEW_TB_BUILD,
         strings::kToolbarBuild,
         {ID_BUILD_CURRENT, ID_BUILD_PROJECT, 0, ID_BUILD_OPTIONS, 0, ID_VIEW_OUTPUT}},
        {ID_VIEW_TB_TERMINAL,
         strings::kToolbarTerminal,
         {ID_TERMINAL_CONNECT, 0, ID_TERMINAL_DOWNLOAD, ID_TERMINAL_DOWNLOAD_EEPROM, ID_TERMINAL_STOP, 0,
          ID_TERMINAL_CLEAR, ID_VIEW_TERMINAL}},
        {ID_VIEW_TB_DEBUG,
         strings::kToolbarDebug,
         {ID_DEBUG_START, ID_DEBUG_PAUSE, ID_DEBUG_STOP, 0, ID_DEBUG_STEP_INTO, ID_DEBUG_STEP_OVER,
          ID_DEBUG_STEP_OUT, ID_DEBUG_RUN_TO_CURSOR, 0, ID_DEBUG_TOGGLE_BREAKPOINT}},
    };
    for (const Bar& b : bars) {
        auto* bar = new CZKToolBar(b.id, QString::fromLatin1(b.title), this);
        for (int id : b.buttons) {
            if (id == 0) {
                bar->addSeparator();
                continue;
            }
            bar->addAction(Action(id));
            if (b.id == ID_VIEW_TB_DEBUG) {
                // Start Debugging changes its text to Continue; the button keeps
                // one name for screen readers, the command's tooltip.
                const CommandInfo* info = FindCommand(id);
                const QString tip = QString::fromLatin1(info->prompt).section(QLatin1Char('\n'), 1);
                if (QWidget* button = bar->widgetForAction(Action(id))) button->setAccessibleName(tip);
            }
        }
        addToolBar(Qt::TopToolBarArea, bar);
        toolbars_ << bar;
    }
}

CZKToolBar* CMainFrame::ToolBar(int id) const {
    for (CZKToolBar* bar : toolbars_) {
        if (bar->Id() == id) return bar;
    }
    return nullptr;
}

void CMainFrame::CreatePanes() {
    SettingsBlock& s = app_->Settings();
    struct PaneDef {
        CZKSCW** member;
        int id;
        const char* title;
        QSize* size;
    };
    const PaneDef panes[] = {
        {&output_, ID_VIEW_OUTPUT, "Output", &s.outputWndSize},
        {&terminal_, ID_VIEW_TERMINAL, "Terminal", &s.terminalWndSize},
        {&varnel_, ID_VIEW_VARNEL, "Varnel", &s.varnelWndSize},
    };
    for (const PaneDef& p : panes) {
        CZKSCW* pane;
        if (p.id == ID_VIEW_OUTPUT) {
            pane = new COutputPane(this, *p.size, this);
        } else if (p.id == ID_VIEW_TERMINAL) {
            pane = new CTerminalPane(app_->TerminalPort(), *p.size, this);
        } else {
            // The register pane shows text the way the Output pane does, in
            // its own control; nothing of the line is written into it.
            auto* varnel = new CConsolePane(p.id, QString::fromLatin1(p.title), *p.size, this);
            varnel->Control()->setAccessibleName(QStringLiteral("Registers"));
            varnel->SetConsoleFont(s.outputFont, int(s.outputFontSize));
            pane = varnel;
        }
        addDockWidget(Qt::BottomDockWidgetArea, pane);
        pane->hide();
        // The size is taken whenever the pane goes, so a pane hidden at exit
        // still keeps the size the user gave it.
        QSize* member = p.size;
        connect(pane, &QDockWidget::visibilityChanged, this, [this, pane, member](bool visible) {
            if (!visible && pane->width() > 0 && pane->height() > 0 && pane->isHidden())
                *member = pane->size();
            RequestUpdate();
        });
        *p.member = pane;
    }
    registerBar_ = new CRegisterBar(this);
    addDockWidget(Qt::RightDockWidgetArea, registerBar_);
    registerBar_->hide();
    connect(registerBar_, &QDockWidget::visibilityChanged, this, [this] { RequestUpdate(); });
    memory_ = new CMemoryPane(ID_VIEW_MEMORY, QSize(520, 200), this);
    addDockWidget(Qt::BottomDockWidgetArea, memory_);
    memory_->hide();
    connect(memory_, &QDockWidget::visibilityChanged, this, [this] { RequestUpdate(); });
    watch_ = new CWatchPane(ID_VIEW_WATCH, QSize(400, 160), this);
    addDockWidget(Qt::BottomDockWidgetArea, watch_);
    watch_->hide();
    connect(watch_, &QDockWidget::visibilityChanged, this, [this] { RequestUpdate(); });
}

void CMainFrame::CreateCommands() {
    auto hasChild = [this] { return ActiveChild() != nullptr; };
    auto hasView = [this] { return ActiveView() != nullptr; };
    auto always = std::function<bool()>();

    // File
    SetHandler(ID_FILE_NEW, [this] { app_->FileNew(); });
    SetHandler(ID_FILE_OPEN, [this] { app_->FileOpen(); });
    SetHandler(
        ID_FILE_CLOSE,
        [this] {
            if (auto* c = ActiveChild()) c->close();
        },
        hasChild);
    // Ctrl+W and Ctrl+F4 close the active document, as in other editors.
    Action(ID_FILE_CLOSE)
        ->setShortcuts({QKeySequence(Qt::CTRL | Qt::Key_W), QKeySequence(Qt::CTRL | Qt::Key_F4)});
    SetHandler(
        ID_FILE_SAVE,
        [this] {
            if (auto* c = ActiveChild()) c->Document()->DoFileSave(this);
        },
        hasChild);
    SetHandler(
        ID_FILE_SAVE_AS,
        [this] {
            if (auto* c = ActiveChild()) c->Document()->DoSave(this);
        },
        hasChild);
    SetHandler(ID_FILE_SAVE_ALL, [this] { app_->SaveAll(); });
    SetHandler(
        ID_FILE_PRINT,
        [this] {
            COxbrinView* view = ActiveView();
            if (!view) return;
            QPrinter* printer = app_->Printer();
            QPrintDialog dlg(printer, this);
            if (dlg.exec() == QDialog::Accepted) PrintView(view, printer);
        },
        hasView);
    SetHandler(ID_FILE_PRINT_SETUP, [this] {
        QPageSetupDialog dlg(app_->Printer(), this);
        dlg.exec();
    });
    SetHandler(ID_APP_EXIT, [this] { close(); });

    // Edit: the commands act on the focused text (an editor or a pane), else
    // on the active editor.
    auto target = [this] { return CommandTarget(); };
    auto writable = [target] {
        QPlainTextEdit* t = target();
        return t && !t->isReadOnly();
    };
    auto selection = [target] {
        QPlainTextEdit* t = target();
        return t && t->textCursor().hasSelection();
    };
    SetHandler(
        ID_EDIT_UNDO,
        [target] {
            if (auto* t = target()) t->undo();
        },
        [target, writable] { return writable() && target()->document()->isUndoAvailable(); });
    SetHandler(
        ID_EDIT_REDO,
        [target] {
            if (auto* t = target()) t->redo();
        },
        [target, writable] { return writable() && target()->document()->isRedoAvailable(); });
    SetHandler(
        ID_EDIT_CUT,
        [target] {
            if (auto* t = target()) t->cut();
        },
        [writable, selection] { return writable() && selection(); });
    SetHandler(
        ID_EDIT_COPY,
        [target] {
            if (auto* t = target()) t->copy();
        },
        selection);
    SetHandler(
        ID_EDIT_PASTE,
        [target] {
            if (auto* t = target()) t->paste();
        },
        [this, writable] { return writable() && clipboardHasText_; });
    SetHandler(
        ID_EDIT_CLEAR,
        [target] {
            if (auto* t = target()) t->textCursor().removeSelectedText();
        },
        [writable, selection] { return writable() && selection(); });
    SetHandler(
        ID_EDIT_SELECT_ALL,
        [target] {
            if (auto* t = target()) t->selectAll();
        },
        [target] {
            QPlainTextEdit* t = target();
            return t && !t->document()->isEmpty();
        });
    auto viewHasText = [this] {
        COxbrinView* v = ActiveView();
        return v && !v->document()->isEmpty();
    };
    SetHandler(
        ID_EDIT_FIND, [this] { find_->OpenDialog(false); }, viewHasText);
    SetHandler(
        ID_EDIT_REPLACE, [this] { find_->OpenDialog(true); }, viewHasText);
    SetHandler(
        ID_EDIT_REPEAT, [this] { find_->FindNext(); },
        [this, viewHasText] { return viewHasText() && find_->HasSearch(); });
    SetHandler(
        ID_EDIT_GOTO, [this] { GoToCommand(); }, hasView);
    SetHandler(
        ID_EDIT_TOGGLE_COMMENT,
        [this] {
            if (COxbrinView* v = ActiveView()) v->ToggleComment();
        },
        [this] {
            COxbrinView* v = ActiveView();
            return v && !v->isReadOnly();
        });
    connect(find_, &FindReplace::StatusMessage, this,
            [this](const QString& text) { statusBar()->showMessage(text); });

    // View
    for (int id : {ID_VIEW_TB_STANDARD, ID_VIEW_TB_BUILD, ID_VIEW_TB_TERMINAL, ID_VIEW_TB_DEBUG}) {
        SetHandler(
            id,
            [this, id] {
                if (auto* b = ToolBar(id)) b->setVisible(b->isHidden());
            },
            always,
            [this, id] {
                auto* b = ToolBar(id);
                return b && !b->isHidden();
            });
    }
    SetHandler(
        ID_VIEW_STATUS_BAR, [this] { statusBar()->setVisible(statusBar()->isHidden()); }, always,
        [this] { return !statusBar()->isHidden(); });
    SetHandler(
        ID_VIEW_OUTPUT, [this] { TogglePane(output_); }, always,
        [this] { return output_ && !output_->isHidden(); });
    SetHandler(
        ID_VIEW_VARNEL, [this] { TogglePane(varnel_); }, always,
        [this] { return varnel_ && !varnel_->isHidden(); });
    SetHandler(
        ID_VIEW_TERMINAL,
        [this] {
            TogglePane(terminal_);
            emit TerminalPaneToggled(!terminal_->isHidden());
        },
        always, [this] { return terminal_ && !terminal_->isHidden(); });
    SetHandler(
        ID_VIEW_REGISTER_BAR, [this] { registerBar_->setVisible(registerBar_->isHidden()); }, always,
        [this] { return registerBar_ && !registerBar_->isHidden(); });
    SetHandler(ID_FOCUS_OUTPUT, [this] { ShowAndFocusPane(output_); });
    SetHandler(
        ID_VIEW_MEMORY, [this] { TogglePane(memory_); }, always,
        [this] { return memory_ && !memory_->isHidden(); });
    SetHandler(
        ID_VIEW_WATCH, [this] { TogglePane(watch_); }, always,
        [this] { return watch_ && !watch_->isHidden(); });
    SetHandler(ID_FOCUS_TERMINAL, [this] { ShowAndFocusPane(terminal_); });
    SetHandler(ID_FOCUS_VARNEL, [this] { ShowAndFocusPane(varnel_); });

    // Window
    SetHandler(ID_WINDOW_CLOSE_ALL, [this] { app_->CloseAll(); });
    // Arranging windows needs windows: from tabs, these switch back to them.
    SetHandler(
        ID_WINDOW_CASCADE,
        [this] {
            SetTabbed(false);
            mdi_->cascadeSubWindows();
        },
        hasChild);
    SetHandler(
        ID_WINDOW_TILE_HORZ,
        [this] {
            SetTabbed(false);
            mdi_->TileWindows(true);
        },
        hasChild);
    SetHandler(
        ID_WINDOW_TILE_VERT,
        [this] {
            SetTabbed(false);
            mdi_->TileWindows(false);
        },
        hasChild);
    SetHandler(
        ID_WINDOW_ARRANGE, [this] { mdi_->ArrangeIcons(); }, hasChild);
    SetHandler(
        ID_NEXT_PANE, [this] { mdi_->activateNextSubWindow(); }, hasChild);
    SetHandler(
        ID_PREV_PANE, [this] { mdi_->activatePreviousSubWindow(); }, hasChild);

    // Help
    SetHandler(ID_HELP_FINDER, [this] { HelpTopics(); });
    SetHandler(ID_CONTEXT_HELP, [] { QWhatsThis::enterWhatsThisMode(); });
    SetHandler(ID_HELP_TEST_CRASH, [this] { TestErrorReporting(); });
    SetHandler(ID_APP_ABOUT, [this] {
        auto* dlg = new CAboutDialog(this);
        dlg->setAttribute(Qt::WA_DeleteOnClose);
        dlg->open();
    });

    // Commands of the build, the serial link and the options get their
    // handlers from those parts; until then they stay disabled. The
    // accelerators exist from the start.
    for (int id : {ID_VIEW_OPTIONS,
                   ID_BUILD_CURRENT,
                   ID_BUILD_PROJECT,
                   ID_BUILD_STOP,
                   ID_BUILD_SET_PROJECT,
                   ID_BUILD_RELEASE_PROJECT,
                   ID_BUILD_OPTIONS,
                   ID_TERMINAL_CONNECT,
                   ID_TERMINAL_UPLOAD,
                   ID_TERMINAL_DOWNLOAD,
                   ID_TERMINAL_DOWNLOAD_EEPROM,
                   ID_TERMINAL_STOP,
                   ID_TERMINAL_CLEAR,
                   ID_TERMINAL_SAVE_LOG,
                   ID_TERMINAL_OPTIONS,
                   ID_WINDOW_NEW,
                   ID_FILE_MRU_FILE1,
                   ID_DEBUG_START,
                   ID_DEBUG_PAUSE,
                   ID_DEBUG_STOP,
                   ID_DEBUG_STEP_INTO,
                   ID_DEBUG_STEP_OVER,
                   ID_DEBUG_STEP_OUT,
                   ID_DEBUG_RUN_TO_CURSOR,
                   ID_DEBUG_TOGGLE_BREAKPOINT,
                   ID_DEBUG_DELETE_BREAKPOINTS})
        Action(id);
}

QMenu* CMainFrame::AddMenu(QMenu* menu, const QString& title, std::initializer_list<int> ids) {
    if (!menu) menu = new QMenu(title, this);
    for (int id : ids) {
        if (id == 0)
            menu->addSeparator();
        else
            menu->addAction(Action(id));
    }
    connect(menu, &QMenu::aboutToShow, this, &CMainFrame::UpdateCommandUI, Qt::UniqueConnection);
    return menu;
}

void CMainFrame::CreateMenus() {
    auto makeFile = [this](bool withDocument) {
        auto* m = new QMenu(QStringLiteral("&File"), this);
        if (withDocument)
            AddMenu(m, {},
                    {ID_FILE_NEW, ID_FILE_OPEN, ID_FILE_CLOSE, ID_FILE_SAVE, ID_FILE_SAVE_AS,
                     ID_FILE_SAVE_ALL, 0, ID_FILE_PRINT, ID_FILE_PRINT_SETUP, 0});
        else
            AddMenu(m, {}, {ID_FILE_NEW, ID_FILE_OPEN, 0, ID_FILE_PRINT_SETUP, 0});
        recentAnchor_[m] = m->addSeparator();
        m->addAction(Action(ID_APP_EXIT));
        connect(m, &QMenu::aboutToShow, this, &CMainFrame::UpdateRecentFileItems);
        fileMenus_ << m;
        return m;
    };
    auto makeView = [this] {
        auto* m = new QMenu(QStringLiteral("&View"), this);
        auto* bars = m->addMenu(QStringLiteral("&Toolbars"));
        AddMenu(bars, {}, {ID_VIEW_TB_STANDARD, ID_VIEW_TB_BUILD, ID_VIEW_TB_TERMINAL, ID_VIEW_TB_DEBUG});
        AddMenu(m, {}, {ID_VIEW_STATUS_BAR});
        auto* windows = m->addMenu(QStringLiteral("&Windows"));
        AddMenu(windows, {},
                {ID_VIEW_OUTPUT, ID_VIEW_TERMINAL, ID_VIEW_VARNEL, ID_VIEW_REGISTER_BAR, ID_VIEW_MEMORY,
                 ID_VIEW_WATCH});
        AddMenu(m, {}, {0, ID_VIEW_OPTIONS});
        return m;
    };
    auto makeBuild = [this](bool withDocument) {
        if (withDocument)
            return AddMenu(nullptr, QStringLiteral("&Build"),
                           {ID_BUILD_CURRENT, ID_BUILD_PROJECT, ID_BUILD_STOP, 0, ID_BUILD_NEXT_MESSAGE,
                            ID_BUILD_PREV_MESSAGE, 0, ID_BUILD_SET_PROJECT, ID_BUILD_RELEASE_PROJECT, 0,
                            ID_BUILD_OPTIONS});
        return AddMenu(nullptr, QStringLiteral("&Build"),
                       {ID_BUILD_PROJECT, ID_BUILD_STOP, 0, ID_BUILD_NEXT_MESSAGE, ID_BUILD_PREV_MESSAGE, 0,
                        ID_BUILD_RELEASE_PROJECT, 0, ID_BUILD_OPTIONS});
    };
    auto makeTerminal = [this] {
        auto* m = AddMenu(nullptr, QStringLiteral("&Terminal"), {ID_TERMINAL_CONNECT});
        m->addAction(MenuItem(ID_VIEW_TERMINAL, QString::fromLatin1(kTerminalMenuShowText)));
        AddMenu(m, {},
                {0, ID_TERMINAL_DOWNLOAD, ID_TERMINAL_DOWNLOAD_EEPROM, ID_TERMINAL_STOP, 0, ID_TERMINAL_CLEAR,
                 ID_TERMINAL_SAVE_LOG, 0, ID_TERMINAL_OPTIONS});
        return m;
    };
    auto makeDebug = [this] {
        return AddMenu(nullptr, QStringLiteral("&Debug"),
                       {ID_DEBUG_START, ID_DEBUG_PAUSE, ID_DEBUG_STOP, 0, ID_DEBUG_STEP_INTO,
                        ID_DEBUG_STEP_OVER, ID_DEBUG_STEP_OUT, ID_DEBUG_RUN_TO_CURSOR, 0,
                        ID_DEBUG_TOGGLE_BREAKPOINT, ID_DEBUG_DELETE_BREAKPOINTS});
    };
    auto makeHelp = [this] {
        return AddMenu(nullptr, QStringLiteral("&Help"),
                       {ID_HELP_FINDER, 0, ID_HELP_TEST_CRASH, 0, ID_APP_ABOUT});
    };

    menus128_ = {makeFile(false), makeView(), makeBuild(false), makeTerminal(), makeHelp()};

    auto* edit = AddMenu(nullptr, QStringLiteral("&Edit"),
                         {ID_EDIT_UNDO, ID_EDIT_REDO, 0, ID_EDIT_CUT, ID_EDIT_COPY, ID_EDIT_PASTE,
                          ID_EDIT_CLEAR, ID_EDIT_SELECT_ALL, 0, ID_EDIT_FIND, ID_EDIT_REPEAT, ID_EDIT_REPLACE,
                          0, ID_EDIT_GOTO, 0, ID_EDIT_TOGGLE_COMMENT});
    windowMenu_ = AddMenu(nullptr, QStringLiteral("&Window"),
                          {ID_WINDOW_CASCADE, ID_WINDOW_TILE_HORZ, ID_WINDOW_TILE_VERT, ID_WINDOW_ARRANGE, 0,
                           ID_WINDOW_CLOSE_ALL});
    connect(windowMenu_, &QMenu::aboutToShow, this, [this] { UpdateWindowMenu(windowMenu_); });
    menus129_ = {makeFile(true), edit,           makeView(),  makeBuild(true),
                 makeDebug(),    makeTerminal(), windowMenu_, makeHelp()};
}

void CMainFrame::UpdateMenuSet() {
    const int wanted = mdi_->subWindowList().isEmpty() ? 128 : 129;
    if (wanted == menuSet_) return;
    menuSet_ = wanted;
    QMenuBar* bar = menuBar();
    bar->clear();
    for (QMenu* m : wanted == 128 ? menus128_ : menus129_) bar->addMenu(m);
}

void CMainFrame::UpdateRecentFileItems() {
    const QStringList& files = app_->RecentFiles();
    for (QMenu* menu : fileMenus_) {
        for (QAction* a : recentItems_.value(menu)) {
            menu->removeAction(a);
            a->deleteLater();
        }
        QList<QAction*> items;
        QAction* anchor = recentAnchor_.value(menu);
        if (files.isEmpty()) {
            auto* placeholder =
                new QAction(QString::fromLatin1(FindCommand(ID_FILE_MRU_FILE1)->menuText), menu);
            placeholder->setEnabled(false);
            items << placeholder;
        }
        for (int i = 0; i < files.size(); ++i) {
            QString shown = files[i];
            shown.replace(QLatin1Char('&'), QStringLiteral("&&"));
            auto* a = new QAction(QStringLiteral("&%1 %2").arg(i + 1).arg(shown), menu);
            a->setStatusTip(QString::fromLatin1(FindCommand(ID_FILE_MRU_FILE1)->prompt));
            const QString path = files[i];
            connect(a, &QAction::triggered, this, [this, path] {
                if (!app_->OpenDocumentFile(path)) app_->RemoveFromRecentFileList(path);
            });
            items << a;
        }
        QAction* before = anchor;
        if (!items.isEmpty()) {
            // The list sits between two separators, just above Exit.
            auto* sep = new QAction(menu);
            sep->setSeparator(true);
            items << sep;
        }
        for (QAction* a : items) menu->insertAction(before, a);
        recentItems_[menu] = items;
    }
}

void CMainFrame::UpdateWindowMenu(QMenu* menu) {
    UpdateCommandUI();
    for (QAction* a : windowItems_) {
        menu->removeAction(a);
        a->deleteLater();
    }
    windowItems_.clear();
    const QList<QMdiSubWindow*> windows = mdi_->subWindowList(QMdiArea::CreationOrder);
    if (windows.isEmpty()) return;
    windowItems_ << menu->addSeparator();
    int n = 0;
    for (QMdiSubWindow* w : windows) {
        auto* child = qobject_cast<CChildFrame*>(w);
        QString title = child ? child->Document()->Title() : w->windowTitle();
        title.replace(QLatin1Char('&'), QStringLiteral("&&"));
        auto* a = menu->addAction(n < 9 ? QStringLiteral("&%1 %2").arg(n + 1).arg(title) : title);
        a->setCheckable(true);
        a->setChecked(w == mdi_->activeSubWindow());
        connect(a, &QAction::triggered, this, [this, w] { mdi_->setActiveSubWindow(w); });
        windowItems_ << a;
        ++n;
    }
}

void CMainFrame::AddChild(CChildFrame* child) {
    // A new document opens as the active one is shown: maximised when it is
    // (or when it is the first), else as a window of its own size.
    QMdiSubWindow* active = mdi_->activeSubWindow();
    const bool maximise = !active || active->isMaximized() || mdi_->viewMode() == QMdiArea::TabbedView;
    mdi_->addSubWindow(child);
    ConnectView(child->View());
    emit ViewAdded(child->View());
    connect(child, &QObject::destroyed, this, [this] {
        if (mdi_) mdi_->viewport()->update();
        UpdateMenuSet();
        UpdateCaption();
        UpdatePosition();
        RequestUpdate();
    });
    connect(child, &QMdiSubWindow::windowStateChanged, this,
            [this] { QTimer::singleShot(0, this, &CMainFrame::UpdateCaption); });
    if (maximise) {
        child->showMaximized();
    } else {
        const QRect area = mdi_->viewport()->rect();
        child->resize(qMax(320, area.width() * 2 / 3), qMax(200, area.height() * 2 / 3));
        child->show();
    }
    mdi_->setActiveSubWindow(child);
    // Another window that was maximised stays so (Qt restores it when a
    // new window comes).
    if (maximise && !child->isMaximized()) child->showMaximized();
    child->View()->setFocus();
    UpdateMenuSet();
    UpdateCaption();
    UpdatePosition();
    UpdateCommandUI();
}

void CMainFrame::ConnectView(COxbrinView* view) {
    connect(view, &COxbrinView::PositionChanged, this, &CMainFrame::UpdatePosition);
    connect(view, &QPlainTextEdit::selectionChanged, this, &CMainFrame::RequestUpdate);
    connect(view, &QPlainTextEdit::undoAvailable, this, &CMainFrame::RequestUpdate);
    connect(view, &QPlainTextEdit::redoAvailable, this, &CMainFrame::RequestUpdate);
    connect(view, &QPlainTextEdit::textChanged, this, &CMainFrame::RequestUpdate);
    connect(view, &COxbrinView::EscapePressed, this, [this] {
        if (output_ && !output_->isHidden()) output_->hide();
    });
    connect(view, &COxbrinView::FilesDropped, this, [this](const QStringList& files) {
        for (const QString& f : files) app_->OpenDocumentFile(f);
    });
    connect(view, &COxbrinView::ContextMenuRequested, this, [this](const QPoint& pos) {
        UpdateCommandUI();
        EditorContextMenu()->popup(pos);
    });
    connect(view->GetDocument(), &COxbrinDoc::TitleChanged, this, &CMainFrame::UpdateCaption);
}

CChildFrame* CMainFrame::ActiveChild() const {
    // The current window, also while another program has the focus (the
    // tabs have no active window then).
    if (!mdi_) return nullptr;
    QMdiSubWindow* current = mdi_->currentSubWindow();
    // Before the frame was ever active the area names no current window:
    // the one opened last is the one on top.
    if (!current && !mdi_->subWindowList().isEmpty())
        current = mdi_->subWindowList(QMdiArea::ActivationHistoryOrder).last();
    return qobject_cast<CChildFrame*>(current);
}

COxbrinView* CMainFrame::ActiveView() const {
    CChildFrame* child = ActiveChild();
    return child ? child->View() : nullptr;
}

QPlainTextEdit* CMainFrame::CommandTarget() const {
    if (auto* focused = qobject_cast<QPlainTextEdit*>(QApplication::focusWidget())) {
        if (focused->window() == this) return focused;
    }
    return ActiveView();
}

QString CMainFrame::WantedCaption() const {
    CChildFrame* child = ActiveChild();
    QString title = QString::fromLatin1(strings::kAppTitle);
    // A maximised document window names itself in the frame's caption as
    // "<caption> - [<window title>]" unless the caption already holds that
    // part; the frame writes it so, and the document is named once.
    // A modified document is marked with "*" however its window is shown.
    if (!child) return title;
    if (child->isMaximized() || mdi_->viewMode() == QMdiArea::TabbedView) {
        // The window's title keeps its "[*]": the maximised window itself
        // looks for its title in the caption, and marks the frame modified
        // with the document (the caption shows "*" there).
        title += QStringLiteral(" - [") + child->windowTitle() + QLatin1Char(']');
        return title;
    }
    title += QStringLiteral(" - ") + child->Document()->Title();
    if (child->Document()->IsModified()) title += QLatin1Char('*');
    return title;
}

void CMainFrame::UpdateCaption() {
    caption_ = WantedCaption();
    // The "[*]" of a maximised or tabbed document's title shows as "*" while
    // it is modified; a caption without one has the "*" written out.
    CChildFrame* child = ActiveChild();
    const bool modified = child && child->Document()->IsModified() && caption_.contains(QLatin1String("[*]"));
    if (windowTitle() != caption_) {
        settingCaption_ = true;
        setWindowTitle(caption_);
        settingCaption_ = false;
    }
    if (isWindowModified() != modified) setWindowModified(modified);
}

void CMainFrame::changeEvent(QEvent* e) {
    // A document window that is maximised or restored rewrites the caption
    // on its own (and puts back the one it found when it was maximised): the
    // caption is worked out again once that is over.
    if (e->type() == QEvent::WindowTitleChange && !settingCaption_ && !caption_.isEmpty())
        QTimer::singleShot(0, this, [this] {
            if (windowTitle() != WantedCaption()) UpdateCaption();
        });
    QMainWindow::changeEvent(e);
}

void CMainFrame::ApplyDocumentMode() { SetTabbed(app_->Settings().tabbedDocuments != 0); }

void CMainFrame::SetTabbed(bool tabbed) {
    const QMdiArea::ViewMode mode = tabbed ? QMdiArea::TabbedView : QMdiArea::SubWindowView;
    if (mdi_->viewMode() == mode) return;
    QMdiSubWindow* active = mdi_->activeSubWindow();
    mdi_->setViewMode(mode);
    if (!tabbed) {
        // Back from tabs, the documents are windows again, the active one on
        // top and maximised as the tab was.
        if (active) active->showMaximized();
        UpdateCaption();
        return;
    }
    mdi_->setDocumentMode(true);
    mdi_->setTabsClosable(true);
    mdi_->setTabsMovable(true);
    // The area makes a new tab bar each time it goes back to tabs; each bar
    // gets its menu once.
    QTabBar* bar = mdi_->findChild<QTabBar*>();
    if (bar && bar->objectName() != QLatin1String("DocumentTabs")) {
        bar->setObjectName(QStringLiteral("DocumentTabs"));
        bar->setAccessibleName(QStringLiteral("Documents"));
        bar->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(bar, &QWidget::customContextMenuRequested, this, [this, bar](const QPoint& at) {
            const int index = bar->tabAt(at);
            const QList<QMdiSubWindow*> windows = mdi_->subWindowList(QMdiArea::CreationOrder);
            if (index < 0) return;
            // The area keeps its windows in the tabs' order, moves included.
            QMdiSubWindow* w = windows.value(index);
            if (w) mdi_->setActiveSubWindow(w);
            TabContextMenu()->popup(bar->mapToGlobal(at));
        });
    }
    UpdateCaption();
}

QMenu* CMainFrame::TabContextMenu() {
    if (!tabMenu_) {
        tabMenu_ = new QMenu(this);
        tabMenu_->setObjectName(QStringLiteral("DocumentTabMenu"));
        tabMenu_->addAction(MenuItem(ID_FILE_SAVE, QStringLiteral("&Save")));
        tabMenu_->addAction(MenuItem(ID_FILE_CLOSE, QStringLiteral("&Close")));
        QAction* others = tabMenu_->addAction(QStringLiteral("Close &Others"));
        connect(others, &QAction::triggered, this, [this] {
            CChildFrame* keep = ActiveChild();
            for (CChildFrame* child : app_->Children()) {
                // A document whose question is answered Cancel stops the rest.
                if (child != keep && !child->close()) break;
            }
        });
        tabMenu_->addAction(MenuItem(ID_WINDOW_CLOSE_ALL, QStringLiteral("Close A&ll")));
        connect(tabMenu_, &QMenu::aboutToShow, this, &CMainFrame::UpdateCommandUI);
    }
    UpdateCommandUI();
    return tabMenu_;
}

void CMainFrame::UpdatePosition() {
    COxbrinView* view = ActiveView();
    if (!view) {
        position_->clear();
        return;
    }
    position_->setText(
        QString::fromLatin1(strings::kPositionFormat).arg(view->CaretLine()).arg(view->CaretColumn()));
}

QMenu* CMainFrame::BarContextMenu() {
    if (!barMenu_) {
        barMenu_ = new QMenu(this);
        barMenu_->addAction(MenuItem(ID_VIEW_OUTPUT, QStringLiteral("&Output")));
        barMenu_->addAction(MenuItem(ID_VIEW_TERMINAL, QStringLiteral("&Terminal")));
        QMenu* bars = barMenu_->addMenu(QStringLiteral("&Toolbars"));
        bars->addAction(MenuItem(ID_VIEW_TB_STANDARD, QStringLiteral("&Standart")));
        bars->addAction(MenuItem(ID_VIEW_TB_TERMINAL, QStringLiteral("&Terminal")));
        bars->addAction(MenuItem(ID_VIEW_TB_BUILD, QStringLiteral("&Build")));
        bars->addAction(MenuItem(ID_VIEW_TB_DEBUG, QStringLiteral("&Debug")));
        connect(barMenu_, &QMenu::aboutToShow, this, &CMainFrame::UpdateCommandUI);
    }
    UpdateCommandUI();
    return barMenu_;
}

QMenu* CMainFrame::EditorContextMenu() {
    if (!editorMenu_) {
        editorMenu_ = new QMenu(this);
        editorMenu_->addAction(MenuItem(ID_EDIT_CUT, QStringLiteral("Cu&t")));
        editorMenu_->addAction(MenuItem(ID_EDIT_COPY, QStringLiteral("&Copy")));
        editorMenu_->addAction(MenuItem(ID_EDIT_PASTE, QStringLiteral("&Paste")));
        editorMenu_->addSeparator();
        editorMenu_->addAction(MenuItem(ID_EDIT_FIND, QStringLiteral("&Find...")));
        editorMenu_->addAction(MenuItem(ID_EDIT_REPLACE, QStringLiteral("R&eplace...")));
        connect(editorMenu_, &QMenu::aboutToShow, this, &CMainFrame::UpdateCommandUI);
    }
    UpdateCommandUI();
    return editorMenu_;
}

void CMainFrame::contextMenuEvent(QContextMenuEvent* e) {
    // A right click on a toolbar, a pane's frame or the status bar offers the
    // bar toggles.
    for (QWidget* w = childAt(e->pos()); w && w != this; w = w->parentWidget()) {
        if (qobject_cast<QToolBar*>(w) || qobject_cast<QDockWidget*>(w) || qobject_cast<QStatusBar*>(w)) {
            BarContextMenu()->popup(e->globalPos());
            e->accept();
            return;
        }
    }
    QMainWindow::contextMenuEvent(e);
}

void CMainFrame::TogglePane(CZKSCW* pane) {
    if (pane->isHidden()) {
        ShowAndFocusPane(pane);
    } else {
        pane->hide();
        if (COxbrinView* view = ActiveView()) view->setFocus();
    }
    UpdateCommandUI();
}

void CMainFrame::ShowAndFocusPane(CZKSCW* pane) {
    const bool wasHidden = pane->isHidden();
    pane->show();
    if (wasHidden) ShareBottomRow(pane);
    pane->raise();
    if (QWidget* w = pane->Content()) w->setFocus();
    UpdateCommandUI();
}

void CMainFrame::ShareBottomRow(CZKSCW* shown) {
    // A pane that joins another in the row below the editor would get only a
    // sliver of it (the row keeps its old split); the panes side by side
    // share the width evenly instead. Panes the user has stacked, tabbed or
    // floated are left where they are.
    if (shown->isFloating() || dockWidgetArea(shown) != Qt::BottomDockWidgetArea) return;
    QList<QDockWidget*> row;
    for (CZKSCW* p : {output_, terminal_, varnel_}) {
        if (p && !p->isHidden() && !p->isFloating() && dockWidgetArea(p) == Qt::BottomDockWidgetArea &&
            tabifiedDockWidgets(p).isEmpty())
            row << p;
    }
    if (row.size() < 2) return;
    QPointer<CMainFrame> self(this);
    QTimer::singleShot(0, this, [self, row] {
        if (!self) return;
        QList<QDockWidget*> docks;
        for (QDockWidget* d : row) {
            if (!d->isHidden()) docks << d;
        }
        // Only a row: panes one above the other share a height, not a width.
        for (QDockWidget* d : docks) {
            if (d->geometry().top() != docks.front()->geometry().top()) return;
        }
        if (docks.size() >= 2)
            self->resizeDocks(docks, QList<int>(docks.size(), self->width() / int(docks.size())),
                              Qt::Horizontal);
    });
}

void CMainFrame::GoToCommand() {
    COxbrinView* view = ActiveView();
    if (!view) return;
    auto* dlg = new CGoToDialog(view->CaretLine(), this);
    dlg->setAttribute(Qt::WA_DeleteOnClose);
    QPointer<COxbrinView> target(view);
    connect(dlg, &QDialog::accepted, this, [dlg, target] {
        if (target) {
            target->GoToLine(dlg->Line(), 1);
            target->setFocus();
        }
    });
    dlg->open();
}

void CMainFrame::HelpTopics() {
    if (helpIndex_.isEmpty() || !QFileInfo(helpIndex_).isFile()) {
        ShowMessage(this,
                    QStringLiteral("Oxbrin has detected that its help files are missing.\n"
                                   "The manual is expected in the folder \"help\" beside the program.\n"
                                   "Reinstall Oxbrin to get it back."),
                    QMessageBox::Information);
        return;
    }
    if (!help_) help_ = new CHelpWindow(helpIndex_);
    help_->show();
    help_->raise();
    help_->activateWindow();
}

void CMainFrame::TestErrorReporting() {
    // Enter answers No: a stray key must not end the program and lose work.
    if (ShowMessage(this, QString::fromLatin1(strings::kTestCrash), QMessageBox::NoIcon,
                    QMessageBox::Yes | QMessageBox::No, QString(), {}, QMessageBox::No) == QMessageBox::Yes)
        crashhook::CrashMe();
}

void CMainFrame::closeEvent(QCloseEvent* e) {
    SettingsBlock& s = app_->Settings();
    s.windowPlacement = saveGeometry();
    auto paneSize = [](CZKSCW* pane, QSize& member) {
        if (!pane->isHidden() && pane->width() > 0 && pane->height() > 0) member = pane->size();
    };
    paneSize(output_, s.outputWndSize);
    paneSize(terminal_, s.terminalWndSize);
    paneSize(varnel_, s.varnelWndSize);
    SaveControlBars(app_->Store(), saveState(kBarStateVersion));
    if (!app_->SaveAllModified()) {
        e->ignore();
        return;
    }
    app_->CloseAllDocuments();
    if (help_) help_->close();
    e->accept();
}

void CMainFrame::dragEnterEvent(QDragEnterEvent* e) {
    if (!LocalFiles(e->mimeData()).isEmpty()) e->acceptProposedAction();
}

void CMainFrame::dropEvent(QDropEvent* e) {
    const QStringList files = LocalFiles(e->mimeData());
    if (files.isEmpty()) return;
    e->acceptProposedAction();
    activateWindow();
    for (const QString& f : files) app_->OpenDocumentFile(f);
}

bool CMainFrame::eventFilter(QObject* watched, QEvent* e) {
    // A desktop that turns dark (or light) takes the editor's colours with it
    // unless the user has chosen their own.
    if (watched == qApp && e->type() == QEvent::ApplicationPaletteChange &&
        app_->Settings().editorColours.isEmpty())
        QTimer::singleShot(0, this, [this] { app_->ApplyEditorFormatToAll(); });
    // A tab that closes goes from the area before the window is deleted, and
    // the area may not say so: menus, caption and position follow at once.
    if (e->type() == QEvent::Close && qobject_cast<CChildFrame*>(watched))
        QTimer::singleShot(0, this, [this] {
            UpdateMenuSet();
            UpdateCaption();
            UpdatePosition();
            RequestUpdate();
        });
    if ((e->type() == QEvent::KeyPress || e->type() == QEvent::KeyRelease) &&
        QGuiApplication::platformName() == QLatin1String("xcb")) {
        // X11 reports the lock keys in the modifier state of every key event.
        const quint32 state = static_cast<QKeyEvent*>(e)->nativeModifiers();
        indicators_[0]->setText(state & 0x2 ? QStringLiteral("CAP") : QString());
        indicators_[1]->setText(state & 0x10 ? QStringLiteral("NUM") : QString());
    }
    return QMainWindow::eventFilter(watched, e);
}

} // namespace oxbrin
