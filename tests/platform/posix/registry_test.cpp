// The POSIX registry: Win32 behaviour of keys and values, and one store shared by processes.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/registry_store.h"
#include "store_fixture.h"
#include "platform/posix/registry_test_controls.h"
#include "platform/posix/win32.h"

namespace {

namespace fs = std::filesystem;
using tovarine::registry::CloseStore;
using Names = std::vector<std::string>;
const HKEY kUser = HKEY_CURRENT_USER;

LONG Create(const char *path, HKEY *key, HKEY parent = kUser, const char *key_class = nullptr,
            DWORD *disposition = nullptr) {
    return RegCreateKeyExA(parent, path, 0, const_cast<char *>(key_class), 0, KEY_ALL_ACCESS,
                           nullptr, key, disposition);
}
LONG Open(const char *path, HKEY *key, HKEY parent = kUser) {
    return RegOpenKeyExA(parent, path, 0, KEY_READ, key);
}
LONG Set(HKEY key, const char *name, DWORD type, const void *data, DWORD bytes) {
    return RegSetValueExA(key, name, 0, type, static_cast<const BYTE *>(data), bytes);
}
LONG Query(HKEY key, const char *name, void *data, DWORD *bytes, DWORD *type = nullptr) {
    return RegQueryValueExA(key, name, nullptr, type, static_cast<BYTE *>(data), bytes);
}
LONG EnumKey(HKEY key, DWORD index, char *name, DWORD *chars, char *key_class = nullptr,
             DWORD *class_chars = nullptr, FILETIME *time = nullptr) {
    return RegEnumKeyExA(key, index, name, chars, nullptr, key_class, class_chars, time);
}

Names Subkeys(HKEY key) {
    Names names;
    char name[256];
    for (DWORD chars = sizeof name; EnumKey(key, names.size(), name, &chars) == 0;
         chars = sizeof name)
        names.emplace_back(name, chars);
    return names;
}

using tovarine::store_testing::Contents;

// Runs each body in its own child process, all at once; true when every one succeeded.
bool RunInChildren(const std::vector<std::function<bool()>> &bodies) {
    CloseStore();  // no connection crosses a fork
    std::vector<pid_t> children;
    for (const auto &body : bodies)
        if (const pid_t pid = fork(); pid == 0)
            _exit(body() ? 0 : 1);
        else
            children.push_back(pid);
    bool all = true;
    for (const pid_t pid : children) {
        int status = 0;
        all = waitpid(pid, &status, 0) == pid && WIFEXITED(status) && !WEXITSTATUS(status) && all;
    }
    return all;
}

class Registry : public tovarine::store_testing::FreshStoreTest {};

TEST_F(Registry, KeysMatchCaseInsensitivelyKeepTheirCaseAndEnumerateInUpperCaseOrder) {
    HKEY parent = nullptr, key = nullptr;
    DWORD disposition = 0;
    ASSERT_EQ(Create("Software\\Order", &parent, kUser, nullptr, &disposition), 0);
    EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
    for (const char *name : {"beta", "Alpha", "GAMMA", "_x"}) {
        ASSERT_EQ(Create(name, &key, parent, "cls"), 0);
        RegCloseKey(key);
    }
    ASSERT_EQ(Create("SOFTWARE\\order\\ALPHA", &key, kUser, nullptr, &disposition), 0);
    EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
    RegCloseKey(key);
    EXPECT_EQ(Subkeys(parent), (Names{"Alpha", "beta", "GAMMA", "_x"}));
    char name[16], key_class[16];
    DWORD name_chars = sizeof name, class_chars = sizeof key_class;
    FILETIME time{};
    ASSERT_EQ(EnumKey(parent, 0, name, &name_chars, key_class, &class_chars, &time), 0);
    EXPECT_STREQ(key_class, "cls");
    EXPECT_GT((uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime,
              132223104000000000ull);  // 2020-01-01
    EXPECT_EQ(EnumKey(parent, 4, name, &name_chars), ERROR_NO_MORE_ITEMS);
    EXPECT_EQ(Open("Software\\Missing", &key), ERROR_FILE_NOT_FOUND);
    // No path: a new handle to the same key, except HKEY_CURRENT_USER, which hands back itself.
    ASSERT_EQ(Open(nullptr, &key, parent), 0);
    EXPECT_NE(key, parent);
    EXPECT_EQ(Subkeys(key).size(), 4u);
    RegCloseKey(key);
    EXPECT_EQ(Open("", &key), 0);
    EXPECT_EQ(key, kUser);
    RegCloseKey(parent);
}

TEST_F(Registry, NamesAndClassesNeedRoomForTheirTerminator) {
    const struct {
        size_t name_length;
        DWORD name_chars;
        size_t class_length;
        DWORD class_chars;
        LONG expected;
    } cases[] = {{127, 128, 0, 1, 0},
                 {128, 128, 0, 1, ERROR_MORE_DATA},
                 {128, 129, 0, 1, 0},
                 {3, 16, 5, 5, ERROR_MORE_DATA},
                 {3, 16, 5, 6, 0}};
    int n = 0;
    for (const auto &c : cases) {
        HKEY parent = nullptr, key = nullptr;
        const std::string child(c.name_length, 'n'), key_class(c.class_length, 'c');
        ASSERT_EQ(Create(("Sizes\\" + std::to_string(++n)).c_str(), &parent), 0);
        ASSERT_EQ(Create(child.c_str(), &key, parent, key_class.c_str()), 0);
        RegCloseKey(key);  // a new key is made when its handle's writes are committed
        std::vector<char> name(c.name_chars), class_text(c.class_chars);
        DWORD name_chars = c.name_chars, class_chars = c.class_chars;
        EXPECT_EQ(EnumKey(parent, 0, name.data(), &name_chars, class_text.data(), &class_chars),
                  c.expected)
            << "case " << n;
        EXPECT_TRUE(c.expected || name_chars == c.name_length) << "case " << n;
        RegCloseKey(parent);
    }
}

// `count` copies of `text`.
std::string Repeat(const std::string &text, size_t count) {
    std::string repeated;
    for (size_t i = 0; i < count; ++i) repeated += text;
    return repeated;
}

// Key names are held to 255 characters: UTF-16 units where the name is UTF-8 (a character beyond
// U+FFFF counts two), bytes where it is not.
TEST_F(Registry, PathsFollowWin32Rules) {
    const std::string too_long(256, 'k');
    const std::string e_acute = "\xC3\xA9", smiley = "\xF0\x9F\x98\x80";
    const struct {
        std::string path;
        LONG expected;
    } cases[] = {{"Path\\a\\", 0},
                 {"\\Path", ERROR_BAD_PATHNAME},
                 {"Path\\\\b", ERROR_INVALID_PARAMETER},
                 {std::string(255, 'k'), 0},
                 {too_long, ERROR_INVALID_PARAMETER},
                 {"Path\\" + too_long, ERROR_INVALID_PARAMETER},
                 {Repeat(e_acute, 200) + " 0", 0},  // 202 characters in 402 bytes
                 {Repeat(e_acute, 255), 0},
                 {Repeat(e_acute, 256), ERROR_INVALID_PARAMETER},
                 {"Path\\" + Repeat(e_acute, 256), ERROR_INVALID_PARAMETER},
                 {Repeat(smiley, 127) + "k", 0},  // 255 UTF-16 units
                 {Repeat(smiley, 128), ERROR_INVALID_PARAMETER},
                 {std::string(255, '\xE9'), 0},  // not UTF-8: bytes
                 {std::string(256, '\xE9'), ERROR_INVALID_PARAMETER}};
    for (const auto &c : cases) {
        HKEY key = nullptr;
        EXPECT_EQ(Create(c.path.c_str(), &key), c.expected) << c.path;
        if (c.expected == 0) RegCloseKey(key);
        EXPECT_EQ(Open(c.path.c_str(), &key), c.expected) << c.path;
        if (c.expected == 0) RegCloseKey(key);
    }
    HKEY path = nullptr;
    ASSERT_EQ(Open("PATH", &path), 0);
    EXPECT_EQ(Subkeys(path), Names{"a"});
    RegCloseKey(path);
}

// Value names are held to 16,383 characters, counted as key names are; through a key's handle
// and through HKEY_CURRENT_USER itself alike.
TEST_F(Registry, ValueNamesAreHeldToTheirLimitInCharacters) {
    const std::string e_acute = "\xC3\xA9";
    const struct {
        std::string name;
        LONG expected;
    } cases[] = {{std::string(16383, 'n'), 0},
                 {std::string(16384, 'n'), ERROR_INVALID_PARAMETER},
                 {Repeat(e_acute, 16383), 0},  // 32,766 bytes
                 {Repeat(e_acute, 16384), ERROR_INVALID_PARAMETER},
                 {std::string(16384, '\xE9'), ERROR_INVALID_PARAMETER}};
    HKEY key = nullptr;
    ASSERT_EQ(Create("Names", &key), 0);
    for (const HKEY through : {key, kUser}) {
        for (const auto &c : cases) {
            EXPECT_EQ(Set(through, c.name.c_str(), REG_SZ, "v", 2), c.expected) << c.name.size();
            ASSERT_EQ(RegFlushKey(through), 0);
            DWORD bytes = 0;
            EXPECT_EQ(Query(through, c.name.c_str(), nullptr, &bytes),
                      c.expected == 0 ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND)
                << c.name.size();
        }
    }
    RegCloseKey(key);
}

TEST_F(Registry, ValuesRoundTripWithWin32SizeRules) {
    HKEY key = nullptr;
    ASSERT_EQ(Create("Values", &key), 0);
    const DWORD number = 0x12345678;
    ASSERT_EQ(Set(key, "Text", REG_SZ, "hello", 6), 0);
    ASSERT_EQ(Set(key, "Number", REG_DWORD, &number, sizeof number), 0);
    ASSERT_EQ(Set(key, nullptr, REG_SZ, "def", 3), 0);  // without its NUL
    char data[16];
    DWORD type = 0, bytes = 3;
    EXPECT_EQ(Query(key, "TEXT", data, &bytes, &type), ERROR_MORE_DATA);
    EXPECT_EQ(bytes, 6u);
    EXPECT_EQ(type, REG_SZ);
    std::memset(data, 'x', sizeof data);
    bytes = sizeof data;
    EXPECT_EQ(Query(key, "", data, &bytes), 0);
    EXPECT_EQ(bytes, 3u);
    EXPECT_STREQ(data, "def");
    EXPECT_EQ(Query(key, "Missing", nullptr, &bytes), ERROR_FILE_NOT_FOUND);
    // Replacing keeps the value's place and name; values enumerate in the order first set.
    ASSERT_EQ(Set(key, "NUMBER", REG_BINARY, "hello", 2), 0);
    Names names;
    char name[16];
    for (DWORD chars = sizeof name;
         RegEnumValueA(key, names.size(), name, &chars, nullptr, nullptr, nullptr, nullptr) == 0;
         chars = sizeof name)
        names.emplace_back(name, chars);
    EXPECT_EQ(names, (Names{"Text", "Number", ""}));
    DWORD name_chars = sizeof name;
    bytes = 1;
    EXPECT_EQ(RegEnumValueA(key, 1, name, &name_chars, nullptr, &type,
                            reinterpret_cast<BYTE *>(data), &bytes),
              ERROR_MORE_DATA);
    EXPECT_EQ(type, REG_BINARY);
    EXPECT_EQ(bytes, 2u);
    // So does a value set again in a later commit, beside a new one; also in a store laid out
    // before values had their order index, which the next open adds.
    ASSERT_EQ(RegFlushKey(key), 0);
    ASSERT_EQ(Set(key, "TEXT", REG_SZ, "bye", 4), 0);
    ASSERT_EQ(Set(key, "Later", REG_SZ, "new", 4), 0);
    ASSERT_EQ(RegCloseKey(key), 0);
    sqlite3 *db = nullptr;
    ASSERT_EQ(sqlite3_open(std::getenv("TOVARINE_REGISTRY"), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "DROP INDEX vals_order", nullptr, nullptr, nullptr), SQLITE_OK);
    CloseStore();
    ASSERT_EQ(Open("Values", &key), 0);
    names.clear();
    for (DWORD chars = sizeof name;
         RegEnumValueA(key, names.size(), name, &chars, nullptr, nullptr, nullptr, nullptr) == 0;
         chars = sizeof name)
        names.emplace_back(name, chars);
    EXPECT_EQ(names, (Names{"Text", "Number", "", "Later"}));
    bytes = sizeof data;
    EXPECT_EQ(Query(key, "text", data, &bytes), 0);
    EXPECT_STREQ(data, "bye");
    bool indexed = false;
    sqlite3_exec(
        db, "SELECT 1 FROM sqlite_master WHERE name = 'vals_order'",
        [](void *found, int, char **, char **) { return *static_cast<bool *>(found) = true, 0; },
        &indexed, nullptr);
    EXPECT_TRUE(indexed);
    sqlite3_close(db);
    EXPECT_EQ(RegDeleteValueA(key, "text"), 0);
    EXPECT_EQ(RegDeleteValueA(key, "Text"), ERROR_FILE_NOT_FOUND);
    RegCloseKey(key);
}

TEST_F(Registry, DeletedKeysAndClosedHandles) {
    HKEY child = nullptr, again = nullptr;
    ASSERT_EQ(Create("Del\\Child", &child), 0);
    ASSERT_EQ(Set(child, "v", REG_BINARY, "x", 1), 0);
    EXPECT_EQ(RegDeleteKeyA(kUser, "Del"), ERROR_FILE_NOT_FOUND);  // made only at the flush
    ASSERT_EQ(RegFlushKey(child), 0);
    EXPECT_EQ(RegDeleteKeyA(kUser, "Del"), ERROR_ACCESS_DENIED);  // it has a subkey
    EXPECT_EQ(RegDeleteKeyA(kUser, "del\\CHILD"), 0);
    EXPECT_EQ(RegDeleteKeyA(kUser, "Del\\Child"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteKeyA(kUser, "Del"), 0);
    ASSERT_EQ(Create("Del\\Child", &again), 0);  // a new key, which the old handle does not reach
    EXPECT_EQ(Query(again, "v", nullptr, nullptr), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(Query(child, "v", nullptr, nullptr), ERROR_KEY_DELETED);
    EXPECT_EQ(RegCloseKey(child), 0);
    EXPECT_EQ(RegCloseKey(child), ERROR_INVALID_HANDLE);
    EXPECT_EQ(Set(child, "v", REG_NONE, nullptr, 0), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(kUser), 0);
    EXPECT_EQ(RegDeleteKeyA(kUser, ""), ERROR_ACCESS_DENIED);
    RegCloseKey(again);
}

// A commit of many values through one handle, some new and some set before under another
// letter case: every value holds its own bytes and type, an old one keeps its name and place,
// and the new ones follow in the order they were set.
TEST_F(Registry, ManyValuesOfOneCommitKeepNamesPlacesAndBytes) {
    HKEY key = nullptr;
    ASSERT_EQ(Create("Many", &key), 0);
    for (int i = 0; i < 70; i += 2)
        ASSERT_EQ(Set(key, ("Value" + std::to_string(i)).c_str(), REG_SZ, "old", 4), 0);
    ASSERT_EQ(RegCloseKey(key), 0);
    ASSERT_EQ(Open("Many", &key), 0);
    for (int i = 0; i < 70; ++i) {
        const std::string text = "new " + std::to_string(i);
        ASSERT_EQ(Set(key, ("VALUE" + std::to_string(i)).c_str(), i % 3 ? REG_SZ : REG_BINARY,
                      text.c_str(), static_cast<DWORD>(text.size() + 1)),
                  0);
    }
    ASSERT_EQ(RegCloseKey(key), 0);
    ASSERT_EQ(Open("Many", &key), 0);
    Names expected;
    for (int i = 0; i < 70; i += 2) expected.push_back("Value" + std::to_string(i));
    for (int i = 1; i < 70; i += 2) expected.push_back("VALUE" + std::to_string(i));
    Names names;
    char name[32], data[32];
    for (DWORD chars = sizeof name, bytes = sizeof data, type = 0;
         RegEnumValueA(key, names.size(), name, &chars, nullptr, &type,
                       reinterpret_cast<BYTE *>(data), &bytes) == 0;
         chars = sizeof name, bytes = sizeof data) {
        names.emplace_back(name, chars);
        const int i = std::atoi(name + 5);
        EXPECT_EQ(std::string(data), "new " + std::to_string(i)) << name;
        EXPECT_EQ(type, i % 3 ? REG_SZ : REG_BINARY) << name;
    }
    EXPECT_EQ(names, expected);
    RegCloseKey(key);
}

// Two processes write at once; this one then reads their values from a store it opens again.
TEST_F(Registry, ProcessesWritingAtOnceLoseNothing) {
    constexpr DWORD kValues = 200;
    auto writer = [](DWORD p) {
        return [p] {
            HKEY key = nullptr;
            bool ok = Create(("Writer" + std::to_string(p)).c_str(), &key) == 0;
            for (DWORD i = 0, data = p * 1000; ok && i < kValues; ++i, ++data)
                ok = Set(key, std::to_string(i).c_str(), REG_DWORD, &data, sizeof data) == 0;
            return ok && RegCloseKey(key) == 0;
        };
    };
    ASSERT_TRUE(RunInChildren({writer(0), writer(1)}));
    for (DWORD p = 0; p < 2; ++p) {
        HKEY key = nullptr;
        ASSERT_EQ(Open(("Writer" + std::to_string(p)).c_str(), &key), 0);
        for (DWORD i = 0; i < kValues; ++i) {
            DWORD data = 0, bytes = sizeof data;
            EXPECT_EQ(Query(key, std::to_string(i).c_str(), &data, &bytes), 0);
            EXPECT_EQ(data, p * 1000 + i);
        }
        RegCloseKey(key);
    }
}

TEST_F(Registry, UnusableStoresFailWithoutBeingTouched) {
    const fs::path text = dir_ / "text.db", folder = dir_ / "folder.db", foreign = dir_ / "x.db";
    std::ofstream(text) << "not a registry\n";
    std::ofstream(dir_ / "long.db") << std::string(8192, 'x');
    fs::create_directory(folder);
    sqlite3 *db = nullptr;
    ASSERT_EQ(sqlite3_open(foreign.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "CREATE TABLE other (x)", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
    HKEY key = nullptr;  // a store whose first page is then overwritten
    ASSERT_EQ(Create("Software", &key), 0);
    RegCloseKey(key);
    CloseStore();
    std::fstream(dir_ / "registry.db", std::ios::in | std::ios::out | std::ios::binary)
        .seekp(100)
        .write(std::string(3000, '\xFF').data(), 3000);
    const struct {
        fs::path store;
        LONG expected;
    } cases[] = {{text, ERROR_BADDB},          {dir_ / "long.db", ERROR_BADDB},
                 {foreign, ERROR_BADDB},       {dir_ / "registry.db", ERROR_REGISTRY_CORRUPT},
                 {fs::path(), ERROR_CANTOPEN},  // TOVARINE_REGISTRY set but empty
                 {folder, ERROR_CANTOPEN},     {text / "under.db", ERROR_CANTOPEN}};
    for (const auto &c : cases) {
        UseStore(c.store);
        const bool file = fs::is_regular_file(c.store);
        const std::string before = file ? Contents(c.store) : "";
        const auto written = file ? fs::last_write_time(c.store) : fs::file_time_type{};
        EXPECT_EQ(Open("Software", &key), c.expected) << c.store;
        EXPECT_EQ(Create("Software", &key), c.expected) << c.store;
        EXPECT_EQ(Set(kUser, "v", REG_NONE, nullptr, 0), c.expected) << c.store;
        if (!file) continue;
        EXPECT_TRUE(Contents(c.store) == before) << c.store;  // not printed: binary
        EXPECT_EQ(fs::last_write_time(c.store), written) << c.store;
    }
    // A failed open is not remembered: once the file in the way is gone, the next call succeeds.
    fs::remove(text);
    ASSERT_EQ(Create("Software", &key), 0);
    RegCloseKey(key);
}

TEST_F(Registry, ThousandsOfSubkeysEnumerateWithLinearWork) {
    constexpr int kCount = 2000;
    HKEY parent = nullptr, key = nullptr;
    ASSERT_EQ(Create("Many", &parent), 0);
    Names expected(kCount);
    for (int i = kCount - 1; i >= 0; --i) {
        char name[16];
        std::snprintf(name, sizeof name, "k%04d", i);
        ASSERT_EQ(Create(name, &key, parent), 0);
        RegCloseKey(key);
        expected[i] = name;
    }
    tovarine::registry::TakeStatementSteps();
    EXPECT_EQ(Subkeys(parent), expected);
    // Reading the list once is a few dozen steps a key; a query per index would take millions.
    EXPECT_LT(tovarine::registry::TakeStatementSteps(), 100 * kCount);
    RegCloseKey(parent);
}

}  // namespace

namespace {

// Several handles' writes committed as one transaction: all of them or, when one cannot be
// written, none, and the handles then close without writing on their own.
TEST_F(Registry, WritesOfSeveralHandlesCommitTogetherOrNotAtAll) {
    HKEY root = nullptr, existing = nullptr, made = nullptr, reader = nullptr;
    ASSERT_EQ(Create("Root\\Old", &existing), 0);
    RegCloseKey(existing);
    ASSERT_EQ(Open("Root", &root), 0);
    ASSERT_EQ(Create("Old", &existing, root), 0);
    ASSERT_EQ(Create("New", &made, root), 0);
    ASSERT_EQ(Set(existing, "v", REG_SZ, "1", 2), 0);
    ASSERT_EQ(Set(made, "w", REG_SZ, "2", 2), 0);
    ASSERT_EQ(Open("Root\\Old", &reader), 0);
    char text[8];
    DWORD bytes = sizeof text;
    EXPECT_EQ(Query(reader, "v", text, &bytes), ERROR_FILE_NOT_FOUND);  // not yet
    const HKEY both[] = {existing, made};
    ASSERT_EQ(tovarine::registry::CommitTogether(both, 2), 0);
    bytes = sizeof text;
    EXPECT_EQ(Query(reader, "v", text, &bytes), 0);
    EXPECT_EQ(Subkeys(root), (Names{"New", "Old"}));
    for (HKEY key : {existing, made, reader}) RegCloseKey(key);

    // The key to be made loses its parent before the commit: nothing of the other is written.
    HKEY doomed = nullptr, parent = nullptr;
    ASSERT_EQ(Create("Gone", &parent, root), 0);
    ASSERT_EQ(Create("Child", &doomed, parent), 0);
    ASSERT_EQ(Open("Old", &existing, root), 0);
    ASSERT_EQ(Set(existing, "v", REG_SZ, "3", 2), 0);
    ASSERT_EQ(Set(doomed, "x", REG_SZ, "4", 2), 0);
    ASSERT_EQ(RegDeleteKeyA(root, "Gone"), 0);
    const HKEY pair[] = {existing, doomed};
    EXPECT_NE(tovarine::registry::CommitTogether(pair, 2), 0);
    for (HKEY key : {existing, doomed, parent}) RegCloseKey(key);
    ASSERT_EQ(Open("Old", &reader, root), 0);
    bytes = sizeof text;
    ASSERT_EQ(Query(reader, "v", text, &bytes), 0);
    EXPECT_STREQ(text, "1");
    EXPECT_EQ(Subkeys(root), (Names{"New", "Old"}));
    RegCloseKey(reader);
    RegCloseKey(root);

    const HKEY user[] = {kUser};
    EXPECT_EQ(tovarine::registry::CommitTogether(user, 1), ERROR_INVALID_PARAMETER);
}

// Another program changes the store under a process that has walked a path before (its key
// ids are kept) and under a thread's read batch. A kept id never stands for a key renamed since;
// a batch reads one state until it pauses or ends, another thread's call reads the newest, and
// once the batch is paused or over no read of the store is left open.
TEST_F(Registry, KeptKeyIdsAndReadBatchesFollowOtherProgramsWrites) {
    HKEY key = nullptr;
    ASSERT_EQ(Create("Kept\\Old", &key), 0);
    ASSERT_EQ(Set(key, "v", REG_SZ, "1", 2), 0);
    ASSERT_EQ(RegCloseKey(key), 0);
    ASSERT_EQ(Open("Kept\\Old", &key), 0);
    RegCloseKey(key);

    sqlite3 *other = nullptr;
    ASSERT_EQ(sqlite3_open(std::getenv("TOVARINE_REGISTRY"), &other), SQLITE_OK);
    auto run = [&](const char *sql) { return sqlite3_exec(other, sql, nullptr, nullptr, nullptr); };
    auto readers_left = [&] {  // a full checkpoint is refused while any read is open
        int log = 0, copied = 0;
        return sqlite3_wal_checkpoint_v2(other, nullptr, SQLITE_CHECKPOINT_TRUNCATE, &log,
                                         &copied) == SQLITE_BUSY;
    };
    ASSERT_EQ(run("UPDATE keys SET name = 'New', folded = 'NEW' WHERE folded = 'OLD'"), SQLITE_OK);
    EXPECT_EQ(Open("Kept\\Old", &key), ERROR_FILE_NOT_FOUND);
    ASSERT_EQ(Open("Kept\\New", &key), 0);

    auto value = [&] {
        char text[8] = {};
        DWORD bytes = sizeof text;
        return Query(key, "v", text, &bytes) == 0 ? std::string(text) : std::string("?");
    };
    {
        tovarine::RegistryReadBatch batch;
        EXPECT_EQ(value(), "1");
        ASSERT_EQ(run("UPDATE vals SET data = CAST('2' AS BLOB)"), SQLITE_OK);
        EXPECT_EQ(value(), "1");  // the batch's state
        EXPECT_TRUE(readers_left());
        std::string seen;
        std::thread([&] { seen = value(); }).join();
        EXPECT_EQ(seen, "2");
        EXPECT_EQ(value(), "2");
        batch.Pause();
        EXPECT_FALSE(readers_left());
        ASSERT_EQ(run("UPDATE vals SET data = CAST('3' AS BLOB)"), SQLITE_OK);
        EXPECT_EQ(value(), "3");
        EXPECT_FALSE(readers_left());  // after a pause, each call's read ends with it
    }
    EXPECT_FALSE(readers_left());
    RegCloseKey(key);
    sqlite3_close(other);
}

}  // namespace
