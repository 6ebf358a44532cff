#include "shell/settings.h"
#include "testsupport.h"

#include <QDir>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

using namespace oxbrin;
using namespace oxbrin::test;

namespace {

SettingsBlock Unusual(const QString& currentPath) {
    SettingsBlock b;
    b.windowPlacement = QByteArray("\x01\x02\x00\x03geometry", 12);
    b.outputWndSize = QSize(321, 123);
    b.terminalWndSize = QSize(400, 222);
    b.varnelWndSize = QSize(150, 300);
    b.currentPath = currentPath;
    b.comPort = QStringLiteral("/dev/ttyUSB3");
    b.comSettings = QByteArray(28, '\x11');
    b.sendCR = 1;
    b.charDelay = 5;
    b.lineDelay = 160;
    b.editorFont = QStringLiteral("DejaVu Sans Mono");
    b.editorFontSize = 12;
    b.editorTabStops = 4;
    b.outputFont = QStringLiteral("Liberation Mono");
    b.outputFontSize = 11;
    b.terminalFont = QStringLiteral("Monospace");
    b.terminalFontSize = 13;
    b.syntaxHighlighting = 0;
    b.downloadFile = QStringLiteral("/work/a b/blink.s19");
    b.projectFile = QStringLiteral("C:\\work\\main.asm");
    b.assembler = QStringLiteral("qorb11");
    b.assemblerFlags = 0x200;
    b.assemblerOptions = QStringLiteral("-W2 -l \"-Ifoo, bar\"");
    b.terminalScrollback = 250;
    b.terminalEnter = kEnterSendsCRLF;
    b.terminalLocalEcho = 1;
    b.terminalLogFile = QStringLiteral("/work/a b/board.log");
    b.tabbedDocuments = 0;
    b.editorColours = QStringLiteral("mnemonic=#112233;background=#000000");
    b.targetBoard = QStringLiteral("hc11e9");
    return b;
}

void CompareBlocks(const SettingsBlock& a, const SettingsBlock& b) {
    QCOMPARE(a.windowPlacement, b.windowPlacement);
    QCOMPARE(a.outputWndSize, b.outputWndSize);
    QCOMPARE(a.terminalWndSize, b.terminalWndSize);
    QCOMPARE(a.varnelWndSize, b.varnelWndSize);
    QCOMPARE(a.comPort, b.comPort);
    QCOMPARE(a.comSettings, b.comSettings);
    QCOMPARE(a.sendCR, b.sendCR);
    QCOMPARE(a.charDelay, b.charDelay);
    QCOMPARE(a.lineDelay, b.lineDelay);
    QCOMPARE(a.editorFont, b.editorFont);
    QCOMPARE(a.editorFontSize, b.editorFontSize);
    QCOMPARE(a.editorTabStops, b.editorTabStops);
    QCOMPARE(a.outputFont, b.outputFont);
    QCOMPARE(a.outputFontSize, b.outputFontSize);
    QCOMPARE(a.terminalFont, b.terminalFont);
    QCOMPARE(a.terminalFontSize, b.terminalFontSize);
    QCOMPARE(a.syntaxHighlighting, b.syntaxHighlighting);
    QCOMPARE(a.downloadFile, b.downloadFile);
    QCOMPARE(a.projectFile, b.projectFile);
    QCOMPARE(a.assembler, b.assembler);
    QCOMPARE(a.assemblerFlags, b.assemblerFlags);
    QCOMPARE(a.assemblerOptions, b.assemblerOptions);
    QCOMPARE(a.terminalScrollback, b.terminalScrollback);
    QCOMPARE(a.terminalEnter, b.terminalEnter);
    QCOMPARE(a.terminalLocalEcho, b.terminalLocalEcho);
    QCOMPARE(a.terminalLogFile, b.terminalLogFile);
    QCOMPARE(a.tabbedDocuments, b.tabbedDocuments);
    QCOMPARE(a.editorColours, b.editorColours);
    QCOMPARE(a.targetBoard, b.targetBoard);
}

} // namespace

class TestSettings : public QObject {
    Q_OBJECT
    QString startDir_;

private slots:
    void initTestCase() { startDir_ = QDir::currentPath(); }
    void cleanup() { QDir::setCurrent(startDir_); }

