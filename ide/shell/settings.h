#pragma once

// The IDE's settings block: one member per stored value, loaded once at
// start-up and saved once at exit. Values live in the user's settings store
// (organisation "KORVELL", application "Oxbrin") in the group "V1.16"; the
// recent-file list and the docking state lie in its sub-group "Oxbrin".

#include <QByteArray>
#include <QSize>
#include <QString>
#include <QStringList>

class QSettings;

namespace oxbrin {

inline constexpr const char* kOrganisation = "KORVELL";
inline constexpr const char* kApplication = "Oxbrin";
inline constexpr int kRecentFileCount = 4;

// "V1.16": the group of this version's values.
QString SettingsGroup();

// Tool run flags (AssemblerFlags).
inline constexpr quint32 kToolUseOutputWindow = 0x100;
inline constexpr quint32 kToolCloseWindowOnExit = 0x200;

// A 28-byte serial line record as the settings store keeps it: the
// line-settings block of the serial port, byte for byte.
QByteArray DefaultComSettings();

// The Terminal pane's scrollback: lines kept, default and range.
inline constexpr quint32 kDefaultTerminalScrollback = 10000;
inline constexpr quint32 kMinTerminalScrollback = 100;
inline constexpr quint32 kMaxTerminalScrollback = 1000000;
// A stored value brought into the range (0 and garbage give the default).
quint32 UsableTerminalScrollback(quint32 lines);

// What Enter sends in the Terminal pane (TerminalEnter).
inline constexpr quint32 kEnterSendsCR = 0;
inline constexpr quint32 kEnterSendsLF = 1;
inline constexpr quint32 kEnterSendsCRLF = 2;

struct SettingsBlock {
    QByteArray windowPlacement; // main frame geometry (QWidget::saveGeometry); empty = none
    QSize outputWndSize{200, 100};
    QSize terminalWndSize{200, 100};
    QSize varnelWndSize{200, 100};
    QString currentPath;
    QString comPort;
    QByteArray comSettings = DefaultComSettings();
    quint32 sendCR = 0;
    quint32 charDelay = 0;
    quint32 lineDelay = 0;
    QString editorFont = QStringLiteral("Courier");
    quint32 editorFontSize = 10;
    quint32 editorTabStops = 8;
    QString outputFont = QStringLiteral("Courier");
    quint32 outputFontSize = 10;
    QString terminalFont = QStringLiteral("Fixedsys");
    quint32 terminalFontSize = 9;
    quint32 syntaxHighlighting = 1;
    QString downloadFile;
    QString projectFile;
    QString assembler;
    quint32 assemblerFlags = kToolUseOutputWindow;
    QString assemblerOptions = QStringLiteral("-l -su");
    // Lines the Terminal pane keeps; the oldest go first.
    quint32 terminalScrollback = kDefaultTerminalScrollback;
    // What Enter sends in the Terminal pane, whether typed characters are
    // shown there as well, and the file everything shown there is appended
    // to (empty: no log).
    quint32 terminalEnter = kEnterSendsCR;
    quint32 terminalLocalEcho = 0;
    QString terminalLogFile;
    // Documents as tabs (non-zero) or as windows of their own.
    quint32 tabbedDocuments = 1;
    // The editor's colours (ColourScheme::Encode); empty follows the
    // desktop, light or dark.
    QString editorColours;
    // The simulated board the debugger runs programs on: a board's name
    // (flat, hc912b32, s12dp256, hc11e9, mini11) or a board file.
    QString targetBoard = QStringLiteral("flat");

    SettingsBlock();
};

// The value names in load and save order.
const QStringList& SettingNames();

// Reads the values in order from the group "V1.16" of `store`; the first
// missing or unreadable value ends the loading and leaves it and every later
// member untouched. CurrentPath becomes the process's current directory as
// soon as it is read. Returns true only when every value was read.
bool LoadSettings(QSettings& store, SettingsBlock& block);

// Writes the values in order; CurrentPath is taken from the process's
// current directory at this moment. Returns true when every value was written.
bool SaveSettings(QSettings& store, const SettingsBlock& block);

// Recent-file list and docking state, kept in the sub-group "Oxbrin".
QStringList LoadRecentFiles(QSettings& store);
void SaveRecentFiles(QSettings& store, const QStringList& files);
QByteArray LoadControlBars(QSettings& store);
void SaveControlBars(QSettings& store, const QByteArray& state);
// The placement is read a second time, straight from the store, when the
// frame is shown.
QByteArray LoadWindowPlacement(QSettings& store);

// Size pairs are kept as 8 bytes: width then height, little-endian 32-bit.
QByteArray EncodeSize(QSize size);
bool DecodeSize(const QByteArray& bytes, QSize& size);

} // namespace oxbrin
