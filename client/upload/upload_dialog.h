#pragma once

// The upload progress dialog (205) and the connection dialog (206). The
// requests run on a worker thread; status, progress and the end reach the
// dialog as queued calls.

#include "report_upload.h"

#include <QDialog>
#include <QString>

#include <atomic>
#include <functional>
#include <thread>

class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

namespace ulmarro::upload {

// A small busy animation: a block travelling between two folders.
class BusyAnimation : public QWidget {
    Q_OBJECT
public:
    explicit BusyAnimation(QWidget* parent = nullptr);
    void setRunning(bool running);
    bool running() const;
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QTimer* timer_;
    int frame_ = 0;
};

// "Internet Connection Required": Retry (accepted) or Cancel.
class ConnectionDialog : public QDialog {
    Q_OBJECT
public:
    explicit ConnectionDialog(QWidget* parent = nullptr);
};

// Saving the report after a failed upload: the caller asks where and copies
// the cabinet; the dialog shows the status it returns.
struct SaveResult {
    enum Kind { GaveUp, Saved, Failed } kind = GaveUp;
    QString status; // the status line after Saved or Failed
};
using ReportSaver = std::function<SaveResult(QWidget* parent, const QString& cabinetPath)>;

class UploadDialog : public QDialog {
    Q_OBJECT
public:
    UploadDialog(ReportUrl url, ReportFields fields, CabinetBuilder buildCabinet, UploadOptions options = {},
                 QWidget* parent = nullptr);
    ~UploadDialog() override;

    // Replaceable for tests: the connection check, the question when there
    // is no connection (true: check again), and what opens the server's link.
    void setConnectionCheck(std::function<Connection()> check) { check_ = std::move(check); }
    void setConnectionPrompt(std::function<bool(QWidget*)> prompt) { prompt_ = std::move(prompt); }
    void setLinkOpener(std::function<void(const QString&)> opener) { opener_ = std::move(opener); }
    // Without a saver the dialog offers no saving.
    void setReportSaver(ReportSaver saver) { saver_ = std::move(saver); }

    // Starts the sequence; called when the dialog is shown.
    void start();
    bool isFinished() const { return finished_; }
    const Outcome& outcome() const { return outcome_; }

signals:
    void uploadFinished();
    void saveFinished(); // "Save Report..." has done what it could (saved, failed or given up)

protected:
    void showEvent(QShowEvent* event) override;
    void reject() override;

private:
    void finish(const Outcome& outcome);
    void saveReport();
    void saveBuilt(const QString& cabinet);
    void stopWorker();

    ReportUrl url_;
    ReportFields fields_;
    CabinetBuilder buildCabinet_;
    UploadOptions options_;
    std::function<Connection()> check_;
    std::function<bool(QWidget*)> prompt_;
    std::function<void(const QString&)> opener_;
    ReportSaver saver_;
    QString cabinet_; // built for the upload or for saving
    std::thread worker_;
    std::atomic<bool> stop_{false};
    bool started_ = false;
    bool finished_ = false;
    Outcome outcome_;
    BusyAnimation* animation_ = nullptr;
    QLabel* status_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QLabel* link_ = nullptr;
    QPushButton* save_ = nullptr;
    QPushButton* cancel_ = nullptr;
};

} // namespace ulmarro::upload
