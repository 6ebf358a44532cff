#include "commandline.h"

#include <strings.h>

namespace ulmarro {
namespace {

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= ' '; }

std::uint64_t ParseNumber(const std::string& s, std::size_t& i) {
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
    bool negative = false;
    if (i < s.size() && s[i] == '-') {
        negative = true;
        ++i;
    }
    std::uint64_t value = 0;
    if (i + 1 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
        i += 2;
        for (; i < s.size(); ++i) {
            char c = s[i];
            unsigned digit;
            if (c >= '0' && c <= '9')
                digit = static_cast<unsigned>(c - '0');
            else if (c >= 'a' && c <= 'f')
                digit = static_cast<unsigned>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                digit = static_cast<unsigned>(c - 'A' + 10);
            else
                break;
            value = value * 16 + digit; // wraps like the 64-bit value it is
        }
    } else {
        for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i)
            value = value * 10 + static_cast<unsigned>(s[i] - '0');
    }
    return negative ? ~value + 1 : value;
}

std::string ParseToken(const std::string& s, std::size_t& i) {
    while (i < s.size() && IsBlank(s[i])) ++i;
    std::size_t start = i;
    while (i < s.size() && !IsBlank(s[i])) ++i;
    return s.substr(start, i - start);
}

} // namespace

CommandLine ParseCommandLine(const std::string& raw) {
    CommandLine result;
    std::size_t i = 0;
    if (i < raw.size() && raw[i] == '"') {
        std::size_t close = raw.find('"', 1);
        i = close == std::string::npos ? raw.size() : close + 1;
    } else {
        while (i < raw.size() && static_cast<unsigned char>(raw[i]) >= '!') ++i;
    }
    while (i < raw.size()) {
        char c = raw[i++];
        if (c != '-' && c != '/') continue;
        if (i >= raw.size()) break;
        char option = raw[i++];
        switch (option) {
        case 't': result.threadId = ParseNumber(raw, i); break;
        case 'e': result.exceptionAddress = ParseNumber(raw, i); break;
        case 'i': result.applicationId = ParseToken(raw, i); break;
        case 'm': result.message = ParseToken(raw, i); break;
        default: break;
        }
    }
    return result;
}

std::string JoinArguments(int argc, char** argv) {
    std::string raw;
    for (int i = 0; i < argc; ++i) {
        if (i > 0) raw += ' ';
        std::string word = argv[i] ? argv[i] : "";
        // The program name is quoted so that blanks in it do not start options.
        if (i == 0)
            raw += '"' + word + '"';
        else
            raw += word;
    }
    return raw;
}

Registration FindRegistrationSwitch(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (a == nullptr || (a[0] != '-' && a[0] != '/')) continue;
        if (strcasecmp(a + 1, "RegServer") == 0) return Registration::Register;
        if (strcasecmp(a + 1, "UnregServer") == 0) return Registration::Unregister;
    }
    return Registration::None;
}

} // namespace ulmarro
