// A small projection of the few Windows Runtime classes the device functions read: the
// interfaces (identifiers and method slots as the platform publishes them), owners for interface
// pointers and HSTRINGs, and activation with process-lifetime factories. combase.dll is loaded at
// run time, so that the library still loads where the Windows Runtime is missing.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <activation.h>
#include <inspectable.h>
#include <winstring.h>

#include <atomic>
#include <string>
#include <string_view>

namespace ORBA {
namespace Platform {
namespace WinRt {

// Owns one reference to a COM interface.
template <typename T>
class ComPtr {
public:
    ComPtr() = default;
    ~ComPtr() { reset(); }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ComPtr(ComPtr&& other) noexcept : pointer_(other.pointer_) { other.pointer_ = nullptr; }

    T* get() const { return pointer_; }
    T* operator->() const { return pointer_; }
    explicit operator bool() const { return pointer_ != nullptr; }
    // The address to receive a new reference; releases the one held.
    T** put() {
        reset();
        return &pointer_;
    }
    void** putVoid() { return reinterpret_cast<void**>(put()); }
    // Hands the reference to the caller.
    T* detach() {
        T* pointer = pointer_;
        pointer_ = nullptr;
        return pointer;
    }
    void reset() {
        if (pointer_ != nullptr) pointer_->Release();
        pointer_ = nullptr;
    }

private:
    T* pointer_ = nullptr;
};

// Owns an HSTRING (null stands for the empty string).
class HString {
public:
    HString() = default;
    // Copies `text`; throws the hresult_error family when the string cannot be made.
    explicit HString(std::wstring_view text);
    ~HString();
    HString(const HString&) = delete;
    HString& operator=(const HString&) = delete;

    HSTRING get() const { return value_; }
    HSTRING* put();
    std::wstring_view view() const;
    // UTF-8 by Core::utf16ToUtf8Lossy: an unpaired surrogate becomes U+FFFD.
    std::string toUtf8() const;

private:
    HSTRING value_ = nullptr;
};

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"

// Windows.Foundation.Collections.IVectorView<String>
struct IVectorViewOfString : IInspectable {
    virtual HRESULT STDMETHODCALLTYPE GetAt(UINT32 index, HSTRING* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Size(UINT32* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE IndexOf(HSTRING value, UINT32* index, BOOLEAN* found) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetMany(UINT32 start, UINT32 capacity, HSTRING* values,
                                              UINT32* count) = 0;
};

// Windows.System.UserProfile.IAdvertisingManagerStatics
struct IAdvertisingManagerStatics : IInspectable {
    virtual HRESULT STDMETHODCALLTYPE get_AdvertisingId(HSTRING* value) = 0;
};

// Windows.System.UserProfile.IGlobalizationPreferencesStatics
struct IGlobalizationPreferencesStatics : IInspectable {
    virtual HRESULT STDMETHODCALLTYPE get_Calendars(IVectorViewOfString** value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Clocks(IVectorViewOfString** value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Currencies(IVectorViewOfString** value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Languages(IVectorViewOfString** value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_HomeGeographicRegion(HSTRING* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_WeekStartsOn(INT32* value) = 0;
};

// Windows.Globalization.IGeographicRegion
struct IGeographicRegion : IInspectable {
    virtual HRESULT STDMETHODCALLTYPE get_Code(HSTRING* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_CodeTwoLetter(HSTRING* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_CodeThreeLetter(HSTRING* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_CodeThreeDigit(HSTRING* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_DisplayName(HSTRING* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_NativeName(HSTRING* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_CurrenciesInUse(IVectorViewOfString** value) = 0;
};

// Windows.Globalization.ILanguage
struct ILanguage : IInspectable {
    virtual HRESULT STDMETHODCALLTYPE get_LanguageTag(HSTRING* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_DisplayName(HSTRING* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_NativeName(HSTRING* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Script(HSTRING* value) = 0;
};

// Windows.Globalization.ILanguageFactory
struct ILanguageFactory : IInspectable {
    virtual HRESULT STDMETHODCALLTYPE CreateLanguage(HSTRING languageTag, ILanguage** value) = 0;
};

// The restricted error information the Windows Runtime leaves on the thread; it names the code
// it belongs to. Not declared by mingw-w64.
struct IRestrictedErrorInfo : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetErrorDetails(BSTR* description, HRESULT* error,
                                                      BSTR* restrictedDescription,
                                                      BSTR* capabilitySid) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetReference(BSTR* reference) = 0;
};

#pragma GCC diagnostic pop

constexpr IID kIidRestrictedErrorInfo = {
    0x82BA7092, 0x4C88, 0x427D, {0xA7, 0xBC, 0x16, 0xDD, 0x93, 0xFE, 0xB6, 0x7E}};

// mingw-w64's libraries define neither of these two identifiers.
constexpr IID kIidInspectable = {
    0xAF86E2E0, 0xB12D, 0x4C6A, {0x9C, 0x5A, 0xD7, 0xAA, 0x65, 0x10, 0x1E, 0x90}};
constexpr IID kIidActivationFactory = {
    0x00000035, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr IID kIidVectorViewOfString = {
    0x2F13C006, 0xA03A, 0x5F69, {0xB0, 0x90, 0x75, 0xA4, 0x3E, 0x33, 0x42, 0x3E}};
constexpr IID kIidAdvertisingManagerStatics = {
    0xADD3468C, 0xA273, 0x48CB, {0xB3, 0x46, 0x35, 0x44, 0x52, 0x2D, 0x55, 0x81}};
constexpr IID kIidGlobalizationPreferencesStatics = {
    0x01BF4326, 0xED37, 0x4E96, {0xB0, 0xE9, 0xC1, 0x34, 0x0D, 0x1E, 0xA1, 0x58}};
constexpr IID kIidGeographicRegion = {
    0x01E9A621, 0x4A64, 0x4ED9, {0x95, 0x4F, 0x9E, 0xDE, 0xB0, 0x7B, 0xD9, 0x03}};
constexpr IID kIidLanguage = {
    0xEA79A752, 0xF7C2, 0x4265, {0xB1, 0xBD, 0xC4, 0xDE, 0xC4, 0xE4, 0xF0, 0x80}};
constexpr IID kIidLanguageFactory = {
    0x9B0252AC, 0x0C27, 0x44F8, {0xB7, 0x92, 0x97, 0x93, 0xFB, 0x66, 0xC6, 0x3E}};

constexpr const wchar_t* kAdvertisingManagerClass = L"Windows.System.UserProfile.AdvertisingManager";
constexpr const wchar_t* kGlobalizationPreferencesClass =
    L"Windows.System.UserProfile.GlobalizationPreferences";
constexpr const wchar_t* kGeographicRegionClass = L"Windows.Globalization.GeographicRegion";
constexpr const wchar_t* kLanguageClass = L"Windows.Globalization.Language";

// Throws the hresult_error family for a failed `code`, with the message of the thread's error
// information, or else the system's text for the code. Restricted error information that names
// another code was left by an earlier failure and is not used.
[[noreturn]] void throwHresult(HRESULT code);

// Throws for a failed `code`; returns otherwise.
inline void check(HRESULT code) {
    if (FAILED(code)) throwHresult(code);
}

// The factory of `classId` for the interface `iid`, activated on first use and then kept in
// `slot` for the life of the process. The caller does not own the returned pointer. Throws the
// hresult_error family when activation fails.
IUnknown* factory(std::atomic<IUnknown*>& slot, const wchar_t* classId, const IID& iid);

}  // namespace WinRt
}  // namespace Platform
}  // namespace ORBA
