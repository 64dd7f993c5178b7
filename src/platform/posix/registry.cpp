// The registry stand-in: keys and values kept in an SQLite store shared by every process of the
// user, behind the Win32 registry calls with their semantics and error codes.
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
// longer than 255 characters give ERROR_INVALID_PARAMETER.
#include <fcntl.h>
#include <pthread.h>
#include <pwd.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "diagnostics.h"
#include "platform/platform.h"
#include "registry_db.h"
#include "registry_store.h"
#include "registry_test_controls.h"
#include "win32.h"

using namespace tovarine::registry;  // the store (registry_db.h)

namespace {

constexpr size_t kMaxKeyNameChars = 255;
constexpr size_t kMaxValueNameChars = 16383;
// Handles are numbers handed out once each, never addresses: a handle that was closed stays
// unknown for good, even when a later handle's state is allocated at the same address. They
// step by 4 from above the null page and skip the predefined keys (0x80000000-0x800000FF).
constexpr uintptr_t kFirstHandle = 0x10000;
constexpr uintptr_t kHandleStep = 4;
constexpr uintptr_t kPredefinedFirst = 0x80000000u;
constexpr uintptr_t kPredefinedEnd = 0x80000100u;
constexpr DWORD kRegMultiSz = 7;

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

// A value set through a handle and not yet committed.
struct PendingValue {
    std::string name;
    std::string folded;
    DWORD type;
    std::vector<BYTE> data;
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
    bool HasPending() const { return id == 0 || !pending.empty(); }
};

struct Globals {
    std::mutex mutex;
    Store store;
    std::unordered_map<uintptr_t, std::unique_ptr<KeyHandle>> handles;  // open handles by number
    uintptr_t next_handle = kFirstHandle;
    KeyHandle root{kRootId, {}, {}, 0, {}, {}, {}, {}};
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

// At most this many key ids are kept; the list starts again when full.
constexpr size_t kMaxKeyIds = 1024;

// The process's id, asked of the kernel once per process rather than on every call: a fork
// clears it in the child.
std::atomic<pid_t> g_pid{0};

pid_t ProcessId() {
    pid_t pid = g_pid.load(std::memory_order_relaxed);
    if (pid == 0) {
        pid = getpid();
        g_pid.store(pid, std::memory_order_relaxed);
    }
    return pid;
}

Globals &State();
void DropConnection(Globals &g);

// fork() and the store. SQLite keeps, per process, which locks its connections hold on each
// file and the shared index of the log; a child that inherited that bookkeeping believes it
// holds locks the kernel gave its parent alone (POSIX record locks are not inherited), so once
// the parent exits other programs see no user of the store and may reset its log under the
// child. And a fork while another thread is inside a registry call would leave the registry's
// lock held for good in the child. So the forking thread takes the registry's lock, waiting for
// any call in progress (no transaction is open between calls), and closes the connection before
// the fork: neither process has one after it, and each opens its own at its next call, taking
// its own locks. A fork thus costs the parent one reopen of the store at its next call.
// Uncommitted writes live in the handles, which both processes keep.
void BeforeFork() {
    Globals &g = State();
    g.mutex.lock();
    DropConnection(g);
}
void AfterForkInParent() { State().mutex.unlock(); }
void AfterForkInChild() {
    g_pid.store(0, std::memory_order_relaxed);
    State().mutex.unlock();
}

// Never destroyed: registry calls may come from other threads while the process exits.
Globals &State() {
    static Globals *const globals = [] {
        auto *made = new Globals;
        pthread_atfork(BeforeFork, AfterForkInParent, AfterForkInChild);
        return made;
    }();
    return *globals;
}

// Lets go of the process's connection. One opened by another process (inherited through a fork
// that ran no fork handlers) is neither used nor closed: closing it could release or reset what
// belongs to that process's files.
void DropConnection(Globals &g) {
    if (g.store.db && g.store.pid != ProcessId()) {
        g.inherited.push_back(g.store.db);
        g.store.db = nullptr;
        g.store.statements.clear();
        ++g.store.epoch;
    }
    CloseConnection(g.store);
}

// How many read batches the calling thread has open (BeginReadBatch less EndReadBatch), and
// whether it has paused them: then each call's reads end with the call again, until a batch
// begins anew or the last one ends.
thread_local int t_read_batches = 0;
thread_local bool t_reads_paused = false;

// Whether the calling thread's reads go on past the call.
bool InReadBatch() { return t_read_batches > 0 && !t_reads_paused; }

// What stopped the calling thread's last open of the store, to be told to the host once the
// registry's lock is let go (the host's handler may call the library).
thread_local LONG t_open_failure = ERROR_SUCCESS;

// Whether a store file has appeared since the stand-in was opened: a file with something in it
// (or a link to one), made by another process's first write.
bool StoreFileAppeared() {
    const std::string path = StorePath();
    struct stat st {};
    return !path.empty() && stat(path.c_str(), &st) == 0 &&
           (!S_ISREG(st.st_mode) || st.st_size > 0);
}

// Opens the process's connection when it has none (or one from before a fork). A call that
// writes needs the store file itself, and lays a new store out when there is none; one that
// only reads is served by a stand-in while there is no store file, and moves to the file once
// another process has made it.
LONG EnsureOpen(Globals &g, bool for_writing = false) {
    Store &store = g.store;
    if (store.db && store.pid == ProcessId()) {
        if (!store.stand_in || (!for_writing && !StoreFileAppeared())) {
            // Another thread's batch does not make this call read its older state.
            if (store.reading && !pthread_equal(store.reader, pthread_self())) EndRead(store);
            return ERROR_SUCCESS;
        }
    }
    DropConnection(g);
    store.pid = ProcessId();
    const LONG err = OpenConnection(store, for_writing);
    if (err != ERROR_SUCCESS) {
        CloseConnection(store);
        t_open_failure = err;
    }
    ++g.store.epoch;
    return err;
}

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

LONG CommitPending(Globals &g, KeyHandle &handle);

// The call's statements share one read transaction, which ends with the call; within a read
// batch of the calling thread, with the batch's. Writes end it before they begin.
void StartRead(Globals &g) { BeginRead(g.store, pthread_self()); }

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
        if (part.empty() || part.size() > kMaxKeyNameChars) return ERROR_INVALID_PARAMETER;
        parts->push_back(part);
        if (cut == std::string_view::npos) return ERROR_SUCCESS;
        rest.remove_prefix(cut + 1);
    }
}

