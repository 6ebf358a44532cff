#pragma once

// The frame's reusable bars: toolbars and docking panes that know their
// command id, and the register dialog bar.

#include <QDockWidget>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QToolBar>

namespace oxbrin {

class CZKToolBar : public QToolBar {
    Q_OBJECT
public:
    CZKToolBar(int id, const QString& title, QWidget* parent);
    int Id() const { return id_; }

private:
    int id_;
};

// A docking pane. Its first size (before any stored docking state applies)
// is the saved pane size; the content widget is whatever the pane shows.
class CZKSCW : public QDockWidget {
    Q_OBJECT
public:
    CZKSCW(int id, const QString& title, QSize initialSize, QWidget* parent);
    int Id() const { return id_; }
    void SetInitialSize(QSize size);
    QSize InitialSize() const { return initial_; }
    // The content, sized by the stored pane size until the user resizes it.
    void SetContent(QWidget* content);
    QWidget* Content() const { return content_; }

private:
    int id_;
    QSize initial_;
    QWidget* content_ = nullptr;
};

// Plain text pane used until a pane gets its own class: read-only text that
// other parts of the program append to.
class CPaneText : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit CPaneText(QWidget* parent = nullptr);
};

// The register dialog bar: seven editable fields A, B, D, X, Y, SP, PC and
// the condition-code bit names below them.
class CRegisterBar : public QDockWidget {
    Q_OBJECT
public:
    explicit CRegisterBar(QWidget* parent);
    QLineEdit* Field(int controlId) const;  // 106, 111, 105, 107, 108, 109, 110
};

}  // namespace oxbrin
