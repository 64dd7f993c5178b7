// The settings transfer: what is listed, asked, written and assigned, for both directions.
#include <cstring>
#include <set>

#include "settings_fixture.h"

namespace tovarine::testing {
namespace {

constexpr char kKey[] = "SOFTWARE\\Zel Inc.\\Transfer";
using Text = std::optional<std::string>;

struct Host {
    char name[16] = "alpha";
    int32_t port = 80;
    unsigned char mac[2] = {0xab, 0xcd};
    int32_t skipped = 5, small = 7;  // a type without codec, an integer without room
    std::vector<SettingDescriptor> table = Table(
        {Setting("Name", 1, 16, name), Setting("Port", 4, 4, &port), Setting("Mac", 3, 2, mac),
         Setting("Skip", 2, 4, &skipped), Setting("Small", 4, 2, &small)});
};

// "Name" changed, "Port" missing, "Mac" unchanged; the skipped settings are never read.
void Store(const std::string &key) {
    Put(key, "Name", "beta");
    Put(key, "Mac", "ABcd");
    Put(key, "Small", "3");
}

using TransferTest = SettingsTest;

TEST_F(TransferTest, ListsAsksAndAppliesOnlyWhenConfirmed) {
    const struct {
        int save, selector, answer;
        bool confirmed;
    } cases[] = {{0, 0, IDYES, true}, {0, 0, IDNO, false}, {0, 0, 0, false}, {0, 3, IDNO, true},
                 {1, 0, IDYES, true}, {1, 0, IDNO, false}, {1, 0, 0, false}, {1, -2, IDNO, true}};
    for (size_t i = 0; i < std::size(cases); ++i) {
        const auto &c = cases[i];
        SCOPED_TRACE(i);
        const std::string key = kKey + std::to_string(i);
        Store(key);
        Host host;
        boxes.clear();
        fallback = c.answer;
        f9832144782(c.selector);
        EXPECT_EQ(qy63B1(owner_window.get(), key.c_str(), host.table.data(), c.save),
                  c.save || c.confirmed ? 1 : 0);
        f9832144782(0);
        EXPECT_TRUE(ScratchCleared(host.table));
        ASSERT_EQ(boxes.size(), c.selector != 0 ? 0u : 1u);
        if (c.selector == 0) {
            EXPECT_EQ(boxes[0].owner, nullptr);
            EXPECT_EQ(boxes[0].text, c.save
                                         ? "Name changing from beta to alpha\nPort saving as  80\n"
                                         : "Name changing from alpha to beta\nPort will be  80\n");
            EXPECT_EQ(boxes[0].caption, c.save ? "Update Registry?" : "Update from Registry?");
            EXPECT_EQ(boxes[0].type, 0x24u);
        }
        EXPECT_STREQ(host.name, !c.save && c.confirmed ? "beta" : "alpha");
        EXPECT_EQ(host.port + host.small, 87);
        const bool written = c.save && c.confirmed;  // then every setting, unchanged ones too
        EXPECT_EQ(Get(key, "Name"), written ? "alpha" : "beta");
        EXPECT_EQ(Get(key, "Port"), written ? Text("80") : std::nullopt);
        EXPECT_EQ(Get(key, "Mac"), written ? "abcd" : "ABcd");
        EXPECT_EQ(Get(key, "Small"), "3");
        EXPECT_EQ(Get(key, "Skip"), std::nullopt);
    }
}

TEST_F(TransferTest, NothingListedOrNothingToWorkOnAsksNothing) {
    Host host, other;
    Put(kKey, "Name", "alpha");
    Put(kKey, "Port", "80");
    Put(kKey, "Mac", "ABCD");
    EXPECT_EQ(qy63B1(nullptr, kKey, host.table.data(), 0), 0);
    EXPECT_EQ(qy63B1(nullptr, kKey, host.table.data(), 1), 1);
    EXPECT_EQ(Get(kKey, "Mac"), "ABCD");
    EXPECT_TRUE(ScratchCleared(host.table));
    EXPECT_EQ(qy63B1(nullptr, nullptr, other.table.data(), 0), 0);
    EXPECT_EQ(qy63B1(nullptr, nullptr, other.table.data(), 1), 1);
    EXPECT_TRUE(ScratchCleared(other.table)) << "scratch left as preset after a null key path";
    EXPECT_EQ(qy63B1(nullptr, kKey, nullptr, 0), 0);
    EXPECT_EQ(qy63B1(nullptr, kKey, nullptr, 1), 1);
    EXPECT_TRUE(boxes.empty());
}

TEST_F(TransferTest, LongTablesAndLongValuesAreKeptWhole) {
    std::vector<int32_t> values(40);
    std::vector<std::string> names(40);
    std::vector<SettingDescriptor> settings;
    std::string expected;
    for (int i = 0; i < 40; ++i) {
        names[i] = "Setting_" + std::to_string(i) + std::string(50, 'x');
        values[i] = i * 1000;
        expected += names[i] + " will be  " + std::to_string(i * 1000) + "\n";
        settings.push_back(Setting(names[i].c_str(), 4, 4, &values[i]));
    }
    auto table = Table(settings);
    fallback = IDNO;
    EXPECT_EQ(qy63B1(nullptr, kKey, table.data(), 0), 0);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, expected);

