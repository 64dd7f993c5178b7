// The registry stand-in: keys and values kept in an SQLite store shared by every process of the
// user, behind the Win32 registry calls with their semantics and error codes. This file holds
// those calls; what they are built from is listed in registry_internal.h, the store itself is
// in registry_db.h.
//
// The store is the file named by TOVARINE_REGISTRY, else
// ${XDG_CONFIG_HOME:-$HOME/.config}/tovarine/registry.db; a TOVARINE_REGISTRY that is set but
// empty gives ERROR_CANTOPEN. The name is read when the first call of the process opens the
// store. The first write makes the folders leading to it (mode 0700) and the file (mode 0600)
// when missing, each new folder, the folder above them and the new file's folder synced, and
// lays a new store out, also in an empty file; a call that only reads makes nothing: while
// there is no store file (none, a dangling link, an empty file) an empty store in memory
// answers it. A store path that is a symbolic link of another user's (not root's) is refused
// with ERROR_ACCESS_DENIED. A failed open is not remembered: the next call tries again, and
// each failure is told to the host's diagnostic handler (or standard error).
//
// Journal: WAL with synchronous=FULL, and after every commit a checkpoint that copies the whole
// log into the store file, retried for up to 63 ms while another connection still reads an
// older state: once a call has returned, the store file alone holds every value unless another
// program kept a read open longer than that (then the next commit, or the last close, finishes
// the copy). The log is kept within 1 MiB once a write ends (LimitLog). Values set through a
// key handle other than HKEY_CURRENT_USER, and a key that
// RegCreateKeyExA has to make, are gathered in the handle and committed together, in one
// transaction, at RegFlushKey or RegCloseKey (or before any other call through that handle);
// until then other handles do not see them. A key to be made is made by one handle only: a
// commit that finds it made meanwhile (by another handle or process) fails with
// ERROR_ALREADY_EXISTS and writes nothing of its handle. A process killed at any point leaves
// each handle's writes wholly done or not at all. Other writes (through HKEY_CURRENT_USER,
// deletions) are one transaction each. Readers in other processes are not held up by a writer,
// and writers wait for each other (kBusyTimeoutMs, 10 s). The reads of a call are one read
// transaction, and none stays open after a call returns, except within a thread's read batch
// (BeginReadBatch): its calls share one read transaction until the thread pauses or ends the
// batch, writes, or another thread calls. Read-modify-write sequences start with BEGIN IMMEDIATE
// so that two processes cannot interleave.
//
// Handles are numbers, each handed out once per process; a closed one stays unknown
// (ERROR_INVALID_HANDLE). No connection crosses fork(): the connection is closed before it, and
// parent and child each open their own at their next call; open handles and their uncommitted
// writes are kept by both.
//
// Errors of the store:
//   ERROR_CANTOPEN          the file or a folder on its way cannot be made or opened;
//   ERROR_BADDB             the file is not an SQLite database, or one of another layout;
//   ERROR_REGISTRY_CORRUPT  the database is damaged;
//   ERROR_CANTREAD / ERROR_CANTWRITE  other failures reading or writing (I/O, disk full,
//                           read-only file, lock wait timed out).
// A file that is not a store is only read, never written: nothing that writes (journal mode,
// schema) is issued before a read has found a database with a valid header.
//
// Keys: one table of keys (parent id, name as created, upper-cased name for matching and
// ordering, class, last-write time as a FILETIME count) and one of values (key id, name,
// upper-cased name, type, bytes). Names match ASCII case-insensitively and subkeys enumerate in
// upper-case byte order, as Windows compares names. Values enumerate in the order they were first
// set; an enumeration walks the list read at its index 0. Ids are never reused, so a handle to a
// deleted key gives ERROR_KEY_DELETED. The ids of keys found by name are kept while the store is
// unchanged (its data version and this process's commits), so that a path walked again costs
// no statement; a key's values are listed through an index in the order they were first set.
//
// Paths are backslash-separated. NULL or "" names the key itself (for HKEY_CURRENT_USER,
// RegOpenKeyExA then hands back HKEY_CURRENT_USER itself); one trailing backslash is ignored; a
// leading backslash gives ERROR_BAD_PATHNAME, an empty name between two backslashes and a name
// longer than 255 characters give ERROR_INVALID_PARAMETER. A value's name may have 16,383
// characters. Names are counted in characters (registry_names::NameLength): UTF-16 units of a
// name in UTF-8, else bytes.
#include <sqlite3.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "module/registry_names.h"
#include "platform/posix/registry_history.h"
#include "platform/posix/registry_internal.h"
#include "platform/posix/win32.h"

