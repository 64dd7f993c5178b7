// Reading and writing one registry value as text, by key path below HKEY_CURRENT_USER and value
// name: the two operations the settings transfer relies on.
#pragma once

#include "platform/platform.h"

namespace tovarine {

// The text of value `name` of the key at `key_path`, as a new local-heap block the caller
// releases with LocalFree; null when the key or the value doesn't exist, isn't text, or can't
// be read. The whole value is read, however long.
char *ReadValueText(const char *key_path, const char *name);

// Stores `text` as the text value `name` of the key at `key_path`, creating the key and its
// parents when they don't exist yet. Returns ERROR_SUCCESS or the registry's error code.
LONG WriteValueText(const char *key_path, const char *name, const char *text);

}  // namespace tovarine
