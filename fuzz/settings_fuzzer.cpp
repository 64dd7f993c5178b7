// The settings calls on a registry, a table, box answers, a selector and a call all chosen by the
// input. Nothing may leak; no scratch field may stay set; boxes show only when the selector is 0;
// a load never writes and a save never assigns; without a Yes nothing changes at all; and a
// direct transfer lists, asks, writes and assigns exactly what the model below says.
#include <fuzzer/FuzzedDataProvider.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/local_heap.h"
#include "request_model.h"
#include "settings/settings_root.h"
#include "tovarine.h"

namespace {

const std::string kRoot = tovarine::kSettingsRootPath;

[[noreturn]] void Fail(const char *what, int line) {
    std::fprintf(stderr, "settings_fuzzer.cpp:%d: %s\n", line, what);
    std::abort();
}
#define CHECK(condition) ((condition) ? void() : Fail(#condition, __LINE__))

std::string Fold(std::string s) {
    for (char &c : s) c = c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
    return s;
}

// The whole store: folded key path -> folded value name -> type and bytes.
using Snapshot = std::map<std::string, std::map<std::string, std::pair<DWORD, std::string>>>;

void Dump(const std::string &path, Snapshot &out) {
    HKEY key = nullptr;
    CHECK(RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS);
    auto &values = out[Fold(path)];
    static char name[tovarine::kValueNameChars], data[1 << 16];
    DWORD chars = sizeof name, type = 0, bytes = sizeof data;
    LONG rc;
    for (DWORD i = 0; (rc = RegEnumValueA(key, i, name, &chars, nullptr, &type,
                                          reinterpret_cast<BYTE *>(data), &bytes)) == 0;
         ++i) {
        values[Fold(name)] = {type, std::string(data, bytes)};
        chars = sizeof name, bytes = sizeof data;
    }
    CHECK(rc == ERROR_NO_MORE_ITEMS);
    char sub[tovarine::kSubkeyNameChars];
    for (DWORD i = 0; chars = sizeof sub,
               (rc = RegEnumKeyExA(key, i, sub, &chars, nullptr, nullptr, nullptr, nullptr)) == 0;
         ++i) {
        Dump(path.empty() ? sub : path + "\\" + sub, out);
    }
    CHECK(rc == ERROR_NO_MORE_ITEMS);
    RegCloseKey(key);
}

struct Boxes {
    std::vector<int> answers;  // in turn, then 0
    size_t next = 0;
    int questions = 0, notices = 0, errors = 0;
    bool yes = false;
} g_boxes;

int Answer(void *, HWND, const char *text, const char *caption, unsigned type) {
    CHECK(text != nullptr && caption != nullptr);
    CHECK(type == (MB_YESNO | MB_ICONQUESTION) || type == MB_OK || type == (MB_OK | MB_ICONERROR));
    const int answer = g_boxes.next < g_boxes.answers.size() ? g_boxes.answers[g_boxes.next++] : 0;
    g_boxes.yes |= type == (MB_YESNO | MB_ICONQUESTION) && answer == IDYES;
    ++(type == MB_OK                  ? g_boxes.notices
       : type == MB_OK + MB_ICONERROR ? g_boxes.errors
                                      : g_boxes.questions);
    return answer;
}

// One host setting, its variable exactly `size` bytes on the C heap.
struct Setting {
    std::string name;
    int16_t type, size;
    std::string before;  // the variable's bytes on entry
    std::unique_ptr<char[]> variable;
    bool Valid() const { return type == 4 ? size >= 4 : (type == 1 || type == 3) && size >= 1; }
    std::string Now() const { return std::string(variable.get(), before.size()); }
};

// The text a save stores for the variable bytes `v`.
std::string Format(const Setting &s, const std::string &v) {
    if (s.type == 1) return v.substr(0, std::min(v.find('\0'), static_cast<size_t>(s.size - 1)));
    int32_t n = 0;
    if (s.type == 4) return std::memcpy(&n, v.data(), 4), std::to_string(n);
    std::string hex;
    for (const unsigned char c : v) hex += {"0123456789abcdef"[c >> 4], "0123456789abcdef"[c & 15]};
    return hex;
}

// The variable bytes after a load assigns the stored `text` to the variable bytes `v`.
std::string Assigned(const Setting &s, const std::string &v, const std::string &text) {
    std::string out = s.type == 4 ? v : std::string(v.size(), '\0');
    if (s.type == 1) out.replace(0, std::min(text.size(), v.size() - 1), text, 0, v.size() - 1);
    const int32_t n = tovarine::model::Integer(text.c_str());
    if (s.type == 4) out.replace(0, 4, reinterpret_cast<const char *>(&n), 4);
    const auto hex = [&](size_t i) { return i < text.size() && std::isxdigit(text[i] & 0xFF); };
    for (size_t i = 0; s.type == 3 && i < v.size() && hex(2 * i) && hex(2 * i + 1); ++i)
        out[i] = static_cast<char>(std::stoi(text.substr(2 * i, 2), nullptr, 16));
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    // TMPDIR, when set, is best in memory: the store is written on every input.
    std::string dir = std::filesystem::temp_directory_path() / "tovarine-fuzz-XXXXXX";
    CHECK(mkdtemp(dir.data()) != nullptr);
    setenv("TOVARINE_REGISTRY", (dir + "/store.db").c_str(), 1);
    static const std::string folder = dir;
    std::atexit([] { std::filesystem::remove_all(folder); });
    tovarine_set_message_box_handler(&Answer, nullptr);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzedDataProvider in(data, size);

    // The host's table and the settings name (a folder separator in it would make other keys).
    std::vector<Setting> settings(in.ConsumeIntegralInRange(2, 5));
    std::vector<SettingDescriptor> table;
    void *const garbage = reinterpret_cast<void *>(uintptr_t{1});
    for (Setting &s : settings) {
        s.name = in.PickValueInArray({"Port", "port", "Name", "Mac", "Blob", ""});
        s.type = in.PickValueInArray<int16_t>({-1, 0, 1, 2, 3, 4, 5});
        s.size = in.PickValueInArray<int16_t>({-5, 0, 1, 3, 4, 8, 64, 255, 1024});
        s.before = in.ConsumeBytesAsString(std::max<int16_t>(s.size, 0));
        s.before.resize(static_cast<size_t>(std::max<int16_t>(s.size, 0)), 'v');
        s.variable = std::make_unique<char[]>(std::max<size_t>(s.before.size(), 1));
        std::copy(s.before.begin(), s.before.end(), s.variable.get());
        table.push_back({s.name.c_str(), s.type, s.size, s.variable.get(), garbage});
    }
    table.push_back({nullptr, 9, 9, garbage, garbage});
    const auto end = [&] {  // of the end only the name is read
        const SettingDescriptor &d = table.back();
        return d.type == 9 && d.size == 9 && d.variable == garbage && d.scratch == garbage;
    };
    std::string name = in.ConsumeBool() ? in.ConsumeRandomLengthString(20)
                                        : in.PickValueInArray({"Srv", "srv", "Camera", "S"});
    name = name.c_str();
    std::replace(name.begin(), name.end(), '\\', '/');

    // The registry: the settings root or not, instance keys under it with values. (An input that
    // runs out gives the usual case: the root, one instance key, every value present.)
    const bool root = in.ConsumeIntegralInRange(0, 7) != 7;
    const auto create = [](const std::string &path) {
        HKEY key = nullptr;
        RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &key, nullptr);
        return key;
    };
    if (root) RegCloseKey(create(kRoot));
    std::string other = name;  // the name in the other case
    for (char &c : other) c = static_cast<char>(std::isalpha(c & 0xFF) ? c ^ 32 : c);
    std::vector<std::string> keys;
    for (int n = root ? in.ConsumeIntegralInRange(1, 5) % 5 : 0; n > 0; --n) {
        const std::string number = " " + std::to_string(in.ConsumeIntegralInRange(0, 5));
        const std::string forms[] = {name + number, other + number, name + "x", "Other" + number,
                                     std::string(200, 'K')};  // past the enumeration's buffer
        keys.push_back(kRoot + "\\" + in.PickValueInArray(forms));
        HKEY key = create(keys.back());
        for (const Setting &s : settings) {
            if (in.ConsumeBool()) continue;
            const DWORD type =
                in.PickValueInArray({REG_SZ, REG_SZ, REG_EXPAND_SZ, REG_BINARY, REG_DWORD});
            std::string text = in.ConsumeBool()
                                   ? std::to_string(in.ConsumeIntegral<int64_t>()) +
                                         std::string(in.ConsumeIntegralInRange(0, 30), '9')
                                   : in.ConsumeRandomLengthString(2048);
            text.resize(text.size() + in.ConsumeBool());  // with or without a NUL
            RegSetValueExA(key, s.name.c_str(), 0, type,
                           reinterpret_cast<const BYTE *>(text.data()),
                           static_cast<DWORD>(text.size()));
        }
        RegCloseKey(key);
    }

