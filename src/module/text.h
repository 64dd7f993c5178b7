// The text operations the request code, the settings code, the POSIX registry and the
// command-line host share: ASCII case folding (the one rule by which names are compared), the
// prefix test and the word walk of the header scan, hex digits, the decoding of parameter values
// and the integer conversion. Internal; nothing here is exported.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tovarine::text {

// ASCII letter case. HTTP field names, registry key and value names and the instance keys'
// settings names are compared without regard to it; only the 26 ASCII letters have a case here,
// every other byte (those of UTF-8 and the code pages included) stands for itself.
constexpr char AsciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }

// `name` with its ASCII letters in upper case: the one spelling of all its case variants.
inline std::string AsciiUpper(std::string_view name) {
    std::string folded(name);
    for (char &c : folded) c = AsciiUpper(c);
    return folded;
}

// Whether `a` and `b` differ at most in the case of ASCII letters.
constexpr bool EqualIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
    }
    return true;
}

// The same for two NUL-ended texts, compared without measuring them first.
constexpr bool EqualIgnoringCase(const char *a, const char *b) {
    for (;; ++a, ++b) {
        if (AsciiUpper(*a) != AsciiUpper(*b)) return false;
        if (*a == 0) return true;
    }
}

// Whether `text` begins with `prefix`, ASCII letters in either case.
constexpr bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && EqualIgnoringCase(text.substr(0, prefix.size()), prefix);
}

// Nonzero when the NUL-ended `text` begins with `prefix`, ASCII letters in either case, without
// measuring `text` first. An empty prefix matches every text.
int HasPrefix(const char *text, const char *prefix);

// Word separators: space, tab, CR, LF, VT and FF.
inline bool IsWordSeparator(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

// The value of one hex digit (either case), or -1 for any other character.
inline int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The start of the next word: skips the rest of the current word, then the separators after
// it (from a separator, only the separators). Always advances unless already at the NUL, and
// returns a pointer to the terminating NUL at the end of the text.
const char *NextWord(const char *text);

// Decodes a parameter value in place in one left-to-right pass: "+" becomes a space, "%" and
// two hex digits become that byte except "%00", which stays as it is; any other "%" stays.
// Decoded bytes are never decoded again. The value only shrinks. Returns its new length.
size_t DecodeValue(char *value, size_t length);

// The same decoding of the `length` bytes at `value` into `out`, stopping once `limit` bytes are
// written; writes no NUL. Decoding is left to right and each output byte depends only on the
// bytes before the next one, so a cut result is the start of the whole one. `out` may be `value`
// (in place). Returns the number of bytes written.
size_t DecodeInto(const char *value, size_t length, char *out, size_t limit);

// Integer conversion, shared by the request readers and the integer codec: leading white space,
// an optional sign, decimal digits; no digits gives 0. Values beyond the signed 32-bit range
// saturate at its bounds.
int32_t ConvertInteger(const char *value);
// The same over the characters before `end` (or up to the NUL when `end` is null).
int32_t ConvertInteger(const char *value, const char *end);

}  // namespace tovarine::text
