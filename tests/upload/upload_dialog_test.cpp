// The upload dialogs on the offscreen platform against the local test
// server: statuses, progress, the link, the connection question, Cancel.

#include "server_fixture.h"
#include "texts.h"
#include "upload_dialog.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

using namespace ulmarro::upload;

namespace {

// The server fixture, driven from QtTest instead of GoogleTest.
class Server : public uploadtest::ServerTest {
public:
    void Up() { SetUp(); }
    void Down() { TearDown(); }
    using ServerTest::ClearRequests;
    using ServerTest::MakeCabinet;
    using ServerTest::Requests;
    using ServerTest::Url;
    void TestBody() override {}
};

ReportFields Fields() {
    ReportFields f;
    f.productName = "qorb12";
    f.applicationName = "qorb12";
    f.applicationVersion = "1.21.0.0";
    f.moduleName = "qorb12";
    f.moduleVersion = "1.21.0.0";
    return f;
}

QString Tr(const char* text) { return QString::fromUtf8(text); }

} // namespace

class UploadDialogTest : public QObject {
    Q_OBJECT
private:
    Server server_;
    std::string cabinet_;

    int builds_ = 0;

    std::unique_ptr<UploadDialog> Dialog(const std::string& path, UploadOptions options = {}) {
        auto url = ParseReportUrl(server_.Url(path));
        std::string cabinet = cabinet_;
        builds_ = 0;
        auto dialog = std::make_unique<UploadDialog>(
            *url, Fields(),
            [this, cabinet](const auto& progress, const std::atomic<bool>&, std::string* p, std::string*) {
                ++builds_;
                progress(1, 1);
                *p = cabinet;
                return true;
            },
            options);
        dialog->setConnectionCheck([] { return Connection::Connected; });
        return dialog;
    }
    static QPushButton* SaveButton(QDialog& d) {
        return d.findChild<QPushButton*>(QStringLiteral("saveReport"));
    }
    static UploadOptions Fast() {
        UploadOptions o;
        o.deadlines.statusSeconds = 2;
        o.deadlines.uploadSeconds = 2;
        o.deadlines.uploadMaxSeconds = 2;
        o.deadlines.stallSeconds = 1;
        return o;
    }
    static QString Status(QDialog& d) { return d.findChild<QLabel*>(QStringLiteral("status"))->text(); }
    static int Progress(QDialog& d) {
        return d.findChild<QProgressBar*>(QStringLiteral("progress"))->value();
    }
    static QPushButton* Button(QDialog& d) { return d.findChild<QPushButton*>(QStringLiteral("button2")); }
    static QLabel* Link(QDialog& d) { return d.findChild<QLabel*>(QStringLiteral("link1002")); }

private slots:
    void init() {
        server_.Up();
        cabinet_ = server_.MakeCabinet(300000);
    }
    void cleanup() { server_.Down(); }

    void sentWithThanks() {
        auto d = Dialog("/ok/ok");
        QSignalSpy done(d.get(), &UploadDialog::uploadFinished);
        QCOMPARE(d->windowTitle(), Tr(ulmarro::text::kCaption));
        QCOMPARE(Button(*d)->text(), QStringLiteral("Cancel"));
        d->show();
        QVERIFY(done.wait(30000));
        QCOMPARE(Status(*d), Tr(ulmarro::text::kThanks));
        QCOMPARE(Progress(*d), 256);
        QCOMPARE(Button(*d)->text(), QStringLiteral("Close"));
        QVERIFY(!Link(*d)->isVisible());
        QVERIFY(!d->findChild<BusyAnimation*>()->running());
        QCOMPARE(server_.Requests().size(), std::size_t{3});
        Button(*d)->click();
        QVERIFY(!d->isVisible());
    }

