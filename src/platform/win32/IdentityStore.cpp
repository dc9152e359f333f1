// The identity lives under the current user's registry key of its own. Earlier versions kept it
// in the per-user Run key, where Windows treats every value as a command to start at logon; a
// value still found there is moved on first read, so existing installs keep their identity.
// The registry makes each write atomic but nothing longer; a read followed by a write of the same
// value runs under a named mutex of that value, shared by every process of the session.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>
// windows.h first: these two rely on its types.
#include <bcrypt.h>
#include <objbase.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "platform/IdentityStore.h"
#include "platform/Uuid.h"
#include "platform/win32/Win32Handles.h"

namespace ORBA {
namespace Platform {
namespace {

constexpr const char* kStoreKeyPath = "SOFTWARE\\ORBA\\Tracker";
constexpr const char* kLegacyKeyPath = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr const char* kMutexPrefix = "Local\\ORBA.Tracker.";
// Kernel object names stop at MAX_PATH characters; longer value names are hashed instead.
constexpr std::size_t kMaxMutexNameLength = 200;

// Owns the named mutex of one value while it lives; holds nothing when the mutex could not be
// made, so that a failing system still reads and writes, as it did before values were locked.
class ValueLock {
public:
    explicit ValueLock(const std::string& name)
        : mutex_(CreateMutexA(nullptr, FALSE, mutexName(name).c_str())) {
        if (mutex_.get() == nullptr) return;
        // WAIT_ABANDONED: the last owner died holding it; each registry write is whole, so
        // what it left is consistent.
        const DWORD waited = WaitForSingleObject(mutex_.get(), INFINITE);
        owned_ = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
    }
    ~ValueLock() {
        if (owned_) ReleaseMutex(mutex_.get());
    }
    ValueLock(const ValueLock&) = delete;
    ValueLock& operator=(const ValueLock&) = delete;

