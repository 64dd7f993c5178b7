// The store's history: what each commit below the settings root records, under many processes
// and across fork(), what a failed write leaves, the bound, and stores laid out without it.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "module/registry_names.h"
#include "platform/posix/registry_store.h"
#include "platform/posix/win32.h"
#include "store_fixture.h"

namespace {

namespace registry = tovarine::registry;
using tovarine::store_testing::FreshStoreTest;

const std::string kRoot = tovarine::kSettingsRootPath;

std::string Under(const std::string &key) { return kRoot + "\\" + key; }

// Writes `values` (name, text; a null text deletes the value) into `path` through one handle,
// committed when it is closed.
LONG Write(const std::string &path,
           const std::vector<std::pair<std::string, const char *>> &values) {
    HKEY key = nullptr;
    LONG err = RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                               nullptr, &key, nullptr);
    if (err) return err;
    for (const auto &[name, text] : values) {
        err = text ? RegSetValueExA(key, name.c_str(), 0, REG_SZ,
                                    reinterpret_cast<const BYTE *>(text),
                                    static_cast<DWORD>(strlen(text) + 1))
                   : registry::DeleteValueLater(key, name);
        if (err) break;
    }
    const LONG closed = RegCloseKey(key);
    return err ? err : closed;
}

std::string Text(const std::optional<registry::StoredValue> &value) {
    if (!value) return "-";
    return std::string(
        reinterpret_cast<const char *>(value->data.data()),
        strnlen(reinterpret_cast<const char *>(value->data.data()), value->data.size()));
}

// The history oldest first, a change a line: "KEY NAME OLD>NEW", "KEY +" and "KEY -" for a key
// made and deleted.
std::vector<std::string> History(std::vector<registry::Change> *changes = nullptr) {
    std::vector<std::string> lines;
    EXPECT_EQ(registry::ForEachChange(
                  0, true,
                  [&](const registry::Change &change) {
                      if (changes) changes->push_back(change);
                      if (change.whole_key) {
                          lines.push_back(change.key + (change.new_value ? " +" : " -"));
                      } else {
                          lines.push_back(change.key + " " + change.name + " " +
                                          Text(change.old_value) + ">" + Text(change.new_value));
                      }
                      return true;
                  }),
              ERROR_SUCCESS);
    return lines;
}

using HistoryTest = FreshStoreTest;

TEST_F(HistoryTest, RecordsEachChangeBelowTheRootOnceAndNothingElse) {
    ASSERT_EQ(Write("SOFTWARE\\Elsewhere", {{"port", "1"}}), ERROR_SUCCESS);
    ASSERT_EQ(Write(Under("Srv 0"), {{"port", "80"}, {"Title", "lobby"}}), ERROR_SUCCESS);
    // A save rewrites every value; only the one that differs is a change. Names match in any
    // letter case and keep their first spelling.
    ASSERT_EQ(Write(Under("Srv 0"), {{"PORT", "8080"}, {"title", "lobby"}}), ERROR_SUCCESS);
    ASSERT_EQ(Write(Under("Srv 0"), {{"port", "8080"}, {"title", "lobby"}}), ERROR_SUCCESS);
    ASSERT_EQ(Write(Under("Srv 0"), {{"title", nullptr}, {"gone", nullptr}}), ERROR_SUCCESS);
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, Under("Srv 0").c_str(), 0, KEY_ALL_ACCESS, &key),
              ERROR_SUCCESS);
    ASSERT_EQ(RegDeleteValueA(key, "port"), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key, "x", 0, REG_SZ, reinterpret_cast<const BYTE *>("1"), 2), 0);
    ASSERT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    ASSERT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, Under("Srv 0").c_str()), ERROR_SUCCESS);

    std::vector<registry::Change> changes;
    const std::vector<std::string> expected = {"Srv 0 +",
                                               "Srv 0 port ->80",
                                               "Srv 0 Title ->lobby",
                                               "Srv 0 port 80>8080",
                                               "Srv 0 Title lobby>-",
                                               "Srv 0 port 8080>-",
                                               "Srv 0 x ->1",
                                               "Srv 0 x 1>-",
                                               "Srv 0 -"};
    EXPECT_EQ(History(&changes), expected);
    for (size_t i = 0; i < changes.size(); ++i) {
        EXPECT_EQ(changes[i].revision, static_cast<int64_t>(i + 1));
        EXPECT_EQ(changes[i].pid, getpid());
        EXPECT_FALSE(changes[i].command);
        EXPECT_FALSE(changes[i].user.empty());
    }
    registry::HistorySpan span;
    ASSERT_EQ(registry::ReadHistorySpan(&span), ERROR_SUCCESS);
    EXPECT_EQ(span.oldest, 1);
    EXPECT_EQ(span.newest, static_cast<int64_t>(expected.size()));
    EXPECT_EQ(span.last_given, span.newest);
}

