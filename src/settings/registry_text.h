// The text values of one open registry key, read in one enumeration: one consistent state of the
// key, each value read once, however many settings look it up.
#pragma once

#include <string>
#include <unordered_map>

#include "platform/platform.h"

namespace tovarine {

class StoredTexts {
public:
    // Reads every text value (REG_SZ or REG_EXPAND_SZ) of `key`, each up to its first NUL.
    // Values of other types are left out. Returns false, holding nothing, when the key cannot
    // be enumerated or its data buffer cannot be had; may throw std::bad_alloc.
    bool Read(HKEY key);

    // The text of value `name`, letter case ignored as the registry ignores it; null when the
    // key holds no text value of that name.
    const std::string *Find(const char *name) const;

private:
    std::unordered_map<std::string, std::string> texts_;  // by upper-cased name
    mutable std::string folded_;                          // the name Find looks up
};

}  // namespace tovarine
