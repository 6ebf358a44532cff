// Dumps of the crashed child, written by today's writer and by the writer
// as it was before it became one function per stream (its dumps are kept in
// data/reference-dumps): the same streams in the same order and the same
// records, field by field. What differs between two runs of a child is set
// aside: the time stamp, process and thread ids, the bytes and addresses of
// the process (stacks, registers, heap, where each module was mapped), the
// facts of files that changed since (this test program is rebuilt, a
// library may be updated) and of another machine (kernel, processor).
// Addresses inside a module whose file did not change are compared as
// offsets from the module's base.
//
// ULMARRO_WRITE_REFERENCE_DUMPS=DIR writes the dumps of this build into DIR
// instead of comparing them: that is how the reference dumps were made, in
// an otherwise empty environment (env -i), since a dump keeps the names of
// variables and values of up to three characters.

#include "crashed_child.h"
#include "dump_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include <sys/utsname.h>
#include <unistd.h>

namespace fs = std::filesystem;
namespace md = ulmarro::minidump;
using dumptest::Dump;

namespace {

#if defined(__SANITIZE_ADDRESS__)
const char* const kFlavour = "sanitize"; // other modules and mappings
#else
const char* const kFlavour = "plain";
#endif

fs::path ReferencePath(std::uint32_t type) {
    return fs::path(REFERENCE_DUMPS) / kFlavour / ("type" + std::to_string(type) + ".dmp");
}

std::string ReadFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// The lines of a text that start with one of the prefixes.
std::string LinesStarting(const std::string& text, std::initializer_list<const char*> prefixes) {
    std::istringstream in(text);
    std::string out;
    for (std::string line; std::getline(in, line);)
        for (const char* p : prefixes)
            if (line.rfind(p, 0) == 0) out += line + "\n";
    return out;
}

std::string Kernel() {
    utsname u{};
    uname(&u);
    return std::string(u.sysname) + " " + u.release + " " + u.version + " " + u.machine;
}

using dumptest::Value;
#define SAME(field) EXPECT_EQ(Value(before.field), Value(now.field)) << #field

class Comparison {
public:
    Comparison(const Dump& before, const Dump& now) : b_(before), n_(now) {
        // The reference was made here when the kernel and the processor are the same.
        const auto system = b_.Record<md::SystemInfo>(b_.Rva(md::kSystemInfoStream));
        sameKernel_ = b_.String(system.csdVersionRva) == Kernel();
        const std::string cpuinfo = ReadFile("/proc/cpuinfo");
        const auto cpuLines = {"processor", "vendor_id", "model name", "cpu family", "model\t", "stepping"};
        sameCpu_ =
            b_.Has(md::kLinuxCpuInfoStream) &&
            LinesStarting(Text(b_, md::kLinuxCpuInfoStream), cpuLines) == LinesStarting(cpuinfo, cpuLines);
        if (!sameKernel_ || !sameCpu_)
            std::printf("note: the reference dumps come from another %s; its facts are set aside\n",
                        sameKernel_ ? "processor" : "kernel");
    }

    void All() {
        Header();
        Directory();
        Exception();
        Threads();
        Modules();
        MemoryList();
        System();
        Misc();
        MemoryInfo();
        Texts();
        Memory64();
        for (const Dump* d : {&b_, &n_}) Alignment(*d);
    }

private:
    static std::string Text(const Dump& d, std::uint32_t type) { return d.Text(d.Rva(type), d.Size(type)); }
    template <typename T> static T Stream(const Dump& d, std::uint32_t type) {
        return d.Record<T>(d.Rva(type));
    }
    static std::uint32_t Count(const Dump& d, std::uint32_t type) {
        return d.Record<md::ListHeader>(d.Rva(type)).count;
    }

