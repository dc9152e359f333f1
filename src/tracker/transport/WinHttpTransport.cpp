#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <wincrypt.h>
#include <winhttp.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
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

std::string hex32(DWORD value) {
    char text[11];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(value));
    return text;
}

// WinHTTP's own codes a request meets: the name its documentation gives each and, where the code
// names where a request failed whichever call gave it, that step.
struct KnownCode {
    DWORD code;
    const char* name;
    const char* step;  // null: the code says nothing of its own and the call's step stands
};
#define ORBA_KNOWN_CODE(code, step) {code, #code, step}
const KnownCode kKnownCodes[] = {
    ORBA_KNOWN_CODE(ERROR_WINHTTP_OUT_OF_HANDLES, nullptr),
    ORBA_KNOWN_CODE(ERROR_WINHTTP_TIMEOUT, "timed out"),
    ORBA_KNOWN_CODE(ERROR_WINHTTP_INTERNAL_ERROR, nullptr),
    ORBA_KNOWN_CODE(ERROR_WINHTTP_INVALID_URL, "URL not usable"),
    ORBA_KNOWN_CODE(ERROR_WINHTTP_UNRECOGNIZED_SCHEME, "URL not usable"),
    ORBA_KNOWN_CODE(ERROR_WINHTTP_NAME_NOT_RESOLVED, "name resolution failed"),
    ORBA_KNOWN_CODE(ERROR_WINHTTP_INVALID_OPTION, nullptr),
    ORBA_KNOWN_CODE(ERROR_WINHTTP_SHUTDOWN, nullptr),
    ORBA_KNOWN_CODE(ERROR_WINHTTP_OPERATION_CANCELLED, "cancelled"),
    ORBA_KNOWN_CODE(ERROR_WINHTTP_INCORRECT_HANDLE_TYPE, nullptr),
    ORBA_KNOWN_CODE(ERROR_WINHTTP_INCORRECT_HANDLE_STATE, nullptr),
    ORBA_KNOWN_CODE(ERROR_WINHTTP_CANNOT_CONNECT, "connect failed"),
    ORBA_KNOWN_CODE(ERROR_WINHTTP_CONNECTION_ERROR, nullptr),
    ORBA_KNOWN_CODE(ERROR_WINHTTP_SECURE_CERT_DATE_INVALID, "certificate date check failed"),
    ORBA_KNOWN_CODE(ERROR_WINHTTP_SECURE_CERT_CN_INVALID, "host name check failed"),
    ORBA_KNOWN_CODE(ERROR_WINHTTP_SECURE_INVALID_CA, "certificate trust failed"),
    ORBA_KNOWN_CODE(ERROR_WINHTTP_SECURE_CERT_REV_FAILED, "revocation check failed"),
    ORBA_KNOWN_CODE(ERROR_WINHTTP_INVALID_SERVER_RESPONSE, nullptr),
    ORBA_KNOWN_CODE(ERROR_WINHTTP_SECURE_CHANNEL_ERROR, "TLS handshake failed"),
    ORBA_KNOWN_CODE(ERROR_WINHTTP_SECURE_INVALID_CERT, "certificate check failed"),
    ORBA_KNOWN_CODE(ERROR_WINHTTP_SECURE_CERT_REVOKED, "certificate trust failed"),
    ORBA_KNOWN_CODE(ERROR_WINHTTP_SECURE_FAILURE, "certificate check failed"),
    ORBA_KNOWN_CODE(ERROR_WINHTTP_SECURE_CERT_WRONG_USAGE, "certificate check failed"),
};
#undef ORBA_KNOWN_CODE

const KnownCode* knownCode(DWORD code) {
    for (const KnownCode& each : kKnownCodes) {
        if (each.code == code) return &each;
    }
    return nullptr;
}

