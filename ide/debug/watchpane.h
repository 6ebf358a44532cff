#pragma once

// The Watch pane: expressions in the assembler's own syntax (symbols,
// numbers, operators), each evaluated whenever the program stops and shown
// as the byte and word at that address, the byte in decimal and in binary;
// an expression that cannot be evaluated shows why in its row. Each program
// source has its own list, kept in the settings, so the watches are there
// again at the next start; a file without one starts with the list of the
// time when one list served every file.

#include "shell/zkbars.h"

#include <QString>
#include <QStringList>

class QLabel;
class QLineEdit;
class QSettings;
class QTableWidget;

namespace qorb::debug {
class Session;
}

namespace oxbrin {

class CWatchPane : public CZKSCW {
    Q_OBJECT
public:
    enum Column { Expression, Byte, Word, Decimal, Binary, ColumnCount };

    CWatchPane(int id, QSize initialSize, QWidget* parent);

    // Where the lists are kept (read now, written on every change): `key`
    // holds the list of no file in particular (and the one of old), the
    // lists by file are a map under `key` + "ByFile".
    void SetStore(QSettings* store, const QString& key);
    // Shows the list of `path` (an absolute path; empty: no file).
    void SetFile(const QString& path);
    QString File() const { return file_; }
    void SetSession(qorb::debug::Session* session);
    // Evaluates every row against the stopped program.
    void Refresh();

    // False (with the reason in the status line) for an empty expression.
    bool AddExpression(const QString& text);
    void RemoveRow(int row);
    QStringList Expressions() const { return expressions_; }

    QTableWidget* Table() const { return table_; }
    QLineEdit* ExpressionField() const { return field_; }
    QLabel* StatusLine() const { return status_; }

protected:
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void Load();
    void Rebuild();
    void Save();
    QString FileKey() const { return key_ + QStringLiteral("ByFile"); }

    qorb::debug::Session* session_ = nullptr;
    QSettings* store_ = nullptr;
    QString key_;
    QString file_;
    QStringList expressions_;
    QLineEdit* field_;
    QTableWidget* table_;
    QLabel* status_;
};

} // namespace oxbrin
