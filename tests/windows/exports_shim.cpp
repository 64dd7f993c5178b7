// The library's exports as a server reaches them: tovarine.dll loaded with LoadLibraryA and each
// export looked up by name with GetProcAddress, once, before any test runs. The functions here
// have the header's signatures and forward to the loaded DLL, so the shared suites call the
// DLL exactly as they call the library on POSIX. The program is not linked against the DLL.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "tovarine.h"
#include "tovarine_dll.h"
#include "tovarine_exports.inc"  // TOVARINE_EXPORTS(X), made from the export list

namespace {

struct Exports {
    HMODULE module = nullptr;
#define TOVARINE_POINTER(name) decltype(&::name) name = nullptr;
    TOVARINE_EXPORTS(TOVARINE_POINTER)
#undef TOVARINE_POINTER
};

[[noreturn]] void Fail(const char *what, const char *name = "") {
    std::fprintf(stderr, "tovarine.dll %s%s (error %lu)\n", what, name, GetLastError());
    std::fflush(stderr);
    std::exit(3);
}

template <class Function>
void Resolve(HMODULE module, const char *name, Function &slot) {
    const FARPROC address = GetProcAddress(module, name);
    if (address == nullptr) Fail("does not export ", name);
    slot = reinterpret_cast<Function>(reinterpret_cast<void (*)()>(address));
}

const Exports &Dll() {
    static const Exports exports = [] {
        Exports loaded;
        loaded.module = LoadLibraryA("tovarine.dll");
        if (loaded.module == nullptr) Fail("cannot be loaded");
#define TOVARINE_RESOLVE(name) Resolve(loaded.module, #name, loaded.name);
        TOVARINE_EXPORTS(TOVARINE_RESOLVE)
#undef TOVARINE_RESOLVE
        return loaded;
    }();
    return exports;
}

// Loaded at start-up: a DLL that is missing or lacks an export stops the program before any
// test runs.
[[maybe_unused]] const HMODULE g_loaded = Dll().module;

}  // namespace

namespace tovarine::testing {

HMODULE LoadedDll() { return Dll().module; }

}  // namespace tovarine::testing

extern "C" {

int32_t f9832144782(int32_t new_selector) { return Dll().f9832144782(new_selector); }

char *f385562(const char *name, int32_t count, char **names, char **values) {
    return Dll().f385562(name, count, names, values);
}

int32_t f3121538644(const char *text, int32_t *server, int32_t *device, double *framerate,
                    int32_t *timeout, int32_t *mozilla, int32_t *features, int32_t *sendtime,
                    int32_t *sendstate, int32_t *cpid, int32_t *slide_show) {
    return Dll().f3121538644(text, server, device, framerate, timeout, mozilla, features, sendtime,
                             sendstate, cpid, slide_show);
}

int32_t f373279(const char *text, int32_t *server, int32_t *segment, int32_t *channel,
                int32_t *sendstate, int32_t *timeout, int32_t *features, int32_t *sendtime,
                int32_t *cpid) {
    return Dll().f373279(text, server, segment, channel, sendstate, timeout, features, sendtime,
                         cpid);
}

int32_t f3221538674(const char *text, char *model, char *camera, char *device, char *number,
                    char *speed, char *command, char *button) {
    return Dll().f3221538674(text, model, camera, device, number, speed, command, button);
}

int32_t f39260000417E(const char *text, MediaRequest *record) {
    return Dll().f39260000417E(text, record);
}

int32_t qy63B1(HWND owner, const char *key_path, SettingDescriptor *table, int32_t save) {
    return Dll().qy63B1(owner, key_path, table, save);
}

int32_t qy75BB(HKEY settings_root, HWND owner, const char *settings_name, SettingDescriptor *table,
               char *name_buffer, uint32_t name_capacity, char *class_buffer,
               uint32_t class_capacity, FILETIME *last_write) {
    return Dll().qy75BB(settings_root, owner, settings_name, table, name_buffer, name_capacity,
                        class_buffer, class_capacity, last_write);
}

int32_t qy189C(HWND owner, const char *settings_name, SettingDescriptor *table, int32_t save) {
    return Dll().qy189C(owner, settings_name, table, save);
}

int32_t qy45AF(HWND owner, const char *settings_name, SettingDescriptor *table) {
    return Dll().qy45AF(owner, settings_name, table);
}

int32_t qy70EE(HWND owner, const char *settings_name, SettingDescriptor *table) {
    return Dll().qy70EE(owner, settings_name, table);
}

}  // extern "C"
