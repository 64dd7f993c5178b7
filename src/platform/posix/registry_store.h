// Test controls of the POSIX registry, and the store's file name for the command-line host. Not
// part of the library's interface: only programs that link the registry's objects directly use
// them, to switch stores, to measure the store's work and to name the store in messages.
#pragma once

#include <cstdint>
#include <string>

namespace tovarine::registry {

// Closes the process's store. The next registry call opens it again, reading TOVARINE_REGISTRY
// anew. Open handles stay valid and keep addressing the same key ids in whatever store is open
// then, so tests close their handles before switching stores.
void CloseStore();

// The file the next open of the store takes: TOVARINE_REGISTRY, else the default path; empty
// when TOVARINE_REGISTRY is set but empty, or when no home folder is known.
std::string StoreFile();

// Virtual-machine steps run by the store's statements since the previous call (SQLite's count
// of the work a statement did, scans included); the count restarts at each call.
int64_t TakeStatementSteps();

}  // namespace tovarine::registry
