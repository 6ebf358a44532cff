// The report contents view: synthetic dumps of every stream kind, hostile
// dumps, and a dump the client's writer made of a real crashed child.

#include "dump_builder.h"
#include "minidump_view.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

using ulmarro::contents::HexDumpLine;
using ulmarro::contents::SectionList;

namespace {

std::vector<std::string> Lines(const SectionList& s) {
    std::vector<std::string> out;
    for (std::uint64_t i = 0; i < s.LineCount(); ++i) out.push_back(s.LineText(i));
    return out;
}

std::vector<std::string> SectionLines(const SectionList& s, std::size_t section) {
    std::vector<std::string> out;
    const auto& sec = s.Section(section);
    for (std::uint64_t i = 0; i < sec.LineCount(); ++i) out.push_back(sec.LineText(i));
    return out;
}

std::vector<std::uint8_t> Counting(std::size_t n, std::uint8_t first = 0x30) {
    std::vector<std::uint8_t> v(n);
    for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<std::uint8_t>(first + i);
    return v;
}

// A dump with every stream kind, used by several tests below.
std::vector<std::uint8_t> FullDump() {
    dumptest::Builder b;
    b.Exception(0xC0000005, 0, 0, 0x0040123A);
    b.System(2, 5, 1, 2600, "Service Pack 2");
    b.Modules({{"C:\\Program Files\\KORVELL\\qorb12.exe", 0x00400000, 0x20000, 0x1234, 0x3C00FF00, 0x00010015,
                0x00020003, 0x00010015, 0},
               {"C:\\WINDOWS\\system32\\kernel32.dll", 0x7C800000, 0xF6000, 0, 0x44AB9A84, 0x00050001,
                0x0A280B1E, 0x00050001, 0x0A280B1E}});
    b.Threads({{100, 0x0012FF00, dumptest::Bytes("AB\nC")}, {101, 0x00230000, Counting(17)}}, false);
    b.Threads({{102, 0x00340000, Counting(32), 1, 32, 8}}, true);
    b.MemoryList({{0x00401000, Counting(20)}, {0x00500000, {}}});
    b.Memory64List({{0x10000000, Counting(16, 0x61)}, {0x20000000, Counting(3, 0x41)}});
    return b.Finish();
}

} // namespace

TEST(HexDump, RowFormatWithPaddingAndCharacters) {
    const std::uint8_t row[] = {0x41, 0x42, 0x0A, 0x43};
    EXPECT_EQ(HexDumpLine(0x0012FF00, row, 4), "0012FF00: 41420A43 00000000 00000000 00000000 AB.C");
    // 127 is still shown as itself; from 128 on and below 32 as ".".
    std::vector<std::uint8_t> full = Counting(16, 0x7A);
    EXPECT_EQ(HexDumpLine(0xFFFFFFF0, full.data(), 16),
              "FFFFFFF0: 7A7B7C7D 7E7F8081 82838485 86878889 z{|}~\x7F..........");
    const std::uint8_t low[] = {0x00, 0x1F, 0x20};
    EXPECT_EQ(HexDumpLine(0, low, 3), "00000000: 001F2000 00000000 00000000 00000000 .. ");
    // A 64-bit address keeps all its digits.
    EXPECT_EQ(HexDumpLine(0x7FFC00001000, row, 1), "00007FFC00001000: 41000000 00000000 00000000 00000000 A");
}

