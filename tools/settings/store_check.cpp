// The settings commands that look the store itself over and copy it: check and backup. On
// Windows the settings are in the registry, whose files are Windows' own: check looks at the
// keys alone, and backup points to export.
#include <cerrno>
#include <cstring>
#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <string>

#include "library_internals.h"
#include "registry_access.h"
#include "report.h"
#include "settings_command.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace tovarine_tool {
namespace {

// The keys of the settings root not in instance form, as lines after `text` and as JSON.
Json StrayKeys(std::string &text) {
    Key root;
    OpenRoot(root, KEY_READ, Access::kRead);
    Json strays = Json::array();
    text += "keys not in instance form (\"NAME n\"):";
    for (const std::string &name : Subkeys(root.get(), tovarine::kSettingsRootFullName)) {
        if (tovarine::InInstanceForm(name)) continue;
        strays.push_back(name);
        text += "\n  " + EscapeText(name);
    }
    if (strays.empty()) text += " none";
    text += '\n';
    return strays;
}

#ifndef _WIN32
// The size of the file `path`; nullopt when there is none or it cannot be looked at.
std::optional<off_t> SizeOf(const std::string &path) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) return std::nullopt;
    return info.st_size;
}

// Whether the store file `file` alone holds every change, in words that say only what is known:
// the check's answer when it read the store through (its journal mode known), with the log
// that holds what the file lacks; when it could not, what the files beside the store show.
std::string SelfContainedText(const std::string &file,
                              const tovarine::registry::StoreCheck &check) {
    const std::string wal = file + "-wal", journal = file + "-journal";
    const auto holds = [](const std::string &log) {
        const std::optional<off_t> size = SizeOf(log);
        return size && *size > 0;
    };
    if (!check.journal.empty()) {
        if (check.self_contained) return "yes";
        const std::string copy =
            "; copy both files, or take a copy with 'tovarine settings backup'";
        if (check.journal == "wal" && holds(wal)) {
            return "no: its write-ahead log " + EscapeText(wal) +
                   " holds changes not yet in the file" + copy;
        }
        if (check.journal != "wal" && holds(journal)) {
            return "no: its journal " + EscapeText(journal) +
                   " is not empty (a write may have been left unfinished)" + copy;
        }
        return "no: whether " + EscapeText(check.journal == "wal" ? wal : journal) +
               " holds changes could not be read";
    }
    std::string text = "unknown (the store could not be read)";
    bool beside = false;
    for (const std::string &log : {wal, journal}) {
        if (!holds(log)) continue;
        beside = true;
        text += "; " + EscapeText(log) + " beside it holds " + std::to_string(*SizeOf(log)) +
                " bytes: keep it with the file";
    }
    if (!beside) text += "; no log or journal beside it holds anything";
    return text;
}
#endif

}  // namespace

// "check [FILE]": the live store, or a store file such as a backup. JSON: {"store": PATH,
// "integrity": ["ok"] or the problems, "self_contained": BOOL, "journal": MODE,
// "not_instance_form": [KEY, ...]}; for a FILE the keys are not looked at and
// "not_instance_form" is absent. Exit status 1 when the store has problems.
int RunCheck(const Invocation &invocation, const SettingsRequest &request) {
    Json report = Json::object();
    std::string text;
#ifdef _WIN32
    if (!request.words.empty()) {
        throw std::runtime_error(
            "settings check: a store file is checked on POSIX only; on Windows the settings are "
            "in the registry");
    }
    report["store"] = "the registry";
    text += "store: the registry (the integrity of its files is Windows' own)\n";
    report["not_instance_form"] = StrayKeys(text);
    PutJsonOrText(invocation, report, text);
    return 0;
#else
    const bool live = request.words.empty();
    std::string file;
    std::string keys_text;
    Json strays;
    std::optional<std::runtime_error> unreadable;
    if (live) {
        CheckStore(Access::kRead);
        file = tovarine::registry::StoreFile();
        try {
            strays = StrayKeys(keys_text);
        } catch (const std::runtime_error &error) {
            unreadable = error;  // told below, unless the integrity check says more
        }
        // This process lets go of the store: when no server has it open, closing the last
        // connection copies the write-ahead log into the file, and the file is then whole.
        tovarine::registry::CloseStore();
    } else {
        file = request.words[0];
        if (access(file.c_str(), F_OK) != 0) {
            throw std::runtime_error("settings: cannot check " + file + ": " +
                                     std::strerror(errno));
        }
    }
    tovarine::registry::StoreCheck check;
    tovarine::registry::CheckStore(file, &check);
    Json integrity = Json::array();
    if (check.problems.empty()) integrity.push_back("ok");
    for (const std::string &problem : check.problems) integrity.push_back(problem);
    const bool sound = check.problems.empty();
    if (sound && unreadable) throw *unreadable;
    report["store"] = file;
    report["integrity"] = integrity;
    report["self_contained"] = check.self_contained;
    report["journal"] = check.journal;
    text += "store: " + EscapeText(file) + "\nintegrity: ";
    for (size_t i = 0; i < integrity.size(); ++i) {
        text += (i ? "\n  " : "") + EscapeText(integrity[i].get<std::string>());
    }
    text += "\nself-contained: " + SelfContainedText(file, check) + "\njournal: " +
            (check.journal.empty() ? "unknown (the store could not be read)"
                                   : EscapeText(check.journal)) +
            '\n';
    if (live && sound) {
        text += keys_text;
        report["not_instance_form"] = strays;
    }
    PutJsonOrText(invocation, report, text);
    return sound ? 0 : 1;
#endif
}

// "backup FILE": a consistent copy of the store, taken while servers use it. JSON: {"store":
// PATH, "backup": FILE}.
int RunBackup(const Invocation &invocation, const SettingsRequest &request) {
    const std::string &destination = request.words.at(0);
#ifdef _WIN32
    (void)invocation;
    throw std::runtime_error(
        "settings backup: copies the POSIX settings store; on Windows, "
        "keep the settings with 'tovarine settings export -o " +
        destination + "'");
#else
    CheckStore(Access::kRead);
    const std::string store = tovarine::registry::StoreFile();
    const LONG rc = tovarine::registry::BackupStore(destination);
    if (rc == ERROR_INVALID_PARAMETER) {
        throw std::runtime_error("settings: " + destination +
                                 " is the settings store itself; name another file");
    }
    if (rc == ERROR_ALREADY_EXISTS) {
        throw std::runtime_error("settings: " + destination +
                                 " has a journal or write-ahead log of another database beside "
                                 "it; remove it, or name another file");
    }
    if (rc == ERROR_CANTWRITE) {
        throw std::runtime_error("settings: cannot write the backup " + destination +
                                 " (error 1013); nothing was left there");
    }
    if (rc != ERROR_SUCCESS) throw RegistryFailure("cannot back up to " + destination, rc);
    PutJsonOrText(invocation, Json{{"store", store}, {"backup", destination}},
                  "backed up " + EscapeText(store) + " to " + EscapeText(destination) + '\n');
    return 0;
#endif
}

}  // namespace tovarine_tool
