#include "minidump_view.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ulmarro::contents {

// ---------------------------------------------------------------------------
// Bounded reads

std::uint16_t DumpBytes::U16(std::uint64_t offset) const {
    const std::uint8_t* p = At(offset, 2);
    return p ? static_cast<std::uint16_t>(p[0] | p[1] << 8) : 0;
}

std::uint32_t DumpBytes::U32(std::uint64_t offset) const {
    const std::uint8_t* p = At(offset, 4);
    if (!p) return 0;
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::uint64_t DumpBytes::U64(std::uint64_t offset) const {
    if (!Has(offset, 8)) return 0;
    return U32(offset) | static_cast<std::uint64_t>(U32(offset + 4)) << 32;
}

namespace {

void AppendUtf8(std::string& out, std::uint32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | c >> 6);
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | c >> 12);
        out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | c >> 18);
        out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

} // namespace

std::string DumpBytes::Utf16String(std::uint64_t offset) const {
    if (!Has(offset, 4)) return {};
    std::uint64_t length = U32(offset) & ~std::uint64_t{1};
    const std::uint8_t* p = At(offset + 4, length);
    if (!p) return {};
    std::string out;
    out.reserve(length / 2);
    for (std::uint64_t i = 0; i + 1 < length; i += 2) {
        std::uint32_t c = static_cast<std::uint32_t>(p[i] | p[i + 1] << 8);
        if (c >= 0xD800 && c < 0xDC00 && i + 3 < length) {
            std::uint32_t low = static_cast<std::uint32_t>(p[i + 2] | p[i + 3] << 8);
            if (low >= 0xDC00 && low < 0xE000) {
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                i += 2;
            } else {
                c = 0xFFFD;
            }
        } else if (c >= 0xD800 && c < 0xE000) {
            c = 0xFFFD; // a lone surrogate
        }
        if (c == 0) break;
        AppendUtf8(out, c);
    }
    return out;
}

// ---------------------------------------------------------------------------
// Line formatting

namespace {

std::string Format(const char* pattern, ...) __attribute__((format(printf, 1, 2)));

std::string Format(const char* pattern, ...) {
    char buffer[256];
    va_list args;
    va_start(args, pattern);
    int n = std::vsnprintf(buffer, sizeof buffer, pattern, args);
    va_end(args);
    if (n < 0) return {};
    return std::string(buffer, static_cast<std::size_t>(std::min<int>(n, sizeof buffer - 1)));
}

unsigned long long ULL(std::uint64_t v) {
    return static_cast<unsigned long long>(v);
}

// Addresses of 32-bit processes keep their eight digits; larger ones need 16.
std::string Address(std::uint64_t a) {
    return a > 0xFFFFFFFFu ? Format("%016llX", ULL(a)) : Format("%08X", static_cast<unsigned>(a));
}

} // namespace

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

