#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/posix/local_heap.h"
#include "request/parameter_list.h"
#include "test_platform.h"
#include "tovarine.h"

namespace tovarine {
namespace {

using Slot = std::pair<const char *, const char *>;  // {nullptr, nullptr}: an empty slot
constexpr Slot kEmpty{nullptr, nullptr};

TEST(ParameterList, SplitsAndDecodes) {
    const std::pair<std::string, std::vector<Slot>> cases[] = {
        {"", {kEmpty}},
        {"?server=2&device=1 x=9", {{"server", "2"}, {"device", "1"}}},
        {"a=1&&b=2", {{"a", "1"}, {"b", "2"}, kEmpty}},
        {"&&a=1", {{"a", "1"}, kEmpty, kEmpty}},
        {"flag&b=2", {{"b", "2"}, kEmpty}},
        {"a=", {{"a", ""}}},
        {"a=1&", {{"a", "1"}, kEmpty}},
        {"=5", {{"", "5"}}},
        {"a=b=c", {{"a=b", "c"}}},
        {"a=1&?b=2", {{"a", "1"}, {"?b", "2"}}},
        {" a=1", {kEmpty}},
        {"a=1\tx\r\n", {{"a", "1\tx\r\n"}}},
        {"??", {kEmpty}},
        {"?&?n%41+=v%41+%2B&m=%00", {{"n%41+", "vA +"}, {"m", "%00"}, kEmpty}},
        {"&", {kEmpty, kEmpty}},
        {"x=1 &y=2&z=3", {{"x", "1"}}},
    };
    for (const auto &[original, slots] : cases) {
        SCOPED_TRACE("text \"" + original + "\"");
        testing::HeapGuard guard;
        std::string text = original;
        ParameterList list(text.c_str());
        text.assign(text.size(), '#');  // nothing may point into the caller's text
        ASSERT_EQ(list.count(), static_cast<int32_t>(slots.size()));
        for (int32_t i = 0; i < list.count(); ++i) {
            const auto [name, value] = slots[static_cast<size_t>(i)];
            EXPECT_STREQ(list.names()[i], name) << "slot " << i;  // both null when empty
            EXPECT_STREQ(list.values()[i], value) << "slot " << i;
        }
        EXPECT_EQ(local_heap::Allocations(), 1);  // arrays and strings share one block
    }
}

TEST(ParameterList, Lookup) {
    testing::HeapGuard guard;
    ParameterList list("server=1&a=1&a=2&=5&b");
    char **names = list.names(), **values = list.values();
    const int32_t count = list.count();
    EXPECT_STREQ(f385562("a", count, names, values), "1");
    EXPECT_STREQ(f385562("", count, names, values), "5");
    EXPECT_EQ(list.Find("a"), values[1]);
    for (const char *missing : {"Server", "b", "server=1", static_cast<const char *>(nullptr)})
        EXPECT_EQ(f385562(missing, count, names, values), nullptr) << missing;
    EXPECT_EQ(f385562("a", 0, names, values), nullptr);
    EXPECT_EQ(f385562("a", count, nullptr, values), nullptr);
    EXPECT_EQ(f385562("a", count, names, nullptr), nullptr);
}

TEST(ParameterList, ManyEqualsSignsTakeConstantBlocks) {
    testing::HeapGuard guard;
    ParameterList list((std::string(200000, '=') + "x").c_str());
    ASSERT_EQ(list.count(), 1);
    EXPECT_EQ(list.names()[0], std::string(199999, '='));
    EXPECT_STREQ(list.values()[0], "x");
    EXPECT_EQ(local_heap::Allocations(), 1);
}

TEST(ParameterList, NoLocalMemoryGivesEmptyList) {
    int32_t count = -1;
    char **names = nullptr, **values = nullptr;
    bool empty = false;
    const int64_t sites = testing::ForEachAllocationFailure(
        [&] {
            names = values = reinterpret_cast<char **>(&count);  // must be overwritten
            BuildParameterList("?a=1&b=%41&flag&&c=3 d=4", &count, &names, &values);
            empty = count == 0 && names == nullptr && values == nullptr;
            ReleaseParameterList(count, names, values);
        },
        [&](int64_t n) { EXPECT_TRUE(empty) << "allocation " << n << " failed"; });
    EXPECT_EQ(sites, 1);
    EXPECT_EQ(count, 5);  // the last run had no failure
}

}  // namespace
}  // namespace tovarine
