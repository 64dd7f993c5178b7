// The POSIX settings store over a long life and in shared folders: a log that stays bounded
// however many processes save and leave, saves that work again once a full disk has room, first
// saves of one settings name made by several processes at once, loads that make no store, and
// store paths that are symbolic links planted by other users.
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sqlite3.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>

#include "platform/posix/registry_store.h"
#include "child_processes.h"
#include "settings_fixture.h"

namespace tovarine::testing {
namespace {

namespace fs = std::filesystem;

std::string Under(const std::string &subkey) { return std::string(kRoot) + "\\" + subkey; }

// What setting j of a save with counter c holds: both numbers, padded to `length` characters
// with a letter that changes with them, so that a value of another save, or a torn one, is told
// apart.
std::string Value(int64_t c, int j, size_t length) {
    std::string text = "save " + std::to_string(c) + " setting " + std::to_string(j) + ":";
    if (text.size() < length) text.resize(length, static_cast<char>('a' + (c + j) % 26));
    return text;
}

// A host's table of `count` text settings "Setting0", "Setting1", ..., holding what a save with
// counter c stores.
struct Host {
    std::vector<std::string> names;
    std::vector<std::vector<char>> texts;
    std::vector<SettingDescriptor> table;
    Host(int64_t c, int count, size_t length) {
        for (int j = 0; j < count; ++j) {
            names.push_back("Setting" + std::to_string(j));
            const std::string value = Value(c, j, length);
            texts.emplace_back(value.c_str(), value.c_str() + value.size() + 1);
        }
        std::vector<SettingDescriptor> settings;
        for (int j = 0; j < count; ++j)
            settings.push_back(Setting(names[j].c_str(), 1, static_cast<int16_t>(texts[j].size()),
                                       texts[j].data()));
        table = Table(settings);
    }
    Host(const Host &) = delete;
    // The counter whose values the host's variables hold, -1 when they are not one save's.
    int64_t Holds(size_t length) const {
        long long c = -1;
        if (std::sscanf(texts[0].data(), "save %lld", &c) != 1) return -1;
        for (size_t j = 0; j < texts.size(); ++j)
            if (Value(c, static_cast<int>(j), length) != texts[j].data()) return -1;
        return c;
    }
};

// The counter of the save whose values the key holds, all `count` of them: -1 when one is
// missing, -2 when they are not all of one save.
int64_t SaveHeld(const std::string &key, int count, size_t length) {
    const auto first = Get(key, "Setting0");
    long long c = -1;
    if (!first) return -1;
    if (std::sscanf(first->c_str(), "save %lld", &c) != 1) return -2;
    for (int j = 0; j < count; ++j) {
        const auto text = Get(key, ("Setting" + std::to_string(j)).c_str());
        if (!text) return -1;
        if (*text != Value(c, j, length)) return -2;
    }
    return c;
}

// The size of the file at `path`, -1 when there is none.
int64_t FileSize(const std::string &path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? static_cast<int64_t>(st.st_size) : -1;
}

// Starts a process that runs `body` and leaves with its status through _exit: without closing
// the store or anything else, as a process that is killed or crashes leaves it. Its standard
// error is appended to `stderr_file`.
pid_t Spawn(const std::function<int()> &body, const std::string &stderr_file) {
    registry::CloseStore();  // no connection crosses a fork
    const pid_t pid = fork();
    if (pid == 0) {
        const int err = open(stderr_file.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0666);
        if (err >= 0) dup2(err, STDERR_FILENO);
        _exit(body());
    }
    return pid;
}

// The exit status of child `pid` once it has ended; -1 when it did not exit by itself.
int ExitStatus(pid_t pid) {
    int status = 0;
    if (pid <= 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

// Runs `body` in a process of its own, which then leaves through _exit without closing
// anything, and returns what `body` returned; "exit status N" when the process ended otherwise.
// Its standard error is appended to `stderr_file`.
std::string InChild(const std::function<std::string()> &body, const std::string &stderr_file) {
    int out[2];
    if (pipe(out) != 0) return "no pipe";
    const pid_t pid = Spawn(
        [&] {
            close(out[0]);
            const std::string result = body();
            return write(out[1], result.data(), result.size()) ==
                           static_cast<ssize_t>(result.size())
                       ? 0
                       : 1;
        },
        stderr_file);
    close(out[1]);
    std::string result;
    char chunk[4096];
    for (ssize_t got; (got = read(out[0], chunk, sizeof chunk)) > 0;) result.append(chunk, got);
    close(out[0]);
    const int status = ExitStatus(pid);
    return status == 0 ? result : "exit status " + std::to_string(status);
}

// The entries below `dir`, each as its path, kind and size.
std::set<std::string> Listing(const fs::path &dir) {
    std::set<std::string> listing;
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(dir, error);
         it != fs::recursive_directory_iterator(); it.increment(error)) {
        const auto status = it->symlink_status();
        listing.insert(it->path().string() +
                       (fs::is_symlink(status) ? " link"
                        : fs::is_directory(status)
                            ? " folder"
                            : " file " + std::to_string(FileSize(it->path().string()))));
    }
    return listing;
}

// Switches the registry to the store at `path` while alive, and back to the test's own store
// at the end.
class OtherStore {
public:
    explicit OtherStore(const std::string &path) : saved_(std::getenv("TOVARINE_REGISTRY")) {
        Use(path);
    }
    ~OtherStore() { Use(saved_); }
    OtherStore(const OtherStore &) = delete;
    static void Use(const std::string &path) {
        registry::CloseStore();
        setenv("TOVARINE_REGISTRY", path.c_str(), 1);
    }

private:
    std::string saved_;
};

using StoreLifeTest = SettingsTest;

// The log stays bounded: whatever the number of processes and their saves, once a call returns
// the store's write-ahead log holds at most the largest single save and 1 MiB, and the store
// file alone holds every value while no call runs. Here 2,000 processes each save the same 16
// settings once and leave without closing anything: 500 one after another, each finding the
// log the one before left, then 1,500 four at a time. The bound is 1 MiB and 64 KiB, far more
// than one such save writes. The processes stop once the log is past the bound.
TEST_F(StoreLifeTest, LogStaysBoundedHoweverManyProcessesSaveAndLeave) {
    constexpr int kSettings = 16;
    constexpr size_t kLength = 40;
    constexpr int64_t kBound = (int64_t{1} << 20) + (int64_t{64} << 10);
    const struct { int processes, at_once; } phases[] = {{500, 1}, {1500, 4}};
    const fs::path store = std::getenv("TOVARINE_REGISTRY");
    const std::string log = store.string() + "-wal", err = store.string() + ".children.err";
    RegCloseKey(Key(kRoot, true));
    f9832144782(1);
    Host first(0, kSettings, kLength);
    ASSERT_EQ(qy70EE(nullptr, "Life", first.table.data()), 0);  // "Life 0": the rest save it
    f9832144782(0);
    int64_t longest = 0;
    int done = 0, last_batch = 0, failed = 0;
    for (const auto &phase : phases) {
        for (int n = 0; n < phase.processes && failed == 0 && longest <= kBound;
             n += phase.at_once) {
            std::vector<pid_t> batch;
            last_batch = done + 1;
            for (int p = 0; p < phase.at_once; ++p) {
                const int64_t c = ++done;
                batch.push_back(Spawn(
                    [c] {
                        f9832144782(1);
                        Host host(c, kSettings, kLength);
                        return qy70EE(nullptr, "Life", host.table.data()) == 0 ? 0 : 1;
                    },
                    err));
            }
            for (const pid_t pid : batch) failed += ExitStatus(pid) != 0;
            // No call runs now: each of the batch's has returned.
            longest = std::max(longest, FileSize(log));
        }
    }
    EXPECT_EQ(failed, 0) << "processes whose save failed";
    EXPECT_EQ(FileText(err), "");
    std::printf(
        "[  LOG     ] %d processes saving %d settings once each: the log at most %lld "
        "bytes, %lld at the end\n",
        done, kSettings, static_cast<long long>(longest), static_cast<long long>(FileSize(log)));
    RecordProperty("processes", std::to_string(done));
    RecordProperty("longest_log_bytes", std::to_string(longest));
    EXPECT_LE(longest, kBound) << "past the bound after " << done << " processes";

    // Every value is there, those of a process of the last batch; in the store file alone too.
    const fs::path copy = store.parent_path() / "copy" / "registry.db";
    fs::create_directories(copy.parent_path());
    fs::copy_file(store, copy);
    EXPECT_GE(SaveHeld(Under("Life 0"), kSettings, kLength), last_batch);
    EXPECT_EQ(Subkeys(kRoot), std::vector<std::string>{"Life 0"});
    {
        OtherStore alone(copy.string());
        EXPECT_GE(SaveHeld(Under("Life 0"), kSettings, kLength), last_batch)
            << "the store file alone lacks the last saves";
    }

    // And after a save of this process, which keeps the store open.
    f9832144782(1);
    Host last(done + 1, kSettings, kLength);
    EXPECT_EQ(qy70EE(nullptr, "Life", last.table.data()), 0);
    f9832144782(0);
    EXPECT_LE(FileSize(log), kBound);
    EXPECT_EQ(SaveHeld(Under("Life 0"), kSettings, kLength), done + 1);
    fs::remove(copy);
    fs::copy_file(store, copy);
    OtherStore alone(copy.string());
    EXPECT_EQ(SaveHeld(Under("Life 0"), kSettings, kLength), done + 1)
        << "the store file alone lacks the last save";
}

// A memory-backed file system of `size` bytes mounted on a new temporary folder for the scope;
// unmounted and removed at its end, after the registry has let go of any store on it.
class SmallDisk {
public:
    explicit SmallDisk(const char *size) {
        std::string dir = fs::temp_directory_path() / "tovarine-small-disk-XXXXXX";
        if (mkdtemp(dir.data()) == nullptr) {
            why_ = std::string("no temporary folder: ") + std::strerror(errno);
            return;
        }
        dir_ = dir;
        const std::string options = std::string("size=") + size + ",mode=0700";
        if (mount("tovarine-test", dir_.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) !=
            0) {
            why_ = "cannot mount a " + std::string(size) + " tmpfs on " + dir_ + ": " +
                   std::strerror(errno);
            return;
        }
        mounted_ = true;
    }
    ~SmallDisk() {
        registry::CloseStore();
        if (mounted_ && umount(dir_.c_str()) != 0) umount2(dir_.c_str(), MNT_DETACH);
        if (!dir_.empty()) rmdir(dir_.c_str());
    }
    SmallDisk(const SmallDisk &) = delete;
    bool mounted() const { return mounted_; }
    const std::string &why() const { return why_; }
    std::string Path(const std::string &name) const { return dir_ + "/" + name; }

private:
    std::string dir_, why_;
    bool mounted_ = false;
};

// A full disk: a process saves 200 long texts into new instances until a save meets it. That
// save is told in one line and writes nothing of itself; the process leaves without closing
// anything. Once 1.5 MB are free again, six processes in turn each save the first instance
// again, no larger than before, and leave the same way: every one of those saves succeeds,
// silently.
TEST_F(StoreLifeTest, SavesWorkAgainOnceAFullDiskHasRoom) {
    constexpr int kSettings = 200, kMaxSaves = 40, kProcesses = 6;
    const std::string err = std::string(std::getenv("TOVARINE_REGISTRY")) + ".children.err";
    for (const size_t length : {size_t{1000}, size_t{2500}}) {
        SCOPED_TRACE("values of " + std::to_string(length) + " characters");
        SmallDisk disk("4m");
        if (!disk.mounted()) GTEST_SKIP() << disk.why();
        {
            std::ofstream filler(disk.Path("filler"), std::ios::binary);
            filler << std::string(1536 * 1024, 'f');
            ASSERT_TRUE(filler.flush().good()) << "no room for the filler";
        }
        OtherStore on_disk(disk.Path("registry.db"));

        // Its report: "saved N", what the failed save told, and what is wrong with the
        // instances then, a line each.
        const std::string report = InChild(
            [length] {
                RegCloseKey(Key(kRoot, true));
                f9832144782(-1);  // each save a new instance
                int saved = 0;
                std::string told;
                for (; saved < kMaxSaves && told.empty(); ++saved) {
                    Host host(saved + 1, kSettings, length);
                    told = StandardErrorOf([&] { qy70EE(nullptr, "Full", host.table.data()); });
                }
                std::string report = "saved " + std::to_string(saved - 1) + "\n" + told;
                const std::vector<std::string> keys = Subkeys(kRoot);
                if (keys.size() + 1 != static_cast<size_t>(saved))
                    report += "problem: " + std::to_string(keys.size()) + " instances\n";
                for (const auto &key : keys) {
                    const int64_t held = SaveHeld(Under(key), kSettings, length);
                    if (key != "Full " + std::to_string(held - 1))
                        report += "problem: " + key + " holds " + std::to_string(held) + "\n";
                }
                return report;
            },
            err);
        int saved = 0;
        ASSERT_EQ(std::sscanf(report.c_str(), "saved %d", &saved), 1) << report;
        ASSERT_LT(saved + 1, kMaxSaves) << "the disk never filled";
        ASSERT_GT(saved, 0) << "not one save found room: " << report;
        const std::string told = report.substr(report.find('\n') + 1);
        EXPECT_EQ(told.rfind("tovarine: could not save HKEY_CURRENT_USER\\" + Under("Full "), 0),
                  0u)
            << told;
        EXPECT_EQ(std::count(told.begin(), told.end(), '\n'), 1)
            << "one line, no problem: " << told;

        ASSERT_EQ(std::remove(disk.Path("filler").c_str()), 0);
        std::string failures;
        for (int p = 0; p < kProcesses; ++p) {
            const int64_t c = 1000 + p;
            const std::string told_before = FileText(err);
            // Each checks its own save: this process opens the store only at the end.
            const std::string fault = InChild(
                [c, length] {
                    f9832144782(1);
                    Host host(c, kSettings, length);
                    qy70EE(nullptr, "Full", host.table.data());
                    const int64_t held = SaveHeld(Under("Full 0"), kSettings, length);
                    return held == c ? std::string() : "holds " + std::to_string(held) + ", ";
                },
                err);
            const std::string told_now = FileText(err).substr(told_before.size());
            if (!fault.empty() || !told_now.empty())
                failures += "process " + std::to_string(p + 1) + ": " + fault +
                            (told_now.empty() ? "nothing told\n" : told_now);
        }
        EXPECT_EQ(failures, "") << "saves of " << kProcesses << " processes after room was made";
        EXPECT_EQ(SaveHeld(Under("Full 0"), kSettings, length), 1000 + kProcesses - 1);
        EXPECT_EQ(Subkeys(kRoot).size(), static_cast<size_t>(saved));
    }
}

// Eight processes make the first save of one settings name at once: every save is there, in an
// instance key of its own, whole. Silent with a selector beyond every match (the name's first
// save, or a new instance for a process that finds another's made already), and asked: the
// processes all show their question before any of them answers Yes.
TEST_F(StoreLifeTest, ConcurrentFirstSavesOfANameAreNeverLost) {
    constexpr int kProcesses = 8, kSettings = 6;
    constexpr size_t kLength = 30;
    RegCloseKey(Key(kRoot, true));
    const std::string dir = fs::path(std::getenv("TOVARINE_REGISTRY")).parent_path();
    const auto err = [&](int p) { return dir + "/first" + std::to_string(p) + ".err"; };
    const struct {
        int32_t selector;
        int rounds;
    } cases[] = {{kProcesses + 1, 3}, {0, 2}};
    for (const auto &c : cases) {
        for (int round = 0; round < c.rounds; ++round) {
            SCOPED_TRACE("selector " + std::to_string(c.selector) + ", round " +
                         std::to_string(round));
            for (const auto &key : Subkeys(kRoot))
                RegDeleteKeyA(HKEY_CURRENT_USER, Under(key).c_str());
            ASSERT_TRUE(Subkeys(kRoot).empty());
            const int64_t base = 100 * (round + 1) + (c.selector == 0 ? 1000 : 0);
            // While asked, a process waits until every one of them is asked.
            int asked[2], answer[2];
            ASSERT_EQ(pipe(asked), 0);
            ASSERT_EQ(pipe(answer), 0);
            const auto children = StartTogether(
                kProcesses,
                [&](int p) {
                    close(asked[0]);
                    close(answer[1]);
                    while_asked = [&] {
                        (void)!write(asked[1], "a", 1);
                        char byte;
                        (void)!read(answer[0], &byte, 1);  // end of file: all are asked
                    };
                    fallback = IDYES;
                    f9832144782(c.selector);
                    Host host(base + p, kSettings, kLength);
                    return qy70EE(nullptr, "New", host.table.data()) == 0 ? 0 : 1;
                },
                err);
            close(asked[1]);
            close(answer[0]);
            int questions = 0;
            char byte;
            pollfd ready{asked[0], POLLIN, 0};
            while (c.selector == 0 && questions < kProcesses && poll(&ready, 1, 30000) == 1 &&
                   read(asked[0], &byte, 1) == 1)
                ++questions;
            close(answer[1]);
            close(asked[0]);
            ASSERT_EQ(children.size(), static_cast<size_t>(kProcesses));
            EXPECT_EQ(questions, c.selector == 0 ? kProcesses : 0);
            for (int p = 0; p < kProcesses; ++p) {
                EXPECT_EQ(ExitStatus(children[p]), 0) << "process " << p;
                EXPECT_EQ(FileText(err(p)), "") << "process " << p;
            }
            std::set<int64_t> held, expected;
            for (int p = 0; p < kProcesses; ++p) expected.insert(base + p);
            const std::vector<std::string> keys = Subkeys(kRoot);
            for (const auto &key : keys) {
                EXPECT_EQ(key.rfind("New ", 0), 0u) << key;
                held.insert(SaveHeld(Under(key), kSettings, kLength));
            }
            EXPECT_EQ(keys.size(), static_cast<size_t>(kProcesses));
            EXPECT_EQ(held, expected) << keys.size() << " keys";
        }
    }
}

// What one call returned and showed, and what the host's variables hold after it.
std::string Outcome(int32_t rc, const std::vector<Box> &boxes, const Host &host, size_t length) {
    std::string outcome = "returned " + std::to_string(rc) + ";";
    for (const Box &box : boxes) outcome += " [" + box.caption + ": " + box.text + "]";
    return outcome + " host holds " + std::to_string(host.Holds(length));
}

// A load never makes a store. With no store file (none, in a folder that does not exist or in
// one that does; a dangling symbolic link; an empty file) the loads, by name and by path,
// asked and silent, return and show what they do with a store that has no such settings, and
// leave the folder as it was: no store, no folder, no link target, the empty file still empty.
// A save into the empty file then lays a store out in it.
TEST_F(StoreLifeTest, LoadsWithoutAStoreMakeNothing) {
    constexpr int kSettings = 3;
    constexpr size_t kLength = 20;
    const fs::path dir = fs::path(std::getenv("TOVARINE_REGISTRY")).parent_path() / "places";
    fs::create_directories(dir);
    const std::string instance = Under("Srv 0");
    // Every load, each with its outcome on a store without the settings root.
    const struct {
        const char *what;
        int32_t selector;
        std::function<int32_t(SettingDescriptor *)> call;
    } loads[] = {
        {"qy45AF asked", 0, [](SettingDescriptor *t) { return qy45AF(nullptr, "Srv", t); }},
        {"qy45AF silent", 1, [](SettingDescriptor *t) { return qy45AF(nullptr, "Srv", t); }},
        {"qy189C silent", 2, [](SettingDescriptor *t) { return qy189C(nullptr, "Srv", t, 0); }},
        {"qy63B1 asked", 0,
         [&](SettingDescriptor *t) { return qy63B1(nullptr, instance.c_str(), t, 0); }},
        {"qy63B1 silent", 1,
         [&](SettingDescriptor *t) { return qy63B1(nullptr, instance.c_str(), t, 0); }},
    };
    const auto outcomes = [&] {
        std::vector<std::string> seen;
        for (const auto &load : loads) {
            Host host(7, kSettings, kLength);
            boxes.clear();
            f9832144782(load.selector);
            int32_t rc = 0;
            const std::string told = StandardErrorOf([&] { rc = load.call(host.table.data()); });
            f9832144782(0);
            seen.push_back(std::string(load.what) + ": " + Outcome(rc, boxes, host, kLength) +
                           "; told: " + told);
        }
        return seen;
    };
    fallback = IDYES;
    Put("SOFTWARE\\Other", "Kept", "1");  // a store, without the settings root
    const std::vector<std::string> expected = outcomes();
    ASSERT_EQ(expected[0].rfind("qy45AF asked: returned 2;", 0), 0u) << expected[0];

    ASSERT_EQ(symlink((dir / "target.db").c_str(), (dir / "link.db").c_str()), 0);
    std::ofstream(dir / "empty.db").flush();
    const struct {
        const char *what;
        fs::path store;
    } places[] = {
        {"no store file, in a folder that does not exist", dir / "absent" / "registry.db"},
        {"no store file", dir / "registry.db"},
        {"a dangling symbolic link", dir / "link.db"},
        {"an empty file", dir / "empty.db"},
    };
    for (const auto &place : places) {
        SCOPED_TRACE(place.what);
        const std::set<std::string> before = Listing(dir);
        OtherStore none(place.store.string());
        EXPECT_EQ(outcomes(), expected);
        registry::CloseStore();
        std::set<std::string> after = Listing(dir);
        if (place.store.filename() == "empty.db") {  // an empty log and index may be left
            after.erase((dir / "empty.db-wal").string() + " file 0");
            after.erase((dir / "empty.db-shm").string() + " file " +
                        std::to_string(FileSize((dir / "empty.db-shm").string())));
        }
        EXPECT_EQ(after, before);
    }

    // A save into the empty file lays a store out in it.
    OtherStore empty((dir / "empty.db").string());
    RegCloseKey(Key(kRoot, true));
    f9832144782(1);
    Host saved(8, kSettings, kLength), loaded(0, kSettings, kLength);
    EXPECT_EQ(qy70EE(nullptr, "Srv", saved.table.data()), 0);
    EXPECT_EQ(qy45AF(nullptr, "Srv", loaded.table.data()), 0);
    f9832144782(0);
    EXPECT_EQ(loaded.Holds(kLength), 8);
    EXPECT_GT(FileSize((dir / "empty.db").string()), 0);
    EXPECT_EQ(IntegrityOf((dir / "empty.db").string()), "ok");
}

// The command-line host beside this test program in the build tree (TOVARINE_TOOL names
// another): empty when there is none.
std::string ToolPath() {
    if (const char *named = std::getenv("TOVARINE_TOOL")) return named;
    std::error_code error;
    const fs::path here = fs::read_symlink("/proc/self/exe", error);
    const fs::path tool = here.parent_path().parent_path().parent_path() / "tools" / "tovarine";
    return !error && access(tool.c_str(), X_OK) == 0 ? tool.string() : "";
}

// The tool's reads make no store either: "settings list" and "settings check" on a store path
// with no store file behind it leave the folder as it was.
TEST_F(StoreLifeTest, ToolReadsWithoutAStoreMakeNothing) {
    const std::string tool = ToolPath();
    if (tool.empty()) GTEST_SKIP() << "no tovarine tool built beside this program";
    const fs::path dir = fs::path(std::getenv("TOVARINE_REGISTRY")).parent_path() / "places";
    fs::create_directories(dir);
    ASSERT_EQ(symlink((dir / "target.db").c_str(), (dir / "link.db").c_str()), 0);
    std::ofstream(dir / "empty.db").flush();
    const fs::path stores[] = {dir / "absent" / "registry.db", dir / "registry.db", dir / "link.db",
                               dir / "empty.db"};
    for (const fs::path &store : stores) {
        for (const char *command : {"settings list", "settings check"}) {
            SCOPED_TRACE(store.string() + ": " + command);
            const std::set<std::string> before = Listing(dir);
            OtherStore none(store.string());
            const std::string line = "'" + tool + "' " + command + " >/dev/null 2>&1 </dev/null";
            const int status = std::system(line.c_str());
            EXPECT_TRUE(WIFEXITED(status)) << status;
            EXPECT_EQ(Listing(dir), before);
        }
    }
}

constexpr uid_t kVictim = 12345;  // an unprivileged user of the machine
constexpr uid_t kOther = 65534;   // another one: nobody

// Runs `calls` in a process acting as kVictim, whose home is `home` and whose store path is
// `store`, and returns what they returned; its standard error goes to `stderr_file`. Empty when
// the process could not act as the victim.
std::string AsVictim(const std::string &store, const std::string &home,
                     const std::string &stderr_file, const std::function<std::string()> &calls) {
    std::remove(stderr_file.c_str());
    return InChild(
        [&]() -> std::string {
            if (setgroups(0, nullptr) != 0 || setresgid(kVictim, kVictim, kVictim) != 0 ||
                setresuid(kVictim, kVictim, kVictim) != 0)
                return "";
            setenv("HOME", home.c_str(), 1);
            setenv("TOVARINE_REGISTRY", store.c_str(), 1);
            return calls();
        },
        stderr_file);
}

// What the victim's calls returned, and what its load loaded, as "root RC, save RC, load RC,
// loaded C": the settings root made, a save by name and a load by name.
std::string RootSaveAndLoad() {
    HKEY root = nullptr;
    const LONG made = RegCreateKeyExA(HKEY_CURRENT_USER, kRoot, 0, nullptr, 0, KEY_ALL_ACCESS,
                                      nullptr, &root, nullptr);
    if (made == ERROR_SUCCESS) RegCloseKey(root);
    f9832144782(1);
    Host saved(5, 3, 20), loaded(0, 3, 20);
    const int32_t save = qy70EE(nullptr, "Srv", saved.table.data());
    const int32_t load = qy45AF(nullptr, "Srv", loaded.table.data());
    return "root " + std::to_string(made) + ", save " + std::to_string(save) + ", load " +
           std::to_string(load) + ", loaded " + std::to_string(loaded.Holds(20));
}

// A folder shared with other users, and the victim's home beside it, for the test's life. The
// store path is a link in the shared folder to a file in the victim's home.
class SharedFolder {
public:
    SharedFolder() {
        home_ = fs::temp_directory_path() / "tovarine-victim-XXXXXX";
        shared_ = fs::temp_directory_path() / "tovarine-shared-XXXXXX";
        ready_ = mkdtemp(home_.data()) != nullptr && mkdtemp(shared_.data()) != nullptr;
        ready_ = ready_ && chown(home_.c_str(), kVictim, kVictim) == 0;
    }
    ~SharedFolder() {
        fs::remove_all(home_);
        fs::remove_all(shared_);
    }
    SharedFolder(const SharedFolder &) = delete;
    bool ready() const { return ready_; }
    const std::string &home() const { return home_; }
    std::string store() const { return shared_ + "/registry.db"; }
    std::string target() const { return home_ + "/settings.db"; }

    // The shared folder with `mode` and `group`, and in it nothing but a link at the store path
    // owned by `owner`, to the victim's file: empty, or none yet.
    bool Plant(mode_t mode, gid_t group, uid_t owner, bool target_exists) const {
        for (const std::string &path : {store(), target()})
            for (const char *suffix : {"", "-wal", "-shm", "-journal"}) fs::remove(path + suffix);
        if (target_exists) {
            std::ofstream(target()).flush();
            if (chown(target().c_str(), kVictim, kVictim) != 0) return false;
        }
        return chown(shared_.c_str(), 0, group) == 0 && chmod(shared_.c_str(), mode) == 0 &&
               symlink(target().c_str(), store().c_str()) == 0 &&
               lchown(store().c_str(), owner, owner) == 0;
    }

private:
    std::string home_, shared_;
    bool ready_ = true;
};

// In a folder shared with other users, the store path is a symbolic link. One planted there by
// another user, pointing at a file of the victim's (empty, or none yet), is refused: the
// victim's calls fail with ERROR_ACCESS_DENIED, are told on standard error, and leave the link's
// target as it was, with no log or index beside it or the link. The victim's own link, and one
// of root's, are followed as usual.
TEST_F(StoreLifeTest, LinksPlantedByOtherUsersAreRefused) {
    if (geteuid() != 0) GTEST_SKIP() << "acting as other users needs root";
    const struct {
        const char *folder;
        mode_t mode;
        gid_t group;
    } folders[] = {{"a sticky folder open to all", 01777, 0},
                   {"a folder of the victim's group", 02770, kVictim}};
    const struct {
        const char *link;
        uid_t owner;
        bool target_exists, refused;
    } links[] = {
        {"another user's link to an empty file", kOther, true, true},
        {"another user's link to no file", kOther, false, true},
        {"the victim's own link", kVictim, false, false},
        {"root's link", 0, true, false},
    };
    const std::string err =
        (fs::path(std::getenv("TOVARINE_REGISTRY")).parent_path() / "victim.err").string();
    SharedFolder folder;
    ASSERT_TRUE(folder.ready());
    const std::string store = folder.store(), target = folder.target();
    for (const auto &kind : folders) {
        for (const auto &link : links) {
            SCOPED_TRACE(std::string(kind.folder) + ", " + link.link);
            ASSERT_TRUE(folder.Plant(kind.mode, kind.group, link.owner, link.target_exists));
            const std::string result = AsVictim(store, folder.home(), err, RootSaveAndLoad);
            if (result.empty()) GTEST_SKIP() << "this process cannot act as user " << kVictim;
            const std::string told = FileText(err);
            if (link.refused) {
                EXPECT_EQ(result, "root 5, save 5, load 5, loaded 0");
                EXPECT_FALSE(told.empty()) << "the refusal was not told";
                std::istringstream lines(told);
                for (std::string line; std::getline(lines, line);)
                    EXPECT_EQ(line.rfind("tovarine: ", 0), 0u) << line;
                EXPECT_EQ(FileSize(target), link.target_exists ? 0 : -1);
            } else {
                EXPECT_EQ(result, "root 0, save 0, load 0, loaded 5");
                EXPECT_EQ(told, "");
                EXPECT_GT(FileSize(target), 0);
            }
            EXPECT_TRUE(fs::is_symlink(store));
            for (const std::string &path : {store, target}) {
                for (const char *suffix : {"-wal", "-shm", "-journal"})
                    EXPECT_TRUE(!link.refused || !fs::exists(fs::symlink_status(path + suffix)))
                        << path << suffix;
            }
        }
    }
}

// The refusal of a planted link goes to the host's diagnostic handler when one is installed,
// with its error and the very line standard error gets otherwise, and nothing then goes to
// standard error; once the handler is removed, standard error has the line again.
TEST_F(StoreLifeTest, RefusedLinkIsToldToTheDiagnosticHandler) {
    if (geteuid() != 0) GTEST_SKIP() << "acting as other users needs root";
    const std::string err =
        (fs::path(std::getenv("TOVARINE_REGISTRY")).parent_path() / "victim.err").string();
    SharedFolder folder;
    ASSERT_TRUE(folder.ready());
    ASSERT_TRUE(folder.Plant(01777, 0, kOther, true));
    const std::string result = AsVictim(folder.store(), folder.home(), err, [] {
        std::string handed;
        tovarine_set_diagnostic_handler(
            [](void *context, int32_t error, const char *key_path, const char *text) {
                *static_cast<std::string *>(context) +=
                    std::to_string(error) + (key_path != nullptr ? " key " : " store ") + text +
                    "\n";
            },
            &handed);
        Host host(0, 3, 20);
        const int32_t handled = qy45AF(nullptr, "Srv", host.table.data());
        tovarine_set_diagnostic_handler(nullptr, nullptr);
        struct stat told {};  // standard error, as far as written while the handler was in
        fstat(STDERR_FILENO, &told);
        const int32_t unhandled = qy45AF(nullptr, "Srv", host.table.data());
        return std::to_string(handled) + " " + std::to_string(unhandled) + ", " +
               std::to_string(told.st_size) + " bytes told while handled\n" + handed;
    });
    if (result.empty()) GTEST_SKIP() << "this process cannot act as user " << kVictim;
    const std::string told = FileText(err);
    EXPECT_EQ(told.rfind("tovarine: ", 0), 0u) << told;
    EXPECT_EQ(std::count(told.begin(), told.end(), '\n'), 1) << told;
    // The codes returned, nothing on standard error while handled, and the handler given the
    // line standard error got afterwards, without its end.
    EXPECT_EQ(result, "5 5, 0 bytes told while handled\n5 store " + told);
    EXPECT_EQ(FileSize(folder.target()), 0);
}

}  // namespace
}  // namespace tovarine::testing
