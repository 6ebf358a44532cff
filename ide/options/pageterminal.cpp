#include "pageterminal.h"

#include "link/terminalpane.h"
#include "link/terminalport.h"
#include "serial.h"
#include "shell/prompts.h"
#include "shell/settings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace oxbrin {

namespace {

using platform::Dcb;

constexpr int kBaudRates[] = {110, 300, 600, 1200, 2400, 4800, 9600, 14400, 19200, 38400, 57600, 115200};

struct Row {
    const char* text;
    int value;
};
constexpr Row kDataBits[] = {{"5", 5}, {"6", 6}, {"7", 7}, {"8", 8}};
constexpr Row kStopBits[] = {{"1", Dcb::kOneStopBit}, {"1.5", Dcb::kOne5StopBits}, {"2", Dcb::kTwoStopBits}};
constexpr Row kParities[] = {{"None", Dcb::kNoParity},
                             {"Even", Dcb::kEvenParity},
                             {"Odd", Dcb::kOddParity},
                             {"Mark", Dcb::kMarkParity},
                             {"Space", Dcb::kSpaceParity}};

// The DTR and RTS control fields of the flags word.
constexpr uint32_t kDtrControlShift = 4;
constexpr uint32_t kRtsControlShift = 12;
constexpr uint32_t kControlEnable = 1;
constexpr uint32_t kControlHandshake = 2;

QComboBox* MakeList(int id, QWidget* parent) {
    auto* box = new QComboBox(parent);
    box->setObjectName(QStringLiteral("Control%1").arg(id));
    return box;
}

void SelectValue(QComboBox* box, int value) { box->setCurrentIndex(box->findData(value)); }

QSpinBox* MakeDelay(int id, QWidget* parent) {
    auto* spin = new QSpinBox(parent);
    spin->setObjectName(QStringLiteral("Control%1").arg(id));
    spin->setRange(0, CPageTerminal::kMaxDelayMs);
    spin->setSuffix(QStringLiteral(" ms"));
    return spin;
}

} // namespace

CPageTerminal::CPageTerminal(CTerminalPort& port, SettingsBlock& settings, QWidget* parent)
    : QWidget(parent), portObject_(port), settings_(settings) {
    setObjectName(QStringLiteral("PageTerminal"));
    setWindowTitle(Title());

    CreateControls();
    LayOutControls();

    for (QComboBox* box : {baud_, dataBits_, stopBits_, parity_})
        connect(box, &QComboBox::currentIndexChanged, this, &CPageTerminal::MarkModified);
    connect(port_, &QComboBox::editTextChanged, this, &CPageTerminal::MarkModified);
    for (QCheckBox* box : {dtrDsr_, rtsCts_, xonXoff_, sendCr_})
        connect(box, &QCheckBox::toggled, this, &CPageTerminal::MarkModified);
    for (QSpinBox* spin : {charDelay_, lineDelay_, scrollback_})
        connect(spin, &QSpinBox::valueChanged, this, &CPageTerminal::MarkModified);
    connect(enter_, &QComboBox::currentIndexChanged, this, &CPageTerminal::MarkModified);
    connect(echo_, &QCheckBox::toggled, this, &CPageTerminal::MarkModified);
    connect(logFile_, &QLineEdit::textChanged, this, &CPageTerminal::MarkModified);
    // A device that goes away while the sheet is open frees the port box.
    connect(&portObject_, &CTerminalPort::ConnectionChanged, this,
            [this](bool open) { port_->setEnabled(!open); });

    OnInitDialog();
}

