#include "crashhook.h"

#include <cstdint>
#include <cstdlib>

namespace crashhook {

void Install(Program) {}

void CrashMe() {
    volatile std::uintptr_t address = 0x10;
    *reinterpret_cast<volatile int*>(address) = 0;
    std::abort();
}

} // namespace crashhook
