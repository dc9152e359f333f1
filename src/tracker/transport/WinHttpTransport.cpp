#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <wincrypt.h>
#include <winhttp.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "core/Utf.h"
#include "orba/Logger.h"
#include "platform/UniqueHandle.h"
#include "platform/win32/Win32Handles.h"
#include "tracker/HttpTransport.h"
#include "tracker/transport/RequestRules.h"

namespace ORBA {

namespace {

constexpr DWORD kMaxCaFileBytes = 16 * 1024 * 1024;

struct InternetHandleTraits {
    using Handle = HINTERNET;
    static HINTERNET invalid() noexcept { return nullptr; }
    static void close(HINTERNET handle) noexcept { WinHttpCloseHandle(handle); }
};
using InternetHandle = Platform::UniqueHandle<InternetHandleTraits>;
using Platform::FileHandle;

struct CertContextDeleter {
    void operator()(PCCERT_CONTEXT context) const { CertFreeCertificateContext(context); }
};
using CertContext = std::unique_ptr<const CERT_CONTEXT, CertContextDeleter>;
struct CertStoreCloser {
    void operator()(HCERTSTORE store) const { CertCloseStore(store, 0); }
};
using CertStore = std::unique_ptr<void, CertStoreCloser>;
struct ChainEngineDeleter {
    void operator()(HCERTCHAINENGINE engine) const { CertFreeCertificateChainEngine(engine); }
};
using ChainEngine = std::unique_ptr<void, ChainEngineDeleter>;
struct ChainDeleter {
    void operator()(PCCERT_CHAIN_CONTEXT chain) const { CertFreeCertificateChain(chain); }
};
using Chain = std::unique_ptr<const CERT_CHAIN_CONTEXT, ChainDeleter>;

// Throws std::range_error on ill-formed UTF-8.
std::wstring widen(const std::string& utf8) {
    std::u16string utf16 = Core::utf8ToUtf16(utf8);
    return std::wstring(utf16.begin(), utf16.end());
}

// Milliseconds left of the whole request.
class Deadline {
public:
    explicit Deadline(long budgetMs) : end_(GetTickCount64() + static_cast<ULONGLONG>(budgetMs)) {}
    long remainingMs() const {
        ULONGLONG now = GetTickCount64();
        return now >= end_ ? 0 : static_cast<long>(end_ - now);
    }

private:
    ULONGLONG end_;
};

// WinHTTP's time-outs bound each network operation, not the request; shrinking them to what is
// left before every step keeps the whole exchange within the budget.
bool limitTimeouts(HINTERNET request, const Deadline& deadline) {
    long left = deadline.remainingMs();
    if (left <= 0) return false;
    int connect = static_cast<int>(std::min(left, Transport::kConnectTimeoutMs));
    DWORD response = static_cast<DWORD>(left);
    return WinHttpSetTimeouts(request, connect, connect, static_cast<int>(left),
                              static_cast<int>(left)) &&
           WinHttpSetOption(request, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &response,
                            sizeof response);
}

bool readWholeFile(const std::string& path, std::string& contents) {
    FileHandle file(CreateFileW(widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file.get(), &size) || size.QuadPart > kMaxCaFileBytes) return false;
    contents.assign(static_cast<std::size_t>(size.QuadPart), '\0');
    DWORD done = 0;
    while (done < contents.size()) {
        DWORD read = 0;
        if (!ReadFile(file.get(), &contents[done], static_cast<DWORD>(contents.size() - done),
                      &read, nullptr) ||
            read == 0) {
            return false;
        }
        done += read;
    }
    return true;
}

// Adds every "CERTIFICATE" block of a PEM text to `store`; blocks that do not decode are
// skipped. Returns how many were added.
int addPemCertificates(const std::string& pem, HCERTSTORE store) {
    constexpr std::string_view kBegin = "-----BEGIN CERTIFICATE-----";
    constexpr std::string_view kEnd = "-----END CERTIFICATE-----";
    int added = 0;
    std::size_t position = 0;
    for (;;) {
        std::size_t begin = pem.find(kBegin, position);
        if (begin == std::string::npos) break;
        std::size_t end = pem.find(kEnd, begin);
        if (end == std::string::npos) break;
        position = end + kEnd.size();
        DWORD blockSize = static_cast<DWORD>(position - begin);
        DWORD derSize = 0;
        if (!CryptStringToBinaryA(pem.data() + begin, blockSize, CRYPT_STRING_BASE64HEADER, nullptr,
                                  &derSize, nullptr, nullptr)) {
            continue;
        }
        std::vector<BYTE> der(derSize);
        if (!CryptStringToBinaryA(pem.data() + begin, blockSize, CRYPT_STRING_BASE64HEADER,
                                  der.data(), &derSize, nullptr, nullptr)) {
            continue;
        }
        if (CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(), derSize,
                                             CERT_STORE_ADD_USE_EXISTING, nullptr)) {
            ++added;
        }
    }
    return added;
}

// The authorities of a caFile, trusted instead of the system's: a chain engine whose only roots
// they are, so that the system's own rules for chains (authority and path-length constraints,
// key usage, dates, signatures) apply unchanged.
class CallerAuthorities {
public:
    // Null when the file cannot be read, holds no certificate or no engine can be made.
    static std::unique_ptr<CallerAuthorities> load(const std::string& path) {
        std::string pem;
        if (!readWholeFile(path, pem)) return nullptr;
        CertStore roots(CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, CERT_STORE_CREATE_NEW_FLAG,
                                      nullptr));
        if (!roots || addPemCertificates(pem, roots.get()) == 0) return nullptr;

