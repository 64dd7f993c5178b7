// The store's history: what a write transaction changed below the settings root, recorded in the
// same transaction as one row of the history table, and the bound the history is pruned to.
//
// A row holds the changes of one commit, packed into one blob, under the revision of its last
// change (`first` is its first change's): a save of n settings writes one row, not n, so that
// keeping history costs a save little beyond its own writes. A commit's revisions follow the
// newest row's, and no pruning ever deletes the newest row, so that no revision is given twice.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/posix/registry_db.h"
#include "platform/posix/registry_store.h"

namespace tovarine::registry {

// The history's tables. A store made by an earlier release gets them at an open that can take
// the write lock (AddHistory); an earlier release ignores them, and its writes go unrecorded.
std::string HistorySchema();

// Lays the history's tables out in a store that lacks them, inside a transaction of its own,
// unless the store is busy or read-only (then at a later open). Sets `store.history`.
// ERROR_SUCCESS unless the store failed.
LONG AddHistory(Store &store, bool wait);

// How a write transaction keeps its history when the disk is full.
enum class Room {
    kAsUsual,    // the row is added, the history pruned to its bound
    kMakeRoom,   // the oldest rows, at least as large as the new one, go first in the same
                 // transaction, so that the new row takes their pages instead of growing the file
    kNoHistory,  // the change is written without its row, and the host is told
};

// The changes of one write transaction. Each is added as it is written; Write() stores them as
// one row before the commit, and prunes the history to its bound. Nothing is kept when the store
// keeps no history or when nothing below the settings root changed.
class ChangeRecord {
public:
    explicit ChangeRecord(Store &store, Room room = Room::kAsUsual) : store_(store), room_(room) {}
    ChangeRecord(const ChangeRecord &) = delete;
    ChangeRecord &operator=(const ChangeRecord &) = delete;

    // The path below the settings root of the key `id` into `*path`, or nullptr when its changes
    // are not recorded (the key is not below the root, or the store keeps no history).
    LONG PathOf(int64_t id, const std::string **path);

    void KeyMade(const std::string &key);
    void KeyDeleted(const std::string &key);
    // A value of `key` changed: `before` null when it is new, `after` null when it is deleted.
    struct Value {
        DWORD type;
        const BYTE *data;
        size_t bytes;
    };
    void ValueChanged(const std::string &key, std::string_view name, const Value *before,
                      const Value *after);

    bool Empty() const { return count_ == 0; }
    // Stores the changes as one row of the history and prunes it, within the transaction.
    LONG Write();

private:
    void PutKey(const std::string &key, uint8_t flags);
    Store &store_;
    Room room_;
    std::string blob_;
    int64_t count_ = 0;
    const std::string *last_key_ = nullptr;
};

// Whether the last failure of the store's connection was a full disk. Asked before the failed
// transaction is rolled back, which clears it.
bool DiskFull(Store &store);

// Tells the host that a change was written without its history, for a full disk.
void TellHistoryLost(Store &store);

// Runs the write transaction `attempt(room, &full)` again while it fails for a full disk that its
// history took part in (it sets `full`): first making room from the oldest history, then
// without history. A change is worth more than the record of it: a save that found room before
// history was kept finds it still. ERROR_SUCCESS or the last attempt's error.
template <typename Attempt>
LONG WithRoomFromHistory(Store &store, Attempt attempt) {
    LONG err = ERROR_SUCCESS;
    for (const Room room : {Room::kAsUsual, Room::kMakeRoom, Room::kNoHistory}) {
        bool full = false;
        err = attempt(room, &full);
        if (err == ERROR_SUCCESS) {
            if (room == Room::kNoHistory) TellHistoryLost(store);
            return err;
        }
        if (!full) return err;
    }
    return err;
}

// Decodes a row's packed changes into `out`, numbered from `first`; false when the blob is not
// one this store writes (the row is then skipped).
bool UnpackChanges(const void *data, size_t bytes, int64_t first, std::vector<Change> *out);

}  // namespace tovarine::registry
