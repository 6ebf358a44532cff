#include "zkbars.h"

#include "commands.h"

#include <QFontDatabase>
#include <QGridLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace oxbrin {

CZKToolBar::CZKToolBar(int id, const QString& title, QWidget* parent) : QToolBar(title, parent), id_(id) {
    setObjectName(QStringLiteral("ToolBar%1").arg(id));
    setAllowedAreas(Qt::AllToolBarAreas);
    setMovable(true);
    setFloatable(true);
    setIconSize(QSize(16, 16));
}

CZKSCW::CZKSCW(int id, const QString& title, QSize initialSize, QWidget* parent)
    : QDockWidget(title, parent), id_(id), initial_(initialSize) {
    setObjectName(QStringLiteral("Pane%1").arg(id));
    setAllowedAreas(Qt::AllDockWidgetAreas);
    setFeatures(QDockWidget::DockWidgetClosable | QDockWidget::DockWidgetMovable | QDockWidget::DockWidgetFloatable);
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

}  // namespace

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

CPaneText::CPaneText(QWidget* parent) : QPlainTextEdit(parent) {
    setReadOnly(true);
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
}

CRegisterBar::CRegisterBar(QWidget* parent) : QDockWidget(QString(strings::kDialogBarTitle), parent) {
    setObjectName(QStringLiteral("Bar%1").arg(ID_VIEW_REGISTER_BAR));
    setAllowedAreas(Qt::AllDockWidgetAreas);
    auto* body = new QWidget(this);
    auto* grid = new QGridLayout(body);
    QFont mono(QStringLiteral("Courier"));
    mono.setStyleHint(QFont::TypeWriter);
    struct Row {
        const char* label;
        int id;
    };
    static constexpr Row rows[] = {{"A", 106}, {"B", 111}, {"D", 105}, {"X", 107}, {"Y", 108}, {"SP", 109}, {"PC", 110}};
    int r = 0;
    for (const Row& row : rows) {
        auto* label = new QLabel(QString::fromLatin1(row.label), body);
        label->setFont(mono);
        auto* edit = new QLineEdit(body);
        edit->setObjectName(QStringLiteral("Reg%1").arg(row.id));
        edit->setAlignment(Qt::AlignRight);
        edit->setFont(mono);
        edit->setMaximumWidth(90);
        label->setBuddy(edit);
        grid->addWidget(label, r, 0);
        grid->addWidget(edit, r, 1);
        ++r;
    }
    auto* ccr = new QLabel(QStringLiteral("SXHINZFC"), body);
    ccr->setFont(mono);
    ccr->setAlignment(Qt::AlignRight);
    grid->addWidget(ccr, r, 1);
    grid->setRowStretch(r + 1, 1);
    setWidget(body);
}

QLineEdit* CRegisterBar::Field(int controlId) const {
    return findChild<QLineEdit*>(QStringLiteral("Reg%1").arg(controlId));
}

}  // namespace oxbrin