TEST(Sections, StreamsInOrderWithTheirLines) {
    std::vector<std::uint8_t> dump = FullDump();
    SectionList s;
    s.Build(dump.data(), dump.size());
    // exception, system, 2 modules, 3 threads, 2 + 2 memory ranges
    ASSERT_EQ(s.SectionCount(), 11u);

    EXPECT_EQ(SectionLines(s, 0), (std::vector<std::string>{"Exception Information", "Code: ACCESS_VIOLATION",
                                                            "Flags: 0x00000000", "Record: 0x0000000000000000",
                                                            "Address: 0x000000000040123A", ""}));
    EXPECT_EQ(SectionLines(s, 1),
              (std::vector<std::string>{"System Information", "Windows XP Service Pack 2 (Build 2600)",
                                        "CPU Vendor Code: 0x756E6547 - 0x49656E69 - 0x6C65746E",
                                        "CPU Version: 0x000306A9  CPU Feature Code: 0xBFEBFBFF",
                                        "CPU AMD Feature Code: 0x28100800", ""}));
    EXPECT_EQ(
        SectionLines(s, 2),
        (std::vector<std::string>{"Module 1", "qorb12.exe", "Image Base: 0x00400000",
                                  "Image Size: 0x00020000", "Checksum: 0x00001234", "Time Stamp: 0x3C00FF00",
                                  "File Version: 1.21.2.3", "Product Version: 1.21.0.0", ""}));
    EXPECT_EQ(s.Section(3).LineText(0), "Module 2");
    EXPECT_EQ(s.Section(3).LineText(1), "kernel32.dll");
    EXPECT_EQ(s.Section(3).LineText(6), "File Version: 5.1.2600.2846");

    // Threads are numbered on from stream 3 into stream 8.
    EXPECT_EQ(SectionLines(s, 4),
              (std::vector<std::string>{
                  "Thread 1", "Thread ID: 100",
                  "Context:", "EAX: 11111111, EBX: 22222222, ECX: 33333333, EDX: 44444444",
                  "ESI: 55555555, EDI: 66666666, EBP: 77777777",
                  "CS:EIP: 001B:88888888, SS:ESP: 0023:99999999", "DS: 002B, ES: 0033, FS: 003B, GS: 0043",
                  "Stack:", "0012FF00: 41420A43 00000000 00000000 00000000 AB.C", ""}));
    // A 17-byte stack gives two rows, the second with one byte.
    const auto second = SectionLines(s, 5);
    ASSERT_EQ(second.size(), 2u + 9u);
    EXPECT_EQ(second[0], "Thread 2");
    EXPECT_EQ(second[8], "00230000: 30313233 34353637 38393A3B 3C3D3E3F 0123456789:;<=>?");
    EXPECT_EQ(second[9], "00230010: 40000000 00000000 00000000 00000000 @");
    const auto third = SectionLines(s, 6);
    ASSERT_EQ(third.size(), 2u + 12u);
    EXPECT_EQ(std::vector<std::string>(third.begin(), third.begin() + 6),
              (std::vector<std::string>{"Thread 3", "Thread ID: 102", "Suspend Count: 1",
                                        "Priority Class: 32", "Priority: 8", "Context:"}));
    EXPECT_EQ(third[6], "EAX: 11111111, EBX: 22222222, ECX: 33333333, EDX: 44444444");
    EXPECT_EQ(third[10], "Stack:");
    EXPECT_EQ(third[12], "00340010: 40414243 44454647 48494A4B 4C4D4E4F @ABCDEFGHIJKLMNO");

    // Memory ranges are numbered again, on from stream 5 into stream 9, and
    // the 64-bit list's data lie back to back.
    EXPECT_EQ(SectionLines(s, 7),
              (std::vector<std::string>{"Memory Range 1",
                                        "00401000: 30313233 34353637 38393A3B 3C3D3E3F 0123456789:;<=>?",
                                        "00401010: 40414243 00000000 00000000 00000000 @ABC", ""}));
    EXPECT_EQ(SectionLines(s, 8), (std::vector<std::string>{"Memory Range 2", ""}));
    EXPECT_EQ(SectionLines(s, 9)[0], "Memory Range 3");
    EXPECT_EQ(SectionLines(s, 9)[1], "10000000: 61626364 65666768 696A6B6C 6D6E6F70 abcdefghijklmnop");
    EXPECT_EQ(SectionLines(s, 10),
              (std::vector<std::string>{"Memory Range 4", "20000000: 41424300 00000000 00000000 00000000 ABC",
                                        ""}));

    // The whole view is the sections one after the other; past the end is empty.
    std::vector<std::string> all;
    for (std::size_t i = 0; i < s.SectionCount(); ++i) {
        auto l = SectionLines(s, i);
        all.insert(all.end(), l.begin(), l.end());
    }
    EXPECT_EQ(Lines(s), all);
    EXPECT_EQ(s.LineText(s.LineCount()), "");
    EXPECT_EQ(s.LineText(~0ull), "");
}

