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
    static constexpr Row rows[] = {{"A", 106}, {"B", 111},  {"D", 105}, {"X", 107},
                                   {"Y", 108}, {"SP", 109}, {"PC", 110}};
    auto addField = [&](const QString& name, int id, int row) {
        auto* edit = new QLineEdit(body);
        edit->setObjectName(QStringLiteral("Reg%1").arg(id));
        // Screen readers and test tools find a register by its name.
        edit->setAccessibleName(name);
        edit->setAlignment(Qt::AlignRight);
        edit->setFont(mono);
        edit->setMaximumWidth(90);
        grid->addWidget(edit, row, 1);
        fields_.insert(name, edit);
        connect(edit, &QLineEdit::returnPressed, this,
                [this, name, edit] { emit RegisterEdited(name, edit->text()); });
        return edit;
    };
    int r = 0;
    for (const Row& row : rows) {
        auto* label = new QLabel(QString::fromLatin1(row.label), body);
        label->setFont(mono);
        label->setBuddy(addField(QString::fromLatin1(row.label), row.id, r));
        grid->addWidget(label, r, 0);
        ++r;
    }
    auto* ccr = new QLabel(QStringLiteral("SXHINZFC"), body);
    ccr->setFont(mono);
    ccr->setAlignment(Qt::AlignRight);
    grid->addWidget(ccr, r, 1);
    ++r;
    auto* ccrLabel = new QLabel(QStringLiteral("CCR"), body);
    ccrLabel->setFont(mono);
    ccrLabel->setBuddy(addField(QStringLiteral("CCR"), kCcrId, r));
    grid->addWidget(ccrLabel, r, 0);
    grid->setRowStretch(r + 1, 1);
    setWidget(body);
}

QLineEdit* CRegisterBar::Field(int controlId) const {
    return findChild<QLineEdit*>(QStringLiteral("Reg%1").arg(controlId));
}

QLineEdit* CRegisterBar::FieldNamed(const QString& name) const { return fields_.value(name.toUpper()); }

void CRegisterBar::SetField(const QString& name, const QString& text, bool changed) {
    QLineEdit* edit = fields_.value(name);
    edit->setText(text);
    edit->setCursorPosition(0);
    // A changed value in bold red on its own, so it shows in either scheme.
    edit->setStyleSheet(changed ? QStringLiteral("QLineEdit { color: #C00000; font-weight: bold; }")
                                : QString());
    edit->setAccessibleDescription(changed ? QStringLiteral("changed") : QString());
}

void CRegisterBar::ShowValues(const Values& v) {
    auto hex = [](unsigned value, int digits) {
        return QStringLiteral("%1").arg(value, digits, 16, QLatin1Char('0')).toUpper();
    };
    const Values& o = last_;
    const bool h = haveValues_;
    SetField(QStringLiteral("A"), hex(v.a, 2), h && v.a != o.a);
    SetField(QStringLiteral("B"), hex(v.b, 2), h && v.b != o.b);
    SetField(QStringLiteral("D"), hex(v.a << 8 | v.b, 4), h && (v.a != o.a || v.b != o.b));
    SetField(QStringLiteral("X"), hex(v.x, 4), h && v.x != o.x);
    SetField(QStringLiteral("Y"), hex(v.y, 4), h && v.y != o.y);
    SetField(QStringLiteral("SP"), hex(v.sp, 4), h && v.sp != o.sp);
    SetField(QStringLiteral("PC"), hex(v.pc, 4), h && v.pc != o.pc);
    SetField(QStringLiteral("CCR"), QStringLiteral("%1").arg(v.ccr, 8, 2, QLatin1Char('0')),
             h && v.ccr != o.ccr);
    last_ = v;
    haveValues_ = true;
}

void CRegisterBar::ClearValues() {
    for (QLineEdit* edit : std::as_const(fields_)) {
        edit->clear();
        edit->setStyleSheet(QString());
    }
    haveValues_ = false;
}

} // namespace oxbrin
