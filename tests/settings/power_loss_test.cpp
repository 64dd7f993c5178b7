// Power loss during a stream of settings saves, simulated. A recording file system under the
// store notes every write, truncation, sync and deletion of the store's files while a host saves
// its settings silently into several instances. Then, for every point between two of those
// operations, the files are rebuilt as a power loss there could have left them: what each file
// held at its last sync is kept, and the writes since are dropped, kept, or kept in part (512-byte
// pieces), and the shared-memory index is gone. Each such store must pass SQLite's integrity
// check, open through the library, hold every save that was durable (a commit is durable once
// the log holding it has been synced), and hold in every instance one save's values, whole.
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/posix/registry_store.h"
#include "recording_vfs.h"
#include "settings_fixture.h"

namespace tovarine::testing {
namespace {

namespace fs = std::filesystem;

// Before main, so before any registry call of this program opens a store: the store's layer
// then sits over the recorder.
const bool kRecorderInstalled = InstallRecordingVfs();

constexpr int kSettings = 32;
constexpr int kSaves = 60;
constexpr int64_t kSector = 512;
constexpr const char kName[] = "Crash";
constexpr uint64_t kSeed = 0x7465'6172'696e'6721ull;

// What setting j holds after save k: every value names its save, and most change length with it.
bool IsNumber(int j) { return j % 4 == 3; }
std::string Expected(int j, int k) {
    if (IsNumber(j)) return std::to_string(k * 1000 + j);
    return "k" + std::to_string(k) + "s" + std::to_string(j) + ":" +
           std::string((k * 7 + j * 3) % 29, static_cast<char>('a' + (k + j) % 26));
}
// The save a value of setting 0 names, or -1.
int SaveOf(const std::string &text) {
    int k = -1, n = 0;
    return std::sscanf(text.c_str(), "k%ds0:%n", &k, &n) == 1 && n > 0 ? k : -1;
}

const std::vector<std::string> &SettingNames() {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> made;
        for (int j = 0; j < kSettings; ++j) made.push_back("Setting" + std::to_string(j));
        return made;
    }();
    return names;
}

// A host's table of kSettings settings, texts and numbers, holding what save k stores.
struct Host {
    char texts[kSettings][64] = {};
    int32_t numbers[kSettings] = {};
    std::vector<SettingDescriptor> table;
    explicit Host(int k) {
        std::vector<SettingDescriptor> settings;
        for (int j = 0; j < kSettings; ++j) {
            const char *name = SettingNames()[j].c_str();
            if (IsNumber(j)) {
                numbers[j] = k * 1000 + j;
                settings.push_back(Setting(name, 4, 4, &numbers[j]));
            } else {
                std::snprintf(texts[j], sizeof texts[j], "%s", Expected(j, k).c_str());
                settings.push_back(Setting(name, 1, 64, texts[j]));
            }
        }
        table = Table(settings);
    }
    Host(const Host &) = delete;
};

// One call that commits, by the positions in the record: the operations it did are
// [first, returned); `log_sync` is the last sync of the log among them.
struct Commit {
    std::string instance;  // the instance key it wrote; empty for the settings root
    size_t first = 0, returned = 0;
    size_t log_sync = SIZE_MAX;
    // The first crash point at which the commit must survive.
    size_t DurableAt() const { return log_sync != SIZE_MAX ? log_sync + 1 : returned; }
};

struct File {
    bool exists = false;
    std::vector<uint8_t> bytes;
    bool operator==(const File &) const = default;
};
using Image = std::vector<File>;  // by the record's file index

// What a power loss leaves of the writes since a file's last sync.
enum class Loss {
    kAllDropped,  // none reached the disk
    kAllKept,     // all did (a process killed, no power lost)
    kScattered,   // each 512-byte piece of each write, each truncation and deletion, or not
    kTorn,        // all did, but the last write only in part: cut off in the middle
};
constexpr Loss kLosses[] = {Loss::kAllDropped, Loss::kAllKept, Loss::kScattered, Loss::kTorn};
const char *NameOf(Loss loss) {
    constexpr const char *kNames[] = {"all unsynced writes dropped", "all unsynced writes kept",
                                      "unsynced sectors scattered", "last write torn"};
    return kNames[static_cast<int>(loss)];
}

// The disk under the record, replayed operation by operation: each file as of its last sync,
// and the operations on it since.
class Disk {
public:
    // `lost_syncs`: syncs that are taken as never having happened.
    Disk(const std::vector<FileOp> &ops, size_t files, std::set<size_t> lost_syncs = {})
        : ops_(ops), lost_(std::move(lost_syncs)), durable_(files), pending_(files) {}

    size_t at() const { return at_; }  // operations done so far

