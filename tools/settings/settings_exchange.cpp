// The settings commands that move and edit instance keys as text: export, import, set and
// delete.
//
// import, set and delete first work out every change, list it in the library's own words
// ("port changing from 80 to 8080", "title will be  lobby") per instance key, and write only
// after a Yes on the terminal (or --yes); --dry-run lists and writes nothing.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "command_line.h"
#include "library_internals.h"
#include "reg_file.h"
#include "registry_access.h"
#include "report.h"
#include "settings_command.h"
#include "settings_text.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#endif

namespace tovarine_tool {
namespace {

// Registry names are the same name when they differ only in the case of ASCII letters.
bool SameName(std::string_view a, std::string_view b) {
    return tovarine::text::EqualIgnoringCase(a, b);
}

// Reads a whole file in binary, at most kMaxRegFileBytes + 1 bytes (more is refused anyway).
std::string ReadFile(const std::string &path) {
    std::FILE *file = path == "-" ? stdin : OpenFile(path, "rb");
    if (file == nullptr) {
        throw std::runtime_error("settings: cannot open " + path + ": " + std::strerror(errno));
    }
#ifdef _WIN32
    if (file == stdin) _setmode(_fileno(stdin), _O_BINARY);
#endif
    std::string bytes;
#ifndef _WIN32
    // Read into room of the file's size: a large file is not copied over as the text grows.
    struct stat info {};
    if (fstat(fileno(file), &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0) {
        bytes.reserve(std::min<size_t>(static_cast<size_t>(info.st_size), kMaxRegFileBytes + 1));
    }
#endif
    const bool failed = !ReadPieces(file, [&](std::string_view piece) {
        bytes.append(piece);
        return bytes.size() <= kMaxRegFileBytes;
    });
    if (file != stdin) std::fclose(file);
    if (failed) throw std::runtime_error("settings: cannot read " + path);
    return bytes;
}

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
#ifdef _WIN32
    std::FILE *file = OpenFile(path, "wb");
    if (file == nullptr) {
        throw std::runtime_error("settings: cannot create " + path + ": " + std::strerror(errno));
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    if (std::fclose(file) != 0 || !written) {
        throw std::runtime_error("settings: cannot write " + path);
    }
#else
    // A copy of settings is readable by no more users than the store: a new file is made with
    // the store's permission bits (less the umask), and a file written over loses those bits it
    // has beyond them before anything is written into it. Other files (a terminal, a pipe) are
    // written as they are.
    const mode_t copy_mode = tovarine::registry::StoreCopyMode();
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, copy_mode);
    if (fd < 0) {
        throw std::runtime_error("settings: cannot create " + path + ": " + std::strerror(errno));
    }
    std::string failure;  // the first failure, with the system's words for it
    const auto fail = [&](const std::string &what, const std::string &after = "") {
        if (failure.empty()) failure = "settings: " + what + ": " + std::strerror(errno) + after;
    };
    struct stat info {};
    if (fstat(fd, &info) != 0) {
        fail("cannot write " + path);
    } else if (S_ISREG(info.st_mode)) {
        const mode_t wider = info.st_mode & 0777 & ~copy_mode;
        char mode[16];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(copy_mode & 0777));
        if (wider != 0 && fchmod(fd, info.st_mode & 07777 & ~wider) != 0) {
            fail("cannot narrow the permissions of " + path + " to the settings store's (" + mode +
                     ")",
                 "; it was left as it was");
        } else if (ftruncate(fd, 0) != 0) {
            fail("cannot write " + path);
        }
    }
    for (size_t done = 0; failure.empty() && done < bytes.size();) {
        const ssize_t wrote = write(fd, bytes.data() + done, bytes.size() - done);
        if (wrote > 0) {
            done += static_cast<size_t>(wrote);
        } else if (wrote == 0 || errno != EINTR) {
            if (wrote == 0) errno = EIO;
            fail("cannot write " + path);
        }
    }
    if (close(fd) != 0) fail("cannot write " + path);
    if (!failure.empty()) throw std::runtime_error(failure);
#endif
}

// Prints the change list, per instance key, in the library's words: "NAME changing from OLD to
// NEW", "NAME will be  TEXT" for a value the key lacks. Everything is escaped as output lines
// are. Printed as it is made, a piece at a time: a long list is not held whole.
void PutChanges(const std::vector<KeyChange> &changes) {
    std::string text;
    const auto put = [&](size_t over) {
        if (text.size() < over) return;
        Put(stdout, text);
        text.clear();
    };
    for (const KeyChange &change : changes) {
        text += Quote(change.key);
        if (change.remove) {
            text += " will be deleted with its " + std::to_string(change.values.size()) +
                    (change.values.size() == 1 ? " value" : " values");
        } else if (!change.exists) {
            text += " (a new instance key)";
        }
        text += ":\n";
        for (const ValueChange &value : change.values) {
            text += "  " + EscapeText(value.name) + ' ';
            if (change.remove || !value.after) {
                text += "deleted, was " + EscapeText(value.before.value_or(""));
            } else if (value.before) {
                text += "changing from " + EscapeText(*value.before) + " to " +
                        EscapeText(*value.after);
            } else {
                text += std::string(IDS_WILL_BE_TEXT) + ' ' + EscapeText(*value.after);
            }
            text += '\n';
            put(size_t{1} << 16);
        }
    }
    put(0);
}

// Prints {"changes": [...], "written": BOOL} as one line, as DumpJson would print it whole, but
// a value at a time: a long change list is not held as JSON.
void PutChangesJson(const std::vector<KeyChange> &changes, bool written) {
    std::string text = "{\"changes\":[";
    const auto put = [&](size_t over) {
        if (text.size() < over) return;
        Put(stdout, text);
        text.clear();
    };
    for (size_t k = 0; k < changes.size(); ++k) {
        const KeyChange &change = changes[k];
        text += (k ? ",{\"key\":" : "{\"key\":") + DumpJson(change.key) +
                ",\"new\":" + (change.exists ? "false" : "true") +
                ",\"deleted\":" + (change.remove ? "true" : "false") + ",\"values\":[";
        for (size_t v = 0; v < change.values.size(); ++v) {
            const ValueChange &value = change.values[v];
            if (v) text += ',';
            text += DumpJson(
                Json{{"name", value.name},
                     {"from", value.before ? Json(*value.before) : Json(nullptr)},
                     {"to", value.after && !change.remove ? Json(*value.after) : Json(nullptr)}});
            put(size_t{1} << 16);
        }
        text += "]}";
    }
    text += std::string("],\"written\":") + (written ? "true" : "false") + "}\n";
    put(0);
}

// Asks on the terminal whether to write. nullopt when there is no terminal to ask on.
std::optional<bool> AskOnTerminal() {
    static constexpr char kQuestion[] = "Write these changes? [y/N] ";
#ifdef _WIN32
    std::FILE *in = std::fopen("CONIN$", "r");
    std::FILE *out = std::fopen("CONOUT$", "w");
    if (in == nullptr || out == nullptr) {
        if (in) std::fclose(in);
        if (out) std::fclose(out);
        return std::nullopt;
    }
    std::fputs(kQuestion, out);
    std::fflush(out);
    char line[64] = {};
    const bool got = std::fgets(line, sizeof line, in) != nullptr;
    std::fclose(in);
    std::fclose(out);
    return got && (line[0] == 'y' || line[0] == 'Y');
#else
    const int tty = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (tty < 0) return std::nullopt;
    // The library's question on the terminal: a line beginning with "y" or "Y" is Yes.
    const bool yes =
        tovarine::terminal::AskYesNo(tty, kQuestion) == tovarine::terminal::Answer::kYes;
    close(tty);
    return yes;
#endif
}

}  // namespace

