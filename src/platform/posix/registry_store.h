// Test controls of the POSIX registry. Not part of the library's interface: only tests that link
// the registry's objects directly use them, to switch stores and to measure the store's work.
#pragma once

#include <cstdint>

namespace tovarine::registry {

// Closes the process's store. The next registry call opens it again, reading TOVARINE_REGISTRY
// anew. Open handles stay valid and keep addressing the same key ids in whatever store is open
// then, so tests close their handles before switching stores.
void CloseStore();

// Virtual-machine steps run by the store's statements since the previous call (SQLite's count
// of the work a statement did, scans included); the count restarts at each call.
int64_t TakeStatementSteps();

}  // namespace tovarine::registry
