// The registry's lock and fork handling: the process's registry state, the opening of its store
// connection at the start of a call, the handing over of that connection across fork(), and the
// telling of a failed open once the lock is let go.
#include <pthread.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <string>

#include "platform/platform.h"
#include "platform/posix/registry_internal.h"
#include "platform/posix/registry_store.h"
#include "platform/posix/registry_test_controls.h"

namespace tovarine::registry {

namespace {

// The process's id, asked of the kernel once per process rather than on every call: a fork
// clears it in the child.
std::atomic<pid_t> g_pid{0};

pid_t ProcessId() {
    pid_t pid = g_pid.load(std::memory_order_relaxed);
    if (pid == 0) {
        pid = getpid();
        g_pid.store(pid, std::memory_order_relaxed);
    }
    return pid;
}

// Lets go of the process's connection. One opened by another process (inherited through a fork
// that ran no fork handlers) is neither used nor closed: closing it could release or reset what
// belongs to that process's files.
void DropConnection(Globals &g) {
    if (g.store.db && g.store.pid != ProcessId()) {
        g.inherited.push_back(g.store.db);
        g.store.db = nullptr;
        g.store.statements.clear();
        ++g.store.epoch;
    }
    CloseConnection(g.store);
}

// fork() and the store. SQLite keeps, per process, which locks its connections hold on each
// file and the shared index of the log; a child that inherited that bookkeeping believes it
// holds locks the kernel gave its parent alone (POSIX record locks are not inherited), so once
// the parent exits other programs see no user of the store and may reset its log under the
// child. And a fork while another thread is inside a registry call would leave the registry's
// lock held for good in the child. So the forking thread takes the registry's lock, waiting for
// any call in progress (no transaction is open between calls), and closes the connection before
// the fork: neither process has one after it, and each opens its own at its next call, taking
// its own locks. A fork thus costs the parent one reopen of the store at its next call.
// Uncommitted writes live in the handles, which both processes keep.
void BeforeFork() {
    Globals &g = State();
    g.mutex.lock();
    DropConnection(g);
}
void AfterForkInParent() { State().mutex.unlock(); }
void AfterForkInChild() {
    g_pid.store(0, std::memory_order_relaxed);
    State().mutex.unlock();
}

// What stopped the calling thread's last open of the store, to be told to the host once the
// registry's lock is let go (the host's handler may call the library).
thread_local LONG t_open_failure = ERROR_SUCCESS;

// Whether a store file has appeared since the stand-in was opened: a file with something in it
// (or a link to one), made by another process's first write.
bool StoreFileAppeared() {
    const std::string path = StoreFile();
    struct stat st {};
    return !path.empty() && stat(path.c_str(), &st) == 0 &&
           (!S_ISREG(st.st_mode) || st.st_size > 0);
}

}  // namespace

Globals &State() {
    static Globals *const globals = [] {
        auto *made = new Globals;
        pthread_atfork(BeforeFork, AfterForkInParent, AfterForkInChild);
        return made;
    }();
    return *globals;
}

LONG EnsureOpen(Globals &g, bool for_writing) {
    Store &store = g.store;
    if (store.db && store.pid == ProcessId()) {
        if (!store.stand_in || (!for_writing && !StoreFileAppeared())) {
            // Another thread's batch does not make this call read its older state.
            if (store.reading && !pthread_equal(store.reader, pthread_self())) EndRead(store);
            return ERROR_SUCCESS;
        }
    }
    DropConnection(g);
    store.pid = ProcessId();
    const LONG err = OpenConnection(store, for_writing);
    if (err != ERROR_SUCCESS) {
        CloseConnection(store);
        t_open_failure = err;
    }
    ++g.store.epoch;
    return err;
}

void TellOpenFailure() noexcept {
    if (t_open_failure == ERROR_SUCCESS) return;
    const LONG error = t_open_failure;
    t_open_failure = ERROR_SUCCESS;
    char reason[256];
    const size_t chars = tovarine::ErrorWords(error, reason, sizeof reason);
    char line[1024];
    try {
        std::snprintf(line, sizeof line,
                      "tovarine: cannot open the settings store %.700s: error %ld%s%s\n",
                      StoreFile().c_str(), static_cast<long>(error), chars > 0 ? ": " : "", reason);
    } catch (...) {
        std::snprintf(line, sizeof line, "tovarine: cannot open the settings store: error %ld\n",
                      static_cast<long>(error));
    }
    tovarine::TellDiagnostic(error, nullptr, line);
}

void SetBusyTimeout(int milliseconds) {
    Globals &g = State();
    std::lock_guard lock(g.mutex);
    SetBusyTimeoutMs(milliseconds);
    if (g.store.db && g.store.pid == ProcessId()) sqlite3_busy_timeout(g.store.db, milliseconds);
}

void CloseStore() {
    Globals &g = State();
    std::lock_guard lock(g.mutex);
    DropConnection(g);
}

}  // namespace tovarine::registry
