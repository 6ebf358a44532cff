#include "server.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "core/directives.h"
#include "core/preprocessor.h"
#include "hc11/opcodes.h"
#include "hc11/target_hc11.h"
#include "hc12/opcodes.h"
#include "hc12/target_hc12.h"
#include "statement.h"

namespace qorbls {

namespace {

constexpr auto kDebounce = std::chrono::milliseconds(150);
// Header blocks longer than this are no protocol header.
constexpr std::size_t kMaxHeader = 8192;
// A message body the server refuses to hold (the editor sends whole files).
constexpr std::size_t kMaxBody = 256u << 20;
constexpr std::size_t kMaxWorkspaceFiles = 20000;
constexpr std::uintmax_t kMaxWorkspaceFileSize = 64u << 20;

enum ErrorCode {
    kParseError = -32700,
    kInvalidRequest = -32600,
    kMethodNotFound = -32601,
    kInvalidParams = -32602,
    kInternalError = -32603,
    kServerNotInitialized = -32002,
    kRequestFailed = -32803,
};

bool IsSourceFile(const std::filesystem::path& p) {
    static const char* const kExtensions[] = {".asm", ".s",     ".a12", ".s12", ".asm12", ".a11",
                                              ".s11", ".asm11", ".inc", ".i",   ".h12",   ".h11"};
    std::string ext = LowerAscii(p.extension().string());
    for (const char* e : kExtensions)
        if (ext == e) return true;
    return false;
}

bool Hc11Extension(const std::string& path) {
    std::string ext = LowerAscii(std::filesystem::path(path).extension().string());
    return ext == ".a11" || ext == ".s11" || ext == ".asm11" || ext == ".h11";
}

std::string Hex(std::uint32_t v, int digits) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string s;
    for (int i = digits - 1; i >= 0; --i) s += kHex[(v >> (4 * i)) & 0xF];
    return s;
}

const char* KindLetterFormat(qorb::MsgKind k) {
    return k == qorb::MsgKind::CommandLineError || k == qorb::MsgKind::CommandLineWarning ? "D" : "A";
}

int Severity(qorb::MsgKind k) {
    switch (k) {
    case qorb::MsgKind::Warning:
    case qorb::MsgKind::CommandLineWarning: return 2;
    case qorb::MsgKind::Note: return 3;
    default: return 1;
    }
}

bool ValidName(const std::string& n, NameKind kind) {
    if (n.empty() || n.size() > 256) return false;
    if (kind == NameKind::Local) {
        if (n.size() < 2 || n.size() > 4 || n.back() != '$') return false;
        for (std::size_t i = 0; i + 1 < n.size(); ++i)
            if (n[i] < '0' || n[i] > '9') return false;
        return std::atoi(n.c_str()) <= 255;
    }
    if (!IsSymbolStart(n[0]) && n[0] != '$') return false;
    for (std::size_t i = 1; i < n.size(); ++i)
        if (!IsSymbolChar(n[i]) && !(i + 1 == n.size() && n[i] == '`')) return false;
    return true;
}

} // namespace

Server::Server(int in, int out) : in_(in), out_(out) {
    char tmpl[] = "/tmp/qorbls-XXXXXX";
    if (const char* d = mkdtemp(tmpl)) scratch_ = d;
}

Server::~Server() {
    if (!scratch_.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(scratch_, ec);
    }
}

// ---------------------------------------------------------------------------
// Transport

bool Server::TakeMessage(std::string& body) {
    for (;;) {
        std::size_t end = inbuf_.find("\r\n\r\n");
        if (end == std::string::npos) {
            if (inbuf_.size() > kMaxHeader) {
                // No header in sight: whatever this is, it is dropped up to
                // the next thing that could start one.
                std::size_t next = inbuf_.find("Content-Length", 1);
                inbuf_.erase(0, next == std::string::npos ? inbuf_.size() - 16 : next);
                ReplyError(nullptr, kParseError, "no message header");
            }
            return false;
        }
        std::string header = inbuf_.substr(0, end);
        long long length = -1;
        std::istringstream lines(header);
        std::string line;
        while (std::getline(lines, line)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            std::size_t colon = line.find(':');
            if (colon == std::string::npos) continue;
            if (LowerAscii(line.substr(0, colon)) != "content-length") continue;
            std::string v = line.substr(colon + 1);
            v.erase(0, v.find_first_not_of(" \t"));
            char* stop = nullptr;
            errno = 0;
            long long n = std::strtoll(v.c_str(), &stop, 10);
            if (!v.empty() && stop && *stop == '\0' && errno == 0 && n >= 0) length = n;
        }
        if (length < 0 || static_cast<std::size_t>(length) > kMaxBody) {
            inbuf_.erase(0, end + 4);
            ReplyError(nullptr, kParseError,
                       length < 0 ? "missing or bad Content-Length" : "message too large");
            continue;
        }
        if (inbuf_.size() < end + 4 + static_cast<std::size_t>(length)) return false;
        body = inbuf_.substr(end + 4, static_cast<std::size_t>(length));
        inbuf_.erase(0, end + 4 + static_cast<std::size_t>(length));
        return true;
    }
}

void Server::Send(const json& message) {
    std::string body = message.dump(-1, ' ', false, json::error_handler_t::replace);
    std::string out = "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    std::size_t done = 0;
    while (done < out.size()) {
        ssize_t n = write(out_, out.data() + done, out.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            eof_ = true; // the editor is gone
            return;
        }
        done += static_cast<std::size_t>(n);
    }
}

void Server::Reply(const json& id, json result) {
    Send(json{{"jsonrpc", "2.0"}, {"id", id}, {"result", std::move(result)}});
}

void Server::ReplyError(const json& id, int code, const std::string& text) {
    Send(json{{"jsonrpc", "2.0"}, {"id", id}, {"error", {{"code", code}, {"message", text}}}});
}

