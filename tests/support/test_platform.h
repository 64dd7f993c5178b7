// What the shared behaviour suites need from the platform they run on, with one implementation
// per platform: test_platform_posix.cpp, where the suites link the library's objects and its
// stand-ins, and test_platform_windows.cpp, where they reach tovarine.dll only through its
// exports and work on the real local heap, registry and message boxes.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>

#include "tovarine.h"

namespace tovarine::testing {

// ---- Local heap ----

// Fails the test when the local heap holds more blocks at the end of the scope than at its
// start. Where the heap's blocks cannot be counted (the real local heap) it checks nothing.
class HeapGuard {
public:
    HeapGuard();
    ~HeapGuard();
    HeapGuard(const HeapGuard &) = delete;
    HeapGuard &operator=(const HeapGuard &) = delete;

private:
    int64_t blocks_ = 0;
};

// True where the local heap can be made to fail a given allocation.
bool AllocationFailuresInjectable();

// Runs `call` once per allocation it makes, making the first, then the second, ... allocation
// fail, until a run completes with no failure injected. `check(n)` runs after the run whose
// nth allocation failed. Returns the number of allocation sites walked. Only where
// AllocationFailuresInjectable(); elsewhere it fails the test.
int64_t ForEachAllocationFailure(const std::function<void()> &call,
                                 const std::function<void(int64_t)> &check);

// Records how many allocation sites a walk of `call` covered: a property of the running test
// (in its XML report) and a line of its output.
inline void RecordAllocationSites(const std::string &call, int64_t sites) {
    ::testing::Test::RecordProperty("allocation_sites " + call, std::to_string(sites));
    std::printf("[  SITES   ] %s: %lld allocation sites\n", call.c_str(),
                static_cast<long long>(sites));
}

// Skips the calling test where allocations cannot be made to fail.
#define TOVARINE_SKIP_UNLESS_ALLOCATIONS_CAN_FAIL()           \
    if (!::tovarine::testing::AllocationFailuresInjectable()) \
    GTEST_SKIP() << "the local heap here cannot be made to fail an allocation"

// ---- Registry ----

// While alive, the test works on a registry holding none of the library's keys: a new store
// of its own (POSIX), or HKEY_CURRENT_USER with the vendor's tree removed (Windows). Gone
// again at the end.
class FreshRegistry {
public:
    FreshRegistry();
    ~FreshRegistry();
    FreshRegistry(const FreshRegistry &) = delete;
    FreshRegistry &operator=(const FreshRegistry &) = delete;
    bool ready() const { return ready_; }

private:
    bool ready_ = false;
    std::string place_;
};

// ---- Message boxes ----

// A message box as the library showed it: its owner window, text, caption and MB_ type (the
// buttons and the icon).
struct Box {
    HWND owner;
    std::string text, caption;
    unsigned type;
};

// While alive, answers every message box the library shows on the constructing thread.
// `answer` sees the box and returns what MessageBoxA returns: IDYES, IDNO, IDOK, or 0 for a box
// that could not be shown. A real box is answered with the button closest to that: a Yes/No
// box gets No for anything but Yes (0 included), an OK box gets OK.
class BoxAnswerer {
public:
    using Script = std::function<int(const Box &)>;
    explicit BoxAnswerer(Script script);
    ~BoxAnswerer();
    BoxAnswerer(const BoxAnswerer &) = delete;
    BoxAnswerer &operator=(const BoxAnswerer &) = delete;

    int Answer(const Box &box) const { return script_(box); }

private:
    Script script_;
    // The platform's registration, where it has one (not on POSIX, hence maybe unused).
    [[maybe_unused]] void *hook_ = nullptr;
};

// A window for a host to pass as the owner of the library's boxes: a hidden real window where
// the boxes are real, an arbitrary handle where they are not.
class OwnerWindow {
public:
    OwnerWindow();
    ~OwnerWindow();
    OwnerWindow(const OwnerWindow &) = delete;
    OwnerWindow &operator=(const OwnerWindow &) = delete;
    HWND get() const { return window_; }

private:
    HWND window_ = nullptr;
};

// ---- The library's internal state, where the test program links its objects ----

// The instance selector as the settings code reads it; empty where only the exports are
// reachable.
std::optional<int32_t> InternalSelector();

// The module handle the library recorded at load, and the base of the module its code was
// loaded as; empty where only the exports are reachable.
struct ModuleHandles {
    const void *recorded;
    const void *loaded;
};
std::optional<ModuleHandles> LibraryModuleHandles();

}  // namespace tovarine::testing
