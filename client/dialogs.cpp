#include "dialogs.h"

#include "core/minidump_writer.h"
#include "dialog_widgets.h"
#include "texts.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QUrl>
#include <QVBoxLayout>

namespace ulmarro {
namespace {

QString Tr(const char* text) { return QString::fromUtf8(text); }

QLabel* MakeText(QWidget* parent, int id, const QString& text, bool bold = false) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QStringLiteral("text%1").arg(id));
    label->setWordWrap(true);
    label->setTextFormat(Qt::PlainText);
    if (bold) {
        QFont f = label->font();
        f.setBold(true);
        label->setFont(f);
    }
    return label;
}

QPushButton* MakeButton(QWidget* parent, int id, const char* text) {
    auto* button = new QPushButton(Tr(text), parent);
    button->setObjectName(QStringLiteral("button%1").arg(id));
    button->setAutoDefault(false);
    return button;
}

// The icon from IconResource: a file path, optionally followed by ",index"
// (the index selects nothing on this platform). An executable has no icon
// here; the error icon stands in.
QIcon ApplicationIcon(const QString& resource, QWidget* widget) {
    QString path = resource;
    int comma = path.lastIndexOf(QLatin1Char(','));
    if (comma > 0) {
        bool numeric = false;
        path.mid(comma + 1).trimmed().toInt(&numeric);
        if (numeric) path = path.left(comma);
    }
    QIcon icon(path);
    if (!icon.isNull() && !icon.availableSizes().isEmpty()) return icon;
    return widget->style()->standardIcon(QStyle::SP_MessageBoxCritical);
}

} // namespace

PromptDialog::PromptDialog(const ReportInfo& info, ContentsViewer contents, QWidget* parent)
    : QDialog(parent), info_(info), contents_(std::move(contents)) {
    setObjectName(QStringLiteral("dialog201"));
    setWindowTitle(Tr(text::kCaption));
    auto* layout = new QVBoxLayout(this);

    auto* banner = new QWidget(this);
    banner->setObjectName(QStringLiteral("banner"));
    banner->setAutoFillBackground(true);
    QPalette white = banner->palette();
    white.setColor(QPalette::Window, Qt::white);
    white.setColor(QPalette::WindowText, Qt::black);
    banner->setPalette(white);
    auto* bannerLayout = new QHBoxLayout(banner);
    bannerLayout->addWidget(
        MakeText(banner, 1101, SubstitutePromptText(Tr(text::kPromptProblem), info), true), 1);
    auto* icon = new QLabel(banner);
    icon->setObjectName(QStringLiteral("icon1000"));
    icon->setPixmap(ApplicationIcon(info.config.iconResource, this).pixmap(32, 32));
    bannerLayout->addWidget(icon);
    layout->addWidget(banner);

    layout->addWidget(MakeText(this, 1102, SubstitutePromptText(Tr(text::kPromptLost), info)));
    layout->addWidget(MakeText(this, 1103, SubstitutePromptText(Tr(text::kPromptTell), info), true));
    layout->addWidget(MakeText(this, 1104, SubstitutePromptText(Tr(text::kPromptReport), info)));

    auto* buttons = new QHBoxLayout;
    QPushButton* debug = MakeButton(this, 32769, text::kButtonDebug);
    QPushButton* details = MakeButton(this, 32768, text::kButtonDetails);
    QPushButton* send = MakeButton(this, 1, text::kButtonSend);
    QPushButton* dontSend = MakeButton(this, 2, text::kButtonDontSend);
    // Debugging is offered only where a debugger has been set up.
    debug->setVisible(!info.debuggerCommand.isEmpty());
    buttons->addWidget(debug);
    buttons->addStretch(1);
    buttons->addWidget(details);
    buttons->addWidget(send);
    buttons->addWidget(dontSend);
    layout->addLayout(buttons);

    // Don't Send has the focus and is the default, so that a key pressed by
    // someone still typing into the crashed program sends nothing.
    dontSend->setDefault(true);
    dontSend->setFocus();
    connect(debug, &QPushButton::clicked, this, [this] { done(Debug); });
    connect(send, &QPushButton::clicked, this, [this] { done(Send); });
    connect(dontSend, &QPushButton::clicked, this, [this] { done(DontSend); });
    connect(details, &QPushButton::clicked, this, [this] {
        DetailsDialog dialog(info_, contents_, this);
        dialog.exec();
    });
}