        CERT_CHAIN_ENGINE_CONFIG config{};
        config.cbSize = sizeof config;
        config.hExclusiveRoot = roots.get();
        // An intermediate authority in the file is an anchor too, as it is for libcurl.
        config.dwExclusiveFlags = CERT_CHAIN_EXCLUSIVE_ENABLE_CA_FLAG;
        HCERTCHAINENGINE engine = nullptr;
        if (!CertCreateCertificateChainEngine(&config, &engine)) {
            // Windows 7 knows the structure only up to the exclusive stores.
            config.cbSize = offsetof(CERT_CHAIN_ENGINE_CONFIG, dwExclusiveFlags);
            config.dwExclusiveFlags = 0;
            if (!CertCreateCertificateChainEngine(&config, &engine)) return nullptr;
        }
        return std::unique_ptr<CallerAuthorities>(
            new CallerAuthorities(std::move(roots), ChainEngine(engine)));
    }

    // Whether `server`, with the certificates it sent along, chains to one of the authorities
    // and is fit to serve `host`.
    bool trust(PCCERT_CONTEXT server, const std::wstring& host) const {
        LPSTR serverAuth[] = {const_cast<LPSTR>(szOID_PKIX_KP_SERVER_AUTH)};
        CERT_CHAIN_PARA para{};
        para.cbSize = sizeof para;
        para.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
        para.RequestedUsage.Usage.cUsageIdentifier = 1;
        para.RequestedUsage.Usage.rgpszUsageIdentifier = serverAuth;
        PCCERT_CHAIN_CONTEXT built = nullptr;
        // Only what the server sent and the file are used: nothing is fetched from the network.
        if (!CertGetCertificateChain(engine_.get(), server, nullptr, server->hCertStore, &para,
                                     CERT_CHAIN_DISABLE_AIA | CERT_CHAIN_CACHE_ONLY_URL_RETRIEVAL,
                                     nullptr, &built)) {
            return false;
        }
        Chain chain(built);
        if (chain->TrustStatus.dwErrorStatus != CERT_TRUST_NO_ERROR || chain->cChain == 0) {
            return false;
        }

        HTTPSPolicyCallbackData ssl{};
        ssl.cbStruct = sizeof ssl;
        ssl.dwAuthType = AUTHTYPE_SERVER;
        ssl.pwszServerName = const_cast<wchar_t*>(host.c_str());
        CERT_CHAIN_POLICY_PARA policy{};
        policy.cbSize = sizeof policy;
        policy.pvExtraPolicyPara = &ssl;
        CERT_CHAIN_POLICY_STATUS status{};
        status.cbSize = sizeof status;
        if (!CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain.get(), &policy,
                                              &status) ||
            status.dwError != 0) {
            return false;
        }

        // The engine ends chains at the file's authorities only; looking the anchor up keeps a
        // system authority out even where an engine would not honour that.
        const CERT_SIMPLE_CHAIN* simple = chain->rgpChain[chain->cChain - 1];
        if (simple->cElement == 0) return false;
        CertContext anchor(CertFindCertificateInStore(
            roots_.get(), X509_ASN_ENCODING, 0, CERT_FIND_EXISTING,
            simple->rgpElement[simple->cElement - 1]->pCertContext, nullptr));
        return anchor != nullptr;
    }