TEST(Sections, ExceptionCodesAndSystemNames) {
    struct Case {
        std::uint32_t platform, code, flags;
        const char* line;
    } cases[] = {
        {2, 0xC00000FD, 0, "Code: STACK_OVERFLOW"},
        {2, 0x80000003, 0, "Code: BREAKPOINT"},
        {2, 0xE06D7363, 0, "Code: 0xE06D7363"},
        {2, 11, 1, "Code: 0x0000000B"}, // a signal number means nothing on Windows
        // Linux: signal number and si_code.
        {0x8201, 11, 1, "Code: ACCESS_VIOLATION"},
        {0x8201, 8, 1, "Code: INT_DIVIDE_BY_ZERO"},
        {0x8201, 8, 3, "Code: FLT_DIVIDE_BY_ZERO"},
        {0x8201, 7, 1, "Code: DATATYPE_MISALIGNMENT"},
        {0x8201, 7, 2, "Code: IN_PAGE_ERROR"},
        {0x8201, 4, 5, "Code: PRIV_INSTRUCTION"},
        {0x8201, 4, 1, "Code: ILLEGAL_INSTRUCTION"},
        {0x8201, 5, 1, "Code: BREAKPOINT"},
        {0x8201, 6, static_cast<std::uint32_t>(-6), "Code: 0x00000006"},
    };
    for (const Case& c : cases) {
        dumptest::Builder b;
        b.Exception(c.code, c.flags, 0x1122334455667788ull, 0x10);
        b.System(c.platform, 6, 1, 0, "");
        auto dump = b.Finish();
        SectionList s;
        s.Build(dump.data(), dump.size());
        ASSERT_EQ(s.SectionCount(), 2u);
        EXPECT_EQ(s.Section(0).LineText(1), c.line) << std::hex << c.code;
        EXPECT_EQ(s.Section(0).LineText(3), "Record: 0x1122334455667788");
    }

    struct System {
        std::uint32_t platform, major, minor, build;
        const char* servicePack;
        const char* line;
    } systems[] = {
        {2, 5, 1, 2600, "", "Windows XP (Build 2600)"},
        {2, 5, 1, 2600, " SP3", "Windows XP SP3 (Build 2600)"},
        {2, 5, 0, 2195, "Service Pack 4", "Windows 2000 Service Pack 4 (Build 2195)"},
        {2, 5, 2, 3790, "", "Windows Server 2003 (Build 3790)"},
        {2, 6, 0, 6000, "", "Windows NT 6.0 (Build 6000)"},
        {1, 4, 0, 0x040003B6, "", "Windows 95 (Build 950)"},
        {1, 4, 10, 0x040A08AE, " A ", "Windows 98 A  (Build 2222)"},
        {1, 4, 90, 3000, "", "Windows Me (Build 3000)"},
        {1, 3, 51, 0, "", "Windows 3.51 (Build 0)"},
        {0x8201, 6, 1, 55, "Linux 6.1.55 #1 SMP x86_64", "Linux 6.1.55 #1 SMP x86_64"},
        {0x8201, 6, 1, 55, "", "Linux 6.1.55"},
    };
    for (const System& c : systems) {
        dumptest::Builder b;
        b.System(c.platform, c.major, c.minor, c.build, c.servicePack);
        auto dump = b.Finish();
        SectionList s;
        s.Build(dump.data(), dump.size());
        ASSERT_EQ(s.SectionCount(), 1u);
        EXPECT_EQ(s.Section(0).LineText(1), c.line);
    }
}

TEST(Sections, MissingStreamsAddNothing) {
    dumptest::Builder b;
    b.MemoryList({{0x1000, Counting(5)}});
    auto dump = b.Finish();
    SectionList s;
    s.Build(dump.data(), dump.size());
    ASSERT_EQ(s.SectionCount(), 1u);
    EXPECT_EQ(s.LineText(0), "Memory Range 1");
    EXPECT_EQ(s.LineCount(), 3u);
}

