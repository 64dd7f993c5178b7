// "settings compare", "copy" and "restore" as a user runs them, on stores the tool sets up.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <future>
#include <string>
#include <vector>

#include "run_tool.h"
#include "settings/settings_root.h"

namespace {

#ifdef SAMPLE_SERVER

// An 8-bit .reg file of `keys`: each a key name and its lines ("\"port\"=\"80\"").
std::string RegFile(const std::vector<std::pair<std::string, std::vector<std::string>>> &keys) {
    std::string text = "REGEDIT4\n";
    for (const auto &[key, lines] : keys) {
        text += "\n[" + std::string(tovarine::kSettingsRootFullName) + "\\" + key + "]\n";
        for (const std::string &line : lines) text += line + "\n";
    }
    return text;
}

// Two instance keys that differ in every way a comparison tells apart: "title" equal, "port"
// spelt otherwise and different, "key" only in the first, "extra" (with a backslash) only in
// the second.
class CompareSettings : public ToolSettings {
protected:
    void SetUp() override {
        ToolSettings::SetUp();
        ASSERT_EQ(RunTool("settings init").status, 0);
        const std::string file = dir_ + "/lobby.reg";
        std::ofstream(file, std::ios::binary) << RegFile(
            {{"Lobby 0", {"\"title\"=\"east\"", "\"port\"=\"80\"", "\"key\"=\"k\""}},
             {"Lobby 1", {"\"title\"=\"east\"", "\"PORT\"=\"8080\"", "\"extra\"=\"x\\\\y\""}}});
        const Result made = RunTool("settings import --yes '" + file + "'");
        ASSERT_EQ(made.status, 0) << made.err;
    }
    // Everything below the settings root, to tell whether a command wrote anything.
    std::string Everything() { return RunTool("--json settings export").out; }
};

TEST_F(CompareSettings, CompareExitsZeroTwoOrOneWithExactLines) {
    const std::string differ = "< port 80\n> PORT 8080\n< key k\n> extra x\\\\y\n";
    const struct {
        std::string args;
        int status;
        std::string out;
    } cases[] = {
        {"settings compare 'Lobby 0' 'Lobby 0'", 0, ""},
        {"settings compare 'Lobby 0' 'LOBBY 0' --all", 0, "= title east\n= port 80\n= key k\n"},
        {"settings compare 'Lobby 0' 'Lobby 1'", 2, differ},
        {"settings compare 'Lobby 0' 'Lobby 1' --all", 2, "= title east\n" + differ},
        {"settings compare 'Lobby 1' 'Lobby 0'", 2,
         "< PORT 8080\n> port 80\n< extra x\\\\y\n> key k\n"},
        {"--json settings compare 'Lobby 0' 'Lobby 1'", 2,
         R"([{"name":"port","a":"80","b":"8080"},{"name":"key","a":"k","b":null},)"
         R"({"name":"extra","a":null,"b":"x\\y"}])"
         "\n"},
        {"settings compare 'Lobby 0' 'Lobby 1' --all --json", 2,
         R"([{"name":"title","a":"east","b":"east"},{"name":"port","a":"80","b":"8080"},)"
         R"({"name":"key","a":"k","b":null},{"name":"extra","a":null,"b":"x\\y"}])"
         "\n"},
        {"--json settings compare 'Lobby 0' 'Lobby 0'", 0, "[]\n"},
    };
    for (const auto &c : cases) {
        const Result result = RunTool(c.args);
        EXPECT_EQ(result.status, c.status) << c.args << ": " << result.err;
        EXPECT_EQ(result.out, c.out) << c.args;
        EXPECT_EQ(result.err, "") << c.args;
    }

    // A comparison that cannot be made is status 1, never 2, which means "different".
    std::ofstream(dir_ + "/dword.reg") << RegFile({{"Lobby 0", {"\"port\"=dword:00000050"}}});
    const struct {
        std::string args, message;
    } failures[] = {
        {"settings compare 'Lobby 0' 'Lobby 9'", "there is no instance \"Lobby 9\""},
        {"settings compare 'Lobby 9' 'Lobby 0'", "there is no instance \"Lobby 9\""},
        {"settings compare 'Lobby 0'", "--file"},
        {"settings compare 'Lobby 0' 'a\\b'", "directly under the settings root"},
        {"settings compare 'Lobby 0' --file '" + dir_ + "/none.reg'", "cannot open"},
        {"settings compare 'Lobby 0' --file '" + dir_ + "/dword.reg'", "line 4"},
    };
    for (const auto &c : failures) {
        const Result result = RunTool(c.args);
        EXPECT_EQ(result.status, 1) << c.args;
        EXPECT_EQ(result.out, "") << c.args;
        EXPECT_TRUE(result.err.starts_with("tovarine: settings") &&
                    result.err.find(c.message) != std::string::npos)
            << c.args << ": " << result.err;
    }
    // So is a command line the parser refuses.
    for (const char *args :
         {"settings compare", "settings compare A B C", "settings compare --x"}) {
        const Result result = RunTool(args);
        EXPECT_EQ(result.status, 1) << args;
        EXPECT_NE(result.err.find("tovarine settings compare --help"), std::string::npos) << args;
    }
}

TEST_F(CompareSettings, CompareTakesBFromAnExportOrABackup) {
    const std::string reg = dir_ + "/export.reg", backup = dir_ + "/backup.db";
    ASSERT_EQ(RunTool("settings export -o '" + reg + "'").status, 0);
    ASSERT_EQ(RunTool("settings backup '" + backup + "'").status, 0);
    ASSERT_EQ(RunTool("settings set 'Lobby 0' port 81 --yes").status, 0);
    std::string noise(8192, '\0');
    for (size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<char>((i * 7919 + 13) >> 3);
    std::ofstream(dir_ + "/noise.db", std::ios::binary)
        << std::string("SQLite format 3\0", 16) << noise;
    const struct {
        std::string args;
        int status;
        std::string out, err;  // err: a part of it
    } cases[] = {
        {"settings compare 'Lobby 0' --file '" + reg + "'", 2, "< port 81\n> port 80\n", ""},
        {"settings compare 'lobby 1' --file '" + reg + "'", 0, "", ""},
        {"settings compare 'Lobby 0' 'Lobby 1' --file '" + backup + "'", 2,
         "< port 81\n> PORT 8080\n< key k\n> extra x\\\\y\n", ""},
        {"settings compare 'Lobby 0' --file '" + backup + "' --all", 2,
         "= title east\n< port 81\n> port 80\n= key k\n", ""},
        {"settings compare 'Lobby 1' --file '" + backup + "'", 0, "", ""},
        {"settings compare 'Lobby 0' 'Gone 0' --file '" + backup + "'", 1, "",
         "there is no instance \"Gone 0\" in " + backup},
        {"settings compare 'Lobby 0' 'Gone 0' --file '" + reg + "'", 1, "",
         "there is no instance \"Gone 0\" in " + reg},
        {"settings compare 'Lobby 0' --file '" + dir_ + "/noise.db'", 1, "",
         "nothing was compared"},
    };
    for (const auto &c : cases) {
        const Result result = RunTool(c.args);
        EXPECT_EQ(result.status, c.status) << c.args << ": " << result.err;
        EXPECT_EQ(result.out, c.out) << c.args;
        EXPECT_NE(result.err.find(c.err), std::string::npos) << c.args << ": " << result.err;
    }
}

TEST_F(CompareSettings, CopyMakesANewKeyAndOverwritesOnlyWithForce) {
    const Result dry = RunTool("settings copy 'Lobby 0' 'Hall 0' --dry-run");
    EXPECT_EQ(dry.status, 0) << dry.err;
    EXPECT_EQ(dry.out,
              "\"Hall 0\" (a new instance key):\n  title will be  east\n  port will be  80\n"
              "  key will be  k\ndry run: nothing was written\n");
    EXPECT_EQ(RunTool("settings list").out, "Lobby 0\nLobby 1\n");
    const Result copied = RunTool("settings copy 'Lobby 0' 'Hall 0' --yes");
    EXPECT_EQ(copied.status, 0) << copied.err;
    EXPECT_EQ(RunTool("settings compare 'Lobby 0' 'Hall 0'").status, 0);

    // An existing DST is left alone without --force.
    const std::string before = Everything();
    const Result refused = RunTool("settings copy 'Lobby 1' 'hall 0' --yes");
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("--force"), std::string::npos) << refused.err;
    EXPECT_EQ(Everything(), before);

    // With it, DST becomes equal to SRC: changed, added, and its own value deleted.
    const Result forced = RunTool("settings copy 'Lobby 1' 'Hall 0' --force --yes");
    EXPECT_EQ(forced.status, 0) << forced.err;
    EXPECT_EQ(forced.out,
              "\"Hall 0\":\n  PORT changing from 80 to 8080\n  extra will be  x\\\\y\n"
              "  key deleted, was k\nwritten\n");
    EXPECT_EQ(RunTool("settings compare 'Lobby 1' 'Hall 0' --all").out,
              "= title east\n= PORT 8080\n= extra x\\\\y\n");
    EXPECT_EQ(RunTool("settings copy 'Lobby 1' 'Hall 0' --force --yes").out, "nothing to change\n");

    const struct {
        const char *args;
        int status;
        const char *message;
    } failures[] = {
        {"settings copy 'Lobby 9' 'Hall 1' --yes", 1, "there is no instance \"Lobby 9\""},
        {"settings copy 'Lobby 0' 'Hall' --yes", 2, "\"NAME n\""},
        {"settings copy 'Lobby 0' 'Hall 0\\Sub 1' --yes", 2, "directly under"},
    };
    for (const auto &c : failures) {
        const Result result = RunTool(c.args);
        EXPECT_EQ(result.status, c.status) << c.args;
        EXPECT_NE(result.err.find(c.message), std::string::npos) << c.args << ": " << result.err;
    }
    EXPECT_EQ(RunTool("settings list").out, "Hall 0\nLobby 0\nLobby 1\n");
}

TEST_F(CompareSettings, RestorePutsTheBackupsKeysBackAndKeepsOthers) {
    const std::string backup = dir_ + "/backup.db";
    ASSERT_EQ(RunTool("settings backup '" + backup + "'").status, 0);
    ASSERT_EQ(RunTool("settings set 'Lobby 0' port 99 --yes").status, 0);
    ASSERT_EQ(RunTool("settings set 'Lobby 0' added yes --yes").status, 0);
    ASSERT_EQ(RunTool("settings delete 'Lobby 1' --yes").status, 0);
    ASSERT_EQ(RunTool("settings set 'Later 0' a 1 --yes").status, 0);

    const std::string listed =
        "\"Lobby 0\":\n  port changing from 99 to 80\n  added deleted, was yes\n"
        "\"Lobby 1\" (a new instance key):\n  title will be  east\n  PORT will be  8080\n"
        "  extra will be  x\\\\y\n";
    const std::string before = Everything();
    const Result dry = RunTool("settings restore --dry-run '" + backup + "'");
    EXPECT_EQ(dry.status, 0) << dry.err;
    EXPECT_EQ(dry.out, listed + "dry run: nothing was written\n");
    EXPECT_EQ(Everything(), before);

    const Result restored = RunTool("settings restore --yes '" + backup + "'");
    EXPECT_EQ(restored.status, 0) << restored.err;
    EXPECT_EQ(restored.out, listed + "written\n");
    for (const char *key : {"Lobby 0", "Lobby 1"}) {
        EXPECT_EQ(
            RunTool("settings compare '" + std::string(key) + "' --file '" + backup + "'").status,
            0)
            << key;
    }
    EXPECT_EQ(RunTool("settings show 'Later 0'").out, "a=1\n");
    EXPECT_EQ(RunTool("settings restore --yes '" + backup + "'").out, "nothing to change\n");
}

TEST_F(CompareSettings, RestoreRefusesADamagedBackupAndWritesNothing) {
    const std::string backup = dir_ + "/backup.db", damaged = dir_ + "/damaged.db";
    ASSERT_EQ(RunTool("settings backup '" + backup + "'").status, 0);
    ASSERT_EQ(RunTool("settings set 'Lobby 0' port 99 --yes").status, 0);
    // The backup with every page after the first overwritten: the schema still names tables
    // whose pages are noise.
    std::string bytes;
    {
        std::ifstream in(backup, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), {});
    }
    ASSERT_GT(bytes.size(), 4096u);
    for (size_t i = 4096; i < bytes.size(); ++i) bytes[i] = static_cast<char>((i * 7919 + 13) >> 3);
    std::ofstream(damaged, std::ios::binary) << bytes;
    std::ofstream(dir_ + "/text.db") << "not a store\n";

