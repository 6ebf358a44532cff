// The contents dialog on the offscreen platform: the virtual list shows the
// section lines, the file list shows below it or is hidden with its label.

#include "contents_dialog.h"
#include "dump_builder.h"

#include <QLabel>
#include <QListView>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

using ulmarro::contents::ContentsDialog;

class ContentsDialogTest : public QObject {
    Q_OBJECT
  private:
    QString WriteDump(const QTemporaryDir& dir) {
        dumptest::Builder b;
        b.Exception(0xC0000094, 0, 0, 0x401000);
        b.Threads({{7, 0x12FF00, dumptest::Bytes("stack bytes here!")}}, false);
        auto bytes = b.Finish();
        QString path = dir.filePath(QStringLiteral("~zk00000001.dmp"));
        QFile f(path);
        f.open(QIODevice::WriteOnly);
        f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
        return path;
    }

  private slots:
    void listShowsTheLinesAndTheFiles() {
        QTemporaryDir dir;
        QString dump = WriteDump(dir);
        ContentsDialog dialog(dump, {dump, QStringLiteral("/tmp/other file.txt")});
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Error Report Contents"));
        auto* list = dialog.findChild<QListView*>(QStringLiteral("list"));
        QVERIFY(list);
        QAbstractItemModel* model = list->model();
        QCOMPARE(model->rowCount(), 6 + 2 + 9);
        QCOMPARE(model->index(0, 0).data().toString(), QStringLiteral("Exception Information"));
        QCOMPARE(model->index(1, 0).data().toString(), QStringLiteral("Code: INT_DIVIDE_BY_ZERO"));
        QCOMPARE(model->index(6, 0).data().toString(), QStringLiteral("Thread 1"));
        QCOMPARE(model->index(14, 0).data().toString(),
                 QStringLiteral("0012FF00: 73746163 6B206279 74657320 68657265 stack bytes here"));
        QCOMPARE(model->index(15, 0).data().toString(),
                 QStringLiteral("0012FF10: 21000000 00000000 00000000 00000000 !"));
        QVERIFY(QFontInfo(list->font()).fixedPitch());
        auto* files = dialog.findChild<QPlainTextEdit*>(QStringLiteral("files"));
        auto* label = dialog.findChild<QLabel*>(QStringLiteral("filesLabel"));
        QVERIFY(files->isVisible() && label->isVisible());
        QCOMPARE(files->toPlainText(), dump + QStringLiteral("\n/tmp/other file.txt\n"));
        QVERIFY(files->isReadOnly());
        dialog.findChild<QPushButton*>(QStringLiteral("button2"))->click();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
    }

    void withoutFilesTheListTakesTheRoom() {
        QTemporaryDir dir;
        QString dump = WriteDump(dir);
        ContentsDialog dialog(dump, {});
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        auto* list = dialog.findChild<QListView*>(QStringLiteral("list"));
        QVERIFY(!dialog.findChild<QPlainTextEdit*>(QStringLiteral("files"))->isVisible());
        QVERIFY(!dialog.findChild<QLabel*>(QStringLiteral("filesLabel"))->isVisible());
        auto* close = dialog.findChild<QPushButton*>(QStringLiteral("button2"));
        // The list reaches down to the row of the Close button.
        QVERIFY(list->geometry().bottom() + 3 * close->height() > close->geometry().top());
    }

    void unreadableDumpStillOpens() {
        ContentsDialog dialog(QStringLiteral("/nonexistent/x.dmp"), {QStringLiteral("/nonexistent/x.dmp")});
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QCOMPARE(dialog.findChild<QListView*>(QStringLiteral("list"))->model()->rowCount(), 0);
        QVERIFY(dialog.findChild<QPlainTextEdit*>(QStringLiteral("files"))->isVisible());
    }
};

QTEST_MAIN(ContentsDialogTest)
#include "contents_dialog_test.moc"
