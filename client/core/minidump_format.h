#pragma once

// The minidump file layout: every stream and record the client writes or
// reads, as packed structs whose bytes are the file's bytes (little-endian).
// The writer fills them, the contents view and the tests' readers copy them
// out of the file. Sizes and offsets are those every other reader of the
// format expects; the static_asserts below hold them to it.

#include <cstddef>
#include <cstdint>

namespace ulmarro::minidump {

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "the structs below are the file's little-endian bytes");

// ---------------------------------------------------------------------------
// Constants

constexpr std::uint32_t kSignature = 0x504D444D; // "MDMP"
constexpr std::uint32_t kVersion = 0x0000A793;

enum StreamType : std::uint32_t {
    kThreadListStream = 3,
    kModuleListStream = 4,
    kMemoryListStream = 5,
    kExceptionStream = 6,
    kSystemInfoStream = 7,
    kThreadExListStream = 8,
    kMemory64ListStream = 9,
    kMiscInfoStream = 15,
    kMemoryInfoListStream = 16,
    kLinuxCpuInfoStream = 0x47670003,
    kLinuxProcStatusStream = 0x47670004,
    kLinuxEnvironStream = 0x47670007, // never written: it holds the environment
    kLinuxMapsStream = 0x47670009,
};

enum ProcessorArchitecture : std::uint16_t {
    kArchitectureX86 = 0,
    kArchitectureAmd64 = 9,
    kArchitectureArm64 = 12,
    kArchitectureUnknown = 0xFFFF,
};

constexpr std::uint32_t kPlatformWin32Nt = 2;
constexpr std::uint32_t kPlatformLinux = 0x8201;

// MiscInfo flags1.
constexpr std::uint32_t kMiscProcessId = 0x1;
constexpr std::uint32_t kMiscProcessTimes = 0x2;

// MemoryInfo protect, state and type.
constexpr std::uint32_t kPageNoAccess = 0x01;
constexpr std::uint32_t kPageReadOnly = 0x02;
constexpr std::uint32_t kPageReadWrite = 0x04;
constexpr std::uint32_t kPageExecute = 0x10;
constexpr std::uint32_t kPageExecuteRead = 0x20;
constexpr std::uint32_t kPageExecuteReadWrite = 0x40;
constexpr std::uint32_t kMemCommit = 0x1000;
constexpr std::uint32_t kMemPrivate = 0x20000;
constexpr std::uint32_t kMemImage = 0x1000000;

// VS_FIXEDFILEINFO.
constexpr std::uint32_t kFixedFileInfoSignature = 0xFEEF04BD;
constexpr std::uint32_t kFixedFileInfoVersion = 0x00010000;

// CodeView record of an ELF module: the signature, then the build id bytes.
constexpr std::uint32_t kCodeViewElfSignature = 0x4270454C; // "BpEL"

// Context flags: the processor in the high bits, the parts present below.
constexpr std::uint32_t kContextCpuMask = 0xFFFF0000;
constexpr std::uint32_t kContextX86 = 0x00010000;
constexpr std::uint32_t kContextAmd64 = 0x00100000;
constexpr std::uint32_t kContextArm64 = 0x00400000;
constexpr std::uint32_t kContextArm64Old = 0x80000000;
constexpr std::uint32_t kContextControl = 0x1;
constexpr std::uint32_t kContextInteger = 0x2;
constexpr std::uint32_t kContextSegments = 0x4;      // x86, AMD64
constexpr std::uint32_t kContextFloatingPoint = 0x8; // x86, AMD64
constexpr std::uint32_t kContextArm64FloatingPoint = 0x4;

#pragma pack(push, 1)

// ---------------------------------------------------------------------------
// Framing

struct Header {
    std::uint32_t signature;
    std::uint32_t version;
    std::uint32_t streamCount;
    std::uint32_t streamDirectoryRva;
    std::uint32_t checksum;
    std::uint32_t timeDateStamp;
    std::uint64_t flags; // the dump type
};

struct LocationDescriptor {
    std::uint32_t dataSize;
    std::uint32_t rva;
};

struct Directory {
    std::uint32_t streamType;
    LocationDescriptor location;
};

// A string: its length in bytes (without the terminator), then UTF-16LE
// code units and a zero unit.
struct StringHeader {
    std::uint32_t length;
};

// Thread, module and memory lists start with a 32-bit count.
struct ListHeader {
    std::uint32_t count;
};

// ---------------------------------------------------------------------------
// Memory