    void linkFromTheServer() {
        auto d = Dialog("/ok/url");
        QString opened;
        d->setLinkOpener([&](const QString& link) { opened = link; });
        QSignalSpy done(d.get(), &UploadDialog::uploadFinished);
        d->show();
        QVERIFY(done.wait(30000));
        QCOMPARE(Status(*d), Tr(ulmarro::text::kThanksWithLink));
        QVERIFY(Link(*d)->isVisible());
        QCOMPARE(Link(*d)->text().contains(QStringLiteral("Click here to get more information.")), true);
        emit Link(*d)->linkActivated(QStringLiteral("more"));
        QCOMPARE(opened, QStringLiteral("http://reports.example/kb/42"));
    }

    void failureShowsTheMessage() {
        auto d = Dialog("/404/ok");
        QSignalSpy done(d.get(), &UploadDialog::uploadFinished);
        d->show();
        QVERIFY(done.wait(30000));
        QCOMPARE(Status(*d), QStringLiteral("Failed to check issue status: HTTP 404 - Not Found"));
        QCOMPARE(Progress(*d), 0);
        QCOMPARE(Button(*d)->text(), QStringLiteral("Close"));
        QVERIFY2(!SaveButton(*d)->isVisible(), "no saver, no saving");
    }

    // After any failure the report can still be saved while the dialog is
    // open: the cabinet the upload built, or one built for the purpose.
    void failedUploadOffersSaving() {
        struct Case {
            const char* path;
            int buildsBeforeSaving;
        } cases[] = {{"/ok/500", 1}, {"/ok/silent", 1}, {"/redirect/ok", 0}, {"/drip/ok", 0}};
        for (const Case& c : cases) {
            auto d = Dialog(c.path, Fast());
            QStringList asked;
            auto answer = SaveResult{SaveResult::GaveUp, {}};
            d->setReportSaver([&](QWidget* parent, const QString& cabinet) {
                if (parent != d.get()) return SaveResult{SaveResult::Failed, QStringLiteral("wrong parent")};
                asked << cabinet;
                return answer;
            });
            QSignalSpy done(d.get(), &UploadDialog::uploadFinished);
            QSignalSpy saved(d.get(), &UploadDialog::saveFinished);
            d->show();
            QVERIFY2(!SaveButton(*d)->isVisible(), c.path);
            QVERIFY(done.wait(30000));
            QCOMPARE(d->outcome().kind, Outcome::Failed);
            const QString failure = Status(*d);
            QVERIFY2(failure.startsWith(QStringLiteral("Failed to ")), qPrintable(failure));
            QVERIFY2(SaveButton(*d)->isVisible(), c.path);
            QCOMPARE(SaveButton(*d)->text(), QStringLiteral("Save &Report..."));
            QCOMPARE(builds_, c.buildsBeforeSaving);
            // The user gives up in the file dialog: nothing changes.
            SaveButton(*d)->click();
            QVERIFY(saved.count() == 1 || saved.wait(30000));
            QCOMPARE(asked, QStringList{QString::fromStdString(cabinet_)});
            QCOMPARE(Status(*d), failure);
            QVERIFY(SaveButton(*d)->isVisible());
            // A place that cannot be written: the reason, and another try.
            answer = {SaveResult::Failed, QStringLiteral("Failed to save the error report to '/x'.")};
            SaveButton(*d)->click();
            QVERIFY(saved.count() == 2 || saved.wait(30000));
            QCOMPARE(Status(*d), QStringLiteral("Failed to save the error report to '/x'."));
            QVERIFY(SaveButton(*d)->isVisible());
            answer = {SaveResult::Saved, QStringLiteral("The error report has been saved.")};
            SaveButton(*d)->click();
            QVERIFY(saved.count() == 3 || saved.wait(30000));
            QCOMPARE(Status(*d), QStringLiteral("The error report has been saved."));
            QVERIFY(!SaveButton(*d)->isVisible());
            QCOMPARE(Progress(*d), 256);
            QCOMPARE(builds_, 1); // built once, whoever needed it first
            QCOMPARE(asked.size(), 3);
        }
        // Sent: nothing to save.
        auto d = Dialog("/ok/ok");
        d->setReportSaver([](QWidget*, const QString&) { return SaveResult{}; });
        QSignalSpy done(d.get(), &UploadDialog::uploadFinished);
        d->show();
        QVERIFY(done.wait(30000));
        QVERIFY(!SaveButton(*d)->isVisible());
    }