void Server::Notify(const std::string& method, json params) {
    Send(json{{"jsonrpc", "2.0"}, {"method", method}, {"params", std::move(params)}});
}

int Server::Run() {
    char buf[65536];
    for (;;) {
        std::string body;
        while (!exitStatus_ && TakeMessage(body)) {
            Dispatch(body);
            RunDue(false);
        }
        if (exitStatus_) return *exitStatus_;
        if (eof_) return shutdown_ ? 0 : 1;
        int timeout = -1;
        if (!pending_.empty()) {
            auto first = std::min_element(pending_.begin(), pending_.end(),
                                          [](const auto& a, const auto& b) { return a.second < b.second; });
            auto wait =
                std::chrono::duration_cast<std::chrono::milliseconds>(first->second - Clock::now()).count();
            timeout = static_cast<int>(std::max<long long>(0, wait));
        }
        pollfd p{in_, POLLIN, 0};
        int r = poll(&p, 1, timeout);
        if (r < 0 && errno != EINTR) return 1;
        if (r > 0) {
            ssize_t n = read(in_, buf, sizeof buf);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                eof_ = true;
                continue;
            }
            inbuf_.append(buf, static_cast<std::size_t>(n));
        }
        RunDue(false);
    }
}

void Server::Dispatch(const std::string& body) {
    json msg = json::parse(body, nullptr, false);
    if (msg.is_discarded()) return ReplyError(nullptr, kParseError, "message is not JSON");
    if (!msg.is_object()) return ReplyError(nullptr, kInvalidRequest, "message is not a JSON-RPC object");
    const json* id = nullptr;
    auto idIt = msg.find("id");
    if (idIt != msg.end()) {
        if (!idIt->is_number_integer() && !idIt->is_string() && !idIt->is_null())
            return ReplyError(nullptr, kInvalidRequest, "bad request id");
        id = &*idIt;
    }
    auto m = msg.find("method");
    if (m == msg.end() || !m->is_string()) {
        if (id && (msg.contains("result") || msg.contains("error"))) return; // a reply to us
        return ReplyError(id ? *id : json(nullptr), kInvalidRequest, "no method");
    }
    std::string method = *m;
    json params = msg.value("params", json::object());
    if (params.is_null()) params = json::object();
    if (!params.is_object() && !params.is_array())
        return id ? ReplyError(*id, kInvalidRequest, "params must be an object or array") : void();
    try {
        Handle(method, params, id);
    } catch (const json::exception& e) {
        // Parameters of the wrong shape (a string where a position goes).
        if (id) ReplyError(*id, kInvalidParams, std::string("invalid parameters: ") + e.what());
    } catch (const std::exception& e) {
        if (id) ReplyError(*id, kInternalError, e.what());
    }
}

void Server::Handle(const std::string& method, const json& params, const json* id) {
    if (method == "exit") {
        exitStatus_ = shutdown_ ? 0 : 1;
        return;
    }
    if (method == "initialize") {
        if (!id) return;
        if (initialized_) return ReplyError(*id, kInvalidRequest, "initialize was sent twice");
        return Initialize(params, *id);
    }
    if (!initialized_) {
        if (id) ReplyError(*id, kServerNotInitialized, "initialize first");
        return;
    }
    if (shutdown_) {
        if (id) ReplyError(*id, kInvalidRequest, "the server is shutting down");
        return;
    }
    if (method == "shutdown") {
        shutdown_ = true;
        if (id) Reply(*id, nullptr);
        return;
    }
    if (method == "initialized" || method == "$/cancelRequest" || method == "$/setTrace" ||
        method == "workspace/didChangeConfiguration")
        return;
    if (method == "workspace/didChangeWatchedFiles") {
        // Files changed on disk (a settings file, an include saved by
        // another program): every open document is assembled again, with the
        // settings read again.
        config_ = LoadConfig(root_);
        units_.clear();
        for (const auto& [path, doc] : docs_) Schedule(path);
        return;
    }
    if (method == "textDocument/didOpen") {
        const json& td = params.at("textDocument");
        std::string uri = td.at("uri");
        std::string path = PathFromUri(uri);
        if (path.empty()) return;
        path = NormalPath(path, root_);
        Document& d = docs_[path];
        d.uri = uri;
        d.lines = Lines(td.at("text").get<std::string>());
        d.version = td.value("version", 0LL);
        Schedule(path);
        return;
    }
    if (method == "textDocument/didChange") {
        std::string path =
            NormalPath(PathFromUri(params.at("textDocument").at("uri").get<std::string>()), root_);
        auto it = docs_.find(path);
        if (it == docs_.end()) return;
        for (const json& change : params.at("contentChanges")) {
            if (!change.contains("range")) {
                it->second.lines = Lines(change.at("text").get<std::string>());
                continue;
            }
            // Incremental change: the range in UTF-16 positions.
            const Lines& l = it->second.lines;
            auto offset = [&](const json& pos) {
                std::size_t line = pos.at("line").get<std::size_t>();
                if (line >= l.Count()) return l.Text().size();
                std::string_view text = l.Line(line);
                std::size_t start = static_cast<std::size_t>(text.data() - l.Text().data());
                return start + ByteOffset(text, pos.at("character").get<std::size_t>());
            };
            std::size_t b = offset(change.at("range").at("start"));
            std::size_t e = offset(change.at("range").at("end"));
            if (e < b) std::swap(b, e);
            std::string text = l.Text();
            text.replace(b, e - b, change.at("text").get<std::string>());
            it->second.lines = Lines(std::move(text));
        }
        it->second.version = params.at("textDocument").value("version", it->second.version);
        Schedule(path);
        return;
    }
    if (method == "textDocument/didClose") {
        std::string path =
            NormalPath(PathFromUri(params.at("textDocument").at("uri").get<std::string>()), root_);
        docs_.erase(path);
        pending_.erase(path);
        // Units that read the buffer read the file again.
        for (auto& [main, unit] : units_)
            if (unit && unit->files.count(path) && docs_.count(main)) Schedule(main);
        bool stillShown = false;
        for (auto& [main, unit] : units_)
            if (unit && unit->files.count(path) && docs_.count(main)) stillShown = true;
        if (!stillShown)
            Notify("textDocument/publishDiagnostics",
                   {{"uri", UriFromPath(path)}, {"diagnostics", json::array()}});
        return;
    }
    if (method == "textDocument/didSave") return;
    if (!id) return; // other notifications are not ours

    if (method == "textDocument/definition") return Reply(*id, Definition(params));
    if (method == "textDocument/references") return Reply(*id, References(params));
    if (method == "textDocument/hover") return Reply(*id, Hover(params));
    if (method == "textDocument/documentSymbol") return Reply(*id, DocumentSymbols(params));
    if (method == "workspace/symbol") return Reply(*id, WorkspaceSymbols(params));
    if (method == "textDocument/completion") return Reply(*id, Completion(params));
    if (method == "textDocument/semanticTokens/full") return Reply(*id, SemanticTokens(params));
    if (method == "textDocument/prepareRename") return Reply(*id, PrepareRename(params));
    if (method == "textDocument/rename") {
        bool failed = false;
        json r = Rename(params, *id, failed);
        if (!failed) Reply(*id, std::move(r));
        return;
    }
    ReplyError(*id, kMethodNotFound, "unknown method '" + method + "'");
}

