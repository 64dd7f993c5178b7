// The text operations that are not inline: the prefix test and the word walk of the header
// scan, the decoding of parameter values, and the integer conversion.
#include <cstring>
#include <limits>

#include "module/text.h"

namespace tovarine::text {

int HasPrefix(const char *text, const char *prefix) {
    if (text == nullptr || prefix == nullptr) return 0;
    const char *t = text;
    for (const char *p = prefix; *p != 0; ++t, ++p) {
        // A shorter text meets its NUL here, which folds to no letter of the prefix.
        if (AsciiUpper(*t) != AsciiUpper(*p)) return 0;
    }
    return 1;
}

const char *NextWord(const char *text) {
    while (*text != 0 && !IsWordSeparator(*text)) ++text;
    while (*text != 0 && IsWordSeparator(*text)) ++text;
    return text;
}

size_t DecodeInto(const char *value, size_t length, char *out, size_t limit) {
    // Most values hold nothing to decode: copy the run before the first "%" or "+" at once.
    size_t in = 0;
    while (in < length && in < limit && value[in] != '%' && value[in] != '+') ++in;
    if (out != value) std::memcpy(out, value, in);
    size_t written = in;
    // Each step reads value[in .. in + 2] before it writes out[written], and written <= in, so
    // decoding in place is safe.
    while (in < length && written < limit) {
        const unsigned char c = static_cast<unsigned char>(value[in]);
        if (c == '+') {
            out[written++] = ' ';
            ++in;
        } else if (c == '%' && in + 2 < length) {
            const int hi = HexDigitValue(value[in + 1]);
            const int lo = HexDigitValue(value[in + 2]);
            const int byte = (hi < 0 || lo < 0) ? -1 : hi * 16 + lo;
            if (byte > 0) {
                out[written++] = static_cast<char>(byte);
                in += 3;
            } else {
                // Not an escape, or "%00", which would cut the value short: the "%" stays and
                // decoding goes on with the next character.
                out[written++] = '%';
                ++in;
            }
        } else {
            out[written++] = static_cast<char>(c);
            ++in;
        }
    }
    return written;
}

size_t DecodeValue(char *value, size_t length) {
    const size_t decoded = DecodeInto(value, length, value, length);
    value[decoded] = 0;
    return decoded;
}

int32_t ConvertInteger(const char *value, const char *end) {
    if (value == nullptr) return 0;
    while (value != end && IsWordSeparator(*value)) ++value;
    const bool negative = value != end && *value == '-';
    if (value != end && (*value == '+' || *value == '-')) ++value;
    // Accumulate the magnitude in 64 bits, so that the minimum is reachable; stop growing once
    // it is past the range (the remaining digits are still read, not used).
    constexpr int64_t kLimit = int64_t{std::numeric_limits<int32_t>::max()} + 1;
    int64_t magnitude = 0;
    for (; value != end && *value >= '0' && *value <= '9'; ++value) {
        if (magnitude <= kLimit) magnitude = magnitude * 10 + (*value - '0');
    }
    if (magnitude >= kLimit) {
        return negative ? std::numeric_limits<int32_t>::min() : std::numeric_limits<int32_t>::max();
    }
    return static_cast<int32_t>(negative ? -magnitude : magnitude);
}

int32_t ConvertInteger(const char *value) { return ConvertInteger(value, nullptr); }

}  // namespace tovarine::text
