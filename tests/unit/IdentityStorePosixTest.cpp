// The file-backed identity store's own cases, run against a private state folder; what every
// store does is in IdentityStoreTest.cpp.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/IdentityStoreFile.h"
#include "platform/IdentityStore.h"
#include "support/IdentityStoreSandbox.h"
#include "tracker/TrackerClient.h"

using ORBA::Platform::readIdentityValue;
using ORBA::Platform::updateIdentityValue;
using ORBA::Platform::writeIdentityValue;

namespace {

namespace fs = std::filesystem;

// Sets or unsets an environment variable while it lives.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value != nullptr) {
            ::setenv(name, value, 1);
        } else {
            ::unsetenv(name);
        }
    }
    ~ScopedEnv() {
        if (old_) {
            ::setenv(name_, old_->c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* name_;
    std::optional<std::string> old_;
};

std::string readText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

unsigned permissions(const fs::path& path) {
    struct stat info {};
    ::stat(path.c_str(), &info);
    return info.st_mode & 07777u;
}

}  // namespace

namespace OrbaTest {

// A private state folder and home for each test.
struct IdentityStoreSandbox::State {
    fs::path root;
    std::optional<ScopedEnv> stateHome;
    std::optional<ScopedEnv> home;
};

const int IdentityStoreSandbox::kRefusedCode = EINVAL;

IdentityStoreSandbox::IdentityStoreSandbox() : state_(std::make_unique<State>()) {
    char pattern[] = "/tmp/orba-identity-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) throw std::runtime_error("no temporary folder");
    state_->root = pattern;
    state_->stateHome.emplace("XDG_STATE_HOME", (state_->root / "state").c_str());
    state_->home.emplace("HOME", (state_->root / "home").c_str());
}

IdentityStoreSandbox::~IdentityStoreSandbox() {
    state_->stateHome.reset();
    state_->home.reset();
    fs::remove_all(state_->root);
}

}  // namespace OrbaTest

namespace {

class IdentityStorePosixTest : public ::testing::Test {
protected:
    fs::path folder() const { return root_ / "state" / "orba"; }
    // The single file of earlier versions, now only read.
    fs::path file() const { return folder() / "tracker-identity"; }
    fs::path buckets() const { return folder() / "identity"; }
    fs::path bucket(const std::string& name) const {
        return buckets() / ORBA::Platform::identityBucketName(name);
    }

    // What writing printed to standard output, with the write's result.
    static std::string writeCapturing(const std::string& name, const std::string& value,
                                      bool& ok) {
        ::testing::internal::CaptureStdout();
        ok = writeIdentityValue(name, value);
        return ::testing::internal::GetCapturedStdout();
    }

    OrbaTest::IdentityStoreSandbox sandbox_;
    const fs::path root_ = sandbox_.state().root;
};

TEST_F(IdentityStorePosixTest, FirstWriteCreatesPrivateFolderAndFile) {
    EXPECT_EQ(readIdentityValue("ZQ_uuid_1", 2048), "");
    EXPECT_FALSE(fs::exists(root_ / "state")) << "reading must not create anything";

    bool ok = false;
    EXPECT_EQ(writeCapturing("ZQ_uuid_1", "0f1e2d3c-4b5a-4978-8695-a4b3c2d1e0f0", ok), "");
    EXPECT_TRUE(ok);
    EXPECT_EQ(permissions(root_ / "state"), 0700u);
    EXPECT_EQ(permissions(folder()), 0700u);
    EXPECT_EQ(permissions(buckets()), 0700u);
    EXPECT_EQ(permissions(buckets() / "ZQ_uuid_1"), 0600u);
    EXPECT_EQ(readText(buckets() / "ZQ_uuid_1"),
              "ZQ_uuid_1=0f1e2d3c-4b5a-4978-8695-a4b3c2d1e0f0\n");
    EXPECT_EQ(readIdentityValue("ZQ_uuid_1", 2048), "0f1e2d3c-4b5a-4978-8695-a4b3c2d1e0f0");
    // Only the buckets and the lock remain: no temporary file, and no single file either.
    std::vector<std::string> entries;
    for (const auto& entry : fs::recursive_directory_iterator(folder())) {
        entries.push_back(fs::relative(entry.path(), folder()));
    }
    std::sort(entries.begin(), entries.end());
    EXPECT_EQ(entries, (std::vector<std::string>{"identity", "identity/ZQ_uuid_1",
                                                 "tracker-identity.lock"}));
}

// What is kept about a player is the user's alone whatever the umask the host runs under, and
// the library's folders found open (made by hand, or by a version that let the umask decide) are
// closed again; the user's own folders above them are not the library's to change.
TEST_F(IdentityStorePosixTest, FilesAndFoldersArePrivateWhateverTheUmask) {
    const ::mode_t saved = ::umask(0);
    for (const ::mode_t mask : {002, 022}) {
        SCOPED_TRACE(mask);
        const fs::path home = root_ / ("umask-" + std::to_string(mask));
        const ScopedEnv env("XDG_STATE_HOME", home.c_str());
        ::umask(mask);
        bool ok = false;
        EXPECT_EQ(writeCapturing("ZQ_uuid_1", "u1", ok), "");
        EXPECT_TRUE(ok);
        EXPECT_EQ(permissions(home), 0700u);
        EXPECT_EQ(permissions(home / "orba"), 0700u);
        EXPECT_EQ(permissions(home / "orba" / "identity"), 0700u);
        EXPECT_EQ(permissions(home / "orba" / "identity" / "ZQ_uuid_1"), 0600u);
        EXPECT_EQ(permissions(home / "orba" / "tracker-identity.lock"), 0600u);
    }
    ::umask(saved);

    fs::create_directories(buckets());
    for (const fs::path& open : {root_ / "state", folder(), buckets()}) {
        fs::permissions(open, static_cast<fs::perms>(0755));
    }
    std::ofstream(folder() / "tracker-identity.lock").put('\n');
    fs::permissions(folder() / "tracker-identity.lock", static_cast<fs::perms>(0644));
    EXPECT_EQ(updateIdentityValue("ZQ_counter_1", 64,
                                  [](const std::string&) { return std::string("1"); }),
              "1");
    EXPECT_EQ(permissions(root_ / "state"), 0755u);
    EXPECT_EQ(permissions(folder()), 0700u);
    EXPECT_EQ(permissions(buckets()), 0700u);
    EXPECT_EQ(permissions(folder() / "tracker-identity.lock"), 0600u);
}

// Installs made by earlier versions keep their ids and counters: their single file is read, an
// update moves a value into its bucket, and the file itself is never written again.
TEST_F(IdentityStorePosixTest, ValuesOfTheSingleFileAreReadAndMovedButItIsNeverWritten) {
    fs::create_directories(folder());
    const std::string old =
        "# kept\nZQ_uuid_1=u1\nstray line\nZQ_counter_1=4\nZQ_counter_2=9\nZQ_uuid_3=old";
    std::ofstream(file()) << old;
    const auto increment = [](const std::string& current) {
        return std::to_string(std::stoi(current) + 1);
    };
    EXPECT_EQ(updateIdentityValue("ZQ_counter_1", 2048, increment), "5");
    // Kept as it is, yet moved.
    EXPECT_EQ(updateIdentityValue("ZQ_counter_2", 2048,
                                  [](const std::string&) { return std::nullopt; }),
              "9");
    EXPECT_FALSE(fs::exists(bucket("ZQ_uuid_1")));
    // A value that is only ever read moves when first read.
    EXPECT_EQ(readIdentityValue("ZQ_uuid_1", 2048), "u1");
    EXPECT_EQ(readIdentityValue("stray line", 2048), "");
    ASSERT_TRUE(writeIdentityValue("ZQ_uuid_2", "u2"));
    // A bucket that holds other lines (a name whose hash it shares, a hand edit) keeps them.
    fs::create_directories(buckets());
    std::ofstream(bucket("ZQ_uuid_3")) << "# note\nZQ_uuid_x=other";
    EXPECT_EQ(readIdentityValue("ZQ_uuid_3", 2048), "old");
    ASSERT_TRUE(writeIdentityValue("ZQ_uuid_3", "new"));
    EXPECT_EQ(readText(bucket("ZQ_uuid_3")), "# note\nZQ_uuid_x=other\nZQ_uuid_3=new\n");

    EXPECT_EQ(readText(file()), old);
    EXPECT_EQ(readText(bucket("ZQ_counter_1")), "ZQ_counter_1=5\n");
    EXPECT_EQ(readText(bucket("ZQ_counter_2")), "ZQ_counter_2=9\n");
    EXPECT_EQ(readText(bucket("ZQ_uuid_1")), "ZQ_uuid_1=u1\n");
    fs::remove(file());
    EXPECT_EQ(readIdentityValue("ZQ_uuid_1", 2048), "u1");
    EXPECT_EQ(readIdentityValue("ZQ_counter_1", 2048), "5");
    EXPECT_EQ(readIdentityValue("ZQ_counter_2", 2048), "9");
    EXPECT_EQ(readIdentityValue("ZQ_uuid_2", 2048), "u2");
    EXPECT_EQ(readIdentityValue("ZQ_uuid_3", 2048), "new");
}

// A removed value reads as absent afterwards: its bucket goes, other lines of it stay, and one that
// the single file of earlier versions still holds is not read back from there.
TEST_F(IdentityStorePosixTest, RemovedValuesStayGoneWhereverTheyWereKept) {
    using ORBA::Platform::removeIdentityValue;
    ASSERT_TRUE(writeIdentityValue("ZQ_uuid_a", "ua"));
    EXPECT_TRUE(removeIdentityValue("ZQ_uuid_a"));
    EXPECT_FALSE(fs::exists(bucket("ZQ_uuid_a")));
    EXPECT_EQ(readIdentityValue("ZQ_uuid_a", 2048), "");
    EXPECT_TRUE(removeIdentityValue("ZQ_uuid_a"));

    fs::create_directories(buckets());
    std::ofstream(bucket("ZQ_uuid_b")) << "# note\nZQ_uuid_b=ub\nZQ_uuid_x=other\nZQ_uuid_b=again\n";
    EXPECT_TRUE(removeIdentityValue("ZQ_uuid_b"));
    EXPECT_EQ(readText(bucket("ZQ_uuid_b")), "# note\nZQ_uuid_x=other\n");
    EXPECT_EQ(permissions(bucket("ZQ_uuid_b")), 0600u);

    std::ofstream(file()) << "ZQ_uuid_1=u1\n";
    EXPECT_TRUE(removeIdentityValue("ZQ_uuid_1"));
    EXPECT_EQ(readIdentityValue("ZQ_uuid_1", 2048), "");
    EXPECT_EQ(readText(file()), "ZQ_uuid_1=u1\n");
    EXPECT_EQ(updateIdentityValue("ZQ_uuid_1", 2048,
                                  [](const std::string& current) -> std::optional<std::string> {
                                      if (!current.empty()) return std::nullopt;
                                      return std::string("fresh");
                                  }),
              "fresh");
    // What no earlier version kept is never looked for in their file.
    std::ofstream(file()) << "ZQ_consent_1=revoked\n";
    EXPECT_EQ(ORBA::Platform::readOwnIdentityValue("ZQ_consent_1", 64), "");
    EXPECT_EQ(ORBA::Platform::readOwnIdentityValue("ZQ_uuid_1", 64), "fresh");
}

TEST_F(IdentityStorePosixTest, FallsBackToHomeWhenStateHomeIsUnusable) {
    for (const char* stateHome : {static_cast<const char*>(nullptr), "", "relative/state"}) {
        ScopedEnv env("XDG_STATE_HOME", stateHome);
        ASSERT_TRUE(writeIdentityValue("ZQ_uuid_1", "u1"));
        EXPECT_EQ(readText(root_ / "home/.local/state/orba/identity/ZQ_uuid_1"), "ZQ_uuid_1=u1\n");
        EXPECT_EQ(readIdentityValue("ZQ_uuid_1", 2048), "u1");
    }
    EXPECT_FALSE(fs::exists(root_ / "state"));
}

TEST_F(IdentityStorePosixTest, AnyNameRoundTripsAndCorruptingTextsAreRefused) {
    ASSERT_TRUE(writeIdentityValue("ZQ_uuid_1", "u1"));
    ASSERT_TRUE(writeIdentityValue("ZQ_uuid_a=b", "u2"));
    ASSERT_TRUE(writeIdentityValue("ZQ_uuid_a=b", "u3"));
    EXPECT_EQ(readIdentityValue("ZQ_uuid_a=b", 2048), "u3");
    EXPECT_EQ(readIdentityValue("ZQ_uuid_a", 2048), "");
    EXPECT_EQ(readText(buckets() / "ZQ_uuid_a%3Db"), "%ZQ_uuid_a%3Db=u3\n");
    // Names that are no file names as they are, or too long to be one.
    const std::string names[] = {"ZQ_uuid_../../x/y", "ZQ_uuid_100%", ".", "..", ".hidden", "",
                                 "ZQ_uuid_" + std::string(300, 'l'),
                                 "ZQ_uuid_" + std::string(299, 'l') + "m"};
    for (const std::string& name : names) ASSERT_TRUE(writeIdentityValue(name, "v" + name));
    for (const std::string& name : names) EXPECT_EQ(readIdentityValue(name, 2048), "v" + name);
    std::size_t count = 0;
    for (const auto& entry : fs::directory_iterator(buckets())) {
        ++count;
        EXPECT_LE(entry.path().filename().string().size(), 200u) << entry.path();
    }
    EXPECT_EQ(count, 2 + std::size(names));
    EXPECT_FALSE(fs::exists(root_ / "x")) << "a name must not lead out of the folder";

    const std::string before = readText(buckets() / "ZQ_uuid_1");
    // A line break would forge a line; NUL is refused by every store (IdentityStoreTest).
    bool ok = true;
    EXPECT_EQ(writeCapturing("ZQ_uuid_1", "u\nZQ_uuid_2=forged", ok), "Error setting key 22\n");
    EXPECT_FALSE(ok);
    EXPECT_EQ(readText(buckets() / "ZQ_uuid_1"), before);
}

TEST_F(IdentityStorePosixTest, UnreadableStoreIsNeverOverwritten) {
    // Nothing but a regular file is read: a FIFO would block, a device never end, and a link
    // would copy some other file into the store. None of them is replaced either, be it the
    // value's bucket or the single file that an update reads for what no bucket holds.
    std::ofstream(root_ / "elsewhere") << "ZQ_uuid_1=stolen\n";
    const std::pair<std::function<void(const fs::path&)>, const char*> specials[] = {
        {[](const fs::path& at) { fs::create_directories(at); }, "Error opening key 21\n"},
        {[](const fs::path& at) { ASSERT_EQ(::mkfifo(at.c_str(), 0600), 0); },
         "Error opening key 22\n"},
        {[&](const fs::path& at) { fs::create_symlink(root_ / "elsewhere", at); },
         "Error opening key 40\n"},
        {[](const fs::path& at) { fs::create_symlink("/dev/zero", at); }, "Error opening key 40\n"},
    };
    fs::create_directories(buckets());
    for (const fs::path& at : {bucket("ZQ_uuid_1"), file()}) {
        for (const auto& [make, error] : specials) {
            make(at);
            const fs::file_status before = fs::symlink_status(at);
            EXPECT_EQ(readIdentityValue("ZQ_uuid_1", 2048), "");
            bool ok = true;
            // A plain write does not need what the single file holds: the bucket takes it.
            const bool needsOld = at == file();
            EXPECT_EQ(writeCapturing("ZQ_uuid_1", "u1", ok), needsOld ? "" : error) << at;
            EXPECT_EQ(ok, needsOld);
            if (needsOld) fs::remove(bucket("ZQ_uuid_1"));
            ::testing::internal::CaptureStdout();
            EXPECT_EQ(
                updateIdentityValue("ZQ_uuid_1", 2048,
                                    [](const std::string& current) { return current + "new"; }),
                "new");
            EXPECT_EQ(::testing::internal::GetCapturedStdout(), error) << at;
            EXPECT_EQ(fs::symlink_status(at).type(), before.type());
            fs::remove(at);
        }
    }
    EXPECT_EQ(readText(root_ / "elsewhere"), "ZQ_uuid_1=stolen\n");

    // A file in place of the folder of values: what the single file holds is still read.
    fs::remove(buckets());
    std::ofstream(buckets()) << "ZQ_uuid_1=not a folder\n";
    std::ofstream(file()) << "ZQ_uuid_1=old\n";
    EXPECT_EQ(readIdentityValue("ZQ_uuid_1", 2048), "old");
    bool ok = true;
    EXPECT_EQ(writeCapturing("ZQ_uuid_1", "u1", ok), "Error opening key 20\n");  // ENOTDIR
    EXPECT_FALSE(ok);
    EXPECT_EQ(readText(buckets()), "ZQ_uuid_1=not a folder\n");

    std::ofstream(root_ / "plain") << "x";
    ScopedEnv env("XDG_STATE_HOME", (root_ / "plain").c_str());
    EXPECT_EQ(writeCapturing("ZQ_uuid_1", "u1", ok), "Error opening key 20\n");  // ENOTDIR
    EXPECT_FALSE(ok);
}

// A writer that died between making its temporary and renaming it leaves the temporary behind,
// whatever it turned out to be; the next writer simply replaces it.
TEST_F(IdentityStorePosixTest, TemporaryLeftByADeadWriterDoesNotHurt) {
    fs::create_directories(buckets());
    std::ofstream(buckets() / ".writing") << "ZQ_uuid_1=half, and longer than what follows";
    ASSERT_TRUE(writeIdentityValue("ZQ_uuid_1", "u1"));
    fs::create_symlink(root_ / "elsewhere", buckets() / ".writing");
    ASSERT_TRUE(writeIdentityValue("ZQ_uuid_2", "u2"));
    ASSERT_EQ(::mkfifo((buckets() / ".writing").c_str(), 0600), 0);
    ASSERT_TRUE(writeIdentityValue("ZQ_uuid_3", "u3"));
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(buckets())) {
        left.push_back(entry.path().filename());
    }
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"ZQ_uuid_1", "ZQ_uuid_2", "ZQ_uuid_3"}));
    EXPECT_EQ(readText(buckets() / "ZQ_uuid_1"), "ZQ_uuid_1=u1\n");
    EXPECT_FALSE(fs::exists(root_ / "elsewhere"));
}

