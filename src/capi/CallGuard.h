// What every function of the C interface shares: the calling thread's last error, the guard that
// turns any exception into a failure value, and copies of results into memory the host releases
// with orba_free.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "orba/orba.h"

namespace ORBA {
namespace CApi {

void clearLastError() noexcept;

// Records the failure of `function` as the thread's last error and writes it to the log.
void failWith(const char* function, int kind, std::int32_t code, const char* message) noexcept;

// Records the exception being handled; call only inside a catch block.
void failWithCurrentException(const char* function) noexcept;

// Runs `body` with the thread's last error cleared; any exception becomes `failure`.
template <typename Result, typename Body>
Result guarded(const char* function, Result failure, Body&& body) noexcept {
    clearLastError();
    try {
        return body();
    } catch (...) {
        failWithCurrentException(function);
        return failure;
    }
}

template <typename Body>
void guardedVoid(const char* function, Body&& body) noexcept {
    clearLastError();
    try {
        body();
    } catch (...) {
        failWithCurrentException(function);
    }
}

// A malloc'ed copy of the bytes followed by a NUL; throws std::bad_alloc when malloc fails.
char* copyOut(const char* data, std::size_t size, std::size_t* outSize);
inline char* copyOut(const std::string& text, std::size_t* outSize = nullptr) {
    return copyOut(text.data(), text.size(), outSize);
}
inline char* copyOut(const std::vector<std::uint8_t>& bytes, std::size_t* outSize) {
    return copyOut(reinterpret_cast<const char*>(bytes.data()), bytes.size(), outSize);
}

// One allocation holding the entries and, after them, each text followed by a NUL.
orba_string* copyOutList(const std::vector<std::string>& texts, std::size_t* count);

// The host's (pointer, length) or NUL-terminated input as a string; NULL is the empty text.
inline std::string bytesIn(const void* data, std::size_t size) {
    return data == nullptr ? std::string() : std::string(static_cast<const char*>(data), size);
}
inline std::string textIn(const char* text) { return text == nullptr ? std::string() : text; }

}  // namespace CApi
}  // namespace ORBA
