// Saved instances of a host's settings: instance keys "NAME n" directly under the settings root,
// found by name, offered in turn or picked by the instance selector, and created on a save.
#include <cstring>

#include "module/text.h"
#include "module/module_state.h"
#include "settings/instance_keys.h"
#include "settings/local_text.h"
#include "settings/settings_engine.h"
#include "settings/settings_root.h"
#include "settings/settings_table.h"

namespace tovarine {
namespace {

constexpr const char *kSettingsRoot = kSettingsRootPath;
constexpr DWORD kEnumChars = kSubkeyNameChars;

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

// The free instance keys of a settings name from a number up: "NAME n" for the first n whose key
// does not exist, so that a new instance never lands in an existing one. Each number passed
// over is a subkey of the settings root, so the search is bounded by their count; a name that
// cannot be built ends it.
class FreeInstanceKeys final : public NewKeyPaths {
public:
    FreeInstanceKeys(const char *settings_name, DWORD number)
        : settings_name_(settings_name), number_(number) {}

    // Finds the first free key from the current number on; false when there is none.
    bool Find() {
        for (;; ++number_) {
            subkey_.Clear();
            subkey_.Append(settings_name_).Append(" ").AppendNumber(number_);
            if (subkey_.failed() || number_ == 0xFFFFFFFFu) return false;
            if (!InstanceExists(subkey_.c_str())) break;
        }
        path_.Clear();
        path_.Append(kSettingsRoot).Append("\\").Append(subkey_.c_str());
        return !path_.failed();
    }
    const char *Current() const override { return path_.c_str(); }
    bool Advance() override {
        if (number_ == 0xFFFFFFFFu) return false;
        ++number_;
        return Find();
    }

private:
    const char *settings_name_;
    DWORD number_;
    LocalText subkey_, path_;
};

// Saves the table into the first free "NAME n" from `number` up, into a key this save makes
// itself: when another process makes it first, the save goes on to the next free number, so
// that two new instances saved at once never land in one key.
void SaveIntoNewKey(const char *settings_name, SettingDescriptor *table, DWORD number,
                    int32_t selector) {
    FreeInstanceKeys keys(settings_name, number);
    if (keys.Find()) TransferToNewKey(keys, table, selector);
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
    // The root, its subkeys and the instance's values are read as one state of the registry.
    RegistryReadBatch reads;
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
    // The instance a lone match or the selector picks, found in the one enumeration that counts
    // the matches.
    char chosen[kEnumChars] = {};
    bool found = false;

    int32_t matches = 0;
    EnumerateSubkeys(root, name, kEnumChars, key_class, kEnumChars, &last_write,
                     [&](const char *subkey) {
                         if (!IsInstanceKeyOf(subkey, settings_name)) return true;
                         ++matches;
                         if (selector == 0 ? matches == 1 : selector == matches) {
                             std::memcpy(chosen, subkey, std::strlen(subkey) + 1);
                             found = true;
                         }
                         return true;
                     });

    if (matches == 0) {
        if (save) {
            // The first save of a settings name goes to "NAME 0", made by this save alone: when
            // another process makes it first, this save goes on to the next free number, as a
            // new instance does, rather than writing over the other's first save.
            SaveIntoNewKey(settings_name, table, 0, selector);
        } else if (selector == 0) {
            LocalText notice;
            notice.Append("No settings yet saved for ").Append(settings_name);
            reads.Pause();
            if (!notice.failed()) MessageBoxA(owner, notice.c_str(), "Load Settings", MB_OK);
        }
    } else if (selector != 0 || matches == 1) {
        // The instance is opened below the root this call holds open, not walked to again.
        if (found) {
            TransferTable(KeyPlace{root, kSettingsRoot}, chosen, table, save, selector);
        } else if (save) {
            SaveNewInstance(root, settings_name, table, name, kEnumChars, key_class, kEnumChars,
                            &last_write, selector);
        }
    } else {
        // The matches in enumeration order: a save goes into the first (a save always counts as
        // taken, asked or not); a load goes on until one is confirmed and assigned.
        bool taken = false;
        EnumerateSubkeys(root, name, kEnumChars, key_class, kEnumChars, &last_write,
                         [&](const char *subkey) {
                             if (!IsInstanceKeyOf(subkey, settings_name)) return true;
                             taken = TransferTable(KeyPlace{root, kSettingsRoot}, subkey, table,
                                                   save, selector) != 0;
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
