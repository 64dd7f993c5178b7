// The settings calls on the POSIX store that processes share: several processes saving and
// loading at once, one killed in the middle of its saves, and a store that cannot be used.
#include <fcntl.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <set>
#include <sstream>
#include <thread>

#include "platform/posix/registry_store.h"
#include "platform/posix/registry_test_controls.h"
#include "child_processes.h"
#include "settings_fixture.h"

namespace tovarine::testing {
namespace {

namespace fs = std::filesystem;
constexpr const char *kNames[] = {"Text", "Number", "Bytes", "Label", "Count"};
std::string kPrefixOf(const std::string &subkey) { return std::string(kRoot) + "\\" + subkey; }

// The stored text of setting i of a host saved with counter c. Each tells its counter, and most
// change length with it, so that a torn value cannot pass for a whole one.
std::string Stored(int i, int64_t c) {
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(c));
    const std::string label = std::string(c % 11 + 1, static_cast<char>('a' + c % 26));
    const std::string texts[] = {"round " + std::to_string(c) + " " + std::string(c % 23, '*'),
                                 std::to_string(c), hex, label + "-" + std::to_string(c),
                                 std::to_string(-c)};
    return texts[i];
}
// The counters the key's settings hold: -1 for a missing value, -2 for a text Stored() never
// makes.
std::vector<int64_t> Counters(const std::string &key) {
    std::vector<int64_t> counters;
    for (int i = 0; i < 5; ++i) {
        const std::string text = Get(key, kNames[i]).value_or("");
        const size_t at = i == 0 ? 6 : i == 3 ? text.rfind('-') + 1 : i == 4 ? 1 : 0;
        const int64_t c =
            std::strtoll(text.c_str() + std::min(at, text.size()), nullptr, i == 2 ? 16 : 10);
        counters.push_back(!Get(key, kNames[i]) ? -1 : c >= 0 && Stored(i, c) == text ? c : -2);
    }
    return counters;
}

// A host's five settings, one of each kind, holding what a save with counter c stores.
struct Host {
    char text[64] = "", label[32] = "";
    int32_t number = 0, count = 0;
    unsigned char bytes[8] = {};
    std::vector<SettingDescriptor> table =
        Table({Setting(kNames[0], 1, 64, text), Setting(kNames[1], 4, 4, &number),
               Setting(kNames[2], 3, 8, bytes), Setting(kNames[3], 1, 32, label),
               Setting(kNames[4], 4, 4, &count)});
    explicit Host(int64_t c) : number(static_cast<int32_t>(c)), count(static_cast<int32_t>(-c)) {
        std::snprintf(text, sizeof text, "%s", Stored(0, c).c_str());
        std::snprintf(label, sizeof label, "%s", Stored(3, c).c_str());
        for (int k = 0; k < 8; ++k) bytes[k] = static_cast<unsigned char>(c >> (56 - 8 * k));
    }
    Host(const Host &) = delete;
    bool Holds(const Host &o) const {
        return std::strcmp(text, o.text) == 0 && std::strcmp(label, o.label) == 0 &&
               number == o.number && count == o.count && std::memcmp(bytes, o.bytes, 8) == 0;
    }
};

using SharedStoreTest = SettingsTest;

// Waits until the child has written `count` bytes to the pipe (one after each save); false when
// it ends first.
bool AwaitSaves(int fd, int count) {
    char byte;
    for (int done = 0; done < count; ++done) {
        if (read(fd, &byte, 1) != 1) return false;
    }
    return true;
}

// One child process: each round saves into its first instance (silent, selector 1), loads it
// back, and saves a new instance (selector -1, or qy75BB itself). Its exit status tells what
// failed: 1 a call, 2 a load.
int SaveAndLoadRounds(const std::string &name, int64_t first, int rounds) {
    for (int64_t c = first; c < first + rounds; ++c) {
        Host saved(c), loaded(0), added(c + 500);
        f9832144782(1);
        if (qy70EE(nullptr, name.c_str(), saved.table.data()) != 0 ||
            qy45AF(nullptr, name.c_str(), loaded.table.data()) != 0)
            return 1;
        if (!loaded.Holds(saved)) return 2;
        f9832144782(-1);
        HKEY root = Key(kRoot, false);
        char buffer[kSubkeyNameChars], key_class[kSubkeyNameChars];
        FILETIME written{};
        const int32_t rc = c % 2 != 0
                               ? qy189C(nullptr, name.c_str(), added.table.data(), 1)
                               : qy75BB(root, nullptr, name.c_str(), added.table.data(), buffer,
                                        kSubkeyNameChars, key_class, kSubkeyNameChars, &written);
        if (RegCloseKey(root) != ERROR_SUCCESS || rc != 0) return 1;
    }
    return 0;
}

TEST_F(SharedStoreTest, ProcessesSavingDifferentSettingsAtOnceLoseNothing) {
    constexpr int kChildren = 4, kRounds = 20;
    const std::string prefix = std::string(kRoot) + "\\", names[] = {"Ada", "Bo", "Cy", "Di"};
    RegCloseKey(Key(kRoot, true));
    registry::CloseStore();  // no connection crosses a fork
    std::vector<pid_t> children;
    for (int p = 0; p < kChildren; ++p) {
        const pid_t pid = fork();
        if (pid == 0) _exit(SaveAndLoadRounds(names[p], p * 1000, kRounds));
        children.push_back(pid);
    }
    for (const pid_t pid : children) {
        int status = -1;
        EXPECT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
            << "wait status " << status << " (exit 1: a call failed, 2: a load differed)";
    }
    // Each child's first instance holds its last save; each new instance it made is there, whole.
    for (int p = 0; p < kChildren; ++p) {
        std::multiset<int64_t> made, expected;
        for (const auto &key : Subkeys(kRoot)) {
            if (key.rfind(names[p] + " ", 0) != 0 || key == names[p] + " 0") continue;
            const auto counters = Counters(prefix + key);
            EXPECT_EQ(counters, std::vector<int64_t>(5, counters[0])) << key;
            made.insert(counters[0]);
        }
        for (int64_t c = p * 1000; c < p * 1000 + kRounds; ++c) expected.insert(c + 500);
        EXPECT_EQ(made, expected) << names[p];
        EXPECT_EQ(Counters(prefix + names[p] + " 0"),
                  std::vector<int64_t>(5, p * 1000 + kRounds - 1));
    }
}

// Several processes make new instances of one settings name at once, by name with a selector
// beyond every match and through qy75BB: each save gets a key of its own, holding its values.
TEST_F(SharedStoreTest, ConcurrentNewInstancesEachGetAKeyOfTheirOwn) {
    constexpr int kProcesses = 6, kSaves = 8;
    RegCloseKey(Key(kRoot, true));
    f9832144782(1);
    ASSERT_EQ(qy70EE(nullptr, "Race", Host(0).table.data()), 0);  // "Race 0": the rest are new
    const std::string dir = fs::path(std::getenv("TOVARINE_REGISTRY")).parent_path();
    const auto err = [&](int p) { return dir + "/child" + std::to_string(p) + ".err"; };
    const auto children = StartTogether(
        kProcesses,
        [](int p) {
            f9832144782(-1);
            for (int s = 0; s < kSaves; ++s) {
                Host host(1 + p * 100 + s);
                HKEY root = Key(kRoot, false);
                char name[kSubkeyNameChars], key_class[kSubkeyNameChars];
                FILETIME written{};
                const int32_t rc =
                    s % 2 == 0 ? qy70EE(nullptr, "Race", host.table.data())
                               : qy75BB(root, nullptr, "Race", host.table.data(), name,
                                        kSubkeyNameChars, key_class, kSubkeyNameChars, &written);
                if (RegCloseKey(root) != ERROR_SUCCESS || rc != 0) return 1;
            }
            return 0;
        },
        err);
    ASSERT_EQ(children.size(), static_cast<size_t>(kProcesses));
    for (int p = 0; p < kProcesses; ++p) {
        int status = -1;
        EXPECT_EQ(waitpid(children[p], &status, 0), children[p]);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "wait status " << status;
        EXPECT_EQ(FileText(err(p)), "") << "process " << p;
    }
    std::multiset<int64_t> found, expected = {0};
    for (int p = 0; p < kProcesses; ++p) {
        for (int s = 0; s < kSaves; ++s) expected.insert(1 + p * 100 + s);
    }
    const std::vector<std::string> keys = Subkeys(kRoot);
    for (const auto &key : keys) {
        const auto counters = Counters(kPrefixOf(key));
        EXPECT_EQ(counters, std::vector<int64_t>(5, counters[0])) << key;
        found.insert(counters[0]);
    }
    EXPECT_EQ(keys.size(), static_cast<size_t>(kProcesses * kSaves + 1));
    EXPECT_EQ(found, expected);
    f9832144782(0);
}

// Two processes make the first save of a settings name at once. Both go to "NAME 0" unless one
// finds it made already (then it takes "NAME 1"); neither fails, and every key holds one save's
// values, whole.
TEST_F(SharedStoreTest, TwoFirstSavesAtOnceBothSucceedIntoWholeKeys) {
    RegCloseKey(Key(kRoot, true));
    const std::string dir = fs::path(std::getenv("TOVARINE_REGISTRY")).parent_path();
    const auto err = [&](int p) { return dir + "/first" + std::to_string(p) + ".err"; };
    for (int round = 0; round < 8; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        for (const auto &key : Subkeys(kRoot))
            RegDeleteKeyA(HKEY_CURRENT_USER, kPrefixOf(key).c_str());
        const auto children = StartTogether(
            2,
            [round](int p) {
                f9832144782(1);
                return qy70EE(nullptr, "First", Host(round * 10 + p + 1).table.data()) == 0 ? 0 : 1;
            },
            err);
        ASSERT_EQ(children.size(), 2u);
        for (int p = 0; p < 2; ++p) {
            int status = -1;
            EXPECT_EQ(waitpid(children[p], &status, 0), children[p]);
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
            EXPECT_EQ(FileText(err(p)), "") << "process " << p;
        }
        const std::vector<std::string> keys = Subkeys(kRoot);
        ASSERT_FALSE(keys.empty());
        EXPECT_EQ(keys[0], "First 0");
        EXPECT_LE(keys.size(), 2u);
        for (const auto &key : keys) {
            const auto counters = Counters(kPrefixOf(key));
            EXPECT_EQ(counters, std::vector<int64_t>(5, counters[0])) << key;
            EXPECT_TRUE(counters[0] == round * 10 + 1 || counters[0] == round * 10 + 2) << key;
        }
    }
}

// A save that cannot be written is told in one line naming the key and the reason, asked or
// silent, and nothing of it is written: the key keeps its old values, or is not made.
TEST_F(SharedStoreTest, FailedSaveIsToldInOneLineAndWritesNothing) {
    RegCloseKey(Key(kRoot, true));
    const std::string stored = std::string(kRoot) + "\\Kept 0",
                      too_long = std::string(kRoot) + "\\" + std::string(300, 'k');
    const std::string long_name(16384, 'n');
    const struct {
        const char *what;
        std::string key;
        bool long_setting;  // the table has a setting whose name the registry cannot take
    } cases[] = {
        {"a key name beyond the registry's limit", too_long, false},
        {"a value name beyond the registry's limit", stored, true},
    };
    for (const auto &c : cases) {
        for (int selector : {0, 1}) {
            SCOPED_TRACE(std::string(c.what) + ", selector " + std::to_string(selector));
            RegDeleteKeyA(HKEY_CURRENT_USER, stored.c_str());
            Put(stored, kNames[1], "1");
            Host host(5);
            int32_t extra = 9;
            std::vector<SettingDescriptor> table(host.table.begin(), host.table.end() - 1);
            if (c.long_setting) table.push_back(Setting(long_name.c_str(), 4, 4, &extra));
            table = Table(table);
            boxes.clear();
            f9832144782(selector);
            int32_t rc = 0;
            const std::string told =
                StandardErrorOf([&] { rc = qy63B1(nullptr, c.key.c_str(), table.data(), 1); });
            f9832144782(0);
            EXPECT_EQ(rc, 1);
            EXPECT_EQ(told, "tovarine: could not save HKEY_CURRENT_USER\\" + c.key.substr(0, 600) +
                                (c.key.size() > 600 ? "..." : "") +
                                ": error 87: The parameter is incorrect\n");
            EXPECT_EQ(Counters(stored), (std::vector<int64_t>{-1, 1, -1, -1, -1}));
            EXPECT_EQ(Get(stored, long_name.c_str()), std::nullopt);
            EXPECT_EQ(Key(too_long, false), nullptr);
            ASSERT_EQ(boxes.size(), selector == 0 ? 2u : 0u);
            if (selector == 0) {
                EXPECT_EQ(boxes[1].caption, "Update Registry");
            }
        }
    }
}

// The store's busy time-out of this process shortened while it lives, so that a test that holds
// the write lock on purpose waits a moment for it rather than the shipped 10 s.
struct ShortBusyTimeout {
    ShortBusyTimeout() { registry::SetBusyTimeout(200); }
    ~ShortBusyTimeout() { registry::SetBusyTimeout(registry::kBusyTimeoutMs); }
    ShortBusyTimeout(const ShortBusyTimeout &) = delete;
    ShortBusyTimeout &operator=(const ShortBusyTimeout &) = delete;
};

// Another program holds the store's write lock past the busy time-out: a silent save returns as
// usual, tells why it could not write, and the key keeps its old values.
TEST_F(SharedStoreTest, SaveWhileAnotherProgramHoldsTheWriteLockIsTold) {
    const std::string key = std::string(kRoot) + "\\Locked 0";
    Put(key, kNames[1], "1");
    const ShortBusyTimeout short_wait;
    sqlite3 *other = nullptr;
    ASSERT_EQ(sqlite3_open(std::getenv("TOVARINE_REGISTRY"), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    f9832144782(1);
    int32_t rc = 0;
    const std::string told =
        StandardErrorOf([&] { rc = qy63B1(nullptr, key.c_str(), Host(5).table.data(), 1); });
    f9832144782(0);
    sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    EXPECT_EQ(rc, 1);
    EXPECT_EQ(told, "tovarine: could not save HKEY_CURRENT_USER\\" + key +
                        ": error 1013: The configuration registry key could not be written\n");
    EXPECT_EQ(Counters(key), (std::vector<int64_t>{-1, 1, -1, -1, -1}));
    EXPECT_TRUE(boxes.empty());
}

// What a host's diagnostic handler was given.
struct Told {
    int32_t error;
    std::string key, text;
    bool operator==(const Told &) const = default;
};
std::ostream &operator<<(std::ostream &out, const Told &t) {
    return out << t.error << " [" << t.key << "] " << t.text;
}

// A host's handler gets each line the library would write to standard error, with its error
// code and key (none for the store as a whole), and standard error gets nothing; a missing
// settings root is no failure. The handler may call the library: what those calls tell goes to
// standard error. NULL brings standard error back.
TEST_F(SharedStoreTest, DiagnosticsGoToTheHostsHandler) {
    const fs::path dir = fs::path(std::getenv("TOVARINE_REGISTRY")).parent_path();
    const std::string key = std::string(kRoot) + "\\Srv 0", long_name(16384, 'n');
    std::vector<Told> told;
    const auto handler = [](void *context, int32_t error, const char *key_path, const char *text) {
        static_cast<std::vector<Told> *>(context)->push_back(
            {error, key_path != nullptr ? key_path : "", text});
        f9832144782(f9832144782(0));  // a call back into the library does not deadlock
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, "", 0, KEY_READ, &key) == 0) RegCloseKey(key);
    };
    tovarine_set_diagnostic_handler(handler, &told);
    int32_t extra = 9;
    std::vector<SettingDescriptor> table = Table({Setting(long_name.c_str(), 4, 4, &extra)});
    f9832144782(1);
    const std::string quiet = StandardErrorOf([&] {
        EXPECT_EQ(qy189C(nullptr, "Srv", table.data(), 1), ERROR_FILE_NOT_FOUND);  // no root
        RegCloseKey(Key(kRoot, true));
        EXPECT_EQ(qy63B1(nullptr, key.c_str(), table.data(), 1), 1);
        std::ofstream(dir / "text.db") << "not a registry\n";
        setenv("TOVARINE_REGISTRY", (dir / "text.db").c_str(), 1);
        registry::CloseStore();
        EXPECT_EQ(qy45AF(nullptr, "Srv", table.data()), ERROR_BADDB);
    });
    const std::vector<Told> expected = {
        {ERROR_INVALID_PARAMETER, "HKEY_CURRENT_USER\\" + key,
         "tovarine: could not save HKEY_CURRENT_USER\\" + key +
             ": error 87: The parameter is incorrect"},
        {ERROR_BADDB, "",
         "tovarine: cannot open the settings store " + (dir / "text.db").string() +
             ": error 1009: The configuration registry database is corrupt"}};
    EXPECT_EQ(told, expected);
    // The handler's own call on the store that cannot be opened is told on standard error, not
    // to the handler again.
    EXPECT_EQ(quiet, expected[1].text + "\n");

    tovarine_set_diagnostic_handler(nullptr, &told);
    const std::string loud =
        StandardErrorOf([&] { EXPECT_EQ(qy45AF(nullptr, "Srv", table.data()), ERROR_BADDB); });
    f9832144782(0);
    EXPECT_EQ(told.size(), expected.size());
    EXPECT_EQ(loud, expected[1].text + "\n");
}

// Handlers installed from one thread while another thread's saves fail: each line reaches one
// handler whole, with its own context.
TEST_F(SharedStoreTest, DiagnosticHandlerCanBeSwappedWhileCallsFail) {
    RegCloseKey(Key(kRoot, true));
    const std::string key = std::string(kRoot) + "\\" + std::string(300, 'k');
    struct Count {
        std::atomic<int> lines{0}, wrong{0};
    } first, second;
    const auto handler = [](void *context, int32_t error, const char *, const char *text) {
        auto *count = static_cast<Count *>(context);
        count->lines++;
        if (error != ERROR_INVALID_PARAMETER || std::strncmp(text, "tovarine: could not save", 24))
            count->wrong++;
    };
    constexpr int kSaves = 200;
    f9832144782(1);
    std::atomic<bool> done{false};
    tovarine_set_diagnostic_handler(handler, &first);
    std::thread swapper([&] {
        for (int i = 0; !done; ++i)
            tovarine_set_diagnostic_handler(handler, i % 2 ? &first : &second);
    });
    for (int i = 0; i < kSaves; ++i) qy63B1(nullptr, key.c_str(), Host(i).table.data(), 1);
    done = true;
    swapper.join();
    tovarine_set_diagnostic_handler(nullptr, nullptr);
    f9832144782(0);
    EXPECT_EQ(first.lines + second.lines, kSaves);
    EXPECT_EQ(first.wrong + second.wrong, 0);
}

// A child saves an ever-counting table into one key until it is killed at a random moment. The
// store then opens cleanly and every value is whole: the old one, or one of the child's. Values
// are written one by one in table order, so those it wrote fall from c to c - 1 at most once.
TEST_F(SharedStoreTest, ProcessKilledDuringSavesLeavesWholeValues) {
    const std::string key = "SOFTWARE\\Zel Inc.\\Killed";
    const unsigned seed = std::random_device{}();
    std::mt19937 random(seed);
    std::vector<int64_t> before(5, -1);
    int mixed = 0, progressed = 0;
    for (int64_t round = 0, first = 0; round < 10; ++round, first += 1000000) {
        SCOPED_TRACE("seed " + std::to_string(seed) + ", round " + std::to_string(round));
        registry::CloseStore();
        int saves[2];
        ASSERT_EQ(pipe(saves), 0);
        const pid_t child = fork();
        if (child == 0) {
            close(saves[0]);
            f9832144782(1);
            for (int64_t c = first;; ++c) {
                qy63B1(nullptr, key.c_str(), Host(c).table.data(), 1);
                if (c == first) (void)!write(saves[1], "s", 1);
            }
        }
        close(saves[1]);
        EXPECT_TRUE(AwaitSaves(saves[0], 1));  // killed after its first save, at a random point
        close(saves[0]);
        std::this_thread::sleep_for(
            std::chrono::milliseconds(std::uniform_int_distribution(20, 120)(random)));
        kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status));
        EXPECT_EQ(IntegrityOf(std::getenv("TOVARINE_REGISTRY")), "ok");
        const std::vector<int64_t> after = Counters(key);
        std::set<int64_t> written;
        for (int i = 0; i < 5; ++i) {
            EXPECT_TRUE(after[i] == before[i] || after[i] >= first) << kNames[i] << after[i];
            EXPECT_TRUE(i == 0 || after[i] <= after[i - 1]) << kNames[i];
            if (after[i] >= first) written.insert(after[i]);
        }
        EXPECT_TRUE(written.size() < 2 || *written.rbegin() == *written.begin() + 1);
        mixed += std::set<int64_t>(after.begin(), after.end()).size() > 1;
        progressed += !written.empty();
        before = after;
    }
    EXPECT_GE(progressed, 5) << "the child was mostly killed before it saved anything";
    std::printf("[  KILLS   ] 10 kills, %d after a save began, %d left mixed values\n", progressed,
                mixed);
    Host loaded(0);  // and the settings calls load what is there
    f9832144782(1);
    qy63B1(nullptr, key.c_str(), loaded.table.data(), 0);
    EXPECT_EQ(loaded.number, std::max<int64_t>(before[1], 0));
}

