// The .reg codec and the text encodings the settings tools convert between.
#include "reg_file.h"

#include <gtest/gtest.h>

#include <string>

#include "text_encoding.h"

namespace tovarine_tool {
namespace {

const std::string kRoot = "HKEY_CURRENT_USER\\SOFTWARE\\Zel Inc.\\Zel Quantivale Servers";

// UTF-16LE bytes of ASCII or UTF-8 text, with the byte-order mark.
std::string Utf16File(const std::string &text) {
    std::string bytes = "\xff\xfe";
    for (const char16_t unit : Utf8ToUtf16(text)) {
        bytes += static_cast<char>(unit & 0xff);
        bytes += static_cast<char>(unit >> 8);
    }
    return bytes;
}

TEST(TextEncoding, ConvertsOrRefusesEachCharacter) {
    // Code page 1252: its high characters both ways; its five undefined bytes refused.
    EXPECT_EQ(Windows1252ToUtf8("caf\xe9 \x80 \x9f"), "caf\xc3\xa9 \xe2\x82\xac \xc5\xb8");
    EXPECT_EQ(Utf8ToWindows1252("caf\xc3\xa9 \xe2\x82\xac \xc5\xb8"), "caf\xe9 \x80 \x9f");
    for (const char *undefined : {"\x81", "\x8d", "\x8f", "\x90", "\x9d"}) {
        EXPECT_EQ(Windows1252ToUtf8(undefined), std::nullopt) << int(undefined[0] & 0xff);
    }
    EXPECT_EQ(Utf8ToWindows1252("\xe6\x97\xa5"), std::nullopt);  // a character it lacks
    EXPECT_EQ(Utf8ToWindows1252("\xc2\x81"), std::nullopt);      // U+0081: not its 0x81

    const struct {
        std::string text;
        bool utf8;
    } utf8_cases[] = {
        {"plain", true},
        {"caf\xc3\xa9 \xf0\x9f\x8e\xa5", true},
        {"\xe9", false},              // a lone code page byte
        {"\xc3", false},              // cut short
        {"\xc0\xaf", false},          // overlong "/"
        {"\xe0\x80\xaf", false},      // overlong, three bytes
        {"\xed\xa0\x80", false},      // a surrogate
        {"\xf4\x90\x80\x80", false},  // above U+10FFFF
        {"\x80", false},              // a continuation byte first
    };
    for (const auto &c : utf8_cases) {
        EXPECT_EQ(IsUtf8(c.text), c.utf8) << c.text;
        EXPECT_EQ(StoreToUtf8(c.text, StoreEncoding::kUtf8).has_value(), c.utf8) << c.text;
    }

    const std::string emoji = "\xf0\x9f\x8e\xa5";
    EXPECT_EQ(Utf8ToUtf16(emoji), u"\U0001F3A5");
    EXPECT_EQ(Utf16ToUtf8(u"\U0001F3A5"), emoji);
    EXPECT_EQ(Utf16ToUtf8(std::u16string(1, u'\xd83c')), std::nullopt);
    EXPECT_EQ(Utf16ToUtf8(std::u16string(u"a\xdfa5", 2)), std::nullopt);
}

TEST(RegFile, WritesTheUnicodeFormWithEscapes) {
    const std::vector<RegKey> keys = {
        {"Sample Server 0", {{"port", "8080"}, {"path", "C:\\media\\\"clips\""}, {"", "x"}}},
        {"Caf\xc3\xa9 1", {{"title", "\xf0\x9f\x8e\xa5"}}},
    };
    EXPECT_EQ(WriteRegFile(keys), Utf16File("Windows Registry Editor Version 5.00\r\n"
                                            "\r\n[" +
                                            kRoot +
                                            "\\Sample Server 0]\r\n"
                                            "\"port\"=\"8080\"\r\n"
                                            "\"path\"=\"C:\\\\media\\\\\\\"clips\\\"\"\r\n"
                                            "@=\"x\"\r\n"
                                            "\r\n[" +
                                            kRoot +
                                            "\\Caf\xc3\xa9 1]\r\n"
                                            "\"title\"=\"\xf0\x9f\x8e\xa5\"\r\n"
                                            "\r\n"));
    // The bytes themselves: a BOM, then little-endian units ("é" is e9 00).
    EXPECT_EQ(WriteRegFile({}).substr(0, 6), std::string("\xff\xfeW\0i\0", 6));
    EXPECT_FALSE(WritableInReg("a\nb"));
    EXPECT_FALSE(WritableInReg("a\rb"));
    EXPECT_TRUE(WritableInReg("a\tb\\\""));
}

// Names are as long as the registry counts them, in characters: "é" is one, in two bytes.
std::string Repeated(const std::string &piece, size_t times) {
    std::string text;
    for (size_t i = 0; i < times; ++i) text += piece;
    return text;
}
const std::string kLongKey = kRoot + "\\" + Repeated("\xc3\xa9", 200) + " 0";
const std::string kLongValue = Repeated("\xc3\xa9", 16383);

TEST(RegFile, ReadsBothFormsBack) {
    const std::vector<RegKey> keys = {
        {"Sample Server 0", {{"port", "8080"}, {"path", "C:\\m\\\"c\""}, {"", "x"}}},
        {"Caf\xc3\xa9 1", {{"t\xc3\xaftle", "\xf0\x9f\x8e\xa5 \xe2\x82\xac"}}},
    };
    const std::string ansi_body = "[" + kRoot + "\\Caf\xe9 1]\n\"t\xeftle\" = \"\x80\"\n";
    const struct {
        const char *what;
        std::string bytes;
        std::vector<RegKey> keys;
    } cases[] = {
        {"written by the tool", WriteRegFile(keys), keys},
        {"REGEDIT4, code page 1252, LF line ends, blanks around =",
         "REGEDIT4\n\n; a comment\n" + ansi_body,
         {{"Caf\xc3\xa9 1", {{"t\xc3\xaftle", "\xe2\x82\xac"}}}}},
        {"REGEDIT4 in UTF-8",
         "REGEDIT4\r\n\r\n[" + kRoot + "\\Caf\xc3\xa9 1]\r\n\"a\"=\"\xc3\xa9\"\r\n",
         {{"Caf\xc3\xa9 1", {{"a", "\xc3\xa9"}}}}},
        {"the root with only its empty default value, key case folded, a key twice",
         Utf16File("Windows Registry Editor Version 5.00\r\n\r\n[" + kRoot +
                   "]\r\n@=\"\"\r\n\r\n"
                   "[hkey_current_user\\software\\zel inc.\\zel quantivale servers\\A 0]\r\n"
                   "\"v\"=\"1\"\r\n[" +
                   kRoot + "\\A 0]\r\n\"v\"=\"2\"\r\n"),
         {{"A 0", {{"v", "1"}}}, {"A 0", {{"v", "2"}}}}},
        {"a key name of 202 characters in 402 bytes, and 16,383 characters of value name",
         "REGEDIT4\n\n[" + kLongKey + "]\n\"" + kLongValue + "\"=\"1\"\n",
         {{kLongKey.substr(kRoot.size() + 1), {{kLongValue, "1"}}}}},
    };
    for (const auto &c : cases) {
        const RegFile file = ReadRegFile(c.bytes);
        EXPECT_EQ(file.refusals, std::vector<std::string>{}) << c.what;
        ASSERT_EQ(file.keys.size(), c.keys.size()) << c.what;
        for (size_t k = 0; k < c.keys.size(); ++k) {
            EXPECT_EQ(file.keys[k].name, c.keys[k].name) << c.what;
            ASSERT_EQ(file.keys[k].values.size(), c.keys[k].values.size()) << c.what;
            for (size_t v = 0; v < c.keys[k].values.size(); ++v) {
                EXPECT_EQ(file.keys[k].values[v].name, c.keys[k].values[v].name) << c.what;
                EXPECT_EQ(file.keys[k].values[v].text, c.keys[k].values[v].text) << c.what;
            }
        }
    }
}

TEST(RegFile, RefusesWhatItDoesNotImportWithTheLineNumber) {
    const std::string key = "[" + kRoot + "\\A 0]";
    const struct {
        std::string body;  // lines after the header and a blank line: the first is line 3
        const char *refusal;
    } cases[] = {
        {"[-" + kRoot + "\\A 0]", "line 3: deletes a key"},
        {key + "\n\"v\"=-", "line 4: deletes a value"},
        {key + "\n\n\"v\"=dword:00000001", "line 5: a value of type \"dword\""},
        {key + "\n\"v\"=hex:01,02,\\\n  03", "line 4: a value of type \"hex\""},
        {key + "\n\"v\"=hex(2):41,00", "line 4: a value of type \"hex(2)\""},
        {"[HKEY_CURRENT_USER\\SOFTWARE\\Other\\A 0]", "line 3: the key is not below"},
        {"[" + kRoot + "x\\A 0]", "line 3: the key is not below"},
        {"[" + kRoot + "\\A 0\\deeper]", "line 3: the key is not an instance key"},
        {"[" + kRoot + "\\" + std::string(256, 'k') + "]", "line 3: the key name is longer"},
        {"[" + kRoot + "\\" + Repeated("\xc3\xa9", 256) + "]", "line 3: the key name is longer"},
        {"[" + kRoot + "]\n\"v\"=\"1\"", "line 4: a value of the settings root itself"},
        {"\"v\"=\"1\"", "line 3: a value before any key"},
        {key + "\n\"v\"=\"open", "line 4: a text without its closing quote"},
        {key + "\n\"v\"=\"a\\nb\"", "line 4: a backslash that escapes neither"},
        {key + "\n\"v\"=\"a\"b", "line 4: text after the value's closing quote"},
        {key + "\n\"v\"\"1\"", "line 4: a value without \"=\""},
        {"[" + kRoot + "\\A 0", "line 3: a key line without its closing"},
        {"garbage", "line 3: not a key, a value or a comment"},
        // A NUL in a key's name or a value's would cut the name where the store keeps it.
        {"[" + kRoot + "\\Nul" + std::string(1, '\0') + "x 0]\n\"v\"=\"1\"",
         "line 3: a NUL character in the key's name"},
        {"[-" + kRoot + "\\Nul" + std::string(1, '\0') + "x 0]", "line 3: deletes a key"},
        {key + "\n\"v" + std::string(1, '\0') + "w\"=\"1\"", "line 4: a NUL character"},
        {key + "\n\"v\"=\"1" + std::string(1, '\0') + "\"", "line 4: a NUL character"},
    };
    for (const auto &c : cases) {
        for (const std::string &bytes :
             {Utf16File("Windows Registry Editor Version 5.00\r\n\r\n" + c.body + "\r\n"),
              "REGEDIT4\n\n" + c.body + "\n"}) {
            const RegFile file = ReadRegFile(bytes);
            ASSERT_FALSE(file.refusals.empty()) << c.body;
            EXPECT_TRUE(file.refusals[0].starts_with(c.refusal))
                << c.body << " gave " << file.refusals[0];
        }
    }

    // A refused key's values are refused with it, not each once more as a value outside any key.
    for (const std::string &before : {std::string(), "[" + kRoot + "]\n"}) {
        const RegFile file = ReadRegFile("REGEDIT4\n\n" + before + "[" + kRoot + "\\" +
                                         std::string(256, 'k') + "]\n\"v\"=\"1\"\n\"w\"=\"2\"\n");
        EXPECT_EQ(file.refusals.size(), 1u) << before;
    }

    const struct {
        std::string bytes;
        const char *refusal;
    } whole_file[] = {
        {"Windows Registry Editor Version 4.00\r\n", "line 1: the first line is neither"},
        {"", "line 1: the file is empty"},
        {std::string("\xfe\xff\0W", 4), "line 1: the file is big-endian UTF-16"},
        {std::string("\xff\xfeW\0x", 5), "line 1: the file is UTF-16 with an odd number"},
        {Utf16File("REGEDIT4\r\n") + std::string("\x3c\xd8\n\0", 4), "line 2: a UTF-16 surrogate"},
        {"REGEDIT4\n\x81\n", "line 1: the file is neither UTF-8 nor code page 1252"},
        {Utf16File("REGEDIT4\r\n" + key + "\r\n") + std::string("\"\0v\0\"\0=\0\"\0\0\0\"\0", 14),
         "line 3: a NUL character"},
    };
    for (const auto &c : whole_file) {
        const RegFile file = ReadRegFile(c.bytes);
        ASSERT_FALSE(file.refusals.empty()) << c.refusal;
        EXPECT_TRUE(file.refusals[0].starts_with(c.refusal)) << file.refusals[0];
    }

    // Every refusal is found, but a flood of them is one bounded list.
    std::string many = "REGEDIT4\n";
    for (int i = 0; i < 1000; ++i) many += "junk\n";
    const RegFile flood = ReadRegFile(many);
    ASSERT_EQ(flood.refusals.size(), 21u);
    EXPECT_EQ(flood.refusals.back(), "and 980 more");
}

// What an import writes: a key or value named twice, in either letter case, is taken once at
// its first place and spelling with its last text; only what differs from the key is changed.
TEST(RegFile, MergesRepeatedNamesAndPlansOnlyWhatDiffers) {
    std::vector<RegKey> keys = {
        {"Cam 0", {{"port", "1", 3}, {"Title", "a", 4}, {"PORT", "2", 5}}, 2},
        {"Other 0", {{"x", "9", 7}}, 6},
        {"CAM 0", {{"title", "b", 9}, {"new", "n", 10}, {"Port", "3", 11}}, 8},
        {"Empty 0", {}, 12},
    };
    const std::vector<RegKey> merged = MergeKeys(keys);
    ASSERT_EQ(merged.size(), 3u);
    EXPECT_EQ(merged[0].name, "Cam 0");
    EXPECT_EQ(merged[0].line, 2);
    EXPECT_EQ(merged[1].name, "Other 0");
    EXPECT_EQ(merged[2].name, "Empty 0");
    EXPECT_TRUE(merged[2].values.empty());
    const struct {
        const char *name, *text;
        int line;
    } cam[] = {{"port", "3", 3}, {"Title", "b", 4}, {"new", "n", 10}};
    ASSERT_EQ(merged[0].values.size(), std::size(cam));
    for (size_t i = 0; i < std::size(cam); ++i) {
        EXPECT_EQ(merged[0].values[i].name, cam[i].name);
        EXPECT_EQ(merged[0].values[i].text, cam[i].text) << cam[i].name;
        EXPECT_EQ(merged[0].values[i].line, cam[i].line) << cam[i].name;
    }

    // The key as stored: "PORT" twice (the later counts), "title" as it is, "kept" not in the
    // file and kept.
    const RegKey held{
        "cam 0", {{"PORT", "old", 0}, {"kept", "k", 0}, {"port", "3", 0}, {"TITLE", "b", 0}}, 0};
    const KeyChange change = ChangeTo(held, merged[0]);
    EXPECT_EQ(change.key, "Cam 0");
    EXPECT_TRUE(change.exists);
    EXPECT_FALSE(change.remove);
    ASSERT_EQ(change.values.size(), 1u);
    EXPECT_EQ(change.values[0].name, "new");
    EXPECT_EQ(change.values[0].before, std::nullopt);
    EXPECT_EQ(change.values[0].after, "n");

    const KeyChange made = ChangeTo(std::nullopt, merged[0]);
    EXPECT_FALSE(made.exists);
    ASSERT_EQ(made.values.size(), 3u);
    for (size_t i = 0; i < made.values.size(); ++i) {
        EXPECT_EQ(made.values[i].name, cam[i].name);
        EXPECT_EQ(made.values[i].before, std::nullopt);
        EXPECT_EQ(made.values[i].after, cam[i].text);
    }
    const KeyChange changed =
        ChangeTo(RegKey{"Cam 0", {{"Port", "2", 0}, {"Title", "b", 0}}, 0}, merged[0]);
    ASSERT_EQ(changed.values.size(), 2u);
    EXPECT_EQ(changed.values[0].name, "port");
    EXPECT_EQ(changed.values[0].before, "2");
    EXPECT_EQ(changed.values[0].after, "3");
    EXPECT_EQ(changed.values[1].name, "new");
}

}  // namespace
}  // namespace tovarine_tool
