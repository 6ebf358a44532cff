// The one report operation every diagnostic goes through.

#include <cerrno>
#include <cstring>

#include "host.h"
#include "impl.h"
#include "listing.h"

namespace qorb {

void Assembler::Print(std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), out_);
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
    if (!errorText.empty() && std::fwrite(errorText.data(), 1, errorText.size(), errorFile) != errorText.size()) {
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
    if (std::fclose(f) != 0) return Report(Msg::IoErrorClosingFile, {name, host::ErrorText(host::LastFileError())});
    return ok;
}

bool Assembler::Report(Msg id, std::initializer_list<MsgArg> args) {
    const int number = static_cast<int>(id);
    const TargetTexts& texts = target_.Texts();
    const char* text = CatalogueText(number, texts.messageOverrides, texts.messageOverrideCount);
    MsgKind kind = KindOf(number);
    if (!text || kind == MsgKind::Invalid) {
        Print("\nFATAL ERROR: Message Table corrupt\n");
        return false;
    }
    const bool ordinaryPass = pass_ > 0 && !final_;
    switch (kind) {
    case MsgKind::Warning:
        if (settings_.warningLevel < WarningClass(number)) return false;
        if (ordinaryPass || relax_) {
            ++warnings_;
            return false;
        }
        break;
    case MsgKind::Error:
        if (ordinaryPass) {
            ++errors_;
            return false;
        }
        break;
    case MsgKind::Fatal:
        if (ordinaryPass) {
            ++fatals_;
            return false;
        }
        break;
    case MsgKind::Note:
        if (id == Msg::NoteText && ordinaryPass) return false;
        break;
    default: break;
    }

    Impl& im = *impl_;
    std::string line;
    int column = 0;
    const bool commandLine = kind == MsgKind::CommandLineError || kind == MsgKind::CommandLineWarning;
    if (!commandLine) {
        if (InputSource* file = im.InnermostFile()) {
            line = FormatText("%s(%d): ", {file->name, file->line});
            column = static_cast<int>(scan_.Pos()) + 1;
        }
    }
    line += FormatText(KindPrefix(kind), {number});
    switch (kind) {
    case MsgKind::Fatal: ++fatals_; break;
    case MsgKind::Error:
    case MsgKind::CommandLineError: ++errors_; break;
    case MsgKind::Warning:
    case MsgKind::CommandLineWarning: ++warnings_; break;
    default: break;
    }
    if (column > 0) line += FormatText("col(%d) ", {column});
    line += FormatText(text, args.begin(), args.size());

    Print(line);
    if (im.listing) im.listing->Message(line);
    if (!im.errorFileName.empty() || im.keepErrorText) im.ErrorFileLine(line);

    // One note line per macro expansion or repeat block between the line and
    // the file it was called from.
    bool first = true;
    for (auto it = im.sources.rbegin(); it != im.sources.rend(); ++it) {
        InputSource* src = it->get();
        if (src->kind == SourceKind::File) break;
        if (commandLine) break;
        std::string note = "        ";
        note += FormatText("%s(%d): ", {src->defFile, src->defLine + src->bodyLine});
        note += FormatText(KindPrefix(MsgKind::Note), {Msg::SeeMacro});
        if (first && column > 0) note += FormatText("col(%d) ", {column});
        note += FormatText(CatalogueText(Msg::SeeMacro, texts.messageOverrides, texts.messageOverrideCount), {src->name});
        first = false;
        Print(note);
        if (im.listing) im.listing->Message(note);
    }
    return false;
}

} // namespace qorb
