// Controls of the POSIX registry that only tests and benchmarks use: never the library's callers
// nor the command-line host.
#pragma once

#include <cstdint>

namespace tovarine::registry {

// Virtual-machine steps run by the store's statements since the previous call (SQLite's count
// of the work a statement did, scans included); the count restarts at each call.
int64_t TakeStatementSteps();

// Sets how long this process's connections to the store, the open one and those opened later
// (also by children forked without exec), wait for another connection's write to end before a
// call gives up: `milliseconds`, 0 for no wait. kBusyTimeoutMs (registry_store.h) brings the
// shipped wait back. For tests that hold the store's write lock on purpose.
void SetBusyTimeout(int milliseconds);

// Whether this process's commits record their changes in the store's history (the shipped
// default: they do). For the benchmarks that weigh what keeping history costs a save.
void KeepHistory(bool keep);

}  // namespace tovarine::registry