    void Advance() {
        const FileOp &op = ops_[at_];
        if (op.kind != FileOp::kSync) {
            pending_[op.file].push_back(at_);
        } else if (!lost_.contains(at_)) {
            for (const size_t i : pending_[op.file]) Apply(durable_[op.file], ops_[i], Whole);
            pending_[op.file].clear();
            // A deletion is a change of the folder, on disk at the next sync of any file.
            for (size_t f = 0; f < pending_.size(); ++f) {
                auto &list = pending_[f];
                size_t last = list.size();
                for (size_t i = 0; i < list.size(); ++i)
                    if (ops_[list[i]].kind == FileOp::kDelete) last = i;
                if (last == list.size()) continue;
                for (size_t i = 0; i <= last; ++i) Apply(durable_[f], ops_[list[i]], Whole);
                list.erase(list.begin(), list.begin() + static_cast<ptrdiff_t>(last) + 1);
            }
        }
        ++at_;
    }

    // The files as a power loss right now leaves them.
    Image AfterPowerLoss(Loss loss, std::mt19937_64 &random) const {
        Image image = durable_;
        auto coin = [&random] { return (random() & 1) != 0; };
        for (size_t f = 0; f < image.size(); ++f) {
            for (const size_t i : pending_[f]) {
                const bool last = i + 1 == at_;
                if (loss == Loss::kAllDropped) break;
                if (loss == Loss::kAllKept || (loss == Loss::kTorn && !last)) {
                    Apply(image[f], ops_[i], Whole);
                } else {
                    Apply(image[f], ops_[i], coin);
                }
            }
        }
        return image;
    }

    // Whether the last operation was a write that a tear can cut: more than one piece, pending.
    bool CanTear() const {
        if (at_ == 0) return false;
        const FileOp &op = ops_[at_ - 1];
        return op.kind == FileOp::kWrite && !op.bytes.empty() &&
               op.offset / kSector !=
                   (op.offset + static_cast<int64_t>(op.bytes.size()) - 1) / kSector &&
               !pending_[op.file].empty() && pending_[op.file].back() == at_ - 1;
    }
    bool Settled() const {
        for (const auto &list : pending_)
            if (!list.empty()) return false;
        return true;
    }

private:
    static bool Whole() { return true; }

    // Applies one operation; a write in the pieces a sector boundary cuts it into, each piece
    // when `keep()` says so (a truncation or deletion whole, when it says so).
    template <typename Keep>
    static void Apply(File &file, const FileOp &op, Keep &&keep) {
        switch (op.kind) {
            case FileOp::kWrite: {
                file.exists = true;
                const int64_t end = op.offset + static_cast<int64_t>(op.bytes.size());
                for (int64_t at = op.offset; at < end;) {
                    const int64_t next = std::min(end, (at / kSector + 1) * kSector);
                    if (keep()) {
                        if (file.bytes.size() < static_cast<size_t>(next)) file.bytes.resize(next);
                        std::memcpy(file.bytes.data() + at, op.bytes.data() + (at - op.offset),
                                    static_cast<size_t>(next - at));
                    }
                    at = next;
                }
                break;
            }
            case FileOp::kTruncate:
                // A file truncated is there, even one never written: opened, made, then cut.
                if (keep()) {
                    file.exists = true;
                    file.bytes.resize(static_cast<size_t>(op.offset));
                }
                break;
            case FileOp::kDelete:
                if (keep()) file = File{};
                break;
            case FileOp::kSync:
                break;
        }
    }