using namespace tovarine::registry;  // the store (registry_db.h) and its parts
                                     // (registry_internal.h)
using tovarine::registry_names::kMaxKeyNameChars;
using tovarine::registry_names::kMaxValueNameChars;
using tovarine::registry_names::NameLength;

namespace {

constexpr DWORD kRegMultiSz = 7;

// Checks the handle and opens the store: the start of every call that reads or writes. The
// handle's own uncommitted writes are committed first, so that the call sees them in the store.
// A call that `reads` starts its read transaction.
LONG StartCall(Globals &g, HKEY key, KeyHandle **handle, bool reads = true) {
    if (LONG err = Resolve(g, key, handle)) return err;
    if (LONG err = EnsureOpen(g)) return err;
    if ((*handle)->HasPending()) {
        if (LONG err = CommitPending(g, **handle)) return err;
    }
    if (reads) StartRead(g);
    return ERROR_SUCCESS;
}

// The start of the calls that work on a handle's uncommitted writes: no commit first.
LONG StartBufferedCall(Globals &g, HKEY key, KeyHandle **handle) {
    if (LONG err = Resolve(g, key, handle)) return err;
    return EnsureOpen(g);
}

LONG SplitPath(const char *path, std::vector<std::string_view> *parts) {
    parts->clear();
    if (path == nullptr || *path == '\0') return ERROR_SUCCESS;
    std::string_view rest(path);
    if (rest.front() == '\\') return ERROR_BAD_PATHNAME;
    if (rest.back() == '\\') rest.remove_suffix(1);
    for (;;) {
        const size_t cut = rest.find('\\');
        const std::string_view part = rest.substr(0, cut);
        if (part.empty() || NameLength(part) > kMaxKeyNameChars) return ERROR_INVALID_PARAMETER;
        parts->push_back(part);
        if (cut == std::string_view::npos) return ERROR_SUCCESS;
        rest.remove_prefix(cut + 1);
    }
}

// Copies `text` and its NUL into a buffer of *chars characters, or gives ERROR_MORE_DATA.
LONG CopyName(const std::string &text, LPSTR buffer, LPDWORD chars) {
    if (text.size() >= *chars) return ERROR_MORE_DATA;
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    *chars = static_cast<DWORD>(text.size());
    return ERROR_SUCCESS;
}

bool IsStringType(DWORD type) {
    return type == REG_SZ || type == REG_EXPAND_SZ || type == kRegMultiSz;
}

// Win32 data rules: size only when `data` is null, ERROR_MORE_DATA with the size needed when the
// buffer is short. A string stored without its NUL is handed back terminated when there is room.
LONG CopyData(DWORD type, const std::vector<BYTE> &value, LPBYTE data, LPDWORD bytes) {
    if (bytes == nullptr) return ERROR_SUCCESS;
    const auto size = static_cast<DWORD>(value.size());
    if (data == nullptr) {
        *bytes = size;
        return ERROR_SUCCESS;
    }
    if (*bytes < size) {
        *bytes = size;
        return ERROR_MORE_DATA;
    }
    if (size) std::memcpy(data, value.data(), size);
    if (IsStringType(type) && (size == 0 || value.back() != 0) && *bytes > size) data[size] = 0;
    *bytes = size;
    return ERROR_SUCCESS;
}

}  // namespace

