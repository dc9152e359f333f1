// Signing and posting of event requests. One back end is built in: libcurl with OpenSSL, or
// WinHTTP with BCrypt; both send the same bytes, headers and user agent.
#pragma once

#include <string>

namespace ORBA {

struct HttpRequest {
    std::string url;            // "https://host[:port]/path"
    std::string body;           // posted as is, Content-Type application/json
    std::string authorization;  // the value of the Authorization header
    std::string userAgent;
    std::string caFile;         // PEM authorities trusted instead of the system's; empty: system
};

// What came back for one request.
struct HttpResult {
    int status = 0;                 // 0 when no answer came
    long retryAfterSeconds = -1;    // the answer's Retry-After in seconds; -1 when it gave none
    // Why no answer came: the step that failed, then the system's code and text, as in
    // "connect failed: ...". Empty when an answer came. Holds nothing of the request but its
    // host, port and caFile path.
    std::string failure;
};

// Posts `request` once and returns the HTTP status of the response, or 0 with the reason when
// none came (no connection, TLS failure, an untrusted certificate, time-out: 5 s to connect,
// 10 s in all). The server's certificate and host name are verified. The response body is
// discarded. Logs nothing but a refusal to send (see Transport::isSendable): the caller tells
// the reason, once a request rather than once an attempt.
HttpResult sendHttpRequest(const HttpRequest& request);
inline int postHttpRequest(const HttpRequest& request) { return sendHttpRequest(request).status; }

// Sets the transport up now rather than at the first request. What is made after this call has
// its exit handlers run before any of the transport's: the background sender stops while the
// transport still works. (The transport itself is never torn down: a game's thread may still be
// posting while the process exits.)
void prepareHttpTransport();

// Frees what the transport keeps for the calling thread; a thread of the library's own calls it
// before it ends, so that nothing of it is left for the process's exit to tear down.
void releaseHttpThreadState();

// Ends the request in flight, if any, and every later one at once with no answer. Called when
// the process is ending, so that no exit waits for a server that does not answer. (WinHTTP's
// requests are left alone: at exit Windows ends their thread before any library code runs.)
void cancelHttpRequests();

// The HMAC-SHA256 of `message` under `key`, as 64 lower-case hexadecimal digits.
std::string hmacSha256Hex(const std::string& key, const std::string& message);

}  // namespace ORBA
