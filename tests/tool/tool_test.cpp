// The command-line host as a user runs it: what it prints and how it exits.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "platform/posix/registry_store.h"
#include "run_tool.h"
#include "platform/posix/win32.h"
#include "settings/settings_root.h"

namespace {

TEST(ToolRead, PrintsExactlyTheOutputsTheReaderWrote) {
    const struct {
        const char *args, *input, *out;
    } cases[] = {
        // A raw request: parameters from the target, the client flag from the header lines.
        {"read live",
         "GET /live?server=2&timeout=3&framerate=7.5 HTTP/1.1\r\nHost: a.example.net\r\n"
         "User-Agent: Mozilla/5.0 (X11)\r\n\r\n",
         "server=2\nframerate=7.5\ntimeout=3000\nmozilla=1\n"},
        // No "?" in the target: nothing from the header lines is taken for a parameter.
        {"read live -", "GET /live HTTP/1.0\r\nX-Note: server=5\r\nUser-Agent: recorder/1\r\n\r\n",
         ""},
        {"read live 'server='", "", "server=0\n"},
        // Values equal to a preset are still told apart from absent ones.
        {"read live", "device=-2147483648&cpid=2147483647\n",
         "device=-2147483648\ncpid=2147483647\n"},
        {"read stream 'channel=r&segment=9'", "", "segment=9\nchannel=1\n"},
        {"read camera", "button=up%2Bleft&model=PT+9&speed=&command=stop\r\n",
         "model=PT 9\nspeed=\ncommand=stop\nbutton=up+left\n"},
        {"read clip", "mediatype=video&features=7&cpid=12&doburst=0.1\r\n",
         "media_kind=1\nburst=0.1\nvideo_section=7,-,0,12\nfeatures=7\ncpid=12\n"},
    };
    for (const auto &c : cases) {
        const Result result = RunTool(c.args, c.input);
        EXPECT_EQ(result.status, 0) << c.args;
        EXPECT_EQ(result.out, c.out) << c.args << " <<< " << c.input;
        EXPECT_EQ(result.err, "") << c.args;
    }
}

TEST(ToolRead, JsonIsUtf8WithEscapesAndMarksNonFiniteNumbers) {
    const struct {
        const char *args, *out;
    } cases[] = {
        // Quotes, backslashes and control characters escaped; valid UTF-8 ("\u00e9" and a
        // four-byte character) passes through; a lone byte from 0x80 up and a truncated or
        // overlong sequence each become U+FFFD.
        {"--json read camera 'model=a%22b%5C%01%C3%A9%F0%9F%8E%A5&speed=%E9x%C3&button=%C0%AF'",
         "{\"model\":\"a\\\"b\\\\\\u0001\xc3\xa9\xf0\x9f\x8e\xa5\",\"speed\":\"\xef\xbf\xbdx"
         "\xef\xbf\xbd\",\"button\":\"\xef\xbf\xbd\xef\xbf\xbd\"}\n"},
        {"read live --json 'server=3&framerate=-1e999'", "{\"server\":3,\"framerate\":\"-inf\"}\n"},
        // A float in its own shortest form, a section with null for an unset element.
        {"read clip --json 'mediatype=video&doburst=0.1&features=7'",
         "{\"media_kind\":1,\"burst\":0.1,\"video_section\":[7,null,0,null],\"features\":7}\n"},
    };
    for (const auto &c : cases) EXPECT_EQ(RunTool(c.args).out, c.out) << c.args;
}

TEST(ToolRead, TextLinesEscapeControlCharactersAndBackslashes) {
    EXPECT_EQ(RunTool("read camera 'model=a%0Aport%3D1&speed=x%5Cy%09z%7F%0D%C3%A9'").out,
              "model=a\\nport=1\nspeed=x\\\\y\\tz\\x7f\\x0d\xc3\xa9\n");
}

TEST(ToolRead, RecognisesEveryCaptureForm) {
    const struct {
        const char *args, *input, *out;
    } cases[] = {
        {"read live 'http://cams.example.net:8080/live?server=2&timeout=30'", "",
         "server=2\ntimeout=30000\n"},
        {"read live", "/live?server=2&timeout=30\n", "server=2\ntimeout=30000\n"},
        {"read live", "GET /live?server=2&timeout=30\r\n", "server=2\ntimeout=30000\n"},
        {"read live",
         "10.0.0.7 - - [08/Dec/2026:10:00:00 +0000] \"GET /live?server=2 HTTP/1.1\" 200 51 "
         "\"-\" \"Mozilla/5.0 (X11)\"\n",
         "server=2\nmozilla=1\n"},
        {"read live", "\r\n\r\nGET /live?server=2 HTTP/1.1\r\nUser-Agent: Mozilla/5.0\r\n\r\n",
         "server=2\nmozilla=1\n"},
    };
    for (const auto &c : cases) {
        const Result result = RunTool(c.args, c.input);
        EXPECT_EQ(result.status, 0) << c.args;
        EXPECT_EQ(result.out, c.out) << c.args << " <<< " << c.input;
    }
}

TEST(ToolRead, ExplainsWhatBecameOfEachParameter) {
    const Result text = RunTool(
        "read camera --explain "
        "'http://h/ptz?model=PT9&Speed=5&model=X&button&command=" +
        std::string(1030, 'z') + "&speed=2 x=1'");
    EXPECT_EQ(text.status, 0);
    EXPECT_EQ(text.out,
              "form: url\n"
              "text: ?model=PT9&Speed=5&model=X&button&command=zzzzzzzzzzzzzzzzzzzzzz... "
              "(1084 bytes)\n"
              "#0 model=PT9: used: model=PT9\n"
              "#1 Speed=5: ignored (other-case): names are case-sensitive; this reader reads "
              "\"speed\"\n"
              "#2 model=X: ignored (repeated): the same name met earlier at #0; the first one "
              "wins\n"
              "#3 button: ignored (no-pair): no \"=\", not a pair\n"
              "#4 command=" +
                  std::string(56, 'z') +
                  "... (1038 bytes): "
                  "cut: 1030 bytes decoded, the first 1023 kept: command=" +
                  std::string(64, 'z') +
                  "... (1023 bytes)\n"
                  "#5 speed=2: used: speed=2\n"
                  "#6 x=1: ignored (after-blank): after the first blank, not part of the "
                  "parameters\n"
                  "outputs:\n"
                  "model=PT9\n"
                  "speed=2\n"
                  "command=" +
                  std::string(1023, 'z') + "\n");
    const Result json = RunTool("read live --explain --json",
                                "GET /live?server=%32&server=3 HTTP/1.1\r\n"
                                "User-Agent: curl/8\r\n\r\n");
    EXPECT_EQ(json.out,
              "{\"reader\":\"live\",\"form\":\"raw-request\",\"blank_lines\":0,\"text\":"
              "\"?server=%32&server=3 HTTP/1.1\\r\\nUser-Agent: curl/8\\r\\n\\r\\n\","
              "\"parameters\":[{\"index\":0,\"raw\":\"server=%32\",\"name\":\"server\","
              "\"raw_value\":\"%32\",\"value\":\"2\",\"fate\":\"used\",\"output\":\"server\","
              "\"written\":2},{\"index\":1,\"raw\":\"server=3\",\"name\":\"server\","
              "\"raw_value\":\"3\",\"value\":\"3\",\"fate\":\"ignored\",\"reason\":\"repeated\","
              "\"first\":0}],\"client\":{\"mozilla\":false,\"found\":true,\"line_number\":2,"
              "\"line\":\"User-Agent: curl/8\",\"header\":\"User-Agent:\",\"word\":\"curl/8\"},"
              "\"outputs\":{\"server\":2}}\n");
}

// The client line and the media type's reason say what the readers do: "User-Agent:",
// "Mozilla" and the media type's letter match in any letter case, so the line says so too.
TEST(ToolRead, ExplainsTheCaseBlindMatches) {
    const struct {
        const char *args, *input, *line;
    } cases[] = {
        {"read live --explain", "GET /live HTTP/1.1\r\nuser-agent: MOZILLA/5.0\r\n\r\n",
         "client: \"user-agent:\" on line 2 (user-agent: MOZILLA/5.0): the next word "
         "\"MOZILLA/5.0\" begins with \"Mozilla\" (in any letter case): mozilla=1\n"},
        {"read live --explain", "GET /live HTTP/1.1\r\nUSER-AGENT: curl/8\r\n\r\n",
         "client: \"USER-AGENT:\" on line 2 (USER-AGENT: curl/8): the next word \"curl/8\" does "
         "not begin with \"Mozilla\" (in any letter case): mozilla not set\n"},
        {"read live --explain", "?server=2\n",
         "client: no \"User-Agent:\" word (in any letter case): mozilla not set\n"},
        {"read clip --explain", "?mediatype=x\n",
         "#0 mediatype=x: ignored (no-media-type): the media type begins with neither \"A\" nor "
         "\"V\" (in any letter case): nothing written\n"},
    };
    for (const auto &c : cases) {
        const Result result = RunTool(c.args, c.input);
        EXPECT_EQ(result.status, 0) << c.input;
        EXPECT_NE(result.out.find(c.line), std::string::npos) << result.out;
    }
    // The flag itself follows the same rule as the line.
    EXPECT_EQ(RunTool("read live", "GET /live HTTP/1.1\r\nuser-agent: mOzIlLa/4\r\n\r\n").out,
              "mozilla=1\n");
}

TEST(ToolRead, EachReadsOneRequestALine) {
    const std::string lines =
        "http://h/live?server=2\n"
        "\r\n"
        "1.2.3.4 - - [08/Dec/2026:10:00:00 +0000] \"GET /live?timeout=4 HTTP/1.1\" 200 9\r\n"
        "GET /live?framerate=2.5";  // no line end at the end
    const char *const out =
        "{\"line\":1,\"form\":\"url\",\"outputs\":{\"server\":2}}\n"
        "{\"line\":3,\"form\":\"common-log\",\"outputs\":{\"timeout\":4000}}\n"
        "{\"line\":4,\"form\":\"request-line\",\"outputs\":{\"framerate\":2.5}}\n";
    EXPECT_EQ(RunTool("read live --each", lines).out, out);
    const std::string file = ::testing::TempDir() + "each_" + std::to_string(getpid());
    std::ofstream(file, std::ios::binary) << lines;
    EXPECT_EQ(RunTool("read live --each '" + file + "'").out, out);
    std::remove(file.c_str());

    const Result explained = RunTool("read stream --each --explain", "?channel=r&x\n");
    EXPECT_TRUE(explained.out.starts_with("{\"line\":1,\"reader\":\"stream\",\"form\":\"query\""))
        << explained.out;

    const Result missing = RunTool("read live --each /nonexistent/requests.log");
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("cannot open"), std::string::npos) << missing.err;
}