struct MemoryDescriptor {
    std::uint64_t startOfMemoryRange;
    LocationDescriptor memory;
};

struct Memory64ListHeader {
    std::uint64_t rangeCount;
    std::uint64_t baseRva; // the ranges' bytes lie back to back from here
};

struct MemoryDescriptor64 {
    std::uint64_t startOfMemoryRange;
    std::uint64_t dataSize;
};

struct MemoryInfoListHeader {
    std::uint32_t sizeOfHeader;
    std::uint32_t sizeOfEntry;
    std::uint64_t entryCount;
};

struct MemoryInfo {
    std::uint64_t baseAddress;
    std::uint64_t allocationBase;
    std::uint32_t allocationProtect;
    std::uint32_t alignment1;
    std::uint64_t regionSize;
    std::uint32_t state;
    std::uint32_t protect;
    std::uint32_t type;
    std::uint32_t alignment2;
};

// ---------------------------------------------------------------------------
// Threads

struct Thread {
    std::uint32_t threadId;
    std::uint32_t suspendCount;
    std::uint32_t priorityClass;
    std::uint32_t priority;
    std::uint64_t teb;
    MemoryDescriptor stack;
    LocationDescriptor threadContext;
};

struct ThreadEx {
    Thread thread;
    MemoryDescriptor backingStore;
};

// ---------------------------------------------------------------------------
// Modules

struct FixedFileInfo {
    std::uint32_t signature;
    std::uint32_t structVersion;
    std::uint32_t fileVersionHi; // major << 16 | minor
    std::uint32_t fileVersionLo; // build << 16 | revision
    std::uint32_t productVersionHi;
    std::uint32_t productVersionLo;
    std::uint32_t fileFlagsMask;
    std::uint32_t fileFlags;
    std::uint32_t fileOs;
    std::uint32_t fileType;
    std::uint32_t fileSubtype;
    std::uint32_t fileDateHi;
    std::uint32_t fileDateLo;
};

struct Module {
    std::uint64_t baseOfImage;
    std::uint32_t sizeOfImage;
    std::uint32_t checksum;
    std::uint32_t timeDateStamp;
    std::uint32_t moduleNameRva;
    FixedFileInfo versionInfo;
    LocationDescriptor cvRecord;
    LocationDescriptor miscRecord;
    std::uint64_t reserved0;
    std::uint64_t reserved1;
};

struct CodeViewElfHeader {
    std::uint32_t signature; // the build id follows
};

// ---------------------------------------------------------------------------
// Exception, system, process

struct ExceptionRecord {
    std::uint32_t exceptionCode;  // Linux: the signal number
    std::uint32_t exceptionFlags; // Linux: si_code
    std::uint64_t exceptionRecord;
    std::uint64_t exceptionAddress;
    std::uint32_t numberParameters;
    std::uint32_t unusedAlignment;
    std::uint64_t exceptionInformation[15];
};

struct ExceptionStream {
    std::uint32_t threadId;
    std::uint32_t alignment;
    ExceptionRecord exceptionRecord;
    LocationDescriptor threadContext;
};

struct CpuInformation {
    std::uint32_t vendorId[3]; // x86: "GenuineIntel" as three words of cpuid 0
    std::uint32_t versionInformation;
    std::uint32_t featureInformation;
    std::uint32_t amdExtendedCpuFeatures;
};

struct SystemInfo {
    std::uint16_t processorArchitecture;
    std::uint16_t processorLevel;
    std::uint16_t processorRevision;
    std::uint8_t numberOfProcessors;
    std::uint8_t productType;
    std::uint32_t majorVersion;
    std::uint32_t minorVersion;
    std::uint32_t buildNumber;
    std::uint32_t platformId;
    std::uint32_t csdVersionRva; // Linux: the kernel's own description
    std::uint16_t suiteMask;
    std::uint16_t reserved2;
    CpuInformation cpu;
};

struct MiscInfo {
    std::uint32_t sizeOfInfo;
    std::uint32_t flags1;
    std::uint32_t processId;
    std::uint32_t processCreateTime; // seconds since 1970
    std::uint32_t processUserTime;   // seconds
    std::uint32_t processKernelTime;
};

// ---------------------------------------------------------------------------
// Thread contexts

