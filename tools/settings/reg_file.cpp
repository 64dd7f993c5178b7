#include "reg_file.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <unordered_map>

#include "library_internals.h"
#include "text_encoding.h"

namespace tovarine_tool {
namespace {

constexpr std::string_view kUnicodeHeader = "Windows Registry Editor Version 5.00";
constexpr std::string_view kAnsiHeader = "REGEDIT4";
// Refusals listed one by one before the rest are only counted: a file of a million refused
// lines is still one message.
constexpr size_t kListedRefusals = 20;

class Parser {
public:
    RegFile Parse(std::string_view bytes) {
        const std::optional<std::string> text = Decode(bytes);
        if (!text) return std::move(file_);
        std::string_view rest = *text;
        int number = 0;
        bool header = true;
        while (!rest.empty()) {
            const size_t end = rest.find('\n');
            std::string_view line = rest.substr(0, end);
            rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
            if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
            ++number;
            if (header) {
                header = false;
                if (line != kUnicodeHeader && line != kAnsiHeader) {
                    Refuse(number, "the first line is neither \"" + std::string(kUnicodeHeader) +
                                       "\" nor \"" + std::string(kAnsiHeader) + "\"");
                    break;
                }
                continue;
            }
            Line(number, line);
        }
        if (header) Refuse(1, "the file is empty");
        if (file_.refusals.size() > kListedRefusals) {
            const size_t more = file_.refusals.size() - kListedRefusals;
            file_.refusals.resize(kListedRefusals);
            file_.refusals.push_back("and " + std::to_string(more) + " more");
        }
        return std::move(file_);
    }

private:
    void Refuse(int line, const std::string &why) {
        file_.refusals.push_back("line " + std::to_string(line) + ": " + why);
    }

    // The file's text as UTF-8: UTF-16LE after its byte-order mark, else 8-bit text.
    std::optional<std::string> Decode(std::string_view bytes) {
        if (bytes.size() > kMaxRegFileBytes) {
            Refuse(1, "the file is larger than " + std::to_string(kMaxRegFileBytes >> 20) + " MB");
            return std::nullopt;
        }
        if (bytes.size() >= 2 && bytes[0] == '\xff' && bytes[1] == '\xfe') {
            if (bytes.size() % 2 != 0) {
                Refuse(1, "the file is UTF-16 with an odd number of bytes");
                return std::nullopt;
            }
            std::u16string units(bytes.size() / 2 - 1, u'\0');
            for (size_t i = 0; i < units.size(); ++i) {
                units[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 + 2 * i]) |
                                                 static_cast<unsigned char>(bytes[3 + 2 * i]) << 8);
            }
            std::optional<std::string> text = Utf16ToUtf8(units);
            if (!text) Refuse(LineOfBadUtf16(units), "a UTF-16 surrogate without its pair");
            return text;
        }
        if (bytes.size() >= 2 && bytes[0] == '\xfe' && bytes[1] == '\xff') {
            Refuse(1, "the file is big-endian UTF-16; save it as UTF-16LE (\"Unicode\")");
            return std::nullopt;
        }
        if (bytes.substr(0, 3) == "\xef\xbb\xbf") bytes.remove_prefix(3);
        if (IsUtf8(bytes)) return std::string(bytes);
        std::optional<std::string> text = Windows1252ToUtf8(bytes);
        if (!text) Refuse(1, "the file is neither UTF-8 nor code page 1252 text");
        return text;
    }

    static int LineOfBadUtf16(std::u16string_view units) {
        int line = 1;
        for (size_t i = 0; i < units.size(); ++i) {
            const char16_t c = units[i];
            if (c == u'\n') ++line;
            const bool high = c >= 0xd800 && c < 0xdc00, low = c >= 0xdc00 && c <= 0xdfff;
            if (low) return line;
            if (high) {
                if (i + 1 == units.size() || units[i + 1] < 0xdc00 || units[i + 1] > 0xdfff)
                    return line;
                ++i;
            }
        }
        return line;
    }

    void Line(int number, std::string_view line) {
        const size_t lead = line.find_first_not_of(" \t");
        if (lead == std::string_view::npos) return;  // blank
        line.remove_prefix(lead);
        if (line[0] == ';') return;  // comment
        if (line[0] == '[') return Section(number, line);
        if (line[0] == '"' || line[0] == '@') return Value(number, line);
        Refuse(number, "not a key, a value or a comment");
    }

