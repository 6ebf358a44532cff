#pragma once

// The IDE's serial port: the port name and the line-settings record the user
// chose, open and close, writes, and the events of the port's reader thread
// (received bytes, the transmit queue run empty, the device gone) as virtual
// handlers for a derived class. The line itself is the platform layer's.

#include "serial.h"

#include <QString>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

namespace oxbrin {

// Event bits passed to OnCommEvent.
inline constexpr unsigned EV_RXCHAR = 0x0001;
inline constexpr unsigned EV_TXEMPTY = 0x0004;

class CSerialPort {
public:
    CSerialPort();
    virtual ~CSerialPort();
    CSerialPort(const CSerialPort&) = delete;
    CSerialPort& operator=(const CSerialPort&) = delete;

    // Opens m_strPort exclusively with m_dcb, raises DTR and starts the
    // reader. False when already open or on failure (LastError() says why;
    // nothing stays open).
    bool Open();
    // Stops the reader (waiting at most 2 s), drops DTR, puts the device's
    // settings back and closes it. False when the port was not open or a step
    // failed; the port is closed in either case.
    bool Close();
    // Gives m_dcb to the open port. Fails harmlessly while the port is closed.
    bool ApplySettings();
    // Returns when every byte has been handed to the device (or thrown away
    // by CancelOutput, or the port closes: false). Flow control can hold
    // this for ever: never from the UI thread.
    bool Write(const void* bytes, size_t count);
    // Queues the bytes behind what is being sent and returns at once: what
    // the UI thread uses. False when the port is closed or too much waits
    // already (the board holds the line).
    bool WriteNoWait(const void* bytes, size_t count);
    // Returns when everything written has left the device.
    bool Drain();
    // Throws away what waits to go out and ends a Write or Drain waiting for
    // it, at once. UI thread or the reader thread.
    void CancelOutput();
    // Runs `task` on the port's reader thread, where waiting for the line is
    // harmless. False when the port is closed.
    bool Post(std::function<void()> task);
    bool IsOpen() const;

    const platform::SerialError& LastError() const { return m_error; }
    // Settings the open device did not take (platform::kIgnored* bits).
    unsigned IgnoredSettings() const;
    // The device path the port name stands for.
    QString DevicePath() const;

    QString m_strPort;
    platform::Dcb m_dcb;

protected:
    // On the reader thread: 1..1024 received bytes.
    virtual void OnReceive(const uint8_t* bytes, size_t count) = 0;
    // On the reader thread: EV_TXEMPTY when everything written has drained.
    virtual unsigned OnCommEvent(unsigned mask) {
        (void)mask;
        return 1;
    }
    // On the reader thread, once per open: the device hung up or failed;
    // the port counts as closed from now on (IsOpen() is false).
    virtual void OnLost(const platform::SerialError& error) { (void)error; }
    // Releases what a lost device left behind (quietly, no reader to stop).
    void ReleaseLost();

    platform::SerialError m_error;

private:
    class Listener;
    std::unique_ptr<Listener> listener_;
    std::unique_ptr<platform::SerialPort> port_;
};

// Values the Terminal page and the settings store can hold: a record that
// the page itself could have written. Stored records that fail this are
// replaced by the defaults at load.
bool IsUsableLineSettings(const platform::Dcb& dcb);

// The record used when nothing (or nothing usable) is stored: 9600 baud,
// 8 data bits, no parity, 1 stop bit, no flow control.
platform::Dcb DefaultLineSettings();

} // namespace oxbrin
