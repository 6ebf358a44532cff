// The one report operation every diagnostic goes through.

#include <cerrno>
#include <cstring>

#include "host.h"
#include "impl.h"
#include "listing.h"
#include "observer.h"

namespace qorb {

void Assembler::Print(std::string_view text) { std::fwrite(text.data(), 1, text.size(), out_); }

bool Assembler::Report(Msg id, std::initializer_list<MsgArg> args) {
    impl_->unsettled = true; // even a message an ordinary pass drops counts
    const int number = MessageNumber(id);
    const TargetTexts& texts = target_.Texts();
    const char* text =
        CatalogueText(static_cast<int>(id), texts.messageOverrides, texts.messageOverrideCount);
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
    if (observer_) {
        InputSource* file = commandLine ? nullptr : im.InnermostFile();
        observer_->Message(number, kind, FormatText(text, args.begin(), args.size()),
                           file ? &file->name : nullptr, file ? file->line : 0, column);
    }
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
        note += FormatText(CatalogueText(Msg::SeeMacro, texts.messageOverrides, texts.messageOverrideCount),
                           {src->name});
        first = false;
        Print(note);
        if (im.listing) im.listing->Message(note);
    }
    return false;
}

} // namespace qorb
