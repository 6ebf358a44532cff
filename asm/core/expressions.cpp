// The expression evaluator: operators by precedence, numbers in every
// notation, symbols, local labels and the built-in functions.

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "impl.h"
#include "operators.h"

namespace qorb {

namespace {

using expr::Apply;
using expr::Op;
using expr::OpInfo;
using expr::PeekOperator;

constexpr unsigned kMaxExprDepth = 256;
// Longer expressions are parsed every time; the replay's stack is no deeper.
constexpr std::size_t kMaxCompiledSteps = 48;

// Digit values by character, 99 for a character that is no digit.
constexpr std::array<unsigned char, 256> MakeDigitValues() {
    std::array<unsigned char, 256> t{};
    for (auto& d : t) d = 99;
    for (int c = '0'; c <= '9'; ++c) t[c] = static_cast<unsigned char>(c - '0');
    for (int c = 'a'; c <= 'f'; ++c) t[c] = static_cast<unsigned char>(c - 'a' + 10);
    for (int c = 'A'; c <= 'F'; ++c) t[c] = static_cast<unsigned char>(c - 'A' + 10);
    return t;
}
constexpr std::array<unsigned char, 256> kDigitValues = MakeDigitValues();

class Evaluator {
public:
    Evaluator(Assembler& as, bool knownInPassOne)
        : as_(as), s_(as.Scan()), impl_(as.I()), knownInPassOne_(knownInPassOne),
          compat_(as.GetSettings().compat) {}

    bool Expression(ExprResult& r, int level) {
        if (++impl_.exprDepth > kMaxExprDepth) {
            --impl_.exprDepth;
            return as_.Report(Msg::ExpressionOutOfRange, {"(nested deeper than 256 levels)"});
        }
        bool ok = Binary(r, level);
        --impl_.exprDepth;
        return ok;
    }

    // Appends the steps of the expression parsed next to `ops`.
    void CompileInto(std::vector<ExprOp>* ops) {
        out_ = ops;
        base_ = ops->size();
    }
    bool Compilable() const { return compilable_ && out_ && out_->size() - base_ <= kMaxCompiledSteps; }

    // Evaluates a compiled expression: the same references in the same order
    // at the same places as parsing it would make.
    bool Replay(const ExprMemo& m, const ExprOp* ops, ExprResult& r) {
        if (m.IsNumber()) {
            r.value = m.Number();
            r.known = true;
            s_.SetPos(m.end);
            return true;
        }
        if (m.IsSymbol()) {
            ExprResult x;
            s_.SetPos(m.namePos);
            bool ok = impl_.ReferenceEntry(impl_.SymbolEntry(m.first), knownInPassOne_, x);
            s_.SetPos(m.end);
            if (!ok) return false;
            r.value = x.value;
            r.known = x.known;
            return true;
        }
        struct Value {
            std::int32_t value;
            bool known;
        };
        std::array<Value, kMaxCompiledSteps> stack;
        std::size_t top = 0;
        for (const ExprOp* op = ops; op != ops + m.count; ++op) {
            switch (op->kind) {
            case ExprOp::Kind::Number: stack[top++] = {op->value, true}; break;
            case ExprOp::Kind::Location:
                impl_.locationRead = true;
                stack[top++] = {static_cast<std::int32_t>(as_.Location()), true};
                break;
            case ExprOp::Kind::Symbol:
            case ExprOp::Kind::Local: {
                ExprResult x;
                s_.SetPos(op->pos);
                bool ok =
                    op->kind == ExprOp::Kind::Symbol
                        ? impl_.ReferenceEntry(impl_.SymbolEntry(op->symbol), knownInPassOne_, x)
                        : impl_.ReferenceLocal(static_cast<unsigned>(op->local.number), knownInPassOne_, x);
                s_.SetPos(op->end);
                if (!ok) return false;
                stack[top++] = {x.value, x.known};
                break;
            }
            case ExprOp::Kind::Unary: {
                Value& v = stack[top - 1];
                if (v.known) v.value = ApplyUnary(op->unary, v.value);
                break;
            }
            case ExprOp::Kind::Binary: {
                Value b = stack[--top];
                Value& a = stack[top - 1];
                if (a.known && b.known)
                    a.value = Apply(static_cast<Op>(op->op), a.value, b.value);
                else
                    a = {0, false};
                break;
            }
            }
        }
        r.value = stack[0].value;
        r.known = stack[0].known;
        s_.SetPos(m.end);
        return true;
    }

private:
    void Emit(const ExprOp& op) {
        if (!out_) return;
        // The vector's growth out of line: the callers (every number and
        // name) then keep to a few registers.
        if (out_->size() == out_->capacity())
            Grow(*out_, op);
        else
            out_->push_back(op);
    }
    [[gnu::noinline]] static void Grow(std::vector<ExprOp>& ops, const ExprOp& op) { ops.push_back(op); }
    static std::int32_t ApplyUnary(char c, std::int32_t value) {
        auto u = static_cast<std::uint32_t>(value);
        switch (c) {
        case '!': return value == 0 ? 1 : 0;
        case '-': return static_cast<std::int32_t>(0u - u);
        case '~': return static_cast<std::int32_t>(~u);
        default: return value;
        }
    }