private:
    CallerAuthorities(CertStore roots, ChainEngine engine)
        : roots_(std::move(roots)), engine_(std::move(engine)) {}

    CertStore roots_;
    ChainEngine engine_;
};

bool serverCertificateTrusted(HINTERNET request, const CallerAuthorities& authorities,
                              const std::wstring& host) {
    PCCERT_CONTEXT certificate = nullptr;
    DWORD size = sizeof certificate;
    if (!WinHttpQueryOption(request, WINHTTP_OPTION_SERVER_CERT_CONTEXT, &certificate, &size) ||
        certificate == nullptr) {
        return false;
    }
    CertContext owned(certificate);
    return authorities.trust(certificate, host);
}

// The check of a server against the caller's own authorities, made once the TLS handshake is
// done and before the request goes out.
struct ServerCheck {
    enum class Verdict { Pending, Trusted, Rejected };

    ServerCheck(const CallerAuthorities* trusted, const std::wstring& server)
        : authorities(trusted), host(server) {}

    const CallerAuthorities* authorities;
    const std::wstring& host;
    Verdict verdict = Verdict::Pending;
    bool requestClosed = false;
};

void CALLBACK checkServerBeforeSending(HINTERNET request, DWORD_PTR context, DWORD status, LPVOID,
                                       DWORD) {
    if (status != WINHTTP_CALLBACK_STATUS_SENDING_REQUEST || context == 0) return;
    ServerCheck* check = reinterpret_cast<ServerCheck*>(context);
    if (check->verdict != ServerCheck::Verdict::Pending || check->authorities == nullptr) return;
    if (serverCertificateTrusted(request, *check->authorities, check->host)) {
        check->verdict = ServerCheck::Verdict::Trusted;
        return;
    }
    check->verdict = ServerCheck::Verdict::Rejected;
    // Closing the request cancels the send where WinHTTP allows it; where it does not (Wine
    // sends the head it has built), the body is still held back.
    WinHttpCloseHandle(request);
    check->requestClosed = true;
}