TEST(ToolCommandLine, RejectsABadCommandLineWithOneLineAndStatus2) {
    for (const char *args :
         {"", "bogus", "read", "read video x", "read live a b", "read live --frob", "help bogus",
          "settings", "settings frob", "settings show", "settings show a b"}) {
        const Result result = RunTool(args);
        EXPECT_EQ(result.status, 2) << args;
        EXPECT_EQ(result.out, "") << args;
        EXPECT_TRUE(result.err.starts_with("tovarine: ") &&
                    result.err.ends_with("try 'tovarine --help'\n") &&
                    result.err.find('\n') == result.err.size() - 1)
            << args << ": " << result.err;
    }
}

TEST(ToolCommandLine, HelpIsPerCommand) {
    const struct {
        const char *args, *usage;
    } cases[] = {
        {"--help", "Usage: tovarine [OPTIONS] SUBCOMMAND"},
        {"help", "Usage: tovarine [OPTIONS] SUBCOMMAND"},
        {"help read", "Usage: tovarine read [OPTIONS] KIND [TEXT]"},
        {"read --help", "Usage: tovarine read [OPTIONS] KIND [TEXT]"},
        {"read live -h", "Usage: tovarine read [OPTIONS] KIND [TEXT]"},
        {"help settings show", "Usage: tovarine settings show [OPTIONS] INSTANCE"},
        {"settings show --help", "Usage: tovarine settings show [OPTIONS] INSTANCE"},
    };
    for (const auto &c : cases) {
        const Result result = RunTool(c.args);
        EXPECT_EQ(result.status, 0) << c.args;
        EXPECT_NE(result.out.find(c.usage), std::string::npos) << c.args << ": " << result.out;
    }
}

