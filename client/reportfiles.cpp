#include "reportfiles.h"

#include "core/tempfiles.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <unistd.h>

#if QORB_HAVE_CAB
#include "cabinet.h"
#endif

namespace ulmarro {

bool CabinetSupportBuilt() { return QORB_HAVE_CAB != 0; }

ReportCabinet::~ReportCabinet() {
    if (!path_.isEmpty()) QFile::remove(path_);
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
#if QORB_HAVE_CAB
    std::vector<cab::CabinetFile> files{{QFileInfo(dumpPath).fileName().toStdString(), dumpPath.toStdString()}};
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
        QFile::remove(path_);
        path_.clear();
    }
    return ok;
#else
    (void)dumpPath;
    (void)progress;
    (void)stop;
    *error = QStringLiteral("cabinet support is not part of this build");
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
    while (!in.atEnd()) {
        QByteArray chunk = in.read(1 << 16);
        if (chunk.isEmpty() && in.error() != QFileDevice::NoError) return false;
        if (out.write(chunk) != chunk.size()) return false;
    }
    return out.commit();
}

} // namespace ulmarro