// The system's automatic proxy where it offers one (Windows 8.1 and later), else the proxy set
// for WinHTTP.
HINTERNET openSession(const std::wstring& userAgent) {
    HINTERNET session = WinHttpOpen(userAgent.c_str(), WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY,
                                    WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
    if (session != nullptr) return session;
    return WinHttpOpen(userAgent.c_str(), WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                       WINHTTP_NO_PROXY_BYPASS, 0);
}

// What is kept from one request to the next. WinHTTP pools connections and TLS sessions per
// session handle; the connection handle names the last server, and the caller's authorities
// are read from their file once. A session serves one user agent and one way of trusting
// servers, so that a connection accepted under a caller's file never carries a request meant
// to be checked against the system's authorities, and the other way round.
struct KeptState {
    std::mutex mutex;
    InternetHandle connection{nullptr};
    InternetHandle session{nullptr};
    std::wstring userAgent;
    std::string caFile;
    std::unique_ptr<CallerAuthorities> authorities;
    std::wstring host;
    INTERNET_PORT port = 0;
    // Whether the server has passed the check of the caller's authorities, without any request
    // failing since. Until it has, a request carrying nothing of value goes first.
    bool serverChecked = false;

    void drop() {
        connection.reset(nullptr);
        session.reset(nullptr);
        authorities.reset();
        serverChecked = false;
    }
};

// Made once and never destroyed: its destructor would run under the loader lock when the library
// is unloaded or the process ends, where closing WinHTTP handles (which may wait for WinHTTP's
// own threads) risks a deadlock. At exit the system closes the socket; an unload without exit
// leaves one idle session behind.
KeptState& keptState() {
    static KeptState* const state = new KeptState();
    return *state;
}

// Reads the answer to its end, as libcurl does, so that a response cut short is no answer and
// the connection can serve the next request.
bool readToEnd(HINTERNET request, const Deadline& deadline) {
    char discarded[4096];
    for (;;) {
        DWORD read = 0;
        if (!limitTimeouts(request, deadline) ||
            !WinHttpReadData(request, discarded, sizeof discarded, &read)) {
            return false;
        }
        if (read == 0) return true;
    }
}

HINTERNET openRequest(HINTERNET connection, const wchar_t* verb, const std::wstring& path) {
    InternetHandle handle(WinHttpOpenRequest(connection, verb, path.c_str(), nullptr,
                                             WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                             WINHTTP_FLAG_SECURE));
    if (!handle) return nullptr;
    // A redirect would carry the signed body to another address; libcurl does not follow one
    // either.
    DWORD disabled = WINHTTP_DISABLE_REDIRECTS;
    if (!WinHttpSetOption(handle.get(), WINHTTP_OPTION_DISABLE_FEATURE, &disabled,
                          sizeof disabled)) {
        return nullptr;
    }
    return handle.release();
}

// Has `request` checked against the caller's authorities just before it is sent: WinHTTP is
// told to accept an unknown root (dates and host name are still checked), and the callback
// checks the chain against the caller's file instead.
bool checkBeforeSending(HINTERNET request) {
    DWORD flags = 0;
    DWORD size = sizeof flags;
    if (!WinHttpQueryOption(request, WINHTTP_OPTION_SECURITY_FLAGS, &flags, &size)) flags = 0;
    flags |= SECURITY_FLAG_IGNORE_UNKNOWN_CA;
    return WinHttpSetOption(request, WINHTTP_OPTION_SECURITY_FLAGS, &flags, sizeof flags) &&
           WinHttpSetStatusCallback(request, checkServerBeforeSending,
                                    WINHTTP_CALLBACK_FLAG_SEND_REQUEST,
                                    0) != WINHTTP_INVALID_STATUS_CALLBACK;
}

// A request without a body or a header of value ("HEAD /"), to have the server checked before
// a signed request leaves: Wine sends a request's head even when the check made just before
// sending rejects the server, and some WinHTTP versions do not report that step at all.
bool probeServer(KeptState& kept, const Deadline& deadline) {
    InternetHandle handle(openRequest(kept.connection.get(), L"HEAD", L"/"));
    if (!handle || !checkBeforeSending(handle.get()) || !limitTimeouts(handle.get(), deadline)) {
        return false;
    }
    ServerCheck check(kept.authorities.get(), kept.host);
    BOOL sent = WinHttpSendRequest(handle.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                                   WINHTTP_NO_REQUEST_DATA, 0, 0,
                                   reinterpret_cast<DWORD_PTR>(&check));
    if (check.requestClosed) {
        handle.release();  // closed by the status callback already
        return false;
    }
    if (!sent) return false;
    if (check.verdict != ServerCheck::Verdict::Trusted) {
        Core::Logger::Log(
            "HTTP request not sent: this system does not let the server's certificate be checked "
            "against the caFile before a request leaves");
        return false;
    }
    // The answer does not matter; taking it in hands the connection back for the next request.
    if (limitTimeouts(handle.get(), deadline) && WinHttpReceiveResponse(handle.get(), nullptr)) {
        readToEnd(handle.get(), deadline);
    }
    return true;
}

// The answer's Retry-After in seconds from now, whichever form it takes, or -1.
long retryAfterSeconds(HINTERNET request) {
    // Either form fits; a longer value is neither.
    wchar_t text[64];
    DWORD size = sizeof text;
    if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_RETRY_AFTER, WINHTTP_HEADER_NAME_BY_INDEX,
                             text, &size, WINHTTP_NO_HEADER_INDEX)) {
        return -1;
    }
    std::string value;
    for (DWORD i = 0; i < size / sizeof(wchar_t); ++i) {
        // Both forms are ASCII: anything else spoils the value without being mistaken for it.
        value.push_back(text[i] < 0x80 ? static_cast<char>(text[i]) : '\x7F');
    }
    return Transport::retryAfterSeconds(value, static_cast<std::int64_t>(std::time(nullptr)));
}

