// What a SendEvent costs the host's thread, against what the network alone costs: SendEvent in
// sync mode, SendEvent in background mode and a bare libcurl client that keeps its connection,
// interleaved in one process, on loopback and through a proxy that delays each direction.
// Run through bench/run-delivery.sh, which starts the collector and the proxy.
//
// Environment: the collector's ORBA_TEST_* variables (tests/scripts/with-collector.sh), and
// ORBA_BENCH_DELAYED_URL, the proxy's "https://localhost:PORT" (that network is left out without
// it), and ORBA_BENCH_STATE_PARENT (see main). Argument: the number of samples per column and
// network (default 300).
#include <curl/curl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "orba/Plugin.h"
#include "tracker/HttpTransport.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

void run(const std::string& command) {
    TriggerOrbaThirdPartyTrackerEventCallbackFunc(command.c_str());
}

double microsecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

struct Summary {
    double median = 0;
    double p99 = 0;
};

Summary summarise(std::vector<double> samples) {
    if (samples.empty()) return {};
    std::sort(samples.begin(), samples.end());
    const auto rank = [&samples](double share) {
        const std::size_t index =
            static_cast<std::size_t>(share * static_cast<double>(samples.size()));
        return samples[std::min(index, samples.size() - 1)];
    };
    return {rank(0.5), rank(0.99)};
}

const std::string kAppId = "bench-delivery";
// Back-to-back background SendEvents with the server down.
constexpr int kBurst = 10000;
constexpr int kBurstRounds = 5;

class Bench {
public:
    Bench(std::string devKey, std::string caFile, std::string recordFile)
        : devKey_(std::move(devKey)),
          caFile_(std::move(caFile)),
          recordFile_(std::move(recordFile)) {}

    void init(const std::string& baseUrl, bool background) {
        run(R"({"event":"InitTracker","body":{"isSteam":false,"config":{"devKey":")" + devKey_ +
            R"(","appId":")" + kAppId + R"(","appVersion":"1.4.2","endpoint":")" + baseUrl +
            R"(","caFile":")" + caFile_ + "\"" + (background ? R"(,"delivery":"background")" : "") +
            "}}}");
    }

    // One SendEvent as a game sends one: a name, two parameters, a few attributes.
    double timeSendEvent() {
        const Clock::time_point start = Clock::now();
        run(kSendEvent);
        ++sent_;
        return microsecondsSince(start);
    }

    // A SendEvent that no server is meant to receive (the burst below).
    double timeUnsentEvent() {
        const Clock::time_point start = Clock::now();
        run(kSendEvent);
        return microsecondsSince(start);
    }

    void flush() { run(R"({"event":"FlushTracker","body":{"timeoutMs":60000}})"); }

    // The bare client posts the very request SendEvent made last (URL, body, signature), over a
    // connection of its own that it keeps.
    bool prepareBare(const std::string& baseUrl) {
        std::optional<nlohmann::json> last;
        std::ifstream record(recordFile_);
        for (std::string line; std::getline(record, line);) {
            nlohmann::json parsed = nlohmann::json::parse(line, nullptr, false);
            if (parsed.is_object() &&
                parsed.value("path", "").find("/inapp/") != std::string::npos) {
                last = std::move(parsed);
            }
        }
        if (!last) return false;
        bareBody_ = (*last)["body"].get<std::string>();
        bareUrl_ = baseUrl + (*last)["path"].get<std::string>();
        bareUserAgent_ = (*last)["user_agent"].get<std::string>();
        bareHeaders_.reset();
        for (const std::string& line : {std::string("Content-Type: application/json"),
                                        "Authorization: " + ORBA::hmacSha256Hex(devKey_, bareBody_),
                                        std::string("Expect:"), std::string("Accept:")}) {
            bareHeaders_.append(line);
        }
        CURL* h = bare_.get();
        curl_easy_reset(h);
        curl_easy_setopt(h, CURLOPT_URL, bareUrl_.c_str());
        curl_easy_setopt(h, CURLOPT_HTTPHEADER, bareHeaders_.list);
        curl_easy_setopt(h, CURLOPT_POSTFIELDS, bareBody_.data());
        curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(bareBody_.size()));
        curl_easy_setopt(h, CURLOPT_USERAGENT, bareUserAgent_.c_str());
        curl_easy_setopt(h, CURLOPT_CAINFO, caFile_.c_str());
        curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, discard);
        curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
        return true;
    }

    // 0 when the collector did not accept the request.
    double timeBare() {
        const Clock::time_point start = Clock::now();
        long status = 0;
        if (curl_easy_perform(bare_.get()) != CURLE_OK ||
            curl_easy_getinfo(bare_.get(), CURLINFO_RESPONSE_CODE, &status) != CURLE_OK ||
            status != 202) {
            return 0;
        }
        ++barePosted_;
        return microsecondsSince(start);
    }

    // Requests that should have reached the collector by now.
    long posted() const { return sent_ + barePosted_; }

