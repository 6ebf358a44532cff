// Real programs crash, the real hook starts the real client, and the dump it
// writes is checked for what it must hold (library frames that symbol files
// resolve) and for what it must not (the program's environment values and
// arguments, wherever the program copied them).

#include "dump_reader.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

const char* kQorb12Guid = "%7B2D4B4EFA-B16D-4DE8-AA49-CB5CB9AB568D%7D"; // as the settings file writes it

std::string ReadFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string Utf16(const std::string& ascii) {
    std::string out;
    for (char c : ascii) {
        out += c;
        out += '\0';
    }
    return out;
}

bool PtraceAllowed() {
    pid_t child = fork();
    if (child == 0) {
        pause();
        _exit(0);
    }
    bool ok = ptrace(PTRACE_SEIZE, child, nullptr, nullptr) == 0;
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    return ok;
}

class RealReport : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/crashhook-report-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        for (const char* sub : {"tmp", "home/KORVELL", "xdg/KORVELL"}) fs::create_directories(dir_ / sub);
        std::ofstream(dir_ / "xdg" / "KORVELL" / "Ulmarro.conf") << "[General]\nDefault=" << ULMARRO << "\n";
    }
    void TearDown() override { fs::remove_all(dir_); }

    void SetDumpType(int type) {
        std::ofstream(dir_ / "home" / "KORVELL" / "Ulmarro.conf")
            << "[Applications]\n"
            << kQorb12Guid << "\\DumpType=" << type << "\n";
    }

    // Runs a program whose crash reaches the client; the "debug" answer
    // keeps the dump where the test finds it. Returns the wait status.
    int Run(const std::vector<std::string>& args, const std::map<std::string, std::string>& extra = {}) {
        fs::path err = dir_ / "stderr.txt";
        pid_t child = fork();
        if (child == 0) {
            setenv("XDG_CONFIG_DIRS", (dir_ / "xdg").c_str(), 1);
            setenv("XDG_CONFIG_HOME", (dir_ / "home").c_str(), 1);
            setenv("TMPDIR", (dir_ / "tmp").c_str(), 1);
            setenv("QT_QPA_PLATFORM", "offscreen", 1);
            setenv("ULMARRO_UNATTENDED", "debug", 1);
            for (const auto& [k, v] : extra) setenv(k.c_str(), v.c_str(), 1);
            int fd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            dup2(fd, 2);
            int null = open("/dev/null", O_RDWR);
            dup2(null, 0);
            dup2(null, 1);
            std::vector<char*> argv;
            for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(99);
        }
        int status = 0;
        waitpid(child, &status, 0);
        stderr_ = ReadFile(err);
        return status;
    }

    // The one dump the last run left; removed from the directory.
    std::string TakeDump() {
        std::vector<fs::path> dumps;
        for (const auto& e : fs::directory_iterator(dir_ / "tmp"))
            if (e.path().extension() == ".dmp") dumps.push_back(e.path());
        EXPECT_EQ(dumps.size(), 1u) << stderr_;
        if (dumps.size() != 1) return {};
        std::string bytes = ReadFile(dumps[0]);
        fs::copy_file(dumps[0], dir_ / "last.dmp", fs::copy_options::overwrite_existing);
        fs::remove(dumps[0]);
        return bytes;
    }

    fs::path dir_;
    std::string stderr_;
};

// Every memory range of the dump (stacks, code, data, full memory) as one text
// per range, read by the independent reader's layout.
std::vector<std::string> CapturedRanges(const dumptest::Dump& d) {
    std::vector<std::string> ranges;
    auto take = [&](std::uint64_t rva, std::uint64_t size) {
        if (rva <= d.bytes.size() && size <= d.bytes.size() - rva)
            ranges.emplace_back(d.bytes.begin() + static_cast<long>(rva),
                                d.bytes.begin() + static_cast<long>(rva + size));
    };
    namespace md = dumptest::md;
    if (d.Has(md::kMemoryListStream)) {
        for (std::uint32_t i = 0; i < d.Record<md::ListHeader>(d.Rva(md::kMemoryListStream)).count; ++i) {
            const auto e = d.Entry<md::MemoryDescriptor>(md::kMemoryListStream, i);
            take(e.memory.rva, e.memory.dataSize);
        }
    }
    if (d.Has(md::kMemory64ListStream)) {
        const auto list = d.Record<md::Memory64ListHeader>(d.Rva(md::kMemory64ListStream));
        std::uint64_t at = list.baseRva;
        for (std::uint64_t i = 0; i < list.rangeCount; ++i) {
            std::uint64_t size =
                d.Entry<md::MemoryDescriptor64, md::Memory64ListHeader>(md::kMemory64ListStream, i).dataSize;
            take(at, size);
            at += size;
        }
    }
    return ranges;
}