void CPageTerminal::CreateControls() {
    port_ = MakeList(IDC_PORT, this);
    port_->setEditable(true);
    port_->setInsertPolicy(QComboBox::NoInsert);
    port_->lineEdit()->setMaxLength(kMaxPortName);
    port_->lineEdit()->setAccessibleName(QStringLiteral("Port"));
    port_->setMinimumContentsLength(24);
    port_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    // The list holds only the devices the system reports; a typed name is
    // taken as it is. Say what such a name looks like here.
#ifdef Q_OS_WIN
    port_->lineEdit()->setPlaceholderText(QStringLiteral("e.g. COM1"));
    port_->setToolTip(
        QStringLiteral("The serial port of the board, e.g. COM1; type any name the system knows."));
#else
    port_->lineEdit()->setPlaceholderText(QStringLiteral("e.g. /dev/ttyUSB0"));
    port_->setToolTip(QStringLiteral("The serial device of the board, e.g. /dev/ttyUSB0 or /dev/ttyS0; "
                                     "any device path can be typed."));
#endif
    // A listed device shows its description in the list; the box takes its path.
    connect(port_, &QComboBox::activated, this, [this](int index) {
        const QString path = port_->itemData(index).toString();
        if (!path.isEmpty()) port_->setEditText(path);
    });

    baud_ = MakeList(IDC_BAUD, this);
    for (int rate : kBaudRates) baud_->addItem(QString::number(rate), rate);
    dataBits_ = MakeList(IDC_DATABITS, this);
    for (const Row& r : kDataBits) dataBits_->addItem(QString::fromLatin1(r.text), r.value);
    stopBits_ = MakeList(IDC_STOPBITS, this);
    for (const Row& r : kStopBits) stopBits_->addItem(QString::fromLatin1(r.text), r.value);
    parity_ = MakeList(IDC_PARITY, this);
    for (const Row& r : kParities) parity_->addItem(QString::fromLatin1(r.text), r.value);

    auto check = [this](int id, const QString& text) {
        auto* box = new QCheckBox(text, this);
        box->setObjectName(QStringLiteral("Control%1").arg(id));
        return box;
    };
    dtrDsr_ = check(IDC_DTRDSR, QStringLiteral("DTR/DSR"));
    rtsCts_ = check(IDC_RTSCTS, QStringLiteral("RTS/CTS"));
    xonXoff_ = check(IDC_XONXOFF, QStringLiteral("XON/XOFF"));
    sendCr_ = check(IDC_SENDCR, QStringLiteral("Send line &ends with carriage returns"));
    charDelay_ = MakeDelay(IDC_CHARDELAY, this);
    lineDelay_ = MakeDelay(IDC_LINEDELAY, this);
    scrollback_ = new QSpinBox(this);
    scrollback_->setObjectName(QStringLiteral("Control%1").arg(IDC_SCROLLBACK));
    scrollback_->setRange(int(kMinTerminalScrollback), int(kMaxTerminalScrollback));
    scrollback_->setSingleStep(1000);
    scrollback_->setSuffix(QStringLiteral(" lines"));
    scrollback_->setToolTip(
        QStringLiteral("The Terminal window keeps this many lines; older ones are dropped."));

    enter_ = MakeList(IDC_ENTER, this);
    enter_->addItem(QStringLiteral("CR"), int(kEnterSendsCR));
    enter_->addItem(QStringLiteral("LF"), int(kEnterSendsLF));
    enter_->addItem(QStringLiteral("CR LF"), int(kEnterSendsCRLF));
    enter_->setToolTip(
        QStringLiteral("What the Enter key sends to the board: a carriage return (what monitors "
                       "expect), a line feed, or both."));
    echo_ = check(IDC_ECHO, QStringLiteral("Local &echo"));
    echo_->setToolTip(QStringLiteral("Shows typed characters in the Terminal window; for boards that do not "
                                     "echo what they receive."));
    logFile_ = new QLineEdit(this);
    logFile_->setObjectName(QStringLiteral("Control%1").arg(IDC_LOGFILE));
    logFile_->setPlaceholderText(QStringLiteral("no log file"));
    logFile_->setToolTip(
        QStringLiteral("Everything the Terminal window shows is also appended to this file."));
    logBrowse_ = new QPushButton(QStringLiteral("Bro&wse..."), this);
    logBrowse_->setObjectName(QStringLiteral("Control%1").arg(IDC_LOGBROWSE));
    logBrowse_->setAccessibleName(QStringLiteral("Browse for the log file"));
    connect(logBrowse_, &QPushButton::clicked, this, [this] {
        FileRequest request{true, QStringLiteral("Terminal Log File"), logFile_->text(),
                            QtFileFilter(QString::fromLatin1(strings::kSaveLogFilter))};
        const QStringList names = AskFileNames(this, request);
        if (!names.isEmpty() && !names.front().isEmpty()) logFile_->setText(names.front());
    });
}

