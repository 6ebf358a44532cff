#pragma once

// The shell's small dialogs: About and the help window.

#include <QDialog>
#include <QLabel>
#include <QMainWindow>

class QTextBrowser;

namespace oxbrin {

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

} // namespace oxbrin