// ---------------------------------------------------------------------------
// Documents and assemblies

void Server::Initialize(const json& params, const json& id) {
    std::string root;
    if (params.contains("rootUri") && params["rootUri"].is_string())
        root = PathFromUri(params["rootUri"].get<std::string>());
    if (root.empty() && params.contains("workspaceFolders") && params["workspaceFolders"].is_array() &&
        !params["workspaceFolders"].empty())
        root = PathFromUri(params["workspaceFolders"][0].value("uri", std::string()));
    if (root.empty() && params.contains("rootPath") && params["rootPath"].is_string())
        root = params["rootPath"].get<std::string>();
    if (root.empty()) root = std::filesystem::current_path().string();
    root_ = NormalPath(root, std::filesystem::current_path().string());
    // Include names relative to no file start where the assembler would be
    // run: the workspace's root.
    std::error_code ec;
    std::filesystem::current_path(root_, ec);
    config_ = LoadConfig(root_);
    initialized_ = true;

    json legend = json::array();
    for (const char* t : kTokenTypeNames) legend.push_back(t);
    json caps = {
        {"positionEncoding", "utf-16"},
        {"textDocumentSync", {{"openClose", true}, {"change", 2}, {"save", false}}},
        {"definitionProvider", true},
        {"referencesProvider", true},
        {"hoverProvider", true},
        {"documentSymbolProvider", true},
        {"workspaceSymbolProvider", true},
        {"completionProvider", {{"triggerCharacters", json::array({"#", "."})}}},
        {"semanticTokensProvider",
         {{"legend", {{"tokenTypes", legend}, {"tokenModifiers", json::array()}}}, {"full", true}}},
        {"renameProvider", {{"prepareProvider", true}}},
    };
    Reply(id, {{"capabilities", caps}, {"serverInfo", {{"name", "qorbls"}, {"version", "1.21"}}}});
    for (const std::string& p : config_.problems)
        Notify("window/showMessage", {{"type", 2}, {"message", config_.file + ": " + p}});
}

void Server::Schedule(const std::string& path) { pending_[path] = Clock::now() + kDebounce; }

void Server::RunDue(bool all) {
    auto now = Clock::now();
    std::vector<std::string> due;
    for (const auto& [path, when] : pending_)
        if (all || when <= now) due.push_back(path);
    std::set<std::string> done;
    for (const std::string& path : due) {
        pending_.erase(path);
        if (!docs_.count(path)) continue;
        std::string main = UnitFor(path);
        if (!done.insert(main).second) continue;
        if (Analysis* unit = Analyze(main)) Publish(*unit);
    }
}

void Server::Flush(const std::string& path) {
    // A request about a document sees its latest text: an edit still
    // waiting out the debounce is assembled now.
    if (pending_.erase(path)) {
        std::string main = UnitFor(path);
        if (Analysis* unit = Analyze(main)) Publish(*unit);
    }
}

std::string Server::UnitFor(const std::string& path) {
    // A file another source includes is assembled as part of that source;
    // the configured main source comes first.
    if (!config_.main.empty() && config_.main != path) {
        auto it = units_.find(config_.main);
        if (it == units_.end() && std::filesystem::exists(config_.main)) {
            Analyze(config_.main);
            it = units_.find(config_.main);
        }
        if (it != units_.end() && it->second && it->second->files.count(path)) return config_.main;
    }
    for (const auto& [main, unit] : units_)
        if (main != path && unit && unit->files.count(path) && docs_.count(main)) return main;
    // Then a unit of another source (one the workspace's index assembled).
    for (const auto& [main, unit] : units_)
        if (main != path && unit && unit->files.count(path)) return main;
    return path;
}

const qorb::Target& Server::TargetFor(const std::string& path) const {
    if (config_.cpu == "hc11") return qorb::hc11::GetTarget();
    if (config_.cpu.empty() && Hc11Extension(path)) return qorb::hc11::GetTarget();
    return qorb::hc12::GetTarget();
}

bool Server::Hc12(const std::string& path) const { return &TargetFor(path) == &qorb::hc12::GetTarget(); }

