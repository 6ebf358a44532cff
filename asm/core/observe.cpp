// The calls that report a run to its observer, and sources read from the
// observer's text instead of from disk.

#include "observe.h"

#include <cerrno>
#include <cstdio>

#if defined(__linux__)
#include <sys/mman.h>
#endif
#if !defined(_WIN32)
#include <unistd.h>
#endif

namespace qorb::observe {

namespace {

// A file descriptor that reads `text`: the source is then read exactly as a
// file on disk is (line ends, Ctrl-Z, the longest line). Memory-backed where
// the system offers it, a temporary file elsewhere.
int TextDescriptor(const std::string& text, int* error) {
#if defined(_WIN32)
    (void)text;
    *error = 50; // ERROR_NOT_SUPPORTED: the language server is not built for Windows
    return -1;
#else
    int fd = -1;
#if defined(__linux__)
    fd = memfd_create("qorb-source", MFD_CLOEXEC);
#endif
    if (fd < 0) {
        std::FILE* f = std::tmpfile();
        if (!f) {
            *error = errno;
            return -1;
        }
        fd = dup(fileno(f));
        std::fclose(f);
        if (fd < 0) {
            *error = errno;
            return -1;
        }
    }
    std::size_t done = 0;
    while (done < text.size()) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            *error = errno;
            close(fd);
            return -1;
        }
        done += static_cast<std::size_t>(n);
    }
    if (lseek(fd, 0, SEEK_SET) != 0) {
        *error = errno;
        close(fd);
        return -1;
    }
    return fd;
#endif
}

SourcePlace Here(Assembler::Impl& im, std::size_t column) {
    static const std::string kNone;
    InputSource* file = im.InnermostFile();
    InputSource* top = im.Top();
    SourcePlace at{file ? file->name : kNone, file ? file->line : 0, column,
                   top && top->kind != SourceKind::File};
    if (at.expansion) {
        at.bodyFile = &top->defFile;
        at.bodyLine = top->defLine + top->bodyLine;
    }
    return at;
}

} // namespace

int OpenSource(Assembler& as, const std::string& path, int* error, host::FileId* id) {
    RunObserver* o = as.Observer();
    std::string text;
    if (o && o->SourceText(path, text)) {
        host::FileId real;
        if (!host::Identify(path, &real)) real = host::FileId{};
        int fd = TextDescriptor(text, error);
        if (fd >= 0 && id) *id = real;
        return fd;
    }
    return host::OpenRead(path, error, id);
}

namespace notify {

void Definition(Assembler::Impl& im, std::string_view name, int local, std::int32_t value, bool known,
                bool isSet) {
    RunObserver* o = im.as.Observer();
    if (!o || !im.as.FinalPass()) return;
    DefinitionKind kind = local >= 0         ? DefinitionKind::Local
                          : isSet            ? DefinitionKind::Set
                          : im.definingLabel ? DefinitionKind::Label
                                             : DefinitionKind::Equ;
    std::string localName;
    if (local >= 0) {
        localName = std::to_string(local) + "$";
        name = localName;
    }
    o->Definition(kind, name, im.scope, value, known, 0, Here(im, im.as.Scan().Pos()));
}

void MacroDefinition(Assembler::Impl& im, const std::string& name) {
    RunObserver* o = im.as.Observer();
    if (!o || !im.as.FinalPass()) return;
    auto found = im.macros.find(name);
    if (found == im.macros.end()) return;
    const Macro* macro = found->second.get();
    // The highest parameter the body uses: \1..\9, then \a..\z.
    int parameters = 0;
    for (const std::string& line : macro->body) {
        for (std::size_t i = 0; i + 1 < line.size(); ++i) {
            if (line[i] != '\\') continue;
            char n = line[i + 1];
            int index = 0;
            if (n >= '1' && n <= '9')
                index = n - '0';
            else if (n >= 'a' && n <= 'z')
                index = n - 'a' + 10;
            else if (n >= 'A' && n <= 'Z')
                index = n - 'A' + 10;
            if (index > parameters) parameters = index;
            ++i; // `\\` is one escaped backslash
        }
    }
    o->Definition(DefinitionKind::Macro, macro->name, 0, 0, false, parameters, Here(im, im.labelPos));
}

void Reference(Assembler::Impl& im, std::string_view name, int local, bool macro, std::size_t column) {
    RunObserver* o = im.as.Observer();
    if (!o || !im.as.FinalPass()) return;
    std::string localName;
    if (local >= 0) {
        localName = std::to_string(local) + "$";
        name = localName;
    }
    o->Reference(name, local >= 0, macro, im.scope, Here(im, column));
}

void Include(Assembler::Impl& im, std::string_view written, const std::string& opened, std::size_t column) {
    RunObserver* o = im.as.Observer();
    if (!o || !im.as.FinalPass()) return;
    o->Include(written, opened, Here(im, column));
}

void Line(Assembler::Impl& im) {
    RunObserver* o = im.as.Observer();
    if (!o || !im.as.FinalPass()) return;
    const bool listed =
        !im.ls.control && im.listOn && (!im.ls.skipped || im.clistOn) && (!im.ls.macroLine || im.mlistOn);
    // The line just processed belongs to the source on top; a line that
    // ended its file (`end`) is still reported at its own place.
    static const std::string kNone;
    // An include line has pushed its file already, which has given no line
    // yet: the line is the including file's.
    InputSource* file = nullptr;
    for (auto it = im.sources.rbegin(); it != im.sources.rend(); ++it)
        if ((*it)->kind == SourceKind::File && (*it)->line > 0) {
            file = it->get();
            break;
        }
    SourcePlace at{file ? file->name : kNone, file ? file->line : im.lineNumber, 0, im.ls.macroLine};
    o->Line(at, im.ls, im.as.Code(), listed);
}

} // namespace notify

} // namespace qorb::observe
