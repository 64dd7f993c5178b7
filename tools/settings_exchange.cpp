// "settings export": the settings root's instance keys as Unicode text, written as a .reg file.
//
// On POSIX the store holds 8-bit text: it is read as UTF-8, or as code page 1252 with
// --encoding windows-1252. On Windows the registry's own Unicode text is read, as the registry's
// tools do. A key or value that is not valid text stops the export before anything is written.
#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "reg_file.h"
#include "registry_access.h"
#include "report.h"
#include "settings/settings_root.h"
#include "settings_command.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace tovarine_tool {
namespace {

// Whether the key `key` is an instance key of `name`: "NAME n" with n a decimal number, the
// name's ASCII letters in either case.
bool BelongsTo(std::string_view key, std::string_view name) {
    if (key.size() < name.size() + 2 || key[name.size()] != ' ') return false;
    auto fold = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    for (size_t i = 0; i < name.size(); ++i) {
        if (fold(key[i]) != fold(name[i])) return false;
    }
    return key.find_first_not_of("0123456789", name.size() + 1) == std::string_view::npos;
}

bool Wanted(std::string_view key, const std::vector<std::string> &names) {
    if (names.empty()) return true;
    for (const std::string &name : names) {
        if (BelongsTo(key, name)) return true;
    }
    return false;
}

std::string Quote(std::string_view text) { return '"' + EscapeText(text) + '"'; }

#ifdef _WIN32

std::string FromWide(const std::wstring &text, const std::string &what) {
    std::optional<std::string> utf8 = Utf16ToUtf8(
        std::u16string_view(reinterpret_cast<const char16_t *>(text.data()), text.size()));
    if (!utf8) throw std::runtime_error("settings: " + what + " is not valid Unicode text");
    return *utf8;
}

std::wstring ToWide(std::string_view utf8) {
    const std::u16string units = Utf8ToUtf16(utf8);
    return std::wstring(units.begin(), units.end());
}

std::vector<RegKey> ReadInstances(HKEY root, const SettingsRequest &request) {
    std::vector<RegKey> keys;
    wchar_t name[256];
    for (DWORD index = 0;; ++index) {
        DWORD chars = 256;
        const LONG rc =
            RegEnumKeyExW(root, index, name, &chars, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_NO_MORE_ITEMS) break;
        if (rc != ERROR_SUCCESS) throw RegistryFailure("cannot list the instance keys", rc);
        const std::string key = FromWide(std::wstring(name, chars), "a key's name");
        if (Wanted(key, request.words)) keys.push_back({key, {}, 0});
    }
    for (RegKey &key : keys) {
        Key instance;
        const LONG rc =
            RegOpenKeyExW(root, ToWide(key.name).c_str(), 0, KEY_QUERY_VALUE, instance.out());
        if (rc != ERROR_SUCCESS) throw RegistryFailure("cannot open " + Quote(key.name), rc);
        std::vector<wchar_t> value_name(16384);
        std::vector<BYTE> data(1024);
        for (DWORD index = 0;;) {
            DWORD name_chars = static_cast<DWORD>(value_name.size());
            DWORD bytes = static_cast<DWORD>(data.size());
            DWORD type = REG_NONE;
            const LONG enum_rc = RegEnumValueW(instance.get(), index, value_name.data(),
                                               &name_chars, nullptr, &type, data.data(), &bytes);
            if (enum_rc == ERROR_NO_MORE_ITEMS) break;
            if (enum_rc == ERROR_MORE_DATA && data.size() < (1u << 30)) {
                data.resize(std::max<size_t>(data.size() * 2, bytes));
                continue;
            }
            if (enum_rc != ERROR_SUCCESS)
                throw RegistryFailure("cannot read " + Quote(key.name), enum_rc);
            const std::string value = FromWide(std::wstring(value_name.data(), name_chars),
                                               "a value name of " + Quote(key.name));
            if (type != REG_SZ) {
                throw std::runtime_error("settings: the value " + Quote(value) + " of " +
                                         Quote(key.name) + " is not text (type " +
                                         std::to_string(type) + "); nothing was exported");
            }
            std::wstring text(reinterpret_cast<const wchar_t *>(data.data()), bytes / 2);
            text.resize(wcsnlen(text.c_str(), text.size()));
            key.values.push_back(
                {value, FromWide(text, "the value " + Quote(value) + " of " + Quote(key.name)), 0});
            ++index;
        }
    }
    return keys;
}

#else

std::string FromStore(std::string_view bytes, const SettingsRequest &request,
                      const std::string &what) {
    std::optional<std::string> text = StoreToUtf8(bytes, request.encoding);
    if (!text) {
        throw std::runtime_error(
            "settings: " + what + " is not valid " +
            (request.encoding == StoreEncoding::kUtf8
                 ? "UTF-8 (for a store of Windows ANSI text, give --encoding windows-1252)"
                 : "windows-1252 text") +
            "; nothing was exported");
    }
    return *text;
}

std::vector<RegKey> ReadInstances(HKEY root, const SettingsRequest &request) {
    std::vector<RegKey> keys;
    for (const std::string &name : Subkeys(root, tovarine::kSettingsRootFullName)) {
        const std::string key = FromStore(name, request, "the key " + Quote(name));
        if (!Wanted(key, request.words)) continue;
        Key instance;
        const LONG rc = RegOpenKeyExA(root, name.c_str(), 0, KEY_QUERY_VALUE, instance.out());
        if (rc != ERROR_SUCCESS) throw RegistryFailure("cannot open " + Quote(name), rc);
        RegKey exported{key, {}, 0};
        for (const RawValue &value : Values(instance.get(), Quote(name))) {
            const std::string what = "the value " + Quote(value.name) + " of " + Quote(name);
            if (value.type != REG_SZ) {
                throw std::runtime_error("settings: " + what + " is not text (type " +
                                         std::to_string(value.type) + "); nothing was exported");
            }
            const auto *chars = reinterpret_cast<const char *>(value.data.data());
            exported.values.push_back(
                {FromStore(value.name, request, "the name of " + what),
                 FromStore(std::string_view(chars, strnlen(chars, value.data.size())), request,
                           what),
                 0});
        }
        keys.push_back(std::move(exported));
    }
    return keys;
}

#endif

// Writes `bytes` to the file, or to standard output (in binary: a .reg file's CR LF and UTF-16
// must not be translated).
void Emit(const std::string &bytes, const std::string &path) {
    if (path.empty()) {
#ifdef _WIN32
        std::fflush(stdout);
        _setmode(_fileno(stdout), _O_BINARY);
#endif
        Put(stdout, bytes);
        return;
    }
    std::FILE *file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        throw std::runtime_error("settings: cannot create " + path + ": " + std::strerror(errno));
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    if (std::fclose(file) != 0 || !written) {
        throw std::runtime_error("settings: cannot write " + path);
    }
}

}  // namespace

