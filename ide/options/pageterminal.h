#pragma once

// The Terminal page of the Options sheet: port name, line settings, flow
// control, the download settings, and the Terminal pane's keyboard (what
// Enter sends, local echo), log file and scrollback. Accepting it applies
// the line settings to an open port at once; a new port name counts from
// the next connect.

#include <QWidget>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QSpinBox;

namespace oxbrin {

class CTerminalPort;
struct SettingsBlock;

class CPageTerminal : public QWidget {
    Q_OBJECT
public:
    // Control ids of the page (object names "Control<id>").
    enum : int {
        IDC_PORT = 1000,
        IDC_BAUD = 1001,
        IDC_DATABITS = 1002,
        IDC_STOPBITS = 1003,
        IDC_PARITY = 1004,
        IDC_DTRDSR = 1005,
        IDC_RTSCTS = 1006,
        IDC_XONXOFF = 1007,
        IDC_SENDCR = 1029,
        IDC_CHARDELAY = 1030,
        IDC_LINEDELAY = 1032,
        IDC_SCROLLBACK = 1034,
        IDC_ENTER = 1035,
        IDC_ECHO = 1036,
        IDC_LOGFILE = 1037,
        IDC_LOGBROWSE = 1038,
    };
    static constexpr int kMaxPortName = 260;
    static constexpr int kMaxDelayMs = 10000;
    // The page's first note names the default port as this system spells it.
#ifdef _WIN32
    static constexpr const char* kIntroText =
        "Specify the port and baudrate of the target system. Default values are COM2, 9600,8,1,n";
#else
    static constexpr const char* kIntroText =
        "Specify the port and baudrate of the target system. Default values are /dev/ttyS1, 9600,8,1,n";
#endif

    CPageTerminal(CTerminalPort& port, SettingsBlock& settings, QWidget* parent = nullptr);

    QString Title() const { return QStringLiteral("Terminal"); }

    // Fills the controls from the port and the settings (when the sheet
    // opens the page); clears the modified mark.
    void OnInitDialog();
    // Stores the controls into the port and the settings and applies the
    // line settings to an open port. Returns false (and keeps everything)
    // when a list has no selection or the log file cannot be written.
    bool OnApply();
    bool IsModified() const { return modified_; }

    QComboBox* PortBox() const { return port_; }

signals:
    // A control changed (the sheet enables its Apply button).
    void Changed();

private:
    // The constructor's parts: the controls, then the groups that hold them.
    void CreateControls();
    void LayOutControls();
    void MarkModified();
    void FillPortList();

    CTerminalPort& portObject_;
    SettingsBlock& settings_;
    QComboBox* port_;
    QComboBox* baud_;
    QComboBox* dataBits_;
    QComboBox* stopBits_;
    QComboBox* parity_;
    QCheckBox* dtrDsr_;
    QCheckBox* rtsCts_;
    QCheckBox* xonXoff_;
    QCheckBox* sendCr_;
    QSpinBox* charDelay_;
    QSpinBox* lineDelay_;
    QSpinBox* scrollback_;
    QComboBox* enter_;
    QCheckBox* echo_;
    QLineEdit* logFile_;
    QPushButton* logBrowse_;
    bool loading_ = false;
    bool modified_ = false;
};

} // namespace oxbrin
