#pragma once

// The Colours page of the Options sheet: a colour for every kind of token
// the editor colours, for its plain text, background and caret line, or the
// scheme that follows the desktop (light or dark).

#include "dlgoptions.h"
#include "editor/highlighter.h"

#include <array>

class QCheckBox;
class QPushButton;

namespace oxbrin {

class CPageColours : public COptionsPage {
    Q_OBJECT
public:
    CPageColours(CMainFrame* frame, QWidget* parent = nullptr);
    void OnInitDialog() override;
    bool OnApply() override;

    QCheckBox* FollowDesktop() const { return follow_; }
    QPushButton* ColourButton(ColourRole role) const { return buttons_[size_t(role)]; }
    QPushButton* LightButton() const { return light_; }
    QPushButton* DarkButton() const { return dark_; }
    const ColourScheme& Scheme() const { return scheme_; }
    // What a colour button does once the user has picked `colour`.
    void SetColour(ColourRole role, const QColor& colour);

private:
    void ShowScheme();
    void PickColour(ColourRole role);

    CMainFrame* frame_;
    ColourScheme scheme_;
    QCheckBox* follow_;
    std::array<QPushButton*, kColourRoles> buttons_{};
    QPushButton* light_;
    QPushButton* dark_;
};

} // namespace oxbrin
