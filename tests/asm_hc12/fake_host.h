#pragma once

// The stand-in assembler (tests/asm/fake_host.h) around the 68HC12 encoder.

#include "asm/fake_host.h"
#include "hc12/encoder.h"
#include "hc12/opcodes.h"

namespace qorb::hc12::test {

using qorb::test::AsmLine;
using qorb::test::Check;
using qorb::test::Expect;
using qorb::test::Message;
using qorb::test::Messages;

class FakeHost final : public qorb::test::FakeHost {
public:
    FakeHost() : qorb::test::FakeHost(LookupOpcode, Assemble) {}
};

} // namespace qorb::hc12::test
