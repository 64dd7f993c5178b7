// The parameter list and the conversions against a plain model of their rules, on generated texts.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "request/parameter_list.h"

namespace tovarine {
namespace {

using Slots = std::vector<std::optional<std::pair<std::string, std::string>>>;

bool Digit(char c) { return c >= '0' && c <= '9'; }

std::string ModelDecode(const std::string &v) {
    std::string out;
    for (size_t i = 0; i < v.size(); ++i) {
        const std::string hex = v.substr(i + 1, 2);
        const bool escape = v[i] == '%' && hex.size() == 2 && hex != "00" &&
                            hex.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
        out += v[i] == '+' ? ' ' : escape ? static_cast<char>(std::stoi(hex, nullptr, 16)) : v[i];
        i += escape ? 2 : 0;
    }
    return out;
}

Slots ModelList(const std::string &text) {
    const std::string part = text.substr(0, text.find(' '));
    Slots slots(1 + std::count(part.begin(), part.end(), '&'));
    std::string rest = part.substr(std::min(part.size(), part.find_first_not_of("?&"))) + "&";
    for (size_t filled = 0, amp; (amp = rest.find('&')) != std::string::npos;) {
        const std::string param = rest.substr(0, amp);
        rest.erase(0, amp + 1);
        if (const size_t eq = param.rfind('='); eq != std::string::npos)
            slots[filled++] = {{param.substr(0, eq), ModelDecode(param.substr(eq + 1))}};
    }
    return slots;
}

// strtoll reads the same integer grammar in the C locale and saturates at 64 bits.
int32_t ModelInteger(const char *p) {
    return static_cast<int32_t>(
        std::clamp<long long>(std::strtoll(p, nullptr, 10), INT32_MIN, INT32_MAX));
}

// strtod also reads hexadecimal, infinities and NaN: hand it only the span of the grammar.
double ModelDecimal(const char *p) {
    while (*p != 0 && std::strchr(" \t\n\v\f\r", *p) != nullptr) ++p;
    std::string number;
    if (*p == '+' || *p == '-') number += *p++;
    while (Digit(*p) || (*p == '.' && number.find('.') == std::string::npos)) number += *p++;
    if (number.find_first_of("0123456789") == std::string::npos) return 0.0;
    if (*p != 0 && std::strchr("eEdD", *p) != nullptr) {
        const char *q = p + 1 + (p[1] == '+' || p[1] == '-');
        if (Digit(*q))
            for (number += 'e', number.append(p + 1, q), p = q; Digit(*p);) number += *p++;
    }
    return std::strtod(number.c_str(), nullptr);
}

TEST(Differential, ListAndConversionsMatchModel) {
    static const char kAlphabet[] = "&&&===??%%  ++--..0123456789aAbBeEdDfF\t\r\n";
    static const char *const kWords[] = {"server", "a",  "b",   "%41",        "%2B",   "%00",
                                         "%25",    "e9", "d-3", "2147483648", "1e400", "e-400"};
    std::mt19937 rng(20240611);
    int pairs = 0, nonzero_decimals = 0;
    for (int n = 0; n < 4000 && !HasFailure(); ++n) {
        std::string text;
        for (const size_t length = rng() % 61; text.size() < length;) {
            if (rng() % 5 == 0) text += kWords[rng() % std::size(kWords)];
            else text += kAlphabet[rng() % (sizeof kAlphabet - 1)];
            text.resize(std::min(text.size(), length));
        }
        SCOPED_TRACE("text #" + std::to_string(n) + ": \"" + text + "\"");
        const Slots model = ModelList(text);
        ParameterList list(text.c_str());
        ASSERT_EQ(list.count(), static_cast<int32_t>(model.size()));
        for (int32_t i = 0; i < list.count(); ++i) {
            const auto &slot = model[static_cast<size_t>(i)];
            const char *name = list.names()[i], *value = list.values()[i];
            ASSERT_EQ(name != nullptr, slot.has_value()) << "slot " << i;
            ASSERT_EQ(value != nullptr, slot.has_value()) << "slot " << i;
            if (!slot) continue;
            ++pairs;
            EXPECT_EQ(name, slot->first) << "slot " << i;
            EXPECT_EQ(value, slot->second) << "slot " << i;
            EXPECT_EQ(ConvertInteger(value), ModelInteger(value)) << "value \"" << value << '"';
            const double decimal = ConvertDecimal(value);
            nonzero_decimals += decimal != 0;
            const double expected = ModelDecimal(value);
            EXPECT_EQ(std::bit_cast<uint64_t>(decimal), std::bit_cast<uint64_t>(expected))
                << "value \"" << value << "\" gave " << decimal << ", expected " << expected;
        }
    }
    EXPECT_GT(pairs, 2000);  // the generator must keep reaching the interesting paths
    EXPECT_GT(nonzero_decimals, 500);
}

}  // namespace
}  // namespace tovarine
