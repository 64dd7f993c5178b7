// tovarine_manual: writes the tool's manual page or docs/tool.md from the tool's words, the
// table its help is printed from, so that the three say the same.
//
//   tovarine_manual man FILE [--check]
//   tovarine_manual markdown FILE GUIDE [--check]
//
// The markdown is the manual followed by GUIDE, the operator's guide in markdown. With --check
// nothing is written: the exit status is 1 when FILE differs from what would be written.
#include <cctype>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "tovarine_version.h"
#include "words.h"

namespace {

using namespace tovarine_tool::words;

// A text of the words in its pieces: paragraphs (their lines) and kept blocks (lines as they
// are, less the two blanks that mark them).
struct Block {
    bool kept = false;
    std::vector<std::string> lines;
};

std::vector<Block> Blocks(std::string_view text) {
    std::vector<Block> blocks;
    bool open = false;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (line.empty()) {
            open = false;
            continue;
        }
        const bool kept = line.starts_with("  ");
        if (!open || blocks.back().kept != kept) blocks.push_back({kept, {}});
        blocks.back().lines.emplace_back(kept ? line.substr(2) : line);
        open = true;
    }
    return blocks;
}

// "runs a reader" as a sentence: "Runs a reader."
std::string Sentence(std::string_view text) {
    std::string sentence(text);
    if (!sentence.empty()) sentence[0] = static_cast<char>(std::toupper(sentence[0]));
    if (!sentence.ends_with('.')) sentence += '.';
    return sentence;
}

std::string FullPath(const Command &command) {
    std::string line = "tovarine";
    if (*command.path != '\0') line += std::string(" ") + command.path;
    if (*command.synopsis != '\0') line += std::string(" ") + command.synopsis;
    return line;
}

// The command's synopsis with its options, but for --json, which every command takes.
std::string SynopsisLine(const Command &command) {
    std::string line = FullPath(command);
    for (const char *name : command.options) {
        if (std::string_view(name) == "--json") continue;
        const Option &option = OptionNamed(name);
        const std::string_view names = option.names;
        line += " [" + std::string(names.substr(names.rfind(',') + 1));
        if (*option.value != '\0') line += std::string(" ") + option.value;
        line += ']';
    }
    return line;
}

std::string OptionNames(const Option &option) {
    std::string names = option.names;
    for (size_t at = 0; (at = names.find(',', at)) != std::string::npos; at += 2) {
        names.replace(at, 1, ", ");
    }
    return names;
}

// The manual page.

std::string Roff(std::string_view text) {
    std::string out;
    for (const char c : text) {
        if (c == '\\') {
            out += "\\e";
        } else if (c == '-') {
            out += "\\-";
        } else {
            out += c;
        }
    }
    if (out.starts_with('.') || out.starts_with('\'')) out.insert(0, "\\&");
    return out;
}

std::string RoffQuoted(std::string_view text) {
    std::string out;
    for (const char c : Roff(text)) out += c == '"' ? std::string("\\(dq") : std::string(1, c);
    return '"' + out + '"';
}

// Paragraphs after the first start with `paragraph` (".PP" at the left margin, ".IP" within
// an entry).
std::string RoffText(std::string_view text, const char *paragraph, bool first = true) {
    std::string out;
    for (const Block &block : Blocks(text)) {
        if (!first) out += std::string(paragraph) + '\n';
        first = false;
        if (block.kept) out += ".nf\n";
        for (const std::string &line : block.lines) out += Roff(line) + '\n';
        if (block.kept) out += ".fi\n";
    }
    return out;
}

std::string ManualPage() {
    const Command &tool = CommandAt("");
    std::string summary = tool.summary;
    summary[0] = static_cast<char>(std::tolower(summary[0]));
    if (summary.ends_with('.')) summary.pop_back();
    std::string out = ".TH TOVARINE 1 \"2026\" \"tovarine " TOVARINE_VERSION_STRING
                      "\" \"User Commands\"\n.SH NAME\ntovarine \\- " +
                      Roff(summary) + "\n.SH SYNOPSIS\n.nf\n";
    for (const Command &command : Commands()) {
        if (*command.path == '\0' || command.group) continue;
        out += Roff(SynopsisLine(command)) + '\n';
    }
    out += ".fi\n.SH DESCRIPTION\n" + RoffText(tool.details, ".PP") + ".SH COMMANDS\n";
    for (const Command &command : Commands()) {
        if (*command.path == '\0') continue;
        out += ".TP\n.B " + RoffQuoted(FullPath(command)) + '\n' + Roff(Sentence(command.summary)) +
               '\n';
        for (const Argument &argument : command.arguments) {
            out += ".br\n\\fI" + Roff(argument.name) + "\\fR: " + Roff(argument.help) + '\n';
        }
        if (!command.options.empty()) {
            std::string names;
            for (const char *name : command.options)
                names += (names.empty() ? "" : ", ") + Roff(name);
            out += ".br\nOptions: " + names + ".\n";
        }
        out += RoffText(command.details, ".IP", false);
    }
    out += ".SH OPTIONS\n";
    for (const Option &option : Options()) {
        out += ".TP\n.B " + RoffQuoted(OptionNames(option));
        if (*option.value != '\0') out += std::string(" ") + option.value;
        out += '\n' + Roff(Sentence(option.help)) + '\n';
    }
    for (const Section &section : Sections()) {
        std::string title = section.title;
        for (char &c : title) c = static_cast<char>(std::toupper(c));
        out += ".SH " + title + '\n' + RoffText(section.text, ".PP");
    }
    return out;
}

