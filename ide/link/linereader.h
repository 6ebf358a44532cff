#pragma once

// Reads a text file line by line through one 16 KB buffer, the way the
// download sends it: line feeds end lines, carriage returns and Ctrl-Z are
// dropped wherever they stand, overlong lines are cut, and a last line
// without a line feed still counts.
//
// No Qt: the download engine runs on the serial port's reader thread and is
// tested without a GUI.

#include <cstddef>
#include <memory>
#include <string>

namespace oxbrin {

class CLineReader {
public:
    static constexpr size_t kBufferSize = 0x4000;

    CLineReader() = default;
    ~CLineReader();
    CLineReader(const CLineReader&) = delete;
    CLineReader& operator=(const CLineReader&) = delete;

    // Opens `path` for reading from its start. Only regular files are
    // taken: a FIFO or a device could block the reading thread or never
    // end. On failure Error() and ErrorText() say why and nothing is open.
    bool Open(const std::string& path);
    // The next line, without its line end, at most `max` bytes (the rest of
    // the line is dropped). False at the end of the file when no byte is
    // left for a line, and on a read error (Error() then is not 0).
    bool ReadLine(std::string& line, size_t max);
    void Close();
    bool IsOpen() const { return fd_ >= 0; }

    // The system's error number of the last failure, 0 when none.
    int Error() const { return error_; }
    std::string ErrorText() const;

private:
    int fd_ = -1;
    // Allocated on first use and kept until the reader goes away.
    std::unique_ptr<char[]> buffer_;
    size_t pos_ = 0;
    size_t count_ = 0;
    int error_ = 0;
    bool notRegular_ = false;
};

} // namespace oxbrin