    // A server's address that is no web page is shown, never opened.
    void onlyWebLinksOpen() {
        auto d = Dialog("/urlfile/ok");
        int opened = 0;
        d->setLinkOpener([&](const QString&) { ++opened; });
        QSignalSpy done(d.get(), &UploadDialog::uploadFinished);
        d->show();
        QVERIFY(done.wait(30000));
        QCOMPARE(d->outcome().kind, Outcome::Done);
        QLabel* link = Link(*d);
        QVERIFY(link->isVisible());
        QCOMPARE(link->text(), QStringLiteral("file:///etc/passwd"));
        QCOMPARE(link->textFormat(), Qt::PlainText);
        QVERIFY(!(link->textInteractionFlags() & Qt::LinksAccessibleByMouse));
        QTest::mouseClick(link, Qt::LeftButton, {}, QPoint(5, link->height() / 2));
        QCOMPARE(opened, 0);
    }

    // Cancel ends the dialog while the server keeps it waiting, long before
    // any deadline (they are the real ones here: a minute and more).
    void cancelEndsAWaitingRequest() {
        for (const char* path : {"/silent/ok", "/drip/ok"}) {
            auto d = Dialog(path);
            d->show();
            QTRY_VERIFY_WITH_TIMEOUT(
                server_.Requests().size() == 1 && Status(*d) == Tr(ulmarro::text::kChecking), 30000);
            Button(*d)->click();
            QCOMPARE(d->result(), int(QDialog::Rejected));
            QVERIFY(!d->isVisible());
            QVERIFY(!d->isFinished());
            server_.ClearRequests();
        }
    }

    // Without a connection the user is asked until the check passes or the
    // user gives up; either way the upload is then tried.
    void connectionQuestion() {
        for (bool retry : {true, false}) {
            auto d = Dialog("/ok/ok");
            int checks = 0, asked = 0;
            d->setConnectionCheck(
                [&] { return ++checks < 3 ? Connection::NotConnected : Connection::Connected; });
            d->setConnectionPrompt([&](QWidget*) {
                ++asked;
                return retry;
            });
            QSignalSpy done(d.get(), &UploadDialog::uploadFinished);
            d->show();
            QVERIFY(done.wait(30000));
            QCOMPARE(asked, retry ? 2 : 1);
            QCOMPARE(checks, retry ? 3 : 1);
            QCOMPARE(d->outcome().kind, Outcome::Done);
        }
        ConnectionDialog question;
        QCOMPARE(question.windowTitle(), QStringLiteral("Internet Connection Required"));
        QCOMPARE(question.findChild<QLabel*>(QStringLiteral("text"))->text(), Tr(kConnectionText));
        QTimer::singleShot(0, &question,
                           [&] { question.findChild<QPushButton*>(QStringLiteral("button4"))->click(); });
        QCOMPARE(question.exec(), int(QDialog::Accepted));
    }

    void cancelStopsTheUpload() {
        // More than the sockets between us and the server can hold, so the
        // server still has bytes to wait for when the client stops.
        cabinet_ = server_.MakeCabinet(16 * 1024 * 1024);
        auto d = Dialog("/ok/slow");
        d->show();
        auto* bar = d->findChild<QProgressBar*>(QStringLiteral("progress"));
        QTRY_VERIFY_WITH_TIMEOUT(Status(*d) == Tr(ulmarro::text::kUploading) && bar->value() > 8, 30000);
        Button(*d)->click();
        QCOMPARE(d->result(), int(QDialog::Rejected));
        QVERIFY(!d->isFinished());
        // The server saw the body stop before its end.
        auto requests = server_.Requests();
        for (int i = 0; i < 600 && requests.size() < 3; ++i) {
            QTest::qWait(50);
            requests = server_.Requests();
        }
        QCOMPARE(requests.size(), std::size_t{3});
        QVERIFY(requests[2].received < requests[2].expected);
    }
};

QTEST_MAIN(UploadDialogTest)
#include "upload_dialog_test.moc"
