#pragma once

#include <cstddef>
#include <span>
#include <string_view>

#include "messages.h"
#include "table.h"

namespace qorb {

class Assembler;
class EncoderHost;

// Texts and behaviour that differ between the 68HC12 and the 68HC11 build.
struct TargetTexts {
    const char* programName;    // "qorb12"
    const char* environmentVar; // "QORB12"
    const char* bannerLine;     // first banner line, format with version, revision, build
    const char* listingHeader;  // listing header line, format: path, version, revision, build, date
    bool hasHcsOption;          // accepts -hcs (and the usage text lists it)
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

    // Looks up a mnemonic (case does not matter). Returns nullptr when the
    // name is not an instruction.
    virtual const OpcodeEntry* FindInstruction(std::string_view name) const = 0;
    // A row by its index in the instruction table, and the index of a row
    // FindInstruction gave: the line cache keeps the index.
    virtual const OpcodeEntry& Row(std::size_t index) const = 0;
    virtual std::size_t RowIndex(const OpcodeEntry& row) const = 0;

    // Assembles one instruction. The scanner stands right after the mnemonic.
    // Returns false after reporting an error (the line failed). On success the
    // scanner stands after the operand field; the core checks what is left.
    virtual bool AssembleInstruction(Assembler& as, const OpcodeEntry& row) const = 0;
};

// A target made of its texts, its instruction table, the operand classes it
// knows and its encoder.
class TableTarget final : public Target {
public:
    using ValidClassFn = bool (*)(int);
    using EncodeFn = bool (*)(EncoderHost&, const OpcodeEntry&);

    constexpr TableTarget(const TargetTexts& texts, std::span<const OpcodeEntry> table,
                          ValidClassFn validClass, EncodeFn encode)
        : texts_(texts), table_(table), validClass_(validClass), encode_(encode) {}

    const TargetTexts& Texts() const override { return texts_; }
    bool CheckTables(Assembler& as) const override;
    const OpcodeEntry* FindInstruction(std::string_view name) const override {
        return FindRow(table_, name, Folding::Lower);
    }
    const OpcodeEntry& Row(std::size_t index) const override { return table_[index]; }
    std::size_t RowIndex(const OpcodeEntry& row) const override {
        return static_cast<std::size_t>(&row - table_.data());
    }
    bool AssembleInstruction(Assembler& as, const OpcodeEntry& row) const override;

private:
    const TargetTexts& texts_;
    std::span<const OpcodeEntry> table_;
    ValidClassFn validClass_;
    EncodeFn encode_;
};

} // namespace qorb
