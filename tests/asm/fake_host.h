#pragma once

// A stand-in for the assembler around a target's instruction encoder: one
// line at a time, a small expression reader (numbers, symbols, `*`, + and -)
// and recorded messages, so the encoders can be checked without a source file.

#include <cctype>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "core/encoder_host.h"
#include "core/messages.h"
#include "core/table.h"

namespace qorb::test {

struct Message {
    int number;
    std::string text; // formatted arguments, joined by '|'
    std::size_t column;
};

class FakeHost : public EncoderHost {
public:
    using LookupFn = const OpcodeEntry* (*)(std::string_view);
    using EncodeFn = bool (*)(EncoderHost&, const OpcodeEntry&);

    // The target's table lookup and encoder.
    FakeHost(LookupFn lookup, EncodeFn encode) : lookup_(lookup), encode_(encode) {}

    std::uint32_t location = 0x1000;
    bool finalPass = true;
    bool screwed = false;
    bool hcs = false;
    bool compat = false;
    std::map<std::string, std::int32_t> symbols; // known symbols
    std::vector<Message> messages;

    Scanner& Scan() override { return scan_; }
    LineCode& Code() override { return code_; }
    std::uint32_t Location() const override { return location; }
    bool FinalPass() const override { return finalPass; }
    bool Screwed() const override { return screwed; }
    bool Hcs() const override { return hcs; }
    bool Compat() const override { return compat; }

    bool Report(Msg id, std::initializer_list<MsgArg> args) override {
        std::string text;
        for (const MsgArg& a : args) {
            if (!text.empty()) text += '|';
            text += a.kind == MsgArg::Kind::Text ? std::string(a.text) : std::to_string(a.number);
        }
        messages.push_back({static_cast<int>(id), text, scan_.Pos()});
        return false;
    }

    bool Evaluate(ExprResult& r, bool) override {
        r = ExprResult{};
        bool known = true;
        std::int64_t sum = 0;
        int sign = 1;
        for (;;) {
            Blanks();
            int s = 1;
            while (scan_.Cur() == '-' || scan_.Cur() == '+') {
                if (scan_.Cur() == '-') s = -s;
                scan_.Advance();
            }
            std::int64_t v = 0;
            if (!Primary(v, known)) return false;
            sum += sign * s * v;
            const std::size_t here = scan_.Pos();
            Blanks();
            if (scan_.Cur() == '+' || scan_.Cur() == '-') {
                sign = scan_.Cur() == '-' ? -1 : 1;
                scan_.Advance();
                continue;
            }
            scan_.SetPos(here);
            break;
        }
        r.parsed = true;
        r.known = known;
        r.value = known ? static_cast<std::int32_t>(static_cast<std::uint32_t>(sum)) : 0;
        return true;
    }

    // Assembles one line (the text after the mnemonic) with the given
    // mnemonic. Returns the handler's result; bytes are in Code().
    bool Line(const std::string& mnemonic, const std::string& operands) {
        text_ = operands;
        scan_.Set(text_.c_str(), text_.size());
        code_.Clear(location);
        messages.clear();
        const OpcodeEntry* row = lookup_(mnemonic);
        if (!row) {
            messages.push_back({2027, mnemonic, 0});
            return false;
        }
        return encode_(*this, *row);
    }

    std::string Hex() const {
        static const char* digits = "0123456789ABCDEF";
        std::string out;
        for (std::size_t i = 0; i < code_.count; ++i) {
            if (i) out += ' ';
            out += digits[code_.bytes[i] >> 4];
            out += digits[code_.bytes[i] & 15];
        }
        return out;
    }

private:
    void Blanks() {
        while (scan_.Cur() == ' ' || scan_.Cur() == '\t') scan_.Advance();
    }
    static int Digit(char c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return 99;
    }
    bool Primary(std::int64_t& v, bool& known) {
        char c = scan_.Cur();
        if (scan_.AtStatementEnd()) return Report(Msg::MissingExpression, {});
        if (c == '*') {
            scan_.Advance();
            v = location;
            return true;
        }
        int base = 10;
        if (c == '0' && (scan_.At(1) == 'x' || scan_.At(1) == 'X')) {
            base = 16;
            scan_.Advance();
            scan_.Advance();
        } else if (c == '$') {
            base = 16;
            scan_.Advance();
        } else if (c == '%') {
            base = 2;
            scan_.Advance();
        }
        if (Digit(scan_.Cur()) < base) {
            v = 0;
            while (Digit(scan_.Cur()) < base) {
                v = v * base + Digit(scan_.Cur());
                scan_.Advance();
            }
            return true;
        }
        std::string name;
        while (std::isalnum(static_cast<unsigned char>(scan_.Cur())) || scan_.Cur() == '_') {
            name += static_cast<char>(std::tolower(static_cast<unsigned char>(scan_.Cur())));
            scan_.Advance();
        }
        if (name.empty()) return Report(Msg::BadNumber, {});
        auto it = symbols.find(name);
        if (it == symbols.end()) {
            known = false;
            v = 0;
        } else {
            v = it->second;
        }
        return true;
    }

    LookupFn lookup_;
    EncodeFn encode_;
    std::string text_;
    Scanner scan_;
    LineCode code_;
};

// Checking lines against their expectations (GoogleTest).

// One line and what it must give.
struct Expect {
    const char* line;     // mnemonic and operands
    const char* bytes;    // expected bytes ("" for none)
    int cycles;           // expected cycle count (-1: not set)
    const char* messages; // "A2077([-8..-1, 1..8])" joined by blanks; "" for none
};

inline std::string Messages(const FakeHost& h) {
    std::string out;
    for (const Message& m : h.messages) {
        if (!out.empty()) out += ' ';
        out += "A" + std::to_string(m.number);
        if (!m.text.empty()) out += "(" + m.text + ")";
    }
    return out;
}

inline bool AsmLine(FakeHost& h, const std::string& line) {
    const auto sp = line.find(' ');
    return h.Line(line.substr(0, sp), sp == std::string::npos ? "" : line.substr(sp));
}

inline void Check(FakeHost& h, const std::vector<Expect>& cases) {
    for (const Expect& c : cases) {
        SCOPED_TRACE(c.line);
        AsmLine(h, c.line);
        EXPECT_EQ(h.Hex(), c.bytes);
        EXPECT_EQ(Messages(h), c.messages);
        EXPECT_EQ(h.Code().cycles, c.cycles);
    }
}

} // namespace qorb::test
