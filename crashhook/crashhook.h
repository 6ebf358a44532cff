#pragma once

// Crash hook shared by the assemblers and the IDE. Install() is the first
// thing each program does; after that any fatal signal starts the report
// client for the crashed process.

namespace crashhook {

enum class Program { Qorb12, Qorb11, Oxbrin };

void Install(Program program);

// Provokes a real access fault (a write to a small invalid address), so the
// whole report path can be exercised from the command line.
[[noreturn]] void CrashMe();

} // namespace crashhook
