#include "upload_dialog.h"

#include "dialog_widgets.h"
#include "texts.h"

#include <QApplication>
#include <QDesktopServices>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

namespace ulmarro::upload {
namespace {

QString Tr(const char* text) { return QString::fromUtf8(text); }
QString Tr(const std::string& text) { return QString::fromStdString(text); }

constexpr int kProgressMax = 256;
constexpr int kFrames = 16;

// `done` of `total` bytes on the bar.
int ProgressValue(std::uint64_t done, std::uint64_t total) {
    return total == 0 ? kProgressMax : static_cast<int>(std::min(done, total) * kProgressMax / total);
}

} // namespace

BusyAnimation::BusyAnimation(QWidget* parent) : QWidget(parent), timer_(new QTimer(this)) {
    setObjectName(QStringLiteral("animation100"));
    timer_->setInterval(90);
    connect(timer_, &QTimer::timeout, this, [this] {
        frame_ = (frame_ + 1) % kFrames;
        update();
    });
}

void BusyAnimation::setRunning(bool running) {
    if (running)
        timer_->start();
    else
        timer_->stop();
    update();
}

bool BusyAnimation::running() const { return timer_->isActive(); }

QSize BusyAnimation::sizeHint() const { return {272, 48}; }

void BusyAnimation::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QPalette pal = palette();
    const int h = height(), folder = std::min(40, h - 8);
    const QRect left(4, (h - folder) / 2, folder, folder * 3 / 4);
    const QRect right(width() - folder - 4, left.y(), folder, left.height());
    p.setPen(pal.color(QPalette::WindowText));
    p.setBrush(QColor(0xF0, 0xC8, 0x50));
    p.drawRect(left);
    p.drawRect(right);
    if (!running()) return;
    // The sheet flies from the left folder to the right one.
    const int span = right.left() - left.right() - 16;
    const int x = left.right() + 4 + span * frame_ / (kFrames - 1);
    const int lift = (frame_ * (kFrames - 1 - frame_)) * (h / 4) / ((kFrames / 2) * (kFrames / 2));
    p.setBrush(pal.color(QPalette::Base));
    p.drawRect(QRect(x, left.y() + 4 - lift, 12, 16));
}

ConnectionDialog::ConnectionDialog(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("dialog206"));
    setWindowTitle(Tr(kConnectionCaption));
    auto* layout = new QVBoxLayout(this);
    auto* textLabel = new QLabel(Tr(kConnectionText), this);
    textLabel->setObjectName(QStringLiteral("text"));
    textLabel->setWordWrap(true);
    layout->addWidget(textLabel);
    auto* retry = new QPushButton(QStringLiteral("&Retry"), this);
    retry->setObjectName(QStringLiteral("button4"));
    auto* cancel = new QPushButton(Tr(text::kButtonCancel), this);
    cancel->setObjectName(QStringLiteral("button2"));
    retry->setDefault(true);
    AddButtonRow(layout, {retry, cancel});
    connect(retry, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

UploadDialog::UploadDialog(ReportUrl url, ReportFields fields, CabinetBuilder buildCabinet,
                           UploadOptions options, QWidget* parent)
    : QDialog(parent), url_(std::move(url)), fields_(std::move(fields)),
      buildCabinet_(std::move(buildCabinet)), options_(std::move(options)) {
    setObjectName(QStringLiteral("dialog205"));
    setWindowTitle(Tr(text::kCaption));
    const std::string host = url_.host;
    check_ = [host] { return CheckConnection(host); };
    prompt_ = [](QWidget* parent) { return ConnectionDialog(parent).exec() == QDialog::Accepted; };
    // Only web pages are opened (the link is shown only for them); the
    // address is taken as written, never guessed into one.
    opener_ = [](const QString& link) {
        const QUrl url(link, QUrl::StrictMode);
        if (url.isValid() && IsWebLink(link.toStdString())) QDesktopServices::openUrl(url);
    };

    auto* layout = new QVBoxLayout(this);
    animation_ = new BusyAnimation(this);
    layout->addWidget(animation_);
    status_ = MakeStatusLine(this, Tr(text::kContacting));
    layout->addWidget(status_);
    progress_ = MakeProgressBar(this, kProgressMax);
    layout->addWidget(progress_);
    link_ = new QLabel(this);
    link_->setObjectName(QStringLiteral("link1002"));
    link_->setTextFormat(Qt::RichText);
    link_->setText(QStringLiteral("<a href=\"more\">%1</a>").arg(Tr(kMoreInformationLink).toHtmlEscaped()));
    link_->hide();
    connect(link_, &QLabel::linkActivated, this, [this] {
        if (opener_) opener_(Tr(outcome_.link));
    });
    layout->addWidget(link_);
    save_ = new QPushButton(Tr(text::kButtonSaveReport), this);
    save_->setObjectName(QStringLiteral("saveReport"));
    save_->setAutoDefault(false);
    save_->hide();
    cancel_ = new QPushButton(Tr(text::kButtonCancel), this);
    cancel_->setObjectName(QStringLiteral("button2"));
    cancel_->setDefault(true);
    AddButtonRow(layout, {save_, cancel_});
    connect(save_, &QPushButton::clicked, this, &UploadDialog::saveReport);
    connect(cancel_, &QPushButton::clicked, this, &UploadDialog::reject);
    resize(420, sizeHint().height());
}

UploadDialog::~UploadDialog() { stopWorker(); }

void UploadDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // After the dialog has appeared, so that a connection question stands above it.
    QTimer::singleShot(0, this, &UploadDialog::start);
}

