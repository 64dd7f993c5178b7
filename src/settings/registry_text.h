// The text values of one open registry key, read in one enumeration: one consistent state of the
// key, each value read once, however many settings look it up. Everything it holds is in local
// memory, so that a transfer's every allocation can fail and be survived.
#pragma once

#include <cstddef>

#include "platform/platform.h"
#include "settings/local_text.h"

namespace tovarine {

class StoredTexts {
public:
    StoredTexts() = default;
    ~StoredTexts() { LocalFree(index_); }
    StoredTexts(const StoredTexts &) = delete;
    StoredTexts &operator=(const StoredTexts &) = delete;

    // Reads every text value (REG_SZ or REG_EXPAND_SZ) of `key`, each up to its first NUL.
    // Values of other types are left out. Returns false, holding nothing, when the key cannot
    // be enumerated or memory for what it holds cannot be had. Throws nothing.
    bool Read(HKEY key);

    // The text of value `name`, letter case ignored as the registry ignores it; null when the
    // key holds no text value of that name.
    const char *Find(const char *name) const;

private:
    void Clear();

    // Per text value, its name and its text, each ending in a NUL, in enumeration order.
    LocalText entries_;
    // The entries by name, letter case ignored: a hash table of their positions in `entries_`.
    size_t *index_ = nullptr;
    size_t slots_ = 0;  // a power of two, at least twice the number of entries
    // The slot of `name`: the one holding its entry, or the empty one where it would go.
    size_t *Slot(const char *name) const;
};

}  // namespace tovarine
