// The one header through which the core reaches the Windows interfaces it is written against:
// the real <windows.h> on Windows, the POSIX stand-ins everywhere else. The core uses only the
// Win32 names, so it compiles unchanged for both targets.
#pragma once

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include "posix/win32.h"
#endif