Analysis* Server::Analyze(const std::string& main) {
    AssemblyOptions o;
    o.target = &TargetFor(main);
    o.hcs = config_.cpu == "hcs12";
    o.options = config_.options;
    o.include = config_.include;
    o.workDir = root_;
    o.objectPath = (scratch_.empty() ? std::string("/tmp") : scratch_) + "/unit.s19";
    auto texts = [this](const std::string& p, std::string& t) { return TextOf(p, t); };
    units_[main] = Assemble(main, o, texts);
    diskLines_.clear();
    return units_[main].get();
}

Analysis* Server::UnitOf(const std::string& path) {
    Flush(path);
    std::string main = UnitFor(path);
    auto it = units_.find(main);
    if (it != units_.end() && it->second) return it->second.get();
    return Analyze(main);
}

bool Server::TextOf(const std::string& path, std::string& text) const {
    auto it = docs_.find(path);
    if (it == docs_.end()) return false;
    text = it->second.lines.Text();
    return true;
}

const Lines& Server::LinesOf(const std::string& path) {
    auto it = docs_.find(path);
    if (it != docs_.end()) return it->second.lines;
    auto d = diskLines_.find(path);
    if (d != diskLines_.end()) return d->second;
    std::ifstream f(path, std::ios::binary);
    std::stringstream ss;
    if (f) ss << f.rdbuf();
    return diskLines_[path] = Lines(ss.str());
}

json Server::RangeOf(const std::string& file, int line, std::size_t begin, std::size_t end) {
    const Lines& l = LinesOf(file);
    std::string_view text = l.Line(static_cast<std::size_t>(std::max(line, 0)));
    return {{"start", {{"line", line}, {"character", Utf16Column(text, begin)}}},
            {"end", {{"line", line}, {"character", Utf16Column(text, end)}}}};
}

json Server::Location(const std::string& file, int line, std::size_t begin, std::size_t end) {
    return {{"uri", docs_.count(file) ? docs_[file].uri : UriFromPath(file)},
            {"range", RangeOf(file, line, begin, end)}};
}

json Server::Diagnostics(const Analysis& unit, const std::string& file, const FileFacts& facts) {
    json out = json::array();
    const char* source = unit.target ? unit.target->Texts().programName : "qorb";
    auto add = [&](const Message& m) {
        const Lines& l = LinesOf(file);
        int line = m.line > 0 ? m.line - 1 : 0;
        std::string_view text = l.Line(static_cast<std::size_t>(line));
        std::size_t b = 0, e = text.size();
        if (m.column > 0) {
            std::size_t at = RawOffset(text, static_cast<std::size_t>(m.column - 1));
            auto t = TokenAt(text, at);
            b = t.first;
            e = t.second;
        }
        char code[16];
        std::snprintf(code, sizeof code, "%s%04d", KindLetterFormat(m.kind), m.number & 0xFFFF);
        out.push_back({{"range", RangeOf(file, line, b, e)},
                       {"severity", Severity(m.kind)},
                       {"code", code},
                       {"source", source},
                       {"message", m.text}});
    };
    for (const Message& m : facts.messages) add(m);
    if (file == unit.main)
        for (const Message& m : unit.unplaced) add(m);
    return out;
}

void Server::Publish(const Analysis& unit) {
    std::set<std::string> now;
    for (const auto& [file, facts] : unit.files) {
        now.insert(file);
        Notify("textDocument/publishDiagnostics",
               {{"uri", docs_.count(file) ? docs_[file].uri : UriFromPath(file)},
                {"diagnostics", Diagnostics(unit, file, facts)}});
    }
    // Files this unit no longer includes lose the messages it gave them.
    for (const std::string& old : published_[unit.main])
        if (!now.count(old))
            Notify("textDocument/publishDiagnostics",
                   {{"uri", UriFromPath(old)}, {"diagnostics", json::array()}});
    published_[unit.main] = std::move(now);
    diskLines_.clear();
}

void Server::IndexWorkspace() {
    // The tree is walked at every request (files come and go); a source
    // already assembled is not assembled again.
    if (root_.empty()) return;
    std::vector<std::string> sources, includes;
    std::error_code ec;
    auto it = std::filesystem::recursive_directory_iterator(
        root_, std::filesystem::directory_options::skip_permission_denied, ec);
    for (; !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        const auto& entry = *it;
        std::string name = entry.path().filename().string();
        if (entry.is_directory(ec)) {
            if (!name.empty() && (name[0] == '.' || name == "node_modules")) it.disable_recursion_pending();
            continue;
        }
        if (!entry.is_regular_file(ec) || !IsSourceFile(entry.path())) continue;
        if (entry.file_size(ec) > kMaxWorkspaceFileSize) continue;
        std::string p = NormalPath(entry.path().string(), root_);
        (LowerAscii(entry.path().extension().string()) == ".inc" ? includes : sources).push_back(p);
        if (sources.size() + includes.size() >= kMaxWorkspaceFiles) break;
    }
    std::sort(sources.begin(), sources.end());
    std::sort(includes.begin(), includes.end());
    // Sources first: the files they include are then known as includes and
    // not assembled on their own.
    std::set<std::string> covered;
    for (const auto& [main, unit] : units_)
        if (unit)
            for (const auto& [f, facts] : unit->files) covered.insert(f);
    if (!config_.main.empty() && !units_.count(config_.main) && std::filesystem::exists(config_.main)) {
        if (Analysis* a = Analyze(config_.main))
            for (const auto& [f, facts] : a->files) covered.insert(f);
    }
    for (const auto* list : {&sources, &includes})
        for (const std::string& p : *list) {
            if (covered.count(p) || units_.count(p)) continue;
            if (Analysis* a = Analyze(p))
                for (const auto& [f, facts] : a->files) covered.insert(f);
        }
}

// ---------------------------------------------------------------------------
// Features

std::pair<std::size_t, std::size_t> Server::Extent(const std::string& file, const Occurrence& o) {
    std::string_view text = LinesOf(file).Line(static_cast<std::size_t>(o.line - 1));
    return TokenAt(text, RawOffset(text, o.column));
}

