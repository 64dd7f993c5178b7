// The tool's command dispatch: how a command joins the command line and how it reports a bad one.
#pragma once

#include <functional>
#include <stdexcept>
#include <string>

namespace CLI {
class App;
}

namespace tovarine_tool {

// What the command line chose: the options every command shares and the command to run. A
// command's parse callback sets `run`; main calls it once the whole line has been parsed, so
// that nothing is done for a line that turns out to be bad.
struct Invocation {
    bool json = false;  // --json, before the command's name or after it
    std::function<int()> run;
};

// A command line the tool cannot run: reported on one line, exit status 2.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The whole run of the tool over its command line: the exit status (0, 1 for a failed command, 2
// for a bad command line), after the output is flushed. main() is only this.
int Main(int argc, char **argv);

// Adds "--json" to `command`, setting `invocation.json`, with the shared description.
void AddJsonFlag(CLI::App &command, Invocation &invocation);

// Adds the command at `path` ("settings import") of the tool's words to `parent`, with its
// summary and details; its arguments and options are added by the caller.
CLI::App *AddCommand(CLI::App &parent, const char *path);

// Adds the flag of the tool's words with the longest name `name` ("--yes") to `command`.
void AddFlag(CLI::App &command, const char *name, bool &flag);

// "read KIND [TEXT]": runs one of the request readers.
void AddReadCommand(CLI::App &tool, Invocation &invocation);

// "settings ACTION ...": the settings root and the saved instances below it.
void AddSettingsCommand(CLI::App &tool, Invocation &invocation);

}  // namespace tovarine_tool
