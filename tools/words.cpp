#include "words.h"

#include <stdexcept>
#include <string>

namespace tovarine_tool::words {

const std::vector<Command> &Commands() {
    static const std::vector<Command> kCommands = {
        {"",
         "",
         "Runs the tovarine library as a media server would and shows what it produces.",
         "tovarine runs the library's request readers through its public header and exports, as a\n"
         "server does, and prints every output a reader wrote. read --explain also runs the\n"
         "library's own request code (the parameter walk and list, the field tables and field\n"
         "reader, the header scan), linked into the tool from the library's objects, so that the\n"
         "explanation follows the readers' own rules.\n"
         "\n"
         "The settings commands work on the saved settings of the servers: instance keys\n"
         "\"NAME n\" directly under the settings root\n"
         "HKEY_CURRENT_USER\\SOFTWARE\\Zel Inc.\\Zel Quantivale Servers, in the registry itself.\n"
         "On Windows that is the real registry; on POSIX it is the library's registry stand-in,\n"
         "whose objects are linked into the tool, so that the tool and the servers open the same\n"
         "store file and agree on which keys are whose instances.\n",
         {},
         {"--json", "--help", "--version"}},
        {"read",
         "KIND [TEXT]",
         "runs a request reader on a request",
         "Runs a request reader of the library on TEXT, or on standard input when TEXT is \"-\"\n"
         "or absent, and prints every output the reader wrote, in the reader's argument order.\n"
         "Outputs it left alone (their parameter is absent) are not printed.\n"
         "\n"
         "  KIND    what it reads           its outputs\n"
         "  live    live video request      server device framerate timeout mozilla features\n"
         "                                  sendtime sendstate cpid slide_show\n"
         "  stream  segment/channel stream  server segment channel sendstate timeout features\n"
         "                                  sendtime cpid\n"
         "  camera  camera control request  model camera device number speed command button,\n"
         "                                  as text\n"
         "  clip    media clip request      the MediaRequest record: media_kind media_file\n"
         "                                  start_msec stop_msec burst looping frame_rate width\n"
         "                                  height quality video_section segment channel\n"
         "                                  audio_section features send_time cpid\n"
         "\n"
         "The request may be captured in any of these forms (empty lines before it are skipped):\n"
         "\n"
         "  raw-request   GET /live?server=2 HTTP/1.1, a line end, header lines\n"
         "  request-line  GET /live?server=2 HTTP/1.1, or without the version\n"
         "  common-log    1.2.3.4 - - [08/Dec/2026:10:00:00 +0000] \"GET /live?server=2 "
         "HTTP/1.1\"\n"
         "                200 5\n"
         "  combined-log  the same, then \"referer\" \"user agent\"\n"
         "  url           http://cams.example.net:8080/live?server=2#top\n"
         "  path-query    /live?server=2\n"
         "  query         ?server=2 or server=2, handed over as it is, less one line end\n"
         "\n"
         "The library is handed what a server hands it: from the \"?\" of the target on, header\n"
         "lines included (without a \"?\", from the blank after the target); a request line\n"
         "without a version, a URL or a path: only its query; a log line: its request line and,\n"
         "in the Combined format, the logged user agent as a \"User-Agent:\" header line. A NUL\n"
         "ends the text, as it does for a server.\n"
         "\n"
         "--explain prints each parameter (raw, decoded) and what became of it: the output it\n"
         "fed, or why it was ignored (not-read, repeated, other-case, no-pair, after-blank,\n"
         "no-media-type), or that it was cut; for live requests, what set the mozilla flag or\n"
         "why not.\n"
         "\n"
         "--each reads one request a line from the file TEXT (\"-\" or absent: standard input)\n"
         "and prints one JSON object a line: {\"line\", \"form\", \"outputs\"}, or with\n"
         "--explain {\"line\"} and the explanation's members. Empty lines are skipped.\n"
         "\n"
         "The record's group value is 0; a section copies it. A section element copied from a\n"
         "field the request left unset is shown as \"-\" (null in JSON).\n"
         "\n"
         "  tovarine read live 'server=2&device=1&timeout=30'\n"
         "  tovarine read live --explain 'http://cams.example.net:8080/live?server=2&Timeout=30'\n"
         "  tovarine read camera --json < captured-request.txt\n"
         "  tovarine read live --each access.log > requests.jsonl\n"
         "  tovarine read stream -- '-not-an-option'\n",
         {{"KIND", "live, stream, camera or clip"},
          {"TEXT", "the request (with --each, a file of them); \"-\" or absent: standard input"}},
         {"--explain", "--each", "--json"}},
        {"settings",
         "ACTION ...",
         "the settings root and the saved instances below it",
         "The saved settings of the servers: instance keys \"NAME n\" directly under the\n"
         "settings root HKEY_CURRENT_USER\\SOFTWARE\\Zel Inc.\\Zel Quantivale Servers.\n"
         "On POSIX the registry is the store file named by TOVARINE_REGISTRY, by default\n"
         "${XDG_CONFIG_HOME:-$HOME/.config}/tovarine/registry.db, shared with the library.\n"
         "\n"
         "import, set, delete, revert, copy and restore list every change per instance key in\n"
         "the library's words (\"port changing from 80 to 8080\", \"title will be  lobby\")\n"
         "and write only after a Yes on the terminal (or --yes); without a terminal nothing is\n"
         "written. Every key and value name is checked against the registry's limits (255 and\n"
         "16,383 characters) before anything is listed or written. Every write command fails,\n"
         "with the reason, unless its changes were committed: all of them or, on POSIX, none.\n"
         "On POSIX every change any program commits is recorded in the store's history.\n"
         "\n"
         "  tovarine settings init\n"
         "  tovarine settings list 'Sample Server'\n"
         "  tovarine settings show 'Sample Server 0'\n"
         "  tovarine settings export 'Sample Server' -o sample.reg\n"
         "  tovarine settings import sample.reg --dry-run\n"
         "  tovarine settings set 'Sample Server 0' port 8080\n"
         "  tovarine settings delete 'Sample Server 1' --yes\n"
         "  tovarine settings check --json\n"
         "  tovarine settings backup /var/backups/registry.db\n"
         "  tovarine settings check /var/backups/registry.db\n"
         "  tovarine settings history 'Sample Server 0' --limit 20\n"
         "  tovarine settings revert 'Sample Server 0' --to 41\n"
         "  tovarine settings compare 'Sample Server 0' 'Sample Server 1'\n"
         "  tovarine settings copy 'Sample Server 0' 'Sample Server 2'\n"
         "  tovarine settings restore /var/backups/registry.db --dry-run\n"
         "  tovarine settings watch --count 1 --timeout 60\n",
         {},
         {"--json"},
         true},
        {"settings init",
         "",
         "creates the settings root, as an installer would (the servers save nothing without "
         "it), and says whether it was there already",
         "Fails unless the root is there afterwards: a creation that cannot be committed (the\n"
         "store locked by another program past the busy time-out, a full disk) is an error with\n"
         "the reason.\n",
         {},
         {"--json"}},
        {"settings list",
         "[NAME]",
         "lists the keys below the settings root in the order the servers find them; with NAME, "
         "only its instance keys \"NAME n\" (NAME in either letter case, one blank, decimal "
         "digits, nothing else), each after its place among them: the instance selector's "
         "number that loads and saves that instance",
         "\"Sample Server 0\" is an instance of \"Sample Server\", not of \"Sample\". A key whose\n"
         "class does not fit the servers' buffers is listed and counted, as the library counts\n"
         "it; an enumeration that fails is an error, not the end of the list.\n",
         {{"NAME", "a settings name: only its instance keys, with their places"}},
         {"--json"}},
        {"settings show",
         "INSTANCE",
         "prints the values of one instance key: text as it is, a DWORD in decimal, anything "
         "else as hex digits",
         "",
         {{"INSTANCE", "an instance key, \"NAME n\""}},
         {"--json"}},
        {"settings export",
         "[NAME...]",
         "writes the instance keys (all, or those of the NAMEs) as a .reg file, in the form "
         "Windows' registry tools write and import (with --json: their values as JSON)",
         "The file is UTF-16LE with a byte-order mark and CRLF line ends, its first line\n"
         "\"Windows Registry Editor Version 5.00\"; standard output when no FILE. A value that\n"
         "holds a line end cannot stand in a .reg line, and then nothing is exported. On POSIX,\n"
         "FILE is made no wider than the store file's mode, also when it existed.\n",
         {{"NAME", "a settings name: its instance keys \"NAME n\""}},
         {"--output", "--encoding", "--json"}},
        {"settings import",
         "FILE",
         "reads a .reg file (the Unicode form Windows' registry tools write, or REGEDIT4) and "
         "writes its string values into the instance keys, after listing every change and "
         "asking",
         "A REGEDIT4 file's text is taken as UTF-8 when it is valid UTF-8, else as code page\n"
         "1252. Deletions, other value types, keys elsewhere or deeper, values of the root\n"
         "itself and lines it cannot read are refused, each with the file's line number, and\n"
         "then nothing is written. Values the file does not name are kept.\n",
         {{"FILE", "the .reg file; \"-\" for standard input"}},
         {"--dry-run", "--yes", "--encoding", "--json"}},
        {"settings set",
         "INSTANCE VALUE-NAME TEXT",
         "sets one value of an instance key (created when missing), after listing the change and "
         "asking",
         "A new instance key is named \"NAME n\", n a number.\n",
         {{"ARGS", "INSTANCE (\"NAME n\"), VALUE-NAME and TEXT"}},
         {"--dry-run", "--yes", "--encoding", "--json"}},
        {"settings delete",
         "INSTANCE [VALUE-NAME]",
         "deletes an instance key, or one value of it, after listing what goes and asking",
         "",
         {{"ARGS", "INSTANCE (\"NAME n\") and, for one value, VALUE-NAME"}},
         {"--dry-run", "--yes", "--encoding", "--json"}},
        {"settings check",
         "[FILE]",
         "looks the store over: its path, SQLite's integrity check, whether the file alone holds "
         "every change, and every key of the root not in instance form; with FILE, that store "
         "file (a backup) instead, without its keys",
         "Exit status 1 when the integrity check finds problems or the file is no store. It\n"
         "writes nothing: a missing or empty store stays as it is. Of a store it cannot read it\n"
         "says only what it knows, and whether a log or journal beside the file holds anything.\n",
         {{"FILE", "a store file, such as a backup (POSIX)"}},
         {"--json"}},
        {"settings history",
         "[KEY | NAME...] [--since TIME] [--limit N] [--retain [CHANGES[:DAYS]]]",
         "lists the changes recorded below the settings root, newest first: revision, time, "
         "program[pid], user, then the change in the library's words (POSIX)",
         "Every change any program commits to the store is recorded with it, in the same\n"
         "transaction: a value made, changed or deleted, a key made or deleted whole, with the\n"
         "program, its process id, its user and, for this tool, its command line. A save that\n"
         "rewrites a value unchanged records nothing. KEY is an instance key (\"NAME n\"), NAME a\n"
         "settings name (its instance keys); either letter case.\n"
         "\n"
         "The store keeps the newest 100,000 changes and none older than 365 days, unless\n"
         "--retain set another bound: --retain alone prints the bound, --retain 5000 or\n"
         "--retain 5000:30 sets it (changes, then days) for every program of the store.\n"
         "\n"
         "  r42 2026-12-10T09:15:02.311Z tovarine[4711] ops  Sample Server 0: port changing "
         "from 80 to 8080\n"
         "\n"
         "Times are UTC. With --json, one array of {revision, time, program, pid, user,\n"
         "command, key, name, old, new}: old and new null where absent; for a key made or\n"
         "deleted whole name is null and old or new true on the side the key was there.\n"
         "On Windows the registry keeps no history: the command says so (exit status 1).\n",
         {{"KEY", "an instance key \"NAME n\", or a settings name: only its changes"}},
         {"--since", "--limit", "--retain", "--json"}},
        {"settings revert",
         "KEY --to REVISION",
         "puts an instance key's values back as they were right after REVISION, after listing "
         "every change and asking (POSIX)",
         "Values made later are deleted, values changed or deleted later get their text back, a\n"
         "key deleted later is made again and a key made later is deleted. All of it is one\n"
         "transaction, recorded in the history as a change of its own. REVISION must still be in\n"
         "the history (settings history shows what it holds). On Windows the registry keeps no\n"
         "history: the command says so (exit status 1).\n",
         {{"KEY", "the instance key, \"NAME n\""}},
         {"--to", "--dry-run", "--yes", "--encoding", "--json"}},
        {"settings compare",
         "A [B] [--file FILE] [--all]",
         "compares two instance keys value by value, or one with a key of a .reg file or of a "
         "store file such as a backup; exit status 0 when identical, 2 when different",
         "A value that differs is shown as \"< NAME TEXT\" (A's) and \"> NAME TEXT\" (B's), a\n"
         "value only one side holds by its one line, and with --all equal values as\n"
         "\"= NAME TEXT\". With --file, B is the key named B of FILE, or the key named A when B\n"
         "is left out. With --json, one array of {name, a, b}, null where a side lacks the\n"
         "value. Names are the same in either letter case, as in the registry. Exit status 0\n"
         "identical, 2 different, 1 when the comparison failed (a key missing on either side, a\n"
         "file it cannot read, a bad command line).\n",
         {{"KEYS", "A and B, instance keys \"NAME n\""}},
         {"--file", "--all", "--encoding", "--json"}},
        {"settings copy",
         "SRC DST [--force]",
         "makes the instance key DST with every value of SRC, after listing every value and "
         "asking; an existing DST only with --force",
         "DST is a new key in instance form (\"NAME n\") directly under the settings root. With\n"
         "--force an existing DST is made equal to SRC: its values that differ are changed, those\n"
         "SRC lacks are deleted, and the list shows each. On POSIX it is one transaction.\n",
         {{"KEYS", "SRC and DST, instance keys \"NAME n\""}},
         {"--force", "--dry-run", "--yes", "--encoding", "--json"}},
        {"settings restore",
         "FILE",
         "puts every instance key of a backup (settings backup) into the live store while "
         "servers run, after checking the backup and listing every change per key (POSIX)",
         "The backup is checked first (SQLite's integrity check and the store's layout). Each of\n"
         "its instance keys is made to hold the backup's values: values that differ or are\n"
         "missing are written, values the backup lacks are deleted; keys the backup lacks are\n"
         "kept. It is one transaction: servers see all of it at their next call, or none of it,\n"
         "and the history records it. A backup that is not sound, or holds a value that is not\n"
         "text, is refused and nothing is written. On Windows, settings import of an exported\n"
         ".reg file does this.\n",
         {{"FILE", "the backup, a store file"}},
         {"--dry-run", "--yes", "--encoding", "--json"}},
        {"settings watch",
         "[NAME...] [--count N] [--timeout SECONDS]",
         "prints each change below the settings root as it is committed, by any program, in "
         "the history's form, until interrupted, N changes or the time-out",
         "Exit status 0 after N changes or when interrupted (SIGINT, SIGTERM), 1 when the\n"
         "time-out came first, with or without --count. On POSIX a change is printed within\n"
         "half a second of its commit. On Windows changes are found by\n"
         "comparing the keys before and after the registry reports one, without program or user.\n"
         "With --json, one JSON object a line, as in the history's array.\n",
         {{"NAME", "an instance key or a settings name: only its changes"}},
         {"--count", "--timeout", "--json"}},
        {"settings backup",
         "FILE",
         "copies the store into FILE as one consistent state, while servers use it (SQLite's "
         "online backup); the copy stands alone and replaces FILE whole (POSIX)",
         "The copy has no write-ahead log and gets the store file's mode; FILE may not be the\n"
         "store itself. On Windows, keep the settings with settings export instead.\n",
         {{"FILE", "the copy to write"}},
         {"--json"}},
        {"help",
         "[COMMAND...]",
         "prints the help of COMMAND, or this text",
         "",
         {{"COMMAND", "a command, and an action of it"}},
         {}},
    };
    return kCommands;
}

const std::vector<Option> &Options() {
    static const std::vector<Option> kOptions = {
        {"--json", "", "print JSON (one value on one line) instead of name=value lines"},
        {"--explain", "", "explain what became of each parameter, and of the client header"},
        {"--each", "", "one request a line; one JSON object a line out"},
        {"-o,--output", "FILE", "the file export writes; default: standard output"},
        {"--encoding", "ENC",
         "how the store's text is read and written (POSIX): utf-8, the default and what Linux "
         "hosts write, or windows-1252 for hosts that write Windows ANSI text; a value not valid "
         "in it is an error naming its key and value, and nothing is written or exported"},
        {"--dry-run", "", "list the changes, write nothing"},
        {"--since", "TIME",
         "only changes from TIME on: 2026-12-01, 2026-12-01T09:30:00Z, or an age such as 90m, "
         "12h or 7d"},
        {"--limit", "N", "at most the newest N changes"},
        {"--retain", "CHANGES[:DAYS]",
         "print how much history the store keeps; with a value, set it: the newest CHANGES "
         "changes, none older than DAYS days"},
        {"--to", "REVISION", "the revision whose state the key gets back"},
        {"--file", "FILE", "take B from FILE: a .reg file or a store file such as a backup"},
        {"--all", "", "also list the values that are equal"},
        {"--force", "", "overwrite an existing DST"},
        {"--count", "N", "stop after N changes (exit status 0)"},
        {"--timeout", "SECONDS",
         "stop after SECONDS (exit status 1: the time-out came before N changes)"},
        {"-y,--yes", "", "write without asking on the terminal"},
        {"-h,--help", "", "print the help of the command it follows, and exit"},
        {"--version", "", "print the version and exit"},
    };
    return kOptions;
}

const std::vector<Section> &Sections() {
    static const std::vector<Section> kSections = {
        {"Output",
         "In name=value lines a backslash is written \\\\, a line feed \\n, a tab \\t and any\n"
         "other control character \\xNN, so that every line is one output; other bytes are\n"
         "written as they are. Numbers are written in their shortest form that reads back to the\n"
         "same value; one that is not finite is inf, -inf or nan (in JSON a string). JSON is\n"
         "UTF-8: valid UTF-8 in a text passes through as characters, and each byte that is not\n"
         "part of valid UTF-8 becomes U+FFFD.\n"},
        {"Environment",
         "TOVARINE_REGISTRY names the settings store file on POSIX; by default\n"
         "${XDG_CONFIG_HOME:-$HOME/.config}/tovarine/registry.db. Set but empty is an error.\n"
         "Read-only commands never create the store.\n"
         "\n"
         "TOVARINE_CONFIRM serves hosts of the library with no message box handler and no\n"
         "terminal: ask (the default: boxes go unanswered, counting as No), yes or no. Every box\n"
         "answered without a person is written to standard error with its caption, its text and\n"
         "the answer.\n"},
        {"Examples",
         "  tovarine read live 'server=2&device=1&timeout=30'\n"
         "  tovarine read live --json < captured-request.txt\n"
         "  tovarine read live --explain 'http://cams.example.net/live?server=2&Timeout=30'\n"
         "  tovarine read live --each access.log\n"
         "  tovarine settings list 'Sample Server'\n"
         "  tovarine settings show 'Sample Server 0'\n"
         "  tovarine settings export 'Sample Server' -o sample.reg\n"
         "  tovarine settings set 'Sample Server 0' port 8080 --yes\n"
         "  tovarine settings backup /var/backups/tovarine.db\n"
         "  tovarine help settings\n"},
        {"Exit status",
         "0 on success, 1 when input or output fails, the registry lacks what is asked for or\n"
         "changes were not written, 2 for a bad command line; settings compare: 0 identical,\n"
         "2 different, 1 failed.\n"},
    };
    return kSections;
}

const Command &CommandAt(std::string_view path) {
    for (const Command &command : Commands()) {
        if (command.path == path) return command;
    }
    throw std::logic_error("the tool's words have no command '" + std::string(path) + "'");
}

const Option &OptionNamed(std::string_view name) {
    for (const Option &option : Options()) {
        const std::string_view names = option.names;
        if (names == name || names.ends_with("," + std::string(name))) return option;
    }
    throw std::logic_error("the tool's words have no option '" + std::string(name) + "'");
}

const char *ArgumentHelp(std::string_view path, std::string_view name) {
    for (const Argument &argument : CommandAt(path).arguments) {
        if (argument.name == name) return argument.help;
    }
    throw std::logic_error("the tool's words have no argument " + std::string(name) + " of '" +
                           std::string(path) + "'");
}

std::string ToolFooter() {
    std::string text;
    for (const Section &section : Sections()) {
        text += '\n' + std::string(section.title) + ":\n" + section.text;
    }
    return text;
}

std::string Footer(const Command &command) {
    return *command.details == '\0' ? "" : '\n' + std::string(command.details);
}

}  // namespace tovarine_tool::words