// A host of 256 integer settings, every one holding c.
struct WideHost {
    std::vector<std::string> names;
    std::vector<int32_t> values;
    std::vector<SettingDescriptor> table;
    explicit WideHost(int32_t c) : values(256, c) {
        for (int i = 0; i < 256; ++i) names.push_back("Setting" + std::to_string(i));
        for (int i = 0; i < 256; ++i) table.push_back(Setting(names[i].c_str(), 4, 4, &values[i]));
        table = Table(table);
    }
};

// The values of a key's 256 settings, as the set of texts found ("-" for a missing one).
std::set<std::string> WideTexts(const std::string &key) {
    std::set<std::string> texts;
    for (int i = 0; i < 256; ++i) {
        texts.insert(Get(key, ("Setting" + std::to_string(i)).c_str()).value_or("-"));
    }
    return texts;
}

// A child streams saves of a 256-setting table, into its first instance and into new ones,
// until it is killed at a random moment. Every instance then holds one save's values, whole.
TEST_F(SharedStoreTest, KilledSavesLeaveEveryInstanceWhole) {
    RegCloseKey(Key(kRoot, true));
    const unsigned seed = std::random_device{}();
    std::mt19937 random(seed);
    int64_t instances = 0;
    for (int round = 0; round < 6; ++round) {
        SCOPED_TRACE("seed " + std::to_string(seed) + ", round " + std::to_string(round));
        registry::CloseStore();
        int saves[2];
        ASSERT_EQ(pipe(saves), 0);
        const pid_t child = fork();
        if (child == 0) {
            close(saves[0]);
            for (int32_t c = round * 100000 + 1;; ++c) {
                f9832144782(c % 2 == 0 ? -1 : 1);  // every other save makes a new instance
                qy70EE(nullptr, "Wide", WideHost(c).table.data());
                (void)!write(saves[1], "s", 1);
            }
        }
        close(saves[1]);
        // Killed at a random point after two saves or more.
        EXPECT_TRUE(AwaitSaves(saves[0], 2));
        std::this_thread::sleep_for(
            std::chrono::milliseconds(std::uniform_int_distribution(0, 60)(random)));
        kill(child, SIGKILL);
        close(saves[0]);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_EQ(IntegrityOf(std::getenv("TOVARINE_REGISTRY")), "ok");
        const std::vector<std::string> keys = Subkeys(kRoot);
        for (const auto &key : keys) {
            const std::set<std::string> texts = WideTexts(kPrefixOf(key));
            EXPECT_EQ(texts.size(), 1u)
                << key << ": " << *texts.begin() << " .. " << *texts.rbegin();
            EXPECT_FALSE(texts.contains("-")) << key;
        }
        instances = static_cast<int64_t>(keys.size());
    }
    EXPECT_GE(instances, 2) << "the child was killed before it saved anything";
}

