// tovarine: a command-line host of the library. It loads the shared library and calls its
// exports the way a server process does, and shows what they produce.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <exception>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "command.h"
#include "command_line.h"
#include "library_internals.h"
#include "report.h"
#include "tovarine.h"
#include "words.h"

namespace tovarine_tool {
namespace {

#if !defined(_WIN32)
// The command line as a shell would take it back: a word of other characters than these quoted.
std::string CommandLine(int argc, char **argv) {
    std::string line = "tovarine";
    for (int i = 1; i < argc; ++i) {
        const std::string_view word = argv[i];
        line += ' ';
        if (!word.empty() &&
            word.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                                   "0123456789_./:=@%+,-") == std::string_view::npos) {
            line += word;
            continue;
        }
        line += '\'';
        for (const char c : word) line += c == '\'' ? std::string("'\\''") : std::string(1, c);
        line += '\'';
    }
    return line;
}
#endif

// Message text on one line, whatever the command line held.
std::string OneLine(std::string text) {
    for (char &c : text) {
        if (c == '\n' || c == '\r') c = ' ';
    }
    return text;
}

// The help of the command that `words` name ("settings", "settings show"), or the tool's.
std::string HelpOf(CLI::App &tool, const std::vector<std::string> &words) {
    CLI::App *command = &tool;
    std::string path = tool.get_name();
    for (const std::string &word : words) {
        CLI::App *sub = nullptr;
        try {
            sub = command->get_subcommand(word);
        } catch (const CLI::OptionNotFound &) {
        }
        if (sub == nullptr || sub->get_name() == "help") {
            throw UsageError("help: no command '" + word + "'");
        }
        command = sub;
        path += ' ' + word;
    }
    // From the formatter: App::help would follow the parsed subcommand, "help" itself.
    return command->get_formatter()->make_help(command, path, CLI::AppFormatMode::Normal);
}

int Run(const std::vector<std::string> &arguments) {
    Invocation invocation;
    CLI::App tool(words::CommandAt("").summary, "tovarine");
    tool.footer(words::ToolFooter());
    tool.set_help_flag(words::OptionNamed("--help").names, words::OptionNamed("--help").help);
    tool.set_version_flag("--version", "tovarine " TOVARINE_VERSION_STRING,
                          words::OptionNamed("--version").help);
    tool.require_subcommand(1);
    AddJsonFlag(tool, invocation);

    AddReadCommand(tool, invocation);
    AddSettingsCommand(tool, invocation);

    std::vector<std::string> help_words;
    CLI::App *help = AddCommand(tool, "help");
    help->add_option("COMMAND", help_words, words::ArgumentHelp("help", "COMMAND"));
    help->callback([&] {
        invocation.run = [&] {
            Put(stdout, HelpOf(tool, help_words));
            return 0;
        };
    });

    std::vector<const char *> argv;
    for (const std::string &argument : arguments) argv.push_back(argument.c_str());
    try {
        tool.parse(static_cast<int>(argv.size()), argv.data());
    } catch (const CLI::CallForHelp &) {
        // "-h" anywhere: the help of the command it follows.
        Put(stdout, tool.help());
        return 0;
    } catch (const CLI::CallForAllHelp &) {
        Put(stdout, tool.help("", CLI::AppFormatMode::All));
        return 0;
    } catch (const CLI::CallForVersion &) {
        Put(stdout, "tovarine " TOVARINE_VERSION_STRING "\n");
        return 0;
    } catch (const CLI::ParseError &error) {
        // Exit status 2 from settings compare means "different": its bad command lines are
        // failures like any other of its own, exit status 1.
        if (tool.get_subcommand("settings")->got_subcommand("compare")) {
            throw std::runtime_error(std::string(error.what()) +
                                     "; try 'tovarine settings compare --help'");
        }
        throw UsageError(error.what());
    }
    if (!invocation.run) throw UsageError("no command given");
    return invocation.run();
}

}  // namespace

void AddJsonFlag(CLI::App &command, Invocation &invocation) {
    AddFlag(command, "--json", invocation.json);
}

CLI::App *AddCommand(CLI::App &parent, const char *path) {
    const words::Command &command = words::CommandAt(path);
    const std::string_view name =
        std::string_view(path).substr(std::string_view(path).rfind(' ') + 1);
    CLI::App *added = parent.add_subcommand(std::string(name), command.summary);
    added->footer(words::Footer(command));
    return added;
}

void AddFlag(CLI::App &command, const char *name, bool &flag) {
    const words::Option &option = words::OptionNamed(name);
    command.add_flag(option.names, flag, option.help);
}

int Main(int argc, char **argv) {
#if !defined(_WIN32)
    // Every failure of the store reaches the user as the command's own error, with what the
    // command was doing: the store's own line about it would say the same twice.
    tovarine_set_diagnostic_handler([](void *, int32_t, const char *, const char *) {}, nullptr);
    // The store's history records this command line with every change it writes.
    tovarine::registry::SetChangeCommand(CommandLine(argc, argv));
#endif
    int status;
    try {
        status = Run(Arguments(argc, argv));
    } catch (const UsageError &error) {
        std::fprintf(stderr, "tovarine: %s; try 'tovarine --help'\n",
                     OneLine(error.what()).c_str());
        return 2;
    } catch (const std::exception &error) {
        std::fprintf(stderr, "tovarine: %s\n", OneLine(error.what()).c_str());
        return 1;
    }
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fputs("tovarine: cannot write the output\n", stderr);
        return 1;
    }
    return status;
}

}  // namespace tovarine_tool
