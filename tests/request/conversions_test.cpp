#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <cmath>
#include <limits>
#include <string>

#include "request/conversions.h"

namespace tovarine {
namespace {

constexpr int32_t kMax = INT32_MAX, kMin = INT32_MIN;
constexpr double kInf = std::numeric_limits<double>::infinity();

TEST(ConvertInteger, ReadsAndSaturates) {
    const std::pair<const char *, int32_t> cases[] = {
        {"abc", 0},
        {"", 0},
        {"-", 0},
        {"+", 0},
        {"+-5", 0},
        {"- 5", 0},
        {"12abc", 12},
        {" -7", -7},
        {" \t\n\v\f\r+42", 42},
        {"0x10", 0},
        {"1.9", 1},
        {"2147483647", kMax},
        {"2147483648", kMax},
        {"-2147483648", kMin},
        {"-2147483647", kMin + 1},
        {"-2147483649", kMin},
        {"99999999999999999999999", kMax},
        {"-9999999999999", kMin},
        {"00000000000000000000012", 12},
        {"18446744073709551621", kMax} /* 2^64 + 5 */,
        {nullptr, 0},
    };
    for (const auto &[text, expected] : cases) EXPECT_EQ(ConvertInteger(text), expected) << text;
    EXPECT_EQ(SaturatingMultiply(-3, 1000), -3000);
    EXPECT_EQ(SaturatingMultiply(2147483, 1000), 2147483000);
    EXPECT_EQ(SaturatingMultiply(2147484, 1000), kMax);
    EXPECT_EQ(SaturatingMultiply(-2147484, 1000), kMin);
}

TEST(ConvertDecimal, GrammarRoundingAndRange) {
    const std::string zeros(400, '0');
    const std::pair<std::string, double> cases[] = {
        {".5", 0.5},
        {"5.", 5},
        {".", 0},
        {"-.", 0},
        {"1e", 1},
        {"1e+", 1},
        {"1d", 1},
        {"1d2", 100},
        {"1e2", 100},
        {"5D-1", 0.5},
        {"2E+1", 20},
        {"5.e1", 50},
        {"0x10", 0},
        {"inf", 0},
        {"nan", 0},
        {"infinity", 0},
        {"-inf", 0},
        {" \t\n\v\f\r-2.5", -2.5},
        {"+.5e1", 5},
        {"1.5e+3x", 1500},
        {"1.5.5", 1.5},
        {"e5", 0},
        {"", 0},
        {"--1", 0},
        {"-0", -0.0},
        {"0.1", 0.1},
        {"9007199254740993", 9007199254740992.0},
        {"4.9e-324", 0x1p-1074},
        {"2.2250738585072011e-308", 2.2250738585072011e-308},
        {"1.7976931348623157e308", DBL_MAX},
        {"1.7976931348623159e308", kInf},
        {"1e400", kInf},
        {"-1e400", -kInf},
        {"1D400", kInf},
        {std::string(400, '7'), kInf},
        {"1e-400", 0.0},
        {"-1e-400", -0.0},
        {"2e-324", 0},
        {"0.001e-322", 0},
        {"0e99999999999", 0},
        {"0.000e99999999999", 0},
        {"-0e400", -0.0},
        {"0.1e310", kInf},
        {"0.01e310", 1e308},
        {"000000000001e400", kInf},
        {zeros + "1e-330", 0},
        {"0." + zeros + "1e50", 0},
        {"0." + zeros + "1d401", 1},
        {"1" + zeros + "D-400", 1},
    };
    for (auto [text, expected] : cases) {
        const std::string given = text;
        const double got = ConvertDecimal(text.data());
        EXPECT_EQ(text, given) << "the text is as it was";
        EXPECT_EQ(std::bit_cast<uint64_t>(got), std::bit_cast<uint64_t>(expected))
            << '"' << text << "\" gave " << got << ", expected " << expected;
    }
    EXPECT_EQ(std::bit_cast<uint64_t>(ConvertDecimal(nullptr)), 0u);
}

TEST(NarrowToFloat, RoundsToNearestFloat) {
    const double halfway = static_cast<double>(FLT_MAX) + 0x1p103;
    const double below = std::nextafter(halfway, 0.0);
    const float inf = std::numeric_limits<float>::infinity();
    const std::pair<double, float> cases[] = {
        {0.1, 0.1f},        {1e39, inf},        {-1e39, -inf},
        {FLT_MAX, FLT_MAX}, {-0.0, -0.0f},      {static_cast<double>(FLT_MAX) + 0x1p102, FLT_MAX},
        {below, FLT_MAX},   {-below, -FLT_MAX}, {halfway, inf},
        {-halfway, -inf},   {kInf, inf},
    };
    for (const auto &[value, expected] : cases) {
        EXPECT_EQ(std::bit_cast<uint32_t>(NarrowToFloat(value)), std::bit_cast<uint32_t>(expected))
            << value;
    }
}

}  // namespace
}  // namespace tovarine
