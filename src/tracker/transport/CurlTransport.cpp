#include <curl/curl.h>
#include <openssl/crypto.h>
#include <openssl/x509_vfy.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>

#include "tracker/HttpTransport.h"
#include "tracker/transport/RequestRules.h"
#include "core/KeptForever.h"

namespace ORBA {

namespace {

struct HeaderListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using HeaderList = std::unique_ptr<curl_slist, HeaderListDeleter>;

// libcurl's default sink would print the service's answer on the game's standard output.
size_t discardResponseBody(char*, size_t size, size_t count, void*) { return size * count; }

bool append(HeaderList& list, const std::string& line) {
    curl_slist* extended = curl_slist_append(list.get(), line.c_str());
    if (extended == nullptr) return false;
    list.release();
    list.reset(extended);
    return true;
}

// Trivially destructible, so that it can still be read by a late request while statics are
// being destroyed at exit.
std::atomic<bool> cancelled{false};

// libcurl calls this at least about once a second even while waiting for a connection.
int abortWhenCancelled(void*, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return cancelled.load() ? 1 : 0;
}

// OpenSSL's exit handler would free what a request still on its way at exit uses (a game's thread
// posting, the sender thread given its grace); without it the process's end takes everything at
// once. Only the first initialisation in the process decides, so this comes before any other use.
void keepOpenSslUntilTheEnd() { OPENSSL_init_crypto(OPENSSL_INIT_NO_ATEXIT, nullptr); }

// One easy handle for the whole process. Between requests it keeps the open connection and its
// TLS session, the resolved address and the authorities read from the CA file (libcurl caches
// them), so that a request to the same server costs one round trip rather than a handshake.
// A connection is only reused for a request with the same TLS settings.
class KeptHandle {
public:
    static KeptHandle& instance() {
        // The global set-up is not thread-safe in older libcurl; a function-local static runs
        // it once. Never destroyed: a game's thread may still be posting while the process
        // exits, and the system closes the socket.
        static KeptHandle& kept = Core::keptForever<KeptHandle>();
        return kept;
    }

    std::mutex& mutex() { return mutex_; }
    // Null when libcurl could not start.
    CURL* easy() const { return easy_; }

