#include "terminalport.h"

#include "shell/commands.h"
#include "shell/prompts.h"
#include "shell/settings.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMetaObject>
#include <QStringList>

namespace oxbrin {

namespace {

QString Format(const char* format, const QString& port) {
    QString text = QString::fromLatin1(format);
    text.replace(QLatin1String("%s"), port);
    return text;
}

// "Windows reports:" (or "The system reports:"), an empty line, then the
// system's own words.
QString SystemText(const platform::SerialError& error) {
    QString text = QString::fromLatin1(strings::kSystemReports) + QStringLiteral("\n\n");
    text += error.text.empty() ? QStringLiteral("Unknown error %1.").arg(error.code)
                               : QString::fromLocal8Bit(error.text.c_str());
    return text;
}

// The wait cursor while the port opens or closes (a close may wait 2 s).
class WaitCursor {
public:
    WaitCursor() {
        if (qobject_cast<QApplication*>(QCoreApplication::instance()))
            QGuiApplication::setOverrideCursor(Qt::WaitCursor);
        else
            active_ = false;
    }
    ~WaitCursor() {
        if (active_) QGuiApplication::restoreOverrideCursor();
    }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;

private:
    bool active_ = true;
};

} // namespace

QString OpenErrorText(const QString& port, const platform::SerialError& error) {
    using Kind = platform::SerialErrorKind;
    QString text = Format(strings::kPortOpenFailed, port) + QLatin1Char('\n');
    switch (error.kind) {
    case Kind::NoSuchDevice: text += QString::fromLatin1(strings::kPortMissing); break;
    case Kind::InUse: text += QString::fromLatin1(strings::kPortInUse); break;
    case Kind::NotSerial:
    case Kind::BadSettings: text += QString::fromLatin1(strings::kPortNotSerial); break;
    default:
        text += SystemText(error);
        // Permission denied: which group grants access, and how to join it.
        if (!error.hint.empty()) text += QLatin1Char('\n') + QString::fromLocal8Bit(error.hint.c_str());
        break;
    }
    return text;
}

QString CloseErrorText(const QString& port, const platform::SerialError& error) {
    return Format(strings::kPortCloseFailed, port) + QLatin1Char('\n') + SystemText(error);
}

QString LostText(const QString& port, const platform::SerialError& error) {
    return Format(strings::kPortLost, port) + QLatin1Char('\n') + SystemText(error);
}

QString IgnoredSettingsText(const QString& port, unsigned ignored) {
    static constexpr struct {
        unsigned bit;
        const char* name;
    } kNames[] = {{platform::kIgnoredBaudRate, "baud rate"},
                  {platform::kIgnoredByteSize, "data bits"},
                  {platform::kIgnoredParity, "parity"},
                  {platform::kIgnoredStopBits, "stop bits"},
                  {platform::kIgnoredFlowControl, "flow control"}};
    QStringList names;
    for (const auto& n : kNames) {
        if (ignored & n.bit) names << QString::fromLatin1(n.name);
    }
    if (names.isEmpty()) return {};
    return QStringLiteral("%1 does not support the chosen %2; it runs with its own.")
        .arg(port, names.join(QStringLiteral(", ")));
}

CTerminalPort::CTerminalPort(QObject* parent) : QObject(parent) {}

CTerminalPort::~CTerminalPort() {
    // The handlers below must not run once this object starts to go.
    if (IsOpen()) Close();
    ReleaseLost();
}

bool CTerminalPort::TransferActive() const {
    CTransferHook* hook = hook_.load();
    return hook && hook->TransferActive();
}

bool CTerminalPort::OpenWithMessage() {
    bool ok;
    {
        WaitCursor wait;
        ok = Open();
    }
    if (ok) {
        ++generation_;
        emit ConnectionChanged(true);
        ReportIgnoredSettings();
        return true;
    }
    if (m_error.kind == platform::SerialErrorKind::AlreadyOpen) return false;
    ShowMessage(owner_, OpenErrorText(m_strPort, m_error), QMessageBox::Critical);
    return false;
}

bool CTerminalPort::CloseWithMessage() {
    if (!IsOpen()) {
        ReleaseLost();
        return false;
    }
    bool ok;
    {
        WaitCursor wait;
        ok = Close();
    }
    emit ConnectionChanged(false);
    if (!ok) ShowMessage(owner_, CloseErrorText(m_strPort, m_error), QMessageBox::Critical);
    return ok;
}

void CTerminalPort::ReportIgnoredSettings() {
    const QString text = IgnoredSettingsText(m_strPort, IgnoredSettings());
    if (!text.isEmpty()) emit SettingsNotTaken(text);
}

bool CTerminalPort::SendKey(const uint8_t* bytes, size_t count) {
    if (!IsOpen() && !OpenWithMessage()) return false;
    if (TransferActive()) return false;
    return WriteNoWait(bytes, count);
}

void CTerminalPort::LoadFrom(const SettingsBlock& settings) {
    m_strPort = settings.comPort;
    platform::Dcb dcb;
    const QByteArray& bytes = settings.comSettings;
    if (platform::Dcb::FromBytes(reinterpret_cast<const uint8_t*>(bytes.constData()), size_t(bytes.size()),
                                 &dcb) &&
        IsUsableLineSettings(dcb))
        m_dcb = dcb;
    else
        m_dcb = DefaultLineSettings();
}

void CTerminalPort::StoreTo(SettingsBlock& settings) const {
    settings.comPort = m_strPort;
    const auto bytes = m_dcb.ToBytes();
    settings.comSettings = QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size()));
}

void CTerminalPort::OnReceive(const uint8_t* bytes, size_t count) {
    if (CReceiveSink* sink = sink_.load()) sink->ReceiveBytes(bytes, count);
    CTransferHook* hook = hook_.load();
    if (hook && hook->TransferActive()) hook->OnTransferReceive(bytes, count);
}

unsigned CTerminalPort::OnCommEvent(unsigned mask) {
    CTransferHook* hook = hook_.load();
    if ((mask & EV_TXEMPTY) && hook && hook->TransferActive()) hook->OnTransferTxEmpty();
    return 1;
}

void CTerminalPort::OnLost(const platform::SerialError& error) {
    // The next open waits for this thread to end, so the count read here is
    // still the one of the open that was lost.
    const quint64 generation = generation_.load();
    QMetaObject::invokeMethod(
        this, [this, generation, error] { HandleLost(generation, error); }, Qt::QueuedConnection);
}

void CTerminalPort::HandleLost(quint64 generation, const platform::SerialError& error) {
    if (generation != generation_.load() || IsOpen())
        return; // opened again since; that open is not the lost one
    ReleaseLost();
    ++generation_; // one message per lost open
    emit ConnectionChanged(false);
    // A download cannot go on without the line: it ends before the message
    // holds the window.
    emit PortLost();
    ShowMessage(owner_, LostText(m_strPort, error), QMessageBox::Critical);
}

} // namespace oxbrin
