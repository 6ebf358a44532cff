#include "config.h"

#include <fstream>
#include <sstream>

#include "text.h"

namespace qorbls {

namespace {

std::string Trim(const std::string& s) {
    std::size_t b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos) return {};
    std::size_t e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
}

// A TOML basic or literal string at `i`; false when there is none.
bool ReadString(const std::string& s, std::size_t& i, std::string& out) {
    if (i >= s.size() || (s[i] != '"' && s[i] != '\'')) return false;
    char q = s[i++];
    out.clear();
    while (i < s.size() && s[i] != q) {
        if (q == '"' && s[i] == '\\' && i + 1 < s.size()) {
            char n = s[i + 1];
            out += n == 'n' ? '\n' : n == 't' ? '\t' : n;
            i += 2;
            continue;
        }
        out += s[i++];
    }
    if (i >= s.size()) return false;
    ++i;
    return true;
}

void SkipBlanks(const std::string& s, std::size_t& i) {
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
}

// A string or an array of strings (on one line).
bool ReadValue(const std::string& s, std::size_t i, std::vector<std::string>& out, bool& isArray) {
    SkipBlanks(s, i);
    out.clear();
    std::string one;
    if (i < s.size() && s[i] == '[') {
        isArray = true;
        ++i;
        for (;;) {
            SkipBlanks(s, i);
            if (i < s.size() && s[i] == ']') return true;
            if (!ReadString(s, i, one)) return false;
            out.push_back(one);
            SkipBlanks(s, i);
            if (i < s.size() && s[i] == ',') ++i;
        }
    }
    isArray = false;
    if (ReadString(s, i, one)) {
        out.push_back(one);
        return true;
    }
    // A bare word (cpu = hc12) is taken too.
    std::string word =
        Trim(s.substr(i, s.find('#', i) == std::string::npos ? std::string::npos : s.find('#', i) - i));
    if (word.empty()) return false;
    out.push_back(word);
    return true;
}

} // namespace

Config ParseConfig(const std::string& text, const std::string& root) {
    Config c;
    std::istringstream in(text);
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        std::string t = Trim(line);
        if (t.empty() || t[0] == '#' || t[0] == '[') continue;
        std::size_t eq = t.find('=');
        if (eq == std::string::npos) {
            c.problems.push_back("line " + std::to_string(number) + ": expected key = value");
            continue;
        }
        std::string key = Trim(t.substr(0, eq));
        std::vector<std::string> values;
        bool isArray = false;
        if (!ReadValue(t, eq + 1, values, isArray)) {
            c.problems.push_back("line " + std::to_string(number) + ": unreadable value of '" + key + "'");
            continue;
        }
        if (key == "cpu") {
            std::string cpu = values.empty() ? std::string() : LowerAscii(values[0]);
            if (cpu == "hc12" || cpu == "hcs12" || cpu == "hc11")
                c.cpu = cpu;
            else
                c.problems.push_back("line " + std::to_string(number) + ": cpu must be hc12, hcs12 or hc11");
        } else if (key == "include") {
            for (const std::string& d : values) c.include.push_back(NormalPath(d, root));
        } else if (key == "main") {
            if (!values.empty() && !values[0].empty()) c.main = NormalPath(values[0], root);
        } else if (key == "options") {
            // "-case -mc" as one string is split into words.
            for (const std::string& v : values) {
                std::istringstream words(v);
                std::string w;
                while (words >> w) c.options.push_back(w);
            }
        } else {
            c.problems.push_back("line " + std::to_string(number) + ": unknown key '" + key + "'");
        }
    }
    return c;
}

Config LoadConfig(const std::string& root) {
    for (const char* name : {"qorb.toml", ".qorb.toml"}) {
        std::string path = root + "/" + name;
        std::ifstream f(path, std::ios::binary);
        if (!f) continue;
        std::stringstream ss;
        ss << f.rdbuf();
        Config c = ParseConfig(ss.str(), root);
        c.file = path;
        return c;
    }
    return Config{};
}

} // namespace qorbls