    bool SkipInner() {
        if (compat_) return !s_.AtStatementEnd() && !chars::IsBlank(s_.Cur());
        return s_.SkipBlanks();
    }

    bool Binary(ExprResult& r, int level) {
        if (!Unary(r)) return false;
        for (;;) {
            std::size_t save = s_.Pos();
            if (!SkipInner()) {
                s_.SetPos(save);
                return true;
            }
            const OpInfo op = PeekOperator(s_);
            if (op.op == Op::None || op.level <= level) {
                s_.SetPos(save);
                return true;
            }
            s_.Advance(op.length);
            std::size_t rhsPos = s_.Pos();
            ExprResult rhs;
            if (!Expression(rhs, op.level)) return false;
            if ((op.op == Op::Div || op.op == Op::Mod) && rhs.known && rhs.value == 0) {
                s_.SetPos(rhsPos);
                SkipInner();
                return as_.Report(Msg::DivisionByZero);
            }
            // A division's divisor decides whether it is reported: parsed
            // every time.
            if (op.op == Op::Div || op.op == Op::Mod) compilable_ = false;
            ExprOp step;
            step.kind = ExprOp::Kind::Binary;
            step.op = static_cast<std::uint8_t>(op.op);
            Emit(step);
            if (r.known && rhs.known) {
                r.value = Apply(op.op, r.value, rhs.value);
            } else {
                r.known = false;
                r.value = 0;
            }
        }
    }

    bool Unary(ExprResult& r) {
        if (!compat_) s_.SkipBlanks();
        char c = s_.Cur();
        if (!s_.AtEnd() && (c == '!' || c == '+' || c == '-' || c == '~')) {
            s_.Advance();
            if (++impl_.exprDepth > kMaxExprDepth) {
                --impl_.exprDepth;
                return as_.Report(Msg::ExpressionOutOfRange, {"(nested deeper than 256 levels)"});
            }
            bool ok = Unary(r);
            --impl_.exprDepth;
            if (!ok) return false;
            if (r.known) r.value = ApplyUnary(c, r.value);
            ExprOp step;
            step.kind = ExprOp::Kind::Unary;
            step.unary = c;
            Emit(step);
            return true;
        }
        return Primary(r);
    }

    // Accumulates digits of `base` from the current position; false when none.
    bool Digits(unsigned base, std::uint32_t& v) {
        const char* line = s_.Line();
        const std::size_t length = s_.Length(), start = s_.Pos();
        std::size_t i = start;
        std::uint32_t x = 0;
        for (; i < length; ++i) {
            const unsigned d = kDigitValues[static_cast<unsigned char>(line[i])];
            if (d >= base) break;
            x = x * base + d;
        }
        s_.SetPos(i);
        v = x;
        return i != start;
    }

    bool FinishNumber(ExprResult& r, std::uint32_t v, std::size_t start) {
        char c = s_.Cur();
        if (!s_.AtEnd() && (chars::IsLetter(c) || chars::IsDigit(c))) {
            s_.SetPos(start);
            return as_.Report(Msg::BadNumber);
        }
        r.value = static_cast<std::int32_t>(v);
        r.known = true;
        EmitNumber(r.value);
        return true;
    }

    void EmitNumber(std::int32_t value) {
        ExprOp step;
        step.kind = ExprOp::Kind::Number;
        step.value = value;
        Emit(step);
    }
    void EmitReference(ExprOp::Kind kind, std::size_t start, std::size_t end, std::int32_t number,
                       std::uint32_t entry) {
        ExprOp step;
        step.kind = kind;
        step.pos = static_cast<std::uint16_t>(start);
        step.end = static_cast<std::uint16_t>(end);
        if (kind == ExprOp::Kind::Symbol)
            step.symbol = entry;
        else
            step.local = {number, 0};
        Emit(step);
    }

    std::size_t RunLength(bool (*accept)(char)) const {
        std::size_t n = 0;
        while (accept(s_.At(n))) ++n;
        return n;
    }

