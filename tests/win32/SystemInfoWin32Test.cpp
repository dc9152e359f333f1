// The Windows operating-system, processor and memory queries against the real registry and
// system calls. Values are changed in HKEY_LOCAL_MACHINE for a test and put back afterwards.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>
#include <winver.h>

#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "orba/Misc.h"

namespace {

using ORBA::Platform::Misc::getCPUModel;
using ORBA::Platform::Misc::getOsVersion;

constexpr const wchar_t* kCurrentVersionKey = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
constexpr const wchar_t* kProcessorKey = L"HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0";

// One value of HKEY_LOCAL_MACHINE, restored (or deleted again) when the object goes.
class ScopedRegistryValue {
public:
    ScopedRegistryValue(const wchar_t* keyPath, const wchar_t* name) : name_(name) {
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key_) !=
            ERROR_SUCCESS) {
            key_ = nullptr;
            ADD_FAILURE() << "cannot open the key for writing";
            return;
        }
        DWORD size = 0;
        existed_ = RegQueryValueExW(key_, name_, nullptr, &type_, nullptr, &size) == ERROR_SUCCESS;
        if (existed_) {
            saved_.resize(size);
            RegQueryValueExW(key_, name_, nullptr, &type_, saved_.data(), &size);
            saved_.resize(size);
        }
    }
    ~ScopedRegistryValue() {
        if (key_ == nullptr) return;
        if (existed_) {
            RegSetValueExW(key_, name_, 0, type_, saved_.data(), static_cast<DWORD>(saved_.size()));
        } else {
            RegDeleteValueW(key_, name_);
        }
        RegCloseKey(key_);
    }
    ScopedRegistryValue(const ScopedRegistryValue&) = delete;
    ScopedRegistryValue& operator=(const ScopedRegistryValue&) = delete;

    void setBytes(DWORD type, const void* data, std::size_t size) {
        ASSERT_EQ(RegSetValueExW(key_, name_, 0, type, static_cast<const BYTE*>(data),
                                 static_cast<DWORD>(size)),
                  ERROR_SUCCESS);
    }
    void setNumber(DWORD value) { setBytes(REG_DWORD, &value, sizeof value); }
    void setText(const std::u16string& text) {
        setBytes(REG_SZ, text.c_str(), (text.size() + 1) * sizeof(char16_t));
    }
    void remove() {
        const LSTATUS status = RegDeleteValueW(key_, name_);
        ASSERT_TRUE(status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND) << status;
    }

private:
    HKEY key_ = nullptr;
    const wchar_t* name_;
    bool existed_ = false;
    DWORD type_ = REG_NONE;
    std::vector<BYTE> saved_;
};

// The kernel's own numbers, asked the way a Windows 10 system reports them.
std::string kernelVersionNumbers() {
    using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
    const auto rtlGetVersion = reinterpret_cast<RtlGetVersionFn>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion")));
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof info;
    if (rtlGetVersion == nullptr || rtlGetVersion(&info) != 0) return "no RtlGetVersion";
    return std::to_string(info.dwMajorVersion) + "." + std::to_string(info.dwMinorVersion) + "." +
           std::to_string(info.dwBuildNumber);
}

// kernel32.dll's file version, read through the plain (localised) version-resource calls.
std::string kernel32Version() {
    const DWORD size = GetFileVersionInfoSizeW(L"kernel32.dll", nullptr);
    std::vector<BYTE> data(size);
    void* block = nullptr;
    UINT length = 0;
    if (size == 0 || !GetFileVersionInfoW(L"kernel32.dll", 0, size, data.data()) ||
        !VerQueryValueW(data.data(), L"\\", &block, &length)) {
        return "no version resource";
    }
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(block);
    return std::to_string(HIWORD(fixed->dwFileVersionMS)) + "." +
           std::to_string(LOWORD(fixed->dwFileVersionMS)) + "." +
           std::to_string(HIWORD(fixed->dwFileVersionLS)) + "." +
           std::to_string(LOWORD(fixed->dwFileVersionLS));
}

// Brand names are ASCII, which the ANSI call passes unchanged.
std::string registryProcessorName() {
    char buffer[512] = {};
    DWORD size = sizeof buffer;
    if (RegGetValueA(HKEY_LOCAL_MACHINE, "HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0",
                     "ProcessorNameString", RRF_RT_REG_SZ, nullptr, buffer,
                     &size) != ERROR_SUCCESS) {
        return "no ProcessorNameString";
    }
    return buffer;
}

TEST(SystemInfoWin32Test, OsVersionBeforeWindows10IsTheKernel32FileVersion) {
    const std::string expected = kernel32Version();
    ScopedRegistryValue major(kCurrentVersionKey, L"CurrentMajorVersionNumber");
    major.remove();
    EXPECT_EQ(getOsVersion(), expected);
    major.setNumber(9);
    EXPECT_EQ(getOsVersion(), expected);
}

TEST(SystemInfoWin32Test, OsVersionOnWindows10IsTheKernelNumbersAndTheUpdateRevision) {
    const std::string kernel = kernelVersionNumbers();
    ScopedRegistryValue major(kCurrentVersionKey, L"CurrentMajorVersionNumber");
    ScopedRegistryValue updateRevision(kCurrentVersionKey, L"UBR");
    major.setNumber(10);
    updateRevision.remove();
    EXPECT_EQ(getOsVersion(), kernel + ".0");
    updateRevision.setNumber(3803);
    EXPECT_EQ(getOsVersion(), kernel + ".3803");
    // A text of more than four bytes fails the read, which must not leave bytes behind.
    updateRevision.setText(u"3803");
    EXPECT_EQ(getOsVersion(), kernel + ".0");
    EXPECT_NE(getOsVersion(), kernel32Version());
}

TEST(SystemInfoWin32Test, CpuModelIsTheStoredProcessorName) {
    EXPECT_EQ(getCPUModel(), registryProcessorName());

    ScopedRegistryValue name(kProcessorKey, L"ProcessorNameString");
    name.setText(u"  Test CPU \u00E9 @ 1.00GHz  ");
    EXPECT_EQ(getCPUModel(), "  Test CPU \xC3\xA9 @ 1.00GHz  ");
    // 512 units fill the read buffer exactly, leaving no room for a terminator. Wine refuses
    // such a REG_SZ value for want of room for one; a value of another type reads unchanged.
    const std::u16string full(512, u'A');
    name.setBytes(REG_BINARY, full.data(), full.size() * sizeof(char16_t));
    EXPECT_EQ(getCPUModel(), std::string(512, 'A'));
    name.setText(std::u16string(512, u'A'));  // with its terminator it no longer fits
    EXPECT_EQ(getCPUModel(), "");
    name.remove();
    EXPECT_EQ(getCPUModel(), "");

    name.setText(std::u16string{u'x', char16_t(0xD800), u'y'});
    try {
        getCPUModel();
        ADD_FAILURE() << "accepted an unpaired surrogate";
    } catch (const std::range_error& error) {
        EXPECT_STREQ(error.what(), "bad conversion");
    }
}

TEST(SystemInfoWin32Test, MemoryIsTheTotalTheSystemReports) {
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    ASSERT_TRUE(GlobalMemoryStatusEx(&status));
    // Bytes, not the kilobytes of GetPhysicallyInstalledSystemMemory.
    EXPECT_EQ(ORBA::Platform::Misc::getPhysicallyInstalledSystemMemory(),
              static_cast<std::int64_t>(status.ullTotalPhys));
}

}  // namespace
