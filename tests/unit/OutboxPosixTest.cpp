// The outbox shared between processes: order, the sending claim and writers killed mid-store.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "orba/Logger.h"
#include "platform/OutboxFolder.h"
#include "support/DebugOutputCapture.h"
#include "tracker/Outbox.h"

namespace {

namespace fs = std::filesystem;
using ORBA::EventKind;
using ORBA::HttpRequest;
using ORBA::Outbox;
using ORBA::StoredRequest;

HttpRequest makeRequest(const std::string& tag) {
    HttpRequest request;
    request.url = "https://collector.invalid/" + tag;
    request.body = std::string(600, 'b') + tag;
    request.authorization = "Signature " + tag;
    request.userAgent = "Game/1.0";
    return request;
}

// Runs `body` in a child process that ends with its result; returns the child's pid.
template <typename Body>
pid_t spawn(Body body) {
    const pid_t pid = ::fork();
    if (pid == 0) ::_exit(body() ? 0 : 1);
    return pid;
}

// Runs `body` in a child process that then stays alive, holding what `body` left open, until
// it is killed. Returns the child's pid once `body` is done, and whether it succeeded.
template <typename Body>
std::pair<pid_t, bool> spawnAndHold(Body body) {
    int pipe[2];
    if (::pipe(pipe) != 0) return {-1, false};
    const pid_t pid = ::fork();
    if (pid == 0) {
        const char result = body() ? '1' : '0';
        if (::write(pipe[1], &result, 1) != 1) ::_exit(1);
        for (;;) ::pause();
    }
    char result = 0;
    const bool read = ::read(pipe[0], &result, 1) == 1;
    ::close(pipe[0]);
    ::close(pipe[1]);
    return {pid, read && result == '1'};
}

unsigned permissions(const fs::path& path) {
    struct stat info {};
    ::stat(path.c_str(), &info);
    return info.st_mode & 07777u;
}

// Points XDG_STATE_HOME at `folder` while it lives.
class StateHome {
public:
    explicit StateHome(const fs::path& folder) {
        if (const char* old = std::getenv("XDG_STATE_HOME")) old_ = old;
        had_ = std::getenv("XDG_STATE_HOME") != nullptr;
        ::setenv("XDG_STATE_HOME", folder.c_str(), 1);
    }
    ~StateHome() {
        if (had_) {
            ::setenv("XDG_STATE_HOME", old_.c_str(), 1);
        } else {
            ::unsetenv("XDG_STATE_HOME");
        }
    }
    StateHome(const StateHome&) = delete;
    StateHome& operator=(const StateHome&) = delete;

private:
    std::string old_;
    bool had_ = false;
};

int exitCode(pid_t pid) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class OutboxPosixTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/orba-outbox-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        root_ = pattern;
    }
    void TearDown() override {
        ORBA::Core::Logger::LogSetting::setUseOrbaCoreLog(false);
        std::error_code error;
        fs::remove_all(root_, error);
    }

    fs::path root_;
};

TEST_F(OutboxPosixTest, LivesInTheStateFolderAndKeepsOrderAcrossProcesses) {
    const char* old = std::getenv("XDG_STATE_HOME");
    const std::string saved = old != nullptr ? old : "";
    ::setenv("XDG_STATE_HOME", root_.c_str(), 1);
    EXPECT_EQ(ORBA::Platform::outboxFolder(), root_.string() + "/orba/outbox");
    if (old != nullptr) {
        ::setenv("XDG_STATE_HOME", saved.c_str(), 1);
    } else {
        ::unsetenv("XDG_STATE_HOME");
    }

    Outbox outbox(root_.string(), "game");
    ASSERT_TRUE(outbox.store(EventKind::FirstOpen, makeRequest("a")));
    const pid_t child = spawn(
        [&] { return Outbox(root_.string(), "game").store(EventKind::InApp, makeRequest("b")); });
    ASSERT_EQ(exitCode(child), 0);
    ASSERT_TRUE(outbox.store(EventKind::InApp, makeRequest("c")));

    const auto stored = Outbox(root_.string(), "game").pending();
    ASSERT_EQ(stored.size(), 3u);
    EXPECT_EQ(stored[0].request.url, makeRequest("a").url);
    EXPECT_EQ(stored[1].request.url, makeRequest("b").url);
    EXPECT_EQ(stored[2].request.url, makeRequest("c").url);
    EXPECT_NE(stored[1].id.find("-" + std::string(10 - std::to_string(child).size(), '0') +
                                std::to_string(child) + "-"),
              std::string::npos);
}