std::pair<std::size_t, std::size_t> Server::Extent(const std::string& file, const IncludeUse& u) {
    std::string_view text = LinesOf(file).Line(static_cast<std::size_t>(u.line - 1));
    std::size_t b = RawOffset(text, u.column);
    while (b < text.size() && (text[b] == ' ' || text[b] == '\t')) ++b;
    if (b < text.size() && (text[b] == '"' || text[b] == '\'')) return TokenAt(text, b);
    std::size_t e = b;
    while (e < text.size() && text[e] != ' ' && text[e] != '\t' && text[e] != ',' && text[e] != ';') ++e;
    return {b, e};
}

std::optional<Server::Place> Server::Find(Analysis& unit, const std::string& path, const json& position) {
    int line = position.at("line").get<int>();
    std::string_view text = LinesOf(path).Line(static_cast<std::size_t>(std::max(line, 0)));
    std::size_t at = ByteOffset(text, position.at("character").get<std::size_t>());
    auto f = unit.files.find(path);
    if (f == unit.files.end()) return std::nullopt;
    Place best;
    best.file = path;
    best.line = line;
    for (const Occurrence& o : f->second.names) {
        if (o.line != line + 1) continue;
        auto [b, e] = Extent(path, o);
        // The end of a word counts as on it (the cursor stands after it).
        if (at >= b && at <= e && e > b) {
            if (best.name && o.definition == false && best.name->definition) continue;
            best.name = &o;
            best.begin = b;
            best.end = e;
        }
    }
    if (best.name) return best;
    for (const IncludeUse& u : f->second.includes) {
        if (u.line != line + 1) continue;
        auto [b, e] = Extent(path, u);
        if (at >= b && at <= e && e > b) {
            best.include = &u;
            best.begin = b;
            best.end = e;
            return best;
        }
    }
    return std::nullopt;
}

const Occurrence* Server::DefinitionOf(const Analysis& unit, const std::string& key, std::string* file) {
    for (const auto& [path, facts] : unit.files)
        for (const Occurrence& o : facts.names)
            if (o.definition && o.key == key) {
                if (file) *file = path;
                return &o;
            }
    return nullptr;
}

json Server::Definition(const json& params) {
    std::string path = NormalPath(PathFromUri(params.at("textDocument").at("uri").get<std::string>()), root_);
    Analysis* unit = UnitOf(path);
    if (!unit) return nullptr;
    auto place = Find(*unit, path, params.at("position"));
    if (!place) return nullptr;
    if (place->include) {
        if (place->include->opened.empty()) return nullptr;
        return json::array({Location(place->include->opened, 0, 0, 0)});
    }
    json out = json::array();
    std::set<std::pair<std::string, int>> seen;
    for (const auto& [file, facts] : unit->files)
        for (const Occurrence& o : facts.names)
            if (o.definition && o.key == place->name->key && seen.insert({file, o.line}).second) {
                auto [b, e] = Extent(file, o);
                out.push_back(Location(file, o.line - 1, b, e));
            }
    return out;
}

json Server::References(const json& params) {
    std::string path = NormalPath(PathFromUri(params.at("textDocument").at("uri").get<std::string>()), root_);
    Analysis* unit = UnitOf(path);
    if (!unit) return nullptr;
    auto place = Find(*unit, path, params.at("position"));
    if (!place) return nullptr;
    bool withDeclaration = true;
    if (params.contains("context")) withDeclaration = params["context"].value("includeDeclaration", true);
    json out = json::array();
    std::set<std::tuple<std::string, int, std::size_t>> seen;
    for (const auto& [file, facts] : unit->files) {
        if (place->include) {
            for (const IncludeUse& u : facts.includes)
                if (u.opened == place->include->opened && seen.insert({file, u.line, u.column}).second) {
                    auto [b, e] = Extent(file, u);
                    out.push_back(Location(file, u.line - 1, b, e));
                }
            continue;
        }
        for (const Occurrence& o : facts.names) {
            if (o.key != place->name->key || (o.definition && !withDeclaration)) continue;
            if (!seen.insert({file, o.line, o.column}).second) continue;
            auto [b, e] = Extent(file, o);
            out.push_back(Location(file, o.line - 1, b, e));
        }
    }
    return out;
}