    // Made only by instance().
    KeptHandle() {
        keepOpenSslUntilTheEnd();
        if (curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK) easy_ = curl_easy_init();
    }
    KeptHandle(const KeptHandle&) = delete;
    KeptHandle& operator=(const KeptHandle&) = delete;

private:
    std::mutex mutex_;
    CURL* easy_ = nullptr;
};

// Puts the kept handle back to libcurl's defaults when a request ends however it ends, so that
// no option (nor a pointer into the request) carries over to the next one; connections, TLS
// sessions and the address cache stay.
class OptionsReset {
public:
    explicit OptionsReset(CURL* easy) : easy_(easy) {}
    ~OptionsReset() { curl_easy_reset(easy_); }
    OptionsReset(const OptionsReset&) = delete;
    OptionsReset& operator=(const OptionsReset&) = delete;

private:
    CURL* easy_;
};

// The step a failed transfer stopped at, in the words of the reasons both back ends give.
const char* failedStep(CURLcode code) {
    switch (code) {
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY: return "name resolution";
        case CURLE_COULDNT_CONNECT: return "connect";
        case CURLE_OPERATION_TIMEDOUT: return "time-out";
        case CURLE_SSL_CONNECT_ERROR: return "TLS handshake";
        case CURLE_PEER_FAILED_VERIFICATION: return "certificate trust";
        case CURLE_SSL_CACERT_BADFILE: return "reading the CA file";
        case CURLE_SEND_ERROR: return "sending";
        case CURLE_RECV_ERROR:
        case CURLE_GOT_NOTHING:
        case CURLE_PARTIAL_FILE: return "receiving";
        case CURLE_ABORTED_BY_CALLBACK: return "cancelled";
        case CURLE_UNSUPPORTED_PROTOCOL:
        case CURLE_URL_MALFORMAT: return "URL";
        default: return "transfer";
    }
}

// "<step> failed: <libcurl's text> (curl <code>)", then what libcurl wrote to `errorBuffer`, the
// certificate check that failed and the socket's error, where they add anything.
std::string describeFailure(CURL* h, CURLcode code, const char* errorBuffer,
                            const std::string& caFile) {
    std::string step = failedStep(code);
    std::string detail;
    if (code == CURLE_PEER_FAILED_VERIFICATION) {
        // OpenSSL's verdict on the chain; when it found nothing wrong, libcurl's own host name
        // check is what refused the server.
        long verdict = X509_V_OK;
        if (curl_easy_getinfo(h, CURLINFO_SSL_VERIFYRESULT, &verdict) == CURLE_OK &&
            verdict != X509_V_OK) {
            // libcurl usually quotes OpenSSL's words already: then only the number is added.
            const std::string words = X509_verify_cert_error_string(verdict);
            detail = "X509 check " + std::to_string(verdict);
            if (std::string(errorBuffer).find(words) == std::string::npos) detail += ": " + words;
        } else {
            step = "host name check";
        }
    } else if (code == CURLE_SSL_CACERT_BADFILE) {
        step += " \"" + caFile + "\"";
    }
    std::string reason = step + " failed: " + curl_easy_strerror(code) + " (curl " +
                         std::to_string(static_cast<int>(code)) + ")";
    if (errorBuffer[0] != '\0') reason += std::string(": ") + errorBuffer;
    if (!detail.empty()) reason += "; " + detail;
    long systemError = 0;
    if ((code == CURLE_COULDNT_CONNECT || code == CURLE_SEND_ERROR || code == CURLE_RECV_ERROR) &&
        curl_easy_getinfo(h, CURLINFO_OS_ERRNO, &systemError) == CURLE_OK && systemError != 0) {
        reason += "; " + std::generic_category().message(static_cast<int>(systemError)) +
                  " (errno " + std::to_string(systemError) + ")";
    }
    return reason;
}

HttpResult noAnswer(std::string failure) {
    HttpResult result;
    result.failure = std::move(failure);
    return result;
}

}  // namespace

void prepareHttpTransport() { KeptHandle::instance(); }

// OpenSSL keeps an error queue and random generators per thread, freed only when the thread ends;
// one that ends while the process is already exiting would find OpenSSL torn down.
void releaseHttpThreadState() { OPENSSL_thread_stop(); }

void cancelHttpRequests() { cancelled = true; }

HttpResult sendHttpRequest(const HttpRequest& request) {
    if (cancelled) return noAnswer("cancelled: the process is ending");
    if (!Transport::isSendable(request)) {
        return noAnswer(std::string("not sent: ") + Transport::refusalReason(request));
    }
    KeptHandle& kept = KeptHandle::instance();
    std::lock_guard<std::mutex> lock(kept.mutex());
    CURL* h = kept.easy();
    if (h == nullptr) return noAnswer("setting up the session failed: libcurl could not start");
    OptionsReset reset(h);

    HeaderList headers;
    // "Expect:" and "Accept:" remove headers libcurl would add on its own, so that both back
    // ends put the same header lines on the wire and a large body is not held back for a
    // 100-continue answer.
    if (!append(headers, Transport::kContentTypeLine) ||
        !append(headers, Transport::kAuthorizationPrefix + request.authorization) ||
        !append(headers, "Expect:") || !append(headers, "Accept:")) {
        return noAnswer("setting up the request failed: out of memory for its header lines");
    }

    // Filled by libcurl with the details of a failure; the reset at the end lets go of it.
    char errorBuffer[CURL_ERROR_SIZE] = {};
    CURLcode set = CURLE_OK;
    // The first option refused stops the rest and names the failure.
    const auto option = [&](CURLoption which, auto value) {
        if (set == CURLE_OK) set = curl_easy_setopt(h, which, value);
    };
    option(CURLOPT_ERRORBUFFER, errorBuffer);
    option(CURLOPT_URL, request.url.c_str());
    option(CURLOPT_PROTOCOLS_STR, "https");
    option(CURLOPT_HTTPHEADER, headers.get());
    option(CURLOPT_SSL_VERIFYPEER, 1L);
    option(CURLOPT_SSL_VERIFYHOST, 2L);
    option(CURLOPT_POST, 1L);
    option(CURLOPT_POSTFIELDS, request.body.data());
    option(CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
    option(CURLOPT_USERAGENT, request.userAgent.c_str());
    option(CURLOPT_WRITEFUNCTION, discardResponseBody);
    option(CURLOPT_CONNECTTIMEOUT_MS, Transport::kConnectTimeoutMs);
    option(CURLOPT_TIMEOUT_MS, Transport::kTotalTimeoutMs);
    // Time-outs must not be raised with signals inside the host's process.
    option(CURLOPT_NOSIGNAL, 1L);
    option(CURLOPT_XFERINFOFUNCTION, abortWhenCancelled);
    option(CURLOPT_NOPROGRESS, 0L);
    if (!request.caFile.empty()) {
        // The file replaces the system's authorities: both the bundle and the folder that
        // libcurl was built to read.
        option(CURLOPT_CAINFO, request.caFile.c_str());
        option(CURLOPT_CAPATH, static_cast<const char*>(nullptr));
    }
    if (set != CURLE_OK) {
        return noAnswer(std::string("setting up the request failed: ") + curl_easy_strerror(set) +
                        " (curl " + std::to_string(static_cast<int>(set)) + ")");
    }
    // A transfer that did not complete, even one that got as far as a status line, counts as no
    // answer: the request may not have been taken in.
    const CURLcode performed = curl_easy_perform(h);
    if (performed != CURLE_OK) {
        return noAnswer(describeFailure(h, performed, errorBuffer, request.caFile));
    }
    long status = 0;
    const CURLcode read = curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    if (read != CURLE_OK || status == 0) {
        return noAnswer(std::string("receiving failed: no status line could be read (curl ") +
                        std::to_string(static_cast<int>(read)) + ")");
    }
    HttpResult result;
    result.status = static_cast<int>(status);
    // libcurl reads both forms (seconds and an HTTP date) and gives seconds from now.
    curl_off_t retryAfter = 0;
    if ((status == 429 || status == 503) &&
        curl_easy_getinfo(h, CURLINFO_RETRY_AFTER, &retryAfter) == CURLE_OK && retryAfter > 0) {
        result.retryAfterSeconds = static_cast<long>(retryAfter);
    }
    return result;
}

}  // namespace ORBA
