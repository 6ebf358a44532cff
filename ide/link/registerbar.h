#pragma once

// The register dialog bar: the CPU's registers, filled by the debugger
// whenever the simulated program is paused, and typed into to change them.

#include <QDockWidget>
#include <QHash>

class QLineEdit;

namespace oxbrin {

// The register dialog bar: seven editable fields A, B, D, X, Y, SP, PC and
// the condition-code bits (a field under the names "SXHINZFC").
class CRegisterBar : public QDockWidget {
    Q_OBJECT
public:
    // The condition-code field's control id (the others: 106, 111, 105,
    // 107, 108, 109, 110).
    static constexpr int kCcrId = 112;

    explicit CRegisterBar(QWidget* parent);
    QLineEdit* Field(int controlId) const; // 106, 111, 105, 107, 108, 109, 110, 112
    // The field of a register by name: A B D X Y SP PC CCR.
    QLineEdit* FieldNamed(const QString& name) const;

    struct Values {
        unsigned a = 0, b = 0, x = 0, y = 0, sp = 0, pc = 0, ccr = 0;
    };
    // Shows the values; fields whose value differs from the last shown one
    // are highlighted until the next call. Editing is allowed while values
    // are shown.
    void ShowValues(const Values& values);
    // Empties the fields (no program is paused).
    void ClearValues();

signals:
    // A value typed into a field and confirmed with Enter: the register's
    // name and the text as typed.
    void RegisterEdited(const QString& name, const QString& text);

private:
    void SetField(const QString& name, const QString& text, bool changed);

    QHash<QString, QLineEdit*> fields_;
    bool haveValues_ = false;
    Values last_;
};

} // namespace oxbrin
