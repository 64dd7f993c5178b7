// "settings list NAME" against the library: for generated sets of keys below the settings root,
// the places the tool prints are exactly the instances that silent loads with the instance
// selector at 1, 2, ... read, and the next selector reads nothing.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/registry_store.h"
#include "settings/settings_root.h"
#include "tovarine.h"

namespace {

const std::string kPrefix = std::string(tovarine::kSettingsRootPath) + "\\";

std::string Upper(std::string text) {
    for (char &c : text) c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
    return text;
}

// "PLACE\tKEY" lines of `tovarine settings list NAME`; the exit status must be 0.
std::vector<std::string> ListedPlaces(const std::string &name) {
    const std::string command = "'" TOVARINE_TOOL "' settings list '" + name + "' 2>&1";
    FILE *pipe = popen(command.c_str(), "r");
    std::string out;
    char chunk[4096];
    for (size_t got; (got = fread(chunk, 1, sizeof chunk, pipe)) > 0;) out.append(chunk, got);
    const int status = pclose(pipe);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << command << ": " << out;
    std::vector<std::string> keys;
    for (size_t at = 0; at < out.size();) {
        const size_t end = out.find('\n', at);
        const std::string line = out.substr(at, end - at);
        const size_t tab = line.find('\t');
        EXPECT_EQ(line.substr(0, tab), std::to_string(keys.size() + 1)) << line;
        keys.push_back(tab == std::string::npos ? line : line.substr(tab + 1));
        at = end == std::string::npos ? out.size() : end + 1;
    }
    return keys;
}

// What a silent load of NAME with the selector at `place` reads: the value "Key" each key holds
// (its own name), or "-" when it reads nothing.
std::string LoadedAt(const std::string &name, int32_t place) {
    char key[256] = "-";
    SettingDescriptor table[] = {{"Key", 1, sizeof key, key, nullptr}, {}};
    f9832144782(place);
    EXPECT_EQ(qy45AF(nullptr, name.c_str(), table), 0);
    f9832144782(0);
    return key;
}

class ListPlaces : public ::testing::Test {
protected:
    void SetUp() override {
        // A RAM disk where there is one: the key sets are many small transactions.
        std::string dir = (std::filesystem::is_directory("/dev/shm") ? std::string("/dev/shm/")
                                                                     : ::testing::TempDir()) +
                          "list_places_XXXXXX";
        ASSERT_NE(mkdtemp(dir.data()), nullptr);
        dir_ = dir;
        setenv("TOVARINE_REGISTRY", (dir_ + "/registry.db").c_str(), 1);
        tovarine::registry::CloseStore();
        HKEY root = nullptr;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, tovarine::kSettingsRootPath, 0, nullptr, 0,
                                  KEY_ALL_ACCESS, nullptr, &root, nullptr),
                  ERROR_SUCCESS);
        RegCloseKey(root);
    }
    void TearDown() override {
        tovarine::registry::CloseStore();
        unsetenv("TOVARINE_REGISTRY");
        std::filesystem::remove_all(dir_);
    }

    // Leaves exactly `keys` below the settings root, each holding its name as "Key"; those in
    // `classed` get a class longer than any enumeration buffer.
    void Keep(const std::vector<std::string> &keys, const std::set<std::string> &classed = {}) {
        HKEY root = nullptr;
        ASSERT_EQ(
            RegOpenKeyExA(HKEY_CURRENT_USER, tovarine::kSettingsRootPath, 0, KEY_ALL_ACCESS, &root),
            ERROR_SUCCESS);
        char name[tovarine::kSubkeyNameChars];
        for (DWORD chars = sizeof name; RegEnumKeyExA(root, 0, name, &chars, nullptr, nullptr,
                                                      nullptr, nullptr) == ERROR_SUCCESS;
             chars = sizeof name) {
            ASSERT_EQ(RegDeleteKeyA(root, name), ERROR_SUCCESS) << name;
        }
        RegCloseKey(root);
        std::string long_class(tovarine::kSubkeyNameChars + 44, 'c');
        for (const std::string &key : keys) {
            HKEY made = nullptr;
            ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, (kPrefix + key).c_str(), 0,
                                      classed.contains(key) ? long_class.data() : nullptr, 0,
                                      KEY_ALL_ACCESS, nullptr, &made, nullptr),
                      ERROR_SUCCESS)
                << key;
            RegSetValueExA(made, "Key", 0, REG_SZ, reinterpret_cast<const BYTE *>(key.c_str()),
                           static_cast<DWORD>(key.size() + 1));
            ASSERT_EQ(RegCloseKey(made), ERROR_SUCCESS) << key;
        }
    }

    // Whether the tool's places for `name` are what the loads read; the differences go to
    // `report`.
    bool Agrees(const std::string &name, std::string &report) {
        const std::vector<std::string> listed = ListedPlaces(name);
        places_ += static_cast<int>(listed.size());
        bool same = true;
        for (size_t place = 1; place <= listed.size() + 1; ++place) {
            const std::string want = place <= listed.size() ? listed[place - 1] : "-";
            const std::string got = LoadedAt(name, static_cast<int32_t>(place));
            if (got != want) {
                same = false;
                report += "  \"" + name + "\" place " + std::to_string(place) + ": listed \"" +
                          want + "\", loaded \"" + got + "\"\n";
            }
        }
        return same;
    }

    std::string dir_;
    int places_ = 0;  // places listed by Agrees
};

