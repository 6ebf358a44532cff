// The run context and the passes over one source.

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <new>

#include "host.h"
#include "impl.h"
#include "listing.h"
#include "observe.h"
#include "srecord.h"

namespace qorb {

Assembler::Assembler(const Target& target, Settings settings)
    : target_(target), settings_(std::move(settings)), impl_(std::make_unique<Impl>(*this)) {
    impl_->errorFileName = settings_.errorFile;
    impl_->errorFileShown =
        settings_.errorFileAsWritten.empty() ? settings_.errorFile : settings_.errorFileAsWritten;
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
    // The next source may read other versions of the files (this one's
    // object, say): its lines are read again.
    fileTexts.clear();
    exprMemos.clear();
    exprOps.clear();
    memo = nullptr;
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
    locScope = 0;
    locScopes = 0;
    compatNoteGiven = false;
    startGiven = false;
    startAddress = 0;
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

// Opened the way every pass opens it: a FIFO or a device is refused here
// instead of blocking or never ending. An S-record file given by mistake
// would assemble as a file of labels and be replaced by an empty object of
// the same name.
bool Assembler::Impl::CheckSource(const std::string& path, const std::string& shown) {
    int e = 0;
    host::FileId sourceId;
    int fd = observe::OpenSource(as, path, &e, &sourceId);
    std::string refused;
    if (fd < 0) {
        refused = host::ErrorText(e);
    } else {
        NoteInput(sourceId, shown);
        if (ScanRecords(fd, true, nullptr) == RecordFile::Records)
            refused = "is an S-record file, not a source";
        host::Close(fd);
    }
    if (refused.empty()) return true;
    return as.Report(Msg::CannotOpen, {shown, refused});
}

// The final pass alone writes: the listing opens with its header, and the
// includes that earlier passes could not open are noted first.
bool Assembler::Impl::StartFinalPass(const std::string& listingPath, const std::string& listingName) {
    if (as.settings_.listing) {
        std::FILE* lf = CreateOutput(listingPath, listingName, true);
        if (!lf) return false;
        listing = std::make_unique<Listing>(as, lf, listingPath, outputs.back().id);
        listing->Header(
            FormatText(as.target_.Texts().listingHeader,
                       {listingName, kVersionMajor, kVersionMinor, kBuildNumber, host::LocalTimeText()}));
    }
    for (const auto& [where, name] : failedIncludeList) {
        std::string line = where + FormatText(KindPrefix(MsgKind::Note), {Msg::FailedToOpenFile}) +
                           FormatText(CatalogueText(Msg::FailedToOpenFile), {name});
        as.Print(line);
        if (listing) listing->Message(line);
    }
    return true;
}

bool Assembler::AssembleSource(const std::string& sourcePath, const std::string& displayName,
                               const std::string& objectPath, const std::string& objectName,
                               const std::string& listingPath, const std::string& listingName,
                               const std::string& mapPath, const std::string& mapName) {
    try {
        return AssembleSourceIn(sourcePath, displayName, objectPath, objectName, listingPath, listingName,
                                mapPath, mapName);
    } catch (const std::bad_alloc&) {
        // A source too large for the memory there is: a fatal error at the
        // line being assembled, as for a table that cannot grow, not a
        // program fault. What the source holds is let go first (the message
        // needs a little memory), except its position.
        Impl& im = *impl_;
        std::vector<ExprMemo>().swap(im.exprMemos);
        std::vector<ExprOp>().swap(im.exprOps);
        try {
            final_ = true; // shown in whichever pass it came: no later pass
            Report(Msg::OutOfMemory);
            // The listing ends with the message, as for any fatal error.
            if (im.listing) im.listing->Close();
        } catch (const std::bad_alloc&) {
            std::fputs("Fatal error A1005: out of memory\n", out_);
        }
        im.listing.reset();
        im.DiscardStaleObject(objectPath);
        im.DiscardStaleMap(mapPath);
        im.ResetForSource();
        return false;
    }
}

bool Assembler::AssembleSourceIn(const std::string& sourcePath, const std::string& displayName,
                                 const std::string& objectPath, const std::string& objectName,
                                 const std::string& listingPath, const std::string& listingName,
                                 const std::string& mapPath, const std::string& mapName) {
    Impl& im = *impl_;
    auto started = std::chrono::steady_clock::now();
    im.ResetForSource();
    im.sourcePath = sourcePath;
    im.sourceDisplay = displayName;
    im.mapWanted = !mapPath.empty();
    // The outputs of a source that fails are not left from an earlier build.
    auto discardStale = [&]() {
        im.DiscardStaleObject(objectPath);
        im.DiscardStaleMap(mapPath);
    };

    if (!im.CheckSource(sourcePath, displayName)) {
        discardStale();
        return false;
    }
    if (!im.CheckOutputNames(objectPath, objectName, listingPath, listingName, mapPath)) {
        discardStale();
        return false;
    }

    bool ok = false;
    bool fatalInFinal = false;
    for (;;) {
        im.StartPass();
        if (final_ && !im.StartFinalPass(listingPath, listingName)) {
            discardStale();
            return false;
        }
        if (final_ && im.mapWanted) im.lineMap.Start(displayName, sourcePath, host::CurrentDirectory());
        ok = im.RunPass();
        if (final_) {
            fatalInFinal = fatals_ > 0;
            break;
        }
        bool next_final;
        if (ok && !unresolved_) {
            next_final = true;
        } else if ((ok && unresolved_) ||
                   (!ok && unresolved_ && pass_ < settings_.minPasses && !im.budgetSpent)) {
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
        if (settings_.symbolListing || settings_.usedSymbolsOnly)
            im.listing->Symbols(settings_.usedSymbolsOnly);
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
    if (!ok || pass_ - 1 > settings_.maxPasses) discardStale();
    if (pass_ - 1 > settings_.maxPasses) {
        Report(Msg::UnableToResolveCode);
        std::fputs("\nUnresolved symbols:\n", err_);
        PrintUnresolved(err_);
        return false;
    }
    if (ok) {
        // The map first: an object without the map it was asked with would
        // pass for a complete build.
        if (im.mapWanted && !im.WriteMap(mapPath, mapName)) {
            im.DiscardStaleObject(objectPath);
            return false;
        }
        if (!im.WriteObject(objectPath, objectName)) {
            if (im.mapWanted) host::RemoveFile(mapPath);
            return false;
        }
    }
    if (!fatalInFinal) {
        auto ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started)
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

} // namespace qorb
