#include "registerbar.h"

#include "options/fontfaces.h"
#include "shell/commands.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>

namespace oxbrin {

CRegisterBar::CRegisterBar(QWidget* parent) : QDockWidget(QString(strings::kDialogBarTitle), parent) {
    setObjectName(QStringLiteral("Bar%1").arg(ID_VIEW_REGISTER_BAR));
    setAllowedAreas(Qt::AllDockWidgetAreas);
    auto* body = new QWidget(this);
    auto* grid = new QGridLayout(body);
    QFont mono(UsableFixedFace(QStringLiteral("Courier")));
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
