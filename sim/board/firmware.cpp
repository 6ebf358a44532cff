#include "board/firmware.h"

#include <cstdio>
#include <filesystem>

#include "core/bus.h"
#include "core/hex.h"

namespace qorb::sim {

namespace {

// The firmware's extent for messages: "$B600-$B7FF".
std::string Extent(const LoadedImage& image) {
    std::uint32_t last = image.Lowest();
    for (std::uint32_t a = image.Lowest(); a < 0x10000; ++a)
        if (image.Loaded(static_cast<std::uint16_t>(a))) last = a;
    return Hex4(image.Lowest()) + "-" + Hex4(last);
}

} // namespace

std::optional<std::string> FindFirmware(const BoardProfile& profile, std::string& error) {
    std::string looked;
    for (const std::string& place : profile.firmware) {
        std::error_code ec;
        if (std::filesystem::is_regular_file(place, ec)) return place;
        looked += (looked.empty() ? "" : ", ") + place;
    }
    const std::string what =
        profile.firmwareName.empty() ? "firmware" : "firmware (" + profile.firmwareName + ")";
    error = "board " + profile.name + ": its " + what + " is missing: looked in " +
            (looked.empty() ? std::string("no place") : looked);
    return std::nullopt;
}

std::optional<Firmware> LoadFirmware(const BoardProfile& profile, const Board& board, Bus& bus,
                                     std::string& error) {
    const auto path = FindFirmware(profile, error);
    if (!path) return std::nullopt;
    Firmware f;
    f.path = *path;
    LoadError e;
    if (!LoadSRecordFile(f.path, bus, f.image, e)) {
        error = "board " + profile.name + "'s firmware " + e.file +
                (e.line ? "(" + std::to_string(e.line) + ")" : "") + ": " + e.text;
        return std::nullopt;
    }
    if (!f.image.Any()) {
        error = "board " + profile.name + "'s firmware " + f.path + " holds no data";
        return std::nullopt;
    }
    std::uint16_t at = 0;
    const char* what = nullptr;
    if (board.Misplaced(f.image, at, what)) {
        error =
            "board " + profile.name + "'s firmware " + f.path + ": data at " + Hex4(at) + " falls on " + what;
        return std::nullopt;
    }
    f.bytes.assign(0x10000, 0);
    for (std::uint32_t a = 0; a < 0x10000; ++a)
        if (f.image.Loaded(static_cast<std::uint16_t>(a)))
            f.bytes[a] = bus.Peek(static_cast<std::uint16_t>(a));
    // The reset vector as the CPU would fetch it: the firmware's own, else
    // the board's boot ROM's; firmware without either starts where its
    // file says, else at its first byte.
    if ((f.image.Loaded(0xFFFE) && f.image.Loaded(0xFFFF)) || profile.resetVector)
        f.reset = static_cast<std::uint16_t>(bus.Peek(0xFFFE) << 8 | bus.Peek(0xFFFF));
    else if (f.image.Start())
        f.reset = *f.image.Start();
    else
        f.reset = f.image.Lowest();
    return f;
}

std::optional<std::string> FirmwareOverlap(const Firmware& firmware, const LoadedImage& program,
                                           const Bus& bus, const std::string& programName) {
    for (std::uint32_t a = 0; a < 0x10000; ++a) {
        const auto at = static_cast<std::uint16_t>(a);
        if (!program.Loaded(at) || !firmware.image.Loaded(at) || bus.Peek(at) == firmware.bytes[a]) continue;
        return programName + ": data at " + Hex4(a) + " overlaps the board's firmware (" + firmware.path +
               ", " + Extent(firmware.image) + ")";
    }
    return std::nullopt;
}

} // namespace qorb::sim
