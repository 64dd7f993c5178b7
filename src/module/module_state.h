// Module-wide state: the handle the library was loaded under and the instance selector.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/platform.h"

namespace tovarine {

struct ModuleState {
    // Set at process attach; the settings transfer loads its message words through it.
    std::atomic<HINSTANCE> module_instance{nullptr};
    // 0: settings calls ask the user. Nonzero: silent, and only the saved instance with this
    // place among the matching ones is used. Relaxed atomic: hosts set it from the thread that
    // then makes the settings calls; the atomic only keeps other threads' reads defined.
    std::atomic<int32_t> instance_selector{0};
};

ModuleState &GetModuleState();

inline HINSTANCE ModuleInstance() {
    return GetModuleState().module_instance.load(std::memory_order_relaxed);
}

inline int32_t InstanceSelector() {
    return GetModuleState().instance_selector.load(std::memory_order_relaxed);
}

}  // namespace tovarine
