// Saved instances of a host's settings: instance keys "NAME n" directly under the settings root,
// found by name, offered in turn or picked by the instance selector, and created on a save.
#include <cstring>

#include "module/helpers.h"
#include "module/module_state.h"
#include "settings/local_text.h"
#include "settings/settings_root.h"
#include "settings/settings_table.h"

namespace tovarine {
namespace {

constexpr const char *kSettingsRoot = kSettingsRootPath;
constexpr DWORD kEnumChars = kSubkeyNameChars;

// Enumerates the subkeys of `key` from index 0 until a call fails (the end, or a name or class
// that does not fit its buffer), handing each name to `visit`; `visit` returns false to stop.
// Returns the index of the failing call, or of the subkey at which `visit` stopped.
template <class Visit>
DWORD EnumerateSubkeys(HKEY key, char *name, DWORD name_capacity, char *key_class,
                       DWORD class_capacity, FILETIME *last_write, Visit visit) {
    DWORD index = 0;
    for (;; ++index) {
        DWORD name_chars = name_capacity;
        DWORD class_chars = class_capacity;
        if (RegEnumKeyExA(key, index, name, &name_chars, nullptr, key_class, &class_chars,
                          last_write) != ERROR_SUCCESS) {
            return index;
        }
        if (!visit(static_cast<const char *>(name))) return index;
    }
}

bool Belongs(const char *subkey, const char *settings_name) {
    return helpers::HasPrefix(subkey, settings_name) != 0;
}

// Runs the transfer on the instance key "ROOT\SUBKEY". A path that cannot be built is passed
// over: returns 0, nothing transferred.
int32_t TransferInstance(HWND owner, const char *subkey, SettingDescriptor *table, int32_t save) {
    LocalText path;
    path.Append(kSettingsRoot).Append("\\").Append(subkey);
    if (path.failed()) return 0;
    return qy63B1(owner, path.c_str(), table, save);
}

bool KeyExists(HKEY root, const char *subkey) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, subkey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

// Saves the table into the new instance "NAME n", moving n up past any key of that name that
// already exists, so that a new instance never lands in an existing one.
void SaveNewInstance(HKEY root, HWND owner, const char *settings_name, SettingDescriptor *table,
                     DWORD number) {
    LocalText subkey;
    for (;; ++number) {
        subkey.Clear();
        subkey.Append(settings_name).Append(" ").AppendNumber(number);
        if (subkey.failed()) return;
        if (root == nullptr || !KeyExists(root, subkey.c_str())) break;
    }
    TransferInstance(owner, subkey.c_str(), table, 1);
}

}  // namespace
}  // namespace tovarine

extern "C" int32_t qy75BB(HKEY settings_root, HWND owner, const char *settings_name,
                          SettingDescriptor *table, char *name_buffer, uint32_t name_capacity,
                          char *class_buffer, uint32_t class_capacity, FILETIME *last_write) {
    using namespace tovarine;
    ClearScratchFields(table);
    if (settings_name == nullptr) return 0;
    const DWORD number =
        settings_root == nullptr || name_buffer == nullptr
            ? 0
            : EnumerateSubkeys(settings_root, name_buffer, name_capacity,
                               class_capacity != 0 ? class_buffer : nullptr, class_capacity,
                               last_write, [](const char *) { return true; });
    SaveNewInstance(settings_root, owner, settings_name, table, number);
    return 0;
}

extern "C" int32_t qy189C(HWND owner, const char *settings_name, SettingDescriptor *table,
                          int32_t save) {
    using namespace tovarine;
    // Whatever path the call takes, no scratch field is left holding anything.
    ClearScratchFields(table);
    if (settings_name == nullptr) return ERROR_INVALID_PARAMETER;
    HKEY root = nullptr;
    const LONG open_rc =
        RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsRoot, 0, KEY_ALL_ACCESS, &root);
    if (open_rc != ERROR_SUCCESS) return open_rc;

    const int32_t selector = InstanceSelector();
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
        if (save != 0) {
            SaveNewInstance(root, owner, settings_name, table, 0);
        } else if (selector == 0) {
            LocalText notice;
            notice.Append("No settings yet saved for ").Append(settings_name);
            if (!notice.failed()) MessageBoxA(owner, notice.c_str(), "Load Settings", MB_OK);
        }
    } else if (matches == 1 && selector == 0) {
        TransferInstance(owner, only_match, table, save);
    } else {
        // Offer the matches in enumeration order (selector 0), or only the selector's one.
        int32_t place = 0;
        bool taken = false;
        EnumerateSubkeys(root, name, kEnumChars, key_class, kEnumChars, &last_write,
                         [&](const char *subkey) {
                             if (!Belongs(subkey, settings_name)) return true;
                             ++place;
                             if (selector != 0 && selector != place) return true;
                             taken = TransferInstance(owner, subkey, table, save) != 0;
                             return !taken;
                         });
        if (!taken && save != 0) {
            qy75BB(root, owner, settings_name, table, name, kEnumChars, key_class, kEnumChars,
                   &last_write);
        }
    }
    return RegCloseKey(root);
}

extern "C" int32_t qy45AF(HWND owner, const char *settings_name, SettingDescriptor *table) {
    return qy189C(owner, settings_name, table, 0);
}

extern "C" int32_t qy70EE(HWND owner, const char *settings_name, SettingDescriptor *table) {
    return qy189C(owner, settings_name, table, 1);
}
