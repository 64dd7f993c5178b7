// Many processes on one settings store at once. Each of --writers processes saves a settings
// table of its own (8 texts and 8 integers) --saves times in a row, silently, into the first
// instance of its own settings name, while --loaders processes load the writers' instances in a
// loop until the writers are done. Every process opens the store first, and all are released
// together. Each process times its own calls with the monotonic clock, which all processes
// share, and leaves its figures in memory shared with this program.
//
// Reported for the store: every save's result (what the call returned, and the lines starting
// "tovarine: could not save" on the writers' standard error, which is how a silent save tells
// that it failed), whether each writer's last save loads back as it was written, the wall time
// from the release to the end of the last save, saves per second, the median, p99 and worst save,
// and the loads done (and any that found an instance holding values of two saves). Then the same
// pattern in plain SQLite, for comparison: a save is one BEGIN IMMEDIATE transaction upserting the
// writer's 16 rows of one table (WAL, synchronous=FULL, busy_timeout 10000), a load one SELECT in
// a read transaction; and the ratios of the two ways' throughput and worst save.
//
// Fairness: a writer that finds the write lock taken sleeps and polls again. With SQLite's busy
// timeout the sleeps grow (1, 2, 5, 10, 15, 20, 25, 25, 25, 50, 50, 100 ms), so a save that has
// waited long polls rarely, and saves that began after it can take the lock first. For each save
// the program counts the saves of other writers that began after it and ended before it, the
// saves it was passed by: none when the lock goes to the writers in turn. The worst saves' counts
// tell whether they were starved, and the wait of a save queued behind every other writer once is
// given beside them.
//
// Usage: tovarine_store_load [--writers 64] [--saves 20] [--loaders 8] [--dir FOLDER]
//                            [--only tovarine|sqlite] [--json FILE] [--raw FILE]
// The stores are made in a new folder in FOLDER, else in $TOVARINE_BENCH_DIR, else in the
// temporary folder (so that the flushes of a save cost what they cost a host's store on disk), and
// removed afterwards. --json writes the figures of each way, --raw every save (CSV). Exit status:
// 0 when every save into the store succeeded, every load did, no load found values of two saves
// and every writer's last save is there; 1 otherwise; 2 when the run could not be set up. The
// baseline's own failures are reported but do not change it.
#include <fcntl.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "platform/posix/registry_store.h"
#include "platform/posix/win32.h"
#include "settings/settings_root.h"
#include "tovarine.h"

namespace {

namespace fs = std::filesystem;

int64_t NowNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// ---- What the writers save --------------------------------------------------------------------

constexpr int kTexts = 8, kNumbers = 8, kSettings = kTexts + kNumbers, kTextBytes = 64;
// In table order: a text and an integer in turn.
constexpr const char *kNames[kSettings] = {
    "Text0", "Number0", "Text1", "Number1", "Text2", "Number2", "Text3", "Number3",
    "Text4", "Number4", "Text5", "Number5", "Text6", "Number6", "Text7", "Number7"};

// The values of one save. Writer w's save s holds texts that tell w and s and change length with
// them, and integers made from both, so that a value of another save cannot pass for one of this.
struct Values {
    char texts[kTexts][kTextBytes] = {};
    int32_t numbers[kNumbers] = {};

