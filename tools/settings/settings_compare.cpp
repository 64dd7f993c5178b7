// The settings commands that set instance keys side by side and make one like another: compare,
// copy and restore.
//
// compare only reads. copy and restore work out every change first, list it in the library's
// words and write only after a Yes (or --yes), as import does; on POSIX all of a command's
// changes are one transaction of the store.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "command_line.h"
#include "library_internals.h"
#include "reg_file.h"
#include "registry_access.h"
#include "report.h"
#include "settings_command.h"
#include "settings_text.h"

#ifndef _WIN32
#include <unistd.h>
#endif

namespace tovarine_tool {
namespace {

// The first 16 bytes of every SQLite database, and so of every store file.
constexpr std::string_view kStoreFileHeader("SQLite format 3\0", 16);

// A name as the registry compares names: ASCII letters in either case are the same.
std::string Folded(std::string_view name) { return tovarine::text::AsciiUpper(name); }

std::runtime_error NoInstance(const std::string &name, const std::string &file) {
    if (!file.empty()) {
        return std::runtime_error("settings: there is no instance " + Quote(name) + " in " +
                                  EscapeText(file));
    }
    return std::runtime_error("settings: there is no instance " + Quote(name) +
                              "; 'tovarine settings list' shows those there are");
}

// The change that makes `current` (nullopt: there is none) hold exactly `wanted`'s values:
// ChangeTo's, and a deletion for every value `current` holds beyond them, in its order.
KeyChange MakeEqual(std::optional<RegKey> current, RegKey wanted) {
    std::unordered_set<std::string> kept;
    kept.reserve(wanted.values.size());
    for (const RegValue &value : wanted.values) kept.insert(Folded(value.name));
    std::vector<ValueChange> deleted;
    if (current) {
        for (const RegValue &value : current->values) {
            if (kept.count(Folded(value.name)) == 0) {
                deleted.push_back({value.name, value.text, std::nullopt});
            }
        }
    }
    KeyChange change = ChangeTo(std::move(current), std::move(wanted));
    for (ValueChange &value : deleted) change.values.push_back(std::move(value));
    return change;
}

bool Changes(const KeyChange &change) { return !change.exists || !change.values.empty(); }

#ifndef _WIN32
// Every key below the settings root of the store file `file` with its values as text, read as
// the live store's keys are read: a text ends at its first NUL, a value of another type than
// REG_SZ is refused, and so is a name that is not valid in `encoding`.
std::vector<RegKey> ReadStoreFileKeys(const std::string &file, StoreEncoding encoding,
                                      const std::string &outcome) {
    std::vector<tovarine::registry::FileKey> stored;
    const LONG rc = tovarine::registry::ReadStoreFileInstances(file, &stored);
    if (rc == ERROR_FILE_NOT_FOUND) {
        throw std::runtime_error("settings: there is no store file " + EscapeText(file) + "; " +
                                 outcome);
    }
    if (rc == ERROR_BADDB) {
        throw std::runtime_error("settings: " + EscapeText(file) + " is no settings store; " +
                                 outcome);
    }
    if (rc == ERROR_REGISTRY_CORRUPT) {
        throw std::runtime_error("settings: the store file " + EscapeText(file) +
                                 " is damaged (error 1015; 'tovarine settings check " +
                                 EscapeText(file) + "' tells more); " + outcome);
    }
    if (rc != ERROR_SUCCESS) {
        throw std::runtime_error("settings: cannot read the store file " + EscapeText(file) +
                                 " (error " + std::to_string(rc) + "); " + outcome);
    }
    const std::string in = " in " + EscapeText(file);
    std::vector<RegKey> keys;
    keys.reserve(stored.size());
    for (tovarine::registry::FileKey &raw : stored) {
        RegKey key{
            FromStore(raw.name, encoding, "the key " + Quote(raw.name) + in, outcome), {}, 0};
        // The root's subkeys have plain names; a file that says otherwise is not followed into
        // keys elsewhere.
        if (key.name.empty() || key.name.find('\\') != std::string::npos) {
            throw std::runtime_error("settings: the key " + Quote(key.name) + in +
                                     " is no instance key; " + outcome);
        }
        key.values.reserve(raw.values.size());
        for (tovarine::registry::FileValue &value : raw.values) {
            const std::string what = "the value " + Quote(value.name) + " of " + Quote(key.name);
            if (value.value.type != REG_SZ) {
                throw std::runtime_error("settings: " + what + in + " is not text (type " +
                                         std::to_string(value.value.type) + "); " + outcome);
            }
            std::string_view text(reinterpret_cast<const char *>(value.value.data.data()),
                                  value.value.data.size());
            text = text.substr(0, text.find('\0'));
            key.values.push_back(
                {FromStore(value.name, encoding, "the name of " + what + in, outcome),
                 FromStore(text, encoding, what + in, outcome), 0});
            value = {};
        }
        keys.push_back(std::move(key));
        raw = {};
    }
    return keys;
}
#endif

// The key `name` of the file `path`: a .reg file, or (POSIX) a store file such as a backup,
// told apart by the store's header. nullopt when the file holds no key of that name.
std::optional<RegKey> ReadFileKey(const std::string &path, const std::string &name,
                                  StoreEncoding encoding) {
    const std::string outcome = "nothing was compared";
    std::FILE *file = OpenFile(path, "rb");
    if (file == nullptr) {
        throw std::runtime_error("settings: cannot open " + EscapeText(path) + ": " +
                                 std::strerror(errno));
    }
    std::string bytes(kStoreFileHeader.size(), '\0');
    bytes.resize(std::fread(bytes.data(), 1, bytes.size(), file));
    bool failed = std::ferror(file) != 0;
    const bool store = !failed && bytes == kStoreFileHeader;
    if (!failed && !store) {
        failed = !ReadPieces(file, [&](std::string_view piece) {
            bytes.append(piece);
            return bytes.size() <= kMaxRegFileBytes;  // a larger file is refused as it is read
        });
    }
    std::fclose(file);
    if (failed) throw std::runtime_error("settings: cannot read " + EscapeText(path));
    std::vector<RegKey> keys;
    if (store) {
#ifdef _WIN32
        (void)encoding;
        throw std::runtime_error("settings: " + EscapeText(path) +
                                 " is a store file, which only the POSIX tool reads; compare "
                                 "with a .reg file that settings export wrote");
#else
        keys = ReadStoreFileKeys(path, encoding, outcome);
#endif
    } else {
        RegFile reg = ReadRegFile(bytes);
        if (!reg.refusals.empty()) {
            std::string message = "settings: " + EscapeText(path) + " was not read, " + outcome;
            for (const std::string &refusal : reg.refusals) message += "; " + refusal;
            throw std::runtime_error(message);
        }
        keys = MergeKeys(std::move(reg.keys));
    }
    for (RegKey &key : keys) {
        if (tovarine::text::EqualIgnoringCase(key.name, name)) return std::move(key);
    }
    return std::nullopt;
}

// One line of the comparison: the value of that name on either side, nullopt where it lacks it,
// and each side's spelling of the name (`name` A's where A holds it).
struct Difference {
    std::string name, b_name;
    std::optional<std::string> a, b;
};

// A's values in A's order, each with B's of the same name, then B's others in B's order; equal
// ones only when `all`.
std::vector<Difference> Compare(RegKey a, RegKey b, bool all) {
    std::unordered_map<std::string, size_t> in_b;
    in_b.reserve(b.values.size());
    for (size_t i = 0; i < b.values.size(); ++i) in_b.emplace(Folded(b.values[i].name), i);
    std::vector<bool> matched(b.values.size(), false);
    std::vector<Difference> lines;
    for (RegValue &value : a.values) {
        Difference line{std::move(value.name), {}, std::move(value.text), std::nullopt};
        if (const auto found = in_b.find(Folded(line.name)); found != in_b.end()) {
            matched[found->second] = true;
            line.b_name = b.values[found->second].name;
            line.b = b.values[found->second].text;
        }
        if (all || line.a != line.b) lines.push_back(std::move(line));
    }
    for (size_t i = 0; i < b.values.size(); ++i) {
        if (!matched[i]) {
            lines.push_back({b.values[i].name, std::move(b.values[i].name), std::nullopt,
                             std::move(b.values[i].text)});
        }
    }
    return lines;
}

}  // namespace

// Reads A from the live store and B from it or, with --file, from a .reg or store file, and
// lists what differs: "< NAME TEXT" (A's) and "> NAME TEXT" (B's) for a value that differs or
// that one side lacks, with --all "= NAME TEXT" for an equal one. Exit status 0 when the two
// hold the same values, 2 when not, 1 when they could not be compared (a bad name included, so
// that 2 always means "different").
// JSON: [{"name": NAME, "a": TEXT|null, "b": TEXT|null}, ...].
int RunCompare(const Invocation &invocation, const SettingsRequest &request) {
    const std::string &a_name = request.words.at(0);
    const std::string &b_name = request.words.size() > 1 ? request.words[1] : a_name;
    if (request.words.size() < 2 && request.file.empty()) {
        throw std::runtime_error(
            "settings compare: name the instance key B to compare " + Quote(a_name) +
            " with, or give --file FILE to compare it with the key of that name in FILE");
    }
    try {
        CheckInstanceName(a_name);
        CheckInstanceName(b_name);
    } catch (const UsageError &error) {
        throw std::runtime_error(error.what());
    }
    const std::string outcome = "nothing was compared";
    Key root;
    OpenRoot(root, KEY_READ, Access::kRead);
    std::optional<RegKey> a = ReadInstance(root.get(), a_name, request.encoding, outcome);
    if (!a) throw NoInstance(a_name, "");
    std::optional<RegKey> b = request.file.empty()
                                  ? ReadInstance(root.get(), b_name, request.encoding, outcome)
                                  : ReadFileKey(request.file, b_name, request.encoding);
    if (!b) throw NoInstance(b_name, request.file);
    root.Close();

    const std::vector<Difference> lines = Compare(std::move(*a), std::move(*b), request.all);
    bool differ = false;
    if (invocation.json) {
        Json json = Json::array();
        for (const Difference &line : lines) {
            differ = differ || line.a != line.b;
            json.push_back(Json{{"name", line.name},
                                {"a", line.a ? Json(*line.a) : Json(nullptr)},
                                {"b", line.b ? Json(*line.b) : Json(nullptr)}});
        }
        PutJsonLine(json);
    } else {
        std::string text;
        const auto put = [&](char side, const std::string &name, const std::string &value) {
            text += side;
            text += ' ' + EscapeText(name) + ' ' + EscapeText(value) + '\n';
        };
        for (const Difference &line : lines) {
            if (line.a == line.b) {
                put('=', line.name, *line.a);
                continue;
            }
            differ = true;
            if (line.a) put('<', line.name, *line.a);
            if (line.b) put('>', line.b_name, *line.b);
        }
        Put(stdout, text);
    }
    return differ ? 2 : 0;
}

// Makes DST, a new key in instance form directly under the root, with every value of SRC; with
// --force an existing DST is made equal to SRC (values changed, added and deleted). Listed,
// asked and written as import's changes are.
// JSON: ConfirmAndApply's {"changes": [...], "written": BOOL}.
int RunCopy(const Invocation &invocation, const SettingsRequest &request) {
    const std::string &source = request.words.at(0), &target = request.words.at(1);
    CheckInstanceName(source);
    CheckInstanceName(target);
    if (!InInstanceForm(target)) {
        throw UsageError("settings copy: DST is an instance key \"NAME n\", n a number");
    }
    const std::string outcome = "nothing was written";
    Key root;
    OpenRoot(root, KEY_READ | KEY_WRITE, Access::kWrite);
    std::optional<RegKey> from = ReadInstance(root.get(), source, request.encoding, outcome);
    if (!from) throw NoInstance(source, "");
    std::optional<RegKey> to = ReadInstance(root.get(), target, request.encoding, outcome);
    if (to && !request.force) {
        throw std::runtime_error("settings: " + Quote(target) +
                                 " is there already; give --force to make it equal to " +
                                 Quote(source) + "; " + outcome);
    }
    KeyChange change = MakeEqual(std::move(to), RegKey{target, std::move(from->values), 0});
    std::vector<KeyChange> changes;
    if (Changes(change)) changes.push_back(std::move(change));
    return ConfirmAndApply(invocation, request, root.get(), changes);
}

// Puts a backup's instance keys back into the live store: the backup is checked whole first,
// then every key it holds is made to hold exactly its values (a key the live store lacks is
// made again); keys only the live store holds are kept. Listed and asked as import's changes,
// and on POSIX written as one transaction, so servers see all of it or none. Windows has no
// store files: the command says so.
// JSON: ConfirmAndApply's {"changes": [...], "written": BOOL}.
int RunRestore(const Invocation &invocation, const SettingsRequest &request) {
    const std::string &file = request.words.at(0);
#ifdef _WIN32
    (void)invocation;
    throw std::runtime_error("settings restore: Windows has no store files to restore " +
                             EscapeText(file) +
                             " from; 'tovarine settings import' of an exported .reg file does it");
#else
    const std::string outcome = "nothing was written";
    if (access(file.c_str(), F_OK) != 0) {
        throw std::runtime_error("settings: cannot restore from " + EscapeText(file) + ": " +
                                 std::strerror(errno));
    }
    tovarine::registry::StoreCheck check;
    const LONG rc = tovarine::registry::CheckStore(file, &check);
    if (rc != ERROR_SUCCESS || !check.problems.empty()) {
        std::string message = "settings: the backup " + EscapeText(file) + " is not sound";
        if (check.problems.empty()) message += " (error " + std::to_string(rc) + ")";
        for (const std::string &problem : check.problems) message += "; " + EscapeText(problem);
        throw std::runtime_error(message + "; " + outcome);
    }
    std::vector<RegKey> keys = ReadStoreFileKeys(file, request.encoding, outcome);
    Key root;
    OpenRoot(root, KEY_READ | KEY_WRITE, Access::kWrite);
    std::vector<KeyChange> changes;
    for (RegKey &key : keys) {
        std::optional<RegKey> current =
            ReadInstance(root.get(), key.name, request.encoding, outcome);
        KeyChange change = MakeEqual(std::move(current), std::move(key));
        if (Changes(change)) changes.push_back(std::move(change));
    }
    return ConfirmAndApply(invocation, request, root.get(), changes);
#endif
}

}  // namespace tovarine_tool