// Every command and option the help shows is in the manual page: the help and the page are
// made from one table of words, and a command or option added past it shows here.
TEST(ToolCommandLine, EveryCommandAndOptionOfTheHelpIsInTheManualPage) {
    std::ostringstream bytes;
    bytes << std::ifstream(TOVARINE_MANUAL_PAGE).rdbuf();
    std::string page;  // the page's text less its escapes for "-", "\\" and a leading "."
    const std::string roff = bytes.str();
    for (size_t i = 0; i < roff.size(); ++i) {
        if (roff[i] == '\\' && i + 1 < roff.size() &&
            std::string_view("-e&").find(roff[i + 1]) != std::string_view::npos) {
            if (roff[i + 1] != '&') page += roff[i + 1] == 'e' ? '\\' : '-';
            ++i;
        } else {
            page += roff[i];
        }
    }
    ASSERT_NE(page.find(".SH COMMANDS"), std::string::npos);
    // The lines of a help's section: "Subcommands:" or "Options:", up to the next blank line.
    const auto section = [](const std::string &help, const std::string &title) {
        std::vector<std::string> lines;
        size_t at = help.find("\n" + title + ":\n");
        if (at == std::string::npos) return lines;
        at += title.size() + 3;
        for (size_t end; (end = help.find('\n', at)) != std::string::npos && end > at;
             at = end + 1) {
            lines.push_back(help.substr(at, end - at));
        }
        return lines;
    };
    std::vector<std::string> paths = {""};
    size_t seen_options = 0;
    for (size_t i = 0; i < paths.size(); ++i) {
        const Result help = RunTool("help " + paths[i]);
        ASSERT_EQ(help.status, 0) << paths[i];
        if (!paths[i].empty()) {
            EXPECT_NE(page.find("tovarine " + paths[i]), std::string::npos) << paths[i];
        }
        for (const std::string &line : section(help.out, "Subcommands")) {
            const size_t start = line.find_first_not_of(' ');
            const std::string name = line.substr(start, line.find(' ', start) - start);
            if (name == "help") {  // "help help" is no command: its help is the tool's
                EXPECT_NE(page.find("tovarine help"), std::string::npos);
                continue;
            }
            paths.push_back(paths[i].empty() ? name : paths[i] + ' ' + name);
        }
        for (const std::string &line : section(help.out, "Options")) {
            for (size_t at = 0; (at = line.find("--", at)) != std::string::npos;) {
                const size_t end = line.find_first_of(" ,", at);
                const std::string option = line.substr(at, end - at);
                EXPECT_NE(page.find(option), std::string::npos) << paths[i] << ": " << option;
                ++seen_options;
                if (end == std::string::npos || line[end] == ' ') break;
                at = end;
            }
        }
    }
    // The tool, read, settings and its fifteen actions.
    EXPECT_EQ(paths.size(), 18u);
    EXPECT_GE(seen_options, 9u);
}

