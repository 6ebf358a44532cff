// The expression operators: their spellings, binding levels and 32-bit
// arithmetic. The assembler's evaluator and the debugger's watch evaluator
// both read expressions in this syntax and must agree on every value.
#pragma once

#include <cstdint>

#include "scanner.h"

namespace qorb::expr {

enum class Op {
    None,
    LogOr,
    LogAnd,
    Or,
    Xor,
    And,
    Eq,
    Ne,
    Lt,
    Le,
    Gt,
    Ge,
    Shl,
    Shr,
    Add,
    Sub,
    Mul,
    Div,
    Mod
};

struct OpInfo {
    Op op;
    int level;
    int length;
};

inline OpInfo PeekOperator(const Scanner& s) {
    if (s.AtEnd()) return {Op::None, 0, 0};
    // The character after is read only for the operators that may have two:
    // most operands end at a comma or a blank.
    const auto next = [&s] { return s.At(1); };
    switch (s.Cur()) {
    case '|': return next() == '|' ? OpInfo{Op::LogOr, 10, 2} : OpInfo{Op::Or, 20, 1};
    case '&': return next() == '&' ? OpInfo{Op::LogAnd, 15, 2} : OpInfo{Op::And, 30, 1};
    case '^': return {Op::Xor, 25, 1};
    case '!':
        switch (next()) {
        case '+': return {Op::Or, 20, 2};
        case 'x':
        case 'X': return {Op::Xor, 25, 2};
        case '.': return {Op::And, 30, 2};
        case '=': return {Op::Ne, 35, 2};
        case '<': return {Op::Shl, 45, 2};
        case '>': return {Op::Shr, 45, 2};
        default: return {Op::None, 0, 0};
        }
    case '=': return next() == '=' ? OpInfo{Op::Eq, 35, 2} : OpInfo{Op::Eq, 35, 1};
    case '<':
        switch (next()) {
        case '<': return {Op::Shl, 45, 2};
        case '=': return {Op::Le, 40, 2};
        case '>': return {Op::Ne, 35, 2};
        default: return {Op::Lt, 40, 1};
        }
    case '>':
        switch (next()) {
        case '>': return {Op::Shr, 45, 2};
        case '=': return {Op::Ge, 40, 2};
        default: return {Op::Gt, 40, 1};
        }
    case '+': return {Op::Add, 50, 1};
    case '-': return {Op::Sub, 50, 1};
    case '*': return {Op::Mul, 60, 1};
    case '/': return {Op::Div, 60, 1};
    case '%': return {Op::Mod, 60, 1};
    default: return {Op::None, 0, 0};
    }
}

inline std::int32_t Apply(Op op, std::int32_t a, std::int32_t b) {
    auto ua = static_cast<std::uint32_t>(a), ub = static_cast<std::uint32_t>(b);
    switch (op) {
    case Op::LogOr: return (a != 0 || b != 0) ? 1 : 0;
    case Op::LogAnd: return (a != 0 && b != 0) ? 1 : 0;
    case Op::Or: return static_cast<std::int32_t>(ua | ub);
    case Op::Xor: return static_cast<std::int32_t>(ua ^ ub);
    case Op::And: return static_cast<std::int32_t>(ua & ub);
    case Op::Eq: return a == b;
    case Op::Ne: return a != b;
    case Op::Lt: return a < b;
    case Op::Le: return a <= b;
    case Op::Gt: return a > b;
    case Op::Ge: return a >= b;
    case Op::Shl: return static_cast<std::int32_t>(ua << (ub & 31));
    case Op::Shr: return a >> (ub & 31);
    case Op::Add: return static_cast<std::int32_t>(ua + ub);
    case Op::Sub: return static_cast<std::int32_t>(ua - ub);
    case Op::Mul: return static_cast<std::int32_t>(ua * ub);
    case Op::Div:
        if (b == -1) return static_cast<std::int32_t>(0u - ua); // INT_MIN / -1 wraps
        return a / b;
    case Op::Mod:
        if (b == -1) return 0;
        return a % b;
    case Op::None: break;
    }
    return 0;
}

} // namespace qorb::expr