    bool DecimalForms(ExprResult& r) {
        std::size_t start = s_.Pos();
        std::uint32_t v = 0;
        if (s_.Cur() == '0' && (s_.At(1) == 'x' || s_.At(1) == 'X') && chars::IsHexDigit(s_.At(2))) {
            s_.Advance(2);
            Digits(16, v);
            return FinishNumber(r, v, start);
        }
        std::size_t hex = RunLength([](char c) { return chars::IsHexDigit(c); });
        if (s_.At(hex) == 'h' || s_.At(hex) == 'H') {
            Digits(16, v);
            s_.Advance();
            return FinishNumber(r, v, start);
        }
        std::size_t bin = RunLength([](char c) { return c == '0' || c == '1'; });
        if (bin > 0 && (s_.At(bin) == 'b' || s_.At(bin) == 'B')) {
            Digits(2, v);
            s_.Advance();
            return FinishNumber(r, v, start);
        }
        std::size_t oct = RunLength([](char c) { return c >= '0' && c <= '7'; });
        char os = s_.At(oct);
        if (oct > 0 && (os == 'q' || os == 'Q' || os == 'o' || os == 'O')) {
            Digits(8, v);
            s_.Advance();
            return FinishNumber(r, v, start);
        }
        Digits(10, v);
        if (s_.Cur() == '$' && !s_.AtEnd()) {
            // N$: a local label reference
            std::size_t digits = s_.Pos() - start;
            s_.Advance();
            if (digits > 3 || v > 255) {
                s_.SetPos(start);
                return as_.Report(Msg::BadSymbol);
            }
            std::size_t end = s_.Pos();
            s_.SetPos(start);
            bool ok = impl_.ReferenceLocal(v, knownInPassOne_, r);
            s_.SetPos(end);
            EmitReference(ExprOp::Kind::Local, start, end, static_cast<std::int32_t>(v), 0);
            return ok;
        }
        if (s_.Cur() == 'd' || s_.Cur() == 'D') s_.Advance();
        return FinishNumber(r, v, start);
    }

    bool ExpectClose() {
        if (!compat_) s_.SkipBlanks();
        if (!s_.Accept(')')) return as_.Report(Msg::Missing, {"')'"});
        return true;
    }

    bool Function(ExprResult& r, const std::string& name, std::size_t nameStart) {
        s_.Advance(); // '('
        if (name == "defined") {
            if (!compat_) s_.SkipBlanks();
            std::string sym;
            if (!as_.ReadIdentifier(sym)) return as_.Report(Msg::BadSymbol);
            impl_.TakeBackquote(sym);
            Symbol* p = as_.FindSymbol(sym);
            r.value = (p && p->DefinedInPass(as_.Pass())) ? 1 : 0;
        } else if (name == "low" || name == "high" || name == "page") {
            ExprResult arg;
            if (!Expression(arg, 0)) return false;
            int shift = name == "low" ? 0 : name == "high" ? 8 : 16;
            r.value = arg.known
                          ? static_cast<std::int32_t>((static_cast<std::uint32_t>(arg.value) >> shift) & 0xFF)
                          : 0;
        } else if (name == "__version") {
            r.value =
                kVersionMajor * 0x1000000 + kVersionMinor * 0x10000 + static_cast<std::int32_t>(kBuildNumber);
        } else if (name == "__pass") {
            r.value = static_cast<std::int32_t>(as_.Pass());
        } else {
            s_.SetPos(nameStart);
            return as_.Report(Msg::IllegalFunctionName, {name});
        }
        if (!ExpectClose()) return false;
        r.known = true;
        return true;
    }

    // A symbol that is neither a function's name nor a backquote label, read
    // in place: copied only when its letters must be folded. -1 when the
    // name is not plain (nothing read), else whether the reference went well.
    int PlainName(ExprResult& r, std::size_t start) {
        const char* line = s_.Line();
        const std::size_t length = s_.Length();
        unsigned char classes = chars::detail::ClassOf(line[start]);
        std::size_t end = start + 1;
        for (; end < length; ++end) {
            const unsigned char k = chars::detail::ClassOf(line[end]);
            if (!(k & chars::detail::kSymbolChar)) break;
            classes |= k;
        }
        if (end < length && (line[end] == '`' || line[end] == '(')) return -1;
        const std::size_t n = std::min(end - start, kMaxSymbolLength);
        std::string_view name(line + start, n);
        char folded[kMaxSymbolLength];
        if ((classes & chars::detail::kUpper) && !as_.GetSettings().caseSensitive) {
            for (std::size_t i = 0; i < n; ++i) folded[i] = chars::ToLower(line[start + i]);
            name = std::string_view(folded, n);
        }
        s_.SetPos(start);
        std::uint32_t entry = 0;
        const bool ok = impl_.ReferenceSymbol(name, knownInPassOne_, r, &entry);
        s_.SetPos(end);
        EmitReference(ExprOp::Kind::Symbol, start, end, 0, entry);
        return ok ? 1 : 0;
    }

