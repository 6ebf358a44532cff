#include "report_upload.h"

#include "texts.h"

#include <curl/curl.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <mutex>
#include <optional>
#include <sstream>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ulmarro::upload {
namespace {

std::string Format1(const char* pattern, const std::string& a) {
    std::string text = pattern;
    std::size_t at = text.find("%s");
    if (at != std::string::npos) text.replace(at, 2, a);
    return text;
}

std::string Hex8(std::uint64_t v, bool upper) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, upper ? "%08llX" : "%08llx", static_cast<unsigned long long>(v));
    return buffer;
}

std::string ToLower(std::string s) {
    for (char& c : s) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return s;
}

std::uint32_t SystemTick() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000);
}

void GlobalInit() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

} // namespace

double UploadSeconds(const Deadlines& d, std::uint64_t cabinetSize) {
    const double rate = d.uploadBytesPerSecond > 0 ? d.uploadBytesPerSecond : 8192;
    return std::min(d.uploadSeconds + static_cast<double>(cabinetSize) / rate, d.uploadMaxSeconds);
}

std::string DurationText(double seconds) {
    char buffer[48];
    std::snprintf(buffer, sizeof buffer, "%.1f", seconds);
    std::string text = buffer;
    if (text.size() > 2 && text.compare(text.size() - 2, 2, ".0") == 0) text.resize(text.size() - 2);
    return text + (text == "1" ? " second" : " seconds");
}

bool IsWebLink(const std::string& address) {
    const std::size_t colon = address.find("://");
    if (colon == std::string::npos) return false;
    const std::string scheme = ToLower(address.substr(0, colon));
    if (scheme != "http" && scheme != "https") return false;
    for (unsigned char c : address)
        if (c <= ' ' || c == 0x7F) return false;
    // "http:///x" names no host (curl would take the path for one).
    const std::string authority =
        address.substr(colon + 3, address.find_first_of("/?#", colon + 3) - colon - 3);
    const std::size_t at = authority.rfind('@');
    const std::string hostPort = at == std::string::npos ? authority : authority.substr(at + 1);
    if (hostPort.empty() || hostPort[0] == ':') return false;
    GlobalInit();
    CURLU* u = curl_url();
    if (!u) return false;
    bool ok = false;
    if (curl_url_set(u, CURLUPART_URL, address.c_str(), 0) == CURLUE_OK) {
        char* host = nullptr;
        ok = curl_url_get(u, CURLUPART_HOST, &host, 0) == CURLUE_OK && host && *host;
        curl_free(host);
    }
    curl_url_cleanup(u);
    return ok;
}

// ---------------------------------------------------------------------------
// Address, fields, encodings

std::optional<ReportUrl> ParseReportUrl(const std::string& text) {
    GlobalInit();
    // The scheme must be written out; curl would otherwise guess one.
    const std::size_t colon = text.find("://");
    if (colon == std::string::npos) return std::nullopt;
    const std::string scheme = ToLower(text.substr(0, colon));
    if (scheme != "http" && scheme != "https") return std::nullopt;
    // The path is what follows the host and port; "http://host" has none.
    const std::size_t authorityEnd = text.find_first_of("/?#", colon + 3);
    if (authorityEnd == std::string::npos || text[authorityEnd] != '/') return std::nullopt;
    // "http:///path" names no host (curl would take the path for one).
    const std::string authority = text.substr(colon + 3, authorityEnd - colon - 3);
    const std::size_t at = authority.rfind('@');
    const std::string hostPort = at == std::string::npos ? authority : authority.substr(at + 1);
    if (hostPort.empty() || hostPort[0] == ':') return std::nullopt;

    CURLU* u = curl_url();
    if (!u) return std::nullopt;
    std::optional<ReportUrl> result;
    if (curl_url_set(u, CURLUPART_URL, text.c_str(), 0) == CURLUE_OK) {
        auto part = [&](CURLUPart which, unsigned flags) {
            char* value = nullptr;
            std::string out;
            if (curl_url_get(u, which, &value, flags) == CURLUE_OK && value) out = value;
            curl_free(value);
            return out;
        };
        ReportUrl url;
        url.url = text;
        url.scheme = scheme;
        url.host = part(CURLUPART_HOST, 0);
        url.path = part(CURLUPART_PATH, CURLU_URLDECODE);
        url.user = part(CURLUPART_USER, CURLU_URLDECODE);
        url.password = part(CURLUPART_PASSWORD, CURLU_URLDECODE);
        url.port = std::atoi(part(CURLUPART_PORT, CURLU_DEFAULT_PORT).c_str());
        if (!url.host.empty() && !url.path.empty()) result = std::move(url);
    }
    curl_url_cleanup(u);
    return result;
}

