// Command line, environment and response files, the option scans, source
// names and the loop over the sources.

#include "driver.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <list>
#include <new>
#include <optional>

#include "assembler.h"
#include "directives.h"
#include "host.h"
#include "preprocessor.h"

namespace qorb {

namespace {

struct Word {
    std::string text;
    bool consumed = false;
    bool unknown = false;
};

bool IsSplitBlank(char c) { return c == ' ' || (static_cast<unsigned char>(c) < 0x20) || c == 0x7F; }

// Splits a text into words: blanks (space and control characters) separate
// them; quoted parts belong to the current word without their quotes.
void SplitWords(std::string_view text, std::list<Word>& into) {
    std::size_t i = 0, n = text.size();
    while (i < n) {
        while (i < n && IsSplitBlank(text[i])) ++i;
        if (i >= n) break;
        std::string word;
        while (i < n && !IsSplitBlank(text[i])) {
            char c = text[i];
            if (c == '"' || c == '\'') {
                ++i;
                while (i < n && text[i] != c) word += text[i++];
                if (i < n) ++i;
            } else {
                word += c;
                ++i;
            }
        }
        into.push_back(Word{word});
    }
}

std::string Trim(std::string_view s) {
    std::size_t b = 0, e = s.size();
    while (b < e && IsSplitBlank(s[b])) ++b;
    while (e > b && IsSplitBlank(s[e - 1])) --e;
    return std::string(s.substr(b, e - b));
}

bool IsOptionWord(const std::string& w) {
    if (w.empty()) return false;
    if (w[0] == '-') return true;
    if (w[0] != '/') return false;
    return !host::SlashWordIsFileName(w);
}

std::string OptionName(const std::string& w) { return w.substr(1); }

bool AllDigits(const std::string& s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

long long ParseUnsigned(const std::string& s) {
    unsigned long long v = 0;
    for (char c : s) {
        v = v * 10 + static_cast<unsigned>(c - '0');
        if (v > 0xFFFFFFFFull) return 0xFFFFFFFFll; // the value is brought into range afterwards
    }
    return static_cast<long long>(v);
}

struct NameParts {
    std::string dir;  // including the last separator
    std::string base; // without extension
    std::string ext;  // including the dot
};

NameParts Split(const std::string& name) {
    NameParts p;
    std::string n = host::NativeSeparators(name);
    std::size_t fileStart = 0;
    for (std::size_t i = 0; i < n.size(); ++i)
        if (host::IsSeparator(n[i])) fileStart = i + 1;
    // A drive without a directory ("C:x.asm") belongs to the directory part.
    if (fileStart == 0 && n.size() >= 2 && n[1] == ':' && host::IsAbsolute(n.substr(0, 2))) fileStart = 2;
    p.dir = n.substr(0, fileStart);
    std::string file = n.substr(fileStart);
    std::size_t dot = file.find_last_of('.');
    if (dot == std::string::npos) {
        p.base = file;
    } else {
        p.base = file.substr(0, dot);
        p.ext = file.substr(dot);
    }
    return p;
}

std::string WithDefaultExt(const std::string& name, const char* ext) {
    NameParts p = Split(name);
    return p.ext.empty() ? p.dir + p.base + ext : host::NativeSeparators(name);
}

std::string WithExt(const std::string& name, const char* ext) {
    NameParts p = Split(name);
    return p.dir + p.base + ext;
}

std::string Absolute(const std::string& cwd, const std::string& name) {
    if (host::IsAbsolute(name)) return name;
    if (!cwd.empty() && host::IsSeparator(cwd.back())) return cwd + name;
    return cwd + host::NativeSeparator() + name;
}

// The usage text; the programs differ in their name and -hcs.
std::string Usage(const TargetTexts& texts) {
    std::string usage = std::string("Usage: ") + texts.programName + " [options] files\n";
    usage += "Options:\n"
             "  -Ae<n>\tset maximum number of errors to <n>\n"
             "  -Fd:<file>\tput line map in <file> (implies -g)\n"
             "  -Fe:<file>\tput error output in <file>\n"
             "  -Fl:<file>\tput listing file in <file>\n"
             "  -Fo:<file>\tput object file in <file>\n"
             "  -g\t\twrite line map beside object file (.dbg)\n"
             "  -i:<dir>\tadd <dir> to include search path\n"
             "  -l\t\tgenerate listing file\n"
             "  -lc\t\tshow cycle counts in listing file\n"
             "  -ls\t\tgenerate symbol listing\n"
             "  -lu\t\tgenerate symbol listing with used symbols only\n"
             "  -case\t\tuse case sensitive symbols\n"
             "  -mc\t\tuse compatibility mode\n";
    if (texts.hasHcsOption) usage += "  -hcs\t\tgenerate code for HCS12 family\n";
    usage += "  -nologo\tsuppress startup banner\n"
             "  -stat\t\tprint assembly statistics\n"
             "  -W<n>\t\tset warning level to <n> [0..4]\n";
    return usage;
}

class Driver {
public:
    Driver(const Target& target, void (*crash)()) : target_(target), crash_(crash) {}

    int Run(int argc, char** argv);

private:
    // Reports a command-line message through a run context without sources.
    // The error file is not known yet; its lines are held for it.
    void Message(Msg id, std::initializer_list<MsgArg> args) {
        Assembler as(target_, Settings{});
        as.KeepErrorText();
        as.Report(id, args);
        errorText_ += as.TakeErrorText();
    }
    void Print(const std::string& s) { std::fwrite(s.data(), 1, s.size(), stdout); }
    void Banner() {
        Print(FormatText(target_.Texts().bannerLine, {kVersionMajor, kVersionMinor, kBuildNumber}));
        Print("Copyright (C) KORVELL Software. All rights reserved.\n\n");
        std::fflush(stdout);
    }
    bool TakeValue(std::list<Word>::iterator it, const std::string& name, std::string& value, bool& present);
    void ExpandSources(const std::string& word, std::vector<std::string>& out);

    struct Job {
        std::string shown, source, object, listing, map;
    };
    std::optional<int> Greet(bool nothingGiven);
    bool ExpandResponseFiles();
    void ValueOptions();
    void SwitchOptions();
    int CheckSources(const std::vector<std::string>& sources);
    void AdjustLimits();
    std::vector<Job> MakeJobs(const std::vector<std::string>& sources) const;
    int Assemble(const std::vector<Job>& jobs, int status);

    const Target& target_;
    void (*crash_)();
    std::list<Word> words_;
    std::vector<std::string> responseFiles_; // as written, for the output checks
    std::string errorText_;                  // command-line messages for the error file
    Settings settings_;
    std::string startDir_;
};

bool Driver::TakeValue(std::list<Word>::iterator it, const std::string& name, std::string& value,
                       bool& present) {
    std::string opt = OptionName(it->text);
    present = false;
    if (opt.size() > name.size()) {
        std::string rest = opt.substr(name.size());
        if (rest[0] == ':' || rest[0] == '=') rest.erase(0, 1);
        value = Trim(rest);
    } else {
        auto next = std::next(it);
        if (next != words_.end() && !next->consumed && !next->text.empty() && next->text[0] != '-' &&
            next->text[0] != '/') {
            value = Trim(next->text);
            next->consumed = true;
        } else {
            value.clear();
        }
    }
    it->consumed = true;
    present = !value.empty();
    return present;
}

void Driver::ExpandSources(const std::string& word, std::vector<std::string>& out) {
    if (word.find_first_of("*?") == std::string::npos) {
        out.push_back(word);
        return;
    }
    std::string pattern = host::NativeSeparators(word);
    NameParts parts = Split(pattern);
    std::string dirPart = parts.dir;
    std::string filePattern = pattern.substr(dirPart.size());
    std::vector<std::string> names;
    if (!host::ListDirectory(dirPart, names)) return;
    std::vector<std::string> found;
    for (const std::string& name : names) {
        if (name.empty() || !host::MatchWildcard(filePattern, name)) continue;
        std::string full = dirPart + name;
        if (!host::Exists(full) || host::IsDirectory(full) || host::IsHidden(full)) continue;
        found.push_back(full);
    }
    std::sort(found.begin(), found.end(), host::NameLess);
    out.insert(out.end(), found.begin(), found.end());
}

// The steps: the words of the command line and the environment; the banner
// or the usage; response files; options with values, then switches; the
// sources and their outputs; the limits; assembling each source.
int Driver::Run(int argc, char** argv) {
    const TargetTexts& texts = target_.Texts();
    for (int i = 0; i < argc; ++i) words_.push_back(Word{Trim(argv[i] ? argv[i] : "")});
    std::size_t fromEnv = 0;
    if (const char* env = std::getenv(texts.environmentVar)) {
        std::size_t before = words_.size();
        SplitWords(env, words_);
        fromEnv = words_.size() - before;
    }
    if (!words_.empty()) words_.pop_front();

    if (std::optional<int> status = Greet(argc <= 1 && fromEnv == 0)) return *status;
    if (!ExpandResponseFiles()) return 3;
    ValueOptions();
    SwitchOptions();

    // Names the user gave are taken relative to the directory we start in.
    startDir_ = host::CurrentDirectory();
    if (!settings_.errorFile.empty()) {
        settings_.errorFileAsWritten = settings_.errorFile;
        settings_.errorFile = Absolute(startDir_, host::NativeSeparators(settings_.errorFile));
    }
    std::vector<std::string> sources;
    for (const Word& w : words_)
        if (!w.consumed) ExpandSources(w.text, sources);
    int status = CheckSources(sources);
    if (status == 0) AdjustLimits();
    for (std::string& d : settings_.includeDirs) d = Absolute(startDir_, host::NativeSeparators(d));
    return Assemble(MakeJobs(sources), status);
}

// -nologo, -? and -help, wherever they stand: the banner, and the usage
// instead of a run when asked for or when nothing was given.
std::optional<int> Driver::Greet(bool nothingGiven) {
    const TargetTexts& texts = target_.Texts();
    bool nologo = false, help = false;
    for (Word& w : words_) {
        if (!IsOptionWord(w.text)) continue;
        std::string name = OptionName(w.text);
        if (name == "nologo") {
            nologo = true;
            w.consumed = true;
        } else if (name == "?" || name == "help") {
            help = true;
            w.consumed = true;
        }
    }
    if (help) {
        Banner();
        Print(Usage(texts));
        return 3;
    }
    if (!nologo) Banner();
    if (nothingGiven) {
        Print(Usage(texts));
        return 3;
    }
    return std::nullopt;
}

// Response files: their words are inserted after the @ word, which goes.
// False after reporting a file that cannot be opened.
bool Driver::ExpandResponseFiles() {
    for (auto it = words_.begin(); it != words_.end();) {
        std::string t = it->text;
        if (!it->consumed && !t.empty() && (t[0] == '-' || t[0] == '/') && t.size() > 1 && t[1] == '@')
            t.erase(0, 1);
        if (it->consumed || t.empty() || t[0] != '@') {
            ++it;
            continue;
        }
        std::string name = t.substr(1);
        int error = 0;
        int handle = host::OpenRead(name, &error);
        if (handle < 0) {
            Message(Msg::CannotOpenFile, {name});
            return false;
        }
        std::list<Word> inserted;
        std::string line;
        auto flush = [&]() {
            std::size_t b = 0;
            while (b < line.size() && IsSplitBlank(line[b])) ++b;
            if (b < line.size() && line[b] != '#' && line[b] != ';')
                SplitWords(std::string_view(line).substr(b), inserted);
            line.clear();
        };
        char buf[16384];
        long got;
        while ((got = host::Read(handle, buf, sizeof buf, &error)) > 0) {
            for (long i = 0; i < got; ++i) {
                if (buf[i] == '\n')
                    flush();
                else
                    line += buf[i];
            }
        }
        flush();
        host::Close(handle);
        responseFiles_.push_back(name);
        auto next = words_.erase(it);
        words_.splice(next, inserted);
        it = next;
    }
    return true;
}

// Options with values, first to last.
void Driver::ValueOptions() {
    const TargetTexts& texts = target_.Texts();
    static const char* const kValueOptions[] = {"Fo",   "Fl",   "Fe", "Fd",  "i",
                                                "Amax", "Amin", "Ae", "hcs", "CrashMe"};
    for (auto it = words_.begin(); it != words_.end(); ++it) {
        if (it->consumed || !IsOptionWord(it->text)) continue;
        std::string opt = OptionName(it->text);
        const char* match = nullptr;
        for (const char* name : kValueOptions) {
            if (std::string_view(name) == "hcs" && !texts.hasHcsOption) continue;
            if (opt.compare(0, std::strlen(name), name) == 0) {
                match = name;
                break;
            }
        }
        if (!match) continue;
        std::string m = match;
        std::string value;
        bool present = false;
        if (m == "hcs") {
            settings_.hcs = true;
            it->consumed = true;
            continue;
        }
        if (m == "CrashMe") {
            it->consumed = true;
            std::fflush(stdout);
            if (crash_) crash_();
            continue;
        }
        TakeValue(it, m, value, present);
        if (m == "Fl") settings_.listing = true;
        if (m == "Fd") settings_.lineMap = true;
        if (!present) {
            Message(Msg::IgnoringOptionMissingArgument, {m});
            continue;
        }
        if (m == "Fo")
            settings_.objectFile = value;
        else if (m == "Fl")
            settings_.listingFile = value;
        else if (m == "Fe")
            settings_.errorFile = value;
        else if (m == "Fd")
            settings_.mapFile = value;
        else if (m == "i")
            settings_.includeDirs.push_back(value);
        else {
            if (!AllDigits(value)) {
                Message(Msg::IgnoringOptionInvalidNumber, {m});
                continue;
            }
            long long v = ParseUnsigned(value);
            if (m == "Amax")
                settings_.maxPasses = v;
            else if (m == "Amin")
                settings_.minPasses = v;
            else
                settings_.errorLimit = v;
        }
    }
}

// Switch options, last to first; names match exactly.
void Driver::SwitchOptions() {
    auto levelOf = [](const std::string& n) -> int {
        if (n.size() == 2 && (n[0] == 'W' || n[0] == 'w') && n[1] >= '0' && n[1] <= '4') {
            if (n == "w0") return -1;
            return n[1] - '0';
        }
        if (n == "dw") return 0;
        return -1;
    };
    bool levelSet = false, symFamilySet = false;
    for (auto it = words_.rbegin(); it != words_.rend(); ++it) {
        if (it->consumed || !IsOptionWord(it->text)) continue;
        std::string n = OptionName(it->text);
        int level = levelOf(n);
        if (level >= 0) {
            it->consumed = true;
            if (levelSet) continue;
            levelSet = true;
            settings_.warningLevel = level;
            for (auto& w : words_) {
                if (w.consumed || !IsOptionWord(w.text) || levelOf(OptionName(w.text)) < 0) continue;
                w.consumed = true;
                Message(Msg::IgnoringOverriddenOption, {OptionName(w.text), n});
            }
            continue;
        }
        bool isLs = n == "ls" || n == "s", isLu = n == "lu" || n == "su";
        if (isLs || isLu) {
            it->consumed = true;
            if (symFamilySet) continue;
            symFamilySet = true;
            settings_.listing = true;
            if (isLs)
                settings_.symbolListing = true;
            else
                settings_.usedSymbolsOnly = true;
            for (auto& w : words_) {
                if (w.consumed || !IsOptionWord(w.text)) continue;
                std::string o = OptionName(w.text);
                bool opposite = isLs ? (o == "lu" || o == "su") : (o == "ls" || o == "s");
                if (!opposite) continue;
                w.consumed = true;
                Message(Msg::IgnoringOverriddenOption, {o, isLs ? "ls" : "lu"});
            }
            continue;
        }
        if (n == "case") {
            settings_.caseSensitive = true;
        } else if (n == "l") {
            settings_.listing = true;
        } else if (n == "lc" || n == "c") {
            settings_.listing = true;
            settings_.cycles = true;
        } else if (n == "mc") {
            settings_.compat = true;
        } else if (n == "stat") {
            settings_.statistics = true;
        } else if (n == "g") {
            settings_.lineMap = true;
        } else {
            it->unknown = true;
        }
        it->consumed = true;
    }
    for (const Word& w : words_)
        if (w.unknown) Message(Msg::IgnoringUnknownCommandLineOption, {OptionName(w.text)});
}

// At least one source; -Fo and -Fl only with one. 0, or 1 after reporting.
int Driver::CheckSources(const std::vector<std::string>& sources) {
    int status = 0;
    if (sources.empty()) {
        Message(Msg::MissingSourceFilename, {});
        status = 1;
    }
    if (sources.size() > 1) {
        if (!settings_.objectFile.empty()) {
            Message(Msg::OptionNotAllowedWithMultipleSources, {"Fo"});
            status = 1;
        }
        if (!settings_.listingFile.empty()) {
            Message(Msg::OptionNotAllowedWithMultipleSources, {"Fl"});
            status = 1;
        }
        if (!settings_.mapFile.empty()) {
            Message(Msg::OptionNotAllowedWithMultipleSources, {"Fd"});
            status = 1;
        }
    }
    return status;
}

// The pass and error limits brought into their ranges, with a warning each.
void Driver::AdjustLimits() {
    auto adjust = [&](long long& v, long long lo, long long hi, const char* name) {
        long long nv = std::clamp(v, lo, hi);
        if (nv != v) {
            v = nv;
            Message(Msg::AdjustingOptionValue, {name, static_cast<int>(nv)});
        }
    };
    adjust(settings_.maxPasses, 2, 100, "Amax");
    adjust(settings_.minPasses, 2, 100, "Amin");
    if (settings_.minPasses > settings_.maxPasses) {
        settings_.minPasses = settings_.maxPasses;
        Message(Msg::AdjustingOptionValue, {"Amin", static_cast<int>(settings_.minPasses)});
    }
    adjust(settings_.errorLimit, 10, 1000000, "Ae");
}

// Each source's name as shown, as opened, and its outputs' names.
std::vector<Driver::Job> Driver::MakeJobs(const std::vector<std::string>& sources) const {
    std::vector<Job> jobs;
    for (const std::string& src : sources) {
        Job j;
        j.shown = Split(src).ext.empty() ? src + ".asm" : src;
        j.source = Absolute(startDir_, WithDefaultExt(src, ".asm"));
        j.object = settings_.objectFile.empty() ? WithExt(src, ".s19")
                                                : WithDefaultExt(settings_.objectFile, ".s19");
        j.listing = settings_.listingFile.empty() ? WithExt(src, ".lst")
                                                  : WithDefaultExt(settings_.listingFile, ".lst");
        // The map stands beside the object and is named after it.
        if (settings_.lineMap)
            j.map = settings_.mapFile.empty() ? WithExt(j.object, ".dbg")
                                              : WithDefaultExt(settings_.mapFile, ".dbg");
        jobs.push_back(std::move(j));
    }
    return jobs;
}

// One run context for all sources: the error file, the table checks, then
// each source from the directory it stands in. The exit status.
int Driver::Assemble(const std::vector<Job>& jobs, int status) {
    const std::string& startDir = startDir_;
    Assembler as(target_, settings_);
    as.AddErrorText(errorText_);
    // Every file the run reads before its sources' includes: no output may be
    // one of them, the error file included.
    for (const std::string& r : responseFiles_) as.NoteInput(r, r);
    for (const Job& j : jobs) as.NoteInput(j.source, j.shown);
    if (!as.OpenErrorFile()) return 2;
    if (status != 0) return as.FinishErrorFile() ? status : 2;

    // The command tables are data; a broken one stops the run before any source.
    bool allOk = true;
    if (!CheckPreprocessorTable()) {
        as.Report(Msg::PreprocessorTableCorrupt);
        allOk = false;
    } else if (!CheckDirectiveTable()) {
        as.Report(Msg::PseudoCodeTableCorrupt);
        allOk = false;
    } else if (!target_.CheckTables(as)) {
        allOk = false;
    }
    for (std::size_t i = 0; allOk && i < jobs.size(); ++i) {
        const Job& j = jobs[i];
        // Every source starts from the directory the program started in.
        if (!host::ChangeDirectory(startDir)) {
            allOk = false;
            break;
        }
        // Include files and relative names inside the source are found
        // relative to the source's own directory.
        std::string dir = Split(j.source).dir;
        if (!dir.empty() && !host::ChangeDirectory(dir)) {
            // A missing directory shows up as the source that cannot be opened.
        }
        if (!as.AssembleSource(j.source, j.shown, Absolute(startDir, j.object), j.object,
                               Absolute(startDir, j.listing), j.listing,
                               j.map.empty() ? std::string() : Absolute(startDir, j.map), j.map))
            allOk = false;
    }
    if (!host::ChangeDirectory(startDir)) {
    }
    // A run whose error file could not be written did not do what was asked.
    if (!as.FinishErrorFile()) allOk = false;
    std::fflush(stdout);
    return allOk ? 0 : 2;
}

} // namespace

int RunAssembler(int argc, char** argv, const Target& target, void (*crash)()) {
    try {
        Driver d(target, crash);
        return d.Run(argc, argv);
    } catch (const std::bad_alloc&) {
        // Out of memory outside a source (a source reports it at its line).
        std::fflush(stdout);
        std::fputs("Fatal error A1005: out of memory\n", stdout);
        std::fflush(stdout);
        return 2;
    } catch (...) {
        std::fflush(stdout);
        std::fputs("\nInternal error: please contact KORVELL technical support (support@korvell.com)\n",
                   stdout);
        std::fflush(stdout);
        return host::InternalErrorStatus();
    }
}

} // namespace qorb