DetailsDialog::DetailsDialog(const ReportInfo& info, ContentsViewer contents, QWidget* parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("dialog202"));
    setWindowTitle(Tr(text::kDetailsCaption));
    setMinimumWidth(460); // the details line reads best on one line
    auto* layout = new QVBoxLayout(this);
    QString details = DetailsText(info);
    details.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QLabel* line = MakeText(this, 1201, details);
    line->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(line);
    // What the dump leaves out (client/core/minidump_writer.h).
    auto* leftOut = new QLabel(QString::fromUtf8(kDumpPrivacyNote), this);
    leftOut->setObjectName(QStringLiteral("privacyNote"));
    leftOut->setWordWrap(true);
    layout->addWidget(leftOut);

    auto* privacy = new QLabel(this);
    privacy->setObjectName(QStringLiteral("link1202"));
    privacy->setTextFormat(Qt::RichText);
    privacy->setText(QStringLiteral("<a href=\"policy\">%1</a>").arg(Tr(text::kPrivacyLink).toHtmlEscaped()));
    privacy->setVisible(!info.config.privacyPolicy.isEmpty());
    QString policy = info.config.privacyPolicy;
    connect(privacy, &QLabel::linkActivated, this,
            [policy] { QDesktopServices::openUrl(QUrl::fromUserInput(policy)); });
    layout->addWidget(privacy);

    QPushButton* more = MakeButton(this, 32768, text::kButtonDetails);
    QPushButton* close = MakeButton(this, 2, text::kButtonClose);
    more->setVisible(static_cast<bool>(contents));
    AddButtonRow(layout, {more, close});
    close->setDefault(true);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    connect(more, &QPushButton::clicked, this, [this, contents, &info] { contents(this, info); });
}

QString SavedStatus(const ReportInfo& info) {
    QString to = info.config.supportEmail.isEmpty() ? info.config.companyName : info.config.supportEmail;
    return QString::fromUtf8(text::kSaved).replace(QStringLiteral("%s"), to);
}

SaveDialog::SaveDialog(const ReportInfo& info, QWidget* parent)
    : QDialog(parent), info_(info), chooser_(&SaveDialog::DefaultPathChooser) {
    setObjectName(QStringLiteral("dialog204"));
    setWindowTitle(Tr(text::kCaption));
    auto* layout = new QVBoxLayout(this);
    status_ = MakeStatusLine(this, Tr(text::kPreparing));
    layout->addWidget(status_);
    progress_ = MakeProgressBar(this, kProgressMax);
    layout->addWidget(progress_);
    save_ = MakeButton(this, 32770, text::kButtonSave);
    cancel_ = MakeButton(this, 2, text::kButtonCancel);
    save_->setEnabled(false);
    AddButtonRow(layout, {save_, cancel_});
    connect(save_, &QPushButton::clicked, this, &SaveDialog::save);
    connect(cancel_, &QPushButton::clicked, this, &SaveDialog::reject);
    resize(420, sizeHint().height());
}

SaveDialog::~SaveDialog() { stopWorker(); }

void SaveDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    start();
}

void SaveDialog::start() {
    if (started_) return;
    started_ = true;
    status_->setText(Tr(text::kPreparing));
    QPointer<SaveDialog> self(this);
    QString dump = info_.dumpPath;
    worker_ = std::thread([this, self, dump] {
        QString error;
        bool ok = cabinet_.Build(
            dump,
            [this, self](int value) {
                QMetaObject::invokeMethod(
                    this,
                    [self, value] {
                        if (self) self->progress_->setValue(value);
                    },
                    Qt::QueuedConnection);
            },
            &stop_, &error);
        QMetaObject::invokeMethod(
            this,
            [self, ok, error] {
                if (!self || self->stop_) return;
                self->ready_ = ok;
                if (ok) {
                    self->status_->setText(Tr(text::kReadyToSave));
                    self->save_->setEnabled(true);
                    self->save_->setDefault(true);
                } else {
                    self->progress_->setValue(0);
                    self->status_->setText(Tr(text::kPrepareFailed).replace(QStringLiteral("%s"), error));
                }
                emit self->buildFinished(ok);
            },
            Qt::QueuedConnection);
    });
}

void SaveDialog::save() {
    QString target = chooser_ ? chooser_(this) : QString();
    if (target.isEmpty()) return;
    status_->setText(Tr(text::kSaving));
    QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    if (cabinet_.CopyTo(target)) {
        save_->hide();
        cancel_->setText(Tr(text::kClose));
        cancel_->setDefault(true);
        progress_->setValue(kProgressMax);
        status_->setText(SavedStatus(info_));
    } else {
        status_->setText(Tr(text::kSaveFailed).replace(QStringLiteral("%s"), target));
    }
}

void SaveDialog::stopWorker() {
    stop_ = true;
    if (worker_.joinable()) worker_.join();
}

void SaveDialog::reject() {
    status_->setText(Tr(text::kTerminating));
    QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    stopWorker();
    QDialog::reject();
}

QString SaveDialog::DefaultPathChooser(QWidget* parent) {
    // The filter is written the classic way ("text|pattern|..."); Qt wants
    // "text;;text".
    QStringList parts = QString::fromUtf8(text::kSaveFilter).split(QLatin1Char('|'));
    QStringList filters;
    for (int i = 0; i + 1 < parts.size(); i += 2) filters << parts[i];
    QFileDialog dialog(parent, QString::fromUtf8(text::kSaveTitle));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilters(filters);
    dialog.setDefaultSuffix(QStringLiteral("cab"));
    dialog.selectFile(QString::fromUtf8(text::kSaveFileName));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return dialog.selectedFiles().first();
}

} // namespace ulmarro
