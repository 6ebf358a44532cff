#include "serialport.h"

namespace oxbrin {

// The platform layer calls these on the port's reader thread.
class CSerialPort::Listener : public platform::SerialListener {
public:
    explicit Listener(CSerialPort* owner) : owner_(owner) {}
    void OnReceive(const uint8_t* bytes, size_t count) override { owner_->OnReceive(bytes, count); }
    void OnTransmitEmpty() override { owner_->OnCommEvent(EV_TXEMPTY); }
    void OnLost(const platform::SerialError& error) override { owner_->OnLost(error); }

private:
    CSerialPort* owner_;
};

CSerialPort::CSerialPort()
    : m_strPort(QStringLiteral("COM2")), m_dcb(DefaultLineSettings()),
      listener_(std::make_unique<Listener>(this)),
      port_(std::make_unique<platform::SerialPort>(listener_.get())) {}

CSerialPort::~CSerialPort() {
    // A derived class closes the port in its own destructor, while its
    // handlers still exist; this is the last resort for the base alone.
    port_.reset();
}

bool CSerialPort::Open() {
    if (IsOpen()) return false;
    m_error = port_->Open(m_strPort.toStdString(), m_dcb);
    return m_error.ok();
}

bool CSerialPort::Close() {
    if (!IsOpen()) {
        ReleaseLost();
        return false;
    }
    m_error = port_->Close(2000);
    return m_error.ok();
}

void CSerialPort::ReleaseLost() {
    if (!IsOpen()) port_->Close(2000);
}

bool CSerialPort::ApplySettings() {
    // The page always stores the binary and parity-check bits with the
    // line values; the device gets what it can take.
    m_dcb.Flags |= platform::Dcb::fBinary | platform::Dcb::fParity;
    if (!IsOpen()) return false;
    m_error = port_->Configure(m_dcb);
    return m_error.ok();
}

bool CSerialPort::Write(const void* bytes, size_t count) {
    // Writes come from the UI thread and, during a download, from the
    // reader thread; a failed write is not reported, so it records nothing
    // that the other thread might be reading.
    return IsOpen() && port_->Write(bytes, count).ok();
}

bool CSerialPort::WriteNoWait(const void* bytes, size_t count) {
    return IsOpen() && port_->WriteNoWait(bytes, count).ok();
}

void CSerialPort::CancelOutput() {
    if (port_) port_->CancelOutput();
}

bool CSerialPort::Post(std::function<void()> task) { return IsOpen() && port_->Post(std::move(task)).ok(); }

bool CSerialPort::Drain() {
    if (!IsOpen()) return false;
    return port_->Drain().ok();
}

bool CSerialPort::IsOpen() const { return port_ && port_->IsOpen(); }

unsigned CSerialPort::IgnoredSettings() const { return IsOpen() ? port_->IgnoredSettings() : 0u; }

QString CSerialPort::DevicePath() const {
    return QString::fromStdString(platform::ResolvePortName(m_strPort.toStdString()));
}

bool IsUsableLineSettings(const platform::Dcb& dcb) {
    return dcb.BaudRate > 0 && dcb.BaudRate <= 4000000 && dcb.ByteSize >= 5 && dcb.ByteSize <= 8 &&
           dcb.Parity <= platform::Dcb::kSpaceParity && dcb.StopBits <= platform::Dcb::kTwoStopBits;
}

platform::Dcb DefaultLineSettings() {
    platform::Dcb dcb;
    dcb.BaudRate = 9600;
    dcb.ByteSize = 8;
    dcb.Parity = platform::Dcb::kNoParity;
    dcb.StopBits = platform::Dcb::kOneStopBit;
    dcb.Flags = 0;
    return dcb;
}

} // namespace oxbrin
