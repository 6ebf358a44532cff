#pragma once

// Sending a text file (normally an S-record file) to the board line by line.
//
// The first line goes out from StartDownload on the calling (UI) thread;
// every further line is sent from the serial port's reader thread when the
// line allows it: in plain mode each time the transmit queue has run empty,
// in star-handshake mode each time the board answers with '*' (it has
// stored the line; EEPROM needs the time). Optional pauses follow each
// character and each line, counted from when the bytes have left the
// driver.
//
// How the threads are kept apart:
// - One line is sent at a time: a line is sent under `sendMutex_`, delays
//   included, so a pacing event that comes while a line is still going out
//   (the first one on the UI thread, say) waits and then sends the next.
// - The file is read only under `stateMutex_`, and Stop closes it under the
//   same lock, so it is never closed under a line being read. Sending does
//   not hold that lock, so Stop never waits for a line to go out.
// - Stop counts up the transfer's generation. The character loop compares
//   it before each character, and the pauses wait on a condition variable
//   that Stop wakes, so a stopped line ends at its next character. A pacing
//   event that was waiting for its turn sends nothing when the transfer it
//   belonged to is over.
//
// No Qt: the engine is driven by the serial layer's threads and tested on
// pseudo-terminals with the simulated board.

#include "linereader.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

namespace oxbrin {

// What the download needs of the serial port.
class CDownloadLink {
public:
    virtual ~CDownloadLink() = default;
    // Connects when the port is closed; false (the user has been told why)
    // when that fails. UI thread.
    virtual bool Connect() = 0;
    // Returns when the bytes have been handed to the driver; false when
    // they could not be.
    virtual bool Write(const void* bytes, size_t count) = 0;
    // Returns when everything written has left the driver.
    virtual void Flush() = 0;
    // Throws away what waits to go out and ends a Write or Flush waiting for
    // it (the board may hold the line for ever). Never waits.
    virtual void Cancel() {}
    // False once the port is closing or gone: the pauses of a line end then,
    // so closing never waits for them.
    virtual bool IsOpen() = 0;
};

struct DownloadProgress {
    bool active = false;
    uint64_t sent = 0;  // lines sent whole
    uint64_t total = 0; // lines the file held when the transfer began
};

class CDownload {
public:
    // The longest line sent; longer lines are cut.
    static constexpr size_t kMaxLine = 512;

    explicit CDownload(CDownloadLink& link);
    // The port must be closed first: no pacing event may come any more.
    ~CDownload();
    CDownload(const CDownload&) = delete;
    CDownload& operator=(const CDownload&) = delete;

    // Taken for each line as it is sent.
    void SetSendCR(bool on) { sendCR_ = on; }
    void SetCharDelay(unsigned ms) { charDelay_ = ms; }
    void SetLineDelay(unsigned ms) { lineDelay_ = ms; }

    enum class Result {
        Started,      // the first line has gone out, or the file held none
        NotConnected, // the port could not be opened (the user was told)
        Busy,         // a transfer is running
        FileError,    // FileErrorText() says why
    };
    // Begins the transfer and sends the first line (BeginDownload, then
    // SendFirstLine, on the calling thread).
    Result StartDownload(const std::string& path, bool starHandshake);
    // UI thread: connects, opens the file and makes the transfer active, but
    // sends nothing, so the caller never waits for the line.
    Result BeginDownload(const std::string& path, bool starHandshake);
    // Sends the first line of the transfer BeginDownload began, unless a
    // pacing event has sent it already or the transfer is over. On a thread
    // that may wait for the line.
    void SendFirstLine();
    const std::string& FileErrorText() const { return fileError_; }
    // UI thread: ends a running transfer at once; what of the line going out
    // has not been sent yet is thrown away (Cancel).
    void StopDownload();

    bool IsActive() const { return active_; }
    bool IsStarHandshake() const;
    DownloadProgress Progress() const;

    // Pacing, on the port's reader thread, after the bytes have been shown.
    void OnReceive(const uint8_t* bytes, size_t count);
    void OnTransmitEmpty();

private:
    // Reads the next non-empty line into line_ with its line end; at the
    // end of the file (or on a read error) ends the transfer. Under
    // stateMutex_.
    bool ReadNextLine();
    void EndTransfer();
    // Sends line_ and prefetches the following one, if the transfer of
    // `generation` is still running.
    void SendLine(uint64_t generation);
    void SendLineLocked(uint64_t generation); // sendMutex_ held
    // Waits `ms`, less when the transfer of `generation` is stopped or the
    // port closes.
    void Pause(unsigned ms, uint64_t generation);
    bool Stopped(uint64_t generation) const { return generation_ != generation || quit_; }

    CDownloadLink& link_;
    std::atomic<bool> sendCR_{false};
    std::atomic<unsigned> charDelay_{0};
    std::atomic<unsigned> lineDelay_{0};

    std::mutex sendMutex_;
    mutable std::mutex stateMutex_;
    std::condition_variable stopped_;
    CLineReader reader_;
    std::string line_;
    std::atomic<bool> active_{false};
    bool star_ = false;
    bool firstPending_ = false; // BeginDownload's first line not yet sent
    std::atomic<uint64_t> generation_{0};
    std::atomic<bool> quit_{false};
    std::atomic<uint64_t> sent_{0};
    uint64_t total_ = 0;
    std::string fileError_;
};

} // namespace oxbrin
