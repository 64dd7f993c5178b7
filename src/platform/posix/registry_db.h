// The registry's store: the SQLite connection, its prepared statements and transactions, the
// store's file and layout. The Win32 calls (registry.cpp) and the parts they are built from
// (registry_internal.h) are on top of this.
#pragma once

#include <pthread.h>
#include <sqlite3.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/posix/win32.h"

namespace tovarine::registry {

inline constexpr int64_t kRootId = 1;  // HKEY_CURRENT_USER's row
// After a commit the log's pages are copied into the store file; while another connection still
// reads an older state that copy stops short, and it is tried again after 1, 2, 4, ... ms, at
// most this many times (63 ms in all) before the rest is left to the next commit.
inline constexpr int kCheckpointRetries = 6;
// The write-ahead log is kept at most this large once a write ends (plus the write itself while
// it runs): a longer log is cut back to nothing, and a log restarted from its beginning is cut
// to this size. Without a bound it grows by each process's writes, since a process that leaves
// without closing the store leaves the next one a log it cannot restart.
inline constexpr int64_t kLogLimitBytes = 1 << 20;
inline constexpr int64_t kSchemaVersion = 1;

// Statements, kept prepared for the life of the connection.
inline constexpr const char kBegin[] = "BEGIN IMMEDIATE";
inline constexpr const char kBeginRead[] = "BEGIN";
inline constexpr const char kCommit[] = "COMMIT";
inline constexpr const char kRollback[] = "ROLLBACK";
inline constexpr const char kDataVersion[] = "PRAGMA data_version";
inline constexpr const char kKeyExists[] = "SELECT 1 FROM keys WHERE id = ?1";
inline constexpr const char kFindChild[] = "SELECT id FROM keys WHERE parent = ?1 AND folded = ?2";
inline constexpr const char kParentOf[] = "SELECT parent FROM keys WHERE id = ?1";
inline constexpr const char kHasChild[] = "SELECT 1 FROM keys WHERE parent = ?1 LIMIT 1";
inline constexpr const char kInsertKey[] =
    "INSERT INTO keys (parent, name, folded, class, last_write) VALUES (?1, ?2, ?3, ?4, ?5)";
inline constexpr const char kTouchKey[] = "UPDATE keys SET last_write = ?2 WHERE id = ?1";
inline constexpr const char kDeleteKey[] = "DELETE FROM keys WHERE id = ?1";
inline constexpr const char kListKeys[] =
    "SELECT name, class, last_write FROM keys WHERE parent = ?1 ORDER BY folded";
inline constexpr const char kGetValue[] =
    "SELECT type, data FROM vals WHERE key_id = ?1 AND folded = ?2";
inline constexpr const char kGetValueAndName[] =
    "SELECT type, data, name FROM vals WHERE key_id = ?1 AND folded = ?2";
inline constexpr const char kSetValue[] =
    "INSERT INTO vals (key_id, name, folded, type, data) VALUES (?1, ?2, ?3, ?4, ?5) "
    "ON CONFLICT (key_id, folded) DO UPDATE SET type = excluded.type, data = excluded.data";
// Values written together: kValuesPerSet rows in one statement, each as kSetValue writes one
// (the key id is ?1, and row k binds its name, folded name, type and data to ?(4k+2) to ?(4k+5)).
inline constexpr size_t kValuesPerSet = 32;
const char *SetValuesStatement();
inline constexpr const char kUpdateValue[] =
    "UPDATE vals SET type = ?3, data = ?4 WHERE key_id = ?1 AND folded = ?2";
inline constexpr const char kInsertValue[] =
    "INSERT INTO vals (key_id, name, folded, type, data) VALUES (?1, ?2, ?3, ?4, ?5)";
inline constexpr const char kDeleteValue[] = "DELETE FROM vals WHERE key_id = ?1 AND folded = ?2";
inline constexpr const char kDeleteValues[] = "DELETE FROM vals WHERE key_id = ?1";
inline constexpr const char kKnownValues[] =
    "SELECT name, folded, type, data FROM vals WHERE key_id = ?1";
inline constexpr const char kListValues[] =
    "SELECT name, type, data FROM vals WHERE key_id = ?1 ORDER BY rowid";

inline constexpr const char kSchema[] =
    "CREATE TABLE IF NOT EXISTS keys ("
    " id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " parent INTEGER NOT NULL,"
    " name TEXT NOT NULL,"
    " folded TEXT NOT NULL,"
    " class TEXT NOT NULL DEFAULT '',"
    " last_write INTEGER NOT NULL,"
    " UNIQUE (parent, folded));"  // also the index subkeys are listed in order by
    "CREATE TABLE IF NOT EXISTS vals ("
    " key_id INTEGER NOT NULL,"
    " name TEXT NOT NULL,"
    " folded TEXT NOT NULL,"
    " type INTEGER NOT NULL,"
    " data BLOB NOT NULL,"
    " PRIMARY KEY (key_id, folded));";
// The values of a key in the order they were first set (by rowid), listed without a sort. Part
// of every layout made now; stores made before it get it when they can (AddValueOrder).
inline constexpr const char kValueOrder[] =
    "CREATE INDEX IF NOT EXISTS vals_order ON vals (key_id)";

// A value as a key holds it: its name as first spelt, its type and data.
struct KnownValue {
    std::string name;
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

// The values of one key as this connection last committed them (by folded name), valid while
// nothing else has been committed since: neither by this process (its epoch is `epoch`) nor by
// another connection (the data version is `data_version`). A write of that key then knows what
// each value was, for the history, without reading it again.
struct KnownValues {
    int64_t id = 0;  // 0: none known
    uint64_t epoch = 0;
    int64_t data_version = -1;
    std::unordered_map<std::string, KnownValue> values;
};

struct Store {
    sqlite3 *db = nullptr;
    // No store file yet (none, a dangling link, an empty file): `db` is then an empty store in
    // memory that answers the reads as a store without keys would, so that reading makes no
    // file. The first write opens the file instead, laying a new store out in it.
    bool stand_in = false;
    pid_t pid = 0;  // the process that opened the connection
    std::unordered_map<const char *, sqlite3_stmt *> statements;
    uint64_t epoch = 1;  // moves with every commit of this process and every close
    int64_t steps = 0;   // virtual-machine steps run since the count was last taken
    // The read transaction the statements of a call, or of a thread's read batch, share: open
    // or not, the thread it was started for, and a number that moves with each one started.
    bool reading = false;
    pthread_t reader{};
    uint64_t read_serial = 0;
    // Whether the store has its history's tables (one an earlier release made may not yet).
    bool history = false;
    // Key ids and their paths below the settings root (nullopt: not below it), found once each:
    // a key keeps its name and parent, and an id is never given twice.
    std::unordered_map<int64_t, std::optional<std::string>> paths;
    KnownValues known;
    // Set by a transaction that kept `known` up to date with its writes; any other commit (or a
    // rollback) leaves the known values behind.
    bool known_written = false;
};

// How long this process's connections to the store wait for another connection's write to end
// (kBusyTimeoutMs unless a test set another wait with SetBusyTimeout), in milliseconds.
int BusyTimeoutMs();
// Sets that wait for the connections opened from now on; the caller sets it on an open one.
void SetBusyTimeoutMs(int milliseconds);

LONG MapError(int rc, bool writing);
int64_t Now();
// ASCII upper case: how names are matched and ordered.
std::string Fold(std::string_view name);

// One use of a cached statement; resets it and counts its work when done.
class Query {
public:
    Query(Store &store, const char *sql) : store_(store) {
        auto found = store.statements.find(sql);
        if (found != store.statements.end()) {
            stmt_ = found->second;
            return;
        }
        rc_ = sqlite3_prepare_v3(store.db, sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt_, nullptr);
        if (rc_ != SQLITE_OK) {
            sqlite3_finalize(stmt_);
            stmt_ = nullptr;
            return;
        }
        store.statements.emplace(sql, stmt_);
    }
    ~Query() {
        if (stmt_ == nullptr) return;
        store_.steps += sqlite3_stmt_status(stmt_, SQLITE_STMTSTATUS_VM_STEP, 1);
        sqlite3_reset(stmt_);
        sqlite3_clear_bindings(stmt_);
    }
    Query(const Query &) = delete;
    Query &operator=(const Query &) = delete;

