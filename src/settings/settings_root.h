// Where the settings live: the settings root below HKEY_CURRENT_USER, and the buffer size with
// which its subkeys are enumerated. The library, the command-line host, the tests and the
// fuzzer all take these from here, so none of them can disagree about the store's layout.
#pragma once

#include <cstdint>

namespace tovarine {

// The settings root's path below HKEY_CURRENT_USER; an instance key is this path, a backslash
// and "NAME n".
inline constexpr char kSettingsRootPath[] = "SOFTWARE\\Zel Inc.\\Zel Quantivale Servers";

// The same key named with its hive, as registry tools and .reg files name it.
inline constexpr char kSettingsRootFullName[] =
    "HKEY_CURRENT_USER\\SOFTWARE\\Zel Inc.\\Zel Quantivale Servers";

// Characters of the name and class buffers with which the settings calls enumerate the
// settings root's subkeys, the terminating NUL included.
inline constexpr uint32_t kSubkeyNameChars = 256;

}  // namespace tovarine