std::vector<std::pair<std::string, std::string>> FormFields(const ReportFields& f, const char* action) {
    return {{"Action", action},
            {"ProductName", f.productName},
            {"ApplicationName", f.applicationName},
            {"ApplicationVersion", f.applicationVersion},
            {"ModuleName", f.moduleName},
            {"ModuleVersion", f.moduleVersion},
            {"Offset", Hex8(f.offset, true)}};
}

std::string FormEncode(const std::string& text) {
    static const char hex[] = "0123456789abcdef";
    auto keep = [](unsigned char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '!' ||
               c == '\'' || c == '(' || c == ')' || c == '*' || c == '-' || c == '.' || c == '/' ||
               c == ':' || c == '_' || c == '~';
    };
    std::string out;
    for (unsigned char c : text) {
        if (keep(c)) {
            out += static_cast<char>(c);
        } else if (c == ' ') {
            out += '+';
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 0xF];
        }
    }
    return out;
}

std::string StatusRequestBody(const ReportFields& fields) {
    std::string body;
    for (const auto& [name, value] : FormFields(fields, "QueryStatus")) {
        if (!body.empty()) body += '&';
        body += FormEncode(name) + '=' + FormEncode(value);
    }
    return body;
}

std::string MakeBoundary(std::uint32_t tick) {
    return std::string(16, '-') + Hex8(tick, false) + Hex8(0xE18D749C, false);
}

MultipartBody MakeMultipartBody(const ReportFields& fields, const std::string& boundary,
                                const std::string& cabinetPath, std::uint64_t cabinetSize) {
    MultipartBody body;
    body.boundary = boundary;
    for (const auto& [name, value] : FormFields(fields, "Submit"))
        body.head += "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" +
                     value + "\r\n";
    // The file's name only: where the client keeps its temporary files
    // (often the user's home) is none of the server's business.
    const std::size_t slash = cabinetPath.find_last_of('/');
    const std::string fileName = slash == std::string::npos ? cabinetPath : cabinetPath.substr(slash + 1);
    body.head += "--" + boundary + "\r\nContent-Disposition: form-data; name=\"Cabinet\"; filename=\"" +
                 fileName + "\"\r\nContent-Type: application/octet-stream\r\n\r\n";
    body.fileSize = cabinetSize;
    body.tail = "\r\n--" + boundary + "--\r\n";
    return body;
}

std::uint64_t ChunkSize(std::uint64_t total) { return std::max<std::uint64_t>(total / 256, 4096); }

ServerAnswer ParseAnswer(const std::string& body) {
    ServerAnswer a;
    if (body == "OK")
        a.kind = ServerAnswer::Ok;
    else if (body == "CANCEL")
        a.kind = ServerAnswer::Cancel;
    else if (body.rfind("URL=", 0) == 0)
        a = {ServerAnswer::Url, body.substr(4)};
    else if (body.rfind("ERROR=", 0) == 0)
        a = {ServerAnswer::Error, body.substr(6)};
    return a;
}

Connection CheckConnection(const std::string& host, const std::string& routeFile,
                           const std::string& route6File) {
    const std::string h = ToLower(host);
    if (h == "localhost" || h.rfind("127.", 0) == 0 || h == "::1" || h == "[::1]")
        return Connection::Connected;
    bool readable = false;
    std::ifstream v4(routeFile);
    if (v4) {
        readable = true;
        std::string line;
        std::getline(v4, line); // column titles
        while (std::getline(v4, line)) {
            std::istringstream in(line);
            std::string iface, destination;
            if (in >> iface >> destination && iface != "lo" && destination == "00000000")
                return Connection::Connected;
        }
    }
    std::ifstream v6(route6File);
    if (v6) {
        readable = true;
        std::string line;
        while (std::getline(v6, line)) {
            std::istringstream in(line);
            std::string destination, length, skip, iface;
            if (!(in >> destination >> length)) continue;
            for (int i = 0; i < 7 && in >> skip; ++i) {
            }
            if (!(in >> iface)) continue;
            if (iface != "lo" && length == "00" && destination == std::string(32, '0'))
                return Connection::Connected;
        }
    }
    return readable ? Connection::NotConnected : Connection::Unknown;
}

