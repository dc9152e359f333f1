// Stored requests live one per file in the app id's folder, named by their id so that a sorted
// listing is the order they were made in, whichever process made them. A file is written under a
// temporary name and renamed into place, so a name ending in ".req" always holds a whole request;
// whatever else turns up there is moved to "set-aside" rather than lost or sent.

// Where the system maps files, the host's thread does not write that file itself: it copies the
// request into this process's intake (OutboxIntake.h: two mapped files in "intake", one taking
// stores while the other is written out), and the sender writes the files out before it lists the
// folder. An intake left by a process that ended is written out by the next one that sends.

#include "tracker/Outbox.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>

#include "core/Hex.h"
#include "orba/Logger.h"
#include "platform/MainWindow.h"
#include "platform/OutboxFolder.h"
#include "tracker/OutboxIntake.h"
#include "tracker/RequestFile.h"

namespace ORBA {
namespace {

namespace fs = std::filesystem;
using namespace RequestFile;

constexpr const char* kRequestSuffix = ".req";
constexpr const char* kTemporarySuffix = ".tmp";
constexpr const char* kLockName = "sending.lock";
constexpr const char* kSetAsideName = "set-aside";
constexpr const char* kIntakeName = "intake";
constexpr const char* kIntakeSuffix = ".seg";
// Each of the two parts of an intake holds several hundred requests of a usual size; the host's
// thread writes files itself only when both are full. A request that does not fit is written
// directly.
constexpr std::size_t kIntakeBytes = 512 * 1024;
// A writer renames its temporary within microseconds; one this old belongs to a dead writer.
constexpr auto kStaleTemporaryAge = std::chrono::minutes(1);
// How often, and how far apart, removing a delivered request is tried before it is left to be
// sent again.
constexpr int kRemoveAttempts = 5;
constexpr auto kRemovePause = std::chrono::milliseconds(20);
// Files made ahead of stores; a burst beyond them makes its own files.
constexpr std::size_t kPreparedFiles = 8;
// Far beyond any real request, small enough to read into memory.
constexpr std::size_t kMaxFileBytes = 16 * 1024 * 1024;

using ReadOutcome = Platform::FileRead;

ReadOutcome readFile(const fs::path& path, std::string& text) {
    return Platform::readWholeFile(path.u8string(), kMaxFileBytes, text);
}

bool writeFile(const fs::path& path, const std::string& text) {
    return Platform::writePrivateFile(path.u8string(), text);
}

}  // namespace

struct Outbox::State {
    // The listing one or more makeRoom calls go through, oldest first.
    struct RoomSearch {
        bool listed = false;
        std::vector<std::string> ids;
        std::size_t next = 0;  // the oldest request not looked at yet
    };

    std::string appId;
    std::size_t maxRequests = kMaxStoredRequests;
    fs::path folder;  // empty when the platform named none
    std::mutex mutex;
    // Requests in the folder as last counted, kept up to date by this object's own stores and
    // removals; other processes' changes show at the next listing.
    std::size_t count = 0;
    bool countKnown = false;
    Platform::FileClaim claim;
    std::vector<std::unique_ptr<Platform::NamelessFile>> prepared;
    // This process's intake, made by prepare(): two parts, stores going to the active one until
    // it is full and the other one is written out and empty. None until made, and none where the
    // system maps no files. A forked child sees the parent's and must not store into it.
    struct IntakePart {
        std::unique_ptr<Platform::MappedFile> file;
        std::unique_ptr<OutboxIntake> area;
        std::string name;
        std::size_t writtenTo = OutboxIntake::kHeaderSize;  // where records not written out begin
    };
    IntakePart intakeParts[2];
    std::size_t activePart = 0;
    std::uint32_t intakeOwner = 0;
    bool intakeFailed = false;
    // One writer-out of the intake at a time, so that each record becomes one file. Taken before
    // `mutex` when both are held.
    std::mutex writingOut;

    void log(const std::string& text) const {
        Core::Logger::Log("Outbox of app " + appId + ": " + text);
    }

    // Moves `name` out of the way of the listing, into the set-aside folder under a name not yet
    // taken there, so that nothing found is lost.
    void setAside(const std::string& name, const char* problem) const {
        setAside(folder, name, problem);
    }

