// Controls of the POSIX registry that only tests and benchmarks use: never the library's callers
// nor the command-line host.
#pragma once

#include <cstdint>

namespace tovarine::registry {

// Virtual-machine steps run by the store's statements since the previous call (SQLite's count
// of the work a statement did, scans included); the count restarts at each call.
int64_t TakeStatementSteps();

}  // namespace tovarine::registry
