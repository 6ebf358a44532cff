// The client's dialogs on the offscreen platform.

#include "dialogs.h"
#include "report.h"
#include "settings.h"
#include "texts.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <sys/stat.h>

using namespace ulmarro;

namespace {

unsigned ModeOf(const QString& path) {
    struct stat st {};
    return stat(path.toLocal8Bit().constData(), &st) == 0 ? st.st_mode & 07777 : 0;
}

} // namespace

class DialogsTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir tmp_;

    ReportInfo Info() {
        ReportInfo info;
        info.processId = 4242;
        info.executablePath = QStringLiteral("/opt/korvell/bin/Oxbrin");
        info.applicationName = QStringLiteral("oxbrin");
        info.applicationVersion = QStringLiteral("1.21.0.0");
        info.moduleName = QStringLiteral("libc.so.6");
        info.moduleVersion = QStringLiteral("6.0.0.0");
        info.offset = 0x8aeec;
        info.config.productName = QStringLiteral("Oxbrin IDE");
        info.config.companyName = QStringLiteral("Korvell");
        info.config.message = QStringLiteral("Please mention what you were doing.");
        return info;
    }

    static QString Text(QWidget& w, int id) {
        auto* l = w.findChild<QLabel*>(QStringLiteral("text%1").arg(id));
        return l ? l->text() : QStringLiteral("<missing %1>").arg(id);
    }
    static QPushButton* Button(QWidget& w, int id) {
        return w.findChild<QPushButton*>(QStringLiteral("button%1").arg(id));
    }

    QString MakeDump(int size) {
        QString path = tmp_.path() + QStringLiteral("/crash.dmp");
        QFile f(path);
        f.open(QIODevice::WriteOnly);
        QByteArray data(size, '\0');
        for (int i = 0; i < size; ++i) data[i] = static_cast<char>((i * 7919) >> 3);
        f.write(data);
        return path;
    }

    QStringList TemporaryCabinets() {
        return QDir(tmp_.path()).entryList({QStringLiteral("~zk*.cab")}, QDir::Files);
    }

