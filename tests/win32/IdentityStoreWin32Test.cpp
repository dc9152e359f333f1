// The registry-backed identity store's own cases, run against the real registry (Wine's, in the
// test prefix); what every store does is in unit/IdentityStoreTest.cpp.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/IdentityStore.h"
#include "platform/OutboxFolder.h"
#include "support/IdentityStoreSandbox.h"

using ORBA::Platform::readIdentityValue;
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

void clean() {
    for (const char* name : kNames) {
        deleteValue(kStorePath, name);
        deleteValue(kRunPath, name);
    }
    deleteKeyIfEmpty(kStorePath);
    deleteKeyIfEmpty(kVendorPath);
}

}  // namespace

namespace OrbaTest {

// The tests' value names, cleared from the store's key and the old Run key.
struct IdentityStoreSandbox::State {};

const int IdentityStoreSandbox::kRefusedCode = ERROR_INVALID_PARAMETER;

IdentityStoreSandbox::IdentityStoreSandbox() : state_(std::make_unique<State>()) { clean(); }

IdentityStoreSandbox::~IdentityStoreSandbox() { clean(); }

}  // namespace OrbaTest

namespace {

class IdentityStoreWin32Test : public ::testing::Test {
protected:
    OrbaTest::IdentityStoreSandbox sandbox_;
};

TEST_F(IdentityStoreWin32Test, WritesTerminatedTextUnderItsOwnKey) {
    const bool hadKey = keyExists(kStorePath);
    ASSERT_TRUE(writeIdentityValue("IdentityTest_a", "0f1e2d3c-4b5a-4978-8695-a4b3c2d1e0f0"));
    ASSERT_TRUE(writeIdentityValue("IdentityTest_b", "0"));
    ASSERT_TRUE(writeIdentityValue("IdentityTest_b", "12"));

    const Stored a = queryRaw(kStorePath, "IdentityTest_a");
    ASSERT_EQ(a.status, ERROR_SUCCESS);
    EXPECT_EQ(a.type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(a.bytes, std::string("0f1e2d3c-4b5a-4978-8695-a4b3c2d1e0f0\0", 37));
    EXPECT_EQ(queryRaw(kStorePath, "IdentityTest_b").bytes, std::string("12\0", 3));
    EXPECT_EQ(queryRaw(kRunPath, "IdentityTest_a").status, ERROR_FILE_NOT_FOUND);
    if (!hadKey) {
        clean();
        EXPECT_FALSE(keyExists(kStorePath)) << "tests must leave the registry as they found it";
    }
}

// Data stored by others without a terminator, or with text after a NUL, reads up to the NUL.
TEST_F(IdentityStoreWin32Test, DataStoredByOthersReadsUpToItsNul) {
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

// A removed value is gone from both keys, so that the Run key's copy is not moved back; the value
// that no earlier version kept is read without looking there.
TEST_F(IdentityStoreWin32Test, RemovedValuesStayGone) {
    ASSERT_TRUE(writeIdentityValue("IdentityTest_a", "ua"));
    ASSERT_TRUE(writeIdentityValue("IdentityTest_b", "ub"));
    ASSERT_EQ(setRaw(kRunPath, "IdentityTest_a", REG_SZ, std::string("old\0", 4)), ERROR_SUCCESS);
    EXPECT_TRUE(ORBA::Platform::removeIdentityValue("IdentityTest_a"));
    EXPECT_EQ(queryRaw(kStorePath, "IdentityTest_a").status, ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(queryRaw(kRunPath, "IdentityTest_a").status, ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(readIdentityValue("IdentityTest_a", 2048), "");
    EXPECT_EQ(readIdentityValue("IdentityTest_b", 2048), "ub");
    EXPECT_TRUE(ORBA::Platform::removeIdentityValue("IdentityTest_a"));

    ASSERT_EQ(setRaw(kRunPath, "IdentityTest_moved", REG_SZ, std::string("old\0", 4)), ERROR_SUCCESS);
    EXPECT_EQ(ORBA::Platform::readOwnIdentityValue("IdentityTest_moved", 2048), "");
    EXPECT_EQ(queryRaw(kRunPath, "IdentityTest_moved").status, ERROR_SUCCESS);
    EXPECT_EQ(ORBA::Platform::readOwnIdentityValue("IdentityTest_b", 2048), "ub");
}

// Stored requests sit beside the other per-user application data, not in the registry.
TEST(OutboxFolderWin32Test, IsUnderLocalApplicationData) {
    char local[MAX_PATH];
    ASSERT_GT(GetEnvironmentVariableA("LOCALAPPDATA", local, MAX_PATH), 0u);
    EXPECT_EQ(ORBA::Platform::outboxFolder(), std::string(local) + "\\ORBA\\Tracker\\outbox");
}

}  // namespace
