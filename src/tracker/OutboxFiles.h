// The files of one app id's outbox folder: request files named by their ids, the set-aside folder
// for whatever else turns up, and the listing that tells them apart. Only regular files count as
// requests: a FIFO, link or folder under a request's name is set aside unread, never opened.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/OutboxFolder.h"
#include "platform/PrivateFiles.h"

namespace ORBA {

// The most files an app id's outbox keeps set aside for a person to look at. Beyond it the oldest
// go, so that a folder that keeps receiving damaged or foreign files does not grow without end.
constexpr std::size_t kMaxSetAsideFiles = 100;
// The most files one listing sets aside; the rest wait for the next one, so that a folder flooded
// with junk costs each listing a bounded amount of work and the game's own requests still go.
constexpr std::size_t kMaxSetAsidePerListing = 200;

// The largest outbox file read or mapped whole: far beyond any real request or intake part, small
// enough to hold in memory. Anything larger is not the library's.
constexpr std::size_t kMaxOutboxFileBytes = 16 * 1024 * 1024;

namespace OutboxNames {
constexpr const char* kRequestSuffix = ".req";
constexpr const char* kTemporarySuffix = ".tmp";
constexpr const char* kLockName = "sending.lock";
constexpr const char* kBoundLockName = "bound.lock";
constexpr const char* kSetAsideName = "set-aside";
constexpr const char* kIntakeName = "intake";
constexpr const char* kIntakeSuffix = ".seg";
}  // namespace OutboxNames

class OutboxFiles {
public:
    using Log = std::function<void(const std::string& line)>;
    OutboxFiles(std::filesystem::path folder, std::string appId, Log log);
    const std::string& appId() const { return appId_; }

    const std::filesystem::path& folder() const { return folder_; }
    std::filesystem::path requestPath(const std::string& id) const;
    void log(const std::string& line) const { log_(line); }

    // The ids of the regular request files, oldest first. With `tidy`, stray temporaries of dead
    // writers, foreign files and anything not a regular file under a request's name are set aside
    // on the way (at most kMaxSetAsidePerListing of them).
    std::vector<std::string> listIds(bool tidy);
    struct Listed {
        std::string id;
        std::uintmax_t bytes = 0;
    };
    // The regular request files with their sizes, oldest first; nothing is set aside.
    std::vector<Listed> listRequests();

    // Reads the request file of `id` whole, up to kMaxOutboxFileBytes.
    Platform::FileRead readRequest(const std::string& id, std::string& text) const;

    // Puts `text` in place as the request file of `id`: written whole, private to the user, before
    // it is named. False, with a log line, when it could not be.
    bool writeRequest(const std::string& id, const std::string& text);

    // Moves `name` (in `from`, the outbox folder by default) into the set-aside folder under a
    // name not yet taken there, so that nothing found is lost; logs it unless `quiet`.
    bool setAside(const std::string& name, const char* problem, bool quiet = false);
    bool setAside(const std::filesystem::path& from, const std::string& name, const char* problem,
                  bool quiet = false);
    // Removes everything set aside; returns how many entries went.
    std::size_t eraseSetAside();
    // Removes the oldest set-aside files until kMaxSetAsideFiles hold; once per listing, not per
    // file, so that a flood of junk does not cost a listing of the set-aside folder each.
    void keepSetAsideBounded();

private:
    std::filesystem::path folder_;
    std::string appId_;
    Log log_;
    std::mutex preparedMutex_;
    std::vector<std::unique_ptr<Platform::NamelessFile>> prepared_;
    std::mutex setAsideMutex_;
    bool setAsideGrew_ = false;
    std::filesystem::path newestSetAside_;

public:
    // Files made ahead of writes, where the system has nameless files.
    void prepareFiles(std::size_t wanted);
    bool wantsFiles(std::size_t wanted);
};

}  // namespace ORBA
