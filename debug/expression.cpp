#include "expression.h"

#include "operators.h"
#include "scanner.h"

namespace qorb::debug {

namespace {

constexpr unsigned kMaxDepth = 256;

using expr::Apply;
using expr::Op;
using expr::OpInfo;
using expr::PeekOperator;

int DigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return 99;
}

class Parser {
public:
    Parser(const std::string& text, const ExpressionContext& context, std::string& error)
        : context_(context), error_(error) {
        s_.Set(text.data(), text.size());
    }

    std::optional<std::int32_t> Run() {
        std::int32_t v = 0;
        if (!Expression(v, 0)) return std::nullopt;
        s_.SkipBlanks();
        if (!s_.AtEnd()) {
            Fail("unexpected '" + std::string(s_.Rest()) + "'");
            return std::nullopt;
        }
        return v;
    }

private:
    bool Fail(const std::string& what) {
        if (error_.empty()) error_ = what + " at column " + std::to_string(s_.Pos() + 1);
        return false;
    }

    bool Expression(std::int32_t& r, int level) {
        if (++depth_ > kMaxDepth) return Fail("expression nested deeper than 256 levels");
        const bool ok = Binary(r, level);
        --depth_;
        return ok;
    }

    bool Binary(std::int32_t& r, int level) {
        if (!Unary(r)) return false;
        for (;;) {
            const std::size_t save = s_.Pos();
            s_.SkipBlanks();
            const OpInfo op = PeekOperator(s_);
            if (op.op == Op::None || op.level <= level) {
                s_.SetPos(save);
                return true;
            }
            s_.Advance(static_cast<std::size_t>(op.length));
            std::int32_t rhs = 0;
            if (!Expression(rhs, op.level)) return false;
            if ((op.op == Op::Div || op.op == Op::Mod) && rhs == 0) return Fail("division by zero");
            r = Apply(op.op, r, rhs);
        }
    }

    bool Unary(std::int32_t& r) {
        s_.SkipBlanks();
        const char c = s_.Cur();
        if (!s_.AtEnd() && (c == '!' || c == '+' || c == '-' || c == '~')) {
            s_.Advance();
            if (++depth_ > kMaxDepth) return Fail("expression nested deeper than 256 levels");
            const bool ok = Unary(r);
            --depth_;
            if (!ok) return false;
            const auto u = static_cast<std::uint32_t>(r);
            if (c == '!')
                r = r == 0 ? 1 : 0;
            else if (c == '-')
                r = static_cast<std::int32_t>(0u - u);
            else if (c == '~')
                r = static_cast<std::int32_t>(~u);
            return true;
        }
        return Primary(r);
    }

    bool Digits(unsigned base, std::uint32_t& v) {
        v = 0;
        bool any = false;
        while (!s_.AtEnd() && DigitValue(s_.Cur()) < static_cast<int>(base)) {
            v = v * base + static_cast<std::uint32_t>(DigitValue(s_.Cur()));
            s_.Advance();
            any = true;
        }
        return any;
    }

    bool Finish(std::int32_t& r, std::uint32_t v, std::size_t start) {
        if (!s_.AtEnd() && (chars::IsLetter(s_.Cur()) || chars::IsDigit(s_.Cur()))) {
            s_.SetPos(start);
            return Fail("bad number");
        }
        r = static_cast<std::int32_t>(v);
        return true;
    }

    std::size_t RunLength(bool (*accept)(char)) const {
        std::size_t n = 0;
        while (accept(s_.At(n))) ++n;
        return n;
    }

    bool DecimalForms(std::int32_t& r) {
        const std::size_t start = s_.Pos();
        std::uint32_t v = 0;
        if (s_.Cur() == '0' && (s_.At(1) == 'x' || s_.At(1) == 'X') && chars::IsHexDigit(s_.At(2))) {
            s_.Advance(2);
            Digits(16, v);
            return Finish(r, v, start);
        }
        const std::size_t hex = RunLength([](char c) { return chars::IsHexDigit(c); });
        if (s_.At(hex) == 'h' || s_.At(hex) == 'H') {
            Digits(16, v);
            s_.Advance();
            return Finish(r, v, start);
        }
        const std::size_t bin = RunLength([](char c) { return c == '0' || c == '1'; });
        if (bin > 0 && (s_.At(bin) == 'b' || s_.At(bin) == 'B')) {
            Digits(2, v);
            s_.Advance();
            return Finish(r, v, start);
        }
        const std::size_t oct = RunLength([](char c) { return c >= '0' && c <= '7'; });
        const char os = s_.At(oct);
        if (oct > 0 && (os == 'q' || os == 'Q' || os == 'o' || os == 'O')) {
            Digits(8, v);
            s_.Advance();
            return Finish(r, v, start);
        }
        Digits(10, v);
        if (s_.Cur() == '$' && !s_.AtEnd()) {
            s_.SetPos(start);
            return Fail("local labels (N$) belong to one part of the source and cannot be watched");
        }
        if (s_.Cur() == 'd' || s_.Cur() == 'D') s_.Advance();
        return Finish(r, v, start);
    }

