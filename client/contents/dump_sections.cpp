#include "dump_sections.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace ulmarro::contents {

namespace sections {

std::string Format(const char* pattern, ...) {
    char buffer[256];
    va_list args;
    va_start(args, pattern);
    int n = std::vsnprintf(buffer, sizeof buffer, pattern, args);
    va_end(args);
    if (n < 0) return {};
    return std::string(buffer, static_cast<std::size_t>(std::min<int>(n, sizeof buffer - 1)));
}

namespace {

// Addresses of 32-bit processes keep their eight digits; larger ones need 16.
std::string Address(std::uint64_t a) {
    return a > 0xFFFFFFFFu ? Format("%016llX", ULL(a)) : Format("%08X", static_cast<unsigned>(a));
}

} // namespace
} // namespace sections

using namespace sections;

std::string HexDumpLine(std::uint64_t address, const std::uint8_t* bytes, std::size_t count) {
    static const char hex[] = "0123456789ABCDEF";
    count = std::min<std::size_t>(count, 16);
    std::string line = Address(address);
    line += ": ";
    for (std::size_t i = 0; i < 16; ++i) {
        std::uint8_t b = i < count ? bytes[i] : 0;
        line += hex[b >> 4];
        line += hex[b & 0xF];
        if (i % 4 == 3) line += ' ';
    }
    for (std::size_t i = 0; i < count; ++i)
        line += bytes[i] < 32 || bytes[i] >= 128 ? '.' : static_cast<char>(bytes[i]);
    return line;
}

