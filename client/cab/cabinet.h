// Writes the cabinet that carries a crash report: one folder, LZX-compressed
// with a 2 MB window (compression type 0x1503), 32 KB data blocks.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace cab {

struct CabinetFile {
    std::string nameInCabinet;
    std::filesystem::path source;
};

// progress(done, total) after each data block; returning false cancels (result false, error "cancelled").
bool WriteCabinet(const std::filesystem::path& cabinetPath, const std::vector<CabinetFile>& files,
                  const std::function<bool(std::uint64_t, std::uint64_t)>& progress, std::string* error);

} // namespace cab