TEST_F(HistoryTest, AFailedOrDroppedWriteLeavesNoHistory) {
    ASSERT_EQ(Write(Under("Srv 0"), {{"port", "80"}}), ERROR_SUCCESS);
    const std::vector<std::string> before = History();
    // Two handles to make the same new key: the second's commit finds it made and is refused.
    HKEY first = nullptr, second = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, Under("Srv 1").c_str(), 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &first, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, Under("Srv 1").c_str(), 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &second, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(second, "port", 0, REG_SZ, reinterpret_cast<const BYTE *>("1"), 2), 0);
    ASSERT_EQ(RegCloseKey(first), ERROR_SUCCESS);
    const std::vector<std::string> made = History();
    HKEY both[] = {second};
    EXPECT_EQ(registry::CommitTogether(both, 1), ERROR_ALREADY_EXISTS);
    RegCloseKey(second);
    EXPECT_EQ(History(), made);
    // Writes dropped before their commit.
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, Under("Srv 0").c_str(), 0, KEY_ALL_ACCESS, &key), 0);
    ASSERT_EQ(RegSetValueExA(key, "port", 0, REG_SZ, reinterpret_cast<const BYTE *>("9"), 2), 0);
    ASSERT_EQ(registry::DeleteKeyLater(key), ERROR_SUCCESS);
    ASSERT_EQ(registry::DiscardKey(key), ERROR_SUCCESS);
    EXPECT_EQ(History(), made);
    ASSERT_EQ(made.size(), before.size() + 1);
}