    static Values Of(int w, int s) {
        Values v;
        for (int i = 0; i < kTexts; ++i) {
            std::snprintf(v.texts[i], kTextBytes, "w%d s%d t%d %s", w, s, i,
                          std::string((w + s + i) % 23, static_cast<char>('a' + i)).c_str());
        }
        for (int i = 0; i < kNumbers; ++i) {
            v.numbers[i] = static_cast<int32_t>((static_cast<int64_t>(w) * 7919 + s) * 31 + i);
        }
        return v;
    }
    bool empty() const { return texts[0][0] == 0; }
    // Whether these are exactly writer w's values of one of its saves.
    bool WholeSaveOf(int w) const {
        int w_found = -1, s_found = -1;
        return std::sscanf(texts[0], "w%d s%d", &w_found, &s_found) == 2 && w_found == w &&
               Same(Of(w, s_found));
    }
    bool Same(const Values &o) const {
        for (int i = 0; i < kTexts; ++i) {
            if (std::strncmp(texts[i], o.texts[i], kTextBytes) != 0) return false;
        }
        return std::equal(numbers, numbers + kNumbers, o.numbers);
    }
};

std::string SettingsName(int w) { return "Writer" + std::to_string(w); }

// ---- The two ways of saving and loading -------------------------------------------------------

// One store and the calls on it. Prepare() runs in this program before the processes start;
// Open() in each process before the release (and here again for the check after the run); Save
// and Load return 0 or the error of the call.
class Way {
public:
    virtual ~Way() = default;
    virtual const char *name() const = 0;
    virtual bool Prepare(const std::string &dir) = 0;
    virtual bool Open() = 0;
    virtual int Save(int w, const Values &values) = 0;
    // Leaves `out` empty when writer w has no instance yet.
    virtual int Load(int w, Values *out) = 0;
    virtual void Close() = 0;
};

// A box in a silent run is a fault: it is told on standard error, where the run looks for it.
int UnexpectedBox(void *, HWND, const char *text, const char *caption, unsigned) {
    std::fprintf(stderr, "store_load: a box was shown: %s: %s\n", caption, text);
    return IDNO;
}

// A host's settings table over one Values: the library reads the variables on a save and
// writes them on a confirmed load.
struct Host {
    Values values;
    SettingDescriptor table[kSettings + 1] = {};
    Host() {
        for (int i = 0; i < kSettings; ++i) {
            const bool text = i % 2 == 0;
            void *variable = text ? static_cast<void *>(values.texts[i / 2])
                                  : static_cast<void *>(&values.numbers[i / 2]);
            table[i] = {kNames[i], static_cast<int16_t>(text ? 1 : 4),
                        static_cast<int16_t>(text ? kTextBytes : 4), variable, nullptr};
        }
    }
    Host(const Host &) = delete;
};

// The settings calls on the library's store, silent with the selector at 1: every writer's
// saves go to its instance "WriterN 0", made by its first save.
class TovarineWay : public Way {
public:
    const char *name() const override { return "tovarine"; }
    bool Prepare(const std::string &dir) override {
        setenv("TOVARINE_REGISTRY", (dir + "/registry.db").c_str(), 1);
        tovarine::registry::CloseStore();
        HKEY root = nullptr;
        const bool made =
            RegCreateKeyExA(HKEY_CURRENT_USER, tovarine::kSettingsRootPath, 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, &root, nullptr) == ERROR_SUCCESS &&
            RegCloseKey(root) == ERROR_SUCCESS;
        tovarine::registry::CloseStore();  // no connection crosses a fork
        return made;
    }
    // Opens the process's connection by opening the settings root once.
    bool Open() override {
        tovarine_set_message_box_handler(&UnexpectedBox, nullptr);
        f9832144782(1);
        HKEY root = nullptr;
        return RegOpenKeyExA(HKEY_CURRENT_USER, tovarine::kSettingsRootPath, 0, KEY_READ, &root) ==
                   ERROR_SUCCESS &&
               RegCloseKey(root) == ERROR_SUCCESS;
    }
    int Save(int w, const Values &values) override {
        host_.values = values;
        return qy70EE(nullptr, SettingsName(w).c_str(), host_.table);
    }
    int Load(int w, Values *out) override {
        host_.values = Values();
        const int rc = qy45AF(nullptr, SettingsName(w).c_str(), host_.table);
        *out = host_.values;
        return rc;
    }
    void Close() override {
        f9832144782(0);
        tovarine::registry::CloseStore();
    }

private:
    Host host_;
};

// The baseline: the same values as rows (owner, name, text) of one table, straight in SQLite.
class SqliteWay : public Way {
public:
    ~SqliteWay() override { Close(); }
    const char *name() const override { return "sqlite"; }
    bool Prepare(const std::string &dir) override {
        file_ = dir + "/plain.db";
        sqlite3 *db = nullptr;
        const bool made =
            sqlite3_open(file_.c_str(), &db) == SQLITE_OK &&
            sqlite3_exec(db,
                         "PRAGMA journal_mode=WAL;"
                         "CREATE TABLE settings (owner INTEGER NOT NULL, name TEXT NOT NULL,"
                         " value TEXT NOT NULL, PRIMARY KEY (owner, name))",
                         nullptr, nullptr, nullptr) == SQLITE_OK;
        sqlite3_close(db);
        return made;
    }
    bool Open() override {
        if (sqlite3_open(file_.c_str(), &db_) != SQLITE_OK) return false;
        sqlite3_busy_timeout(db_, 10000);
        return sqlite3_exec(db_, "PRAGMA synchronous=FULL; SELECT count(*) FROM settings", nullptr,
                            nullptr, nullptr) == SQLITE_OK &&
               sqlite3_prepare_v2(db_,
                                  "INSERT INTO settings VALUES (?1, ?2, ?3) ON CONFLICT (owner, "
                                  "name) DO UPDATE SET value = excluded.value",
                                  -1, &put_, nullptr) == SQLITE_OK &&
               sqlite3_prepare_v2(db_, "SELECT name, value FROM settings WHERE owner = ?1", -1,
                                  &get_, nullptr) == SQLITE_OK;
    }
    int Save(int w, const Values &values) override {
        int rc = sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
        if (rc != SQLITE_OK) return rc;
        for (int i = 0; i < kSettings && rc == SQLITE_OK; ++i) {
            const std::string number = std::to_string(values.numbers[i / 2]);
            sqlite3_bind_int(put_, 1, w);
            sqlite3_bind_text(put_, 2, kNames[i], -1, SQLITE_STATIC);
            sqlite3_bind_text(put_, 3, i % 2 == 0 ? values.texts[i / 2] : number.c_str(), -1,
                              SQLITE_TRANSIENT);
            rc = sqlite3_step(put_) == SQLITE_DONE ? SQLITE_OK : sqlite3_errcode(db_);
            sqlite3_reset(put_);
        }
        if (rc == SQLITE_OK) rc = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
        if (rc != SQLITE_OK) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        return rc;
    }
    int Load(int w, Values *out) override {
        *out = Values();
        int rc = sqlite3_exec(db_, "BEGIN", nullptr, nullptr, nullptr);
        if (rc != SQLITE_OK) return rc;
        sqlite3_bind_int(get_, 1, w);
        while ((rc = sqlite3_step(get_)) == SQLITE_ROW) {
            const auto *name = reinterpret_cast<const char *>(sqlite3_column_text(get_, 0));
            const auto *value = reinterpret_cast<const char *>(sqlite3_column_text(get_, 1));
            const auto at = std::find_if(std::begin(kNames), std::end(kNames),
                                         [&](const char *n) { return std::strcmp(n, name) == 0; });
            const auto i = at - std::begin(kNames);
            if (i == kSettings) continue;
            if (i % 2 == 0) {
                std::snprintf(out->texts[i / 2], kTextBytes, "%s", value);
            } else {
                out->numbers[i / 2] = static_cast<int32_t>(std::strtol(value, nullptr, 10));
            }
        }
        sqlite3_reset(get_);
        rc = rc == SQLITE_DONE ? sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr) : rc;
        if (rc != SQLITE_OK) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        return rc;
    }
    void Close() override {
        sqlite3_finalize(put_);
        sqlite3_finalize(get_);
        sqlite3_close(db_);
        put_ = get_ = nullptr;
        db_ = nullptr;
    }

private:
    std::string file_;
    sqlite3 *db_ = nullptr;
    sqlite3_stmt *put_ = nullptr, *get_ = nullptr;
};