    // Where records start: the directory and every stream on four bytes,
    // the two lists with 64-bit counts on eight, contexts on sixteen.
    static void Alignment(const Dump& d) {
        SCOPED_TRACE("alignment");
        EXPECT_EQ(d.Record<md::Header>(0).streamDirectoryRva % 4, 0u);
        for (const auto& [type, where] : d.streams) {
            const std::uint32_t align =
                type == md::kMemoryInfoListStream || type == md::kMemory64ListStream ? 8 : 4;
            EXPECT_EQ(where.second % align, 0u) << "stream " << type;
        }
        for (const auto& t : d.Threads()) {
            EXPECT_EQ(t.contextRva % 16, 0u);
            EXPECT_EQ(t.stackRva % 4, 0u);
        }
        EXPECT_EQ(Value(Stream<md::ExceptionStream>(d, md::kExceptionStream).threadContext.rva) % 16, 0u);
        for (std::uint32_t i = 0; i < Count(d, md::kModuleListStream); ++i) {
            const auto m = d.Entry<md::Module>(md::kModuleListStream, i);
            EXPECT_EQ(Value(m.moduleNameRva) % 4, 0u);
            EXPECT_EQ(Value(m.cvRecord.rva) % 4, 0u);
        }
        for (std::uint32_t i = 0; i < Count(d, md::kMemoryListStream); ++i)
            EXPECT_EQ(Value(d.Entry<md::MemoryDescriptor>(md::kMemoryListStream, i).memory.rva) % 4, 0u);
    }

    void Header() {
        SCOPED_TRACE("header");
        const auto before = b_.Record<md::Header>(0), now = n_.Record<md::Header>(0);
        SAME(signature);
        SAME(version);
        SAME(streamCount);
        SAME(streamDirectoryRva);
        SAME(checksum);
        SAME(flags);
    }

    void Directory() {
        const auto count = b_.Record<md::Header>(0).streamCount;
        for (std::uint32_t i = 0; i < count; ++i) {
            SCOPED_TRACE("directory entry " + std::to_string(i));
            const std::uint64_t at = b_.Record<md::Header>(0).streamDirectoryRva + i * sizeof(md::Directory);
            const auto before = b_.Record<md::Directory>(at), now = n_.Record<md::Directory>(at);
            SAME(streamType);
            // Fixed-size streams; the lists' sizes follow from their counts.
            if (before.streamType == md::kExceptionStream || before.streamType == md::kSystemInfoStream ||
                before.streamType == md::kMiscInfoStream) {
                SAME(location.dataSize);
            }
        }
    }

    void Exception() {
        SCOPED_TRACE("exception");
        const auto before = Stream<md::ExceptionStream>(b_, md::kExceptionStream);
        const auto now = Stream<md::ExceptionStream>(n_, md::kExceptionStream);
        SAME(alignment);
        SAME(exceptionRecord.exceptionCode);
        SAME(exceptionRecord.exceptionFlags);
        SAME(exceptionRecord.exceptionRecord);
        SAME(exceptionRecord.exceptionAddress);
        SAME(exceptionRecord.numberParameters);
        SAME(exceptionRecord.unusedAlignment);
        for (int i = 0; i < 15; ++i) SAME(exceptionRecord.exceptionInformation[i]);
        SAME(threadContext.dataSize);
        // Both point at the crashed thread's registers in the thread list.
        for (const Dump* d : {&b_, &n_}) {
            const auto e = Stream<md::ExceptionStream>(*d, md::kExceptionStream);
            bool shared = false;
            for (const auto& t : d->Threads())
                shared |= t.tid == e.threadId && t.contextRva == e.threadContext.rva;
            EXPECT_TRUE(shared);
        }
    }

    void Threads() {
        ASSERT_EQ(Count(b_, md::kThreadListStream), Count(n_, md::kThreadListStream));
        for (std::uint32_t i = 0; i < Count(b_, md::kThreadListStream); ++i) {
            SCOPED_TRACE("thread " + std::to_string(i));
            const auto before = b_.Entry<md::Thread>(md::kThreadListStream, i);
            const auto now = n_.Entry<md::Thread>(md::kThreadListStream, i);
            SAME(suspendCount);
            SAME(priorityClass);
            SAME(priority);
            SAME(teb);
            SAME(threadContext.dataSize);
            Context(before.threadContext.rva, now.threadContext.rva, before.threadContext.dataSize);
            // The stack runs from the page of the stack pointer; its size
            // depends on where the stack began.
            for (const Dump* d : {&b_, &n_}) {
                const auto t = d->Entry<md::Thread>(md::kThreadListStream, i);
                const auto sp = dumptest::PcSp(*d, t.threadContext.rva, t.threadContext.dataSize).second;
                EXPECT_EQ(Value(t.stack.startOfMemoryRange), sp & ~std::uint64_t{4095});
                EXPECT_GT(Value(t.stack.memory.dataSize), 0u);
            }
        }
    }