// JSON: [{"key": KEY, "values": {NAME: TEXT, ...}}, ...].
int RunExport(const Invocation &invocation, const SettingsRequest &request) {
    Key root;
    OpenRoot(root, KEY_READ, Access::kRead);
    const std::vector<RegKey> keys = ReadInstances(root.get(), request);
    for (const RegKey &key : keys) {
        if (!WritableInReg(key.name)) {
            throw std::runtime_error("settings: the key " + Quote(key.name) +
                                     " holds a line end, which a .reg line cannot; nothing was "
                                     "exported");
        }
        for (const RegValue &value : key.values) {
            if (!WritableInReg(value.name) || !WritableInReg(value.text)) {
                throw std::runtime_error("settings: the value " + Quote(value.name) + " of " +
                                         Quote(key.name) +
                                         " holds a line end, which a .reg line cannot; nothing "
                                         "was exported");
            }
        }
    }
    if (invocation.json) {
        Json json = Json::array();
        for (const RegKey &key : keys) {
            Json values = Json::object();
            for (const RegValue &value : key.values) values[value.name] = value.text;
            json.push_back(Json{{"key", key.name}, {"values", std::move(values)}});
        }
        Emit(DumpJson(json) + '\n', request.output);
    } else {
        Emit(WriteRegFile(keys), request.output);
    }
    return 0;
}

}  // namespace tovarine_tool