// ---- One run: the processes, released together --------------------------------------------

struct Options {
    int writers = 64, saves = 20, loaders = 8;
    std::string dir, only, json, raw;
};

// One save, as its writer timed it.
struct SaveRecord {
    int64_t start_ns = 0, end_ns = 0;
    int32_t rc = 0;
    int16_t done = 0;  // 0: the writer ended before it
    int16_t told = 0;  // the save wrote to standard error: a silent save tells its failure there
};

struct LoaderCounts {
    int64_t loads = 0, failed = 0, empty = 0, mixed = 0;
};

// The memory the processes share with this program: the stop sign for the loaders, then one
// record per save (writer by writer) and the loaders' counts.
struct Board {
    std::atomic<int> stop{0};
    SaveRecord *saves = nullptr;
    LoaderCounts *loaders = nullptr;
};
static_assert(std::atomic<int>::is_always_lock_free, "the stop sign is shared between processes");

struct Run {
    std::string way;
    int64_t release_ns = 0, wall_ns = 0;
    std::vector<SaveRecord> saves;  // writer w's save s at w * saves + s
    LoaderCounts loads;
    int told = 0;                        // "could not save" lines on the writers' standard error
    int missing = 0;                     // writers whose last save does not load back as written
    int children_failed = 0;             // processes that could not open the store or ended early
    std::vector<std::string> other_err;  // anything else the processes wrote there
};