namespace sections {
namespace {

// ---------------------------------------------------------------------------
// Register lines by the context's processor

Context FindContext(const DumpBytes& dump, std::uint32_t size, std::uint32_t rva) {
    // Only the flags are read here: this runs for every thread of a list
    // while the view is built.
    auto is = [&](std::size_t contextSize, std::size_t flagsAt, std::uint32_t cpu) {
        return size >= contextSize && dump.Has(rva, contextSize) &&
               (dump.U32(rva + flagsAt) & md::kContextCpuMask) == cpu;
    };
    Context c;
    c.offset = rva;
    if (is(sizeof(md::ContextAmd64), offsetof(md::ContextAmd64, contextFlags), md::kContextAmd64))
        c.kind = ContextKind::Amd64;
    else if (is(sizeof(md::ContextX86), offsetof(md::ContextX86, contextFlags), md::kContextX86))
        c.kind = ContextKind::X86;
    else if (is(sizeof(md::ContextArm64), offsetof(md::ContextArm64, contextFlags), md::kContextArm64))
        c.kind = ContextKind::Arm64;
    else if (is(sizeof(md::ContextArm64Old), offsetof(md::ContextArm64Old, contextFlags),
                md::kContextArm64Old))
        c.kind = ContextKind::Arm64Old;
    return c;
}

std::uint64_t RegisterLineCount(ContextKind kind) {
    switch (kind) {
    case ContextKind::X86: return 4;
    case ContextKind::Amd64: return 6;
    case ContextKind::Arm64:
    case ContextKind::Arm64Old: return 9;
    case ContextKind::None: break;
    }
    return 0;
}

std::string X86Line(const md::ContextX86& r, std::uint64_t line) {
    auto u = [](std::uint32_t v) { return static_cast<unsigned>(v); };
    switch (line) {
    case 0:
        return Format("EAX: %08X, EBX: %08X, ECX: %08X, EDX: %08X", u(r.eax), u(r.ebx), u(r.ecx), u(r.edx));
    case 1: return Format("ESI: %08X, EDI: %08X, EBP: %08X", u(r.esi), u(r.edi), u(r.ebp));
    case 2:
        return Format("CS:EIP: %04X:%08X, SS:ESP: %04X:%08X", u(r.cs) & 0xFFFF, u(r.eip), u(r.ss) & 0xFFFF,
                      u(r.esp));
    case 3:
        return Format("DS: %04X, ES: %04X, FS: %04X, GS: %04X", u(r.ds) & 0xFFFF, u(r.es) & 0xFFFF,
                      u(r.fs) & 0xFFFF, u(r.gs) & 0xFFFF);
    }
    return {};
}

std::string Amd64Line(const md::ContextAmd64& r, std::uint64_t line) {
    auto s = [](std::uint16_t v) { return static_cast<unsigned>(v); };
    switch (line) {
    case 0:
        return Format("RAX: %016llX, RBX: %016llX, RCX: %016llX, RDX: %016llX", ULL(r.rax), ULL(r.rbx),
                      ULL(r.rcx), ULL(r.rdx));
    case 1: return Format("RSI: %016llX, RDI: %016llX, RBP: %016llX", ULL(r.rsi), ULL(r.rdi), ULL(r.rbp));
    case 2:
        return Format("R8: %016llX, R9: %016llX, R10: %016llX, R11: %016llX", ULL(r.r8), ULL(r.r9),
                      ULL(r.r10), ULL(r.r11));
    case 3:
        return Format("R12: %016llX, R13: %016llX, R14: %016llX, R15: %016llX", ULL(r.r12), ULL(r.r13),
                      ULL(r.r14), ULL(r.r15));
    case 4:
        return Format("CS:RIP: %04X:%016llX, SS:RSP: %04X:%016llX", s(r.cs), ULL(r.rip), s(r.ss), ULL(r.rsp));
    case 5: return Format("DS: %04X, ES: %04X, FS: %04X, GS: %04X", s(r.ds), s(r.es), s(r.fs), s(r.gs));
    }
    return {};
}

// Both ARM64 layouts keep x0..x28, fp, lr, sp, pc as 33 words; they differ
// in where the status register is.
std::string Arm64Line(const std::uint64_t (&x)[md::kArm64Registers], std::uint32_t cpsr, std::uint64_t line) {
    if (line < 7) {
        unsigned n = static_cast<unsigned>(line) * 4;
        return Format("X%u: %016llX, X%u: %016llX, X%u: %016llX, X%u: %016llX", n, ULL(x[n]), n + 1,
                      ULL(x[n + 1]), n + 2, ULL(x[n + 2]), n + 3, ULL(x[n + 3]));
    }
    if (line == 7)
        return Format("X28: %016llX, FP: %016llX, LR: %016llX", ULL(x[28]), ULL(x[29]), ULL(x[30]));
    if (line == 8)
        return Format("SP: %016llX, PC: %016llX, CPSR: %08X", ULL(x[md::kArm64Sp]), ULL(x[md::kArm64Pc]),
                      static_cast<unsigned>(cpsr));
    return {};
}

std::string RegisterLine(const DumpBytes& d, const Context& c, std::uint64_t line) {
    std::uint64_t x[md::kArm64Registers];
    switch (c.kind) {
    case ContextKind::X86: return X86Line(d.Record<md::ContextX86>(c.offset), line);
    case ContextKind::Amd64: return Amd64Line(d.Record<md::ContextAmd64>(c.offset), line);
    case ContextKind::Arm64: {
        const auto r = d.Record<md::ContextArm64>(c.offset);
        std::memcpy(x, r.x, sizeof x);
        return Arm64Line(x, r.cpsr, line);
    }
    case ContextKind::Arm64Old: {
        const auto r = d.Record<md::ContextArm64Old>(c.offset);
        std::memcpy(x, r.x, sizeof x);
        return Arm64Line(x, r.cpsr, line);
    }
    case ContextKind::None: break;
    }
    return {};
}

std::string HexRow(const MemoryBlock& b, std::uint64_t row) {
    std::uint64_t offset = row * 16;
    if (offset >= b.size) return {};
    return HexDumpLine(b.address + offset, b.bytes + offset,
                       static_cast<std::size_t>(std::min<std::uint64_t>(16, b.size - offset)));
}

std::string VersionLine(const char* what, std::uint32_t hi, std::uint32_t lo) {
    return Format("%s: %u.%u.%u.%u", what, static_cast<unsigned>(hi >> 16),
                  static_cast<unsigned>(hi & 0xFFFF), static_cast<unsigned>(lo >> 16),
                  static_cast<unsigned>(lo & 0xFFFF));
}

// Names of the Windows versions the format knows, by platform and version.
struct WindowsVersion {
    bool nt;
    unsigned major, minor;
    const char* name;
};
constexpr WindowsVersion kWindowsVersions[] = {
    {true, 5, 0, "2000"}, {true, 5, 1, "XP"},   {true, 5, 2, "Server 2003"},
    {false, 4, 0, "95"},  {false, 4, 10, "98"}, {false, 4, 90, "Me"},
};

} // namespace

MemoryBlock Block(const DumpBytes& dump, std::uint64_t address, std::uint64_t size, std::uint64_t rva) {
    MemoryBlock b;
    b.address = address;
    if (rva >= dump.size()) return b;
    b.size = std::min<std::uint64_t>(size, dump.size() - rva);
    b.bytes = b.size ? dump.At(rva, b.size) : nullptr;
    if (!b.bytes) b.size = 0;
    return b;
}

// ---------------------------------------------------------------------------
// Sections

std::string ExceptionSection::LineText(std::uint64_t i) const {
    const md::ExceptionRecord& r = e_.exceptionRecord;
    const std::uint32_t code = r.exceptionCode, flags = r.exceptionFlags;
    switch (i) {
    case 0: return "Exception Information";
    case 1: {
        std::string name = ExceptionName(code, flags, platform_);
        return name.empty() ? Format("Code: 0x%08X", code) : "Code: " + name;
    }
    case 2: return Format("Flags: 0x%08X", flags);
    case 3: return Format("Record: 0x%016llX", ULL(r.exceptionRecord));
    case 4: return Format("Address: 0x%016llX", ULL(r.exceptionAddress));
    }
    return {};
}

std::string SystemSection::LineText(std::uint64_t i) const {
    const md::CpuInformation& cpu = s_.cpu;
    auto u = [](std::uint32_t v) { return static_cast<unsigned>(v); };
    switch (i) {
    case 0: return "System Information";
    case 1: return SystemLine();
    case 2:
        return Format("CPU Vendor Code: 0x%08X - 0x%08X - 0x%08X", u(cpu.vendorId[0]), u(cpu.vendorId[1]),
                      u(cpu.vendorId[2]));
    case 3:
        return Format("CPU Version: 0x%08X  CPU Feature Code: 0x%08X", u(cpu.versionInformation),
                      u(cpu.featureInformation));
    case 4: return Format("CPU AMD Feature Code: 0x%08X", u(cpu.amdExtendedCpuFeatures));
    }
    return {};
}

std::string SystemSection::SystemLine() const {
    const unsigned major = s_.majorVersion, minor = s_.minorVersion, build = s_.buildNumber;
    const std::uint32_t platform = s_.platformId;
    const std::string servicePack = d_.Utf16String(s_.csdVersionRva);
    if (platform == md::kPlatformLinux) {
        // The writer keeps the kernel's own description ("Linux 6.1.0 #1
        // SMP ... x86_64") where Windows keeps its service pack.
        return servicePack.empty() ? Format("Linux %u.%u.%u", major, minor, build) : servicePack;
    }
    const bool nt = platform == md::kPlatformWin32Nt;
    std::string name = nt ? Format("NT %u.%u", major, minor) : Format("%u.%u", major, minor);
    for (const WindowsVersion& v : kWindowsVersions)
        if (v.nt == nt && v.major == major && v.minor == minor) name = v.name;
    if (!servicePack.empty()) {
        if (servicePack[0] != ' ') name += ' ';
        name += servicePack;
    }
    const int shownBuild = nt ? static_cast<int>(build) : static_cast<int>(build & 0xFFFF);
    // Built without the fixed-size buffer: the service-pack string can be long.
    return "Windows " + name + Format(" (Build %d)", shownBuild);
}

std::string ModuleSection::LineText(std::uint64_t i) const {
    const md::FixedFileInfo& v = m_.versionInfo;
    switch (i) {
    case 0: return Format("Module %llu", ULL(number_));
    case 1: {
        std::string name = d_.Utf16String(m_.moduleNameRva);
        std::size_t cut = name.find_last_of("\\/");
        return cut == std::string::npos ? name : name.substr(cut + 1);
    }
    case 2: return "Image Base: 0x" + Address(m_.baseOfImage);
    case 3: return Format("Image Size: 0x%08X", static_cast<unsigned>(m_.sizeOfImage));
    case 4: return Format("Checksum: 0x%08X", static_cast<unsigned>(m_.checksum));
    case 5: return Format("Time Stamp: 0x%08X", static_cast<unsigned>(m_.timeDateStamp));
    case 6: return VersionLine("File Version", v.fileVersionHi, v.fileVersionLo);
    case 7: return VersionLine("Product Version", v.productVersionHi, v.productVersionLo);
    }
    return {};
}

ThreadSection::ThreadSection(const DumpBytes& d, std::uint64_t at, std::uint64_t number, bool extended)
    : d_(d), t_(d.Record<md::Thread>(at)), number_(number), extended_(extended) {
    stack_ = Block(d, t_.stack.startOfMemoryRange, t_.stack.memory.dataSize, t_.stack.memory.rva);
    context_ = FindContext(d, t_.threadContext.dataSize, t_.threadContext.rva);
    registers_ = RegisterLineCount(context_.kind);
}

std::string ThreadSection::LineText(std::uint64_t i) const {
    const std::uint64_t head = Head();
    if (i == 0) return Format("Thread %llu", ULL(number_));
    if (i == 1) return Format("Thread ID: %u", static_cast<unsigned>(t_.threadId));
    if (extended_ && i == 2) return Format("Suspend Count: %u", static_cast<unsigned>(t_.suspendCount));
    if (extended_ && i == 3) return Format("Priority Class: %u", static_cast<unsigned>(t_.priorityClass));
    if (extended_ && i == 4) return Format("Priority: %u", static_cast<unsigned>(t_.priority));
    if (i == head - 1) return "Context:";
    if (i < head + registers_) return RegisterLine(d_, context_, i - head);
    if (i == head + registers_) return "Stack:";
    return HexRow(stack_, i - head - registers_ - 1);
}

std::string MemorySection::LineText(std::uint64_t i) const {
    if (i == 0) return Format("Memory Range %llu", ULL(number_));
    return HexRow(block_, i - 1);
}

} // namespace sections
} // namespace ulmarro::contents
