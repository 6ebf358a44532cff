#pragma once

#include "core/target.h"

namespace qorb::hc11 {
const Target& GetTarget();
}
