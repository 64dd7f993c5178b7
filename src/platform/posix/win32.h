// POSIX stand-ins for the subset of the Win32 API the library uses, with the Win32 names,
// types and semantics, so that the core compiles unchanged on both targets.
#pragma once

#include <cstddef>
#include <cstdint>

using BOOL = int;
using BYTE = unsigned char;
using WORD = uint16_t;
using DWORD = uint32_t;
using LONG = int32_t;
using UINT = unsigned int;
using SIZE_T = size_t;
using LPVOID = void *;
using LPSTR = char *;
using LPCSTR = const char *;
using HLOCAL = void *;

// Opaque handles, as on Windows. HINSTANCE is the load address of the module.
using HINSTANCE = struct HINSTANCE__ *;
using HMODULE = HINSTANCE;

#define WINAPI
#define TRUE 1
#define FALSE 0

#define DLL_PROCESS_DETACH 0
#define DLL_PROCESS_ATTACH 1
#define DLL_THREAD_ATTACH 2
#define DLL_THREAD_DETACH 3

// Local heap: LMEM_FIXED blocks only.
#define LMEM_FIXED 0x0000u
#define LMEM_ZEROINIT 0x0040u
#define LPTR (LMEM_FIXED | LMEM_ZEROINIT)

// Returns a block of `bytes` bytes (zero-filled with LMEM_ZEROINIT), or null when none can be
// had. LocalFree releases such a block and returns null; given null it does nothing.
HLOCAL LocalAlloc(UINT flags, SIZE_T bytes);
HLOCAL LocalFree(HLOCAL block);

// Turns off thread start and end notifications for the module. Nothing delivers them on POSIX;
// the call is recorded so that the module behaves as it does on Windows.
BOOL DisableThreadLibraryCalls(HMODULE module);

// The module's entry notification, defined by the core; the POSIX entry stand-in delivers the
// process-attach notification when the shared object is loaded.
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved);
