#include "core/driver.h"
#include "crashhook.h"
#include "hc12/target_hc12.h"

int main(int argc, char** argv) {
    crashhook::Install(crashhook::Program::Qorb12);
    return qorb::RunAssembler(argc, argv, qorb::hc12::GetTarget(), [] { crashhook::CrashMe(); });
}
