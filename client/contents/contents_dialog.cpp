#include "contents_dialog.h"

#include <QFont>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace ulmarro::contents {

ContentsDialog::ContentsDialog(const QString& dumpPath, const QStringList& files, QWidget* parent)
    : QDialog(parent), sections_(std::make_shared<SectionList>()) {
    setObjectName(QStringLiteral("dialog203"));
    setWindowTitle(QStringLiteral("Error Report Contents"));
    resize(640, 480);
    sections_->Open(dumpPath.toStdString());

    auto* layout = new QVBoxLayout(this);
    list_ = new ContentsView(sections_, this);
    list_->setObjectName(QStringLiteral("list"));
    QFont font(QStringLiteral("Courier New"));
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    if (!QFontInfo(font).fixedPitch()) font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    list_->setFont(font);
    // Lines stand on the button-face colour.
    QPalette palette = list_->palette();
    palette.setColor(QPalette::Base, palette.color(QPalette::Button));
    palette.setColor(QPalette::Text, palette.color(QPalette::ButtonText));
    list_->setPalette(palette);
    layout->addWidget(list_, 1);

    filesLabel_ =
        new QLabel(QStringLiteral("The following files will be included in this error report:"), this);
    filesLabel_->setObjectName(QStringLiteral("filesLabel"));
    files_ = new QPlainTextEdit(this);
    files_->setObjectName(QStringLiteral("files"));
    files_->setReadOnly(true);
    QString text;
    for (const QString& file : files) text += file + QLatin1Char('\n');
    files_->setPlainText(text);
    files_->setMaximumHeight(QFontMetrics(files_->font()).lineSpacing() * 5);
    layout->addWidget(filesLabel_);
    layout->addWidget(files_);
    // Without files the list takes the whole dialog.
    filesLabel_->setVisible(!files.isEmpty());
    files_->setVisible(!files.isEmpty());

    auto* buttons = new QHBoxLayout;
    auto* close = new QPushButton(QStringLiteral("&Close"), this);
    close->setObjectName(QStringLiteral("button2"));
    close->setDefault(true);
    buttons->addStretch(1);
    buttons->addWidget(close);
    layout->addLayout(buttons);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
}

ContentsDialog::~ContentsDialog() = default;

} // namespace ulmarro::contents