    bool Prepared() const { return stmt_ != nullptr; }

    Query &BindNull(int i) {
        if (stmt_ && rc_ == SQLITE_OK) rc_ = sqlite3_bind_null(stmt_, i);
        return *this;
    }
    Query &Bind(int i, int64_t v) {
        if (stmt_ && rc_ == SQLITE_OK) rc_ = sqlite3_bind_int64(stmt_, i, v);
        return *this;
    }
    Query &Bind(int i, std::string_view v) {
        if (stmt_ && rc_ == SQLITE_OK)
            rc_ =
                sqlite3_bind_text(stmt_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
        return *this;
    }
    // Binds text that outlives the statement's step, without a copy.
    Query &BindStatic(int i, const std::string &v) {
        if (stmt_ && rc_ == SQLITE_OK)
            rc_ = sqlite3_bind_text(stmt_, i, v.data(), static_cast<int>(v.size()), SQLITE_STATIC);
        return *this;
    }
    Query &BindBlob(int i, const void *data, size_t bytes) {
        return BindBytes(i, data, bytes, SQLITE_TRANSIENT);
    }
    // Binds bytes that outlive the statement's step, without a copy.
    Query &BindStatic(int i, const std::vector<BYTE> &v) {
        return BindBytes(i, v.data(), v.size(), SQLITE_STATIC);
    }
    // SQLITE_ROW, SQLITE_DONE or an error code.
    int Step() { return rc_ != SQLITE_OK ? rc_ : sqlite3_step(stmt_); }
    // Runs a statement that returns no rows; SQLITE_DONE on success.
    int Run() {
        int rc = Step();
        while (rc == SQLITE_ROW) rc = sqlite3_step(stmt_);
        return rc;
    }

    int64_t Int(int col) const { return sqlite3_column_int64(stmt_, col); }
    std::string Text(int col) const {
        const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(stmt_, col));
        return text ? std::string(text, static_cast<size_t>(sqlite3_column_bytes(stmt_, col)))
                    : std::string();
    }
    bool IsNull(int col) const { return sqlite3_column_type(stmt_, col) == SQLITE_NULL; }
    // A blob column's bytes, valid until the next step.
    const void *BlobData(int col) const { return sqlite3_column_blob(stmt_, col); }
    size_t Bytes(int col) const { return static_cast<size_t>(sqlite3_column_bytes(stmt_, col)); }
    std::vector<BYTE> Blob(int col) const {
        const auto *data = static_cast<const BYTE *>(sqlite3_column_blob(stmt_, col));
        return std::vector<BYTE>(data, data + sqlite3_column_bytes(stmt_, col));
    }

private:
    Query &BindBytes(int i, const void *data, size_t bytes, sqlite3_destructor_type lifetime) {
        static const BYTE kEmpty = 0;  // a zero-length blob, not NULL
        if (stmt_ && rc_ == SQLITE_OK)
            rc_ = sqlite3_bind_blob(stmt_, i, bytes ? data : &kEmpty, static_cast<int>(bytes),
                                    lifetime);
        return *this;
    }

