// What a fork costs the POSIX registry: the connection is closed before every fork and opened
// again at the next call. fork:2/save:1 against fork:0/save:1 is that cost.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "platform/posix/registry_store.h"
#include "platform/posix/win32.h"

namespace {

// A store of its own on /dev/shm (so that the figures are the work, not the disk) for one run.
class ForkStore {
public:
    ForkStore() {
        char folder[] = "/dev/shm/tovarine-fork-bench-XXXXXX";
        if (mkdtemp(folder) == nullptr) return;
        dir_ = folder;
        setenv("TOVARINE_REGISTRY", (dir_ + "/registry.db").c_str(), 1);
        tovarine::registry::CloseStore();
    }
    ~ForkStore() {
        tovarine::registry::CloseStore();
        if (!dir_.empty()) std::filesystem::remove_all(dir_);
    }
    bool ok() const { return !dir_.empty(); }

private:
    std::string dir_;
};

// One save of one value through a new handle and one load of it, as a settings call does.
bool SaveAndLoad(int64_t round) {
    HKEY key = nullptr;
    const DWORD data = static_cast<DWORD>(round);
    DWORD back = 0, bytes = sizeof back;
    const bool saved = RegCreateKeyExA(HKEY_CURRENT_USER, "Bench", 0, nullptr, 0, KEY_ALL_ACCESS,
                                       nullptr, &key, nullptr) == 0 &&
                       RegSetValueExA(key, "n", 0, REG_DWORD, reinterpret_cast<const BYTE *>(&data),
                                      sizeof data) == 0;
    if (RegCloseKey(key) != 0 || !saved) return false;
    return RegOpenKeyExA(HKEY_CURRENT_USER, "Bench", 0, KEY_READ, &key) == 0 &&
           RegQueryValueExA(key, "n", nullptr, nullptr, reinterpret_cast<BYTE *>(&back), &bytes) ==
               0 &&
           RegCloseKey(key) == 0 && back == data;
}

bool ForkAndWait() {
    const pid_t child = fork();
    if (child == 0) _exit(0);
    int status = 0;
    return child > 0 && waitpid(child, &status, 0) == child;
}

// range(0): before each round 1 forks, 2 only closes the store as a fork does (the reopen's cost
// without the fork's), 0 neither; range(1): 1 saves and loads, 0 does not.
void BM_RegistryFork(benchmark::State &state) {
    ForkStore store;
    if (!store.ok() || !SaveAndLoad(0)) return state.SkipWithError("no store");
    const bool fork_first = state.range(0) == 1, close_first = state.range(0) == 2;
    const bool use = state.range(1) != 0;
    int64_t round = 0;
    for (auto _ : state) {
        if (fork_first && !ForkAndWait()) return state.SkipWithError("fork failed");
        if (close_first) tovarine::registry::CloseStore();
        if (use && !SaveAndLoad(++round)) return state.SkipWithError("save failed");
    }
}
BENCHMARK(BM_RegistryFork)
    ->ArgNames({"fork", "save"})
    ->Args({0, 1})
    ->Args({1, 0})
    ->Args({1, 1})
    ->Args({2, 1})
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();

}  // namespace
