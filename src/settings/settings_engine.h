// The settings engine behind the exports: the transfer of one table to or from one key, and the
// loads and saves by settings name. Every export is a thin wrapper over these, and none of them
// calls an export. The instance selector is read once, by the export, and passed down.
#pragma once

#include <cstdint>

#include "platform/platform.h"
#include "tovarine.h"

namespace tovarine {

// An open key that transfers work below, and its path below HKEY_CURRENT_USER for messages
// (null for HKEY_CURRENT_USER itself).
struct KeyPlace {
    HKEY parent = HKEY_CURRENT_USER;
    const char *parent_path = nullptr;
};

// Transfers `table` to (save) or from (load) the key at `key_path` below `place`: the key is
// opened, and on a save made when missing, relative to that handle. Returns 1 for every save,
// and for a load that assigned; 0 for a load that did not. May throw std::bad_alloc; the
// exports catch it.
int32_t TransferTable(const KeyPlace &place, const char *key_path, SettingDescriptor *table,
                      bool save, int32_t selector);

// The same for the key at `key_path` below HKEY_CURRENT_USER.
inline int32_t TransferTable(const char *key_path, SettingDescriptor *table, bool save,
                             int32_t selector) {
    return TransferTable(KeyPlace{}, key_path, table, save, selector);
}

// The keys a save into a new instance may take, in turn: Current() is the key path to create,
// Advance() moves on to the next free one after another process made the current one first,
// false when there is none.
class NewKeyPaths {
public:
    virtual const char *Current() const = 0;
    virtual bool Advance() = 0;

protected:
    ~NewKeyPaths() = default;
};

// Saves `table` into a key that it creates itself: the current key of `paths`, or, when another
// process makes that key first, the next one, without asking again. Asks as TransferTable does
// (every setting is new to the key) and, like it, returns 1.
int32_t TransferToNewKey(NewKeyPaths &paths, SettingDescriptor *table, int32_t selector);

// Loads or saves `table` by settings name; returns the settings root's open error, or the
// result of closing it.
int32_t TransferByName(HWND owner, const char *settings_name, SettingDescriptor *table, bool save,
                       int32_t selector);

// Saves `table` into a new instance of `settings_name`, numbered by the subkeys that `counted`
// enumerates with the given buffers, and never into an instance key that already exists.
void SaveNewInstance(HKEY counted, const char *settings_name, SettingDescriptor *table,
                     char *name_buffer, uint32_t name_capacity, char *class_buffer,
                     uint32_t class_capacity, FILETIME *last_write, int32_t selector);

// Runs `body` and turns any C++ exception into `failed`: nothing thrown crosses the C interface.
template <class Body>
int32_t Guarded(int32_t failed, Body body) noexcept {
    try {
        return body();
    } catch (...) {
        return failed;
    }
}

}  // namespace tovarine
