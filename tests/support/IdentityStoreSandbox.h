// Gives the host's identity store an empty place for one test and takes it away afterwards: a
// private state folder on Linux, the tests' value names cleared from the registry on Windows.
// Defined beside each back end's own tests (unit/IdentityStorePosixTest.cpp,
// win32/IdentityStoreWin32Test.cpp).
#pragma once

#include <memory>

namespace OrbaTest {

class IdentityStoreSandbox {
public:
    IdentityStoreSandbox();
    ~IdentityStoreSandbox();
    IdentityStoreSandbox(const IdentityStoreSandbox&) = delete;
    IdentityStoreSandbox& operator=(const IdentityStoreSandbox&) = delete;

    // The error code the store prints when it refuses a name or a value.
    static const int kRefusedCode;

    // What the back end's own tests need to know of the place.
    struct State;
    State& state() { return *state_; }

private:
    std::unique_ptr<State> state_;
};

}  // namespace OrbaTest
