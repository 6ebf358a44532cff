#pragma once

// The client's dialogs: the prompt (201), the error details (202) and the
// save dialog (204). Controls carry object names made of their ids
// ("text1101", "button32769", ...) so that tests and accessibility tools find them.

#include "report.h"
#include "reportfiles.h"

#include <QDialog>

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

class QLabel;
class QProgressBar;
class QPushButton;

namespace ulmarro {

// Opens the report contents view for a dump; not set when the client has none.
using ContentsViewer = std::function<void(QWidget* parent, const ReportInfo& info)>;

class PromptDialog : public QDialog {
    Q_OBJECT
public:
    enum Answer { Send = 1, DontSend = 2, Debug = 3 };

    PromptDialog(const ReportInfo& info, ContentsViewer contents, QWidget* parent = nullptr);

private:
    const ReportInfo& info_;
    ContentsViewer contents_;
};

class DetailsDialog : public QDialog {
    Q_OBJECT
public:
    DetailsDialog(const ReportInfo& info, ContentsViewer contents, QWidget* parent = nullptr);
};

class SaveDialog : public QDialog {
    Q_OBJECT
public:
    // Asks the user for the target file; empty means the user gave up.
    using PathChooser = std::function<QString(QWidget* parent)>;

    explicit SaveDialog(const ReportInfo& info, QWidget* parent = nullptr);
    ~SaveDialog() override;

    void setPathChooser(PathChooser chooser) { chooser_ = std::move(chooser); }
    // Starts building the cabinet; called when the dialog is shown.
    void start();
    bool cabinetReady() const { return ready_; }
    QString cabinetPath() const { return cabinet_.path(); }

    static QString DefaultPathChooser(QWidget* parent);

signals:
    void buildFinished(bool ok);

protected:
    void showEvent(QShowEvent* event) override;
    void reject() override;

private:
    void save();
    void stopWorker();

    const ReportInfo& info_;
    ReportCabinet cabinet_;
    PathChooser chooser_;
    std::thread worker_;
    std::atomic<bool> stop_{false};
    bool started_ = false;
    bool ready_ = false;
    QLabel* status_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QPushButton* save_ = nullptr;
    QPushButton* cancel_ = nullptr;
};

// "Save report as" status when the copy succeeded (string 27).
QString SavedStatus(const ReportInfo& info);

} // namespace ulmarro
