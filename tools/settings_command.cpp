// "settings": the settings root and the saved instances below it, as an installer creates them
// and as the library finds them. The tool works on the registry itself (on POSIX, on the same
// store as the library), since the library creates no settings root and lists no instances.
#include "platform/platform.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "command.h"
#include "settings/settings_root.h"
#include "report.h"

namespace tovarine_tool {
namespace {

using tovarine::kSettingsRootPath;
constexpr const char *kSettingsRoot = kSettingsRootPath;
constexpr const char *kRootName = tovarine::kSettingsRootFullName;
// The library enumerates instance keys with buffers of this many characters.
constexpr DWORD kEnumChars = tovarine::kSubkeyNameChars;

std::runtime_error Failure(const std::string &what, LONG rc) {
    return std::runtime_error(what + " (error " + std::to_string(rc) + ")");
}

// An open key, closed when it goes out of scope.
class Key {
public:
    Key() = default;
    Key(const Key &) = delete;
    Key &operator=(const Key &) = delete;
    ~Key() {
        if (key_ != nullptr) RegCloseKey(key_);
    }
    HKEY *out() { return &key_; }
    HKEY get() const { return key_; }

private:
    HKEY key_ = nullptr;
};

void OpenRoot(Key &root) {
    const LONG rc = RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsRoot, 0, KEY_READ, root.out());
    if (rc == ERROR_FILE_NOT_FOUND) {
        throw std::runtime_error(std::string("settings: there is no settings root ") + kRootName +
                                 "; create it with 'tovarine settings init'");
    }
    if (rc != ERROR_SUCCESS) throw Failure(std::string("settings: cannot open ") + kRootName, rc);
}

// ASCII letters folded, as the library compares a settings name with the instance keys.
bool HasPrefix(const char *text, std::string_view prefix) {
    auto fold = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; };
    for (size_t i = 0; i < prefix.size(); ++i) {
        if (text[i] == 0 || fold(text[i]) != fold(static_cast<unsigned char>(prefix[i])))
            return false;
    }
    return true;
}

int RunInit(const Invocation &invocation) {
    if (!invocation.args.empty()) throw UsageError("settings init: too many arguments");
    Key root;
    DWORD disposition = 0;
    const LONG rc = RegCreateKeyExA(HKEY_CURRENT_USER, kSettingsRoot, 0, nullptr,
                                    REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, root.out(),
                                    &disposition);
    if (rc != ERROR_SUCCESS) throw Failure(std::string("settings: cannot create ") + kRootName, rc);
    std::printf("%s %s\n", disposition == REG_CREATED_NEW_KEY ? "created" : "already there:",
                kRootName);
    return 0;
}

// Enumerates as the library does: from index 0 up to the first call that fails, whether at the
// end or at a name or class too long for its buffer.
int RunList(const Invocation &invocation) {
    const auto &args = invocation.args;
    if (args.size() > 1) throw UsageError("settings list: too many arguments");
    if (invocation.json) throw UsageError("settings list: --json applies to 'settings show' only");
    Key root;
    OpenRoot(root);
    char name[kEnumChars];
    char key_class[kEnumChars];
    FILETIME last_write{};
    int place = 0;
    for (DWORD index = 0;; ++index) {
        DWORD name_chars = kEnumChars, class_chars = kEnumChars;
        if (RegEnumKeyExA(root.get(), index, name, &name_chars, nullptr, key_class, &class_chars,
                          &last_write) != ERROR_SUCCESS) {
            break;
        }
        if (args.empty()) {
            std::printf("%s\n", name);
        } else if (HasPrefix(name, args[0])) {
            std::printf("%d\t%s\n", ++place, name);
        }
    }
    return 0;
}

// A value as the tool prints it: text up to its NUL, a DWORD in decimal, anything else as
// lowercase hex digits.
Value ValueOf(DWORD type, const std::vector<BYTE> &data, DWORD bytes) {
    const auto *chars = reinterpret_cast<const char *>(data.data());
    if (type == REG_SZ || type == REG_EXPAND_SZ) return std::string(chars, strnlen(chars, bytes));
    if (type == REG_DWORD && bytes == 4) {
        uint32_t number;
        std::memcpy(&number, data.data(), 4);
        return static_cast<int32_t>(number);
    }
    static constexpr char kHex[] = "0123456789abcdef";
    std::string hex;
    for (DWORD i = 0; i < bytes; ++i) {
        hex += kHex[data[i] >> 4];
        hex += kHex[data[i] & 0xf];
    }
    return hex;
}

