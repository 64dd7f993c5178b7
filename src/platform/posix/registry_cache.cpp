// Finding keys and reading the store cheaply: key lookups by name, the key ids kept while the
// store is unchanged, the stamp that tells whether it changed, and the read batches in which a
// thread's calls share one read transaction. Also the count of statement steps tests take.
#include <pthread.h>
#include <sqlite3.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/posix/registry_internal.h"
#include "platform/posix/registry_store.h"
#include "platform/posix/registry_test_controls.h"

namespace tovarine::registry {

namespace {

// At most this many key ids are kept; the list starts again when full.
constexpr size_t kMaxKeyIds = 1024;

// How many read batches the calling thread has open (BeginReadBatch less EndReadBatch), and
// whether it has paused them: then each call's reads end with the call again, until a batch
// begins anew or the last one ends.
thread_local int t_read_batches = 0;
thread_local bool t_reads_paused = false;

}  // namespace

bool InReadBatch() { return t_read_batches > 0 && !t_reads_paused; }

void StartRead(Globals &g) { BeginRead(g.store, pthread_self()); }

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
