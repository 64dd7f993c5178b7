// The tool's words: every command, argument and option with what it does, and the sections of
// its manual. The help the tool prints, its manual page (tools/share/tovarine.1) and
// docs/tool.md are all made from this one table, the last two by tovarine_manual.
//
// A text is written as the help prints it, a line to a "\n". An empty line parts paragraphs; a
// line that begins with two blanks is kept as it is (a table, an example), and the manual page
// and docs/tool.md fill the other lines of a paragraph again.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tovarine_tool::words {

struct Argument {
    const char *name;  // as the usage line shows it: "KIND"
    const char *help;
};

struct Option {
    const char *names;  // as the command line takes them: "-y,--yes"
    const char *value;  // the value's placeholder, "" for a flag
    const char *help;   // one line of the help; the manual's paragraph on it
};

struct Command {
    const char *path;      // "read", "settings import"; "" for the tool itself
    const char *synopsis;  // what follows the path on the manual's synopsis line: "KIND [TEXT]"
    const char *summary;   // one line: the help's description of it and its line in a list
    const char *details;   // the text after its options in the help; the manual's paragraphs
    std::vector<Argument> arguments;
    std::vector<const char *> options;  // by their longest name: "--yes"
    bool group = false;                 // only gathers actions: no line of its own in the synopsis
};

// A section of the manual after the commands and options, also at the end of the tool's help.
struct Section {
    const char *title;  // as the help heads it: "Exit status"
    const char *text;
};

const std::vector<Command> &Commands();
const std::vector<Option> &Options();
const std::vector<Section> &Sections();

// The entries of the tables by path, by longest option name, by argument name. A name that is
// not in the tables is a fault of the tool: std::logic_error.
const Command &CommandAt(std::string_view path);
const Option &OptionNamed(std::string_view name);
const char *ArgumentHelp(std::string_view path, std::string_view name);

// The tool's help after its commands: the sections, each after its title.
std::string ToolFooter();

// A command's details as its help's footer: "" when it has none.
std::string Footer(const Command &command);

}  // namespace tovarine_tool::words