const char* StepText(Step step) {
    switch (step) {
    case Step::Contacting: return text::kContacting;
    case Step::Checking: return text::kChecking;
    case Step::Preparing: return text::kPreparing;
    case Step::Uploading: return text::kUploading;
    }
    return "";
}

bool ReplyGoesOn(const ReportUploader::Reply& reply, const char* failurePattern, Outcome* outcome) {
    auto fail = [&](const std::string& why) {
        *outcome = {Outcome::Failed, Format1(failurePattern, why), {}, {}};
        return false;
    };
    if (!reply.ok) return fail(reply.error);
    // The status line counts even when the body was cut.
    if (reply.status >= 400) {
        char line[64];
        std::snprintf(line, sizeof line, "HTTP %u - ", static_cast<unsigned>(reply.status));
        return fail(line + reply.statusText);
    }
    if (reply.oversized) return fail(text::kInvalidResponse);
    ServerAnswer answer = ParseAnswer(reply.body);
    switch (answer.kind) {
    case ServerAnswer::Ok: return true;
    case ServerAnswer::Cancel: *outcome = {Outcome::Done, {}, {}, {}}; return false;
    case ServerAnswer::Url: *outcome = {Outcome::Done, {}, answer.text, {}}; return false;
    case ServerAnswer::Error: return fail(Format1(text::kServerError, answer.text));
    case ServerAnswer::Invalid: break;
    }
    return fail(text::kInvalidResponse);
}

// ---------------------------------------------------------------------------
// The HTTP exchange

// What a request may take.
struct RequestLimits {
    std::chrono::steady_clock::time_point deadline;
    std::string deadlineText; // the failure text when the deadline passes
    double stallSeconds = 30;
};

struct ReportUploader::Http {
    CURL* easy = nullptr;
    // The transfers run in a loop of our own (see Perform), so that a
    // deadline, a stall and Cancel are noticed within a tenth of a second
    // whatever the server does. The multi handle also keeps the connection
    // between the requests of one report.
    CURLM* multi = nullptr;
    char error[CURL_ERROR_SIZE] = {};
    Reply* reply = nullptr;
    const std::atomic<bool>* stop = nullptr;

    // The upload body being streamed.
    const MultipartBody* body = nullptr;
    int file = -1;
    std::uint64_t position = 0;
    std::uint64_t chunk = 0;
    bool fileFailed = false;
    const std::function<void(std::uint64_t, std::uint64_t)>* progress = nullptr;
    // Bytes of the answer seen, headers included (for the stall watch).
    std::uint64_t received = 0;

    Http() {
        GlobalInit();
        easy = curl_easy_init();
        multi = curl_multi_init();
    }
    ~Http() {
        if (easy) curl_easy_cleanup(easy);
        if (multi) curl_multi_cleanup(multi);
    }

