// What the POSIX registry offers beyond the Win32 calls: the store's file name, backups and
// checks of the store for the command-line host and the tests. Not part of the library's
// interface: only programs that link the registry's objects directly use them. What only tests
// use is in registry_test_controls.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
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

// Deletions that join a handle's uncommitted writes, committed with them (RegCloseKey,
// RegFlushKey, CommitTogether) in the same transaction, so that a list of changes that deletes
// something is still all written or none. DeleteValueLater drops the value `name` (a value set
// through the handle before under that name is not written either); deleting a value the key
// lacks is no failure. DeleteKeyLater deletes the handle's key with every value it holds at the
// commit (a key with subkeys fails the commit with ERROR_ACCESS_DENIED); values set through the
// handle are then not written. HKEY_CURRENT_USER is refused (ERROR_INVALID_PARAMETER).
LONG DeleteValueLater(HKEY key, std::string_view name);
LONG DeleteKeyLater(HKEY key);

// History: every committed change below the settings root, recorded by whichever process
// commits it, in the transaction of the change itself.

// A value as the store holds it.
struct StoredValue {
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
    bool operator==(const StoredValue &) const = default;
};

// One recorded change. A value's change has `name`; a key made or deleted whole has none
// (`whole_key`): made, it has an (empty) new value and no old one; deleted, the reverse (its
// values' deletions are changes of their own, recorded before it).
struct Change {
    int64_t revision = 0;  // grows with every change, in commit order; never given twice
    int64_t time_ms = 0;   // UTC, milliseconds since 1970-01-01
    std::string key;       // the key's path below the settings root: "Sample Server 0"
    bool whole_key = false;
    std::string name;  // the value's name, as it was spelt when it was written
    std::optional<StoredValue> old_value, new_value;  // nullopt: absent
    std::string program;                              // the committing program's name
    int64_t pid = 0;
    std::string user;                    // the user it ran as ("" when unknown: uid N)
    std::optional<std::string> command;  // the tool's command line; nullopt for a server
};

// Calls `each` with the recorded changes whose revision is above `after_revision`, newest first
// (oldest first with `oldest_first`), in one consistent state of the store, until it returns
// false. `each` runs under the registry's lock and must not call the registry. Changes beyond
// the store's bound (Retention) are not shown, also before they are pruned. A store without history
// (before its first write since an earlier release made it) has no changes.
LONG ForEachChange(int64_t after_revision, bool oldest_first,
                   const std::function<bool(const Change &)> &each);

// The oldest and newest revision the history still holds (both 0 when it holds none), and the
// newest revision ever given (kept when every change has been pruned).
struct HistorySpan {
    int64_t oldest = 0;
    int64_t newest = 0;
    int64_t last_given = 0;
};
LONG ReadHistorySpan(HistorySpan *span);

// How much history the store keeps: the newest `changes` changes, none older than `seconds`.
// A property of the store, the same for every process; older changes are pruned as changes are
// committed, a few at a time.
struct Retention {
    int64_t changes = 0;
    int64_t seconds = 0;
    bool operator==(const Retention &) const = default;
};
inline constexpr Retention kDefaultRetention{100000, 365 * 24 * 3600};
LONG ReadRetention(Retention *retention);
// Sets the bound (both at least 1; ERROR_INVALID_PARAMETER otherwise) and prunes to it at once.
LONG SetRetention(const Retention &retention);

// The command recorded with this process's changes from now on (the tool's command line);
// nullopt for none, as for a server. Program, process id and user are found by the store.
void SetChangeCommand(std::optional<std::string> command);

// Store files other than the live store, such as backups.

// A key of a store file with its values, in the store's order.
struct FileValue {
    std::string name;
    StoredValue value;
};
struct FileKey {
    std::string name;
    std::vector<FileValue> values;
};
// Reads every subkey of the settings root of the store file `file` (a backup) with its values,
// read-only and without changing the file. ERROR_FILE_NOT_FOUND when the file is not there,
// ERROR_BADDB when it is no store; a store without a settings root has no keys.
LONG ReadStoreFileInstances(const std::string &file, std::vector<FileKey> *keys);

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
