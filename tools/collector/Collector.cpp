#include "Collector.h"

#include <httplib.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>
#include <stdexcept>
#include <thread>

#include "Certificates.h"
#include "View.h"

namespace OrbaCollector {

const char* const kUsage =
    "usage: orba-collector --dev-key KEY [--port N] [--ca-out FILE] [--cert FILE --key FILE]\n"
    "                      [--status N] [--record FILE] [--counters FILE]\n"
    "                      [--intermediate | --intermediate-not-ca] [--pretty] [--ui-port N]\n"
    "  --port N       port on 127.0.0.1 to listen on; 0 (default) picks a free one\n"
    "  --dev-key KEY  dev key the Authorization header must be the HMAC-SHA256 under\n"
    "  --ca-out FILE  write the throwaway authority's certificate (PEM) to FILE\n"
    "  --cert, --key  serve this PEM certificate (chain) and key instead of throwaway ones\n"
    "  --status N     status answered for accepted event requests (default 202); a 429 comes\n"
    "                 with Retry-After: 1 (or the date two seconds ahead, see below)\n"
    "  --record FILE  also append each request's JSON line to FILE\n"
    "  --intermediate sign the throwaway server certificate through an intermediate authority,\n"
    "                 which the server sends along\n"
    "  --intermediate-not-ca  the same through an intermediate marked as no authority\n"
    "                 (basicConstraints CA:FALSE), a chain that clients must refuse\n"
    "  --counters FILE  keep {\"tls_handshakes\":N,\"signed_heads\":M} in FILE: the TLS\n"
    "                 handshakes completed and the request heads with an Authorization header\n"
    "                 received so far, bodies or not\n"
    "  --pretty       show requests on standard output as readable blocks (the record file\n"
    "                 keeps JSON lines)\n"
    "  --ui-port N    serve the integration view, a page showing each request as it arrives\n"
    "                 with what is wrong in it, on http://127.0.0.1:N/ (0 picks a free port;\n"
    "                 the same data as JSON at /requests.json)\n"
    "Prints {\"listening\":PORT} (then {\"ui\":\"http://127.0.0.1:P/\"} with --ui-port), then\n"
    "one JSON line per request. Test controls: POST\n"
    "/_collector/status (body: status), /_collector/delay (body: milliseconds) and\n"
    "/_collector/retry-after (body: seconds or date, the form of a 429's Retry-After).\n";

namespace {

constexpr long kMaxDelayMs = 10L * 60 * 1000;

// A whole decimal number within [low, high], or false.
bool parseNumber(const std::string& text, long low, long high, long& value) {
    if (text.empty() || text.size() > 9) return false;
    long parsed = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        parsed = parsed * 10 + (c - '0');
    }
    if (parsed < low || parsed > high) return false;
    value = parsed;
    return true;
}

// The time `ahead` seconds from now as an HTTP date ("Sun, 06 Nov 1994 08:49:37 GMT").
std::string httpDate(long ahead) {
    static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const std::time_t when = std::time(nullptr) + ahead;
    std::tm utc{};
    gmtime_r(&when, &utc);
    char text[40];
    std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d GMT", kDays[utc.tm_wday],
                  utc.tm_mday, kMonths[utc.tm_mon], utc.tm_year + 1900, utc.tm_hour, utc.tm_min,
                  utc.tm_sec);
    return text;
}

std::string hmacSha256Hex(const std::string& key, const std::string& message) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()),
             reinterpret_cast<const unsigned char*>(message.data()), message.size(), digest,
             &length) == nullptr) {
        return std::string();
    }
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned int i = 0; i < length; ++i) {
        hex.push_back(kDigits[digest[i] >> 4]);
        hex.push_back(kDigits[digest[i] & 0x0F]);
    }
    return hex;
}

bool writeFile(const std::string& path, const std::string& contents) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    bool written = std::fwrite(contents.data(), 1, contents.size(), file) == contents.size();
    return std::fclose(file) == 0 && written;
}

class Collector {
public:
    Collector(const Options& options, std::FILE* record, View* view)
        : devKey_(options.devKey),
          status_(options.status),
          pretty_(options.pretty),
          record_(record),
          view_(view) {}

