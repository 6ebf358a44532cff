#pragma once

// The report cabinet: built from the minidump into a temporary file, copied
// where the user wants it, deleted when the client ends.

#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

namespace ulmarro {

// Bar positions of the progress dialogs.
constexpr int kProgressMax = 256;

class ReportCabinet {
public:
    ReportCabinet() = default;
    ReportCabinet(const ReportCabinet&) = delete;
    ReportCabinet& operator=(const ReportCabinet&) = delete;
    ~ReportCabinet(); // deletes the temporary cabinet

    // Builds the cabinet holding `dumpPath`. `progress` gets 0..kProgressMax;
    // `stop` cancels between data blocks. Safe to run on a worker thread.
    bool Build(const QString& dumpPath, const std::function<void(int)>& progress,
               const std::atomic<bool>* stop, QString* error);
    const QString& path() const { return path_; }

    // Copies the finished cabinet to `target`, replacing it only once the
    // copy is complete. The copy is private to the user (0600), as the dump
    // it holds is.
    bool CopyTo(const QString& target) const;

private:
    QString path_;
};

// Whether cabinets can be built by this client at all.
bool CabinetSupportBuilt();

// The report's temporary files, removed even when the client is ended by a
// signal: the handlers call RemoveTrackedFiles(), which only unlinks.
enum class TrackedFile { Dump, Cabinet };
void TrackFile(TrackedFile which, const std::string& path);
void UntrackFile(TrackedFile which);
void RemoveTrackedFiles(); // async-signal-safe

} // namespace ulmarro