// ERROR_SUCCESS when the key exists, ERROR_KEY_DELETED when it does not.
LONG CheckKey(Store &store, int64_t id) {
    Query query(store, kKeyExists);
    const int rc = query.Bind(1, id).Step();
    if (rc == SQLITE_ROW) return ERROR_SUCCESS;
    return rc == SQLITE_DONE ? ERROR_KEY_DELETED : MapError(rc, false);
}

LONG FindChild(Store &store, int64_t parent, std::string_view name, int64_t *child) {
    Query query(store, kFindChild);
    const int rc = query.Bind(1, parent).Bind(2, Fold(name)).Step();
    if (rc == SQLITE_ROW) {
        *child = query.Int(0);
        return ERROR_SUCCESS;
    }
    return rc == SQLITE_DONE ? ERROR_FILE_NOT_FOUND : MapError(rc, false);
}

LONG CurrentStamp(Globals &g, Stamp *stamp);

// FindChild through the key ids kept while the store is unchanged.
LONG FindChildKept(Globals &g, int64_t parent, std::string_view name, int64_t *child) {
    Stamp now;
    if (LONG err = CurrentStamp(g, &now)) return err;
    if (now != g.key_ids_stamp) {
        g.key_ids.clear();
        g.key_ids_stamp = now;
    }
    std::string slot = std::to_string(parent);
    slot += '\\';
    slot += Fold(name);
    if (const auto found = g.key_ids.find(slot); found != g.key_ids.end()) {
        *child = found->second;
        return ERROR_SUCCESS;
    }
    const LONG err = FindChild(g.store, parent, name, child);
    if (err == ERROR_SUCCESS) {
        if (g.key_ids.size() >= kMaxKeyIds) g.key_ids.clear();
        g.key_ids.emplace(std::move(slot), *child);
    }
    return err;
}

// Follows `parts` down from `start`. A missing first step under a deleted key is reported as
// the deletion.
LONG FollowPath(Globals &g, int64_t start, const std::vector<std::string_view> &parts,
                int64_t *id) {
    Store &store = g.store;
    if (parts.empty()) {
        if (LONG err = CheckKey(store, start)) return err;
    }
    int64_t at = start;
    for (const std::string_view part : parts) {
        const int64_t above = at;
        const LONG err = FindChildKept(g, above, part, &at);
        if (err == ERROR_FILE_NOT_FOUND && above == start) {
            if (LONG gone = CheckKey(store, start)) return gone;
        }
        if (err) return err;
    }
    *id = at;
    return ERROR_SUCCESS;
}

LONG TouchKey(Store &store, int64_t id) {
    const int rc = Query(store, kTouchKey).Bind(1, id).Bind(2, Now()).Run();
    return rc == SQLITE_DONE ? ERROR_SUCCESS : MapError(rc, true);
}

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