    void route(httplib::Server& server) {
        server.Post("/_collector/status",
                    [this](const httplib::Request& request, httplib::Response& response) {
                        long status = 0;
                        if (!parseNumber(request.body, 100, 599, status)) return refuse(response);
                        status_ = static_cast<int>(status);
                        response.set_content("ok\n", "text/plain");
                    });
        server.Post("/_collector/delay",
                    [this](const httplib::Request& request, httplib::Response& response) {
                        long delay = 0;
                        if (!parseNumber(request.body, 0, kMaxDelayMs, delay))
                            return refuse(response);
                        delayMs_ = delay;
                        response.set_content("ok\n", "text/plain");
                    });
        server.Post("/_collector/retry-after",
                    [this](const httplib::Request& request, httplib::Response& response) {
                        if (request.body != "seconds" && request.body != "date")
                            return refuse(response);
                        retryAfterDate_ = request.body == "date";
                        response.set_content("ok\n", "text/plain");
                    });
        server.Post(R"(/v1\.0/c2s/(first_open|session|inapp)/app/(nativepc|steam)/[^/]+)",
                    [this](const httplib::Request& request, httplib::Response& response) {
                        waitDelay();
                        answer(request, response, true);
                    });
        server.Post(".*", [this](const httplib::Request& request, httplib::Response& response) {
            answer(request, response, false);
        });
    }

    // Ends any delay in progress, so that the server's threads can finish.
    void stop() {
        std::lock_guard<std::mutex> lock(stopMutex_);
        stopping_ = true;
        stopped_.notify_all();
    }

    // Writes one line to standard output (or `shown` there, when given) and, for a request, to
    // the record file.
    void emit(const std::string& line, bool isRequest = true, const std::string& shown = "") {
        std::lock_guard<std::mutex> lock(outputMutex_);
        const std::string& out = shown.empty() ? line : shown;
        std::fwrite(out.data(), 1, out.size(), stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
        if (record_ != nullptr && isRequest) {
            std::fwrite(line.data(), 1, line.size(), record_);
            std::fputc('\n', record_);
            std::fflush(record_);
        }
    }

private:
    static void refuse(httplib::Response& response) {
        response.status = 400;
        response.set_content("bad value\n", "text/plain");
    }

    void waitDelay() {
        long delay = delayMs_;
        if (delay <= 0) return;
        std::unique_lock<std::mutex> lock(stopMutex_);
        stopped_.wait_for(lock, std::chrono::milliseconds(delay), [this] { return stopping_; });
    }

    void answer(const httplib::Request& request, httplib::Response& response, bool eventPath) {
        std::string signature = request.get_header_value("Authorization");
        bool signatureOk = !signature.empty() && signature == hmacSha256Hex(devKey_, request.body);
        response.status = !eventPath ? 404 : signatureOk ? status_.load() : 403;
        // A client that honours it waits a whole second before asking again; the date form, two
        // seconds ahead, is as far as a whole second or two from the client's clock.
        if (response.status == 429) {
            response.set_header("Retry-After", retryAfterDate_ ? httpDate(2) : std::string("1"));
        }

        nlohmann::ordered_json line;
        line["path"] = request.path;
        line["user_agent"] = request.get_header_value("User-Agent");
        line["content_type"] = request.get_header_value("Content-Type");
        line["body"] = request.body;
        line["signature"] = signature;
        line["signature_ok"] = signatureOk;
        line["status"] = response.status;
        if (view_ != nullptr) {
            view_->record({request.path, request.get_header_value("User-Agent"),
                           request.get_header_value("Content-Type"), request.body, !signature.empty(),
                           signatureOk, response.status});
        }
        // Bytes that are not UTF-8 are shown replaced rather than failing the line.
        const std::string json = line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
        if (!pretty_) return emit(json);
        const std::string shown =
            "POST " + request.path + "  ->  " + std::to_string(response.status) +
            (signatureOk ? "  (signature verified)" : "  (SIGNATURE DOES NOT MATCH)") +
            "\n  user agent: " + request.get_header_value("User-Agent") + "\n  body: " +
            request.body;
        emit(json, true, shown);
    }

    const std::string devKey_;
    std::atomic<int> status_;
    const bool pretty_;
    std::atomic<long> delayMs_{0};
    std::atomic<bool> retryAfterDate_{false};
    std::FILE* record_;
    View* view_;
    std::mutex outputMutex_;
    std::mutex stopMutex_;
    std::condition_variable stopped_;
    bool stopping_ = false;
};

// What a test needs to know beyond the requests that were answered: the TLS handshakes completed
// so far (how many connections its requests needed) and the request heads that carried an
// Authorization header, whether or not their body followed (whether a signature left a client
// that should have held it back). Rewritten after each change.
class Counters {
public:
    static void attach(httplib::SSLServer& server, const std::string& file) {
        file_ = file;
        index_ = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
        write();
        SSL_CTX_set_info_callback(server.ssl_context(), onInfo);
        // Runs once a head is read, before the body is.
        server.set_pre_routing_handler([](const httplib::Request& request, httplib::Response&) {
            if (request.has_header("Authorization")) {
                ++signedHeads_;
                write();
            }
            return httplib::Server::HandlerResponse::Unhandled;
        });
    }

private:
    static void onInfo(const SSL* ssl, int where, int) {
        // TLS 1.3 reports the end of a handshake again after post-handshake messages; count
        // each connection once.
        if ((where & SSL_CB_HANDSHAKE_DONE) == 0 || SSL_get_ex_data(ssl, index_) != nullptr) return;
        SSL_set_ex_data(const_cast<SSL*>(ssl), index_, &file_);
        ++handshakes_;
        write();
    }