// docs/tool.md.

std::string Markdown(std::string_view text) {
    std::string out;
    for (const char c : text) {
        if (c == '\\' || c == '*' || c == '_' || c == '`' || c == '[' || c == ']') {
            out += '\\';
            out += c;
        } else if (c == '<') {
            out += "&lt;";
        } else {
            out += c;
        }
    }
    return out;
}

std::string MarkdownText(std::string_view text) {
    std::string out;
    for (const Block &block : Blocks(text)) {
        if (block.kept) out += "```text\n";
        for (const std::string &line : block.lines) {
            out += (block.kept ? line : Markdown(line)) + '\n';
        }
        out += block.kept ? "```\n\n" : "\n";
    }
    return out;
}

std::string MarkdownPage(const std::string &guide) {
    const Command &tool = CommandAt("");
    std::string out = "# The command-line host: tovarine\n\n" + Markdown(tool.summary) + "\n\n" +
                      MarkdownText(tool.details) + "## Synopsis\n\n```text\n";
    for (const Command &command : Commands()) {
        if (*command.path == '\0' || command.group) continue;
        out += SynopsisLine(command) + '\n';
    }
    out += "```\n\n## Commands\n\n";
    for (const Command &command : Commands()) {
        if (*command.path == '\0') continue;
        out += "### `" + FullPath(command) + "`\n\n" + Markdown(Sentence(command.summary)) + "\n\n";
        for (const Argument &argument : command.arguments) {
            out += "- `" + std::string(argument.name) + "`: " + Markdown(argument.help) + '\n';
        }
        if (!command.options.empty()) {
            out += "- options:";
            for (size_t i = 0; i < command.options.size(); ++i) {
                out += std::string(i ? ", `" : " `") + command.options[i] + '`';
            }
            out += '\n';
        }
        if (!command.arguments.empty() || !command.options.empty()) out += '\n';
        out += MarkdownText(command.details);
    }
    out += "## Options\n\n";
    for (const Option &option : Options()) {
        out += "- `" + OptionNames(option) +
               (*option.value ? std::string(" ") + option.value : "") +
               "`: " + Markdown(Sentence(option.help)) + '\n';
    }
    out += '\n';
    for (const Section &section : Sections()) {
        out += "## " + std::string(section.title) + "\n\n" + MarkdownText(section.text);
    }
    return out + guide;
}

bool ReadFile(const std::string &path, std::string &text) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return false;
    std::ostringstream bytes;
    bytes << file.rdbuf();
    text = bytes.str();
    return true;
}

}  // namespace

int main(int argc, char **argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    bool check = false;
    if (!args.empty() && args.back() == "--check") {
        check = true;
        args.pop_back();
    }
    std::string text;
    if (args.size() == 2 && args[0] == "man") {
        text = ManualPage();
    } else if (args.size() == 3 && args[0] == "markdown") {
        std::string guide;
        if (!ReadFile(args[2], guide)) {
            std::cerr << "tovarine_manual: cannot read " << args[2] << '\n';
            return 2;
        }
        text = MarkdownPage(guide);
    } else {
        std::cerr << "usage: tovarine_manual man FILE [--check]\n"
                     "       tovarine_manual markdown FILE GUIDE [--check]\n";
        return 2;
    }
    const std::string &path = args[1];
    if (check) {
        std::string current;
        if (ReadFile(path, current) && current == text) return 0;
        std::cerr << "tovarine_manual: " << path
                  << " is not what the tool's words make; build the target tool_manual to write "
                     "it again\n";
        return 1;
    }
    std::ofstream out(path, std::ios::binary);
    out << text;
    out.close();
    if (!out) {
        std::cerr << "tovarine_manual: cannot write " << path << '\n';
        return 1;
    }
    return 0;
}