    void Section(int number, std::string_view line) {
        // Until this key is taken, its values belong to a refused key: refused with it, not
        // each again as a value outside any key.
        in_key_ = false;
        root_section_ = false;
        refused_key_ = true;
        const size_t close = line.rfind(']');
        if (close == std::string_view::npos ||
            line.find_first_not_of(" \t", close + 1) != std::string_view::npos) {
            return Refuse(number, "a key line without its closing \"]\"");
        }
        std::string_view path = line.substr(1, close - 1);
        if (!path.empty() && path[0] == '-') {
            return Refuse(number, "deletes a key; deletions are not imported");
        }
        if (path.find('\0') != std::string_view::npos) {
            return Refuse(number,
                          "a NUL character in the key's name, which no stored name can hold");
        }
        const std::string_view root = tovarine::kSettingsRootFullName;
        if (tovarine::text::EqualIgnoringCase(path, root)) {
            root_section_ = true;  // the root itself: values there are refused below
            refused_key_ = false;
            return;
        }
        if (path.size() <= root.size() + 1 || !tovarine::text::StartsWithIgnoringCase(path, root) ||
            path[root.size()] != '\\') {
            return Refuse(number, "the key is not below the settings root " + std::string(root));
        }
        const std::string_view name = path.substr(root.size() + 1);
        if (name.find('\\') != std::string_view::npos) {
            return Refuse(number,
                          "the key is not an instance key directly below the settings root");
        }
        if (tovarine::registry_names::NameLength(name) >
            tovarine::registry_names::kMaxKeyNameChars) {
            return Refuse(number, "the key name is longer than " +
                                      std::to_string(tovarine::registry_names::kMaxKeyNameChars) +
                                      " characters");
        }
        refused_key_ = false;
        in_key_ = true;
        file_.keys.push_back({std::string(name), {}, number});
    }

    // A quoted string at the start of `line`, its escapes undone; moves `line` past it.
    std::optional<std::string> Quoted(int number, std::string_view &line) {
        std::string text;
        for (size_t i = 1; i < line.size(); ++i) {
            const char c = line[i];
            if (c == '"') {
                line.remove_prefix(i + 1);
                return text;
            }
            if (c == '\\') {
                if (i + 1 == line.size() || (line[i + 1] != '\\' && line[i + 1] != '"')) {
                    Refuse(number, "a backslash that escapes neither \"\\\" nor '\"'");
                    return std::nullopt;
                }
                text += line[++i];
            } else {
                text += c;
            }
        }
        Refuse(number, "a text without its closing quote");
        return std::nullopt;
    }

    void Value(int number, std::string_view line) {
        std::string name;
        if (line[0] == '@') {
            line.remove_prefix(1);
        } else {
            std::optional<std::string> quoted = Quoted(number, line);
            if (!quoted) return;
            name = std::move(*quoted);
        }
        line.remove_prefix(std::min(line.find_first_not_of(" \t"), line.size()));
        if (line.empty() || line[0] != '=') return Refuse(number, "a value without \"=\"");
        line.remove_prefix(1);
        line.remove_prefix(std::min(line.find_first_not_of(" \t"), line.size()));
        if (line == "-") return Refuse(number, "deletes a value; deletions are not imported");
        if (line.empty() || line[0] != '"') {
            const std::string_view type = line.substr(0, line.find(':'));
            return Refuse(number, "a value of type \"" + std::string(type.substr(0, 16)) +
                                      "\"; only string values are imported");
        }
        std::optional<std::string> text = Quoted(number, line);
        if (!text) return;
        if (line.find_first_not_of(" \t") != std::string_view::npos) {
            return Refuse(number, "text after the value's closing quote");
        }
        if (name.find('\0') != std::string::npos || text->find('\0') != std::string::npos) {
            return Refuse(number, "a NUL character, which no stored text can hold");
        }
        if (root_section_) {
            // An empty default value is what creating the root with "reg add" leaves, and the
            // registry's tools export it with the root: nothing to import, nothing to refuse.
            if (name.empty() && text->empty()) return;
            return Refuse(number,
                          "a value of the settings root itself; only instance keys' "
                          "values are imported");
        }
        if (refused_key_) return;
        if (!in_key_) return Refuse(number, "a value before any key");
        file_.keys.back().values.push_back({std::move(name), std::move(*text), number});
    }

    RegFile file_;
    bool in_key_ = false;
    bool root_section_ = false;
    bool refused_key_ = false;  // the current key was refused
};

void AppendEscaped(std::string &out, std::string_view text) {
    for (const char c : text) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
}