std::string ExceptionName(std::uint32_t code, std::uint32_t flags, std::uint32_t platform) {
    if (platform == kPlatformLinux) {
        // Signal number and si_code, mapped onto the exception they stand for.
        switch (code) {
        case 11:
            code = 0xC0000005;
            break; // SIGSEGV
        case 7:
            code = flags == 1 ? 0x80000002 : 0xC0000006;
            break; // SIGBUS: BUS_ADRALN or other
        case 4:
            code = flags == 5 || flags == 6 ? 0xC0000096 : 0xC000001D;
            break; // SIGILL
        case 8:    // SIGFPE
            switch (flags) {
            case 1:
                code = 0xC0000094;
                break;
            case 2:
                code = 0xC0000095;
                break;
            case 3:
                code = 0xC000008E;
                break;
            case 4:
                code = 0xC0000091;
                break;
            case 5:
                code = 0xC0000093;
                break;
            case 6:
                code = 0xC000008F;
                break;
            case 7:
                code = 0xC0000090;
                break;
            case 8:
                code = 0xC000008C;
                break;
            default:
                return {};
            }
            break;
        case 5: // SIGTRAP
            if (flags == 1)
                code = 0x80000003;
            else if (flags == 2)
                code = 0x80000004;
            else
                return {};
            break;
        default:
            return {};
        }
    }
    struct Entry {
        std::uint32_t code;
        const char* name;
    };
    static const Entry table[] = {
        {0x80000001, "GUARD_PAGE"},
        {0x80000002, "DATATYPE_MISALIGNMENT"},
        {0x80000003, "BREAKPOINT"},
        {0x80000004, "SINGLE_STEP"},
        {0xC0000005, "ACCESS_VIOLATION"},
        {0xC0000006, "IN_PAGE_ERROR"},
        {0xC0000008, "INVALID_HANDLE"},
        {0xC000001D, "ILLEGAL_INSTRUCTION"},
        {0xC0000025, "NONCONTINUABLE_EXCEPTION"},
        {0xC0000026, "INVALID_DISPOSITION"},
        {0xC000008C, "ARRAY_BOUNDS_EXCEEDED"},
        {0xC000008D, "FLT_DENORMAL_OPERAND"},
        {0xC000008E, "FLT_DIVIDE_BY_ZERO"},
        {0xC000008F, "FLT_INEXACT_RESULT"},
        {0xC0000090, "FLT_INVALID_OPERATION"},
        {0xC0000091, "FLT_OVERFLOW"},
        {0xC0000092, "FLT_STACK_CHECK"},
        {0xC0000093, "FLT_UNDERFLOW"},
        {0xC0000094, "INT_DIVIDE_BY_ZERO"},
        {0xC0000095, "INT_OVERFLOW"},
        {0xC0000096, "PRIV_INSTRUCTION"},
        {0xC00000FD, "STACK_OVERFLOW"},
    };
    auto it = std::lower_bound(std::begin(table), std::end(table), code,
                               [](const Entry& e, std::uint32_t c) { return e.code < c; });
    return it != std::end(table) && it->code == code ? it->name : std::string();
}

