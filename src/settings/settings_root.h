// Where the settings live: the settings root below HKEY_CURRENT_USER, and the buffer sizes with
// which its subkeys and values are enumerated. The library, the command-line host, the tests and
// the fuzzer all take these from here, so none of them can disagree about the store's layout.
#pragma once

#include <cstdint>

#include "module/registry_names.h"

namespace tovarine {

// The settings root's path (kSettingsRootPath, kSettingsRootFullName) is registry_names.h's:
// the POSIX registry records the changes below it.

// Bytes of the name and class buffers with which the settings calls enumerate the settings
// root's subkeys, the terminating NUL included: room for the registry's longest key name (255
// characters) in the widest text it can take here, three bytes a character in UTF-8 (a
// character beyond U+FFFF counts two of the 255 and takes four bytes), and its NUL. The
// command-line host enumerates with the same buffers, so every name the registry takes is listed.
inline constexpr uint32_t kSubkeyNameChars = registry_names::kMaxKeyNameChars * 3 + 1;

// Bytes of a buffer that holds any value name, on the same count: 16,383 characters of up to
// three bytes each, and its NUL.
inline constexpr uint32_t kValueNameChars = registry_names::kMaxValueNameChars * 3 + 1;

}  // namespace tovarine
