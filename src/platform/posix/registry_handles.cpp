// The registry's key handles and their uncommitted writes: numbering new handles, writing what
// was set through a handle (the keys it is to make, then its values) in one transaction, and
// committing, dropping or discarding those writes, one handle at a time or several together.
#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/posix/registry_internal.h"
#include "platform/posix/registry_store.h"

namespace tovarine::registry {

namespace {

// Handles are numbers handed out once each, never addresses: a handle that was closed stays
// unknown for good, even when a later handle's state is allocated at the same address. They
// step by 4 from kFirstHandle and skip the predefined keys (0x80000000-0x800000FF).
constexpr uintptr_t kHandleStep = 4;
constexpr uintptr_t kPredefinedFirst = 0x80000000u;
constexpr uintptr_t kPredefinedEnd = 0x80000100u;

// Writes one of a handle's values: into a key made in this transaction, as a new value; into an
// existing key, in place of the value of that name (which keeps its name and its place in the
// enumeration), else as a new one.
LONG WriteValue(Store &store, int64_t id, const PendingValue &value, bool new_key) {
    if (!new_key) {
        const int rc = Query(store, kUpdateValue)
                           .Bind(1, id)
                           .BindStatic(2, value.folded)
                           .Bind(3, static_cast<int64_t>(value.type))
                           .BindStatic(4, value.data)
                           .Run();
        if (rc != SQLITE_DONE) return MapError(rc, true);
        if (sqlite3_changes(store.db) != 0) return ERROR_SUCCESS;
    }
    const int rc = Query(store, kInsertValue)
                       .Bind(1, id)
                       .BindStatic(2, value.name)
                       .BindStatic(3, value.folded)
                       .Bind(4, static_cast<int64_t>(value.type))
                       .BindStatic(5, value.data)
                       .Run();
    return rc == SQLITE_DONE ? ERROR_SUCCESS : MapError(rc, true);
}

// Writes the handle's uncommitted key and values within the caller's transaction: the key and
// the keys on the way to it when they are still to be made, then every value set through it.
// `*key_id` gets the key's id.
LONG WritePending(Store &store, const KeyHandle &handle, int64_t *key_id) {
    const int64_t now = Now();
    int64_t id = handle.id;
    if (id == 0) {
        if (LONG err = CheckKey(store, handle.parent)) return err;
        id = handle.parent;
        bool created = false;
        for (size_t i = 0; i < handle.to_make.size(); ++i) {
            const int64_t parent = id;
            const std::string &part = handle.to_make[i];
            const bool last = i + 1 == handle.to_make.size();
            LONG err = FindChild(store, parent, part, &id);
            if (err == ERROR_SUCCESS) {
                // Made meanwhile by another handle or process: a key on the way is shared, but
                // the key itself is made by one creator only, who alone was told it was new.
                if (last) return ERROR_ALREADY_EXISTS;
                continue;
            }
            if (err != ERROR_FILE_NOT_FOUND) return err;
            const int rc = Query(store, kInsertKey)
                               .Bind(1, parent)
                               .Bind(2, part)
                               .Bind(3, Fold(part))
                               .Bind(4, std::string_view(last ? handle.key_class : std::string()))
                               .Bind(5, now)
                               .Run();
            if (rc != SQLITE_DONE) return MapError(rc, true);
            id = sqlite3_last_insert_rowid(store.db);
            if (!created) {
                if (LONG touch = TouchKey(store, parent)) return touch;
            }
            created = true;
        }
    } else if (LONG err = CheckKey(store, id)) {
        return err;
    }
    // Each name is set once (`pending_at`), so a statement that writes many values never writes
    // one twice. Those left over are written one by one; a key the handle was to make has just
    // been made (or the write was refused above), so its values are all new.
    const std::vector<PendingValue> &pending = handle.pending;
    size_t done = 0;
    for (; pending.size() - done >= kValuesPerSet; done += kValuesPerSet) {
        Query query(store, SetValuesStatement());
        query.Bind(1, id);
        for (size_t row = 0; row < kValuesPerSet; ++row) {
            const PendingValue &value = pending[done + row];
            const int first = static_cast<int>(4 * row + 2);
            query.BindStatic(first, value.name)
                .BindStatic(first + 1, value.folded)
                .Bind(first + 2, static_cast<int64_t>(value.type))
                .BindStatic(first + 3, value.data);
        }
        const int rc = query.Run();
        if (rc != SQLITE_DONE) return MapError(rc, true);
    }
    const bool new_key = handle.id == 0;
    for (; done < pending.size(); ++done) {
        if (LONG err = WriteValue(store, id, pending[done], new_key)) return err;
    }
    if (!handle.pending.empty()) {
        if (LONG err = TouchKey(store, id)) return err;
    }
    *key_id = id;
    return ERROR_SUCCESS;
}

// After the commit: the handle addresses its key, with nothing left to write.
void ClearPending(KeyHandle &handle, int64_t id) {
    handle.id = id;
    handle.to_make.clear();
    handle.key_class.clear();
    handle.pending.clear();
    handle.pending_at.clear();
}

// Drops what a handle had still to write; a key it was still to make is no key at all for it
// (id -1 is never given), so its later calls give ERROR_KEY_DELETED.
void DropPending(KeyHandle &handle) {
    if (handle.HasPending()) ClearPending(handle, handle.id == 0 ? -1 : handle.id);
}

}  // namespace

LONG Resolve(Globals &g, HKEY key, KeyHandle **handle) {
    if (key == HKEY_CURRENT_USER) {
        *handle = &g.root;
        return ERROR_SUCCESS;
    }
    const auto found = g.handles.find(reinterpret_cast<uintptr_t>(key));
    if (found == g.handles.end()) return ERROR_INVALID_HANDLE;
    *handle = found->second.get();
    return ERROR_SUCCESS;
}

LONG TouchKey(Store &store, int64_t id) {
    const int rc = Query(store, kTouchKey).Bind(1, id).Bind(2, Now()).Run();
    return rc == SQLITE_DONE ? ERROR_SUCCESS : MapError(rc, true);
}

LONG CommitPending(Globals &g, KeyHandle &handle) {
    if (!handle.HasPending()) return ERROR_SUCCESS;
    if (LONG err = EnsureOpen(g, true)) return err;
    Transaction txn(g.store);
    if (LONG err = txn.Begin()) return err;
    int64_t id = 0;
    if (LONG err = WritePending(g.store, handle, &id)) {
        if (err == ERROR_ALREADY_EXISTS) DropPending(handle);
        return err;
    }
    if (LONG err = txn.Commit()) return err;
    ClearPending(handle, id);
    return ERROR_SUCCESS;
}

HKEY Adopt(Globals &g, std::unique_ptr<KeyHandle> handle) {
    uintptr_t number = g.next_handle;
    if (number >= kPredefinedFirst && number < kPredefinedEnd) number = kPredefinedEnd;
    if (number < kFirstHandle) number = kFirstHandle;  // wrapped round (32-bit only)
    g.handles.emplace(number, std::move(handle));
    g.next_handle = number + kHandleStep;
    return reinterpret_cast<HKEY>(number);
}

LONG NewHandle(Globals &g, int64_t id, HKEY *result) {
    auto handle = std::make_unique<KeyHandle>();
    handle->id = id;
    *result = Adopt(g, std::move(handle));
    return ERROR_SUCCESS;
}

LONG DiscardKey(HKEY key) {
    if (key == HKEY_CURRENT_USER) return ERROR_SUCCESS;
    return Locked([&](Globals &g) -> LONG {
        return g.handles.erase(reinterpret_cast<uintptr_t>(key)) ? ERROR_SUCCESS
                                                                 : ERROR_INVALID_HANDLE;
    });
}

LONG CommitTogether(const HKEY *keys, size_t count) {
    if (keys == nullptr && count != 0) return ERROR_INVALID_PARAMETER;
    return Locked([&](Globals &g) -> LONG {
        // A handle named twice is written once: a second write of a key it made would find
        // that key made already.
        std::vector<KeyHandle *> handles;
        std::unordered_map<KeyHandle *, size_t> seen;
        for (size_t i = 0; i < count; ++i) {
            if (keys[i] == HKEY_CURRENT_USER) return ERROR_INVALID_PARAMETER;
            KeyHandle *handle = nullptr;
            if (LONG err = Resolve(g, keys[i], &handle)) return err;
            if (seen.emplace(handle, i).second) handles.push_back(handle);
        }
        if (LONG err = EnsureOpen(g, true)) return err;
        std::vector<int64_t> ids(handles.size());
        LONG err = ERROR_SUCCESS;
        {
            Transaction txn(g.store);
            err = txn.Begin();
            for (size_t i = 0; err == ERROR_SUCCESS && i < handles.size(); ++i) {
                ids[i] = handles[i]->id;
                if (handles[i]->HasPending()) err = WritePending(g.store, *handles[i], &ids[i]);
            }
            if (err == ERROR_SUCCESS) err = txn.Commit();
        }
        for (size_t i = 0; i < handles.size(); ++i) {
            if (err == ERROR_SUCCESS) {
                ClearPending(*handles[i], ids[i]);
            } else {
                DropPending(*handles[i]);  // so that closing the handle writes nothing on its own
            }
        }
        return err;
    });
}

}  // namespace tovarine::registry
