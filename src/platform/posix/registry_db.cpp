// The registry's store: its connection, file, layout and transactions.
#include "platform/posix/registry_db.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>

#include "module/text.h"
#include "platform/posix/registry_history.h"
#include "platform/posix/registry_store.h"
#include "platform/posix/sync_vfs.h"

namespace tovarine::registry {

namespace {

std::atomic<int> g_busy_timeout_ms{kBusyTimeoutMs};

}  // namespace

int BusyTimeoutMs() { return g_busy_timeout_ms.load(std::memory_order_relaxed); }

void SetBusyTimeoutMs(int milliseconds) {
    g_busy_timeout_ms.store(milliseconds, std::memory_order_relaxed);
}

LONG MapError(int rc, bool writing) {
    switch (rc & 0xFF) {
        case SQLITE_NOTADB:
            return ERROR_BADDB;
        case SQLITE_CORRUPT:
            return ERROR_REGISTRY_CORRUPT;
        case SQLITE_CANTOPEN:
        case SQLITE_PERM:
        case SQLITE_AUTH:
            return ERROR_CANTOPEN;
        case SQLITE_NOMEM:
            return ERROR_NOT_ENOUGH_MEMORY;
        case SQLITE_READONLY:
        case SQLITE_FULL:
            return ERROR_CANTWRITE;
        default:
            return writing ? ERROR_CANTWRITE : ERROR_CANTREAD;
    }
}

int64_t Now() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    constexpr int64_t kEpochDelta = 11644473600;  // seconds from 1601-01-01 to 1970-01-01
    return (static_cast<int64_t>(now.tv_sec) + kEpochDelta) * 10000000 + now.tv_nsec / 100;
}

std::string Fold(std::string_view name) { return text::AsciiUpper(name); }

int Run(Store &store, const char *sql) { return Query(store, sql).Run(); }

const char *SetValuesStatement() {
    static const std::string sql = [] {
        std::string text = "INSERT INTO vals (key_id, name, folded, type, data) VALUES ";
        for (size_t row = 0; row < kValuesPerSet; ++row) {
            const size_t first = 4 * row + 2;
            text += row == 0 ? "(?1" : ", (?1";
            for (size_t column = 0; column < 4; ++column)
                text += ", ?" + std::to_string(first + column);
            text += ")";
        }
        return text +
               " ON CONFLICT (key_id, folded) DO UPDATE SET type = excluded.type,"
               " data = excluded.data";
    }();
    return sql.c_str();
}

void BeginRead(Store &store, pthread_t reader) {
    if (store.reading) return;
    // What ends it is prepared first, so that ending it needs no memory.
    if (!Query(store, kCommit).Prepared() || !Query(store, kRollback).Prepared()) return;
    if (Run(store, kBeginRead) != SQLITE_DONE) return;
    store.reading = true;
    store.reader = reader;
    ++store.read_serial;
}

void EndRead(Store &store) {
    if (!store.reading) return;
    store.reading = false;
    // A read transaction has nothing to commit; whatever ends it, it is over.
    if (Run(store, kCommit) != SQLITE_DONE && !sqlite3_get_autocommit(store.db))
        Run(store, kRollback);
}

// A passive checkpoint, retried with a doubling wait while a reader or checkpoint holds it back.
bool CopyLogIntoFile(sqlite3 *db) {
    for (int attempt = 0;; ++attempt) {
        int log_frames = 0, copied_frames = 0;
        const int rc = sqlite3_wal_checkpoint_v2(db, nullptr, SQLITE_CHECKPOINT_PASSIVE,
                                                 &log_frames, &copied_frames);
        // Not in WAL mode (a file system that cannot share the log's index): both are -1.
        if (rc == SQLITE_OK && copied_frames >= log_frames) return true;
        if (attempt == kCheckpointRetries) return false;
        const timespec wait{0, (1L << attempt) * 1000000L};
        nanosleep(&wait, nullptr);
    }
}

void LimitLog(sqlite3 *db) {
    const char *file = sqlite3_db_filename(db, "main");
    if (file == nullptr || *file == '\0') return;
    const char *log = sqlite3_filename_wal(file);
    struct stat st {};
    if (log == nullptr || stat(log, &st) != 0 || st.st_size <= kLogLimitBytes) return;
    sqlite3_busy_handler(db, nullptr, nullptr);
    sqlite3_wal_checkpoint_v2(db, nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
    sqlite3_busy_timeout(db, BusyTimeoutMs());
}

void CloseConnection(Store &store) {
    store.stand_in = false;
    store.reading = false;  // a read transaction still open ends with the connection
    for (auto &[sql, stmt] : store.statements) sqlite3_finalize(stmt);
    store.statements.clear();
    if (store.db) sqlite3_close_v2(store.db);
    store.db = nullptr;
    ++store.epoch;
    store.history = false;
    store.paths.clear();
    store.known = KnownValues{};
}

std::string StoreFile() {
    // Set but empty names no file: an error, not the default store.
    const char *named = std::getenv("TOVARINE_REGISTRY");
    if (named) return named;
    std::string config;
    const char *xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && xdg[0] == '/') {
        config = xdg;
    } else {
        const char *home = std::getenv("HOME");
        std::string home_dir = home && *home ? home : "";
        if (home_dir.empty()) {
            passwd entry{};
            passwd *found = nullptr;
            std::vector<char> buffer(16384);
            if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
                found->pw_dir)
                home_dir = found->pw_dir;
        }
        if (home_dir.empty()) return {};
        config = home_dir + "/.config";
    }
    return config + "/tovarine/registry.db";
}

