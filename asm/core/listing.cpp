// The listing file.

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>

#include "host.h"
#include "impl.h"
#include "listing.h"

namespace qorb {

namespace {
const char kHex[] = "0123456789ABCDEF";
} // namespace

void AppendHex(std::string& out, std::uint32_t v, int digits) {
    for (int i = digits - 1; i >= 0; --i) out += kHex[(v >> (4 * i)) & 0xF];
}

void AppendListingAddress(std::string& out, std::uint32_t a) {
    if (a <= 0xFFFF) {
        out += "    ";
        AppendHex(out, a, 4);
    } else {
        AppendHex(out, a, 8);
    }
    out += ' ';
}

std::size_t AppendListingItems(std::string& out, const std::uint8_t* bytes, const std::uint8_t* itemSizes,
                               std::size_t count, std::size_t next) {
    std::size_t shown = 0;
    while (next < count) {
        std::size_t size = itemSizes[next];
        if (size == 0) size = 1;
        if (next + size > count) size = count - next;
        const std::size_t limit = size == 4 ? 8 : 6;
        if (shown > 0 && shown + size > limit) break;
        for (std::size_t i = 0; i < size; ++i) AppendHex(out, bytes[next + i], 2);
        out += ' ';
        next += size;
        shown += size;
    }
    return next;
}

Listing::~Listing() {
    if (!file_) return;
    if (streaming_ && !failed_) WriteBlock();
    std::fclose(file_);
}

void Listing::Write(std::string_view text) {
    if (!file_ || failed_) return;
    // A hostile source (nested repeat blocks with mlist on) could list lines
    // without end; past 1 GB the listing is given up as a file too large.
    constexpr std::uint64_t kMaxListingBytes = 1ull << 30;
    written_ += text.size() * 2; // at most: every character a line feed
    if (written_ > kMaxListingBytes) {
        failed_ = true;
        writeErrno_ = host::FileTooLargeCode();
        return;
    }
    // Everything in the listing ends its lines with CR LF.
    std::size_t start = 0;
    while (start < text.size() && !failed_) {
        std::size_t nl = text.find('\n', start);
        std::size_t end = nl == std::string_view::npos ? text.size() : nl;
        if (end > start) Emit(text.data() + start, end - start);
        if (nl != std::string_view::npos) Emit("\r\n", 2);
        start = end + 1;
    }
    if (failed_ && !writeErrno_ && refused_.empty()) {
        int e = host::LastFileError();
        writeErrno_ = e ? e : host::IoErrorCode();
    }
}

namespace {
// What a listing holds before it is written as it comes: the whole listing
// of a program of some 50,000 lines. Past that, an include first opened late
// in the final pass is no longer caught being the listing (it is then
// refused as an output already emptied).
constexpr std::size_t kHeldListing = 4u << 20;
// Once written as it comes, the listing goes out in blocks of this size: a
// call to the C library per listing line costs more than building it.
constexpr std::size_t kListingBlock = 64u << 10;
} // namespace

void Listing::Emit(const char* text, std::size_t n) {
    if (!streaming_) {
        held_.append(text, n);
        if (held_.size() > kHeldListing) Stream();
        return;
    }
    block_.append(text, n);
    if (block_.size() >= kListingBlock) WriteBlock();
}

void Listing::WriteBlock() {
    if (!block_.empty() && std::fwrite(block_.data(), 1, block_.size(), file_) != block_.size())
        failed_ = true;
    block_.clear();
}

void Listing::Stream() {
    streaming_ = true;
    Assembler::Impl& im = as_.I();
    Assembler::Impl::Output* self = nullptr;
    for (auto& o : im.outputs)
        if (!o.errorFile && o.id == id_) self = &o;
    std::string clash = im.Clash(id_, self);
    int e = 0;
    if (!clash.empty()) {
        refused_ = clash;
        failed_ = true;
    } else if (!host::TruncateOutput(file_, &e)) {
        failed_ = true;
        writeErrno_ = e;
    } else {
        if (self) self->emptied = true;
        if (!held_.empty() && std::fwrite(held_.data(), 1, held_.size(), file_) != held_.size())
            failed_ = true;
    }
    held_.clear();
    held_.shrink_to_fit();
}

void Listing::NewPage() {
    Assembler::Impl& im = as_.I();
    Write("\f\n");
    Write(im.title + "\n");
    Write(im.subtitle + "\n");
    linesOnPage_ = 2;
    pageBreakPending_ = false;
}

void Listing::StartPageIfNeeded() {
    int plen = as_.I().pageLength;
    if (pageBreakPending_ || (plen > 0 && linesOnPage_ >= plen)) NewPage();
}

void Listing::WriteLine(std::string_view text) {
    StartPageIfNeeded();
    Write(text);
    Write("\n");
    ++linesOnPage_;
}

void Listing::Spacing(int n) {
    int plen = as_.I().pageLength;
    if (plen > 0 && n >= plen - linesOnPage_) {
        pageBreakPending_ = true;
        return;
    }
    for (int i = 0; i < n; ++i) WriteLine("");
}

void Listing::Message(std::string_view line) {
    StartPageIfNeeded();
    Write(line);
    ++linesOnPage_;
}

void Listing::Line(std::string_view text, int number, const LineState& ls, const LineCode& code) {
    Assembler::Impl& im = as_.I();
    if (ls.control || !im.listOn) return;
    if (ls.skipped && !im.clistOn) return;
    if (ls.macroLine && !im.mlistOn) return;
    const bool cycles = as_.GetSettings().cycles;

    // One buffer for every line: no allocation per listed line.
    std::string& out = line_;
    out.clear();
    char digits[16];
    const auto end = std::to_chars(digits, digits + sizeof digits, number).ptr;
    const std::size_t width = static_cast<std::size_t>(end - digits);
    if (width < 5) out.append(5 - width, ' ');
    out.append(digits, width);
    out += ls.macroLine ? 'm' : ':';
    out += ' ';
    std::size_t fieldStart = out.size();
    std::size_t next = 0; // next code byte to show
    auto address = [&](std::uint32_t a) { AppendListingAddress(out, a); };
    auto bytes = [&]() { next = AppendListingItems(out, code.bytes, code.itemSize, code.count, next); };
    if (ls.hasValue) {
        out.append(9, ' ');
        out += '=';
        AppendHex(out, static_cast<std::uint32_t>(ls.value), 8);
    } else if (ls.reserveLine) {
        address(code.start);
        out += '+';
        AppendHex(out, static_cast<std::uint32_t>(std::min<std::size_t>(ls.reserved, 0xFFFFFFFFu)), 4);
    } else if (code.count > 0) {
        address(code.start);
        bytes();
    } else {
        out.append(7, ' ');
    }
    if (out.size() < fieldStart + 31) out.append(fieldStart + 31 - out.size(), ' ');
    if (cycles) {
        if (code.cycles >= 0 && !ls.hasValue && !ls.reserveLine) {
            out += " [";
            AppendHex(out, static_cast<std::uint32_t>(code.cycles) & 0xFF, 2);
            out += ']';
        } else {
            out.append(5, ' ');
        }
    }
    out += ' ';
    std::size_t textStart = out.size();
    int tab = im.tabWidth > 0 ? im.tabWidth : 8;
    std::size_t col = 0;
    for (char c : text) {
        if (c == '\t') {
            std::size_t to = (col / tab + 1) * tab;
            out.append(to - col, ' ');
            col = to;
        } else {
            out += c;
            ++col;
        }
    }
    // A line longer than the line length continues on further lines that
    // start at the source text's column, so nothing of the source is lost.
    std::size_t llen = im.lineLength > 0 ? static_cast<std::size_t>(im.lineLength) : 0;
    if (llen > textStart + 8 && out.size() > llen) {
        std::size_t width = llen - textStart;
        WriteLine(std::string_view(out).substr(0, llen));
        for (std::size_t p = llen; p < out.size(); p += width)
            WriteLine(std::string(textStart, ' ') + out.substr(p, width));
    } else {
        while (!out.empty() && out.back() == ' ' && out.size() > textStart) out.pop_back();
        WriteLine(out);
    }
    // Continuation lines for the remaining code bytes.
    while (next < code.count) {
        out.assign(7, ' ');
        address(code.start + static_cast<std::uint32_t>(next));
        bytes();
        while (!out.empty() && out.back() == ' ') out.pop_back();
        WriteLine(out);
    }
}

void Listing::Symbols(bool usedOnly) {
    std::vector<const std::pair<const std::string, Symbol>*> list;
    for (const auto& entry : as_.Symbols())
        if (!usedOnly || entry.second.used) list.push_back(&entry);
    std::sort(list.begin(), list.end(), [](auto* a, auto* b) { return a->first < b->first; });
    Write("\nSymbols:\n");
    for (auto* e : list) {
        char marker = !e->second.known ? '?' : e->second.used ? '*' : ' ';
        Write(FormatText("%-30s  %c%08x\n", {e->first, marker, static_cast<std::uint32_t>(e->second.value)}));
    }
}

bool Listing::Close() {
    if (!file_) return true;
    if (!streaming_ && !failed_) Stream();
    if (!refused_.empty()) {
        // Not a byte was written: the file keeps its text.
        std::fclose(file_);
        file_ = nullptr;
        as_.Report(Msg::IoErrorCreatingFile, {path_, refused_});
        return false;
    }
    if (!failed_) {
        WriteBlock();
        if (failed_ && !writeErrno_) {
            int e = host::LastFileError();
            writeErrno_ = e ? e : host::IoErrorCode();
        }
    }
    if (std::fflush(file_) != 0 && !failed_) {
        failed_ = true;
        writeErrno_ = host::LastFileError();
    }
    if (failed_) {
        std::fclose(file_);
        file_ = nullptr;
        as_.Report(Msg::IoErrorWritingFile,
                   {path_, host::ErrorText(writeErrno_ ? writeErrno_ : host::IoErrorCode())});
        return false;
    }
    int rc = std::fclose(file_);
    file_ = nullptr;
    if (rc != 0) {
        as_.Report(Msg::IoErrorClosingFile, {path_, host::ErrorText(host::LastFileError())});
        return false;
    }
    return true;
}

} // namespace qorb