std::string ErrFile(const std::string &dir, const Way &way, const char *role, int n) {
    return dir + "/" + way.name() + "-" + role + std::to_string(n) + ".err";
}

// A process that runs `body` once released: its standard error goes to the file `err`, it opens
// the store, tells so with a byte on `ready`, and waits for the end of file on the pipe `go`
// (whose write end this program closes once every process is there).
template <typename Body>
pid_t Start(const std::string &err, Way &way, int ready, const int go[2], Body body) {
    const pid_t pid = fork();
    if (pid != 0) return pid;
    close(go[1]);
    const int fd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd >= 0) dup2(fd, STDERR_FILENO);
    const bool opened = way.Open();
    (void)!write(ready, opened ? "r" : "f", 1);
    close(ready);
    char byte;
    (void)!read(go[0], &byte, 1);  // end of file: every process is there, and released
    if (!opened) _exit(3);
    body();
    std::fflush(stderr);
    _exit(0);
}

bool RunWay(Way &way, const Options &o, const std::string &dir, Run *run) {
    run->way = way.name();
    if (!way.Prepare(dir)) return false;
    const size_t records = static_cast<size_t>(o.writers) * o.saves;
    const size_t bytes = sizeof(Board) + records * sizeof(SaveRecord) +
                         static_cast<size_t>(o.loaders) * sizeof(LoaderCounts);
    void *shared = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (shared == MAP_FAILED) return false;
    Board *board = new (shared) Board;
    board->saves = new (board + 1) SaveRecord[records];
    board->loaders = new (board->saves + records) LoaderCounts[o.loaders];

    int ready[2], go[2];
    if (pipe(ready) != 0 || pipe(go) != 0) return false;
    std::vector<pid_t> writers, loaders;
    for (int w = 0; w < o.writers; ++w) {
        writers.push_back(Start(ErrFile(dir, way, "writer", w), way, ready[1], go, [&, w] {
            for (int s = 0; s < o.saves; ++s) {
                const Values values = Values::Of(w, s);
                SaveRecord &record = board->saves[static_cast<size_t>(w) * o.saves + s];
                const off_t told_before = lseek(STDERR_FILENO, 0, SEEK_CUR);
                record.start_ns = NowNs();
                record.rc = way.Save(w, values);
                record.end_ns = NowNs();
                record.done = 1;
                record.told = lseek(STDERR_FILENO, 0, SEEK_CUR) != told_before;
            }
        }));
    }
    for (int l = 0; l < o.loaders; ++l) {
        loaders.push_back(Start(ErrFile(dir, way, "loader", l), way, ready[1], go, [&, l] {
            LoaderCounts &counts = board->loaders[l];
            // Each loader walks the writers from its own place, so that they load different
            // instances at a time.
            for (int64_t k = 0; board->stop.load() == 0; ++k) {
                const int w =
                    static_cast<int>((l * o.writers / std::max(o.loaders, 1) + k) % o.writers);
                Values values;
                const int rc = way.Load(w, &values);
                ++counts.loads;
                if (rc != 0) {
                    ++counts.failed;
                } else if (values.empty()) {
                    ++counts.empty;
                } else if (!values.WholeSaveOf(w)) {
                    ++counts.mixed;
                }
            }
        }));
    }
    close(ready[1]);
    close(go[0]);
    char byte;
    for (int n = 0; n < o.writers + o.loaders && read(ready[0], &byte, 1) == 1; ++n) {
    }
    close(ready[0]);
    run->release_ns = NowNs();
    close(go[1]);  // the release

    auto reap = [&](pid_t pid) {
        int status = -1;
        if (pid <= 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) ||
            WEXITSTATUS(status) != 0)
            ++run->children_failed;
    };
    for (const pid_t pid : writers) reap(pid);
    board->stop.store(1);
    for (const pid_t pid : loaders) reap(pid);

    run->saves.assign(board->saves, board->saves + records);
    int64_t last_end = run->release_ns;
    for (const SaveRecord &r : run->saves) last_end = std::max(last_end, r.end_ns);
    run->wall_ns = last_end - run->release_ns;
    for (int l = 0; l < o.loaders; ++l) {
        const LoaderCounts &c = board->loaders[l];
        run->loads.loads += c.loads;
        run->loads.failed += c.failed;
        run->loads.empty += c.empty;
        run->loads.mixed += c.mixed;
    }
    munmap(shared, bytes);

    // What the processes told on standard error.
    auto read_err = [&](const std::string &file, bool writer) {
        std::ifstream in(file);
        for (std::string line; std::getline(in, line);) {
            if (writer && line.rfind("tovarine: could not save", 0) == 0) {
                ++run->told;
            } else if (run->other_err.size() < 5) {
                run->other_err.push_back(line);
            }
        }
    };
    for (int w = 0; w < o.writers; ++w) read_err(ErrFile(dir, way, "writer", w), true);
    for (int l = 0; l < o.loaders; ++l) read_err(ErrFile(dir, way, "loader", l), false);

    // Every writer's last save, loaded back here.
    if (!way.Open()) return false;
    for (int w = 0; w < o.writers; ++w) {
        Values values;
        if (way.Load(w, &values) != 0 || !values.Same(Values::Of(w, o.saves - 1))) ++run->missing;
    }
    way.Close();
    return true;
}

