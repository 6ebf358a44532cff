#include "dialogs.h"

#include "commands.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QMouseEvent>
#include <QPushButton>
#include <QTextBrowser>
#include <QToolBar>
#include <QUrl>
#include <QVBoxLayout>

namespace oxbrin {

CLinkLabel::CLinkLabel(const QString& text, QWidget* parent) : QLabel(text, parent) {
    QPalette pal = palette();
    pal.setColor(QPalette::WindowText, QColor(0, 0, 255));
    setPalette(pal);
    QFont f = font();
    f.setUnderline(true);
    setFont(f);
    setCursor(Qt::PointingHandCursor);
    setAutoFillBackground(false);
}

void CLinkLabel::mouseReleaseEvent(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton && rect().contains(e->position().toPoint())) {
        if (!QDesktopServices::openUrl(QUrl::fromUserInput(text()))) QApplication::beep();
    }
    QLabel::mouseReleaseEvent(e);
}

CAboutDialog::CAboutDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("About Oxbrin"));
    auto* layout = new QVBoxLayout(this);
    auto* name = new QLabel(QStringLiteral("<b>Oxbrin</b> - 68HC12 / 68HC11 development environment"), this);
    version_ = new QLabel(
        QString::asprintf(strings::kVersionFormat, kVersionMajor, kVersionMinor, kBuildNumber), this);
    version_->setObjectName(QStringLiteral("Control1000"));
    auto* copyright = new QLabel(QStringLiteral("Copyright (C) KORVELL"), this);
    auto* link = new CLinkLabel(QStringLiteral("http://www.korvell.com"), this);
    link->setObjectName(QStringLiteral("Control1005"));
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    layout->addWidget(name);
    layout->addWidget(version_);
    layout->addWidget(copyright);
    layout->addWidget(link);
    layout->addWidget(ok, 0, Qt::AlignRight);
}

CHelpWindow::CHelpWindow(const QString& indexFile, QWidget* parent) : QMainWindow(parent) {
    setWindowTitle(QStringLiteral("Oxbrin Help"));
    setObjectName(QStringLiteral("HelpWindow"));
    browser_ = new QTextBrowser(this);
    browser_->setOpenExternalLinks(true);
    browser_->setSearchPaths({QFileInfo(indexFile).absolutePath()});
    browser_->setSource(QUrl::fromLocalFile(indexFile));
    setCentralWidget(browser_);
    auto* bar = addToolBar(QStringLiteral("Navigation"));
    bar->setObjectName(QStringLiteral("HelpNavigation"));
    bar->addAction(QStringLiteral("Contents"), browser_, &QTextBrowser::home);
    bar->addAction(QStringLiteral("Back"), browser_, &QTextBrowser::backward);
    bar->addAction(QStringLiteral("Forward"), browser_, &QTextBrowser::forward);
    resize(760, 620);
}

QString FindHelpIndex() {
    // The manual lies beside the program ("help/"), or in the shared data
    // folder of an installed copy.
    const QString dir = QCoreApplication::applicationDirPath();
    const QStringList candidates{
        dir + QStringLiteral("/help/index.html"),
        dir + QStringLiteral("/../share/oxbrin/help/index.html"),
    };
    for (const QString& c : candidates) {
        if (QFileInfo(c).isFile()) return QDir::cleanPath(c);
    }
    return {};
}

} // namespace oxbrin