// Stored requests carry device ids, signatures and URLs: whichever way a request reaches its file
// (written by the storing thread, or copied into the intake and written out from there), every
// file is the user's alone and every folder too, whatever the umask the host runs under.
TEST_F(OutboxPosixTest, EveryFileAndFolderIsPrivateWhateverTheUmask) {
    const ::mode_t saved = ::umask(0);
    for (const ::mode_t mask : {002, 022}) {
        SCOPED_TRACE(mask);
        const fs::path home = root_ / ("umask-" + std::to_string(mask));
        const StateHome env(home);
        ::umask(mask);
        const std::string folder = ORBA::Platform::outboxFolder();
        EXPECT_TRUE(Outbox(folder, "direct").store(EventKind::InApp, makeRequest("a")));
        Outbox viaIntake(folder, "intake");
        viaIntake.prepare();
        EXPECT_TRUE(viaIntake.store(EventKind::InApp, makeRequest("b")));
        viaIntake.writeOut();
        std::ofstream(fs::path(folder) / "app-intake" / "stray").put('x');
        EXPECT_EQ(viaIntake.pending().size(), 1u);  // sets the stray file aside

        std::vector<std::string> seen;
        for (const auto& entry : fs::recursive_directory_iterator(home / "orba")) {
            const std::string name = fs::relative(entry.path(), home).string();
            seen.push_back(name);
            if (entry.path().filename() == "stray") continue;  // the test's, not the library's
            EXPECT_EQ(permissions(entry.path()), entry.is_directory() ? 0700u : 0600u) << name;
        }
        EXPECT_EQ(permissions(home / "orba"), 0700u);
        EXPECT_EQ(std::count_if(seen.begin(), seen.end(),
                                [](const std::string& name) {
                                    return name.size() > 4 &&
                                           name.compare(name.size() - 4, 4, ".req") == 0;
                                }),
                  2);
        EXPECT_NE(std::find(seen.begin(), seen.end(), "orba/outbox/app-intake/set-aside/stray"),
                  seen.end());
    }
    ::umask(saved);
}

// A folder of the library's found open to others is closed when the outbox next uses it; the
// folders above the library's own are the user's, and stay as they are.
TEST_F(OutboxPosixTest, OpenFoldersOfTheOutboxAreClosedButNotTheUsers) {
    const StateHome env(root_ / "state");
    const fs::path app = fs::path(ORBA::Platform::outboxFolder()) / "app-game";
    fs::create_directories(app / "intake");
    fs::create_directories(app / "set-aside");
    const std::vector<fs::path> library = {root_ / "state" / "orba", app.parent_path(), app,
                                           app / "intake", app / "set-aside"};
    for (const fs::path& folder : library) fs::permissions(folder, static_cast<fs::perms>(0755));
    fs::permissions(root_ / "state", static_cast<fs::perms>(0755));
    std::ofstream(app / "stray").put('x');

    Outbox outbox(ORBA::Platform::outboxFolder(), "game");
    EXPECT_TRUE(outbox.claimSending());
    outbox.prepare();
    EXPECT_TRUE(outbox.pending().empty());
    for (const fs::path& folder : library) EXPECT_EQ(permissions(folder), 0700u) << folder;
    EXPECT_EQ(permissions(root_ / "state"), 0755u);
}

TEST_F(OutboxPosixTest, OneProcessSendsAtATimeUntilItIsKilled) {
    const auto [holder, claimed] =
        spawnAndHold([&] { return (new Outbox(root_.string(), "game"))->claimSending(); });
    EXPECT_TRUE(claimed);

    Outbox outbox(root_.string(), "game");
    EXPECT_FALSE(outbox.claimSending());
    EXPECT_TRUE(Outbox(root_.string(), "other").claimSending());
    ::kill(holder, SIGKILL);
    exitCode(holder);
    EXPECT_TRUE(outbox.claimSending());
    const pid_t next = spawn([&] { return Outbox(root_.string(), "game").claimSending(); });
    EXPECT_EQ(exitCode(next), 1);
}