    static void write() {
        std::lock_guard<std::mutex> lock(mutex_);
        // Replaced whole, so that a reader never sees a half-written number.
        const std::string partial = file_ + ".partial";
        if (writeFile(partial, "{\"tls_handshakes\":" + std::to_string(handshakes_.load()) +
                                   ",\"signed_heads\":" + std::to_string(signedHeads_.load()) +
                                   "}\n")) {
            std::rename(partial.c_str(), file_.c_str());
        }
    }

    static std::string file_;
    static int index_;
    static std::atomic<long> handshakes_;
    static std::atomic<long> signedHeads_;
    static std::mutex mutex_;
};
std::string Counters::file_;
int Counters::index_ = -1;
std::atomic<long> Counters::handshakes_{0};
std::atomic<long> Counters::signedHeads_{0};
std::mutex Counters::mutex_;

std::unique_ptr<httplib::SSLServer> makeServer(const Options& options) {
    if (!options.certFile.empty()) {
        return std::make_unique<httplib::SSLServer>(options.certFile.c_str(),
                                                    options.keyFile.c_str());
    }
    auto identity = std::make_shared<ServerIdentity>(makeThrowawayIdentity(
        options.intermediateNotCa ? Intermediate::NotAuthority
        : options.intermediate    ? Intermediate::Authority
                                  : Intermediate::None));
    if (!options.caOut.empty() && !writeFile(options.caOut, toPem(identity->authority.get()))) {
        throw std::runtime_error("cannot write " + options.caOut);
    }
    // The context takes its own references to the certificates and the key.
    return std::make_unique<httplib::SSLServer>([identity](SSL_CTX& context) {
        return SSL_CTX_set_min_proto_version(&context, TLS1_2_VERSION) == 1 &&
               SSL_CTX_use_certificate(&context, identity->certificate.get()) == 1 &&
               SSL_CTX_use_PrivateKey(&context, identity->key.get()) == 1 &&
               (!identity->intermediate ||
                SSL_CTX_add1_chain_cert(&context, identity->intermediate.get()) == 1) &&
               SSL_CTX_check_private_key(&context) == 1;
    });
}

}  // namespace

bool parseOptions(int argc, char** argv, Options& options, std::string& error) {
    for (int i = 1; i < argc; ++i) {
        std::string name = argv[i];
        if (name == "--help") {
            error = "help asked for";
            return false;
        }
        if (name == "--intermediate") {
            options.intermediate = true;
            continue;
        }
        if (name == "--intermediate-not-ca") {
            options.intermediateNotCa = true;
            continue;
        }
        if (name == "--pretty") {
            options.pretty = true;
            continue;
        }
        static const std::set<std::string> kTakingValues = {
            "--port",   "--status",   "--dev-key", "--ca-out", "--cert",
            "--key",    "--record",   "--counters", "--ui-port"};
        if (kTakingValues.count(name) == 0) {
            error = "unknown option " + name;
            return false;
        }
        if (i + 1 >= argc) {
            error = "missing value after " + name;
            return false;
        }
        std::string value = argv[++i];
        long number = 0;
        if (name == "--port") {
            if (!parseNumber(value, 0, 65535, number)) {
                error = "--port takes 0 to 65535";
                return false;
            }
            options.port = static_cast<int>(number);
        } else if (name == "--ui-port") {
            if (!parseNumber(value, 0, 65535, number)) {
                error = "--ui-port takes 0 to 65535";
                return false;
            }
            options.uiPort = static_cast<int>(number);
        } else if (name == "--status") {
            if (!parseNumber(value, 100, 599, number)) {
                error = "--status takes 100 to 599";
                return false;
            }
            options.status = static_cast<int>(number);
        } else if (name == "--dev-key") {
            options.devKey = value;
        } else if (name == "--ca-out") {
            options.caOut = value;
        } else if (name == "--cert") {
            options.certFile = value;
        } else if (name == "--key") {
            options.keyFile = value;
        } else if (name == "--counters") {
            options.countersFile = value;
        } else {
            options.recordFile = value;
        }
    }
    if (options.devKey.empty()) {
        error = "--dev-key is required";
    } else if (options.certFile.empty() != options.keyFile.empty()) {
        error = "--cert and --key go together";
    } else if (!options.certFile.empty() && (!options.caOut.empty() || options.intermediate ||
                                           options.intermediateNotCa)) {
        error =
            "--ca-out and --intermediate concern the throwaway authority, which --cert replaces";
    }
    return error.empty();
}

