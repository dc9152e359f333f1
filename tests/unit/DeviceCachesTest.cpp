#include "platform/DeviceCaches.h"

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace ORBA {
namespace Platform {
namespace {

using Names = std::vector<std::string>;

// Answers with a fixed list and counts how often it was asked.
struct CountingQuery {
    PropertyReads reads;
    int calls = 0;
    PropertyQuery function() {
        return [this] {
            ++calls;
            return reads;
        };
    }
};

TEST(DeviceCachesTest, ModelOfLastReadableObjectIsKeptAndNeverAskedAgain) {
    std::mutex queryMutex;
    DeviceCaches caches(queryMutex);
    CountingQuery first{{std::string("Board A"), std::nullopt, std::string("Board B"), std::nullopt}};
    EXPECT_EQ(caches.deviceModel(first.function()), "Board B");

    CountingQuery later{{std::string("Other")}};
    EXPECT_EQ(caches.deviceModel(later.function()), "Board B");
    EXPECT_EQ(caches.deviceModel(later.function()), "Board B");
    EXPECT_EQ(first.calls, 1);
    EXPECT_EQ(later.calls, 0);
}

TEST(DeviceCachesTest, EmptyModelIsNotKept) {
    std::mutex queryMutex;
    DeviceCaches caches(queryMutex);
    CountingQuery failed{{}};
    EXPECT_EQ(caches.deviceModel(failed.function()), "");
    // The last object's empty model replaces an earlier one, as the system listed them.
    CountingQuery emptyLast{{std::string("Board A"), std::string()}};
    EXPECT_EQ(caches.deviceModel(emptyLast.function()), "");
    CountingQuery found{{std::string("Wine")}};
    EXPECT_EQ(caches.deviceModel(found.function()), "Wine");
    EXPECT_EQ(failed.calls + emptyLast.calls + found.calls, 3);
}

TEST(DeviceCachesTest, ModelQueryRunsUnderTheSharedMutexOnlyOnce) {
    std::mutex queryMutex;
    DeviceCaches caches(queryMutex);
    std::atomic<int> calls{0};
    std::atomic<bool> mutexWasFree{false};
    const PropertyQuery query = [&] {
        if (queryMutex.try_lock()) {
            mutexWasFree = true;
            queryMutex.unlock();
        }
        ++calls;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return PropertyReads{std::string("Model")};
    };
    std::vector<std::thread> threads;
    std::vector<std::string> results(8);
    for (std::size_t i = 0; i < results.size(); ++i) {
        threads.emplace_back([&, i] { results[i] = caches.deviceModel(query); });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(mutexWasFree);
    EXPECT_EQ(results, std::vector<std::string>(8, "Model"));
}

TEST(DeviceCachesTest, AdapterListKeepsReadableNamesInOrder) {
    std::mutex queryMutex;
    DeviceCaches caches(queryMutex);
    CountingQuery none{{std::nullopt}};
    EXPECT_EQ(caches.gpuModels(none.function()), Names{});

    CountingQuery two{{std::string("GPU 1"), std::nullopt, std::string("GPU 2")}};
    EXPECT_EQ(caches.gpuModels(two.function()), (Names{"GPU 1", "GPU 2"}));
    // An adapter removed since then changes nothing: the list is not asked for again.
    CountingQuery removed{{std::string("GPU 1")}};
    EXPECT_EQ(caches.gpuModels(removed.function()), (Names{"GPU 1", "GPU 2"}));
    EXPECT_EQ(none.calls + two.calls + removed.calls, 2);
}

TEST(DeviceCachesTest, AdapterListFilledOnceFromManyThreads) {
    std::mutex queryMutex;
    DeviceCaches caches(queryMutex);
    std::atomic<int> calls{0};
    const PropertyQuery query = [&] {
        ++calls;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return PropertyReads{std::string("A"), std::string("B")};
    };
    std::vector<std::thread> threads;
    std::vector<Names> results(8);
    for (std::size_t i = 0; i < results.size(); ++i) {
        threads.emplace_back([&, i] { results[i] = caches.gpuModels(query); });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(results, std::vector<Names>(8, Names{"A", "B"}));
}

}  // namespace
}  // namespace Platform
}  // namespace ORBA
