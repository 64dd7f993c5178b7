// Saved instances of a host's settings: instance keys "NAME n" directly under the settings root,
// found by name, offered in turn or picked by the instance selector, and created on a save.
#include <cstring>

#include "module/text.h"
#include "module/module_state.h"
#include "settings/local_text.h"
#include "settings/settings_engine.h"
#include "settings/settings_root.h"
#include "settings/settings_table.h"

namespace tovarine {
namespace {

constexpr const char *kSettingsRoot = kSettingsRootPath;
constexpr DWORD kEnumChars = kSubkeyNameChars;

// Enumerates the subkeys of `key` from index 0 until ERROR_NO_MORE_ITEMS or an error other than
// ERROR_MORE_DATA, handing each name to `visit`; `visit` returns false to stop. A subkey whose
// name or class does not fit its buffer is still a subkey: it is counted, and when its name
// fits without the class it is visited under that name, else under null. Returns the number of
// subkeys enumerated, or the index of the subkey at which `visit` stopped.
template <class Visit>
DWORD EnumerateSubkeys(HKEY key, char *name, DWORD name_capacity, char *key_class,
                       DWORD class_capacity, FILETIME *last_write, Visit visit) {
    DWORD index = 0;
    for (;; ++index) {
        DWORD name_chars = name_capacity;
        DWORD class_chars = class_capacity;
        LONG rc = RegEnumKeyExA(key, index, name, &name_chars, nullptr, key_class,
                                key_class != nullptr ? &class_chars : nullptr, last_write);
        if (rc == ERROR_MORE_DATA && key_class != nullptr) {
            name_chars = name_capacity;  // the class may be what did not fit: the name alone
            rc = RegEnumKeyExA(key, index, name, &name_chars, nullptr, nullptr, nullptr, nullptr);
        }
        const char *seen = nullptr;
        if (rc == ERROR_SUCCESS) {
            seen = name;
        } else if (rc != ERROR_MORE_DATA) {
            return index;
        }
        if (!visit(seen)) return index;
    }
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A subkey belongs to a settings name when it is an instance key of that name: the name (letter
// case ignored), one blank and one or more decimal digits, and nothing else.
bool Belongs(const char *subkey, const char *settings_name) {
    if (subkey == nullptr || text::HasPrefix(subkey, settings_name) == 0) return false;
    const char *rest = subkey + std::strlen(settings_name);
    if (*rest != ' ' || !IsDigit(rest[1])) return false;
    for (++rest; IsDigit(*rest); ++rest) {
    }
    return *rest == 0;
}

// Runs the transfer on the instance key "ROOT\SUBKEY". A path that cannot be built is passed
// over: returns 0, nothing transferred.
int32_t TransferInstance(const char *subkey, SettingDescriptor *table, bool save,
                         int32_t selector) {
    LocalText path;
    path.Append(kSettingsRoot).Append("\\").Append(subkey);
    if (path.failed()) return 0;
    return TransferTable(path.c_str(), table, save, selector);
}

// Whether "ROOT\SUBKEY" exists below HKEY_CURRENT_USER: the key a save into that instance would
// write, whatever handle the caller enumerated.
bool InstanceExists(const char *subkey) {
    LocalText path;
    path.Append(kSettingsRoot).Append("\\").Append(subkey);
    if (path.failed()) return true;  // unknown: not to be written
    HKEY key = nullptr;
    const LONG rc = RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_QUERY_VALUE, &key);
    if (rc == ERROR_SUCCESS) RegCloseKey(key);
    // Any other failure is left to the save, which reports what it could not write.
    return rc == ERROR_SUCCESS || rc == ERROR_ACCESS_DENIED;
}

// Saves the table into "NAME n", n the first number from `number` up whose key does not exist
// yet, so that a new instance never lands in an existing one. Each number passed over is a
// subkey of the settings root, so the search is bounded by their count; a name that cannot be
// built ends it without a save.
void SaveIntoNewKey(const char *settings_name, SettingDescriptor *table, DWORD number,
                    int32_t selector) {
    LocalText subkey;
    for (;; ++number) {
        subkey.Clear();
        subkey.Append(settings_name).Append(" ").AppendNumber(number);
        if (subkey.failed() || number == 0xFFFFFFFFu) return;
        if (!InstanceExists(subkey.c_str())) break;
    }
    TransferInstance(subkey.c_str(), table, true, selector);
}

}  // namespace

void SaveNewInstance(HKEY counted, const char *settings_name, SettingDescriptor *table,
                     char *name_buffer, uint32_t name_capacity, char *class_buffer,
                     uint32_t class_capacity, FILETIME *last_write, int32_t selector) {
    ClearScratchFields(table);
    if (settings_name == nullptr) return;
    DWORD number = 0;
    if (counted != nullptr && name_buffer != nullptr) {
        number = EnumerateSubkeys(counted, name_buffer, name_capacity,
                                  class_capacity != 0 ? class_buffer : nullptr, class_capacity,
                                  last_write, [](const char *) { return true; });
    }
    SaveIntoNewKey(settings_name, table, number, selector);
}

int32_t TransferByName(HWND owner, const char *settings_name, SettingDescriptor *table, bool save,
                       int32_t selector) {
    // Whatever path the call takes, no scratch field is left holding anything.
    ClearScratchFields(table);
    if (settings_name == nullptr) return ERROR_INVALID_PARAMETER;
    HKEY root = nullptr;
    const LONG open_rc = RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsRoot, 0, KEY_ALL_ACCESS, &root);
    if (open_rc != ERROR_SUCCESS) return open_rc;
    // The root is closed on every way out, also when a C++ exception passes through.
    struct RootClose {
        HKEY key;
        bool open = true;
        LONG Close() {
            open = false;
            return RegCloseKey(key);
        }
        ~RootClose() {
            if (open) RegCloseKey(key);
        }
    } closer{root};

