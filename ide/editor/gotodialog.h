#pragma once

// Go To: the dialog that asks for a line of the active source.

#include <QDialog>

class QLineEdit;

namespace oxbrin {

// Dialog 183: asks for a line number, starting with the caret's line.
class CGoToDialog : public QDialog {
    Q_OBJECT
public:
    CGoToDialog(int currentLine, QWidget* parent);
    int Line() const;
    QLineEdit* Edit() const { return edit_; }

private:
    QLineEdit* edit_;
};

} // namespace oxbrin
