// The registry's rules for the names of keys and values, in one place for the library's settings
// calls, the POSIX registry and the command-line host: the longest names, and how a name's length
// is counted against them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace tovarine::registry_names {

// The longest key name (one element of a key's path) and the longest value name, in characters.
inline constexpr size_t kMaxKeyNameChars = 255;
inline constexpr size_t kMaxValueNameChars = 16383;

// A name's length as the registry counts it, in characters: where the name is valid UTF-8, the
// UTF-16 units of the characters it spells (one each, two for a character beyond U+FFFF, as the
// registry itself stores them); otherwise one per byte, as a code page's text.
constexpr size_t NameLength(std::string_view name) {
    size_t units = 0;
    for (size_t i = 0; i < name.size();) {
        const auto lead = static_cast<uint8_t>(name[i]);
        size_t length = 0;
        uint32_t code = 0;
        if (lead < 0x80) {
            ++units;
            ++i;
            continue;
        }
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            code = lead & 0x1Fu;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            code = lead & 0x0Fu;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            code = lead & 0x07u;
        } else {
            return name.size();
        }
        if (name.size() - i < length) return name.size();
        for (size_t k = 1; k < length; ++k) {
            const auto next = static_cast<uint8_t>(name[i + k]);
            if ((next & 0xC0u) != 0x80u) return name.size();
            code = code << 6 | (next & 0x3Fu);
        }
        // Overlong forms, surrogates and code points past U+10FFFF are not UTF-8.
        if ((length == 3 && code < 0x800) || (length == 4 && code < 0x10000) ||
            (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) {
            return name.size();
        }
        units += code >= 0x10000 ? 2 : 1;
        i += length;
    }
    return units;
}

}  // namespace tovarine::registry_names

namespace tovarine {

// The settings root's path below HKEY_CURRENT_USER; an instance key is this path, a backslash
// and "NAME n".
inline constexpr char kSettingsRootPath[] = "SOFTWARE\\Zel Inc.\\Zel Quantivale Servers";

// The same key named with its hive, as registry tools and .reg files name it.
inline constexpr char kSettingsRootFullName[] =
    "HKEY_CURRENT_USER\\SOFTWARE\\Zel Inc.\\Zel Quantivale Servers";

}  // namespace tovarine
