// Saves and loads of n settings (text, bytes and integer settings in turn) through the exports,
// confirmed by a Yes from the message box handler (interactive) or by the instance selector
// (silent), beside a baseline that writes the same n texts with SQLite directly: one
// transaction, the store's pragmas (WAL, synchronous=FULL) and its checkpoint after the commit,
// and reads them back by name in one read transaction.
//
// The stores live in $TOVARINE_BENCH_DIR, else /dev/shm, else the temporary folder: on a RAM
// disk the figures are the engine's own work; on a real disk they are its flushes. Count the
// flushes of one benchmark with, for example:
//   strace -f -c -e trace=fdatasync,fsync build/bench/bench/tovarine_bench
//       --benchmark_filter='SettingsFlushes/save/256'   (one command line)
// The Flushes benchmarks run a fixed 50 saves after one save that makes the instance.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/registry_store.h"
#include "platform/posix/registry_test_controls.h"
#include "settings/settings_root.h"
#include "tovarine.h"

namespace {

namespace fs = std::filesystem;

std::string BenchFolder() {
    const char *named = std::getenv("TOVARINE_BENCH_DIR");
    std::string base = named != nullptr && *named != 0 ? named
                       : fs::is_directory("/dev/shm")  ? "/dev/shm"
                                                       : fs::temp_directory_path().string();
    std::string dir = base + "/tovarine-bench-XXXXXX";
    return mkdtemp(dir.data()) != nullptr ? dir : std::string();
}

int AnswerYes(void *, HWND, const char *, const char *, unsigned) { return IDYES; }

// A host with n settings: type 1 (32-byte text), 3 (8 bytes) and 4 (integer) in turn.
struct Host {
    explicit Host(size_t n) : names(n) {
        for (Values &values : sets) values.Resize(n);
        for (size_t i = 0; i < n; ++i) names[i] = "Setting" + std::to_string(i);
        for (int64_t round : {0, 1}) {
            Values &values = sets[round];
            for (size_t i = 0; i < n; ++i) {
                std::snprintf(values.texts[i].data(), values.texts[i].size(), "v%zu/%d", i % 100000,
                              static_cast<int>(round + 1));
                for (size_t k = 0; k < 8; ++k)
                    values.bytes[i][k] = static_cast<char>((round + 1) >> (8 * k));
                values.numbers[i] = static_cast<int32_t>((round + 1) * 7 + static_cast<int64_t>(i));
            }
        }
        current.Resize(n);
        for (size_t i = 0; i < n; ++i) {
            const int16_t type = i % 3 == 0 ? 1 : i % 3 == 1 ? 3 : 4;
            void *variable = type == 1   ? static_cast<void *>(current.texts[i].data())
                             : type == 3 ? static_cast<void *>(current.bytes[i].data())
                                         : static_cast<void *>(&current.numbers[i]);
            const int16_t size = type == 1 ? 32 : type == 3 ? 8 : 4;
            table.push_back({names[i].c_str(), type, size, variable, nullptr});
        }
        table.push_back({});
    }
    // Gives every setting the value of the round's parity: two rounds in a row differ in every
    // setting. Both sets of values are made once, so that the loops time the library, not the
    // making of values (the baseline's loops alternate two sets of texts made beforehand).
    void Fill(int64_t round) { current.CopyFrom(sets[round % 2]); }