// Several games writing at once: each child writes its own names and keeps rewriting one shared
// name; the exclusive lock around read-modify-write means no child's value is lost.
TEST_F(IdentityStorePosixTest, ConcurrentWritersLoseNothing) {
    constexpr int kChildren = 4;
    constexpr int kNamesEach = 40;
    pid_t children[kChildren];
    for (int child = 0; child < kChildren; ++child) {
        children[child] = ::fork();
        ASSERT_GE(children[child], 0);
        if (children[child] == 0) {
            int failures = 0;
            for (int i = 0; i < kNamesEach; ++i) {
                const std::string tag = std::to_string(child) + "_" + std::to_string(i);
                failures += !writeIdentityValue("ZQ_uuid_" + tag, "value-" + tag);
                failures += !writeIdentityValue("ZQ_counter_shared", tag);
            }
            ::_exit(failures == 0 ? 0 : 1);
        }
    }
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    for (int child = 0; child < kChildren; ++child) {
        for (int i = 0; i < kNamesEach; ++i) {
            const std::string tag = std::to_string(child) + "_" + std::to_string(i);
            EXPECT_EQ(readIdentityValue("ZQ_uuid_" + tag, 2048), "value-" + tag);
        }
    }
    // Whichever child wrote last, it wrote its own last value.
    const std::string shared = readIdentityValue("ZQ_counter_shared", 2048);
    bool lastOfAChild = false;
    for (int child = 0; child < kChildren; ++child) {
        lastOfAChild |= shared == std::to_string(child) + "_" + std::to_string(kNamesEach - 1);
    }
    EXPECT_TRUE(lastOfAChild) << shared;
    EXPECT_EQ(readText(bucket("ZQ_counter_shared")), "ZQ_counter_shared=" + shared + "\n");
    const auto buckets = std::distance(fs::directory_iterator(this->buckets()), {});
    EXPECT_EQ(buckets, kChildren * kNamesEach + 1) << "a temporary was left behind";
}

