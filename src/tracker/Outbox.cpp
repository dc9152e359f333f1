// Stored requests live one per file in the app id's folder (OutboxFiles.h), named by their id so
// that a sorted listing is the order they were made in, whichever process made them.
//
// Where the system maps files, the host's thread does not write that file itself: it copies the
// request into this process's intake (OutboxIntake.h: parts of a fixed size mapped into memory,
// one taking stores while the others wait to be written out or stand spare), and a library
// thread writes the files out, inside a bounded batch (OutboxBound.h). An intake left by a
// process that ended is written out by the next one that sends, each record at most once: a
// record written out is marked so in the file before the next one goes.
#include "tracker/Outbox.h"

#include <algorithm>
#include <cassert>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <exception>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>

#include "orba/Logger.h"
#include "platform/MainWindow.h"
#include "platform/OutboxFolder.h"
#include "tracker/DeliveryStatus.h"
#include "tracker/OutboxIntake.h"
#include "tracker/RequestFile.h"

namespace ORBA {
namespace {

namespace fs = std::filesystem;
using namespace OutboxNames;
using RequestFile::isId;
using RequestFile::isLaunch;

// Each part of an intake holds several hundred requests of a usual size.
constexpr std::size_t kIntakeBytes = 512 * 1024;
// A burst that outruns the disk fills parts faster than they are written out: spare parts are
// made ahead, up to this many in all (4 MiB), and past them in-app requests are dropped.
constexpr std::size_t kMaxIntakeParts = 8;
// Requests handed to a library thread in memory (too large for a part, or launches met with a
// full intake), in bytes.
constexpr std::size_t kMaxHandedOnBytes = 32 * 1024 * 1024;
// How often, and how far apart, removing a delivered request is tried before it is left to be
// sent again.
constexpr int kRemoveAttempts = 5;
constexpr auto kRemovePause = std::chrono::milliseconds(20);
// Files made ahead of writes.
constexpr std::size_t kPreparedFiles = 8;

// The class a request file's text holds; a damaged one counts as in-app, as that is what may go.
RequestFile::Class classOf(const std::string& text) {
    const RequestFile::Class kind = RequestFile::classify(text);
    return kind == RequestFile::Class::Damaged ? RequestFile::Class::InApp : kind;
}

struct IntakePart {
    std::unique_ptr<Platform::MappedFile> file;
    std::unique_ptr<OutboxIntake> area;
    std::string name;
    std::size_t writtenTo = OutboxIntake::kHeaderSize;  // where records not written out begin
    bool oneOff = false;  // made for one request too large for a part; goes once written out
};

struct HandedOn {
    std::string id;
    std::string text;
};

// An intake that an ended process left, claimed by this one until it is written out whole.
struct Recovering {
    std::unique_ptr<Platform::MappedFile> file;
};

}  // namespace

struct Outbox::Impl {
    std::string appId;
    std::size_t maxRequests = kMaxStoredRequests;
    std::atomic<std::size_t> maxBytes{kDefaultOutboxBytes};
    std::unique_ptr<OutboxFiles> files;  // null when the platform named no folder
    std::atomic<bool> boundLockWarned{false};

    // Guards what follows up to `writingOut`.
    mutable std::mutex mutex;
    std::vector<std::unique_ptr<IntakePart>> parts;
    std::deque<IntakePart*> filling;  // parts holding records not written out; the last one takes stores
    std::vector<IntakePart*> spare;   // empty parts, ready to take stores
    // A forked child sees the parent's intake and must not store into it.
    std::uint32_t intakeOwner = 0;
    bool intakeFailed = false;
    std::deque<HandedOn> handedOn;
    std::size_t handedOnBytes = 0;
    std::size_t unwritten = 0;  // requests this process stored that are no files yet

    // What a flush waits for; the host's thread never takes this lock.
    std::mutex ownMutex;
    std::set<std::string> ownFiles;  // files this process's requests became, not known to be gone
    std::set<std::string> kept;      // delivered, but the file could not be removed
    bool keptLogged = false;