// Every prefix of a good dump, and dumps whose counts, offsets and sizes
// lie: sections shrink or vanish, nothing is read outside the file (the
// sanitizer build checks that).
TEST(Hostile, TruncatedAndLyingDumpsGivePartialLists) {
    const std::vector<std::uint8_t> dump = FullDump();
    SectionList full;
    full.Build(dump.data(), dump.size());
    for (std::size_t n = 0; n < dump.size(); n += 3) {
        std::vector<std::uint8_t> prefix(dump.begin(), dump.begin() + static_cast<long>(n));
        SectionList s;
        s.Build(prefix.data(), prefix.size());
        EXPECT_LE(s.SectionCount(), full.SectionCount());
        for (std::uint64_t i = 0; i < s.LineCount(); ++i) (void)s.LineText(i);
    }

    // Lying counts: a thread list claiming 2^32-1 entries, a 64-bit memory
    // list claiming 2^64-1 ranges of 2^64-1 bytes, a module whose name
    // length runs past the end, a stack and a context beyond the file.
    namespace md = dumptest::md;
    dumptest::Builder b;
    md::Thread lying{};
    lying.threadId = 7;
    lying.stack = {0x1000, {0xFFFFFFF0, 40}}; // stack data from offset 40: clipped to the file
    lying.threadContext = {716, 0xFFFFFF00};  // context beyond the file
    b.Stream(md::kThreadListStream, b.List(md::ListHeader{0xFFFFFFFF}, std::vector<md::Thread>{lying}),
             sizeof(md::ListHeader) + sizeof lying);
    const std::vector<md::MemoryDescriptor64> ranges{{0x5000, ~0ull}, {0x6000, 16}};
    b.Stream(md::kMemory64ListStream, b.List(md::Memory64ListHeader{~0ull, 0}, ranges),
             sizeof(md::Memory64ListHeader) + 2 * sizeof(md::MemoryDescriptor64));
    std::uint32_t name = b.Reserve(8);
    b.Put(name, md::StringHeader{0x7FFFFFFF});
    md::Module module{};
    module.moduleNameRva = name;
    std::uint32_t modules = b.List(md::ListHeader{1}, std::vector<md::Module>{module});
    b.Stream(md::kModuleListStream, modules, sizeof(md::ListHeader) + sizeof module);
    b.Stream(md::kExceptionStream, 0xFFFFFFF0, sizeof(md::ExceptionStream)); // beyond the file
    b.Stream(md::kSystemInfoStream, modules, 20);                            // too short
    auto bad = b.Finish();
    SectionList s;
    s.Build(bad.data(), bad.size());
    // One module (its name unreadable), one thread (no registers, the stack
    // clipped to the file), two ranges (the first clipped, the second starting
    // past the end).
    ASSERT_EQ(s.SectionCount(), 4u);
    EXPECT_EQ(s.Section(0).LineText(1), "");
    const auto& thread = s.Section(1);
    EXPECT_EQ(thread.LineText(2), "Context:");
    EXPECT_EQ(thread.LineText(3), "Stack:");
    const std::uint64_t rows = (bad.size() - 40 + 15) / 16;
    EXPECT_EQ(thread.LineCount(), 3 + 2 + rows);
    EXPECT_EQ(s.Section(2).LineCount(), (bad.size() + 15) / 16 + 2);
    EXPECT_EQ(s.Section(3).LineCount(), 2u);
    for (std::uint64_t i = 0; i < s.LineCount(); ++i) (void)s.LineText(i);

    // Not a dump at all.
    const std::string text = "MDMP? no, just text";
    s.Build(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    EXPECT_EQ(s.LineCount(), 0u);
}

TEST(Files, MappedFromDiskAndUnreadableFilesGiveAnEmptyList) {
    char path[] = "/tmp/contents-test-XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    {
        auto dump = FullDump();
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(dump.data()), static_cast<std::streamsize>(dump.size()));
    }
    SectionList s;
    EXPECT_TRUE(s.Open(path));
    EXPECT_EQ(s.SectionCount(), 11u);
    EXPECT_EQ(s.LineText(0), "Exception Information");
    std::remove(path);
    // The map stays valid while the list lives, also after the name is gone.
    EXPECT_EQ(s.Section(4).LineText(8), "0012FF00: 41420A43 00000000 00000000 00000000 AB.C");

    EXPECT_FALSE(s.Open("/nonexistent/dump.dmp"));
    EXPECT_EQ(s.LineCount(), 0u);
    EXPECT_FALSE(s.Open("/tmp")); // a directory
    EXPECT_EQ(s.LineCount(), 0u);
}

