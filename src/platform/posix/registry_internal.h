// What the registry's files share: the process's registry state (its store connection, open key
// handles and the key ids kept), the lock every call runs under, and the steps the Win32 calls
// of registry.cpp are made of. Locking and fork handling are in registry_lock.cpp, handles and
// their uncommitted writes in registry_handles.cpp, key lookups, kept ids and read batches in
// registry_cache.cpp, backups and checks in registry_maintenance.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/posix/registry_db.h"
#include "platform/posix/win32.h"

namespace tovarine::registry {

// A list read from the store, served to successive enumeration calls. `stamp` tells whether the
// store changed since: the process's write count and the connection's data version, which moves
// when another connection commits.
struct Stamp {
    uint64_t epoch = 0;
    int64_t data_version = -1;
    bool operator==(const Stamp &) const = default;
};

struct SubkeyEntry {
    std::string name;
    std::string key_class;
    int64_t last_write;
};

struct ValueEntry {
    std::string name;
    DWORD type;
    std::vector<BYTE> data;
};

template <typename Entry>
struct Snapshot {
    bool taken = false;
    Stamp stamp;
    std::vector<Entry> entries;
};

// A value set (or, with `remove`, deleted) through a handle and not yet committed.
struct PendingValue {
    std::string name;
    std::string folded;
    DWORD type;
    std::vector<BYTE> data;
    bool remove = false;
};

struct KeyHandle {
    int64_t id = 0;  // 0 while the key is still to be made (`to_make` below `parent`)
    Snapshot<SubkeyEntry> subkeys;
    Snapshot<ValueEntry> values;
    // Writes through the handle, committed together at RegFlushKey or RegCloseKey.
    int64_t parent = 0;
    std::vector<std::string> to_make;
    std::string key_class;
    std::vector<PendingValue> pending;
    std::unordered_map<std::string, size_t> pending_at;  // folded name -> index in `pending`
    bool delete_key = false;  // the key goes, with its values, at the commit
    bool HasPending() const { return id == 0 || !pending.empty() || delete_key; }
};

// The number of the process's first handle, above the null page (Adopt numbers the others).
inline constexpr uintptr_t kFirstHandle = 0x10000;

struct Globals {
    std::mutex mutex;
    Store store;
    std::unordered_map<uintptr_t, std::unique_ptr<KeyHandle>> handles;  // open handles by number
    uintptr_t next_handle = kFirstHandle;
    KeyHandle root{kRootId, {}, {}, 0, {}, {}, {}, {}, false};
    std::vector<sqlite3 *> inherited;  // connections of a parent process, never to be used
    // The stamp read in the read transaction numbered `stamp_read` (0: none).
    Stamp stamp;
    uint64_t stamp_read = 0;
    // Key ids found by parent and folded name ("PARENT\\NAME"), valid while the store's stamp is
    // `key_ids_stamp`: a path walked again, as every load and save walks the settings root, costs
    // no statement while the store is unchanged.
    Stamp key_ids_stamp;
    std::unordered_map<std::string, int64_t> key_ids;
};

// Locking and fork (registry_lock.cpp).

// The process's registry state. Never destroyed: registry calls may come from other threads
// while the process exits.
Globals &State();
// Opens the process's connection when it has none (or one from before a fork). A call that
// writes needs the store file itself, and lays a new store out when there is none; one that
// only reads is served by a stand-in while there is no store file, and moves to the file once
// another process has made it.
LONG EnsureOpen(Globals &g, bool for_writing = false);
// Tells the host what stopped the calling thread's last open of the store, in one line naming
// the store file, when an open failed since the last time it was told. Called once the
// registry's lock is let go: the host's handler may call the library.
void TellOpenFailure() noexcept;
// Tells the host, in one line naming the store file, that the calling thread's last write was
// saved without its history for a full disk, when it was (registry_history.cpp). Called once the
// registry's lock is let go, as TellOpenFailure.
void TellHistoryLoss() noexcept;

// Read batches (registry_cache.cpp): whether the calling thread's reads go on past the call.
bool InReadBatch();

// Runs `body` under the registry's lock; C++ failures become Win32 codes at the boundary. The
// call's read transaction ends with it, unless the thread's read batch goes on. A store that
// could not be opened is told to the host after the lock is let go.
template <typename Body>
LONG Locked(Body body) noexcept {
    LONG result = ERROR_SUCCESS;
    try {
        Globals &g = State();
        std::lock_guard lock(g.mutex);
        struct EndCallRead {
            Store &store;
            ~EndCallRead() {
                if (!InReadBatch()) EndRead(store);
            }
        } end_read{g.store};
        result = body(g);
    } catch (const std::bad_alloc &) {
        result = ERROR_NOT_ENOUGH_MEMORY;
    } catch (...) {
        result = ERROR_INVALID_PARAMETER;
    }
    TellOpenFailure();
    TellHistoryLoss();
    return result;
}

// Handles and their uncommitted writes (registry_handles.cpp).

// The state of `key`: HKEY_CURRENT_USER's or an open handle's; ERROR_INVALID_HANDLE otherwise.
LONG Resolve(Globals &g, HKEY key, KeyHandle **handle);
// Commits what was written through the handle in one transaction. All of it becomes visible at
// once, or, when the commit fails or the process dies first, none of it. On failure the writes
// stay pending, to be tried again, except when the key the handle was to make has been made by
// someone else (ERROR_ALREADY_EXISTS): then they are dropped, as they were meant for a new key.
LONG CommitPending(Globals &g, KeyHandle &handle);
// Registers a new handle under a number no handle of the process had before.
HKEY Adopt(Globals &g, std::unique_ptr<KeyHandle> handle);
// A new handle to the key `id`.
LONG NewHandle(Globals &g, int64_t id, HKEY *result);
// Sets the key's last-write time to now, within the caller's transaction.
LONG TouchKey(Store &store, int64_t id);
// Deletes the key `id` and its values within the caller's transaction, recording the deletions
// below the settings root into `record`. The root and a key with subkeys are refused
// (ERROR_ACCESS_DENIED).
class ChangeRecord;
LONG DeleteKeyNow(Store &store, ChangeRecord &record, int64_t id);

// Key lookups, kept key ids and read batches (registry_cache.cpp).

// The call's statements share one read transaction, which ends with the call; within a read
// batch of the calling thread, with the batch's. Writes end it before they begin.
void StartRead(Globals &g);
// ERROR_SUCCESS when the key exists, ERROR_KEY_DELETED when it does not.
LONG CheckKey(Store &store, int64_t id);
// The id of the subkey `name` of `parent`; ERROR_FILE_NOT_FOUND when there is none.
LONG FindChild(Store &store, int64_t parent, std::string_view name, int64_t *child);
// FindChild through the key ids kept while the store is unchanged.
LONG FindChildKept(Globals &g, int64_t parent, std::string_view name, int64_t *child);
// Follows `parts` down from `start`. A missing first step under a deleted key is reported as
// the deletion.
LONG FollowPath(Globals &g, int64_t start, const std::vector<std::string_view> &parts, int64_t *id);
// The store's stamp now; asked of the store once per read transaction.
LONG CurrentStamp(Globals &g, Stamp *stamp);

// Brings the handle's list up to date: read afresh at index 0 or when never read; otherwise
// served as it is, so that enumerating n entries reads the list once. The list is read in one
// statement, so an enumeration from index 0 walks one consistent state of the key, whatever
// other handles and processes commit meanwhile.
template <typename Entry, typename Load>
LONG Refresh(Globals &g, Snapshot<Entry> &snapshot, DWORD index, int64_t id, Load load) {
    if (index != 0 && snapshot.taken) return ERROR_SUCCESS;
    Stamp stamp;
    if (LONG err = CurrentStamp(g, &stamp)) return err;
    snapshot.taken = false;
    snapshot.entries.clear();
    if (LONG err = load(snapshot.entries)) return err;
    if (snapshot.entries.empty()) {
        if (LONG err = CheckKey(g.store, id)) return err;
    }
    snapshot.stamp = stamp;
    snapshot.taken = true;
    return ERROR_SUCCESS;
}

}  // namespace tovarine::registry
