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

#include "request/conversions.h"
#include "request/parameter_list.h"
#include "request_model.h"

namespace tovarine {
namespace {

using namespace model;

TEST(Differential, ListAndConversionsMatchModel) {
    static const char kAlphabet[] = "&&&===??%%  ++--..0123456789aAbBeEdDfF\t\r\n";
    static const char *const kWords[] = {"server", "a",  "b",   "%41",        "%2B",   "%00",
                                         "%25",    "e9", "d-3", "2147483648", "1e400", "e-400"};
    std::mt19937 rng(20240611);
    int pairs = 0, nonzero_decimals = 0;
    for (int n = 0; n < 4000 && !HasFailure(); ++n) {
        std::string text;
        for (const size_t length = rng() % 61; text.size() < length;) {
            if (rng() % 5 == 0)
                text += kWords[rng() % std::size(kWords)];
            else
                text += kAlphabet[rng() % (sizeof kAlphabet - 1)];
            text.resize(std::min(text.size(), length));
        }
        SCOPED_TRACE("text #" + std::to_string(n) + ": \"" + text + "\"");
        const Slots model = List(text);
        ParameterList list(text.c_str());
        ASSERT_EQ(list.count(), static_cast<int32_t>(model.size()));
        for (int32_t i = 0; i < list.count(); ++i) {
            const auto &slot = model[static_cast<size_t>(i)];
            const char *name = list.names()[i];
            char *value = list.values()[i];
            ASSERT_EQ(name != nullptr, slot.has_value()) << "slot " << i;
            ASSERT_EQ(value != nullptr, slot.has_value()) << "slot " << i;
            if (!slot) continue;
            ++pairs;
            EXPECT_EQ(name, slot->first) << "slot " << i;
            EXPECT_EQ(value, slot->second) << "slot " << i;
            EXPECT_EQ(ConvertInteger(value), Integer(value)) << "value \"" << value << '"';
            const double decimal = ConvertDecimal(value);
            nonzero_decimals += decimal != 0;
            const double expected = Decimal(value);
            EXPECT_EQ(std::bit_cast<uint64_t>(decimal), std::bit_cast<uint64_t>(expected))
                << "value \"" << value << "\" gave " << decimal << ", expected " << expected;
        }
    }
    EXPECT_GT(pairs, 2000);  // the generator must keep reaching the interesting paths
    EXPECT_GT(nonzero_decimals, 500);
}

}  // namespace
}  // namespace tovarine
