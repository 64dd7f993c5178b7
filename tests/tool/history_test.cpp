// The store's history as the tool shows it (history), puts a key back from it (revert) and
// follows it as changes come (watch).
#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "platform/posix/registry_store.h"
#include "platform/posix/win32.h"
#include "run_tool.h"
#include "settings/settings_root.h"

namespace {

std::vector<std::string> Lines(const std::string &text) {
    std::vector<std::string> lines;
    std::string line;
    std::istringstream in(text);
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
}

std::string UserName() {
    const passwd *user = getpwuid(getuid());
    return user != nullptr ? user->pw_name : "uid " + std::to_string(getuid());
}

// A history line split at its fields: revision, program, user and "KEY: CHANGE".
struct HistoryLine {
    long revision = 0;
    std::string program, user, change;
};

HistoryLine Parse(const std::string &line) {
    static const std::regex kLine(
        R"(r(\d+) \d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z ([^ \[]+)\[\d+\] (.+?)  (.*))");
    std::smatch match;
    if (!std::regex_match(line, match, kLine)) {
        ADD_FAILURE() << "not a history line: " << line;
        return {};
    }
    return {std::stol(match[1]), match[2], match[3], match[4]};
}

// The "KEY: CHANGE" parts of the history's lines, newest first.
std::vector<std::string> Changes(const std::string &args) {
    const Result result = RunTool("settings history " + args);
    EXPECT_EQ(result.status, 0) << args << ": " << result.err;
    std::vector<std::string> changes;
    for (const std::string &line : Lines(result.out)) changes.push_back(Parse(line).change);
    return changes;
}

long NewestRevision() {
    const std::vector<std::string> lines = Lines(RunTool("settings history --limit 1").out);
    return lines.empty() ? 0 : Parse(lines[0]).revision;
}

void Write(const std::string &args) {
    const Result result = RunTool("settings " + args + " --yes");
    ASSERT_EQ(result.status, 0) << args << ": " << result.err;
}

class ToolHistory : public ToolSettings {
protected:
    void SetUp() override {
        ToolSettings::SetUp();
        ASSERT_EQ(RunTool("settings init").status, 0);
    }
    // Four commands: a new key, a value changed, deleted, and a second key.
    void MakeChanges() {
        Write("set 'Sample Server 0' port 80");
        Write("set 'Sample Server 0' port 8080");
        Write("delete 'Sample Server 0' port");
        Write("set 'Lobby 1' title 'east wing'");
    }
};

TEST_F(ToolHistory, ListsEachChangeNewestFirstWithWhoMadeIt) {
    MakeChanges();
    const Result result = RunTool("settings history");
    ASSERT_EQ(result.status, 0) << result.err;
    const std::vector<std::string> lines = Lines(result.out);
    const std::vector<std::string> expected = {
        "Lobby 1: title will be  east wing",       "Lobby 1: key made",
        "Sample Server 0: port deleted, was 8080", "Sample Server 0: port changing from 80 to 8080",
        "Sample Server 0: port will be  80",       "Sample Server 0: key made",
    };
    ASSERT_EQ(lines.size(), expected.size()) << result.out;
    long previous = 0;
    for (size_t i = 0; i < lines.size(); ++i) {
        const HistoryLine line = Parse(lines[i]);
        EXPECT_EQ(line.change, expected[i]);
        EXPECT_EQ(line.program, "tovarine");
        EXPECT_EQ(line.user, UserName());
        if (i > 0) {
            EXPECT_LT(line.revision, previous) << lines[i];
        }
        previous = line.revision;
    }

    // The same changes as one JSON array, with the command line that made each.
    const Result json = RunTool("settings history --json --limit 3");
    ASSERT_EQ(json.status, 0) << json.err;
    const std::string pid_user = "\"pid\":\\d+,\"user\":\"" + UserName() + "\"";
    const std::regex kJson(
        "\\[\\{\"revision\":\\d+,\"time\":\"[-0-9T:.]+Z\",\"program\":\"tovarine\"," + pid_user +
        ",\"command\":\"[^\"]*settings set 'Lobby 1' title 'east wing' --yes\","
        "\"key\":\"Lobby 1\",\"name\":\"title\",\"old\":null,\"new\":\"east wing\"\\},"
        "\\{\"revision\":\\d+,\"time\":\"[^\"]+\",\"program\":\"tovarine\"," +
        pid_user +
        ",\"command\":\"[^\"]+\",\"key\":\"Lobby 1\",\"name\":null,\"old\":null,\"new\":true\\},"
        "\\{\"revision\":\\d+,\"time\":\"[^\"]+\",\"program\":\"tovarine\"," +
        pid_user +
        ",\"command\":\"[^\"]*settings delete 'Sample Server 0' port --yes\","
        "\"key\":\"Sample Server 0\",\"name\":\"port\",\"old\":\"8080\",\"new\":null\\}\\]\n");
    EXPECT_TRUE(std::regex_match(json.out, kJson)) << json.out;
}

TEST_F(ToolHistory, FiltersByKeyNameTimeAndCount) {
    MakeChanges();
    const std::vector<std::string> lobby = {"Lobby 1: title will be  east wing",
                                            "Lobby 1: key made"};
    const struct {
        const char *args;
        size_t lines;
        const char *first;
    } cases[] = {
        {"'Sample Server 0'", 4, "Sample Server 0: port deleted, was 8080"},
        {"'sample SERVER 0'", 4, "Sample Server 0: port deleted, was 8080"},
        {"'Sample Server'", 4, "Sample Server 0: port deleted, was 8080"},
        {"Sample", 0, nullptr},  // neither an instance key's whole name nor its settings name
        {"'Sample Server 1'", 0, nullptr},
        {"'Lobby 1' 'Sample Server'", 6, "Lobby 1: title will be  east wing"},
        {"--limit 2", 2, "Lobby 1: title will be  east wing"},
        {"'Sample Server 0' --limit 1", 1, "Sample Server 0: port deleted, was 8080"},
        {"--since 1d", 6, "Lobby 1: title will be  east wing"},
        {"--since 90s", 6, "Lobby 1: title will be  east wing"},
        {"--since 11574074d", 6, "Lobby 1: title will be  east wing"},
        {"--since 2000-01-01", 6, "Lobby 1: title will be  east wing"},
        {"--since 2000-01-01T00:00:00.5Z", 6, "Lobby 1: title will be  east wing"},
        {"--since 2000-02-29T23:59:59", 6, "Lobby 1: title will be  east wing"},
        {"--since 9999-12-31", 0, nullptr},
        {"--since 9999-12-31T23:59:59.999Z", 0, nullptr},
    };
    for (const auto &c : cases) {
        const std::vector<std::string> changes = Changes(c.args);
        ASSERT_EQ(changes.size(), c.lines) << c.args;
        if (c.first != nullptr) {
            EXPECT_EQ(changes[0], c.first) << c.args;
        }
    }
    EXPECT_EQ(Changes("'LOBBY'"), lobby);

    for (const char *args :
         {"--limit 0", "--limit -3", "--limit x", "--since yesterday", "--since 7w",
          "--since 11574075d", "--since 2026-13-01", "--since 2026-02-29",
          "--since 2026-12-01T24:00:00", "--since 2026-12-01T09:30",
          "--since 2026-12-01T09:30:00.Z", "--since 2026-12-01Z",
          "--since 2026-12-01T09:30:00+01:00", "--retain 0", "--retain 5:", "--retain 5:0",
          "--retain x", "--retain 5 'Lobby 1'", "--retain --limit 2"}) {
        const Result result = RunTool("settings history " + std::string(args));
        EXPECT_EQ(result.status, 2) << args << ": " << result.err;
        EXPECT_EQ(result.out, "") << args;
        EXPECT_EQ(Lines(result.err).size(), 1u) << args << ": " << result.err;
    }
}

TEST_F(ToolHistory, RetainShowsAndSetsTheBoundWithoutRecordingAChange) {
    const struct {
        const char *args;
        const char *out;
    } cases[] = {
        {"--retain", "keeps the newest 100000 changes, none older than 365 days\n"},
        {"--retain 5000", "keeps the newest 5000 changes, none older than 365 days\n"},
        {"--retain 3:30", "keeps the newest 3 changes, none older than 30 days\n"},
        {"--retain 4", "keeps the newest 4 changes, none older than 30 days\n"},
        {"--json --retain", "{\"changes\":4,\"days\":30}\n"},
        {"--retain 2:1 --json", "{\"changes\":2,\"days\":1}\n"},
    };
    for (const auto &c : cases) {
        const Result result = RunTool(std::string("settings history ") + c.args);
        EXPECT_EQ(result.status, 0) << c.args << ": " << result.err;
        EXPECT_EQ(result.out, c.out) << c.args;
    }
    // Setting the bound is no change of the settings; setting it prunes the history to it.
    EXPECT_EQ(Changes(""), std::vector<std::string>{});
    ASSERT_EQ(RunTool("settings history --retain 100").status, 0);
    MakeChanges();
    ASSERT_EQ(Changes("").size(), 6u);
    ASSERT_EQ(RunTool("settings history --retain 2").status, 0);
    EXPECT_EQ(Changes(""),
              (std::vector<std::string>{"Lobby 1: title will be  east wing", "Lobby 1: key made"}));
}

TEST_F(ToolHistory, RevertBringsADeletedKeyBackAndIsAChangeOfItsOwn) {
    Write("set 'Sample Server 0' port 80");
    Write("set 'Sample Server 0' title 'east wing'");
    const long before_delete = NewestRevision();
    Write("delete 'Sample Server 0'");
    Write("set 'Sample Server 0' port 9090");  // made again, with another value

    const std::string revert =
        "settings revert 'Sample Server 0' --to " + std::to_string(before_delete);
    const Result dry = RunTool(revert + " --dry-run");
    EXPECT_EQ(dry.status, 0) << dry.err;
    EXPECT_EQ(dry.out,
              "\"Sample Server 0\":\n  port changing from 9090 to 80\n  title will be  east wing\n"
              "dry run: nothing was written\n");
    EXPECT_EQ(RunTool("settings show 'Sample Server 0'").out, "port=9090\n");

    const Result written = RunTool(revert + " --yes");
    EXPECT_EQ(written.status, 0) << written.err;
    EXPECT_EQ(RunTool("settings show 'Sample Server 0'").out, "port=80\ntitle=east wing\n");
    const std::vector<std::string> changes = Changes("--limit 2");
    EXPECT_EQ(changes,
              (std::vector<std::string>{"Sample Server 0: title will be  east wing",
                                        "Sample Server 0: port changing from 9090 to 80"}));
    const Result json = RunTool("settings history --json --limit 1");
    EXPECT_NE(json.out.find("settings revert 'Sample Server 0' --to"), std::string::npos)
        << json.out;
    // Back as it was: nothing more to change.
    EXPECT_EQ(RunTool(revert + " --yes").out, "nothing to change\n");

    // Right after the deletion the key was not there: the revert deletes it.
    const Result again = RunTool("settings revert 'sample server 0' --yes --to " +
                                 std::to_string(before_delete + 3));
    EXPECT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(RunTool("settings show 'Sample Server 0'").status, 1);
    // Made again, it is spelt as it was.
    ASSERT_EQ(
        RunTool("settings revert 'SAMPLE server 0' --yes " + revert.substr(revert.find("--to")))
            .status,
        0);
    EXPECT_EQ(RunTool("settings list").out, "Sample Server 0\n");
}

TEST_F(ToolHistory, RevertDeletesWhatCameLaterAndStaysWithinTheHistory) {
    Write("set 'Lobby 1' port 80");
    const long made = NewestRevision();
    Write("set 'Lobby 1' extra 1");
    Write("set 'Lobby 1' port 81");
    Write("set 'Sample Server 0' port 1");  // another key's change is not undone

    const Result values = RunTool("settings revert 'Lobby 1' --yes --to " + std::to_string(made));
    EXPECT_EQ(values.status, 0) << values.err;
    EXPECT_EQ(values.out,
              "\"Lobby 1\":\n  port changing from 81 to 80\n  extra deleted, was 1\nwritten\n");
    EXPECT_EQ(RunTool("settings show 'Lobby 1'").out, "port=80\n");
    EXPECT_EQ(RunTool("settings show 'Sample Server 0'").out, "port=1\n");

    // Before the key was made, it was not there.
    const Result whole =
        RunTool("settings revert 'Lobby 1' --yes --to " + std::to_string(made - 2));
    EXPECT_EQ(whole.status, 0) << whole.err;
    EXPECT_EQ(whole.out,
              "\"Lobby 1\" will be deleted with its 1 value:\n  port deleted, was "
              "80\nwritten\n");
    EXPECT_EQ(RunTool("settings show 'Lobby 1'").status, 1);

    const long newest = NewestRevision();
    for (const std::string &to : {std::to_string(newest + 1), std::string("-1")}) {
        const Result outside = RunTool("settings revert 'Lobby 1' --yes --to " + to);
        EXPECT_EQ(outside.status, 1) << to;
        EXPECT_NE(outside.err.find("is not in the history: the history holds r"), std::string::npos)
            << outside.err;
    }
    // Once the oldest changes are pruned, a revision before them cannot be worked back to.
    Write("set 'Lobby 1' port 82");
    ASSERT_EQ(RunTool("settings history --retain 2").status, 0);
    const Result pruned = RunTool("settings revert 'Lobby 1' --yes --to " + std::to_string(made));
    EXPECT_EQ(pruned.status, 1);
    EXPECT_NE(pruned.err.find("r" + std::to_string(made) + " is not in the history"),
              std::string::npos)
        << pruned.err;
    EXPECT_EQ(RunTool("settings show 'Lobby 1'").out, "port=82\n");
}

// A value written as a server might, through the registry itself.
void SetValue(const std::string &key, const char *name, DWORD type, const void *data, DWORD size) {
    HKEY handle = nullptr;
    const std::string path = std::string(tovarine::kSettingsRootPath) + "\\" + key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &handle, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(handle, name, 0, type, static_cast<const BYTE *>(data), size),
              ERROR_SUCCESS);
    ASSERT_EQ(RegCloseKey(handle), ERROR_SUCCESS);
    tovarine::registry::CloseStore();
}

