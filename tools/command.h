// The tool's command dispatch: what a command receives and how it reports a bad command line.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace tovarine_tool {

// A command's share of the command line: the options (taken from anywhere before "--") and the
// words after the command's name.
struct Invocation {
    bool json = false;
    std::vector<std::string_view> args;
};

// A command line the tool cannot run: reported on one line, exit status 2.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct Command {
    std::string_view name;
    std::string_view synopsis;  // the arguments, for the usage text
    std::string_view help;      // the description, already indented for the usage text
    int (*run)(const Invocation &);
};

// "read KIND [TEXT]": runs one of the request readers.
extern const Command kReadCommand;

// "settings init|list|show": the settings root and the saved instances below it.
extern const Command kSettingsCommand;

}  // namespace tovarine_tool
