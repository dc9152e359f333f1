// The durable outbox on every platform, against a private temporary folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "orba/Logger.h"
#include "support/DebugOutputCapture.h"
#include "support/ScratchFolderTest.h"
#include "platform/OutboxFolder.h"
#include "tracker/Outbox.h"

namespace {

namespace fs = std::filesystem;
using ORBA::EventKind;
using ORBA::HttpRequest;
using ORBA::Outbox;
using ORBA::StoredRequest;

// Secrets that no log line may show.
const std::string kAuthorization = "Signature secret-authorization";
const std::string kBodySecret = "secret-body";

HttpRequest makeRequest(int number) {
    HttpRequest request;
    request.url = "https://collector.invalid:8443/api/v1/app/" + std::to_string(number);
    // Bytes a careless format would stumble over: NUL, line breaks, its own field names.
    request.body = "{\"n\":" + std::to_string(number) + ",\"x\":\"" + kBodySecret +
                   std::string("\0\nend\nbody 3\n", 14) + "\"}";
    request.authorization = kAuthorization + std::to_string(number);
    request.userAgent = "Game/1.0 (\xC3\xA9t\xC3\xA9)";
    request.caFile = number % 2 == 0 ? std::string() : "/tmp/ca dir/ca.pem";
    return request;
}

void expectSameRequest(const HttpRequest& actual, const HttpRequest& expected) {
    EXPECT_EQ(actual.url, expected.url);
    EXPECT_EQ(actual.body, expected.body);
    EXPECT_EQ(actual.authorization, expected.authorization);
    EXPECT_EQ(actual.userAgent, expected.userAgent);
    EXPECT_EQ(actual.caFile, expected.caFile);
}

std::vector<std::string> fileNames(const fs::path& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error)) {
        names.push_back(entry.path().filename().u8string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

void writeText(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

std::string readText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class OutboxTest : public OrbaTest::ScratchFolderTest {
protected:
    OutboxTest() : ScratchFolderTest("orba-outbox-") {}
};

TEST_F(OutboxTest, KeepsRequestsExactlyAndFirstInFirstOutAcrossObjects) {
    Outbox first(folder(), "game");
    Outbox second(folder(), "game");
    const EventKind kinds[] = {EventKind::FirstOpen, EventKind::InApp, EventKind::Session,
                               EventKind::InApp};
    first.prepare();  // no folder yet: nothing to make files in
    for (int i = 0; i < 4; ++i) {
        ASSERT_TRUE((i % 2 == 0 ? first : second).store(kinds[i], makeRequest(i)));
        // Where the system makes files ahead, the next store of `first` writes one of those.
        if (i == 0) first.prepare();
    }
    first.prepare();
    // App ids that differ in case only, or hold any characters, or run long, keep apart.
    Outbox other(folder(), "Game");
    Outbox odd(folder(), "../\\:*?\"<>|\n" + std::string(300, 'x'));
    ASSERT_TRUE(other.store(EventKind::InApp, makeRequest(10)));
    ASSERT_TRUE(odd.store(EventKind::InApp, makeRequest(11)));

    // Where the system maps files, `first` keeps its stores in its intake until it writes them out.
    first.writeOut();
    const std::vector<StoredRequest> stored = Outbox(folder(), "game").pending();
    ASSERT_EQ(stored.size(), 4u);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(stored[i].kind, kinds[i]);
        expectSameRequest(stored[i].request, makeRequest(i));
    }
    EXPECT_LT(stored[0].id, stored[1].id);
    // Files made ahead and not used yet show nowhere.
    for (const std::string& name : fileNames(root_ / "app-game")) {
        if (name == "intake" || name == "bound.lock") continue;
        EXPECT_EQ(name.substr(name.size() - 4), ".req") << name;
    }
    ASSERT_EQ(other.pending().size(), 1u);
    ASSERT_EQ(odd.pending().size(), 1u);
    expectSameRequest(odd.pending()[0].request, makeRequest(11));
    for (const std::string& name : fileNames(root_)) {
        EXPECT_LE(name.size(), 96u) << name;
        EXPECT_EQ(name.find_first_of("/\\:*?\"<>|\n"), std::string::npos) << name;
    }

    {
        // Opened as the C runtime opens files, which on Windows keeps them from being removed;
        // the reader lets go a moment later, and the removal waits for that.
        auto reader = std::make_unique<std::ifstream>(root_ / "app-game" / (stored[1].id + ".req"));
        ASSERT_TRUE(reader->is_open());
        std::thread letGo([&reader] {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            reader.reset();
        });
        first.remove(stored[1].id);
        letGo.join();
    }
    first.remove("../../escape");
    const std::vector<StoredRequest> left = second.pending();
    ASSERT_EQ(left.size(), 3u);
    EXPECT_EQ(left[0].id, stored[0].id);
    EXPECT_EQ(left[1].id, stored[2].id);

    {
        // Held open for good (a read-only folder does the same): the delivered request stays, is
        // told once, and this process does not send it again; another process still sees it.
        std::ifstream holder(root_ / "app-game" / (left[0].id + ".req"));
        ASSERT_TRUE(holder.is_open());
        OrbaTest::DebugOutputCapture capture;
        first.remove(left[0].id);
        const std::string log = capture.finish();
        const bool removed = !fs::exists(root_ / "app-game" / (left[0].id + ".req"));
        if (!removed) {
            EXPECT_NE(log.find("Outbox of app game: could not remove delivered " + left[0].id +
                               ".req"),
                      std::string::npos)
                << log;
            EXPECT_EQ(first.pending().size(), 2u);
            EXPECT_EQ(second.pending().size(), 3u);
            EXPECT_EQ(first.ownWaiting(), 1u);  // its other one
        }
#ifdef _WIN32
        EXPECT_FALSE(removed);
#endif
    }

    // One sender at a time, whoever asks; the claim goes with its holder.
    EXPECT_TRUE(first.claimSending());
    EXPECT_TRUE(first.claimSending());
    EXPECT_FALSE(second.claimSending());
    EXPECT_TRUE(other.claimSending());
    {
        Outbox third(folder(), "game");
        EXPECT_FALSE(third.claimSending());
    }
}

TEST_F(OutboxTest, ClaimPassesOnWhenItsHolderIsGone) {
    auto holder = std::make_unique<Outbox>(folder(), "game");
    Outbox waiting(folder(), "game");
    ASSERT_TRUE(holder->claimSending());
    EXPECT_FALSE(waiting.claimSending());
    holder.reset();
    EXPECT_TRUE(waiting.claimSending());
    waiting.releaseSending();

    // Folders where the locks go (planted, or left by a tool) are set aside, and the locks serve.
    fs::create_directories(root_ / "app-late" / "sending.lock" / "inside");
    fs::create_directories(root_ / "app-late" / "bound.lock" / "inside");
    Outbox late(folder(), "late");
    OrbaTest::DebugOutputCapture capture;
    EXPECT_TRUE(late.store(EventKind::InApp, makeRequest(1)));
    EXPECT_TRUE(late.claimSending());
    EXPECT_FALSE(Outbox(folder(), "late").claimSending());
    EXPECT_EQ(late.pending().size(), 1u);
    const std::string log = capture.finish();
    EXPECT_NE(log.find("Outbox of app late: set aside sending.lock (not a lock file)\n"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("Outbox of app late: set aside bound.lock (not a lock file)\n"),
              std::string::npos)
        << log;
}

TEST_F(OutboxTest, FullOutboxDropsTheOldestInAppRequestAndNeverALaunch) {
    // Stores written as files at once, and stores kept in an intake and written out later (where
    // the system maps files), keep the same bound.
    for (const bool intake : {false, true}) {
        SCOPED_TRACE(intake ? "through the intake" : "file by file");
        const std::string suffix = intake ? "-intake" : "";
        const auto make = [&](const std::string& appId) {
            auto box = std::make_unique<Outbox>(folder(), appId + suffix, 10);
            if (intake) box->prepare();
            return box;
        };
        OrbaTest::DebugOutputCapture capture;
        const auto outbox = make("cap");
        ASSERT_TRUE(outbox->store(EventKind::FirstOpen, makeRequest(0)));
        for (int i = 1; i < 10; ++i) ASSERT_TRUE(outbox->store(EventKind::InApp, makeRequest(i)));
        const std::string oldestInApp = outbox->pending()[1].id;
        ASSERT_TRUE(outbox->store(EventKind::Session, makeRequest(10)));
        ASSERT_TRUE(outbox->store(EventKind::InApp, makeRequest(11)));

        const std::vector<StoredRequest> stored = outbox->pending();
        ASSERT_EQ(stored.size(), 10u);
        EXPECT_EQ(stored[0].kind, EventKind::FirstOpen);
        EXPECT_EQ(stored[1].request.url, makeRequest(3).url);
        EXPECT_EQ(stored[8].kind, EventKind::Session);
        EXPECT_EQ(stored[9].request.url, makeRequest(11).url);
        // Another object, say of another process, counts what is there before it adds.
        {
            const auto other = make("cap");
            ASSERT_TRUE(other->store(EventKind::InApp, makeRequest(12)));
            other->writeOut();
        }
        EXPECT_EQ(outbox->pending()[1].request.url, makeRequest(4).url);
        EXPECT_EQ(outbox->pending().size(), 10u);

        // Launches only: another launch is kept all the same, an in-app request is refused (by
        // the intake when it is written out).
        const auto launches = make("launches");
        for (int i = 0; i < 10; ++i) {
            ASSERT_TRUE(launches->store(EventKind::Session, makeRequest(i)));
        }
        EXPECT_EQ(launches->store(EventKind::InApp, makeRequest(10)),
                  intake && ORBA::Platform::MappedFile::supported());
        EXPECT_TRUE(launches->store(EventKind::FirstOpen, makeRequest(11)));
        EXPECT_EQ(launches->pending().size(), 11u);

        const std::string log = capture.finish();
        EXPECT_NE(log.find("Outbox of app cap" + suffix + ": full: dropped the oldest in-app request " +
                           oldestInApp + "\n"),
                  std::string::npos)
            << log;
        EXPECT_NE(log.find("Outbox of app launches" + suffix +
                           ": full of launch requests: in-app request not stored\n"),
                  std::string::npos)
            << log;
        EXPECT_EQ(log.find(kBodySecret), std::string::npos);
        EXPECT_EQ(log.find(kAuthorization), std::string::npos);
    }
}

TEST_F(OutboxTest, SetsAsideWhatDoesNotReadBackAndDeliversTheRest) {
    Outbox outbox(folder(), "game");
    for (int i = 0; i < 6; ++i) ASSERT_TRUE(outbox.store(EventKind::InApp, makeRequest(i)));
    const std::vector<StoredRequest> stored = outbox.pending();
    const fs::path app = root_ / "app-game";
    const auto path = [&](int i) { return app / (stored[i].id + ".req"); };
    const std::string whole = readText(path(1));
    writeText(path(1), whole.substr(0, whole.size() / 2));
    writeText(path(2), "{\"url\":\"https://elsewhere.invalid\"}");
    std::string newer = whole;
    newer.replace(newer.find(" 1\n"), 3, " 2\n");
    writeText(path(3), newer);
    Outbox other(folder(), "other");
    ASSERT_TRUE(other.store(EventKind::InApp, makeRequest(9)));
    writeText(path(4), readText(root_ / "app-other" / (other.pending()[0].id + ".req")));
    writeText(app / "notes.txt", "kept by someone else");
    // A writer killed before its rename leaves a temporary; a live one's is young.
    const fs::path stale =
        app / (stored[0].id.substr(0, 20) + "-0000000001-00000000000000000000.tmp");
    const fs::path fresh =
        app / (stored[0].id.substr(0, 20) + "-0000000002-00000000000000000000.tmp");
    writeText(stale, whole.substr(0, 40));
    writeText(fresh, whole.substr(0, 40));
    fs::last_write_time(stale, fs::file_time_type::clock::now() - std::chrono::minutes(2));
    // Files set aside earlier, nearly up to the bound: one more than it goes, the oldest first.
    fs::create_directories(app / "set-aside");
    const std::size_t earlier = ORBA::kMaxSetAsideFiles - 5;
    for (std::size_t i = 0; i < earlier; ++i) {
        const fs::path old = app / "set-aside" / ("old-" + std::to_string(100 + i));
        writeText(old, "set aside before");
        fs::last_write_time(old, fs::file_time_type::clock::now() - std::chrono::hours(3) +
                                     std::chrono::minutes(i));
    }

    OrbaTest::DebugOutputCapture capture;
    const std::vector<StoredRequest> left = outbox.pending();
    ASSERT_EQ(left.size(), 2u);
    EXPECT_EQ(left[0].id, stored[0].id);
    EXPECT_EQ(left[1].id, stored[5].id);
    expectSameRequest(left[1].request, makeRequest(5));
    EXPECT_EQ(outbox.pending().size(), 2u);
    const std::string log = capture.finish();

    const std::string prefix = "Outbox of app game: set aside ";
    for (const std::string& line :
         {prefix + stored[1].id + ".req (truncated)\n",
          prefix + stored[2].id + ".req (not a stored request)\n",
          prefix + stored[3].id + ".req (unknown version)\n",
          prefix + stored[4].id + ".req (of another app id)\n",
          prefix + "notes.txt (not a stored request)\n",
          prefix + stale.filename().u8string() + " (left by a writer that stopped)\n"}) {
        EXPECT_NE(log.find(line), std::string::npos) << line << "in\n" << log;
    }
    EXPECT_NE(log.find("Outbox of app game: set-aside holds more than 100 files: removed the 1 "
                       "oldest\n"),
              std::string::npos)
        << log;
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 7) << log;
    EXPECT_EQ(log.find(kBodySecret), std::string::npos);
    EXPECT_EQ(log.find(kAuthorization), std::string::npos);
    EXPECT_TRUE(fs::exists(fresh));
    const std::vector<std::string> setAside = fileNames(app / "set-aside");
    EXPECT_EQ(setAside.size(), ORBA::kMaxSetAsideFiles);
    EXPECT_EQ(std::count(setAside.begin(), setAside.end(), "old-100"), 0);
    EXPECT_EQ(std::count(setAside.begin(), setAside.end(), "old-101"), 1);
    EXPECT_EQ(readText(app / "set-aside" / "notes.txt"), "kept by someone else");
}

}  // namespace
