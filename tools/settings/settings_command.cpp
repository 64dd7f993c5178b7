// "settings": the settings root and the saved instances below it, as an installer creates them
// and as the library finds them. The tool works on the registry itself (on POSIX, on the same
// store as the library), since the library creates no settings root and lists no instances.
#include "settings_command.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "command.h"
#include "library_internals.h"
#include "registry_access.h"
#include "report.h"
#include "words.h"

namespace tovarine_tool {
namespace {

constexpr const char *kRootName = tovarine::kSettingsRootFullName;
// The library enumerates instance keys with buffers of this many characters.
constexpr DWORD kEnumChars = tovarine::kSubkeyNameChars;

// Succeeds only when the root is there afterwards: the creation is committed when the key is
// closed, and a commit that fails (the store locked by another program past the busy time-out,
// a full disk) is a failure, not a "created". Another program that made the root first makes
// this an "already there".
// JSON: {"root": ROOT, "created": true|false}.
int RunInit(const Invocation &invocation, const SettingsRequest &) {
    CheckStore(Access::kWrite);
    const std::string doing = std::string("cannot create ") + kRootName;
    Key root;
    root.DiscardUnlessClosed();
    DWORD disposition = 0;
    LONG rc =
        RegCreateKeyExA(HKEY_CURRENT_USER, tovarine::kSettingsRootPath, 0, nullptr,
                        REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, root.out(), &disposition);
    if (rc == ERROR_BADDB || rc == ERROR_REGISTRY_CORRUPT) {
        throw std::runtime_error(RegistryFailure(doing, rc).what() +
                                 std::string("; it was left as it is"));
    }
    if (rc != ERROR_SUCCESS) throw RegistryFailure(doing, rc);
    bool created = disposition == REG_CREATED_NEW_KEY;
    rc = root.Close();
    if (rc == ERROR_ALREADY_EXISTS) {
        created = false;
    } else if (rc != ERROR_SUCCESS) {
        throw RegistryFailure(doing, rc);
    }
    Key made;
    rc = RegOpenKeyExA(HKEY_CURRENT_USER, tovarine::kSettingsRootPath, 0, KEY_READ, made.out());
    if (rc != ERROR_SUCCESS) {
        throw RegistryFailure(std::string(kRootName) + " is not there after its creation", rc);
    }
    if (invocation.json) {
        PutJsonLine(Json{{"root", kRootName}, {"created", created}});
    } else {
        Put(stdout, std::string(created ? "created " : "already there: ") + kRootName + '\n');
    }
    return 0;
}

// Enumerates as the library's calls by name do, with the same buffers and the same rule for
// which keys are instances of NAME, so that each place is the instance selector's number: a
// key whose class does not fit is still listed, and an enumeration that fails is an error, not
// the end of the list.
// JSON: [{"key": KEY}, ...], with NAME [{"place": N, "key": KEY}, ...].
int RunList(const Invocation &invocation, const SettingsRequest &request) {
    const auto &args = request.words;
    Key root;
    OpenRoot(root, KEY_READ, Access::kRead);
    int place = 0;
    Json keys = Json::array();
    auto show = [&](const char *key) {
        if (!args.empty() && !tovarine::IsInstanceKeyOf(key, args[0])) return;
        if (invocation.json) {
            Json entry = Json::object();
            if (!args.empty()) entry["place"] = ++place;
            entry["key"] = key;
            keys.push_back(std::move(entry));
        } else if (args.empty()) {
            Put(stdout, EscapeText(key) + '\n');
        } else {
            Put(stdout, std::to_string(++place) + '\t' + EscapeText(key) + '\n');
        }
    };
#ifdef _WIN32
    // Wide names, as UTF-8: a key name always fits the registry's 255 characters.
    for (const std::string &key : Subkeys(root.get(), kRootName)) show(key.c_str());
#else
    char name[kEnumChars];
    char key_class[kEnumChars];
    FILETIME last_write{};
    LONG stopped_by = ERROR_NO_MORE_ITEMS;
    const DWORD count = tovarine::EnumerateSubkeys(
        root.get(), name, kEnumChars, key_class, kEnumChars, &last_write,
        [&](const char *key) {
            if (key == nullptr) {  // a name longer than the servers read: no instance
                if (args.empty()) {
                    Put(stderr, "tovarine: settings: a key's name is longer than " +
                                    std::to_string(kEnumChars - 1) +
                                    " bytes; no server finds it\n");
                }
                return true;
            }
            show(key);
            return true;
        },
        &stopped_by);
    if (stopped_by != ERROR_NO_MORE_ITEMS) {
        throw RegistryFailure(std::string("cannot list the keys of ") + kRootName + " past key " +
                                  std::to_string(count + 1),
                              stopped_by);
    }
#endif
    if (invocation.json) PutJsonLine(keys);
    return 0;
}

// An instance key directly under the settings root, opened with `rights`.
void OpenInstance(HKEY root, const std::string &name, REGSAM rights, Key &instance) {
    CheckInstanceName(name);
    const LONG rc = OpenSubkey(root, name, rights, instance);
    if (rc == ERROR_FILE_NOT_FOUND) {
        throw std::runtime_error("settings: there is no instance \"" + EscapeText(name) +
                                 "\"; 'tovarine settings list' shows those there are");
    }
    if (rc != ERROR_SUCCESS) throw RegistryFailure("cannot open \"" + EscapeText(name) + "\"", rc);
}

// JSON: {VALUE-NAME: TEXT or DWORD number, ...}.
int RunShow(const Invocation &invocation, const SettingsRequest &request) {
    const auto &args = request.words;
    Key root;
    OpenRoot(root, KEY_READ, Access::kRead);
    Key instance;
    OpenInstance(root.get(), args[0], KEY_QUERY_VALUE, instance);
    std::vector<Output> outputs;
    for (const RawValue &value : Values(instance.get(), '"' + EscapeText(args[0]) + '"')) {
        outputs.push_back({value.name, ValueOf(value.type, value.data)});
    }
    if (invocation.json) {
        WriteJson(stdout, outputs);
    } else {
        WriteText(stdout, outputs);
    }
    return 0;
}

}  // namespace

void AddSettingsCommand(CLI::App &tool, Invocation &invocation) {
    CLI::App *settings = AddCommand(tool, "settings");
    settings->require_subcommand(1);
    AddJsonFlag(*settings, invocation);

    // What the chosen action was given, shared with the callbacks that run after this returns.
    auto request = std::make_shared<SettingsRequest>();
    auto &names = request->words;
    auto action = [&invocation, request](CLI::App *command, SettingsAction run) {
        AddJsonFlag(*command, invocation);
        command->callback([&invocation, request, run] {
            invocation.run = [&invocation, request, run] { return run(invocation, *request); };
        });
    };
    // An action's positional words, described as the tool's words describe them.
    auto words_of = [&names](CLI::App *command, const char *path, const char *argument) {
        return command->add_option(argument, names, words::ArgumentHelp(path, argument));
    };

    action(AddCommand(*settings, "settings init"), RunInit);

    CLI::App *list = AddCommand(*settings, "settings list");
    words_of(list, "settings list", "NAME")->expected(0, 1);
    action(list, RunList);

    CLI::App *show = AddCommand(*settings, "settings show");
    words_of(show, "settings show", "INSTANCE")->required()->expected(1);
    action(show, RunShow);

    CLI::App *export_ = AddCommand(*settings, "settings export");
    words_of(export_, "settings export", "NAME");
    const words::Option &output = words::OptionNamed("--output");
    export_->add_option(output.names, request->output, output.help)->type_name(output.value);
    AddEncodingOption(*export_, *request);
    action(export_, RunExport);

    // What the commands that write share: the listing, --dry-run and --yes.
    auto writer = [&](CLI::App *command, SettingsAction run) {
        AddFlag(*command, "--dry-run", request->dry_run);
        AddFlag(*command, "--yes", request->yes);
        AddEncodingOption(*command, *request);
        action(command, run);
    };
    CLI::App *import = AddCommand(*settings, "settings import");
    words_of(import, "settings import", "FILE")->required()->expected(1);
    writer(import, RunImport);

    CLI::App *set = AddCommand(*settings, "settings set");
    words_of(set, "settings set", "ARGS")->required()->expected(3);
    writer(set, RunSet);

    CLI::App *remove = AddCommand(*settings, "settings delete");
    words_of(remove, "settings delete", "ARGS")->required()->expected(1, 2);
    writer(remove, RunDelete);

    CLI::App *check = AddCommand(*settings, "settings check");
    words_of(check, "settings check", "FILE")->expected(0, 1);
    action(check, RunCheck);

    CLI::App *backup = AddCommand(*settings, "settings backup");
    words_of(backup, "settings backup", "FILE")->required()->expected(1);
    action(backup, RunBackup);

    // An option that takes a value into `target`, described as the tool's words describe it.
    auto option_of = [](CLI::App *command, const char *name, auto &target) {
        const words::Option &option = words::OptionNamed(name);
        return command->add_option(option.names, target, option.help)->type_name(option.value);
    };

    CLI::App *history = AddCommand(*settings, "settings history");
    words_of(history, "settings history", "KEY");
    option_of(history, "--since", request->since);
    option_of(history, "--limit", request->limit);
    option_of(history, "--retain", request->retain)->expected(0, 1);
    action(history, RunHistory);

    CLI::App *revert = AddCommand(*settings, "settings revert");
    words_of(revert, "settings revert", "KEY")->required()->expected(1);
    option_of(revert, "--to", request->to_revision)->required();
    writer(revert, RunRevert);

    CLI::App *compare = AddCommand(*settings, "settings compare");
    words_of(compare, "settings compare", "KEYS")->required()->expected(1, 2);
    AddFlag(*compare, "--all", request->all);
    option_of(compare, "--file", request->file);
    AddEncodingOption(*compare, *request);
    action(compare, RunCompare);

    CLI::App *copy = AddCommand(*settings, "settings copy");
    words_of(copy, "settings copy", "KEYS")->required()->expected(2);
    AddFlag(*copy, "--force", request->force);
    writer(copy, RunCopy);

    CLI::App *restore = AddCommand(*settings, "settings restore");
    words_of(restore, "settings restore", "FILE")->required()->expected(1);
    writer(restore, RunRestore);

    CLI::App *watch = AddCommand(*settings, "settings watch");
    words_of(watch, "settings watch", "NAME");
    option_of(watch, "--count", request->count);
    option_of(watch, "--timeout", request->timeout);
    action(watch, RunWatch);
}

Value ValueOf(DWORD type, const std::vector<BYTE> &data) {
    const auto *chars = reinterpret_cast<const char *>(data.data());
    const size_t bytes = data.size();
    if (type == REG_SZ || type == REG_EXPAND_SZ) {
        return std::string(chars, strnlen(chars, bytes));
    }
    if (type == REG_DWORD && bytes == 4) {
        uint32_t number;
        std::memcpy(&number, data.data(), 4);
        return static_cast<int32_t>(number);
    }
    static constexpr char kHex[] = "0123456789abcdef";
    std::string hex;
    for (const BYTE byte : data) {
        hex += kHex[byte >> 4];
        hex += kHex[byte & 0xf];
    }
    return hex;
}

void CheckInstanceName(const std::string &name) {
    if (name.empty() || name.find('\\') != std::string::npos) {
        throw UsageError("settings: an instance is a key directly under the settings root");
    }
}

void AddEncodingOption(CLI::App &command, SettingsRequest &request) {
    command
        .add_option_function<std::string>(
            "--encoding",
            [&request](const std::string &name) {
                // Encoding names are the same name in either letter case.
                if (tovarine::text::EqualIgnoringCase(name, "utf-8")) {
                    request.encoding = StoreEncoding::kUtf8;
                } else if (tovarine::text::EqualIgnoringCase(name, "windows-1252")) {
                    request.encoding = StoreEncoding::kWindows1252;
                } else {
                    throw CLI::ValidationError("--encoding",
                                               "'" + name + "' is neither utf-8 nor windows-1252");
                }
            },
            words::OptionNamed("--encoding").help)
        ->type_name(words::OptionNamed("--encoding").value);
}

void PutJsonLine(const Json &json) { Put(stdout, DumpJson(json) + '\n'); }

void PutJsonOrText(const Invocation &invocation, const Json &json, const std::string &text) {
    if (invocation.json) {
        PutJsonLine(json);
    } else {
        Put(stdout, text);
    }
}

}  // namespace tovarine_tool
