#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <string_view>
#include <tuple>

#include "module/registry_names.h"
#include "module/text.h"

namespace tovarine::text {
namespace {

TEST(HasPrefix, FoldsOnlyAsciiLetters) {
    struct Case {
        const char *text, *prefix;
        bool match;
    };
    const Case cases[] = {
        {"Content-Length: 5", "content-LENGTH", true},
        {"abc", "", true},
        {"", "", true},
        {"ab", "abc", false},
        {"xabc", "abc", false},
        {"abd", "ABC", false},
        {"[", "{", false},
        {"@", "`", false},
        {"\xc4", "\xe4", false},
        {"\xe4x", "\xe4X", true},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(HasPrefix(c.text, c.prefix) != 0, c.match) << c.text;
        EXPECT_EQ(StartsWithIgnoringCase(c.text, c.prefix), c.match) << c.text;
    }
}

TEST(EqualIgnoringCase, FoldsOnlyAsciiLetters) {
    const std::tuple<std::string_view, std::string_view, bool> cases[] = {
        {"Server", "sERVER", true},    {"", "", true},
        {"ab", "abc", false},          {"abc", "ab", false},
        {"[\\]^_", "{|}~\x7f", false}, {"@", "`", false},
        {"\xc4", "\xe4", false},       {"a\xe4Z", "A\xe4z", true},
    };
    for (const auto &[a, b, equal] : cases) {
        EXPECT_EQ(EqualIgnoringCase(a, b), equal) << a;
        EXPECT_EQ(EqualIgnoringCase(std::string(a).c_str(), std::string(b).c_str()), equal) << a;
    }
    EXPECT_EQ(AsciiUpper(std::string_view("az@[`{\xe4\xc4"
                                          "az")),
              "AZ@[`{\xe4\xc4"
              "AZ");
}

TEST(NextWord, SkipsWordThenSeparators) {
    const std::pair<const char *, long> cases[] = {
        {"abc def", 4}, {"abc \t\r\n\v\fdef", 9},
        {"  def", 2},   {"abc", 3},
        {"", 0},        {"abc  ", 5},
        {" \t", 2},     {"a-b:c d", 6},
        {"\xa0x y", 3}, {"a\x01 b", 3},
    };
    for (const auto &[text, offset] : cases) EXPECT_EQ(NextWord(text) - text, offset) << text;
}

TEST(DecodeValue, OnePassInPlace) {
    const std::pair<const char *, const char *> cases[] = {
        {"a+b", "a b"},       {"%41%62", "Ab"}, {"%4a%4A", "JJ"}, {"%00", "%00"},
        {"a%000", "a%000"},   {"%2541", "%41"}, {"%2B", "+"},     {"%2b+", "+ "},
        {"%4", "%4"},         {"%", "%"},       {"%%41", "%A"},   {"%zz", "%zz"},
        {"%g1", "%g1"},       {"%1g", "%1g"},   {"%41%", "A%"},   {"100%", "100%"},
        {"%ff%0a", "\xff\n"}, {"%%%", "%%%"},   {"", ""},         {"%01", "\x01"},
    };
    for (const auto &[in, out] : cases) {
        std::string buffer = in;
        EXPECT_EQ(DecodeValue(buffer.data(), buffer.size()), std::strlen(out)) << in;
        buffer.resize(std::strlen(out));
        EXPECT_STREQ(buffer.c_str(), out) << in;
    }
    char buffer[] = "a+%4142";  // only the first four characters belong to the value
    EXPECT_EQ(DecodeValue(buffer, 4), 4u);
    EXPECT_STREQ(buffer, "a %4");
}

// A name counts in the registry's characters where it is UTF-8, and in bytes where it is not.
TEST(NameLength, CountsCharactersOfUtf8AndBytesOfOtherText) {
    const std::pair<std::string_view, size_t> cases[] = {
        {"", 0},
        {"Sample Server 0", 15},
        {"caf\xc3\xa9", 4},       // U+00E9 in two bytes: one character
        {"\xe2\x82\xac", 1},      // U+20AC in three bytes
        {"\xf0\x9f\x8e\xa5", 2},  // beyond U+FFFF: two UTF-16 units
        {"caf\xe9", 4},           // code page 1252 text: bytes
        {"\xc3", 1},              // cut short
        {"\xc0\xaf", 2},          // overlong
        {"\xe0\x80\xaf", 3},      // overlong
        {"\xed\xa0\x80", 3},      // a surrogate
        {"\xf4\x90\x80\x80", 4},  // past U+10FFFF
        {"a\xc3\xa9\x80", 4},     // a stray continuation makes all of it bytes
    };
    for (const auto &[name, length] : cases) {
        EXPECT_EQ(registry_names::NameLength(name), length) << name;
    }
}

}  // namespace
}  // namespace tovarine::text
