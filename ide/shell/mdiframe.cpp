#include "mdiframe.h"

#include "commands.h"
#include "icons.h"

#include <QAction>
#include <QMdiSubWindow>
#include <QPainter>
#include <QTimer>

namespace oxbrin {

// ---------------------------------------------------------------------------
// Command routing

CZKMDIFrameWnd::CZKMDIFrameWnd(QWidget* parent) : QMainWindow(parent) {}

CZKMDIFrameWnd::Command& CZKMDIFrameWnd::Entry(int id) { return commands_[id]; }

QAction* CZKMDIFrameWnd::Action(int id) {
    Command& c = Entry(id);
    if (!c.actions.isEmpty()) return c.actions.front();
    auto* a = new QAction(this);
    a->setData(id);
    if (const CommandInfo* info = FindCommand(id)) {
        a->setText(QString::fromLatin1(info->menuText));
        const QStringList prompt = QString::fromLatin1(info->prompt).split(QLatin1Char('\n'));
        a->setStatusTip(prompt.value(0));
        a->setWhatsThis(prompt.value(0));
        a->setToolTip(prompt.size() > 1 ? prompt[1] : prompt.value(0));
        if (*info->keys) a->setShortcut(QKeySequence(QString::fromLatin1(info->keys)));
    }
    a->setIcon(CommandIcon(id));
    a->setEnabled(false);
    connect(a, &QAction::triggered, this, [this, id] { Execute(id); });
    // Added to the frame itself so its accelerator works without a menu item.
    addAction(a);
    c.actions << a;
    return a;
}

QAction* CZKMDIFrameWnd::MenuItem(int id, const QString& text) {
    QAction* primary = Action(id);
    auto* a = new QAction(text, this);
    a->setData(id);
    a->setStatusTip(primary->statusTip());
    a->setIcon(primary->icon());
    a->setEnabled(primary->isEnabled());
    connect(a, &QAction::triggered, this, [this, id] { Execute(id); });
    Entry(id).actions << a;
    return a;
}

void CZKMDIFrameWnd::SetHandler(int id, std::function<void()> handler, std::function<bool()> enabled,
                                std::function<bool()> checked) {
    Action(id);
    Command& c = Entry(id);
    c.handler = std::move(handler);
    c.enabled = std::move(enabled);
    c.checked = std::move(checked);
    for (QAction* a : c.actions) a->setCheckable(static_cast<bool>(c.checked));
}

void CZKMDIFrameWnd::SetGuard(int id, std::function<bool()> guard) {
    Action(id);
    Entry(id).guard = std::move(guard);
}

bool CZKMDIFrameWnd::IsEnabled(int id) const {
    auto it = commands_.find(id);
    if (it == commands_.end() || !it->handler) return false;
    return !it->enabled || it->enabled();
}

bool CZKMDIFrameWnd::IsChecked(int id) const {
    auto it = commands_.find(id);
    return it != commands_.end() && it->checked && it->checked();
}

bool CZKMDIFrameWnd::Execute(int id) {
    if (!IsEnabled(id)) return false;
    // Copy: the handler may replace the table entry.
    auto handler = commands_[id].handler;
    if (auto guard = commands_[id].guard; guard && !guard()) {
        RequestUpdate();
        return true;
    }
    handler();
    RequestUpdate();
    return true;
}

void CZKMDIFrameWnd::UpdateCommandUI() {
    for (auto it = commands_.begin(); it != commands_.end(); ++it) {
        const bool enabled = IsEnabled(it.key());
        const bool checked = it->checked && it->checked();
        for (QAction* a : it->actions) {
            a->setEnabled(enabled);
            if (it->checked) {
                a->setCheckable(true);
                a->setChecked(checked);
            }
        }
    }
}

void CZKMDIFrameWnd::RequestUpdate() {
    if (updatePending_) return;
    updatePending_ = true;
    QTimer::singleShot(0, this, [this] {
        updatePending_ = false;
        UpdateCommandUI();
    });
}

// ---------------------------------------------------------------------------
// Document area

void CMdiClient::paintEvent(QPaintEvent* e) {
    QMdiArea::paintEvent(e);
    if (!subWindowList().isEmpty()) return;
    QPainter painter(viewport());
    // The area's background is a mid grey: the light text colour of
    // selections reads on it in every palette.
    painter.setPen(palette().color(QPalette::HighlightedText));
    painter.drawText(viewport()->rect().adjusted(16, 16, -16, -16), Qt::AlignCenter | Qt::TextWordWrap,
                     QString::fromLatin1(strings::kEmptyAreaHint));
}

void CMdiClient::TileWindows(bool horizontally) {
    QList<QMdiSubWindow*> windows;
    for (QMdiSubWindow* w : subWindowList(QMdiArea::CreationOrder)) {
        if (!w->isMinimized() && w->isVisible()) windows << w;
    }
    if (windows.isEmpty()) return;
    const QRect area = viewport()->rect();
    const int n = static_cast<int>(windows.size());
    for (int i = 0; i < n; ++i) {
        QMdiSubWindow* w = windows[i];
        if (w->isMaximized()) w->showNormal();
        if (horizontally) {
            const int h = area.height() / n;
            w->setGeometry(0, i * h, area.width(), i == n - 1 ? area.height() - i * h : h);
        } else {
            const int wd = area.width() / n;
            w->setGeometry(i * wd, 0, i == n - 1 ? area.width() - i * wd : wd, area.height());
        }
    }
}

void CMdiClient::ArrangeIcons() {
    const QRect area = viewport()->rect();
    int x = 0;
    int y = area.bottom();
    for (QMdiSubWindow* w : subWindowList(QMdiArea::CreationOrder)) {
        if (!w->isMinimized()) continue;
        const QSize s = w->size();
        if (x + s.width() > area.width() && x > 0) {
            x = 0;
            y -= s.height();
        }
        w->move(x, y - s.height() + 1);
        x += s.width();
    }
}

} // namespace oxbrin