    char name[kEnumChars] = {};
    char key_class[kEnumChars] = {};
    FILETIME last_write{};
    char only_match[kEnumChars] = {};

    int32_t matches = 0;
    EnumerateSubkeys(root, name, kEnumChars, key_class, kEnumChars, &last_write,
                     [&](const char *subkey) {
                         if (Belongs(subkey, settings_name)) {
                             ++matches;
                             std::memcpy(only_match, subkey, std::strlen(subkey) + 1);
                         }
                         return true;
                     });

    if (matches == 0) {
        if (save) {
            SaveIntoNewKey(settings_name, table, 0, selector);
        } else if (selector == 0) {
            LocalText notice;
            notice.Append("No settings yet saved for ").Append(settings_name);
            if (!notice.failed()) MessageBoxA(owner, notice.c_str(), "Load Settings", MB_OK);
        }
    } else if (matches == 1 && selector == 0) {
        TransferInstance(only_match, table, save, selector);
    } else {
        // Offer the matches in enumeration order (selector 0), or only the selector's one.
        int32_t place = 0;
        bool taken = false;
        EnumerateSubkeys(root, name, kEnumChars, key_class, kEnumChars, &last_write,
                         [&](const char *subkey) {
                             if (!Belongs(subkey, settings_name)) return true;
                             ++place;
                             if (selector != 0 && selector != place) return true;
                             taken = TransferInstance(subkey, table, save, selector) != 0;
                             return !taken;
                         });
        if (!taken && save) {
            SaveNewInstance(root, settings_name, table, name, kEnumChars, key_class, kEnumChars,
                            &last_write, selector);
        }
    }
    return closer.Close();
}

}  // namespace tovarine

extern "C" int32_t qy75BB(HKEY settings_root, HWND owner, const char *settings_name,
                          SettingDescriptor *table, char *name_buffer, uint32_t name_capacity,
                          char *class_buffer, uint32_t class_capacity, FILETIME *last_write) {
    using namespace tovarine;
    (void)owner;  // passed on to nothing: the transfer's question has no owner window
    const int32_t selector = InstanceSelector();
    return Guarded(0, [&] {
        SaveNewInstance(settings_root, settings_name, table, name_buffer, name_capacity,
                        class_buffer, class_capacity, last_write, selector);
        return 0;
    });
}

extern "C" int32_t qy189C(HWND owner, const char *settings_name, SettingDescriptor *table,
                          int32_t save) {
    using namespace tovarine;
    const int32_t selector = InstanceSelector();
    return Guarded(ERROR_NOT_ENOUGH_MEMORY, [&] {
        return TransferByName(owner, settings_name, table, save != 0, selector);
    });
}

extern "C" int32_t qy45AF(HWND owner, const char *settings_name, SettingDescriptor *table) {
    using namespace tovarine;
    const int32_t selector = InstanceSelector();
    return Guarded(ERROR_NOT_ENOUGH_MEMORY,
                   [&] { return TransferByName(owner, settings_name, table, false, selector); });
}

extern "C" int32_t qy70EE(HWND owner, const char *settings_name, SettingDescriptor *table) {
    using namespace tovarine;
    const int32_t selector = InstanceSelector();
    return Guarded(ERROR_NOT_ENOUGH_MEMORY,
                   [&] { return TransferByName(owner, settings_name, table, true, selector); });
}