int ConfirmAndApply(const Invocation &invocation, const SettingsRequest &request, HKEY root,
                    const std::vector<KeyChange> &changes) {
    CheckWritable(changes, request.encoding);
    bool written = false;
    auto report = [&](const char *outcome) {
        if (invocation.json) {
            PutChangesJson(changes, written);
        } else if (outcome != nullptr) {
            Put(stdout, std::string(outcome) + '\n');
        }
    };
    if (!invocation.json) PutChanges(changes);
    if (changes.empty()) {
        report("nothing to change");
        return 0;
    }
    if (request.dry_run) {
        report("dry run: nothing was written");
        return 0;
    }
    if (!request.yes) {
        std::fflush(stdout);
        const std::optional<bool> yes = AskOnTerminal();
        if (!yes) {
            report(nullptr);
            throw std::runtime_error(
                "settings: nothing was written: there is no terminal to confirm the changes on; "
                "give --yes to write them without asking");
        }
        if (!*yes) {
            report("nothing was written");
            return 1;
        }
    }
    ApplyChanges(root, changes, request.encoding);
    written = true;
    report("written");
    return 0;
}

namespace {

// The changes that make the registry hold `keys`' values: values that differ or are missing;
// values the registry has beyond them are kept. A key named twice takes both lists, the later
// text of a value winning (MergeKeys).
std::vector<KeyChange> PlanImport(HKEY root, std::vector<RegKey> keys, StoreEncoding encoding) {
    std::vector<KeyChange> changes;
    for (RegKey &key : MergeKeys(std::move(keys))) {
        std::optional<RegKey> current =
            ReadInstance(root, key.name, encoding, "nothing was written");
        KeyChange change = ChangeTo(std::move(current), std::move(key));
        if (!change.exists || !change.values.empty()) changes.push_back(std::move(change));
    }
    return changes;
}

}  // namespace

