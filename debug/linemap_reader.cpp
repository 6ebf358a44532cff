#include "linemap_reader.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string_view>

namespace qorb::debug {

namespace {

// A map describes at most a few hundred thousand lines of source; anything
// far beyond is not a map, and reading it whole would only cost memory.
constexpr std::uintmax_t kMaxMapSize = 256u << 20;

std::vector<std::string_view> SplitTabs(std::string_view line) {
    std::vector<std::string_view> fields;
    std::size_t start = 0;
    for (;;) {
        const std::size_t tab = line.find('\t', start);
        if (tab == std::string_view::npos) {
            fields.push_back(line.substr(start));
            return fields;
        }
        fields.push_back(line.substr(start, tab - start));
        start = tab + 1;
    }
}

// The writer escapes a tab, a line end and a backslash; anything else after
// a backslash is kept as it stands.
std::string Unescape(std::string_view field) {
    std::string out;
    out.reserve(field.size());
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 1 < field.size()) {
            const char n = field[i + 1];
            if (n == 't' || n == 'n' || n == '\\') {
                out += n == 't' ? '\t' : n == 'n' ? '\n' : '\\';
                ++i;
                continue;
            }
        }
        out += field[i];
    }
    return out;
}

std::optional<std::uint32_t> ParseHex(std::string_view s) {
    if (s.empty() || s.size() > 8) return std::nullopt;
    std::uint32_t v = 0;
    for (const char c : s) {
        unsigned d;
        if (c >= '0' && c <= '9')
            d = static_cast<unsigned>(c - '0');
        else if (c >= 'A' && c <= 'F')
            d = static_cast<unsigned>(c - 'A' + 10);
        else if (c >= 'a' && c <= 'f')
            d = static_cast<unsigned>(c - 'a' + 10);
        else
            return std::nullopt;
        v = v << 4 | d;
    }
    return v;
}

std::optional<long> ParseDecimal(std::string_view s, long max) {
    if (s.empty() || s.size() > 10) return std::nullopt;
    long v = 0;
    for (const char c : s) {
        if (c < '0' || c > '9') return std::nullopt;
        v = v * 10 + (c - '0');
    }
    if (v > max) return std::nullopt;
    return v;
}

} // namespace

void LineMapReader::Clear() {
    target_.clear();
    source_.clear();
    files_.clear();
    ranges_.clear();
    byAddress_.clear();
    codeLines_.clear();
    symbols_.clear();
    entry_.reset();
}

bool LineMapReader::Load(const std::string& path, std::string& error) {
    Clear();
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
        error = path + ": is a folder, not a line map";
        return false;
    }
    const auto size = std::filesystem::file_size(path, ec);
    if (ec) {
        error = path + ": cannot read the line map (" + ec.message() + ")";
        return false;
    }
    if (size > kMaxMapSize) {
        error = path + ": too large for a line map";
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = path + ": cannot open the line map";
        return false;
    }
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) {
        error = path + ": read error";
        return false;
    }
    return Parse(text.str(), path, error);
}

bool LineMapReader::Parse(const std::string& text, const std::string& name, std::string& error) {
    Clear();
    unsigned long lineNo = 0;
    auto fail = [&](const std::string& what) {
        error = name + (lineNo ? "(" + std::to_string(lineNo) + ")" : std::string()) + ": " + what;
        Clear();
        return false;
    };
    if (text.empty()) return fail("empty file, not a line map");
    // The writer ends every record with a line end: a file that stops
    // inside a record was cut short.
    if (text.back() != '\n') {
        lineNo = static_cast<unsigned long>(std::count(text.begin(), text.end(), '\n') + 1);
        return fail("truncated: the last record has no line end");
    }
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t end = text.find('\n', pos);
        std::string_view line(text.data() + pos, end - pos);
        pos = end + 1;
        ++lineNo;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        const auto f = SplitTabs(line);
        if (lineNo == 1) {
            if (f[0] != "QORBMAP") return fail("not a line map (the first line must start with QORBMAP)");
            if (f.size() < 4) return fail("the QORBMAP line needs a version, a target and a source name");
            if (f[1] != "1")
                return fail("line map version " + std::string(f[1]) +
                            " is not supported (this reader knows 1)");
            target_ = Unescape(f[2]);
            source_ = Unescape(f[3]);
            continue;
        }
        if (line.empty()) continue;
        const std::string_view kind = f[0];
        if (kind == "F") {
            if (f.size() < 3) return fail("F record needs a number and a path");
            const auto n = ParseDecimal(f[1], 1000000);
            if (!n || static_cast<std::size_t>(*n) != files_.size() + 1)
                return fail("F record numbers must count up from 1 (expected " +
                            std::to_string(files_.size() + 1) + ", found '" + std::string(f[1]) + "')");
            files_.push_back(Unescape(f[2]));
        } else if (kind == "L") {
            if (f.size() < 5 || f.size() % 2 == 0)
                return fail("L record needs an address, a length and file/line pairs");
            PlacedRange r;
            const auto a = ParseHex(f[1]);
            const auto len = ParseDecimal(f[2], 0x1000000);
            if (!a) return fail("bad address '" + std::string(f[1]) + "' in L record");
            if (!len || *len == 0) return fail("bad length '" + std::string(f[2]) + "' in L record");
            r.address = *a;
            r.length = static_cast<std::uint32_t>(*len);
            for (std::size_t i = 3; i + 1 < f.size(); i += 2) {
                const auto file = ParseDecimal(f[i], 1000000);
                const auto ln = ParseDecimal(f[i + 1], 100000000);
                if (!file || *file == 0 || static_cast<std::size_t>(*file) > files_.size())
                    return fail("L record names file '" + std::string(f[i]) +
                                "', which no F record before it gives");
                if (!ln || *ln == 0)
                    return fail("bad line number '" + std::string(f[i + 1]) + "' in L record");
                r.chain.push_back(SourcePlace{static_cast<unsigned>(*file), static_cast<int>(*ln)});
            }
            for (const SourcePlace& p : r.chain) codeLines_[p.file].insert(p.line);
            ranges_.push_back(std::move(r));
        } else if (kind == "S") {
            if (f.size() < 6) return fail("S record needs a name, a value, a kind, a file and a line");
            MapSymbol s;
            s.name = Unescape(f[1]);
            const auto v = ParseHex(f[2]);
            if (s.name.empty()) return fail("S record without a name");
            if (!v) return fail("bad value '" + std::string(f[2]) + "' for symbol " + s.name);
            s.value = *v;
            s.kind = std::string(f[3]);
            const auto file = ParseDecimal(f[4], 1000000);
            const auto ln = ParseDecimal(f[5], 100000000);
            if (!file || *file == 0 || static_cast<std::size_t>(*file) > files_.size())
                return fail("S record names file '" + std::string(f[4]) +
                            "', which no F record before it gives");
            if (!ln) return fail("bad line number '" + std::string(f[5]) + "' in S record");
            s.where = SourcePlace{static_cast<unsigned>(*file), static_cast<int>(*ln)};
            symbols_.push_back(std::move(s));
        } else if (kind == "E") {
            const auto a = f.size() >= 2 ? ParseHex(f[1]) : std::nullopt;
            if (!a) return fail("E record needs an address in hex");
            entry_ = *a;
        }
        // Any other record kind is newer than this reader: skipped, as the
        // format's version rule asks.
    }
    if (lineNo == 0 || target_.empty()) return fail("not a line map");
    byAddress_.resize(ranges_.size());
    for (std::size_t i = 0; i < ranges_.size(); ++i) byAddress_[i] = i;
    std::stable_sort(byAddress_.begin(), byAddress_.end(),
                     [&](std::size_t x, std::size_t y) { return ranges_[x].address < ranges_[y].address; });
    return true;
}

