// tovarine: a command-line host of the library. It loads the shared library and calls its
// exports the way a server process does, and shows what they produce.
#include <cstdio>
#include <exception>
#include <optional>
#include <string>
#include <string_view>

#include "command.h"

namespace tovarine_tool {
namespace {

// The command groups, in the order the usage text lists them.
const Command *const kCommands[] = {&kReadCommand, &kSettingsCommand};

void PrintUsage(std::FILE *out) {
    std::fputs(
        "Usage: tovarine [OPTIONS] COMMAND [ARGUMENTS]\n"
        "Runs the tovarine library as a media server would and shows what it produces.\n"
        "\nCommands:\n",
        out);
    for (const Command *command : kCommands) {
        std::fprintf(out, "  %.*s %.*s\n%.*s", static_cast<int>(command->name.size()),
                     command->name.data(), static_cast<int>(command->synopsis.size()),
                     command->synopsis.data(), static_cast<int>(command->help.size()),
                     command->help.data());
    }
    std::fputs(
        "\nOptions (anywhere before \"--\"):\n"
        "  --json        print one JSON object instead of name=value lines. Text values are\n"
        "                JSON strings in which each byte below 0x20, 0x7f and each byte from\n"
        "                0x80 up is written as \\u00XX; numbers are JSON numbers, except that\n"
        "                one that is not finite is the string \"inf\", \"-inf\" or \"nan\".\n"
        "  -h, --help    print this text and exit\n"
        "  --version     print the version and exit\n"
        "  --            end of options (for a TEXT that begins with \"-\")\n"
        "\nIn name=value lines, text values are printed as they are, up to their NUL, and\n"
        "numbers in their shortest form that reads back to the same value.\n"
        "\nExamples:\n"
        "  tovarine read live 'server=2&device=1&timeout=30'\n"
        "  tovarine read live --json < captured-request.txt\n"
        "  tovarine settings list 'Sample Server'\n"
        "  tovarine settings show 'Sample Server 0'\n"
        "\nExit status: 0 on success, 1 when input or output fails or the registry lacks what\n"
        "is asked for, 2 for a bad command line.\n",
        out);
}

// Message text on one line, whatever the command line held.
std::string OneLine(std::string text) {
    for (char &c : text) {
        if (c == '\n' || c == '\r') c = ' ';
    }
    return text;
}

int Run(int argc, char **argv) {
    Invocation invocation;
    std::optional<std::string_view> name;
    bool help = false;
    bool version = false;
    bool options_ended = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (!options_ended && arg.size() > 1 && arg[0] == '-') {
            if (arg == "--") {
                options_ended = true;
            } else if (arg == "-h" || arg == "--help") {
                help = true;
            } else if (arg == "--version") {
                version = true;
            } else if (arg == "--json") {
                invocation.json = true;
            } else {
                throw UsageError("unknown option '" + std::string(arg) + "'");
            }
        } else if (!name) {
            name = arg;
        } else {
            invocation.args.push_back(arg);
        }
    }
    if (help) {
        PrintUsage(stdout);
        return 0;
    }
    if (version) {
        std::puts("tovarine " TOVARINE_VERSION);
        return 0;
    }
    if (!name) throw UsageError("no command given");
    for (const Command *command : kCommands) {
        if (command->name == *name) return command->run(invocation);
    }
    throw UsageError("unknown command '" + std::string(*name) + "'");
}

}  // namespace
}  // namespace tovarine_tool

int main(int argc, char **argv) {
    using namespace tovarine_tool;
    int status;
    try {
        status = Run(argc, argv);
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
