// The run's files: every input, which no output may overwrite; creating the
// outputs; and the error file, held until the run's inputs are known.

#include <cstdio>

#include "host.h"
#include "impl.h"

namespace qorb {

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

bool Assembler::Impl::CheckOutputNames(const std::string& objectPath, const std::string& objectName,
                                       const std::string& listingPath, const std::string& listingName,
                                       const std::string& mapPath) {
    auto refused = [&](const std::string& path) {
        host::FileId id;
        if (!host::Identify(path, &id)) return false;
        std::string clash = Clash(id);
        if (clash.empty()) return false;
        as.Report(Msg::IoErrorCreatingFile, {path, clash});
        return true;
    };
    auto same = [](const std::string& x, const std::string& y) {
        host::FileId a, b;
        return x == y || (host::Identify(x, &a) && host::Identify(y, &b) && a.Known() && a == b);
    };
    if (refused(objectPath)) return false;
    if (as.settings_.listing) {
        if (refused(listingPath)) return false;
        if (same(objectPath, listingPath))
            return as.Report(Msg::IoErrorCreatingFile,
                             {objectPath, "same file as output '" + listingName + "'"});
    }
    if (mapPath.empty()) return true;
    if (refused(mapPath)) return false;
    if (same(mapPath, objectPath))
        return as.Report(Msg::IoErrorCreatingFile, {mapPath, "same file as output '" + objectName + "'"});
    if (as.settings_.listing && same(mapPath, listingPath))
        return as.Report(Msg::IoErrorCreatingFile, {mapPath, "same file as output '" + listingName + "'"});
    return true;
}

namespace {
// A partial output must not survive a failed write: a truncated map would
// send a debugger to wrong lines as surely as a truncated object sends a
// truncated program to the board. (Outputs are regular files; the test
// stays for a file replaced by something else meanwhile.)
void RemoveIfRegular(std::FILE* f, const std::string& path) {
    if (host::IsRegularFile(f)) host::RemoveFile(path);
}
} // namespace

bool Assembler::Impl::WriteWholeOutput(const std::string& path, const std::string& shown,
                                       const std::string& text) {
    std::FILE* f = CreateOutput(path, shown);
    if (!f) return false;
    bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    int e = host::LastFileError();
    if (ok && std::fflush(f) != 0) {
        ok = false;
        e = host::LastFileError();
    }
    if (!ok) {
        RemoveIfRegular(f, path);
        std::fclose(f);
        return as.Report(Msg::IoErrorWritingFile, {path, host::ErrorText(e ? e : host::IoErrorCode())});
    }
    bool regular = host::IsRegularFile(f);
    if (std::fclose(f) != 0) {
        e = host::LastFileError();
        if (regular) host::RemoveFile(path);
        return as.Report(Msg::IoErrorClosingFile, {path, host::ErrorText(e)});
    }
    return true;
}

namespace {
// Past this much text the error file is written as the lines come instead of
// held: an include named like it after that point is not caught any more.
constexpr std::size_t kHeldErrorText = 16u << 20;
} // namespace

void Assembler::AddErrorText(std::string_view text) {
    if (!impl_->errorFileName.empty() || impl_->keepErrorText) impl_->ErrorFileLine(text);
}

void Assembler::KeepErrorText() { impl_->keepErrorText = true; }

std::string Assembler::TakeErrorText() { return std::move(impl_->errorText); }

Assembler::Impl::Output* Assembler::Impl::ErrorOutput() {
    for (Output& o : outputs)
        if (o.errorFile) return &o;
    return nullptr;
}

bool Assembler::OpenErrorFile() {
    Impl& im = *impl_;
    if (im.errorFileName.empty() || im.errorFile) return true;
    const std::string name = im.errorFileName;
    host::FileId id;
    std::string clash;
    if (host::Identify(name, &id)) clash = im.Clash(id);
    int e = 0;
    std::FILE* f = nullptr;
    if (clash.empty()) {
        f = host::OpenOutput(name, &e, &id);
        if (f) clash = im.Clash(id);
    }
    if (f && clash.empty()) {
        std::setvbuf(f, nullptr, _IOFBF, 16384);
        im.errorFile = f;
        im.outputs.push_back(Impl::Output{id, im.errorFileShown, false, true});
        return true;
    }
    if (f) std::fclose(f);
    // The lines held so far were printed; they go nowhere else now.
    im.errorFileName.clear();
    im.errorText.clear();
    im.errorFileFailed = true;
    if (!clash.empty()) return Report(Msg::IoErrorCreatingFile, {name, clash});
    Report(Msg::CannotCreateFile, {name});
    return true;
}

bool Assembler::Impl::StartErrorStream() {
    Output* self = ErrorOutput();
    std::string clash = Clash(self->id, self);
    int e = 0;
    if (!clash.empty()) {
        errorRefused = clash;
        return false;
    }
    if (!host::TruncateOutput(errorFile, &e)) {
        errorWriteError = e;
        return false;
    }
    self->emptied = true;
    errorStreaming = true;
    if (!errorText.empty() &&
        std::fwrite(errorText.data(), 1, errorText.size(), errorFile) != errorText.size()) {
        e = host::LastFileError();
        errorWriteError = e ? e : host::IoErrorCode();
    }
    errorText.clear();
    errorText.shrink_to_fit();
    return errorWriteError == 0;
}

void Assembler::Impl::ErrorFileLine(std::string_view line) {
    if (!errorFile) {
        // Not open yet (the command line is still being read), or only held.
        errorText.append(line);
        return;
    }
    if (!errorRefused.empty() || errorWriteError) return;
    if (!errorStreaming) {
        errorText.append(line);
        if (errorText.size() <= kHeldErrorText) return;
        StartErrorStream();
        return;
    }
    if (std::fwrite(line.data(), 1, line.size(), errorFile) != line.size()) {
        int e = host::LastFileError();
        errorWriteError = e ? e : host::IoErrorCode();
    }
}

bool Assembler::FinishErrorFile() {
    Impl& im = *impl_;
    bool ok = !im.errorFileFailed;
    if (!im.errorFile) return ok;
    if (im.errorRefused.empty() && !im.errorWriteError && !im.errorStreaming) im.StartErrorStream();
    std::FILE* f = im.errorFile;
    im.errorFile = nullptr;
    const std::string name = im.errorFileName;
    // Nothing more goes into it, not even what is reported about it.
    im.errorFileName.clear();
    im.errorText.clear();
    int e = im.errorWriteError;
    if (!im.errorRefused.empty()) {
        std::fclose(f);
        return Report(Msg::IoErrorCreatingFile, {name, im.errorRefused});
    }
    if (!e && std::fflush(f) != 0) {
        e = host::LastFileError();
        if (!e) e = host::IoErrorCode();
    }
    if (e) {
        std::fclose(f);
        return Report(Msg::IoErrorWritingFile, {name, host::ErrorText(e)});
    }
    if (std::fclose(f) != 0)
        return Report(Msg::IoErrorClosingFile, {name, host::ErrorText(host::LastFileError())});
    return ok;
}

} // namespace qorb
