#include "settings_text.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "registry_access.h"
#include "report.h"
#include "library_internals.h"

#ifndef _WIN32
#include <memory>

#endif

namespace tovarine_tool {
namespace {

bool Wanted(std::string_view key, const std::vector<std::string> &names) {
    if (names.empty()) return true;
    return std::any_of(names.begin(), names.end(), [key](const std::string &name) {
        return tovarine::IsInstanceKeyOf(key, name);
    });
}

std::runtime_error NotText(const std::string &what, DWORD type, const std::string &outcome) {
    return std::runtime_error("settings: " + what + " is not text (type " + std::to_string(type) +
                              "); " + outcome);
}

#ifdef _WIN32

// The values of an instance key, as Values() read them with the wide calls (UTF-8), as text; a
// text ends at its first NUL. Each value read is let go as soon as it is taken.
void TakeValues(std::vector<RawValue> raw, RegKey &key, const std::string &outcome) {
    key.values.reserve(raw.size());
    for (RawValue &value : raw) {
        const std::string what = "the value " + Quote(value.name) + " of " + Quote(key.name);
        if (value.type != REG_SZ) throw NotText(what, value.type, outcome);
        const auto *chars = reinterpret_cast<const char *>(value.data.data());
        key.values.push_back(
            {std::move(value.name), std::string(chars, strnlen(chars, value.data.size())), 0});
        value = RawValue{};
    }
}

// The registry's own Unicode text, one key after the other.
void ApplyOneByOne(HKEY root, const std::vector<KeyChange> &changes) {
    for (const KeyChange &change : changes) {
        const std::wstring key = ToWide(change.key);
        if (change.remove) {
            const LONG rc = RegDeleteKeyW(root, key.c_str());
            if (rc != ERROR_SUCCESS)
                throw RegistryFailure("cannot delete " + Quote(change.key), rc);
            continue;
        }
        Key instance;
        LONG rc = RegCreateKeyExW(root, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                  KEY_SET_VALUE, nullptr, instance.out(), nullptr);
        if (rc != ERROR_SUCCESS) throw RegistryFailure("cannot create " + Quote(change.key), rc);
        for (const ValueChange &value : change.values) {
            const std::wstring name = ToWide(value.name);
            if (value.after) {
                const std::wstring text = ToWide(*value.after);
                rc = RegSetValueExW(instance.get(), name.c_str(), 0, REG_SZ,
                                    reinterpret_cast<const BYTE *>(text.c_str()),
                                    static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
            } else {
                rc = RegDeleteValueW(instance.get(), name.c_str());
            }
            if (rc != ERROR_SUCCESS) {
                throw RegistryFailure(
                    "cannot write the value " + Quote(value.name) + " of " + Quote(change.key), rc);
            }
        }
        rc = instance.Close();
        if (rc != ERROR_SUCCESS) throw RegistryFailure("cannot write " + Quote(change.key), rc);
    }
}

#else

std::string ToStore(std::string_view text, StoreEncoding encoding, const std::string &what) {
    std::optional<std::string> bytes = Utf8ToStore(text, encoding);
    if (!bytes) {
        throw std::runtime_error("settings: " + what + " cannot be written as " +
                                 (encoding == StoreEncoding::kUtf8 ? "UTF-8" : "windows-1252") +
                                 " text; nothing was written");
    }
    return *bytes;
}

// The values of an instance key, as Values() read them, as text in `encoding`; a text ends at
// its first NUL. Each value read is let go as soon as it is taken.
void TakeValues(std::vector<RawValue> raw, RegKey &key, StoreEncoding encoding,
                const std::string &outcome) {
    key.values.reserve(raw.size());
    for (RawValue &value : raw) {
        const std::string what = "the value " + Quote(value.name) + " of " + Quote(key.name);
        if (value.type != REG_SZ) throw NotText(what, value.type, outcome);
        const auto *chars = reinterpret_cast<const char *>(value.data.data());
        key.values.push_back({FromStore(value.name, encoding, "the name of " + what, outcome),
                              FromStore(std::string_view(chars, strnlen(chars, value.data.size())),
                                        encoding, what, outcome),
                              0});
        value = RawValue{};
    }
}

// Every change is one transaction of the store: every key opened or made, every value set or
// deleted through its handle (a key to delete marked so), then all of the handles' writes
// committed together. A failure on the way, thrown, leaves the handles to drop their writes:
// nothing is committed.
void ApplyInOneTransaction(HKEY root, const std::vector<KeyChange> &changes,
                           StoreEncoding encoding) {
    std::vector<std::unique_ptr<Key> > keys;
    for (const KeyChange &change : changes) {
        const std::string key = *Utf8ToStore(change.key, encoding);
        if (change.remove) {
            keys.push_back(std::make_unique<Key>());
            keys.back()->DiscardUnlessClosed();
            LONG rc = RegOpenKeyExA(root, key.c_str(), 0, KEY_ALL_ACCESS, keys.back()->out());
            if (rc == ERROR_SUCCESS) rc = tovarine::registry::DeleteKeyLater(keys.back()->get());
            if (rc != ERROR_SUCCESS)
                throw RegistryFailure("cannot delete " + Quote(change.key), rc);
            continue;
        }
        keys.push_back(std::make_unique<Key>());
        keys.back()->DiscardUnlessClosed();
        HKEY instance = nullptr;
        LONG rc = RegCreateKeyExA(root, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                  KEY_SET_VALUE, nullptr, keys.back()->out(), nullptr);
        if (rc != ERROR_SUCCESS) throw RegistryFailure("cannot create " + Quote(change.key), rc);
        instance = keys.back()->get();
        for (const ValueChange &value : change.values) {
            const std::string name = *Utf8ToStore(value.name, encoding);
            if (value.after) {
                const std::string text = *Utf8ToStore(*value.after, encoding);
                rc = RegSetValueExA(instance, name.c_str(), 0, REG_SZ,
                                    reinterpret_cast<const BYTE *>(text.c_str()),
                                    static_cast<DWORD>(text.size() + 1));
            } else {
                rc = tovarine::registry::DeleteValueLater(instance, name);
            }
            if (rc != ERROR_SUCCESS) {
                throw RegistryFailure(
                    "cannot write the value " + Quote(value.name) + " of " + Quote(change.key), rc);
            }
        }
    }
    std::vector<HKEY> handles;
    for (const auto &key : keys) handles.push_back(key->get());
    LONG rc = tovarine::registry::CommitTogether(handles.data(), handles.size());
    if (rc != ERROR_SUCCESS)
        throw RegistryFailure("cannot write the changes; none was written", rc);
    for (const auto &key : keys) {  // committed: each close only lets go of its handle
        if (const LONG closed = key->Close(); closed != ERROR_SUCCESS && rc == ERROR_SUCCESS) {
            rc = closed;
        }
    }
    if (rc != ERROR_SUCCESS) throw RegistryFailure("cannot close a key after the changes", rc);
}

#endif

}  // namespace

#ifndef _WIN32
std::string FromStore(std::string_view bytes, StoreEncoding encoding, const std::string &what,
                      const std::string &outcome) {
    std::optional<std::string> text = StoreToUtf8(bytes, encoding);
    if (!text) {
        throw std::runtime_error(
            "settings: " + what + " is not valid " +
            (encoding == StoreEncoding::kUtf8
                 ? "UTF-8 (for a store of Windows ANSI text, give --encoding windows-1252)"
                 : "windows-1252 text") +
            "; " + outcome);
    }
    return *text;
}
#endif

std::string Quote(std::string_view text) { return '"' + EscapeText(text) + '"'; }

std::vector<RegKey> ReadInstances(HKEY root, const std::vector<std::string> &names,
                                  StoreEncoding encoding, const std::string &outcome) {
    std::vector<RegKey> keys;
#ifdef _WIN32
    (void)encoding;
    for (const std::string &name : Subkeys(root, tovarine::kSettingsRootFullName)) {
        if (!Wanted(name, names)) continue;
        Key instance;
        const LONG rc = OpenSubkey(root, name, KEY_QUERY_VALUE, instance);
        if (rc != ERROR_SUCCESS) throw RegistryFailure("cannot open " + Quote(name), rc);
        std::vector<RawValue> raw = Values(instance.get(), Quote(name));
        instance.Close();
        keys.push_back({name, {}, 0});
        TakeValues(std::move(raw), keys.back(), outcome);
    }
#else
    for (const std::string &bytes : Subkeys(root, tovarine::kSettingsRootFullName)) {
        const std::string name = FromStore(bytes, encoding, "the key " + Quote(bytes), outcome);
        if (!Wanted(name, names)) continue;
        Key instance;
        const LONG rc = RegOpenKeyExA(root, bytes.c_str(), 0, KEY_QUERY_VALUE, instance.out());
        if (rc != ERROR_SUCCESS) throw RegistryFailure("cannot open " + Quote(bytes), rc);
        // The handle goes before the values are taken as text, and with it the registry's own
        // copy of them: a key of many values is not held three times over.
        std::vector<RawValue> raw = Values(instance.get(), Quote(name));
        instance.Close();
        keys.push_back({name, {}, 0});
        TakeValues(std::move(raw), keys.back(), encoding, outcome);
    }
#endif
    return keys;
}

std::optional<RegKey> ReadInstance(HKEY root, const std::string &name, StoreEncoding encoding,
                                   const std::string &outcome) {
    Key instance;
#ifdef _WIN32
    (void)encoding;
    const LONG rc = OpenSubkey(root, name, KEY_QUERY_VALUE, instance);
#else
    const std::string bytes = ToStore(name, encoding, "the key " + Quote(name));
    const LONG rc = RegOpenKeyExA(root, bytes.c_str(), 0, KEY_QUERY_VALUE, instance.out());
#endif
    if (rc == ERROR_FILE_NOT_FOUND) return std::nullopt;
    if (rc != ERROR_SUCCESS) throw RegistryFailure("cannot open " + Quote(name), rc);
    std::vector<RawValue> raw = Values(instance.get(), Quote(name));
    instance.Close();  // as in ReadInstances: the registry's copy of the values goes first
    RegKey key{name, {}, 0};
#ifdef _WIN32
    TakeValues(std::move(raw), key, outcome);
#else
    TakeValues(std::move(raw), key, encoding, outcome);
#endif
    return key;
}

void CheckWritable(const std::vector<KeyChange> &changes, [[maybe_unused]] StoreEncoding encoding) {
    // The registry's limits, counted as it counts: the characters of the name as it is stored
    // (on POSIX in the store's encoding, which also checks that it can be written in it).
    using tovarine::registry_names::kMaxKeyNameChars;
    using tovarine::registry_names::kMaxValueNameChars;
    const auto length = [&](const std::string &text, const std::string &what) -> size_t {
#ifdef _WIN32
        (void)what;
        return tovarine::registry_names::NameLength(text);
#else
        return tovarine::registry_names::NameLength(ToStore(text, encoding, what));
#endif
    };
    const auto shown = [](const std::string &name) {
        return Quote(name.size() > 40 ? name.substr(0, 40) + "..." : name);
    };
    for (const KeyChange &change : changes) {
        const size_t key_chars = length(change.key, "the key " + Quote(change.key));
        if (key_chars > kMaxKeyNameChars) {
            throw std::runtime_error("settings: the key name " + shown(change.key) + " has " +
                                     std::to_string(key_chars) +
                                     " characters; the registry takes at most " +
                                     std::to_string(kMaxKeyNameChars) + "; nothing was written");
        }
        for (const ValueChange &value : change.values) {
            const std::string what = "the value " + Quote(value.name) + " of " + Quote(change.key);
            const size_t name_chars = length(value.name, "the name of " + what);
            if (name_chars > kMaxValueNameChars) {
                throw std::runtime_error("settings: the value name " + shown(value.name) + " of " +
                                         Quote(change.key) + " has " + std::to_string(name_chars) +
                                         " characters; the registry takes at most " +
                                         std::to_string(kMaxValueNameChars) +
                                         "; nothing was written");
            }
            if (value.after) length(*value.after, what);
        }
    }
}

void ApplyChanges(HKEY root, const std::vector<KeyChange> &changes, StoreEncoding encoding) {
    CheckWritable(changes, encoding);
#ifdef _WIN32
    (void)encoding;
    ApplyOneByOne(root, changes);
#else
    ApplyInOneTransaction(root, changes, encoding);
#endif
}

}  // namespace tovarine_tool