// After a call returns, the store file alone, without its log, holds every value saved.
TEST_F(SharedStoreTest, StoreFileAloneHoldsEverySave) {
    RegCloseKey(Key(kRoot, true));
    f9832144782(1);
    WideHost saved(7);
    EXPECT_EQ(qy70EE(nullptr, "Copied", saved.table.data()), 0);
    saved.values.assign(256, 8);
    EXPECT_EQ(qy70EE(nullptr, "Copied", saved.table.data()), 0);
    const fs::path store = std::getenv("TOVARINE_REGISTRY");
    const fs::path copy = store.parent_path() / "copy" / "registry.db";
    fs::create_directories(copy.parent_path());
    fs::copy_file(store, copy);  // while this process still has the store open
    setenv("TOVARINE_REGISTRY", copy.c_str(), 1);
    registry::CloseStore();
    WideHost loaded(0);
    EXPECT_EQ(qy45AF(nullptr, "Copied", loaded.table.data()), 0);
    EXPECT_EQ(loaded.values, std::vector<int32_t>(256, 8));
    setenv("TOVARINE_REGISTRY", store.c_str(), 1);
    registry::CloseStore();
    f9832144782(0);
}

// While the user is asked (or told there is nothing to load) no read of the store is open, so
// that other programs' commits are copied into the store file meanwhile: a full checkpoint by
// another program goes through during every box, by path and by name, offered in turn too.
// That program commits before each call and each answer, so that a read open would hold back
// its log.
TEST_F(SharedStoreTest, NoReadOfTheStoreIsOpenWhileTheUserIsAsked) {
    Put(kPrefixOf("Asked 0"), kNames[1], "1");
    Put(kPrefixOf("Asked 1"), kNames[1], "2");
    Put(kPrefixOf("Once 0"), kNames[1], "3");
    sqlite3 *other = nullptr;
    ASSERT_EQ(sqlite3_open(std::getenv("TOVARINE_REGISTRY"), &other), SQLITE_OK);
    auto commit = [&] {
        ASSERT_EQ(sqlite3_exec(other, "UPDATE keys SET last_write = last_write + 1 WHERE id = 1",
                               nullptr, nullptr, nullptr),
                  SQLITE_OK);
    };
    int busy_boxes = 0;
    while_asked = [&] {
        busy_boxes += sqlite3_wal_checkpoint_v2(other, nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr,
                                                nullptr) == SQLITE_BUSY;
        commit();
    };
    Host host(5);
    answers = {IDNO, IDYES};  // the first of two instances offered is declined
    commit();
    EXPECT_EQ(qy45AF(nullptr, "Asked", host.table.data()), 0);
    EXPECT_EQ(host.number, 2);
    commit();
    EXPECT_EQ(qy70EE(nullptr, "Once", host.table.data()), 0);
    commit();
    EXPECT_EQ(qy45AF(nullptr, "Nothing", host.table.data()), 0);
    commit();
    EXPECT_EQ(qy63B1(nullptr, kPrefixOf("Once 0").c_str(), Host(6).table.data(), 1), 1);
    while_asked = nullptr;
    sqlite3_close(other);
    EXPECT_EQ(boxes.size(), 5u);
    EXPECT_EQ(busy_boxes, 0);
    EXPECT_EQ(Counters(kPrefixOf("Once 0")), (std::vector<int64_t>{6, 6, 6, 6, 6}));
}

