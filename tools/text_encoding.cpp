#include "text_encoding.h"

#include <cstdint>

namespace tovarine_tool {
namespace {

// Code page 1252's characters for bytes 0x80 to 0x9f; 0 where it defines none. The other bytes
// are the Unicode characters of the same number.
constexpr char16_t kHigh1252[32] = {0x20ac, 0,      0x201a, 0x0192, 0x201e, 0x2026, 0x2020, 0x2021,
                                    0x02c6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017d, 0,
                                    0,      0x2018, 0x2019, 0x201c, 0x201d, 0x2022, 0x2013, 0x2014,
                                    0x02dc, 0x2122, 0x0161, 0x203a, 0x0153, 0,      0x017e, 0x0178};

void AppendUtf8(std::string &out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xc0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3f));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xe0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3f));
        out += static_cast<char>(0x80 | (c & 0x3f));
    } else {
        out += static_cast<char>(0xf0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3f));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3f));
        out += static_cast<char>(0x80 | (c & 0x3f));
    }
}

// The character at text[*pos] and moves past it; nullopt (position unchanged) when the bytes
// there are not well-formed UTF-8.
std::optional<char32_t> NextUtf8(std::string_view text, size_t *pos) {
    const auto byte = [&](size_t i) { return static_cast<uint8_t>(text[i]); };
    const uint8_t lead = byte(*pos);
    if (lead < 0x80) {
        ++*pos;
        return lead;
    }
    size_t length;
    char32_t c, min;
    if ((lead & 0xe0) == 0xc0) {
        length = 2, c = lead & 0x1f, min = 0x80;
    } else if ((lead & 0xf0) == 0xe0) {
        length = 3, c = lead & 0x0f, min = 0x800;
    } else if ((lead & 0xf8) == 0xf0) {
        length = 4, c = lead & 0x07, min = 0x10000;
    } else {
        return std::nullopt;
    }
    if (text.size() - *pos < length) return std::nullopt;
    for (size_t i = 1; i < length; ++i) {
        if ((byte(*pos + i) & 0xc0) != 0x80) return std::nullopt;
        c = (c << 6) | (byte(*pos + i) & 0x3f);
    }
    if (c < min || c > 0x10ffff || (c >= 0xd800 && c <= 0xdfff)) return std::nullopt;
    *pos += length;
    return c;
}

}  // namespace

bool IsUtf8(std::string_view text) {
    for (size_t pos = 0; pos < text.size();) {
        if (!NextUtf8(text, &pos)) return false;
    }
    return true;
}

std::optional<std::string> Windows1252ToUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char byte : text) {
        const auto b = static_cast<uint8_t>(byte);
        char32_t c = b;
        if (b >= 0x80 && b < 0xa0) {
            c = kHigh1252[b - 0x80];
            if (c == 0) return std::nullopt;
        }
        AppendUtf8(out, c);
    }
    return out;
}

std::optional<std::string> Utf8ToWindows1252(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t pos = 0; pos < text.size();) {
        const std::optional<char32_t> c = NextUtf8(text, &pos);
        if (!c) return std::nullopt;
        if (*c < 0x80 || (*c >= 0xa0 && *c < 0x100)) {
            out += static_cast<char>(*c);
            continue;
        }
        size_t i = 0;
        while (i < 32 && kHigh1252[i] != *c) ++i;
        if (i == 32) return std::nullopt;
        out += static_cast<char>(0x80 + i);
    }
    return out;
}

std::optional<std::string> StoreToUtf8(std::string_view bytes, StoreEncoding encoding) {
    if (encoding == StoreEncoding::kWindows1252) return Windows1252ToUtf8(bytes);
    if (!IsUtf8(bytes)) return std::nullopt;
    return std::string(bytes);
}

std::optional<std::string> Utf8ToStore(std::string_view text, StoreEncoding encoding) {
    if (encoding == StoreEncoding::kWindows1252) return Utf8ToWindows1252(text);
    if (!IsUtf8(text)) return std::nullopt;
    return std::string(text);
}

std::u16string Utf8ToUtf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (size_t pos = 0; pos < text.size();) {
        const std::optional<char32_t> c = NextUtf8(text, &pos);
        if (!c) {
            out += u'\xfffd';  // not reached for well-formed input
            ++pos;
        } else if (*c < 0x10000) {
            out += static_cast<char16_t>(*c);
        } else {
            out += static_cast<char16_t>(0xd800 + ((*c - 0x10000) >> 10));
            out += static_cast<char16_t>(0xdc00 + ((*c - 0x10000) & 0x3ff));
        }
    }
    return out;
}

std::optional<std::string> Utf16ToUtf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xd800 && c < 0xdc00) {
            if (i + 1 == text.size() || text[i + 1] < 0xdc00 || text[i + 1] > 0xdfff) {
                return std::nullopt;
            }
            c = 0x10000 + ((c - 0xd800) << 10) + (text[++i] - 0xdc00);
        } else if (c >= 0xdc00 && c <= 0xdfff) {
            return std::nullopt;
        }
        AppendUtf8(out, c);
    }
    return out;
}

#ifdef _WIN32
std::wstring ToWide(std::string_view utf8) {
    const std::u16string units = Utf8ToUtf16(utf8);
    return std::wstring(units.begin(), units.end());
}

std::optional<std::string> FromWide(std::wstring_view wide) {
    return Utf16ToUtf8(
        std::u16string_view(reinterpret_cast<const char16_t *>(wide.data()), wide.size()));
}
#endif

}  // namespace tovarine_tool