    const std::string text(600, 'v');
    std::vector<char> value(text.c_str(), text.c_str() + 601);
    auto long_table = Table({Setting("Long", 1, 601, value.data())});
    f9832144782(1);
    EXPECT_EQ(qy63B1(nullptr, kKey, long_table.data(), 1), 1);
    EXPECT_EQ(Get(kKey, "Long"), text);
    std::strcpy(value.data(), "short");
    EXPECT_EQ(qy63B1(nullptr, kKey, long_table.data(), 0), 1);
    EXPECT_EQ(value.data(), text);
}

TEST_F(TransferTest, FailedWriteIsReportedOnlyWhenAsking) {
    const std::string key = std::string(kRoot) + "\\" + std::string(300, 'k');
    ASSERT_EQ(Key(key, true), nullptr);
    for (int selector : {0, 1}) {
        Host host;
        boxes.clear();
        f9832144782(selector);
        EXPECT_EQ(qy63B1(nullptr, key.c_str(), host.table.data(), 1), 1);
        f9832144782(0);
        EXPECT_TRUE(ScratchCleared(host.table));
        ASSERT_EQ(boxes.size(), selector == 0 ? 2u : 0u);
        if (selector != 0) continue;
        EXPECT_EQ(boxes[1].owner, nullptr);
        EXPECT_EQ(boxes[1].caption, "Update Registry");
        EXPECT_EQ(boxes[1].type, 0x10u);
        EXPECT_EQ(boxes[1].text, "Could not save Name\nCould not save Port\nCould not save Mac\n");
    }
}

// Each failed allocation of a transfer, all boxes answered Yes, ends in one of these outcomes
// (returned, boxes shown, then the store's Name, Port and Mac after a save or the host's name
// after a load), and each of them is reached: a setting whose scratch value cannot be had is
// not listed; when the key's values cannot be read, every setting is listed as missing; a list
// that cannot be built is no Yes, so nothing is saved or loaded; a value that cannot be
// formatted is not written, and the user is told. The key's stored texts are read into local
// memory too, so their every allocation is among those walked.
TEST_F(TransferTest, SurvivesEveryAllocationFailure) {
    TOVARINE_SKIP_UNLESS_ALLOCATIONS_CAN_FAIL();
    const std::string ask = "[Update Registry?: ", name = "Name changing from beta to alpha\n",
                      port = "Port saving as  80\n", done = "] alpha 80 abcd";
    const std::string load = "[Update from Registry?: ", wb = "Port will be  80\n",
                      beta = "Name changing from alpha to beta\n";
    const std::set<std::string> outcomes[2] = {
        {"0 alpha", "1 " + load + wb + "] alpha",
         "1 " + load + "Name will be  alpha\n" + wb + "Mac will be  abcd\n] alpha",
         "1 " + load + beta + "] beta", "1 " + load + beta + wb + "] beta"},
        {"1 beta - ABcd", "1 " + ask + port + done,
         "1 " + ask + "Name saving as  alpha\n" + port + "Mac saving as  abcd\n" + done,
         "1 " + ask + name + done, "1 " + ask + name + port + done,
         "1 " + ask + name + port +
             "][Update Registry: Could not save Name\nCould not save Port\n"
             "Could not save Mac\n] beta - ABcd"}};
    for (int save : {0, 1}) {
        int run = 0, rc = -1;
        std::string key;
        Host host;
        const auto reset = [&] {
            key = kKey + std::to_string(save) + "_" + std::to_string(run++);
            Store(key);
            // Values the table does not name, long enough to make the stored texts' buffers
            // grow: their every allocation is walked too.
            Put(key, std::string(300, 'n').c_str(), std::string(600, 'v'));
            std::strcpy(host.name, "alpha");
            boxes.clear();
        };
        std::set<std::string> seen;
        reset();
        const int64_t sites = ForEachAllocationFailure(
            [&] { rc = qy63B1(nullptr, key.c_str(), host.table.data(), save); },
            [&](int64_t n) {
                EXPECT_TRUE(ScratchCleared(host.table)) << n;
                std::string outcome = std::to_string(rc) + " ";
                for (const Box &box : boxes) outcome += "[" + box.caption + ": " + box.text + "]";
                outcome += boxes.empty() ? "" : " ";
                if (save) {
                    outcome += Get(key, "Name").value_or("-") + " " +
                               Get(key, "Port").value_or("-") + " " + Get(key, "Mac").value_or("-");
                } else {
                    outcome += host.name;
                }
                EXPECT_EQ(host.port, 80);
                EXPECT_TRUE(outcomes[save].contains(outcome))
                    << "allocation " << n << ": " << outcome;
                seen.insert(outcome);
                reset();
            });
        EXPECT_EQ(seen, outcomes[save]);
        RecordAllocationSites(save ? "qy63B1 save" : "qy63B1 load", sites);
    }
}

}  // namespace
}  // namespace tovarine::testing
