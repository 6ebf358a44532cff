#include "cmdline.h"

namespace zkspawn {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

} // namespace

std::vector<std::string> SplitWindowsCommandLine(std::string_view line) {
    std::vector<std::string> args;
    size_t i = 0;
    const size_t n = line.size();
    while (i < n && IsBlank(line[i])) ++i;
    if (i == n) return args;

    // Program name: quotes toggle, backslashes are plain characters (a path
    // such as "C:\Program Files\x.exe" must survive as written).
    {
        std::string name;
        bool quoted = false;
        while (i < n && (quoted || !IsBlank(line[i]))) {
            if (line[i] == '"')
                quoted = !quoted;
            else
                name += line[i];
            ++i;
        }
        args.push_back(std::move(name));
    }

    for (;;) {
        while (i < n && IsBlank(line[i])) ++i;
        if (i == n) break;
        std::string arg;
        bool quoted = false;
        for (;;) {
            size_t slashes = 0;
            while (i < n && line[i] == '\\') {
                ++slashes;
                ++i;
            }
            bool copy = true;
            if (i < n && line[i] == '"') {
                if (slashes % 2 == 0) {
                    if (quoted && i + 1 < n && line[i + 1] == '"') {
                        ++i; // "" inside quotes: one literal quote, still quoted
                    } else {
                        copy = false;
                        quoted = !quoted;
                    }
                }
                slashes /= 2;
            }
            arg.append(slashes, '\\');
            if (i == n || (!quoted && IsBlank(line[i]))) break;
            if (copy) arg += line[i];
            ++i;
        }
        args.push_back(std::move(arg));
    }
    return args;
}

} // namespace zkspawn