#ifdef SAMPLE_SERVER
TEST_F(ToolSettings, NeedsTheRootWhichInitCreatesOnce) {
    for (const char *args : {"settings list", "settings list Sample", "settings show 'A 0'"}) {
        const Result missing = RunTool(args);
        EXPECT_EQ(missing.status, 1) << args;
        EXPECT_EQ(missing.out, "") << args;
        EXPECT_NE(missing.err.find("'tovarine settings init'"), std::string::npos) << missing.err;
    }
    const std::string root = std::string(tovarine::kSettingsRootFullName) + "\n";
    EXPECT_EQ(RunTool("settings init").out, "created " + root);
    EXPECT_EQ(RunTool("settings init").out, "already there: " + root);
    const Result empty = RunTool("settings list");
    EXPECT_EQ(empty.status, 0);
    EXPECT_EQ(empty.out, "");
}

TEST_F(ToolSettings, ReadOnlyCommandsCreateNoStoreAndStoreErrorsNameTheFile) {
    const std::string store = dir_ + "/sub/registry.db";
    setenv("TOVARINE_REGISTRY", store.c_str(), 1);
    for (const char *args : {"settings list", "settings show 'A 0'", "--json settings list"}) {
        const Result result = RunTool(args);
        EXPECT_EQ(result.status, 1) << args;
        EXPECT_EQ(result.err, "tovarine: settings: there is no settings store " + store +
                                  "; create it with 'tovarine settings init'\n")
            << args;
    }
    EXPECT_FALSE(std::filesystem::exists(dir_ + "/sub"));

    setenv("TOVARINE_REGISTRY", "", 1);
    for (const char *args : {"settings init", "settings list"}) {
        const Result result = RunTool(args);
        EXPECT_EQ(result.status, 1) << args;
        EXPECT_NE(result.err.find("TOVARINE_REGISTRY is set but empty"), std::string::npos)
            << result.err;
    }

    // A file that is not a store: named in words, with the code, and left as it was.
    const std::string junk = dir_ + "/junk.db";
    std::ofstream(junk) << "not a store\n";
    setenv("TOVARINE_REGISTRY", junk.c_str(), 1);
    for (const char *args : {"settings init", "settings list"}) {
        const Result result = RunTool(args);
        EXPECT_EQ(result.status, 1) << args;
        EXPECT_NE(result.err.find("the settings store " + junk + " is not a database"),
                  std::string::npos)
            << result.err;
        EXPECT_NE(result.err.find("(error 1009)"), std::string::npos) << result.err;
    }
    std::ostringstream kept;
    kept << std::ifstream(junk).rdbuf();
    EXPECT_EQ(kept.str(), "not a store\n");
}

std::string Contents(const std::string &path) {
    std::ostringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}

// UTF-16LE of ASCII or Latin-1 text given as UTF-8 two-byte sequences is all these tests need.
std::string Utf16(const std::string &text) {
    std::string bytes;
    for (size_t i = 0; i < text.size(); ++i) {
        auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0xc0) c = static_cast<unsigned char>(((c & 0x1f) << 6) | (text[++i] & 0x3f));
        bytes += static_cast<char>(c);
        bytes += '\0';
    }
    return bytes;
}

TEST_F(ToolSettings, ExportImportSetAndDeleteMoveValuesExactly) {
    ASSERT_EQ(RunTool("settings init").status, 0);
    // Listings and name=value lines escape the backslash.
    const std::string title = "caf\xc3\xa9 \"east\" \\ wing",
                      escaped = "caf\xc3\xa9 \"east\" \\\\ wing";
    const Result set = RunTool("settings set 'Lobby 0' title '" + title + "' --yes");
    EXPECT_EQ(set.out,
              "\"Lobby 0\" (a new instance key):\n  title will be  " + escaped + "\nwritten\n")
        << set.err;
    ASSERT_EQ(RunTool("settings set 'Lobby 0' port 80 -y").status, 0);
    const std::string shown = RunTool("settings show --json 'Lobby 0'").out;
    EXPECT_EQ(shown, "{\"title\":\"caf\xc3\xa9 \\\"east\\\" \\\\ wing\",\"port\":\"80\"}\n");

    const std::string file = dir_ + "/lobby.reg";
    ASSERT_EQ(RunTool("settings export Lobby -o '" + file + "'").status, 0);
    const std::string reg = Contents(file);
    EXPECT_TRUE(reg.starts_with("\xff\xfe" + Utf16("Windows Registry Editor Version 5.00\r\n")));
    EXPECT_NE(reg.find(Utf16("\"title\"=\"caf\xc3\xa9 \\\"east\\\" \\\\ wing\"\r\n")),
              std::string::npos);
    EXPECT_EQ(RunTool("settings export --json Lob").out, "[]\n");  // "Lobby 0" is no "Lob n"

    ASSERT_EQ(RunTool("settings delete 'Lobby 0' --yes").status, 0);
    EXPECT_EQ(RunTool("settings list").out, "");
    const Result dry = RunTool("settings import --dry-run '" + file + "'");
    EXPECT_EQ(dry.out, "\"Lobby 0\" (a new instance key):\n  title will be  " + escaped +
                           "\n  port will be  80\ndry run: nothing was written\n");
    EXPECT_EQ(RunTool("settings list").out, "");
    ASSERT_EQ(RunTool("settings import --yes '" + file + "'").status, 0);
    EXPECT_EQ(RunTool("settings show --json 'Lobby 0'").out, shown);

    // Only what differs is listed and written; a second import has nothing to do.
    EXPECT_EQ(RunTool("settings set 'lobby 0' port 8080 --yes").out,
              "\"lobby 0\":\n  port changing from 80 to 8080\nwritten\n");
    EXPECT_EQ(RunTool("settings import -y '" + file + "' --json").out,
              "{\"changes\":[{\"key\":\"Lobby 0\",\"new\":false,\"deleted\":false,\"values\":"
              "[{\"name\":\"port\",\"from\":\"8080\",\"to\":\"80\"}]}],\"written\":true}\n");
    EXPECT_EQ(RunTool("settings import -y '" + file + "'").out, "nothing to change\n");

    // Without a terminal and without --yes nothing is written, and the message says why.
    const Result unattended = RunTool("settings delete 'Lobby 0' port", "", /*no_terminal=*/true);
    EXPECT_EQ(unattended.status, 1);
    EXPECT_NE(unattended.err.find("no terminal"), std::string::npos) << unattended.err;
    EXPECT_EQ(RunTool("settings show 'Lobby 0'").out, "title=" + escaped + "\nport=80\n");
    EXPECT_EQ(RunTool("settings delete 'Lobby 0' nothing -y").status, 1);
}

