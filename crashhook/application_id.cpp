// The programs' identities, the same on every platform: the report client
// and a report server tell the programs apart by them.

#include "crashhook.h"

namespace crashhook {

const char* ApplicationId(Program program) {
    switch (program) {
    case Program::Oxbrin: return "{A51E686F-6D49-4FCE-ACBD-D1D002C9D0B7}";
    case Program::Qorb12: return "{2D4B4EFA-B16D-4DE8-AA49-CB5CB9AB568D}";
    case Program::Qorb11: return "{D0D835B0-43AF-47EB-9D26-8260007E4D7A}";
    }
    return "";
}

} // namespace crashhook