// A server keeps what it wrote, to know what each value was at its next save; a write of another
// program in between (here one that keeps no history, as an earlier release) must still be the
// "before" of that save.
TEST_F(HistoryTest, AnotherProgramsWriteBetweenTwoSavesIsWhatTheSecondChanges) {
    ASSERT_EQ(Write(Under("Srv 0"), {{"port", "80"}}), ERROR_SUCCESS);
    sqlite3 *db = nullptr;
    ASSERT_EQ(sqlite3_open((dir_ / "registry.db").c_str(), &db), SQLITE_OK);
    sqlite3_busy_timeout(db, 5000);
    ASSERT_EQ(sqlite3_exec(db,
                           "UPDATE vals SET data = CAST('81' || char(0) AS BLOB)"
                           " WHERE folded = 'PORT'",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
    ASSERT_EQ(Write(Under("Srv 0"), {{"port", "82"}}), ERROR_SUCCESS);
    const std::vector<std::string> expected = {"Srv 0 +", "Srv 0 port ->80", "Srv 0 port 81>82"};
    EXPECT_EQ(History(), expected);
}

// Processes, each forked from one that already used the store, save at once: every change is
// recorded once, revisions follow the order of the commits (each change's before is the after of
// the change of that value just before it), and nothing stored lacks its row.
TEST_F(HistoryTest, ManyProcessesSavingAtOnceRecordEveryChangeOnceInCommitOrder) {
    constexpr int kProcesses = 6, kSaves = 40;
    ASSERT_EQ(Write(Under("Shared 0"), {{"n", "start"}}), ERROR_SUCCESS);
    std::vector<pid_t> children;
    for (int p = 0; p < kProcesses; ++p) {
        const pid_t child = fork();
        if (child == 0) {
            alarm(60);
            for (int s = 0; s < kSaves; ++s) {
                const std::string text = std::to_string(p) + "/" + std::to_string(s);
                const std::string own = "p" + std::to_string(p);
                if (Write(Under("Shared 0"), {{"n", text.c_str()}, {own, text.c_str()}}) != 0)
                    _exit(1);
            }
            _exit(0);
        }
        children.push_back(child);
    }
    for (const pid_t child : children) {
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    std::vector<registry::Change> changes;
    History(&changes);
    std::map<std::string, std::string> now;  // value name -> text, replayed from the history
    std::set<std::string> seen;
    int64_t revision = 0;
    for (const registry::Change &change : changes) {
        EXPECT_EQ(change.revision, ++revision);
        if (change.whole_key) continue;
        const auto was = now.find(change.name);
        EXPECT_EQ(Text(change.old_value), was == now.end() ? "-" : was->second) << change.revision;
        now[change.name] = Text(change.new_value);
        if (change.name == "n") {
            EXPECT_TRUE(seen.insert(Text(change.new_value)).second) << "twice: " << change.revision;
        }
    }
    EXPECT_EQ(seen.size(), static_cast<size_t>(kProcesses * kSaves + 1));
    // What the store holds is what the history ends with.
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, Under("Shared 0").c_str(), 0, KEY_READ, &key), 0);
    for (const auto &[name, text] : now) {
        char held[64] = "";
        DWORD bytes = sizeof held;
        ASSERT_EQ(RegQueryValueExA(key, name.c_str(), nullptr, nullptr,
                                   reinterpret_cast<BYTE *>(held), &bytes),
                  ERROR_SUCCESS);
        EXPECT_EQ(held, text) << name;
    }
    RegCloseKey(key);
}

TEST_F(HistoryTest, TheBoundHoldsUnderTwiceItsChanges) {
    registry::Retention bound;
    ASSERT_EQ(registry::ReadRetention(&bound), ERROR_SUCCESS);
    EXPECT_EQ(bound, registry::kDefaultRetention);
    constexpr int kPerSave = 1000, kSaves = 200;  // 200,000 changes
    std::vector<std::string> texts(kPerSave);
    for (int s = 0; s < kSaves; ++s) {
        std::vector<std::pair<std::string, const char *>> values;
        for (int v = 0; v < kPerSave; ++v) {
            texts[v] = std::to_string(s);
            values.emplace_back("v" + std::to_string(v), texts[v].c_str());
        }
        ASSERT_EQ(Write(Under("Big 0"), values), ERROR_SUCCESS);
    }
    int64_t shown = 0, lowest = INT64_MAX;
    ASSERT_EQ(registry::ForEachChange(0, false,
                                      [&](const registry::Change &change) {
                                          ++shown;
                                          lowest = std::min(lowest, change.revision);
                                          return true;
                                      }),
              ERROR_SUCCESS);
    EXPECT_EQ(shown, bound.changes);
    registry::HistorySpan span;
    ASSERT_EQ(registry::ReadHistorySpan(&span), ERROR_SUCCESS);
    EXPECT_EQ(span.last_given, kPerSave * kSaves + 1);
    EXPECT_EQ(span.oldest, span.last_given - bound.changes + 1);
    EXPECT_EQ(lowest, span.oldest);
    // What is stored is pruned too, not only hidden: at most one save's row beyond the bound.
    registry::CloseStore();
    sqlite3 *db = nullptr;
    ASSERT_EQ(sqlite3_open((dir_ / "registry.db").c_str(), &db), SQLITE_OK);
    sqlite3_stmt *count = nullptr;
    ASSERT_EQ(
        sqlite3_prepare_v2(db, "SELECT count(*), min(first) FROM history", -1, &count, nullptr),
        SQLITE_OK);
    ASSERT_EQ(sqlite3_step(count), SQLITE_ROW);
    EXPECT_LE(sqlite3_column_int64(count, 0), bound.changes / kPerSave + 1);
    EXPECT_GT(sqlite3_column_int64(count, 1), span.last_given - bound.changes - kPerSave);
    sqlite3_finalize(count);
    sqlite3_close(db);

    // A smaller bound prunes at once; revisions go on from where they were.
    ASSERT_EQ(registry::SetRetention({10, 3600}), ERROR_SUCCESS);
    ASSERT_EQ(registry::ReadRetention(&bound), ERROR_SUCCESS);
    EXPECT_EQ(bound, (registry::Retention{10, 3600}));
    ASSERT_EQ(Write(Under("Big 0"), {{"v0", "last"}}), ERROR_SUCCESS);
    ASSERT_EQ(registry::ReadHistorySpan(&span), ERROR_SUCCESS);
    EXPECT_EQ(span.newest, kPerSave * kSaves + 2);
    EXPECT_EQ(span.oldest, span.newest - 9);
    EXPECT_EQ(registry::SetRetention({0, 3600}), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(registry::SetRetention({10, 0}), ERROR_INVALID_PARAMETER);
}

TEST_F(HistoryTest, ChangesOlderThanTheBoundsAgeAreNotShown) {
    ASSERT_EQ(registry::SetRetention({100, 1}), ERROR_SUCCESS);
    ASSERT_EQ(Write(Under("Srv 0"), {{"port", "80"}}), ERROR_SUCCESS);
    EXPECT_EQ(History().size(), 2u);
    sleep(2);
    ASSERT_EQ(Write(Under("Srv 0"), {{"port", "81"}}), ERROR_SUCCESS);
    const std::vector<std::string> expected = {"Srv 0 port 80>81"};
    EXPECT_EQ(History(), expected);
}

// A store laid out before history was kept: it gets the tables at its next open, keeps its keys,
// and records from then on.
TEST_F(HistoryTest, AStoreWithoutHistoryGetsItAtItsNextOpen) {
    ASSERT_EQ(Write(Under("Old 0"), {{"port", "80"}}), ERROR_SUCCESS);
    registry::CloseStore();
    sqlite3 *db = nullptr;
    ASSERT_EQ(sqlite3_open((dir_ / "registry.db").c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "DROP TABLE history; DROP TABLE history_bound;", nullptr, nullptr,
                           nullptr),
              SQLITE_OK);
    sqlite3_close(db);
    EXPECT_TRUE(History().empty());
    ASSERT_EQ(Write(Under("Old 0"), {{"port", "81"}}), ERROR_SUCCESS);
    const std::vector<std::string> expected = {"Old 0 port 80>81"};
    EXPECT_EQ(History(), expected);
}

TEST_F(HistoryTest, AStoreFilesInstancesAreReadWithTheirValues) {
    ASSERT_EQ(Write(Under("B 0"), {{"port", "80"}, {"title", "lobby"}}), ERROR_SUCCESS);
    ASSERT_EQ(Write(Under("A 0"), {{"x", "1"}}), ERROR_SUCCESS);
    const std::string backup = (dir_ / "backup.db").string();
    ASSERT_EQ(registry::BackupStore(backup), ERROR_SUCCESS);
    std::vector<registry::FileKey> keys;
    ASSERT_EQ(registry::ReadStoreFileInstances(backup, &keys), ERROR_SUCCESS);
    ASSERT_EQ(keys.size(), 2u);
    EXPECT_EQ(keys[0].name, "A 0");
    ASSERT_EQ(keys[1].values.size(), 2u);
    EXPECT_EQ(keys[1].values[1].name, "title");
    EXPECT_EQ(Text(keys[1].values[1].value), "lobby");
    EXPECT_EQ(registry::ReadStoreFileInstances((dir_ / "none.db").string(), &keys),
              ERROR_FILE_NOT_FOUND);
    std::ofstream((dir_ / "junk.db").string()) << "not a store, not at all, no";
    EXPECT_NE(registry::ReadStoreFileInstances((dir_ / "junk.db").string(), &keys), ERROR_SUCCESS);
}

}  // namespace