namespace {

// ---------------------------------------------------------------------------
// Register lines by the context's processor

enum class ContextKind { None, X86, Amd64, Arm64, Arm64Old };

constexpr std::uint64_t kX86ContextSize = 716;
constexpr std::uint64_t kAmd64ContextSize = 1232;
constexpr std::uint64_t kArm64ContextSize = 912;
constexpr std::uint64_t kArm64OldContextSize = 796;

struct Context {
    ContextKind kind = ContextKind::None;
    std::uint64_t offset = 0;
};

Context FindContext(const DumpBytes& dump, std::uint32_t size, std::uint32_t rva) {
    Context c;
    c.offset = rva;
    auto cpu = [](std::uint32_t flags) { return flags & 0xFFFF0000u; };
    if (size >= kAmd64ContextSize && dump.Has(rva, kAmd64ContextSize) &&
        cpu(dump.U32(rva + 48)) == 0x00100000)
        c.kind = ContextKind::Amd64;
    else if (size >= kX86ContextSize && dump.Has(rva, kX86ContextSize) && cpu(dump.U32(rva)) == 0x00010000)
        c.kind = ContextKind::X86;
    else if (size >= kArm64ContextSize && dump.Has(rva, kArm64ContextSize) &&
             cpu(dump.U32(rva)) == 0x00400000)
        c.kind = ContextKind::Arm64;
    else if (size >= kArm64OldContextSize && dump.Has(rva, kArm64OldContextSize) &&
             cpu(dump.U32(rva)) == 0x80000000)
        c.kind = ContextKind::Arm64Old;
    return c;
}

std::uint64_t RegisterLineCount(ContextKind kind) {
    switch (kind) {
    case ContextKind::X86:
        return 4;
    case ContextKind::Amd64:
        return 6;
    case ContextKind::Arm64:
    case ContextKind::Arm64Old:
        return 9;
    case ContextKind::None:
        break;
    }
    return 0;
}

std::string RegisterLine(const DumpBytes& d, const Context& c, std::uint64_t line) {
    const std::uint64_t o = c.offset;
    switch (c.kind) {
    case ContextKind::X86: {
        auto r = [&](unsigned at) { return static_cast<unsigned>(d.U32(o + at)); };
        switch (line) {
        case 0:
            return Format("EAX: %08X, EBX: %08X, ECX: %08X, EDX: %08X", r(176), r(164), r(172), r(168));
        case 1:
            return Format("ESI: %08X, EDI: %08X, EBP: %08X", r(160), r(156), r(180));
        case 2:
            return Format("CS:EIP: %04X:%08X, SS:ESP: %04X:%08X", r(188) & 0xFFFF, r(184), r(200) & 0xFFFF,
                          r(196));
        case 3:
            return Format("DS: %04X, ES: %04X, FS: %04X, GS: %04X", r(152) & 0xFFFF, r(148) & 0xFFFF,
                          r(144) & 0xFFFF, r(140) & 0xFFFF);
        }
        break;
    }
    case ContextKind::Amd64: {
        auto q = [&](unsigned at) { return ULL(d.U64(o + at)); };
        auto s = [&](unsigned at) { return static_cast<unsigned>(d.U16(o + at)); };
        switch (line) {
        case 0:
            return Format("RAX: %016llX, RBX: %016llX, RCX: %016llX, RDX: %016llX", q(120), q(144), q(128),
                          q(136));
        case 1:
            return Format("RSI: %016llX, RDI: %016llX, RBP: %016llX", q(168), q(176), q(160));
        case 2:
            return Format("R8: %016llX, R9: %016llX, R10: %016llX, R11: %016llX", q(184), q(192), q(200),
                          q(208));
        case 3:
            return Format("R12: %016llX, R13: %016llX, R14: %016llX, R15: %016llX", q(216), q(224), q(232),
                          q(240));
        case 4:
            return Format("CS:RIP: %04X:%016llX, SS:RSP: %04X:%016llX", s(56), q(248), s(66), q(152));
        case 5:
            return Format("DS: %04X, ES: %04X, FS: %04X, GS: %04X", s(58), s(60), s(62), s(64));
        }
        break;
    }
    case ContextKind::Arm64:
    case ContextKind::Arm64Old: {
        // Both layouts keep x0..x28, fp, lr, sp, pc as 33 words; they differ
        // in where the words start and where the status register is.
        const bool old = c.kind == ContextKind::Arm64Old;
        const std::uint64_t regs = o + 8;
        auto x = [&](unsigned n) { return ULL(d.U64(regs + 8 * n)); };
        const unsigned cpsr = static_cast<unsigned>(old ? d.U32(regs + 33 * 8) : d.U32(o + 4));
        if (line < 7) {
            unsigned n = static_cast<unsigned>(line) * 4;
            return Format("X%u: %016llX, X%u: %016llX, X%u: %016llX, X%u: %016llX", n, x(n), n + 1, x(n + 1),
                          n + 2, x(n + 2), n + 3, x(n + 3));
        }
        if (line == 7) return Format("X28: %016llX, FP: %016llX, LR: %016llX", x(28), x(29), x(30));
        if (line == 8) return Format("SP: %016llX, PC: %016llX, CPSR: %08X", x(31), x(32), cpsr);
        break;
    }
    case ContextKind::None:
        break;
    }
    return {};
}

// A memory block whose bytes may lie (partly) outside the file keeps only
// the part that is really there.
MemoryBlock Block(const DumpBytes& dump, std::uint64_t address, std::uint64_t size, std::uint64_t rva) {
    MemoryBlock b;
    b.address = address;
    if (rva >= dump.size()) return b;
    b.size = std::min<std::uint64_t>(size, dump.size() - rva);
    b.bytes = b.size ? dump.At(rva, b.size) : nullptr;
    if (!b.bytes) b.size = 0;
    return b;
}

std::string HexRow(const MemoryBlock& b, std::uint64_t row) {
    std::uint64_t offset = row * 16;
    if (offset >= b.size) return {};
    return HexDumpLine(b.address + offset, b.bytes + offset,
                       static_cast<std::size_t>(std::min<std::uint64_t>(16, b.size - offset)));
}

// ---------------------------------------------------------------------------
// Sections: each is made on the spot from its place in the file, asked for a
// line count or a line, and dropped.

class ReportSection {
  public:
    virtual ~ReportSection() = default;
    virtual std::uint64_t LineCount() const = 0;
    virtual std::string LineText(std::uint64_t index) const = 0;
};

class ExceptionSection : public ReportSection {
  public:
    ExceptionSection(const DumpBytes& d, std::uint64_t at, std::uint32_t platform)
        : d_(d), at_(at), platform_(platform) {}
    std::uint64_t LineCount() const override { return 6; }
    std::string LineText(std::uint64_t i) const override {
        const std::uint32_t code = d_.U32(at_ + 8), flags = d_.U32(at_ + 12);
        switch (i) {
        case 0:
            return "Exception Information";
        case 1: {
            std::string name = ExceptionName(code, flags, platform_);
            return name.empty() ? Format("Code: 0x%08X", code) : "Code: " + name;
        }
        case 2:
            return Format("Flags: 0x%08X", flags);
        case 3:
            return Format("Record: 0x%016llX", ULL(d_.U64(at_ + 16)));
        case 4:
            return Format("Address: 0x%016llX", ULL(d_.U64(at_ + 24)));
        }
        return {};
    }

