#include "platform/IdentityStoreFile.h"

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

using ORBA::Platform::IdentityStoreFile;
using ORBA::Platform::identityBucketName;
using ORBA::Platform::identityFolder;
using ORBA::Platform::isStorableName;
using ORBA::Platform::isStorableValue;

namespace {

TEST(IdentityStoreFileTest, KeepsEveryLineItDoesNotUnderstand) {
    const std::string text =
        "# written by hand\n"
        "\n"
        "ZQ_uuid_1=0f1e2d3c-4b5a-4978-8695-a4b3c2d1e0f0\n"
        "no equals sign\n"
        "=nameless\n"
        "url=https://x/?a=b\n"
        "crlf=1\r\n";
    IdentityStoreFile file = IdentityStoreFile::parse(text);
    EXPECT_EQ(file.serialise(), text);
    file.set("ZQ_counter_1", "0");
    EXPECT_EQ(file.serialise(), text + "ZQ_counter_1=0\n");
    EXPECT_EQ(file.find("url"), "https://x/?a=b");
    EXPECT_EQ(file.find(""), "nameless");
    EXPECT_EQ(file.find("crlf"), "1\r");
    EXPECT_EQ(file.find("no equals sign"), std::nullopt);
    EXPECT_EQ(file.find("ZQ_uuid_"), std::nullopt);
}

TEST(IdentityStoreFileTest, LastLineWithoutNewlineCounts) {
    IdentityStoreFile file = IdentityStoreFile::parse("a=1\nb=2");
    EXPECT_EQ(file.find("b"), "2");
    EXPECT_EQ(file.serialise(), "a=1\nb=2\n");
    EXPECT_EQ(IdentityStoreFile::parse("").serialise(), "");
    EXPECT_EQ(IdentityStoreFile::parse("\n").serialise(), "\n");
}

TEST(IdentityStoreFileTest, FirstLineOfANameWinsAndIsTheOneSet) {
    IdentityStoreFile file = IdentityStoreFile::parse("a=1\nb=2\na=3\n");
    EXPECT_EQ(file.find("a"), "1");
    file.set("a", "");
    EXPECT_EQ(file.serialise(), "a=\nb=2\na=3\n");
    EXPECT_EQ(file.find("a"), "");
    file.set("b", "x=y");
    EXPECT_EQ(file.serialise(), "a=\nb=x=y\na=3\n");

    // Only a whole name at the start of a line counts, whatever surrounds it.
    IdentityStoreFile near = IdentityStoreFile::parse("ab=1\nx=a=2\n a=3\nb\na=4\na=5");
    EXPECT_EQ(near.find("a"), "4");
    near.set("a", "6");
    EXPECT_EQ(near.serialise(), "ab=1\nx=a=2\n a=3\nb\na=6\na=5\n");
    // A name spelled both ways: the earlier line wins.
    EXPECT_EQ(IdentityStoreFile::parse("%zz=old\n%%25zz=new\n").find("%zz"), "old");
    EXPECT_EQ(IdentityStoreFile::parse("%%25zz=new\n%zz=old\n").find("%zz"), "new");
}

TEST(IdentityStoreFileTest, RefusesTextsThatWouldReadBackDifferently) {
    EXPECT_TRUE(isStorableName("ZQ_uuid_com.example game"));
    EXPECT_TRUE(isStorableName(""));
    EXPECT_TRUE(isStorableName("a=b\n"));
    EXPECT_FALSE(isStorableName(std::string("a\0b", 3)));
    EXPECT_TRUE(isStorableValue("a=b\r\t "));
    EXPECT_FALSE(isStorableValue("a\nb"));
    EXPECT_FALSE(isStorableValue(std::string("a\0", 2)));
}

// Names the plain line cannot carry are escaped; every file written before that reads the same,
// including a hand-made name that merely looks escaped.
TEST(IdentityStoreFileTest, EscapesOnlyNamesThePlainFormCannotCarry) {
    const std::string old = "ZQ_uuid_a%3Db=u0\n%zz=x\n%=y\n%41=a\nZQ_counter_100%=3\n";
    IdentityStoreFile file = IdentityStoreFile::parse(old);
    EXPECT_EQ(file.find("ZQ_uuid_a%3Db"), "u0");
    EXPECT_EQ(file.find("%zz"), "x");
    EXPECT_EQ(file.find("%"), "y");
    EXPECT_EQ(file.find("%41"), "a");
    EXPECT_EQ(file.find("ZQ_counter_100%"), "3");
    EXPECT_EQ(file.find("ZQ_uuid_a=b"), std::nullopt);

    file.set("ZQ_uuid_a=b", "u1");
    file.set("ZQ_uuid_%a\nb", "u2=v");
    file.set("%zz", "z");
    file.set("ZQ_counter_100%", "4");
    EXPECT_EQ(file.serialise(),
              "ZQ_uuid_a%3Db=u0\n%%25zz=z\n%=y\n%41=a\nZQ_counter_100%=4\n"
              "%ZQ_uuid_a%3Db=u1\n%ZQ_uuid_%25a%0Ab=u2=v\n");
    const IdentityStoreFile reread = IdentityStoreFile::parse(file.serialise());
    EXPECT_EQ(reread.find("ZQ_uuid_a=b"), "u1");
    EXPECT_EQ(reread.find("ZQ_uuid_%a\nb"), "u2=v");
    EXPECT_EQ(reread.find("%zz"), "z");
    EXPECT_EQ(reread.find("ZQ_uuid_a%3Db"), "u0");
}

// Each value's file name: safe on any file system, never a path, never the writers' temporary,
// bounded in length, and distinct for distinct names short of a hash collision.
TEST(IdentityStoreFileTest, BucketNamesAreSafeBoundedAndDistinct) {
    EXPECT_EQ(identityBucketName("ZQ_uuid_com.example-game_2"), "ZQ_uuid_com.example-game_2");
    EXPECT_EQ(identityBucketName("ZQ_uuid_a/b c%\xff"), "ZQ_uuid_a%2Fb%20c%25%FF");
    EXPECT_EQ(identityBucketName(".writing"), "%2Ewriting");
    EXPECT_EQ(identityBucketName(".."), "%2E.");
    EXPECT_EQ(identityBucketName(""), "%");
    EXPECT_EQ(identityBucketName(std::string("a\0b", 3)), "a%00b");

    const std::string prefix = "ZQ_counter_" + std::string(250, 'x');
    const std::string names[] = {prefix + "a",
                                 prefix + "b",
                                 prefix + "/",
                                 "a" + std::string(100, '/'),
                                 std::string(67, '/') + "a",
                                 std::string(67, '/') + "b"};
    std::vector<std::string> buckets;
    for (const std::string& name : names) {
        const std::string bucket = identityBucketName(name);
        EXPECT_LE(bucket.size(), 200u) << bucket;
        EXPECT_EQ(bucket.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                                           "0123456789_-.%~"),
                  std::string::npos);
        EXPECT_NE(bucket.front(), '.');
        const std::size_t tilde = bucket.find('~');
        ASSERT_NE(tilde, std::string::npos) << bucket;
        EXPECT_EQ(bucket.size() - tilde, 17u) << bucket;
        // The prefix is the start of the unshortened name, cut between escapes.
        EXPECT_EQ(identityBucketName(name.substr(0, 60)).compare(0, 60, bucket, 0, 60), 0);
        EXPECT_NE(bucket[tilde - 1], '%');
        EXPECT_NE(bucket[tilde - 2], '%');
        buckets.push_back(bucket);
    }
    std::sort(buckets.begin(), buckets.end());
    EXPECT_EQ(std::unique(buckets.begin(), buckets.end()), buckets.end());
    // Exactly at the bound a name is not shortened.
    EXPECT_EQ(identityBucketName(std::string(200, 'z')), std::string(200, 'z'));
}

TEST(IdentityStoreFileTest, FolderComesFromStateHomeOrHome) {
    EXPECT_EQ(identityFolder("/state", "/home/u"), "/state/orba");
    EXPECT_EQ(identityFolder("/state//", "/home/u"), "/state/orba");
    EXPECT_EQ(identityFolder("", "/home/u"), "/home/u/.local/state/orba");
    EXPECT_EQ(identityFolder("relative/state", "/home/u/"), "/home/u/.local/state/orba");
    EXPECT_EQ(identityFolder(nullptr, "/home/u"), "/home/u/.local/state/orba");
    EXPECT_EQ(identityFolder("/", nullptr), "/orba");
    EXPECT_EQ(identityFolder(nullptr, "home/u"), "");
    EXPECT_EQ(identityFolder(nullptr, nullptr), "");
}

}  // namespace
