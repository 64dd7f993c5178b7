// The settings commands' shared parts: what the command line gave an action, and the actions
// that live in their own files.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "command.h"
#include "library_internals.h"
#include "reg_file.h"
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
    bool force = false;                  // copy: --force, an existing DST is overwritten
    bool all = false;                    // compare: --all, equal values too
    std::string file;                    // compare: --file FILE, B from a .reg or store file
    std::optional<int64_t> to_revision;  // revert: --to REVISION
    std::string since;                   // history: --since TIME
    std::optional<int64_t> limit;        // history: --limit N
    std::optional<std::string> retain;   // history: --retain [CHANGES[:DAYS]] ("" shows)
    std::optional<int64_t> count;        // watch: --count N
    std::optional<double> timeout;       // watch: --timeout SECONDS
};

using SettingsAction = int (*)(const Invocation &, const SettingsRequest &);

// A value as the tool prints it: text up to its NUL, a DWORD in decimal, anything else as
// lowercase hex digits.
Value ValueOf(DWORD type, const std::vector<BYTE> &data);

// Lists `changes` in the library's words (with --json as {"changes", "written"}), asks unless
// --yes or --dry-run, and writes them (ApplyChanges). Exit status: 0 when written (or nothing to
// write, or a dry run), 1 when not written.
int ConfirmAndApply(const Invocation &invocation, const SettingsRequest &request, HKEY root,
                    const std::vector<KeyChange> &changes);

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

// "history [KEY | NAME ...]": the store's recorded changes, newest first (POSIX).
int RunHistory(const Invocation &invocation, const SettingsRequest &request);

// "revert KEY --to REVISION": a key's values as they were right after REVISION (POSIX).
int RunRevert(const Invocation &invocation, const SettingsRequest &request);

// "watch [NAME ...]": each change as it is committed.
int RunWatch(const Invocation &invocation, const SettingsRequest &request);

// "compare A [B]": two instance keys, or one and a file's; exit status 0, 2 or 1.
int RunCompare(const Invocation &invocation, const SettingsRequest &request);

// "copy SRC DST": a new instance key with every value of another.
int RunCopy(const Invocation &invocation, const SettingsRequest &request);

// "restore FILE": every instance key of a backup into the live store (POSIX).
int RunRestore(const Invocation &invocation, const SettingsRequest &request);

}  // namespace tovarine_tool
