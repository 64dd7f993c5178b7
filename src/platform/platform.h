// The one header through which the core reaches the Windows interfaces it is written against:
// the real <windows.h> on Windows, the POSIX stand-ins everywhere else. The core uses only the
// Win32 names, so it compiles unchanged for both targets.
#pragma once

#include <cstddef>

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include "posix/diagnostics.h"
#include "posix/registry_store.h"
#include "posix/win32.h"
#endif

namespace tovarine {

// Lets go of an open key handle without committing what was written through it, for the paths
// on which a save must leave the stored values as they were. The POSIX registry gathers a
// handle's writes until its close, and drops them here; Windows' registry has made each write
// at once and has nothing to drop, so there this is a close.
inline LONG DiscardKey(HKEY key) {
#if defined(_WIN32)
    return RegCloseKey(key);
#else
    return registry::DiscardKey(key);
#endif
}

// The words Windows gives the Win32 code `error`, without their closing period and line end,
// into `buffer` ("" when there are none); returns their length. Needs no memory.
inline size_t ErrorWords(LONG error, char *buffer, DWORD size) {
    if (size == 0) return 0;
    DWORD chars = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, static_cast<DWORD>(error), 0, buffer, size, nullptr);
    if (chars >= size) chars = 0;
    while (chars > 0 && (buffer[chars - 1] == '\r' || buffer[chars - 1] == '\n' ||
                         buffer[chars - 1] == ' ' || buffer[chars - 1] == '.')) {
        --chars;
    }
    buffer[chars] = '\0';
    return chars;
}

// Hands one line about a failure to whoever watches the process's diagnostics: the debugger's
// output on Windows; on POSIX the host's diagnostic handler, else standard error. `key_path` is
// the key concerned ("HKEY_CURRENT_USER\..."), null for the store as a whole; `line` ends with
// a line end, and any other control character in it (from a key's name, say) becomes a blank,
// so that it stays one line whatever it quotes.
inline void TellDiagnostic(LONG error, const char *key_path, char *line) {
    for (char *c = line; c[0] != 0 && c[1] != 0; ++c) {
        if (static_cast<unsigned char>(*c) < 0x20) *c = ' ';
    }
#if defined(_WIN32)
    (void)error;
    (void)key_path;
    OutputDebugStringA(line);
#else
    diagnostics::Tell(error, key_path, line);
#endif
}

// A stretch of registry reads by the calling thread. On POSIX its calls share one read of the
// store (and see one state of it) instead of paying for one read each; Windows' registry has no
// such reads, and there this does nothing. Pause() before anything the thread waits on, such as
// a question to the user: the shared read ends, and each later call reads on its own, so that
// no read of the store stays open while the thread waits.
class RegistryReadBatch {
public:
#if defined(_WIN32)
    RegistryReadBatch() = default;
    void Pause() {}
#else
    RegistryReadBatch() { registry::BeginReadBatch(); }
    ~RegistryReadBatch() { registry::EndReadBatch(); }
    void Pause() { registry::PauseReadBatch(); }
#endif
    RegistryReadBatch(const RegistryReadBatch &) = delete;
    RegistryReadBatch &operator=(const RegistryReadBatch &) = delete;
};

}  // namespace tovarine