private slots:
    void initTestCase() {
        QVERIFY(tmp_.isValid());
        qputenv("TMPDIR", tmp_.path().toLocal8Bit());
        qputenv("XDG_CONFIG_DIRS", (tmp_.path() + QStringLiteral("/xdg")).toLocal8Bit());
        qputenv("XDG_CONFIG_HOME", (tmp_.path() + QStringLiteral("/home")).toLocal8Bit());
    }

    void promptShowsTheApplicationsWords() {
        ReportInfo info = Info();
        PromptDialog prompt(info, {});
        QCOMPARE(prompt.windowTitle(), QStringLiteral("KORVELL Error Reporting"));
        QCOMPARE(Text(prompt, 1101), QStringLiteral("Oxbrin IDE has encountered a problem and needs to "
                                                    "close.  We are sorry for the inconvenience."));
        QCOMPARE(Text(prompt, 1102), QString::fromUtf8(text::kPromptLost)); // no placeholders: unchanged
        QCOMPARE(Text(prompt, 1103), QStringLiteral("Please tell Korvell about this problem."));
        QCOMPARE(Text(prompt, 1104),
                 QStringLiteral(
                     "We have created an error report that you can send to help us improve Oxbrin IDE.  "
                     "We will treat this report as confidential and anonymous."));
        // Every occurrence is replaced, and replacement text is taken literally.
        info.config.productName = QStringLiteral("<company>");
        QCOMPARE(SubstitutePromptText(QStringLiteral("<productname>/<productname>"), info),
                 QStringLiteral("<company>/<company>"));
    }

    void productNameFallsBackToTheFileName() {
        ReportInfo info = Info();
        info.config.productName.clear();
        ApplyFallbacks(info);
        QCOMPARE(info.config.productName, QStringLiteral("Oxbrin"));
        QCOMPARE(info.config.iconResource, info.executablePath);
    }

    void debugButtonOnlyWithADebugger() {
        ReportInfo info = Info();
        {
            PromptDialog prompt(info, {});
            prompt.show();
            QVERIFY(!Button(prompt, 32769)->isVisible());
        }
        QSettings system(SystemSettingsPath(), QSettings::IniFormat);
        system.setValue(QStringLiteral("Debugger"), QStringLiteral("gdb -p %ld"));
        system.sync();
        info.debuggerCommand = ConfiguredDebugger();
        QCOMPARE(info.debuggerCommand, QStringLiteral("gdb -p %ld"));
        PromptDialog prompt(info, {});
        prompt.show();
        QVERIFY(Button(prompt, 32769)->isVisible());
        QCOMPARE(Button(prompt, 32769)->text(), QStringLiteral("De&bug"));
        QTest::mouseClick(Button(prompt, 32769), Qt::LeftButton);
        QCOMPARE(prompt.result(), int(PromptDialog::Debug));
        system.remove(QStringLiteral("Debugger"));
    }

    // A session whose search path starts with a directory of its own still
    // finds the administrator's settings in a later one, each value in the
    // first file that holds it; the user's own value wins over all of them.
    void systemSettingsFromEverySearchDirectory() {
        const QByteArray saved = qgetenv("XDG_CONFIG_DIRS");
        const QString first = tmp_.path() + QStringLiteral("/session");
        const QString second = tmp_.path() + QStringLiteral("/admin");
        qputenv("XDG_CONFIG_DIRS", (first + QStringLiteral(":") + second).toLocal8Bit());
        const QString id = QStringLiteral("{2D4B4EFA-B16D-4DE8-AA49-CB5CB9AB568D}");
        const QString group = QStringLiteral("Applications/") + id + QStringLiteral("/");
        {
            QSettings s(first + QStringLiteral("/KORVELL/Ulmarro.conf"), QSettings::IniFormat);
            s.setValue(group + QStringLiteral("ProductName"), QStringLiteral("Session product"));
            QSettings a(second + QStringLiteral("/KORVELL/Ulmarro.conf"), QSettings::IniFormat);
            a.setValue(group + QStringLiteral("ProductName"), QStringLiteral("Admin product"));
            a.setValue(group + QStringLiteral("ReportUrl"), QStringLiteral("https://reports.example/upload"));
            a.setValue(group + QStringLiteral("CompanyName"), QStringLiteral("Admin company"));
            a.setValue(QStringLiteral("Debugger"), QStringLiteral("gdb -p %ld"));
            QSettings u(UserSettingsPath(), QSettings::IniFormat);
            u.setValue(group + QStringLiteral("CompanyName"), QStringLiteral("User company"));
        }
        ClientConfig c = LoadConfig(id);
        QCOMPARE(c.productName, QStringLiteral("Session product"));
        QCOMPARE(c.reportUrl, QStringLiteral("https://reports.example/upload"));
        QCOMPARE(c.companyName, QStringLiteral("User company"));
        QCOMPARE(ConfiguredDebugger(), QStringLiteral("gdb -p %ld"));
        QSettings(UserSettingsPath(), QSettings::IniFormat).remove(QStringLiteral("Applications"));
        qputenv("XDG_CONFIG_DIRS", saved);
        QVERIFY(ConfiguredDebugger().isEmpty());
    }

    void promptAnswersAndSafeDefault() {
        ReportInfo info = Info();
        for (int id : {1, 2}) {
            PromptDialog prompt(info, {});
            prompt.show();
            QVERIFY(QTest::qWaitForWindowExposed(&prompt));
            QVERIFY(Button(prompt, 2)->isDefault());
            QVERIFY(!Button(prompt, 1)->isDefault());
            QTest::mouseClick(Button(prompt, id), Qt::LeftButton);
            QCOMPARE(prompt.result(), id == 1 ? int(PromptDialog::Send) : int(PromptDialog::DontSend));
        }
        // Enter right after the prompt appears must not send anything.
        PromptDialog prompt(info, {});
        prompt.show();
        QVERIFY(QTest::qWaitForWindowExposed(&prompt));
        QTest::keyClick(&prompt, Qt::Key_Return);
        QCOMPARE(prompt.result(), int(PromptDialog::DontSend));
    }

    void detailsLineLinkAndContents() {
        ReportInfo info = Info();
        QCOMPARE(DetailsText(info), QStringLiteral("oxbrin - 1.21.0.0 - libc.so.6 - 6.0.0.0 - 0008AEEC\r\n"
                                                   "Please mention what you were doing."));
        info.offset = 0x7f00deadbeefULL; // unknown module: the absolute address, all its digits
        info.moduleName = QStringLiteral("unknown");
        QVERIFY(DetailsText(info).contains(QStringLiteral(" - unknown - 6.0.0.0 - 7F00DEADBEEF\r\n")));
        {
            DetailsDialog details(info, {});
            details.show();
            QCOMPARE(details.windowTitle(), QStringLiteral("Error Report Details"));
            QVERIFY(Text(details, 1201).startsWith(QStringLiteral("oxbrin - 1.21.0.0 - unknown")));
            QVERIFY(!details.findChild<QLabel*>(QStringLiteral("link1202"))->isVisible());
            QVERIFY2(!Button(details, 32768)->isVisible(), "no contents view to open");
        }
        info.config.privacyPolicy = QStringLiteral("https://example.invalid/privacy");
        int opened = 0;
        DetailsDialog details(info, [&](QWidget*, const ReportInfo&) { ++opened; });
        details.show();
        QLabel* link = details.findChild<QLabel*>(QStringLiteral("link1202"));
        QVERIFY(link->isVisible());
        QVERIFY(link->text().contains(QStringLiteral("Click here to see our privacy policy")));
        QVERIFY(Button(details, 32768)->isVisible());
        QTest::mouseClick(Button(details, 32768), Qt::LeftButton);
        QCOMPARE(opened, 1);
    }

    void promptOpensDetails() {
        ReportInfo info = Info();
        PromptDialog prompt(info, {});
        prompt.show();
        QString seen;
        QTimer::singleShot(0, this, [&] {
            if (QWidget* modal = QApplication::activeModalWidget()) {
                seen = modal->objectName();
                modal->close();
            }
        });
        QTest::mouseClick(Button(prompt, 32768), Qt::LeftButton);
        QCOMPARE(seen, QStringLiteral("dialog202"));
    }

    void saveSucceeds() {
#if QORB_HAVE_CAB
        ReportInfo info = Info();
        info.dumpPath = MakeDump(100001);
        info.config.supportEmail = QStringLiteral("support@korvell.invalid");
        QString target = tmp_.path() + QStringLiteral("/saved report.cab");
        {
            SaveDialog dialog(info);
            dialog.setPathChooser([&](QWidget*) { return target; });
            QSignalSpy finished(&dialog, &SaveDialog::buildFinished);
            dialog.show();
            QVERIFY(finished.count() == 1 || finished.wait(20000));
            QCOMPARE(finished.first().first().toBool(), true);
            auto* status = dialog.findChild<QLabel*>(QStringLiteral("status"));
            QCOMPARE(status->text(), QString::fromUtf8(text::kReadyToSave));
            QVERIFY(Button(dialog, 32770)->isEnabled());
            QCOMPARE(TemporaryCabinets().size(), 1);
            QTest::mouseClick(Button(dialog, 32770), Qt::LeftButton);
            QCOMPARE(status->text(), QStringLiteral("The error report has been saved.  Please send it by "
                                                    "e-mail to support@korvell.invalid."));
            QVERIFY(!Button(dialog, 32770)->isVisible());
            QCOMPARE(Button(dialog, 2)->text(), QStringLiteral("Close"));
            QCOMPARE(dialog.findChild<QProgressBar*>(QStringLiteral("progress"))->value(), 256);
            QFile saved(target), temp(dialog.cabinetPath());
            QVERIFY(saved.open(QIODevice::ReadOnly) && temp.open(QIODevice::ReadOnly));
            QCOMPARE(saved.readAll(), temp.readAll());
            // The report holds the crashed program's memory: for the user's eyes only,
            // also where it replaces a file anyone could read.
            QCOMPARE(ModeOf(target), 0600u);
            QFile::setPermissions(target, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                              QFileDevice::ReadGroup | QFileDevice::ReadOther);
            QTest::mouseClick(Button(dialog, 32770), Qt::LeftButton); // hidden after saving: no second copy
            ReportCabinet again;
            QString error;
            QVERIFY(again.Build(info.dumpPath, nullptr, nullptr, &error));
            QVERIFY(again.CopyTo(target));
            QCOMPARE(ModeOf(target), 0600u);
        }
        QVERIFY(TemporaryCabinets().isEmpty()); // the temporary cabinet goes with the dialog
        // Without an address the company is named.
        info.config.supportEmail.clear();
        QCOMPARE(SavedStatus(info),
                 QStringLiteral("The error report has been saved.  Please send it by e-mail to Korvell."));
#else
        QSKIP("the cabinet writer is not part of this build");
#endif
    }

    void saveFailsWithTheChosenPath() {
#if QORB_HAVE_CAB
        ReportInfo info = Info();
        info.dumpPath = MakeDump(5000);
        QString target = tmp_.path() + QStringLiteral("/no such dir/report.cab");
        SaveDialog dialog(info);
        dialog.setPathChooser([&](QWidget*) { return target; });
        QSignalSpy finished(&dialog, &SaveDialog::buildFinished);
        dialog.show();
        QVERIFY(finished.count() == 1 || finished.wait(20000));
        QTest::mouseClick(Button(dialog, 32770), Qt::LeftButton);
        QCOMPARE(dialog.findChild<QLabel*>(QStringLiteral("status"))->text(),
                 QStringLiteral("Failed to save the error report to '%1'.").arg(target));
        QVERIFY(Button(dialog, 32770)->isVisible()); // the user may try another place
        QCOMPARE(Button(dialog, 2)->text(), QStringLiteral("Cancel"));
        // Giving up in the file dialog changes nothing.
        dialog.setPathChooser([](QWidget*) { return QString(); });
        QTest::mouseClick(Button(dialog, 32770), Qt::LeftButton);
        QVERIFY(dialog.isVisible());
#else
        QSKIP("the cabinet writer is not part of this build");
#endif
    }

    void buildFailureIsShown() {
        ReportInfo info = Info();
        info.dumpPath = tmp_.path() + QStringLiteral("/missing.dmp");
        SaveDialog dialog(info);
        QSignalSpy finished(&dialog, &SaveDialog::buildFinished);
        dialog.show();
        QVERIFY(finished.count() == 1 || finished.wait(20000));
        QCOMPARE(finished.first().first().toBool(), false);
        QVERIFY(dialog.findChild<QLabel*>(QStringLiteral("status"))
                    ->text()
                    .startsWith(QStringLiteral("Failed to prepare errror report: ")));
        QVERIFY(!Button(dialog, 32770)->isEnabled());
        QVERIFY(TemporaryCabinets().isEmpty());
    }

    void cancelStopsTheWorker() {
        ReportInfo info = Info();
        info.dumpPath = MakeDump(8 << 20);
        {
            SaveDialog dialog(info);
            dialog.show();
            QTest::mouseClick(Button(dialog, 2), Qt::LeftButton); // at once, while building
            QCOMPARE(dialog.result(), int(QDialog::Rejected));
            QCOMPARE(dialog.findChild<QLabel*>(QStringLiteral("status"))->text(),
                     QStringLiteral("Please wait while Error Reporting is terminating..."));
            QVERIFY(!dialog.isVisible());
        }
        QVERIFY(TemporaryCabinets().isEmpty());
    }
};

QTEST_MAIN(DialogsTest)
#include "dialogs_test.moc"
