// Which subkeys of the settings root are instance keys of a settings name, and the enumeration
// that finds them. The library's loads and saves by name, the command-line host's `settings
// list`, `export` and `check` all take the rule and the enumeration from here, so that the
// places the host prints are the instance selector's numbers.
#pragma once

#include <string_view>

#include "module/text.h"
#include "platform/platform.h"

namespace tovarine {

// Whether `key` is an instance key of `settings_name`: the name (ASCII letters in either case),
// one blank and one or more decimal digits, and nothing else. "Box" does not claim "Box Test 0"
// nor "Box  1"; "box 3" and "BOX 007" are Box's.
inline bool IsInstanceKeyOf(std::string_view key, std::string_view settings_name) {
    const size_t n = settings_name.size();
    if (key.size() < n + 2 || key[n] != ' ') return false;
    if (!text::EqualIgnoringCase(key.substr(0, n), settings_name)) return false;
    for (size_t i = n + 1; i < key.size(); ++i) {
        if (key[i] < '0' || key[i] > '9') return false;
    }
    return true;
}

// The same for a key name as the enumeration hands it: null (a name that did not fit) belongs
// to no settings name.
inline bool IsInstanceKeyOf(const char *key, const char *settings_name) {
    return key != nullptr && settings_name != nullptr &&
           IsInstanceKeyOf(std::string_view(key), std::string_view(settings_name));
}

// Whether `key` is an instance key of some settings name: a nonempty name, a blank and decimal
// digits. Keys of any other form are found by no server.
inline bool InInstanceForm(std::string_view key) {
    const size_t blank = key.rfind(' ');
    return blank != std::string_view::npos && blank > 0 &&
           IsInstanceKeyOf(key, key.substr(0, blank));
}

// Enumerates the subkeys of `key` from index 0 until ERROR_NO_MORE_ITEMS or an error other than
// ERROR_MORE_DATA, handing each name to `visit`; `visit` returns false to stop. A subkey whose
// name or class does not fit its buffer is still a subkey: it is counted, and when its name
// fits without the class it is visited under that name, else under null. Returns the number of
// subkeys enumerated, or the index of the subkey at which `visit` stopped. `stopped_by`, when
// given, receives ERROR_NO_MORE_ITEMS at the end, ERROR_SUCCESS when `visit` stopped, else the
// error that ended the enumeration.
template <class Visit>
DWORD EnumerateSubkeys(HKEY key, char *name, DWORD name_capacity, char *key_class,
                       DWORD class_capacity, FILETIME *last_write, Visit visit,
                       LONG *stopped_by = nullptr) {
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
            if (stopped_by != nullptr) *stopped_by = rc;
            return index;
        }
        if (!visit(seen)) {
            if (stopped_by != nullptr) *stopped_by = ERROR_SUCCESS;
            return index;
        }
    }
}

}  // namespace tovarine
