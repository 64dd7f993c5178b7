// A key's stored texts, the library's own reading of a key's values (its objects are linked
// here; the Windows test program reaches only the exports).
#include <optional>
#include <string>

#include "settings/registry_text.h"
#include "settings_fixture.h"

namespace tovarine::testing {
namespace {

constexpr char kStoredKey[] = "SOFTWARE\\Zel Inc.\\Stored";
using StoredTextsTest = SettingsTest;

// A key's text values as a transfer reads them: found by name in either letter case, each up
// to its first NUL, long names and long texts whole, other types left out. Every allocation
// of the read can fail: the read then says so and holds nothing, and nothing leaks.
TEST_F(StoredTextsTest, ReadsEveryTextValueOrNothing) {
    const std::string long_name(300, 'n'), long_text(600, 't');
    HKEY key = Key(kStoredKey, true);
    ASSERT_NE(key, nullptr);
    const auto set = [&](const std::string &name, DWORD type, const std::string &bytes) {
        EXPECT_EQ(
            RegSetValueExA(key, name.c_str(), 0, type, reinterpret_cast<const BYTE *>(bytes.data()),
                           static_cast<DWORD>(bytes.size())),
            ERROR_SUCCESS);
    };
    set("Name", REG_SZ, std::string("beta\0", 5));
    set(long_name, REG_SZ, long_text + '\0');
    set("Path", REG_EXPAND_SZ, std::string("%HOME%\0", 7));
    set("Raw", REG_SZ, "abc");                       // stored without its NUL
    set("Cut", REG_SZ, std::string("ab\0cd\0", 6));  // up to the first NUL
    set("Empty", REG_SZ, std::string(1, '\0'));
    set("Count", REG_DWORD, std::string("\x07\0\0\0", 4));
    for (int i = 39; i >= 0; --i) set("V" + std::to_string(i), REG_SZ, std::to_string(i) + '\0');
    ASSERT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    key = Key(kStoredKey, false);
    ASSERT_NE(key, nullptr);

    const struct {
        std::string name;
        const char *text;  // null: not found
    } finds[] = {{"Name", "beta"},   {"nAME", "beta"},   {long_name, long_text.c_str()},
                 {"PATH", "%HOME%"}, {"raw", "abc"},     {"Cut", "ab"},
                 {"Empty", ""},      {"Count", nullptr}, {"Nam", nullptr},
                 {"Names", nullptr}, {"V0", "0"},        {"v17", "17"},
                 {"V39", "39"},      {"V40", nullptr},   {"", nullptr}};
    {
        StoredTexts stored;
        ASSERT_TRUE(stored.Read(key));
        for (const auto &f : finds) {
            const char *found = stored.Find(f.name.c_str());
            EXPECT_STREQ(found, f.text) << f.name;
        }
        EXPECT_EQ(stored.Find(nullptr), nullptr);
    }

    bool read = false, found = false;
    const int64_t sites = ForEachAllocationFailure(
        [&] {
            StoredTexts stored;
            read = stored.Read(key);
            found = stored.Find("Name") != nullptr;
        },
        [&](int64_t n) {
            EXPECT_FALSE(read) << n;
            EXPECT_FALSE(found) << n;
        });
    EXPECT_TRUE(read && found);
    // The name and the text outgrow their first buffers, and the texts theirs, several times.
    EXPECT_GE(sites, 6);
    RecordAllocationSites("stored texts", sites);
    RegCloseKey(key);
}

}  // namespace
}  // namespace tovarine::testing
