// What only the DLL has: its resources as Windows reads them, and settings that the system's
// own registry tool and the library read and write alike.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "settings_fixture.h"
#include "tovarine_dll.h"

namespace tovarine::testing {
namespace {

TEST(DllResources, StringTableHoldsTheMessageWords) {
    const struct {
        UINT id;
        const char *text;
    } words[] = {{3, "saving as "}, {4, "will be "}};
    for (const auto &word : words) {
        char text[64] = {};
        EXPECT_EQ(LoadStringA(LoadedDll(), word.id, text, sizeof text),
                  static_cast<int>(std::strlen(word.text)))
            << word.id;
        EXPECT_STREQ(text, word.text);
    }
}

TEST(DllResources, VersionResourceNamesTheProductAndItsVersion) {
    char path[MAX_PATH] = {};
    ASSERT_NE(GetModuleFileNameA(LoadedDll(), path, sizeof path), 0u);
    DWORD handle = 0;
    const DWORD bytes = GetFileVersionInfoSizeA(path, &handle);
    ASSERT_NE(bytes, 0u) << "no version resource in " << path;
    std::vector<char> info(bytes);
    ASSERT_TRUE(GetFileVersionInfoA(path, 0, bytes, info.data()));

    void *block = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\", &block, &length));
    ASSERT_GE(length, sizeof(VS_FIXEDFILEINFO));
    const auto &fixed = *static_cast<const VS_FIXEDFILEINFO *>(block);
    EXPECT_EQ(fixed.dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(fixed.dwFileVersionMS,
              (TOVARINE_TEST_VERSION_MAJOR << 16u) | TOVARINE_TEST_VERSION_MINOR);
    EXPECT_EQ(fixed.dwFileVersionLS, TOVARINE_TEST_VERSION_PATCH << 16u);
    EXPECT_EQ(fixed.dwFileType, static_cast<DWORD>(VFT_DLL));

    ASSERT_TRUE(VerQueryValueA(info.data(), "\\VarFileInfo\\Translation", &block, &length));
    ASSERT_GE(length, 4u);
    const auto *translation = static_cast<const WORD *>(block);
    char prefix[64];
    std::snprintf(prefix, sizeof prefix, "\\StringFileInfo\\%04x%04x\\", translation[0],
                  translation[1]);
    const auto text = [&](const char *name) -> std::string {
        void *value = nullptr;
        UINT chars = 0;
        if (!VerQueryValueA(info.data(), (std::string(prefix) + name).c_str(), &value, &chars) ||
            chars == 0) {
            return "(none)";
        }
        return static_cast<const char *>(value);
    };
    EXPECT_EQ(translation[0], 0x0409);
    EXPECT_EQ(text("ProductName"), "tovarine");
    EXPECT_EQ(text("OriginalFilename"), "tovarine.dll");
    EXPECT_EQ(text("ProductVersion"), TOVARINE_TEST_VERSION);
    EXPECT_EQ(text("FileVersion"), TOVARINE_TEST_VERSION);
}

// The registry tool, run as a user runs it; its exit status and what it printed.
struct Outcome {
    int status = -1;
    std::string output;
};
Outcome Reg(const std::string &arguments) {
    Outcome run;
    FILE *pipe = _popen(("reg " + arguments + " 2>&1").c_str(), "r");
    if (pipe == nullptr) return run;
    char chunk[512];
    for (size_t got; (got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;) {
        run.output.append(chunk, got);
    }
    run.status = _pclose(pipe);
    return run;
}

// The values a query listed, by name: "TYPE DATA".
std::map<std::string, std::string> ListedValues(const std::string &output) {
    static const std::regex kValue(R"(^\s+(\S+)\s+(REG_\w+)\s+(.*?)\s*$)");
    std::map<std::string, std::string> values;
    std::istringstream lines(output);
    std::smatch match;
    for (std::string line; std::getline(lines, line);) {
        if (std::regex_match(line, match, kValue))
            values[match[1]] = match[2].str() + " " + match[3].str();
    }
    return values;
}

using InteropTest = SettingsTest;

TEST_F(InteropTest, TheRegistryToolAndTheDllReadEachOthersSettings) {
    HKEY root = Key(kRoot, true);
    ASSERT_NE(root, nullptr);
    RegCloseKey(root);
    const std::string key = "\"HKCU\\" + std::string(kRoot) + "\\Interop 0\"";
    char name[16] = "alpha";
    int32_t port = 8080;
    unsigned char mac[3] = {0x00, 0x1f, 0xa0};
    auto table = Table(
        {Setting("Name", 1, 16, name), Setting("Port", 4, 4, &port), Setting("Mac", 3, 3, mac)});

    f9832144782(1);
    EXPECT_EQ(qy70EE(owner_window.get(), "Interop", table.data()), 0);
    f9832144782(0);
    EXPECT_TRUE(boxes.empty());
    const Outcome query = Reg("query " + key);
    ASSERT_EQ(query.status, 0) << query.output;
    EXPECT_EQ(ListedValues(query.output),
              (std::map<std::string, std::string>{
                  {"Name", "REG_SZ alpha"}, {"Port", "REG_SZ 8080"}, {"Mac", "REG_SZ 001fa0"}}))
        << query.output;

    const Outcome add = Reg("add " + key + " /v Port /t REG_SZ /d 9090 /f");
    ASSERT_EQ(add.status, 0) << add.output;
    EXPECT_EQ(qy45AF(owner_window.get(), "Interop", table.data()), 0);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Port changing from 8080 to 9090\n");
    EXPECT_EQ(boxes[0].caption, "Update from Registry?");
    EXPECT_EQ(boxes[0].type, 0x24u);
    EXPECT_EQ(port, 9090);
    EXPECT_STREQ(name, "alpha");
    EXPECT_TRUE(ScratchCleared(table));
}

}  // namespace
}  // namespace tovarine::testing