  private:
    DumpBytes d_;
    std::uint64_t at_;
    std::uint32_t platform_;
};

class SystemSection : public ReportSection {
  public:
    SystemSection(const DumpBytes& d, std::uint64_t at) : d_(d), at_(at) {}
    std::uint64_t LineCount() const override { return 6; }
    std::string LineText(std::uint64_t i) const override {
        auto u = [&](unsigned offset) { return static_cast<unsigned>(d_.U32(at_ + offset)); };
        switch (i) {
        case 0:
            return "System Information";
        case 1:
            return SystemLine();
        case 2:
            return Format("CPU Vendor Code: 0x%08X - 0x%08X - 0x%08X", u(32), u(36), u(40));
        case 3:
            return Format("CPU Version: 0x%08X  CPU Feature Code: 0x%08X", u(44), u(48));
        case 4:
            return Format("CPU AMD Feature Code: 0x%08X", u(52));
        }
        return {};
    }

  private:
    std::string SystemLine() const {
        const unsigned major = d_.U32(at_ + 8), minor = d_.U32(at_ + 12), build = d_.U32(at_ + 16);
        const std::uint32_t platform = d_.U32(at_ + 20);
        const std::string servicePack = d_.Utf16String(d_.U32(at_ + 24));
        if (platform == kPlatformLinux) {
            // The writer keeps the kernel's own description ("Linux 6.1.0 #1
            // SMP ... x86_64") where Windows keeps its service pack.
            return servicePack.empty() ? Format("Linux %u.%u.%u", major, minor, build) : servicePack;
        }
        std::string name;
        if (platform == kPlatformWin32Nt) {
            if (major == 5 && minor == 0)
                name = "2000";
            else if (major == 5 && minor == 1)
                name = "XP";
            else if (major == 5 && minor == 2)
                name = "Server 2003";
            else
                name = Format("NT %u.%u", major, minor);
        } else {
            if (major == 4 && minor == 0)
                name = "95";
            else if (major == 4 && minor == 10)
                name = "98";
            else if (major == 4 && minor == 90)
                name = "Me";
            else
                name = Format("%u.%u", major, minor);
        }
        if (!servicePack.empty()) {
            if (servicePack[0] != ' ') name += ' ';
            name += servicePack;
        }
        const int shownBuild =
            platform == kPlatformWin32Nt ? static_cast<int>(build) : static_cast<int>(build & 0xFFFF);
        // Built without the fixed-size buffer: the service-pack string can be long.
        return "Windows " + name + Format(" (Build %d)", shownBuild);
    }