    const std::vector<FileOp> &ops_;
    std::set<size_t> lost_;
    Image durable_;
    std::vector<std::vector<size_t>> pending_;
    size_t at_ = 0;
};

std::vector<uint8_t> ReadFile(const fs::path &path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// Writes the files into `dir`. The store's own file is there even when SQLite never wrote it:
// the library makes it, empty, before SQLite opens it.
void WriteImage(const fs::path &dir, const std::vector<std::string> &names, const Image &image,
                const std::string &store_name) {
    fs::remove_all(dir);
    fs::create_directories(dir);
    std::ofstream(dir / store_name, std::ios::binary).flush();
    for (size_t f = 0; f < image.size(); ++f) {
        if (!image[f].exists) continue;
        std::ofstream(dir / names[f], std::ios::binary)
            .write(reinterpret_cast<const char *>(image[f].bytes.data()),
                   static_cast<std::streamsize>(image[f].bytes.size()));
    }
}

// SQLite's own verdict on the database, read without changing the files: no checkpoint when
// the connection closes, and the index it made in shared memory removed afterwards.
std::string IntegrityOf(const fs::path &db_path) {
    sqlite3 *db = nullptr;
    std::string verdict;
    if (sqlite3_open_v2(db_path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
        verdict = std::string("cannot open: ") + sqlite3_errmsg(db);
    } else {
        sqlite3_db_config(db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
        char *error = nullptr;
        const int rc = sqlite3_exec(
            db, "PRAGMA integrity_check",
            [](void *out, int, char **row, char **) {
                auto &text = *static_cast<std::string *>(out);
                text += text.empty() ? "" : "; ";
                text += row[0] != nullptr ? row[0] : "";
                return 0;
            },
            &verdict, &error);
        if (rc != SQLITE_OK)
            verdict =
                std::string("integrity_check failed: ") + (error ? error : sqlite3_errstr(rc));
        sqlite3_free(error);
    }
    sqlite3_close(db);
    fs::remove(db_path.string() + "-shm");
    return verdict;
}

// The instances under the settings root as the library reads them: name -> value name -> text.
// Empty when the root does not exist; `error` set when the store cannot be read.
using Instances = std::map<std::string, std::map<std::string, std::string>>;
Instances ReadInstances(bool *root_found, LONG *error) {
    Instances found;
    *root_found = false;
    *error = ERROR_SUCCESS;
    HKEY root = nullptr;
    LONG rc = RegOpenKeyExA(HKEY_CURRENT_USER, kRoot, 0, KEY_READ, &root);
    if (rc == ERROR_FILE_NOT_FOUND) return found;
    if (rc != ERROR_SUCCESS) {
        *error = rc;
        return found;
    }
    *root_found = true;
    char name[256];
    DWORD chars = sizeof name;
    std::vector<std::string> names;
    while ((rc = RegEnumKeyExA(root, static_cast<DWORD>(names.size()), name, &chars, nullptr,
                               nullptr, nullptr, nullptr)) == ERROR_SUCCESS) {
        names.emplace_back(name, chars);
        chars = sizeof name;
    }
    RegCloseKey(root);
    if (rc != ERROR_NO_MORE_ITEMS) *error = rc;
    for (const auto &instance : names) {
        HKEY key = Key(std::string(kRoot) + "\\" + instance, false);
        if (key == nullptr) {
            *error = ERROR_CANTREAD;
            continue;
        }
        auto &values = found[instance];
        BYTE data[512];
        for (DWORD index = 0;; ++index) {
            DWORD name_chars = sizeof name, bytes = sizeof data - 1, type = 0;
            rc = RegEnumValueA(key, index, name, &name_chars, nullptr, &type, data, &bytes);
            if (rc != ERROR_SUCCESS) break;
            data[bytes] = 0;
            values[std::string(name, name_chars)] = reinterpret_cast<const char *>(data);
        }
        if (rc != ERROR_NO_MORE_ITEMS) *error = rc;
        RegCloseKey(key);
    }
    return found;
}

// What the checks found in one store: SQLite's verdict and the instances the library read.
struct Found {
    std::string integrity;
    LONG error = ERROR_SUCCESS;
    bool root_found = false;
    Instances instances;
    Instances replayed;        // the instances as the store's history of changes makes them
    bool takes_saves = false;  // a save made afterwards is there to load
};

// The instances as the history's changes, replayed from the first, leave them: each value's text
// after its last change, a key deleted gone.
Instances Replay(LONG *error) {
    Instances replayed;
    *error = registry::ForEachChange(0, true, [&](const registry::Change &change) {
        if (change.whole_key) {
            if (change.new_value) {
                replayed[change.key];
            } else {
                replayed.erase(change.key);
            }
        } else if (change.new_value) {
            const auto *text = reinterpret_cast<const char *>(change.new_value->data.data());
            replayed[change.key][change.name] =
                std::string(text, strnlen(text, change.new_value->data.size()));
        } else {
            replayed[change.key].erase(change.name);
        }
        return true;
    });
    return replayed;
}

// Opens the store at `db_path` (the file TOVARINE_REGISTRY names) both ways, then saves into
// it: the store that a power loss left must go on working.
Found Examine(const fs::path &db_path) {
    Found found;
    found.integrity = IntegrityOf(db_path);
    registry::CloseStore();
    found.instances = ReadInstances(&found.root_found, &found.error);
    LONG replay_error = ERROR_SUCCESS;
    found.replayed = Replay(&replay_error);
    if (found.error == ERROR_SUCCESS) found.error = replay_error;
    const std::string path = std::string(kRoot) + "\\After 0";
    Host after(kSaves + 1);
    f9832144782(1);
    qy63B1(nullptr, path.c_str(), after.table.data(), 1);
    f9832144782(0);
    found.takes_saves = Get(path, SettingNames()[0].c_str()) == Expected(0, kSaves + 1);
    registry::CloseStore();
    return found;
}

// What is wrong with a store found so after a power loss once `at` operations were done: one
// line per fault, none when every durable commit is there and every instance is whole.
std::vector<std::string> Faults(const Found &found, const std::vector<Commit> &commits, size_t at) {
    std::vector<std::string> faults;
    if (found.integrity != "ok") faults.push_back("integrity check: " + found.integrity);
    if (found.error != ERROR_SUCCESS)
        faults.push_back("store read failed: " + std::to_string(found.error));
    if (!found.takes_saves) faults.push_back("a save made afterwards is not there");
    // A change and its record of it are kept together or neither.
    if (found.replayed != found.instances)
        faults.push_back("the history of changes does not end in what the store holds");
    if (!found.root_found && commits[0].DurableAt() <= at)
        faults.push_back("the settings root, made durably before, is gone");

    std::map<std::string, int> held;  // instance -> the save it holds
    for (const auto &[instance, values] : found.instances) {
        const auto first = values.find(SettingNames()[0]);
        const int k = first != values.end() ? SaveOf(first->second) : -1;
        if (k < 1 || k >= static_cast<int>(commits.size())) {
            faults.push_back(instance + ": holds no save's values");
            continue;
        }
        held[instance] = k;
        if (commits[k].first >= at)
            faults.push_back(instance + ": holds save " + std::to_string(k) + ", not yet begun");
        if (commits[k].instance != instance)
            faults.push_back(instance + ": holds save " + std::to_string(k) + " of " +
                             commits[k].instance);
        std::map<std::string, std::string> whole;
        for (int j = 0; j < kSettings; ++j) whole[SettingNames()[j]] = Expected(j, k);
        if (values != whole)
            faults.push_back(instance + ": not wholly save " + std::to_string(k) + "'s values");
    }
    for (size_t k = 1; k < commits.size(); ++k) {
        if (commits[k].DurableAt() > at) continue;
        const auto held_at = held.find(commits[k].instance);
        if (held_at == held.end() || held_at->second < static_cast<int>(k)) {
            faults.push_back("save " + std::to_string(k) + " into " + commits[k].instance +
                             " (returned after operation " + std::to_string(commits[k].returned) +
                             ", log synced at " + std::to_string(commits[k].log_sync) +
                             ") lost: the instance holds " +
                             (held_at == held.end() ? "nothing" : std::to_string(held_at->second)));
        }
    }
    return faults;
}

// One 64-bit digest of the files: a power loss often leaves the same files at several points.
uint64_t DigestOf(const Image &image) {
    uint64_t digest = 0;
    for (const File &file : image) {
        const std::string_view bytes(reinterpret_cast<const char *>(file.bytes.data()),
                                     file.bytes.size());
        digest = digest * 0x100000001B3ull ^ std::hash<std::string_view>{}(bytes) ^
                 (file.exists ? 1 : 0);
    }
    return digest;
}

class PowerLossTest : public SettingsTest {
protected:
    void SetUp() override {
        SettingsTest::SetUp();
        ASSERT_TRUE(kRecorderInstalled);
        store_ = std::getenv("TOVARINE_REGISTRY");
        // The stores to check are written to a memory-backed folder where there is one: no
        // disk to wait for.
        for (const fs::path &place : {fs::path("/dev/shm"), store_.parent_path()}) {
            std::string scratch = place / "tovarine-power-loss-XXXXXX";
            if (mkdtemp(scratch.data()) == nullptr) continue;
            scratch_ = scratch;
            break;
        }
        ASSERT_FALSE(scratch_.empty()) << "no folder for the stores to check";
        SkipSyncsIn(scratch_);
    }
    void TearDown() override {
        StopRecording();
        if (!scratch_.empty()) fs::remove_all(scratch_);
        setenv("TOVARINE_REGISTRY", store_.c_str(), 1);
        registry::CloseStore();
        SettingsTest::TearDown();
    }

    // Records the stream of saves: the settings root made, then kSaves silent saves of the
    // host's table, new instances among them, with the store closed and opened again half way.
    // commits[0] is the root, commits[k] save k.
    void RecordSaves() {
        ASSERT_NO_FATAL_FAILURE(RecordRoot());
        for (int k = 1; k <= kSaves; ++k) {
            if (k == kSaves / 2) registry::CloseStore();  // a new connection, a new log
            ASSERT_NO_FATAL_FAILURE(RecordSave(k, false));
        }
        ASSERT_NO_FATAL_FAILURE(FinishRecord());
    }

    // Starts the record with the settings root made: commits_[0].
    void RecordRoot() {
        StartRecording(store_.parent_path());
        Commit root;
        root.first = Mark();
        RegCloseKey(Key(kRoot, true));
        root.returned = Mark();
        commits_ = {root};
        instances_.clear();
    }

    // Records save k (commits_[k]): a new instance when there is none yet and every fifth time,
    // straight into an instance by its path when k % 5 == 3, else into the n-th instance by
    // name. With `in_a_child`, made by a process of its own that leaves without closing the
    // store, as one that is killed or crashes does, and hands its record over.
    void RecordSave(int k, bool in_a_child) {
        Commit save;
        save.first = Mark();
        std::string outcome;
        if (!in_a_child) {
            outcome = SaveOne(k, instances_);
        } else {
            registry::CloseStore();  // no connection crosses a fork
            int out[2];
            ASSERT_EQ(pipe(out), 0);
            const pid_t child = fork();
            if (child == 0) {
                close(out[0]);
                StartRecording(store_.parent_path());  // its own operations only
                const std::string result = SaveOne(k, instances_);
                const std::string message = result + "\n" + RecordBytes();
                _exit(write(out[1], message.data(), message.size()) ==
                              static_cast<ssize_t>(message.size())
                          ? 0
                          : 1);
            }
            close(out[1]);
            std::string message;
            char chunk[65536];
            for (ssize_t got; (got = read(out[0], chunk, sizeof chunk)) > 0;)
                message.append(chunk, static_cast<size_t>(got));
            close(out[0]);
            int status = -1;
            ASSERT_EQ(waitpid(child, &status, 0), child);
            ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "save " << k;
            const size_t end = message.find('\n');
            ASSERT_NE(end, std::string::npos) << "save " << k;
            ASSERT_TRUE(AppendRecordBytes(message.substr(end + 1))) << "save " << k;
            outcome = message.substr(0, end);
        }
        save.returned = Mark();
        ASSERT_EQ(outcome.rfind("saved into ", 0), 0u) << "save " << k << ": " << outcome;
        save.instance = outcome.substr(11);
        if (std::find(instances_.begin(), instances_.end(), save.instance) == instances_.end())
            instances_.push_back(save.instance);
        commits_.push_back(save);
    }

    // Makes save k of RecordSave. Returns "saved into INSTANCE", or what went wrong.
    static std::string SaveOne(int k, const std::vector<std::string> &instances) {
        Host host(k);
        int32_t rc;
        if (instances.empty() || k % 5 == 0) {  // a new instance
            f9832144782(-1);
            rc = qy70EE(nullptr, kName, host.table.data());
        } else if (k % 5 == 3) {  // straight into an instance by its path
            f9832144782(1);
            const std::string path = std::string(kRoot) + "\\" + instances[k % instances.size()];
            rc = qy63B1(nullptr, path.c_str(), host.table.data(), 1) == 1 ? 0 : -1;
        } else {  // the n-th instance
            f9832144782(1 + k % static_cast<int32_t>(instances.size()));
            rc = qy70EE(nullptr, kName, host.table.data());
        }
        f9832144782(0);
        if (rc != 0) return "returned " + std::to_string(rc);
        std::string found;
        for (const auto &instance : Subkeys(kRoot)) {
            if (Get(std::string(kRoot) + "\\" + instance, SettingNames()[0].c_str()) ==
                Expected(0, k)) {
                if (!found.empty()) return "found twice";
                found = instance;
            }
        }
        return found.empty() ? "not found" : "saved into " + found;
    }

    // Ends the record and takes it in: the operations, the files, each commit's log sync.
    void FinishRecord() {
        StopRecording();
        ops_ = RecordedOps();
        files_ = RecordedFiles();
        for (size_t f = 0; f < files_.size(); ++f) {
            if (files_[f].ends_with("-wal")) log_ = static_cast<int>(f);
            if (files_[f] == store_.filename()) db_ = static_cast<int>(f);
        }
        ASSERT_GE(log_, 0) << "the store never wrote a log";
        for (Commit &commit : commits_) {
            for (size_t i = commit.first; i < commit.returned; ++i)
                if (ops_[i].kind == FileOp::kSync && ops_[i].file == log_) commit.log_sync = i;
        }
    }

    static size_t Mark() { return RecordedOps().size(); }

    // The record is complete: replayed whole, it gives the files as they are now.
    void ExpectReplayGivesTheFiles() const {
        Disk disk(ops_, files_.size());
        while (disk.at() < ops_.size()) disk.Advance();
        std::mt19937_64 unused;
        const Image replayed = disk.AfterPowerLoss(Loss::kAllKept, unused);
        for (size_t f = 0; f < files_.size(); ++f) {
            const fs::path live = store_.parent_path() / files_[f];
            EXPECT_EQ(replayed[f].exists, fs::exists(live)) << files_[f];
            if (fs::exists(live)) {
                EXPECT_TRUE(replayed[f].bytes == ReadFile(live)) << files_[f];
            }
        }
    }

    // Once each save in `saves` (operations [first, returned) of the record) has returned, the
    // log as the disk holds it is at most 1 MiB and the largest save so far (what a save wrote
    // to the log) long. Returns the longest log seen.
    int64_t ExpectLogBounded(std::vector<std::pair<size_t, size_t>> saves) const {
        constexpr int64_t kBound = int64_t{1} << 20;
        std::sort(saves.begin(), saves.end());
        Disk disk(ops_, files_.size());
        std::mt19937_64 unused;
        int64_t largest = 0, longest = 0, over = 0;
        for (const auto &[first, returned] : saves) {
            int64_t written = 0;
            for (size_t i = first; i < returned; ++i)
                if (ops_[i].kind == FileOp::kWrite && ops_[i].file == log_)
                    written += static_cast<int64_t>(ops_[i].bytes.size());
            largest = std::max(largest, written);
            while (disk.at() < returned) disk.Advance();
            const File log = disk.AfterPowerLoss(Loss::kAllKept, unused)[log_];
            const int64_t bytes = log.exists ? static_cast<int64_t>(log.bytes.size()) : 0;
            longest = std::max(longest, bytes);
            if (bytes > kBound + largest && ++over <= 3)
                ADD_FAILURE() << "after the save that ended at operation " << returned
                              << " the log is " << bytes << " bytes: more than 1 MiB and the "
                              << "largest save, " << largest << " bytes";
        }
        EXPECT_EQ(over, 0) << "saves after which the log was past its bound";
        return longest;
    }

    // Checks the stores a power loss leaves after each operation `at` for which `checked(at)`,
    // in every way of losing the unsynced writes; a failure for each store that lost a durable
    // save or is damaged (the first few told in full). Returns the number of losses.
    int64_t CheckPowerLosses(const std::function<bool(size_t)> &checked) {
        const char *seed_text = std::getenv("TOVARINE_POWER_LOSS_SEED");
        const uint64_t seed = seed_text ? std::strtoull(seed_text, nullptr, 0) : kSeed;
        Disk disk(ops_, files_.size());
        for (size_t at = 0;; disk.Advance()) {
            at = disk.at();
            if (!checked(at)) {
                if (at == ops_.size()) break;
                continue;
            }
            ++points_;
            std::mt19937_64 random(seed ^ (at * 0x9E37'79B9'7F4A'7C15ull));
            std::vector<Image> seen;
            for (const Loss loss : kLosses) {
                if (loss == Loss::kTorn && !disk.CanTear()) continue;
                if (disk.Settled() && loss != Loss::kAllDropped) break;
                const Image image = disk.AfterPowerLoss(loss, random);
                if (std::find(seen.begin(), seen.end(), image) != seen.end()) continue;
                seen.push_back(image);
                ++images_;
                const std::vector<std::string> faults = Faults(Examined(image), commits_, at);
                if (faults.empty()) continue;
                if (++losses_ <= 5) {
                    std::ostringstream files;
                    for (size_t f = 0; f < files_.size(); ++f)
                        files << " " << files_[f] << "="
                              << (image[f].exists ? std::to_string(image[f].bytes.size())
                                                  : "absent");
                    std::ostringstream report;
                    for (const auto &fault : faults) report << "\n  " << fault;
                    ADD_FAILURE() << "power loss after operation " << at << " of " << ops_.size()
                                  << " (" << NameOf(loss) << ", seed " << seed << "), files"
                                  << files.str() << report.str();
                }
            }
            if (at == ops_.size()) break;
        }
        return losses_;
    }

    // The first sync of `file` in [from, to), or SIZE_MAX.
    size_t SyncOf(int file, size_t from, size_t to) const {
        for (size_t i = from; i < to && i < ops_.size(); ++i)
            if (ops_[i].kind == FileOp::kSync && ops_[i].file == file) return i;
        return SIZE_MAX;
    }

    // The store a power loss left as `image`, as the checks find it; each distinct store is
    // opened once.
    const Found &Examined(const Image &image) {
        const uint64_t digest = DigestOf(image);
        if (const auto known = examined_.find(digest); known != examined_.end())
            return known->second;
        WriteImage(scratch_, files_, image, store_.filename());
        const fs::path copy = scratch_ / store_.filename();
        setenv("TOVARINE_REGISTRY", copy.c_str(), 1);
        Found found = Examine(copy);
        setenv("TOVARINE_REGISTRY", store_.c_str(), 1);
        return examined_.emplace(digest, std::move(found)).first->second;
    }

    fs::path store_, scratch_;
    std::vector<Commit> commits_;
    std::vector<std::string> instances_;            // the instances made so far, in the order made
    int64_t points_ = 0, images_ = 0, losses_ = 0;  // what CheckPowerLosses checked and found
    std::vector<FileOp> ops_;
    std::vector<std::string> files_;
    int log_ = -1, db_ = -1;  // the log's and the store file's indexes in files_
    std::unordered_map<uint64_t, Found> examined_;
};

TEST_F(PowerLossTest, EveryDurableSaveSurvivesAPowerLossAnywhere) {
    ASSERT_NO_FATAL_FAILURE(RecordSaves());
    std::map<FileOp::Kind, int> kinds;
    for (const FileOp &op : ops_) ++kinds[op.kind];
    ExpectReplayGivesTheFiles();
    std::vector<std::pair<size_t, size_t>> saves;
    for (const Commit &commit : commits_) saves.emplace_back(commit.first, commit.returned);
    ExpectLogBounded(saves);

    if (std::getenv("TOVARINE_POWER_LOSS_DUMP") != nullptr) {  // the record, to follow a loss
        constexpr const char *kKinds[] = {"write", "truncate", "sync", "delete"};
        for (size_t i = 0; i < ops_.size(); ++i)
            std::printf("%6zu %-14s %-8s %8" PRId64 " %6zu\n", i, files_[ops_[i].file].c_str(),
                        kKinds[ops_[i].kind], ops_[i].offset, ops_[i].bytes.size());
        for (size_t k = 0; k < commits_.size(); ++k)
            std::printf("commit %zu %s: ops %zu..%zu, log synced at %zd\n", k,
                        commits_[k].instance.c_str(), commits_[k].first, commits_[k].returned,
                        static_cast<ssize_t>(commits_[k].log_sync));
    }
    const int64_t losses = CheckPowerLosses([](size_t) { return true; });
    std::printf(
        "[  POWER   ] %zu operations (%d writes, %d truncations, %d syncs, %d deletions) "
        "over %d saves; %" PRId64 " crash points, %" PRId64
        " stores after a power loss (%zu "
        "distinct) checked, %" PRId64 " losses\n",
        ops_.size(), kinds[FileOp::kWrite], kinds[FileOp::kTruncate], kinds[FileOp::kSync],
        kinds[FileOp::kDelete], kSaves, points_, images_, examined_.size(), losses);
    RecordProperty("crash_points", std::to_string(points_));
    RecordProperty("stores_checked", std::to_string(images_));
    RecordProperty("losses", std::to_string(losses));
    EXPECT_EQ(losses, 0);
}

// The checks see a loss when a sync the store relies on does not happen: the log's sync at a
// commit (the save is then lost at once), or the store file's sync at the checkpoint after it
// (the save is then lost once the next commit starts the log afresh).
TEST_F(PowerLossTest, ALostSyncIsSeenAsALostSave) {
    ASSERT_NO_FATAL_FAILURE(RecordSaves());
    int checked = 0;
    for (int k = 1; k + 1 <= kSaves; ++k) {
        const Commit &save = commits_[k], &next = commits_[k + 1];
        if (next.first != save.returned) continue;  // the store was closed between them
        const struct {
            const char *sync;
            size_t lost, at;
        } cases[] = {
            {"the log's sync at the commit", save.log_sync, save.log_sync + 1},
            {"the store file's sync at the checkpoint", SyncOf(db_, save.log_sync, save.returned),
             SyncOf(log_, next.first, next.returned) + 1},
        };
        for (const auto &c : cases) {
            SCOPED_TRACE(std::string(c.sync) + " lost, save " + std::to_string(k));
            ASSERT_NE(c.lost, SIZE_MAX);
            ASSERT_LT(c.at, next.returned);
            Disk disk(ops_, files_.size(), {c.lost});
            while (disk.at() < c.at) disk.Advance();
            std::mt19937_64 unused;
            const Image image = disk.AfterPowerLoss(Loss::kAllDropped, unused);
            const std::vector<std::string> faults = Faults(Examined(image), commits_, c.at);
            const std::string lost = "save " + std::to_string(k) + " into ";
            EXPECT_TRUE(std::any_of(faults.begin(), faults.end(),
                                    [&](const std::string &f) { return f.starts_with(lost); }))
                << faults.size() << " faults, none the loss of save " << k;
            ++checked;
        }
    }
    EXPECT_GE(checked, kSaves);
}

// A save larger than the log's bound: kLargeSettings texts of 4,000 characters, into a key of
// its own outside the instances.
constexpr int kLargeSettings = 270;
constexpr char kLargeKey[] = "SOFTWARE\\Zel Inc.\\Large";
struct LargeHost {
    std::vector<std::string> names;
    std::vector<std::vector<char>> texts;
    std::vector<SettingDescriptor> table;
    LargeHost() {
        for (int j = 0; j < kLargeSettings; ++j) {
            names.push_back("Large" + std::to_string(j));
            texts.emplace_back(4001, static_cast<char>('a' + j % 26));
            texts.back().back() = '\0';
        }
        std::vector<SettingDescriptor> settings;
        for (int j = 0; j < kLargeSettings; ++j)
            settings.push_back(Setting(names[j].c_str(), 1, 4001, texts[j].data()));
        table = Table(settings);
    }
    LargeHost(const LargeHost &) = delete;
};

// Processes that each save once and leave without closing the store, as killed or crashed ones
// do; then saves of this process, among them one larger than the log's bound, and another
// program's copy of the log into the store file that cuts the log to nothing. After every save
// the log is within its bound (1 MiB and the largest save so far); the record, its cuts of the
// log included, replays to the files as they are; and a power loss around the last processes'
// saves, the end of the large save, the cut and the saves after them loses no durable save.
TEST_F(PowerLossTest, ShortLivedProcessesAndALargeSaveKeepTheLogBounded) {
    constexpr int kProcesses = 100;
    ASSERT_NO_FATAL_FAILURE(RecordRoot());
    int k = 0;
    while (k < kProcesses) ASSERT_NO_FATAL_FAILURE(RecordSave(++k, true));
    ASSERT_NO_FATAL_FAILURE(RecordSave(++k, false));  // this process opens the store after them
    const size_t large_first = Mark();
    {
        LargeHost large;
        f9832144782(1);
        ASSERT_EQ(qy63B1(nullptr, kLargeKey, large.table.data(), 1), 1);
        f9832144782(0);
    }
    const size_t large_returned = Mark();
    ASSERT_NO_FATAL_FAILURE(RecordSave(++k, false));
    {
        sqlite3 *other = nullptr;  // through the recorder, SQLite's default file system
        ASSERT_EQ(sqlite3_open_v2(store_.c_str(), &other, SQLITE_OPEN_READWRITE, nullptr),
                  SQLITE_OK);
        const int rc =
            sqlite3_exec(other, "PRAGMA wal_checkpoint(TRUNCATE)", nullptr, nullptr, nullptr);
        sqlite3_close(other);
        ASSERT_EQ(rc, SQLITE_OK);
    }
    ASSERT_NO_FATAL_FAILURE(RecordSave(++k, false));
    ASSERT_NO_FATAL_FAILURE(FinishRecord());

    ExpectReplayGivesTheFiles();
    std::vector<std::pair<size_t, size_t>> saves = {{large_first, large_returned}};
    for (const Commit &commit : commits_) saves.emplace_back(commit.first, commit.returned);
    const int64_t longest = ExpectLogBounded(saves);
    std::vector<size_t> cuts;  // the log's truncations
    for (size_t i = 0; i < ops_.size(); ++i)
        if (ops_[i].kind == FileOp::kTruncate && ops_[i].file == log_) cuts.push_back(i);
    EXPECT_FALSE(cuts.empty()) << "the other program's cut of the log was not recorded";

    // The large save's last sync of the log is its commit; the checkpoint follows.
    size_t large_commit = large_first;
    for (size_t i = large_first; i < large_returned; ++i)
        if (ops_[i].kind == FileOp::kSync && ops_[i].file == log_) large_commit = i;
    const size_t last_processes = commits_[kProcesses - 1].first,
                 after_processes = commits_[kProcesses + 1].first;
    const int64_t losses = CheckPowerLosses([&](size_t at) {
        if (at >= last_processes && at < after_processes) return true;
        if (at < after_processes) return false;
        if (at <= large_first || at >= large_returned) return true;
        if (at < large_commit) return false;  // the large save's own writes to the log
        // Its checkpoint: every 16th point, and those next to a cut of the log or to its end.
        for (const size_t cut : cuts)
            if (at + 4 >= cut && at <= cut + 4) return true;
        return at % 16 == 0 || at + 8 >= large_returned;
    });
    std::printf(
        "[  POWER   ] %d processes saving once, then %d saves, one of %d settings: the "
        "log at most %" PRId64 " bytes after a save, cut %zu times; %" PRId64
        " crash points, %" PRId64 " stores checked, %" PRId64 " losses\n",
        kProcesses, k - kProcesses + 1, kLargeSettings, longest, cuts.size(), points_, images_,
        losses);
    RecordProperty("longest_log_bytes", std::to_string(longest));
    RecordProperty("losses", std::to_string(losses));
    EXPECT_EQ(losses, 0);
}

}  // namespace
}  // namespace tovarine::testing
