#pragma once

#include <cstddef>
#include <string_view>

#include "messages.h"

namespace qorb {

class Assembler;

// Texts and behaviour that differ between the 68HC12 and the 68HC11 build.
struct TargetTexts {
    const char* programName;    // "qorb12"
    const char* environmentVar; // "QORB12"
    const char* bannerLine;     // first banner line, format with version, revision, build
    const char* usageLines;     // full usage text, newline terminated lines
    const char* listingHeader;  // listing header line, format: path, version, revision, build, date
    bool hasHcsOption;          // accepts -hcs
    const MessageOverride* messageOverrides;
    std::size_t messageOverrideCount;
};

// One instruction set. The core finds the mnemonic of a line and hands the
// row to the target, which parses the operands (with the assembler's scanner
// and expression evaluator) and places the bytes into the line code buffer.
class Target {
public:
    virtual ~Target() = default;

    virtual const TargetTexts& Texts() const = 0;

    // Checks the instruction table once per run (order, classes). Reports
    // the fatal error itself and returns false when the table is unusable.
    virtual bool CheckTables(Assembler& as) const = 0;

    // Looks up a mnemonic already folded to lower case. Returns an opaque row
    // handle, or nullptr when the name is not an instruction.
    virtual const void* FindInstruction(std::string_view lowerName) const = 0;

    // Assembles one instruction. The scanner stands right after the mnemonic.
    // Returns false after reporting an error (the line failed). On success the
    // scanner stands after the operand field; the core checks what is left.
    virtual bool AssembleInstruction(Assembler& as, const void* row) const = 0;
};

// A target made of its texts and the three functions of its instruction set.
class TableTarget final : public Target {
public:
    using CheckFn = bool (*)(Assembler&);
    using FindFn = const void* (*)(std::string_view);
    using AssembleFn = bool (*)(Assembler&, const void*);

    constexpr TableTarget(const TargetTexts& texts, CheckFn check, FindFn find, AssembleFn assemble)
        : texts_(texts), check_(check), find_(find), assemble_(assemble) {}

    const TargetTexts& Texts() const override { return texts_; }
    bool CheckTables(Assembler& as) const override { return check_(as); }
    const void* FindInstruction(std::string_view name) const override { return find_(name); }
    bool AssembleInstruction(Assembler& as, const void* row) const override { return assemble_(as, row); }

private:
    const TargetTexts& texts_;
    CheckFn check_;
    FindFn find_;
    AssembleFn assemble_;
};

} // namespace qorb