    // One writer-out at a time, so that each record becomes one file. Taken before `mutex`.
    std::mutex writingOut;
    std::map<std::string, Recovering> recovering;  // by file name; guarded by `writingOut`

    std::mutex claimMutex;
    std::unique_ptr<Platform::FileClaim> claim;
    bool claimWarned = false;

    void log(const std::string& text) const {
        Core::Logger::Log("Outbox of app " + appId + ": " + text);
    }

    std::unique_ptr<BoundedBatch> newBatch() {
        return std::make_unique<BoundedBatch>(*files, maxRequests, maxBytes, boundLockWarned);
    }

    // Checks that `lock` holds `mutex`: the members it guards are reached only through it.
    void holds(const std::unique_lock<std::mutex>& lock) const {
        assert(lock.owns_lock() && lock.mutex() == &mutex);
        (void)lock;
    }

    bool hasOwnIntake(std::uint32_t processId, const std::unique_lock<std::mutex>& lock) const {
        holds(lock);
        return !filling.empty() && intakeOwner == processId;
    }

    // Copies a request into the part taking stores, or into a spare part once that one is full.
    bool appendToIntake(const std::string& id, const std::string& text,
                        const std::unique_lock<std::mutex>& lock) {
        holds(lock);
        if (filling.back()->area->append(id, text)) return true;
        if (spare.empty()) return false;
        IntakePart* next = spare.back();
        if (!next->area->append(id, text)) return false;  // too large for any part
        spare.pop_back();
        filling.push_back(next);
        return true;
    }

    // A new part of this process's intake, or null when none could be made.
    std::unique_ptr<IntakePart> makePart(std::uint32_t processId, std::size_t size = kIntakeBytes) {
        const fs::path intakeFolder = files->folder() / kIntakeName;
        if (!Platform::makePrivateFolders(intakeFolder.u8string())) return nullptr;
        auto part = std::make_unique<IntakePart>();
        part->name = RequestFile::makeId(processId) + kIntakeSuffix;
        part->file = Platform::MappedFile::create((intakeFolder / part->name).u8string(), size);
        if (!part->file) return nullptr;
        part->area = std::make_unique<OutboxIntake>(part->file->data(), part->file->size());
        part->area->format();
        part->file->readyForWrites();
        return part;
    }

    // Makes this process's intake when none was made yet, and a spare part when stores have
    // taken every other one.
    void growIntake() {
        if (!Platform::MappedFile::supported()) return;
        const std::uint32_t processId = Platform::currentProcessId();
        std::size_t wanted = 0;
        {
            std::unique_lock<std::mutex> lock(mutex);
            if (intakeFailed) return;
            if (!hasOwnIntake(processId, lock)) {
                wanted = 2;
            } else if (spare.empty() && parts.size() < kMaxIntakeParts) {
                wanted = 1;
            }
        }
        std::vector<std::unique_ptr<IntakePart>> made;
        for (std::size_t i = 0; i < wanted; ++i) {
            std::unique_ptr<IntakePart> part = makePart(processId);
            if (!part) break;
            made.push_back(std::move(part));
        }
        std::unique_lock<std::mutex> lock(mutex);
        const bool first = !hasOwnIntake(processId, lock);
        if (first && made.size() < 2) {
            intakeFailed = true;
            log("no intake: requests are written one file each");
            for (std::unique_ptr<IntakePart>& part : made) part->file->discard();
            return;
        }
        if (first) {
            parts.clear();
            filling.clear();
            spare.clear();
            intakeOwner = processId;
        }
        for (std::unique_ptr<IntakePart>& part : made) {
            if (filling.empty()) {
                filling.push_back(part.get());
            } else {
                spare.push_back(part.get());
            }
            parts.push_back(std::move(part));
        }
    }

