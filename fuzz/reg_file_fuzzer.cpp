// The .reg file reader on any bytes. The first byte picks how the rest is presented: as the whole
// file, after the 8-bit header "REGEDIT4", after the Unicode header in UTF-16LE (each byte one
// character), or as raw UTF-16LE units after that header. Checked on every input:
//  - what is accepted holds only instance keys directly below the settings root (no "\", at most
//    255 characters) and string values, no name or text holding a NUL, all of it well-formed UTF-8;
//  - at most 20 refusals are listed, then one "and N more";
//  - an accepted file whose texts fit a .reg line reads back from WriteRegFile as the same keys
//    and values;
//  - the same text read in the 8-bit form and in the Unicode form gives the same keys, values,
//    line numbers and refusals (when the text is UTF-8, so that both forms hold it);
//  - MergeKeys gives what merging by a search of the list for each name gives.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "module/registry_names.h"
#include "reg_file.h"
#include "text_encoding.h"

namespace {

using tovarine_tool::RegFile;
using tovarine_tool::RegKey;

[[noreturn]] void Fail(const char *what, int line) {
    std::fprintf(stderr, "reg_file_fuzzer.cpp:%d: %s\n", line, what);
    std::abort();
}
#define CHECK(condition) ((condition) ? void() : Fail(#condition, __LINE__))

constexpr std::string_view kAnsi = "REGEDIT4\r\n";
constexpr std::string_view kUnicode = "Windows Registry Editor Version 5.00\r\n";

// UTF-16LE bytes with a byte-order mark for the 16-bit units `units`.
std::string Utf16File(const std::u16string &units) {
    std::string bytes = "\xff\xfe";
    for (const char16_t unit : units) {
        bytes += static_cast<char>(unit & 0xff);
        bytes += static_cast<char>(unit >> 8);
    }
    return bytes;
}

void CheckWellFormed(const RegFile &file) {
    CHECK(file.refusals.size() <= 21);
    if (!file.refusals.empty()) return;
    for (const RegKey &key : file.keys) {
        // The registry's limit is in characters: 255 "ÿ" of code page 1252 are 510 bytes of UTF-8.
        CHECK(!key.name.empty() && tovarine::registry_names::NameLength(key.name) <=
                                       tovarine::registry_names::kMaxKeyNameChars);
        CHECK(key.name.find('\\') == std::string::npos);
        CHECK(key.name.find('\0') == std::string::npos);
        CHECK(tovarine_tool::IsUtf8(key.name));
        for (const auto &value : key.values) {
            CHECK(value.name.find('\0') == std::string::npos);
            CHECK(value.text.find('\0') == std::string::npos);
            CHECK(tovarine_tool::IsUtf8(value.name) && tovarine_tool::IsUtf8(value.text));
            CHECK(value.line > key.line);
        }
    }
}

bool SameContent(const RegFile &a, const RegFile &b) {
    if (a.keys.size() != b.keys.size()) return false;
    for (size_t k = 0; k < a.keys.size(); ++k) {
        const RegKey &x = a.keys[k], &y = b.keys[k];
        if (x.name != y.name || x.values.size() != y.values.size()) return false;
        for (size_t v = 0; v < x.values.size(); ++v) {
            if (x.values[v].name != y.values[v].name || x.values[v].text != y.values[v].text)
                return false;
        }
    }
    return true;
}

bool SameParse(const RegFile &a, const RegFile &b) {
    if (!SameContent(a, b) || a.refusals != b.refusals) return false;
    for (size_t k = 0; k < a.keys.size(); ++k) {
        if (a.keys[k].line != b.keys[k].line) return false;
        for (size_t v = 0; v < a.keys[k].values.size(); ++v) {
            if (a.keys[k].values[v].line != b.keys[k].values[v].line) return false;
        }
    }
    return true;
}

bool Writable(const RegFile &file) {
    for (const RegKey &key : file.keys) {
        if (!tovarine_tool::WritableInReg(key.name)) return false;
        for (const auto &value : key.values) {
            if (!tovarine_tool::WritableInReg(value.name) ||
                !tovarine_tool::WritableInReg(value.text))
                return false;
        }
    }
    return true;
}

// MergeKeys by its definition: each name looked for in what was merged so far.
std::vector<RegKey> MergedBySearch(const std::vector<RegKey> &keys) {
    const auto same = [](const std::string &a, const std::string &b) {
        if (a.size() != b.size()) return false;
        for (size_t i = 0; i < a.size(); ++i) {
            const auto upper = [](char c) { return c >= 'a' && c <= 'z' ? char(c - 32) : c; };
            if (upper(a[i]) != upper(b[i])) return false;
        }
        return true;
    };
    std::vector<RegKey> merged;
    for (const RegKey &key : keys) {
        RegKey *into = nullptr;
        for (RegKey &m : merged) into = into == nullptr && same(m.name, key.name) ? &m : into;
        if (into == nullptr) into = &merged.emplace_back(RegKey{key.name, {}, key.line});
        for (const auto &value : key.values) {
            tovarine_tool::RegValue *earlier = nullptr;
            for (auto &v : into->values)
                earlier = earlier == nullptr && same(v.name, value.name) ? &v : earlier;
            if (earlier != nullptr) {
                earlier->text = value.text;
            } else {
                into->values.push_back(value);
            }
        }
    }
    return merged;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0) return 0;
    const std::string_view rest(reinterpret_cast<const char *>(data) + 1, size - 1);
    std::string bytes;
    switch (data[0] % 4) {
        case 0:
            bytes = rest;
            break;
        case 1:
            bytes = std::string(kAnsi) + std::string(rest);
            break;
        case 2: {  // each byte one character (Latin-1)
            std::u16string units(kUnicode.begin(), kUnicode.end());
            for (const char c : rest) units += static_cast<char16_t>(static_cast<uint8_t>(c));
            bytes = Utf16File(units);
            break;
        }
        default: {  // raw units, an odd last byte kept
            bytes = Utf16File(std::u16string(kUnicode.begin(), kUnicode.end()));
            bytes += rest;
            break;
        }
    }

    const RegFile file = tovarine_tool::ReadRegFile(bytes);
    CheckWellFormed(file);
    {
        RegFile by_search, merged;
        by_search.keys = MergedBySearch(file.keys);
        merged.keys = tovarine_tool::MergeKeys(file.keys);
        CHECK(SameParse(merged, by_search));
    }

    if (file.refusals.empty() && Writable(file)) {
        const RegFile again = tovarine_tool::ReadRegFile(tovarine_tool::WriteRegFile(file.keys));
        CHECK(again.refusals.empty());
        CHECK(SameContent(file, again));
    }

    // One text, both forms.
    if (tovarine_tool::IsUtf8(rest)) {
        const std::string text = std::string(kAnsi) + std::string(rest);
        const RegFile ansi = tovarine_tool::ReadRegFile(text);
        const RegFile unicode = tovarine_tool::ReadRegFile(
            Utf16File(tovarine_tool::Utf8ToUtf16(std::string(kUnicode) + std::string(rest))));
        CHECK(SameParse(ansi, unicode));
    }
    return 0;
}