TEST_F(ToolSettings, StoreTextIsReadInTheChosenEncodingOrNothingIsExported) {
    ASSERT_EQ(RunTool("settings init").status, 0);
    // A host writing Windows ANSI text: "café" is the bytes 63 61 66 e9.
    ASSERT_EQ(
        RunTool("settings set 'Ansi 0' title 'caf\xc3\xa9' --encoding windows-1252 -y").status, 0);
    EXPECT_EQ(RunTool("settings show 'Ansi 0'").out, "title=caf\xe9\n");

    const std::string file = dir_ + "/ansi.reg";
    const Result refused = RunTool("settings export -o '" + file + "'");
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("the value \"title\" of \"Ansi 0\" is not valid UTF-8"),
              std::string::npos)
        << refused.err;
    EXPECT_FALSE(std::filesystem::exists(file));
    EXPECT_EQ(RunTool("settings set 'Ansi 0' t '\xe6\x97\xa5' --encoding windows-1252 -y").status,
              1);

    ASSERT_EQ(RunTool("settings export --encoding windows-1252 -o '" + file + "'").status, 0);
    EXPECT_NE(Contents(file).find(Utf16("\"title\"=\"caf\xc3\xa9\"")), std::string::npos);
    // Into a store of a UTF-8 host: the same text, in UTF-8.
    setenv("TOVARINE_REGISTRY", (dir_ + "/utf8.db").c_str(), 1);
    ASSERT_EQ(RunTool("settings init").status, 0);
    ASSERT_EQ(RunTool("settings import -y '" + file + "'").status, 0);
    EXPECT_EQ(RunTool("settings show 'Ansi 0'").out, "title=caf\xc3\xa9\n");
}

TEST_F(ToolSettings, ImportRefusesWithLineNumbersAndCheckNamesStrayKeys) {
    ASSERT_EQ(RunTool("settings init").status, 0);
    const std::string root = "[HKEY_CURRENT_USER\\SOFTWARE\\Zel Inc.\\Zel Quantivale Servers";
    const std::string bad = dir_ + "/bad.reg", stray = dir_ + "/stray.reg";
    std::ofstream(bad) << "REGEDIT4\n\n"
                       << root << "\\A 0]\n\"a\"=\"1\"\n\"b\"=dword:1\n"
                       << "[-" << root << "\\B 0]\n";
    const Result refused = RunTool("settings import -y '" + bad + "'");
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("line 5: a value of type \"dword\""), std::string::npos)
        << refused.err;
    EXPECT_NE(refused.err.find("line 6: deletes a key"), std::string::npos) << refused.err;
    EXPECT_EQ(RunTool("settings list").out, "");

    const Result sound = RunTool("settings check");
    EXPECT_EQ(sound.status, 0) << sound.out << sound.err;
    EXPECT_NE(sound.out.find("integrity: ok\nself-contained: yes\n"), std::string::npos)
        << sound.out;
    std::ofstream(stray) << "REGEDIT4\n" << root << "\\Stray]\n" << root << "\\A 0]\n";
    ASSERT_EQ(RunTool("settings import -y '" + stray + "'").status, 0);
    const Result strays = RunTool("settings check --json");
    EXPECT_NE(strays.out.find("\"not_instance_form\":[\"Stray\"]"), std::string::npos)
        << strays.out;
}

// A .reg file of two instance keys, the second holding `second_key`'s `value_name`.
std::string TwoKeys(const std::string &second_key, const std::string &value_name) {
    const std::string root = "[HKEY_CURRENT_USER\\SOFTWARE\\Zel Inc.\\Zel Quantivale Servers\\";
    return "REGEDIT4\n\n" + root + "First 0]\n\"port\"=\"1\"\n\n" + root + second_key + "]\n\"" +
           value_name + "\"=\"2\"\n";
}

