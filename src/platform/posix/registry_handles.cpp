// The registry's key handles and their uncommitted writes: numbering new handles, writing what
// was set through a handle (the keys it is to make, then its values) in one transaction, and
// committing, dropping or discarding those writes, one handle at a time or several together.
#include <sqlite3.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "module/registry_names.h"
#include "platform/posix/registry_history.h"
#include "platform/posix/registry_internal.h"
#include "platform/posix/registry_store.h"

namespace tovarine::registry {

using registry_names::kMaxValueNameChars;
using registry_names::NameLength;

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

// The values the key `id` holds now, for the history: the connection's known values when they
// are still those of the store (nothing committed since by this process or another), else read
// once (none for a key made in this transaction). The writes that follow keep them up to date.
LONG KnownValuesOf(Store &store, int64_t id, bool new_key, KnownValues **known) {
    Query version(store, kDataVersion);
    const int rc = version.Step();
    if (rc != SQLITE_ROW) return MapError(rc, false);
    const int64_t data_version = version.Int(0);
    KnownValues &kept = store.known;
    store.known_written = true;
    *known = &kept;
    if (kept.id == id && kept.epoch == store.epoch && kept.data_version == data_version)
        return ERROR_SUCCESS;
    kept.id = 0;
    kept.values.clear();
    if (!new_key) {
        Query query(store, kKnownValues);
        query.Bind(1, id);
        int step;
        while ((step = query.Step()) == SQLITE_ROW) {
            kept.values.insert_or_assign(
                query.Text(1),
                KnownValue{query.Text(0), static_cast<DWORD>(query.Int(2)), query.Blob(3)});
        }
        if (step != SQLITE_DONE) return MapError(step, false);
    }
    kept.id = id;
    kept.epoch = store.epoch;
    kept.data_version = data_version;
    return ERROR_SUCCESS;
}

// Records a pending write of the key at `path` against what the key holds (`known`), and
// brings `known` up to date with it. A value set to what it holds already is no change.
void RecordValue(ChangeRecord &record, const std::string &path, KnownValues &known,
                 const PendingValue &value) {
    const auto found = known.values.find(value.folded);
    const bool had = found != known.values.end();
    if (value.remove) {
        if (!had) return;
        const ChangeRecord::Value before{found->second.type, found->second.data.data(),
                                         found->second.data.size()};
        record.ValueChanged(path, found->second.name, &before, nullptr);
        known.values.erase(found);
        return;
    }
    if (had) {
        KnownValue &now = found->second;
        if (now.type == value.type && now.data == value.data) return;
        const ChangeRecord::Value before{now.type, now.data.data(), now.data.size()};
        const ChangeRecord::Value after{value.type, value.data.data(), value.data.size()};
        record.ValueChanged(path, now.name, &before, &after);
        now.type = value.type;
        now.data = value.data;
        return;
    }
    const ChangeRecord::Value after{value.type, value.data.data(), value.data.size()};
    record.ValueChanged(path, value.name, nullptr, &after);
    known.values.emplace(value.folded, KnownValue{value.name, value.type, value.data});
}

// Writes the handle's uncommitted key and values within the caller's transaction: the key and
// the keys on the way to it when they are still to be made, then every value set or deleted
// through it (or the key's deletion), each change below the settings root into `record`.
// `*key_id` gets the key's id.
LONG WritePending(Store &store, const KeyHandle &handle, ChangeRecord &record, int64_t *key_id) {
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
            const std::string *made = nullptr;
            if (LONG path_err = record.PathOf(id, &made)) return path_err;
            if (made) record.KeyMade(*made);
            if (!created) {
                if (LONG touch = TouchKey(store, parent)) return touch;
            }
            created = true;
        }
    } else if (LONG err = CheckKey(store, id)) {
        return err;
    }
    *key_id = id;
    if (handle.delete_key) return DeleteKeyNow(store, record, id);

    const std::vector<PendingValue> &pending = handle.pending;
    const bool new_key = handle.id == 0;
    const std::string *path = nullptr;
    if (!pending.empty()) {
        if (LONG err = record.PathOf(id, &path)) return err;
    }
    if (path) {
        KnownValues *known = nullptr;
        if (LONG err = KnownValuesOf(store, id, new_key, &known)) return err;
        for (const PendingValue &value : pending) RecordValue(record, *path, *known, value);
    }
    // Each name is set once (`pending_at`), so a statement that writes many values never writes
    // one twice. Those left over are written one by one; a key the handle was to make has just
    // been made (or the write was refused above), so its values are all new. Deletions are
    // written one by one, with the values around them.
    const bool deletes = std::any_of(pending.begin(), pending.end(),
                                     [](const PendingValue &value) { return value.remove; });
    size_t done = 0;
    for (; !deletes && pending.size() - done >= kValuesPerSet; done += kValuesPerSet) {
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
    for (; done < pending.size(); ++done) {
        const PendingValue &value = pending[done];
        if (value.remove) {
            const int rc = Query(store, kDeleteValue).Bind(1, id).BindStatic(2, value.folded).Run();
            if (rc != SQLITE_DONE) return MapError(rc, true);
            continue;
        }
        if (LONG err = WriteValue(store, id, value, new_key)) return err;
    }
    if (!handle.pending.empty()) {
        if (LONG err = TouchKey(store, id)) return err;
    }
    return ERROR_SUCCESS;
}

