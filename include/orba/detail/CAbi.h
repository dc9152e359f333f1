// What the C++ API compiled in the host shares: taking ownership of the C interface's results
// and turning its last error back into the exception the library's C++ function throws.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "orba/misc/HresultError.h"
#include "orba/orba.h"

namespace ORBA {
namespace detail {

[[noreturn]] inline void throwLastError() {
    std::string message = orba_last_error();
    switch (orba_last_error_kind()) {
        case ORBA_ERROR_RANGE:
            throw std::range_error(message);
        case ORBA_ERROR_LENGTH:
            throw std::length_error(message);
        case ORBA_ERROR_HRESULT:
            Platform::Misc::detail::throwHresultForCode(orba_last_error_code(), std::move(message));
        case ORBA_ERROR_OUT_OF_MEMORY:
            throw std::bad_alloc();
        default:
            throw std::runtime_error(message);
    }
}

// For results that cannot tell a failure by their value.
template <typename T>
T checked(T value) {
    if (orba_last_error_kind() != ORBA_ERROR_NONE) throwLastError();
    return value;
}

struct LibraryFree {
    void operator()(void* pointer) const noexcept { orba_free(pointer); }
};
template <typename T>
using LibraryPtr = std::unique_ptr<T, LibraryFree>;

inline std::string takeText(char* text, std::size_t size) {
    if (text == nullptr) throwLastError();
    LibraryPtr<char> owner(text);
    return std::string(text, size);
}

inline std::string takeText(char* text) {
    if (text == nullptr) throwLastError();
    LibraryPtr<char> owner(text);
    return std::string(text);
}

inline std::vector<std::uint8_t> takeBytes(char* data, std::size_t size) {
    if (data == nullptr) throwLastError();
    LibraryPtr<char> owner(data);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(data);
    return std::vector<std::uint8_t>(bytes, bytes + size);
}

inline std::vector<std::string> takeList(orba_string* list, std::size_t count) {
    if (list == nullptr) throwLastError();
    LibraryPtr<orba_string> owner(list);
    std::vector<std::string> texts;
    texts.reserve(count);
    for (std::size_t i = 0; i < count; ++i) texts.emplace_back(list[i].data, list[i].size);
    return texts;
}

}  // namespace detail
}  // namespace ORBA
