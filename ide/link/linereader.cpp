#include "linereader.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

namespace oxbrin {

CLineReader::~CLineReader() { Close(); }

bool CLineReader::Open(const std::string& path) {
    Close();
    error_ = 0;
    notRegular_ = false;
    if (!buffer_) {
        buffer_.reset(new (std::nothrow) char[kBufferSize]());
        if (!buffer_) {
            error_ = ENOMEM;
            return false;
        }
    }
    // Without O_NONBLOCK the open of a FIFO would wait for a writer.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        error_ = errno;
        return false;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        error_ = errno;
        ::close(fd);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        error_ = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        notRegular_ = !S_ISDIR(st.st_mode);
        ::close(fd);
        return false;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    fd_ = fd;
    pos_ = count_ = 0;
    return true;
}

bool CLineReader::ReadLine(std::string& line, size_t max) {
    line.clear();
    if (fd_ < 0) return false;
    for (;;) {
        if (pos_ == count_) {
            ssize_t n;
            do n = ::read(fd_, buffer_.get(), kBufferSize);
            while (n < 0 && errno == EINTR);
            if (n < 0) {
                error_ = errno;
                pos_ = count_ = 0;
                return false;
            }
            pos_ = 0;
            count_ = static_cast<size_t>(n);
            if (n == 0) return !line.empty();
        }
        const char c = buffer_[pos_++];
        if (c == '\n') return true;
        if (c == '\r' || c == 0x1A) continue;
        if (line.size() < max) line += c;
    }
}

void CLineReader::Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    pos_ = count_ = 0;
}

std::string CLineReader::ErrorText() const {
    if (notRegular_)
        return "This is no regular file (a device, a pipe or a socket); only files can be downloaded.";
    return error_ ? std::strerror(error_) : std::string();
}

} // namespace oxbrin
