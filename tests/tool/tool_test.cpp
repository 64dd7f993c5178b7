// The command-line host as a user runs it: what it prints and how it exits.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

struct Result {
    int status;
    std::string out, err;
};

// Runs the tool with `args` (shell words) and `input` as standard input, from a file.
Result RunTool(const std::string &args, const std::string &input = "") {
    // Named by process, so that test cases run in parallel don't share the files.
    const std::string tag = std::to_string(getpid());
    const std::string in = ::testing::TempDir() + "tool_in." + tag,
                      err = ::testing::TempDir() + "tool_err." + tag;
    std::ofstream(in, std::ios::binary) << input;
    FILE *pipe = popen(("'" TOVARINE_TOOL "' " + args + " <" + in + " 2>" + err).c_str(), "r");
    Result result{};
    char chunk[4096];
    for (size_t got; (got = fread(chunk, 1, sizeof chunk, pipe)) > 0;)
        result.out.append(chunk, got);
    const int status = pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::ostringstream text;
    text << std::ifstream(err).rdbuf();
    result.err = text.str();
    std::remove(in.c_str());
    std::remove(err.c_str());
    return result;
}

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

TEST(ToolCommandLine, RejectsABadCommandLineWithOneLineAndStatus2) {
    for (const char *args : {"", "bogus", "read", "read video x", "read live a b",
                             "read live --frob", "help bogus", "settings", "settings frob",
                             "settings show", "settings show a b"}) {
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

#ifdef SAMPLE_SERVER
// Each test has a registry store of its own, in a fresh directory.
class ToolSettings : public ::testing::Test {
protected:
    void SetUp() override {
        std::string dir = ::testing::TempDir() + "tool_settings_XXXXXX";
        ASSERT_NE(mkdtemp(dir.data()), nullptr);
        dir_ = dir;
        setenv("TOVARINE_REGISTRY", (dir_ + "/registry.db").c_str(), 1);
    }
    void TearDown() override {
        unsetenv("TOVARINE_REGISTRY");
        std::filesystem::remove_all(dir_);
    }
    std::string dir_;
};

TEST_F(ToolSettings, NeedsTheRootWhichInitCreatesOnce) {
    for (const char *args : {"settings list", "settings list Sample", "settings show 'A 0'"}) {
        const Result missing = RunTool(args);
        EXPECT_EQ(missing.status, 1) << args;
        EXPECT_EQ(missing.out, "") << args;
        EXPECT_NE(missing.err.find("'tovarine settings init'"), std::string::npos) << missing.err;
    }
    const char root[] = "HKEY_CURRENT_USER\\SOFTWARE\\Zel Inc.\\Zel Quantivale Servers\n";
    EXPECT_EQ(RunTool("settings init").out, std::string("created ") + root);
    EXPECT_EQ(RunTool("settings init").out, std::string("already there: ") + root);
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
        {"settings list Sample", 0, "1\tSample Server 0\n2\tSamples 0\n"},
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
