#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace ulmarro {

// What a report says about one executable or library file.
struct FileIdentity {
    std::vector<std::uint8_t> buildId;      // NT_GNU_BUILD_ID, empty when absent
    std::array<std::uint16_t, 4> version{}; // a.b.c.d
    bool hasVersion = false;
    // DT_SONAME of a shared library ("libstdc++.so.6"), empty when the file
    // has none. Symbol stores key libraries by it, not by the file name.
    std::string soname;
};

// Reads the build id, the SONAME and our own version note ("KORVELL", type 1)
// from an ELF file; for libraries without the note the version comes from the trailing
// digits of the file name (libstdc++.so.6.0.30 -> 6.0.30.0). Never throws;
// a file that is not ELF or is damaged gives an empty identity.
FileIdentity ReadFileIdentity(const std::string& path);

// Version from trailing ".N.N..." of a file name, as described above.
bool VersionFromFileName(const std::string& name, std::array<std::uint16_t, 4>* version);

std::string VersionText(const FileIdentity& identity); // "%u.%u.%u.%u"

// The name a report gives a module mapped from `path`: the file's directory
// and its SONAME where it has one (the name the dynamic linker loaded it by,
// and the name symbol files carry), else `path` itself.
std::string ModuleName(const std::string& path, const FileIdentity& identity);

} // namespace ulmarro