    void setAside(const fs::path& from, const std::string& name, const char* problem) const {
        const fs::path aside = folder / kSetAsideName;
        std::error_code error;
        if (!Platform::makePrivateFolders(aside.u8string())) {
            log("could not set aside " + name + " (" + problem + "): no set-aside folder");
            return;
        }
        fs::path target = aside / fs::u8path(name);
        if (fs::exists(target, error)) target = aside / fs::u8path(name + "." + makeId(Platform::currentProcessId()));
        fs::rename(from / fs::u8path(name), target, error);
        if (!error) {
            log("set aside " + name + " (" + problem + ")");
            keepSetAsideBounded(aside, target);
        } else if (fs::exists(from / fs::u8path(name))) {
            log("could not set aside " + name + " (" + problem + "): " + error.message());
        }
    }

    // Removes the oldest of what was set aside, by the time each file was last written, until
    // the bound holds again; `newest`, just set aside, stays whatever its time.
    void keepSetAsideBounded(const fs::path& aside, const fs::path& newest) const {
        std::vector<std::pair<fs::file_time_type, fs::path>> files;
        std::error_code error;
        for (fs::directory_iterator it(aside, error), end; !error && it != end;
             it.increment(error)) {
            if (it->path() == newest) continue;
            std::error_code timeError;
            const fs::file_time_type written = it->last_write_time(timeError);
            files.emplace_back(timeError ? fs::file_time_type::min() : written, it->path());
        }
        if (files.size() < kMaxSetAsideFiles) return;
        std::sort(files.begin(), files.end());
        const std::size_t excess = files.size() + 1 - kMaxSetAsideFiles;
        std::size_t removed = 0;
        for (std::size_t i = 0; i < excess; ++i) {
            if (fs::remove_all(files[i].second, error) != static_cast<std::uintmax_t>(-1)) {
                ++removed;
            }
        }
        log("set-aside holds more than " + std::to_string(kMaxSetAsideFiles) +
            " files: removed the " + std::to_string(removed) + " oldest");
    }

    // The ids of the stored requests, oldest first. With `tidy`, stray temporaries of dead writers
    // and foreign files are set aside on the way.
    std::vector<std::string> listIds(bool tidy) const {
        std::vector<std::string> ids;
        std::error_code error;
        fs::directory_iterator it(folder, error);
        if (error) return ids;
        const auto now = fs::file_time_type::clock::now();
        for (const fs::directory_entry& entry : it) {
            const std::string name = entry.path().filename().u8string();
            if (std::optional<std::string> id = idOf(name, kRequestSuffix)) {
                ids.push_back(std::move(*id));
                continue;
            }
            if (!tidy || name == kLockName || name == kSetAsideName || name == kIntakeName) {
                continue;
            }
            if (idOf(name, kTemporarySuffix)) {
                std::error_code timeError;
                const auto written = fs::last_write_time(entry.path(), timeError);
                if (!timeError && now - written > kStaleTemporaryAge) {
                    setAside(name, "left by a writer that stopped");
                }
                continue;
            }
            setAside(name, "not a stored request");
        }
        std::sort(ids.begin(), ids.end());
        return ids;
    }

    fs::path requestPath(const std::string& id) const { return folder / (id + kRequestSuffix); }

    // Puts `text` in place as the request file of `id`: written whole before it is named.
    bool writeRequest(const std::string& id, const std::string& text) {
        std::unique_ptr<Platform::NamelessFile> file;
        {
            const std::lock_guard<std::mutex> lock(mutex);
            if (!prepared.empty()) {
                file = std::move(prepared.back());
                prepared.pop_back();
            }
        }
        if (file && file->writeAndName(text, requestPath(id).u8string())) return true;
        const fs::path temporary = folder / (id + kTemporarySuffix);
        bool written = writeFile(temporary, text);
        if (!written && Platform::makePrivateFolders(folder.u8string())) {
            written = writeFile(temporary, text);
        }
        std::error_code error;
        if (written) fs::rename(temporary, requestPath(id), error);
        if (!written || error) {
            fs::remove(temporary, error);
            log("request not stored: could not write " + id + kRequestSuffix);
            return false;
        }
        return true;
    }

    // Whether this process has an intake to store into. Called with `mutex` held.
    bool hasOwnIntake(std::uint32_t processId) const {
        return intakeParts[activePart].area && intakeOwner == processId;
    }

