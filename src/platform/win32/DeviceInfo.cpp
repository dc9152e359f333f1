#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include "platform/DeviceInfo.h"

#include <objbase.h>
#include <oleauto.h>
#include <wbemidl.h>

#include <atomic>
#include <cwchar>

#include "core/Utf.h"
#include "platform/UniqueHandle.h"
#include "platform/win32/WinRtProjection.h"

namespace ORBA {
namespace Platform {
namespace {

using WinRt::ComPtr;

// Membership of the multithreaded apartment for the length of one query.
class MultithreadedApartment {
public:
    MultithreadedApartment() : joined_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {}
    ~MultithreadedApartment() {
        if (joined_) CoUninitialize();
    }
    MultithreadedApartment(const MultithreadedApartment&) = delete;
    MultithreadedApartment& operator=(const MultithreadedApartment&) = delete;
    // False also on a thread of a single-threaded apartment, which the queries leave alone.
    bool joined() const { return joined_; }

private:
    bool joined_;
};

struct BstrTraits {
    using Handle = BSTR;
    static BSTR invalid() noexcept { return nullptr; }
    static void close(BSTR text) noexcept { SysFreeString(text); }
};
using Bstr = UniqueHandle<BstrTraits>;

// Not a handle: the VARIANT is the value itself, owned in place, with no "absent" state to test.
class Variant {
public:
    Variant() { VariantInit(&value_); }
    ~Variant() { VariantClear(&value_); }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;
    VARIANT* put() {
        VariantClear(&value_);
        return &value_;
    }
    const VARIANT& get() const { return value_; }

private:
    VARIANT value_;
};

// The text of a WMI string property in the ANSI code page; a null value (or one of another
// type) is the empty text.
std::string ansiText(const VARIANT& value) {
    if (value.vt != VT_BSTR || value.bstrVal == nullptr) return {};
    const int length = static_cast<int>(SysStringLen(value.bstrVal));
    if (length == 0) return {};
    const int size =
        WideCharToMultiByte(CP_ACP, 0, value.bstrVal, length, nullptr, 0, nullptr, nullptr);
    if (size <= 0) return {};
    std::string text(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_ACP, 0, value.bstrVal, length, text.data(), size, nullptr, nullptr);
    return text;
}

struct WmiQuery {
    const wchar_t* nameSpace;
    DWORD capabilities;
    const wchar_t* wql;
    long flags;
    const wchar_t* property;
};

PropertyReads runWmiQuery(const WmiQuery& query) {
    // Declared first so that every interface below is released before the apartment is left.
    MultithreadedApartment apartment;
    if (!apartment.joined()) return {};

    ComPtr<IWbemLocator> locator;
    if (FAILED(CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                                locator.putVoid()))) {
        return {};
    }
    ComPtr<IWbemServices> services;
    const Bstr nameSpace(SysAllocString(query.nameSpace));
    if (FAILED(locator->ConnectServer(nameSpace.get(), nullptr, nullptr, nullptr, 0, nullptr,
                                      nullptr, services.put()))) {
        return {};
    }
    if (FAILED(CoSetProxyBlanket(services.get(), RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr,
                                 RPC_C_AUTHN_LEVEL_CALL, RPC_C_IMP_LEVEL_IMPERSONATE, nullptr,
                                 query.capabilities))) {
        return {};
    }
    ComPtr<IEnumWbemClassObject> objects;
    const Bstr language(SysAllocString(L"WQL"));
    const Bstr wql(SysAllocString(query.wql));
    if (FAILED(services->ExecQuery(language.get(), wql.get(), query.flags, nullptr,
                                   objects.put()))) {
        return {};
    }

