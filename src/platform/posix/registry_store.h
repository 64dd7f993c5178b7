// What the POSIX registry offers beyond the Win32 calls: the store's file name, backups and
// checks of the store for the command-line host and the tests. Not part of the library's
// interface: only programs that link the registry's objects directly use them. What only tests
// use is in registry_test_controls.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/posix/win32.h"

namespace tovarine::registry {

// How long a call waits for another process's write to the store to end before it gives up
// (ERROR_CANTWRITE or ERROR_CANTREAD): the same wait for every connection to the store. Tests
// may shorten it for their process (registry_test_controls.h).
constexpr int kBusyTimeoutMs = 10000;

// The file the next open of the store takes: TOVARINE_REGISTRY, else the default path; empty
// when TOVARINE_REGISTRY is set but empty, or when no home folder is known.
std::string StoreFile();

// The permission bits that copies of the store (backups, exports) are created with, so that no
// copy is readable by more users than the store itself: the store file's own (0600 when there is
// no store file yet, as a new store gets).
unsigned StoreCopyMode();

// Commits the uncommitted writes of the `count` open keys (handles from RegOpenKeyExA or
// RegCreateKeyExA, not HKEY_CURRENT_USER) in one transaction: every key made and every value set
// through any of them becomes visible at once, or none does. On failure every one of those
// writes is dropped, and a handle whose key was still to be made addresses no key afterwards
// (its calls give ERROR_KEY_DELETED). A key that is no open handle, or HKEY_CURRENT_USER, is
// refused before anything is written or dropped. A key still to be made that exists by then
// (made by another process or handle) fails the whole commit with ERROR_ALREADY_EXISTS. For the
// command-line host's imports.
LONG CommitTogether(const HKEY *keys, size_t count);

// Closes an open key handle, dropping its uncommitted writes: a key it was still to make is
// not made. For error paths that must write nothing. HKEY_CURRENT_USER is left open.
LONG DiscardKey(HKEY key);

// A consistent copy of the store into `destination` with SQLite's online backup API, taken
// while other processes use the store; the copy is a self-contained database (no WAL), put in
// place whole (written beside it, synced, then renamed over it).
LONG BackupStore(const std::string &destination);

// Checks a store file (the live store or a backup) without changing it: it is opened read-only,
// and not written (in WAL mode, SQLite may leave beside it the empty log and index files that
// any reader of the store makes). ERROR_SUCCESS when the file was read through (`problems` then
// holds what the integrity check found, empty when it is sound); otherwise the error that
// stopped the check (ERROR_CANTOPEN, ERROR_BADDB, ERROR_REGISTRY_CORRUPT, ERROR_CANTREAD), with
// why in `problems`.
struct StoreCheck {
    std::vector<std::string> problems;  // integrity lines other than "ok", or why it could not
                                        // be opened or read
    std::string journal;                // the journal mode: "wal", "delete", ...
    bool self_contained = false;        // the file alone holds every committed change (no log pages
                                        // left to copy into it)
};
LONG CheckStore(const std::string &file, StoreCheck *out);

// Read batches: the registry calls a thread makes between BeginReadBatch and EndReadBatch read
// the store in one read transaction, started by the first of them that reads, instead of one
// per call: they see one state of the store and cost one transaction. Batches nest; the
// transaction ends when the outermost batch ends, when the thread writes (a write starts from
// the newest state), when a call of another thread comes (which does not read the batch's older
// state), and when the thread pauses its batches: from then on each call's reads end with the
// call, until a batch begins anew or the last one ends. A read transaction open keeps other
// programs' checkpoints from copying the newer log into the store file, so a thread pauses
// before it waits on anything, such as a question to the user. For the library's settings
// transfers.
void BeginReadBatch();
void EndReadBatch();
void PauseReadBatch();

// Closes the process's store. The next registry call opens it again, reading TOVARINE_REGISTRY
// anew. Open handles stay valid and keep addressing the same key ids in whatever store is open
// then, so tests close their handles before switching stores. The tool's check closes its own
// connection with it, so that the store's last close copies the log into the file.
void CloseStore();

}  // namespace tovarine::registry