// A host's box handler that throws is a box that could not be shown: No. Nothing thrown
// reaches the host through the C interface.
TEST_F(SharedStoreTest, ThrowingBoxIsNo) {
    RegCloseKey(Key(kRoot, true));
    const std::string key = std::string(kRoot) + "\\Thrown 0";
    Put(key, "Number", "1");
    Host host(5);
    throw_from_box = true;
    EXPECT_EQ(qy63B1(nullptr, key.c_str(), host.table.data(), 1), 1);
    EXPECT_EQ(Get(key, "Number"), "1");
    EXPECT_EQ(qy63B1(nullptr, key.c_str(), host.table.data(), 0), 0);
    EXPECT_EQ(host.number, 5);
    EXPECT_EQ(qy45AF(nullptr, "Thrown", host.table.data()), 0);
    EXPECT_EQ(qy45AF(nullptr, "Nothing", host.table.data()), 0);  // the notice box throws
    EXPECT_EQ(host.number, 5);
    EXPECT_TRUE(ScratchCleared(host.table));
    EXPECT_EQ(boxes.size(), 4u);
    throw_from_box = false;
}

// The folder's entries, each with its bytes when it is a file.
std::set<std::string> Listing(const fs::path &dir) {
    std::set<std::string> listing;
    for (const auto &entry : fs::directory_iterator(dir)) {
        std::ostringstream bytes;
        if (entry.is_regular_file()) bytes << std::ifstream(entry.path(), std::ios::binary).rdbuf();
        listing.insert(entry.path().string() + "\n" + bytes.str());
    }
    return listing;
}