// Names as the registry compares them: ASCII letters in either case are the same name.
struct NameHash {
    size_t operator()(std::string_view name) const {
        uint64_t hash = 14695981039346656037u;  // FNV-1a
        for (const char c : name) {
            hash =
                (hash ^ static_cast<unsigned char>(tovarine::text::AsciiUpper(c))) * 1099511628211u;
        }
        return static_cast<size_t>(hash);
    }
};
struct SameName {
    bool operator()(std::string_view a, std::string_view b) const {
        return tovarine::text::EqualIgnoringCase(a, b);
    }
};
// A place in a list by name; the names viewed are the list's own, so the list must not move
// them while the index is used.
using NameIndex = std::unordered_map<std::string_view, size_t, NameHash, SameName>;

}  // namespace

RegFile ReadRegFile(std::string_view bytes) { return Parser().Parse(bytes); }

std::vector<RegKey> MergeKeys(std::vector<RegKey> keys) {
    // Each merged key with the mentions it takes, in file order. `merged` is reserved whole, so
    // the names `key_at` views in it stay where they are.
    std::vector<RegKey> merged;
    merged.reserve(keys.size());
    std::vector<std::vector<size_t>> mentions;
    NameIndex key_at;
    for (size_t i = 0; i < keys.size(); ++i) {
        const auto found = key_at.find(keys[i].name);
        if (found != key_at.end()) {
            mentions[found->second].push_back(i);
            continue;
        }
        merged.push_back({std::move(keys[i].name), {}, keys[i].line});
        mentions.push_back({i});
        key_at.emplace(merged.back().name, merged.size() - 1);
    }
    NameIndex value_at;
    for (size_t m = 0; m < merged.size(); ++m) {
        std::vector<RegValue> &values = merged[m].values;
        size_t count = 0;
        for (const size_t i : mentions[m]) count += keys[i].values.size();
        values.reserve(count);  // as `merged`: the names `value_at` views stay put
        value_at.clear();
        value_at.reserve(count);
        for (const size_t i : mentions[m]) {
            for (RegValue &value : keys[i].values) {
                const auto found = value_at.find(value.name);
                if (found != value_at.end()) {
                    values[found->second].text = std::move(value.text);
                    continue;
                }
                values.push_back(std::move(value));
                value_at.emplace(values.back().name, values.size() - 1);
            }
            keys[i].values = {};  // moved from: its memory goes now, not with the whole list
        }
    }
    return merged;
}

KeyChange ChangeTo(std::optional<RegKey> current, RegKey wanted) {
    KeyChange change{std::move(wanted.name), current.has_value(), false, {}};
    // Room for every value, though only those that differ are put there: room not filled costs
    // no memory, and the list is not copied over as it grows.
    change.values.reserve(wanted.values.size());
    NameIndex held;
    if (current) {
        held.reserve(current->values.size());
        for (size_t i = 0; i < current->values.size(); ++i) {
            held.insert_or_assign(current->values[i].name, i);  // the last of a name counts
        }
    }
    for (RegValue &value : wanted.values) {
        std::optional<std::string> before;
        if (const auto found = held.find(value.name); found != held.end()) {
            // Each name of `wanted` comes once: the text held is taken, not copied.
            before = std::move(current->values[found->second].text);
        }
        if (before != value.text) {
            change.values.push_back(
                {std::move(value.name), std::move(before), std::move(value.text)});
        }
        value = RegValue{};
    }
    return change;
}

bool WritableInReg(std::string_view text) {
    return text.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

std::string WriteRegFile(const std::vector<RegKey> &keys) {
    std::string text(kUnicodeHeader);
    text += "\r\n";
    for (const RegKey &key : keys) {
        text += "\r\n[";
        text += tovarine::kSettingsRootFullName;
        text += '\\';
        text += key.name;
        text += "]\r\n";
        for (const RegValue &value : key.values) {
            if (value.name.empty()) {
                text += '@';
            } else {
                text += '"';
                AppendEscaped(text, value.name);
                text += '"';
            }
            text += "=\"";
            AppendEscaped(text, value.text);
            text += "\"\r\n";
        }
    }
    text += "\r\n";
    const std::u16string units = Utf8ToUtf16(text);
    std::string bytes = "\xff\xfe";
    bytes.reserve(2 + units.size() * 2);
    for (const char16_t unit : units) {
        bytes += static_cast<char>(unit & 0xff);
        bytes += static_cast<char>(unit >> 8);
    }
    return bytes;
}

}  // namespace tovarine_tool
