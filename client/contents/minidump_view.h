#pragma once

// The report contents view: the minidump the client wrote, read back and
// turned into text lines grouped in sections (exception, system, modules,
// threads, memory ranges). Lines are formatted only when asked for, so a
// dump of any size opens at once.
//
// The dump is untrusted input: every offset, size and count in it is checked
// against the mapped file before anything is read. A damaged or hostile dump
// gives fewer sections or shorter blocks, never a crash.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace ulmarro::contents {

// Bounded, byte-order independent reads from the mapped dump.
class DumpBytes {
public:
    DumpBytes() = default;
    DumpBytes(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    std::size_t size() const { return size_; }
    bool Has(std::uint64_t offset, std::uint64_t length) const {
        return offset <= size_ && length <= size_ - offset;
    }
    // Pointer to `length` bytes at `offset`, or nullptr when they are not all in the file.
    const std::uint8_t* At(std::uint64_t offset, std::uint64_t length) const {
        return Has(offset, length) ? data_ + offset : nullptr;
    }
    // Little-endian values; 0 when out of range (callers check Has first where it matters).
    std::uint16_t U16(std::uint64_t offset) const;
    std::uint32_t U32(std::uint64_t offset) const;
    std::uint64_t U64(std::uint64_t offset) const;
    // A record of the dump's layout (core/minidump_format.h) at `offset`:
    // the bytes of it that lie in the file, zeros for the rest.
    template <typename T> T Record(std::uint64_t offset) const {
        T record{};
        if (offset < size_)
            std::memcpy(&record, data_ + offset, std::min<std::uint64_t>(sizeof record, size_ - offset));
        return record;
    }
    // A string of the dump (32-bit byte length, then UTF-16LE), as UTF-8.
    // Empty when the string does not lie in the file.
    std::string Utf16String(std::uint64_t offset) const;

private:
    const std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
};

// A block of memory captured in the dump: its address in the crashed
// process and the bytes that really are in the file.
struct MemoryBlock {
    std::uint64_t address = 0;
    const std::uint8_t* bytes = nullptr;
    std::uint64_t size = 0;
    std::uint64_t Rows() const { return size / 16 + (size % 16 != 0); }
};

// One row of a hex dump: address, sixteen byte positions in four groups of
// eight digits (positions past `count` show "00"), then the `count` bytes as
// characters, control and non-ASCII bytes as ".". Addresses above 32 bits are
// shown with 16 digits so that 64-bit processes keep their real addresses.
std::string HexDumpLine(std::uint64_t address, const std::uint8_t* bytes, std::size_t count);

// Name of an exception code ("ACCESS_VIOLATION", ...), empty when unknown.
// Dumps of Linux processes carry the signal number as the code and si_code
// as the flags; they are shown under the name of the matching exception.
std::string ExceptionName(std::uint32_t code, std::uint32_t flags, std::uint32_t platform);

class SectionList;

// One section of the list (an exception, a module, a thread, a memory range):
// a light handle that formats its lines when asked.
class SectionRef {
public:
    std::uint64_t LineCount() const;
    // Text of line `index` (below LineCount()); empty past the end.
    std::string LineText(std::uint64_t index) const;

private:
    friend class SectionList;
    SectionRef(const SectionList* list, std::size_t group, std::uint64_t entry, std::uint64_t data)
        : list_(list), group_(group), entry_(entry), data_(data) {}
    const SectionList* list_;
    std::size_t group_;
    std::uint64_t entry_;
    std::uint64_t data_;
};

// The sections of a dump. Nothing is kept per section or per line: each
// stream's entries are read from the mapped file when a line is asked for,
// and for lists whose entries differ in length only every 256th entry's
// first line is remembered. A dump that claims billions of lines in a few
// megabytes opens at once and costs about as much memory as its own size
// divided by a few thousand.
class SectionList {
public:
    SectionList();
    ~SectionList();
    SectionList(const SectionList&) = delete;
    SectionList& operator=(const SectionList&) = delete;

    // Maps the dump file read-only and builds the sections. A file that
    // cannot be opened or mapped leaves the list empty (returns false).
    bool Open(const std::string& path);
    // Builds the sections over bytes the caller keeps alive.
    void Build(const std::uint8_t* data, std::size_t size);
    void Clear();

    std::uint64_t LineCount() const { return total_; }
    // Line `n` of the whole view; empty past the end.
    std::string LineText(std::uint64_t n) const;

    std::size_t SectionCount() const { return sections_; }
    // Section `i` (below SectionCount()).
    SectionRef Section(std::size_t i) const;

    // Bytes kept for the index of the sections (for the benchmark and tests).
    std::size_t IndexBytes() const;

    struct Group; // the entries of one stream (defined with the reader)

private:
    friend class SectionRef;
    struct Mapping;
    void Locate(const Group& g, std::uint64_t line, std::uint64_t* entry, std::uint64_t* data,
                std::uint64_t* first) const;
    std::uint64_t EntryData(const Group& g, std::uint64_t entry) const;

    std::unique_ptr<Mapping> mapping_;
    DumpBytes dump_;
    std::vector<Group> groups_;
    std::size_t sections_ = 0;
    std::uint64_t total_ = 0;
};

} // namespace ulmarro::contents
