#pragma once

// The frame's reusable bars: toolbars and docking panes that know their
// command id.

#include <QDockWidget>
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

} // namespace oxbrin