    static std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* self) {
        auto* h = static_cast<Http*>(self);
        const std::size_t n = size * count;
        h->received += n;
        std::string line(data, n);
        if (line.rfind("HTTP/", 0) == 0) {
            // "HTTP/1.1 404 Not Found": the last status line wins (after a 100 Continue).
            while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
            std::size_t first = line.find(' ');
            std::size_t second = first == std::string::npos ? first : line.find(' ', first + 1);
            h->reply->statusText = second == std::string::npos ? std::string() : line.substr(second + 1);
            h->reply->body.clear();
            h->reply->oversized = false;
        }
        return n;
    }

    static std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* self) {
        auto* h = static_cast<Http*>(self);
        const std::size_t n = size * count;
        h->received += n;
        std::string& body = h->reply->body;
        if (body.size() + n > kMaxAnswer) {
            // No answer the client knows is this long: keep what fits and
            // end the transfer here rather than read whatever follows.
            h->reply->oversized = true;
            body.append(data, kMaxAnswer - std::min(kMaxAnswer, body.size()));
            return 0;
        }
        body.append(data, n);
        return n;
    }

    // The body as one sequence: head, the cabinet's bytes, tail.
    static std::size_t OnRead(char* buffer, std::size_t size, std::size_t count, void* self) {
        auto* h = static_cast<Http*>(self);
        if (h->stop && h->stop->load()) return CURL_READFUNC_ABORT;
        const MultipartBody& b = *h->body;
        const std::uint64_t total = b.total();
        std::uint64_t want =
            std::min<std::uint64_t>({size * count, h->chunk, total - std::min(total, h->position)});
        std::size_t done = 0;
        while (done < want) {
            const std::uint64_t p = h->position + done;
            const std::uint64_t headEnd = b.head.size(), fileEnd = headEnd + b.fileSize;
            if (p < headEnd) {
                std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(want - done, headEnd - p));
                std::memcpy(buffer + done, b.head.data() + p, n);
                done += n;
            } else if (p < fileEnd) {
                std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(want - done, fileEnd - p));
                ssize_t got = pread(h->file, buffer + done, n, static_cast<off_t>(p - headEnd));
                if (got < 0 && errno == EINTR) continue;
                if (got <= 0) {
                    // The cabinet shrank or cannot be read: the length we
                    // announced cannot be kept, so the request is abandoned.
                    h->fileFailed = true;
                    return CURL_READFUNC_ABORT;
                }
                done += static_cast<std::size_t>(got);
            } else {
                std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(want - done, total - p));
                std::memcpy(buffer + done, b.tail.data() + (p - fileEnd), n);
                done += n;
            }
        }
        h->position += done;
        if (done > 0 && h->progress && *h->progress) (*h->progress)(h->position, total);
        return done;
    }

    // A redirect or an authentication round may need the body again.
    static int OnSeek(void* self, curl_off_t offset, int origin) {
        auto* h = static_cast<Http*>(self);
        if (origin != SEEK_SET || offset < 0 || static_cast<std::uint64_t>(offset) > h->body->total())
            return CURL_SEEKFUNC_CANTSEEK;
        h->position = static_cast<std::uint64_t>(offset);
        return CURL_SEEKFUNC_OK;
    }

    void Prepare(const ReportUrl& url, const UploadOptions& options, Reply* r,
                 const std::atomic<bool>& stopFlag) {
        // Reset keeps the open connection: the requests share it when the server allows.
        curl_easy_reset(easy);
        reply = r;
        stop = &stopFlag;
        error[0] = 0;
        received = 0;
        curl_easy_setopt(easy, CURLOPT_URL, url.url.c_str());
        curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
        // Ending a request while a name is still being looked up must not
        // wait for the lookup.
        curl_easy_setopt(easy, CURLOPT_QUICK_EXIT, 1L);
        curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, error);
        curl_easy_setopt(easy, CURLOPT_USERAGENT,
                         options.userAgent.empty() ? "KORVELL Error Reporting (ulmarro)"
                                                   : options.userAgent.c_str());
        if (!options.caFile.empty()) curl_easy_setopt(easy, CURLOPT_CAINFO, options.caFile.c_str());
        curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
        curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
        curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Http::OnHeader);
        curl_easy_setopt(easy, CURLOPT_HEADERDATA, this);
        curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Http::OnBody);
        curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);
        curl_easy_setopt(easy, CURLOPT_POST, 1L);
    }

    // Bytes that went either way so far.
    std::uint64_t Moved() {
        curl_off_t sent = 0;
        curl_easy_getinfo(easy, CURLINFO_SIZE_UPLOAD_T, &sent);
        return received + static_cast<std::uint64_t>(std::max<curl_off_t>(sent, 0));
    }

    void Perform(curl_slist* headers, const RequestLimits& limits) {
        using Clock = std::chrono::steady_clock;
        curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
        enum { Running, Finished, Stopped, TimedOut, Stalled, Broken } end = Running;
        CURLcode rc = CURLE_OK;
        std::string multiError;
        if (CURLMcode mc = curl_multi_add_handle(multi, easy); mc != CURLM_OK) {
            end = Broken;
            multiError = curl_multi_strerror(mc);
        }
        const auto stall = std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double>(std::max(limits.stallSeconds, 0.001)));
        std::uint64_t moved = 0;
        Clock::time_point lastMove = Clock::now();
        while (end == Running) {
            int running = 0;
            if (CURLMcode mc = curl_multi_perform(multi, &running); mc != CURLM_OK) {
                end = Broken;
                multiError = curl_multi_strerror(mc);
                break;
            }
            if (running == 0) {
                int left = 0;
                while (CURLMsg* m = curl_multi_info_read(multi, &left))
                    if (m->msg == CURLMSG_DONE && m->easy_handle == easy) rc = m->data.result;
                end = Finished;
                break;
            }
            const Clock::time_point now = Clock::now();
            if (stop && stop->load()) {
                end = Stopped;
                break;
            }
            if (now >= limits.deadline) {
                end = TimedOut;
                break;
            }
            if (std::uint64_t m = Moved(); m != moved) {
                moved = m;
                lastMove = now;
            } else if (now - lastMove >= stall) {
                end = Stalled;
                break;
            }
            const auto next =
                std::min({limits.deadline, lastMove + stall, now + std::chrono::milliseconds(100)});
            const int wait = static_cast<int>(std::clamp<long long>(
                std::chrono::duration_cast<std::chrono::milliseconds>(next - now).count() + 1, 1, 100));
            curl_multi_poll(multi, nullptr, 0, wait, nullptr);
        }
        curl_multi_remove_handle(multi, easy);
        curl_easy_setopt(easy, CURLOPT_HTTPHEADER, nullptr);

        long status = 0;
        curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
        reply->status = status;
        if (end == Finished && (rc == CURLE_OK || (rc == CURLE_WRITE_ERROR && reply->oversized))) {
            reply->ok = true;
            return;
        }
        reply->ok = false;
        reply->cancelled = end == Stopped || (stop && stop->load() && !fileFailed && end == Finished &&
                                              (rc == CURLE_ABORTED_BY_CALLBACK || rc == CURLE_READ_ERROR));
        reply->retryable =
            end == Finished && (rc == CURLE_SEND_ERROR || rc == CURLE_RECV_ERROR || rc == CURLE_GOT_NOTHING);
        if (end == TimedOut)
            reply->error = limits.deadlineText;
        else if (end == Stalled)
            reply->error = Format1(kStalled, DurationText(limits.stallSeconds));
        else if (end == Broken)
            reply->error = multiError;
        else if (fileFailed)
            reply->error = std::strerror(EIO);
        else if (error[0])
            reply->error = error;
        else
            reply->error = curl_easy_strerror(rc);
    }
};