    const std::string before = Everything();
    for (const std::string &file : {damaged, dir_ + "/text.db", dir_ + "/missing.db"}) {
        const Result refused = RunTool("settings restore --yes '" + file + "'");
        EXPECT_EQ(refused.status, 1) << file;
        EXPECT_EQ(refused.out, "") << file;
        EXPECT_TRUE(refused.err.starts_with("tovarine: settings: ") &&
                    refused.err.find(file) != std::string::npos)
            << file << ": " << refused.err;
        EXPECT_EQ(Everything(), before) << file;
    }
}

// Another program saves all the while: each restore is written whole or not at all, and once
// written the store holds every value of the backup.
TEST_F(CompareSettings, RestoreWhileAnotherProgramSavesIsAllOrNothing) {
    const std::string backup = dir_ + "/backup.db";
    ASSERT_EQ(RunTool("settings backup '" + backup + "'").status, 0);
    std::atomic<bool> stop{false};
    auto saver = std::async(std::launch::async, [&] {
        int saved = 0;
        for (int i = 0; !stop; ++i) {
            if (RunTool("settings set 'Busy 0' n " + std::to_string(i) + " --yes").status == 0) {
                ++saved;
            }
        }
        return saved;
    });
    int applied = 0;
    for (int round = 0; round < 6; ++round) {
        const std::string port = std::to_string(100 + round);
        ASSERT_EQ(RunTool("settings set 'Lobby 0' port " + port + " --yes").status, 0);
        RunTool("settings delete 'Lobby 1' --yes");  // none there after a restore that failed
        const Result restore = RunTool("settings restore --yes '" + backup + "'");
        if (restore.status == 0) {
            ++applied;
            for (const char *key : {"Lobby 0", "Lobby 1"}) {
                EXPECT_EQ(
                    RunTool("settings compare '" + std::string(key) + "' --file '" + backup + "'")
                        .status,
                    0)
                    << key << " after round " << round;
            }
        } else {
            EXPECT_EQ(restore.status, 1) << restore.err;
            EXPECT_EQ(RunTool("settings show 'Lobby 0' --json").out,
                      "{\"title\":\"east\",\"port\":\"" + port + "\",\"key\":\"k\"}\n");
            EXPECT_EQ(RunTool("settings list").out.find("Lobby 1"), std::string::npos);
        }
    }
    stop = true;
    EXPECT_GT(saver.get(), 0);
    EXPECT_GT(applied, 0);
    EXPECT_EQ(RunTool("settings show 'Busy 0'").status, 0);  // kept: the backup lacks it
}

#endif  // SAMPLE_SERVER

}  // namespace
