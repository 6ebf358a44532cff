#pragma once

// The 68HC11 build ends the error range with texts of its own (see
// target_hc11.cpp): these numbers carry other texts in the 68HC12 build.

#include "core/messages.h"

namespace qorb::hc11::msg {

inline constexpr Msg InherentAddressingIllegal{2067};
inline constexpr Msg ImmediateAddressingIllegal{2068};
inline constexpr Msg InherentAddressingRequired{2069};
inline constexpr Msg BranchOutOfRange{2070};
inline constexpr Msg IndexRegisterExpected{2071}; // X or Y expected

} // namespace qorb::hc11::msg
