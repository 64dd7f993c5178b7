// Where the settings live: the settings root below HKEY_CURRENT_USER, and the buffer sizes with
// which its subkeys and values are enumerated. The library, the command-line host, the tests and
// the fuzzer all take these from here, so none of them can disagree about the store's layout.
#pragma once

#include <cstdint>

#include "module/registry_names.h"

namespace tovarine {

// The settings root's path below HKEY_CURRENT_USER; an instance key is this path, a backslash
// and "NAME n".
inline constexpr char kSettingsRootPath[] = "SOFTWARE\\Zel Inc.\\Zel Quantivale Servers";

// The same key named with its hive, as registry tools and .reg files name it.
inline constexpr char kSettingsRootFullName[] =
    "HKEY_CURRENT_USER\\SOFTWARE\\Zel Inc.\\Zel Quantivale Servers";

// Characters of the name and class buffers with which the settings calls enumerate the
// settings root's subkeys, the terminating NUL included: the registry's longest key name (255
// characters) and its NUL. The command-line host enumerates with the same buffers.
inline constexpr uint32_t kSubkeyNameChars = registry_names::kMaxKeyNameChars + 1;

// Characters of a buffer that holds any value name: the registry's longest (16383 characters)
// and its NUL.
inline constexpr uint32_t kValueNameChars = registry_names::kMaxValueNameChars + 1;

}  // namespace tovarine