TEST_F(ToolSettings, NamesAreHeldToTheRegistrysLimitsInCharacters) {
    ASSERT_EQ(RunTool("settings init").status, 0);
    const std::string file = dir_ + "/limits.reg", long_value(17000, 'v'),
                      long_key = std::string(254, 'k') + " 0";
    std::ofstream(file, std::ios::binary) << TwoKeys("Second 0", long_value);
    // Names are counted in characters, not in the bytes of their UTF-8: 200 "é" and " 0" are
    // 202 characters (402 bytes), 8,192 "é" are 8,192 (16,384 bytes).
    std::string accented_key, accented_value;
    for (int i = 0; i < 200; ++i) accented_key += "\xc3\xa9";
    accented_key += " 0";
    for (int i = 0; i < 8192; ++i) accented_value += "\xc3\xa9";
    const struct {
        std::string args, message;
        int status;
        std::string key, shown;  // "settings show KEY" afterwards: nothing when none was written
    } cases[] = {
        // An import is refused whole, by the .reg codec or before the changes are listed.
        {"settings import --yes '" + file + "'", "nothing was written", 1, "First 0", ""},
        {"settings import --dry-run '" + file + "'", "nothing was written", 1, "First 0", ""},
        {"settings set 'Second 0' " + long_value + " 1 --yes",
         "the value name \"" + std::string(40, 'v') + "...\" of \"Second 0\" has 17000 characters",
         1, "Second 0", ""},
        {"settings set '" + long_key + "' port 1 --yes", "(error 87: the parameter is incorrect)",
         1, long_key, ""},
        {"settings set '" + accented_key + "' port 1 --yes", "", 0, accented_key, "port=1\n"},
        {"settings set 'Third 0' " + accented_value + " 1 --yes", "", 0, "Third 0",
         accented_value + "=1\n"},
    };
    for (const auto &c : cases) {
        const Result result = RunTool(c.args);
        EXPECT_EQ(result.status, c.status) << c.args.substr(0, 60) << ": " << result.err;
        EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err.substr(0, 300);
        EXPECT_EQ(RunTool("settings show '" + c.key + "'").out, c.shown) << c.args.substr(0, 60);
    }
}