    DumpBytes d_;
    std::uint64_t at_;
};

class ModuleSection : public ReportSection {
  public:
    ModuleSection(const DumpBytes& d, std::uint64_t at, std::uint64_t number) : d_(d), at_(at), number_(number) {}
    std::uint64_t LineCount() const override { return 9; }
    std::string LineText(std::uint64_t i) const override {
        auto u = [&](unsigned offset) { return static_cast<unsigned>(d_.U32(at_ + offset)); };
        auto version = [&](const char* what, unsigned hi, unsigned lo) {
            return Format("%s: %u.%u.%u.%u", what, u(hi) >> 16, u(hi) & 0xFFFF, u(lo) >> 16, u(lo) & 0xFFFF);
        };
        switch (i) {
        case 0:
            return Format("Module %llu", ULL(number_));
        case 1: {
            std::string name = d_.Utf16String(u(20));
            std::size_t cut = name.find_last_of("\\/");
            return cut == std::string::npos ? name : name.substr(cut + 1);
        }
        case 2:
            return "Image Base: 0x" + Address(d_.U64(at_));
        case 3:
            return Format("Image Size: 0x%08X", u(8));
        case 4:
            return Format("Checksum: 0x%08X", u(12));
        case 5:
            return Format("Time Stamp: 0x%08X", u(16));
        case 6:
            return version("File Version", 32, 36);
        case 7:
            return version("Product Version", 40, 44);
        }
        return {};
    }

  private:
    DumpBytes d_;
    std::uint64_t at_;
    std::uint64_t number_;
};

class ThreadSection : public ReportSection {
  public:
    ThreadSection(const DumpBytes& d, std::uint64_t at, std::uint64_t number, bool extended)
        : d_(d), at_(at), number_(number), extended_(extended) {
        stack_ = Block(d, d.U64(at + 24), d.U32(at + 32), d.U32(at + 36));
        context_ = FindContext(d, d.U32(at + 40), d.U32(at + 44));
        registers_ = RegisterLineCount(context_.kind);
    }
    std::uint64_t LineCount() const override { return Head() + registers_ + 2 + stack_.Rows(); }
    std::string LineText(std::uint64_t i) const override {
        const std::uint64_t head = Head();
        if (i == 0) return Format("Thread %llu", ULL(number_));
        if (i == 1) return Format("Thread ID: %u", static_cast<unsigned>(d_.U32(at_)));
        if (extended_ && i == 2) return Format("Suspend Count: %u", static_cast<unsigned>(d_.U32(at_ + 4)));
        if (extended_ && i == 3) return Format("Priority Class: %u", static_cast<unsigned>(d_.U32(at_ + 8)));
        if (extended_ && i == 4) return Format("Priority: %u", static_cast<unsigned>(d_.U32(at_ + 12)));
        if (i == head - 1) return "Context:";
        if (i < head + registers_) return RegisterLine(d_, context_, i - head);
        if (i == head + registers_) return "Stack:";
        return HexRow(stack_, i - head - registers_ - 1);
    }

  private:
    std::uint64_t Head() const { return extended_ ? 6 : 3; } // lines up to and including "Context:"

    DumpBytes d_;
    std::uint64_t at_;
    std::uint64_t number_;
    bool extended_;
    MemoryBlock stack_;
    Context context_;
    std::uint64_t registers_ = 0;
};

class MemorySection : public ReportSection {
  public:
    MemorySection(const MemoryBlock& block, std::uint64_t number) : block_(block), number_(number) {}
    std::uint64_t LineCount() const override { return block_.Rows() + 2; }
    std::string LineText(std::uint64_t i) const override {
        if (i == 0) return Format("Memory Range %llu", ULL(number_));
        return HexRow(block_, i - 1);
    }

