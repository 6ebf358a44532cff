#pragma once

// Find, Replace and Find Next: the modeless dialog that gathers a search,
// and the search itself, run on whichever editor is active when a button
// or the command is used. The last search is shared by every document.

#include "oxbrinview.h"

#include <QDialog>
#include <QPointer>

#include <functional>

class QCheckBox;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace oxbrin {

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

// The frame's searching: at most one of the two dialogs is open, owned by
// `frame`; `activeView` names the editor a search runs on (null: none).
class FindReplace : public QObject {
    Q_OBJECT
public:
    FindReplace(QWidget* frame, std::function<COxbrinView*()> activeView);

    // Opens the Find or the Replace dialog (closing the other), filled with
    // the selection when it is part of one line, else the last search.
    void OpenDialog(bool replace);
    // Find Next with the last search; without one it opens Find.
    void FindNext();
    void Replace();
    void ReplaceAll();
    bool HasSearch() const { return !findWhat_.isEmpty(); }

    CFindReplaceDialog* FindDialog() const { return findDlg_; }
    CFindReplaceDialog* ReplaceDialog() const { return replaceDlg_; }

    static constexpr const char* kPassedEnd = "Passed the end of the document, continuing from the top";
    static constexpr const char* kPassedStart =
        "Passed the start of the document, continuing from the bottom";

signals:
    // A note for the status bar: a search went round the document, or how
    // many Replace All replaced.
    void StatusMessage(const QString& text);

private:
    void TextNotFound();

    QWidget* frame_;
    std::function<COxbrinView*()> activeView_;
    QPointer<CFindReplaceDialog> findDlg_;
    QPointer<CFindReplaceDialog> replaceDlg_;
    QString findWhat_;
    QString replaceWith_;
    FindOptions findOpt_;
};

} // namespace oxbrin