    // The registers are the process's; the rest of the record is the writer's.
    void Context(std::uint32_t beforeRva, std::uint32_t nowRva, std::uint32_t size) {
        if (size == sizeof(md::ContextAmd64)) {
            auto before = b_.Record<md::ContextAmd64>(beforeRva), now = n_.Record<md::ContextAmd64>(nowRva);
            SAME(contextFlags);
            SAME(mxCsr);
            SAME(cs);
            SAME(ds);
            SAME(es);
            SAME(fs);
            SAME(gs);
            SAME(ss);
            for (auto* c : {&before, &now}) {
                c->contextFlags = c->mxCsr = c->eflags = 0;
                c->cs = c->ds = c->es = c->fs = c->gs = c->ss = 0;
                c->rax = c->rcx = c->rdx = c->rbx = c->rsp = c->rbp = c->rsi = c->rdi = c->rip = 0;
                c->r8 = c->r9 = c->r10 = c->r11 = c->r12 = c->r13 = c->r14 = c->r15 = 0;
                std::fill(std::begin(c->fxsave), std::end(c->fxsave), 0);
            }
            EXPECT_EQ(std::memcmp(&before, &now, sizeof before), 0) << "the fields the writer leaves empty";
        } else if (size == sizeof(md::ContextArm64)) {
            auto before = b_.Record<md::ContextArm64>(beforeRva), now = n_.Record<md::ContextArm64>(nowRva);
            SAME(contextFlags);
            SAME(bcr[0]);
            SAME(wvr[1]);
        } else {
            ADD_FAILURE() << "a context of " << size << " bytes";
        }
    }

    // Modules are matched by file name: where each is mapped, and so their
    // order in the list, changes from run to run.
    static std::string Name(const dumptest::Module& m) { return fs::path(m.name).filename(); }
    static std::vector<std::string> Names(const Dump& d) {
        std::vector<std::string> names;
        for (const auto& m : d.Modules()) names.push_back(Name(m));
        std::sort(names.begin(), names.end());
        return names;
    }
    static std::uint32_t Index(const Dump& d, const std::string& name) {
        const auto modules = d.Modules();
        for (std::uint32_t i = 0; i < modules.size(); ++i)
            if (Name(modules[i]) == name) return i;
        return UINT32_MAX;
    }

    // The same file as before: same path and build id.
    bool SameFile(const std::string& name) const {
        const std::uint32_t before = Index(b_, name), now = Index(n_, name);
        if (before == UINT32_MAX || now == UINT32_MAX) return false;
        const auto b = b_.Modules()[before], n = n_.Modules()[now];
        return b.name == n.name && !b.buildId.empty() && b.buildId == n.buildId;
    }

    // The module an address lies in (or behind, for .bss) and the offset
    // from its base; an empty name below every module or, with `inside`,
    // outside every module.
    static std::pair<std::string, std::uint64_t> Place(const Dump& d, std::uint64_t address, bool inside) {
        std::string name;
        std::uint64_t offset = 0, size = 0;
        for (const auto& m : d.Modules())
            if (m.base <= address && (name.empty() || address - m.base < offset)) {
                name = Name(m);
                offset = address - m.base;
                size = m.size;
            }
        if (inside && offset >= size) return {};
        return {name, offset};
    }

    void Modules() {
        ASSERT_EQ(Names(b_), Names(n_));
        for (const std::string& name : Names(b_)) {
            SCOPED_TRACE("module " + name);
            const auto before = b_.Entry<md::Module>(md::kModuleListStream, Index(b_, name));
            const auto now = n_.Entry<md::Module>(md::kModuleListStream, Index(n_, name));
            SAME(checksum);
            SAME(timeDateStamp);
            SAME(miscRecord.dataSize);
            SAME(miscRecord.rva);
            SAME(reserved0);
            SAME(reserved1);
            SAME(cvRecord.dataSize == 0);
            SAME(versionInfo.signature == 0);
            if (!SameFile(name)) continue;
            SAME(sizeOfImage);
            SAME(cvRecord.dataSize);
            EXPECT_EQ(std::memcmp(&before.versionInfo, &now.versionInfo, sizeof before.versionInfo), 0)
                << "version info";
        }
    }

