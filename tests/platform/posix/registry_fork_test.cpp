// The POSIX registry across fork(): a daemon that outlives the process that started it, and
// forks while other threads are inside registry calls.
#include <gtest/gtest.h>
#include <poll.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/posix/registry_store.h"
#include "store_fixture.h"
#include "platform/posix/win32.h"

namespace {

namespace fs = std::filesystem;
namespace registry = tovarine::registry;

// Saves `text` as value `name` of key `path` through a handle of its own, as a settings save
// does; true when the save was reported done.
bool Save(const std::string &path, const std::string &name, const std::string &text) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &key, nullptr) != 0)
        return false;
    const LONG set =
        RegSetValueExA(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE *>(text.c_str()),
                       static_cast<DWORD>(text.size() + 1));
    return RegCloseKey(key) == 0 && set == 0;
}
// The text of value `name` of key `path`, or "(error N)".
std::string Load(const std::string &path, const std::string &name) {
    HKEY key = nullptr;
    LONG err = RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key);
    char text[256] = "";
    DWORD bytes = sizeof text;
    if (err == 0)
        err = RegQueryValueExA(key, name.c_str(), nullptr, nullptr, reinterpret_cast<BYTE *>(text),
                               &bytes);
    if (key) RegCloseKey(key);
    return err ? "(error " + std::to_string(err) + ")" : text;
}

// Waits up to `seconds` for a byte on `fd`; true when one came.
bool ByteWithin(int fd, int seconds) {
    pollfd wait{fd, POLLIN, 0};
    char byte = 0;
    return poll(&wait, 1, seconds * 1000) == 1 && read(fd, &byte, 1) == 1 && byte == 'y';
}

// Waits for a child that ends on its own (each sets an alarm, so a hang ends it too); true when
// it exited with status 0.
bool Succeeded(pid_t pid) {
    int status = 0;
    return waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

class RegistryFork : public tovarine::store_testing::FreshStoreTest {
protected:
    void SetUp() override {
        FreshStoreTest::SetUp();
        store_ = dir_ / "registry.db";
    }
    fs::path store_;
};

// A server that used the store forks a daemon and exits; the daemon keeps saving while another
// program opens and closes the store with plain SQLite and checkpoints it, as a backup script
// would. That program must see the daemon as a user of the store: otherwise it resets the
// store's shared index under the daemon (which then dies of SIGBUS) or deletes its log (whose
// later saves, reported done, are lost).
TEST_F(RegistryFork, DaemonKeepsItsSavesAfterItsParentExits) {
    constexpr int kSaves = 40;
    int done[2];
    ASSERT_EQ(pipe(done), 0);
    const pid_t server = fork();
    ASSERT_GE(server, 0);
    if (server == 0) {
        alarm(120);
        close(done[0]);
        if (!Save("Daemon", "start", "server")) _exit(1);
        const pid_t parent = getpid();
        const pid_t daemon = fork();
        if (daemon != 0) _exit(daemon > 0 ? 0 : 1);
        for (int i = 0; i < 500 && getppid() == parent; ++i) usleep(10000);
        bool saved = getppid() != parent;
        for (int i = 0; saved && i < kSaves; ++i) {
            saved = Save("Daemon", "v" + std::to_string(i), std::to_string(i));
            usleep(5000);
        }
        if (saved && write(done[1], "y", 1) != 1) _exit(1);
        _exit(0);
    }
    close(done[1]);
    ASSERT_TRUE(Succeeded(server));

    // Another server saving at the same time, and the other program: it reads for a while at
    // times (the daemon's pages then stay in the log) and checkpoints.
    const pid_t writer = fork();
    ASSERT_GE(writer, 0);
    if (writer == 0) {
        alarm(120);
        bool saved = true;
        for (int i = 0; saved && i < kSaves; ++i) {
            saved = Save("Writer", "w" + std::to_string(i), std::to_string(i));
            usleep(5000);
        }
        _exit(saved ? 0 : 1);
    }
    std::atomic<bool> stop{false};
    int opened = 0;
    std::thread other([&] {
        for (int round = 0; !stop.load(); ++round) {
            sqlite3 *db = nullptr;
            if (sqlite3_open(store_.c_str(), &db) == SQLITE_OK) {
                sqlite3_busy_timeout(db, 1000);
                if (round % 2 == 0) {
                    sqlite3_exec(db, "BEGIN; SELECT count(*) FROM vals", nullptr, nullptr, nullptr);
                    usleep(20000);
                    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
                } else {
                    sqlite3_exec(db, "PRAGMA wal_checkpoint(TRUNCATE)", nullptr, nullptr, nullptr);
                }
                ++opened;
            }
            sqlite3_close(db);
            usleep(1000);
        }
    });
    const bool daemon_done = ByteWithin(done[0], 120);
    const bool writer_done = Succeeded(writer);
    stop = true;
    other.join();
    close(done[0]);
    ASSERT_TRUE(daemon_done) << "the daemon failed a save or died";
    ASSERT_TRUE(writer_done);
    EXPECT_GT(opened, 0);

    const pid_t later = fork();
    ASSERT_GE(later, 0);
    if (later == 0) {
        alarm(60);
        _exit(Save("Daemon", "after", "later") ? 0 : 1);
    }
    ASSERT_TRUE(Succeeded(later));
    int lost = 0;
    for (int i = 0; i < kSaves; ++i) {
        lost += Load("Daemon", "v" + std::to_string(i)) != std::to_string(i);
        lost += Load("Writer", "w" + std::to_string(i)) != std::to_string(i);
    }
    EXPECT_EQ(lost, 0);
    EXPECT_EQ(Load("Daemon", "after"), "later");
    registry::CloseStore();
    registry::StoreCheck check;
    ASSERT_EQ(registry::CheckStore(store_.string(), &check), 0);
    EXPECT_TRUE(check.problems.empty());
}

// Forks while another thread loops over registry calls: every child can save and load at once,
// and so can the parent after.
TEST_F(RegistryFork, ChildrenOfABusyProcessCanUseTheStore) {
    constexpr int kForks = 12;
    ASSERT_TRUE(Save("Busy", "n", "0"));
    std::atomic<bool> stop{false};
    std::atomic<int> rounds{0};
    std::thread busy([&] {
        for (int n = 1; !stop.load(); ++n, ++rounds)
            if (!Save("Busy", "n", std::to_string(n)) || Load("Busy", "n") != std::to_string(n))
                break;
    });
    while (rounds.load() == 0) usleep(1000);
    for (int i = 0; i < kForks; ++i) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            alarm(30);  // a child stuck on the registry's lock fails here
            const std::string name = "c" + std::to_string(i);
            _exit(Save("Children", name, name) && Load("Children", name) == name ? 0 : 1);
        }
        EXPECT_TRUE(Succeeded(child)) << "child " << i;
        usleep(2000);
    }
    stop = true;
    busy.join();
    EXPECT_TRUE(Save("Busy", "n", "last"));
    EXPECT_EQ(Load("Busy", "n"), "last");
    for (int i = 0; i < kForks; ++i) {
        const std::string name = "c" + std::to_string(i);
        EXPECT_EQ(Load("Children", name), name);
    }
}

}  // namespace