    // Stores into the intake: the active part, or the other one when that is full and the other
    // is empty. Called with `mutex` held.
    bool appendToIntake(const std::string& id, const std::string& text) {
        if (intakeParts[activePart].area->append(id, text)) return true;
        IntakePart& other = intakeParts[1 - activePart];
        if (other.area->end() != OutboxIntake::kHeaderSize) return false;
        activePart = 1 - activePart;
        return other.area->append(id, text);
    }

    // Writes what this process's intake holds out as request files, the part that stopped taking
    // stores first, and starts a part over once all of it is.
    void writeOutIntake() {
        const std::lock_guard<std::mutex> one(writingOut);
        std::size_t active = 0;
        {
            const std::lock_guard<std::mutex> lock(mutex);
            if (!hasOwnIntake(Platform::currentProcessId())) return;
            active = activePart;
        }
        RoomSearch search;
        for (const std::size_t index : {1 - active, active}) {
            IntakePart& part = intakeParts[index];
            // Read without `mutex`: a record counts only once whole, and the host's thread only
            // ever adds records after these.
            std::size_t reached = part.writtenTo;
            for (const OutboxIntake::Record& record : part.area->records(reached)) {
                if (!record.written && fitsWithinBound(record.text, search) &&
                    !writeRequest(record.id, record.text)) {
                    break;
                }
                part.area->markWritten(record.offset);
                reached = record.offset + OutboxIntake::recordSize(record.text.size());
            }
            const std::lock_guard<std::mutex> lock(mutex);
            part.writtenTo = reached;
            if (reached == part.area->end()) {
                part.area->restart();
                part.writtenTo = OutboxIntake::kHeaderSize;
            }
        }
    }

    // Whether the request file `text` may be written out, after dropping the oldest in-app
    // request when the outbox is full. The bound is kept here rather than when the host's thread
    // stores into the intake, as finding the oldest request lists the folder.
    bool fitsWithinBound(const std::string& text, RoomSearch& search) {
        const std::lock_guard<std::mutex> lock(mutex);
        if (!search.listed && count < maxRequests) return true;
        const Decoded decoded = decode(text);
        const EventKind kind = decoded.problem == nullptr ? decoded.kind : EventKind::InApp;
        if (!makeRoom(kind, search)) return false;
        ++count;  // the listing counted files only
        return true;
    }

    // Makes this process's intake, when the system maps files and none was made yet.
    void makeIntake() {
        if (!Platform::MappedFile::supported()) return;
        const std::uint32_t processId = Platform::currentProcessId();
        {
            const std::lock_guard<std::mutex> lock(mutex);
            if (intakeFailed || hasOwnIntake(processId)) return;
        }
        const fs::path intakeFolder = folder / kIntakeName;
        IntakePart parts[2];
        bool made = Platform::makePrivateFolders(intakeFolder.u8string());
        for (IntakePart& part : parts) {
            if (!made) break;
            part.name = makeId(processId) + kIntakeSuffix;
            part.file =
                Platform::MappedFile::create((intakeFolder / part.name).u8string(), kIntakeBytes);
            made = part.file != nullptr;
            if (made) {
                part.area = std::make_unique<OutboxIntake>(part.file->data(), part.file->size());
                part.area->format();
            }
        }
        const std::lock_guard<std::mutex> lock(mutex);
        if (!made) {
            intakeFailed = true;
            log("no intake: requests are written one file each");
            std::error_code error;
            for (IntakePart& part : parts) {
                if (part.file) fs::remove(intakeFolder / part.name, error);
            }
            return;
        }
        for (int i = 0; i < 2; ++i) intakeParts[i] = std::move(parts[i]);
        activePart = 0;
        intakeOwner = processId;
    }

