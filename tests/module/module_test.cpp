// Module state: the instance selector and the handle recorded at load.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include "test_platform.h"
#include "tovarine.h"

namespace {

TEST(ModuleSelector, ExchangeReturnsThePreviousValue) {
    EXPECT_EQ(f9832144782(7), 0);  // the value at load
    EXPECT_EQ(f9832144782(-3), 7);
    if (const auto internal = tovarine::testing::InternalSelector()) {
        EXPECT_EQ(*internal, -3) << "the settings code reads another value";
    }
    EXPECT_EQ(f9832144782(0), -3);
}

// Every value stored is returned exactly once, by a later exchange or as the final value.
TEST(ModuleSelector, ConcurrentExchangesLoseNoValue) {
    constexpr int kThreads = 4, kEach = 20000;
    const int32_t initial = f9832144782(0);
    f9832144782(initial);
    std::vector<std::vector<int32_t>> returned(kThreads);
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &returned, &ready] {
            for (++ready; ready.load() < kThreads;) std::this_thread::yield();
            for (int i = 1; i <= kEach; ++i) returned[t].push_back(f9832144782(t * kEach + i));
        });
    }
    for (auto &thread : threads) thread.join();
    std::vector<int32_t> seen{f9832144782(initial)}, stored{initial};
    for (int t = 0; t < kThreads; ++t) {
        seen.insert(seen.end(), returned[t].begin(), returned[t].end());
        for (int i = 1; i <= kEach; ++i) stored.push_back(t * kEach + i);
    }
    std::sort(seen.begin(), seen.end());
    std::sort(stored.begin(), stored.end());
    EXPECT_TRUE(seen == stored) << "a value was lost or returned twice";
}

TEST(ModuleState, InstanceHandleIsTheLoadedModule) {
    const auto handles = tovarine::testing::LibraryModuleHandles();
    if (!handles) {
        GTEST_SKIP() << "the recorded handle is internal; through the exports it shows as the "
                        "string-table words of the settings boxes";
    }
    ASSERT_NE(handles->loaded, nullptr);
    EXPECT_NE(handles->recorded, nullptr);
    EXPECT_EQ(handles->recorded, handles->loaded);
}

}  // namespace