// The system's text for `code`, without its line end; WinHTTP's own codes are described by
// winhttp.dll rather than the system. Empty when there is none.
std::string errorText(DWORD code) {
    const bool ownCode = code >= WINHTTP_ERROR_BASE && code <= WINHTTP_ERROR_LAST;
    HMODULE module = ownCode ? GetModuleHandleW(L"winhttp.dll") : nullptr;
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS |
            (module != nullptr ? FORMAT_MESSAGE_FROM_HMODULE : FORMAT_MESSAGE_FROM_SYSTEM),
        module, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string message;
    if (length > 0 && text != nullptr) {
        message = Core::utf16ToUtf8Lossy(
            std::u16string_view(reinterpret_cast<const char16_t*>(text), length));
    }
    LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                message.back() == ' ' || message.back() == '.')) {
        message.pop_back();
    }
    return message;
}

// "<step>: <call> gave error <code> <name> (<text>)", the step being what the code itself
// names where it names one.
std::string describeError(const char* step, const char* call, DWORD code) {
    const KnownCode* known = knownCode(code);
    if (known != nullptr && known->step != nullptr) step = known->step;
    std::string reason = std::string(step) + ": " + call + " gave error " + std::to_string(code);
    if (known != nullptr) reason += std::string(" ") + known->name;
    const std::string text = errorText(code);
    if (!text.empty()) reason += " (" + text + ")";
    return reason;
}