TEST_F(RealReport, EnvironmentValuesAndArgumentsAreBlankedWhereverTheProgramCopiedThem) {
#ifndef QORB12
    GTEST_SKIP() << "qorb12 is not part of this build";
#else
    if (!PtraceAllowed()) GTEST_SKIP() << "ptrace is refused on this machine";
    // qorb12 splits QORB12 into words and copies its arguments into a list
    // before it handles -CrashMe: both end up on its heap and stack. Long
    // enough not to fit into a string's inline buffer.
    const std::string value = "-iplanted/environment/dir-7f3c9a1e5b";
    const std::string argument = "planted-argument-source-4d2e8b.asm";
    // A string the program holds that is neither: it must stay.
    const std::string kept = "kept-text-that-is-no-argument-or-value";
    for (int type : {0, 1, 2}) {
        SCOPED_TRACE("DumpType " + std::to_string(type));
        SetDumpType(type);
        int status = Run({QORB12, argument, "-CrashMe"}, {{"QORB12", value}});
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << status << "\n" << stderr_;
        std::string bytes = TakeDump();
        ASSERT_FALSE(bytes.empty());
        dumptest::Dump d;
        ASSERT_TRUE(d.Load((dir_ / "last.dmp").string()));
        auto ranges = CapturedRanges(d);
        ASSERT_FALSE(ranges.empty());
        std::size_t total = 0;
        for (const std::string& r : ranges) {
            total += r.size();
            for (const std::string& planted : {value, argument}) {
                EXPECT_EQ(r.find(planted), std::string::npos) << planted;
                EXPECT_EQ(r.find(Utf16(planted)), std::string::npos) << planted;
            }
        }
        // Nowhere else in the file either (names of modules, texts of /proc).
        EXPECT_EQ(bytes.find(value), std::string::npos);
        EXPECT_EQ(bytes.find(argument), std::string::npos);
        if (type == 2) {
            EXPECT_GT(total, 1u << 20) << "full memory holds the heap";
        }
    }
    // The same search finds a planted text that is no environment value: the
    // ranges really hold what the program had (here the name of a variable,
    // copied onto the heap by the same split as the value).
    SetDumpType(2);
    Run({QORB12, argument, "-CrashMe"}, {{"QORB12", value + " " + kept}});
    std::string bytes = TakeDump();
    EXPECT_EQ(bytes.find(value + " " + kept), std::string::npos) << "the whole value is planted";
    EXPECT_NE(bytes.find(kept), std::string::npos) << "one word of the value, copied on its own";
#endif
}

// Symbol files keyed the Breakpad way: DIR/<name>/<id>/<name>.sym, name and
// id from the file's MODULE line.
void WriteSymbols(const std::string& tools, const std::string& module, const fs::path& store) {
    fs::path tmp = store / "new.sym";
    std::string command = "'" + tools + "/dump_syms' '" + module + "' > '" + tmp.string() + "' 2>/dev/null";
    if (std::system(command.c_str()) != 0) return;
    std::istringstream first(ReadFile(tmp));
    std::string word, os, arch, id, name;
    first >> word >> os >> arch >> id >> name;
    if (word != "MODULE" || name.empty()) return;
    fs::create_directories(store / name / id);
    fs::rename(tmp, store / name / id / (name + ".sym"));
}

TEST_F(RealReport, BreakpadResolvesLibraryFramesBySoname) {
#if !defined(__x86_64__)
    GTEST_SKIP() << "Breakpad's tools from npm exist for x86_64 only";
#else
    if (!PtraceAllowed()) GTEST_SKIP() << "ptrace is refused on this machine";
    const std::string tools = BREAKPAD_TOOLS;
    ASSERT_TRUE(fs::exists(fs::path(tools) / "minidump_stackwalk") &&
                fs::exists(fs::path(tools) / "dump_syms"))
        << "Breakpad's tools are missing in " << tools
        << " (the crashhook.breakpad_tools test installs them)";
    // An uncaught exception: std::terminate in libstdc++, abort in libc.
    Run({CRASH_TARGET, "throw", "qorb12"});
    std::string bytes = TakeDump();
    ASSERT_FALSE(bytes.empty());
    dumptest::Dump d;
    ASSERT_TRUE(d.Load((dir_ / "last.dmp").string()));
    fs::path store = dir_ / "symbols";
    fs::create_directories(store);
    std::set<std::string> names;
    for (const auto& m : d.Modules()) {
        names.insert(fs::path(m.name).filename().string());
        if (fs::exists(m.name)) WriteSymbols(tools, m.name, store);
    }
    EXPECT_EQ(names.count("libstdc++.so.6"), 1u) << "libstdc++ under its SONAME";
    EXPECT_EQ(names.count("libc.so.6"), 1u);

    fs::path out = dir_ / "stackwalk.txt";
    std::string command = "'" + tools + "/minidump_stackwalk' -m '" + (dir_ / "last.dmp").string() + "' '" +
                          store.string() + "' > '" + out.string() + "' 2>/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
    // "Crash|reason|address|thread", then "thread|frame|module|function|file|line|offset".
    std::string text = ReadFile(out);
    std::istringstream lines(text);
    std::string crashedThread;
    std::map<std::string, std::vector<std::string>> functionsByModule;
    for (std::string line; std::getline(lines, line);) {
        std::vector<std::string> f;
        std::stringstream fields(line);
        for (std::string field; std::getline(fields, field, '|');) f.push_back(field);
        if (f.size() >= 4 && f[0] == "Crash") crashedThread = f[3];
        if (f.size() >= 4 && !crashedThread.empty() && f[0] == crashedThread)
            functionsByModule[f[2]].push_back(f[3]);
    }
    ASSERT_FALSE(crashedThread.empty()) << text.substr(0, 800);
    for (const char* module : {"libstdc++.so.6", "libc.so.6"}) {
        const auto& functions = functionsByModule[module];
        ASSERT_FALSE(functions.empty()) << module << " has no frame\n" << text.substr(0, 3000);
        bool resolved = false;
        for (const auto& f : functions) resolved |= !f.empty();
        EXPECT_TRUE(resolved) << module << ": no frame resolved by its symbol file\n" << text.substr(0, 3000);
    }
#endif
}

} // namespace
