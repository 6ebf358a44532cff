#include "core/driver.h"
#include "crashhook.h"
#include "hc11/target_hc11.h"

int main(int argc, char** argv) {
    crashhook::Install(crashhook::Program::Qorb11);
    return qorb::RunAssembler(argc, argv, qorb::hc11::GetTarget(), [] { crashhook::CrashMe(); });
}