    void Defaults() {
        SettingsBlock b;
        QVERIFY(b.windowPlacement.isEmpty());
        QCOMPARE(b.outputWndSize, QSize(200, 100));
        QCOMPARE(b.terminalWndSize, QSize(200, 100));
        QCOMPARE(b.varnelWndSize, QSize(200, 100));
        QCOMPARE(b.editorFont, QStringLiteral("Courier"));
        QCOMPARE(b.editorFontSize, 10u);
        QCOMPARE(b.editorTabStops, 8u);
        QCOMPARE(b.outputFont, QStringLiteral("Courier"));
        QCOMPARE(b.outputFontSize, 10u);
        QCOMPARE(b.terminalFont, QStringLiteral("Fixedsys"));
        QCOMPARE(b.terminalFontSize, 9u);
        QCOMPARE(b.syntaxHighlighting, 1u);
        QVERIFY(b.downloadFile.isEmpty());
        QVERIFY(b.projectFile.isEmpty());
        QCOMPARE(b.assembler, QStringLiteral("qorb12"));
        QCOMPARE(b.assemblerFlags, 0x100u);
        QCOMPARE(b.assemblerOptions, QStringLiteral("-l -su"));
        QCOMPARE(b.comSettings.size(), 28);
        QCOMPARE(b.terminalScrollback, 10000u);
        QCOMPARE(b.terminalEnter, kEnterSendsCR);
        QCOMPARE(b.terminalLocalEcho, 0u);
        QVERIFY(b.terminalLogFile.isEmpty());
        QCOMPARE(b.tabbedDocuments, 1u);
        QVERIFY(b.editorColours.isEmpty());
        QCOMPARE(b.targetBoard, QStringLiteral("flat"));
        QCOMPARE(SettingNames().size(), 30);
        QCOMPARE(SettingsGroup(), QStringLiteral("V1.16"));
    }

    void RoundTrip() {
        QTemporaryDir dir;
        QSettings store(dir.filePath(QStringLiteral("s.conf")), QSettings::IniFormat);
        SettingsBlock saved = Unusual(dir.path());
        QDir::setCurrent(dir.path());
        QVERIFY(SaveSettings(store, saved));
        // Every value lies in the group V1.16 under its own name.
        store.beginGroup(QStringLiteral("V1.16"));
        QStringList keys = store.childKeys();
        store.endGroup();
        keys.sort();
        QStringList names = SettingNames();
        names.sort();
        QCOMPARE(keys, names);

        QDir::setCurrent(startDir_);
        SettingsBlock loaded;
        QVERIFY(LoadSettings(store, loaded));
        CompareBlocks(loaded, saved);
        // The stored current directory becomes the process's own.
        QCOMPARE(QDir::currentPath(), QDir(dir.path()).canonicalPath());
        QCOMPARE(loaded.currentPath, QDir::toNativeSeparators(QDir(dir.path()).canonicalPath()));
    }

