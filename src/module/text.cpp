// Text helpers: the prefix test and the word walk used by the header scan and the instance
// lookup, and the in-place value decoding of request parameters.
#include <cstring>

#include "module/helpers.h"

namespace tovarine::helpers {
namespace {

inline unsigned char FoldAscii(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + ('a' - 'A')) : c;
}

inline int HexDigit(unsigned char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

int HasPrefix(const char *text, const char *prefix) {
    if (text == nullptr || prefix == nullptr) return 0;
    const auto *t = reinterpret_cast<const unsigned char *>(text);
    const auto *p = reinterpret_cast<const unsigned char *>(prefix);
    for (; *p != 0; ++t, ++p) {
        // A shorter text meets its NUL here, which folds to no letter of the prefix.
        if (FoldAscii(*t) != FoldAscii(*p)) return 0;
    }
    return 1;
}

const char *NextWord(const char *text) {
    while (*text != 0 && !IsWordSeparator(*text)) ++text;
    while (*text != 0 && IsWordSeparator(*text)) ++text;
    return text;
}

size_t DecodeValue(char *value, size_t length) {
    // Most values hold nothing to decode: leave them as they are, NUL included.
    size_t in = 0;
    while (in < length && value[in] != '%' && value[in] != '+') ++in;
    size_t out = in;
    while (in < length) {
        const unsigned char c = static_cast<unsigned char>(value[in]);
        if (c == '+') {
            value[out++] = ' ';
            ++in;
        } else if (c == '%' && in + 2 < length) {
            const int hi = HexDigit(static_cast<unsigned char>(value[in + 1]));
            const int lo = HexDigit(static_cast<unsigned char>(value[in + 2]));
            const int byte = (hi < 0 || lo < 0) ? -1 : hi * 16 + lo;
            if (byte > 0) {
                value[out++] = static_cast<char>(byte);
                in += 3;
            } else {
                // Not an escape, or "%00", which would cut the value short: the "%" stays and
                // decoding goes on with the next character.
                value[out++] = '%';
                ++in;
            }
        } else {
            value[out++] = static_cast<char>(c);
            ++in;
        }
    }
    value[out] = 0;
    return out;
}

size_t DecodeValue(char *value) { return DecodeValue(value, std::strlen(value)); }

}  // namespace tovarine::helpers
