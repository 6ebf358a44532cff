// The boards known by name, and board files.

#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "board/board.h"

namespace qorb::sim {

namespace {

MemoryRange Range(MemoryRange::Kind k, std::uint16_t first, std::uint16_t last) { return {k, first, last}; }

// The running program's folder, for files installed beside it.
std::filesystem::path ExecutableDir() {
    std::error_code ec;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::filesystem::path() : self.parent_path();
}

// Where the mini11's monitor is: installed under <prefix>/share beside the
// programs' bin, else where this build assembled it.
std::vector<std::string> Mini11Firmware() {
    std::vector<std::string> places;
    if (const auto dir = ExecutableDir(); !dir.empty())
        places.push_back((dir.parent_path() / "share" / "qorbsim" / "mini11" / "minibug11m8e.s19")
                             .lexically_normal()
                             .string());
#ifdef QORB_MINI11_FIRMWARE
    places.push_back(QORB_MINI11_FIRMWARE);
#endif
    return places;
}

} // namespace

std::vector<std::string> BuiltinBoardNames() { return {"flat", "hc912b32", "s12dp256", "hc11e9", "mini11"}; }

std::optional<BoardProfile> BuiltinBoard(const std::string& name) {
    BoardProfile s;
    s.name = name;
    if (name == "flat") return s;
    s.flat = false;
    if (name == "hc912b32") {
        // MC68HC912B32: 1 KB RAM, 768 bytes EEPROM, 32 KB flash.
        s.cpu = CpuModel::Cpu12;
        s.eclock = 8000000;
        s.registers = 0x0000;
        s.memory = {Range(MemoryRange::Ram, 0x0800, 0x0BFF), Range(MemoryRange::Eeprom, 0x0D00, 0x0FFF),
                    Range(MemoryRange::Rom, 0x8000, 0xFFFF)};
    } else if (name == "s12dp256") {
        // MC9S12DP256 out of reset: 12 KB RAM at $1000, the EEPROM's top
        // 3 KB below it, the unpaged flash from $4000, 1 KB of registers.
        s.cpu = CpuModel::Hcs12;
        s.s12 = true;
        s.eclock = 8000000;
        s.registers = 0x0000;
        s.memory = {Range(MemoryRange::Eeprom, 0x0400, 0x0FFF), Range(MemoryRange::Ram, 0x1000, 0x3FFF),
                    Range(MemoryRange::Rom, 0x4000, 0xFFFF)};
    } else if (name == "hc11e9") {
        // MC68HC11E9: 512 bytes RAM, 512 bytes EEPROM, 12 KB ROM.
        s.cpu = CpuModel::Hc11;
        s.eclock = 2000000;
        s.registers = 0x1000;
        s.internalRam = 512;
        s.memory = {Range(MemoryRange::Eeprom, 0xB600, 0xB7FF), Range(MemoryRange::Rom, 0xD000, 0xFFFF)};
    } else if (name == "mini11") {
        // The MC68HC11A1 board of the minibug monitor, as the monitor's
        // source lays it out: external RAM $0000-$EFFF around the on-chip
        // EEPROM (which holds the monitor), bus I/O and the paging latch at
        // $F400-$FBFF, the boot ROM at $FC00. A 7.3728 MHz crystal: E is
        // 1.8432 MHz, and BAUD = 0 gives 115200 baud.
        s.cpu = CpuModel::Hc11;
        s.eclock = 1843200;
        s.registers = 0x1000;
        s.internalRam = 256;
        s.memory = {Range(MemoryRange::Ram, 0x0000, 0xB5FF), Range(MemoryRange::Eeprom, 0xB600, 0xB7FF),
                    Range(MemoryRange::Ram, 0xB800, 0xEFFF), Range(MemoryRange::Rom, 0xFC00, 0xFFFF)};
        // The boot ROM starts the monitor in EEPROM.
        s.resetVector = 0xB600;
        s.firmware = Mini11Firmware();
        s.firmwareName = "the monitor minibug11m8e.s19";
    } else {
        return std::nullopt;
    }
    return s;
}

namespace {

std::string Trim(const std::string& s) {
    std::size_t b = 0, e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
    return s.substr(b, e - b);
}

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// $1F, 0x1F or decimal, at most `max`.
std::optional<std::uint64_t> Number(std::string s, std::uint64_t max) {
    s = Trim(s);
    unsigned base = 10;
    if (s.size() > 1 && s[0] == '$') {
        base = 16;
        s.erase(0, 1);
    } else if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        base = 16;
        s.erase(0, 2);
    }
    if (s.empty() || s.size() > 12) return std::nullopt;
    std::uint64_t v = 0;
    for (const char c : s) {
        const int d = std::isdigit(static_cast<unsigned char>(c)) ? c - '0'
                      : (base == 16 && std::isxdigit(static_cast<unsigned char>(c)))
                          ? std::tolower(c) - 'a' + 10
                          : -1;
        if (d < 0) return std::nullopt;
        v = v * base + static_cast<unsigned>(d);
    }
    if (v > max) return std::nullopt;
    return v;
}

std::optional<AccessPolicy> Policy(const std::string& v) {
    if (v == "ignore") return AccessPolicy::Ignore;
    if (v == "warn") return AccessPolicy::Warn;
    if (v == "stop") return AccessPolicy::Stop;
    return std::nullopt;
}

} // namespace