// A value that is not text, now or in a change to be undone, stops the revert before it writes.
TEST_F(ToolHistory, RevertWritesNothingWhenAValueInTheWayIsNotText) {
    Write("set 'Lobby 1' port 80");
    const long before = NewestRevision();
    const DWORD seven = 7;
    SetValue("Lobby 1", "flags", REG_DWORD, &seven, sizeof seven);
    EXPECT_EQ(Changes("--limit 1"), std::vector<std::string>{"Lobby 1: flags will be  7"});
    const Result now = RunTool("settings revert 'Lobby 1' --yes --to " + std::to_string(before));
    EXPECT_EQ(now.status, 1);
    EXPECT_NE(now.err.find("is not text (type 4)"), std::string::npos) << now.err;

    SetValue("Lobby 1", "flags", REG_SZ, "seven", 6);  // text now, a number in the history
    const Result then = RunTool("settings revert 'Lobby 1' --yes --to " + std::to_string(before));
    EXPECT_EQ(then.status, 1);
    EXPECT_NE(then.err.find("was not text (type 4); nothing was written"), std::string::npos)
        << then.err;
    EXPECT_EQ(RunTool("settings show 'Lobby 1'").out, "port=80\nflags=seven\n");
}

// Reads a line of the pipe, nullopt at its end.
std::optional<std::string> ReadLine(FILE *pipe) {
    char line[4096];
    if (std::fgets(line, sizeof line, pipe) == nullptr) return std::nullopt;
    return std::string(line);
}