std::string FolderOf(const std::string &path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

bool SyncFolder(const std::string &folder) {
    const int fd = open(folder.empty() ? "/" : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool synced = fsync(fd) == 0;
    close(fd);
    return synced;
}

namespace {

// mkdir -p of the folder holding `path`, new folders with mode 0700. Each new folder is synced,
// and so is the folder above the first new one, so that the whole chain is on disk before the
// store is made in it.
bool MakeFolders(const std::string &path) {
    std::vector<std::string> made;
    for (size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        std::string folder = path.substr(0, slash);
        if (mkdir(folder.c_str(), 0700) == 0) {
            made.push_back(std::move(folder));
            continue;
        }
        struct stat st {};
        if (errno != EEXIST || stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
    }
    if (made.empty()) return true;
    if (!SyncFolder(FolderOf(made.front()))) return false;
    for (const std::string &folder : made)
        if (!SyncFolder(folder)) return false;
    return true;
}

// The store's layout version and the number of objects in its schema.
LONG ReadLayout(Store &store, int64_t *version, int64_t *objects) {
    Query query(store,
                "SELECT (SELECT user_version FROM pragma_user_version),"
                " (SELECT count(*) FROM sqlite_master)");
    const int rc = query.Step();
    if ((rc & 0xFF) == SQLITE_IOERR) return ERROR_CANTOPEN;
    if (rc != SQLITE_ROW) return MapError(rc, false);
    *version = query.Int(0);
    *objects = query.Int(1);
    return ERROR_SUCCESS;
}

// Makes the tables and the root key in an empty database, inside the caller's transaction.
LONG CreateSchema(Store &store) {
    int rc = sqlite3_exec(store.db, kSchema, nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK) rc = sqlite3_exec(store.db, kValueOrder, nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK)
        rc = sqlite3_exec(store.db, HistorySchema().c_str(), nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) return MapError(rc, true);
    rc = Query(store,
               "INSERT INTO keys (id, parent, name, folded, last_write)"
               " VALUES (?1, 0, 'HKEY_CURRENT_USER', 'HKEY_CURRENT_USER', ?2)")
             .Bind(1, kRootId)
             .Bind(2, Now())
             .Run();
    if (rc != SQLITE_DONE) return MapError(rc, true);
    const std::string version = "PRAGMA user_version=" + std::to_string(kSchemaVersion);
    rc = sqlite3_exec(store.db, version.c_str(), nullptr, nullptr, nullptr);
    return rc == SQLITE_OK ? ERROR_SUCCESS : MapError(rc, true);
}

// A store laid out before the index that lists a key's values in order had none; it gets it at
// an open that can take the write lock at once. A store that is busy or read-only is left as it
// is until a later open: the index only spares a sort. ERROR_SUCCESS unless the store failed.
LONG AddValueOrder(Store &store) {
    {
        Query found(store, "SELECT 1 FROM sqlite_master WHERE name = 'vals_order'");
        const int rc = found.Step();
        if (rc == SQLITE_ROW) return ERROR_SUCCESS;
        if (rc != SQLITE_DONE) return MapError(rc, false);
    }
    sqlite3_busy_timeout(store.db, 0);
    Transaction txn(store);
    if (txn.Begin() == ERROR_SUCCESS &&
        sqlite3_exec(store.db, kValueOrder, nullptr, nullptr, nullptr) == SQLITE_OK)
        txn.Commit();
    sqlite3_busy_timeout(store.db, BusyTimeoutMs());
    return ERROR_SUCCESS;
}

}  // namespace

namespace {

// Whether `path` may be opened as the store: anything but a symbolic link of another user's
// (root's links are the system's own).
bool LinkAllowed(const std::string &path) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return true;
    return st.st_uid == getuid() || st.st_uid == 0;
}

// Opens an empty store in memory as the stand-in for one not made yet.
LONG OpenStandIn(Store &store) {
    int rc = sqlite3_open_v2(":memory:", &store.db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX,
                             nullptr);
    if (rc != SQLITE_OK) return MapError(rc, false);
    sqlite3_extended_result_codes(store.db, 1);
    store.stand_in = true;
    Transaction txn(store);
    if (LONG err = txn.Begin()) return err;
    if (LONG err = CreateSchema(store)) return err;
    store.history = true;
    return txn.Commit();
}

}  // namespace

LONG OpenConnection(Store &store, bool for_writing) {
    const std::string path = StoreFile();
    if (path.empty()) return ERROR_CANTOPEN;
    if (!LinkAllowed(path)) return ERROR_ACCESS_DENIED;
    if (!for_writing) {
        // Nothing to read, and nothing to be made by reading: a missing file, one behind a
        // dangling link, or an empty one is a store without keys.
        struct stat st {};
        if (stat(path.c_str(), &st) != 0) {
            if (errno == ENOENT) return OpenStandIn(store);
            return ERROR_CANTOPEN;
        }
        if (S_ISREG(st.st_mode) && st.st_size == 0) return OpenStandIn(store);
    } else {
        if (!MakeFolders(path)) return ERROR_CANTOPEN;
        // Made here rather than by SQLite for its mode; never truncated. Also turns away
        // folders. A new file's name is synced into its folder at once. O_EXCL does not follow
        // a link: a link found there is checked again before it is followed.
        int fd = open(path.c_str(), O_RDONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        const bool made = fd >= 0;
        if (!made && errno == EEXIST) {
            if (!LinkAllowed(path)) return ERROR_ACCESS_DENIED;
            fd = open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0600);
        }
        if (fd < 0) return ERROR_CANTOPEN;
        close(fd);
        if (made && !SyncFolder(FolderOf(path))) return ERROR_CANTOPEN;
    }

    int rc = sqlite3_open_v2(path.c_str(), &store.db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX,
                             SyncVfsName());
    if (rc != SQLITE_OK) return ERROR_CANTOPEN;
    // A link planted while the file was opened is no better than one found before.
    if (!LinkAllowed(path)) return ERROR_ACCESS_DENIED;
    sqlite3_extended_result_codes(store.db, 1);
    sqlite3_busy_timeout(store.db, BusyTimeoutMs());

    // Reads first: they check the header and the layout without writing anything, so that a
    // file that is not a store, or a database of something else, is left as it is.
    int64_t version = 0, objects = 0;
    if (LONG err = ReadLayout(store, &version, &objects)) return err;
    if (version == 0 ? objects != 0 : version != kSchemaVersion) return ERROR_BADDB;
    if (version == 0 && !for_writing) {
        // An empty database: a store without keys, laid out by the first write.
        CloseConnection(store);
        return OpenStandIn(store);
    }

    // Some file systems cannot share WAL's index; the journal mode then stays as it was, which
    // is as safe with synchronous=FULL. A busy store keeps the mode another process gave it.
    rc = Run(store, "PRAGMA journal_mode=WAL");
    if (rc != SQLITE_DONE && (rc & 0xFF) != SQLITE_BUSY && (rc & 0xFF) != SQLITE_READONLY)
        return MapError(rc, true);
    rc = Run(store, "PRAGMA synchronous=FULL");
    if (rc != SQLITE_DONE) return MapError(rc, false);
    const std::string limit = "PRAGMA journal_size_limit=" + std::to_string(kLogLimitBytes);
    rc = Run(store, limit.c_str());
    if (rc != SQLITE_DONE) return MapError(rc, false);

    if (version == 0) {
        // Laid out once, under the write lock: another process may have done it meanwhile.
        Transaction txn(store);
        if (LONG err = txn.Begin()) return err;
        if (LONG err = ReadLayout(store, &version, &objects)) return err;
        if (version == 0) {
            if (objects != 0) return ERROR_BADDB;
            if (LONG err = CreateSchema(store)) return err;
            if (LONG err = txn.Commit()) return err;
        } else if (version != kSchemaVersion) {
            return ERROR_BADDB;
        }
    }
    {
        Query root(store, kKeyExists);
        rc = root.Bind(1, kRootId).Step();
        if (rc == SQLITE_DONE) return ERROR_BADDB;
        if (rc != SQLITE_ROW) return MapError(rc, false);
    }
    // A log left by processes that ended without closing the store is read back by the first
    // connection after them, and then counts as not yet copied into the file, although it was:
    // a write would append to it instead of starting it anew, and each such process would leave
    // the log longer. Copying it now lets the next write start the log from its beginning.
    const char *log = sqlite3_filename_wal(sqlite3_db_filename(store.db, "main"));
    struct stat st {};
    if (log != nullptr && stat(log, &st) == 0 && st.st_size > 0) CopyLogIntoFile(store.db);
    if (LONG err = AddValueOrder(store)) return err;
    return AddHistory(store, false);
}

}  // namespace tovarine::registry
