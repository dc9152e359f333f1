#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <wincrypt.h>
#include <winhttp.h>

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/Utf.h"
#include "tracker/HttpTransport.h"
#include "tracker/transport/RequestRules.h"

namespace ORBA {

namespace {

constexpr DWORD kMaxCaFileBytes = 16 * 1024 * 1024;
constexpr int kMaxChainDepth = 8;

class InternetHandle {
public:
    explicit InternetHandle(HINTERNET handle) : handle_(handle) {}
    ~InternetHandle() {
        if (handle_ != nullptr) WinHttpCloseHandle(handle_);
    }
    InternetHandle(const InternetHandle&) = delete;
    InternetHandle& operator=(const InternetHandle&) = delete;

    HINTERNET get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }
    // For a handle that was closed elsewhere and must not be closed twice.
    void forget() { handle_ = nullptr; }

private:
    HINTERNET handle_;
};

class FileHandle {
public:
    explicit FileHandle(HANDLE handle) : handle_(handle) {}
    ~FileHandle() {
        if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;

    HANDLE get() const { return handle_; }

private:
    HANDLE handle_;
};

struct CertContextDeleter {
    void operator()(PCCERT_CONTEXT context) const { CertFreeCertificateContext(context); }
};
using CertContext = std::unique_ptr<const CERT_CONTEXT, CertContextDeleter>;
using Authorities = std::vector<CertContext>;

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
    if (file.get() == INVALID_HANDLE_VALUE) return false;
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

// Every "CERTIFICATE" block of a PEM text; blocks that do not decode are skipped.
Authorities loadPemCertificates(const std::string& pem) {
    static const std::string kBegin = "-----BEGIN CERTIFICATE-----";
    static const std::string kEnd = "-----END CERTIFICATE-----";
    Authorities certificates;
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
        PCCERT_CONTEXT certificate = CertCreateCertificateContext(
            X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, der.data(), derSize);
        if (certificate != nullptr) certificates.emplace_back(certificate);
    }
    return certificates;
}

bool currentlyValid(PCCERT_CONTEXT certificate) {
    return CertVerifyTimeValidity(nullptr, certificate->pCertInfo) == 0;
}

bool issuedBy(PCCERT_CONTEXT subject, PCCERT_CONTEXT issuer) {
    return CertCompareCertificateName(X509_ASN_ENCODING, &subject->pCertInfo->Issuer,
                                      &issuer->pCertInfo->Subject) &&
           CryptVerifyCertificateSignatureEx(
               0, X509_ASN_ENCODING, CRYPT_VERIFY_CERT_SIGN_SUBJECT_CERT,
               const_cast<CERT_CONTEXT*>(subject), CRYPT_VERIFY_CERT_SIGN_ISSUER_CERT,
               const_cast<CERT_CONTEXT*>(issuer), 0, nullptr);
}

// The certificate among those the server sent along with its own that signed `subject`.
CertContext sentIssuerOf(PCCERT_CONTEXT server, PCCERT_CONTEXT subject) {
    if (server->hCertStore == nullptr) return CertContext();
    PCCERT_CONTEXT candidate = nullptr;
    // Each call releases the previous candidate.
    while ((candidate = CertFindCertificateInStore(
                server->hCertStore, X509_ASN_ENCODING, 0, CERT_FIND_SUBJECT_NAME,
                &subject->pCertInfo->Issuer, candidate)) != nullptr) {
        if (!CertCompareCertificate(X509_ASN_ENCODING, candidate->pCertInfo, subject->pCertInfo) &&
            issuedBy(subject, candidate)) {
            return CertContext(candidate);
        }
    }
    return CertContext();
}

// Whether the server's certificate leads, through intermediates the server sent, to one of
// `authorities`, every link signed by the next and within its validity period.
bool chainsToAuthority(PCCERT_CONTEXT server, const Authorities& authorities) {
    CertContext current(CertDuplicateCertificateContext(server));
    for (int depth = 0; current && depth < kMaxChainDepth; ++depth) {
        if (!currentlyValid(current.get())) return false;
        for (const CertContext& authority : authorities) {
            if (issuedBy(current.get(), authority.get())) return currentlyValid(authority.get());
        }
        current = sentIssuerOf(server, current.get());
    }
    return false;
}

bool serverCertificateTrusted(HINTERNET request, const Authorities& authorities) {
    PCCERT_CONTEXT certificate = nullptr;
    DWORD size = sizeof certificate;
    if (!WinHttpQueryOption(request, WINHTTP_OPTION_SERVER_CERT_CONTEXT, &certificate, &size) ||
        certificate == nullptr) {
        return false;
    }
    CertContext owned(certificate);
    return chainsToAuthority(certificate, authorities);
}

// The check of a server against the caller's own authorities, made once the TLS handshake is
// done and before the request goes out.
struct ServerCheck {
    enum class Verdict { Pending, Trusted, Rejected };

    explicit ServerCheck(const Authorities& trusted) : authorities(trusted) {}