// ---- The figures ------------------------------------------------------------------------------

double Ms(int64_t ns) { return static_cast<double>(ns) / 1e6; }

// The nearest-rank percentile of sorted values.
int64_t Percentile(const std::vector<int64_t> &sorted, double p) {
    if (sorted.empty()) return 0;
    const size_t rank = static_cast<size_t>(std::ceil(p * static_cast<double>(sorted.size())));
    return sorted[std::clamp<size_t>(rank, 1, sorted.size()) - 1];
}

struct Summary {
    // Saves that failed: that returned an error, told a failure on standard error, or were
    // never made (their writer ended first).
    int failed = 0, errors = 0, told = 0, unmade = 0;
    int64_t median_ns = 0, p99_ns = 0, worst_ns = 0;
    size_t worst = 0;                // the record of the worst save
    std::vector<int64_t> passed_by;  // per record: later saves of other writers ended within it
    double saves_per_s = 0;
    bool ok() const { return failed == 0; }
};

Summary Summarize(const Run &run, const Options &o) {
    Summary s;
    std::vector<int64_t> latencies;
    for (size_t i = 0; i < run.saves.size(); ++i) {
        const SaveRecord &r = run.saves[i];
        s.errors += r.done && r.rc != 0;
        s.told += r.done && r.told;
        s.unmade += !r.done;
        s.failed += !r.done || r.rc != 0 || r.told;
        if (!r.done) continue;
        latencies.push_back(r.end_ns - r.start_ns);
        if (latencies.back() > s.worst_ns) s.worst_ns = latencies.back(), s.worst = i;
    }
    std::sort(latencies.begin(), latencies.end());
    s.median_ns = Percentile(latencies, 0.5);
    s.p99_ns = Percentile(latencies, 0.99);
    s.saves_per_s = run.wall_ns > 0 ? static_cast<double>(latencies.size()) * 1e9 /
                                          static_cast<double>(run.wall_ns)
                                    : 0;
    s.passed_by.assign(run.saves.size(), 0);
    for (size_t i = 0; i < run.saves.size(); ++i) {
        const SaveRecord &a = run.saves[i];
        for (size_t j = 0; j < run.saves.size() && a.done; ++j) {
            const SaveRecord &b = run.saves[j];
            s.passed_by[i] += b.done &&
                              static_cast<int>(j) / o.saves != static_cast<int>(i) / o.saves &&
                              b.start_ns > a.start_ns && b.end_ns < a.end_ns;
        }
    }
    return s;
}