std::string LineMapReader::FileName(unsigned file) const {
    if (file == 0 || file > files_.size()) return "?";
    return std::filesystem::path(files_[file - 1]).filename().string();
}

unsigned LineMapReader::FindFile(const std::string& path) const {
    for (std::size_t i = 0; i < files_.size(); ++i)
        if (files_[i] == path) return static_cast<unsigned>(i + 1);
    std::error_code ec;
    const auto want = std::filesystem::weakly_canonical(path, ec);
    if (!ec)
        for (std::size_t i = 0; i < files_.size(); ++i) {
            std::error_code ec2;
            if (std::filesystem::weakly_canonical(files_[i], ec2) == want && !ec2)
                return static_cast<unsigned>(i + 1);
        }
    const std::string leaf = std::filesystem::path(path).filename().string();
    unsigned found = 0;
    for (std::size_t i = 0; i < files_.size(); ++i)
        if (std::filesystem::path(files_[i]).filename().string() == leaf) {
            if (found) return 0; // two files of that name: ambiguous
            found = static_cast<unsigned>(i + 1);
        }
    return found;
}

const PlacedRange* LineMapReader::At(std::uint32_t address) const {
    // The last range starting at or before the address.
    auto it = std::upper_bound(byAddress_.begin(), byAddress_.end(), address,
                               [&](std::uint32_t a, std::size_t i) { return a < ranges_[i].address; });
    // Ranges do not overlap in a map the assembler wrote; a few steps back
    // are enough for one that does (a long range holding shorter ones).
    for (int k = 0; k < 8 && it != byAddress_.begin(); ++k) {
        --it;
        if (ranges_[*it].Contains(address)) return &ranges_[*it];
    }
    return nullptr;
}

bool LineMapReader::EndsWith(const PlacedRange& r, const std::vector<SourcePlace>& suffix) const {
    if (suffix.size() > r.chain.size()) return false;
    return std::equal(suffix.rbegin(), suffix.rend(), r.chain.rbegin());
}

std::vector<std::uint32_t> LineMapReader::AddressesOf(unsigned file, int line) const {
    std::vector<std::uint32_t> out;
    const SourcePlace want{file, line};
    // The key of the previous range that matched at a call level: ranges of
    // one expansion follow each other in the map.
    std::vector<SourcePlace> previous;
    bool previousMatched = false;
    for (const PlacedRange& r : ranges_) {
        const auto it = std::find(r.chain.begin(), r.chain.end(), want);
        if (it == r.chain.end()) {
            previousMatched = false;
            continue;
        }
        if (it == r.chain.begin()) {
            out.push_back(r.address);
            previousMatched = false;
            continue;
        }
        std::vector<SourcePlace> key(it, r.chain.end());
        if (!previousMatched || key != previous) out.push_back(r.address);
        previous = std::move(key);
        previousMatched = true;
    }
    return out;
}

std::optional<int> LineMapReader::LineWithCode(unsigned file, int line) const {
    const auto f = codeLines_.find(file);
    if (f == codeLines_.end()) return std::nullopt;
    const auto it = f->second.lower_bound(line);
    if (it == f->second.end()) return std::nullopt;
    return *it;
}

std::string LineMapReader::Describe(SourcePlace place) const {
    return FileName(place.file) + ":" + std::to_string(place.line);
}

std::string LineMapReader::Describe(const std::vector<SourcePlace>& chain) const {
    std::string out;
    for (std::size_t i = 0; i < chain.size(); ++i)
        out += i == 0 ? Describe(chain[i]) : " (from " + Describe(chain[i]) + ")";
    return out;
}

} // namespace qorb::debug