std::optional<BoardProfile> ParseBoardText(const std::string& text, const std::string& name,
                                           std::string& error) {
    BoardProfile s;
    s.flat = false;
    s.name = name;
    std::istringstream in(text);
    std::string raw, section;
    unsigned long lineNo = 0;
    bool variantGiven = false, anyMemory = false;
    auto fail = [&](const std::string& t) -> std::optional<BoardProfile> {
        error = name + "(" + std::to_string(lineNo) + "): " + t;
        return std::nullopt;
    };
    while (std::getline(in, raw)) {
        ++lineNo;
        if (raw.size() > 4096) return fail("line too long: not a board file");
        std::string line = raw;
        if (const auto c = line.find_first_of(";#"); c != std::string::npos) line.erase(c);
        line = Trim(line);
        if (line.empty()) continue;
        if (line.front() == '[') {
            if (line.back() != ']') return fail("section header without ']'");
            section = Lower(Trim(line.substr(1, line.size() - 2)));
            if (section != "board" && section != "memory")
                return fail("unknown section [" + section + "] (known: [board], [memory])");
            continue;
        }
        const auto eq = line.find('=');
        if (eq == std::string::npos) return fail("expected 'key = value'");
        const std::string key = Lower(Trim(line.substr(0, eq)));
        const std::string value = Trim(line.substr(eq + 1));
        const std::string lv = Lower(value);
        if (section.empty()) return fail("'" + key + "' before any section");
        if (section == "board") {
            if (key == "name") {
                s.name = value;
            } else if (key == "cpu") {
                if (lv == "68hc11")
                    s.cpu = CpuModel::Hc11;
                else if (lv == "68hc12")
                    s.cpu = CpuModel::Cpu12;
                else if (lv == "hcs12")
                    s.cpu = CpuModel::Hcs12;
                else
                    return fail("cpu '" + value + "': 68hc11, 68hc12 or hcs12");
            } else if (key == "registers-layout") {
                if (lv == "hc912b32")
                    s.s12 = false;
                else if (lv == "s12dp256")
                    s.s12 = true;
                else
                    return fail("registers-layout '" + value + "': hc912b32 or s12dp256");
                variantGiven = true;
            } else if (key == "eclock") {
                const auto v = Number(value, 100000000);
                if (!v || *v < 1000)
                    return fail("eclock '" + value + "': the E-clock in Hz, 1000 to 100000000");
                s.eclock = static_cast<std::uint32_t>(*v);
            } else if (key == "rom-write" || key == "unmapped") {
                const auto p = Policy(lv);
                if (!p) return fail(key + " '" + value + "': ignore, warn or stop");
                (key == "unmapped" ? s.unmapped : s.romWrite) = *p;
            } else if (key == "reset-vector") {
                const auto v = Number(value, 0xFFFF);
                if (!v) return fail("reset-vector '" + value + "': an address $0000-$FFFF");
                s.resetVector = static_cast<std::uint16_t>(*v);
            } else if (key == "firmware") {
                // Relative to the board file, so that a board file and its
                // monitor travel together.
                if (value.empty()) return fail("firmware needs an S-record file");
                std::filesystem::path p(value);
                if (p.is_relative()) p = std::filesystem::path(name).parent_path() / p;
                s.firmware = {p.lexically_normal().string()};
                s.firmwareName.clear();
            } else {
                return fail("unknown key '" + key +
                            "' in [board] (known: name, cpu, registers-layout, eclock, rom-write, unmapped, "
                            "reset-vector, firmware)");
            }
        } else {
            if (key == "ram" || key == "rom" || key == "eeprom") {
                const auto dash = value.find('-');
                const auto a =
                    dash == std::string::npos ? std::nullopt : Number(value.substr(0, dash), 0xFFFF);
                const auto b =
                    dash == std::string::npos ? std::nullopt : Number(value.substr(dash + 1), 0xFFFF);
                if (!a || !b || *a > *b)
                    return fail(key + " '" + value + "': FIRST-LAST, such as $0000-$7FFF");
                const MemoryRange r{key == "ram"   ? MemoryRange::Ram
                                    : key == "rom" ? MemoryRange::Rom
                                                   : MemoryRange::Eeprom,
                                    static_cast<std::uint16_t>(*a), static_cast<std::uint16_t>(*b)};
                for (const MemoryRange& o : s.memory)
                    if (r.first <= o.last && o.first <= r.last)
                        return fail(key + " '" + value + "' overlaps an earlier range");
                s.memory.push_back(r);
                anyMemory = true;
            } else if (key == "registers") {
                const auto v = Number(value, 0xFFFF);
                if (!v) return fail("registers '" + value + "': the register block's address");
                s.registers = static_cast<std::uint16_t>(*v);
            } else if (key == "internal-ram") {
                const auto v = Number(value, 1024);
                if (!v || *v == 0) return fail("internal-ram '" + value + "': its size in bytes, 1 to 1024");
                s.internalRam = static_cast<std::uint16_t>(*v);
            } else {
                return fail("unknown key '" + key +
                            "' in [memory] (known: ram, rom, eeprom, registers, internal-ram)");
            }
        }
    }
    lineNo = 0;
    auto whole = [&](const std::string& t) -> std::optional<BoardProfile> {
        error = name + ": " + t;
        return std::nullopt;
    };
    if (!s.cpu) return whole("no cpu in [board] (68hc11, 68hc12 or hcs12)");
    if (!anyMemory && s.internalRam == 0)
        return whole("no memory: give ram, rom or eeprom ranges in [memory]");
    if (s.internalRam && *s.cpu != CpuModel::Hc11)
        return whole("internal-ram is for the 68hc11 (INIT moves it)");
    if (!variantGiven) s.s12 = *s.cpu == CpuModel::Hcs12;
    if (s.eclock == 0) s.eclock = *s.cpu == CpuModel::Hc11 ? 2000000 : 8000000;
    if (s.registers) {
        if (*s.cpu == CpuModel::Hc11 && (*s.registers & 0x0FFF))
            return whole("the 68hc11's register block starts on a 4 KB boundary ($0000, $1000, ... $F000)");
        if (*s.cpu != CpuModel::Hc11 && (*s.registers & 0x07FF))
            return whole("the 68hc12's register block starts on a 2 KB boundary ($0000, $0800, ... $F800)");
    }
    return s;
}

