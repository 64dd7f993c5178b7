// The recording file system: every call passes on to the file system below; the calls that
// change a file in the recorded folder are noted once they have succeeded.
#include "recording_vfs.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstring>
#include <mutex>

namespace tovarine::testing {
namespace {

struct Recorder {
    std::mutex mutex;
    std::string folder;    // with a trailing '/'; empty while nothing is recorded
    std::string unsynced;  // with a trailing '/': syncs of its files skipped; empty: none
    std::vector<FileOp> ops;
    std::vector<std::string> files;

    // The index of `path` in `files` when it is in the folder and recording is on, else -1.
    int FileOf(const char *path) {
        std::lock_guard lock(mutex);
        if (folder.empty() || path == nullptr || std::strncmp(path, folder.c_str(), folder.size()))
            return -1;
        const std::string name = path + folder.size();
        for (size_t i = 0; i < files.size(); ++i) {
            if (files[i] == name) return static_cast<int>(i);
        }
        files.push_back(name);
        return static_cast<int>(files.size() - 1);
    }
    bool Unsynced(const char *path) {
        std::lock_guard lock(mutex);
        return !unsynced.empty() && path != nullptr &&
               std::strncmp(path, unsynced.c_str(), unsynced.size()) == 0;
    }
    void Note(int file, FileOp::Kind kind, int64_t offset, const void *data = nullptr,
              size_t bytes = 0) {
        std::lock_guard lock(mutex);
        if (folder.empty()) return;
        const auto *begin = static_cast<const uint8_t *>(data);
        ops.push_back({kind, file, offset, std::vector<uint8_t>(begin, begin + bytes)});
    }
};

Recorder &R() {
    static Recorder *const recorder = new Recorder;
    return *recorder;
}

sqlite3_vfs g_vfs;
sqlite3_vfs *g_base = nullptr;

struct RecFile {
    sqlite3_file base;
    int file;  // -1: not recorded
    bool skip_sync;
    sqlite3_file *real() { return reinterpret_cast<sqlite3_file *>(this + 1); }
};
static_assert(sizeof(RecFile) % 8 == 0);

RecFile *Rf(sqlite3_file *f) { return reinterpret_cast<RecFile *>(f); }
sqlite3_file *Real(sqlite3_file *f) { return Rf(f)->real(); }
const sqlite3_io_methods &M(sqlite3_file *f) { return *Real(f)->pMethods; }

int RfClose(sqlite3_file *f) { return M(f).xClose(Real(f)); }
int RfRead(sqlite3_file *f, void *b, int n, sqlite3_int64 at) {
    return M(f).xRead(Real(f), b, n, at);
}
int RfWrite(sqlite3_file *f, const void *b, int n, sqlite3_int64 at) {
    const int rc = M(f).xWrite(Real(f), b, n, at);
    if (rc == SQLITE_OK && Rf(f)->file >= 0)
        R().Note(Rf(f)->file, FileOp::kWrite, at, b, static_cast<size_t>(n));
    return rc;
}
int RfTruncate(sqlite3_file *f, sqlite3_int64 size) {
    const int rc = M(f).xTruncate(Real(f), size);
    if (rc == SQLITE_OK && Rf(f)->file >= 0) R().Note(Rf(f)->file, FileOp::kTruncate, size);
    return rc;
}
int RfSync(sqlite3_file *f, int flags) {
    if (Rf(f)->skip_sync) return SQLITE_OK;
    const int rc = M(f).xSync(Real(f), flags);
    if (rc == SQLITE_OK && Rf(f)->file >= 0) R().Note(Rf(f)->file, FileOp::kSync, 0);
    return rc;
}
int RfFileSize(sqlite3_file *f, sqlite3_int64 *size) { return M(f).xFileSize(Real(f), size); }
int RfLock(sqlite3_file *f, int level) { return M(f).xLock(Real(f), level); }
int RfUnlock(sqlite3_file *f, int level) { return M(f).xUnlock(Real(f), level); }
int RfCheckReservedLock(sqlite3_file *f, int *out) { return M(f).xCheckReservedLock(Real(f), out); }
// Growing a file by a size hint would change it without a write: refused, so SQLite writes.
int RfFileControl(sqlite3_file *f, int op, void *arg) {
    if (Rf(f)->file >= 0 && (op == SQLITE_FCNTL_SIZE_HINT || op == SQLITE_FCNTL_CHUNK_SIZE))
        return SQLITE_NOTFOUND;
    return M(f).xFileControl(Real(f), op, arg);
}
int RfSectorSize(sqlite3_file *f) { return M(f).xSectorSize(Real(f)); }
// What the disk below promises is passed on unchanged: the store is checked on the promises the
// ordinary file system makes.
int RfDeviceCharacteristics(sqlite3_file *f) { return M(f).xDeviceCharacteristics(Real(f)); }
int RfShmMap(sqlite3_file *f, int region, int bytes, int extend, void volatile **at) {
    return M(f).xShmMap(Real(f), region, bytes, extend, at);
}
int RfShmLock(sqlite3_file *f, int offset, int n, int flags) {
    return M(f).xShmLock(Real(f), offset, n, flags);
}
void RfShmBarrier(sqlite3_file *f) { M(f).xShmBarrier(Real(f)); }
int RfShmUnmap(sqlite3_file *f, int remove) { return M(f).xShmUnmap(Real(f), remove); }

// Version 2: no memory-mapped access, so that every change of a file is a write seen here.
const sqlite3_io_methods kMethods = {2,
                                     RfClose,
                                     RfRead,
                                     RfWrite,
                                     RfTruncate,
                                     RfSync,
                                     RfFileSize,
                                     RfLock,
                                     RfUnlock,
                                     RfCheckReservedLock,
                                     RfFileControl,
                                     RfSectorSize,
                                     RfDeviceCharacteristics,
                                     RfShmMap,
                                     RfShmLock,
                                     RfShmBarrier,
                                     RfShmUnmap,
                                     nullptr,
                                     nullptr};

// The layers above pass their own sqlite3_vfs, not this one: the base is reached through
// g_base, never through the argument.
int RfOpen(sqlite3_vfs *, const char *name, sqlite3_file *file, int flags, int *out_flags) {
    RecFile *rf = Rf(file);
    rf->base.pMethods = nullptr;
    rf->file = R().FileOf(name);
    rf->skip_sync = R().Unsynced(name);
    const int rc = g_base->xOpen(g_base, name, rf->real(), flags, out_flags);
    if (rf->real()->pMethods != nullptr) rf->base.pMethods = &kMethods;
    return rc;
}

int RfDelete(sqlite3_vfs *, const char *name, int sync_dir) {
    const int rc = g_base->xDelete(g_base, name, R().Unsynced(name) ? 0 : sync_dir);
    const int file = R().FileOf(name);
    if (rc == SQLITE_OK && file >= 0) R().Note(file, FileOp::kDelete, 0);
    return rc;
}

}  // namespace

bool InstallRecordingVfs() {
    static const bool installed = [] {
        g_base = sqlite3_vfs_find(nullptr);
        if (g_base == nullptr || g_base->iVersion < 2) return false;
        g_vfs = *g_base;
        g_vfs.szOsFile = static_cast<int>(sizeof(RecFile)) + g_base->szOsFile;
        g_vfs.zName = "tovarine-recorder";
        g_vfs.pNext = nullptr;
        g_vfs.pAppData = nullptr;
        g_vfs.xOpen = RfOpen;
        g_vfs.xDelete = RfDelete;
        return sqlite3_vfs_register(&g_vfs, 1) == SQLITE_OK;
    }();
    return installed;
}

void StartRecording(const std::string &folder) {
    Recorder &r = R();
    std::lock_guard lock(r.mutex);
    r.folder = folder + "/";
    r.ops.clear();
    r.files.clear();
}

void StopRecording() {
    Recorder &r = R();
    std::lock_guard lock(r.mutex);
    r.folder.clear();
}

void SkipSyncsIn(const std::string &folder) {
    Recorder &r = R();
    std::lock_guard lock(r.mutex);
    r.unsynced = folder + "/";
}

const std::vector<FileOp> &RecordedOps() { return R().ops; }
const std::vector<std::string> &RecordedFiles() { return R().files; }

namespace {

// The record's bytes: the file names, each as its length and characters, then the operations,
// each as its kind, file, offset and written bytes; every number 8 bytes in this machine's order.
void PutNumber(std::string &out, int64_t number) {
    out.append(reinterpret_cast<const char *>(&number), sizeof number);
}
void PutText(std::string &out, const void *data, size_t bytes) {
    PutNumber(out, static_cast<int64_t>(bytes));
    out.append(static_cast<const char *>(data), bytes);
}

struct Reader {
    const std::string &in;
    size_t at = 0;
    bool ok = true;
    int64_t Number() {
        int64_t number = 0;
        ok = ok && in.size() - at >= sizeof number;
        if (ok) std::memcpy(&number, in.data() + at, sizeof number);
        at += ok ? sizeof number : 0;
        return number;
    }
    std::string Text() {
        const int64_t bytes = Number();
        ok = ok && bytes >= 0 && static_cast<uint64_t>(bytes) <= in.size() - at;
        if (!ok) return {};
        std::string text = in.substr(at, static_cast<size_t>(bytes));
        at += static_cast<size_t>(bytes);
        return text;
    }
};

}  // namespace

std::string RecordBytes() {
    Recorder &r = R();
    std::lock_guard lock(r.mutex);
    std::string out;
    PutNumber(out, static_cast<int64_t>(r.files.size()));
    for (const std::string &name : r.files) PutText(out, name.data(), name.size());
    PutNumber(out, static_cast<int64_t>(r.ops.size()));
    for (const FileOp &op : r.ops) {
        PutNumber(out, op.kind);
        PutNumber(out, op.file);
        PutNumber(out, op.offset);
        PutText(out, op.bytes.data(), op.bytes.size());
    }
    return out;
}

bool AppendRecordBytes(const std::string &bytes) {
    Reader in{bytes};
    std::vector<std::string> names(static_cast<size_t>(std::max<int64_t>(0, in.Number())));
    for (std::string &name : names) name = in.Text();
    std::vector<FileOp> ops(static_cast<size_t>(std::max<int64_t>(0, in.Number())));
    for (FileOp &op : ops) {
        const int64_t kind = in.Number(), file = in.Number();
        op.offset = in.Number();
        const std::string written = in.Text();
        in.ok = in.ok && kind >= FileOp::kWrite && kind <= FileOp::kDelete && file >= 0 &&
                static_cast<size_t>(file) < names.size();
        op.kind = static_cast<FileOp::Kind>(kind);
        op.file = static_cast<int>(file);
        op.bytes.assign(written.begin(), written.end());
    }
    if (!in.ok || in.at != bytes.size()) return false;
    Recorder &r = R();
    std::lock_guard lock(r.mutex);
    std::vector<int> index;  // the child's file index -> this record's
    for (const std::string &name : names) {
        const auto found = std::find(r.files.begin(), r.files.end(), name);
        index.push_back(static_cast<int>(found - r.files.begin()));
        if (found == r.files.end()) r.files.push_back(name);
    }
    for (FileOp &op : ops) {
        op.file = index[static_cast<size_t>(op.file)];
        r.ops.push_back(std::move(op));
    }
    return true;
}

}  // namespace tovarine::testing
