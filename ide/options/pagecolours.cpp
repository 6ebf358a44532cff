#include "pagecolours.h"

#include "shell/mainframe.h"
#include "shell/oxbrinapp.h"
#include "shell/settings.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>

namespace oxbrin {

namespace {

// A swatch of `colour` with a thin frame, for a colour button's icon.
QIcon Swatch(const QColor& colour) {
    QPixmap pixmap(32, 16);
    pixmap.fill(colour);
    QPainter p(&pixmap);
    p.setPen(QColor(128, 128, 128));
    p.drawRect(pixmap.rect().adjusted(0, 0, -1, -1));
    return QIcon(pixmap);
}

} // namespace

CPageColours::CPageColours(CMainFrame* frame, QWidget* parent)
    : COptionsPage(parent), frame_(frame), scheme_(ColourScheme::Light()) {
    setObjectName(QStringLiteral("PageColours"));
    setAccessibleName(QStringLiteral("Colours"));
    auto* layout = new QVBoxLayout(this);
    follow_ = new QCheckBox(QStringLiteral("&Follow the desktop (light or dark colours)"), this);
    follow_->setAccessibleName(QStringLiteral("Follow the desktop"));
    layout->addWidget(follow_);

    auto* group = new QGroupBox(QStringLiteral("&Editor colours"), this);
    auto* grid = new QGridLayout(group);
    for (int r = 0; r < kColourRoles; ++r) {
        const auto role = ColourRole(r);
        const QString label = QString::fromLatin1(ColourRoleLabel(role));
        auto* text = new QLabel(label + QLatin1Char(':'), group);
        auto* button = new QPushButton(group);
        button->setObjectName(QStringLiteral("Colour_%1").arg(QLatin1String(ColourRoleKey(role))));
        button->setAccessibleName(label);
        button->setIconSize(QSize(32, 16));
        text->setBuddy(button);
        connect(button, &QPushButton::clicked, this, [this, role] { PickColour(role); });
        // Two columns: the token colours on the left, the rest on the right.
        const int column = r < 5 ? 0 : 2;
        const int row = r < 5 ? r : r - 5;
        grid->addWidget(text, row, column);
        grid->addWidget(button, row, column + 1);
        buttons_[size_t(r)] = button;
    }
    layout->addWidget(group);

    auto* presets = new QHBoxLayout;
    light_ = new QPushButton(QStringLiteral("&Light colours"), this);
    dark_ = new QPushButton(QStringLiteral("&Dark colours"), this);
    presets->addWidget(light_);
    presets->addWidget(dark_);
    presets->addStretch(1);
    layout->addLayout(presets);
    auto* note =
        new QLabel(QStringLiteral("Following the desktop, the editor is light or dark as the desktop is. "
                                  "Choosing a colour keeps your own colours instead."),
                   this);
    note->setWordWrap(true);
    layout->addWidget(note);
    layout->addStretch(1);

    connect(light_, &QPushButton::clicked, this, [this] {
        follow_->setChecked(false);
        scheme_ = ColourScheme::Light();
        ShowScheme();
        MarkModified();
    });
    connect(dark_, &QPushButton::clicked, this, [this] {
        follow_->setChecked(false);
        scheme_ = ColourScheme::Dark();
        ShowScheme();
        MarkModified();
    });
    connect(follow_, &QCheckBox::toggled, this, [this](bool on) {
        if (on) scheme_ = ColourScheme::ForDesktop();
        ShowScheme();
        MarkModified();
    });
}

void CPageColours::OnInitDialog() {
    loading_ = true;
    const QString stored = frame_->App()->Settings().editorColours;
    const ColourScheme desktop = ColourScheme::ForDesktop();
    scheme_ = stored.isEmpty() ? desktop : ColourScheme::Decode(stored, desktop);
    follow_->setChecked(stored.isEmpty());
    ShowScheme();
    loading_ = false;
}

void CPageColours::ShowScheme() {
    for (int r = 0; r < kColourRoles; ++r) {
        QPushButton* button = buttons_[size_t(r)];
        const QColor colour = scheme_.colours[size_t(r)];
        button->setIcon(Swatch(colour));
        button->setText(colour.name());
        button->setAccessibleDescription(colour.name());
    }
}

void CPageColours::SetColour(ColourRole role, const QColor& colour) {
    if (!colour.isValid()) return;
    // A colour of one's own ends following the desktop; the other colours
    // stay as shown.
    const ColourScheme keep = scheme_;
    follow_->setChecked(false);
    scheme_ = keep;
    scheme_.Set(role, colour);
    ShowScheme();
    MarkModified();
}

void CPageColours::PickColour(ColourRole role) {
    const QColor chosen =
        QColorDialog::getColor(scheme_.Of(role), this, QString::fromLatin1(ColourRoleLabel(role)));
    SetColour(role, chosen);
}

bool CPageColours::OnApply() {
    SettingsBlock& s = frame_->App()->Settings();
    s.editorColours = follow_->isChecked() ? QString() : scheme_.Encode();
    frame_->App()->ApplyEditorFormatToAll();
    return true;
}

} // namespace oxbrin