// After the commit: the handle addresses its key, with nothing left to write.
void ClearPending(KeyHandle &handle, int64_t id) {
    handle.id = handle.delete_key ? -1 : id;  // a key deleted is no key for its handle
    handle.delete_key = false;
    handle.to_make.clear();
    handle.key_class.clear();
    handle.pending.clear();
    handle.pending_at.clear();
}

// Drops what a handle had still to write; a key it was still to make is no key at all for it
// (id -1 is never given), so its later calls give ERROR_KEY_DELETED.
void DropPending(KeyHandle &handle) {
    handle.delete_key = false;  // the key it was to delete is still there
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

LONG DeleteKeyNow(Store &store, ChangeRecord &record, int64_t id) {
    if (id == kRootId) return ERROR_ACCESS_DENIED;
    {
        Query children(store, kHasChild);
        const int rc = children.Bind(1, id).Step();
        if (rc == SQLITE_ROW) return ERROR_ACCESS_DENIED;
        if (rc != SQLITE_DONE) return MapError(rc, false);
    }
    int64_t parent = 0;
    {
        Query query(store, kParentOf);
        const int rc = query.Bind(1, id).Step();
        if (rc == SQLITE_DONE) return ERROR_KEY_DELETED;
        if (rc != SQLITE_ROW) return MapError(rc, false);
        parent = query.Int(0);
    }
    const std::string *path = nullptr;
    if (LONG err = record.PathOf(id, &path)) return err;
    if (path) {
        Query query(store, kListValues);
        query.Bind(1, id);
        int rc;
        while ((rc = query.Step()) == SQLITE_ROW) {
            const ChangeRecord::Value before{static_cast<DWORD>(query.Int(1)),
                                             static_cast<const BYTE *>(query.BlobData(2)),
                                             query.Bytes(2)};
            record.ValueChanged(*path, query.Text(0), &before, nullptr);
        }
        if (rc != SQLITE_DONE) return MapError(rc, false);
        record.KeyDeleted(*path);
    }
    int rc = Query(store, kDeleteValues).Bind(1, id).Run();
    if (rc == SQLITE_DONE) rc = Query(store, kDeleteKey).Bind(1, id).Run();
    if (rc != SQLITE_DONE) return MapError(rc, true);
    return TouchKey(store, parent);
}

LONG CommitPending(Globals &g, KeyHandle &handle) {
    if (!handle.HasPending()) return ERROR_SUCCESS;
    if (LONG err = EnsureOpen(g, true)) return err;
    int64_t id = 0;
    const LONG err = WithRoomFromHistory(g.store, [&](Room room, bool *full) -> LONG {
        Transaction txn(g.store);
        ChangeRecord record(g.store, room);
        LONG step = txn.Begin();
        if (step == ERROR_SUCCESS) step = WritePending(g.store, handle, record, &id);
        if (step == ERROR_SUCCESS) step = record.Write();
        if (step == ERROR_SUCCESS) step = txn.Commit();
        *full = step != ERROR_SUCCESS && !record.Empty() && DiskFull(g.store);
        return step;
    });
    if (err == ERROR_ALREADY_EXISTS) DropPending(handle);
    if (err != ERROR_SUCCESS) return err;
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

LONG DeleteValueLater(HKEY key, std::string_view name) {
    if (key == HKEY_CURRENT_USER || NameLength(name) > kMaxValueNameChars)
        return ERROR_INVALID_PARAMETER;
    return Locked([&](Globals &g) -> LONG {
        KeyHandle *handle = nullptr;
        if (LONG err = Resolve(g, key, &handle)) return err;
        std::string folded = Fold(name);
        const auto [at, added] = handle->pending_at.emplace(folded, handle->pending.size());
        if (!added) {
            PendingValue &value = handle->pending[at->second];
            value.remove = true;
            value.data.clear();
            return ERROR_SUCCESS;
        }
        handle->pending.push_back({std::string(name), std::move(folded), REG_NONE, {}, true});
        return ERROR_SUCCESS;
    });
}

LONG DeleteKeyLater(HKEY key) {
    if (key == HKEY_CURRENT_USER) return ERROR_INVALID_PARAMETER;
    return Locked([&](Globals &g) -> LONG {
        KeyHandle *handle = nullptr;
        if (LONG err = Resolve(g, key, &handle)) return err;
        handle->delete_key = true;
        handle->pending.clear();
        handle->pending_at.clear();
        return ERROR_SUCCESS;
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
        const LONG err = WithRoomFromHistory(g.store, [&](Room room, bool *full) -> LONG {
            Transaction txn(g.store);
            ChangeRecord record(g.store, room);
            LONG step = txn.Begin();
            for (size_t i = 0; step == ERROR_SUCCESS && i < handles.size(); ++i) {
                ids[i] = handles[i]->id;
                if (handles[i]->HasPending())
                    step = WritePending(g.store, *handles[i], record, &ids[i]);
            }
            if (step == ERROR_SUCCESS) step = record.Write();
            if (step == ERROR_SUCCESS) step = txn.Commit();
            *full = step != ERROR_SUCCESS && !record.Empty() && DiskFull(g.store);
            return step;
        });
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