std::string Server::AddressingMode(const std::string& path, std::string_view line, const LineCode& code) {
    const qorb::Target& target = TargetFor(path);
    Statement st = ParseStatement(line, target);
    if (st.kind != CommandKind::Instruction || code.bytes.empty()) return {};
    const qorb::OpcodeEntry* row = target.FindInstruction(st.command);
    if (!row) return {};
    const int cls = qorb::ClassOf(*row);
    const auto* b = reinterpret_cast<const unsigned char*>(code.bytes.data());
    const std::size_t n = code.bytes.size();
    const int len = qorb::OpcodeLength(row->opcode);
    auto emittedAt = [&](std::size_t at) -> long {
        if (at + static_cast<std::size_t>(len) > n) return -1;
        return len == 2 ? (static_cast<long>(b[at]) << 8 | b[at + 1]) : b[at];
    };
    auto match = [&](long emitted, int imm, int dir, int ext, int idx, int noForm) -> std::string {
        long diff = emitted - static_cast<long>(row->opcode & 0xFFFF);
        if (imm != noForm && diff == imm) return "immediate";
        if (dir != noForm && diff == dir) return "direct";
        if (ext != noForm && diff == ext) return "extended";
        if (idx != noForm && diff == idx) return "indexed";
        return {};
    };
    if (Hc12(path)) {
        using namespace qorb::hc12;
        auto o = OffsetsOf(cls);
        std::string m = match(emittedAt(0), o.immediate, o.direct, o.extended, o.indexed, kNoForm);
        switch (cls) {
        case kInherent: return "inherent";
        case kImmediateOnly: return "immediate";
        case kBranch8: return "relative (8-bit)";
        case kBranch16: return "relative (16-bit)";
        case kLoop: return "relative (9-bit)";
        case kBitBranch: return m.empty() ? "relative" : m + ", relative";
        case kTransfer:
        case kExchange:
        case kSignExtend: return "inherent (register postbyte)";
        case kTrap: return "inherent";
        case kMoveByte:
        case kMoveWord: {
            static const char* const kForms[] = {"immediate to indexed", "extended to indexed",
                                                 "indexed to indexed",   "immediate to extended",
                                                 "extended to extended", "indexed to extended"};
            long form = emittedAt(0) - static_cast<long>(row->opcode & 0xFFFF);
            return form >= 0 && form < 6 ? kForms[form] : std::string();
        }
        default: return m;
        }
    }
    using namespace qorb::hc11;
    if (cls == kInherent) return "inherent";
    if (cls == kBranch) return "relative";
    if (const IndexedForm* f = FindIndexedForm(row->opcode)) {
        long two = n >= 2 ? (static_cast<long>(b[0]) << 8 | b[1]) : -1;
        long one = b[0];
        if ((f->onX > 0xFF ? two : one) == static_cast<long>(f->onX) && f->onX) return "indexed (X)";
        if ((f->onY > 0xFF ? two : one) == static_cast<long>(f->onY)) return "indexed (Y)";
    }
    auto o = OffsetsOf(cls);
    std::string m = match(emittedAt(0), o.immediate, o.direct, o.extended, o.indexedX, kNoForm);
    if (m == "indexed") m = "indexed (X)";
    if (m.empty() && len == 1 && n >= 2 && (b[0] == 0x18 || b[0] == 0x1A || b[0] == 0xCD)) {
        // The Y page prefix before the ordinary indexed opcode.
        long diff = static_cast<long>(b[1]) - static_cast<long>(row->opcode & 0xFF);
        if (o.indexedX != kNoForm && diff == o.indexedX) m = "indexed (Y)";
    }
    if (cls == kBitBranch && !m.empty()) m += ", relative";
    return m;
}

json Server::Hover(const json& params) {
    std::string path = NormalPath(PathFromUri(params.at("textDocument").at("uri").get<std::string>()), root_);
    Analysis* unit = UnitOf(path);
    if (!unit) return nullptr;
    const json& pos = params.at("position");
    auto place = Find(*unit, path, pos);
    auto relative = [&](const std::string& f) {
        std::string r = std::filesystem::path(f).lexically_relative(root_).string();
        return r.empty() || r.rfind("..", 0) == 0 ? f : r;
    };
    if (place && place->include) {
        std::string text = place->include->opened.empty() ? "`" + place->include->written + "`: not found"
                                                          : "`" + relative(place->include->opened) + "`";
        return {{"contents", {{"kind", "markdown"}, {"value", text}}},
                {"range", RangeOf(path, place->line, place->begin, place->end)}};
    }
    // The listing's columns: the code field 31 wide, then the cycles.
    auto listed = [](const LineCode& code, std::string& cycles) {
        std::string field = ListingCodeField(code, &cycles);
        std::size_t firstEnd = std::min(field.find('\n'), field.size());
        std::string first = field.substr(0, firstEnd);
        if (!cycles.empty()) {
            if (first.size() < 31) first.append(31 - first.size(), ' ');
            first += " " + cycles;
        }
        return first + field.substr(firstEnd);
    };
    // A macro call: the code of its expansion, as the listing shows it with
    // mlist on.
    auto expansion = [&](int line) -> std::string {
        auto f = unit->files.find(path);
        if (f == unit->files.end()) return {};
        auto e = f->second.expansion.find(line + 1);
        if (e == f->second.expansion.end()) return {};
        std::string text = "expansion:\n```";
        std::string cycles;
        for (const LineCode& code : e->second) text += "\n" + listed(code, cycles);
        text += e->second.size() >= kMaxExpansionLines ? "\n...\n```" : "\n```";
        return text;
    };
    if (place && place->name) {
        std::string file;
        const Occurrence* def = DefinitionOf(*unit, place->name->key, &file);
        // A `set` symbol has the value of its last assignment before the
        // line (in the same file).
        if (def && def->kind == qorb::DefinitionKind::Set) {
            for (const Occurrence& o : unit->files[path].names)
                if (o.definition && o.key == def->key && o.line <= place->line + 1 &&
                    (file != path || o.line >= def->line)) {
                    def = &o;
                    file = path;
                }
        }
        std::string text;
        if (!def) {
            text = "`" + place->name->name + "`: undefined";
        } else if (def->kind == qorb::DefinitionKind::Macro) {
            text = "macro `" + def->name + "`, " + std::to_string(def->parameters) +
                   (def->parameters == 1 ? " parameter" : " parameters");
        } else {
            const char* kind = def->kind == qorb::DefinitionKind::Set     ? "set"
                               : def->kind == qorb::DefinitionKind::Equ   ? "equ"
                               : def->kind == qorb::DefinitionKind::Local ? "local label"
                                                                          : "label";
            text = "`" + def->name + "` (" + kind + ") = ";
            if (def->known)
                text += "$" +
                        Hex(static_cast<std::uint32_t>(def->value),
                            def->value >= 0 && def->value <= 0xFFFF ? 4 : 8) +
                        " (" + std::to_string(def->value) + ")";
            else
                text += "unknown";
        }
        if (def) text += "\n\nDefined at " + relative(file) + ":" + std::to_string(def->line);
        if (place->name->nameKind == NameKind::Macro && !place->name->definition) {
            std::string code = expansion(place->line);
            if (!code.empty()) text += "\n\n" + code;
        }
        return {{"contents", {{"kind", "markdown"}, {"value", text}}},
                {"range", RangeOf(path, place->line, place->begin, place->end)}};
    }
    // An instruction or data line: its code as the listing shows it.
    int line = pos.at("line").get<int>();
    auto f = unit->files.find(path);
    if (f == unit->files.end()) return nullptr;
    auto c = f->second.code.find(line + 1);
    if (c == f->second.code.end()) {
        std::string text = expansion(line);
        if (text.empty()) return nullptr;
        return {{"contents", {{"kind", "markdown"}, {"value", text}}}};
    }
    std::string cycles;
    std::string text = "```\n" + listed(c->second, cycles) + "\n```";
    std::string_view source = LinesOf(path).Line(static_cast<std::size_t>(line));
    std::string mode = AddressingMode(path, source, c->second);
    if (!c->second.bytes.empty()) {
        text += "\n\nbytes: ";
        for (std::size_t i = 0; i < c->second.bytes.size() && i < 64; ++i)
            text += (i ? " " : "") + Hex(static_cast<unsigned char>(c->second.bytes[i]), 2);
        if (c->second.bytes.size() > 64) text += " …";
    }
    if (!mode.empty()) text += "\n\naddressing mode: " + mode;
    if (!cycles.empty()) text += "\n\ncycles: " + std::to_string(c->second.cycles) + " " + cycles;
    return {{"contents", {{"kind", "markdown"}, {"value", text}}}};
}