    const Authorities& authorities;
    Verdict verdict = Verdict::Pending;
    bool requestClosed = false;
};

void CALLBACK checkServerBeforeSending(HINTERNET request, DWORD_PTR context, DWORD status, LPVOID,
                                       DWORD) {
    if (status != WINHTTP_CALLBACK_STATUS_SENDING_REQUEST || context == 0) return;
    ServerCheck* check = reinterpret_cast<ServerCheck*>(context);
    if (check->verdict != ServerCheck::Verdict::Pending) return;
    if (serverCertificateTrusted(request, check->authorities)) {
        check->verdict = ServerCheck::Verdict::Trusted;
        return;
    }
    check->verdict = ServerCheck::Verdict::Rejected;
    // Closing the request cancels the send where WinHTTP allows it; where it does not (Wine
    // sends the headers it has built), the body is still held back below.
    WinHttpCloseHandle(request);
    check->requestClosed = true;
}

int postOnce(const HttpRequest& request) {
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

    Authorities authorities;
    if (!request.caFile.empty()) {
        std::string pem;
        if (!readWholeFile(request.caFile, pem)) return 0;
        authorities = loadPemCertificates(pem);
        if (authorities.empty()) return 0;
    }

    InternetHandle session(WinHttpOpen(widen(request.userAgent).c_str(),
                                       WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                                       WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session) return 0;
    InternetHandle connection(WinHttpConnect(session.get(), host.c_str(), parts.nPort, 0));
    if (!connection) return 0;
    InternetHandle handle(WinHttpOpenRequest(connection.get(), L"POST", path.c_str(), nullptr,
                                             WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                             WINHTTP_FLAG_SECURE));
    if (!handle) return 0;

    // A redirect would carry the signed body to another address; libcurl does not follow one
    // either.
    DWORD disabled = WINHTTP_DISABLE_REDIRECTS;
    if (!WinHttpSetOption(handle.get(), WINHTTP_OPTION_DISABLE_FEATURE, &disabled,
                          sizeof disabled)) {
        return 0;
    }

    ServerCheck check(authorities);
    if (!authorities.empty()) {
        // The system's authorities are set aside for the caller's: WinHTTP is told to accept an
        // unknown root (dates and host name are still checked), and the callback checks the
        // chain against the caller's file instead.
        DWORD flags = 0;
        DWORD size = sizeof flags;
        if (!WinHttpQueryOption(handle.get(), WINHTTP_OPTION_SECURITY_FLAGS, &flags, &size)) {
            flags = 0;
        }
        flags |= SECURITY_FLAG_IGNORE_UNKNOWN_CA;
        if (!WinHttpSetOption(handle.get(), WINHTTP_OPTION_SECURITY_FLAGS, &flags, sizeof flags) ||
            WinHttpSetStatusCallback(handle.get(), checkServerBeforeSending,
                                     WINHTTP_CALLBACK_FLAG_SEND_REQUEST,
                                     0) == WINHTTP_INVALID_STATUS_CALLBACK) {
            return 0;
        }
    }

    std::wstring headers = widen(std::string(Transport::kContentTypeLine) + "\r\n" +
                                 Transport::kAuthorizationPrefix + request.authorization);
    if (!limitTimeouts(handle.get(), deadline)) return 0;
    // The body is announced but not handed over yet: it leaves only once the server is known
    // to be trusted.
    BOOL sent = WinHttpSendRequest(handle.get(), headers.c_str(),
                                   static_cast<DWORD>(headers.size()), WINHTTP_NO_REQUEST_DATA, 0,
                                   bodySize, reinterpret_cast<DWORD_PTR>(&check));
    if (check.requestClosed) {
        handle.forget();
        return 0;
    }
    if (!sent) return 0;
    // WinHTTP versions that do not report the sending step in synchronous mode are checked here.
    if (!authorities.empty() && check.verdict != ServerCheck::Verdict::Trusted &&
        !serverCertificateTrusted(handle.get(), authorities)) {
        return 0;
    }

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

    if (!limitTimeouts(handle.get(), deadline) || !WinHttpReceiveResponse(handle.get(), nullptr)) {
        return 0;
    }
    DWORD status = 0;
    DWORD statusSize = sizeof status;
    if (!WinHttpQueryHeaders(handle.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &statusSize,
                             WINHTTP_NO_HEADER_INDEX)) {
        return 0;
    }
    // Read the answer to its end, as libcurl does, so that a response cut short is no answer.
    char discarded[4096];
    for (;;) {
        DWORD read = 0;
        if (!limitTimeouts(handle.get(), deadline) ||
            !WinHttpReadData(handle.get(), discarded, sizeof discarded, &read)) {
            return 0;
        }
        if (read == 0) break;
    }
    return static_cast<int>(status);
}

}  // namespace

int postHttpRequest(const HttpRequest& request) {
    if (!Transport::isSendable(request)) return 0;
    try {
        return postOnce(request);
    } catch (const std::range_error&) {
        // A URL, user agent or file name that is not UTF-8 cannot be handed to WinHTTP.
        return 0;
    }
}

}  // namespace ORBA