LONG RegOpenKeyExA(HKEY key, LPCSTR sub_key, DWORD, REGSAM, PHKEY result) {
    if (result == nullptr) return ERROR_INVALID_PARAMETER;
    *result = nullptr;  // what a failed call leaves
    return Locked([&](Globals &g) -> LONG {
        KeyHandle *handle = nullptr;
        std::vector<std::string_view> parts;
        if (LONG err = SplitPath(sub_key, &parts)) return err;
        if (LONG err = StartCall(g, key, &handle)) return err;
        int64_t id = 0;
        if (LONG err = FollowPath(g, handle->id, parts, &id)) return err;
        if (parts.empty() && key == HKEY_CURRENT_USER) {
            *result = HKEY_CURRENT_USER;
            return ERROR_SUCCESS;
        }
        return NewHandle(g, id, result);
    });
}

LONG RegCreateKeyExA(HKEY key, LPCSTR sub_key, DWORD, LPSTR key_class, DWORD, REGSAM, void *,
                     PHKEY result, LPDWORD disposition) {
    if (result == nullptr || sub_key == nullptr) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    return Locked([&](Globals &g) -> LONG {
        KeyHandle *handle = nullptr;
        std::vector<std::string_view> parts;
        if (LONG err = SplitPath(sub_key, &parts)) return err;
        if (LONG err = StartCall(g, key, &handle)) return err;
        Store &store = g.store;
        auto opened = std::make_unique<KeyHandle>();
        if (parts.empty()) {
            if (LONG err = CheckKey(store, handle->id)) return err;
            opened->id = handle->id;
        }
        // Follows the path as far as it exists; the rest is made when the handle's writes are
        // committed, together with them, so that a new key never shows up half-written.
        int64_t at = handle->id;
        for (size_t i = 0; i < parts.size(); ++i) {
            int64_t child = 0;
            const LONG err = FindChildKept(g, at, parts[i], &child);
            if (err == ERROR_FILE_NOT_FOUND) {
                if (i == 0) {
                    if (LONG gone = CheckKey(store, at)) return gone;
                }
                opened->parent = at;
                for (size_t k = i; k < parts.size(); ++k) opened->to_make.emplace_back(parts[k]);
                opened->key_class = key_class != nullptr ? key_class : "";
                break;
            }
            if (err) return err;
            at = child;
            if (i + 1 == parts.size()) opened->id = at;
        }
        const bool created = opened->id == 0;
        *result = Adopt(g, std::move(opened));
        if (disposition) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
        return ERROR_SUCCESS;
    });
}

// Commits the handle's writes, then lets go of it. A commit that fails is reported, and the
// writes are dropped with the handle.
LONG RegCloseKey(HKEY key) {
    if (key == HKEY_CURRENT_USER) return ERROR_SUCCESS;
    return Locked([&](Globals &g) -> LONG {
        const auto found = g.handles.find(reinterpret_cast<uintptr_t>(key));
        if (found == g.handles.end()) return ERROR_INVALID_HANDLE;
        KeyHandle &handle = *found->second;
        LONG err = ERROR_SUCCESS;
        if (handle.HasPending()) {
            err = EnsureOpen(g);
            if (err == ERROR_SUCCESS) err = CommitPending(g, handle);
        }
        g.handles.erase(found);
        return err;
    });
}

LONG RegFlushKey(HKEY key) {
    return Locked([&](Globals &g) -> LONG {
        KeyHandle *handle = nullptr;
        if (LONG err = StartBufferedCall(g, key, &handle)) return err;
        return CommitPending(g, *handle);
    });
}

LONG RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, LPDWORD name_chars, LPDWORD reserved,
                   LPSTR key_class, LPDWORD class_chars, PFILETIME last_write) {
    if (name == nullptr || name_chars == nullptr || reserved != nullptr ||
        (key_class != nullptr && class_chars == nullptr))
        return ERROR_INVALID_PARAMETER;
    return Locked([&](Globals &g) -> LONG {
        KeyHandle *handle = nullptr;
        if (LONG err = StartCall(g, key, &handle)) return err;
        auto load = [&](std::vector<SubkeyEntry> &entries) -> LONG {
            Query query(g.store, kListKeys);
            query.Bind(1, handle->id);
            int rc;
            while ((rc = query.Step()) == SQLITE_ROW)
                entries.push_back({query.Text(0), query.Text(1), query.Int(2)});
            return rc == SQLITE_DONE ? ERROR_SUCCESS : MapError(rc, false);
        };
        if (LONG err = Refresh(g, handle->subkeys, index, handle->id, load)) return err;
        if (index >= handle->subkeys.entries.size()) return ERROR_NO_MORE_ITEMS;
        const SubkeyEntry &entry = handle->subkeys.entries[index];
        if (entry.name.size() >= *name_chars) return ERROR_MORE_DATA;
        if (key_class && entry.key_class.size() >= *class_chars) return ERROR_MORE_DATA;
        CopyName(entry.name, name, name_chars);
        if (key_class) CopyName(entry.key_class, key_class, class_chars);
        if (last_write) {
            const auto time = static_cast<uint64_t>(entry.last_write);
            last_write->dwLowDateTime = static_cast<uint32_t>(time);
            last_write->dwHighDateTime = static_cast<uint32_t>(time >> 32);
        }
        return ERROR_SUCCESS;
    });
}

