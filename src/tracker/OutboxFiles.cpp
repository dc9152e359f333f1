#include "tracker/OutboxFiles.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <optional>
#include <system_error>
#include <utility>

#include "platform/BackgroundThread.h"
#include "platform/MainWindow.h"
#include "tracker/RequestFile.h"

namespace ORBA {
namespace {

namespace fs = std::filesystem;
using namespace OutboxNames;

// A writer renames its temporary within microseconds; one this old belongs to a dead writer.
constexpr auto kStaleTemporaryAge = std::chrono::minutes(1);

bool writeFile(const fs::path& path, const std::string& text) {
    return Platform::writePrivateFile(path.u8string(), text);
}

}  // namespace

OutboxFiles::OutboxFiles(fs::path folder, std::string appId, Log log)
    : folder_(std::move(folder)), appId_(std::move(appId)), log_(std::move(log)) {}

fs::path OutboxFiles::requestPath(const std::string& id) const {
    return folder_ / (id + kRequestSuffix);
}

std::vector<std::string> OutboxFiles::listIds(bool tidy) {
    std::vector<std::string> ids;
    std::error_code error;
    fs::directory_iterator it(folder_, error);
    if (error) return ids;
    const auto now = fs::file_time_type::clock::now();
    std::size_t setAsideNow = 0;
    std::size_t skipped = 0;
    const auto putAside = [&](const std::string& name, const char* problem) {
        if (setAsideNow >= kMaxSetAsidePerListing) {
            ++skipped;
            return;
        }
        ++setAsideNow;
        setAside(name, problem);
    };
    for (fs::directory_iterator end; !error && it != end; it.increment(error)) {
        const fs::directory_entry& entry = *it;
        const std::string name = entry.path().filename().u8string();
        // The type as the listing gave it, links not followed: a FIFO put here must never be
        // opened, and it must not count against the bound.
        std::error_code typeError;
        const fs::file_type type = entry.symlink_status(typeError).type();
        if (std::optional<std::string> id = RequestFile::idOf(name, kRequestSuffix)) {
            if (type == fs::file_type::regular) {
                ids.push_back(std::move(*id));
            } else if (tidy && type != fs::file_type::not_found) {
                putAside(name, "not a regular file");
            }
            continue;
        }
        if (!tidy || name == kLockName || name == kBoundLockName || name == kSetAsideName ||
            name == kIntakeName) {
            continue;
        }
        if (RequestFile::idOf(name, kTemporarySuffix)) {
            std::error_code timeError;
            const auto written = fs::last_write_time(entry.path(), timeError);
            if (!timeError && now - written > kStaleTemporaryAge) {
                putAside(name, "left by a writer that stopped");
            }
            continue;
        }
        putAside(name, "not a stored request");
    }
    if (skipped > 0) {
        log_(std::to_string(skipped) + " more files that are not stored requests wait to be set aside");
    }
    if (tidy) keepSetAsideBounded();
    std::sort(ids.begin(), ids.end());
    return ids;
}

std::vector<OutboxFiles::Listed> OutboxFiles::listRequests() {
    std::vector<Listed> listed;
    std::error_code error;
    fs::directory_iterator it(folder_, error);
    std::size_t seen = 0;
    for (fs::directory_iterator end; !error && it != end; it.increment(error)) {
        if (++seen % 64 == 0) Platform::yieldToHostThreads();
        std::error_code typeError;
        if (it->symlink_status(typeError).type() != fs::file_type::regular) continue;
        std::optional<std::string> id =
            RequestFile::idOf(it->path().filename().u8string(), kRequestSuffix);
        if (!id) continue;
        std::error_code sizeError;
        const std::uintmax_t bytes = it->file_size(sizeError);
        listed.push_back({std::move(*id), sizeError ? 0 : bytes});
    }
    std::sort(listed.begin(), listed.end(),
              [](const Listed& a, const Listed& b) { return a.id < b.id; });
    return listed;
}

void OutboxFiles::prepareFiles(std::size_t wanted) {
    if (!Platform::NamelessFile::supported()) return;
    std::size_t missing = 0;
    {
        const std::lock_guard<std::mutex> lock(preparedMutex_);
        missing = wanted - std::min(wanted, prepared_.size());
    }
    const std::string folder = folder_.u8string();
    for (; missing > 0; --missing) {
        Platform::yieldToHostThreads();
        std::unique_ptr<Platform::NamelessFile> file = Platform::NamelessFile::make(folder);
        // The folder is made on first store; a file system without nameless files leaves the
        // writes to make their own.
        if (!file) return;
        const std::lock_guard<std::mutex> lock(preparedMutex_);
        prepared_.push_back(std::move(file));
    }
}

bool OutboxFiles::wantsFiles(std::size_t wanted) {
    if (!Platform::NamelessFile::supported()) return false;
    const std::lock_guard<std::mutex> lock(preparedMutex_);
    return prepared_.size() <= wanted / 2;
}

Platform::FileRead OutboxFiles::readRequest(const std::string& id, std::string& text) const {
    return Platform::readWholeFile(requestPath(id).u8string(), kMaxOutboxFileBytes, text);
}

bool OutboxFiles::writeRequest(const std::string& id, const std::string& text) {
    Platform::yieldToHostThreads();
    std::unique_ptr<Platform::NamelessFile> file;
    {
        const std::lock_guard<std::mutex> lock(preparedMutex_);
        if (!prepared_.empty()) {
            file = std::move(prepared_.back());
            prepared_.pop_back();
        }
    }
    if (file && file->writeAndName(text, requestPath(id).u8string())) return true;
    const fs::path temporary = folder_ / (id + kTemporarySuffix);
    bool written = writeFile(temporary, text);
    if (!written && Platform::makePrivateFolders(folder_.u8string())) {
        written = writeFile(temporary, text);
    }
    std::error_code error;
    if (written) fs::rename(temporary, requestPath(id), error);
    if (!written || error) {
        fs::remove(temporary, error);
        log_("request not stored: could not write " + id + kRequestSuffix);
        return false;
    }
    return true;
}

bool OutboxFiles::setAside(const std::string& name, const char* problem, bool quiet) {
    return setAside(folder_, name, problem, quiet);
}

bool OutboxFiles::setAside(const fs::path& from, const std::string& name, const char* problem,
                           bool quiet) {
    const fs::path aside = folder_ / kSetAsideName;
    std::error_code error;
    if (!Platform::makePrivateFolders(aside.u8string())) {
        log_("could not set aside " + name + " (" + problem + "): no set-aside folder");
        return false;
    }
    fs::path target = aside / fs::u8path(name);
    if (fs::exists(fs::symlink_status(target, error))) {
        target = aside / fs::u8path(name + "." + RequestFile::makeId(Platform::currentProcessId()));
    }
    fs::rename(from / fs::u8path(name), target, error);
    if (!error) {
        if (!quiet) log_("set aside " + name + " (" + problem + ")");
        const std::lock_guard<std::mutex> lock(setAsideMutex_);
        setAsideGrew_ = true;
        newestSetAside_ = target;
        return true;
    }
    std::error_code existsError;
    if (fs::exists(fs::symlink_status(from / fs::u8path(name), existsError))) {
        log_("could not set aside " + name + " (" + problem + "): " + error.message());
    }
    return false;
}

std::size_t OutboxFiles::eraseSetAside() {
    std::size_t erased = 0;
    std::error_code error;
    for (fs::directory_iterator it(folder_ / kSetAsideName, error), end; !error && it != end;
         it.increment(error)) {
        std::error_code removeError;
        if (fs::remove_all(it->path(), removeError) > 0) ++erased;
    }
    return erased;
}

void OutboxFiles::keepSetAsideBounded() {
    fs::path newest;
    {
        const std::lock_guard<std::mutex> lock(setAsideMutex_);
        if (!setAsideGrew_) return;
        setAsideGrew_ = false;
        newest = newestSetAside_;
    }
    const fs::path aside = folder_ / kSetAsideName;
    std::vector<std::pair<fs::file_time_type, fs::path>> files;
    std::error_code error;
    for (fs::directory_iterator it(aside, error), end; !error && it != end; it.increment(error)) {
        if (it->path() == newest) continue;
        std::error_code timeError;
        const fs::file_time_type written = it->symlink_status(timeError).type() ==
                                                   fs::file_type::regular
                                               ? it->last_write_time(timeError)
                                               : fs::file_time_type::min();
        files.emplace_back(timeError ? fs::file_time_type::min() : written, it->path());
    }
    if (files.size() < kMaxSetAsideFiles) return;
    std::sort(files.begin(), files.end());
    const std::size_t excess = files.size() + 1 - kMaxSetAsideFiles;
    std::size_t removed = 0;
    for (std::size_t i = 0; i < excess; ++i) {
        if (fs::remove_all(files[i].second, error) != static_cast<std::uintmax_t>(-1)) ++removed;
    }
    log_("set-aside holds more than " + std::to_string(kMaxSetAsideFiles) + " files: removed the " +
         std::to_string(removed) + " oldest");
}

}  // namespace ORBA
