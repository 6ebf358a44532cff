#pragma once

// The serial line to the target board: open, configure, write, and a reader
// thread that hands received bytes and line events to a listener.
//
// We keep this layer of our own, small, instead of a framework's serial
// class: the download is paced by the transmit-queue-empty event, which the
// frameworks do not report; we need exact control of what open and close do
// to the line (exclusive use, DTR, settings put back); and it must behave
// on pseudo-terminals, which the tests and board simulators use.
//
// No Qt and no other library: the interface is plain C++, the implementation
// is one file per platform (serial_posix.cpp).

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace platform {

// Line settings in the shape of the Windows device-control block. The IDE
// keeps this record whole (28 bytes) in its settings, so the field names and
// the flag bits are those of that record.
struct Dcb {
    uint32_t DCBlength = 28;
    uint32_t BaudRate = 9600;
    uint32_t Flags = 0;
    uint16_t wReserved = 0;
    uint16_t XonLim = 0;
    uint16_t XoffLim = 0;
    uint8_t ByteSize = 8;
    uint8_t Parity = 0;   // kNoParity .. kSpaceParity
    uint8_t StopBits = 0; // kOneStopBit, kOne5StopBits, kTwoStopBits
    uint8_t XonChar = 0;
    uint8_t XoffChar = 0;
    uint8_t ErrorChar = 0;
    uint8_t EofChar = 0;
    uint8_t EvtChar = 0;
    uint16_t wReserved1 = 0;

    static constexpr uint32_t fBinary = 1u << 0;
    static constexpr uint32_t fParity = 1u << 1;
    static constexpr uint32_t fOutxCtsFlow = 1u << 2;
    static constexpr uint32_t fOutxDsrFlow = 1u << 3;
    static constexpr uint32_t fDtrControlMask = 3u << 4;
    static constexpr uint32_t fOutX = 1u << 8;
    static constexpr uint32_t fInX = 1u << 9;
    static constexpr uint32_t fRtsControlMask = 3u << 12;

    static constexpr uint8_t kNoParity = 0, kOddParity = 1, kEvenParity = 2, kMarkParity = 3,
                             kSpaceParity = 4;
    static constexpr uint8_t kOneStopBit = 0, kOne5StopBits = 1, kTwoStopBits = 2;

    static constexpr size_t kSize = 28;
    // Little-endian, field by field, as the record lies in memory on Windows.
    std::array<uint8_t, kSize> ToBytes() const;
    // False (and *out untouched) unless exactly kSize bytes are given.
    static bool FromBytes(const uint8_t* data, size_t size, Dcb* out);
};

// What went wrong, in the classes the IDE has messages for (after its
// "Could not open the communication port" line: NoSuchDevice the "does not
// exist" text, InUse the "already in use" text, NotSerial and BadSettings
// the "not a serial device" text, System the system's text and the hint).
enum class SerialErrorKind {
    None,
    NoSuchDevice, // nothing of that name, or the device has gone
    InUse,        // another program (or another open of ours) holds it
    NotSerial,    // opens, but is no serial device (a file, /dev/null)
    BadSettings,  // the settings record holds values no line can take
    System,       // any other system error, permission denied included
    NotOpen,      // the operation needs an open port
    AlreadyOpen,  // Open on a port that is open
    Aborted,      // ended by Close (a write or drain in progress), or Close
                  // gave up waiting for the reader thread
    Lost,         // the device hung up or failed (unplugged)
    Full,         // WriteNoWait: too much output waits already (the line is held)
};

struct SerialError {
    SerialErrorKind kind = SerialErrorKind::None;
    int code = 0;     // the system's error number, 0 when none
    std::string text; // the system's text for code
    std::string hint; // one more line for the user (which group grants access), may be empty

    bool ok() const { return kind == SerialErrorKind::None; }
};

// Receives what the reader thread sees. All calls come on the port's reader
// thread, one at a time; none begins after Close has been called. A
// listener may Write, Drain, Configure and Close from inside a call (the
// download writes from there); a Close from there only stops the port, the
// owner's next Open or Close releases the device.
class SerialListener {
public:
    virtual ~SerialListener() = default;
    // 1..1024 received bytes.
    virtual void OnReceive(const uint8_t* bytes, size_t count) = 0;
    // Everything written so far has left the transmit queue.
    virtual void OnTransmitEmpty() {}
    // The device hung up or failed. Called once; the port is closed from
    // then on (IsOpen() is false, writes fail) and nothing else follows.
    virtual void OnLost(const SerialError& error) { (void)error; }
};

// Bits of IgnoredSettings(): settings the device did not take (a
// pseudo-terminal keeps 8 data bits and no parity, 1.5 stop bits exist only
// with 5 data bits, and no device here has DSR output flow control). The
// line works, with the device's values.
enum : unsigned {
    kIgnoredBaudRate = 1,
    kIgnoredByteSize = 2,
    kIgnoredParity = 4,
    kIgnoredStopBits = 8,
    kIgnoredFlowControl = 16,
};

// Open, Close and Configure belong to the owner's thread; Write and Drain
// may come from the owner's thread or from inside listener calls, one at a
// time (the IDE types only while no download runs). Bytes go out through the
// port's writer thread in the order they were given.
//
// Flow control can hold the line for ever (a board that sent XOFF and never
// XON): Write and Drain then wait until Close or CancelOutput ends them, so
// a thread that must never wait (the IDE's window) uses WriteNoWait and
// leaves waiting writes to other threads.
class SerialPort {
public:
    explicit SerialPort(SerialListener* listener);
    ~SerialPort(); // closes the port and waits for every reader it started
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // Opens the named port for our use alone, applies the settings, raises
    // DTR and RTS (where the device has them) and starts the reader thread.
    // The name goes through ResolvePortName.
    SerialError Open(const std::string& name, const Dcb& settings);
    // Applies new settings to the open port.
    SerialError Configure(const Dcb& settings);
    unsigned IgnoredSettings() const;
    // Returns when every byte has been handed to the device (waiting while
    // flow control holds the line), or the port is closed meanwhile, or the
    // bytes are thrown away by CancelOutput (Aborted).
    SerialError Write(const void* data, size_t size);
    // Queues the bytes behind everything written so far and returns at once;
    // Full when kMaxQueued bytes would be waiting.
    SerialError WriteNoWait(const void* data, size_t size);
    static constexpr size_t kMaxQueued = 64 * 1024;
    // Returns when everything written has left the device (Aborted when it
    // is thrown away meanwhile).
    SerialError Drain();
    // The owner's thread or a listener call; never waits: throws away every
    // byte not yet sent (queued or held by the driver) and ends a Write or
    // Drain that waits for them. Later writes go out as usual.
    void CancelOutput();
    // Runs `task` on the reader thread, as a listener call (after what it is
    // doing now); dropped when the port closes first.
    SerialError Post(std::function<void()> task);
    // Stops the reader (waiting up to timeoutMs for a listener call in
    // progress), drops DTR, puts the device's settings back and closes it.
    // The port is closed afterwards whatever the result. A reader that did
    // not end in time is waited for later, at the latest by the destructor.
    SerialError Close(int timeoutMs = 2000);
    bool IsOpen() const;
    // The device path of the open port (empty when closed).
    std::string DevicePath() const;

    struct Session;

private:
    Session* Current() const;
    SerialError Release(std::shared_ptr<Session> s, int timeoutMs);
    void ReapRetired(bool wait);

    SerialListener* listener_;
    std::shared_ptr<Session> session_;
    std::vector<std::shared_ptr<Session>> retired_;
};

// The device path for a port name: names with a '/' are used as they are,
// a Windows name COMn means the n-th serial port (/dev/ttyS<n-1>), and any
// other bare name is taken from /dev ("ttyUSB0" is /dev/ttyUSB0).
std::string ResolvePortName(const std::string& name);

struct SerialDeviceInfo {
    std::string path;        // /dev/ttyUSB0
    std::string description; // "FTDI FT232R USB UART (0403:6001)", "COM1", ...
    std::string byIdPath;    // its /dev/serial/by-id link, when there is one
};

// The serial devices present, sorted by path. Pseudo-terminals and virtual
// consoles are not listed; a port box must still accept any typed name.
// The roots are parameters so the lookup can be tried on a prepared tree.
std::vector<SerialDeviceInfo> ListSerialDevices(const std::string& sysRoot = "/sys",
                                                const std::string& devRoot = "/dev");

} // namespace platform