struct ContextX86 {
    std::uint32_t contextFlags;
    std::uint32_t dr0, dr1, dr2, dr3, dr6, dr7;
    std::uint8_t floatSave[112];
    std::uint32_t gs, fs, es, ds;
    std::uint32_t edi, esi, ebx, edx, ecx, eax;
    std::uint32_t ebp, eip, cs, eflags, esp, ss;
    std::uint8_t extendedRegisters[512];
};

struct ContextAmd64 {
    std::uint64_t p1Home, p2Home, p3Home, p4Home, p5Home, p6Home;
    std::uint32_t contextFlags;
    std::uint32_t mxCsr;
    std::uint16_t cs, ds, es, fs, gs, ss;
    std::uint32_t eflags;
    std::uint64_t dr0, dr1, dr2, dr3, dr6, dr7;
    std::uint64_t rax, rcx, rdx, rbx, rsp, rbp, rsi, rdi;
    std::uint64_t r8, r9, r10, r11, r12, r13, r14, r15;
    std::uint64_t rip;
    std::uint8_t fxsave[512]; // the FXSAVE area
    std::uint8_t vectorRegister[26][16];
    std::uint64_t vectorControl;
    std::uint64_t debugControl;
    std::uint64_t lastBranchToRip, lastBranchFromRip;
    std::uint64_t lastExceptionToRip, lastExceptionFromRip;
};

// x0..x28, fp, lr, sp and pc: 33 words in both ARM64 layouts.
constexpr std::size_t kArm64Registers = 33;
constexpr std::size_t kArm64Sp = 31, kArm64Pc = 32;

struct ContextArm64 {
    std::uint32_t contextFlags;
    std::uint32_t cpsr;
    std::uint64_t x[kArm64Registers];
    std::uint8_t v[32][16];
    std::uint32_t fpcr;
    std::uint32_t fpsr;
    std::uint32_t bcr[8];
    std::uint64_t bvr[8];
    std::uint32_t wcr[2];
    std::uint64_t wvr[2];
};

// The older ARM64 layout some writers still use.
struct ContextArm64Old {
    std::uint64_t contextFlags;
    std::uint64_t x[kArm64Registers];
    std::uint32_t cpsr;
    std::uint32_t fpsr;
    std::uint32_t fpcr;
    std::uint8_t v[32][16];
};

#pragma pack(pop)

// ---------------------------------------------------------------------------
// The published sizes and offsets

static_assert(sizeof(Header) == 32);
static_assert(offsetof(Header, streamDirectoryRva) == 12 && offsetof(Header, timeDateStamp) == 20 &&
              offsetof(Header, flags) == 24);
static_assert(sizeof(LocationDescriptor) == 8);
static_assert(sizeof(Directory) == 12 && offsetof(Directory, location) == 4);
static_assert(sizeof(StringHeader) == 4 && sizeof(ListHeader) == 4);

static_assert(sizeof(MemoryDescriptor) == 16 && offsetof(MemoryDescriptor, memory) == 8);
static_assert(sizeof(Memory64ListHeader) == 16 && offsetof(Memory64ListHeader, baseRva) == 8);
static_assert(sizeof(MemoryDescriptor64) == 16 && offsetof(MemoryDescriptor64, dataSize) == 8);
static_assert(sizeof(MemoryInfoListHeader) == 16 && offsetof(MemoryInfoListHeader, entryCount) == 8);
static_assert(sizeof(MemoryInfo) == 48);
static_assert(offsetof(MemoryInfo, allocationProtect) == 16 && offsetof(MemoryInfo, regionSize) == 24 &&
              offsetof(MemoryInfo, state) == 32 && offsetof(MemoryInfo, protect) == 36 &&
              offsetof(MemoryInfo, type) == 40);

static_assert(sizeof(Thread) == 48);
static_assert(offsetof(Thread, teb) == 16 && offsetof(Thread, stack) == 24 &&
              offsetof(Thread, threadContext) == 40);
static_assert(sizeof(ThreadEx) == 64 && offsetof(ThreadEx, backingStore) == 48);

static_assert(sizeof(FixedFileInfo) == 52);
static_assert(offsetof(FixedFileInfo, fileVersionHi) == 8 && offsetof(FixedFileInfo, productVersionHi) == 16);
// A module record is 108 bytes in the file (a C compiler pads the unpacked
// struct to 112; the list's stride is 108).
static_assert(sizeof(Module) == 108);
static_assert(offsetof(Module, sizeOfImage) == 8 && offsetof(Module, checksum) == 12 &&
              offsetof(Module, timeDateStamp) == 16 && offsetof(Module, moduleNameRva) == 20 &&
              offsetof(Module, versionInfo) == 24 && offsetof(Module, cvRecord) == 76 &&
              offsetof(Module, miscRecord) == 84 && offsetof(Module, reserved0) == 92 &&
              offsetof(Module, reserved1) == 100);

