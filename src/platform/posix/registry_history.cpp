// The store's history: recording a transaction's changes below the settings root as one row,
// pruning to the store's bound, and reading the changes back.
#include "platform/posix/registry_history.h"

#include <errno.h>
#include <pwd.h>
#include <sys/statvfs.h>
#include <sqlite3.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <cstdio>
#include <mutex>

#include "module/registry_names.h"
#include "module/text.h"
#include "platform/platform.h"
#include "platform/posix/registry_internal.h"
#include "platform/posix/registry_test_controls.h"

namespace tovarine::registry {

namespace {

// How a packed change begins: one byte of these flags.
constexpr uint8_t kWholeKey = 1;
constexpr uint8_t kHasOld = 2;
constexpr uint8_t kHasNew = 4;
constexpr uint8_t kKeyFollows = 8;  // the change's key is written out; else the previous one's

// The history is pruned by a commit that takes its revisions past a multiple of this many
// changes, or that holds as many: a save of a few settings pays for the pruning statements once
// in several saves. Each pruning looks at no more than the 128 oldest rows for their age
// (kLastAged), at least twice as many as the commits in between add, so that it keeps up
// however much is due, and deletes every row beyond the bound's count of changes.
constexpr int64_t kPruneEvery = 64;
// A key deeper than this below HKEY_CURRENT_USER is not followed up to the root (a store whose
// parents loop would otherwise never end the walk).
constexpr int kMaxDepth = 512;
// Room a file system keeps free before the history gives back its oldest rows to new ones.
constexpr uint64_t kSpareRoom = 16u << 20;
// Paths kept per connection before the list starts over.
constexpr size_t kMaxPaths = 4096;

constexpr const char kReadBound[] = "SELECT changes, seconds FROM history_bound WHERE id = 1";
constexpr const char kLastGiven[] = "SELECT max(revision) FROM history";
constexpr const char kInsertRow[] =
    "INSERT INTO history (revision, first, time, program, pid, user, command, changes)"
    " VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8)";
constexpr const char kPruneCount[] = "DELETE FROM history WHERE revision <= ?1";
// Neither ever deletes the newest row, which holds the last revision given.
// The newest row past the age among the 128 oldest: the rows up to it go (kPruneCount).
constexpr const char kLastAged[] =
    "SELECT max(revision) FROM"
    " (SELECT revision, time FROM history ORDER BY revision LIMIT 128) WHERE time < ?1";
constexpr const char kPruneAllAged[] =
    "DELETE FROM history WHERE time < ?1 AND revision < (SELECT max(revision) FROM history)";
constexpr const char kSetBound[] = "INSERT OR REPLACE INTO history_bound VALUES (1, ?1, ?2)";
constexpr const char kRowsUp[] =
    "SELECT revision, first, time, program, pid, user, command, changes FROM history"
    " WHERE revision > ?1 ORDER BY revision";
constexpr const char kRowsDown[] =
    "SELECT revision, first, time, program, pid, user, command, changes FROM history"
    " WHERE revision > ?1 ORDER BY revision DESC";
constexpr const char kKeyAndParent[] = "SELECT parent, name FROM keys WHERE id = ?1";

std::atomic<bool> g_keep_history{true};

int64_t NowMs() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// Who commits: the program's name, its user (by the effective user id) and the command line the
// tool set. Found again after a fork, which may change none of them but the process id.
struct Writer {
    std::mutex mutex;
    std::optional<std::string> command;
    uid_t uid = static_cast<uid_t>(-1);
    std::string user;
};

Writer &TheWriter() {
    static Writer *const writer = new Writer;  // never destroyed: commits may come at exit
    return *writer;
}

std::string UserName(Writer &writer) {
    const uid_t uid = geteuid();
    if (uid == writer.uid) return writer.user;
    passwd entry{};
    passwd *found = nullptr;
    std::vector<char> buffer(16384);
    std::string name;
    if (getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
        found->pw_name)
        name = found->pw_name;
    if (name.empty()) name = "uid " + std::to_string(uid);
    writer.uid = uid;
    writer.user = name;
    return name;
}

void PutVarint(std::string &out, uint64_t value) {
    char bytes[10];
    size_t used = 0;
    while (value >= 0x80) {
        bytes[used++] = static_cast<char>((value & 0x7F) | 0x80);
        value >>= 7;
    }
    bytes[used++] = static_cast<char>(value);
    out.append(bytes, used);
}

void PutBytes(std::string &out, const void *data, size_t bytes) {
    PutVarint(out, bytes);
    out.append(static_cast<const char *>(data), bytes);
}

// Reads what PutVarint and PutBytes wrote, never past `end`.
struct Reader {
    const uint8_t *at;
    const uint8_t *end;
    bool ok = true;
    uint64_t Varint() {
        uint64_t value = 0;
        for (int shift = 0; ok; shift += 7) {
            if (at == end || shift > 63) {
                ok = false;
                break;
            }
            const uint8_t byte = *at++;
            value |= static_cast<uint64_t>(byte & 0x7F) << shift;
            if ((byte & 0x80) == 0) return value;
        }
        return 0;
    }
    std::string_view Bytes() {
        const uint64_t bytes = Varint();
        if (!ok || bytes > static_cast<uint64_t>(end - at)) {
            ok = false;
            return {};
        }
        const std::string_view text(reinterpret_cast<const char *>(at), bytes);
        at += bytes;
        return text;
    }
    StoredValue Value() {
        StoredValue value;
        value.type = static_cast<DWORD>(Varint());
        const std::string_view data = Bytes();
        value.data.assign(data.begin(), data.end());
        return value;
    }
};

Retention ReadBound(Store &store) {
    Query query(store, kReadBound);
    if (query.Step() != SQLITE_ROW) return kDefaultRetention;
    return Retention{query.Int(0), query.Int(1)};
}

LONG LastGiven(Store &store, int64_t *last) {
    Query query(store, kLastGiven);
    const int rc = query.Step();
    if (rc == SQLITE_DONE) {
        *last = 0;
        return ERROR_SUCCESS;
    }
    if (rc != SQLITE_ROW) return MapError(rc, false);
    *last = query.Int(0);
    return ERROR_SUCCESS;
}

// The settings root's path, folded, a key name at a time.
const std::vector<std::string> &RootParts() {
    static const std::vector<std::string> parts = [] {
        std::vector<std::string> split;
        std::string_view rest = kSettingsRootPath;
        for (size_t slash; (slash = rest.find('\\')) != std::string_view::npos;) {
            split.push_back(Fold(rest.substr(0, slash)));
            rest.remove_prefix(slash + 1);
        }
        split.push_back(Fold(rest));
        return split;
    }();
    return parts;
}

// Whether the store's file system has so little room left that a history row of `bytes` should
// take the pages of older rows rather than grow the file: less than kSpareRoom and four times
// the row. Without that, the history alone would fill a small disk that the settings fit on,
// and a full disk with a log that cannot be copied into a file that cannot grow takes every
// later write with it.
bool LowOnRoom(Store &store, size_t bytes) {
    const char *file = sqlite3_db_filename(store.db, "main");
    struct statvfs fs {};
    if (file == nullptr || *file == '\0' || statvfs(file, &fs) != 0) return false;
    const uint64_t free_bytes = static_cast<uint64_t>(fs.f_bavail) * fs.f_frsize;
    return free_bytes < kSpareRoom + 4 * static_cast<uint64_t>(bytes);
}

// Calls `each` with the changes above `after`, within the bound, under the caller's lock and
// read transaction.
LONG Iterate(Store &store, int64_t after, bool oldest_first,
             const std::function<bool(const Change &)> &each) {
    const Retention bound = ReadBound(store);
    int64_t last = 0;
    if (LONG err = LastGiven(store, &last)) return err;
    const int64_t lowest = std::max(after, last - bound.changes);
    const int64_t oldest_time = NowMs() - bound.seconds * 1000;
    Query rows(store, oldest_first ? kRowsUp : kRowsDown);
    rows.Bind(1, lowest);
    std::vector<Change> changes;
    int rc;
    while ((rc = rows.Step()) == SQLITE_ROW) {
        if (rows.Int(2) < oldest_time) continue;
        changes.clear();
        if (!UnpackChanges(rows.BlobData(7), rows.Bytes(7), rows.Int(1), &changes)) continue;
        const auto visit = [&](Change &change) {
            if (change.revision <= lowest) return true;
            change.time_ms = rows.Int(2);
            change.program = rows.Text(3);
            change.pid = rows.Int(4);
            change.user = rows.Text(5);
            if (!rows.IsNull(6)) change.command = rows.Text(6);
            return each(change);
        };
        if (oldest_first) {
            for (Change &change : changes)
                if (!visit(change)) return ERROR_SUCCESS;
        } else {
            for (auto change = changes.rbegin(); change != changes.rend(); ++change)
                if (!visit(*change)) return ERROR_SUCCESS;
        }
    }
    return rc == SQLITE_DONE ? ERROR_SUCCESS : MapError(rc, false);
}

// Opens the store for reading; false when it keeps no history to read (a stand-in for a store
// not made yet, or one without the tables).
LONG OpenForHistory(Globals &g, bool *kept) {
    if (LONG err = EnsureOpen(g, false)) return err;
    *kept = !g.store.stand_in && g.store.history;
    if (*kept) StartRead(g);
    return ERROR_SUCCESS;
}

}  // namespace

std::string HistorySchema() {
    return "CREATE TABLE IF NOT EXISTS history ("
           " revision INTEGER PRIMARY KEY,"
           " first INTEGER NOT NULL,"
           " time INTEGER NOT NULL,"
           " program TEXT NOT NULL,"
           " pid INTEGER NOT NULL,"
           " user TEXT NOT NULL,"
           " command TEXT,"
           " changes BLOB NOT NULL);"
           "CREATE TABLE IF NOT EXISTS history_bound ("
           " id INTEGER PRIMARY KEY CHECK (id = 1),"
           " changes INTEGER NOT NULL,"
           " seconds INTEGER NOT NULL);"
           "INSERT OR IGNORE INTO history_bound VALUES (1, " +
           std::to_string(kDefaultRetention.changes) + ", " +
           std::to_string(kDefaultRetention.seconds) + ");";
}

LONG AddHistory(Store &store, bool wait) {
    const auto has_tables = [&](bool *has) -> LONG {
        Query found(store,
                    "SELECT count(*) FROM sqlite_master WHERE name IN"
                    " ('history', 'history_bound')");
        const int rc = found.Step();
        if (rc != SQLITE_ROW) return MapError(rc, false);
        *has = found.Int(0) == 2;
        return ERROR_SUCCESS;
    };
    bool has = false;
    if (LONG err = has_tables(&has)) return err;
    if (!has) {
        if (!wait) sqlite3_busy_timeout(store.db, 0);
        {
            Transaction txn(store);
            if (txn.Begin() == ERROR_SUCCESS &&
                sqlite3_exec(store.db, HistorySchema().c_str(), nullptr, nullptr, nullptr) ==
                    SQLITE_OK)
                txn.Commit();
        }
        if (!wait) sqlite3_busy_timeout(store.db, BusyTimeoutMs());
        if (LONG err = has_tables(&has)) return err;
    }
    store.history = has;
    return ERROR_SUCCESS;
}

LONG ChangeRecord::PathOf(int64_t id, const std::string **path) {
    *path = nullptr;
    if (!store_.history || !g_keep_history.load(std::memory_order_relaxed)) return ERROR_SUCCESS;
    if (const auto found = store_.paths.find(id); found != store_.paths.end()) {
        if (found->second) *path = &*found->second;
        return ERROR_SUCCESS;
    }
    std::vector<std::string> names;  // from the key up
    for (int64_t at = id; at != kRootId;) {
        if (names.size() > kMaxDepth) return ERROR_REGISTRY_CORRUPT;
        Query query(store_, kKeyAndParent);
        const int rc = query.Bind(1, at).Step();
        if (rc == SQLITE_DONE) return ERROR_KEY_DELETED;
        if (rc != SQLITE_ROW) return MapError(rc, false);
        at = query.Int(0);
        names.push_back(query.Text(1));
    }
    std::reverse(names.begin(), names.end());
    const std::vector<std::string> &root = RootParts();
    std::optional<std::string> below;
    if (names.size() > root.size() &&
        std::equal(root.begin(), root.end(), names.begin(),
                   [](const std::string &a, const std::string &b) { return a == Fold(b); })) {
        below.emplace();
        for (size_t i = root.size(); i < names.size(); ++i) {
            if (i > root.size()) *below += '\\';
            *below += names[i];
        }
    }
    if (store_.paths.size() >= kMaxPaths) store_.paths.clear();
    const auto placed = store_.paths.emplace(id, std::move(below)).first;
    if (placed->second) *path = &*placed->second;
    return ERROR_SUCCESS;
}

void ChangeRecord::PutKey(const std::string &key, uint8_t flags) {
    const bool same = last_key_ != nullptr && *last_key_ == key;
    blob_ += static_cast<char>(flags | (same ? 0 : kKeyFollows));
    if (!same) PutBytes(blob_, key.data(), key.size());
    last_key_ = &key;
    ++count_;
}

void ChangeRecord::KeyMade(const std::string &key) { PutKey(key, kWholeKey | kHasNew); }

void ChangeRecord::KeyDeleted(const std::string &key) { PutKey(key, kWholeKey | kHasOld); }

void ChangeRecord::ValueChanged(const std::string &key, std::string_view name, const Value *before,
                                const Value *after) {
    if (blob_.empty()) blob_.reserve(4096);
    PutKey(key, static_cast<uint8_t>((before ? kHasOld : 0) | (after ? kHasNew : 0)));
    PutBytes(blob_, name.data(), name.size());
    for (const Value *value : {before, after}) {
        if (value == nullptr) continue;
        PutVarint(blob_, value->type);
        PutBytes(blob_, value->data, value->bytes);
    }
}

LONG ChangeRecord::Write() {
    if (count_ == 0 || room_ == Room::kNoHistory) return ERROR_SUCCESS;
    // The last revision given and the bound, in one statement.
    Retention bound = kDefaultRetention;
    int64_t last = 0;
    {
        Query state(store_,
                    "SELECT (SELECT max(revision) FROM history),"
                    " (SELECT changes FROM history_bound WHERE id = 1),"
                    " (SELECT seconds FROM history_bound WHERE id = 1)");
        const int rc = state.Step();
        if (rc != SQLITE_ROW) return MapError(rc, false);
        last = state.Int(0);
        if (!state.IsNull(1)) bound.changes = state.Int(1);
        if (!state.IsNull(2)) bound.seconds = state.Int(2);
    }
    if (room_ == Room::kMakeRoom || LowOnRoom(store_, blob_.size())) {
        // The oldest rows, until they hold as many bytes as the new one; the newest too when it
        // must, since the new row, read its revision above, follows it.
        Query oldest(store_, "SELECT revision, length(changes) FROM history ORDER BY revision");
        int64_t freed = 0, upto = 0;
        int rc;
        while (freed < static_cast<int64_t>(blob_.size()) && (rc = oldest.Step()) == SQLITE_ROW) {
            upto = oldest.Int(0);
            freed += oldest.Int(1);
        }
        if (upto != 0) {
            rc = Query(store_, kPruneCount).Bind(1, upto).Run();
            if (rc != SQLITE_DONE) return MapError(rc, true);
        }
    }
    const int64_t revision = last + count_;
    const int64_t now = NowMs();
    Writer &writer = TheWriter();
    std::string user;
    std::optional<std::string> command;
    {
        std::lock_guard lock(writer.mutex);
        user = UserName(writer);
        command = writer.command;
    }
    Query insert(store_, kInsertRow);
    insert.Bind(1, revision)
        .Bind(2, last + 1)
        .Bind(3, now)
        .Bind(4, std::string_view(program_invocation_short_name))
        .Bind(5, static_cast<int64_t>(getpid()))
        .Bind(6, user);
    if (command) {
        insert.Bind(7, *command);
    } else {
        insert.BindNull(7);
    }
    int rc = insert.BindBlob(8, blob_.data(), blob_.size()).Run();
    const bool prune = count_ >= kPruneEvery || last / kPruneEvery != revision / kPruneEvery;
    if (prune && rc == SQLITE_DONE && revision - bound.changes > 0)
        rc = Query(store_, kPruneCount).Bind(1, revision - bound.changes).Run();
    if (prune && rc == SQLITE_DONE) {
        int64_t aged = 0;
        {
            Query last_aged(store_, kLastAged);
            rc = last_aged.Bind(1, now - bound.seconds * 1000).Step();
            if (rc == SQLITE_ROW) {
                aged = last_aged.Int(0);
                rc = SQLITE_DONE;
            }
        }
        // The row just written is never among them: it is the newest.
        if (rc == SQLITE_DONE && aged != 0 && aged < revision)
            rc = Query(store_, kPruneCount).Bind(1, aged).Run();
    }
    return rc == SQLITE_DONE ? ERROR_SUCCESS : MapError(rc, true);
}

bool UnpackChanges(const void *data, size_t bytes, int64_t first, std::vector<Change> *out) {
    Reader in{static_cast<const uint8_t *>(data), static_cast<const uint8_t *>(data) + bytes};
    std::string key;
    bool have_key = false;
    for (int64_t revision = first; in.ok && in.at != in.end; ++revision) {
        const uint8_t flags = *in.at++;
        if (flags & kKeyFollows) {
            key = std::string(in.Bytes());
            have_key = true;
        }
        if (!have_key) return false;
        Change change;
        change.revision = revision;
        change.key = key;
        change.whole_key = (flags & kWholeKey) != 0;
        if (!change.whole_key) {
            change.name = std::string(in.Bytes());
            if (flags & kHasOld) change.old_value = in.Value();
            if (flags & kHasNew) change.new_value = in.Value();
        } else {
            // Nothing follows a whole key's change: its flags say which way it went.
            if (flags & kHasOld) change.old_value = StoredValue{};
            if (flags & kHasNew) change.new_value = StoredValue{};
        }
        if (!in.ok) return false;
        out->push_back(std::move(change));
    }
    return in.ok;
}

bool DiskFull(Store &store) {
    return store.db != nullptr && (sqlite3_extended_errcode(store.db) & 0xFF) == SQLITE_FULL;
}

namespace {

// The store file of a change written without its history, to be told once the registry's lock
// is let go; empty when there is none.
thread_local std::string t_history_lost;

}  // namespace

void TellHistoryLost(Store &store) {
    const char *file = sqlite3_db_filename(store.db, "main");
    t_history_lost.assign(file != nullptr && *file != '\0' ? file : "(in memory)");
}

void TellHistoryLoss() noexcept {
    if (t_history_lost.empty()) return;
    char line[1024];
    std::snprintf(line, sizeof line,
                  "tovarine: the settings store %.700s is on a full disk: a change was saved "
                  "without its history\n",
                  t_history_lost.c_str());
    t_history_lost.clear();
    tovarine::TellDiagnostic(ERROR_CANTWRITE, nullptr, line);
}

LONG ForEachChange(int64_t after_revision, bool oldest_first,
                   const std::function<bool(const Change &)> &each) {
    if (!each) return ERROR_INVALID_PARAMETER;
    return Locked([&](Globals &g) -> LONG {
        bool kept = false;
        if (LONG err = OpenForHistory(g, &kept)) return err;
        return kept ? Iterate(g.store, after_revision, oldest_first, each) : ERROR_SUCCESS;
    });
}

LONG ReadHistorySpan(HistorySpan *span) {
    if (span == nullptr) return ERROR_INVALID_PARAMETER;
    return Locked([&](Globals &g) -> LONG {
        *span = HistorySpan{};
        bool kept = false;
        if (LONG err = OpenForHistory(g, &kept)) return err;
        if (!kept) return ERROR_SUCCESS;
        if (LONG err = LastGiven(g.store, &span->last_given)) return err;
        const auto first = [&](bool oldest_first, int64_t *revision) {
            return Iterate(g.store, 0, oldest_first, [&](const Change &change) {
                *revision = change.revision;
                return false;
            });
        };
        if (LONG err = first(true, &span->oldest)) return err;
        return first(false, &span->newest);
    });
}

LONG ReadRetention(Retention *retention) {
    if (retention == nullptr) return ERROR_INVALID_PARAMETER;
    return Locked([&](Globals &g) -> LONG {
        *retention = kDefaultRetention;
        bool kept = false;
        if (LONG err = OpenForHistory(g, &kept)) return err;
        if (kept) *retention = ReadBound(g.store);
        return ERROR_SUCCESS;
    });
}

LONG SetRetention(const Retention &retention) {
    if (retention.changes < 1 || retention.seconds < 1 ||
        retention.seconds > INT64_MAX / 1000 - NowMs())
        return ERROR_INVALID_PARAMETER;
    return Locked([&](Globals &g) -> LONG {
        if (LONG err = EnsureOpen(g, true)) return err;
        Store &store = g.store;
        if (!store.history) {
            if (LONG err = AddHistory(store, true)) return err;
            if (!store.history) return ERROR_CANTWRITE;
        }
        Transaction txn(store);
        if (LONG err = txn.Begin()) return err;
        int64_t last = 0;
        if (LONG err = LastGiven(store, &last)) return err;
        int rc =
            Query(store, kSetBound).Bind(1, retention.changes).Bind(2, retention.seconds).Run();
        if (rc == SQLITE_DONE)
            rc = Query(store, kPruneCount).Bind(1, last - retention.changes).Run();
        if (rc == SQLITE_DONE)
            rc = Query(store, kPruneAllAged).Bind(1, NowMs() - retention.seconds * 1000).Run();
        if (rc != SQLITE_DONE) return MapError(rc, true);
        return txn.Commit();
    });
}

void KeepHistory(bool keep) { g_keep_history.store(keep, std::memory_order_relaxed); }

void SetChangeCommand(std::optional<std::string> command) {
    Writer &writer = TheWriter();
    std::lock_guard lock(writer.mutex);
    writer.command = std::move(command);
}

}  // namespace tovarine::registry
