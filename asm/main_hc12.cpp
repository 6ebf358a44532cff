#include "core/driver.h"
#include "core/host.h"
#include "crashhook.h"
#include "hc12/target_hc12.h"

int main(int argc, char** argv) {
    crashhook::Install(crashhook::Program::Qorb12);
    // The process is the assembler's alone: its heap may take large pages.
    qorb::host::UseLargePages();
    return qorb::RunAssembler(argc, argv, qorb::hc12::GetTarget(), [] { crashhook::CrashMe(); });
}
