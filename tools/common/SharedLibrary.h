// Loads a shared library at run time, as a host game does, and finds its exports by name.
#pragma once

#include <string>

namespace OrbaTools {

class SharedLibrary {
public:
    explicit SharedLibrary(const std::string& path);
    ~SharedLibrary();
    SharedLibrary(const SharedLibrary&) = delete;
    SharedLibrary& operator=(const SharedLibrary&) = delete;

    bool loaded() const { return handle_ != nullptr; }
    // Why loading failed, in the system's words; empty after a successful load.
    const std::string& error() const { return error_; }
    // The address of an exported symbol, or nullptr.
    void* symbol(const std::string& name) const;

private:
    void* handle_ = nullptr;
    std::string error_;
};

// The folder of the running executable, with a trailing separator.
std::string executableFolder();

// The file name of the tracker library on this platform.
std::string trackerLibraryFileName();

}  // namespace OrbaTools
