// Input sources and the line loop: the stack of files, macro expansions and
// repeat blocks a pass reads its lines from.

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>

#include "host.h"
#include "impl.h"
#include "listing.h"
#include "observe.h"
#include "source.h"

namespace qorb {

bool FileReader::Next(std::string& out, int& error) {
    out.clear();
    bool any = false;
    for (;;) {
        if (pos_ >= len_) {
            if (eof_) break;
            int e = 0;
            long n = host::Read(fd_, buf_, sizeof buf_, &e);
            if (n < 0) {
                eof_ = true;
                error = e;
                break;
            }
            if (n == 0) {
                eof_ = true;
                break;
            }
            len_ = static_cast<std::size_t>(n);
            pos_ = 0;
        }
        // Scan the buffer for the end of the line.
        const char* start = buf_ + pos_;
        const char* end = static_cast<const char*>(std::memchr(start, '\n', len_ - pos_));
        std::size_t take = end ? static_cast<std::size_t>(end - start) : len_ - pos_;
        // Carriage returns and Ctrl-Z are dropped wherever they stand.
        // Most lines have none, or only a CR before the line feed: copy
        // those at once, the others run by run.
        std::size_t plain = take;
        if (plain > 0 && start[plain - 1] == '\r') --plain;
        const bool clean = !std::memchr(start, '\r', plain) && !std::memchr(start, 0x1A, plain);
        for (std::size_t i = 0; i < (clean ? plain : take) && out.size() < kMaxLineLength;) {
            std::size_t run = clean ? plain : i;
            while (run < take && start[run] != '\r' && start[run] != 0x1A) ++run;
            out.append(start + i, std::min(run - i, kMaxLineLength - out.size()));
            i = run + 1;
        }
        any = any || take > 0;
        pos_ += take;
        if (end) {
            ++pos_;
            return true;
        }
    }
    // A last line without a line feed still counts when it is not empty.
    return any && !out.empty();
}

namespace {
// Notes the line [offset, offset + length) of the text read: as it stands
// when it has no carriage return but the one before its line feed and no
// Ctrl-Z, or else as a copy without them behind the file's text. False for
// a line that is empty once they are dropped.
bool AddLine(FileText& text, std::size_t offset, std::size_t length) {
    std::string& buf = text.text;
    const char* start = buf.data() + offset;
    std::size_t plain = length;
    if (plain > 0 && start[plain - 1] == '\r') --plain;
    if (!std::memchr(start, '\r', plain) && !std::memchr(start, 0x1A, plain)) {
        text.lines.push_back(FileText::Line{static_cast<std::uint32_t>(offset),
                                            static_cast<std::uint32_t>(std::min(plain, kMaxLineLength))});
        return plain > 0;
    }
    std::string kept;
    for (std::size_t i = 0; i < length && kept.size() < kMaxLineLength; ++i)
        if (start[i] != '\r' && start[i] != 0x1A) kept += start[i];
    text.lines.push_back(
        FileText::Line{static_cast<std::uint32_t>(buf.size()), static_cast<std::uint32_t>(kept.size())});
    buf += kept;
    return !kept.empty();
}
} // namespace

// The lines are those FileReader delivers; the file is read whole first.
void LoadFileText(int fd, std::size_t size, FileText& text) {
    std::string& buf = text.text;
    buf.resize(size + 1); // one more: the end is seen without growing
    std::size_t used = 0;
    int error = 0;
    for (;;) {
        if (used == buf.size()) buf.resize(buf.size() * 2);
        long n = host::Read(fd, buf.data() + used, buf.size() - used, &error);
        if (n <= 0) break;
        used += static_cast<std::size_t>(n);
    }
    buf.resize(used);
    // Room for lines of eight characters on average: reserved room costs
    // nothing until used, while a list grown on the way is copied.
    text.lines.reserve(used / 8 + 1);
    // Most files have no carriage return and no Ctrl-Z at all: their lines
    // need no look for them, one by one.
    const bool plain = !std::memchr(buf.data(), '\r', used) && !std::memchr(buf.data(), 0x1A, used);
    std::size_t pos = 0;
    while (pos < used) {
        const char* at = buf.data() + pos;
        const char* nl = static_cast<const char*>(std::memchr(at, '\n', used - pos));
        if (!nl) break;
        const std::size_t length = static_cast<std::size_t>(nl - at);
        if (plain)
            text.lines.push_back(
                FileText::Line{static_cast<std::uint32_t>(pos),
                               static_cast<std::uint32_t>(std::min(length, kMaxLineLength))});
        else
            AddLine(text, pos, length);
        pos += length + 1;
    }
    // A read error is reported where the reader met it: before the part
    // of a line read up to it.
    if (error) {
        text.errorBefore = text.lines.size();
        text.error = error;
    }
    // A last line without a line feed still counts when it is not empty.
    if (pos < used && !AddLine(text, pos, used - pos)) text.lines.pop_back();
    text.memos.resize(text.lines.size());
    text.code.reset(new std::uint64_t[text.lines.size()]);
}

bool FileText::Keep(std::size_t i, const LineCode& line, bool again) {
    static_assert(std::endian::native == std::endian::little, "KeptBytes reads the word's low bytes");
    static_assert(LineCode::kCapacity >= sizeof(std::uint64_t));
    const std::uint8_t* bytes = line.bytes;
    const std::size_t count = line.count;
    std::uint64_t word = 0;
    if (count <= kInlineCode) {
        // A word of the line's buffer, cut to the line's bytes.
        std::memcpy(&word, bytes, sizeof word);
        word &= count == 0 ? 0 : ~std::uint64_t{0} >> (64 - 8 * count);
    } else {
        // A data line has the same size in every pass: its place is used
        // again. Each pass adds at most what the text's data lines hold.
        std::size_t at;
        if (again && KeptCount(i) == count) {
            at = static_cast<std::size_t>(code[i] & 0xFFFFFFFFFFFFull);
        } else {
            if (longCode.size() + count > text.size()) return false;
            at = longCode.size();
            longCode.append(count, '\0');
        }
        std::memcpy(longCode.data() + at, bytes, count);
        word = static_cast<std::uint64_t>(at);
    }
    code[i] = word | static_cast<std::uint64_t>(count) << 48;
    return true;
}

bool FileSource::Next(std::string_view& out) {
    if (text_) {
        if (next_ == text_->errorBefore && !errorGiven_) {
            errorGiven_ = true;
            as_.Report(Msg::IoErrorReadingFile, {name, host::ErrorText(text_->error)});
        }
        if (next_ >= text_->lines.size()) return false;
        out = text_->LineText(next_++);
        ++line;
        return true;
    }
    int error = 0;
    bool got = reader_.Next(line_, error);
    if (error) as_.Report(Msg::IoErrorReadingFile, {name, host::ErrorText(error)});
    if (!got) return false;
    out = line_;
    ++line;
    return true;
}

void Assembler::Impl::PushSource(std::unique_ptr<InputSource> src) {
    src->condFloor = conds.size();
    src->saveFloor = saveStack.size();
    sources.push_back(std::move(src));
}

bool Assembler::Impl::PushFile(const std::string& name, const std::string& opened) {
    if (sources.size() >= kMaxSourceDepth) return as.Report(Msg::OutOfMemory);
    int error = 0;
    host::FileId id;
    int fd = observe::OpenSource(as, opened, &error, &id);
    if (fd < 0) return as.Report(Msg::CannotOpen, {name, host::ErrorText(error)});
    PushOpenFile(fd, id, name, name);
    return true;
}

void Assembler::Impl::PushOpenFile(int fd, const host::FileId& id, const std::string& name,
                                   const std::string& written) {
    NoteInput(id, written);
    auto src = std::make_unique<FileSource>(fd, as, CachedText(fd, id));
    src->name = name;
    src->id = id;
    PushSource(std::move(src));
}

bool Assembler::Impl::RunPass() {
    if (!PushFile(sourceDisplay, sourcePath)) return false;
    std::string_view& text = lineText;
    // Nested repeat blocks multiply: two of 65535 would run four billion
    // lines, and a symbol that never resolves repeats that for every pass.
    // All passes of a source together process at most twenty times the
    // lines of the largest real program (which needs about four times its
    // length). An ordinary pass leaves as many lines for the final pass as
    // it used itself, so that the final pass, which alone prints, reaches
    // the place where the budget ran out and reports it there.
    constexpr std::uint64_t kMaxLinesPerSource = 20'000'000;
    std::uint64_t lines = 0;
    // Runs of settled lines are taken at once when nothing watches the lines
    // one by one: no observer, no listing, no line map; and in the final
    // pass only after passes that went well (a failed one leaves the final
    // pass to assemble every line as it can).
    const bool takeSettled = as.pass_ > 1 && !as.Observer() && !listing &&
                             (!as.final_ || (!mapWanted && !as.relax_ && !as.screwed_));
    while (!sources.empty()) {
        if (as.fatals_) break;
        InputSource* top = sources.back().get();
        if (takeSettled && top->kind == SourceKind::File && !top->ended && !collecting.active) {
            const std::uint64_t used = linesSpent + (as.final_ ? lines : 2 * lines);
            if (used < kMaxLinesPerSource)
                lines += TakeSettledLines(*static_cast<FileSource*>(top),
                                          (kMaxLinesPerSource - used) / (as.final_ ? 1 : 2));
        }
        if (top->ended || !top->Next(text)) {
            if (as.fatals_) break;
            EndSource();
            continue;
        }
        ++lines;
        if (linesSpent + (as.final_ ? lines : 2 * lines) > kMaxLinesPerSource) {
            budgetSpent = true;
            as.scan_.Set(text.data(), 0);
            as.Report(Msg::OutOfMemory);
            break;
        }
        ProcessLine(top);
        AfterLine();
    }
    linesSpent += lines;
    sources.clear();
    lineActive = false;
    return as.errors_ == 0 && as.fatals_ == 0;
}

// The file's lines from the line cache, loaded on its first opening; null
// for a file the cache does not keep.
FileText* Assembler::Impl::CachedText(int fd, const host::FileId& id) {
    if (!id.Known()) return nullptr;
    auto key = std::make_pair(id.device, id.inode);
    auto it = fileTexts.find(key);
    if (it != fileTexts.end()) return it->second.get();
    long long size = host::FileSize(fd);
    if (size < 0 || size > kMaxCachedFileSize) return nullptr;
    // A large file brings about eight times its size in allocations: the
    // text, its line list, memos, compiled expressions and symbols.
    host::ExpectHeapUse(8 * static_cast<std::size_t>(size));
    auto text = std::make_unique<FileText>();
    LoadFileText(fd, static_cast<std::size_t>(size), *text);
    // Room for what its lines will teach, at once: grown step by step, the
    // lists are copied and their pages faulted in again every time.
    const std::size_t lines = text->lines.size();
    auto room = [](auto& list, std::size_t more) {
        if (list.capacity() < list.size() + more)
            list.reserve(std::max(list.size() + more, 2 * list.capacity()));
    };
    room(exprMemos, lines + lines / 2);
    room(exprOps, 2 * lines);
    // Programs define a global symbol every few lines.
    as.symbols_.Reserve(as.symbols_.size() + lines / 8);
    return fileTexts.emplace(key, std::move(text)).first->second.get();
}

void Assembler::Impl::ProcessLine(InputSource* src) {
    as.scan_.Set(lineText.data(), lineText.size());
    memo = src->kind == SourceKind::File ? static_cast<FileSource*>(src)->Memo() : nullptr;
    memoText = memo ? static_cast<FileSource*>(src)->Text() : nullptr;
    learning = false;
    exprCursor = 0;
    as.code_.Clear(as.pc_);
    // Copied from a constant: built in place it costs a stalled store per line.
    static const LineState kFreshLine{};
    ls = kFreshLine;
    ls.macroLine = src->kind != SourceKind::File;
    lineNumber = src->line;
    label.clear();
    localLabel = -1;
    labelPos = 0;
    lineActive = true;
    if (collecting.active) {
        CollectLine(lineText);
        return;
    }
    ProcessStatement();
}

void Assembler::Impl::EndSource() {
    InputSource* top = sources.back().get();
    if (collecting.active && collecting.source == top) {
        as.Report(collecting.repeat ? Msg::EndrExpected : Msg::EndmExpected);
        collecting = Collecting{};
    }
    lineCounter += static_cast<unsigned>(top->line);
    if (top->kind == SourceKind::Macro) locScope = top->callerLocScope;
    bool condReported = false, saveReported = false;
    if (!as.fatals_) {
        if (conds.size() > top->condFloor) {
            as.Report(Msg::UnmatchedIf);
            condReported = true;
        }
        if (saveStack.size() > top->saveFloor) {
            as.Report(Msg::UnmatchedSave);
            saveReported = true;
        }
    }
    sources.pop_back();
    if (!sources.empty()) {
        InputSource* outer = sources.back().get();
        if (condReported) outer->condFloor = std::max(outer->condFloor, conds.size());
        if (saveReported) outer->saveFloor = std::max(outer->saveFloor, saveStack.size());
    }
}

void Assembler::Impl::EndFile() {
    for (auto it = sources.rbegin(); it != sources.rend(); ++it) {
        (*it)->ended = true;
        if ((*it)->kind == SourceKind::File) break;
    }
}

} // namespace qorb