    Store &store_;
    sqlite3_stmt *stmt_ = nullptr;
    int rc_ = SQLITE_OK;
};

int Run(Store &store, const char *sql);

// Starts a read transaction for `reader` that later statements share until EndRead: they all
// read one state of the store, and pay for one transaction. Nothing is read until the first
// statement runs. When it cannot be started, the statements read one by one.
void BeginRead(Store &store, pthread_t reader);
// Ends the read transaction, if one is open. Needs no memory.
void EndRead(Store &store);

// Copies every page of the write-ahead log into the store file (a passive checkpoint: it waits
// for no one). A connection of another program that still reads an older state keeps the
// pages it needs out of the copy, and another connection's checkpoint in progress keeps this
// one out; both are short for the store's own calls (a call's reads are one transaction, and
// a settings transfer's reads end before it asks anything), so the copy is
// tried again after 1, 2, 4, ... ms, kCheckpointRetries times. A reader that holds its
// transaction longer leaves the rest of the log to the next commit (or to the last connection's
// close): until then the file alone is not a full copy. True when the whole log is in the file.
bool CopyLogIntoFile(sqlite3 *db);

// Keeps the write-ahead log within kLogLimitBytes after a write has ended (committed or rolled
// back): a longer log is copied into the store file and cut to nothing. That also gives back at
// once the room a write that met a full disk took in the log. It waits for no one: cutting the
// log holds the write lock while it waits for other connections' reads, and under many readers
// and writers such waits after every commit stall every writer. A log that cannot be cut now
// (a read of another connection still needs it) is cut after a later write.
void LimitLog(sqlite3 *db);

// A write transaction, rolled back unless committed.
class Transaction {
public:
    explicit Transaction(Store &store) : store_(store) {}
    ~Transaction() {
        if (sqlite3_get_autocommit(store_.db)) return;
        store_.known.id = 0;
        store_.known_written = false;
        Run(store_, kRollback);
        LimitLog(store_.db);
    }
    Transaction(const Transaction &) = delete;
    Transaction &operator=(const Transaction &) = delete;

    // A read batch's transaction is ended first: a write starts from the newest state.
    LONG Begin() {
        EndRead(store_);
        store_.known_written = false;
        const int rc = Run(store_, kBegin);
        return rc == SQLITE_DONE ? ERROR_SUCCESS : MapError(rc, true);
    }
    // Commits, then copies the committed pages from the write-ahead log into the store file,
    // so that the file alone holds every value once the call returns. What is committed is
    // durable in the log either way; the copy only makes the file a full copy of the store.
    LONG Commit() {
        const int rc = Run(store_, kCommit);
        if (rc != SQLITE_DONE) {
            store_.known.id = 0;
            return MapError(rc, true);
        }
        ++store_.epoch;
        if (store_.known_written) {
            store_.known.epoch = store_.epoch;
        } else {
            store_.known.id = 0;
        }
        store_.known_written = false;
        CopyLogIntoFile(store_.db);
        LimitLog(store_.db);
        return ERROR_SUCCESS;
    }

private:
    Store &store_;
};

// Finalizes the statements and closes the connection.
void CloseConnection(Store &store);

// The folder holding `path` ("" for the root folder).
std::string FolderOf(const std::string &path);
// Makes what `folder` lists durable: a name made in it survives power loss once this returns
// true.
bool SyncFolder(const std::string &folder);

// Opens the store into `store`, checking its layout; `store.db` may be set on failure, for the
// caller to close. With `for_writing` a store that is missing (or an empty file) is made and laid
// out; without, nothing is made or written: `store` is then a stand-in (Store::stand_in).
// A store path that is a symbolic link owned by neither the user nor root is refused
// (ERROR_ACCESS_DENIED): in a folder other users can write to, such a link would turn a file of
// the user's that it points at into a store.
LONG OpenConnection(Store &store, bool for_writing);

}  // namespace tovarine::registry