TEST_F(ListPlaces, PlacesAreTheSelectorsInstances) {
    std::string report;
    // The instance form: "cam  18" (two blanks) and "cAmera 20" are no instances of "cam";
    // "Sample Server 0" is none of "Sample".
    Keep({"cam 17", "Cam 26", "CAM 35", "cam  18", "cAmera 20", "Sample Server 0"});
    EXPECT_TRUE(Agrees("cam", report)) << report;
    EXPECT_EQ(ListedPlaces("cam"), (std::vector<std::string>{"cam 17", "Cam 26", "CAM 35"}));
    EXPECT_TRUE(ListedPlaces("Sample").empty());
    // A key whose class does not fit the enumeration's buffer hides nothing after it.
    Keep({"Box 0", "Box 1", "Box 2"}, {"Box 0"});
    EXPECT_EQ(ListedPlaces("box"), (std::vector<std::string>{"Box 0", "Box 1", "Box 2"}));
    EXPECT_TRUE(Agrees("box", report)) << report;
}

// Key sets made of the names' instances and near misses in every form: letter cases, leading
// zeros, extra words, two blanks, digits without a blank, trailing characters, prefixes of the
// name, names of 128 to 253 characters, keys with a class longer than the buffers.
TEST_F(ListPlaces, GeneratedKeySetsAgreeWithSilentLoads) {
    std::mt19937 random(20261209);
    const auto pick = [&](size_t n) { return static_cast<size_t>(random() % n); };
    const auto letters = [&](size_t n) {
        std::string text;
        for (size_t i = 0; i < n; ++i)
            text += static_cast<char>("abcdefghijklmnopqrstuvwxyz"[pick(26)]);
        return text;
    };
    const auto digits = [&] {
        std::string text = pick(4) == 0 ? "0" : "";
        for (size_t i = 0, n = 1 + pick(4); i < n; ++i) text += static_cast<char>('0' + pick(10));
        return text;
    };
    const auto mixed_case = [&](std::string text) {
        for (char &c : text) {
            if (pick(2) == 0 && c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
        }
        return text;
    };
    constexpr int kSets = 120;
    int names = 0, disagreements = 0;
    std::string report;
    for (int set = 0; set < kSets; ++set) {
        std::string name;
        switch (pick(4)) {
            case 0:
                name = letters(1 + pick(6));
                break;
            case 1:
                name = letters(3 + pick(5)) + " " + letters(3 + pick(6));
                break;
            case 2:
                name = letters(2 + pick(4)) + " " + std::to_string(pick(30));
                break;
            default:
                name = letters(128 + pick(120));
                break;
        }
        const auto fit = [](std::string key) { return key.substr(0, 255); };
        std::vector<std::string> keys;
        std::set<std::string> folded, classed;
        for (size_t k = 0, n = 3 + pick(10); k < n; ++k) {
            const std::string like = mixed_case(name);
            std::string key;
            switch (pick(12)) {
                case 0:
                case 1:
                case 2:
                    key = like + " " + digits();
                    break;
                case 3:
                    key = like + "  " + digits();
                    break;
                case 4:
                    key = like + letters(1 + pick(3)) + " " + digits();
                    break;
                case 5:
                    key = like + " " + letters(1 + pick(6)) + " " + digits();
                    break;
                case 6:
                    key = like + digits();
                    break;
                case 7:
                    key = like + " " + digits() + letters(1);
                    break;
                case 8:
                    key = like.substr(0, 1 + pick(like.size())) + " " + digits();
                    break;
                case 9:
                    key = like + (pick(2) ? " -1" : " ");
                    break;
                case 10:
                    key = letters(1 + pick(200)) + " " + digits();
                    break;
                default:
                    key = mixed_case(letters(1 + pick(8))) + " " + digits();
                    break;
            }
            key = fit(key);
            if (key.empty() || key.back() == ' ' || key.front() == ' ' ||
                !folded.insert(Upper(key)).second) {
                continue;
            }
            keys.push_back(key);
            if (pick(8) == 0) classed.insert(key);
        }
        Keep(keys, classed);
        std::vector<std::string> asked = {mixed_case(name)};
        if (name.find(' ') != std::string::npos) asked.push_back(name.substr(0, name.find(' ')));
        for (const std::string &n : asked) {
            ++names;
            disagreements += Agrees(n, report) ? 0 : 1;
        }
    }
    std::printf("[  PLACES  ] %d key sets, %d names listed, %d places, %d disagreements\n", kSets,
                names, places_, disagreements);
    RecordProperty("key_sets", kSets);
    RecordProperty("disagreements", disagreements);
    EXPECT_EQ(disagreements, 0) << report.substr(0, 4000);
}

}  // namespace
