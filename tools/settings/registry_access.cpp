#include "registry_access.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>

#include "library_internals.h"

#ifdef _WIN32
#include <optional>
#include <string_view>

#include "text_encoding.h"
#else
#include <sys/stat.h>

#endif

namespace tovarine_tool {
namespace {

// The words for a failure of the store (or, on Windows, of the registry) itself; empty for
// other errors.
const char *StoreWords(LONG rc) {
    switch (rc) {
        case ERROR_BADDB:
            return "is not a database (or one of another layout)";
        case ERROR_REGISTRY_CORRUPT:
            return "is damaged";
        case ERROR_CANTOPEN:
            return "cannot be opened or created";
        case ERROR_CANTREAD:
            return "cannot be read";
        case ERROR_CANTWRITE:
            return "cannot be written (read-only, full disk, or locked too long)";
        default:
            return "";
    }
}

}  // namespace

std::string StoreName() {
#ifdef _WIN32
    return "the registry";
#else
    return "the settings store " + tovarine::registry::StoreFile();
#endif
}

std::runtime_error RegistryFailure(const std::string &doing, LONG rc) {
    const std::string code = std::to_string(rc);
    if (*StoreWords(rc) != '\0') {
        return std::runtime_error("settings: " + doing + ": " + StoreName() + ' ' + StoreWords(rc) +
                                  " (error " + code + ")");
    }
    // Any other error in the system's words, as the library's diagnostics give them, begun in
    // lower case to follow the colon.
    char words[256];
    if (tovarine::ErrorWords(rc, words, sizeof words) > 0) {
        words[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(words[0])));
        return std::runtime_error("settings: " + doing + " (error " + code + ": " + words + ")");
    }
    return std::runtime_error("settings: " + doing + " (error " + code + ")");
}

void CheckStore([[maybe_unused]] Access access) {
#ifndef _WIN32
    const char *named = std::getenv("TOVARINE_REGISTRY");
    if (named != nullptr && *named == '\0') {
        throw std::runtime_error(
            "settings: TOVARINE_REGISTRY is set but empty; set it to the settings store's file, "
            "or unset it for the default");
    }
    const std::string file = tovarine::registry::StoreFile();
    if (file.empty()) {
        throw std::runtime_error(
            "settings: no home folder is known for the settings store; set TOVARINE_REGISTRY");
    }
    struct stat info {};
    if (access == Access::kRead && stat(file.c_str(), &info) != 0) {
        throw std::runtime_error("settings: there is no settings store " + file +
                                 "; create it with 'tovarine settings init'");
    }
#endif
}

void OpenRoot(Key &root, REGSAM rights, Access access) {
    CheckStore(access);
    const LONG rc =
        RegOpenKeyExA(HKEY_CURRENT_USER, tovarine::kSettingsRootPath, 0, rights, root.out());
    if (rc == ERROR_FILE_NOT_FOUND) {
        throw std::runtime_error(std::string("settings: there is no settings root ") +
                                 tovarine::kSettingsRootFullName +
                                 "; create it with 'tovarine settings init'");
    }
    if (rc != ERROR_SUCCESS) {
        throw RegistryFailure(std::string("cannot open ") + tovarine::kSettingsRootFullName, rc);
    }
}

namespace {

// The name of subkey `index` of `key`, read with `enum_key` (RegEnumKeyExW or RegEnumKeyExA)
// into buffers of `chars` characters, the class too when `with_class`; `take` makes the name
// from its characters and gives what the call returns.
template <typename Char, typename EnumKey, typename Take>
LONG ReadSubkey(HKEY key, DWORD index, DWORD chars, bool with_class, EnumKey enum_key, Take take) {
    std::vector<Char> name(chars), key_class(with_class ? chars : 1);
    DWORD name_chars = chars, class_chars = chars;
    FILETIME last_write{};
    const LONG rc = enum_key(key, index, name.data(), &name_chars, nullptr,
                             with_class ? key_class.data() : nullptr,
                             with_class ? &class_chars : nullptr, &last_write);
    return rc != ERROR_SUCCESS ? rc : take(name.data(), name_chars);
}

// Every value of `key`, read with `enum_value` (RegEnumValueW or RegEnumValueA) into name and
// data buffers; `take` makes each value's record from its name's characters, its type and its
// bytes. A value whose data or name did not fit is read again with that buffer made larger: the
// data's to the size the registry gave, else the name's, both within bounds.
template <typename Char, typename EnumValue, typename Take>
std::vector<RawValue> ReadValues(HKEY key, const std::string &what, EnumValue enum_value,
                                 Take take) {
    std::vector<RawValue> values;
    std::vector<Char> name(tovarine::kValueNameChars);
    std::vector<BYTE> data(1024);
    for (DWORD index = 0;;) {
        DWORD name_chars = static_cast<DWORD>(name.size());
        DWORD bytes = static_cast<DWORD>(data.size());
        DWORD type = REG_NONE;
        const LONG rc =
            enum_value(key, index, name.data(), &name_chars, nullptr, &type, data.data(), &bytes);
        if (rc == ERROR_NO_MORE_ITEMS) return values;
        if (rc == ERROR_MORE_DATA) {
            if (bytes > data.size() && bytes < (1u << 30)) {
                data.resize(bytes);
                continue;
            }
            if (bytes <= data.size() && name.size() < (1u << 20)) {
                name.resize(name.size() * 2);
                continue;
            }
        }
        if (rc != ERROR_SUCCESS) throw RegistryFailure("cannot read " + what, rc);
        values.push_back(take(name.data(), name_chars, type, data.data(), bytes));
        ++index;
    }
}

}  // namespace