    struct Values {
        std::vector<std::array<char, 32>> texts;
        std::vector<std::array<char, 8>> bytes;
        std::vector<int32_t> numbers;
        void Resize(size_t n) {
            texts.resize(n);
            bytes.resize(n);
            numbers.resize(n);
        }
        // Into the same storage, which the table points into.
        void CopyFrom(const Values &other) {
            std::copy(other.texts.begin(), other.texts.end(), texts.begin());
            std::copy(other.bytes.begin(), other.bytes.end(), bytes.begin());
            std::copy(other.numbers.begin(), other.numbers.end(), numbers.begin());
        }
    };
    std::vector<std::string> names;
    Values sets[2];
    Values current;
    std::vector<SettingDescriptor> table;
};

// A fresh store with the settings root, for one benchmark run.
class Store {
public:
    Store() : dir_(BenchFolder()) {
        setenv("TOVARINE_REGISTRY", (dir_ + "/registry.db").c_str(), 1);
        tovarine::registry::CloseStore();
        HKEY root = nullptr;
        ok_ = !dir_.empty() &&
              RegCreateKeyExA(HKEY_CURRENT_USER, tovarine::kSettingsRootPath, 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &root, nullptr) == ERROR_SUCCESS &&
              RegCloseKey(root) == ERROR_SUCCESS;
    }
    ~Store() {
        tovarine::registry::CloseStore();
        if (!dir_.empty()) fs::remove_all(dir_);
    }
    bool ok() const { return ok_; }
    const std::string &dir() const { return dir_; }

private:
    std::string dir_;
    bool ok_ = false;
};

// silent: 0 asks (and the handler says Yes), 1 uses the selector.
void SetMode(int64_t silent) {
    tovarine_set_message_box_handler(&AnswerYes, nullptr);
    f9832144782(silent != 0 ? 1 : 0);
}

// `history`: whether the save records its changes in the store's history, as shipped.
void Save(benchmark::State &state, bool history) {
    Store store;
    if (!store.ok()) return state.SkipWithError("no store");
    tovarine::registry::KeepHistory(history);
    SetMode(state.range(1));
    Host host(static_cast<size_t>(state.range(0)));
    int64_t round = 0;
    for (auto _ : state) {
        host.Fill(++round);  // every setting changes, so every save asks and writes all
        if (qy70EE(nullptr, "Bench", host.table.data()) != 0) state.SkipWithError("save failed");
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
    f9832144782(0);
    tovarine::registry::KeepHistory(true);
}

void BM_Save(benchmark::State &state) { Save(state, true); }
void BM_SaveWithoutHistory(benchmark::State &state) { Save(state, false); }

void BM_Load(benchmark::State &state) {
    Store store;
    if (!store.ok()) return state.SkipWithError("no store");
    SetMode(state.range(1));
    Host host(static_cast<size_t>(state.range(0)));
    host.Fill(1);
    qy70EE(nullptr, "Bench", host.table.data());
    for (auto _ : state) {
        host.Fill(0);  // every setting differs from the stored one, so every load assigns all
        if (qy45AF(nullptr, "Bench", host.table.data()) != 0) state.SkipWithError("load failed");
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
    f9832144782(0);
}

// Fixed-count saves for counting flushes under strace: one save making the instance, then 50.
// With history (range 1: 1) or without (0).
void BM_Flushes(benchmark::State &state) {
    Store store;
    if (!store.ok()) return state.SkipWithError("no store");
    tovarine::registry::KeepHistory(state.range(1) != 0);
    SetMode(1);
    Host host(static_cast<size_t>(state.range(0)));
    host.Fill(0);
    qy70EE(nullptr, "Bench", host.table.data());
    int64_t round = 0;
    for (auto _ : state) {
        host.Fill(++round);
        qy70EE(nullptr, "Bench", host.table.data());
    }
    f9832144782(0);
    tovarine::registry::KeepHistory(true);
}

// The baseline: the same texts, straight into SQLite with the store's durability.
class Baseline {
public:
    explicit Baseline(const std::string &dir) {
        if (sqlite3_open((dir + "/baseline.db").c_str(), &db_) != SQLITE_OK) return;
        Exec("PRAGMA journal_mode=WAL");
        Exec("PRAGMA synchronous=FULL");
        Exec(
            "CREATE TABLE vals (key_id INTEGER NOT NULL, name TEXT NOT NULL, type INTEGER NOT "
            "NULL, data BLOB NOT NULL, PRIMARY KEY (key_id, name))");
        sqlite3_prepare_v2(db_,
                           "INSERT INTO vals VALUES (1, ?1, 1, ?2) ON CONFLICT (key_id, name) "
                           "DO UPDATE SET data = excluded.data",
                           -1, &put_, nullptr);
        sqlite3_prepare_v2(db_, "SELECT data FROM vals WHERE key_id = 1 AND name = ?1", -1, &get_,
                           nullptr);
    }
    ~Baseline() {
        sqlite3_finalize(put_);
        sqlite3_finalize(get_);
        sqlite3_close(db_);
    }
    bool ok() const { return put_ != nullptr && get_ != nullptr; }
    void Save(const std::vector<std::string> &names, const std::vector<std::string> &texts) {
        Exec("BEGIN IMMEDIATE");
        for (size_t i = 0; i < names.size(); ++i) {
            sqlite3_bind_text(put_, 1, names[i].c_str(), -1, SQLITE_STATIC);
            sqlite3_bind_blob(put_, 2, texts[i].c_str(), static_cast<int>(texts[i].size() + 1),
                              SQLITE_STATIC);
            sqlite3_step(put_);
            sqlite3_reset(put_);
        }
        Exec("COMMIT");
        sqlite3_wal_checkpoint_v2(db_, nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
    }
    size_t Load(const std::vector<std::string> &names, std::vector<std::string> &texts) {
        size_t found = 0;
        Exec("BEGIN");
        for (size_t i = 0; i < names.size(); ++i) {
            sqlite3_bind_text(get_, 1, names[i].c_str(), -1, SQLITE_STATIC);
            if (sqlite3_step(get_) == SQLITE_ROW) {
                texts[i].assign(static_cast<const char *>(sqlite3_column_blob(get_, 0)));
                ++found;
            }
            sqlite3_reset(get_);
        }
        Exec("COMMIT");
        return found;
    }

private:
    void Exec(const char *sql) { sqlite3_exec(db_, sql, nullptr, nullptr, nullptr); }
    sqlite3 *db_ = nullptr;
    sqlite3_stmt *put_ = nullptr;
    sqlite3_stmt *get_ = nullptr;
};

std::vector<std::string> Texts(size_t n, int64_t round) {
    std::vector<std::string> texts(n);
    for (size_t i = 0; i < n; ++i) {
        char text[32];
        std::snprintf(text, sizeof text, "v%zu/%d", i % 100000, static_cast<int>(round % 1000000));
        texts[i] = text;
    }
    return texts;
}

void BM_BaselineSave(benchmark::State &state) {
    Store store;
    Baseline baseline(store.dir());
    if (!baseline.ok()) return state.SkipWithError("no baseline store");
    const Host host(static_cast<size_t>(state.range(0)));
    const std::vector<std::string> texts[2] = {Texts(host.names.size(), 1),
                                               Texts(host.names.size(), 2)};
    int64_t round = 0;
    for (auto _ : state) baseline.Save(host.names, texts[++round % 2]);
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_BaselineLoad(benchmark::State &state) {
    Store store;
    Baseline baseline(store.dir());
    if (!baseline.ok()) return state.SkipWithError("no baseline store");
    const Host host(static_cast<size_t>(state.range(0)));
    baseline.Save(host.names, Texts(host.names.size(), 1));
    std::vector<std::string> texts(host.names.size());
    for (auto _ : state) {
        if (baseline.Load(host.names, texts) != host.names.size()) state.SkipWithError("lost");
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void Sizes(benchmark::internal::Benchmark *b) {
    b->ArgNames({"n", "silent"});
    for (int64_t n : {1, 16, 256, 1024}) {
        for (int64_t silent : {0, 1}) b->Args({n, silent});
    }
    b->Unit(benchmark::kMicrosecond);
}

}  // namespace

BENCHMARK(BM_Save)->Name("SettingsSave")->Apply(Sizes);
BENCHMARK(BM_SaveWithoutHistory)->Name("SettingsSaveWithoutHistory")->Apply(Sizes);
BENCHMARK(BM_Load)->Name("SettingsLoad")->Apply(Sizes);
BENCHMARK(BM_BaselineSave)
    ->Name("BaselineSave")
    ->ArgName("n")
    ->Arg(1)
    ->Arg(16)
    ->Arg(256)
    ->Arg(1024)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_BaselineLoad)
    ->Name("BaselineLoad")
    ->ArgName("n")
    ->Arg(1)
    ->Arg(16)
    ->Arg(256)
    ->Arg(1024)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Flushes)
    ->Name("SettingsFlushes/save")
    ->ArgNames({"n", "history"})
    ->ArgsProduct({{1, 16, 256, 1024}, {1, 0}})
    ->Iterations(50)
    ->Unit(benchmark::kMicrosecond);
