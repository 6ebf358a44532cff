#include "elfinfo.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include <elf.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ulmarro {
namespace {

bool ReadAt(int fd, std::uint64_t offset, void* buffer, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        ssize_t n =
            pread(fd, static_cast<char*>(buffer) + done, size - done, static_cast<off_t>(offset + done));
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

void ParseNotes(const std::vector<std::uint8_t>& data, FileIdentity* identity) {
    std::size_t pos = 0;
    auto align4 = [](std::size_t v) { return (v + 3) & ~static_cast<std::size_t>(3); };
    while (pos + 12 <= data.size()) {
        std::uint32_t nameSize, descSize, type;
        std::memcpy(&nameSize, &data[pos], 4);
        std::memcpy(&descSize, &data[pos + 4], 4);
        std::memcpy(&type, &data[pos + 8], 4);
        pos += 12;
        if (nameSize > data.size() - pos) return;
        std::string name(reinterpret_cast<const char*>(&data[pos]), nameSize);
        pos += align4(nameSize);
        if (pos > data.size() || descSize > data.size() - pos) return;
        if (!name.empty() && name.back() == '\0') name.pop_back();
        const std::uint8_t* desc = &data[pos];
        if (name == "GNU" && type == NT_GNU_BUILD_ID && identity->buildId.empty() && descSize <= 64) {
            identity->buildId.assign(desc, desc + descSize);
        } else if (name == "KORVELL" && type == 1 && descSize == 16) {
            for (int i = 0; i < 4; ++i) {
                std::uint32_t v;
                std::memcpy(&v, desc + 4 * i, 4);
                identity->version[static_cast<std::size_t>(i)] = static_cast<std::uint16_t>(v);
            }
            identity->hasVersion = true;
        }
        pos += align4(descSize);
    }
}

// DT_SONAME through the dynamic segment: the string table's address is
// turned into a file offset by the loadable segment that holds it. Section
// headers are not needed (they may be stripped).
std::string ReadSoname(int fd, const std::vector<Elf64_Phdr>& phdrs) {
    const Elf64_Phdr* dynamic = nullptr;
    for (const Elf64_Phdr& ph : phdrs)
        if (ph.p_type == PT_DYNAMIC) dynamic = &ph;
    if (dynamic == nullptr || dynamic->p_filesz == 0 || dynamic->p_filesz > 65536) return {};
    std::vector<Elf64_Dyn> entries(dynamic->p_filesz / sizeof(Elf64_Dyn));
    if (entries.empty() || !ReadAt(fd, dynamic->p_offset, entries.data(), entries.size() * sizeof(Elf64_Dyn)))
        return {};
    std::uint64_t strtab = 0, strsz = 0, soname = 0;
    bool haveStrtab = false, haveSoname = false;
    for (const Elf64_Dyn& d : entries) {
        if (d.d_tag == DT_NULL) break;
        if (d.d_tag == DT_STRTAB) {
            strtab = d.d_un.d_ptr;
            haveStrtab = true;
        } else if (d.d_tag == DT_STRSZ) {
            strsz = d.d_un.d_val;
        } else if (d.d_tag == DT_SONAME) {
            soname = d.d_un.d_val;
            haveSoname = true;
        }
    }
    if (!haveStrtab || !haveSoname || (strsz != 0 && soname >= strsz)) return {};
    for (const Elf64_Phdr& ph : phdrs) {
        if (ph.p_type != PT_LOAD || strtab < ph.p_vaddr || strtab - ph.p_vaddr >= ph.p_filesz) continue;
        std::uint64_t at = ph.p_offset + (strtab - ph.p_vaddr);
        if (soname > UINT64_MAX - at) return {};
        at += soname;
        if (at > static_cast<std::uint64_t>(INT64_MAX)) return {};
        char text[256];
        ssize_t got = pread(fd, text, sizeof text, static_cast<off_t>(at));
        if (got <= 0) return {};
        std::size_t n = 0;
        for (; n < static_cast<std::size_t>(got) && text[n] != '\0'; ++n)
            // A name, not a path, and printable: anything else is not used.
            if (text[n] == '/' || static_cast<unsigned char>(text[n]) < 0x20 || text[n] == 0x7F) return {};
        if (n == 0 || n == static_cast<std::size_t>(got)) return {};
        return std::string(text, n);
    }
    return {};
}

} // namespace

bool VersionFromFileName(const std::string& path, std::array<std::uint16_t, 4>* version) {
    std::string name = path.substr(path.find_last_of('/') + 1);
    std::size_t so = name.find(".so.");
    if (so == std::string::npos) return false;
    std::string digits = name.substr(so + 4);
    std::array<std::uint16_t, 4> v{};
    std::size_t part = 0;
    unsigned value = 0;
    bool any = false;
    for (char c : digits) {
        if (c >= '0' && c <= '9') {
            value = value * 10 + static_cast<unsigned>(c - '0');
            if (value > 0xFFFF) return false;
            any = true;
        } else if (c == '.' && any && part < 3) {
            v[part++] = static_cast<std::uint16_t>(value);
            value = 0;
            any = false;
        } else {
            return false;
        }
    }
    if (!any) return false;
    v[part] = static_cast<std::uint16_t>(value);
    *version = v;
    return true;
}

FileIdentity ReadFileIdentity(const std::string& path) {
    FileIdentity identity;
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd >= 0) {
        struct stat st {};
        Elf64_Ehdr header{};
        if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ReadAt(fd, 0, &header, sizeof header) &&
            std::memcmp(header.e_ident, ELFMAG, SELFMAG) == 0 && header.e_ident[EI_CLASS] == ELFCLASS64 &&
            header.e_phentsize == sizeof(Elf64_Phdr) && header.e_phnum < 256) {
            std::vector<Elf64_Phdr> phdrs;
            for (unsigned i = 0; i < header.e_phnum; ++i) {
                Elf64_Phdr ph{};
                if (!ReadAt(fd, header.e_phoff + i * sizeof ph, &ph, sizeof ph)) break;
                phdrs.push_back(ph);
                if (ph.p_type != PT_NOTE || ph.p_filesz == 0 || ph.p_filesz > 65536) continue;
                std::vector<std::uint8_t> notes(ph.p_filesz);
                if (ReadAt(fd, ph.p_offset, notes.data(), notes.size())) ParseNotes(notes, &identity);
            }
            identity.soname = ReadSoname(fd, phdrs);
        }
        close(fd);
    }
    if (!identity.hasVersion) identity.hasVersion = VersionFromFileName(path, &identity.version);
    return identity;
}

std::string VersionText(const FileIdentity& identity) {
    char text[32];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", identity.version[0], identity.version[1],
                  identity.version[2], identity.version[3]);
    return text;
}

} // namespace ulmarro

namespace ulmarro {

std::string ModuleName(const std::string& path, const FileIdentity& identity) {
    if (identity.soname.empty()) return path;
    std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? identity.soname : path.substr(0, slash + 1) + identity.soname;
}

} // namespace ulmarro
