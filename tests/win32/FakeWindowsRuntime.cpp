// Stand-in component library for the Windows Runtime classes that Wine does not register
// (AdvertisingManager, GeographicRegion, Language). Built as "Windows.dll", the last name the activation
// fallback derives from each of those class names, and placed beside the test programs. It
// answers only while the process environment switches it on, so that by default it changes
// nothing; the environment also carries what it answers, so a test needs no handle to it.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <atomic>
#include <cstring>
#include <string>

#include "platform/win32/WinRtProjection.h"

using namespace ORBA::Platform::WinRt;

namespace {

constexpr const wchar_t* kEnabledVariable = L"ORBA_FAKE_WINRT";
constexpr const wchar_t* kAdvertisingIdVariable = L"ORBA_FAKE_WINRT_ADVERTISING_ID";
constexpr const wchar_t* kRegionVariable = L"ORBA_FAKE_WINRT_REGION";
constexpr const wchar_t* kLanguagePrefixVariable = L"ORBA_FAKE_WINRT_LANGUAGE_PREFIX";
constexpr const wchar_t* kLastLanguageVariable = L"ORBA_FAKE_WINRT_LAST_LANGUAGE";

std::wstring environment(const wchar_t* name) {
    wchar_t value[256] = {};
    const DWORD length = GetEnvironmentVariableW(name, value, 256);
    return length < 256 ? std::wstring(value, length) : std::wstring();
}

HRESULT makeString(const std::wstring& text, HSTRING* value) {
    return WindowsCreateString(text.c_str(), static_cast<UINT32>(text.size()), value);
}

bool sameIid(REFIID a, const IID& b) { return std::memcmp(&a, &b, sizeof(IID)) == 0; }

// IUnknown and IInspectable for one interface `I` (plus the activation factory when `Factory`).
template <typename I, bool Factory>
class Object : public I {
public:
    explicit Object(const IID& iid) : iid_(iid) {}
    virtual ~Object() = default;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (sameIid(iid, IID_IUnknown) || sameIid(iid, kIidInspectable) || sameIid(iid, iid_) ||
            (Factory && sameIid(iid, kIidActivationFactory))) {
            *object = this;
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --references_;
        if (left == 0) delete this;
        return left;
    }
    HRESULT STDMETHODCALLTYPE GetIids(ULONG*, IID**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetRuntimeClassName(HSTRING*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTrustLevel(TrustLevel* level) override {
        *level = BaseTrust;
        return S_OK;
    }

private:
    const IID& iid_;
    std::atomic<ULONG> references_{1};
};

class AdvertisingStatics : public Object<IAdvertisingManagerStatics, false> {
public:
    AdvertisingStatics() : Object(kIidAdvertisingManagerStatics) {}
    HRESULT STDMETHODCALLTYPE get_AdvertisingId(HSTRING* value) override {
        return makeString(environment(kAdvertisingIdVariable), value);
    }
};

class Region : public Object<IGeographicRegion, false> {
public:
    Region() : Object(kIidGeographicRegion) {}
    HRESULT STDMETHODCALLTYPE get_Code(HSTRING* value) override { return get_CodeTwoLetter(value); }
    HRESULT STDMETHODCALLTYPE get_CodeTwoLetter(HSTRING* value) override {
        return makeString(environment(kRegionVariable), value);
    }
    HRESULT STDMETHODCALLTYPE get_CodeThreeLetter(HSTRING*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_CodeThreeDigit(HSTRING*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_DisplayName(HSTRING*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_NativeName(HSTRING*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_CurrenciesInUse(IVectorViewOfString**) override { return E_NOTIMPL; }
};

class Language : public Object<ILanguage, false> {
public:
    explicit Language(std::wstring tag) : Object(kIidLanguage), tag_(std::move(tag)) {}
    HRESULT STDMETHODCALLTYPE get_LanguageTag(HSTRING* value) override {
        return makeString(environment(kLanguagePrefixVariable) + tag_, value);
    }
    HRESULT STDMETHODCALLTYPE get_DisplayName(HSTRING*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_NativeName(HSTRING*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Script(HSTRING*) override { return E_NOTIMPL; }

private:
    std::wstring tag_;
};

// One class for the three factories: each answers the interfaces its class has.
class Factory : public Object<IActivationFactory, true> {
public:
    enum Kind { kAdvertising, kRegion, kLanguage };
    explicit Factory(Kind kind) : Object(kIidActivationFactory), kind_(kind) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (kind_ == kAdvertising && sameIid(iid, kIidAdvertisingManagerStatics)) {
            statics_.AddRef();
            *object = static_cast<IAdvertisingManagerStatics*>(&statics_);
            return S_OK;
        }
        if (kind_ == kLanguage && sameIid(iid, kIidLanguageFactory)) {
            languages_.AddRef();
            *object = static_cast<ILanguageFactory*>(&languages_);
            return S_OK;
        }
        if (sameIid(iid, IID_IUnknown) || sameIid(iid, kIidInspectable) ||
            sameIid(iid, kIidActivationFactory)) {
            return Object::QueryInterface(kIidActivationFactory, object);
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }

    HRESULT STDMETHODCALLTYPE ActivateInstance(IInspectable** instance) override {
        if (kind_ != kRegion) return E_NOTIMPL;
        *instance = new Region();
        return S_OK;
    }

private:
    class LanguageFactory : public Object<ILanguageFactory, false> {
    public:
        LanguageFactory() : Object(kIidLanguageFactory) {}
        HRESULT STDMETHODCALLTYPE CreateLanguage(HSTRING tag, ILanguage** value) override {
            UINT32 length = 0;
            const wchar_t* text = WindowsGetStringRawBuffer(tag, &length);
            std::wstring input(text, length);
            SetEnvironmentVariableW(kLastLanguageVariable, input.c_str());
            *value = new Language(std::move(input));
            return S_OK;
        }
    };

    Kind kind_;
    // The factories are never freed (see below), so these members outlive every reference.
    AdvertisingStatics statics_;
    LanguageFactory languages_;
};

std::wstring classNameOf(HSTRING classId) {
    UINT32 length = 0;
    const wchar_t* text = WindowsGetStringRawBuffer(classId, &length);
    return std::wstring(text, length);
}

}  // namespace

extern "C" {

__declspec(dllexport) HRESULT WINAPI DllGetActivationFactory(HSTRING classId,
                                                            IActivationFactory** factory) {
    *factory = nullptr;
    if (environment(kEnabledVariable) != L"1") return CLASS_E_CLASSNOTAVAILABLE;
    // One factory per class for the life of the process, as a system component keeps them.
    static Factory* const advertising = new Factory(Factory::kAdvertising);
    static Factory* const region = new Factory(Factory::kRegion);
    static Factory* const language = new Factory(Factory::kLanguage);
    const std::wstring name = classNameOf(classId);
    Factory* found = name == kAdvertisingManagerClass ? advertising
                     : name == kGeographicRegionClass ? region
                     : name == kLanguageClass         ? language
                                                      : nullptr;
    if (found == nullptr) return CLASS_E_CLASSNOTAVAILABLE;
    found->AddRef();
    *factory = found;
    return S_OK;
}

}  // extern "C"