static_assert(sizeof(ExceptionRecord) == 152);
static_assert(offsetof(ExceptionRecord, exceptionRecord) == 8 &&
              offsetof(ExceptionRecord, exceptionAddress) == 16 &&
              offsetof(ExceptionRecord, numberParameters) == 24 &&
              offsetof(ExceptionRecord, exceptionInformation) == 32);
static_assert(sizeof(ExceptionStream) == 168);
static_assert(offsetof(ExceptionStream, exceptionRecord) == 8 &&
              offsetof(ExceptionStream, threadContext) == 160);

static_assert(sizeof(CpuInformation) == 24);
static_assert(sizeof(SystemInfo) == 56);
static_assert(offsetof(SystemInfo, processorLevel) == 2 && offsetof(SystemInfo, processorRevision) == 4 &&
              offsetof(SystemInfo, numberOfProcessors) == 6 && offsetof(SystemInfo, majorVersion) == 8 &&
              offsetof(SystemInfo, minorVersion) == 12 && offsetof(SystemInfo, buildNumber) == 16 &&
              offsetof(SystemInfo, platformId) == 20 && offsetof(SystemInfo, csdVersionRva) == 24 &&
              offsetof(SystemInfo, suiteMask) == 28 && offsetof(SystemInfo, cpu) == 32);
static_assert(offsetof(SystemInfo, cpu.versionInformation) == 44 &&
              offsetof(SystemInfo, cpu.featureInformation) == 48 &&
              offsetof(SystemInfo, cpu.amdExtendedCpuFeatures) == 52);
static_assert(sizeof(MiscInfo) == 24);
static_assert(offsetof(MiscInfo, processId) == 8 && offsetof(MiscInfo, processCreateTime) == 12);

static_assert(sizeof(ContextX86) == 716);
static_assert(offsetof(ContextX86, floatSave) == 28 && offsetof(ContextX86, gs) == 140 &&
              offsetof(ContextX86, ds) == 152 && offsetof(ContextX86, edi) == 156 &&
              offsetof(ContextX86, eax) == 176 && offsetof(ContextX86, ebp) == 180 &&
              offsetof(ContextX86, eip) == 184 && offsetof(ContextX86, cs) == 188 &&
              offsetof(ContextX86, esp) == 196 && offsetof(ContextX86, ss) == 200 &&
              offsetof(ContextX86, extendedRegisters) == 204);
static_assert(sizeof(ContextAmd64) == 1232);
static_assert(offsetof(ContextAmd64, contextFlags) == 48 && offsetof(ContextAmd64, mxCsr) == 52 &&
              offsetof(ContextAmd64, cs) == 56 && offsetof(ContextAmd64, ss) == 66 &&
              offsetof(ContextAmd64, eflags) == 68 && offsetof(ContextAmd64, dr0) == 72 &&
              offsetof(ContextAmd64, rax) == 120 && offsetof(ContextAmd64, rsp) == 152 &&
              offsetof(ContextAmd64, r8) == 184 && offsetof(ContextAmd64, r15) == 240 &&
              offsetof(ContextAmd64, rip) == 248 && offsetof(ContextAmd64, fxsave) == 256 &&
              offsetof(ContextAmd64, vectorRegister) == 768 &&
              offsetof(ContextAmd64, vectorControl) == 1184 && offsetof(ContextAmd64, debugControl) == 1192);
static_assert(sizeof(ContextArm64) == 912);
static_assert(offsetof(ContextArm64, cpsr) == 4 && offsetof(ContextArm64, x) == 8 &&
              offsetof(ContextArm64, v) == 272 && offsetof(ContextArm64, fpcr) == 784 &&
              offsetof(ContextArm64, fpsr) == 788 && offsetof(ContextArm64, bcr) == 792 &&
              offsetof(ContextArm64, bvr) == 824 && offsetof(ContextArm64, wcr) == 888 &&
              offsetof(ContextArm64, wvr) == 896);
static_assert(sizeof(ContextArm64Old) == 796);
static_assert(offsetof(ContextArm64Old, x) == 8 && offsetof(ContextArm64Old, cpsr) == 272 &&
              offsetof(ContextArm64Old, v) == 284);

} // namespace ulmarro::minidump
