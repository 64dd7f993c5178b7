// The store's file layer: SQLite's own file system, less the syncs that have nothing to make
// durable.
#include "platform/posix/sync_vfs.h"

namespace tovarine::registry {
namespace {

// The store's files go through a thin layer over SQLite's own file system that passes every
// call on, except a sync of a file that this connection has not written since its last
// successful sync: that one has nothing to make durable. Every commit still syncs the log, and
// every checkpoint the store file; what is left out is the checkpoint's second sync of a log
// the commit has just synced (all of the store's connections commit with synchronous=FULL, so
// no other connection's frames wait for it).
struct SyncFile {
    sqlite3_file base;
    bool written;
    sqlite3_file *real() { return reinterpret_cast<sqlite3_file *>(this + 1); }
};
static_assert(sizeof(SyncFile) % 8 == 0);

SyncFile *Sf(sqlite3_file *file) { return reinterpret_cast<SyncFile *>(file); }
sqlite3_file *Real(sqlite3_file *file) { return Sf(file)->real(); }

int SfClose(sqlite3_file *f) { return Real(f)->pMethods->xClose(Real(f)); }
int SfRead(sqlite3_file *f, void *b, int n, sqlite3_int64 at) {
    return Real(f)->pMethods->xRead(Real(f), b, n, at);
}
int SfWrite(sqlite3_file *f, const void *b, int n, sqlite3_int64 at) {
    Sf(f)->written = true;
    return Real(f)->pMethods->xWrite(Real(f), b, n, at);
}
int SfTruncate(sqlite3_file *f, sqlite3_int64 size) {
    Sf(f)->written = true;
    return Real(f)->pMethods->xTruncate(Real(f), size);
}
int SfSync(sqlite3_file *f, int flags) {
    if (!Sf(f)->written) return SQLITE_OK;
    const int rc = Real(f)->pMethods->xSync(Real(f), flags);
    if (rc == SQLITE_OK) Sf(f)->written = false;
    return rc;
}
int SfFileSize(sqlite3_file *f, sqlite3_int64 *size) {
    return Real(f)->pMethods->xFileSize(Real(f), size);
}
int SfLock(sqlite3_file *f, int level) { return Real(f)->pMethods->xLock(Real(f), level); }
int SfUnlock(sqlite3_file *f, int level) { return Real(f)->pMethods->xUnlock(Real(f), level); }
int SfCheckReservedLock(sqlite3_file *f, int *out) {
    return Real(f)->pMethods->xCheckReservedLock(Real(f), out);
}
int SfFileControl(sqlite3_file *f, int op, void *arg) {
    return Real(f)->pMethods->xFileControl(Real(f), op, arg);
}
int SfSectorSize(sqlite3_file *f) { return Real(f)->pMethods->xSectorSize(Real(f)); }
int SfDeviceCharacteristics(sqlite3_file *f) {
    return Real(f)->pMethods->xDeviceCharacteristics(Real(f));
}
int SfShmMap(sqlite3_file *f, int region, int bytes, int extend, void volatile **at) {
    return Real(f)->pMethods->xShmMap(Real(f), region, bytes, extend, at);
}
int SfShmLock(sqlite3_file *f, int offset, int n, int flags) {
    return Real(f)->pMethods->xShmLock(Real(f), offset, n, flags);
}
void SfShmBarrier(sqlite3_file *f) { Real(f)->pMethods->xShmBarrier(Real(f)); }
int SfShmUnmap(sqlite3_file *f, int remove) {
    return Real(f)->pMethods->xShmUnmap(Real(f), remove);
}

const sqlite3_io_methods kSyncFileMethods = {
    2,  // no memory-mapped access: the store never asks for it
    SfClose,
    SfRead,
    SfWrite,
    SfTruncate,
    SfSync,
    SfFileSize,
    SfLock,
    SfUnlock,
    SfCheckReservedLock,
    SfFileControl,
    SfSectorSize,
    SfDeviceCharacteristics,
    SfShmMap,
    SfShmLock,
    SfShmBarrier,
    SfShmUnmap,
    nullptr,
    nullptr};

// The same calls for a file that has no shared memory: SQLite then keeps a rollback journal
// instead of the log, and must not be offered shared-memory calls the real file lacks.
const sqlite3_io_methods kSyncFileMethodsNoShm = [] {
    sqlite3_io_methods methods = kSyncFileMethods;
    methods.iVersion = 1;
    methods.xShmMap = nullptr;
    methods.xShmLock = nullptr;
    methods.xShmBarrier = nullptr;
    methods.xShmUnmap = nullptr;
    return methods;
}();

sqlite3_vfs g_sync_vfs;

int SfOpen(sqlite3_vfs *vfs, const char *name, sqlite3_file *file, int flags, int *out_flags) {
    auto *real_vfs = static_cast<sqlite3_vfs *>(vfs->pAppData);
    SyncFile *sf = Sf(file);
    sf->base.pMethods = nullptr;
    sf->written = true;  // what an earlier process left unsynced is synced at the first request
    const int rc = real_vfs->xOpen(real_vfs, name, sf->real(), flags, out_flags);
    if (const sqlite3_io_methods *real = sf->real()->pMethods) {
        // The shared-memory calls exist only where the real file has them.
        const bool shm = real->iVersion >= 2 && real->xShmMap != nullptr;
        sf->base.pMethods = shm ? &kSyncFileMethods : &kSyncFileMethodsNoShm;
    }
    return rc;
}

}  // namespace

const char *SyncVfsName() {
    static const char *const name = []() -> const char * {
        sqlite3_vfs *real_vfs = sqlite3_vfs_find(nullptr);
        if (real_vfs == nullptr || real_vfs->iVersion < 2) return nullptr;
        g_sync_vfs = *real_vfs;
        g_sync_vfs.szOsFile = static_cast<int>(sizeof(SyncFile)) + real_vfs->szOsFile;
        g_sync_vfs.zName = "tovarine-sync";
        g_sync_vfs.pAppData = real_vfs;
        g_sync_vfs.pNext = nullptr;
        g_sync_vfs.xOpen = SfOpen;
        return sqlite3_vfs_register(&g_sync_vfs, 0) == SQLITE_OK ? g_sync_vfs.zName : nullptr;
    }();
    return name;
}

}  // namespace tovarine::registry
