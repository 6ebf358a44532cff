// The run context, the symbol and section records, and the pass loop for one source.

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>

#include "host.h"
#include "impl.h"
#include "listing.h"
#include "source.h"

namespace qorb {

Assembler::Assembler(const Target& target, Settings settings)
    : target_(target), settings_(std::move(settings)), impl_(std::make_unique<Impl>(*this)) {
    impl_->errorFileName = settings_.errorFile;
    impl_->errorFileShown = settings_.errorFileAsWritten.empty() ? settings_.errorFile : settings_.errorFileAsWritten;
}

Assembler::~Assembler() {
    // Only reached with the error file open when the run ended by an internal
    // error: what was held is written if that is safe, without reports.
    Impl& im = *impl_;
    if (im.errorFile) {
        if (!im.errorStreaming && im.errorRefused.empty() && !im.errorWriteError) im.StartErrorStream();
        std::fclose(im.errorFile);
        im.errorFile = nullptr;
    }
}

Assembler::Impl::Impl(Assembler& a) : as(a) {}
Assembler::Impl::~Impl() = default;

InputSource* Assembler::Impl::InnermostFile() const {
    for (auto it = sources.rbegin(); it != sources.rend(); ++it)
        if ((*it)->kind == SourceKind::File) return it->get();
    return nullptr;
}

// ---------------------------------------------------------------------------
// Symbols

Symbol* Assembler::FindSymbol(std::string_view name) {
    auto it = symbols_.find(name);
    return it == symbols_.end() ? nullptr : &it->second;
}

Symbol& Assembler::GetSymbol(std::string_view name) {
    auto it = symbols_.find(name);
    if (it != symbols_.end()) return it->second;
    return symbols_.emplace(std::string(name), Symbol{}).first->second;
}

Symbol& Assembler::GetLocal(unsigned number) {
    return impl_->locals.Get(impl_->scope, number);
}

bool Assembler::Impl::ReferenceSymbol(std::string_view name, bool knownInPassOne, ExprResult& r) {
    auto it = as.symbols_.find(name);
    if (it == as.symbols_.end()) {
        it = as.symbols_.emplace(std::string(name), Symbol{}).first;
        as.unresolved_ = true;
    }
    Symbol& s = it->second;
    s.used = true;
    if (!s.defined && as.pass_ > 1) return as.Report(Msg::UndefinedSymbol, {name});
    if (!s.known) as.unresolved_ = true;
    if (knownInPassOne) {
        if (as.pass_ == 1 && !s.known) s.unknownInPassOne = true;
        else if (as.pass_ > 1 && s.unknownInPassOne) return as.Report(Msg::SymbolMustBeKnownInPassOne, {name});
    }
    if (s.known) {
        r.value = s.value;
        r.known = true;
    }
    if (as.final_) {
        if (s.multiplyDefined) as.Report(Msg::MultiplyDefinedSymbolReference, {name});
        else if (as.strict_ && s.known && !s.constant) as.Report(Msg::InconstantSymbolReference, {name});
        else if (as.strict_ && !s.known) as.Report(Msg::UnresolvedSymbolReference, {name});
    }
    return true;
}

bool Assembler::Impl::ReferenceLocal(unsigned number, bool knownInPassOne, ExprResult& r) {
    Symbol& s = as.GetLocal(number);
    if (!s.defined && !s.known) as.unresolved_ = true;
    s.used = true;
    if (!s.defined && as.pass_ > 1) return as.Report(Msg::UndefinedLocal, {number});
    if (!s.known) as.unresolved_ = true;
    if (knownInPassOne) {
        if (as.pass_ == 1 && !s.known) s.unknownInPassOne = true;
        else if (as.pass_ > 1 && s.unknownInPassOne) return as.Report(Msg::LocalMustBeKnownInPassOne, {number});
    }
    if (s.known) {
        r.value = s.value;
        r.known = true;
    }
    if (as.final_) {
        if (s.multiplyDefined) as.Report(Msg::MultiplyDefinedLocalReference, {number});
        else if (as.strict_ && s.known && !s.constant) as.Report(Msg::InconstantLocalReference, {number});
    }
    return true;
}

// Defines a global symbol (local < 0) or local label with a value. Used by
// labels, equ, set and define; the caller has positioned the scanner at the
// name for messages.
bool Assembler::Impl::DefineSymbolValue(std::string_view name, int local, std::int32_t value, bool known,
                                        bool isSet) {
    Symbol* s;
    if (local >= 0) {
        s = &as.GetLocal(static_cast<unsigned>(local));
    } else {
        s = &as.GetSymbol(name);
    }
    if (isSet) {
        if (s->defined && s->isOther) {
            return local >= 0 ? as.Report(Msg::LocalCannotBeReused, {local}) : as.Report(Msg::SymbolCannotBeReused, {name});
        }
    } else if (s->defined && s->isSet) {
        return local >= 0 ? as.Report(Msg::LocalCannotBeReused, {local}) : as.Report(Msg::SymbolCannotBeReused, {name});
    }
    // A definition that fails leaves the symbol as it was, so a duplicate
    // label does not also make the first definition look inconstant.
    if (!isSet && s->DefinedInPass(as.pass_)) {
        s->multiplyDefined = true;
        return local >= 0 ? as.Report(Msg::LocalRedefinition, {local}) : as.Report(Msg::SymbolRedefinition, {name});
    }
    if (known && isSet) {
        // set symbols change value within a pass on purpose
        s->constant = true;
        s->value = value;
    } else if (known) {
        if (s->known && s->used && s->value != value) {
            as.unresolved_ = true;
            s->constant = false;
        } else {
            s->constant = true;
        }
        s->value = value;
    }
    s->defined = true;
    s->definedInPass = as.pass_;
    if (isSet) s->isSet = true;
    else s->isOther = true;
    if (known) s->known = true;
    else as.unresolved_ = true;
    if (as.final_ && as.strict_) {
        if (isSet && known) return true;
        if (!known) return local >= 0 ? as.Report(Msg::LocalCannotBeResolved, {local}) : as.Report(Msg::SymbolCannotBeResolved, {name});
        if (!s->constant) return local >= 0 ? as.Report(Msg::LocalInconstant, {local}) : as.Report(Msg::SymbolInconstant, {name});
    }
    return true;
}

// ---------------------------------------------------------------------------
// Sections

Section* Assembler::Impl::FindSection(std::string_view name) {
    for (auto& s : sections)
        if (s->named && s->name == name) return s.get();
    return nullptr;
}

Section& Assembler::Impl::NewSection(std::string_view name, bool named) {
    auto s = std::make_unique<Section>();
    s->name = std::string(name);
    s->named = named;
    sections.push_back(std::move(s));
    return *sections.back();
}

void Assembler::Impl::LeaveSection() {
    if (current && current->size == 0) current->saved = as.pc_;
}

void Assembler::Impl::SwitchTo(Section* s) {
    LeaveSection();
    current = s;
    as.pc_ = s->size ? s->start + static_cast<std::uint32_t>(s->size) : s->saved;
}

void Assembler::Impl::EndOffset() {
    if (!inOffset) return;
    inOffset = false;
    Section* back = offsetReturn ? offsetReturn : sections.front().get();
    offsetReturn = nullptr;
    SwitchTo(back);
    // The line that ends the block is placed in the section it returns to;
    // its listing address must say so too, not the offset it started at.
    if (as.code_.count == 0) as.code_.start = as.pc_;
}

// ---------------------------------------------------------------------------
// Passes

void Assembler::Impl::ResetForSource() {
    sources.clear();
    conds.clear();
    saveStack.clear();
    sections.clear();
    current = nullptr;
    offsetReturn = nullptr;
    inOffset = false;
    macros.clear();
    locals.clear();
    as.symbols_.clear();
    previousPassFailed = false;
    linesSpent = 0;
    budgetSpent = false;
    std::erase_if(outputs, [](const Output& o) { return !o.errorFile; });
    collecting = Collecting{};
    as.pass_ = 0;
    as.final_ = as.strict_ = as.relax_ = as.screwed_ = false;
    as.warnings_ = as.errors_ = as.fatals_ = 0;
}

void Assembler::Impl::StartPass() {
    // Sections that org opened are opened again in the same order by the
    // next pass; named sections keep their records for the redefinition rules.
    std::erase_if(sections, [](const std::unique_ptr<Section>& s) { return s->orgSection; });
    bool haveUnnamed = false;
    for (auto& s : sections) {
        if (!s->named) haveUnnamed = true;
        s->openedThisPass = false;
        s->size = 0;
        s->bytes.clear();
        s->saved = 0;
        s->start = 0;
    }
    if (!haveUnnamed) NewSection("", false);
    conds.clear();
    saveStack.clear();
    sources.clear();
    collecting = Collecting{};
    expansionCounter = 0;
    scope = 0;
    inOffset = false;
    offsetReturn = nullptr;
    ++as.pass_;
    as.warnings_ = as.errors_ = as.fatals_ = 0;
    lineCounter = 0;
    as.unresolved_ = false;
    for (auto& s : sections)
        if (!s->named) {
            current = s.get();
            break;
        }
    as.pc_ = 0;
    listOn = true;
    mlistOn = clistOn = false;
    tabWidth = 8;
    lineLength = 120;
    pageLength = 0;
    title.clear();
    subtitle.clear();
}


// ---------------------------------------------------------------------------
// The run's files

void Assembler::Impl::NoteInput(const host::FileId& id, const std::string& name) {
    if (id.Known()) inputs.try_emplace(std::make_pair(id.device, id.inode), name);
}

void Assembler::NoteInput(const std::string& path, const std::string& shown) {
    host::FileId id;
    if (host::Identify(path, &id)) impl_->NoteInput(id, shown);
}

std::string Assembler::Impl::Clash(const host::FileId& id, const Output* self) const {
    if (!id.Known()) return {};
    auto it = inputs.find(std::make_pair(id.device, id.inode));
    if (it != inputs.end()) return "same file as input '" + it->second + "'";
    for (const Output& o : outputs)
        if (&o != self && o.id == id) return "same file as output '" + o.name + "'";
    return {};
}

std::string Assembler::Impl::EmptiedOutput(const host::FileId& id) const {
    if (!id.Known()) return {};
    for (const Output& o : outputs)
        if (o.emptied && o.id == id) return "same file as output '" + o.name + "'";
    return {};
}

std::FILE* Assembler::Impl::CreateOutput(const std::string& path, const std::string& shown, bool keep) {
    // By name first, so that a source that cannot be written to is still
    // refused as what it is; then by the opened file itself, which is what
    // counts (the name may have changed in between).
    host::FileId id;
    std::string clash;
    if (host::Identify(path, &id)) clash = Clash(id);
    int e = 0;
    std::FILE* f = nullptr;
    if (clash.empty()) {
        f = host::OpenOutput(path, &e, &id);
        if (f) clash = Clash(id);
    }
    if (f && clash.empty() && !keep && !host::TruncateOutput(f, &e)) {
        std::fclose(f);
        f = nullptr;
    }
    if (!f || !clash.empty()) {
        if (f) std::fclose(f);
        as.Report(Msg::IoErrorCreatingFile, {path, clash.empty() ? host::ErrorText(e) : clash});
        return nullptr;
    }
    outputs.push_back(Output{id, shown, !keep, false});
    return f;
}

bool Assembler::Impl::CheckOutputNames(const std::string& objectPath, const std::string& listingPath,
                                       const std::string& listingName) {
    auto refused = [&](const std::string& path) {
        host::FileId id;
        if (!host::Identify(path, &id)) return false;
        std::string clash = Clash(id);
        if (clash.empty()) return false;
        as.Report(Msg::IoErrorCreatingFile, {path, clash});
        return true;
    };
    if (refused(objectPath)) return false;
    if (!as.settings_.listing) return true;
    if (refused(listingPath)) return false;
    host::FileId a, b;
    if (objectPath == listingPath ||
        (host::Identify(objectPath, &a) && host::Identify(listingPath, &b) && a.Known() && a == b))
        return as.Report(Msg::IoErrorCreatingFile, {objectPath, "same file as output '" + listingName + "'"});
    return true;
}

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// "S", the type, the count of the bytes that follow, an address of 2, 3 or
// 4 bytes by type, the data, and a checksum that makes the bytes after the
// type sum to $FF.
bool IsSRecord(std::string_view line) {
    static const unsigned kAddressBytes[] = {2, 2, 3, 4, 0, 2, 3, 4, 3, 2};
    if (line.size() < 4 || line[0] != 'S' || line[1] < '0' || line[1] > '9' || line[1] == '4') return false;
    unsigned count = 0, sum = 0;
    for (std::size_t i = 2; i < line.size(); i += 2) {
        if (i + 1 >= line.size()) return false;
        int hi = HexValue(line[i]), lo = HexValue(line[i + 1]);
        if (hi < 0 || lo < 0) return false;
        unsigned byte = static_cast<unsigned>(hi * 16 + lo);
        if (i == 2) count = byte;
        sum += byte;
    }
    return count >= kAddressBytes[line[1] - '0'] + 1 && line.size() == 4 + 2 * count && (sum & 0xFF) == 0xFF;
}

enum class RecordFile { Empty, Records, Other };

// Reads an open file as long as each line is an S-record. With
// `blankLines`, lines of blanks are passed over; `first` receives the first
// line (without its line end).
RecordFile ScanRecords(int handle, bool blankLines, std::string* first) {
    constexpr std::size_t kLongestRecord = 4 + 2 * 255;
    char buf[16384];
    std::string line;
    bool tooLong = false, any = false, firstTaken = false;
    auto judge = [&]() {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (first && !firstTaken) *first = line;
        firstTaken = true;
        bool blank = std::all_of(line.begin(), line.end(), [](char c) { return c == ' ' || c == '\t'; });
        bool good = (blank && blankLines && !tooLong) || (!tooLong && IsSRecord(line));
        any = any || (good && !blank);
        line.clear();
        tooLong = false;
        return good;
    };
    int e = 0;
    long got;
    while ((got = host::Read(handle, buf, sizeof buf, &e)) > 0) {
        for (long i = 0; i < got; ++i) {
            if (buf[i] == '\n') {
                if (!judge()) return RecordFile::Other;
            } else if (line.size() <= kLongestRecord) {
                line += buf[i];
            } else {
                tooLong = true;
            }
        }
    }
    if (got < 0) return RecordFile::Other;
    if ((!line.empty() || tooLong) && !judge()) return RecordFile::Other;
    return any ? RecordFile::Records : RecordFile::Empty;
}

} // namespace