    // Writes out what this process's intake holds and what was handed on, in id order, within the
    // bound; each part written out whole is started over and stands spare.
    void writeOutIntake() {
        const std::lock_guard<std::mutex> one(writingOut);
        const std::uint32_t processId = Platform::currentProcessId();
        std::vector<IntakePart*> snapshot;
        std::vector<HandedOn> handed;
        {
            std::unique_lock<std::mutex> lock(mutex);
            if (hasOwnIntake(processId, lock)) snapshot.assign(filling.begin(), filling.end());
            handed.assign(std::make_move_iterator(handedOn.begin()),
                          std::make_move_iterator(handedOn.end()));
            handedOn.clear();
            handedOnBytes = 0;
        }
        struct Item {
            std::string id;
            const std::string* text;
            IntakePart* part;  // null for a request handed on
            std::size_t offset;
            bool written;
        };
        // Read without `mutex`: a record counts only once whole, and the host's thread only ever
        // adds records after these.
        std::vector<std::vector<OutboxIntake::Record>> records;
        records.reserve(snapshot.size());
        std::vector<Item> items;
        for (IntakePart* part : snapshot) {
            records.push_back(part->area->records(part->writtenTo));
            for (const OutboxIntake::Record& record : records.back()) {
                items.push_back({record.id, &record.text, part, record.offset, record.written});
            }
        }
        for (const HandedOn& request : handed) {
            items.push_back({request.id, &request.text, nullptr, 0, false});
        }
        if (items.empty()) return;
        std::stable_sort(items.begin(), items.end(),
                         [](const Item& a, const Item& b) { return a.id < b.id; });

        // An ordinary in-app request followed in this batch by a full outbox's worth of newer
        // ones would be made a file only to be dropped for them before the batch ends: it is
        // dropped unwritten, which spares the disk a file made and removed per request in a burst.
        std::vector<std::size_t> newerToWrite(items.size() + 1, 0);
        for (std::size_t i = items.size(); i > 0; --i) {
            newerToWrite[i - 1] = newerToWrite[i] + (items[i - 1].written ? 0 : 1);
        }

        std::map<IntakePart*, std::size_t> reached;
        std::size_t done = 0;
        std::vector<std::string> written;
        std::size_t next = 0;
        {
            std::unique_ptr<BoundedBatch> batch;
            for (; next < items.size(); ++next) {
                const Item& item = items[next];
                if (!item.written) {
                    const RequestFile::Class kind = classOf(*item.text);
                    if (kind == RequestFile::Class::InApp &&
                        newerToWrite[next + 1] >= maxRequests) {
                        log("full: dropped the oldest in-app request " + item.id);
                        DeliveryStatus::instance().dropped(appId, DropReason::kNoRoom);
                    } else {
                        if (!batch) batch = newBatch();
                        if (batch->admit(kind, item.text->size())) {
                            if (!files->writeRequest(item.id, *item.text)) break;
                            batch->added(item.id, item.text->size(), kind);
                            written.push_back(item.id);
                        }
                    }
                }
                if (item.part != nullptr) {
                    item.part->area->markWritten(item.offset);
                    reached[item.part] = item.offset + OutboxIntake::recordSize(item.text->size());
                }
                ++done;
            }
        }
        std::size_t ownCount = 0;
        {
            const std::lock_guard<std::mutex> lock(ownMutex);
            ownFiles.insert(written.begin(), written.end());
            ownCount = ownFiles.size();
        }
        std::vector<IntakePart*> readied;
        std::unique_lock<std::mutex> lock(mutex);
        unwritten -= std::min(unwritten, done);
        // What could not be written goes back first in line, in its order.
        for (std::size_t i = items.size(); i > next; --i) {
            const Item& item = items[i - 1];
            if (item.part != nullptr) continue;
            handedOnBytes += item.text->size();
            handedOn.push_front({item.id, *item.text});
        }
        for (const auto& [part, to] : reached) part->writtenTo = to;
        for (auto it = filling.begin(); it != filling.end();) {
            IntakePart* part = *it;
            const bool active = part == filling.back();
            if (part->writtenTo != part->area->end() ||
                part->area->end() == OutboxIntake::kHeaderSize) {
                ++it;
                continue;
            }
            if (part->oneOff) {
                part->file->discard();
                it = filling.erase(it);
                parts.erase(std::find_if(parts.begin(), parts.end(),
                                         [part](const auto& held) { return held.get() == part; }));
                continue;
            }
            part->area->restart();
            part->writtenTo = OutboxIntake::kHeaderSize;
            if (active) {
                ++it;  // still takes stores, from its start again
            } else {
                spare.push_back(part);
                readied.push_back(part);
                it = filling.erase(it);
            }
        }
        lock.unlock();
        // Their pages were written back meanwhile, or will be: ready them again here rather than
        // on the host's thread's first write. Parts go only in writeOutIntake, which this thread
        // holds.
        for (IntakePart* part : readied) part->file->readyForWrites();
        if (ownCount > 4 * maxRequests) forgetGone();
    }