    bool ExpectClose() {
        s_.SkipBlanks();
        if (!s_.Accept(')')) return Fail("missing ')'");
        return true;
    }

    bool ReadName(std::string& name) {
        name.clear();
        if (s_.AtEnd() || !chars::IsSymbolStart(s_.Cur())) return false;
        while (!s_.AtEnd() && chars::IsSymbolChar(s_.Cur())) {
            name += s_.Cur();
            s_.Advance();
        }
        return true;
    }

    bool Function(std::int32_t& r, const std::string& name, std::size_t start) {
        s_.Advance(); // '('
        std::string lower;
        for (const char c : name) lower += chars::ToLower(c);
        if (lower == "defined") {
            s_.SkipBlanks();
            std::string sym;
            if (!ReadName(sym)) return Fail("defined() needs a symbol name");
            r = context_.symbol && context_.symbol(sym) ? 1 : 0;
        } else if (lower == "low" || lower == "high" || lower == "page") {
            std::int32_t arg = 0;
            if (!Expression(arg, 0)) return false;
            const int shift = lower == "low" ? 0 : lower == "high" ? 8 : 16;
            r = static_cast<std::int32_t>((static_cast<std::uint32_t>(arg) >> shift) & 0xFF);
        } else {
            s_.SetPos(start);
            return Fail("unknown function '" + name + "'");
        }
        return ExpectClose();
    }

    bool Primary(std::int32_t& r) {
        r = 0;
        s_.SkipBlanks();
        if (s_.AtEnd()) return Fail("missing expression");
        const std::size_t start = s_.Pos();
        const char c = s_.Cur();
        std::uint32_t v = 0;
        if (c == '$' && chars::IsHexDigit(s_.At(1))) {
            s_.Advance();
            Digits(16, v);
            return Finish(r, v, start);
        }
        if (c == '%' || c == '@') {
            s_.Advance();
            if (!Digits(c == '%' ? 2 : 8, v)) {
                s_.SetPos(start);
                return Fail("bad number");
            }
            return Finish(r, v, start);
        }
        if (c == '\'') {
            s_.Advance();
            if (s_.AtEnd()) return Fail("bad character constant");
            char ch = s_.Cur();
            s_.Advance();
            if (ch == '\\' && !s_.AtEnd()) {
                const char e = s_.Cur();
                s_.Advance();
                ch = EscapedChar(e);
            }
            s_.Accept('\'');
            r = static_cast<unsigned char>(ch);
            return true;
        }
        if (c == '*' || c == '$') {
            s_.Advance();
            r = context_.location;
            return true;
        }
        if (c == '(') {
            s_.Advance();
            if (!Expression(r, 0)) return false;
            return ExpectClose();
        }
        if (chars::IsSymbolStart(c)) {
            std::string name;
            ReadName(name);
            if (!s_.AtEnd() && s_.Cur() == '(') return Function(r, name, start);
            const auto value = context_.symbol ? context_.symbol(name) : std::nullopt;
            if (!value) {
                s_.SetPos(start);
                return Fail("unknown symbol '" + name + "'");
            }
            r = *value;
            return true;
        }
        if (chars::IsDigit(c)) return DecimalForms(r);
        return Fail("bad number");
    }

    const ExpressionContext& context_;
    std::string& error_;
    Scanner s_;
    unsigned depth_ = 0;
};

} // namespace

std::optional<std::int32_t> EvaluateExpression(const std::string& text, const ExpressionContext& context,
                                               std::string& error) {
    error.clear();
    Parser p(text, context, error);
    return p.Run();
}

} // namespace qorb::debug