    // The memory ranges, each as what it holds: a thread's stack, the code
    // around the crashing instruction or a module's data (with its place and
    // size where the module's file is the same). The rest of a module's .bss
    // lies in an anonymous mapping behind it, which is taken when it follows
    // the module's data directly: whether it does, and what it merged with,
    // changes with each run. Those only have to follow data of a module.
    std::vector<std::string> Ranges(const Dump& d) const {
        std::vector<std::string> ranges;
        std::set<std::uint64_t> dataEnds;
        std::vector<std::uint64_t> behind;
        const auto threads = d.Threads();
        for (std::uint32_t i = 0; i < Count(d, md::kMemoryListStream); ++i) {
            const auto r = d.Entry<md::MemoryDescriptor>(md::kMemoryListStream, i);
            const std::uint64_t start = r.startOfMemoryRange, size = r.memory.dataSize, pc = Pc(d);
            const auto stack = std::find_if(threads.begin(), threads.end(), [&](const dumptest::Thread& t) {
                return t.stackRva == r.memory.rva;
            });
            const auto [module, offset] = Place(d, start, true);
            if (stack != threads.end()) {
                ranges.push_back("stack of thread " + std::to_string(stack - threads.begin()));
            } else if (pc >= start && pc - start < size) {
                ranges.push_back("code from pc - " + std::to_string(pc - start) + ", " +
                                 std::to_string(size) + " bytes");
            } else if (!module.empty()) {
                ranges.push_back("data of " + module +
                                 (SameFile(module) ? " + " + std::to_string(offset) + ", " +
                                                         std::to_string(size) + " bytes"
                                                   : ""));
                dataEnds.insert(start + size);
            } else {
                behind.push_back(start);
            }
        }
        for (std::uint64_t start : behind)
            EXPECT_EQ(dataEnds.count(start), 1u) << "a range behind no module data";
        std::sort(ranges.begin(), ranges.end());
        return ranges;
    }

    void MemoryList() {
        SCOPED_TRACE("memory list");
        EXPECT_EQ(Ranges(b_), Ranges(n_));
    }

    static std::uint64_t Pc(const Dump& d) {
        const auto e = Stream<md::ExceptionStream>(d, md::kExceptionStream);
        return dumptest::PcSp(d, e.threadContext.rva, e.threadContext.dataSize).first;
    }

    void System() {
        SCOPED_TRACE("system information");
        const auto before = Stream<md::SystemInfo>(b_, md::kSystemInfoStream);
        const auto now = Stream<md::SystemInfo>(n_, md::kSystemInfoStream);
        SAME(processorArchitecture);
        SAME(productType);
        SAME(platformId);
        SAME(suiteMask);
        SAME(reserved2);
        if (sameKernel_) {
            SAME(majorVersion);
            SAME(minorVersion);
            SAME(buildNumber);
            EXPECT_EQ(b_.String(before.csdVersionRva), n_.String(now.csdVersionRva));
        }
        if (sameCpu_) {
            SAME(processorLevel);
            SAME(processorRevision);
            SAME(numberOfProcessors);
            for (int i = 0; i < 3; ++i) SAME(cpu.vendorId[i]);
            SAME(cpu.versionInformation);
            SAME(cpu.featureInformation);
            SAME(cpu.amdExtendedCpuFeatures);
        }
    }

    void Misc() {
        SCOPED_TRACE("misc information");
        const auto before = Stream<md::MiscInfo>(b_, md::kMiscInfoStream);
        const auto now = Stream<md::MiscInfo>(n_, md::kMiscInfoStream);
        SAME(sizeOfInfo);
        SAME(flags1);
        // The child crashed on its main thread.
        for (const Dump* d : {&b_, &n_})
            EXPECT_EQ(Value(Stream<md::MiscInfo>(*d, md::kMiscInfoStream).processId),
                      Value(Stream<md::ExceptionStream>(*d, md::kExceptionStream).threadId));
    }

