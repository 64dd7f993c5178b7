// tovarine: a command-line host of the library. It loads the shared library and calls its
// exports the way a server process does, and shows what they produce.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "command.h"
#include "command_line.h"
#include "report.h"
#include "tovarine.h"

namespace tovarine_tool {
namespace {

constexpr const char *kFooter =
    "\nIn name=value lines a backslash is written \\\\, a line feed \\n, a tab \\t and any other\n"
    "control character \\xNN, so that every line is one output; other bytes are written as\n"
    "they are. Numbers are written in their shortest form that reads back to the same value.\n"
    "JSON is UTF-8: valid UTF-8 in a text passes through as characters, and each byte that is\n"
    "not part of valid UTF-8 becomes U+FFFD.\n"
    "\nExamples:\n"
    "  tovarine read live 'server=2&device=1&timeout=30'\n"
    "  tovarine read live --json < captured-request.txt\n"
    "  tovarine read live --explain 'http://cams.example.net/live?server=2&Timeout=30'\n"
    "  tovarine read live --each access.log\n"
    "  tovarine settings list 'Sample Server'\n"
    "  tovarine settings show 'Sample Server 0'\n"
    "  tovarine help settings\n"
    "\nExit status: 0 on success, 1 when input or output fails or the registry lacks what\n"
    "is asked for, 2 for a bad command line.\n";

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
    CLI::App tool("Runs the tovarine library as a media server would and shows what it produces.",
                  "tovarine");
    tool.footer(kFooter);
    tool.set_version_flag("--version", "tovarine " TOVARINE_VERSION, "print the version and exit");
    tool.require_subcommand(1);
    AddJsonFlag(tool, invocation);

    AddReadCommand(tool, invocation);
    AddSettingsCommand(tool, invocation);

    std::vector<std::string> help_words;
    CLI::App *help = tool.add_subcommand("help", "prints the help of COMMAND, or this text");
    help->add_option("COMMAND", help_words, "a command, and an action of it");
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
        Put(stdout, "tovarine " TOVARINE_VERSION "\n");
        return 0;
    } catch (const CLI::ParseError &error) {
        throw UsageError(error.what());
    }
    if (!invocation.run) throw UsageError("no command given");
    return invocation.run();
}

}  // namespace

void AddJsonFlag(CLI::App &command, Invocation &invocation) {
    command.add_flag("--json", invocation.json,
                     "print JSON (one value on one line) instead of name=value lines");
}

}  // namespace tovarine_tool

int main(int argc, char **argv) {
    using namespace tovarine_tool;
#if !defined(_WIN32)
    // Every failure of the store reaches the user as the command's own error, with what the
    // command was doing: the store's own line about it would say the same twice.
    tovarine_set_diagnostic_handler([](void *, int32_t, const char *, const char *) {}, nullptr);
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
