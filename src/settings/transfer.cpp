// The settings transfer: one table to or from one registry key, after the user has seen every
// change and said Yes (or silently, when the instance selector is set).
#include <cstdio>
#include <cstring>

#include "module/module_state.h"
#include "module/registry_names.h"
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

// How often a save into a key that did not exist when it was read writes again into the key
// that another process made meanwhile (the POSIX registry refuses a commit that would make a
// key already made).
constexpr int kWriteAttempts = 3;
// How many keys a save into a new instance may find taken by other processes before it gives
// up.
constexpr int kMaxTakenKeys = 64;

// The texts a save writes, one for each setting that has a codec, in table order, each followed
// by its NUL. Returns what stops the save before anything is written: no memory for a text, or
// a setting name longer than the registry takes.
LONG FormatTexts(SettingDescriptor *table, LocalText &texts) {
    LONG rc = ERROR_SUCCESS;
    ForEachSetting(table, [&](SettingDescriptor &setting) {
        const ValueCodec *codec = CodecOf(setting);
        if (codec == nullptr) return;
        if (registry_names::NameLength(setting.name) > registry_names::kMaxValueNameChars) {
            rc = ERROR_INVALID_PARAMETER;
        }
        AppendFormatted(texts, *codec, setting.variable, setting.size);
        texts.Append("", 1);
    });
    return texts.failed() ? ERROR_NOT_ENOUGH_MEMORY : rc;
}

// Sets every setting's text through `key`; stops at the first write that fails.
LONG SetValues(HKEY key, SettingDescriptor *table, const char *texts) {
    LONG rc = ERROR_SUCCESS;
    ForEachSetting(table, [&](SettingDescriptor &setting) {
        if (rc != ERROR_SUCCESS || CodecOf(setting) == nullptr) return;
        const size_t bytes = std::strlen(texts) + 1;
        rc = RegSetValueExA(key, setting.name, 0, REG_SZ, reinterpret_cast<const BYTE *>(texts),
                            static_cast<DWORD>(bytes));
        texts += bytes;
    });
    return rc;
}

// How the writes of a save into one key ended.
struct WriteOutcome {
    LONG error = ERROR_SUCCESS;
    bool at_commit = false;  // every value was set, and committing them failed
    bool taken = false;      // the new key was made by another process first: nothing written
};

// Writes the table's texts into the key at `key_path` below `parent`: through `key` when the
// transfer has it open (and then closes it), else through a handle that creates the key. All of
// them are committed together when the handle is closed; when a write fails the handle is
// discarded, so that the key keeps its old values (on Windows, whose registry writes each value at
// once, the values set before the failure stay). With `new_key` the key must be made by this save:
// a key that exists already, or that another process makes before the commit, is left alone and
// told as taken.
WriteOutcome WriteKey(HKEY parent, const char *key_path, HKEY key, bool new_key,
                      SettingDescriptor *table, const char *texts) {
    for (int attempt = 1;; ++attempt) {
        if (key == nullptr) {
            DWORD disposition = 0;
            const LONG rc = RegCreateKeyExA(parent, key_path, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                            KEY_SET_VALUE, nullptr, &key, &disposition);
            if (rc != ERROR_SUCCESS) return {rc, false, false};
            if (new_key && disposition != REG_CREATED_NEW_KEY) {
                RegCloseKey(key);
                return {ERROR_ALREADY_EXISTS, false, true};
            }
        }
        if (const LONG rc = SetValues(key, table, texts)) {
            DiscardKey(key);
            return {rc, false, false};
        }
        const LONG rc = RegCloseKey(key);
        key = nullptr;
        // Made by another process since it was found missing: an instance chosen by its
        // number is written as the existing key it now is; a new instance moves on.
        if (rc == ERROR_ALREADY_EXISTS && !new_key && attempt < kWriteAttempts) continue;
        return {rc, rc != ERROR_SUCCESS, rc == ERROR_ALREADY_EXISTS && new_key};
    }
}

// Tells whoever watches the process's diagnostics (standard error on POSIX, the debugger's
// output on Windows) that a save failed, in one line naming the key and the reason, silent
// mode or not. Built on the stack: it must be told also when no memory is left.
void TellFailure(const char *parent_path, const char *key_path, LONG error) {
    char reason[256];
    const size_t chars = ErrorWords(error, reason, sizeof reason);
    char key[840];
    const bool cut = std::strlen(key_path) > 600;
    const bool below = parent_path != nullptr && *parent_path != 0;
    std::snprintf(key, sizeof key, "HKEY_CURRENT_USER\\%.200s%s%.600s%s", below ? parent_path : "",
                  below ? "\\" : "", key_path, cut ? "..." : "");
    char line[1200];
    std::snprintf(line, sizeof line, "tovarine: could not save %s: error %ld%s%s\n", key,
                  static_cast<long>(error), chars > 0 ? ": " : "", reason);
    TellDiagnostic(error, key, line);
}

