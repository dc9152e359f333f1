// Where the outbox of background delivery keeps its files, and the few operating-system services
// it needs beyond the private files and folders of PrivateFiles.h: the sending claim, files made
// ahead and mapped files.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "platform/PrivateFiles.h"

namespace ORBA {
namespace Platform {

// The folder holding every app id's outbox, as UTF-8: "outbox" in stateFolder(). Empty when the
// system names no such place.
std::string outboxFolder();

// An exclusive claim on a lock file, held while the object lives and released by the system when
// the process ends however it ends. Exclusive between objects, even of one process.
class FileClaim {
public:
    FileClaim();
    ~FileClaim();
    FileClaim(const FileClaim&) = delete;
    FileClaim& operator=(const FileClaim&) = delete;

    enum class Outcome {
        Claimed,   // this object holds the claim, also when it already did
        Held,      // another object, of this process or another, holds it
        Unusable,  // no lock file can be opened there (a folder or FIFO at its name, no room)
    };
    // Creates the file at `path` (UTF-8) when absent and claims it without waiting. In a folder
    // that cannot be written, an existing lock file still serves.
    Outcome tryClaim(const std::string& path);

private:
    struct Handle;
    std::unique_ptr<Handle> handle_;
};

// A file made ahead of need in a folder but given no name there yet, so that listings do not see
// it and a process's end, however it ends, takes it away. Making a file is the costly part of
// storing one (the file system looks for room for it); with one made beforehand, the thread that
// stores a request only writes and names it.
class NamelessFile {
public:
    // Whether this system makes such files at all; where it does not, make() always fails.
    static bool supported();
    // A nameless file in `folder` (UTF-8), or null when none could be made.
    static std::unique_ptr<NamelessFile> make(const std::string& folder);
    ~NamelessFile();
    NamelessFile(const NamelessFile&) = delete;
    NamelessFile& operator=(const NamelessFile&) = delete;

    // Writes `bytes` and only then gives the file the name `path` (UTF-8, in the folder it was
    // made in), so that the name never shows a part of them. Fails when `path` exists. Used up
    // either way: false leaves nothing behind.
    bool writeAndName(const std::string& bytes, const std::string& path);

private:
    struct Handle;
    explicit NamelessFile(std::unique_ptr<Handle> handle);
    std::unique_ptr<Handle> handle_;
};

// A file of fixed size whose bytes are this process's memory, held exclusively while the object
// lives. What is written to the bytes is the file's content at once, for every reader and after
// this process ends however it ends (a power cut may still lose what the system had not yet
// written out), without a system call per write.
class MappedFile {
public:
    // Whether this system maps files at all; where it does not, create() and claim() fail.
    static bool supported();
    // Creates `path` (UTF-8; fails when it exists) with `size` zero bytes whose room on the disk is
    // taken at once, so that writing them later cannot fail for want of it.
    static std::unique_ptr<MappedFile> create(const std::string& path, std::size_t size);
    // Takes the regular file at `path` when no object of any living process holds it and it holds
    // no more than `maxSize` bytes; null otherwise. Its bytes are a copy: changing them changes
    // nothing on the disk.
    static std::unique_ptr<MappedFile> claim(const std::string& path, std::size_t maxSize);
    ~MappedFile();
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    unsigned char* data() const;
    std::size_t size() const;
    // Removes the file while still holding it, so that no other process takes it meanwhile.
    void discard();
    // Makes every page of a mapped file writable without a fault, so that the thread that later
    // writes into it does not wait on the file system (which readies a page for writing on its
    // first write, and again after writing it back). For a thread other than the writer's; what
    // the bytes hold does not change, even while another thread writes them.
    void readyForWrites();
    // Writes `size` bytes of a claimed file's copy from `offset` on back to the file, so that a
    // change to them outlives this process. False when they could not all be written.
    bool writeBack(std::size_t offset, std::size_t size);

private:
    struct Handle;
    explicit MappedFile(std::unique_ptr<Handle> handle);
    std::unique_ptr<Handle> handle_;
};

}  // namespace Platform
}  // namespace ORBA
