#include "capi/CallGuard.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <new>
#include <stdexcept>

#include "orba/Logger.h"
#include "orba/misc/DeviceIdentity.h"

namespace ORBA {
namespace CApi {
namespace {

// Plain arrays: a thread-local with a destructor would tie the library's unloading to the
// host's threads.
constexpr std::size_t kMessageCapacity = 1024;
thread_local int lastKind = ORBA_ERROR_NONE;
thread_local std::int32_t lastCode = 0;
thread_local char lastMessage[kMessageCapacity];

}  // namespace

void clearLastError() noexcept {
    lastKind = ORBA_ERROR_NONE;
    lastCode = 0;
    lastMessage[0] = '\0';
}

void failWith(const char* function, int kind, std::int32_t code, const char* message) noexcept {
    lastKind = kind;
    lastCode = code;
    std::snprintf(lastMessage, kMessageCapacity, "%s", message);
    try {
        Core::Logger::Log(std::string(function) + ": " + lastMessage);
    } catch (...) {
        // The failure stays recorded even when there is no memory left to log it.
    }
}

void failWithCurrentException(const char* function) noexcept {
    // The most derived types first: range_error is a runtime_error, and every hresult subclass
    // an hresult_error.
    try {
        throw;
    } catch (const Platform::Misc::hresult_error& error) {
        failWith(function, ORBA_ERROR_HRESULT, error.code(), error.what());
    } catch (const std::bad_alloc&) {
        failWith(function, ORBA_ERROR_OUT_OF_MEMORY, 0, "out of memory");
    } catch (const std::range_error& error) {
        failWith(function, ORBA_ERROR_RANGE, 0, error.what());
    } catch (const std::length_error& error) {
        failWith(function, ORBA_ERROR_LENGTH, 0, error.what());
    } catch (const std::runtime_error& error) {
        failWith(function, ORBA_ERROR_RUNTIME, 0, error.what());
    } catch (const std::exception& error) {
        failWith(function, ORBA_ERROR_OTHER, 0, error.what());
    } catch (...) {
        failWith(function, ORBA_ERROR_OTHER, 0, "unknown exception");
    }
}

char* copyOut(const char* data, std::size_t size, std::size_t* outSize) {
    if (size == static_cast<std::size_t>(-1)) throw std::bad_alloc();
    auto* copy = static_cast<char*>(std::malloc(size + 1));
    if (copy == nullptr) throw std::bad_alloc();
    if (size != 0) std::memcpy(copy, data, size);
    copy[size] = '\0';
    if (outSize != nullptr) *outSize = size;
    return copy;
}

orba_string* copyOutList(const std::vector<std::string>& texts, std::size_t* count) {
    std::size_t bytes = sizeof(orba_string) * texts.size();
    for (const std::string& text : texts) bytes += text.size() + 1;
    // malloc(0) may answer NULL, which would read as a failure.
    auto* list = static_cast<orba_string*>(std::malloc(bytes == 0 ? 1 : bytes));
    if (list == nullptr) throw std::bad_alloc();
    char* next = reinterpret_cast<char*>(list + texts.size());
    for (std::size_t i = 0; i < texts.size(); ++i) {
        std::memcpy(next, texts[i].data(), texts[i].size());
        next[texts[i].size()] = '\0';
        list[i].data = next;
        list[i].size = texts[i].size();
        next += texts[i].size() + 1;
    }
    if (count != nullptr) *count = texts.size();
    return list;
}

}  // namespace CApi
}  // namespace ORBA

extern "C" {

ORBA_API void orba_free(void* pointer) { std::free(pointer); }

ORBA_API const char* orba_version(void) { return ORBA_VERSION_TEXT; }

ORBA_API int orba_last_error_kind(void) { return ORBA::CApi::lastKind; }

ORBA_API int32_t orba_last_error_code(void) { return ORBA::CApi::lastCode; }

ORBA_API const char* orba_last_error(void) { return ORBA::CApi::lastMessage; }

}  // extern "C"
