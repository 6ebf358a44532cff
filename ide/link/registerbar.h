#pragma once

// The register dialog bar, meant for the board monitor's register display:
// fields the user may type into; nothing reads or fills them.

#include <QDockWidget>

class QLineEdit;

namespace oxbrin {

// The register dialog bar: seven editable fields A, B, D, X, Y, SP, PC and
// the condition-code bit names below them.
class CRegisterBar : public QDockWidget {
    Q_OBJECT
public:
    explicit CRegisterBar(QWidget* parent);
    QLineEdit* Field(int controlId) const;  // 106, 111, 105, 107, 108, 109, 110
};

}  // namespace oxbrin