LONG RegEnumValueA(HKEY key, DWORD index, LPSTR name, LPDWORD name_chars, LPDWORD reserved,
                   LPDWORD type, LPBYTE data, LPDWORD data_bytes) {
    if (name == nullptr || name_chars == nullptr || reserved != nullptr ||
        (data != nullptr && data_bytes == nullptr))
        return ERROR_INVALID_PARAMETER;
    return Locked([&](Globals &g) -> LONG {
        KeyHandle *handle = nullptr;
        if (LONG err = StartCall(g, key, &handle)) return err;
        auto load = [&](std::vector<ValueEntry> &entries) -> LONG {
            Query query(g.store, kListValues);
            query.Bind(1, handle->id);
            int rc;
            while ((rc = query.Step()) == SQLITE_ROW)
                entries.push_back({query.Text(0), static_cast<DWORD>(query.Int(1)), query.Blob(2)});
            return rc == SQLITE_DONE ? ERROR_SUCCESS : MapError(rc, false);
        };
        if (LONG err = Refresh(g, handle->values, index, handle->id, load)) return err;
        if (index >= handle->values.entries.size()) return ERROR_NO_MORE_ITEMS;
        const ValueEntry &entry = handle->values.entries[index];
        if (LONG err = CopyName(entry.name, name, name_chars)) return err;
        if (type) *type = entry.type;
        return CopyData(entry.type, entry.data, data, data_bytes);
    });
}

LONG RegQueryValueExA(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                      LPDWORD data_bytes) {
    if (reserved != nullptr || (data != nullptr && data_bytes == nullptr))
        return ERROR_INVALID_PARAMETER;
    return Locked([&](Globals &g) -> LONG {
        KeyHandle *handle = nullptr;
        if (LONG err = StartBufferedCall(g, key, &handle)) return err;
        const std::string folded = Fold(name ? name : "");
        if (handle->delete_key) return ERROR_KEY_DELETED;
        if (const auto at = handle->pending_at.find(folded); at != handle->pending_at.end()) {
            const PendingValue &value = handle->pending[at->second];
            if (value.remove) return ERROR_FILE_NOT_FOUND;
            if (type) *type = value.type;
            return CopyData(value.type, value.data, data, data_bytes);
        }
        if (handle->id == 0) return ERROR_FILE_NOT_FOUND;  // a key still to be made holds no more
        StartRead(g);
        Query query(g.store, kGetValue);
        const int rc = query.Bind(1, handle->id).Bind(2, folded).Step();
        if (rc == SQLITE_DONE) {
            const LONG err = CheckKey(g.store, handle->id);
            return err ? err : ERROR_FILE_NOT_FOUND;
        }
        if (rc != SQLITE_ROW) return MapError(rc, false);
        const auto stored_type = static_cast<DWORD>(query.Int(0));
        if (type) *type = stored_type;
        return CopyData(stored_type, query.Blob(1), data, data_bytes);
    });
}