// Shows the user what was not saved: every setting, when a write failed and nothing of the
// save stands, or the settings as a whole, when their commit failed or no key could be had.
void ShowFailure(SettingDescriptor *table, const WriteOutcome &outcome) {
    LocalText failures;
    if (!outcome.at_commit && !outcome.taken) {
        ForEachSetting(table, [&](SettingDescriptor &setting) {
            if (CodecOf(setting) != nullptr) {
                failures.Append("Could not save ").Append(setting.name).Append("\n");
            }
        });
    }
    MessageBoxA(
        nullptr,
        failures.failed() || failures.empty() ? "Could not save the settings\n" : failures.c_str(),
        "Update Registry", MB_OK | MB_ICONERROR);
}

// Saves the table after a Yes: into `key_path` (through `key` when the transfer holds it open),
// or, with `new_keys`, into a key of its own that it creates, moving on to the next when
// another process made that one first. A failure is told, and shown when the user was asked.
void Save(const KeyPlace &place, const char *key_path, HKEY key, SettingDescriptor *table,
          NewKeyPaths *new_keys, int32_t selector) {
    LocalText texts;
    WriteOutcome outcome{FormatTexts(table, texts)};
    if (outcome.error == ERROR_SUCCESS) {
        for (int taken = 0;;) {
            outcome =
                WriteKey(place.parent, key_path, key, new_keys != nullptr, table, texts.c_str());
            key = nullptr;
            if (!outcome.taken || ++taken == kMaxTakenKeys || !new_keys->Advance()) break;
            key_path = new_keys->Current();
        }
    } else if (key != nullptr) {
        RegCloseKey(key);  // nothing was written through it
    }
    if (outcome.error == ERROR_SUCCESS) return;
    TellFailure(place.parent_path, key_path, outcome.error);
    // The caller counts on 1 from a save, so the user is told instead.
    if (selector == 0) ShowFailure(table, outcome);
}

// Transfers the table to or from `key_path` below `place`, or saves it into a new key of
// `new_keys`.
int32_t Transfer(const KeyPlace &place, const char *key_path, SettingDescriptor *table, bool saving,
                 int32_t selector, NewKeyPaths *new_keys) {
    const int32_t declined = saving ? 1 : 0;
    if (place.parent == nullptr || key_path == nullptr || table == nullptr) {
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
    // or cannot be read holds none of the settings; nor does a new key, which is not read.
    RegistryReadBatch reads;
    StoredTexts stored;
    const REGSAM access = saving ? KEY_QUERY_VALUE | KEY_SET_VALUE : KEY_QUERY_VALUE;
    LONG open_rc = ERROR_FILE_NOT_FOUND;
    if (new_keys == nullptr) {
        open_rc = RegOpenKeyExA(place.parent, key_path, 0, access, &open_key.key);
    }
    if (open_rc == ERROR_ACCESS_DENIED && saving) {  // still read what it holds
        open_rc = RegOpenKeyExA(place.parent, key_path, 0, KEY_QUERY_VALUE, &open_key.key);
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
        if (const char *text = stored.Find(setting.name)) {
            codec->parse(text, setting.scratch, setting.size);
            if (codec->differs(setting.scratch, setting.variable, setting.size)) {
                AppendChangeLine(confirmation, setting, *codec, saving);
                return;
            }
        } else {
            AppendMissingLine(confirmation, setting, *codec, word);
        }
        ReleaseScratch(setting);
    });

    // The reads are over: none stays open during the question or the writes.
    reads.Pause();
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
        const HKEY key = open_key.key;
        open_key.key = nullptr;  // closed, or discarded, by Save
        Save(place, key_path, key, table, new_keys, selector);
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

}  // namespace

int32_t TransferTable(const KeyPlace &place, const char *key_path, SettingDescriptor *table,
                      bool saving, int32_t selector) {
    return Transfer(place, key_path, table, saving, selector, nullptr);
}

int32_t TransferToNewKey(NewKeyPaths &paths, SettingDescriptor *table, int32_t selector) {
    return Transfer(KeyPlace{}, paths.Current(), table, true, selector, &paths);
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
