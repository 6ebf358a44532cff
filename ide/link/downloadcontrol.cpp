#include "downloadcontrol.h"

#include "editor/oxbrindoc.h"
#include "shell/childframe.h"
#include "shell/commands.h"
#include "shell/mainframe.h"
#include "shell/prompts.h"
#include "shell/settings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QStatusBar>

namespace oxbrin {

namespace {

// The delays the Terminal page allows.
constexpr quint32 kMaxDelayMs = 10000;

} // namespace

CDownloadControl::CDownloadControl(CMainFrame* frame, CTerminalPort* port, SettingsBlock* settings)
    : frame_(frame), port_(port), settings_(settings), download_(*this) {
    port_->SetTransferHook(this);

    QStatusBar* bar = frame->statusBar();
    progress_ = new QLabel(bar);
    progress_->setObjectName(QStringLiteral("DownloadProgress"));
    progress_->setAccessibleDescription(QStringLiteral("Download progress"));
    progress_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    bar->insertPermanentWidget(0, progress_);
    progress_->hide();
    // The transfer ends on the port's thread (end of file); the pane and the
    // commands follow it from here.
    poll_.setInterval(100);
    connect(&poll_, &QTimer::timeout, this, &CDownloadControl::UpdateProgress);

    frame->SetHandler(
        ID_TERMINAL_DOWNLOAD, [this] { DownloadCommand(false); }, [this] { return !download_.IsActive(); });
    frame->SetHandler(
        ID_TERMINAL_DOWNLOAD_EEPROM, [this] { DownloadCommand(true); },
        [this] { return !download_.IsActive(); });
    frame->SetHandler(
        ID_TERMINAL_STOP, [this] { StopDownload(); }, [this] { return download_.IsActive(); });
    // A lost port ends the transfer as Stop Transfer does.
    connect(port_, &CTerminalPort::PortLost, this, [this] {
        if (download_.IsActive()) StopDownload();
    });
}

CDownloadControl::~CDownloadControl() {
    if (port_->IsOpen()) port_->Close();
    port_->SetTransferHook(nullptr);
    if (frame_) {
        for (int id : {ID_TERMINAL_DOWNLOAD, ID_TERMINAL_DOWNLOAD_EEPROM, ID_TERMINAL_STOP})
            frame_->SetHandler(id, {});
    }
    delete progress_;
}

QString CDownloadControl::SuggestedFile() const {
    if (!settings_->downloadFile.isEmpty()) return settings_->downloadFile;
    // Nothing sent yet: the S-records the active source builds to, when they
    // are there, so a first download after a build needs only Enter.
    CChildFrame* child = frame_ ? frame_->ActiveChild() : nullptr;
    if (!child || child->Document()->PathName().isEmpty()) return {};
    const QFileInfo source(child->Document()->PathName());
    const QString records = source.dir().filePath(source.completeBaseName() + QLatin1Char('.') +
                                                  QLatin1String(strings::kDownloadExtension));
    return QFileInfo::exists(records) ? records : QString();
}

void CDownloadControl::DownloadCommand(bool starHandshake) {
    FileRequest request{false, QString::fromLatin1(strings::kDownloadTitle), SuggestedFile(),
                        QtFileFilter(QString::fromLatin1(strings::kDownloadFilter))};
    const QStringList names = AskFileNames(frame_, request);
    if (names.isEmpty()) return;
    QString path = names.front();
    // A name typed without an extension means the S-record file.
    const QFileInfo info(path);
    const QString withExtension = path + QLatin1Char('.') + QLatin1String(strings::kDownloadExtension);
    if (!info.exists() && info.suffix().isEmpty() && QFileInfo::exists(withExtension)) path = withExtension;
    settings_->downloadFile = path;
    StartDownload(path, starHandshake);
}

bool CDownloadControl::Connect() {
    if (CStandInLine* line = line_) return line->Connect();
    return port_->IsOpen() || port_->OpenWithMessage();
}

void CDownloadControl::SetStandInLine(CStandInLine* line) {
    // A transfer belongs to the line it began on.
    if (download_.IsActive()) download_.StopDownload();
    line_ = line;
    UpdateProgress();
}

void CDownloadControl::TakeSettings() {
    download_.SetSendCR(settings_->sendCR != 0);
    download_.SetCharDelay(qMin(settings_->charDelay, kMaxDelayMs));
    download_.SetLineDelay(qMin(settings_->lineDelay, kMaxDelayMs));
}

bool CDownloadControl::StartDownload(const QString& path, bool starHandshake) {
    TakeSettings();
    const CDownload::Result result =
        download_.BeginDownload(QFile::encodeName(path).toStdString(), starHandshake);
    // The first line goes out from the port's own thread: the board may hold
    // the line (XOFF), and the window must never wait for it.
    if (result == CDownload::Result::Started && download_.IsActive()) {
        auto first = [this] { download_.SendFirstLine(); };
        CStandInLine* line = line_;
        if (!(line ? line->Post(first) : port_->Post(first))) download_.StopDownload();
    }
    if (result == CDownload::Result::FileError) {
        QString text = QString::fromLatin1(strings::kFileOpenFailed);
        text.replace(QLatin1String("%s"), QDir::toNativeSeparators(path));
        text += QStringLiteral("\n\n") + QString::fromLocal8Bit(download_.FileErrorText().c_str());
        ShowMessage(frame_, text, QMessageBox::Critical);
    }
    UpdateProgress();
    return result == CDownload::Result::Started;
}

void CDownloadControl::StopDownload() {
    download_.StopDownload();
    UpdateProgress();
}

void CDownloadControl::UpdateProgress() {
    const DownloadProgress p = download_.Progress();
    if (p.active) {
        // Delays changed on the Terminal page apply from the next line on.
        TakeSettings();
        if (progress_) {
            progress_->setText(
                QString::fromLatin1(strings::kDownloadProgress).arg(qMin(p.sent, p.total)).arg(p.total));
            progress_->show();
        }
        if (!poll_.isActive()) poll_.start();
    } else {
        poll_.stop();
        if (progress_) progress_->hide();
    }
    if (p.active != shownActive_) {
        // The progress field goes with the transfer; without a word at the
        // end a finished download looks the same as one that never began.
        if (!p.active && frame_)
            frame_->statusBar()->showMessage(
                QString::fromLatin1(strings::kDownloadEnded).arg(qMin(p.sent, p.total)).arg(p.total), 30000);
        shownActive_ = p.active;
        if (frame_) frame_->RequestUpdate();
    }
}

} // namespace oxbrin