json Server::DocumentSymbols(const json& params) {
    std::string path = NormalPath(PathFromUri(params.at("textDocument").at("uri").get<std::string>()), root_);
    Analysis* unit = UnitOf(path);
    json out = json::array();
    if (!unit) return out;
    auto f = unit->files.find(path);
    std::set<std::pair<std::string, int>> seen;
    if (f != unit->files.end()) {
        for (const Occurrence& o : f->second.names) {
            if (!o.definition || o.kind == qorb::DefinitionKind::Local) continue;
            if (!seen.insert({o.key, o.line}).second) continue;
            int kind = o.kind == qorb::DefinitionKind::Macro   ? 6
                       : o.kind == qorb::DefinitionKind::Set   ? 13
                       : o.kind == qorb::DefinitionKind::Label ? 12
                                                               : 14;
            auto [b, e] = Extent(path, o);
            json range = RangeOf(path, o.line - 1, b, e);
            std::string detail = o.kind == qorb::DefinitionKind::Macro
                                     ? std::to_string(o.parameters) + " parameter(s)"
                                     : (o.known ? "$" + Hex(static_cast<std::uint32_t>(o.value), 4) : "?");
            out.push_back({{"name", o.name},
                           {"detail", detail},
                           {"kind", kind},
                           {"range", range},
                           {"selectionRange", range}});
        }
    }
    // Sections, from the section commands of the text.
    const Lines& l = LinesOf(path);
    const qorb::Target& target = TargetFor(path);
    for (std::size_t i = 0; i < l.Count(); ++i) {
        std::string_view line = l.Line(i);
        if (line.find_first_of("sS") == std::string_view::npos) continue;
        Statement st = ParseStatement(line, target);
        if (st.kind != CommandKind::Directive || st.command != "section") continue;
        // `name section`; a section without a label has no name to list.
        std::size_t b = st.labelBegin, e = st.labelEnd;
        std::string name = std::string(line.substr(b, e - b));
        if (name.empty()) continue;
        json range = RangeOf(path, static_cast<int>(i), b, e);
        out.push_back({{"name", name},
                       {"detail", "section"},
                       {"kind", 3},
                       {"range", range},
                       {"selectionRange", range}});
    }
    return out;
}

json Server::WorkspaceSymbols(const json& params) {
    IndexWorkspace();
    std::string query = LowerAscii(params.value("query", std::string()));
    json out = json::array();
    std::set<std::tuple<std::string, std::string, int>> seen;
    for (const auto& [main, unit] : units_) {
        if (!unit) continue;
        for (const auto& [file, facts] : unit->files)
            for (const Occurrence& o : facts.names) {
                if (!o.definition || o.kind == qorb::DefinitionKind::Local) continue;
                if (!query.empty() && LowerAscii(o.name).find(query) == std::string::npos) continue;
                if (!seen.insert({o.key, file, o.line}).second) continue;
                int kind = o.kind == qorb::DefinitionKind::Macro   ? 6
                           : o.kind == qorb::DefinitionKind::Set   ? 13
                           : o.kind == qorb::DefinitionKind::Label ? 12
                                                                   : 14;
                auto [b, e] = Extent(file, o);
                out.push_back(
                    {{"name", o.name}, {"kind", kind}, {"location", Location(file, o.line - 1, b, e)}});
                if (out.size() >= 1000) return out;
            }
    }
    return out;
}

