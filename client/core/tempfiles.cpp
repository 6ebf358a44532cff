#include "tempfiles.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ulmarro {

std::string TemporaryDirectory() {
    const char* candidates[] = {std::getenv("TMPDIR"), "/tmp"};
    for (const char* candidate : candidates) {
        if (candidate == nullptr || *candidate == '\0') continue;
        struct stat st {};
        if (stat(candidate, &st) == 0 && S_ISDIR(st.st_mode) && access(candidate, W_OK | X_OK) == 0) {
            std::string dir = candidate;
            if (dir.back() != '/') dir += '/';
            return dir;
        }
    }
    return "./";
}

namespace {

// 32 unpredictable bits for a file name. A name derived from the clock could
// be planted in a shared directory ahead of time (symbolic links for every
// coming millisecond), which would keep the client from writing any report.
bool RandomNumber(std::uint32_t* value) {
    for (;;) {
        ssize_t n = getrandom(value, sizeof *value, GRND_NONBLOCK);
        if (n == static_cast<ssize_t>(sizeof *value)) return true;
        if (n < 0 && errno == EINTR) continue;
        break;
    }
    // No getrandom (old kernel, seccomp) or a pool not yet ready this early
    // after boot: the kernel's other source.
    int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    ssize_t n;
    do {
        n = read(fd, value, sizeof *value);
    } while (n < 0 && errno == EINTR);
    close(fd);
    return n == static_cast<ssize_t>(sizeof *value);
}

} // namespace

int CreateTemporaryFile(const std::string& extension, std::string* path, Failure* failure) {
    std::string dir = TemporaryDirectory();
    int lastError = EEXIST;
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::uint32_t number = 0;
        if (!RandomNumber(&number)) {
            lastError = errno ? errno : EIO;
            break;
        }
        char name[32];
        std::snprintf(name, sizeof name, "~zk%08x.", static_cast<unsigned>(number));
        std::string candidate = dir + name + extension;
        // New and private: never an existing file, never through a link.
        int fd = open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0) {
            *path = candidate;
            return fd;
        }
        lastError = errno;
        if (errno != EEXIST) break;
    }
    *failure = FailureFromErrno(lastError);
    return -1;
}

} // namespace ulmarro