    bool Primary(ExprResult& r) {
        r.known = false;
        r.value = 0;
        if (s_.AtStatementEnd()) return as_.Report(Msg::MissingExpression);
        std::size_t start = s_.Pos();
        char c = s_.Cur();
        std::uint32_t v = 0;
        if (c == '$' && chars::IsHexDigit(s_.At(1))) {
            s_.Advance();
            Digits(16, v);
            return FinishNumber(r, v, start);
        }
        if (c == '%' || c == '@') { // binary, octal
            s_.Advance();
            if (!Digits(c == '%' ? 2 : 8, v)) {
                s_.SetPos(start);
                return as_.Report(Msg::BadNumber);
            }
            return FinishNumber(r, v, start);
        }
        if (c == '\'') {
            s_.Advance();
            if (s_.AtEnd()) {
                s_.SetPos(start);
                return as_.Report(Msg::BadNumber);
            }
            char ch = s_.Cur();
            s_.Advance();
            if (ch == '\\' && !s_.AtEnd()) {
                char e = s_.Cur();
                s_.Advance();
                ch = EscapedChar(e);
            }
            s_.Accept('\'');
            r.value = static_cast<unsigned char>(ch);
            r.known = true;
            EmitNumber(r.value);
            return true;
        }
        if (c == '*' || c == '$') {
            s_.Advance();
            impl_.locationRead = true;
            r.value = static_cast<std::int32_t>(as_.Location());
            r.known = true;
            ExprOp step;
            step.kind = ExprOp::Kind::Location;
            Emit(step);
            return true;
        }
        if (c == '(') {
            s_.Advance();
            if (!Expression(r, 0)) return false;
            return ExpectClose();
        }
        if (chars::IsSymbolStart(c)) {
            if (const int plain = PlainName(r, start); plain >= 0) return plain != 0;
            std::string& name = impl_.ident2;
            as_.ReadIdentifier(name);
            impl_.TakeBackquote(name);
            if (s_.Cur() == '(' && !s_.AtEnd()) {
                compilable_ = false; // defined() and __pass differ between passes
                std::string fn = name;
                FoldLower(fn);
                return Function(r, fn, start);
            }
            const std::size_t end = s_.Pos();
            s_.SetPos(start);
            std::uint32_t entry = 0;
            bool ok = impl_.ReferenceSymbol(name, knownInPassOne_, r, &entry);
            if (name.back() == '`') compilable_ = false; // its entry depends on the `loc` scope
            s_.SetPos(end);
            EmitReference(ExprOp::Kind::Symbol, start, end, 0, entry);
            return ok;
        }
        if (chars::IsDigit(c)) return DecimalForms(r);
        return as_.Report(Msg::BadNumber);
    }

    Assembler& as_;
    Scanner& s_;
    Assembler::Impl& impl_;
    bool knownInPassOne_;
    bool compat_;
    std::vector<ExprOp>* out_ = nullptr;
    std::size_t base_ = 0;
    bool compilable_ = true;
};

} // namespace

bool Assembler::Evaluate(ExprResult& result, bool knownInPassOne) {
    result = ExprResult{};
    Evaluator ev(*this, knownInPassOne);
    Impl& im = *impl_;
    const std::size_t start = scan_.Pos();
    bool ok;
    // A value that must be known in pass one makes a reference's outcome
    // depend on the pass: such a line never settles.
    if (knownInPassOne) im.unsettled = true;
    if (const ExprMemo* m = im.KnownExpression(start)) {
        ok = ev.Replay(*m, m->HasSteps() ? im.exprOps.data() + m->first : nullptr, result);
    } else if (im.learning && scan_.Line() == im.lineText.data()) {
        const std::size_t first = im.exprOps.size();
        ev.CompileInto(&im.exprOps);
        ok = ev.Expression(result, 0);
        if (!(ok && ev.Compilable() && im.LearnExpression(start, scan_.Pos(), first))) {
            im.exprOps.resize(first);
            im.unsettled = true;
        }
    } else {
        ok = ev.Expression(result, 0);
        im.unsettled = true;
    }
    if (!ok) {
        result.known = false;
        result.value = 0;
        return false;
    }
    result.parsed = true;
    return true;
}

} // namespace qorb