// JSON: [{"key": KEY, "values": {NAME: TEXT, ...}}, ...].
int RunExport(const Invocation &invocation, const SettingsRequest &request) {
    Key root;
    OpenRoot(root, KEY_READ, Access::kRead);
    const std::vector<RegKey> keys =
        ReadInstances(root.get(), request.words, request.encoding, "nothing was exported");
    for (const RegKey &key : keys) {
        std::string culprit;
        if (!WritableInReg(key.name)) culprit = "the key " + Quote(key.name);
        for (const RegValue &value : key.values) {
            if (culprit.empty() && (!WritableInReg(value.name) || !WritableInReg(value.text))) {
                culprit = "the value " + Quote(value.name) + " of " + Quote(key.name);
            }
        }
        if (!culprit.empty()) {
            throw std::runtime_error("settings: " + culprit +
                                     " holds a line end, which a .reg line cannot; nothing was "
                                     "exported");
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

// JSON (import, set, delete): {"changes": [{"key": KEY, "new": BOOL, "deleted": BOOL,
// "values": [{"name": NAME, "from": TEXT|null, "to": TEXT|null}]}], "written": BOOL}.
int RunImport(const Invocation &invocation, const SettingsRequest &request) {
    const std::string &path = request.words.at(0);
    RegFile file = ReadRegFile(ReadFile(path));
    if (!file.refusals.empty()) {
        std::string message = "settings: " + path + " was not imported, nothing was written:";
        for (const std::string &refusal : file.refusals) message += "\n  " + refusal;
        std::fprintf(stderr, "tovarine: %s\n", message.c_str());
        return 1;
    }
    Key root;
    OpenRoot(root, KEY_READ | KEY_WRITE, Access::kWrite);
    return ConfirmAndApply(invocation, request, root.get(),
                           PlanImport(root.get(), std::move(file.keys), request.encoding));
}

namespace {

// What `set` and `delete` start from: the instance key named first, its name checked, read
// below the settings root, which is opened for writing into `root`; empty when there is none.
std::optional<RegKey> ReadNamedInstance(const SettingsRequest &request, Key &root) {
    const std::string &instance = request.words.at(0);
    CheckInstanceName(instance);
    OpenRoot(root, KEY_READ | KEY_WRITE, Access::kWrite);
    return ReadInstance(root.get(), instance, request.encoding, "nothing was written");
}

}  // namespace

int RunSet(const Invocation &invocation, const SettingsRequest &request) {
    const std::string &instance = request.words.at(0);
    Key root;
    const std::optional<RegKey> current = ReadNamedInstance(request, root);
    if (!current && !InInstanceForm(instance)) {
        throw UsageError("settings set: a new instance key is named \"NAME n\", n a number");
    }
    const RegKey wanted{instance, {{request.words.at(1), request.words.at(2), 0}}, 0};
    return ConfirmAndApply(invocation, request, root.get(),
                           PlanImport(root.get(), {wanted}, request.encoding));
}

int RunDelete(const Invocation &invocation, const SettingsRequest &request) {
    const std::string &instance = request.words.at(0);
    Key root;
    const std::optional<RegKey> current = ReadNamedInstance(request, root);
    if (!current) {
        throw std::runtime_error("settings: there is no instance " + Quote(instance) +
                                 "; 'tovarine settings list' shows those there are");
    }
    KeyChange change{current->name, true, request.words.size() < 2, {}};
    for (const RegValue &value : current->values) {
        if (change.remove || SameName(value.name, request.words[1])) {
            change.values.push_back({value.name, value.text, std::nullopt});
        }
    }
    if (!change.remove && change.values.empty()) {
        throw std::runtime_error("settings: " + Quote(instance) + " has no value " +
                                 Quote(request.words[1]));
    }
    return ConfirmAndApply(invocation, request, root.get(), {change});
}

}  // namespace tovarine_tool
