#include "zkbars.h"

#include <QVBoxLayout>

namespace oxbrin {

CZKToolBar::CZKToolBar(int id, const QString& title, QWidget* parent) : QToolBar(title, parent), id_(id) {
    setObjectName(QStringLiteral("ToolBar%1").arg(id));
    // Screen readers name bars and panes by their titles.
    setAccessibleName(title + QStringLiteral(" toolbar"));
    setAllowedAreas(Qt::AllToolBarAreas);
    setMovable(true);
    setFloatable(true);
    setIconSize(QSize(16, 16));
}

CZKSCW::CZKSCW(int id, const QString& title, QSize initialSize, QWidget* parent)
    : QDockWidget(title, parent), id_(id), initial_(initialSize) {
    setObjectName(QStringLiteral("Pane%1").arg(id));
    setAccessibleName(title);
    setAllowedAreas(Qt::AllDockWidgetAreas);
    setFeatures(QDockWidget::DockWidgetClosable | QDockWidget::DockWidgetMovable |
                QDockWidget::DockWidgetFloatable);
}

namespace {

// Holds a pane's content and asks for the stored pane size, whatever the
// content itself would like.
class PaneHost : public QWidget {
public:
    explicit PaneHost(QWidget* parent) : QWidget(parent) {
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
    }
    QSize hint{200, 100};
    QSize sizeHint() const override { return hint; }
};

} // namespace

void CZKSCW::SetInitialSize(QSize size) {
    initial_ = size;
    if (auto* host = dynamic_cast<PaneHost*>(widget())) {
        host->hint = size;
        host->updateGeometry();
    }
}

void CZKSCW::SetContent(QWidget* content) {
    auto* host = dynamic_cast<PaneHost*>(widget());
    if (!host) {
        host = new PaneHost(this);
        setWidget(host);
    }
    if (content_) {
        host->layout()->removeWidget(content_);
        content_->deleteLater();
    }
    content_ = content;
    content->setParent(host);
    host->layout()->addWidget(content);
    setFocusProxy(content);
    SetInitialSize(initial_);
}

} // namespace oxbrin