#ifdef _WIN32

namespace {

bool IsText(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

}  // namespace

LONG EnumSubkey(HKEY key, DWORD index, DWORD chars, bool with_class, std::string &name) {
    return ReadSubkey<wchar_t>(
        key, index, chars, with_class, RegEnumKeyExW, [&](const wchar_t *wide, DWORD name_chars) {
            std::optional<std::string> utf8 = FromWide(std::wstring_view(wide, name_chars));
            if (!utf8) return LONG{ERROR_INVALID_DATA};
            name = std::move(*utf8);
            return LONG{ERROR_SUCCESS};
        });
}

LONG OpenSubkey(HKEY parent, const std::string &name, REGSAM rights, Key &key) {
    return RegOpenKeyExW(parent, ToWide(name).c_str(), 0, rights, key.out());
}

std::vector<RawValue> Values(HKEY key, const std::string &what) {
    return ReadValues<wchar_t>(
        key, what, RegEnumValueW,
        [&](const wchar_t *name, DWORD name_chars, DWORD type, const BYTE *data, DWORD bytes) {
            std::optional<std::string> value_name = FromWide(std::wstring_view(name, name_chars));
            std::vector<BYTE> value(data, data + bytes);
            bool valid = value_name.has_value();
            if (valid && IsText(type)) {
                // The UTF-16 text, NULs included, as UTF-8; an odd last byte is no character.
                std::vector<wchar_t> units(bytes / sizeof(wchar_t));
                std::memcpy(units.data(), data, units.size() * sizeof(wchar_t));
                const std::optional<std::string> text =
                    FromWide(std::wstring_view(units.data(), units.size()));
                valid = text.has_value();
                if (valid) value.assign(text->begin(), text->end());
            }
            if (!valid) {
                throw std::runtime_error("settings: a value of " + what +
                                         " is not valid Unicode text");
            }
            return RawValue{std::move(*value_name), type, std::move(value)};
        });
}

#else

LONG EnumSubkey(HKEY key, DWORD index, DWORD chars, bool with_class, std::string &name) {
    return ReadSubkey<char>(key, index, chars, with_class, RegEnumKeyExA,
                            [&](const char *bytes, DWORD name_chars) {
                                name.assign(bytes, name_chars);
                                return LONG{ERROR_SUCCESS};
                            });
}

LONG OpenSubkey(HKEY parent, const std::string &name, REGSAM rights, Key &key) {
    return RegOpenKeyExA(parent, name.c_str(), 0, rights, key.out());
}

std::vector<RawValue> Values(HKEY key, const std::string &what) {
    return ReadValues<char>(
        key, what, RegEnumValueA,
        [](const char *name, DWORD name_chars, DWORD type, const BYTE *data, DWORD bytes) {
            return RawValue{std::string(name, name_chars), type,
                            std::vector<BYTE>(data, data + bytes)};
        });
}

#endif

#ifdef _WIN32
// Names read with the wide calls, as UTF-8: every name, whatever the ANSI code page holds.
std::vector<std::string> Subkeys(HKEY key, const std::string &what) {
    std::vector<std::string> names;
    for (DWORD index = 0;; ++index) {
        std::string name;
        const LONG rc = EnumSubkey(key, index, tovarine::kSubkeyNameChars, false, name);
        if (rc == ERROR_NO_MORE_ITEMS) return names;
        if (rc != ERROR_SUCCESS) throw RegistryFailure("cannot list the keys of " + what, rc);
        names.push_back(std::move(name));
    }
}

#else
// The library's own enumeration: it goes on past a name that does not fit its buffer.
std::vector<std::string> Subkeys(HKEY key, const std::string &what) {
    std::vector<std::string> names;
    char name[tovarine::kSubkeyNameChars];
    LONG stopped_by = ERROR_NO_MORE_ITEMS;
    tovarine::EnumerateSubkeys(
        key, name, tovarine::kSubkeyNameChars, nullptr, 0, nullptr,
        [&](const char *seen) {
            if (seen != nullptr) names.emplace_back(seen);
            return seen != nullptr;  // null: a name longer than any key name can be
        },
        &stopped_by);
    if (stopped_by != ERROR_NO_MORE_ITEMS) {
        throw RegistryFailure("cannot list the keys of " + what,
                              stopped_by == ERROR_SUCCESS ? ERROR_MORE_DATA : stopped_by);
    }
    return names;
}
#endif

}  // namespace tovarine_tool
