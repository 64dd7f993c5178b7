// POSIX stand-ins for the subset of the Win32 API the library uses, with the Win32 names,
// types and semantics, so that the core compiles unchanged on both targets.
#pragma once

#include <cstddef>
#include <cstdint>

// HWND, HKEY and FILETIME appear in the public header too, as its settings exports take them.
// Whichever of the two a translation unit includes first defines them, under the same guard
// and with the same tags, so they are one type throughout the library and its hosts.
#if !defined(TOVARINE_WIN32_TYPES_DEFINED)
#define TOVARINE_WIN32_TYPES_DEFINED
typedef struct tovarine_window *HWND;
typedef struct tovarine_key *HKEY;
typedef struct tovarine_filetime {
    uint32_t dwLowDateTime;
    uint32_t dwHighDateTime;
} FILETIME;
#endif

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
using LPBYTE = BYTE *;
using LPDWORD = DWORD *;
using PHKEY = HKEY *;
using PFILETIME = FILETIME *;
using REGSAM = DWORD;
using ULONG_PTR = uintptr_t;

// Opaque handles, as on Windows. HINSTANCE is the load address of the module.
using HINSTANCE = struct tovarine_instance *;
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

// Turns off thread start and end notifications for the module. Nothing delivers them on POSIX,
// so the call only checks its handle: FALSE for a null module, TRUE otherwise.
BOOL DisableThreadLibraryCalls(HMODULE module);

// The module's entry notification, defined by the core; the POSIX entry stand-in delivers the
// process-attach notification when the shared object is loaded.
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved);

// ---- Errors (the Win32 codes) ----
#define ERROR_SUCCESS 0L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_NOT_ENOUGH_MEMORY 8L
#define ERROR_WRITE_FAULT 29L
#define ERROR_READ_FAULT 30L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_BAD_PATHNAME 161L
#define ERROR_ALREADY_EXISTS 183L
#define ERROR_MORE_DATA 234L
#define ERROR_NO_MORE_ITEMS 259L
#define ERROR_BADDB 1009L
#define ERROR_BADKEY 1010L
#define ERROR_CANTOPEN 1011L
#define ERROR_CANTREAD 1012L
#define ERROR_CANTWRITE 1013L
#define ERROR_REGISTRY_CORRUPT 1015L
#define ERROR_KEY_DELETED 1018L

// ---- Registry: a store in SQLite, with Win32 semantics ----
#define HKEY_CURRENT_USER (reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x80000001u)))

#define KEY_QUERY_VALUE 0x0001u
#define KEY_SET_VALUE 0x0002u
#define KEY_CREATE_SUB_KEY 0x0004u
#define KEY_ENUMERATE_SUB_KEYS 0x0008u
#define KEY_NOTIFY 0x0010u
#define KEY_CREATE_LINK 0x0020u
#define KEY_READ 0x20019u
#define KEY_WRITE 0x20006u
#define KEY_ALL_ACCESS 0xF003Fu

#define REG_NONE 0u
#define REG_SZ 1u
#define REG_EXPAND_SZ 2u
#define REG_BINARY 3u
#define REG_DWORD 4u

#define REG_OPTION_NON_VOLATILE 0u
#define REG_CREATED_NEW_KEY 1u
#define REG_OPENED_EXISTING_KEY 2u

LONG RegOpenKeyExA(HKEY key, LPCSTR sub_key, DWORD options, REGSAM desired, PHKEY result);
LONG RegCreateKeyExA(HKEY key, LPCSTR sub_key, DWORD reserved, LPSTR key_class, DWORD options,
                     REGSAM desired, void *security, PHKEY result, LPDWORD disposition);
LONG RegCloseKey(HKEY key);
LONG RegFlushKey(HKEY key);
LONG RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, LPDWORD name_chars, LPDWORD reserved,
                   LPSTR key_class, LPDWORD class_chars, PFILETIME last_write);
LONG RegEnumValueA(HKEY key, DWORD index, LPSTR name, LPDWORD name_chars, LPDWORD reserved,
                   LPDWORD type, LPBYTE data, LPDWORD data_bytes);
LONG RegQueryValueExA(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                      LPDWORD data_bytes);
LONG RegSetValueExA(HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE *data,
                    DWORD data_bytes);
LONG RegDeleteKeyA(HKEY key, LPCSTR sub_key);
LONG RegDeleteValueA(HKEY key, LPCSTR name);

// ---- Diagnostics ----
// OutputDebugStringA hands a line to whoever watches the process's diagnostics: on POSIX,
// standard error, written in one write so that lines of several threads do not mix.
void OutputDebugStringA(LPCSTR text);

// FormatMessageA with FORMAT_MESSAGE_FROM_SYSTEM: the text of a Win32 error code, in the words
// Windows uses, for the codes the stand-ins return; 0 (nothing written) for any other code.
// Only a caller's buffer (no FORMAT_MESSAGE_ALLOCATE_BUFFER) and no inserts.
#define FORMAT_MESSAGE_IGNORE_INSERTS 0x00000200u
#define FORMAT_MESSAGE_FROM_SYSTEM 0x00001000u
DWORD FormatMessageA(DWORD flags, const void *source, DWORD message_id, DWORD language_id,
                     LPSTR buffer, DWORD size, void *arguments);

// ---- Message boxes: shown by the host's handler (tovarine_set_message_box_handler) ----
#define MB_OK 0x00000000u
#define MB_YESNO 0x00000004u
#define MB_ICONERROR 0x00000010u
#define MB_ICONQUESTION 0x00000020u
#define IDOK 1
#define IDCANCEL 2
#define IDYES 6
#define IDNO 7

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);

// ---- String resources: the library's string table ----
// Copies string `id` into `buffer`, cut to buffer_chars - 1 characters and NUL-terminated;
// returns the characters copied, 0 when there is no such string.
int LoadStringA(HINSTANCE instance, UINT id, LPSTR buffer, int buffer_chars);
