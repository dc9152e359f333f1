// The registry-backed identity store, run against the real registry (Wine's, in the test prefix).
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/IdentityStore.h"

using ORBA::Platform::readIdentityValue;
using ORBA::Platform::updateIdentityValue;
using ORBA::Platform::writeIdentityValue;

namespace {

constexpr const char* kStorePath = "SOFTWARE\\ORBA\\Tracker";
constexpr const char* kVendorPath = "SOFTWARE\\ORBA";
constexpr const char* kRunPath = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";

// Every value name the tests touch, removed from both keys before and after each test.
const char* const kNames[] = {"IdentityTest_a", "IdentityTest_b", "IdentityTest_long",
                              "IdentityTest_moved", "IdentityTest_a\\b=c"};

struct Stored {
    LONG status = ERROR_FILE_NOT_FOUND;
    DWORD type = REG_NONE;
    std::string bytes;
};

Stored queryRaw(const char* path, const char* name) {
    Stored stored;
    HKEY key = nullptr;
    stored.status = RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_QUERY_VALUE, &key);
    if (stored.status != ERROR_SUCCESS) return stored;
    std::vector<BYTE> data(8192);
    DWORD size = static_cast<DWORD>(data.size());
    stored.status = RegQueryValueExA(key, name, nullptr, &stored.type, data.data(), &size);
    RegCloseKey(key);
    if (stored.status == ERROR_SUCCESS) stored.bytes.assign(data.begin(), data.begin() + size);
    return stored;
}

LONG setRaw(const char* path, const char* name, DWORD type, const std::string& bytes) {
    HKEY key = nullptr;
    LONG status = RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                                  &key, nullptr);
    if (status != ERROR_SUCCESS) return status;
    status = RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                            static_cast<DWORD>(bytes.size()));
    RegCloseKey(key);
    return status;
}

void deleteValue(const char* path, const char* name) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return;
    RegDeleteValueA(key, name);
    RegCloseKey(key);
}

// Removes the key only when nothing but these tests put anything in it.
void deleteKeyIfEmpty(const char* path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return;
    DWORD subKeys = 0;
    DWORD values = 0;
    const LONG status = RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr,
                                         &values, nullptr, nullptr, nullptr, nullptr);
    RegCloseKey(key);
    if (status == ERROR_SUCCESS && subKeys == 0 && values == 0) {
        RegDeleteKeyA(HKEY_CURRENT_USER, path);
    }
}

bool keyExists(const char* path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(key);
    return true;
}

class IdentityStoreWin32Test : public ::testing::Test {
protected:
    void SetUp() override { clean(); }
    void TearDown() override { clean(); }

    static void clean() {
        for (const char* name : kNames) {
            deleteValue(kStorePath, name);
            deleteValue(kRunPath, name);
        }
        deleteKeyIfEmpty(kStorePath);
        deleteKeyIfEmpty(kVendorPath);
    }

    static std::string writeCapturing(const std::string& name, const std::string& value,
                                      bool& ok) {
        ::testing::internal::CaptureStdout();
        ok = writeIdentityValue(name, value);
        return ::testing::internal::GetCapturedStdout();
    }
};

