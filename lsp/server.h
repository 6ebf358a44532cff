#pragma once

// The language server: JSON-RPC over a pair of file descriptors, the
// documents the editor has open, and one assembly per main source.

#include <chrono>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <string>

#include "analysis.h"
#include "config.h"
#include "text.h"

namespace qorbls {

using json = nlohmann::json;

class Server {
public:
    Server(int in, int out);
    ~Server();
    // Serves until `exit` or the end of the input; the process's exit status.
    int Run();

private:
    using Clock = std::chrono::steady_clock;
    struct Document {
        std::string uri;
        Lines lines;
        long long version = 0;
    };
    struct Place {
        std::string file;
        const Occurrence* name = nullptr;
        const IncludeUse* include = nullptr;
        std::size_t begin = 0, end = 0; // bytes in the line
        int line = 0;                   // 0-based
    };

    // ---- transport -------------------------------------------------------
    // A complete message from the input buffer; false when none is there yet.
    bool TakeMessage(std::string& body);
    void Send(const json& message);
    void Reply(const json& id, json result);
    void ReplyError(const json& id, int code, const std::string& text);
    void Notify(const std::string& method, json params);
    void Dispatch(const std::string& body);
    void Handle(const std::string& method, const json& params, const json* id);

    // ---- documents and assemblies -----------------------------------------
    void Initialize(const json& params, const json& id);
    void Schedule(const std::string& path);
    void RunDue(bool all);
    void Flush(const std::string& path);
    std::string UnitFor(const std::string& path);
    Analysis* Analyze(const std::string& main);
    Analysis* UnitOf(const std::string& path);
    void Publish(const Analysis& unit);
    bool TextOf(const std::string& path, std::string& text) const;
    const Lines& LinesOf(const std::string& path);
    const qorb::Target& TargetFor(const std::string& path) const;
    bool Hc12(const std::string& path) const;
    void IndexWorkspace();

    // ---- features --------------------------------------------------------
    std::optional<Place> Find(Analysis& unit, const std::string& path, const json& position);
    json Location(const std::string& file, int line, std::size_t begin, std::size_t end);
    json RangeOf(const std::string& file, int line, std::size_t begin, std::size_t end);
    std::pair<std::size_t, std::size_t> Extent(const std::string& file, const Occurrence& o);
    std::pair<std::size_t, std::size_t> Extent(const std::string& file, const IncludeUse& u);
    const Occurrence* DefinitionOf(const Analysis& unit, const std::string& key, std::string* file);
    json Diagnostics(const Analysis& unit, const std::string& file, const FileFacts& facts);
    json Definition(const json& params);
    json References(const json& params);
    json Hover(const json& params);
    json DocumentSymbols(const json& params);
    json WorkspaceSymbols(const json& params);
    json Completion(const json& params);
    json SemanticTokens(const json& params);
    json PrepareRename(const json& params);
    json Rename(const json& params, const json& id, bool& failed);
    std::string AddressingMode(const std::string& path, std::string_view line, const LineCode& code);

    int in_, out_;
    std::string inbuf_;
    bool eof_ = false;
    bool initialized_ = false;
    bool shutdown_ = false;
    std::optional<int> exitStatus_;

    std::string root_;
    Config config_;
    std::string scratch_; // private directory for the object files nobody reads
    std::map<std::string, Document> docs_;
    std::map<std::string, std::unique_ptr<Analysis>> units_;
    std::map<std::string, Clock::time_point> pending_;
    std::map<std::string, std::set<std::string>> published_; // unit -> files given diagnostics
    std::map<std::string, Lines> diskLines_;                 // read for one request
};

} // namespace qorbls
