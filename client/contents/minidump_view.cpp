#include "minidump_view.h"

#include "dump_sections.h"

#include <algorithm>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ulmarro::contents {

namespace md = minidump;
using namespace sections;

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

std::string ExceptionName(std::uint32_t code, std::uint32_t flags, std::uint32_t platform) {
    if (platform == md::kPlatformLinux) {
        // Signal number and si_code, mapped onto the exception they stand for.
        switch (code) {
        case 11: code = 0xC0000005; break;                          // SIGSEGV
        case 7: code = flags == 1 ? 0x80000002 : 0xC0000006; break; // SIGBUS: BUS_ADRALN or other
        case 4: code = flags == 5 || flags == 6 ? 0xC0000096 : 0xC000001D; break; // SIGILL
        case 8:                                                                   // SIGFPE
            switch (flags) {
            case 1: code = 0xC0000094; break;
            case 2: code = 0xC0000095; break;
            case 3: code = 0xC000008E; break;
            case 4: code = 0xC0000091; break;
            case 5: code = 0xC0000093; break;
            case 6: code = 0xC000008F; break;
            case 7: code = 0xC0000090; break;
            case 8: code = 0xC000008C; break;
            default: return {};
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
        default: return {};
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

struct Stream {
    bool present = false;
    std::uint64_t rva = 0;
    std::uint64_t size = 0; // clipped to the file
};

// The first directory entry of a type, as the system's stream reader finds it.
Stream FindStream(const DumpBytes& d, std::uint32_t type) {
    Stream s;
    const auto header = d.Record<md::Header>(0);
    if (d.size() < sizeof header || header.signature != md::kSignature) return s;
    const std::uint64_t count = header.streamCount, directory = header.streamDirectoryRva;
    for (std::uint64_t i = 0; i < count; ++i) {
        const std::uint64_t entry = directory + i * sizeof(md::Directory);
        if (!d.Has(entry, sizeof(md::Directory))) break;
        const auto e = d.Record<md::Directory>(entry);
        if (e.streamType != type) continue;
        const std::uint64_t size = e.location.dataSize, rva = e.location.rva;
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
    std::uint64_t at = 0; // file offset of the first entry
    std::uint64_t entries = 0;
    std::uint64_t entrySize = 0;  // bytes per entry
    std::uint64_t number = 1;     // number shown for the first entry
    std::uint64_t fixedLines = 0; // lines of each entry, 0 when they differ
    std::uint32_t platform = 0;   // for the exception's name
    std::uint64_t data = 0;       // 64-bit memory list: the first range's bytes
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
    case Kind::Exception: return f(ExceptionSection(d, e, g.platform));
    case Kind::System: return f(SystemSection(d, e));
    case Kind::Module: return f(ModuleSection(d, e, number));
    case Kind::Thread:
    case Kind::ThreadEx: return f(ThreadSection(d, e, number, g.kind == Kind::ThreadEx));
    case Kind::Memory: {
        const auto r = d.Record<md::MemoryDescriptor>(e);
        return f(MemorySection(Block(d, r.startOfMemoryRange, r.memory.dataSize, r.memory.rva), number));
    }
    case Kind::Memory64: break;
    }
    const auto r = d.Record<md::MemoryDescriptor64>(e);
    return f(MemorySection(Block(d, r.startOfMemoryRange, r.dataSize, data), number));
}

std::uint64_t EntryLines(const DumpBytes& d, const SectionList::Group& g, std::uint64_t i,
                         std::uint64_t data) {
    if (g.fixedLines) return g.fixedLines;
    return WithEntry(d, g, i, data, [](const ReportSection& s) { return s.LineCount(); });
}

std::uint64_t NextData(const DumpBytes& d, const SectionList::Group& g, std::uint64_t i, std::uint64_t data) {
    if (g.kind != Kind::Memory64) return data;
    return SaturatingAdd(data, d.Record<md::MemoryDescriptor64>(g.at + i * g.entrySize).dataSize);
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

    const Stream system = FindStream(d, md::kSystemInfoStream);
    const bool haveSystem = system.present && system.size >= sizeof(md::SystemInfo);
    const std::uint32_t platform = haveSystem ? d.Record<md::SystemInfo>(system.rva).platformId : 0;

    // The exception and the system: a section each.
    auto addOne = [&](Kind kind, std::uint64_t at) {
        Group g;
        g.kind = kind;
        g.at = at;
        g.entries = 1;
        g.fixedLines = 6;
        g.platform = platform;
        add(std::move(g));
    };
    if (Stream s = FindStream(d, md::kExceptionStream); s.present && s.size >= kExceptionShown)
        addOne(Kind::Exception, s.rva);
    if (haveSystem) addOne(Kind::System, system.rva);

    // Lists after a 32-bit count. Threads and ranges are numbered on across
    // the two lists of each.
    auto addList = [&](Kind kind, std::uint32_t type, std::uint64_t entrySize, std::uint64_t* number) {
        const Stream s = FindStream(d, type);
        if (!s.present || s.size < sizeof(md::ListHeader)) return;
        Group g;
        g.kind = kind;
        g.at = s.rva + sizeof(md::ListHeader);
        g.entrySize = entrySize;
        g.entries = Entries(s, sizeof(md::ListHeader), d.Record<md::ListHeader>(s.rva).count, entrySize);
        g.fixedLines = kind == Kind::Module ? 9 : 0;
        g.number = *number;
        *number += g.entries;
        add(std::move(g));
    };
    std::uint64_t modules = 1, threads = 1, ranges = 1;
    addList(Kind::Module, md::kModuleListStream, sizeof(md::Module), &modules);
    addList(Kind::Thread, md::kThreadListStream, sizeof(md::Thread), &threads);
    addList(Kind::ThreadEx, md::kThreadExListStream, sizeof(md::ThreadEx), &threads);
    addList(Kind::Memory, md::kMemoryListStream, sizeof(md::MemoryDescriptor), &ranges);
    if (Stream s = FindStream(d, md::kMemory64ListStream);
        s.present && s.size >= sizeof(md::Memory64ListHeader)) {
        // The ranges' bytes lie back to back from the list's base offset.
        Group g;
        g.kind = Kind::Memory64;
        const auto list = d.Record<md::Memory64ListHeader>(s.rva);
        g.at = s.rva + sizeof list;
        g.entrySize = sizeof(md::MemoryDescriptor64);
        g.entries = Entries(s, sizeof list, list.rangeCount, sizeof(md::MemoryDescriptor64));
        g.data = list.baseRva;
        g.number = ranges;
        add(std::move(g));
    }
}

std::uint64_t SectionList::EntryData(const Group& g, std::uint64_t entry) const {
    if (g.kind != Kind::Memory64) return 0;
    const std::uint64_t mark = entry / kStride;
    std::uint64_t at = g.markData[mark];
    for (std::uint64_t i = mark * kStride; i < entry; ++i) at = NextData(dump_, g, i, at);
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
