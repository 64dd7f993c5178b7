// One registry value as text, through the Win32 registry API.
#include "settings/registry_text.h"

#include <cstring>
#include <limits>

namespace tovarine {

char *ReadValueText(const char *key_path, const char *name) {
    if (key_path == nullptr || name == nullptr) return nullptr;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, key_path, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
        return nullptr;
    }
    char *text = nullptr;
    // The value may change size between asking and reading: try again a few times.
    for (int attempt = 0; attempt < 4 && text == nullptr; ++attempt) {
        DWORD type = REG_NONE;
        DWORD bytes = 0;
        if (RegQueryValueExA(key, name, nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS) break;
        if (type != REG_SZ && type != REG_EXPAND_SZ) break;
        if (bytes >= std::numeric_limits<DWORD>::max()) break;
        // One byte more than the value, so the text ends in a NUL even when the stored bytes
        // don't.
        auto *block = static_cast<char *>(LocalAlloc(LMEM_ZEROINIT, static_cast<SIZE_T>(bytes) + 1));
        if (block == nullptr) break;
        DWORD got = bytes;
        const LONG rc = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE *>(block),
                                         &got);
        if (rc == ERROR_SUCCESS && (type == REG_SZ || type == REG_EXPAND_SZ) && got <= bytes) {
            block[got] = 0;
            text = block;
        } else {
            LocalFree(block);
            if (rc != ERROR_MORE_DATA) break;
        }
    }
    RegCloseKey(key);
    return text;
}

LONG WriteValueText(const char *key_path, const char *name, const char *text) {
    if (key_path == nullptr || name == nullptr || text == nullptr) return ERROR_INVALID_PARAMETER;
    const size_t length = std::strlen(text);
    if (length >= std::numeric_limits<DWORD>::max()) return ERROR_INVALID_PARAMETER;
    HKEY key = nullptr;
    LONG rc = RegCreateKeyExA(HKEY_CURRENT_USER, key_path, 0, nullptr, REG_OPTION_NON_VOLATILE,
                              KEY_SET_VALUE, nullptr, &key, nullptr);
    if (rc != ERROR_SUCCESS) return rc;
    rc = RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(text),
                        static_cast<DWORD>(length + 1));
    const LONG close_rc = RegCloseKey(key);
    return rc != ERROR_SUCCESS ? rc : close_rc;
}

}  // namespace tovarine
