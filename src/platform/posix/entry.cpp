// Delivers the process-attach notification when the shared object (or a program linking the
// library's objects) is loaded, as the Windows loader does, with the module's load address as
// its instance handle. Nothing is delivered at unload: the library releases nothing then.
#include <dlfcn.h>

#include "win32.h"

namespace {

__attribute__((constructor)) void ProcessAttach() {
    Dl_info info{};
    HINSTANCE instance = nullptr;
    if (dladdr(reinterpret_cast<void *>(&ProcessAttach), &info) != 0) {
        instance = static_cast<HINSTANCE>(info.dli_fbase);
    }
    DllMain(instance, DLL_PROCESS_ATTACH, nullptr);
}

}  // namespace

BOOL DisableThreadLibraryCalls(HMODULE module) {
    // No thread notifications are ever delivered here, so there is nothing to turn off.
    return module != nullptr ? TRUE : FALSE;
}
