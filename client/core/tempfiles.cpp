#include "tempfiles.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include <fcntl.h>
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

int CreateTemporaryFile(const std::string& extension, std::string* path, Failure* failure) {
    std::string dir = TemporaryDirectory();
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    std::uint32_t ticks = static_cast<std::uint32_t>(now.tv_sec * 1000 + now.tv_nsec / 1000000);
    int lastError = EEXIST;
    for (std::uint32_t n = 0; n < 1000; ++n) {
        char name[32];
        std::snprintf(name, sizeof name, "~zk%08x.", ticks + n + 1);
        std::string candidate = dir + name + extension;
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