    // Loading stops at the first value that is missing or unreadable; it and
    // every later value keep their defaults, earlier ones are read.
    void StopsAtFirstMissing_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QVariant>("replacement"); // invalid = remove
        QTest::newRow("missing EditorFontSize") << "EditorFontSize" << QVariant();
        QTest::newRow("missing WindowPlacement") << "WindowPlacement" << QVariant();
        QTest::newRow("missing AssemblerOptions") << "AssemblerOptions" << QVariant();
        QTest::newRow("DWORD not a number") << "SendCR" << QVariant(QStringLiteral("yes"));
        QTest::newRow("size of wrong length") << "TerminalWndSize" << QVariant(QByteArray("1234"));
        QTest::newRow("string too long") << "COMPort" << QVariant(QString(1024, QLatin1Char('x')));
        QTest::newRow("COMSettings short") << "COMSettings" << QVariant(QByteArray(27, '\0'));
        QTest::newRow("missing TerminalLocalEcho") << "TerminalLocalEcho" << QVariant();
        QTest::newRow("missing TabbedDocuments") << "TabbedDocuments" << QVariant();
    }

    void StopsAtFirstMissing() {
        QFETCH(QString, name);
        QFETCH(QVariant, replacement);
        QTemporaryDir dir;
        QSettings store(dir.filePath(QStringLiteral("s.conf")), QSettings::IniFormat);
        const SettingsBlock saved = Unusual(dir.path());
        QVERIFY(SaveSettings(store, saved));
        const QString key = SettingsGroup() + QLatin1Char('/') + name;
        if (replacement.isValid())
            store.setValue(key, replacement);
        else
            store.remove(key);
        store.sync();

        SettingsBlock loaded;
        const SettingsBlock defaults;
        QVERIFY(!LoadSettings(store, loaded));
        const qsizetype stop = SettingNames().indexOf(name);
        QVERIFY(stop >= 0);
        // Pairs of (value index, loaded equals saved).
        auto same = [&](qsizetype index, bool equalToSaved, bool equalToDefault) {
            if (index < stop)
                QVERIFY2(equalToSaved, qPrintable(SettingNames()[index]));
            else
                QVERIFY2(equalToDefault, qPrintable(SettingNames()[index]));
        };
        same(0, loaded.windowPlacement == saved.windowPlacement,
             loaded.windowPlacement == defaults.windowPlacement);
        same(2, loaded.terminalWndSize == saved.terminalWndSize,
             loaded.terminalWndSize == defaults.terminalWndSize);
        same(5, loaded.comPort == saved.comPort, loaded.comPort == defaults.comPort);
        same(7, loaded.sendCR == saved.sendCR, loaded.sendCR == defaults.sendCR);
        same(10, loaded.editorFont == saved.editorFont, loaded.editorFont == defaults.editorFont);
        same(11, loaded.editorFontSize == saved.editorFontSize,
             loaded.editorFontSize == defaults.editorFontSize);
        same(12, loaded.editorTabStops == saved.editorTabStops,
             loaded.editorTabStops == defaults.editorTabStops);
        same(20, loaded.assembler == saved.assembler, loaded.assembler == defaults.assembler);
        same(22, loaded.assemblerOptions == saved.assemblerOptions,
             loaded.assemblerOptions == defaults.assemblerOptions);
    }

    // The scrollback is brought into its range at load: a store edited by
    // hand cannot make the Terminal keep everything or nothing.
    void ScrollbackIsKeptInRange_data() {
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<quint32>("loaded");
        QTest::newRow("zero") << QVariant(0) << 10000u;
        QTest::newRow("too small") << QVariant(5) << 100u;
        QTest::newRow("too large") << QVariant(4000000000u) << 1000000u;
        QTest::newRow("in range") << QVariant(2500) << 2500u;
    }
    void ScrollbackIsKeptInRange() {
        QFETCH(QVariant, stored);
        QFETCH(quint32, loaded);
        QTemporaryDir dir;
        QSettings store(dir.filePath(QStringLiteral("s.conf")), QSettings::IniFormat);
        QVERIFY(SaveSettings(store, Unusual(dir.path())));
        store.setValue(SettingsGroup() + QStringLiteral("/TerminalScrollback"), stored);
        store.sync();
        SettingsBlock b;
        QVERIFY(LoadSettings(store, b));
        QCOMPARE(b.terminalScrollback, loaded);
    }

    void EmptyStoreKeepsDefaults() {
        QTemporaryDir dir;
        QSettings store(dir.filePath(QStringLiteral("s.conf")), QSettings::IniFormat);
        SettingsBlock b;
        QVERIFY(!LoadSettings(store, b));
        QCOMPARE(b.assemblerOptions, QStringLiteral("-l -su"));
        QCOMPARE(QDir::currentPath(), startDir_);
    }

    void RecentFilesAndBars() {
        QTemporaryDir dir;
        QSettings store(dir.filePath(QStringLiteral("s.conf")), QSettings::IniFormat);
        SaveRecentFiles(store,
                        {QStringLiteral("/a.asm"), QStringLiteral("/b c.asm"), QStringLiteral("/c.asm"),
                         QStringLiteral("/d.asm"), QStringLiteral("/e.asm")});
        SaveControlBars(store, QByteArray("state"));
        store.sync();
        QCOMPARE(store.value(QStringLiteral("V1.16/Oxbrin/Recent File List/File2")).toString(),
                 QStringLiteral("/b c.asm"));
        QVERIFY(!store.contains(QStringLiteral("V1.16/Oxbrin/Recent File List/File5")));
        QCOMPARE(store.value(QStringLiteral("V1.16/Oxbrin/ControlBars")).toByteArray(), QByteArray("state"));
        QCOMPARE(LoadRecentFiles(store).size(), 4);
        QCOMPARE(LoadControlBars(store), QByteArray("state"));
        SaveRecentFiles(store, {QStringLiteral("/z.asm")});
        QCOMPARE(LoadRecentFiles(store), QStringList{QStringLiteral("/z.asm")});
    }

    // Without a store of its own the application uses the user's settings
    // for KORVELL / Oxbrin, group V1.16.
    void UserStoreLocation() {
        Prompts prompts;
        QTemporaryDir dir;
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir.path());
        {
            COxbrinApp app;
            QVERIFY(app.InitInstance({}));
            app.Settings().assemblerOptions = QStringLiteral("-l");
            app.MainFrame()->close();
            app.ExitInstance();
        }
        QSettings check(dir.filePath(QStringLiteral("KORVELL/Oxbrin.conf")), QSettings::IniFormat);
        QCOMPARE(check.value(QStringLiteral("V1.16/AssemblerOptions")).toString(), QStringLiteral("-l"));
        QVERIFY(check.contains(QStringLiteral("V1.16/Oxbrin/ControlBars")));
        QVERIFY(!check.value(QStringLiteral("V1.16/WindowPlacement")).toByteArray().isEmpty());
    }
};

QTEST_MAIN(TestSettings)
#include "tst_settings.moc"
