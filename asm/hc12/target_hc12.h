#pragma once

#include "core/target.h"

namespace qorb::hc12 {
const Target& GetTarget();
}
