#pragma once

// Unattended use. When nobody can answer the prompt (no display, or a test
// or other automation), the environment variable ULMARRO_UNATTENDED gives the
// answer instead:
//
//   decline       Don't Send: the report is discarded (exit code 0)
//   debug         Debug: the configured debugger is started, exit code 1
//   save:PATH     Send, with the report cabinet saved to PATH (exit code 0)
//   send[:PATH]   Send: uploads when an upload is possible; otherwise like
//                 save:PATH, or discarded when no PATH is given
//
// Messages that would appear in dialogs are written to standard error.

#include <QString>

namespace ulmarro {

struct UnattendedAnswer {
    enum Kind { None, Decline, Debug, Save, Send, Invalid } kind = None;
    QString path;
};

// Reads ULMARRO_UNATTENDED (kind None when it is not set).
UnattendedAnswer UnattendedAnswerFromEnvironment();
UnattendedAnswer ParseUnattendedAnswer(const QString& text);

// True when a Qt platform can be expected to open windows.
bool DisplayAvailable();

} // namespace ulmarro