// Through HKEY_CURRENT_USER itself a value is committed at once; through any other handle it
// joins the handle's writes, committed at RegFlushKey or RegCloseKey.
LONG RegSetValueExA(HKEY key, LPCSTR name, DWORD, DWORD type, const BYTE *data, DWORD data_bytes) {
    const std::string_view value_name(name ? name : "");
    if ((data == nullptr && data_bytes != 0) || data_bytes > INT32_MAX ||
        NameLength(value_name) > kMaxValueNameChars)
        return ERROR_INVALID_PARAMETER;
    return Locked([&](Globals &g) -> LONG {
        KeyHandle *handle = nullptr;
        if (LONG err = StartBufferedCall(g, key, &handle)) return err;
        // A key deleted meanwhile is reported by the commit.
        if (handle != &g.root) {
            std::string folded = Fold(value_name);
            std::vector<BYTE> bytes(data, data + data_bytes);
            const auto [at, added] = handle->pending_at.emplace(folded, handle->pending.size());
            if (!added) {
                PendingValue &value = handle->pending[at->second];  // keeps its first name
                value.remove = false;
                value.type = type;
                value.data = std::move(bytes);
                return ERROR_SUCCESS;
            }
            handle->pending.push_back(
                {std::string(value_name), std::move(folded), type, std::move(bytes)});
            return ERROR_SUCCESS;
        }
        if (LONG err = EnsureOpen(g, true)) return err;
        Transaction txn(g.store);
        if (LONG err = txn.Begin()) return err;
        if (LONG err = CheckKey(g.store, handle->id)) return err;
        const int rc = Query(g.store, kSetValue)
                           .Bind(1, handle->id)
                           .Bind(2, value_name)
                           .Bind(3, Fold(value_name))
                           .Bind(4, static_cast<int64_t>(type))
                           .BindBlob(5, data, data_bytes)
                           .Run();
        if (rc != SQLITE_DONE) return MapError(rc, true);
        if (LONG err = TouchKey(g.store, handle->id)) return err;
        return txn.Commit();
    });
}

LONG RegDeleteKeyA(HKEY key, LPCSTR sub_key) {
    if (sub_key == nullptr) return ERROR_INVALID_PARAMETER;
    return Locked([&](Globals &g) -> LONG {
        KeyHandle *handle = nullptr;
        std::vector<std::string_view> parts;
        if (LONG err = SplitPath(sub_key, &parts)) return err;
        if (LONG err = StartCall(g, key, &handle, false)) return err;
        Store &store = g.store;
        Transaction txn(store);
        if (LONG err = txn.Begin()) return err;
        int64_t id = 0;
        if (LONG err = FollowPath(g, handle->id, parts, &id)) return err;
        ChangeRecord record(store);
        if (LONG err = DeleteKeyNow(store, record, id)) return err;
        if (LONG err = record.Write()) return err;
        return txn.Commit();
    });
}

LONG RegDeleteValueA(HKEY key, LPCSTR name) {
    return Locked([&](Globals &g) -> LONG {
        KeyHandle *handle = nullptr;
        if (LONG err = StartCall(g, key, &handle, false)) return err;
        Store &store = g.store;
        Transaction txn(store);
        if (LONG err = txn.Begin()) return err;
        if (LONG err = CheckKey(store, handle->id)) return err;
        const std::string folded = Fold(name ? name : "");
        ChangeRecord record(store);
        const std::string *path = nullptr;
        if (LONG err = record.PathOf(handle->id, &path)) return err;
        if (path) {
            Query old(store, kGetValueAndName);
            const int rc = old.Bind(1, handle->id).Bind(2, folded).Step();
            if (rc == SQLITE_DONE) return ERROR_FILE_NOT_FOUND;
            if (rc != SQLITE_ROW) return MapError(rc, false);
            const ChangeRecord::Value before{static_cast<DWORD>(old.Int(0)),
                                             static_cast<const BYTE *>(old.BlobData(1)),
                                             old.Bytes(1)};
            record.ValueChanged(*path, old.Text(2), &before, nullptr);
        }
        const int rc = Query(store, kDeleteValue).Bind(1, handle->id).Bind(2, folded).Run();
        if (rc != SQLITE_DONE) return MapError(rc, true);
        if (sqlite3_changes(store.db) == 0) return ERROR_FILE_NOT_FOUND;
        if (LONG err = TouchKey(store, handle->id)) return err;
        if (LONG err = record.Write()) return err;
        return txn.Commit();
    });
}
