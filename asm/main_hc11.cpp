#include "core/driver.h"
#include "core/host.h"
#include "crashhook.h"
#include "hc11/target_hc11.h"

int main(int argc, char** argv) {
    crashhook::Install(crashhook::Program::Qorb11);
    // The process is the assembler's alone: its heap may take large pages.
    qorb::host::UseLargePages();
    return qorb::RunAssembler(argc, argv, qorb::hc11::GetTarget(), [] { crashhook::CrashMe(); });
}