TEST_F(OutboxPosixTest, WriterKilledMidStoreLeavesOnlyWholeRequests) {
    const pid_t writer = spawn([&] {
        Outbox outbox(root_.string(), "game");
        for (int i = 0;; ++i) outbox.store(EventKind::InApp, makeRequest(std::to_string(i)));
        return true;
    });
    const fs::path app = root_ / "app-game";
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    std::error_code error;
    const auto requestFiles = [&] {
        std::size_t count = 0;
        for (fs::directory_iterator it(app, error), end; !error && it != end; it.increment(error)) {
            count += it->path().extension() == ".req";
        }
        return count;
    };
    while (requestFiles() < 200 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ::kill(writer, SIGKILL);
    exitCode(writer);

    std::size_t whole = 0;
    std::vector<fs::path> temporaries;
    for (const auto& entry : fs::directory_iterator(app)) {
        if (entry.path().extension() == ".req") ++whole;
        if (entry.path().extension() == ".tmp") temporaries.push_back(entry.path());
    }
    EXPECT_LE(temporaries.size(), 1u);
    Outbox outbox(root_.string(), "game");
    const auto stored = outbox.pending();
    EXPECT_GE(stored.size(), 199u);
    EXPECT_EQ(stored.size(), whole);
    for (std::size_t i = 0; i < stored.size(); ++i) {
        ASSERT_EQ(stored[i].request.url, makeRequest(std::to_string(i)).url);
    }
    EXPECT_FALSE(fs::exists(app / "set-aside"));

    // Once old enough, the dead writer's temporary is set aside, and nothing else is.
    for (const fs::path& temporary : temporaries) {
        fs::last_write_time(temporary, fs::file_time_type::clock::now() - std::chrono::minutes(2));
    }
    EXPECT_EQ(outbox.pending().size(), whole);
    EXPECT_FALSE(fs::exists(temporaries.empty() ? app / "none" : temporaries[0]));
    EXPECT_TRUE(outbox.store(EventKind::InApp, makeRequest("after")));
    EXPECT_EQ(outbox.pending().size(), whole + 1);
}

TEST_F(OutboxPosixTest, IntakeOfAKilledProcessIsWrittenOutInOrderAndADamagedRecordDropped) {
    const auto [writer, allStored] = spawnAndHold([&] {
        Outbox& outbox = *new Outbox(root_.string(), "game");  // held until the child is killed
        outbox.prepare();
        bool all = true;
        for (int i = 0; i < 50; ++i) {
            all = outbox.store(EventKind::InApp, makeRequest(std::to_string(i))) && all;
        }
        // Too large for a part of the intake: it gets a part of its own.
        HttpRequest large = makeRequest("large");
        large.body.append(2 * 1024 * 1024, 'l');
        all = outbox.store(EventKind::InApp, large) && all;
        for (int i = 0; i < 5; ++i) {
            all = outbox.store(EventKind::InApp, makeRequest("after" + std::to_string(i))) && all;
        }
        return all;
    });
    ASSERT_TRUE(allStored);

    Outbox outbox(root_.string(), "game");
    // The living writer's intake is its own, and its host thread wrote nothing out itself.
    EXPECT_EQ(outbox.pending().size(), 0u);
    ::kill(writer, SIGKILL);
    exitCode(writer);

    // A record damaged on the disk (a power cut) is dropped, and nothing after it is trusted.
    const fs::path intake = root_ / "app-game" / "intake";
    bool damaged = false;
    for (const auto& entry : fs::directory_iterator(intake)) {
        std::fstream file(entry.path(), std::ios::in | std::ios::out | std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        const std::size_t at = bytes.find("collector.invalid/after4");
        if (at == std::string::npos) continue;
        file.seekp(static_cast<std::streamoff>(at));
        file.put('C');
        damaged = true;
    }
    ASSERT_TRUE(damaged);

    const auto stored = outbox.pending();
    ASSERT_EQ(stored.size(), 55u);
    for (std::size_t i = 0; i < stored.size(); ++i) {
        const std::string tag =
            i < 50 ? std::to_string(i) : i == 50 ? "large" : "after" + std::to_string(i - 51);
        ASSERT_EQ(stored[i].request.url, makeRequest(tag).url) << i;
    }
    EXPECT_EQ(stored[50].request.body.size(), makeRequest("large").body.size() + 2 * 1024 * 1024);
    EXPECT_TRUE(fs::is_empty(intake));
}

TEST_F(OutboxPosixTest, DeadIntakesAreWrittenOutOnceAndWithinTheBound) {
    // Three writers killed with their intakes full of requests, over an outbox bound of 10.
    for (int writer = 0; writer < 3; ++writer) {
        const auto [pid, stored] = spawnAndHold([&] {
            Outbox& outbox = *new Outbox(root_.string(), "game", 10);
            outbox.prepare();
            bool all = true;
            for (int i = 0; i < 8; ++i) {
                all = outbox.store(EventKind::InApp,
                                   makeRequest(std::to_string(writer) + "-" + std::to_string(i))) &&
                      all;
            }
            return all;
        });
        ASSERT_TRUE(stored);
        ::kill(pid, SIGKILL);
        exitCode(pid);
    }
    const fs::path app = root_ / "app-game";
    // The first record's file cannot be made (something sits at its name): recovery stops there,
    // and what it wrote out before is delivered meanwhile.
    std::vector<std::string> ids;
    for (const auto& entry : fs::directory_iterator(app / "intake")) {
        std::ifstream in(entry.path(), std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        for (std::size_t at = bytes.find("ORBA outbox request"); at != std::string::npos;
             at = bytes.find("ORBA outbox request", at + 1)) {
            ids.push_back(bytes.substr(at - 80 + 24, 52));
        }
    }
    std::sort(ids.begin(), ids.end());
    ASSERT_EQ(ids.size(), 24u);
    fs::create_directories(app / (ids[4] + ".req") / "blocker");

    ORBA::Core::Logger::LogSetting::setUseOrbaCoreLog(true);
    Outbox outbox(root_.string(), "game", 10);
    std::vector<StoredRequest> first = outbox.pending();
    ASSERT_EQ(first.size(), 4u);
    for (const StoredRequest& request : first) outbox.remove(request.id);
    // The blocker was set aside by that listing; recovery goes on where it stopped, and what
    // was delivered is not made again.
    std::vector<StoredRequest> rest = outbox.pending();
    ASSERT_EQ(rest.size(), 10u);
    EXPECT_EQ(rest.front().id, ids[14]);  // the oldest in-app requests made room
    EXPECT_EQ(rest.back().id, ids[23]);
    EXPECT_TRUE(fs::is_empty(app / "intake"));
    std::size_t files = 0;
    for (const auto& entry : fs::directory_iterator(app)) files += entry.path().extension() == ".req";
    EXPECT_EQ(files, 10u);
}

TEST_F(OutboxPosixTest, SpecialFilesNeitherCountNorStopDelivery) {
    ORBA::Core::Logger::LogSetting::setUseOrbaCoreLog(true);
    Outbox outbox(root_.string(), "game", 5);
    ASSERT_TRUE(outbox.store(EventKind::InApp, makeRequest("first")));
    const fs::path app = root_ / "app-game";
    const std::string id = outbox.pending()[0].id;
    // FIFOs under request names, enough to fill the bound.
    for (int i = 0; i < 5; ++i) {
        const std::string name = id.substr(0, 51) + std::to_string(i) + ".req";
        ASSERT_EQ(::mkfifo((app / ("00" + name.substr(2))).c_str(), 0600), 0);
    }
    OrbaTest::DebugOutputCapture capture;
    for (int i = 0; i < 4; ++i) ASSERT_TRUE(outbox.store(EventKind::InApp, makeRequest(std::to_string(i))));
    EXPECT_TRUE(outbox.claimSending());
    const std::vector<StoredRequest> stored = outbox.pending();
    EXPECT_EQ(stored.size(), 5u);
    const std::string log = capture.finish();
    EXPECT_NE(log.find("(not a regular file)"), std::string::npos) << log;
}

}  // namespace