int postOnce(const HttpRequest& request, KeptState& kept, long& retryAfter) {
    Deadline deadline(Transport::kTotalTimeoutMs);
    if (request.body.size() > MAXDWORD) return 0;
    const DWORD bodySize = static_cast<DWORD>(request.body.size());

    std::wstring url = widen(request.url);
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.dwSchemeLength = static_cast<DWORD>(-1);
    parts.dwHostNameLength = static_cast<DWORD>(-1);
    parts.dwUrlPathLength = static_cast<DWORD>(-1);
    parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    if (!WinHttpCrackUrl(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts) ||
        parts.nScheme != INTERNET_SCHEME_HTTPS || parts.dwHostNameLength == 0) {
        return 0;
    }
    std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    std::wstring path(parts.lpszUrlPath, parts.dwUrlPathLength);
    path.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    if (path.empty()) path = L"/";

    std::wstring userAgent = widen(request.userAgent);
    if (!kept.session || kept.userAgent != userAgent || kept.caFile != request.caFile) {
        kept.drop();
        if (!request.caFile.empty()) {
            kept.authorities = CallerAuthorities::load(request.caFile);
            if (!kept.authorities) return 0;
        }
        kept.session.reset(openSession(userAgent));
        if (!kept.session) return 0;
        kept.userAgent = userAgent;
        kept.caFile = request.caFile;
    }
    if (!kept.connection || kept.host != host || kept.port != parts.nPort) {
        kept.serverChecked = false;
        kept.connection.reset(WinHttpConnect(kept.session.get(), host.c_str(), parts.nPort, 0));
        if (!kept.connection) return 0;
        kept.host = host;
        kept.port = parts.nPort;
    }
    if (kept.authorities && !kept.serverChecked) {
        if (!probeServer(kept, deadline)) return 0;
        kept.serverChecked = true;
    }

    InternetHandle handle(openRequest(kept.connection.get(), L"POST", path));
    if (!handle) return 0;
    const bool checked = kept.authorities != nullptr;
    if (checked && !checkBeforeSending(handle.get())) return 0;

    std::wstring headers = widen(std::string(Transport::kContentTypeLine) + "\r\n" +
                                 Transport::kAuthorizationPrefix + request.authorization);
    if (!limitTimeouts(handle.get(), deadline)) return 0;
    // Without a check to wait for, the body goes with the head, so that WinHTTP may send both
    // at once. With one, the body is announced but handed over only once the server is known
    // to be trusted.
    ServerCheck check(kept.authorities.get(), kept.host);
    BOOL sent =
        checked ? WinHttpSendRequest(handle.get(), headers.c_str(),
                                     static_cast<DWORD>(headers.size()), WINHTTP_NO_REQUEST_DATA,
                                     0, bodySize, reinterpret_cast<DWORD_PTR>(&check))
                : WinHttpSendRequest(handle.get(), headers.c_str(),
                                     static_cast<DWORD>(headers.size()),
                                     const_cast<char*>(request.body.data()), bodySize, bodySize,
                                     0);
    if (check.requestClosed) {
        handle.release();  // closed by the status callback already
        return 0;
    }
    if (!sent) return 0;
    if (checked) {
        // Without a verdict before the head left (the sending step was not reported this
        // time), nothing more is sent and the request does not count.
        if (check.verdict != ServerCheck::Verdict::Trusted) return 0;
        DWORD offset = 0;
        while (offset < bodySize) {
            DWORD written = 0;
            if (!limitTimeouts(handle.get(), deadline) ||
                !WinHttpWriteData(handle.get(), request.body.data() + offset, bodySize - offset,
                                  &written) ||
                written == 0) {
                return 0;
            }
            offset += written;
        }
    }

    if (!limitTimeouts(handle.get(), deadline) || !WinHttpReceiveResponse(handle.get(), nullptr)) {
        return 0;
    }
    DWORD status = 0;
    DWORD statusSize = sizeof status;
    if (!WinHttpQueryHeaders(handle.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &statusSize,
                             WINHTTP_NO_HEADER_INDEX) ||
        !readToEnd(handle.get(), deadline)) {
        return 0;
    }
    if (status == 429 || status == 503) retryAfter = retryAfterSeconds(handle.get());
    return static_cast<int>(status);
}

}  // namespace

void prepareHttpTransport() { keptState(); }

void releaseHttpThreadState() {}

void cancelHttpRequests() {}

// The sender thread and the host's thread may both post: the kept state is theirs in turn.
HttpResult sendHttpRequest(const HttpRequest& request) {
    HttpResult result;
    if (!Transport::isSendable(request)) return result;
    KeptState& kept = keptState();
    std::lock_guard<std::mutex> lock(kept.mutex);
    try {
        result.status = postOnce(request, kept, result.retryAfterSeconds);
    } catch (const std::range_error&) {
        // A URL, user agent or file name that is not UTF-8 cannot be handed to WinHTTP.
        result = HttpResult();
    }
    // After a failure the connection may be a new one next time: check it again first.
    if (result.status == 0) {
        kept.serverChecked = false;
        result.retryAfterSeconds = -1;
    }
    return result;
}

}  // namespace ORBA