// Another program holds the store's write lock past the busy time-out: every write command
// fails with the reason, and nothing is written; init does not claim a root that is missing.
TEST_F(ToolSettings, WriteCommandsFailWhileAnotherProgramHoldsTheWriteLock) {
    // A store without the settings root, laid out by the registry itself.
    HKEY other = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\Other", 0, nullptr, 0, 0, nullptr,
                              &other, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegCloseKey(other), ERROR_SUCCESS);
    tovarine::registry::CloseStore();
    const std::string file = dir_ + "/one.reg";
    std::ofstream(file, std::ios::binary) << TwoKeys("Second 0", "port");

    sqlite3 *lock = nullptr;
    ASSERT_EQ(sqlite3_open((dir_ + "/registry.db").c_str(), &lock), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(lock, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    // Each waits out the busy time-out (cut short here); together they wait it once.
    const auto run_short_wait = [](const std::string &args) {
        return RunTool(args, "", false, TOVARINE_TOOL_SHORT_WAIT);
    };
    std::vector<std::future<Result>> runs;
    for (const char *args : {"settings init", "settings init --json"}) {
        runs.push_back(std::async(std::launch::async, run_short_wait, args));
    }
    std::vector<Result> results;
    for (auto &run : runs) results.push_back(run.get());
    sqlite3_exec(lock, "ROLLBACK", nullptr, nullptr, nullptr);

    for (const Result &result : results) {
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.out, "");
        EXPECT_NE(result.err.find("cannot be written (read-only, full disk, or locked too long) "
                                  "(error 1013)"),
                  std::string::npos)
            << result.err;
    }
    EXPECT_EQ(RunTool("settings list").status, 1);  // still no root

    ASSERT_EQ(RunTool("settings init").status, 0);
    ASSERT_EQ(sqlite3_exec(lock, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    runs.clear();
    for (std::string args : {"settings import --yes '" + file + "'",
                             std::string("settings set 'First 0' port 3 --yes"),
                             std::string("settings delete 'Other 0' --yes")}) {
        runs.push_back(std::async(std::launch::async, run_short_wait, args));
    }
    results.clear();
    for (auto &run : runs) results.push_back(run.get());
    sqlite3_exec(lock, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(lock);
    EXPECT_EQ(results[0].status, 1);
    EXPECT_NE(results[0].err.find("cannot write the changes; none was written: the settings "
                                  "store " +
                                  dir_ + "/registry.db cannot be written"),
              std::string::npos)
        << results[0].err;
    EXPECT_EQ(results[1].status, 1);
    EXPECT_NE(results[1].err.find("(error 1013)"), std::string::npos) << results[1].err;
    EXPECT_EQ(results[2].status, 1);  // there is no such instance, said without waiting
    EXPECT_EQ(RunTool("settings list").out, "");
}

// A backup is a store of its own that check reads; later changes to the store are not in it.
TEST_F(ToolSettings, BackupIsAWholeStoreThatCheckReads) {
    ASSERT_EQ(RunTool("settings init").status, 0);
    ASSERT_EQ(RunTool("settings set 'Kept 0' port 1 --yes").status, 0);
    const std::string backup = dir_ + "/backup.db", store = dir_ + "/registry.db";
    const Result made = RunTool("settings backup '" + backup + "'");
    EXPECT_EQ(made.status, 0) << made.err;
    EXPECT_EQ(made.out, "backed up " + store + " to " + backup + "\n");
    ASSERT_EQ(RunTool("settings set 'Later 0' port 2 --yes").status, 0);

    const struct {
        std::string args;
        int status;
        std::string out_or_err;  // a part of what it prints
    } cases[] = {
        {"settings check '" + backup + "'", 0,
         "store: " + backup + "\nintegrity: ok\nself-contained: yes\njournal: delete\n"},
        {"--json settings check '" + backup + "'", 0,
         "{\"store\":\"" + backup +
             "\",\"integrity\":[\"ok\"],\"self_contained\":true,\"journal\":\"delete\"}\n"},
        {"settings check '" + dir_ + "/missing.db'", 1, "cannot check " + dir_ + "/missing.db"},
        {"settings check '" + dir_ + "/one.reg'", 1, "integrity: cannot read"},
        {"settings backup '" + store + "'", 1, "is the settings store itself"},
        {"settings backup '" + dir_ + "/no/such/folder.db'", 1, "cannot write the backup"},
    };
    std::ofstream(dir_ + "/one.reg") << "not a store\n";
    for (const auto &c : cases) {
        const Result result = RunTool(c.args);
        EXPECT_EQ(result.status, c.status) << c.args;
        EXPECT_NE((result.out + result.err).find(c.out_or_err), std::string::npos)
            << c.args << ": " << result.out << result.err;
    }
    setenv("TOVARINE_REGISTRY", backup.c_str(), 1);
    EXPECT_EQ(RunTool("settings list").out, "Kept 0\n");
}

// The change list as JSON, one line however long: keys new and held, deletions, nothing to do.
TEST_F(ToolSettings, ChangeListsAsJson) {
    ASSERT_EQ(RunTool("settings init").status, 0);
    ASSERT_EQ(RunTool("settings set 'Held 0' port 80 -y").status, 0);
    const std::string file = dir_ + "/two.reg";
    std::ofstream(file) << TwoKeys("Held 0", "port");  // "First 0" port 1, "Held 0" port 2
    const std::string import =
        R"({"changes":[{"key":"First 0","new":true,"deleted":false,"values":[)"
        R"({"name":"port","from":null,"to":"1"}]},{"key":"Held 0","new":false,"deleted":false,)"
        R"("values":[{"name":"port","from":"80","to":"2"}]}],"written":)";
    const struct {
        std::string args, out;
    } cases[] = {
        {"--json settings import --dry-run '" + file + "'", import + "false}\n"},
        {"--json settings import -y '" + file + "'", import + "true}\n"},
        {"--json settings import -y '" + file + "'", "{\"changes\":[],\"written\":false}\n"},
        {"--json settings delete 'Held 0' port -y",
         R"({"changes":[{"key":"Held 0","new":false,"deleted":false,"values":[)"
         R"({"name":"port","from":"2","to":null}]}],"written":true})"
         "\n"},
        {"--json settings delete 'first 0' -y",
         R"({"changes":[{"key":"first 0","new":false,"deleted":true,"values":[)"
         R"({"name":"port","from":"1","to":null}]}],"written":true})"
         "\n"},
    };
    for (const auto &c : cases) {
        const Result result = RunTool(c.args);
        EXPECT_EQ(result.status, 0) << c.args << ": " << result.err;
        EXPECT_EQ(result.out, c.out) << c.args;
    }
}

// An export is a copy of settings: it is readable by no more users than the store, whether the
// file is new or written over, while a terminal or pipe named as the file is left as it is.
TEST_F(ToolSettings, ExportFilesAreNoWiderThanTheStore) {
    ASSERT_EQ(RunTool("settings init").status, 0);
    ASSERT_EQ(RunTool("settings set 'Kept 0' port 1 --yes").status, 0);
    const std::string store = dir_ + "/registry.db", file = dir_ + "/copy.reg";
    const std::string reg = RunTool("settings export").out,
                      json = "[{\"key\":\"Kept 0\",\"values\":{\"port\":\"1\"}}]\n";
    ASSERT_TRUE(reg.starts_with("\xff\xfe")) << reg;
    const mode_t umask_was = umask(022);
    const struct {
        mode_t store, existing;  // existing 0: the file is new
        bool json;
        mode_t expected;
    } cases[] = {
        {0600, 0, false, 0600},    {0600, 0644, false, 0600}, {0600, 0666, true, 0600},
        {0640, 0, false, 0640},    {0640, 0666, false, 0640}, {0640, 0604, false, 0600},
        {0644, 0600, false, 0600},
    };
    for (const auto &c : cases) {
        std::filesystem::remove(file);
        ASSERT_EQ(chmod(store.c_str(), c.store), 0);
        if (c.existing != 0) {
            std::ofstream(file) << std::string(100000, 'x');  // longer than the export
            ASSERT_EQ(chmod(file.c_str(), c.existing), 0);
        }
        const Result result =
            RunTool(std::string(c.json ? "--json " : "") + "settings export -o '" + file + "'");
        EXPECT_EQ(result.status, 0) << result.err;
        struct stat info {};
        ASSERT_EQ(stat(file.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, c.expected)
            << std::oct << "store " << c.store << ", file " << c.existing;
        EXPECT_EQ(Contents(file), c.json ? json : reg);
    }
    umask(umask_was);
    EXPECT_EQ(RunTool("--json settings export -o /dev/stdout").out, json);
}

// A store that cannot be read: check says so, and says of the log and journal beside it only
// what the files show.
TEST_F(ToolSettings, CheckOfAnUnreadableStoreSaysOnlyWhatIsKnown) {
    const std::string file = dir_ + "/damaged.db";
    std::string noise(8192, '\0');
    for (size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<char>((i * 7919 + 13) >> 3);
    std::ofstream(file, std::ios::binary) << noise;
    const std::string unread = "self-contained: unknown (the store could not be read)";
    const std::string nothing_beside = "; no log or journal beside it holds anything\n";
    const struct {
        const char *wal;  // the contents of FILE-wal; null: there is none
        std::string self_contained;
    } cases[] = {
        {nullptr, unread + nothing_beside},
        {"", unread + nothing_beside},
        {"twelve bytes",
         unread + "; " + file + "-wal beside it holds 12 bytes: keep it with the file\n"},
    };
    for (const auto &c : cases) {
        std::filesystem::remove(file + "-wal");
        if (c.wal != nullptr) std::ofstream(file + "-wal", std::ios::binary) << c.wal;
        const Result text = RunTool("settings check '" + file + "'");
        EXPECT_EQ(text.status, 1);
        EXPECT_TRUE(text.out.starts_with("store: " + file + "\nintegrity: cannot read"))
            << text.out;
        EXPECT_NE(text.out.find("\n" + c.self_contained), std::string::npos) << text.out;
        EXPECT_TRUE(text.out.ends_with("\njournal: unknown (the store could not be read)\n"))
            << text.out;
        EXPECT_EQ(text.out.find("holds changes"), std::string::npos) << text.out;
        const Result json = RunTool("--json settings check '" + file + "'");
        EXPECT_EQ(json.status, 1);
        EXPECT_NE(json.out.find("\"self_contained\":false,\"journal\":\"\"}"), std::string::npos)
            << json.out;
    }

    // The live store, cut short: the same words, whatever the tool read before.
    ASSERT_EQ(RunTool("settings init").status, 0);
    ASSERT_EQ(RunTool("settings set 'Kept 0' port 1 --yes").status, 0);
    const std::string store = dir_ + "/registry.db";
    std::filesystem::resize_file(store, 100);
    std::filesystem::remove(store + "-wal");
    const Result cut = RunTool("settings check");
    EXPECT_EQ(cut.status, 1) << cut.out << cut.err;
    EXPECT_NE(cut.out.find(unread + nothing_beside), std::string::npos) << cut.out << cut.err;
    EXPECT_EQ(cut.out.find("holds changes"), std::string::npos) << cut.out;
}

TEST_F(ToolSettings, ListsAndShowsWhatTheSampleServerSaved) {
    ASSERT_EQ(RunTool("settings init").status, 0);
    // A second server whose name the first one's is no prefix of, and the reverse.
    ASSERT_EQ(std::system("'" SAMPLE_SERVER "' >/dev/null"), 0);
    ASSERT_EQ(std::system("'" SAMPLE_SERVER "' Samples >/dev/null"), 0);
    // A later run loads what the first saved, and saves no instance of its own; --help saves
    // nothing at all.
    ASSERT_EQ(std::system("'" SAMPLE_SERVER "' >/dev/null"), 0);
    ASSERT_EQ(std::system("'" SAMPLE_SERVER "' --help | grep -q '^Usage: sample_server'"), 0);
    const struct {
        const char *args;
        int status;
        const char *out;
    } cases[] = {
        {"settings list", 0, "Sample Server 0\nSamples 0\n"},
        // Places count only instance keys "NAME n": neither key is an instance of "Sample".
        {"settings list Sample", 0, ""},
        {"settings list 'sample server'", 0, "1\tSample Server 0\n"},
        {"settings list sAMPLEs", 0, "1\tSamples 0\n"},
        {"settings list --json", 0, "[{\"key\":\"Sample Server 0\"},{\"key\":\"Samples 0\"}]\n"},
        {"settings --json list samples", 0, "[{\"place\":1,\"key\":\"Samples 0\"}]\n"},
        {"settings list 'Sample Server 0 '", 0, ""},
        {"settings show 'Sample Server 0'", 0,
         "port=9090\ntitle=Sample Server, east wing\nkey=5a1700c39e4201ff\n"},
        {"--json settings show 'Samples 0'", 0,
         "{\"port\":\"9090\",\"title\":\"Sample Server, east wing\","
         "\"key\":\"5a1700c39e4201ff\"}\n"},
        {"settings show 'Sample Server 1'", 1, ""},
        {"settings show 'sample server'", 1, ""},
    };
    for (const auto &c : cases) {
        const Result result = RunTool(c.args);
        EXPECT_EQ(result.status, c.status) << c.args << ": " << result.err;
        EXPECT_EQ(result.out, c.out) << c.args;
    }
}
#endif

}  // namespace