    PropertyReads reads;
    for (;;) {
        ComPtr<IWbemClassObject> object;
        ULONG returned = 0;
        objects->Next(static_cast<long>(WBEM_INFINITE), 1, object.put(), &returned);
        if (returned == 0 || !object) break;
        Variant value;
        if (SUCCEEDED(object->Get(query.property, 0, value.put(), nullptr, nullptr))) {
            reads.emplace_back(ansiText(value.get()));
        } else {
            reads.emplace_back(std::nullopt);
        }
    }
    return reads;
}

std::string strictUtf8(const wchar_t* buffer, std::size_t capacity) {
    // char16_t and wchar_t are both UTF-16 code units on Windows.
    return Core::utf16ToUtf8(
        std::u16string_view(reinterpret_cast<const char16_t*>(buffer), wcsnlen(buffer, capacity)));
}

// The factories of the four classes, kept for the life of the process.
std::atomic<IUnknown*> advertisingStatics{nullptr};
std::atomic<IUnknown*> globalizationStatics{nullptr};
std::atomic<IUnknown*> regionFactory{nullptr};
std::atomic<IUnknown*> languageFactory{nullptr};

template <typename T>
T* factoryOf(std::atomic<IUnknown*>& slot, const wchar_t* classId, const IID& iid) {
    return static_cast<T*>(WinRt::factory(slot, classId, iid));
}

}  // namespace

PropertyReads queryDeviceModels() {
    return runWmiQuery({L"ROOT\\CIMV2", EOAC_NONE, L"SELECT * FROM Win32_ComputerSystem",
                        WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY, L"Model"});
}

PropertyReads queryGpuNames() {
    return runWmiQuery({L"\\\\.\\root\\cimv2", EOAC_DEFAULT, L"select * from Win32_VideoController",
                        WBEM_FLAG_FORWARD_ONLY, L"Name"});
}

std::string queryDeviceName() {
    constexpr DWORD kCapacity = 1024;
    wchar_t buffer[kCapacity] = {};
    DWORD size = kCapacity;
    if (!GetComputerNameExW(ComputerNameDnsHostname, buffer, &size)) return {};
    return strictUtf8(buffer, kCapacity);
}

std::string queryUserName() {
    // The longest user name, 256 units, and its terminator.
    constexpr DWORD kCapacity = 257;
    wchar_t buffer[kCapacity] = {};
    DWORD size = kCapacity;
    if (!GetUserNameW(buffer, &size)) return {};
    return strictUtf8(buffer, kCapacity);
}

std::string queryLanguage() {
    auto* preferences = factoryOf<WinRt::IGlobalizationPreferencesStatics>(
        globalizationStatics, WinRt::kGlobalizationPreferencesClass,
        WinRt::kIidGlobalizationPreferencesStatics);
    ComPtr<WinRt::IVectorViewOfString> languages;
    WinRt::check(preferences->get_Languages(languages.put()));
    WinRt::HString first;
    // An empty list fails here with the out-of-bounds code.
    WinRt::check(languages->GetAt(0, first.put()));

    auto* factory = factoryOf<WinRt::ILanguageFactory>(languageFactory, WinRt::kLanguageClass,
                                                       WinRt::kIidLanguageFactory);
    ComPtr<WinRt::ILanguage> language;
    WinRt::check(factory->CreateLanguage(first.get(), language.put()));
    WinRt::HString tag;
    WinRt::check(language->get_LanguageTag(tag.put()));
    return tag.toUtf8();
}

std::string queryCountry() {
    auto* factory = factoryOf<IActivationFactory>(regionFactory, WinRt::kGeographicRegionClass,
                                                  WinRt::kIidActivationFactory);
    ComPtr<IInspectable> instance;
    WinRt::check(factory->ActivateInstance(instance.put()));
    ComPtr<WinRt::IGeographicRegion> region;
    WinRt::check(instance->QueryInterface(WinRt::kIidGeographicRegion, region.putVoid()));
    WinRt::HString code;
    WinRt::check(region->get_CodeTwoLetter(code.put()));
    return code.toUtf8();
}

std::string queryAdvertisingId() {
    auto* statics = factoryOf<WinRt::IAdvertisingManagerStatics>(
        advertisingStatics, WinRt::kAdvertisingManagerClass, WinRt::kIidAdvertisingManagerStatics);
    WinRt::HString id;
    WinRt::check(statics->get_AdvertisingId(id.put()));
    return id.toUtf8();
}

}  // namespace Platform
}  // namespace ORBA
