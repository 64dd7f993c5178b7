// Test controls of the POSIX registry, and the store's file name for the command-line host. Not
// part of the library's interface: only programs that link the registry's objects directly use
// them, to switch stores, to measure the store's work and to name the store in messages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/posix/win32.h"

namespace tovarine::registry {

// Closes the process's store. The next registry call opens it again, reading TOVARINE_REGISTRY
// anew. Open handles stay valid and keep addressing the same key ids in whatever store is open
// then, so tests close their handles before switching stores.
void CloseStore();

// The file the next open of the store takes: TOVARINE_REGISTRY, else the default path; empty
// when TOVARINE_REGISTRY is set but empty, or when no home folder is known.
std::string StoreFile();

// Commits the uncommitted writes of the `count` open keys (handles from RegOpenKeyExA or
// RegCreateKeyExA, not HKEY_CURRENT_USER) in one transaction: every key made and every value set
// through any of them becomes visible at once, or none does. On failure every one of those
// writes is dropped, and a handle whose key was still to be made addresses no key afterwards
// (its calls give ERROR_KEY_DELETED). A key that is no open handle, or HKEY_CURRENT_USER, is
// refused before anything is written or dropped. For the command-line host's imports.
LONG CommitTogether(const HKEY *keys, size_t count);

// Virtual-machine steps run by the store's statements since the previous call (SQLite's count
// of the work a statement did, scans included); the count restarts at each call.
int64_t TakeStatementSteps();

}  // namespace tovarine::registry
