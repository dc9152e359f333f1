#include "platform/HresultError.h"

#include <typeinfo>

#include <gtest/gtest.h>

#include "orba/misc/DeviceIdentity.h"

namespace ORBA {
namespace Platform {
namespace {

using namespace Misc;

// The exception thrown for `code`, caught as the base class the host sees.
template <typename Expected>
void expectThrown(std::uint32_t code) {
    try {
        throwHresultError(static_cast<std::int32_t>(code), "message");
        FAIL() << "nothing thrown";
    } catch (const hresult_error& error) {
        EXPECT_EQ(typeid(error), typeid(Expected)) << std::hex << code;
        EXPECT_EQ(static_cast<std::uint32_t>(error.code()), code);
        EXPECT_EQ(error.message(), "message");
        EXPECT_STREQ(error.what(), "message");
    }
}

TEST(HresultErrorTest, CodesWithTheirOwnClass) {
    expectThrown<hresult_access_denied>(0x80070005);
    expectThrown<hresult_wrong_thread>(0x8001010E);
    expectThrown<hresult_not_implemented>(0x80004001);
    expectThrown<hresult_invalid_argument>(0x80070057);
    expectThrown<hresult_out_of_bounds>(0x8000000B);
    expectThrown<hresult_no_interface>(0x80004002);
    expectThrown<hresult_class_not_available>(0x80040111);
    expectThrown<hresult_class_not_registered>(0x80040154);
    expectThrown<hresult_changed_state>(0x8000000C);
    expectThrown<hresult_illegal_method_call>(0x8000000E);
    expectThrown<hresult_illegal_state_change>(0x8000000D);
    expectThrown<hresult_illegal_delegate_assignment>(0x80000018);
    expectThrown<hresult_canceled>(0x800704C7);
    expectThrown<hresult_error>(0x80004005);
    expectThrown<hresult_error>(0x800401F0);
}

TEST(HresultErrorTest, EmptyMessageNamesTheCode) {
    try {
        throwHresultError(kClassNotRegistered, "");
        FAIL() << "nothing thrown";
    } catch (const std::exception& error) {
        EXPECT_STREQ(error.what(), "HRESULT 0x80040154");
    }
}

}  // namespace
}  // namespace Platform
}  // namespace ORBA