namespace {

struct Headers {
    curl_slist* list = nullptr;
    explicit Headers(std::initializer_list<std::string> lines) {
        for (const auto& l : lines) list = curl_slist_append(list, l.c_str());
    }
    ~Headers() { curl_slist_free_all(list); }
};

// The earlier of a request's own limit and the caller's.
RequestLimits Limits(double seconds, const char* ownText,
                     std::optional<std::chrono::steady_clock::time_point> outer, const std::string& outerText,
                     double stallSeconds) {
    RequestLimits limits;
    const auto now = std::chrono::steady_clock::now();
    limits.deadline = now + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                std::chrono::duration<double>(std::max(seconds, 0.0)));
    limits.deadlineText = Format1(ownText, DurationText(seconds));
    if (outer && *outer < limits.deadline) {
        limits.deadline = *outer;
        limits.deadlineText = outerText;
    }
    limits.stallSeconds = stallSeconds;
    return limits;
}

} // namespace

ReportUploader::ReportUploader(ReportUrl url, ReportFields fields, UploadOptions options)
    : url_(std::move(url)), fields_(std::move(fields)), options_(std::move(options)),
      http_(std::make_unique<Http>()), tick_(options_.tick ? *options_.tick : SystemTick()) {}

ReportUploader::~ReportUploader() = default;

