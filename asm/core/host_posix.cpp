#include "host.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

// Large pages for the heap: glibc on Linux, not under the sanitizers (they
// bring their own allocator, and the heap's end is not theirs).
#if defined(__SANITIZE_ADDRESS__)
#define QORB_HEAP_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(memory_sanitizer) || __has_feature(thread_sanitizer)
#define QORB_HEAP_SANITIZED 1
#endif
#endif
#if defined(__linux__) && defined(__GLIBC__) && !defined(QORB_HEAP_SANITIZED)
#include <malloc.h>
#include <sys/mman.h>
#if defined(MADV_HUGEPAGE) && defined(M_TOP_PAD) && defined(M_MMAP_THRESHOLD) && defined(M_TRIM_THRESHOLD)
#define QORB_HEAP_LARGE_PAGES 1
#endif
#endif

namespace qorb::host {

int OpenRead(const std::string& name, int* error, FileId* id) {
    int fd;
    // Not blocking, so that opening a FIFO cannot stall the assembler.
    do {
        fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        *error = errno;
        return -1;
    }
    struct stat st;
    int r = ::fstat(fd, &st);
    if (r != 0 || !S_ISREG(st.st_mode)) {
        *error = r != 0 ? errno : S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        ::close(fd);
        return -1;
    }
    if (id) {
        id->device = static_cast<std::uint64_t>(st.st_dev);
        id->inode = static_cast<std::uint64_t>(st.st_ino);
    }
    return fd;
}

long Read(int handle, char* buffer, std::size_t n, int* error) {
    ssize_t got;
    do {
        got = ::read(handle, buffer, n);
    } while (got < 0 && errno == EINTR);
    if (got < 0) *error = errno;
    return static_cast<long>(got);
}

long long FileSize(int handle) {
    struct stat st;
    if (::fstat(handle, &st) != 0) return -1;
    return static_cast<long long>(st.st_size);
}

void Close(int handle) {
    if (handle >= 0) ::close(handle);
}

std::string ErrorText(int error) { return std::strerror(error); }

int LastFileError() { return errno; }
int IoErrorCode() { return EIO; }
int FileTooLargeCode() { return EFBIG; }
bool IsNotFound(int error) { return error == ENOENT; }

bool IsSeparator(char c) { return c == '/' || c == '\\'; }
char NativeSeparator() { return '/'; }

std::string NativeSeparators(std::string name) {
    for (char& c : name)
        if (c == '\\') c = '/';
    return name;
}

bool IsAbsolute(std::string_view name) { return !name.empty() && name[0] == '/'; }

bool SlashWordIsFileName(const std::string& w) {
    if (w.empty() || w[0] != '/') return false;
    // An existing file, or a word that looks like a path rather than
    // "/opt:value", is a file name.
    if (Exists(w)) return true;
    std::string_view rest(w);
    rest.remove_prefix(1);
    return rest.find('/') != std::string_view::npos && rest.find(':') == std::string_view::npos &&
           rest.find('=') == std::string_view::npos;
}

bool Exists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

bool IsDirectory(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool ListDirectory(const std::string& dir, std::vector<std::string>& names) {
    names.clear();
    DIR* d = ::opendir(dir.empty() ? "." : dir.c_str());
    if (!d) return false;
    while (dirent* e = ::readdir(d)) {
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
        names.emplace_back(e->d_name);
    }
    ::closedir(d);
    return true;
}

bool MatchWildcard(const std::string& pattern, const std::string& name) {
    return ::fnmatch(pattern.c_str(), name.c_str(), 0) == 0;
}

bool IsHidden(const std::string& path) {
    std::size_t slash = path.find_last_of('/');
    std::size_t start = slash == std::string::npos ? 0 : slash + 1;
    return start < path.size() && path[start] == '.';
}

bool NameLess(const std::string& a, const std::string& b) { return a < b; }

bool EqualIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

std::string CurrentDirectory() {
    char buf[PATH_MAX];
    return ::getcwd(buf, sizeof buf) ? buf : ".";
}

bool ChangeDirectory(const std::string& dir) { return ::chdir(dir.c_str()) == 0; }

namespace {
FileId IdOf(const struct stat& st) {
    return FileId{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}
} // namespace

bool Identify(const std::string& name, FileId* id) {
    struct stat st;
    if (::stat(name.c_str(), &st) != 0) return false;
    *id = IdOf(st);
    return true;
}

std::FILE* OpenOutput(const std::string& name, int* error, FileId* id) {
    // A name that already is something else than a regular file is refused
    // before it is opened: opening a FIFO for writing waits for a reader (or,
    // not blocking, fails only while there is none), and a device may act on
    // being opened.
    struct stat st;
    if (::stat(name.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        *error = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        return nullptr;
    }
    int fd;
    do {
        fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        // A FIFO put there since the check, without a reader.
        *error = errno == ENXIO ? EINVAL : errno;
        return nullptr;
    }
    int r = ::fstat(fd, &st);
    if (r != 0 || !S_ISREG(st.st_mode)) {
        *error = r != 0 ? errno : EINVAL;
        ::close(fd);
        return nullptr;
    }
    *id = IdOf(st);
    std::FILE* f = ::fdopen(fd, "wb");
    if (!f) {
        *error = errno;
        ::close(fd);
    }
    return f;
}

bool TruncateOutput(std::FILE* file, int* error) {
    if (::ftruncate(fileno(file), 0) != 0) {
        *error = errno;
        return false;
    }
    return true;
}

bool IsRegularFile(std::FILE* file) {
    struct stat st;
    return ::fstat(fileno(file), &st) == 0 && S_ISREG(st.st_mode);
}

void RemoveFile(const std::string& path) { ::unlink(path.c_str()); }

int InternalErrorStatus() { return 255; }

namespace {
bool largePages = false;
} // namespace

void UseLargePages() { largePages = true; }

void ExpectHeapUse(std::size_t bytes) {
#ifdef QORB_HEAP_LARGE_PAGES
    constexpr std::size_t kLargePage = std::size_t{2} << 20;
    // A block this large the allocator takes from the heap's end (the
    // largest threshold it accepts for serving blocks with mmap of their own).
    constexpr std::size_t kBlock = std::size_t{16} << 20;
    if (!largePages || bytes < 2 * kLargePage) return;
    bytes = std::min<std::size_t>(bytes, std::size_t{1} << 30);
    // Everything from the heap, kept when freed: by default blocks above
    // 128 KB get mmap calls of their own, each faulted in 4 KB at a time,
    // and freed memory at the heap's end goes back to the system (to be
    // faulted in again by the next pass).
    ::mallopt(M_MMAP_THRESHOLD, 32 << 20);
    ::mallopt(M_TRIM_THRESHOLD, 1 << 30);
    // Grow the heap by `bytes` at once: one block with that much padding
    // behind it, freed again, leaves all of it free at the heap's end.
    ::mallopt(M_TOP_PAD, static_cast<int>(bytes));
    char* block = static_cast<char*>(std::malloc(kBlock));
    ::mallopt(M_TOP_PAD, 4 << 20);
    if (!block) return;
    const auto start = reinterpret_cast<std::uintptr_t>(block);
    const auto end = reinterpret_cast<std::uintptr_t>(::sbrk(0));
    std::free(block);
    // Only when the block came from the heap's end (and not from an mmap
    // of its own, should the heap have been unable to grow).
    if (end == static_cast<std::uintptr_t>(-1) || end < start + kBlock ||
        end > start + kBlock + bytes + kBlock)
        return;
    const auto from = (start + kLargePage - 1) & ~(kLargePage - 1);
    const auto to = end & ~(kLargePage - 1);
    // Untouched so far but for the block's header: large pages where the
    // system has them (a hint; failing it changes nothing but the speed).
    if (to > from) ::madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);
#else
    (void)bytes;
#endif
}

std::string LocalTimeText() {
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    char buf[64];
    std::strftime(buf, sizeof buf, "%a %b %e %H:%M:%S %Y", &tm);
    return buf;
}

} // namespace qorb::host