// Commits what was written through the handle in one transaction. All of it becomes visible at
// once, or, when the commit fails or the process dies first, none of it. On failure the writes
// stay pending, to be tried again, except when the key the handle was to make has been made by
// someone else (ERROR_ALREADY_EXISTS): then they are dropped, as they were meant for a new key.
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

// Registers a new handle under a number no handle of the process had before.
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

// The store's stamp now; asked of the store once per read transaction.
LONG CurrentStamp(Globals &g, Stamp *stamp) {
    Store &store = g.store;
    if (store.reading && g.stamp_read == store.read_serial) {
        *stamp = g.stamp;
        return ERROR_SUCCESS;
    }
    Query query(store, kDataVersion);
    const int rc = query.Step();
    if (rc != SQLITE_ROW) return MapError(rc, false);
    *stamp = Stamp{store.epoch, query.Int(0)};
    g.stamp = *stamp;
    g.stamp_read = store.reading ? store.read_serial : 0;
    return ERROR_SUCCESS;
}

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

// Tells the host why the store could not be opened, in one line naming the store file.
void TellOpenFailure(LONG error) noexcept {
    char reason[256];
    const size_t chars = tovarine::ErrorWords(error, reason, sizeof reason);
    char line[1024];
    try {
        std::snprintf(line, sizeof line,
                      "tovarine: cannot open the settings store %.700s: error %ld%s%s\n",
                      StorePath().c_str(), static_cast<long>(error), chars > 0 ? ": " : "", reason);
    } catch (...) {
        std::snprintf(line, sizeof line, "tovarine: cannot open the settings store: error %ld\n",
                      static_cast<long>(error));
    }
    tovarine::TellDiagnostic(error, nullptr, line);
}

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
    if (t_open_failure != ERROR_SUCCESS) {
        const LONG failure = t_open_failure;
        t_open_failure = ERROR_SUCCESS;
        TellOpenFailure(failure);
    }
    return result;
}

}  // namespace

