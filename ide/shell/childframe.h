#pragma once

#include <QMdiSubWindow>

namespace oxbrin {

class COxbrinDoc;
class COxbrinView;

// One MDI child per document: it owns the document and shows its view.
class CChildFrame : public QMdiSubWindow {
    Q_OBJECT
public:
    CChildFrame(COxbrinDoc* doc, QWidget* parent = nullptr);
    ~CChildFrame() override;
    COxbrinDoc* Document() const { return doc_; }
    COxbrinView* View() const { return view_; }
    // Close without asking to save (the caller has already asked).
    void CloseWithoutPrompt();

protected:
    void closeEvent(QCloseEvent* e) override;

private:
    void UpdateTitle();

    COxbrinDoc* doc_;
    COxbrinView* view_;
    bool skipPrompt_ = false;
};

} // namespace oxbrin