void UploadDialog::start() {
    if (started_) return;
    started_ = true;
    status_->setText(Tr(text::kContacting));
    animation_->setRunning(true);
    // The connection question is asked here, before the worker starts: it
    // needs the user, and the worker must never wait on the dialog's thread.
    while (check_ && check_() == Connection::NotConnected) {
        if (!prompt_ || !prompt_(this)) break; // Cancel: stop asking, try all the same
    }
    if (stop_) return;

    QPointer<UploadDialog> self(this);
    auto post = [this, self](std::function<void(UploadDialog*)> f) {
        QMetaObject::invokeMethod(
            this,
            [self, f] {
                if (self && !self->finished_) f(self);
            },
            Qt::QueuedConnection);
    };
    worker_ = std::thread([this, post] {
        ReportUploader uploader(url_, fields_, options_);
        UploadCallbacks callbacks;
        callbacks.step = [post](Step s) {
            post([s](UploadDialog* d) { d->status_->setText(Tr(StepText(s))); });
        };
        callbacks.progress = [post](std::uint64_t done, std::uint64_t total) {
            const int value = ProgressValue(done, total);
            post([value](UploadDialog* d) { d->progress_->setValue(value); });
        };
        callbacks.buildCabinet = buildCabinet_;
        Outcome outcome = uploader.Run(callbacks, stop_);
        post([outcome](UploadDialog* d) { d->finish(outcome); });
    });
}

void UploadDialog::finish(const Outcome& outcome) {
    if (stop_) return; // the dialog is closing; the user asked to stop
    finished_ = true;
    outcome_ = outcome;
    cabinet_ = Tr(outcome.cabinet);
    animation_->setRunning(false);
    cancel_->setText(Tr(text::kClose));
    if (outcome.kind == Outcome::Done) {
        progress_->setValue(kProgressMax);
        if (IsWebLink(outcome.link)) {
            link_->setTextFormat(Qt::RichText);
            link_->setText(
                QStringLiteral("<a href=\"more\">%1</a>").arg(Tr(kMoreInformationLink).toHtmlEscaped()));
        } else {
            // Not a web page (a file, a mail form, a program's own scheme):
            // the user may read it, nothing opens it.
            link_->setTextFormat(Qt::PlainText);
            link_->setTextInteractionFlags(Qt::TextSelectableByMouse);
            link_->setText(Tr(outcome.link));
        }
        link_->setVisible(!outcome.link.empty());
    } else {
        progress_->setValue(0);
        // The report is not lost with the upload: it can still be saved
        // (and mailed), for as long as this dialog is open.
        save_->setVisible(static_cast<bool>(saver_));
        if (saver_) save_->setDefault(true);
    }
    status_->setText(Tr(FinalStatusText(outcome)));
    emit uploadFinished();
}

void UploadDialog::saveReport() {
    if (!saver_ || !finished_ || stop_) return;
    if (!cabinet_.isEmpty()) {
        saveBuilt(cabinet_);
        return;
    }
    // The upload failed before the cabinet was made: make it now.
    save_->setEnabled(false);
    status_->setText(Tr(text::kPreparing));
    progress_->setValue(0);
    if (worker_.joinable()) worker_.join(); // the upload's worker has ended: it posted the end
    QPointer<UploadDialog> self(this);
    worker_ = std::thread([this, self] {
        std::string path, error;
        bool ok = buildCabinet_ && buildCabinet_(
                                       [this, self](std::uint64_t done, std::uint64_t total) {
                                           const int value = ProgressValue(done, total);
                                           QMetaObject::invokeMethod(
                                               this,
                                               [self, value] {
                                                   if (self) self->progress_->setValue(value);
                                               },
                                               Qt::QueuedConnection);
                                       },
                                       stop_, &path, &error);
        if (!buildCabinet_) error = text::kFunctionUnavailable;
        QMetaObject::invokeMethod(
            this,
            [self, ok, path, error] {
                if (!self || self->stop_) return;
                self->save_->setEnabled(true);
                if (ok) {
                    self->cabinet_ = Tr(path);
                    self->saveBuilt(self->cabinet_);
                } else {
                    self->progress_->setValue(0);
                    self->status_->setText(Tr(text::kPrepareFailed).replace(QStringLiteral("%s"), Tr(error)));
                    emit self->saveFinished();
                }
            },
            Qt::QueuedConnection);
    });
}

void UploadDialog::saveBuilt(const QString& cabinet) {
    status_->setText(Tr(text::kSaving));
    const SaveResult result = saver_(this, cabinet);
    switch (result.kind) {
    case SaveResult::GaveUp:
        progress_->setValue(0);
        status_->setText(Tr(FinalStatusText(outcome_)));
        break;
    case SaveResult::Saved:
        save_->hide();
        cancel_->setDefault(true);
        progress_->setValue(kProgressMax);
        status_->setText(result.status);
        break;
    case SaveResult::Failed: status_->setText(result.status); break;
    }
    emit saveFinished();
}

void UploadDialog::stopWorker() {
    stop_ = true;
    if (worker_.joinable()) worker_.join();
}

void UploadDialog::reject() {
    if (!finished_) {
        status_->setText(Tr(text::kTerminating));
        QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    }
    stopWorker();
    QDialog::reject();
}

} // namespace ulmarro::upload