TEST_F(IdentityStoreWin32Test, WritesTerminatedTextUnderItsOwnKey) {
    const bool hadKey = keyExists(kStorePath);
    bool ok = false;
    EXPECT_EQ(writeCapturing("IdentityTest_a", "0f1e2d3c-4b5a-4978-8695-a4b3c2d1e0f0", ok), "");
    EXPECT_TRUE(ok);
    ASSERT_TRUE(writeIdentityValue("IdentityTest_b", "0"));
    ASSERT_TRUE(writeIdentityValue("IdentityTest_b", "12"));

    const Stored a = queryRaw(kStorePath, "IdentityTest_a");
    ASSERT_EQ(a.status, ERROR_SUCCESS);
    EXPECT_EQ(a.type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(a.bytes, std::string("0f1e2d3c-4b5a-4978-8695-a4b3c2d1e0f0\0", 37));
    EXPECT_EQ(queryRaw(kStorePath, "IdentityTest_b").bytes, std::string("12\0", 3));
    EXPECT_EQ(queryRaw(kRunPath, "IdentityTest_a").status, ERROR_FILE_NOT_FOUND);

    EXPECT_EQ(readIdentityValue("IdentityTest_a", 2048), "0f1e2d3c-4b5a-4978-8695-a4b3c2d1e0f0");
    EXPECT_EQ(readIdentityValue("IdentityTest_b", 2048), "12");
    EXPECT_EQ(readIdentityValue("IdentityTest_moved", 2048), "");
    if (!hadKey) {
        clean();
        EXPECT_FALSE(keyExists(kStorePath)) << "tests must leave the registry as they found it";
    }
}

TEST_F(IdentityStoreWin32Test, ValueMustFitTheBufferWithItsTerminator) {
    ASSERT_TRUE(writeIdentityValue("IdentityTest_long", std::string(2047, 'a')));
    EXPECT_EQ(readIdentityValue("IdentityTest_long", 2048), std::string(2047, 'a'));
    ASSERT_TRUE(writeIdentityValue("IdentityTest_long", std::string(2048, 'a')));
    EXPECT_EQ(readIdentityValue("IdentityTest_long", 2048), "");
    ASSERT_TRUE(writeIdentityValue("IdentityTest_long", std::string(1023, 'b')));
    EXPECT_EQ(readIdentityValue("IdentityTest_long", 1024), std::string(1023, 'b'));
    ASSERT_TRUE(writeIdentityValue("IdentityTest_long", std::string(1024, 'b')));
    EXPECT_EQ(readIdentityValue("IdentityTest_long", 1024), "");
    EXPECT_EQ(readIdentityValue("IdentityTest_long", 0), "");
    // Data stored by others without a terminator, or with text after a NUL, reads up to the NUL.
    ASSERT_EQ(setRaw(kStorePath, "IdentityTest_a", REG_SZ, "abc"), ERROR_SUCCESS);
    EXPECT_EQ(readIdentityValue("IdentityTest_a", 2048), "abc");
    ASSERT_EQ(setRaw(kStorePath, "IdentityTest_a", REG_BINARY, std::string("ab\0cd", 5)),
              ERROR_SUCCESS);
    EXPECT_EQ(readIdentityValue("IdentityTest_a", 2048), "ab");
}

TEST_F(IdentityStoreWin32Test, FirstReadMovesAValueOutOfTheRunKey) {
    ASSERT_EQ(setRaw(kRunPath, "IdentityTest_moved", REG_SZ,
                     std::string("0f1e2d3c-4b5a-4978-8695-a4b3c2d1e0f0\0", 37)),
              ERROR_SUCCESS);
    EXPECT_EQ(readIdentityValue("IdentityTest_moved", 2048),
              "0f1e2d3c-4b5a-4978-8695-a4b3c2d1e0f0");
    EXPECT_EQ(queryRaw(kRunPath, "IdentityTest_moved").status, ERROR_FILE_NOT_FOUND);
    const Stored moved = queryRaw(kStorePath, "IdentityTest_moved");
    ASSERT_EQ(moved.status, ERROR_SUCCESS);
    EXPECT_EQ(moved.type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(moved.bytes, std::string("0f1e2d3c-4b5a-4978-8695-a4b3c2d1e0f0\0", 37));
    EXPECT_EQ(readIdentityValue("IdentityTest_moved", 2048),
              "0f1e2d3c-4b5a-4978-8695-a4b3c2d1e0f0");
}

// A value too large for the caller's buffer still moves whole; only this read comes back empty.
TEST_F(IdentityStoreWin32Test, OversizedRunValueMovesUnchanged) {
    const std::string big = std::string(3000, 'z') + '\0';
    ASSERT_EQ(setRaw(kRunPath, "IdentityTest_long", REG_SZ, big), ERROR_SUCCESS);
    EXPECT_EQ(readIdentityValue("IdentityTest_long", 2048), "");
    EXPECT_EQ(queryRaw(kRunPath, "IdentityTest_long").status, ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(queryRaw(kStorePath, "IdentityTest_long").bytes, big);
    EXPECT_EQ(readIdentityValue("IdentityTest_long", 4096), std::string(3000, 'z'));
}

TEST_F(IdentityStoreWin32Test, StoredValueWinsOverTheRunKey) {
    ASSERT_TRUE(writeIdentityValue("IdentityTest_a", "new"));
    ASSERT_EQ(setRaw(kRunPath, "IdentityTest_a", REG_SZ, std::string("old\0", 4)), ERROR_SUCCESS);
    EXPECT_EQ(readIdentityValue("IdentityTest_a", 2048), "new");
    EXPECT_EQ(queryRaw(kStorePath, "IdentityTest_a").bytes, std::string("new\0", 4));
    // An empty stored value is still the stored value.
    ASSERT_TRUE(writeIdentityValue("IdentityTest_a", ""));
    EXPECT_EQ(readIdentityValue("IdentityTest_a", 2048), "");
    EXPECT_EQ(queryRaw(kRunPath, "IdentityTest_a").bytes, std::string("old\0", 4));
}

// The ANSI registry functions stop a name at its NUL, so such a name would reach another value.
TEST_F(IdentityStoreWin32Test, RefusesNulInNameOrValue) {
    ASSERT_TRUE(writeIdentityValue("IdentityTest_a", "kept"));
    for (const auto& [name, value] :
         {std::pair<std::string, std::string>{std::string("IdentityTest_a\0x", 16), "v"},
          {"IdentityTest_a", std::string("v\0w", 3)}}) {
        bool ok = true;
        EXPECT_EQ(writeCapturing(name, value, ok), "Error setting key 87\n");
        EXPECT_FALSE(ok);
    }
    EXPECT_EQ(readIdentityValue("IdentityTest_a", 2048), "kept");
    EXPECT_EQ(readIdentityValue(std::string("IdentityTest_a\0x", 16), 2048), "");
}

// Threads counting one value at once: each increment reads and writes under the value's named
// mutex, so none is lost. The name holds a backslash, which a kernel object name cannot.
TEST_F(IdentityStoreWin32Test, ConcurrentUpdatesCountEveryIncrement) {
    constexpr int kThreads = 4;
    constexpr int kIncrementsEach = 50;
    const auto increment = [](LPVOID) -> DWORD {
        for (int i = 0; i < kIncrementsEach; ++i) {
            updateIdentityValue("IdentityTest_a\\b=c", 2048, [](const std::string& current) {
                return std::to_string((current.empty() ? 0 : std::stoi(current)) + 1);
            });
        }
        return 0;
    };
    HANDLE threads[kThreads];
    for (HANDLE& thread : threads) {
        thread = CreateThread(nullptr, 0, increment, nullptr, 0, nullptr);
        ASSERT_NE(thread, nullptr);
    }
    ASSERT_EQ(WaitForMultipleObjects(kThreads, threads, TRUE, 120000), WAIT_OBJECT_0);
    for (HANDLE thread : threads) CloseHandle(thread);
    EXPECT_EQ(readIdentityValue("IdentityTest_a\\b=c", 2048),
              std::to_string(kThreads * kIncrementsEach));
}

}  // namespace