ReportUploader::Reply ReportUploader::QueryStatus(const std::atomic<bool>& stop,
                                                  std::optional<Clock::time_point> deadline,
                                                  const std::string& deadlineText) {
    Reply r;
    if (!http_->easy || !http_->multi) {
        r.error = curl_easy_strerror(CURLE_FAILED_INIT);
        return r;
    }
    const Deadlines& d = options_.deadlines;
    // One limit for all attempts together.
    const RequestLimits limits =
        Limits(d.statusSeconds, kStatusTimedOut, deadline, deadlineText, d.stallSeconds);
    const std::string body = StatusRequestBody(fields_);
    // "Expect:" keeps curl from waiting for a 100 Continue that old servers never send.
    Headers headers{"Content-Type: application/x-www-form-urlencoded", "Accept: text/*", "Expect:"};
    for (int attempt = 0; attempt < 3; ++attempt) {
        r = Reply{};
        ++statusAttempts_;
        http_->Prepare(url_, options_, &r, stop);
        curl_easy_setopt(http_->easy, CURLOPT_POSTFIELDS, body.c_str());
        curl_easy_setopt(http_->easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
        // A retry gets a new connection; curl would otherwise resend on its
        // own over a reused one, and the attempts would no longer be counted.
        if (attempt > 0) curl_easy_setopt(http_->easy, CURLOPT_FRESH_CONNECT, 1L);
        http_->Perform(headers.list, limits);
        if (r.ok || r.cancelled || !r.retryable) break;
    }
    return r;
}

ReportUploader::Reply
ReportUploader::SendCabinet(const std::string& cabinetPath,
                            const std::function<void(std::uint64_t, std::uint64_t)>& progress,
                            const std::atomic<bool>& stop, std::optional<Clock::time_point> deadline,
                            const std::string& deadlineText) {
    Reply r;
    if (!http_->easy || !http_->multi) {
        r.error = curl_easy_strerror(CURLE_FAILED_INIT);
        return r;
    }
    int fd = open(cabinetPath.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        r.error = std::strerror(fd < 0 ? errno : EINVAL);
        if (fd >= 0) close(fd);
        return r;
    }
    struct Closer {
        int fd;
        ~Closer() { close(fd); }
    } closer{fd};

    // One limit for both requests and every attempt, growing with the
    // cabinet so that a slow but honest line still gets it through.
    const Deadlines& d = options_.deadlines;
    const RequestLimits limits = Limits(UploadSeconds(d, static_cast<std::uint64_t>(st.st_size)),
                                        kUploadTimedOut, deadline, deadlineText, d.stallSeconds);

    // First the request without a body; its answer is read and dropped.
    {
        Headers headers{"Content-Type:", "Accept: text/*", "Expect:"};
        http_->Prepare(url_, options_, &r, stop);
        curl_easy_setopt(http_->easy, CURLOPT_POSTFIELDS, "");
        curl_easy_setopt(http_->easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(0));
        http_->Perform(headers.list, limits);
        if (!r.ok) return r;
    }

    const MultipartBody body =
        MakeMultipartBody(fields_, MakeBoundary(tick_), cabinetPath, static_cast<std::uint64_t>(st.st_size));
    const std::uint64_t chunk = ChunkSize(body.total());
    Headers headers{"Content-Type: multipart/form-data; boundary=" + body.boundary, "Accept: text/*",
                    "Expect:", "Cache-Control: no-store"};
    for (int attempt = 0; attempt < 3; ++attempt) {
        r = Reply{};
        ++uploadAttempts_;
        http_->Prepare(url_, options_, &r, stop);
        http_->body = &body;
        http_->file = fd;
        http_->position = 0;
        http_->chunk = chunk;
        http_->fileFailed = false;
        http_->progress = &progress;
        curl_easy_setopt(http_->easy, CURLOPT_READFUNCTION, &Http::OnRead);
        curl_easy_setopt(http_->easy, CURLOPT_READDATA, http_.get());
        curl_easy_setopt(http_->easy, CURLOPT_SEEKFUNCTION, &Http::OnSeek);
        curl_easy_setopt(http_->easy, CURLOPT_SEEKDATA, http_.get());
        curl_easy_setopt(http_->easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.total()));
        // Each attempt on a connection of its own: on a reused one curl
        // resends by itself when the server has closed it, and the body
        // would go out more often than the attempts allow.
        curl_easy_setopt(http_->easy, CURLOPT_FRESH_CONNECT, 1L);
        // curl asks for as much as its buffer holds; let it hold a whole chunk.
        curl_easy_setopt(http_->easy, CURLOPT_UPLOAD_BUFFERSIZE,
                         static_cast<long>(std::clamp<std::uint64_t>(chunk, 16384, 2 * 1024 * 1024)));
        http_->Perform(headers.list, limits);
        http_->body = nullptr;
        http_->progress = nullptr;
        if (r.ok || r.cancelled || !r.retryable) break;
    }
    return r;
}