std::optional<BoardProfile> ReadBoardFile(const std::string& path, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = path + ": cannot open the board file";
        return std::nullopt;
    }
    std::string text;
    char buf[4096];
    while (in.read(buf, sizeof buf) || in.gcount() > 0) {
        text.append(buf, static_cast<std::size_t>(in.gcount()));
        if (text.size() > (1 << 20)) {
            error = path + ": larger than 1 MB: not a board file";
            return std::nullopt;
        }
    }
    if (text.find('\0') != std::string::npos) {
        error = path + ": binary data: not a board file";
        return std::nullopt;
    }
    return ParseBoardText(text, path, error);
}

std::optional<BoardProfile> FindBoard(const std::string& nameOrFile, std::string& error) {
    if (auto b = BuiltinBoard(nameOrFile)) return b;
    std::error_code ec;
    if (!std::filesystem::exists(nameOrFile, ec)) {
        std::string known;
        for (const std::string& n : BuiltinBoardNames()) known += (known.empty() ? "" : ", ") + n;
        error = "unknown board '" + nameOrFile + "' (boards: " + known + "; or a board file)";
        return std::nullopt;
    }
    if (std::filesystem::is_directory(nameOrFile, ec)) {
        error = "board file " + nameOrFile + " is a directory";
        return std::nullopt;
    }
    return ReadBoardFile(nameOrFile, error);
}

} // namespace qorb::sim
