// One owner for every kind of system handle: a descriptor, a registry key, a module, a kernel
// object. The handle is closed when its owner goes, moves with it and is never copied.
//
// A kind of handle is described by its traits:
//   using Handle = ...;                  the handle's type
//   static Handle invalid() noexcept;    the value that holds nothing
//   static R close(Handle) noexcept;     releases a valid handle; R is what reset() reports
#pragma once

#include <type_traits>
#include <utility>

namespace ORBA {
namespace Platform {

template <typename Traits>
class UniqueHandle {
public:
    using Handle = typename Traits::Handle;
    using CloseResult = decltype(Traits::close(std::declval<Handle>()));

    UniqueHandle() noexcept = default;
    explicit UniqueHandle(Handle handle) noexcept : handle_(handle) {}
    ~UniqueHandle() { reset(); }

    UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;

    Handle get() const noexcept { return handle_; }
    bool valid() const noexcept { return handle_ != Traits::invalid(); }
    explicit operator bool() const noexcept { return valid(); }

    // Closes what is held and hands out the slot, for the system calls that return a handle
    // through a pointer.
    Handle* receive() noexcept {
        reset();
        return &handle_;
    }

    // Gives up ownership without closing: the handle was closed elsewhere, or must outlive us.
    Handle release() noexcept {
        const Handle handle = handle_;
        handle_ = Traits::invalid();
        return handle;
    }

    // Closes what is held and takes `handle`. Reports what the close reported, where it reports
    // anything (a descriptor's close is where some file systems report lost writes).
    CloseResult reset(Handle handle = Traits::invalid()) noexcept {
        const Handle old = std::exchange(handle_, handle);
        if constexpr (std::is_void_v<CloseResult>) {
            if (old != Traits::invalid()) Traits::close(old);
        } else {
            if (old != Traits::invalid()) return Traits::close(old);
            return CloseResult{};
        }
    }

private:
    Handle handle_ = Traits::invalid();
};

}  // namespace Platform
}  // namespace ORBA