namespace tovarine::registry {

LONG DiscardKey(HKEY key) {
    if (key == HKEY_CURRENT_USER) return ERROR_SUCCESS;
    return Locked([&](Globals &g) -> LONG {
        return g.handles.erase(reinterpret_cast<uintptr_t>(key)) ? ERROR_SUCCESS
                                                                 : ERROR_INVALID_HANDLE;
    });
}

// The copy is made beside the destination and renamed over it, so that the destination is the
// old file or the whole new copy. A journal of another database left beside the destination
// would be taken for the copy's own by SQLite, so the copy is refused there
// (ERROR_ALREADY_EXISTS); so is the store file itself (ERROR_INVALID_PARAMETER).
LONG BackupStore(const std::string &destination) {
    if (destination.empty()) return ERROR_INVALID_PARAMETER;
    return Locked([&](Globals &g) -> LONG {
        if (LONG err = EnsureOpen(g)) return err;
        if (g.store.stand_in) return ERROR_FILE_NOT_FOUND;  // no store to copy
        struct stat store {
        }, target{};
        const std::string file = sqlite3_db_filename(g.store.db, "main");
        if (stat(file.c_str(), &store) == 0 && stat(destination.c_str(), &target) == 0 &&
            store.st_dev == target.st_dev && store.st_ino == target.st_ino)
            return ERROR_INVALID_PARAMETER;
        if (FileExists(destination + "-wal") || FileExists(destination + "-journal"))
            return ERROR_ALREADY_EXISTS;
        const std::string partial = destination + ".partial";
        unlink(partial.c_str());
        // Made with the store's own mode before SQLite fills it, so that the copy is readable
        // by no one who cannot read the store.
        const int fd = open(partial.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                            static_cast<mode_t>(StoreCopyMode()));
        if (fd < 0) return ERROR_CANTWRITE;
        close(fd);
        LONG err = CopyInto(g.store.db, partial);
        if (err == ERROR_SUCCESS && rename(partial.c_str(), destination.c_str()) != 0)
            err = ERROR_CANTWRITE;
        if (err == ERROR_SUCCESS && !SyncFolder(FolderOf(destination))) err = ERROR_CANTWRITE;
        if (err != ERROR_SUCCESS) unlink(partial.c_str());
        return err;
    });
}

// Opened read-only, with no lock on the registry's side: a check of the live store runs beside
// the other processes' calls and waits for writers as they do.
LONG CheckStore(const std::string &file, StoreCheck *out) {
    if (out == nullptr) return ERROR_INVALID_PARAMETER;
    try {
        *out = StoreCheck{};
        sqlite3 *db = nullptr;
        int rc = sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
        std::unique_ptr<sqlite3, int (*)(sqlite3 *)> closer(db, sqlite3_close_v2);
        if (rc != SQLITE_OK) {
            out->problems.push_back(std::string("cannot open: ") + sqlite3_errstr(rc));
            return ERROR_CANTOPEN;
        }
        sqlite3_extended_result_codes(db, 1);
        sqlite3_busy_timeout(db, kBusyTimeoutMs);
        auto rows = [&](const char *sql, std::vector<std::string> *texts) {
            sqlite3_stmt *statement = nullptr;
            int step = sqlite3_prepare_v2(db, sql, -1, &statement, nullptr);
            while (step == SQLITE_OK || step == SQLITE_ROW) {
                step = sqlite3_step(statement);
                if (step != SQLITE_ROW) break;
                const auto *text =
                    reinterpret_cast<const char *>(sqlite3_column_text(statement, 0));
                texts->emplace_back(text ? text : "");
            }
            sqlite3_finalize(statement);
            return step == SQLITE_DONE ? SQLITE_OK : step;
        };
        std::vector<std::string> lines;
        rc = rows("PRAGMA integrity_check", &lines);
        if (rc != SQLITE_OK) {
            out->problems.push_back(std::string("cannot read: ") + sqlite3_errmsg(db));
            return rc == SQLITE_CANTOPEN ? ERROR_CANTOPEN : MapError(rc, false);
        }
        for (std::string &line : lines)
            if (line != "ok") out->problems.push_back(std::move(line));
        lines.clear();
        if (rows("PRAGMA journal_mode", &lines) == SQLITE_OK && !lines.empty())
            out->journal = lines.front();
        out->self_contained = SelfContained(file, out->journal == "wal");
        return ERROR_SUCCESS;
    } catch (const std::bad_alloc &) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

void CloseStore() {
    Globals &g = State();
    std::lock_guard lock(g.mutex);
    DropConnection(g);
}

std::string StoreFile() { return StorePath(); }

unsigned StoreCopyMode() {
    struct stat st {};
    const std::string path = StorePath();
    if (path.empty() || stat(path.c_str(), &st) != 0) return 0600;
    return static_cast<unsigned>(st.st_mode) & 0777u;
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

void BeginReadBatch() {
    ++t_read_batches;
    t_reads_paused = false;
}

void EndReadBatch() {
    if (t_read_batches > 0 && --t_read_batches == 0) {
        PauseReadBatch();
        t_reads_paused = false;
    }
}

void PauseReadBatch() {
    t_reads_paused = true;
    Locked([](Globals &g) -> LONG {
        if (g.store.reading && pthread_equal(g.store.reader, pthread_self())) EndRead(g.store);
        return ERROR_SUCCESS;
    });
}

int64_t TakeStatementSteps() {
    Globals &g = State();
    std::lock_guard lock(g.mutex);
    const int64_t steps = g.store.steps;
    g.store.steps = 0;
    return steps;
}

}  // namespace tovarine::registry

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
        if (const auto at = handle->pending_at.find(folded); at != handle->pending_at.end()) {
            const PendingValue &value = handle->pending[at->second];
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
        value_name.size() > kMaxValueNameChars)
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
        int64_t id = 0, parent = 0;
        if (LONG err = FollowPath(g, handle->id, parts, &id)) return err;
        if (id == kRootId) return ERROR_ACCESS_DENIED;
        {
            Query children(store, kHasChild);
            const int rc = children.Bind(1, id).Step();
            if (rc == SQLITE_ROW) return ERROR_ACCESS_DENIED;
            if (rc != SQLITE_DONE) return MapError(rc, false);
        }
        {
            Query query(store, kParentOf);
            const int rc = query.Bind(1, id).Step();
            if (rc != SQLITE_ROW) return MapError(rc, false);
            parent = query.Int(0);
        }
        int rc = Query(store, kDeleteValues).Bind(1, id).Run();
        if (rc == SQLITE_DONE) rc = Query(store, kDeleteKey).Bind(1, id).Run();
        if (rc != SQLITE_DONE) return MapError(rc, true);
        if (LONG err = TouchKey(store, parent)) return err;
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
        const int rc =
            Query(store, kDeleteValue).Bind(1, handle->id).Bind(2, Fold(name ? name : "")).Run();
        if (rc != SQLITE_DONE) return MapError(rc, true);
        if (sqlite3_changes(store.db) == 0) return ERROR_FILE_NOT_FOUND;
        if (LONG err = TouchKey(store, handle->id)) return err;
        return txn.Commit();
    });
}