int runCollector(const Options& options) {
    std::FILE* record = nullptr;
    if (!options.recordFile.empty()) {
        record = std::fopen(options.recordFile.c_str(), "ab");
        if (record == nullptr) {
            std::fprintf(stderr, "orba-collector: cannot open %s: %s\n", options.recordFile.c_str(),
                         std::strerror(errno));
            return 1;
        }
    }
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> recordOwner(record, std::fclose);

    std::unique_ptr<httplib::SSLServer> server;
    try {
        server = makeServer(options);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "orba-collector: %s\n", e.what());
        return 1;
    }
    if (!server->is_valid()) {
        std::fprintf(stderr, "orba-collector: the TLS set-up failed (certificate or key)\n");
        return 1;
    }
    if (!options.countersFile.empty()) Counters::attach(*server, options.countersFile);
    // Without it every new TLS connection on loopback waits for a delayed acknowledgement.
    server->set_tcp_nodelay(true);
    // cpp-httplib closes a connection after 5 requests by default; a web server keeps one for
    // hundreds, and clients that keep their connection must be seen doing so.
    server->set_keep_alive_max_count(1000);

    std::unique_ptr<View> view;
    std::unique_ptr<httplib::Server> uiServer;
    int uiPort = -1;
    if (options.uiPort >= 0) {
        view = std::make_unique<View>();
        uiServer = std::make_unique<httplib::Server>();
        view->route(*uiServer);
        uiPort = options.uiPort == 0 ? uiServer->bind_to_any_port("127.0.0.1")
                 : uiServer->bind_to_port("127.0.0.1", options.uiPort) ? options.uiPort
                                                                        : -1;
        if (uiPort <= 0) {
            std::fprintf(stderr, "orba-collector: cannot listen on 127.0.0.1:%d for the view\n",
                         options.uiPort);
            return 1;
        }
    }

    Collector collector(options, record, view.get());
    collector.route(*server);

    int port = options.port;
    if (port == 0) {
        port = server->bind_to_any_port("127.0.0.1");
    } else if (!server->bind_to_port("127.0.0.1", port)) {
        port = -1;
    }
    if (port <= 0) {
        std::fprintf(stderr, "orba-collector: cannot listen on 127.0.0.1:%d\n", options.port);
        return 1;
    }
    collector.emit("{\"listening\":" + std::to_string(port) + "}", false);
    std::thread uiThread;
    if (uiServer) {
        collector.emit("{\"ui\":\"http://127.0.0.1:" + std::to_string(uiPort) + "/\"}", false);
        uiThread = std::thread([&] { uiServer->listen_after_bind(); });
    }

    std::atomic<bool> signalled{false};
    std::thread signalWaiter([&] {
        sigset_t stopSignals;
        sigemptyset(&stopSignals);
        sigaddset(&stopSignals, SIGINT);
        sigaddset(&stopSignals, SIGTERM);
        int received = 0;
        sigwait(&stopSignals, &received);
        signalled = true;
        collector.stop();
        server->stop();
    });
    // The view's page and event streams end with the collector, whichever way it ends.
    const auto stopView = [&] {
        if (!uiServer) return;
        view->stop();
        uiServer->stop();
        uiThread.join();
    };
    bool listened = server->listen_after_bind();
    if (!signalled) {
        // Wakes the waiting thread when the server ended on its own.
        pthread_kill(signalWaiter.native_handle(), SIGTERM);
    }
    signalWaiter.join();
    stopView();
    return listened || signalled ? 0 : 1;
}

}  // namespace OrbaCollector
