// The settings commands' shared parts: what the command line gave an action, and the actions
// that live in their own files.
#pragma once

#include <string>
#include <vector>

#include "command.h"
#include "report.h"
#include "text_encoding.h"

namespace CLI {
class App;
}

namespace tovarine_tool {

// What "settings ACTION ..." was given beyond --json.
struct SettingsRequest {
    std::vector<std::string> words;  // the action's words: NAMEs, an instance, a file
    std::string output;              // -o FILE; empty: standard output
    StoreEncoding encoding = StoreEncoding::kUtf8;
    bool dry_run = false;
    bool yes = false;
};

using SettingsAction = int (*)(const Invocation &, const SettingsRequest &);

// Throws a UsageError unless `name` can name an instance key: a key directly under the settings
// root, so neither empty nor holding a backslash.
void CheckInstanceName(const std::string &name);

// Adds "--encoding" (the store's text encoding, POSIX only) to `command`.
void AddEncodingOption(CLI::App &command, SettingsRequest &request);

// One JSON value on one line of standard output.
void PutJsonLine(const Json &json);

// `json` with --json, else `text`.
void PutJsonOrText(const Invocation &invocation, const Json &json, const std::string &text);

// "export [NAME...] [-o FILE]": instance keys as a .reg file.
int RunExport(const Invocation &invocation, const SettingsRequest &request);

// "import FILE": a .reg file's string values into the instance keys.
int RunImport(const Invocation &invocation, const SettingsRequest &request);

// "set INSTANCE VALUE-NAME TEXT" and "delete INSTANCE [VALUE-NAME]".
int RunSet(const Invocation &invocation, const SettingsRequest &request);
int RunDelete(const Invocation &invocation, const SettingsRequest &request);

// "check [FILE]": the store's (or a store file's) path, integrity and self-containment, and
// the live store's keys not in instance form.
int RunCheck(const Invocation &invocation, const SettingsRequest &request);

// "backup FILE": a consistent copy of the live store (POSIX).
int RunBackup(const Invocation &invocation, const SettingsRequest &request);

}  // namespace tovarine_tool