    for (int n = 0; n < 6; ++n)
        g_boxes.answers.push_back(in.PickValueInArray({IDYES, IDNO, 0, IDOK}));
    const int32_t selector = in.PickValueInArray<int32_t>({0, 0, 0, 1, 2, 3, 5, -1, INT32_MIN});
    const int call = in.ConsumeIntegralInRange(0, 4);  // transfer load/save, by name load/save, new
    const bool writable = in.ConsumeIntegralInRange(0, 15) != 15;
    const std::string path = !writable ? kRoot + "\\" + std::string(300, 'k')
                             : keys.empty() || in.ConsumeBool()
                                 ? kRoot + "\\" + name + " 0"
                                 : keys[in.ConsumeIntegralInRange<size_t>(0, keys.size() - 1)];
    HKEY open_root = root && in.ConsumeBool() ? create(kRoot) : nullptr;
    constexpr uint32_t kFull = tovarine::kSubkeyNameChars;
    const uint32_t name_chars = in.PickValueInArray<uint32_t>({0, 1, 8, 128, kFull});
    const uint32_t class_chars = in.PickValueInArray<uint32_t>({0, 1, 8, kFull});
    auto name_buffer = std::make_unique<char[]>(std::max<uint32_t>(name_chars, 1));
    auto class_buffer = std::make_unique<char[]>(std::max<uint32_t>(class_chars, 1));
    FILETIME last_write{};

