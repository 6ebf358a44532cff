#include "reportfiles.h"

#include "core/tempfiles.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cstring>

#include <unistd.h>

#if QORB_HAVE_CAB
#include "cabinet.h"
#endif

namespace ulmarro {

bool CabinetSupportBuilt() { return QORB_HAVE_CAB != 0; }

namespace {

// Fixed buffers: a signal handler may read them, so no allocation and no
// locks. A path is published by its first byte going non-zero last.
constexpr std::size_t kPathMax = 4096;
char g_tracked[2][kPathMax];

char* Slot(TrackedFile which) { return g_tracked[which == TrackedFile::Dump ? 0 : 1]; }

} // namespace

void TrackFile(TrackedFile which, const std::string& path) {
    char* slot = Slot(which);
    slot[0] = '\0';
    if (path.empty() || path.size() >= kPathMax) return;
    std::memcpy(slot + 1, path.data() + 1, path.size() - 1);
    slot[path.size()] = '\0';
    __atomic_store_n(&slot[0], path[0], __ATOMIC_RELEASE);
}

void UntrackFile(TrackedFile which) { __atomic_store_n(&Slot(which)[0], '\0', __ATOMIC_RELEASE); }

void RemoveTrackedFiles() {
    for (auto& slot : g_tracked)
        if (__atomic_load_n(&slot[0], __ATOMIC_ACQUIRE) != '\0') unlink(slot);
}

ReportCabinet::~ReportCabinet() {
    if (!path_.isEmpty()) {
        UntrackFile(TrackedFile::Cabinet);
        QFile::remove(path_);
    }
}

bool ReportCabinet::Build(const QString& dumpPath, const std::function<void(int)>& progress,
                          const std::atomic<bool>* stop, QString* error) {
    if (!path_.isEmpty()) QFile::remove(path_);
    path_.clear();
    std::string cabPath;
    Failure failure;
    int fd = CreateTemporaryFile("cab", &cabPath, &failure);
    if (fd < 0) {
        *error = QString::fromStdString(failure.Describe());
        return false;
    }
    close(fd);
    path_ = QString::fromStdString(cabPath);
    TrackFile(TrackedFile::Cabinet, cabPath);
#if QORB_HAVE_CAB
    std::vector<cab::CabinetFile> files{
        {QFileInfo(dumpPath).fileName().toStdString(), dumpPath.toStdString()}};
    std::string message;
    bool ok = cab::WriteCabinet(
        cabPath, files,
        [&](std::uint64_t done, std::uint64_t total) {
            if (progress) progress(total == 0 ? kProgressMax : static_cast<int>(done * kProgressMax / total));
            return stop == nullptr || !stop->load();
        },
        &message);
    if (!ok) {
        *error = QString::fromStdString(message);
        UntrackFile(TrackedFile::Cabinet);
        QFile::remove(path_);
        path_.clear();
    }
    return ok;
#else
    (void)dumpPath;
    (void)progress;
    (void)stop;
    *error = QStringLiteral("cabinet support is not part of this build");
    UntrackFile(TrackedFile::Cabinet);
    QFile::remove(path_);
    path_.clear();
    return false;
#endif
}

bool ReportCabinet::CopyTo(const QString& target) const {
    QFile in(path_);
    if (path_.isEmpty() || !in.open(QIODevice::ReadOnly)) return false;
    QSaveFile out(target);
    if (!out.open(QIODevice::WriteOnly)) return false;
    // Before the first byte: the report holds the crashed program's memory.
    if (!out.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)) return false;
    while (!in.atEnd()) {
        QByteArray chunk = in.read(1 << 16);
        if (chunk.isEmpty() && in.error() != QFileDevice::NoError) return false;
        if (out.write(chunk) != chunk.size()) return false;
    }
    return out.commit();
}

} // namespace ulmarro