    // Object names may not hold a backslash past the namespace; '%' escapes it and itself.
    static std::string mutexName(const std::string& name) {
        std::string escaped;
        for (const char c : name) {
            if (c == '\\') {
                escaped += "%5C";
            } else if (c == '%') {
                escaped += "%25";
            } else {
                escaped.push_back(c);
            }
        }
        if (escaped.size() > kMaxMutexNameLength) {
            std::uint64_t hash = 14695981039346656037ULL;  // FNV-1a
            for (const char c : name) {
                hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
            }
            char digits[17];
            std::snprintf(digits, sizeof digits, "%016llx", static_cast<unsigned long long>(hash));
            escaped = std::string("#") + digits;
        }
        return kMutexPrefix + escaped;
    }

private:
    KernelHandle mutex_;
    bool owned_ = false;
};

struct RawValue {
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

// The registry functions return their error code and leave the thread's last error alone, so the
// code printed is the one the call returned.
void printError(const char* format, LONG code) {
    std::printf(format, static_cast<int>(code));
    std::fflush(stdout);
}

bool holdsNul(const std::string& text) { return text.find('\0') != std::string::npos; }

// What a read through a buffer of `maxBytes` bytes yields: nothing when the data does not fit,
// else the data up to its first NUL.
std::string boundedText(const BYTE* data, std::size_t size, std::size_t maxBytes) {
    if (size > maxBytes) return std::string();
    const char* text = reinterpret_cast<const char*>(data);
    std::size_t length = 0;
    while (length < size && text[length] != '\0') ++length;
    return std::string(text, length);
}

// Reads a value whatever its size, with its type, so that it can be copied unchanged.
LONG readRawValue(HKEY key, const std::string& name, RawValue& value) {
    // The value can grow between asking for its size and reading it; try again a few times.
    for (int attempt = 0; attempt < 4; ++attempt) {
        DWORD size = 0;
        LONG status = RegQueryValueExA(key, name.c_str(), nullptr, &value.type, nullptr, &size);
        if (status != ERROR_SUCCESS) return status;
        value.data.assign(static_cast<std::size_t>(size) + 1, 0);
        status =
            RegQueryValueExA(key, name.c_str(), nullptr, &value.type, value.data.data(), &size);
        if (status == ERROR_SUCCESS) {
            value.data.resize(size);
            return ERROR_SUCCESS;
        }
        if (status != ERROR_MORE_DATA) return status;
    }
    return ERROR_MORE_DATA;
}

LONG openStoreForWriting(RegistryKey& key) {
    return RegCreateKeyExA(HKEY_CURRENT_USER, kStoreKeyPath, 0, nullptr, REG_OPTION_NON_VOLATILE,
                           KEY_SET_VALUE, nullptr, key.receive(), nullptr);
}

bool copyToStore(const std::string& name, const RawValue& value) {
    RegistryKey store;
    LONG status = openStoreForWriting(store);
    if (status != ERROR_SUCCESS) {
        printError("Error opening key %d\n", status);
        return false;
    }
    status = RegSetValueExA(store.get(), name.c_str(), 0, value.type, value.data.data(),
                            static_cast<DWORD>(value.data.size()));
    if (status != ERROR_SUCCESS) {
        printError("Error setting key %d\n", status);
        return false;
    }
    return true;
}

// Moves `name` from the Run key into the store, keeping its type and bytes. The Run key's copy
// goes only once the store holds the value, so a failure never loses it.
std::string migrateLegacyValue(const std::string& name, std::size_t maxBytes) {
    RawValue value;
    {
        RegistryKey legacy;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, kLegacyKeyPath, 0, KEY_QUERY_VALUE,
                          legacy.receive()) != ERROR_SUCCESS ||
            readRawValue(legacy.get(), name, value) != ERROR_SUCCESS) {
            return std::string();
        }
    }
    if (copyToStore(name, value)) {
        RegistryKey legacy;
        // Left in place if this fails: the store's copy is read first from now on.
        if (RegOpenKeyExA(HKEY_CURRENT_USER, kLegacyKeyPath, 0, KEY_SET_VALUE,
                          legacy.receive()) == ERROR_SUCCESS) {
            RegDeleteValueA(legacy.get(), name.c_str());
        }
    }
    return boundedText(value.data.data(), value.data.size(), maxBytes);
}

std::uint64_t fallbackSeed() {
    static std::atomic<std::uint64_t> calls{0};
    LARGE_INTEGER counter{};
    QueryPerformanceCounter(&counter);
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    return static_cast<std::uint64_t>(counter.QuadPart) ^
           ((static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime) ^
           (static_cast<std::uint64_t>(GetCurrentProcessId()) << 40) ^
           (calls.fetch_add(1) * 0x9E3779B97F4A7C15ULL);
}

// Reads `name` from the library's own key only; `status` says why nothing was read.
std::string readStoreValue(const std::string& name, std::size_t maxBytes, LONG& status) {
    RegistryKey store;
    status = RegOpenKeyExA(HKEY_CURRENT_USER, kStoreKeyPath, 0, KEY_QUERY_VALUE, store.receive());
    if (status != ERROR_SUCCESS) return std::string();
    // One spare byte keeps the buffer real when maxBytes is 0; a null buffer would make the query
    // report the size instead of failing.
    const std::size_t capacity = std::min<std::size_t>(maxBytes, MAXDWORD);
    std::vector<BYTE> buffer(capacity + 1);
    DWORD size = static_cast<DWORD>(capacity);
    status = RegQueryValueExA(store.get(), name.c_str(), nullptr, nullptr, buffer.data(), &size);
    if (status != ERROR_SUCCESS) return std::string();
    return boundedText(buffer.data(), size, maxBytes);
}

// Deletes `name` from the key at `path`, when both are there.
LONG deleteValue(const char* path, const std::string& name) {
    RegistryKey key;
    LONG status = RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_SET_VALUE, key.receive());
    if (status == ERROR_SUCCESS) status = RegDeleteValueA(key.get(), name.c_str());
    return status == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : status;
}

}  // namespace

std::string readIdentityValue(const std::string& name, std::size_t maxBytes) {
    // The ANSI functions would stop the name at a NUL and read another value.
    if (holdsNul(name)) return std::string();
    LONG status = ERROR_SUCCESS;
    std::string value = readStoreValue(name, maxBytes, status);
    if (status != ERROR_FILE_NOT_FOUND) return value;
    return migrateLegacyValue(name, maxBytes);
}

std::string readOwnIdentityValue(const std::string& name, std::size_t maxBytes) {
    if (holdsNul(name)) return std::string();
    LONG status = ERROR_SUCCESS;
    return readStoreValue(name, maxBytes, status);
}

bool removeIdentityValue(const std::string& name) {
    if (holdsNul(name)) return true;  // no value can have such a name
    const ValueLock lock(name);
    // The Run key's copy first: found there, a value would be moved back on the next read.
    LONG status = deleteValue(kLegacyKeyPath, name);
    if (status == ERROR_SUCCESS) status = deleteValue(kStoreKeyPath, name);
    if (status == ERROR_SUCCESS) return true;
    printError("Error setting key %d\n", status);
    return false;
}

bool writeIdentityValue(const std::string& name, const std::string& value) {
    if (holdsNul(name) || holdsNul(value) || value.size() >= MAXDWORD) {
        printError("Error setting key %d\n", ERROR_INVALID_PARAMETER);
        return false;
    }
    RegistryKey store;
    if (const LONG status = openStoreForWriting(store); status != ERROR_SUCCESS) {
        printError("Error opening key %d\n", status);
        return false;
    }
    // REG_SZ data carries its terminating NUL.
    const LONG status = RegSetValueExA(store.get(), name.c_str(), 0, REG_SZ,
                                       reinterpret_cast<const BYTE*>(value.c_str()),
                                       static_cast<DWORD>(value.size() + 1));
    if (status != ERROR_SUCCESS) {
        printError("Error setting key %d\n", status);
        return false;
    }
    return true;
}

std::string updateIdentityValue(const std::string& name, std::size_t maxBytes,
                                const IdentityUpdate& update) {
    if (holdsNul(name)) {
        std::optional<std::string> next = update(std::string());
        if (next) printError("Error setting key %d\n", ERROR_INVALID_PARAMETER);
        return next.value_or(std::string());
    }
    const ValueLock lock(name);
    const std::string current = readIdentityValue(name, maxBytes);
    const std::optional<std::string> next = update(current);
    if (!next || *next == current) return current;
    writeIdentityValue(name, *next);  // prints why it failed; this run still uses the value
    return *next;
}

std::string makeUuid() {
    GUID guid{};
    if (SUCCEEDED(CoCreateGuid(&guid))) {
        std::array<std::uint8_t, 8> data4{};
        for (std::size_t i = 0; i < data4.size(); ++i) data4[i] = guid.Data4[i];
        return formatUuid(guid.Data1, guid.Data2, guid.Data3, data4);
    }
    UuidBytes bytes{};
    if (BCryptGenRandom(nullptr, bytes.data(), static_cast<ULONG>(bytes.size()),
                        BCRYPT_USE_SYSTEM_PREFERRED_RNG) >= 0) {
        return uuidFromRandomBytes(bytes);
    }
    return uuidFromRandomBytes(fallbackRandomBytes(fallbackSeed()));
}

}  // namespace Platform
}  // namespace ORBA
