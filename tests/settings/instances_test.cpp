// Saved instances: which instance key a load or save by settings name uses, when the user is
// asked, and where a new instance goes.
#include <algorithm>
#include <functional>
#include <set>

#include "settings_fixture.h"

namespace tovarine::testing {
namespace {

const std::string kPrefix = std::string(kRoot) + "\\";
std::string Port(size_t k) { return std::to_string(1000 + k); }
constexpr uint32_t kEnumChars = kSubkeyNameChars;

class InstancesTest : public SettingsTest {
protected:
    void SetUp() override {
        SettingsTest::SetUp();
        HKEY root = Key(kRoot, true);
        ASSERT_NE(root, nullptr);
        RegCloseKey(root);
    }
    const HWND kOwner = owner_window.get();
    int32_t port = 80;
    std::vector<SettingDescriptor> table = Table({Setting("Port", 4, 4, &port)});
};

TEST_F(InstancesTest, PicksOffersAndCreatesInstances) {
    const std::vector<std::string> three = {"Srv 0", "Srv 1", "Srv 2"}, one = {"Srv 0"};
    const std::string long_key(200, 'A');
    const struct {
        std::vector<std::string> keys;  // created in this order, holding Port 1000, 1001, ...
        const char *name;
        int save, selector;
        std::vector<int> answers;  // then No
        size_t boxes;
        std::string target;  // the key loaded from or saved into; empty: none
    } cases[] = {
        {{}, "Srv", 0, 7, {}, 0, ""},
        {{}, "Srv", 1, 0, {IDYES}, 1, "Srv 0"},
        {{}, "Srv", 1, 0, {IDNO}, 1, ""},
        {one, "Srv", 0, 0, {IDYES}, 1, "Srv 0"},
        {one, "Srv", 1, 0, {IDNO}, 1, ""},
        {three, "Srv", 0, 0, {IDNO, IDYES}, 2, "Srv 1"},
        {three, "Srv", 0, 0, {}, 3, ""},
        {three, "Srv", 1, 0, {IDYES}, 1, "Srv 0"},
        {three, "Srv", 1, 0, {IDNO}, 1, ""},
        {three, "Srv", 0, 2, {}, 0, "Srv 1"},
        {three, "Srv", 1, 3, {}, 0, "Srv 2"},
        {three, "Srv", 0, 4, {}, 0, ""},
        {three, "Srv", 1, 4, {}, 0, "Srv 3"},
        {three, "Srv", 0, -1, {}, 0, ""},
        {three, "Srv", 1, -1, {}, 0, "Srv 3"},
        // Only "NAME digits" belongs to NAME: a name that begins another claims nothing.
        {{"Camera 0"}, "Cam", 1, 0, {IDYES}, 1, "Cam 0"},
        {{"Box Test 0", "Box 0x", "Box  1", "Box 1"}, "box", 1, 1, {}, 0, "Box 1"},
        {{"Box Test 0", "Box 1"}, "Box", 0, 0, {IDYES}, 1, "Box 1"},
        {{"Srv 9", "srv 10"}, "SRV", 0, 1, {}, 0, "srv 10"},       // case-insensitive order
        {{"Alpha 0", "Beta 0"}, "Alpha", 1, 2, {}, 0, "Alpha 2"},  // numbered by all subkeys
        {{"Srv 1"}, "Srv", 1, 5, {}, 0, "Srv 2"},                  // "Srv 1" is taken
        // A long subkey name hides nothing after it.
        {{long_key, "Srv 0"}, "Srv", 0, 1, {}, 0, "Srv 0"},
        {{long_key, "Srv 0"}, "Srv", 1, 0, {IDYES}, 1, "Srv 0"},
        {{long_key, "Srv 0"}, "Srv", 1, -1, {}, 0, "Srv 2"},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const auto &c = cases[i];
        SCOPED_TRACE(i);
        for (const auto &key : Subkeys(kRoot)) {
            RegDeleteKeyA(HKEY_CURRENT_USER, (kPrefix + key).c_str());
        }
        for (size_t k = 0; k < c.keys.size(); ++k) Put(kPrefix + c.keys[k], "Port", Port(k));
        port = 80;
        table[0].scratch = reinterpret_cast<void *>(1);
        boxes.clear();
        answers = c.answers;
        next = 0;
        fallback = IDNO;
        f9832144782(c.selector);
        EXPECT_EQ(qy189C(kOwner, c.name, table.data(), c.save), 0);
        f9832144782(0);
        EXPECT_EQ(table[0].scratch, nullptr);
        EXPECT_EQ(boxes.size(), c.boxes);
        for (const Box &box : boxes) EXPECT_EQ(box.owner, nullptr) << box.text;
        const auto at = std::find(c.keys.begin(), c.keys.end(), c.target);
        const bool loaded = !c.save && at != c.keys.end();
        EXPECT_EQ(std::to_string(port), loaded ? Port(at - c.keys.begin()) : "80");
        EXPECT_TRUE(!c.save || c.target.empty() || Get(kPrefix + c.target, "Port") == "80");
        for (size_t k = 0; k < c.keys.size(); ++k) {
            const bool saved_here = c.save && c.keys[k] == c.target;
            EXPECT_EQ(Get(kPrefix + c.keys[k], "Port"), saved_here ? "80" : Port(k));
        }
        const bool created = c.save && !c.target.empty() && at == c.keys.end();
        EXPECT_EQ(Subkeys(kRoot).size(), c.keys.size() + created);
    }
}

// A new instance never lands in an existing key below the settings root, whatever handle
// qy75BB enumerates and however small its buffers: a subkey that does not fit them is counted.
TEST_F(InstancesTest, NewInstanceNeverOverwritesAnExistingOne) {
    HKEY other = Key(kPrefix + "Other\\Child", true);
    ASSERT_NE(other, nullptr);
    RegCloseKey(other);
    HKEY root = Key(kRoot, false);
    other = Key(kPrefix + "Other", false);
    ASSERT_NE(root, nullptr);
    ASSERT_NE(other, nullptr);
    const struct {
        const char *what;
        HKEY key;
        uint32_t chars;
        const char *made;  // the new instance; null: any name not taken before
    } cases[] = {
        {"the root, room for every name", root, kEnumChars, "Mine 3"},
        {"the root, room for no name", root, 4, "Mine 3"},
        {"another key (one subkey)", other, kEnumChars, "Mine 3"},
        {"no key", nullptr, kEnumChars, "Mine 0"},
        {"HKEY_CURRENT_USER", HKEY_CURRENT_USER, kEnumChars, nullptr},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        for (const auto &key : Subkeys(kRoot)) {
            if (key != "Other") RegDeleteKeyA(HKEY_CURRENT_USER, (kPrefix + key).c_str());
        }
        Put(kPrefix + "Mine 1", "Port", "1");
        Put(kPrefix + "Mine 2", "Port", "2");
        const std::vector<std::string> before = Subkeys(kRoot);
        f9832144782(1);
        char name[kEnumChars], key_class[kEnumChars];
        FILETIME written{};
        EXPECT_EQ(qy75BB(c.key, kOwner, "Mine", table.data(), name, c.chars, key_class, c.chars,
                         &written),
                  0);
        f9832144782(0);
        EXPECT_EQ(Get(kPrefix + "Mine 1", "Port"), "1");
        EXPECT_EQ(Get(kPrefix + "Mine 2", "Port"), "2");
        std::vector<std::string> made;
        for (const auto &key : Subkeys(kRoot)) {
            if (std::find(before.begin(), before.end(), key) == before.end()) made.push_back(key);
        }
        ASSERT_EQ(made.size(), 1u);
        if (c.made != nullptr) {
            EXPECT_EQ(made[0], c.made);
        }
        EXPECT_EQ(Get(kPrefix + made[0], "Port"), "80");
    }
    RegCloseKey(other);
    RegCloseKey(root);
}

// Another program makes the very key a save is about to write while the user is asked. A new
// instance, and the first save of a settings name alike, is made by this save alone: it goes to
// the next free number, without asking again, and the other program's key keeps its values.
TEST_F(InstancesTest, KeyMadeByAnotherProgramWhileAsking) {
    const struct {
        const char *what;
        std::vector<std::string> before;  // instance keys there at the start, Port 1, 2, ...
        std::string made;                 // the key the other program makes while asked
        bool new_instance;                // qy75BB, else qy70EE
        std::vector<std::string> after;   // every key's Port and Other afterwards
    } cases[] = {
        {"a new instance", {"Srv 0"}, "Srv 1", true, {"Srv 0=1/-", "Srv 1=7/x", "Srv 2=80/-"}},
        {"the first save", {}, "Srv 0", false, {"Srv 0=7/x", "Srv 1=80/-"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        for (const auto &key : Subkeys(kRoot)) {
            RegDeleteKeyA(HKEY_CURRENT_USER, (kPrefix + key).c_str());
        }
        for (size_t k = 0; k < c.before.size(); ++k) {
            Put(kPrefix + c.before[k], "Port", std::to_string(k + 1));
        }
        boxes.clear();
        while_asked = [&] {
            Put(kPrefix + c.made, "Port", "7");
            Put(kPrefix + c.made, "Other", "x");
        };
        HKEY root = Key(kRoot, false);
        char name[kEnumChars], key_class[kEnumChars];
        FILETIME written{};
        EXPECT_EQ(c.new_instance ? qy75BB(root, kOwner, "Srv", table.data(), name, kEnumChars,
                                          key_class, kEnumChars, &written)
                                 : qy70EE(kOwner, "Srv", table.data()),
                  0);
        RegCloseKey(root);
        while_asked = nullptr;
        EXPECT_EQ(boxes.size(), 1u);  // asked once, and no failure to tell
        std::vector<std::string> after;
        for (const auto &key : Subkeys(kRoot)) {
            after.push_back(key + "=" + Get(kPrefix + key, "Port").value_or("-") + "/" +
                            Get(kPrefix + key, "Other").value_or("-"));
        }
        EXPECT_EQ(after, c.after);
    }
}

// A settings name as long as a key name allows (with " 0") saves and loads.
TEST_F(InstancesTest, LongestSettingsNameSavesAndLoads) {
#if defined(_WIN32)
    GTEST_SKIP() << "Wine's registry turns away a key path this long below the settings root";
#endif
    const std::string name(253, 'L');
    f9832144782(1);
    EXPECT_EQ(qy70EE(kOwner, name.c_str(), table.data()), 0);
    port = 1;
    EXPECT_EQ(qy45AF(kOwner, name.c_str(), table.data()), 0);
    f9832144782(0);
    EXPECT_EQ(port, 80);
    EXPECT_EQ(Subkeys(kRoot), std::vector<std::string>{name + " 0"});
}

TEST_F(InstancesTest, NoInstanceOrNoRoot) {
    const std::string name(300, 'n');
    EXPECT_EQ(qy45AF(kOwner, name.c_str(), table.data()), 0);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].owner, kOwner);
    EXPECT_EQ(boxes[0].caption, "Load Settings");
    EXPECT_EQ(boxes[0].type, 0u);
    EXPECT_EQ(boxes[0].text, "No settings yet saved for " + name);
    auto empty = Table({});
    EXPECT_EQ(qy70EE(kOwner, "Srv", empty.data()), 0);  // nothing to save: nothing created
    EXPECT_TRUE(Subkeys(kRoot).empty());

    boxes.clear();  // without the root: its error, nothing created, nothing shown
    ASSERT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, kRoot), ERROR_SUCCESS);
    EXPECT_EQ(qy189C(kOwner, "Srv", table.data(), 0), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(qy189C(kOwner, "Srv", table.data(), 1), ERROR_FILE_NOT_FOUND);
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(Key(kRoot, false), nullptr);
}

// Each failed allocation of a call by settings name, all boxes answered Yes, ends in one of the
// listed outcomes (returned, boxes shown, every instance's Port, the host's port), and each of
// them is reached: an instance is opened below the open root, so no allocation stands between
// the first match and its offer; a transfer that lists nothing saves nothing; a notice that
// cannot be built is not shown; a new instance whose name cannot be built is not made.
TEST_F(InstancesTest, SurvivesEveryAllocationFailure) {
    TOVARINE_SKIP_UNLESS_ALLOCATIONS_CAN_FAIL();
    const std::vector<std::string> two = {"Srv 0", "Srv 1"};
    const std::string up = "[Update Registry?: Port ", keys = "Srv 0=1 Srv 1=2 ",
                      failed = "][Update Registry: Could not save Port\n] ";
    const std::set<std::string> load = {
        "0 [Update from Registry?: Port changing from 80 to 2\n] " + keys + "80>2",
        "0 [Update from Registry?: Port will be  80\n] " + keys + "80"};
    const std::set<std::string> save = {
        "0 " + keys + "80", "0 " + up + "saving as  80\n] Srv 0=80 Srv 1=2 80",
        "0 " + up + "changing from 1 to 80\n" + failed + keys + "80"};
    const auto new_instance = [&] {
        HKEY root = Key(kRoot, false);
        char name[kEnumChars], key_class[kEnumChars];
        FILETIME written{};
        const int32_t rc = qy75BB(root, kOwner, "Srv", table.data(), name, kEnumChars, key_class,
                                  kEnumChars, &written);
        RegCloseKey(root);
        return rc;
    };
    const struct {
        std::string call;
        std::function<int32_t()> run;
        int selector;
        std::vector<std::string> keys;
        std::set<std::string> outcomes;
    } walks[] = {
        {"qy189C load", [&] { return qy189C(kOwner, "Srv", table.data(), 0); }, 0, two, load},
        {"qy189C save", [&] { return qy189C(kOwner, "Srv", table.data(), 1); }, 0, two, save},
        {"qy45AF", [&] { return qy45AF(kOwner, "Srv", table.data()); }, 0, two, load},
        {"qy70EE", [&] { return qy70EE(kOwner, "Srv", table.data()); }, 0, two, save},
        {"qy189C load, no instance",
         [&] { return qy189C(kOwner, "Srv", table.data(), 0); },
         0,
         {},
         {"0 80"}},
        {"qy189C save, no instance",
         [&] { return qy189C(kOwner, "Srv", table.data(), 1); },
         0,
         {},
         {"0 80", "0 " + up + "saving as  80\n" + failed + "80",
          "0 " + up + "saving as  80\n] Srv 1=80 80"}},
        {"qy189C load, selector 2",
         [&] { return qy189C(kOwner, "Srv", table.data(), 0); },
         2,
         two,
         {"0 " + keys + "80"}},
        // A new instance whose key cannot be looked up is not written there, but in the next.
        {"qy75BB",
         new_instance,
         0,
         two,
         {"0 " + keys + "80", "0 " + up + "saving as  80\n" + failed + keys + "80",
          "0 " + up + "saving as  80\n] " + keys + "Srv 3=80 80"}},
    };
    for (const auto &walk : walks) {
        SCOPED_TRACE(walk.call);
        int32_t rc = -1;
        std::set<std::string> seen;
        const auto reset = [&] {
            for (const auto &key : Subkeys(kRoot)) {
                RegDeleteKeyA(HKEY_CURRENT_USER, (kPrefix + key).c_str());
            }
            for (size_t k = 0; k < walk.keys.size(); ++k) {
                Put(kPrefix + walk.keys[k], "Port", std::to_string(k + 1));
            }
            port = 80;
            table[0].scratch = reinterpret_cast<void *>(1);
            boxes.clear();
        };
        reset();
        f9832144782(walk.selector);
        const int64_t sites = ForEachAllocationFailure(
            [&] { rc = walk.run(); },
            [&](int64_t n) {
                EXPECT_TRUE(ScratchCleared(table)) << n;
                std::string outcome = std::to_string(rc) + " ";
                for (const Box &box : boxes) outcome += "[" + box.caption + ": " + box.text + "]";
                outcome += boxes.empty() ? "" : " ";
                for (const auto &key : Subkeys(kRoot)) {
                    outcome += key + "=" + Get(kPrefix + key, "Port").value_or("-") + " ";
                }
                outcome += port == 80 ? "80" : "80>" + std::to_string(port);
                EXPECT_TRUE(walk.outcomes.contains(outcome))
                    << "allocation " << n << ": " << outcome;
                seen.insert(outcome);
                reset();
            });
        f9832144782(0);
        EXPECT_EQ(seen, walk.outcomes);
        RecordAllocationSites(walk.call, sites);
    }
}

}  // namespace
}  // namespace tovarine::testing
