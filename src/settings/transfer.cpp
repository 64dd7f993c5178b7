// The settings transfer: one table to or from one registry key, after the user has seen every
// change and said Yes (or silently, when the instance selector is set).
#include <cstring>

#include "module/module_state.h"
#include "res/strings.h"
#include "settings/local_text.h"
#include "settings/registry_text.h"
#include "settings/settings_table.h"

namespace tovarine {
namespace {

// Appends the text form of `value` as the codec formats it.
void AppendFormatted(LocalText &text, const helpers::ValueCodec &codec, const void *value,
                     int16_t size) {
    if (char *at = text.Extend(codec.formatted_length(value, size))) codec.format(at, value, size);
}

// "NAME changing from OLD to NEW\n": on a load the host's value is the old one, on a save the
// stored one is.
void AppendChangeLine(LocalText &text, const SettingDescriptor &setting,
                      const helpers::ValueCodec &codec, bool save) {
    const void *stored = setting.scratch;
    const void *current = setting.variable;
    text.Append(setting.name).Append(" changing from ");
    AppendFormatted(text, codec, save ? stored : current, setting.size);
    text.Append(" to ");
    AppendFormatted(text, codec, save ? current : stored, setting.size);
    text.Append("\n");
}

// "NAME WORD  VALUE\n": the word ends in a blank and another follows it.
void AppendMissingLine(LocalText &text, const SettingDescriptor &setting,
                       const helpers::ValueCodec &codec, const char *word) {
    text.Append(setting.name).Append(" ").Append(word).Append(" ");
    AppendFormatted(text, codec, setting.variable, setting.size);
    text.Append("\n");
}

// Writes every setting of the table as the text its codec formats. Returns the names of the
// settings whose write failed, one "Could not save NAME\n" line each.
void SaveTable(const char *key_path, SettingDescriptor *table, LocalText &failures) {
    LocalText value;
    ForEachSetting(table, [&](SettingDescriptor &setting) {
        const helpers::ValueCodec *codec = CodecOf(setting);
        if (codec == nullptr) return;
        value.Clear();
        AppendFormatted(value, *codec, setting.variable, setting.size);
        const bool written =
            !value.failed() && WriteValueText(key_path, setting.name, value.c_str()) == ERROR_SUCCESS;
        if (!written) failures.Append("Could not save ").Append(setting.name).Append("\n");
    });
}

}  // namespace
}  // namespace tovarine

extern "C" int32_t qy63B1(HWND owner, const char *key_path, SettingDescriptor *table,
                          int32_t save) {
    using namespace tovarine;
    (void)owner;  // the question has no owner window: the host's windows stay usable
    const bool saving = save != 0;
    const int32_t declined = saving ? 1 : 0;
    if (key_path == nullptr || table == nullptr) {
        ClearScratchFields(table);
        return declined;
    }

    char word[64] = {};
    LoadStringA(ModuleInstance(), saving ? IDS_SAVING_AS : IDS_WILL_BE, word, sizeof word);

    // First pass: read every setting, keep a scratch value for each one that changes, and list
    // the changed and the missing ones.
    LocalText confirmation;
    ForEachSetting(table, [&](SettingDescriptor &setting) {
        setting.scratch = nullptr;
        const helpers::ValueCodec *codec = CodecOf(setting);
        if (codec == nullptr) return;
        setting.scratch = LocalAlloc(LMEM_ZEROINIT, static_cast<SIZE_T>(setting.size));
        if (setting.scratch == nullptr) return;  // not read, not listed
        if (char *stored = ReadValueText(key_path, setting.name)) {
            codec->parse(stored, setting.scratch, setting.size);
            LocalFree(stored);
            if (codec->differs(setting.scratch, setting.variable, setting.size)) {
                AppendChangeLine(confirmation, setting, *codec, saving);
                return;
            }
        } else {
            AppendMissingLine(confirmation, setting, *codec, word);
        }
        ReleaseScratch(setting);
    });

    auto release_all = [&] { ForEachSetting(table, [](SettingDescriptor &s) { ReleaseScratch(s); }); };
    if (confirmation.empty() && !confirmation.failed()) return declined;

    // A list that could not be built cannot be shown: that is no Yes.
    bool yes = false;
    if (!confirmation.failed()) {
        yes = InstanceSelector() != 0 ||
              MessageBoxA(nullptr, confirmation.c_str(),
                          saving ? "Update Registry?" : "Update from Registry?",
                          MB_YESNO | MB_ICONQUESTION) == IDYES;
    }
    if (!yes) {
        release_all();
        return declined;
    }

    if (saving) {
        LocalText failures;
        SaveTable(key_path, table, failures);
        // The caller counts on 1 from a save, so a failed write is told to the user instead.
        if ((!failures.empty() || failures.failed()) && InstanceSelector() == 0) {
            MessageBoxA(nullptr, failures.failed() ? "Could not save the settings\n" : failures.c_str(),
                        "Update Registry", MB_OK | MB_ICONERROR);
        }
    } else {
        ForEachSetting(table, [](SettingDescriptor &setting) {
            const helpers::ValueCodec *codec = CodecOf(setting);
            if (codec != nullptr && setting.scratch != nullptr) {
                codec->assign(setting.variable, setting.scratch, setting.size);
            }
        });
    }
    release_all();
    return 1;
}