void Print(const Run &run, const Summary &s, const Options &o) {
    const size_t total = run.saves.size();
    std::printf("%s: %d writers x %d saves, %d loaders\n", run.way.c_str(), o.writers, o.saves,
                o.loaders);
    std::printf("  saves      %zu of %zu succeeded; %d failed: %d returned an error, ",
                total - s.failed, total, s.failed, s.errors);
    if (run.way == "tovarine")  // a silent save into the store tells a failure, and returns 0
        std::printf("%d told a failure (%d lines \"tovarine: could not save\"), ", s.told,
                    run.told);
    std::printf("%d not made\n", s.unmade);
    for (size_t i = 0, shown = 0; i < total && shown < 10; ++i) {
        const SaveRecord &r = run.saves[i];
        if (r.done && r.rc == 0 && !r.told) continue;
        ++shown;
        std::printf("    writer %zu save %zu: ", i / o.saves, i % o.saves);
        if (r.done)
            std::printf("returned %d after %.0f ms%s\n", r.rc, Ms(r.end_ns - r.start_ns),
                        r.told ? ", told a failure" : "");
        else
            std::printf("not made, the writer ended first\n");
    }
    std::printf("  data       %d of %d writers' last saves load back as written\n",
                o.writers - run.missing, o.writers);
    if (run.children_failed > 0)
        std::printf("  processes  %d could not open the store or ended early\n",
                    run.children_failed);
    for (const std::string &line : run.other_err) std::printf("  told       %s\n", line.c_str());
    std::printf("  wall       %.3f s, %.1f saves/s\n", static_cast<double>(run.wall_ns) / 1e9,
                s.saves_per_s);
    std::printf("  save       median %.1f ms, p99 %.1f ms, worst %.1f ms (writer %zu save %zu)\n",
                Ms(s.median_ns), Ms(s.p99_ns), Ms(s.worst_ns), s.worst / o.saves,
                s.worst % o.saves);
    std::printf(
        "  loads      %lld (%lld found no instance yet, %lld failed, %lld held two saves)\n",
        static_cast<long long>(run.loads.loads), static_cast<long long>(run.loads.empty),
        static_cast<long long>(run.loads.failed), static_cast<long long>(run.loads.mixed));

    // How the latencies spread, and whether the slow saves were passed by later ones.
    const int64_t limits_ms[] = {1, 10, 50, 100, 250, 500, 1000, 2000, 5000, 10000};
    std::vector<int64_t> counts(std::size(limits_ms) + 1, 0);
    for (const SaveRecord &r : run.saves) {
        if (!r.done) continue;
        const int64_t ms = (r.end_ns - r.start_ns) / 1000000;
        counts[std::upper_bound(std::begin(limits_ms), std::end(limits_ms), ms - 1) -
               std::begin(limits_ms)]++;
    }
    std::printf("  spread    ");
    for (size_t b = 0; b < counts.size(); ++b) {
        if (counts[b] == 0) continue;
        if (b < std::size(limits_ms))
            std::printf(" <=%lldms:%lld", static_cast<long long>(limits_ms[b]),
                        static_cast<long long>(counts[b]));
        else
            std::printf(" >10s:%lld", static_cast<long long>(counts[b]));
    }
    std::printf("\n");
    const double turn_ms = Ms(run.wall_ns) / static_cast<double>(std::max<size_t>(total, 1));
    std::printf("  turns      a save every %.1f ms; behind every other writer once: %.0f ms\n",
                turn_ms, turn_ms * (o.writers - 1));
    std::vector<size_t> order(total);
    for (size_t i = 0; i < total; ++i) order[i] = i;
    const auto latency = [&](size_t i) { return run.saves[i].end_ns - run.saves[i].start_ns; };
    std::sort(order.begin(), order.end(),
              [&](size_t a, size_t b) { return latency(a) > latency(b); });
    std::printf("  worst      ");
    for (size_t k = 0; k < std::min<size_t>(5, total); ++k) {
        const size_t i = order[k];
        std::printf("%s%.0f ms (w%zu s%zu, passed by %lld)", k == 0 ? "" : ", ", Ms(latency(i)),
                    i / o.saves, i % o.saves, static_cast<long long>(s.passed_by[i]));
    }
    std::printf("\n");
    // The passes of the slowest 1% against those of the rest.
    const size_t slow = std::max<size_t>(1, total / 100);
    std::vector<int64_t> slow_passes, other_passes;
    for (size_t k = 0; k < total; ++k)
        (k < slow ? slow_passes : other_passes).push_back(s.passed_by[order[k]]);
    std::sort(slow_passes.begin(), slow_passes.end());
    std::sort(other_passes.begin(), other_passes.end());
    std::printf(
        "  passed by  the slowest %zu saves: median %lld later saves; the others: median "
        "%lld, p99 %lld\n",
        slow, static_cast<long long>(Percentile(slow_passes, 0.5)),
        static_cast<long long>(Percentile(other_passes, 0.5)),
        static_cast<long long>(Percentile(other_passes, 0.99)));
}

