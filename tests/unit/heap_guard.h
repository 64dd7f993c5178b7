// Test support: checks that a call leaves no local-heap block behind, and drives allocation
// failure injection.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>

#include "platform/posix/local_heap.h"

namespace tovarine::testing {

// Fails the test when the local heap holds more blocks at the end of the scope than at its start.
class HeapGuard {
public:
    HeapGuard() : blocks_(local_heap::LiveBlocks()) { local_heap::ResetCounters(); }
    ~HeapGuard() {
        local_heap::ResetCounters();
        EXPECT_EQ(local_heap::LiveBlocks(), blocks_) << "local-heap blocks leaked";
    }
    HeapGuard(const HeapGuard &) = delete;
    HeapGuard &operator=(const HeapGuard &) = delete;

private:
    int64_t blocks_;
};

// Runs `call` once per allocation it makes, making the first, then the second, ... allocation
// fail, until a run completes with no failure injected. `check(n)` runs after the run whose
// nth allocation failed. Returns the number of allocation sites walked.
inline int64_t ForEachAllocationFailure(const std::function<void()> &call,
                                        const std::function<void(int64_t)> &check) {
    int64_t n = 1;
    for (;; ++n) {
        HeapGuard guard;
        local_heap::FailNthAllocation(n);
        call();
        const int64_t made = local_heap::Allocations();
        local_heap::ResetCounters();
        if (made < n) break;  // the nth allocation never happened: every site has been walked
        check(n);
    }
    return n - 1;
}

}  // namespace tovarine::testing
