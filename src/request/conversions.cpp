// The decimal conversion and the narrowing and saturating steps the readers apply to
// parameter values; the integer conversion is the module's (module/text.cpp).
#include <charconv>
#include <cfloat>
#include <cmath>
#include <limits>

#include "request/conversions.h"

namespace tovarine {
namespace {

inline bool IsSpace(char c) { return text::IsWordSeparator(c); }

inline bool IsDigit(char c) { return c >= '0' && c <= '9'; }

inline bool IsExponentLetter(char c) { return c == 'e' || c == 'E' || c == 'd' || c == 'D'; }

// Skips the leading white space and one optional sign of a number; tells whether the sign
// was "-".
const char *SkipSpaceAndSign(const char *p, bool *negative) {
    while (IsSpace(*p)) ++p;
    *negative = *p == '-';
    if (*p == '+' || *p == '-') ++p;
    return p;
}

}  // namespace

double ConvertDecimal(char *value) {
    if (value == nullptr) return 0.0;
    bool negative = false;
    const char *p = SkipSpaceAndSign(value, &negative);

    // Validate the span of the number by the grammar; the standard parser then only converts.
    const char *const begin = p;
    const char *int_digits_end = p;
    while (IsDigit(*int_digits_end)) ++int_digits_end;
    const size_t int_digits = static_cast<size_t>(int_digits_end - begin);
    const char *end = int_digits_end;
    size_t frac_digits = 0;
    if (*end == '.') {
        const char *q = end + 1;
        while (IsDigit(*q)) ++q;
        frac_digits = static_cast<size_t>(q - end - 1);
        if (int_digits + frac_digits > 0) end = q;
    }
    if (int_digits + frac_digits == 0) return 0.0;
    const char *exponent_letter = nullptr;
    if (IsExponentLetter(*end)) {
        const char *q = end + 1;
        if (*q == '+' || *q == '-') ++q;
        if (IsDigit(*q)) {
            exponent_letter = end;
            while (IsDigit(*q)) ++q;
            end = q;
        }
    }

    double result = 0.0;
    std::from_chars_result parsed{};
    if (exponent_letter != nullptr && (*exponent_letter == 'd' || *exponent_letter == 'D')) {
        // "d" means "e": the letter is turned into "e" for the conversion and back after it, so
        // no copy of the value (and no memory for one) is needed.
        char *const letter = value + (exponent_letter - value);
        const char was = *letter;
        *letter = 'e';
        parsed = std::from_chars(begin, end, result, std::chars_format::general);
        *letter = was;
    } else {
        parsed = std::from_chars(begin, end, result, std::chars_format::general);
    }
    if (parsed.ec == std::errc::result_out_of_range) {
        // Beyond the range of a double: an infinity when the number is large, a zero when it
        // is tiny. Its first significant digit decides which: count its decimal position.
        const char *first = begin;
        int64_t position = 0;  // decimal exponent of the first significant digit, plus one
        while (first < int_digits_end && *first == '0') ++first;
        if (first < int_digits_end) {
            position = int_digits_end - first;
        } else {
            const char *f = int_digits_end + 1;
            while (f < end && *f == '0') ++f, --position;
        }
        int64_t exponent = 0;
        if (exponent_letter != nullptr) {
            const char *q = exponent_letter + 1;
            const bool exp_negative = *q == '-';
            if (*q == '+' || *q == '-') ++q;
            for (; q < end; ++q) {
                if (exponent < 100000000) exponent = exponent * 10 + (*q - '0');
            }
            if (exp_negative) exponent = -exponent;
        }
        result = position + exponent > 0 ? std::numeric_limits<double>::infinity() : 0.0;
    }
    return negative ? -result : result;
}

int32_t SaturatingMultiply(int32_t value, int32_t factor) {
    const int64_t product = int64_t{value} * factor;
    if (product > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
    if (product < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(product);
}

float NarrowToFloat(double value) {
    // Halfway between FLT_MAX and the next power of two: from here on, rounding to nearest
    // gives infinity; below it, FLT_MAX.
    constexpr double kOverflow = static_cast<double>(FLT_MAX) + 0x1p103;
    if (std::isnan(value)) return std::numeric_limits<float>::quiet_NaN();
    if (value >= kOverflow) return std::numeric_limits<float>::infinity();
    if (value <= -kOverflow) return -std::numeric_limits<float>::infinity();
    if (value > FLT_MAX) return FLT_MAX;
    if (value < -FLT_MAX) return -FLT_MAX;
    return static_cast<float>(value);
}

}  // namespace tovarine
