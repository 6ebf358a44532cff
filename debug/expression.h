#pragma once

// Watch expressions in the assembler's own syntax: the same numbers ($1F,
// %101, @17, 0x1F, 1Fh, 101b, 17q, 'c'), operators and precedence, low(),
// high(), page() and defined(), and `*` for the location (here: the PC).
// The assembler's evaluator lives inside its per-run state and cannot be
// called from outside, so this is a second small one over the line map's
// symbols; the assembler's expression tests pin the rules both follow.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace qorb::debug {

struct ExpressionContext {
    // A symbol's value, or nullopt when there is none of that name.
    std::function<std::optional<std::int32_t>(const std::string&)> symbol;
    std::uint16_t location = 0; // what * stands for
};

// The value, or nullopt with `error` saying what is wrong and where.
std::optional<std::int32_t> EvaluateExpression(const std::string& text, const ExpressionContext& context,
                                               std::string& error);

} // namespace qorb::debug