    // Writes out what the intakes of processes that ended left, and removes them. One still held
    // by its process is its process's to write out.
    void recoverIntakes() {
        const fs::path intakeFolder = folder / kIntakeName;
        std::error_code error;
        fs::directory_iterator it(intakeFolder, error);
        if (error) return;
        std::vector<std::string> names;
        for (const fs::directory_entry& entry : it) {
            names.push_back(entry.path().filename().u8string());
        }
        std::sort(names.begin(), names.end());
        for (const std::string& name : names) {
            if (name == intakeParts[0].name || name == intakeParts[1].name) continue;
            const bool named = idOf(name, kIntakeSuffix).has_value();
            const fs::path path = intakeFolder / fs::u8path(name);
            std::unique_ptr<Platform::MappedFile> file =
                named ? Platform::MappedFile::claim(path.u8string(), kIntakeBytes) : nullptr;
            if (!file) {
                if (!named) setAside(intakeFolder, name, "not an intake");
                continue;
            }
            OutboxIntake area(file->data(), file->size());
            if (!area.formatted()) {
                file.reset();
                setAside(intakeFolder, name, "not an intake");
                continue;
            }
            bool damaged = false;
            bool whole = true;
            for (const OutboxIntake::Record& record : area.records(OutboxIntake::kHeaderSize,
                                                                  &damaged)) {
                if (record.written || !isId(record.id) || fs::exists(requestPath(record.id), error)) {
                    continue;
                }
                if (!writeRequest(record.id, record.text)) {
                    whole = false;
                    break;
                }
                area.markWritten(record.offset);
            }
            if (!whole) continue;  // tried again at the next listing
            if (damaged) log("intake " + name + ": a damaged record and any after it were dropped");
            file->discard();
            const std::lock_guard<std::mutex> lock(mutex);
            countKnown = false;
        }
    }

