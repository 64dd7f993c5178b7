// .reg files, the exchange format of the Windows registry's own tools, for the settings root's
// instance keys.
//
// Written in the form Windows' registry tools write: UTF-16LE with a byte-order mark, CRLF line
// ends, the first line "Windows Registry Editor Version 5.00", then per key a blank line, the
// line "[HKEY_CURRENT_USER\...\NAME n]" and one line "\"value name\"=\"text\"" per value, with
// "\" and "\"" in names and texts escaped as "\\" and "\\\"" (the value without a name is
// "@"). The file ends with a blank line.
//
// Read in that form and in the older 8-bit form whose first line is "REGEDIT4" (its text taken
// as UTF-8 when it is well-formed UTF-8, else as code page 1252). Only string values of keys
// directly below the settings root are taken; everything else that would change the registry
// (deleting a key or a value, other value types, keys elsewhere) is refused with its line
// number, and a file with any refusal is taken as a whole as refused.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tovarine_tool {

// One string value: its name ("" for the value without a name) and its text, both UTF-8.
struct RegValue {
    std::string name;
    std::string text;
    int line = 0;  // in the file read; 0 for values not read from a file
};

// One instance key: its name below the settings root, and its values in file order.
struct RegKey {
    std::string name;
    std::vector<RegValue> values;
    int line = 0;
};

struct RegFile {
    std::vector<RegKey> keys;           // in file order; a key named twice is kept twice
    std::vector<std::string> refusals;  // "line N: why", in file order; empty when accepted
};

// The largest .reg file read, in bytes: larger ones are refused before being parsed.
inline constexpr size_t kMaxRegFileBytes = 64u << 20;

// Parses the bytes of a .reg file.
RegFile ReadRegFile(std::string_view bytes);

// The .reg file of `keys` (names and texts UTF-8), in the Unicode form. A name or text holding a
// line end cannot be written in a .reg line: the caller refuses those (WritableInReg).
std::string WriteRegFile(const std::vector<RegKey> &keys);

// Whether `text` can stand in a .reg line: no CR, no LF, no NUL.
bool WritableInReg(std::string_view text);

// A change to one value: `after` nullopt deletes it; `before` nullopt means it is new.
struct ValueChange {
    std::string name;
    std::optional<std::string> before, after;
};

// The changes to one instance key.
struct KeyChange {
    std::string key;
    bool exists = true;   // false: the key is created
    bool remove = false;  // the key is deleted, with all its values
    std::vector<ValueChange> values;
};

// `keys` with every key named more than once taken once, names compared as the registry
// compares them (ASCII letters in either case): at its first place, with its first spelling and
// line, holding the values of all of its mentions. A value named more than once in those is
// likewise taken once, at its first place with its first spelling and line, and the text of its
// last mention. Time and memory linear in the number of keys and values.
std::vector<RegKey> MergeKeys(std::vector<RegKey> keys);

// The change that makes the instance key `current` (nullopt: there is none) hold `wanted`'s
// values (their names distinct, as MergeKeys leaves them): every value `current` lacks or holds
// with another text, in `wanted`'s order, its text before taken from the last value of that name
// in `current`. Values `current` holds beyond `wanted`'s are kept. The change is named as
// `wanted` is.
KeyChange ChangeTo(std::optional<RegKey> current, RegKey wanted);

}  // namespace tovarine_tool
