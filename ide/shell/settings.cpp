#include "settings.h"

#include "commands.h"

#include <QDir>
#include <QSettings>
#include <QtEndian>

#include <array>
#include <cstring>

namespace oxbrin {

namespace {

// A string value is read into a 1024-byte buffer: longer ones do not fit and
// count as unreadable.
constexpr qsizetype kMaxStringBytes = 1023;
constexpr qsizetype kComSettingsBytes = 28;
constexpr qsizetype kMaxPathChars = 260;

const char* const kFrameworkSection = "Oxbrin";
const char* const kRecentSection = "Recent File List";
const char* const kControlBars = "ControlBars";

bool ReadString(QSettings& s, const QString& name, QString& out) {
    QVariant v = s.value(name);
    if (!v.isValid() || v.typeId() == QMetaType::QByteArray || v.typeId() == QMetaType::QStringList)
        return false;
    if (!v.canConvert<QString>()) return false;
    QString text = v.toString();
    if (text.toUtf8().size() > kMaxStringBytes) return false;
    out = text;
    return true;
}

bool ReadDword(QSettings& s, const QString& name, quint32& out) {
    QVariant v = s.value(name);
    if (!v.isValid()) return false;
    bool ok = false;
    qulonglong n = v.toULongLong(&ok);
    if (!ok || n > 0xffffffffULL) return false;
    out = static_cast<quint32>(n);
    return true;
}

bool ReadBinary(QSettings& s, const QString& name, QByteArray& out, qsizetype size /* 0 = any */) {
    QVariant v = s.value(name);
    if (!v.isValid() || v.typeId() != QMetaType::QByteArray) return false;
    QByteArray bytes = v.toByteArray();
    if (size > 0 && bytes.size() != size) return false;
    out = bytes;
    return true;
}

bool ReadSize(QSettings& s, const QString& name, QSize& out) {
    QByteArray bytes;
    return ReadBinary(s, name, bytes, 8) && DecodeSize(bytes, out);
}

} // namespace

QString SettingsGroup() {
    return QStringLiteral("V%1.%2").arg(kVersionMajor).arg(kVersionMinor, 2, 10, QLatin1Char('0'));
}

QByteArray DefaultComSettings() {
    QByteArray dcb(kComSettingsBytes, '\0');
    qToLittleEndian<quint32>(9600, dcb.data() + 4); // baud rate
    dcb[18] = 8;                                    // data bits; no parity, one stop bit
    return dcb;
}

SettingsBlock::SettingsBlock() {
#ifdef Q_OS_WIN
    assembler = QStringLiteral("qorb12.exe");
    comPort = QStringLiteral("COM2");
#else
    assembler = QStringLiteral("qorb12");
    comPort = QStringLiteral("/dev/ttyS1");
#endif
}

quint32 UsableTerminalScrollback(quint32 lines) {
    if (lines == 0) return kDefaultTerminalScrollback;
    return qBound(kMinTerminalScrollback, lines, kMaxTerminalScrollback);
}

const QStringList& SettingNames() {
    static const QStringList names{
        "WindowPlacement",  "OutputWndSize",
        "TerminalWndSize",  "VarnelWndSize",
        "CurrentPath",      "COMPort",
        "COMSettings",      "SendCR",
        "CharDelay",        "LineDelay",
        "EditorFont",       "EditorFontSize",
        "EditorTabStops",   "OutputFont",
        "OutputFontSize",   "TerminalFont",
        "TerminalFontSize", "SyntaxHighlighting",
        "DownloadFile",     "ProjectFile",
        "Assembler",        "AssemblerFlags",
        "AssemblerOptions", "TerminalScrollback",
        "TerminalEnter",    "TerminalLocalEcho",
        "TerminalLogFile",  "TabbedDocuments",
        "EditorColours",    "TargetBoard",
    };
    return names;
}

QByteArray EncodeSize(QSize size) {
    QByteArray bytes(8, '\0');
    qToLittleEndian<qint32>(size.width(), bytes.data());
    qToLittleEndian<qint32>(size.height(), bytes.data() + 4);
    return bytes;
}

bool DecodeSize(const QByteArray& bytes, QSize& size) {
    if (bytes.size() != 8) return false;
    std::array<uchar, 8> raw{};
    std::memcpy(raw.data(), bytes.constData(), raw.size());
    size = QSize(qFromLittleEndian<qint32>(raw.data()), qFromLittleEndian<qint32>(raw.data() + 4));
    return true;
}

bool LoadSettings(QSettings& store, SettingsBlock& b) {
    store.beginGroup(SettingsGroup());
    // Each step reads one value in the stored order; loading stops at the
    // first value that is missing so later members keep their defaults.
    auto readAll = [&]() -> bool {
        QByteArray placement;
        if (!ReadBinary(store, "WindowPlacement", placement, 0)) return false;
        b.windowPlacement = placement;
        if (!ReadSize(store, "OutputWndSize", b.outputWndSize)) return false;
        if (!ReadSize(store, "TerminalWndSize", b.terminalWndSize)) return false;
        if (!ReadSize(store, "VarnelWndSize", b.varnelWndSize)) return false;
        if (!ReadString(store, "CurrentPath", b.currentPath)) return false;
        if (!b.currentPath.isEmpty()) QDir::setCurrent(b.currentPath);
        if (!ReadString(store, "COMPort", b.comPort)) return false;
        if (!ReadBinary(store, "COMSettings", b.comSettings, kComSettingsBytes)) return false;
        if (!ReadDword(store, "SendCR", b.sendCR)) return false;
        if (!ReadDword(store, "CharDelay", b.charDelay)) return false;
        if (!ReadDword(store, "LineDelay", b.lineDelay)) return false;
        if (!ReadString(store, "EditorFont", b.editorFont)) return false;
        if (!ReadDword(store, "EditorFontSize", b.editorFontSize)) return false;
        if (!ReadDword(store, "EditorTabStops", b.editorTabStops)) return false;
        if (!ReadString(store, "OutputFont", b.outputFont)) return false;
        if (!ReadDword(store, "OutputFontSize", b.outputFontSize)) return false;
        if (!ReadString(store, "TerminalFont", b.terminalFont)) return false;
        if (!ReadDword(store, "TerminalFontSize", b.terminalFontSize)) return false;
        if (!ReadDword(store, "SyntaxHighlighting", b.syntaxHighlighting)) return false;
        if (!ReadString(store, "DownloadFile", b.downloadFile)) return false;
        if (!ReadString(store, "ProjectFile", b.projectFile)) return false;
        if (!ReadString(store, "Assembler", b.assembler)) return false;
        if (!ReadDword(store, "AssemblerFlags", b.assemblerFlags)) return false;
        if (!ReadString(store, "AssemblerOptions", b.assemblerOptions)) return false;
        quint32 scrollback = 0;
        if (!ReadDword(store, "TerminalScrollback", scrollback)) return false;
        b.terminalScrollback = UsableTerminalScrollback(scrollback);
        if (!ReadDword(store, "TerminalEnter", b.terminalEnter)) return false;
        if (b.terminalEnter > kEnterSendsCRLF) b.terminalEnter = kEnterSendsCR;
        if (!ReadDword(store, "TerminalLocalEcho", b.terminalLocalEcho)) return false;
        if (!ReadString(store, "TerminalLogFile", b.terminalLogFile)) return false;
        if (!ReadDword(store, "TabbedDocuments", b.tabbedDocuments)) return false;
        if (!ReadString(store, "EditorColours", b.editorColours)) return false;
        if (!ReadString(store, "TargetBoard", b.targetBoard)) return false;
        // An empty board would leave the debugger nothing to run on.
        if (b.targetBoard.trimmed().isEmpty()) b.targetBoard = QStringLiteral("flat");
        return true;
    };
    const bool ok = readAll();
    store.endGroup();
    return ok;
}

bool SaveSettings(QSettings& store, const SettingsBlock& b) {
    QString current = QDir::toNativeSeparators(QDir::currentPath());
    if (current.size() > kMaxPathChars) current.truncate(kMaxPathChars);
    store.beginGroup(SettingsGroup());
    store.setValue("WindowPlacement", b.windowPlacement);
    store.setValue("OutputWndSize", EncodeSize(b.outputWndSize));
    store.setValue("TerminalWndSize", EncodeSize(b.terminalWndSize));
    store.setValue("VarnelWndSize", EncodeSize(b.varnelWndSize));
    store.setValue("CurrentPath", current);
    store.setValue("COMPort", b.comPort);
    store.setValue("COMSettings", b.comSettings);
    store.setValue("SendCR", b.sendCR);
    store.setValue("CharDelay", b.charDelay);
    store.setValue("LineDelay", b.lineDelay);
    store.setValue("EditorFont", b.editorFont);
    store.setValue("EditorFontSize", b.editorFontSize);
    store.setValue("EditorTabStops", b.editorTabStops);
    store.setValue("OutputFont", b.outputFont);
    store.setValue("OutputFontSize", b.outputFontSize);
    store.setValue("TerminalFont", b.terminalFont);
    store.setValue("TerminalFontSize", b.terminalFontSize);
    store.setValue("SyntaxHighlighting", b.syntaxHighlighting);
    store.setValue("DownloadFile", b.downloadFile);
    store.setValue("ProjectFile", b.projectFile);
    store.setValue("Assembler", b.assembler);
    store.setValue("AssemblerFlags", b.assemblerFlags);
    store.setValue("AssemblerOptions", b.assemblerOptions);
    store.setValue("TerminalScrollback", b.terminalScrollback);
    store.setValue("TerminalEnter", b.terminalEnter);
    store.setValue("TerminalLocalEcho", b.terminalLocalEcho);
    store.setValue("TerminalLogFile", b.terminalLogFile);
    store.setValue("TabbedDocuments", b.tabbedDocuments);
    store.setValue("EditorColours", b.editorColours);
    store.setValue("TargetBoard", b.targetBoard);
    store.endGroup();
    store.sync();
    return store.status() == QSettings::NoError;
}

QStringList LoadRecentFiles(QSettings& store) {
    QStringList files;
    store.beginGroup(SettingsGroup() + "/" + kFrameworkSection + "/" + kRecentSection);
    for (int i = 1; i <= kRecentFileCount; ++i) {
        QString f = store.value(QStringLiteral("File%1").arg(i)).toString();
        if (!f.isEmpty()) files << f;
    }
    store.endGroup();
    return files;
}

void SaveRecentFiles(QSettings& store, const QStringList& files) {
    store.beginGroup(SettingsGroup() + "/" + kFrameworkSection + "/" + kRecentSection);
    store.remove("");
    for (int i = 0; i < files.size() && i < kRecentFileCount; ++i)
        store.setValue(QStringLiteral("File%1").arg(i + 1), files[i]);
    store.endGroup();
}

QByteArray LoadControlBars(QSettings& store) {
    return store.value(SettingsGroup() + "/" + kFrameworkSection + "/" + kControlBars).toByteArray();
}

void SaveControlBars(QSettings& store, const QByteArray& state) {
    store.setValue(SettingsGroup() + "/" + kFrameworkSection + "/" + kControlBars, state);
}

QByteArray LoadWindowPlacement(QSettings& store) {
    QVariant v = store.value(SettingsGroup() + "/WindowPlacement");
    return v.typeId() == QMetaType::QByteArray ? v.toByteArray() : QByteArray();
}

} // namespace oxbrin
