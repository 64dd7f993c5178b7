// The shared suites' platform on POSIX: the test programs link the library's objects, so the
// local heap's counters and failure injection, the registry store's controls and the module's
// state are all reachable.
#include <dlfcn.h>
#include <stdlib.h>

#include <filesystem>

#include "module/module_state.h"
#include "platform/posix/local_heap.h"
#include "platform/posix/registry_store.h"
#include "test_platform.h"

namespace tovarine::testing {

HeapGuard::HeapGuard() : blocks_(local_heap::LiveBlocks()) { local_heap::ResetCounters(); }

HeapGuard::~HeapGuard() {
    local_heap::ResetCounters();
    EXPECT_EQ(local_heap::LiveBlocks(), blocks_) << "local-heap blocks leaked";
}

bool AllocationFailuresInjectable() { return true; }

int64_t ForEachAllocationFailure(const std::function<void()> &call,
                                 const std::function<void(int64_t)> &check) {
    int64_t n = 1;
    for (;; ++n) {
        HeapGuard guard;
        local_heap::FailNthAllocation(n);
        call();
        const int64_t made = local_heap::Allocations();
        local_heap::ResetCounters();
        if (made < n) break;  // the nth allocation never happened: every site has been walked
        check(n);
    }
    return n - 1;
}

// A store in a new temporary folder, named by TOVARINE_REGISTRY; the store open so far is
// closed, so that the next registry call opens the new one.
FreshRegistry::FreshRegistry() {
    std::string dir = std::filesystem::temp_directory_path() / "tovarine-settings-XXXXXX";
    if (mkdtemp(dir.data()) == nullptr) {
        ADD_FAILURE() << "no temporary folder for the registry store";
        return;
    }
    place_ = dir;
    setenv("TOVARINE_REGISTRY", (place_ + "/store.db").c_str(), 1);
    registry::CloseStore();
    ready_ = true;
}

FreshRegistry::~FreshRegistry() {
    registry::CloseStore();
    if (!place_.empty()) std::filesystem::remove_all(place_);
}

namespace {

int Handle(void *self, HWND owner, const char *text, const char *caption, unsigned type) {
    return static_cast<const BoxAnswerer *>(self)->Answer(
        {owner, text != nullptr ? text : "", caption != nullptr ? caption : "", type});
}

}  // namespace

BoxAnswerer::BoxAnswerer(Script script) : script_(std::move(script)) {
    tovarine_set_message_box_handler(&Handle, this);
}

BoxAnswerer::~BoxAnswerer() { tovarine_set_message_box_handler(nullptr, nullptr); }

// The library never dereferences an owner on POSIX: any handle will do.
OwnerWindow::OwnerWindow() : window_(reinterpret_cast<HWND>(0x1234)) {}
OwnerWindow::~OwnerWindow() = default;

std::optional<int32_t> InternalSelector() { return tovarine::InstanceSelector(); }

std::optional<ModuleHandles> LibraryModuleHandles() {
    Dl_info info{};
    const bool found = dladdr(reinterpret_cast<void *>(&f9832144782), &info) != 0;
    return ModuleHandles{tovarine::ModuleInstance(), found ? info.dli_fbase : nullptr};
}

}  // namespace tovarine::testing