// Games starting together on an empty store: each start reads or creates the install id and
// counts a launch. All of them must see the one id stored and every launch must be counted.
TEST_F(IdentityStorePosixTest, ConcurrentStartsShareOneInstallIdAndCountEveryLaunch) {
    constexpr int kChildren = 6;
    constexpr int kStartsEach = 20;
    int ids[2];
    ASSERT_EQ(::pipe(ids), 0);
    pid_t children[kChildren];
    for (int child = 0; child < kChildren; ++child) {
        children[child] = ::fork();
        ASSERT_GE(children[child], 0);
        if (children[child] == 0) {
            ::close(ids[0]);
            const std::string devKey = "k";
            const ORBA::TrackerServices services = ORBA::platformTrackerServices();
            const ORBA::TrackerClient client(services, devKey, "a=b", ORBA::kNativeFlavor,
                                             ORBA::defaultEndpoint());
            for (int i = 0; i < kStartsEach; ++i) {
                const std::string line = client.getInstallId() + "\n";
                client.advanceLaunchCounter();
                if (::write(ids[1], line.data(), line.size()) !=
                    static_cast<ssize_t>(line.size())) {
                    ::_exit(1);
                }
            }
            ::_exit(0);
        }
    }
    ::close(ids[1]);
    std::string seen;
    char buffer[4096];
    for (ssize_t got; (got = ::read(ids[0], buffer, sizeof buffer)) > 0;) seen.append(buffer, got);
    ::close(ids[0]);
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    const std::string stored = readIdentityValue("ZQ_uuid_a=b", 2048);
    ASSERT_EQ(stored.size(), 36u);
    std::string expected;
    for (int i = 0; i < kChildren * kStartsEach; ++i) expected += stored + "\n";
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(readIdentityValue("ZQ_counter_a=b", 2048), std::to_string(kChildren * kStartsEach));
}

}  // namespace
