// The module's entry notification and its state.
#include "module/module_state.h"

namespace tovarine {

ModuleState &GetModuleState() {
    // Constant-initialised, so it is ready before any loader notification runs.
    static constinit ModuleState state;
    return state;
}

}  // namespace tovarine

// Process attach records the module handle and turns thread notifications off; no other
// notification does anything, and nothing is released at detach.
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) {
        tovarine::GetModuleState().module_instance.store(instance, std::memory_order_relaxed);
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}
