#pragma once

// Programs for the debugger tests: written to a fresh folder, assembled by
// the real assembler with -g, run by the real qorbsim for comparison.

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace qorb::debug::testing {

class TempFolder {
public:
    TempFolder() {
        std::random_device rd;
        path_ = std::filesystem::temp_directory_path() /
                ("qorbdebug-" + std::to_string(rd()) + std::to_string(rd()));
        std::filesystem::create_directories(path_);
    }
    ~TempFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }
    void Write(const std::string& name, const std::string& text) const {
        std::ofstream(path_ / name, std::ios::binary) << text;
    }

private:
    std::filesystem::path path_;
};

inline std::string Quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// Runs a command; its standard output (standard error joined) and status.
inline int Run(const std::string& command, std::string& output) {
    output.clear();
    FILE* p = popen((command + " 2>&1").c_str(), "r");
    if (!p) return -1;
    char buf[4096];
    std::size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) output.append(buf, n);
    const int status = pclose(p);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Writes `source` as `name` in `dir` and assembles it with -g; the object's
// path (name with .s19). Fails the test when the assembler does.
inline std::string Assemble(const TempFolder& dir, const std::string& name, const std::string& source,
                            bool hc11 = false) {
    dir.Write(name, source);
    const std::string object = std::filesystem::path(dir / name).replace_extension(".s19").string();
    std::string out;
    const int rc = Run(std::string(hc11 ? QORB11_PATH : QORB12_PATH) + " -nologo -g " + Quote(dir / name) +
                           " -Fo:" + Quote(object),
                       out);
    EXPECT_EQ(rc, 0) << out;
    return object;
}

} // namespace qorb::debug::testing
