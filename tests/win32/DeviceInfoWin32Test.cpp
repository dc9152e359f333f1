// The exported device functions against the real system under Windows or Wine: WMI, the names,
// and the Windows Runtime, whose unregistered classes come from the stand-in "Windows.dll".
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <objbase.h>

#include <cstdio>
#include <cstdlib>
#include <typeinfo>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "SharedLibrary.h"
#include "orba/misc/DeviceIdentity.h"
#include "platform/DeviceInfo.h"
#include "platform/win32/WinRtProjection.h"

namespace ORBA {
namespace Platform {
namespace {

using namespace Misc;
using Names = std::vector<std::string>;

struct DeviceAnswers {
    std::string model;
    Names gpus;
};

// Runs both WMI functions on a new thread that belongs to a single-threaded apartment.
DeviceAnswers askFromSingleThreadedApartment() {
    DeviceAnswers answers;
    std::thread thread([&] {
        const HRESULT joined = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        answers.model = getDeviceModel();
        answers.gpus = getGPUModelList();
        if (SUCCEEDED(joined)) CoUninitialize();
    });
    thread.join();
    return answers;
}

// The first calls of the process: a single-threaded apartment sees the empty caches without a
// query; a query fills them; from then on every thread gets the kept values.
TEST(DeviceInfoWin32Test, WmiAnswersAreKeptAndServedToEveryApartment) {
    DeviceAnswers before = askFromSingleThreadedApartment();
    EXPECT_EQ(before.model, "");
    EXPECT_EQ(before.gpus, Names{});

    EXPECT_EQ(getDeviceModel(), "Wine");
    // Wine names its one adapter after the GPU its display reports, "VideoController1" without.
    const Names gpus = getGPUModelList();
    ASSERT_EQ(gpus.size(), 1u);
    EXPECT_TRUE(gpus[0] == "VideoController1" || gpus[0] == "NVIDIA GeForce GTX 470") << gpus[0];
    // The query left the multithreaded apartment again: this thread may still choose its own.
    const HRESULT joined = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    EXPECT_EQ(joined, S_OK);
    if (SUCCEEDED(joined)) CoUninitialize();

    DeviceAnswers after = askFromSingleThreadedApartment();
    EXPECT_EQ(after.model, "Wine");
    EXPECT_EQ(after.gpus, gpus);
    EXPECT_EQ(getDeviceModel(), "Wine");
}

TEST(DeviceInfoWin32Test, NamesOfComputerAndUser) {
    const std::string computer = getDeviceName();
    EXPECT_FALSE(computer.empty());
    EXPECT_EQ(computer.find('\0'), std::string::npos);
    // Wine runs programs as the Unix user and passes its environment on.
    if (const char* user = std::getenv("USER")) EXPECT_EQ(getUserName(), user);
    else EXPECT_FALSE(getUserName().empty());
}

// The controls of the stand-in component libraries, which read them from the environment.
class FakeRuntime {
public:
    void configure(bool on, const wchar_t* advertising, const wchar_t* region) {
        SetEnvironmentVariableW(L"ORBA_FAKE_WINRT", on ? L"1" : L"0");
        SetEnvironmentVariableW(L"ORBA_FAKE_WINRT_ADVERTISING_ID", advertising);
        SetEnvironmentVariableW(L"ORBA_FAKE_WINRT_REGION", region);
        SetEnvironmentVariableW(L"ORBA_FAKE_WINRT_LANGUAGE_PREFIX", L"fake:");
    }
    std::string lastLanguageInput() {
        wchar_t value[128] = {};
        const DWORD length = GetEnvironmentVariableW(L"ORBA_FAKE_WINRT_LAST_LANGUAGE", value, 128);
        return std::string(value, value + (length < 128 ? length : 0));
    }
};

// The system's text for `code`; where it has none (Wine for REGDB_E_CLASSNOTREG) the code names
// itself.
std::string systemText(DWORD code) {
    char* text = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string message(text != nullptr ? text : "", length);
    LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                message.back() == ' ')) {
        message.pop_back();
    }
    if (message.empty()) {
        char fallback[32];
        std::snprintf(fallback, sizeof fallback, "HRESULT 0x%08lX", static_cast<unsigned long>(code));
        message = fallback;
    }
    return message;
}

// Expects `call` to throw exactly the exception `Expected` for `code`.
template <typename Expected, typename Call>
void expectThrows(Call call, DWORD code, const char* what) {
    try {
        call();
        ADD_FAILURE() << what << " did not throw";
    } catch (const hresult_error& error) {
        EXPECT_EQ(typeid(error), typeid(Expected)) << what << ": " << error.what();
        EXPECT_EQ(static_cast<DWORD>(error.code()), code) << what;
        EXPECT_EQ(error.message(), systemText(code)) << what;
    }
}

constexpr DWORD kClassNotRegisteredCode = 0x80040154;
constexpr DWORD kNotImplementedCode = 0x80004001;

// Wine registers only GlobalizationPreferences; the other classes fail as the system leaves
// them, until the stand-in "Windows.dll" answers through the component-library fallback. Factories
// found stay for the life of the process.
TEST(DeviceInfoWin32Test, WindowsRuntimeClassesThroughActivationAndFallback) {
    FakeRuntime fake;
    fake.configure(false, L"", L"");

    expectThrows<hresult_class_not_registered>([] { getLanguage(); }, kClassNotRegisteredCode,
                                               "getLanguage");
    expectThrows<hresult_class_not_registered>([] { getAdvertisingId(); },
                                               kClassNotRegisteredCode, "getAdvertisingId");
    expectThrows<hresult_class_not_registered>([] { getIsLimitAdTracking(); },
                                               kClassNotRegisteredCode, "getIsLimitAdTracking");
    // The advertising functions let go of the shared mutex when they throw.
    {
        std::unique_lock<std::mutex> lock(platformQueryMutex, std::try_to_lock);
        EXPECT_TRUE(lock.owns_lock());
    }
    // Wine's own Windows.Globalization.dll, the first library the fallback tries for the region,
    // hands out one factory for any class name; it cannot make a region.
    expectThrows<hresult_not_implemented>([] { getCountry(); }, kNotImplementedCode, "getCountry");

    fake.configure(true, L"", L"NZ");
    EXPECT_EQ(getAdvertisingId(), "");
    EXPECT_TRUE(getIsLimitAdTracking());
    fake.configure(true, L"6f1c2e1a-\u00e9-id", L"NZ");
    EXPECT_EQ(getAdvertisingId(), "6f1c2e1a-\xc3\xa9-id");
    EXPECT_FALSE(getIsLimitAdTracking());

    // The first preferred language comes from Wine; the stand-in's Language marks what it made.
    const std::string language = getLanguage();
    const std::string first = fake.lastLanguageInput();
    EXPECT_FALSE(first.empty());
    EXPECT_EQ(language, "fake:" + first);

    // Switched off again, the stand-in gives no new factory; the kept ones still answer.
    fake.configure(false, L"", L"");
    EXPECT_TRUE(getIsLimitAdTracking());
    EXPECT_EQ(getLanguage(), "fake:" + first);
}

// Restricted error information as a failing Windows Runtime method leaves it on the thread.
class RestrictedErrorInfo final : public IErrorInfo, public WinRt::IRestrictedErrorInfo {
public:
    RestrictedErrorInfo(HRESULT code, const wchar_t* restrictedDescription)
        : code_(code), restrictedDescription_(restrictedDescription) {}
    virtual ~RestrictedErrorInfo() = default;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (iid == IID_IUnknown || iid == IID_IErrorInfo) *object = static_cast<IErrorInfo*>(this);
        else if (iid == WinRt::kIidRestrictedErrorInfo)
            *object = static_cast<WinRt::IRestrictedErrorInfo*>(this);
        else return *object = nullptr, E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --references_;
        if (left == 0) delete this;
        return left;
    }
    HRESULT STDMETHODCALLTYPE GetGUID(GUID* guid) override { return *guid = GUID{}, S_OK; }
    HRESULT STDMETHODCALLTYPE GetSource(BSTR* source) override { return *source = nullptr, S_OK; }
    HRESULT STDMETHODCALLTYPE GetDescription(BSTR* description) override {
        *description = SysAllocString(restrictedDescription_);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetHelpFile(BSTR* file) override { return *file = nullptr, S_OK; }
    HRESULT STDMETHODCALLTYPE GetHelpContext(DWORD* context) override { return *context = 0, S_OK; }
    HRESULT STDMETHODCALLTYPE GetErrorDetails(BSTR* description, HRESULT* error,
                                              BSTR* restrictedDescription,
                                              BSTR* capabilitySid) override {
        *description = SysAllocString(L"generic text");
        *error = code_;
        *restrictedDescription = SysAllocString(restrictedDescription_);
        *capabilitySid = nullptr;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetReference(BSTR* reference) override {
        return *reference = nullptr, S_OK;
    }

private:
    ULONG references_ = 1;
    HRESULT code_;
    const wchar_t* restrictedDescription_;
};

// Thrown with `info` left on the thread by an earlier or by this failure of `code`.
std::string messageThrownWith(RestrictedErrorInfo* info, HRESULT code) {
    SetErrorInfo(0, static_cast<IErrorInfo*>(info));
    static_cast<IErrorInfo*>(info)->Release();
    try {
        WinRt::throwHresult(code);
    } catch (const hresult_out_of_bounds& error) {
        return error.message();
    }
    return "not thrown";
}

TEST(DeviceInfoWin32Test, ErrorInformationOfAnotherFailureIsNotThisOnesMessage) {
    constexpr DWORD kOutOfBoundsCode = 0x8000000B;
    EXPECT_EQ(messageThrownWith(new RestrictedErrorInfo(static_cast<HRESULT>(kOutOfBoundsCode),
                                                        L"No preferred language"),
                                static_cast<HRESULT>(kOutOfBoundsCode)),
              "No preferred language");
    EXPECT_EQ(messageThrownWith(new RestrictedErrorInfo(E_ACCESSDENIED, L"Stale access text"),
                                static_cast<HRESULT>(kOutOfBoundsCode)),
              systemText(kOutOfBoundsCode));
}

// A host that loads the library catches its exceptions by type.
TEST(DeviceInfoWin32Test, HostCatchesRuntimeExceptionsOfTheLoadedLibrary) {
    FakeRuntime fake;
    fake.configure(false, L"", L"");
    OrbaTools::SharedLibrary library(OrbaTools::executableFolder() +
                                     OrbaTools::trackerLibraryFileName());
    ASSERT_TRUE(library.loaded()) << library.error();
    using TextFn = std::string (*)();
    auto advertisingId = reinterpret_cast<TextFn>(
        library.symbol("_ZN4ORBA8Platform4Misc16getAdvertisingIdB5cxx11Ev"));
    ASSERT_NE(advertisingId, nullptr);
    // The library keeps factories of its own, so the stand-in being off reaches it. Everything
    // it throws is caught here, while its code is still loaded.
    expectThrows<hresult_class_not_registered>([&] { advertisingId(); }, kClassNotRegisteredCode,
                                               "getAdvertisingId of the loaded library");
}

}  // namespace
}  // namespace Platform
}  // namespace ORBA
