#include "platform/win32/WinRtProjection.h"

#include <oleauto.h>

#include "core/Utf.h"
#include "orba/Logger.h"
#include "platform/HresultError.h"
#include "platform/WinRtActivation.h"
#include "platform/win32/Win32Handles.h"

namespace ORBA {
namespace Platform {
namespace WinRt {
namespace {

using RoGetActivationFactoryFn = HRESULT(WINAPI*)(HSTRING, REFIID, void**);
using WindowsCreateStringFn = HRESULT(WINAPI*)(LPCWSTR, UINT32, HSTRING*);
using WindowsDeleteStringFn = HRESULT(WINAPI*)(HSTRING);
using WindowsGetStringRawBufferFn = PCWSTR(WINAPI*)(HSTRING, UINT32*);
using CoIncrementMtaUsageFn = HRESULT(WINAPI*)(CO_MTA_USAGE_COOKIE*);
using DllGetActivationFactoryFn = HRESULT(WINAPI*)(HSTRING, IActivationFactory**);

template <typename Fn>
Fn procedure(HMODULE module, const char* name) {
    // GetProcAddress returns a generic function pointer; the cast to the real type is the point.
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// The Windows Runtime functions of combase.dll. The library is loaded once and never freed.
struct Combase {
    RoGetActivationFactoryFn roGetActivationFactory = nullptr;
    WindowsCreateStringFn createString = nullptr;
    WindowsDeleteStringFn deleteString = nullptr;
    WindowsGetStringRawBufferFn rawBuffer = nullptr;

    Combase() {
        const HMODULE module = LoadLibraryExW(L"combase.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        if (module == nullptr) return;
        roGetActivationFactory = procedure<RoGetActivationFactoryFn>(module, "RoGetActivationFactory");
        createString = procedure<WindowsCreateStringFn>(module, "WindowsCreateString");
        deleteString = procedure<WindowsDeleteStringFn>(module, "WindowsDeleteString");
        rawBuffer = procedure<WindowsGetStringRawBufferFn>(module, "WindowsGetStringRawBuffer");
    }
    bool available() const {
        return roGetActivationFactory && createString && deleteString && rawBuffer;
    }
};

const Combase& combase() {
    static const Combase api;
    return api;
}

const Combase& requireCombase() {
    const Combase& api = combase();
    if (!api.available()) {
        Core::Logger::Log("The Windows Runtime is not available on this system");
        throwHresultError(kClassNotRegistered, "The Windows Runtime is not available on this system");
    }
    return api;
}

std::string wideToUtf8(std::wstring_view text) {
    // char16_t and wchar_t are both UTF-16 code units on Windows.
    return Core::utf16ToUtf8Lossy(
        std::u16string_view(reinterpret_cast<const char16_t*>(text.data()), text.size()));
}

class SystemActivationSteps : public ActivationSteps {
public:
    SystemActivationSteps(const Combase& api, const HString& classId, const IID& iid)
        : api_(api), classId_(classId), iid_(iid) {}

    std::int32_t getActivationFactory(void** factory) override {
        return api_.roGetActivationFactory(classId_.get(), iid_, factory);
    }

    bool joinMultithreadedApartment() override {
        // Joining is for the rest of the process; the library stays loaded with it.
        const HMODULE module = LoadLibraryW(L"combase.dll");
        if (module == nullptr) return false;
        const auto increment = procedure<CoIncrementMtaUsageFn>(module, "CoIncrementMTAUsage");
        if (increment == nullptr) return false;
        CO_MTA_USAGE_COOKIE cookie = nullptr;
        increment(&cookie);
        return true;
    }

    bool getFactoryFromLibrary(const std::u16string& library, void** factory) override {
        ModuleHandle module(LoadLibraryExW(reinterpret_cast<const wchar_t*>(library.c_str()),
                                           nullptr, LOAD_LIBRARY_SEARCH_DEFAULT_DIRS));
        if (!module) return false;
        const auto get = procedure<DllGetActivationFactoryFn>(module.get(), "DllGetActivationFactory");
        if (get == nullptr) return false;
        {
            // The library's objects go before the library does.
            ComPtr<IActivationFactory> activationFactory;
            if (FAILED(get(classId_.get(), activationFactory.put())) || !activationFactory) return false;
            if (FAILED(activationFactory->QueryInterface(iid_, factory)) || *factory == nullptr) {
                return false;
            }
        }
        module.release();  // the factory lives on in the library
        return true;
    }

    void saveErrorInfo() override {
        savedErrorInfo_.reset();
        if (GetErrorInfo(0, savedErrorInfo_.put()) != S_OK) savedErrorInfo_.reset();
    }

    void restoreErrorInfo() override { SetErrorInfo(0, savedErrorInfo_.get()); }

private:
    const Combase& api_;
    const HString& classId_;
    const IID& iid_;
    ComPtr<IErrorInfo> savedErrorInfo_;
};

void trimTrailingSpace(std::string& text) {
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' ' ||
                             text.back() == '\t')) {
        text.pop_back();
    }
}

std::string bstrToUtf8(BSTR text) {
    return text != nullptr ? wideToUtf8(std::wstring_view(text, SysStringLen(text))) : std::string();
}

// The message of the thread's error information (which taking it clears) for a failure with
// `code`; empty when there is none. The information may be older than the failure: restricted
// information says which code it belongs to, and another code's is not this failure's.
std::string errorInfoMessage(HRESULT code) {
    ComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, info.put()) != S_OK || !info) return {};
    ComPtr<IRestrictedErrorInfo> restricted;
    if (SUCCEEDED(info->QueryInterface(kIidRestrictedErrorInfo, restricted.putVoid())) &&
        restricted) {
        BSTR description = nullptr;
        BSTR restrictedDescription = nullptr;
        BSTR capabilitySid = nullptr;
        HRESULT infoCode = S_OK;
        std::string message;
        if (SUCCEEDED(restricted->GetErrorDetails(&description, &infoCode, &restrictedDescription,
                                                  &capabilitySid)) &&
            infoCode == code) {
            message = bstrToUtf8(restrictedDescription);
            if (message.empty()) message = bstrToUtf8(description);
        }
        SysFreeString(description);
        SysFreeString(restrictedDescription);
        SysFreeString(capabilitySid);
        return message;
    }
    BSTR description = nullptr;
    std::string message;
    if (SUCCEEDED(info->GetDescription(&description))) message = bstrToUtf8(description);
    SysFreeString(description);
    return message;
}

}  // namespace

HString::HString(std::wstring_view text) {
    const Combase& api = requireCombase();
    check(api.createString(text.data(), static_cast<UINT32>(text.size()), &value_));
}

HString::~HString() {
    if (value_ != nullptr) combase().deleteString(value_);
}

HSTRING* HString::put() {
    if (value_ != nullptr) combase().deleteString(value_);
    value_ = nullptr;
    return &value_;
}

std::wstring_view HString::view() const {
    if (value_ == nullptr) return {};
    UINT32 length = 0;
    const wchar_t* buffer = combase().rawBuffer(value_, &length);
    return buffer != nullptr ? std::wstring_view(buffer, length) : std::wstring_view();
}

std::string HString::toUtf8() const { return wideToUtf8(view()); }

void throwHresult(HRESULT code) {
    std::string message = errorInfoMessage(code);
    if (message.empty()) {
        wchar_t* text = nullptr;
        const DWORD length = FormatMessageW(
            FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
            nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
        if (length > 0 && text != nullptr) message = wideToUtf8(std::wstring_view(text, length));
        LocalFree(text);
    }
    trimTrailingSpace(message);
    throwHresultError(static_cast<std::int32_t>(code), std::move(message));
}

IUnknown* factory(std::atomic<IUnknown*>& slot, const wchar_t* classId, const IID& iid) {
    if (IUnknown* kept = slot.load(std::memory_order_acquire)) return kept;
    const Combase& api = requireCombase();
    const HString name(classId);
    SystemActivationSteps steps(api, name, iid);
    void* found = nullptr;
    const std::int32_t result = activateFactory(
        steps, std::u16string_view(reinterpret_cast<const char16_t*>(classId), wcslen(classId)),
        &found);
    if (result < 0) throwHresult(result);
    // Two threads may activate at once; the first one's factory stays, the other is let go.
    IUnknown* mine = static_cast<IUnknown*>(found);
    IUnknown* expected = nullptr;
    if (!slot.compare_exchange_strong(expected, mine, std::memory_order_acq_rel)) {
        mine->Release();
        return expected;
    }
    return mine;
}

}  // namespace WinRt
}  // namespace Platform
}  // namespace ORBA
