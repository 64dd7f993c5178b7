// Value codecs: round trips, exact text forms, parsing limits, and no byte touched past `size`.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "settings/codecs.h"

namespace {

using tovarine::CodecFor;

// `size` bytes of `value` (zeros when empty) and eight guard bytes after them.
std::vector<char> Guarded(size_t size, const std::string &value = {}) {
    std::vector<char> bytes(size + 8, '#');
    for (size_t i = 0; i < size; ++i) bytes[i] = i < value.size() ? value[i] : 0;
    return bytes;
}
bool GuardIntact(const std::vector<char> &bytes) {
    return std::string(bytes.end() - 8, bytes.end()) == "########";
}
std::string Int(int32_t n) { return std::string(reinterpret_cast<char *>(&n), 4); }

TEST(CodecsTest, FormattedTextParsesBackToAnEqualValue) {
    std::string all_bytes, all_hex;
    for (int b = 0; b < 256; ++b) {
        all_bytes += static_cast<char>(b);
        all_hex += {"0123456789abcdef"[b >> 4], "0123456789abcdef"[b & 15]};
    }
    const std::string long_text(600, 'q');
    const struct {
        int16_t type, size;
        std::string value, text;
    } cases[] = {
        {4, 4, Int(INT32_MIN), "-2147483648"},
        {4, 4, Int(INT32_MAX), "2147483647"},
        {4, 4, Int(-1), "-1"},
        {4, 4, Int(0), "0"},
        {4, 8, Int(80) + "zzzz", "80"},
        {1, 8, "", ""},
        {1, 8, "port", "port"},
        {1, 601, long_text, long_text},
        {1, 4, "abcd", "abc"},  // a host string filling its array counts as size - 1 characters
        {3, 256, all_bytes, all_hex},
        {3, 2, std::string("\0\x0f", 2), "000f"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        const auto *codec = CodecFor(c.type, c.size);
        ASSERT_NE(codec, nullptr);
        auto variable = Guarded(c.size, c.value), scratch = Guarded(c.size), copy = Guarded(c.size);
        std::vector<char> text(codec->formatted_length(variable.data(), c.size) + 9, '#');
        EXPECT_EQ(codec->format(text.data(), variable.data(), c.size), c.text.size());
        EXPECT_EQ(std::string(text.data()), c.text);
        EXPECT_TRUE(GuardIntact(text));
        codec->parse(text.data(), scratch.data(), c.size);
        EXPECT_EQ(codec->differs(scratch.data(), variable.data(), c.size), 0);
        codec->assign(copy.data(), scratch.data(), c.size);
        EXPECT_EQ(codec->differs(copy.data(), variable.data(), c.size), 0);
        EXPECT_TRUE(GuardIntact(variable) && GuardIntact(scratch) && GuardIntact(copy));
    }
}

TEST(CodecsTest, ParseKeepsWhatFitsAndStopsAtTheFirstBadPair) {
    const struct {
        int16_t type, size;
        const char *text;
        std::string expected;
    } cases[] = {
        {1, 4, "abcdef", "abc"},
        {3, 4, "A0fF", "\xa0\xff"},
        {3, 4, "0102030405", "\1\2\3\4"},
        {3, 4, "12 345", "\x12"},
        {3, 4, "123", "\x12"},
        {3, 2, "g0ff", ""},
        {4, 4, "99999999999", Int(INT32_MAX)},
        {4, 4, "-99999999999", Int(INT32_MIN)},
        {4, 4, " -42", Int(-42)},
        {4, 4, "abc", ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        auto scratch = Guarded(c.size);
        CodecFor(c.type, c.size)->parse(c.text, scratch.data(), c.size);
        std::string expected = c.expected;
        expected.resize(c.size);
        EXPECT_EQ(std::string(scratch.data(), c.size), expected);
        EXPECT_TRUE(GuardIntact(scratch));
    }
}

TEST(CodecsTest, OnlyKnownTypesWithRoomHaveACodec) {
    const int16_t none[][2] = {{0, 4}, {2, 4}, {5, 4},  {-1, 4}, {4, 3}, {4, 0},
                               {1, 0}, {3, 0}, {1, -1}, {3, -5}, {4, -4}};
    for (const auto &c : none) EXPECT_EQ(CodecFor(c[0], c[1]), nullptr) << c[0] << "/" << c[1];
    for (const auto &c : {std::pair<int16_t, int16_t>{1, 1}, {3, 1}, {4, 4}, {4, 32767}}) {
        EXPECT_NE(CodecFor(c.first, c.second), nullptr) << c.first << "/" << c.second;
    }
}

}  // namespace