void WriteJson(std::FILE *out, const Run &run, const Summary &s, const Options &o, bool last) {
    std::fprintf(out,
                 "  {\"way\": \"%s\", \"writers\": %d, \"saves\": %d, \"loaders\": %d, "
                 "\"failed\": %d, \"told\": %d, \"missing\": %d, \"wall_s\": %.4f, "
                 "\"saves_per_s\": %.2f, \"median_ms\": %.3f, \"p99_ms\": %.3f, "
                 "\"worst_ms\": %.3f, \"worst_passed_by\": %lld, \"loads\": %lld, "
                 "\"loads_failed\": %lld, \"loads_mixed\": %lld}%s\n",
                 run.way.c_str(), o.writers, o.saves, o.loaders, s.failed, run.told, run.missing,
                 static_cast<double>(run.wall_ns) / 1e9, s.saves_per_s, Ms(s.median_ns),
                 Ms(s.p99_ns), Ms(s.worst_ns),
                 static_cast<long long>(s.passed_by.empty() ? 0 : s.passed_by[s.worst]),
                 static_cast<long long>(run.loads.loads), static_cast<long long>(run.loads.failed),
                 static_cast<long long>(run.loads.mixed), last ? "" : ",");
}

void WriteRaw(std::FILE *out, const Run &run, const Summary &s, const Options &o) {
    for (size_t i = 0; i < run.saves.size(); ++i) {
        const SaveRecord &r = run.saves[i];
        std::fprintf(out, "%s,%zu,%zu,%.3f,%.3f,%d,%d,%d,%lld\n", run.way.c_str(), i / o.saves,
                     i % o.saves, Ms(r.start_ns - run.release_ns), Ms(r.end_ns - r.start_ns), r.rc,
                     r.told, r.done, static_cast<long long>(s.passed_by[i]));
    }
}