// A few megabytes that claim billions of lines: nothing per line or per
// section is kept, and every line asked for is the right one.
TEST(Claimed, BillionsOfLinesFromAFewMegabytes) {
    for (std::uint64_t claimed : {2ull, 3ull, 65539ull, 1000000ull, 1ull << 32}) {
        SCOPED_TRACE(claimed);
        dumptest::ClaimingDump dump(claimed);
        SectionList s;
        s.Build(dump.bytes.data(), dump.bytes.size());
        ASSERT_EQ(s.LineCount(), claimed);
        ASSERT_EQ(s.SectionCount(), dump.sizes.size());
        EXPECT_LT(s.IndexBytes(), dump.bytes.size() / 100 + 4096) << "the index is tiny next to the file";
        std::vector<std::uint64_t> probes = {0, 1, claimed / 2, claimed / 2 + 1, claimed - 2, claimed - 1};
        for (std::uint64_t k = 1; k < 64; ++k) probes.push_back(claimed / 64 * k + k * 977 % 4099);
        for (std::uint64_t line : probes) {
            if (line >= claimed) continue;
            std::uint64_t range = 0, row = 0;
            std::string expected;
            if (dump.Where(line, &range, &row))
                expected = row == 0
                               ? "Memory Range " + std::to_string(range + 1)
                               : HexDumpLine(dumptest::ClaimingDump::Address(range, row - 1),
                                             dump.bytes.data() + 32 + 16 * (row - 1),
                                             std::min<std::size_t>(16, dump.sizes[range] - 16 * (row - 1)));
            EXPECT_EQ(s.LineText(line), expected) << "line " << line;
        }
        EXPECT_EQ(s.LineText(claimed), "");
    }
}

// Ranges of many lengths in both memory lists and in more entries than the
// index remembers: each line found through the whole list is the line its
// section gives.
TEST(Claimed, LinesOfTheListAgreeWithTheirSections) {
    dumptest::Builder b;
    std::vector<dumptest::Builder::Range> ranges, ranges64;
    for (std::size_t i = 0; i < 700; ++i) ranges.push_back({0x1000u * i, Counting(i * 37 % 200)});
    for (std::size_t i = 0; i < 900; ++i)
        ranges64.push_back({0x80000000u + 0x1000u * i, Counting(i * 53 % 300)});
    std::vector<dumptest::Builder::Thread> threads;
    for (std::uint32_t i = 0; i < 300; ++i) threads.push_back({i, 0x10000u * i, Counting(i % 90)});
    b.Threads(threads, false);
    b.MemoryList(ranges);
    b.Memory64List(ranges64);
    auto dump = b.Finish();
    SectionList s;
    s.Build(dump.data(), dump.size());
    ASSERT_EQ(s.SectionCount(), 300u + 700 + 900);
    std::vector<std::string> bySection;
    for (std::size_t i = 0; i < s.SectionCount(); ++i)
        for (const std::string& line : SectionLines(s, i)) bySection.push_back(line);
    EXPECT_EQ(Lines(s), bySection);
    EXPECT_EQ(SectionLines(s, 300 + 700 + 899)[0], "Memory Range 1600");
    EXPECT_EQ(SectionLines(s, 300 + 700 + 899)[1],
              HexDumpLine(0x80000000u + 0x1000u * 899, Counting(899 * 53 % 300).data(), 16));
    EXPECT_EQ(s.Section(s.SectionCount()).LineCount(), 0u);
}