private:
    static size_t discard(char*, size_t size, size_t count, void*) { return size * count; }

    struct Easy {
        Easy() : handle(curl_easy_init()) {}
        ~Easy() { curl_easy_cleanup(handle); }
        CURL* get() const { return handle; }
        CURL* handle;
    };
    struct Headers {
        ~Headers() { reset(); }
        void reset() {
            curl_slist_free_all(list);
            list = nullptr;
        }
        void append(const std::string& line) { list = curl_slist_append(list, line.c_str()); }
        curl_slist* list = nullptr;
    };

    const std::string kSendEvent =
        R"({"event":"SendEvent","body":{"eventName":"level_up","eventParameters":{"level":12,)"
        R"("score":48210},"customAttributes":{"hero":"mage","zone":"north","ratio":0.75}}})";

    std::string devKey_;
    std::string caFile_;
    std::string recordFile_;
    Easy bare_;
    Headers bareHeaders_;
    std::string bareBody_;
    std::string bareUrl_;
    std::string bareUserAgent_;
    long sent_ = 0;
    long barePosted_ = 0;
};

struct Columns {
    std::vector<double> sync;
    std::vector<double> bare;
    std::vector<double> background;
    bool backgroundRan = false;
};

std::string formatMicroseconds(double us) {
    char text[32];
    if (us >= 1000) {
        std::snprintf(text, sizeof text, "%.2f ms", us / 1000);
    } else {
        std::snprintf(text, sizeof text, "%.1f us", us);
    }
    return text;
}

void printRow(const std::string& network, const std::string& column,
              const std::vector<double>& samples, bool ran) {
    if (!ran) {
        std::printf("%-22s %-22s %6s %12s %12s\n", network.c_str(), column.c_str(), "-", "n/a",
                    "n/a");
        return;
    }
    const Summary summary = summarise(samples);
    std::printf("%-22s %-22s %6zu %12s %12s\n", network.c_str(), column.c_str(), samples.size(),
                formatMicroseconds(summary.median).c_str(),
                formatMicroseconds(summary.p99).c_str());
}

// Whether InitTracker took background mode: a SendEvent then returns well within the round trip
// the delayed network needs, where a sync one cannot.
bool backgroundAccepted(Bench& bench, const std::string& delayedUrl) {
    if (delayedUrl.empty()) return false;
    bench.init(delayedUrl, true);
    std::vector<double> probe;
    for (int i = 0; i < 5; ++i) probe.push_back(bench.timeSendEvent());
    bench.flush();
    return summarise(probe).median < 2000;
}

// Rounds of `block` samples: sync SendEvent and the bare client alternate one by one; background
// SendEvents follow in a block of their own (one module is active at a time), ended by a flush so
// that their requests do not overlap the next round's.
Columns measure(Bench& bench, const std::string& url, int samples, bool background) {
    Columns columns;
    columns.backgroundRan = background;
    constexpr int kBlock = 50;
    // A first request opens the connections and leaves a request for the bare client to copy.
    bench.init(url, false);
    bench.timeSendEvent();
    if (!bench.prepareBare(url) || bench.timeBare() == 0) {
        std::fprintf(stderr, "the collector did not accept the bare client's request\n");
        std::exit(1);
    }
    for (int done = 0; done < samples; done += kBlock) {
        const int count = std::min(kBlock, samples - done);
        bench.init(url, false);
        for (int i = 0; i < count; ++i) {
            columns.sync.push_back(bench.timeSendEvent());
            const double bare = bench.timeBare();
            if (bare == 0) {
                std::fprintf(stderr, "the collector did not accept the bare client's request\n");
                std::exit(1);
            }
            columns.bare.push_back(bare);
        }
        if (!background) continue;
        bench.init(url, true);
        for (int i = 0; i < count; ++i) {
            columns.background.push_back(bench.timeSendEvent());
            // As often as a game that sends between frames; the sender works meanwhile.
            usleep(1000);
        }
        bench.flush();
    }
    return columns;
}

