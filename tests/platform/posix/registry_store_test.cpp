// The POSIX registry beyond single calls: exclusive creation of new keys, handles that are
// closed or discarded, backups and checks of the store, and the folders made for it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/posix/registry_store.h"
#include "store_fixture.h"
#include "platform/posix/win32.h"

namespace {

namespace fs = std::filesystem;
namespace registry = tovarine::registry;
const HKEY kUser = HKEY_CURRENT_USER;

LONG Create(const char *path, HKEY *key, DWORD *disposition = nullptr, HKEY parent = kUser) {
    return RegCreateKeyExA(parent, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key, disposition);
}
LONG Open(const char *path, HKEY *key) { return RegOpenKeyExA(kUser, path, 0, KEY_READ, key); }
LONG SetText(HKEY key, const char *name, const std::string &text) {
    return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(text.c_str()),
                          static_cast<DWORD>(text.size() + 1));
}
// The text of value `name` of key `path`, or "(error N)".
std::string Text(const char *path, const char *name) {
    HKEY key = nullptr;
    LONG err = Open(path, &key);
    char text[256] = "";
    DWORD bytes = sizeof text;
    if (err == 0) err = RegQueryValueExA(key, name, nullptr, nullptr, (BYTE *)text, &bytes);
    if (key) RegCloseKey(key);
    return err ? "(error " + std::to_string(err) + ")" : text;
}
std::vector<std::string> Subkeys(const char *path) {
    HKEY key = nullptr;
    std::vector<std::string> names;
    if (Open(path, &key) != 0) return names;
    char name[256];
    for (DWORD chars = sizeof name;
         RegEnumKeyExA(key, names.size(), name, &chars, nullptr, nullptr, nullptr, nullptr) == 0;
         chars = sizeof name)
        names.emplace_back(name);
    RegCloseKey(key);
    return names;
}
using tovarine::store_testing::Contents;

class RegistryStore : public tovarine::store_testing::FreshStoreTest {};