// The controls in their groups: the line, flow control, the download and
// the Terminal window, between the page's two notes.
void CPageTerminal::LayOutControls() {
    auto* intro = new QLabel(QString::fromLatin1(kIntroText), this);
    intro->setWordWrap(true);
    auto* note = new QLabel(
        QStringLiteral(
            "Note: You can not change the port, while the terminal is connected to the target system."),
        this);
    note->setWordWrap(true);

    auto* line = new QGroupBox(QStringLiteral("Port"), this);
    auto* grid = new QGridLayout(line);
    auto label = [this](const QString& text, QWidget* buddy) {
        auto* l = new QLabel(text, this);
        l->setBuddy(buddy);
        return l;
    };
    grid->addWidget(label(QStringLiteral("&Port:"), port_), 0, 0);
    grid->addWidget(port_, 0, 1, 1, 3);
    grid->addWidget(label(QStringLiteral("&Baudrate:"), baud_), 1, 0);
    grid->addWidget(baud_, 1, 1);
    grid->addWidget(label(QStringLiteral("&Data bits:"), dataBits_), 1, 2);
    grid->addWidget(dataBits_, 1, 3);
    grid->addWidget(label(QStringLiteral("&Stop bits:"), stopBits_), 2, 0);
    grid->addWidget(stopBits_, 2, 1);
    grid->addWidget(label(QStringLiteral("P&arity:"), parity_), 2, 2);
    grid->addWidget(parity_, 2, 3);

    auto* flow = new QGroupBox(QStringLiteral("Flow control"), this);
    auto* flowRow = new QHBoxLayout(flow);
    flowRow->addWidget(dtrDsr_);
    flowRow->addWidget(rtsCts_);
    flowRow->addWidget(xonXoff_);
    flowRow->addStretch(1);

    auto* download = new QGroupBox(QStringLiteral("Download"), this);
    auto* dl = new QGridLayout(download);
    dl->addWidget(sendCr_, 0, 0, 1, 2);
    dl->addWidget(label(QStringLiteral("&Character delay:"), charDelay_), 1, 0);
    dl->addWidget(charDelay_, 1, 1);
    dl->addWidget(label(QStringLiteral("&Line delay:"), lineDelay_), 2, 0);
    dl->addWidget(lineDelay_, 2, 1);

    auto* window = new QGroupBox(QStringLiteral("Terminal window"), this);
    auto* windowGrid = new QGridLayout(window);
    windowGrid->addWidget(label(QStringLiteral("E&nter sends:"), enter_), 0, 0);
    windowGrid->addWidget(enter_, 0, 1);
    windowGrid->addWidget(echo_, 0, 2);
    windowGrid->addWidget(label(QStringLiteral("Scroll&back:"), scrollback_), 1, 0);
    windowGrid->addWidget(scrollback_, 1, 1);
    windowGrid->addWidget(label(QStringLiteral("Log &file:"), logFile_), 2, 0);
    windowGrid->addWidget(logFile_, 2, 1, 1, 2);
    windowGrid->addWidget(logBrowse_, 2, 3);
    windowGrid->setColumnStretch(2, 1);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(intro);
    layout->addWidget(line);
    layout->addWidget(flow);
    layout->addWidget(download);
    layout->addWidget(window);
    layout->addWidget(note);
    layout->addStretch(1);
}

void CPageTerminal::FillPortList() {
    port_->clear();
    for (const platform::SerialDeviceInfo& dev : platform::ListSerialDevices()) {
        const QString path = QString::fromStdString(dev.path);
        const QString description = QString::fromStdString(dev.description);
        port_->addItem(description.isEmpty() ? path : QStringLiteral("%1 - %2").arg(path, description), path);
        port_->setItemData(port_->count() - 1, description, Qt::ToolTipRole);
        // The by-id name stays the same whichever socket the adapter is in.
        if (!dev.byIdPath.empty()) {
            const QString link = QString::fromStdString(dev.byIdPath);
            port_->addItem(link, link);
            port_->setItemData(port_->count() - 1, description, Qt::ToolTipRole);
        }
    }
}

