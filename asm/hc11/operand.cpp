#include "operand.h"

#include <cstring>

#include "messages.h"

namespace qorb::hc11 {
namespace {

// True when the scanner stands on the register letter `reg` written as a
// whole word ("x" but not "xa" or "x1").
bool AtRegister(const Scanner& s, char reg) {
    char c = s.Cur();
    if (c != reg && c != static_cast<char>(reg - 'a' + 'A')) return false;
    return !chars::IsSymbolChar(s.At(1));
}

unsigned IndexRegisterAt(const Scanner& s) {
    if (AtRegister(s, 'x')) return kModeIndexedX;
    if (AtRegister(s, 'y')) return kModeIndexedY;
    return 0;
}

// `X` or `Y` standing alone for offset 0. When an operator or an index
// register follows, the word is a symbol used as a value (`x+1,y`, `x,y`).
unsigned LoneIndexRegisterAt(Scanner& s) {
    unsigned reg = IndexRegisterAt(s);
    if (reg == 0) return 0;
    std::size_t here = s.Pos();
    s.Advance();
    char next = s.SkipBlanks() ? s.Cur() : '\0';
    bool alone = next == '\0' || std::strchr("+-*/%&|^=<>!", next) == nullptr;
    if (alone && s.Accept(',')) {
        s.SkipBlanks();
        alone = IndexRegisterAt(s) == 0;
    }
    s.SetPos(here);
    return alone ? reg : 0;
}

} // namespace

bool ParseOperand(EncoderHost& host, Operand& op) {
    Scanner& s = host.Scan();
    op = Operand{};
    if (!s.SkipBlanks()) {
        op.start = s.Pos();
        op.mode = kModeInherent;
        op.known = true;
        return true;
    }
    op.start = s.Pos();

    if (s.Accept('#')) {
        op.mode = kModeImmediate8;
        return host.EvaluateOperand(op.value, op.known);
    }

    bool leadingComma = false;
    if (s.Cur() == ',') {
        op.value = 0;
        op.known = true;
        leadingComma = true;
    } else if (unsigned reg = LoneIndexRegisterAt(s)) {
        s.Advance();
        op.mode = reg;
        op.value = 0;
        op.known = true;
        return true;
    } else {
        if (s.Accept('<')) {
            op.forceShort = true;
        } else if (s.Accept('>')) {
            op.forceLong = true;
        }
        if (!host.EvaluateOperand(op.value, op.known)) return false;
    }

    std::size_t afterExpression = s.Pos();
    s.SkipBlanks();
    std::size_t commaPos = s.Pos();
    if (s.Accept(',')) {
        s.SkipBlanks();
        if (unsigned reg = IndexRegisterAt(s)) {
            s.Advance();
            op.mode = reg;
            return true;
        }
        if (leadingComma) {
            return host.Report(msg::IndexRegisterExpected, {});
        }
        s.SetPos(commaPos);
    } else {
        s.SetPos(afterExpression);
    }

    if (op.forceLong || (op.known && (op.value < 0 || op.value > 255) && !op.forceShort)) {
        op.mode = kModeExtended;
    } else {
        op.mode = kModeDirect;
    }
    return true;
}

} // namespace qorb::hc11
