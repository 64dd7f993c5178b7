// The settings transfer: one table to or from one registry key, after the user has seen every
// change and said Yes (or silently, when the instance selector is set).
#include <cstring>

#include "module/module_state.h"
#include "res/strings.h"
#include "settings/local_text.h"
#include "settings/registry_text.h"
#include "settings/settings_engine.h"
#include "settings/settings_table.h"

namespace tovarine {
namespace {

// Appends the text form of `value` as the codec formats it.
void AppendFormatted(LocalText &text, const ValueCodec &codec, const void *value, int16_t size) {
    if (char *at = text.Extend(codec.formatted_length(value, size))) codec.format(at, value, size);
}

// "NAME changing from OLD to NEW\n": on a load the host's value is the old one, on a save the
// stored one is.
void AppendChangeLine(LocalText &text, const SettingDescriptor &setting, const ValueCodec &codec,
                      bool save) {
    const void *stored = setting.scratch;
    const void *current = setting.variable;
    text.Append(setting.name).Append(" changing from ");
    AppendFormatted(text, codec, save ? stored : current, setting.size);
    text.Append(" to ");
    AppendFormatted(text, codec, save ? current : stored, setting.size);
    text.Append("\n");
}

// "NAME WORD  VALUE\n": the word ends in a blank and another follows it.
void AppendMissingLine(LocalText &text, const SettingDescriptor &setting, const ValueCodec &codec,
                       const char *word) {
    text.Append(setting.name).Append(" ").Append(word).Append(" ");
    AppendFormatted(text, codec, setting.variable, setting.size);
    text.Append("\n");
}

// Writes every setting of the table through one handle of the key, made on the first write
// when the key does not exist yet, so that a save that can write nothing makes no key. The
// writes are committed together when the handle is closed. Returns the names of the settings
// whose write failed, one "Could not save NAME\n" line each, or "Could not save the settings\n"
// when the commit failed.
void SaveTable(const char *key_path, HKEY key, SettingDescriptor *table, LocalText &failures) {
    LocalText value;
    LONG open_rc = ERROR_SUCCESS;
    bool wrote = false;
    ForEachSetting(table, [&](SettingDescriptor &setting) {
        const ValueCodec *codec = CodecOf(setting);
        if (codec == nullptr) return;
        value.Clear();
        AppendFormatted(value, *codec, setting.variable, setting.size);
        bool written = false;
        if (!value.failed()) {
            if (key == nullptr && open_rc == ERROR_SUCCESS) {
                open_rc =
                    RegCreateKeyExA(HKEY_CURRENT_USER, key_path, 0, nullptr,
                                    REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr, &key, nullptr);
                if (open_rc != ERROR_SUCCESS) key = nullptr;
            }
            const size_t length = std::strlen(value.c_str());
            written =
                key != nullptr && RegSetValueExA(key, setting.name, 0, REG_SZ,
                                                 reinterpret_cast<const BYTE *>(value.c_str()),
                                                 static_cast<DWORD>(length + 1)) == ERROR_SUCCESS;
        }
        wrote = wrote || written;
        if (!written) failures.Append("Could not save ").Append(setting.name).Append("\n");
    });
    if (key != nullptr && RegCloseKey(key) != ERROR_SUCCESS && wrote) {
        failures.Clear();
        failures.Append("Could not save the settings\n");
    }
}

}  // namespace

int32_t TransferTable(const char *key_path, SettingDescriptor *table, bool saving,
                      int32_t selector) {
    const int32_t declined = saving ? 1 : 0;
    if (key_path == nullptr || table == nullptr) {
        ClearScratchFields(table);
        return declined;
    }
    ClearScratchFields(table);
    // On every way out, including a thrown bad_alloc, no scratch value stays allocated.
    struct ScratchRelease {
        SettingDescriptor *table;
        ~ScratchRelease() {
            ForEachSetting(table, [](SettingDescriptor &s) { ReleaseScratch(s); });
        }
    } release_all{table};
    // The key stays open from the reads to the writes; it is closed on every way out.
    struct KeyClose {
        HKEY key = nullptr;
        ~KeyClose() {
            if (key != nullptr) RegCloseKey(key);
        }
    } open_key;

    char word[64] = {};
    LoadStringA(ModuleInstance(), saving ? IDS_SAVING_AS : IDS_WILL_BE, word, sizeof word);

    // Every stored value is read once, in one enumeration of the key. A key that does not exist
    // or cannot be read holds none of the settings.
    StoredTexts stored;
    const REGSAM access = saving ? KEY_QUERY_VALUE | KEY_SET_VALUE : KEY_QUERY_VALUE;
    LONG open_rc = RegOpenKeyExA(HKEY_CURRENT_USER, key_path, 0, access, &open_key.key);
    if (open_rc == ERROR_ACCESS_DENIED && saving) {  // still read what it holds
        open_rc = RegOpenKeyExA(HKEY_CURRENT_USER, key_path, 0, KEY_QUERY_VALUE, &open_key.key);
    }
    if (open_rc != ERROR_SUCCESS) {
        open_key.key = nullptr;
    } else if (!stored.Read(open_key.key) && !saving) {
        RegCloseKey(open_key.key);
        open_key.key = nullptr;
    }

    // First pass: keep a scratch value for each setting that changes, and list the changed and
    // the missing ones.
    LocalText confirmation;
    ForEachSetting(table, [&](SettingDescriptor &setting) {
        const ValueCodec *codec = CodecOf(setting);
        if (codec == nullptr) return;
        setting.scratch = LocalAlloc(LMEM_ZEROINIT, static_cast<SIZE_T>(setting.size));
        if (setting.scratch == nullptr) return;  // not read, not listed
        if (const std::string *text = stored.Find(setting.name)) {
            codec->parse(text->c_str(), setting.scratch, setting.size);
            if (codec->differs(setting.scratch, setting.variable, setting.size)) {
                AppendChangeLine(confirmation, setting, *codec, saving);
                return;
            }
        } else {
            AppendMissingLine(confirmation, setting, *codec, word);
        }
        ReleaseScratch(setting);
    });

    if (confirmation.empty() && !confirmation.failed()) return declined;

    // A list that could not be built cannot be shown: that is no Yes. No write transaction is
    // open while the question is up: the writes are gathered and committed after it.
    bool yes = false;
    if (!confirmation.failed()) {
        yes = selector != 0 || MessageBoxA(nullptr, confirmation.c_str(),
                                           saving ? "Update Registry?" : "Update from Registry?",
                                           MB_YESNO | MB_ICONQUESTION) == IDYES;
    }
    if (!yes) return declined;

    if (saving) {
        LocalText failures;
        SaveTable(key_path, open_key.key, table, failures);
        open_key.key = nullptr;  // closed, and its writes committed, by SaveTable
        // The caller counts on 1 from a save, so a failed write is told to the user instead.
        if ((!failures.empty() || failures.failed()) && selector == 0) {
            MessageBoxA(nullptr,
                        failures.failed() ? "Could not save the settings\n" : failures.c_str(),
                        "Update Registry", MB_OK | MB_ICONERROR);
        }
    } else {
        ForEachSetting(table, [](SettingDescriptor &setting) {
            const ValueCodec *codec = CodecOf(setting);
            if (codec != nullptr && setting.scratch != nullptr) {
                codec->assign(setting.variable, setting.scratch, setting.size);
            }
        });
    }
    return 1;
}

}  // namespace tovarine

extern "C" int32_t qy63B1(HWND owner, const char *key_path, SettingDescriptor *table,
                          int32_t save) {
    using namespace tovarine;
    (void)owner;  // the question has no owner window: the host's windows stay usable
    const int32_t selector = InstanceSelector();
    return Guarded(save != 0 ? 1 : 0,
                   [&] { return TransferTable(key_path, table, save != 0, selector); });
}