// Two handles of this process told "created new" for one key: the first commit makes it, the
// second finds it made and writes nothing, whichever call commits.
TEST_F(RegistryStore, OnlyTheFirstOfTwoCreatorsMakesTheKey) {
    const struct {
        const char *key;
        LONG (*commit)(HKEY);
    } cases[] = {{"Race\\Box 1", RegCloseKey}, {"Race\\Box 2", RegFlushKey}};
    for (const auto &c : cases) {
        HKEY first = nullptr, second = nullptr;
        DWORD disposition[2] = {};
        ASSERT_EQ(Create(c.key, &first, &disposition[0]), 0);
        ASSERT_EQ(Create(c.key, &second, &disposition[1]), 0);
        EXPECT_EQ(disposition[0], REG_CREATED_NEW_KEY);
        EXPECT_EQ(disposition[1], REG_CREATED_NEW_KEY);
        ASSERT_EQ(SetText(first, "who", "first"), 0);
        ASSERT_EQ(SetText(second, "who", "second"), 0);
        ASSERT_EQ(SetText(second, "only", "second"), 0);
        EXPECT_EQ(c.commit(first), 0) << c.key;
        EXPECT_EQ(c.commit(second), ERROR_ALREADY_EXISTS) << c.key;
        if (c.commit == RegFlushKey) {
            // Its writes are gone, and it addresses no key.
            EXPECT_EQ(RegQueryValueExA(second, "who", nullptr, nullptr, nullptr, nullptr),
                      ERROR_KEY_DELETED);
            EXPECT_EQ(RegCloseKey(second), 0);
            EXPECT_EQ(RegCloseKey(first), 0);
        } else {
            EXPECT_EQ(RegCloseKey(second), ERROR_INVALID_HANDLE);  // closed all the same
        }
        EXPECT_EQ(Text(c.key, "who"), "first");
        EXPECT_EQ(Text(c.key, "only"), "(error 2)");
    }
    // The key exists now: the creator opens it, and its commit writes as usual.
    HKEY again = nullptr;
    DWORD disposition = 0;
    ASSERT_EQ(Create("Race\\Box 1", &again, &disposition), 0);
    EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
    ASSERT_EQ(SetText(again, "who", "again"), 0);
    EXPECT_EQ(RegCloseKey(again), 0);
    EXPECT_EQ(Text("Race\\Box 1", "who"), "again");

    // Committed together with another handle: nothing of either is written.
    HKEY late = nullptr, early = nullptr, other = nullptr;
    ASSERT_EQ(Create("Race\\Box 3", &late), 0);
    ASSERT_EQ(Create("Race\\Box 3", &early), 0);
    ASSERT_EQ(Open("Race\\Box 1", &other), 0);
    ASSERT_EQ(RegCloseKey(early), 0);
    ASSERT_EQ(SetText(other, "who", "together"), 0);
    const HKEY both[] = {other, late};
    EXPECT_EQ(registry::CommitTogether(both, 2), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(RegCloseKey(other), 0);
    EXPECT_EQ(RegCloseKey(late), 0);
    EXPECT_EQ(Text("Race\\Box 1", "who"), "again");
    EXPECT_EQ(Subkeys("Race"), (std::vector<std::string>{"Box 1", "Box 2", "Box 3"}));

    // A handle named twice in one commit is one creator, not two.
    ASSERT_EQ(Create("Race\\Box 4", &late), 0);
    ASSERT_EQ(SetText(late, "who", "twice"), 0);
    const HKEY twice[] = {late, late};
    EXPECT_EQ(registry::CommitTogether(twice, 2), 0);
    EXPECT_EQ(RegCloseKey(late), 0);
    EXPECT_EQ(Text("Race\\Box 4", "who"), "twice");
}

// Processes that all were told "created new" commit at once: exactly one makes the key.
TEST_F(RegistryStore, OnlyOneOfManyProcessesMakesANewKey) {
    constexpr int kRacers = 4;
    int ready[2], go[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(go), 0);
    registry::CloseStore();
    std::vector<pid_t> racers;
    for (int i = 0; i < kRacers; ++i) {
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid > 0) {
            racers.push_back(pid);
            continue;
        }
        alarm(60);  // a hang fails the test rather than blocking it
        close(ready[0]);
        close(go[1]);
        HKEY key = nullptr;
        DWORD disposition = 0;
        const bool created = Create("Race\\Box 7", &key, &disposition) == 0 &&
                             disposition == REG_CREATED_NEW_KEY &&
                             SetText(key, "who", std::to_string(i)) == 0;
        char byte = 0;
        const bool started = write(ready[1], "r", 1) == 1 && read(go[0], &byte, 1) == 0;
        if (!created || !started) _exit(1);
        const LONG err = RegCloseKey(key);
        _exit(err == 0 ? 0 : err == ERROR_ALREADY_EXISTS ? 3 : 1);
    }
    close(ready[1]);
    close(go[0]);
    char byte = 0;
    for (int i = 0; i < kRacers; ++i) ASSERT_EQ(read(ready[0], &byte, 1), 1);
    close(go[1]);  // every racer holds its handle: let them all commit
    close(ready[0]);
    std::vector<int> results;
    int winner = -1;
    for (int i = 0; i < kRacers; ++i) {
        int status = 0;
        ASSERT_EQ(waitpid(racers[i], &status, 0), racers[i]);
        ASSERT_TRUE(WIFEXITED(status)) << status;
        results.push_back(WEXITSTATUS(status));
        if (results.back() == 0) winner = i;
    }
    std::vector<int> sorted = results;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(sorted, (std::vector<int>{0, 3, 3, 3}));
    EXPECT_EQ(Text("Race\\Box 7", "who"), std::to_string(winner));
    EXPECT_EQ(Subkeys("Race"), std::vector<std::string>{"Box 7"});
}

TEST_F(RegistryStore, ClosedAndDiscardedHandlesReachNoKey) {
    HKEY kept = nullptr, made = nullptr, stale = nullptr;
    ASSERT_EQ(Create("Kept", &kept), 0);
    ASSERT_EQ(RegCloseKey(kept), 0);
    ASSERT_EQ(Open("Kept", &stale), 0);
    ASSERT_EQ(RegCloseKey(stale), 0);
    // Later handles, whatever their state's address, are never the closed one.
    std::vector<HKEY> later(64);
    for (HKEY &key : later) {
        ASSERT_EQ(Open("Kept", &key), 0);
        EXPECT_NE(key, stale);
    }
    EXPECT_EQ(SetText(stale, "v", "stale"), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegFlushKey(stale), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(stale), ERROR_INVALID_HANDLE);
    EXPECT_EQ(registry::DiscardKey(stale), ERROR_INVALID_HANDLE);
    for (HKEY key : later) EXPECT_EQ(RegCloseKey(key), 0);
    EXPECT_EQ(Text("Kept", "v"), "(error 2)");

    // Discarded: a key still to be made is not made, a value set is not written.
    ASSERT_EQ(Open("Kept", &kept), 0);
    ASSERT_EQ(Create("New\\Sub", &made), 0);
    ASSERT_EQ(SetText(kept, "v", "dropped"), 0);
    ASSERT_EQ(SetText(made, "v", "dropped"), 0);
    EXPECT_EQ(registry::DiscardKey(kept), 0);
    EXPECT_EQ(registry::DiscardKey(made), 0);
    EXPECT_EQ(registry::DiscardKey(made), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(kept), ERROR_INVALID_HANDLE);
    EXPECT_EQ(registry::DiscardKey(kUser), 0);
    EXPECT_EQ(Text("Kept", "v"), "(error 2)");
    EXPECT_EQ(Open("New", &made), ERROR_FILE_NOT_FOUND);
}