  private:
    MemoryBlock block_;
    std::uint64_t number_;
};

struct Stream {
    bool present = false;
    std::uint64_t rva = 0;
    std::uint64_t size = 0; // clipped to the file
};

// The first directory entry of a type, as the system's stream reader finds it.
Stream FindStream(const DumpBytes& d, std::uint32_t type) {
    Stream s;
    if (d.size() < 32 || d.U32(0) != 0x504D444D) return s;
    const std::uint64_t count = d.U32(8), directory = d.U32(12);
    for (std::uint64_t i = 0; i < count; ++i) {
        const std::uint64_t entry = directory + i * 12;
        if (!d.Has(entry, 12)) break;
        if (d.U32(entry) != type) continue;
        const std::uint64_t size = d.U32(entry + 4), rva = d.U32(entry + 8);
        if (rva > d.size()) return s;
        s.present = true;
        s.rva = rva;
        s.size = std::min<std::uint64_t>(size, d.size() - rva);
        return s;
    }
    return s;
}

// Number of whole entries of a list stream that lie inside the stream.
std::uint64_t Entries(const Stream& s, std::uint64_t header, std::uint64_t claimed, std::uint64_t entrySize) {
    if (s.size < header) return 0;
    return std::min<std::uint64_t>(claimed, (s.size - header) / entrySize);
}

} // namespace

// ---------------------------------------------------------------------------
// The section list

namespace {

enum class Kind { Exception, System, Module, Thread, ThreadEx, Memory, Memory64 };

constexpr std::uint64_t kStride = 256; // entries between remembered first lines

std::uint64_t SaturatingAdd(std::uint64_t a, std::uint64_t b) {
    return b > UINT64_MAX - a ? UINT64_MAX : a + b;
}

} // namespace

// The entries of one stream, all of one kind, read from the file on demand.
struct SectionList::Group {
    Kind kind = Kind::Exception;
    std::uint64_t at = 0;          // file offset of the first entry
    std::uint64_t entries = 0;
    std::uint64_t entrySize = 0;   // bytes per entry
    std::uint64_t number = 1;      // number shown for the first entry
    std::uint64_t fixedLines = 0;  // lines of each entry, 0 when they differ
    std::uint32_t platform = 0;    // for the exception's name
    std::uint64_t data = 0;        // 64-bit memory list: the first range's bytes
    std::uint64_t firstSection = 0, firstLine = 0, lines = 0;
    // Entries differ in length: the first line (within the group) of every
    // kStride-th entry, and for the 64-bit memory list where its bytes lie.
    std::vector<std::uint64_t> markLines, markData;
};

namespace {

// Makes entry `i` of a group (its bytes at file offset `data` for the 64-bit
// memory list) and hands it to `f`.
template <class F>
auto WithEntry(const DumpBytes& d, const SectionList::Group& g, std::uint64_t i, std::uint64_t data, F&& f) {
    const std::uint64_t e = g.at + i * g.entrySize;
    const std::uint64_t number = g.number + i;
    switch (g.kind) {
    case Kind::Exception:
        return f(ExceptionSection(d, e, g.platform));
    case Kind::System:
        return f(SystemSection(d, e));
    case Kind::Module:
        return f(ModuleSection(d, e, number));
    case Kind::Thread:
    case Kind::ThreadEx:
        return f(ThreadSection(d, e, number, g.kind == Kind::ThreadEx));
    case Kind::Memory:
        return f(MemorySection(Block(d, d.U64(e), d.U32(e + 8), d.U32(e + 12)), number));
    case Kind::Memory64:
        break;
    }
    return f(MemorySection(Block(d, d.U64(e), d.U64(e + 8), data), number));
}

std::uint64_t EntryLines(const DumpBytes& d, const SectionList::Group& g, std::uint64_t i, std::uint64_t data) {
    if (g.fixedLines) return g.fixedLines;
    return WithEntry(d, g, i, data, [](const ReportSection& s) { return s.LineCount(); });
}

std::uint64_t NextData(const DumpBytes& d, const SectionList::Group& g, std::uint64_t i, std::uint64_t data) {
    return g.kind == Kind::Memory64 ? SaturatingAdd(data, d.U64(g.at + i * g.entrySize + 8)) : data;
}

} // namespace

std::uint64_t SectionRef::LineCount() const {
    if (group_ >= list_->groups_.size()) return 0;
    const auto& g = list_->groups_[group_];
    return EntryLines(list_->dump_, g, entry_, data_);
}