// How many in-app requests of the bench's app the collector accepted.
long acceptedInApp(const std::string& recordFile) {
    long accepted = 0;
    std::ifstream record(recordFile);
    for (std::string line; std::getline(record, line);) {
        nlohmann::json parsed = nlohmann::json::parse(line, nullptr, false);
        if (!parsed.is_object()) continue;
        const std::string path = parsed.value("path", "");
        if (path.find("/inapp/") != std::string::npos &&
            path.compare(path.size() - std::min(path.size(), kAppId.size()), std::string::npos,
                         kAppId) == 0 &&
            parsed.value("status", 0) == 202) {
            ++accepted;
        }
    }
    return accepted;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string url = environment("ORBA_TEST_COLLECTOR_URL");
    const std::string delayedUrl = environment("ORBA_BENCH_DELAYED_URL");
    const std::string recordFile = environment("ORBA_TEST_RECORD_FILE");
    if (url.empty() || recordFile.empty()) {
        std::fprintf(stderr, "no collector: run through bench/run-delivery.sh\n");
        return 2;
    }
    const int samples = argc > 1 ? std::max(1, std::atoi(argv[1])) : 300;

    // The identity and the outbox of these runs stay out of the user's own state folder, in a
    // folder made under ORBA_BENCH_STATE_PARENT (default /tmp): what a file costs to make
    // depends on where on the disk it goes.
    std::string parent = environment("ORBA_BENCH_STATE_PARENT");
    if (parent.empty()) parent = "/tmp";
    std::string stateTemplate = parent + "/orba-delivery-bench.XXXXXX";
    if (mkdtemp(stateTemplate.data()) == nullptr) return 1;
    const std::string state = stateTemplate;
    setenv("XDG_STATE_HOME", state.c_str(), 1);

    curl_global_init(CURL_GLOBAL_DEFAULT);
    int status = 0;
    {
        Bench bench(environment("ORBA_TEST_DEV_KEY"), environment("ORBA_TEST_CA_FILE"), recordFile);
        const bool background = backgroundAccepted(bench, delayedUrl);

        std::printf("%-22s %-22s %6s %12s %12s\n", "network", "column", "n", "median", "p99");
        struct Network {
            std::string name;
            std::string url;
        };
        std::vector<Network> networks = {{"loopback", url}};
        if (!delayedUrl.empty()) networks.push_back({"10 ms round trip", delayedUrl});
        for (const Network& network : networks) {
            const Columns columns = measure(bench, network.url, samples, background);
            printRow(network.name, "sync SendEvent", columns.sync, true);
            printRow(network.name, "bare keep-alive curl", columns.bare, true);
            printRow(network.name, "background SendEvent", columns.background,
                     columns.backgroundRan);
            const Summary sync = summarise(columns.sync);
            const Summary bare = summarise(columns.bare);
            std::printf("%-22s %-22s %6s %11.2fx %11.2fx\n", network.name.c_str(), "sync / bare",
                        "", sync.median / bare.median, sync.p99 / bare.p99);
            if (columns.backgroundRan) {
                const Summary backgroundSummary = summarise(columns.background);
                std::printf("%-22s %-22s %6s %11.4fx %11.4fx\n", network.name.c_str(),
                            "background / bare", "", backgroundSummary.median / bare.median,
                            backgroundSummary.p99 / bare.p99);
            }
        }
        if (!background) {
            std::printf(
                "background: n/a (InitTracker did not take \"delivery\": \"background\")\n");
        } else {
            // A burst while the service is down: the outbox fills to its bound and the intake
            // faster than the disk takes it. No call may hold the game's frame up.
            // The first burst fills the outbox to its bound; the later ones meet it full. A
            // stall of the library's own recurs in every burst; one of the machine's (a kernel
            // thread, a virtual processor not running) comes and goes, so the best of the
            // bursts' worst calls is shown beside the worst of all.
            bench.init("https://127.0.0.1:1", true);
            std::vector<double> first;
            std::vector<double> worstOfEach;
            for (int round = 0; round < kBurstRounds; ++round) {
                std::vector<double> burst;
                burst.reserve(kBurst);
                for (int i = 0; i < kBurst; ++i) burst.push_back(bench.timeUnsentEvent());
                worstOfEach.push_back(*std::max_element(burst.begin(), burst.end()));
                if (round == 0) first = std::move(burst);
            }
            printRow("server down", "burst SendEvent", first, true);
            std::string each;
            for (const double worst : worstOfEach) each += " " + formatMicroseconds(worst);
            std::printf("%-22s %-22s %6d %12s   (each burst:%s)\n", "server down",
                        "burst worst call", kBurst * kBurstRounds,
                        formatMicroseconds(*std::max_element(worstOfEach.begin(),
                                                             worstOfEach.end()))
                            .c_str(),
                        each.c_str());
            std::printf("%-22s %-22s %6d %12s\n", "server down", "burst best worst call",
                        kBurstRounds,
                        formatMicroseconds(*std::min_element(worstOfEach.begin(),
                                                             worstOfEach.end()))
                            .c_str());
        }
        const long accepted = acceptedInApp(recordFile);
        if (accepted < bench.posted()) {
            std::fprintf(stderr, "the collector accepted %ld of %ld requests\n", accepted,
                         bench.posted());
            status = 1;
        }
    }
    curl_global_cleanup();
    // The library's threads may still be writing out or removing files there.
    std::error_code ignored;
    std::filesystem::remove_all(state, ignored);
    return status;
}
