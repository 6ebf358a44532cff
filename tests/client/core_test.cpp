// The client's Qt-free core: command line, maps and modules, and the dump of
// a real crashed child process read back by an independent reader.

#include "core/commandline.h"
#include "core/elfinfo.h"
#include "core/minidump_writer.h"
#include "core/privatestrings.h"
#include "core/process.h"
#include "core/tempfiles.h"
#include "crashed_child.h"
#include "dump_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <elf.h>
#include <fcntl.h>
#include <sys/ptrace.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
namespace md = ulmarro::minidump;
using dumptest::Value;
using namespace ulmarro;

namespace {

TEST(CommandLine, TakesTheHookOptions) {
    CommandLine c = ParseCommandLine(
        "\"/opt/my tools/ulmarro\" -t 1234 -e 0x00007FFC0012F9A0 -i {A51E686F-6D49-4FCE-ACBD-D1D002C9D0B7}");
    EXPECT_EQ(c.threadId, 1234u);
    EXPECT_EQ(c.exceptionAddress, 0x00007FFC0012F9A0u);
    EXPECT_EQ(c.applicationId, "{A51E686F-6D49-4FCE-ACBD-D1D002C9D0B7}");
    EXPECT_TRUE(c.message.empty());
}

TEST(CommandLine, NumbersTokensAndOtherLetters) {
    // '/' introduces options too; unknown letters are ignored; hex digits of
    // either case; a token ends at the first blank or control character.
    CommandLine c = ParseCommandLine("ulmarro /x /e0XabC -t   -12 -m hello\tworld -i id-with-dashes -q");
    EXPECT_EQ(c.exceptionAddress, 0xABCu);
    EXPECT_EQ(c.threadId, static_cast<std::uint64_t>(-12));
    EXPECT_EQ(c.message, "hello");
    EXPECT_EQ(c.applicationId, "id-with-dashes");
    // The program name is skipped: an unquoted one up to the first blank,
    // a quoted one to its closing quote, even when it contains "-i".
    EXPECT_TRUE(ParseCommandLine("\"/a -i x/ulmarro\" -t 5").applicationId.empty());
    EXPECT_EQ(ParseCommandLine("ulmarro-i -i y").applicationId, "y");
    // Digits run into 64 bits without overflow trouble.
    EXPECT_EQ(ParseCommandLine("u -e 0x1FFFFFFFFFFFFFFFF").exceptionAddress, 0xFFFFFFFFFFFFFFFFu);
    EXPECT_EQ(ParseCommandLine("u -t").threadId, 0u);
    EXPECT_TRUE(ParseCommandLine("u -i").applicationId.empty());
    EXPECT_TRUE(ParseCommandLine("").applicationId.empty());
}

TEST(CommandLine, RegistrationSwitches) {
    char prog[] = "ulmarro", reg[] = "/RegServer", unreg[] = "-unregserver", other[] = "-RegServerX";
    char* a[] = {prog, reg};
    char* b[] = {prog, unreg};
    char* c[] = {prog, other};
    EXPECT_EQ(FindRegistrationSwitch(2, a), Registration::Register);
    EXPECT_EQ(FindRegistrationSwitch(2, b), Registration::Unregister);
    EXPECT_EQ(FindRegistrationSwitch(2, c), Registration::None);
}

TEST(Modules, VersionsFromFileNames) {
    std::array<std::uint16_t, 4> v{};
    ASSERT_TRUE(VersionFromFileName("/usr/lib/libstdc++.so.6.0.30", &v));
    EXPECT_EQ(v, (std::array<std::uint16_t, 4>{6, 0, 30, 0}));
    ASSERT_TRUE(VersionFromFileName("libc.so.6", &v));
    EXPECT_EQ(v, (std::array<std::uint16_t, 4>{6, 0, 0, 0}));
    EXPECT_FALSE(VersionFromFileName("/usr/bin/qorb12", &v));
    EXPECT_FALSE(VersionFromFileName("libx.so", &v));
    EXPECT_FALSE(VersionFromFileName("libx.so.1.2.3.4.5", &v));
    EXPECT_FALSE(VersionFromFileName("libx.so.99999", &v));
    EXPECT_FALSE(VersionFromFileName("libx.so.1..2", &v));
}

TEST(Modules, DamagedFilesGiveNoIdentityAndNoCrash) {
    // Our own executable, then copies of it cut short or with wild headers.
    FileIdentity self = ReadFileIdentity("/proc/self/exe");
    ASSERT_FALSE(self.buildId.empty());
    std::ifstream in("/proc/self/exe", std::ios::binary);
    std::string image((std::istreambuf_iterator<char>(in)), {});
    char pattern[] = "/tmp/ulmarro-elf-XXXXXX";
    int fd = mkstemp(pattern);
    ASSERT_GE(fd, 0);
    close(fd);
    auto identityOf = [&](const std::string& bytes) {
        std::ofstream(pattern, std::ios::binary | std::ios::trunc) << bytes;
        return ReadFileIdentity(pattern);
    };
    EXPECT_EQ(identityOf(image).buildId, self.buildId);
    for (std::size_t cut : {0ul, 16ul, 64ul, 200ul})
        EXPECT_TRUE(identityOf(image.substr(0, cut)).buildId.empty());
    std::string wild = image;
    for (std::size_t at : {32ul, 40ul, 54ul, 56ul}) { // e_phoff, e_shoff, e_phentsize, e_phnum
        wild = image;
        for (std::size_t i = 0; i < 8 && at + i < wild.size(); ++i) wild[at + i] = '\xff';
        identityOf(wild); // whatever comes back, it must come back
    }
    // Program headers whose notes claim more than there is.
    wild = image;
    for (std::size_t i = 64; i + 56 <= std::min<std::size_t>(wild.size(), 64 + 56 * 16); i += 56)
        for (std::size_t j = 32; j < 48; ++j) wild[i + j] = '\x7f'; // p_filesz, p_memsz
    identityOf(wild);
    EXPECT_TRUE(ReadFileIdentity("/proc/self").buildId.empty());
    EXPECT_TRUE(ReadFileIdentity("/no/such/file").buildId.empty());
    unlink(pattern);
}

// The real file behind a library this test program has loaded.
std::string LoadedLibrary(const std::string& prefix) {
    std::ifstream maps("/proc/self/maps");
    for (std::string line; std::getline(maps, line);) {
        std::size_t slash = line.find('/');
        if (slash == std::string::npos) continue;
        std::string path = line.substr(slash);
        if (fs::path(path).filename().string().rfind(prefix, 0) == 0) return path;
    }
    return {};
}

TEST(Modules, LibrariesAreNamedBySoname) {
    std::string libstdcxx = LoadedLibrary("libstdc++.so");
    ASSERT_FALSE(libstdcxx.empty());
    FileIdentity identity = ReadFileIdentity(libstdcxx);
    EXPECT_EQ(identity.soname, "libstdc++.so.6");
    EXPECT_FALSE(identity.buildId.empty());
    std::string dir = fs::path(libstdcxx).parent_path().string();
    EXPECT_EQ(ModuleName(libstdcxx, identity), dir + "/libstdc++.so.6");
    // The version still comes from the real file name (libstdc++.so.6.0.30).
    if (fs::path(libstdcxx).filename() != "libstdc++.so.6") {
        EXPECT_NE(identity.version[2], 0);
    }
    EXPECT_EQ(ReadFileIdentity(LoadedLibrary("libc.so")).soname, "libc.so.6");
    // Programs have none: their file name stays.
    FileIdentity self = ReadFileIdentity("/proc/self/exe");
    EXPECT_TRUE(self.soname.empty());
    EXPECT_EQ(ModuleName("/usr/bin/prog", self), "/usr/bin/prog");

    // Cut short or with the string table pointing anywhere: no name, no crash.
    std::ifstream in(libstdcxx, std::ios::binary);
    std::string image((std::istreambuf_iterator<char>(in)), {});
    char pattern[] = "/tmp/ulmarro-so-XXXXXX";
    int fd = mkstemp(pattern);
    ASSERT_GE(fd, 0);
    close(fd);
    auto identityOf = [&](const std::string& bytes) {
        std::ofstream(pattern, std::ios::binary | std::ios::trunc) << bytes;
        return ReadFileIdentity(pattern);
    };
    EXPECT_EQ(identityOf(image).soname, "libstdc++.so.6");
    for (std::size_t cut : {64ul, 4096ul, image.size() / 2}) identityOf(image.substr(0, cut));
    // Every dynamic entry's value replaced by a wild one.
    const auto* header = reinterpret_cast<const Elf64_Ehdr*>(image.data());
    for (unsigned i = 0; i < header->e_phnum; ++i) {
        const auto* ph =
            reinterpret_cast<const Elf64_Phdr*>(image.data() + header->e_phoff + i * sizeof(Elf64_Phdr));
        if (ph->p_type != PT_DYNAMIC) continue;
        for (std::uint64_t wild : {0xFFFFFFFFFFFFFFF0ull, 0x7FFFFFFFFFFFFFFFull, 0ull}) {
            std::string bad = image;
            for (std::size_t at = ph->p_offset; at + 16 <= ph->p_offset + ph->p_filesz; at += 16)
                std::memcpy(&bad[at + 8], &wild, 8);
            EXPECT_TRUE(identityOf(bad).soname.empty());
        }
    }
    unlink(pattern);
}

TEST(Modules, GroupedFromMaps) {
    auto maps =
        ParseMaps("55d0a000-55d0b000 r--p 00000000 08:01 100 /usr/bin/prog\n"
                  "55d0b000-55d0d000 r-xp 00001000 08:01 100 /usr/bin/prog\n"
                  "55d0d000-55d0e000 rw-p 00003000 08:01 100 /usr/bin/prog\n"
                  "55d0e000-55d10000 rw-p 00000000 00:00 0 \n"
                  "7f0000000000-7f0000001000 r--p 00000000 08:01 200 /usr/lib/libz.so.1.2.13\n"
                  "7f0000001000-7f0000002000 rw-p 00000000 00:00 0 \n"
                  "7f0000002000-7f0000004000 r-xp 00001000 08:01 200 /usr/lib/libz.so.1.2.13\n"
                  "7f0000004000-7f0000005000 r--p 00001000 08:01 300 /usr/share/data file with blanks\n"
                  "7ffd00000000-7ffd00021000 rw-p 00000000 00:00 0 [stack]\n"
                  "garbage line\n");
    ASSERT_EQ(maps.size(), 9u);
    EXPECT_EQ(maps[7].path, "/usr/share/data file with blanks");
    EXPECT_EQ(maps[8].path, "[stack]");
    auto modules = ModulesFromMaps(maps);
    ASSERT_EQ(modules.size(), 2u); // a mapping at a non-zero offset starts no module
    EXPECT_EQ(modules[0].base, 0x55d0a000u);
    EXPECT_EQ(modules[0].size, 0x4000u);
    EXPECT_EQ(modules[1].path, "/usr/lib/libz.so.1.2.13");
    EXPECT_EQ(modules[1].size, 0x4000u); // across the anonymous gap
}

TEST(TempFiles, NamedAndPrivateInTmpdir) {
    char pattern[] = "/tmp/ulmarro-tmp-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    setenv("TMPDIR", pattern, 1);
    std::string path;
    Failure f;
    int fd = CreateTemporaryFile("dmp", &path, &f);
    ASSERT_GE(fd, 0) << f.Describe();
    close(fd);
    EXPECT_EQ(fs::path(path).parent_path(), fs::path(pattern));
    std::string name = fs::path(path).filename();
    EXPECT_EQ(name.size(), 15u);
    EXPECT_EQ(name.substr(0, 3), "~zk");
    EXPECT_EQ(name.substr(11), ".dmp");
    EXPECT_EQ(fs::status(path).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
    // A second file gets a name of its own.
    std::string second;
    fd = CreateTemporaryFile("dmp", &second, &f);
    ASSERT_GE(fd, 0);
    close(fd);
    EXPECT_NE(second, path);
    // An unusable TMPDIR falls back.
    setenv("TMPDIR", (std::string(pattern) + "/" + name).c_str(), 1);
    EXPECT_EQ(TemporaryDirectory(), "/tmp/");
    unsetenv("TMPDIR");
    fs::remove_all(pattern);
}

TEST(TempFiles, PlantedNamesForTheComingTicksDoNotStopTheReport) {
    // Someone who can write to TMPDIR plants links under every name a
    // clock-based scheme would use in the next seconds.
    char pattern[] = "/tmp/ulmarro-plant-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    fs::path dir = pattern;
    fs::create_directories(dir / "tmp");
    fs::path victim = dir / "victim";
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    std::uint32_t ticks = static_cast<std::uint32_t>(now.tv_sec * 1000 + now.tv_nsec / 1000000);
    for (std::uint32_t n = 0; n < 4100; ++n)
        for (const char* ext : {"dmp", "cab"}) {
            char name[32];
            std::snprintf(name, sizeof name, "~zk%08x.%s", ticks + n, ext);
            ASSERT_EQ(symlink(victim.c_str(), (dir / "tmp" / name).c_str()), 0);
        }
    setenv("TMPDIR", (dir / "tmp").c_str(), 1);
    std::vector<std::string> names;
    for (int i = 0; i < 20; ++i) {
        std::string path;
        Failure f;
        int fd = CreateTemporaryFile(i % 2 ? "cab" : "dmp", &path, &f);
        ASSERT_GE(fd, 0) << f.Describe();
        close(fd);
        EXPECT_FALSE(fs::is_symlink(path)) << path;
        EXPECT_TRUE(fs::is_regular_file(path));
        names.push_back(fs::path(path).filename());
    }
    EXPECT_FALSE(fs::exists(victim)) << "a planted link was followed";
    // Names are not numbered one after the other either.
    std::sort(names.begin(), names.end());
    EXPECT_EQ(std::unique(names.begin(), names.end()), names.end());
    int neighbours = 0;
    for (std::size_t i = 1; i < names.size(); ++i)
        neighbours += std::strtoul(names[i].c_str() + 3, nullptr, 16) -
                          std::strtoul(names[i - 1].c_str() + 3, nullptr, 16) <
                      1000;
    EXPECT_LT(neighbours, 3);
    unsetenv("TMPDIR");
    fs::remove_all(dir);
}

// ---------------------------------------------------------------------------
// Environment values and arguments blanked out of captured memory

std::string Blanked(const PrivateStrings& p, std::string text, std::size_t from = 0,
                    std::size_t to = std::string::npos) {
    p.Blank(reinterpret_cast<std::uint8_t*>(text.data()), text.size(), from, std::min(to, text.size()));
    for (char& c : text)
        if (c == '\0') c = '_';
    return text;
}

TEST(PrivateStrings, EveryCopyLongerThanThreeCharactersGoes) {
    PrivateStrings p;
    const char environment[] = "HOME=/home/ann\0LANG=C\0QORB12=-i/secret/dir\0EMPTY=\0NOEQUALS\0";
    const char arguments[] = "qorb12\0abc\0x.asm\0";
    p.AddEnvironmentBlock(std::string_view(environment, sizeof environment - 1));
    p.AddArgumentBlock(std::string_view(arguments, sizeof arguments - 1));
    EXPECT_EQ(Blanked(p, "at /home/ann/x.asm and QORB12=-i/secret/dir."),
              "at _________/_____ and QORB12=_____________.");
    // Three characters or fewer stay, and so do names of variables.
    EXPECT_EQ(Blanked(p, "abc LANG=C HOME NOEQUALS"), "abc LANG=C HOME NOEQUALS");
    EXPECT_EQ(Blanked(p, "qorb1 qorb12"), "qorb1 ______");
    // A string inside or across another: both found before anything is zeroed.
    PrivateStrings q;
    q.Add("abcdef");
    q.Add("defghi");
    EXPECT_EQ(Blanked(q, "xabcdefghiy"), "x_________y");
    EXPECT_EQ(Blanked(q, "abcdeabcdef"), "abcde______");
    // UTF-16 copies (the IDE's strings), non-ASCII text counted by characters.
    PrivateStrings u;
    u.Add("\xc3\xa4\xc3\xb6\xc3\xbc"); // three characters in six bytes: stays
    EXPECT_TRUE(u.empty());
    u.Add("gr\xc3\xbc\xc3\x9f"); // "grüß"
    std::string wide("<g\0r\0\xfc\0\xdf\0>", 10);
    EXPECT_EQ(Blanked(u, wide), std::string("<________>"));
    EXPECT_EQ(Blanked(u, "<gr\xc3\xbc\xc3\x9f>"), "<______>");
}

TEST(PrivateStrings, OnlyTheGivenPartChangesAndCutCopiesAreFound) {
    PrivateStrings p;
    p.Add("SECRET-VALUE");
    // The part is [10, 16): a copy that starts before it and one that ends
    // after it are both found through the context, and only the part changes.
    std::string text = "xxxxSECRET-VALUEyySECRET-VALUE";
    EXPECT_EQ(Blanked(p, text, 10, 22), "xxxxSECRET______yy____ET-VALUE");
    EXPECT_EQ(Blanked(p, text, 0, 4), text);
    EXPECT_EQ(Blanked(p, "SECRET-VALU"), "SECRET-VALU");
    PrivateStrings none;
    EXPECT_EQ(Blanked(none, text), text);
    // A long scan: copies everywhere in a few megabytes, each one found.
    std::string big(4 << 20, 'S');
    for (std::size_t at = 7; at + 12 < big.size(); at += 65537) big.replace(at, 12, "SECRET-VALUE");
    std::string out = Blanked(p, big);
    EXPECT_EQ(out.find("SECRET-VALUE"), std::string::npos);
    EXPECT_EQ(std::count(out.begin(), out.end(), '_'),
              static_cast<long>(12 * ((big.size() - 7 - 12) / 65537 + 1)));
}

// ---------------------------------------------------------------------------
// The dump of a child that crashed for real (crashed_child.h)

using crashtest::kBssMarker;
using crashtest::Record;

// The shared child, and its dump read back.
class CrashedChild : public crashtest::CrashedChild {
protected:
    dumptest::Dump DumpOf(const CrashedProcess& p, std::uint32_t type) {
        std::string path = WriteDump(p, type);
        dumptest::Dump d;
        EXPECT_TRUE(d.Load(path));
        unlink(path.c_str());
        return d;
    }
};

TEST_F(CrashedChild, DumpReadsBackWithExceptionThreadsModulesAndMemory) {
    if (skip_) GTEST_SKIP() << "ptrace is refused here";
    CrashedProcess p;
    ASSERT_FALSE(p.Find(static_cast<std::uint64_t>(child_)).failed());
    EXPECT_EQ(p.pid(), child_);
    EXPECT_EQ(p.executablePath(), fs::read_symlink("/proc/self/exe").string());
    ASSERT_FALSE(p.Suspend().failed());
    ASSERT_FALSE(p.ReadException(record_).failed());
    ASSERT_FALSE(p.ReadModules().failed());
    const ExceptionInfo& ex = p.exception();
    EXPECT_TRUE(ex.present);
    EXPECT_EQ(ex.signalNumber, SIGSEGV);
    EXPECT_EQ(ex.signalCode, SEGV_MAPERR);
    EXPECT_EQ(ex.faultAddress, 0x10u);
    EXPECT_EQ(ex.threadId, child_);
    ASSERT_NE(p.faultingModule(), nullptr);
    EXPECT_EQ(p.faultingModule()->path, p.executablePath());

    dumptest::Dump d = DumpOf(p, 0);
    for (std::uint32_t s :
         {md::kThreadListStream, md::kModuleListStream, md::kMemoryListStream, md::kExceptionStream,
          md::kSystemInfoStream, md::kMiscInfoStream, md::kMemoryInfoListStream, md::kLinuxMapsStream})
        EXPECT_TRUE(d.Has(s)) << "stream " << s;
    EXPECT_FALSE(d.Has(md::kLinuxEnvironStream)) << "the environment must stay out of the dump";
    EXPECT_FALSE(d.Has(md::kMemory64ListStream));

    const md::ExceptionStream e = d.Exception();
    EXPECT_EQ(Value(e.threadId), static_cast<std::uint32_t>(child_));
    EXPECT_EQ(Value(e.exceptionRecord.exceptionCode), static_cast<std::uint32_t>(SIGSEGV));
    EXPECT_EQ(Value(e.exceptionRecord.exceptionFlags), static_cast<std::uint32_t>(SEGV_MAPERR));
    EXPECT_EQ(Value(e.exceptionRecord.exceptionAddress), 0x10u);
    auto [pc, sp] = dumptest::PcSp(d, e.threadContext.rva, e.threadContext.dataSize);
    EXPECT_EQ(pc, p.exceptionPc());

    auto threads = d.Threads();
    ASSERT_EQ(threads.size(), 1u);
    EXPECT_EQ(threads[0].tid, static_cast<std::uint32_t>(child_));
    EXPECT_EQ(threads[0].contextRva, Value(e.threadContext.rva))
        << "crashed thread shows its registers at the fault";
    EXPECT_LE(threads[0].stackStart, sp);
    EXPECT_GT(threads[0].stackStart + threads[0].stackSize, sp);
    EXPECT_TRUE(d.Memory(pc - 16, 32).has_value()) << "code around the pc";

    auto modules = d.Modules();
    ASSERT_FALSE(modules.empty());
    EXPECT_EQ(modules[0].name, p.executablePath());
    // Libraries by the name they were loaded as, with the real file's build id.
    std::string libstdcxx = LoadedLibrary("libstdc++.so");
    bool named = false;
    for (const auto& m : modules)
        if (m.name == fs::path(libstdcxx).parent_path().string() + "/libstdc++.so.6") {
            named = true;
            EXPECT_EQ(m.buildId, ReadFileIdentity(libstdcxx).buildId);
        }
    EXPECT_TRUE(named) << "libstdc++ by its SONAME";
    EXPECT_EQ(modules[0].buildId, ReadFileIdentity("/proc/self/exe").buildId);
    EXPECT_FALSE(modules[0].buildId.empty());
    EXPECT_EQ(Value(d.Record<md::MiscInfo>(d.Rva(md::kMiscInfoStream)).processId),
              static_cast<std::uint32_t>(child_));
    EXPECT_EQ(Value(d.Record<md::SystemInfo>(d.Rva(md::kSystemInfoStream)).platformId), 0x8201u); // Linux

    // Full memory: every readable range, the heap marker included. (Under
    // AddressSanitizer the process reserves gigabytes of shadow memory that
    // would all be read; the normal build covers this.)
#if !defined(__SANITIZE_ADDRESS__)
    dumptest::Dump full = DumpOf(p, kDumpWithFullMemory);
    ASSERT_TRUE(full.Has(md::kMemory64ListStream));
    EXPECT_EQ(Value(full.Record<md::Header>(0).flags), kDumpWithFullMemory);
    std::string all(full.bytes.begin(), full.bytes.end());
    EXPECT_NE(all.find(crashtest::kHeapMarker), std::string::npos);
    EXPECT_EQ(std::string(d.bytes.begin(), d.bytes.end()).find(crashtest::kHeapMarker), std::string::npos);
#endif
    // Data segments: the module's writable data (where g_record lives).
    dumptest::Dump data = DumpOf(p, kDumpWithDataSegments);
    auto bytes = data.Memory(record_, sizeof(Record));
    ASSERT_TRUE(bytes.has_value());
    Record copy;
    std::memcpy(&copy, bytes->data(), sizeof copy);
    EXPECT_EQ(copy.tid, child_);
    auto bss = data.Memory(reinterpret_cast<std::uintptr_t>(crashtest::g_bss + sizeof crashtest::g_bss - 64),
                           sizeof kBssMarker);
    ASSERT_TRUE(bss.has_value()) << "the anonymous part of .bss belongs to the module's data";
    EXPECT_EQ(std::memcmp(bss->data(), kBssMarker, sizeof kBssMarker), 0);

    p.Detach();
    // Let go: the child runs again (its state is no longer "tracing stop").
    std::string status;
    std::ifstream in("/proc/" + std::to_string(child_) + "/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind("State:", 0) == 0) status = line;
    EXPECT_EQ(status.find("tracing stop"), std::string::npos) << status;
}

TEST_F(CrashedChild, BadThreadsAndAddressesAreFailuresNotCrashes) {
    if (skip_) GTEST_SKIP() << "ptrace is refused here";
    {
        CrashedProcess p;
        EXPECT_EQ(p.Find(0x7FFFFFF0u).code, 0x80070006u);
        EXPECT_EQ(p.Find(0xFFFFFFFFFFull).code, 0x80070006u);
        EXPECT_TRUE(p.Find(static_cast<std::uint64_t>(syscall(SYS_gettid))).failed()) << "not ourselves";
    }
    CrashedProcess p;
    ASSERT_FALSE(p.Find(static_cast<std::uint64_t>(child_)).failed());
    ASSERT_FALSE(p.Suspend().failed());
    EXPECT_TRUE(p.ReadException(0x10).failed());
    EXPECT_TRUE(p.ReadException(~std::uint64_t{0} - 4).failed());
    // Readable, but not a crash record: the heap marker's neighbourhood.
    EXPECT_TRUE(p.ReadException(reinterpret_cast<std::uintptr_t>(crashtest::kHeapMarker)).failed());
    // No address: a dump without exception information.
    ASSERT_FALSE(p.ReadException(0).failed());
    EXPECT_FALSE(p.exception().present);
    ASSERT_FALSE(p.ReadModules().failed());
    EXPECT_EQ(p.faultingModule(), nullptr);
    dumptest::Dump d = DumpOf(p, 0);
    EXPECT_FALSE(d.Has(md::kExceptionStream));
    EXPECT_TRUE(d.Has(md::kThreadListStream));
}

} // namespace
