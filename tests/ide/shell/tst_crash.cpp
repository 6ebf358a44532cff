#include "crashhook.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

// Test Error Reporting answered with Yes raises a real access fault that the
// crash hook catches and hands to the registered report client.
class TestCrash : public QObject {
    Q_OBJECT

    QProcess* Run(const QTemporaryDir& dir) {
        auto* p = new QProcess(this);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_DIRS"), dir.path());
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        p->setProcessEnvironment(env);
        p->start(QStringLiteral(IDE_CRASH_HELPER), {dir.path()});
        return p;
    }

private slots:
    void YesReachesTheReportClient() {
        QTemporaryDir dir;
        // A stand-in client that notes how it was started.
        const QString client = dir.filePath(QStringLiteral("client.sh"));
        QFile script(client);
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write(QStringLiteral("#!/bin/sh\necho \"$@\" > '%1/args'\nexit 0\n").arg(dir.path()).toUtf8());
        script.close();
        QVERIFY(script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("KORVELL")));
        QFile conf(dir.filePath(QStringLiteral("KORVELL/Ulmarro.conf")));
        QVERIFY(conf.open(QIODevice::WriteOnly));
        conf.write(QStringLiteral("[General]\nDefault=%1\n").arg(client).toUtf8());
        conf.close();

        QProcess* p = Run(dir);
        QVERIFY(p->waitForFinished(60000));
        QCOMPARE(p->exitStatus(), QProcess::NormalExit);
        QCOMPARE(p->exitCode(), 255);
        QFile args(dir.filePath(QStringLiteral("args")));
        QVERIFY(args.open(QIODevice::ReadOnly));
        const QString line = QString::fromUtf8(args.readAll());
        QVERIFY2(line.contains(QStringLiteral("-i ") +
                               QString::fromLatin1(crashhook::ApplicationId(crashhook::Program::Oxbrin))),
                 qPrintable(line));
        QVERIFY(line.contains(QStringLiteral("-t ")));
    }

    void WithoutClientTheFaultEndsTheProgram() {
        QTemporaryDir dir;
        QProcess* p = Run(dir);
        QVERIFY(p->waitForFinished(60000));
        QCOMPARE(p->exitStatus(), QProcess::CrashExit);
        QVERIFY(p->exitCode() != 3);
    }
};

QTEST_GUILESS_MAIN(TestCrash)
#include "tst_crash.moc"
