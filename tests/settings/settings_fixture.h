// Test support for the settings: a fresh registry per test, recorded message boxes with
// scripted answers, an owner window, the selector at 0, a heap guard, and registry helpers.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "settings/settings_root.h"
#include "test_platform.h"
#include "tovarine.h"

namespace tovarine::testing {

inline constexpr const char *kRoot = kSettingsRootPath;

inline SettingDescriptor Setting(const char *name, int16_t type, int16_t size, void *variable) {
    return {name, type, size, variable, nullptr};
}
// Ends the table and presets every scratch field to garbage the library must never read.
inline std::vector<SettingDescriptor> Table(std::vector<SettingDescriptor> table) {
    for (auto &setting : table) setting.scratch = reinterpret_cast<void *>(1);
    table.push_back({});
    return table;
}
inline bool ScratchCleared(const std::vector<SettingDescriptor> &table) {
    for (const auto &setting : table)
        if (setting.scratch != nullptr) return false;
    return true;
}

// The key at `path` below HKEY_CURRENT_USER, opened or created; null when that fails.
inline HKEY Key(const std::string &path, bool create) {
    HKEY key = nullptr;
    const LONG rc = create ? RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, &key, nullptr)
                           : RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key);
    return rc == ERROR_SUCCESS ? key : nullptr;
}
inline void Put(const std::string &path, const char *name, const std::string &value) {
    HKEY key = Key(path, true);
    ASSERT_NE(key, nullptr) << path;
    EXPECT_EQ(RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(value.c_str()),
                             static_cast<DWORD>(value.size() + 1)),
              ERROR_SUCCESS);
    RegCloseKey(key);
}
inline std::optional<std::string> Get(const std::string &path, const char *name) {
    std::optional<std::string> value;
    HKEY key = Key(path, false);
    BYTE data[4096] = {};
    DWORD type = 0, bytes = sizeof data - 1;
    if (key != nullptr && RegQueryValueExA(key, name, nullptr, &type, data, &bytes) == 0 &&
        type == REG_SZ) {
        value = reinterpret_cast<char *>(data);
    }
    if (key != nullptr) RegCloseKey(key);
    return value;
}
inline std::vector<std::string> Subkeys(const std::string &path) {
    std::vector<std::string> names;
    HKEY key = Key(path, false);
    char name[512];
    DWORD chars = sizeof name;
    while (key != nullptr && RegEnumKeyExA(key, static_cast<DWORD>(names.size()), name, &chars,
                                           nullptr, nullptr, nullptr, nullptr) == 0) {
        names.emplace_back(name, chars);
        chars = sizeof name;
    }
    if (key != nullptr) RegCloseKey(key);
    return names;
}

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        registry_.emplace();
        ASSERT_TRUE(registry_->ready());
        answerer_.emplace([this](const Box &box) {
            boxes.push_back(box);
            if (while_asked) while_asked();
            if (throw_from_box) throw std::runtime_error("a host's box that throws");
            return next < answers.size() ? answers[next++] : fallback;
        });
        saved_selector_ = f9832144782(0);
        guard_.emplace();
    }
    void TearDown() override {
        guard_.reset();
        f9832144782(saved_selector_);
        answerer_.reset();
        registry_.reset();
    }

    OwnerWindow owner_window;  // to pass as a host's window
    std::vector<Box> boxes;
    std::vector<int> answers;  // given in turn, then `fallback`
    size_t next = 0;
    int fallback = IDYES;
    bool throw_from_box = false;        // the box handler throws instead of answering
    std::function<void()> while_asked;  // what another program does while a box is up

private:
    std::optional<FreshRegistry> registry_;
    std::optional<BoxAnswerer> answerer_;
    int32_t saved_selector_ = 0;
    std::optional<HeapGuard> guard_;
};

}  // namespace tovarine::testing
