// The include command: where an include file is found, and what may not be
// included (a file already open, an output of the run).

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "host.h"
#include "impl.h"
#include "listing.h"
#include "observe.h"
#include "source.h"

namespace qorb {

namespace {

std::string DirectoryOf(const std::string& file) {
    auto p = file.find_last_of(host::NativeSeparator());
    return p == std::string::npos ? std::string() : file.substr(0, p + 1);
}

// Finds `path` letting every component match without regard to case (sources
// written on Windows name "DEFS.INC" for defs.inc). Empty when nothing matches.
std::string FindIgnoringCase(const std::string& path) {
    std::string result;
    std::vector<std::string> names;
    std::size_t i = 0;
    if (!path.empty() && path[0] == '/') {
        result.push_back('/'); // assigning "/" trips a false -Wrestrict of GCC 12 under the sanitizers
        i = 1;
    }
    while (i <= path.size()) {
        std::size_t j = path.find('/', i);
        if (j == std::string::npos) j = path.size();
        std::string part = path.substr(i, j - i);
        if (part.empty() || part == "." || part == "..") {
            if (!part.empty()) result += part + (j < path.size() ? "/" : "");
            i = j + 1;
            continue;
        }
        std::string dir = result.empty() ? "." : result;
        if (!host::ListDirectory(dir, names)) return {};
        std::string found;
        for (const std::string& n : names) {
            if (host::EqualIgnoringCase(n, part)) {
                found = n;
                if (found == part) break;
            }
        }
        if (found.empty()) return {};
        result += found;
        if (j < path.size()) result += '/';
        i = j + 1;
    }
    return result;
}

} // namespace

bool Assembler::Impl::Include() {
    std::string& name = ident;
    std::size_t at = as.scan_.Pos();
    if (!as.ReadText(name, false)) return as.Report(Msg::FilenameExpected);
    std::string written = name;
    std::string wanted = host::NativeSeparators(written);

    std::vector<std::string> candidates;
    if (host::IsAbsolute(wanted)) {
        candidates.push_back(wanted);
    } else {
        candidates.push_back(wanted);
        for (auto it = sources.rbegin(); it != sources.rend(); ++it) {
            if ((*it)->kind != SourceKind::File) continue;
            std::string dir = DirectoryOf(host::NativeSeparators((*it)->name));
            if (!dir.empty()) candidates.push_back(dir + wanted);
        }
        for (const std::string& d : as.settings_.includeDirs) {
            std::string dir = host::NativeSeparators(d);
            if (!dir.empty() && dir.back() != host::NativeSeparator()) dir += host::NativeSeparator();
            candidates.push_back(dir + wanted);
        }
    }
    int error = 0;
    std::string chosen;
    int fd = -1;
    host::FileId opened;
    for (const std::string& c : candidates) {
        int e = 0;
        fd = observe::OpenSource(as, c, &e, &opened);
        if (fd >= 0) {
            chosen = c;
            break;
        }
        // A file that exists but cannot be read says more than "not found".
        if (error == 0 || !host::IsNotFound(e)) error = e;
    }
    if (fd < 0) {
        for (const std::string& c : candidates) {
            std::string found = FindIgnoringCase(c);
            if (found.empty()) continue;
            int e = 0;
            fd = host::OpenRead(found, &e, &opened);
            if (fd >= 0) {
                chosen = found;
                break;
            }
        }
    }
    observe::Include(*this, written, fd < 0 ? std::string() : chosen, at);
    if (fd < 0) {
        if (!as.final_) {
            InputSource* file = InnermostFile();
            std::string where = file ? FormatText("%s(%d): ", {file->name, file->line}) : std::string();
            std::pair<std::string, std::string> entry{where, written};
            if (std::find(failedIncludeList.begin(), failedIncludeList.end(), entry) ==
                failedIncludeList.end())
                failedIncludeList.push_back(entry);
        }
        as.scan_.SetPos(at);
        as.scan_.SkipBlanks();
        return as.Report(Msg::CannotOpen, {written, host::ErrorText(error)});
    }
    for (auto& s : sources) {
        if (s->kind != SourceKind::File) continue;
        auto* f = static_cast<FileSource*>(s.get());
        if (f->name == chosen || (f->id.inode != 0 && f->id == opened)) {
            host::Close(fd);
            as.scan_.SetPos(at);
            as.scan_.SkipBlanks();
            return as.Report(Msg::RecursiveInclude);
        }
    }
    // An output this run has emptied already (the listing, when the final
    // pass opens an include no earlier pass opened) is no source any more.
    std::string clash = EmptiedOutput(opened);
    if (!clash.empty()) {
        host::Close(fd);
        as.scan_.SetPos(at);
        as.scan_.SkipBlanks();
        return as.Report(Msg::CannotOpen, {written, clash});
    }
    if (sources.size() >= kMaxSourceDepth) {
        host::Close(fd);
        return as.Report(Msg::OutOfMemory);
    }
    PushOpenFile(fd, opened, chosen, written);
    return true;
}

} // namespace qorb
