#pragma once

// The MDI frame underneath the main frame: the routing of command ids to
// actions, handlers and update rules, and the document area with the
// arrangements of the Window menu.

#include <QHash>
#include <QList>
#include <QMainWindow>
#include <QMdiArea>

#include <functional>

class QAction;

namespace oxbrin {

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

// The document area; while it holds no window it says how to get one.
class CMdiClient : public QMdiArea {
public:
    using QMdiArea::QMdiArea;

    // The visible windows that are not minimised, in the order they were
    // opened, one above the other (horizontally) or side by side.
    void TileWindows(bool horizontally);
    // The minimised windows in rows along the bottom of the area.
    void ArrangeIcons();

protected:
    void paintEvent(QPaintEvent* e) override;
};

} // namespace oxbrin