// A backup taken while another program holds an old read open: the copy has every commit and
// stands alone, while the live store's file alone is then short of the last commit.
TEST_F(RegistryStore, BackupIsAWholeSelfContainedCopy) {
    const fs::path store = dir_ / "registry.db", copy = dir_ / "copy.db";
    HKEY key = nullptr;
    ASSERT_EQ(Create("Data", &key), 0);
    for (int i = 0; i < 100; ++i) ASSERT_EQ(SetText(key, std::to_string(i).c_str(), "x"), 0);
    ASSERT_EQ(RegCloseKey(key), 0);
    registry::StoreCheck check;
    ASSERT_EQ(registry::CheckStore(store.string(), &check), 0);
    EXPECT_TRUE(check.problems.empty());
    EXPECT_EQ(check.journal, "wal");
    EXPECT_TRUE(check.self_contained);

    sqlite3 *reader = nullptr;
    ASSERT_EQ(sqlite3_open(store.c_str(), &reader), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(reader, "BEGIN; SELECT count(*) FROM vals", nullptr, nullptr, nullptr),
              SQLITE_OK);
    ASSERT_EQ(Open("Data", &key), 0);
    ASSERT_EQ(SetText(key, "late", "y"), 0);
    ASSERT_EQ(RegCloseKey(key), 0);  // committed; its pages stay in the log for the reader
    ASSERT_EQ(registry::CheckStore(store.string(), &check), 0);
    EXPECT_TRUE(check.problems.empty());
    EXPECT_FALSE(check.self_contained);

    std::ofstream(dir_ / "copy.db") << "an older file, replaced whole";
    fs::permissions(copy, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                              fs::perms::others_read);
    const mode_t umask_before = umask(022);
    ASSERT_EQ(registry::BackupStore(copy.string()), 0);
    sqlite3_exec(reader, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(reader);
    const std::string before = Contents(copy);
    ASSERT_EQ(registry::CheckStore(copy.string(), &check), 0);
    EXPECT_TRUE(check.problems.empty());
    EXPECT_EQ(check.journal, "delete");
    EXPECT_TRUE(check.self_contained);
    EXPECT_TRUE(Contents(copy) == before);  // checked without a change
    EXPECT_FALSE(fs::exists(dir_ / "copy.db-wal"));
    EXPECT_FALSE(fs::exists(dir_ / "copy.db.partial"));
    // No wider than the store (0600), whatever the umask lets through or the older file had;
    // a store its group may read gives copies its group may read.
    const auto wider = fs::perms::group_all | fs::perms::others_all;
    EXPECT_EQ(fs::status(copy).permissions() & wider, fs::perms::none);
    fs::permissions(store, fs::perms::group_read, fs::perm_options::add);
    ASSERT_EQ(registry::BackupStore(copy.string()), 0);
    EXPECT_EQ(fs::status(copy).permissions() & wider, fs::perms::group_read);
    fs::permissions(store, fs::perms::group_read, fs::perm_options::remove);
    umask(umask_before);
    UseStore(copy);
    EXPECT_EQ(Text("Data", "late"), "y");
    EXPECT_EQ(Text("Data", "99"), "x");
    UseStore(store);

    // The next commit, with no reader left, puts the whole log into the file.
    ASSERT_EQ(SetText(kUser, "after", "z"), 0);
    ASSERT_EQ(registry::CheckStore(store.string(), &check), 0);
    EXPECT_TRUE(check.self_contained);
    registry::CloseStore();  // and with no connection left (no log, maybe no index)
    const std::string closed = Contents(store);
    ASSERT_EQ(registry::CheckStore(store.string(), &check), 0);
    EXPECT_TRUE(Contents(store) == closed);
    EXPECT_TRUE(check.problems.empty());
    EXPECT_TRUE(check.self_contained);
    EXPECT_EQ(check.journal, "wal");

    // Where a copy must not go: over the store itself, beside another database's journal, into
    // a missing folder.
    std::ofstream(dir_ / "busy.db-journal") << "x";
    EXPECT_EQ(registry::BackupStore(store.string()), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(registry::BackupStore((dir_ / "busy.db").string()), ERROR_ALREADY_EXISTS);
    EXPECT_NE(registry::BackupStore((dir_ / "no" / "copy.db").string()), 0);
    EXPECT_FALSE(fs::exists(dir_ / "busy.db"));
}

TEST_F(RegistryStore, ChecksReportWhatIsWrongAndChangeNothing) {
    HKEY key = nullptr;
    ASSERT_EQ(Create("Software", &key), 0);
    ASSERT_EQ(SetText(key, "v", std::string(3000, 'v')), 0);
    ASSERT_EQ(RegCloseKey(key), 0);
    registry::CloseStore();
    const fs::path damaged = dir_ / "damaged.db", text = dir_ / "text.db";
    fs::copy_file(dir_ / "registry.db", damaged);
    std::fstream(damaged, std::ios::in | std::ios::out | std::ios::binary)
        .seekp(4096)
        .write(std::string(4096, '\xFF').data(), 4096);
    std::ofstream(text) << std::string(8192, 'x');
    const struct {
        fs::path file;
        LONG expected;
    } cases[] = {{damaged, ERROR_REGISTRY_CORRUPT},
                 {text, ERROR_BADDB},
                 {dir_ / "missing.db", ERROR_CANTOPEN}};
    for (const auto &c : cases) {
        const bool existed = fs::exists(c.file);
        const std::string before = existed ? Contents(c.file) : "";
        registry::StoreCheck check;
        const LONG err = registry::CheckStore(c.file.string(), &check);
        EXPECT_EQ(err, c.expected) << c.file;
        EXPECT_FALSE(check.problems.empty()) << c.file;
        EXPECT_EQ(fs::exists(c.file), existed) << c.file;
        if (existed) {
            EXPECT_TRUE(Contents(c.file) == before) << c.file;
        }
    }
    EXPECT_EQ(registry::CheckStore("x", nullptr), ERROR_INVALID_PARAMETER);
}

TEST_F(RegistryStore, MissingFoldersAreMadeForTheOwnerOnly) {
    const fs::path store = dir_ / "a" / "b" / "c" / "registry.db";
    UseStore(store);
    ASSERT_EQ(SetText(kUser, "v", "x"), 0);
    for (const fs::path &folder : {dir_ / "a", dir_ / "a" / "b", dir_ / "a" / "b" / "c"}) {
        ASSERT_TRUE(fs::is_directory(folder)) << folder;
        EXPECT_EQ(fs::status(folder).permissions() & fs::perms::all, fs::perms::owner_all)
            << folder;
    }
    EXPECT_EQ(fs::status(store).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
}

// A file system whose files offer no shared memory (methods of the first version): the store's
// own file layer must not offer SQLite shared-memory calls those files lack.
sqlite3_io_methods g_no_shm_methods;
sqlite3_vfs g_no_shm_vfs;

int OpenWithoutSharedMemory(sqlite3_vfs *vfs, const char *name, sqlite3_file *file, int flags,
                            int *out_flags) {
    auto *real = static_cast<sqlite3_vfs *>(vfs->pAppData);
    const int rc = real->xOpen(real, name, file, flags, out_flags);
    if (file->pMethods != nullptr) {
        g_no_shm_methods = *file->pMethods;
        g_no_shm_methods.iVersion = 1;
        g_no_shm_methods.xShmMap = nullptr;
        g_no_shm_methods.xShmLock = nullptr;
        g_no_shm_methods.xShmBarrier = nullptr;
        g_no_shm_methods.xShmUnmap = nullptr;
        file->pMethods = &g_no_shm_methods;
    }
    return rc;
}

// In a process of its own: the store's file layer is set up once per process, over the file
// system that is the default when the store is first opened.
TEST(RegistryFileLayer, StoresOnFilesWithoutSharedMemoryWork) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const fs::path folder =
        fs::temp_directory_path() / ("tovarine-noshm-" + std::to_string(getpid()));
    EXPECT_EXIT(
        {
            sqlite3_vfs *real = sqlite3_vfs_find(nullptr);
            g_no_shm_vfs = *real;
            g_no_shm_vfs.zName = "tovarine-test-no-shm";
            g_no_shm_vfs.pAppData = real;
            g_no_shm_vfs.pNext = nullptr;
            g_no_shm_vfs.xOpen = OpenWithoutSharedMemory;
            sqlite3_vfs_register(&g_no_shm_vfs, 1);
            setenv("TOVARINE_REGISTRY", (folder / "registry.db").c_str(), 1);
            HKEY key = nullptr;
            bool ok = Create("Software\\NoShm", &key) == 0 && SetText(key, "v", "kept") == 0 &&
                      RegCloseKey(key) == 0;
            ok = ok && Text("Software\\NoShm", "v") == "kept";
            std::_Exit(ok ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
    fs::remove_all(folder);
}

}  // namespace