    // Drops the oldest in-app requests until one more fits. Called with `mutex` held. False when
    // the new request must not be stored. Calls that share `search` list the folder once.
    bool makeRoom(EventKind kind, RoomSearch& search) {
        if (!search.listed) {
            search.ids = listIds(false);
            search.listed = true;
            count = search.ids.size();
            countKnown = true;
        }
        for (; search.next < search.ids.size(); ++search.next) {
            if (count < maxRequests) return true;
            const std::string& id = search.ids[search.next];
            std::string text;
            if (readFile(requestPath(id), text) != ReadOutcome::Read) continue;
            const Decoded decoded = decode(text);
            if (decoded.problem != nullptr || isLaunch(decoded.kind)) continue;
            std::error_code error;
            if (fs::remove(requestPath(id), error)) {
                log("full: dropped the oldest in-app request " + id);
                --count;
            }
        }
        if (count < maxRequests) return true;
        // Only launch requests are left. A launch is stored all the same: they come once per
        // start of the game, so they cannot flood the disk, and each one matters. An in-app
        // request is refused instead, as the newest in-app request is the oldest one present.
        if (isLaunch(kind)) return true;
        log("full of launch requests: in-app request not stored");
        return false;
    }
};

Outbox::Outbox(std::string folder, std::string appId, std::size_t maxRequests)
    : state_(std::make_unique<State>()) {
    state_->appId = std::move(appId);
    state_->maxRequests = std::max<std::size_t>(maxRequests, 1);
    if (!folder.empty()) state_->folder = fs::u8path(folder) / appFolderName(state_->appId);
}

Outbox::~Outbox() = default;

bool Outbox::store(EventKind kind, const HttpRequest& request) {
    State& state = *state_;
    try {
        if (state.folder.empty()) {
            state.log("request not stored: no outbox folder");
            return false;
        }
        const std::string text = encode(state.appId, kind, request);
        const std::uint32_t processId = Platform::currentProcessId();
        std::unique_lock<std::mutex> lock(state.mutex);
        if (!state.countKnown) {
            state.count = state.listIds(false).size();
            state.countKnown = true;
        }
        const bool intake = state.hasOwnIntake(processId);
        if (state.count >= state.maxRequests && !intake) {
            State::RoomSearch search;
            if (!state.makeRoom(kind, search)) return false;
        }
        const std::string id = makeId(processId);
        if (intake) {
            bool stored = state.appendToIntake(id, text);
            if (!stored) {
                // Full, or too large a request: what the intake holds goes out first, so that
                // the sender never sees a request without those stored before it.
                lock.unlock();
                state.writeOutIntake();
                lock.lock();
                stored = state.appendToIntake(id, text);
            }
            if (stored) {
                ++state.count;
                return true;
            }
        }
        lock.unlock();
        if (!state.writeRequest(id, text)) return false;
        lock.lock();
        ++state.count;
        return true;
    } catch (const std::exception& e) {
        state.log(std::string("request not stored: ") + e.what());
        return false;
    }
}

void Outbox::prepare() {
    State& state = *state_;
    if (state.folder.empty()) return;
    try {
        state.makeIntake();
        state.writeOutIntake();
        if (!Platform::NamelessFile::supported()) return;
        std::size_t missing = 0;
        {
            const std::lock_guard<std::mutex> lock(state.mutex);
            missing = kPreparedFiles - std::min(kPreparedFiles, state.prepared.size());
        }
        const std::string folder = state.folder.u8string();
        for (; missing > 0; --missing) {
            std::unique_ptr<Platform::NamelessFile> file = Platform::NamelessFile::make(folder);
            // The folder is made on first store; a file system without nameless files leaves the
            // stores to make their own.
            if (!file) return;
            const std::lock_guard<std::mutex> lock(state.mutex);
            state.prepared.push_back(std::move(file));
        }
    } catch (const std::exception& e) {
        state.log(std::string("no files made ahead: ") + e.what());
    }
}

bool Outbox::wantsPreparing() const {
    State& state = *state_;
    if (state.folder.empty()) return false;
    const std::lock_guard<std::mutex> lock(state.mutex);
    // An intake filling up while the sender waits (to retry, say) is written out ahead of need,
    // so that the host's thread does not meet it full.
    const State::IntakePart& active = state.intakeParts[state.activePart];
    if (active.area && active.area->end() - active.writtenTo > kIntakeBytes / 2) return true;
    return Platform::NamelessFile::supported() && state.prepared.size() <= kPreparedFiles / 2;
}

std::vector<StoredRequest> Outbox::pending() {
    State& state = *state_;
    std::vector<StoredRequest> requests;
    if (state.folder.empty()) return requests;
    try {
        state.writeOutIntake();
        state.recoverIntakes();
        for (const std::string& id : state.listIds(true)) {
            const std::string name = id + kRequestSuffix;
            std::string text;
            switch (readFile(state.requestPath(id), text)) {
                case ReadOutcome::Read:
                    break;
                case ReadOutcome::Gone:
                    continue;
                case ReadOutcome::TooLarge:
                    state.setAside(name, "too large");
                    continue;
                case ReadOutcome::Failed:
                    state.log("could not read " + name);
                    continue;
            }
            Decoded decoded = decode(text);
            if (decoded.problem == nullptr && decoded.appId != state.appId) {
                decoded.problem = "of another app id";
            }
            if (decoded.problem != nullptr) {
                state.setAside(name, decoded.problem);
                continue;
            }
            requests.push_back(StoredRequest{id, decoded.kind, std::move(decoded.request)});
        }
    } catch (const std::exception& e) {
        state.log(std::string("listing stopped: ") + e.what());
    }
    const std::lock_guard<std::mutex> lock(state.mutex);
    state.count = requests.size();
    state.countKnown = true;
    return requests;
}

void Outbox::remove(const std::string& id) {
    State& state = *state_;
    // Anything else could name a file outside the outbox.
    if (state.folder.empty() || !isId(id)) return;
    std::error_code error;
    // On Windows a file cannot go while another program holds it open without sharing its
    // deletion (a virus scanner, a backup): that lasts moments, and a request left behind would be
    // sent again. Only the sender thread removes, so it may wait.
    for (int attempt = 1; attempt <= kRemoveAttempts; ++attempt) {
        if (attempt > 1) std::this_thread::sleep_for(kRemovePause);
        if (fs::remove(state.requestPath(id), error)) {
            const std::lock_guard<std::mutex> lock(state.mutex);
            if (state.count > 0) --state.count;
            return;
        }
        if (!error) return;  // gone already
    }
    state.log("could not remove " + id + kRequestSuffix + ": " + error.message());
}

void Outbox::writeOut() {
    try {
        state_->writeOutIntake();
    } catch (const std::exception& e) {
        state_->log(std::string("intake not written out: ") + e.what());
    }
}

bool Outbox::claimSending() {
    State& state = *state_;
    if (state.folder.empty()) return false;
    try {
        const std::lock_guard<std::mutex> lock(state.mutex);
        if (!Platform::makePrivateFolders(state.folder.u8string())) return false;
        return state.claim.tryClaim((state.folder / kLockName).u8string());
    } catch (const std::exception& e) {
        state.log(std::string("could not claim sending: ") + e.what());
        return false;
    }
}

}  // namespace ORBA
