#pragma once

// What an instruction encoder needs from the assembler for one line: the
// scanner over the line, the expression evaluator, the message reporter, the
// location counter, the line code buffer and the pass state. The real
// assembler provides it through AssemblerHost; the encoders' unit tests
// provide a small stand-in.

#include <cstdint>
#include <initializer_list>

#include "assembler.h"

namespace qorb {

class EncoderHost {
public:
    virtual ~EncoderHost() = default;
    virtual Scanner& Scan() = 0;
    virtual bool Evaluate(ExprResult& result, bool knownInPassOne) = 0;
    // Always returns false.
    virtual bool Report(Msg id, std::initializer_list<MsgArg> args) = 0;
    virtual std::uint32_t Location() const = 0;
    // The same address, for a distance that only the instruction's bytes
    // and the final pass's range checks depend on, never its size or the
    // messages of an ordinary pass: an ordinary pass may then take the
    // instruction's size from a pass where it stood elsewhere.
    virtual std::uint32_t InstructionStart() const { return Location(); }
    // Tells that neither the instruction's size nor the messages of an
    // ordinary pass depend on its operands' values (a branch): an ordinary
    // pass may take its size again although the symbols it names moved.
    virtual void SizeIgnoresValues() {}
    // An ordinary pass met a value its range checks (made in the final pass
    // only) would refuse: the line's bytes there are not the final ones.
    virtual void RangeUnchecked() {}
    virtual LineCode& Code() = 0;
    virtual bool FinalPass() const = 0;
    virtual bool Screwed() const = 0;
    virtual bool Hcs() const = 0;
    virtual bool Compat() const = 0;
    // After an error that `-mc` would have avoided: the note that says so.
    virtual void CompatModeNote() {}

    // Evaluates an operand's expression into its value and known mark.
    bool EvaluateOperand(std::int32_t& value, bool& known) {
        ExprResult r;
        if (!Evaluate(r, false)) return false;
        value = r.value;
        known = r.known;
        return true;
    }
};

class AssemblerHost final : public EncoderHost {
public:
    explicit AssemblerHost(Assembler& as) : as_(as) {}
    Scanner& Scan() override { return as_.Scan(); }
    bool Evaluate(ExprResult& result, bool knownInPassOne) override {
        return as_.Evaluate(result, knownInPassOne);
    }
    bool Report(Msg id, std::initializer_list<MsgArg> args) override { return as_.Report(id, args); }
    std::uint32_t Location() const override;
    std::uint32_t InstructionStart() const override;
    void SizeIgnoresValues() override;
    void RangeUnchecked() override;
    LineCode& Code() override { return as_.Code(); }
    bool FinalPass() const override { return as_.FinalPass(); }
    bool Screwed() const override { return as_.Screwed(); }
    bool Hcs() const override { return as_.GetSettings().hcs; }
    bool Compat() const override { return as_.GetSettings().compat; }
    void CompatModeNote() override;

private:
    Assembler& as_;
};

} // namespace qorb