// Keeps the reason for the call that just failed, naming it and GetLastError()'s code, and
// returns false. Called at once, before any other system call can replace the code.
bool failed(std::string& failure, const char* step, const char* call) {
    const DWORD code = GetLastError();
    failure = describeError(step, call, code);
    return false;
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
bool limitTimeouts(HINTERNET request, const Deadline& deadline, std::string& failure) {
    long left = deadline.remainingMs();
    if (left <= 0) {
        failure = "timed out: the request took its " +
                  std::to_string(Transport::kTotalTimeoutMs / 1000) + " s in all";
        return false;
    }
    int connect = static_cast<int>(std::min(left, Transport::kConnectTimeoutMs));
    DWORD response = static_cast<DWORD>(left);
    if (!WinHttpSetTimeouts(request, connect, connect, static_cast<int>(left),
                            static_cast<int>(left))) {
        return failed(failure, "setting up the request failed", "WinHttpSetTimeouts");
    }
    if (!WinHttpSetOption(request, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &response,
                          sizeof response)) {
        return failed(failure, "setting up the request failed",
                      "WinHttpSetOption(RECEIVE_RESPONSE_TIMEOUT)");
    }
    return true;
}

bool readWholeFile(const std::string& path, std::string& contents, std::string& failure) {
    const std::string step = "reading the CA file \"" + path + "\" failed";
    FileHandle file(CreateFileW(widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return failed(failure, step.c_str(), "CreateFileW");
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file.get(), &size)) return failed(failure, step.c_str(), "GetFileSizeEx");
    if (size.QuadPart > kMaxCaFileBytes) {
        failure = step + ": it is over " + std::to_string(kMaxCaFileBytes / (1024 * 1024)) + " MiB";
        return false;
    }
    contents.assign(static_cast<std::size_t>(size.QuadPart), '\0');
    DWORD done = 0;
    while (done < contents.size()) {
        DWORD read = 0;
        if (!ReadFile(file.get(), &contents[done], static_cast<DWORD>(contents.size() - done),
                      &read, nullptr)) {
            return failed(failure, step.c_str(), "ReadFile");
        }
        if (read == 0) {
            failure = step + ": it ended before its size";
            return false;
        }
        done += read;
    }
    return true;
}

// What is wrong with a chain the system built, in words, from the errors of its trust status;
// `anchors` names where its authorities were looked for.
std::string describeChainErrors(DWORD errors, const std::string& anchors) {
    struct Known {
        DWORD flag;
        const char* words;
    };
    static const Known known[] = {
        {CERT_TRUST_IS_PARTIAL_CHAIN, "no chain leads to an authority in "},
        {CERT_TRUST_IS_UNTRUSTED_ROOT, "the chain ends at an authority not in "},
        {CERT_TRUST_IS_NOT_TIME_VALID, "a certificate has expired or is not yet valid"},
        {CERT_TRUST_IS_REVOKED, "a certificate is revoked"},
        {CERT_TRUST_IS_NOT_SIGNATURE_VALID, "a signature does not verify"},
        {CERT_TRUST_IS_NOT_VALID_FOR_USAGE, "a certificate is not for server authentication"},
        {CERT_TRUST_INVALID_BASIC_CONSTRAINTS, "an issuer in the chain is not an authority"},
        {CERT_TRUST_INVALID_NAME_CONSTRAINTS, "a name constraint is broken"},
        {CERT_TRUST_INVALID_EXTENSION, "a certificate has an invalid extension"},
        {CERT_TRUST_IS_CYCLIC, "the chain is cyclic"},
    };
    std::string words;
    for (const Known& each : known) {
        if ((errors & each.flag) == 0) continue;
        if (!words.empty()) words += ", ";
        words += each.words;
        if (each.flag == CERT_TRUST_IS_PARTIAL_CHAIN || each.flag == CERT_TRUST_IS_UNTRUSTED_ROOT) {
            words += anchors;
        }
    }
    if (words.empty()) words = "the chain is not trusted";
    return words + " (chain status " + hex32(errors) + ")";
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

// The authorities a server's certificate is checked against by the library itself, before a
// request leaves: those of a caFile, trusted instead of the system's (a chain engine whose only
// roots they are, so that the system's own rules for chains, such as authority and path-length
// constraints, key usage, dates and signatures, apply unchanged), or the system's own.
class Authorities {
public:
    // The system's authorities, as WinHTTP itself would check them.
    static std::unique_ptr<Authorities> system() {
        return std::unique_ptr<Authorities>(
            new Authorities(CertStore(nullptr), ChainEngine(nullptr)));
    }

    // Null, with the reason in `failure`, when the file cannot be read, holds no certificate
    // or no engine can be made.
    static std::unique_ptr<Authorities> load(const std::string& path, std::string& failure) {
        std::string pem;
        if (!readWholeFile(path, pem, failure)) return nullptr;
        const char* step = "setting up the caFile's authorities failed";
        CertStore roots(CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, CERT_STORE_CREATE_NEW_FLAG,
                                      nullptr));
        if (!roots) {
            failed(failure, step, "CertOpenStore");
            return nullptr;
        }
        if (addPemCertificates(pem, roots.get()) == 0) {
            failure = "reading the CA file \"" + path + "\" failed: it holds no certificate";
            return nullptr;
        }

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
            if (!CertCreateCertificateChainEngine(&config, &engine)) {
                failed(failure, step, "CertCreateCertificateChainEngine");
                return nullptr;
            }
        }
        return std::unique_ptr<Authorities>(
            new Authorities(std::move(roots), ChainEngine(engine)));
    }

    // Whether these are a caFile's, in place of the system's.
    bool fromFile() const { return static_cast<bool>(roots_); }
    // What the check is named in a failure.
    const char* checkName() const { return fromFile() ? "caFile check" : "system check"; }

    // Why `server`, with the certificates it sent along, does not chain to one of the
    // authorities or is not fit to serve `host`; empty when it does and is.
    std::string distrust(PCCERT_CONTEXT server, const std::wstring& host) const {
        std::string failure;
        const char* step = "certificate trust failed";
        LPSTR serverAuth[] = {const_cast<LPSTR>(szOID_PKIX_KP_SERVER_AUTH)};
        CERT_CHAIN_PARA para{};
        para.cbSize = sizeof para;
        para.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
        para.RequestedUsage.Usage.cUsageIdentifier = 1;
        para.RequestedUsage.Usage.rgpszUsageIdentifier = serverAuth;
        PCCERT_CHAIN_CONTEXT built = nullptr;
        // Nothing is fetched from the network, which would not keep within the request's time.
        // Against a file, only what the server sent and the file are used; the system's check
        // may use the issuers WinHTTP's own check fetched before it.
        const DWORD flags = fromFile()
                                ? CERT_CHAIN_DISABLE_AIA | CERT_CHAIN_CACHE_ONLY_URL_RETRIEVAL
                                : CERT_CHAIN_CACHE_ONLY_URL_RETRIEVAL;
        if (!CertGetCertificateChain(engine_.get(), server, nullptr, server->hCertStore, &para,
                                     flags, nullptr, &built)) {
            failed(failure, step, "CertGetCertificateChain");
            return failure;
        }
        Chain chain(built);
        if (chain->TrustStatus.dwErrorStatus != CERT_TRUST_NO_ERROR) {
            return std::string(step) + ": " + checkName() + ": " +
                   describeChainErrors(chain->TrustStatus.dwErrorStatus,
                                       fromFile() ? "the caFile" : "the system's trust store");
        }
        if (chain->cChain == 0) {
            return std::string(step) + ": " + checkName() + ": the chain is empty";
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
                                              &status)) {
            failed(failure, step, "CertVerifyCertificateChainPolicy");
            return failure;
        }
        if (status.dwError != 0) {
            // The policy names the check that failed: the host name, a date, the usage...
            const DWORD code = static_cast<DWORD>(status.dwError);
            std::string reason = std::string(code == static_cast<DWORD>(CERT_E_CN_NO_MATCH)
                                                 ? "host name check failed"
                                                 : step) +
                                 ": " + checkName() + ": the SSL policy gave " + hex32(code);
            const std::string text = errorText(code);
            if (!text.empty()) reason += " (" + text + ")";
            return reason;
        }
        if (!fromFile()) return std::string();

        // The engine ends chains at the file's authorities only; looking the anchor up keeps a
        // system authority out even where an engine would not honour that.
        const CERT_SIMPLE_CHAIN* simple = chain->rgpChain[chain->cChain - 1];
        if (simple->cElement == 0) return std::string(step) + ": caFile check: the chain is empty";
        CertContext anchor(CertFindCertificateInStore(
            roots_.get(), X509_ASN_ENCODING, 0, CERT_FIND_EXISTING,
            simple->rgpElement[simple->cElement - 1]->pCertContext, nullptr));
        if (!anchor) {
            return std::string(step) +
                   ": caFile check: the chain ends at an authority not in the caFile";
        }
        return std::string();
    }

