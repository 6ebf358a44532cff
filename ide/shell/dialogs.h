#pragma once

// The shell's small dialogs: Go To line, Find / Replace, About and the help
// window.

#include "editor/oxbrinview.h"

#include <QDialog>
#include <QLabel>
#include <QMainWindow>

class QCheckBox;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTextBrowser;

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

// Find (replace = false) or Replace dialog, modeless. It only gathers the
// search and asks the frame to act on the active editor.
class CFindReplaceDialog : public QDialog {
    Q_OBJECT
public:
    CFindReplaceDialog(bool replace, QWidget* parent);
    bool IsReplace() const { return replace_; }
    void SetFindText(const QString& text);
    QString FindWhat() const;
    QString ReplaceWith() const;
    FindOptions Options() const;
    void SetOptions(const FindOptions& opt);

    QLineEdit* FindEdit() const { return find_; }
    QLineEdit* ReplaceEdit() const { return with_; }
    QCheckBox* MatchCase() const { return case_; }
    QCheckBox* WholeWord() const { return word_; }
    QRadioButton* UpButton() const { return up_; }

signals:
    void FindNext();
    void Replace();
    void ReplaceAll();

private:
    void UpdateButtons();

    bool replace_;
    QLineEdit* find_;
    QLineEdit* with_ = nullptr;
    QCheckBox* word_;
    QCheckBox* case_;
    QRadioButton* up_ = nullptr;
    QRadioButton* down_ = nullptr;
    QPushButton* findNext_;
    QPushButton* replaceOne_ = nullptr;
    QPushButton* replaceAll_ = nullptr;
};

// A label that looks and acts like a link: a click opens its own text.
class CLinkLabel : public QLabel {
    Q_OBJECT
public:
    explicit CLinkLabel(const QString& text, QWidget* parent);

protected:
    void mouseReleaseEvent(QMouseEvent* e) override;
};

class CAboutDialog : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDialog(QWidget* parent);
    QLabel* VersionLabel() const { return version_; }

private:
    QLabel* version_;
};

// The user manual, shown in a window of its own.
class CHelpWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit CHelpWindow(const QString& indexFile, QWidget* parent = nullptr);
    QTextBrowser* Browser() const { return browser_; }

private:
    QTextBrowser* browser_;
};

// Where the manual's start page is, or an empty string when it is missing.
QString FindHelpIndex();

}  // namespace oxbrin