// A store that cannot be used: the calls by settings name fail with its error and show
// nothing; a transfer finds every value missing, and a confirmed save is told it could not
// save. The store's folder, and the file when there is one, are left as they were.
TEST_F(SharedStoreTest, UnusableStoreFailsCleanlyAndIsLeftAsItWas) {
    const fs::path dir = fs::path(std::getenv("TOVARINE_REGISTRY")).parent_path();
    const std::string key = std::string(kRoot) + "\\Srv 0";
    Put(key, "Number", "5");  // a store, then damaged
    registry::CloseStore();
    std::fstream(dir / "store.db", std::ios::in | std::ios::out | std::ios::binary)
        .seekp(100)
        .write(std::string(3000, '\xFF').data(), 3000);
    std::ofstream(dir / "text.db") << "not a registry\n";
    fs::create_directory(dir / "folder.db");
    std::vector<std::pair<fs::path, LONG>> faults = {
        {dir / "store.db", ERROR_REGISTRY_CORRUPT},
        {dir / "text.db", ERROR_BADDB},
        {dir / "folder.db", ERROR_CANTOPEN},
        {dir / "text.db" / "under.db", ERROR_CANTOPEN}};
    if (geteuid() != 0) {  // permission bits do not hold root back
        std::ofstream(dir / "locked.db") << "";
        fs::permissions(dir / "locked.db", fs::perms::none);
        faults.emplace_back(dir / "locked.db", ERROR_CANTOPEN);
    }
    for (const auto &[store, error] : faults) {
        SCOPED_TRACE(store);
        setenv("TOVARINE_REGISTRY", store.c_str(), 1);
        registry::CloseStore();
        const std::set<std::string> listing = Listing(dir);
        Host host(7);
        boxes.clear();
        EXPECT_EQ(qy189C(nullptr, "Srv", host.table.data(), 0), error);
        EXPECT_EQ(qy189C(nullptr, "Srv", host.table.data(), 1), error);
        EXPECT_TRUE(boxes.empty());
        EXPECT_EQ(qy63B1(nullptr, key.c_str(), host.table.data(), 0), 1);
        EXPECT_EQ(qy63B1(nullptr, key.c_str(), host.table.data(), 1), 1);
        EXPECT_TRUE(host.Holds(Host(7)) && ScratchCleared(host.table));
        ASSERT_EQ(boxes.size(), 3u);
        EXPECT_EQ(boxes[0].text.substr(0, 24), "Text will be  round 7 **");
        EXPECT_EQ(boxes[1].text.substr(0, 25), "Text saving as  round 7 *");
        EXPECT_EQ(boxes[2].caption + ": " + boxes[2].text,
                  "Update Registry: Could not save Text\nCould not save Number\nCould not save "
                  "Bytes\nCould not save Label\nCould not save Count\n");
        EXPECT_TRUE(Listing(dir) == listing) << "the store's folder changed";  // binary: not shown
        EXPECT_TRUE(!fs::is_directory(store) || fs::is_empty(store));
    }
}

}  // namespace
}  // namespace tovarine::testing
