#include <curl/curl.h>
#include <openssl/crypto.h>

#include <atomic>
#include <memory>
#include <mutex>

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

}  // namespace

void prepareHttpTransport() { KeptHandle::instance(); }

// OpenSSL keeps an error queue and random generators per thread, freed only when the thread ends;
// one that ends while the process is already exiting would find OpenSSL torn down.
void releaseHttpThreadState() { OPENSSL_thread_stop(); }

void cancelHttpRequests() { cancelled = true; }

HttpResult sendHttpRequest(const HttpRequest& request) {
    HttpResult none;
    if (cancelled || !Transport::isSendable(request)) return none;
    KeptHandle& kept = KeptHandle::instance();
    std::lock_guard<std::mutex> lock(kept.mutex());
    CURL* h = kept.easy();
    if (h == nullptr) return none;
    OptionsReset reset(h);

    HeaderList headers;
    // "Expect:" and "Accept:" remove headers libcurl would add on its own, so that both back
    // ends put the same header lines on the wire and a large body is not held back for a
    // 100-continue answer.
    if (!append(headers, Transport::kContentTypeLine) ||
        !append(headers, Transport::kAuthorizationPrefix + request.authorization) ||
        !append(headers, "Expect:") || !append(headers, "Accept:")) {
        return none;
    }

    bool configured =
        curl_easy_setopt(h, CURLOPT_URL, request.url.c_str()) == CURLE_OK &&
        curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "https") == CURLE_OK &&
        curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get()) == CURLE_OK &&
        curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 1L) == CURLE_OK &&
        curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 2L) == CURLE_OK &&
        curl_easy_setopt(h, CURLOPT_POST, 1L) == CURLE_OK &&
        curl_easy_setopt(h, CURLOPT_POSTFIELDS, request.body.data()) == CURLE_OK &&
        curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE,
                         static_cast<curl_off_t>(request.body.size())) == CURLE_OK &&
        curl_easy_setopt(h, CURLOPT_USERAGENT, request.userAgent.c_str()) == CURLE_OK &&
        curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, discardResponseBody) == CURLE_OK &&
        curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, Transport::kConnectTimeoutMs) == CURLE_OK &&
        curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, Transport::kTotalTimeoutMs) == CURLE_OK &&
        // Time-outs must not be raised with signals inside the host's process.
        curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L) == CURLE_OK &&
        curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, abortWhenCancelled) == CURLE_OK &&
        curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L) == CURLE_OK;
    if (configured && !request.caFile.empty()) {
        // The file replaces the system's authorities: both the bundle and the folder that
        // libcurl was built to read.
        configured = curl_easy_setopt(h, CURLOPT_CAINFO, request.caFile.c_str()) == CURLE_OK &&
                     curl_easy_setopt(h, CURLOPT_CAPATH, nullptr) == CURLE_OK;
    }
    if (!configured) return none;

    // A transfer that did not complete, even one that got as far as a status line, counts as no
    // answer: the request may not have been taken in.
    if (curl_easy_perform(h) != CURLE_OK) return none;
    long status = 0;
    if (curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status) != CURLE_OK) return none;
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
