#pragma once

// The client's settings. User scope is $XDG_CONFIG_HOME/KORVELL/Ulmarro.conf,
// system scope KORVELL/Ulmarro.conf in each directory of $XDG_CONFIG_DIRS and
// then the installation tree's own file (the files the crash hook reads);
// registration writes the first of them. Per-application values live in the
// group "Applications/<application id>"; each is looked up in user scope
// first, then in the system files in order.

#include "report.h"
#include "upload/report_upload.h"

#include <QString>

namespace ulmarro {

QString SystemSettingsPath();
QString UserSettingsPath();

ClientConfig LoadConfig(const QString& applicationId);

// How long the client waits for a report server: the group "Deadlines"
// (StatusSeconds, UploadSeconds, UploadBytesPerSecond, UploadMaxSeconds,
// StallSeconds, UnattendedSeconds), user scope first, then system. A value
// that is not a positive number keeps its default.
upload::Deadlines LoadDeadlines();

// The debugger command (system scope, key "Debugger"); "%ld" in it is
// replaced by the crashed process id. Empty when none is configured.
QString ConfiguredDebugger();

// -RegServer / -UnregServer: the client's path as the default value the
// crash hook reads. Returns false with a reason when the file cannot be written.
bool RegisterClient(const QString& clientPath, QString* error);
bool UnregisterClient(QString* error);

} // namespace ulmarro
