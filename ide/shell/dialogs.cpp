#include "dialogs.h"

#include "commands.h"

#include <QApplication>
#include <QCheckBox>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QTextBrowser>
#include <QToolBar>
#include <QUrl>
#include <QVBoxLayout>

namespace oxbrin {

CGoToDialog::CGoToDialog(int currentLine, QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Go To"));
    auto* label = new QLabel(QStringLiteral("&Enter line number:"), this);
    edit_ = new QLineEdit(QString::number(currentLine), this);
    edit_->setValidator(new QIntValidator(0, 99999999, edit_));
    edit_->selectAll();
    label->setBuddy(edit_);
    auto* go = new QPushButton(QStringLiteral("&Go To"), this);
    auto* close = new QPushButton(QStringLiteral("&Close"), this);
    go->setDefault(true);
    connect(go, &QPushButton::clicked, this, &QDialog::accept);
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    auto* grid = new QGridLayout(this);
    grid->addWidget(label, 0, 0);
    grid->addWidget(go, 0, 1);
    grid->addWidget(edit_, 1, 0);
    grid->addWidget(close, 1, 1);
}

int CGoToDialog::Line() const { return edit_->text().toInt(); }

CFindReplaceDialog::CFindReplaceDialog(bool replace, QWidget* parent) : QDialog(parent), replace_(replace) {
    setWindowTitle(replace ? QStringLiteral("Replace") : QStringLiteral("Find"));
    setModal(false);
    auto* grid = new QGridLayout(this);
    auto* findLabel = new QLabel(QStringLiteral("Fi&nd what:"), this);
    find_ = new QLineEdit(this);
    findLabel->setBuddy(find_);
    grid->addWidget(findLabel, 0, 0);
    grid->addWidget(find_, 0, 1);
    int row = 1;
    if (replace) {
        auto* withLabel = new QLabel(QStringLiteral("Re&place with:"), this);
        with_ = new QLineEdit(this);
        withLabel->setBuddy(with_);
        grid->addWidget(withLabel, row, 0);
        grid->addWidget(with_, row, 1);
        ++row;
    }
    word_ = new QCheckBox(QStringLiteral("Match &whole word only"), this);
    case_ = new QCheckBox(QStringLiteral("Match &case"), this);
    grid->addWidget(word_, row++, 0, 1, 2);
    grid->addWidget(case_, row++, 0, 1, 2);
    if (!replace) {
        auto* dir = new QGroupBox(QStringLiteral("Direction"), this);
        auto* box = new QHBoxLayout(dir);
        up_ = new QRadioButton(QStringLiteral("&Up"), dir);
        down_ = new QRadioButton(QStringLiteral("&Down"), dir);
        down_->setChecked(true);
        box->addWidget(up_);
        box->addWidget(down_);
        grid->addWidget(dir, row++, 0, 1, 2);
    }
    auto* buttons = new QVBoxLayout;
    findNext_ = new QPushButton(QStringLiteral("&Find Next"), this);
    findNext_->setDefault(true);
    buttons->addWidget(findNext_);
    connect(findNext_, &QPushButton::clicked, this, &CFindReplaceDialog::FindNext);
    if (replace) {
        replaceOne_ = new QPushButton(QStringLiteral("&Replace"), this);
        replaceAll_ = new QPushButton(QStringLiteral("Replace &All"), this);
        buttons->addWidget(replaceOne_);
        buttons->addWidget(replaceAll_);
        connect(replaceOne_, &QPushButton::clicked, this, &CFindReplaceDialog::Replace);
        connect(replaceAll_, &QPushButton::clicked, this, &CFindReplaceDialog::ReplaceAll);
    }
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    connect(cancel, &QPushButton::clicked, this, &QDialog::close);
    buttons->addWidget(cancel);
    buttons->addStretch(1);
    grid->addLayout(buttons, 0, 2, row, 1);
    connect(find_, &QLineEdit::textChanged, this, &CFindReplaceDialog::UpdateButtons);
    UpdateButtons();
}

void CFindReplaceDialog::UpdateButtons() {
    const bool any = !find_->text().isEmpty();
    findNext_->setEnabled(any);
    if (replaceOne_)
        replaceOne_->setEnabled(any);
    if (replaceAll_)
        replaceAll_->setEnabled(any);
}

void CFindReplaceDialog::SetFindText(const QString& text) {
    find_->setText(text);
    find_->selectAll();
}

QString CFindReplaceDialog::FindWhat() const { return find_->text(); }

QString CFindReplaceDialog::ReplaceWith() const { return with_ ? with_->text() : QString(); }

FindOptions CFindReplaceDialog::Options() const {
    FindOptions o;
    o.matchCase = case_->isChecked();
    o.wholeWord = word_->isChecked();
    o.down = !(up_ && up_->isChecked());
    return o;
}

void CFindReplaceDialog::SetOptions(const FindOptions& opt) {
    case_->setChecked(opt.matchCase);
    word_->setChecked(opt.wholeWord);
    if (up_) {
        up_->setChecked(!opt.down);
        down_->setChecked(opt.down);
    }
}

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
        if (!QDesktopServices::openUrl(QUrl::fromUserInput(text())))
            QApplication::beep();
    }
    QLabel::mouseReleaseEvent(e);
}

CAboutDialog::CAboutDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("About Oxbrin"));
    auto* layout = new QVBoxLayout(this);
    auto* name = new QLabel(QStringLiteral("<b>Oxbrin</b> - 68HC12 / 68HC11 development environment"), this);
    version_ = new QLabel(QString::asprintf(strings::kVersionFormat, kVersionMajor, kVersionMinor, kBuildNumber), this);
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
        if (QFileInfo(c).isFile())
            return QDir::cleanPath(c);
    }
    return {};
}

}  // namespace oxbrin