void CPageTerminal::OnInitDialog() {
    loading_ = true;
    FillPortList();
    port_->setEditText(portObject_.m_strPort);
    const Dcb& dcb = portObject_.m_dcb;
    // A rate the list lacks (written by another version or by hand) gets a
    // row of its own, so the page always has a selection.
    if (baud_->findData(int(dcb.BaudRate)) < 0 && dcb.BaudRate > 0 && dcb.BaudRate <= 4000000)
        baud_->addItem(QString::number(dcb.BaudRate), int(dcb.BaudRate));
    SelectValue(baud_, int(dcb.BaudRate));
    SelectValue(dataBits_, dcb.ByteSize);
    SelectValue(stopBits_, dcb.StopBits);
    SelectValue(parity_, dcb.Parity);
    dtrDsr_->setChecked(dcb.Flags & Dcb::fOutxDsrFlow);
    rtsCts_->setChecked(dcb.Flags & Dcb::fOutxCtsFlow);
    xonXoff_->setChecked(dcb.Flags & Dcb::fInX);
    sendCr_->setChecked(settings_.sendCR != 0);
    charDelay_->setValue(int(qMin<quint32>(settings_.charDelay, kMaxDelayMs)));
    lineDelay_->setValue(int(qMin<quint32>(settings_.lineDelay, kMaxDelayMs)));
    scrollback_->setValue(int(UsableTerminalScrollback(settings_.terminalScrollback)));
    SelectValue(enter_, int(settings_.terminalEnter));
    if (enter_->currentIndex() < 0) enter_->setCurrentIndex(0);
    echo_->setChecked(settings_.terminalLocalEcho != 0);
    logFile_->setText(settings_.terminalLogFile);
    port_->setEnabled(!portObject_.IsOpen());
    loading_ = false;
    modified_ = false;
}

void CPageTerminal::MarkModified() {
    if (loading_) return;
    modified_ = true;
    emit Changed();
}

bool CPageTerminal::OnApply() {
    for (QComboBox* box : {baud_, dataBits_, stopBits_, parity_}) {
        if (box->currentIndex() < 0) {
            box->setFocus();
            return false;
        }
    }
    // A log file that cannot be written is refused here, before anything
    // is taken, so the user can mend the name on the page.
    const QString log = logFile_->text().trimmed();
    if (!log.isEmpty() && log != settings_.terminalLogFile) {
        QFile probe(log);
        const bool existed = probe.exists();
        if (!probe.open(QIODevice::WriteOnly | QIODevice::Append)) {
            ShowMessage(this,
                        QString::fromLatin1(strings::kLogOpenFailed).replace(QLatin1String("%s"), log) +
                            QStringLiteral("\n\n") + probe.errorString(),
                        QMessageBox::Warning);
            logFile_->setFocus();
            return false;
        }
        probe.close();
        if (!existed) probe.remove(); // created by the Terminal window when it logs
    }
    portObject_.m_strPort = port_->currentText().trimmed();
    Dcb& dcb = portObject_.m_dcb;
    dcb.BaudRate = baud_->currentData().toUInt();
    dcb.ByteSize = uint8_t(dataBits_->currentData().toUInt());
    dcb.StopBits = uint8_t(stopBits_->currentData().toUInt());
    dcb.Parity = uint8_t(parity_->currentData().toUInt());
    uint32_t flags = dcb.Flags & ~(Dcb::fOutxCtsFlow | Dcb::fOutxDsrFlow | Dcb::fDtrControlMask | Dcb::fOutX |
                                   Dcb::fInX | Dcb::fRtsControlMask);
    if (rtsCts_->isChecked())
        flags |= Dcb::fOutxCtsFlow | (kControlHandshake << kRtsControlShift);
    else
        flags |= kControlEnable << kRtsControlShift;
    if (dtrDsr_->isChecked())
        flags |= Dcb::fOutxDsrFlow | (kControlHandshake << kDtrControlShift);
    else
        flags |= kControlEnable << kDtrControlShift;
    if (xonXoff_->isChecked()) flags |= Dcb::fOutX | Dcb::fInX;
    dcb.Flags = flags;

    settings_.sendCR = sendCr_->isChecked() ? 1 : 0;
    settings_.charDelay = quint32(charDelay_->value());
    settings_.lineDelay = quint32(lineDelay_->value());
    settings_.terminalScrollback = quint32(scrollback_->value());
    settings_.terminalEnter = enter_->currentData().toUInt();
    settings_.terminalLocalEcho = echo_->isChecked() ? 1 : 0;
    settings_.terminalLogFile = log;
    // An open port takes the new line at once; a closed one at its next open.
    if (portObject_.ApplySettings()) portObject_.ReportIgnoredSettings();
    portObject_.StoreTo(settings_);
    modified_ = false;
    return true;
}

} // namespace oxbrin