    // Per mapping of a module's file: its place in the module and its kind.
    // Anonymous mappings come and go with the process (neighbours merge);
    // on the same kernel the kinds of them that occur are the same.
    using Mapping = std::tuple<std::string, std::uint64_t, std::uint64_t, std::uint32_t, std::uint32_t,
                               std::uint32_t, std::uint32_t, bool, std::uint32_t, std::uint32_t>;
    std::set<Mapping> Mappings(const Dump& d, bool anonymous) const {
        std::set<Mapping> facts;
        const auto list = Stream<md::MemoryInfoListHeader>(d, md::kMemoryInfoListStream);
        for (std::uint64_t i = 0; i < list.entryCount; ++i) {
            const auto m = d.Entry<md::MemoryInfo, md::MemoryInfoListHeader>(md::kMemoryInfoListStream, i);
            auto [module, offset] = Place(d, m.baseAddress, true);
            const bool inModule = SameFile(module);
            if (!inModule && !anonymous) continue;
            facts.insert({inModule ? module : "", inModule ? offset : 0, inModule ? Value(m.regionSize) : 0,
                          Value(m.protect), Value(m.allocationProtect), Value(m.state), Value(m.type),
                          m.allocationBase == m.baseAddress, Value(m.alignment1), Value(m.alignment2)});
        }
        return facts;
    }

    void MemoryInfo() {
        SCOPED_TRACE("memory information");
        const auto before = Stream<md::MemoryInfoListHeader>(b_, md::kMemoryInfoListStream);
        const auto now = Stream<md::MemoryInfoListHeader>(n_, md::kMemoryInfoListStream);
        SAME(sizeOfHeader);
        SAME(sizeOfEntry);
        EXPECT_EQ(Mappings(b_, sameKernel_), Mappings(n_, sameKernel_));
    }

    void Texts() {
        for (const Dump* d : {&b_, &n_}) {
            // The maps text is the one the memory information was made from.
            const std::string maps = Text(*d, md::kLinuxMapsStream);
            EXPECT_EQ(static_cast<std::uint64_t>(std::count(maps.begin(), maps.end(), '\n')),
                      Stream<md::MemoryInfoListHeader>(*d, md::kMemoryInfoListStream).entryCount);
            EXPECT_EQ(Text(*d, md::kLinuxProcStatusStream).rfind("Name:", 0), 0u);
            EXPECT_NE(Text(*d, md::kLinuxCpuInfoStream).find("processor"), std::string::npos);
        }
    }

    void Memory64() {
        if (!b_.Has(md::kMemory64ListStream)) return;
        SCOPED_TRACE("64-bit memory list");
        const auto before = Stream<md::Memory64ListHeader>(b_, md::kMemory64ListStream);
        const auto now = Stream<md::Memory64ListHeader>(n_, md::kMemory64ListStream);
        // The ranges' bytes follow everything else, from a 16-byte boundary
        // (the reference keeps everything up to them).
        EXPECT_EQ(Value(before.baseRva), b_.bytes.size());
        EXPECT_EQ(now.baseRva % 16, 0u);
        auto ranges = [&](const Dump& d, std::uint64_t* total) {
            std::set<std::tuple<std::string, std::uint64_t, std::uint64_t>> inModules;
            const auto list = Stream<md::Memory64ListHeader>(d, md::kMemory64ListStream);
            for (std::uint64_t i = 0; i < list.rangeCount; ++i) {
                const auto r =
                    d.Entry<md::MemoryDescriptor64, md::Memory64ListHeader>(md::kMemory64ListStream, i);
                *total += r.dataSize;
                const auto [module, offset] = Place(d, r.startOfMemoryRange, true);
                if (SameFile(module)) inModules.insert({module, offset, Value(r.dataSize)});
            }
            return inModules;
        };
        std::uint64_t beforeTotal = 0, nowTotal = 0;
        EXPECT_EQ(ranges(b_, &beforeTotal), ranges(n_, &nowTotal)) << "ranges of the modules";
        EXPECT_EQ(now.baseRva + nowTotal, n_.bytes.size());
    }

    const Dump& b_;
    const Dump& n_;
    bool sameKernel_ = false;
    bool sameCpu_ = false;
};

class DumpLayout : public crashtest::CrashedChild {
protected:
    void TearDown() override {
        for (const auto& path : paths_) unlink(path.c_str());
        crashtest::CrashedChild::TearDown();
    }

    // Today's dumps of the child, by dump type.
    std::vector<std::pair<std::uint32_t, std::string>> WriteDumps() {
        ulmarro::CrashedProcess p;
        Read(&p);
        std::vector<std::pair<std::uint32_t, std::string>> dumps;
        for (std::uint32_t type : Types()) {
            paths_.push_back(WriteDump(p, type));
            dumps.emplace_back(type, paths_.back());
        }
        return dumps;
    }

