// The text encodings on any bytes, against a plain UTF-8 check written from the table of
// well-formed byte sequences, and through every round trip that holds:
//  - UTF-8 -> UTF-16 -> UTF-8 gives the text back; UTF-16 (the same bytes read as units) ->
//    UTF-8 succeeds exactly when every surrogate has its pair, and converts back to the units;
//  - code page 1252 -> UTF-8 fails exactly on the five undefined bytes, gives well-formed UTF-8
//    of one character a byte, and converts back to the bytes;
//  - UTF-8 -> code page 1252 fails on text that is not well-formed, and what it gives converts
//    back to the text;
//  - the store's two encodings agree with these conversions.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "text_encoding.h"

namespace {

namespace te = tovarine_tool;

[[noreturn]] void Fail(const char *what, int line) {
    std::fprintf(stderr, "text_encoding_fuzzer.cpp:%d: %s\n", line, what);
    std::abort();
}
#define CHECK(condition) ((condition) ? void() : Fail(#condition, __LINE__))

// Well-formed UTF-8 by the table of byte ranges: each lead byte with the range its second byte
// must fall in; later bytes 80..BF.
bool WellFormed(std::string_view s) {
    for (size_t i = 0; i < s.size();) {
        const uint8_t b = static_cast<uint8_t>(s[i]);
        size_t n = 0;
        uint8_t lo = 0x80, hi = 0xbf;
        if (b <= 0x7f) {
            ++i;
            continue;
        }
        if (b >= 0xc2 && b <= 0xdf) {
            n = 1;
        } else if (b == 0xe0) {
            n = 2, lo = 0xa0;
        } else if ((b >= 0xe1 && b <= 0xec) || b == 0xee || b == 0xef) {
            n = 2;
        } else if (b == 0xed) {
            n = 2, hi = 0x9f;
        } else if (b == 0xf0) {
            n = 3, lo = 0x90;
        } else if (b >= 0xf1 && b <= 0xf3) {
            n = 3;
        } else if (b == 0xf4) {
            n = 3, hi = 0x8f;
        } else {
            return false;
        }
        if (s.size() - i - 1 < n) return false;
        for (size_t k = 1; k <= n; ++k) {
            const uint8_t c = static_cast<uint8_t>(s[i + k]);
            if (c < (k == 1 ? lo : 0x80) || c > (k == 1 ? hi : 0xbf)) return false;
        }
        i += n + 1;
    }
    return true;
}

bool Undefined1252(uint8_t b) {
    return b == 0x81 || b == 0x8d || b == 0x8f || b == 0x90 || b == 0x9d;
}

// The number of characters of well-formed UTF-8.
size_t Characters(std::string_view s) {
    size_t n = 0;
    for (const char c : s) n += (static_cast<uint8_t>(c) & 0xc0) != 0x80;
    return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char *>(data), size);

    // UTF-8.
    const bool utf8 = te::IsUtf8(bytes);
    CHECK(utf8 == WellFormed(bytes));
    if (utf8) {
        const std::u16string units = te::Utf8ToUtf16(bytes);
        CHECK(te::Utf16ToUtf8(units) == std::string(bytes));
    }
    CHECK(te::StoreToUtf8(bytes, te::StoreEncoding::kUtf8) ==
          (utf8 ? std::optional<std::string>(bytes) : std::nullopt));
    CHECK(te::Utf8ToStore(bytes, te::StoreEncoding::kUtf8) ==
          (utf8 ? std::optional<std::string>(bytes) : std::nullopt));

    // UTF-16: the bytes as little-endian units.
    std::u16string units(size / 2, u'\0');
    for (size_t i = 0; i < units.size(); ++i)
        units[i] = static_cast<char16_t>(data[2 * i] | data[2 * i + 1] << 8);
    bool paired = true;
    for (size_t i = 0; i < units.size(); ++i) {
        const char16_t u = units[i];
        if (u >= 0xd800 && u <= 0xdbff && i + 1 < units.size() && units[i + 1] >= 0xdc00 &&
            units[i + 1] <= 0xdfff) {
            ++i;
        } else if (u >= 0xd800 && u <= 0xdfff) {
            paired = false;
        }
    }
    const std::optional<std::string> from16 = te::Utf16ToUtf8(units);
    CHECK(from16.has_value() == paired);
    if (from16) {
        CHECK(WellFormed(*from16));
        CHECK(te::Utf8ToUtf16(*from16) == units);
    }

    // Code page 1252, bytes to text.
    bool defined = true;
    for (const uint8_t b : std::basic_string_view<uint8_t>(data, size))
        defined &= !Undefined1252(b);
    const std::optional<std::string> from1252 = te::Windows1252ToUtf8(bytes);
    CHECK(from1252.has_value() == defined);
    CHECK(te::StoreToUtf8(bytes, te::StoreEncoding::kWindows1252) == from1252);
    if (from1252) {
        CHECK(WellFormed(*from1252));
        CHECK(Characters(*from1252) == size);
        CHECK(te::Utf8ToWindows1252(*from1252) == std::string(bytes));
    }

    // Code page 1252, text to bytes.
    const std::optional<std::string> to1252 = te::Utf8ToWindows1252(bytes);
    CHECK(te::Utf8ToStore(bytes, te::StoreEncoding::kWindows1252) == to1252);
    if (!utf8) CHECK(!to1252);
    if (to1252) {
        CHECK(to1252->size() == Characters(bytes));
        CHECK(te::Windows1252ToUtf8(*to1252) == std::string(bytes));
    }
    return 0;
}