Outcome ReportUploader::Run(const UploadCallbacks& callbacks, const std::atomic<bool>& stop,
                            double totalSeconds) {
    auto step = [&](Step s) {
        if (callbacks.step) callbacks.step(s);
    };
    auto progress = [&](std::uint64_t done, std::uint64_t total) {
        if (callbacks.progress) callbacks.progress(done, total);
    };
    std::optional<Clock::time_point> end;
    std::string endText;
    if (totalSeconds > 0) {
        end = Clock::now() +
              std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(totalSeconds));
        endText = Format1(kStoppedAfter, DurationText(totalSeconds));
    }
    Outcome outcome;
    step(Step::Checking);
    Reply status = QueryStatus(stop, end, endText);
    if (status.cancelled || stop.load()) return {Outcome::Cancelled, {}, {}, {}};
    if (!ReplyGoesOn(status, text::kStatusFailed, &outcome)) return outcome;

    step(Step::Preparing);
    progress(0, 1);
    std::string cabinet, error;
    if (!callbacks.buildCabinet)
        return {Outcome::Failed, Format1(text::kPrepareFailed, text::kFunctionUnavailable), {}, {}};
    bool built;
    bool expired = false;
    if (end) {
        // The builder knows only a stop flag: a watch raises it when the
        // user stops or the time is up.
        std::atomic<bool> halt{false}, building{true};
        std::thread watch([&] {
            while (building.load()) {
                if (stop.load()) halt = true;
                if (Clock::now() >= *end) {
                    expired = true;
                    halt = true;
                    return;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        });
        built = callbacks.buildCabinet(progress, halt, &cabinet, &error);
        building = false;
        watch.join();
    } else {
        built = callbacks.buildCabinet(progress, stop, &cabinet, &error);
    }
    if (stop.load()) return {Outcome::Cancelled, {}, {}, cabinet};
    if (expired) return {Outcome::Failed, Format1(text::kPrepareFailed, endText), {}, built ? cabinet : ""};
    if (!built) return {Outcome::Failed, Format1(text::kPrepareFailed, error), {}, {}};

    step(Step::Uploading);
    progress(0, 1);
    Reply sent = SendCabinet(cabinet, progress, stop, end, endText);
    if (sent.cancelled) return {Outcome::Cancelled, {}, {}, cabinet};
    if (!ReplyGoesOn(sent, text::kUploadFailed, &outcome)) {
        outcome.cabinet = cabinet;
        return outcome;
    }
    return {Outcome::Done, {}, {}, cabinet};
}

std::string FinalStatusText(const Outcome& outcome) {
    switch (outcome.kind) {
    case Outcome::Done: return outcome.link.empty() ? text::kThanks : text::kThanksWithLink;
    case Outcome::Failed: return outcome.message;
    case Outcome::Cancelled: return text::kTerminating;
    }
    return {};
}

Outcome UploadUnattended(const ReportUrl& url, const ReportFields& fields, const CabinetBuilder& buildCabinet,
                         const std::function<void(const std::string&)>& say, const UploadOptions& options) {
    say(text::kContacting);
    // Nobody can be asked to connect: note it and try all the same.
    if (CheckConnection(url.host) == Connection::NotConnected) say(kConnectionText);
    ReportUploader uploader(url, fields, options);
    UploadCallbacks callbacks;
    callbacks.step = [&](Step s) { say(StepText(s)); };
    callbacks.buildCabinet = buildCabinet;
    std::atomic<bool> stop{false};
    // Nobody is there to press Cancel: the client ends on its own in time.
    Outcome outcome = uploader.Run(callbacks, stop, options.deadlines.unattendedSeconds);
    say(FinalStatusText(outcome));
    if (!outcome.link.empty()) say(std::string(kMoreInformationLink) + " " + outcome.link);
    return outcome;
}

} // namespace ulmarro::upload