std::string SectionRef::LineText(std::uint64_t index) const {
    if (group_ >= list_->groups_.size()) return {};
    const auto& g = list_->groups_[group_];
    return WithEntry(list_->dump_, g, entry_, data_, [index](const ReportSection& s) {
        return index < s.LineCount() ? s.LineText(index) : std::string();
    });
}

struct SectionList::Mapping {
    int fd = -1;
    void* base = MAP_FAILED;
    std::size_t size = 0;
    ~Mapping() {
        if (base != MAP_FAILED) munmap(base, size);
        if (fd >= 0) close(fd);
    }
};

SectionList::SectionList() = default;
SectionList::~SectionList() = default;

void SectionList::Clear() {
    groups_.clear();
    sections_ = 0;
    total_ = 0;
    dump_ = DumpBytes();
    mapping_.reset();
}

bool SectionList::Open(const std::string& path) {
    Clear();
    auto m = std::make_unique<Mapping>();
    m->fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (m->fd < 0) return false;
    struct stat st {};
    if (fstat(m->fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0) return false;
    m->size = static_cast<std::size_t>(st.st_size);
    // A private read-only map: bytes another process changes underneath are
    // read as they are, and a file truncated under us is the one risk left
    // (SIGBUS), as with any mapped file.
    m->base = mmap(nullptr, m->size, PROT_READ, MAP_PRIVATE, m->fd, 0);
    if (m->base == MAP_FAILED) return false;
    const auto* data = static_cast<const std::uint8_t*>(m->base);
    const std::size_t size = m->size;
    Build(data, size);
    mapping_ = std::move(m);
    return true;
}

void SectionList::Build(const std::uint8_t* data, std::size_t size) {
    groups_.clear();
    sections_ = 0;
    total_ = 0;
    dump_ = DumpBytes(data, size);
    const DumpBytes& d = dump_;
    auto add = [&](Group g) {
        if (g.entries == 0) return;
        g.firstSection = sections_;
        g.firstLine = total_;
        if (g.fixedLines) {
            // At most a few hundred million entries of at most nine lines.
            g.lines = g.entries * g.fixedLines;
        } else {
            // One pass over the entries; only every kStride-th is remembered.
            std::uint64_t lines = 0, at = g.data;
            for (std::uint64_t i = 0; i < g.entries; ++i) {
                if (i % kStride == 0) {
                    g.markLines.push_back(lines);
                    g.markData.push_back(at);
                }
                lines = SaturatingAdd(lines, EntryLines(d, g, i, at));
                at = NextData(d, g, i, at);
            }
            g.lines = lines;
        }
        sections_ += static_cast<std::size_t>(g.entries);
        total_ = SaturatingAdd(total_, g.lines);
        groups_.push_back(std::move(g));
    };

    const Stream system = FindStream(d, kSystemInfo);
    const bool haveSystem = system.present && system.size >= 56;
    const std::uint32_t platform = haveSystem ? d.U32(system.rva + 20) : 0;

    if (Stream s = FindStream(d, kException); s.present && s.size >= 32) {
        Group g;
        g.kind = Kind::Exception;
        g.at = s.rva;
        g.entries = 1;
        g.fixedLines = 6;
        g.platform = platform;
        add(std::move(g));
    }
    if (haveSystem) {
        Group g;
        g.kind = Kind::System;
        g.at = system.rva;
        g.entries = 1;
        g.fixedLines = 6;
        add(std::move(g));
    }
    if (Stream s = FindStream(d, kModuleList); s.present && s.size >= 4) {
        Group g;
        g.kind = Kind::Module;
        g.at = s.rva + 4;
        g.entrySize = 108;
        g.entries = Entries(s, 4, d.U32(s.rva), 108);
        g.fixedLines = 9;
        add(std::move(g));
    }

    // Threads and ranges are numbered on across the two lists of each.
    std::uint64_t number = 1;
    for (auto [type, entrySize] :
         {std::pair<std::uint32_t, std::uint64_t>{kThreadList, 48}, {kThreadExList, 64}}) {
        Stream s = FindStream(d, type);
        if (!s.present || s.size < 4) continue;
        Group g;
        g.kind = type == kThreadExList ? Kind::ThreadEx : Kind::Thread;
        g.at = s.rva + 4;
        g.entrySize = entrySize;
        g.entries = Entries(s, 4, d.U32(s.rva), entrySize);
        g.number = number;
        number += g.entries;
        add(std::move(g));
    }

    number = 1;
    if (Stream s = FindStream(d, kMemoryList); s.present && s.size >= 4) {
        Group g;
        g.kind = Kind::Memory;
        g.at = s.rva + 4;
        g.entrySize = 16;
        g.entries = Entries(s, 4, d.U32(s.rva), 16);
        g.number = number;
        number += g.entries;
        add(std::move(g));
    }
    if (Stream s = FindStream(d, kMemory64List); s.present && s.size >= 16) {
        // The ranges' bytes lie back to back from the list's base offset.
        Group g;
        g.kind = Kind::Memory64;
        g.at = s.rva + 16;
        g.entrySize = 16;
        g.entries = Entries(s, 16, d.U64(s.rva), 16);
        g.data = d.U64(s.rva + 8);
        g.number = number;
        add(std::move(g));
    }
}

std::uint64_t SectionList::EntryData(const Group& g, std::uint64_t entry) const {
    if (g.kind != Kind::Memory64) return 0;
    const std::uint64_t mark = entry / kStride;
    std::uint64_t at = g.markData[mark];
    for (std::uint64_t i = mark * kStride; i < entry; ++i)
        at = NextData(dump_, g, i, at);
    return at;
}

void SectionList::Locate(const Group& g, std::uint64_t line, std::uint64_t* entry, std::uint64_t* data,
                         std::uint64_t* first) const {
    if (g.fixedLines) {
        *entry = line / g.fixedLines;
        *data = 0;
        *first = *entry * g.fixedLines;
        return;
    }
    // The last remembered entry at or before the line, then entry by entry.
    auto it = std::upper_bound(g.markLines.begin(), g.markLines.end(), line);
    const std::uint64_t mark = static_cast<std::uint64_t>(it - g.markLines.begin()) - 1;
    std::uint64_t i = mark * kStride, start = g.markLines[mark], at = g.markData[mark];
    for (;;) {
        const std::uint64_t n = EntryLines(dump_, g, i, at);
        if (line - start < n || i + 1 >= g.entries) break;
        start += n;
        at = NextData(dump_, g, i, at);
        ++i;
    }
    *entry = i;
    *data = at;
    *first = start;
}

SectionRef SectionList::Section(std::size_t i) const {
    for (std::size_t k = 0; k < groups_.size(); ++k) {
        const Group& g = groups_[k];
        if (i - g.firstSection < g.entries)
            return SectionRef(this, k, i - g.firstSection, EntryData(g, i - g.firstSection));
    }
    // Past the end: a section without lines.
    return SectionRef(this, groups_.size(), 0, 0);
}

std::string SectionList::LineText(std::uint64_t n) const {
    if (n >= total_) return {};
    for (const Group& g : groups_) {
        if (n - g.firstLine >= g.lines) continue;
        std::uint64_t entry = 0, data = 0, first = 0;
        Locate(g, n - g.firstLine, &entry, &data, &first);
        const std::uint64_t index = n - g.firstLine - first;
        return WithEntry(dump_, g, entry, data, [index](const ReportSection& s) {
            return index < s.LineCount() ? s.LineText(index) : std::string();
        });
    }
    return {};
}

std::size_t SectionList::IndexBytes() const {
    std::size_t bytes = groups_.capacity() * sizeof(Group);
    for (const Group& g : groups_)
        bytes += (g.markLines.capacity() + g.markData.capacity()) * sizeof(std::uint64_t);
    return bytes;
}

} // namespace ulmarro::contents
