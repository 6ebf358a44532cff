#include "harness.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "cli/qorbsim.h"

namespace qorb::sim::fuzz {

namespace {

// One scratch directory per process, removed at exit.
struct Scratch {
    std::filesystem::path dir;
    Scratch() {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/qorbsim-fuzz-XXXXXX";
        std::vector<char> buf(pattern.begin(), pattern.end());
        buf.push_back('\0');
        if (!::mkdtemp(buf.data())) std::abort();
        dir = buf.data();
    }
    ~Scratch() {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
};

Scratch& GetScratch() {
    static Scratch scratch;
    return scratch;
}

} // namespace

int RunInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::uint8_t flags = data[0];
    const std::string rest(reinterpret_cast<const char*>(data) + 1, size - 1);
    const std::size_t nul = rest.find('\0');
    const std::string words = nul == std::string::npos ? std::string() : rest.substr(0, nul);
    const std::string file = nul == std::string::npos ? rest : rest.substr(nul + 1);

    const std::filesystem::path path = GetScratch().dir / "input.s19";
    if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(file.data(), 1, file.size(), f);
        std::fclose(f);
    }
    std::vector<std::string> args = {"qorbsim", (flags & 1) ? "-m68hc11" : "-m68hc12"};
    if (flags & 2) args.push_back("-hcs");
    if (flags & 4) args.push_back("--trace");
    if (flags & 8) args.push_back("--regs");
    if (flags & 16) args.push_back("--dump=0:65536");
    std::istringstream lines(words);
    for (std::string w; std::getline(lines, w) && args.size() < 64;) args.push_back(w);
    args.push_back(path.string());
    args.push_back("--max-cycles=200000");
    std::vector<const char*> argv;
    for (const std::string& a : args) argv.push_back(a.c_str());
    std::ostringstream out, err;
    return QorbsimMain(static_cast<int>(argv.size()), argv.data(), out, err);
}

} // namespace qorb::sim::fuzz
