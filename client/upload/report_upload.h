#pragma once

// Sending a report to the report server over HTTP or HTTPS: first a status
// request ("does the server want this crash?"), then the report cabinet as a
// multipart form post. The body is built here byte for byte (field order,
// boundary, exact length) and streamed in chunks so the caller sees progress
// and can cancel. Plain C++ and libcurl; the progress dialog lives beside it.

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace ulmarro::upload {

// The texts of the upload that the client's string table does not hold.
inline constexpr const char* kConnectionCaption = "Internet Connection Required"; // dialog 206
inline constexpr const char* kConnectionText =
    "In order to report this problem, you must have an active connection to the Internet.\n"
    "Please connect to the Internet and try again.";
inline constexpr const char* kMoreInformationLink = "Click here to get more information."; // control 1002

// The server address, accepted only for HTTP and HTTPS with a host and a path.
struct ReportUrl {
    std::string url; // as configured; user name and password travel inside it
    std::string scheme;
    std::string host;
    std::string path;
    std::string user;
    std::string password;
    int port = 0;
};
std::optional<ReportUrl> ParseReportUrl(const std::string& text);

// What the server is told about the crash.
struct ReportFields {
    std::string productName;
    std::string applicationName;    // file name of the crashed executable, lower case
    std::string applicationVersion; // "a.b.c.d"
    std::string moduleName;         // faulting module, lower case, or "unknown"
    std::string moduleVersion;
    std::uint64_t offset = 0;
};

// The form fields in the order the server expects them.
std::vector<std::pair<std::string, std::string>> FormFields(const ReportFields& fields, const char* action);

// Form encoding: letters, digits and !'()*-./:_~ stay, a blank becomes "+",
// every other byte "%xx" in lower case.
std::string FormEncode(const std::string& text);
std::string StatusRequestBody(const ReportFields& fields);

// "----------------" + 8 lower-case hex digits of the tick + "e18d749c".
std::string MakeBoundary(std::uint32_t tick);

// The upload body: `head` (the fields and the file part's header), the
// cabinet's bytes, then `tail`. total() is the exact Content-Length.
struct MultipartBody {
    std::string boundary;
    std::string head;
    std::uint64_t fileSize = 0;
    std::string tail;
    std::uint64_t total() const { return head.size() + fileSize + tail.size(); }
};
MultipartBody MakeMultipartBody(const ReportFields& fields, const std::string& boundary,
                                const std::string& cabinetPath, std::uint64_t cabinetSize);

// The body goes out in pieces of total/256 bytes, at least 4096.
std::uint64_t ChunkSize(std::uint64_t total);

// How the server answered a request.
struct ServerAnswer {
    enum Kind { Ok, Cancel, Url, Error, Invalid } kind = Invalid;
    std::string text; // the address after "URL=", the message after "ERROR="
};
ServerAnswer ParseAnswer(const std::string& body);

// Whether this machine can reach the server: Unknown when it cannot tell
// (then the upload simply tries).
enum class Connection { Connected, NotConnected, Unknown };
// A loopback host is always reachable; otherwise a machine without any
// default route (IPv4 or IPv6) is not connected.
Connection CheckConnection(const std::string& host, const std::string& routeFile = "/proc/net/route",
                           const std::string& route6File = "/proc/net/ipv6_route");

// How long the client waits for a server. The crashed program waits for the
// client, so no server may keep it waiting longer than these. Each is a
// setting of the client (group [Deadlines]).
struct Deadlines {
    double statusSeconds = 60;          // the status request, retries included
    double uploadSeconds = 60;          // the upload (both requests, retries included): this much
    double uploadBytesPerSecond = 8192; // plus the cabinet's size at this rate,
    double uploadMaxSeconds = 480;      // but never more than this
    double stallSeconds = 30;           // a request that sends and receives nothing this long fails
    double unattendedSeconds = 600;     // the whole unattended sequence, the cabinet included
};
// The upload's limit for a cabinet of `cabinetSize` bytes.
double UploadSeconds(const Deadlines& deadlines, std::uint64_t cabinetSize);
// "1 second", "1.5 seconds", "72.2 seconds": a limit as the failure texts show it.
std::string DurationText(double seconds);

// Failure texts of the deadlines (inside "Failed to ...: %s").
inline constexpr const char* kStatusTimedOut = "The server did not answer within %s.";
inline constexpr const char* kUploadTimedOut = "The upload did not end within %s.";
inline constexpr const char* kStalled = "Nothing was sent or received for %s.";
inline constexpr const char* kStoppedAfter = "Error Reporting stopped after %s.";

// Answers longer than this are none the client understands: the transfer is
// cut there and the answer taken as invalid.
inline constexpr std::size_t kMaxAnswer = 64 * 1024;

struct UploadOptions {
    std::string caFile;    // extra trusted certificates (tests); verification is always on
    std::string userAgent; // empty: the client's own
    Deadlines deadlines;
    // Tick count for the multipart boundary; taken when the uploader is made when not set.
    std::optional<std::uint32_t> tick;
};

// One step of the sequence, for the status line.
enum class Step { Contacting, Checking, Preparing, Uploading };

// How the sequence ended.
struct Outcome {
    enum Kind { Done, Failed, Cancelled } kind = Failed;
    std::string message; // Failed: the whole status text ("Failed to ...: ...")
    std::string link;    // Done: the address the server sent with "URL=", if any
    std::string cabinet; // the cabinet built on the way, if any (to be saved after a failure)
};

// Whether a server's "URL=" address may be opened: http or https with a
// host, nothing else (a file, a mail form or a custom handler is shown as
// text only).
bool IsWebLink(const std::string& address);

// Builds the report cabinet when the server wants it. `progress(done, total)`
// reports the builder's progress; `stop` is set when the user cancels.
using CabinetBuilder =
    std::function<bool(const std::function<void(std::uint64_t, std::uint64_t)>& progress,
                       const std::atomic<bool>& stop, std::string* path, std::string* error)>;

struct UploadCallbacks {
    std::function<void(Step)> step;
    std::function<void(std::uint64_t done, std::uint64_t total)> progress; // building, then sending
    CabinetBuilder buildCabinet;
};

// Runs the status request, the cabinet and the upload (the connection check
// is the caller's: it may need to ask the user). Returns when done, failed or
// cancelled through `stop`. Safe to run on a worker thread.
class ReportUploader {
public:
    ReportUploader(ReportUrl url, ReportFields fields, UploadOptions options = {});
    ~ReportUploader();
    ReportUploader(const ReportUploader&) = delete;
    ReportUploader& operator=(const ReportUploader&) = delete;

    // `totalSeconds` (0: none) limits the whole sequence, the cabinet included.
    Outcome Run(const UploadCallbacks& callbacks, const std::atomic<bool>& stop, double totalSeconds = 0);

    // The pieces of Run, for tests and for callers with their own order.
    struct Reply {
        bool ok = false;        // an answer arrived (whole, or cut at kMaxAnswer)
        bool cancelled = false; // stopped through `stop`
        bool retryable = false; // the connection broke; trying again may help
        std::string error;      // transport failure text (a deadline's text included)
        long status = 0;
        std::string statusText;
        std::string body;
        bool oversized = false; // the answer was longer than kMaxAnswer and was cut there
    };
    // Each request ends by `deadline` at the latest; `deadlineText` is the
    // failure text then (else the status or upload limit's own text).
    using Clock = std::chrono::steady_clock;
    Reply QueryStatus(const std::atomic<bool>& stop, std::optional<Clock::time_point> deadline = std::nullopt,
                      const std::string& deadlineText = {});
    Reply SendCabinet(const std::string& cabinetPath,
                      const std::function<void(std::uint64_t, std::uint64_t)>& progress,
                      const std::atomic<bool>& stop, std::optional<Clock::time_point> deadline = std::nullopt,
                      const std::string& deadlineText = {});

    // How many requests of each kind were tried (retries included).
    int statusAttempts() const { return statusAttempts_; }
    int uploadAttempts() const { return uploadAttempts_; }

private:
    struct Http;
    ReportUrl url_;
    ReportFields fields_;
    UploadOptions options_;
    std::unique_ptr<Http> http_;
    int statusAttempts_ = 0;
    int uploadAttempts_ = 0;
    std::uint32_t tick_ = 0;
};

// Interprets a reply: true when the server said go on ("OK"); otherwise
// fills `outcome`: done ("CANCEL", "URL=" with its link) or failed, the
// reason put into `failurePattern` ("Failed to ...: %s").
bool ReplyGoesOn(const ReportUploader::Reply& reply, const char* failurePattern, Outcome* outcome);

// The status line's text for a step (strings 21, 22, 23, 26).
const char* StepText(Step step);
// The status line once the sequence has ended (strings 28, 29, or the failure).
std::string FinalStatusText(const Outcome& outcome);

// The whole sequence without a dialog (unattended use): every status text,
// and the server's link if it sent one, goes to `say`.
Outcome UploadUnattended(const ReportUrl& url, const ReportFields& fields, const CabinetBuilder& buildCabinet,
                         const std::function<void(const std::string&)>& say,
                         const UploadOptions& options = {});

} // namespace ulmarro::upload