private:
    Authorities(CertStore roots, ChainEngine engine)
        : roots_(std::move(roots)), engine_(std::move(engine)) {}

    CertStore roots_;
    ChainEngine engine_;
};

// Why the server's certificate is not trusted by `authorities` for `host`; empty when it is.
std::string serverCertificateDistrust(HINTERNET request, const Authorities& authorities,
                                      const std::wstring& host) {
    PCCERT_CONTEXT certificate = nullptr;
    DWORD size = sizeof certificate;
    std::string failure;
    if (!WinHttpQueryOption(request, WINHTTP_OPTION_SERVER_CERT_CONTEXT, &certificate, &size)) {
        failed(failure, "certificate trust failed", "WinHttpQueryOption(SERVER_CERT_CONTEXT)");
        return failure;
    }
    if (certificate == nullptr) return "certificate trust failed: the server sent no certificate";
    CertContext owned(certificate);
    return authorities.distrust(certificate, host);
}

// The checks a WINHTTP_CALLBACK_STATUS_SECURE_FAILURE report names as failed, most telling
// first, as "<step>: <flag words>".
std::string describeSecureFailure(DWORD flags) {
    struct Known {
        DWORD flag;
        const char* step;
        const char* words;
    };
    static const Known known[] = {
        {WINHTTP_CALLBACK_STATUS_FLAG_CERT_CN_INVALID, "host name check failed",
         "CERT_CN_INVALID (the certificate is for another host name)"},
        {WINHTTP_CALLBACK_STATUS_FLAG_CERT_DATE_INVALID, "certificate date check failed",
         "CERT_DATE_INVALID (the certificate has expired or is not yet valid)"},
        {WINHTTP_CALLBACK_STATUS_FLAG_INVALID_CA, "certificate trust failed",
         "INVALID_CA (no trusted authority signed the certificate)"},
        {WINHTTP_CALLBACK_STATUS_FLAG_CERT_REVOKED, "certificate trust failed",
         "CERT_REVOKED (the certificate is revoked)"},
        {WINHTTP_CALLBACK_STATUS_FLAG_CERT_REV_FAILED, "revocation check failed",
         "CERT_REV_FAILED (whether the certificate is revoked could not be learnt)"},
        {WINHTTP_CALLBACK_STATUS_FLAG_INVALID_CERT, "certificate check failed",
         "INVALID_CERT (the certificate is not valid)"},
        {WINHTTP_CALLBACK_STATUS_FLAG_CERT_WRONG_USAGE, "certificate check failed",
         "CERT_WRONG_USAGE (the certificate is not for server authentication)"},
        {WINHTTP_CALLBACK_STATUS_FLAG_SECURITY_CHANNEL_ERROR, "TLS handshake failed",
         "SECURITY_CHANNEL_ERROR (the secure channel failed)"},
    };
    const char* step = nullptr;
    std::string words;
    for (const Known& each : known) {
        if ((flags & each.flag) == 0) continue;
        if (step == nullptr) step = each.step;
        if (!words.empty()) words += ", ";
        words += each.words;
    }
    if (step == nullptr) return "TLS handshake failed: secure failure flags " + hex32(flags);
    return std::string(step) + ": " + words;
}