// A source that failed writes no object file, so one left from an earlier
// build would be taken for this build's result and downloaded to the board.
// Only what this assembler writes is removed: a regular file that is none
// of the run's files, whose first line is our header record and whose every
// line is an S-record. Anything else named like the object (a source, an
// edited or foreign S-record file, a device) is never touched.
void Assembler::Impl::DiscardStaleObject(const std::string& path) {
    host::FileId id, opened;
    if (!host::Identify(path, &id) || !Clash(id).empty()) return;
    int error = 0;
    int h = host::OpenRead(path, &error, &opened); // regular files only, never blocks
    if (h < 0) return;
    std::string first;
    bool ours = opened == id && ScanRecords(h, false, &first) == RecordFile::Records && first == "S0030000FC";
    host::Close(h);
    if (ours) host::RemoveFile(path);
}

bool Assembler::AssembleSource(const std::string& sourcePath, const std::string& displayName,
                               const std::string& objectPath, const std::string& objectName,
                               const std::string& listingPath, const std::string& listingName) {
    Impl& im = *impl_;
    auto started = std::chrono::steady_clock::now();
    im.ResetForSource();
    im.sourcePath = sourcePath;
    im.sourceDisplay = displayName;

    // Opened the way every pass opens it: a FIFO or a device is refused
    // here instead of blocking or never ending. An S-record file given by
    // mistake would assemble as a file of labels and be replaced by an empty
    // object of the same name.
    int e = 0;
    host::FileId sourceId;
    int fd = host::OpenRead(sourcePath, &e, &sourceId);
    std::string refused;
    if (fd < 0) {
        refused = host::ErrorText(e);
    } else {
        im.NoteInput(sourceId, displayName);
        if (ScanRecords(fd, true, nullptr) == RecordFile::Records) refused = "is an S-record file, not a source";
        host::Close(fd);
    }
    if (!refused.empty()) {
        Report(Msg::CannotOpen, {displayName, refused});
        im.DiscardStaleObject(objectPath);
        return false;
    }
    if (!im.CheckOutputNames(objectPath, listingPath, listingName)) {
        im.DiscardStaleObject(objectPath);
        return false;
    }

    bool ok = false;
    bool fatalInFinal = false;
    for (;;) {
        im.StartPass();
        if (final_) {
            if (settings_.listing) {
                std::FILE* lf = im.CreateOutput(listingPath, listingName, true);
                if (!lf) {
                    im.DiscardStaleObject(objectPath);
                    return false;
                }
                im.listing = std::make_unique<Listing>(*this, lf, listingPath, im.outputs.back().id);
                im.listing->Header(FormatText(target_.Texts().listingHeader,
                                              {listingName, kVersionMajor, kVersionMinor, kBuildNumber,
                                               host::LocalTimeText()}));
            }
            for (const auto& [where, name] : im.failedIncludeList) {
                std::string line = where + FormatText(KindPrefix(MsgKind::Note), {Msg::FailedToOpenFile}) +
                                   FormatText(CatalogueText(Msg::FailedToOpenFile), {name});
                Print(line);
                if (im.listing) im.listing->Message(line);
            }
        }
        ok = im.RunPass();
        if (final_) {
            fatalInFinal = fatals_ > 0;
            break;
        }
        bool next_final;
        if (ok && !unresolved_) {
            next_final = true;
        } else if ((ok && unresolved_) || (!ok && unresolved_ && pass_ < settings_.minPasses && !im.budgetSpent)) {
            next_final = pass_ > static_cast<unsigned long long>(settings_.maxPasses);
        } else {
            next_final = true;
            screwed_ = true;
            im.previousPassFailed = true;
            if (fatals_ > 0) relax_ = true;
        }
        if (next_final) {
            final_ = true;
            if (!screwed_) strict_ = true;
        }
    }

    if (im.listing) {
        if (settings_.symbolListing || settings_.usedSymbolsOnly) im.listing->Symbols(settings_.usedSymbolsOnly);
        if (!im.listing->Close()) {
            ok = false;
            fatalInFinal = true;
        }
        im.listing.reset();
    }
    if (ok && im.previousPassFailed) {
        Report(Msg::AbortedForErrorsInPreviousPass);
        ok = false;
    }
    if (unresolved_) Report(Msg::ForwardReferencesNotResolved);
    if (!ok || pass_ - 1 > settings_.maxPasses) im.DiscardStaleObject(objectPath);
    if (pass_ - 1 > settings_.maxPasses) {
        Report(Msg::UnableToResolveCode);
        std::fputs("\nUnresolved symbols:\n", err_);
        PrintUnresolved(err_);
        return false;
    }
    if (ok) {
        if (!im.WriteObject(objectPath, objectName)) return false;
    }
    if (!fatalInFinal) {
        auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started)
                      .count();
        if (settings_.statistics) {
            Print(FormatText("%s: %u lines, %u warning(s), %u error(s), %u pass(es), %d.%03d second(s)\n",
                             {displayName, im.lineCounter, warnings_, errors_, pass_ - 1,
                              static_cast<int>(ms / 1000), static_cast<int>(ms % 1000)}));
        } else {
            Print(FormatText("%s: %u warning(s), %u error(s)\n", {displayName, warnings_, errors_}));
        }
    }
    std::fflush(out_);
    return ok;
}

void Assembler::PrintUnresolved(std::FILE* to) {
    std::vector<const std::pair<const std::string, Symbol>*> list;
    for (const auto& entry : symbols_)
        if (!entry.second.known || !entry.second.constant) list.push_back(&entry);
    std::sort(list.begin(), list.end(), [](auto* a, auto* b) { return a->first < b->first; });
    for (auto* e : list) {
        if (!e->second.known)
            std::fputs(FormatText("%-30s  ?\n", {e->first}).c_str(), to);
        else
            std::fputs(FormatText("%-30s  %08x\n", {e->first, e->second.value}).c_str(), to);
    }
}

} // namespace qorb