    Snapshot before, after;
    Dump("", before);
    const int64_t blocks = tovarine::local_heap::LiveBlocks();
    f9832144782(selector);
    const HWND owner = reinterpret_cast<HWND>(0x1234);
    const bool save = call % 2 == 1 || call == 4;
    const int32_t rc = call < 2   ? qy63B1(owner, path.c_str(), table.data(), save)
                       : call < 4 ? qy189C(owner, name.c_str(), table.data(), save)
                                  : qy75BB(open_root, owner, name.c_str(), table.data(),
                                           name_buffer.get(), name_chars, class_buffer.get(),
                                           class_chars, in.ConsumeBool() ? &last_write : nullptr);
    f9832144782(0);
    if (open_root != nullptr) RegCloseKey(open_root);
    CHECK(tovarine::local_heap::LiveBlocks() == blocks);
    for (const SettingDescriptor &d : table) CHECK(d.name == nullptr || d.scratch == nullptr);
    CHECK(end());
    Dump("", after);
    bool assigned_nothing = true;
    for (const Setting &s : settings) assigned_nothing &= s.Now() == s.before;
    if (selector != 0) CHECK(g_boxes.questions + g_boxes.notices + g_boxes.errors == 0);
    if (selector == 0 && !g_boxes.yes) CHECK(assigned_nothing && after == before);
    CHECK(save ? assigned_nothing : after == before);

    if (call >= 2) {
        CHECK(rc == (call == 4 || root ? 0 : ERROR_FILE_NOT_FOUND));
        if (call != 4 && !root) CHECK(g_boxes.questions + g_boxes.notices == 0 && after == before);
        // Whatever was written went into an instance key of this settings name ("NAME n"),
        // and a new instance into a key that did not exist.
        const std::string instance = Fold(kRoot + "\\" + name + " ");
        for (const auto &[key, values] : after) {
            const auto old = before.find(key);
            if (values.empty() || (old != before.end() && old->second == values)) continue;
            CHECK(key.rfind(instance, 0) == 0 && key.size() > instance.size() &&
                  key.find_first_not_of("0123456789", instance.size()) == std::string::npos);
            if (call == 4) CHECK(old == before.end());
        }
    } else {
        // The transfer: listed are the settings the key lacks and those whose stored value
        // differs; a Yes (or a nonzero selector) then writes all of them or assigns the listed.
        bool listed = false;
        std::vector<std::string> loaded;
        for (const Setting &s : settings) {
            loaded.push_back(s.before);
            if (!s.Valid()) continue;
            const auto key = before.find(Fold(path));
            const auto *stored = key == before.end() || !key->second.contains(Fold(s.name))
                                     ? nullptr
                                     : &key->second.at(Fold(s.name));
            if (stored == nullptr || (stored->first != REG_SZ && stored->first != REG_EXPAND_SZ)) {
                listed = true;  // missing: listed, not assigned
                continue;
            }
            const std::string value = Assigned(s, s.before, stored->second.c_str());
            if (Format(s, value) != Format(s, s.before)) listed = true, loaded.back() = value;
        }
        const bool confirmed = listed && (selector != 0 || g_boxes.yes);
        CHECK(rc == (save || confirmed ? 1 : 0));
        CHECK(g_boxes.questions == (selector == 0 && listed ? 1 : 0));
        CHECK(g_boxes.errors == (selector == 0 && confirmed && save && !writable ? 1 : 0));
        for (size_t k = 0; k < settings.size() && !save; ++k)
            CHECK(settings[k].Now() == (confirmed ? loaded[k] : settings[k].before));
        Snapshot expected = before;
        for (size_t cut = 0; save && confirmed && writable && cut != std::string::npos;) {
            cut = path.find('\\', cut + 1);
            expected[Fold(path.substr(0, cut))];  // the key and those on the way to it
        }
        for (const Setting &s : settings) {
            if (!save || !confirmed || !writable || !s.Valid()) continue;
            expected[Fold(path)][Fold(s.name)] = {REG_SZ, Format(s, s.before) + '\0'};
        }
        CHECK(after == expected);
    }
    g_boxes = {};
    for (auto key = after.rbegin(); key != after.rend(); ++key) {  // a key's subkeys sort after it
        CHECK(key->first.empty() || RegDeleteKeyA(HKEY_CURRENT_USER, key->first.c_str()) == 0);
    }
    return 0;
}