json Server::Completion(const json& params) {
    std::string path = NormalPath(PathFromUri(params.at("textDocument").at("uri").get<std::string>()), root_);
    Analysis* unit = UnitOf(path);
    const json& pos = params.at("position");
    int line = pos.at("line").get<int>();
    std::string_view text = LinesOf(path).Line(static_cast<std::size_t>(std::max(line, 0)));
    std::size_t at = ByteOffset(text, pos.at("character").get<std::size_t>());
    std::size_t start = at;
    while (start > 0 && (IsSymbolChar(text[start - 1]))) --start;
    std::string prefix = LowerAscii(text.substr(start, at - start));
    bool marked = start > 0 && (text[start - 1] == '#');
    const qorb::Target& target = TargetFor(path);
    json items = json::array();
    bool incomplete = false;
    std::set<std::string> seen;
    auto add = [&](const std::string& label, int kind, const std::string& detail) {
        if (LowerAscii(label).rfind(prefix, 0) != 0) return;
        if (!seen.insert(label + "\x1f" + detail).second) return;
        if (items.size() >= 2000) {
            incomplete = true;
            return;
        }
        items.push_back({{"label", label}, {"kind", kind}, {"detail", detail}});
    };
    if (marked) {
        for (int r = 0; const char* name = qorb::PreprocessorName(r); ++r)
            add(name, 14, "preprocessor command");
        return {{"isIncomplete", false}, {"items", items}};
    }
    std::span<const qorb::OpcodeEntry> table =
        Hc12(path) ? qorb::hc12::OpcodeTable() : qorb::hc11::OpcodeTable();
    (void)target;
    for (const qorb::OpcodeEntry& e : table) add(e.name, 14, "instruction");
    for (int r = 0; const char* name = qorb::DirectiveName(r); ++r) add(name, 14, "directive");
    if (unit) {
        // The local labels of the scope the cursor stands in: the scope of
        // the nearest name before it (a label definition opens the next).
        unsigned scope = 0;
        bool haveScope = false;
        auto f = unit->files.find(path);
        if (f != unit->files.end()) {
            int bestLine = -1;
            for (const Occurrence& o : f->second.names) {
                if (o.line > line + 1 || o.line < bestLine) continue;
                bestLine = o.line;
                scope =
                    o.scope + (o.definition && o.kind == qorb::DefinitionKind::Label && o.name.back() != '`');
                haveScope = true;
            }
        }
        for (const auto& [file, facts] : unit->files)
            for (const Occurrence& o : facts.names) {
                if (!o.definition) continue;
                if (o.kind == qorb::DefinitionKind::Macro)
                    add(o.name, 15,
                        "macro, " + std::to_string(o.parameters) +
                            (o.parameters == 1 ? " parameter" : " parameters"));
                else if (o.kind == qorb::DefinitionKind::Local) {
                    if (haveScope && o.scope == scope && file == path) add(o.name, 6, "local label");
                } else
                    add(o.name, o.kind == qorb::DefinitionKind::Label ? 6 : 21,
                        o.known ? "$" + Hex(static_cast<std::uint32_t>(o.value), 4) : "?");
            }
    }
    return {{"isIncomplete", incomplete}, {"items", items}};
}

json Server::SemanticTokens(const json& params) {
    std::string path = NormalPath(PathFromUri(params.at("textDocument").at("uri").get<std::string>()), root_);
    const Lines& l = LinesOf(path);
    const qorb::Target& target = TargetFor(path);
    const bool hc12 = Hc12(path);
    std::vector<std::uint32_t> data;
    std::size_t lastLine = 0, lastChar = 0;
    for (std::size_t i = 0; i < l.Count(); ++i) {
        std::string_view line = l.Line(i);
        std::vector<ColourToken> tokens = ColourLine(line, target, hc12);
        // UTF-16 columns counted once along the line.
        std::size_t byte = 0, units = 0;
        auto unitsAt = [&](std::size_t to) {
            while (byte < to && byte < line.size()) {
                std::size_t n = Utf8Length(line, byte);
                units += n == 4 ? 2 : 1;
                byte += n;
            }
            return units;
        };
        for (const ColourToken& t : tokens) {
            std::size_t b = unitsAt(t.begin), e = unitsAt(t.end);
            if (e <= b) continue;
            std::size_t deltaLine = i - lastLine;
            std::size_t deltaChar = deltaLine == 0 ? b - lastChar : b;
            data.push_back(static_cast<std::uint32_t>(deltaLine));
            data.push_back(static_cast<std::uint32_t>(deltaChar));
            data.push_back(static_cast<std::uint32_t>(e - b));
            data.push_back(static_cast<std::uint32_t>(t.type));
            data.push_back(0);
            lastLine = i;
            lastChar = b;
        }
    }
    return {{"data", data}};
}

json Server::PrepareRename(const json& params) {
    std::string path = NormalPath(PathFromUri(params.at("textDocument").at("uri").get<std::string>()), root_);
    Analysis* unit = UnitOf(path);
    if (!unit) return nullptr;
    auto place = Find(*unit, path, params.at("position"));
    if (!place || !place->name || !DefinitionOf(*unit, place->name->key, nullptr)) return nullptr;
    std::string_view text = LinesOf(path).Line(static_cast<std::size_t>(place->line));
    return {{"range", RangeOf(path, place->line, place->begin, place->end)},
            {"placeholder", std::string(text.substr(place->begin, place->end - place->begin))}};
}

json Server::Rename(const json& params, const json& id, bool& failed) {
    std::string path = NormalPath(PathFromUri(params.at("textDocument").at("uri").get<std::string>()), root_);
    std::string newName = params.at("newName").get<std::string>();
    Analysis* unit = UnitOf(path);
    auto place = unit ? Find(*unit, path, params.at("position")) : std::nullopt;
    if (!place || !place->name) {
        failed = true;
        ReplyError(id, kRequestFailed, "no symbol here to rename");
        return nullptr;
    }
    if (!ValidName(newName, place->name->nameKind)) {
        failed = true;
        ReplyError(id, kRequestFailed, "'" + newName + "' is not a valid name here");
        return nullptr;
    }
    if (!DefinitionOf(*unit, place->name->key, nullptr)) {
        failed = true;
        ReplyError(id, kRequestFailed, "'" + place->name->name + "' is defined nowhere");
        return nullptr;
    }
    json changes = json::object();
    std::set<std::tuple<std::string, int, std::size_t>> seen;
    for (const auto& [file, facts] : unit->files)
        for (const Occurrence& o : facts.names) {
            if (o.key != place->name->key || !seen.insert({file, o.line, o.column}).second) continue;
            auto [b, e] = Extent(file, o);
            std::string uri = docs_.count(file) ? docs_[file].uri : UriFromPath(file);
            changes[uri].push_back({{"range", RangeOf(file, o.line - 1, b, e)}, {"newText", newName}});
        }
    return {{"changes", changes}};
}

} // namespace qorbls