bool ParseOptions(int argc, char **argv, Options *o) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i + 1 >= argc) return false;
        const char *value = argv[++i];
        int *count = arg == "--writers"   ? &o->writers
                     : arg == "--saves"   ? &o->saves
                     : arg == "--loaders" ? &o->loaders
                                          : nullptr;
        if (count != nullptr) {
            char *end = nullptr;
            const long n = std::strtol(value, &end, 10);
            if (*end != 0 || n < (count == &o->loaders ? 0 : 1) || n > 100000) return false;
            *count = static_cast<int>(n);
        } else if (arg == "--dir") {
            o->dir = value;
        } else if (arg == "--only" &&
                   (std::strcmp(value, "tovarine") == 0 || std::strcmp(value, "sqlite") == 0)) {
            o->only = value;
        } else if (arg == "--json") {
            o->json = value;
        } else if (arg == "--raw") {
            o->raw = value;
        } else {
            return false;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char **argv) {
    Options o;
    if (!ParseOptions(argc, argv, &o)) {
        std::fprintf(stderr,
                     "usage: %s [--writers 64] [--saves 20] [--loaders 8] [--dir FOLDER] "
                     "[--only tovarine|sqlite] [--json FILE] [--raw FILE]\n",
                     argv[0]);
        return 2;
    }
    if (o.dir.empty()) {
        const char *named = std::getenv("TOVARINE_BENCH_DIR");
        o.dir = named != nullptr && *named != 0 ? named : fs::temp_directory_path().string();
    }
    std::string dir = o.dir + "/tovarine-store-load-XXXXXX";
    if (mkdtemp(dir.data()) == nullptr) {
        std::fprintf(stderr, "store_load: cannot make a folder in %s\n", o.dir.c_str());
        return 2;
    }
    std::printf("stores in %s\n", dir.c_str());
    std::fflush(stdout);  // not copied into the processes' buffers

    TovarineWay tovarine_way;
    SqliteWay sqlite_way;
    std::vector<Way *> ways;
    if (o.only != "sqlite") ways.push_back(&tovarine_way);
    if (o.only != "tovarine") ways.push_back(&sqlite_way);
    std::vector<Run> runs(ways.size());
    std::vector<Summary> summaries;
    int status = 0;
    for (size_t i = 0; i < ways.size(); ++i) {
        if (!RunWay(*ways[i], o, dir, &runs[i])) {
            std::fprintf(stderr, "store_load: the %s run could not be set up\n", ways[i]->name());
            status = 2;
            break;
        }
        summaries.push_back(Summarize(runs[i], o));
        Print(runs[i], summaries[i], o);
        std::fflush(stdout);
        const Run &run = runs[i];
        if (run.way == "tovarine" &&
            (!summaries[i].ok() || run.told > 0 || run.missing > 0 || run.children_failed > 0 ||
             run.loads.failed > 0 || run.loads.mixed > 0))
            status = 1;
    }
    if (summaries.size() == 2 && summaries[1].saves_per_s > 0 && summaries[1].worst_ns > 0) {
        std::printf("tovarine / sqlite: throughput %.2f, worst save %.2f\n",
                    summaries[0].saves_per_s / summaries[1].saves_per_s,
                    static_cast<double>(summaries[0].worst_ns) /
                        static_cast<double>(summaries[1].worst_ns));
    }
    if (!o.json.empty()) {
        std::unique_ptr<std::FILE, int (*)(std::FILE *)> out(std::fopen(o.json.c_str(), "w"),
                                                             std::fclose);
        if (out) {
            std::fprintf(out.get(), "[\n");
            for (size_t i = 0; i < summaries.size(); ++i)
                WriteJson(out.get(), runs[i], summaries[i], o, i + 1 == summaries.size());
            std::fprintf(out.get(), "]\n");
        }
    }
    if (!o.raw.empty()) {
        std::unique_ptr<std::FILE, int (*)(std::FILE *)> out(std::fopen(o.raw.c_str(), "w"),
                                                             std::fclose);
        if (out) {
            std::fprintf(out.get(), "way,writer,save,start_ms,latency_ms,rc,told,done,passed_by\n");
            for (size_t i = 0; i < summaries.size(); ++i)
                WriteRaw(out.get(), runs[i], summaries[i], o);
        }
    }
    std::error_code ignored;
    fs::remove_all(dir, ignored);
    return status;
}
