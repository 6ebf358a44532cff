#pragma once

// The sections of the contents view (an exception, the system, a module, a
// thread, a memory range). Each is made on the spot from its record in the
// mapped dump, asked for a line count or a line, and dropped; the section
// list (minidump_view.cpp) decides which records there are.

#include "core/minidump_format.h"
#include "minidump_view.h"

#include <cstdint>
#include <string>

namespace ulmarro::contents::sections {

namespace md = minidump;

// printf into a string of at most 255 characters.
std::string Format(const char* pattern, ...) __attribute__((format(printf, 1, 2)));

inline unsigned long long ULL(std::uint64_t v) { return static_cast<unsigned long long>(v); }

// A memory block whose bytes may lie (partly) outside the file keeps only
// the part that is really there.
MemoryBlock Block(const DumpBytes& dump, std::uint64_t address, std::uint64_t size, std::uint64_t rva);

class ReportSection {
public:
    virtual ~ReportSection() = default;
    virtual std::uint64_t LineCount() const = 0;
    virtual std::string LineText(std::uint64_t index) const = 0;
};

// The view shows the exception's code, flags, record and address: a stream
// that holds them is enough.
constexpr std::uint64_t kExceptionShown = offsetof(md::ExceptionStream, exceptionRecord.numberParameters);

class ExceptionSection : public ReportSection {
public:
    ExceptionSection(const DumpBytes& d, std::uint64_t at, std::uint32_t platform)
        : e_(d.Record<md::ExceptionStream>(at)), platform_(platform) {}
    std::uint64_t LineCount() const override { return 6; }
    std::string LineText(std::uint64_t i) const override;

private:
    md::ExceptionStream e_;
    std::uint32_t platform_;
};

class SystemSection : public ReportSection {
public:
    SystemSection(const DumpBytes& d, std::uint64_t at) : d_(d), s_(d.Record<md::SystemInfo>(at)) {}
    std::uint64_t LineCount() const override { return 6; }
    std::string LineText(std::uint64_t i) const override;

private:
    std::string SystemLine() const;

    DumpBytes d_;
    md::SystemInfo s_;
};

class ModuleSection : public ReportSection {
public:
    ModuleSection(const DumpBytes& d, std::uint64_t at, std::uint64_t number)
        : d_(d), m_(d.Record<md::Module>(at)), number_(number) {}
    std::uint64_t LineCount() const override { return 9; }
    std::string LineText(std::uint64_t i) const override;

private:
    DumpBytes d_;
    md::Module m_;
    std::uint64_t number_;
};

// Where a thread's registers lie and in which processor's layout.
enum class ContextKind { None, X86, Amd64, Arm64, Arm64Old };
struct Context {
    ContextKind kind = ContextKind::None;
    std::uint64_t offset = 0;
};

// Threads of both lists: an extended entry starts with the plain one.
class ThreadSection : public ReportSection {
public:
    ThreadSection(const DumpBytes& d, std::uint64_t at, std::uint64_t number, bool extended);
    std::uint64_t LineCount() const override { return Head() + registers_ + 2 + stack_.Rows(); }
    std::string LineText(std::uint64_t i) const override;

private:
    std::uint64_t Head() const { return extended_ ? 6 : 3; } // lines up to and including "Context:"

    DumpBytes d_;
    md::Thread t_;
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
    std::string LineText(std::uint64_t i) const override;

private:
    MemoryBlock block_;
    std::uint64_t number_;
};

} // namespace ulmarro::contents::sections
