// Backups and checks of store files: the whole-file copy of the live store taken beside the
// other processes' calls, the mode such copies get, and the read-only integrity check of a store
// or a backup, with whether the file alone holds every committed change.
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "module/registry_names.h"
#include "platform/posix/registry_internal.h"
#include "platform/posix/registry_store.h"

namespace tovarine::registry {

namespace {

bool FileExists(const std::string &path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}

// Copies the database of connection `source` into a new file `path` in one read of it, as a
// database with a rollback journal, synced.
LONG CopyInto(sqlite3 *source, const std::string &path) {
    sqlite3 *copy = nullptr;
    int rc =
        sqlite3_open_v2(path.c_str(), &copy, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    std::unique_ptr<sqlite3, int (*)(sqlite3 *)> closer(copy, sqlite3_close_v2);
    if (rc != SQLITE_OK) return ERROR_CANTWRITE;
    sqlite3_extended_result_codes(copy, 1);
    sqlite3_backup *backup = sqlite3_backup_init(copy, "main", source, "main");
    if (backup == nullptr) return MapError(sqlite3_extended_errcode(copy), true);
    rc = sqlite3_backup_step(backup, -1);  // every page under one read transaction
    const int finished = sqlite3_backup_finish(backup);
    if (rc != SQLITE_DONE) return MapError(rc, true);
    if (finished != SQLITE_OK) return MapError(finished, true);
    // The pages copied include the store's header, which names WAL; the copy is to stand alone.
    sqlite3_stmt *statement = nullptr;
    rc = sqlite3_prepare_v2(copy, "PRAGMA journal_mode=DELETE", -1, &statement, nullptr);
    if (rc == SQLITE_OK) rc = sqlite3_step(statement);
    const bool rollback = rc == SQLITE_ROW && std::string_view(reinterpret_cast<const char *>(
                                                  sqlite3_column_text(statement, 0))) == "delete";
    sqlite3_finalize(statement);
    if (!rollback) return MapError(rc == SQLITE_ROW ? SQLITE_ERROR : rc, true);
    closer.reset();
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return ERROR_CANTWRITE;
    const bool synced = fsync(fd) == 0;
    close(fd);
    return synced ? ERROR_SUCCESS : ERROR_CANTWRITE;
}

// Whether the database `file` alone holds every committed change, judged from its journal
// files without opening them through SQLite. In WAL mode: the log is missing or empty, or every
// frame in it has been copied into the file; the log's index (FILE-shm, SQLite's WAL-index
// layout, native byte order, its header kept twice at bytes 0 and 48) counts the valid frames
// (mxFrame, at byte 16) and those copied (nBackfill, at byte 96). An index that cannot be read
// or whose two headers differ tells nothing, and counts as not self-contained. In rollback
// mode: no hot journal beside the file. Read while a connection to the file is open, so that
// the index is current.
bool SelfContained(const std::string &file, bool wal) {
    struct stat st {};
    const std::string journal = file + (wal ? "-wal" : "-journal");
    if (stat(journal.c_str(), &st) != 0) return errno == ENOENT;
    if (st.st_size == 0) return true;
    if (!wal) return false;
    const int fd = open((file + "-shm").c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    unsigned char index[100];
    const bool read = pread(fd, index, sizeof index, 0) == static_cast<ssize_t>(sizeof index);
    close(fd);
    if (!read || std::memcmp(index, index + 48, 48) != 0 || index[12] == 0) return false;
    uint32_t frames = 0, copied = 0;
    std::memcpy(&frames, index + 16, sizeof frames);
    std::memcpy(&copied, index + 96, sizeof copied);
    return copied >= frames;
}

}  // namespace

unsigned StoreCopyMode() {
    struct stat st {};
    const std::string path = StoreFile();
    if (path.empty() || stat(path.c_str(), &st) != 0) return 0600;
    return static_cast<unsigned>(st.st_mode) & 0777u;
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
        sqlite3_busy_timeout(db, BusyTimeoutMs());
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

// Read-only, as CheckStore: the file is another store (a backup) or the live one read beside the
// other processes. Its layout is checked as an open of the store checks it: the layout version,
// then the root key, then the settings root's keys a name at a time.
LONG ReadStoreFileInstances(const std::string &file, std::vector<FileKey> *keys) {
    if (keys == nullptr) return ERROR_INVALID_PARAMETER;
    try {
        keys->clear();
        if (!FileExists(file)) return ERROR_FILE_NOT_FOUND;
        Store store;
        struct Closer {
            Store &store;
            ~Closer() { CloseConnection(store); }
        } closer{store};
        if (sqlite3_open_v2(file.c_str(), &store.db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK)
            return ERROR_CANTOPEN;
        sqlite3_extended_result_codes(store.db, 1);
        sqlite3_busy_timeout(store.db, BusyTimeoutMs());
        if (Run(store, kBeginRead) != SQLITE_DONE) return ERROR_CANTREAD;
        {
            Query layout(store,
                         "SELECT (SELECT user_version FROM pragma_user_version),"
                         " (SELECT count(*) FROM sqlite_master WHERE name IN ('keys', 'vals'))");
            const int rc = layout.Step();
            if (rc != SQLITE_ROW) return MapError(rc, false);
            if (layout.Int(0) != kSchemaVersion || layout.Int(1) != 2) return ERROR_BADDB;
        }
        {
            Query root(store, kKeyExists);
            const int rc = root.Bind(1, kRootId).Step();
            if (rc == SQLITE_DONE) return ERROR_BADDB;
            if (rc != SQLITE_ROW) return MapError(rc, false);
        }
        int64_t id = kRootId;
        std::string_view rest = kSettingsRootPath;
        while (!rest.empty()) {
            const size_t slash = rest.find('\\');
            const std::string_view part = rest.substr(0, slash);
            rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
            const LONG err = FindChild(store, id, part, &id);
            if (err == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;  // no settings root: no keys
            if (err != ERROR_SUCCESS) return err;
        }
        std::vector<std::pair<int64_t, std::string>> children;
        {
            Query list(store, "SELECT id, name FROM keys WHERE parent = ?1 ORDER BY folded");
            list.Bind(1, id);
            int rc;
            while ((rc = list.Step()) == SQLITE_ROW)
                children.emplace_back(list.Int(0), list.Text(1));
            if (rc != SQLITE_DONE) return MapError(rc, false);
        }
        for (auto &[child, name] : children) {
            FileKey key{std::move(name), {}};
            Query values(store, kListValues);
            values.Bind(1, child);
            int rc;
            while ((rc = values.Step()) == SQLITE_ROW) {
                key.values.push_back({values.Text(0), StoredValue{static_cast<DWORD>(values.Int(1)),
                                                                  values.Blob(2)}});
            }
            if (rc != SQLITE_DONE) return MapError(rc, false);
            keys->push_back(std::move(key));
        }
        return ERROR_SUCCESS;
    } catch (const std::bad_alloc &) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

}  // namespace tovarine::registry
