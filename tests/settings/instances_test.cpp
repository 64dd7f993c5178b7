// Saved instances: which instance key a load or save by settings name uses, when the user is
// asked, and where a new instance goes.
#include <algorithm>

#include "settings_fixture.h"

namespace tovarine::testing {
namespace {

const std::string kPrefix = std::string(kRoot) + "\\";
std::string Port(size_t k) { return std::to_string(1000 + k); }

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
        {{}, "Srv", 0, 7, {}, 0, ""},              {{}, "Srv", 1, 0, {IDYES}, 1, "Srv 0"},
        {{}, "Srv", 1, 0, {IDNO}, 1, ""},          {one, "Srv", 0, 0, {IDYES}, 1, "Srv 0"},
        {one, "Srv", 1, 0, {IDNO}, 1, ""},         {three, "Srv", 0, 0, {IDNO, IDYES}, 2, "Srv 1"},
        {three, "Srv", 0, 0, {}, 3, ""},           {three, "Srv", 1, 0, {IDYES}, 1, "Srv 0"},
        {three, "Srv", 1, 0, {IDNO}, 1, ""},       {three, "Srv", 0, 2, {}, 0, "Srv 1"},
        {three, "Srv", 1, 3, {}, 0, "Srv 2"},      {three, "Srv", 0, 4, {}, 0, ""},
        {three, "Srv", 1, 4, {}, 0, "Srv 3"},      {three, "Srv", 0, -1, {}, 0, ""},
        {three, "Srv", 1, -1, {}, 0, "Srv 3"},
        {{"Camera 0"}, "Cam", 0, 0, {IDYES}, 1, "Camera 0"},      // the name is a prefix
        {{"camera 0"}, "CAM", 1, 0, {IDYES}, 1, "camera 0"},
        {{"Srv b", "srv a"}, "SRV", 0, 1, {}, 0, "srv a"},         // case-insensitive order
        {{"Alpha 0", "Beta 0"}, "Alpha", 1, 2, {}, 0, "Alpha 2"},  // numbered by all subkeys
        {{"Srv 1"}, "Srv", 1, 5, {}, 0, "Srv 2"},                  // "Srv 1" is taken
        // A name too long for the 128-character buffer ends the enumeration: "Srv 0" after it
        // is not seen, and the new instance steps past it instead of landing in it.
        {{long_key, "Srv 0"}, "Srv", 0, 1, {}, 0, ""},
        {{long_key, "Srv 0"}, "Srv", 1, 0, {IDYES}, 1, "Srv 1"},
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

TEST_F(InstancesTest, SurvivesEveryAllocationFailure) {
    TOVARINE_SKIP_UNLESS_ALLOCATIONS_CAN_FAIL();
    Put(kPrefix + "Srv 0", "Port", "1");
    Put(kPrefix + "Srv 1", "Port", "2");
    for (int save : {0, 1}) {
        ForEachAllocationFailure([&] { qy189C(kOwner, "Srv", table.data(), save); },
                                 [&](int64_t n) { EXPECT_TRUE(ScratchCleared(table)) << n; });
    }
}

}  // namespace
}  // namespace tovarine::testing