// How long a watch started with popen is given to read where the history stands, before the
// change it is to see is made.
constexpr auto kWatchStart = std::chrono::milliseconds(400);

TEST_F(ToolHistory, WatchSeesAnotherProgramsCommitAtOnce) {
    FILE *watch = popen(("'" TOVARINE_TOOL "' settings watch --count 1 --timeout 10 --json "
                         "'Sample Server'"),
                        "r");
    ASSERT_NE(watch, nullptr);
    std::this_thread::sleep_for(kWatchStart);
    Write("set 'Lobby 1' port 1");  // not watched
    Write("set 'Sample Server 0' port 8080");
    const auto committed = std::chrono::steady_clock::now();
    const std::optional<std::string> line = ReadLine(watch);
    const auto seen = std::chrono::steady_clock::now();
    EXPECT_EQ(pclose(watch), 0);
    ASSERT_TRUE(line);
    // The key is made before its value: the first change is the key's.
    EXPECT_TRUE(std::regex_match(
        *line,
        std::regex("\\{\"revision\":\\d+,\"time\":\"[^\"]+\",\"program\":\"tovarine\","
                   "\"pid\":\\d+,\"user\":\"[^\"]*\",\"command\":\"[^\"]+\","
                   "\"key\":\"Sample Server 0\",\"name\":null,\"old\":null,\"new\":true\\}\n")))
        << *line;
    // Half a second promised, and as much again for a busy machine.
    EXPECT_LT(seen - committed, std::chrono::milliseconds(1000));

#ifdef SAMPLE_SERVER
    // A server's save, in the history's line form.
    watch = popen("'" TOVARINE_TOOL "' settings watch --count 2 --timeout 10", "r");
    ASSERT_NE(watch, nullptr);
    std::this_thread::sleep_for(kWatchStart);
    ASSERT_EQ(std::system("'" SAMPLE_SERVER "' Samples >/dev/null"), 0);
    std::vector<std::string> lines;
    while (const std::optional<std::string> got = ReadLine(watch)) lines.push_back(*got);
    EXPECT_EQ(pclose(watch), 0);
    ASSERT_EQ(lines.size(), 2u);
    lines[0].pop_back();
    EXPECT_EQ(Parse(lines[0]).change, "Samples 0: key made");
    EXPECT_NE(Parse(lines[0]).program, "tovarine");
    EXPECT_TRUE(lines[1].find("Samples 0: ") != std::string::npos) << lines[1];
    EXPECT_TRUE(lines[1].find(" will be  ") != std::string::npos) << lines[1];
#endif
}

TEST_F(ToolHistory, WatchEndsWithItsTimeOutOrAStopSignal) {
    const Result quiet = RunTool("settings watch --timeout 0.3 --count 2");
    EXPECT_EQ(quiet.status, 1);
    EXPECT_EQ(quiet.out, "");
    EXPECT_EQ(quiet.err, "tovarine: settings: the time-out came after 0 of 2 changes\n");

    for (const char *args : {"--count 0", "--timeout 0", "--timeout -1", "--timeout x"}) {
        const Result bad = RunTool("settings watch " + std::string(args));
        EXPECT_EQ(bad.status, 2) << args << ": " << bad.err;
    }

    for (const int signal : {SIGTERM, SIGINT}) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            execl(TOVARINE_TOOL, TOVARINE_TOOL, "settings", "watch", static_cast<char *>(nullptr));
            _exit(127);
        }
        std::this_thread::sleep_for(kWatchStart);
        kill(child, signal);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status)) << signal;
        EXPECT_EQ(WEXITSTATUS(status), 0) << signal;
    }
}

}  // namespace