int RunShow(const Invocation &invocation) {
    const auto &args = invocation.args;
    if (args.empty()) throw UsageError("settings show: no instance given (\"NAME n\")");
    if (args.size() > 1) throw UsageError("settings show: too many arguments");
    if (args[0].empty() || args[0].find('\\') != std::string_view::npos) {
        throw UsageError("settings show: an instance is a key directly under the settings root");
    }
    Key root;
    OpenRoot(root);
    Key instance;
    const std::string name(args[0]);
    const LONG rc = RegOpenKeyExA(root.get(), name.c_str(), 0, KEY_QUERY_VALUE, instance.out());
    if (rc == ERROR_FILE_NOT_FOUND) {
        throw std::runtime_error("settings: there is no instance \"" + name +
                                 "\"; 'tovarine settings list' shows those there are");
    }
    if (rc != ERROR_SUCCESS) throw Failure("settings: cannot open \"" + name + "\"", rc);

    std::vector<Output> outputs;
    std::vector<char> value_name(256);
    std::vector<BYTE> data(1024);
    for (DWORD index = 0;;) {
        DWORD name_chars = static_cast<DWORD>(value_name.size());
        DWORD bytes = static_cast<DWORD>(data.size());
        DWORD type = REG_NONE;
        const LONG enum_rc = RegEnumValueA(instance.get(), index, value_name.data(), &name_chars,
                                           nullptr, &type, data.data(), &bytes);
        if (enum_rc == ERROR_NO_MORE_ITEMS) break;
        if (enum_rc == ERROR_MORE_DATA && value_name.size() < 32768 && data.size() < (1u << 30)) {
            // Either buffer was too small: retry the same value with both larger.
            value_name.resize(value_name.size() * 2);
            data.resize(std::max<size_t>(data.size() * 2, bytes));
            continue;
        }
        if (enum_rc != ERROR_SUCCESS) {
            throw Failure("settings: cannot read \"" + name + "\"", enum_rc);
        }
        outputs.push_back({std::string(value_name.data(), name_chars), ValueOf(type, data, bytes)});
        ++index;
    }
    if (invocation.json) {
        WriteJson(stdout, outputs);
    } else {
        WriteText(stdout, outputs);
    }
    return 0;
}

int RunSettings(const Invocation &invocation) {
    static constexpr struct {
        std::string_view name;
        int (*run)(const Invocation &);
    } kActions[] = {{"init", RunInit}, {"list", RunList}, {"show", RunShow}};
    if (invocation.args.empty()) throw UsageError("settings: no action given (init, list or show)");
    for (const auto &action : kActions) {
        if (action.name != invocation.args[0]) continue;
        Invocation rest = invocation;
        rest.args.erase(rest.args.begin());
        return action.run(rest);
    }
    throw UsageError("settings: unknown action '" + std::string(invocation.args[0]) +
                     "' (init, list or show)");
}

}  // namespace

const Command kSettingsCommand = {
    "settings", "init | list [NAME] | show INSTANCE",
    "    The saved settings of the servers: instance keys \"NAME n\" directly under the\n"
    "    settings root, the key below HKEY_CURRENT_USER that 'settings init' names.\n"
    "    init           creates the settings root, as an installer would (the servers\n"
    "                   save nothing without it) and says whether it was there already\n"
    "    list [NAME]    lists the instance keys in the order the servers find them; with\n"
    "                   NAME, only those beginning with it (ASCII letters in either case),\n"
    "                   each after its place among them: the instance selector's number\n"
    "    show INSTANCE  prints the values of one instance key, as name=value lines (or\n"
    "                   --json): text as it is, anything else but a DWORD as hex digits\n"
    "    On POSIX the registry is the store file named by TOVARINE_REGISTRY, by default\n"
    "    ${XDG_CONFIG_HOME:-$HOME/.config}/tovarine/registry.db, shared with the library.\n",
    RunSettings};

}  // namespace tovarine_tool
