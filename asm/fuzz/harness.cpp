#include "harness.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

#include "core/driver.h"
#include "hc12/target_hc12.h"

namespace qorb::fuzz {

namespace {

void WriteFile(const std::filesystem::path& p, const std::string& text) {
    if (std::FILE* f = std::fopen(p.c_str(), "wb")) {
        std::fwrite(text.data(), 1, text.size(), f);
        std::fclose(f);
    }
}

// One scratch directory per process, removed at exit. The include files give
// the fuzzer something to find: plain definitions, a nested include through
// a subdirectory, a macro and a conditional.
struct Scratch {
    std::filesystem::path dir;
    std::string home;

    Scratch() {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/qorb-fuzz-XXXXXX";
        std::vector<char> buf(pattern.begin(), pattern.end());
        buf.push_back('\0');
        if (!::mkdtemp(buf.data())) std::abort();
        dir = buf.data();
        std::filesystem::create_directories(dir / "sub");
        WriteFile(dir / "defs.inc", "PORTA equ $0000\nDDRA equ $0002\nstore macro\n staa \\1\n endm\n");
        WriteFile(dir / "sub" / "nest.inc", " include \"deeper.inc\"\nnested dc.b 1,2\n");
        WriteFile(dir / "sub" / "deeper.inc", " ifndef DEEP\nDEEP equ 1\n endif\n");
        char cwd[PATH_MAX];
        home = ::getcwd(cwd, sizeof cwd) ? cwd : "/";
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

int AssembleInput(const std::uint8_t* data, std::size_t size) {
    return AssembleInput(data, size, hc12::GetTarget(), "qorb12");
}

int AssembleInput(const std::uint8_t* data, std::size_t size, const Target& target, const char* program) {
    Scratch& s = GetScratch();
    std::uint8_t flags = size > 0 ? data[0] : 0;
    std::string source(reinterpret_cast<const char*>(data) + (size > 0 ? 1 : 0), size > 0 ? size - 1 : 0);
    WriteFile(s.dir / "fuzz.asm", source);

    std::vector<std::string> words{program, "-nologo"};
    if (flags & 0x01) words.push_back("-l");
    if (flags & 0x02) words.push_back("-lc");
    if (flags & 0x04) words.push_back((flags & 0x01) ? "-lu" : "-ls");
    if (flags & 0x08) words.push_back("-case");
    if (flags & 0x10) words.push_back("-mc");
    if (flags & 0x20) words.push_back("-hcs");
    if (flags & 0x40) words.push_back("-W4");
    if (flags & 0x80) {
        words.push_back("-Amax2");
        words.push_back("-Amin2");
    }
    words.push_back("fuzz.asm");
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);

    // The program resolves names against the directory it starts in.
    if (::chdir(s.dir.c_str()) != 0) std::abort();
    int status = RunAssembler(static_cast<int>(words.size()), argv.data(), target);
    if (::chdir(s.home.c_str()) != 0) std::abort();
    std::fflush(stdout);
    return status;
}

} // namespace qorb::fuzz