// What the status callback learns of one request: the library's own check of the server, made
// once the TLS handshake is done and before the request goes out, and the checks WinHTTP reports
// failed.
struct ServerCheck {
    enum class Verdict { Pending, Trusted, Rejected };

    ServerCheck(const Authorities* trusted, const std::wstring& server)
        : authorities(trusted), host(server) {}

    const Authorities* authorities;  // null: WinHTTP's check alone
    const std::wstring& host;
    Verdict verdict = Verdict::Pending;
    std::string rejection;  // why the verdict is Rejected
    bool requestClosed = false;
    DWORD secureFailure = 0;  // WINHTTP_CALLBACK_STATUS_FLAG_* of a reported secure failure

    DWORD_PTR context() { return reinterpret_cast<DWORD_PTR>(this); }
};

void CALLBACK checkServerBeforeSending(HINTERNET request, DWORD_PTR context, DWORD status,
                                       LPVOID information, DWORD informationSize) {
    if (context == 0) return;
    ServerCheck* check = reinterpret_cast<ServerCheck*>(context);
    if (status == WINHTTP_CALLBACK_STATUS_SECURE_FAILURE) {
        if (information != nullptr && informationSize >= sizeof(DWORD)) {
            check->secureFailure |= *static_cast<const DWORD*>(information);
        }
        return;
    }
    if (status != WINHTTP_CALLBACK_STATUS_SENDING_REQUEST) return;
    if (check->verdict != ServerCheck::Verdict::Pending || check->authorities == nullptr) return;
    check->rejection = serverCertificateDistrust(request, *check->authorities, check->host);
    if (check->rejection.empty()) {
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
// to be checked against the system's authorities, and the other way round. Some WinHTTP
// versions (Wine's) reuse a connection across sessions, though: once a caFile has been used,
// the library checks servers against the system's authorities itself too, before a request
// leaves.
struct KeptState {
    std::mutex mutex;
    InternetHandle connection{nullptr};
    InternetHandle session{nullptr};
    std::wstring userAgent;
    std::string caFile;
    std::unique_ptr<Authorities> authorities;  // null: WinHTTP's check alone
    std::wstring host;
    INTERNET_PORT port = 0;
    // Whether the server has passed the check of `authorities`, without any request failing
    // since. Until it has, a request carrying nothing of value goes first.
    bool serverChecked = false;
    // Whether a session trusting a caFile was ever made. Never reset.
    bool caFileUsed = false;

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
bool readToEnd(HINTERNET request, const Deadline& deadline, std::string& failure) {
    char discarded[4096];
    for (;;) {
        DWORD read = 0;
        if (!limitTimeouts(request, deadline, failure)) return false;
        if (!WinHttpReadData(request, discarded, sizeof discarded, &read)) {
            return failed(failure, "receiving failed", "WinHttpReadData");
        }
        if (read == 0) return true;
    }
}

HINTERNET openRequest(HINTERNET connection, const wchar_t* verb, const std::wstring& path,
                      std::string& failure) {
    InternetHandle handle(WinHttpOpenRequest(connection, verb, path.c_str(), nullptr,
                                             WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                             WINHTTP_FLAG_SECURE));
    if (!handle) {
        failed(failure, "setting up the request failed", "WinHttpOpenRequest");
        return nullptr;
    }
    // A redirect would carry the signed body to another address; libcurl does not follow one
    // either.
    DWORD disabled = WINHTTP_DISABLE_REDIRECTS;
    if (!WinHttpSetOption(handle.get(), WINHTTP_OPTION_DISABLE_FEATURE, &disabled,
                          sizeof disabled)) {
        failed(failure, "setting up the request failed", "WinHttpSetOption(DISABLE_FEATURE)");
        return nullptr;
    }
    return handle.release();
}

// Has the status callback watch `request` for the checks WinHTTP reports failed and, when it is
// checked against `authorities`, just before it is sent. For a caFile's, WinHTTP is told to
// accept an unknown root (dates and host name are still checked), and the callback checks the
// chain against the file instead.
bool watchRequest(HINTERNET request, const Authorities* authorities, std::string& failure) {
    const char* step = "setting up the request failed";
    const bool checked = authorities != nullptr;
    if (checked && authorities->fromFile()) {
        DWORD flags = 0;
        DWORD size = sizeof flags;
        if (!WinHttpQueryOption(request, WINHTTP_OPTION_SECURITY_FLAGS, &flags, &size)) flags = 0;
        flags |= SECURITY_FLAG_IGNORE_UNKNOWN_CA;
        if (!WinHttpSetOption(request, WINHTTP_OPTION_SECURITY_FLAGS, &flags, sizeof flags)) {
            return failed(failure, step, "WinHttpSetOption(SECURITY_FLAGS)");
        }
    }
    const DWORD reports =
        WINHTTP_CALLBACK_FLAG_SECURE_FAILURE | (checked ? WINHTTP_CALLBACK_FLAG_SEND_REQUEST : 0);
    if (WinHttpSetStatusCallback(request, checkServerBeforeSending, reports, 0) ==
        WINHTTP_INVALID_STATUS_CALLBACK) {
        return failed(failure, step, "WinHttpSetStatusCallback");
    }
    return true;
}

// Why `call` failed with `code` on a request the status callback watched: the check of ours
// that rejected the server, or the code, after the checks WinHTTP reported failed.
std::string watchedFailure(const ServerCheck& check, const char* step, const char* call,
                           DWORD code) {
    if (!check.rejection.empty()) return check.rejection;
    const std::string reason = describeError(step, call, code);
    if (check.secureFailure == 0) return reason;
    return describeSecureFailure(check.secureFailure) + "; " + reason;
}

// Whether WinHttpSendRequest, which gave `sent`, sent the watched request; if not, says why.
// Called at once, before any other system call can replace the error code.
bool sendSucceeded(BOOL sent, InternetHandle& handle, const ServerCheck& check,
                   std::string& failure) {
    const DWORD sendError = sent ? ERROR_SUCCESS : GetLastError();
    if (check.requestClosed) {
        handle.release();  // closed by the status callback already
        failure = check.rejection;
        return false;
    }
    if (!sent) {
        failure = watchedFailure(check, "sending failed", "WinHttpSendRequest", sendError);
        return false;
    }
    return true;
}

// A request without a body or a header of value ("HEAD /"), to have the server checked before
// a signed request leaves: Wine sends a request's head even when the check made just before
// sending rejects the server, and some WinHTTP versions do not report that step at all.
bool probeServer(KeptState& kept, const Deadline& deadline, std::string& failure) {
    InternetHandle handle(openRequest(kept.connection.get(), L"HEAD", L"/", failure));
    if (!handle || !watchRequest(handle.get(), kept.authorities.get(), failure) ||
        !limitTimeouts(handle.get(), deadline, failure)) {
        return false;
    }
    ServerCheck check(kept.authorities.get(), kept.host);
    BOOL sent = WinHttpSendRequest(handle.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                                   WINHTTP_NO_REQUEST_DATA, 0, 0, check.context());
    if (!sendSucceeded(sent, handle, check, failure)) return false;
    if (check.verdict != ServerCheck::Verdict::Trusted) {
        failure = std::string("certificate trust failed: this system does not let the server's "
                              "certificate be checked (") +
                  kept.authorities->checkName() + ") before a request leaves";
        return false;
    }
    // The answer does not matter; taking it in hands the connection back for the next request.
    std::string ignored;
    if (limitTimeouts(handle.get(), deadline, ignored) &&
        WinHttpReceiveResponse(handle.get(), nullptr)) {
        readToEnd(handle.get(), deadline, ignored);
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

// Posts `request` once; false, with the reason in `result.failure`, when no answer came.
bool postOnce(const HttpRequest& request, KeptState& kept, HttpResult& result) {
    std::string& failure = result.failure;
    Deadline deadline(Transport::kTotalTimeoutMs);
    if (request.body.size() > MAXDWORD) {
        failure = "not sent: the body is over 4 GiB";
        return false;
    }
    const DWORD bodySize = static_cast<DWORD>(request.body.size());

    std::wstring url = widen(request.url);
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.dwSchemeLength = static_cast<DWORD>(-1);
    parts.dwHostNameLength = static_cast<DWORD>(-1);
    parts.dwUrlPathLength = static_cast<DWORD>(-1);
    parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    if (!WinHttpCrackUrl(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts)) {
        return failed(failure, "URL not usable", "WinHttpCrackUrl");
    }
    if (parts.nScheme != INTERNET_SCHEME_HTTPS || parts.dwHostNameLength == 0) {
        failure = "URL not usable: only https://host URLs are spoken";
        return false;
    }
    std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    std::wstring path(parts.lpszUrlPath, parts.dwUrlPathLength);
    path.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    if (path.empty()) path = L"/";

    std::wstring userAgent = widen(request.userAgent);
    if (!kept.session || kept.userAgent != userAgent || kept.caFile != request.caFile) {
        kept.drop();
        if (!request.caFile.empty()) {
            kept.authorities = Authorities::load(request.caFile, failure);
            if (!kept.authorities) return false;
            kept.caFileUsed = true;
        } else if (kept.caFileUsed) {
            kept.authorities = Authorities::system();
        }
        HINTERNET session = openSession(userAgent);
        if (session == nullptr) return failed(failure, "setting up the session failed", "WinHttpOpen");
        kept.session.reset(session);
        kept.userAgent = userAgent;
        kept.caFile = request.caFile;
    }
    if (!kept.connection || kept.host != host || kept.port != parts.nPort) {
        kept.serverChecked = false;
        HINTERNET connection = WinHttpConnect(kept.session.get(), host.c_str(), parts.nPort, 0);
        if (connection == nullptr) {
            failed(failure, "setting up the connection failed", "WinHttpConnect");
            kept.connection.reset(nullptr);
            return false;
        }
        kept.connection.reset(connection);
        kept.host = host;
        kept.port = parts.nPort;
    }
    if (kept.authorities && !kept.serverChecked) {
        if (!probeServer(kept, deadline, failure)) return false;
        kept.serverChecked = true;
    }

    InternetHandle handle(openRequest(kept.connection.get(), L"POST", path, failure));
    if (!handle) return false;
    const bool checked = kept.authorities != nullptr;
    if (!watchRequest(handle.get(), kept.authorities.get(), failure)) return false;

    std::wstring headers = widen(std::string(Transport::kContentTypeLine) + "\r\n" +
                                 Transport::kAuthorizationPrefix + request.authorization);
    if (!limitTimeouts(handle.get(), deadline, failure)) return false;
    // Without a check to wait for, the body goes with the head, so that WinHTTP may send both
    // at once. With one, the body is announced but handed over only once the server is known
    // to be trusted.
    ServerCheck check(kept.authorities.get(), kept.host);
    BOOL sent =
        checked ? WinHttpSendRequest(handle.get(), headers.c_str(),
                                     static_cast<DWORD>(headers.size()), WINHTTP_NO_REQUEST_DATA,
                                     0, bodySize, check.context())
                : WinHttpSendRequest(handle.get(), headers.c_str(),
                                     static_cast<DWORD>(headers.size()),
                                     const_cast<char*>(request.body.data()), bodySize, bodySize,
                                     check.context());
    if (!sendSucceeded(sent, handle, check, failure)) return false;
    if (checked) {
        // Without a verdict before the head left (the sending step was not reported this
        // time), nothing more is sent and the request does not count.
        if (check.verdict != ServerCheck::Verdict::Trusted) {
            failure = std::string("certificate trust failed: the server's certificate was not "
                                  "checked (") +
                      kept.authorities->checkName() +
                      ") before the request left, so its body was held back";
            return false;
        }
        DWORD offset = 0;
        while (offset < bodySize) {
            DWORD written = 0;
            if (!limitTimeouts(handle.get(), deadline, failure)) return false;
            if (!WinHttpWriteData(handle.get(), request.body.data() + offset, bodySize - offset,
                                  &written)) {
                return failed(failure, "sending failed", "WinHttpWriteData");
            }
            if (written == 0) {
                failure = "sending failed: WinHttpWriteData took nothing of the body";
                return false;
            }
            offset += written;
        }
    }

    if (!limitTimeouts(handle.get(), deadline, failure)) return false;
    if (!WinHttpReceiveResponse(handle.get(), nullptr)) {
        const DWORD code = GetLastError();
        failure = watchedFailure(check, "receiving failed", "WinHttpReceiveResponse", code);
        return false;
    }
    DWORD status = 0;
    DWORD statusSize = sizeof status;
    if (!WinHttpQueryHeaders(handle.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &statusSize,
                             WINHTTP_NO_HEADER_INDEX)) {
        return failed(failure, "receiving failed", "WinHttpQueryHeaders(STATUS_CODE)");
    }
    if (!readToEnd(handle.get(), deadline, failure)) return false;
    if (status == 429 || status == 503) result.retryAfterSeconds = retryAfterSeconds(handle.get());
    result.status = static_cast<int>(status);
    return true;
}

}  // namespace

void prepareHttpTransport() { keptState(); }

void releaseHttpThreadState() {}

void cancelHttpRequests() {}

// The sender thread and the host's thread may both post: the kept state is theirs in turn.
HttpResult sendHttpRequest(const HttpRequest& request) {
    HttpResult result;
    if (!Transport::isSendable(request)) {
        result.failure = std::string("not sent: ") + Transport::refusalReason(request);
        return result;
    }
    KeptState& kept = keptState();
    std::lock_guard<std::mutex> lock(kept.mutex);
    try {
        postOnce(request, kept, result);
    } catch (const std::range_error&) {
        // A URL, user agent or file name that is not UTF-8 cannot be handed to WinHTTP.
        result = HttpResult();
        result.failure = "not sent: the URL, user agent or caFile name is not UTF-8";
    }
    // After a failure the connection may be a new one next time: check it again first.
    if (result.status == 0) {
        kept.serverChecked = false;
        result.retryAfterSeconds = -1;
    }
    return result;
}

}  // namespace ORBA
