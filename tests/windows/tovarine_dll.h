// The DLL the test program loaded and calls through (exports_shim.cpp).
#pragma once

#include <windows.h>

namespace tovarine::testing {

HMODULE LoadedDll();

}  // namespace tovarine::testing