    // Full memory is left out under AddressSanitizer: its shadow memory
    // would all be read.
    static std::vector<std::uint32_t> Types() {
#if defined(__SANITIZE_ADDRESS__)
        return {0, ulmarro::kDumpWithDataSegments};
#else
        return {0, ulmarro::kDumpWithDataSegments, ulmarro::kDumpWithFullMemory};
#endif
    }

    std::vector<std::string> paths_;
};

// Keeps a dump as a reference; one with full memory only up to the bytes
// of its ranges.
void KeepReference(const Dump& d, const fs::path& to) {
    fs::create_directories(to.parent_path());
    std::uint64_t size = d.bytes.size();
    if (d.Has(md::kMemory64ListStream))
        size = d.Record<md::Memory64ListHeader>(d.Rva(md::kMemory64ListStream)).baseRva;
    std::ofstream(to, std::ios::binary)
        .write(reinterpret_cast<const char*>(d.bytes.data()), static_cast<std::streamsize>(size));
}

TEST_F(DumpLayout, SameStreamsAndRecordsAsTheWriterBefore) {
    if (skip_) GTEST_SKIP() << "ptrace is refused here";
    const char* keep = std::getenv("ULMARRO_WRITE_REFERENCE_DUMPS");
    for (const auto& [type, path] : WriteDumps()) {
        SCOPED_TRACE("dump type " + std::to_string(type));
        Dump now;
        ASSERT_TRUE(now.Load(path));
        if (keep) {
            KeepReference(now, fs::path(keep) / kFlavour / ReferencePath(type).filename());
            continue;
        }
        Dump before;
        ASSERT_TRUE(before.Load(ReferencePath(type).string())) << ReferencePath(type);
        Comparison(before, now).All();
    }
}

// Breakpad's processor reads both, and finds the same crash in the same
// number of modules.
TEST_F(DumpLayout, BreakpadReadsTheDumpsBeforeAndNow) {
    if (skip_) GTEST_SKIP() << "ptrace is refused here";
    const fs::path tools = BREAKPAD_TOOLS;
    if (!fs::exists(tools / "minidump_stackwalk"))
        GTEST_SKIP() << "Breakpad's tools are not installed in " << tools
                     << " (the crashhook.breakpad_tools test installs them)";
    // Runs a tool on a dump; its exit status and what it printed.
    auto run = [&](const std::string& tool, const std::string& options, const std::string& dump,
                   std::string* out) {
        const fs::path text = fs::temp_directory_path() / ("layout-" + std::to_string(getpid()) + ".txt");
        const std::string line =
            "'" + (tools / tool).string() + "' " + options + " '" + dump + "' > '" + text.string() + "' 2>&1";
        const int status = std::system(line.c_str());
        *out = ReadFile(text);
        fs::remove(text);
        return status;
    };
    for (const auto& [type, path] : WriteDumps()) {
        if (type == ulmarro::kDumpWithFullMemory) continue; // the reference lacks the ranges' bytes
        SCOPED_TRACE("dump type " + std::to_string(type));
        std::string walks[2];
        const std::string dumps[2] = {ReferencePath(type).string(), path};
        for (int i = 0; i < 2; ++i) {
            std::string text;
            EXPECT_EQ(run("minidump_dump", "", dumps[i], &text), 0) << dumps[i] << "\n"
                                                                    << text.substr(0, 2000);
            EXPECT_EQ(run("minidump_stackwalk", "-m", dumps[i], &walks[i]), 0) << dumps[i];
        }
        EXPECT_EQ(LinesStarting(walks[0], {"Crash|"}), LinesStarting(walks[1], {"Crash|"}));
        EXPECT_NE(LinesStarting(walks[1], {"Crash|SIGSEGV"}), "");
        auto modules = [](const std::string& walk) {
            const std::string lines = LinesStarting(walk, {"Module|"});
            return std::count(lines.begin(), lines.end(), '\n');
        };
        EXPECT_EQ(modules(walks[0]), modules(walks[1]));
        EXPECT_GT(modules(walks[1]), 2);
    }
}

} // namespace