    // Forgets own requests whose files are gone (delivered, dropped or set aside, by this process
    // or another) and returns how many are left. Looks at the files without `mutex`, so that
    // stores go on meanwhile.
    std::size_t forgetGone() {
        // The records not yet written out are counted first: a write-out adds its files to
        // `ownFiles` before it takes them off `unwritten`, so a request written out meanwhile is
        // counted once or twice, never missed.
        std::size_t notWritten = 0;
        {
            const std::lock_guard<std::mutex> lock(mutex);
            notWritten = unwritten;
        }
        std::vector<std::string> asFiles;
        {
            const std::lock_guard<std::mutex> lock(ownMutex);
            asFiles.assign(ownFiles.begin(), ownFiles.end());
        }
        std::vector<std::string> gone;
        for (const std::string& id : asFiles) {
            std::error_code error;
            if (!fs::exists(files->requestPath(id), error) && !error) gone.push_back(id);
        }
        std::size_t waiting = 0;
        {
            const std::lock_guard<std::mutex> lock(ownMutex);
            for (const std::string& id : gone) ownFiles.erase(id);
            waiting = ownFiles.size();
        }
        return waiting + notWritten;
    }

    // The names in the intake folder other than this process's own parts, in order.
    std::vector<std::string> othersIntakeNames(const fs::path& intakeFolder) {
        std::vector<std::string> names;
        std::error_code error;
        fs::directory_iterator it(intakeFolder, error);
        for (fs::directory_iterator end; !error && it != end; it.increment(error)) {
            names.push_back(it->path().filename().u8string());
        }
        {
            const std::lock_guard<std::mutex> lock(mutex);
            for (const std::unique_ptr<IntakePart>& part : parts) {
                names.erase(std::remove(names.begin(), names.end(), part->name), names.end());
            }
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    // The mapping of the intake `name` of a process that ended, claimed now or by an earlier pass
    // and held until it is done with; null when the name is not an intake's or a live process
    // holds it. Under `writingOut`.
    Platform::MappedFile* claimDeadIntake(const fs::path& intakeFolder, const std::string& name) {
        if (!RequestFile::idOf(name, kIntakeSuffix)) return nullptr;
        Recovering& entry = recovering[name];
        if (!entry.file) {
            entry.file = Platform::MappedFile::claim((intakeFolder / fs::u8path(name)).u8string(),
                                                     kMaxOutboxFileBytes);
        }
        if (!entry.file) {
            recovering.erase(name);
            return nullptr;
        }
        return entry.file.get();
    }

    // Writes out what the intakes of processes that ended left, within the bound, and removes
    // them. One still held by its process is its process's to write out.
    void recoverIntakes() {
        const std::lock_guard<std::mutex> one(writingOut);
        const fs::path intakeFolder = files->folder() / kIntakeName;
        std::unique_ptr<BoundedBatch> batch;
        for (const std::string& name : othersIntakeNames(intakeFolder)) {
            Platform::MappedFile* const file = claimDeadIntake(intakeFolder, name);
            if (file == nullptr) {
                if (!RequestFile::idOf(name, kIntakeSuffix)) {
                    files->setAside(intakeFolder, name, "not an intake");
                }
                continue;
            }
            OutboxIntake area(file->data(), file->size());
            if (!area.formatted()) {
                recovering.erase(name);
                files->setAside(intakeFolder, name, "not an intake");
                continue;
            }
            bool damaged = false;
            bool whole = true;
            for (const OutboxIntake::Record& record :
                 area.records(OutboxIntake::kHeaderSize, &damaged)) {
                if (record.written || !isId(record.id)) continue;
                // A file already: written out before, its mark lost with the process.
                std::error_code existsError;
                const bool exists =
                    fs::symlink_status(files->requestPath(record.id), existsError).type() ==
                    fs::file_type::regular;
                if (!exists) {
                    if (!batch) batch = newBatch();
                    const RequestFile::Class kind = classOf(record.text);
                    if (batch->admit(kind, record.text.size())) {
                        if (!files->writeRequest(record.id, record.text)) {
                            whole = false;
                            break;
                        }
                        batch->added(record.id, record.text.size(), kind);
                    }
                }
                // Marked in the file before the next record goes: whoever writes this intake
                // out again, after this process too, makes no second file of it.
                area.markWritten(record.offset);
                if (!file->writeBack(record.offset, sizeof(std::uint32_t))) {
                    log("intake " + name + ": could not mark a record written out; the rest waits");
                    whole = false;
                    break;
                }
            }
            // Held, and tried again where it stopped at the next listing; later intakes wait, so
            // that requests keep their order.
            if (!whole) break;
            if (damaged) log("intake " + name + ": a damaged record and any after it were dropped");
            file->discard();
            recovering.erase(name);
        }
    }
};

Outbox::Outbox(std::string folder, std::string appId, std::size_t maxRequests)
    : impl_(std::make_unique<Impl>()) {
    impl_->appId = std::move(appId);
    impl_->maxRequests = std::max<std::size_t>(maxRequests, 1);
    if (!folder.empty()) {
        const Impl* impl = impl_.get();
        impl_->files = std::make_unique<OutboxFiles>(
            fs::u8path(folder) / RequestFile::appFolderName(impl_->appId), impl_->appId,
            [impl](const std::string& line) { impl->log(line); });
    }
}

Outbox::~Outbox() = default;

bool Outbox::store(EventKind kind, const HttpRequest& request) {
    Impl& impl = *impl_;
    try {
        if (!impl.files) {
            impl.log("request not stored: no outbox folder");
            return false;
        }
        std::string text = RequestFile::encode(impl.appId, kind, request);
        if (text.size() > impl.maxBytes && !isLaunch(kind)) {
            impl.log("request of " + std::to_string(text.size()) +
                     " bytes not stored: larger than the outbox's bound of " +
                     std::to_string(impl.maxBytes.load()) + " bytes");
            DeliveryStatus::instance().dropped(impl.appId, DropReason::kTooLarge);
            return false;
        }
        const std::uint32_t processId = Platform::currentProcessId();
        const std::string id = RequestFile::makeId(processId);
        {
            std::unique_lock<std::mutex> lock(impl.mutex);
            if (impl.hasOwnIntake(processId, lock)) {
                const std::size_t recordSize = OutboxIntake::recordSize(text.size());
                if (!impl.appendToIntake(id, text, lock)) {
                    std::unique_ptr<IntakePart> ownPart;
                    if (recordSize > kIntakeBytes - OutboxIntake::kHeaderSize) {
                        // A part of its own: making one is a bounded amount of work, where waiting
                        // for the parts to be written out is not.
                        lock.unlock();
                        ownPart = impl.makePart(processId, OutboxIntake::kHeaderSize + recordSize);
                        lock.lock();
                    }
                    if (ownPart && ownPart->area->append(id, text)) {
                        ownPart->oneOff = true;
                        // Before the part taking stores, which stays the last one.
                        impl.filling.insert(impl.filling.end() - 1, ownPart.get());
                        impl.parts.push_back(std::move(ownPart));
                    } else if (!isLaunch(kind) ||
                               impl.handedOnBytes + text.size() > kMaxHandedOnBytes) {
                        // Past the spare parts the disk cannot keep up with this burst: the
                        // newest in-app requests go, launches never.
                        impl.log("intake full: " + std::string(RequestFile::kindName(kind)) +
                                 " request " + id + " dropped");
                        DeliveryStatus::instance().dropped(impl.appId, DropReason::kIntakeFull);
                        return false;
                    } else {
                        // A launch comes once a start and must not be lost to a burst of events.
                        impl.handedOnBytes += text.size();
                        impl.handedOn.push_back({id, std::move(text)});
                    }
                }
                ++impl.unwritten;
                return true;
            }
        }
        // No intake (yet): written here, within the bound. Another process's batch is not waited
        // for: the request is written all the same, by this listing's count, as a request the
        // host was told is stored must survive this process; the next batch keeps the bound.
        {
            BoundedBatch batch(*impl.files, impl.maxRequests, impl.maxBytes, impl.boundLockWarned,
                               std::chrono::milliseconds(0));
            if (!batch.admit(classOf(text), text.size())) return false;
            if (!impl.files->writeRequest(id, text)) {
                DeliveryStatus::instance().dropped(impl.appId, DropReason::kNotStored);
                return false;
            }
        }
        {
            const std::lock_guard<std::mutex> lock(impl.ownMutex);
            impl.ownFiles.insert(id);
        }
        return true;
    } catch (const std::exception& e) {
        impl.log(std::string("request not stored: ") + e.what());
        return false;
    }
}

void Outbox::setMaxBytes(std::size_t maxBytes) { impl_->maxBytes = std::max<std::size_t>(maxBytes, 1); }

void Outbox::prepare() {
    Impl& impl = *impl_;
    if (!impl.files) return;
    try {
        impl.growIntake();
        impl.writeOutIntake();
        impl.files->prepareFiles(kPreparedFiles);
    } catch (const std::exception& e) {
        impl.log(std::string("not prepared: ") + e.what());
    }
}

bool Outbox::wantsPreparing() const {
    Impl& impl = *impl_;
    if (!impl.files) return false;
    {
        const std::lock_guard<std::mutex> lock(impl.mutex);
        if (!impl.handedOn.empty() || impl.filling.size() > 1) return true;
        if (!impl.filling.empty()) {
            // An intake filling up while the sender waits (to retry, say) is written out ahead of
            // need, and a spare part made, so that the host's thread does not meet it full.
            const IntakePart& active = *impl.filling.back();
            if (active.area->end() - active.writtenTo > kIntakeBytes / 2) return true;
            if (impl.spare.empty() && impl.parts.size() < kMaxIntakeParts) return true;
        }
    }
    return impl.files->wantsFiles(kPreparedFiles);
}

std::vector<StoredRequest> Outbox::pending() {
    Impl& impl = *impl_;
    std::vector<StoredRequest> requests;
    if (!impl.files) return requests;
    try {
        impl.writeOutIntake();
        impl.recoverIntakes();
        std::set<std::string> kept;
        {
            const std::lock_guard<std::mutex> lock(impl.ownMutex);
            kept = impl.kept;
        }
        for (const std::string& id : impl.files->listIds(true)) {
            if (kept.count(id) != 0) continue;
            const std::string name = id + kRequestSuffix;
            std::string text;
            switch (impl.files->readRequest(id, text)) {
                case Platform::FileRead::Read:
                    break;
                case Platform::FileRead::Gone:
                    continue;
                case Platform::FileRead::TooLarge:
                    impl.files->setAside(name, "too large");
                    continue;
                case Platform::FileRead::Failed:
                    impl.log("could not read " + name);
                    continue;
            }
            RequestFile::Decoded decoded = RequestFile::decode(text);
            if (decoded.problem == nullptr && decoded.appId != impl.appId) {
                decoded.problem = "of another app id";
            }
            if (decoded.problem != nullptr) {
                impl.files->setAside(name, decoded.problem);
                continue;
            }
            requests.push_back(StoredRequest{id, decoded.kind, std::move(decoded.request)});
        }
    } catch (const std::exception& e) {
        impl.log(std::string("listing stopped: ") + e.what());
    }
    return requests;
}

void Outbox::remove(const std::string& id) {
    Impl& impl = *impl_;
    // Anything else could name a file outside the outbox.
    if (!impl.files || !isId(id)) return;
    std::error_code error;
    // On Windows a file cannot go while another program holds it open without sharing its
    // deletion (a virus scanner, a backup): that lasts moments, and a request left behind would be
    // sent again. Only the sender thread removes, so it may wait.
    for (int attempt = 1; attempt <= kRemoveAttempts; ++attempt) {
        if (attempt > 1) std::this_thread::sleep_for(kRemovePause);
        if (fs::remove(impl.files->requestPath(id), error) || !error) {
            const std::lock_guard<std::mutex> lock(impl.ownMutex);
            impl.ownFiles.erase(id);
            return;
        }
        // A folder that cannot be written stays so: no point waiting.
        if (error == std::errc::read_only_file_system) break;
    }
    const std::lock_guard<std::mutex> lock(impl.ownMutex);
    impl.kept.insert(id);
    impl.ownFiles.erase(id);
    if (!impl.keptLogged) {
        impl.keptLogged = true;
        impl.log("could not remove delivered " + id + kRequestSuffix + " (" + error.message() +
                 "): delivered requests that cannot be removed are sent once by this process");
    }
}

std::size_t Outbox::erase() {
    Impl& impl = *impl_;
    if (!impl.files) return 0;
    std::size_t erased = 0;
    try {
        const std::lock_guard<std::mutex> one(impl.writingOut);
        {
            std::unique_lock<std::mutex> lock(impl.mutex);
            for (IntakePart* part : impl.filling) {
                for (const OutboxIntake::Record& record : part->area->records(part->writtenTo)) {
                    erased += record.written ? 0 : 1;
                }
                part->area->restart();
                part->writtenTo = OutboxIntake::kHeaderSize;
            }
            while (impl.filling.size() > 1) {
                impl.spare.push_back(impl.filling.front());
                impl.filling.pop_front();
            }
            erased += impl.handedOn.size();
            impl.handedOn.clear();
            impl.handedOnBytes = 0;
            impl.unwritten = 0;
        }
        const fs::path intakeFolder = impl.files->folder() / kIntakeName;
        for (const std::string& name : impl.othersIntakeNames(intakeFolder)) {
            Platform::MappedFile* const file = impl.claimDeadIntake(intakeFolder, name);
            if (file == nullptr) continue;
            OutboxIntake area(file->data(), file->size());
            if (area.formatted()) {
                for (const OutboxIntake::Record& record : area.records(OutboxIntake::kHeaderSize)) {
                    erased += record.written ? 0 : 1;
                }
            }
            file->discard();
            impl.recovering.erase(name);
        }
        std::vector<std::string> removed;
        for (const std::string& id : impl.files->listIds(false)) {
            std::error_code removeError;
            if (fs::remove(impl.files->requestPath(id), removeError)) removed.push_back(id);
        }
        erased += removed.size();
        // Only what went: a store without an intake writes its file outside `writingOut`, and a
        // request stored while this ran is still this process's to wait for.
        const std::lock_guard<std::mutex> lock(impl.ownMutex);
        for (const std::string& id : removed) impl.ownFiles.erase(id);
    } catch (const std::exception& e) {
        impl.log(std::string("not all erased: ") + e.what());
    }
    return erased;
}

std::size_t Outbox::eraseSetAside() {
    if (!impl_->files) return 0;
    try {
        return impl_->files->eraseSetAside();
    } catch (const std::exception& e) {
        impl_->log(std::string("set-aside files not all erased: ") + e.what());
        return 0;
    }
}

Outbox::Waiting Outbox::waiting() {
    Waiting found;
    if (!impl_->files) return found;
    try {
        const std::vector<OutboxFiles::Listed> listed = impl_->files->listRequests();
        for (const OutboxFiles::Listed& request : listed) found.bytes += request.bytes;
        found.requests = listed.size();
        if (!listed.empty()) {
            // An id starts with the time it was made, in nanoseconds since 1970.
            const std::uint64_t made = std::stoull(listed.front().id.substr(0, 20));
            const auto now = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                 std::chrono::system_clock::now().time_since_epoch())
                                 .count();
            found.oldestSeconds =
                now > static_cast<long long>(made)
                    ? static_cast<double>(static_cast<std::uint64_t>(now) - made) / 1e9
                    : 0.0;
        }
        const std::lock_guard<std::mutex> lock(impl_->mutex);
        found.requests += impl_->unwritten;
    } catch (const std::exception& e) {
        impl_->log(std::string("could not count what waits: ") + e.what());
    }
    return found;
}

bool Outbox::stillStored(const std::string& id) const {
    if (!impl_->files || !isId(id)) return false;
    std::error_code error;
    return fs::symlink_status(impl_->files->requestPath(id), error).type() ==
           fs::file_type::regular;
}

void Outbox::setAside(const std::string& id, const char* problem) {
    Impl& impl = *impl_;
    if (!impl.files || !isId(id)) return;
    impl.files->setAside(id + kRequestSuffix, problem, true);
    const std::lock_guard<std::mutex> lock(impl.ownMutex);
    impl.ownFiles.erase(id);
}

void Outbox::writeOut() {
    if (!impl_->files) return;
    try {
        impl_->writeOutIntake();
    } catch (const std::exception& e) {
        impl_->log(std::string("intake not written out: ") + e.what());
    }
}

bool Outbox::claimSending() {
    Impl& impl = *impl_;
    if (!impl.files) return false;
    try {
        const std::lock_guard<std::mutex> lock(impl.claimMutex);
        Platform::makePrivateFolders(impl.files->folder().u8string());
        const fs::path path = impl.files->folder() / kLockName;
        if (!impl.claim) impl.claim = std::make_unique<Platform::FileClaim>();
        Platform::FileClaim::Outcome outcome = impl.claim->tryClaim(path.u8string());
        if (outcome == Platform::FileClaim::Outcome::Unusable) {
            std::error_code error;
            const fs::file_type type = fs::symlink_status(path, error).type();
            if (type != fs::file_type::regular && type != fs::file_type::not_found &&
                impl.files->setAside(kLockName, "not a lock file")) {
                outcome = impl.claim->tryClaim(path.u8string());
            }
        }
        if (outcome != Platform::FileClaim::Outcome::Unusable) {
            return outcome == Platform::FileClaim::Outcome::Claimed;
        }
        if (!impl.claimWarned) {
            impl.claimWarned = true;
            impl.log(std::string("the sending lock ") + kLockName +
                     " cannot be used: this process sends without it");
        }
        return true;
    } catch (const std::exception& e) {
        impl.log(std::string("could not claim sending: ") + e.what());
        return false;
    }
}

void Outbox::releaseSending() {
    const std::lock_guard<std::mutex> lock(impl_->claimMutex);
    impl_->claim.reset();
}

std::size_t Outbox::ownWaiting() {
    Impl& impl = *impl_;
    if (!impl.files) return 0;
    try {
        return impl.forgetGone();
    } catch (const std::exception& e) {
        impl.log(std::string("could not look for own requests: ") + e.what());
        return 0;
    }
}

}  // namespace ORBA
